#pragma once

// The disk database data: one object per database file in a process.
//
// Transactions
// ============
//
// 1. Every change reaches pages through the page cache on behalf of a
//    session id; the changed pages stay in that id's private dirty list and
//    everyone else, other processes included, sees the stored pages.
// 2. Outside a transaction a table operation ends by committing its pages
//    at once. Inside one, nothing is written until Commit; Rollback drops
//    the private pages and the pages the session allocated, then lets
//    every open table drop the session's changes.
// 3. Commit writes through the page manager's commit protocol under the
//    header lock; with `flush` the file is flushed (fdatasync) on the way.
//    In multi-user mode the session first takes ltRW on every table it
//    changed, all or none (20233), and its transaction locks go after the
//    commit, on failure too.
// 4. There is no journal: a process that stops before a commit loses its
//    changes, one that stops inside a commit leaves the file marked for
//    repair.
// 5. A session that disconnects takes its transaction with it: its
//    uncommitted pages are dropped and its locks released before its slot
//    goes back, so a later session that gets the same slot (and so the
//    same page-cache id) never commits pages it did not write. In
//    single-user mode every session has id 0; there the pages are dropped
//    when the leaving session has a transaction open or is the last one.
//
// Locking order: the registry's lock (sessions), then this object's
// critical section, then the lock manager's and the page manager's.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/data/database_data.h"
#include "engine/disk/encryption.h"

namespace orb {

class TORBActiveSessionsFile;
class TORBDatabaseTableLockManager;
class TORBDiskPageManager;
class TORBSystemDirectory;
class TORBTableListFile;

// What a session sets before the database data first opens or creates its
// file.
struct TORBDiskDatabaseSettings {
  bool ReadOnly = false;
  // Sessions of all processes together (used when creating).
  int32_t MaxSessionCount = 500;
  TORBPassword Password;
  int32_t PageSize = 4096;
  int32_t PageCountInExtent = 8;
};

class TORBDiskDatabaseData : public TORBDatabaseData {
 public:
  static constexpr int32_t kLockTablesTries = 200;
  static constexpr int32_t kLockTablesDelayMs = 20;

  TORBDiskDatabaseData(std::u16string file_name, std::u16string session_name,
                       const TORBDiskDatabaseSettings& settings);
  // Closes an open database silently, dropping uncommitted pages.
  ~TORBDiskDatabaseData() override;

  // --- Virtual operations ---

  // Opens the database on the first connect (the session's exclusive and
  // multi-user wishes; it receives the effective mode and the repair
  // state), then gives the session its id: a slot of the active sessions
  // file in multi-user mode, 0 otherwise. The first single-user session
  // takes every slot; when another process holds one, the database is
  // read-only for this process. 20235 when the session's mode differs from
  // the open database's, 20094 when no slot is free. A failure leaves no
  // slot taken, and closes the database again when no session remains.
  void ConnectSession(TORBSessionLink* session) override;
  // Drops the session's transaction (see 5 above), releases its locks and
  // its slot (the single-user connection with the last session), removes
  // it and, with the last session, closes the database. A failing release
  // keeps the session listed and raises, except in design mode. A failing
  // close raises after the database was closed all the same.
  void DisconnectSession(TORBSessionLink* session) override;
  // Names in the table list, in its order.
  void GetTablesList(std::vector<std::u16string>& list) override;
  // A name in the file's table list.
  bool TableExists(const std::u16string& table_name) override;
  // Writes a new database file with the settings' page size, extent size,
  // session count and password (replacing a file of that name that no one
  // holds open). The database stays closed.
  void CreateDatabase() override;
  // A TORBDiskTableData for the cursor's table. kErrDatabaseNotOpen while
  // closed.
  TORBTableData* CreateTableData(TORBCursorInterface* cursor) override;
  int32_t GetNewObjectId() override;
  void Commit(int32_t session_id) override { Commit(session_id, false); }
  void Commit(int32_t session_id, bool flush);
  // Runs every step even when one fails, then raises the first failure.
  void Rollback(int32_t session_id) override;
  void FlushBuffers() override;

  // Validates a table's row count and record page index and rebuilds them
  // when they fail. 30396 for a table that is not listed.
  virtual void RepairTableData(const std::u16string& table_name);

  // --- Opening and closing ---

  // Opens the file, the system directory, the active sessions file, the
  // table list and the lock manager. Any failure closes everything again.
  // `multi_user` in: asked for; out: effective.
  void OpenDatabase(bool exclusive, bool& multi_user, bool& repair_needed);
  // Closes the database; raises when the final flush or close fails (the
  // database is closed all the same) or while a session has uncommitted
  // pages (20097, still open).
  void CloseDatabase();
  bool IsOpen() const { return FDiskPageManager != nullptr; }

  // --- The table list (page numbers of a table's internal files) ---

  void AddTable(int32_t table_id, const std::u16string& name, int32_t metadata_page, int32_t most_updated_page,
                int32_t locks_page);
  void OpenTable(const std::u16string& name, int32_t& table_id, int32_t& metadata_page,
                 int32_t& most_updated_page, int32_t& locks_page);
  void RemoveTable(const std::u16string& name);
  // Whether the table list names the table.
  bool TableListed(const std::u16string& name);
  // Reads the table list again (after a cancelled change of it).
  void ReloadTableList();
  void RenameTable(const std::u16string& name, const std::u16string& new_name);
  // The tables lock between processes (200 tries 20 ms apart, 20210), and
  // its release (20211). Not under the critical section.
  void LockTables();
  void UnlockTables();

  // --- Other operations ---

  void TruncateDatabase();
  // Slots taken by every process; 0 when not open.
  int32_t GetDBFileConnectionsCount();
  const TORBPassword& GetPassword() const { return FPassword; }
  bool GetEncrypted();
  bool GetSuppressDBHeaderErrors();
  void SetSuppressDBHeaderErrors(bool on);
  int32_t GetMaxSessionCount() const { return FMaxSessionCount; }
  int32_t GetPageSize() const { return FPageSize; }
  int32_t GetPageCountInExtent() const { return FPageCountInExtent; }
  bool GetSingleUserConnected() const { return FSingleUserConnected; }
  // Null while closed.
  TORBDiskPageManager* DiskPageManager() const { return FDiskPageManager.get(); }
  TORBDatabaseTableLockManager* TableLockManager() const { return FTableLockManager.get(); }
  TORBActiveSessionsFile* ActiveSessionsFile() const { return FActiveSessionsFile.get(); }

 protected:
  // Called once the session holds its id (and slot), before it is listed;
  // a failure here must give the slot back. Tests inject faults here.
  virtual void SessionIdAssigned(TORBSessionLink* /*session*/) {}

 private:
  void CheckOpen() const;
  // Drops the session id's uncommitted pages, transaction locks and table
  // changes; raises the first failure after trying every step.
  void RollbackSessionId(int32_t session_id);
  // Releases the session's locks and slot, or with the last session the
  // single-user connection.
  void ReleaseConnection(int32_t session_id, bool last_session);
  // Destroys every open object; with `report` a failing flush or close of
  // the file is raised after that.
  void CloseAll(bool report);

  std::unique_ptr<TORBDiskPageManager> FDiskPageManager;
  std::unique_ptr<TORBSystemDirectory> FSystemDir;
  std::unique_ptr<TORBActiveSessionsFile> FActiveSessionsFile;
  std::unique_ptr<TORBTableListFile> FTableListFile;
  TORBPassword FPassword;
  int32_t FMaxSessionCount;
  int32_t FPageSize;
  int32_t FPageCountInExtent;
  std::unique_ptr<TORBDatabaseTableLockManager> FTableLockManager;
  bool FSingleUserConnected = false;
};

}  // namespace orb
