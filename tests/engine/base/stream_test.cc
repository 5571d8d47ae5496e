#include "engine/base/stream.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/base/stream_file.h"
#include "engine/base/stream_memory.h"
#include "engine/base/stream_temporary.h"
#include "tests/engine/base/stream_test_data.h"

namespace orb {
namespace {

// A memory stream that accepts at most `capacity` bytes in total.
class FullStream : public TORBMemoryStream {
 public:
  explicit FullStream(int64_t capacity) : FCapacity(capacity) {}
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t room = FCapacity - GetPosition();
    return TORBMemoryStream::Write(buffer, std::min(count, std::max<int64_t>(room, 0)));
  }

 private:
  int64_t FCapacity;
};

template <typename F>
EORBException Catch(F&& f) {
  try {
    f();
  } catch (const EORBException& e) {
    return e;
  }
  ADD_FAILURE() << "no EORBException";
  return EORBException(0, "none");
}

std::vector<uint8_t> ReadAll(TStream& s) {
  std::vector<uint8_t> out(static_cast<size_t>(s.GetSize()));
  s.Seek(0, soBeginning);
  EXPECT_EQ(s.Read(out.data(), static_cast<int64_t>(out.size())), static_cast<int64_t>(out.size()));
  return out;
}

class StreamTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orb_streams_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FDir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  std::string Path(const std::string& name) const { return FDir + "/" + name; }

  std::string FDir;
};

TEST_F(StreamTest, CheckedPrimitivesRaiseTheCallersCodeWithDetails) {
  TORBMemoryStream m;
  const char data[10] = "123456789";
  SaveDataToStream(data, 10, m, 1);
  m.Seek(5, soBeginning);
  char back[10];
  const EORBException read = Catch([&] { LoadDataFromStream(back, 10, m, 12345); });
  EXPECT_EQ(read.NativeError(), 12345);
  EXPECT_STREQ(read.what(),
               "Cannot read from stream. Position = 5, Stream size = 10, Block size = 10, Bytes Read = 5"
               " - Native error: 12345");

  FullStream full(4);
  const EORBException write = Catch([&] { SaveDataToStream(data, 6, full, 777); });
  EXPECT_EQ(write.NativeError(), 777);
  EXPECT_STREQ(write.what(),
               "Cannot write to stream. Position = 0, Stream size = 4, Block size = 6, Bytes Write = 4"
               " - Native error:   777");

  const EORBException seek = Catch([&] { SetStreamPosition(m, -3, 10103); });
  EXPECT_EQ(seek.NativeError(), 10103);
  EXPECT_NE(std::string(seek.what()).find("Cannot set stream position to -3. Position = 10, Size = 10"),
            std::string::npos);

  m.Seek(0, soBeginning);
  LoadDataFromStream(back, 10, m, 1);
  EXPECT_EQ(std::memcmp(back, data, 10), 0);
  SetStreamPosition(m, 3, 1);
  EXPECT_EQ(m.GetPosition(), 3);
}

TEST_F(StreamTest, MemoryStreamGrowsShrinksAndZeroFillsGaps) {
  TORBMemoryStream m(16);
  EXPECT_EQ(m.AllocatedSize(), 16);
  EXPECT_EQ(m.Write("abc", 3), 3);
  m.Seek(10, soBeginning);
  EXPECT_EQ(m.Write("z", 1), 1);
  EXPECT_EQ(m.GetSize(), 11);
  const std::vector<uint8_t> all = ReadAll(m);
  EXPECT_EQ(std::string(all.begin(), all.end()), std::string("abc\0\0\0\0\0\0\0z", 11));
  EXPECT_EQ(m.Read(nullptr, 5), 0);  // at the end

  m.Seek(0, soEnd);
  const std::vector<uint8_t> big(100, 7);
  m.Write(big.data(), 100);
  EXPECT_EQ(m.AllocatedSize(), 222);  // twice the size needed

  m.SetSize(5);
  EXPECT_EQ(m.GetPosition(), 5);
  m.SetSize(8);  // regrown bytes are zeros, not old content
  std::vector<uint8_t> tail(3);
  m.Seek(5, soBeginning);
  EXPECT_EQ(m.Read(tail.data(), 3), 3);
  EXPECT_EQ(tail, std::vector<uint8_t>(3, 0));
  m.SetSize(0);
  EXPECT_EQ(m.AllocatedSize(), 0);
  EXPECT_EQ(m.GetSize(), 0);

  TORBMemoryStream adopted(std::vector<uint8_t>{1, 2, 3});
  EXPECT_EQ(adopted.GetSize(), 3);
  EXPECT_EQ(adopted.AllocatedSize(), 3);
}

TEST_F(StreamTest, CopyInPiecesReportsProgressAndRestoresPositions) {
  TORBMemoryStream source;
  const std::vector<uint8_t> data = test::TextBytes(2500, 1);
  source.Write(data.data(), 2500);
  source.Seek(17, soBeginning);
  source.SetBlockSize(1000);
  std::vector<double> progress;
  source.SetOnProgress([&](TStream&, double p) { progress.push_back(p); });

  TORBMemoryStream target;
  target.Write("xy", 2);
  source.SaveToStream(target);
  EXPECT_EQ(source.GetPosition(), 17);
  EXPECT_EQ(target.GetPosition(), 2);
  EXPECT_EQ(progress, (std::vector<double>{0, 40, 80, 100, 100}));
  std::vector<uint8_t> copied = ReadAll(target);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), copied.begin() + 2));

  TORBMemoryStream loaded;
  loaded.Write("old content", 11);
  loaded.LoadFromStreamWithPosition(source, 100, 50);
  EXPECT_EQ(ReadAll(loaded), std::vector<uint8_t>(data.begin() + 100, data.begin() + 150));
  loaded.LoadFromStream(source);
  EXPECT_EQ(ReadAll(loaded), data);
  EXPECT_EQ(Catch([&] { loaded.LoadFromStreamWithPosition(source, 2000, 501); }).NativeError(), 10148);

  source.SetBlockSize(0);
  loaded.SetBlockSize(0);
  EXPECT_EQ(Catch([&] { source.SaveToStream(target); }).NativeError(), 10418);
  EXPECT_EQ(Catch([&] { loaded.LoadFromStream(source); }).NativeError(), 10419);

  source.SetBlockSize(100);
  FullStream full(300);
  EXPECT_EQ(Catch([&] { source.SaveToStream(full); }).NativeError(), 10147);
}

TEST_F(StreamTest, FileStreamCreatesOpensAndResizes) {
  const std::string path = Path("data.bin");
  {
    TORBFileStream f(path, fmCreate, false);
    EXPECT_EQ(f.Write("hello world", 11), 11);
    f.SetSize(5);
    EXPECT_EQ(f.GetPosition(), 5);
    EXPECT_EQ(f.GetSize(), 5);
    f.Seek(8, soBeginning);
    f.Write("!", 1);  // the gap reads back as zeros
  }
  {
    TORBFileStream f(path, fmOpenRead | fmShareDenyWrite, false);
    EXPECT_EQ(f.GetSize(), 9);
    std::vector<uint8_t> all = ReadAll(f);
    EXPECT_EQ(std::string(all.begin(), all.end()), std::string("hello\0\0\0!", 9));
    // Writers are refused while a reader denies them.
    EXPECT_EQ(Catch([&] { TORBFileStream w(path, fmOpenReadWrite | fmShareDenyNone, false); }).NativeError(), 10105);
  }
  const EORBException missing = Catch([&] { TORBFileStream f(Path("none.bin"), fmOpenRead, false); });
  EXPECT_EQ(missing.NativeError(), 10105);
  EXPECT_NE(std::string(missing.what()).find("Cannot open file. FileName = " + Path("none.bin") + ", Mode = 0"),
            std::string::npos);
  EXPECT_EQ(Catch([&] { TORBFileStream f(Path("no/such/dir.bin"), fmCreate, false); }).NativeError(), 10104);

  {
    TORBFileStream t(Path("scratch.tmp"), fmCreate, true);
    t.Write("x", 1);
    EXPECT_TRUE(std::filesystem::exists(Path("scratch.tmp")));
  }
  EXPECT_FALSE(std::filesystem::exists(Path("scratch.tmp")));
}

TEST_F(StreamTest, SaveToFileAndLoadFromFileRoundTrip) {
  const std::vector<uint8_t> data = test::RandomBytes(300000, 3);
  TORBMemoryStream m;
  m.Write(data.data(), static_cast<int64_t>(data.size()));
  m.SaveToFile(Path("copy.bin"));
  TORBMemoryStream back;
  back.LoadFromFile(Path("copy.bin"));
  EXPECT_EQ(ReadAll(back), data);
}

TEST_F(StreamTest, TemporaryStreamMovesToFileOnlyPastTheLimit) {
  const std::vector<uint8_t> mb(DefaultTemporaryLimit, 0x5A);
  TORBTemporaryStream t;
  EXPECT_EQ(t.BlockSize(), DefaultTemporaryBlockSize);
  EXPECT_EQ(t.Write(mb.data(), DefaultTemporaryLimit), DefaultTemporaryLimit);
  EXPECT_TRUE(t.InMemory());
  t.Seek(10, soBeginning);
  t.Write("ab", 2);  // rewriting inside does not grow the content
  EXPECT_TRUE(t.InMemory());
  t.Seek(0, soEnd);
  EXPECT_EQ(t.Write("c", 1), 1);
  EXPECT_FALSE(t.InMemory());
  EXPECT_EQ(t.GetSize(), DefaultTemporaryLimit + 1);
  EXPECT_EQ(t.GetPosition(), DefaultTemporaryLimit + 1);
  std::vector<uint8_t> all = ReadAll(t);
  std::vector<uint8_t> expected = mb;
  expected[10] = 'a';
  expected[11] = 'b';
  expected.push_back('c');
  EXPECT_TRUE(all == expected);
  t.SetSize(3);
  EXPECT_EQ(t.GetSize(), 3);

  TORBTemporaryStream kept(true);
  kept.Write(mb.data(), DefaultTemporaryLimit);
  kept.Write(mb.data(), 1000);
  EXPECT_TRUE(kept.InMemory());
  EXPECT_EQ(kept.GetSize(), DefaultTemporaryLimit + 1000);
}

}  // namespace
}  // namespace orb
