#include "engine/base/compression.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/base/ppm_codec.h"
#include "tests/engine/base/stream_test_data.h"

namespace orb {
namespace {

using test::RandomBytes;
using test::TextBytes;

constexpr TORBCompressionAlgorithm kCodecs[] = {acaZLIB, acaBZIP, acaPPM};

struct Sample {
  const char* name;
  std::vector<uint8_t> bytes;
};

std::vector<Sample> Samples() {
  return {
      {"one byte", {0x41}},
      {"tiny", {'a', 'b', 'c', 0, 0xFF, 'a', 'b', 'c'}},
      {"zeros", std::vector<uint8_t>(70000, 0)},
      {"random", RandomBytes(50000, 1)},
      {"text", TextBytes(200000, 2)},
  };
}

std::vector<uint8_t> Compress(TORBCompressionAlgorithm alg, int level, const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(ORBInternalCompressBuffer(alg, static_cast<uint8_t>(level), in.data(), static_cast<int64_t>(in.size()), out));
  return out;
}

TEST(CompressionTest, EveryCodecAtEveryLevelRoundTrips) {
  const std::vector<Sample> samples = Samples();
  for (TORBCompressionAlgorithm alg : kCodecs) {
    for (int level = 1; level <= 9; ++level) {
      for (const Sample& s : samples) {
        SCOPED_TRACE(testing::Message() << "alg " << int(alg) << " level " << level << " " << s.name);
        const std::vector<uint8_t> packed = Compress(alg, level, s.bytes);
        ASSERT_FALSE(packed.empty());
        std::vector<uint8_t> back;
        int64_t size = static_cast<int64_t>(s.bytes.size());
        ASSERT_TRUE(ORBInternalDecompressBuffer(alg, packed.data(), static_cast<int64_t>(packed.size()), back, size));
        EXPECT_EQ(size, static_cast<int64_t>(s.bytes.size()));
        EXPECT_TRUE(back == s.bytes);
        if (std::string(s.name) == "text") {
          EXPECT_LT(packed.size(), s.bytes.size() / 2);
        }
      }
    }
  }
}

TEST(CompressionTest, EmptyInputAndNoneGiveFalse) {
  std::vector<uint8_t> out{1, 2, 3};
  const uint8_t byte = 7;
  for (TORBCompressionAlgorithm alg : {acaNone, acaZLIB, acaBZIP, acaPPM}) {
    EXPECT_FALSE(ORBInternalCompressBuffer(alg, 5, &byte, 0, out));
    EXPECT_TRUE(out.empty());
    int64_t size = 1;
    EXPECT_FALSE(ORBInternalDecompressBuffer(alg, &byte, 0, out, size));
    EXPECT_EQ(size, 0);
  }
  EXPECT_FALSE(ORBInternalCompressBuffer(acaNone, 5, &byte, 1, out));
  int64_t size = 1;
  EXPECT_FALSE(ORBInternalDecompressBuffer(acaNone, &byte, 1, out, size));
}

TEST(CompressionTest, LevelOutsideCodecRangeFailsForZlibAndBzipAndClampsForPpm) {
  const std::vector<uint8_t> text = TextBytes(1000, 3);
  std::vector<uint8_t> out;
  EXPECT_FALSE(ORBInternalCompressBuffer(acaZLIB, 10, text.data(), 1000, out));
  EXPECT_FALSE(ORBCompressionGetLastError().empty());
  EXPECT_FALSE(ORBInternalCompressBuffer(acaBZIP, 0, text.data(), 1000, out));
  EXPECT_FALSE(ORBInternalCompressBuffer(acaBZIP, 10, text.data(), 1000, out));
  for (int mode : {0, 1, 9, 200}) {
    ASSERT_TRUE(ORBInternalCompressBuffer(acaPPM, static_cast<uint8_t>(mode), text.data(), 1000, out));
    const PpmParameters p = PpmParametersForLevel(mode < 1 ? 1 : mode > 9 ? 9 : mode);
    ASSERT_GE(out.size(), kPpmHeaderSize);
    EXPECT_EQ(out[0], kPpmFormatTag);
    EXPECT_EQ(out[1], p.order);
    EXPECT_EQ(out[2], p.model_mib);
  }
}

TEST(CompressionTest, PpmLevelsGrowInOrderAndMemory) {
  for (int level = 2; level <= 9; ++level) {
    EXPECT_GE(PpmParametersForLevel(level).order, PpmParametersForLevel(level - 1).order);
    EXPECT_GE(PpmParametersForLevel(level).model_mib, PpmParametersForLevel(level - 1).model_mib);
  }
}

// Half random, half text at the lowest level fills the smallest model many
// times over, so the model restarts mid-stream on both sides.
TEST(CompressionTest, PpmRestartsItsModelWhenTheBudgetIsReached) {
  std::vector<uint8_t> data;
  for (uint32_t i = 0; i < 300; ++i) {
    const std::vector<uint8_t> noise = RandomBytes(1000, i);
    const std::vector<uint8_t> text = TextBytes(1000, i);
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), text.begin(), text.end());
  }
  std::vector<uint8_t> packed;
  PpmCompress(data.data(), data.size(), 1, packed);
  ASSERT_EQ(packed[0], kPpmFormatTag);
  std::vector<uint8_t> back;
  ASSERT_TRUE(PpmDecompress(packed.data(), packed.size(), data.size(), back));
  EXPECT_TRUE(back == data);
}

TEST(CompressionTest, LongerOutputThanExpectedShowsAsSizeMismatchOrFailure) {
  const std::vector<uint8_t> text = TextBytes(5000, 5);
  for (TORBCompressionAlgorithm alg : kCodecs) {
    const std::vector<uint8_t> packed = Compress(alg, 6, text);
    std::vector<uint8_t> back;
    int64_t size = 100;
    if (ORBInternalDecompressBuffer(alg, packed.data(), static_cast<int64_t>(packed.size()), back, size)) {
      EXPECT_EQ(size, 101) << int(alg);
      EXPECT_EQ(back.size(), 101u);
    } else {
      EXPECT_EQ(alg, acaPPM);
    }
  }
}

// Damage must never crash, hang or produce more than the expected size plus
// one.
TEST(CompressionTest, DamagedInputFailsSafely) {
  const std::vector<uint8_t> text = TextBytes(20000, 6);
  for (TORBCompressionAlgorithm alg : kCodecs) {
    const std::vector<uint8_t> packed = Compress(alg, 9, text);
    for (size_t at = 0; at < packed.size(); at += 1 + packed.size() / 97) {
      for (uint8_t mask : {0x01, 0x80, 0xFF}) {
        std::vector<uint8_t> damaged = packed;
        damaged[at] ^= mask;
        std::vector<uint8_t> back;
        int64_t size = static_cast<int64_t>(text.size());
        const bool ok = ORBInternalDecompressBuffer(alg, damaged.data(), static_cast<int64_t>(damaged.size()), back, size);
        EXPECT_LE(back.size(), text.size() + 1);
        // zlib and bzip2 check their output: success at the expected size
        // means the true bytes (a flip in padding bits changes nothing).
        if (alg != acaPPM && ok && size == static_cast<int64_t>(text.size())) {
          EXPECT_TRUE(back == text) << "alg " << int(alg) << " at " << at;
        }
      }
    }
    // Every truncation, and trailing garbage.
    for (size_t len = 1; len < packed.size(); len += 1 + len / 8) {
      std::vector<uint8_t> cut(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(len));
      std::vector<uint8_t> back;
      int64_t size = static_cast<int64_t>(text.size());
      EXPECT_FALSE(ORBInternalDecompressBuffer(alg, cut.data(), static_cast<int64_t>(cut.size()), back, size))
          << "alg " << int(alg) << " len " << len;
    }
    std::vector<uint8_t> longer = packed;
    longer.push_back(0);
    std::vector<uint8_t> back;
    int64_t size = static_cast<int64_t>(text.size());
    EXPECT_FALSE(ORBInternalDecompressBuffer(alg, longer.data(), static_cast<int64_t>(longer.size()), back, size));
  }
}

// Random bytes never decode: each codec rejects them and hands back nothing.
TEST(CompressionTest, GarbageInputFailsSafely) {
  for (TORBCompressionAlgorithm alg : kCodecs) {
    for (uint32_t seed = 0; seed < 50; ++seed) {
      std::vector<uint8_t> junk = test::RandomBytes(1 + seed * 37, seed);
      if (alg == acaPPM && junk.size() > 3) {
        // A plausible header in front of random bits.
        junk[0] = kPpmFormatTag;
        junk[1] = 4;
        junk[2] = 8;
      }
      // A large expected size, so that no cap on the output hides what the
      // decoder makes of the junk.
      std::vector<uint8_t> back;
      int64_t size = int64_t{1} << 30;
      const bool ok = ORBInternalDecompressBuffer(alg, junk.data(), static_cast<int64_t>(junk.size()), back, size);
      EXPECT_FALSE(ok) << "alg " << int(alg) << " seed " << seed;
      EXPECT_TRUE(back.empty()) << "alg " << int(alg) << " seed " << seed;
      EXPECT_EQ(size, 0) << "alg " << int(alg) << " seed " << seed;
    }
  }
}

// Many single-bit flips in the coded bytes: decoding stops cleanly, and
// damage before the coder's tail is detected.
TEST(CompressionTest, PpmSurvivesBitFlipsAnywhere) {
  const std::vector<uint8_t> text = TextBytes(3000, 9);
  std::mt19937 rng(10);
  for (int level : {1, 5, 9}) {
    std::vector<uint8_t> packed;
    PpmCompress(text.data(), text.size(), level, packed);
    for (int trial = 0; trial < 1500; ++trial) {
      std::vector<uint8_t> damaged = packed;
      const size_t at = kPpmHeaderSize + rng() % (packed.size() - kPpmHeaderSize);
      damaged[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
      std::vector<uint8_t> back;
      if (!PpmDecompress(damaged.data(), damaged.size(), text.size(), back)) continue;
      EXPECT_EQ(back.size(), text.size()) << "level " << level << " at " << at;
      // Damage ahead of the coder's last bytes leaves too many symbols to
      // decode for it to pass unnoticed: a block that still decodes holds
      // the true text (the flip hit bits the coder does not use).
      const bool in_tail = at + packed.size() / 4 >= packed.size();
      if (!in_tail) {
        EXPECT_TRUE(back == text) << "undetected damage, level " << level << " at " << at;
      }
    }
  }
}

// Incompressible input is kept as it is behind the header.
TEST(CompressionTest, PpmStoresIncompressibleBlocks) {
  const std::vector<uint8_t> data = RandomBytes(20000, 12);
  std::vector<uint8_t> packed;
  PpmCompress(data.data(), data.size(), 6, packed);
  ASSERT_EQ(packed.size(), kPpmHeaderSize + data.size());
  EXPECT_EQ(packed[0], kPpmStoredTag);
  std::vector<uint8_t> back;
  ASSERT_TRUE(PpmDecompress(packed.data(), packed.size(), data.size(), back));
  EXPECT_TRUE(back == data);
  packed.pop_back();
  EXPECT_FALSE(PpmDecompress(packed.data(), packed.size(), data.size(), back));
}

TEST(CompressionTest, PpmRejectsInvalidHeaderFields) {
  const std::vector<uint8_t> text = TextBytes(3000, 8);
  std::vector<uint8_t> packed;
  PpmCompress(text.data(), text.size(), 5, packed);
  std::vector<uint8_t> back;
  ASSERT_TRUE(PpmDecompress(packed.data(), packed.size(), text.size(), back));
  struct Case {
    size_t at;
    uint8_t value;
  };
  for (Case c : {Case{0, 0x00}, Case{1, 0}, Case{1, kPpmMaxOrder + 1}, Case{2, 0}, Case{10, 0x80}}) {
    std::vector<uint8_t> damaged = packed;
    damaged[c.at] = c.value;
    EXPECT_FALSE(PpmDecompress(damaged.data(), damaged.size(), SIZE_MAX / 2, back)) << c.at;
  }
  // A length beyond what the caller allows is refused before decoding.
  EXPECT_FALSE(PpmDecompress(packed.data(), packed.size(), text.size() - 1, back));
  EXPECT_TRUE(back.empty());
}

TEST(CompressionTest, AlgorithmNames) {
  EXPECT_EQ(GetCompressionAlgorithm("zlib"), acaZLIB);
  EXPECT_EQ(GetCompressionAlgorithm("BZIP"), acaBZIP);
  EXPECT_EQ(GetCompressionAlgorithm("Ppm"), acaPPM);
  EXPECT_EQ(GetCompressionAlgorithm("none"), acaNone);
  EXPECT_EQ(GetCompressionAlgorithm("lzma"), acaNone);
  EXPECT_EQ(ORBCompressionAlgorithmNames[acaPPM], "PPM");
}

}  // namespace
}  // namespace orb
