#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  for (const char* name : {"blob", "create", "eval", "info"}) {
    EXPECT_NE(r.out.find(std::string("\n  ") + name + " "), std::string::npos) << name;
  }
  // Without a command: the same help, on stderr, as a usage error.
  const auto none = RunOrbdb({});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, r.out);
}

TEST(OrbdbTest, SubcommandHelpShowsItsOwnUsage) {
  struct Case {
    std::vector<std::string> args;
    const char* usage;
  };
  const Case cases[] = {
      {{"create", "--help"}, "usage: orbdb create [OPTIONS] FILE"},
      {{"blob", "pack", "-h"}, "usage: orbdb blob pack [OPTIONS] IN OUT"},
      {{"blob", "--help"}, "usage: orbdb blob [OPTIONS] SUBCOMMAND"},
  };
  for (const Case& c : cases) {
    const auto r = RunOrbdb(c.args);
    EXPECT_EQ(r.status, 0) << c.usage;
    EXPECT_NE(r.out.find(c.usage), std::string::npos) << r.out;
  }
}

TEST(OrbdbTest, UsageErrorsNameTheCommandAndExit2) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"info"}, "orbdb info: FILE is required"},
      {{"create", "x.orb", "--page-size", "0x40"}, "orbdb create: --page-size must be a number from 64 to 65535"},
      {{"create", "x.orb", "--page-size", "010"}, "orbdb create: --page-size must be a number from 64 to 65535"},
      {{"create", "x.orb", "--password"}, "orbdb create: --password: 1 required TEXT missing"},
      {{"blob", "pack", "--algorithm", "lzma", "a", "b"}, "orbdb blob pack: unknown algorithm 'lzma'"},
      {{"blob"}, "orbdb blob: A subcommand is required"},
      {{"eval", "1", "2"}, "orbdb eval: The following argument was not expected: 2"},
      {{"--no-such-option"}, "orbdb: unknown option '--no-such-option'"},
  };
  for (const Case& c : cases) {
    const auto r = RunOrbdb(c.args);
    EXPECT_EQ(r.status, 2) << c.err;
    EXPECT_EQ(r.out, "") << c.err;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
  }
}

TEST(OrbdbTest, UnknownCommandFails) {
  const auto r = RunOrbdb({"no-such-command"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("unknown command 'no-such-command'"), std::string::npos);
}

}  // namespace
}  // namespace orb
