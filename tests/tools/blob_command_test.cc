#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/platform/byte_order.h"
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

// Descriptors altered after packing: the tool must notice that the header
// and the data disagree, never write what it decoded.
TEST_F(BlobCommandTest, AlteredDescriptorsFailWithACode) {
  const auto pack = [&](const char* alg, const std::string& in) {
    EXPECT_EQ(RunOrbdb({"blob", "pack", "--algorithm", alg, "--block-size", "8192", in, Path("packed")}).status, 0);
    return ReadWholeFile(Path("packed"));
  };
  WriteFile(Path("hello.txt"), "hello");
  const std::string zlib = pack("zlib", Path("in.bin"));
  const std::string none = pack("none", Path("in.bin"));
  const std::string zlib_hello = pack("zlib", Path("hello.txt"));
  const auto with = [](std::string packed, size_t offset, int width, int64_t value) {
    auto* p = reinterpret_cast<uint8_t*>(packed.data()) + offset;
    if (width == 1) p[0] = static_cast<uint8_t>(value);
    if (width == 4) StoreI32LE(p, static_cast<int32_t>(value));
    if (width == 8) StoreI64LE(p, value);
    return packed;
  };
  const int64_t size = static_cast<int64_t>(FContent.size());
  struct Case {
    const char* name;
    std::string packed;
    const char* code;
  };
  const Case cases[] = {
      {"one block of six", with(zlib, 4, 8, 1), "30631"},
      {"size one short", with(zlib, 12, 8, size - 1), "30631"},
      {"size one over", with(zlib, 12, 8, size + 1), "30631"},
      {"stored content labelled zlib", with(none, 28, 1, 1), "30631"},
      {"stored content labelled ppm", with(none, 28, 1, 3), "30631"},
      {"zlib labelled stored content", with(zlib_hello, 28, 1, 0), "30633"},
      {"stored content shorter than stated", with(none, 12, 8, size + 1), "10081"},
      {"stored content longer than stated", with(none, 12, 8, size - 1), "30633"},
      {"stated size near 2^63", with(none, 12, 8, std::numeric_limits<int64_t>::max() - 8), "10081"},
      {"bytes after the last block", zlib + "x", "30633"},
      {"no block size", with(zlib, 0, 4, 0), "30632"},
      {"negative block size", with(zlib, 0, 4, -8192), "30632"},
  };
  WriteFile(Path("out.bin"), "previous");
  for (const Case& c : cases) {
    WriteFile(Path("altered"), c.packed);
    const auto r = RunOrbdb({"blob", "unpack", Path("altered"), Path("out.bin")});
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_TRUE(r.err.ends_with(std::string("Native error: ") + c.code + "\n")) << c.name << ": " << r.err;
    EXPECT_EQ(ReadWholeFile(Path("out.bin")), "previous") << c.name;
  }
  EXPECT_EQ(FileCount(), 5u);  // in.bin, hello.txt, packed, out.bin, altered
}

// Input without a size (a pipe) is read to its end.
TEST_F(BlobCommandTest, PacksFromAPipe) {
  std::mt19937 rng(12);
  std::string large;
  while (large.size() < 300000) large += FContent.substr(0, rng() % 5000);
  for (const std::string& content : {std::string("hello\n"), std::string(), FContent, large}) {
    for (const char* alg : {"none", "bzip"}) {
      SCOPED_TRACE(std::string(alg) + " " + std::to_string(content.size()));
      test::CliStdio stdio;
      stdio.input = content;
      const auto pack = RunOrbdb({"blob", "pack", "--algorithm", alg, "/proc/self/fd/0", Path("packed")}, stdio);
      ASSERT_EQ(pack.status, 0) << pack.err;
      ASSERT_EQ(RunOrbdb({"blob", "unpack", Path("packed"), Path("out.bin")}).status, 0);
      EXPECT_TRUE(ReadWholeFile(Path("out.bin")) == content);
    }
  }
}

// Output to something that is not a regular file is written into it, never
// replaced by a regular file; links are followed, never replaced.
class BlobOutputTest : public BlobCommandTest {
 protected:
  void SetUp() override {
    BlobCommandTest::SetUp();
    ASSERT_EQ(RunOrbdb({"blob", "pack", "--block-size", "8192", Path("in.bin"), Path("packed")}).status, 0);
    FPacked = ReadWholeFile(Path("packed"));
  }
  // Runs `args` while a thread reads FIFO `path` to its end.
  std::string ReadFifoWhile(const std::string& path, const std::vector<std::string>& args, int* status) {
    // Held open for writing until the tool is done, so the reader neither
    // waits for a writer nor sees the end early, whatever the tool does.
    const int keep = open(path.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(keep, 0);
    std::string got;
    std::thread reader([&] {
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      char buf[65536];
      for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
      if (fd >= 0) close(fd);
    });
    *status = RunOrbdb(args).status;
    close(keep);
    reader.join();
    return got;
  }
  std::string FPacked;
};

TEST_F(BlobOutputTest, FifoIsWrittenThrough) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  int status = -1;
  const std::string unpacked = ReadFifoWhile(Path("fifo"), {"blob", "unpack", Path("packed"), Path("fifo")}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(unpacked == FContent);
  const std::string packed = ReadFifoWhile(
      Path("fifo"), {"blob", "pack", "--block-size", "8192", Path("in.bin"), Path("fifo")}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(packed == FPacked);
  struct stat st;
  ASSERT_EQ(lstat(Path("fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(FileCount(), 3u);
}

TEST_F(BlobOutputTest, CharacterDeviceIsWrittenThrough) {
  if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
  // A node like the null device, made in the scratch folder.
  const std::string node = Path("null");
  ASSERT_EQ(mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  const int probe = open(node.c_str(), O_WRONLY | O_CLOEXEC);
  if (probe < 0) GTEST_SKIP() << "the scratch folder does not allow devices";
  close(probe);
  EXPECT_EQ(RunOrbdb({"blob", "unpack", Path("packed"), node}).status, 0);
  EXPECT_EQ(RunOrbdb({"blob", "pack", Path("in.bin"), node}).status, 0);
  struct stat st;
  ASSERT_EQ(lstat(node.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_rdev, makedev(1, 3));
  EXPECT_EQ(FileCount(), 3u);
}

TEST_F(BlobOutputTest, LinksAreFollowedAndRegularFilesKeepTheirMode) {
  std::filesystem::create_directory(Path("sub"));
  WriteFile(Path("sub/target.bin"), "old");
  chmod(Path("sub/target.bin").c_str(), 0600);
  std::filesystem::create_symlink("sub/target.bin", Path("link"));
  std::filesystem::create_symlink("link", Path("link2"));
  std::filesystem::create_symlink("sub/new.bin", Path("dangling"));
  for (const char* name : {"link", "link2", "dangling"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(RunOrbdb({"blob", "unpack", Path("packed"), Path(name)}).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(Path(name)));
  }
  EXPECT_TRUE(ReadWholeFile(Path("sub/target.bin")) == FContent);
  EXPECT_TRUE(ReadWholeFile(Path("sub/new.bin")) == FContent);
  struct stat st;
  ASSERT_EQ(stat(Path("sub/target.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("sub")), {}), 2);

  std::filesystem::create_symlink("loop", Path("loop"));
  EXPECT_EQ(RunOrbdb({"blob", "unpack", Path("packed"), Path("loop")}).status, 1);
  EXPECT_TRUE(std::filesystem::is_symlink(Path("loop")));
}

// An open descriptor named through /proc is written through, appending
// where the caller's descriptor appends.
TEST_F(BlobOutputTest, OpenDescriptorIsWrittenThrough) {
  const auto plain = RunOrbdb({"blob", "unpack", Path("packed"), "/proc/self/fd/1"});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_TRUE(plain.out == FContent);
  WriteFile(Path("log"), "previous\n");
  test::CliStdio stdio;
  stdio.append_output_to = Path("log");
  EXPECT_EQ(RunOrbdb({"blob", "unpack", Path("packed"), "/proc/self/fd/1"}, stdio).status, 0);
  EXPECT_TRUE(ReadWholeFile(Path("log")) == "previous\n" + FContent);
}

}  // namespace
}  // namespace orb
