#include "engine/session/local_session.h"

#include <exception>
#include <memory>
#include <mutex>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/data/database_data.h"
#include "engine/disk/disk_database_data.h"
#include "engine/platform/text_case.h"
#include "engine/session/database_registry.h"

namespace orb {

namespace {

constexpr std::string_view kNotInTransaction = "Database is not within a transaction. Cannot perform operation";

TORBDiskDatabaseSettings SettingsOf(const TORBLocalSession& session) {
  TORBDiskDatabaseSettings settings;
  settings.ReadOnly = session.FReadOnly;
  settings.MaxSessionCount = session.FMaxSessionCount;
  settings.Password = session.FPassword;
  settings.PageSize = session.FPageSize;
  settings.PageCountInExtent = session.FPageCountInExtent;
  return settings;
}

}  // namespace

TORBLocalSession::~TORBLocalSession() {
  try {
    if (GetConnected()) Disconnect();
  } catch (...) {
    // Destructors never raise.
  }
}

TORBDiskDatabaseData* TORBLocalSession::DiskDatabaseData() const {
  return dynamic_cast<TORBDiskDatabaseData*>(FDatabaseData);
}

void TORBLocalSession::CheckConnected() const {
  if (!GetConnected()) {
    RaiseORB(kErrSessionNotConnected, "Session is not connected to database '%s'",
             {FDatabaseFileName.empty() ? FDatabaseName : FDatabaseFileName});
  }
}

void TORBLocalSession::CheckInTransaction() const {
  if (!FInTransaction) RaiseORB(20229, kNotInTransaction);
}

void TORBLocalSession::SetConnected(bool connected) {
  if (connected == GetConnected()) return;
  if (connected) {
    Connect();
  } else {
    Disconnect();
  }
}

void TORBLocalSession::Connect() {
  TORBDatabaseRegistry& registry = TORBDatabaseRegistry::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Mutex());
  const TORBDatabaseKey key = MakeDatabaseKey(FDatabaseName, FDatabaseFileName, FSessionName);
  TORBDatabaseData* data = registry.Find(key);
  if (data == nullptr) {
    data = registry.Add(std::make_unique<TORBDiskDatabaseData>(key.FileName, key.SessionName, SettingsOf(*this)));
  }
  FDatabaseData = data;
  try {
    data->ConnectSession(this);
    FReadOnly = data->FReadOnly;
    if (TORBDiskDatabaseData* disk = DiskDatabaseData()) {
      const TORBPassword& stored = disk->GetPassword();
      if (disk->GetEncrypted() && !stored.Password.empty() && stored.Password != FPassword.Password) {
        RaiseORB(20298, "Database password is invalid.");
      }
      FPassword = stored;
      FPageSize = disk->GetPageSize();
      FPageCountInExtent = disk->GetPageCountInExtent();
      FMaxSessionCount = disk->GetMaxSessionCount();
    }
  } catch (...) {
    // A failed connect holds nothing: the slot goes back and a disk
    // database data that no one uses any more is freed.
    try {
      data->DisconnectSession(this);
    } catch (...) {
      // The connect's own failure is the one reported.
    }
    if (data->SessionCount() == 0) registry.Remove(data);
    FDatabaseData = nullptr;
    FSessionID = -1;
    throw;
  }
}

void TORBLocalSession::Disconnect() {
  TORBDatabaseRegistry& registry = TORBDatabaseRegistry::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Mutex());
  TORBDatabaseData* data = FDatabaseData;
  std::exception_ptr failure;
  try {
    data->DisconnectSession(this);
  } catch (...) {
    // A connection that could not be released keeps the session listed.
    if (FSessionID != -1) throw;
    failure = std::current_exception();
  }
  FInTransaction = false;
  FSessionID = -1;
  FDatabaseData = nullptr;
  if (data->SessionCount() == 0 && data->FreeIfNoSessionsConnected()) registry.Remove(data);
  if (failure) std::rethrow_exception(failure);
}

void TORBLocalSession::CreateDatabase() {
  TORBDatabaseRegistry& registry = TORBDatabaseRegistry::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Mutex());
  const TORBDatabaseKey key = MakeDatabaseKey(FDatabaseName, FDatabaseFileName, FSessionName);
  // The in-memory and temporary databases are registered, and so open,
  // for the whole run of the process.
  if (registry.Find(key) != nullptr) RaiseORB(20092, "Cannot create database. Database is already open");
  // Made outside the registry: the registry lock, held throughout, keeps
  // every other session of this process away from the file meanwhile.
  TORBDiskDatabaseData data(key.FileName, key.SessionName, SettingsOf(*this));
  data.CreateDatabase();
}

bool TORBLocalSession::GetSuppressDBHeaderErrors() {
  TORBDiskDatabaseData* disk = DiskDatabaseData();
  return disk != nullptr && disk->GetSuppressDBHeaderErrors();
}

void TORBLocalSession::SetSuppressDBHeaderErrors(bool on) {
  if (TORBDiskDatabaseData* disk = DiskDatabaseData()) disk->SetSuppressDBHeaderErrors(on);
}

TORBDatabaseData* TORBLocalSession::FindDatabaseDataToAsk() {
  if (GetConnected()) return FDatabaseData;
  TORBDatabaseData* data =
      TORBDatabaseRegistry::Instance().Find(MakeDatabaseKey(FDatabaseName, FDatabaseFileName, FSessionName));
  // A disk database that no session of this process has open has no table
  // list to read: only a connect opens its file.
  auto* disk = dynamic_cast<TORBDiskDatabaseData*>(data);
  if (data == nullptr || (disk != nullptr && !disk->IsOpen())) CheckConnected();
  return data;
}

void TORBLocalSession::GetTablesList(std::vector<std::u16string>& list) {
  // The registry lock keeps a database found for a session that is not
  // connected open until it has answered.
  std::lock_guard<std::recursive_mutex> guard(TORBDatabaseRegistry::Instance().Mutex());
  FindDatabaseDataToAsk()->GetTablesList(list);
}

bool TORBLocalSession::TableExists(const std::u16string& table_name) {
  std::lock_guard<std::recursive_mutex> guard(TORBDatabaseRegistry::Instance().Mutex());
  return FindDatabaseDataToAsk()->TableExists(table_name);
}

void TORBLocalSession::Commit(bool flush) {
  CheckInTransaction();
  CheckConnected();
  if (TORBDiskDatabaseData* disk = DiskDatabaseData()) {
    disk->Commit(FSessionID, flush);
  } else {
    FDatabaseData->Commit(FSessionID);
  }
  FInTransaction = false;
}

void TORBLocalSession::Rollback() {
  CheckInTransaction();
  CheckConnected();
  FDatabaseData->Rollback(FSessionID);
  FInTransaction = false;
}

void TORBLocalSession::FlushBuffers() {
  CheckConnected();
  FDatabaseData->FlushBuffers();
}

void TORBLocalSession::TruncateDatabase() {
  if (TORBDiskDatabaseData* disk = DiskDatabaseData()) disk->TruncateDatabase();
}

int32_t TORBLocalSession::GetDBFileConnectionsCount() {
  TORBDiskDatabaseData* disk = DiskDatabaseData();
  return disk != nullptr ? disk->GetDBFileConnectionsCount() : 0;
}

}  // namespace orb
