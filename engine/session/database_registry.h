#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orb {

class TORBDatabaseData;
class TORBDiskDatabaseData;

// Which engine a session's database lives in.
enum TORBDatabaseKind : uint8_t { dkDisk = 0, dkMemory = 1, dkTemp = 2 };

// What a session's database is found by. For a disk database FileName is
// the file's canonical path (symbolic links, "." and ".." resolved; the
// file itself need not exist yet), compared exactly; SessionName compares
// without regard to case.
struct TORBDatabaseKey {
  TORBDatabaseKind Kind = dkDisk;
  std::u16string FileName;
  std::u16string SessionName;
};

// The kind named by a session's database name: "MEMORY" and "TEMP"
// (exactly) select the in-memory and temporary databases. For a disk
// database the file name is resolved to its canonical path;
// kErrDatabaseFileName when it is empty or cannot be resolved.
TORBDatabaseKey MakeDatabaseKey(const std::u16string& database_name, const std::u16string& database_file_name,
                                const std::u16string& session_name);

// Makes the database data of an engine that is installed at start-up.
using TORBDatabaseDataFactory = std::unique_ptr<TORBDatabaseData> (*)();

// The process-wide list of database data objects. The in-memory ("MEMORY")
// and temporary ("TEMP") entries are made on first use by their factory (the
// in-memory and temporary engines unless another is installed) and live
// until the process ends; a factory set to null makes using them raise
// kErrEngineUnavailable. Disk entries are
// added by sessions and removed when their last session leaves.
//
// Every call REQUIRES: the caller holds Mutex(). Sessions take it before
// any database data's critical section, never after.
class TORBDatabaseRegistry {
 public:
  static TORBDatabaseRegistry& Instance();

  TORBDatabaseRegistry();
  TORBDatabaseRegistry(const TORBDatabaseRegistry&) = delete;
  TORBDatabaseRegistry& operator=(const TORBDatabaseRegistry&) = delete;

  std::recursive_mutex& Mutex() { return FMutex; }

  // Installs the engine of the "MEMORY" or "TEMP" entry (dkDisk is
  // ignored). An entry already made stays.
  void SetFactory(TORBDatabaseKind kind, TORBDatabaseDataFactory factory);

  // The registered database data for the key, or null (disk). The
  // permanent entries are made here when first asked for.
  TORBDatabaseData* Find(const TORBDatabaseKey& key);
  // Registers a disk database data under its name and session name.
  TORBDiskDatabaseData* Add(std::unique_ptr<TORBDiskDatabaseData> database_data);
  // Takes a disk database data out of the list and hands it to the caller;
  // null for a permanent entry or an unknown object.
  std::unique_ptr<TORBDatabaseData> Remove(TORBDatabaseData* database_data);
  int32_t DiskCount() const { return static_cast<int32_t>(FDiskList.size()); }

 private:
  std::recursive_mutex FMutex;
  std::vector<std::unique_ptr<TORBDatabaseData>> FDiskList;
  TORBDatabaseDataFactory FMemoryFactory;
  TORBDatabaseDataFactory FTempFactory;
  std::unique_ptr<TORBDatabaseData> FMemoryData;
  std::unique_ptr<TORBDatabaseData> FTempData;
};

// Installs the factories of the permanent entries (engine start-up).
void SetMemoryDatabaseDataFactory(TORBDatabaseDataFactory factory);
void SetTempDatabaseDataFactory(TORBDatabaseDataFactory factory);

}  // namespace orb
