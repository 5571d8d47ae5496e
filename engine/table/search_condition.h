#pragma once

#include <cstdint>

namespace orb {

// How a search key bounds the entries it selects (range starts and ends of
// index scans, FindByCondition).
enum TORBSearchCondition : uint8_t {
  scNone = 0,          // every entry
  scEqual = 1,         // entries equal to the key
  scLower = 2,         // entries below the key
  scGreater = 3,       // entries above the key
  scLowerEqual = 4,    // entries at most the key
  scGreaterEqual = 5,  // entries at least the key
};

}  // namespace orb
