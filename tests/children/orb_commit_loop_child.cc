// Test helper: opens a database multi-user, adds a table whose metadata file
// spans 100 pages, then commits rewrites of that file in a loop until a stop
// file appears (at most 60 seconds), so that another process can check the
// file between commits. Each commit writes the 100 pages between the
// header's "writing" and "consistent" marks.
//
//   orb_commit_loop_child <path> <stop file>
//
// Output: "ready" once the table is committed, then "done <commits>"; on an
// engine error "error <code> <message>" and exit status 1.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/internal_file.h"
#include "engine/disk/system_directory.h"
#include "engine/disk/table_list.h"
#include "engine/platform/codepage.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  constexpr int32_t kSys = orb::TORBPageManager::kSystemSession;
  try {
    orb::TORBDiskPageManager pm;
    bool read_only = false, repair = false, multi_user = true;
    pm.OpenDatabase(orb::Utf8ToWide(argv[1]), orb::TORBPassword{}, read_only, repair, false, multi_user);
    if (!multi_user || read_only) return 3;
    orb::TORBSystemDirectory directory(&pm);
    directory.LoadDirectory();
    orb::TORBTableListFile list(&pm);
    list.OpenFile(directory.GetFileFirstPageNo(orb::dbftTablesList));
    list.Load();
    orb::TORBInternalDBTransactedAccessFile meta(&pm, orb::kPageTypeTableMetaData);
    meta.CreateFile(kSys);
    std::vector<uint8_t> bytes(static_cast<size_t>(100 * (pm.GetPageSize() - 40) - 10));
    meta.WriteFile(kSys, bytes.data(), static_cast<int32_t>(bytes.size()));
    orb::TORBInternalDBTransactedAccessFile most_updated(&pm, orb::kPageTypeTableMostUpdated);
    most_updated.CreateFile(kSys);
    orb::TORBInternalDBDirectAccessFile locks(&pm, orb::kPageTypeTableLocks);
    locks.CreateFile(12 * 500);
    list.AddTable(pm.GetNextObjectID(), "Big", meta.GetStartPageNo(), most_updated.GetStartPageNo(),
                  locks.GetStartPageNo());
    list.Save();
    pm.ApplyChanges(kSys);
    std::printf("ready\n");
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int commits = 0;
    struct stat st;
    while (stat(argv[2], &st) != 0 && std::chrono::steady_clock::now() < deadline) {
      // The same size each time: the commit writes pages and the header
      // without allocating any.
      bytes[0] = static_cast<uint8_t>(++commits);
      meta.WriteFile(kSys, bytes.data(), static_cast<int32_t>(bytes.size()));
      pm.ApplyChanges(kSys);
    }
    list.CloseFile();
    pm.CloseDatabase();
    std::printf("done %d\n", commits);
  } catch (const orb::EORBException& e) {
    std::printf("error %d %s\n", e.NativeError(), e.what());
    return 1;
  }
  return 0;
}
