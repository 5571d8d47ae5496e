#pragma once

// TDataSet: the framework's generic dataset, the base of every dataset
// component. A concrete dataset stores records; this class keeps the window
// of records the controls see, the state machine, the fields and the
// notifications.
//
// Buffers. The dataset owns a ring of BufferCount() + 1 record buffers,
// obtained from the subclass's AllocRecordBuffer and returned through
// FreeRecordBuffer on close. Buffers 0 … RecordCountInBuffers() − 1 hold
// consecutive records in the dataset's order; ActiveRecord() indexes the
// one the fields show; the extra buffer is scratch for fetching. The
// subclass fills a buffer in GetRecord(buffer, gmCurrent/gmNext/gmPrior)
// relative to its own cursor, and stores a bookmark and a bookmark flag in
// it (Get/SetBookmarkData, Get/SetBookmarkFlag); the framework moves its
// cursor back to a buffer's record with InternalSetToRecord (or
// InternalFirst / InternalLast for the BOF and EOF flags) whenever the
// cursor and the active buffer have drifted apart (UpdateCursorPos).
// BufferCount is the largest BufferCount of the attached data links (at
// least 1); a subclass may raise it with SetBufferCount.
//
// States. Open moves dsInactive → dsBrowse (InternalOpen, then the buffers
// are filled). Edit: dsBrowse → dsEdit (InternalEdit); Insert/Append:
// dsBrowse → dsInsert (a fresh buffer from InitRecord, InternalInsert);
// Post (InternalPost) and Cancel (InternalCancel) return to dsBrowse and
// re-read the window; Delete (InternalDelete) stays in dsBrowse. Moving
// (First, Next, MoveBy, …) and most operations begin with CheckBrowseMode,
// which posts a modified record (or cancels an unmodified one). Post on a
// browsed record does nothing. Close drops a pending change without
// telling the storage (a subclass that must release something overrides
// SetActive and cancels first), then calls InternalClose. The temporary
// states dsCalcFields and dsFilter are entered around OnCalcFields and
// OnFilterRecord, and the generic Locate, Lookup and Find* read candidate
// records in dsFilter: GetFieldData must then read CalcBuffer() or
// FilterBuffer() instead of the active buffer (ActiveBuffer()); the
// helper StateRecordBuffer() picks the right one for the common states.
// A failed operation leaves the state as it was.
//
// Lifetime. Every subclass calls Destroying() in its destructor, so the
// dataset is closed while the subclass can still free its buffers.
//
// Notifications. Every change reaches the attached TDataSource objects
// through DataEvent; each source passes it to its TDataLink objects, which
// turn it into ActiveChanged, EditingChanged, DataSetChanged,
// DataSetScrolled, RecordChanged(field), UpdateData and CheckBrowseMode.
// DisableControls suspends them (nested); EnableControls sends one
// data-set change when the count returns to 0.
//
// Errors are EDatabaseError with the messages of db_common.h; handlers of
// OnPostError, OnDeleteError and OnEditError may answer daRetry or daAbort
// (EAbort, the silent exception).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/component.h"
#include "components/db_common.h"
#include "components/field.h"
#include "components/field_defs.h"
#include "engine/base/stream.h"
#include "engine/base/variant.h"

namespace orb {

class TDataSource;
class TParams;

// Kind of change a provider applies (PSUpdateRecord).
enum TUpdateKind : uint8_t { ukModify, ukInsert, ukDelete };

class TDataSet : public TComponent {
 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet& data_set)>;
  using TDataSetErrorEvent = std::function<void(TDataSet& data_set, EDatabaseError& error, TDataAction& action)>;
  using TFilterRecordEvent = std::function<void(TDataSet& data_set, bool& accept)>;

  explicit TDataSet(TComponent* owner = nullptr);
  // Detaches the data sources. Virtual calls no longer reach the subclass
  // here, so every subclass calls Destroying() in its own destructor: that
  // closes the dataset (InternalClose, buffers freed) without events.
  ~TDataSet() override;
  void Destroying() override;

  // Opening and closing.
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return FState != dsInactive; }
  virtual void SetActive(bool value);
  TDataSetState State() const { return FState; }

  // Navigation. First and Last land on the first or last record and set
  // BOF or EOF; Next and Prior move one record (MoveBy(±1)); MoveBy answers
  // how far it got.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int distance);
  bool Bof() const { return FBOF; }
  bool Eof() const { return FEOF; }
  bool IsEmpty() const { return FActiveRecord >= FRecordCount; }
  // Re-reads the window around the active record.
  void Refresh();

  // Editing.
  void Edit();
  void Insert();
  void Append();
  // Post stores the record being edited or inserted and returns to browse
  // state; on a browsed record there is nothing to post and nothing
  // happens. In set-key state it only asks the controls for their text (a
  // subclass commits the key). Cancel drops the pending change; it calls
  // InternalCancel for an insert as well as for an edit, so the storage can
  // let go of what a new record holds.
  virtual void Post();
  virtual void Cancel();
  void Delete();
  // A whole record in one step: a new record with `values` for the first
  // fields in order (a null value leaves a field null), stored through
  // InternalAddRecord before the active record or after the last.
  void InsertRecord(const std::vector<TORBVariant>& values) { AddRecord(values, false); }
  void AppendRecord(const std::vector<TORBVariant>& values) { AddRecord(values, true); }
  // Assigns `values` to the first fields in order. REQUIRES: a write state.
  void SetFields(const std::vector<TORBVariant>& values);
  // Controls write their pending text into the fields (deUpdateRecord).
  // REQUIRES: an editing state ("Dataset not in edit or insert mode").
  void UpdateRecord();
  // In an editing state, posts when modified and cancels otherwise;
  // requires an open dataset.
  void CheckBrowseMode();
  bool Modified() const { return FModified; }
  virtual bool CanModify() const { return GetCanModify(); }

  // Records and positions.
  int RecordCount() const { return GetRecordCount(); }
  int RecNo() const { return GetRecNo(); }
  void SetRecNo(int value) { SetRecNoValue(value); }
  TBookmark Bookmark() const;
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  bool BookmarkAvailable() const;
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& /*bookmark*/) { return false; }
  // Order of two bookmarks: -1, 0 or 1.
  virtual int CompareBookmarks(const TBookmark& /*b1*/, const TBookmark& /*b2*/) { return 0; }

  // Searching. Find*: the next record in the direction that the filter
  // (OnFilterRecord) accepts, whether or not Filtered is set; Found()
  // tells whether the last one succeeded.
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return FFound; }
  // Moves to the first record whose fields `key_fields` ("a;b") equal
  // `key_values`; loCaseInsensitive and loPartialKey apply to strings.
  // Answers false and stays put when none does.
  virtual bool Locate(std::string_view key_fields, const std::vector<TORBVariant>& key_values,
                      TLocateOptions options);
  // The values of `result_fields` of the first record matching as Locate
  // without options, without moving; empty when none matches.
  virtual std::vector<TORBVariant> Lookup(std::string_view key_fields, const std::vector<TORBVariant>& key_values,
                                          std::string_view result_fields);

  // Filtering. The framework runs OnFilterRecord (DoFilterRecord); the
  // Filter text and FilterOptions are kept for the subclass to apply.
  // Changing any of them on an open dataset moves to the first record when
  // filtering (and refreshes when filtering ends).
  bool Filtered() const { return FFiltered; }
  void SetFiltered(bool value) { SetFilteredValue(value); }
  const std::string& Filter() const { return FFilterText; }
  void SetFilter(std::string text) { SetFilterText(std::move(text)); }
  TFilterOptions FilterOptions() const { return FFilterOptions; }
  void SetFilterOptionsValue(TFilterOptions options) { SetFilterOptions(options); }
  const TFilterRecordEvent& OnFilterRecord() const { return FOnFilterRecord; }
  void SetOnFilterRecordEvent(TFilterRecordEvent event) { SetOnFilterRecord(std::move(event)); }

  // Fields and definitions.
  TFields& Fields() { return FFields; }
  const TFields& Fields() const { return FFields; }
  int FieldCount() const { return FFields.Count(); }
  TField* FindField(std::string_view name) const { return FFields.FindField(name); }
  TField& FieldByName(std::string_view name) const { return FFields.FieldByName(name); }
  TFieldDefs& FieldDefs() { return FFieldDefs; }
  // Rebuilds FieldDefs from the storage (InternalInitFieldDefs) and marks
  // them up to date; a dataset that can read them while closed overrides it.
  virtual void InitFieldDefs();
  bool DefaultFields() const { return FDefaultFields; }
  bool AutoCalcFields() const { return FAutoCalcFields; }
  void SetAutoCalcFields(bool value) { FAutoCalcFields = value; }
  // BLOB access for `field` of the record of the current state; nullptr
  // when the dataset offers none.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField& /*field*/, TBlobStreamMode /*mode*/) { return nullptr; }
  // Closes what the dataset keeps open for `field`'s BLOB streams (a BLOB
  // stream calls it when it ends).
  virtual void CloseBlob(TField& /*field*/) {}
  // Reads the storage's current record into `buffer`; false when there is
  // none.
  virtual bool GetCurrentRecord(uint8_t* /*buffer*/) { return false; }

  // Field data of the record of the current state (see field.h for the
  // native forms). GetFieldData answers whether the field has a value and
  // copies it when `buffer` is not null; SetFieldData(field, nullptr)
  // stores null.
  virtual bool GetFieldData(const TField& field, void* buffer) = 0;
  virtual void SetFieldData(TField& field, const void* buffer) = 0;

  // Provider operations (statements and transactions on behalf of a
  // provider). The defaults do nothing and claim no SQL support.
  virtual int PSExecuteStatement(const std::string& /*sql*/, TParams* /*params*/) { return 0; }
  virtual std::string PSGetQuoteChar() const { return "\""; }
  virtual void PSStartTransaction() {}
  virtual void PSEndTransaction(bool /*commit*/) {}
  virtual bool PSInTransaction() const { return false; }
  virtual bool PSIsSQLBased() const { return false; }
  virtual bool PSIsSQLSupported() const { return false; }
  virtual void PSReset() {}
  // True when the update was applied here.
  virtual bool PSUpdateRecord(TUpdateKind /*kind*/, TDataSet& /*delta*/) { return false; }

  // Controls.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return FDisableCount != 0; }
  // Notifies the data sources (see above). `field` for deFieldChange and
  // deRecordChange, `distance` for deDataSetScroll.
  void DataEvent(TDataEvent event, TField* field = nullptr, int distance = 0);
  // The master source of a detail dataset; nullptr for none.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  // True when `data_source`, through its dataset and that dataset's
  // master sources, leads back to this dataset.
  bool IsLinkedTo(const TDataSource* data_source) const;

  // The window, for data links and subclasses.
  int ActiveRecord() const { return FActiveRecord; }
  int BufferCount() const { return FBufferCount; }
  int RecordCountInBuffers() const { return FRecordCount; }
  uint8_t* ActiveBuffer() const;
  uint8_t* Buffer(int index) const { return FBuffers.at(index); }

  // Events.
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnPostError, OnDeleteError, OnEditError;

 protected:
  // Storage: what a concrete dataset provides.
  virtual uint8_t* AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(uint8_t*& buffer) = 0;
  // Fills `buffer` with the current, next or prior record, moving the
  // cursor; grError (and, with `do_check`, an exception) on failure. On
  // grOK the subclass stores the bookmark, flag bfCurrent, and calls
  // GetCalcFields(buffer).
  virtual TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool do_check) = 0;
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  // Before the first record / after the last.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalHandleException(std::exception_ptr error);
  virtual void InternalGotoBookmark(const uint8_t* bookmark) = 0;
  virtual void InternalSetToRecord(uint8_t* buffer) = 0;
  virtual void InternalInitRecord(uint8_t* buffer) = 0;
  virtual void InternalPost();  // checks required fields
  virtual void InternalDelete() = 0;
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalRefresh() {}
  // Stores the new record in `buffer` (InsertRecord, AppendRecord); the
  // state is dsInsert.
  virtual void InternalAddRecord(uint8_t* buffer, bool append) = 0;
  virtual void InitRecord(uint8_t* buffer);
  virtual void ClearCalcFields(uint8_t* /*buffer*/) {}
  virtual int GetRecordSize() const { return 0; }
  virtual void GetBookmarkData(const uint8_t* /*buffer*/, uint8_t* /*data*/) const {}
  virtual void SetBookmarkData(uint8_t* /*buffer*/, const uint8_t* /*data*/) {}
  virtual TBookmarkFlag GetBookmarkFlag(const uint8_t* /*buffer*/) const { return bfCurrent; }
  virtual void SetBookmarkFlag(uint8_t* /*buffer*/, TBookmarkFlag /*flag*/) {}
  virtual int GetRecordCount() const { return -1; }
  virtual int GetRecNo() const { return -1; }
  virtual void SetRecNoValue(int /*value*/) {}
  virtual bool GetCanModify() const { return true; }
  // The field is one of the active index's fields.
  virtual bool GetIsIndexField(const TField& /*field*/) const { return false; }
  virtual bool FindRecord(bool restart, bool go_forward);
  virtual void SetFilteredValue(bool value);
  virtual void SetFilterText(std::string text);
  virtual void SetFilterOptions(TFilterOptions options);
  virtual void SetOnFilterRecord(TFilterRecordEvent event);
  // Before and after the framework's part of opening and closing.
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  virtual void DoOnNewRecord();
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();

  // Helpers for subclasses.
  int BookmarkSize() const { return FBookmarkSize; }
  void SetBookmarkSize(int size) { FBookmarkSize = size; }
  int CalcFieldsSize() const { return FCalcFieldsSize; }
  uint8_t* CalcBuffer() const { return FCalcBuffer; }
  uint8_t* FilterBuffer() const { return FFilterBuffer; }
  // The buffer the fields read in the current state: the active buffer in
  // browse (nullptr when empty), edit and insert; CalcBuffer() and
  // FilterBuffer() in those states; nullptr otherwise.
  uint8_t* StateRecordBuffer() const;
  // Enters a temporary state (dsCalcFields, dsFilter, …); RestoreState
  // returns to the one answered.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  void SetState(TDataSetState state);
  void SetModified(bool value) { FModified = value; }
  // Computes calculated and lookup fields into `buffer` (state
  // dsCalcFields).
  void GetCalcFields(uint8_t* buffer);
  // Runs OnFilterRecord for `buffer` (state dsFilter); true when there is
  // no handler. An exception from the handler goes to
  // InternalHandleException and the answer stays as the handler left it.
  bool DoFilterRecord(uint8_t* buffer);
  // Default fields from FieldDefs (for a dataset without persistent ones),
  // binding to definitions, and destroying default fields.
  void CreateFields();
  void BindFields(bool binding);
  void DestroyFields();
  // The cursor moved away from the buffers / move it back to the active one.
  void CursorPosChanged() { FCurrentRecord = -1; }
  void UpdateCursorPos();
  // Re-reads the window around the cursor's record (rmExact: it must still
  // exist; rmCenter: centre it).
  void Resync(TResyncMode mode);
  void CheckActive() const;
  void CheckInactive() const;
  void SetBufferCount(int value);
  // Asks the data links for their buffer count again.
  void UpdateBufferCount();
  void SetFound(bool value) { FFound = value; }
  // The buffer GetFieldData reads in dsFilter state.
  void SetFilterBuffer(uint8_t* buffer) { FFilterBuffer = buffer; }

 private:
  friend class TDataSource;
  friend class TDataLink;
  friend class TField;

  // `field`'s value read in temporary state `state`.
  TORBVariant ValueInState(const TField& field, TDataSetState state);

  void AddDataSource(TDataSource* data_source);
  void RemoveDataSource(TDataSource* data_source);
  void SetBufListSize(int value);
  void ClearBuffers();
  void ActivateBuffers();
  void MoveBuffer(int cur_index, int new_index);
  void SetCurrentRecord(int index);
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void BeginInsertAppend();
  void EndInsertAppend();
  void CheckCanModify() const;
  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& error_event);
  void AddRecord(const std::vector<TORBVariant>& values, bool append);
  void DoInternalOpen();
  void OpenCursorComplete();
  void CalculateLookup(TField& field);
  // A scan from the cursor through the records with the scratch buffer in
  // filter state; stops where `match` answers true (the cursor stays
  // there) and answers whether it did.
  bool ScanRecords(bool restart, bool go_forward, const std::function<bool()>& match);
  std::vector<TField*> FieldsByNames(std::string_view names) const;
  bool MatchesKey(const std::vector<TField*>& fields, const std::vector<TORBVariant>& values,
                  TLocateOptions options) const;
  static void Fire(const TDataSetNotifyEvent& event, TDataSet& data_set);

  TDataSetState FState = dsInactive;
  bool FModified = false;
  bool FBOF = true;
  bool FEOF = true;
  bool FFound = false;
  bool FDefaultFields = false;
  bool FInternalOpenComplete = false;
  bool FAutoCalcFields = true;
  bool FFiltered = false;
  TFilterOptions FFilterOptions = 0;
  std::string FFilterText;
  TFilterRecordEvent FOnFilterRecord;
  std::vector<uint8_t*> FBuffers;
  int FBufferCount = 0;
  int FRecordCount = 0;
  int FActiveRecord = 0;
  int FCurrentRecord = -1;
  int FBookmarkSize = 0;
  int FCalcFieldsSize = 0;
  uint8_t* FCalcBuffer = nullptr;
  uint8_t* FFilterBuffer = nullptr;
  int FDisableCount = 0;
  TDataSetState FDisableState = dsInactive;
  TDataEvent FEnableEvent = deDataSetChange;
  TFields FFields;
  TFieldDefs FFieldDefs;
  std::vector<TDataSource*> FDataSources;
};

}  // namespace orb
