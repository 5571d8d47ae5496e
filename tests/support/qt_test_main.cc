// Main of the Qt test programs: one application object for all tests, on
// the offscreen platform unless QT_QPA_PLATFORM says otherwise (so listing
// and running the tests needs no screen).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("orbelle-tests"));
  return RUN_ALL_TESTS();
}
