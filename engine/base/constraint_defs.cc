#include "engine/base/constraint_defs.h"

#include "engine/base/index_defs.h"
#include "engine/base/metadata_io.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/base/stream.h"

namespace orb {

namespace {

std::string CheckedName(std::string_view ansi_name, size_t max_length) {
  if (ansi_name.size() > max_length)
    RaiseORB(kErrConstraintNameTooLong, "Constraint name '%s' is too long: %d bytes, at most %d allowed",
             {Ansi(ansi_name), ansi_name.size(), max_length});
  return std::string(ansi_name);
}

bool IsUniqueFamily(TORBConstraintType type) { return type == ctPK || type == ctUnique; }

// A name behind a count n = length + 1 that includes its own length byte:
// the count (1 byte, or 4 with `wide_count`), the length byte, the bytes.
void SaveCountedName(TStream& stream, const std::string& name, bool wide_count, int32_t count_code,
                     int32_t name_code) {
  const int32_t count = static_cast<int32_t>(name.size()) + 1;
  if (wide_count) metaio::SaveI32(stream, count, count_code);
  else metaio::SaveU8(stream, static_cast<uint8_t>(count), count_code);
  std::string bytes(1, static_cast<char>(name.size()));
  bytes += name;
  metaio::SaveBytes(stream, bytes, name_code);
}

std::string LoadCountedName(TStream& stream, bool wide_count, int32_t count_code, int32_t name_code) {
  const int32_t count = wide_count ? metaio::LoadI32(stream, count_code) : metaio::LoadU8(stream, count_code);
  if (count < 1 || count > static_cast<int32_t>(kMaxShortStringLength) + 1)
    metaio::RaiseInvalidValue(stream, count, wide_count ? 4 : 1, count_code);
  std::string bytes = metaio::LoadBytes(stream, count, name_code);
  const uint8_t length = static_cast<uint8_t>(bytes[0]);
  if (length != count - 1) metaio::RaiseInvalidValue(stream, length, count, name_code);
  return bytes.substr(1);
}

}  // namespace

// TORBConstraintDef

void TORBConstraintDef::Assign(const TORBMetaObjectDef& source) {
  TORBMetaObjectDef::Assign(source);
  const auto* constraint = dynamic_cast<const TORBConstraintDef*>(&source);
  if (constraint != nullptr && IsUniqueFamily(FConstraintType) && IsUniqueFamily(constraint->FConstraintType))
    FConstraintType = constraint->FConstraintType;
}

// TORBConstraintDefNotNull

void TORBConstraintDefNotNull::Assign(const TORBMetaObjectDef& source) {
  TORBConstraintDef::Assign(source);
  const auto* not_null = dynamic_cast<const TORBConstraintDefNotNull*>(&source);
  if (not_null == nullptr || not_null == this) return;
  FTableSchemaName = not_null->FTableSchemaName;
  FTableSchemaObjectID = not_null->FTableSchemaObjectID;
  FTableName = not_null->FTableName;
  FTableObjectID = not_null->FTableObjectID;
  FColumnName = not_null->FColumnName;
  FColumnObjectID = not_null->FColumnObjectID;
}

void TORBConstraintDefNotNull::SetNames(std::u16string_view column_name, std::u16string_view table_name,
                                        std::u16string_view schema_name) {
  std::string column = CheckedName(ToShortString(column_name), kMaxNameLength);
  std::string table = CheckedName(ToShortString(table_name), kMaxNameLength);
  std::string schema = CheckedName(ToShortString(schema_name), kMaxNameLength);
  FColumnName = std::move(column);
  FTableName = std::move(table);
  FTableSchemaName = std::move(schema);
}

void TORBConstraintDefNotNull::SetTableSchemaName(std::string_view ansi_name) {
  FTableSchemaName = CheckedName(ansi_name, kMaxNameLength);
}

void TORBConstraintDefNotNull::SetTableName(std::string_view ansi_name) {
  FTableName = CheckedName(ansi_name, kMaxNameLength);
}

void TORBConstraintDefNotNull::SetColumnName(std::string_view ansi_name) {
  FColumnName = CheckedName(ansi_name, kMaxNameLength);
}

void TORBConstraintDefNotNull::SaveCommon(TStream& stream, const StreamCodes& codes) const {
  TORBMetaObjectDef::SaveToStream(stream);
  metaio::SaveI32(stream, FTableSchemaObjectID, codes.schema_id);
  metaio::SaveI32(stream, FTableObjectID, codes.table_id);
  metaio::SaveI32(stream, FColumnObjectID, codes.column_id);
  SaveCountedName(stream, FTableSchemaName, false, codes.schema_count, codes.schema_name);
  SaveCountedName(stream, FTableName, false, codes.table_count, codes.table_name);
  SaveCountedName(stream, FColumnName, false, codes.column_count, codes.column_name);
}

void TORBConstraintDefNotNull::LoadCommon(TStream& stream, const StreamCodes& codes) {
  TORBMetaObjectDef::LoadFromStream(stream);
  FTableSchemaObjectID = metaio::LoadI32(stream, codes.schema_id);
  FTableObjectID = metaio::LoadI32(stream, codes.table_id);
  FColumnObjectID = metaio::LoadI32(stream, codes.column_id);
  // A count of 255 leaves 254 bytes for the name: the stored form cannot
  // describe a longer one.
  FTableSchemaName = LoadCountedName(stream, false, codes.schema_count, codes.schema_name);
  FTableName = LoadCountedName(stream, false, codes.table_count, codes.table_name);
  FColumnName = LoadCountedName(stream, false, codes.column_count, codes.column_name);
}

void TORBConstraintDefNotNull::SaveToStream(TStream& stream) const {
  SaveCommon(stream, {10240, 10241, 10242, 10243, 10244, 10245, 10246, 10247, 10248});
}

void TORBConstraintDefNotNull::LoadFromStream(TStream& stream) {
  LoadCommon(stream, {10249, 10250, 10251, 10252, 10253, 10254, 10255, 10256, 10257});
}

// TORBConstraintDefCheck

void TORBConstraintDefCheck::Assign(const TORBMetaObjectDef& source) {
  TORBConstraintDefNotNull::Assign(source);
  const auto* check = dynamic_cast<const TORBConstraintDefCheck*>(&source);
  if (check == nullptr || check == this) return;
  FMinValue.Assign(check->FMinValue, true);
  FMaxValue.Assign(check->FMaxValue, true);
}

void TORBConstraintDefCheck::SaveToStream(TStream& stream) const {
  SaveCommon(stream, {10227, 10228, 10229, 10221, 10222, 10223, 10224, 10225, 10226});
  FMinValue.SaveToStream(stream);
  FMaxValue.SaveToStream(stream);
}

void TORBConstraintDefCheck::LoadFromStream(TStream& stream) {
  LoadCommon(stream, {10230, 10231, 10232, 10233, 10234, 10235, 10236, 10237, 10238});
  FMinValue.LoadFromStream(stream);
  FMaxValue.LoadFromStream(stream);
}

// TORBConstraintDefUnique

void TORBConstraintDefUnique::Assign(const TORBMetaObjectDef& source) {
  TORBConstraintDef::Assign(source);
  const auto* unique = dynamic_cast<const TORBConstraintDefUnique*>(&source);
  if (unique == nullptr || unique == this) return;
  FTableSchemaName = unique->FTableSchemaName;
  FTableSchemaObjectID = unique->FTableSchemaObjectID;
  FTableName = unique->FTableName;
  FTableObjectID = unique->FTableObjectID;
  FIndexName = unique->FIndexName;
  FIndexObjectID = unique->FIndexObjectID;
  FColumns = unique->FColumns;
}

void TORBConstraintDefUnique::SetTableSchemaName(std::string_view ansi_name) {
  FTableSchemaName = CheckedName(ansi_name, kMaxShortStringLength);
}

void TORBConstraintDefUnique::SetTableName(std::string_view ansi_name) {
  FTableName = CheckedName(ansi_name, kMaxShortStringLength);
}

void TORBConstraintDefUnique::SetIndexName(std::string_view ansi_name) {
  FIndexName = CheckedName(ansi_name, kMaxShortStringLength);
}

void TORBConstraintDefUnique::AddColumn(std::string_view ansi_name, int32_t object_id) {
  FColumns.push_back({CheckedName(ansi_name, kMaxShortStringLength), object_id});
}

void TORBConstraintDefUnique::SetColumnObjectID(int32_t index, int32_t object_id) {
  if (index < 0 || index >= GetColumnCount())
    throw Exception(*TryFormat("List index out of bounds (%d)", FormatArgs{index}));
  FColumns[static_cast<size_t>(index)].ColumnObjectID = object_id;
}

void TORBConstraintDefUnique::SaveToStream(TStream& stream) const {
  TORBMetaObjectDef::SaveToStream(stream);
  metaio::SaveI32(stream, FTableSchemaObjectID, 30313);
  metaio::SaveI32(stream, FTableObjectID, 30314);
  metaio::SaveI32(stream, FIndexObjectID, 30318);
  SaveCountedName(stream, FTableSchemaName, true, 30315, 30316);
  SaveCountedName(stream, FTableName, true, 30317, 30318);
  SaveCountedName(stream, FIndexName, true, 30323, 30324);
  metaio::SaveI32(stream, GetColumnCount(), 30319);
  for (const TORBConstraintColumn& column : FColumns) {
    metaio::SaveI32(stream, column.ColumnObjectID, 30320);
    SaveCountedName(stream, column.ColumnName, true, 30321, 30322);
  }
}

void TORBConstraintDefUnique::LoadFromStream(TStream& stream) {
  TORBMetaObjectDef::LoadFromStream(stream);
  FTableSchemaObjectID = metaio::LoadI32(stream, 30303);
  FTableObjectID = metaio::LoadI32(stream, 30304);
  FIndexObjectID = metaio::LoadI32(stream, 30317);
  FTableSchemaName = LoadCountedName(stream, true, 30305, 30306);
  FTableName = LoadCountedName(stream, true, 30307, 30308);
  FIndexName = LoadCountedName(stream, true, 30321, 30322);
  const int32_t count = metaio::LoadCount(stream, 30309);
  std::vector<TORBConstraintColumn> columns;
  for (int32_t i = 0; i < count; ++i) {
    TORBConstraintColumn column;
    column.ColumnObjectID = metaio::LoadI32(stream, 30310);
    column.ColumnName = LoadCountedName(stream, true, 30311, 30312);
    columns.push_back(std::move(column));
  }
  FColumns = std::move(columns);
}

// TORBConstraintDefs

TORBConstraintDefNotNull* TORBConstraintDefs::AddNotNull() {
  auto def = std::make_unique<TORBConstraintDefNotNull>();
  TORBConstraintDefNotNull* result = def.get();
  AddDef(std::move(def));
  return result;
}

TORBConstraintDefCheck* TORBConstraintDefs::AddCheck() {
  auto def = std::make_unique<TORBConstraintDefCheck>();
  TORBConstraintDefCheck* result = def.get();
  AddDef(std::move(def));
  return result;
}

TORBConstraintDefPrimary* TORBConstraintDefs::AddPK() {
  auto def = std::make_unique<TORBConstraintDefPrimary>();
  TORBConstraintDefPrimary* result = def.get();
  AddDef(std::move(def));
  return result;
}

TORBConstraintDefUnique* TORBConstraintDefs::AddUnique() {
  auto def = std::make_unique<TORBConstraintDefUnique>();
  TORBConstraintDefUnique* result = def.get();
  AddDef(std::move(def));
  return result;
}

namespace {

std::unique_ptr<TORBConstraintDef> CreateConstraint(TORBConstraintType type) {
  switch (type) {
    case ctPK:
      return std::make_unique<TORBConstraintDefPrimary>();
    case ctUnique:
      return std::make_unique<TORBConstraintDefUnique>();
    case ctNotNull:
      return std::make_unique<TORBConstraintDefNotNull>();
    case ctCheck:
      return std::make_unique<TORBConstraintDefCheck>();
    default:
      return nullptr;
  }
}

}  // namespace

void TORBConstraintDefs::Assign(const TORBMetaObjectDefs& source) {
  if (&source == this) return;
  Clear();
  for (int32_t i = 0; i < source.GetCount(); ++i) {
    const auto* def = dynamic_cast<const TORBConstraintDef*>(source.TORBMetaObjectDefs::GetDef(i));
    std::unique_ptr<TORBConstraintDef> copy = def ? CreateConstraint(def->GetConstraintType()) : nullptr;
    if (!copy) RaiseORB(30035, kMsgNotImplemented);
    copy->Assign(*def);
    AddDef(std::move(copy));
  }
}

void TORBConstraintDefs::SaveToStream(TStream& stream) const {
  metaio::SaveI32(stream, GetCount(), 10158);
  for (const auto& def : FDefsList) {
    const auto& constraint = static_cast<const TORBConstraintDef&>(*def);
    metaio::SaveU8(stream, constraint.GetConstraintType(), 10219);
    constraint.SaveToStream(stream);
  }
}

std::unique_ptr<TORBMetaObjectDef> TORBConstraintDefs::LoadDef(TStream& stream) {
  const uint8_t type = metaio::LoadU8(stream, 10220);
  std::unique_ptr<TORBConstraintDef> def = CreateConstraint(static_cast<TORBConstraintType>(type));
  if (!def) RaiseORB(30316, "Unknown Constraint Type: '%d'", {static_cast<int>(type)});
  def->LoadFromStream(stream);
  return def;
}

// The constraint an index implies

TORBConstraintDef* AddConstraintForIndex(const TORBIndexDef& index_def, TORBConstraintDefs& constraint_defs) {
  std::unique_ptr<TORBConstraintDefUnique> constraint;
  std::string name;
  if (index_def.FPrimary) {
    constraint = std::make_unique<TORBConstraintDefPrimary>();
    name = "C_PK";
  } else if (index_def.FUnique) {
    constraint = std::make_unique<TORBConstraintDefUnique>();
    name = "C_Unique";
  } else {
    return nullptr;
  }
  constraint->SetIndexName(index_def.GetName());
  constraint->FIndexObjectID = index_def.FObjectID;
  for (const TORBIndexColumn& column : index_def.FIndexColumns) {
    const std::string field_name = WideToAnsi(column.GetFieldName());
    constraint->AddColumn(field_name);
    name += '$';
    name += field_name;
  }
  constraint->SetName(std::string_view(name));
  TORBConstraintDef* result = constraint.get();
  constraint_defs.Add(std::move(constraint));
  return result;
}

}  // namespace orb
