// A single-user writer keeps the allocation maps in memory between calls:
// what it commits must still be in the file's maps and header while it
// holds the file open, as a reader beside it sees them.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/disk/disk_database_data.h"
#include "engine/disk/database_file.h"
#include "engine/disk/disk_header.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/free_space.h"
#include "engine/platform/codepage.h"
#include "engine/disk/integrity_tables.h"
#include "tests/engine/disk/disk_table_cursor.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using disktest::TDiskCursor;
using disktest::TLink;
using testing::DiskScratch;

std::string Findings(const TORBIntegrityReport& report) {
  std::string lines;
  for (const std::string& line : report.Lines()) lines += line + "\n";
  return lines;
}

TEST(SingleUserMapsTest, CommittedAllocationsAndFreesAreInTheFileWhileTheWriterHoldsIt) {
  DiskScratch dir;
  TORBDiskDatabaseSettings settings;
  {
    TORBDiskDatabaseData creator(dir.WFile("db.orb"), u"", settings);
    creator.CreateDatabase();
  }
  TORBDiskDatabaseData database(dir.WFile("db.orb"), u"", settings);
  TLink link(false);
  database.ConnectSession(&link);
  ASSERT_FALSE(database.FReadOnly);
  disktest::CreateTestTable(&database, &link, u"T");
  auto expect_clean = [&](const char* when) {
    const TORBIntegrityReport report = CheckDatabaseWithTables(dir.WFile("db.orb"), {});
    EXPECT_TRUE(report.IsOk()) << when << ":\n" << Findings(report);
    // The page count the writer gives from memory is the file's: its page
    // area ends at the last page.
    TORBDiskPageManager* pm = database.DiskPageManager();
    if (pm == nullptr || !pm->GetIsOpened()) return;
    const int64_t file_pages =
        (static_cast<int64_t>(std::filesystem::file_size(dir.File("db.orb"))) - pm->GetOffsetToFirstPage()) /
        database.GetPageSize();
    EXPECT_EQ(pm->GetPageCount(), file_pages) << when;
  };
  {
    TDiskCursor cursor(&database, &link, u"T");
    cursor.Open();
    // Rows with memos of several pages each: many pages allocated, each
    // insert committed on its own.
    for (int32_t id = 0; id < 200; ++id) ASSERT_TRUE(cursor.Insert(id, id, std::string(9000, 'a' + id % 26)));
  }
  expect_clean("after the inserts");
  {
    TDiskCursor cursor(&database, &link, u"T");
    cursor.Open();
    std::vector<TORBPageItemID> ids;
    cursor.First();
    while (cursor.Next()) ids.push_back(cursor.GetCurrentRecordID());
    ASSERT_EQ(ids.size(), 200u);
    for (const TORBPageItemID& id : ids) {
      ASSERT_TRUE(cursor.MoveTo(id));
      ASSERT_TRUE(cursor.FTable->DeleteRecord(&cursor));
    }
    EXPECT_EQ(cursor.Count(), 0);
    ASSERT_TRUE(cursor.Insert(1000, 1, std::string(9000, 'z')));
  }
  expect_clean("after deleting the rows");
  database.DisconnectSession(&link);
  expect_clean("after closing");
}

// A single-user writer's page allocations change nothing stored: they go
// on while another open holds the header byte (a reader reading the
// header), where a shared writer's allocation waits for the byte. Its
// commit still takes the byte.
TEST(SingleUserMapsTest, AllocationsNeedNoHeaderByteButCommitsDo) {
  DiskScratch dir;
  TORBDiskDatabaseSettings settings;
  {
    TORBDiskDatabaseData creator(dir.WFile("db.orb"), u"", settings);
    creator.CreateDatabase();
  }
  const int64_t header_byte = kDBHeaderSize + kCryptoHeaderSize + kDBHeaderByteOffset;
  for (const bool multi_user : {false, true}) {
    SCOPED_TRACE(multi_user ? "shared writer" : "single-user writer");
    TORBDiskPageManager pm;
    bool read_only = false, repair = false, multi = multi_user;
    pm.OpenDatabase(dir.WFile("db.orb"), TORBPassword{}, read_only, repair, false, multi);
    ASSERT_EQ(multi, multi_user);
    ASSERT_FALSE(read_only);
    pm.SetLockRetries(2, 1);
    // Opened after the writer, as a reader of a held file is.
    TORBDatabaseFile reader;
    reader.OpenFile(dir.WFile("db.orb"), amReadOnly, smShareDenyNone);
    ASSERT_TRUE(reader.LockByte(header_byte, 1));
    std::vector<int32_t> pages;
    if (multi_user) {
      EXPECT_EQ(testing::ErrorCodeOf([&] { pm.FreeSpaceManager()->GetPage(); }), 20231);
    } else {
      // Enough pages to grow the file several times.
      for (int32_t i = 0; i < 300; ++i) pages.push_back(pm.FreeSpaceManager()->GetPage());
      EXPECT_EQ(std::set<int32_t>(pages.begin(), pages.end()).size(), pages.size());
      int32_t added = -1;
      {
        TORBPageGuard page = pm.AddPageGuard(0, kPageTypeTableMostUpdated);
        page.MarkDirty();
        added = page.PageNo();
      }
      EXPECT_EQ(testing::ErrorCodeOf([&] { pm.ApplyChanges(0); }), 20213);
      ASSERT_TRUE(reader.UnlockByte(header_byte, 1));
      pm.ApplyChanges(0);
      pm.RemovePage(0, added);
      pm.ApplyChanges(0);
      ASSERT_TRUE(reader.LockByte(header_byte, 1));
    }
    ASSERT_TRUE(reader.UnlockByte(header_byte, 1));
    for (const int32_t page : pages) pm.FreeSpaceManager()->FreePage(page);
    reader.CloseFile();
    pm.CloseDatabase();
  }
  const TORBIntegrityReport report = CheckDatabaseWithTables(dir.WFile("db.orb"), {});
  EXPECT_TRUE(report.IsOk()) << Findings(report);
}

}  // namespace
}  // namespace orb
