#include "ui/db_edit.h"

#include <QKeyEvent>

#include "components/dataset.h"
#include "components/field.h"

namespace orb {

TORBDBEdit::TORBDBEdit(QWidget* parent) : QLineEdit(parent) {
  FDataLink.OnDataChange = [this](TFieldDataLink&) { DataChange(); };
  FDataLink.OnEditingChange = [this](TFieldDataLink&) { UpdateState(); };
  FDataLink.OnActiveChange = [this](TFieldDataLink&) { DataChange(); };
  FDataLink.OnUpdateData = [this](TFieldDataLink&) { UpdateData(); };
  connect(this, &QLineEdit::textEdited, this, &TORBDBEdit::TextEdited);
  UpdateState();
}

TORBDBEdit::~TORBDBEdit() {
  // The link is going away with the control: no more calls into it.
  FDataLink.OnDataChange = nullptr;
  FDataLink.OnEditingChange = nullptr;
  FDataLink.OnActiveChange = nullptr;
  FDataLink.OnUpdateData = nullptr;
}

void TORBDBEdit::SetDataSource(TDataSource* source) {
  FDataLink.SetDataSource(source);
  DataChange();
}

void TORBDBEdit::SetDataField(std::string name) {
  FDataLink.SetFieldName(std::move(name));
  DataChange();
}

void TORBDBEdit::SetCharCase(TEditCharCase value) {
  FCharCase = value;
  delete validator();
  setValidator(value == ecNormal ? nullptr : new TCharCaseValidator(value, this));
  DataChange();
}

void TORBDBEdit::SetReadOnly(bool value) {
  FReadOnly = value;
  UpdateState();
}

void TORBDBEdit::ShowText(const QString& text) {
  FShowing = true;
  setText(text);
  FShowing = false;
}

void TORBDBEdit::DataChange() {
  TField* field = Field();
  setMaxLength(field != nullptr && field->DataType() == ftString && field->Size() > 0 ? field->Size() : 32767);
  ShowText(FieldText(field));
  UpdateState();
}

void TORBDBEdit::UpdateState() {
  setEnabled(Field() != nullptr);
  QLineEdit::setReadOnly(FReadOnly || !FDataLink.CanModify());
}

void TORBDBEdit::TextEdited(const QString& text) {
  if (FShowing || Field() == nullptr) return;
  if (!FDataLink.Editing()) {
    // Entering edit state shows the record again; the typed text is put
    // back afterwards.
    const int cursor = cursorPosition();
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
    ShowText(text);
    setCursorPosition(cursor);
  }
  FDataLink.Modify();
}

void TORBDBEdit::UpdateData() {
  if (TField* field = Field()) SetFieldText(*field, text());
}

void TORBDBEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && FDataLink.Modified()) {
    FDataLink.Reset();
    selectAll();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TORBDBEdit::focusOutEvent(QFocusEvent* event) {
  if (FDataLink.Modified() && FDataLink.Editing()) {
    try {
      FDataLink.UpdateRecord();
    } catch (...) {
      ReportControlError(std::current_exception());
    }
  }
  QLineEdit::focusOutEvent(event);
}

}  // namespace orb
