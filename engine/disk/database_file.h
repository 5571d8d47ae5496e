#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/platform/file.h"

namespace orb {

enum TORBAccessMode : uint8_t { amReadOnly = 0, amReadWrite = 1 };
enum TORBShareMode : uint8_t { smExclusive = 0, smShareDenyNone = 1, smShareDenyWrite = 2 };

// The process-wide design-mode flag: while set, database files stay closed
// between operations (see OpenFileForDesignTime).
void ORBSetDesignMode(bool on);
bool ORBIsDesignMode();

// True for errno values that mean the file or its connection is gone
// (bad descriptor, I/O fault, dropped network file system), as opposed to a
// refused request.
bool IsOSCriticalError(int os_error);

// The database file: positioned reads and writes, size, flush and byte
// locks, each raising the engine's coded errors with the operating system's
// code and text.
//
// A failing call is repeated once after a handle check. A handle that has
// become unusable is reopened with the stored name and modes, but only on a
// shared file while this object holds no byte locks: a reopen would silently
// drop them, or the exclusive share, so otherwise the failure is reported.
class TORBDatabaseFile {
 public:
  TORBDatabaseFile() = default;
  ~TORBDatabaseFile();
  TORBDatabaseFile(const TORBDatabaseFile&) = delete;
  TORBDatabaseFile& operator=(const TORBDatabaseFile&) = delete;

  // Creates `name` read-write and exclusive, deleting an existing file of
  // that name first (after clearing its read-only attribute). A file that
  // another open holds is not deleted: the call fails instead.
  void CreateAndOpenFile(const std::u16string& name);
  void OpenFile(const std::u16string& name, TORBAccessMode access, TORBShareMode share);
  void CloseFile();
  // Deletes `name` (the object's own file when empty); the object must be
  // closed. Fails while another open holds the file.
  void DeleteFile(const std::u16string& name);
  // Renames a file; an existing target is never replaced, and a file that
  // another open holds is not renamed.
  static void RenameFile(const std::u16string& old_name, const std::u16string& new_name);

  // The position used by the positioned calls' "FilePosition" reports and
  // by FindSignature's save and restore.
  void Seek(int64_t position, int32_t error_code);
  void SetPosition(int64_t position) { Seek(position, 0); }
  int64_t GetPosition();
  int64_t GetSize();
  void SetSize(int64_t size);
  // Grows the file to `size` with the space reserved on the drive, so that
  // writes into it cannot run out of room later. A drive without room
  // raises kErrDiskFull and leaves the file as it was; other failures raise
  // SetSize's code.
  void ReserveSize(int64_t size);

  // Reads `count` bytes at `position`. False on failure. A read that reaches
  // the end of the file is a failure unless `done` is given; then it counts
  // as success and `*done` receives the number of bytes that arrived.
  bool ReadBuffer(void* buffer, size_t count, int64_t position, size_t* done = nullptr);
  // Reads exactly `count` bytes or raises `error_code`.
  void ReadBuffer(void* buffer, size_t count, int64_t position, int32_t error_code);
  // Writes `count` bytes or raises `error_code`.
  void WriteBuffer(const void* buffer, size_t count, int64_t position, int32_t error_code);
  void FlushFileBuffers();
  // A read-only view of `count` bytes at `position` that follows every
  // write to them (TPlatformFile::MapView); false when it cannot be made.
  bool MapView(int64_t position, size_t count, TPlatformFileView& view);

  // Non-blocking exclusive byte-range locks. True only when the range is
  // actually held (or released) by this object.
  bool LockByte(int64_t offset, int64_t count);
  bool UnlockByte(int64_t offset, int64_t count);
  // Whether any byte is locked, by this object or any other open file. A
  // probe that cannot be answered reports "locked".
  bool IsByteLocked(int64_t offset) { return IsRegionLocked(offset, 1); }
  bool IsRegionLocked(int64_t offset, int64_t count);
  // IsRegionLocked without byte `held`, which this file holds locked.
  bool IsRegionLockedExcept(int64_t offset, int64_t count, int64_t held);

  // Counted open and close around an operation in design mode.
  void OpenFileForDesignTime();
  void CloseFileForDesignTime();

  // Finds a database header: at offset 0, else the first position in the
  // file holding the signature followed by a header size of 76 with the
  // whole header inside the file.
  bool FindSignature(int64_t* offset);

  bool GetIsOpened() const { return FIsOpened; }
  const std::u16string& GetFileName() const { return FFileName; }
  TORBAccessMode GetAccessMode() const { return FAccessMode; }
  TORBShareMode GetShareMode() const { return FShareMode; }
  bool GetWasCriticalError() const { return FWasCriticalError; }

  // Fault injection for tests: the open handle fails every call with
  // `os_error` until it is closed (see TPlatformFile::InjectFault).
  void InjectFault(int os_error, unsigned calls = TPlatformFile::kFaultEveryCall) {
    FHandle.InjectFault(os_error, calls);
  }

 private:
  void CheckOpened(std::string_view operation) const;
  void CheckClosed(std::string_view operation) const;
  std::string PathName() const;
  PlatformStatus OpenHandle();
  // After a failed call: true when the call may be repeated (the handle is
  // usable, or was reopened while no locks were held).
  bool ReopenCheck();
  int64_t SizeForMessage();
  [[noreturn]] void RaiseIo(int32_t code, bool write, int64_t position, size_t count, const PlatformStatus& s);

  std::u16string FFileName;
  TORBAccessMode FAccessMode = amReadWrite;
  TORBShareMode FShareMode = smExclusive;
  TPlatformFile FHandle;
  bool FIsOpened = false;
  int32_t DesignOpenCount = 0;
  bool FWasCriticalError = false;
  int64_t FPosition = 0;
};

}  // namespace orb
