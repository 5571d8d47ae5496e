#pragma once

// A test double for the prompts (components/prompts.h): the test queues
// the answers, the code under test asks, and the double records every
// question in order. A question with no queued answer fails the test (and
// is answered Cancel or nothing); answers still queued when the double
// goes away fail it too.

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "components/prompts.h"

namespace orb::testing {

class TScriptedPrompts final : public TORBPrompts {
 public:
  TScriptedPrompts() = default;
  ~TScriptedPrompts() override {
    if (!FConfirms.empty() || !FPasswords.empty()) {
      ADD_FAILURE() << "prompts: " << FConfirms.size() << " confirmation(s) and " << FPasswords.size()
                    << " password(s) queued but never asked";
    }
  }
  TScriptedPrompts(const TScriptedPrompts&) = delete;
  TScriptedPrompts& operator=(const TScriptedPrompts&) = delete;

  void QueueConfirm(TPromptAnswer answer) { FConfirms.push_back(answer); }
  // std::nullopt stands for Cancel.
  void QueuePassword(std::optional<std::string> answer) { FPasswords.push_back(std::move(answer)); }

  // What was asked, in order: "message: TEXT" (no icon), "error: TEXT",
  // "warning: TEXT", "information: TEXT", "confirm: TEXT", "password".
  const std::vector<std::string>& Asked() const { return FAsked; }
  void ClearAsked() { FAsked.clear(); }

  void ShowMessage(const std::string& text) override { FAsked.push_back("message: " + text); }
  void ShowError(const std::string& text) override { FAsked.push_back("error: " + text); }
  void ShowWarning(const std::string& text) override { FAsked.push_back("warning: " + text); }
  void ShowInformation(const std::string& text) override { FAsked.push_back("information: " + text); }

  TPromptAnswer Confirm(const std::string& text) override {
    FAsked.push_back("confirm: " + text);
    if (FConfirms.empty()) {
      ADD_FAILURE() << "prompts: unexpected confirmation \"" << text << "\"";
      return TPromptAnswer::kCancel;
    }
    TPromptAnswer a = FConfirms.front();
    FConfirms.pop_front();
    return a;
  }

  std::optional<std::string> AskPassword() override {
    FAsked.push_back("password");
    if (FPasswords.empty()) {
      ADD_FAILURE() << "prompts: unexpected password request";
      return std::nullopt;
    }
    std::optional<std::string> a = std::move(FPasswords.front());
    FPasswords.pop_front();
    return a;
  }

 private:
  std::deque<TPromptAnswer> FConfirms;
  std::deque<std::optional<std::string>> FPasswords;
  std::vector<std::string> FAsked;
};

}  // namespace orb::testing
