#include "ui/qt_prompts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "ui/password_dialog.h"

namespace orb {

namespace {

QString Title() {
  const QString name = QApplication::applicationDisplayName();
  return name.isEmpty() ? QApplication::applicationName() : name;
}

}  // namespace

void TORBQtPrompts::ShowBox(QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box(icon, Title(), QString::fromStdString(text), QMessageBox::NoButton, FParent);
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.exec();
}

void TORBQtPrompts::ShowMessage(const std::string& text) { ShowBox(QMessageBox::NoIcon, text); }
void TORBQtPrompts::ShowError(const std::string& text) { ShowBox(QMessageBox::Critical, text); }
void TORBQtPrompts::ShowWarning(const std::string& text) { ShowBox(QMessageBox::Warning, text); }
void TORBQtPrompts::ShowInformation(const std::string& text) { ShowBox(QMessageBox::Information, text); }

TPromptAnswer TORBQtPrompts::Confirm(const std::string& text) {
  // No parent: the box is centred on the screen.
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QString::fromStdString(text));
  QPushButton* yes = box.addButton(QStringLiteral("Yes"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == yes) return TPromptAnswer::kYes;
  if (box.clickedButton() == no) return TPromptAnswer::kNo;
  return TPromptAnswer::kCancel;
}

std::optional<std::string> TORBQtPrompts::AskPassword() { return TORBPasswordDialog::Ask(FParent); }

}  // namespace orb
