#include "engine/disk/disk_blob_manager.h"

#include <algorithm>
#include <cstring>

#include "engine/base/error_codes.h"
#include "engine/base/field_manager.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/base/stream.h"
#include "engine/base/stream_compressed_blob.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/disk_record_manager.h"
#include "engine/platform/byte_order.h"
#include "engine/table/page.h"
#include "engine/table/page_guard.h"

namespace orb {

namespace {

constexpr TORBPageItemID kDeletedLocation{-1, kLargeBlobItemNo};
// Data offset of a large BLOB's stored bytes on its first page.
constexpr int32_t kLargeFirstDataOffset = TORBDiskBLOBHeader::kSize + TORBPageListLink::kSize;
// Offset of the cache reference behind the location in a memory record.
constexpr int32_t kCacheRefOffset = kPageItemIDSize;

bool IsBlobBaseType(TORBBaseFieldType type) { return type == bftBlob || type == bftClob || type == bftWideClob; }

// Holds a database file's header lock over the page allocations of one
// large value, so that its lock byte is taken once per value rather than
// once per page. Sound because the lock nests: each allocation still takes
// and releases it (as a count) and does its whole step under it as before
// (a shared file's maps re-read, and written back before the outermost
// release); nothing else is waited for while it is held; and it is given
// back on every path. The hold is one attempt without waiting: when the
// lock is busy each allocation waits for it as it always did.
class THeaderLockHold {
 public:
  explicit THeaderLockHold(TORBPageManager* page_manager)
      : FManager(dynamic_cast<TORBDiskPageManager*>(page_manager)) {
    try {
      if (FManager != nullptr && (!FManager->GetIsOpened() || !FManager->LockDBHeader())) FManager = nullptr;
    } catch (const EORBException&) {
      FManager = nullptr;  // each allocation meets the failure itself
    }
  }
  ~THeaderLockHold() {
    try {
      Release();
    } catch (...) {
      // Only on an error path: the error under way is the one reported.
    }
  }
  THeaderLockHold(const THeaderLockHold&) = delete;
  THeaderLockHold& operator=(const THeaderLockHold&) = delete;

  void Release() {
    TORBDiskPageManager* manager = FManager;
    FManager = nullptr;
    if (manager != nullptr) manager->UnlockDBHeader();
  }

 private:
  TORBDiskPageManager* FManager;
};

}  // namespace

TORBDiskBlobManager::TORBDiskBlobManager(TORBPageManager* page_manager, TORBBaseFieldManager* field_manager,
                                         TORBDiskRecordManager* record_manager)
    : LPageManager(page_manager),
      LFieldManager(field_manager),
      LRecordManager(record_manager),
      FBlobPageIndex(page_manager) {}

TORBDiskBlobManager::~TORBDiskBlobManager() = default;

void TORBDiskBlobManager::CheckCachesReleased() const {
  if (!FBlobCacheList.empty()) RaiseORB(20150, "Blob cache not released");
}

bool TORBDiskBlobManager::IsSmall(int64_t stored_size) const {
  return stored_size + 24 < LPageManager->GetPageDataSize();
}

int32_t TORBDiskBlobManager::FieldOffset(int32_t field_no) const {
  return LFieldManager->FieldDefs().GetDef(field_no)->FMemoryOffset;
}

TORBDiskBLOBCache* TORBDiskBlobManager::AttachedCache(const uint8_t* record_buffer, int32_t field_no) const {
  const uint64_t ref = LoadU64LE(record_buffer + FieldOffset(field_no) + kCacheRefOffset);
  if (ref == 0) return nullptr;
  for (const std::unique_ptr<TORBDiskBLOBCache>& cache : FBlobCacheList) {
    if (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(cache.get())) == ref) return cache.get();
  }
  return nullptr;
}

TORBDiskBLOBCache* TORBDiskBlobManager::NewCache() {
  FBlobCacheList.push_back(std::make_unique<TORBDiskBLOBCache>());
  return FBlobCacheList.back().get();
}

void TORBDiskBlobManager::ReleaseCache(TORBDiskBLOBCache* cache) {
  auto it = std::find_if(FBlobCacheList.begin(), FBlobCacheList.end(),
                         [cache](const std::unique_ptr<TORBDiskBLOBCache>& c) { return c.get() == cache; });
  if (it != FBlobCacheList.end()) FBlobCacheList.erase(it);
}

void TORBDiskBlobManager::Attach(uint8_t* record_buffer, int32_t field_no, TORBDiskBLOBCache* cache) {
  TORBDiskBLOBCache* old = AttachedCache(record_buffer, field_no);
  if (old != nullptr && old != cache) ReleaseCache(old);
  StoreU64LE(record_buffer + FieldOffset(field_no) + kCacheRefOffset,
             static_cast<uint64_t>(reinterpret_cast<uintptr_t>(cache)));
}

// Record buffer operations.

void TORBDiskBlobManager::ReadBlob(int32_t session_id, uint8_t* record_buffer, int32_t field_no) {
  if (AttachedCache(record_buffer, field_no) != nullptr) return;
  const TORBPageItemID location = LoadPageItemID(record_buffer + FieldOffset(field_no));
  if (CheckNullFlag(field_no, record_buffer) || !HasLocation(location)) return;
  TORBDiskBLOBCache loaded;
  if (!LoadValue(session_id, location, loaded)) return;
  TORBDiskBLOBCache* cache = NewCache();
  *cache = std::move(loaded);
  Attach(record_buffer, field_no, cache);
}

void TORBDiskBlobManager::WriteBlob(int32_t session_id, uint8_t* record_buffer, int32_t field_no) {
  TORBDiskBLOBCache* cache = AttachedCache(record_buffer, field_no);
  if (cache == nullptr || !cache->Modified) return;
  uint8_t* at = record_buffer + FieldOffset(field_no);
  TORBPageItemID location = LoadPageItemID(at);
  if (HasLocation(location)) {
    DeleteValue(session_id, location);
    location = kDeletedLocation;
    StorePageItemID(at, location);
  }
  if (cache->UncompressedSize > 0) location = StoreValue(session_id, *cache);
  StorePageItemID(at, location);
  cache->Modified = false;
  ReleaseCache(cache);
  StoreU64LE(at + kCacheRefOffset, 0);
}

void TORBDiskBlobManager::WriteBlobs(int32_t session_id, uint8_t* record_buffer) {
  const TORBFieldDefs& defs = LFieldManager->FieldDefs();
  for (int32_t i = 0; i < defs.GetCount(); ++i) {
    if (IsBlobBaseType(defs.GetDef(i)->FBaseFieldType)) WriteBlob(session_id, record_buffer, i);
  }
}

void TORBDiskBlobManager::DeleteBlob(int32_t session_id, uint8_t* record_buffer, int32_t field_no) {
  uint8_t* at = record_buffer + FieldOffset(field_no);
  const TORBPageItemID location = LoadPageItemID(at);
  if (CheckNullFlag(field_no, record_buffer) || !HasLocation(location)) return;
  DeleteValue(session_id, location);
  StorePageItemID(at, kDeletedLocation);
}

void TORBDiskBlobManager::DeleteBlobs(int32_t session_id, uint8_t* record_buffer) {
  const TORBFieldDefs& defs = LFieldManager->FieldDefs();
  for (int32_t i = 0; i < defs.GetCount(); ++i) {
    if (IsBlobBaseType(defs.GetDef(i)->FBaseFieldType)) DeleteBlob(session_id, record_buffer, i);
  }
}

void TORBDiskBlobManager::CopyBlobFromRecordBufferToStream(int32_t session_id, uint8_t* record_buffer,
                                                           int32_t field_no, TORBBLOBDescriptor& descriptor,
                                                           TStream& stream) {
  descriptor.NumBlocks = 0;
  descriptor.UncompressedSize = 0;
  if (CheckNullFlag(field_no, record_buffer)) return;
  ReadBlob(session_id, record_buffer, field_no);
  TORBDiskBLOBCache* cache = AttachedCache(record_buffer, field_no);
  if (cache == nullptr) RaiseORB(20162, "Cannot read BLOB field value");
  if (!cache->BlobData.empty())
    SaveDataToStream(cache->BlobData.data(), static_cast<int64_t>(cache->BlobData.size()), stream, kErrBlobCopyWrite);
  descriptor.NumBlocks = cache->NumBlocks;
  descriptor.UncompressedSize = cache->UncompressedSize;
}

std::vector<uint8_t> TORBDiskBlobManager::TakeStoredForm(int32_t session_id, uint8_t* record_buffer,
                                                         int32_t field_no, TORBBLOBDescriptor& descriptor) {
  descriptor.NumBlocks = 0;
  descriptor.UncompressedSize = 0;
  if (CheckNullFlag(field_no, record_buffer)) return {};
  TORBDiskBLOBCache* cache = AttachedCache(record_buffer, field_no);
  TORBDiskBLOBCache loaded;
  if (cache == nullptr) {
    const TORBPageItemID location = LoadPageItemID(record_buffer + FieldOffset(field_no));
    if (!HasLocation(location) || !LoadValue(session_id, location, loaded))
      RaiseORB(20162, "Cannot read BLOB field value");
  } else if (cache->Modified) {
    loaded = *cache;
  } else {
    loaded = std::move(*cache);
    ReleaseCache(cache);
    StoreU64LE(record_buffer + FieldOffset(field_no) + kCacheRefOffset, 0);
  }
  descriptor.NumBlocks = loaded.NumBlocks;
  descriptor.UncompressedSize = loaded.UncompressedSize;
  return std::move(loaded.BlobData);
}

void TORBDiskBlobManager::CopyBlobFromStreamToRecordBuffer(uint8_t* record_buffer, int32_t field_no,
                                                           TORBCompressedBLOBStream& blob_stream,
                                                           TStream& stored_stream) {
  if (!blob_stream.Modified()) return;
  const TORBBLOBDescriptor& descriptor = blob_stream.BLOBDescriptor();
  const int64_t stored_size = std::max<int64_t>(0, stored_stream.GetSize() - descriptor.StartPosition);
  TORBDiskBLOBCache loaded;
  loaded.NumBlocks = static_cast<int32_t>(descriptor.NumBlocks);
  loaded.UncompressedSize = blob_stream.GetSize();
  loaded.Modified = true;
  loaded.BlobData.resize(static_cast<size_t>(stored_size));
  if (stored_size > 0) {
    SetStreamPosition(stored_stream, descriptor.StartPosition, kErrBlobCopyRead);
    LoadDataFromStream(loaded.BlobData.data(), stored_size, stored_stream, kErrBlobCopyRead);
  }
  TORBDiskBLOBCache* cache = NewCache();
  *cache = std::move(loaded);
  Attach(record_buffer, field_no, cache);
  SetNullFlag(cache->UncompressedSize == 0, field_no, record_buffer);
}

void TORBDiskBlobManager::ClearBlobInRecordBuffer(uint8_t* record_buffer, int32_t field_no, bool force) {
  TORBDiskBLOBCache* cache = AttachedCache(record_buffer, field_no);
  if (cache == nullptr || (cache->Modified && !force)) return;
  ReleaseCache(cache);
  StoreU64LE(record_buffer + FieldOffset(field_no) + kCacheRefOffset, 0);
}

void TORBDiskBlobManager::GetDirectBlobInfoFromRecordBuffer(int32_t session_id, uint8_t* record_buffer,
                                                            int32_t field_no,
                                                            TORBPartialTemporaryBLOBDescriptor& descriptor,
                                                            const uint8_t*& data) {
  descriptor = {};
  data = nullptr;
  if (CheckNullFlag(field_no, record_buffer)) return;
  ReadBlob(session_id, record_buffer, field_no);
  TORBDiskBLOBCache* cache = AttachedCache(record_buffer, field_no);
  if (cache == nullptr) RaiseORB(20291, "Cannot read BLOB field value");
  descriptor.NumBlocks = cache->NumBlocks;
  descriptor.UncompressedSize = cache->UncompressedSize;
  descriptor.CompressedSize = static_cast<int64_t>(cache->BlobData.size());
  data = cache->BlobData.data();
}

void TORBDiskBlobManager::SetDirectBlobInfoFromRecordBuffer(int32_t, uint8_t* record_buffer, int32_t field_no,
                                                            const TORBPartialTemporaryBLOBDescriptor& descriptor,
                                                            const uint8_t* data) {
  TORBDiskBLOBCache loaded;
  loaded.NumBlocks = descriptor.NumBlocks;
  loaded.UncompressedSize = descriptor.UncompressedSize;
  loaded.Modified = true;
  if (descriptor.CompressedSize > 0) loaded.BlobData.assign(data, data + descriptor.CompressedSize);
  TORBDiskBLOBCache* cache = NewCache();
  *cache = std::move(loaded);
  Attach(record_buffer, field_no, cache);
  SetNullFlag(descriptor.CompressedSize <= 0, field_no, record_buffer);
}

// Table operations.

void TORBDiskBlobManager::Empty(int32_t session_id) {
  if (!LFieldManager->BlobFieldsPresent()) return;
  if (LRecordManager != nullptr && LRecordManager->GetRecordCount() > 0) {
    std::vector<uint8_t> buffer(static_cast<size_t>(LFieldManager->GetMemoryRecordBufferSize()));
    TORBNavigationInfo navigation;
    navigation.GetRecordMode = grmNext;
    navigation.FirstPosition = true;
    navigation.RecordBuffer = buffer.data();
    for (;;) {
      LRecordManager->GetRecordBuffer(session_id, navigation);
      if (navigation.GetRecordResult != grrOK) break;
      DeleteBlobs(session_id, buffer.data());
    }
  }
  if (FBlobPageIndex.RootPageNo() >= 0) FBlobPageIndex.EmptyIndex(session_id);
}

void TORBDiskBlobManager::Delete(int32_t session_id) {
  Empty(session_id);
  if (FBlobPageIndex.RootPageNo() >= 0) FBlobPageIndex.DropIndex(session_id);
}

void TORBDiskBlobManager::LoadMetadata(TStream& stream) {
  uint8_t bytes[4];
  LoadDataFromStream(bytes, 4, stream, kErrBlobMetadataRead);
  FBlobPageIndex.OpenIndex(LoadI32LE(bytes));
}

void TORBDiskBlobManager::SaveMetadata(TStream& stream) const {
  uint8_t bytes[4];
  StoreI32LE(bytes, FBlobPageIndex.RootPageNo());
  SaveDataToStream(bytes, 4, stream, kErrBlobMetadataWrite);
}

void TORBDiskBlobManager::CreateBlobPageIndex() { FBlobPageIndex.CreateIndex(TORBPageManager::kSystemSession); }

// Stored values.

TORBPageItemID TORBDiskBlobManager::StoreValue(int32_t session_id, const TORBDiskBLOBCache& cache) {
  return IsSmall(static_cast<int64_t>(cache.BlobData.size())) ? StoreSmall(session_id, cache)
                                                              : StoreLarge(session_id, cache);
}

TORBPageItemID TORBDiskBlobManager::StoreSmall(int32_t session_id, const TORBDiskBLOBCache& cache) {
  const int32_t entry_size = static_cast<int32_t>(cache.BlobData.size()) + TORBDiskBLOBHeader::kSize;
  int32_t page_no = 0;
  int32_t size_in_index = 0;
  TORBPageGuard page;
  if (FBlobPageIndex.FindPageForNewBlob(session_id, entry_size, page_no)) {
    size_in_index = FBlobPageIndex.GetBlobPageAllocatedSpace(session_id, page_no);
    page = LPageManager->GetPageGuard(session_id, page_no, kPageTypeTableBlob);
  } else {
    page = LPageManager->AddPageGuard(session_id, kPageTypeTableBlob);
  }
  TORBSmallBlobPage blob_page(page);
  uint16_t blob_id = 0;
  blob_page.AddBlob(cache, size_in_index, blob_id);
  FBlobPageIndex.AddBlob(session_id, entry_size, page.PageNo());
  return {page.PageNo(), blob_id};
}

TORBPageItemID TORBDiskBlobManager::StoreLarge(int32_t session_id, const TORBDiskBLOBCache& cache) {
  const int32_t d = LPageManager->GetPageDataSize();
  const uint8_t* bytes = cache.BlobData.data();
  const int64_t size = static_cast<int64_t>(cache.BlobData.size());
  THeaderLockHold hold(LPageManager);
  TORBPageGuard first = LPageManager->AddPageGuard(session_id, kPageTypeTableBlob);
  TORBDiskBLOBHeader header;
  header.NumBlocks = cache.NumBlocks;
  header.CompressedSize = size;
  header.UncompressedSize = cache.UncompressedSize;
  header.SaveTo(first->GetPageData());
  std::vector<int32_t> data_pages{first.PageNo()};

  int64_t done = std::min<int64_t>(size, d - kLargeFirstDataOffset);
  if (done > 0) std::memcpy(first->GetPageData() + kLargeFirstDataOffset, bytes, static_cast<size_t>(done));
  int32_t offset = kLargeFirstDataOffset + static_cast<int32_t>(done);
  TORBPageGuard current;  // the last data page after the first
  while (done < size) {
    current = LPageManager->AddPageGuard(session_id, kPageTypeTableBlob);
    const int64_t part = std::min<int64_t>(size - done, d);
    std::memcpy(current->GetPageData(), bytes + done, static_cast<size_t>(part));
    current.MarkDirty();
    data_pages.push_back(current.PageNo());
    done += part;
    offset = static_cast<int32_t>(part);
  }
  TORBPageGuard* list_page = current ? &current : &first;
  if (offset >= d) {
    current = LPageManager->AddPageGuard(session_id, kPageTypeTableBlob);
    list_page = &current;
    offset = 0;
  }
  TORBPageListLink link;
  link.StartPageNo = list_page->PageNo();
  link.StartOffset = static_cast<uint16_t>(offset);
  link.ItemCount = static_cast<int32_t>(data_pages.size());

  std::vector<uint8_t> list(data_pages.size() * 4);
  for (size_t i = 0; i < data_pages.size(); ++i) StoreI32LE(&list[i * 4], data_pages[i]);
  size_t written = 0;
  TORBPageGuard spill;
  while (written < list.size()) {
    if (offset >= d) {
      TORBPageGuard next = LPageManager->AddPageGuard(session_id, kPageTypeTableBlob);
      (*list_page)->SetNextPageNo(next.PageNo());
      list_page->MarkDirty();
      spill = std::move(next);
      list_page = &spill;
      offset = 0;
    }
    const size_t part = std::min<size_t>(list.size() - written, static_cast<size_t>(d - offset));
    std::memcpy((*list_page)->GetPageData() + offset, &list[written], part);
    list_page->MarkDirty();
    written += part;
    offset += static_cast<int32_t>(part);
  }
  link.SaveTo(first->GetPageData() + TORBDiskBLOBHeader::kSize);
  first.MarkDirty();
  hold.Release();
  return {first.PageNo(), kLargeBlobItemNo};
}

void TORBDiskBlobManager::LargeDamaged(int32_t page_no, int64_t size, int64_t count, int32_t list_page_no) const {
  RaiseORB(kErrLargeBlobDamaged, "Large BLOB damaged. PageNo=%d, CompressedSize=%d, ItemCount=%d, ListPageNo=%d",
           {page_no, size, count, list_page_no});
}

void TORBDiskBlobManager::ReadLargeLayout(int32_t session_id, int32_t first_page_no, TORBDiskBLOBHeader& header,
                                          std::vector<int32_t>& data_pages, std::vector<int32_t>& list_pages,
                                          TORBPageGuard* first_page, TORBPageGuard* list_start_page) {
  const int64_t d = LPageManager->GetPageDataSize();
  const int32_t page_count = LPageManager->GetPageCount();
  TORBPageListLink link;
  {
    TORBPageGuard first = LPageManager->GetPageGuard(session_id, first_page_no, kPageTypeTableBlob);
    header = TORBDiskBLOBHeader::LoadFrom(first->GetPageData());
    link = TORBPageListLink::LoadFrom(first->GetPageData() + TORBDiskBLOBHeader::kSize);
    if (first_page != nullptr) *first_page = std::move(first);
  }
  const int64_t size = header.CompressedSize;
  // The pages the stored size needs, as the writer lays them out.
  int64_t expected = -1;
  if (size >= 0 && size <= static_cast<int64_t>(page_count) * d)
    expected = 1 + (std::max<int64_t>(0, size - (d - kLargeFirstDataOffset)) + d - 1) / d;
  if (expected < 0 || link.ItemCount != expected || header.NumBlocks < 0 || header.UncompressedSize < 0 ||
      link.StartPageNo <= 0 || link.StartPageNo >= page_count || link.StartOffset >= d)
    LargeDamaged(first_page_no, size, link.ItemCount, link.StartPageNo);

  std::vector<uint8_t> list(static_cast<size_t>(link.ItemCount) * 4);
  int32_t page_no = link.StartPageNo;
  int64_t offset = link.StartOffset;
  size_t read = 0;
  list_pages.clear();
  while (read < list.size()) {
    if (page_no <= 0 || page_no >= page_count || list_pages.size() > list.size() / static_cast<size_t>(d) + 2)
      LargeDamaged(first_page_no, size, link.ItemCount, page_no);
    TORBPageGuard page = LPageManager->GetPageGuard(session_id, page_no, kPageTypeTableBlob);
    list_pages.push_back(page_no);
    const size_t part = std::min<size_t>(list.size() - read, static_cast<size_t>(d - offset));
    std::memcpy(&list[read], page->GetPageData() + offset, part);
    read += part;
    offset = 0;
    page_no = page->GetNextPageNo();
    if (list_start_page != nullptr && list_pages.size() == 1) *list_start_page = std::move(page);
  }
  data_pages.resize(static_cast<size_t>(link.ItemCount));
  for (size_t i = 0; i < data_pages.size(); ++i) {
    data_pages[i] = LoadI32LE(&list[i * 4]);
    if (data_pages[i] <= 0 || data_pages[i] >= page_count || (i == 0 && data_pages[i] != first_page_no))
      LargeDamaged(first_page_no, size, link.ItemCount, data_pages[i]);
  }
}

void TORBDiskBlobManager::LoadLarge(int32_t session_id, int32_t first_page_no, TORBDiskBLOBCache& cache) {
  const int64_t d = LPageManager->GetPageDataSize();
  TORBDiskBLOBHeader header;
  std::vector<int32_t> data_pages;
  std::vector<int32_t> list_pages;
  // The first page and the one the list begins on (as written, the last
  // data page) stay held from reading the layout: no page is got twice.
  TORBPageGuard first;
  TORBPageGuard list_start;
  ReadLargeLayout(session_id, first_page_no, header, data_pages, list_pages, &first, &list_start);
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(header.CompressedSize));
  for (size_t i = 0; i < data_pages.size() && static_cast<int64_t>(bytes.size()) < header.CompressedSize; ++i) {
    const int64_t from = i == 0 ? kLargeFirstDataOffset : 0;
    const int64_t part = std::min<int64_t>(header.CompressedSize - static_cast<int64_t>(bytes.size()), d - from);
    TORBPageGuard other;
    TORBPageGuard* page = &first;  // data_pages[0] is the first page, checked
    if (i > 0 && list_start && data_pages[i] == list_start.PageNo()) {
      page = &list_start;
    } else if (i > 0) {
      other = LPageManager->GetPageGuard(session_id, data_pages[i], kPageTypeTableBlob);
      page = &other;
    }
    const uint8_t* data = (*page)->GetPageData() + from;
    bytes.insert(bytes.end(), data, data + part);
  }
  cache.NumBlocks = header.NumBlocks;
  cache.UncompressedSize = header.UncompressedSize;
  cache.BlobData = std::move(bytes);
  cache.Modified = false;
}

bool TORBDiskBlobManager::LoadSmall(int32_t session_id, const TORBPageItemID& location, TORBDiskBLOBCache& cache) {
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, location.PageNo, kPageTypeTableBlob);
  return TORBSmallBlobPage(page).ReadBlob(cache, location.PageItemNo);
}

bool TORBDiskBlobManager::IsProbablyLargeBlob(int32_t session_id, int32_t page_no) {
  TORBDiskBLOBHeader header;
  TORBPageListLink link;
  try {
    TORBPageGuard page = LPageManager->GetPageGuard(session_id, page_no, kPageTypeTableBlob);
    header = TORBDiskBLOBHeader::LoadFrom(page->GetPageData());
    link = TORBPageListLink::LoadFrom(page->GetPageData() + TORBDiskBLOBHeader::kSize);
  } catch (const EORBException&) {
    return false;  // a header that cannot be read is no large BLOB's
  }
  const int64_t d = LPageManager->GetPageDataSize();
  const int64_t c = link.ItemCount;
  return header.CompressedSize < c * d && header.CompressedSize > (c - 2) * d;
}

bool TORBDiskBlobManager::LoadValue(int32_t session_id, const TORBPageItemID& location, TORBDiskBLOBCache& cache) {
  cache = {};
  if (location.PageItemNo == kLargeBlobItemNo) {
    LoadLarge(session_id, location.PageNo, cache);
    return true;
  }
  if (location.PageItemNo != 0xFF) return LoadSmall(session_id, location, cache);
  // Either kind: the likelier first, the other when it fails.
  if (IsProbablyLargeBlob(session_id, location.PageNo)) {
    try {
      LoadLarge(session_id, location.PageNo, cache);
      return true;
    } catch (const EORBException&) {
      cache = {};
      return LoadSmall(session_id, location, cache);
    }
  }
  bool small_failed = false;
  try {
    if (LoadSmall(session_id, location, cache)) return true;
  } catch (const EORBException&) {
    cache = {};
    small_failed = true;
  }
  // A small page without the id: a large BLOB, or no value at all.
  if (small_failed) {
    LoadLarge(session_id, location.PageNo, cache);
    return true;
  }
  try {
    LoadLarge(session_id, location.PageNo, cache);
    return true;
  } catch (const EORBException&) {
    cache = {};
    return false;
  }
}

void TORBDiskBlobManager::DeleteSmall(int32_t session_id, const TORBPageItemID& location) {
  int32_t entry_size = 0;
  bool empty = false;
  {
    TORBPageGuard page = LPageManager->GetPageGuard(session_id, location.PageNo, kPageTypeTableBlob);
    TORBSmallBlobPage blob_page(page);
    blob_page.DeleteBlob(location.PageItemNo, entry_size);
    empty = blob_page.GetBlobCount() == 0;
  }
  if (empty) LPageManager->RemovePage(session_id, location.PageNo);
  FBlobPageIndex.DeleteBlob(session_id, entry_size, location.PageNo);
}

void TORBDiskBlobManager::DeleteLarge(int32_t session_id, int32_t first_page_no) {
  TORBDiskBLOBHeader header;
  std::vector<int32_t> data_pages;
  std::vector<int32_t> list_pages;
  ReadLargeLayout(session_id, first_page_no, header, data_pages, list_pages);
  for (int32_t page_no : data_pages) LPageManager->RemovePage(session_id, page_no);
  for (int32_t page_no : list_pages) {
    if (std::find(data_pages.begin(), data_pages.end(), page_no) == data_pages.end())
      LPageManager->RemovePage(session_id, page_no);
  }
}

void TORBDiskBlobManager::DeleteValue(int32_t session_id, const TORBPageItemID& location) {
  if (location.PageItemNo == kLargeBlobItemNo) return DeleteLarge(session_id, location.PageNo);
  if (location.PageItemNo != 0xFF) return DeleteSmall(session_id, location);
  if (IsProbablyLargeBlob(session_id, location.PageNo)) {
    try {
      return DeleteLarge(session_id, location.PageNo);
    } catch (const EORBException&) {
      return DeleteSmall(session_id, location);
    }
  }
  try {
    return DeleteSmall(session_id, location);
  } catch (const EORBException&) {
    return DeleteLarge(session_id, location.PageNo);
  }
}

}  // namespace orb
