#pragma once

// Questions and messages for the user. The components and the application
// never show a dialog themselves: they call the prompts installed for the
// process, which the window layer provides (dialogs) and tests replace (a
// scripted double). Texts are UTF-8.
//
// Without installed prompts nobody is asked: messages go to stderr, a
// confirmation is answered Cancel and a password request gets no answer,
// so that code running without a window never blocks.

#include <cstdio>
#include <optional>
#include <string>

namespace orb {

enum class TPromptAnswer { kYes, kNo, kCancel };

class TORBPrompts {
 public:
  virtual ~TORBPrompts() = default;

  // A plain message (no icon) with an OK button; returns when it is
  // dismissed.
  virtual void ShowMessage(const std::string& text) = 0;
  // The same with the error, warning or information icon.
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowWarning(const std::string& text) = 0;
  virtual void ShowInformation(const std::string& text) = 0;
  // A question with the confirmation icon and the buttons Yes, No and
  // Cancel; closing the question without a button answers Cancel.
  virtual TPromptAnswer Confirm(const std::string& text) = 0;
  // Asks for a database password: the text entered, or nothing when the
  // user cancels.
  virtual std::optional<std::string> AskPassword() = 0;
};

// The prompts used when none are installed (see above).
class TORBSilentPrompts final : public TORBPrompts {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
  void ShowWarning(const std::string& text) override { std::fprintf(stderr, "warning: %s\n", text.c_str()); }
  void ShowInformation(const std::string& text) override { ShowMessage(text); }
  TPromptAnswer Confirm(const std::string&) override { return TPromptAnswer::kCancel; }
  std::optional<std::string> AskPassword() override { return std::nullopt; }
};

namespace prompts_detail {
inline TORBPrompts*& Installed() {
  static TORBPrompts* installed = nullptr;
  return installed;
}
}  // namespace prompts_detail

// The prompts in use: the installed ones, else the silent ones. Called from
// the thread that runs the window.
inline TORBPrompts& Prompts() {
  static TORBSilentPrompts silent;
  TORBPrompts* p = prompts_detail::Installed();
  return p ? *p : silent;
}

// Installs `prompts` (not owned) for as long as this object lives, then
// puts back the ones installed before. Scopes nest.
class TORBPromptsScope {
 public:
  explicit TORBPromptsScope(TORBPrompts& prompts) : FPrevious(prompts_detail::Installed()) {
    prompts_detail::Installed() = &prompts;
  }
  ~TORBPromptsScope() { prompts_detail::Installed() = FPrevious; }
  TORBPromptsScope(const TORBPromptsScope&) = delete;
  TORBPromptsScope& operator=(const TORBPromptsScope&) = delete;

 private:
  TORBPrompts* FPrevious;
};

}  // namespace orb
