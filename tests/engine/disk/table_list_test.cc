#include "engine/disk/table_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/table/page_header.h"
#include "tests/support/disk_scratch.h"
#include "tests/engine/table/fake_page_manager.h"

namespace orb {
namespace {

using testing::ErrorCodeOf;
using testing::ErrorMessageOf;
using testing::FakePageManager;

constexpr int32_t kSys = TORBPageManager::kSystemSession;

class TableListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FFirst = TORBTableListFile(&FPm).CreateFile();
    FList.OpenFile(FFirst);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const TORBTableListItem& item : FList.Tables()) names.push_back(item.TableName);
    return names;
  }

  FakePageManager FPm{1000, 512};
  int32_t FFirst = -1;
  TORBTableListFile FList{&FPm};
};

// Each entry at its byte offsets: length-prefixed name in 256 bytes, then
// the id and the three first pages as little-endian int32.
TEST_F(TableListTest, EntryBytesSitAtTheirOffsets) {
  FList.AddTable(0x01020304, "Orders", 0x11121314, 0x21222324, -2);
  FList.Save();
  FPm.ApplyChanges(kSys);
  // The first page's data starts with the 10-byte internal file header.
  const uint8_t* entry = FPm.stored.at(FFirst).data() + FPm.GetPageHeaderSize() + 10;
  EXPECT_EQ(entry[0], 6);
  EXPECT_EQ(std::string(entry + 1, entry + 7), "Orders");
  const struct {
    int offset;
    std::vector<uint8_t> bytes;
  } fields[] = {
      {256, {0x04, 0x03, 0x02, 0x01}},
      {260, {0x14, 0x13, 0x12, 0x11}},
      {264, {0x24, 0x23, 0x22, 0x21}},
      {268, {0xFE, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& f : fields) {
    SCOPED_TRACE(f.offset);
    EXPECT_EQ(std::vector<uint8_t>(entry + f.offset, entry + f.offset + 4), f.bytes);
  }
}

TEST_F(TableListTest, EntriesRoundTripInOrder) {
  FList.AddTable(1, "Orders", 10, 11, 12);
  FList.AddTable(2, "Customers", 20, 21, 22);
  FList.AddTable(3, std::string(255, 'x'), 30, 31, 32);
  FList.Save();
  FPm.ApplyChanges(kSys);
  // 272 bytes an entry: three fill two pages of 472 data bytes.
  const int32_t second = ReadPageHeaderNextPageNo(FPm.stored.at(FFirst).data());
  ASSERT_NE(second, -1);
  EXPECT_EQ(ReadPageHeaderNextPageNo(FPm.stored.at(second).data()), -1);
  EXPECT_EQ(ReadPageHeaderType(FPm.stored.at(second).data()), kPageTypeTableList);

  TORBTableListFile other(&FPm);
  other.OpenFile(FFirst);
  other.Load();
  EXPECT_EQ(other.Tables(), FList.Tables());
  int32_t id = 0, meta = 0, most_updated = 0, locks = 0;
  other.OpenTable("customers", id, meta, most_updated, locks);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(meta, 20);
  EXPECT_EQ(most_updated, 21);
  EXPECT_EQ(locks, 22);

  FList.RemoveTable("ORDERS");
  FList.RenameTable("customers", "Clients");
  EXPECT_EQ(Names(), (std::vector<std::string>{"Clients", std::string(255, 'x')}));
  EXPECT_EQ(FList.GetTableIndex(std::string(255, 'X')), 1);
  // GetTablesList reads the file again: the unsaved changes are gone.
  std::vector<std::string> names = {"stale"};
  FList.GetTablesList(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Orders", "Customers", std::string(255, 'x')}));
}

TEST_F(TableListTest, NamesMatchIgnoringAsciiCaseOnly) {
  FList.AddTable(1, "Orders", 10, 11, 12);
  FList.AddTable(2, "\xC4pfel", 20, 21, 22);  // Äpfel in the code page
  EXPECT_TRUE(FList.TableExists("ORDERS"));
  EXPECT_TRUE(FList.TableExists("orders"));
  EXPECT_FALSE(FList.TableExists("Order"));
  EXPECT_EQ(FList.GetTableIndex("\xC4PFEL"), 1);
  EXPECT_FALSE(FList.TableExists("\xE4pfel"));  // äpfel
  FList.AddTable(3, "\xE4pfel", 30, 31, 32);
  EXPECT_EQ(FList.GetTableIndex("\xE4PFEL"), 2);
}

TEST_F(TableListTest, RefusalsLeaveTheListUnchanged) {
  FList.AddTable(1, "Orders", 10, 11, 12);
  const std::vector<TORBTableListItem> before = FList.Tables();

  EXPECT_EQ(ErrorMessageOf([&] { FList.AddTable(2, "ORDERS", 20, 21, 22); }),
            "Cannot create table. Table 'ORDERS' already exists - Native error: 30395");
  // Over 255 bytes: refused, never cut to a name that may already exist.
  const std::string long_name = std::string(255, 'a') + "b";
  FList.AddTable(3, std::string(255, 'a'), 30, 31, 32);
  const std::vector<TORBTableListItem> with_long = FList.Tables();
  EXPECT_EQ(ErrorCodeOf([&] { FList.AddTable(4, long_name, 40, 41, 42); }), 30394);
  EXPECT_EQ(ErrorCodeOf([&] { FList.RenameTable("Orders", long_name); }), 30394);
  EXPECT_EQ(FList.Tables(), with_long);
  FList.RemoveTable(std::string(255, 'a'));
  EXPECT_EQ(FList.Tables(), before);

  int32_t id = 0, meta = 0, most_updated = 0, locks = 0;
  EXPECT_EQ(ErrorMessageOf([&] { FList.OpenTable("Nope", id, meta, most_updated, locks); }),
            "Table 'Nope' does not exist. - Native error: 30396");
  EXPECT_EQ(ErrorCodeOf([&] { FList.RemoveTable("Nope"); }), 30405);
  EXPECT_EQ(ErrorCodeOf([&] { FList.RenameTable("Nope", "Other"); }), 30397);
  EXPECT_EQ(FList.Tables(), before);

  EXPECT_EQ(ErrorMessageOf([&] { FList.OpenFile(FFirst); }), "Table list file already opened. - Native error: 30393");
  FList.CloseFile();
  EXPECT_FALSE(FList.IsOpen());
  FList.OpenFile(FFirst);
}

}  // namespace
}  // namespace orb
