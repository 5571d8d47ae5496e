#include "app/unconnected_storage.h"

#include <sys/stat.h>

#include "engine/platform/dataset_error.h"

namespace orb {

void TJotbinUnconnectedStorage::OpenDatabase(const std::string& file_name) {
  struct stat st {};
  if (::stat(file_name.c_str(), &st) != 0) DatabaseError(DatabaseFileMissingMessage(file_name));
  DatabaseError(kSStorageNotAvailable);
}

void TJotbinUnconnectedStorage::OpenTable(const std::string& /*table_name*/) {
  DatabaseError(kSStorageNotAvailable);
}

}  // namespace orb
