// Storing and reading back fixed-size pages: the engine's disk page manager
// against SQLite keeping the same bytes as BLOB rows, in one run.
//
// Write: N pages of 4056 data bytes (a 4096-byte page less its header) in
// one commit into a new file. Read: the same N pages from a freshly opened
// file. The plain writes sync nothing (the engine's commit without flush,
// SQLite with synchronous=OFF), so both measure their own work; the Durable
// writes wait for the disk (the engine's commit with flush, SQLite with
// synchronous=FULL).

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/disk/disk_page_manager.h"
#include "engine/table/page_header.h"
#include "engine/platform/codepage.h"

namespace {

constexpr uint16_t kPageSize = 4096;
constexpr int kDataSize = kPageSize - 40;

class ScratchDir {
 public:
  ScratchDir() {
    std::string t = (std::filesystem::temp_directory_path() / "orb_bench_XXXXXX").string();
    if (mkdtemp(t.data()) != nullptr) FPath = t;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  std::string File(const char* name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

std::vector<uint8_t> PageBytes(int i) {
  std::vector<uint8_t> b(kDataSize);
  for (int k = 0; k < kDataSize; ++k) b[k] = static_cast<uint8_t>(i * 31 + k);
  return b;
}

// Writes n pages in one commit into a new file. A shared file is reopened
// for sharing with other processes first: each allocation then takes the
// header lock and reads the maps afresh.
std::vector<int32_t> OrbWrite(const std::string& path, int n, bool shared = false, bool flush = false) {
  orb::TORBDiskPageManager pm;
  pm.CreateAndOpenDatabase(orb::Utf8ToWide(path), {}, kPageSize, 8);
  if (shared) {
    pm.CloseDatabase();
    bool read_only = false, repair = false, multi_user = true;
    pm.OpenDatabase(orb::Utf8ToWide(path), {}, read_only, repair, false, multi_user);
  }
  std::vector<int32_t> numbers;
  numbers.reserve(n);
  for (int i = 0; i < n; ++i) {
    orb::TORBPageGuard page = pm.AddPageGuard(0, orb::kPageTypeTableRecord);
    const std::vector<uint8_t> bytes = PageBytes(i);
    std::copy(bytes.begin(), bytes.end(), page->GetPageData());
    numbers.push_back(page.PageNo());
    page.Release();
  }
  pm.ApplyChanges(0, flush);
  return numbers;
}

void Check(int rc, sqlite3* db, benchmark::State& state) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) state.SkipWithError(sqlite3_errmsg(db));
}

void SqliteWrite(const std::string& path, int n, benchmark::State& state, bool durable = false) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const std::string setup = std::string("PRAGMA synchronous=") + (durable ? "FULL" : "OFF") +
                            "; CREATE TABLE p(id INTEGER PRIMARY KEY, data BLOB); BEGIN;";
  Check(sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr), db, state);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO p(id, data) VALUES(?, ?)", -1, &st, nullptr);
  for (int i = 0; i < n; ++i) {
    const std::vector<uint8_t> bytes = PageBytes(i);
    sqlite3_bind_int(st, 1, i);
    sqlite3_bind_blob(st, 2, bytes.data(), kDataSize, SQLITE_TRANSIENT);
    Check(sqlite3_step(st), db, state);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Check(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), db, state);
  sqlite3_close(db);
}

// Times `write(path, n)` into a fresh directory per iteration.
template <typename Write>
void TimeWrites(benchmark::State& state, const char* file, Write write) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    ScratchDir dir;
    state.ResumeTiming();
    write(dir.File(file), n);
  }
  state.SetBytesProcessed(state.iterations() * n * kDataSize);
}

void BM_OrbWritePages(benchmark::State& state) {
  TimeWrites(state, "w.orb", [](const std::string& path, int n) { benchmark::DoNotOptimize(OrbWrite(path, n)); });
}

void BM_OrbWritePagesShared(benchmark::State& state) {
  TimeWrites(state, "w.orb",
             [](const std::string& path, int n) { benchmark::DoNotOptimize(OrbWrite(path, n, true)); });
}

void BM_SqliteWritePages(benchmark::State& state) {
  TimeWrites(state, "w.db", [&state](const std::string& path, int n) { SqliteWrite(path, n, state); });
}

void BM_OrbWritePagesDurable(benchmark::State& state) {
  TimeWrites(state, "w.orb",
             [](const std::string& path, int n) { benchmark::DoNotOptimize(OrbWrite(path, n, false, true)); });
}

void BM_SqliteWritePagesDurable(benchmark::State& state) {
  TimeWrites(state, "w.db", [&state](const std::string& path, int n) { SqliteWrite(path, n, state, true); });
}

void BM_OrbReadPages(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ScratchDir dir;
  const std::string path = dir.File("r.orb");
  const std::vector<int32_t> numbers = OrbWrite(path, n);
  uint64_t sum = 0;
  for (auto _ : state) {
    orb::TORBDiskPageManager pm;
    bool read_only = false, repair = false, multi_user = false;
    pm.OpenDatabase(orb::Utf8ToWide(path), {}, read_only, repair, false, multi_user);
    for (int32_t no : numbers) {
      orb::TORBPageGuard page = pm.GetPageGuard(0, no, orb::kPageTypeTableRecord);
      sum += page->GetPageData()[kDataSize - 1];
      page.Release();
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * n * kDataSize);
}

void BM_SqliteReadPages(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ScratchDir dir;
  const std::string path = dir.File("r.db");
  SqliteWrite(path, n, state);
  uint64_t sum = 0;
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT data FROM p WHERE id = ?", -1, &st, nullptr);
    for (int i = 0; i < n; ++i) {
      sqlite3_bind_int(st, 1, i);
      if (sqlite3_step(st) == SQLITE_ROW) {
        const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(st, 0));
        sum += data[kDataSize - 1];
      }
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * n * kDataSize);
}

BENCHMARK(BM_OrbWritePages)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrbWritePagesShared)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteWritePages)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrbWritePagesDurable)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteWritePagesDurable)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrbReadPages)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteReadPages)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
