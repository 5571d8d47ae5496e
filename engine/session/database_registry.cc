#include "engine/session/database_registry.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/data/database_data.h"
#include "engine/disk/disk_database_data.h"
#include "engine/memory/memory_database_data.h"
#include "engine/memory/temporary_database_data.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"

namespace orb {

TORBDatabaseKey MakeDatabaseKey(const std::u16string& database_name, const std::u16string& database_file_name,
                                const std::u16string& session_name) {
  TORBDatabaseKey key;
  key.SessionName = session_name;
  if (database_name == u"MEMORY") {
    key.Kind = dkMemory;
    return key;
  }
  if (database_name == u"TEMP") {
    key.Kind = dkTemp;
    return key;
  }
  if (database_file_name.empty()) {
    RaiseORB(kErrDatabaseFileName, "Invalid database file name '%s': %s", {database_file_name, "empty name"});
  }
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(WideToPath(database_file_name), ec);
  if (!ec) path = std::filesystem::weakly_canonical(path, ec);
  if (ec) {
    RaiseORB(kErrDatabaseFileName, "Invalid database file name '%s': %s", {database_file_name, ec.message()});
  }
  key.FileName = PathToWide(path.string());
  return key;
}

TORBDatabaseRegistry& TORBDatabaseRegistry::Instance() {
  // Never destroyed: the permanent entries live until the process ends,
  // and sessions destroyed at exit still find the registry.
  static TORBDatabaseRegistry* const registry = new TORBDatabaseRegistry;
  return *registry;
}

namespace {

std::unique_ptr<TORBDatabaseData> MakeMemoryDatabaseData() { return CreateMemoryDatabaseData(); }
std::unique_ptr<TORBDatabaseData> MakeTemporaryDatabaseData() { return CreateTemporaryDatabaseData(); }

}  // namespace

TORBDatabaseRegistry::TORBDatabaseRegistry()
    : FMemoryFactory(&MakeMemoryDatabaseData), FTempFactory(&MakeTemporaryDatabaseData) {}

void TORBDatabaseRegistry::SetFactory(TORBDatabaseKind kind, TORBDatabaseDataFactory factory) {
  if (kind == dkMemory) FMemoryFactory = factory;
  if (kind == dkTemp) FTempFactory = factory;
}

TORBDatabaseData* TORBDatabaseRegistry::Find(const TORBDatabaseKey& key) {
  if (key.Kind != dkDisk) {
    std::unique_ptr<TORBDatabaseData>& entry = key.Kind == dkMemory ? FMemoryData : FTempData;
    TORBDatabaseDataFactory factory = key.Kind == dkMemory ? FMemoryFactory : FTempFactory;
    if (entry == nullptr) {
      if (factory == nullptr) {
        RaiseORB(kErrEngineUnavailable, "The %s database is not available yet",
                 {key.Kind == dkMemory ? "MEMORY" : "TEMP"});
      }
      entry = factory();
      if (entry == nullptr) {
        RaiseORB(kErrEngineUnavailable, "The %s database is not available yet",
                 {key.Kind == dkMemory ? "MEMORY" : "TEMP"});
      }
    }
    return entry.get();
  }
  for (const auto& data : FDiskList) {
    if (data->DatabaseName() == key.FileName && SameNameW(data->SessionName(), key.SessionName)) return data.get();
  }
  return nullptr;
}

TORBDiskDatabaseData* TORBDatabaseRegistry::Add(std::unique_ptr<TORBDiskDatabaseData> database_data) {
  TORBDiskDatabaseData* added = database_data.get();
  FDiskList.push_back(std::move(database_data));
  return added;
}

std::unique_ptr<TORBDatabaseData> TORBDatabaseRegistry::Remove(TORBDatabaseData* database_data) {
  auto it = std::find_if(FDiskList.begin(), FDiskList.end(),
                         [&](const auto& data) { return data.get() == database_data; });
  if (it == FDiskList.end()) return nullptr;
  std::unique_ptr<TORBDatabaseData> removed = std::move(*it);
  FDiskList.erase(it);
  return removed;
}

void SetMemoryDatabaseDataFactory(TORBDatabaseDataFactory factory) {
  TORBDatabaseRegistry& registry = TORBDatabaseRegistry::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Mutex());
  registry.SetFactory(dkMemory, factory);
}

void SetTempDatabaseDataFactory(TORBDatabaseDataFactory factory) {
  TORBDatabaseRegistry& registry = TORBDatabaseRegistry::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Mutex());
  registry.SetFactory(dkTemp, factory);
}

}  // namespace orb
