#pragma once

// TORBDataSet: the framework's dataset over one engine cursor. Every
// framework operation (buffers, navigation, bookmarks, field data,
// editing, filters, searches, BLOB streams) becomes one or a few cursor
// calls; the cursor's record statuses become EORBEngineError. While it
// holds a reason (DBFlags) it holds its database component, found by name
// through its session. The base of TORBTable; never used directly.
//
// Record buffer: the cursor's layout (see engine/cursor/cursor.h) followed
// by the calculated-field area:
// | offset   | size | meaning                                           |
// |        0 | B    | null flags and field values                       |
// |        B | 6    | bookmark (record ID)                              |
// |    B + 6 | 1    | bookmark flag                                     |
// |    B + 7 | C    | calculated fields: per field one has-value byte   |
// |          |      | then DataSize bytes, at the field's Offset()      |
// Key buffers are the record data followed by 6 bytes at KeyOffset (= B):
// | B + 0 | 1 | modified | B + 1 | 1 | exclusive | B + 2 | 4 | key field  |
// count, int32 little-endian, 0 = every field of the index.
//
// Native forms: date and time fields carry the engine's own day number
// and milliseconds; date-time fields are the int64 milliseconds of
// host_date_time.h, converted from the stored moment in integers only.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/adv_field_defs.h"
#include "components/adv_index_defs.h"
#include "components/dataset.h"
#include "engine/cursor/local_cursor.h"

namespace orb {

class TORBDatabase;
class TORBExpression;
class TORBSession;

// Reasons for holding the database (DBFlags bits).
enum TORBDBFlag : uint8_t {
  dbfOpened = 0,
  dbfPrepared = 1,
  dbfExecSQL = 2,
  dbfTable = 3,
  dbfFieldList = 4,
  dbfIndexList = 5,
  dbfProvider = 10,
  dbfRepair = 11,
};

// Answer of an OnUpdateRecord handler: only uaApplied tells the provider
// that the change was made.
enum TUpdateAction : uint8_t { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };

// The key buffers, by purpose.
enum TORBKeyIndex : uint8_t { kiLookup, kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd, kiSave };

class TORBDataSet : public TDataSet {
 public:
  explicit TORBDataSet(TComponent* owner = nullptr);
  ~TORBDataSet() override;

  std::string_view CurrentVersion() const { return "7.92 "; }
  TORBLocalCursor* Handle() const { return FHandle.get(); }

  const std::string& DatabaseName() const { return FDatabaseName; }
  // "MEMORY" (any case) also sets InMemory. REQUIRES: closed.
  void SetDatabaseName(std::string name);
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(std::string name);
  bool InMemory() const { return FInMemory; }
  void SetInMemory(bool value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value);
  // The database component while a reason is held; else nullptr.
  TORBDatabase* Database() const { return FDatabase; }
  uint32_t DBFlags() const { return FDBFlags; }
  int IndexFieldCount() const { return FIndexFieldCount; }

  // The session that finds the database: the database's, else the one
  // named SessionName, else the default session.
  TORBSession* GetDBSession() const;

  void SetActive(bool value) override;
  bool GetFieldData(const TField& field, void* buffer) override;
  void SetFieldData(TField& field, const void* buffer) override;
  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& b1, const TBookmark& b2) override;
  bool GetCurrentRecord(uint8_t* buffer) override;
  bool Locate(std::string_view key_fields, const std::vector<TORBVariant>& key_values,
              TLocateOptions options) override;
  std::vector<TORBVariant> Lookup(std::string_view key_fields, const std::vector<TORBVariant>& key_values,
                                  std::string_view result_fields) override;

  // --- For the SQL engine and record copying ---

  // The names of the session's database components.
  std::vector<std::string> GetDatabaseNameList() const;
  // Whether the cursor has an index in use (10381) or shows distinct
  // records (10326).
  bool IsIndexApplied() const;
  bool IsDistinctApplied() const;
  // Shows only `field_names`, each under its alias (empty: its own name):
  // the dataset reopens on the same cursor with fields for the projected
  // list; when that fails it reopens with every field and raises. 10320.
  void ApplyProjection(const std::vector<std::string>& field_names, const std::vector<std::string>& aliases);
  // The SQL engine's filter (owned by the caller; null removes it). 10300.
  void SetSQLFilter(TORBExpression* expression);
  // Field values of the record of the current state, by visible field
  // number (0-based) or, `direct`, physical number. BLOB fields go through
  // a BLOB stream of the field. 10315, 10316; 10500, 10503, 10504.
  void GetFieldValue(TORBVariant& value, int32_t field_no, bool direct);
  void SetFieldValue(const TORBVariant& value, int32_t field_no, bool direct);
  void CopyFieldValue(int32_t source_field_no, bool direct, int32_t dest_field_no, TORBDataSet* dest);

  // --- Provider operations ---

  // No statement runs without the query component: raises 30910.
  int PSExecuteStatement(const std::string& sql, TParams* params) override;
  std::string PSGetQuoteChar() const override { return "`"; }
  // Holds the database (provider reason) and starts its transaction.
  void PSStartTransaction() override;
  // Commits (with buffer flush) or rolls back, then lets the database go.
  void PSEndTransaction(bool commit) override;
  bool PSInTransaction() const override;
  // Closes and reopens an open dataset.
  void PSReset() override;
  // OnUpdateRecord decides; true only for uaApplied.
  bool PSUpdateRecord(TUpdateKind kind, TDataSet& delta) override;
  using TUpdateRecordEvent = std::function<void(TDataSet& delta, TUpdateKind kind, TUpdateAction& action)>;
  TUpdateRecordEvent OnUpdateRecord;

  // The field definitions with the engine's settings (required, limits,
  // defaults, auto-increment, BLOB storage): read from the table when it
  // opens and cleared when it closes; what CreateTable creates when not
  // empty.
  TORBAdvFieldDefs& AdvFieldDefs() { return FAdvFieldDefs; }
  // The index definitions with their key sizes, kept like AdvFieldDefs.
  TORBAdvIndexDefs& AdvIndexDefs() { return FAdvIndexDefs; }

 protected:
  // Closes the dataset (the database component is going away).
  virtual void Disconnect() { Close(); }
  // Adds or drops a reason for holding the database; the first opens it
  // through the session, the last releases it.
  virtual void SetDBFlag(TORBDBFlag flag, bool value);
  // Creates FHandle (the table opens its table).
  virtual void CreateHandle() = 0;
  virtual void DestroyHandle();
  // A closed database component of the default session named
  // DatabaseName, with this dataset's owner, moves to the session named
  // SessionName when that one has none of that name.
  void MoveDatabaseToNamedSession();
  // After opening (the table applies its master range).
  virtual void PrepareCursor() {}
  void SetHandle(std::unique_ptr<TORBLocalCursor> handle) { FHandle = std::move(handle); }
  // ReadOnly as the cursor found it on opening (while the dataset opens).
  void SetReadOnlyState(bool value) { FReadOnly = value; }
  // The cursor; raises `code` "Nil pointer occured" when there is none.
  TORBLocalCursor& CheckedHandle(int32_t code) const;

  uint8_t* AllocRecordBuffer() override;
  void FreeRecordBuffer(uint8_t*& buffer) override;
  TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool do_check) override;
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return FHandle != nullptr; }
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInitFieldDefs() override;
  void InternalGotoBookmark(const uint8_t* bookmark) override;
  void InternalSetToRecord(uint8_t* buffer) override;
  void InternalInitRecord(uint8_t* buffer) override;
  void InitRecord(uint8_t* buffer) override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalEdit() override;
  void InternalInsert() override;
  void InternalCancel() override;
  void InternalRefresh() override;
  void InternalAddRecord(uint8_t* buffer, bool append) override;
  void ClearCalcFields(uint8_t* buffer) override;
  int GetRecordSize() const override;
  void GetBookmarkData(const uint8_t* buffer, uint8_t* data) const override;
  void SetBookmarkData(uint8_t* buffer, const uint8_t* data) override;
  TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) const override;
  void SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) override;
  int GetRecordCount() const override;
  int GetRecNo() const override;
  void SetRecNoValue(int value) override;
  bool GetCanModify() const override;
  bool GetIsIndexField(const TField& field) const override;
  bool FindRecord(bool restart, bool go_forward) override;
  void SetFilteredValue(bool value) override;
  void SetFilterText(std::string text) override;
  void SetFilterOptions(TFilterOptions options) override;
  void SetOnFilterRecord(TFilterRecordEvent event) override;

  // Filters of the cursor: the filter text and the record-filter event.
  void ActivateFilters();
  void DeactivateFilters();
  // Rebuilds IndexFieldCount, IndexFieldMap and KeySize from the cursor's
  // index (10325 "Cannot find index %s" when it has no definition).
  void UpdateIndexInfo();
  // Resets keys and range and makes `name` the cursor's index.
  void SwitchToIndex(const std::string& name);
  const std::vector<int32_t>& IndexFieldMap() const { return FIndexFieldMap; }

  // Key buffers (while open).
  uint8_t* KeyBuffer(TORBKeyIndex index) const { return FKeyBuffers[index]; }
  // The key buffer being edited in set-key state.
  uint8_t* FKeyBuffer = nullptr;
  void InitKeyBuffer(uint8_t* buffer);
  bool KeyModified(const uint8_t* buffer) const;
  void SetKeyModified(uint8_t* buffer, bool value) const;
  bool KeyExclusiveOf(const uint8_t* buffer) const;
  void SetKeyExclusiveOf(uint8_t* buffer, bool value) const;
  int32_t KeyFieldCountOf(const uint8_t* buffer) const;
  void SetKeyFieldCountOf(uint8_t* buffer, int32_t value) const;

 private:
  // Runs `change` (a change of the filter settings); on an open, filtered
  // dataset the filters are applied again and the dataset goes to its
  // first record, with the controls held meanwhile.
  void ChangeFilter(const std::function<void()>& change);
  friend class TORBBLOBStream;

  uint8_t* CalcSlot(uint8_t* record, const TField& field) const;
  // The field object of a cursor field (visible or, `direct`, physical
  // number) when it is a BLOB field; else nullptr.
  TField* BlobFieldOf(int32_t field_no, bool direct) const;
  // The buffer the fields read and write in the current state.
  uint8_t* FieldRecordBuffer() const;
  void FreeEditRecordBuffer();
  void AllocKeyBuffers();
  void FreeKeyBuffers();
  // Closes a cursor stream that a TORBBLOBStream is done with.
  void CloseCursorStream(TORBLocalBLOBStream* stream);
  // Runs the record-filter event for the cursor.
  static bool FilterCallback(const uint8_t* record_buffer, void* owner);

  std::unique_ptr<TORBLocalCursor> FHandle;
  TORBAdvFieldDefs FAdvFieldDefs;
  TORBAdvIndexDefs FAdvIndexDefs;
  std::string FDatabaseName;
  std::string FSessionName;
  bool FInMemory = false;
  bool FReadOnly = false;
  uint32_t FDBFlags = 0;
  TORBDatabase* FDatabase = nullptr;
  TORBSession* FDatabaseSession = nullptr;
  // The record as it was when the edit began (plain memory, never handed
  // to the cursor's buffer routines).
  std::unique_ptr<uint8_t[]> FEditRecordBuffer;
  std::array<uint8_t*, 6> FKeyBuffers{};
  int FIndexFieldCount = 0;
  std::vector<int32_t> FIndexFieldMap;
  int32_t FKeySize = 0;
  bool FRefreshing = false;
  // While ApplyProjection reopens: the cursor outlives the close.
  bool FKeepHandle = false;
};

}  // namespace orb
