#pragma once

// A table of the in-memory database: records, index pages and BLOB values
// all held in process memory.

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <unordered_map>

#include "engine/base/error_codes.h"
#include "engine/data/table_data.h"
#include "engine/memory/blob_codec.h"
#include "engine/memory/memory_page_manager.h"
#include "engine/memory/memory_record_manager.h"

namespace orb {

inline constexpr int32_t kErrMemoryNoFields = 10025;
inline constexpr int32_t kErrMemoryForeignKey = 30040;
inline constexpr int32_t kErrMemoryNoRecordManager = 10009;

// Changes apply at once: there is one copy of every record and index page
// and no private state per session or transaction (every session has ID
// 0), so the database refuses a rollback of changes made in a transaction
// (see TORBMemoryDatabaseData::Rollback).
//
// BLOB field slot (first 8 of the 14 bytes of the memory form):
// | offset | size | meaning                                             |
// |      0 |    8 | handle (uint64, little-endian) of the value in the  |
// |        |      | table's BLOB store; 0 = none (the field is null)   |
// |      8 |    6 | zero                                                |
// A handle, unlike an address, can be checked: a stale record copy that
// names a freed value raises 30784 instead of reading freed memory. A value
// is freed only once no stored record can name it: the old values of an
// update after the update succeeded, the values of a deleted record after
// the delete succeeded, values written but never posted when they are
// replaced before posting, and all values when the table is emptied.
class TORBMemoryTableData : public TORBTableData {
 public:
  static constexpr int32_t kDefaultAllocRecordsBy = 1000;

  // `is_design_mode` (may be empty) tells whether the process is in design
  // mode.
  TORBMemoryTableData(TORBDatabaseData* database_data, std::u16string table_name, int32_t alloc_records_by,
                      std::function<bool()> is_design_mode);
  // Empties the table, drops its indexes and frees its pages.
  ~TORBMemoryTableData() override;

  void CreateRecordManager() override;
  void CreateIndexManager(const TORBIndexDefs& index_defs) override;
  // A foreign key raises 30040.
  void CreateConstraintManager(const TORBConstraintDefs& constraint_defs) override;
  // Changes of an in-memory table apply at once, in or outside a
  // transaction; a transaction's changes are noted with the database.
  void ApplyChanges(int32_t session_id, bool in_transaction) override;
  void CancelChanges(int32_t session_id, bool in_transaction) override;
  // Without fields raises 10025 outside design mode.
  void CreateTable(TORBCursorInterface* cursor, const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                   const TORBConstraintDefs& constraint_defs) override;
  // Destroys the table data (it leaves the database's list) unless design
  // mode keeps it for open cursors. Nothing of this object may be used
  // after a call that destroyed it.
  void DeleteTable(TORBCursorInterface* cursor, bool design_mode) override;
  void EmptyTable(TORBCursorInterface* cursor) override;
  // A failed index creation gives back the pages it took.
  int32_t AddIndex(const TORBIndexDef& index_def, TORBCursorInterface* cursor) override;
  void DeleteIndex(int32_t index_id, TORBCursorInterface* cursor) override;
  int64_t GetBitmapRecordCount(int32_t session_id) override;
  int64_t GetBitmapRecNoByRecordID(const TORBPageItemID& record_id) override;
  TORBPageItemID GetRecordIDByBitmapRecNo(int64_t bit_no) override;

  bool InsertRecord(TORBCursorInterface* cursor) override;
  bool DeleteRecord(TORBCursorInterface* cursor) override;
  bool UpdateRecord(TORBCursorInterface* cursor) override;
  // (-1, 0) for a number outside 1 .. record count.
  TORBPageItemID InternalSetRecNo(int32_t session_id, int64_t rec_no) override;
  int64_t InternalGetRecNo(int32_t session_id, const TORBPageItemID& record_id) override;
  int64_t InternalGetRecordCount(int32_t session_id) override;
  int64_t LastAutoincValue(TORBAutoincSession* session, int32_t field_no) override;
  std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef& index_def) override;

  void WriteBLOBFieldToRecordBuffer(int32_t session_id, int32_t field_no, TStream& source,
                                    uint8_t* record_buffer) override;
  void ClearBLOBFieldInRecordBuffer(int32_t field_no, uint8_t* record_buffer) override;
  std::unique_ptr<TStream> InternalCreateBlobStream(TORBCursorInterface* cursor, int32_t field_no,
                                                    uint8_t* record_buffer, bool for_writing) override;
  std::vector<uint8_t> GetDirectBlobData(int32_t session_id, int32_t field_no, const uint8_t* record_buffer) override;
  void SetDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer,
                         const std::vector<uint8_t>& data) override;
  void FreeDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer) override;

  TORBMemoryRecordManager* MemoryRecordManager() const;
  TORBMemoryPageManager* MemoryPageManager() const { return FMemoryPageManager.get(); }
  // BLOB values held, posted or not.
  size_t BlobCount() const { return FBlobs.size(); }

 private:
  const TORBFieldDef& BlobField(int32_t field_no) const;
  // The handle in the field's slot; 0 when null.
  uint64_t BlobHandle(int32_t field_no, const uint8_t* record_buffer) const;
  void SetBlobHandle(int32_t field_no, uint8_t* record_buffer, uint64_t handle);
  uint64_t StoreBlob(TORBStoredBLOB stored);
  // Every BLOB handle of the record.
  std::vector<uint64_t> BlobHandles(const uint8_t* record_buffer) const;
  // The record's values are stored: no longer merely written.
  void MarkPosted(const uint8_t* record_buffer);
  void FreeBlob(uint64_t handle);

  int32_t FAllocRecordsBy;
  std::function<bool()> FIsDesignMode;
  std::unique_ptr<TORBMemoryPageManager> FMemoryPageManager;
  std::unordered_map<uint64_t, TORBStoredBLOB> FBlobs;
  // Values written into a record buffer that no stored record holds yet.
  std::set<uint64_t> FUnpostedBlobs;
  uint64_t FNextBlobHandle = 1;
};

}  // namespace orb
