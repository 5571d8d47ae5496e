#pragma once

// How a database file stays consistent
// ====================================
//
// Offsets below use the names of disk_header.h: H database header, L lock
// bytes, O last object id, F first page; page n starts at F + n * PageSize.
// The byte layouts themselves are documented beside their structures
// (disk_header.h, page_header.h, free_space.h, internal_file.h).
//
// Locks
//
// 1. Every lock is a non-blocking byte-range lock owned by one open file
//    (TORBDatabaseFile) and released when that file closes; all but the
//    shared open's share lock are exclusive. A
//    lock call never waits: a caller that must wait retries through
//    TryUsingTimeOut (4500 tries 20 ms apart for the header and object-id
//    locks, unless SetLockRetries says otherwise). In design mode the file
//    is opened around each operation and stays open while a lock is held.
//
// 2. Each lock target guards one thing:
//    | byte                 | guards                  | taken by             |
//    | 2^62, far past the   | the share mode of the   | the platform file,   |
//    | data                 | open: write lock when   | from open to close   |
//    |                      | exclusive, read lock    |                      |
//    |                      | when shared             |                      |
//    | L + 4, DBHeaderByte  | the header lock: every  | OpenDatabase around  |
//    |                      | read-modify-write of    | LoadDBHeader; all of |
//    |                      | the database header and | ApplyChanges;        |
//    |                      | of the PFS and EAM      | GetPageCount (one    |
//    |                      | pages                   | try); the free space |
//    |                      |                         | manager's GetPage,   |
//    |                      |                         | FreePage, Truncate-  |
//    |                      |                         | ToLastUsedPage       |
//    | L + 3, TablesByte    | changes to the set of   | LockTables, called   |
//    |                      | tables                  | above this layer     |
//    | L + 2, FSMByte       | nothing: never locked   |                      |
//    | O, first byte of the | the object-id counter   | GetNextObjectID,     |
//    | last object id       |                         | InitObjectID         |
//    | F + n * PageSize +   | one lock slot of a      | LockPageByte, via    |
//    | offset               | direct-access internal  | the direct-access    |
//    |                      | file: byte 0 of its     | files' LockFile and  |
//    |                      | first page (the file)   | LockByte             |
//    |                      | or a byte of its        |                      |
//    |                      | contents                |                      |
//    A lock means what it means by being held: the contents of its byte
//    play no part (the object-id byte also belongs to the counter, and
//    byte 0 of a first page to its page header's signature).
//
// 3. The header lock nests within one manager (FLockDBHeaderCount): only
//    the outermost LockDBHeader takes the byte and only the matching last
//    UnlockDBHeader releases it. The page releases a commit makes
//    therefore run under the commit's own lock.
//
// 4. A file opened exclusively for writing (outside design mode) takes no
//    header byte at all: the share lock already keeps every other process
//    out. Such a file keeps its map pages and the header's page counts in
//    memory between calls and writes them before anything else reaches the
//    file: before an ordinary page or a page stamp is written, before a
//    page region is read or written, before the header is read or saved,
//    and on close. A shared file's map changes reach the file before its
//    header lock is released. A file held for one single-user writer
//    (other opens get it read-only) keeps its maps the same way; its page
//    allocations (the free space manager's GetPage) then take no header
//    byte, as they change nothing stored but the file's length, while its
//    commits and page releases still do.
//
// Page stamps
//
// 5. Every page header carries a State stamp (page offset 4). A page added
//    through the cache starts at a pseudo-random value below 0x3FFFFFFF, a
//    map page at 0. Every InternalWritePage stores the previous value + 1,
//    wrapping to 0 before 2147483645. Removing a page (InternalRemovePage,
//    on commit or on cancel of an added page) first writes 2147483647
//    (kInvalidPageState) into the stored stamp when the page lies inside
//    the file, then frees the page in the maps. A page that cannot be read
//    carries 2147483647 in memory.
//
// 6. In single-user mode (exclusive opens included) a cached page is never
//    checked against the file. In multi-user mode GetPage checks a page
//    found in the shared cache, not in use and not dirty, when the caller
//    allows it and the page is not known to be current: it is current when
//    the session's current work table is locked from modification (ltS or
//    ltRW) with its most-updated state loaded, and the page records, for
//    this session, that same table id and table state. The check
//    (TORBPage::Synchronize) reads the four stored stamp bytes alone
//    (through a shared read-only view of the file, which shows every
//    completed write of any process as a read of the file would; a stamp
//    past the view maps the file again, and one that the file no longer
//    holds because another process cut it is read from the file, whose
//    short read gives 2147483647 as before): an
//    equal stamp, or 2147483647, keeps the cached bytes and takes the
//    stored stamp (so a page another process removed now carries
//    2147483647 and reads as removed to the layers above); any other
//    stamp re-reads the whole page. A failed re-read drops the page from
//    the cache (20299). A checked or freshly read page then records the
//    session's current table id and state. A session's private pages are
//    never checked.
//
// 7. This holds because a writer in another process needs table locks
//    that conflict with ltS and ltRW, and the table state moves with every
//    committed change of the table. A stale copy can pass the stamp check
//    only if the stored stamp comes back to the cached value: after about
//    2^31 writes of the page, or when another process removes the page and
//    adds it again with a random start that happens to meet the cached
//    stamp.
//
// The commit (ApplyChanges)
//
// 8. Page numbers are not part of a commit. AddPage takes a number from the
//    maps at once, under the header lock (the file grows first, its
//    header's TotalPageCount after); CancelChanges gives it back. A page
//    number taken by a session that never commits stays marked in use:
//    leaked, never corrupt.
//
// 9. ApplyChanges(session), in order:
//    a. Nothing to do without private or removed pages.
//    b. Refusals before the file is touched: 20152 when the session still
//       uses a shared page, 20085 / 20086 for a private page that is not
//       dirty or still in use (pages about to be removed aside).
//    c. Take the header lock (20213 when the retries run out). The
//       outermost lock of a shared file first rolls back a hot journal
//       (point 13).
//    d. Start the rollback journal `<file>-journal` (rollback_journal.h):
//       its header holds the stored database header, the file size and a
//       random nonce. Where the maps are kept in memory (point 4) this
//       comes before LoadDBHeader, whose map writes then belong to the
//       commit; otherwise after it.
//    e. LoadDBHeader; remember whether WriteChangesState was 2.
//    f. Put into the journal the stored image of every private and every
//       removed page that held committed data: below the old
//       TotalPageCount and inside the old file, not taken by the
//       session's AddPage (those were free before the commit). Write the
//       journal; with `flush`, fdatasync it. Every later write of a page
//       the journal does not hold yet (map pages, page stamps, page
//       regions) first appends that page's image, flushed likewise.
//    g. WriteChangesState 1 (SaveDBHeader with the external-change check,
//       which matters only in design mode), so that a reader that knows
//       no journal never takes the file for sound in between.
//    h. Write every private page in ascending page order (stamp + 1; the
//       stored copy encrypted when the database is). Then remove the
//       removed pages in the order they were recorded: stamp 2147483647,
//       free in the maps, and cut the file's free tail when it is long
//       enough (the header is saved with the smaller TotalPageCount before
//       the file is cut).
//    i. State + 1 (wrapping); WriteChangesState back to 2, or kept at 1
//       when it was 1 at step e; SaveDBHeader, which writes any map pages
//       still held in memory first. With `flush`, fdatasync the file.
//    j. The commit point: the journal is emptied, its handle kept for the
//       next commit (with `flush` the journal is flushed). A handle whose
//       file another process's recovery removed is opened again at d. The
//       empty journal of a shared file stays when the file closes (another
//       process's commit may have begun on it); an empty journal means no
//       journal.
//    k. On a failure after d, the journal is rolled back at once (point
//       13) while the header lock is held; when even that fails it stays
//       for the next open. The header lock is released on every path.
//    Pages are written before removed pages are freed, so a failure never
//    leaves freed pages that a written page still points to.
//
// 10. A file left at WriteChangesState 1 by a commit without a journal (a
//    writer that knows none, or a damaged file) stays at 1: every later
//    commit finds 1 at step e and keeps it at step i, and the manager
//    reports GetRepairNeeded(). Nothing in this layer returns such a file
//    to 2: that is the repair's work.
//
// What a crash leaves, and how the next open sees it
//
// 11. A journal record is complete in the journal before its page is
//    overwritten, and the journal's header is complete before anything
//    of the database is. While the operating system survives (the process
//    is killed or fails), every completed write is in its file, so:
//    | the process stops          | the files hold            | next open |
//    | before the journal header  | the previous commit; no   | sound     |
//    | is complete                | journal, or one that does |           |
//    |                            | not check out (removed)   |           |
//    | after it, before j         | a hot journal: every      | rolls     |
//    |                            | overwritten page's old    | back,     |
//    |                            | image, the old header and | sound     |
//    |                            | size                      |           |
//    | after j                    | the whole commit          | sound     |
//    A record torn by the crash ends the journal: its page was not yet
//    written. Pages taken by AddPage before the commit stay marked in use
//    when the commit is rolled back or never made (leaked, point 8), and
//    so do pages whose allocation reached the maps but not yet the header
//    of a shared file: the header's LastUsedPageNo then lags behind. Both
//    cost space only.
//
// 12. Durability. With `flush` the journal is flushed before the first
//    overwrite (f), the file after the final header (i), and the commit
//    point (j) is made durable before ApplyChanges returns. So after a power
//    loss a flushed commit that returned is whole on disk with no journal
//    to undo it, and one that did not return is either whole or rolled
//    back from a journal whose records are on disk before the pages they
//    cover. Without `flush` nothing is flushed: a process crash is safe
//    (point 11), but after a power loss or an operating system crash the
//    disk may hold any subset of the writes, in any order. Closing a
//    writable file always flushes it.
//
// 13. Recovery. OpenDatabase, once it has found the file's layout, takes
//    the header lock when a non-empty journal exists and rolls it back
//    before any page is served: the file is cut (or grown) to the old
//    size, every image written back, the old header written, the file
//    flushed, the journal removed and its folder flushed. Rolling back
//    twice gives the same file, so a crash during recovery is harmless.
//    A journal that does not check out is removed. A read-only open that
//    finds a hot journal fails with 30645. In a shared file the outermost
//    header lock and every table lock (before the table is read) roll
//    back a journal that a dead writer left; whoever holds the header
//    lock recovers, others wait for that lock. A live writer's journal is
//    never touched: it holds the header lock until its commit point. Then
//    OpenDatabase reports repair needed when WriteChangesState is not 2 or
//    Version is below 2.99; the file opens anyway. Encrypted pages carry
//    a checksum of their data (30446 on a mismatch when read), and their
//    journal images are the stored, encrypted bytes; plain pages carry
//    none.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/disk/database_file.h"
#include "engine/disk/disk_header.h"
#include "engine/disk/encryption.h"
#include "engine/disk/rollback_journal.h"
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

  // The stored TotalPageCount, read under the header lock, waited for as
  // for a commit (20236 when it stays held).
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
  // IsPageRegionLocked without the byte at `held`, which this file holds
  // locked (LockPageByte).
  bool IsPageRegionLockedExcept(int32_t page_no, int32_t offset, int32_t count, int32_t held);

  void FlushBuffers();

  // Refuses map pages (30434) before the cache work, as GetPage does.
  void RemovePage(int32_t session, int32_t page_no) override;
  // Commits the session under the header lock (20213): the rollback
  // journal, WriteChangesState 1, the pages, State + 1 and
  // WriteChangesState 2 (kept at 1 on a file already left at 1), then the
  // journal's removal as the commit point. See points 9 to 13 above.
  // Nothing is flushed: safe against a killed process, not a power loss.
  void ApplyChanges(int32_t session) override;
  // The same; with `flush` the journal is flushed before the first
  // overwrite, the file before the commit point and the commit point
  // before returning, so that the commit survives a power loss.
  void ApplyChanges(int32_t session, bool flush);

  // Stored State stamp of a page; kInvalidPageState when unreadable.
  int32_t InternalReadPageState(int32_t page_no) override;
  void InternalWritePageState(int32_t page_no, int32_t state);

  // The journal beside the open file holds an unfinished commit: a hot
  // journal, rolled back by the next writer that takes the header lock.
  bool HasHotJournal() const;
  // Rolls back a journal that another process, stopped in the middle of
  // its commit, left behind, before this process reads what that commit
  // wrote (taken table locks call it). One file status call when there is
  // none; 20213 when the header lock stays taken.
  void RecoverOtherWritersJournal();

  // Decides when a cached page must be checked against the file.
  TORBDiskTablePagesCacheManager& TablePagesCacheManager() { return FTablePagesCacheManager; }

  // Shortens the lock retries (tests, callers with their own waiting).
  void SetLockRetries(int32_t tries, int32_t delay_ms) {
    FLockTries = tries;
    FLockDelayMs = delay_ms;
  }

 protected:
  friend class TORBDatabaseFreeSpaceManager;

  // Refuses map pages (30434) before the cache work.
  TORBPage* GetPage(int32_t session, int32_t page_no, uint16_t page_type, bool synchronize_allowed = true) override;

  void InternalAddPage(TORBPage& page) override;
  void InternalRemovePage(int32_t page_no) override;
  bool InternalReadPage(TORBPage& page) override;
  void InternalWritePage(TORBPage& page) override;
  // One positioned write for the run (map pages are written alone).
  void InternalWritePages(std::span<TORBPage* const> pages) override;
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
  // Moves the page's State stamp on and puts its stored form (encrypted
  // when the database is and the page is no map page) at `out`, PageSize
  // bytes; with a null `out` the stored form is the page's own buffer,
  // which then stays plain when no encryption applies. Returns the bytes
  // to write.
  const uint8_t* PreparePageImage(TORBPage& page, uint8_t* out, std::vector<uint8_t>& scratch);
  // Writes the allocation changes kept in memory, before anything else
  // reaches the file or the header is read again.
  void FlushFreeSpace();
  // Cipher of `algorithm` keyed with the database password; null when it
  // cannot be keyed.
  const TORBCipher* CipherFor(uint8_t algorithm);
  // Reads `count` stored bytes at `position` through FFileView (page
  // stamps, direct-access regions); false when the view cannot serve them
  // and the caller reads the file.
  bool ReadFromView(int64_t position, void* out, size_t count);
  bool TryLock(const std::function<bool()>& lock) const;
  // LockDBHeader for work that changes nothing another process reads
  // through the header lock: nests as LockDBHeader does, but an outermost
  // call takes no file byte. REQUIRES: the free space manager keeps the
  // maps in memory (KeepsMaps).
  void LockDBHeaderInMemory();
  bool LockFileByte(int64_t offset);
  bool UnlockFileByte(int64_t offset);
  // True when the file cannot be written; `*in_use` receives the failure
  // when that is because another open holds the file against the probe.
  static bool IsFileReadOnly(const std::u16string& file_name, bool multi_user, bool& read_only_attribute,
                             PlatformStatus* in_use);

  // Puts the stored images of pages first_page .. first_page + count - 1
  // that the running commit overwrites into the journal, unless they are
  // there already, were free before the commit or lie past the file as it
  // was. With `write` the journal is written (and flushed on a flushed
  // commit) before the caller overwrites them. Nothing outside a commit.
  void JournalPages(int32_t first_page, int32_t count, bool write = true);
  // Rolls back a hot journal: writes its images back, cuts the file to
  // its old size, restores the header and removes the journal, flushed,
  // before anything is read. A journal that does not check out is removed.
  // 30645 on a read-only file with a hot journal. REQUIRES: the header
  // lock is held, or the file is held exclusively.
  void RecoverJournal();

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
  // A read-only view of the file from its first byte (multi-user, outside
  // design mode), through which page stamps, the database header and
  // direct-access regions (the table locks files' row ids) are read
  // without a system call. It covers the file as it was when last mapped: a stamp past it
  // maps the file again at its current size, and a read of bytes that the
  // file no longer holds fails over to a read of the file.
  TPlatformFileView FFileView;
  // The rollback journal of the running commit, and what it covers: pages
  // below FJournalPageLimit not in FJournalSkip (the committing session's
  // added pages).
  TORBRollbackJournal FJournal;
  std::string FDatabasePath;
  int32_t FJournalPageLimit = 0;
  std::vector<int32_t> FJournalSkip;
  bool FJournalFlush = false;
  bool FRecovering = false;
};

}  // namespace orb
