// B-tree inserts, lookups and bulk load against SQLite, in one run.
//
// 1,000,000 random 8-byte keys (with 6-byte record IDs as references) go
// into a tree of 4096-byte pages on an in-memory page store (pages kept as
// byte vectors behind the engine's page manager, its cache and session
// lists included), then every key is looked up. The same keys go into an
// in-memory SQLite table `t(k INTEGER PRIMARY KEY)` in one transaction and
// are looked up by primary key. Finally the keys, sorted, are bulk loaded
// into an empty tree.
//
// Counters: us_per_insert, us_per_lookup (after the commit, through the
// page manager's shared cache of at most 1000 pages), us_per_lookup_private
// (before it, all pages private to the session), us_per_entry for the bulk
// load, the tree's depth and its leaf fill factor (entries / leaf
// capacity, averaged over all leaves).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "bench/repetitions.h"
#include "engine/platform/byte_order.h"
#include "engine/table/btree_builder.h"
#include "engine/table/btree_page.h"
#include "engine/table/page_manager.h"

namespace {

constexpr int kKeyCount = 1000000;
constexpr uint16_t kPageSize = 4096;
constexpr int32_t kSession = 0;

// Pages as byte vectors, numbered in order; removed numbers are reused.
class MemoryPageStore : public orb::TORBPageManager {
 public:
  MemoryPageStore() {
    SetPageSizes(kPageSize, 40);
    SetCacheCapacity(kMaxCacheCapacity);
  }

 protected:
  void InternalAddPage(orb::TORBPage& page) override {
    int32_t no;
    if (!FFree.empty()) {
      no = FFree.back();
      FFree.pop_back();
    } else {
      no = static_cast<int32_t>(FPages.size());
      FPages.emplace_back();
    }
    SetPageNo(page, no);
    page.AllocPageBuffer();
    FPages[static_cast<size_t>(no)].assign(page.FPageBuffer, page.FPageBuffer + kPageSize);
  }
  void InternalRemovePage(int32_t page_no) override {
    FPages[static_cast<size_t>(page_no)].clear();
    FFree.push_back(page_no);
  }
  bool InternalReadPage(orb::TORBPage& page) override {
    const std::vector<uint8_t>& bytes = FPages.at(static_cast<size_t>(page.PageNo()));
    if (bytes.empty()) return false;
    if (page.FPageBuffer == nullptr) page.AllocPageBuffer();
    std::memcpy(page.FPageBuffer, bytes.data(), kPageSize);
    return true;
  }
  void InternalWritePage(orb::TORBPage& page) override {
    FPages.at(static_cast<size_t>(page.PageNo())).assign(page.FPageBuffer, page.FPageBuffer + kPageSize);
  }

 private:
  std::vector<std::vector<uint8_t>> FPages;
  std::vector<int32_t> FFree;
};

// Signed 64-bit keys, 6-byte references.
class Int64KeyRef : public orb::TORBBTreeKeyRef {
 public:
  Int64KeyRef() {
    SetPartCount(1);
    FParts[0].DataType = orb::bftSignedInt64;
    FParts[0].ShortSize = FParts[0].FullSize = 8;
    FShortKeySize = FFullKeySize = 8;
    FReferenceSize = 6;
  }
  int CompareShortKeys(const uint8_t* a, const uint8_t* b, bool, int32_t, const uint8_t*, const uint8_t*) override {
    return CompareFullKeys(a, b);
  }
  int CompareFullKeys(const uint8_t* a, const uint8_t* b) override {
    int64_t x = orb::LoadI64LE(a), y = orb::LoadI64LE(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
};

const std::vector<int64_t>& Keys() {
  static const std::vector<int64_t> keys = [] {
    std::mt19937_64 rng(42);
    std::vector<int64_t> k(kKeyCount);
    for (int64_t& v : k) v = static_cast<int64_t>(rng());
    return k;
  }();
  return keys;
}

struct Entry {
  uint8_t Key[8];
  uint8_t Ref[6];
  explicit Entry(int64_t key, int i) {
    orb::StoreI64LE(Key, key);
    orb::StoreI32LE(Ref, i);
    orb::StoreU16LE(Ref + 4, 0);
  }
};

double Micros(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// Depth and average leaf fill of the tree at `root_no`.
void ReportShape(benchmark::State& state, MemoryPageStore& pm, Int64KeyRef& key_ref, int32_t root_no) {
  orb::TORBBTreePage root(&pm, &key_ref);
  root.GetIndexPage(kSession, root_no);
  state.counters["depth"] = root.GetDepth(kSession);
  orb::TORBKeyPath path;
  root.GetFirstPosition(kSession, path);
  int64_t leaves = 0, entries = 0, capacity = 0;
  for (int32_t page_no = path.Leaf().PageNo; page_no >= 0; ++leaves) {
    orb::TORBBTreePage leaf(&pm, &key_ref);
    leaf.GetIndexPage(kSession, page_no);
    entries += leaf.EntryCount();
    capacity = leaf.MaxEntryCount();
    page_no = leaf.RightPageNo();
  }
  state.counters["leaves"] = static_cast<double>(leaves);
  state.counters["leaf_fill"] = static_cast<double>(entries) / static_cast<double>(leaves * capacity);
}

int32_t NewTree(MemoryPageStore& pm, Int64KeyRef& key_ref) {
  orb::TORBBTreePage root(&pm, &key_ref);
  root.AddIndexPage(kSession);
  root.InitAsRoot();
  return root.PageNo();
}

void BM_BTreeRandomInsertLookup(benchmark::State& state) {
  const std::vector<int64_t>& keys = Keys();
  for (auto _ : state) {
    MemoryPageStore pm;
    Int64KeyRef key_ref;
    const int32_t root_no = NewTree(pm, key_ref);
    orb::TORBKeyPath path;
    auto t0 = std::chrono::steady_clock::now();
    {
      orb::TORBBTreePage root(&pm, &key_ref);
      root.GetIndexPage(kSession, root_no);
      for (int i = 0; i < kKeyCount; ++i) {
        Entry e(keys[static_cast<size_t>(i)], i);
        root.InsertLeafEntry(kSession, e.Key, e.Ref, path);
      }
    }
    auto t1 = std::chrono::steady_clock::now();
    // Lookups while every page is still private to the session (no cache
    // misses), then after the commit, through the shared cache of at most
    // 1000 pages.
    int found_private = 0;
    {
      orb::TORBBTreePage root(&pm, &key_ref);
      root.GetIndexPage(kSession, root_no);
      for (int i = 0; i < kKeyCount; ++i) {
        Entry e(keys[static_cast<size_t>(i)], i);
        found_private += root.FindEntry(kSession, e.Key, e.Ref, path) ? 1 : 0;
      }
    }
    auto t2 = std::chrono::steady_clock::now();
    pm.ApplyChanges(kSession);
    auto t3 = std::chrono::steady_clock::now();
    int found = 0;
    {
      orb::TORBBTreePage root(&pm, &key_ref);
      root.GetIndexPage(kSession, root_no);
      for (int i = 0; i < kKeyCount; ++i) {
        Entry e(keys[static_cast<size_t>(i)], i);
        found += root.FindEntry(kSession, e.Key, e.Ref, path) ? 1 : 0;
      }
    }
    auto t4 = std::chrono::steady_clock::now();
    if (found != kKeyCount || found_private != kKeyCount) state.SkipWithError("lookup missed keys");
    state.counters["us_per_insert"] = Micros(t1 - t0) / kKeyCount;
    state.counters["us_per_lookup_private"] = Micros(t2 - t1) / kKeyCount;
    state.counters["us_per_lookup"] = Micros(t4 - t3) / kKeyCount;
    ReportShape(state, pm, key_ref, root_no);
  }
}
BENCHMARK(BM_BTreeRandomInsertLookup)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

void BM_SQLiteRandomInsertLookup(benchmark::State& state) {
  const std::vector<int64_t>& keys = Keys();
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY); BEGIN;", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t(k) VALUES(?)", -1, &insert, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    for (int64_t k : keys) {
      sqlite3_bind_int64(insert, 1, k);
      if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
      sqlite3_reset(insert);
    }
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    auto t1 = std::chrono::steady_clock::now();
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT k FROM t WHERE k = ?", -1, &select, nullptr);
    int found = 0;
    for (int64_t k : keys) {
      sqlite3_bind_int64(select, 1, k);
      found += sqlite3_step(select) == SQLITE_ROW ? 1 : 0;
      sqlite3_reset(select);
    }
    auto t2 = std::chrono::steady_clock::now();
    sqlite3_finalize(insert);
    sqlite3_finalize(select);
    sqlite3_close(db);
    if (found != kKeyCount) state.SkipWithError("lookup missed keys");
    state.counters["us_per_insert"] = Micros(t1 - t0) / kKeyCount;
    state.counters["us_per_lookup"] = Micros(t2 - t1) / kKeyCount;
  }
}
BENCHMARK(BM_SQLiteRandomInsertLookup)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

void BM_BTreeBulkLoadSorted(benchmark::State& state) {
  std::vector<int64_t> sorted = Keys();
  std::sort(sorted.begin(), sorted.end());
  for (auto _ : state) {
    MemoryPageStore pm;
    Int64KeyRef key_ref;
    const int32_t root_no = NewTree(pm, key_ref);
    auto t0 = std::chrono::steady_clock::now();
    {
      orb::TORBBTreeBuilder builder(&pm, &key_ref, kSession, root_no);
      for (int i = 0; i < kKeyCount; ++i) {
        Entry e(sorted[static_cast<size_t>(i)], i);
        builder.Add(e.Key, e.Ref);
      }
      builder.Finish();
    }
    pm.ApplyChanges(kSession);
    auto t1 = std::chrono::steady_clock::now();
    state.counters["us_per_entry"] = Micros(t1 - t0) / kKeyCount;
    ReportShape(state, pm, key_ref, root_no);
  }
}
BENCHMARK(BM_BTreeBulkLoadSorted)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

}  // namespace
