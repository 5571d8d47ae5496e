#include "engine/platform/file.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "engine/platform/byte_lock.h"

namespace orb {

namespace {

// An open whose sentinel lock or path check keeps failing because the file
// is being replaced gives up after this many attempts.
constexpr int kOpenAttempts = 3;

PlatformStatus InUse() { return PlatformStatus(EBUSY, "The file is in use by another open file"); }

// True when the path still names the file open on `fd` (it may have been
// deleted or replaced between the open and the share lock).
PlatformStatus SamePathFile(int fd, const std::string& path, bool* same) {
  struct stat by_fd, by_path;
  if (fstat(fd, &by_fd) != 0) return PlatformStatus::FromErrno(errno);
  if (stat(path.c_str(), &by_path) != 0) {
    if (errno == ENOENT) {
      *same = false;
      return PlatformStatus();
    }
    return PlatformStatus::FromErrno(errno);
  }
  *same = by_fd.st_dev == by_path.st_dev && by_fd.st_ino == by_path.st_ino;
  return PlatformStatus();
}

int OpenRetryingEintr(const char* path, int flags, mode_t mode) {
  for (;;) {
    int fd = ::open(path, flags, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

void CloseQuietly(int fd) {
  int saved = errno;
  ::close(fd);
  errno = saved;
}

// Opens an existing file and holds its share sentinel exclusively, so that
// no other open of it exists until `*fd` is closed.
PlatformStatus HoldExclusive(const std::string& path, int* fd) {
  *fd = -1;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int f = OpenRetryingEintr(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    bool writable = true;
    if (f < 0 && (errno == EACCES || errno == EROFS || errno == ETXTBSY)) {
      f = OpenRetryingEintr(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
      writable = false;
    }
    if (f < 0) return PlatformStatus::FromErrno(errno);
    PlatformStatus s;
    if (writable) {
      s = OfdLock(f, ByteLockType::kWrite, kShareSentinelOffset, 1);
      if (s.IsLockConflict()) s = InUse();
    } else {
      // No write lock on a read-only description: fall back to a probe.
      bool used = false;
      s = OfdConflicts(f, ByteLockType::kWrite, kShareSentinelOffset, 1, &used);
      if (s.Ok() && used) s = InUse();
    }
    bool same = false;
    if (s.Ok()) s = SamePathFile(f, path, &same);
    if (!s.Ok()) {
      CloseQuietly(f);
      return s;
    }
    if (same) {
      *fd = f;
      return s;
    }
    CloseQuietly(f);  // replaced meanwhile: hold the new one instead
  }
  return InUse();
}

}  // namespace

PlatformStatus PlatformStatus::FromErrno(int err) {
  char buf[256];
  const char* text = strerror_r(err, buf, sizeof(buf));
  return PlatformStatus(err, text ? text : "Unknown error");
}

TPlatformFile::~TPlatformFile() { Close(); }

PlatformStatus TPlatformFile::Open(const std::string& path, FileAccess access, FileShare share,
                                   FileDisposition disposition) {
  if (FFd >= 0) return PlatformStatus(EISCONN, "The file object is already open");
  int create = 0;
  switch (disposition) {
    case FileDisposition::kOpenExisting:
      break;
    case FileDisposition::kCreateNew:
      create = O_CREAT | O_EXCL;
      break;
    case FileDisposition::kCreateAlways:
      create = O_CREAT;  // truncated only once the share lock is held
      break;
  }
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int mode = O_RDWR;
    int fd = OpenRetryingEintr(path.c_str(), mode | create | O_CLOEXEC, 0666);
    if (fd < 0 && access != FileAccess::kReadWrite && (errno == EACCES || errno == EROFS || errno == ETXTBSY)) {
      mode = access == FileAccess::kRead ? O_RDONLY : O_WRONLY;
      fd = OpenRetryingEintr(path.c_str(), mode | create | O_CLOEXEC, 0666);
    }
    if (fd < 0) return PlatformStatus::FromErrno(errno);

    struct stat st;
    if (fstat(fd, &st) != 0) {
      PlatformStatus s = PlatformStatus::FromErrno(errno);
      CloseQuietly(fd);
      return s;
    }
    if (S_ISDIR(st.st_mode)) {
      CloseQuietly(fd);
      return PlatformStatus::FromErrno(EISDIR);
    }

    ByteLockType sentinel = ByteLockType::kWrite;
    if (mode == O_RDONLY || (share == FileShare::kDenyNone && mode != O_WRONLY)) sentinel = ByteLockType::kRead;
    PlatformStatus s = OfdLock(fd, sentinel, kShareSentinelOffset, 1);
    if (s.IsLockConflict()) s = InUse();
    bool same = false;
    if (s.Ok()) s = SamePathFile(fd, path, &same);
    if (!s.Ok()) {
      CloseQuietly(fd);
      return s;
    }
    if (!same) {
      // Deleted or replaced between open and lock: open the path again.
      CloseQuietly(fd);
      if (disposition == FileDisposition::kCreateNew) return PlatformStatus::FromErrno(EEXIST);
      continue;
    }
    if (disposition == FileDisposition::kCreateAlways && st.st_size != 0 && ftruncate(fd, 0) != 0) {
      s = PlatformStatus::FromErrno(errno);
      CloseQuietly(fd);
      return s;
    }
    FFd = fd;
    FOpenFlags = mode;
    FPath = path;
    FAccess = access;
    FShare = share;
    return PlatformStatus();
  }
  return InUse();
}

PlatformStatus TPlatformFile::Close() {
  if (FFd < 0) return PlatformStatus();
  int fd = FFd;
  FFd = -1;
  FFault.store(0, std::memory_order_relaxed);
  FFaultCalls.store(kFaultEveryCall, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> guard(FMutex);
    FLocks.clear();
  }
  // The descriptor is released even when close reports an error.
  if (::close(fd) != 0 && errno != EINTR) return PlatformStatus::FromErrno(errno);
  return PlatformStatus();
}

PlatformStatus TPlatformFile::ReadSomeAt(int64_t offset, void* buffer, size_t count, size_t* done) {
  *done = 0;
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  if (FAccess == FileAccess::kWrite) return PlatformStatus(EBADF, "The file is not open for reading");
  if (offset < 0 || count > static_cast<uint64_t>(INT64_MAX - offset)) return PlatformStatus::FromErrno(EINVAL);
  char* p = static_cast<char*>(buffer);
  while (*done < count) {
    ssize_t n = ::pread(FFd, p + *done, count - *done, static_cast<off_t>(offset + *done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return PlatformStatus::FromErrno(errno);
    }
    if (n == 0) break;  // end of file
    *done += static_cast<size_t>(n);
  }
  return PlatformStatus();
}

PlatformStatus TPlatformFile::ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) {
  size_t got = 0;
  PlatformStatus s = ReadSomeAt(offset, buffer, count, &got);
  if (done) *done = got;
  if (s.Ok() && got < count) return PlatformStatus(ENODATA, "Read past the end of the file");
  return s;
}

namespace {
std::atomic<TPlatformWriteHook*> g_write_hook{nullptr};
}  // namespace

void SetPlatformWriteHook(TPlatformWriteHook* hook) { g_write_hook.store(hook, std::memory_order_release); }

PlatformStatus TPlatformFile::WriteAt(int64_t offset, const void* buffer, size_t count) {
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  if (FAccess == FileAccess::kRead) return PlatformStatus(EBADF, "The file is not open for writing");
  if (offset < 0 || count > static_cast<uint64_t>(INT64_MAX - offset)) return PlatformStatus::FromErrno(EINVAL);
  const char* p = static_cast<const char*>(buffer);
  size_t wanted = count;
  if (TPlatformWriteHook* hook = g_write_hook.load(std::memory_order_acquire)) {
    wanted = std::min(count, hook->BeforeWrite(*this, offset, count));
  }
  size_t done = 0;
  while (done < wanted) {
    ssize_t n = ::pwrite(FFd, p + done, wanted - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return PlatformStatus::FromErrno(errno);
    }
    if (n == 0) return PlatformStatus::FromErrno(EIO);
    done += static_cast<size_t>(n);
  }
  if (wanted < count) return PlatformStatus::FromErrno(EIO);
  return PlatformStatus();
}

namespace {

// A guarded view read in progress on this thread jumps back here when the
// viewed file was cut under it. Set and cleared around the copy alone.
thread_local sigjmp_buf* t_guarded_read = nullptr;
struct sigaction g_previous_bus_action;

void OnBusError(int signal_no, siginfo_t* info, void* context) {
  if (sigjmp_buf* jump = t_guarded_read) {
    t_guarded_read = nullptr;
    siglongjmp(*jump, 1);
  }
  // Not a guarded read: whatever handled the signal before handles it now.
  const struct sigaction& previous = g_previous_bus_action;
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr &&
      reinterpret_cast<void*>(previous.sa_sigaction) != reinterpret_cast<void*>(SIG_DFL) &&
      reinterpret_cast<void*>(previous.sa_sigaction) != reinterpret_cast<void*>(SIG_IGN)) {
    previous.sa_sigaction(signal_no, info, context);
    return;
  }
  if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal_no);
    return;
  }
  // The default action: the process ends as it would have without us.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_no, &fallback, nullptr);
  raise(signal_no);
}

// Installs OnBusError once per process, keeping the handler it replaces.
// SA_NODEFER: a jump out of the handler leaves SIGBUS unblocked, so the
// jump needs no saved signal mask (and no system call to restore it).
void InstallBusErrorGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previous_bus_action);
  });
}

}  // namespace

size_t TPlatformFileView::Size() const {
  if (FData == nullptr) return 0;
  return FLength - static_cast<size_t>(FData - static_cast<const volatile uint8_t*>(FBase));
}

bool TPlatformFileView::ReadGuarded(size_t offset, void* out, size_t count) const {
  const size_t size = Size();
  if (offset > size || count > size - offset) return false;
  InstallBusErrorGuard();
  sigjmp_buf jump;
  // No mask is saved: sigsetjmp stays a plain function call.
  if (sigsetjmp(jump, 0) != 0) return false;
  t_guarded_read = &jump;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  const volatile uint8_t* source = FData + offset;
  if (count == sizeof(uint32_t) && reinterpret_cast<uintptr_t>(source) % alignof(uint32_t) == 0) {
    // One aligned load: a word another process writes at once is never
    // seen half old, half new.
    const auto* word = reinterpret_cast<const uint32_t*>(const_cast<const uint8_t*>(source));
    const uint32_t value = __atomic_load_n(word, __ATOMIC_ACQUIRE);
    std::memcpy(out, &value, sizeof value);
  } else {
    uint8_t* target = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < count; ++i) target[i] = source[i];
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_guarded_read = nullptr;
  return true;
}

void TPlatformFileView::Reset() noexcept {
  if (FBase != nullptr) munmap(FBase, FLength);
  FBase = nullptr;
  FLength = 0;
  FData = nullptr;
}

void TPlatformFileView::Swap(TPlatformFileView& other) noexcept {
  std::swap(FBase, other.FBase);
  std::swap(FLength, other.FLength);
  std::swap(FData, other.FData);
}

PlatformStatus TPlatformFile::MapView(int64_t offset, size_t count, TPlatformFileView* view) const {
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  if (offset < 0 || count == 0 || count > static_cast<size_t>(INT64_MAX - offset))
    return PlatformStatus(EINVAL, "Mapped range out of bounds");
  int64_t size = 0;
  PlatformStatus s = Size(&size);
  if (!s.Ok()) return s;
  if (offset + static_cast<int64_t>(count) > size) return PlatformStatus(ENODATA, "Mapped range past the end of the file");
  const long page = sysconf(_SC_PAGESIZE);
  const int64_t start = page > 0 ? offset - offset % page : offset;
  const size_t length = static_cast<size_t>(offset - start) + count;
  void* base = mmap(nullptr, length, PROT_READ, MAP_SHARED, FFd, static_cast<off_t>(start));
  if (base == MAP_FAILED) return PlatformStatus::FromErrno(errno);
  TPlatformFileView mapped;
  mapped.FBase = base;
  mapped.FLength = length;
  mapped.FData = static_cast<const volatile uint8_t*>(base) + (offset - start);
  *view = std::move(mapped);
  return PlatformStatus();
}

PlatformStatus TPlatformFile::Size(int64_t* size) const {
  *size = 0;
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  struct stat st;
  if (fstat(FFd, &st) != 0) return PlatformStatus::FromErrno(errno);
  *size = st.st_size;
  return PlatformStatus();
}

PlatformStatus TPlatformFile::SetSize(int64_t size) {
  if (int err = Unusable()) return PlatformStatus::FromErrno(err);
  if (FAccess == FileAccess::kRead) return PlatformStatus(EBADF, "The file is not open for writing");
  if (size < 0) return PlatformStatus::FromErrno(EINVAL);
  if (TPlatformWriteHook* hook = g_write_hook.load(std::memory_order_acquire)) {
    if (!hook->BeforeSetSize(*this, size)) return PlatformStatus::FromErrno(EIO);
  }
  for (;;) {
    if (ftruncate(FFd, static_cast<off_t>(size)) == 0) return PlatformStatus();
    if (errno != EINTR) return PlatformStatus::FromErrno(errno);
  }
}

PlatformStatus TPlatformFile::Allocate(int64_t size) {
  if (int err = Unusable(kFaultAllocate)) return PlatformStatus::FromErrno(err);
  if (FAccess == FileAccess::kRead) return PlatformStatus(EBADF, "The file is not open for writing");
  if (size < 0) return PlatformStatus::FromErrno(EINVAL);
  struct stat st;
  if (fstat(FFd, &st) != 0) return PlatformStatus::FromErrno(errno);
  const int64_t old_size = st.st_size;
  if (size <= old_size) return SetSize(size);
  if (TPlatformWriteHook* hook = g_write_hook.load(std::memory_order_acquire)) {
    if (!hook->BeforeSetSize(*this, size)) return PlatformStatus::FromErrno(EIO);
  }
  int err = 0;
  do {
    err = posix_fallocate(FFd, static_cast<off_t>(old_size), static_cast<off_t>(size - old_size));
  } while (err == EINTR);
  if (err == 0) return PlatformStatus();
  // File systems that cannot reserve space only get the size.
  if (err == EOPNOTSUPP || err == EINVAL) return SetSize(size);
  // A partial reservation may have moved the end of the file.
  while (ftruncate(FFd, static_cast<off_t>(old_size)) != 0 && errno == EINTR) {
  }
  return PlatformStatus::FromErrno(err);
}

PlatformStatus TPlatformFile::Flush() {
  if (int err = Unusable(kFaultFlush)) return PlatformStatus::FromErrno(err);
  if (TPlatformWriteHook* hook = g_write_hook.load(std::memory_order_acquire)) {
    if (!hook->BeforeFlush(*this)) return PlatformStatus::FromErrno(EIO);
  }
  for (;;) {
    if (fdatasync(FFd) == 0) return PlatformStatus();
    if (errno != EINTR) return PlatformStatus::FromErrno(errno);
  }
}

PlatformStatus TPlatformFile::Delete(const std::string& path) {
  int fd = -1;
  PlatformStatus s = HoldExclusive(path, &fd);
  if (!s.Ok()) return s;
  if (::unlink(path.c_str()) != 0) s = PlatformStatus::FromErrno(errno);
  CloseQuietly(fd);
  return s;
}

PlatformStatus TPlatformFile::Rename(const std::string& from, const std::string& to, bool replace) {
  int from_fd = -1;
  PlatformStatus s = HoldExclusive(from, &from_fd);
  if (!s.Ok()) return s;
  int to_fd = -1;
  bool same_file = false;
  if (replace && !SamePathFile(from_fd, to, &same_file).Ok()) same_file = false;
  if (replace && same_file) {
    // Both names lead to one file: nothing to replace.
  } else if (replace) {
    s = HoldExclusive(to, &to_fd);
    if (s.Code() == ENOENT) s = PlatformStatus();
    if (s.Ok() && ::rename(from.c_str(), to.c_str()) != 0) s = PlatformStatus::FromErrno(errno);
  } else if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EINVAL || errno == ENOSYS) {
      // File systems without RENAME_NOREPLACE: link fails atomically on an
      // existing target.
      if (::link(from.c_str(), to.c_str()) != 0) {
        s = PlatformStatus::FromErrno(errno);
      } else if (::unlink(from.c_str()) != 0) {
        s = PlatformStatus::FromErrno(errno);
      }
    } else {
      s = PlatformStatus::FromErrno(errno);
    }
  }
  if (to_fd >= 0) CloseQuietly(to_fd);
  CloseQuietly(from_fd);
  return s;
}

bool TPlatformFile::Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace orb
