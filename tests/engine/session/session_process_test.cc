// Sessions of two processes on one file (tests/children/orb_session_child).

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/engine/disk/lock_test_support.h"
#include "tests/engine/session/session_test_support.h"

namespace orb {
namespace {

using testing::ChildProcess;
using testing::CreateDatabaseFile;
using testing::DiskScratch;
using testing::MakeSession;

constexpr const char* kChild = "orb_session_child";

class SessionProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FPath = FDir.File("db.orb");
    CreateDatabaseFile(FPath);
  }
  // The child's report line for a connect in `mode`; the child then holds
  // its connection until released.
  std::string StartChild(const std::string& mode, std::unique_ptr<ChildProcess>& child) {
    child = std::make_unique<ChildProcess>(kChild, std::vector<std::string>{FPath, mode});
    const std::string line = child->ReadLine();
    EXPECT_EQ(child->ReadLine(), "ready");
    return line;
  }

  DiskScratch FDir;
  std::string FPath;
};

TEST_F(SessionProcessTest, SingleUserFileIsRefusedOrReadOnlyToASecondProcess) {
  auto owner = MakeSession(FPath);
  owner->SetConnected(true);
  struct Case {
    const char* mode;
    const char* report;
  };
  // Every slot is taken: no multi-user slot (20094); a single-user open
  // goes read-only; an exclusive open fails on the file itself.
  for (const Case& c : {Case{"multi", "error 20094"}, Case{"single", "connected 0 1"}, Case{"exclusive", "error 30364"}}) {
    SCOPED_TRACE(c.mode);
    std::unique_ptr<ChildProcess> child;
    EXPECT_EQ(StartChild(c.mode, child), c.report);
    EXPECT_EQ(child->Release(), 0);
  }
  owner->SetConnected(false);
}

TEST_F(SessionProcessTest, SingleUserSessionOnAFileOpenForSeveralUsersIsReadOnly) {
  auto owner = MakeSession(FPath, true);
  owner->SetConnected(true);
  std::unique_ptr<ChildProcess> child;
  EXPECT_EQ(StartChild("single", child), "connected 0 1");
  std::unique_ptr<ChildProcess> multi;
  EXPECT_EQ(StartChild("multi", multi), "connected 1 0");
  EXPECT_EQ(owner->GetDBFileConnectionsCount(), 2);
  EXPECT_EQ(child->Release(), 0);
  EXPECT_EQ(multi->Release(), 0);
  owner->SetConnected(false);
}

TEST_F(SessionProcessTest, SlotOfAKilledChildIsFreeAgain) {
  auto owner = MakeSession(FPath, true);
  owner->SetConnected(true);
  std::unique_ptr<ChildProcess> child;
  EXPECT_EQ(StartChild("multi", child), "connected 1 0");
  EXPECT_EQ(owner->GetDBFileConnectionsCount(), 2);
  child->Kill();
  EXPECT_EQ(owner->GetDBFileConnectionsCount(), 1);
  auto next = MakeSession(FPath, true);
  next->SetConnected(true);
  EXPECT_EQ(next->GetSessionID(), 1);
  next->SetConnected(false);
  owner->SetConnected(false);
}

TEST_F(SessionProcessTest, LastSessionReleasesTheFileForASingleUserProcess) {
  auto owner = MakeSession(FPath, true);
  owner->SetConnected(true);
  owner->SetConnected(false);
  std::unique_ptr<ChildProcess> child;
  EXPECT_EQ(StartChild("single", child), "connected 0 0");
  EXPECT_EQ(child->Release(), 0);
}

}  // namespace
}  // namespace orb
