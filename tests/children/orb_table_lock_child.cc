// Test helper: opens a database for several users, connects a session and
// takes table and row locks on one table through the table lock manager.
//
//   orb_table_lock_child <db> <locks file page> hold <type>
//       Takes the table lock (one try) and prints "held <slot>" or
//       "refused", then "ready"; keeps it until stdin closes.
//   orb_table_lock_child <db> <locks file page> hold-row <page> <item>
//       The same with a row lock.
//   orb_table_lock_child <db> <locks file page> loop <iterations> <log> <seed>
//       Takes and releases random table locks, and row locks under ltSIRW
//       or ltXIRW, writing one line per lock held to <log>:
//       "T <type> <start ns> <end ns>" or "R <item> <start ns> <end ns>",
//       the times read from the system-wide monotonic clock after the lock
//       was taken and before it is released. Exit 0 when done.
//   orb_table_lock_child <db> <locks file page> steps-table <n>
//       n read steps: ltS taken and released.
//   orb_table_lock_child <db> <locks file page> steps-row <n>
//       Under one ltSIRW, n row locks taken and released.
//   orb_table_lock_child <db> - create <max sessions>
//       Creates the database with one locks file and prints its first page.
//
// The steps commands drive measurements of the lock system calls, e.g.
//   strace -f -c -e trace=fcntl orb_table_lock_child db.orb 7 steps-table 1000
//
// <type> is IS, S, SIRW, XIRW, RW, U or X. Errors print "error <code>" and
// exit 1.

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "engine/base/orb_exception.h"
#include "engine/disk/active_sessions_file.h"
#include "engine/disk/database_creator.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/system_directory.h"
#include "engine/disk/table_lock_manager.h"
#include "engine/disk/table_locks_file.h"
#include "engine/platform/clock.h"
#include "engine/platform/codepage.h"
#include "tests/support/child_io.h"

namespace {

using orb::test::Say;
using orb::test::WaitForStdinClose;

using namespace orb;

TORBLockType ParseType(const char* s) {
  for (int32_t t = 0; t < kLockTypeCount; ++t) {
    if (std::string("lt") + s == LockTypeName(static_cast<TORBLockType>(t))) return static_cast<TORBLockType>(t);
  }
  std::fprintf(stderr, "unknown lock type %s\n", s);
  std::exit(2);
}

int64_t Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int Create(const char* path, int32_t max_sessions) {
  TORBDiskDatabaseOptions options;
  options.MaxSessionCount = max_sessions;
  CreateDiskDatabase(PathToWide(path), options);
  TORBDiskPageManager pm;
  bool read_only = false, repair = false, multi_user = false;
  pm.OpenDatabase(PathToWide(path), TORBPassword{}, read_only, repair, false, multi_user);
  const int32_t page = TORBTableLocksFile(&pm).CreateFile(max_sessions);
  pm.ApplyChanges(TORBPageManager::kSystemSession);
  pm.CloseDatabase();
  Say(std::to_string(page));
  return 0;
}

int Run(int argc, char** argv) {
  if (std::string(argv[3]) == "create" && argc == 5) return Create(argv[1], std::atoi(argv[4]));
  TORBDiskPageManager pm;
  bool read_only = false, repair = false, multi_user = true;
  pm.OpenDatabase(PathToWide(argv[1]), TORBPassword{}, read_only, repair, false, multi_user);
  TORBSystemDirectory directory(&pm);
  directory.LoadDirectory();
  TORBActiveSessionsFile sessions(&pm);
  sessions.OpenFile(directory.GetFileFirstPageNo(dbftActiveSessionsList));
  const int32_t session = sessions.MultiUserConnect();
  TORBDatabaseTableLockManager manager(&pm, sessions.GetMaxSessionCount());
  TORBTableLocksFile locks(&pm);
  locks.OpenFile(std::atoi(argv[2]));
  const std::string command = argv[3];

  if (command == "hold" && argc == 5) {
    const TORBLockType type = ParseType(argv[4]);
    const bool held = manager.LockTable(session, type, locks, 1, 0);
    Say(held ? "held " + std::to_string(session) : "refused");
    Say("ready");
    WaitForStdinClose();
    if (held) manager.UnlockTable(session, type, locks);
  } else if (command == "hold-row" && argc == 6) {
    const TORBPageItemID id{std::atoi(argv[4]), static_cast<uint16_t>(std::atoi(argv[5]))};
    const bool held = manager.LockRecord(session, locks, id, 1, 0);
    Say(held ? "held " + std::to_string(session) : "refused");
    Say("ready");
    WaitForStdinClose();
    if (held) manager.UnlockRecord(session, locks, id);
  } else if (command == "loop" && argc == 7) {
    const int iterations = std::atoi(argv[4]);
    FILE* log = std::fopen(argv[5], "w");
    if (log == nullptr) return 1;
    std::mt19937 random(static_cast<unsigned>(std::atoi(argv[6])));
    const TORBLockType kTypes[] = {ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltX};
    for (int i = 0; i < iterations; ++i) {
      const TORBLockType type = kTypes[random() % 6];
      const bool row = (type == ltSIRW || type == ltXIRW) && random() % 2 == 0;
      if (!manager.LockTable(session, type, locks, 400, 10)) continue;
      const int64_t table_start = Now();
      if (row) {
        const TORBPageItemID id{7, static_cast<uint16_t>(random() % 3)};
        if (manager.LockRecord(session, locks, id, 400, 5)) {
          const int64_t start = Now();
          SleepMs(static_cast<int64_t>(random() % 3));
          std::fprintf(log, "R %d %lld %lld\n", id.PageItemNo, static_cast<long long>(start),
                       static_cast<long long>(Now()));
          if (!manager.UnlockRecord(session, locks, id)) return 1;
        }
      } else if ((type == ltRW || type == ltXIRW) && random() % 2 == 0) {
        // A read step under a write lock has no byte of its own until the
        // write lock goes first.
        if (!manager.LockTable(session, ltS, locks, 1, 0)) return 1;
        const int64_t read_start = Now();
        SleepMs(static_cast<int64_t>(random() % 3));
        std::fprintf(log, "T %d %lld %lld\n", static_cast<int>(type), static_cast<long long>(table_start),
                     static_cast<long long>(Now()));
        if (!manager.UnlockTable(session, type, locks)) return 1;
        SleepMs(static_cast<int64_t>(random() % 3));
        std::fprintf(log, "T %d %lld %lld\n", static_cast<int>(ltS), static_cast<long long>(read_start),
                     static_cast<long long>(Now()));
        if (!manager.UnlockTable(session, ltS, locks)) return 1;
        continue;
      } else {
        SleepMs(static_cast<int64_t>(random() % 3));
      }
      std::fprintf(log, "T %d %lld %lld\n", static_cast<int>(type), static_cast<long long>(table_start),
                   static_cast<long long>(Now()));
      if (!manager.UnlockTable(session, type, locks)) return 1;
    }
    if (std::fclose(log) != 0) return 1;
    manager.CheckNoLocks();
  } else if (command == "steps-table" && argc == 5) {
    const int n = std::atoi(argv[4]);
    for (int i = 0; i < n; ++i) {
      if (!manager.LockTable(session, ltS, locks, 1, 0) || !manager.UnlockTable(session, ltS, locks)) return 1;
    }
  } else if (command == "steps-row" && argc == 5) {
    const int n = std::atoi(argv[4]);
    if (!manager.LockTable(session, ltSIRW, locks, 1, 0)) return 1;
    for (int i = 0; i < n; ++i) {
      const TORBPageItemID id{3, static_cast<uint16_t>(i)};
      if (!manager.LockRecord(session, locks, id, 1, 0) || !manager.UnlockRecord(session, locks, id)) return 1;
    }
    manager.UnlockTable(session, ltSIRW, locks);
  } else {
    std::fprintf(stderr, "usage: %s db page hold|hold-row|loop|steps-table|steps-row ...\n", argv[0]);
    return 2;
  }
  sessions.MultiUserDisconnect(session);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s db page command ...\n", argv[0]);
    return 2;
  }
  try {
    return Run(argc, argv);
  } catch (const orb::EORBException& e) {
    Say("error " + std::to_string(e.NativeError()));
    std::fprintf(stderr, "%s\n", e.Message().c_str());
    return 1;
  }
}
