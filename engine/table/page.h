#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/table/page_header.h"

namespace orb {

class TORBPageManager;
class TORBSortedPageList;

// The table state under which a session last validated a page copy, and
// the table that state belongs to (-1 when not tied to a table): equal
// states of two different tables say nothing about each other.
struct TORBPageTableStateInfo {
  int32_t TableState = 0;
  bool IsTableStateValueAssigned = false;
  int32_t TableID = -1;
};

// One page in memory: the whole page (header, then data) in a buffer from
// the memory manager. The page manager creates, tracks and destroys pages:
// code outside it holds a page through a TORBPageGuard and never deletes
// one. The page number, dirty flag, use count, parent list, session and
// reload flag belong to the manager and are read-only here: a holder marks
// its changes with TORBPageGuard::MarkDirty, and a manager's storage
// primitives number a page with TORBPageManager::SetPageNo and fill
// FPageBuffer.
class TORBPage {
 public:
  explicit TORBPage(TORBPageManager* manager);
  ~TORBPage();
  TORBPage(const TORBPage&) = delete;
  TORBPage& operator=(const TORBPage&) = delete;

  // Sizes come from the owning manager.
  uint8_t* GetPageHeader() const { return FPageBuffer; }
  uint16_t GetPageHeaderSize() const;
  uint8_t* GetPageData() const { return FPageBuffer + GetPageHeaderSize(); }
  uint16_t GetPageDataSize() const;
  uint16_t GetPageSize() const;

  // Writes a fresh header into the buffer (no-op when the manager's pages
  // have no header).
  void InitHeader();
  // Replaces the buffer by a zero-filled own one of page size, then
  // InitHeader.
  void AllocPageBuffer();
  // Zeroes the whole page.
  void ClearPageBuffer();
  // Frees an own buffer; forgets a borrowed one.
  void FreeAndNilPageBuffer();
  // Makes the buffer `size` bytes (at least the page size) and owned; the
  // page's bytes are kept and the rest is zero. 20038 without a buffer, 20039
  // for a size below the page size.
  void EnlargePageBuffer(int32_t size);

  // Brings a cached copy up to date with storage when the manager shares its
  // file with other processes: compares the stored State stamp with the
  // buffer's and re-reads the page when the stamp moved. A stored stamp of
  // kInvalidPageState (removed or unreadable) is copied into the buffer.
  // Returns false when the re-read failed; the buffer is then undefined.
  bool Synchronize();

  // Table state recorded for `session`; false when none is assigned.
  bool GetTableState(int32_t session, int32_t& state) const;
  void SetTableState(int32_t session, int32_t state);
  // The same with the table the state belongs to.
  bool GetTableState(int32_t session, int32_t& table_id, int32_t& state) const;
  void SetTableState(int32_t session, int32_t table_id, int32_t state);

  // Header fields in the buffer (pages with a header only).
  TORBDiskPageHeader ReadHeader() const { return TORBDiskPageHeader::LoadFrom(FPageBuffer); }
  void WriteHeader(const TORBDiskPageHeader& header) { header.SaveTo(FPageBuffer); }
  int32_t GetState() const { return ReadPageHeaderState(FPageBuffer); }
  void SetState(int32_t state) { WritePageHeaderState(FPageBuffer, state); }
  uint16_t GetPageType() const { return ReadPageHeaderType(FPageBuffer); }
  void SetPageType(uint16_t page_type) { WritePageHeaderType(FPageBuffer, page_type); }
  int32_t GetNextPageNo() const { return ReadPageHeaderNextPageNo(FPageBuffer); }
  void SetNextPageNo(int32_t next_page_no) { WritePageHeaderNextPageNo(FPageBuffer, next_page_no); }

  // Place of the page in storage; -1 until storage gives it one.
  int32_t PageNo() const { return FPageNo; }
  // The buffer differs from the stored page.
  bool IsDirty() const { return FIsDirty; }
  // Uses handed out and not yet put back (one per holding guard).
  int32_t UseCount() const { return FUseCount; }
  // Session that last obtained the page.
  int32_t SessionID() const { return FSessionID; }
  // The buffer was (re)read from storage during the current use.
  bool Reloaded() const { return FReloaded; }
  // Table states recorded so far, indexed by session id + 2.
  size_t TableStateCount() const { return FTableStates.size(); }

  TORBPageManager* LPageManager;
  uint8_t* FPageBuffer = nullptr;
  bool FOwnBuffer = true;
  bool FEncryptionEnabled = true;

 private:
  // The manager and its disk form keep the page's place in the cache; a
  // guard marks the page it holds dirty.
  friend class TORBPageManager;
  friend class TORBDiskPageManager;
  friend class TORBPageGuard;

  int32_t FPageNo = -1;
  // Set through TORBPageGuard::MarkDirty by whoever changes the buffer,
  // cleared by the manager once the page is written.
  bool FIsDirty = false;
  int32_t FUseCount = 0;
  // List the page sits in: the shared cache, a session's dirty pages, or
  // null once the page has been dropped while still in use.
  TORBSortedPageList* FParentList = nullptr;
  int32_t FSessionID = -1;
  bool FReloaded = false;
  // Indexed by session id + 2.
  std::vector<TORBPageTableStateInfo> FTableStates;
};

// A typed view over one page; base of the structured page kinds.
class TORBPageController {
 public:
  explicit TORBPageController(TORBPage* page = nullptr) : LPage(page) {}
  virtual ~TORBPageController() = default;

  TORBPage* Page() const { return LPage; }
  void SetPage(TORBPage* page) { LPage = page; }

  int32_t PageNo() const { return LPage->PageNo(); }
  uint16_t PageSize() const { return LPage->GetPageSize(); }
  uint8_t* PageBuffer() const { return LPage->FPageBuffer; }
  bool OwnBuffer() const { return LPage->FOwnBuffer; }
  void SetOwnBuffer(bool own) { LPage->FOwnBuffer = own; }
  bool IsDirty() const { return LPage->IsDirty(); }
  int32_t UseCount() const { return LPage->UseCount(); }
  TORBPageManager* PageManager() const { return LPage->LPageManager; }
  uint8_t* PageData() const { return LPage->GetPageData(); }
  uint16_t PageDataSize() const { return LPage->GetPageDataSize(); }
  void EnlargePageBuffer(int32_t size) { LPage->EnlargePageBuffer(size); }

 protected:
  TORBPage* LPage;
};

}  // namespace orb
