#include "engine/disk/integrity_context.h"

#include <algorithm>
#include <utility>

#include "engine/base/crc32.h"
#include "engine/disk/database_file.h"

namespace orb {

namespace {

constexpr int32_t kFileHeaderSize = TORBInternalFileHeader::kSize;

std::string Num(int64_t v) { return std::to_string(v); }

// The problem with an internal file header, or empty when it is sound.
std::string FileHeaderProblem(const TORBInternalFileHeader& h, bool transacted) {
  if (h.HeaderLength != kFileHeaderSize) return "header length " + Num(h.HeaderLength);
  if (h.StoredSize < 0) return "stored size " + Num(h.StoredSize);
  if (!transacted) {
    if (h.UncompressedSize != 0 || h.Algorithm != acaNone) {
      return "uncompressed size " + Num(h.UncompressedSize) + ", algorithm " + Num(h.Algorithm);
    }
    return {};
  }
  if (h.UncompressedSize < 0) return "uncompressed size " + Num(h.UncompressedSize);
  if (h.Algorithm > acaPPM) return "algorithm " + Num(h.Algorithm);
  if (h.Algorithm == acaNone && h.StoredSize != h.UncompressedSize) {
    return "stored size " + Num(h.StoredSize) + " and uncompressed size " + Num(h.UncompressedSize) +
           " without compression";
  }
  if (h.Algorithm != acaNone && (h.StoredSize == 0) != (h.UncompressedSize == 0)) {
    return "stored size " + Num(h.StoredSize) + " and uncompressed size " + Num(h.UncompressedSize);
  }
  return {};
}

}  // namespace

std::string PageTypeName(uint16_t page_type) {
  if (page_type <= kPageTypeTableIndex) return std::string(PageTypeToStr(page_type));
  return "unknown page type " + Num(page_type);
}

TORBIntegrityContext::TORBIntegrityContext(TORBDatabaseFile& file, int64_t header_offset, const TORBPassword& password,
                                           TORBIntegrityReport& report)
    : FFile(file), FHeaderOffset(header_offset), FPassword(password), FReport(report) {}

TORBIntegrityContext::~TORBIntegrityContext() = default;

void TORBIntegrityContext::SetLayout(const TORBIntegrityLayout& layout) {
  FLayout = layout;
  FHasLayout = true;
  const size_t pages = static_cast<size_t>(std::max<int64_t>(0, layout.ReadablePageCount));
  FUsage.assign(pages, TUsage::Unknown);
  FOwnerOf.assign(pages, -1);
  FReferencedOnly.assign(pages, 0);
}

int64_t TORBIntegrityContext::EamPageNoForPosition(int64_t position) const {
  const int64_t page_no = position * EamPagesAddressed();
  return page_no % PfsPagesAddressed() == 0 ? page_no + 1 : page_no;
}

bool TORBIntegrityContext::IsMapPage(int64_t page_no) const {
  const int64_t p = PfsPagesAddressed();
  const int64_t e = EamPagesAddressed();
  return page_no % p == 0 || page_no % e == 0 || (page_no >= 1 && (page_no - 1) % p == 0 && (page_no - 1) % e == 0);
}

void TORBIntegrityContext::SetUsage(int64_t page_no, bool used) {
  if (IsReadable(page_no)) FUsage[static_cast<size_t>(page_no)] = used ? TUsage::Used : TUsage::Free;
}

TORBIntegrityContext::TUsage TORBIntegrityContext::Usage(int64_t page_no) const {
  return IsReadable(page_no) ? FUsage[static_cast<size_t>(page_no)] : TUsage::Unknown;
}

bool TORBIntegrityContext::ReadPageHeader(int64_t page_no, TORBDiskPageHeader& header) {
  if (!IsReadable(page_no)) return false;
  uint8_t bytes[TORBDiskPageHeader::kSize];
  if (!FFile.ReadBuffer(bytes, sizeof bytes, FLayout.FirstPageOffset + page_no * FLayout.PageSize)) return false;
  header = TORBDiskPageHeader::LoadFrom(bytes);
  return true;
}

bool TORBIntegrityContext::IsStoredEncrypted(uint16_t page_type) {
  return page_type != kPageTypeEAM && page_type != kPageTypePFS && page_type != kPageTypeActiveSessionList &&
         page_type != kPageTypeTableLocks;
}

const TORBCipher* TORBIntegrityContext::CipherFor(uint8_t algorithm) {
  if (algorithm >= kCryptoAlgorithmCount) return nullptr;
  if (!FCipherTried[algorithm]) {
    FCiphers[algorithm] = TORBCipher::Create(static_cast<TORBCryptoAlgorithm>(algorithm), FPassword.Password);
    FCipherTried[algorithm] = true;
  }
  return FCiphers[algorithm].get();
}

bool TORBIntegrityContext::ReadPage(int64_t page_no, std::vector<uint8_t>& page, bool* checksum_ok) {
  if (checksum_ok != nullptr) *checksum_ok = true;
  if (!IsReadable(page_no)) return false;
  page.resize(FLayout.PageSize);
  if (!FFile.ReadBuffer(page.data(), page.size(), FLayout.FirstPageOffset + page_no * FLayout.PageSize)) {
    return false;
  }
  const TORBDiskPageHeader header = TORBDiskPageHeader::LoadFrom(page.data());
  // The owner decides how the page is stored; a page of a wrong type is
  // read as its owner would read it.
  const int32_t owner = OwnerOf(page_no);
  const uint16_t type = owner >= 0 ? FOwnerTypes[owner] : header.PageType;
  if (FLayout.Encrypted && IsStoredEncrypted(type) && !IsMapPage(page_no)) {
    uint8_t* data = page.data() + TORBDiskPageHeader::kSize;
    const size_t size = static_cast<size_t>(PageDataSize());
    const TORBCipher* cipher = CipherFor(header.Cipherype);
    const bool decrypted = cipher != nullptr && cipher->Decrypt(data, size);
    if (checksum_ok != nullptr) *checksum_ok = decrypted && CRC32(0, data, size) == header.CRC32;
  }
  return true;
}

int32_t TORBIntegrityContext::NewOwner(std::string description, uint16_t page_type) {
  FOwners.push_back(std::move(description));
  FOwnerTypes.push_back(page_type);
  return static_cast<int32_t>(FOwners.size() - 1);
}

void TORBIntegrityContext::ClaimReferenced(int64_t page_no, int32_t owner_id) {
  if (!IsReadable(page_no) || FOwnerOf[static_cast<size_t>(page_no)] >= 0) return;
  FOwnerOf[static_cast<size_t>(page_no)] = owner_id;
  FReferencedOnly[static_cast<size_t>(page_no)] = 1;
}

bool TORBIntegrityContext::IsReferencedOnly(int64_t page_no) const {
  return IsReadable(page_no) && FReferencedOnly[static_cast<size_t>(page_no)] != 0;
}

int32_t TORBIntegrityContext::OwnerOf(int64_t page_no) const {
  return IsReadable(page_no) ? FOwnerOf[static_cast<size_t>(page_no)] : -1;
}

bool TORBIntegrityContext::Claim(int64_t page_no, int32_t owner_id) {
  if (!IsReadable(page_no)) return false;
  const size_t index = static_cast<size_t>(page_no);
  int32_t& slot = FOwnerOf[index];
  if (FReferencedOnly[index] != 0) {
    // A wrong-type reference gives way to an owner of the right type.
    slot = -1;
    FReferencedOnly[index] = 0;
  }
  if (slot >= 0 && slot != owner_id) {
    FReport.Add(TORBIntegrityFindingKind::OwnedTwice, page_no,
                "owned by " + FOwners[slot] + " and by " + FOwners[owner_id]);
    return false;
  }
  if (Usage(page_no) == TUsage::Free) {
    FReport.Add(TORBIntegrityFindingKind::FreeButOwned, page_no,
                "free in the allocation map but used by " + FOwners[owner_id]);
  }
  slot = owner_id;
  return true;
}

TORBIntegrityContext::TWalkedFile TORBIntegrityContext::WalkInternalFile(int64_t referrer, int32_t first_page,
                                                                         uint16_t page_type, const std::string& owner,
                                                                         bool transacted, bool want_contents) {
  TWalkedFile walked;
  const int32_t me = NewOwner(owner, page_type);
  const int64_t data_size = PageDataSize();
  std::vector<uint8_t> page;
  std::vector<uint8_t> stored;
  int64_t from = referrer;
  int64_t page_no = first_page;
  // Each page is claimed once, so the walk ends within the page count.
  while (true) {
    const std::string which = walked.Pages.empty() ? "first page" : "next page";
    if (!IsInPageArea(page_no)) {
      FReport.Add(TORBIntegrityFindingKind::PastEnd, from, owner + ": " + which + " outside the page area", {},
                  Num(page_no));
      break;
    }
    if (!IsReadable(page_no)) {
      FReport.Add(TORBIntegrityFindingKind::PastEnd, from, owner + ": " + which + " past the end of the file", {},
                  Num(page_no));
      break;
    }
    if (OwnerOf(page_no) == me) {
      FReport.Add(TORBIntegrityFindingKind::ChainLoop, from, owner + ": chain loops back to page " + Num(page_no));
      break;
    }
    TORBDiskPageHeader header;
    if (!ReadPageHeader(page_no, header)) break;  // readable by the layout: only an I/O failure gets here
    if (header.PageType != page_type) {
      FReport.Add(TORBIntegrityFindingKind::PageType, page_no, "wrong page type for " + owner, PageTypeName(page_type),
                  PageTypeName(header.PageType));
      // Referenced, so not leaked; but the page may well belong to another
      // structure, which then owns it without a second finding.
      ClaimReferenced(page_no, me);
      break;
    }
    if (!Claim(page_no, me)) break;
    if (!ReadPage(page_no, page)) break;
    const uint8_t* data = page.data() + TORBDiskPageHeader::kSize;
    if (walked.Pages.empty()) {
      walked.Header = TORBInternalFileHeader::LoadFrom(data);
      const std::string problem = FileHeaderProblem(walked.Header, transacted);
      walked.HeaderValid = problem.empty();
      if (!problem.empty()) {
        FReport.Add(TORBIntegrityFindingKind::FileHeader, page_no, owner + ": invalid internal file header", {},
                    problem);
      }
    }
    walked.Pages.push_back(static_cast<int32_t>(page_no));
    if (want_contents && walked.HeaderValid) {
      const int64_t offset = walked.Pages.size() == 1 ? kFileHeaderSize : 0;
      const int64_t left = static_cast<int64_t>(walked.Header.StoredSize) - static_cast<int64_t>(stored.size());
      const int64_t take = std::min<int64_t>(std::max<int64_t>(left, 0), data_size - offset);
      stored.insert(stored.end(), data + offset, data + offset + take);
    }
    if (header.NextPageNo == -1) {
      walked.Complete = true;
      break;
    }
    from = page_no;
    page_no = header.NextPageNo;
  }
  if (walked.Complete && walked.HeaderValid) {
    const int64_t needed =
        (static_cast<int64_t>(walked.Header.StoredSize) + kFileHeaderSize + data_size - 1) / data_size;
    // A direct-access file of one page is usable whole, whatever it stores.
    const bool whole_single_page = !transacted && walked.Pages.size() == 1;
    if (static_cast<int64_t>(walked.Pages.size()) < needed && !whole_single_page) {
      FReport.Add(TORBIntegrityFindingKind::ChainShort, walked.Pages.front(), owner + ": chain ends early",
                  Num(needed) + " pages", Num(static_cast<int64_t>(walked.Pages.size())));
    }
  }
  walked.Contents = std::move(stored);
  return walked;
}

}  // namespace orb
