#include "engine/base/metadata_io.h"

#include <algorithm>

#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"

namespace orb::metaio {

void SaveU8(TStream& stream, uint8_t value, int32_t code) { SaveDataToStream(&value, 1, stream, code); }

void SaveBool(TStream& stream, bool value, int32_t code) { SaveU8(stream, value ? 1 : 0, code); }

void SaveI32(TStream& stream, int32_t value, int32_t code) {
  uint8_t bytes[4];
  StoreI32LE(bytes, value);
  SaveDataToStream(bytes, sizeof bytes, stream, code);
}

void SaveI64(TStream& stream, int64_t value, int32_t code) {
  uint8_t bytes[8];
  StoreI64LE(bytes, value);
  SaveDataToStream(bytes, sizeof bytes, stream, code);
}

void SaveBytes(TStream& stream, std::string_view bytes, int32_t code) {
  SaveDataToStream(bytes.data(), static_cast<int64_t>(bytes.size()), stream, code);
}

uint8_t LoadU8(TStream& stream, int32_t code) {
  uint8_t value = 0;
  LoadDataFromStream(&value, 1, stream, code);
  return value;
}

bool LoadBool(TStream& stream, int32_t code) { return LoadU8(stream, code) != 0; }

int32_t LoadI32(TStream& stream, int32_t code) {
  uint8_t bytes[4];
  LoadDataFromStream(bytes, sizeof bytes, stream, code);
  return LoadI32LE(bytes);
}

int64_t LoadI64(TStream& stream, int32_t code) {
  uint8_t bytes[8];
  LoadDataFromStream(bytes, sizeof bytes, stream, code);
  return LoadI64LE(bytes);
}

std::string LoadBytes(TStream& stream, int64_t size, int32_t code) {
  std::string bytes(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  LoadDataFromStream(bytes.data(), static_cast<int64_t>(bytes.size()), stream, code);
  return bytes;
}

void RaiseInvalidValue(TStream& stream, int64_t value, int64_t item_size, int32_t code) {
  const int64_t position = stream.GetPosition() - item_size;
  RaiseORB(code, kMsgInvalidStreamValue, {value, position, stream.GetSize()});
}

int32_t LoadCount(TStream& stream, int32_t code) {
  const int32_t count = LoadI32(stream, code);
  if (count < 0) RaiseInvalidValue(stream, count, 4, code);
  return count;
}

}  // namespace orb::metaio
