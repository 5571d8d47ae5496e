#include "engine/data/bits_array.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/base/stream.h"
#include "engine/platform/byte_order.h"

namespace orb {

namespace {

constexpr std::string_view kMsgInvalidBitNo = "Invalid bit no = %d, number of bits = %d";

int64_t WordNo(int64_t bit_in_chunk) { return bit_in_chunk / 64; }
uint64_t WordMask(int64_t bit_in_chunk) { return uint64_t{1} << (bit_in_chunk % 64); }

}  // namespace

TORBBitsArray::TChunk& TORBBitsArray::ChunkFor(int64_t chunk_no) { return FChunks[chunk_no]; }

void TORBBitsArray::SetSize(int64_t value) {
  if (value < 0) RaiseORB(kErrBitsArraySize, "Invalid number of bits = %d", {static_cast<long long>(value)});
  const bool shrinking = value < FBitCount;
  FBitCount = value;
  if (shrinking) TrimTail();
}

void TORBBitsArray::TrimTail() {
  const int64_t last_chunk = FBitCount / kChunkBits;
  for (auto it = FChunks.lower_bound(FBitCount % kChunkBits == 0 ? last_chunk : last_chunk + 1);
       it != FChunks.end();) {
    FNonZeroBitCount -= it->second.SetCount;
    it = FChunks.erase(it);
  }
  auto it = FChunks.find(last_chunk);
  if (it == FChunks.end()) return;
  TChunk& chunk = it->second;
  const int64_t keep = FBitCount % kChunkBits;
  for (int64_t w = WordNo(keep); w < kChunkWords; ++w) {
    uint64_t mask = ~uint64_t{0};
    if (w == WordNo(keep)) mask = (keep % 64 == 0) ? ~uint64_t{0} : ~((uint64_t{1} << (keep % 64)) - 1);
    const uint64_t dropped = chunk.Words[w] & mask;
    const int removed = std::popcount(dropped);
    chunk.Words[w] &= ~mask;
    chunk.SetCount -= removed;
    FNonZeroBitCount -= removed;
  }
  if (chunk.SetCount == 0) FChunks.erase(it);
}

bool TORBBitsArray::GetBit(int64_t bit_no) const {
  if (bit_no < 0 || bit_no >= FBitCount)
    RaiseORB(kErrBitsGet, kMsgInvalidBitNo, {static_cast<long long>(bit_no), static_cast<long long>(FBitCount)});
  auto it = FChunks.find(bit_no / kChunkBits);
  if (it == FChunks.end()) return false;
  const int64_t b = bit_no % kChunkBits;
  return (it->second.Words[WordNo(b)] & WordMask(b)) != 0;
}

void TORBBitsArray::SetBit(int64_t bit_no, bool value) {
  if (bit_no < 0 || bit_no >= FBitCount)
    RaiseORB(kErrBitsSet, kMsgInvalidBitNo, {static_cast<long long>(bit_no), static_cast<long long>(FBitCount)});
  const int64_t chunk_no = bit_no / kChunkBits;
  const int64_t b = bit_no % kChunkBits;
  if (!value) {
    auto it = FChunks.find(chunk_no);
    if (it == FChunks.end()) return;
    uint64_t& word = it->second.Words[WordNo(b)];
    if ((word & WordMask(b)) == 0) return;
    word &= ~WordMask(b);
    --FNonZeroBitCount;
    if (--it->second.SetCount == 0) FChunks.erase(it);
    return;
  }
  TChunk& chunk = ChunkFor(chunk_no);
  uint64_t& word = chunk.Words[WordNo(b)];
  if ((word & WordMask(b)) != 0) return;
  word |= WordMask(b);
  ++chunk.SetCount;
  ++FNonZeroBitCount;
}

void TORBBitsArray::SetAllBits(bool value) {
  FChunks.clear();
  FNonZeroBitCount = 0;
  if (!value) return;
  for (int64_t chunk_no = 0; chunk_no * kChunkBits < FBitCount; ++chunk_no) {
    TChunk& chunk = ChunkFor(chunk_no);
    std::fill_n(chunk.Words.get(), kChunkWords, ~uint64_t{0});
    chunk.SetCount = kChunkBits;
    FNonZeroBitCount += kChunkBits;
  }
  TrimTail();
}

int64_t TORBBitsArray::GetBitNoByBitPosition(int64_t bit_position) const {
  if (bit_position < 0 || bit_position >= FNonZeroBitCount)
    RaiseORB(kErrBitsByPosition, kMsgInvalidBitNo,
             {static_cast<long long>(bit_position), static_cast<long long>(FBitCount)});
  // Every bit set: the position is the bit number.
  if (FNonZeroBitCount == FBitCount) return bit_position;
  int64_t remaining = bit_position;
  for (const auto& [chunk_no, chunk] : FChunks) {
    if (remaining >= chunk.SetCount) {
      remaining -= chunk.SetCount;
      continue;
    }
    for (int64_t w = 0; w < kChunkWords; ++w) {
      uint64_t word = chunk.Words[w];
      const int count = std::popcount(word);
      if (remaining >= count) {
        remaining -= count;
        continue;
      }
      for (; remaining > 0; --remaining) word &= word - 1;  // drop the lowest set bits
      return chunk_no * kChunkBits + w * kWordBits + std::countr_zero(word);
    }
  }
  return -1;  // not reached: the counts agree with the bits
}

int64_t TORBBitsArray::GetBitPositionByBitNo(int64_t bit_no) const {
  if (bit_no < 0 || bit_no >= FBitCount)
    RaiseORB(kErrBitsPositionByNo, kMsgInvalidBitNo,
             {static_cast<long long>(bit_no), static_cast<long long>(FBitCount)});
  if (FNonZeroBitCount == FBitCount) return bit_no;
  const int64_t target_chunk = bit_no / kChunkBits;
  int64_t count = 0;
  for (const auto& [chunk_no, chunk] : FChunks) {
    if (chunk_no < target_chunk) {
      count += chunk.SetCount;
      continue;
    }
    if (chunk_no > target_chunk) break;
    const int64_t b = bit_no % kChunkBits;
    for (int64_t w = 0; w < WordNo(b); ++w) count += std::popcount(chunk.Words[w]);
    count += std::popcount(chunk.Words[WordNo(b)] & (WordMask(b) - 1));
    break;
  }
  return count;
}

bool TORBBitsArray::FindBit(bool value, int64_t& bit_no) const {
  if (value) return FindForward(0, bit_no);
  // The first clear bit: the first bit of a missing chunk or a clear bit
  // inside a partly set one.
  int64_t expected_chunk = 0;
  for (const auto& [chunk_no, chunk] : FChunks) {
    if (chunk_no != expected_chunk) break;
    if (chunk.SetCount != kChunkBits) {
      for (int64_t w = 0; w < kChunkWords; ++w) {
        if (chunk.Words[w] != ~uint64_t{0}) {
          const int64_t found = chunk_no * kChunkBits + w * kWordBits + std::countr_one(chunk.Words[w]);
          if (found >= FBitCount) return false;
          bit_no = found;
          return true;
        }
      }
    }
    ++expected_chunk;
  }
  const int64_t found = expected_chunk * kChunkBits;
  if (found >= FBitCount) return false;
  bit_no = found;
  return true;
}

bool TORBBitsArray::FindForward(int64_t from, int64_t& found) const {
  if (from < 0) from = 0;
  if (from >= FBitCount) return false;
  for (auto it = FChunks.lower_bound(from / kChunkBits); it != FChunks.end(); ++it) {
    const int64_t base = it->first * kChunkBits;
    const int64_t start = from > base ? from - base : 0;
    for (int64_t w = WordNo(start); w < kChunkWords; ++w) {
      uint64_t word = it->second.Words[w];
      if (w == WordNo(start)) word &= ~(WordMask(start) - 1);
      if (word == 0) continue;
      const int64_t bit = base + w * kWordBits + std::countr_zero(word);
      if (bit >= FBitCount) return false;
      found = bit;
      return true;
    }
  }
  return false;
}

bool TORBBitsArray::FindBackward(int64_t from, int64_t& found) const {
  if (from >= FBitCount) from = FBitCount - 1;
  if (from < 0) return false;
  auto it = FChunks.upper_bound(from / kChunkBits);
  while (it != FChunks.begin()) {
    --it;
    const int64_t base = it->first * kChunkBits;
    const int64_t start = std::min<int64_t>(from - base, kChunkBits - 1);
    for (int64_t w = WordNo(start); w >= 0; --w) {
      uint64_t word = it->second.Words[w];
      if (w == WordNo(start) && start % 64 != 63) word &= (WordMask(start) << 1) - 1;
      if (word == 0) continue;
      found = base + w * kWordBits + 63 - std::countl_zero(word);
      return true;
    }
  }
  return false;
}

bool TORBBitsArray::Find(bool restart, bool go_forward, int64_t cur_bit_no, int64_t& found_bit_no) const {
  if (go_forward) return FindForward(restart ? 0 : cur_bit_no + 1, found_bit_no);
  return FindBackward(restart ? FBitCount - 1 : cur_bit_no - 1, found_bit_no);
}

void TORBBitsArray::SaveToStream(TStream& stream) const {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  if (FBitCount > kMax || FNonZeroBitCount > kMax)
    RaiseORB(kErrBitsArrayTooLarge, "Bits array is too large to be stored. Number of bits = %d, set bits = %d",
             {static_cast<long long>(FBitCount), static_cast<long long>(FNonZeroBitCount)});
  uint8_t head[4];
  StoreI32LE(head, static_cast<int32_t>(FBitCount));
  SaveDataToStream(head, 4, stream, kErrBitsSaveCount);
  StoreI32LE(head, static_cast<int32_t>(FNonZeroBitCount));
  SaveDataToStream(head, 4, stream, kErrBitsSaveSetCount);
  // Chunk by chunk, so the stored bytes never need one big buffer.
  const int64_t total_bytes = (FBitCount + 7) / 8;
  std::vector<uint8_t> bytes(static_cast<size_t>(kChunkBits / 8));
  for (int64_t offset = 0; offset < total_bytes; offset += kChunkBits / 8) {
    const int64_t n = std::min<int64_t>(kChunkBits / 8, total_bytes - offset);
    std::fill(bytes.begin(), bytes.end(), uint8_t{0});
    auto it = FChunks.find(offset / (kChunkBits / 8));
    if (it != FChunks.end()) {
      for (int64_t w = 0; w < kChunkWords; ++w) StoreU64LE(bytes.data() + w * 8, it->second.Words[w]);
    }
    SaveDataToStream(bytes.data(), n, stream, kErrBitsSaveBytes);
  }
}

void TORBBitsArray::LoadFromStream(TStream& stream) {
  uint8_t head[4];
  LoadDataFromStream(head, 4, stream, kErrBitsLoadCount);
  const int32_t bit_count = LoadI32LE(head);
  LoadDataFromStream(head, 4, stream, kErrBitsLoadSetCount);
  const int32_t set_count = LoadI32LE(head);
  if (bit_count < 0) RaiseORB(kErrBitsArrayStoredCount, "Invalid stored number of bits = %d", {bit_count});
  // Read into a fresh array, chunk by chunk: a short stream fails before a
  // large count makes anything big, and a failure leaves this one as it was.
  TORBBitsArray loaded;
  loaded.FBitCount = bit_count;
  const int64_t total_bytes = (int64_t{bit_count} + 7) / 8;
  std::vector<uint8_t> bytes(static_cast<size_t>(kChunkBits / 8));
  for (int64_t offset = 0; offset < total_bytes; offset += kChunkBits / 8) {
    const int64_t n = std::min<int64_t>(kChunkBits / 8, total_bytes - offset);
    std::fill(bytes.begin(), bytes.end(), uint8_t{0});
    LoadDataFromStream(bytes.data(), n, stream, kErrBitsLoadBytes);
    TChunk chunk;
    for (int64_t w = 0; w < kChunkWords; ++w) {
      chunk.Words[w] = LoadU64LE(bytes.data() + w * 8);
      chunk.SetCount += std::popcount(chunk.Words[w]);
    }
    if (chunk.SetCount == 0) continue;
    loaded.FNonZeroBitCount += chunk.SetCount;
    loaded.FChunks.emplace(offset / (kChunkBits / 8), std::move(chunk));
  }
  loaded.TrimTail();
  if (loaded.FNonZeroBitCount != set_count)
    RaiseORB(kErrBitsArrayStoredSetCount, "Invalid stored number of set bits = %d, the bits hold %d",
             {set_count, static_cast<long long>(loaded.FNonZeroBitCount)});
  FChunks = std::move(loaded.FChunks);
  FBitCount = loaded.FBitCount;
  FNonZeroBitCount = loaded.FNonZeroBitCount;
}

}  // namespace orb
