#pragma once

// TORBSession: a session component. It groups database components under a
// session name, gives datasets a place to find their database by name, and
// opens a database component on a dataset's behalf when none has the name
// (a temporary one, destroyed when nobody uses it). The first session of
// the process is the default one ("Default", made by the session list); it
// uses the engine-wide handle, every other session a handle of its own
// while active (orb_session_handle.h).
//
// Opening databases, activating and deactivating, session numbering and
// changes of the database list run under the global session lock
// (TORBSessionList::SessionLock).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/component.h"
#include "components/orb_session_handle.h"

namespace orb {

class TORBDatabase;
class TORBSessionList;

// What happened to a database of a session (OnDBNotify).
enum TORBDBNotifyKind : uint8_t { dbOpen, dbClose, dbAdd, dbRemove };

class TORBSession : public TComponent {
 public:
  using TDatabaseNotifyEvent = std::function<void(TORBDBNotifyKind kind, TORBDatabase& database)>;
  using TSessionNotifyEvent = std::function<void(TORBSession& session)>;

  // Joins the session list. Refused when the owner already has a session
  // with AutoSessionName on.
  explicit TORBSession(TComponent* owner = nullptr);
  // Deactivates; the database components it owns go with it, the others
  // fall back to the default session (closed first).
  ~TORBSession() override;

  // --- Activity ---

  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return FHandle != nullptr; }
  // true: OnStartup, then the handle (the default session first when this
  // is another one). false: temporary databases are destroyed and the
  // others closed, the last first, and the handle goes. While the stored
  // form is read only the wish is kept (applied by Loaded).
  void SetActive(bool value);
  // The session's handle; null while inactive.
  TORBSessionComponentManager* Handle() const { return FHandle; }
  bool IsDefault() const { return FDefault; }

  // Enters the global session lock and makes this session current,
  // activating it when inactive; on failure the lock is left again.
  void LockSession();
  void UnlockSession();
  // Makes this session's handle current (activating it when inactive).
  void MakeCurrent();

  // --- Databases ---

  // The database component of that name, opened, with one more user: the
  // session's own or a temporary one made for the purpose (removed again
  // when it cannot be opened).
  TORBDatabase* OpenDatabase(std::string_view database_name);
  // One user fewer; with none left and KeepConnection off a temporary
  // database is destroyed and another closed.
  void CloseDatabase(TORBDatabase* database);
  // The database component of that name (without regard to case), or null.
  TORBDatabase* FindDatabase(std::string_view database_name) const;
  // Destroys every temporary database that nobody uses.
  void DropConnections();
  // The names of the session's databases, sorted.
  std::vector<std::string> GetDatabaseNames() const;
  // The tables of a database (opened for the purpose when needed).
  void GetTableNames(std::string_view database_name, std::vector<std::string>& list);
  int DatabaseCount() const { return static_cast<int>(FDatabases.size()); }
  // REQUIRES: 0 <= index < DatabaseCount().
  TORBDatabase* Databases(int index) const { return FDatabases.at(index); }

  // --- Names and settings ---

  const std::string& SessionName() const { return FSessionName; }
  // REQUIRES: inactive, AutoSessionName off, a name no other session has.
  void SetSessionName(std::string name);
  bool AutoSessionName() const { return FAutoSessionName; }
  // On: the name becomes the component name, "_" and a session number
  // (the lowest free one, plus one); the owner's databases take it.
  // REQUIRES: inactive, the only session of its owner.
  void SetAutoSessionName(bool value);
  bool KeepConnections() const { return FKeepConnections; }
  void SetKeepConnections(bool value) { FKeepConnections = value; }
  // Renaming the component renames an automatically named session.
  void SetName(std::string name) override;

  TDatabaseNotifyEvent OnDBNotify;
  TSessionNotifyEvent OnStartup;

 protected:
  void Loaded() override;

 private:
  friend class TORBDatabase;
  friend class TORBSessionList;
  struct TDefaultTag {};
  // The default session, made by the session list itself.
  TORBSession(TORBSessionList& list, TDefaultTag);

  void SetActiveLocked(bool value);
  // Database list changes, called by database components.
  void AddDatabase(TORBDatabase* database);
  void RemoveDatabase(TORBDatabase* database);
  void DBNotify(TORBDBNotifyKind kind, TORBDatabase& database);
  // "Duplicate database name '%s'" when another database of this session
  // has the name (unless both share handles); an unused temporary one of
  // that name is destroyed instead.
  void ValidateDatabaseName(TORBDatabase* database, std::string_view name);
  void UpdateAutoSessionName();
  void CheckInactive() const;

  TORBSessionComponentManager* FHandle = nullptr;
  std::unique_ptr<TORBSessionComponentManager> FOwnHandle;
  std::vector<TORBDatabase*> FDatabases;
  bool FStreamedActive = false;
  bool FKeepConnections = true;
  bool FDefault = false;
  bool FAutoSessionName = false;
  bool FUpdatingAutoSessionName = false;
  std::string FSessionName;
  int32_t FSessionNumber = -1;
};

}  // namespace orb
