#include "engine/memory/temporary_page_manager.h"

#include <algorithm>
#include <limits>

#include "engine/base/orb_exception.h"
#include "engine/memory/memory_budget.h"

namespace orb {

namespace {

// Page numbers are 32-bit: leave room for the file pages after the budget.
constexpr int64_t kMaxMemoryPages = std::numeric_limits<int32_t>::max() / 2;

}  // namespace

TORBTemporaryPageManager::TORBTemporaryPageManager(bool disable_temp_files, int64_t max_memory_page_count)
    : FMemoryPages(kPageSize), FDisableTempFiles(disable_temp_files) {
  SetPageSizes(kPageSize, 0);
  const int64_t budget = max_memory_page_count >= 0 ? std::min(max_memory_page_count, kMaxMemoryPages)
                                                    : ItemsInBudget(TemporaryMemoryBudget(), kPageSize, kMaxMemoryPages);
  FMaxMemoryPageCount = static_cast<int32_t>(budget);
}

TORBTemporaryPageManager::~TORBTemporaryPageManager() {
  try {
    DiscardAllPages();
  } catch (...) {
  }
}

int64_t TORBTemporaryPageManager::PageFileSize() const {
  return FTempPageFile != nullptr ? FTempPageFile->GetSize() : 0;
}

void TORBTemporaryPageManager::CheckFilePage(int32_t page_no, int32_t error_code) const {
  const int64_t file_index = int64_t{page_no} - FMaxMemoryPageCount;
  if (file_index < 0 || file_index >= FFilePageCount || !FFilePageInUse[static_cast<size_t>(file_index)])
    RaiseORB(error_code, kMsgPageAllocationNotReleased);
}

void TORBTemporaryPageManager::InternalAddPage(TORBPage& page) {
  if (FDisableTempFiles || FMemoryPages.PageCount() < FMaxMemoryPageCount) {
    const int32_t page_no = FMemoryPages.Allocate();
    ++FPageCount;
    SetPageNo(page, page_no);
    BorrowPageBuffer(page, FMemoryPages.Buffer(page_no, kErrMemoryPageAddInUse));
    return;
  }
  if (FTempPageFile == nullptr) FTempPageFile = TORBFileStream::CreateTemporary();
  int32_t file_index = 0;
  if (!FFreeFilePages.empty()) {
    file_index = FFreeFilePages.back();
    FFreeFilePages.pop_back();
  } else {
    if (FFilePageCount >= std::numeric_limits<int32_t>::max() - FMaxMemoryPageCount)
      RaiseORB(20064, "Invalid page number");
    file_index = FFilePageCount++;
    FFilePageInUse.push_back(false);
    const int64_t needed = int64_t{FFilePageCount} * kPageSize;
    if (FTempPageFile->GetSize() < needed) {
      FTempPageFile->SetSize(needed + needed / 2);
      if (FTempPageFile->GetSize() < needed) {
        --FFilePageCount;
        FFilePageInUse.pop_back();
        RaiseORB(kErrTemporaryPageExtend, "Cannot extend the temporary page file to %d bytes", {static_cast<long long>(needed)});
      }
    }
  }
  FFilePageInUse[static_cast<size_t>(file_index)] = true;
  ++FPageCount;
  SetPageNo(page, FMaxMemoryPageCount + file_index);
  if (page.FPageBuffer == nullptr || !page.FOwnBuffer) page.AllocPageBuffer();
}

void TORBTemporaryPageManager::InternalRemovePage(int32_t page_no) {
  if (!IsFilePage(page_no)) {
    if (!FMemoryPages.InUse(page_no)) return;
    FMemoryPages.Release(page_no);
    --FPageCount;
    return;
  }
  const int64_t file_index = int64_t{page_no} - FMaxMemoryPageCount;
  if (file_index >= FFilePageCount || !FFilePageInUse[static_cast<size_t>(file_index)]) return;
  FFreeFilePages.reserve(FFreeFilePages.size() + 1);
  FFilePageInUse[static_cast<size_t>(file_index)] = false;
  FFreeFilePages.push_back(static_cast<int32_t>(file_index));
  --FPageCount;
}

bool TORBTemporaryPageManager::InternalReadPage(TORBPage& page) {
  const int32_t page_no = page.PageNo();
  if (!IsFilePage(page_no)) {
    BorrowPageBuffer(page, FMemoryPages.Buffer(page_no, kErrTemporaryPageReadFree));
    return true;
  }
  CheckFilePage(page_no, kErrTemporaryPageReadFree);
  if (FTempPageFile == nullptr) RaiseORB(kErrTemporaryPageNoFile, "Invalid pointer");
  if (page.FPageBuffer == nullptr || !page.FOwnBuffer) page.AllocPageBuffer();
  SetStreamPosition(*FTempPageFile, FileOffset(page_no), kErrTemporaryPageSeek);
  if (FTempPageFile->Read(page.FPageBuffer, kPageSize) != kPageSize)
    RaiseORB(kErrTemporaryPageIO, "Cannot read or write temporary page %d", {page_no});
  return true;
}

void TORBTemporaryPageManager::InternalWritePage(TORBPage& page) {
  const int32_t page_no = page.PageNo();
  if (!IsFilePage(page_no)) {
    uint8_t* stored = FMemoryPages.Buffer(page_no, kErrTemporaryPageWriteFree);
    if (page.FOwnBuffer && page.FPageBuffer != nullptr && page.FPageBuffer != stored)
      std::copy_n(page.FPageBuffer, kPageSize, stored);
    return;
  }
  CheckFilePage(page_no, kErrTemporaryPageWriteFree);
  if (FTempPageFile == nullptr) FTempPageFile = TORBFileStream::CreateTemporary();
  SetStreamPosition(*FTempPageFile, FileOffset(page_no), kErrTemporaryPageSeek);
  if (FTempPageFile->Write(page.FPageBuffer, kPageSize) != kPageSize)
    RaiseORB(kErrTemporaryPageIO, "Cannot read or write temporary page %d", {page_no});
}

}  // namespace orb
