#include "engine/disk/disk_database_data.h"

#include <algorithm>
#include <exception>
#include <limits>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/table_data.h"
#include "engine/disk/active_sessions_file.h"
#include "engine/disk/database_creator.h"
#include "engine/disk/database_file.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/disk_table_data.h"
#include "engine/disk/disk_session_link.h"
#include "engine/disk/free_space.h"
#include "engine/disk/system_directory.h"
#include "engine/disk/table_list.h"
#include "engine/disk/table_lock_manager.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"

namespace orb {

namespace {

constexpr std::string_view kMixedModes = "Cannot open database in multi-user and signle-user mode at the same time";

// The session's wishes; defaults for a session that offers only an id.
struct SessionWishes {
  bool Exclusive = false;
  bool MultiUser = false;
  bool InTransaction = false;
};

SessionWishes WishesOf(TORBSessionLink* session) {
  SessionWishes wishes;
  if (auto* disk = dynamic_cast<TORBDiskSessionLink*>(session)) {
    wishes.Exclusive = disk->GetExclusive();
    wishes.MultiUser = disk->GetMultiUser();
    wishes.InTransaction = disk->GetInTransaction();
  }
  return wishes;
}

void CheckSizeSetting(const char* what, int32_t value, int32_t low, int32_t high) {
  if (value < low || value > high) RaiseORB(kErrDatabaseSizeRange, "Invalid %s %d for a new database. Allowed: %d to %d", {what, value, low, high});
}

}  // namespace

TORBDiskDatabaseData::TORBDiskDatabaseData(std::u16string file_name, std::u16string session_name,
                                           const TORBDiskDatabaseSettings& settings)
    : TORBDatabaseData(std::move(file_name), std::move(session_name)),
      FPassword(settings.Password),
      FMaxSessionCount(settings.MaxSessionCount),
      FPageSize(settings.PageSize),
      FPageCountInExtent(settings.PageCountInExtent) {
  FReadOnly = settings.ReadOnly;
}

TORBDiskDatabaseData::~TORBDiskDatabaseData() {
  try {
    FTableDataList.clear();
    CloseAll(false);
  } catch (...) {
    // Destructors never raise; the file is closed by its own destructor.
  }
}

void TORBDiskDatabaseData::CheckOpen() const {
  if (!IsOpen()) RaiseORB(kErrDatabaseNotOpen, "Database '%s' is not open", {FDatabaseName});
}

// --- Opening and closing ---

void TORBDiskDatabaseData::OpenDatabase(bool exclusive, bool& multi_user, bool& repair_needed) {
  TCriticalSectionGuard guard(FCSect);
  if (IsOpen()) return;
  try {
    FDiskPageManager = std::make_unique<TORBDiskPageManager>();
    FDiskPageManager->SetCallerLock(&FCSect);
    FPageManager = FDiskPageManager.get();
    bool read_only = FReadOnly;
    FDiskPageManager->OpenDatabase(FDatabaseName, FPassword, read_only, repair_needed, exclusive, multi_user);
    FReadOnly = read_only;
    FMultiUser = multi_user;
    FPassword = FDiskPageManager->GetPassword();
    FPageSize = FDiskPageManager->GetPageSize();
    FPageCountInExtent = FDiskPageManager->GetDbHeader().PageCountInExtent;

    FSystemDir = std::make_unique<TORBSystemDirectory>(FDiskPageManager.get());
    FSystemDir->LoadDirectory();
    FActiveSessionsFile = std::make_unique<TORBActiveSessionsFile>(FDiskPageManager.get());
    FActiveSessionsFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftActiveSessionsList));
    FMaxSessionCount = FActiveSessionsFile->GetMaxSessionCount();
    FTableListFile = std::make_unique<TORBTableListFile>(FDiskPageManager.get());
    FTableListFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftTablesList));
    FTableListFile->Load();
    FTableLockManager = std::make_unique<TORBDatabaseTableLockManager>(FDiskPageManager.get(), FMaxSessionCount);
  } catch (...) {
    CloseAll(false);
    throw;
  }
}

void TORBDiskDatabaseData::CloseAll(bool report) {
  FTableLockManager.reset();
  FTableListFile.reset();
  FActiveSessionsFile.reset();
  FSystemDir.reset();
  FSingleUserConnected = false;
  std::unique_ptr<TORBDiskPageManager> manager = std::move(FDiskPageManager);
  FPageManager = nullptr;
  if (manager == nullptr) return;
  if (!report) return;  // the manager's destructor closes silently
  // Uncommitted pages of any session are dropped: the sessions are gone.
  manager->CloseDatabase();
}

void TORBDiskDatabaseData::CloseDatabase() {
  TCriticalSectionGuard guard(FCSect);
  if (!IsOpen()) return;
  FDiskPageManager->CheckNoPrivatePages();
  FTableDataList.clear();
  CloseAll(true);
}

// --- Sessions ---

void TORBDiskDatabaseData::ConnectSession(TORBSessionLink* session) {
  TCriticalSectionGuard guard(FCSect);
  SessionWishes wishes = WishesOf(session);
  auto* disk = dynamic_cast<TORBDiskSessionLink*>(session);
  if (!IsOpen()) {
    bool multi_user = wishes.MultiUser;
    bool repair_needed = false;
    OpenDatabase(wishes.Exclusive, multi_user, repair_needed);
    if (disk != nullptr) {
      disk->SetRepairNeeded(repair_needed);
      disk->SetMultiUser(multi_user);
    }
    wishes.MultiUser = multi_user;
  }
  int32_t slot = -1;
  bool took_single_user = false;
  try {
    if (wishes.MultiUser != FMultiUser) RaiseORB(20235, kMixedModes);
    if (FMultiUser) {
      slot = FActiveSessionsFile->MultiUserConnect();
      session->SetSessionID(slot);
    } else {
      session->SetSessionID(0);
      if (!FSingleUserConnected) {
        if (FActiveSessionsFile->SingleUserConnect()) {
          FSingleUserConnected = true;
          took_single_user = true;
        } else {
          FReadOnly = true;
        }
      }
    }
    SessionIdAssigned(session);
    FSessionList.push_back(session);
  } catch (...) {
    // Nothing taken for this session outlives the failure.
    try {
      if (slot >= 0) FActiveSessionsFile->MultiUserDisconnect(slot);
      if (took_single_user) {
        FSingleUserConnected = false;
        FActiveSessionsFile->SingleUserDisconnect();
      }
    } catch (...) {
      // The first failure is the one to report; the file's close below
      // releases whatever is left.
    }
    session->SetSessionID(-1);
    if (FSessionList.empty()) CloseAll(false);
    throw;
  }
}

void TORBDiskDatabaseData::RollbackSessionId(int32_t session_id) {
  std::exception_ptr first;
  auto step = [&](auto&& fn) {
    try {
      fn();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  };
  if (FMultiUser && FTableLockManager != nullptr) {
    step([&] {
      if (!FTableLockManager->ClearTransactionLocks(session_id)) {
        RaiseORB(kErrClearTransactionLocks, "Cannot end the transaction locks of session %d", {session_id});
      }
    });
  }
  step([&] { FDiskPageManager->CancelChanges(session_id); });
  for (const auto& table : FTableDataList) step([&] { table->Rollback(session_id); });
  if (first) std::rethrow_exception(first);
}

void TORBDiskDatabaseData::ReleaseConnection(int32_t session_id, bool last_session) {
  if (FMultiUser) {
    if (FTableLockManager != nullptr && !FTableLockManager->ReleaseSessionLocks(session_id)) {
      RaiseORB(kErrReleaseSessionLocks, "Cannot release the locks of session %d", {session_id});
    }
    FActiveSessionsFile->MultiUserDisconnect(session_id);
  } else if (last_session && FSingleUserConnected) {
    FActiveSessionsFile->SingleUserDisconnect();
    FSingleUserConnected = false;
  }
}

void TORBDiskDatabaseData::DisconnectSession(TORBSessionLink* session) {
  TCriticalSectionGuard guard(FCSect);
  auto it = std::find(FSessionList.begin(), FSessionList.end(), session);
  if (it == FSessionList.end()) return;
  const int32_t session_id = session->GetSessionID();
  const bool last_session = FSessionList.size() == 1;
  const SessionWishes wishes = WishesOf(session);
  std::exception_ptr failure;
  if (IsOpen()) {
    // Ids are unique to a session in multi-user mode; in single-user mode
    // every session shares id 0 (see 5 in the header).
    if (FMultiUser || wishes.InTransaction || last_session) {
      try {
        RollbackSessionId(session_id);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    try {
      ReleaseConnection(session_id, last_session);
    } catch (...) {
      if (!ORBIsDesignMode()) throw;  // the session stays connected
    }
  }
  FSessionList.erase(std::find(FSessionList.begin(), FSessionList.end(), session));
  session->SetSessionID(-1);
  if (FSessionList.empty() && IsOpen()) {
    FTableDataList.clear();
    try {
      CloseAll(true);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// --- Creation ---

void TORBDiskDatabaseData::CreateDatabase() {
  TCriticalSectionGuard guard(FCSect);
  CheckSizeSetting("page size", FPageSize, 1, std::numeric_limits<uint16_t>::max());
  CheckSizeSetting("number of pages in extent", FPageCountInExtent, 1, std::numeric_limits<uint16_t>::max());
  TORBDiskDatabaseOptions options;
  options.PageSize = static_cast<uint16_t>(FPageSize);
  options.PageCountInExtent = static_cast<uint16_t>(FPageCountInExtent);
  options.MaxSessionCount = FMaxSessionCount;
  options.Password = FPassword;
  CreateDiskDatabase(FDatabaseName, options);
}

TORBTableData* TORBDiskDatabaseData::CreateTableData(TORBCursorInterface* cursor) {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  return AddTableData(std::make_unique<TORBDiskTableData>(this, cursor->GetTableName()));
}

void TORBDiskDatabaseData::RepairTableData(const std::u16string& table_name) {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  const std::u16string wanted = UpperCaseW(table_name);
  for (const auto& table : FTableDataList) {
    if (UpperCaseW(table->TableName()) == wanted) {
      static_cast<TORBDiskTableData*>(table.get())->Repair();
      return;
    }
  }
  auto* table = static_cast<TORBDiskTableData*>(AddTableData(std::make_unique<TORBDiskTableData>(this, table_name)));
  table->Repair();
}

// --- Ids, commit, rollback ---

int32_t TORBDiskDatabaseData::GetNewObjectId() {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  return FDiskPageManager->GetNextObjectID();
}

void TORBDiskDatabaseData::Commit(int32_t session_id, bool flush) {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  if (FMultiUser) {
    if (!FTableLockManager->AddRWLocksBeforeCommit(session_id)) {
      RaiseORB(20233, "Cannot commit changes. Locks of modified tables failed");
    }
    try {
      FDiskPageManager->ApplyChanges(session_id, flush);
    } catch (...) {
      // The commit's locks go on failure too; the pages stay pending for
      // the session's rollback.
      try {
        FTableLockManager->ClearTransactionLocks(session_id);
      } catch (...) {
      }
      throw;
    }
    if (!FTableLockManager->ClearTransactionLocks(session_id)) {
      RaiseORB(kErrClearTransactionLocks, "Cannot end the transaction locks of session %d", {session_id});
    }
    return;
  }
  FDiskPageManager->ApplyChanges(session_id, flush);
}

void TORBDiskDatabaseData::Rollback(int32_t session_id) {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  RollbackSessionId(session_id);
}

void TORBDiskDatabaseData::FlushBuffers() {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  FDiskPageManager->FlushBuffers();
}

// --- Table list ---

void TORBDiskDatabaseData::GetTablesList(std::vector<std::u16string>& list) {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  std::vector<std::string> names;
  FTableListFile->GetTablesList(names);
  list.clear();
  for (const std::string& name : names) list.push_back(AnsiToWide(name));
}

bool TORBDiskDatabaseData::TableExists(const std::u16string& table_name) {
  // The file's list alone: a table data left by a failed open names no
  // stored table.
  std::vector<std::u16string> names;
  GetTablesList(names);
  return std::any_of(names.begin(), names.end(),
                     [&](const std::u16string& name) { return SameNameW(name, table_name); });
}

void TORBDiskDatabaseData::AddTable(int32_t table_id, const std::u16string& name, int32_t metadata_page,
                                    int32_t most_updated_page, int32_t locks_page) {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  FTableListFile->AddTable(table_id, WideToAnsi(name), metadata_page, most_updated_page, locks_page);
  FTableListFile->Save();
}

void TORBDiskDatabaseData::OpenTable(const std::u16string& name, int32_t& table_id, int32_t& metadata_page,
                                     int32_t& most_updated_page, int32_t& locks_page) {
  TCriticalSectionGuard guard(FCSect);
  if (FTableListFile == nullptr) RaiseORB(20129, kMsgPointerIsNil);
  FTableListFile->OpenTable(WideToAnsi(name), table_id, metadata_page, most_updated_page, locks_page);
}

void TORBDiskDatabaseData::RemoveTable(const std::u16string& name) {
  TCriticalSectionGuard guard(FCSect);
  if (FTableListFile == nullptr) RaiseORB(20130, kMsgPointerIsNil);
  FTableListFile->RemoveTable(WideToAnsi(name));
  FTableListFile->Save();
}

bool TORBDiskDatabaseData::TableListed(const std::u16string& name) {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  return FTableListFile->TableExists(WideToAnsi(name));
}

void TORBDiskDatabaseData::ReloadTableList() {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  FTableListFile->Load();
}

void TORBDiskDatabaseData::RenameTable(const std::u16string& name, const std::u16string& new_name) {
  TCriticalSectionGuard guard(FCSect);
  if (FTableListFile == nullptr) RaiseORB(20131, kMsgPointerIsNil);
  FTableListFile->RenameTable(WideToAnsi(name), WideToAnsi(new_name));
  FTableListFile->Save();
}

void TORBDiskDatabaseData::LockTables() {
  TORBDiskPageManager* manager = FDiskPageManager.get();
  if (manager == nullptr) RaiseORB(kErrDatabaseNotOpen, "Database '%s' is not open", {FDatabaseName});
  if (!TryUsingTimeOut([manager] { return manager->LockTables(); }, kLockTablesTries, kLockTablesDelayMs)) {
    RaiseORB(20210, "Database tables are locked");
  }
}

void TORBDiskDatabaseData::UnlockTables() {
  TORBDiskPageManager* manager = FDiskPageManager.get();
  if (manager == nullptr || !manager->UnlockTables()) RaiseORB(20211, "Cannot unlock database tables");
}

// --- Other operations ---

void TORBDiskDatabaseData::TruncateDatabase() {
  TCriticalSectionGuard guard(FCSect);
  CheckOpen();
  FDiskPageManager->TruncateDatabase();
}

int32_t TORBDiskDatabaseData::GetDBFileConnectionsCount() {
  TCriticalSectionGuard guard(FCSect);
  return FActiveSessionsFile != nullptr ? FActiveSessionsFile->GetDBFileConnectionsCount() : 0;
}

bool TORBDiskDatabaseData::GetEncrypted() {
  TCriticalSectionGuard guard(FCSect);
  return IsOpen() && FDiskPageManager->GetEncrypted();
}

bool TORBDiskDatabaseData::GetSuppressDBHeaderErrors() {
  TCriticalSectionGuard guard(FCSect);
  return IsOpen() && FDiskPageManager->FreeSpaceManager() != nullptr &&
         FDiskPageManager->FreeSpaceManager()->GetSuppressDBHeaderErrors();
}

void TORBDiskDatabaseData::SetSuppressDBHeaderErrors(bool on) {
  TCriticalSectionGuard guard(FCSect);
  if (IsOpen() && FDiskPageManager->FreeSpaceManager() != nullptr) {
    FDiskPageManager->FreeSpaceManager()->SetSuppressDBHeaderErrors(on);
  }
}

}  // namespace orb
