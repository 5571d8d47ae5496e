#pragma once

// Places the project's version record (see file_version.h) in the
// executable's ".orb_version" section. Include this header in exactly one
// source file of an executable: the section must hold one record, and a
// second copy makes the reader find none.
//
// The version is the CMake project version (major.minor.patch.tweak, a
// missing part being 0), filled into engine/platform/version.h by the build.

#include <cstdint>

#include "engine/platform/file_version.h"
#include "engine/platform/version.h"

static_assert(ORB_VERSION_MAJOR >= 0 && ORB_VERSION_MAJOR <= 0xFFFF &&
                  ORB_VERSION_MINOR >= 0 && ORB_VERSION_MINOR <= 0xFFFF &&
                  ORB_VERSION_PATCH >= 0 && ORB_VERSION_PATCH <= 0xFFFF &&
                  ORB_VERSION_BUILD >= 0 && ORB_VERSION_BUILD <= 0xFFFF,
              "each part of the project version must fit in 16 bits");

namespace orb::embedded {

[[gnu::section(".orb_version"), gnu::used]] constexpr std::array<uint8_t, TFileVersion::kSize>
    kFileVersionRecord = TFileVersion::Encode(ORB_VERSION_MAJOR, ORB_VERSION_MINOR,
                                              ORB_VERSION_PATCH, ORB_VERSION_BUILD);

}  // namespace orb::embedded
