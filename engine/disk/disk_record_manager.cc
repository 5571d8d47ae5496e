#include "engine/disk/disk_record_manager.h"

#include "engine/base/error_codes.h"
#include "engine/base/field_manager.h"
#include "engine/base/orb_exception.h"
#include "engine/base/stream.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/free_space.h"
#include "engine/disk/small_record_page.h"
#include "engine/platform/byte_order.h"
#include "engine/table/page.h"
#include "engine/table/page_guard.h"

namespace orb {

bool TORBDiskRecordPageIndex::IsListed(int32_t session_id, int32_t page_no) {
  int32_t value = 0;
  return GetPageValue(session_id, page_no, value);
}

bool TORBDiskRecordPageIndex::GetListedPageAfter(int32_t session_id, int32_t page_no, int32_t& next_page_no) {
  if (IsListed(session_id, page_no)) return GetNextRecordPage(session_id, page_no, next_page_no);
  int32_t p = 0;
  if (!GetFirstRecordPage(session_id, p)) return false;
  while (p <= page_no) {
    if (!GetNextRecordPage(session_id, p, p)) return false;
  }
  next_page_no = p;
  return true;
}

bool TORBDiskRecordPageIndex::GetListedPageBefore(int32_t session_id, int32_t page_no, int32_t& prior_page_no) {
  if (IsListed(session_id, page_no)) return GetPriorRecordPage(session_id, page_no, prior_page_no);
  int32_t p = 0;
  if (!GetLastRecordPage(session_id, p)) return false;
  while (p >= page_no) {
    if (!GetPriorRecordPage(session_id, p, p)) return false;
  }
  prior_page_no = p;
  return true;
}

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
  FRecordCount = 0;
  FTableState = 0;
}

bool TORBDiskRecordManager::IsRecordPageValid(const TORBPage& page) const {
  TORBDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  if ((fsm != nullptr && fsm->GetSuppressDBHeaderErrors()) ||
      LPageManager->GetDbHeader().Version < kDBMinimumSoundVersion)
    return true;
  const TORBDiskPageHeader header = page.ReadHeader();
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

void TORBDiskRecordManager::ReadRow(const uint8_t* disk_record, TORBNavigationInfo& navigation_info) {
  if (navigation_info.RecordBuffer != nullptr)
    LFieldManager->DiskRecordBufferToMemRecordBuffer(disk_record, navigation_info.RecordBuffer);
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
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, page_no, kPageTypeAny);
  if (!IsRecordPageValid(*page)) return;
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  TORBPageItemID id;
  record_page.GetFirstRecordID(id);
  if (!record_page.GetRecordBuffer(id, FTempDiskRecordBuffer.data())) return;
  navigation_info.RecordID = id;
  ReadRow(FTempDiskRecordBuffer.data(), navigation_info);
}

void TORBDiskRecordManager::GetLast(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrError;
  if (navigation_info.GetRecordMode == grmNext) navigation_info.GetRecordResult = grrEOF;
  if (navigation_info.GetRecordMode != grmPrior) return;
  int32_t page_no = 0;
  if (!FRecordPageIndex.GetLastRecordPage(session_id, page_no)) return;
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, page_no, kPageTypeAny);
  if (!IsRecordPageValid(*page)) return;
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  TORBPageItemID id;
  record_page.GetLastRecordID(id);
  if (!record_page.GetRecordBuffer(id, FTempDiskRecordBuffer.data())) return;
  navigation_info.RecordID = id;
  ReadRow(FTempDiskRecordBuffer.data(), navigation_info);
}

void TORBDiskRecordManager::GetNext(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrEOF;
  TORBPageItemID id = navigation_info.RecordID;
  {
    TORBPageGuard page = LPageManager->GetPageGuard(session_id, id.PageNo, kPageTypeAny);
    if (!IsRecordPageValid(*page)) return;
    TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
    if (record_page.GetNextRecordID(id)) {
      if (!record_page.GetRecordBuffer(id, FTempDiskRecordBuffer.data())) RaiseORB(20145, "Record not found");
      navigation_info.RecordID = id;
      ReadRow(FTempDiskRecordBuffer.data(), navigation_info);
      return;
    }
  }
  int32_t next_page_no = 0;
  if (!FRecordPageIndex.GetListedPageAfter(session_id, id.PageNo, next_page_no)) return;
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, next_page_no, kPageTypeTableRecord);
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  record_page.GetFirstRecordID(id);
  if (!record_page.GetRecordBuffer(id, FTempDiskRecordBuffer.data())) RaiseORB(20146, "Record not found");
  navigation_info.RecordID = id;
  ReadRow(FTempDiskRecordBuffer.data(), navigation_info);
}

void TORBDiskRecordManager::GetPrior(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrBOF;
  TORBPageItemID id = navigation_info.RecordID;
  {
    TORBPageGuard page = LPageManager->GetPageGuard(session_id, id.PageNo, kPageTypeAny);
    if (!IsRecordPageValid(*page)) {
      page.Release();
      navigation_info.GetRecordMode = grmPrior;
      GetLast(session_id, navigation_info);
      return;
    }
    TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
    if (record_page.GetPriorRecordID(id)) {
      if (!record_page.GetRecordBuffer(id, FTempDiskRecordBuffer.data())) RaiseORB(20147, "Record not found");
      navigation_info.RecordID = id;
      ReadRow(FTempDiskRecordBuffer.data(), navigation_info);
      return;
    }
  }
  int32_t prior_page_no = 0;
  if (!FRecordPageIndex.GetListedPageBefore(session_id, id.PageNo, prior_page_no)) return;
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, prior_page_no, kPageTypeTableRecord);
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  record_page.GetLastRecordID(id);
  if (!record_page.GetRecordBuffer(id, FTempDiskRecordBuffer.data())) RaiseORB(20148, "Record not found");
  navigation_info.RecordID = id;
  ReadRow(FTempDiskRecordBuffer.data(), navigation_info);
}

void TORBDiskRecordManager::GetCurrent(int32_t session_id, TORBNavigationInfo& navigation_info) {
  navigation_info.GetRecordResult = grrError;
  const TORBPageItemID id = navigation_info.RecordID;
  TORBPageGuard page = LPageManager->GetPageGuard(session_id, id.PageNo, kPageTypeAny);
  if (!IsRecordPageValid(*page)) return;
  TORBSmallRecordPage record_page(page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  if (!record_page.GetRecordBuffer(id, FTempDiskRecordBuffer.data())) return;
  ReadRow(FTempDiskRecordBuffer.data(), navigation_info);
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
  std::vector<uint8_t> buffer(static_cast<size_t>(32) * (static_cast<size_t>(FFieldCount) + 1), 0);
  int32_t offset = 0;
  if (LFieldManager->MostUpdatedSize() > static_cast<int64_t>(buffer.size()))
    RaiseORB(20164, "Invalid table header data");
  LFieldManager->SaveMostUpdated(buffer, offset);
  SaveMostUpdated(buffer, offset);
  buffer.resize(static_cast<size_t>(offset));
  return buffer;
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
