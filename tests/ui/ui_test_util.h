#pragma once

// Helpers for the Qt tests: acting on a modal window from inside the loop
// that shows it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <ostream>

// Failure messages show QStrings as text.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace orb::test {

// Types `text` into `widget` one character at a time, as key events that
// carry the character (any Unicode, unlike QTest::keyClicks).
inline void TypeText(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
  }
}

// Calls `act` with the active modal window as soon as one is shown (polled
// from the event loop, for at most about ten seconds; then the test fails
// and every modal window is closed so that the test does not hang).
inline void WhenModal(std::function<void(QWidget*)> act) {
  auto tries = std::make_shared<int>(0);
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [act, tries, poll]() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
      act(modal);
      *poll = nullptr;  // breaks the cycle
      return;
    }
    if (++*tries > 1000) {
      ADD_FAILURE() << "no modal window was shown";
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isModal()) w->close();
      }
      *poll = nullptr;
      return;
    }
    QTimer::singleShot(10, *poll);
  };
  QTimer::singleShot(0, *poll);
}

}  // namespace orb::test
