#include "engine/disk/disk_record_manager.h"

#include <algorithm>

#include "engine/base/error_codes.h"
#include "engine/base/field_manager.h"
#include "engine/base/orb_exception.h"
#include "engine/base/stream.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/free_space.h"
#include "engine/disk/small_record_page.h"
#include "engine/platform/byte_order.h"
#include "engine/table/page.h"
#include "engine/table/btree_page.h"
#include "engine/table/key_path.h"
#include "engine/table/page_guard.h"

namespace orb {

bool TORBDiskRecordPageIndex::IsListed(int32_t session_id, int32_t page_no) {
  int32_t value = 0;
  return GetPageValue(session_id, page_no, value);
}

bool TORBDiskRecordPageIndex::GetListedPageAfter(int32_t session_id, int32_t page_no, int32_t& next_page_no) {
  bool found = false;
  if (StepInKeptLeaf(session_id, page_no, true, found, next_page_no)) return found;
  if (IsListed(session_id, page_no)) {
    found = GetNextRecordPage(session_id, page_no, next_page_no);
  } else {
    int32_t p = 0;
    if (!GetFirstRecordPage(session_id, p)) return false;
    while (p <= page_no) {
      if (!GetNextRecordPage(session_id, p, p)) return false;
    }
    next_page_no = p;
    found = true;
  }
  if (found) KeepLeafOf(session_id, next_page_no);
  return found;
}

bool TORBDiskRecordPageIndex::GetListedPageBefore(int32_t session_id, int32_t page_no, int32_t& prior_page_no) {
  bool found = false;
  if (StepInKeptLeaf(session_id, page_no, false, found, prior_page_no)) return found;
  if (IsListed(session_id, page_no)) {
    found = GetPriorRecordPage(session_id, page_no, prior_page_no);
  } else {
    int32_t p = 0;
    if (!GetLastRecordPage(session_id, p)) return false;
    while (p >= page_no) {
      if (!GetPriorRecordPage(session_id, p, p)) return false;
    }
    prior_page_no = p;
    found = true;
  }
  if (found) KeepLeafOf(session_id, prior_page_no);
  return found;
}

bool TORBDiskRecordPageIndex::StepInKeptLeaf(int32_t session_id, int32_t page_no, bool forward, bool& found,
                                             int32_t& page) {
  TKeptLeaf& kept = FKeptLeaf;
  if (kept.LeafPageNo < 0 || kept.SessionID != session_id || kept.ChangeCount != LPageManager->ChangeCount() ||
      !MayKeepLeaf())
    return false;
  const auto at = std::find(kept.Pages.begin(), kept.Pages.end(), page_no);
  if (at == kept.Pages.end()) return false;
  if (forward ? at + 1 != kept.Pages.end() : at != kept.Pages.begin()) {
    page = forward ? at[1] : at[-1];
    found = true;
    return true;
  }
  // At the end of the leaf: the sibling leaf's first (last) entry comes
  // next; a leaf without that sibling is the last (first) of the tree.
  const int32_t sibling = forward ? kept.RightPageNo : kept.LeftPageNo;
  if (sibling < 0) {
    found = false;
    return true;
  }
  // A sibling that cannot be read is left to the tree walk, which reports
  // the damage with its own codes.
  try {
    if (!KeepLeaf(session_id, sibling)) return false;
  } catch (const EORBException&) {
    kept.LeafPageNo = -1;
    return false;
  }
  page = forward ? kept.Pages.front() : kept.Pages.back();
  found = true;
  return true;
}

bool TORBDiskRecordPageIndex::KeepLeaf(int32_t session_id, int32_t leaf_page_no) {
  TKeptLeaf& kept = FKeptLeaf;
  kept.LeafPageNo = -1;
  if (!MayKeepLeaf()) return false;
  {
    TORBBTreePage leaf(LPageManager, &FKeyRef);
    leaf.GetIndexPage(session_id, leaf_page_no);
    if (!leaf.IsLeaf() || leaf.EntryCount() == 0) return false;
    kept.Pages.resize(static_cast<size_t>(leaf.EntryCount()));
    for (int32_t i = 0; i < leaf.EntryCount(); ++i) kept.Pages[static_cast<size_t>(i)] = LoadI32LE(leaf.GetPKey(i));
    kept.LeftPageNo = leaf.LeftPageNo();
    kept.RightPageNo = leaf.RightPageNo();
  }
  // Taken once the leaf is put back (see TORBDiskRecordManager::ReadPage).
  kept.ChangeCount = LPageManager->ChangeCount();
  kept.SessionID = session_id;
  kept.LeafPageNo = leaf_page_no;
  return true;
}

void TORBDiskRecordPageIndex::KeepLeafOf(int32_t session_id, int32_t page_no) {
  FKeptLeaf.LeafPageNo = -1;
  if (!MayKeepLeaf()) return;
  // The walk that found `page_no` read these pages just now; should one
  // fail all the same, nothing is kept and the next step walks the tree.
  try {
    int32_t leaf_page_no = -1;
    {
      TORBBTreePage root(LPageManager, &FKeyRef);
      root.GetIndexPage(session_id, FRootPageNo);
      TORBKeyPath path;
      uint8_t key[4];
      StoreI32LE(key, page_no);
      if (!root.FindEntry(session_id, key, nullptr, path)) return;
      leaf_page_no = path.Leaf().PageNo;
    }
    KeepLeaf(session_id, leaf_page_no);
  } catch (const EORBException&) {
    FKeptLeaf.LeafPageNo = -1;
  }
}

// In multi-user mode another process may change the index between two
// locked steps without moving this process's change count, so a leaf is
// kept only inside one locked walk.
bool TORBDiskRecordPageIndex::MayKeepLeaf() const { return !LPageManager->GetMultiUser() || FKeepWhileLocked; }

TORBDiskRecordManager::TORBDiskRecordManager(TORBDiskPageManager* page_manager, TORBBaseFieldManager* field_manager,
                                             int32_t table_id)
    : TORBBaseRecordManager(0),
      FRecordPageIndex(page_manager),
      LPageManager(page_manager),
      LFieldManager(field_manager),
      FTableID(table_id) {}

int32_t TORBDiskRecordManager::NextTableState(int32_t state) {
  return state >= 2147483647 || state < 0 ? 1 : state + 1;
}

void TORBDiskRecordManager::Init(int32_t memory_record_size, int32_t disk_record_size, int32_t field_count) {
  if (field_count <= 0 || disk_record_size <= 0) RaiseORB(20142, "Error creating table - no fields were specified");
  const int32_t n = TORBSmallRecordPage::MaxRecordsOnPage(LPageManager->GetPageDataSize(), disk_record_size);
  if (n <= 0)
    RaiseORB(20174,
             "Cannot create table. Record is too large to fit in current database page. Please increase page size "
             "of database file or decrease record size");
  FRecordBufferSize = memory_record_size;
  FDiskRecordBufferSize = disk_record_size;
  FFieldCount = field_count;
  FMaxRecordsOnPage = n;
  FRecordPageIndex.SetMaxRecordsOnPage(n);
  FTempDiskRecordBuffer.assign(static_cast<size_t>(disk_record_size), 0);
  FReadPage.PageNo = -1;
  const TORBFieldDefs& defs = LFieldManager->FieldDefs();
  std::vector<TORBFieldLayout> layouts;
  int32_t defs_memory_size = defs.GetNullBitmapSize();
  for (int32_t i = 0; i < defs.GetCount(); ++i) {
    layouts.push_back(FieldLayoutOf(*defs.GetDef(i)));
    defs_memory_size += layouts.back().MemoryDataSize;
  }
  FReadPlan = TORBRecordReadPlan(layouts, defs.GetNullBitmapSize(), defs_memory_size);
  FRecordCount = 0;
  FTableState = 0;
}

bool TORBDiskRecordManager::IsRecordPageValid(const TORBPage& page) const {
  return IsRecordPageHeaderValid(page.ReadHeader());
}

bool TORBDiskRecordManager::IsRecordPageHeaderValid(const TORBDiskPageHeader& header) const {
  TORBDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  if ((fsm != nullptr && fsm->GetSuppressDBHeaderErrors()) ||
      LPageManager->GetDbHeader().Version < kDBMinimumSoundVersion)
    return true;
  return header.State <= 2147483645 && header.PageType == kPageTypeTableRecord && header.ObjectID == FTableID;
}

void TORBDiskRecordManager::Empty(int32_t session_id) {
  int32_t page_no = 0;
  bool found = FRecordPageIndex.GetFirstRecordPage(session_id, page_no);
  while (found) {
    LPageManager->RemovePage(session_id, page_no);
    found = FRecordPageIndex.GetNextRecordPage(session_id, page_no, page_no);
  }
  FRecordPageIndex.EmptyIndex(session_id);
  FRecordCount = 0;
  FTableState = NextTableState(FTableState);
}

bool TORBDiskRecordManager::AddRecord(int32_t session_id, const uint8_t* record_buffer, TORBPageItemID& record_id) {
  if (FRecordCount >= kMaxRecordCount)
    RaiseORB(kErrTableRowCountLimit, "Cannot add record. Table row count limit reached: RecordCount=%d",
             {FRecordCount});
  int32_t page_no = 0;
  TORBPageGuard page;
  // Where the index lists the page found; nothing changes the index before
  // the row is counted below.
  TORBPageIndexSlot slot;
  if (FRecordPageIndex.FindPageForNewRecord(session_id, page_no, &slot)) {
    page = LPageManager->GetPageGuard(session_id, page_no, kPageTypeTableRecord);
  } else {
    page = LPageManager->AddPageGuard(session_id, kPageTypeTableRecord);
    TORBDiskPageHeader header = page->ReadHeader();
    header.ObjectID = FTableID;
    page->WriteHeader(header);
    page.MarkDirty();
  }
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  LFieldManager->MemRecordBufferToDiskRecordBuffer(record_buffer, FTempDiskRecordBuffer.data());
  TORBPageItemID new_id;
  record_page.AddRecord(FTempDiskRecordBuffer.data(), new_id);
  FRecordPageIndex.AddRecordAt(session_id, page.PageNo(), 1, slot);
  ++FRecordCount;
  FTableState = NextTableState(FTableState);
  record_id = new_id;
  return true;
}

bool TORBDiskRecordManager::UpdateRecord(int32_t session_id, const uint8_t* record_buffer,
                                         const TORBPageItemID& record_id) {
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, record_id.PageNo, kPageTypeTableRecord);
  if (!IsRecordPageValid(*page)) return false;
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  LFieldManager->MemRecordBufferToDiskRecordBuffer(record_buffer, FTempDiskRecordBuffer.data());
  if (!record_page.UpdateRecord(FTempDiskRecordBuffer.data(), record_id)) return false;
  FTableState = NextTableState(FTableState);
  return true;
}

bool TORBDiskRecordManager::DeleteRecord(int32_t session_id, const TORBPageItemID& record_id) {
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, record_id.PageNo, kPageTypeTableRecord);
  if (!IsRecordPageValid(*page)) return false;
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  if (!record_page.DeleteRecord(record_id)) return false;
  const int32_t left = record_page.GetRecordCount();
  page.Release();
  if (left == 0) LPageManager->RemovePage(session_id, record_id.PageNo);
  FRecordPageIndex.DeleteRecord(session_id, record_id.PageNo, left);
  if (FRecordCount > 0) --FRecordCount;
  FTableState = NextTableState(FTableState);
  return true;
}

// ---------------------------------------------------------------------------
// Reads

TORBDiskRecordManager::TSlots::TSlots(const uint8_t* data, int32_t page_no, int32_t record_size, int32_t slot_count)
    : FData(data), FPageNo(page_no), FRecordSize(record_size), FSlotCount(slot_count) {}

int32_t TORBDiskRecordManager::TSlots::RecordCount() const {
  int32_t count = 0;
  for (int32_t i = 0; i < FSlotCount; ++i) count += IsUsed(i) ? 1 : 0;
  return count;
}

int32_t TORBDiskRecordManager::TSlots::First() const { return After(-1); }

int32_t TORBDiskRecordManager::TSlots::Last() const { return Before(FSlotCount); }

int32_t TORBDiskRecordManager::TSlots::After(int32_t slot) const {
  for (int32_t i = slot + 1; i < FSlotCount; ++i)
    if (IsUsed(i)) return i;
  return -1;
}

int32_t TORBDiskRecordManager::TSlots::Before(int32_t slot) const {
  for (int32_t i = std::min(slot, FSlotCount) - 1; i >= 0; --i)
    if (IsUsed(i)) return i;
  return -1;
}

const uint8_t* TORBDiskRecordManager::TSlots::Row(const TORBPageItemID& record_id) const {
  const int32_t slot = record_id.PageItemNo;
  if (slot >= FSlotCount || !IsUsed(slot)) return nullptr;
  return FData + (FSlotCount + 7) / 8 + static_cast<int64_t>(slot) * FRecordSize;
}

TORBDiskRecordManager::TSlots TORBDiskRecordManager::ReadPage(int32_t session_id, int32_t page_no,
                                                              uint16_t page_type, TORBPageGuard& guard,
                                                              bool& valid) {
  TReadPage& kept = FReadPage;
  if (kept.PageNo == page_no && kept.SessionID == session_id && kept.ChangeCount == LPageManager->ChangeCount() &&
      (page_type == kPageTypeAny || page_type == kept.Header.PageType)) {
    valid = IsRecordPageHeaderValid(kept.Header);
    return TSlots(kept.Data.data(), page_no, FDiskRecordBufferSize, FMaxRecordsOnPage);
  }
  kept.PageNo = -1;
  guard = LPageManager->GetPageGuard(session_id, page_no, page_type);
  const int64_t size = (FMaxRecordsOnPage + 7) / 8 + static_cast<int64_t>(FMaxRecordsOnPage) * FDiskRecordBufferSize;
  if (size > guard->GetPageDataSize()) RaiseORB(20140, "Invalid number of records on page");
  const TORBDiskPageHeader header = guard->ReadHeader();
  valid = IsRecordPageHeaderValid(header);
  const uint8_t* data = guard->GetPageData();
  if (LPageManager->GetMultiUser()) return TSlots(data, page_no, FDiskRecordBufferSize, FMaxRecordsOnPage);
  kept.Data.assign(data, data + size);
  kept.Header = header;
  guard.Release();
  // Taken after the release: putting back a page of the session's own
  // changes moves the count without changing the bytes.
  kept.ChangeCount = LPageManager->ChangeCount();
  kept.SessionID = session_id;
  kept.PageNo = page_no;
  return TSlots(kept.Data.data(), page_no, FDiskRecordBufferSize, FMaxRecordsOnPage);
}

void TORBDiskRecordManager::ReadRow(const uint8_t* disk_record, TORBNavigationInfo& navigation_info) {
  if (navigation_info.RecordBuffer != nullptr) FReadPlan.DiskToMem(disk_record, navigation_info.RecordBuffer);
  navigation_info.GetRecordResult = grrOK;
  navigation_info.FirstPosition = false;
  navigation_info.LastPosition = false;
}

void TORBDiskRecordManager::GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info) {
  if (FRecordCount == 0) {
    navigation_info.GetRecordResult = grrEOF;
    return;
  }
  if (navigation_info.FirstPosition) {
    GetFirst(session_id, navigation_info);
  } else if (navigation_info.LastPosition) {
    GetLast(session_id, navigation_info);
  } else if (navigation_info.GetRecordMode == grmNext) {
    GetNext(session_id, navigation_info);
  } else if (navigation_info.GetRecordMode == grmPrior) {
    GetPrior(session_id, navigation_info);
  } else {
    GetCurrent(session_id, navigation_info);
  }
}

void TORBDiskRecordManager::GetFirst(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrError;
  if (navigation_info.GetRecordMode == grmPrior) navigation_info.GetRecordResult = grrBOF;
  if (navigation_info.GetRecordMode != grmNext) return;
  int32_t page_no = 0;
  if (!FRecordPageIndex.GetFirstRecordPage(session_id, page_no)) return;
  TORBPageGuard guard;
  bool valid = false;
  const TSlots page = ReadPage(session_id, page_no, kPageTypeAny, guard, valid);
  if (!valid) return;
  const int32_t slot = page.First();
  if (slot < 0)
    RaiseORB(20143, "Record not found. PageNo=%d, PageRecordCount=%d", {page_no, page.RecordCount()});
  navigation_info.RecordID = page.IDOf(slot);
  ReadRow(page.Row(navigation_info.RecordID), navigation_info);
}

void TORBDiskRecordManager::GetLast(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrError;
  if (navigation_info.GetRecordMode == grmNext) navigation_info.GetRecordResult = grrEOF;
  if (navigation_info.GetRecordMode != grmPrior) return;
  int32_t page_no = 0;
  if (!FRecordPageIndex.GetLastRecordPage(session_id, page_no)) return;
  TORBPageGuard guard;
  bool valid = false;
  const TSlots page = ReadPage(session_id, page_no, kPageTypeAny, guard, valid);
  if (!valid) return;
  const int32_t slot = page.Last();
  if (slot < 0) RaiseORB(20144, "Record not found");
  navigation_info.RecordID = page.IDOf(slot);
  ReadRow(page.Row(navigation_info.RecordID), navigation_info);
}

void TORBDiskRecordManager::GetNext(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrEOF;
  const int32_t page_no = navigation_info.RecordID.PageNo;
  {
    TORBPageGuard guard;
    bool valid = false;
    const TSlots page = ReadPage(session_id, page_no, kPageTypeAny, guard, valid);
    if (!valid) return;
    const int32_t slot = page.After(navigation_info.RecordID.PageItemNo);
    if (slot >= 0) {
      navigation_info.RecordID = page.IDOf(slot);
      ReadRow(page.Row(navigation_info.RecordID), navigation_info);
      return;
    }
  }
  int32_t next_page_no = 0;
  if (!FRecordPageIndex.GetListedPageAfter(session_id, page_no, next_page_no)) return;
  TORBPageGuard guard;
  bool valid = false;
  const TSlots page = ReadPage(session_id, next_page_no, kPageTypeTableRecord, guard, valid);
  const int32_t slot = page.First();
  if (slot < 0)
    RaiseORB(20143, "Record not found. PageNo=%d, PageRecordCount=%d", {next_page_no, page.RecordCount()});
  navigation_info.RecordID = page.IDOf(slot);
  ReadRow(page.Row(navigation_info.RecordID), navigation_info);
}

void TORBDiskRecordManager::GetPrior(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrBOF;
  const int32_t page_no = navigation_info.RecordID.PageNo;
  {
    TORBPageGuard guard;
    bool valid = false;
    const TSlots page = ReadPage(session_id, page_no, kPageTypeAny, guard, valid);
    if (!valid) {
      guard.Release();
      navigation_info.GetRecordMode = grmPrior;
      GetLast(session_id, navigation_info);
      return;
    }
    const int32_t slot = page.Before(navigation_info.RecordID.PageItemNo);
    if (slot >= 0) {
      navigation_info.RecordID = page.IDOf(slot);
      ReadRow(page.Row(navigation_info.RecordID), navigation_info);
      return;
    }
  }
  int32_t prior_page_no = 0;
  if (!FRecordPageIndex.GetListedPageBefore(session_id, page_no, prior_page_no)) return;
  TORBPageGuard guard;
  bool valid = false;
  const TSlots page = ReadPage(session_id, prior_page_no, kPageTypeTableRecord, guard, valid);
  const int32_t slot = page.Last();
  if (slot < 0) RaiseORB(20144, "Record not found");
  navigation_info.RecordID = page.IDOf(slot);
  ReadRow(page.Row(navigation_info.RecordID), navigation_info);
}

void TORBDiskRecordManager::GetCurrent(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrError;
  TORBPageGuard guard;
  bool valid = false;
  const TSlots page = ReadPage(session_id, navigation_info.RecordID.PageNo, kPageTypeAny, guard, valid);
  if (!valid) return;
  const uint8_t* row = page.Row(navigation_info.RecordID);
  if (row == nullptr) return;
  ReadRow(row, navigation_info);
}

size_t TORBDiskRecordManager::PageBytes() const {
  return static_cast<size_t>((FMaxRecordsOnPage + 7) / 8) +
         static_cast<size_t>(FMaxRecordsOnPage) * static_cast<size_t>(FDiskRecordBufferSize);
}

void TORBDiskRecordManager::CopyPageRun(int32_t session_id, const TORBPageItemID& after, size_t max_bytes,
                                        TPageRun& run) {
  run.PageNos.clear();
  run.Bytes.clear();
  const size_t bytes = PageBytes();
  TORBDiskRecordPageIndex::TLockedWalk walk(FRecordPageIndex);
  int32_t page_no = after.PageNo;
  // The page types GetNext asks for: any for the page it starts on, a
  // record page for the pages it steps to.
  uint16_t page_type = kPageTypeAny;
  for (;;) {
    {
      const TORBPageGuard guard = LPageManager->GetPageGuard(session_id, page_no, page_type);
      if (static_cast<int64_t>(bytes) > guard->GetPageDataSize()) RaiseORB(20140, "Invalid number of records on page");
      if (!IsRecordPageHeaderValid(guard->ReadHeader())) break;
      const uint8_t* data = guard->GetPageData();
      if (TSlots(data, page_no, FDiskRecordBufferSize, FMaxRecordsOnPage).First() < 0) break;
      run.PageNos.push_back(page_no);
      run.Bytes.insert(run.Bytes.end(), data, data + bytes);
    }
    if (run.Bytes.size() + bytes > max_bytes) break;
    if (!FRecordPageIndex.GetListedPageAfter(session_id, page_no, page_no)) break;
    page_type = kPageTypeTableRecord;
  }
}

bool TORBDiskRecordManager::NextInRun(const TPageRun& run, size_t& page_index, TORBPageItemID& record_id,
                                      uint8_t* record_buffer) const {
  const size_t bytes = PageBytes();
  const size_t pages = run.PageNos.size();
  if (page_index >= pages || run.PageNos[page_index] != record_id.PageNo) return false;
  size_t index = page_index;
  int32_t slot = TSlots(run.Bytes.data() + index * bytes, record_id.PageNo, FDiskRecordBufferSize, FMaxRecordsOnPage)
                     .After(record_id.PageItemNo);
  if (slot < 0) {
    if (++index >= pages) return false;
    slot = TSlots(run.Bytes.data() + index * bytes, run.PageNos[index], FDiskRecordBufferSize, FMaxRecordsOnPage)
               .First();
    if (slot < 0) return false;
  }
  const TSlots page(run.Bytes.data() + index * bytes, run.PageNos[index], FDiskRecordBufferSize, FMaxRecordsOnPage);
  record_id = page.IDOf(slot);
  page_index = index;
  FReadPlan.DiskToMem(page.Row(record_id), record_buffer);
  return true;
}

int TORBDiskRecordManager::CompareRecordID(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2) {
  if (record_id1.PageNo != record_id2.PageNo) return record_id1.PageNo < record_id2.PageNo ? -1 : 1;
  if (record_id1.PageItemNo != record_id2.PageItemNo) return record_id1.PageItemNo < record_id2.PageItemNo ? -1 : 1;
  return 0;
}

int64_t TORBDiskRecordManager::GetApproximateRecNo(int32_t, const TORBPageItemID&) { return FRecordCount / 2; }

void TORBDiskRecordManager::LoadMostUpdated(std::span<const uint8_t> buffer, int32_t& offset) {
  if (offset < 0 || static_cast<int64_t>(offset) + 8 > static_cast<int64_t>(buffer.size()))
    RaiseORB(20164, "Invalid table header data");
  FTableState = LoadI32LE(buffer.data() + offset);
  FRecordCount = static_cast<int64_t>(LoadU32LE(buffer.data() + offset + 4));
  offset += 8;
}

void TORBDiskRecordManager::SaveMostUpdated(std::span<uint8_t> buffer, int32_t& offset) const {
  if (offset < 0 || static_cast<int64_t>(offset) + 8 > static_cast<int64_t>(buffer.size()))
    RaiseORB(20164, "Invalid table header data");
  StoreI32LE(buffer.data() + offset, FTableState);
  StoreU32LE(buffer.data() + offset + 4, static_cast<uint32_t>(FRecordCount & 0xFFFFFFFF));
  offset += 8;
}

std::vector<uint8_t> TORBDiskRecordManager::SaveMostUpdatedContents() const {
  std::vector<uint8_t> buffer;
  SaveMostUpdatedContents(buffer);
  return buffer;
}

void TORBDiskRecordManager::SaveMostUpdatedContents(std::vector<uint8_t>& out) const {
  out.assign(static_cast<size_t>(32) * (static_cast<size_t>(FFieldCount) + 1), 0);
  int32_t offset = 0;
  if (LFieldManager->MostUpdatedSize() > static_cast<int64_t>(out.size())) RaiseORB(20164, "Invalid table header data");
  LFieldManager->SaveMostUpdated(out, offset);
  SaveMostUpdated(out, offset);
  out.resize(static_cast<size_t>(offset));
}

void TORBDiskRecordManager::LoadMostUpdatedContents(std::span<const uint8_t> contents) {
  int32_t offset = 0;
  LFieldManager->LoadMostUpdated(contents, offset);
  LoadMostUpdated(contents, offset);
}

void TORBDiskRecordManager::LoadMetadata(TStream& stream) {
  uint8_t bytes[4];
  LoadDataFromStream(bytes, 4, stream, kErrRecordMetadataRead);
  FRecordPageIndex.OpenIndex(LoadI32LE(bytes));
}

void TORBDiskRecordManager::SaveMetadata(TStream& stream) const {
  uint8_t bytes[4];
  StoreI32LE(bytes, FRecordPageIndex.RootPageNo());
  SaveDataToStream(bytes, 4, stream, kErrRecordMetadataWrite);
}

void TORBDiskRecordManager::CreateRecordPageIndex() { FRecordPageIndex.CreateIndex(TORBPageManager::kSystemSession); }

void TORBDiskRecordManager::Delete(int32_t session_id) {
  Empty(session_id);
  FRecordPageIndex.DropIndex(session_id);
}

void TORBDiskRecordManager::SetRecNo(int32_t session_id, int64_t rec_no, TORBPageItemID& record_id) {
  int32_t page_no = 0;
  int32_t position = 0;
  FRecordPageIndex.GetRecordByRecNo(session_id, rec_no - 1, page_no, position);
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, page_no, kPageTypeTableRecord);
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  record_page.GetRecordID(position, record_id);
}

void TORBDiskRecordManager::GetRecNo(int32_t session_id, const TORBPageItemID& record_id, int64_t& rec_no) {
  int32_t position = 0;
  {
    TORBPageGuard page = LPageManager->GetPageGuard(session_id, record_id.PageNo, kPageTypeAny);
    if (!IsRecordPageValid(*page))
      RaiseORB(kErrRecordPageOfOtherTable, "Record page %d does not belong to table %d", {record_id.PageNo, FTableID});
    TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
    record_page.GetRecNoOnPage(record_id, position);
  }
  int64_t before = 0;
  FRecordPageIndex.GetRecNoByRecord(session_id, record_id.PageNo, position, before);
  rec_no = before + 1;
}

void TORBDiskRecordManager::RebuildRecordPageIndex(int32_t session_id) {
  FRecordPageIndex.CreateIndex(session_id);
  FRecordCount = 0;
  TORBDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  const int32_t page_count = LPageManager->GetPageCount();
  for (int32_t page_no = 1; page_no < page_count; ++page_no) {
    if (fsm->IsPagePfsOrEam(page_no) || !fsm->GetPageUsageFromPFS(page_no)) continue;
    if (page_no == FRecordPageIndex.RootPageNo()) continue;
    TORBPageGuard page;
    try {
      page = LPageManager->GetPageGuard(session_id, page_no, kPageTypeAny);
    } catch (const EORBException&) {
      continue;  // unreadable pages are no record pages of the table
    }
    const TORBDiskPageHeader header = page->ReadHeader();
    if (header.PageType != kPageTypeTableRecord || header.ObjectID != FTableID || !IsRecordPageValid(*page)) continue;
    TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
    const int32_t count = record_page.GetRecordCount();
    page.Release();
    if (count == 0) continue;
    FRecordPageIndex.AddRecord(session_id, page_no, count);
    FRecordCount += count;
  }
  FTableState = NextTableState(FTableState);
}

void TORBDiskRecordManager::ValidateRecordPageIndex(int32_t session_id) {
  FRecordPageIndex.Validate(session_id, FRecordCount);
}

int64_t TORBDiskRecordManager::RecordIDToBitmapNo(const TORBPageItemID& record_id) const {
  return static_cast<int64_t>(record_id.PageNo) * FMaxRecordsOnPage + record_id.PageItemNo;
}

TORBPageItemID TORBDiskRecordManager::BitmapNoToRecordID(int64_t bitmap_no) const {
  return {static_cast<int32_t>(bitmap_no / FMaxRecordsOnPage), static_cast<uint16_t>(bitmap_no % FMaxRecordsOnPage)};
}

int64_t TORBDiskRecordManager::GetBitmapSize(int32_t session_id) {
  int32_t last = 0;
  if (!FRecordPageIndex.GetLastRecordPage(session_id, last)) return 1;
  return (static_cast<int64_t>(last) + 1) * FMaxRecordsOnPage;
}

}  // namespace orb
