#pragma once

// An index over integer columns for the table tests, kept as a sorted
// vector: the shared record index plugs in through the same factory.

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/data/index.h"
#include "engine/data/index_manager.h"
#include "engine/data/record_manager.h"
#include "engine/data/table_data.h"

namespace orb::test {

inline constexpr int32_t kTestDuplicate = 99101;
inline constexpr int32_t kTestUnsupported = 99102;

class TestIndex : public TORBIndex {
 public:
  using TORBIndex::TORBIndex;
  struct Entry {
    std::vector<std::optional<int32_t>> Key;
    int32_t Slot;
    bool operator<(const Entry& o) const { return Key != o.Key ? Key < o.Key : Slot < o.Slot; }
    bool operator==(const Entry& o) const { return Key == o.Key && Slot == o.Slot; }
  };

  void CreateIndex(TORBCursorInterface* cursor, const TORBIndexDef& index_def) override {
    TORBIndex::CreateIndex(cursor, index_def);
    FIndexDef.FRootPageNo = 1;
    Fill();
  }
  void DropIndex(int32_t) override { FEntries.clear(); }
  void EmptyIndex(int32_t) override { FEntries.clear(); }
  void RebuildTemporaryIndex(TORBCursorInterface*) override { Fill(); }
  void GetRecordBuffer(int32_t session_id, TORBNavigationInfo& info, TORBIndexPositionCache*, int32_t) override {
    if (FEntries.empty()) {
      info.GetRecordResult = grrEOF;
      return;
    }
    int64_t rank = 0;
    if (info.GetRecordMode == grmNext) {
      if (info.LastPosition) return Done(info, grrEOF);
      rank = info.FirstPosition ? 0 : Rank(info) + 1;
      if (rank >= static_cast<int64_t>(FEntries.size())) return Done(info, grrEOF);
    } else {
      if (info.FirstPosition) return Done(info, grrBOF);
      rank = info.LastPosition ? static_cast<int64_t>(FEntries.size()) - 1 : Rank(info) - 1;
      if (rank < 0) return Done(info, grrBOF);
    }
    info.RecordID = {FEntries[static_cast<size_t>(rank)].Slot, 0};
    info.GetRecordResult = Table()->ReadRecordByID(session_id, info.RecordID, info.RecordBuffer);
    info.FirstPosition = info.LastPosition = false;
  }
  void GetClosestRecordBuffer(int32_t s, TORBNavigationInfo& i, TORBIndexPositionCache* c, int32_t t) override {
    GetRecordBuffer(s, i, c, t);
  }
  std::unique_ptr<TORBIndexPosition> CreateIndexPosition() override { Unsupported(); }
  bool GetIndexPosition(int32_t, const TORBPageItemID&, const uint8_t*, TORBIndexPosition&) override { Unsupported(); }
  int CompareRecordPositionsInIndex(const TORBIndexPosition&, const TORBIndexPosition&) override { Unsupported(); }
  int64_t GetRecNoByRecordID(int32_t, const TORBPageItemID& record_id, const uint8_t* record_buffer) override {
    auto it = std::lower_bound(FEntries.begin(), FEntries.end(), Make(record_buffer, record_id.PageNo));
    return it != FEntries.end() && it->Slot == record_id.PageNo ? it - FEntries.begin() + 1 : -1;
  }
  TORBPageItemID GetRecordIDByRecNo(int32_t, int64_t rec_no) override {
    return {FEntries.at(static_cast<size_t>(rec_no - 1)).Slot, 0};
  }
  void ApplyDistinctToRecordBitmap(int32_t, TORBRecordBitmap*, int32_t) override { Unsupported(); }
  std::unique_ptr<TORBIndexSearchInfo> CreateSearchInfo() override { Unsupported(); }
  bool FindRecord(int32_t, bool, bool, const TORBScanCondition*, const TORBScanCondition*, uint8_t*, TORBPageItemID&,
                  TORBIndexSearchInfo*) override {
    Unsupported();
  }
  int CompareRecordBuffersByIndex(const uint8_t* a, const uint8_t* b, int32_t) override {
    const auto ka = Make(a, 0).Key, kb = Make(b, 0).Key;
    return ka < kb ? -1 : (kb < ka ? 1 : 0);
  }
  int CompareConditions(const TORBScanCondition&, const TORBScanCondition&) override { Unsupported(); }
  int64_t GetApproxRangeRecordCount(int32_t, int64_t, const TORBScanCondition*, const TORBScanCondition*) override {
    Unsupported();
  }
  bool CanInsertRecord(int32_t, const uint8_t* record_buffer) override {
    if (!FIndexDef.FUnique && !FIndexDef.FPrimary) return true;
    const auto key = Make(record_buffer, 0).Key;
    return std::none_of(FEntries.begin(), FEntries.end(), [&](const Entry& e) { return e.Key == key; });
  }
  bool CanUpdateRecord(int32_t, const uint8_t* old_buffer, const uint8_t* new_buffer) override {
    if (Make(old_buffer, 0).Key == Make(new_buffer, 0).Key) return true;
    return CanInsertRecord(0, new_buffer);
  }
  void InsertRecord(TORBCursorInterface* cursor) override {
    Add(cursor->GetCurrentRecordBuffer(), cursor->GetCurrentRecordID().PageNo);
  }
  void DeleteRecord(TORBCursorInterface* cursor) override {
    Remove(cursor->GetCurrentRecordBuffer(), cursor->GetCurrentRecordID().PageNo);
  }
  void UpdateRecord(TORBCursorInterface* cursor, bool before) override {
    const uint8_t* old_buffer = cursor->GetEditRecordBuffer();
    const uint8_t* new_buffer = cursor->GetCurrentRecordBuffer();
    const int32_t slot = cursor->GetCurrentRecordID().PageNo;
    if (Make(old_buffer, slot) == Make(new_buffer, slot)) return;
    if (before)
      Remove(old_buffer, slot);
    else
      Add(new_buffer, slot);
  }
  int64_t GetMaxEntriesPerPage() override { return 1 << 20; }
  void GetRecordIDByIndexPosition(int32_t, const TORBIndexPosition&, TORBPageItemID&) override { Unsupported(); }
  int64_t GetBitNoByIndexPosition(const TORBIndexPosition&) override { Unsupported(); }
  void GetIndexPositionByBitNo(int64_t, TORBIndexPosition&) override { Unsupported(); }

  const std::vector<Entry>& Entries() const { return FEntries; }
  Entry Make(const uint8_t* record, int32_t slot) const {
    Entry e{{}, slot};
    const TORBFieldDefs& fields = Table()->FieldManager()->FieldDefs();
    for (int32_t c = 0; c < FIndexDef.GetColumnCount(); ++c) {
      const int32_t no = fields.GetDefNumberByName(std::u16string_view(FIndexDef.GetIndexColumn(c)->GetFieldName()));
      if (CheckNullFlag(no, record)) {
        e.Key.push_back(std::nullopt);
      } else {
        int32_t v = 0;
        std::memcpy(&v, record + fields.GetDef(no)->FMemoryOffset, sizeof v);
        e.Key.push_back(v);
      }
    }
    return e;
  }

 private:
  [[noreturn]] static void Unsupported() { RaiseORB(kTestUnsupported, "not supported by the test index"); }
  static void Done(TORBNavigationInfo& info, TORBGetRecordResult result) { info.GetRecordResult = result; }
  TORBTableData* Table() const { return FIndexManager->TableData(); }
  int64_t Rank(const TORBNavigationInfo& info) const {
    const Entry e = Make(info.RecordBuffer, info.RecordID.PageNo);
    return std::lower_bound(FEntries.begin(), FEntries.end(), e) - FEntries.begin();
  }
  void Add(const uint8_t* record, int32_t slot) {
    if (!CanInsertRecord(0, record)) RaiseORB(kTestDuplicate, "duplicate key");
    Entry e = Make(record, slot);
    FEntries.insert(std::lower_bound(FEntries.begin(), FEntries.end(), e), e);
  }
  void Remove(const uint8_t* record, int32_t slot) {
    const Entry e = Make(record, slot);
    auto it = std::lower_bound(FEntries.begin(), FEntries.end(), e);
    if (it == FEntries.end() || !(*it == e)) RaiseORB(20019, "Index error: cannot delete entry. Entry not found");
    FEntries.erase(it);
  }
  void Fill() {
    FEntries.clear();
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max(Table()->RecordManager()->FRecordBufferSize, 1)));
    TORBNavigationInfo info;
    info.GetRecordMode = grmNext;
    info.FirstPosition = true;
    info.RecordBuffer = buffer.data();
    for (Table()->RecordManager()->GetRecordBuffer(0, info); info.GetRecordResult == grrOK;
         Table()->RecordManager()->GetRecordBuffer(0, info))
      Add(buffer.data(), info.RecordID.PageNo);
  }

  std::vector<Entry> FEntries;
};

}  // namespace orb::test
