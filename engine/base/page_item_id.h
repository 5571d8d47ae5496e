#pragma once

// Identity of a record or a stored BLOB inside its table: a page number and
// an item number on that page. Its stored form is 6 bytes: PageNo (32-bit
// signed), then PageItemNo (16-bit unsigned), little-endian.

#include <cstdint>

#include "engine/platform/byte_order.h"

namespace orb {

struct TORBPageItemID {
  int32_t PageNo = 0;
  uint16_t PageItemNo = 0;
  friend bool operator==(const TORBPageItemID&, const TORBPageItemID&) = default;
};

inline constexpr int32_t kPageItemIDSize = 6;

inline void StorePageItemID(uint8_t* p, const TORBPageItemID& id) {
  StoreI32LE(p, id.PageNo);
  StoreU16LE(p + 4, id.PageItemNo);
}

inline TORBPageItemID LoadPageItemID(const uint8_t* p) { return {LoadI32LE(p), LoadU16LE(p + 4)}; }

}  // namespace orb
