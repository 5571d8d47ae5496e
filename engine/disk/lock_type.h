#pragma once

// Table lock types, their compatibility and their strength.

#include <array>
#include <cstdint>

namespace orb {

// Stored as the row number of a table locks file (table_locks_file.h):
// every type but ltX has one lock byte per session.
enum TORBLockType : uint8_t {
  ltIS = 0,    // a cursor has the table open, not exclusively
  ltS = 1,     // a read step, for its duration
  ltSIRW = 2,  // editing rows outside a transaction
  ltXIRW = 3,  // editing rows inside a transaction
  ltRW = 4,    // a commit writes rows changed under ltXIRW
  ltU = 5,     // the session's row lock on the table
  ltX = 6,     // the table is open exclusively
};

inline constexpr int32_t kLockTypeCount = 7;
// Types with a lock byte per session (every type but ltX).
inline constexpr int32_t kLockByteTypeCount = 6;

inline constexpr bool IsValidLockType(int32_t type) { return type >= 0 && type < kLockTypeCount; }

// Whether a lock of type `requested` by one session may coexist with a lock
// of type `held` by another session. Symmetric.
//
// | held \ requested | IS  | S   | SIRW | XIRW | RW  | U   | X   |
// | ltIS             | yes | yes | yes  | yes  | yes | yes | no  |
// | ltS              | yes | yes | yes  | yes  | no  | yes | no  |
// | ltSIRW           | yes | yes | yes  | no   | yes | yes | no  |
// | ltXIRW           | yes | yes | no   | no   | no  | yes | no  |
// | ltRW             | yes | no  | yes  | no   | no  | yes | no  |
// | ltU              | yes | yes | yes  | yes  | yes | yes | no  |
// | ltX              | no  | no  | no   | no   | no  | no  | no  |
inline constexpr bool IsLockCompatible(TORBLockType held, TORBLockType requested) {
  constexpr bool y = true;
  constexpr bool n = false;
  constexpr std::array<std::array<bool, kLockTypeCount>, kLockTypeCount> kMatrix = {{
      {y, y, y, y, y, y, n},
      {y, y, y, y, n, y, n},
      {y, y, y, n, y, y, n},
      {y, y, n, n, n, y, n},
      {y, n, y, n, n, y, n},
      {y, y, y, y, y, y, n},
      {n, n, n, n, n, n, n},
  }};
  return kMatrix[held][requested];
}

// True when `a` is at least as strong as `b`: every type compatible with `a`
// is also compatible with `b`. Every type is at least as strong as itself.
inline constexpr bool IsLockStronger(TORBLockType a, TORBLockType b) {
  for (int32_t t = 0; t < kLockTypeCount; ++t) {
    const auto other = static_cast<TORBLockType>(t);
    if (IsLockCompatible(a, other) && !IsLockCompatible(b, other)) return false;
  }
  return true;
}

// The type's name as written in messages and tests.
inline constexpr const char* LockTypeName(TORBLockType type) {
  constexpr const char* kNames[kLockTypeCount] = {"ltIS", "ltS", "ltSIRW", "ltXIRW", "ltRW", "ltU", "ltX"};
  return IsValidLockType(type) ? kNames[type] : "?";
}

}  // namespace orb
