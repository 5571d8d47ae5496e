#include "components/orb_database.h"

#include <algorithm>
#include <exception>

#include "components/dataset.h"
#include "components/db_common.h"
#include "components/orb_session.h"
#include "components/orb_session_list.h"
#include "components/prompts.h"
#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/disk_database_data.h"
#include "engine/disk/disk_header.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/platform/codepage.h"
#include "engine/platform/file.h"
#include "engine/session/local_session.h"

namespace orb {

namespace {

constexpr int32_t kErrIncorrectPassword = 30445;
constexpr std::string_view kMsgMaintenanceUnavailable = "Database maintenance is not available yet: %s";
constexpr std::string_view kMsgCannotConvert =
    "Cannot convert database to the new format. Please report this problem together with the database file "
    "if you can.";

// The database names that select the engine's own in-memory and temporary
// databases (exact, as the engine compares them); they have no file.
bool IsEngineDatabaseName(std::string_view name) { return name == "MEMORY" || name == "TEMP"; }

bool SameText(std::string_view a, std::string_view b) { return SameName(Utf8ToAnsi(a), Utf8ToAnsi(b)); }

[[noreturn]] void MaintenanceUnavailable(std::string_view operation) {
  RaiseORB(kErrMaintenanceUnavailable, kMsgMaintenanceUnavailable, {operation});
}

// Whether the connected engine session's file has a format older than the
// current one (opening it needs a conversion).
bool IsOldFormat(const TORBLocalSession& handle) {
  const TORBDiskDatabaseData* disk = handle.DiskDatabaseData();
  const TORBDiskPageManager* pages = disk != nullptr ? disk->DiskPageManager() : nullptr;
  return pages != nullptr && pages->GetDbHeader().Version < kDBMinimumSoundVersion;
}

// Holds the global session lock with `session` current.
class TSessionLock {
 public:
  explicit TSessionLock(TORBSession& session) : FSession(session) { FSession.LockSession(); }
  ~TSessionLock() { FSession.UnlockSession(); }
  TSessionLock(const TSessionLock&) = delete;
  TSessionLock& operator=(const TSessionLock&) = delete;

 private:
  TORBSession& FSession;
};

}  // namespace

TORBDatabase::TORBDatabase(TComponent* owner) : TComponent(owner) {
  FSession = dynamic_cast<TORBSession*>(owner);
  if (FSession == nullptr && owner != nullptr) {
    for (int i = 0; i < owner->ComponentCount() && FSession == nullptr; ++i) {
      auto* session = dynamic_cast<TORBSession*>(owner->Components(i));
      if (session != nullptr && session->AutoSessionName()) FSession = session;
    }
  }
  if (FSession == nullptr) FSession = ORBDefaultSession();
  if (FSession != nullptr) {
    FSessionName = FSession->SessionName();
    FSession->AddDatabase(this);
  }
}

TORBDatabase::~TORBDatabase() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // Destructors never raise.
  }
  if (FSession != nullptr) FSession->RemoveDatabase(this);
}

// --- Connection ---

void TORBDatabase::Open() {
  if (Connected()) return;
  try {
    DoOpen();
  } catch (const std::exception& e) {
    if (!Designing()) throw;
    Prompts().ShowError(e.what());
  }
}

void TORBDatabase::DoOpen() {
  CheckDatabaseName();
  CheckSessionName(true);
  if (FHandleShared && OpenFromExistingDB()) return;
  TSessionLock lock(*FSession);
  if (!FTemporary && !IsEngineDatabaseName(FDatabaseName) && !Exists()) {
    DatabaseErrorFmt(kSDatabaseFileMissing, {FDatabaseFileName});
  }
  std::unique_ptr<TORBLocalSession> handle = CreateHandle();
  ConnectHandle(handle);
  if (!Designing()) FReadOnly = handle->FReadOnly;
  FCryptoAlgorithm = handle->FPassword.CryptoAlgorithm;
  FPageSize = handle->FPageSize;
  FPageCountInExtent = handle->FPageCountInExtent;
  FMaxConnections = handle->FMaxSessionCount;
  FOwnedHandle = std::move(handle);
  FHandle = FOwnedHandle.get();
  FAcquiredHandle = false;
  FSession->DBNotify(dbOpen, *this);
}

bool TORBDatabase::OpenFromExistingDB() {
  for (int i = 0; i < FSession->DatabaseCount(); ++i) {
    TORBDatabase* other = FSession->Databases(i);
    if (other == this || !other->HandleShared() || !other->Connected()) continue;
    if (!SameText(other->DatabaseName(), FDatabaseName)) continue;
    FHandle = other->FHandle;
    FAcquiredHandle = true;
    FReadOnly = other->FReadOnly;
    FCryptoAlgorithm = other->FCryptoAlgorithm;
    FPageSize = other->FPageSize;
    FPageCountInExtent = other->FPageCountInExtent;
    FMaxConnections = other->FMaxConnections;
    FSession->DBNotify(dbOpen, *this);
    return true;
  }
  return false;
}

std::unique_ptr<TORBLocalSession> TORBDatabase::CreateHandle() const {
  auto handle = std::make_unique<TORBLocalSession>();
  handle->FDatabaseName = Utf8ToWide(FDatabaseName);
  handle->FDatabaseFileName = PathToWide(FDatabaseFileName);
  handle->FPassword.Password = Utf8ToAnsi(FPassword);
  handle->FPassword.CryptoAlgorithm = FCryptoAlgorithm;
  handle->FPageSize = FPageSize;
  handle->FPageCountInExtent = FPageCountInExtent;
  handle->FMaxSessionCount = FMaxConnections;
  handle->FReadOnly = FReadOnly;
  handle->FExclusive = FExclusive;
  handle->FMultiUser = FMultiUser;
  // Each session name is a connection of its own in multi-user mode.
  if (FMultiUser) handle->FSessionName = Utf8ToWide(FSessionName);
  handle->FSessionComponentManager = FSession != nullptr ? FSession->Handle() : nullptr;
  return handle;
}

void TORBDatabase::ConnectHandle(std::unique_ptr<TORBLocalSession>& handle) {
  int password_prompts = 0;
  for (;;) {
    try {
      handle->SetConnected(true);
      if (handle->FRepairNeeded && !FSilentMode && !Designing() &&
          (IsOldFormat(*handle) ? AskConvert() : AskRepair())) {
        handle.reset();
        FNoRepairRequest = true;
        try {
          const std::string log = RepairDatabase();
          if (!log.empty()) Prompts().ShowWarning(log);
        } catch (const EORBException& e) {
          FNoRepairRequest = false;
          if (e.NativeError() == kErrMaintenanceUnavailable) throw;
          RaiseORB(20238, kMsgCannotConvert);
        } catch (...) {
          FNoRepairRequest = false;
          RaiseORB(20238, kMsgCannotConvert);
        }
        FNoRepairRequest = false;
        handle = CreateHandle();
        handle->SetConnected(true);
      }
      return;
    } catch (const EORBException& e) {
      // The engine session goes with its failure; a new one is made for
      // another password.
      handle.reset();
      if (e.NativeError() != kErrIncorrectPassword || password_prompts >= kMaxPasswordPrompts || !AskPassword()) {
        throw;
      }
      ++password_prompts;
      handle = CreateHandle();
    } catch (...) {
      handle.reset();
      throw;
    }
  }
}

bool TORBDatabase::AskPassword() {
  if (OnPassword) {
    bool try_again = false;
    OnPassword(*this, try_again);
    return try_again;
  }
  if (FSilentMode) return false;
  std::optional<std::string> password = Prompts().AskPassword();
  if (!password) return false;
  FPassword = std::move(*password);
  return true;
}

bool TORBDatabase::AskConvert() {
  if (FNoRepairRequest) return false;
  Prompts().ShowInformation(std::string(kSOldFormat));
  return true;
}

bool TORBDatabase::AskRepair() {
  if (FNoRepairRequest) return false;
  if (OnNeedRepair) {
    bool repair = false;
    OnNeedRepair(*this, repair);
    return repair;
  }
  return Prompts().Confirm(std::string(kSNeedRepair)) == TPromptAnswer::kYes;
}

void TORBDatabase::Close() {
  if (!Connected() || FClosing) return;
  FClosing = true;
  try {
    if (FSession != nullptr) FSession->DBNotify(dbClose, *this);
    CloseDataSets();
  } catch (...) {
    FClosing = false;
    throw;
  }
  FClosing = false;
  // Components that took this one's engine session let go of it first.
  if (!FAcquiredHandle && FSession != nullptr) {
    for (int i = FSession->DatabaseCount(); i-- > 0;) {
      if (i >= FSession->DatabaseCount()) continue;
      TORBDatabase* other = FSession->Databases(i);
      if (other != this && other->FAcquiredHandle && other->FHandle == FHandle) other->Close();
    }
  }
  FRefCount = 0;
  DestroyHandle();
}

void TORBDatabase::DestroyHandle() {
  FHandle = nullptr;
  const bool acquired = FAcquiredHandle;
  FAcquiredHandle = false;
  if (acquired) return;
  std::unique_ptr<TORBBaseSession> handle = std::move(FOwnedHandle);
  if (handle) handle->SetConnected(false);
}

void TORBDatabase::SetConnected(bool value) {
  if (ComponentState() & csReading) {
    FStreamedConnected = value;
  } else if (value) {
    Open();
  } else {
    Close();
  }
}

void TORBDatabase::Loaded() {
  TComponent::Loaded();
  if (FStreamedConnected) Open();
}

bool TORBDatabase::Exists() const { return TPlatformFile::Exists(FDatabaseFileName); }

bool TORBDatabase::InTransaction() const { return FHandle != nullptr && FHandle->GetInTransaction(); }

void TORBDatabase::SetHandle(TORBBaseSession* handle) {
  if (Connected()) Close();
  if (handle == nullptr) return;
  CheckDatabaseName();
  CheckSessionName(true);
  if (handle->FSessionComponentManager != FSession->Handle()) DatabaseError(std::string(kSHandleOtherSession));
  FHandle = handle;
  FAcquiredHandle = true;
  FSession->DBNotify(dbOpen, *this);
}

TORBLocalSession* TORBDatabase::LocalHandle() const { return dynamic_cast<TORBLocalSession*>(FHandle); }

// --- Whole database ---

void TORBDatabase::CreateDatabase() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  TSessionLock lock(*FSession);
  std::unique_ptr<TORBLocalSession> handle = CreateHandle();
  handle->CreateDatabase();
}

void TORBDatabase::DeleteDatabase() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  // Refused while any open file holds the database (its share lock).
  const PlatformStatus status = TPlatformFile::Delete(FDatabaseFileName);
  if (!status.Ok()) {
    RaiseORB(kErrDeleteDatabaseFile, "Cannot delete database file '%s': %s", {FDatabaseFileName, status.Text()});
  }
}

void TORBDatabase::RenameDatabase(const std::string& new_file_name) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  const PlatformStatus status = TPlatformFile::Rename(FDatabaseFileName, new_file_name, false);
  if (!status.Ok()) {
    RaiseORB(kErrRenameDatabaseFile, "Cannot rename database file '%s' to '%s': %s",
             {FDatabaseFileName, new_file_name, status.Text()});
  }
  FDatabaseFileName = new_file_name;
}

bool TORBDatabase::CompactDatabase() { MaintenanceUnavailable("compact"); }
bool TORBDatabase::CompactDatabase(const std::string&) { MaintenanceUnavailable("compact"); }
std::string TORBDatabase::RepairDatabase() { MaintenanceUnavailable("repair"); }
bool TORBDatabase::RepairDatabase(const std::string&, std::string&) { MaintenanceUnavailable("repair"); }
void TORBDatabase::TruncateDatabase() { MaintenanceUnavailable("truncate"); }
std::string TORBDatabase::ChangePassword(const std::string&) { MaintenanceUnavailable("change password"); }
std::string TORBDatabase::ChangePassword(const std::string&, TORBCryptoAlgorithm) {
  MaintenanceUnavailable("change password");
}
bool TORBDatabase::ChangeDatabaseSettings(std::string&, bool, const std::string&, TORBCryptoAlgorithm, int32_t,
                                          int32_t, int32_t) {
  MaintenanceUnavailable("change database settings");
}
void TORBDatabase::MakeExecutableDatabase(const std::string&, const std::string&) {
  MaintenanceUnavailable("executable database");
}

// --- Transactions and other operations ---

void TORBDatabase::StartTransaction() {
  CheckActive();
  if (FHandle->GetInTransaction()) DatabaseError(std::string(kSInTransaction));
  FHandle->StartTransaction();
}

void TORBDatabase::Commit(bool flush_buffers) {
  CheckActive();
  FHandle->Commit(flush_buffers);
}

void TORBDatabase::Rollback() {
  CheckActive();
  FHandle->Rollback();
}

void TORBDatabase::FlushBuffers() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckActive();
  FHandle->FlushBuffers();
}

int32_t TORBDatabase::GetDBFileConnectionsCount() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckActive();
  TORBLocalSession* local = LocalHandle();
  return local != nullptr ? local->GetDBFileConnectionsCount() : 0;
}

void TORBDatabase::GetTablesList(std::vector<std::string>& list) {
  list.clear();
  const bool was_connected = Connected();
  try {
    if (!was_connected) Open();
    if (FHandle != nullptr) {
      std::vector<std::u16string> names;
      FHandle->GetTablesList(names);
      for (const std::u16string& name : names) list.push_back(WideToUtf8(name));
    }
  } catch (...) {
    // The list keeps what was found.
  }
  if (!was_connected) {
    try {
      Close();
    } catch (...) {
      // As above.
    }
  }
}

bool TORBDatabase::TableExists(std::string_view table_name) {
  if (!Connected()) Open();
  if (FHandle == nullptr) return false;
  return FHandle->TableExists(Utf8ToWide(table_name));
}

// --- Datasets ---

void TORBDatabase::AttachDataSet(TDataSet* data_set) {
  if (data_set != nullptr && std::find(FDataSets.begin(), FDataSets.end(), data_set) == FDataSets.end()) {
    FDataSets.push_back(data_set);
  }
}

void TORBDatabase::DetachDataSet(TDataSet* data_set) { std::erase(FDataSets, data_set); }

void TORBDatabase::CloseDataSets() {
  // SQL-based datasets (queries) first: they may hold tables of the others.
  for (;;) {
    auto it = std::find_if(FDataSets.begin(), FDataSets.end(), [](TDataSet* d) { return d->PSIsSQLBased(); });
    if (it == FDataSets.end()) break;
    TDataSet* data_set = *it;
    data_set->Close();
    DetachDataSet(data_set);
  }
  while (!FDataSets.empty()) {
    TDataSet* data_set = FDataSets.back();
    data_set->Close();
    DetachDataSet(data_set);
  }
}

// --- Settings ---

void TORBDatabase::SetDatabaseName(std::string name) {
  if ((ComponentState() & csReading) || name == FDatabaseName) {
    FDatabaseName = std::move(name);
    return;
  }
  CheckInactive();
  if (FSession != nullptr) FSession->ValidateDatabaseName(this, name);
  FDatabaseName = std::move(name);
}

void TORBDatabase::SetDatabaseFileName(std::string name) {
  if (!(ComponentState() & csReading) && name != FDatabaseFileName) Close();
  FDatabaseFileName = std::move(name);
}

void TORBDatabase::SetSessionName(std::string name) {
  if (ComponentState() & csReading) {
    FSessionName = std::move(name);
    return;
  }
  CheckInactive();
  if (name != FSessionName) FSessionName = std::move(name);
  if (!(ComponentState() & csDestroying)) CheckSessionName(false);
}

void TORBDatabase::SetKeepConnection(bool value) {
  FKeepConnection = value;
  if (!value && FDataSets.empty() && FRefCount == 0) Close();
}

// --- Checks ---

void TORBDatabase::CheckDatabaseName() const {
  if (FDatabaseName.empty() && !FTemporary) DatabaseError(std::string(kSDatabaseNameMissing));
}

void TORBDatabase::CheckSessionName(bool required) {
  TORBSession* found = ORBSessions().FindSession(FSessionName);
  if (found == nullptr) {
    if (required) RaiseORB(20002, "Invalid session name '%s'", {FSessionName});
    return;
  }
  if (found != FSession) {
    found->ValidateDatabaseName(this, FDatabaseName);
    if (FSession != nullptr) FSession->RemoveDatabase(this);
    FSession = found;
    found->AddDatabase(this);
  }
  if (required) found->SetActive(true);
}

void TORBDatabase::CheckConnected() const {
  if (Connected()) DatabaseError(std::string(kSDatabaseOpen));
}

void TORBDatabase::CheckActive() const {
  if (!Connected()) DatabaseError(std::string(kSDatabaseClosed));
}

void TORBDatabase::CheckInactive() {
  if (!Connected()) return;
  if (Designing()) {
    Close();
  } else {
    DatabaseError(std::string(kSDatabaseOpen));
  }
}

void TORBDatabase::SessionDestroyed() {
  try {
    Close();
  } catch (...) {
    // The session goes all the same.
  }
  TORBSession* fallback = ORBDefaultSession();
  if (fallback == nullptr || fallback == FSession) {
    FSession = nullptr;
    return;
  }
  FSession = fallback;
  FSessionName = fallback->SessionName();
  fallback->AddDatabase(this);
}

}  // namespace orb
