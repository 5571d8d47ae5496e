#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/disk/encryption.h"
#include "engine/session/base_session.h"

namespace orb {

class TORBDatabaseData;
class TORBDiskDatabaseData;

// The in-process engine session. Connecting finds the database data in the
// process-wide registry by the database file's canonical path and the
// session name (or takes the "MEMORY" / "TEMP" entry), making and
// registering a disk database data on first use; the last session to
// leave a disk database data removes and frees it.
class TORBLocalSession : public TORBBaseSession {
 public:
  TORBLocalSession() = default;
  // Disconnects silently (an open transaction is rolled back).
  ~TORBLocalSession() override;

  bool GetConnected() const override { return FDatabaseData != nullptr; }
  // Connect: 20235 for a mode that differs from the open database's, 20094
  // without a free slot, 20298 for a password that differs from the one
  // the open encrypted database was opened with. A failed connect leaves
  // the session disconnected and nothing held for it.
  // Disconnect: rolls back an open transaction. When releasing the
  // connection fails (outside design mode) the session stays connected
  // and the error is raised; a failure closing the last session's file is
  // raised with the session disconnected.
  void SetConnected(bool connected) override;
  bool GetSuppressDBHeaderErrors() override;
  void SetSuppressDBHeaderErrors(bool on) override;
  // Writes a new disk database file from the session's settings; 20092
  // when a matching database is open in this process, as "MEMORY" and
  // "TEMP" always are. The session stays
  // disconnected.
  void CreateDatabase() override;
  // The database component deletes and renames the file itself.
  void DeleteDatabase() override {}
  void RenameDatabase(const std::u16string& /*new_name*/) override {}
  // Not connected, these ask the database the session would connect to
  // when this process has it open ("MEMORY" and "TEMP" always), without
  // attaching; kErrSessionNotConnected otherwise.
  void GetTablesList(std::vector<std::u16string>& list) override;
  bool TableExists(const std::u16string& table_name) override;

  void StartTransaction() override { FInTransaction = true; }
  void Commit(bool flush) override;
  void Rollback() override;
  void FlushBuffers() override;

  // Disk databases only: no effect, respectively 0, for the others.
  void TruncateDatabase();
  int32_t GetDBFileConnectionsCount();

  TORBDatabaseData* DatabaseData() const { return FDatabaseData; }
  // Null unless connected to a disk database.
  TORBDiskDatabaseData* DiskDatabaseData() const;

  TORBPassword FPassword;
  int32_t FPageSize = 4096;
  int32_t FPageCountInExtent = 8;

 private:
  void Connect();
  void Disconnect();
  void CheckConnected() const;
  // The database data that GetTablesList and TableExists ask: the attached
  // one, or for a session that is not connected the registered one it
  // would connect to (without attaching); kErrSessionNotConnected when no
  // open one is registered. REQUIRES: the caller holds the registry lock.
  TORBDatabaseData* FindDatabaseDataToAsk();
  void CheckInTransaction() const;

  TORBDatabaseData* FDatabaseData = nullptr;
};

}  // namespace orb
