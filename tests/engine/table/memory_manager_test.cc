#include "engine/table/memory_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/disk_scratch.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/memory_info.h"

namespace orb {
namespace {

using testing::ErrorCodeOf;
using testing::ErrorMessageOf;

class MemoryManagerTest : public ::testing::Test {
 protected:
  ~MemoryManagerTest() override { SetAvailableMemoryProvider({}); }
  TORBMemoryManager mm;
};

TEST_F(MemoryManagerTest, BlockIsFramedByGuardsAndCounted) {
  uint8_t* p = mm.GetMem(10);
  const uint8_t* block = p - 9;
  EXPECT_EQ(LoadU32LE(block), 10u);
  EXPECT_EQ(block[4], 0);
  EXPECT_EQ(LoadU32LE(block + 5), 0xACCACCACu);
  EXPECT_EQ(LoadU32LE(p + 10), 0xACCEACCEu);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 10u);
  EXPECT_EQ(mm.TotalMemAllocated(), 10);

  uint8_t* z = mm.AllocMem(300);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(z[i], 0) << i;
  EXPECT_EQ(mm.TotalMemAllocated(), 310);

  mm.FreeAndNillMem(p);
  EXPECT_EQ(p, nullptr);
  mm.FreeAndNillMem(z);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
  mm.FreeAndNillMem(z);  // null is ignored
}

TEST_F(MemoryManagerTest, RejectsZeroSizeAndEnforcesLimit) {
  EXPECT_EQ(ErrorMessageOf([&] { mm.GetMem(0); }), "Cannot allocate 0 bytes - Native error: 30286");
  mm.SetMaxMemorySize(100);
  uint8_t* a = mm.GetMem(60);
  EXPECT_EQ(ErrorMessageOf([&] { mm.AllocMem(41); }), "Memory limit exceeded (Limit = 100 bytes) - Native error: 30004");
  EXPECT_EQ(mm.TotalMemAllocated(), 60);
  uint8_t* b = mm.GetMem(40);  // exactly at the limit
  mm.FreeAndNillMem(a);
  mm.FreeAndNillMem(b);
  mm.SetMaxMemorySize(0);
  uint8_t* c = mm.GetMem(1000);
  mm.FreeAndNillMem(c);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST_F(MemoryManagerTest, OverrunIsReportedAfterTheBlockIsFreed) {
  uint8_t* p = mm.GetMem(16);
  p[16] ^= 0xFF;  // one byte past the end
  EXPECT_EQ(ErrorMessageOf([&] { mm.FreeAndNillMem(p); }), "Memory overrun detected - Native error: 30137");
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST_F(MemoryManagerTest, ForeignOrDamagedPointersAreRejected) {
  uint8_t* p = mm.GetMem(8);
  uint8_t saved = p[-1];
  p[-1] ^= 0x55;  // inside the prefix guard
  uint8_t* q = p;
  EXPECT_EQ(ErrorMessageOf([&] { mm.FreeAndNillMem(q); }), "Invalid pointer - Native error: 30001");
  EXPECT_EQ(q, p);  // left alone
  EXPECT_EQ(ErrorCodeOf([&] { mm.GetMemoryBufferSize(p); }), 30005);
  EXPECT_EQ(ErrorCodeOf([&] { mm.GetMemoryBufferSize(nullptr); }), 30005);
  p[-1] = saved;
  EXPECT_EQ(mm.TotalMemAllocated(), 8);
  mm.FreeAndNillMem(p);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);

  uint8_t plain[32] = {};
  uint8_t* foreign = plain + 16;
  EXPECT_EQ(ErrorCodeOf([&] { mm.FreeAndNillMem(foreign); }), 30001);
}

TEST_F(MemoryManagerTest, ReallocKeepsContentsAndClearsTail) {
  uint8_t* p = mm.GetMem(4);
  std::memcpy(p, "abcd", 4);
  mm.ReallocMem(p, 10, true);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 10u);
  EXPECT_EQ(std::memcmp(p, "abcd\0\0\0\0\0\0", 10), 0);
  mm.ReallocMem(p, 2, false);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 2u);
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  EXPECT_EQ(mm.TotalMemAllocated(), 2);
  mm.FreeAndNillMem(p);

  uint8_t* n = nullptr;
  mm.ReallocMem(n, 5, true);
  EXPECT_EQ(std::memcmp(n, "\0\0\0\0\0", 5), 0);
  mm.FreeAndNillMem(n);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST_F(MemoryManagerTest, FreeMemoryIsCappedByTheLimit) {
  SetAvailableMemoryProvider([] { return int64_t{1} << 30; });
  EXPECT_EQ(mm.GetFreeMemorySize(), int64_t{1} << 30);
  mm.SetMaxMemorySize(1 << 20);
  uint8_t* p = mm.GetMem(1000);
  EXPECT_EQ(mm.GetFreeMemorySize(), (1 << 20) - 1000);
  SetAvailableMemoryProvider([] { return int64_t{5000}; });
  EXPECT_EQ(mm.GetFreeMemorySize(), 5000);
  mm.FreeAndNillMem(p);
}

// Page-sized blocks come from the block pool (heap blocks in builds with
// AddressSanitizer): framed and counted like heap blocks, reused once
// freed, checked for overruns and double frees; emptied arenas stay for
// reuse.
TEST_F(MemoryManagerTest, PageSizedBlocksAreFramedReusedAndTheirArenasReleased) {
  const bool pooled = [&] {
    uint8_t* p = mm.GetMem(4096);
    const bool from_pool = p[-9 + 4] == 1;
    mm.FreeAndNillMem(p);
    return from_pool;
  }();
  std::vector<uint8_t*> blocks;
  for (int i = 0; i < 1200; ++i) {  // more than two arenas of 4 KB blocks
    uint8_t* p = mm.AllocMem(4096);
    for (int k : {0, 4095}) ASSERT_EQ(p[k], 0);
    const uint8_t* block = p - 9;
    ASSERT_EQ(LoadU32LE(block), 4096u);
    ASSERT_EQ(LoadU32LE(block + 5), 0xACCACCACu);
    ASSERT_EQ(LoadU32LE(p + 4096), 0xACCEACCEu);
    std::memset(p, 0xA5, 4096);
    blocks.push_back(p);
  }
  EXPECT_EQ(mm.TotalMemAllocated(), 1200 * 4096);
  if (pooled) {
    EXPECT_GE(mm.PoolArenaCount(), 3u);
  }
  uint8_t* freed = blocks[700];
  mm.FreeAndNillMem(blocks[700]);
  uint8_t* again = mm.GetMem(4100);  // same size class
  if (pooled) {
    EXPECT_EQ(again, freed);
  }
  blocks[700] = again;

  blocks[5][4096] ^= 0xFF;
  EXPECT_EQ(ErrorCodeOf([&] { mm.FreeAndNillMem(blocks[5]); }), 30137);
  uint8_t* stale = blocks[6];
  mm.FreeAndNillMem(blocks[6]);
  if (pooled) {
    EXPECT_EQ(ErrorCodeOf([&] { mm.FreeAndNillMem(stale); }), 30001);
  }
  for (uint8_t*& p : blocks) mm.FreeAndNillMem(p);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
  if (pooled) {
    EXPECT_GE(mm.PoolArenaCount(), 3u);
    EXPECT_LE(mm.PoolArenaCount(), TORBBlockPool::kKeptEmptyArenas);
  }
  // Sizes outside the pool's range stay on the heap.
  uint8_t* small = mm.GetMem(100);
  EXPECT_EQ(small[-9 + 4], 0);
  mm.FreeAndNillMem(small);
}

// The pages a transaction frees at its commit serve the next one from the
// arenas already mapped, without mapping (and so clearing) fresh memory;
// beyond kKeptEmptyArenas empty arenas the memory goes back to the system.
TEST_F(MemoryManagerTest, EmptiedArenasServeTheNextRoundUpToABound) {
  uint8_t* probe = mm.GetMem(8192);
  const bool pooled = probe[-9 + 4] == 1;
  mm.FreeAndNillMem(probe);
  if (!pooled) GTEST_SKIP() << "no block pool in this build";
  const size_t per_arena = (TORBBlockPool::kArenaSize - TORBBlockPool::kHeaderSize) / (8192 + 64);
  auto round = [&](size_t arenas) {
    std::vector<uint8_t*> blocks;
    for (size_t i = 0; i < arenas * per_arena; ++i) blocks.push_back(mm.GetMem(8192));
    const size_t mapped = mm.PoolArenaCount();
    for (uint8_t*& p : blocks) mm.FreeAndNillMem(p);
    return mapped;
  };
  const size_t first = round(4);
  EXPECT_EQ(mm.PoolArenaCount(), first);  // all kept, empty
  EXPECT_EQ(round(4), first);             // and used again: nothing new mapped
  round(3 * TORBBlockPool::kKeptEmptyArenas);
  EXPECT_EQ(mm.PoolArenaCount(), TORBBlockPool::kKeptEmptyArenas);
}

// Page-sized blocks come from a pool and are reused once freed: they keep
// their framing, checks and zero-filling, and never overlap, also across
// the pool's regions.
TEST_F(MemoryManagerTest, PageSizedBlocksAreReusedWithTheirChecks) {
  for (size_t size : {size_t{1024}, size_t{4096}, size_t{65536}}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t*> blocks;
    const size_t count = (size_t{5} << 20) / size;  // over two 2 MB regions
    for (size_t i = 0; i < count; ++i) {
      blocks.push_back(mm.GetMem(size));
      std::memset(blocks.back(), static_cast<int>(i % 251), size);
    }
    for (size_t i = 0; i < count; ++i) {
      ASSERT_EQ(mm.GetMemoryBufferSize(blocks[i]), size);
      ASSERT_EQ(blocks[i][0], i % 251);
      ASSERT_EQ(blocks[i][size - 1], i % 251) << i;
    }
    EXPECT_EQ(mm.TotalMemAllocated(), static_cast<int64_t>(count * size));
    mm.FreeAndNillMem(blocks.back());
    blocks.pop_back();
    uint8_t* again = mm.AllocMem(size);  // the freed block, zero-filled
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(again[i], 0) << i;
    again[size] ^= 0xFF;
    EXPECT_EQ(ErrorCodeOf([&] { mm.FreeAndNillMem(again); }), 30137);
    for (uint8_t*& block : blocks) mm.FreeAndNillMem(block);
    EXPECT_EQ(mm.TotalMemAllocated(), 0);
  }
}

TEST(MemoryManagerInstanceTest, OneProcessWideInstance) {
  EXPECT_EQ(&MemoryManager(), &MemoryManager());
}

}  // namespace
}  // namespace orb
