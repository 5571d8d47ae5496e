#include "engine/disk/disk_blob_manager.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/stream_compressed_blob.h"
#include "engine/base/stream_memory.h"
#include "tests/engine/disk/disk_table_fixture.h"

namespace orb {
namespace {

using testing::DiskTable;
using testing::ErrorCodeOf;
using testing::FieldSpec;
using testing::kSession;

constexpr int32_t kMemo = 1;
constexpr int32_t kBlob = 2;

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(size);
  for (uint8_t& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

// A table with an integer key, a memo and a BLOB field, its BLOB manager
// and BLOB page index, on an encrypted file or a plain one.
class BlobTable {
 public:
  explicit BlobTable(uint16_t page_size = 4096, const std::string& password = "")
      : T(page_size, {{"id", aftInteger, 0}, {"note", aftMemo, 0}, {"data", aftBlob, 0}}, password),
        Blobs(&T.FPm, &T.FFields, T.FRecords.get()) {
    Blobs.CreateBlobPageIndex();
    T.FPm.ApplyChanges(TORBPageManager::kSystemSession);
  }
  ~BlobTable() { Blobs.CheckCachesReleased(); }
  int32_t D() const { return T.FPm.GetPageDataSize(); }

  // Adds a row whose memo holds `stored` as its stored bytes.
  TORBPageItemID AddRow(int32_t key, const std::vector<uint8_t>& stored, int32_t field = kMemo) {
    std::vector<uint8_t> r = T.Row(key);
    SetValue(r, field, stored);
    Blobs.WriteBlobs(kSession, r.data());
    TORBPageItemID id;
    EXPECT_TRUE(T.FRecords->AddRecord(kSession, r.data(), id));
    return id;
  }
  void SetValue(std::vector<uint8_t>& r, int32_t field, const std::vector<uint8_t>& stored) {
    TORBPartialTemporaryBLOBDescriptor d;
    d.NumBlocks = 3;
    d.UncompressedSize = static_cast<int64_t>(stored.size());
    d.CompressedSize = static_cast<int64_t>(stored.size());
    Blobs.SetDirectBlobInfoFromRecordBuffer(kSession, r.data(), field, d, stored.data());
  }
  std::vector<uint8_t> Read(const TORBPageItemID& id) {
    std::vector<uint8_t> r(static_cast<size_t>(T.FFields.GetMemoryRecordBufferSize()));
    TORBNavigationInfo nav;
    nav.RecordID = id;
    nav.RecordBuffer = r.data();
    T.FRecords->GetRecordBuffer(kSession, nav);
    EXPECT_EQ(grrOK, nav.GetRecordResult);
    return r;
  }
  // The stored bytes of the row's field (empty for null), cache released.
  std::vector<uint8_t> Value(const TORBPageItemID& id, int32_t field = kMemo) {
    std::vector<uint8_t> r = Read(id);
    TORBPartialTemporaryBLOBDescriptor d;
    const uint8_t* data = nullptr;
    Blobs.GetDirectBlobInfoFromRecordBuffer(kSession, r.data(), field, d, data);
    std::vector<uint8_t> out;
    if (data != nullptr) {
      out.assign(data, data + d.CompressedSize);
      EXPECT_EQ(3, d.NumBlocks);
    }
    Blobs.ClearBlobInRecordBuffer(r.data(), field, true);
    return out;
  }
  TORBPageItemID Location(const TORBPageItemID& id, int32_t field = kMemo) {
    std::vector<uint8_t> r = Read(id);
    return LoadPageItemID(r.data() + T.FFields.FieldDefs().GetDef(field)->FMemoryOffset);
  }
  void DeleteRow(const TORBPageItemID& id) {
    std::vector<uint8_t> r = Read(id);
    Blobs.DeleteBlobs(kSession, r.data());
    ASSERT_TRUE(T.FRecords->DeleteRecord(kSession, id));
  }

  DiskTable T;
  TORBDiskBlobManager Blobs;
};

struct SizeCase {
  const char* what;
  int64_t size;  // stored bytes; negative: D plus this
  bool small;
};

class BlobRoundTripTest : public ::testing::TestWithParam<std::string> {};

// Values round-trip at every size class, encrypted or not, and deleting
// them all frees every page they took once the session applies.
TEST_P(BlobRoundTripTest, SizesRoundTripAndDeletionFreesPages) {
  BlobTable b(4096, GetParam());
  const int32_t d = b.D();
  const SizeCase cases[] = {
      {"one byte", 1, true},
      {"small", 300, true},
      {"largest small", d - 25, true},
      {"smallest large", d - 24, false},
      {"two full pages", 2 * d - 32, false},
      {"list spills over a page", 2 * d - 34, false},
      {"several pages", 5 * d + 17, false},
  };
  const int32_t baseline = b.T.UsedPages();
  std::vector<TORBPageItemID> ids;
  uint32_t seed = 1;
  for (const SizeCase& c : cases) {
    ids.push_back(b.AddRow(static_cast<int32_t>(seed), Bytes(static_cast<size_t>(c.size), seed)));
    ++seed;
  }
  b.T.FPm.ApplyChanges(kSession);
  EXPECT_EQ(0u, b.Blobs.CacheCount());
  seed = 1;
  for (size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    EXPECT_EQ(Bytes(static_cast<size_t>(cases[i].size), seed++), b.Value(ids[i]));
    EXPECT_EQ(cases[i].small, b.Location(ids[i]).PageItemNo != kLargeBlobItemNo);
  }
  // Two small values share one page.
  EXPECT_EQ(b.Location(ids[0]).PageNo, b.Location(ids[1]).PageNo);
  EXPECT_GT(b.T.UsedPages(), baseline);
  for (const TORBPageItemID& id : ids) b.DeleteRow(id);
  b.T.FPm.ApplyChanges(kSession);
  EXPECT_EQ(baseline, b.T.UsedPages());
}

INSTANTIATE_TEST_SUITE_P(Encryption, BlobRoundTripTest, ::testing::Values("", "secret"));

// The page list of a value of 2D - 32 bytes starts a third page; one of
// 2D - 34 bytes starts it 2 bytes before the end of the second data page
// and chains a page for the rest through NextPageNo. Checked on the file.
TEST(DiskBlobManagerTest, LargeLayoutOnFile) {
  BlobTable b;
  const int32_t d = b.D();
  struct Case {
    int64_t size;
    int32_t list_offset;
  } cases[] = {{2 * d - 32, 0}, {2 * d - 34, d - 2}};
  std::vector<TORBPageItemID> locations;
  for (const Case& c : cases) {
    TORBDiskBLOBCache cache;
    cache.BlobData = Bytes(static_cast<size_t>(c.size), 9);
    cache.UncompressedSize = c.size;
    locations.push_back(b.Blobs.StoreValue(kSession, cache));
  }
  b.T.FPm.ApplyChanges(kSession);
  const std::vector<uint8_t> file = testing::ReadAll(b.T.File());
  for (size_t i = 0; i < locations.size(); ++i) {
    const uint8_t* first = &file[static_cast<size_t>(b.T.PageOffset(locations[i].PageNo)) + 40];
    const TORBDiskBLOBHeader h = TORBDiskBLOBHeader::LoadFrom(first);
    const TORBPageListLink link = TORBPageListLink::LoadFrom(first + 22);
    EXPECT_EQ(cases[i].size, h.CompressedSize);
    EXPECT_EQ(2, link.ItemCount);
    EXPECT_EQ(cases[i].list_offset, link.StartOffset);
    const uint8_t* list_page = &file[static_cast<size_t>(b.T.PageOffset(link.StartPageNo))];
    EXPECT_EQ(11, LoadU16LE(list_page + 8));
    std::vector<uint8_t> list(list_page + 40 + link.StartOffset, list_page + 40 + std::min(d, link.StartOffset + 8));
    if (list.size() < 8) {
      const int32_t next = LoadI32LE(list_page + 10);
      const uint8_t* spill = &file[static_cast<size_t>(b.T.PageOffset(next))] + 40;
      list.insert(list.end(), spill, spill + (8 - list.size()));
    }
    EXPECT_EQ(locations[i].PageNo, LoadI32LE(list.data()));
    TORBDiskBLOBCache back;
    ASSERT_TRUE(b.Blobs.LoadValue(kSession, locations[i], back));
    EXPECT_EQ(Bytes(static_cast<size_t>(cases[i].size), 9), back.BlobData);
  }
}

// A large value of many pages on small pages: the list spans list pages.
TEST(DiskBlobManagerTest, LongPageList) {
  BlobTable b(1024);
  const int32_t baseline = b.T.UsedPages();
  const std::vector<uint8_t> value = Bytes(static_cast<size_t>(b.D()) * 300, 4);
  const TORBPageItemID id = b.AddRow(1, value);
  b.T.FPm.ApplyChanges(kSession);
  EXPECT_EQ(value, b.Value(id));
  EXPECT_GE(b.T.UsedPages() - baseline, 302);
  b.DeleteRow(id);
  b.T.FPm.ApplyChanges(kSession);
  EXPECT_EQ(baseline, b.T.UsedPages());
}

// Empty values store nothing and stay null; a replaced value moves and its
// old pages are freed; a value in a compressed stream round-trips through
// the stream operations.
TEST(DiskBlobManagerTest, EmptyReplaceAndStreams) {
  BlobTable b;
  const int32_t baseline = b.T.UsedPages();
  const TORBPageItemID empty = b.AddRow(1, {});
  std::vector<uint8_t> r = b.Read(empty);
  EXPECT_TRUE(CheckNullFlag(kMemo, r.data()));
  EXPECT_TRUE(b.Value(empty).empty());

  const TORBPageItemID id = b.AddRow(2, Bytes(9000, 5));
  const TORBPageItemID old_location = b.Location(id);
  b.T.FPm.ApplyChanges(kSession);
  r = b.Read(id);
  b.SetValue(r, kMemo, Bytes(50, 6));
  b.Blobs.WriteBlobs(kSession, r.data());
  ASSERT_TRUE(b.T.FRecords->UpdateRecord(kSession, r.data(), id));
  EXPECT_NE(old_location, b.Location(id));
  EXPECT_EQ(Bytes(50, 6), b.Value(id));
  b.T.FPm.ApplyChanges(kSession);
  EXPECT_EQ(baseline + 2, b.T.UsedPages());  // the record page and one small BLOB page

  // Through a compressed stream.
  const std::vector<uint8_t> text = Bytes(20000, 7);
  TORBMemoryStream stored;
  TORBBLOBDescriptor desc;
  desc.BlockSize = 4096;
  desc.CompressionAlgorithm = acaZLIB;
  TORBCompressedBLOBStream blob(stored, desc, true, false);
  blob.Write(text.data(), static_cast<int64_t>(text.size()));
  r = b.T.Row(3);
  b.Blobs.CopyBlobFromStreamToRecordBuffer(r.data(), kBlob, blob, stored);
  EXPECT_FALSE(CheckNullFlag(kBlob, r.data()));
  b.Blobs.WriteBlobs(kSession, r.data());
  TORBPageItemID sid;
  ASSERT_TRUE(b.T.FRecords->AddRecord(kSession, r.data(), sid));
  r = b.Read(sid);
  TORBMemoryStream out;
  TORBBLOBDescriptor got;
  got.BlockSize = 4096;
  got.CompressionAlgorithm = acaZLIB;
  b.Blobs.CopyBlobFromRecordBufferToStream(kSession, r.data(), kBlob, got, out);
  b.Blobs.ClearBlobInRecordBuffer(r.data(), kBlob, false);
  EXPECT_EQ(20000, got.UncompressedSize);
  EXPECT_GT(got.NumBlocks, 0);
  TORBCompressedBLOBStream reread(out, got, false, false);
  std::vector<uint8_t> back(text.size());
  EXPECT_EQ(static_cast<int64_t>(text.size()), reread.Read(back.data(), static_cast<int64_t>(back.size())));
  EXPECT_EQ(text, back);
  // A null field copies nothing.
  TORBBLOBDescriptor none;
  TORBMemoryStream nothing;
  b.Blobs.CopyBlobFromRecordBufferToStream(kSession, r.data(), kMemo, none, nothing);
  EXPECT_EQ(0, none.UncompressedSize);
  EXPECT_EQ(0, nothing.GetSize());
}

// A modified cache survives a clear without force; leftover caches are
// reported; a stale reference in a buffer is not followed.
TEST(DiskBlobManagerTest, CacheLifetime) {
  BlobTable b;
  std::vector<uint8_t> r = b.T.Row(1);
  b.SetValue(r, kMemo, Bytes(10, 1));
  b.Blobs.ClearBlobInRecordBuffer(r.data(), kMemo, false);
  EXPECT_EQ(1u, b.Blobs.CacheCount());
  EXPECT_EQ(20150, ErrorCodeOf([&] { b.Blobs.CheckCachesReleased(); }));
  std::vector<uint8_t> copy = r;
  b.Blobs.ClearBlobInRecordBuffer(r.data(), kMemo, true);
  EXPECT_EQ(0u, b.Blobs.CacheCount());
  EXPECT_EQ(nullptr, b.Blobs.AttachedCache(copy.data(), kMemo));
}

// Item 255 is read as a small BLOB with that id or as a large BLOB.
TEST(DiskBlobManagerTest, Item255EitherKind) {
  BlobTable b(8192);
  TORBDiskBLOBCache one;
  one.BlobData = {42};
  one.UncompressedSize = 1;
  TORBPageItemID small{};
  for (int i = 0; i <= 255; ++i) {
    one.BlobData[0] = static_cast<uint8_t>(i);
    small = b.Blobs.StoreValue(kSession, one);
  }
  ASSERT_EQ(255, small.PageItemNo);
  TORBDiskBLOBCache large;
  large.BlobData = Bytes(3 * 8152, 3);
  large.UncompressedSize = 1;
  const TORBPageItemID big = b.Blobs.StoreValue(kSession, large);
  TORBDiskBLOBCache back;
  ASSERT_TRUE(b.Blobs.LoadValue(kSession, small, back));
  EXPECT_EQ(std::vector<uint8_t>{255}, back.BlobData);
  ASSERT_TRUE(b.Blobs.LoadValue(kSession, {big.PageNo, 0xFF}, back));
  EXPECT_EQ(large.BlobData, back.BlobData);
  b.Blobs.DeleteValue(kSession, {big.PageNo, 0xFF});
  b.Blobs.DeleteValue(kSession, small);
  EXPECT_FALSE(b.Blobs.LoadValue(kSession, small, back));
  b.T.FPm.ApplyChanges(kSession);
}

// Damaged bytes of stored small and large BLOBs raise their codes; no read
// leaves its page and no allocation follows a damaged size.
TEST(DiskBlobManagerTest, DamagedBlobPages) {
  struct Case {
    const char* what;
    bool large;
    int32_t data_offset;  // in the first page's data
    std::vector<uint8_t> bytes;
    int32_t code;
  } cases[] = {
      {"entry count", false, 0, {0xFF, 0xFF}, kErrSmallBlobPageDamaged},
      {"small stored size", false, 2 + 6, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, kErrSmallBlobPageDamaged},
      {"small size negative", false, 2 + 6, {0, 0, 0, 0, 0, 0, 0, 0x80}, kErrSmallBlobPageDamaged},
      {"large stored size huge", true, 6, {0, 0, 0, 0, 0, 0, 0, 0x40}, kErrLargeBlobDamaged},
      {"large stored size negative", true, 6, {0, 0, 0, 0, 0, 0, 0, 0x80}, kErrLargeBlobDamaged},
      {"item count", true, 22 + 6, {0xFF, 0xFF, 0xFF, 0x7F}, kErrLargeBlobDamaged},
      {"list page", true, 22, {0xFF, 0xFF, 0, 0}, kErrLargeBlobDamaged},
      {"list page zero", true, 22, {0, 0, 0, 0}, kErrLargeBlobDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlobTable b;
    const TORBPageItemID id = b.AddRow(1, Bytes(c.large ? 3 * 4056 : 100, 2));
    b.AddRow(2, Bytes(c.large ? 10 : 100, 3));
    const TORBPageItemID location = b.Location(id);
    b.T.FPm.ApplyChanges(kSession);
    b.T.FPm.CloseDatabase();
    std::vector<uint8_t> bytes = testing::ReadAll(b.T.File());
    const size_t at = static_cast<size_t>(b.T.PageOffset(location.PageNo)) + 40 + static_cast<size_t>(c.data_offset);
    for (size_t i = 0; i < c.bytes.size(); ++i) bytes[at + i] = c.bytes[i];
    testing::WriteAll(b.T.File(), bytes);
    bool ro = false, repair = false, multi = false;
    b.T.FPm.OpenDatabase(b.T.FDir.WFile("t.orb"), {}, ro, repair, false, multi);
    TORBDiskBLOBCache cache;
    EXPECT_EQ(c.code, ErrorCodeOf([&] { b.Blobs.LoadValue(kSession, location, cache); }));
    EXPECT_EQ(c.code, ErrorCodeOf([&] { b.Blobs.DeleteValue(kSession, location); }));
    b.T.FPm.CancelChanges(kSession);
  }
}

// Emptying the table deletes every stored value; churn keeps the file from
// growing; the metadata part is the index root.
TEST(DiskBlobManagerTest, EmptyChurnAndMetadata) {
  BlobTable b;
  const int32_t baseline = b.T.UsedPages();
  for (int32_t k = 0; k < 30; ++k) b.AddRow(k, Bytes(static_cast<size_t>(k * 700), static_cast<uint32_t>(k)));
  b.T.FPm.ApplyChanges(kSession);
  b.Blobs.Empty(kSession);
  b.T.FRecords->Empty(kSession);
  b.T.FPm.ApplyChanges(kSession);
  EXPECT_EQ(baseline, b.T.UsedPages());

  int32_t pages_after_first = 0;
  std::vector<TORBPageItemID> ids;
  for (int round = 0; round < 15; ++round) {
    for (int32_t k = 0; k < 20; ++k)
      ids.push_back(b.AddRow(k, Bytes(static_cast<size_t>((k * 977 + round * 131) % 12000), static_cast<uint32_t>(k))));
    b.T.FPm.ApplyChanges(kSession);
    for (size_t i = 0; i < ids.size(); i += 2) b.DeleteRow(ids[i]);
    std::vector<TORBPageItemID> kept;
    for (size_t i = 1; i < ids.size(); i += 2) kept.push_back(ids[i]);
    ids = kept;
    if (ids.size() > 20) {
      for (const TORBPageItemID& id : ids) b.DeleteRow(id);
      ids.clear();
    }
    b.T.FPm.ApplyChanges(kSession);
    if (round == 0) pages_after_first = b.T.FPm.GetPageCount();
  }
  EXPECT_LE(b.T.FPm.GetPageCount(), pages_after_first + 40);

  TORBMemoryStream meta;
  b.Blobs.SaveMetadata(meta);
  meta.SetPosition(0);
  TORBDiskBlobManager reopened(&b.T.FPm, &b.T.FFields, b.T.FRecords.get());
  reopened.LoadMetadata(meta);
  EXPECT_EQ(b.Blobs.BlobPageIndex().RootPageNo(), reopened.BlobPageIndex().RootPageNo());
  EXPECT_EQ(kErrBlobMetadataRead, ErrorCodeOf([&] { reopened.LoadMetadata(meta); }));
}

}  // namespace
}  // namespace orb
