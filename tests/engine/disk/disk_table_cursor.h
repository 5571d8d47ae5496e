#pragma once

// A small cursor and session for driving disk tables in tests and child
// programs (no test framework here): a session link, a cursor over a
// TORBDiskTableData, and the test table's layout: ID integer, VAL integer,
// MEMO memo.

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/field_defs.h"
#include "engine/base/index_defs.h"
#include "engine/base/record_layout.h"
#include "engine/base/stream_memory.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/index.h"
#include "engine/data/record_bitmap.h"
#include "engine/disk/disk_database_data.h"
#include "engine/disk/disk_session_link.h"
#include "engine/disk/disk_table_data.h"

namespace orb::disktest {

inline constexpr int32_t kID = 0;
inline constexpr int32_t kVal = 1;
inline constexpr int32_t kMemo = 2;

class TLink : public TORBDiskSessionLink {
 public:
  explicit TLink(bool multi_user = false) : FMulti(multi_user) {}
  int32_t GetSessionID() const override { return FId; }
  void SetSessionID(int32_t id) override { FId = id; }
  bool GetExclusive() const override { return FExclusive; }
  bool GetMultiUser() const override { return FMulti; }
  void SetMultiUser(bool multi_user) override { FMulti = multi_user; }
  void SetRepairNeeded(bool repair) override { FRepair = repair; }
  bool GetInTransaction() const override { return FInTransaction; }

  int32_t FId = -1;
  bool FMulti;
  bool FRepair = false;
  bool FInTransaction = false;
  bool FExclusive = false;
};

class TDiskCursor : public TORBCursorInterface {
 public:
  TDiskCursor(TORBDiskDatabaseData* database, TLink* link, std::u16string table_name)
      : FDatabase(database), FLink(link), FTableName(std::move(table_name)) {
    FTable = static_cast<TORBDiskTableData*>(database->FindOrCreateTableData(this));
  }
  ~TDiskCursor() override {
    try {
      Close();
    } catch (...) {
    }
  }
  void Open() {
    FBitmap = std::make_unique<TORBRecordBitmap>(FTable);
    FTable->OpenTable(this);
    FOpen = true;
    First();
  }
  void Close() {
    if (FOpen) {
      FTable->ClearBlobsCacheInRecordBuffer(FCurrentPtr);
      FTable->CloseTable(this);
    }
    FOpen = false;
  }

  int32_t GetSessionID() const override { return FLink->FId; }
  bool InTransaction() const override { return FLink->FInTransaction; }
  const std::u16string& GetTableName() const override { return FTableName; }
  bool IsTemporary() const override { return false; }
  uint8_t* GetCurrentRecordBuffer() const override { return FCurrentPtr; }
  void SetCurrentRecordBuffer(uint8_t* buffer) override { FCurrentPtr = buffer; }
  uint8_t* GetEditRecordBuffer() const override { return FEditPtr; }
  void SetEditRecordBuffer(uint8_t* buffer) override { FEditPtr = buffer; }
  uint8_t* GetDistinctRecordBuffer() const override { return FDistinct; }
  void SetDistinctRecordBuffer(uint8_t* buffer) override { FDistinct = buffer; }
  void SetRecordBufferSize(int32_t size) override {
    FCurrent.assign(static_cast<size_t>(std::max(size, 1)), 0);
    FEdit.assign(static_cast<size_t>(std::max(size, 1)), 0);
    FCurrentPtr = FCurrent.data();
    FEditPtr = FEdit.data();
  }
  void SetFieldValuesOffset(int32_t) override {}
  TORBPageItemID GetCurrentRecordID() const override { return FRecordID; }
  void SetCurrentRecordID(const TORBPageItemID& id) override { FRecordID = id; }
  bool GetFirstPosition() const override { return FBOF; }
  void SetFirstPosition(bool value) override { FBOF = value; }
  bool GetLastPosition() const override { return FEOF; }
  void SetLastPosition(bool value) override { FEOF = value; }
  int32_t GetIndexID() const override { return FIndexID; }
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
  TORBRecordBitmap* GetRecordBitmap() const override { return FBitmap.get(); }
  TORBIndexPositionCache* GetIndexPositionCache() const override { return &FCache; }

  void First() {
    FBOF = true;
    FEOF = false;
  }
  void SetIndex(int32_t index_id) {
    FIndexID = index_id;
    FCache.Invalidate();
    if (FBitmap != nullptr) FBitmap->Clear();
  }
  bool Next() { return FTable->GetRecordBuffer(this, grmNext) == grrOK; }
  // Reads row `id` into the current and edit buffers, as a cursor does
  // before editing.
  bool MoveTo(const TORBPageItemID& id) {
    FBOF = false;
    FEOF = false;
    FRecordID = id;
    if (FTable->GetRecordBuffer(this, grmCurrent) != grrOK) return false;
    std::memcpy(FEditPtr, FCurrentPtr, FCurrent.size());
    return true;
  }

  // Field values of the current buffer.
  void Clear() {
    FTable->ClearBlobsCacheInRecordBuffer(FCurrentPtr);
    std::fill(FCurrent.begin(), FCurrent.end(), uint8_t{0});
    for (int32_t i = 0; i < FTable->FieldManager()->FieldDefs().GetCount(); ++i) SetNullFlag(true, i, FCurrentPtr);
  }
  void SetInt(int32_t field_no, std::optional<int32_t> value) {
    const TORBFieldDef* f = FTable->FieldManager()->FieldDefs().GetDef(field_no);
    SetNullFlag(!value.has_value(), field_no, FCurrentPtr);
    const int32_t v = value.value_or(0);
    std::memcpy(FCurrentPtr + f->FMemoryOffset, &v, sizeof v);
  }
  std::optional<int32_t> GetInt(int32_t field_no) const {
    if (CheckNullFlag(field_no, FCurrentPtr)) return std::nullopt;
    const TORBFieldDef* f = FTable->FieldManager()->FieldDefs().GetDef(field_no);
    int32_t v = 0;
    std::memcpy(&v, FCurrentPtr + f->FMemoryOffset, sizeof v);
    return v;
  }
  void SetText(int32_t field_no, const std::string& text) {
    TORBMemoryStream source;
    if (!text.empty()) source.Write(text.data(), static_cast<int64_t>(text.size()));
    FTable->WriteBLOBFieldToRecordBuffer(GetSessionID(), field_no, source, FCurrentPtr);
  }
  std::string GetText(int32_t field_no) {
    std::unique_ptr<TStream> stream = FTable->InternalCreateBlobStream(this, field_no, FCurrentPtr, false);
    std::string text(static_cast<size_t>(stream->GetSize()), '\0');
    stream->SetPosition(0);
    const int64_t read = stream->Read(text.data(), static_cast<int64_t>(text.size()));
    text.resize(static_cast<size_t>(std::max<int64_t>(read, 0)));
    return text;
  }

  // Posts a new row; its id is the cursor's current record id.
  bool Insert(int32_t id, std::optional<int32_t> val, const std::optional<std::string>& memo = std::nullopt) {
    Clear();
    SetInt(kID, id);
    SetInt(kVal, val);
    if (memo.has_value()) SetText(kMemo, *memo);
    return FTable->InsertRecord(this);
  }
  // Rows' (ID, VAL) in the cursor's order.
  std::vector<std::pair<int32_t, int32_t>> Rows() {
    std::vector<std::pair<int32_t, int32_t>> rows;
    First();
    while (Next()) rows.emplace_back(GetInt(kID).value_or(-1), GetInt(kVal).value_or(-1));
    return rows;
  }
  int64_t Count() { return FTable->InternalGetRecordCount(GetSessionID()); }

  TORBDiskDatabaseData* FDatabase;
  TLink* FLink;
  std::u16string FTableName;
  TORBDiskTableData* FTable;
  bool FOpen = false;
  std::vector<uint8_t> FCurrent, FEdit;
  uint8_t* FCurrentPtr = nullptr;
  uint8_t* FEditPtr = nullptr;
  uint8_t* FDistinct = nullptr;
  TORBPageItemID FRecordID{};
  bool FBOF = true;
  bool FEOF = false;
  int32_t FIndexID = -1;
  std::unique_ptr<TORBRecordBitmap> FBitmap;
  mutable TORBIndexPositionCache FCache;
};

inline void AddField(TORBFieldDefs& defs, const std::u16string& name, TORBAdvancedFieldType type, int32_t size = 0) {
  TORBFieldDef* f = defs.AddCreated();
  f->SetName(std::u16string_view(name));
  f->SetFieldDefDataType(type, size);
}

inline TORBIndexDef* AddIndexDef(TORBIndexDefs& defs, const std::string& name,
                                 const std::vector<std::u16string>& columns, bool unique) {
  TORBIndexDef* d = defs.AddCreated();
  d->SetName(std::string_view(name));
  d->SetColumnCount(static_cast<int32_t>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) d->GetIndexColumn(static_cast<int32_t>(i))->SetFieldName(columns[i]);
  d->FUnique = unique;
  return d;
}

// What a test table is made of.
struct TTableSpec {
  // Of the memo field.
  TORBCompressionAlgorithm Algorithm = acaNone;
  // An index BY_ID on ID: none, plain or unique.
  enum { kNone, kPlain, kUnique } IdIndex = kNone;
  bool NoFields = false;
  // An index naming a field the table does not have.
  bool BadIndex = false;
};

// Creates table `name` (ID integer, VAL integer, MEMO memo) through a
// fresh cursor of `link`; the table is left closed.
inline void CreateTestTable(TORBDiskDatabaseData* database, TLink* link, const std::u16string& name,
                            const TTableSpec& spec = {}) {
  TORBFieldDefs fields;
  if (!spec.NoFields) {
    AddField(fields, u"ID", aftInteger);
    AddField(fields, u"VAL", aftInteger);
    AddField(fields, u"MEMO", aftMemo);
    fields.GetDef(kMemo)->FBLOBCompressionAlgorithm = spec.Algorithm;
    fields.GetDef(kMemo)->FBLOBCompressionMode = spec.Algorithm == acaNone ? 0 : 1;
  }
  TORBIndexDefs indexes;
  if (spec.IdIndex != TTableSpec::kNone) AddIndexDef(indexes, "BY_ID", {u"ID"}, spec.IdIndex == TTableSpec::kUnique);
  if (spec.BadIndex) AddIndexDef(indexes, "BAD", {u"NOPE"}, false);
  TDiskCursor cursor(database, link, name);
  cursor.FTable->CreateTable(&cursor, fields, indexes, TORBConstraintDefs());
}

}  // namespace orb::disktest
