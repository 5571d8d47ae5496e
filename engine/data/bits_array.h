#pragma once

// A growable array of bits with a kept count of set bits. Bit numbers and
// counts are 64-bit. The bits live in chunks of kChunkBits that are
// allocated only once one of their bits is set, so a bitmap whose set bits
// lie far apart (a high record number) costs memory only for the chunks in
// use.

#include <cstdint>
#include <map>
#include <memory>

namespace orb {

class TStream;

// Error codes of the bits array.
inline constexpr int32_t kErrBitsGet = 10394;
inline constexpr int32_t kErrBitsSet = 10395;
inline constexpr int32_t kErrBitsSaveCount = 10398;
inline constexpr int32_t kErrBitsSaveBytes = 10400;
inline constexpr int32_t kErrBitsLoadCount = 10401;
inline constexpr int32_t kErrBitsLoadBytes = 10402;
inline constexpr int32_t kErrBitsLoadSetCount = 10426;
inline constexpr int32_t kErrBitsSaveSetCount = 10427;
inline constexpr int32_t kErrBitsByPosition = 10428;
inline constexpr int32_t kErrBitsPositionByNo = 10429;

// Stored form (little-endian):
// | offset | size | type  | meaning (codes: save / load)                    |
// |      0 |    4 | int32 | bit count N (10398 / 10401)                     |
// |      4 |    4 | int32 | set-bit count (10427 / 10426)                   |
// |      8 |    B | bytes | B = ceil(N / 8): bit i at bit (i mod 8) of byte |
// |        |      |       | i div 8, least significant first (10400 /       |
// |        |      |       | 10402)                                          |
// Saving a bits array whose counts exceed 32 bits raises 30670. Loading
// refuses a negative bit count (30671) and a set-bit count that differs from
// the bits read (30672); bits past N in the last byte are ignored.
class TORBBitsArray {
 public:
  static constexpr int64_t kChunkBits = int64_t{1} << 15;

  TORBBitsArray() = default;
  TORBBitsArray(const TORBBitsArray&) = delete;
  TORBBitsArray& operator=(const TORBBitsArray&) = delete;

  int64_t GetSize() const { return FBitCount; }
  // Grows (new bits cleared) or shrinks (bits past the end dropped). A
  // negative size raises 30673.
  void SetSize(int64_t value);
  int64_t GetNonZeroBitCount() const { return FNonZeroBitCount; }

  // REQUIRES: 0 <= bit_no < GetSize(), else 10394 / 10395.
  bool GetBit(int64_t bit_no) const;
  void SetBit(int64_t bit_no, bool value);
  // Every bit to `value`.
  void SetAllBits(bool value = true);

  // Bit number of the set bit at 0-based `bit_position` among the set bits
  // (10428 outside 0 .. set-bit count - 1).
  int64_t GetBitNoByBitPosition(int64_t bit_position) const;
  // Number of set bits before `bit_no` (10429 outside 0 .. size - 1).
  int64_t GetBitPositionByBitNo(int64_t bit_no) const;
  // First bit with `value`; false when there is none.
  bool FindBit(bool value, int64_t& bit_no) const;
  // The nearest set bit after (go_forward) or before `cur_bit_no`, or the
  // first (last) set bit on restart; false when there is none.
  bool Find(bool restart, bool go_forward, int64_t cur_bit_no, int64_t& found_bit_no) const;

  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;

 private:
  static constexpr int64_t kWordBits = 64;
  static constexpr int64_t kChunkWords = kChunkBits / kWordBits;
  struct TChunk {
    TChunk() : Words(new uint64_t[kChunkWords]()) {}
    std::unique_ptr<uint64_t[]> Words;
    int64_t SetCount = 0;
  };

  TChunk& ChunkFor(int64_t chunk_no);
  // Clears bits at and past FBitCount inside its chunk and drops the
  // chunks past it.
  void TrimTail();
  bool FindForward(int64_t from, int64_t& found) const;
  bool FindBackward(int64_t from, int64_t& found) const;

  std::map<int64_t, TChunk> FChunks;
  int64_t FBitCount = 0;
  int64_t FNonZeroBitCount = 0;
};

}  // namespace orb
