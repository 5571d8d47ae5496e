#pragma once

// The rows of one disk table: record pages (small_record_page.h) listed by
// a record page index with the number of rows on each.
//
// Most-updated file of the table (transacted internal file, page type 9,
// stored uncompressed), A = number of auto-increment slots (one per field):
// | offset | size  | type  | meaning                                        |
// |      0 |     4 | int32 | A                                              |
// |      4 | 8 * A | int64 | last auto-increment value of each field       |
// | 4 + 8A |     4 | int32 | table state (FTableState)                      |
// | 8 + 8A |     4 | int32 | row count (FRecordCount), low 32 bits, read    |
// |        |       |       | back as unsigned                               |
// The field manager owns the first two rows (its LoadMostUpdated /
// SaveMostUpdated); this class the last two. The row count field holds up
// to 2^32 - 1 rows: AddRecord refuses a row beyond that (30760), so the
// stored count is always the whole count.
//
// Part of the table metadata stream: one int32, the root page number of
// the record page index (after the constraint definitions, before the BLOB
// manager's part).
//
// Reads keep a copy of the record page they read last (single-user mode
// only, see TReadPage) so that a walk through a page fetches it once.
//
// Table state: every add, update, delete and empty moves it on by one,
// wrapping from 2147483647 to 1, never to 0: bitmaps, cached pages and
// other processes compare states, and a table emptied back to 0 would look
// unchanged to a reader that loaded state 0.

#include <cstdint>
#include <span>
#include <vector>

#include "engine/base/record_layout.h"
#include "engine/data/record_manager.h"
#include "engine/table/btree_page_index.h"
#include "engine/table/page_guard.h"
#include "engine/table/page_header.h"

namespace orb {

class TORBBaseFieldManager;
class TORBDiskPageManager;
class TORBPage;
class TStream;

// The record page index with the probes the record manager needs.
class TORBDiskRecordPageIndex final : public TORBBTreeRecordPageIndex {
 public:
  using TORBBTreeRecordPageIndex::TORBBTreeRecordPageIndex;
  bool IsListed(int32_t session_id, int32_t page_no);
  // First listed page above / last listed page below `page_no`, which need
  // not be listed itself.
  bool GetListedPageAfter(int32_t session_id, int32_t page_no, int32_t& next_page_no);
  bool GetListedPageBefore(int32_t session_id, int32_t page_no, int32_t& prior_page_no);

  // While it lives, the index keeps the leaf it read last in multi-user
  // mode too; the kept leaf is forgotten when it ends. REQUIRES: the
  // session holds a table lock that keeps other processes from committing
  // to the table for the scope's whole life (ltS or a write lock); changes
  // made in this process move the page manager's change count as always.
  class TLockedWalk {
   public:
    explicit TLockedWalk(TORBDiskRecordPageIndex& index) : FIndex(index) { FIndex.FKeepWhileLocked = true; }
    ~TLockedWalk() {
      FIndex.FKeepWhileLocked = false;
      FIndex.FKeptLeaf.LeafPageNo = -1;
    }
    TLockedWalk(const TLockedWalk&) = delete;
    TLockedWalk& operator=(const TLockedWalk&) = delete;

   private:
    TORBDiskRecordPageIndex& FIndex;
  };

 private:
  // The pages one leaf of the index lists, in entry order, as read last:
  // a walk steps through them without descending the tree for every page.
  // Kept in single-user mode, and in multi-user mode only within one
  // TLockedWalk, where the table lock keeps other processes from changing
  // the index; used only while the page manager's change count still
  // equals the count taken right after the leaf was read (see
  // TORBDiskRecordManager::TReadPage): every change of an index page in
  // this process moves that count.
  struct TKeptLeaf {
    int32_t SessionID = 0;
    // -1: nothing kept.
    int32_t LeafPageNo = -1;
    uint64_t ChangeCount = 0;
    int32_t LeftPageNo = -1;
    int32_t RightPageNo = -1;
    std::vector<int32_t> Pages;
  };

  // The page listed next to `page_no` (forward or back) when the kept leaf
  // lists `page_no` and is current; false when it cannot tell.
  bool StepInKeptLeaf(int32_t session_id, int32_t page_no, bool forward, bool& found, int32_t& page);
  // Keeps leaf `leaf_page_no`; false (nothing kept) when it is no leaf or
  // lists no page, or in multi-user mode outside a TLockedWalk.
  bool KeepLeaf(int32_t session_id, int32_t leaf_page_no);
  // Keeps the leaf listing `page_no`.
  void KeepLeafOf(int32_t session_id, int32_t page_no);

  // Multi-user only: whether a kept leaf may be used and kept (see
  // TLockedWalk).
  bool MayKeepLeaf() const;

  TKeptLeaf FKeptLeaf;
  bool FKeepWhileLocked = false;
};

class TORBDiskRecordManager : public TORBBaseRecordManager {
 public:
  // Most rows a table can hold (the most-updated file stores 32 bits).
  static constexpr int64_t kMaxRecordCount = 0xFFFFFFFFLL;

  // REQUIRES: the managers outlive the object.
  TORBDiskRecordManager(TORBDiskPageManager* page_manager, TORBBaseFieldManager* field_manager, int32_t table_id);

  // Sizes of the memory and disk record forms. Raises 20142 for a table
  // without fields, 20174 when not one row fits a page.
  void Init(int32_t memory_record_size, int32_t disk_record_size, int32_t field_count);

  // TORBBaseRecordManager. AddRecord raises what fails (the reason
  // matters to the caller) and 30760 at the row count limit.
  void Empty(int32_t session_id) override;
  bool AddRecord(int32_t session_id, const uint8_t* record_buffer, TORBPageItemID& record_id) override;
  // False when the slot holds no row of this table.
  bool UpdateRecord(int32_t session_id, const uint8_t* record_buffer, const TORBPageItemID& record_id) override;
  bool DeleteRecord(int32_t session_id, const TORBPageItemID& record_id) override;
  void GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info) override;
  int CompareRecordID(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2) override;
  int64_t GetApproximateRecNo(int32_t session_id, const TORBPageItemID& record_id) override;

  // Table state and row count at buffer[offset]; `offset` moves past them.
  // Raises 20164 when they do not fit the buffer.
  void LoadMostUpdated(std::span<const uint8_t> buffer, int32_t& offset);
  void SaveMostUpdated(std::span<uint8_t> buffer, int32_t& offset) const;
  // The whole most-updated contents, auto-increment values included: the
  // writer's buffer is 32 * (field count + 1) bytes (20164 beyond it).
  std::vector<uint8_t> SaveMostUpdatedContents() const;
  // The same into `out`, whose memory is reused.
  void SaveMostUpdatedContents(std::vector<uint8_t>& out) const;
  void LoadMostUpdatedContents(std::span<const uint8_t> contents);

  void LoadMetadata(TStream& stream);
  void SaveMetadata(TStream& stream) const;
  void CreateRecordPageIndex();
  // Empty, then drop the index.
  void Delete(int32_t session_id);

  // 1-based record numbers in physical order. SetRecNo raises 20113 beyond
  // the last row; GetRecNo raises 30767 for a page of another table.
  void SetRecNo(int32_t session_id, int64_t rec_no, TORBPageItemID& record_id);
  void GetRecNo(int32_t session_id, const TORBPageItemID& record_id, int64_t& rec_no);

  // Lists again every in-use page of type 10 of this table in a new index
  // and recounts the rows (repair). The old index may be damaged and is
  // not walked: its pages stay allocated until the integrity check frees
  // them. Moves the table state on.
  void RebuildRecordPageIndex(int32_t session_id);
  // 20292 when the index's rows differ from the row count.
  void ValidateRecordPageIndex(int32_t session_id);
  // A page of this table that is not removed (always true while header
  // errors are suppressed or for files older than 2.99).
  bool IsRecordPageValid(const TORBPage& page) const;

  // Record bitmap numbers: page * n + slot, 64-bit.
  int64_t RecordIDToBitmapNo(const TORBPageItemID& record_id) const;
  TORBPageItemID BitmapNoToRecordID(int64_t bitmap_no) const;
  // (last record page + 1) * n, or 1 without record pages.
  int64_t GetBitmapSize(int32_t session_id);

  // The next table state after `state` (never 0).
  static int32_t NextTableState(int32_t state);

  int32_t GetMaxRecordsOnPage() const { return FMaxRecordsOnPage; }
  int32_t GetDiskRecordBufferSize() const { return FDiskRecordBufferSize; }
  int32_t GetTableID() const { return FTableID; }
  TORBDiskRecordPageIndex& RecordPageIndex() { return FRecordPageIndex; }

  // Record pages copied in one read under a table lock, walked later in
  // stored order without the page manager. Each copy holds a page's slot
  // bitmap and rows (small_record_page.h), PageBytes() bytes apiece.
  struct TPageRun {
    std::vector<int32_t> PageNos;
    std::vector<uint8_t> Bytes;
  };
  // Bytes of one page's copy in a TPageRun.
  size_t PageBytes() const;
  // Copies into `run` the page of `after` and the pages a walk of grmNext
  // steps reach from it, up to `max_bytes` of copies (the first page always
  // fits). Stops before the first page that GetRecordBuffer would not read
  // as a plain next page (a page that is not a valid record page of the
  // table, or holds no row), so the copies give exactly the rows, and only
  // the rows, that successive grmNext reads from `after` return. Raises
  // what reading the pages raises. REQUIRES: the session holds a lock that
  // keeps other processes from committing to the table during the call.
  void CopyPageRun(int32_t session_id, const TORBPageItemID& after, size_t max_bytes, TPageRun& run);
  // The row a grmNext read from `record_id` returns, when `run` holds it:
  // its id goes to `record_id` and its memory form to `record_buffer`.
  // False when it lies beyond the run or `record_id` is not in it.
  // `page_index` is where to look first and is moved to the row's page.
  bool NextInRun(const TPageRun& run, size_t& page_index, TORBPageItemID& record_id, uint8_t* record_buffer) const;

 private:
  // The slots of one record page as a read sees them (layout in
  // small_record_page.h): the page held by a guard, or the kept copy.
  class TSlots {
   public:
    TSlots(const uint8_t* data, int32_t page_no, int32_t record_size, int32_t slot_count);
    int32_t PageNo() const { return FPageNo; }
    int32_t RecordCount() const;
    // Used slots: -1 when none.
    int32_t First() const;
    int32_t Last() const;
    int32_t After(int32_t slot) const;
    int32_t Before(int32_t slot) const;
    // The row of `record_id`, or null when its slot holds none.
    const uint8_t* Row(const TORBPageItemID& record_id) const;
    TORBPageItemID IDOf(int32_t slot) const { return {FPageNo, static_cast<uint16_t>(slot)}; }

   private:
    bool IsUsed(int32_t slot) const { return (FData[slot >> 3] >> (slot & 7)) & 1; }

    const uint8_t* FData;
    int32_t FPageNo;
    int32_t FRecordSize;
    int32_t FSlotCount;
  };

  // The data of the record page read last, kept in single-user mode.
  //
  // Invariant: the copy equals what the page manager would hand session
  // SessionID for page PageNo as long as the page manager's ChangeCount
  // still equals the count taken right after the copy was made. Every
  // change that could make them differ moves that count: a row added,
  // updated or deleted by any cursor or session of the process (the page
  // is marked changed and put back changed), a commit (apply) or rollback
  // (cancel) of any session, pages added, removed, re-read or discarded.
  // Another process cannot change pages in single-user mode; in
  // multi-user mode nothing is kept and every read goes through the page
  // manager, whose checks against the file stay in force.
  struct TReadPage {
    int32_t SessionID = 0;
    // -1: nothing kept.
    int32_t PageNo = -1;
    uint64_t ChangeCount = 0;
    TORBDiskPageHeader Header;
    std::vector<uint8_t> Data;
  };

  // The session's view of page `page_no` as GetPageGuard(session_id,
  // page_no, page_type) gives it, with the same checks and errors: from the
  // kept copy when it is current, else read, and kept in single-user mode.
  // `guard` holds the page while the slots are used when it is not kept.
  // `valid` tells whether IsRecordPageValid holds for the page.
  TSlots ReadPage(int32_t session_id, int32_t page_no, uint16_t page_type, TORBPageGuard& guard, bool& valid);
  bool IsRecordPageHeaderValid(const TORBDiskPageHeader& header) const;
  void ReadRow(const uint8_t* disk_record, TORBNavigationInfo& navigation_info);
  void GetFirst(int32_t session_id, TORBNavigationInfo& navigation_info);
  void GetLast(int32_t session_id, TORBNavigationInfo& navigation_info);
  void GetNext(int32_t session_id, TORBNavigationInfo& navigation_info);
  void GetPrior(int32_t session_id, TORBNavigationInfo& navigation_info);
  void GetCurrent(int32_t session_id, TORBNavigationInfo& navigation_info);

  TORBDiskRecordPageIndex FRecordPageIndex;
  TORBDiskPageManager* LPageManager;
  TORBBaseFieldManager* LFieldManager;
  int32_t FMaxRecordsOnPage = 0;
  int32_t FDiskRecordBufferSize = 0;
  int32_t FFieldCount = 0;
  std::vector<uint8_t> FTempDiskRecordBuffer;
  int32_t FTableID;
  TReadPage FReadPage;
  // The field manager's disk-to-memory conversion as of Init (the layout
  // does not change while the manager is in use).
  TORBRecordReadPlan FReadPlan;
};

}  // namespace orb
