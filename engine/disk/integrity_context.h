#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/disk/encryption.h"
#include "engine/disk/integrity_report.h"
#include "engine/disk/internal_file.h"
#include "engine/disk/table_list.h"
#include "engine/table/page_header.h"

namespace orb {

class TORBDatabaseFile;

// Where the pages of the file lie and what the header says about them, as
// the header check found it.
struct TORBIntegrityLayout {
  uint16_t PageSize = 0;
  uint16_t PageCountInExtent = 0;
  // File offset of page 0.
  int64_t FirstPageOffset = 0;
  // The header's TotalPageCount.
  int64_t TotalPageCount = 0;
  // Pages wholly inside the file, at most TotalPageCount: the pages that
  // can be read.
  int64_t ReadablePageCount = 0;
  int32_t LastUsedPageNo = -1;
  int32_t LastObjectID = 0;
  bool Encrypted = false;
};

// What the checks share while they walk one database file: the open file,
// the layout, each page's usage according to the PFS pages, each page's
// owner, and the report. Reads only; never writes the file.
//
// Every page number coming from the file is checked against the page area
// before use, and every walk is bounded by the page count, so damaged
// bytes give findings, never unbounded work.
class TORBIntegrityContext {
 public:
  enum class TUsage : uint8_t { Unknown, Free, Used };

  // What an internal file walk found.
  struct TWalkedFile {
    // The chain pages of the file's type, in order, as far as they could be
    // followed.
    std::vector<int32_t> Pages;
    // The first page's internal file header, and whether it is sound.
    TORBInternalFileHeader Header;
    bool HeaderValid = false;
    // The chain ended with -1 (no damage cut the walk short).
    bool Complete = false;
    // The stored bytes, when asked for: at most StoredSize, fewer when the
    // chain is short.
    std::vector<uint8_t> Contents;
  };

  // REQUIRES: `file` is open and outlives the context.
  TORBIntegrityContext(TORBDatabaseFile& file, int64_t header_offset, const TORBPassword& password,
                       TORBIntegrityReport& report);
  ~TORBIntegrityContext();
  TORBIntegrityContext(const TORBIntegrityContext&) = delete;
  TORBIntegrityContext& operator=(const TORBIntegrityContext&) = delete;

  TORBDatabaseFile& File() { return FFile; }
  int64_t HeaderOffset() const { return FHeaderOffset; }
  const TORBPassword& Password() const { return FPassword; }
  TORBIntegrityReport& Report() { return FReport; }

  // Set by the header check when the pages can be located; until then no
  // page is read. REQUIRES: PageSize > 40 + internal file header size,
  // PageCountInExtent > 0, 0 <= ReadablePageCount <= TotalPageCount.
  void SetLayout(const TORBIntegrityLayout& layout);
  bool HasLayout() const { return FHasLayout; }
  const TORBIntegrityLayout& Layout() const { return FLayout; }
  int32_t PageDataSize() const { return FLayout.PageSize - static_cast<int32_t>(TORBDiskPageHeader::kSize); }
  bool IsInPageArea(int64_t page_no) const { return page_no >= 0 && page_no < FLayout.TotalPageCount; }
  bool IsReadable(int64_t page_no) const { return page_no >= 0 && page_no < FLayout.ReadablePageCount; }

  // Placement of the allocation maps (see free_space.h).
  int64_t PfsPagesAddressed() const { return 8 * static_cast<int64_t>(PageDataSize()); }
  int64_t EamExtentsAddressed() const { return 4 * static_cast<int64_t>(PageDataSize()); }
  int64_t EamPagesAddressed() const { return EamExtentsAddressed() * FLayout.PageCountInExtent; }
  int64_t EamPageNoForPosition(int64_t position) const;
  bool IsMapPage(int64_t page_no) const;

  // Page usage as the PFS pages record it; Unknown outside the readable
  // pages and where a PFS page is damaged.
  void SetUsage(int64_t page_no, bool used);
  TUsage Usage(int64_t page_no) const;

  // The 40-byte header of a readable page. False when it cannot be read.
  bool ReadPageHeader(int64_t page_no, TORBDiskPageHeader& header);
  // The whole page; in an encrypted database the data of a page whose type
  // is stored encrypted is decrypted with the cipher its header names.
  // `checksum_ok` (optional) tells whether the data matches the header's
  // CRC32 (always true for pages stored plain). False when unreadable.
  bool ReadPage(int64_t page_no, std::vector<uint8_t>& page, bool* checksum_ok = nullptr);
  // Whether pages of this type are stored encrypted in an encrypted
  // database: all but the maps and the direct-access files.
  static bool IsStoredEncrypted(uint16_t page_type);

  // A new owner: a description such as "the table list" and the page type
  // its pages should have.
  int32_t NewOwner(std::string description, uint16_t page_type);
  // Records `owner_id` as the owner of a readable page. Returns false, with
  // an OwnedTwice finding, when another owner has it already. A page the
  // PFS marks free gets a FreeButOwned finding and is recorded all the same.
  bool Claim(int64_t page_no, int32_t owner_id);
  // Records a reference to a page of the wrong type (reported by the
  // caller): the page does not count as leaked, and a later Claim by an
  // owner of the right type takes it over without a finding. Does nothing
  // to an owned page.
  void ClaimReferenced(int64_t page_no, int32_t owner_id);
  // The page's only owner is a wrong-type reference.
  bool IsReferencedOnly(int64_t page_no) const;
  // -1 when nobody owns the page.
  int32_t OwnerOf(int64_t page_no) const;
  const std::string& OwnerName(int32_t owner_id) const { return FOwners[owner_id]; }
  uint16_t OwnerPageType(int32_t owner_id) const { return FOwnerTypes[owner_id]; }

  // Walks the internal file of `page_type` starting at `first_page` for
  // `owner` (a new owner), claiming its pages: the chain, its page types,
  // its header and its length against the stored size. `referrer` is the
  // page holding the reference to the first page (-1: the file header),
  // where a reference outside the page area is reported. `transacted`:
  // the header rules of transacted files (else direct-access files).
  TWalkedFile WalkInternalFile(int64_t referrer, int32_t first_page, uint16_t page_type, const std::string& owner,
                               bool transacted, bool want_contents);

  // Another open of the file has a session connected (a byte of the active
  // sessions file is locked): pages it allocated and has not committed yet
  // are in use without an owner.
  void SetSessionsConnected(bool on) { FSessionsConnected = on; }
  bool GetSessionsConnected() const { return FSessionsConnected; }

  // The tables the table list names (entries that parse), for the checks of
  // each table's own structures.
  std::vector<TORBTableListItem>& Tables() { return FTables; }

 private:
  const TORBCipher* CipherFor(uint8_t algorithm);

  TORBDatabaseFile& FFile;
  int64_t FHeaderOffset;
  TORBPassword FPassword;
  TORBIntegrityReport& FReport;
  TORBIntegrityLayout FLayout;
  bool FHasLayout = false;
  bool FSessionsConnected = false;
  std::vector<TUsage> FUsage;
  std::vector<int32_t> FOwnerOf;
  std::vector<uint8_t> FReferencedOnly;
  std::vector<std::string> FOwners;
  std::vector<uint16_t> FOwnerTypes;
  std::vector<TORBTableListItem> FTables;
  std::array<std::unique_ptr<TORBCipher>, kCryptoAlgorithmCount> FCiphers;
  std::array<bool, kCryptoAlgorithmCount> FCipherTried{};
};

// Display name of a page type code, also for codes that are not defined.
std::string PageTypeName(uint16_t page_type);

}  // namespace orb
