#include "engine/disk/free_space.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/disk_page_manager.h"

namespace orb {
namespace {

constexpr std::string_view kNotAddressed = "Page: %d cannot be addressed. TotalPageCount=%d";
constexpr int kFirstGrowthStep = 6;

// EAM extent codes.
constexpr uint8_t kExtentNeverWritten = 0;
constexpr uint8_t kExtentHasFree = 1;
constexpr uint8_t kExtentFull = 3;

}  // namespace

TORBDatabaseFreeSpaceManager::TORBDatabaseFreeSpaceManager(TORBDiskPageManager* page_manager)
    : LPageManager(page_manager) {
  const TORBDBHeader& header = page_manager->GetDbHeader();
  const int64_t data_size = page_manager->GetPageDataSize();
  FPageCountInExtent = header.PageCountInExtent;
  FPFSPage_PagesAddressed = 8 * data_size;
  FEAMPage_ExtentsAddressed = 4 * data_size;
  FEAMPage_PagesAddressed = 4 * data_size * FPageCountInExtent;
  FLastUsedPageNo = header.LastUsedPageNo;
  FTotalPageCount = header.TotalPageCount;
  FPfsDivisor = TDivisor(FPFSPage_PagesAddressed);
  FEamDivisor = TDivisor(FEAMPage_PagesAddressed);
}

TORBDatabaseFreeSpaceManager::TDivisor::TDivisor(int64_t divisor) : Divisor(divisor) {
  // n % d == 0 exactly when n * M <= M - 1 (mod 2^64), M = floor((2^64 - 1) / d) + 1,
  // for every n and d below 2^32.
  if (divisor > 0 && divisor <= INT32_MAX) Magic = UINT64_MAX / static_cast<uint64_t>(divisor) + 1;
}

bool TORBDatabaseFreeSpaceManager::TDivisor::Divides(int64_t n) const {
  if (Magic != 0 && n >= 0 && n <= INT32_MAX) return static_cast<uint64_t>(n) * Magic <= Magic - 1;
  return n % Divisor == 0;
}

bool TORBDatabaseFreeSpaceManager::IsPagePfsOrEam(int64_t page_no) const {
  if (page_no < 0) return false;
  return FPfsDivisor.Divides(page_no) || FEamDivisor.Divides(page_no) ||
         (FPfsDivisor.Divides(page_no - 1) && FEamDivisor.Divides(page_no - 1));
}

void TORBDatabaseFreeSpaceManager::CheckPageNoForSystemPages(int32_t page_no) const {
  if (IsPagePfsOrEam(page_no)) RaiseORB(30434, "Cannot delete PFS or EAM page. PageNo=%d", {page_no});
}

int64_t TORBDatabaseFreeSpaceManager::GetLastPfsPagePosition() const {
  return std::max<int64_t>(FTotalPageCount - 1, 0) / FPFSPage_PagesAddressed;
}

int64_t TORBDatabaseFreeSpaceManager::GetLastEamPagePosition() const {
  return std::max<int64_t>(FTotalPageCount - 1, 0) / FEAMPage_PagesAddressed;
}

void TORBDatabaseFreeSpaceManager::PfsPositionsForExtentPosition(int64_t extent, int64_t& first,
                                                                 int64_t& last) const {
  first = extent * FPageCountInExtent / FPFSPage_PagesAddressed;
  last = ((extent + 1) * FPageCountInExtent - 1) / FPFSPage_PagesAddressed;
}

int32_t TORBDatabaseFreeSpaceManager::GetAddPagesStep() const {
  if (FTotalPageCount == 0) return kFirstGrowthStep;
  return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(FTotalPageCount / 10, FPageCountInExtent), INT32_MAX));
}

// ---------------------------------------------------------------------------
// Direct page access

TORBDatabaseFreeSpaceManager::PagePtr TORBDatabaseFreeSpaceManager::NewPage(int64_t page_no) {
  auto page = std::make_unique<TORBPage>(LPageManager);
  TORBDiskPageManager::SetPageNo(*page, static_cast<int32_t>(page_no));
  page->AllocPageBuffer();
  return page;
}

TORBPage* TORBDatabaseFreeSpaceManager::ReadPage(int64_t page_no, uint16_t expected_type, int32_t type_error) {
  auto it = FMapPages.find(page_no);
  if (it == FMapPages.end()) {
    PagePtr page = NewPage(page_no);
    if (!LPageManager->InternalReadPage(*page)) {
      RaiseORB(20299, "Error reading database file page. Page No: %d, type %d",
               {page_no, static_cast<int>(expected_type)});
    }
    it = FMapPages.emplace(page_no, std::move(page)).first;
  }
  CheckPageType(it->second->GetPageType(), expected_type, type_error);
  return it->second.get();
}

void TORBDatabaseFreeSpaceManager::MarkDirty(TORBPage* page) {
  TORBDiskPageManager::SetPageDirty(*page, true);
  FMapsDirty = true;
}

void TORBDatabaseFreeSpaceManager::FormatMapPage(int64_t page_no, uint16_t page_type) {
  assert(HoldsHeaderLock());
  PagePtr page = NewPage(page_no);
  page->SetPageType(page_type);
  page->GetPageData()[0] = 1;
  MarkDirty(page.get());
  FMapPages[page_no] = std::move(page);
}

bool TORBDatabaseFreeSpaceManager::HoldsHeaderLock() const { return LPageManager->FLockDBHeaderCount > 0; }

// A file opened for writing by one single-user process has no other writer
// (other opens get it read-only): its maps and page counts change only
// here, so they stay in memory between calls, as for an exclusive open, and
// reach the file with the header (every commit, every header save).
bool TORBDatabaseFreeSpaceManager::KeepsMaps() const {
  return LPageManager->KeepsMapPagesCached() ||
         (!LPageManager->IsDiskMultiUser() && !LPageManager->GetReadOnly() && !ORBIsDesignMode());
}

void TORBDatabaseFreeSpaceManager::DropMaps() {
  FMapPages.clear();
  FMapsDirty = false;
}

void TORBDatabaseFreeSpaceManager::ForgetMaps() {
  // Changes kept while the file was held exclusively are written first.
  if (FKeptMaps) {
    FKeptMaps = false;
    FlushChanges(true);
  }
  DropMaps();
  FHeaderStale = false;
}

void TORBDatabaseFreeSpaceManager::DropMapsFrom(int64_t first_page_no) {
  FMapPages.erase(FMapPages.lower_bound(first_page_no), FMapPages.end());
}

void TORBDatabaseFreeSpaceManager::FlushChanges(bool with_header) {
  if (FFlushing) return;
  FFlushing = true;
  try {
    // In page order; a page stays dirty until written, so a failed flush
    // is retried by the next one.
    if (FMapsDirty) {
      for (auto& [no, page] : FMapPages) {
        if (!page->IsDirty()) continue;
        LPageManager->InternalWritePage(*page);
        TORBDiskPageManager::SetPageDirty(*page, false);
      }
      FMapsDirty = false;
    }
    if (with_header && FHeaderStale) {
      LPageManager->SaveDBHeader(true);
      FHeaderStale = false;
    }
  } catch (...) {
    FFlushing = false;
    throw;
  }
  FFlushing = false;
}

// ---------------------------------------------------------------------------
// Counts shared through the database header

void TORBDatabaseFreeSpaceManager::ReReadPageCountVariables() {
  assert(HoldsHeaderLock());
  // An exclusively opened file's header changes only through this process.
  if (!KeepsMaps()) LPageManager->LoadDBHeader();
  FLastUsedPageNo = LPageManager->GetDbHeader().LastUsedPageNo;
  FTotalPageCount = LPageManager->GetDbHeader().TotalPageCount;
}

void TORBDatabaseFreeSpaceManager::ReWritePageCountVariables() {
  assert(HoldsHeaderLock());
  TORBDBHeader& header = LPageManager->DBHeader();
  // ExtendFile counts in memory only, so FHeaderStale may already be set.
  if (header.LastUsedPageNo != FLastUsedPageNo || header.TotalPageCount != FTotalPageCount) {
    header.LastUsedPageNo = FLastUsedPageNo;
    header.TotalPageCount = FTotalPageCount;
    FHeaderStale = true;
  }
  if (!KeepsMaps()) FlushChanges(true);
}

template <typename Body>
auto TORBDatabaseFreeSpaceManager::UnderHeaderLock(int32_t lock_error, Body&& body, bool in_memory) {
  const bool keep = KeepsMaps();
  assert(!in_memory || keep);
  if (in_memory)
    LPageManager->LockDBHeaderInMemory();
  else if (!LPageManager->TryLock([this] { return LPageManager->LockDBHeader(); }))
    RaiseORB(lock_error, "Database is locked");
  ++FLockDepth;
  try {
    // Another process may have changed the maps since the lock was last
    // held.
    if (!keep) ForgetMaps();
    FKeptMaps = keep;
    ReReadPageCountVariables();
    auto result = body();
    ReWritePageCountVariables();
    --FLockDepth;
    if (!keep) DropMaps();
    LPageManager->UnlockDBHeader();
    return result;
  } catch (...) {
    --FLockDepth;
    // What was changed before the failure is kept, as it would be had
    // every change been written at once.
    try {
      ReWritePageCountVariables();
    } catch (...) {
    }
    if (!keep) {
      try {
        FlushChanges(true);
      } catch (...) {
      }
      DropMaps();
    }
    try {
      LPageManager->UnlockDBHeader();
    } catch (...) {
    }
    throw;
  }
}

// ---------------------------------------------------------------------------
// Allocation and release

void TORBDatabaseFreeSpaceManager::CheckWritable(int32_t page_no) const {
  // Refused before the maps change in memory: a failed write would leave
  // them (and the page counts of the header) pending for every later write.
  if (LPageManager->GetReadOnly()) {
    RaiseORB(kErrReadOnlyAllocation, "Database file '%s' is opened read-only: page %d cannot be allocated or freed",
             {LPageManager->DatabaseFile().GetFileName(), page_no});
  }
}

int32_t TORBDatabaseFreeSpaceManager::GetPage() {
  CheckWritable(-1);
  // The header byte orders the changes of the header and the maps between
  // processes. While the maps are kept (KeepsMaps: no other process
  // allocates in this file) an allocation changes the maps and counts in
  // memory and lengthens the file, nothing else: the stored header and
  // maps, which other opens read under the byte, stay as they are until a
  // later write flushes them. So the allocation takes no byte, only the
  // in-process nesting its helpers assert. Freeing may cut the file after
  // saving the header, and keeps the byte.
  return UnderHeaderLock(
      20231,
      [this] {
        int32_t result = FindAndReusePage();
        if (result == -1) result = AddNewPageAndExtentFile();
        if (result > FLastUsedPageNo) FLastUsedPageNo = result;
        return result;
      },
      KeepsMaps());
}

void TORBDatabaseFreeSpaceManager::FreePage(int32_t page_no) {
  CheckPageNoForSystemPages(page_no);
  CheckWritable(page_no);
  UnderHeaderLock(20232, [this, page_no] {
    SetPageUsage(page_no, false);
    FLastUsedPageNo = FindLastUsedPageNo();
    TruncateFile();
    return 0;
  });
}

void TORBDatabaseFreeSpaceManager::SetPageUsage(int32_t page_no, bool used) {
  assert(HoldsHeaderLock());
  SetPageUsageToPFS(page_no, used);
  SetPageUsageToEAM(page_no);
}

void TORBDatabaseFreeSpaceManager::SetPageUsageToPFS(int32_t page_no, bool used) {
  assert(HoldsHeaderLock());
  if (page_no < 0 || page_no >= FTotalPageCount) RaiseORB(30430, kNotAddressed, {page_no, FTotalPageCount});
  TORBPage* pfs = ReadPage(PfsPageNoForPageNo(page_no), kPageTypePFS, 30424);
  const int64_t index = page_no % FPFSPage_PagesAddressed;
  uint8_t& byte = pfs->GetPageData()[index / 8];
  const uint8_t mask = static_cast<uint8_t>(1u << (index % 8));
  const bool set = (byte & mask) != 0;
  if (used && set) RaiseORB(30425, "Page: %d already used", {page_no});
  if (!used && !set) RaiseORB(30427, "Page: %d already free", {page_no});
  byte ^= mask;
  MarkDirty(pfs);
}

void TORBDatabaseFreeSpaceManager::SetPageUsageToEAM(int32_t page_no) {
  assert(HoldsHeaderLock());
  if (page_no < 0 || page_no >= FTotalPageCount) RaiseORB(30431, kNotAddressed, {page_no, FTotalPageCount});
  TORBPage* eam = ReadPage(EamPageNoForPageNo(page_no), kPageTypeEAM, 30428);
  const int64_t extent = page_no / FPageCountInExtent;
  const int64_t entry = extent % FEAMPage_ExtentsAddressed;
  uint8_t& byte = eam->GetPageData()[entry / 4];
  const int shift = static_cast<int>(2 * (entry % 4));

  int64_t used = 0;
  int64_t free = 0;
  const int64_t first = extent * FPageCountInExtent;
  for (int64_t n = first; n < first + FPageCountInExtent && (used == 0 || free == 0); ++n) {
    if (InternalPageUsage(static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)))) {
      ++used;
    } else {
      ++free;
    }
  }
  uint8_t code = kExtentHasFree;
  if (used > 0 && free == 0) {
    code = kExtentFull;
  } else if (used == 0 && free == 0) {
    code = kExtentNeverWritten;
  }
  const uint8_t updated = static_cast<uint8_t>((byte & ~(3u << shift)) | (code << shift));
  if (updated == byte) return;
  byte = updated;
  MarkDirty(eam);
}

bool TORBDatabaseFreeSpaceManager::GetPageUsageFromPFS(int32_t page_no) {
  if (FLockDepth > 0) return InternalPageUsage(page_no);
  if (KeepsMaps()) {
    FKeptMaps = true;
    return InternalPageUsage(page_no);
  }
  // Outside a locked call a shared file's maps are read afresh.
  ForgetMaps();
  try {
    const bool used = InternalPageUsage(page_no);
    DropMaps();
    return used;
  } catch (...) {
    DropMaps();
    throw;
  }
}

bool TORBDatabaseFreeSpaceManager::InternalPageUsage(int32_t page_no) {
  const int64_t pfs_no = PfsPageNoForPageNo(page_no);
  if (pfs_no > FLastUsedPageNo || pfs_no >= FTotalPageCount) return false;
  const TORBPage* pfs = ReadPage(pfs_no, kPageTypePFS, 30430);
  const int64_t index = page_no % FPFSPage_PagesAddressed;
  return (pfs->GetPageData()[index / 8] & (1u << (index % 8))) != 0;
}

int32_t TORBDatabaseFreeSpaceManager::FindAndReusePage() {
  assert(HoldsHeaderLock());
  if (FLastUsedPageNo == -1) return -1;
  const int64_t last = GetLastEamPagePosition();
  int32_t result = SearchEamPage(last);
  for (int64_t position = 0; result == -1 && position < last; ++position) result = SearchEamPage(position);
  if (result != -1) SetPageUsage(result, true);
  return result;
}

int32_t TORBDatabaseFreeSpaceManager::SearchEamPage(int64_t position) {
  assert(HoldsHeaderLock());
  const TORBPage* eam = ReadPage(EamPageNoForEamPagePosition(position), kPageTypeEAM, 30423);
  const uint8_t* data = eam->GetPageData();
  const int64_t size = LPageManager->GetPageDataSize();
  int64_t extent = -1;
  for (int64_t i = 0; i < size && extent == -1; ++i) {
    if (data[i] == 0xFF) continue;
    for (int k = 0; k < 4; ++k) {
      const uint8_t code = (data[i] >> (2 * k)) & 3;
      if (code == kExtentNeverWritten || code == kExtentHasFree) {
        extent = position * FEAMPage_ExtentsAddressed + 4 * i + k;
        break;
      }
    }
    break;  // only the first byte with room is looked at
  }
  if (extent == -1) return -1;

  int64_t first = 0;
  int64_t last = 0;
  PfsPositionsForExtentPosition(extent, first, last);
  if (PfsPageNoForPfsPagePosition(first) >= FTotalPageCount) return -1;
  while (PfsPageNoForPfsPagePosition(last) >= FTotalPageCount) --last;

  int64_t candidate = -1;
  for (int64_t pos = first; pos <= last; ++pos) {
    const int64_t pfs_no = PfsPageNoForPfsPagePosition(pos);
    const TORBPage* pfs = ReadPage(pfs_no, kPageTypePFS, 30423);
    const uint8_t* bits = pfs->GetPageData();
    for (int64_t i = 0; i < size; ++i) {
      if (bits[i] == 0xFF) continue;
      int b = 0;
      while (bits[i] & (1u << b)) ++b;
      candidate = pfs_no + 8 * i + b;
      break;
    }
  }
  return candidate >= 0 && candidate < FTotalPageCount ? static_cast<int32_t>(candidate) : -1;
}

int32_t TORBDatabaseFreeSpaceManager::FindLastUsedPageNo() {
  assert(HoldsHeaderLock());
  if (FLastUsedPageNo == -1) return -1;
  const int64_t size = LPageManager->GetPageDataSize();
  for (int64_t pos = GetLastPfsPagePosition(); pos >= 0; --pos) {
    const int64_t pfs_no = PfsPageNoForPfsPagePosition(pos);
    const TORBPage* pfs = ReadPage(pfs_no, kPageTypePFS, 30432);
    const uint8_t* bits = pfs->GetPageData();
    for (int64_t i = size - 1; i >= 0; --i) {
      if (bits[i] == 0) continue;
      for (int b = 7; b >= 0; --b) {
        if ((bits[i] & (1u << b)) == 0) continue;
        const int64_t page_no = pfs_no + 8 * i + b;
        if (!IsPagePfsOrEam(page_no)) return static_cast<int32_t>(page_no);
      }
    }
  }
  return -1;
}

int32_t TORBDatabaseFreeSpaceManager::AddNewPageAndExtentFile() {
  assert(HoldsHeaderLock());
  const bool empty = FLastUsedPageNo == -1;
  const int64_t old_last_pfs = empty ? -1 : GetLastPfsPagePosition();
  const int64_t old_last_eam = empty ? -1 : GetLastEamPagePosition();

  int64_t page_no = FLastUsedPageNo;
  do {
    ++page_no;
  } while (IsPagePfsOrEam(page_no));
  if (page_no > INT32_MAX) RaiseORB(30430, kNotAddressed, {page_no, FTotalPageCount});

  int64_t step = GetAddPagesStep();
  if (page_no >= FTotalPageCount + step) step = page_no - FTotalPageCount + 1;
  while (IsPagePfsOrEam(FTotalPageCount + step - 1)) ++step;  // never end the file with a map page
  if (FTotalPageCount + step > INT32_MAX) RaiseORB(30430, kNotAddressed, {FTotalPageCount + step - 1, FTotalPageCount});

  LPageManager->ExtendFile(static_cast<int32_t>(step));
  FTotalPageCount = LPageManager->GetDbHeader().TotalPageCount;
  FHeaderStale = true;

  const int64_t new_last_pfs = GetLastPfsPagePosition();
  const int64_t new_last_eam = GetLastEamPagePosition();
  for (int64_t pos = old_last_pfs + 1; pos <= new_last_pfs; ++pos) {
    FormatMapPage(PfsPageNoForPfsPagePosition(pos), kPageTypePFS);
  }
  for (int64_t pos = old_last_eam + 1; pos <= new_last_eam; ++pos) {
    FormatMapPage(EamPageNoForEamPagePosition(pos), kPageTypeEAM);
  }
  FLastUsedPageNo = static_cast<int32_t>(page_no);
  for (int64_t pos = old_last_eam + 1; pos <= new_last_eam; ++pos) {
    SetPageUsageToPFS(static_cast<int32_t>(EamPageNoForEamPagePosition(pos)), true);
  }
  for (int64_t pos = old_last_pfs + 1; pos <= new_last_pfs; ++pos) {
    SetPageUsageToEAM(static_cast<int32_t>(PfsPageNoForPfsPagePosition(pos)));
  }
  SetPageUsage(static_cast<int32_t>(page_no), true);
  return static_cast<int32_t>(page_no);
}

void TORBDatabaseFreeSpaceManager::TruncateFile() {
  assert(HoldsHeaderLock());
  const int64_t step = GetDelPagesStep();
  const int64_t tail = static_cast<int64_t>(FTotalPageCount) - FLastUsedPageNo - 1;
  if (tail < step) return;
  int64_t new_total = FTotalPageCount - tail / step * step;
  // The file never ends with a map page: growth assumes that the map pages
  // of every range it already covers exist.
  while (new_total > 0 && IsPagePfsOrEam(new_total - 1)) --new_total;
  CutFileTo(new_total);
}

void TORBDatabaseFreeSpaceManager::TruncateToLastUsedPage() {
  UnderHeaderLock(20232, [this] {
    // The last used page is never a map page, so the file keeps ending with
    // an ordinary page.
    const int64_t new_total = static_cast<int64_t>(FLastUsedPageNo) + 1;
    if (new_total < FTotalPageCount) CutFileTo(new_total);
    return 0;
  });
}

void TORBDatabaseFreeSpaceManager::CutFileTo(int64_t new_total) {
  assert(HoldsHeaderLock());
  // An EAM page that goes while the PFS page holding its bit stays is
  // marked free there, so that it can be formatted again later.
  for (int64_t pos = new_total / FEAMPage_PagesAddressed; pos <= GetLastEamPagePosition(); ++pos) {
    const int64_t eam_no = EamPageNoForEamPagePosition(pos);
    if (eam_no >= new_total && eam_no < FTotalPageCount && PfsPageNoForPageNo(eam_no) < new_total) {
      SetPageUsageToPFS(static_cast<int32_t>(eam_no), false);
    }
  }
  LPageManager->DBHeader().LastUsedPageNo = FLastUsedPageNo;
  LPageManager->TruncateFile(static_cast<int32_t>(FTotalPageCount - new_total));
  FTotalPageCount = LPageManager->GetDbHeader().TotalPageCount;
  DropMapsFrom(FTotalPageCount);
}

}  // namespace orb
