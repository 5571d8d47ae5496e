#include "engine/platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>

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
  ScratchDir FDir;
  std::string FPath = FDir.File("data.bin");
};

TEST_F(FileTest, WriteReadSizeAndFlush) {
  TPlatformFile f;
  ASSERT_TRUE(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kCreateNew).Ok());
  ASSERT_TRUE(f.WriteAt(0, "hello", 5).Ok());
  ASSERT_TRUE(f.WriteAt(100, "world", 5).Ok());
  int64_t size = 0;
  ASSERT_TRUE(f.Size(&size).Ok());
  EXPECT_EQ(size, 105);
  char buf[5];
  ASSERT_TRUE(f.ReadAt(100, buf, 5).Ok());
  EXPECT_EQ(std::string(buf, 5), "world");
  char hole[3] = {1, 1, 1};
  ASSERT_TRUE(f.ReadAt(50, hole, 3).Ok());
  EXPECT_EQ(std::string(hole, 3), std::string(3, '\0'));

  ASSERT_TRUE(f.SetSize(3).Ok());
  ASSERT_TRUE(f.Size(&size).Ok());
  EXPECT_EQ(size, 3);
  ASSERT_TRUE(f.Flush().Ok());
  ASSERT_TRUE(f.Close().Ok());
  EXPECT_EQ(ReadAll(FPath), "hel");
  EXPECT_TRUE(f.Close().Ok());  // closing twice is harmless
}

// A view shows what other opens of the file write, also once its own open
// is closed; ranges that do not lie inside the file are refused.
TEST_F(FileTest, ViewFollowsWritesOfOtherOpens) {
  WriteAll(FPath, std::string(10000, 'a'));
  TPlatformFile reader;
  TPlatformFile writer;
  ASSERT_TRUE(reader.Open(FPath, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  ASSERT_TRUE(writer.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  TPlatformFileView view;
  // Past the first memory page and not aligned to one.
  ASSERT_TRUE(reader.MapView(9000, 4, &view).Ok());
  auto seen = [](const TPlatformFileView& v) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(v.Data()[i]);
    return bytes;
  };
  EXPECT_EQ(seen(view), "aaaa");
  ASSERT_TRUE(writer.WriteAt(9000, "wxyz", 4).Ok());
  EXPECT_EQ(seen(view), "wxyz");
  ASSERT_TRUE(reader.Close().Ok());
  ASSERT_TRUE(writer.WriteAt(9001, "Q", 1).Ok());
  TPlatformFileView moved = std::move(view);
  EXPECT_FALSE(view.IsMapped());
  ASSERT_TRUE(moved.IsMapped());
  EXPECT_EQ(seen(moved), "wQyz");

  struct Case {
    int64_t offset;
    size_t count;
    int code;
  };
  for (const Case& c : {Case{9998, 4, ENODATA}, Case{10000, 1, ENODATA}, Case{-1, 1, EINVAL}, Case{0, 0, EINVAL}}) {
    SCOPED_TRACE(c.offset);
    TPlatformFileView refused;
    EXPECT_EQ(writer.MapView(c.offset, c.count, &refused).Code(), c.code);
    EXPECT_FALSE(refused.IsMapped());
  }
  TPlatformFileView none;
  EXPECT_FALSE(reader.MapView(0, 1, &none).Ok());
}

// Guarded reads of a view: they follow other opens' writes, refuse ranges
// outside the view, and fail instead of ending the process once the file
// is cut below the bytes read. An access outside a guarded read that
// faults the same way still ends the process.
TEST_F(FileTest, GuardedViewReadsSurviveACutFile) {
  WriteAll(FPath, std::string(3 * 4096, 'a'));
  TPlatformFile reader;
  TPlatformFile writer;
  ASSERT_TRUE(reader.Open(FPath, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  ASSERT_TRUE(writer.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  TPlatformFileView view;
  EXPECT_EQ(view.Size(), 0u);
  char bytes[4] = {};
  EXPECT_FALSE(view.ReadGuarded(0, bytes, 4));
  ASSERT_TRUE(reader.MapView(0, 3 * 4096, &view).Ok());
  EXPECT_EQ(view.Size(), 3u * 4096);

  // Aligned words and unaligned runs alike.
  ASSERT_TRUE(writer.WriteAt(8192, "wxyz", 4).Ok());
  ASSERT_TRUE(writer.WriteAt(8197, "pqr", 3).Ok());
  ASSERT_TRUE(view.ReadGuarded(8192, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "wxyz");
  ASSERT_TRUE(view.ReadGuarded(8197, bytes, 3));
  EXPECT_EQ(std::string(bytes, 3), "pqr");
  EXPECT_FALSE(view.ReadGuarded(3 * 4096 - 2, bytes, 4));
  EXPECT_FALSE(view.ReadGuarded(3 * 4096 + 1, bytes, 1));

  // Cut to the middle of the second memory page: its remaining bytes still
  // read, those of the third page fail, again and again.
  ASSERT_TRUE(writer.SetSize(4096 + 100).Ok());
  ASSERT_TRUE(view.ReadGuarded(4096, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "aaaa");
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(view.ReadGuarded(8192, bytes, 4));
  // Grown again, the bytes come back (zero: the cut dropped them).
  ASSERT_TRUE(writer.SetSize(3 * 4096).Ok());
  ASSERT_TRUE(view.ReadGuarded(8192, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), std::string(4, '\0'));

  ASSERT_TRUE(writer.SetSize(4096).Ok());
  EXPECT_DEATH(
      {
        const volatile uint8_t* data = view.Data();
        volatile uint8_t sink = data[8192];
        (void)sink;
      },
      "");
}

TEST_F(FileTest, ShortReadIsAnErrorButReadSomeStopsAtEnd) {
  WriteAll(FPath, "0123456789");
  TPlatformFile f;
  ASSERT_TRUE(f.Open(FPath, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  char buf[10];
  size_t done = 99;
  PlatformStatus s = f.ReadAt(5, buf, 10, &done);
  EXPECT_FALSE(s.Ok());
  EXPECT_EQ(s.Code(), ENODATA);
  EXPECT_FALSE(s.Text().empty());
  EXPECT_EQ(done, 5u);
  EXPECT_FALSE(f.ReadAt(10, buf, 1).Ok());

  ASSERT_TRUE(f.ReadSomeAt(5, buf, 10, &done).Ok());
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(std::string(buf, 5), "56789");
  ASSERT_TRUE(f.ReadSomeAt(20, buf, 10, &done).Ok());
  EXPECT_EQ(done, 0u);
}

TEST_F(FileTest, OffsetsPastFourGigabytes) {
  const int64_t far = (int64_t{5} << 30) + 7;
  TPlatformFile f;
  ASSERT_TRUE(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kCreateNew).Ok());
  ASSERT_TRUE(f.WriteAt(far, "far", 3).Ok());
  ASSERT_TRUE(f.WriteAt(far - (int64_t{4} << 30), "near", 4).Ok());
  char buf[4];
  ASSERT_TRUE(f.ReadAt(far, buf, 3).Ok());
  EXPECT_EQ(std::string(buf, 3), "far");
  ASSERT_TRUE(f.ReadAt(far - (int64_t{4} << 30), buf, 4).Ok());
  EXPECT_EQ(std::string(buf, 4), "near");
  int64_t size = 0;
  ASSERT_TRUE(f.Size(&size).Ok());
  EXPECT_EQ(size, far + 3);
  ASSERT_TRUE(f.SetSize(far + 1).Ok());
  EXPECT_EQ(f.ReadAt(far, buf, 2).Code(), ENODATA);
}

TEST_F(FileTest, BadArgumentsAndWrongAccessFail) {
  WriteAll(FPath, "abc");
  TPlatformFile r;
  ASSERT_TRUE(r.Open(FPath, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  EXPECT_EQ(r.WriteAt(0, "x", 1).Code(), EBADF);
  EXPECT_EQ(r.SetSize(0).Code(), EBADF);
  char c;
  EXPECT_EQ(r.ReadAt(-1, &c, 1).Code(), EINVAL);
  EXPECT_EQ(r.Open(FPath, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Code(), EISCONN);

  TPlatformFile w;
  ASSERT_TRUE(w.Open(FPath, FileAccess::kWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  EXPECT_EQ(w.ReadAt(0, &c, 1).Code(), EBADF);
  EXPECT_EQ(w.SetSize(-1).Code(), EINVAL);
  ASSERT_TRUE(w.WriteAt(0, "x", 1).Ok());
  ASSERT_TRUE(r.ReadAt(0, &c, 1).Ok());
  EXPECT_EQ(c, 'x');

  TPlatformFile closed;
  EXPECT_EQ(closed.ReadAt(0, &c, 1).Code(), EBADF);
  int64_t size;
  EXPECT_EQ(closed.Size(&size).Code(), EBADF);
  EXPECT_EQ(closed.Flush().Code(), EBADF);
  EXPECT_EQ(closed.Open(FDir.path(), FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Code(),
            EISDIR);
}

TEST_F(FileTest, Dispositions) {
  TPlatformFile f;
  EXPECT_EQ(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Code(), ENOENT);
  EXPECT_FALSE(TPlatformFile::Exists(FPath));
  WriteAll(FPath, "old contents");
  EXPECT_TRUE(TPlatformFile::Exists(FPath));
  EXPECT_FALSE(TPlatformFile::Exists(FDir.path()));
  EXPECT_EQ(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kCreateNew).Code(), EEXIST);
  ASSERT_TRUE(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kCreateAlways).Ok());
  int64_t size = -1;
  ASSERT_TRUE(f.Size(&size).Ok());
  EXPECT_EQ(size, 0);
}

TEST_F(FileTest, CreateAlwaysNeverTruncatesAFileInUse) {
  WriteAll(FPath, "keep me");
  TPlatformFile holder;
  ASSERT_TRUE(holder.Open(FPath, FileAccess::kRead, FileShare::kDenyAll, FileDisposition::kOpenExisting).Ok());
  TPlatformFile f;
  EXPECT_EQ(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kCreateAlways).Code(), EBUSY);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(ReadAll(FPath), "keep me");
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
  WriteAll(FPath, "x");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.first) << " then " << static_cast<int>(c.second));
    TPlatformFile a, b;
    ASSERT_TRUE(a.Open(FPath, FileAccess::kReadWrite, c.first, FileDisposition::kOpenExisting).Ok());
    PlatformStatus s = b.Open(FPath, FileAccess::kRead, c.second, FileDisposition::kOpenExisting);
    EXPECT_EQ(s.Ok(), c.second_opens);
    if (!c.second_opens) {
      EXPECT_EQ(s.Code(), EBUSY);
      // Refused only while the first is open.
      ASSERT_TRUE(a.Close().Ok());
      EXPECT_TRUE(b.Open(FPath, FileAccess::kRead, c.second, FileDisposition::kOpenExisting).Ok());
    }
  }
}

TEST_F(FileTest, DeleteAndRenameRefusedWhileOpenElsewhere) {
  WriteAll(FPath, "data");
  std::string other = FDir.File("other.bin");
  TPlatformFile holder;
  ASSERT_TRUE(holder.Open(FPath, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  EXPECT_EQ(TPlatformFile::Delete(FPath).Code(), EBUSY);
  EXPECT_EQ(TPlatformFile::Rename(FPath, other, false).Code(), EBUSY);
  EXPECT_EQ(TPlatformFile::Rename(FPath, other, true).Code(), EBUSY);
  EXPECT_TRUE(TPlatformFile::Exists(FPath));
  EXPECT_FALSE(TPlatformFile::Exists(other));

  ASSERT_TRUE(holder.Close().Ok());
  ASSERT_TRUE(TPlatformFile::Rename(FPath, other, false).Ok());
  EXPECT_FALSE(TPlatformFile::Exists(FPath));
  EXPECT_EQ(ReadAll(other), "data");
  ASSERT_TRUE(TPlatformFile::Delete(other).Ok());
  EXPECT_FALSE(TPlatformFile::Exists(other));
  EXPECT_EQ(TPlatformFile::Delete(other).Code(), ENOENT);
}

TEST_F(FileTest, RenameOntoExistingTarget) {
  std::string target = FDir.File("target.bin");
  WriteAll(FPath, "new");
  WriteAll(target, "old");
  EXPECT_EQ(TPlatformFile::Rename(FPath, target, false).Code(), EEXIST);
  EXPECT_EQ(ReadAll(FPath), "new");
  EXPECT_EQ(ReadAll(target), "old");

  {
    // A target that is open elsewhere is not replaced under its user.
    TPlatformFile holder;
    ASSERT_TRUE(holder.Open(target, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
    EXPECT_EQ(TPlatformFile::Rename(FPath, target, true).Code(), EBUSY);
    EXPECT_EQ(ReadAll(target), "old");
    EXPECT_TRUE(TPlatformFile::Exists(FPath));
  }
  ASSERT_TRUE(TPlatformFile::Rename(FPath, target, true).Ok());
  EXPECT_FALSE(TPlatformFile::Exists(FPath));
  EXPECT_EQ(ReadAll(target), "new");
  ASSERT_TRUE(TPlatformFile::Rename(target, target, true).Ok());
  EXPECT_EQ(ReadAll(target), "new");
}

TEST_F(FileTest, OtherProcessHoldingTheFileBlocksDeleteRenameAndDenyingOpens) {
  WriteAll(FPath, "shared");
  LockChild child({FPath, "none"});
  std::vector<std::string> lines = child.ReadUntilReady();
  ASSERT_EQ(lines.front(), "open ok");

  TPlatformFile f;
  EXPECT_EQ(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).Code(), EBUSY);
  EXPECT_EQ(TPlatformFile::Delete(FPath).Code(), EBUSY);
  EXPECT_EQ(TPlatformFile::Rename(FPath, FDir.File("moved"), false).Code(), EBUSY);
  ASSERT_TRUE(f.Open(FPath, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  ASSERT_TRUE(f.Close().Ok());

  child.Release();
  EXPECT_TRUE(TPlatformFile::Delete(FPath).Ok());
}

TEST_F(FileTest, DenyingOpenInThisProcessKeepsOtherProcessOut) {
  WriteAll(FPath, "mine");
  TPlatformFile f;
  ASSERT_TRUE(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).Ok());
  LockChild refused({FPath, "none"});
  EXPECT_EQ(refused.ReadLine(), "open " + std::to_string(EBUSY));
  refused.Release();

  ASSERT_TRUE(f.Close().Ok());
  LockChild admitted({FPath, "all"});
  EXPECT_EQ(admitted.ReadLine(), "open ok");
  admitted.Release();
}

TEST_F(FileTest, DescriptorsAreNotInheritedByChildren) {
  WriteAll(FPath, "x");
  TPlatformFile f;
  ASSERT_TRUE(f.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).Ok());
  ASSERT_TRUE(f.Lock(0, 1).Ok());
  // A child started while the file is open must not keep its description
  // (and so its locks) alive after this process closes it.
  std::string unrelated = FDir.File("unrelated");
  WriteAll(unrelated, "y");
  LockChild child({unrelated, "none"});
  child.ReadUntilReady();
  ASSERT_TRUE(f.Close().Ok());
  TPlatformFile g;
  ASSERT_TRUE(g.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).Ok());
  EXPECT_TRUE(g.Lock(0, 1).Ok());
  child.Release();
}

}  // namespace
}  // namespace orb
