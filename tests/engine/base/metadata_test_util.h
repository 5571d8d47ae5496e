#pragma once

// Helpers for the metadata stream tests: a little-endian byte builder for
// expected streams and a checker for the engine error code of a call.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/base/stream_memory.h"
#include "tests/support/raised.h"

namespace orb::testing {

class Bytes {
 public:
  Bytes& U8(uint8_t v) {
    FData.push_back(v);
    return *this;
  }
  Bytes& I32(int32_t v) {
    for (int i = 0; i < 4; ++i) FData.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& I64(int64_t v) {
    for (int i = 0; i < 8; ++i) FData.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& Raw(std::string_view s) {
    FData.insert(FData.end(), s.begin(), s.end());
    return *this;
  }
  // One length byte and the bytes.
  Bytes& Short(std::string_view s) { return U8(static_cast<uint8_t>(s.size())).Raw(s); }
  const std::vector<uint8_t>& data() const { return FData; }
  size_t size() const { return FData.size(); }

 private:
  std::vector<uint8_t> FData;
};

inline std::vector<uint8_t> Contents(TORBMemoryStream& stream) {
  const uint8_t* p = stream.Memory();
  return std::vector<uint8_t>(p, p + stream.GetSize());
}

// A stream holding `bytes`, positioned at 0.
inline std::unique_ptr<TORBMemoryStream> StreamOf(const std::vector<uint8_t>& bytes) {
  return std::make_unique<TORBMemoryStream>(bytes);
}

using test::RaisedCode;
using test::RaisedMessage;

}  // namespace orb::testing
