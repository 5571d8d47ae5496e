#pragma once

// Helpers for the locking tests: a database with a locks file, one
// "process" (an open of the database with its own sessions file and lock
// manager) per side, and a child process running
// tests/children/orb_table_lock_child.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/disk/active_sessions_file.h"
#include "engine/disk/database_creator.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/system_directory.h"
#include "engine/disk/table_lock_manager.h"
#include "engine/disk/table_locks_file.h"
#include "engine/table/page_manager.h"
#include "tests/support/disk_scratch.h"

extern char** environ;

namespace orb::testing {

// Creates a database of `max_sessions` slots with `tables` locks files of
// that many sessions; returns their first pages.
inline std::vector<int32_t> CreateLockDatabase(const std::u16string& file, int32_t max_sessions, int tables,
                                               uint16_t page_size = 256) {
  TORBDiskDatabaseOptions options;
  options.PageSize = page_size;
  options.MaxSessionCount = max_sessions;
  CreateDiskDatabase(file, options);
  TORBDiskPageManager pm;
  bool ro = false, repair = false, multi = false;
  pm.OpenDatabase(file, TORBPassword{}, ro, repair, false, multi);
  std::vector<int32_t> pages;
  for (int i = 0; i < tables; ++i) {
    TORBTableLocksFile locks(&pm);
    pages.push_back(locks.CreateFile(max_sessions));
  }
  pm.ApplyChanges(TORBPageManager::kSystemSession);
  pm.CloseDatabase();
  return pages;
}

// One open of the database for several users: its sessions file, a lock
// manager and the locks files, as one process holds them.
struct LockProcess {
  LockProcess(const std::u16string& file, const std::vector<int32_t>& locks_pages, bool exclusive = false) {
    bool ro = false, repair = false, multi = !exclusive;
    pm.OpenDatabase(file, TORBPassword{}, ro, repair, exclusive, multi);
    TORBSystemDirectory directory(&pm);
    directory.LoadDirectory();
    sessions = std::make_unique<TORBActiveSessionsFile>(&pm);
    sessions->OpenFile(directory.GetFileFirstPageNo(dbftActiveSessionsList));
    manager = std::make_unique<TORBDatabaseTableLockManager>(&pm, sessions->GetMaxSessionCount());
    // Releases wait for the file lock briefly in tests.
    manager->SetInternalRetries(5, 1, 5, 1);
    for (int32_t page : locks_pages) {
      locks.push_back(std::make_unique<TORBTableLocksFile>(&pm));
      locks.back()->OpenFile(page);
    }
  }

  TORBDiskPageManager pm;
  std::unique_ptr<TORBActiveSessionsFile> sessions;
  std::unique_ptr<TORBDatabaseTableLockManager> manager;
  std::vector<std::unique_ptr<TORBTableLocksFile>> locks;
};

// Runs tests/children/<program> with `args`; its stdout is read line by
// line and its stdin is held open until Release (or Kill).
class ChildProcess {
 public:
  ChildProcess(const std::string& program_name, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2 failed";
      return;
    }
    std::string program = std::string(ORB_TEST_BIN_DIR) + "/" + program_name;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{program.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int rc = posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    FToChild = in[1];
    FFromChild = out[0];
    if (rc != 0) {
      ADD_FAILURE() << "cannot start " << program << ": " << rc;
      FPid = -1;
    }
  }
  ~ChildProcess() {
    if (FPid > 0) Kill();
    if (FToChild >= 0) close(FToChild);
    if (FFromChild >= 0) close(FFromChild);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Next output line ("" at the end of the output or after 30 s without one).
  std::string ReadLine() {
    std::string line;
    for (;;) {
      pollfd p{FFromChild, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) return line;
      char c;
      if (read(FFromChild, &c, 1) != 1) return line;
      if (c == '\n') return line;
      line += c;
    }
  }

  // Closes the child's stdin and returns its exit status (-1 if killed).
  int Release() {
    if (FToChild >= 0) close(FToChild);
    FToChild = -1;
    return Wait();
  }
  // Kills the child without letting it clean up.
  void Kill() {
    if (FPid > 0) kill(FPid, SIGKILL);
    Release();
  }

 private:
  int Wait() {
    if (FPid <= 0) return -1;
    int status = 0;
    while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t FPid = -1;
  int FToChild = -1;
  int FFromChild = -1;
};

}  // namespace orb::testing
