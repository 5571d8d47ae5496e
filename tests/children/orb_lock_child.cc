// Test helper: opens a file, runs the commands given on the command line
// and reports each result on stdout, then holds everything until its stdin
// closes (or it is killed).
//
//   orb_lock_child <path> <share: none|write|all> [lock <offset> <length>]...
//                  [probe <offset> <length>]...
//
// Output: "open ok" or "open <errno>", then per command "lock ok",
// "lock busy", "lock <errno>", "probe locked" or "probe free", then "ready".

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/platform/file.h"
#include "tests/support/child_io.h"

namespace {

using orb::test::Say;

orb::FileShare ParseShare(const char* s) {
  if (std::strcmp(s, "all") == 0) return orb::FileShare::kDenyAll;
  if (std::strcmp(s, "write") == 0) return orb::FileShare::kDenyWrite;
  return orb::FileShare::kDenyNone;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s path share [lock|probe offset length]...\n", argv[0]);
    return 2;
  }
  orb::TPlatformFile file;
  orb::PlatformStatus s = file.Open(argv[1], orb::FileAccess::kReadWrite, ParseShare(argv[2]),
                                    orb::FileDisposition::kOpenExisting);
  Say(s.Ok() ? "open ok" : "open " + std::to_string(s.Code()));
  if (s.Ok()) {
    for (int i = 3; i + 2 < argc; i += 3) {
      int64_t offset = std::strtoll(argv[i + 1], nullptr, 10);
      int64_t length = std::strtoll(argv[i + 2], nullptr, 10);
      if (std::strcmp(argv[i], "lock") == 0) {
        s = file.Lock(offset, length);
        Say(s.Ok() ? "lock ok" : (s.IsLockConflict() ? "lock busy" : "lock " + std::to_string(s.Code())));
      } else {
        bool locked = false;
        s = file.TestLock(offset, length, &locked);
        Say(!s.Ok() ? "probe " + std::to_string(s.Code()) : (locked ? "probe locked" : "probe free"));
      }
    }
  }
  Say("ready");
  char c;
  while (read(STDIN_FILENO, &c, 1) > 0) {
  }
  return 0;
}
