#include "engine/table/page_header.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using testing::ErrorCodeOf;
using testing::ErrorMessageOf;

TEST(PageHeaderTest, FreshHeaderBytes) {
  std::vector<uint8_t> bytes(TORBDiskPageHeader::kSize, 0xEE);
  TORBDiskPageHeader{}.SaveTo(bytes.data());
  const std::vector<uint8_t> expected = {
      'O', 'R', 'B', 'P',                  // signature
      0, 0, 0, 0,                          // State
      0, 0,                                // PageType
      0xFF, 0xFF, 0xFF, 0xFF,              // NextPageNo -1
      0, 0, 0, 0,                          // CRC32
      0, 0, 0, 0,                          // CRC, hash, cipher, MAC types
      0xFF, 0xFF, 0xFF, 0xFF,              // ObjectID -1
      0xFF, 0xFF, 0xFF, 0xFF, 0, 0,        // RecordID (-1, 0)
      0, 0, 0, 0, 0, 0, 0, 0,              // reserved
  };
  EXPECT_EQ(bytes, expected);
}

TEST(PageHeaderTest, FieldsAtTheirOffsetsLittleEndian) {
  TORBDiskPageHeader h;
  h.State = 0x01020304;
  h.PageType = 0x0A0B;
  h.NextPageNo = 0x11121314;
  h.CRC32 = 0xA1A2A3A4;
  h.CRCType = 0x21;
  h.HashType = 0x22;
  h.Cipherype = 0x23;
  h.MACType = 0x24;
  h.ObjectID = 0x31323334;
  h.RecordIDPageNo = 0x41424344;
  h.RecordIDItemNo = 0x5152;
  h.Reserved = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<uint8_t> bytes(TORBDiskPageHeader::kSize);
  h.SaveTo(bytes.data());
  const std::vector<uint8_t> expected = {
      'O',  'R',  'B',  'P',  0x04, 0x03, 0x02, 0x01, 0x0B, 0x0A, 0x14, 0x13, 0x12, 0x11,
      0xA4, 0xA3, 0xA2, 0xA1, 0x21, 0x22, 0x23, 0x24, 0x34, 0x33, 0x32, 0x31, 0x44, 0x43,
      0x42, 0x41, 0x52, 0x51, 1,    2,    3,    4,    5,    6,    7,    8,
  };
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(TORBDiskPageHeader::LoadFrom(bytes.data()), h);
  EXPECT_EQ(ReadPageHeaderState(bytes.data()), 0x01020304);
  EXPECT_EQ(ReadPageHeaderType(bytes.data()), 0x0A0B);
  EXPECT_EQ(ReadPageHeaderNextPageNo(bytes.data()), 0x11121314);

  WritePageHeaderState(bytes.data(), kInvalidPageState);
  WritePageHeaderType(bytes.data(), kPageTypeTableIndex);
  WritePageHeaderNextPageNo(bytes.data(), -1);
  TORBDiskPageHeader back = TORBDiskPageHeader::LoadFrom(bytes.data());
  EXPECT_EQ(back.State, 0x7FFFFFFF);
  EXPECT_EQ(back.PageType, 12);
  EXPECT_EQ(back.NextPageNo, -1);
  EXPECT_EQ(back.CRC32, 0xA1A2A3A4u);
}

TEST(PageHeaderTest, PageTypeNames) {
  const char* names[] = {"Unknown Page",          "Empty Page",           "EAM Page",
                         "PFS Page",              "FileSystemDirectory Page",
                         "ActiveSessionList Page", "TableList Page",      "TableLocks Page",
                         "TableMetaData Page",    "TableMostUpdated Page", "TableRecord Page",
                         "TableBlob Page",        "TableIndex Page"};
  for (uint16_t t = 0; t <= 12; ++t) EXPECT_EQ(PageTypeToStr(t), names[t]) << t;
  EXPECT_EQ(PageTypeToStr(kPageTypeTableRecord), "TableRecord Page");
  EXPECT_EQ(ErrorCodeOf([] { PageTypeToStr(13); }), 30382);
  EXPECT_EQ(ErrorMessageOf([] { PageTypeToStr(kPageTypeAny); }), "Unknown Page Type: (255) - Native error: 30382");
}

}  // namespace
}  // namespace orb
