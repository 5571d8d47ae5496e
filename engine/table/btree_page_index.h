#pragma once

// Page indexes: B-trees over page numbers whose entries carry a 16-bit
// value per page. The disk engine lists a table's record pages with their
// row counts (TORBBTreeRecordPageIndex) and its small BLOB pages with the
// bytes used on them (TORBBTreeBlobPageIndex).
//
// Entries use TORBPageKeyRef: key = page number (int32, 4 bytes), reference
// = the value (uint16, 2 bytes), see btree_page.h for the page layout.
//
// Finding a page with room looks at the last leaf (from its last entry
// back) and the first leaf (from its first entry), then at pages that lost
// items through this object (a bounded list of candidates, each verified
// against the tree before use and dropped once it turns out full or
// unlisted). Pages in the middle of the index thus get reused when rows or
// BLOBs are deleted through the same open index, without walking the whole
// index on every insert; the candidates are not stored and start empty on
// every OpenIndex.

#include <cstdint>
#include <deque>

#include "engine/table/btree_key_ref.h"
#include "engine/table/key_path.h"

namespace orb {

class TORBPageManager;
class TORBBTreePage;

// Where a search found a listed page: its leaf page and entry number. Only
// good until the index next changes.
struct TORBPageIndexSlot {
  int32_t LeafPageNo = -1;
  int32_t EntryNo = -1;
};

class TORBBTreePageIndex {
 public:
  // Candidate pages remembered at most.
  static constexpr size_t kMaxCandidatePages = 64;

  // REQUIRES: `page_manager` outlives the object.
  explicit TORBBTreePageIndex(TORBPageManager* page_manager);
  virtual ~TORBBTreePageIndex() = default;
  TORBBTreePageIndex(const TORBBTreePageIndex&) = delete;
  TORBBTreePageIndex& operator=(const TORBBTreePageIndex&) = delete;

  // A new, empty tree (its root page number: RootPageNo()).
  void CreateIndex(int32_t session_id);
  // Frees every page of the tree; the index then has no root.
  void DropIndex(int32_t session_id);
  // Frees every page but the root, which becomes an empty root again.
  void EmptyIndex(int32_t session_id);
  // Uses the tree at `root_page_no`.
  void OpenIndex(int32_t root_page_no);
  int32_t RootPageNo() const { return FRootPageNo; }

  // True when a page holding `value` can take an item of `size`.
  virtual bool CanAddNewItem(int32_t value, int32_t size) const = 0;

  // Raises 20028 when the tree is damaged (see TORBBTreePage).
  void CheckIntegrity(int32_t session_id);
  // Listed pages.
  int64_t GetPageTotal(int32_t session_id);
  // Tree depth (1: the root is a leaf).
  int32_t GetDepth(int32_t session_id);

 protected:
  // Adds `add_value` to the value of `page_no`, listing it when absent.
  // Raises 20115 without a root, 20110 for a negative page, 20106 when
  // CanAddNewItem refuses, 30658 when the value leaves 16 bits.
  void AddPageItem(int32_t session_id, int32_t add_value, int32_t page_no);
  // Sets the value of `page_no` to `new_value`, or with a negative
  // `new_value` lowers it by `sub_value`; 0 unlists the page. Raises 20116
  // without a root, 20111 for an unlisted page, 20112 when lowering a value
  // of 0, 30658 for a value below 0 or above 65535.
  void DeletePageItem(int32_t session_id, int32_t sub_value, int32_t page_no, int32_t new_value);
  // AddPageItem for a page that FindPageForNewItem found at `slot`, the
  // index unchanged since: the slot's entry is updated without a search.
  // A slot that no longer holds the page falls back to AddPageItem.
  void AddPageItemAt(int32_t session_id, int32_t add_value, int32_t page_no, const TORBPageIndexSlot& slot);
  // A listed page whose value passes CanAddNewItem(value, size); `slot`,
  // when given, receives where it was found (or stays empty). Raises
  // 20117 without a root.
  bool FindPageForNewItem(int32_t session_id, int32_t size, int32_t& page_no, TORBPageIndexSlot* slot = nullptr);
  // Value of `page_no`; false when unlisted.
  bool GetPageValue(int32_t session_id, int32_t page_no, int32_t& value);
  // Raises `code` ("Index error: invalid page number") without a root.
  void CheckRoot(int32_t code) const;
  // Steps from listed page `current` to the next/prior listed page.
  bool StepPage(int32_t session_id, int32_t current, bool forward, int32_t& page_no);

  int32_t FRootPageNo = -1;
  TORBPageKeyRef FKeyRef;
  TORBPageManager* LPageManager;
  int32_t FMaxRecordsOnPage = 0;

 private:
  void RememberCandidate(int32_t page_no);
  // Adds `add_value` to the value of the leaf entry `entry_no` (page
  // `page_no`), with AddPageItem's checks.
  void AddToEntry(TORBBTreePage& leaf, int32_t entry_no, int32_t add_value, int32_t page_no);

  std::deque<int32_t> FCandidatePages;
};

// Record pages with their row counts.
class TORBBTreeRecordPageIndex : public TORBBTreePageIndex {
 public:
  using TORBBTreePageIndex::TORBBTreePageIndex;

  // Record slots per record page, set by the record manager.
  void SetMaxRecordsOnPage(int32_t value) { FMaxRecordsOnPage = value; }
  int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }

  // Value < MaxRecordsOnPage().
  bool CanAddNewItem(int32_t value, int32_t size) const override;

  bool FindPageForNewRecord(int32_t session_id, int32_t& page_no, TORBPageIndexSlot* slot = nullptr);
  void AddRecord(int32_t session_id, int32_t page_no, int32_t add_count);
  // AddRecord for the page FindPageForNewRecord just found at `slot`.
  void AddRecordAt(int32_t session_id, int32_t page_no, int32_t add_count, const TORBPageIndexSlot& slot);
  // Sets the page's row count; 0 unlists it.
  void DeleteRecord(int32_t session_id, int32_t page_no, int32_t new_item_count);
  // Record pages in page-number order; false when there is none (further).
  // Next/prior of an unlisted page raise 20104 / 20105.
  bool GetFirstRecordPage(int32_t session_id, int32_t& page_no);
  bool GetLastRecordPage(int32_t session_id, int32_t& page_no);
  bool GetNextRecordPage(int32_t session_id, int32_t current_page_no, int32_t& page_no);
  bool GetPriorRecordPage(int32_t session_id, int32_t current_page_no, int32_t& page_no);
  // The page and the 0-based offset in it of 0-based record number
  // `rec_no` in page order. Raises 20103 for a negative number, 20113
  // beyond the last record.
  void GetRecordByRecNo(int32_t session_id, int64_t rec_no, int32_t& page_no, int32_t& rec_no_on_page);
  // The inverse; an unlisted page raises 20114.
  void GetRecNoByRecord(int32_t session_id, int32_t page_no, int32_t rec_no_on_page, int64_t& rec_no);
  // Rows on all pages.
  int64_t GetRecordTotal(int32_t session_id);
  // Raises 20292 when the rows listed differ from `stored_record_count`.
  void Validate(int32_t session_id, int64_t stored_record_count);
};

// Small BLOB pages with the bytes used on each.
class TORBBTreeBlobPageIndex : public TORBBTreePageIndex {
 public:
  using TORBBTreePageIndex::TORBBTreePageIndex;

  // Value + size < page data size - 2.
  bool CanAddNewItem(int32_t value, int32_t size) const override;

  bool FindPageForNewBlob(int32_t session_id, int32_t blob_size, int32_t& page_no);
  void AddBlob(int32_t session_id, int32_t blob_size, int32_t page_no);
  // Lowers the page's bytes by `blob_size`; 0 unlists it.
  void DeleteBlob(int32_t session_id, int32_t blob_size, int32_t page_no);
  // Bytes used on the page; -1 when unlisted.
  int32_t GetBlobPageAllocatedSpace(int32_t session_id, int32_t page_no);
};

}  // namespace orb
