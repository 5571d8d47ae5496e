#pragma once

// The BLOB (memo and binary) values of one disk table, stored outside the
// record slots. A value whose stored bytes fit a page with room to spare
// (stored size + 24 < page data size D) is an entry on a small BLOB page
// shared with other values of the table (small_blob_page.h), listed with
// its used space in the BLOB page index; a larger value gets pages of its
// own (a large BLOB).
//
// Large BLOB, all pages of type 11, first page's data:
// | offset | size     | meaning                                          |
// |      0 |       22 | TORBDiskBLOBHeader (BlobID not significant)      |
// |     22 |       10 | TORBPageListLink: where the page list lies       |
// |     32 |   D - 32 | the first stored bytes                           |
// The stored bytes continue over further data pages from offset 0, D bytes
// each (not chained by NextPageNo). The page list, ItemCount int32 page
// numbers of the data pages in order (the first page included), follows
// the stored bytes in the last data page (at offset 0 of a new page when
// that page is full) and runs on over list pages chained through
// NextPageNo from the page where it begins; it is written as one run of
// bytes, so a number may span two pages. Locations: (first page, 0xFFFF).
//
// A location read from a record is (page, item): page 0 or -1 stores no
// value; item 0xFFFF names a large BLOB, any other item a small BLOB's id.
// Item 0xFF is ambiguous in files of older writers and is tried as either
// kind. Everything read from a BLOB page is checked before use: a stored
// size, entry count, link or page list out of range raises 30765 (small)
// or 30766 (large), so a damaged page never makes a read leave its buffer
// or an allocation exceed what the file can hold.
//
// In a memory record buffer a BLOB field is the 6-byte location, then an
// 8-byte reference to a TORBDiskBLOBCache of this manager (0: none). A
// reference counts only while the cache is in the manager's list, so a
// stale reference is ignored, never followed.
//
// Part of the table metadata stream: one int32, the root page number of
// the BLOB page index (after the record manager's part).

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/page_item_id.h"
#include "engine/disk/small_blob_page.h"
#include "engine/table/btree_page_index.h"

namespace orb {

class TORBBaseFieldManager;
class TORBCompressedBLOBStream;
class TORBDiskPageManager;
class TORBPageManager;
class TORBDiskRecordManager;
class TStream;
struct TORBBLOBDescriptor;
struct TORBPartialTemporaryBLOBDescriptor;

class TORBDiskBlobManager {
 public:
  // REQUIRES: the managers outlive the object.
  TORBDiskBlobManager(TORBPageManager* page_manager, TORBBaseFieldManager* field_manager,
                      TORBDiskRecordManager* record_manager);
  // Frees the caches still held, silently: call CheckCachesReleased first
  // to have them reported.
  ~TORBDiskBlobManager();
  TORBDiskBlobManager(const TORBDiskBlobManager&) = delete;
  TORBDiskBlobManager& operator=(const TORBDiskBlobManager&) = delete;

  // 20150 while any cache remains.
  void CheckCachesReleased() const;
  size_t CacheCount() const { return FBlobCacheList.size(); }

  // Operations on memory record buffers; `field_no` is the field's index
  // in the table and must name a BLOB field.
  // Attaches a cache holding the stored value when none is attached.
  void ReadBlob(int32_t session_id, uint8_t* record_buffer, int32_t field_no);
  // Stores a modified cached value (replacing the stored one) and releases
  // the cache; an empty value stores nothing (location (-1, 0xFFFF)).
  void WriteBlob(int32_t session_id, uint8_t* record_buffer, int32_t field_no);
  void WriteBlobs(int32_t session_id, uint8_t* record_buffer);
  // Deletes the stored value of a non-null field.
  void DeleteBlob(int32_t session_id, uint8_t* record_buffer, int32_t field_no);
  void DeleteBlobs(int32_t session_id, uint8_t* record_buffer);
  // Appends the stored bytes to `stream` and gives their block count and
  // uncompressed size; a null field writes nothing and gives zeros. 20162
  // when the value cannot be loaded.
  void CopyBlobFromRecordBufferToStream(int32_t session_id, uint8_t* record_buffer, int32_t field_no,
                                        TORBBLOBDescriptor& descriptor, TStream& stream);
  // The stored bytes, block count and uncompressed size, as
  // CopyBlobFromRecordBufferToStream followed by ClearBlobInRecordBuffer
  // (not forced) give them: an unmodified cache is handed over and
  // released, a modified one copied and kept, a stored value without a
  // cache loaded without attaching one.
  std::vector<uint8_t> TakeStoredForm(int32_t session_id, uint8_t* record_buffer, int32_t field_no,
                                      TORBBLOBDescriptor& descriptor);
  // When `blob_stream` was modified: the field gets a new modified cache
  // with its block count, size and stored bytes (those of `stored_stream`,
  // the stream under `blob_stream`, from its descriptor's StartPosition);
  // the field is null exactly when the value is empty.
  void CopyBlobFromStreamToRecordBuffer(uint8_t* record_buffer, int32_t field_no, TORBCompressedBLOBStream& blob_stream,
                                        TStream& stored_stream);
  // Releases the field's cache; a modified one only with `force`.
  void ClearBlobInRecordBuffer(uint8_t* record_buffer, int32_t field_no, bool force);
  // Block count, sizes and the cached stored bytes (loaded when needed;
  // 20291 when they cannot be). A null field gives zeros and no data.
  void GetDirectBlobInfoFromRecordBuffer(int32_t session_id, uint8_t* record_buffer, int32_t field_no,
                                         TORBPartialTemporaryBLOBDescriptor& descriptor, const uint8_t*& data);
  // The field gets a modified cache with a copy of `data`; null exactly
  // when CompressedSize <= 0.
  void SetDirectBlobInfoFromRecordBuffer(int32_t session_id, uint8_t* record_buffer, int32_t field_no,
                                         const TORBPartialTemporaryBLOBDescriptor& descriptor, const uint8_t* data);

  // Deletes the stored values of every row, then empties the index.
  void Empty(int32_t session_id);
  // Empty, then drop the index.
  void Delete(int32_t session_id);
  void LoadMetadata(TStream& stream);
  void SaveMetadata(TStream& stream) const;
  void CreateBlobPageIndex();

  // Stored values by location.
  TORBPageItemID StoreValue(int32_t session_id, const TORBDiskBLOBCache& cache);
  // False when a small id is not on its page (the cache is left empty).
  bool LoadValue(int32_t session_id, const TORBPageItemID& location, TORBDiskBLOBCache& cache);
  void DeleteValue(int32_t session_id, const TORBPageItemID& location);

  TORBBTreeBlobPageIndex& BlobPageIndex() { return FBlobPageIndex; }
  // The cache attached to the field, or null.
  TORBDiskBLOBCache* AttachedCache(const uint8_t* record_buffer, int32_t field_no) const;
  // True for a value of `stored_size` bytes that goes to a small page.
  bool IsSmall(int64_t stored_size) const;

 private:
  int32_t FieldOffset(int32_t field_no) const;
  static bool HasLocation(const TORBPageItemID& location) {
    return location.PageNo != 0 && location.PageNo != -1;
  }
  TORBDiskBLOBCache* NewCache();
  void ReleaseCache(TORBDiskBLOBCache* cache);
  void Attach(uint8_t* record_buffer, int32_t field_no, TORBDiskBLOBCache* cache);
  TORBPageItemID StoreSmall(int32_t session_id, const TORBDiskBLOBCache& cache);
  TORBPageItemID StoreLarge(int32_t session_id, const TORBDiskBLOBCache& cache);
  bool LoadSmall(int32_t session_id, const TORBPageItemID& location, TORBDiskBLOBCache& cache);
  void LoadLarge(int32_t session_id, int32_t first_page_no, TORBDiskBLOBCache& cache);
  void DeleteSmall(int32_t session_id, const TORBPageItemID& location);
  void DeleteLarge(int32_t session_id, int32_t first_page_no);
  // Header and link of a large BLOB's first page, checked; the data pages
  // and the pages the list occupies. Given, `first_page` and
  // `list_start_page` receive the guards of the first page and of the page
  // the list begins on.
  void ReadLargeLayout(int32_t session_id, int32_t first_page_no, TORBDiskBLOBHeader& header,
                       std::vector<int32_t>& data_pages, std::vector<int32_t>& list_pages,
                       TORBPageGuard* first_page = nullptr, TORBPageGuard* list_start_page = nullptr);
  bool IsProbablyLargeBlob(int32_t session_id, int32_t page_no);
  [[noreturn]] void LargeDamaged(int32_t page_no, int64_t size, int64_t count, int32_t list_page_no) const;

  TORBPageManager* LPageManager;
  TORBBaseFieldManager* LFieldManager;
  TORBDiskRecordManager* LRecordManager;
  std::vector<std::unique_ptr<TORBDiskBLOBCache>> FBlobCacheList;
  TORBBTreeBlobPageIndex FBlobPageIndex;
};

}  // namespace orb
