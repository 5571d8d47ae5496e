#pragma once

// Stored BLOB values of disk tables: the entry header, the small BLOB page
// that packs several values of one table, and the link to a large BLOB's
// page list.

#include <cstdint>
#include <vector>

#include "engine/base/page_item_id.h"

namespace orb {

class TORBPageGuard;

// Item number of a location that names a large BLOB.
inline constexpr uint16_t kLargeBlobItemNo = 0xFFFF;

// A loaded or changed value, owned by the BLOB manager.
struct TORBDiskBLOBCache {
  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  // Set through the record buffer and not yet stored.
  bool Modified = false;
  // The compressed stream's stored bytes; their length is the stored size.
  std::vector<uint8_t> BlobData;
};

// Entry header of a stored value (small and large), 22 bytes, little-endian:
// | offset | size | type   | meaning                                     |
// |      0 |    2 | uint16 | BlobID: id on a small page; not significant |
// |        |      |        | for a large BLOB                            |
// |      2 |    4 | int32  | NumBlocks: blocks of the compressed stream  |
// |      6 |    8 | int64  | CompressedSize: stored size in bytes        |
// |     14 |    8 | int64  | UncompressedSize: size of the value         |
struct TORBDiskBLOBHeader {
  static constexpr int32_t kSize = 22;
  uint16_t BlobID = 0;
  int32_t NumBlocks = 0;
  int64_t CompressedSize = 0;
  int64_t UncompressedSize = 0;
  void SaveTo(uint8_t* dst) const;
  static TORBDiskBLOBHeader LoadFrom(const uint8_t* src);
};

// Where a large BLOB's page list lies, 10 bytes, little-endian:
// | offset | size | type   | meaning                                     |
// |      0 |    4 | int32  | StartPageNo: page where the list begins     |
// |      4 |    2 | uint16 | StartOffset: data offset of the list there  |
// |      6 |    4 | int32  | ItemCount: data pages (entries in the list) |
struct TORBPageListLink {
  static constexpr int32_t kSize = 10;
  int32_t StartPageNo = -1;
  uint16_t StartOffset = 0;
  int32_t ItemCount = 0;
  void SaveTo(uint8_t* dst) const;
  static TORBPageListLink LoadFrom(const uint8_t* src);
};

// A small BLOB page (page type 11). Page data:
// | offset | size    | meaning                                           |
// |      0 |       2 | uint16: number of entries                         |
// |      2 | entries | packed in the order added: a 22-byte header       |
// |        |         | (TORBDiskBLOBHeader) then CompressedSize bytes    |
// |  after |    rest | not significant                                   |
// Entry k starts after entries 0 .. k-1. Entries read from the page are
// checked before use: an entry count or stored size that leaves the page
// data raises 30765.
class TORBSmallBlobPage {
 public:
  // REQUIRES: `page` holds a page and outlives the view.
  explicit TORBSmallBlobPage(TORBPageGuard& page);

  uint16_t GetBlobCount() const;
  void SetBlobCount(uint16_t count);
  // Data offset of entry k (k = count: the end of the last entry).
  int32_t BlobHeader(int32_t k) const;
  // Data offset of entry k's stored bytes.
  int32_t BlobData(int32_t k) const { return BlobHeader(k) + TORBDiskBLOBHeader::kSize; }
  // The first id not on the page, from the entry count on (20172 when
  // every id is taken).
  uint16_t GetNewBlobID() const;
  // Appends the value. 20290 when it does not fit; `size_in_index` is the
  // used space the page index records, for the message.
  void AddBlob(const TORBDiskBLOBCache& cache, int32_t size_in_index, uint16_t& blob_id);
  // Removes entry `blob_id` (20171 when absent), moving the entries after
  // it down; `entry_size` is its header plus stored bytes.
  void DeleteBlob(uint16_t blob_id, int32_t& entry_size);
  // False (cache untouched) when the id is not on the page.
  bool ReadBlob(TORBDiskBLOBCache& cache, uint16_t blob_id) const;

 private:
  // Index of the entry with `blob_id`, or -1.
  int32_t FindBlob(uint16_t blob_id) const;
  void Damaged(int32_t offset, int64_t size) const;

  TORBPageGuard& LPage;
};

}  // namespace orb
