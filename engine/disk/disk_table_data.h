#pragma once

// A table stored in the database file: one object per table and database
// data, shared by every session and cursor of the process.
//
// A table consists of three internal files named by its table list entry
// (table_list.h) and the pages they lead to:
// | file         | kind                 | page type | holds                   |
// | metadata     | transacted, zlib (1) | 8         | the metadata stream     |
// | most-updated | transacted, plain    | 9         | auto-increment values,  |
// |              |                      |           | table state, row count  |
// |              |                      |           | (disk_record_manager.h) |
// | locks        | direct access        | 7         | table_locks_file.h      |
//
// Metadata stream, in order (each part's layout beside its code):
// | part                    | written by                          |
// | field definitions       | TORBBaseFieldManager::SaveMetadata  |
// | index definitions       | TORBBaseIndexManager::SaveMetadata  |
// | constraint definitions  | TORBBaseConstraintManager::SaveMeta |
// | record page index root  | TORBDiskRecordManager::SaveMetadata |
// | BLOB page index root    | TORBDiskBlobManager::SaveMetadata   |
//
// The managers and files exist while at least one cursor has the table
// open. Schema changes (create, delete, rename, field rename) run with the
// system session and are applied at once. Row changes run with the
// cursor's session and are applied at once outside a transaction.
//
// Multi-user mode: every cursor holds ltIS (ltX when exclusive) while it
// has the table open; every read step holds ltS and reloads the
// most-updated data first; every row change holds a write lock for its
// whole run (ltRW outside a transaction, released at the end; ltXIRW
// inside one, kept until commit or rollback) and reloads the most-updated
// data first, so a change never starts from another process's stale row
// count or table state. A caller that holds these locks already only
// nests them. Every lock taken for one operation is released on every
// path out of it.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/data/table_data.h"
#include "engine/disk/disk_record_manager.h"
#include "engine/disk/lock_type.h"
#include "engine/platform/file.h"
#include "engine/table/page_header.h"
#include "engine/table/page_manager.h"

namespace orb {

class TORBDiskBlobManager;
class TORBDiskDatabaseData;
class TORBDiskPageManager;
class TORBInternalDBTransactedAccessFile;
class TORBTableLocksFile;

inline constexpr int32_t kErrDiskCreateNoFields = 20128;
inline constexpr int32_t kErrDiskForeignKey = 30040;
inline constexpr int32_t kErrDiskExclusiveOpenByCursors = 20242;
inline constexpr int32_t kErrDiskExclusiveOpenByUser = 20208;
inline constexpr int32_t kErrDiskTableLockedOnOpen = 20209;
inline constexpr int32_t kErrDiskMostUpdatedNoFile = 20176;
inline constexpr int32_t kErrDiskRepairLargeTable = 10512;

class TORBDiskTableData : public TORBTableData, private TORBDeferredPageWork {
 public:
  // Lock attempts of the table's operations.
  static constexpr int32_t kOpenLockTries = 50;
  static constexpr int32_t kOpenLockDelayMs = 100;
  static constexpr int32_t kReadLockTries = 2250;
  static constexpr int32_t kReadLockDelayMs = 40;
  // The ltS attempts of a read step (about 90 seconds unless changed).
  struct TReadLockWaits {
    int32_t Tries = kReadLockTries;
    int32_t DelayMs = kReadLockDelayMs;
  };
  TReadLockWaits FReadLockWaits;

  // REQUIRES: the database is open.
  TORBDiskTableData(TORBDiskDatabaseData* database_data, std::u16string table_name);
  // Releases the files and managers; locks still held by cursors are
  // released silently.
  ~TORBDiskTableData() override;

  // --- TORBTableData ---

  void CreateRecordManager() override;
  void CreateIndexManager(const TORBIndexDefs& index_defs) override;
  // A foreign key raises 30040.
  void CreateConstraintManager(const TORBConstraintDefs& constraint_defs) override;
  // Outside a transaction the session's pages are committed (cancelled);
  // the temporary indexes' pages always are.
  void ApplyChanges(int32_t session_id, bool in_transaction) override;
  void CancelChanges(int32_t session_id, bool in_transaction) override;
  // Creates the table's files and structures with the system session and
  // lists the table; the table is left closed. A table of the same name is
  // replaced in the same commit, so a create that fails keeps it whole.
  // 20128 without fields, 20017 while cursors of this process have the
  // old table open.
  void CreateTable(TORBCursorInterface* cursor, const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                   const TORBConstraintDefs& constraint_defs) override;
  void DeleteTable(TORBCursorInterface* cursor, bool design_mode) override;
  // Empties rows, BLOBs and indexes; the table state moves on. REQUIRES:
  // no cursor has the table open.
  void EmptyTable(TORBCursorInterface* cursor) override;
  void RenameTable(const std::u16string& new_table_name, TORBCursorInterface* cursor) override;
  // Opens the files and managers for the first cursor and takes the
  // cursor's table lock; tells the cursor its record geometry. A failure
  // leaves the cursor out and, for the first cursor, the table closed.
  void OpenTable(TORBCursorInterface* cursor) override;
  void CloseTable(TORBCursorInterface* cursor) override;
  // 30850 when the table is not open.
  void RenameField(const std::u16string& field_name, const std::u16string& new_field_name) override;
  int32_t AddIndex(const TORBIndexDef& index_def, TORBCursorInterface* cursor) override;
  void DeleteIndex(int32_t index_id, TORBCursorInterface* cursor) override;
  int64_t GetBitmapRecordCount(int32_t session_id) override;
  int64_t GetBitmapRecNoByRecordID(const TORBPageItemID& record_id) override;
  TORBPageItemID GetRecordIDByBitmapRecNo(int64_t bit_no) override;
  void ClearBlobsCacheInRecordBuffer(uint8_t* record_buffer) override;
  void ClearModifiedBLOBFieldsInRecordBuffer(uint8_t* record_buffer) override;
  TORBGetRecordResult GetRecordBuffer(TORBCursorInterface* cursor, TORBGetRecordMode mode) override;
  bool Locate(TORBCursorInterface* cursor, TORBExpression* search_expression) override;
  bool FindKey(TORBCursorInterface* cursor, const TORBScanCondition& condition) override;
  void WriteBLOBFieldToRecordBuffer(int32_t session_id, int32_t field_no, TStream& source,
                                    uint8_t* record_buffer) override;
  // Releases the field's cached value, posted or not.
  void ClearBLOBFieldInRecordBuffer(int32_t field_no, uint8_t* record_buffer) override;
  std::unique_ptr<TStream> InternalCreateBlobStream(TORBCursorInterface* cursor, int32_t field_no,
                                                    uint8_t* record_buffer, bool for_writing) override;
  // Empty for a null value, else the 20-byte TORBPartialTemporaryBLOBDescriptor
  // followed by the stored bytes.
  std::vector<uint8_t> GetDirectBlobData(int32_t session_id, int32_t field_no, const uint8_t* record_buffer) override;
  // 30851 when the data's length disagrees with its descriptor.
  void SetDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer,
                         const std::vector<uint8_t>& data) override;
  void FreeDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer) override;
  // A failed change leaves the cursor's unposted BLOB values in its
  // record buffer, so that the change can be posted again.
  bool InsertRecord(TORBCursorInterface* cursor) override;
  bool DeleteRecord(TORBCursorInterface* cursor) override;
  bool UpdateRecord(TORBCursorInterface* cursor) override;
  void SetRecNo(TORBCursorInterface* cursor, int64_t rec_no) override;
  int64_t GetRecNo(TORBCursorInterface* cursor) override;
  TORBPageItemID InternalSetRecNo(int32_t session_id, int64_t rec_no) override;
  int64_t InternalGetRecNo(int32_t session_id, const TORBPageItemID& record_id) override;
  int64_t InternalGetRecordCount(int32_t session_id) override;
  int64_t LastAutoincValue(TORBAutoincSession* session, int32_t field_no) override;
  // In multi-user mode inside a read step (ltS, the newest state loaded).
  bool ReadStoredRecord(TORBCursorInterface* cursor, const TORBPageItemID& record_id, uint8_t* record_buffer,
                        TORBGetRecordResult& result) override;
  void Rollback(int32_t session_id) override;
  std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef& index_def) override;

  // --- Disk operations ---

  // Validates the row count and the record page index, rebuilding them
  // when they fail (repair on open).
  void Repair();
  // The cursor asks for exclusive access on its next OpenTable.
  void SetCursorExclusive(TORBCursorInterface* cursor, bool exclusive);
  bool IsOpen() const { return FRecordManager != nullptr; }
  bool IsExclusive() const { return FExclusive; }
  int32_t TableID() const { return FTableID; }
  // 20142 without fields.
  int32_t GetDiskRecordBufferSize() const;
  TORBDiskRecordManager* DiskRecordManager() const;
  TORBDiskBlobManager* BlobManager() const { return FBlobManager.get(); }
  TORBDiskPageManager* DiskPageManager() const;

  void LoadMetadataFile(int32_t session_id);
  void SaveMetadataFile(int32_t session_id);
  // The row count, table state and auto-increment values as stored for
  // the session (its own uncommitted copy included).
  void LoadMostUpdated(int32_t session_id) override;
  void SaveMostUpdated(int32_t session_id);
  void CleanMostUpdated(int32_t session_id);
  // The most-updated data after a row change of the session: kept in
  // memory inside a single-user transaction (see FKeptMostUpdated), written
  // at once otherwise.
  void SaveRowMostUpdated(int32_t session_id, bool in_transaction);
  void RebuildRecordPageIndex(int32_t session_id);
  void ValidateRecordPageIndex(int32_t session_id);
  void ValidateAndRepairMostUpdatedAndRecordPageIndex(int32_t session_id);

  // Table and row locks of the session (true at once in single-user mode).
  bool LockTable(int32_t session_id, TORBLockType type, int32_t tries, int32_t delay_ms,
                 bool allow_xirw_after_sirw = false);
  // `ignore_count`: drop every request of `type` the session made at once.
  bool UnlockTable(int32_t session_id, TORBLockType type, bool ignore_if_no_lock = false, bool ignore_count = false);
  bool LockRecord(int32_t session_id, const TORBPageItemID& record_id, int32_t tries, int32_t delay_ms);
  bool UnlockRecord(int32_t session_id, const TORBPageItemID& record_id);
  bool IsRecordLocked(int32_t session_id, const TORBPageItemID& record_id);

 private:
  class TReadStep;
  class TWriteStep;
  class TExclusiveUse;

  bool MultiUser() const;
  void CheckOpen() const;
  // LockTable one attempt at a time, leaving the database's critical
  // section while it waits between attempts (TRetryWait: the waits grow
  // to `delay_ms`, the bound is that of `attempts` attempts that far apart).
  bool LockTableWaiting(int32_t session_id, TORBLockType type, int32_t attempts, int32_t delay_ms);

  // Returns the locks file's first page.
  int32_t CreateTableFiles();
  void OpenTableFiles(int32_t metadata_page, int32_t most_updated_page, int32_t locks_page);
  void DeleteTableFiles();
  void FreeTableFiles();
  // Creates the managers for the current field layout, the temporary page
  // manager included.
  void CreateManagers(const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                      const TORBConstraintDefs& constraint_defs);
  void CreateBlobManager();
  // Init of the record manager for the loaded or created fields.
  void InitRecordManager();
  // Opens the table list entry's files and managers and loads the table
  // (repairing it when FIsRepairing).
  void OpenStoredTable(int32_t session_id);
  // Destroys the managers, the temporary page manager and the files.
  void FreeManagers();
  // Loads the stored table `name` and schedules all its pages for removal
  // by the system session; the table list keeps its entry.
  void DropStoredTable(int32_t session_id);
  // Runs `change` (the base row change), then `before_apply` on its
  // success, around the session's apply; a failure cancels the session's
  // changes outside a transaction and re-raises.
  bool RunRowChange(TORBCursorInterface* cursor, const std::function<bool()>& change,
                    const std::function<void(int32_t)>& before_apply);
  // An insert or an update (`change`, the base row change): the record's
  // new BLOB values are stored first and put back into the buffer when the
  // change fails; `manager_code` and `buffer_code` are the nil checks'.
  bool WriteRow(TORBCursorInterface* cursor, int32_t manager_code, int32_t buffer_code,
                const std::function<bool()>& change);
  void SynchronizeTemporaryIndexes(TORBCursorInterface* cursor, bool apply);
  bool IsBlobFieldNo(int32_t field_no) const;

  // Multi-user stored-order walks: copies of the record pages that hold the
  // rows following a cursor's row (see kReadAheadBytes), taken under ltS
  // together with the stored stamp of the most-updated page at that moment.
  // A later grmNext of the cursor takes its row from here, without ltS,
  // while that stamp is unchanged (the reasoning is beside ServeReadAhead).
  // Bytes of page copies a read-ahead holds at most: a bound on the memory
  // per cursor and on the time ltS is held for rows not yet asked for.
  static constexpr size_t kReadAheadBytes = 64 * 1024;
  struct TReadAhead {
    int32_t Session = -1;
    int32_t Stamp = 0;
    uint64_t LocalChange = 0;
    // The row served last; at first the row the walk starts after.
    TORBPageItemID Last{};
    // The copy that holds Last.
    size_t Page = 0;
    TORBDiskRecordManager::TPageRun Run;
  };
  // The cursor walks the table in stored order through every row: no
  // index, filter, range or distinct, outside a transaction, with its own
  // ltIS on a shared table.
  bool IsPlainSharedWalk(TORBCursorInterface* cursor, TORBGetRecordMode mode) const;
  // The part of IsPlainSharedWalk that can change between two calls while
  // the cursor keeps the table open: the cursor's index, view and
  // transaction, its ltIS, exclusive use.
  // REQUIRES: IsPlainSharedWalk held for the cursor at its last fill.
  bool IsStillPlainWalk(TORBCursorInterface* cursor, int32_t session) const;
  // The cursor reads a shared table through its own ltIS, outside a
  // transaction and through an unrestricted view (IsPlainSharedWalk
  // without the order): its reads can be kept beyond their locked step.
  bool IsSharedRead(TORBCursorInterface* cursor) const;
  // The part of IsSharedRead that can change between two calls while the
  // cursor keeps the table open (IsStillPlainWalk without the order).
  bool IsStillSharedRead(TORBCursorInterface* cursor, int32_t session) const;
  // Serves grmNext from the cursor's read-ahead; false when the locked
  // step has to run.
  bool ServeReadAhead(TORBCursorInterface* cursor, TORBGetRecordResult& result);
  // REQUIRES: the cursor's session holds ltS and has loaded the
  // most-updated data; the cursor has just read its current row.
  void FillReadAhead(TORBCursorInterface* cursor);
  // Multi-user key searches: the row a FindKey positioned the cursor on,
  // read in the search's locked step with the stored stamp of the
  // most-updated page. The grmCurrent read that follows a search takes the
  // row from here, without ltS, while that stamp is unchanged and the
  // cursor is still on the row (the reasoning of ServeReadAhead holds for
  // it unchanged: it is a read-ahead of one row).
  struct TFoundRow {
    int32_t Session = -1;
    int32_t Stamp = 0;
    uint64_t LocalChange = 0;
    TORBPageItemID Id{};
    std::vector<uint8_t> Record;
  };
  // REQUIRES: the cursor's session holds ltS and has loaded the
  // most-updated data; the search has just positioned the cursor.
  void KeepFoundRow(TORBCursorInterface* cursor);
  // Serves grmCurrent from the row the cursor's last search kept; false
  // when the locked step has to run.
  bool ServeFoundRow(TORBCursorInterface* cursor, TORBGetRecordResult& result);
  // The stored stamp of the most-updated file's first page, taken for a
  // read-ahead or a kept row; kInvalidPageState when the data runs past
  // that page or the stamp cannot be read.
  // REQUIRES: as for FillReadAhead.
  int32_t StampForReadAhead(int32_t session);
  // Drops what FillReadAhead and KeepFoundRow kept for the cursor.
  void ForgetCursorReads(TORBCursorInterface* cursor) {
    FReadAheads.erase(cursor);
    FFoundRows.erase(cursor);
  }
  // A cursor of this process holds ltIS on the shared table: its pages stay
  // in use and inside the file.
  bool HeldOpenInThisProcess() const;
  // The stored stamp of the most-updated file's first page read through
  // the file view, or kInvalidPageState when there is no view to read.
  int32_t MostUpdatedStampForLoad();
  // The stored stamp of the most-updated file's first page `page_no`:
  // through the file view when it shows that page, else read from the file.
  int32_t StoredMostUpdatedStamp(int32_t page_no);
  // Maps the stamp of the most-updated file's first page, once per page.
  // REQUIRES: a cursor of this process holds ltIS on the table.
  void MapMostUpdatedStamp(int32_t page_no);
  // Something in this process may have changed the table, its layout or
  // the session's own most-updated data: no read-ahead filled and no
  // most-updated bytes kept before are used again.
  void ForgetReadAheads() { ++FLocalChange; }

  TORBDiskDatabaseData* FDiskDatabase;
  int32_t FTableID = 0;
  std::unique_ptr<TORBTableLocksFile> FTableLocksFile;
  std::unique_ptr<TORBInternalDBTransactedAccessFile> FTableMetadataFile;
  std::unique_ptr<TORBInternalDBTransactedAccessFile> FTableMostUpdatedFile;
  std::unique_ptr<TORBDiskBlobManager> FBlobManager;
  std::unique_ptr<TORBPageManager> FTemporaryPageManager;
  bool FExclusive = false;
  bool FIsChangingTableList = false;
  // Cursors that asked for exclusive access, and cursors holding their
  // table lock with the session it was taken for.
  std::set<TORBCursorInterface*> FExclusiveCursors;
  std::map<TORBCursorInterface*, int32_t> FLockHolders;
  // Work of the running row change, done just before its apply.
  std::function<void(int32_t)> FBeforeApply;
  std::map<TORBCursorInterface*, TReadAhead> FReadAheads;
  std::map<TORBCursorInterface*, TFoundRow> FFoundRows;
  uint64_t FLocalChange = 0;
  // A view of the stored stamp of page FStampViewPage (the most-updated
  // file's first page). It is read only while a cursor of this process
  // holds ltIS on the table, so the page stays in use and inside the file
  // (dropping the table needs ltX; a file only loses free pages at its
  // end); it goes when the table's files are freed.
  TPlatformFileView FStampView;
  int32_t FStampViewPage = -1;
  // The most-updated bytes last read from the file, for the session, at
  // the stored stamp and local change count of that load (see
  // LoadMostUpdated); Stamp is kInvalidPageState when none are kept.
  struct TLoadedMostUpdated {
    int32_t Session = -1;
    int32_t Stamp = kInvalidPageState;
    uint64_t LocalChange = 0;
    std::vector<uint8_t> Bytes;
  };
  TLoadedMostUpdated FLoaded;

  // Within a single-user transaction every row change rewrites the same
  // most-updated bytes into the session's private pages, which nobody reads
  // before the next access to the file. They are kept here instead and
  // written, as the last of those writes would have been, before anything
  // else touches the most-updated file (load, save, clean, delete, the
  // last cursor's close) and before the page manager applies the session
  // (WriteDeferred, registered while bytes are kept); cancelling the
  // session's pages forgets them (DropDeferred), as it would have dropped
  // the written page. So the file a session commits, and every read of it
  // by this process, holds exactly the bytes the immediate writes would
  // have left. No other process can see the difference: the pages are
  // private until the commit, and another process never opens the table
  // for writing while this one holds the file for a single user.
  struct TKeptMostUpdated {
    bool Kept = false;
    int32_t Session = -1;
    std::vector<uint8_t> Bytes;
    // Where the next bytes are built before they replace Bytes.
    std::vector<uint8_t> Spare;
    // The page manager this table is registered with while Kept.
    TORBPageManager* Manager = nullptr;
  };
  TKeptMostUpdated FKeptMostUpdated;
  // Writes the kept bytes, if any, to the session they were kept for.
  void WriteKeptMostUpdated();
  // Forgets the kept bytes and unregisters.
  void ForgetKeptMostUpdated() noexcept;
  void WriteDeferred(int32_t session) override;
  void DropDeferred(int32_t session) noexcept override;
};

}  // namespace orb
