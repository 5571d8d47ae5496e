#include "engine/base/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace orb {

// zlib's crc32 inverts the register before and after the update, so
// ~crc32(~c, data) is the plain table update starting from c.
uint32_t CRC32(uint32_t crc, const void* buffer, size_t size) {
  const auto* p = static_cast<const Bytef*>(buffer);
  uLong value = static_cast<uLong>(~crc & 0xFFFFFFFFu);
  while (size > 0) {
    const uInt piece = static_cast<uInt>(std::min<size_t>(size, UINT_MAX));
    value = crc32(value, p, piece);
    p += piece;
    size -= piece;
  }
  return static_cast<uint32_t>(~value & 0xFFFFFFFFu);
}

}  // namespace orb
