#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/disk/database_file.h"
#include "engine/disk/disk_header.h"
#include "engine/disk/encryption.h"
#include "engine/table/page_manager.h"
#include "engine/disk/table_pages_cache.h"

namespace orb {

class TORBDatabaseFreeSpaceManager;

// Calls `lock` up to `tries` times, sleeping `delay_ms` between failed
// tries; true at the first success.
bool TryUsingTimeOut(const std::function<bool()>& lock, int32_t tries, int32_t delay_ms);

// Raises `error_code` ("Wrong page type...") when `found` differs from
// `expected`.
void CheckPageType(uint16_t found, uint16_t expected, int32_t error_code);

// The page manager over a database file: creates and opens the file, keeps
// its header, addresses, grows and shrinks the page area, hands out object
// ids, takes the file-level lock bytes and commits a session's pages under
// the header lock. Pages of an encrypted database are encrypted on write
// and decrypted (with a checksum check) on read; map pages stay plain.
class TORBDiskPageManager : public TORBPageManager {
 public:
  // Retries of the header and object-id locks.
  static constexpr int32_t kLockTries = 4500;
  static constexpr int32_t kLockDelayMs = 20;

  TORBDiskPageManager();
  ~TORBDiskPageManager() override;

  void CreateAndOpenDatabase(const std::u16string& file_name, const TORBPassword& password, uint16_t page_size,
                             uint16_t extent_page_count);
  // Opens an existing database. `read_only` in: asked for; out: effective.
  // `multi_user` in: asked for; out: effective. `repair_needed` out: the
  // file was left in the middle of a commit or is of an old version.
  // `exclusive`: no other open of the file, in any process, until close; a
  // file that another open holds then fails with 30364 rather than being
  // taken as read-only. A read-only file is always opened shared, so
  // GetExclusive() is false for it.
  void OpenDatabase(const std::u16string& file_name, const TORBPassword& password, bool& read_only,
                    bool& repair_needed, bool exclusive, bool& multi_user);
  // Flushes the file (allocation maps, then fdatasync) and closes it; every
  // cached page is forgotten, and pages still in use become detached copies.
  // Raises 20097, leaving the database open, while any session has
  // uncommitted pages (apply or cancel them first), and raises the file
  // layer's error when the flush or the close fails (the manager is closed
  // then all the same). Destroying the manager closes silently and drops
  // uncommitted pages.
  void CloseDatabase();

  void LoadDBHeader();
  void SaveDBHeader(bool check_external_change);
  const TORBDBHeader& GetDbHeader() const { return FDBHeader; }
  TORBDBHeader& DBHeader() { return FDBHeader; }
  void LoadCryptoHeader();
  void SaveCryptoHeader();
  void LoadLockedBytes();
  void SaveLockedBytes();

  const TORBPassword& GetPassword() const { return FPassword; }
  bool GetEncrypted() const { return FDBHeader.Encrypted != 0; }
  bool GetIsOpened() const { return FIsOpened; }
  // The file is held exclusively: no other open of it exists.
  bool GetExclusive() const { return FExclusive; }
  // The file is open for reading only.
  bool GetReadOnly() const { return FDatabaseFile.GetAccessMode() == amReadOnly; }
  // The file needed repair when opened; commits keep it marked.
  bool GetRepairNeeded() const { return FRepairNeeded; }
  TORBDatabaseFile& DatabaseFile() { return FDatabaseFile; }
  TORBDatabaseFreeSpaceManager* FreeSpaceManager() { return FDatabaseFreeSpaceManager.get(); }
  // No other process can open the file: the allocation maps may stay in
  // memory between calls.
  bool KeepsMapPagesCached() const {
    return FDatabaseFile.GetShareMode() == smExclusive && !GetReadOnly() && !ORBIsDesignMode();
  }
  int64_t GetOffsetToDBHeader() const { return FOffsetToDBHeader; }
  int64_t GetOffsetToFirstPage() const { return FOffsetToFirstPage; }

  // File offset of a page; 10471 for a negative page number.
  int64_t GetPageOffset(int32_t page_no) const;
  // Direct access to part of one page, bypassing the cache.
  void ReadPageRegion(void* buffer, int32_t page_no, int32_t offset, int32_t count);
  void WritePageRegion(const void* buffer, int32_t page_no, int32_t offset, int32_t count);

  // The stored TotalPageCount, read under the header lock (20236).
  int32_t GetPageCount() override;
  // Grows the file by `page_count` pages; TotalPageCount follows in memory.
  void ExtendFile(int32_t page_count);
  // Cuts `page_count` pages from the end; the header is saved first.
  void TruncateFile(int32_t page_count);
  // Cuts every page after the last used one.
  void TruncateDatabase();

  int32_t GetNextObjectID();
  void InitObjectID();

  bool LockTables();
  bool UnlockTables();
  // Nested: only the outermost lock and unlock touch the file.
  bool LockDBHeader();
  bool UnlockDBHeader();
  bool LockLastObjectID();
  bool UnlockLastObjectID();
  bool LockPageByte(int32_t page_no, int32_t offset);
  bool UnlockPageByte(int32_t page_no, int32_t offset);
  bool IsPageByteLocked(int32_t page_no, int32_t offset);
  bool IsPageRegionLocked(int32_t page_no, int32_t offset, int32_t count);

  void FlushBuffers();

  // Both refuse map pages (30434) before the cache work.
  TORBPage* GetPage(int32_t session, int32_t page_no, uint16_t page_type, bool synchronize_allowed = true) override;
  void RemovePage(int32_t session, int32_t page_no) override;
  // Commits the session: WriteChangesState 1, the pages, State + 1 and
  // WriteChangesState 2, all under the header lock (20213). Nothing is
  // flushed: a power loss may leave the header consistent before the pages.
  void ApplyChanges(int32_t session) override;
  // The same; with `flush` the file is flushed after the mark, after the
  // pages and after the final header, so that a header found consistent
  // after a power loss has all the commit's pages behind it.
  void ApplyChanges(int32_t session, bool flush);

  // Stored State stamp of a page; kInvalidPageState when unreadable.
  int32_t InternalReadPageState(int32_t page_no) override;
  void InternalWritePageState(int32_t page_no, int32_t state);

  // Decides when a cached page must be checked against the file.
  TORBDiskTablePagesCacheManager& TablePagesCacheManager() { return FTablePagesCacheManager; }

  // Shortens the lock retries (tests, callers with their own waiting).
  void SetLockRetries(int32_t tries, int32_t delay_ms) {
    FLockTries = tries;
    FLockDelayMs = delay_ms;
  }

 protected:
  friend class TORBDatabaseFreeSpaceManager;

  void InternalAddPage(TORBPage& page) override;
  void InternalRemovePage(int32_t page_no) override;
  bool InternalReadPage(TORBPage& page) override;
  void InternalWritePage(TORBPage& page) override;
  bool IsDiskMultiUser() const override { return FMultiUser; }
  bool IsSafeNotToSyncPage(int32_t session, TORBPage& page) override {
    return FTablePagesCacheManager.IsSafeNotToSyncPage(FMultiUser, session, page);
  }
  void UpdatePageTableState(int32_t session, TORBPage& page) override {
    FTablePagesCacheManager.UpdatePageTableState(FMultiUser, session, page);
  }

 private:
  // Opens and closes the file around an operation in design mode.
  class DesignTimeScope {
   public:
    explicit DesignTimeScope(TORBDiskPageManager& m);
    ~DesignTimeScope();

   private:
    TORBDatabaseFile& FFile;
  };

  void ResetState();
  // Closes the file and forgets the pages and state of the open database,
  // uncommitted pages included. With `report` a failing flush or close is
  // raised once everything is closed.
  void CloseAndForget(bool report);
  void SetDefaultOffsets();
  void CheckFileOpened(int32_t code) const;
  bool IsMapPage(int32_t page_no) const;
  // Writes the allocation changes kept in memory, before anything else
  // reaches the file or the header is read again.
  void FlushFreeSpace();
  // Cipher of `algorithm` keyed with the database password; null when it
  // cannot be keyed.
  const TORBCipher* CipherFor(uint8_t algorithm);
  bool TryLock(const std::function<bool()>& lock) const;
  bool LockFileByte(int64_t offset);
  bool UnlockFileByte(int64_t offset);
  // True when the file cannot be written; `*in_use` receives the failure
  // when that is because another open holds the file against the probe.
  static bool IsFileReadOnly(const std::u16string& file_name, bool multi_user, bool& read_only_attribute,
                             PlatformStatus* in_use);

  std::unique_ptr<TORBDatabaseFreeSpaceManager> FDatabaseFreeSpaceManager;
  TORBDiskTablePagesCacheManager FTablePagesCacheManager;
  TORBDatabaseFile FDatabaseFile;
  TORBDBHeader FDBHeader;
  TORBCryptoHeader FCryptoHeader;
  TORBPassword FPassword;
  TORBLockedBytes FLockedBytes;
  int32_t FLockDBHeaderCount = 0;
  // The outermost LockDBHeader took the header's lock byte.
  bool FHeaderByteLocked = false;
  bool FExclusive = false;
  int64_t FOffsetToDBHeader = 0;
  int64_t FOffsetToCryptoHeader = 0;
  int64_t FOffsetToLockedBytes = 0;
  int64_t FOffsetToLastObjectID = 0;
  int64_t FOffsetToFirstPage = 0;

  bool FIsOpened = false;
  bool FRepairNeeded = false;
  int32_t FLockTries = kLockTries;
  int32_t FLockDelayMs = kLockDelayMs;
  // Keyed once per open database, one per algorithm met in page headers.
  std::array<std::unique_ptr<TORBCipher>, kCryptoAlgorithmCount> FCiphers;
  std::array<bool, kCryptoAlgorithmCount> FCipherTried{};
};

}  // namespace orb
