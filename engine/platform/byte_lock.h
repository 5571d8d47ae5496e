#pragma once

// Open-file-description byte-range locks (F_OFD_SETLK / F_OFD_GETLK). They
// belong to the open file description, not to the process: two descriptors
// opened separately in one process conflict with each other, and a lock goes
// away when its description is closed. TPlatformFile builds its byte locks
// and share modes on these.

#include <cstdint>

#include "engine/platform/file.h"

namespace orb {

enum class ByteLockType { kRead, kWrite };

// Takes a lock on [offset, offset + length) of `fd` without waiting. A
// lock held by another open file description gives a lock conflict status
// (EAGAIN; EACCES is reported as EAGAIN too).
PlatformStatus OfdLock(int fd, ByteLockType type, int64_t offset, int64_t length);
// Releases [offset, offset + length) of `fd`.
PlatformStatus OfdUnlock(int fd, int64_t offset, int64_t length);
// Asks whether a lock of `type` on the range would conflict with a lock held
// through another open file description. Takes no lock.
PlatformStatus OfdConflicts(int fd, ByteLockType type, int64_t offset, int64_t length, bool* conflicts);

}  // namespace orb
