#include "engine/base/index_defs.h"

#include "engine/base/field_defs.h"
#include "engine/base/metadata_io.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"
#include "engine/base/stream.h"

namespace orb {

// TORBIndexColumn

void TORBIndexColumn::SetFieldName(std::u16string_view field_name) {
  const std::string ansi = WideToAnsi(field_name);
  if (ansi.size() > kMaxShortStringLength)
    RaiseORB(kErrIndexColumnNameTooLong, "Index column name '%s' is too long: %d bytes, at most %d allowed",
             {Ansi(ansi), ansi.size(), kMaxShortStringLength});
  FFieldName = field_name;
}

// TORBIndexDef

void TORBIndexDef::Assign(const TORBMetaObjectDef& source) {
  TORBMetaObjectDef::Assign(source);
  const auto* index = dynamic_cast<const TORBIndexDef*>(&source);
  if (index == nullptr || index == this) return;
  FIndexType = index->FIndexType;
  FIndexColumns = index->FIndexColumns;
  FUnique = index->FUnique;
  FPrimary = index->FPrimary;
  FRootPageNo = index->FRootPageNo;
  FTemporary = index->FTemporary;
  FSessionID = index->FSessionID;
  FTableState = index->FTableState;
  FNeedRebuild = index->FNeedRebuild;
}

void TORBIndexDef::SaveToStream(TStream& stream) const {
  TORBMetaObjectDef::SaveToStream(stream);
  metaio::SaveU8(stream, FIndexType, 10344);
  metaio::SaveBool(stream, FUnique, 10345);
  metaio::SaveBool(stream, FPrimary, 10346);
  metaio::SaveI32(stream, GetColumnCount(), 10347);
  metaio::SaveI32(stream, FRootPageNo, 10348);
  for (const TORBIndexColumn& column : FIndexColumns) {
    const std::string name = WideToAnsi(column.GetFieldName());
    metaio::SaveU8(stream, static_cast<uint8_t>(name.size()), 10354);
    metaio::SaveBytes(stream, name, 10355);
    metaio::SaveBool(stream, column.FDescending, 10356);
    metaio::SaveBool(stream, column.FCaseInsensitive, 10357);
    metaio::SaveI32(stream, column.FMaxIndexedSize, 20169);
  }
}

void TORBIndexDef::LoadFromStream(TStream& stream) {
  TORBMetaObjectDef::LoadFromStream(stream);
  const uint8_t index_type = metaio::LoadU8(stream, 10349);
  if (index_type > itAnotherOne) metaio::RaiseInvalidValue(stream, index_type, 1, 10349);
  FIndexType = static_cast<TORBIndexType>(index_type);
  FUnique = metaio::LoadBool(stream, 10350);
  FPrimary = metaio::LoadBool(stream, 10351);
  const int32_t column_count = metaio::LoadCount(stream, 10352);
  FRootPageNo = metaio::LoadI32(stream, 10353);
  std::vector<TORBIndexColumn> columns;
  for (int32_t i = 0; i < column_count; ++i) {
    TORBIndexColumn column;
    const uint8_t length = metaio::LoadU8(stream, 10358);
    column.SetFieldName(AnsiToWide(metaio::LoadBytes(stream, length, 10359)));
    column.FDescending = metaio::LoadBool(stream, 10360);
    column.FCaseInsensitive = metaio::LoadBool(stream, 10361);
    column.FMaxIndexedSize = metaio::LoadI32(stream, 20168);
    columns.push_back(std::move(column));
  }
  FIndexColumns = std::move(columns);
  FTemporary = false;
}

void TORBIndexDef::SetColumnCount(int32_t value) {
  if (value < 0) throw Exception(*TryFormat("List count out of bounds (%d)", FormatArgs{value}));
  FIndexColumns.resize(static_cast<size_t>(value));
}

TORBIndexColumn* TORBIndexDef::GetIndexColumn(int32_t index) {
  if (index < 0 || index >= GetColumnCount()) return nullptr;
  return &FIndexColumns[static_cast<size_t>(index)];
}

const TORBIndexColumn* TORBIndexDef::GetIndexColumn(int32_t index) const {
  if (index < 0 || index >= GetColumnCount()) return nullptr;
  return &FIndexColumns[static_cast<size_t>(index)];
}

void TORBIndexDef::AssignByNames(const std::vector<std::u16string>& field_names,
                                 const std::vector<std::u16string>& asc_desc_list,
                                 const std::vector<std::u16string>& case_sensitivity_list) {
  if (asc_desc_list.size() != field_names.size())
    RaiseORB(10278, kMsgDifferentListLengths, {field_names.size(), asc_desc_list.size()});
  if (case_sensitivity_list.size() != field_names.size())
    RaiseORB(10279, kMsgDifferentListLengths, {field_names.size(), case_sensitivity_list.size()});
  std::vector<TORBIndexColumn> columns(field_names.size());
  for (size_t i = 0; i < field_names.size(); ++i) {
    columns[i].SetFieldName(field_names[i]);
    columns[i].FDescending = asc_desc_list[i] == u"DESC";
    columns[i].FCaseInsensitive = case_sensitivity_list[i] == u"NO_CASE";
    columns[i].FMaxIndexedSize = 20;
  }
  FIndexColumns = std::move(columns);
}

// TORBIndexDefs

void TORBIndexDefs::SaveToStream(TStream& stream) const {
  int32_t stored = 0;
  for (int32_t i = 0; i < GetCount(); ++i)
    if (!GetIndexDef(i)->FTemporary) ++stored;
  metaio::SaveI32(stream, stored, 10158);
  for (int32_t i = 0; i < GetCount(); ++i)
    if (!GetIndexDef(i)->FTemporary) GetIndexDef(i)->SaveToStream(stream);
}

int32_t TORBIndexDefs::FindIndex(const std::vector<std::u16string>* field_names,
                                 const std::vector<std::u16string>* asc_desc_list,
                                 const std::vector<std::u16string>* case_sensitivity_list, int32_t session_id,
                                 const TORBFieldDefs* field_defs) const {
  if (field_names == nullptr) RaiseORB(10389, kMsgNilPointer);
  if (asc_desc_list == nullptr) RaiseORB(10390, kMsgNilPointer);
  if (case_sensitivity_list == nullptr) RaiseORB(10391, kMsgNilPointer);
  if (asc_desc_list->size() != field_names->size())
    RaiseORB(10276, kMsgDifferentListLengths, {field_names->size(), asc_desc_list->size()});
  if (case_sensitivity_list->size() != field_names->size())
    RaiseORB(10277, kMsgDifferentListLengths, {field_names->size(), case_sensitivity_list->size()});

  const size_t wanted = field_names->size();
  std::vector<std::u16string> upper_names;
  std::vector<bool> string_fields;
  for (const std::u16string& name : *field_names) {
    upper_names.push_back(UpperCaseW(name));
    const TORBFieldDef* field = field_defs ? field_defs->GetFieldDefByName(std::u16string_view(name)) : nullptr;
    string_fields.push_back(field != nullptr && IsStringFieldType(field->FBaseFieldType));
  }

  for (int32_t i = 0; i < GetCount(); ++i) {
    const TORBIndexDef* index = GetIndexDef(i);
    if (static_cast<size_t>(index->GetColumnCount()) < wanted) continue;
    if (index->FTemporary && index->FSessionID != session_id) continue;
    bool serves = true;
    for (size_t j = 0; j < wanted && serves; ++j) {
      const TORBIndexColumn& column = index->FIndexColumns[j];
      const std::u16string& order = (*asc_desc_list)[j];
      const std::u16string& sensitivity = (*case_sensitivity_list)[j];
      if (UpperCaseW(column.GetFieldName()) != upper_names[j]) serves = false;
      else if (order == u"ASC" && column.FDescending) serves = false;
      else if (order == u"DESC" && !column.FDescending) serves = false;
      else if (string_fields[j] && sensitivity == u"CASE" && column.FCaseInsensitive) serves = false;
      else if (sensitivity == u"NO_CASE" && !column.FCaseInsensitive) serves = false;
    }
    if (serves) return index->FObjectID;
  }
  return -1;
}

}  // namespace orb
