#include "engine/table/btree_page_index.h"

#include <algorithm>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/table/btree_page.h"
#include "engine/table/page_manager.h"

namespace orb {

namespace {

constexpr int32_t kMaxValue = 65535;

struct TPageKey {
  explicit TPageKey(int32_t page_no) { StoreI32LE(Bytes, page_no); }
  uint8_t Bytes[4];
};

struct TValueRef {
  explicit TValueRef(int32_t value) { StoreU16LE(Bytes, static_cast<uint16_t>(value)); }
  uint8_t Bytes[2];
};

[[noreturn]] void RaiseValueRange(int32_t value, int32_t page_no) {
  RaiseORB(kErrPageIndexValueRange, "Page index value %d out of range for page %d", {value, page_no});
}

}  // namespace

TORBBTreePageIndex::TORBBTreePageIndex(TORBPageManager* page_manager) : LPageManager(page_manager) {}

void TORBBTreePageIndex::CheckRoot(int32_t code) const {
  if (FRootPageNo < 0) RaiseORB(code, "Index error: invalid page number");
}

void TORBBTreePageIndex::CreateIndex(int32_t session_id) {
  TORBBTreePage::CheckEntrySize(LPageManager->GetPageDataSize(), FKeyRef);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.AddIndexPage(session_id);
  root.InitAsRoot();
  FRootPageNo = root.PageNo();
  FCandidatePages.clear();
}

void TORBBTreePageIndex::DropIndex(int32_t session_id) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  root.FreeAllPages(session_id, false);
  FRootPageNo = -1;
  FCandidatePages.clear();
}

void TORBBTreePageIndex::EmptyIndex(int32_t session_id) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  root.FreeAllPages(session_id, true);
  root.InitAsRoot();
  FCandidatePages.clear();
}

void TORBBTreePageIndex::OpenIndex(int32_t root_page_no) {
  FRootPageNo = root_page_no;
  FCandidatePages.clear();
}

void TORBBTreePageIndex::CheckIntegrity(int32_t session_id) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  root.CheckIntegrity(session_id);
}

int64_t TORBBTreePageIndex::GetPageTotal(int32_t session_id) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  return root.GetEntryTotal(session_id);
}

int32_t TORBBTreePageIndex::GetDepth(int32_t session_id) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  return root.GetDepth(session_id);
}

bool TORBBTreePageIndex::GetPageValue(int32_t session_id, int32_t page_no, int32_t& value) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  TORBKeyPath path;
  TPageKey key(page_no);
  if (!root.FindEntry(session_id, key.Bytes, nullptr, path)) return false;
  uint8_t reference[2];
  root.GetEntryAtPosition(session_id, path, nullptr, reference);
  value = LoadU16LE(reference);
  return true;
}

void TORBBTreePageIndex::AddPageItem(int32_t session_id, int32_t add_value, int32_t page_no) {
  CheckRoot(20115);
  if (page_no < 0) RaiseORB(20110, "Invalid page number");
  if (add_value < 0 || add_value > kMaxValue) RaiseValueRange(add_value, page_no);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  TORBKeyPath path;
  TPageKey key(page_no);
  if (!root.FindEntry(session_id, key.Bytes, nullptr, path)) {
    TValueRef value(add_value);
    root.InsertLeafEntry(session_id, key.Bytes, value.Bytes, path);
    return;
  }
  TORBBTreePage leaf(LPageManager, &FKeyRef);
  leaf.GetIndexPage(session_id, path.Leaf().PageNo);
  AddToEntry(leaf, path.Leaf().EntryNo, add_value, page_no);
}

void TORBBTreePageIndex::AddToEntry(TORBBTreePage& leaf, int32_t entry_no, int32_t add_value, int32_t page_no) {
  const int32_t old_value = LoadU16LE(leaf.GetPReference(entry_no));
  if (!CanAddNewItem(old_value, add_value)) RaiseORB(20106, "Cannot add data item to page. Page is full");
  const int32_t new_value = old_value + add_value;
  if (new_value > kMaxValue) RaiseValueRange(new_value, page_no);
  TValueRef value(new_value);
  leaf.UpdateReference(entry_no, value.Bytes);
}

void TORBBTreePageIndex::AddPageItemAt(int32_t session_id, int32_t add_value, int32_t page_no,
                                       const TORBPageIndexSlot& slot) {
  CheckRoot(20115);
  if (page_no < 0) RaiseORB(20110, "Invalid page number");
  if (add_value < 0 || add_value > kMaxValue) RaiseValueRange(add_value, page_no);
  if (slot.LeafPageNo >= 0 && slot.EntryNo >= 0) {
    // The slot is trusted only while it still names the page: a leaf of
    // this index whose entry there has the page's number.
    TORBBTreePage leaf(LPageManager, &FKeyRef);
    leaf.GetIndexPage(session_id, slot.LeafPageNo);
    if (leaf.IsLeaf() && slot.EntryNo < leaf.EntryCount() && LoadI32LE(leaf.GetPKey(slot.EntryNo)) == page_no) {
      AddToEntry(leaf, slot.EntryNo, add_value, page_no);
      return;
    }
  }
  AddPageItem(session_id, add_value, page_no);
}

void TORBBTreePageIndex::DeletePageItem(int32_t session_id, int32_t sub_value, int32_t page_no, int32_t new_value) {
  CheckRoot(20116);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  TORBKeyPath path;
  TPageKey key(page_no);
  if (!root.FindEntry(session_id, key.Bytes, nullptr, path)) RaiseORB(20111, "Invalid page number");
  int32_t old_value;
  {
    TORBBTreePage leaf(LPageManager, &FKeyRef);
    leaf.GetIndexPage(session_id, path.Leaf().PageNo);
    old_value = LoadU16LE(leaf.GetPReference(path.Leaf().EntryNo));
    if (new_value < 0) {
      if (old_value == 0) RaiseORB(20112, "Index error: page is empty");
      new_value = old_value - sub_value;
      if (new_value < 0) RaiseValueRange(new_value, page_no);
    } else if (new_value > kMaxValue) {
      RaiseValueRange(new_value, page_no);
    }
    if (new_value > 0) {
      TValueRef value(new_value);
      leaf.UpdateReference(path.Leaf().EntryNo, value.Bytes);
    }
  }
  if (new_value == 0) {
    TValueRef value(old_value);
    root.DeleteLeafEntry(session_id, key.Bytes, value.Bytes, path);
    return;
  }
  if (new_value < old_value) RememberCandidate(page_no);
}

void TORBBTreePageIndex::RememberCandidate(int32_t page_no) {
  if (std::find(FCandidatePages.begin(), FCandidatePages.end(), page_no) != FCandidatePages.end()) return;
  if (FCandidatePages.size() >= kMaxCandidatePages) FCandidatePages.pop_front();
  FCandidatePages.push_back(page_no);
}

bool TORBBTreePageIndex::FindPageForNewItem(int32_t session_id, int32_t size, int32_t& page_no,
                                            TORBPageIndexSlot* slot) {
  CheckRoot(20117);
  if (slot != nullptr) *slot = TORBPageIndexSlot{};
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  TORBBTreePage leaf(LPageManager, &FKeyRef);
  if (!root.GetEdgeLeaf(session_id, false, leaf)) return false;
  const int32_t last_leaf = leaf.PageNo();
  for (int32_t i = leaf.EntryCount() - 1; i >= 0; --i) {
    if (CanAddNewItem(LoadU16LE(leaf.GetPReference(i)), size)) {
      page_no = LoadI32LE(leaf.GetPKey(i));
      if (slot != nullptr) *slot = TORBPageIndexSlot{last_leaf, i};
      return true;
    }
  }
  leaf.PutIndexPage();
  root.GetEdgeLeaf(session_id, true, leaf);
  if (leaf.PageNo() != last_leaf) {
    for (int32_t i = 0; i < leaf.EntryCount(); ++i) {
      if (CanAddNewItem(LoadU16LE(leaf.GetPReference(i)), size)) {
        page_no = LoadI32LE(leaf.GetPKey(i));
        if (slot != nullptr) *slot = TORBPageIndexSlot{leaf.PageNo(), i};
        return true;
      }
    }
  }
  leaf.PutIndexPage();
  // Pages that lost items in the middle of the index. A candidate stays
  // while it has room, so it is filled before the next one is looked at.
  while (!FCandidatePages.empty()) {
    const int32_t candidate = FCandidatePages.front();
    int32_t value;
    if (GetPageValue(session_id, candidate, value) && CanAddNewItem(value, size)) {
      page_no = candidate;
      return true;
    }
    FCandidatePages.pop_front();
  }
  return false;
}

bool TORBBTreePageIndex::StepPage(int32_t session_id, int32_t current, bool forward, int32_t& page_no) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  TORBKeyPath path;
  TPageKey key(current);
  if (!root.FindEntry(session_id, key.Bytes, nullptr, path))
    RaiseORB(forward ? 20104 : 20105, "Invalid page number");
  bool moved = forward ? root.GetNextPosition(session_id, path, 20099, 20100)
                       : root.GetPriorPosition(session_id, path, 20101, 20102);
  if (!moved) return false;
  uint8_t found[4];
  root.GetEntryAtPosition(session_id, path, found, nullptr);
  page_no = LoadI32LE(found);
  return true;
}

// ---------------------------------------------------------------------------

bool TORBBTreeRecordPageIndex::CanAddNewItem(int32_t value, int32_t) const { return value < FMaxRecordsOnPage; }

bool TORBBTreeRecordPageIndex::FindPageForNewRecord(int32_t session_id, int32_t& page_no, TORBPageIndexSlot* slot) {
  return FindPageForNewItem(session_id, 1, page_no, slot);
}

void TORBBTreeRecordPageIndex::AddRecord(int32_t session_id, int32_t page_no, int32_t add_count) {
  AddPageItem(session_id, add_count, page_no);
}

void TORBBTreeRecordPageIndex::AddRecordAt(int32_t session_id, int32_t page_no, int32_t add_count,
                                           const TORBPageIndexSlot& slot) {
  AddPageItemAt(session_id, add_count, page_no, slot);
}

void TORBBTreeRecordPageIndex::DeleteRecord(int32_t session_id, int32_t page_no, int32_t new_item_count) {
  if (new_item_count < 0) RaiseValueRange(new_item_count, page_no);
  DeletePageItem(session_id, 0, page_no, new_item_count);
}

bool TORBBTreeRecordPageIndex::GetFirstRecordPage(int32_t session_id, int32_t& page_no) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  uint8_t key[4];
  if (!root.GetFirstKey(session_id, key)) return false;
  page_no = LoadI32LE(key);
  return true;
}

bool TORBBTreeRecordPageIndex::GetLastRecordPage(int32_t session_id, int32_t& page_no) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  uint8_t key[4];
  if (!root.GetLastKey(session_id, key)) return false;
  page_no = LoadI32LE(key);
  return true;
}

bool TORBBTreeRecordPageIndex::GetNextRecordPage(int32_t session_id, int32_t current_page_no, int32_t& page_no) {
  return StepPage(session_id, current_page_no, true, page_no);
}

bool TORBBTreeRecordPageIndex::GetPriorRecordPage(int32_t session_id, int32_t current_page_no, int32_t& page_no) {
  return StepPage(session_id, current_page_no, false, page_no);
}

void TORBBTreeRecordPageIndex::GetRecordByRecNo(int32_t session_id, int64_t rec_no, int32_t& page_no,
                                                int32_t& rec_no_on_page) {
  CheckRoot(20118);
  if (rec_no < 0) RaiseORB(20103, "Index error: invalid position");
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  TORBKeyPath path;
  if (root.GetFirstPosition(session_id, path)) {
    for (int32_t leaf_no = path.Leaf().PageNo; leaf_no >= 0;) {
      TORBBTreePage leaf(LPageManager, &FKeyRef);
      leaf.GetIndexPage(session_id, leaf_no);
      for (int32_t i = 0; i < leaf.EntryCount(); ++i) {
        const int32_t count = LoadU16LE(leaf.GetPReference(i));
        if (rec_no < count) {
          page_no = LoadI32LE(leaf.GetPKey(i));
          rec_no_on_page = static_cast<int32_t>(rec_no);
          return;
        }
        rec_no -= count;
      }
      leaf_no = leaf.RightPageNo();
    }
  }
  RaiseORB(20113, "Cannot set RecNo greater than RecordCount");
}

void TORBBTreeRecordPageIndex::GetRecNoByRecord(int32_t session_id, int32_t page_no, int32_t rec_no_on_page,
                                                int64_t& rec_no) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  TORBKeyPath path;
  TPageKey key(page_no);
  if (!root.FindEntry(session_id, key.Bytes, nullptr, path)) RaiseORB(20114, "Invalid page number");
  int64_t sum = rec_no_on_page;
  TORBBTreePage leaf(LPageManager, &FKeyRef);
  leaf.GetIndexPage(session_id, path.Leaf().PageNo);
  for (int32_t i = 0; i < path.Leaf().EntryNo; ++i) sum += LoadU16LE(leaf.GetPReference(i));
  for (int32_t left_no = leaf.LeftPageNo(); left_no >= 0;) {
    TORBBTreePage left(LPageManager, &FKeyRef);
    left.GetIndexPage(session_id, left_no);
    for (int32_t i = 0; i < left.EntryCount(); ++i) sum += LoadU16LE(left.GetPReference(i));
    left_no = left.LeftPageNo();
  }
  rec_no = sum;
}

int64_t TORBBTreeRecordPageIndex::GetRecordTotal(int32_t session_id) {
  CheckRoot(20118);
  TORBBTreePage root(LPageManager, &FKeyRef);
  root.GetIndexPage(session_id, FRootPageNo);
  TORBKeyPath path;
  int64_t sum = 0;
  if (!root.GetFirstPosition(session_id, path)) return 0;
  for (int32_t leaf_no = path.Leaf().PageNo; leaf_no >= 0;) {
    TORBBTreePage leaf(LPageManager, &FKeyRef);
    leaf.GetIndexPage(session_id, leaf_no);
    for (int32_t i = 0; i < leaf.EntryCount(); ++i) sum += LoadU16LE(leaf.GetPReference(i));
    leaf_no = leaf.RightPageNo();
  }
  return sum;
}

void TORBBTreeRecordPageIndex::Validate(int32_t session_id, int64_t stored_record_count) {
  const int64_t listed = GetRecordTotal(session_id);
  if (listed != stored_record_count)
    RaiseORB(20292,
             "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, "
             "MostUpdated.RecordCount=%d",
             {static_cast<long long>(listed), static_cast<long long>(stored_record_count)});
}

// ---------------------------------------------------------------------------

bool TORBBTreeBlobPageIndex::CanAddNewItem(int32_t value, int32_t size) const {
  return value + size < static_cast<int32_t>(LPageManager->GetPageDataSize()) - 2;
}

bool TORBBTreeBlobPageIndex::FindPageForNewBlob(int32_t session_id, int32_t blob_size, int32_t& page_no) {
  return FindPageForNewItem(session_id, blob_size, page_no);
}

void TORBBTreeBlobPageIndex::AddBlob(int32_t session_id, int32_t blob_size, int32_t page_no) {
  AddPageItem(session_id, blob_size, page_no);
}

void TORBBTreeBlobPageIndex::DeleteBlob(int32_t session_id, int32_t blob_size, int32_t page_no) {
  DeletePageItem(session_id, blob_size, page_no, -1);
}

int32_t TORBBTreeBlobPageIndex::GetBlobPageAllocatedSpace(int32_t session_id, int32_t page_no) {
  int32_t value;
  return GetPageValue(session_id, page_no, value) ? value : -1;
}

}  // namespace orb
