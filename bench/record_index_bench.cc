// Building a record index over an existing table: the bottom-up load from
// sorted keys (CreateIndex with a cursor) against one insert per record
// (an empty index, then InsertRecord for every record).
//
// 100,000 records of (ID integer, NAME VARCHAR(40)); names share their
// first 20 characters in groups, so the index (NAME cut to 20, then ID)
// resolves many ties through full keys. Pages of 4096 bytes on an
// in-memory page store. Counters: us_per_record, the tree's depth, and
// record_reads (records read to resolve cut prefixes).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/repetitions.h"
#include "engine/base/field_defs.h"
#include "engine/base/record_layout.h"
#include "engine/data/btree_record_index.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/database_data.h"
#include "engine/data/index_manager.h"
#include "engine/data/record_manager.h"
#include "engine/data/table_data.h"
#include "engine/table/page_manager.h"

namespace {

using namespace orb;

constexpr int kRecords = 100000;

class PageStore : public TORBPageManager {
 public:
  PageStore() {
    SetPageSizes(4096, 40);
    SetCacheCapacity(kMaxCacheCapacity);
  }

 protected:
  void InternalAddPage(TORBPage& page) override {
    SetPageNo(page, static_cast<int32_t>(FPages.size()));
    page.AllocPageBuffer();
    FPages.emplace_back(page.FPageBuffer, page.FPageBuffer + GetPageSize());
  }
  void InternalRemovePage(int32_t) override {}
  bool InternalReadPage(TORBPage& page) override {
    if (page.PageNo() < 0 || page.PageNo() >= static_cast<int32_t>(FPages.size())) return false;
    if (page.FPageBuffer == nullptr) page.AllocPageBuffer();
    std::memcpy(page.FPageBuffer, FPages[static_cast<size_t>(page.PageNo())].data(), GetPageSize());
    return true;
  }
  void InternalWritePage(TORBPage& page) override {
    FPages[static_cast<size_t>(page.PageNo())].assign(page.FPageBuffer, page.FPageBuffer + GetPageSize());
  }

 private:
  std::vector<std::vector<uint8_t>> FPages;
};

// Records in a vector; record ID = {index, 0}.
class Records : public TORBBaseRecordManager {
 public:
  using TORBBaseRecordManager::TORBBaseRecordManager;
  void Empty(int32_t) override { FRows.clear(); }
  bool AddRecord(int32_t, const uint8_t* record, TORBPageItemID& id) override {
    id = {static_cast<int32_t>(FRows.size()), 0};
    FRows.emplace_back(record, record + FRecordBufferSize);
    ++FRecordCount;
    return true;
  }
  bool UpdateRecord(int32_t, const uint8_t*, const TORBPageItemID&) override { return false; }
  bool DeleteRecord(int32_t, const TORBPageItemID&) override { return false; }
  void GetRecordBuffer(int32_t, TORBNavigationInfo& info) override {
    int64_t row = info.GetRecordMode == grmCurrent ? info.RecordID.PageNo
                  : info.FirstPosition             ? 0
                                                   : info.RecordID.PageNo + 1;
    if (info.GetRecordMode == grmPrior || row < 0 || row >= static_cast<int64_t>(FRows.size())) {
      info.GetRecordResult = info.GetRecordMode == grmCurrent ? grrError : grrEOF;
      return;
    }
    std::memcpy(info.RecordBuffer, FRows[static_cast<size_t>(row)].data(), static_cast<size_t>(FRecordBufferSize));
    info.RecordID = {static_cast<int32_t>(row), 0};
    info.FirstPosition = info.LastPosition = false;
    info.GetRecordResult = grrOK;
  }
  int CompareRecordID(const TORBPageItemID& a, const TORBPageItemID& b) override {
    return a.PageNo < b.PageNo ? -1 : a.PageNo > b.PageNo;
  }
  int64_t GetApproximateRecNo(int32_t, const TORBPageItemID& id) override { return id.PageNo + 1; }
  std::vector<std::vector<uint8_t>> FRows;
};

class Database : public TORBDatabaseData {
 public:
  Database() : TORBDatabaseData(u"BENCH", u"DEFAULT") {}
  TORBTableData* CreateTableData(TORBCursorInterface*) override { return nullptr; }
  int32_t GetNewObjectId() override { return ++FLast; }
  int32_t FLast = 0;
};

class Table : public TORBTableData {
 public:
  Table(TORBDatabaseData* database, TORBPageManager* pages) : TORBTableData(database, u"T") { FPageManager = pages; }
  void CreateRecordManager() override { FRecordManager = std::make_unique<Records>(GetRecordBufferSize()); }
  void CreateTable(TORBCursorInterface*, const TORBFieldDefs& fields, const TORBIndexDefs& indexes,
                   const TORBConstraintDefs& constraints) override {
    CreateFieldManager(fields);
    CreateRecordManager();
    CreateIndexManager(indexes);
    CreateConstraintManager(constraints);
  }
  int64_t GetBitmapRecordCount(int32_t) override { return 0; }
  int64_t GetBitmapRecNoByRecordID(const TORBPageItemID& id) override { return id.PageNo; }
  TORBPageItemID GetRecordIDByBitmapRecNo(int64_t bit_no) override { return {static_cast<int32_t>(bit_no), 0}; }
  void WriteBLOBFieldToRecordBuffer(int32_t, int32_t, TStream&, uint8_t*) override {}
  std::unique_ptr<TStream> InternalCreateBlobStream(TORBCursorInterface*, int32_t, uint8_t*, bool) override {
    return nullptr;
  }
  std::vector<uint8_t> GetDirectBlobData(int32_t, int32_t, const uint8_t*) override { return {}; }
  void SetDirectBlobData(int32_t, int32_t, uint8_t*, const std::vector<uint8_t>&) override {}
  void FreeDirectBlobData(int32_t, int32_t, uint8_t*) override {}
  TORBPageItemID InternalSetRecNo(int32_t, int64_t rec_no) override { return {static_cast<int32_t>(rec_no - 1), 0}; }
  int64_t InternalGetRecNo(int32_t, const TORBPageItemID& id) override { return id.PageNo + 1; }
  int64_t InternalGetRecordCount(int32_t) override { return FRecordManager->FRecordCount; }
  std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef&) override { return nullptr; }
  Records* Rows() const { return static_cast<Records*>(FRecordManager.get()); }
};

// Just what index building reads: the session, the current record.
class Cursor : public TORBCursorInterface {
 public:
  int32_t GetSessionID() const override { return 0; }
  bool InTransaction() const override { return false; }
  const std::u16string& GetTableName() const override { return FName; }
  bool IsTemporary() const override { return false; }
  uint8_t* GetCurrentRecordBuffer() const override { return FCurrent; }
  void SetCurrentRecordBuffer(uint8_t* buffer) override { FCurrent = buffer; }
  uint8_t* GetEditRecordBuffer() const override { return FCurrent; }
  void SetEditRecordBuffer(uint8_t*) override {}
  uint8_t* GetDistinctRecordBuffer() const override { return nullptr; }
  void SetDistinctRecordBuffer(uint8_t*) override {}
  void SetRecordBufferSize(int32_t) override {}
  void SetFieldValuesOffset(int32_t) override {}
  TORBPageItemID GetCurrentRecordID() const override { return FID; }
  void SetCurrentRecordID(const TORBPageItemID& id) override { FID = id; }
  bool GetFirstPosition() const override { return false; }
  void SetFirstPosition(bool) override {}
  bool GetLastPosition() const override { return false; }
  void SetLastPosition(bool) override {}
  int32_t GetIndexID() const override { return -1; }
  const uint8_t* GetRangeStartBuffer() const override { return nullptr; }
  const uint8_t* GetRangeEndBuffer() const override { return nullptr; }
  int32_t GetRangeStartKeyFieldCount() const override { return 0; }
  int32_t GetRangeEndKeyFieldCount() const override { return 0; }
  bool GetRangeStartExclusive() const override { return false; }
  bool GetRangeEndExclusive() const override { return false; }
  TORBExpression* GetFilterExpression() const override { return nullptr; }
  TORBExpression* GetSQLFilterExpression() const override { return nullptr; }
  bool HasRecordFilter() const override { return false; }
  bool FilterRecord(const uint8_t*) override { return true; }
  int32_t GetDistinctFieldCount() const override { return 0; }
  TORBRecordBitmap* GetRecordBitmap() const override { return nullptr; }
  TORBIndexPositionCache* GetIndexPositionCache() const override { return nullptr; }

  std::u16string FName = u"T";
  uint8_t* FCurrent = nullptr;
  TORBPageItemID FID{};
};

struct Setup {
  PageStore pages;
  Database database;
  Table* table;
  Cursor cursor;
  TORBIndexDef index_def;

  Setup() {
    auto owned = std::make_unique<Table>(&database, &pages);
    table = static_cast<Table*>(database.AddTableData(std::move(owned)));
    TORBFieldDefs fields;
    TORBFieldDef* id = fields.AddCreated();
    id->SetName(std::u16string_view(u"ID"));
    id->SetFieldDefDataType(aftInteger, 0);
    TORBFieldDef* name = fields.AddCreated();
    name->SetName(std::u16string_view(u"NAME"));
    name->SetFieldDefDataType(aftString, 40);
    table->CreateTable(nullptr, fields, TORBIndexDefs(), TORBConstraintDefs());
    const int32_t size = table->GetRecordBufferSize();
    const TORBFieldDef* name_def = table->FieldManager()->FieldDefs().GetDef(1);
    const TORBFieldDef* id_def = table->FieldManager()->FieldDefs().GetDef(0);
    std::mt19937 rng(7);
    std::vector<uint8_t> record(static_cast<size_t>(size));
    for (int i = 0; i < kRecords; ++i) {
      std::fill(record.begin(), record.end(), 0);
      SetNullFlag(false, 0, record.data());
      SetNullFlag(false, 1, record.data());
      std::memcpy(record.data() + id_def->FMemoryOffset, &i, sizeof i);
      std::string text = "group" + std::to_string(rng() % 500);
      text.resize(20, '-');
      text += std::to_string(rng());
      std::memcpy(record.data() + name_def->FMemoryOffset, text.data(), std::min<size_t>(text.size(), 40));
      TORBPageItemID rid;
      table->Rows()->AddRecord(0, record.data(), rid);
    }
    index_def.SetName(std::string_view("BY_NAME"));
    index_def.SetColumnCount(2);
    index_def.GetIndexColumn(0)->SetFieldName(u"NAME");
    index_def.GetIndexColumn(0)->FMaxIndexedSize = 20;
    index_def.GetIndexColumn(1)->SetFieldName(u"ID");
  }
};

void Report(benchmark::State& state, Setup& setup, int32_t index_id, double seconds, int64_t reads) {
  auto* index = static_cast<TORBBTreeRecordIndex*>(setup.table->IndexManager()->OpenIndex(index_id));
  state.counters["us_per_record"] = seconds * 1e6 / kRecords;
  state.counters["depth"] = index->GetDepth(0);
  state.counters["record_reads"] = static_cast<double>(reads);
}

void BM_RecordIndexBulkBuild(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Setup setup;
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    const int32_t id = setup.table->IndexManager()->CreateIndex(&setup.cursor, setup.index_def);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto* index = static_cast<TORBBTreeRecordIndex*>(setup.table->IndexManager()->OpenIndex(id));
    Report(state, setup, id, seconds, index->KeyRef().RecordReads());
  }
}

void BM_RecordIndexInsertPerRecord(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Setup setup;
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    const int32_t id = setup.table->IndexManager()->CreateIndex(nullptr, setup.index_def);
    setup.pages.ApplyChanges(TORBPageManager::kSystemSession);
    TORBIndex* index = setup.table->IndexManager()->OpenIndex(id);
    for (int i = 0; i < kRecords; ++i) {
      setup.cursor.FCurrent = setup.table->Rows()->FRows[static_cast<size_t>(i)].data();
      setup.cursor.FID = {i, 0};
      index->InsertRecord(&setup.cursor);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Report(state, setup, id, seconds, static_cast<TORBBTreeRecordIndex*>(index)->KeyRef().RecordReads());
  }
}

BENCHMARK(BM_RecordIndexBulkBuild)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordIndexInsertPerRecord)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

}  // namespace
