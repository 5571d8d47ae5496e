#pragma once

// How much of the machine's free memory a temporary table may keep in
// memory before it moves records or index pages to a temporary file.

#include <cstdint>

namespace orb {

// One tenth of the free memory the memory manager reports now (never
// negative).
int64_t TemporaryMemoryBudget();

// Whole items of `item_size` bytes that fit `budget_bytes`, clamped to
// [0, max_items]. REQUIRES: item_size > 0.
int64_t ItemsInBudget(int64_t budget_bytes, int64_t item_size, int64_t max_items);

}  // namespace orb
