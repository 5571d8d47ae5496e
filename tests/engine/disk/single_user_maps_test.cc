// A single-user writer keeps the allocation maps in memory between calls:
// what it commits must still be in the file's maps and header while it
// holds the file open, as a reader beside it sees them.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/disk/disk_database_data.h"
#include "engine/disk/disk_page_manager.h"
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

}  // namespace
}  // namespace orb
