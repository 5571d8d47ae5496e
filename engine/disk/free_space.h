#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "engine/table/page.h"

namespace orb {

class TORBDiskPageManager;

// Allocation maps of a database file. PFS pages hold one bit per page (1 =
// in use); EAM pages hold two bits per extent of X pages (3 = all in use,
// 1 = some free, 0 = never written). With D data bytes per page, a PFS page
// covers P = 8D pages from its own number on, an EAM page E = 4DX pages.
// The PFS page of range j is page jP; the EAM page of range j is page jE,
// or jE + 1 when jE is a PFS page. With 4096-byte pages and X = 8:
// P = 32448, E = 129792; PFS pages 0, 32448, ..., EAM pages 1, 129793, ...
// A file never ends with a map page.
//
// PFS page (page type 3), stored form:
// | offset | size | type  | meaning                                        |
// |      0 |   40 | bytes | page header (TORBDiskPageHeader), PageType 3   |
// | 40 + i |    1 | uint8 | usage of pages jP + 8i .. jP + 8i + 7: bit b   |
// |        |      |       | (value 1 << b, least significant bit first) is |
// |        |      |       | page jP + 8i + b; 1 = in use, 0 = free         |
// A new PFS page has data byte 0 = 0x01 (the PFS page itself in use), every
// other byte 0.
//
// EAM page (page type 2), stored form:
// | offset | size | type  | meaning                                        |
// |      0 |   40 | bytes | page header (TORBDiskPageHeader), PageType 2   |
// | 40 + i |    1 | uint8 | codes of extents x = 4Dj + 4i + k, k = 0..3:   |
// |        |      |       | bits 2k..2k+1 (lowest pair first) hold extent  |
// |        |      |       | x's code; extent x is pages xX .. xX + X - 1   |
// Codes: 3 every page of the extent in use; 1 at least one page free; 0
// never written; 2 is never stored. A new EAM page has data
// byte 0 = 0x01 (extent 0 of its range marked "some free"), every other
// byte 0; the search skips bytes of 0xFF and looks only at the first other
// byte.
//
// Map pages are never encrypted and are changed under the database header
// lock, so that processes sharing the file allocate one at a time. A shared
// file's map pages are kept only for one locked call, whose changes are on
// disk when it returns. A file opened exclusively keeps them, and the page
// counts of the header, in memory between calls; FlushChanges writes them,
// and the page manager calls it before anything else reaches the file (so
// a page is marked in use on disk before its contents are written).
class TORBDatabaseFreeSpaceManager {
 public:
  explicit TORBDatabaseFreeSpaceManager(TORBDiskPageManager* page_manager);

  // Whether map pages and counts stay in memory between calls (no other
  // process changes them while this one has the file open).
  bool KeepsMaps() const;

  // A page number now marked in use (the file grows when none is free).
  int32_t GetPage();
  // Marks the page free and shrinks the file when enough of its end is free.
  void FreePage(int32_t page_no);
  // 30434 for a map page.
  void CheckPageNoForSystemPages(int32_t page_no) const;
  // Cuts every page after the last used one (20232 when the header lock
  // cannot be taken).
  void TruncateToLastUsedPage();

  int32_t GetAddPagesStep() const;
  int32_t GetDelPagesStep() const { return GetAddPagesStep(); }

  // Placement of map pages (64-bit: page ranges of large page sizes exceed
  // 32 bits).
  bool IsPagePfsOrEam(int64_t page_no) const;
  int64_t PfsPageNoForPageNo(int64_t page_no) const { return page_no / FPFSPage_PagesAddressed * FPFSPage_PagesAddressed; }
  int64_t PfsPageNoForPfsPagePosition(int64_t position) const { return position * FPFSPage_PagesAddressed; }
  int64_t GetLastPfsPagePosition() const;
  int64_t EamPageNoForEamPagePosition(int64_t position) const {
    return CorrectEamPageNo(position * FEAMPage_PagesAddressed);
  }
  int64_t EamPageNoForPageNo(int64_t page_no) const {
    return EamPageNoForEamPagePosition(page_no / FEAMPage_PagesAddressed);
  }
  int64_t EamPageNoToEamPagePosition(int64_t page_no) const { return page_no / FEAMPage_PagesAddressed; }
  int64_t GetLastEamPagePosition() const;
  int64_t GetLastEamPageNo() const { return EamPageNoForEamPagePosition(GetLastEamPagePosition()); }
  int64_t CorrectEamPageNo(int64_t page_no) const {
    return page_no % FPFSPage_PagesAddressed == 0 ? page_no + 1 : page_no;
  }
  // First and last PFS positions covering extent `extent`.
  void PfsPositionsForExtentPosition(int64_t extent, int64_t& first, int64_t& last) const;

  // Whether the PFS marks the page in use (a PFS page past the last used
  // page is not read: everything it covers is free).
  bool GetPageUsageFromPFS(int32_t page_no);

  // Writes the changed map pages, then the header when its page counts
  // changed and `with_header`.
  void FlushChanges(bool with_header);
  // The header is being saved with the current counts.
  void HeaderSaved() { FHeaderStale = false; }
  // Forgets every cached map page, changed ones included: the file was
  // rolled back under them, so that the maps are read afresh.
  void DiscardMaps() {
    DropMaps();
    FKeptMaps = false;
    FHeaderStale = false;
  }

  int32_t GetLastUsedPageNo() const { return FLastUsedPageNo; }
  int32_t GetTotalPageCount() const { return FTotalPageCount; }
  int64_t GetPFSPagesAddressed() const { return FPFSPage_PagesAddressed; }
  int64_t GetEAMPagesAddressed() const { return FEAMPage_PagesAddressed; }
  bool GetSuppressDBHeaderErrors() const { return FSuppressDBHeaderErrors; }
  void SetSuppressDBHeaderErrors(bool on) { FSuppressDBHeaderErrors = on; }

 private:
  using PagePtr = std::unique_ptr<TORBPage>;

  PagePtr NewPage(int64_t page_no);
  // A map page, read when not cached, with its type checked (`type_error`
  // on mismatch).
  TORBPage* ReadPage(int64_t page_no, uint16_t expected_type, int32_t type_error);
  void MarkDirty(TORBPage* page);
  // This manager's database header lock is taken (UnderHeaderLock).
  bool HoldsHeaderLock() const;
  // Raises kErrReadOnlyAllocation on a file opened for reading only.
  void CheckWritable(int32_t page_no) const;
  void DropMaps();
  // Drops the cache before reading a shared file's maps afresh.
  void ForgetMaps();
  // Drops cached map pages from `first_page_no` on (the file was cut).
  void DropMapsFrom(int64_t first_page_no);
  bool InternalPageUsage(int32_t page_no);

  // The map and count work below REQUIRES: HoldsHeaderLock() (asserted).
  void SetPageUsage(int32_t page_no, bool used);
  void SetPageUsageToPFS(int32_t page_no, bool used);
  void SetPageUsageToEAM(int32_t page_no);
  int32_t FindAndReusePage();
  int32_t SearchEamPage(int64_t position);
  int32_t FindLastUsedPageNo();
  int32_t AddNewPageAndExtentFile();
  void FormatMapPage(int64_t page_no, uint16_t page_type);
  void TruncateFile();
  // Cuts the file to `new_total` pages, keeping the maps of what stays valid.
  void CutFileTo(int64_t new_total);
  void ReReadPageCountVariables();
  void ReWritePageCountVariables();
  // Runs `body` under the header lock (`lock_error` when not obtained),
  // saving the counts afterwards in every case. With `in_memory` the lock
  // takes no file byte (LockDBHeaderInMemory). REQUIRES for `in_memory`:
  // KeepsMaps().
  template <typename Body>
  auto UnderHeaderLock(int32_t lock_error, Body&& body, bool in_memory = false);

  // Divisibility by a fixed number without a division (every page access
  // asks whether its page is a map page).
  struct TDivisor {
    TDivisor() = default;
    explicit TDivisor(int64_t divisor);
    // n is a multiple of the divisor. REQUIRES: the divisor is not 0.
    bool Divides(int64_t n) const;
    int64_t Divisor = 1;
    // 0 when the divisor does not fit 31 bits: then % decides.
    uint64_t Magic = 0;
  };

  TORBDiskPageManager* LPageManager;
  int64_t FPageCountInExtent;
  int64_t FPFSPage_PagesAddressed;
  int64_t FEAMPage_ExtentsAddressed;
  int64_t FEAMPage_PagesAddressed;
  TDivisor FPfsDivisor;
  TDivisor FEamDivisor;
  int32_t FLastUsedPageNo;
  int32_t FTotalPageCount;
  bool FSuppressDBHeaderErrors = false;
  // The header's page counts on disk lag the ones in memory.
  bool FHeaderStale = false;
  bool FFlushing = false;
  int32_t FLockDepth = 0;
  std::map<int64_t, PagePtr> FMapPages;
  bool FMapsDirty = false;
  // The cache was filled while the maps could be kept between calls.
  bool FKeptMaps = false;
};

}  // namespace orb
