#pragma once

// TORBDatabase: a database component. It stands for one database (a file,
// or the in-memory "MEMORY" or temporary "TEMP" database), owns the engine
// session while connected, hands it to the datasets that name it, and
// offers the whole-database operations: create, delete, rename and
// transactions. The maintenance operations (compact, repair, truncate,
// password and settings changes, executable database) are not available
// yet and raise kErrMaintenanceUnavailable.
//
// Opening runs under the global session lock (released on every path). A
// wrong password is answered by asking for another one: the OnPassword
// event when assigned, else nothing in SilentMode, else the password
// prompt (components/prompts.h), at most kMaxPasswordPrompts times, after
// which the incorrect-password error goes to the caller. A file that was
// not closed properly is offered for repair (OnNeedRepair, else a
// confirmation), one of an older format is announced and converted, unless
// SilentMode is on.
//
// Datasets attach themselves while they hold the database (AttachDataSet)
// and leave when they close; CloseDataSets closes the SQL-based ones first,
// then the rest from the last.
//
// Misuse raises the framework's EDatabaseError with the messages below;
// engine failures arrive as EORBException.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/component.h"
#include "engine/disk/encryption.h"

namespace orb {

class TDataSet;
class TORBBaseSession;
class TORBLocalSession;
class TORBSession;

inline constexpr std::string_view kORBCurrentVersion = "7.92 ";

inline constexpr std::string_view kSDatabaseNameMissing = "Database name missing";
inline constexpr std::string_view kSDatabaseFileMissing = "Database file '%s' does not exist";
inline constexpr std::string_view kSDatabaseOpenError = "Database open error";
inline constexpr std::string_view kSCannotCreateDatabase = "Cannot create database";
inline constexpr std::string_view kSDatabaseOpen = "Cannot perform this operation on an open database";
inline constexpr std::string_view kSDatabaseClosed = "Cannot perform this operation on a closed database";
inline constexpr std::string_view kSInTransaction = "Database is already within a transaction";
inline constexpr std::string_view kSDuplicateDatabaseName = "Duplicate database name '%s'";
inline constexpr std::string_view kSHandleOtherSession = "Database handle owned by a different session";
inline constexpr std::string_view kSNeedRepair =
    "Database file was not correctly closed last time. Do you want to repair it?";
inline constexpr std::string_view kSOldFormat =
    "Database file you are opening is of old format. It will be converted to the current Orbelle Database "
    "format now. It is recommended to make a backup of the database before continuing.";

class TORBDatabase : public TComponent {
 public:
  using TDatabaseNotifyEvent = std::function<void(TORBDatabase& database)>;
  // Sets Password and answers whether to try again with it.
  using TPasswordEvent = std::function<void(TORBDatabase& database, bool& try_again)>;
  // Answers whether to repair a file that was not closed properly.
  using TNeedRepairEvent = std::function<void(TORBDatabase& database, bool& repair)>;
  // Progress of a maintenance operation in percent; setting `cancel` stops it.
  using TProgressEvent = std::function<void(TORBDatabase& database, double percent_done, bool& cancel)>;

  // How often a wrong password is asked for again before the open fails.
  static constexpr int kMaxPasswordPrompts = 3;

  // Joins the owner when it is a session, else the default session (or the
  // automatically named session of the owner).
  explicit TORBDatabase(TComponent* owner = nullptr);
  // Closes (errors are dropped) and leaves the session.
  ~TORBDatabase() override;

  // --- Connection ---

  // Connects the engine session; nothing when connected. A failure leaves
  // the component closed.
  void Open();
  // Closes the datasets and ends the engine session; nothing when closed.
  void Close();
  bool Connected() const { return FHandle != nullptr; }
  void SetConnected(bool value);
  // The database file exists.
  bool Exists() const;
  bool InTransaction() const;
  // The engine session while connected, else null.
  TORBBaseSession* Handle() const { return FHandle; }
  // Takes an engine session made elsewhere (not destroyed on close); null
  // only closes. REQUIRES: it belongs to this component's session handle.
  void SetHandle(TORBBaseSession* handle);
  TORBSession* Session() const { return FSession; }

  // --- Whole database ---

  // Writes a new database file from the settings; the component stays
  // closed. REQUIRES: closed.
  void CreateDatabase();
  // Deletes / renames the closed database's file. Refused while any open
  // file holds it, in this or another process (kErrDeleteDatabaseFile,
  // kErrRenameDatabaseFile); a rename never replaces an existing file.
  void DeleteDatabase();
  void RenameDatabase(const std::string& new_file_name);
  // Not available yet: kErrMaintenanceUnavailable.
  bool CompactDatabase();
  bool CompactDatabase(const std::string& new_file_name);
  std::string RepairDatabase();
  bool RepairDatabase(const std::string& new_file_name, std::string& log);
  void TruncateDatabase();
  std::string ChangePassword(const std::string& new_password);
  std::string ChangePassword(const std::string& new_password, TORBCryptoAlgorithm new_crypto_algorithm);
  bool ChangeDatabaseSettings(std::string& log, bool ignore_errors, const std::string& new_password,
                              TORBCryptoAlgorithm new_crypto_algorithm, int32_t new_page_size,
                              int32_t new_page_count_in_extent, int32_t new_max_connections);
  void MakeExecutableDatabase(const std::string& stub_file_name, const std::string& output_file_name);

  // --- Transactions and other operations ---

  // REQUIRES: connected, no transaction open.
  void StartTransaction();
  // REQUIRES: connected; 20229 without a transaction.
  void Commit(bool flush_buffers = false);
  void Rollback();
  void FlushBuffers();
  int32_t GetDBFileConnectionsCount();
  // The table names; connects for the purpose when closed. Failures are
  // dropped: the list keeps what was found until then.
  void GetTablesList(std::vector<std::string>& list);
  // Connects when closed (and stays connected); false without a session.
  bool TableExists(std::string_view table_name);

  // --- Datasets holding the database ---

  void AttachDataSet(TDataSet* data_set);
  void DetachDataSet(TDataSet* data_set);
  int DataSetCount() const { return static_cast<int>(FDataSets.size()); }
  // REQUIRES: 0 <= index < DataSetCount().
  TDataSet* DataSets(int index) const { return FDataSets.at(index); }
  void CloseDataSets();

  // --- Settings ---

  std::string_view CurrentVersion() const { return kORBCurrentVersion; }
  const std::string& DatabaseName() const { return FDatabaseName; }
  // REQUIRES: closed; unique in the session.
  void SetDatabaseName(std::string name);
  // File names are bytes (UTF-8 for text), as the file system takes them.
  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  // A different name closes the database.
  void SetDatabaseFileName(std::string name);
  const std::string& SessionName() const { return FSessionName; }
  // REQUIRES: closed. Moves to the session of that name when it exists.
  void SetSessionName(std::string name);
  // UTF-8; stored in the engine's code page.
  const std::string& Password() const { return FPassword; }
  void SetPassword(std::string password) { FPassword = std::move(password); }
  TORBCryptoAlgorithm CryptoAlgorithm() const { return FCryptoAlgorithm; }
  void SetCryptoAlgorithm(TORBCryptoAlgorithm value) { FCryptoAlgorithm = value; }
  int32_t PageSize() const { return FPageSize; }
  void SetPageSize(int32_t value) { FPageSize = value; }
  int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(int32_t value) { FPageCountInExtent = value; }
  int32_t MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(int32_t value) { FMaxConnections = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool value) { FExclusive = value; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool value) { FMultiUser = value; }
  bool SilentMode() const { return FSilentMode; }
  void SetSilentMode(bool value) { FSilentMode = value; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool value) { FDisableTempFiles = value; }
  bool KeepConnection() const { return FKeepConnection; }
  // false closes the database when no dataset holds it.
  void SetKeepConnection(bool value);
  bool HandleShared() const { return FHandleShared; }
  void SetHandleShared(bool value) { FHandleShared = value; }
  bool Temporary() const { return FTemporary; }
  void SetTemporary(bool value) { FTemporary = value; }
  // Datasets that opened the database through the session.
  int32_t ReferenceCount() const { return FRefCount; }
  // True while Close runs (its datasets letting go must not close or
  // destroy the component again).
  bool Closing() const { return FClosing; }

  // --- Events ---

  TPasswordEvent OnPassword;
  TNeedRepairEvent OnNeedRepair;
  TDatabaseNotifyEvent BeforeRepair, AfterRepair, BeforeCompact, AfterCompact, BeforeChangePassword,
      AfterChangePassword, BeforeChangeDatabaseSettings, AfterChangeDatabaseSettings;
  TProgressEvent OnRepairProgress, OnCompactProgress, OnChangePasswordProgress, OnChangeDatabaseSettingsProgress;

 protected:
  void Loaded() override;

 private:
  friend class TORBSession;

  void DoOpen();
  // Takes the engine session of a connected HandleShared database of the
  // same name; false when there is none.
  bool OpenFromExistingDB();
  // A new, unconnected engine session from the settings.
  std::unique_ptr<TORBLocalSession> CreateHandle() const;
  // Connects `handle`, offering repair and asking for passwords as needed.
  void ConnectHandle(std::unique_ptr<TORBLocalSession>& handle);
  bool AskPassword();
  bool AskRepair();
  bool AskConvert();
  void DestroyHandle();
  void CheckDatabaseName() const;
  void CheckSessionName(bool required);
  void CheckConnected() const;
  void CheckActive() const;
  void CheckInactive();
  TORBLocalSession* LocalHandle() const;
  // The session died: close and join the default session (none when the
  // default session itself goes).
  void SessionDestroyed();

  std::vector<TDataSet*> FDataSets;
  bool FKeepConnection = true;
  bool FTemporary = false;
  bool FStreamedConnected = false;
  bool FAcquiredHandle = false;
  bool FHandleShared = false;
  bool FClosing = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  int32_t FRefCount = 0;
  TORBBaseSession* FHandle = nullptr;
  std::unique_ptr<TORBBaseSession> FOwnedHandle;
  TORBSession* FSession = nullptr;
  std::string FSessionName;
  std::string FDatabaseName;
  std::string FDatabaseFileName;
  std::string FPassword;
  TORBCryptoAlgorithm FCryptoAlgorithm = craRijndael_128;
  int32_t FPageSize = 4096;
  int32_t FPageCountInExtent = 8;
  bool FNoRepairRequest = false;
  bool FSilentMode = false;
  bool FMultiUser = false;
  int32_t FMaxConnections = 500;
  bool FDisableTempFiles = false;
};

}  // namespace orb
