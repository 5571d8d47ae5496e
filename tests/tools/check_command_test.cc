#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/cli.h"

namespace orb {
namespace {

using test::RunOrbdb;

constexpr long kFirstPage = 380;
constexpr long kPageSize = 4096;

class CheckCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "orb_cli_XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    FDir = templ;
    FFile = FDir + "/db.orb";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  // Sets `mask` in the byte at `offset` of the file.
  void OrByte(long offset, unsigned char mask) {
    std::fstream f(FFile, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(offset);
    char c = 0;
    f.get(c);
    c = static_cast<char>(static_cast<unsigned char>(c) | mask);
    f.seekp(offset);
    f.put(c);
  }

  std::string FDir;
  std::string FFile;
};

TEST_F(CheckCommandTest, SoundDatabasesPrintOk) {
  ASSERT_EQ(RunOrbdb({"create", FFile}).status, 0);
  auto r = RunOrbdb({"check", FFile});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");
  EXPECT_EQ(r.err, "");

  const std::string encrypted = FDir + "/enc.orb";
  ASSERT_EQ(RunOrbdb({"create", encrypted, "--password", "Geheimnis", "--cipher", "twofish_256"}).status, 0);
  r = RunOrbdb({"check", encrypted, "--password", "Geheimnis"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");
}

// A new database: pages 0 and 1 are the maps, 2 to 4 the system directory,
// active sessions file and table list, page 5 is free. Marking page 5 in
// use without an owner gives exactly these lines, the same on every run.
TEST_F(CheckCommandTest, FindingsAreLinesAndExitOne) {
  ASSERT_EQ(RunOrbdb({"create", FFile}).status, 0);
  OrByte(kFirstPage + 40, 1 << 5);  // PFS bit of page 5
  const std::string expected =
      "file: header field LastUsedPageNo below the last page in use (expected at least 5, found 4)\n"
      "page 5: allocated but not owned (leaked)\n";
  for (int run = 0; run < 2; ++run) {
    const auto r = RunOrbdb({"check", FFile});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
  // The EAM page's type, too: its line comes after the file's, before page 5.
  OrByte(kFirstPage + kPageSize + 8, 0x40);
  const auto r = RunOrbdb({"check", FFile});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "file: header field LastUsedPageNo below the last page in use (expected at least 5, found 4)\n"
            "page 1: wrong page type for an EAM page (expected EAM Page, found unknown page type 66)\n"
            "page 5: allocated but not owned (leaked)\n");
}

// Files that cannot be checked at all are errors on stderr, like the other
// subcommands' failures; misuse exits 2.
TEST_F(CheckCommandTest, UncheckableFilesAndMisuse) {
  ASSERT_EQ(RunOrbdb({"create", FFile, "--password", "pw"}).status, 0);
  auto r = RunOrbdb({"check", FFile});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("incorrect password"), std::string::npos) << r.err;
  r = RunOrbdb({"check", FFile, "--password", "other"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("incorrect password"), std::string::npos) << r.err;

  const std::string text = FDir + "/notes.txt";
  std::ofstream(text) << "not a database\n";
  r = RunOrbdb({"check", text});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Invalid file format"), std::string::npos) << r.err;

  r = RunOrbdb({"check", FDir + "/missing.orb"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err, "");

  EXPECT_EQ(RunOrbdb({"check"}).status, 2);
  EXPECT_EQ(RunOrbdb({"check", FFile, "--bogus"}).status, 2);
}

}  // namespace
}  // namespace orb
