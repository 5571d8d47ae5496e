// Test helper: opens a database multi-user and commits rewrites of its table
// list in a loop until a stop file appears (at most 60 seconds), so that
// another process can check the file between commits.
//
//   orb_commit_loop_child <path> <stop file>
//
// Output: "ready" after the first commit, then "done <commits>"; on an
// engine error "error <code> <message>" and exit status 1.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "engine/base/orb_exception.h"
#include "engine/disk/disk_page_manager.h"
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int commits = 0;
    struct stat st;
    while (stat(argv[2], &st) != 0 && std::chrono::steady_clock::now() < deadline) {
      // The same size each time: the commit writes pages and the header
      // without allocating any.
      list.Load();
      list.Save();
      pm.ApplyChanges(kSys);
      if (++commits == 1) {
        std::printf("ready\n");
        std::fflush(stdout);
      }
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
