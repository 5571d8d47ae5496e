#pragma once

#include <cstddef>
#include <cstdint>

namespace orb {

// The engine's block checksum: the reflected CRC-32 (polynomial 0xEDB88320)
// updated per byte as crc = (crc >> 8) ^ table[(crc ^ byte) & 0xFF], without
// the usual initial and final inversions. The engine starts from 0, so
// CRC32(0, "abc", 3) is 0xCA6598D0. Chaining calls over consecutive pieces
// gives the value of the whole.
uint32_t CRC32(uint32_t crc, const void* buffer, size_t size);

}  // namespace orb
