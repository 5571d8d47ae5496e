// Test helper: opens a database multi-user and allocates and releases pages
// through its free space maps, printing each page it obtained.
//
//   orb_disk_alloc_child <path> <allocations> <seed>
//
// Output: one line per allocated page ("+N"), per released page ("-N"),
// then "done"; on an engine error "error <code>" and exit status 1.

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/free_space.h"
#include "engine/platform/codepage.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int count = std::atoi(argv[2]);
  std::mt19937 gen(static_cast<unsigned>(std::atoi(argv[3])));
  try {
    orb::TORBDiskPageManager pm;
    bool read_only = false, repair = false, multi_user = true;
    pm.OpenDatabase(orb::Utf8ToWide(argv[1]), orb::TORBPassword{}, read_only, repair, false, multi_user);
    if (!multi_user || read_only) return 3;
    std::vector<int32_t> mine;
    for (int i = 0; i < count; ++i) {
      const int32_t page = pm.FreeSpaceManager()->GetPage();
      std::printf("+%d\n", page);
      mine.push_back(page);
      if (gen() % 4 == 0) {
        const size_t at = gen() % mine.size();
        const int32_t freed = mine[at];
        mine.erase(mine.begin() + static_cast<std::ptrdiff_t>(at));
        // Printed before the release: once released another process may
        // obtain it at once.
        std::printf("-%d\n", freed);
        std::fflush(stdout);
        pm.FreeSpaceManager()->FreePage(freed);
      }
    }
    std::printf("done\n");
  } catch (const orb::EORBException& e) {
    std::printf("error %d %s\n", e.NativeError(), e.what());
    return 1;
  }
  return 0;
}
