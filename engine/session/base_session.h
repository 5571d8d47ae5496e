#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/disk/disk_session_link.h"
#include "engine/session/session_named_object.h"

namespace orb {

// One connection of one database component to one database. The session
// holds no pages or tables: it attaches to a shared database data object.
// Not locked: a session is used by the thread of its component.
class TORBBaseSession : public TORBDiskSessionLink {
 public:
  TORBBaseSession() = default;
  ~TORBBaseSession() override = default;
  TORBBaseSession(const TORBBaseSession&) = delete;
  TORBBaseSession& operator=(const TORBBaseSession&) = delete;

  // --- Connection and database (the engine's) ---

  virtual bool GetConnected() const = 0;
  virtual void SetConnected(bool connected) = 0;
  virtual bool GetSuppressDBHeaderErrors() = 0;
  virtual void SetSuppressDBHeaderErrors(bool on) = 0;
  virtual void CreateDatabase() = 0;
  virtual void DeleteDatabase() = 0;
  virtual void RenameDatabase(const std::u16string& new_name) = 0;
  virtual void GetTablesList(std::vector<std::u16string>& list) = 0;
  virtual bool TableExists(const std::u16string& table_name) = 0;

  // --- Named objects (owned by the session) ---

  // Replaces an object with the same id (or, for id -1, the same name).
  virtual void SetObject(std::unique_ptr<TORBSessionNamedObject> object);
  // Names compare without regard to case; null when absent.
  virtual TORBSessionNamedObject* GetObjectByName(const std::string& name) const;
  virtual TORBSessionNamedObject* GetObjectByID(int32_t object_id) const;
  virtual void DeleteObject(int32_t object_id);
  int32_t ObjectCount() const { return static_cast<int32_t>(FObjects.size()); }

  // --- Transactions ---

  virtual void StartTransaction() = 0;
  // 20229 outside a transaction.
  virtual void Commit(bool flush) = 0;
  virtual void Rollback() = 0;
  virtual void FlushBuffers() = 0;

  // --- TORBDiskSessionLink ---

  int32_t GetSessionID() const override { return FSessionID; }
  void SetSessionID(int32_t session_id) override { FSessionID = session_id; }
  bool GetExclusive() const override { return FExclusive; }
  bool GetMultiUser() const override { return FMultiUser; }
  void SetMultiUser(bool multi_user) override { FMultiUser = multi_user; }
  void SetRepairNeeded(bool repair_needed) override { FRepairNeeded = repair_needed; }
  bool GetInTransaction() const override { return FInTransaction; }

  // --- Settings ---

  // "MEMORY" and "TEMP" select the in-memory and temporary databases.
  std::u16string FDatabaseName;
  std::u16string FDatabaseFileName;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  std::u16string FLogin;
  // The owning session component (compared when a database handle moves).
  const void* FSessionComponentManager = nullptr;
  // For a new file; replaced by the file's own value on connect.
  int32_t FMaxSessionCount = 500;
  bool FRepairNeeded = false;
  bool FMultiUser = false;
  std::u16string FSessionName;

 protected:
  int32_t FSessionID = -1;
  bool FInTransaction = false;

 private:
  std::vector<std::unique_ptr<TORBSessionNamedObject>> FObjects;
};

}  // namespace orb
