#pragma once

// A cursor: one user's view of one table. It knows the table's record
// layout in a record buffer, where it stands (current record, before the
// first, after the last) and which index, range, filter, distinct set and
// projection restrict what it sees. The table data does the navigation
// and keeps its per-cursor state through TORBCursorInterface.
//
// Record buffer seen by a cursor:
// | offset                 | size | meaning                                  |
// |                      0 | B    | null flags and field values, the table's |
// |                        |      | memory record layout (B = BookmarkOffset)|
// |                      B | 6    | bookmark: record ID, page number int32   |
// |                        |      | then item number uint16, little-endian;  |
// |                        |      | -1 / 0xFFFF for a record not yet stored  |
// |                  B + 6 | 1    | bookmark flag: 0 current, 1 before first,|
// |                        |      | 2 after last, 3 inserted                 |
// |                  B + 7 | n    | calculated fields (the dataset's)        |
// A key buffer is the record data followed by 6 bytes of key state kept by
// its owner at KeyOffset (= B).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/constraint_defs.h"
#include "engine/base/field_defs.h"
#include "engine/base/index_defs.h"
#include "engine/base/page_item_id.h"
#include "engine/base/variant.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/index.h"
#include "engine/data/record_bitmap.h"
#include "engine/expr/expression.h"
#include "engine/expr/field_resolver.h"

namespace orb {

class TORBBaseSession;

// Error codes of the cursor.
inline constexpr int32_t kErrGetFieldDataNo = 10005;
inline constexpr int32_t kErrSetFieldDataNo = 10006;
inline constexpr int32_t kErrGetFieldValueNo = 10317;
inline constexpr int32_t kErrGetFieldValueDirectNo = 20191;
inline constexpr int32_t kErrSetFieldValueDirectNo = 20192;
inline constexpr int32_t kErrSetFieldValueNo = 20193;
inline constexpr int32_t kErrProjectionLengths = 10321;
inline constexpr int32_t kErrProjectionEmpty = 10322;
inline constexpr int32_t kErrProjectionField = 10323;
inline constexpr int32_t kErrCopyFieldSourceNo = 10501;
inline constexpr int32_t kErrCopyFieldDestNo = 10502;

// Bookmark flags of a record buffer.
enum TORBBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

inline constexpr int32_t kBookmarkSize = 6;

class TORBCursor : public TORBCursorInterface, public TORBFieldResolver {
 public:
  using TFilterRecordFunc = std::function<bool(const uint8_t* record_buffer, void* owner)>;

  TORBCursor();
  ~TORBCursor() override;

  // --- TORBCursorInterface ---

  int32_t GetSessionID() const override;
  // True inside the session's transaction, and inside a batch update on a
  // table whose changes a batch holds back (BatchDefersChanges).
  bool InTransaction() const override;
  // The session's explicit transaction only.
  bool SessionInTransaction() const;
  // Whether the open table holds a batch's changes back until the batch
  // ends; tables that apply every change in place say no.
  virtual bool BatchDefersChanges() const { return false; }
  const std::u16string& GetTableName() const override { return FTableName; }
  bool IsTemporary() const override { return FTemporary; }
  bool GetDisableTempFiles() const override { return FDisableTempFiles; }
  uint8_t* GetCurrentRecordBuffer() const override { return FCurrentRecordBuffer; }
  void SetCurrentRecordBuffer(uint8_t* buffer) override { FCurrentRecordBuffer = buffer; }
  uint8_t* GetEditRecordBuffer() const override { return FEditRecordBuffer; }
  void SetEditRecordBuffer(uint8_t* buffer) override { FEditRecordBuffer = buffer; }
  uint8_t* GetDistinctRecordBuffer() const override { return FDistinctRecordBuffer; }
  void SetDistinctRecordBuffer(uint8_t* buffer) override { FDistinctRecordBuffer = buffer; }
  // The cursor lays out its buffers itself (InternalInitFieldDefs).
  void SetRecordBufferSize(int32_t /*size*/) override {}
  void SetFieldValuesOffset(int32_t /*offset*/) override {}
  TORBPageItemID GetCurrentRecordID() const override { return FCurrentRecordID; }
  void SetCurrentRecordID(const TORBPageItemID& record_id) override { FCurrentRecordID = record_id; }
  bool GetFirstPosition() const override { return FFirstPosition; }
  void SetFirstPosition(bool value) override { FFirstPosition = value; }
  bool GetLastPosition() const override { return FLastPosition; }
  void SetLastPosition(bool value) override { FLastPosition = value; }
  int32_t GetIndexID() const override { return FIndexID; }
  const uint8_t* GetRangeStartBuffer() const override { return FRangeStartBuffer; }
  const uint8_t* GetRangeEndBuffer() const override { return FRangeEndBuffer; }
  int32_t GetRangeStartKeyFieldCount() const override { return FRangeStartKeyFieldCount; }
  int32_t GetRangeEndKeyFieldCount() const override { return FRangeEndKeyFieldCount; }
  bool GetRangeStartExclusive() const override { return FRangeStartExclusive; }
  bool GetRangeEndExclusive() const override { return FRangeEndExclusive; }
  TORBExpression* GetFilterExpression() const override { return FFilterExpression.get(); }
  TORBExpression* GetSQLFilterExpression() const override { return FSQLFilterExpression; }
  bool HasRecordFilter() const override { return static_cast<bool>(FFilterRecord); }
  bool FilterRecord(const uint8_t* record_buffer) override { return FFilterRecord(record_buffer, FDataset); }
  int32_t GetDistinctFieldCount() const override { return FDistinctFieldCount; }
  // Shows one record per distinct value of the first `count` fields of
  // the active index (0: every record).
  void SetDistinctFieldCount(int32_t count) { FDistinctFieldCount = count; }
  TORBRecordBitmap* GetRecordBitmap() const override { return FRecordBitmap.get(); }
  TORBIndexPositionCache* GetIndexPositionCache() const override { return &FIndexPositionCache; }

  // --- TORBFieldResolver: filters read the current record buffer ---

  // Visible names first (projection aliases), then physical names.
  bool FindField(std::u16string_view table_name, std::u16string_view field_name, TORBFieldInfo& info) override;
  void ReadFieldValue(const TORBFieldInfo& info, TORBVariant& value) override;

  // --- Geometry ---

  // Rebuilds FieldDefs (and VisibleFieldDefs unless a projection is being
  // set) from the table's definitions and lays out the record buffer.
  virtual void InternalInitFieldDefs() = 0;
  // Offsets from FFieldDefs (memory offsets already computed).
  void ComputeBufferLayout();

  // --- Buffers (zero-filled record buffers, uninitialised key buffers) ---

  uint8_t* AllocateRecordBuffer() const;
  virtual void FreeRecordBuffer(uint8_t*& buffer);
  uint8_t* AllocateKeyRecordBuffer() const;
  void FreeKeyRecordBuffer(uint8_t*& buffer) const;
  // Zeroes the key buffer, then every field null.
  void InternalInitKeyBuffer(uint8_t* buffer);
  virtual void InternalInitRecord(uint8_t* buffer, bool inserting) = 0;
  // The bookmark (record ID) and bookmark flag of a record buffer.
  TORBPageItemID GetBookmark(const uint8_t* record_buffer) const;
  void SetBookmark(uint8_t* record_buffer, const TORBPageItemID& record_id) const;
  uint8_t GetBookmarkFlag(const uint8_t* record_buffer) const;
  void SetBookmarkFlag(uint8_t* record_buffer, uint8_t flag) const;

  // --- Field access ---

  int32_t VisibleFieldCount() const { return FVisibleFieldDefs.GetCount(); }
  // The physical field number of visible field `field_no` (unchecked).
  int32_t PhysicalFieldNo(int32_t field_no) const;
  // Field data in the framework's form (see field_data.h); true when not
  // null. 10005 / 10006 out of range.
  bool GetFieldData(int32_t field_no, void* buffer, const uint8_t* record_buffer) const;
  void SetFieldData(int32_t field_no, const void* buffer, uint8_t* record_buffer);
  // The field of the current record buffer as a value (null or the
  // field's bytes). Direct: physical numbers.
  void GetFieldValue(TORBVariant& value, int32_t field_no, bool direct) const;
  // Null sets the null flag; else the value is cast to the field's type
  // and copied in. `record_buffer` null: the current one.
  void SetFieldValue(const TORBVariant& value, int32_t field_no, bool direct, uint8_t* record_buffer = nullptr);
  // Zeroes the unused tail of every string field (the whole area of a null
  // one), so that equal keys are equal byte for byte.
  void ClearStringFieldsGarbage(uint8_t* record_buffer) const;
  virtual void CopyFieldValue(int32_t source_field_no, bool direct, int32_t dest_field_no,
                              TORBCursor& dest_cursor) = 0;

  // --- Positions ---

  TORBCursorPosition SaveCursorPosition() const { return SavePosition(); }
  void RestoreCursorPosition(const TORBCursorPosition& position) { RestorePosition(position); }

  // --- View ---

  // Stores the name and the index's object ID (-1 when unknown).
  void SetIndexName(const std::u16string& name);
  bool IsIndexApplied() const { return FIndexID != -1; }
  // Bounds are key buffers owned by the caller; null = open.
  void ApplyRange(const uint8_t* start_buffer, const uint8_t* end_buffer, int32_t start_key_field_count,
                  int32_t end_key_field_count, bool start_exclusive, bool end_exclusive);
  void ResetRange();
  // Rebuilds VisibleFieldDefs: the named fields in order, renamed to their
  // aliases (an empty alias keeps the name; a taken name gets "_1", "_2").
  void ApplyProjection(const std::vector<std::u16string>& field_names, const std::vector<std::u16string>& aliases);
  // The SQL engine's filter; it keeps ownership.
  void SetSQLFilter(TORBExpression* expression);
  void SetRecordFilter(TFilterRecordFunc filter, void* dataset);
  void DisableRecordBitmap();

  // --- Settings and state ---

  bool FSettingProjection = false;
  std::u16string FTableName;
  std::u16string FIndexName;
  int32_t FIndexID = -1;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  bool FTemporary = false;
  TORBBaseSession* FSession = nullptr;
  bool FIsOpen = false;
  uint8_t* FCurrentRecordBuffer = nullptr;
  uint8_t* FDistinctRecordBuffer = nullptr;
  uint8_t* FEditRecordBuffer = nullptr;
  TORBConstraintDefs FConstraintDefs;
  TORBFieldDefs FFieldDefs;
  TORBFieldDefs FVisibleFieldDefs;
  TORBIndexDefs FIndexDefs;
  std::unique_ptr<TORBRecordBitmap> FRecordBitmap;
  mutable TORBIndexPositionCache FIndexPositionCache;
  bool FTableLockedByCursor = false;
  bool FBatchUpdate = false;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  // Status of the last record operation: 0 or -1 .. -13.
  int32_t FErrorCode = 0;
  std::string FErrorMessage;
  bool FIsDesignMode = false;
  int32_t FRecordBufferSize = 0;
  int32_t FRecordSize = 0;
  int32_t FKeyBufferSize = 0;
  int32_t FKeyOffset = 0;
  int32_t FFieldValuesOffset = 0;
  int32_t FCalculatedFieldsOffset = 0;
  int32_t FBookmarkOffset = 0;
  uint8_t* FKeyBuffer = nullptr;
  TORBPageItemID FCurrentRecordID{};
  bool FFirstPosition = true;
  bool FLastPosition = false;
  void* FDataset = nullptr;

 protected:
  // 0..count-1 or `code`.
  void CheckFieldNo(int32_t field_no, int32_t count, int32_t code) const;
  // The physical field of a visible or direct number, checked with `code`.
  const TORBFieldDef& FieldOf(int32_t field_no, bool direct, int32_t code) const;

  std::unique_ptr<TORBExpression> FFilterExpression;
  TORBExpression* FSQLFilterExpression = nullptr;
  const uint8_t* FRangeStartBuffer = nullptr;
  const uint8_t* FRangeEndBuffer = nullptr;
  bool FRangeStartExclusive = false;
  bool FRangeEndExclusive = false;
  int32_t FRangeStartKeyFieldCount = 0;
  int32_t FRangeEndKeyFieldCount = 0;
  int32_t FDistinctFieldCount = 0;
  TFilterRecordFunc FFilterRecord;
};

}  // namespace orb
