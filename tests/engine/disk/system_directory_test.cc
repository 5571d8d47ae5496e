#include "engine/disk/system_directory.h"

#include <gtest/gtest.h>

#include "engine/disk/database_creator.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/internal_file.h"
#include "engine/table/page_header.h"
#include "engine/disk/table_list.h"
#include "tests/support/disk_scratch.h"
#include "tests/engine/table/fake_page_manager.h"

namespace orb {
namespace {

using testing::DiskScratch;
using testing::ErrorMessageOf;
using testing::FakePageManager;

constexpr int32_t kSys = TORBPageManager::kSystemSession;

TEST(SystemDirectoryTest, NewDatabaseListsSessionsThenTablesFromPageTwo) {
  DiskScratch dir;
  TORBDiskDatabaseOptions options;
  options.MaxSessionCount = 7;
  CreateDiskDatabase(dir.WFile("n.orb"), options);

  TORBDiskPageManager pm;
  bool ro = true, repair = false, multi = false;
  pm.OpenDatabase(dir.WFile("n.orb"), TORBPassword{}, ro, repair, false, multi);
  EXPECT_FALSE(repair);
  EXPECT_EQ(pm.GetDbHeader().State, 1);  // one commit

  TORBSystemDirectory directory(&pm);
  directory.LoadDirectory();
  ASSERT_EQ(directory.FileList().size(), 2u);
  EXPECT_EQ(directory.FileList()[0].FileID, dbftActiveSessionsList);
  EXPECT_EQ(directory.FileList()[1].FileID, dbftTablesList);
  const int32_t sessions_page = directory.GetFileFirstPageNo(dbftActiveSessionsList);
  const int32_t tables_page = directory.GetFileFirstPageNo(dbftTablesList);
  EXPECT_EQ(sessions_page, 3);
  EXPECT_EQ(tables_page, 4);
  EXPECT_EQ(directory.GetFileFirstPageNo(dbftUnknown), -1);

  // The directory itself: page 2, type 4, two 5-byte entries.
  TORBPageGuard page = pm.GetPageGuard(kSys, 2, kPageTypeFileSystemDirectory);
  const uint8_t* data = page->GetPageData();
  EXPECT_EQ(data[1], 10);  // stored size
  EXPECT_EQ(data[10], dbftActiveSessionsList);
  EXPECT_EQ(data[11], 3);
  EXPECT_EQ(data[15], dbftTablesList);
  EXPECT_EQ(data[16], 4);
  page.Release();

  TORBInternalDBDirectAccessFile sessions(&pm, kPageTypeActiveSessionList);
  sessions.OpenFile(sessions_page);
  EXPECT_EQ(sessions.GetSize(), 7);
  TORBTableListFile tables(&pm);
  tables.OpenFile(tables_page);
  tables.Load();
  EXPECT_TRUE(tables.Tables().empty());
}

TEST(SystemDirectoryTest, SavedEntriesLoadBack) {
  FakePageManager pm;
  pm.next_page_no = 2;
  TORBSystemDirectory directory(&pm);
  directory.CreateDirectory();
  directory.CreateFile(dbftTablesList, 70000);
  directory.CreateFile(dbftActiveSessionsList, 9);
  directory.CreateFile(dbftTablesList, 11);  // the first entry of a type wins
  directory.SaveDirectory();
  pm.ApplyChanges(kSys);

  TORBSystemDirectory loaded(&pm);
  loaded.LoadDirectory();
  EXPECT_EQ(loaded.FileList(), directory.FileList());
  EXPECT_EQ(loaded.GetFileFirstPageNo(dbftTablesList), 70000);
  EXPECT_EQ(loaded.GetFileFirstPageNo(dbftActiveSessionsList), 9);
}

TEST(SystemDirectoryTest, MustStartAtPageTwo) {
  FakePageManager pm;
  pm.next_page_no = 5;
  TORBSystemDirectory directory(&pm);
  EXPECT_EQ(ErrorMessageOf([&] { directory.CreateDirectory(); }),
            "Error creating SystemDirectory. SystemDirectoryPageNo=5. Real PageNo=2. - Native error: 30392");
  pm.CancelChanges(kSys);
}

}  // namespace
}  // namespace orb
