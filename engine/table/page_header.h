#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orb {

// Page type codes stored in the page header.
inline constexpr uint16_t kPageTypeUnknown = 0;
inline constexpr uint16_t kPageTypeEmpty = 1;
inline constexpr uint16_t kPageTypeEAM = 2;
inline constexpr uint16_t kPageTypePFS = 3;
inline constexpr uint16_t kPageTypeFileSystemDirectory = 4;
inline constexpr uint16_t kPageTypeActiveSessionList = 5;
inline constexpr uint16_t kPageTypeTableList = 6;
inline constexpr uint16_t kPageTypeTableLocks = 7;
inline constexpr uint16_t kPageTypeTableMetaData = 8;
inline constexpr uint16_t kPageTypeTableMostUpdated = 9;
inline constexpr uint16_t kPageTypeTableRecord = 10;
inline constexpr uint16_t kPageTypeTableBlob = 11;
inline constexpr uint16_t kPageTypeTableIndex = 12;
// Never stored: asks GetPage to accept any stored type.
inline constexpr uint16_t kPageTypeAny = 255;

// Display name of a stored page type code; 13 or more raises 30382.
std::string_view PageTypeToStr(uint16_t page_type);

// State stamp of a removed page, or of a page whose stamp cannot be read.
inline constexpr int32_t kInvalidPageState = 2147483647;

// Header at the start of every page of a database file. The page data
// (page size - 40 bytes) follows it. Managers whose pages have no header
// (in-memory pages) use a header size of 0.
//
// Stored form (little-endian, packed), 40 bytes:
// | offset | size | type   | meaning                                          |
// |      0 |    4 | char[] | Signature: "ORBP"; written, never checked on read |
// |      4 |    4 | int32  | State: change stamp, see below                   |
// |      8 |    2 | uint16 | PageType: kPageType* code; 255 is never stored   |
// |     10 |    4 | int32  | NextPageNo: next page of an internal file chain; |
// |        |      |        | -1 when none                                     |
// |     14 |    4 | uint32 | CRC32: CRC32(0, plain page data) of an encrypted |
// |        |      |        | page; 0 otherwise                                |
// |     18 |    1 | uint8  | CRCType: 0                                       |
// |     19 |    1 | uint8  | HashType: 0                                      |
// |     20 |    1 | uint8  | Cipherype: TORBCryptoAlgorithm the data was      |
// |        |      |        | encrypted with; 0 on plain pages                 |
// |     21 |    1 | uint8  | MACType: 0                                       |
// |     22 |    4 | int32  | ObjectID: -1; reserved for the table id of       |
// |        |      |        | record pages                                     |
// |     26 |    4 | int32  | RecordIDPageNo: -1, not used                     |
// |     30 |    2 | uint16 | RecordIDItemNo: 0, not used                      |
// |     32 |    8 | bytes  | Reserved: zero                                   |
//
// State: a page created through the cache (AddPage) starts at a
// pseudo-random value in [0, 0x3FFFFFFF), a map page at 0. Every write of
// the page by the disk page manager stores the previous value + 1, wrapping
// to 0 instead of reaching 2147483645, so a write never stores
// 2147483645..2147483647. Removing a page writes kInvalidPageState
// (2147483647) into the stored field. The four bytes at page offset 4 are
// read and written on their own (InternalReadPageState/WritePageState) to
// tell whether a cached copy is still current.
//
// The header is never encrypted; map pages (PFS, EAM) and the pages of the
// direct-access files keep plain data, so their CRC32 and Cipherype stay 0.
struct TORBDiskPageHeader {
  static constexpr size_t kSize = 40;
  static constexpr std::array<uint8_t, 4> kSignature = {'O', 'R', 'B', 'P'};

  // Byte offsets of the fields within the header.
  static constexpr size_t kOffSignature = 0;
  static constexpr size_t kOffState = 4;
  static constexpr size_t kOffPageType = 8;
  static constexpr size_t kOffNextPageNo = 10;
  static constexpr size_t kOffCRC32 = 14;
  static constexpr size_t kOffCRCType = 18;
  static constexpr size_t kOffHashType = 19;
  static constexpr size_t kOffCipherype = 20;
  static constexpr size_t kOffMACType = 21;
  static constexpr size_t kOffObjectID = 22;
  static constexpr size_t kOffRecordIDPageNo = 26;
  static constexpr size_t kOffRecordIDItemNo = 30;
  static constexpr size_t kOffReserved = 32;

  // Defaults are the values of a freshly initialised header.
  std::array<uint8_t, 4> Signature = kSignature;
  int32_t State = 0;
  uint16_t PageType = kPageTypeUnknown;
  int32_t NextPageNo = -1;
  uint32_t CRC32 = 0;
  uint8_t CRCType = 0;
  uint8_t HashType = 0;
  uint8_t Cipherype = 0;
  uint8_t MACType = 0;
  int32_t ObjectID = -1;
  int32_t RecordIDPageNo = -1;
  uint16_t RecordIDItemNo = 0;
  std::array<uint8_t, 8> Reserved{};

  // Writes the 40 header bytes to `dst`.
  void SaveTo(uint8_t* dst) const;
  // Reads 40 header bytes from `src`.
  static TORBDiskPageHeader LoadFrom(const uint8_t* src);

  bool operator==(const TORBDiskPageHeader&) const = default;
};

// Single-field access to a header held in a page buffer.
int32_t ReadPageHeaderState(const uint8_t* header);
void WritePageHeaderState(uint8_t* header, int32_t state);
uint16_t ReadPageHeaderType(const uint8_t* header);
void WritePageHeaderType(uint8_t* header, uint16_t page_type);
int32_t ReadPageHeaderNextPageNo(const uint8_t* header);
void WritePageHeaderNextPageNo(uint8_t* header, int32_t next_page_no);

}  // namespace orb
