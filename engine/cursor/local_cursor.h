#pragma once

// The cursor of the in-process engine: binds the view to a table data
// object in the database data of its session, and implements table
// management, navigation, searches and the record operations.
//
// Record operations leave a status in FErrorCode instead of raising:
// -1 insert, -2 update, -3 delete failed; -4 update and -5 delete refused,
// the record was modified by another session; -6 update or edit and -7
// delete refused, the record was deleted; -8 constraint or auto-increment
// failure (FErrorMessage); -9 edit and -10 delete in a temporary table;
// -12 record and -13 table locked by another session.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/cursor/cursor.h"
#include "engine/cursor/local_blob_stream.h"
#include "engine/cursor/table_locks.h"
#include "engine/data/table_data.h"
#include "engine/data/navigation_info.h"
#include "engine/expr/data_operator.h"
#include "engine/table/search_condition.h"

namespace orb {

class TORBDatabaseData;
class TORBTableData;

// Error codes of the local cursor.
inline constexpr int32_t kErrDeleteTableNoData = 10027;
inline constexpr int32_t kErrOpenTableNotFound = 10028;
inline constexpr int32_t kErrEmptyTableNoData = 10073;
inline constexpr int32_t kErrRenameTableNoData = 10151;
inline constexpr int32_t kErrLockTableDataNil = 10260;
inline constexpr int32_t kErrUnlockTableDataNil = 10261;
inline constexpr int32_t kErrDeleteIndexNotFound = 20021;
inline constexpr int32_t kErrAddIndexExists = 20022;
inline constexpr int32_t kErrDeleteTableNotFound = 20132;
inline constexpr int32_t kErrEmptyTableNotFound = 20133;
inline constexpr int32_t kErrRenameTableNotFound = 20134;
inline constexpr int32_t kErrCreateTableNoData = 20151;
inline constexpr int32_t kErrLockTableNil = 20221;
inline constexpr int32_t kErrUnlockTableNil = 20222;
inline constexpr int32_t kErrRenameTableExists = 30451;
inline constexpr int32_t kErrRenameTableItself = 30452;
inline constexpr int32_t kErrBLOBOpenFieldNo = 10110;
inline constexpr int32_t kErrBLOBOpenNoList = 10113;
inline constexpr int32_t kErrBLOBOpenNilEntry = 10114;
inline constexpr int32_t kErrBLOBAlreadyOpen = 10115;
inline constexpr int32_t kErrBLOBCloseFieldNo = 10118;
inline constexpr int32_t kErrBLOBCloseNoList = 10119;

// Record operation statuses.
inline constexpr int32_t kStatusInsertFailed = -1;
inline constexpr int32_t kStatusUpdateFailed = -2;
inline constexpr int32_t kStatusDeleteFailed = -3;
inline constexpr int32_t kStatusUpdateModified = -4;
inline constexpr int32_t kStatusDeleteModified = -5;
inline constexpr int32_t kStatusUpdateDeleted = -6;
inline constexpr int32_t kStatusDeleteDeleted = -7;
inline constexpr int32_t kStatusConstraint = -8;
inline constexpr int32_t kStatusTemporaryEdit = -9;
inline constexpr int32_t kStatusTemporaryDelete = -10;
inline constexpr int32_t kStatusRecordLocked = -12;
inline constexpr int32_t kStatusTableLocked = -13;

class TORBLocalCursor : public TORBCursor {
 public:
  TORBLocalCursor() = default;
  // Closes the table; never raises.
  ~TORBLocalCursor() override;

  // --- Opening and closing ---

  // Opens FTableName. A table the in-memory or temporary database does
  // not hold raises 10028 outside design mode; in design mode it is
  // created from the three lists. No effect when open.
  void OpenTableByFieldDefs(const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                            const TORBConstraintDefs& constraint_defs);
  // Opens a table data already at hand.
  void OpenTable(TORBTableData* table_data);
  void InternalInitFieldDefs() override;
  // Leaves the table; open BLOB streams are closed.
  void CloseTable();

  // --- Table management (each leaves the cursor closed) ---

  // Replaces an existing table of that name.
  void CreateTable(const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                   const TORBConstraintDefs& constraint_defs);
  void DeleteTable();
  void EmptyTable();
  // Letter case alone may change; 30451 for another existing table, 30452
  // for the identical name.
  void RenameTable(const std::u16string& new_name);
  void RenameField(const std::u16string& field_name, const std::u16string& new_field_name);
  TORBIndexDefs& GetIndexDefs();
  void AddIndex(const TORBIndexDef& index_def);
  void DeleteIndex(const std::u16string& index_name);
  void DeleteAllIndexes();
  // Names of projection aliases are mapped to their physical fields.
  std::u16string FindOrCreateIndex(const std::vector<std::u16string>& field_names,
                                   const std::vector<std::u16string>& asc_desc_list,
                                   const std::vector<std::u16string>& case_sensitivity_list, bool& is_created);
  bool IndexExists(const std::vector<std::u16string>& field_names, const std::vector<std::u16string>& asc_desc_list,
                   const std::vector<std::u16string>& case_sensitivity_list);

  // --- Locks ---

  // The table data's lock (the database data's critical section).
  void LockTableData();
  void UnlockTableData();
  // Between sessions: forwarded to the table's locks when it has them,
  // else true.
  bool LockTable(TORBLockType type, int32_t try_count, int32_t delay_ms, bool allow_exclusive_after_shared);
  bool UnlockTable(TORBLockType type, bool ignore_if_not_locked);
  // Installs the table's locks between sessions (null: none).
  void SetTableLocks(std::unique_ptr<TORBCursorTableLocks> locks) { FTableLocks = std::move(locks); }

  // --- Records and fields ---

  // Every field null and zeroed; defaults applied when inserting (not
  // into a temporary table).
  void InternalInitRecord(uint8_t* buffer, bool inserting) override;
  // Drops the BLOB data the buffer caches and closes the BLOB streams
  // opened on it, then frees it.
  void FreeRecordBuffer(uint8_t*& buffer) override;
  void CopyFieldValue(int32_t source_field_no, bool direct, int32_t dest_field_no,
                      TORBCursor& dest_cursor) override;
  int64_t LastAutoincValue(int32_t field_no);

  // --- Navigation ---

  void InternalFirst();
  void InternalLast();
  // Fills the current record buffer (record data, bookmark and flag).
  TORBGetRecordResult GetRecordBuffer(TORBGetRecordMode mode);
  int64_t GetRecordCount();
  int64_t GetRecNo();
  void SetRecNo(int64_t rec_no);
  // -1, 0 or 1: by the active index, then by page and item number.
  int CompareRecordsOrder(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2);
  // The first record of the view whose fields (';'-separated names) equal
  // the values; the cursor stands on it when found.
  bool Locate(const std::u16string& key_field_names, const std::vector<TORBVariant>& key_values,
              bool case_insensitive, bool partial_key);
  // Key search of FKeyBuffer on the active index.
  bool FindKey(TORBSearchCondition condition, int32_t key_field_count = 0, bool partial_compare = false);
  bool IsAnyRecordMatchCondition(const std::u16string& field_name, TORBDataOperator op, const TORBVariant& value);

  // --- View restriction ---

  void ActivateFilters(const std::u16string& filter_text, bool case_insensitive, bool partial_key);
  void DeactivateFilters();
  void ApplyDistinct(const std::vector<std::u16string>& field_names, const std::vector<std::u16string>& asc_desc_list,
                     const std::vector<std::u16string>& case_sensitivity_list);

  // --- Record editing ---

  void InternalInsert() {}
  void InternalEdit();
  void InternalCancel(bool inserting);
  void InternalPost(bool inserting);
  void InternalDelete();
  bool IsRecordLocked();
  bool CheckConstraints(bool inserting);
  // A batch update outside a transaction: on a disk table the row changes
  // made until EndBatchUpdate are applied together, or all dropped by
  // CancelBatchUpdate (closing the table cancels an open batch). In
  // multi-user mode the batch holds the table's ltXIRW from its first
  // change to its end, as a transaction does, so that no other session
  // changes the table under the held-back pages. Other tables apply each
  // change at once; ending or cancelling their batch only closes it.
  void BeginBatchUpdate();
  // 30980 when the table's write lock cannot be had to apply the batch
  // (the batch stays open: end it again or cancel it).
  void EndBatchUpdate();
  void CancelBatchUpdate();
  bool BatchDefersChanges() const override;

  // --- BLOB streams (owned by the cursor) ---

  // Opens visible field `field_no` of the current record buffer; null
  // when the table data has no stream for it.
  TORBLocalBLOBStream* InternalCreateBlobStream(bool inserting, bool editing, int32_t field_no,
                                                TORBBLOBOpenMode open_mode, bool may_reread);
  // Closes one stream (its holder is done with it): a write stream's
  // content goes into the record buffer it was opened on. Other streams
  // on the same field stay open.
  void InternalCloseBLOB(TORBLocalBLOBStream* stream);
  // Closes every stream (or only those opened for writing), telling their
  // holders.
  void ClearBLOBStreams(bool write_streams_only);
  int32_t BLOBStreamCount() const { return static_cast<int32_t>(FBLOBStreams.size()); }

  TORBTableData* TableData() const { return FTableData; }
  TORBDatabaseData* DatabaseData() const { return FDatabaseData; }
  bool IsTemporaryTable() const { return FTableData != nullptr && FIsTemporary; }

  TORBCursorLockWaits FLockWaits;

 private:
  // The table data's lock for a scope; 10260 when no table is open.
  class TTableDataScope {
   public:
    explicit TTableDataScope(TORBLocalCursor& cursor) {
      cursor.LockTableData();
      FTableData = cursor.FTableData;
    }
    ~TTableDataScope() { FTableData->Unlock(); }
    TTableDataScope(const TTableDataScope&) = delete;
    TTableDataScope& operator=(const TTableDataScope&) = delete;

   private:
    TORBTableData* FTableData = nullptr;
  };

  // Takes the session's database data into FDatabaseData.
  TORBDatabaseData* AcquireDatabaseData();
  bool InternalTableExists();
  // Table management frame: closes the table, runs `fn` under the database
  // data's lock and closes the table again, also on failure.
  template <typename Fn>
  void ManageTable(Fn&& fn);
  void RefreshDefs();
  bool MultiUser() const;
  // Re-read the stored record into the current buffer (as a read of the
  // cursor does: in multi-user mode under the table's read lock, with the
  // newest state loaded) and compare it with `before` (field-wise); the
  // user's values are put back. kLocked: the read lock was not obtained.
  enum class TReread { kSame, kModified, kDeleted, kLocked };
  TReread RereadAndCompare(const uint8_t* before);
  // Keeps the current buffer as the record the edit began from.
  void KeepEditStart();
  bool TryTableLock(TORBLockType type, const TORBLockRetry& retry, bool release_data_lock);
  bool TryRecordLock(const TORBPageItemID& record_id);
  void WriteStreamToBuffer(TORBLocalBLOBStream& stream);
  // Removes and destroys one stream, telling its holder.
  void DestroyStream(TORBLocalBLOBStream* stream, bool tell_holder);

  TORBTableData* FTableData = nullptr;
  // Whether FTableData is a temporary table; fixed while the table is open.
  bool FIsTemporary = false;
  TORBDatabaseData* FDatabaseData = nullptr;
  std::vector<std::unique_ptr<TORBLocalBLOBStream>> FBLOBStreams;
  std::unique_ptr<TORBCursorTableLocks> FTableLocks;
  // The record as it was when InternalEdit began (FEditStartID), the edit
  // copy of a post whose caller gives none; dropped by the post or cancel.
  std::vector<uint8_t> FEditStart;
  TORBPageItemID FEditStartID{-1, 0};
};

}  // namespace orb
