#pragma once

// Files over POSIX descriptors: positioned I/O, share modes and byte-range
// locks.
//
// Errors are returned, never thrown: every fallible call gives a
// PlatformStatus holding the errno value and its text, so the layer above
// can raise its own coded messages with the operating system's code and
// text filled in.
//
// Share modes are kept with an open-file-description lock on one sentinel
// byte far past any data (kShareSentinelOffset): an open that denies others
// holds a write lock there, an open that shares holds a read lock, and an
// open whose sentinel lock conflicts fails with EBUSY. Delete and Rename take
// the sentinel exclusively first, so a file that another open holds (in this
// or any other process) is never deleted or replaced under it.

#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace orb {

// Result of a platform call: code 0 is success, otherwise an errno value
// with its text (or a short explanation where the failure has no errno of
// its own, e.g. a read that reaches the end of the file).
class PlatformStatus {
 public:
  PlatformStatus() = default;
  PlatformStatus(int code, std::string text) : FCode(code), FText(std::move(text)) {}

  // The failure of the last system call that set `err` (its strerror text).
  static PlatformStatus FromErrno(int err);

  bool Ok() const { return FCode == 0; }
  int Code() const { return FCode; }
  const std::string& Text() const { return FText; }

  // True for a lock request refused because another open file (or this one)
  // holds an overlapping range.
  bool IsLockConflict() const { return FCode == EAGAIN; }

 private:
  int FCode = 0;
  std::string FText;
};

enum class FileAccess { kRead, kWrite, kReadWrite };

// kDenyWrite is treated like kDenyAll at the sentinel: stricter than needed,
// never weaker.
enum class FileShare { kDenyNone, kDenyWrite, kDenyAll };

enum class FileDisposition {
  kOpenExisting,  // fails with ENOENT when the file does not exist
  kCreateNew,     // fails with EEXIST when the file exists
  kCreateAlways,  // creates, or truncates an existing file once its share
                  // lock is obtained
};

// Offset of the share-mode sentinel byte (2^62). Byte locks and data stay
// below it.
inline constexpr int64_t kShareSentinelOffset = int64_t{1} << 62;

// A read-only view of part of a file (mmap, MAP_SHARED). It shows the
// file's current bytes: a write through any open of the file, in any
// process, shows in it at once. Reading a viewed byte that no longer lies
// inside the file kills the process (SIGBUS), so the owner keeps the
// viewed range inside the file for as long as it reads it. The view stays
// valid after the file is closed. Not copyable; movable.
class TPlatformFileView {
 public:
  TPlatformFileView() = default;
  ~TPlatformFileView() { Reset(); }
  TPlatformFileView(const TPlatformFileView&) = delete;
  TPlatformFileView& operator=(const TPlatformFileView&) = delete;
  TPlatformFileView(TPlatformFileView&& other) noexcept { Swap(other); }
  TPlatformFileView& operator=(TPlatformFileView&& other) noexcept {
    if (this != &other) {
      Reset();
      Swap(other);
    }
    return *this;
  }

  bool IsMapped() const { return FData != nullptr; }
  // The first viewed byte; null when nothing is mapped.
  const volatile uint8_t* Data() const { return FData; }
  // Number of viewed bytes; 0 when nothing is mapped.
  size_t Size() const;
  // Copies viewed bytes [offset, offset + count) to `out`. False, with
  // `out` undefined, when the range lies outside the view or when the file
  // no longer holds it (it was cut after the view was made): such a read
  // is caught (SIGBUS) instead of ending the process. Bytes another open
  // writes meanwhile may show torn at any byte, except an aligned 4-byte
  // word, read in one load. The first guarded read installs a process-wide
  // SIGBUS handler that passes every other bus error on to the handler it
  // replaced; a handler installed later over it must do the same.
  bool ReadGuarded(size_t offset, void* out, size_t count) const;
  // Unmaps the view.
  void Reset() noexcept;

 private:
  friend class TPlatformFile;
  void Swap(TPlatformFileView& other) noexcept;

  void* FBase = nullptr;
  size_t FLength = 0;
  const volatile uint8_t* FData = nullptr;
};

class TPlatformFile;

// A seam for tests that play crashes and power losses: while installed
// (SetPlatformWriteHook), it sees every write, size change and flush of
// every TPlatformFile of the process before it happens, and may cut it
// short. Nothing installs one outside tests.
class TPlatformWriteHook {
 public:
  virtual ~TPlatformWriteHook() = default;
  // Before `count` bytes are written at `offset`: how many of them to
  // write. Fewer than `count` writes that prefix and fails the call with
  // EIO, as a write cut short by a crash.
  virtual size_t BeforeWrite(TPlatformFile& file, int64_t offset, size_t count) = 0;
  // Before the file is cut or extended to `size` (SetSize, Allocate):
  // false fails the call with EIO and changes nothing.
  virtual bool BeforeSetSize(TPlatformFile& file, int64_t size) = 0;
  // Before the file is flushed: false fails the call with EIO.
  virtual bool BeforeFlush(TPlatformFile& file) = 0;
};

// Installs `hook` for the whole process (null removes it). REQUIRES: no
// file call runs on another thread meanwhile.
void SetPlatformWriteHook(TPlatformWriteHook* hook);

// One open file. Not copyable; all calls are safe from several threads, but
// positioned I/O on overlapping ranges must be ordered by the caller.
class TPlatformFile {
 public:
  TPlatformFile() = default;
  ~TPlatformFile();
  TPlatformFile(const TPlatformFile&) = delete;
  TPlatformFile& operator=(const TPlatformFile&) = delete;

  // Opens `path`, bytes passed to the system unchanged (see PathToWide for
  // names held in wide form). The descriptor is always close-on-exec. Fails with
  // EBUSY when the share mode conflicts with another open of the file, and
  // with EISCONN when this object is already open.
  //
  // The description is opened read-write whenever permissions allow, also
  // for kRead and kWrite access (checked by the calls themselves), so that
  // byte locks and share locks work whatever the access. A file that can
  // only be opened read-only holds a read lock on the sentinel even when it
  // denies others, and its byte locks are read locks (see Lock).
  PlatformStatus Open(const std::string& path, FileAccess access, FileShare share,
                      FileDisposition disposition);
  // Closes the file; its byte locks and share lock go with it. Closing a
  // closed file is a no-op.
  PlatformStatus Close();

  bool IsOpen() const { return FFd >= 0; }
  const std::string& Path() const { return FPath; }
  FileAccess Access() const { return FAccess; }
  FileShare Share() const { return FShare; }

  // Reads exactly `count` bytes at `offset`. Reaching the end of the file
  // first is a failure (ENODATA); `*done` (if given) receives the bytes that
  // were read either way.
  PlatformStatus ReadAt(int64_t offset, void* buffer, size_t count, size_t* done = nullptr);
  // Reads up to `count` bytes at `offset`, stopping early only at the end of
  // the file; `*done` receives the number read.
  PlatformStatus ReadSomeAt(int64_t offset, void* buffer, size_t count, size_t* done);
  // Writes all `count` bytes at `offset`.
  PlatformStatus WriteAt(int64_t offset, const void* buffer, size_t count);

  PlatformStatus Size(int64_t* size) const;
  // Maps [offset, offset + count) read-only into `view` (replacing what it
  // viewed). The range must lie inside the file now (ENODATA otherwise)
  // and `count` be positive (EINVAL).
  PlatformStatus MapView(int64_t offset, size_t count, TPlatformFileView* view) const;
  PlatformStatus SetSize(int64_t size);
  // Grows the file to `size` bytes with the new space reserved on the drive
  // (posix_fallocate), so that later writes into it cannot fail for lack of
  // space; where the file system cannot reserve space the size is set
  // alone. A drive without room fails with ENOSPC (or EDQUOT) and leaves the
  // size as it was. A `size` not above the current one just sets the size.
  PlatformStatus Allocate(int64_t size);
  // Data (and the size) reach the disk: fdatasync.
  PlatformStatus Flush();

  // Byte-range locks: exclusive, non-blocking, owned by this open file and
  // released when it closes; other open files, in this process or others,
  // see them. The range [offset, offset + length) must be non-empty and lie
  // below kShareSentinelOffset (EINVAL otherwise).
  //
  // Lock fails with a lock conflict (IsLockConflict) when another open file
  // holds an overlapping range, or when this file already holds one. On a
  // file that could only be opened for reading the lock is shared with
  // other such files: it excludes only locks of files open for writing.
  PlatformStatus Lock(int64_t offset, int64_t length);
  // Unlocks a range exactly as it was locked; a range this file does not
  // hold fails with ENOLCK.
  PlatformStatus Unlock(int64_t offset, int64_t length);
  // Whether any byte of the range is locked, by this file or by another
  // open file. Never takes a lock.
  PlatformStatus TestLock(int64_t offset, int64_t length, bool* locked);
  // Whether another open file holds a lock on any byte of the range.
  PlatformStatus IsLockedByOther(int64_t offset, int64_t length, bool* locked);
  // TestLock of the range without the byte `held`, in one probe of the
  // other open files: a byte this file holds locked can be locked by no
  // other file, so probing it too finds exactly what the two probes of
  // the bytes around it would.
  // REQUIRES: this file holds byte `held`, inside the range, locked alone.
  PlatformStatus TestLockExcept(int64_t offset, int64_t length, int64_t held, bool* locked);
  // Whether this file holds a lock overlapping the range.
  bool HoldsLock(int64_t offset, int64_t length) const;

  // Fault injection for tests: while `os_error` is non-zero, every call on
  // the open file except Close and HoldsLock fails with it, as on a file
  // whose device or connection is gone. The descriptor and the locks it
  // holds stay until Close, which clears the fault. With `calls` narrowed to
  // kFaultFlush and/or kFaultAllocate only those calls fail (a disk that
  // cannot flush, a drive without room for growth).
  static constexpr unsigned kFaultEveryCall = ~0u;
  static constexpr unsigned kFaultFlush = 1u;
  static constexpr unsigned kFaultAllocate = 2u;
  void InjectFault(int os_error, unsigned calls = kFaultEveryCall) {
    FFaultCalls.store(calls, std::memory_order_relaxed);
    FFault.store(os_error, std::memory_order_relaxed);
  }

  // Deletes `path` after taking its share sentinel exclusively; fails with
  // EBUSY while another open holds the file.
  static PlatformStatus Delete(const std::string& path);
  // Renames `from` to `to`. With `replace` false the target must not exist
  // (EEXIST); with it true an existing target is replaced atomically. Both
  // files are held exclusively for the rename (EBUSY while another open
  // holds either).
  static PlatformStatus Rename(const std::string& from, const std::string& to, bool replace);
  // True when `path` names an existing regular file.
  static bool Exists(const std::string& path);

 private:
  friend PlatformStatus OpenTemporaryFile(TPlatformFile& file, std::string_view prefix);

  static PlatformStatus CheckRange(int64_t offset, int64_t length);
  bool RegistryOverlaps(int64_t offset, int64_t length) const;  // needs FMutex
  PlatformStatus ProbeOther(int64_t offset, int64_t length, bool* locked) const;
  // The errno a call on this file fails with before reaching the system:
  // EBADF when closed, the injected fault, or 0.
  int Unusable() const { return Unusable(kFaultEveryCall); }
  // The same for a call of the kind `call` (kFaultFlush, kFaultAllocate).
  int Unusable(unsigned call) const {
    if (FFd < 0) return EBADF;
    const unsigned calls = FFaultCalls.load(std::memory_order_relaxed);
    return (calls & call) == call ? FFault.load(std::memory_order_relaxed) : 0;
  }

  int FFd = -1;
  std::atomic<int> FFault{0};
  std::atomic<unsigned> FFaultCalls{kFaultEveryCall};
  int FOpenFlags = 0;  // O_ACCMODE bits of the description
  std::string FPath;
  FileAccess FAccess = FileAccess::kRead;
  FileShare FShare = FileShare::kDenyNone;

  // Byte ranges this file holds: start -> length; never overlapping.
  mutable std::mutex FMutex;
  std::map<int64_t, int64_t> FLocks;
};

}  // namespace orb
