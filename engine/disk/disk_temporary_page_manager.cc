#include "engine/disk/disk_temporary_page_manager.h"

#include <cstring>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/table/page.h"

namespace orb {

TORBDiskTemporaryPageManager::TORBDiskTemporaryPageManager(uint16_t page_size, uint16_t header_size) {
  SetPageSizes(page_size, header_size);
}

TORBDiskTemporaryPageManager::~TORBDiskTemporaryPageManager() {
  try {
    DiscardAllPages();
  } catch (...) {
  }
}

void TORBDiskTemporaryPageManager::InternalAddPage(TORBPage& page) {
  page.AllocPageBuffer();
  int32_t page_no;
  if (!FFreePageNos.empty()) {
    page_no = FFreePageNos.back();
    FFreePageNos.pop_back();
  } else {
    page_no = static_cast<int32_t>(FPages.size());
    FPages.emplace_back();
  }
  FPages[static_cast<size_t>(page_no)] = std::make_unique<uint8_t[]>(FPageSize);
  ++FPageCount;
  SetPageNo(page, page_no);
}

void TORBDiskTemporaryPageManager::InternalRemovePage(int32_t page_no) {
  if (page_no < 0 || static_cast<size_t>(page_no) >= FPages.size() || !FPages[static_cast<size_t>(page_no)]) return;
  FPages[static_cast<size_t>(page_no)].reset();
  FFreePageNos.push_back(page_no);
  --FPageCount;
}

bool TORBDiskTemporaryPageManager::InternalReadPage(TORBPage& page) {
  const int32_t page_no = page.PageNo();
  if (page_no < 0 || static_cast<size_t>(page_no) >= FPages.size() || !FPages[static_cast<size_t>(page_no)])
    return false;
  if (page.FPageBuffer == nullptr) page.AllocPageBuffer();
  std::memcpy(page.FPageBuffer, FPages[static_cast<size_t>(page_no)].get(), FPageSize);
  return true;
}

void TORBDiskTemporaryPageManager::InternalWritePage(TORBPage& page) {
  const int32_t page_no = page.PageNo();
  if (page_no < 0 || static_cast<size_t>(page_no) >= FPages.size() || !FPages[static_cast<size_t>(page_no)])
    RaiseORB(kErrDiskTemporaryPageMissing, "Temporary page %d is not allocated", {page_no});
  std::memcpy(FPages[static_cast<size_t>(page_no)].get(), page.FPageBuffer, FPageSize);
}

}  // namespace orb
