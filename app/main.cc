// jotbin: the record keeper. Shows the window, runs its start-up and the
// event loop until the window is done.

#include <QApplication>
#include <QTimer>

#include "app/form1.h"
#include "app/orb_jotbin_storage.h"
#include "engine/platform/file_version_embed.h"
#include "ui/qt_prompts.h"
#include "ui/screenshot.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Jotbin"));

  // The data file JBdata.ORB beside the executable, table JB.
  orb::TJotbinORBStorage storage;
  orb::TForm1 form(storage);
  orb::TORBQtPrompts prompts(&form);
  orb::TORBPromptsScope prompts_scope(prompts);

  form.show();
  orb::ScheduleScreenshotFromEnvironment(&form);
  // Start-up runs once the window is up, so that its messages have a
  // window to belong to.
  QTimer::singleShot(0, &form, [&form] { form.FormCreate(); });
  return QApplication::exec();
}
