#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/compression.h"

namespace orb {

class TORBPage;
class TORBPageManager;
class TORBDiskPageManager;

// An internal file is a chain of pages of one page type linked through the
// page header's NextPageNo (-1 on the last page). The first page's data
// starts with a 10-byte internal file header; the contents follow it and
// continue at data offset 0 of every further page. With D data bytes per
// page (page size - 40), contents position p lies in chain page
// (p + 10) / D at data offset (p + 10) % D, page offset 40 more. n content
// bytes need ceil((n + 10) / D) pages; an empty file has one page.
//
// First page of the chain, stored form:
// | offset | size   | type  | meaning                                      |
// |      0 |     40 | bytes | page header; PageType = the file's type,     |
// |        |        |       | NextPageNo = second page or -1               |
// |     40 |     10 | bytes | internal file header (below)                 |
// |     50 | D - 10 | bytes | contents positions 0 .. D - 11               |
//
// Every further page of the chain, stored form:
// | offset | size   | type  | meaning                                      |
// |      0 |     40 | bytes | page header; PageType = the file's type,     |
// |        |        |       | NextPageNo = next page or -1                 |
// |     40 |      D | bytes | the next D bytes of the stored contents      |
// Bytes past the stored size in the last page are not significant.
//
// Internal file header, stored form (little-endian, packed), 10 bytes:
// | offset | size | type  | meaning                                        |
// |      0 |    1 | uint8 | HeaderLength: 10                               |
// |      1 |    4 | int32 | StoredSize: content bytes stored in the chain  |
// |        |      |       | (the compressed size when compressed)          |
// |      5 |    4 | int32 | UncompressedSize: contents size of a           |
// |        |      |       | transacted file; 0 in direct-access files      |
// |      9 |    1 | uint8 | Algorithm: TORBCompressionAlgorithm of the     |
// |        |      |       | stored bytes (0 none, 1 zlib, 2 bzip2, 3 PPM); |
// |        |      |       | 0 in direct-access files                       |
// A transacted file refuses (kErrInternalFileHeader) a header whose length
// is not 10, whose sizes are negative, whose algorithm is above 3, whose two
// sizes differ without compression, or whose compressed contents are empty
// while the uncompressed ones are not. Empty
// contents are always stored uncompressed.
struct TORBInternalFileHeader {
  static constexpr int32_t kSize = 10;

  uint8_t HeaderLength = kSize;
  int32_t StoredSize = 0;
  int32_t UncompressedSize = 0;
  uint8_t Algorithm = acaNone;

  void SaveTo(uint8_t* dst) const;
  static TORBInternalFileHeader LoadFrom(const uint8_t* src);
};

// Pages needed for `size` content bytes with `data_size` data bytes a page.
int32_t InternalFilePageCount(int64_t size, int32_t data_size);

// An internal file read and written whole through the page cache on behalf
// of a session: changes stay private to the session until it applies them.
// The stored bytes may be compressed.
//
// Damage is reported, never followed: a chain that ends early or runs into
// a page it already visited, and a header whose sizes or algorithm cannot
// be right, raise engine errors. Nothing is allocated from a stored size
// before the pages holding it have been read.
class TORBInternalDBTransactedAccessFile {
 public:
  TORBInternalDBTransactedAccessFile(TORBPageManager* page_manager, uint16_t page_type);

  bool IsOpen() const { return FStartPageNo != -1; }
  int32_t GetStartPageNo() const { return FStartPageNo; }
  uint16_t GetPageTypeID() const { return FPageTypeID; }

  // A one-page empty file. 30383 when the object already has a file.
  void CreateFile(int32_t session);
  // Remembers the first page (-1 is ignored).
  void OpenFile(int32_t first_page);
  // Forgets the file without touching its pages.
  void CloseFile() { FStartPageNo = -1; }
  // Schedules every page of the chain from `first_page` (the open file's
  // when -1) for removal; the object becomes closed.
  void DeleteFile(int32_t session, int32_t first_page = -1);

  // Reads the header. `file_was_changed`: the first page was re-read from
  // the file by this call because another process had changed it.
  void GetFileSize(int32_t session, int32_t& stored_size, int32_t& uncompressed_size,
                   TORBCompressionAlgorithm& algorithm, bool& file_was_changed, bool synchronize_allowed);
  // The uncompressed size of the contents.
  int32_t GetSize(int32_t session);
  // Sets the sizes and algorithm, appending pages when the stored bytes
  // need more than the chain's current pages. A file that needs fewer pages
  // is cut after its new last page, and the pages beyond are scheduled for
  // removal.
  void SetFileSize(int32_t session, int32_t stored_size, int32_t uncompressed_size,
                   TORBCompressionAlgorithm algorithm);
  // Reads the first `count` bytes of the contents. 30387 when the file is
  // smaller, 30388 when the chain holds fewer bytes than stored, 20189 when
  // compressed contents do not decode.
  void ReadFile(int32_t session, void* buffer, int32_t count, bool synchronize_allowed = true);
  // Reads the whole contents into `out`; the safe form for contents of
  // unknown size.
  void ReadAll(int32_t session, std::vector<uint8_t>& out, bool synchronize_allowed = true);
  // Replaces the contents by `count` bytes, compressed with `algorithm` at
  // codec level `mode` unless it is acaNone (20187 when that fails).
  void WriteFile(int32_t session, const void* buffer, int32_t count,
                 TORBCompressionAlgorithm algorithm = acaNone, uint8_t mode = 0);
  // Rewrites the first page's page header and an empty file header,
  // accepting a first page that no longer reads as its type. 20301 when
  // closed.
  void InitFileHeader(int32_t session);

  int32_t GetPageCountForDataSize(int64_t size) const;
  // Chain index and data offset of contents position `position`.
  void GetPageNoAndOffsetForPosition(int64_t position, int32_t& index, int32_t& offset) const;
  // Page number of the chain page at `index`. 20300 when the chain ends, or
  // loops, before it.
  int32_t GoToPage(int32_t session, int32_t index);

 private:
  void CheckOpened(const char* operation) const;
  // Reads and checks the header of the first page.
  TORBInternalFileHeader ReadHeader(int32_t session, bool synchronize_allowed, bool* file_was_changed);
  // Copies `count` stored bytes out of (`read`) or into the chain.
  int64_t CopyChain(int32_t session, uint8_t* bytes, int64_t count, bool read, bool synchronize_allowed);

  TORBPageManager* LPageManager;
  int32_t FStartPageNo = -1;
  uint16_t FPageTypeID;
};

// An internal file read and written in place in the database file,
// bypassing the cache, with byte locks on its positions. Serves the files
// that processes share while connected (active sessions, table locks). Its
// pages are never encrypted. Its header holds StoredSize = the size given
// at creation, UncompressedSize 0 and Algorithm 0. A file whose chain is a
// single page is usable whole: its size reads as D - 10 whatever StoredSize
// says. The first byte of the first page (byte 0 of its page header) is the
// target of LockFile; reads of that page header skip it, since another
// process may hold it locked.
class TORBInternalDBDirectAccessFile {
 public:
  TORBInternalDBDirectAccessFile(TORBDiskPageManager* page_manager, uint16_t page_type);

  bool IsOpen() const { return FStartPageNo != -1; }
  int32_t GetStartPageNo() const { return FStartPageNo; }
  // Usable size in bytes.
  int32_t GetFileSize() const { return FFileSize; }
  const std::vector<int32_t>& GetFilePages() const { return FFilePages; }

  // Creates the chain for `size` bytes through the system session's
  // private pages; it reaches the file when that session applies. 20157
  // when the object already has a file.
  void CreateFile(int32_t size);
  void OpenFile(int32_t first_page);
  void CloseFile();
  // Schedules every page of the chain for removal by the system session.
  void DeleteFile(int32_t first_page = -1);
  // Reads the stored size and the chain's page numbers directly. A chain
  // that ends early or loops raises 20154.
  void ReadPageList();
  // The stored size, read directly.
  int32_t GetSize();

  void ReadBuffer(void* buffer, int32_t count, int32_t position);
  // 20158 past the end of the file.
  void WriteBuffer(const void* buffer, int32_t count, int32_t position);

  // The first byte of the first page.
  bool LockFile();
  bool UnlockFile();
  // The byte at contents position `position`.
  bool LockByte(int32_t position);
  bool UnlockByte(int32_t position);
  bool IsByteLocked(int32_t position);
  bool IsRegionLocked(int32_t position, int32_t count);
  // IsRegionLocked without the byte at `held`, which this file holds
  // locked (LockByte): one probe where the bytes around it would take two.
  bool IsRegionLockedExcept(int32_t position, int32_t count, int32_t held);

  // Page number and page offset of `position`; 20159 past the end.
  void InternalSeek(int32_t position, int32_t& page_no, int32_t& page_offset) const;

 private:
  void CheckOpened(const char* operation) const;
  // The 40-byte page header (its last 39 bytes when `skip_first_byte`, the
  // first one may be locked by another process); 20155 for another type.
  void ReadPageHeader(int32_t page_no, uint8_t* header, bool skip_first_byte);
  int32_t ReadNextPageNo(int32_t page_no, bool skip_first_byte);
  // Calls `piece`(page number, page offset, byte offset, count) for every
  // piece of [position, position + count).
  template <typename Piece>
  void ForEachPiece(int32_t position, int32_t count, Piece&& piece) const;

  TORBDiskPageManager* LPageManager;
  int32_t FStartPageNo = -1;
  uint16_t FPageTypeID;
  int32_t FFileSize = 0;
  std::vector<int32_t> FFilePages;
};

}  // namespace orb
