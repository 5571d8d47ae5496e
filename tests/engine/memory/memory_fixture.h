#pragma once

// A cursor over any table data, integer and BLOB field helpers, and an
// injected free-memory figure for the tests of in-memory and temporary
// tables.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/field_defs.h"
#include "engine/base/record_layout.h"
#include "engine/base/stream_memory.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/record_bitmap.h"
#include "engine/data/index.h"
#include "engine/data/table_data.h"
#include "engine/platform/memory_info.h"

namespace orb::test {

// Sets the free-memory figure for its lifetime.
class FreeMemoryOverride {
 public:
  explicit FreeMemoryOverride(int64_t bytes) {
    SetAvailableMemoryProvider([bytes] { return bytes; });
  }
  ~FreeMemoryOverride() { SetAvailableMemoryProvider({}); }
  FreeMemoryOverride(const FreeMemoryOverride&) = delete;
  FreeMemoryOverride& operator=(const FreeMemoryOverride&) = delete;
};

class TestCursor : public TORBCursorInterface {
 public:
  explicit TestCursor(TORBTableData* table, std::u16string table_name = u"T")
      : FTable(table), FTableName(std::move(table_name)) {}
  ~TestCursor() override {
    if (FOpen) FTable->CloseTable(this);
  }
  // After CreateTable (which sized the buffers through InitCursor).
  void Open() {
    FBitmap = std::make_unique<TORBRecordBitmap>(FTable);
    FTable->InitCursor(this);
    FTable->OpenTable(this);
    FOpen = true;
  }
  void Close() {
    if (FOpen) FTable->CloseTable(this);
    FOpen = false;
  }

  int32_t GetSessionID() const override { return 0; }
  bool InTransaction() const override { return FInTransaction; }
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

  void SetIndex(int32_t index_id) {
    FIndexID = index_id;
    FCache.Invalidate();
    if (FBitmap != nullptr) FBitmap->Clear();
  }
  void First() {
    FBOF = true;
    FEOF = false;
  }
  void Last() {
    FBOF = false;
    FEOF = true;
  }
  // Reads the record `id` into the current buffer (and the edit buffer,
  // as a cursor does before editing).
  bool MoveTo(const TORBPageItemID& id) {
    FBOF = false;
    FEOF = false;
    FRecordID = id;
    if (FTable->GetRecordBuffer(this, grmCurrent) != grrOK) return false;
    std::memcpy(FEditPtr, FCurrentPtr, FCurrent.size());
    return true;
  }

  TORBTableData* FTable;
  std::u16string FTableName;
  bool FOpen = false;
  bool FInTransaction = false;
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

inline void AddField(TORBFieldDefs& defs, const std::u16string& name, TORBAdvancedFieldType type,
                     int32_t size = 0) {
  TORBFieldDef* f = defs.AddCreated();
  f->SetName(std::u16string_view(name));
  f->SetFieldDefDataType(type, size);
}

inline void SetInt(const TORBTableData& table, uint8_t* record, int32_t field_no, std::optional<int32_t> value) {
  const TORBFieldDef* f = table.FieldManager()->FieldDefs().GetDef(field_no);
  SetNullFlag(!value.has_value(), field_no, record);
  const int32_t v = value.value_or(0);
  std::memcpy(record + f->FMemoryOffset, &v, sizeof v);
}

inline std::optional<int32_t> GetInt(const TORBTableData& table, const uint8_t* record, int32_t field_no) {
  if (CheckNullFlag(field_no, record)) return std::nullopt;
  const TORBFieldDef* f = table.FieldManager()->FieldDefs().GetDef(field_no);
  int32_t v = 0;
  std::memcpy(&v, record + f->FMemoryOffset, sizeof v);
  return v;
}

// Writes `text` as the BLOB value of the cursor's current buffer.
inline void WriteBlob(TORBTableData& table, TestCursor& cursor, int32_t field_no, const std::string& text) {
  TORBMemoryStream source;
  if (!text.empty()) source.Write(text.data(), static_cast<int64_t>(text.size()));
  table.WriteBLOBFieldToRecordBuffer(0, field_no, source, cursor.GetCurrentRecordBuffer());
}

// The BLOB value of the cursor's current buffer.
inline std::string ReadBlob(TORBTableData& table, TestCursor& cursor, int32_t field_no) {
  std::unique_ptr<TStream> stream =
      table.InternalCreateBlobStream(&cursor, field_no, cursor.GetCurrentRecordBuffer(), false);
  std::string text(static_cast<size_t>(stream->GetSize()), '\0');
  stream->SetPosition(0);
  EXPECT_EQ(stream->Read(text.data(), static_cast<int64_t>(text.size())), static_cast<int64_t>(text.size()));
  return text;
}

// Values of field `field_no` in physical order.
inline std::vector<int32_t> WalkInts(TORBTableData& table, TestCursor& cursor, int32_t field_no,
                                     bool forward = true) {
  std::vector<int32_t> values;
  if (forward)
    cursor.First();
  else
    cursor.Last();
  while (table.GetRecordBuffer(&cursor, forward ? grmNext : grmPrior) == grrOK)
    values.push_back(GetInt(table, cursor.GetCurrentRecordBuffer(), field_no).value_or(-1));
  return values;
}

}  // namespace orb::test
