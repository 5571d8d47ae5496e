#include "ui/screenshot.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <string>

#include "tests/engine/platform/platform_test_util.h"
#include "ui/password_dialog.h"

namespace orb {
namespace {

using testing::ScratchDir;

// Distinct colours in `image` (counted up to `limit`).
int Colours(const QImage& image, int limit = 16) {
  QSet<QRgb> seen;
  for (int y = 0; y < image.height() && seen.size() < limit; ++y) {
    for (int x = 0; x < image.width() && seen.size() < limit; ++x) seen.insert(image.pixel(x, y));
  }
  return static_cast<int>(seen.size());
}

TEST(ScreenshotTest, SavesWhatTheWindowShowsWithText) {
  ScratchDir dir;
  TORBPasswordDialog dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const QString path = QString::fromStdString(dir.File("dialog.png"));
  ASSERT_TRUE(SaveScreenshot(&dialog, path));
  QImage image(path, "PNG");
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), dialog.size() * dialog.devicePixelRatio());
  EXPECT_GT(Colours(image), 2);

  // Text is drawn: a label with a caption differs from the same label empty
  // (fails when no font is available to the platform).
  QLabel with_text(QStringLiteral("Password:"));
  QLabel empty;
  empty.resize(with_text.sizeHint());
  with_text.resize(with_text.sizeHint());
  EXPECT_NE(with_text.grab().toImage(), empty.grab().toImage());

  EXPECT_FALSE(SaveScreenshot(nullptr, path));
  EXPECT_FALSE(SaveScreenshot(&dialog, QString::fromStdString(dir.File("missing/dir.png"))));
}

// Runs the application's event loop until the scheduled screenshot ends it
// (or a guard ends it with 99).
int RunScheduled(QWidget* window) {
  if (!ScheduleScreenshotFromEnvironment(window)) return -1;
  QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
  return QApplication::exec();
}

TEST(ScreenshotTest, ScheduledFromEnvironmentSavesAndQuits) {
  ScratchDir dir;
  TORBPasswordDialog dialog;
  dialog.show();
  const std::string ok_path = dir.File("shot.png");
  const std::string bad_path = dir.File("missing/shot.png");

  unsetenv("ORB_SCREENSHOT");
  EXPECT_FALSE(ScheduleScreenshotFromEnvironment(&dialog));

  setenv("ORB_SCREENSHOT_DELAY_MS", "0", 1);
  setenv("ORB_SCREENSHOT_QUIT", "1", 1);
  setenv("ORB_SCREENSHOT", ok_path.c_str(), 1);
  EXPECT_EQ(RunScheduled(&dialog), 0);
  EXPECT_FALSE(QImage(QString::fromStdString(ok_path), "PNG").isNull());

  setenv("ORB_SCREENSHOT", bad_path.c_str(), 1);
  EXPECT_EQ(RunScheduled(&dialog), 1);
  EXPECT_FALSE(std::filesystem::exists(bad_path));

  unsetenv("ORB_SCREENSHOT");
  unsetenv("ORB_SCREENSHOT_DELAY_MS");
  unsetenv("ORB_SCREENSHOT_QUIT");
}

}  // namespace
}  // namespace orb
