#include "engine/disk/table_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/disk/page_header.h"
#include "tests/engine/disk/disk_test_util.h"
#include "tests/engine/disk/fake_page_manager.h"

namespace orb {
namespace {

using testing::ErrorCodeOf;
using testing::ErrorMessageOf;
using testing::FakePageManager;

constexpr int32_t kSys = TORBPageManager::kSystemSession;

class TableListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = TORBTableListFile(&pm_).CreateFile();
    list_.OpenFile(first_);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const TORBTableListItem& item : list_.Tables()) names.push_back(item.TableName);
    return names;
  }

  FakePageManager pm_{1000, 512};
  int32_t first_ = -1;
  TORBTableListFile list_{&pm_};
};

TEST_F(TableListTest, EntriesRoundTripInOrder) {
  list_.AddTable(1, "Orders", 10, 11, 12);
  list_.AddTable(2, "Customers", 20, 21, 22);
  list_.AddTable(3, std::string(255, 'x'), 30, 31, 32);
  list_.Save();
  pm_.ApplyChanges(kSys);
  // 272 bytes an entry: three fill two pages of 472 data bytes.
  const int32_t second = ReadPageHeaderNextPageNo(pm_.stored.at(first_).data());
  ASSERT_NE(second, -1);
  EXPECT_EQ(ReadPageHeaderNextPageNo(pm_.stored.at(second).data()), -1);
  EXPECT_EQ(ReadPageHeaderType(pm_.stored.at(second).data()), kPageTypeTableList);

  TORBTableListFile other(&pm_);
  other.OpenFile(first_);
  other.Load();
  EXPECT_EQ(other.Tables(), list_.Tables());
  int32_t id = 0, meta = 0, most_updated = 0, locks = 0;
  other.OpenTable("customers", id, meta, most_updated, locks);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(meta, 20);
  EXPECT_EQ(most_updated, 21);
  EXPECT_EQ(locks, 22);

  list_.RemoveTable("ORDERS");
  list_.RenameTable("customers", "Clients");
  EXPECT_EQ(Names(), (std::vector<std::string>{"Clients", std::string(255, 'x')}));
  EXPECT_EQ(list_.GetTableIndex(std::string(255, 'X')), 1);
  // GetTablesList reads the file again: the unsaved changes are gone.
  std::vector<std::string> names = {"stale"};
  list_.GetTablesList(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Orders", "Customers", std::string(255, 'x')}));
}

TEST_F(TableListTest, NamesMatchIgnoringAsciiCaseOnly) {
  list_.AddTable(1, "Orders", 10, 11, 12);
  list_.AddTable(2, "\xC4pfel", 20, 21, 22);  // Äpfel in the code page
  EXPECT_TRUE(list_.TableExists("ORDERS"));
  EXPECT_TRUE(list_.TableExists("orders"));
  EXPECT_FALSE(list_.TableExists("Order"));
  EXPECT_EQ(list_.GetTableIndex("\xC4PFEL"), 1);
  EXPECT_FALSE(list_.TableExists("\xE4pfel"));  // äpfel
  list_.AddTable(3, "\xE4pfel", 30, 31, 32);
  EXPECT_EQ(list_.GetTableIndex("\xE4PFEL"), 2);
}

TEST_F(TableListTest, RefusalsLeaveTheListUnchanged) {
  list_.AddTable(1, "Orders", 10, 11, 12);
  const std::vector<TORBTableListItem> before = list_.Tables();

  EXPECT_EQ(ErrorMessageOf([&] { list_.AddTable(2, "ORDERS", 20, 21, 22); }),
            "Cannot create table. Table 'ORDERS' already exists - Native error: 30395");
  // Over 255 bytes: refused, never cut to a name that may already exist.
  const std::string long_name = std::string(255, 'a') + "b";
  list_.AddTable(3, std::string(255, 'a'), 30, 31, 32);
  const std::vector<TORBTableListItem> with_long = list_.Tables();
  EXPECT_EQ(ErrorCodeOf([&] { list_.AddTable(4, long_name, 40, 41, 42); }), 30394);
  EXPECT_EQ(ErrorCodeOf([&] { list_.RenameTable("Orders", long_name); }), 30394);
  EXPECT_EQ(list_.Tables(), with_long);
  list_.RemoveTable(std::string(255, 'a'));
  EXPECT_EQ(list_.Tables(), before);

  int32_t id = 0, meta = 0, most_updated = 0, locks = 0;
  EXPECT_EQ(ErrorMessageOf([&] { list_.OpenTable("Nope", id, meta, most_updated, locks); }),
            "Table 'Nope' does not exist. - Native error: 30396");
  EXPECT_EQ(ErrorCodeOf([&] { list_.RemoveTable("Nope"); }), 30405);
  EXPECT_EQ(ErrorCodeOf([&] { list_.RenameTable("Nope", "Other"); }), 30397);
  EXPECT_EQ(list_.Tables(), before);

  EXPECT_EQ(ErrorMessageOf([&] { list_.OpenFile(first_); }), "Table list file already opened. - Native error: 30393");
  list_.CloseFile();
  EXPECT_FALSE(list_.IsOpen());
  list_.OpenFile(first_);
}

}  // namespace
}  // namespace orb
