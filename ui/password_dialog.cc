#include "ui/password_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>

namespace orb {

namespace {

// Masks with '*' whatever the platform style would use, and never shows the
// last character typed.
class TPasswordMaskStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    if (hint == SH_LineEdit_PasswordMaskDelay) return 0;
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
};

}  // namespace

TORBPasswordDialog::TORBPasswordDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Database authentication"));
  setModal(true);

  auto* label = new QLabel(QStringLiteral("Password:"), this);
  FEdit = new QLineEdit(this);
  FEdit->setObjectName(QStringLiteral("PasswordEdit"));
  FEdit->setEchoMode(QLineEdit::Password);
  // The style is not owned by the edit: the dialog keeps it alive.
  auto* mask_style = new TPasswordMaskStyle;
  mask_style->setParent(this);
  FEdit->setStyle(mask_style);
  label->setBuddy(FEdit);

  auto* buttons = new QDialogButtonBox(this);
  FOk = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  FCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  FOk->setObjectName(QStringLiteral("OkButton"));
  FCancel->setObjectName(QStringLiteral("CancelButton"));
  FOk->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(FEdit, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  setMinimumWidth(320);
  FEdit->setFocus();
}

std::string TORBPasswordDialog::Password() const { return FEdit->text().toStdString(); }

std::optional<std::string> TORBPasswordDialog::Ask(QWidget* parent) {
  TORBPasswordDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Password();
}

}  // namespace orb
