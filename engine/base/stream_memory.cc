#include "engine/base/stream_memory.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orb {

namespace {
constexpr int64_t kMaxMemorySize = std::numeric_limits<int32_t>::max();
}

TORBMemoryStream::TORBMemoryStream(int32_t default_allocated_size) {
  if (default_allocated_size > 0) Reallocate(default_allocated_size);
}

TORBMemoryStream::TORBMemoryStream(std::vector<uint8_t> buffer) : FBuffer(std::move(buffer)) {
  if (FBuffer.size() > static_cast<size_t>(kMaxMemorySize)) FBuffer.resize(static_cast<size_t>(kMaxMemorySize));
  FBufferSize = static_cast<int32_t>(FBuffer.size());
  FAllocatedBufferSize = FBufferSize;
}

void TORBMemoryStream::Reallocate(int32_t new_allocation) {
  if (new_allocation <= 0) {
    std::vector<uint8_t>().swap(FBuffer);
    FAllocatedBufferSize = 0;
    return;
  }
  // Only the content moves to the new allocation.
  std::vector<uint8_t> fresh;
  fresh.reserve(static_cast<size_t>(new_allocation));
  const int32_t keep = std::min(FBufferSize, new_allocation);
  fresh.insert(fresh.end(), FBuffer.begin(), FBuffer.begin() + keep);
  fresh.resize(static_cast<size_t>(new_allocation));
  FBuffer = std::move(fresh);
  FAllocatedBufferSize = new_allocation;
}

int64_t TORBMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition >= FBufferSize) return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, FBufferSize - FPosition));
  std::memcpy(buffer, FBuffer.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TORBMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, kMaxMemorySize - FPosition));
  if (n <= 0) return 0;
  const int32_t end = FPosition + n;
  if (end > FAllocatedBufferSize) Reallocate(static_cast<int32_t>(std::min<int64_t>(int64_t{end} * 2, kMaxMemorySize)));
  if (FPosition > FBufferSize) std::memset(FBuffer.data() + FBufferSize, 0, static_cast<size_t>(FPosition - FBufferSize));
  std::memcpy(FBuffer.data() + FPosition, buffer, static_cast<size_t>(n));
  FBufferSize = std::max(FBufferSize, end);
  FPosition = end;
  FModified = true;
  return n;
}

int64_t TORBMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target = offset;
  if (origin == soCurrent) target += FPosition;
  if (origin == soEnd) target += FBufferSize;
  if (target >= 0 && target <= kMaxMemorySize) FPosition = static_cast<int32_t>(target);
  return FPosition;
}

void TORBMemoryStream::SetSize(int64_t new_size) {
  if (new_size < 0 || new_size > kMaxMemorySize) return;
  const auto size = static_cast<int32_t>(new_size);
  if (size == 0) {
    Reallocate(0);
  } else if (size > FAllocatedBufferSize) {
    Reallocate(size);
  }
  if (size > FBufferSize) std::memset(FBuffer.data() + FBufferSize, 0, static_cast<size_t>(size - FBufferSize));
  FBufferSize = size;
  if (FPosition > FBufferSize) FPosition = FBufferSize;
  FModified = true;
}

}  // namespace orb
