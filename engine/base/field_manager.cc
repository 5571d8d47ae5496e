#include "engine/base/error_codes.h"
#include "engine/base/field_manager.h"

#include <cstring>

#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/base/field_data.h"
#include "engine/base/variant.h"

namespace orb {

TORBFieldLayout FieldLayoutOf(const TORBFieldDef& field) {
  return {field.FAdvancedFieldType, field.FBaseFieldType, field.FMemoryDataSize,
          field.FDiskDataSize,      field.FMemoryOffset,  field.FDiskOffset};
}

namespace {

const TORBFieldDef& CheckedDef(int32_t field_no, const TORBFieldDefs& defs, int32_t code) {
  if (field_no < 0 || field_no >= defs.GetCount()) RaiseORB(code, kMsgInvalidFieldNumber, {field_no, defs.GetCount()});
  return *defs.GetDef(field_no);
}

}  // namespace

bool GetFieldData(int32_t field_no, const TORBFieldDefs& field_defs, void* buffer, const uint8_t* record_buffer) {
  const TORBFieldDef& def = CheckedDef(field_no, field_defs, 10000);
  if (record_buffer == nullptr) RaiseORB(10003, kMsgNilPointer);
  return GetFieldData(field_no, FieldLayoutOf(def), buffer, record_buffer);
}

void SetFieldData(int32_t field_no, const TORBFieldDefs& field_defs, const void* buffer, uint8_t* record_buffer) {
  const TORBFieldDef& def = CheckedDef(field_no, field_defs, 10004);
  if (record_buffer == nullptr) RaiseORB(kErrSetFieldDefsNoRecord, kMsgNilPointer);
  SetFieldData(field_no, FieldLayoutOf(def), buffer, record_buffer);
}

TORBBaseFieldManager::TORBBaseFieldManager(TORBTableData* table_data) : FTableData(table_data) {}

TORBFieldLayout TORBBaseFieldManager::FieldLayout(int32_t field_no) const {
  return FieldLayoutOf(*FFieldDefs.GetDef(field_no));
}

void TORBBaseFieldManager::LoadMetadata(TStream& stream) {
  FFieldDefs.LoadFromStream(stream);
  FFieldDefs.RecalcFieldOffsets();
  InitLastAutoIncValues();
}

void TORBBaseFieldManager::SaveMetadata(TStream& stream) const { FFieldDefs.SaveToStream(stream); }

int32_t TORBBaseFieldManager::MostUpdatedSize() const {
  return 4 + 8 * static_cast<int32_t>(FLastAutoIncValues.size());
}

void TORBBaseFieldManager::LoadMostUpdated(std::span<const uint8_t> buffer, int32_t& offset) {
  const int64_t size = static_cast<int64_t>(buffer.size());
  if (offset < 0 || offset + int64_t{4} > size)
    RaiseORB(kErrMostUpdatedBlock, "Invalid auto-increment values block. Offset = %d, Count = %d, Buffer size = %d",
             {offset, 0, size});
  const int32_t count = LoadI32LE(buffer.data() + offset);
  if (count < 0 || offset + 4 + int64_t{8} * count > size)
    RaiseORB(kErrMostUpdatedBlock, "Invalid auto-increment values block. Offset = %d, Count = %d, Buffer size = %d",
             {offset, count, size});
  std::vector<int64_t> values(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) values[i] = LoadI64LE(buffer.data() + offset + 4 + 8 * i);
  FLastAutoIncValues = std::move(values);
  offset += 4 + 8 * count;
}

void TORBBaseFieldManager::SaveMostUpdated(std::span<uint8_t> buffer, int32_t& offset) const {
  const int64_t size = static_cast<int64_t>(buffer.size());
  const auto count = static_cast<int32_t>(FLastAutoIncValues.size());
  if (offset < 0 || offset + int64_t{MostUpdatedSize()} > size)
    RaiseORB(kErrMostUpdatedBlock, "Invalid auto-increment values block. Offset = %d, Count = %d, Buffer size = %d",
             {offset, count, size});
  StoreI32LE(buffer.data() + offset, count);
  for (int32_t i = 0; i < count; ++i) StoreI64LE(buffer.data() + offset + 4 + 8 * i, FLastAutoIncValues[i]);
  offset += MostUpdatedSize();
}

void TORBBaseFieldManager::InitLastAutoIncValues() {
  FLastAutoIncValues.assign(static_cast<size_t>(FFieldDefs.GetCount()), 0);
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORBFieldDef* def = FFieldDefs.GetDef(i);
    if (IsAutoincFieldType(def->FAdvancedFieldType)) FLastAutoIncValues[i] = def->FAutoincInitialValue;
  }
}

// The conversions run once per row read or written: the record sizes are
// summed in the same pass as the copies (the fields lie back to back after
// the bitmap, record_layout.h) instead of being laid out again per call.
void TORBBaseFieldManager::DiskRecordBufferToMemRecordBuffer(const uint8_t* disk_record, uint8_t* mem_record) const {
  const int32_t count = FFieldDefs.GetCount();
  const int32_t bitmap = FFieldDefs.GetNullBitmapSize();
  int64_t size = bitmap;
  for (int32_t i = 0; i < count; ++i) size += FFieldDefs.GetDef(i)->FMemoryDataSize;
  std::memset(mem_record, 0, static_cast<size_t>(size));
  std::memcpy(mem_record, disk_record, static_cast<size_t>(bitmap));
  for (int32_t i = 0; i < count; ++i) {
    const TORBFieldDef* f = FFieldDefs.GetDef(i);
    std::memcpy(mem_record + f->FMemoryOffset, disk_record + f->FDiskOffset, static_cast<size_t>(f->FDiskDataSize));
  }
}

void TORBBaseFieldManager::MemRecordBufferToDiskRecordBuffer(const uint8_t* mem_record, uint8_t* disk_record) const {
  const int32_t count = FFieldDefs.GetCount();
  const int32_t bitmap = FFieldDefs.GetNullBitmapSize();
  int64_t size = bitmap;
  for (int32_t i = 0; i < count; ++i) size += FFieldDefs.GetDef(i)->FDiskDataSize;
  std::memset(disk_record, 0, static_cast<size_t>(size));
  std::memcpy(disk_record, mem_record, static_cast<size_t>(bitmap));
  for (int32_t i = 0; i < count; ++i) {
    const TORBFieldDef* f = FFieldDefs.GetDef(i);
    std::memcpy(disk_record + f->FDiskOffset, mem_record + f->FMemoryOffset, static_cast<size_t>(f->FDiskDataSize));
  }
}

bool TORBBaseFieldManager::CompareRecordBuffers(const uint8_t* mem_record1, const uint8_t* mem_record2) const {
  if (std::memcmp(mem_record1, mem_record2, static_cast<size_t>(FFieldDefs.GetNullBitmapSize())) != 0) return false;
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORBFieldDef* f = FFieldDefs.GetDef(i);
    if (std::memcmp(mem_record1 + f->FMemoryOffset, mem_record2 + f->FMemoryOffset,
                    static_cast<size_t>(f->FDiskDataSize)) != 0)
      return false;
  }
  return true;
}

bool TORBBaseFieldManager::BlobFieldsPresent() const {
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORBFieldDef* f = FFieldDefs.GetDef(i);
    if (!IsBLOBFieldType(f->FBaseFieldType)) continue;
    if (f->FBLOBBlockSize <= 0) RaiseORB(kErrBlobBlockSize, "BLOB block size should be > 0 for field %s", {Ansi(f->GetName())});
    return true;
  }
  return false;
}

void TORBBaseFieldManager::ApplyDefaultValuesToRecordBuffer(TORBAutoincSession* /*session*/, uint8_t* record_buffer) {
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    TORBFieldDef* f = FFieldDefs.GetDef(i);
    if (IsBLOBFieldType(f->FBaseFieldType) || f->FDefaultValue.IsNull()) continue;
    TORBVariant value(f->FBaseFieldType);
    if (f->FDefaultValueExpr)
      f->FDefaultValueExpr->Evaluate(value);
    else
      value = f->FDefaultValue;
    if (value.IsNull()) continue;
    if (value.DataType() != f->FBaseFieldType) {
      bool converted = true;
      try {
        value.Cast(f->FBaseFieldType);
      } catch (const EORBException&) {
        converted = false;
      }
      if (!converted || value.DataType() != f->FBaseFieldType)
        RaiseORB(kErrDefaultValueType, "Default value of field '%s' cannot be converted to %s",
                 {Ansi(f->GetName()), BftToStr(f->FBaseFieldType)});
    }
    if (value.IsNull() || (value.IsStringDataType() && value.StrLen() <= 0)) continue;
    StoreFieldValue(i, FieldLayout(i), value.Data(), value.DataSize(), record_buffer);
  }
}

void TORBBaseFieldManager::ApplyAutoincsToRecordBuffer(TORBAutoincSession* session, uint8_t* record_buffer) {
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORBFieldDef* f = FFieldDefs.GetDef(i);
    if (!IsAutoincFieldType(f->FAdvancedFieldType)) continue;
    uint8_t* data = record_buffer + f->FMemoryOffset;
    if (CheckNullFlag(i, record_buffer)) {
      WriteStoredInteger(f->FBaseFieldType, GetNextAutoinc(session, i), data);
      SetNullFlag(false, i, record_buffer);
    } else {
      UpdateLastAutoinc(session, i, ReadStoredInteger(f->FBaseFieldType, data));
    }
  }
}

void TORBBaseFieldManager::CheckAutoincFieldNo(int32_t field_no, int32_t code) const {
  if (field_no < 0 || field_no >= FFieldDefs.GetCount() ||
      static_cast<size_t>(field_no) >= FLastAutoIncValues.size())
    RaiseORB(code, "Field #%d not found", {field_no});
}

int64_t TORBBaseFieldManager::GetNextAutoincVal(int32_t field_no) {
  if (field_no < 0 || field_no >= FFieldDefs.GetCount()) RaiseORB(kErrAutoincFieldNo, "Field #%d not found", {field_no});
  if (static_cast<size_t>(field_no) >= FLastAutoIncValues.size())
    RaiseORB(kErrAutoincValueNo, "Field #%d not found", {field_no});
  const TORBFieldDef* f = FFieldDefs.GetDef(field_no);
  const int64_t step = f->FAutoincIncrement == 0 ? 1 : f->FAutoincIncrement;
  // The field's own range bounds the sequence, whatever its settings say.
  int64_t type_min = INT64_MIN, type_max = INT64_MAX;
  if (IsStoredIntegerType(f->FBaseFieldType)) {
    type_min = StoredIntegerMin(f->FBaseFieldType);
    type_max = StoredIntegerMax(f->FBaseFieldType);
  }
  const int64_t max = f->FAutoincMaxValue != 0 && f->FAutoincMaxValue < type_max ? f->FAutoincMaxValue : type_max;
  int64_t& last = FLastAutoIncValues[static_cast<size_t>(field_no)];
  int64_t next;
  const bool overflow = __builtin_add_overflow(last, step, &next);
  last = overflow ? (step > 0 ? INT64_MAX : INT64_MIN) : next;
  if (overflow || next > max || next < type_min) {
    if (!f->FAutoincCycled) RaiseORB(kErrAutoincMaxValue, "Autoinc max value exceeded for field '%s'", {Ansi(f->GetName())});
    last = f->FAutoincMinValue < type_min ? type_min : (f->FAutoincMinValue > max ? max : f->FAutoincMinValue);
  }
  return last;
}

int64_t TORBBaseFieldManager::GetNextAutoinc(TORBAutoincSession* session, int32_t field_no) {
  const int64_t value = GetNextAutoincVal(field_no);
  const TORBFieldDef* f = FFieldDefs.GetDef(field_no);
  if (session) session->SetSequenceLastValue(f->FObjectID, f->GetName(), value);
  return value;
}

void TORBBaseFieldManager::UpdateLastAutoinc(TORBAutoincSession* session, int32_t field_no, int64_t inserted_value) {
  CheckAutoincFieldNo(field_no, kErrAutoincFieldNoUpdate);
  int64_t& last = FLastAutoIncValues[static_cast<size_t>(field_no)];
  if (inserted_value <= last) return;
  last = inserted_value;
  const TORBFieldDef* f = FFieldDefs.GetDef(field_no);
  if (session) session->SetSequenceLastValue(f->FObjectID, f->GetName(), inserted_value);
}

int64_t TORBBaseFieldManager::GetLastAutoinc(const TORBAutoincSession* session, int32_t field_no) {
  CheckAutoincFieldNo(field_no, kErrAutoincFieldNoUpdate);
  const TORBFieldDef* f = FFieldDefs.GetDef(field_no);
  int64_t value = 0;
  if (session && session->GetSequenceLastValue(f->FObjectID, value)) return value;
  if (session && session->IsMultiUser())
    RaiseORB(kErrNoSequenceLastValue, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first",
             {Ansi(f->GetName())});
  return IsAutoincFieldType(f->FAdvancedFieldType) ? FLastAutoIncValues[static_cast<size_t>(field_no)] : 0;
}

}  // namespace orb
