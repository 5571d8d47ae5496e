#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/cli.h"

namespace orb {
namespace {

using test::RunOrbdb;

class CreateInfoTest : public ::testing::Test {
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
  // The key: value lines of `orbdb info`.
  static std::map<std::string, std::string> Fields(const std::string& out) {
    std::map<std::string, std::string> fields;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      const size_t colon = line.find(": ");
      if (colon != std::string::npos) fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return fields;
  }

  std::string FDir;
  std::string FFile;
};

TEST_F(CreateInfoTest, PlainDatabase) {
  const auto created = RunOrbdb({"create", FFile});
  ASSERT_EQ(created.status, 0) << created.err;
  // Front part, then 6 pages from the first allocation.
  EXPECT_EQ(std::filesystem::file_size(FFile), 380u + 6u * 4096u);
  const auto info = RunOrbdb({"info", FFile});
  ASSERT_EQ(info.status, 0) << info.err;
  auto f = Fields(info.out);
  EXPECT_EQ(f["signature"], "0RBELLE-DATABASE");
  EXPECT_EQ(f["version"], "7.92");
  EXPECT_EQ(f["page_size"], "4096");
  EXPECT_EQ(f["extent_pages"], "8");
  EXPECT_EQ(f["total_pages"], "6");
  EXPECT_EQ(f["last_used_page"], "4");
  EXPECT_EQ(f["state"], "1");
  EXPECT_EQ(f["write_changes_state"], "2");
  EXPECT_EQ(f["encrypted"], "0");
  EXPECT_EQ(f["cipher"], "none");
  EXPECT_EQ(f["max_connections"], "500");
  EXPECT_EQ(f["tables"], "0");
}

TEST_F(CreateInfoTest, OptionsAndEncryption) {
  const auto created = RunOrbdb({"create", FFile, "--page-size", "8192", "--extent-pages", "16",
                                 "--max-connections", "12", "--password", "s\xC3\xA9same", "--cipher", "twofish_256"});
  ASSERT_EQ(created.status, 0) << created.err;
  const auto info = RunOrbdb({"info", FFile, "--password", "s\xC3\xA9same"});
  ASSERT_EQ(info.status, 0) << info.err;
  auto f = Fields(info.out);
  EXPECT_EQ(f["page_size"], "8192");
  EXPECT_EQ(f["extent_pages"], "16");
  EXPECT_EQ(f["encrypted"], "1");
  EXPECT_EQ(f["cipher"], "twofish_256");
  EXPECT_EQ(f["max_connections"], "12");
  EXPECT_EQ(f["tables"], "0");

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info", FFile, "--password", "wrong"}, std::vector<std::string>{"info", FFile}}) {
    const auto denied = RunOrbdb(args);
    EXPECT_EQ(denied.status, 1);
    EXPECT_EQ(denied.err, "Cannot open database - incorrect password - Native error: 30445\n");
    EXPECT_TRUE(denied.out.empty());
  }
}

TEST_F(CreateInfoTest, BadUseAndMissingFiles) {
  EXPECT_EQ(RunOrbdb({"create"}).status, 2);
  EXPECT_EQ(RunOrbdb({"create", FFile, "--cipher", "rot13"}).status, 2);
  EXPECT_EQ(RunOrbdb({"create", FFile, "--page-size", "12x"}).status, 2);
  EXPECT_EQ(RunOrbdb({"create", FFile, "--max-connections", "0"}).status, 2);
  // A cipher without a password would silently make an unencrypted file.
  EXPECT_EQ(RunOrbdb({"create", FFile, "--cipher", "blowfish"}).status, 2);
  EXPECT_EQ(RunOrbdb({"create", FFile, "--cipher", "blowfish", "--password", ""}).status, 2);
  EXPECT_FALSE(std::filesystem::exists(FFile));

  const auto missing = RunOrbdb({"info", FDir + "/none.orb"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(missing.err.empty());
  {
    std::ofstream junk(FFile);
    junk << std::string(1000, 'j');
  }
  const auto junk = RunOrbdb({"info", FFile});
  EXPECT_EQ(junk.status, 1);
  EXPECT_NE(junk.err.find("Invalid file format"), std::string::npos) << junk.err;
}

TEST_F(CreateInfoTest, ExistingFilesAreKeptUnlessForced) {
  ASSERT_EQ(RunOrbdb({"create", FDir + "/old.orb"}).status, 0);
  const std::string old_db = test::ReadWholeFile(FDir + "/old.orb");
  {
    std::ofstream(FDir + "/notes.txt") << "notes";
    std::ofstream(FDir + "/locked.txt") << "locked";
  }
  std::filesystem::permissions(FDir + "/locked.txt", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::group_read |
                                                         std::filesystem::perms::others_read);
  std::filesystem::create_symlink(FDir + "/notes.txt", FDir + "/link");
  std::filesystem::create_symlink(FDir + "/nowhere", FDir + "/dangling");
  struct Case {
    std::string name;
    std::string content;  // of the file the name leads to
  };
  const Case cases[] = {{"notes.txt", "notes"}, {"locked.txt", "locked"}, {"old.orb", old_db}, {"link", "notes"},
                        {"dangling", ""}};
  for (const Case& c : cases) {
    const auto r = RunOrbdb({"create", FDir + "/" + c.name});
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, "File " + FDir + "/" + c.name + " already exists - Native error: 30630\n");
    if (c.name != "dangling") {
      EXPECT_EQ(test::ReadWholeFile(FDir + "/" + c.name), c.content) << c.name;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(FDir + "/nowhere"));
  EXPECT_TRUE(std::filesystem::is_symlink(FDir + "/link"));

  const auto forced = RunOrbdb({"create", "--force", FDir + "/notes.txt"});
  ASSERT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(Fields(RunOrbdb({"info", FDir + "/notes.txt"}).out)["signature"], "0RBELLE-DATABASE");
}

// File names are bytes: names that are not UTF-8 reach the file system
// unchanged.
TEST_F(CreateInfoTest, NamesThatAreNotUtf8AreKept) {
  const std::string names[] = {"db\xff.orb", "caf\xe9.orb", "\xed\xb2\x80.orb", "\xc3\xa9t\xe9.orb"};
  for (const std::string& name : names) {
    const std::string path = FDir + "/" + name;
    const auto created = RunOrbdb({"create", path});
    ASSERT_EQ(created.status, 0) << created.err;
    const auto info = RunOrbdb({"info", path});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(Fields(info.out)["total_pages"], "6");
    EXPECT_EQ(RunOrbdb({"create", path}).status, 1);  // it exists, by that name
  }
  std::set<std::string> found;
  DIR* dir = opendir(FDir.c_str());
  ASSERT_NE(dir, nullptr);
  while (const dirent* entry = readdir(dir)) found.insert(entry->d_name);
  closedir(dir);
  const std::set<std::string> expected = {".", "..", names[0], names[1], names[2], names[3]};
  EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace orb
