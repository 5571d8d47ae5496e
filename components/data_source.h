#pragma once

// Data sources and data links: how controls and detail datasets hear about
// a dataset. A TDataSource is attached to one dataset; any number of
// TDataLink objects are attached to a source. The dataset's DataEvent goes
// to each source, which passes it on to its links as:
//   deUpdateState       ActiveChanged (open/close) and EditingChanged
//   deDataSetChange     DataSetChanged (buffers refilled)
//   deDataSetScroll     DataSetScrolled(distance)
//   deLayoutChange      LayoutChanged
//   deFieldChange       RecordChanged(field)
//   deRecordChange      RecordChanged(nullptr)
//   deUpdateRecord      UpdateData (write pending text into the fields)
//   deCheckBrowseMode   CheckBrowseMode
// A link hears nothing while its source is disabled or the dataset's
// controls are disabled. Defaults: DataSetScrolled, LayoutChanged →
// DataSetChanged → RecordChanged(nullptr).

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "components/component.h"
#include "components/db_common.h"

namespace orb {

class TDataLink;
class TDataSet;
class TField;

class TDataSource : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TDataSource& source)>;
  using TDataChangeEvent = std::function<void(TDataSource& source, TField* field)>;

  explicit TDataSource(TComponent* owner = nullptr) : TComponent(owner) {}
  ~TDataSource() override;

  TDataSet* DataSet() const { return FDataSet; }
  // Attaches to `data_set` (nullptr detaches). A dataset whose master
  // sources lead back to this source raises "Circular datalinks are not
  // allowed".
  void SetDataSet(TDataSet* data_set);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  // Let a control put the dataset into edit state (Edit()).
  bool AutoEdit() const { return FAutoEdit; }
  void SetAutoEdit(bool value) { FAutoEdit = value; }
  // The dataset's state; dsInactive without dataset or while disabled.
  TDataSetState State() const { return FState; }
  // Edit() on the dataset when AutoEdit and the state is dsBrowse.
  void Edit();
  // True when `data_set`, through its master sources, leads back here.
  bool IsLinkedTo(const TDataSet* data_set) const;

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, TField* field, int distance);
  void NotifyLinks(TDataEvent event, TField* field, int distance);
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);
  void UpdateState();
  // The dataset is going away: detach without calling back into it.
  void DataSetDestroyed();

  TDataSet* FDataSet = nullptr;
  bool FEnabled = true;
  bool FAutoEdit = true;
  TDataSetState FState = dsInactive;
  std::vector<TDataLink*> FDataLinks;
};

class TDataLink {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  virtual ~TDataLink();

  TDataSource* DataSource() const { return FDataSource; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  // The source is enabled and its dataset open.
  bool Active() const { return FActive; }
  // The dataset is in an editing state (edit, insert, set key).
  bool Editing() const { return FEditing; }
  // Records the link wants in the dataset's buffer window.
  int BufferCount() const { return FBufferCount; }
  void SetBufferCount(int value);
  int ActiveRecord() const;
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  // Puts the dataset into edit state through the source (AutoEdit); true
  // when it is editing afterwards.
  bool Edit();
  // Asks the dataset to tell every link to write pending changes.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  void DataEvent(TDataEvent event, TField* field, int distance);
  void UpdateState();

  TDataSource* FDataSource = nullptr;
  bool FActive = false;
  bool FEditing = false;
  bool FReadOnly = false;
  bool FUpdating = false;
  int FBufferCount = 1;
};

// The link of a control showing one field: finds the field by name when the
// dataset opens and reports through its events.
class TFieldDataLink : public TDataLink {
 public:
  using TNotifyEvent = std::function<void(TFieldDataLink& link)>;

  const std::string& FieldName() const { return FFieldName; }
  void SetFieldName(std::string name);
  TField* Field() const { return FField; }
  // The control changed its text since the record was shown.
  bool Modified() const { return FModified; }
  void Modify() { FModified = true; }
  // Shows the field's value again and forgets the modification.
  void Reset();
  bool CanModify() const;

  TNotifyEvent OnDataChange;    // the value to show changed
  TNotifyEvent OnEditingChange;
  TNotifyEvent OnUpdateData;    // write the control's text into Field()
  TNotifyEvent OnActiveChange;

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void UpdateData() override;

 private:
  void UpdateField();

  std::string FFieldName;
  TField* FField = nullptr;
  bool FModified = false;
};

// The link of a detail dataset to its master: the fields MasterFields names
// and the events to apply or drop the detail's range.
class TMasterDataLink : public TDataLink {
 public:
  using TNotifyEvent = std::function<void(TMasterDataLink& link)>;

  explicit TMasterDataLink(TDataSet* detail) : FDetail(detail) {}
  TDataSet* Detail() const { return FDetail; }
  const std::string& FieldNames() const { return FFieldNames; }
  void SetFieldNames(std::string names);
  // The master's fields named by FieldNames (while active).
  const std::vector<TField*>& Fields() const { return FFields; }

  TNotifyEvent OnMasterChange;   // the master record (or a key field) changed
  TNotifyEvent OnMasterDisable;  // the master closed or was detached

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* field) override;

 private:
  TDataSet* FDetail;
  std::string FFieldNames;
  std::vector<TField*> FFields;
};

// Base of links that drive a detail dataset (a query with a DataSource).
class TDetailDataLink : public TDataLink {
 public:
  virtual TDataSet* GetDetailDataSet() { return nullptr; }
};

}  // namespace orb
