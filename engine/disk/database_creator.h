#pragma once

#include <cstdint>
#include <string>

#include "engine/disk/encryption.h"

namespace orb {

// Settings of a new disk database.
struct TORBDiskDatabaseOptions {
  uint16_t PageSize = 4096;
  uint16_t PageCountInExtent = 8;
  // Sessions of all processes together.
  int32_t MaxSessionCount = 500;
  // Empty password: not encrypted.
  TORBPassword Password;
};

// Creates an empty database file (replacing any file of that name): the
// system directory at page 2, then the active sessions file (one byte per
// session) and the table list, both recorded in the directory, all
// committed. The file is closed again.
void CreateDiskDatabase(const std::u16string& file_name, const TORBDiskDatabaseOptions& options);

}  // namespace orb
