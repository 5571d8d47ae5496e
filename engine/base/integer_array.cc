#include "engine/base/integer_array.h"

#include <algorithm>
#include <limits>

#include "engine/base/orb_exception.h"

namespace orb {

TORBIntegerArray::TORBIntegerArray(int32_t initial_size, int32_t alloc_by, int32_t max_alloc_by)
    : FAllocBy(std::max(alloc_by, 1)), FDeAllocBy(std::max(alloc_by, 1)), FMaxAllocBy(std::max(max_alloc_by, 1)) {
  SetSize(initial_size);
}

void TORBIntegerArray::CheckIndex(int32_t index, int32_t limit) const {
  if (index < 0 || index >= limit)
    RaiseORB(kErrIntegerArrayIndex, "Index %d out of bounds, ItemCount = %d", {index, FItemCount});
}

int32_t TORBIntegerArray::At(int32_t index) const {
  CheckIndex(index, FItemCount);
  return FItems[static_cast<size_t>(index)];
}

void TORBIntegerArray::SetSize(int32_t new_size) {
  if (new_size < 0) RaiseORB(kErrIntegerArrayIndex, "Index %d out of bounds, ItemCount = %d", {new_size, FItemCount});
  const auto capacity = static_cast<int64_t>(FItems.size());
  if (new_size == 0) {
    std::vector<int32_t>().swap(FItems);
  } else if (new_size > capacity) {
    FAllocBy = static_cast<int32_t>(std::min<int64_t>(int64_t{FAllocBy} * 2, FMaxAllocBy));
    const int64_t grown = std::min<int64_t>(capacity + FAllocBy, std::numeric_limits<int32_t>::max());
    FItems.resize(static_cast<size_t>(std::max<int64_t>(grown, new_size)), 0);
  } else if (new_size < FItemCount && capacity - new_size > FDeAllocBy) {
    FDeAllocBy = static_cast<int32_t>(std::min<int64_t>(int64_t{FDeAllocBy} * 2, FMaxAllocBy));
    FItems.resize(static_cast<size_t>(new_size));
    FItems.shrink_to_fit();
  }
  // Items beyond the old count read as zero.
  if (new_size > FItemCount)
    std::fill(FItems.begin() + FItemCount, FItems.begin() + new_size, 0);
  FItemCount = new_size;
}

void TORBIntegerArray::Append(int32_t value) {
  if (FItemCount == std::numeric_limits<int32_t>::max())
    RaiseORB(kErrIntegerArrayIndex, "Index %d out of bounds, ItemCount = %d", {FItemCount, FItemCount});
  SetSize(FItemCount + 1);
  FItems[static_cast<size_t>(FItemCount - 1)] = value;
}

void TORBIntegerArray::Insert(int32_t index, int32_t value) {
  CheckIndex(index, FItemCount + 1);
  Append(0);
  std::copy_backward(FItems.begin() + index, FItems.begin() + FItemCount - 1, FItems.begin() + FItemCount);
  FItems[static_cast<size_t>(index)] = value;
}

void TORBIntegerArray::Delete(int32_t index) {
  CheckIndex(index, FItemCount);
  std::copy(FItems.begin() + index + 1, FItems.begin() + FItemCount, FItems.begin() + index);
  SetSize(FItemCount - 1);
}

void TORBIntegerArray::MoveTo(int32_t cur_index, int32_t new_index) {
  CheckIndex(cur_index, FItemCount);
  CheckIndex(new_index, FItemCount);
  auto first = FItems.begin();
  if (cur_index < new_index)
    std::rotate(first + cur_index, first + cur_index + 1, first + new_index + 1);
  else if (cur_index > new_index)
    std::rotate(first + new_index, first + cur_index, first + cur_index + 1);
}

void TORBIntegerArray::CopyTo(std::span<int32_t> dest, int32_t start_index) const {
  if (dest.empty()) return;
  if (start_index < 0 || static_cast<int64_t>(start_index) + static_cast<int64_t>(dest.size()) > FItemCount)
    RaiseORB(kErrIntegerArrayIndex, "Index %d out of bounds, ItemCount = %d",
             {static_cast<int64_t>(start_index) + static_cast<int64_t>(dest.size()) - 1, FItemCount});
  std::copy(FItems.begin() + start_index, FItems.begin() + start_index + static_cast<int64_t>(dest.size()),
            dest.begin());
}

int32_t TORBIntegerArray::IndexOf(int32_t value) const {
  for (int32_t i = 0; i < FItemCount; ++i)
    if (FItems[static_cast<size_t>(i)] == value) return i;
  return -1;
}

void TORBIntegerArray::Assign(const TORBIntegerArray& source) {
  if (&source == this) return;
  SetSize(source.FItemCount);
  std::copy(source.FItems.begin(), source.FItems.begin() + source.FItemCount, FItems.begin());
}

}  // namespace orb
