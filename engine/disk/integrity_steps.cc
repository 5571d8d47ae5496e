#include "engine/disk/integrity_steps.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/base/crc32.h"
#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/database_file.h"
#include "engine/disk/disk_header.h"
#include "engine/disk/system_directory.h"
#include "engine/disk/table_list.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/codepage.h"

namespace orb {

namespace {

using Kind = TORBIntegrityFindingKind;

constexpr int64_t kHeaderSize = TORBDiskPageHeader::kSize;
constexpr int32_t kFileHeaderSize = TORBInternalFileHeader::kSize;
// State stamps a write never stores (see page_header.h).
constexpr int32_t kFirstReservedState = 2147483645;

std::string Num(int64_t v) { return std::to_string(v); }

std::string Quoted(const std::string& cp1252_name) { return "'" + AnsiToUtf8(cp1252_name) + "'"; }

// Reads `count` bytes of the front part; false when the file is too short.
bool ReadFront(TORBIntegrityContext& context, int64_t offset, uint8_t* bytes, size_t count) {
  return context.File().ReadBuffer(bytes, count, offset);
}

// Page of the chain holding contents position `position`, or the first
// page when the chain does not reach it.
int64_t PageOfPosition(const std::vector<int32_t>& pages, int64_t position, int32_t data_size) {
  const size_t index = static_cast<size_t>((position + kFileHeaderSize) / data_size);
  if (pages.empty()) return -1;
  return index < pages.size() ? pages[index] : pages.front();
}

}  // namespace

// ---------------------------------------------------------------------------
// Header

void TORBHeaderCheck::Run(TORBIntegrityContext& context) {
  TORBIntegrityReport& report = context.Report();
  const int64_t h = context.HeaderOffset();
  uint8_t bytes[kCryptoHeaderSize];
  if (!ReadFront(context, h, bytes, kDBHeaderSize)) {
    report.Add(Kind::FileTooShort, -1, "file ends inside the database header");
    return;
  }
  const TORBDBHeader header = TORBDBHeader::LoadFrom(bytes);
  auto field = [&](const char* name, std::string expected, std::string found) {
    report.Add(Kind::HeaderField, -1, std::string("header field ") + name + " out of range", std::move(expected),
               std::move(found));
  };
  bool locatable = true;
  if (header.HeaderSize != kDBHeaderSize) {
    field("HeaderSize", Num(kDBHeaderSize), Num(header.HeaderSize));
    // The crypto header follows at H + HeaderSize: one that overlaps the
    // header leaves nothing to rely on.
    if (header.HeaderSize < kDBHeaderSize) locatable = false;
  }
  if (!(header.Version >= kDBMinimumSoundVersion)) {
    report.Add(Kind::HeaderField, -1, "header field Version below 2.99 (repair needed)", {},
               std::isfinite(header.Version) ? std::to_string(header.Version) : std::string("not a number"));
  }
  const int64_t min_page_size = kHeaderSize + kFileHeaderSize + 1;
  if (header.PageSize < min_page_size) {
    field("PageSize", "at least " + Num(min_page_size), Num(header.PageSize));
    locatable = false;
  }
  if (header.PageCountInExtent == 0) {
    field("PageCountInExtent", "at least 1", "0");
    locatable = false;
  }
  if (header.TotalPageCount < 0) {
    field("TotalPageCount", "at least 0", Num(header.TotalPageCount));
    locatable = false;
  }
  if (header.LastUsedPageNo < -1) field("LastUsedPageNo", "at least -1", Num(header.LastUsedPageNo));
  if (header.WriteChangesState == kWriteChangesWriting) {
    report.Add(Kind::UnfinishedCommit, -1, "a commit did not finish (WriteChangesState 1, repair needed)");
  } else if (header.WriteChangesState != kWriteChangesConsistent) {
    field("WriteChangesState", Num(kWriteChangesConsistent), Num(header.WriteChangesState));
  }

  const int64_t crypto_offset = h + std::max<int64_t>(header.HeaderSize, kDBHeaderSize);
  if (!ReadFront(context, crypto_offset, bytes, kCryptoHeaderSize)) {
    report.Add(Kind::FileTooShort, -1, "file ends inside the crypto header");
    return;
  }
  TORBCryptoHeader crypto = TORBCryptoHeader::LoadFrom(bytes);
  if (crypto.CryptoHeaderSize != kCryptoHeaderSize) {
    field("CryptoHeaderSize", Num(kCryptoHeaderSize), Num(crypto.CryptoHeaderSize));
  }
  const bool encrypted = header.Encrypted != 0;
  if (encrypted) {
    // Damage and a wrong password look alike here; either way no page data
    // can be read.
    const std::unique_ptr<TORBCipher> cipher =
        crypto.CryptoAlgorithm < kCryptoAlgorithmCount
            ? TORBCipher::Create(static_cast<TORBCryptoAlgorithm>(crypto.CryptoAlgorithm), context.Password().Password)
            : nullptr;
    if (cipher == nullptr || !cipher->Decrypt(crypto.ControlBlock.data(), kControlBlockSize) ||
        CRC32(0, crypto.ControlBlock.data(), kControlBlockSize) != crypto.ControlBlockCRC) {
      RaiseORB(kErrCheckPassword, "Cannot open database - incorrect password");
    }
  } else if (crypto.CryptoAlgorithm != 0 || crypto.ControlBlockCRC != 0) {
    field("CryptoAlgorithm", "0 in a database without encryption", Num(crypto.CryptoAlgorithm));
  }

  const int64_t locked_offset = crypto_offset + kCryptoHeaderSize;
  uint8_t size_field[2];
  if (!ReadFront(context, locked_offset, size_field, sizeof size_field)) {
    report.Add(Kind::FileTooShort, -1, "file ends inside the lock bytes");
    return;
  }
  const int16_t locked_size = LoadI16LE(size_field);
  if (locked_size != kLockedBytesSize) {
    field("LockedByteSize", Num(kLockedBytesSize), Num(locked_size));
    if (locked_size <= kDBHeaderByteOffset) locatable = false;
  }
  const int64_t object_id_offset = locked_offset + std::max<int64_t>(locked_size, kDBHeaderByteOffset + 1);
  uint8_t id_field[kLastObjectIDSize];
  if (!ReadFront(context, object_id_offset, id_field, sizeof id_field)) {
    report.Add(Kind::FileTooShort, -1, "file ends inside the last object id");
    return;
  }
  const int32_t last_object_id = LoadI32LE(id_field);
  if (last_object_id < 0) field("last object id", "at least 0", Num(last_object_id));
  if (!locatable) return;

  TORBIntegrityLayout layout;
  layout.PageSize = header.PageSize;
  layout.PageCountInExtent = header.PageCountInExtent;
  layout.FirstPageOffset = object_id_offset + kLastObjectIDSize;
  layout.TotalPageCount = header.TotalPageCount;
  layout.LastUsedPageNo = header.LastUsedPageNo;
  layout.LastObjectID = last_object_id;
  layout.Encrypted = encrypted;
  const int64_t file_size = context.File().GetSize();
  const int64_t in_file =
      file_size <= layout.FirstPageOffset ? 0 : (file_size - layout.FirstPageOffset) / header.PageSize;
  // A file longer than its page area is what a process stopped between
  // growing the file and saving the header leaves: it costs space only.
  if (in_file < layout.TotalPageCount) {
    report.Add(Kind::FileTooShort, -1, "file ends before the page area does", Num(layout.TotalPageCount) + " pages",
               Num(in_file) + " whole pages");
  }
  layout.ReadablePageCount = std::min(in_file, layout.TotalPageCount);
  context.SetLayout(layout);
}

// ---------------------------------------------------------------------------
// Allocation maps

void TORBAllocationMapCheck::Run(TORBIntegrityContext& context) {
  TORBIntegrityReport& report = context.Report();
  const TORBIntegrityLayout& layout = context.Layout();
  const int64_t total = layout.TotalPageCount;
  const int64_t p = context.PfsPagesAddressed();
  const int64_t data_size = context.PageDataSize();
  const int32_t pfs_owner = context.NewOwner("the PFS pages", kPageTypePFS);
  const int32_t eam_owner = context.NewOwner("the EAM pages", kPageTypeEAM);
  std::vector<uint8_t> page;

  for (int64_t pfs = 0; pfs < total; pfs += p) {
    if (!context.IsReadable(pfs)) continue;
    context.Claim(pfs, pfs_owner);
    if (!context.ReadPage(pfs, page)) continue;
    const uint16_t type = ReadPageHeaderType(page.data());
    if (type != kPageTypePFS) {
      report.Add(Kind::PageType, pfs, "wrong page type for a PFS page", PageTypeName(kPageTypePFS), PageTypeName(type));
      continue;  // the usage of its pages stays unknown
    }
    const uint8_t* bits = page.data() + kHeaderSize;
    for (int64_t i = 0; i < p; ++i) {
      const int64_t page_no = pfs + i;
      const bool used = (bits[i / 8] >> (i % 8)) & 1;
      if (page_no < total) {
        context.SetUsage(page_no, used);
      } else if (used) {
        report.Add(Kind::UsedPastEnd, page_no, "marked in use past the end of the page area");
      }
    }
    if ((bits[0] & 1) == 0) report.Add(Kind::MapPageNotInUse, pfs, "PFS page not marked in use");
  }

  const int64_t e = context.EamPagesAddressed();
  const int64_t extents = context.EamExtentsAddressed();
  const int64_t x_pages = layout.PageCountInExtent;
  for (int64_t position = 0; position * e < total; ++position) {
    const int64_t eam = context.EamPageNoForPosition(position);
    if (eam >= total) {
      report.Add(Kind::PastEnd, eam,
                 "EAM page of pages " + Num(position * e) + " on lies past the end of the page area");
      continue;
    }
    if (!context.IsReadable(eam)) continue;
    context.Claim(eam, eam_owner);
    if (!context.ReadPage(eam, page)) continue;
    const uint16_t type = ReadPageHeaderType(page.data());
    if (type != kPageTypeEAM) {
      report.Add(Kind::PageType, eam, "wrong page type for an EAM page", PageTypeName(kPageTypeEAM),
                 PageTypeName(type));
      continue;
    }
    if (context.Usage(eam) == TORBIntegrityContext::TUsage::Free) {
      report.Add(Kind::MapPageNotInUse, eam, "EAM page not marked in use");
    }
    const uint8_t* codes = page.data() + kHeaderSize;
    for (int64_t entry = 0; entry < extents && entry / 4 < data_size; ++entry) {
      const int64_t extent = position * extents + entry;
      const int64_t first = extent * x_pages;
      if (first >= total) break;
      const int code = (codes[entry / 4] >> (2 * (entry % 4))) & 3;
      if (code == 2) {
        report.Add(Kind::ExtentCode, first, "extent " + Num(extent) + " has an undefined code", {}, "2");
      } else if (code == 3) {
        for (int64_t n = first; n < first + x_pages; ++n) {
          if (n >= total || context.Usage(n) == TORBIntegrityContext::TUsage::Free) {
            report.Add(Kind::ExtentCode, first,
                       "extent " + Num(extent) + " marked full but page " + Num(n) + " is free");
            break;
          }
        }
      }
    }
  }

  // Allocation starts after LastUsedPageNo: a page in use above it would be
  // handed out a second time. (One too high only costs space.)
  int64_t last_used = -1;
  for (int64_t n = layout.ReadablePageCount - 1; n >= 0; --n) {
    if (context.Usage(n) == TORBIntegrityContext::TUsage::Used && !context.IsMapPage(n)) {
      last_used = n;
      break;
    }
  }
  if (layout.LastUsedPageNo < last_used) {
    report.Add(Kind::LastUsedPageNo, -1, "header field LastUsedPageNo below the last page in use",
               "at least " + Num(last_used), Num(layout.LastUsedPageNo));
  }
}

// ---------------------------------------------------------------------------
// System directory, table list, table files

namespace {

void CheckTableList(TORBIntegrityContext& context, const TORBIntegrityContext::TWalkedFile& list) {
  TORBIntegrityReport& report = context.Report();
  const int32_t data_size = context.PageDataSize();
  const std::vector<uint8_t>& bytes = list.Contents;
  const int64_t size = list.Header.StoredSize;
  const int64_t count = size / TORBTableListItem::kSize;
  if (size % TORBTableListItem::kSize != 0) {
    report.Add(Kind::TableEntry, PageOfPosition(list.Pages, count * TORBTableListItem::kSize, data_size),
               "table list: trailing partial entry", {}, Num(size % TORBTableListItem::kSize) + " bytes");
  }
  std::vector<TORBTableListItem> items;
  for (int64_t i = 0; i < count; ++i) {
    const int64_t position = i * TORBTableListItem::kSize;
    if (position + TORBTableListItem::kSize > static_cast<int64_t>(bytes.size())) break;  // chain short: reported
    const uint8_t* entry = bytes.data() + position;
    const int64_t at = PageOfPosition(list.Pages, position, data_size);
    TORBTableListItem item;
    item.TableName.assign(reinterpret_cast<const char*>(entry + 1), entry[0]);
    item.TableID = LoadI32LE(entry + 256);
    item.MetaDataFilePageNo = LoadI32LE(entry + 260);
    item.MostUpdatedFilePageNo = LoadI32LE(entry + 264);
    item.LocksFilePageNo = LoadI32LE(entry + 268);
    const std::string label = "table list entry " + Num(i);
    if (item.TableName.empty()) report.Add(Kind::TableEntry, at, label + ": empty table name");
    if (item.TableName.find('\0') != std::string::npos) {
      report.Add(Kind::TableEntry, at, label + ": table name holds a zero byte");
    }
    for (size_t j = 0; j < items.size(); ++j) {
      if (!item.TableName.empty() && TORBTableListFile::SameTableName(items[j].TableName, item.TableName)) {
        report.Add(Kind::TableEntry, at,
                   label + ": table name " + Quoted(item.TableName) + " already used by entry " +
                       Num(static_cast<int64_t>(j)));
        break;
      }
    }
    if (item.TableID <= 0 || item.TableID > context.Layout().LastObjectID) {
      report.Add(Kind::TableEntry, at, label + ": table id out of range", "1 to " + Num(context.Layout().LastObjectID),
                 Num(item.TableID));
    }
    for (size_t j = 0; j < items.size(); ++j) {
      if (items[j].TableID == item.TableID) {
        report.Add(
            Kind::TableEntry, at,
            label + ": table id " + Num(item.TableID) + " already used by entry " + Num(static_cast<int64_t>(j)));
        break;
      }
    }
    const std::string table = "table " + Quoted(item.TableName);
    const struct {
      int32_t first;
      uint16_t type;
      const char* what;
      bool transacted;
    } files[] = {
        {item.MetaDataFilePageNo, kPageTypeTableMetaData, "metadata file", true},
        {item.MostUpdatedFilePageNo, kPageTypeTableMostUpdated, "most-updated file", true},
        {item.LocksFilePageNo, kPageTypeTableLocks, "locks file", false},
    };
    for (const auto& f : files) {
      if (f.first == -1) {
        report.Add(Kind::TableEntry, at, table + ": no " + f.what);
        continue;
      }
      context.WalkInternalFile(at, f.first, f.type, table + " " + f.what, f.transacted, false);
    }
    items.push_back(item);
  }
  context.Tables() = std::move(items);
}

// Whether any byte of the active sessions file's contents is locked: each
// connected session holds the byte of its slot.
bool AnySessionConnected(TORBIntegrityContext& context, const TORBIntegrityContext::TWalkedFile& sessions) {
  if (!sessions.HeaderValid || sessions.Pages.empty()) return false;
  const int64_t data_size = context.PageDataSize();
  // A file of one page is usable whole.
  const int64_t end_of_contents =
      (sessions.Pages.size() == 1 ? data_size - kFileHeaderSize : sessions.Header.StoredSize) + kFileHeaderSize;
  for (size_t i = 0; i < sessions.Pages.size(); ++i) {
    const int64_t begin = i == 0 ? kFileHeaderSize : 0;
    const int64_t end = std::min<int64_t>(data_size, end_of_contents - static_cast<int64_t>(i) * data_size);
    if (end <= begin) break;
    const int64_t offset = context.Layout().FirstPageOffset +
                           static_cast<int64_t>(sessions.Pages[i]) * context.Layout().PageSize + kHeaderSize + begin;
    if (context.File().IsRegionLocked(offset, end - begin)) return true;
  }
  return false;
}

}  // namespace

void TORBSystemFilesCheck::Run(TORBIntegrityContext& context) {
  TORBIntegrityReport& report = context.Report();
  const int32_t data_size = context.PageDataSize();
  const int32_t directory_page = TORBSystemDirectory::kSystemDirectoryPageNo;
  if (!context.IsReadable(directory_page)) {
    report.Add(Kind::PastEnd, directory_page,
               context.IsInPageArea(directory_page) ? "the system directory lies past the end of the file"
                                                    : "the system directory lies past the end of the page area");
    return;
  }
  const auto directory =
      context.WalkInternalFile(-1, directory_page, kPageTypeFileSystemDirectory, "the system directory", true, true);
  if (!directory.HeaderValid) return;
  if (directory.Header.Algorithm != acaNone) {
    report.Add(Kind::FileHeader, directory_page, "the system directory: stored compressed", "algorithm 0",
               "algorithm " + Num(directory.Header.Algorithm));
    return;
  }
  const int64_t size = directory.Header.StoredSize;
  const int64_t count = size / TORBSystemDirectoryListItem::kSize;
  if (size % TORBSystemDirectoryListItem::kSize != 0) {
    report.Add(
        Kind::DirectoryEntry, PageOfPosition(directory.Pages, count * TORBSystemDirectoryListItem::kSize, data_size),
        "system directory: trailing partial entry", {}, Num(size % TORBSystemDirectoryListItem::kSize) + " bytes");
  }
  int64_t sessions_entry = -1;
  int64_t tables_entry = -1;
  int32_t tables_first = -1;
  int64_t tables_at = directory_page;
  for (int64_t i = 0; i < count; ++i) {
    const int64_t position = i * TORBSystemDirectoryListItem::kSize;
    if (position + TORBSystemDirectoryListItem::kSize > static_cast<int64_t>(directory.Contents.size())) break;
    const uint8_t* entry = directory.Contents.data() + position;
    const int64_t at = PageOfPosition(directory.Pages, position, data_size);
    const uint8_t type = entry[0];
    const int32_t first = LoadI32LE(entry + 1);
    const std::string label = "system directory entry " + Num(i);
    if (type != dbftActiveSessionsList && type != dbftTablesList) {
      report.Add(Kind::DirectoryEntry, at, label + ": unknown file type", {}, Num(type));
      continue;
    }
    int64_t& seen = type == dbftTablesList ? tables_entry : sessions_entry;
    if (seen != -1) {
      report.Add(Kind::DirectoryEntry, at, label + ": second entry of its file type (first: entry " + Num(seen) + ")");
      continue;
    }
    seen = i;
    if (type == dbftTablesList) {
      tables_first = first;
      tables_at = at;
    } else {
      const auto sessions =
          context.WalkInternalFile(at, first, kPageTypeActiveSessionList, "the active sessions file", false, false);
      context.SetSessionsConnected(AnySessionConnected(context, sessions));
    }
  }
  if (sessions_entry == -1) {
    report.Add(Kind::DirectoryEntry, directory_page, "system directory: no entry for the active sessions file");
  }
  if (tables_entry == -1) {
    report.Add(Kind::DirectoryEntry, directory_page, "system directory: no entry for the table list");
    return;
  }
  const auto list = context.WalkInternalFile(tables_at, tables_first, kPageTypeTableList, "the table list", true, true);
  if (!list.HeaderValid) return;
  if (list.Header.Algorithm != acaNone) {
    report.Add(Kind::FileHeader, list.Pages.front(), "the table list: stored compressed", "algorithm 0",
               "algorithm " + Num(list.Header.Algorithm));
    return;
  }
  CheckTableList(context, list);
}

// ---------------------------------------------------------------------------
// Final checks

void TORBOwnershipCheck::Run(TORBIntegrityContext& context) {
  for (int64_t n = 0; n < context.Layout().ReadablePageCount; ++n) {
    if (context.Usage(n) == TORBIntegrityContext::TUsage::Used && context.OwnerOf(n) < 0) {
      context.Report().Add(Kind::Leaked, n,
                           context.GetSessionsConnected()
                               ? "allocated but not owned (leaked, or not yet committed by a connected session)"
                               : "allocated but not owned (leaked)");
    }
  }
}

void TORBPageHeaderCheck::Run(TORBIntegrityContext& context) {
  TORBIntegrityReport& report = context.Report();
  const bool encrypted = context.Layout().Encrypted;
  std::vector<uint8_t> page;
  for (int64_t n = 0; n < context.Layout().ReadablePageCount; ++n) {
    const int32_t owner = context.OwnerOf(n);
    // A page of the wrong type is reported as such; what its header should
    // hold is unknown.
    if (owner < 0 || context.IsReferencedOnly(n)) continue;
    const uint16_t type = context.OwnerPageType(owner);
    const bool stored_encrypted = encrypted && TORBIntegrityContext::IsStoredEncrypted(type) && !context.IsMapPage(n);
    bool checksum_ok = true;
    if (stored_encrypted ? !context.ReadPage(n, page, &checksum_ok) : !context.ReadPage(n, page)) continue;
    const TORBDiskPageHeader h = TORBDiskPageHeader::LoadFrom(page.data());
    if (h.Signature != TORBDiskPageHeader::kSignature) {
      report.Add(Kind::PageSignature, n, "page signature damaged", "ORBP",
                 std::string(h.Signature.begin(), h.Signature.end()));
    }
    if (h.State == kInvalidPageState) {
      report.Add(Kind::PageState, n, "stamped as removed but used by " + context.OwnerName(owner));
    } else if (h.State >= kFirstReservedState || h.State < 0) {
      report.Add(Kind::PageState, n, "state stamp out of range", "0 to " + Num(kFirstReservedState - 1), Num(h.State));
    }
    auto field = [&](const char* name, int64_t expected, int64_t found) {
      if (expected != found) {
        report.Add(Kind::PageHeaderField, n, std::string("page header field ") + name + " out of range", Num(expected),
                   Num(found));
      }
    };
    field("CRCType", 0, h.CRCType);
    field("HashType", 0, h.HashType);
    field("MACType", 0, h.MACType);
    // Record pages carry their table's id; those are checked with the table.
    if (type != kPageTypeTableRecord) field("ObjectID", -1, h.ObjectID);
    field("RecordIDPageNo", -1, h.RecordIDPageNo);
    field("RecordIDItemNo", 0, h.RecordIDItemNo);
    if (std::any_of(h.Reserved.begin(), h.Reserved.end(), [](uint8_t b) { return b != 0; })) {
      report.Add(Kind::PageHeaderField, n, "page header field Reserved not zero");
    }
    if (stored_encrypted) {
      if (h.Cipherype >= kCryptoAlgorithmCount) {
        report.Add(Kind::PageHeaderField, n, "page header field Cipherype out of range",
                   "0 to " + Num(kCryptoAlgorithmCount - 1), Num(h.Cipherype));
      } else if (!checksum_ok) {
        report.Add(Kind::PageChecksum, n, "page data does not match its checksum");
      }
    } else {
      field("CRC32", 0, h.CRC32);
      field("Cipherype", 0, h.Cipherype);
    }
  }
}

}  // namespace orb
