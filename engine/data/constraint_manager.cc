#include "engine/data/constraint_manager.h"

#include <string>

#include "engine/base/field_manager.h"
#include "engine/base/index_defs.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/base/variant.h"
#include "engine/data/database_data.h"
#include "engine/data/index_manager.h"
#include "engine/data/table_data.h"
#include "engine/platform/codepage.h"
#include "engine/platform/format.h"
#include "engine/platform/random.h"

namespace orb {

namespace {

constexpr std::string_view kMsgFieldNoNotFound = "Field #%d not found";
constexpr std::string_view kMsgFieldNotFound = "Field '%s' not found";
constexpr std::string_view kMsgIndexNotFound = "Index '%s' not found";

// The value of field `field_no` in a memory-form record, borrowing its bytes.
TORBVariant FieldValue(const TORBFieldDefs& field_defs, int32_t field_no, const uint8_t* record_buffer) {
  const TORBFieldDef* field = field_defs.GetDef(field_no);
  TORBVariant value(field->FBaseFieldType);
  if (!CheckNullFlag(field_no, record_buffer))
    value.SetData(record_buffer + field->FMemoryOffset, field->FMemoryDataSize, field->FBaseFieldType, false);
  return value;
}

// Fails one check: raises, or tells the caller to answer false.
bool Violation(bool raise_exception, int32_t code, std::string_view format, const FormatArgs& args) {
  if (raise_exception) RaiseORB(code, format, args);
  return false;
}

}  // namespace

void TORBBaseConstraintManager::LoadMetadata(TStream& stream) { FConstraintDefs.LoadFromStream(stream); }

void TORBBaseConstraintManager::SaveMetadata(TStream& stream) const { FConstraintDefs.SaveToStream(stream); }

bool TORBBaseConstraintManager::CheckConstraints(int32_t session_id, const uint8_t* new_record_buffer,
                                                 const uint8_t* old_record_buffer, bool to_insert,
                                                 const TORBPageItemID& current_record_id, bool raise_exception,
                                                 bool check_unique_indexes) {
  const TORBFieldDefs& field_defs = FTableData->FieldManager()->FieldDefs();
  for (int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    TORBConstraintDef* def = FConstraintDefs.GetDef(i);
    switch (def->GetConstraintType()) {
      case ctPK:
      case ctUnique: {
        if (!check_unique_indexes) break;
        auto* unique = static_cast<TORBConstraintDefUnique*>(def);
        if (def->GetConstraintType() == ctPK) {
          bool all_null = true;
          std::string names;
          for (const TORBConstraintColumn& column : unique->Columns()) {
            int32_t field_no = field_defs.GetDefNumberByObjectId(column.ColumnObjectID);
            if (field_no < 0) field_no = field_defs.GetDefNumberByName(std::string_view(column.ColumnName));
            if (field_no >= 0 && !CheckNullFlag(field_no, new_record_buffer)) all_null = false;
            if (!names.empty()) names += ",";
            names += column.ColumnName;
          }
          if (all_null && !unique->Columns().empty())
            return Violation(raise_exception, kErrPrimaryKeyNull,
                             "Constraint '%s' violated. Value in field '%s' cannot be null",
                             {Ansi(def->GetName()), Ansi(names)});
        }
        if (FTableData->IsUniqueConstraintFailed(session_id, unique->FIndexObjectID, new_record_buffer,
                                                 old_record_buffer, to_insert, current_record_id)) {
          if (def->GetConstraintType() == ctPK)
            return Violation(raise_exception, kErrPrimaryKeyDuplicate,
                             "Primary Key constraint '%s' violated. Duplicate found.", {Ansi(def->GetName())});
          return Violation(raise_exception, kErrUniqueDuplicate, "Constraint unique '%s' violated. Duplicate found.",
                           {Ansi(def->GetName())});
        }
        break;
      }
      case ctNotNull: {
        auto* not_null = static_cast<TORBConstraintDefNotNull*>(def);
        const int32_t field_no = field_defs.GetDefNumberByObjectId(not_null->FColumnObjectID);
        if (field_no < 0) RaiseORB(kErrNotNullFieldMissing, kMsgFieldNoNotFound, {not_null->FColumnObjectID});
        if (CheckNullFlag(field_no, new_record_buffer))
          return Violation(raise_exception, kErrNotNullViolated,
                           "Constraint '%s' violated. Value in field '%s' cannot be null",
                           {Ansi(def->GetName()), Ansi(field_defs.GetDef(field_no)->GetName())});
        break;
      }
      case ctCheck: {
        auto* check = static_cast<TORBConstraintDefCheck*>(def);
        const int32_t field_no = field_defs.GetDefNumberByObjectId(check->FColumnObjectID);
        if (field_no < 0) RaiseORB(kErrCheckFieldMissing, kMsgFieldNoNotFound, {check->FColumnObjectID});
        const TORBVariant value = FieldValue(field_defs, field_no, new_record_buffer);
        if (value.IsNull()) break;
        const std::string& field_name = field_defs.GetDef(field_no)->GetName();
        if (!check->FMinValue.IsNull() && value.Compare(check->FMinValue, false, false, false) == cmprLower)
          return Violation(raise_exception, kErrCheckBelowMinimum,
                           "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                           {Ansi(def->GetName()), Ansi(field_name), check->FMinValue.AsWideString()});
        if (!check->FMaxValue.IsNull() && value.Compare(check->FMaxValue, false, false, false) == cmprGreater)
          return Violation(raise_exception, kErrCheckAboveMaximum,
                           "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
                           {Ansi(def->GetName()), Ansi(field_name), check->FMaxValue.AsWideString()});
        break;
      }
      default:
        RaiseORB(kErrConstraintCheckNotImplemented, kMsgNotImplemented);
    }
  }
  return true;
}

void TORBBaseConstraintManager::LinkObjectId(TORBConstraintDef& constraint_def) {
  const TORBFieldDefs& field_defs = FTableData->FieldManager()->FieldDefs();
  switch (constraint_def.GetConstraintType()) {
    case ctPK:
    case ctUnique: {
      const bool primary = constraint_def.GetConstraintType() == ctPK;
      auto& unique = static_cast<TORBConstraintDefUnique&>(constraint_def);
      const TORBIndexDef* index =
          FTableData->IndexManager()->IndexDefs().GetIndexDefByName(std::string_view(unique.GetIndexName()));
      if (index == nullptr)
        RaiseORB(primary ? kErrPrimaryKeyIndexMissing : kErrUniqueIndexMissing, kMsgIndexNotFound,
                 {Ansi(unique.GetIndexName())});
      unique.FIndexObjectID = index->FObjectID;
      for (int32_t c = 0; c < unique.GetColumnCount(); ++c) {
        const std::string& name = unique.Columns()[static_cast<size_t>(c)].ColumnName;
        const TORBFieldDef* field = field_defs.GetFieldDefByName(std::string_view(name));
        if (field == nullptr)
          RaiseORB(primary ? kErrPrimaryKeyFieldMissing : kErrUniqueFieldMissing, kMsgFieldNotFound, {Ansi(name)});
        unique.SetColumnObjectID(c, field->FObjectID);
      }
      break;
    }
    case ctNotNull:
    case ctCheck: {
      auto& not_null = static_cast<TORBConstraintDefNotNull&>(constraint_def);
      const TORBFieldDef* field = field_defs.GetFieldDefByName(std::string_view(not_null.GetColumnName()));
      if (field == nullptr) RaiseORB(kErrNotNullLinkField, kMsgFieldNotFound, {Ansi(not_null.GetColumnName())});
      not_null.FColumnObjectID = field->FObjectID;
      break;
    }
    default:
      RaiseORB(kErrConstraintLinkNotImplemented, kMsgNotImplemented);
  }
}

void TORBBaseConstraintManager::LinkObjectIds() {
  for (int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) LinkObjectId(*FConstraintDefs.GetDef(i));
}

void TORBBaseConstraintManager::FillConstraintAutoNames() {
  const std::string table_name = WideToAnsi(FTableData->TableName());
  for (int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    TORBConstraintDef* def = FConstraintDefs.GetDef(i);
    if (!def->GetName().empty()) continue;
    std::string base;
    if (def->GetConstraintType() == ctNotNull) {
      base = "$C_NotNull$" + table_name + "$" + static_cast<TORBConstraintDefNotNull*>(def)->GetColumnName();
    } else if (def->GetConstraintType() == ctCheck) {
      base = "$C_Check$" + table_name + "$" + static_cast<TORBConstraintDefNotNull*>(def)->GetColumnName();
    } else {
      RaiseORB(kErrConstraintNameNotImplemented, kMsgNotImplemented);
    }
    std::string name = ToShortString(std::string_view(base));
    while (FConstraintDefs.GetDefNumberByName(std::string_view(name)) >= 0)
      name = ToShortString(std::string_view(base + std::to_string(RandomInt(65535))));
    def->SetName(std::string_view(name));
  }
}

TORBConstraintDef* TORBBaseConstraintManager::AddConstraintFromIndex(const TORBIndexDef& index_def) {
  TORBConstraintDef* def = AddConstraintForIndex(index_def, FConstraintDefs);
  if (def == nullptr) return nullptr;
  try {
    def->FObjectID = FTableData->DatabaseData()->GetNewObjectId();
    static_cast<TORBConstraintDefUnique*>(def)->SetTableName(WideToAnsi(FTableData->TableName()));
    LinkObjectId(*def);
  } catch (...) {
    for (int32_t i = FConstraintDefs.GetCount() - 1; i >= 0; --i) {
      if (FConstraintDefs.GetDef(i) == def) {
        FConstraintDefs.Delete(i);
        break;
      }
    }
    throw;
  }
  return def;
}

void TORBBaseConstraintManager::DeleteConstraintForIndexID(int32_t index_object_id) {
  for (int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    TORBConstraintDef* def = FConstraintDefs.GetDef(i);
    if ((def->GetConstraintType() == ctPK || def->GetConstraintType() == ctUnique) &&
        static_cast<TORBConstraintDefUnique*>(def)->FIndexObjectID == index_object_id) {
      FConstraintDefs.Delete(i);
      return;
    }
  }
}

}  // namespace orb
