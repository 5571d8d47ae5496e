#include <gtest/gtest.h>

#include "engine/platform/version.h"
#include "tests/support/cli.h"

namespace orb {
namespace {

using test::RunOrbdb;

TEST(OrbdbTest, VersionPrintsProjectVersion) {
  const auto r = RunOrbdb({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("orbdb ") + ORB_VERSION_STRING + "\n");
}

TEST(OrbdbTest, HelpListsUsage) {
  const auto r = RunOrbdb({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: orbdb COMMAND"), std::string::npos);
}

TEST(OrbdbTest, UnknownCommandFails) {
  const auto r = RunOrbdb({"no-such-command"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("unknown command 'no-such-command'"), std::string::npos);
}

}  // namespace
}  // namespace orb
