#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "engine/platform/version.h"

namespace {

struct Result {
  int status;
  std::string out;
};

Result Run(const std::string& args) {
  const std::string cmd = std::string(ORB_ORBDB_PATH) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  Result r{-1, ""};
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(OrbdbTest, VersionPrintsProjectVersion) {
  const Result r = Run("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("orbdb ") + ORB_VERSION_STRING + "\n");
}

TEST(OrbdbTest, HelpListsUsage) {
  const Result r = Run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: orbdb COMMAND"), std::string::npos);
}

TEST(OrbdbTest, UnknownCommandFails) {
  const Result r = Run("no-such-command");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("unknown command 'no-such-command'"), std::string::npos);
}

}  // namespace
