// Disk tables driven through a small cursor: rows, indexes, BLOB values,
// table operations, transactions and failures, on real database files.

#include <gtest/gtest.h>

#include <fstream>

#include "engine/base/error_codes.h"
#include "engine/data/index_manager.h"
#include "engine/disk/disk_blob_manager.h"
#include "engine/disk/disk_database_data.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/disk_record_manager.h"
#include "engine/disk/disk_table_data.h"
#include "engine/disk/integrity_check.h"
#include "engine/disk/integrity_tables.h"
#include "engine/disk/table_lock_manager.h"
#include "engine/platform/critical_section.h"
#include "engine/table/page_header.h"
#include "tests/engine/disk/disk_table_cursor.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using disktest::kID;
using disktest::kMemo;
using disktest::kVal;
using disktest::TDiskCursor;
using disktest::TLink;
using testing::DiskScratch;
using testing::ErrorCodeOf;
using Rows = std::vector<std::pair<int32_t, int32_t>>;

// A database file and one connected session.
class DiskTableTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateFile(); }
  void TearDown() override { Disconnect(); }

  void CreateFile(const std::string& password = "", bool multi_user = false) {
    TORBDiskDatabaseSettings settings;
    settings.MaxSessionCount = 8;
    settings.Password.Password = password;
    FSettings = settings;
    TORBDiskDatabaseData creator(FDir.WFile("db.orb"), u"", settings);
    creator.CreateDatabase();
    FMultiUser = multi_user;
  }
  // A new database data object over the file and a session on it.
  TORBDiskDatabaseData& Connect() {
    Disconnect();
    FDatabase = std::make_unique<TORBDiskDatabaseData>(FDir.WFile("db.orb"), u"", FSettings);
    FLink = std::make_unique<TLink>(FMultiUser);
    FDatabase->ConnectSession(FLink.get());
    return *FDatabase;
  }
  void Disconnect() {
    FCursors.clear();
    if (FDatabase != nullptr && FLink != nullptr) FDatabase->DisconnectSession(FLink.get());
    FOtherLinks.clear();
    FDatabase.reset();
  }
  TDiskCursor& NewCursor(const std::u16string& table = u"T", TLink* link = nullptr) {
    FCursors.push_back(std::make_unique<TDiskCursor>(FDatabase.get(), link != nullptr ? link : FLink.get(), table));
    return *FCursors.back();
  }
  TDiskCursor& Open(const std::u16string& table = u"T", TLink* link = nullptr) {
    TDiskCursor& cursor = NewCursor(table, link);
    cursor.Open();
    return cursor;
  }
  TLink* OtherSession() {
    FOtherLinks.push_back(std::make_unique<TLink>(FMultiUser));
    FDatabase->ConnectSession(FOtherLinks.back().get());
    return FOtherLinks.back().get();
  }
  void CloseAll() { FCursors.clear(); }
  TORBIntegrityReport Check() {
    TORBIntegrityCheckOptions options;
    options.Password = FSettings.Password;
    return CheckDatabaseWithTables(FDir.WFile("db.orb"), options);
  }
  static std::string Joined(const TORBIntegrityReport& report) {
    std::string all;
    for (const std::string& line : report.Lines()) all += line + "\n";
    return all;
  }

  DiskScratch FDir;
  TORBDiskDatabaseSettings FSettings;
  bool FMultiUser = false;
  std::unique_ptr<TORBDiskDatabaseData> FDatabase;
  std::unique_ptr<TLink> FLink;
  std::vector<std::unique_ptr<TLink>> FOtherLinks;
  std::vector<std::unique_ptr<TDiskCursor>> FCursors;
};

TEST_F(DiskTableTest, RowsSurviveCloseAndReopen) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T");
  {
    TDiskCursor& c = Open();
    for (int32_t i = 1; i <= 300; ++i) ASSERT_TRUE(c.Insert(i, i * 10));
    // Update row 5, delete row 7.
    c.First();
    for (int32_t i = 0; i < 5; ++i) ASSERT_TRUE(c.Next());
    ASSERT_EQ(c.GetInt(kID), 5);
    ASSERT_TRUE(c.MoveTo(c.GetCurrentRecordID()));
    c.SetInt(kVal, -5);
    ASSERT_TRUE(c.FTable->UpdateRecord(&c));
    ASSERT_TRUE(c.Next());
    ASSERT_TRUE(c.Next());
    ASSERT_EQ(c.GetInt(kID), 7);
    ASSERT_TRUE(c.FTable->DeleteRecord(&c));
    // The cursor went on to the next row.
    ASSERT_TRUE(c.FTable->GetRecordBuffer(&c, grmCurrent) == grrOK);
    EXPECT_EQ(c.GetInt(kID), 8);
    EXPECT_EQ(c.Count(), 299);
  }
  Connect();
  std::vector<std::u16string> tables;
  FDatabase->GetTablesList(tables);
  EXPECT_EQ(tables, std::vector<std::u16string>{u"T"});
  TDiskCursor& c = Open();
  const Rows rows = c.Rows();
  ASSERT_EQ(rows.size(), 299u);
  EXPECT_EQ(rows[4], std::make_pair(5, -5));
  EXPECT_EQ(rows[6], std::make_pair(8, 80));
  EXPECT_EQ(c.Count(), 299);
  CloseAll();
  Disconnect();
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

TEST_F(DiskTableTest, DeletingMovesTheCursorToTheNeighbourOrTheStart) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T");
  TDiskCursor& c = Open();
  for (int32_t i = 1; i <= 3; ++i) ASSERT_TRUE(c.Insert(i, i));
  // The last row: to the previous one.
  c.First();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(c.Next());
  ASSERT_TRUE(c.FTable->DeleteRecord(&c));
  ASSERT_EQ(c.FTable->GetRecordBuffer(&c, grmCurrent), grrOK);
  EXPECT_EQ(c.GetInt(kID), 2);
  // The first of two, then the only one: to the start.
  c.First();
  ASSERT_TRUE(c.Next());
  ASSERT_TRUE(c.FTable->DeleteRecord(&c));
  ASSERT_EQ(c.FTable->GetRecordBuffer(&c, grmCurrent), grrOK);
  EXPECT_EQ(c.GetInt(kID), 2);
  ASSERT_TRUE(c.FTable->DeleteRecord(&c));
  EXPECT_TRUE(c.GetFirstPosition());
  EXPECT_EQ(c.Count(), 0);
  EXPECT_TRUE(c.Rows().empty());
}

TEST_F(DiskTableTest, IndexesFollowTheRowsAndAUniqueIndexRefusesDuplicates) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.IdIndex = disktest::TTableSpec::kUnique});
  {
    TDiskCursor& c = Open();
    for (int32_t id : {5, 3, 9, 1, 7}) ASSERT_TRUE(c.Insert(id, id * 2));
    EXPECT_NE(ErrorCodeOf([&] { c.Insert(3, 0); }), 0);
    EXPECT_EQ(c.Count(), 5);
  }
  Connect();
  TDiskCursor& c = Open();
  const int32_t index_id = c.FTable->IndexManager()->IndexDefs().GetIndexDef(0)->FObjectID;
  c.SetIndex(index_id);
  EXPECT_EQ(c.Rows(), (Rows{{1, 2}, {3, 6}, {5, 10}, {7, 14}, {9, 18}}));
  // Update a key, delete another: the index order follows.
  c.First();
  ASSERT_TRUE(c.Next());
  ASSERT_TRUE(c.MoveTo(c.GetCurrentRecordID()));
  c.SetInt(kID, 8);
  ASSERT_TRUE(c.FTable->UpdateRecord(&c));
  c.First();
  ASSERT_TRUE(c.Next());
  ASSERT_EQ(c.GetInt(kID), 3);
  ASSERT_TRUE(c.FTable->DeleteRecord(&c));
  EXPECT_EQ(c.Rows(), (Rows{{5, 10}, {7, 14}, {8, 2}, {9, 18}}));
  // The refused duplicate left nothing behind: the freed key is usable.
  EXPECT_TRUE(c.Insert(3, 33));
  EXPECT_NE(ErrorCodeOf([&] { c.Insert(8, 0); }), 0);
  EXPECT_EQ(c.Rows(), (Rows{{3, 33}, {5, 10}, {7, 14}, {8, 2}, {9, 18}}));
  CloseAll();
  Disconnect();
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

// Memo values of every size class round-trip, through reopen, with and
// without compression and encryption.
struct MemoCase {
  const char* Name;
  const char* Password;
  TORBCompressionAlgorithm Algorithm;
};

class DiskTableMemoTest : public DiskTableTest, public ::testing::WithParamInterface<MemoCase> {};

TEST_P(DiskTableMemoTest, ValuesOfEverySizeRoundTrip) {
  CreateFile(GetParam().Password);
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.Algorithm = GetParam().Algorithm});
  const int32_t page = FDatabase->GetPageSize();
  std::vector<std::string> values;
  for (size_t size : {size_t{1}, size_t{300}, static_cast<size_t>(page + 100), static_cast<size_t>(5 * page + 17)}) {
    std::string v(size, '\0');
    for (size_t i = 0; i < size; ++i) v[i] = static_cast<char>('a' + (i * 7 + size) % 26);
    values.push_back(v);
  }
  {
    TDiskCursor& c = Open();
    for (size_t i = 0; i < values.size(); ++i) ASSERT_TRUE(c.Insert(static_cast<int32_t>(i), 0, values[i]));
    ASSERT_TRUE(c.Insert(99, 0));  // null memo
    // Replace the large value by a small one and the small one by a large.
    c.First();
    ASSERT_TRUE(c.Next());
    ASSERT_TRUE(c.MoveTo(c.GetCurrentRecordID()));
    c.SetText(kMemo, values[3]);
    ASSERT_TRUE(c.FTable->UpdateRecord(&c));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(c.Next());
    ASSERT_TRUE(c.MoveTo(c.GetCurrentRecordID()));
    c.SetText(kMemo, values[0]);
    ASSERT_TRUE(c.FTable->UpdateRecord(&c));
  }
  Connect();
  TDiskCursor& c = Open();
  std::vector<std::string> read;
  c.First();
  while (c.Next()) read.push_back(c.GetText(kMemo));
  ASSERT_EQ(read.size(), 5u);
  EXPECT_EQ(read[0], values[3]);
  EXPECT_EQ(read[1], values[1]);
  EXPECT_EQ(read[2], values[2]);
  EXPECT_EQ(read[3], values[0]);
  EXPECT_EQ(read[4], "");
  // Deleting rows frees their values.
  for (c.First(); c.Next(); c.First()) ASSERT_TRUE(c.FTable->DeleteRecord(&c));
  EXPECT_EQ(c.Count(), 0);
  CloseAll();
  Disconnect();
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

// Values written the way a cursor writes them, through the table's own
// stream in pieces, at the sizes where the stored layout changes (small or
// large, one more data page, the page list spilling to a page of its own),
// read back whole and from an offset.
TEST_P(DiskTableMemoTest, ValuesWrittenThroughTheTablesStreamRoundTrip) {
  CreateFile(GetParam().Password);
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.Algorithm = GetParam().Algorithm});
  const int32_t d = FDatabase->DiskPageManager()->GetPageDataSize();
  std::vector<size_t> sizes;
  // 24 + size < d is small; a large value keeps d - 32 bytes on its first
  // page and d on each further one, with its page list after them.
  for (int32_t edge : {d - 24, d - 32, 2 * d - 32, 3 * d - 32 - 12, 3 * d - 32})
    for (int32_t delta : {-1, 0, 1}) sizes.push_back(static_cast<size_t>(edge + delta));
  sizes.push_back(static_cast<size_t>(10 * 1024));
  std::vector<std::string> values;
  for (size_t size : sizes) {
    std::string v(size, '\0');
    for (size_t i = 0; i < size; ++i) v[i] = static_cast<char>('a' + (i * 13 + size) % 26);
    values.push_back(v);
  }
  {
    TDiskCursor& c = Open();
    for (size_t i = 0; i < values.size(); ++i) {
      c.Clear();
      c.SetInt(kID, static_cast<int32_t>(i));
      std::unique_ptr<TStream> stream = c.FTable->InternalCreateBlobStream(&c, kMemo, c.FCurrentPtr, true);
      const std::string& v = values[i];
      for (size_t at = 0; at < v.size(); at += 1000)
        ASSERT_EQ(stream->Write(v.data() + at, static_cast<int64_t>(std::min<size_t>(1000, v.size() - at))),
                  static_cast<int64_t>(std::min<size_t>(1000, v.size() - at)));
      c.FTable->WriteBLOBFieldToRecordBuffer(c.GetSessionID(), kMemo, *stream, c.FCurrentPtr);
      ASSERT_TRUE(c.FTable->InsertRecord(&c));
    }
  }
  Connect();
  TDiskCursor& c = Open();
  c.First();
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(values[i].size());
    ASSERT_TRUE(c.Next());
    EXPECT_EQ(c.GetText(kMemo), values[i]);
    std::unique_ptr<TStream> stream = c.FTable->InternalCreateBlobStream(&c, kMemo, c.FCurrentPtr, false);
    const int64_t from = static_cast<int64_t>(values[i].size()) - d / 2;
    std::string tail(static_cast<size_t>(d), '\0');
    ASSERT_EQ(stream->Seek(from, soBeginning), from);
    ASSERT_EQ(stream->Read(tail.data(), d), d / 2);
    EXPECT_EQ(tail.substr(0, static_cast<size_t>(d / 2)), values[i].substr(static_cast<size_t>(from)));
  }
  EXPECT_FALSE(c.Next());
  CloseAll();
  Disconnect();
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

INSTANTIATE_TEST_SUITE_P(Storage, DiskTableMemoTest,
                         ::testing::Values(MemoCase{"Plain", "", acaNone}, MemoCase{"Zlib", "", acaZLIB},
                                           MemoCase{"Encrypted", "secret", acaNone}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DiskTableTest, ADamagedBlobPageGivesACodedError) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T");
  const int32_t page = FDatabase->GetPageSize();
  {
    TDiskCursor& c = Open();
    ASSERT_TRUE(c.Insert(1, 0, std::string(static_cast<size_t>(3 * page), 'L')));
    ASSERT_TRUE(c.Insert(2, 0, std::string(50, 's')));
  }
  Disconnect();
  // Every BLOB page's data, header fields included, turns to 0xFF.
  std::vector<uint8_t> file = testing::ReadAll(FDir.File("db.orb"));
  const int64_t first = static_cast<int64_t>(file.size()) % page;
  int damaged = 0;
  for (int64_t at = first; at + page <= static_cast<int64_t>(file.size()); at += page) {
    const uint16_t type = static_cast<uint16_t>(file[static_cast<size_t>(at) + 8] | file[static_cast<size_t>(at) + 9] << 8);
    if (type != kPageTypeTableBlob) continue;
    std::fill(file.begin() + at + 40, file.begin() + at + page, uint8_t{0xFF});
    ++damaged;
  }
  ASSERT_GT(damaged, 0);
  testing::WriteAll(FDir.File("db.orb"), file);
  Connect();
  TDiskCursor& c = Open();
  c.First();
  for (int row = 0; row < 2; ++row) {
    ASSERT_TRUE(c.Next());
    EXPECT_NE(ErrorCodeOf([&] { c.GetText(kMemo); }), 0) << "row " << row;
  }
}

TEST_F(DiskTableTest, EmptyingMovesTheTableStateOnAndKeepsTheTable) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.IdIndex = disktest::TTableSpec::kUnique});
  int32_t state = 0;
  {
    TDiskCursor& c = Open();
    state = c.FTable->RecordManager()->GetTableState();
    c.Close();
  }
  TDiskCursor& empty_cursor = NewCursor();
  empty_cursor.FTable->EmptyTable(&empty_cursor);
  {
    TDiskCursor& c = Open();
    // Even an empty table's state moves on: a reader that loaded the old
    // state must see a change.
    EXPECT_NE(c.FTable->RecordManager()->GetTableState(), state);
    EXPECT_NE(c.FTable->RecordManager()->GetTableState(), 0);
    for (int32_t i = 0; i < 50; ++i) ASSERT_TRUE(c.Insert(i, i, std::string(600, 'x')));
    state = c.FTable->RecordManager()->GetTableState();
    c.Close();
  }
  empty_cursor.FTable->EmptyTable(&empty_cursor);
  Connect();
  TDiskCursor& c = Open();
  EXPECT_EQ(c.Count(), 0);
  EXPECT_NE(c.FTable->RecordManager()->GetTableState(), state);
  // The index was emptied too.
  EXPECT_TRUE(c.Insert(1, 1));
  CloseAll();
  Disconnect();
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

TEST_F(DiskTableTest, RenameAndDeleteTables) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"A", {.IdIndex = disktest::TTableSpec::kPlain});
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"B");
  {
    TDiskCursor& c = Open(u"A");
    for (int32_t i = 0; i < 20; ++i) ASSERT_TRUE(c.Insert(i, i, std::string(2000, 'm')));
  }
  CloseAll();
  TDiskCursor& renamer = NewCursor(u"A");
  renamer.FTable->RenameTable(u"C", &renamer);
  std::vector<std::u16string> tables;
  FDatabase->GetTablesList(tables);
  EXPECT_EQ(tables, (std::vector<std::u16string>{u"C", u"B"}));
  CloseAll();
  Connect();
  EXPECT_EQ(ErrorCodeOf([&] { Open(u"A"); }), 30396);
  EXPECT_EQ(Open(u"C").Count(), 20);
  CloseAll();
  TDiskCursor& deleter = NewCursor(u"C");
  deleter.FTable->DeleteTable(&deleter, false);
  FDatabase->GetTablesList(tables);
  EXPECT_EQ(tables, std::vector<std::u16string>{u"B"});
  CloseAll();
  Disconnect();
  // Every page of the deleted table went back.
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

TEST_F(DiskTableTest, CreatingOverATableReplacesItOnlyWhenTheNewOneExists) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T");
  {
    TDiskCursor& c = Open();
    for (int32_t i = 0; i < 10; ++i) ASSERT_TRUE(c.Insert(i, i, "memo"));
  }
  CloseAll();
  // A create that fails late (its index names no field) keeps the table.
  EXPECT_NE(ErrorCodeOf([&] { disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.BadIndex = true}); }), 0);
  // Without fields, too.
  EXPECT_EQ(ErrorCodeOf([&] { disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.NoFields = true}); }),
            kErrDiskCreateNoFields);
  EXPECT_EQ(Open().Count(), 10);
  CloseAll();
  Connect();
  EXPECT_EQ(Open().Count(), 10);
  CloseAll();
  // A create that succeeds replaces it.
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T");
  EXPECT_EQ(Open().Count(), 0);
  CloseAll();
  Disconnect();
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

TEST_F(DiskTableTest, ExclusiveOpenBesideOtherCursorsIsRefused) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T");
  TDiskCursor& a = Open();
  TDiskCursor& b = Open();
  ASSERT_TRUE(a.Insert(1, 1));
  EXPECT_EQ(b.Count(), 1);
  TDiskCursor& x = NewCursor();
  x.FTable->SetCursorExclusive(&x, true);
  EXPECT_EQ(ErrorCodeOf([&] { x.Open(); }), kErrDiskExclusiveOpenByCursors);
  // Emptying needs the table for itself as well.
  EXPECT_EQ(ErrorCodeOf([&] { x.FTable->EmptyTable(&x); }), kErrDiskExclusiveOpenByCursors);
  EXPECT_EQ(a.Count(), 1);
}

TEST_F(DiskTableTest, AFailedInsertCancelsTheSessionsChangesAndKeepsTheUnpostedMemo) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.IdIndex = disktest::TTableSpec::kUnique});
  TDiskCursor& c = Open();
  ASSERT_TRUE(c.Insert(1, 1));
  const std::string memo(3 * FDatabase->GetPageSize(), 'q');
  EXPECT_NE(ErrorCodeOf([&] { c.Insert(1, 2, memo); }), 0);
  EXPECT_FALSE(FDatabase->DiskPageManager()->HasPendingChanges(FLink->FId));
  EXPECT_EQ(c.Count(), 1);
  // The value is still the cursor's to post with another key.
  c.SetInt(kID, 2);
  ASSERT_TRUE(c.FTable->InsertRecord(&c));
  EXPECT_EQ(c.GetText(kMemo), memo);
  CloseAll();
  Disconnect();
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

// Inside a single-user transaction the row count and table state are
// written once, not per row: however the transaction ends, the file holds
// the count of the rows it holds.
TEST_F(DiskTableTest, SingleUserTransactionsLeaveTheRowCountOfTheRowsTheyLeave) {
  enum TEnd { kCommit, kRollback, kCloseThenCommit, kAnotherSessionApplies };
  struct TCase {
    TEnd End;
    const char* Name;
    int64_t Rows;
  };
  // One row before the transaction; inside it ids 2 .. 31 are inserted, a
  // duplicate is refused and row 2 is deleted again.
  const TCase cases[] = {
      {kCommit, "commit", 30},
      {kRollback, "rollback", 1},
      {kCloseThenCommit, "cursor closed before the commit", 30},
      // Single-user sessions share one id: an apply outside the transaction
      // applies the transaction's pages too, and the rollback finds them
      // committed.
      {kAnotherSessionApplies, "another session applies", 30},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    CreateFile();
    Connect();
    disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.IdIndex = disktest::TTableSpec::kUnique});
    disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"U");
    TDiskCursor& cursor = Open();
    ASSERT_TRUE(cursor.Insert(1, 1));
    FLink->FInTransaction = true;
    TORBPageItemID second{};
    for (int32_t id = 2; id <= 31; ++id) {
      ASSERT_TRUE(cursor.Insert(id, id, std::string(id % 3 == 0 ? 500 : 0, 'x')));
      if (id == 2) second = cursor.GetCurrentRecordID();
      if (id == 10) {
        EXPECT_NE(ErrorCodeOf([&] { cursor.Insert(5, 0); }), 0);
      }
    }
    EXPECT_EQ(cursor.Count(), 31);
    ASSERT_TRUE(cursor.MoveTo(second));
    ASSERT_TRUE(cursor.FTable->DeleteRecord(&cursor));
    EXPECT_EQ(cursor.Count(), 30);
    switch (c.End) {
      case kCommit:
        FDatabase->Commit(FLink->FId, false);
        break;
      case kRollback:
        FDatabase->Rollback(FLink->FId);
        break;
      case kCloseThenCommit:
        CloseAll();
        FDatabase->Commit(FLink->FId, false);
        break;
      case kAnotherSessionApplies: {
        TLink* other = OtherSession();
        ASSERT_EQ(other->FId, FLink->FId);
        other->FInTransaction = false;
        ASSERT_TRUE(Open(u"U", other).Insert(1, 1));
        FDatabase->Rollback(FLink->FId);
        break;
      }
    }
    FLink->FInTransaction = false;
    CloseAll();
    Disconnect();
    const TORBIntegrityReport report = Check();
    EXPECT_TRUE(report.IsOk()) << Joined(report);
    Connect();
    TDiskCursor& reopened = Open();
    EXPECT_EQ(reopened.Count(), c.Rows);
    EXPECT_EQ(static_cast<int64_t>(reopened.Rows().size()), c.Rows);
    CloseAll();
    Disconnect();
  }
}

TEST_F(DiskTableTest, RepairRecountsAWrongStoredRowCount) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T");
  {
    TDiskCursor& c = Open();
    for (int32_t i = 0; i < 5; ++i) ASSERT_TRUE(c.Insert(i, i));
    // The stored count goes wrong.
    TCriticalSectionGuard guard(FDatabase->CSect());
    c.FTable->DiskRecordManager()->FRecordCount = 99;
    c.FTable->SaveMostUpdated(TORBPageManager::kSystemSession);
    FDatabase->DiskPageManager()->ApplyChanges(TORBPageManager::kSystemSession);
  }
  CloseAll();
  Disconnect();
  EXPECT_FALSE(Check().IsOk());
  Connect();
  FDatabase->RepairTableData(u"T");
  EXPECT_EQ(Open().Count(), 5);
  CloseAll();
  Disconnect();
  // The table is sound again; the replaced record page index is left to
  // the integrity check to free (its pages may be damaged).
  for (const TORBIntegrityFinding& finding : Check().Findings())
    EXPECT_EQ(finding.Kind, TORBIntegrityFindingKind::Leaked) << finding.Text();
}

class DiskTableMultiUserTest : public DiskTableTest {
 protected:
  void SetUp() override { CreateFile("", true); }
};

TEST_F(DiskTableMultiUserTest, TransactionsCommitEverythingOrRollBackEverything) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.IdIndex = disktest::TTableSpec::kUnique});
  TLink* other = OtherSession();
  TDiskCursor& mine = Open();
  TDiskCursor& theirs = Open(u"T", other);
  ASSERT_TRUE(mine.Insert(1, 1));

  FLink->FInTransaction = true;
  for (int32_t i = 2; i <= 40; ++i) ASSERT_TRUE(mine.Insert(i, i, std::string(700, 'r')));
  EXPECT_EQ(mine.Count(), 40);
  EXPECT_EQ(theirs.Count(), 1);
  EXPECT_EQ(theirs.Rows(), (Rows{{1, 1}}));
  FDatabase->Rollback(FLink->FId);
  FLink->FInTransaction = false;
  EXPECT_EQ(mine.Count(), 1);
  EXPECT_EQ(mine.Rows(), (Rows{{1, 1}}));
  // The rolled-back keys are free again.
  FLink->FInTransaction = true;
  for (int32_t i = 2; i <= 40; ++i) ASSERT_TRUE(mine.Insert(i, i, std::string(700, 'r')));
  FDatabase->Commit(FLink->FId);
  FLink->FInTransaction = false;
  EXPECT_EQ(theirs.Count(), 40);
  EXPECT_EQ(theirs.Rows().back(), std::make_pair(40, 40));
  // Only the cursors' open locks remain.
  const TORBTableLockList& locks = FDatabase->TableLockManager()->SessionLocks(FLink->FId);
  ASSERT_EQ(locks.Count(), 1u);
  EXPECT_EQ(locks.Item(0).LockType, ltIS);
  CloseAll();
  Disconnect();
  const TORBIntegrityReport report = Check();
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

TEST_F(DiskTableMultiUserTest, FailedRowChangesReleaseTheirLocks) {
  Connect();
  disktest::CreateTestTable(FDatabase.get(), FLink.get(), u"T", {.IdIndex = disktest::TTableSpec::kUnique});
  TDiskCursor& c = Open();
  ASSERT_TRUE(c.Insert(1, 1));
  EXPECT_NE(ErrorCodeOf([&] { c.Insert(1, 1); }), 0);
  ASSERT_TRUE(c.Insert(2, 2));
  c.First();
  ASSERT_TRUE(c.Next());
  ASSERT_TRUE(c.MoveTo(c.GetCurrentRecordID()));
  c.SetInt(kID, 2);
  EXPECT_NE(ErrorCodeOf([&] { c.FTable->UpdateRecord(&c); }), 0);
  const TORBTableLockList& locks = FDatabase->TableLockManager()->SessionLocks(FLink->FId);
  ASSERT_EQ(locks.Count(), 1u);
  EXPECT_EQ(locks.Item(0).LockType, ltIS);
  // Another session can write.
  TLink* other = OtherSession();
  TDiskCursor& theirs = Open(u"T", other);
  EXPECT_TRUE(theirs.Insert(3, 3));
  EXPECT_EQ(c.Count(), 3);
}

}  // namespace
}  // namespace orb
