#include "engine/table/page_manager.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/table/memory_manager.h"
#include "engine/platform/random.h"

namespace orb {

namespace {

// Initial State stamp of a new page: 0 <= value < 0x3FFFFFFF.
int32_t NewPageState() { return RandomInt(0x3FFFFFFF); }

}  // namespace

TORBPageManager::TORBPageManager()
    : FCacheCapacity(static_cast<int32_t>(
          std::clamp<int64_t>(MemoryManager().GetFreeMemorySize() / 65536, 0, kMaxCacheCapacity))) {}

TORBPageManager::~TORBPageManager() {
  // A guard left holding a page would put it back into freed memory.
  assert(FGuardCount == 0);
  DropDeferredWork(kEverySession);
  FDeferredWork.clear();
  for (auto& info : FSessions) {
    for (int32_t i = 0; i < info->DirtyPages.Count(); ++i) delete info->DirtyPages.PageAt(i);
  }
  for (int32_t i = 0; i < FSharedPages.Count(); ++i) delete FSharedPages.PageAt(i);
  for (TORBPage* page : FDetachedPages) delete page;
}

void TORBPageManager::SetPageSizes(uint16_t page_size, uint16_t header_size) {
  if (header_size > page_size) throw std::invalid_argument("page header larger than the page");
  FPageSize = page_size;
  FPageHeaderSize = header_size;
  FPageDataSize = static_cast<uint16_t>(page_size - header_size);
}

TORBSessionPageInfo* TORBPageManager::FindSession(int32_t session) {
  if (FLastSession != nullptr && FLastSession->SessionID == session) return FLastSession;
  for (auto& info : FSessions) {
    if (info->SessionID == session) {
      FLastSession = info.get();
      return FLastSession;
    }
  }
  return nullptr;
}

const TORBSessionPageInfo* TORBPageManager::FindSessionInfo(int32_t session) const {
  for (const auto& info : FSessions) {
    if (info->SessionID == session) return info.get();
  }
  return nullptr;
}

TORBSessionPageInfo& TORBPageManager::GetOrAddSession(int32_t session) {
  if (TORBSessionPageInfo* info = FindSession(session)) return *info;
  auto info = std::make_unique<TORBSessionPageInfo>();
  info->SessionID = session;
  FSessions.push_back(std::move(info));
  return *FSessions.back();
}

bool TORBPageManager::HasPendingChanges(int32_t session) const {
  const TORBSessionPageInfo* info = FindSessionInfo(session);
  return info != nullptr && (info->DirtyPages.Count() > 0 || !info->RemovedPageNumbers.empty());
}

bool TORBPageManager::IsSafeNotToSyncPage(int32_t, TORBPage&) { return false; }

void TORBPageManager::UpdatePageTableState(int32_t, TORBPage&) {}

int32_t TORBPageManager::InternalReadPageState(int32_t) { return kInvalidPageState; }

void TORBPageManager::Discard(TORBPage* page) {
  if (page->FUseCount > 0) {
    page->FParentList = nullptr;
    FDetachedPages.push_back(page);
  } else {
    delete page;
  }
}

void TORBPageManager::DropShared(int32_t page_no) {
  if (TORBPage* old = FSharedPages.Find(page_no)) {
    ++FChangeCount;
    FSharedPages.Delete(page_no);
    Discard(old);
  }
}

void TORBPageManager::RemovePage(int32_t session, int32_t page_no) {
  assert(CallerLockHeld());
  TORBSessionPageInfo& info = GetOrAddSession(session);
  ++FChangeCount;
  auto& removed = info.RemovedPageNumbers;
  // Freeing a page twice would corrupt the free space.
  if (std::find(removed.begin(), removed.end(), page_no) == removed.end()) removed.push_back(page_no);
}

TORBPage* TORBPageManager::GetPage(int32_t session, int32_t page_no, uint16_t page_type,
                                   bool synchronize_allowed) {
  assert(CallerLockHeld());
  if (session == kInvalidSession) RaiseORB(20186, "Invalid Session ID");
  TORBSessionPageInfo& info = GetOrAddSession(session);
  TORBPage* page = info.DirtyPages.Find(page_no);
  if (page == nullptr) {
    page = FSharedPages.Find(page_no);
    if (page != nullptr) {
      // A page in use or changed is never re-read under its user.
      if (synchronize_allowed && page->FUseCount == 0 && !page->FIsDirty &&
          !IsSafeNotToSyncPage(session, *page)) {
        // A re-read goes straight into the cached buffer: when it fails or
        // raises (a damaged encrypted page) the buffer may hold half-read
        // bytes under the new stamp, so the page leaves the cache.
        bool synchronized = false;
        ++FChangeCount;
        try {
          synchronized = page->Synchronize();
        } catch (...) {
          DropShared(page_no);
          throw;
        }
        if (!synchronized) {
          DropShared(page_no);
          RaiseORB(20299, "Error reading database file page. Page No: %d, type %d", {page_no, page_type});
        }
        UpdatePageTableState(session, *page);
      }
      CheckStoredType(*page, page_type);
    } else {
      auto fresh = std::make_unique<TORBPage>(this);
      fresh->FPageNo = page_no;
      fresh->FSessionID = session;
      // A page that cannot be read is not cached.
      if (!InternalReadPage(*fresh)) {
        RaiseORB(20299, "Error reading database file page. Page No: %d, type %d", {page_no, page_type});
      }
      fresh->FReloaded = true;
      FSharedPages.Insert(fresh.get());
      page = fresh.release();
      page->FParentList = &FSharedPages;
      CheckStoredType(*page, page_type);
      UpdatePageTableState(session, *page);
    }
  }
  if (page->FUseCount > 0 && page->FSessionID != session) RaiseORB(20090, "Page is used by other session");
  page->FSessionID = session;
  ++page->FUseCount;
  return page;
}

void TORBPageManager::CheckStoredType(const TORBPage& page, uint16_t page_type) const {
  if (!FIgnoreCRCErrors && FPageHeaderSize > 0 && page_type != kPageTypeAny && page.GetPageType() != page_type) {
    RaiseORB(20153, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
             {page_type, page.GetPageType()});
  }
}

TORBPage* TORBPageManager::AddPage(int32_t session, uint16_t page_type) {
  assert(CallerLockHeld());
  TORBSessionPageInfo& info = GetOrAddSession(session);
  ++FChangeCount;
  auto fresh = std::make_unique<TORBPage>(this);
  InternalAddPage(*fresh);
  if (fresh->FPageNo < 0) RaiseORB(20064, "Invalid page number");
  if (fresh->FPageBuffer == nullptr) fresh->AllocPageBuffer();
  fresh->FUseCount = 1;
  fresh->FIsDirty = true;
  fresh->FReloaded = false;
  if (FPageHeaderSize > 0) {
    fresh->SetPageType(page_type);
    fresh->SetState(NewPageState());
  }
  fresh->FSessionID = session;
  // A cached copy of a page removed earlier is stale now.
  DropShared(fresh->FPageNo);
  info.DirtyPages.Insert(fresh.get());
  TORBPage* page = fresh.release();
  page->FParentList = &info.DirtyPages;
  info.AddedPageNumbers.push_back(page->FPageNo);
  return page;
}

TORBPageGuard TORBPageManager::GetPageGuard(int32_t session, int32_t page_no, uint16_t page_type,
                                            bool synchronize_allowed) {
  TORBPageGuard guard(this, GetPage(session, page_no, page_type, synchronize_allowed));
  ++FGuardCount;
  return guard;
}

TORBPageGuard TORBPageManager::AddPageGuard(int32_t session, uint16_t page_type) {
  TORBPageGuard guard(this, AddPage(session, page_type));
  ++FGuardCount;
  return guard;
}

void TORBPageManager::ReleaseGuarded(TORBPage* page) noexcept {
  --FGuardCount;
  PutPage(page);
}

void TORBPageManager::PutPage(TORBPage* page) noexcept {
  assert(CallerLockHeld());
  if (page == nullptr || page->FUseCount <= 0) return;
  assert(page->LPageManager == this);
  if (page->FIsDirty) ++FChangeCount;
  if (--page->FUseCount == 0) page->FReloaded = false;
  if (page->FParentList == nullptr) {
    // Dropped while in use: its contents are stale or freed.
    if (page->FUseCount == 0) {
      auto it = std::find(FDetachedPages.begin(), FDetachedPages.end(), page);
      assert(it != FDetachedPages.end());
      if (it != FDetachedPages.end()) FDetachedPages.erase(it);
      delete page;
    }
    return;
  }
  if (page->FParentList != &FSharedPages) return;
  if (page->FUseCount == 0) {
    if (page->FIsDirty) {
      TORBSessionPageInfo& info = GetOrAddSession(page->FSessionID);
      FSharedPages.Delete(page->FPageNo);
      info.DirtyPages.Insert(page);
      page->FParentList = &info.DirtyPages;
      return;
    }
    FSharedPages.UpdateLRU(page);
  }
  if (FSharedPages.Count() > FCacheCapacity) TrimSharedPages();
}

void TORBPageManager::TrimSharedPages() {
  // The least recently used idle pages go, down to a sixteenth below the
  // capacity: finding them walks the whole cache, a cost paid once per
  // many puts instead of on each. A cache of fewer than 16 pages is cut to
  // its capacity exactly.
  const int32_t target = FCacheCapacity - FCacheCapacity / 16;
  const int32_t excess = FSharedPages.Count() - target;
  if (excess <= 0) return;
  // (stamp, position) of each idle page; the chosen ones leave the list in
  // one pass, since removing them one by one moves the rest each time.
  std::vector<std::pair<int64_t, int32_t>> idle;
  for (int32_t i = 0; i < FSharedPages.Count(); ++i) {
    if (FSharedPages.PageAt(i)->FUseCount == 0) idle.emplace_back(FSharedPages.StampAt(i), i);
  }
  const auto evicted = static_cast<std::ptrdiff_t>(std::min<size_t>(idle.size(), static_cast<size_t>(excess)));
  if (evicted == 0) return;
  std::nth_element(idle.begin(), idle.begin() + evicted, idle.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<bool> marked(static_cast<size_t>(FSharedPages.Count()), false);
  std::vector<TORBPage*> pages;
  pages.reserve(static_cast<size_t>(evicted));
  for (auto it = idle.begin(); it != idle.begin() + evicted; ++it) {
    marked[static_cast<size_t>(it->second)] = true;
    pages.push_back(FSharedPages.PageAt(it->second));
  }
  FSharedPages.DeleteMarked(marked);
  for (TORBPage* page : pages) delete page;
}

void TORBPageManager::ApplyChanges(int32_t session) {
  assert(CallerLockHeld());
  WriteDeferredWork(session);
  for (int32_t i = 0; i < FSharedPages.Count(); ++i) {
    const TORBPage* page = FSharedPages.PageAt(i);
    if (page->FSessionID == session && page->FUseCount > 0) RaiseORB(20152, "Some session pages not released");
  }
  TORBSessionPageInfo* info = FindSession(session);
  if (info == nullptr) return;
  ++FChangeCount;
  ++FApplyCount;

  auto is_removed = [info](int32_t page_no) {
    const auto& removed = info->RemovedPageNumbers;
    return std::find(removed.begin(), removed.end(), page_no) != removed.end();
  };

  // Check every page before writing any, in ascending page-number order.
  std::vector<TORBPage*> to_write;
  for (int32_t i = 0; i < info->DirtyPages.Count(); ++i) {
    TORBPage* page = info->DirtyPages.PageAt(i);
    if (is_removed(page->FPageNo)) continue;
    if (!page->FIsDirty) RaiseORB(20085, "Invalid page");
    if (page->FUseCount > 0) RaiseORB(20086, "Cannot write used page");
    to_write.push_back(page);
  }

  // Write before freeing: a failed write must not leave freed pages that
  // live structures still point to. Pages with consecutive numbers go to
  // storage together; a page counts as written (clean, shared) only once
  // its whole run is stored, so a failure leaves the run pending.
  const size_t max_run = std::max<size_t>(1, kMaxWriteRunBytes / std::max<size_t>(FPageSize, 1));
  for (size_t first = 0; first < to_write.size();) {
    size_t end = first + 1;
    while (end < to_write.size() && end - first < max_run && to_write[end]->FPageNo == to_write[end - 1]->FPageNo + 1)
      ++end;
    const std::span<TORBPage* const> run(to_write.data() + first, end - first);
    if (run.size() == 1) InternalWritePage(*run[0]); else InternalWritePages(run);
    first = end;
    for (TORBPage* page : run) MarkWritten(*info, page);
  }

  auto& removed = info->RemovedPageNumbers;
  size_t done = 0;
  try {
    for (; done < removed.size(); ++done) {
      int32_t page_no = removed[done];
      InternalRemovePage(page_no);
      if (TORBPage* page = info->DirtyPages.Find(page_no)) {
        info->DirtyPages.Delete(page_no);
        Discard(page);
      }
      DropShared(page_no);
    }
  } catch (...) {
    removed.erase(removed.begin(), removed.begin() + static_cast<std::ptrdiff_t>(done));
    throw;
  }
  removed.clear();
  info->AddedPageNumbers.clear();
}

void TORBPageManager::InternalWritePages(std::span<TORBPage* const> pages) {
  for (TORBPage* page : pages) InternalWritePage(*page);
}

void TORBPageManager::MarkWritten(TORBSessionPageInfo& info, TORBPage* page) {
  page->FIsDirty = false;
  info.DirtyPages.Delete(page->FPageNo);
  // Copies other sessions read while the page was private are stale.
  DropShared(page->FPageNo);
  if (FSharedPages.Count() < FCacheCapacity) {
    FSharedPages.Insert(page);
    page->FParentList = &FSharedPages;
  } else {
    delete page;
  }
}

void TORBPageManager::CancelChanges(int32_t session) {
  assert(CallerLockHeld());
  TORBSessionPageInfo* info = FindSession(session);
  if (info == nullptr) {
    DropDeferredWork(session);
    return;
  }
  ++FChangeCount;
  ++FApplyCount;
  for (int32_t i = 0; i < info->DirtyPages.Count(); ++i) {
    const TORBPage* page = info->DirtyPages.PageAt(i);
    if (!page->FIsDirty) RaiseORB(20087, "Invalid index page");
    if (page->FUseCount > 0) RaiseORB(20088, "Cannot remove used page");
  }
  for (int32_t i = 0; i < info->DirtyPages.Count(); ++i) delete info->DirtyPages.PageAt(i);
  info->DirtyPages.Clear();
  // What the kept work would have written is gone with the private pages.
  DropDeferredWork(session);

  auto& added = info->AddedPageNumbers;
  size_t done = 0;
  try {
    for (; done < added.size(); ++done) {
      InternalRemovePage(added[done]);
      // Storage no longer holds this page; a copy another session read is stale.
      DropShared(added[done]);
    }
  } catch (...) {
    added.erase(added.begin(), added.begin() + static_cast<std::ptrdiff_t>(done));
    throw;
  }
  info->RemovedPageNumbers.clear();
  added.clear();
}

bool TORBPageManager::HasAnyPendingChanges() const {
  for (const auto& info : FSessions) {
    if (info->DirtyPages.Count() > 0 || !info->AddedPageNumbers.empty() || !info->RemovedPageNumbers.empty()) {
      return true;
    }
  }
  return false;
}

void TORBPageManager::AddDeferredWork(TORBDeferredPageWork* work) {
  if (std::find(FDeferredWork.begin(), FDeferredWork.end(), work) == FDeferredWork.end()) FDeferredWork.push_back(work);
}

void TORBPageManager::RemoveDeferredWork(TORBDeferredPageWork* work) noexcept {
  std::erase(FDeferredWork, work);
}

void TORBPageManager::WriteDeferredWork(int32_t session) {
  if (FDeferredWork.empty()) return;
  // A copy: the work may unregister itself once written.
  const std::vector<TORBDeferredPageWork*> works = FDeferredWork;
  for (TORBDeferredPageWork* work : works) work->WriteDeferred(session);
}

void TORBPageManager::DropDeferredWork(int32_t session) noexcept {
  if (FDeferredWork.empty()) return;
  const std::vector<TORBDeferredPageWork*> works = FDeferredWork;
  for (TORBDeferredPageWork* work : works) work->DropDeferred(session);
}

void TORBPageManager::DiscardAllPages() {
  DropDeferredWork(kEverySession);
  ++FChangeCount;
  ++FApplyCount;
  for (auto& info : FSessions) {
    for (int32_t i = 0; i < info->DirtyPages.Count(); ++i) Discard(info->DirtyPages.PageAt(i));
    info->DirtyPages.Clear();
  }
  FSessions.clear();
  FLastSession = nullptr;
  for (int32_t i = 0; i < FSharedPages.Count(); ++i) Discard(FSharedPages.PageAt(i));
  FSharedPages.Clear();
}

void TORBPageManager::CheckNoPrivatePages() const {
  for (const auto& info : FSessions) {
    if (info->DirtyPages.Count() > 0) RaiseORB(20097, "Cannot free non-committed pages");
  }
}

}  // namespace orb
