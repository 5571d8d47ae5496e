#include "engine/memory/memory_budget.h"

#include <algorithm>

#include "engine/table/memory_manager.h"

namespace orb {

int64_t TemporaryMemoryBudget() { return std::max<int64_t>(MemoryManager().GetFreeMemorySize(), 0) / 10; }

int64_t ItemsInBudget(int64_t budget_bytes, int64_t item_size, int64_t max_items) {
  if (budget_bytes <= 0 || item_size <= 0) return 0;
  return std::min(budget_bytes / item_size, max_items);
}

}  // namespace orb
