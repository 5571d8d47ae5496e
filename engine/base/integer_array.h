#pragma once

// Growable array of 32-bit integers. The allocation grows by a step that
// doubles at each growth up to a maximum, and shrinks once the spare room
// exceeds a step that doubles likewise.

#include <cstdint>
#include <span>
#include <vector>

#include "engine/base/error_codes.h"

namespace orb {

// An index outside the array.

class TORBIntegerArray {
 public:
  // `initial_size` zeroed items; `alloc_by` is the first growth step and
  // `max_alloc_by` the largest one.
  explicit TORBIntegerArray(int32_t initial_size = 0, int32_t alloc_by = 10, int32_t max_alloc_by = 10000);

  int32_t* Items() { return FItems.data(); }
  const int32_t* Items() const { return FItems.data(); }
  int32_t ItemCount() const { return FItemCount; }
  int32_t AllocBy() const { return FAllocBy; }
  int32_t DeAllocBy() const { return FDeAllocBy; }
  int32_t MaxAllocBy() const { return FMaxAllocBy; }
  int32_t AllocItemCount() const { return static_cast<int32_t>(FItems.size()); }

  // Unchecked access; At checks the index (10438).
  int32_t& operator[](int32_t index) { return FItems[static_cast<size_t>(index)]; }
  int32_t operator[](int32_t index) const { return FItems[static_cast<size_t>(index)]; }
  int32_t At(int32_t index) const;

  // New items are zero. Size 0 releases the allocation.
  void SetSize(int32_t new_size);
  void Append(int32_t value);
  // `index` from 0 to ItemCount.
  void Insert(int32_t index, int32_t value);
  void Delete(int32_t index);
  // Takes the item at `cur_index` out and puts it back at `new_index`.
  void MoveTo(int32_t cur_index, int32_t new_index);
  // Copies dest.size() items from `start_index` on.
  void CopyTo(std::span<int32_t> dest, int32_t start_index) const;
  bool IsValueExists(int32_t value) const { return IndexOf(value) >= 0; }
  // First index holding `value`, -1 when none.
  int32_t IndexOf(int32_t value) const;
  // Same items as `source`.
  void Assign(const TORBIntegerArray& source);

 private:
  void CheckIndex(int32_t index, int32_t limit) const;

  std::vector<int32_t> FItems;  // the allocation; the first FItemCount are items
  int32_t FItemCount = 0;
  int32_t FAllocBy;
  int32_t FDeAllocBy;
  int32_t FMaxAllocBy;
};

}  // namespace orb
