// Main of the Qt test programs: one application object for all tests, on
// the offscreen platform unless QT_QPA_PLATFORM says otherwise (so listing
// and running the tests needs no screen).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

namespace {

QtMessageHandler previous_handler = nullptr;

// Drops the offscreen platform's note that it cannot pass size hints to a
// window manager (it has none); everything else goes through.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text == QLatin1String("This plugin does not support propagateSizeHints()")) return;
  if (previous_handler != nullptr) previous_handler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  previous_handler = qInstallMessageHandler(FilterMessages);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("orbelle-tests"));
  return RUN_ALL_TESTS();
}
