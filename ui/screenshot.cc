#include "ui/screenshot.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace orb {

bool SaveScreenshot(QWidget* widget, const QString& path) {
  if (widget == nullptr || widget->width() <= 0 || widget->height() <= 0) return false;
  const QPixmap pixmap = widget->grab();
  return !pixmap.isNull() && pixmap.save(path, "PNG");
}

bool ScheduleScreenshotFromEnvironment(QWidget* window) {
  const QString path = qEnvironmentVariable("ORB_SCREENSHOT");
  if (path.isEmpty() || window == nullptr) return false;
  bool ok = false;
  int delay_ms = qEnvironmentVariableIntValue("ORB_SCREENSHOT_DELAY_MS", &ok);
  if (!ok || delay_ms < 0) delay_ms = 500;
  const bool quit = qEnvironmentVariable("ORB_SCREENSHOT_QUIT") == QStringLiteral("1");
  // The window is the timer's context: nothing happens once it is gone.
  QTimer::singleShot(delay_ms, window, [window, path, quit] {
    const bool saved = SaveScreenshot(window, path);
    const QByteArray name = path.toLocal8Bit();
    if (saved) {
      std::fprintf(stderr, "screenshot: %s\n", name.constData());
    } else {
      std::fprintf(stderr, "screenshot: cannot write %s\n", name.constData());
    }
    if (quit) QCoreApplication::exit(saved ? 0 : 1);
  });
  return true;
}

}  // namespace orb
