#pragma once

// TORBDBEdit: a line edit that shows and edits one field of the current
// record of a data source's dataset.
//
// - It shows the field's value whenever the record or the field changes.
// - Typing (or pasting) into a browsed record puts the dataset into edit
//   state through the data source (AutoEdit), keeping what was typed; the
//   text reaches the field when the dataset asks the controls for their
//   data (Post, UpdateRecord) or when the edit loses the focus.
// - Escape shows the field's value again and forgets what was typed.
// - It is read-only when its own ReadOnly is set or the field or dataset
//   cannot be modified; empty and disabled while the dataset is closed or
//   the field is not found.
// - CharCase converts what is typed before it reaches the text (and so the
//   field); the field's size limits the length of a string field's text.
// Errors the dataset raises while the user types go to the prompts'
// message; the edit then shows the field's value again.

#include <QLineEdit>
#include <string>

#include "components/data_source.h"
#include "ui/db_control.h"

namespace orb {

class TORBDBEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TORBDBEdit(QWidget* parent = nullptr);
  ~TORBDBEdit() override;
  TORBDBEdit(const TORBDBEdit&) = delete;
  TORBDBEdit& operator=(const TORBDBEdit&) = delete;

  TDataSource* DataSource() const { return FDataLink.DataSource(); }
  void SetDataSource(TDataSource* source);
  const std::string& DataField() const { return FDataLink.FieldName(); }
  void SetDataField(std::string name);
  // The bound field while the dataset is open; nullptr otherwise.
  TField* Field() const { return FDataLink.Field(); }

  TEditCharCase CharCase() const { return FCharCase; }
  void SetCharCase(TEditCharCase value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void DataChange();
  void UpdateData();
  void UpdateState();
  void TextEdited(const QString& text);
  // Shows `text` without counting it as typed.
  void ShowText(const QString& text);

  TFieldDataLink FDataLink;
  TEditCharCase FCharCase = ecNormal;
  bool FReadOnly = false;
  bool FShowing = false;
};

}  // namespace orb
