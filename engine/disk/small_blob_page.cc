#include "engine/disk/small_blob_page.h"

#include <cstring>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/table/page.h"
#include "engine/table/page_guard.h"

namespace orb {

void TORBDiskBLOBHeader::SaveTo(uint8_t* dst) const {
  StoreU16LE(dst, BlobID);
  StoreI32LE(dst + 2, NumBlocks);
  StoreI64LE(dst + 6, CompressedSize);
  StoreI64LE(dst + 14, UncompressedSize);
}

TORBDiskBLOBHeader TORBDiskBLOBHeader::LoadFrom(const uint8_t* src) {
  TORBDiskBLOBHeader h;
  h.BlobID = LoadU16LE(src);
  h.NumBlocks = LoadI32LE(src + 2);
  h.CompressedSize = LoadI64LE(src + 6);
  h.UncompressedSize = LoadI64LE(src + 14);
  return h;
}

void TORBPageListLink::SaveTo(uint8_t* dst) const {
  StoreI32LE(dst, StartPageNo);
  StoreU16LE(dst + 4, StartOffset);
  StoreI32LE(dst + 6, ItemCount);
}

TORBPageListLink TORBPageListLink::LoadFrom(const uint8_t* src) {
  return {LoadI32LE(src), LoadU16LE(src + 4), LoadI32LE(src + 6)};
}

TORBSmallBlobPage::TORBSmallBlobPage(TORBPageGuard& page) : LPage(page) {}

uint16_t TORBSmallBlobPage::GetBlobCount() const { return LoadU16LE(LPage->GetPageData()); }

void TORBSmallBlobPage::SetBlobCount(uint16_t count) { StoreU16LE(LPage->GetPageData(), count); }

void TORBSmallBlobPage::Damaged(int32_t offset, int64_t size) const {
  RaiseORB(kErrSmallBlobPageDamaged, "BLOB page damaged. PageNo=%d, BlobCount=%d, BlobOffset=%d, BlobSize=%d",
           {LPage->PageNo(), static_cast<int32_t>(GetBlobCount()), offset, size});
}

int32_t TORBSmallBlobPage::BlobHeader(int32_t k) const {
  const int32_t d = LPage->GetPageDataSize();
  const uint8_t* data = LPage->GetPageData();
  if (k > GetBlobCount()) Damaged(-1, k);
  int32_t offset = 2;
  for (int32_t i = 0; i < k; ++i) {
    if (offset + TORBDiskBLOBHeader::kSize > d) Damaged(offset, TORBDiskBLOBHeader::kSize);
    const TORBDiskBLOBHeader h = TORBDiskBLOBHeader::LoadFrom(data + offset);
    if (h.CompressedSize < 0 || h.CompressedSize > d - offset - TORBDiskBLOBHeader::kSize || h.NumBlocks < 0 ||
        h.UncompressedSize < 0)
      Damaged(offset, h.CompressedSize);
    offset += TORBDiskBLOBHeader::kSize + static_cast<int32_t>(h.CompressedSize);
  }
  return offset;
}

int32_t TORBSmallBlobPage::FindBlob(uint16_t blob_id) const {
  const int32_t count = GetBlobCount();
  BlobHeader(count);  // checks every entry
  int32_t offset = 2;
  for (int32_t i = 0; i < count; ++i) {
    const TORBDiskBLOBHeader h = TORBDiskBLOBHeader::LoadFrom(LPage->GetPageData() + offset);
    if (h.BlobID == blob_id) return i;
    offset += TORBDiskBLOBHeader::kSize + static_cast<int32_t>(h.CompressedSize);
  }
  return -1;
}

uint16_t TORBSmallBlobPage::GetNewBlobID() const {
  uint32_t id = GetBlobCount() >= kLargeBlobItemNo ? 0 : GetBlobCount();
  for (uint32_t tries = 0; tries < kLargeBlobItemNo; ++tries) {
    if (FindBlob(static_cast<uint16_t>(id)) < 0) return static_cast<uint16_t>(id);
    id = id >= kLargeBlobItemNo - 1 ? 0 : id + 1;
  }
  RaiseORB(20172, "Invalid blob field ID");
}

void TORBSmallBlobPage::AddBlob(const TORBDiskBLOBCache& cache, int32_t size_in_index, uint16_t& blob_id) {
  const int32_t count = GetBlobCount();
  const int32_t offset = BlobHeader(count);
  const int64_t entry_size = TORBDiskBLOBHeader::kSize + static_cast<int64_t>(cache.BlobData.size());
  const int32_t d = LPage->GetPageDataSize();
  if (offset + entry_size > d || count >= kLargeBlobItemNo)
    RaiseORB(20290,
             "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, PageDataSize=%d, "
             "SizeInBlobPageIndex=%d",
             {count, offset, entry_size, d, size_in_index});
  TORBDiskBLOBHeader h;
  h.BlobID = GetNewBlobID();
  h.NumBlocks = cache.NumBlocks;
  h.CompressedSize = static_cast<int64_t>(cache.BlobData.size());
  h.UncompressedSize = cache.UncompressedSize;
  uint8_t* at = LPage->GetPageData() + offset;
  h.SaveTo(at);
  if (!cache.BlobData.empty()) std::memcpy(at + TORBDiskBLOBHeader::kSize, cache.BlobData.data(), cache.BlobData.size());
  SetBlobCount(static_cast<uint16_t>(count + 1));
  LPage.MarkDirty();
  blob_id = h.BlobID;
}

void TORBSmallBlobPage::DeleteBlob(uint16_t blob_id, int32_t& entry_size) {
  const int32_t k = FindBlob(blob_id);
  if (k < 0) RaiseORB(20171, "Cannot find blob field");
  const int32_t count = GetBlobCount();
  const int32_t start = BlobHeader(k);
  const int32_t next = BlobHeader(k + 1);
  const int32_t end = BlobHeader(count);
  uint8_t* data = LPage->GetPageData();
  std::memmove(data + start, data + next, static_cast<size_t>(end - next));
  SetBlobCount(static_cast<uint16_t>(count - 1));
  LPage.MarkDirty();
  entry_size = next - start;
}

bool TORBSmallBlobPage::ReadBlob(TORBDiskBLOBCache& cache, uint16_t blob_id) const {
  const int32_t k = FindBlob(blob_id);
  if (k < 0) return false;
  const int32_t offset = BlobHeader(k);
  const TORBDiskBLOBHeader h = TORBDiskBLOBHeader::LoadFrom(LPage->GetPageData() + offset);
  const uint8_t* bytes = LPage->GetPageData() + offset + TORBDiskBLOBHeader::kSize;
  cache.NumBlocks = h.NumBlocks;
  cache.UncompressedSize = h.UncompressedSize;
  cache.BlobData.assign(bytes, bytes + h.CompressedSize);
  cache.Modified = false;
  return true;
}

}  // namespace orb
