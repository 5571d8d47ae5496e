#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/table/page.h"
#include "engine/table/page_guard.h"
#include "engine/table/page_header.h"
#include "engine/table/sorted_page_list.h"
#include "engine/platform/critical_section.h"

namespace orb {

// Uncommitted work of one session.
struct TORBSessionPageInfo {
  int32_t SessionID = -1;
  // Pages the session changed; private to it until apply or cancel.
  TORBSortedPageList DirtyPages;
  // Pages allocated since the last apply or cancel.
  std::vector<int32_t> AddedPageNumbers;
  // Pages to free on apply, in the order asked for.
  std::vector<int32_t> RemovedPageNumbers;
};

// Changes that a layer above keeps in memory for a session instead of
// writing them into the session's pages at once (a value rewritten by every
// row change of a transaction, say). The page manager has them written
// before it applies the session's pages and has them forgotten when it
// cancels those pages, so that a session commits exactly what it would have
// committed had each change been written when it was made.
class TORBDeferredPageWork {
 public:
  virtual ~TORBDeferredPageWork() = default;
  // Writes the changes kept for `session` into its pages; on a failure
  // they stay kept.
  virtual void WriteDeferred(int32_t session) = 0;
  // Forgets the changes kept for `session` (TORBPageManager::kEverySession:
  // every session's, the storage is closing or the manager going away).
  // The work may unregister itself from here.
  virtual void DropDeferred(int32_t session) noexcept = 0;
};

// Hands pages to sessions over a storage supplied by a descendant.
//
// Clean pages live in a cache shared by all sessions of the process (least
// recently used evicted first). A page that a session changes moves into
// that session's private dirty list when it is put back; other sessions keep
// reading the stored version until ApplyChanges writes it, CancelChanges
// drops it. Every GetPage/AddPage is matched by one PutPage; a page in use
// belongs to one session. The manager owns every page object. The three
// calls are protected: code outside the manager and its storage
// descendants holds a page through a TORBPageGuard (GetPageGuard,
// AddPageGuard), which puts the page back when it goes out of scope.
//
// The manager takes no lock of its own, FCSect included: its callers
// serialise all calls on one manager with a lock of theirs (the database's
// critical section). A caller that names that lock with SetCallerLock has
// every call check, in debug builds, that the calling thread holds it.
//
// A descendant supplies the four storage primitives, sets the page sizes
// (SetPageSizes) and may hook in:
//   - IsSafeNotToSyncPage / UpdatePageTableState: per-session validation of
//     cached pages;
//   - IsDiskMultiUser / InternalReadPageState: a file shared with other
//     processes. When IsDiskMultiUser() is true, GetPage with synchronize
//     allowed asks InternalReadPageState for the stored State stamp of a
//     cached idle page and re-reads the page when the stamp moved.
class TORBPageManager {
 public:
  static constexpr int32_t kMaxCacheCapacity = 1000;
  static constexpr int32_t kInvalidSession = -1;
  static constexpr int32_t kSystemSession = -2;
  // DropDeferred of every session.
  static constexpr int32_t kEverySession = INT32_MIN;

  TORBPageManager();
  // Destroys every page it still holds, private ones included, silently. Call
  // CheckNoPrivatePages first to have uncommitted pages reported.
  // REQUIRES: no TORBPageGuard of this manager still holds a page.
  virtual ~TORBPageManager();
  TORBPageManager(const TORBPageManager&) = delete;
  TORBPageManager& operator=(const TORBPageManager&) = delete;

  TCriticalSection& CSect() { return FCSect; }
  // The lock that serialises the calls on this manager; null (the default)
  // checks nothing. The lock must outlive the manager or be unset first.
  void SetCallerLock(const TCriticalSection* lock) { FCallerLock = lock; }
  // True when no caller lock is set or the calling thread holds it.
  bool CallerLockHeld() const { return FCallerLock == nullptr || FCallerLock->HeldByCurrentThread(); }

  uint16_t GetPageSize() const { return FPageSize; }
  uint16_t GetPageHeaderSize() const { return FPageHeaderSize; }
  uint16_t GetPageDataSize() const { return FPageDataSize; }
  int32_t GetCacheCapacity() const { return FCacheCapacity; }
  bool GetMultiUser() const { return FMultiUser; }
  bool GetIgnoreCRCErrors() const { return FIgnoreCRCErrors; }
  void SetIgnoreCRCErrors(bool ignore) { FIgnoreCRCErrors = ignore; }
  // Number of pages in the shared cache.
  int32_t SharedPageCount() const { return FSharedPages.Count(); }
  // The session's uncommitted work, or null when the session is unknown.
  const TORBSessionPageInfo* FindSessionInfo(int32_t session) const;
  // True when ApplyChanges would write or free anything for the session.
  bool HasPendingChanges(int32_t session) const;
  // Moves on whenever the bytes some session gets from GetPage may have
  // changed in this process: a page marked changed or put back changed, a
  // page added, removed, re-read or dropped from the cache, a session's
  // changes applied or cancelled, every page discarded. Equal counts
  // around a stretch of time mean every session still reads what it read
  // before, so a copy of page bytes taken under one count stays exact
  // while the count holds. Changes of other processes (IsDiskMultiUser)
  // do not move it.
  uint64_t ChangeCount() const { return FChangeCount; }
  // Moves on whenever some session's private pages are applied, cancelled
  // or discarded. A page private to a session at two moments under one
  // count stayed private to it, the same page object, in between.
  uint64_t ApplyCount() const { return FApplyCount; }

  virtual int32_t GetPageCount() { return FPageCount; }

  // Every call below, and the protected GetPage, AddPage and PutPage,
  // REQUIRES: the caller lock, when set, is held by the calling thread
  // (asserted in debug builds).

  // The session's view of page `page_no`, held by a guard that puts it back
  // (see GetPage). Code outside the manager holds pages only this way.
  [[nodiscard]] TORBPageGuard GetPageGuard(int32_t session, int32_t page_no, uint16_t page_type,
                                           bool synchronize_allowed = true);
  // A new page of `page_type`, held by a guard (see AddPage).
  [[nodiscard]] TORBPageGuard AddPageGuard(int32_t session, uint16_t page_type);

  // Schedules `page_no` to be freed when the session applies.
  virtual void RemovePage(int32_t session, int32_t page_no);
  // Writes the session's private pages, then frees the pages it removed.
  // Raises 20152 while the session still uses a shared page (nothing
  // written), 20085/20086 for a clean or used private page (nothing
  // written). A storage failure leaves written pages written and the rest
  // pending.
  virtual void ApplyChanges(int32_t session);

  // Drops the session's private pages and gives back the pages it added.
  // Raises 20087/20088 for a clean or used private page (nothing dropped).
  void CancelChanges(int32_t session);

  // Registers `work` (once, however often added) until RemoveDeferredWork:
  // ApplyChanges(session) first has it write what it keeps for the
  // session, a successful CancelChanges(session) has it forget that, and
  // DiscardAllPages and the destructor have it forget everything.
  void AddDeferredWork(TORBDeferredPageWork* work);
  void RemoveDeferredWork(TORBDeferredPageWork* work) noexcept;

  // Raises 20097 when any session still has private pages.
  void CheckNoPrivatePages() const;
  // True when any session has private pages or page numbers it added or
  // removed that are not yet applied or cancelled.
  bool HasAnyPendingChanges() const;

 protected:
  friend class TORBPage;

  // The session's view of page `page_no`: its private copy, else the shared
  // one, read from storage when not cached. Checks the stored type of a
  // shared page, cached or read, against `page_type` (kPageTypeAny accepts
  // any); a private page is the session's own and is not checked.
  // Raises 20186 (session -1), 20299 (read failed), 20153 (type differs),
  // 20090 (page in use by another session).
  virtual TORBPage* GetPage(int32_t session, int32_t page_no, uint16_t page_type,
                            bool synchronize_allowed = true);
  // A new page of `page_type`, dirty, private to the session and in use
  // once. Raises 20064 when storage gives no page number.
  TORBPage* AddPage(int32_t session, uint16_t page_type);
  // Ends one use of `page` (a page of this manager). A page put back changed
  // moves into its session's private pages; a clean shared page becomes most
  // recently used and the cache is trimmed to its capacity. Never throws, so
  // that guards can put pages back while an exception unwinds; the one
  // allocation it may need (a session's private list growing) ends the
  // process when memory is exhausted rather than leave a changed page where
  // other sessions would read it.
  void PutPage(TORBPage* page) noexcept;

  // Numbering and the dirty flag of a page, for storage primitives and the
  // storage code of descendants (pages outside the cache included).
  static void SetPageNo(TORBPage& page, int32_t page_no) { page.FPageNo = page_no; }
  static void SetPageDirty(TORBPage& page, bool dirty) { page.FIsDirty = dirty; }

  // Forgets every page of the storage just closed: private pages and the
  // sessions' added and removed numbers are dropped without touching
  // storage, idle cached pages are destroyed, and pages still in use are
  // detached (destroyed when put back) so that no later GetPage finds them.
  void DiscardAllPages();

  // Sets the page and header sizes; the data size is their difference.
  void SetPageSizes(uint16_t page_size, uint16_t header_size);
  void SetCacheCapacity(int32_t capacity) { FCacheCapacity = capacity < 0 ? 0 : capacity; }

  TORBSessionPageInfo* FindSession(int32_t session);
  TORBSessionPageInfo& GetOrAddSession(int32_t session);

  // True when the cached `page` is known to be current for the session.
  virtual bool IsSafeNotToSyncPage(int32_t session, TORBPage& page);
  // Records that `page` was validated for the session.
  virtual void UpdatePageTableState(int32_t session, TORBPage& page);

  // Storage primitives.
  // Gives `page` a fresh number (SetPageNo) and a buffer (AllocPageBuffer).
  virtual void InternalAddPage(TORBPage& page) = 0;
  // Releases `page_no` in storage.
  virtual void InternalRemovePage(int32_t page_no) = 0;
  // Fills the page's buffer (allocating it when missing); false when the
  // page cannot be read.
  virtual bool InternalReadPage(TORBPage& page) = 0;
  // Stores the page's buffer.
  virtual void InternalWritePage(TORBPage& page) = 0;
  // Stores `pages`, whose numbers follow each other (ascending, no gap).
  // The default writes them one by one; a storage may write them at once.
  // When it raises, any of them may or may not be stored.
  virtual void InternalWritePages(std::span<TORBPage* const> pages);

  // Has every registered TORBDeferredPageWork write what it keeps for the
  // session (the first failure is raised, the rest stay kept).
  void WriteDeferredWork(int32_t session);
  void DropDeferredWork(int32_t session) noexcept;

  // Multi-user hooks, see the class comment.
  virtual bool IsDiskMultiUser() const { return false; }
  // Stored State stamp of `page_no`; kInvalidPageState when unreadable.
  virtual int32_t InternalReadPageState(int32_t page_no);

  TCriticalSection FCSect;
  int32_t FCacheCapacity;
  TORBSortedPageList FSharedPages;
  std::vector<std::unique_ptr<TORBSessionPageInfo>> FSessions;
  uint16_t FPageSize = 0;
  uint16_t FPageHeaderSize = 0;
  uint16_t FPageDataSize = 0;
  int32_t FPageCount = 0;
  bool FMultiUser = false;
  bool FIgnoreCRCErrors = false;

 private:
  friend class TORBPageGuard;

  // Bytes ApplyChanges hands to storage in one InternalWritePages at most.
  static constexpr size_t kMaxWriteRunBytes = size_t{1} << 20;

  // PutPage for a guard.
  void ReleaseGuarded(TORBPage* page) noexcept;
  // A private page of `info` just stored: clean, and shared while the
  // cache has room (else destroyed).
  void MarkWritten(TORBSessionPageInfo& info, TORBPage* page);
  // Destroys an idle page; a page still in use is detached from every list
  // and destroyed when its last use is put back.
  void Discard(TORBPage* page);
  // Takes page `page_no` out of the shared cache, if there.
  void DropShared(int32_t page_no);
  void TrimSharedPages();
  // Raises 20153 when the stored type of a shared page differs from the
  // one asked for (kPageTypeAny accepts any).
  void CheckStoredType(const TORBPage& page, uint16_t page_type) const;

  // Pages dropped from the cache while in use.
  std::vector<TORBPage*> FDetachedPages;
  // Registered deferred work, in the order registered.
  std::vector<TORBDeferredPageWork*> FDeferredWork;
  // The session FindSession found last (null when none): session entries
  // live until DiscardAllPages, which forgets this too.
  TORBSessionPageInfo* FLastSession = nullptr;
  const TCriticalSection* FCallerLock = nullptr;
  // Guards holding a page of this manager.
  int32_t FGuardCount = 0;
  uint64_t FChangeCount = 0;
  uint64_t FApplyCount = 0;
};

}  // namespace orb
