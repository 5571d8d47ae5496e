#pragma once

// PPM codec: an order-N context model (escape method D with symbol
// exclusion) driving a range coder.
//
// Encoded form: an 11-byte header followed by the range coder's bytes.
//   [0]     format tag: kPpmFormatTag, or kPpmStoredTag when coding would
//           not make the block smaller and the bytes follow as they are
//   [1]     model order, 1 to kPpmMaxOrder
//   [2]     model memory budget in MiB, 1 to kPpmMaxModelMiB
//   [3..10] decoded length, 64-bit little-endian
// The model restarts from empty whenever its memory would exceed the
// budget, so encoder and decoder stay in step with bounded memory.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orb {

inline constexpr uint8_t kPpmFormatTag = 0x91;
inline constexpr uint8_t kPpmStoredTag = 0x90;
inline constexpr size_t kPpmHeaderSize = 11;
inline constexpr int kPpmMaxOrder = 16;
inline constexpr int kPpmMaxModelMiB = 255;

struct PpmParameters {
  int order;
  int model_mib;
};

// Order and memory budget of a level; levels outside 1..9 are clamped.
PpmParameters PpmParametersForLevel(int level);

// Encodes `size` bytes at `level` (clamped to 1..9) into `out` (replaced).
void PpmCompress(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& out);

// Decodes a block made by PpmCompress into `out` (replaced). Fails (false)
// when the input is damaged, truncated or followed by extra bytes, or when
// it would decode to more than `max_size` bytes. Never reads outside
// [data, data + size); memory grows only with the bytes actually decoded.
bool PpmDecompress(const uint8_t* data, size_t size, size_t max_size, std::vector<uint8_t>& out);

}  // namespace orb
