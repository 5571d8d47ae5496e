#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/stream.h"

namespace orb {

// A stream over one heap buffer. Positions and sizes are 32-bit: a write
// that would pass INT32_MAX writes what fits. Reading stops at the end;
// writing past the allocation grows it to twice the size needed; a gap left
// by seeking past the end and writing reads back as zeros. A buffer handed
// in is adopted without copying.
class TORBMemoryStream : public TORBStream {
 public:
  // Preallocates `default_allocated_size` bytes (none for 0).
  explicit TORBMemoryStream(int32_t default_allocated_size = 0);
  // Adopts `buffer` (moved, not copied); size and allocation are its size
  // (at most INT32_MAX bytes are kept).
  explicit TORBMemoryStream(std::vector<uint8_t> buffer);
  ~TORBMemoryStream() override = default;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // SetSize(0) frees the buffer; shrinking moves a position past the end
  // back to the end. Sizes outside [0, INT32_MAX] are ignored.
  void SetSize(int64_t new_size) override;
  int64_t GetSize() override { return FBufferSize; }

  // Null while nothing is allocated.
  const uint8_t* Memory() const { return FBuffer.empty() ? nullptr : FBuffer.data(); }
  uint8_t* Memory() { return FBuffer.empty() ? nullptr : FBuffer.data(); }
  int32_t AllocatedSize() const { return FAllocatedBufferSize; }

 private:
  void Reallocate(int32_t new_allocation);

  // Its length is the allocation; bytes past FBufferSize are spare.
  std::vector<uint8_t> FBuffer;
  int32_t FBufferSize = 0;
  int32_t FAllocatedBufferSize = 0;
  int32_t FPosition = 0;
};

}  // namespace orb
