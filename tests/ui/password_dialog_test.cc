#include "ui/password_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "tests/ui/ui_test_util.h"

namespace orb {
namespace {

TEST(PasswordDialogTest, CaptionsAndMaskedEmptyEdit) {
  TORBPasswordDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Database authentication"));
  EXPECT_TRUE(dialog.isModal());
  const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels[0]->text(), QStringLiteral("Password:"));
  const QList<QPushButton*> buttons = dialog.findChildren<QPushButton*>();
  ASSERT_EQ(buttons.size(), 2);
  EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("OK"));
  EXPECT_EQ(dialog.CancelButton()->text(), QStringLiteral("Cancel"));
  EXPECT_TRUE(dialog.OkButton()->isDefault());

  QLineEdit* edit = dialog.PasswordEdit();
  EXPECT_TRUE(edit->text().isEmpty());
  EXPECT_EQ(edit->echoMode(), QLineEdit::Password);

  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(QApplication::focusWidget(), edit);
  QTest::keyClicks(edit, QStringLiteral("Secret 1"));
  EXPECT_EQ(edit->text(), QStringLiteral("Secret 1"));
  // Every character is shown as '*', the last one typed included.
  EXPECT_EQ(edit->displayText(), QStringLiteral("********"));
}

// What the user does in the shown dialog, and what the dialog answers.
struct AnswerCase {
  const char* name;
  QString typed;
  std::function<void(TORBPasswordDialog&)> finish;
  std::optional<std::string> answer;
};

std::vector<AnswerCase> AnswerCases() {
  return {
      {"OK", QStringLiteral("pa55 w\u00F6rd"), [](TORBPasswordDialog& d) { QTest::mouseClick(d.OkButton(), Qt::LeftButton); },
       std::string("pa55 w\xC3\xB6rd")},
      {"OK on empty edit", QString(), [](TORBPasswordDialog& d) { QTest::mouseClick(d.OkButton(), Qt::LeftButton); },
       std::string()},
      {"Enter", QStringLiteral("abc"), [](TORBPasswordDialog& d) { QTest::keyClick(d.PasswordEdit(), Qt::Key_Return); },
       std::string("abc")},
      {"Cancel", QStringLiteral("abc"), [](TORBPasswordDialog& d) { QTest::mouseClick(d.CancelButton(), Qt::LeftButton); },
       std::nullopt},
      {"Escape", QStringLiteral("abc"), [](TORBPasswordDialog& d) { QTest::keyClick(d.PasswordEdit(), Qt::Key_Escape); },
       std::nullopt},
      {"window closed", QStringLiteral("abc"), [](TORBPasswordDialog& d) { d.close(); }, std::nullopt},
  };
}

TEST(PasswordDialogTest, AskAnswersWhatTheUserDid) {
  for (const AnswerCase& c : AnswerCases()) {
    bool reached = false;
    // Ask runs its own modal loop: the dialog is driven from inside it.
    test::WhenModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<TORBPasswordDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      reached = true;
      EXPECT_TRUE(dialog->PasswordEdit()->text().isEmpty()) << c.name;
      test::TypeText(dialog->PasswordEdit(), c.typed);
      c.finish(*dialog);
    });
    const std::optional<std::string> answer = TORBPasswordDialog::Ask();
    EXPECT_TRUE(reached) << c.name;
    EXPECT_EQ(answer, c.answer) << c.name;
  }
}

}  // namespace
}  // namespace orb
