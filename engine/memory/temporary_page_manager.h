#pragma once

// Index pages of temporary tables: in memory up to a budget, then in a
// temporary file.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/stream_file.h"
#include "engine/memory/memory_page_manager.h"
#include "engine/table/page_manager.h"

namespace orb {

inline constexpr int32_t kErrTemporaryPageReadFree = 10396;
inline constexpr int32_t kErrTemporaryPageWriteFree = 10397;
inline constexpr int32_t kErrTemporaryPageNoFile = 30482;

// Page numbers below FMaxMemoryPageCount are memory pages (as in an
// in-memory table: handed out straight, never copied); numbers from
// FMaxMemoryPageCount on are file pages, page n at byte offset
// (n - FMaxMemoryPageCount) x 4096 of a delete-on-close temporary file, so
// the file holds only the pages past the budget. A new page takes a free
// memory number while fewer than FMaxMemoryPageCount memory pages are in
// use, else a free file number, else the next file number. The file grows
// by half again of the size it needs. With temporary files disabled every
// page is a memory page.
class TORBTemporaryPageManager : public TORBPageManager {
 public:
  static constexpr uint16_t kPageSize = 4096;

  // `max_memory_page_count` below 0 takes one tenth of free memory (memory
  // manager) divided by the page size.
  explicit TORBTemporaryPageManager(bool disable_temp_files, int64_t max_memory_page_count = -1);
  ~TORBTemporaryPageManager() override;

  int32_t MaxMemoryPageCount() const { return FMaxMemoryPageCount; }
  bool HasPageFile() const { return FTempPageFile != nullptr; }
  int64_t PageFileSize() const;

 protected:
  void InternalAddPage(TORBPage& page) override;
  void InternalRemovePage(int32_t page_no) override;
  bool InternalReadPage(TORBPage& page) override;
  void InternalWritePage(TORBPage& page) override;

 private:
  bool IsFilePage(int32_t page_no) const { return !FDisableTempFiles && page_no >= FMaxMemoryPageCount; }
  int64_t FileOffset(int32_t page_no) const { return int64_t{page_no - FMaxMemoryPageCount} * kPageSize; }
  // Checks that file page `page_no` is in use (`error_code` otherwise).
  void CheckFilePage(int32_t page_no, int32_t error_code) const;

  TORBMemoryPageStore FMemoryPages;
  std::unique_ptr<TORBFileStream> FTempPageFile;
  // File pages handed out so far; numbers FMaxMemoryPageCount ..
  // FMaxMemoryPageCount + FFilePageCount - 1.
  int32_t FFilePageCount = 0;
  // Per file page: in use.
  std::vector<bool> FFilePageInUse;
  std::vector<int32_t> FFreeFilePages;
  int32_t FMaxMemoryPageCount;
  bool FDisableTempFiles;
};

}  // namespace orb
