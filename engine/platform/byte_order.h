#pragma once

#include <cstdint>
#include <cstring>

namespace orb {

// Little-endian loads and stores at unaligned byte addresses. Every
// persistent format goes through these; structs are never cast onto bytes.

inline void StoreU8(uint8_t* p, uint8_t v) { p[0] = v; }
inline uint8_t LoadU8(const uint8_t* p) { return p[0]; }

inline void StoreU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline uint16_t LoadU16LE(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (static_cast<uint16_t>(p[1]) << 8));
}

inline void StoreU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t LoadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreU64LE(uint8_t* p, uint64_t v) {
  StoreU32LE(p, static_cast<uint32_t>(v));
  StoreU32LE(p + 4, static_cast<uint32_t>(v >> 32));
}
inline uint64_t LoadU64LE(const uint8_t* p) {
  return static_cast<uint64_t>(LoadU32LE(p)) | (static_cast<uint64_t>(LoadU32LE(p + 4)) << 32);
}

inline void StoreI16LE(uint8_t* p, int16_t v) { StoreU16LE(p, static_cast<uint16_t>(v)); }
inline int16_t LoadI16LE(const uint8_t* p) { return static_cast<int16_t>(LoadU16LE(p)); }
inline void StoreI32LE(uint8_t* p, int32_t v) { StoreU32LE(p, static_cast<uint32_t>(v)); }
inline int32_t LoadI32LE(const uint8_t* p) { return static_cast<int32_t>(LoadU32LE(p)); }
inline void StoreI64LE(uint8_t* p, int64_t v) { StoreU64LE(p, static_cast<uint64_t>(v)); }
inline int64_t LoadI64LE(const uint8_t* p) { return static_cast<int64_t>(LoadU64LE(p)); }

// IEEE-754 doubles as their 8-byte little-endian bit pattern.
inline void StoreF64LE(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreU64LE(p, bits);
}
inline double LoadF64LE(const uint8_t* p) {
  uint64_t bits = LoadU64LE(p);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace orb
