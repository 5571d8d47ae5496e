#include "ui/db_memo.h"

#include <QKeyEvent>
#include <QTextCursor>

#include "components/dataset.h"
#include "components/field.h"

namespace orb {

TORBDBMemo::TORBDBMemo(QWidget* parent) : QPlainTextEdit(parent) {
  FDataLink.OnDataChange = [this](TFieldDataLink&) { DataChange(); };
  FDataLink.OnEditingChange = [this](TFieldDataLink&) { UpdateState(); };
  FDataLink.OnActiveChange = [this](TFieldDataLink&) { DataChange(); };
  FDataLink.OnUpdateData = [this](TFieldDataLink&) { UpdateData(); };
  connect(this, &QPlainTextEdit::textChanged, this, &TORBDBMemo::TextChanged);
  UpdateState();
}

TORBDBMemo::~TORBDBMemo() {
  FDataLink.OnDataChange = nullptr;
  FDataLink.OnEditingChange = nullptr;
  FDataLink.OnActiveChange = nullptr;
  FDataLink.OnUpdateData = nullptr;
}

void TORBDBMemo::SetDataSource(TDataSource* source) {
  FDataLink.SetDataSource(source);
  DataChange();
}

void TORBDBMemo::SetDataField(std::string name) {
  FDataLink.SetFieldName(std::move(name));
  DataChange();
}

void TORBDBMemo::SetReadOnly(bool value) {
  FReadOnly = value;
  UpdateState();
}

void TORBDBMemo::ShowText(const QString& text) {
  FShowing = true;
  setPlainText(text);
  FShowing = false;
}

void TORBDBMemo::DataChange() {
  ShowText(FieldText(Field()));
  UpdateState();
}

void TORBDBMemo::UpdateState() {
  setEnabled(Field() != nullptr);
  QPlainTextEdit::setReadOnly(FReadOnly || !FDataLink.CanModify());
}

void TORBDBMemo::TextChanged() {
  if (FShowing || Field() == nullptr) return;
  if (!FDataLink.Editing()) {
    // Entering edit state shows the record again; the typed text is put
    // back afterwards, with the cursor where it was.
    const QString typed = toPlainText();
    const int cursor = textCursor().position();
    bool editing = false;
    try {
      editing = FDataLink.Edit();
    } catch (...) {
      ReportControlError(std::current_exception());
    }
    if (!editing) {
      FDataLink.Reset();
      return;
    }
    ShowText(typed);
    QTextCursor c = textCursor();
    c.setPosition(std::min(cursor, static_cast<int>(typed.size())));
    setTextCursor(c);
  }
  FDataLink.Modify();
}

void TORBDBMemo::UpdateData() {
  if (TField* field = Field()) SetFieldText(*field, toPlainText());
}

void TORBDBMemo::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && FDataLink.Modified()) {
    FDataLink.Reset();
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void TORBDBMemo::focusOutEvent(QFocusEvent* event) {
  if (FDataLink.Modified() && FDataLink.Editing()) {
    try {
      FDataLink.UpdateRecord();
    } catch (...) {
      ReportControlError(std::current_exception());
    }
  }
  QPlainTextEdit::focusOutEvent(event);
}

}  // namespace orb
