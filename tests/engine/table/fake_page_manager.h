#pragma once

// A page manager over an in-memory page store, for testing the shared cache
// and the private session pages without a database file.

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/table/page_manager.h"

namespace orb::testing {

class FakePageManager : public TORBPageManager {
 public:
  // Code raised by a write the test made fail.
  static constexpr int32_t kWriteFailure = 99001;

  explicit FakePageManager(int32_t cache_capacity = 1000, uint16_t page_size = 128, uint16_t header_size = 40) {
    SetPageSizes(page_size, header_size);
    SetCacheCapacity(cache_capacity);
  }

  using TORBPageManager::SetCacheCapacity;

  // Numbers a page made outside the manager.
  static void NumberPage(TORBPage& page, int32_t page_no) { SetPageNo(page, page_no); }

  // Makes the session's private copy of `page_no` clean again, a state no
  // holder can reach; the manager must refuse to apply or cancel it.
  void MarkPrivatePageClean(int32_t session, int32_t page_no) {
    SetPageDirty(*FindSession(session)->DirtyPages.Find(page_no), false);
  }

  bool Cached(int32_t page_no) const { return FSharedPages.Find(page_no) != nullptr; }
  TORBPage* CachedPage(int32_t page_no) const { return FSharedPages.Find(page_no); }

  // Stores page `page_no` as if written earlier: a fresh header with the
  // type and state, every data byte `fill`.
  void StorePage(int32_t page_no, uint16_t page_type, uint8_t fill, int32_t state = 0) {
    std::vector<uint8_t> bytes(GetPageSize(), fill);
    if (GetPageHeaderSize() > 0) {
      TORBDiskPageHeader header;
      header.PageType = page_type;
      header.State = state;
      header.SaveTo(bytes.data());
    }
    stored[page_no] = bytes;
    next_page_no = std::max(next_page_no, page_no + 1);
  }
  // First data byte of the stored page.
  uint8_t StoredFill(int32_t page_no) const { return stored.at(page_no)[GetPageHeaderSize()]; }
  int32_t StoredState(int32_t page_no) const { return ReadPageHeaderState(stored.at(page_no).data()); }

  std::map<int32_t, std::vector<uint8_t>> stored;
  std::set<int32_t> free_numbers;
  int32_t next_page_no = 0;
  std::vector<int32_t> reads;
  std::vector<int32_t> writes;
  std::vector<int32_t> removes;
  std::set<int32_t> failing_reads;
  std::set<int32_t> failing_writes;
  bool give_no_number = false;
  bool multi_user = false;
  // What GetMultiUser() reports (a file shared with other processes).
  void SetMultiUser(bool value) { FMultiUser = value; }
  // With safe_not_to_sync, cached pages are taken as current.
  bool safe_not_to_sync = false;
  std::vector<int32_t> state_reads;

 protected:
  void InternalAddPage(TORBPage& page) override {
    if (give_no_number) return;
    int32_t no;
    if (!free_numbers.empty()) {
      no = *free_numbers.begin();
      free_numbers.erase(free_numbers.begin());
    } else {
      no = next_page_no++;
    }
    SetPageNo(page, no);
    page.AllocPageBuffer();
    stored[no] = std::vector<uint8_t>(page.FPageBuffer, page.FPageBuffer + GetPageSize());
  }

  void InternalRemovePage(int32_t page_no) override {
    removes.push_back(page_no);
    stored.erase(page_no);
    free_numbers.insert(page_no);
  }

  bool InternalReadPage(TORBPage& page) override {
    reads.push_back(page.PageNo());
    auto it = stored.find(page.PageNo());
    if (it == stored.end() || failing_reads.count(page.PageNo())) return false;
    if (page.FPageBuffer == nullptr) page.AllocPageBuffer();
    std::memcpy(page.FPageBuffer, it->second.data(), GetPageSize());
    return true;
  }

  void InternalWritePage(TORBPage& page) override {
    if (failing_writes.count(page.PageNo())) RaiseORB(kWriteFailure, "write failed");
    writes.push_back(page.PageNo());
    stored[page.PageNo()] = std::vector<uint8_t>(page.FPageBuffer, page.FPageBuffer + GetPageSize());
  }

  bool IsSafeNotToSyncPage(int32_t, TORBPage&) override { return safe_not_to_sync; }
  bool IsDiskMultiUser() const override { return multi_user; }
  int32_t InternalReadPageState(int32_t page_no) override {
    state_reads.push_back(page_no);
    auto it = stored.find(page_no);
    return it == stored.end() ? kInvalidPageState : ReadPageHeaderState(it->second.data());
  }
};

// The raw page protocol, for the few tests of a use that no guard can
// express: a page still in use when its manager is destroyed.
class RawPageManager : public FakePageManager {
 public:
  using FakePageManager::FakePageManager;
  using TORBPageManager::GetPage;
  using TORBPageManager::PutPage;
};

}  // namespace orb::testing
