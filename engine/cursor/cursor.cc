#include "engine/cursor/cursor.h"

#include <algorithm>
#include <cstring>

#include "engine/base/field_manager.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/platform/codepage.h"
#include "engine/session/base_session.h"
#include "engine/table/memory_manager.h"

namespace orb {

TORBCursor::TORBCursor() = default;

TORBCursor::~TORBCursor() = default;

int32_t TORBCursor::GetSessionID() const { return FSession != nullptr ? FSession->GetSessionID() : 0; }

bool TORBCursor::InTransaction() const { return SessionInTransaction() || (FBatchUpdate && BatchDefersChanges()); }

bool TORBCursor::SessionInTransaction() const { return FSession != nullptr && FSession->GetInTransaction(); }

// ---------------------------------------------------------------------------
// Field resolver

bool TORBCursor::FindField(std::u16string_view /*table_name*/, std::u16string_view field_name,
                           TORBFieldInfo& info) {
  int32_t physical = -1;
  const int32_t visible = FVisibleFieldDefs.GetDefNumberByName(field_name);
  if (visible >= 0)
    physical = FVisibleFieldDefs.GetDef(visible)->FFieldNoReference;
  else
    physical = FFieldDefs.GetDefNumberByName(field_name);
  if (physical < 0 || physical >= FFieldDefs.GetCount()) return false;
  const TORBFieldDef* field = FFieldDefs.GetDef(physical);
  info.FieldNo = physical;
  info.FieldType = field->FAdvancedFieldType;
  info.BaseFieldType = field->FBaseFieldType;
  info.FieldSize = field->FFieldSize;
  return true;
}

void TORBCursor::ReadFieldValue(const TORBFieldInfo& info, TORBVariant& value) {
  const TORBFieldDef* field = FFieldDefs.GetDef(info.FieldNo);
  if (FCurrentRecordBuffer == nullptr || CheckNullFlag(info.FieldNo, FCurrentRecordBuffer))
    value.Clear(field->FBaseFieldType);
  else
    value.SetData(FCurrentRecordBuffer + field->FMemoryOffset, field->FMemoryDataSize, field->FBaseFieldType, false);
}

// ---------------------------------------------------------------------------
// Geometry and buffers

void TORBCursor::ComputeBufferLayout() {
  const int32_t count = FFieldDefs.GetCount();
  if (count == 0) {
    FBookmarkOffset = 0;
    FFieldValuesOffset = 0;
  } else {
    const TORBFieldDef* last = FFieldDefs.GetDef(count - 1);
    FBookmarkOffset = last->FMemoryOffset + last->FMemoryDataSize;
    FFieldValuesOffset = FFieldDefs.GetDef(0)->FMemoryOffset;
  }
  FKeyOffset = FBookmarkOffset;
  FKeyBufferSize = FBookmarkOffset + kBookmarkSize;
  FRecordSize = FBookmarkOffset + kBookmarkSize + 1;
  FCalculatedFieldsOffset = FRecordSize;
  FRecordBufferSize = FRecordSize;
}

uint8_t* TORBCursor::AllocateRecordBuffer() const {
  return MemoryManager().AllocMem(static_cast<size_t>(std::max(FRecordBufferSize, 1)));
}

void TORBCursor::FreeRecordBuffer(uint8_t*& buffer) {
  if (buffer == FCurrentRecordBuffer) FCurrentRecordBuffer = nullptr;
  if (buffer == FEditRecordBuffer) FEditRecordBuffer = nullptr;
  MemoryManager().FreeAndNillMem(buffer);
}

uint8_t* TORBCursor::AllocateKeyRecordBuffer() const {
  return MemoryManager().GetMem(static_cast<size_t>(std::max(FKeyBufferSize, 1)));
}

void TORBCursor::FreeKeyRecordBuffer(uint8_t*& buffer) const { MemoryManager().FreeAndNillMem(buffer); }

void TORBCursor::InternalInitKeyBuffer(uint8_t* buffer) {
  std::memset(buffer, 0, static_cast<size_t>(FKeyBufferSize));
  InternalInitRecord(buffer, false);
}

TORBPageItemID TORBCursor::GetBookmark(const uint8_t* record_buffer) const {
  return LoadPageItemID(record_buffer + FBookmarkOffset);
}

void TORBCursor::SetBookmark(uint8_t* record_buffer, const TORBPageItemID& record_id) const {
  StorePageItemID(record_buffer + FBookmarkOffset, record_id);
}

uint8_t TORBCursor::GetBookmarkFlag(const uint8_t* record_buffer) const {
  return record_buffer[FBookmarkOffset + kBookmarkSize];
}

void TORBCursor::SetBookmarkFlag(uint8_t* record_buffer, uint8_t flag) const {
  record_buffer[FBookmarkOffset + kBookmarkSize] = flag;
}

// ---------------------------------------------------------------------------
// Field access

void TORBCursor::CheckFieldNo(int32_t field_no, int32_t count, int32_t code) const {
  if (field_no < 0 || field_no >= count) RaiseORB(code, kMsgInvalidFieldNumber, {field_no, count});
}

int32_t TORBCursor::PhysicalFieldNo(int32_t field_no) const {
  return FVisibleFieldDefs.GetDef(field_no)->FFieldNoReference;
}

const TORBFieldDef& TORBCursor::FieldOf(int32_t field_no, bool direct, int32_t code) const {
  if (direct) {
    CheckFieldNo(field_no, FFieldDefs.GetCount(), code);
    return *FFieldDefs.GetDef(field_no);
  }
  CheckFieldNo(field_no, FVisibleFieldDefs.GetCount(), code);
  const int32_t physical = PhysicalFieldNo(field_no);
  CheckFieldNo(physical, FFieldDefs.GetCount(), code);
  return *FFieldDefs.GetDef(physical);
}

bool TORBCursor::GetFieldData(int32_t field_no, void* buffer, const uint8_t* record_buffer) const {
  CheckFieldNo(field_no, FVisibleFieldDefs.GetCount(), kErrGetFieldDataNo);
  return orb::GetFieldData(PhysicalFieldNo(field_no), FFieldDefs, buffer, record_buffer);
}

void TORBCursor::SetFieldData(int32_t field_no, const void* buffer, uint8_t* record_buffer) {
  CheckFieldNo(field_no, FVisibleFieldDefs.GetCount(), kErrSetFieldDataNo);
  orb::SetFieldData(PhysicalFieldNo(field_no), FFieldDefs, buffer, record_buffer);
}

void TORBCursor::GetFieldValue(TORBVariant& value, int32_t field_no, bool direct) const {
  const TORBFieldDef& field = FieldOf(field_no, direct, direct ? kErrGetFieldValueDirectNo : kErrGetFieldValueNo);
  const int32_t physical = direct ? field_no : PhysicalFieldNo(field_no);
  if (FCurrentRecordBuffer == nullptr || CheckNullFlag(physical, FCurrentRecordBuffer)) {
    value.Clear(field.FBaseFieldType);
    return;
  }
  value.SetData(FCurrentRecordBuffer + field.FMemoryOffset, field.FMemoryDataSize, field.FBaseFieldType, true);
}

void TORBCursor::SetFieldValue(const TORBVariant& value, int32_t field_no, bool direct, uint8_t* record_buffer) {
  const TORBFieldDef& field = FieldOf(field_no, direct, direct ? kErrSetFieldValueDirectNo : kErrSetFieldValueNo);
  const int32_t physical = direct ? field_no : PhysicalFieldNo(field_no);
  uint8_t* buffer = record_buffer != nullptr ? record_buffer : FCurrentRecordBuffer;
  if (value.IsNull()) {
    SetNullFlag(true, physical, buffer);
    return;
  }
  TORBVariant cast(value);
  cast.Cast(field.FBaseFieldType);
  // The value may be shorter than the field (a short string) or longer (a
  // string cut to the field): copy what fits, zero the rest and keep the
  // string's terminator inside the field.
  uint8_t* dest = buffer + field.FMemoryOffset;
  const int32_t size = field.FMemoryDataSize;
  std::memset(dest, 0, static_cast<size_t>(size));
  const int32_t n = std::min(size, cast.DataSize());
  if (n > 0 && cast.Data() != nullptr) std::memcpy(dest, cast.Data(), static_cast<size_t>(n));
  if (field.FBaseFieldType == bftChar || field.FBaseFieldType == bftVarchar) {
    if (size >= 1) dest[size - 1] = 0;
  } else if (field.FBaseFieldType == bftWideChar || field.FBaseFieldType == bftWideVarchar) {
    if (size >= 2) dest[size - 1] = dest[size - 2] = 0;
  }
  SetNullFlag(false, physical, buffer);
}

void TORBCursor::ClearStringFieldsGarbage(uint8_t* record_buffer) const {
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORBFieldDef* field = FFieldDefs.GetDef(i);
    const TORBBaseFieldType type = field->FBaseFieldType;
    const bool wide = type == bftWideChar || type == bftWideVarchar;
    if (!wide && type != bftChar && type != bftVarchar) continue;
    uint8_t* data = record_buffer + field->FMemoryOffset;
    const size_t size = static_cast<size_t>(field->FMemoryDataSize);
    if (CheckNullFlag(i, record_buffer)) {
      std::memset(data, 0, size);
      continue;
    }
    size_t end = 0;
    if (wide) {
      while (end + 1 < size && (data[end] != 0 || data[end + 1] != 0)) end += 2;
    } else {
      while (end < size && data[end] != 0) ++end;
    }
    std::memset(data + end, 0, size - end);
  }
}

// ---------------------------------------------------------------------------
// View

void TORBCursor::SetIndexName(const std::u16string& name) {
  FIndexName = name;
  const TORBIndexDef* def = name.empty() ? nullptr : FIndexDefs.GetIndexDefByName(std::u16string_view(name));
  FIndexID = def != nullptr ? def->FObjectID : -1;
  FIndexPositionCache.Invalidate();
  DisableRecordBitmap();
}

void TORBCursor::ApplyRange(const uint8_t* start_buffer, const uint8_t* end_buffer, int32_t start_key_field_count,
                            int32_t end_key_field_count, bool start_exclusive, bool end_exclusive) {
  FRangeStartBuffer = start_buffer;
  FRangeEndBuffer = end_buffer;
  FRangeStartKeyFieldCount = start_key_field_count;
  FRangeEndKeyFieldCount = end_key_field_count;
  FRangeStartExclusive = start_exclusive;
  FRangeEndExclusive = end_exclusive;
  DisableRecordBitmap();
}

void TORBCursor::ResetRange() {
  FRangeStartBuffer = nullptr;
  FRangeEndBuffer = nullptr;
  DisableRecordBitmap();
}

void TORBCursor::ApplyProjection(const std::vector<std::u16string>& field_names,
                                 const std::vector<std::u16string>& aliases) {
  if (field_names.size() != aliases.size())
    RaiseORB(kErrProjectionLengths, kMsgDifferentListLengths,
             {static_cast<int>(field_names.size()), static_cast<int>(aliases.size())});
  if (field_names.empty()) RaiseORB(kErrProjectionEmpty, "No fields were specified while setting projection");
  TORBFieldDefs visible;
  for (size_t i = 0; i < field_names.size(); ++i) {
    const int32_t physical = FFieldDefs.GetDefNumberByName(std::u16string_view(field_names[i]));
    if (physical < 0) RaiseORB(kErrProjectionField, "Cannot find field %s", {field_names[i]});
    TORBFieldDef* def = visible.AddCreated();
    def->Assign(*FFieldDefs.GetDef(physical));
    def->FMemoryOffset = FFieldDefs.GetDef(physical)->FMemoryOffset;
    def->FDiskOffset = FFieldDefs.GetDef(physical)->FDiskOffset;
    def->FFieldNoReference = physical;
    const std::u16string& alias = aliases[i];
    if (alias.empty()) continue;
    std::u16string name = alias;
    // The new definition itself carries the physical name until renamed.
    def->SetName(std::u16string_view(u"\x01"));
    if (visible.GetDefNumberByName(std::u16string_view(name)) >= 0) {
      for (int32_t n = 1; n <= static_cast<int32_t>(field_names.size()); ++n) {
        std::u16string candidate = alias + u"_" + Utf8ToWide(std::to_string(n));
        if (visible.GetDefNumberByName(std::u16string_view(candidate)) < 0) {
          name = candidate;
          break;
        }
      }
    }
    def->SetName(std::u16string_view(name));
  }
  FVisibleFieldDefs.Clear();
  for (int32_t i = 0; i < visible.GetCount(); ++i) {
    TORBFieldDef* def = FVisibleFieldDefs.AddCreated();
    def->Assign(*visible.GetDef(i));
    def->FMemoryOffset = visible.GetDef(i)->FMemoryOffset;
    def->FDiskOffset = visible.GetDef(i)->FDiskOffset;
    def->FFieldNoReference = visible.GetDef(i)->FFieldNoReference;
  }
}

void TORBCursor::SetSQLFilter(TORBExpression* expression) {
  FSQLFilterExpression = expression;
  if (expression != nullptr) expression->AssignResolver(this);
  DisableRecordBitmap();
}

void TORBCursor::SetRecordFilter(TFilterRecordFunc filter, void* dataset) {
  FFilterRecord = std::move(filter);
  FDataset = dataset;
  DisableRecordBitmap();
}

void TORBCursor::DisableRecordBitmap() {
  if (FRecordBitmap != nullptr) FRecordBitmap->Clear();
}

}  // namespace orb
