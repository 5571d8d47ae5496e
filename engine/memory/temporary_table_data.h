#pragma once

// A table of the temporary database: append-only records, index pages and
// BLOB values that start in memory and move to temporary files.

#include <cstdint>
#include <memory>

#include "engine/base/error_codes.h"
#include "engine/base/stream.h"
#include "engine/data/table_data.h"
#include "engine/memory/blob_codec.h"
#include "engine/memory/temporary_page_manager.h"
#include "engine/memory/temporary_record_manager.h"

namespace orb {

inline constexpr int32_t kErrTemporaryNoFields = 10132;
inline constexpr int32_t kErrTemporaryNoRecordManager = 10133;
inline constexpr int32_t kErrTemporaryBlobFileMissing = 10144;
inline constexpr int32_t kErrTemporaryBlobSeek = 10141;
inline constexpr int32_t kErrTemporaryBlobRead = 10142;
inline constexpr int32_t kErrTemporaryBlobWrite = 10145;

// BLOB file entry, appended for every value written; the record's BLOB
// slot holds the entry's offset (first 8 of its 14 bytes, int64
// little-endian), the field is null when there is none:
// | offset | size | meaning                                        |
// |      0 |    4 | NumBlocks (int32)                              |
// |      4 |    8 | UncompressedSize (int64)                       |
// |     12 |    8 | CompressedSize (int64)                         |
// |     20 |    n | compressed stored form, n = CompressedSize     |
// The file is a memory stream with temporary files disabled, else a
// temporary stream (a file past 1 MiB). Emptying the table starts a fresh
// file, so the table stays usable for BLOB writes.
class TORBTemporaryTableData : public TORBTableData {
 public:
  static constexpr int32_t kDefaultRecordsPerPage = 10;
  static constexpr int32_t kDefaultAllocRecordsBy = 1000;
  static constexpr int32_t kBLOBFileMemorySize = 1048576;

  // Budgets below 0 take one tenth of free memory (memory manager) at
  // creation; tests name them.
  TORBTemporaryTableData(TORBDatabaseData* database_data, std::u16string table_name,
                         int32_t records_per_page = kDefaultRecordsPerPage,
                         int32_t alloc_records_by = kDefaultAllocRecordsBy);
  ~TORBTemporaryTableData() override;

  void CreateRecordManager() override;
  // Index pages are handed out uncopied, so their changes apply at once,
  // in or outside a transaction (records cannot be taken back either).
  void ApplyChanges(int32_t session_id, bool in_transaction) override;
  void CancelChanges(int32_t session_id, bool in_transaction) override;
  void CreateIndexManager(const TORBIndexDefs& index_defs) override;
  // Without fields raises 10132 (also in design mode).
  void CreateTable(TORBCursorInterface* cursor, const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                   const TORBConstraintDefs& constraint_defs) override;
  void DeleteTable(TORBCursorInterface* cursor, bool design_mode) override;
  void EmptyTable(TORBCursorInterface* cursor) override;
  int32_t AddIndex(const TORBIndexDef& index_def, TORBCursorInterface* cursor) override;
  void DeleteIndex(int32_t index_id, TORBCursorInterface* cursor) override;
  int64_t GetBitmapRecordCount(int32_t session_id) override;
  int64_t GetBitmapRecNoByRecordID(const TORBPageItemID& record_id) override;
  TORBPageItemID GetRecordIDByBitmapRecNo(int64_t bit_no) override;

  bool InsertRecord(TORBCursorInterface* cursor) override;
  // Records are never changed: false, nothing changed.
  bool UpdateRecord(TORBCursorInterface* cursor) override;
  bool DeleteRecord(TORBCursorInterface* cursor) override;
  // Index rec_no - 1, index 0 for numbers below 2.
  TORBPageItemID InternalSetRecNo(int32_t session_id, int64_t rec_no) override;
  int64_t InternalGetRecNo(int32_t session_id, const TORBPageItemID& record_id) override;
  int64_t InternalGetRecordCount(int32_t session_id) override;
  std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef& index_def) override;

  void WriteBLOBFieldToRecordBuffer(int32_t session_id, int32_t field_no, TStream& source,
                                    uint8_t* record_buffer) override;
  std::unique_ptr<TStream> InternalCreateBlobStream(TORBCursorInterface* cursor, int32_t field_no,
                                                    uint8_t* record_buffer, bool for_writing) override;
  std::vector<uint8_t> GetDirectBlobData(int32_t session_id, int32_t field_no, const uint8_t* record_buffer) override;
  void SetDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer,
                         const std::vector<uint8_t>& data) override;
  void FreeDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer) override;

  TORBTemporaryRecordManager* TemporaryRecordManager() const;
  TORBTemporaryPageManager* TemporaryPageManager() const { return FTemporaryPageManager.get(); }
  TStream* BLOBFile() const { return FBLOBFile.get(); }

  // Budgets for the stores CreateTable makes (tests); below 0 = from free
  // memory.
  int64_t FMaxCachedRecordCount = -1;
  int64_t FMaxMemoryPageCount = -1;

 private:
  void CreateBLOBFile();
  const TORBFieldDef& BlobField(int32_t field_no) const;
  // Appends an entry; returns its offset.
  int64_t AppendBlob(const TORBPartialBLOBDescriptor& descriptor, const uint8_t* stored_form, int64_t size);
  // Reads the entry at `offset`.
  TORBStoredBLOB ReadBlob(int64_t offset);
  void SetBlobOffset(int32_t field_no, uint8_t* record_buffer, int64_t offset);

  std::unique_ptr<TStream> FBLOBFile;
  int32_t FRecordsPerPage;
  int32_t FAllocRecordsBy;
  std::unique_ptr<TORBTemporaryPageManager> FTemporaryPageManager;
};

}  // namespace orb
