#include "components/adv_field_defs.h"

#include "components/field_defs.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"

namespace orb {

namespace {

constexpr size_t kMaxFieldNameLength = 255;

bool HasEmptyText(const TORBVariant& value) {
  if (value.IsNull()) return true;
  if (!IsStringFieldType(value.DataType()) && !IsWideStringFieldType(value.DataType())) return false;
  return value.AsAnsiString().empty();
}

// Null of `type` for a missing or empty value, else the value in `type`.
void CorrectValue(TORBVariant& value, TORBBaseFieldType type) {
  if (HasEmptyText(value)) {
    value.Clear(type);
    return;
  }
  if (type != bftUnknown && value.DataType() != type) value.Cast(type);
}

bool IsSizedType(TORBAdvancedFieldType aft) {
  return IsStringFieldType(aft) || IsWideStringFieldType(aft) || aft == aftBytes || aft == aftVarBytes;
}

}  // namespace

void TORBAdvFieldDefs::Assign(const TORBAdvFieldDefs& source) {
  if (&source == this) return;
  FItems.clear();
  for (const auto& item : source.FItems) FItems.push_back(std::make_unique<TORBAdvFieldDef>(*item));
}

TORBAdvFieldDef& TORBAdvFieldDefs::AddFieldDef() {
  FItems.push_back(std::make_unique<TORBAdvFieldDef>());
  return *FItems.back();
}

TORBAdvFieldDef& TORBAdvFieldDefs::Add(std::string name, TORBAdvancedFieldType data_type, int32_t size,
                                       bool required, TCompressionAlgorithm algorithm, uint8_t mode) {
  TORBAdvFieldDef& def = AddFieldDef();
  def.FName = std::move(name);
  def.FDataType = data_type;
  def.FSize = size;
  def.FRequired = required;
  def.FBLOBCompressionAlgorithm = algorithm;
  def.FBLOBCompressionMode = mode;
  return def;
}

void TORBAdvFieldDefs::DeleteFieldDef(std::string_view name) {
  for (auto it = FItems.begin(); it != FItems.end(); ++it)
    if (SameName((*it)->FName, name)) {
      FItems.erase(it);
      return;
    }
  RaiseORB(30349, "Field '%s' not found", {std::string(name)});
}

TORBAdvFieldDef* TORBAdvFieldDefs::Find(std::string_view name) const {
  for (const auto& item : FItems)
    if (SameName(item->FName, name)) return item.get();
  return nullptr;
}

// --- conversions ---

void HostToAdvFieldDefs(const TFieldDefs& source, TORBAdvFieldDefs& dest) {
  dest.Clear();
  for (int i = 0; i < source.Count(); ++i) {
    const TFieldDef& host = source[i];
    dest.Add(host.Name(), FieldTypeToORBAdvFieldType(host.DataType()), host.Size(), host.Required());
  }
}

void AdvToHostFieldDefs(const TORBAdvFieldDefs& source, TFieldDefs& dest) {
  dest.Clear();
  for (int32_t i = 0; i < source.Count(); ++i) {
    const TORBAdvFieldDef& def = source.Defs(i);
    dest.Add(def.FName, ORBAdvFieldTypeToFieldType(def.FDataType), def.FSize, def.FRequired);
  }
}

void AdvToEngineFieldDefs(const TORBAdvFieldDefs& source, const TORBIndexDefs& indexes, bool temporary,
                          TORBFieldDefs& fields, TORBConstraintDefs& constraints) {
  fields.Clear();
  constraints.Clear();
  for (int32_t i = 0; i < source.Count(); ++i) {
    const TORBAdvFieldDef& adv = source.Defs(i);
    TORBFieldDef* def = fields.AddCreated();
    def->SetName(std::string_view(adv.FName).substr(0, kMaxFieldNameLength));
    def->SetFieldDefDataType(adv.FDataType, adv.FSize);
    def->FBLOBCompressionAlgorithm = static_cast<TORBCompressionAlgorithm>(adv.FBLOBCompressionAlgorithm);
    def->FBLOBCompressionMode = adv.FBLOBCompressionMode;
    def->FBLOBBlockSize = adv.FBLOBBlockSize < 1 ? DefaultBLOBBlockSize : adv.FBLOBBlockSize;
    def->FAutoincIncrement = adv.FAutoincIncrement;
    def->FAutoincInitialValue = adv.FAutoincInitialValue;
    def->FAutoincMinValue = adv.FAutoincMinValue;
    def->FAutoincMaxValue = adv.FAutoincMaxValue;
    def->FAutoincCycled = adv.FAutoincCycled;
    def->FDefaultValue = adv.FDefaultValue;
    def->CreateDefaultValueExprIfNeeded();
    if (temporary) continue;
    if (adv.FRequired) constraints.AddNotNull()->SetColumnName(def->GetName());
    if (!adv.FMinValue.IsNull() || !adv.FMaxValue.IsNull()) {
      TORBConstraintDefCheck* check = constraints.AddCheck();
      check->SetColumnName(def->GetName());
      check->FMinValue = adv.FMinValue;
      check->FMaxValue = adv.FMaxValue;
    }
  }
  if (temporary) return;
  for (int32_t i = 0; i < indexes.GetCount(); ++i)
    AddConstraintForIndex(*static_cast<const TORBIndexDef*>(indexes.GetDef(i)), constraints);
}

void EngineToAdvFieldDefs(const TORBFieldDefs& fields, const TORBConstraintDefs& constraints,
                          TORBAdvFieldDefs& dest) {
  dest.Clear();
  for (int32_t i = 0; i < fields.GetCount(); ++i) {
    const TORBFieldDef* def = fields.GetDef(i);
    TORBAdvFieldDef& adv = dest.AddFieldDef();
    adv.FName = def->GetName();
    adv.FObjectID = def->FObjectID;
    adv.FDataType = def->FAdvancedFieldType;
    adv.FSize = def->FAdvancedFieldType == aftGuid ? 0 : def->FFieldSize;
    adv.FDefaultValue = def->FDefaultValue;
    adv.FAutoincIncrement = def->FAutoincIncrement;
    adv.FAutoincInitialValue = def->FAutoincInitialValue;
    adv.FAutoincMinValue = def->FAutoincMinValue;
    adv.FAutoincMaxValue = def->FAutoincMaxValue;
    adv.FAutoincCycled = def->FAutoincCycled;
    adv.FBLOBCompressionAlgorithm = static_cast<TCompressionAlgorithm>(def->FBLOBCompressionAlgorithm);
    adv.FBLOBCompressionMode = def->FBLOBCompressionMode;
    adv.FBLOBBlockSize = def->FBLOBBlockSize;
  }
  for (int32_t i = 0; i < constraints.GetCount(); ++i) {
    const TORBConstraintDef* constraint = constraints.GetDef(i);
    switch (constraint->GetConstraintType()) {
      case ctNotNull: {
        const auto* not_null = static_cast<const TORBConstraintDefNotNull*>(constraint);
        TORBAdvFieldDef* adv = dest.Find(not_null->GetColumnName());
        if (adv == nullptr) RaiseORB(30031, "Field #%d not found", {not_null->FColumnObjectID});
        adv->FRequired = true;
        break;
      }
      case ctCheck: {
        const auto* check = static_cast<const TORBConstraintDefCheck*>(constraint);
        TORBAdvFieldDef* adv = dest.Find(check->GetColumnName());
        if (adv == nullptr) RaiseORB(30032, "Field #%d not found", {check->FColumnObjectID});
        adv->FMinValue = check->FMinValue;
        adv->FMaxValue = check->FMaxValue;
        break;
      }
      case ctPK:
      case ctUnique:
        break;  // carried by the index definitions
      default:
        RaiseORB(30039, "Not implemented yet");
    }
  }
}

void EngineToHostFieldDefs(const TORBFieldDefs& fields, const TORBConstraintDefs& constraints, TFieldDefs& dest) {
  dest.Clear();
  for (int32_t i = 0; i < fields.GetCount(); ++i) {
    const TORBFieldDef* def = fields.GetDef(i);
    const TORBAdvancedFieldType aft = def->FAdvancedFieldType;
    const TFieldType type = ORBAdvFieldTypeToFieldType(aft);
    int32_t size = 0;
    if (type == ftGuid)
      size = 38;
    else if (IsSizebleFieldType(aft))
      size = def->FFieldSize;
    bool required = false;
    if (!IsAutoincFieldType(aft))
      for (int32_t c = 0; c < constraints.GetCount() && !required; ++c) {
        const TORBConstraintDef* constraint = constraints.GetDef(c);
        required = constraint->GetConstraintType() == ctNotNull &&
                   SameName(static_cast<const TORBConstraintDefNotNull*>(constraint)->GetColumnName(), def->GetName());
      }
    dest.Add(def->GetName(), type, size, required);
  }
}

void AutoCorrectAdvFieldDefs(TORBAdvFieldDefs& defs) {
  for (int32_t i = 0; i < defs.Count(); ++i) {
    TORBAdvFieldDef& def = defs.Defs(i);
    const TORBBaseFieldType bft = AdvancedFieldTypeToBaseFieldType(def.FDataType);
    if (HasEmptyText(def.FDefaultValue)) {
      def.FDefaultValue.Clear(bft);
    } else if (bft != bftUnknown && def.FDefaultValue.DataType() != bft) {
      // A default that does not convert is an expression the engine
      // evaluates for each new record: it stays text.
      TORBVariant cast = def.FDefaultValue;
      try {
        cast.Cast(bft);
        def.FDefaultValue = std::move(cast);
      } catch (const EORBException&) {
      }
    }
    CorrectValue(def.FMinValue, bft);
    CorrectValue(def.FMaxValue, bft);
    if (!IsStringFieldType(bft) && !IsWideStringFieldType(bft) && bft != bftBytes && bft != bftVarBytes)
      def.FSize = 0;
    if (def.FDataType == aftGuid) def.FSize = 38;
  }
}

void CheckAdvFieldDefs(const TORBAdvFieldDefs& defs, const std::string& table_name) {
  for (int32_t i = 0; i < defs.Count(); ++i) {
    const TORBAdvFieldDef& def = defs.Defs(i);
    if (def.FName.empty())
      RaiseORB(30499, "Missing field name. FieldNo=%d, table '%s'", {i + 1, Ansi(table_name)});
    if (IsSizedType(def.FDataType) && def.FSize < 1)
      RaiseORB(30453, "Cannot create table '%s' with field: %s %s(%d)",
               {Ansi(table_name), Ansi(def.FName),
                WideToAnsi(BftToStr(AdvancedFieldTypeToBaseFieldType(def.FDataType))), def.FSize});
    if (IsBLOBFieldType(def.FDataType) && def.FBLOBCompressionAlgorithm != caNone &&
        (def.FBLOBCompressionMode == 0 || def.FBLOBCompressionMode > 9))
      RaiseORB(20257, "Invalid BlobCompressionMode (must be in 1..9 range) for blob field '%s'. Cannot create table '%s'",
               {Ansi(def.FName), Ansi(table_name)});
  }
}

}  // namespace orb
