#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/cli.h"

namespace orb {
namespace {

using test::ReadWholeFile;
using test::RunOrbdb;

class BlobCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orb_blob_cli_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FDir = tmpl;
    // Text followed by random bytes, over several blocks.
    std::mt19937 rng(3);
    std::string text;
    const char* words[] = {"memo ", "page ", "block ", "record\n", "index, ", "stream "};
    while (text.size() < 40000) text += words[rng() % 6];
    for (int i = 0; i < 5000; ++i) text += static_cast<char>(rng());
    FContent = text;
    WriteFile(Path("in.bin"), FContent);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }

  std::string Path(const std::string& name) const { return FDir + "/" + name; }
  static void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
  }
  size_t FileCount() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(FDir), {}));
  }

  std::string FDir;
  std::string FContent;
};

TEST_F(BlobCommandTest, EveryAlgorithmAndLevelRoundTrips) {
  for (const char* alg : {"none", "zlib", "bzip", "ppm"}) {
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE(std::string(alg) + " level " + std::to_string(level));
      const auto pack = RunOrbdb({"blob", "pack", "--algorithm", alg, "--level", std::to_string(level),
                                  "--block-size", "8192", Path("in.bin"), Path("packed")});
      ASSERT_EQ(pack.status, 0) << pack.err;
      const std::string packed = ReadWholeFile(Path("packed"));
      if (std::string(alg) != "none") {
        EXPECT_LT(packed.size(), FContent.size());
      }
      const auto unpack = RunOrbdb({"blob", "unpack", Path("packed"), Path("out.bin")});
      ASSERT_EQ(unpack.status, 0) << unpack.err;
      EXPECT_TRUE(ReadWholeFile(Path("out.bin")) == FContent);
      EXPECT_EQ(FileCount(), 3u);  // no temporary files left behind
    }
  }
}

TEST_F(BlobCommandTest, EmptyInputAndDefaultBlockSize) {
  WriteFile(Path("empty.bin"), "");
  for (const char* alg : {"none", "zlib", "ppm"}) {
    ASSERT_EQ(RunOrbdb({"blob", "pack", "--algorithm", alg, Path("empty.bin"), Path("packed")}).status, 0);
    ASSERT_EQ(RunOrbdb({"blob", "unpack", Path("packed"), Path("out.bin")}).status, 0);
    EXPECT_EQ(ReadWholeFile(Path("out.bin")), "");
  }
}

TEST_F(BlobCommandTest, DamagedInputFailsWithoutOutput) {
  ASSERT_EQ(RunOrbdb({"blob", "pack", "--algorithm", "ppm", "--level", "4", "--block-size", "8192", Path("in.bin"),
                      Path("packed")})
                .status,
            0);
  const std::string packed = ReadWholeFile(Path("packed"));
  WriteFile(Path("out.bin"), "previous");
  std::mt19937 rng(8);
  for (int trial = 0; trial < 12; ++trial) {
    std::string damaged = packed;
    // Past the descriptor: block headers and data.
    const size_t at = 32 + rng() % (packed.size() - 32);
    damaged[at] = static_cast<char>(damaged[at] ^ (1 << (rng() % 8)));
    WriteFile(Path("damaged"), damaged);
    const auto r = RunOrbdb({"blob", "unpack", Path("damaged"), Path("out.bin")});
    EXPECT_EQ(r.status, 1) << "at " << at;
    EXPECT_NE(r.err.find("Native error: "), std::string::npos) << r.err;
    EXPECT_EQ(ReadWholeFile(Path("out.bin")), "previous");
    EXPECT_EQ(FileCount(), 4u);
  }
  WriteFile(Path("damaged"), packed.substr(0, packed.size() - 3));
  EXPECT_EQ(RunOrbdb({"blob", "unpack", Path("damaged"), Path("out.bin")}).status, 1);
  WriteFile(Path("damaged"), packed.substr(0, 20));
  EXPECT_EQ(RunOrbdb({"blob", "unpack", Path("damaged"), Path("out.bin")}).status, 1);
  EXPECT_EQ(ReadWholeFile(Path("out.bin")), "previous");
}

TEST_F(BlobCommandTest, BadArgumentsAreUsageErrors) {
  EXPECT_EQ(RunOrbdb({"blob"}).status, 2);
  EXPECT_EQ(RunOrbdb({"blob", "squeeze", Path("in.bin"), Path("x")}).status, 2);
  EXPECT_EQ(RunOrbdb({"blob", "pack", "--algorithm", "lzma", Path("in.bin"), Path("x")}).status, 2);
  EXPECT_EQ(RunOrbdb({"blob", "pack", "--level", "10", Path("in.bin"), Path("x")}).status, 2);
  EXPECT_EQ(RunOrbdb({"blob", "pack", Path("in.bin")}).status, 2);
  const auto missing = RunOrbdb({"blob", "unpack", Path("none"), Path("x")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Cannot open file"), std::string::npos);
}

}  // namespace
}  // namespace orb
