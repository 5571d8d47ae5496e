#include "engine/base/error_codes.h"
#include "engine/disk/disk_page_manager.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/disk/free_space.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/clock.h"
#include "engine/platform/retry_wait.h"
#include "engine/platform/codepage.h"
#include "engine/platform/random.h"
#include "engine/base/crc32.h"

namespace orb {
namespace {

constexpr uint16_t kDiskPageHeaderSize = TORBDiskPageHeader::kSize;
constexpr std::string_view kNotOpened = "Error - database file is not opened.";
constexpr std::string_view kDatabaseLocked = "Database is locked";
constexpr std::string_view kInvalidFormat = "Invalid database format";
// Stamps a write never stores: the removed/unreadable marker and the two
// values below it.
constexpr int64_t kFirstReservedPageState = 2147483645;

// Releases the header lock when leaving a scope.
class HeaderLockRelease {
 public:
  explicit HeaderLockRelease(TORBDiskPageManager& m) : FManager(m) {}
  ~HeaderLockRelease() {
    try {
      FManager.UnlockDBHeader();
    } catch (...) {
    }
  }

 private:
  TORBDiskPageManager& FManager;
};

class ObjectIDLockRelease {
 public:
  explicit ObjectIDLockRelease(TORBDiskPageManager& m) : FManager(m) {}
  ~ObjectIDLockRelease() {
    try {
      FManager.UnlockLastObjectID();
    } catch (...) {
    }
  }

 private:
  TORBDiskPageManager& FManager;
};

std::string PrintableSignature(const uint8_t* bytes, size_t count) {
  std::string out;
  for (size_t i = 0; i < count && bytes[i] != 0; ++i) out += static_cast<char>(bytes[i]);
  return out;
}

}  // namespace

bool TryUsingTimeOut(const std::function<bool()>& lock, int32_t tries, int32_t delay_ms) {
  if (tries <= 0) return false;
  TRetryWait waits(tries, delay_ms);
  for (;;) {
    if (lock()) return true;
    int64_t wait_ms = 0;
    if (!waits.Next(&wait_ms)) return false;
    SleepMs(wait_ms);
  }
}

void CheckPageType(uint16_t found, uint16_t expected, int32_t error_code) {
  if (found == expected) return;
  RaiseORB(error_code, "Wrong page type. Found '%s', but expecting: '%s'",
           {PageTypeToStr(found), PageTypeToStr(expected)});
}

TORBDiskPageManager::DesignTimeScope::DesignTimeScope(TORBDiskPageManager& m) : FFile(m.FDatabaseFile) {
  FFile.OpenFileForDesignTime();
}

TORBDiskPageManager::DesignTimeScope::~DesignTimeScope() {
  try {
    FFile.CloseFileForDesignTime();
  } catch (...) {
  }
}

TORBDiskPageManager::TORBDiskPageManager() { ResetState(); }

TORBDiskPageManager::~TORBDiskPageManager() { CloseAndForget(false); }

void TORBDiskPageManager::SetDefaultOffsets() {
  FOffsetToDBHeader = 0;
  FOffsetToCryptoHeader = kDBHeaderSize;
  FOffsetToLockedBytes = kDBHeaderSize + kCryptoHeaderSize;
  FOffsetToLastObjectID = FOffsetToLockedBytes + kLockedBytesSize;
  FOffsetToFirstPage = FOffsetToLastObjectID + kLastObjectIDSize;
}

void TORBDiskPageManager::ResetState() {
  FDBHeader = TORBDBHeader::Initial();
  FCryptoHeader = TORBCryptoHeader();
  FLockedBytes = TORBLockedBytes();
  FLockDBHeaderCount = 0;
  FHeaderByteLocked = false;
  FExclusive = false;
  FRepairNeeded = false;
  SetDefaultOffsets();
  for (auto& c : FCiphers) c.reset();
  FCipherTried.fill(false);
}

void TORBDiskPageManager::CheckFileOpened(int32_t code) const {
  const bool open = FDatabaseFile.GetIsOpened() || (ORBIsDesignMode() && FIsOpened);
  if (!open) RaiseORB(code, kNotOpened);
}

void TORBDiskPageManager::FlushFreeSpace() {
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->FlushChanges(true);
}

bool TORBDiskPageManager::IsMapPage(int32_t page_no) const {
  return FDatabaseFreeSpaceManager && FDatabaseFreeSpaceManager->IsPagePfsOrEam(page_no);
}

const TORBCipher* TORBDiskPageManager::CipherFor(uint8_t algorithm) {
  if (algorithm >= kCryptoAlgorithmCount) return nullptr;
  if (!FCipherTried[algorithm]) {
    FCiphers[algorithm] = TORBCipher::Create(static_cast<TORBCryptoAlgorithm>(algorithm), FPassword.Password);
    FCipherTried[algorithm] = true;
  }
  return FCiphers[algorithm].get();
}

bool TORBDiskPageManager::TryLock(const std::function<bool()>& lock) const {
  return TryUsingTimeOut(lock, FLockTries, FLockDelayMs);
}

// ---------------------------------------------------------------------------
// Create, open, close

void TORBDiskPageManager::CreateAndOpenDatabase(const std::u16string& file_name, const TORBPassword& password,
                                                uint16_t page_size, uint16_t extent_page_count) {
  if (FDatabaseFile.GetIsOpened() || FIsOpened) {
    RaiseORB(10461, "Error - database file %s is in use.", {FDatabaseFile.GetFileName()});
  }
  if (page_size <= kDiskPageHeaderSize || extent_page_count == 0) RaiseORB(20237, kInvalidFormat);
  ResetState();
  FPassword = password;
  SetPageSizes(page_size, kDiskPageHeaderSize);
  try {
    FDatabasePath = WideToPath(file_name);
    FDatabaseFile.CreateAndOpenFile(file_name);
    // A journal left beside an earlier file of this name belongs to that
    // file, never to this one.
    TORBRollbackJournal::Remove(FDatabasePath, false);
    FDBHeader.Encrypted = password.Password.empty() ? 0 : 0xFF;
    FDBHeader.PageSize = page_size;
    FDBHeader.PageCountInExtent = extent_page_count;
    if (GetEncrypted()) {
      FCryptoHeader.CryptoAlgorithm = password.CryptoAlgorithm;
      for (uint8_t& b : FCryptoHeader.ControlBlock) b = static_cast<uint8_t>(RandomInt(255));
      FCryptoHeader.ControlBlockCRC = CRC32(0, FCryptoHeader.ControlBlock.data(), kControlBlockSize);
    }
    SaveDBHeader(true);
    SaveCryptoHeader();
    SaveLockedBytes();
    InitObjectID();
    FDatabaseFreeSpaceManager = std::make_unique<TORBDatabaseFreeSpaceManager>(this);
    FExclusive = true;
    FMultiUser = false;
    FIsOpened = true;
  } catch (...) {
    CloseAndForget(false);
    throw;
  }
}

bool TORBDiskPageManager::IsFileReadOnly(const std::u16string& file_name, bool multi_user,
                                         bool& read_only_attribute, PlatformStatus* in_use) {
  const std::string path = WideToPath(file_name);
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) {
    read_only_attribute = true;
    return true;
  }
  TPlatformFile probe;
  PlatformStatus s = probe.Open(path, FileAccess::kReadWrite, multi_user ? FileShare::kDenyNone : FileShare::kDenyAll,
                                FileDisposition::kOpenExisting);
  if (!s.Ok()) {
    if (s.Code() == EBUSY) *in_use = s;
    return true;
  }
  uint8_t first = 0;
  if (!probe.ReadAt(0, &first, 1).Ok()) return false;  // empty: writable
  return !probe.WriteAt(0, &first, 1).Ok();
}

void TORBDiskPageManager::OpenDatabase(const std::u16string& file_name, const TORBPassword& password,
                                       bool& read_only, bool& repair_needed, bool exclusive, bool& multi_user) {
  if (FDatabaseFile.GetIsOpened() || FIsOpened) {
    RaiseORB(10462, "Error - database file %s is in use.", {FDatabaseFile.GetFileName()});
  }
  ResetState();
  FPassword = password;
  try {
    FDatabasePath = WideToPath(file_name);
    if (!read_only && TPlatformFile::Exists(WideToPath(file_name))) {
      bool attribute = false;
      PlatformStatus in_use;
      read_only = IsFileReadOnly(file_name, multi_user && !exclusive, attribute, &in_use);
      // A file that another open holds is not taken as read-only when it was
      // asked for exclusively: the caller relies on that hold (compact,
      // repair), so the open fails instead.
      if (exclusive && !in_use.Ok()) {
        RaiseORB(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                 {file_name, in_use.Code(), in_use.Text()});
      }
      if (attribute) multi_user = false;
    }
    TORBAccessMode access = amReadWrite;
    TORBShareMode share = smShareDenyNone;
    if (read_only) {
      access = amReadOnly;
    } else if (exclusive) {
      share = smExclusive;
      multi_user = false;
    }
    FMultiUser = multi_user;
    FDatabaseFile.OpenFile(file_name, access, share);
    // A read-only file is opened shared, whatever was asked.
    FExclusive = share == smExclusive;
    if (ORBIsDesignMode()) FDatabaseFile.CloseFileForDesignTime();

    DesignTimeScope scope(*this);
    // The header position never changes, so it is found before the header
    // lock, whose byte lies behind it.
    int64_t h = 0;
    if (!FDatabaseFile.FindSignature(&h)) {
      uint8_t found[kDBSignatureSize] = {};
      size_t got = 0;
      FDatabaseFile.ReadBuffer(found, sizeof found, 0, &got);
      RaiseORB(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
               {Ansi(PrintableSignature(found, got)), kDBSignature});
    }
    FOffsetToDBHeader = h;
    FOffsetToCryptoHeader = h + kDBHeaderSize;
    FOffsetToLockedBytes = FOffsetToCryptoHeader + kCryptoHeaderSize;
    if (!TryLock([this] { return LockDBHeader(); })) RaiseORB(20230, kDatabaseLocked);
    {
      HeaderLockRelease release(*this);
      LoadDBHeader();
    }
    FRepairNeeded = FDBHeader.WriteChangesState != kWriteChangesConsistent || FDBHeader.Version < kDBMinimumSoundVersion;
    if (!FDBHeader.HasSignature()) {
      RaiseORB(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
               {Ansi(PrintableSignature(reinterpret_cast<const uint8_t*>(FDBHeader.Signature.data()), kDBSignatureSize)),
                kDBSignature});
    }
    // Sizes read from the file are checked before anything is computed from
    // them.
    if (FDBHeader.PageSize <= kDiskPageHeaderSize || FDBHeader.PageCountInExtent == 0 ||
        FDBHeader.TotalPageCount < 0 || FDBHeader.LastUsedPageNo < -1) {
      RaiseORB(20237, kInvalidFormat);
    }
    SetPageSizes(FDBHeader.PageSize, kDiskPageHeaderSize);
    FOffsetToCryptoHeader = h + FDBHeader.HeaderSize;
    FOffsetToLockedBytes = FOffsetToCryptoHeader + kCryptoHeaderSize;
    LoadCryptoHeader();
    if (GetEncrypted()) {
      FPassword.CryptoAlgorithm = static_cast<TORBCryptoAlgorithm>(FCryptoHeader.CryptoAlgorithm);
      const TORBCipher* cipher = CipherFor(FCryptoHeader.CryptoAlgorithm);
      if (cipher == nullptr || !cipher->Decrypt(FCryptoHeader.ControlBlock.data(), kControlBlockSize) ||
          CRC32(0, FCryptoHeader.ControlBlock.data(), kControlBlockSize) != FCryptoHeader.ControlBlockCRC) {
        RaiseORB(30445, "Cannot open database - incorrect password");
      }
    }
    if (FOffsetToCryptoHeader + FCryptoHeader.CryptoHeaderSize != FOffsetToLockedBytes) {
      RaiseORB(20237, kInvalidFormat);
    }
    uint8_t size_field[2];
    FDatabaseFile.ReadBuffer(size_field, 2, FOffsetToLockedBytes, int32_t{30442});
    FLockedBytes.LockedByteSize = LoadI16LE(size_field);
    // The lock targets (up to the header byte) must lie inside the lock bytes.
    if (FLockedBytes.LockedByteSize <= kDBHeaderByteOffset) RaiseORB(20237, kInvalidFormat);
    FOffsetToLastObjectID = FOffsetToLockedBytes + FLockedBytes.LockedByteSize;
    FOffsetToFirstPage = FOffsetToLastObjectID + kLastObjectIDSize;
    FDatabaseFreeSpaceManager = std::make_unique<TORBDatabaseFreeSpaceManager>(this);
    FIsOpened = true;
    // An unfinished commit of an earlier open is rolled back before a page
    // is served, under the header lock, so that a process still committing
    // is waited for and two processes never roll back at once.
    struct stat st;
    if (::stat(TORBRollbackJournal::PathFor(FDatabasePath).c_str(), &st) == 0 && st.st_size > 0) {
      if (!TryLock([this] { return LockDBHeader(); })) RaiseORB(20230, kDatabaseLocked);
      HeaderLockRelease release(*this);
      RecoverJournal();
      LoadDBHeader();
      FRepairNeeded =
          FDBHeader.WriteChangesState != kWriteChangesConsistent || FDBHeader.Version < kDBMinimumSoundVersion;
    }
  } catch (...) {
    CloseAndForget(false);
    throw;
  }
  repair_needed = FRepairNeeded;
}

void TORBDiskPageManager::CloseDatabase() {
  // Uncommitted work is neither written nor freed behind its session's back
  // (a later open of this manager would do so in whatever file it opens),
  // nor dropped unnoticed: it must be applied or cancelled first.
  if (HasAnyPendingChanges()) RaiseORB(20097, "Cannot free non-committed pages");
  CloseAndForget(true);
}

void TORBDiskPageManager::CloseAndForget(bool report) {
  std::exception_ptr failure;
  // Only a file no other process can open may lose its empty journal.
  const bool journal_alone = FDatabaseFile.GetIsOpened() && KeepsMapPagesCached();
  if (FDatabaseFile.GetIsOpened()) {
    try {
      FlushFreeSpace();
      if (!GetReadOnly()) FDatabaseFile.FlushFileBuffers();
    } catch (...) {
      failure = std::current_exception();
    }
    try {
      FDatabaseFile.CloseFile();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  FFileView.Reset();
  FJournal.Close(journal_alone);
  FDatabaseFreeSpaceManager.reset();
  FIsOpened = false;
  FLockDBHeaderCount = 0;
  FHeaderByteLocked = false;
  for (auto& c : FCiphers) c.reset();
  FCipherTried.fill(false);
  // Every page belongs to the file just closed.
  DiscardAllPages();
  if (failure && report) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------
// Headers

void TORBDiskPageManager::LoadDBHeader() {
  CheckFileOpened(10459);
  DesignTimeScope scope(*this);
  FlushFreeSpace();
  uint8_t buf[kDBHeaderSize];
  if (!ReadFromView(FOffsetToDBHeader, buf, sizeof buf))
    FDatabaseFile.ReadBuffer(buf, sizeof buf, FOffsetToDBHeader, int32_t{10464});
  FDBHeader = TORBDBHeader::LoadFrom(buf);
}

void TORBDiskPageManager::SaveDBHeader(bool check_external_change) {
  CheckFileOpened(10460);
  DesignTimeScope scope(*this);
  // The maps first: the header must not count pages whose map pages are
  // not yet written.
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->FlushChanges(false);
  uint8_t buf[kDBHeaderSize];
  if (ORBIsDesignMode()) {
    FDatabaseFile.ReadBuffer(buf, sizeof buf, FOffsetToDBHeader, int32_t{20195});
    const TORBDBHeader stored = TORBDBHeader::LoadFrom(buf);
    if (check_external_change && stored.State != FDBHeader.State &&
        stored.WriteChangesState == kWriteChangesWriting) {
      RaiseORB(20196, "Cannot write changes. Database file was modified by an external application");
    }
  }
  FDBHeader.SaveTo(buf);
  FDatabaseFile.WriteBuffer(buf, sizeof buf, FOffsetToDBHeader, 10462);
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->HeaderSaved();
}

void TORBDiskPageManager::LoadCryptoHeader() {
  CheckFileOpened(30436);
  DesignTimeScope scope(*this);
  uint8_t buf[kCryptoHeaderSize];
  FDatabaseFile.ReadBuffer(buf, sizeof buf, FOffsetToCryptoHeader, int32_t{30439});
  FCryptoHeader = TORBCryptoHeader::LoadFrom(buf);
}

void TORBDiskPageManager::SaveCryptoHeader() {
  CheckFileOpened(30437);
  DesignTimeScope scope(*this);
  // The control block is held plain in memory and always stored encrypted.
  TORBCryptoHeader stored = FCryptoHeader;
  if (GetEncrypted()) {
    const TORBCipher* cipher = CipherFor(stored.CryptoAlgorithm);
    if (cipher == nullptr || !cipher->Encrypt(stored.ControlBlock.data(), kControlBlockSize)) {
      RaiseORB(30438, "Cannot encrypt the control block");
    }
  }
  uint8_t buf[kCryptoHeaderSize];
  stored.SaveTo(buf);
  FDatabaseFile.WriteBuffer(buf, sizeof buf, FOffsetToCryptoHeader, 30438);
}

void TORBDiskPageManager::LoadLockedBytes() {
  CheckFileOpened(30441);
  DesignTimeScope scope(*this);
  uint8_t buf[kLockedBytesSize];
  FDatabaseFile.ReadBuffer(buf, sizeof buf, FOffsetToLockedBytes, int32_t{30442});
  FLockedBytes = TORBLockedBytes::LoadFrom(buf);
}

void TORBDiskPageManager::SaveLockedBytes() {
  CheckFileOpened(30443);
  DesignTimeScope scope(*this);
  uint8_t buf[kLockedBytesSize];
  FLockedBytes.SaveTo(buf);
  FDatabaseFile.WriteBuffer(buf, sizeof buf, FOffsetToLockedBytes, 30444);
}

// ---------------------------------------------------------------------------
// Page addressing and file size

int64_t TORBDiskPageManager::GetPageOffset(int32_t page_no) const {
  if (page_no < 0) RaiseORB(10471, "Invalid PageNo = %d", {page_no});
  return FOffsetToFirstPage + static_cast<int64_t>(page_no) * FPageSize;
}

void TORBDiskPageManager::ReadPageRegion(void* buffer, int32_t page_no, int32_t offset, int32_t count) {
  const int64_t end = static_cast<int64_t>(offset) + count;
  if (offset < 0 || count < 0 || end > FPageSize) {
    RaiseORB(10476, "Error - invalid page offset = %d, page size = %d", {end, static_cast<int>(FPageSize)});
  }
  DesignTimeScope scope(*this);
  FlushFreeSpace();
  const int64_t position = GetPageOffset(page_no) + offset;
  if (count > 0 && ReadFromView(position, buffer, static_cast<size_t>(count))) return;
  FDatabaseFile.ReadBuffer(buffer, static_cast<size_t>(count), position, int32_t{10474});
}

void TORBDiskPageManager::WritePageRegion(const void* buffer, int32_t page_no, int32_t offset, int32_t count) {
  const int64_t end = static_cast<int64_t>(offset) + count;
  if (offset < 0 || count < 0 || end > FPageSize) {
    RaiseORB(10477, "Error - invalid page offset = %d, page size = %d", {end, static_cast<int>(FPageSize)});
  }
  DesignTimeScope scope(*this);
  FlushFreeSpace();
  JournalPages(page_no, 1);
  FDatabaseFile.WriteBuffer(buffer, static_cast<size_t>(count), GetPageOffset(page_no) + offset, 10475);
}

int32_t TORBDiskPageManager::GetPageCount() {
  if (!FIsOpened) return FPageCount;
  // Where the free space maps are kept in memory, the header's counts
  // change only through this process and the header in memory is the
  // current one (the maps rely on the same).
  if (FDatabaseFreeSpaceManager && FDatabaseFreeSpaceManager->KeepsMaps()) return FDBHeader.TotalPageCount;
  DesignTimeScope scope(*this);
  // A commit of another open holds the header lock for a moment: wait for
  // it as a commit of this one would.
  if (!TryLock([this] { return LockDBHeader(); })) RaiseORB(20236, kDatabaseLocked);
  HeaderLockRelease release(*this);
  LoadDBHeader();
  return FDBHeader.TotalPageCount;
}

void TORBDiskPageManager::ExtendFile(int32_t page_count) {
  if (page_count <= 0) return;
  const int64_t total = static_cast<int64_t>(FDBHeader.TotalPageCount) + page_count;
  if (total > INT32_MAX) {
    RaiseORB(30430, "Page: %d cannot be addressed. TotalPageCount=%d", {total - 1, FDBHeader.TotalPageCount});
  }
  DesignTimeScope scope(*this);
  // The page area always ends at the last page, whatever lies behind it.
  // The space is reserved now: a full drive fails this allocation cleanly
  // instead of a later commit half way through its page writes.
  FDatabaseFile.ReserveSize(FOffsetToFirstPage + total * FPageSize);
  FDBHeader.TotalPageCount = static_cast<int32_t>(total);
}

void TORBDiskPageManager::TruncateFile(int32_t page_count) {
  if (page_count <= 0 || page_count > FDBHeader.TotalPageCount) return;
  DesignTimeScope scope(*this);
  // Header first: a file longer than its header says is harmless, a
  // shorter one is not.
  FDBHeader.TotalPageCount -= page_count;
  SaveDBHeader(true);
  FDatabaseFile.SetSize(FOffsetToFirstPage + static_cast<int64_t>(FDBHeader.TotalPageCount) * FPageSize);
}

void TORBDiskPageManager::TruncateDatabase() {
  if (!FDatabaseFreeSpaceManager) RaiseORB(10459, kNotOpened);
  DesignTimeScope scope(*this);
  // Decided on the current header, under its lock, with the maps kept
  // consistent for later growth.
  FDatabaseFreeSpaceManager->TruncateToLastUsedPage();
}

// ---------------------------------------------------------------------------
// Object ids

int32_t TORBDiskPageManager::GetNextObjectID() {
  CheckFileOpened(30399);
  DesignTimeScope scope(*this);
  if (!TryLock([this] { return LockLastObjectID(); })) RaiseORB(30401, "Cannot get NextObjectID. File area is Locked.");
  ObjectIDLockRelease release(*this);
  uint8_t buf[kLastObjectIDSize];
  FDatabaseFile.ReadBuffer(buf, sizeof buf, FOffsetToLastObjectID, int32_t{30400});
  const int32_t next = static_cast<int32_t>(LoadU32LE(buf) + 1u);
  if (!GetReadOnly()) {
    StoreI32LE(buf, next);
    FDatabaseFile.WriteBuffer(buf, sizeof buf, FOffsetToLastObjectID, 30404);
    return next;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(next) + static_cast<uint32_t>(RandomInt(10000)));
}

void TORBDiskPageManager::InitObjectID() {
  DesignTimeScope scope(*this);
  if (!TryLock([this] { return LockLastObjectID(); })) return;
  ObjectIDLockRelease release(*this);
  if (GetReadOnly()) return;
  uint8_t buf[kLastObjectIDSize] = {};
  FDatabaseFile.WriteBuffer(buf, sizeof buf, FOffsetToLastObjectID, kErrInitObjectIDWrite);
}

// ---------------------------------------------------------------------------
// Locks

bool TORBDiskPageManager::LockFileByte(int64_t offset) {
  // In design mode the file stays open while a lock is held.
  FDatabaseFile.OpenFileForDesignTime();
  bool locked = false;
  try {
    locked = FDatabaseFile.LockByte(offset, 1);
  } catch (...) {
    FDatabaseFile.CloseFileForDesignTime();
    throw;
  }
  if (!locked) FDatabaseFile.CloseFileForDesignTime();
  return locked;
}

bool TORBDiskPageManager::UnlockFileByte(int64_t offset) {
  const bool unlocked = FDatabaseFile.UnlockByte(offset, 1);
  FDatabaseFile.CloseFileForDesignTime();
  return unlocked;
}

bool TORBDiskPageManager::LockTables() { return LockFileByte(FOffsetToLockedBytes + kTablesByteOffset); }
bool TORBDiskPageManager::UnlockTables() { return UnlockFileByte(FOffsetToLockedBytes + kTablesByteOffset); }

bool TORBDiskPageManager::LockDBHeader() {
  if (FLockDBHeaderCount == 0) {
    // Nobody else can open an exclusively opened file: its byte is not
    // needed.
    FHeaderByteLocked = !KeepsMapPagesCached();
    if (FHeaderByteLocked && !LockFileByte(FOffsetToLockedBytes + kDBHeaderByteOffset)) return false;
    ++FLockDBHeaderCount;
    // Another process that stopped in the middle of a commit left its
    // journal: whoever takes the header lock next rolls it back first.
    if (FHeaderByteLocked && FIsOpened && !FRecovering && !FJournal.IsActive() && !GetReadOnly()) {
      struct stat st;
      if (::stat(TORBRollbackJournal::PathFor(FDatabasePath).c_str(), &st) == 0 && st.st_size > 0) {
        try {
          RecoverJournal();
        } catch (...) {
          UnlockDBHeader();
          throw;
        }
      }
    }
    return true;
  }
  ++FLockDBHeaderCount;
  return true;
}

void TORBDiskPageManager::LockDBHeaderInMemory() {
  if (FLockDBHeaderCount == 0) FHeaderByteLocked = false;
  ++FLockDBHeaderCount;
}

bool TORBDiskPageManager::UnlockDBHeader() {
  if (FLockDBHeaderCount <= 0) return false;
  if (--FLockDBHeaderCount > 0) return true;
  if (!FHeaderByteLocked) return true;
  FHeaderByteLocked = false;
  return UnlockFileByte(FOffsetToLockedBytes + kDBHeaderByteOffset);
}

bool TORBDiskPageManager::LockLastObjectID() { return LockFileByte(FOffsetToLastObjectID); }
bool TORBDiskPageManager::UnlockLastObjectID() { return UnlockFileByte(FOffsetToLastObjectID); }

bool TORBDiskPageManager::LockPageByte(int32_t page_no, int32_t offset) {
  return LockFileByte(GetPageOffset(page_no) + offset);
}

bool TORBDiskPageManager::UnlockPageByte(int32_t page_no, int32_t offset) {
  return UnlockFileByte(GetPageOffset(page_no) + offset);
}

bool TORBDiskPageManager::IsPageByteLocked(int32_t page_no, int32_t offset) {
  DesignTimeScope scope(*this);
  return FDatabaseFile.IsByteLocked(GetPageOffset(page_no) + offset);
}

bool TORBDiskPageManager::IsPageRegionLocked(int32_t page_no, int32_t offset, int32_t count) {
  DesignTimeScope scope(*this);
  return FDatabaseFile.IsRegionLocked(GetPageOffset(page_no) + offset, count);
}

bool TORBDiskPageManager::IsPageRegionLockedExcept(int32_t page_no, int32_t offset, int32_t count, int32_t held) {
  DesignTimeScope scope(*this);
  const int64_t page = GetPageOffset(page_no);
  return FDatabaseFile.IsRegionLockedExcept(page + offset, count, page + held);
}

void TORBDiskPageManager::FlushBuffers() {
  DesignTimeScope scope(*this);
  FlushFreeSpace();
  FDatabaseFile.FlushFileBuffers();
}

// ---------------------------------------------------------------------------
// Cache entry points and commit

TORBPage* TORBDiskPageManager::GetPage(int32_t session, int32_t page_no, uint16_t page_type,
                                       bool synchronize_allowed) {
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(page_no);
  DesignTimeScope scope(*this);
  return TORBPageManager::GetPage(session, page_no, page_type, synchronize_allowed);
}

void TORBDiskPageManager::RemovePage(int32_t session, int32_t page_no) {
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(page_no);
  TORBPageManager::RemovePage(session, page_no);
}

void TORBDiskPageManager::ApplyChanges(int32_t session) { ApplyChanges(session, false); }

void TORBDiskPageManager::ApplyChanges(int32_t session, bool flush) {
  // Kept changes reach the session's pages before anything is decided.
  WriteDeferredWork(session);
  if (!HasPendingChanges(session)) return;
  // A commit the cache would refuse is refused before the header says that
  // pages are being written.
  for (int32_t i = 0; i < FSharedPages.Count(); ++i) {
    const TORBPage* page = FSharedPages.PageAt(i);
    if (page->FSessionID == session && page->FUseCount > 0) RaiseORB(20152, "Some session pages not released");
  }
  if (const TORBSessionPageInfo* info = FindSessionInfo(session)) {
    const auto& removed = info->RemovedPageNumbers;
    for (int32_t i = 0; i < info->DirtyPages.Count(); ++i) {
      const TORBPage* page = info->DirtyPages.PageAt(i);
      if (std::find(removed.begin(), removed.end(), page->PageNo()) != removed.end()) continue;
      if (!page->IsDirty()) RaiseORB(20085, "Invalid page");
      if (page->FUseCount > 0) RaiseORB(20086, "Cannot write used page");
    }
  }

  DesignTimeScope scope(*this);
  if (!TryLock([this] { return LockDBHeader(); })) RaiseORB(20213, kDatabaseLocked);
  HeaderLockRelease release(*this);
  // The journal first: the stored header and the file size as they are,
  // then the old image of every committed page the commit overwrites, on
  // the disk before the first overwrite when the commit is flushed. A file
  // held alone keeps its maps in memory: their pages reach the file inside
  // the commit (the header is read below), so the journal starts before.
  // A file open for reading only fails at its first write, with nothing to
  // roll back.
  FJournalFlush = flush;
  FJournalSkip.clear();
  if (const TORBSessionPageInfo* info = FindSessionInfo(session)) FJournalSkip = info->AddedPageNumbers;
  std::sort(FJournalSkip.begin(), FJournalSkip.end());
  auto begin_journal = [&](const uint8_t (&stored)[kDBHeaderSize]) {
    const int64_t old_size = FDatabaseFile.GetSize();
    FJournal.Begin(FDatabasePath, FPageSize, old_size, stored);
    const int64_t in_file = std::max<int64_t>(0, (old_size - FOffsetToFirstPage) / FPageSize);
    FJournalPageLimit =
        static_cast<int32_t>(std::min<int64_t>(TORBDBHeader::LoadFrom(stored).TotalPageCount, in_file));
  };
  uint8_t stored_header[kDBHeaderSize];
  const bool maps_in_memory = FDatabaseFreeSpaceManager && FDatabaseFreeSpaceManager->KeepsMaps();
  if (!GetReadOnly() && maps_in_memory) {
    FDatabaseFile.ReadBuffer(stored_header, kDBHeaderSize, FOffsetToDBHeader, int32_t{10464});
    begin_journal(stored_header);
  }
  bool consistent = true;
  try {
    LoadDBHeader();
    // A file left in the middle of a commit stays marked until it is
    // repaired.
    consistent = FDBHeader.WriteChangesState == kWriteChangesConsistent;
    if (!GetReadOnly() && !maps_in_memory) {
      FDBHeader.SaveTo(stored_header);
      begin_journal(stored_header);
    }
    if (const TORBSessionPageInfo* info = FindSessionInfo(session)) {
      for (int32_t i = 0; i < info->DirtyPages.Count(); ++i) JournalPages(info->DirtyPages.PageAt(i)->PageNo(), 1, false);
      for (int32_t page_no : info->RemovedPageNumbers) JournalPages(page_no, 1, false);
    }
    FJournal.Write(flush);

    FDBHeader.WriteChangesState = kWriteChangesWriting;
    SaveDBHeader(true);
    TORBPageManager::ApplyChanges(session);
    FDBHeader.State = static_cast<int32_t>(static_cast<uint32_t>(FDBHeader.State) + 1u);
    FDBHeader.WriteChangesState = consistent ? kWriteChangesConsistent : kWriteChangesWriting;
    SaveDBHeader(false);
    // Everything the commit wrote is on the disk before the journal goes:
    // emptying or removing it is the commit point.
    if (flush) FlushBuffers();
    FJournal.Commit(flush);
  } catch (...) {
    // The file is put back as it was before the commit while the header
    // lock is still held; when even that fails the journal stays for the
    // next open.
    FJournal.Abandon();
    try {
      RecoverJournal();
    } catch (...) {
    }
    throw;
  }
  if (!consistent) FRepairNeeded = true;
}

void TORBDiskPageManager::JournalPages(int32_t first_page, int32_t count, bool write) {
  if (!FJournal.IsActive()) return;
  bool added = false;
  std::vector<uint8_t> image;
  for (int32_t page_no = first_page; page_no < first_page + count; ++page_no) {
    if (page_no < 0 || page_no >= FJournalPageLimit || FJournal.Holds(page_no)) continue;
    if (std::binary_search(FJournalSkip.begin(), FJournalSkip.end(), page_no)) continue;
    image.resize(FPageSize);
    // The stored bytes as they are, encrypted or not.
    if (!FDatabaseFile.ReadBuffer(image.data(), FPageSize, GetPageOffset(page_no))) continue;
    FJournal.Add(page_no, image.data());
    added = true;
  }
  if (added && write) FJournal.Write(FJournalFlush);
}

void TORBDiskPageManager::RecoverJournal() {
  TORBRollbackJournal::TContents contents;
  const bool hot = TORBRollbackJournal::ReadHot(FDatabasePath, FPageSize, &contents);
  if (GetReadOnly()) {
    if (hot) {
      RaiseORB(kErrJournalReadOnly,
               "Database file '%s' has an unfinished commit in its rollback journal and cannot be opened read-only",
               {FDatabaseFile.GetFileName()});
    }
    return;
  }
  if (!hot) {
    // Cut short before its header was complete: nothing was overwritten.
    TORBRollbackJournal::Remove(FDatabasePath, true);
    return;
  }
  FRecovering = true;
  try {
    DesignTimeScope scope(*this);
    FFileView.Reset();
    FDatabaseFile.SetSize(contents.FileSize);
    for (const TORBRollbackJournal::TRecord& record : contents.Records) {
      if (GetPageOffset(record.PageNo) + FPageSize > contents.FileSize) continue;
      FDatabaseFile.WriteBuffer(record.Image.data(), FPageSize, GetPageOffset(record.PageNo), 10469);
    }
    FDatabaseFile.WriteBuffer(contents.DBHeader, kDBHeaderSize, FOffsetToDBHeader, 10462);
    FDatabaseFile.FlushFileBuffers();
    TORBRollbackJournal::Remove(FDatabasePath, true);
    FDBHeader = TORBDBHeader::LoadFrom(contents.DBHeader);
    // Maps kept in memory describe the file before the rollback.
    if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->DiscardMaps();
  } catch (...) {
    FRecovering = false;
    throw;
  }
  FRecovering = false;
}

void TORBDiskPageManager::RecoverOtherWritersJournal() {
  if (!FMultiUser || !FIsOpened || GetReadOnly() || FLockDBHeaderCount > 0) return;
  struct stat st;
  if (::stat(TORBRollbackJournal::PathFor(FDatabasePath).c_str(), &st) != 0 || st.st_size == 0) return;
  // The outermost header lock rolls the journal back.
  if (!TryLock([this] { return LockDBHeader(); })) RaiseORB(20213, kDatabaseLocked);
  UnlockDBHeader();
}

bool TORBDiskPageManager::HasHotJournal() const {
  if (FDatabasePath.empty() || FJournal.IsActive()) return false;
  return TORBRollbackJournal::ReadHot(FDatabasePath, FPageSize, nullptr);
}

// ---------------------------------------------------------------------------
// Storage primitives

void TORBDiskPageManager::InternalAddPage(TORBPage& page) {
  if (!FDatabaseFreeSpaceManager) RaiseORB(10459, kNotOpened);
  const int32_t page_no = FDatabaseFreeSpaceManager->GetPage();
  try {
    page.AllocPageBuffer();
  } catch (...) {
    try {
      FDatabaseFreeSpaceManager->FreePage(page_no);
    } catch (...) {
    }
    throw;
  }
  SetPageNo(page, page_no);
}

void TORBDiskPageManager::InternalRemovePage(int32_t page_no) {
  if (!FDatabaseFreeSpaceManager) RaiseORB(10459, kNotOpened);
  DesignTimeScope scope(*this);
  // Other processes holding a copy see the page as removed. A page outside
  // the file is not written (that would grow the file); FreePage rejects it.
  const int64_t state_end = GetPageOffset(page_no) + TORBDiskPageHeader::kOffState + 4;
  if (state_end <= FDatabaseFile.GetSize()) InternalWritePageState(page_no, kInvalidPageState);
  FDatabaseFreeSpaceManager->FreePage(page_no);
}

bool TORBDiskPageManager::InternalReadPage(TORBPage& page) {
  if (page.FPageBuffer == nullptr) page.AllocPageBuffer();
  DesignTimeScope scope(*this);
  if (!FDatabaseFile.ReadBuffer(page.FPageBuffer, FPageSize, GetPageOffset(page.PageNo()))) {
    page.SetState(kInvalidPageState);
    return false;
  }
  if (GetEncrypted() && !IsMapPage(page.PageNo())) {
    uint8_t* header = page.GetPageHeader();
    uint8_t* data = page.GetPageData();
    const TORBCipher* cipher = CipherFor(header[TORBDiskPageHeader::kOffCipherype]);
    const bool decrypted = cipher != nullptr && cipher->Decrypt(data, FPageDataSize);
    if (!FIgnoreCRCErrors &&
        (!decrypted || CRC32(0, data, FPageDataSize) != LoadU32LE(header + TORBDiskPageHeader::kOffCRC32))) {
      RaiseORB(30446, "Decrypt page error. Check CRC failed. PageNo: %d", {page.PageNo()});
    }
  }
  page.FReloaded = true;
  return true;
}

const uint8_t* TORBDiskPageManager::PreparePageImage(TORBPage& page, uint8_t* out, std::vector<uint8_t>& scratch) {
  const int64_t next = static_cast<int64_t>(page.GetState()) + 1;
  page.SetState(next >= kFirstReservedPageState ? 0 : static_cast<int32_t>(next));
  const bool encrypt = GetEncrypted() && page.FEncryptionEnabled && !IsMapPage(page.PageNo());
  if (encrypt) {
    uint8_t* header = page.GetPageHeader();
    header[TORBDiskPageHeader::kOffCipherype] = FPassword.CryptoAlgorithm;
    StoreU32LE(header + TORBDiskPageHeader::kOffCRC32, CRC32(0, page.GetPageData(), FPageDataSize));
  }
  if (out == nullptr) {
    if (!encrypt) return page.FPageBuffer;
    scratch.resize(FPageSize);
    out = scratch.data();
  }
  std::memcpy(out, page.FPageBuffer, FPageSize);
  if (encrypt) {
    // The cached page keeps its plain data; the copy is encrypted.
    const TORBCipher* cipher = CipherFor(FPassword.CryptoAlgorithm);
    if (cipher == nullptr || !cipher->Encrypt(out + FPageHeaderSize, FPageDataSize)) {
      RaiseORB(10469, "Cannot encrypt page. PageNo: %d", {page.PageNo()});
    }
  }
  return out;
}

void TORBDiskPageManager::InternalWritePage(TORBPage& page) {
  std::vector<uint8_t> encrypted;
  const uint8_t* out = PreparePageImage(page, nullptr, encrypted);
  DesignTimeScope scope(*this);
  // A page is marked in use on disk before its contents get there.
  if (!IsMapPage(page.PageNo())) FlushFreeSpace();
  JournalPages(page.PageNo(), 1);
  FDatabaseFile.WriteBuffer(out, FPageSize, GetPageOffset(page.PageNo()), 10469);
}

void TORBDiskPageManager::InternalWritePages(std::span<TORBPage* const> pages) {
  // Map pages are written on their own, as InternalWritePage does; the
  // ordinary pages between them go in runs. The staging buffer stays with
  // the thread and only grows: fresh memory for every run would cost a page
  // fault per 4 KB written, and a resize per page would clear every byte
  // before the image overwrites it.
  thread_local std::vector<uint8_t> run;
  std::vector<uint8_t> unused;
  size_t first = 0;
  auto flush_run = [&](size_t end) {
    if (end == first) return;
    DesignTimeScope scope(*this);
    FlushFreeSpace();
    JournalPages(pages[first]->PageNo(), static_cast<int32_t>(end - first));
    FDatabaseFile.WriteBuffer(run.data(), (end - first) * FPageSize, GetPageOffset(pages[first]->PageNo()), 10469);
  };
  for (size_t i = 0; i < pages.size(); ++i) {
    if (IsMapPage(pages[i]->PageNo())) {
      flush_run(i);
      InternalWritePage(*pages[i]);
      first = i + 1;
      continue;
    }
    const size_t needed = (i + 1 - first) * FPageSize;
    if (run.size() < needed) run.resize(std::max(needed, pages.size() * FPageSize));
    PreparePageImage(*pages[i], run.data() + (i - first) * FPageSize, unused);
  }
  flush_run(pages.size());
}

int32_t TORBDiskPageManager::InternalReadPageState(int32_t page_no) {
  try {
    const int64_t position = GetPageOffset(page_no) + TORBDiskPageHeader::kOffState;
    uint8_t buf[4];
    if (ReadFromView(position, buf, sizeof buf)) return LoadI32LE(buf);
    DesignTimeScope scope(*this);
    if (!FDatabaseFile.ReadBuffer(buf, sizeof buf, position)) return kInvalidPageState;
    return LoadI32LE(buf);
  } catch (const EORBException&) {
    return kInvalidPageState;
  }
}

bool TORBDiskPageManager::ReadFromView(int64_t position, void* out, size_t count) {
  // In design mode the file is open only around each operation; a file
  // used by one process alone reads the file as it always did.
  if (!FMultiUser || ORBIsDesignMode() || !FDatabaseFile.GetIsOpened() || position < 0) return false;
  const uint64_t end = static_cast<uint64_t>(position) + count;
  if (end > FFileView.Size()) {
    // The file grew since it was mapped (or was never mapped): map what it
    // holds now. Bytes past its end are read from the file, which reports
    // the short read.
    int64_t size = 0;
    try {
      size = FDatabaseFile.GetSize();
    } catch (const EORBException&) {
      return false;
    }
    if (size <= 0 || static_cast<uint64_t>(size) < end) return false;
    if (!FDatabaseFile.MapView(0, static_cast<size_t>(size), FFileView)) {
      FFileView.Reset();
      return false;
    }
  }
  if (FFileView.ReadGuarded(static_cast<size_t>(position), out, count)) return true;
  // Another process cut the file below the bytes: map it afresh next time.
  FFileView.Reset();
  return false;
}

void TORBDiskPageManager::InternalWritePageState(int32_t page_no, int32_t state) {
  DesignTimeScope scope(*this);
  FlushFreeSpace();
  JournalPages(page_no, 1);
  uint8_t buf[4];
  StoreI32LE(buf, state);
  FDatabaseFile.WriteBuffer(buf, sizeof buf, GetPageOffset(page_no) + TORBDiskPageHeader::kOffState, 20198);
}

}  // namespace orb
