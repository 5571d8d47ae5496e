#include "engine/platform/temp_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/engine/platform/platform_test_util.h"

namespace orb {
namespace {

using testing::ScratchDir;

// Sets TMPDIR for one test and puts the old value back.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const char* value) {
    if (const char* old = getenv("TMPDIR")) FOld = old;
    if (value) {
      setenv("TMPDIR", value, 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ~ScopedTmpDir() {
    if (FOld) {
      setenv("TMPDIR", FOld->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> FOld;
};

size_t Entries(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(TempFileTest, TempDirectoryFollowsTmpdir) {
  ScratchDir dir;
  {
    ScopedTmpDir env((dir.path() + "//").c_str());
    EXPECT_EQ(TempDirectory(), dir.path());
  }
  const char* fallbacks[] = {nullptr, "", "/nonexistent/orb/dir"};
  for (const char* value : fallbacks) {
    ScopedTmpDir env(value);
    EXPECT_EQ(TempDirectory(), "/tmp");
  }
  {
    ScopedTmpDir env((dir.path() + "/not_a_dir").c_str());
    std::ofstream(dir.path() + "/not_a_dir") << "x";
    EXPECT_EQ(TempDirectory(), "/tmp");
  }
}

TEST(TempFileTest, TemporaryFileLeavesNoName) {
  ScratchDir dir;
  ScopedTmpDir env(dir.path().c_str());
  TPlatformFile f;
  ASSERT_TRUE(OpenTemporaryFile(f, "ORB").Ok());
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.Path().rfind(dir.path() + "/ORB", 0), 0u) << f.Path();
  EXPECT_EQ(Entries(dir.path()), 0u);
  EXPECT_FALSE(TPlatformFile::Exists(f.Path()));

  std::string data(10000, 'z');
  ASSERT_TRUE(f.WriteAt(4096, data.data(), data.size()).Ok());
  std::string back(data.size(), '\0');
  ASSERT_TRUE(f.ReadAt(4096, back.data(), back.size()).Ok());
  EXPECT_EQ(back, data);
  ASSERT_TRUE(f.Lock(0, 1).Ok());
  EXPECT_EQ(OpenTemporaryFile(f, "ORB").Code(), EISCONN);

  TPlatformFile g;
  ASSERT_TRUE(OpenTemporaryFile(g, "ORB").Ok());
  EXPECT_NE(g.Path(), f.Path());
  ASSERT_TRUE(f.Close().Ok());
  ASSERT_TRUE(g.Close().Ok());
  EXPECT_EQ(Entries(dir.path()), 0u);
}

TEST(TempFileTest, FreeDiskSpace) {
  ScratchDir dir;
  int64_t bytes = -1;
  ASSERT_TRUE(FreeDiskSpace(dir.path(), &bytes).Ok());
  EXPECT_GT(bytes, 0);
  std::filesystem::space_info info = std::filesystem::space(dir.path());
  // Other processes may write meanwhile.
  EXPECT_NEAR(static_cast<double>(bytes), static_cast<double>(info.available), double(int64_t{64} << 20));
  PlatformStatus s = FreeDiskSpace(dir.File("missing/dir"), &bytes);
  EXPECT_EQ(s.Code(), ENOENT);
  EXPECT_FALSE(s.Text().empty());
}

}  // namespace
}  // namespace orb
