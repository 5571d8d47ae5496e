// A temporary table's record store under volume: appending 1,000,000 rows
// of 64 bytes with a memory budget of 10 MB (so about 84% of the rows go to
// the spill file), then reading them all back in order.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "engine/data/navigation_info.h"
#include "engine/memory/temporary_record_manager.h"

namespace {

constexpr int32_t kRecordSize = 64;
constexpr int64_t kRows = 1000000;
constexpr int64_t kBudgetBytes = 10 * 1000 * 1000;

void Fill(orb::TORBTemporaryRecordManager& records) {
  std::vector<uint8_t> row(kRecordSize, 0x5A);
  orb::TORBPageItemID id{};
  for (int64_t i = 0; i < kRows; ++i) {
    std::memcpy(row.data(), &i, sizeof i);
    if (!records.AddRecord(0, row.data(), id)) return;
  }
}

void BM_TemporaryAppend(benchmark::State& state) {
  for (auto _ : state) {
    orb::TORBTemporaryRecordManager records(kRecordSize, 10, 1000, false, kBudgetBytes / kRecordSize);
    Fill(records);
    benchmark::DoNotOptimize(records.FRecordCount);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_TemporaryAppend)->Unit(benchmark::kMillisecond);

void BM_TemporaryReadInOrder(benchmark::State& state) {
  orb::TORBTemporaryRecordManager records(kRecordSize, 10, 1000, false, kBudgetBytes / kRecordSize);
  Fill(records);
  std::vector<uint8_t> buffer(kRecordSize);
  for (auto _ : state) {
    orb::TORBNavigationInfo info;
    info.RecordBuffer = buffer.data();
    info.FirstPosition = true;
    info.GetRecordMode = orb::grmNext;
    int64_t sum = 0;
    for (records.GetRecordBuffer(0, info); info.GetRecordResult == orb::grrOK; records.GetRecordBuffer(0, info)) {
      int64_t v = 0;
      std::memcpy(&v, buffer.data(), sizeof v);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_TemporaryReadInOrder)->Unit(benchmark::kMillisecond);

}  // namespace
