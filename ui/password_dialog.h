#pragma once

// The password dialog: a modal window "Database authentication" with the
// label "Password:", a masked edit (every character shown as '*') that
// starts empty, and the buttons "OK" (the default button) and "Cancel".

#include <QDialog>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;

namespace orb {

class TORBPasswordDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TORBPasswordDialog(QWidget* parent = nullptr);

  // Shows the dialog modally: the text entered (UTF-8) after "OK", nothing
  // after "Cancel" or closing the window.
  static std::optional<std::string> Ask(QWidget* parent = nullptr);

  // The text in the edit (UTF-8).
  std::string Password() const;

  QLineEdit* PasswordEdit() const { return FEdit; }
  QPushButton* OkButton() const { return FOk; }
  QPushButton* CancelButton() const { return FCancel; }

 private:
  QLineEdit* FEdit;
  QPushButton* FOk;
  QPushButton* FCancel;
};

}  // namespace orb
