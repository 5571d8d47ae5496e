#include "components/orb_session.h"

#include <algorithm>

#include "components/db_common.h"
#include "components/orb_database.h"
#include "components/orb_session_list.h"
#include "engine/platform/codepage.h"

namespace orb {

namespace {

constexpr std::string_view kSSessionNameMissing = "Session name missing";
constexpr std::string_view kSSessionActive = "Cannot perform this operation on an active session";
constexpr std::string_view kSAutoSessionNameOn = "Cannot modify SessionName while AutoSessionName is enabled";
constexpr std::string_view kSDuplicateSessionName = "Duplicate session name '%s'";
constexpr std::string_view kSAutoSessionExclusive =
    "Cannot enable AutoSessionName property with more than one session on a form or data-module";
constexpr std::string_view kSAutoSessionExists =
    "Cannot add a session to the form or data-module while session '%s' has AutoSessionName enabled";

bool SameText(std::string_view a, std::string_view b) { return SameName(Utf8ToAnsi(a), Utf8ToAnsi(b)); }

// The session with AutoSessionName on among the components of `owner`.
TORBSession* AutoNamedSessionOf(const TComponent* owner, const TORBSession* except) {
  if (owner == nullptr) return nullptr;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* session = dynamic_cast<TORBSession*>(owner->Components(i));
    if (session != nullptr && session != except && session->AutoSessionName()) return session;
  }
  return nullptr;
}

}  // namespace

TORBSession::TORBSession(TComponent* owner) : TComponent(owner) {
  if (TORBSession* auto_named = AutoNamedSessionOf(owner, this)) {
    DatabaseErrorFmt(kSAutoSessionExists, {auto_named->SessionName()});
  }
  ORBSessions().AddSession(this);
}

TORBSession::TORBSession(TORBSessionList& list, TDefaultTag) : TComponent(nullptr) {
  FSessionName = "Default";
  list.AddSession(this);
}

TORBSession::~TORBSession() {
  Destroying();
  TORBSessionList& list = ORBSessions();
  TCriticalSectionGuard lock(list.SessionLock());
  try {
    SetActiveLocked(false);
  } catch (...) {
    // Destructors never raise.
  }
  while (!FDatabases.empty()) {
    TORBDatabase* database = FDatabases.back();
    if (database->Owner() == this) {
      delete database;  // leaves the list
    } else {
      database->SessionDestroyed();
      std::erase(FDatabases, database);
    }
  }
  if (FAutoSessionName) list.ReturnSessionNumber(FSessionNumber);
  list.RemoveSession(this);
}

void TORBSession::SetActive(bool value) {
  if (ComponentState() & csReading) {
    FStreamedActive = value;
    return;
  }
  TCriticalSectionGuard lock(ORBSessions().SessionLock());
  SetActiveLocked(value);
}

void TORBSession::SetActiveLocked(bool value) {
  if (value == Active()) return;
  if (value) {
    if (OnStartup) OnStartup(*this);
    if (FSessionName.empty()) DatabaseError(std::string(kSSessionNameMissing));
    if (FDefault) {
      InitializeORBEngine();
      FHandle = ORBEngineHandle();
    } else {
      TORBSession* default_session = ORBDefaultSession();
      if (default_session != nullptr) default_session->SetActiveLocked(true);
      FOwnHandle = ORBStartSession();
      FHandle = FOwnHandle.get();
    }
    ORBSetCurrentSession(FHandle);
    return;
  }
  ORBSetCurrentSession(FHandle);
  for (size_t i = FDatabases.size(); i-- > 0;) {
    if (i >= FDatabases.size()) continue;
    TORBDatabase* database = FDatabases[i];
    if (database->Temporary() && database->Owner() == this) {
      delete database;
    } else {
      database->Close();
    }
  }
  if (FDefault) {
    FinalizeORBEngine();
  } else {
    ORBCloseSession(std::move(FOwnHandle));
    TORBSession* default_session = ORBDefaultSession();
    ORBSetCurrentSession(default_session != nullptr ? default_session->Handle() : nullptr);
  }
  FHandle = nullptr;
}

void TORBSession::Loaded() {
  TComponent::Loaded();
  if (FAutoSessionName) UpdateAutoSessionName();
  if (FStreamedActive) SetActive(true);
}

void TORBSession::LockSession() {
  TCriticalSection& lock = ORBSessions().SessionLock();
  lock.Enter();
  try {
    MakeCurrent();
  } catch (...) {
    lock.Leave();
    throw;
  }
}

void TORBSession::UnlockSession() { ORBSessions().SessionLock().Leave(); }

void TORBSession::MakeCurrent() {
  TCriticalSectionGuard lock(ORBSessions().SessionLock());
  if (!Active()) SetActiveLocked(true);
  ORBSetCurrentSession(FHandle);
}

TORBDatabase* TORBSession::OpenDatabase(std::string_view database_name) {
  TCriticalSectionGuard lock(ORBSessions().SessionLock());
  TORBDatabase* database = FindDatabase(database_name);
  if (database == nullptr) {
    auto made = std::make_unique<TORBDatabase>(this);
    made->SetDatabaseName(std::string(database_name));
    made->SetKeepConnection(FKeepConnections);
    made->SetTemporary(true);
    made->SetSilentMode(true);
    made->Open();
    database = made.release();
  } else {
    database->Open();
  }
  ++database->FRefCount;
  return database;
}

void TORBSession::CloseDatabase(TORBDatabase* database) {
  if (database == nullptr) return;
  TCriticalSectionGuard lock(ORBSessions().SessionLock());
  if (database->FRefCount > 0) --database->FRefCount;
  if (database->FRefCount != 0 || database->KeepConnection()) return;
  // The database is closing its datasets: it closes itself, and a caller
  // that closed it explicitly still holds it.
  if (database->Closing()) return;
  if (database->Temporary() && database->Owner() == this) {
    if ((database->ComponentState() & csDestroying) == 0) delete database;
  } else {
    database->Close();
  }
}

TORBDatabase* TORBSession::FindDatabase(std::string_view database_name) const {
  for (TORBDatabase* database : FDatabases) {
    if (database->DatabaseName().empty() && !database->Temporary()) continue;
    if (SameText(database->DatabaseName(), database_name)) return database;
  }
  return nullptr;
}

void TORBSession::DropConnections() {
  TCriticalSectionGuard lock(ORBSessions().SessionLock());
  for (size_t i = FDatabases.size(); i-- > 0;) {
    if (i >= FDatabases.size()) continue;
    TORBDatabase* database = FDatabases[i];
    if (database->Temporary() && database->Owner() == this && database->DataSetCount() == 0 &&
        database->ReferenceCount() == 0) {
      delete database;
    }
  }
}

std::vector<std::string> TORBSession::GetDatabaseNames() const {
  std::vector<std::string> names;
  for (const TORBDatabase* database : FDatabases) names.push_back(database->DatabaseName());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return CompareNames(Utf8ToAnsi(a), Utf8ToAnsi(b)) < 0;
  });
  return names;
}

void TORBSession::GetTableNames(std::string_view database_name, std::vector<std::string>& list) {
  list.clear();
  TORBDatabase* database = OpenDatabase(database_name);
  try {
    database->GetTablesList(list);
  } catch (...) {
    CloseDatabase(database);
    throw;
  }
  CloseDatabase(database);
}

void TORBSession::CheckInactive() const {
  if (Active()) DatabaseError(std::string(kSSessionActive));
}

void TORBSession::SetSessionName(std::string name) {
  if (FAutoSessionName && !FUpdatingAutoSessionName) DatabaseError(std::string(kSAutoSessionNameOn));
  if (name == FSessionName) return;
  CheckInactive();
  TORBSession* other = ORBSessions().FindSession(name);
  if (!name.empty() && other != nullptr && other != this) DatabaseErrorFmt(kSDuplicateSessionName, {name});
  FSessionName = std::move(name);
}

void TORBSession::SetAutoSessionName(bool value) {
  if (value == FAutoSessionName) return;
  CheckInactive();
  TORBSessionList& list = ORBSessions();
  TCriticalSectionGuard lock(list.SessionLock());
  if (value) {
    if (const TComponent* owner = Owner()) {
      for (int i = 0; i < owner->ComponentCount(); ++i) {
        const TComponent* c = owner->Components(i);
        if (c != this && dynamic_cast<const TORBSession*>(c) != nullptr) {
          DatabaseError(std::string(kSAutoSessionExclusive));
        }
      }
    }
    FSessionNumber = list.TakeSessionNumber();
    FAutoSessionName = true;
    UpdateAutoSessionName();
  } else {
    list.ReturnSessionNumber(FSessionNumber);
    FSessionNumber = -1;
    FAutoSessionName = false;
  }
}

void TORBSession::SetName(std::string name) {
  TComponent::SetName(std::move(name));
  if (FAutoSessionName) UpdateAutoSessionName();
}

void TORBSession::UpdateAutoSessionName() {
  if (ComponentState() & csReading) return;
  if (FSessionNumber < 0) FSessionNumber = ORBSessions().TakeSessionNumber();
  FUpdatingAutoSessionName = true;
  try {
    std::string name = Name() + "_" + std::to_string(FSessionNumber + 1);
    SetSessionName(std::move(name));
  } catch (...) {
    FUpdatingAutoSessionName = false;
    throw;
  }
  FUpdatingAutoSessionName = false;
  if (const TComponent* owner = Owner()) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* database = dynamic_cast<TORBDatabase*>(owner->Components(i));
      if (database != nullptr && !SameText(database->SessionName(), FSessionName)) {
        database->SetSessionName(FSessionName);
      }
    }
  }
}

void TORBSession::AddDatabase(TORBDatabase* database) {
  TCriticalSectionGuard lock(ORBSessions().SessionLock());
  if (std::find(FDatabases.begin(), FDatabases.end(), database) != FDatabases.end()) return;
  FDatabases.push_back(database);
  DBNotify(dbAdd, *database);
}

void TORBSession::RemoveDatabase(TORBDatabase* database) {
  TCriticalSectionGuard lock(ORBSessions().SessionLock());
  auto it = std::find(FDatabases.begin(), FDatabases.end(), database);
  if (it == FDatabases.end()) return;
  FDatabases.erase(it);
  DBNotify(dbRemove, *database);
}

void TORBSession::DBNotify(TORBDBNotifyKind kind, TORBDatabase& database) {
  if (OnDBNotify && (ComponentState() & csDestroying) == 0) OnDBNotify(kind, database);
}

void TORBSession::ValidateDatabaseName(TORBDatabase* database, std::string_view name) {
  if (name.empty()) return;
  TORBDatabase* other = FindDatabase(name);
  if (other == nullptr || other == database) return;
  if (other->HandleShared() && database->HandleShared()) return;
  if (other->Temporary() && other->Owner() == this && other->ReferenceCount() == 0 &&
      other->DataSetCount() == 0) {
    delete other;
    return;
  }
  DatabaseErrorFmt(kSDuplicateDatabaseName, {name});
}

}  // namespace orb
