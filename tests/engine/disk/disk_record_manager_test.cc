#include "engine/disk/disk_record_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/stream_memory.h"
#include "engine/disk/small_record_page.h"
#include "tests/engine/disk/disk_table_fixture.h"

namespace orb {
namespace {

using testing::DiskTable;
using testing::ErrorCodeOf;
using testing::FieldSpec;
using testing::kSession;
using testing::kTableID;

// One integer and a 94-byte field: S = 100 bytes (null bitmap, 4, 95), so a
// 4096-byte page (D = 4056) holds 40 rows.
const std::vector<FieldSpec> kRow100 = {{"id", aftInteger, 0}, {"pad", aftBytes, 94}};

// Navigates from the first row to the end; the keys in physical order.
std::vector<int32_t> ScanForward(DiskTable& t, int32_t session = kSession) {
  std::vector<int32_t> keys;
  std::vector<uint8_t> buf(static_cast<size_t>(t.FFields.GetMemoryRecordBufferSize()));
  TORBNavigationInfo nav;
  nav.GetRecordMode = grmNext;
  nav.FirstPosition = true;
  nav.RecordBuffer = buf.data();
  for (;;) {
    t.FRecords->GetRecordBuffer(session, nav);
    if (nav.GetRecordResult != grrOK) break;
    keys.push_back(t.Key(buf));
  }
  return keys;
}

TEST(DiskRecordPageTest, SlotsPerPage) {
  struct Case {
    int32_t d, s, n;
  } cases[] = {{4056, 100, 40}, {4056, 4054, 1}, {4056, 4055, 0}, {4056, 4056, 0}, {4056, 1, 3604}, {984, 10, 97}};
  for (const Case& c : cases) EXPECT_EQ(c.n, TORBSmallRecordPage::MaxRecordsOnPage(c.d, c.s)) << c.s;
}

// The slot bitmap is read a byte at a time: bits past the last slot are
// set in some cases below and must count neither as rows nor as room.
TEST(DiskRecordManagerTest, FreeSlotAndRowCountReadTheBitmapUpToTheLastSlot) {
  DiskTable t(4096, kRow100);
  struct Case {
    int32_t slots;
    std::vector<uint8_t> bitmap;
    int32_t free_slot;  // -1: the page is full
    int32_t rows;
  } cases[] = {
      {10, {0x00, 0x00}, 0, 0},  {10, {0xFF, 0x01}, 9, 9},   {10, {0xFF, 0x03}, -1, 10},
      {10, {0xFF, 0xFF}, -1, 10}, {10, {0xFF, 0xFD}, 9, 9},  {12, {0xF7, 0x0F}, 3, 11},
      {8, {0xFF, 0x00}, -1, 8},   {16, {0xFF, 0x7F}, 15, 15}, {17, {0xFF, 0xFF, 0xFE}, 16, 16},
      {1, {0xFE}, 0, 0},
  };
  for (const Case& c : cases) {
    TORBPageGuard page = t.FPm.AddPageGuard(kSession, kPageTypeTableRecord);
    std::copy(c.bitmap.begin(), c.bitmap.end(), page->GetPageData());
    TORBSmallRecordPage records(page, 10, c.slots);
    int32_t slot = -1;
    EXPECT_EQ(records.FindUnusedRecordSlot(slot), c.free_slot >= 0) << c.slots << " slots, case " << &c - cases;
    if (c.free_slot >= 0) {
      EXPECT_EQ(slot, c.free_slot) << &c - cases;
    }
    EXPECT_EQ(records.GetRecordCount(), c.rows) << &c - cases;
  }
  t.FPm.CancelChanges(kSession);
}

TEST(DiskRecordManagerTest, RecordSizeAgainstPageSize) {
  DiskTable t(4096, kRow100);
  ASSERT_EQ(100, t.FRecords->GetDiskRecordBufferSize());
  EXPECT_EQ(40, t.FRecords->GetMaxRecordsOnPage());
  TORBDiskRecordManager m(&t.FPm, &t.FFields, 5);
  EXPECT_EQ(20174, ErrorCodeOf([&] { m.Init(10, 4055, 1); }));
  EXPECT_EQ(20174, ErrorCodeOf([&] { m.Init(10, 4056, 1); }));
  EXPECT_EQ(20142, ErrorCodeOf([&] { m.Init(10, 10, 0); }));
  m.Init(10, 4054, 1);
  EXPECT_EQ(1, m.GetMaxRecordsOnPage());
}

TEST(DiskRecordManagerTest, SecondPageRecNoAndFreeingOnApply) {
  DiskTable t(4096, kRow100);
  std::vector<TORBPageItemID> ids;
  for (int32_t k = 1; k <= 41; ++k) ids.push_back(t.Add(k));
  EXPECT_EQ(41, t.FRecords->GetRecordCount());
  for (int i = 1; i < 40; ++i) EXPECT_EQ(ids[0].PageNo, ids[i].PageNo);
  EXPECT_NE(ids[0].PageNo, ids[40].PageNo);
  EXPECT_EQ(0, ids[40].PageItemNo);
  int64_t rec_no = 0;
  t.FRecords->GetRecNo(kSession, ids[40], rec_no);
  EXPECT_EQ(41, rec_no);
  t.FRecords->GetRecNo(kSession, ids[39], rec_no);
  EXPECT_EQ(40, rec_no);
  TORBPageItemID id;
  t.FRecords->SetRecNo(kSession, 41, id);
  EXPECT_EQ(ids[40], id);
  t.FRecords->SetRecNo(kSession, 1, id);
  EXPECT_EQ(ids[0], id);
  EXPECT_EQ(20113, ErrorCodeOf([&] { t.FRecords->SetRecNo(kSession, 42, id); }));
  t.FPm.ApplyChanges(kSession);

  std::vector<int32_t> expected;
  for (int32_t k = 1; k <= 41; ++k) expected.push_back(k);
  EXPECT_EQ(expected, ScanForward(t));

  const int32_t used_before = t.UsedPages();
  for (int i = 0; i < 40; ++i) EXPECT_TRUE(t.FRecords->DeleteRecord(kSession, ids[i]));
  EXPECT_FALSE(t.FRecords->DeleteRecord(kSession, ids[0]));
  EXPECT_EQ(1, t.FRecords->GetRecordCount());
  EXPECT_EQ(used_before, t.UsedPages());
  t.FPm.ApplyChanges(kSession);
  EXPECT_EQ(used_before - 1, t.UsedPages());
  EXPECT_EQ(std::vector<int32_t>{41}, ScanForward(t));
  t.FRecords->ValidateRecordPageIndex(kSession);
  t.FRecords->GetRecNo(kSession, ids[40], rec_no);
  EXPECT_EQ(1, rec_no);
}

TEST(DiskRecordManagerTest, LowestFreeSlotIsReused) {
  DiskTable t(4096, kRow100);
  std::vector<TORBPageItemID> ids;
  for (int32_t k = 0; k < 10; ++k) ids.push_back(t.Add(k));
  EXPECT_TRUE(t.FRecords->DeleteRecord(kSession, ids[7]));
  EXPECT_TRUE(t.FRecords->DeleteRecord(kSession, ids[3]));
  EXPECT_EQ(ids[3], t.Add(100));
  EXPECT_EQ(ids[7], t.Add(101));
  EXPECT_EQ(10, t.Add(102).PageItemNo);
}

TEST(DiskRecordManagerTest, NavigationEndsAndModes) {
  DiskTable t(4096, kRow100);
  std::vector<uint8_t> buf(static_cast<size_t>(t.FFields.GetMemoryRecordBufferSize()));
  TORBNavigationInfo nav;
  nav.RecordBuffer = buf.data();
  nav.GetRecordMode = grmNext;
  nav.FirstPosition = true;
  t.FRecords->GetRecordBuffer(kSession, nav);
  EXPECT_EQ(grrEOF, nav.GetRecordResult);  // empty table

  std::vector<TORBPageItemID> ids;
  for (int32_t k = 1; k <= 45; ++k) ids.push_back(t.Add(k));
  struct Case {
    TORBGetRecordMode mode;
    bool first, last;
    TORBPageItemID from;
    TORBGetRecordResult result;
    int32_t key;  // expected on grrOK
  } cases[] = {
      {grmNext, true, false, {}, grrOK, 1},         {grmPrior, true, false, {}, grrBOF, 0},
      {grmCurrent, true, false, {}, grrError, 0},   {grmPrior, false, true, {}, grrOK, 45},
      {grmNext, false, true, {}, grrEOF, 0},        {grmCurrent, false, true, {}, grrError, 0},
      {grmNext, false, false, ids[44], grrEOF, 0},  {grmPrior, false, false, ids[0], grrBOF, 0},
      {grmNext, false, false, ids[39], grrOK, 41},  {grmPrior, false, false, ids[40], grrOK, 40},
      {grmCurrent, false, false, ids[10], grrOK, 11},
  };
  for (const Case& c : cases) {
    nav = {};
    nav.RecordBuffer = buf.data();
    nav.GetRecordMode = c.mode;
    nav.FirstPosition = c.first;
    nav.LastPosition = c.last;
    nav.RecordID = c.from;
    t.FRecords->GetRecordBuffer(kSession, nav);
    EXPECT_EQ(c.result, nav.GetRecordResult) << c.mode << c.first << c.last;
    if (c.result == grrOK) {
      EXPECT_EQ(c.key, t.Key(buf));
      EXPECT_FALSE(nav.FirstPosition || nav.LastPosition);
    }
  }
  // A deleted row: current gives grrError; next and prior still step on,
  // also from a page that lost its last row.
  ASSERT_TRUE(t.FRecords->DeleteRecord(kSession, ids[10]));
  nav = {};
  nav.RecordID = ids[10];
  t.FRecords->GetRecordBuffer(kSession, nav);
  EXPECT_EQ(grrError, nav.GetRecordResult);
  for (int i = 40; i < 45; ++i) ASSERT_TRUE(t.FRecords->DeleteRecord(kSession, ids[i]));
  nav = {};
  nav.GetRecordMode = grmPrior;
  nav.RecordID = ids[44];
  nav.RecordBuffer = buf.data();
  t.FRecords->GetRecordBuffer(kSession, nav);
  ASSERT_EQ(grrOK, nav.GetRecordResult);
  EXPECT_EQ(40, t.Key(buf));
  nav.GetRecordMode = grmNext;
  nav.RecordID = ids[44];
  t.FRecords->GetRecordBuffer(kSession, nav);
  EXPECT_EQ(grrEOF, nav.GetRecordResult);
}

TEST(DiskRecordManagerTest, UpdateCompareAndApproximateRecNo) {
  DiskTable t(4096, kRow100);
  const TORBPageItemID a = t.Add(1);
  const TORBPageItemID b = t.Add(2);
  const int32_t state = t.FRecords->GetTableState();
  std::vector<uint8_t> r = t.Row(20);
  EXPECT_TRUE(t.FRecords->UpdateRecord(kSession, r.data(), b));
  EXPECT_NE(state, t.FRecords->GetTableState());
  EXPECT_EQ((std::vector<int32_t>{1, 20}), ScanForward(t));
  ASSERT_TRUE(t.FRecords->DeleteRecord(kSession, b));
  EXPECT_FALSE(t.FRecords->UpdateRecord(kSession, r.data(), b));
  EXPECT_EQ(-1, t.FRecords->CompareRecordID(a, b));
  EXPECT_EQ(1, t.FRecords->CompareRecordID({a.PageNo + 1, 0}, b));
  EXPECT_EQ(0, t.FRecords->CompareRecordID(a, a));
  EXPECT_EQ(0, t.FRecords->GetApproximateRecNo(kSession, a));
}

// Emptying never sets the state back to 0 (a reader that loaded state 0
// would take the emptied table for unchanged), and it frees the pages.
TEST(DiskRecordManagerTest, EmptyAdvancesStateAndFreesPages) {
  DiskTable t(4096, kRow100);
  const int32_t used_empty = t.UsedPages();
  const int32_t start_state = t.FRecords->GetTableState();
  EXPECT_EQ(0, start_state);
  t.FRecords->Empty(kSession);
  EXPECT_NE(0, t.FRecords->GetTableState());
  for (int32_t k = 0; k < 100; ++k) t.Add(k);
  t.FPm.ApplyChanges(kSession);
  const int32_t before = t.FRecords->GetTableState();
  t.FRecords->Empty(kSession);
  EXPECT_NE(before, t.FRecords->GetTableState());
  EXPECT_NE(0, t.FRecords->GetTableState());
  EXPECT_EQ(0, t.FRecords->GetRecordCount());
  t.FPm.ApplyChanges(kSession);
  EXPECT_EQ(used_empty, t.UsedPages());
  EXPECT_TRUE(ScanForward(t).empty());
  EXPECT_EQ(1, TORBDiskRecordManager::NextTableState(2147483647));
  EXPECT_EQ(1, TORBDiskRecordManager::NextTableState(0));
}

// Bitmap numbers and sizes reach past 32 bits for high page numbers.
TEST(DiskRecordManagerTest, BitmapNumbersAre64Bit) {
  DiskTable t(4096, kRow100);
  EXPECT_EQ(1, t.FRecords->GetBitmapSize(kSession));
  const TORBPageItemID far{2000000000, 39};
  const int64_t no = t.FRecords->RecordIDToBitmapNo(far);
  EXPECT_EQ(int64_t{2000000000} * 40 + 39, no);
  EXPECT_EQ(far, t.FRecords->BitmapNoToRecordID(no));
  const TORBPageItemID id = t.Add(1);
  EXPECT_EQ((int64_t{id.PageNo} + 1) * 40, t.FRecords->GetBitmapSize(kSession));
}

// A failure while adding raises with its reason instead of a bare false.
TEST(DiskRecordManagerTest, AddRaisesItsReason) {
  DiskTable t(4096, kRow100);
  std::vector<uint8_t> r = t.Row(1);
  TORBPageItemID id;
  TORBDiskRecordManager no_index(&t.FPm, &t.FFields, kTableID);
  no_index.Init(t.FFields.GetMemoryRecordBufferSize(), 100, 2);
  EXPECT_NE(0, ErrorCodeOf([&] { no_index.AddRecord(kSession, r.data(), id); }));
  t.FRecords->FRecordCount = TORBDiskRecordManager::kMaxRecordCount;
  EXPECT_EQ(kErrTableRowCountLimit, ErrorCodeOf([&] { t.FRecords->AddRecord(kSession, r.data(), id); }));
  t.FPm.CancelChanges(kSession);
}

// The row count is stored in 32 bits and read back unsigned: every count
// up to 2^32 - 1 round-trips; AddRecord refuses to go beyond.
TEST(DiskRecordManagerTest, MostUpdatedRoundTrip) {
  DiskTable t(4096, {{"id", aftAutoInc, 0}, {"pad", aftBytes, 94}, {"n", aftAutoIncLargeint, 0}});
  for (int64_t count : {int64_t{0}, int64_t{5}, int64_t{2147483648}, int64_t{3000000000}, int64_t{4294967295}}) {
    t.FRecords->FRecordCount = count;
    t.FRecords->FTableState = 1234;
    t.FFields.GetNextAutoincVal(0);
    const std::vector<uint8_t> saved = t.FRecords->SaveMostUpdatedContents();
    ASSERT_EQ(4u + 8u * 3u + 8u, saved.size());
    EXPECT_EQ(static_cast<uint32_t>(count), LoadU32LE(&saved[saved.size() - 4]));
    EXPECT_EQ(1234, LoadI32LE(&saved[saved.size() - 8]));
    t.FRecords->FRecordCount = -7;
    t.FRecords->FTableState = 0;
    t.FRecords->LoadMostUpdatedContents(saved);
    EXPECT_EQ(count, t.FRecords->GetRecordCount());
    EXPECT_EQ(1234, t.FRecords->GetTableState());
  }
  std::vector<uint8_t> small(6);
  int32_t offset = 0;
  EXPECT_EQ(20164, ErrorCodeOf([&] { t.FRecords->SaveMostUpdated(small, offset); }));
  EXPECT_EQ(20164, ErrorCodeOf([&] { t.FRecords->LoadMostUpdated(small, offset); }));
}

TEST(DiskRecordManagerTest, MetadataRootAndRebuild) {
  DiskTable t(4096, kRow100);
  std::vector<TORBPageItemID> ids;
  for (int32_t k = 1; k <= 90; ++k) ids.push_back(t.Add(k));
  for (int i = 0; i < 90; i += 3) ASSERT_TRUE(t.FRecords->DeleteRecord(kSession, ids[i]));
  t.FPm.ApplyChanges(kSession);
  const std::vector<int32_t> keys = ScanForward(t);
  ASSERT_EQ(60u, keys.size());

  TORBMemoryStream meta;
  t.FRecords->SaveMetadata(meta);
  EXPECT_EQ(4, meta.GetSize());
  meta.SetPosition(0);
  TORBDiskRecordManager reopened(&t.FPm, &t.FFields, kTableID);
  reopened.Init(t.FFields.GetMemoryRecordBufferSize(), 100, 2);
  reopened.LoadMetadata(meta);
  EXPECT_EQ(t.FRecords->RecordPageIndex().RootPageNo(), reopened.RecordPageIndex().RootPageNo());
  EXPECT_EQ(kErrRecordMetadataRead, ErrorCodeOf([&] { reopened.LoadMetadata(meta); }));

  // A stored row count that disagrees fails validation; the rebuild lists
  // the table's pages again and recounts.
  t.FRecords->FRecordCount = 59;
  EXPECT_EQ(20292, ErrorCodeOf([&] { t.FRecords->ValidateRecordPageIndex(kSession); }));
  // A page of another table in the file is not taken.
  DiskTable* other = &t;
  TORBDiskRecordManager other_table(&other->FPm, &other->FFields, kTableID + 1);
  other_table.Init(t.FFields.GetMemoryRecordBufferSize(), 100, 2);
  other_table.CreateRecordPageIndex();
  t.FPm.ApplyChanges(TORBPageManager::kSystemSession);
  std::vector<uint8_t> r = t.Row(999);
  TORBPageItemID foreign;
  ASSERT_TRUE(other_table.AddRecord(kSession, r.data(), foreign));
  t.FPm.ApplyChanges(kSession);
  t.FRecords->RebuildRecordPageIndex(kSession);
  EXPECT_EQ(60, t.FRecords->GetRecordCount());
  t.FRecords->ValidateRecordPageIndex(kSession);
  EXPECT_EQ(keys, ScanForward(t));
  t.FPm.ApplyChanges(kSession);

  // Rows of the other table are not reachable through this table.
  TORBNavigationInfo nav;
  nav.RecordID = foreign;
  t.FRecords->GetRecordBuffer(kSession, nav);
  EXPECT_EQ(grrError, nav.GetRecordResult);
  EXPECT_FALSE(t.FRecords->UpdateRecord(kSession, r.data(), foreign));
  EXPECT_FALSE(t.FRecords->DeleteRecord(kSession, foreign));
  int64_t rec_no = 0;
  EXPECT_EQ(kErrRecordPageOfOtherTable, ErrorCodeOf([&] { t.FRecords->GetRecNo(kSession, foreign, rec_no); }));
  // ...unless header errors are suppressed (a copy of a damaged file).
  t.FPm.FreeSpaceManager()->SetSuppressDBHeaderErrors(true);
  t.FRecords->GetRecordBuffer(kSession, nav);
  EXPECT_EQ(grrOK, nav.GetRecordResult);
  t.FPm.FreeSpaceManager()->SetSuppressDBHeaderErrors(false);
}

// Damaged header fields of a stored record page: another table's id makes
// the rows unreachable, as does a removed page's stamp; another page type
// is refused when read.
TEST(DiskRecordManagerTest, DamagedRecordPageHeader) {
  struct Case {
    const char* what;
    size_t offset;  // in the page
    std::vector<uint8_t> bytes;
    TORBGetRecordResult first;  // navigation to the first row
    int32_t rows;               // rows found walking forward
  } cases[] = {
      {"other table", 22, {0x99, 0, 0, 0}, grrError, 0},
      {"removed", 4, {0xFF, 0xFF, 0xFF, 0x7F}, grrError, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiskTable t(4096, kRow100);
    const TORBPageItemID id = t.Add(1);
    t.Add(2);
    t.Add(3);
    t.FPm.ApplyChanges(kSession);
    t.FPm.CloseDatabase();
    std::vector<uint8_t> bytes = testing::ReadAll(t.File());
    const int64_t at = t.PageOffset(id.PageNo) + static_cast<int64_t>(c.offset);
    for (size_t i = 0; i < c.bytes.size(); ++i) bytes[static_cast<size_t>(at) + i] = c.bytes[i];
    testing::WriteAll(t.File(), bytes);
    bool ro = false, repair = false, multi = false;
    t.FPm.OpenDatabase(t.FDir.WFile("t.orb"), {}, ro, repair, false, multi);
    t.FRecords->FRecordCount = 3;
    TORBNavigationInfo nav;
    nav.GetRecordMode = grmNext;
    nav.FirstPosition = true;
    t.FRecords->GetRecordBuffer(kSession, nav);
    EXPECT_EQ(c.first, nav.GetRecordResult);
    EXPECT_EQ(static_cast<size_t>(c.rows), ScanForward(t).size());
  }
  // Another page type: the read refuses it with its code.
  DiskTable t(4096, kRow100);
  const TORBPageItemID id = t.Add(1);
  t.FPm.ApplyChanges(kSession);
  t.FPm.CloseDatabase();
  std::vector<uint8_t> bytes = testing::ReadAll(t.File());
  bytes[static_cast<size_t>(t.PageOffset(id.PageNo)) + 8] = kPageTypeTableIndex;
  testing::WriteAll(t.File(), bytes);
  bool ro = false, repair = false, multi = false;
  t.FPm.OpenDatabase(t.FDir.WFile("t.orb"), {}, ro, repair, false, multi);
  std::vector<uint8_t> r = t.Row(5);
  EXPECT_EQ(20153, ErrorCodeOf([&] { t.FRecords->UpdateRecord(kSession, r.data(), id); }));
}

// The stored page: type 10, the table id in ObjectID, the slot bitmap and
// slot i at ceil(n / 8) + i * S.
TEST(DiskRecordManagerTest, RecordPageLayoutOnFile) {
  DiskTable t(4096, kRow100);
  std::vector<TORBPageItemID> ids;
  for (int32_t k = 10; k < 13; ++k) ids.push_back(t.Add(k));
  ASSERT_TRUE(t.FRecords->DeleteRecord(kSession, ids[1]));
  t.FPm.ApplyChanges(kSession);
  t.FPm.CloseDatabase();
  const std::vector<uint8_t> file = testing::ReadAll(t.File());
  const uint8_t* page = &file[static_cast<size_t>(t.PageOffset(ids[0].PageNo))];
  EXPECT_EQ(kPageTypeTableRecord, LoadU16LE(page + 8));
  EXPECT_EQ(kTableID, LoadI32LE(page + 22));
  const uint8_t* data = page + 40;
  EXPECT_EQ(0x05, data[0]);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(0, data[i]);
  const uint8_t* slot2 = data + 5 + 2 * 100;
  EXPECT_EQ(0x02, slot2[0]);  // null bitmap: id present, pad null
  EXPECT_EQ(12, LoadI32LE(slot2 + 1));
}

// Adding and deleting rows over and over keeps the file at a steady size.
TEST(DiskRecordManagerTest, ChurnDoesNotGrowTheFile) {
  DiskTable t(4096, kRow100);
  std::vector<TORBPageItemID> ids;
  int64_t size_after_first = 0;
  for (int round = 0; round < 20; ++round) {
    for (int32_t k = 0; k < 200; ++k) ids.push_back(t.Add(k));
    t.FPm.ApplyChanges(kSession);
    for (const TORBPageItemID& id : ids) ASSERT_TRUE(t.FRecords->DeleteRecord(kSession, id));
    ids.clear();
    t.FPm.ApplyChanges(kSession);
    if (round == 0) size_after_first = t.FPm.GetPageCount();
  }
  EXPECT_LE(t.FPm.GetPageCount(), size_after_first + 8);
  EXPECT_EQ(0, t.FRecords->GetRecordCount());
}

}  // namespace
}  // namespace orb
