#include "engine/platform/byte_lock.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace orb {

namespace {

struct flock MakeFlock(short type, int64_t offset, int64_t length) {
  struct flock fl;
  std::memset(&fl, 0, sizeof(fl));
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // must be 0 for OFD locks
  return fl;
}

PlatformStatus SetLock(int fd, short type, int64_t offset, int64_t length) {
  struct flock fl = MakeFlock(type, offset, length);
  for (;;) {
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return PlatformStatus();
    int err = errno;
    if (err == EINTR) continue;
    if (err == EACCES) err = EAGAIN;
    return PlatformStatus::FromErrno(err);
  }
}

}  // namespace

PlatformStatus OfdLock(int fd, ByteLockType type, int64_t offset, int64_t length) {
  return SetLock(fd, type == ByteLockType::kWrite ? F_WRLCK : F_RDLCK, offset, length);
}

PlatformStatus OfdUnlock(int fd, int64_t offset, int64_t length) {
  return SetLock(fd, F_UNLCK, offset, length);
}

PlatformStatus OfdConflicts(int fd, ByteLockType type, int64_t offset, int64_t length, bool* conflicts) {
  struct flock fl = MakeFlock(type == ByteLockType::kWrite ? F_WRLCK : F_RDLCK, offset, length);
  for (;;) {
    if (fcntl(fd, F_OFD_GETLK, &fl) == 0) {
      *conflicts = fl.l_type != F_UNLCK;
      return PlatformStatus();
    }
    if (errno == EINTR) continue;
    return PlatformStatus::FromErrno(errno);
  }
}

// TPlatformFile's byte locks.

PlatformStatus TPlatformFile::CheckRange(int64_t offset, int64_t length) {
  if (offset < 0 || length <= 0 || length > kShareSentinelOffset - offset) {
    return PlatformStatus(EINVAL, "Byte range out of bounds");
  }
  return PlatformStatus();
}

bool TPlatformFile::RegistryOverlaps(int64_t offset, int64_t length) const {
  // The first held range starting at or past the end cannot overlap; the one
  // before it is the only candidate because ranges never overlap each other.
  auto it = FLocks.lower_bound(offset + length);
  if (it == FLocks.begin()) return false;
  --it;
  return it->first + it->second > offset;
}

bool TPlatformFile::HoldsLock(int64_t offset, int64_t length) const {
  if (!CheckRange(offset, length).Ok()) return false;
  std::lock_guard<std::mutex> guard(FMutex);
  return RegistryOverlaps(offset, length);
}

PlatformStatus TPlatformFile::Lock(int64_t offset, int64_t length) {
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  PlatformStatus s = CheckRange(offset, length);
  if (!s.Ok()) return s;
  std::lock_guard<std::mutex> guard(FMutex);
  // OFD locks never conflict within one description, so a range this file
  // already holds has to be refused here.
  if (RegistryOverlaps(offset, length)) {
    return PlatformStatus(EAGAIN, "Byte range already locked by this file");
  }
  // A write lock needs a descriptor open for writing. A file that could only
  // be opened for reading takes a read lock instead: it still excludes every
  // writer's lock on the range, and such a file never writes.
  s = OfdLock(FFd, FOpenFlags == O_RDONLY ? ByteLockType::kRead : ByteLockType::kWrite, offset, length);
  if (!s.Ok()) return s;
  FLocks.emplace(offset, length);
  return s;
}

PlatformStatus TPlatformFile::Unlock(int64_t offset, int64_t length) {
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  PlatformStatus s = CheckRange(offset, length);
  if (!s.Ok()) return s;
  std::lock_guard<std::mutex> guard(FMutex);
  auto it = FLocks.find(offset);
  if (it == FLocks.end() || it->second != length) {
    return PlatformStatus(ENOLCK, "Byte range not locked by this file");
  }
  s = OfdUnlock(FFd, offset, length);
  if (!s.Ok()) return s;
  FLocks.erase(it);
  return s;
}

PlatformStatus TPlatformFile::ProbeOther(int64_t offset, int64_t length, bool* locked) const {
  return OfdConflicts(FFd, ByteLockType::kWrite, offset, length, locked);
}

PlatformStatus TPlatformFile::TestLock(int64_t offset, int64_t length, bool* locked) {
  *locked = false;
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  PlatformStatus s = CheckRange(offset, length);
  if (!s.Ok()) return s;
  {
    std::lock_guard<std::mutex> guard(FMutex);
    if (RegistryOverlaps(offset, length)) {
      *locked = true;
      return s;
    }
  }
  return ProbeOther(offset, length, locked);
}

PlatformStatus TPlatformFile::TestLockExcept(int64_t offset, int64_t length, int64_t held, bool* locked) {
  *locked = false;
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  PlatformStatus s = CheckRange(offset, length);
  if (!s.Ok()) return s;
  if (held < offset || held >= offset + length) return PlatformStatus(EINVAL, "Held byte outside the range");
  {
    std::lock_guard<std::mutex> guard(FMutex);
    const auto own = FLocks.find(held);
    if (own == FLocks.end() || own->second != 1) return PlatformStatus(ENOLCK, "Byte not locked by this file");
    if ((held > offset && RegistryOverlaps(offset, held - offset)) ||
        (held + 1 < offset + length && RegistryOverlaps(held + 1, offset + length - held - 1))) {
      *locked = true;
      return s;
    }
  }
  // A read-only file holds its bytes with read locks, which another file's
  // read lock may share: the probe then reports the byte as locked, which
  // only refuses what could have been let in.
  return ProbeOther(offset, length, locked);
}

PlatformStatus TPlatformFile::IsLockedByOther(int64_t offset, int64_t length, bool* locked) {
  *locked = false;
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  PlatformStatus s = CheckRange(offset, length);
  if (!s.Ok()) return s;
  return ProbeOther(offset, length, locked);
}

}  // namespace orb
