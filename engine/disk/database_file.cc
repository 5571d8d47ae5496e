#include "engine/disk/database_file.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/disk_header.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/clock.h"
#include "engine/platform/codepage.h"

namespace orb {
namespace {

std::atomic<bool> g_design_mode{false};

constexpr int kReopenAttempts = 3;
constexpr int64_t kReopenPauseMs = 1000;
constexpr int64_t kScanBlock = 10000;

// Clears the read-only attribute (no write permission at all) of `path`.
void ClearReadOnlyAttribute(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) ::chmod(path.c_str(), st.st_mode | S_IWUSR);
}

FileShare ToPlatformShare(TORBShareMode share) {
  switch (share) {
    case smExclusive:
      return FileShare::kDenyAll;
    case smShareDenyNone:
      return FileShare::kDenyNone;
    case smShareDenyWrite:
      return FileShare::kDenyWrite;
  }
  return FileShare::kDenyAll;
}

}  // namespace

void ORBSetDesignMode(bool on) { g_design_mode.store(on); }
bool ORBIsDesignMode() { return g_design_mode.load(); }

bool IsOSCriticalError(int os_error) {
  switch (os_error) {
    case EPERM:         // access denied
    case EBADF:         // invalid handle
    case EIO:           // read, write or general fault
    case ENXIO:         // device gone
    case ENODEV:
    case ESTALE:        // network file handle gone
    case ENOLINK:
    case ENETDOWN:      // network adapter or path failures
    case ENETUNREACH:
    case ENETRESET:
    case ECONNABORTED:
    case ECONNRESET:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case EREMOTEIO:
    case ENOTCONN:
      return true;
    default:
      return false;
  }
}

TORBDatabaseFile::~TORBDatabaseFile() {
  if (FIsOpened) FHandle.Close();
}

std::string TORBDatabaseFile::PathName() const { return WideToPath(FFileName); }

void TORBDatabaseFile::CheckOpened(std::string_view operation) const {
  if (!FIsOpened) RaiseORB(30376, "Cannot perform this operation (%s) on a closed file", {operation});
}

void TORBDatabaseFile::CheckClosed(std::string_view operation) const {
  if (FIsOpened) RaiseORB(30377, "Cannot perform this operation (%s) on a opened file", {operation});
}

void TORBDatabaseFile::CreateAndOpenFile(const std::u16string& name) {
  CheckClosed("CreateFile");
  if (name.empty()) RaiseORB(30374, "Cannot create file with blank FileName");
  const std::string path = WideToPath(name);
  if (TPlatformFile::Exists(path)) {
    ClearReadOnlyAttribute(path);
    PlatformStatus s = TPlatformFile::Delete(path);
    if (!s.Ok() && s.Code() != ENOENT) {
      RaiseORB(30362, "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s", {name, s.Code(), s.Text()});
    }
  }
  PlatformStatus s = FHandle.Open(path, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kCreateNew);
  if (!s.Ok()) RaiseORB(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s", {name, s.Code(), s.Text()});
  FFileName = name;
  FAccessMode = amReadWrite;
  FShareMode = smExclusive;
  FIsOpened = true;
  FWasCriticalError = false;
  FPosition = 0;
}

PlatformStatus TORBDatabaseFile::OpenHandle() {
  const FileAccess access = FAccessMode == amReadOnly ? FileAccess::kRead : FileAccess::kReadWrite;
  return FHandle.Open(PathName(), access, ToPlatformShare(FShareMode), FileDisposition::kOpenExisting);
}

void TORBDatabaseFile::OpenFile(const std::u16string& name, TORBAccessMode access, TORBShareMode share) {
  CheckClosed("OpenFile");
  if (access != amReadOnly && access != amReadWrite) RaiseORB(30366, "Unknown Access mode: '%d'", {static_cast<int>(access)});
  if (share != smExclusive && share != smShareDenyNone && share != smShareDenyWrite) {
    RaiseORB(30367, "Unknown Share mode: '%d'", {static_cast<int>(share)});
  }
  FFileName = name;
  FAccessMode = access;
  FShareMode = share;
  PlatformStatus s = OpenHandle();
  if (!s.Ok()) RaiseORB(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s", {name, s.Code(), s.Text()});
  FIsOpened = true;
  FWasCriticalError = false;
  FPosition = 0;
}

void TORBDatabaseFile::CloseFile() {
  CheckOpened("CloseFile");
  FIsOpened = false;
  DesignOpenCount = 0;
  PlatformStatus s = FHandle.Close();
  if (!s.Ok()) {
    RaiseORB(30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s", {FFileName, s.Code(), s.Text()});
  }
}

void TORBDatabaseFile::DeleteFile(const std::u16string& name) {
  CheckClosed("DeleteFile");
  const std::u16string& target = name.empty() ? FFileName : name;
  PlatformStatus s = TPlatformFile::Delete(WideToPath(target));
  if (!s.Ok()) RaiseORB(30362, "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s", {target, s.Code(), s.Text()});
}

void TORBDatabaseFile::RenameFile(const std::u16string& old_name, const std::u16string& new_name) {
  PlatformStatus s = TPlatformFile::Rename(WideToPath(old_name), WideToPath(new_name), false);
  if (!s.Ok()) {
    RaiseORB(30378, "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s",
             {old_name, new_name, s.Code(), s.Text()});
  }
}

bool TORBDatabaseFile::ReopenCheck() {
  if (!FIsOpened) return false;
  int64_t size = 0;
  if (FHandle.IsOpen() && FHandle.Size(&size).Ok()) return true;
  // Reopening releases every lock of the old handle: its byte locks, and
  // the share lock that keeps others out of a file not opened for sharing
  // (another process could change the file in between). The caller would go
  // on believing it still owns them.
  if (FShareMode != smShareDenyNone || FHandle.HoldsLock(0, kShareSentinelOffset)) return false;
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    if (attempt > 0) SleepMs(kReopenPauseMs);
    FHandle.Close();
    if (OpenHandle().Ok()) {
      FWasCriticalError = false;
      return true;
    }
  }
  return false;
}

int64_t TORBDatabaseFile::SizeForMessage() {
  int64_t size = -1;
  if (FHandle.IsOpen() && !FHandle.Size(&size).Ok()) size = -1;
  return size;
}

void TORBDatabaseFile::Seek(int64_t position, int32_t error_code) {
  CheckOpened("Seek");
  if (position < 0) {
    RaiseORB(error_code == 0 ? 30372 : error_code,
             "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
             {position, FFileName, FPosition, SizeForMessage()});
  }
  FPosition = position;
}

int64_t TORBDatabaseFile::GetPosition() {
  CheckOpened("GetPosition");
  return FPosition;
}

int64_t TORBDatabaseFile::GetSize() {
  CheckOpened("GetSize");
  int64_t size = 0;
  PlatformStatus s = FHandle.Size(&size);
  if (!s.Ok() && ReopenCheck()) s = FHandle.Size(&size);
  if (!s.Ok()) {
    RaiseORB(30371, "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
             {FFileName, s.Code(), s.Text()});
  }
  return size;
}

void TORBDatabaseFile::SetSize(int64_t size) {
  CheckOpened("SetSize");
  PlatformStatus s = FHandle.SetSize(size);
  if (!s.Ok() && ReopenCheck()) s = FHandle.SetSize(size);
  if (!s.Ok()) {
    RaiseORB(30370, "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
             {FFileName, size, s.Code(), s.Text()});
  }
  FPosition = size;
}

void TORBDatabaseFile::ReserveSize(int64_t size) {
  CheckOpened("SetSize");
  PlatformStatus s = FHandle.Allocate(size);
  const auto no_room = [](const PlatformStatus& st) { return st.Code() == ENOSPC || st.Code() == EDQUOT; };
  if (!s.Ok() && !no_room(s) && ReopenCheck()) s = FHandle.Allocate(size);
  if (no_room(s)) {
    RaiseORB(kErrDiskFull,
             "There is not enough free space on drive to extend the database file '%s' to %d bytes. ErrorCode:%d. "
             "ErrorMessage: %s",
             {FFileName, size, s.Code(), s.Text()});
  }
  if (!s.Ok()) {
    RaiseORB(30370, "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
             {FFileName, size, s.Code(), s.Text()});
  }
  FPosition = size;
}

bool TORBDatabaseFile::ReadBuffer(void* buffer, size_t count, int64_t position, size_t* done) {
  CheckOpened("ReadBuffer");
  auto attempt = [&] {
    if (done) return FHandle.ReadSomeAt(position, buffer, count, done);
    return FHandle.ReadAt(position, buffer, count);
  };
  PlatformStatus s = attempt();
  if (!s.Ok() && ReopenCheck()) s = attempt();
  if (!s.Ok()) return false;
  FPosition = position + static_cast<int64_t>(done ? *done : count);
  return true;
}

void TORBDatabaseFile::RaiseIo(int32_t code, bool write, int64_t position, size_t count, const PlatformStatus& s) {
  const char* format = write ? "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, "
                               "FileSize = %d, ErrorCode:%d. ErrorMessage: %s"
                             : "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, "
                               "FileSize = %d, ErrorCode:%d. ErrorMessage: %s";
  RaiseORB(code, format,
           {FFileName, position, static_cast<int64_t>(count), FPosition, SizeForMessage(), s.Code(), s.Text()});
}

void TORBDatabaseFile::ReadBuffer(void* buffer, size_t count, int64_t position, int32_t error_code) {
  CheckOpened("ReadBuffer");
  PlatformStatus s = FHandle.ReadAt(position, buffer, count);
  if (!s.Ok() && ReopenCheck()) s = FHandle.ReadAt(position, buffer, count);
  if (!s.Ok()) RaiseIo(error_code, false, position, count, s);
  FPosition = position + static_cast<int64_t>(count);
}

void TORBDatabaseFile::WriteBuffer(const void* buffer, size_t count, int64_t position, int32_t error_code) {
  CheckOpened("WriteBuffer");
  PlatformStatus s = FHandle.WriteAt(position, buffer, count);
  if (!s.Ok() && ReopenCheck()) s = FHandle.WriteAt(position, buffer, count);
  if (!s.Ok()) RaiseIo(error_code, true, position, count, s);
  FPosition = position + static_cast<int64_t>(count);
}

bool TORBDatabaseFile::MapView(int64_t position, size_t count, TPlatformFileView& view) {
  return FIsOpened && FHandle.IsOpen() && FHandle.MapView(position, count, &view).Ok();
}

void TORBDatabaseFile::FlushFileBuffers() {
  CheckOpened("FlushFileBuffers");
  PlatformStatus s = FHandle.Flush();
  if (!s.Ok() && ReopenCheck()) s = FHandle.Flush();
  if (!s.Ok()) {
    RaiseORB(30379, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
             {FFileName, s.Code(), s.Text()});
  }
}

bool TORBDatabaseFile::LockByte(int64_t offset, int64_t count) {
  CheckOpened("LockByte");
  PlatformStatus s = FHandle.Lock(offset, count);
  if (s.Ok()) return true;
  if (s.IsLockConflict()) return false;
  if (!FWasCriticalError) FWasCriticalError = IsOSCriticalError(s.Code());
  if (ReopenCheck()) s = FHandle.Lock(offset, count);
  return s.Ok();
}

bool TORBDatabaseFile::UnlockByte(int64_t offset, int64_t count) {
  if (ORBIsDesignMode()) {
    if (FIsOpened && FHandle.HoldsLock(offset, count)) FHandle.Unlock(offset, count);
    return true;
  }
  CheckOpened("UnlockByte");
  PlatformStatus s = FHandle.Unlock(offset, count);
  if (s.Ok()) return true;
  if (!FWasCriticalError) FWasCriticalError = IsOSCriticalError(s.Code());
  // A range this handle does not hold stays unheld whatever a retry does.
  if (s.Code() != ENOLCK && ReopenCheck()) s = FHandle.Unlock(offset, count);
  return s.Ok();
}

bool TORBDatabaseFile::IsRegionLocked(int64_t offset, int64_t count) {
  CheckOpened("IsRegionLocked");
  bool locked = true;
  PlatformStatus s = FHandle.TestLock(offset, count, &locked);
  if (!s.Ok() && ReopenCheck()) s = FHandle.TestLock(offset, count, &locked);
  return s.Ok() ? locked : true;
}

bool TORBDatabaseFile::IsRegionLockedExcept(int64_t offset, int64_t count, int64_t held) {
  CheckOpened("IsRegionLocked");
  bool locked = true;
  PlatformStatus s = FHandle.TestLockExcept(offset, count, held, &locked);
  // Without the byte held (a reopened file holds no lock) the range is
  // probed around it.
  if (!s.Ok() && (s.Code() == ENOLCK || s.Code() == EINVAL))
    return (held > offset && IsRegionLocked(offset, held - offset)) ||
           (held + 1 < offset + count && IsRegionLocked(held + 1, offset + count - held - 1));
  if (!s.Ok() && ReopenCheck()) s = FHandle.TestLockExcept(offset, count, held, &locked);
  return s.Ok() ? locked : true;
}

void TORBDatabaseFile::OpenFileForDesignTime() {
  if (!ORBIsDesignMode()) return;
  if (DesignOpenCount == 0 && !FIsOpened) {
    PlatformStatus s = OpenHandle();
    if (!s.Ok()) {
      RaiseORB(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s", {FFileName, s.Code(), s.Text()});
    }
    FIsOpened = true;
    FWasCriticalError = false;
  }
  ++DesignOpenCount;
}

void TORBDatabaseFile::CloseFileForDesignTime() {
  if (!ORBIsDesignMode()) return;
  if (DesignOpenCount > 0) --DesignOpenCount;
  if (DesignOpenCount == 0 && FIsOpened) CloseFile();
}

bool TORBDatabaseFile::FindSignature(int64_t* offset) {
  CheckOpened("FindSignature");
  const int64_t saved = FPosition;
  struct Restore {
    int64_t& pos;
    int64_t value;
    ~Restore() { pos = value; }
  } restore{FPosition, saved};

  const int64_t size = GetSize();
  auto is_header_at = [&](int64_t p, const uint8_t* sig, const uint8_t* size_field) {
    if (p + kDBHeaderSize > size) return false;
    if (std::memcmp(sig, kDBSignature.data(), kDBSignatureSize) != 0) return false;
    uint8_t field[2];
    if (!size_field) {
      if (!ReadBuffer(field, 2, p + kDBSignatureSize)) return false;
      size_field = field;
    }
    return LoadI16LE(size_field) == kDBHeaderSize;
  };

  uint8_t head[kDBHeaderSize];
  if (size >= kDBHeaderSize && ReadBuffer(head, kDBHeaderSize, 0) && is_header_at(0, head, head + kDBSignatureSize)) {
    *offset = 0;
    return true;
  }

  std::vector<uint8_t> block(kScanBlock);
  for (int64_t start = 0; start + kDBSignatureSize <= size; start += kScanBlock - kDBSignatureSize) {
    size_t got = 0;
    if (!ReadBuffer(block.data(), block.size(), start, &got)) return false;
    for (size_t i = 0; i + kDBSignatureSize <= got; ++i) {
      if (block[i] != static_cast<uint8_t>(kDBSignature[0])) continue;
      const uint8_t* size_field = i + kDBSignatureSize + 2 <= got ? &block[i + kDBSignatureSize] : nullptr;
      if (is_header_at(start + static_cast<int64_t>(i), &block[i], size_field)) {
        *offset = start + static_cast<int64_t>(i);
        return true;
      }
    }
    if (static_cast<int64_t>(got) < kScanBlock) break;
  }
  return false;
}

}  // namespace orb
