#include "engine/base/crc32.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace orb {
namespace {

// Straightforward table-driven reference, built bit by bit.
uint32_t ReferenceCrc(uint32_t crc, const uint8_t* data, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFF];
  return crc;
}

TEST(Crc32Test, StartsFromZeroWithoutFinalInversion) {
  EXPECT_EQ(CRC32(0, "abc", 3), 0xCA6598D0u);
  EXPECT_EQ(CRC32(0, "", 0), 0u);
  EXPECT_EQ(CRC32(0x12345678u, "", 0), 0x12345678u);
}

TEST(Crc32Test, MatchesReferenceOnRandomBuffersAndChains) {
  std::mt19937 rng(7);
  for (size_t size : {1u, 2u, 3u, 15u, 16u, 17u, 255u, 4096u, 100003u}) {
    std::vector<uint8_t> data(size);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const uint32_t start = rng();
    EXPECT_EQ(CRC32(start, data.data(), size), ReferenceCrc(start, data.data(), size)) << size;
    const size_t cut = size / 3;
    EXPECT_EQ(CRC32(CRC32(0, data.data(), cut), data.data() + cut, size - cut), ReferenceCrc(0, data.data(), size))
        << size;
  }
}

}  // namespace
}  // namespace orb
