#include "engine/base/field_defs.h"

#include <atomic>
#include <vector>

#include "engine/base/metadata_io.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/base/stream.h"

namespace orb {

namespace {

std::atomic<TORBDefaultValueExprParser> g_default_value_expr_parser{nullptr};


}  // namespace

void SetDefaultValueExprParser(TORBDefaultValueExprParser parser) { g_default_value_expr_parser.store(parser); }

TORBDefaultValueExprParser GetDefaultValueExprParser() { return g_default_value_expr_parser.load(); }

// TORBFieldDef

TORBFieldDef::~TORBFieldDef() = default;

void TORBFieldDef::Assign(const TORBMetaObjectDef& source) {
  TORBMetaObjectDef::Assign(source);
  const auto* field = dynamic_cast<const TORBFieldDef*>(&source);
  if (field == nullptr || field == this) return;
  FBaseFieldType = field->FBaseFieldType;
  FAdvancedFieldType = field->FAdvancedFieldType;
  FFieldSize = field->FFieldSize;
  FDiskDataSize = field->FDiskDataSize;
  FMemoryDataSize = field->FMemoryDataSize;
  FDiskOffset = field->FDiskOffset;
  FMemoryOffset = field->FMemoryOffset;
  FFieldNoReference = field->FFieldNoReference;
  FDefaultValue.Assign(field->FDefaultValue, true);
  FBLOBCompressionAlgorithm = field->FBLOBCompressionAlgorithm;
  FBLOBCompressionMode = field->FBLOBCompressionMode;
  FBLOBBlockSize = field->FBLOBBlockSize;
  FAutoincIncrement = field->FAutoincIncrement;
  FAutoincInitialValue = field->FAutoincInitialValue;
  FAutoincMinValue = field->FAutoincMinValue;
  FAutoincMaxValue = field->FAutoincMaxValue;
  FAutoincCycled = field->FAutoincCycled;
  CreateDefaultValueExprIfNeeded();
}

void TORBFieldDef::SaveToStream(TStream& stream) const {
  TORBMetaObjectDef::SaveToStream(stream);
  metaio::SaveU8(stream, FBaseFieldType, 10170);
  metaio::SaveU8(stream, FAdvancedFieldType, 10171);
  metaio::SaveI32(stream, FFieldSize, 10172);
  if (IsBLOBFieldType(FBaseFieldType)) {
    metaio::SaveU8(stream, FBLOBCompressionAlgorithm, 10175);
    metaio::SaveU8(stream, FBLOBCompressionMode, 10176);
    metaio::SaveI32(stream, FBLOBBlockSize, 10177);
  }
  metaio::SaveI64(stream, FAutoincIncrement, 30412);
  metaio::SaveI64(stream, FAutoincInitialValue, 30413);
  metaio::SaveI64(stream, FAutoincMinValue, 30414);
  metaio::SaveI64(stream, FAutoincMaxValue, 30415);
  metaio::SaveBool(stream, FAutoincCycled, 30416);
  FDefaultValue.SaveToStream(stream);
}

void TORBFieldDef::LoadFromStream(TStream& stream) {
  TORBMetaObjectDef::LoadFromStream(stream);
  const uint8_t base = metaio::LoadU8(stream, 10187);
  if (base >= kBaseFieldTypeCount) metaio::RaiseInvalidValue(stream, base, 1, 10187);
  FBaseFieldType = static_cast<TORBBaseFieldType>(base);
  const uint8_t advanced = metaio::LoadU8(stream, 10188);
  if (advanced >= kAdvancedFieldTypeCount) metaio::RaiseInvalidValue(stream, advanced, 1, 10188);
  FAdvancedFieldType = static_cast<TORBAdvancedFieldType>(advanced);
  FFieldSize = metaio::LoadI32(stream, 10189);
  if (IsBLOBFieldType(FBaseFieldType)) {
    const uint8_t algorithm = metaio::LoadU8(stream, 10192);
    if (algorithm > acaPPM) metaio::RaiseInvalidValue(stream, algorithm, 1, 10192);
    FBLOBCompressionAlgorithm = static_cast<TORBCompressionAlgorithm>(algorithm);
    FBLOBCompressionMode = metaio::LoadU8(stream, 10193);
    FBLOBBlockSize = metaio::LoadI32(stream, 10194);
  }
  FAutoincIncrement = metaio::LoadI64(stream, 30407);
  FAutoincInitialValue = metaio::LoadI64(stream, 30408);
  FAutoincMinValue = metaio::LoadI64(stream, 30409);
  FAutoincMaxValue = metaio::LoadI64(stream, 30410);
  FAutoincCycled = metaio::LoadBool(stream, 30411);
  FDefaultValue.Clear(FBaseFieldType);
  FDefaultValue.LoadFromStream(stream);
  CreateDefaultValueExprIfNeeded();
  RecalcInternalSizes();
}

void TORBFieldDef::SetFieldDefDataType(TORBAdvancedFieldType advanced_field_type, int32_t field_size) {
  const TORBBaseFieldType base = AdvancedFieldTypeToBaseFieldType(advanced_field_type);
  if (base == bftUnknown) RaiseORB(30007, "Unsupported data type '%s'", {AftToStr(advanced_field_type)});
  FAdvancedFieldType = advanced_field_type;
  FBaseFieldType = base;
  FFieldSize = field_size;
  RecalcInternalSizes();
}

void TORBFieldDef::SetFieldDefDataType(TORBBaseFieldType base_field_type, int32_t field_size) {
  const TORBAdvancedFieldType advanced = BaseFieldTypeToAdvancedFieldType(base_field_type);
  if (advanced == aftUnknown) RaiseORB(30008, "Unsupported data type '%s'", {BftToStr(base_field_type)});
  FAdvancedFieldType = advanced;
  FBaseFieldType = base_field_type;
  FFieldSize = field_size;
  RecalcInternalSizes();
}

void TORBFieldDef::RecalcInternalSizes() {
  const int32_t memory_size = GetDataSizeInMemory(FBaseFieldType, FFieldSize);
  const int32_t disk_size = GetDataSizeOnDisk(FBaseFieldType, FFieldSize);
  FMemoryDataSize = memory_size;
  FDiskDataSize = disk_size;
}

void TORBFieldDef::CreateDefaultValueExprIfNeeded() {
  FDefaultValueExpr.reset();
  if (FDefaultValue.IsNull() || !FDefaultValue.IsStringDataType()) return;
  if (TORBDefaultValueExprParser parser = GetDefaultValueExprParser()) FDefaultValueExpr = parser(FDefaultValue);
}

// TORBFieldDefs

void TORBFieldDefs::LoadFromStream(TStream& stream) {
  TORBMetaObjectDefs::LoadFromStream(stream);
  RecalcFieldOffsets();
}

void TORBFieldDefs::RecalcFieldOffsets() {
  std::vector<int32_t> memory_sizes, disk_sizes;
  for (int32_t i = 0; i < GetCount(); ++i) {
    memory_sizes.push_back(GetDef(i)->FMemoryDataSize);
    disk_sizes.push_back(GetDef(i)->FDiskDataSize);
  }
  std::vector<int32_t> memory_offsets(memory_sizes.size()), disk_offsets(disk_sizes.size());
  LayOutFields(memory_sizes, memory_offsets);
  LayOutFields(disk_sizes, disk_offsets);
  for (int32_t i = 0; i < GetCount(); ++i) {
    GetDef(i)->FMemoryOffset = memory_offsets[static_cast<size_t>(i)];
    GetDef(i)->FDiskOffset = disk_offsets[static_cast<size_t>(i)];
  }
}

int32_t TORBFieldDefs::GetMemoryRecordBufferSize() const {
  std::vector<int32_t> sizes;
  for (int32_t i = 0; i < GetCount(); ++i) sizes.push_back(GetDef(i)->FMemoryDataSize);
  return LayOutFields(sizes, {});
}

int32_t TORBFieldDefs::GetDiskRecordBufferSize() const {
  std::vector<int32_t> sizes;
  for (int32_t i = 0; i < GetCount(); ++i) sizes.push_back(GetDef(i)->FDiskDataSize);
  return LayOutFields(sizes, {});
}

}  // namespace orb
