#pragma once

// The prompts (components/prompts.h) as Qt dialogs: a message box for
// messages, a Yes/No/Cancel question box for confirmations and the
// password dialog for passwords. Install it once the application object
// exists (TORBPromptsScope).

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
  TPromptAnswer Confirm(const std::string& text) override;
  std::optional<std::string> AskPassword() override;

 private:
  QPointer<QWidget> FParent;
};

}  // namespace orb
