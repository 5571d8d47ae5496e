#pragma once

// Checked little-endian reads and writes of the items of the metadata
// streams. Every item carries the error code of its own raise site; a short
// read or write raises it (see LoadDataFromStream / SaveDataToStream).
//
// Item encodings:
// | item  | size | stored as                                             |
// | U8    |    1 | the byte                                              |
// | Bool  |    1 | 1 for true, 0 for false; any non-zero byte loads true |
// | I32   |    4 | two's complement, little-endian                       |
// | I64   |    8 | two's complement, little-endian                       |
// | Bytes |    n | the bytes as given, no length and no terminator       |

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/stream.h"

namespace orb::metaio {

// Raised with the load code of an item whose value is impossible (a negative
// count, an unknown enumeration value, an inconsistent length).
inline constexpr const char* kMsgInvalidStreamValue =
    "Invalid value %d read from stream. Position = %d, Stream size = %d";

void SaveU8(TStream& stream, uint8_t value, int32_t code);
void SaveBool(TStream& stream, bool value, int32_t code);
void SaveI32(TStream& stream, int32_t value, int32_t code);
void SaveI64(TStream& stream, int64_t value, int32_t code);
void SaveBytes(TStream& stream, std::string_view bytes, int32_t code);

uint8_t LoadU8(TStream& stream, int32_t code);
bool LoadBool(TStream& stream, int32_t code);
int32_t LoadI32(TStream& stream, int32_t code);
int64_t LoadI64(TStream& stream, int32_t code);
// Reads `size` bytes (the callers' sizes are bounded: at most 256).
std::string LoadBytes(TStream& stream, int64_t size, int32_t code);

// Raises `code` with kMsgInvalidStreamValue for `value`, the position being
// that of the item just read (`item_size` bytes before the current one).
[[noreturn]] void RaiseInvalidValue(TStream& stream, int64_t value, int64_t item_size, int32_t code);

// Reads a 32-bit count of stored items; a negative count raises `code`.
// Callers read the items one by one and never size anything by the count,
// so a count larger than the stream holds ends at the first missing item
// with that item's code.
int32_t LoadCount(TStream& stream, int32_t code);

}  // namespace orb::metaio
