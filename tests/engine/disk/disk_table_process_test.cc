// Disk tables shared by real processes (tests/children/orb_disk_table_child):
// concurrent writers, a killed lock holder, a single-user holder.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/disk/disk_database_data.h"
#include "engine/disk/integrity_tables.h"
#include "tests/engine/disk/disk_table_cursor.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using disktest::kID;
using disktest::kVal;
using disktest::TDiskCursor;
using disktest::TLink;
using testing::ChildProcess;
using testing::DiskScratch;
using testing::ErrorCodeOf;

constexpr int32_t kShared = 4;

class DiskTableProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TORBDiskDatabaseSettings settings;
    settings.MaxSessionCount = 16;
    TORBDiskDatabaseData creator(FDir.WFile("db.orb"), u"", settings);
    creator.CreateDatabase();
    // Table T with a unique index on ID and the shared rows 0 .. 3.
    TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", settings);
    TLink link(true);
    database.ConnectSession(&link);
    disktest::CreateTestTable(&database, &link, u"T", {.IdIndex = disktest::TTableSpec::kUnique});
    {
      TDiskCursor cursor(&database, &link, u"T");
      cursor.Open();
      for (int32_t id = 0; id < kShared; ++id) ASSERT_TRUE(cursor.Insert(id, 0));
    }
    database.DisconnectSession(&link);
  }
  std::string File() const { return FDir.File("db.orb"); }
  // Runs `count` children in "work" mode at once (child c inserts `rows`
  // rows from ID 1000 * (c + 1); `extra` follows their arguments) and
  // waits until each has ended cleanly.
  void RunWorkers(int32_t count, int32_t rows, const std::vector<std::string>& extra = {}) {
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int32_t c = 0; c < count; ++c) {
      std::vector<std::string> args{File(), "work", std::to_string(1000 * (c + 1)), std::to_string(rows),
                                    std::to_string(kShared)};
      args.insert(args.end(), extra.begin(), extra.end());
      children.push_back(std::make_unique<ChildProcess>("orb_disk_table_child", args));
    }
    for (auto& child : children) child->ReadUntilReady();
    for (auto& child : children) {
      EXPECT_EQ(child->ReadLine(), "done");
      EXPECT_EQ(child->Release(), 0);
    }
  }
  void ExpectClean() {
    const TORBIntegrityReport report = CheckDatabaseWithTables(FDir.WFile("db.orb"), {});
    std::string lines;
    for (const std::string& line : report.Lines()) lines += line + "\n";
    EXPECT_TRUE(report.IsOk()) << lines;
  }

  DiskScratch FDir;
};

TEST_F(DiskTableProcessTest, ConcurrentWritersLoseNoRowAndNoUpdate) {
  constexpr int32_t kChildren = 4;
  constexpr int32_t kRows = 60;
  RunWorkers(kChildren, kRows);

  TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", {});
  TLink link(true);
  database.ConnectSession(&link);
  {
    TDiskCursor cursor(&database, &link, u"T");
    cursor.Open();
    EXPECT_EQ(cursor.Count(), kShared + kChildren * kRows);
    int32_t increments = 0;
    std::vector<int32_t> per_child(kChildren, 0);
    cursor.First();
    while (cursor.Next()) {
      const int32_t id = cursor.GetInt(kID).value_or(-1);
      if (id < kShared)
        increments += cursor.GetInt(kVal).value_or(0);
      else
        ++per_child.at(static_cast<size_t>(id / 1000 - 1));
    }
    EXPECT_EQ(increments, kChildren * kRows);
    EXPECT_EQ(per_child, std::vector<int32_t>(kChildren, kRows));
  }
  database.DisconnectSession(&link);
  ExpectClean();
}

// This process keeps its session open with the table's pages cached while
// another process commits: rows that make the file grow, then changes of
// the cached rows, deletes and a cut of the file below pages cached here.
// Every read afterwards returns the committed state, never a cached one;
// a cached page the file no longer holds reads as gone.
TEST_F(DiskTableProcessTest, CachedPagesFollowCommitsOfAnotherProcessWhileTheFileGrowsAndShrinks) {
  constexpr int32_t kRows = 120;
  constexpr int32_t kMemo = 3000;
  auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> all{File()};
    all.insert(all.end(), args.begin(), args.end());
    ChildProcess child("orb_disk_table_child", all);
    EXPECT_EQ(child.ReadLine(), "done");
    EXPECT_EQ(child.Release(), 0);
  };
  auto file_size = [&] {
    struct stat st {};
    EXPECT_EQ(stat(File().c_str(), &st), 0);
    return static_cast<int64_t>(st.st_size);
  };
  auto shared_rows = [](int32_t val) {
    std::vector<std::pair<int32_t, int32_t>> rows;
    for (int32_t id = 0; id < kShared; ++id) rows.emplace_back(id, val);
    return rows;
  };
  TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", {});
  TLink link(true);
  database.ConnectSession(&link);
  {
    TDiskCursor cursor(&database, &link, u"T");
    cursor.Open();
    EXPECT_EQ(cursor.Rows(), shared_rows(0));
    const int64_t small = file_size();

    run({"grow", "1000", std::to_string(kRows), std::to_string(kMemo)});
    const int64_t grown = file_size();
    EXPECT_GT(grown, small + kRows * 2048);
    std::vector<std::pair<int32_t, int32_t>> rows = cursor.Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kShared + kRows));
    // Every row changes while all of them are cached here: each cached
    // page, up to the last ones of the grown file, is checked.
    run({"shrink", "5000", "3"});
    // The last row lies on one of the last pages; its memo is cached too.
    TORBPageItemID last{};
    int32_t seen = 0;
    cursor.First();
    while (cursor.Next()) {
      ++seen;
      EXPECT_EQ(cursor.GetInt(kVal), 3);
      if (cursor.GetInt(kID).value_or(-1) == 1000 + kRows - 1) {
        last = cursor.GetCurrentRecordID();
        EXPECT_EQ(cursor.GetText(disktest::kMemo).size(), static_cast<size_t>(kMemo));
      }
    }
    EXPECT_EQ(seen, kShared + kRows);

    run({"shrink", "1000", "7"});
    EXPECT_LT(file_size(), grown - kRows * 2048);
    EXPECT_FALSE(cursor.MoveTo(last));
    EXPECT_EQ(cursor.Rows(), shared_rows(7));
    EXPECT_EQ(cursor.Count(), kShared);

    // The file grows again over the pages cut: new rows, new contents.
    run({"grow", "2000", std::to_string(kRows), "100"});
    rows = cursor.Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kShared + kRows));
    for (size_t i = kShared; i < rows.size(); ++i) EXPECT_EQ(rows[i].first, 2000 + static_cast<int32_t>(i - kShared));
  }
  database.DisconnectSession(&link);
  ExpectClean();
}

// Large memos stored by several processes at once: each value's pages are
// allocated under one hold of the header lock, which must neither hand a
// page to two processes nor keep the others waiting past their retries.
TEST_F(DiskTableProcessTest, ConcurrentWritersOfLargeMemosKeepEveryValue) {
  constexpr int32_t kChildren = 3;
  constexpr int32_t kRows = 25;
  constexpr int32_t kMemoSize = 3 * 4096 + 100;
  auto memo_of = [](int32_t id) {
    std::string memo(static_cast<size_t>(kMemoSize), '\0');
    for (size_t i = 0; i < memo.size(); ++i) memo[i] = static_cast<char>('a' + (static_cast<size_t>(id) * 7 + i) % 26);
    return memo;
  };
  RunWorkers(kChildren, kRows, {std::to_string(kMemoSize)});

  TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", {});
  TLink link(true);
  database.ConnectSession(&link);
  {
    TDiskCursor cursor(&database, &link, u"T");
    cursor.Open();
    int32_t memos = 0;
    cursor.First();
    while (cursor.Next()) {
      const int32_t id = cursor.GetInt(kID).value_or(-1);
      if (id < kShared) continue;
      ++memos;
      EXPECT_EQ(cursor.GetText(disktest::kMemo), memo_of(id)) << "row " << id;
    }
    EXPECT_EQ(memos, kChildren * kRows);
  }
  database.DisconnectSession(&link);
  ExpectClean();
}

TEST_F(DiskTableProcessTest, AKilledProcessFreesItsLocks) {
  ChildProcess holder("orb_disk_table_child", {File(), "hold"});
  holder.ReadUntilReady();

  TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", {});
  TLink link(true);
  database.ConnectSession(&link);
  {
    TDiskCursor cursor(&database, &link, u"T");
    cursor.Open();
    EXPECT_FALSE(cursor.FTable->LockTable(link.FId, ltRW, 3, 20));
    // The holder dies holding the lock: the system drops its byte locks.
    holder.Kill();
    ASSERT_TRUE(cursor.FTable->LockTable(link.FId, ltRW, 50, 20));
    EXPECT_TRUE(cursor.FTable->UnlockTable(link.FId, ltRW));
    EXPECT_TRUE(cursor.Insert(100, 1));
    EXPECT_EQ(cursor.Count(), kShared + 1);
  }
  database.DisconnectSession(&link);
  ExpectClean();
}

TEST_F(DiskTableProcessTest, ASingleUserProcessKeepsOthersFromWriting) {
  ChildProcess holder("orb_disk_table_child", {File(), "single"});
  holder.ReadUntilReady();
  {
    // A multi-user session finds no slot.
    TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", {});
    TLink link(true);
    EXPECT_EQ(ErrorCodeOf([&] { database.ConnectSession(&link); }), 20094);
  }
  {
    // A single-user one gets the file read-only and cannot change rows.
    TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", {});
    TLink link(false);
    database.ConnectSession(&link);
    EXPECT_TRUE(database.FReadOnly);
    {
      TDiskCursor cursor(&database, &link, u"T");
      cursor.Open();
      EXPECT_EQ(cursor.Count(), kShared);
      EXPECT_NE(ErrorCodeOf([&] { cursor.Insert(100, 1); }), 0);
      EXPECT_EQ(cursor.Count(), kShared);
    }
    database.DisconnectSession(&link);
  }
  EXPECT_EQ(holder.Release(), 0);
  ExpectClean();
}

// A single-user transaction's rows reach the file only with its commit: a
// process killed before it leaves the committed table, one that commits
// leaves every row and the row count that goes with them.
TEST_F(DiskTableProcessTest, ASingleUserTransactionIsWholeOrAbsentAfterItsProcessEnds) {
  constexpr int32_t kRows = 400;
  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "committed" : "killed");
    ChildProcess writer("orb_disk_table_child", {File(), "single-tx", std::to_string(1000), std::to_string(kRows)});
    writer.ReadUntilReady();
    if (commit) {
      EXPECT_EQ(writer.Release(), 0);
    } else {
      writer.Kill();
    }
    ExpectClean();
    TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", {});
    TLink link(false);
    database.ConnectSession(&link);
    {
      TDiskCursor cursor(&database, &link, u"T");
      cursor.Open();
      const int64_t expected = commit ? kShared + kRows : kShared;
      EXPECT_EQ(cursor.Count(), expected);
      int64_t walked = 0;
      cursor.First();
      while (cursor.Next()) ++walked;
      EXPECT_EQ(walked, expected);
    }
    database.DisconnectSession(&link);
  }
}

}  // namespace
}  // namespace orb
