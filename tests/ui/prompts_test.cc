#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "components/prompts.h"
#include "tests/support/scripted_prompts.h"
#include "tests/ui/ui_test_util.h"
#include "ui/password_dialog.h"
#include "ui/qt_prompts.h"

namespace orb {
namespace {

QStringList ButtonTexts(QMessageBox* box) {
  QStringList texts;
  for (QAbstractButton* b : box->buttons()) texts << b->text();
  texts.sort();
  return texts;
}

QAbstractButton* ButtonNamed(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

TEST(QtPromptsTest, ConfirmAnswersTheButtonClicked) {
  struct Case {
    const char* name;
    std::function<void(QMessageBox*)> act;
    TPromptAnswer answer;
  };
  const std::vector<Case> cases = {
      {"Yes", [](QMessageBox* b) { QTest::mouseClick(ButtonNamed(b, "Yes"), Qt::LeftButton); }, TPromptAnswer::kYes},
      {"No", [](QMessageBox* b) { QTest::mouseClick(ButtonNamed(b, "No"), Qt::LeftButton); }, TPromptAnswer::kNo},
      {"Cancel", [](QMessageBox* b) { QTest::mouseClick(ButtonNamed(b, "Cancel"), Qt::LeftButton); },
       TPromptAnswer::kCancel},
      {"Escape", [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); }, TPromptAnswer::kCancel},
      {"Enter (default)", [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Return); }, TPromptAnswer::kYes},
  };
  TORBQtPrompts prompts;
  for (const Case& c : cases) {
    bool reached = false;
    test::WhenModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr) << c.name;
      reached = true;
      EXPECT_EQ(box->text(), QStringLiteral("Delete This Record?"));
      EXPECT_EQ(box->icon(), QMessageBox::Question);
      EXPECT_EQ(ButtonTexts(box), (QStringList{"Cancel", "No", "Yes"}));
      c.act(box);
    });
    EXPECT_EQ(prompts.Confirm("Delete This Record?"), c.answer) << c.name;
    EXPECT_TRUE(reached) << c.name;
  }
}

TEST(QtPromptsTest, MessageShowsTextWithOk) {
  TORBQtPrompts prompts;
  bool reached = false;
  test::WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    reached = true;
    EXPECT_EQ(box->text(), QString::fromUtf8("Tab data cannot be empty! \xC3\xA9"));
    EXPECT_EQ(ButtonTexts(box), QStringList{"OK"});
    QTest::mouseClick(ButtonNamed(box, "OK"), Qt::LeftButton);
  });
  prompts.ShowMessage("Tab data cannot be empty! \xC3\xA9");
  EXPECT_TRUE(reached);
}

TEST(QtPromptsTest, MessagesCarryTheIconOfTheirKind) {
  struct Case {
    const char* name;
    void (TORBQtPrompts::*show)(const std::string&);
    QMessageBox::Icon icon;
  };
  const Case cases[] = {
      {"plain", &TORBQtPrompts::ShowMessage, QMessageBox::NoIcon},
      {"error", &TORBQtPrompts::ShowError, QMessageBox::Critical},
      {"warning", &TORBQtPrompts::ShowWarning, QMessageBox::Warning},
      {"information", &TORBQtPrompts::ShowInformation, QMessageBox::Information},
  };
  TORBQtPrompts prompts;
  for (const Case& c : cases) {
    bool reached = false;
    test::WhenModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr) << c.name;
      reached = true;
      EXPECT_EQ(box->icon(), c.icon) << c.name;
      EXPECT_EQ(box->text(), QString::fromLatin1(c.name));
      EXPECT_EQ(ButtonTexts(box), QStringList{"OK"});
      QTest::mouseClick(ButtonNamed(box, "OK"), Qt::LeftButton);
    });
    (prompts.*c.show)(c.name);
    EXPECT_TRUE(reached) << c.name;
  }
}

TEST(QtPromptsTest, PasswordGoesThroughThePasswordDialog) {
  TORBQtPrompts prompts;
  test::WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<TORBPasswordDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    QTest::keyClicks(dialog->PasswordEdit(), "hunter2");
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  });
  EXPECT_EQ(prompts.AskPassword(), std::optional<std::string>("hunter2"));
  test::WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<TORBPasswordDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
  });
  EXPECT_EQ(prompts.AskPassword(), std::nullopt);
}

TEST(PromptsTest, SilentWhenNoneInstalledAndScopesNest) {
  // Nobody is asked: a confirmation is Cancel, a password none.
  EXPECT_EQ(Prompts().Confirm("Delete This Record?"), TPromptAnswer::kCancel);
  EXPECT_EQ(Prompts().AskPassword(), std::nullopt);

  testing::TScriptedPrompts outer;
  {
    TORBPromptsScope outer_scope(outer);
    outer.QueueConfirm(TPromptAnswer::kNo);
    EXPECT_EQ(Prompts().Confirm("first"), TPromptAnswer::kNo);
    {
      testing::TScriptedPrompts inner;
      TORBPromptsScope inner_scope(inner);
      inner.QueuePassword("pw");
      inner.QueuePassword(std::nullopt);
      EXPECT_EQ(Prompts().AskPassword(), std::optional<std::string>("pw"));
      EXPECT_EQ(Prompts().AskPassword(), std::nullopt);
      Prompts().ShowMessage("inner");
      EXPECT_EQ(inner.Asked(), (std::vector<std::string>{"password", "password", "message: inner"}));
    }
    // The outer prompts are back.
    Prompts().ShowMessage("outer");
    EXPECT_EQ(outer.Asked(), (std::vector<std::string>{"confirm: first", "message: outer"}));
  }
  EXPECT_EQ(Prompts().Confirm("again"), TPromptAnswer::kCancel);
}

}  // namespace
}  // namespace orb
