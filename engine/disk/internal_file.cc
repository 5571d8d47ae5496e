#include "engine/base/error_codes.h"
#include "engine/disk/internal_file.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "engine/base/orb_exception.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/table/page.h"
#include "engine/table/page_guard.h"
#include "engine/table/page_header.h"
#include "engine/table/page_manager.h"
#include "engine/platform/byte_order.h"

namespace orb {

namespace {

constexpr int32_t kHeaderSize = TORBInternalFileHeader::kSize;
constexpr int32_t kPageHeaderSize = static_cast<int32_t>(TORBDiskPageHeader::kSize);

// Restores the manager's CRC-error flag.
class IgnoreCRCErrorsScope {
 public:
  explicit IgnoreCRCErrorsScope(TORBPageManager* manager)
      : FManager(manager), FPrevious(manager->GetIgnoreCRCErrors()) {
    FManager->SetIgnoreCRCErrors(true);
  }
  ~IgnoreCRCErrorsScope() { FManager->SetIgnoreCRCErrors(FPrevious); }
  IgnoreCRCErrorsScope(const IgnoreCRCErrorsScope&) = delete;
  IgnoreCRCErrorsScope& operator=(const IgnoreCRCErrorsScope&) = delete;

 private:
  TORBPageManager* FManager;
  bool FPrevious;
};

// Tracks the pages a chain walk has visited, so that a damaged chain that
// loops is seen as ending.
class ChainGuard {
 public:
  // True when `page_no` can be the next page: a page number not seen yet.
  bool Enter(int32_t page_no) { return page_no >= 0 && FSeen.insert(page_no).second; }

 private:
  std::unordered_set<int32_t> FSeen;
};

[[noreturn]] void RaiseDamagedHeader(int32_t start_page, const TORBInternalFileHeader& h) {
  RaiseORB(kErrInternalFileHeader,
           "Invalid internal file header. Probably database is corrupted and needs repair. StartPageNo=%d, "
           "StoredSize=%d, Size=%d, Algorithm=%d",
           {start_page, h.StoredSize, h.UncompressedSize, static_cast<int>(h.Algorithm)});
}

}  // namespace

void TORBInternalFileHeader::SaveTo(uint8_t* dst) const {
  StoreU8(dst, HeaderLength);
  StoreI32LE(dst + 1, StoredSize);
  StoreI32LE(dst + 5, UncompressedSize);
  StoreU8(dst + 9, Algorithm);
}

TORBInternalFileHeader TORBInternalFileHeader::LoadFrom(const uint8_t* src) {
  TORBInternalFileHeader h;
  h.HeaderLength = LoadU8(src);
  h.StoredSize = LoadI32LE(src + 1);
  h.UncompressedSize = LoadI32LE(src + 5);
  h.Algorithm = LoadU8(src + 9);
  return h;
}

int32_t InternalFilePageCount(int64_t size, int32_t data_size) {
  if (size < 0) size = 0;
  if (data_size <= kHeaderSize) RaiseORB(20301, "Invalid page number");
  return static_cast<int32_t>((size + kHeaderSize + data_size - 1) / data_size);
}

// ---------------------------------------------------------------------------
// Transacted access

TORBInternalDBTransactedAccessFile::TORBInternalDBTransactedAccessFile(TORBPageManager* page_manager,
                                                                       uint16_t page_type)
    : LPageManager(page_manager), FPageTypeID(page_type) {}

void TORBInternalDBTransactedAccessFile::CheckOpened(const char* operation) const {
  if (FStartPageNo == -1) {
    RaiseORB(30389, "Cannot perform this operation (%s) on closed internal file", {operation});
  }
}

void TORBInternalDBTransactedAccessFile::CreateFile(int32_t session) {
  if (FStartPageNo != -1) {
    RaiseORB(30383, "Cannot create internal file. File already exists. StartPageNo=%d", {FStartPageNo});
  }
  TORBPageGuard page = LPageManager->AddPageGuard(session, FPageTypeID);
  TORBInternalFileHeader().SaveTo(page->GetPageData());
  page.MarkDirty();
  FStartPageNo = page.PageNo();
}

void TORBInternalDBTransactedAccessFile::OpenFile(int32_t first_page) {
  if (first_page != -1) FStartPageNo = first_page;
}

void TORBInternalDBTransactedAccessFile::DeleteFile(int32_t session, int32_t first_page) {
  if (first_page == -1) {
    CheckOpened("DeleteFile");
    first_page = FStartPageNo;
  }
  std::vector<int32_t> pages;
  ChainGuard guard;
  for (int32_t page_no = first_page; page_no != -1 && guard.Enter(page_no);) {
    pages.push_back(page_no);
    TORBPageGuard page = LPageManager->GetPageGuard(session, page_no, FPageTypeID);
    page_no = page->GetNextPageNo();
  }
  for (int32_t page_no : pages) LPageManager->RemovePage(session, page_no);
  FStartPageNo = -1;
}

TORBInternalFileHeader TORBInternalDBTransactedAccessFile::ReadHeader(int32_t session, bool synchronize_allowed,
                                                                      bool* file_was_changed) {
  TORBPageGuard page = LPageManager->GetPageGuard(session, FStartPageNo, FPageTypeID, synchronize_allowed);
  if (file_was_changed != nullptr) *file_was_changed = page->Reloaded();
  const TORBInternalFileHeader h = TORBInternalFileHeader::LoadFrom(page->GetPageData());
  if (h.HeaderLength != kHeaderSize || h.StoredSize < 0 || h.UncompressedSize < 0 || h.Algorithm > acaPPM ||
      (h.Algorithm == acaNone && h.StoredSize != h.UncompressedSize) ||
      (h.Algorithm != acaNone && h.StoredSize == 0 && h.UncompressedSize != 0)) {
    RaiseDamagedHeader(FStartPageNo, h);
  }
  return h;
}

void TORBInternalDBTransactedAccessFile::GetFileSize(int32_t session, int32_t& stored_size,
                                                     int32_t& uncompressed_size,
                                                     TORBCompressionAlgorithm& algorithm, bool& file_was_changed,
                                                     bool synchronize_allowed) {
  CheckOpened("GetSize");
  const TORBInternalFileHeader h = ReadHeader(session, synchronize_allowed, &file_was_changed);
  stored_size = h.StoredSize;
  uncompressed_size = h.UncompressedSize;
  algorithm = static_cast<TORBCompressionAlgorithm>(h.Algorithm);
}

int32_t TORBInternalDBTransactedAccessFile::GetSize(int32_t session) {
  CheckOpened("GetSize");
  return ReadHeader(session, true, nullptr).UncompressedSize;
}

int32_t TORBInternalDBTransactedAccessFile::GetPageCountForDataSize(int64_t size) const {
  return InternalFilePageCount(size, LPageManager->GetPageDataSize());
}

void TORBInternalDBTransactedAccessFile::GetPageNoAndOffsetForPosition(int64_t position, int32_t& index,
                                                                       int32_t& offset) const {
  const int64_t data_size = LPageManager->GetPageDataSize();
  index = static_cast<int32_t>((position + kHeaderSize) / data_size);
  offset = static_cast<int32_t>((position + kHeaderSize) % data_size);
}

int32_t TORBInternalDBTransactedAccessFile::GoToPage(int32_t session, int32_t index) {
  CheckOpened("GoToPage");
  ChainGuard guard;
  int32_t page_no = FStartPageNo;
  guard.Enter(page_no);
  for (int32_t i = 0; i < index; ++i) {
    TORBPageGuard page = LPageManager->GetPageGuard(session, page_no, FPageTypeID);
    page_no = page->GetNextPageNo();
    if (page_no == -1 || !guard.Enter(page_no)) {
      RaiseORB(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
               {i + 1});
    }
  }
  return page_no;
}

void TORBInternalDBTransactedAccessFile::SetFileSize(int32_t session, int32_t stored_size,
                                                     int32_t uncompressed_size, TORBCompressionAlgorithm algorithm) {
  CheckOpened("SetSize");
  if (stored_size < 0 || uncompressed_size < 0) {
    TORBInternalFileHeader h;
    h.StoredSize = stored_size;
    h.UncompressedSize = uncompressed_size;
    h.Algorithm = algorithm;
    RaiseDamagedHeader(FStartPageNo, h);
  }
  int32_t old_stored;
  {
    TORBPageGuard first = LPageManager->GetPageGuard(session, FStartPageNo, FPageTypeID);
    old_stored = TORBInternalFileHeader::LoadFrom(first->GetPageData()).StoredSize;
  }
  if (old_stored < 0) old_stored = stored_size;
  const int32_t old_count = GetPageCountForDataSize(old_stored);
  const int32_t new_count = GetPageCountForDataSize(stored_size);

  if (new_count > old_count) {
    // Append after the current last page.
    int32_t last_no = GoToPage(session, old_count - 1);
    for (int32_t i = old_count; i < new_count; ++i) {
      TORBPageGuard last = LPageManager->GetPageGuard(session, last_no, FPageTypeID);
      TORBPageGuard added = LPageManager->AddPageGuard(session, FPageTypeID);
      last->SetNextPageNo(added.PageNo());
      last.MarkDirty();
      last_no = added.PageNo();
    }
  } else if (new_count < old_count) {
    // Cut the chain after the new last page and free the pages beyond it.
    const int32_t last_no = GoToPage(session, new_count - 1);
    int32_t next_no;
    {
      TORBPageGuard last = LPageManager->GetPageGuard(session, last_no, FPageTypeID);
      next_no = last->GetNextPageNo();
      last->SetNextPageNo(-1);
      last.MarkDirty();
    }
    std::vector<int32_t> surplus;
    ChainGuard guard;
    guard.Enter(last_no);
    for (int32_t i = new_count; i < old_count && next_no != -1 && guard.Enter(next_no); ++i) {
      surplus.push_back(next_no);
      TORBPageGuard page = LPageManager->GetPageGuard(session, next_no, FPageTypeID);
      next_no = page->GetNextPageNo();
    }
    for (int32_t page_no : surplus) LPageManager->RemovePage(session, page_no);
  }

  TORBPageGuard first = LPageManager->GetPageGuard(session, FStartPageNo, FPageTypeID);
  TORBInternalFileHeader h;
  h.StoredSize = stored_size;
  h.UncompressedSize = uncompressed_size;
  h.Algorithm = algorithm;
  h.SaveTo(first->GetPageData());
  first.MarkDirty();
}

int64_t TORBInternalDBTransactedAccessFile::CopyChain(int32_t session, uint8_t* bytes, int64_t count, bool read,
                                                      bool synchronize_allowed) {
  const int32_t data_size = LPageManager->GetPageDataSize();
  int64_t done = 0;
  int32_t offset = kHeaderSize;
  ChainGuard guard;
  int32_t page_no = FStartPageNo;
  int32_t index = 0;
  while (done < count) {
    if (page_no == -1 || !guard.Enter(page_no)) {
      if (read) return done;
      RaiseORB(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
               {index});
    }
    TORBPageGuard page = LPageManager->GetPageGuard(session, page_no, FPageTypeID, synchronize_allowed);
    const int64_t piece = std::min<int64_t>(data_size - offset, count - done);
    if (read) {
      std::memcpy(bytes + done, page->GetPageData() + offset, static_cast<size_t>(piece));
    } else {
      std::memcpy(page->GetPageData() + offset, bytes + done, static_cast<size_t>(piece));
      page.MarkDirty();
    }
    done += piece;
    offset = 0;
    page_no = page->GetNextPageNo();
    ++index;
  }
  return done;
}

void TORBInternalDBTransactedAccessFile::ReadFile(int32_t session, void* buffer, int32_t count,
                                                  bool synchronize_allowed) {
  CheckOpened("ReadFile");
  const TORBInternalFileHeader h = ReadHeader(session, synchronize_allowed, nullptr);
  if (count < 0 || h.UncompressedSize < count) {
    RaiseORB(30387, "Cannot read internal file. FileSize=%d. ReadSize=%d", {h.UncompressedSize, count});
  }
  if (count == 0) return;
  if (h.Algorithm == acaNone) {
    const int64_t read = CopyChain(session, static_cast<uint8_t*>(buffer), count, true, synchronize_allowed);
    if (read < count) {
      RaiseORB(30388, "Cannot read internal file. Chain ends early. StoredSize=%d. BytesRead=%d. ReadSize=%d",
               {h.StoredSize, static_cast<int32_t>(read), count});
    }
    return;
  }
  std::vector<uint8_t> contents;
  ReadAll(session, contents, synchronize_allowed);
  std::memcpy(buffer, contents.data(), static_cast<size_t>(count));
}

void TORBInternalDBTransactedAccessFile::ReadAll(int32_t session, std::vector<uint8_t>& out,
                                                 bool synchronize_allowed) {
  CheckOpened("ReadFile");
  const TORBInternalFileHeader h = ReadHeader(session, synchronize_allowed, nullptr);
  // The stored bytes are gathered page by page: a damaged stored size costs
  // no more memory than the chain really holds.
  std::vector<uint8_t> stored;
  const int32_t data_size = LPageManager->GetPageDataSize();
  int32_t offset = kHeaderSize;
  ChainGuard guard;
  int32_t page_no = FStartPageNo;
  while (static_cast<int64_t>(stored.size()) < h.StoredSize && page_no != -1 && guard.Enter(page_no)) {
    TORBPageGuard page = LPageManager->GetPageGuard(session, page_no, FPageTypeID, synchronize_allowed);
    const int64_t piece = std::min<int64_t>(data_size - offset, h.StoredSize - static_cast<int64_t>(stored.size()));
    const uint8_t* data = page->GetPageData() + offset;
    stored.insert(stored.end(), data, data + piece);
    offset = 0;
    page_no = page->GetNextPageNo();
  }
  if (static_cast<int64_t>(stored.size()) < h.StoredSize) {
    RaiseORB(30388, "Cannot read internal file. Chain ends early. StoredSize=%d. BytesRead=%d. ReadSize=%d",
             {h.StoredSize, static_cast<int32_t>(stored.size()), h.UncompressedSize});
  }
  if (h.Algorithm == acaNone || h.StoredSize == 0) {
    out = std::move(stored);
    return;
  }
  int64_t decoded_size = h.UncompressedSize;
  std::vector<uint8_t> decoded;
  if (!ORBInternalDecompressBuffer(static_cast<TORBCompressionAlgorithm>(h.Algorithm), stored.data(),
                                   static_cast<int64_t>(stored.size()), decoded, decoded_size)) {
    RaiseORB(20189, "Table file decompression error. Possible table corruption (%s)",
             {ORBCompressionGetLastError()});
  }
  if (decoded_size != h.UncompressedSize) {
    RaiseORB(20189, "Table file decompression error. Possible table corruption (%s)",
             {std::string("decoded size differs from the stored size")});
  }
  decoded.resize(static_cast<size_t>(decoded_size));
  out = std::move(decoded);
}

void TORBInternalDBTransactedAccessFile::WriteFile(int32_t session, const void* buffer, int32_t count,
                                                   TORBCompressionAlgorithm algorithm, uint8_t mode) {
  CheckOpened("WriteFile");
  if (count < 0) {
    TORBInternalFileHeader h;
    h.UncompressedSize = count;
    h.Algorithm = algorithm;
    RaiseDamagedHeader(FStartPageNo, h);
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  int64_t stored_count = count;
  std::vector<uint8_t> compressed;
  // Empty contents have nothing to compress and are stored plain.
  if (algorithm != acaNone && count == 0) algorithm = acaNone;
  if (algorithm != acaNone) {
    if (!ORBInternalCompressBuffer(algorithm, mode, buffer, count, compressed) ||
        compressed.size() > static_cast<size_t>(INT32_MAX - kHeaderSize)) {
      RaiseORB(20187, "Table file compression error");
    }
    bytes = compressed.data();
    stored_count = static_cast<int64_t>(compressed.size());
  }
  SetFileSize(session, static_cast<int32_t>(stored_count), count, algorithm);
  CopyChain(session, const_cast<uint8_t*>(bytes), stored_count, false, true);
}

void TORBInternalDBTransactedAccessFile::InitFileHeader(int32_t session) {
  if (FStartPageNo == -1) RaiseORB(20301, "Invalid page number");
  IgnoreCRCErrorsScope ignore(LPageManager);
  TORBPageGuard page = LPageManager->GetPageGuard(session, FStartPageNo, FPageTypeID);
  // The stamp is kept, so that the rewrite moves it on like any write.
  const int32_t state = page->GetState();
  page->InitHeader();
  page->SetState(state);
  page->SetPageType(FPageTypeID);
  TORBInternalFileHeader().SaveTo(page->GetPageData());
  page.MarkDirty();
}

// ---------------------------------------------------------------------------
// Direct access

TORBInternalDBDirectAccessFile::TORBInternalDBDirectAccessFile(TORBDiskPageManager* page_manager,
                                                               uint16_t page_type)
    : LPageManager(page_manager), FPageTypeID(page_type) {}

void TORBInternalDBDirectAccessFile::CheckOpened(const char* operation) const {
  if (FStartPageNo == -1) {
    RaiseORB(20156, "Cannot perform this operation (%s) on closed internal file", {operation});
  }
}

void TORBInternalDBDirectAccessFile::CreateFile(int32_t size) {
  if (FStartPageNo != -1) {
    RaiseORB(20157, "Cannot create internal file. File already exists. StartPageNo=%d", {FStartPageNo});
  }
  if (size < 0) size = 0;
  const int32_t count = InternalFilePageCount(size, LPageManager->GetPageDataSize());
  std::vector<int32_t> pages;
  TORBPageGuard previous;
  for (int32_t i = 0; i < count; ++i) {
    TORBPageGuard page = LPageManager->AddPageGuard(TORBPageManager::kSystemSession, FPageTypeID);
    page->FEncryptionEnabled = false;
    page.MarkDirty();
    if (!previous) {
      TORBInternalFileHeader h;
      h.StoredSize = size;
      h.SaveTo(page->GetPageData());
    } else {
      previous->SetNextPageNo(page.PageNo());
    }
    pages.push_back(page.PageNo());
    // Puts the previous page back.
    previous = std::move(page);
  }
  previous.Release();
  FStartPageNo = pages.front();
  FFilePages = std::move(pages);
  FFileSize = size;
}

void TORBInternalDBDirectAccessFile::OpenFile(int32_t first_page) {
  FStartPageNo = first_page;
  if (first_page == -1) return;
  try {
    ReadPageList();
  } catch (...) {
    CloseFile();
    throw;
  }
}

void TORBInternalDBDirectAccessFile::CloseFile() {
  FStartPageNo = -1;
  FFileSize = 0;
  FFilePages.clear();
}

void TORBInternalDBDirectAccessFile::ReadPageHeader(int32_t page_no, uint8_t* header, bool skip_first_byte) {
  const int32_t skip = skip_first_byte ? 1 : 0;
  std::memset(header, 0, kPageHeaderSize);
  LPageManager->ReadPageRegion(header + skip, page_no, skip, kPageHeaderSize - skip);
  const uint16_t found = ReadPageHeaderType(header);
  if (found != FPageTypeID) {
    RaiseORB(20155, "Invalid PageType found: %d but expecting: %d", {found, FPageTypeID});
  }
}

int32_t TORBInternalDBDirectAccessFile::ReadNextPageNo(int32_t page_no, bool skip_first_byte) {
  uint8_t header[TORBDiskPageHeader::kSize];
  ReadPageHeader(page_no, header, skip_first_byte);
  return ReadPageHeaderNextPageNo(header);
}

void TORBInternalDBDirectAccessFile::ReadPageList() {
  CheckOpened("ReadPageList");
  FFilePages.clear();
  FFileSize = GetSize();
  const int32_t data_size = LPageManager->GetPageDataSize();
  const int32_t count = InternalFilePageCount(FFileSize, data_size);
  ChainGuard guard;
  int32_t page_no = FStartPageNo;
  guard.Enter(page_no);
  int32_t next_no = ReadNextPageNo(page_no, true);
  FFilePages.push_back(page_no);
  if (next_no == -1) {
    // A lone first page is usable whole.
    FFileSize = data_size - kHeaderSize;
    return;
  }
  for (int32_t i = 1; i < count; ++i) {
    if (next_no == -1 || !guard.Enter(next_no)) {
      const int32_t size = FFileSize;
      CloseFile();
      RaiseORB(kErrInternalFileChain,
               "Error getting %d-th internal file page. Probably database is corrupted and needs repair. "
               "FileSize=%d",
               {i, size});
    }
    page_no = next_no;
    next_no = ReadNextPageNo(page_no, false);
    FFilePages.push_back(page_no);
  }
}

void TORBInternalDBDirectAccessFile::DeleteFile(int32_t first_page) {
  if (first_page == -1) {
    CheckOpened("DeleteFile");
    first_page = FStartPageNo;
  }
  std::vector<int32_t> pages;
  ChainGuard guard;
  for (int32_t page_no = first_page; page_no != -1 && guard.Enter(page_no);) {
    pages.push_back(page_no);
    page_no = ReadNextPageNo(page_no, page_no == first_page);
  }
  for (int32_t page_no : pages) LPageManager->RemovePage(TORBPageManager::kSystemSession, page_no);
  if (first_page == FStartPageNo) CloseFile();
}

int32_t TORBInternalDBDirectAccessFile::GetSize() {
  CheckOpened("GetSize");
  uint8_t bytes[kHeaderSize];
  LPageManager->ReadPageRegion(bytes, FStartPageNo, kPageHeaderSize, kHeaderSize);
  const int32_t size = TORBInternalFileHeader::LoadFrom(bytes).StoredSize;
  if (size < 0) {
    RaiseORB(kErrInternalFileChain,
             "Error getting %d-th internal file page. Probably database is corrupted and needs repair. "
             "FileSize=%d",
             {0, size});
  }
  return size;
}

void TORBInternalDBDirectAccessFile::InternalSeek(int32_t position, int32_t& page_no, int32_t& page_offset) const {
  const int64_t data_size = LPageManager->GetPageDataSize();
  const int64_t index = (static_cast<int64_t>(position) + kHeaderSize) / data_size;
  if (position < 0 || position > FFileSize || index >= static_cast<int64_t>(FFilePages.size())) {
    RaiseORB(20159, "Seek position bigger than file size. FileSize=%d. Position=%d", {FFileSize, position});
  }
  page_no = FFilePages[static_cast<size_t>(index)];
  page_offset = static_cast<int32_t>((static_cast<int64_t>(position) + kHeaderSize) % data_size) + kPageHeaderSize;
}

template <typename Piece>
void TORBInternalDBDirectAccessFile::ForEachPiece(int32_t position, int32_t count, Piece&& piece) const {
  int32_t done = 0;
  while (done < count) {
    int32_t page_no = 0;
    int32_t page_offset = 0;
    InternalSeek(position + done, page_no, page_offset);
    const int32_t length = std::min<int32_t>(LPageManager->GetPageSize() - page_offset, count - done);
    piece(page_no, page_offset, done, length);
    done += length;
  }
}

void TORBInternalDBDirectAccessFile::ReadBuffer(void* buffer, int32_t count, int32_t position) {
  CheckOpened("DirectReadBuffer");
  if (count <= 0) return;
  if (static_cast<int64_t>(position) + count > FFileSize) {
    RaiseORB(20159, "Seek position bigger than file size. FileSize=%d. Position=%d", {FFileSize, position + count});
  }
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  ForEachPiece(position, count, [&](int32_t page_no, int32_t page_offset, int32_t done, int32_t length) {
    LPageManager->ReadPageRegion(bytes + done, page_no, page_offset, length);
  });
}

void TORBInternalDBDirectAccessFile::WriteBuffer(const void* buffer, int32_t count, int32_t position) {
  CheckOpened("DirectWriteBuffer");
  if (position < 0 || count < 0 || static_cast<int64_t>(position) + count > FFileSize) {
    RaiseORB(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d", {FFileSize, position, count});
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  ForEachPiece(position, count, [&](int32_t page_no, int32_t page_offset, int32_t done, int32_t length) {
    LPageManager->WritePageRegion(bytes + done, page_no, page_offset, length);
  });
}

bool TORBInternalDBDirectAccessFile::LockFile() {
  CheckOpened("LockFile");
  return LPageManager->LockPageByte(FStartPageNo, 0);
}

bool TORBInternalDBDirectAccessFile::UnlockFile() {
  CheckOpened("UnlockFile");
  return LPageManager->UnlockPageByte(FStartPageNo, 0);
}

bool TORBInternalDBDirectAccessFile::LockByte(int32_t position) {
  CheckOpened("LockByte");
  int32_t page_no = 0;
  int32_t page_offset = 0;
  InternalSeek(position, page_no, page_offset);
  return LPageManager->LockPageByte(page_no, page_offset);
}

bool TORBInternalDBDirectAccessFile::UnlockByte(int32_t position) {
  CheckOpened("UnlockByte");
  int32_t page_no = 0;
  int32_t page_offset = 0;
  InternalSeek(position, page_no, page_offset);
  return LPageManager->UnlockPageByte(page_no, page_offset);
}

bool TORBInternalDBDirectAccessFile::IsByteLocked(int32_t position) {
  CheckOpened("IsByteLocked");
  int32_t page_no = 0;
  int32_t page_offset = 0;
  InternalSeek(position, page_no, page_offset);
  return LPageManager->IsPageByteLocked(page_no, page_offset);
}

bool TORBInternalDBDirectAccessFile::IsRegionLocked(int32_t position, int32_t count) {
  CheckOpened("IsRegionLocked");
  if (count <= 0) return false;
  bool locked = false;
  ForEachPiece(position, count, [&](int32_t page_no, int32_t page_offset, int32_t, int32_t length) {
    if (!locked) locked = LPageManager->IsPageRegionLocked(page_no, page_offset, length);
  });
  return locked;
}

bool TORBInternalDBDirectAccessFile::IsRegionLockedExcept(int32_t position, int32_t count, int32_t held) {
  CheckOpened("IsRegionLocked");
  if (count <= 0) return false;
  bool locked = false;
  ForEachPiece(position, count, [&](int32_t page_no, int32_t page_offset, int32_t done, int32_t length) {
    if (locked) return;
    const int32_t start = position + done;
    if (held >= start && held < start + length)
      locked = LPageManager->IsPageRegionLockedExcept(page_no, page_offset, length, page_offset + (held - start));
    else
      locked = LPageManager->IsPageRegionLocked(page_no, page_offset, length);
  });
  return locked;
}

}  // namespace orb
