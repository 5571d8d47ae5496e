#pragma once

// Helpers for the locking tests: a database with a locks file, one
// "process" (an open of the database with its own sessions file and lock
// manager) per side; child processes come from tests/support/child_process.h.

#include <gtest/gtest.h>

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
#include "tests/support/child_process.h"
#include "tests/support/disk_scratch.h"

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

}  // namespace orb::testing
