#pragma once

// The program's version text, read from the file version record of the
// running executable (engine/platform/file_version.h).

#include <string>

namespace orb {

// "major.minor.release.build" of the running executable's version record.
// Raises the operating system's error when the executable
// cannot be read or holds no version record.
std::string GetAppVersionStr();

}  // namespace orb
