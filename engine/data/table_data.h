#pragma once

// The table-data contract every storage engine derives from: one shared
// object per open table, owning the table's field, record, index and
// constraint managers, doing the record navigation, counting, visibility
// and record changes for all cursors on the table.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/compression.h"
#include "engine/base/constraint_defs.h"
#include "engine/base/error_codes.h"
#include "engine/base/field_defs.h"
#include "engine/base/field_manager.h"
#include "engine/base/index_defs.h"
#include "engine/base/page_item_id.h"
#include "engine/base/stream.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/navigation_info.h"

namespace orb {

class TORBBaseConstraintManager;
class TORBBaseIndexManager;
class TORBBaseRecordManager;
class TORBDatabaseData;
class TORBExpression;
class TORBIndex;
class TORBIndexPosition;
class TORBPageManager;
class TORBRecordBitmap;
class TORBScanCondition;
struct TORBIndexPositionCache;

// Error codes of the table data.
inline constexpr int32_t kErrNoRecordManager = 10015;
inline constexpr int32_t kErrNoRecordBuffer = 10016;
inline constexpr int32_t kErrNoFieldsSpecified = 10131;
inline constexpr int32_t kErrRenameOpenTable = 10150;
inline constexpr int32_t kErrIndexIDNotFound = 10324;
inline constexpr int32_t kErrNoIndexManager = 10380;
inline constexpr int32_t kErrDeleteOpenTable = 20017;
inline constexpr int32_t kErrRenameFieldNotFound = 30343;
inline constexpr int32_t kErrRenameFieldExists = 30344;
inline constexpr int32_t kErrUnsupportedConstraint = 30058;
inline constexpr int32_t kErrLocateNoExpression = 10272;

class TORBTableData {
 public:
  // The managers are created by the engine's constructor.
  TORBTableData(TORBDatabaseData* database_data, std::u16string table_name);
  // Frees the field, index, constraint and record managers in that order.
  virtual ~TORBTableData();
  TORBTableData(const TORBTableData&) = delete;
  TORBTableData& operator=(const TORBTableData&) = delete;

  // The database data's critical section (re-entrant).
  void Lock();
  void Unlock();

  TORBDatabaseData* DatabaseData() const { return FDatabaseData; }
  const std::u16string& TableName() const { return FTableName; }
  TORBPageManager* PageManager() const { return FPageManager; }
  TORBBaseFieldManager* FieldManager() const { return FFieldManager.get(); }
  TORBBaseRecordManager* RecordManager() const { return FRecordManager.get(); }
  TORBBaseIndexManager* IndexManager() const { return FIndexManager.get(); }
  TORBBaseConstraintManager* ConstraintManager() const { return FConstraintManager.get(); }
  const std::vector<TORBCursorInterface*>& CursorList() const { return FCursorList; }

  // --- Virtual operations ---

  // The engine creates FRecordManager for the current field layout.
  virtual void CreateRecordManager() = 0;
  // New object IDs, a copy of the definitions, offsets recomputed and the
  // auto-increment values reset.
  virtual void CreateFieldManager(const TORBFieldDefs& field_defs);
  // New object IDs, then the index manager copies the definitions.
  virtual void CreateIndexManager(const TORBIndexDefs& index_defs);
  // New object IDs; a type other than primary key, unique, not null or
  // check raises 30058; the table's name; object IDs linked; automatic
  // names.
  virtual void CreateConstraintManager(const TORBConstraintDefs& constraint_defs);
  // Tells the cursor its record buffer size and the offset of the first
  // field.
  virtual void InitCursor(TORBCursorInterface* cursor);
  // Outside a transaction: commit or discard the session's page changes.
  virtual void ApplyChanges(int32_t session_id, bool in_transaction);
  virtual void CancelChanges(int32_t session_id, bool in_transaction);
  virtual void CreateTable(TORBCursorInterface* cursor, const TORBFieldDefs& field_defs,
                           const TORBIndexDefs& index_defs, const TORBConstraintDefs& constraint_defs) = 0;
  // Outside design mode, open cursors raise 20017; the engine then removes
  // the storage.
  virtual void DeleteTable(TORBCursorInterface* cursor, bool design_mode);
  // Resets the auto-increment values and empties every index; the engine
  // empties the records.
  virtual void EmptyTable(TORBCursorInterface* cursor);
  // Open cursors raise 10150.
  virtual void RenameTable(const std::u16string& new_table_name, TORBCursorInterface* cursor);
  virtual void OpenTable(TORBCursorInterface* cursor);
  virtual void CloseTable(TORBCursorInterface* cursor);
  // Unknown field 30343, existing new name 30344; index columns naming the
  // field in any letter case follow.
  virtual void RenameField(const std::u16string& field_name, const std::u16string& new_field_name);
  // Creates the index, and the unique or primary-key constraint it implies
  // (not for temporary indexes or cursors); returns its object ID.
  virtual int32_t AddIndex(const TORBIndexDef& index_def, TORBCursorInterface* cursor);
  virtual void DeleteIndex(int32_t index_id, TORBCursorInterface* cursor);
  // Dense record numbers of record-number bitmaps.
  virtual int64_t GetBitmapRecordCount(int32_t session_id) = 0;
  virtual int64_t GetBitmapRecNoByRecordID(const TORBPageItemID& record_id) = 0;
  virtual TORBPageItemID GetRecordIDByBitmapRecNo(int64_t bit_no) = 0;
  virtual void ClearBlobsCacheInRecordBuffer(uint8_t* /*record_buffer*/) {}
  // Drops every BLOB value cached in the buffer, posted or not (a cancel).
  virtual void ClearModifiedBLOBFieldsInRecordBuffer(uint8_t* /*record_buffer*/) {}
  virtual TORBGetRecordResult GetRecordBuffer(TORBCursorInterface* cursor, TORBGetRecordMode mode);
  // Moves to the first record for which `search_expression` holds; false
  // (position kept) when none does.
  virtual bool Locate(TORBCursorInterface* cursor, TORBExpression* search_expression);
  // Moves to the first record whose key satisfies `condition` on its index
  // (the cursor's index when the condition names none; neither raises
  // 20258); false (position kept) when none does. The record is read by
  // the caller.
  virtual bool FindKey(TORBCursorInterface* cursor, const TORBScanCondition& condition);
  // BLOB values of a record buffer (the engine's BLOB store).
  virtual void WriteBLOBFieldToRecordBuffer(int32_t session_id, int32_t field_no, TStream& source,
                                            uint8_t* record_buffer) = 0;
  virtual void ClearBLOBFieldInRecordBuffer(int32_t /*field_no*/, uint8_t* /*record_buffer*/) {}
  // ClearBLOBFieldInRecordBuffer for every BLOB field.
  virtual void ClearBLOBFieldsInRecordBuffer(uint8_t* record_buffer);
  virtual std::unique_ptr<TStream> InternalCreateBlobStream(TORBCursorInterface* cursor, int32_t field_no,
                                                            uint8_t* record_buffer, bool for_writing) = 0;
  virtual std::vector<uint8_t> GetDirectBlobData(int32_t session_id, int32_t field_no,
                                                 const uint8_t* record_buffer) = 0;
  virtual void SetDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer,
                                 const std::vector<uint8_t>& data) = 0;
  virtual void FreeDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer) = 0;

  // Record changes, under the lock; the cursor has applied auto-increment
  // values and checked constraints. A change that fails half way leaves
  // no index or record change behind: what was done is undone, and
  // outside a transaction the session's page changes are cancelled.
  // False when the record store refuses the change.
  virtual bool InsertRecord(TORBCursorInterface* cursor);
  virtual bool DeleteRecord(TORBCursorInterface* cursor);
  // REQUIRES: the cursor's edit buffer holds the record as it was.
  virtual bool UpdateRecord(TORBCursorInterface* cursor);

  // 1-based record numbers of the cursor's view. Numbers at or below 0 go
  // to the first record, numbers past the count to the last.
  virtual void SetRecNo(TORBCursorInterface* cursor, int64_t rec_no);
  // -1 at BOF, at EOF, on an empty view or when the record is gone.
  virtual int64_t GetRecNo(TORBCursorInterface* cursor);
  // Physical order: ID of the rec_no-th record (1 .. count), its number,
  // and the number of records.
  virtual TORBPageItemID InternalSetRecNo(int32_t session_id, int64_t rec_no) = 0;
  virtual int64_t InternalGetRecNo(int32_t session_id, const TORBPageItemID& record_id) = 0;
  virtual int64_t InternalGetRecordCount(int32_t session_id) = 0;
  // The session's last auto-increment value of the physical field (the
  // field manager's GetLastAutoinc); 0 where the engine keeps none.
  virtual int64_t LastAutoincValue(TORBAutoincSession* /*session*/, int32_t /*field_no*/) { return 0; }
  // Loads the newest table state other sessions wrote (row count, table
  // state, auto-increment values); nothing where no one else writes.
  virtual void LoadMostUpdated(int32_t /*session_id*/) {}
  // Reads the stored record `record_id` the way a read of the cursor does
  // (in multi-user mode inside the table's read step). False, with nothing
  // read, when the read step's table lock is not obtained.
  virtual bool ReadStoredRecord(TORBCursorInterface* cursor, const TORBPageItemID& record_id, uint8_t* record_buffer,
                                TORBGetRecordResult& result);
  // Rebuilds the session's out-of-date temporary indexes.
  virtual void Rollback(int32_t session_id);

  // The one place index objects are made: the engine's index class for a
  // definition.
  virtual std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef& index_def) = 0;

  // Record search: the next (previous) record of the cursor's view for
  // which `search_expression` (may be null) holds, from the cursor's
  // position or from the first (last) record on restart. With `bitmap`, an
  // active bitmap answers alone; with `fill_bitmap` every match is shown in
  // it and the scan runs to the end (false). The conditions that apply
  // (the expression or key, the cursor's filters, range and distinct
  // position) may bound an index range scan (see TORBRecordSearch).
  virtual bool FindRecord(TORBCursorInterface* cursor, TORBExpression* search_expression,
                          const TORBScanCondition* key_condition, bool restart, bool go_forward,
                          TORBPageItemID* record_id, TORBRecordBitmap* bitmap, bool fill_bitmap);

  // --- Base operations ---

  // Memory record size; a table without fields raises 10131.
  int32_t GetRecordBufferSize() const;
  void EmptyIndex(int32_t index_id, int32_t session_id);
  void DeleteAllIndexes(TORBCursorInterface* cursor);
  void EmptyAllIndexes(int32_t session_id);
  // The name of an index serving the lists, a temporary one created when
  // none does (is_created). On failure the session's changes are
  // cancelled.
  std::u16string FindOrCreateIndex(TORBCursorInterface* cursor, const std::vector<std::u16string>& field_names,
                                   const std::vector<std::u16string>& asc_desc_list,
                                   const std::vector<std::u16string>& case_sensitivity_list, bool& is_created);
  bool IndexExists(TORBCursorInterface* cursor, const std::vector<std::u16string>& field_names,
                   const std::vector<std::u16string>& asc_desc_list,
                   const std::vector<std::u16string>& case_sensitivity_list);
  bool IsUniqueConstraintFailed(int32_t session_id, int32_t index_id, const uint8_t* new_record_buffer,
                                const uint8_t* old_record_buffer, bool to_insert, const TORBPageItemID& record_id);

  // Record bitmaps.
  void InitRecordBitmap(TORBRecordBitmap* bitmap, int32_t index_id);
  // Rebuilds when active but out of date, or inactive on a restricted view.
  void RefreshCursorRecordBitmap(TORBCursorInterface* cursor);
  void BuildCursorRecordBitmap(TORBCursorInterface* cursor);
  int64_t GetBitmapRecNoByIndexPosition(int32_t index_id, const TORBIndexPosition& position);
  void GetIndexPositionByBitmapRecNo(int32_t index_id, int64_t bit_no, TORBIndexPosition& position);
  bool GetIndexPositionByRecordID(int32_t session_id, int32_t index_id, const TORBPageItemID& record_id,
                                  TORBIndexPosition& position);
  void GetRecordIDByIndexPosition(int32_t session_id, int32_t index_id, const TORBIndexPosition& position,
                                  TORBPageItemID& record_id);

  // Visibility of the cursor's current record buffer.
  bool IsRecordInRange(TORBCursorInterface* cursor);
  bool IsRecordVisible(TORBCursorInterface* cursor);

  // Navigation.
  TORBGetRecordResult InternalFindOrGetRecordBuffer(TORBCursorInterface* cursor, TORBGetRecordMode mode);
  void InternalGetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info,
                               TORBIndexPositionCache* cache, int32_t table_state);
  // Reads the record `record_id` into `record_buffer` (physical, by ID).
  TORBGetRecordResult ReadRecordByID(int32_t session_id, const TORBPageItemID& record_id, uint8_t* record_buffer);

  // Records of the cursor's view.
  int64_t GetRecordCount(TORBCursorInterface* cursor);

  // Constraints of a posted record (see TORBBaseConstraintManager).
  bool CheckConstraints(int32_t session_id, const uint8_t* new_record_buffer, const uint8_t* old_record_buffer,
                        bool to_insert, const TORBPageItemID& current_record_id, bool raise_exception,
                        bool check_unique_indexes);

  bool FIsRepairing = false;
  TORBCompression FBLOBCompression{};
  bool FActive = false;
  bool FDisableTempFiles = false;

 protected:
  // GetRecordBuffer once the table is known to hold records. REQUIRES:
  // the lock is held.
  TORBGetRecordResult GetRecordBufferOfRecords(TORBCursorInterface* cursor, TORBGetRecordMode mode);
  // The bitmap scan, and the search with its conditions behind FindRecord.
  bool FindRecordInBitmap(TORBCursorInterface* cursor, bool restart, bool go_forward, TORBPageItemID* record_id,
                          TORBRecordBitmap* bitmap);
  virtual bool FindRecordByScan(TORBCursorInterface* cursor, TORBExpression* search_expression,
                                const TORBScanCondition* key_condition, bool restart, bool go_forward,
                                TORBPageItemID* record_id, TORBRecordBitmap* bitmap, bool fill_bitmap);
  // Shows or hides the cursor's current record in its active bitmap; an
  // index-based bitmap is cleared instead.
  void UpdateCursorBitmap(TORBCursorInterface* cursor);

  TORBPageManager* FPageManager = nullptr;
  TORBDatabaseData* FDatabaseData;
  std::u16string FTableName;
  std::unique_ptr<TORBBaseFieldManager> FFieldManager;
  std::unique_ptr<TORBBaseConstraintManager> FConstraintManager;
  std::unique_ptr<TORBBaseIndexManager> FIndexManager;
  std::unique_ptr<TORBBaseRecordManager> FRecordManager;
  std::vector<TORBCursorInterface*> FCursorList;
};

// Scoped Lock/Unlock of a table data.
class TORBTableDataLock {
 public:
  explicit TORBTableDataLock(TORBTableData* table_data) : FTableData(table_data) { FTableData->Lock(); }
  ~TORBTableDataLock() { FTableData->Unlock(); }
  TORBTableDataLock(const TORBTableDataLock&) = delete;
  TORBTableDataLock& operator=(const TORBTableDataLock&) = delete;

 private:
  TORBTableData* FTableData;
};

}  // namespace orb
