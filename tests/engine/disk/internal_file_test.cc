#include "engine/disk/internal_file.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "engine/disk/database_creator.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/table/page_header.h"
#include "engine/platform/byte_order.h"
#include "tests/support/disk_scratch.h"
#include "tests/engine/table/fake_page_manager.h"

namespace orb {
namespace {

using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::ErrorMessageOf;
using testing::FakePageManager;

constexpr int32_t kSys = TORBPageManager::kSystemSession;
constexpr uint16_t kType = kPageTypeTableMetaData;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

// Transacted files over an in-memory page store: 128-byte pages, D = 88.
class TransactedFileTest : public ::testing::Test {
 protected:
  static constexpr int32_t D = 88;

  TORBInternalDBTransactedAccessFile NewFile(int32_t session = kSys) {
    TORBInternalDBTransactedAccessFile file(&FPm, kType);
    file.CreateFile(session);
    return file;
  }
  // Page numbers of the chain from `first`, following stored links.
  std::vector<int32_t> StoredChain(int32_t first) {
    std::vector<int32_t> chain;
    for (int32_t no = first; no != -1 && chain.size() < 100; no = ReadPageHeaderNextPageNo(FPm.stored.at(no).data())) {
      chain.push_back(no);
    }
    return chain;
  }
  uint8_t* StoredData(int32_t page_no) { return FPm.stored.at(page_no).data() + 40; }
  // Evicts every idle cached page, so that the next reads see the store.
  void DropCache() {
    FPm.SetCacheCapacity(0);
    (void)FPm.GetPageGuard(kSys, FPm.stored.begin()->first, kPageTypeAny);
    FPm.SetCacheCapacity(1000);
  }

  FakePageManager FPm;
};

TEST_F(TransactedFileTest, PageCountAtTheFirstPageBoundary) {
  struct Case {
    int32_t size;
    size_t pages;
  };
  for (const Case c : {Case{0, 1}, Case{D - 10, 1}, Case{D - 9, 2}, Case{2 * D - 10, 2}, Case{2 * D - 9, 3}}) {
    SCOPED_TRACE(c.size);
    TORBInternalDBTransactedAccessFile file = NewFile();
    const std::vector<uint8_t> data = Pattern(c.size, 3);
    file.WriteFile(kSys, data.data(), c.size);
    FPm.ApplyChanges(kSys);
    EXPECT_EQ(StoredChain(file.GetStartPageNo()).size(), c.pages);
    EXPECT_EQ(file.GetPageCountForDataSize(c.size), static_cast<int32_t>(c.pages));
    EXPECT_EQ(file.GetSize(kSys), c.size);
    std::vector<uint8_t> back;
    file.ReadAll(kSys, back);
    EXPECT_EQ(back, data);
  }
  TORBInternalDBTransactedAccessFile file(&FPm, kType);
  int32_t index = 0;
  int32_t offset = 0;
  file.GetPageNoAndOffsetForPosition(D - 10, index, offset);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(offset, 0);
  file.GetPageNoAndOffsetForPosition(D - 11, index, offset);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(offset, D - 1);
}

TEST_F(TransactedFileTest, StoredLayoutAcrossPages) {
  TORBInternalDBTransactedAccessFile file = NewFile();
  const std::vector<uint8_t> data = Pattern(3 * D, 1);
  file.WriteFile(kSys, data.data(), 3 * D);
  FPm.ApplyChanges(kSys);
  const std::vector<int32_t> chain = StoredChain(file.GetStartPageNo());
  ASSERT_EQ(chain.size(), 4u);
  const uint8_t* first = StoredData(chain[0]);
  EXPECT_EQ(first[0], 10);
  EXPECT_EQ(LoadI32LE(first + 1), 3 * D);
  EXPECT_EQ(LoadI32LE(first + 5), 3 * D);
  EXPECT_EQ(first[9], acaNone);
  EXPECT_EQ(first[10], data[0]);
  EXPECT_EQ(StoredData(chain[1])[0], data[D - 10]);
  EXPECT_EQ(StoredData(chain[3])[9], data[3 * D - 1]);
  for (int32_t no : chain) EXPECT_EQ(ReadPageHeaderType(FPm.stored.at(no).data()), kType);
  EXPECT_EQ(file.GoToPage(kSys, 3), chain[3]);
  EXPECT_EQ(ErrorCodeOf([&] { file.GoToPage(kSys, 4); }), 20300);

  // A partial read from the start.
  std::vector<uint8_t> part(D);
  file.ReadFile(kSys, part.data(), D);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin()));
  EXPECT_EQ(ErrorMessageOf([&] { file.ReadFile(kSys, part.data(), 3 * D + 1); }),
            "Cannot read internal file. FileSize=264. ReadSize=265 - Native error: 30387");
}

TEST_F(TransactedFileTest, ShrinkAndGrowKeepExactContents) {
  TORBInternalDBTransactedAccessFile file = NewFile();
  const std::vector<uint8_t> big = Pattern(2 * D + 20, 9);  // three pages
  file.WriteFile(kSys, big.data(), static_cast<int32_t>(big.size()));
  FPm.ApplyChanges(kSys);
  const std::vector<int32_t> three = StoredChain(file.GetStartPageNo());
  ASSERT_EQ(three.size(), 3u);

  const std::vector<uint8_t> small = Pattern(30, 77);
  file.WriteFile(kSys, small.data(), 30);
  FPm.ApplyChanges(kSys);
  std::vector<uint8_t> back;
  file.ReadAll(kSys, back);
  EXPECT_EQ(back, small);
  // The chain is cut after the one page needed; the rest is freed.
  EXPECT_EQ(StoredChain(file.GetStartPageNo()), std::vector<int32_t>{three[0]});
  EXPECT_EQ(FPm.removes, (std::vector<int32_t>{three[1], three[2]}));

  const std::vector<uint8_t> again = Pattern(D * 2, 5);
  file.WriteFile(kSys, again.data(), static_cast<int32_t>(again.size()));
  FPm.ApplyChanges(kSys);
  file.ReadAll(kSys, back);
  EXPECT_EQ(back, again);
  EXPECT_EQ(StoredChain(file.GetStartPageNo()).size(), 3u);
}

TEST_F(TransactedFileTest, ChangesArePrivateUntilApplied) {
  TORBInternalDBTransactedAccessFile file = NewFile(kSys);
  const std::vector<uint8_t> first = Pattern(100, 1);
  file.WriteFile(kSys, first.data(), 100);
  FPm.ApplyChanges(kSys);

  const std::vector<uint8_t> second = Pattern(200, 2);
  file.WriteFile(kSys, second.data(), 200);
  std::vector<uint8_t> back;
  file.ReadAll(0, back);  // another session sees the stored contents
  EXPECT_EQ(back, first);
  file.ReadAll(kSys, back);
  EXPECT_EQ(back, second);

  FPm.CancelChanges(kSys);
  file.ReadAll(kSys, back);
  EXPECT_EQ(back, first);
  file.WriteFile(kSys, second.data(), 200);
  FPm.ApplyChanges(kSys);
  file.ReadAll(0, back);
  EXPECT_EQ(back, second);
}

TEST_F(TransactedFileTest, CompressedContents) {
  std::vector<uint8_t> text;
  for (int i = 0; i < 400; ++i) {
    const std::string line = "FField" + std::to_string(i % 17) + " INTEGER NOT NULL;\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  for (TORBCompressionAlgorithm algorithm : {acaZLIB, acaBZIP, acaPPM}) {
    SCOPED_TRACE(static_cast<int>(algorithm));
    TORBInternalDBTransactedAccessFile file = NewFile();
    file.WriteFile(kSys, text.data(), static_cast<int32_t>(text.size()), algorithm, 6);
    FPm.ApplyChanges(kSys);
    int32_t stored = 0;
    int32_t size = 0;
    TORBCompressionAlgorithm found = acaNone;
    bool changed = true;
    file.GetFileSize(kSys, stored, size, found, changed, true);
    EXPECT_EQ(found, algorithm);
    EXPECT_EQ(size, static_cast<int32_t>(text.size()));
    EXPECT_LT(stored, size / 4);
    EXPECT_FALSE(changed);
    std::vector<uint8_t> back;
    file.ReadAll(kSys, back);
    EXPECT_EQ(back, text);
    std::vector<uint8_t> head(50);
    file.ReadFile(kSys, head.data(), 50);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), text.begin()));
  }
  // Nothing to compress: stored plain.
  TORBInternalDBTransactedAccessFile empty = NewFile();
  empty.WriteFile(kSys, nullptr, 0, acaZLIB, 6);
  int32_t stored = -1;
  int32_t size = -1;
  TORBCompressionAlgorithm found = acaPPM;
  bool changed = false;
  empty.GetFileSize(kSys, stored, size, found, changed, true);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(found, acaNone);
}

TEST_F(TransactedFileTest, MisuseOfTheObject) {
  TORBInternalDBTransactedAccessFile closed(&FPm, kType);
  uint8_t byte = 0;
  EXPECT_EQ(ErrorMessageOf([&] { closed.ReadFile(kSys, &byte, 1); }),
            "Cannot perform this operation (ReadFile) on closed internal file - Native error: 30389");
  EXPECT_EQ(ErrorMessageOf([&] { closed.WriteFile(kSys, &byte, 1); }),
            "Cannot perform this operation (WriteFile) on closed internal file - Native error: 30389");
  EXPECT_EQ(ErrorMessageOf([&] { closed.GetSize(kSys); }),
            "Cannot perform this operation (GetSize) on closed internal file - Native error: 30389");
  EXPECT_EQ(ErrorMessageOf([&] { closed.SetFileSize(kSys, 0, 0, acaNone); }),
            "Cannot perform this operation (SetSize) on closed internal file - Native error: 30389");
  EXPECT_EQ(ErrorCodeOf([&] { closed.InitFileHeader(kSys); }), 20301);
  closed.OpenFile(-1);
  EXPECT_FALSE(closed.IsOpen());

  TORBInternalDBTransactedAccessFile file = NewFile();
  const int32_t first = file.GetStartPageNo();
  EXPECT_EQ(ErrorMessageOf([&] { file.CreateFile(kSys); }),
            "Cannot create internal file. File already exists. StartPageNo=" + std::to_string(first) +
                " - Native error: 30383");
}

TEST_F(TransactedFileTest, DeleteFileRemovesTheWholeChain) {
  TORBInternalDBTransactedAccessFile file = NewFile();
  const std::vector<uint8_t> data = Pattern(3 * D, 4);
  file.WriteFile(kSys, data.data(), 3 * D);
  FPm.ApplyChanges(kSys);
  const std::vector<int32_t> chain = StoredChain(file.GetStartPageNo());
  file.DeleteFile(kSys);
  EXPECT_FALSE(file.IsOpen());
  FPm.ApplyChanges(kSys);
  EXPECT_EQ(FPm.removes, chain);
}

TEST_F(TransactedFileTest, DamagedChainsAndHeadersRaise) {
  TORBInternalDBTransactedAccessFile file = NewFile();
  const std::vector<uint8_t> data = Pattern(3 * D, 4);
  file.WriteFile(kSys, data.data(), 3 * D);
  FPm.ApplyChanges(kSys);
  const std::vector<int32_t> chain = StoredChain(file.GetStartPageNo());
  ASSERT_EQ(chain.size(), 4u);
  const std::vector<std::vector<uint8_t>> saved = {FPm.stored[chain[0]], FPm.stored[chain[2]]};

  auto reopen = [&] {
    FPm.CancelChanges(kSys);
    DropCache();
  };
  std::vector<uint8_t> back;

  // A loop: the third page links back to the second.
  WritePageHeaderNextPageNo(FPm.stored[chain[2]].data(), chain[1]);
  reopen();
  EXPECT_EQ(ErrorCodeOf([&] { file.ReadAll(kSys, back); }), 30388);
  std::vector<uint8_t> buffer(3 * D);
  EXPECT_EQ(ErrorCodeOf([&] { file.ReadFile(kSys, buffer.data(), 3 * D); }), 30388);
  EXPECT_EQ(ErrorCodeOf([&] { file.GoToPage(kSys, 3); }), 20300);
  EXPECT_EQ(ErrorCodeOf([&] { file.WriteFile(kSys, data.data(), 3 * D); }), 20300);
  TORBInternalDBTransactedAccessFile doomed(&FPm, kType);
  doomed.OpenFile(chain[0]);
  doomed.DeleteFile(kSys);  // ends at the loop
  FPm.CancelChanges(kSys);
  FPm.stored[chain[2]] = saved[1];

  // A huge stored size over a short chain.
  uint8_t* header = StoredData(chain[0]);
  StoreI32LE(header + 1, INT32_MAX);
  StoreI32LE(header + 5, INT32_MAX);
  reopen();
  EXPECT_EQ(ErrorCodeOf([&] { file.ReadAll(kSys, back); }), 30388);

  // Sizes or algorithms no write produces.
  struct Case {
    int32_t stored;
    int32_t size;
    uint8_t algorithm;
    uint8_t length;
  };
  for (const Case c : {Case{-1, -1, acaNone, 10}, Case{10, 20, acaNone, 10}, Case{10, -5, acaZLIB, 10},
                       Case{10, 10, 4, 10}, Case{10, 10, acaNone, 9}}) {
    FPm.stored[chain[0]] = saved[0];
    header = StoredData(chain[0]);
    header[0] = c.length;
    StoreI32LE(header + 1, c.stored);
    StoreI32LE(header + 5, c.size);
    header[9] = c.algorithm;
    reopen();
    EXPECT_EQ(ErrorCodeOf([&] { file.GetSize(kSys); }), 30390);
    EXPECT_EQ(ErrorCodeOf([&] { file.ReadAll(kSys, back); }), 30390);
  }

  // Compressed bytes that do not decode.
  FPm.stored[chain[0]] = saved[0];
  header = StoredData(chain[0]);
  StoreI32LE(header + 1, 40);
  StoreI32LE(header + 5, 1000);
  header[9] = acaZLIB;
  reopen();
  EXPECT_EQ(ErrorCodeOf([&] { file.ReadAll(kSys, back); }), 20189);
}

TEST_F(TransactedFileTest, InitFileHeaderResetsADamagedFirstPage) {
  TORBInternalDBTransactedAccessFile file = NewFile();
  const std::vector<uint8_t> data = Pattern(50, 4);
  file.WriteFile(kSys, data.data(), 50);
  FPm.ApplyChanges(kSys);
  const int32_t first = file.GetStartPageNo();
  FPm.StorePage(first, kPageTypeEmpty, 0xEE);  // wrong type, garbage header
  DropCache();
  EXPECT_EQ(ErrorCodeOf([&] { file.GetSize(kSys); }), 20153);

  file.InitFileHeader(kSys);
  EXPECT_FALSE(FPm.GetIgnoreCRCErrors());
  FPm.ApplyChanges(kSys);
  EXPECT_EQ(file.GetSize(kSys), 0);
  EXPECT_EQ(ReadPageHeaderType(FPm.stored.at(first).data()), kType);
  file.WriteFile(kSys, data.data(), 50);
  std::vector<uint8_t> back;
  file.ReadAll(kSys, back);
  EXPECT_EQ(back, data);
}

// Direct-access files live in a real database file.
class DirectFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FPm.CreateAndOpenDatabase(FDir.WFile("d.orb"), TORBPassword{}, 256, 8);
    d_ = FPm.GetPageDataSize();
  }

  DiskScratch FDir;
  TORBDiskPageManager FPm;
  int32_t d_ = 0;
};

TEST_F(DirectFileTest, PositionsMapAcrossThePageChain) {
  TORBInternalDBDirectAccessFile created(&FPm, kPageTypeTableLocks);
  created.CreateFile(3 * d_);
  FPm.ApplyChanges(kSys);
  EXPECT_EQ(created.GetFilePages().size(), 4u);

  TORBInternalDBDirectAccessFile file(&FPm, kPageTypeTableLocks);
  file.OpenFile(created.GetStartPageNo());
  EXPECT_EQ(file.GetFileSize(), 3 * d_);
  EXPECT_EQ(file.GetSize(), 3 * d_);
  EXPECT_EQ(file.GetFilePages(), created.GetFilePages());

  int32_t page_no = 0;
  int32_t offset = 0;
  file.InternalSeek(d_ - 10, page_no, offset);
  EXPECT_EQ(page_no, file.GetFilePages()[1]);
  EXPECT_EQ(offset, 40);
  file.InternalSeek(d_ - 11, page_no, offset);
  EXPECT_EQ(page_no, file.GetFilePages()[0]);
  EXPECT_EQ(offset, 255);
  file.InternalSeek(0, page_no, offset);
  EXPECT_EQ(offset, 50);

  // Write across two page boundaries and read back, also piecewise.
  const std::vector<uint8_t> data = Pattern(d_ + 100, 8);
  file.WriteBuffer(data.data(), static_cast<int32_t>(data.size()), d_ - 50);
  std::vector<uint8_t> back(data.size());
  file.ReadBuffer(back.data(), static_cast<int32_t>(back.size()), d_ - 50);
  EXPECT_EQ(back, data);
  uint8_t byte = 0;
  file.ReadBuffer(&byte, 1, d_ - 10);
  EXPECT_EQ(byte, data[40]);
  // Written straight to the file: page offset 40 of the second page.
  const std::vector<uint8_t> raw = testing::ReadAll(FDir.File("d.orb"));
  EXPECT_EQ(raw[FPm.GetPageOffset(file.GetFilePages()[1]) + 40], data[40]);

  EXPECT_EQ(ErrorMessageOf([&] { file.WriteBuffer(data.data(), 2, 3 * d_ - 1); }),
            "Cannot write after end of file. FileSize=" + std::to_string(3 * d_) +
                ". Position=" + std::to_string(3 * d_ - 1) + ", Count=2 - Native error: 20158");
  EXPECT_EQ(ErrorCodeOf([&] { file.InternalSeek(3 * d_ + 1, page_no, offset); }), 20159);
  EXPECT_EQ(ErrorCodeOf([&] { file.ReadBuffer(back.data(), 2, 3 * d_ - 1); }), 20159);

  TORBInternalDBDirectAccessFile closed(&FPm, kPageTypeTableLocks);
  EXPECT_EQ(ErrorMessageOf([&] { closed.ReadBuffer(&byte, 1, 0); }),
            "Cannot perform this operation (DirectReadBuffer) on closed internal file - Native error: 20156");
  EXPECT_EQ(ErrorCodeOf([&] { file.CreateFile(5); }), 20157);
  TORBInternalDBDirectAccessFile wrong(&FPm, kPageTypeActiveSessionList);
  EXPECT_EQ(ErrorCodeOf([&] { wrong.OpenFile(created.GetStartPageNo()); }), 20155);
  EXPECT_FALSE(wrong.IsOpen());
}

TEST_F(DirectFileTest, LoneFirstPageIsUsableWhole) {
  TORBInternalDBDirectAccessFile created(&FPm, kPageTypeActiveSessionList);
  created.CreateFile(20);
  FPm.ApplyChanges(kSys);
  TORBInternalDBDirectAccessFile file(&FPm, kPageTypeActiveSessionList);
  file.OpenFile(created.GetStartPageNo());
  EXPECT_EQ(file.GetSize(), 20);
  EXPECT_EQ(file.GetFileSize(), d_ - 10);
  int32_t page_no = 0;
  int32_t offset = 0;
  EXPECT_EQ(ErrorCodeOf([&] { file.InternalSeek(d_ - 10, page_no, offset); }), 20159);
}

TEST_F(DirectFileTest, DamagedChainRaisesOnOpen) {
  TORBInternalDBDirectAccessFile created(&FPm, kPageTypeTableLocks);
  created.CreateFile(4 * d_);
  FPm.ApplyChanges(kSys);
  const std::vector<int32_t> pages = created.GetFilePages();
  // The fourth page links back to the second.
  uint8_t link[4];
  StoreI32LE(link, pages[1]);
  FPm.WritePageRegion(link, pages[3], TORBDiskPageHeader::kOffNextPageNo, 4);
  TORBInternalDBDirectAccessFile file(&FPm, kPageTypeTableLocks);
  EXPECT_EQ(ErrorCodeOf([&] { file.OpenFile(pages[0]); }), 20154);
  EXPECT_FALSE(file.IsOpen());
  file.DeleteFile(pages[0]);  // stops at the loop

  // A negative stored size.
  StoreI32LE(link, -7);
  FPm.WritePageRegion(link, pages[0], 41, 4);
  EXPECT_EQ(ErrorCodeOf([&] { file.OpenFile(pages[0]); }), 20154);
  FPm.CancelChanges(kSys);
}

TEST(DirectFileLockTest, ByteLocksAreSeenByOtherOpenFiles) {
  DiskScratch dir;
  TORBDiskDatabaseOptions options;
  options.PageSize = 128;
  CreateDiskDatabase(dir.WFile("l.orb"), options);
  int32_t first = -1;
  {
    TORBDiskPageManager creator;
    bool ro = false, repair = false, multi = false;
    creator.OpenDatabase(dir.WFile("l.orb"), TORBPassword{}, ro, repair, false, multi);
    TORBInternalDBDirectAccessFile file(&creator, kPageTypeTableLocks);
    file.CreateFile(300);
    first = file.GetStartPageNo();
    creator.ApplyChanges(kSys);
  }
  TORBDiskPageManager a;
  TORBDiskPageManager b;
  bool ro = false, repair = false, multi = true;
  a.OpenDatabase(dir.WFile("l.orb"), TORBPassword{}, ro, repair, false, multi);
  ASSERT_TRUE(multi);
  b.OpenDatabase(dir.WFile("l.orb"), TORBPassword{}, ro, repair, false, multi);
  TORBInternalDBDirectAccessFile fa(&a, kPageTypeTableLocks);
  TORBInternalDBDirectAccessFile fb(&b, kPageTypeTableLocks);
  fa.OpenFile(first);
  fb.OpenFile(first);
  const int32_t d = a.GetPageDataSize();

  ASSERT_TRUE(fa.LockByte(d - 10));  // first byte of the second page's data
  EXPECT_TRUE(fb.IsByteLocked(d - 10));
  EXPECT_FALSE(fb.LockByte(d - 10));
  EXPECT_FALSE(fb.IsByteLocked(d - 11));
  EXPECT_TRUE(fb.IsRegionLocked(d - 20, 11));
  EXPECT_FALSE(fb.IsRegionLocked(d - 20, 10));
  EXPECT_FALSE(fb.IsRegionLocked(d - 10, 0));
  ASSERT_TRUE(fa.UnlockByte(d - 10));
  EXPECT_FALSE(fb.IsRegionLocked(0, 300));

  ASSERT_TRUE(fa.LockFile());
  EXPECT_FALSE(fb.LockFile());
  // The locked first byte does not keep others from reading the chain.
  TORBInternalDBDirectAccessFile fc(&b, kPageTypeTableLocks);
  fc.OpenFile(first);
  EXPECT_EQ(fc.GetFileSize(), 300);
  ASSERT_TRUE(fa.UnlockFile());
  EXPECT_TRUE(fb.LockFile());
  EXPECT_TRUE(fb.UnlockFile());
}

}  // namespace
}  // namespace orb
