#pragma once

// The prompts (components/prompts.h) as Qt dialogs: a message box for
// messages (with the error, warning or information icon when asked), a
// Yes/No/Cancel question box for confirmations and the password dialog for
// passwords. Install it once the application object
// exists (TORBPromptsScope).

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "components/prompts.h"

namespace orb {

class TORBQtPrompts final : public TORBPrompts {
 public:
  // Messages take `parent` (may be null) as their parent window;
  // confirmations are centred on the screen.
  explicit TORBQtPrompts(QWidget* parent = nullptr) : FParent(parent) {}

  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  TPromptAnswer Confirm(const std::string& text) override;
  std::optional<std::string> AskPassword() override;

 private:
  // A message box with `icon` and an OK button, modal.
  void ShowBox(QMessageBox::Icon icon, const std::string& text);

  QPointer<QWidget> FParent;
};

}  // namespace orb
