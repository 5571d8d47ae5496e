#pragma once

// Temporary files and free disk space.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/platform/file.h"

namespace orb {

// The directory for temporary files: $TMPDIR when it names a directory,
// else "/tmp". No trailing slash.
std::string TempDirectory();

// Opens `file` on a new temporary file in TempDirectory() whose name begins
// with `prefix`, read-write and exclusive. The name is unlinked at once, so
// the file disappears when it is closed (or the process ends) and no other
// process can open it.
PlatformStatus OpenTemporaryFile(TPlatformFile& file, std::string_view prefix);

// Bytes available to unprivileged users on the file system holding `path`.
PlatformStatus FreeDiskSpace(const std::string& path, int64_t* bytes);

}  // namespace orb
