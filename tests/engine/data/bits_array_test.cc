#include "engine/data/bits_array.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/stream_memory.h"
#include "engine/platform/byte_order.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

std::vector<uint8_t> Saved(const TORBBitsArray& bits) {
  TORBMemoryStream stream;
  bits.SaveToStream(stream);
  return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.GetSize());
}

void LoadFrom(TORBBitsArray& bits, std::vector<uint8_t> bytes) {
  TORBMemoryStream stream(std::move(bytes));
  bits.LoadFromStream(stream);
}

TEST(BitsArrayTest, StreamRoundTripKeepsEveryBitAndTheStoredLayout) {
  std::mt19937 random(7);
  for (int64_t size : {0, 1, 7, 8, 9, 64, 65, 32768, 32769, 70001}) {
    TORBBitsArray bits;
    bits.SetSize(size);
    std::set<int64_t> set;
    for (int64_t i = 0; i < size / 3 + 1 && size > 0; ++i) set.insert(static_cast<int64_t>(random() % size));
    for (int64_t b : set) bits.SetBit(b, true);
    const std::vector<uint8_t> bytes = Saved(bits);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(8 + (size + 7) / 8)) << size;
    EXPECT_EQ(LoadI32LE(bytes.data()), size);
    EXPECT_EQ(LoadI32LE(bytes.data() + 4), static_cast<int32_t>(set.size()));
    for (int64_t b : set) EXPECT_TRUE(bytes[8 + b / 8] & (1u << (b % 8))) << size << " bit " << b;

    TORBBitsArray loaded;
    LoadFrom(loaded, bytes);
    EXPECT_EQ(loaded.GetSize(), size);
    EXPECT_EQ(loaded.GetNonZeroBitCount(), static_cast<int64_t>(set.size()));
    for (int64_t b = 0; b < size; ++b) ASSERT_EQ(loaded.GetBit(b), set.count(b) == 1) << size << " bit " << b;
  }
}

TEST(BitsArrayTest, LoadRefusesShortAndInconsistentStreams) {
  TORBBitsArray source;
  source.SetSize(20);
  source.SetBit(3, true);
  source.SetBit(17, true);
  const std::vector<uint8_t> good = Saved(source);

  auto with_count = [&](int32_t count, int32_t set_count) {
    std::vector<uint8_t> b = good;
    StoreI32LE(b.data(), count);
    StoreI32LE(b.data() + 4, set_count);
    return b;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"no count", {1, 0}, 10401},
      {"no set-bit count", {20, 0, 0, 0, 2}, 10426},
      {"bits cut short", std::vector<uint8_t>(good.begin(), good.end() - 1), 10402},
      {"negative count", with_count(-8, 0), kErrBitsArrayStoredCount},
      {"set-bit count too high", with_count(20, 3), kErrBitsArrayStoredSetCount},
      {"set bit beyond a shorter count", with_count(10, 2), kErrBitsArrayStoredSetCount},
      {"huge count on a short stream", with_count(2000000000, 2), 10402},
  };
  for (const Case& c : cases) {
    TORBBitsArray target;
    target.SetSize(5);
    target.SetBit(1, true);
    EXPECT_EQ(test::RaisedCode([&] { LoadFrom(target, c.bytes); }), c.code) << c.what;
    // A failed load leaves the array as it was.
    EXPECT_EQ(target.GetSize(), 5) << c.what;
    EXPECT_TRUE(target.GetBit(1)) << c.what;
  }
}

TEST(BitsArrayTest, HighBitNumbersAreSparseAndCountedIn64Bits) {
  TORBBitsArray bits;
  const int64_t high = (int64_t{1} << 40) + 5;
  bits.SetSize(high + 1);  // a terabit: nothing may be allocated for it
  bits.SetBit(high, true);
  bits.SetBit(2, true);
  EXPECT_EQ(bits.GetNonZeroBitCount(), 2);
  EXPECT_TRUE(bits.GetBit(high));
  EXPECT_FALSE(bits.GetBit(high - 1));
  EXPECT_EQ(bits.GetBitNoByBitPosition(1), high);
  EXPECT_EQ(bits.GetBitPositionByBitNo(high), 1);
  int64_t found = -1;
  ASSERT_TRUE(bits.Find(true, false, 0, found));
  EXPECT_EQ(found, high);
  ASSERT_TRUE(bits.Find(false, false, high, found));
  EXPECT_EQ(found, 2);
  ASSERT_TRUE(bits.FindBit(false, found));
  EXPECT_EQ(found, 0);
  // Its stored form cannot count that many bits.
  EXPECT_EQ(test::RaisedCode([&] { Saved(bits); }), kErrBitsArrayTooLarge);
  // Shrinking drops the high bit and its count.
  bits.SetSize(100);
  EXPECT_EQ(bits.GetNonZeroBitCount(), 1);
  EXPECT_EQ(Saved(bits).size(), 8u + 13u);
}

TEST(BitsArrayTest, PositionsAndSearchesStayInsideTheArray) {
  TORBBitsArray bits;
  bits.SetSize(10);
  for (int64_t b : {1, 4, 9}) bits.SetBit(b, true);
  // Ranks among the set bits, both ways.
  EXPECT_EQ(bits.GetBitNoByBitPosition(0), 1);
  EXPECT_EQ(bits.GetBitNoByBitPosition(2), 9);
  EXPECT_EQ(bits.GetBitPositionByBitNo(4), 1);
  EXPECT_EQ(bits.GetBitPositionByBitNo(9), 2);
  // A position equal to the set-bit count is out of range, not one past.
  EXPECT_EQ(test::RaisedCode([&] { bits.GetBitNoByBitPosition(3); }), 10428);
  EXPECT_EQ(test::RaisedCode([&] { bits.GetBitNoByBitPosition(-1); }), 10428);
  EXPECT_EQ(test::RaisedCode([&] { bits.GetBitPositionByBitNo(10); }), 10429);
  EXPECT_EQ(test::RaisedCode([&] { bits.GetBit(10); }), 10394);
  EXPECT_EQ(test::RaisedCode([&] { bits.SetBit(-1, true); }), 10395);
  EXPECT_EQ(test::RaisedCode([&] { bits.SetSize(-1); }), kErrBitsArraySize);

  struct Step {
    bool restart, forward;
    int64_t from;
    bool found;
    int64_t expect;
  };
  for (const Step& s : std::vector<Step>{{true, true, 0, true, 1},
                                         {true, false, 0, true, 9},
                                         {false, true, 1, true, 4},
                                         {false, true, 9, false, 0},
                                         {false, false, 4, true, 1},
                                         {false, false, 1, false, 0},
                                         {false, true, -1, true, 1},
                                         {false, false, 10, true, 9}}) {
    int64_t found = -1;
    EXPECT_EQ(bits.Find(s.restart, s.forward, s.from, found), s.found) << s.from;
    if (s.found) {
      EXPECT_EQ(found, s.expect) << s.from;
    }
  }

  // Every bit set: positions are bit numbers.
  bits.SetAllBits();
  EXPECT_EQ(bits.GetNonZeroBitCount(), 10);
  EXPECT_EQ(bits.GetBitNoByBitPosition(7), 7);
  int64_t clear = -1;
  EXPECT_FALSE(bits.FindBit(false, clear));
}

}  // namespace
}  // namespace orb
