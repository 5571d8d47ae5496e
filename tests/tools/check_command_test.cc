#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/disk/disk_database_data.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/rollback_journal.h"
#include "engine/platform/codepage.h"
#include "engine/table/page_header.h"
#include "tests/engine/disk/disk_table_cursor.h"
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


// A file holding a table: its rows, memo values and index are walked. A
// damaged record page or index page gives its finding.
class CheckTableTest : public CheckCommandTest {
 protected:
  void SetUp() override {
    CheckCommandTest::SetUp();
    TORBDiskDatabaseData database(Utf8ToWide(FFile), u"", {});
    database.CreateDatabase();
    disktest::TLink link;
    database.ConnectSession(&link);
    disktest::CreateTestTable(&database, &link, u"T", {.IdIndex = disktest::TTableSpec::kUnique});
    {
      disktest::TDiskCursor cursor(&database, &link, u"T");
      cursor.Open();
      for (int32_t i = 0; i < 200; ++i)
        ASSERT_TRUE(cursor.Insert(i, i, i % 10 == 0 ? std::string(6000, 'b') : std::string(40, 's')));
    }
    database.DisconnectSession(&link);
  }
  // Page numbers of the pages of `type`, ascending.
  std::vector<long> PagesOfType(uint16_t type) {
    std::vector<long> pages;
    const std::string bytes = test::ReadWholeFile(FFile);
    for (long at = kFirstPage, page = 0; at + kPageSize <= static_cast<long>(bytes.size()); at += kPageSize, ++page) {
      const auto lo = static_cast<unsigned char>(bytes[static_cast<size_t>(at) + 8]);
      const auto hi = static_cast<unsigned char>(bytes[static_cast<size_t>(at) + 9]);
      if ((lo | hi << 8) == type) pages.push_back(page);
    }
    return pages;
  }
  void Fill(long page, long offset, long count, char value) {
    std::fstream f(FFile, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(kFirstPage + page * kPageSize + offset);
    f.write(std::string(static_cast<size_t>(count), value).data(), count);
  }
};

TEST_F(CheckTableTest, ASoundTableChecksOk) {
  const auto r = RunOrbdb({"check", FFile});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ok\n");
}

TEST_F(CheckTableTest, ADamagedRecordPageIsAFinding) {
  const std::vector<long> records = PagesOfType(kPageTypeTableRecord);
  ASSERT_FALSE(records.empty());
  // The 200 rows lie on one page: slots 0 .. 199 are in use. Its slot
  // bitmap now says 208 .. 239 are, too.
  Fill(records.back(), 40 + 26, 4, '\xFF');
  const auto r = RunOrbdb({"check", FFile});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("page " + std::to_string(records.back()) + ": table 'T': record page holds"),
            std::string::npos)
      << r.out;
}

TEST_F(CheckTableTest, ADamagedIndexPageIsAFinding) {
  const std::vector<long> trees = PagesOfType(kPageTypeTableIndex);
  // The record page index, the BLOB page index, then the index on ID.
  ASSERT_GE(trees.size(), 3u);
  Fill(trees[2], 40, kPageSize - 40, '\x7F');
  const auto r = RunOrbdb({"check", FFile});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("table 'T': index 'BY_ID' damaged"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// A commit cut short leaves its journal hot: info and check say so instead
// of reading the half-written pages, and once a writer has opened the file
// (rolling the commit back) both find it sound again.
TEST_F(CheckCommandTest, HotJournalIsReportedUntilAWriterRollsItBack) {
  ASSERT_EQ(RunOrbdb({"create", FFile}).status, 0);
  auto r = RunOrbdb({"info", FFile});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("journal: none\n"), std::string::npos) << r.out;

  // The journal of a commit that saved the header and was then stopped.
  {
    std::ifstream in(FFile, std::ios::binary);
    uint8_t header[kDBHeaderSize];
    in.read(reinterpret_cast<char*>(header), sizeof header);
    TORBRollbackJournal journal;
    journal.Begin(FFile, kPageSize, static_cast<int64_t>(std::filesystem::file_size(FFile)), header);
    journal.Write(false);
    journal.Abandon();
  }
  r = RunOrbdb({"info", FFile});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "journal: hot\n");
  r = RunOrbdb({"check", FFile});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("journal: hot", 0), 0u) << r.out;

  {
    TORBDiskPageManager pm;
    bool read_only = false, repair = true, multi_user = true;
    pm.OpenDatabase(PathToWide(FFile), {}, read_only, repair, false, multi_user);
    EXPECT_FALSE(repair);
  }
  r = RunOrbdb({"info", FFile});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("journal: none\n"), std::string::npos) << r.out;
  r = RunOrbdb({"check", FFile});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ok\n");
}

}  // namespace
}  // namespace orb
