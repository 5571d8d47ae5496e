#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/stream.h"

namespace orb {

// A stream over one heap buffer. Positions and sizes are 32-bit: a write
// that would pass INT32_MAX writes what fits. Reading stops at the end;
// writing past the allocation grows it to twice the size needed; a gap left
// by seeking past the end and writing reads back as zeros.
class TORBMemoryStream : public TORBStream {
 public:
  // Preallocates `default_allocated_size` bytes (none for 0).
  explicit TORBMemoryStream(int32_t default_allocated_size = 0);
  // Adopts `buffer`; size and allocation are its size.
  explicit TORBMemoryStream(std::vector<uint8_t> buffer);
  ~TORBMemoryStream() override = default;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // SetSize(0) frees the buffer; shrinking moves a position past the end
  // back to the end. Sizes outside [0, INT32_MAX] are ignored.
  void SetSize(int64_t new_size) override;
  int64_t GetSize() override { return FBufferSize; }

  const uint8_t* Memory() const { return FBuffer.get(); }
  uint8_t* Memory() { return FBuffer.get(); }
  int32_t AllocatedSize() const { return FAllocatedBufferSize; }

 private:
  void Reallocate(int32_t new_allocation);

  std::unique_ptr<uint8_t[]> FBuffer;
  int32_t FBufferSize = 0;
  int32_t FAllocatedBufferSize = 0;
  int32_t FPosition = 0;
};

}  // namespace orb
