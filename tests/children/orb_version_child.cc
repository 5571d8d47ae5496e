// Test helper: an executable that carries the project's version record.
// Reads its own record back and prints one line, then its own path:
//
//   version <major.minor.release.build>   or   none <errno>
//   path <executable path>

#include <cstdio>

#include "engine/platform/file_version.h"
#include "engine/platform/file_version_embed.h"

int main() {
  orb::TFileVersion version;
  const orb::PlatformStatus s = orb::ReadOwnFileVersion(&version);
  if (s.Ok()) {
    std::printf("version %s\n", version.ToString().c_str());
  } else {
    std::printf("none %d\n", s.Code());
  }
  std::printf("path %s\n", orb::OwnExecutablePath().c_str());
  return 0;
}
