#pragma once

// TORBDBMemo: a plain-text memo that shows and edits one field (usually a
// memo field) of the current record of a data source's dataset. It
// behaves as TORBDBEdit (db_edit.h) does: shows the value on every record
// change, typing into a browsed record puts the dataset into edit state,
// the text reaches the field when the dataset asks for it or when the memo
// loses the focus, read-only when the field or dataset cannot be modified,
// empty and disabled while the dataset is closed.

#include <QPlainTextEdit>
#include <string>

#include "components/data_source.h"
#include "ui/db_control.h"

namespace orb {

class TORBDBMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TORBDBMemo(QWidget* parent = nullptr);
  ~TORBDBMemo() override;
  TORBDBMemo(const TORBDBMemo&) = delete;
  TORBDBMemo& operator=(const TORBDBMemo&) = delete;

  TDataSource* DataSource() const { return FDataLink.DataSource(); }
  void SetDataSource(TDataSource* source);
  const std::string& DataField() const { return FDataLink.FieldName(); }
  void SetDataField(std::string name);
  TField* Field() const { return FDataLink.Field(); }

  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void DataChange();
  void UpdateData();
  void UpdateState();
  void TextChanged();
  void ShowText(const QString& text);

  TFieldDataLink FDataLink;
  bool FReadOnly = false;
  bool FShowing = false;
};

}  // namespace orb
