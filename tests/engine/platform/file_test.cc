#include "engine/platform/file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "tests/engine/platform/platform_test_util.h"

namespace orb {
namespace {

using testing::LockChild;
using testing::ScratchDir;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

class FileTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  std::string path_ = dir_.File("data.bin");
};

TEST_F(FileTest, WriteReadSizeAndFlush) {
  TPlatformFile f;
  ASSERT_TRUE(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kCreateNew).ok());
  ASSERT_TRUE(f.WriteAt(0, "hello", 5).ok());
  ASSERT_TRUE(f.WriteAt(100, "world", 5).ok());
  int64_t size = 0;
  ASSERT_TRUE(f.Size(&size).ok());
  EXPECT_EQ(size, 105);
  char buf[5];
  ASSERT_TRUE(f.ReadAt(100, buf, 5).ok());
  EXPECT_EQ(std::string(buf, 5), "world");
  char hole[3] = {1, 1, 1};
  ASSERT_TRUE(f.ReadAt(50, hole, 3).ok());
  EXPECT_EQ(std::string(hole, 3), std::string(3, '\0'));

  ASSERT_TRUE(f.SetSize(3).ok());
  ASSERT_TRUE(f.Size(&size).ok());
  EXPECT_EQ(size, 3);
  ASSERT_TRUE(f.Flush().ok());
  ASSERT_TRUE(f.Close().ok());
  EXPECT_EQ(ReadAll(path_), "hel");
  EXPECT_TRUE(f.Close().ok());  // closing twice is harmless
}

TEST_F(FileTest, ShortReadIsAnErrorButReadSomeStopsAtEnd) {
  WriteAll(path_, "0123456789");
  TPlatformFile f;
  ASSERT_TRUE(f.Open(path_, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).ok());
  char buf[10];
  size_t done = 99;
  PlatformStatus s = f.ReadAt(5, buf, 10, &done);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.code(), ENODATA);
  EXPECT_FALSE(s.text().empty());
  EXPECT_EQ(done, 5u);
  EXPECT_FALSE(f.ReadAt(10, buf, 1).ok());

  ASSERT_TRUE(f.ReadSomeAt(5, buf, 10, &done).ok());
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(std::string(buf, 5), "56789");
  ASSERT_TRUE(f.ReadSomeAt(20, buf, 10, &done).ok());
  EXPECT_EQ(done, 0u);
}

TEST_F(FileTest, OffsetsPastFourGigabytes) {
  const int64_t far = (int64_t{5} << 30) + 7;
  TPlatformFile f;
  ASSERT_TRUE(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kCreateNew).ok());
  ASSERT_TRUE(f.WriteAt(far, "far", 3).ok());
  ASSERT_TRUE(f.WriteAt(far - (int64_t{4} << 30), "near", 4).ok());
  char buf[4];
  ASSERT_TRUE(f.ReadAt(far, buf, 3).ok());
  EXPECT_EQ(std::string(buf, 3), "far");
  ASSERT_TRUE(f.ReadAt(far - (int64_t{4} << 30), buf, 4).ok());
  EXPECT_EQ(std::string(buf, 4), "near");
  int64_t size = 0;
  ASSERT_TRUE(f.Size(&size).ok());
  EXPECT_EQ(size, far + 3);
  ASSERT_TRUE(f.SetSize(far + 1).ok());
  EXPECT_EQ(f.ReadAt(far, buf, 2).code(), ENODATA);
}

TEST_F(FileTest, BadArgumentsAndWrongAccessFail) {
  WriteAll(path_, "abc");
  TPlatformFile r;
  ASSERT_TRUE(r.Open(path_, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).ok());
  EXPECT_EQ(r.WriteAt(0, "x", 1).code(), EBADF);
  EXPECT_EQ(r.SetSize(0).code(), EBADF);
  char c;
  EXPECT_EQ(r.ReadAt(-1, &c, 1).code(), EINVAL);
  EXPECT_EQ(r.Open(path_, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).code(), EISCONN);

  TPlatformFile w;
  ASSERT_TRUE(w.Open(path_, FileAccess::kWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).ok());
  EXPECT_EQ(w.ReadAt(0, &c, 1).code(), EBADF);
  EXPECT_EQ(w.SetSize(-1).code(), EINVAL);
  ASSERT_TRUE(w.WriteAt(0, "x", 1).ok());
  ASSERT_TRUE(r.ReadAt(0, &c, 1).ok());
  EXPECT_EQ(c, 'x');

  TPlatformFile closed;
  EXPECT_EQ(closed.ReadAt(0, &c, 1).code(), EBADF);
  int64_t size;
  EXPECT_EQ(closed.Size(&size).code(), EBADF);
  EXPECT_EQ(closed.Flush().code(), EBADF);
  EXPECT_EQ(closed.Open(dir_.path(), FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).code(),
            EISDIR);
}

TEST_F(FileTest, Dispositions) {
  TPlatformFile f;
  EXPECT_EQ(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).code(), ENOENT);
  EXPECT_FALSE(TPlatformFile::Exists(path_));
  WriteAll(path_, "old contents");
  EXPECT_TRUE(TPlatformFile::Exists(path_));
  EXPECT_FALSE(TPlatformFile::Exists(dir_.path()));
  EXPECT_EQ(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kCreateNew).code(), EEXIST);
  ASSERT_TRUE(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kCreateAlways).ok());
  int64_t size = -1;
  ASSERT_TRUE(f.Size(&size).ok());
  EXPECT_EQ(size, 0);
}

TEST_F(FileTest, CreateAlwaysNeverTruncatesAFileInUse) {
  WriteAll(path_, "keep me");
  TPlatformFile holder;
  ASSERT_TRUE(holder.Open(path_, FileAccess::kRead, FileShare::kDenyAll, FileDisposition::kOpenExisting).ok());
  TPlatformFile f;
  EXPECT_EQ(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kCreateAlways).code(), EBUSY);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(ReadAll(path_), "keep me");
}

TEST_F(FileTest, ShareModesOfTwoOpens) {
  struct Case {
    FileShare first, second;
    bool second_opens;
  };
  const Case cases[] = {
      {FileShare::kDenyNone, FileShare::kDenyNone, true},   {FileShare::kDenyNone, FileShare::kDenyAll, false},
      {FileShare::kDenyAll, FileShare::kDenyNone, false},   {FileShare::kDenyAll, FileShare::kDenyAll, false},
      {FileShare::kDenyWrite, FileShare::kDenyNone, false}, {FileShare::kDenyNone, FileShare::kDenyWrite, false},
  };
  WriteAll(path_, "x");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.first) << " then " << static_cast<int>(c.second));
    TPlatformFile a, b;
    ASSERT_TRUE(a.Open(path_, FileAccess::kReadWrite, c.first, FileDisposition::kOpenExisting).ok());
    PlatformStatus s = b.Open(path_, FileAccess::kRead, c.second, FileDisposition::kOpenExisting);
    EXPECT_EQ(s.ok(), c.second_opens);
    if (!c.second_opens) {
      EXPECT_EQ(s.code(), EBUSY);
      // Refused only while the first is open.
      ASSERT_TRUE(a.Close().ok());
      EXPECT_TRUE(b.Open(path_, FileAccess::kRead, c.second, FileDisposition::kOpenExisting).ok());
    }
  }
}

TEST_F(FileTest, DeleteAndRenameRefusedWhileOpenElsewhere) {
  WriteAll(path_, "data");
  std::string other = dir_.File("other.bin");
  TPlatformFile holder;
  ASSERT_TRUE(holder.Open(path_, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).ok());
  EXPECT_EQ(TPlatformFile::Delete(path_).code(), EBUSY);
  EXPECT_EQ(TPlatformFile::Rename(path_, other, false).code(), EBUSY);
  EXPECT_EQ(TPlatformFile::Rename(path_, other, true).code(), EBUSY);
  EXPECT_TRUE(TPlatformFile::Exists(path_));
  EXPECT_FALSE(TPlatformFile::Exists(other));

  ASSERT_TRUE(holder.Close().ok());
  ASSERT_TRUE(TPlatformFile::Rename(path_, other, false).ok());
  EXPECT_FALSE(TPlatformFile::Exists(path_));
  EXPECT_EQ(ReadAll(other), "data");
  ASSERT_TRUE(TPlatformFile::Delete(other).ok());
  EXPECT_FALSE(TPlatformFile::Exists(other));
  EXPECT_EQ(TPlatformFile::Delete(other).code(), ENOENT);
}

TEST_F(FileTest, RenameOntoExistingTarget) {
  std::string target = dir_.File("target.bin");
  WriteAll(path_, "new");
  WriteAll(target, "old");
  EXPECT_EQ(TPlatformFile::Rename(path_, target, false).code(), EEXIST);
  EXPECT_EQ(ReadAll(path_), "new");
  EXPECT_EQ(ReadAll(target), "old");

  {
    // A target that is open elsewhere is not replaced under its user.
    TPlatformFile holder;
    ASSERT_TRUE(holder.Open(target, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).ok());
    EXPECT_EQ(TPlatformFile::Rename(path_, target, true).code(), EBUSY);
    EXPECT_EQ(ReadAll(target), "old");
    EXPECT_TRUE(TPlatformFile::Exists(path_));
  }
  ASSERT_TRUE(TPlatformFile::Rename(path_, target, true).ok());
  EXPECT_FALSE(TPlatformFile::Exists(path_));
  EXPECT_EQ(ReadAll(target), "new");
  ASSERT_TRUE(TPlatformFile::Rename(target, target, true).ok());
  EXPECT_EQ(ReadAll(target), "new");
}

TEST_F(FileTest, OtherProcessHoldingTheFileBlocksDeleteRenameAndDenyingOpens) {
  WriteAll(path_, "shared");
  LockChild child({path_, "none"});
  std::vector<std::string> lines = child.ReadUntilReady();
  ASSERT_EQ(lines.front(), "open ok");

  TPlatformFile f;
  EXPECT_EQ(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).code(), EBUSY);
  EXPECT_EQ(TPlatformFile::Delete(path_).code(), EBUSY);
  EXPECT_EQ(TPlatformFile::Rename(path_, dir_.File("moved"), false).code(), EBUSY);
  ASSERT_TRUE(f.Open(path_, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).ok());
  ASSERT_TRUE(f.Close().ok());

  child.Release();
  EXPECT_TRUE(TPlatformFile::Delete(path_).ok());
}

TEST_F(FileTest, DenyingOpenInThisProcessKeepsOtherProcessOut) {
  WriteAll(path_, "mine");
  TPlatformFile f;
  ASSERT_TRUE(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).ok());
  LockChild refused({path_, "none"});
  EXPECT_EQ(refused.ReadLine(), "open " + std::to_string(EBUSY));
  refused.Release();

  ASSERT_TRUE(f.Close().ok());
  LockChild admitted({path_, "all"});
  EXPECT_EQ(admitted.ReadLine(), "open ok");
  admitted.Release();
}

TEST_F(FileTest, DescriptorsAreNotInheritedByChildren) {
  WriteAll(path_, "x");
  TPlatformFile f;
  ASSERT_TRUE(f.Open(path_, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).ok());
  ASSERT_TRUE(f.Lock(0, 1).ok());
  // A child started while the file is open must not keep its description
  // (and so its locks) alive after this process closes it.
  std::string unrelated = dir_.File("unrelated");
  WriteAll(unrelated, "y");
  LockChild child({unrelated, "none"});
  child.ReadUntilReady();
  ASSERT_TRUE(f.Close().ok());
  TPlatformFile g;
  ASSERT_TRUE(g.Open(path_, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).ok());
  EXPECT_TRUE(g.Lock(0, 1).ok());
  child.Release();
}

}  // namespace
}  // namespace orb
