#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/base/crc32.h"
#include "engine/base/stream_compressed_blob.h"
#include "engine/base/stream_memory.h"
#include "tests/engine/base/stream_test_data.h"

namespace orb {
namespace {

using test::RandomBytes;
using test::TextBytes;

constexpr TORBCompressionAlgorithm kCodecs[] = {acaZLIB, acaBZIP, acaPPM};

TORBBLOBDescriptor NewDescriptor(TORBCompressionAlgorithm alg, int32_t block_size, uint8_t mode = 6,
                                 int64_t start = 0) {
  TORBBLOBDescriptor d;
  d.BlockSize = block_size;
  d.CompressionAlgorithm = alg;
  d.CompressionMode = mode;
  d.StartPosition = start;
  return d;
}

std::vector<uint8_t> Bytes(TORBMemoryStream& s) { return {s.Memory(), s.Memory() + s.GetSize()}; }

std::vector<uint8_t> ReadContent(TStream& s) {
  std::vector<uint8_t> out(static_cast<size_t>(s.GetSize()));
  s.Seek(0, soBeginning);
  EXPECT_EQ(s.Read(out.data(), static_cast<int64_t>(out.size())), static_cast<int64_t>(out.size()));
  return out;
}

template <typename F>
int32_t ErrorCode(F&& f) {
  try {
    f();
  } catch (const EORBException& e) {
    return e.NativeError();
  }
  return 0;
}

// A stored BLOB with 250,000 bytes in blocks of 102400.
struct StoredBlob {
  explicit StoredBlob(TORBCompressionAlgorithm alg) : content(TextBytes(250000, 11)) {
    TORBCompressedBLOBStream s(store, NewDescriptor(alg, 102400), true, false);
    EXPECT_EQ(s.Write(content.data(), 250000), 250000);
    descriptor = s.BLOBDescriptor();
  }
  TORBMemoryStream store;
  std::vector<uint8_t> content;
  TORBBLOBDescriptor descriptor;
};

TEST(CompressedBLOBStreamTest, NewStreamPicksBlockSizeByMode) {
  TORBMemoryStream store;
  struct Case {
    uint8_t mode;
    int32_t block;
  };
  for (Case c : {Case{0, 102400}, Case{1, 524288}, Case{3, 524288}, Case{4, 1048576}, Case{5, 1048576},
                 Case{6, 1048576}, Case{7, 1572864}, Case{9, 1572864}}) {
    TORBCompressedBLOBStream s(store, NewDescriptor(acaZLIB, 0, c.mode), true, false);
    EXPECT_EQ(s.BLOBDescriptor().BlockSize, c.block) << int(c.mode);
  }
}

TEST(CompressedBLOBStreamTest, BlocksHaveChainedChecksummedHeaders) {
  for (TORBCompressionAlgorithm alg : kCodecs) {
    StoredBlob blob(alg);
    EXPECT_EQ(blob.descriptor.NumBlocks, 3);
    EXPECT_EQ(blob.descriptor.UncompressedSize, 250000);
    // Walk the stored form by hand.
    const std::vector<uint8_t> raw = Bytes(blob.store);
    int64_t at = 0;
    const int32_t expected_sizes[] = {102400, 102400, 45200};
    for (int i = 0; i < 3; ++i) {
      const auto h = TORBCompressedStreamBlockHeader::LoadFrom(raw.data() + at);
      EXPECT_EQ(h.UncompressedSize, expected_sizes[i]);
      EXPECT_EQ(h.OffsetToNextHeader, 20 + h.CompressedSize);
      EXPECT_EQ(h.Crc32, CRC32(0, blob.content.data() + i * 102400, static_cast<size_t>(h.UncompressedSize)));
      at += h.OffsetToNextHeader;
    }
    EXPECT_EQ(at, static_cast<int64_t>(raw.size()));

    TORBCompressedBLOBStream reopened(blob.store, blob.descriptor, false, false);
    EXPECT_EQ(reopened.GetSize(), 250000);
    EXPECT_TRUE(ReadContent(reopened) == blob.content);
    EXPECT_GT(reopened.GetCompressionRate(), 50.0);
    // A read across a block boundary.
    std::vector<uint8_t> piece(1000);
    reopened.Seek(102000, soBeginning);
    EXPECT_EQ(reopened.Read(piece.data(), 1000), 1000);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), blob.content.begin() + 102000));
    reopened.Seek(-10, soEnd);
    EXPECT_EQ(reopened.Read(piece.data(), 1000), 10);
    EXPECT_EQ(reopened.Read(piece.data(), 1000), 0);
  }
}

TEST(CompressedBLOBStreamTest, AppendRewritesOnlyTheLastBlock) {
  StoredBlob blob(acaZLIB);
  const std::vector<uint8_t> before = Bytes(blob.store);
  TORBCompressedBLOBStream s(blob.store, blob.descriptor, false, false);
  const int64_t third = s.Headers().Positions(2);
  s.Seek(0, soEnd);
  EXPECT_EQ(s.Write("0123456789", 10), 10);
  EXPECT_EQ(s.BLOBDescriptor().NumBlocks, 3);
  EXPECT_EQ(s.BLOBDescriptor().UncompressedSize, 250010);
  EXPECT_EQ(s.Headers().Items(2).UncompressedSize, 45210);
  const std::vector<uint8_t> after = Bytes(blob.store);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + third, after.begin()));
  EXPECT_NE(std::memcmp(before.data() + third, after.data() + third, 20), 0);

  TORBCompressedBLOBStream reopened(blob.store, s.BLOBDescriptor(), false, false);
  std::vector<uint8_t> expected = blob.content;
  expected.insert(expected.end(), {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
  EXPECT_TRUE(ReadContent(reopened) == expected);
}

TEST(CompressedBLOBStreamTest, WritesOnlyAppendAndFillGapsWithZeros) {
  StoredBlob blob(acaBZIP);
  TORBCompressedBLOBStream s(blob.store, blob.descriptor, false, false);
  const std::vector<uint8_t> before = Bytes(blob.store);
  EXPECT_EQ(s.Write("x", 1), 0);  // position 0 of a non-empty stream
  EXPECT_TRUE(Bytes(blob.store) == before);
  EXPECT_EQ(s.GetSize(), 250000);

  EXPECT_EQ(s.Seek(250100, soBeginning), 250100);
  EXPECT_EQ(s.GetSize(), 250000);
  EXPECT_EQ(s.Write("end", 3), 3);
  EXPECT_EQ(s.GetSize(), 250103);
  EXPECT_EQ(s.GetPosition(), 250103);
  std::vector<uint8_t> expected = blob.content;
  expected.resize(250100, 0);
  expected.insert(expected.end(), {'e', 'n', 'd'});
  TORBCompressedBLOBStream reopened(blob.store, s.BLOBDescriptor(), false, false);
  EXPECT_TRUE(ReadContent(reopened) == expected);
}

TEST(CompressedBLOBStreamTest, TruncationReencodesThePartialBlockOnly) {
  for (TORBCompressionAlgorithm alg : kCodecs) {
    StoredBlob blob(alg);
    {
      TORBCompressedBLOBStream s(blob.store, blob.descriptor, false, false);
      s.Seek(0, soEnd);
      s.SetSize(150000);
      EXPECT_EQ(s.GetPosition(), 150000);
      EXPECT_EQ(s.BLOBDescriptor().NumBlocks, 2);
      EXPECT_EQ(s.Headers().Items(1).UncompressedSize, 47600);
      // The underlying stream ends right after the new second block.
      EXPECT_EQ(blob.store.GetSize(), s.Headers().Positions(1) + s.Headers().Items(1).OffsetToNextHeader);
      TORBCompressedBLOBStream reopened(blob.store, s.BLOBDescriptor(), false, false);
      EXPECT_TRUE(ReadContent(reopened) == std::vector<uint8_t>(blob.content.begin(), blob.content.begin() + 150000));
    }
  }
  StoredBlob blob(acaZLIB);
  const int64_t length = blob.store.GetSize();
  TORBCompressedBLOBStream s(blob.store, blob.descriptor, false, false);
  s.SetSize(204800);
  EXPECT_EQ(s.BLOBDescriptor().NumBlocks, 2);
  EXPECT_EQ(blob.store.GetSize(), length);
  // Appending after a whole-block cut writes over the dropped block.
  s.Seek(0, soEnd);
  s.Write("tail", 4);
  TORBCompressedBLOBStream reopened(blob.store, s.BLOBDescriptor(), false, false);
  std::vector<uint8_t> expected(blob.content.begin(), blob.content.begin() + 204800);
  expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
  EXPECT_TRUE(ReadContent(reopened) == expected);
}

TEST(CompressedBLOBStreamTest, GrowingWritesZeroBlocks) {
  TORBMemoryStream store;
  TORBCompressedBLOBStream s(store, NewDescriptor(acaPPM, 1000, 3), true, false);
  s.Write("abc", 3);
  s.Seek(1, soBeginning);
  s.SetSize(3500);
  EXPECT_EQ(s.GetPosition(), 1);
  EXPECT_EQ(s.BLOBDescriptor().NumBlocks, 4);
  std::vector<uint8_t> expected(3500, 0);
  std::memcpy(expected.data(), "abc", 3);
  EXPECT_TRUE(ReadContent(s) == expected);
  EXPECT_EQ(ErrorCode([&] { s.SetSize(-1); }), 10098);
}

TEST(CompressedBLOBStreamTest, StartPositionLeavesThePrefixAlone) {
  TORBMemoryStream store;
  store.Write("PREFIX", 6);
  const std::vector<uint8_t> text = TextBytes(5000, 3);
  TORBBLOBDescriptor d;
  {
    TORBCompressedBLOBStream s(store, NewDescriptor(acaZLIB, 2048, 9, 6), true, false);
    s.Write(text.data(), 5000);
    d = s.BLOBDescriptor();
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(store.Memory()), 6), "PREFIX");
  TORBCompressedBLOBStream s(store, d, false, false);
  EXPECT_TRUE(ReadContent(s) == text);
}

TEST(CompressedBLOBStreamTest, UncompressedBLOBIsTheContentItself) {
  TORBMemoryStream store;
  store.Write("HDR", 3);
  TORBBLOBDescriptor d;
  {
    TORBCompressedBLOBStream s(store, NewDescriptor(acaNone, 0, 0, 3), true, false);
    EXPECT_EQ(s.Write("hello", 5), 5);
    EXPECT_EQ(s.GetSize(), 5);
    d = s.BLOBDescriptor();
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(store.Memory()), 8), "HDRhello");
  TORBCompressedBLOBStream s(store, d, false, false);
  EXPECT_EQ(s.GetSize(), 5);
  s.Seek(1, soBeginning);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  s.SetSize(2);
  EXPECT_EQ(store.GetSize(), 5);

  d.UncompressedSize = 100;
  EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream bad(store, d, false, false); }), 10081);
  TORBCompressedBLOBStream repaired(store, d, false, true);
  EXPECT_EQ(repaired.GetSize(), 2);
}

// Flipping any byte of a block's data fails that block's read with a
// decode or checksum error; other blocks stay readable.
TEST(CompressedBLOBStreamTest, FlippedDataBytesAreCaught) {
  for (TORBCompressionAlgorithm alg : kCodecs) {
    StoredBlob blob(alg);
    TORBCompressedBLOBStream probe(blob.store, blob.descriptor, false, false);
    const int64_t data_start = probe.Headers().Positions(1) + 20;
    const int64_t data_size = probe.Headers().Items(1).CompressedSize;
    std::mt19937 rng(5);
    for (int trial = 0; trial < 40; ++trial) {
      TORBMemoryStream damaged(Bytes(blob.store));
      const int64_t at = data_start + static_cast<int64_t>(rng() % static_cast<uint32_t>(data_size));
      damaged.Memory()[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
      TORBCompressedBLOBStream s(damaged, blob.descriptor, false, false);
      std::vector<uint8_t> buf(100);
      s.Seek(0, soBeginning);
      EXPECT_EQ(s.Read(buf.data(), 100), 100);
      s.Seek(102400 + 50, soBeginning);
      const int32_t code = ErrorCode([&] { s.Read(buf.data(), 100); });
      EXPECT_TRUE(code == 10087 || code == 10088 || code == 10089) << "alg " << int(alg) << " at " << at << " code " << code;
      s.Seek(204800, soBeginning);
      EXPECT_EQ(s.Read(buf.data(), 100), 100);
    }
  }
}

// Damaged headers are refused when the stream is opened, before any of
// their sizes is used; a repair open keeps the sound blocks before them.
TEST(CompressedBLOBStreamTest, DamagedHeadersAreRefusedBeforeUse) {
  StoredBlob blob(acaZLIB);
  const std::vector<uint8_t> raw = Bytes(blob.store);
  TORBCompressedBLOBStream probe(blob.store, blob.descriptor, false, false);
  const int64_t second = probe.Headers().Positions(1);
  struct Case {
    const char* name;
    int offset;  // within the second header
    int width;
    int64_t value;
    int32_t code;
  };
  const Case cases[] = {
      {"compressed size past the end", 0, 4, 0x7FFFFFF0, 10082},
      {"negative compressed size", 0, 4, -5, 10082},
      {"zero compressed size", 0, 4, 0, 10082},
      {"uncompressed size above block size", 4, 4, 102401, 10088},
      {"short middle block", 4, 4, 100, 10088},
      {"negative uncompressed size", 4, 4, -1, 10088},
      {"offset into own data", 12, 8, 20, 10083},
      {"negative offset", 12, 8, -40, 10083},
      {"offset past the end", 12, 8, int64_t{1} << 60, 10083},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = raw;
    uint8_t* p = bytes.data() + second + c.offset;
    if (c.width == 4) StoreI32LE(p, static_cast<int32_t>(c.value));
    else StoreI64LE(p, c.value);
    TORBMemoryStream damaged(bytes);
    EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(damaged, blob.descriptor, false, false); }), c.code) << c.name;
    TORBCompressedBLOBStream repaired(damaged, blob.descriptor, false, true);
    EXPECT_GE(repaired.BLOBDescriptor().NumBlocks, 1) << c.name;
    EXPECT_LE(repaired.BLOBDescriptor().NumBlocks, 2) << c.name;
    std::vector<uint8_t> first(102400);
    repaired.Seek(0, soBeginning);
    EXPECT_EQ(repaired.Read(first.data(), 102400), 102400) << c.name;
  }

  // A checksum that does not match the data.
  std::vector<uint8_t> bytes = raw;
  bytes[second + 8] ^= 1;
  TORBMemoryStream bad_crc(bytes);
  TORBCompressedBLOBStream s(bad_crc, blob.descriptor, false, false);
  std::vector<uint8_t> buf(10);
  s.Seek(102400, soBeginning);
  EXPECT_EQ(ErrorCode([&] { s.Read(buf.data(), 10); }), 10089);
}

TEST(CompressedBLOBStreamTest, DescriptorPromisingMoreThanStoredFailsOrIsRepaired) {
  StoredBlob blob(acaPPM);
  TORBBLOBDescriptor d = blob.descriptor;
  d.NumBlocks = 1000000000;  // must not drive any allocation
  // The short third block is not the last of so many.
  EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(blob.store, d, false, false); }), 10088);
  d.NumBlocks = 4;
  d.BlockSize = 45200;  // now every block claims to be short...
  EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(blob.store, d, false, false); }), 10088);
  d = blob.descriptor;
  d.NumBlocks = 4;
  TORBCompressedBLOBStream repaired(blob.store, d, false, true);
  EXPECT_EQ(repaired.BLOBDescriptor().NumBlocks, 3);
  EXPECT_TRUE(ReadContent(repaired) == blob.content);

  d.NumBlocks = -1;
  EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(blob.store, d, false, false); }), 10082);
  d = blob.descriptor;
  d.StartPosition = blob.store.GetSize() + 10;
  EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(blob.store, d, false, false); }), 10082);
  d.StartPosition = -1;
  EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(blob.store, d, false, false); }), 10103);

  // Truncated stored form.
  std::vector<uint8_t> bytes = Bytes(blob.store);
  bytes.resize(bytes.size() - 1);
  TORBMemoryStream cut(bytes);
  EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(cut, blob.descriptor, false, false); }), 10082);
  TORBCompressedBLOBStream kept(cut, blob.descriptor, false, true);
  EXPECT_EQ(kept.GetSize(), 204800);
}

// The blocks found must decode to exactly the size the descriptor states,
// whatever else in it was changed; a repair keeps what the blocks hold.
TEST(CompressedBLOBStreamTest, DescriptorSizeMustMatchTheBlocks) {
  StoredBlob blob(acaZLIB);
  struct Case {
    const char* name;
    int64_t num_blocks;
    int64_t size;
    int64_t repaired_size;
  };
  const Case cases[] = {
      {"one block of three", 1, 250000, 102400},
      {"two blocks of three", 2, 250000, 204800},
      {"size one short", 3, 249999, 250000},
      {"size one over", 3, 250001, 250000},
      {"no blocks", 0, 250000, 0},
  };
  for (const Case& c : cases) {
    TORBBLOBDescriptor d = blob.descriptor;
    d.NumBlocks = c.num_blocks;
    d.UncompressedSize = c.size;
    EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(blob.store, d, false, false); }), kErrBLOBSizeMismatch)
        << c.name;
    TORBCompressedBLOBStream repaired(blob.store, d, false, true);
    EXPECT_EQ(repaired.GetSize(), c.repaired_size) << c.name;
    EXPECT_EQ(repaired.BLOBDescriptor().UncompressedSize, c.repaired_size) << c.name;
  }

  // Stored content relabelled as compressed holds no blocks at all.
  TORBMemoryStream store;
  TORBBLOBDescriptor plain;
  {
    TORBCompressedBLOBStream s(store, NewDescriptor(acaNone, 0, 0), true, false);
    s.Write("hello", 5);
    plain = s.BLOBDescriptor();
  }
  for (TORBCompressionAlgorithm alg : kCodecs) {
    TORBBLOBDescriptor d = plain;
    d.CompressionAlgorithm = alg;
    EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(store, d, false, false); }), kErrBLOBSizeMismatch);
  }
}

// A descriptor with blocks but no block size cannot be opened, repaired or
// not; without blocks a block size is chosen, so writes work.
TEST(CompressedBLOBStreamTest, BlocksWithoutBlockSizeAreRefused) {
  StoredBlob blob(acaBZIP);
  for (int32_t block_size : {0, -1, std::numeric_limits<int32_t>::min()}) {
    TORBBLOBDescriptor d = blob.descriptor;
    d.BlockSize = block_size;
    for (bool repair : {false, true}) {
      EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(blob.store, d, false, repair); }), kErrBLOBBlockSize)
          << block_size << " repair " << repair;
    }
    for (int64_t num_blocks : {0, -1}) {
      TORBMemoryStream store;
      d.NumBlocks = num_blocks;
      d.UncompressedSize = 0;
      TORBCompressedBLOBStream s(store, d, false, true);
      EXPECT_GT(s.BLOBDescriptor().BlockSize, 0);
      EXPECT_EQ(s.Write("abc", 3), 3);
      EXPECT_EQ(s.Write("def", 3), 3);
      char back[7] = {};
      s.Seek(0, soBeginning);
      EXPECT_EQ(s.Read(back, 6), 6);
      EXPECT_STREQ(back, "abcdef");
    }
  }
}

// Stated sizes near 2^63 are refused without overflowing the end position.
TEST(CompressedBLOBStreamTest, HugeStatedSizeOfStoredContent) {
  TORBMemoryStream store;
  store.Write("HDRhello", 8);
  TORBBLOBDescriptor d = NewDescriptor(acaNone, 0, 0, 3);
  for (int64_t size : {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max() - 3,
                       std::numeric_limits<int64_t>::max() - 2, std::numeric_limits<int64_t>::min()}) {
    d.UncompressedSize = size;
    EXPECT_EQ(ErrorCode([&] { TORBCompressedBLOBStream s(store, d, false, false); }), 10081) << size;
    TORBCompressedBLOBStream repaired(store, d, false, true);
    EXPECT_EQ(repaired.GetSize(), size > 0 ? 5 : 0) << size;
  }
}

TEST(CompressedBLOBStreamTest, DescriptorEncodesIn32Bytes) {
  TORBBLOBDescriptor d = NewDescriptor(acaBZIP, 4096, 7, 0x0102030405060708);
  d.NumBlocks = 3;
  d.UncompressedSize = -2;
  uint8_t raw[TORBBLOBDescriptor::kSize];
  d.SaveTo(raw);
  EXPECT_EQ(LoadI32LE(raw), 4096);
  EXPECT_EQ(raw[28], acaBZIP);
  EXPECT_EQ(raw[29], 7);
  const TORBBLOBDescriptor back = TORBBLOBDescriptor::LoadFrom(raw);
  EXPECT_EQ(back.StartPosition, 0x0102030405060708);
  EXPECT_EQ(back.NumBlocks, 3);
  EXPECT_EQ(back.UncompressedSize, -2);

  TORBPartialTemporaryBLOBDescriptor t{2, 300, 120};
  uint8_t traw[TORBPartialTemporaryBLOBDescriptor::kSize];
  t.SaveTo(traw);
  EXPECT_EQ(TORBPartialTemporaryBLOBDescriptor::LoadFrom(traw).CompressedSize, 120);
  TORBPartialBLOBDescriptor p{4, 1234567890123};
  uint8_t praw[TORBPartialBLOBDescriptor::kSize];
  p.SaveTo(praw);
  EXPECT_EQ(TORBPartialBLOBDescriptor::LoadFrom(praw).UncompressedSize, 1234567890123);
}

// Random appends, truncations, growths and reads against a plain model,
// reopening from the descriptor now and then.
TEST(CompressedBLOBStreamTest, RandomOperationsMatchAPlainBuffer) {
  for (TORBCompressionAlgorithm alg : {acaNone, acaZLIB, acaBZIP, acaPPM}) {
    std::mt19937 rng(99 + alg);
    TORBMemoryStream store;
    auto stream = std::make_unique<TORBCompressedBLOBStream>(store, NewDescriptor(alg, 777, 2), true, false);
    std::vector<uint8_t> model;
    for (int step = 0; step < 250; ++step) {
      SCOPED_TRACE(testing::Message() << "alg " << int(alg) << " step " << step);
      switch (rng() % 6) {
        case 0:
        case 1: {
          const std::vector<uint8_t> piece = TextBytes(rng() % 3000, rng());
          const int64_t at = static_cast<int64_t>(model.size()) + (rng() % 4 == 0 ? rng() % 1500 : 0);
          stream->Seek(at, soBeginning);
          if (alg == acaNone && at > static_cast<int64_t>(model.size())) break;
          ASSERT_EQ(stream->Write(piece.data(), static_cast<int64_t>(piece.size())), static_cast<int64_t>(piece.size()));
          if (!piece.empty()) {
            model.resize(static_cast<size_t>(at), 0);
            model.insert(model.end(), piece.begin(), piece.end());
          }
          break;
        }
        case 2: {
          const auto size = static_cast<int64_t>(rng() % (model.size() + 2000));
          if (alg == acaNone && size > static_cast<int64_t>(model.size())) break;
          stream->SetSize(size);
          model.resize(static_cast<size_t>(size), 0);
          break;
        }
        case 3: {
          if (model.empty()) break;
          const auto at = static_cast<int64_t>(rng() % model.size());
          const auto n = static_cast<int64_t>(rng() % 2500);
          std::vector<uint8_t> buf(static_cast<size_t>(n));
          stream->Seek(at, soBeginning);
          const int64_t expect = std::min<int64_t>(n, static_cast<int64_t>(model.size()) - at);
          ASSERT_EQ(stream->Read(buf.data(), n), expect);
          ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + expect, model.begin() + at));
          break;
        }
        case 4: {
          const TORBBLOBDescriptor d = stream->BLOBDescriptor();
          stream = std::make_unique<TORBCompressedBLOBStream>(store, d, false, false);
          break;
        }
        default:
          ASSERT_EQ(stream->GetSize(), static_cast<int64_t>(model.size()));
          ASSERT_TRUE(ReadContent(*stream) == model);
      }
    }
    ASSERT_TRUE(ReadContent(*stream) == model);
  }
}

// A stream created empty hands its stored form over only when those bytes
// are what compressing its content in one go gives.
TEST(CompressedBLOBStreamTest, OwnedStreamHandsOverOnlyACanonicalStoredForm) {
  const std::vector<uint8_t> text = TextBytes(3500, 5);
  auto in_pieces = [&](TStream& s, int64_t piece) {
    for (int64_t at = 0; at < 3500; at += piece) s.Write(text.data() + at, std::min<int64_t>(piece, 3500 - at));
  };
  struct Case {
    const char* name;
    TORBCompressionAlgorithm alg;
    std::function<void(TStream&)> edit;
    bool canonical;
  };
  const Case cases[] = {
      {"plain in one write", acaNone, [&](TStream& s) { in_pieces(s, 3500); }, true},
      {"plain in pieces", acaNone, [&](TStream& s) { in_pieces(s, 7); }, true},
      {"plain past the end", acaNone, [&](TStream& s) { s.Seek(100, soBeginning), in_pieces(s, 3500); }, true},
      {"plain shrunk", acaNone, [&](TStream& s) { in_pieces(s, 3500), s.SetSize(1000); }, true},
      {"zlib in one write", acaZLIB, [&](TStream& s) { in_pieces(s, 3500); }, true},
      {"zlib in pieces", acaZLIB, [&](TStream& s) { in_pieces(s, 333); }, true},
      {"zlib grown by a gap", acaZLIB, [&](TStream& s) { s.Write("ab", 2), s.Seek(2600, soBeginning), s.Write("c", 1); },
       true},
      {"zlib cut inside a block", acaZLIB, [&](TStream& s) { in_pieces(s, 3500), s.SetSize(2500); }, true},
      {"zlib cut at a block end", acaZLIB, [&](TStream& s) { in_pieces(s, 3500), s.SetSize(2000); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TORBBLOBDescriptor layout = NewDescriptor(c.alg, 1000, 6);
    TORBOwnedBLOBStream owned({}, layout, true);
    c.edit(owned);
    ASSERT_EQ(owned.HasStoredFormOf(layout), c.canonical);
    if (!c.canonical) continue;
    const std::vector<uint8_t> content = ReadContent(owned);
    TORBMemoryStream fresh;
    TORBCompressedBLOBStream once(fresh, layout, true, false);
    once.Write(content.data(), static_cast<int64_t>(content.size()));
    EXPECT_EQ(owned.BLOBDescriptor().NumBlocks, once.BLOBDescriptor().NumBlocks);
    ASSERT_EQ(owned.StoredSize(), fresh.GetSize());
    EXPECT_EQ(std::memcmp(owned.StoredData(), fresh.Memory(), static_cast<size_t>(fresh.GetSize())), 0);
    // Another layout, or a stream over a value stored before, never hands over.
    EXPECT_FALSE(owned.HasStoredFormOf(NewDescriptor(c.alg == acaNone ? acaZLIB : acaNone, 1000, 6)));
    if (c.alg != acaNone) {
      EXPECT_FALSE(owned.HasStoredFormOf(NewDescriptor(c.alg, 2000, 6)));
      EXPECT_FALSE(owned.HasStoredFormOf(NewDescriptor(c.alg, 1000, 1)));
    }
    TORBOwnedBLOBStream reopened(Bytes(fresh), once.BLOBDescriptor(), false);
    EXPECT_TRUE(ReadContent(reopened) == content);
    EXPECT_FALSE(reopened.HasStoredFormOf(layout));
  }
}

}  // namespace
}  // namespace orb
