#pragma once

// The program's file version: a small record that the build places in the
// executable itself (an ELF section named ".orb_version", see
// file_version_embed.h) and that is read back from the executable's file.
//
// Version record, stored form (little-endian, packed), 32 bytes; the
// section holds exactly one record:
// | offset | size | type    | meaning                                      |
// |      0 |    8 | bytes   | Magic: "ORB-FVER"                            |
// |      8 |    2 | uint16  | RecordSize: 32                               |
// |     10 |    2 | uint16  | Layout: 1                                    |
// |     12 |    2 | uint16  | Major                                        |
// |     14 |    2 | uint16  | Minor                                        |
// |     16 |    2 | uint16  | Release                                      |
// |     18 |    2 | uint16  | Build                                        |
// |     20 |    4 | uint32  | Check: FNV-1a (32-bit) of bytes 0 .. 19      |
// |     24 |    8 | bytes   | Reserved: zero                               |
// A record whose magic, size, layout, check or reserved bytes differ is
// not a version record.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/platform/file.h"

namespace orb {

// Name of the ELF section that holds the record.
inline constexpr char kFileVersionSection[] = ".orb_version";

// A file version: four 16-bit parts, most significant first.
struct TFileVersion {
  static constexpr int kSize = 32;

  uint16_t Major = 0;
  uint16_t Minor = 0;
  uint16_t Release = 0;
  uint16_t Build = 0;

  // "major.minor.release.build", e.g. "2021.11.29.21".
  std::string ToString() const;

  bool operator==(const TFileVersion&) const = default;

  // Writes the 32-byte stored form. Usable at compile time.
  constexpr void SaveTo(uint8_t* out) const {
    const char magic[] = "ORB-FVER";
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(magic[i]);
    Put16(out + 8, kSize);
    Put16(out + 10, kLayout);
    Put16(out + 12, Major);
    Put16(out + 14, Minor);
    Put16(out + 16, Release);
    Put16(out + 18, Build);
    const uint32_t check = Check(out);
    for (int i = 0; i < 4; ++i) out[20 + i] = static_cast<uint8_t>(check >> (8 * i));
    for (int i = 24; i < kSize; ++i) out[i] = 0;
  }

  static constexpr std::array<uint8_t, kSize> Encode(uint16_t major, uint16_t minor,
                                                     uint16_t release, uint16_t build) {
    std::array<uint8_t, kSize> bytes{};
    TFileVersion{major, minor, release, build}.SaveTo(bytes.data());
    return bytes;
  }

  // Reads a stored record of kSize bytes; nothing when it is not a valid
  // version record.
  static std::optional<TFileVersion> LoadFrom(const uint8_t* in);

 private:
  static constexpr uint16_t kLayout = 1;

  static constexpr void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
  // FNV-1a over bytes 0 .. 19.
  static constexpr uint32_t Check(const uint8_t* p) {
    uint32_t h = 2166136261u;
    for (int i = 0; i < 20; ++i) {
      h ^= p[i];
      h *= 16777619u;
    }
    return h;
  }
};

// Reads the version record of the executable file at `path`. Fails with
// the system's error when the file cannot be opened or read, and with
// ENODATA ("no version record") when the file is not a little-endian ELF
// file, holds no ".orb_version" section, or anything on the way to the
// record is out of bounds or malformed. Never reads outside the file.
PlatformStatus ReadFileVersion(const std::string& path, TFileVersion* version);

// The same for the running executable (/proc/self/exe).
PlatformStatus ReadOwnFileVersion(TFileVersion* version);

// Full path of the running executable, from /proc/self/exe; empty when it
// cannot be read.
std::string OwnExecutablePath();

}  // namespace orb
