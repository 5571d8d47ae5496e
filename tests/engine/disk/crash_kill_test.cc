// Writers killed at random moments: every row whose commit had returned is
// still there afterwards, at most the row in flight joins them, and the
// file opens without repair, its tables whole.
//
// ORB_KILL_TEST_KILLS sets the number of kills of each test (default 40).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/disk/disk_database_data.h"
#include "engine/disk/integrity_tables.h"
#include "engine/disk/rollback_journal.h"
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

int Kills() {
  const char* env = std::getenv("ORB_KILL_TEST_KILLS");
  const int n = env != nullptr ? std::atoi(env) : 0;
  return n > 0 ? n : 40;
}

// One writer child and the ids it acknowledged.
struct TWriter {
  TWriter(const std::string& file, int32_t first_id, const char* mode)
      : FirstId(first_id),
        Child(std::make_unique<ChildProcess>(
            "orb_disk_table_child", std::vector<std::string>{file, "acked", std::to_string(first_id), "1000000", mode})) {}

  // Kills the child, then reads every line it wrote before dying.
  void KillAndCollect() {
    Child->Kill();
    for (;;) {
      const std::string line = Child->ReadLine();
      if (line.empty()) break;
      if (line.rfind("ack ", 0) == 0) Acked.insert(std::stoi(line.substr(4)));
      if (line.rfind("error", 0) == 0) ADD_FAILURE() << line;
    }
  }
  // The id whose commit may have been under way when the child died.
  int32_t InFlight() const { return Acked.empty() ? FirstId : *Acked.rbegin() + 1; }

  int32_t FirstId;
  std::unique_ptr<ChildProcess> Child;
  std::set<int32_t> Acked;
};

class CrashKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TORBDiskDatabaseSettings settings;
    TORBDiskDatabaseData creator(FDir.WFile("db.orb"), u"", settings);
    creator.CreateDatabase();
    TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", settings);
    TLink link(true);
    database.ConnectSession(&link);
    disktest::CreateTestTable(&database, &link, u"T", {.IdIndex = disktest::TTableSpec::kUnique});
    database.DisconnectSession(&link);
  }
  std::string File() const { return FDir.File("db.orb"); }

  // After the kills: the file opens without repair, holds every row of
  // `expected` and may hold those of `maybe`, nothing else, each row whole;
  // the check of the file and its tables finds nothing.
  void ExpectRows(const std::set<int32_t>& expected, const std::set<int32_t>& maybe, std::set<int32_t>& present,
                  const std::string& where) {
    SCOPED_TRACE(where);
    present.clear();
    {
      TORBDiskDatabaseSettings settings;
      TORBDiskDatabaseData database(FDir.WFile("db.orb"), u"", settings);
      TLink link(true);
      database.ConnectSession(&link);
      EXPECT_FALSE(link.FRepair);
      {
        TDiskCursor cursor(&database, &link, u"T");
        cursor.Open();
        cursor.First();
        while (cursor.Next()) {
          const int32_t id = cursor.GetInt(kID).value_or(-1);
          EXPECT_EQ(cursor.GetInt(kVal).value_or(-2), id);
          present.insert(id);
        }
      }
      database.DisconnectSession(&link);
    }
    EXPECT_FALSE(TORBRollbackJournal::ReadHot(File(), 4096, nullptr));
    for (int32_t id : expected) EXPECT_TRUE(present.count(id)) << "acknowledged row " << id << " lost";
    for (int32_t id : present) EXPECT_TRUE(expected.count(id) || maybe.count(id)) << "row " << id << " never sent";
    // Page allocations are written outside the commit (and its journal):
    // a writer killed after allocating pages for its transaction leaves
    // them marked in use (leaked: space lost, no data wrong), and one killed
    // between an allocation's map and header writes leaves the header's
    // LastUsedPageNo behind. Those are counted; any other finding fails.
    const TORBIntegrityReport report = CheckDatabaseWithTables(FDir.WFile("db.orb"), {});
    for (const std::string& line : report.Lines()) {
      const bool leak = line.find("allocated but not owned (leaked)") != std::string::npos ||
                        line.find("LastUsedPageNo below the last page in use") != std::string::npos;
      if (!leak) ADD_FAILURE() << line;
      if (leak) ++FLeaks;
    }
  }
  int FLeaks = 0;

  DiskScratch FDir;
};

TEST_F(CrashKillTest, OneWriterKilledAtRandomMomentsSharedAndExclusive) {
  std::mt19937 random(12345);
  std::set<int32_t> acked, present;
  int32_t next_id = 1;
  const int kills = Kills();
  for (int k = 0; k < kills && !HasFailure(); ++k) {
    const char* mode = k % 2 == 0 ? "shared" : "exclusive";
    TWriter writer(File(), next_id, mode);
    usleep(static_cast<useconds_t>(5000 + random() % 40000));
    writer.KillAndCollect();
    acked.insert(writer.Acked.begin(), writer.Acked.end());
    ExpectRows(acked, {writer.InFlight()}, present, std::string(mode) + " kill " + std::to_string(k));
    acked = present;  // the row in flight, when it made it, is committed now
    next_id = writer.InFlight() + 1;
  }
  EXPECT_GT(acked.size(), static_cast<size_t>(kills));
  std::printf("%d kills, %zu rows acknowledged, %d allocation findings\n", kills, acked.size(), FLeaks);
}

TEST_F(CrashKillTest, TwoWritersOneKilledTheOtherGoesOn) {
  std::mt19937 random(54321);
  std::set<int32_t> acked, present;
  int32_t next_killed = 1, next_survivor = 500000;
  const int kills = std::max(1, Kills() / 2);
  for (int k = 0; k < kills && !HasFailure(); ++k) {
    TWriter killed(File(), next_killed, "shared");
    TWriter survivor(File(), next_survivor, "shared");
    usleep(static_cast<useconds_t>(5000 + random() % 40000));
    killed.KillAndCollect();
    // The other writer rolls back the dead one's commit and goes on, until
    // it is killed in turn.
    usleep(static_cast<useconds_t>(2000 + random() % 20000));
    survivor.KillAndCollect();
    acked.insert(killed.Acked.begin(), killed.Acked.end());
    acked.insert(survivor.Acked.begin(), survivor.Acked.end());
    ExpectRows(acked, {killed.InFlight(), survivor.InFlight()}, present, "kill " + std::to_string(k));
    acked = present;
    next_killed = killed.InFlight() + 1;
    next_survivor = survivor.InFlight() + 1;
  }
  std::printf("%d kills of two writers, %zu rows, %d allocation findings\n", kills, acked.size(), FLeaks);
}

}  // namespace
}  // namespace orb
