#pragma once

// Screenshots of a window for the documentation: what the widget draws,
// saved as PNG (the frame drawn by the window manager is not part of it).

#include <QString>

class QWidget;

namespace orb {

// Saves what `widget` and its children show now as a PNG file at `path`.
// False when the widget has no size or the file cannot be written.
bool SaveScreenshot(QWidget* widget, const QString& path);

// When the environment variable ORB_SCREENSHOT names a file: once `window`
// has been shown and drawn (ORB_SCREENSHOT_DELAY_MS later, default 500 ms)
// saves it there, says "screenshot: PATH" (or why it failed) on stderr and,
// when ORB_SCREENSHOT_QUIT is "1", ends the application's event loop (exit
// status 0 after a saved screenshot, 1 otherwise). Returns whether a
// screenshot was scheduled. Call it after showing the window.
bool ScheduleScreenshotFromEnvironment(QWidget* window);

}  // namespace orb
