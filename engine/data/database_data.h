#pragma once

// The database-data contract every storage engine derives from: one shared
// object per open database, owning its open tables, with the database's
// critical section and its connected sessions. Every database data is
// listed in the process-wide DBDataList while it exists.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/platform/critical_section.h"

namespace orb {

class TORBCursorInterface;
class TORBPageManager;
class TORBTableData;

// What the database data needs from an engine session.
class TORBSessionLink {
 public:
  virtual ~TORBSessionLink() = default;
  virtual int32_t GetSessionID() const = 0;
  virtual void SetSessionID(int32_t session_id) = 0;
};

class TORBDatabaseData {
 public:
  TORBDatabaseData(std::u16string database_name, std::u16string session_name);
  // Frees every table data and leaves DBDataList.
  virtual ~TORBDatabaseData();
  TORBDatabaseData(const TORBDatabaseData&) = delete;
  TORBDatabaseData& operator=(const TORBDatabaseData&) = delete;

  // The engine's lock for this database (re-entrant).
  void Lock() { FCSect.Enter(); }
  void Unlock() { FCSect.Leave(); }
  TCriticalSection& CSect() { return FCSect; }

  const std::u16string& DatabaseName() const { return FDatabaseName; }
  const std::u16string& SessionName() const { return FSessionName; }
  TORBPageManager* PageManager() const { return FPageManager; }
  int32_t SessionCount();

  // --- Virtual operations ---

  // Adds the session and gives it session ID 0.
  virtual void ConnectSession(TORBSessionLink* session);
  virtual void DisconnectSession(TORBSessionLink* session);
  // True when no session remains: the owner (the registry) then frees
  // this object.
  virtual bool FreeIfNoSessionsConnected();
  // Names of the open table data objects.
  virtual void GetTablesList(std::vector<std::u16string>& list);
  virtual void CreateDatabase() {}
  // A new table data for the cursor's table, owned by this object.
  virtual TORBTableData* CreateTableData(TORBCursorInterface* cursor) = 0;
  // The open table data of the cursor's table (names compared in upper
  // case), or null.
  virtual TORBTableData* FindTableData(TORBCursorInterface* cursor);
  virtual TORBTableData* FindOrCreateTableData(TORBCursorInterface* cursor);
  virtual int32_t GetNewObjectId() = 0;
  // Applies the session's page changes.
  virtual void Commit(int32_t session_id);
  // Cancels the session's page changes, then rolls back every table.
  virtual void Rollback(int32_t session_id);
  virtual void FlushBuffers() {}

  // A table of that name (any letter case) in the database: the open
  // table data here; an engine that stores tables also looks in its store.
  virtual bool TableExists(const std::u16string& table_name);
  // Takes ownership of a table data made by CreateTableData.
  TORBTableData* AddTableData(std::unique_ptr<TORBTableData> table_data);
  // Frees the table data and removes it from the list.
  void FreeTableData(TORBTableData* table_data);

  bool FReadOnly = false;
  // Retry count and pause of the engine's lock attempts.
  int32_t FTryCount = 20;
  int32_t FDelayMS = 50;
  bool FMultiUser = false;

 protected:
  TCriticalSection FCSect;
  std::vector<TORBSessionLink*> FSessionList;
  std::vector<std::unique_ptr<TORBTableData>> FTableDataList;
  std::u16string FDatabaseName;
  TORBPageManager* FPageManager = nullptr;
  std::u16string FSessionName;
};

// The process-wide list of database data objects; every call is atomic.
class TORBDBDataList {
 public:
  void Add(TORBDatabaseData* database_data);
  void Remove(TORBDatabaseData* database_data);
  bool Contains(const TORBDatabaseData* database_data) const;
  std::vector<TORBDatabaseData*> Snapshot() const;

 private:
  mutable std::mutex FMutex;
  std::vector<TORBDatabaseData*> FList;
};

TORBDBDataList& DBDataList();

}  // namespace orb
