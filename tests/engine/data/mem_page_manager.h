#pragma once

// A page manager over pages kept in memory, for the record indexes of the
// table-data tests.

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "engine/table/page_manager.h"

namespace orb::test {

class MemPageManager : public TORBPageManager {
 public:
  explicit MemPageManager(uint16_t page_size = 512, uint16_t header_size = 40) {
    SetPageSizes(page_size, header_size);
    SetCacheCapacity(1000);
  }

  // Pages in use.
  size_t StoredCount() const { return FStored.size(); }

 protected:
  void InternalAddPage(TORBPage& page) override {
    int32_t no;
    if (!FFree.empty()) {
      no = *FFree.begin();
      FFree.erase(FFree.begin());
    } else {
      no = FNext++;
    }
    SetPageNo(page, no);
    page.AllocPageBuffer();
    FStored[no] = std::vector<uint8_t>(page.FPageBuffer, page.FPageBuffer + GetPageSize());
  }
  void InternalRemovePage(int32_t page_no) override {
    FStored.erase(page_no);
    FFree.insert(page_no);
  }
  bool InternalReadPage(TORBPage& page) override {
    auto it = FStored.find(page.PageNo());
    if (it == FStored.end()) return false;
    if (page.FPageBuffer == nullptr) page.AllocPageBuffer();
    std::memcpy(page.FPageBuffer, it->second.data(), GetPageSize());
    return true;
  }
  void InternalWritePage(TORBPage& page) override {
    FStored[page.PageNo()] = std::vector<uint8_t>(page.FPageBuffer, page.FPageBuffer + GetPageSize());
  }

 private:
  std::map<int32_t, std::vector<uint8_t>> FStored;
  std::set<int32_t> FFree;
  int32_t FNext = 0;
};

}  // namespace orb::test
