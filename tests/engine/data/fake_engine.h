#pragma once

// A small engine over the table-data contract for the tests: records in a
// vector of slots, each index a sorted set of (record copy, record ID), a
// cursor with its own buffers, and hooks that make single steps fail.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/base/field_defs.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/base/variant_compare.h"
#include "engine/data/constraint_manager.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/database_data.h"
#include "engine/data/index.h"
#include "engine/data/index_manager.h"
#include "engine/data/record_bitmap.h"
#include "engine/data/record_manager.h"
#include "engine/data/table_data.h"
#include "engine/expr/expression.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"

namespace orb::test {

// Code the fake raises when a failure hook fires.
inline constexpr int32_t kFakeFailure = 99001;
// Code the fake unique index raises for a duplicate key.
inline constexpr int32_t kFakeDuplicate = 99002;

// Records in slots; record ID = {slot, 0}; a deleted slot stays empty.
class FakeRecordManager : public TORBBaseRecordManager {
 public:
  using TORBBaseRecordManager::TORBBaseRecordManager;

  void Empty(int32_t) override {
    FSlots.clear();
    FRecordCount = 0;
    ++FTableState;
  }
  bool AddRecord(int32_t, const uint8_t* record_buffer, TORBPageItemID& record_id) override {
    if (FFailAdd) return false;
    record_id = {static_cast<int32_t>(FSlots.size()), 0};
    FSlots.emplace_back(std::vector<uint8_t>(record_buffer, record_buffer + FRecordBufferSize));
    ++FRecordCount;
    ++FTableState;
    return true;
  }
  bool UpdateRecord(int32_t, const uint8_t* record_buffer, const TORBPageItemID& record_id) override {
    if (FThrowOnUpdate) RaiseORB(kFakeFailure, "update failed");
    if (FFailUpdate) return false;
    auto& slot = FSlots.at(static_cast<size_t>(record_id.PageNo));
    if (!slot) return false;
    slot->assign(record_buffer, record_buffer + FRecordBufferSize);
    ++FTableState;
    return true;
  }
  bool DeleteRecord(int32_t, const TORBPageItemID& record_id) override {
    if (FThrowOnDelete) RaiseORB(kFakeFailure, "delete failed");
    if (FFailDelete) return false;
    auto& slot = FSlots.at(static_cast<size_t>(record_id.PageNo));
    if (!slot) return false;
    slot.reset();
    --FRecordCount;
    ++FTableState;
    return true;
  }
  void GetRecordBuffer(int32_t, TORBNavigationInfo& info) override {
    const int32_t n = static_cast<int32_t>(FSlots.size());
    auto live = [&](int32_t s) { return s >= 0 && s < n && FSlots[static_cast<size_t>(s)].has_value(); };
    int32_t slot = -1;
    if (info.GetRecordMode == grmCurrent) {
      if (info.FirstPosition || info.LastPosition || !live(info.RecordID.PageNo)) {
        info.GetRecordResult = info.FirstPosition ? grrBOF : info.LastPosition ? grrEOF : grrError;
        return;
      }
      slot = info.RecordID.PageNo;
      ++FReads[slot];
    } else if (info.GetRecordMode == grmNext) {
      if (info.LastPosition) {
        info.GetRecordResult = grrEOF;
        return;
      }
      for (slot = info.FirstPosition ? 0 : info.RecordID.PageNo + 1; slot < n && !live(slot); ++slot) {
      }
      if (slot >= n) {
        info.FirstPosition = false;
        info.LastPosition = true;
        info.GetRecordResult = grrEOF;
        return;
      }
    } else {
      if (info.FirstPosition) {
        info.GetRecordResult = grrBOF;
        return;
      }
      for (slot = info.LastPosition ? n - 1 : info.RecordID.PageNo - 1; slot >= 0 && !live(slot); --slot) {
      }
      if (slot < 0) {
        info.FirstPosition = true;
        info.LastPosition = false;
        info.GetRecordResult = grrBOF;
        return;
      }
    }
    std::memcpy(info.RecordBuffer, FSlots[static_cast<size_t>(slot)]->data(), static_cast<size_t>(FRecordBufferSize));
    info.RecordID = {slot, 0};
    info.FirstPosition = false;
    info.LastPosition = false;
    info.GetRecordResult = grrOK;
  }
  int CompareRecordID(const TORBPageItemID& a, const TORBPageItemID& b) override {
    return a.PageNo < b.PageNo ? -1 : a.PageNo > b.PageNo ? 1 : 0;
  }
  int64_t GetApproximateRecNo(int32_t, const TORBPageItemID& record_id) override { return record_id.PageNo + 1; }

  // Another session's committed insert arriving in the shared store,
  // without this process's indexes seeing it.
  void ExternalAdd(const std::vector<uint8_t>& record) {
    FSlots.emplace_back(record);
    ++FRecordCount;
    ++FTableState;
  }

  std::vector<std::optional<std::vector<uint8_t>>> FSlots;
  // Reads by ID (grmCurrent) per slot.
  std::map<int32_t, int> FReads;
  bool FFailAdd = false;
  bool FFailUpdate = false;
  bool FThrowOnUpdate = false;
  bool FFailDelete = false;
  bool FThrowOnDelete = false;
};

class FakeIndexPosition : public TORBIndexPosition {
 public:
  void Assign(const TORBIndexPosition& source) override {
    Rank = static_cast<const FakeIndexPosition&>(source).Rank;
  }
  int64_t Rank = -1;
};

// Entries ordered by key columns, equal keys by record ID (as a B-tree
// keeps them). A unique index refuses a duplicate key on insert.
class FakeIndex : public TORBIndex {
 public:
  using TORBIndex::TORBIndex;

  struct Entry {
    std::vector<uint8_t> Record;
    int32_t Slot;
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
    Move(session_id, info, false);
  }
  void GetClosestRecordBuffer(int32_t session_id, TORBNavigationInfo& info, TORBIndexPositionCache*,
                              int32_t) override {
    Move(session_id, info, true);
  }
  std::unique_ptr<TORBIndexPosition> CreateIndexPosition() override { return std::make_unique<FakeIndexPosition>(); }
  bool GetIndexPosition(int32_t, const TORBPageItemID& record_id, const uint8_t* record_buffer,
                        TORBIndexPosition& position) override {
    const int64_t rank = RankOf(record_buffer, record_id.PageNo);
    static_cast<FakeIndexPosition&>(position).Rank = rank;
    return rank >= 0;
  }
  int CompareRecordPositionsInIndex(const TORBIndexPosition& a, const TORBIndexPosition& b) override {
    const int64_t ra = static_cast<const FakeIndexPosition&>(a).Rank;
    const int64_t rb = static_cast<const FakeIndexPosition&>(b).Rank;
    return ra < rb ? -1 : ra > rb ? 1 : 0;
  }
  int64_t GetRecNoByRecordID(int32_t, const TORBPageItemID& record_id, const uint8_t* record_buffer) override {
    const int64_t rank = RankOf(record_buffer, record_id.PageNo);
    return rank < 0 ? -1 : rank + 1;
  }
  TORBPageItemID GetRecordIDByRecNo(int32_t, int64_t rec_no) override {
    return {std::next(FEntries.begin(), rec_no - 1)->Slot, 0};
  }
  void ApplyDistinctToRecordBitmap(int32_t, TORBRecordBitmap* bitmap, int32_t distinct_field_count) override {
    const Entry* last = nullptr;
    int64_t rank = 0;
    for (const Entry& e : FEntries) {
      if (rank < bitmap->GetSize() && bitmap->Bits().GetBit(rank)) {
        if (last != nullptr && CompareKeys(last->Record.data(), e.Record.data(), distinct_field_count) == 0)
          bitmap->Bits().SetBit(rank, false);
        else
          last = &e;
      }
      ++rank;
    }
  }
  std::unique_ptr<TORBIndexSearchInfo> CreateSearchInfo() override { return nullptr; }
  bool FindRecord(int32_t, bool, bool, const TORBScanCondition*, const TORBScanCondition*, uint8_t*, TORBPageItemID&,
                  TORBIndexSearchInfo*) override {
    return false;
  }
  int CompareRecordBuffersByIndex(const uint8_t* a, const uint8_t* b, int32_t field_count) override {
    return CompareKeys(a, b, field_count);
  }
  int CompareConditions(const TORBScanCondition&, const TORBScanCondition&) override { return 0; }
  int64_t GetApproxRangeRecordCount(int32_t, int64_t, const TORBScanCondition*, const TORBScanCondition*) override {
    return 0;
  }
  bool CanInsertRecord(int32_t, const uint8_t* record_buffer) override {
    if (!FIndexDef.FUnique && !FIndexDef.FPrimary) return true;
    for (const Entry& e : FEntries)
      if (CompareKeys(e.Record.data(), record_buffer, FIndexDef.GetColumnCount()) == 0) return false;
    return true;
  }
  bool CanUpdateRecord(int32_t session_id, const uint8_t* old_buffer, const uint8_t* new_buffer) override {
    if (CompareKeys(old_buffer, new_buffer, FIndexDef.GetColumnCount()) == 0) return true;
    return CanInsertRecord(session_id, new_buffer);
  }
  void InsertRecord(TORBCursorInterface* cursor) override {
    if (FFailInsert) RaiseORB(kFakeFailure, "index insert failed");
    Add(cursor->GetCurrentRecordBuffer(), cursor->GetCurrentRecordID().PageNo);
  }
  void DeleteRecord(TORBCursorInterface* cursor) override {
    if (FFailDelete) RaiseORB(kFakeFailure, "index delete failed");
    Remove(cursor->GetCurrentRecordBuffer(), cursor->GetCurrentRecordID().PageNo, 20027);
  }
  void UpdateRecord(TORBCursorInterface* cursor, bool before) override {
    const uint8_t* old_buffer = cursor->GetEditRecordBuffer();
    const uint8_t* new_buffer = cursor->GetCurrentRecordBuffer();
    if (CompareKeys(old_buffer, new_buffer, FIndexDef.GetColumnCount()) == 0) return;
    const int32_t slot = cursor->GetCurrentRecordID().PageNo;
    if (before)
      Remove(old_buffer, slot, 20250);
    else
      Add(new_buffer, slot);
  }
  int64_t GetMaxEntriesPerPage() override { return 1000; }
  void GetRecordIDByIndexPosition(int32_t, const TORBIndexPosition& position, TORBPageItemID& record_id) override {
    record_id = {std::next(FEntries.begin(), static_cast<const FakeIndexPosition&>(position).Rank)->Slot, 0};
  }
  int64_t GetBitNoByIndexPosition(const TORBIndexPosition& position) override {
    return static_cast<const FakeIndexPosition&>(position).Rank;
  }
  void GetIndexPositionByBitNo(int64_t bit_no, TORBIndexPosition& position) override {
    static_cast<FakeIndexPosition&>(position).Rank = bit_no;
  }

  // Record IDs in index order.
  std::vector<int32_t> Slots() const {
    std::vector<int32_t> out;
    for (const Entry& e : FEntries) out.push_back(e.Slot);
    return out;
  }
  // Every entry: record ID and the record it was keyed from.
  std::vector<std::pair<int32_t, std::vector<uint8_t>>> Dump() const {
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> out;
    for (const Entry& e : FEntries) out.emplace_back(e.Slot, e.Record);
    return out;
  }
  // Entries whose key equals the record's key.
  int64_t CountKey(const uint8_t* record) const {
    int64_t n = 0;
    for (const Entry& e : FEntries)
      if (CompareKeys(e.Record.data(), record, FIndexDef.GetColumnCount()) == 0) ++n;
    return n;
  }

  bool FFailInsert = false;
  bool FFailDelete = false;

 private:
  const TORBFieldDefs& Fields() const { return FIndexManager->TableData()->FieldManager()->FieldDefs(); }
  int32_t Size() const { return FIndexManager->TableData()->RecordManager()->FRecordBufferSize; }

  int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t field_count) const {
    for (int32_t c = 0; c < field_count && c < FIndexDef.GetColumnCount(); ++c) {
      const TORBIndexColumn* column = FIndexDef.GetIndexColumn(c);
      const int32_t field_no = Fields().GetDefNumberByName(std::u16string_view(column->GetFieldName()));
      if (field_no < 0) RaiseORB(20043, "Cannot find index field '%s'", {column->GetFieldName()});
      const TORBFieldDef* f = Fields().GetDef(field_no);
      TORBCompareOperand left{a + f->FMemoryOffset, f->FMemoryDataSize, f->FBaseFieldType, CheckNullFlag(field_no, a)};
      TORBCompareOperand right{b + f->FMemoryOffset, f->FMemoryDataSize, f->FBaseFieldType,
                               CheckNullFlag(field_no, b)};
      int order = CompareValueBuffersForOrder(left, right, -1, column->FCaseInsensitive);
      if (column->FDescending) order = -order;
      if (order != 0) return order;
    }
    return 0;
  }
  bool Less(const Entry& e, const uint8_t* record, int32_t slot) const {
    const int order = CompareKeys(e.Record.data(), record, FIndexDef.GetColumnCount());
    return order < 0 || (order == 0 && e.Slot < slot);
  }
  // First entry not before (record, slot).
  std::vector<Entry>::iterator LowerBound(const uint8_t* record, int32_t slot) {
    auto it = FEntries.begin();
    while (it != FEntries.end() && Less(*it, record, slot)) ++it;
    return it;
  }
  int64_t RankOf(const uint8_t* record, int32_t slot) {
    auto it = LowerBound(record, slot);
    if (it == FEntries.end() || it->Slot != slot) return -1;
    return it - FEntries.begin();
  }
  void Add(const uint8_t* record, int32_t slot) {
    if ((FIndexDef.FUnique || FIndexDef.FPrimary) && !CanInsertRecord(0, record))
      RaiseORB(kFakeDuplicate, "duplicate key");
    FEntries.insert(LowerBound(record, slot), Entry{std::vector<uint8_t>(record, record + Size()), slot});
  }
  void Remove(const uint8_t* record, int32_t slot, int32_t code) {
    auto it = LowerBound(record, slot);
    if (it == FEntries.end() || it->Slot != slot) RaiseORB(code, "Index error: cannot delete entry. Entry not found");
    FEntries.erase(it);
  }
  void Fill() {
    FEntries.clear();
    auto* records = static_cast<FakeRecordManager*>(FIndexManager->TableData()->RecordManager());
    for (size_t s = 0; s < records->FSlots.size(); ++s)
      if (records->FSlots[s]) Add(records->FSlots[s]->data(), static_cast<int32_t>(s));
  }
  void Move(int32_t session_id, TORBNavigationInfo& info, bool closest) {
    int64_t rank;
    const bool forward = info.GetRecordMode == grmNext;
    if (info.FirstPosition) {
      rank = forward ? 0 : -1;
    } else if (info.LastPosition) {
      rank = forward ? static_cast<int64_t>(FEntries.size()) : static_cast<int64_t>(FEntries.size()) - 1;
    } else {
      auto it = LowerBound(info.RecordBuffer, info.RecordID.PageNo);
      const int64_t at = it - FEntries.begin();
      const bool on_entry = !closest && it != FEntries.end() && it->Slot == info.RecordID.PageNo;
      // From a record that is gone, the nearest entry after its key is
      // "next", the one before it "prior".
      rank = forward ? (on_entry ? at + 1 : at) : at - 1;
    }
    if (rank < 0) {
      info.FirstPosition = true;
      info.LastPosition = false;
      info.GetRecordResult = grrBOF;
      return;
    }
    if (rank >= static_cast<int64_t>(FEntries.size())) {
      info.FirstPosition = false;
      info.LastPosition = true;
      info.GetRecordResult = grrEOF;
      return;
    }
    info.RecordID = {FEntries[static_cast<size_t>(rank)].Slot, 0};
    info.FirstPosition = false;
    info.LastPosition = false;
    info.GetRecordResult =
        FIndexManager->TableData()->ReadRecordByID(session_id, info.RecordID, info.RecordBuffer);
  }

  std::vector<Entry> FEntries;
};

class FakeDatabaseData : public TORBDatabaseData {
 public:
  FakeDatabaseData() : TORBDatabaseData(u"FAKE", u"DEFAULT") {}
  TORBTableData* CreateTableData(TORBCursorInterface*) override { return nullptr; }
  int32_t GetNewObjectId() override {
    if (FLastObjectID + 1 == FFailAtObjectID) RaiseORB(kFakeFailure, "no object ID");
    return ++FLastObjectID;
  }
  int32_t FLastObjectID = 0;
  // The ID whose allocation fails (0: none).
  int32_t FFailAtObjectID = 0;
};

class FakeTableData : public TORBTableData {
 public:
  FakeTableData(TORBDatabaseData* database_data, const std::u16string& name) : TORBTableData(database_data, name) {}

  void CreateRecordManager() override {
    FRecordManager = std::make_unique<FakeRecordManager>(GetRecordBufferSize());
  }
  void CreateTable(TORBCursorInterface* cursor, const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                   const TORBConstraintDefs& constraint_defs) override {
    CreateFieldManager(field_defs);
    CreateRecordManager();
    CreateIndexManager(index_defs);
    FIndexManager->CreateIndexesByIndexDefs(cursor);
    CreateConstraintManager(constraint_defs);
    FActive = true;
  }
  int64_t GetBitmapRecordCount(int32_t) override { return static_cast<int64_t>(Records()->FSlots.size()); }
  int64_t GetBitmapRecNoByRecordID(const TORBPageItemID& record_id) override { return record_id.PageNo; }
  TORBPageItemID GetRecordIDByBitmapRecNo(int64_t bit_no) override { return {static_cast<int32_t>(bit_no), 0}; }
  void WriteBLOBFieldToRecordBuffer(int32_t, int32_t, TStream&, uint8_t*) override {}
  std::unique_ptr<TStream> InternalCreateBlobStream(TORBCursorInterface*, int32_t, uint8_t*, bool) override {
    return nullptr;
  }
  std::vector<uint8_t> GetDirectBlobData(int32_t, int32_t, const uint8_t*) override { return {}; }
  void SetDirectBlobData(int32_t, int32_t, uint8_t*, const std::vector<uint8_t>&) override {}
  void FreeDirectBlobData(int32_t, int32_t, uint8_t*) override {}
  TORBPageItemID InternalSetRecNo(int32_t, int64_t rec_no) override {
    int64_t n = 0;
    for (size_t s = 0; s < Records()->FSlots.size(); ++s)
      if (Records()->FSlots[s] && ++n == rec_no) return {static_cast<int32_t>(s), 0};
    return {-1, 0};
  }
  int64_t InternalGetRecNo(int32_t, const TORBPageItemID& record_id) override {
    int64_t n = 0;
    for (size_t s = 0; s < Records()->FSlots.size(); ++s) {
      if (Records()->FSlots[s]) ++n;
      if (static_cast<int32_t>(s) == record_id.PageNo) return Records()->FSlots[s] ? n : -1;
    }
    return -1;
  }
  int64_t InternalGetRecordCount(int32_t) override { return Records()->FRecordCount; }
  std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef& index_def) override {
    // None: the index manager makes the B-tree record index.
    if (FRecordIndexes) return nullptr;
    return std::make_unique<FakeIndex>(index_def, FIndexManager.get());
  }
  // Real B-tree record indexes on `page_manager` instead of the fake ones.
  // REQUIRES: called before the table is created.
  void UseRecordIndexes(TORBPageManager* page_manager) {
    FPageManager = page_manager;
    FRecordIndexes = true;
  }
  void ApplyChanges(int32_t, bool in_transaction) override {
    if (!in_transaction) ++FApplied;
  }
  void CancelChanges(int32_t, bool in_transaction) override {
    if (!in_transaction) ++FCancelled;
  }

  FakeRecordManager* Records() const { return static_cast<FakeRecordManager*>(FRecordManager.get()); }
  FakeIndex* Index(int32_t index_id) const { return static_cast<FakeIndex*>(FIndexManager->OpenIndex(index_id)); }
  FakeIndex* IndexByName(const std::string& name) const {
    return Index(FIndexManager->IndexDefs().GetIndexDefByName(std::string_view(name))->FObjectID);
  }

  int FApplied = 0;
  int FCancelled = 0;
  bool FRecordIndexes = false;
};

// A cursor with its own buffers; its filter reads its current buffer.
class FakeCursor : public TORBCursorInterface, public TORBFieldResolver {
 public:
  explicit FakeCursor(FakeTableData* table, int32_t session_id = 0)
      : FTable(table), FSessionID(session_id), FBitmap(table) {
    FTable->InitCursor(this);
    FCurrent.assign(static_cast<size_t>(FRecordBufferSize), 0);
    FEdit.assign(static_cast<size_t>(FRecordBufferSize), 0);
    FCurrentPtr = FCurrent.data();
    FEditPtr = FEdit.data();
    FTable->OpenTable(this);
  }
  ~FakeCursor() override { FTable->CloseTable(this); }

  int32_t GetSessionID() const override { return FSessionID; }
  bool InTransaction() const override { return FInTransaction; }
  const std::u16string& GetTableName() const override { return FTable->TableName(); }
  bool IsTemporary() const override { return false; }
  uint8_t* GetCurrentRecordBuffer() const override { return FCurrentPtr; }
  void SetCurrentRecordBuffer(uint8_t* buffer) override { FCurrentPtr = buffer; }
  uint8_t* GetEditRecordBuffer() const override { return FEditPtr; }
  void SetEditRecordBuffer(uint8_t* buffer) override { FEditPtr = buffer; }
  uint8_t* GetDistinctRecordBuffer() const override { return FDistinct; }
  void SetDistinctRecordBuffer(uint8_t* buffer) override { FDistinct = buffer; }
  void SetRecordBufferSize(int32_t size) override { FRecordBufferSize = size; }
  void SetFieldValuesOffset(int32_t offset) override { FFieldValuesOffset = offset; }
  TORBPageItemID GetCurrentRecordID() const override { return FRecordID; }
  void SetCurrentRecordID(const TORBPageItemID& id) override { FRecordID = id; }
  bool GetFirstPosition() const override { return FBOF; }
  void SetFirstPosition(bool value) override { FBOF = value; }
  bool GetLastPosition() const override { return FEOF; }
  void SetLastPosition(bool value) override { FEOF = value; }
  int32_t GetIndexID() const override { return FIndexID; }
  const uint8_t* GetRangeStartBuffer() const override { return FRangeStart.empty() ? nullptr : FRangeStart.data(); }
  const uint8_t* GetRangeEndBuffer() const override { return FRangeEnd.empty() ? nullptr : FRangeEnd.data(); }
  int32_t GetRangeStartKeyFieldCount() const override { return FRangeStartCount; }
  int32_t GetRangeEndKeyFieldCount() const override { return FRangeEndCount; }
  bool GetRangeStartExclusive() const override { return FRangeStartExclusive; }
  bool GetRangeEndExclusive() const override { return FRangeEndExclusive; }
  TORBExpression* GetFilterExpression() const override { return FFilter.get(); }
  TORBExpression* GetSQLFilterExpression() const override { return nullptr; }
  bool HasRecordFilter() const override { return static_cast<bool>(FRecordFilter); }
  bool FilterRecord(const uint8_t* record_buffer) override { return FRecordFilter(record_buffer); }
  int32_t GetDistinctFieldCount() const override { return FDistinctCount; }
  TORBRecordBitmap* GetRecordBitmap() const override { return &FBitmap; }
  TORBIndexPositionCache* GetIndexPositionCache() const override { return &FCache; }

  bool FindField(std::u16string_view, std::u16string_view field_name, TORBFieldInfo& info) override {
    const TORBFieldDefs& defs = FTable->FieldManager()->FieldDefs();
    const int32_t no = defs.GetDefNumberByName(field_name);
    if (no < 0) return false;
    info.FieldNo = no;
    info.FieldType = defs.GetDef(no)->FAdvancedFieldType;
    info.BaseFieldType = defs.GetDef(no)->FBaseFieldType;
    info.FieldSize = defs.GetDef(no)->FFieldSize;
    return true;
  }
  void ReadFieldValue(const TORBFieldInfo& info, TORBVariant& value) override {
    const TORBFieldDef* f = FTable->FieldManager()->FieldDefs().GetDef(info.FieldNo);
    if (CheckNullFlag(info.FieldNo, FCurrentPtr))
      value.Clear(f->FBaseFieldType);
    else
      value.SetData(FCurrentPtr + f->FMemoryOffset, f->FMemoryDataSize, f->FBaseFieldType, false);
  }

  // View changes clear the bitmap, as the cursor does.
  void SetFilter(const std::string& text) {
    FFilter = std::make_unique<TORBExpression>();
    FFilter->ParseForFilter(this, Utf8ToWide(text), false, false);
    FBitmap.Clear();
  }
  void SetIndex(int32_t index_id) {
    FIndexID = index_id;
    FCache.Invalidate();
    FBitmap.Clear();
  }
  void First() {
    FBOF = true;
    FEOF = false;
  }
  void Last() {
    FBOF = false;
    FEOF = true;
  }

  FakeTableData* FTable;
  int32_t FSessionID;
  bool FInTransaction = false;
  std::vector<uint8_t> FCurrent, FEdit;
  uint8_t* FCurrentPtr = nullptr;
  uint8_t* FEditPtr = nullptr;
  uint8_t* FDistinct = nullptr;
  int32_t FRecordBufferSize = 0;
  int32_t FFieldValuesOffset = 0;
  TORBPageItemID FRecordID{};
  bool FBOF = true;
  bool FEOF = false;
  int32_t FIndexID = -1;
  std::vector<uint8_t> FRangeStart, FRangeEnd;
  int32_t FRangeStartCount = 0, FRangeEndCount = 0;
  bool FRangeStartExclusive = false, FRangeEndExclusive = false;
  std::unique_ptr<TORBExpression> FFilter;
  std::function<bool(const uint8_t*)> FRecordFilter;
  int32_t FDistinctCount = 0;
  mutable TORBRecordBitmap FBitmap;
  mutable TORBIndexPositionCache FCache;
};

// Integer fields of a record buffer.
inline void SetInt(const FakeTableData& table, uint8_t* record, int32_t field_no, std::optional<int32_t> value) {
  const TORBFieldDef* f = table.FieldManager()->FieldDefs().GetDef(field_no);
  SetNullFlag(!value.has_value(), field_no, record);
  int32_t v = value.value_or(0);
  std::memcpy(record + f->FMemoryOffset, &v, sizeof v);
}
inline std::optional<int32_t> GetInt(const FakeTableData& table, const uint8_t* record, int32_t field_no) {
  if (CheckNullFlag(field_no, record)) return std::nullopt;
  int32_t v;
  std::memcpy(&v, record + table.FieldManager()->FieldDefs().GetDef(field_no)->FMemoryOffset, sizeof v);
  return v;
}

inline void AddIntField(TORBFieldDefs& defs, const std::u16string& name) {
  TORBFieldDef* f = defs.AddCreated();
  f->SetName(std::u16string_view(name));
  f->SetFieldDefDataType(aftInteger, 0);
}

inline TORBIndexDef* AddIndexDef(TORBIndexDefs& defs, const std::string& name,
                                 const std::vector<std::u16string>& columns, bool unique = false) {
  TORBIndexDef* d = defs.AddCreated();
  d->SetName(std::string_view(name));
  d->SetColumnCount(static_cast<int32_t>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) d->GetIndexColumn(static_cast<int32_t>(i))->SetFieldName(columns[i]);
  d->FUnique = unique;
  return d;
}

}  // namespace orb::test
