#include "engine/disk/database_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "engine/disk/disk_header.h"
#include "engine/platform/byte_order.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::ErrorMessageOf;
using testing::ReadAll;
using testing::WriteAll;

std::vector<uint8_t> HeaderBytes(int16_t header_size = kDBHeaderSize) {
  TORBDBHeader h = TORBDBHeader::Initial();
  h.HeaderSize = header_size;
  std::vector<uint8_t> out(kDBHeaderSize);
  h.SaveTo(out.data());
  return out;
}

std::vector<uint8_t> Junk(size_t n) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>('a' + i % 23);
  return out;
}

TEST(DatabaseFileTest, CreateWriteReadAndSize) {
  DiskScratch dir;
  TORBDatabaseFile f;
  f.CreateAndOpenFile(dir.WFile("a.orb"));
  EXPECT_TRUE(f.GetIsOpened());
  const char data[] = "hello world";
  f.WriteBuffer(data, sizeof data, 100, 10462);
  EXPECT_EQ(f.GetSize(), 100 + static_cast<int64_t>(sizeof data));
  char back[sizeof data] = {};
  f.ReadBuffer(back, sizeof back, 100, 10464);
  EXPECT_STREQ(back, data);
  f.SetSize(50);
  EXPECT_EQ(f.GetSize(), 50);
  f.CloseFile();
  EXPECT_EQ(std::filesystem::file_size(dir.File("a.orb")), 50u);
}

TEST(DatabaseFileTest, ShortReadsAreFailuresUnlessTheCallerCountsBytes) {
  DiskScratch dir;
  TORBDatabaseFile f;
  f.CreateAndOpenFile(dir.WFile("a.orb"));
  const std::vector<uint8_t> ten = Junk(10);
  f.WriteBuffer(ten.data(), ten.size(), 0, 1);
  uint8_t buf[20];
  EXPECT_FALSE(f.ReadBuffer(buf, sizeof buf, 0));
  size_t done = 0;
  EXPECT_TRUE(f.ReadBuffer(buf, sizeof buf, 5, &done));
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(ErrorCodeOf([&] { f.ReadBuffer(buf, sizeof buf, 0, int32_t{10474}); }), 10474);
  const std::string msg = ErrorMessageOf([&] { f.ReadBuffer(buf, sizeof buf, 0, int32_t{20197}); });
  EXPECT_NE(msg.find("Cannot Read from file: '"), std::string::npos) << msg;
  EXPECT_NE(msg.find("Position = 0, Count = 20"), std::string::npos) << msg;
  EXPECT_NE(msg.find("FileSize = 10"), std::string::npos) << msg;
}

TEST(DatabaseFileTest, OffsetsBeyondFourGigabytes) {
  DiskScratch dir;
  TORBDatabaseFile f;
  f.CreateAndOpenFile(dir.WFile("big.orb"));
  const int64_t far = (int64_t{5} << 30) + 7;
  const uint32_t v = 0xA1B2C3D4;
  f.WriteBuffer(&v, 4, far, 1);
  EXPECT_EQ(f.GetSize(), far + 4);
  uint32_t back = 0;
  f.ReadBuffer(&back, 4, far, int32_t{2});
  EXPECT_EQ(back, v);
  EXPECT_TRUE(f.LockByte(far, 1));
  EXPECT_TRUE(f.IsByteLocked(far));
  EXPECT_TRUE(f.UnlockByte(far, 1));
}

TEST(DatabaseFileTest, OpenAndClosedChecksAndModes) {
  DiskScratch dir;
  TORBDatabaseFile f;
  uint8_t b = 0;
  EXPECT_EQ(ErrorCodeOf([&] { f.ReadBuffer(&b, 1, 0, int32_t{5}); }), 30376);
  EXPECT_NE(ErrorMessageOf([&] { f.GetSize(); }).find("Cannot perform this operation (GetSize) on a closed file"),
            std::string::npos);
  EXPECT_EQ(ErrorCodeOf([&] { f.CloseFile(); }), 30376);
  EXPECT_EQ(ErrorCodeOf([&] { f.CreateAndOpenFile(u""); }), 30374);
  EXPECT_EQ(ErrorCodeOf([&] { f.OpenFile(dir.WFile("missing.orb"), amReadWrite, smShareDenyNone); }), 30364);
  EXPECT_EQ(ErrorCodeOf([&] { f.OpenFile(dir.WFile("x"), static_cast<TORBAccessMode>(7), smExclusive); }), 30366);
  EXPECT_EQ(ErrorCodeOf([&] { f.OpenFile(dir.WFile("x"), amReadOnly, static_cast<TORBShareMode>(9)); }), 30367);
  f.CreateAndOpenFile(dir.WFile("a.orb"));
  EXPECT_EQ(ErrorCodeOf([&] { f.OpenFile(dir.WFile("a.orb"), amReadOnly, smShareDenyNone); }), 30377);
  EXPECT_EQ(ErrorCodeOf([&] { f.Seek(-1, 0); }), 30372);
  EXPECT_EQ(ErrorCodeOf([&] { f.Seek(-1, 777); }), 777);
  f.CloseFile();

  TORBDatabaseFile ro;
  ro.OpenFile(dir.WFile("a.orb"), amReadOnly, smShareDenyNone);
  EXPECT_EQ(ErrorCodeOf([&] { ro.WriteBuffer(&b, 1, 0, 10469); }), 10469);
}

TEST(DatabaseFileTest, ShareModesAndFilesHeldByOthers) {
  DiskScratch dir;
  const std::u16string name = dir.WFile("a.orb");
  TORBDatabaseFile owner;
  owner.CreateAndOpenFile(name);  // exclusive
  const uint8_t b = 42;
  owner.WriteBuffer(&b, 1, 0, 1);

  TORBDatabaseFile other;
  EXPECT_EQ(ErrorCodeOf([&] { other.OpenFile(name, amReadOnly, smShareDenyNone); }), 30364);
  // Neither re-created, deleted nor renamed while held.
  EXPECT_EQ(ErrorCodeOf([&] { other.CreateAndOpenFile(name); }), 30362);
  EXPECT_EQ(ErrorCodeOf([&] { other.DeleteFile(name); }), 30362);
  EXPECT_EQ(ErrorCodeOf([&] { TORBDatabaseFile::RenameFile(name, dir.WFile("b.orb")); }), 30378);
  EXPECT_EQ(ReadAll(dir.File("a.orb")), std::vector<uint8_t>{42});
  owner.CloseFile();

  TORBDatabaseFile s1, s2;
  s1.OpenFile(name, amReadWrite, smShareDenyNone);
  s2.OpenFile(name, amReadWrite, smShareDenyNone);
  EXPECT_EQ(ErrorCodeOf([&] { owner.OpenFile(name, amReadWrite, smExclusive); }), 30364);
  s1.CloseFile();
  s2.CloseFile();

  WriteAll(dir.File("c.orb"), {1});
  EXPECT_EQ(ErrorCodeOf([&] { TORBDatabaseFile::RenameFile(name, dir.WFile("c.orb")); }), 30378);
  TORBDatabaseFile::RenameFile(name, dir.WFile("b.orb"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.orb")));
  other.DeleteFile(dir.WFile("b.orb"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.orb")));
}

TEST(DatabaseFileTest, CreateReplacesAReadOnlyFile) {
  DiskScratch dir;
  WriteAll(dir.File("a.orb"), Junk(100));
  ::chmod(dir.File("a.orb").c_str(), 0444);
  TORBDatabaseFile f;
  f.CreateAndOpenFile(dir.WFile("a.orb"));
  EXPECT_EQ(f.GetSize(), 0);
}

TEST(DatabaseFileTest, ByteLocksAcrossOpenFiles) {
  DiskScratch dir;
  const std::u16string name = dir.WFile("a.orb");
  WriteAll(dir.File("a.orb"), Junk(400));
  TORBDatabaseFile a, b;
  a.OpenFile(name, amReadWrite, smShareDenyNone);
  b.OpenFile(name, amReadWrite, smShareDenyNone);

  EXPECT_TRUE(a.LockByte(360, 1));
  EXPECT_TRUE(a.IsByteLocked(360));  // held by this object itself
  EXPECT_TRUE(b.IsByteLocked(360));
  EXPECT_FALSE(b.LockByte(360, 1));
  EXPECT_FALSE(a.LockByte(360, 1));  // not re-entrant
  EXPECT_TRUE(b.IsRegionLocked(355, 10));
  EXPECT_FALSE(b.IsRegionLocked(361, 10));
  EXPECT_FALSE(b.UnlockByte(360, 1));  // not held by b
  EXPECT_FALSE(a.GetWasCriticalError());
  EXPECT_TRUE(a.UnlockByte(360, 1));
  EXPECT_FALSE(b.IsByteLocked(360));
  EXPECT_TRUE(b.LockByte(360, 1));
  b.CloseFile();
  EXPECT_FALSE(a.IsByteLocked(360));  // released with its handle
}

TEST(DatabaseFileTest, FindSignature) {
  DiskScratch dir;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool found;
    int64_t offset;
  };
  auto at = [](size_t lead, std::vector<uint8_t> tail) {
    std::vector<uint8_t> out = Junk(lead);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
  };
  std::vector<uint8_t> full = HeaderBytes();
  full.resize(kFrontPartSize + 4096);
  std::vector<uint8_t> wrong_then_right = at(500, HeaderBytes(75));
  std::vector<uint8_t> right = HeaderBytes();
  wrong_then_right.insert(wrong_then_right.end(), right.begin(), right.end());
  std::vector<uint8_t> cut = at(30000, HeaderBytes());
  cut.resize(cut.size() - 1);

  const Case cases[] = {
      {"at zero", full, true, 0},
      {"behind a program", at(12345, full), true, 12345},
      {"across the first block boundary", at(9990, HeaderBytes()), true, 9990},
      {"size field across a boundary", at(9984 - 17, HeaderBytes()), true, 9984 - 17},
      {"wrong header size skipped", wrong_then_right, true, 500 + kDBHeaderSize},
      {"header cut by the end of file", cut, false, 0},
      {"no header", Junk(25000), false, 0},
      {"empty", {}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(dir.File("s.orb"), c.bytes);
    TORBDatabaseFile f;
    f.OpenFile(dir.WFile("s.orb"), amReadOnly, smShareDenyNone);
    f.SetPosition(17);
    int64_t offset = -1;
    EXPECT_EQ(f.FindSignature(&offset), c.found);
    if (c.found) {
      EXPECT_EQ(offset, c.offset);
    }
    EXPECT_EQ(f.GetPosition(), 17);
  }
}

TEST(DatabaseFileTest, DesignTimeOpensOnceAndClosesOnce) {
  DiskScratch dir;
  WriteAll(dir.File("a.orb"), Junk(10));
  TORBDatabaseFile f;
  f.OpenFile(dir.WFile("a.orb"), amReadWrite, smShareDenyNone);
  ORBSetDesignMode(true);
  f.CloseFileForDesignTime();
  EXPECT_FALSE(f.GetIsOpened());
  f.OpenFileForDesignTime();
  f.OpenFileForDesignTime();
  EXPECT_TRUE(f.GetIsOpened());
  EXPECT_TRUE(f.LockByte(3, 1));
  f.CloseFileForDesignTime();
  EXPECT_TRUE(f.GetIsOpened());
  f.CloseFileForDesignTime();
  EXPECT_FALSE(f.GetIsOpened());
  EXPECT_TRUE(f.UnlockByte(3, 1));
  f.CloseFileForDesignTime();  // never below zero
  f.OpenFileForDesignTime();
  EXPECT_TRUE(f.GetIsOpened());
  EXPECT_FALSE(f.IsByteLocked(3));
  f.CloseFileForDesignTime();
  EXPECT_FALSE(f.GetIsOpened());
  ORBSetDesignMode(false);
}

}  // namespace
}  // namespace orb
