#include "components/field_defs.h"

#include "components/dataset.h"
#include "components/field.h"

namespace orb {

std::unique_ptr<TField> TFieldDef::CreateField() const {
  std::unique_ptr<TField> field = CreateFieldForType(FDataType, FSize);
  if (!field) return nullptr;
  field->SetFieldName(FName);
  field->SetRequired(FRequired);
  field->SetReadOnly(FReadOnly);
  return field;
}

TFieldDef& TFieldDefs::Add(std::string name, TFieldType data_type, int32_t size, bool required) {
  if (name.empty()) DatabaseError(std::string(kSFieldNameMissing));
  if (Find(name)) DatabaseErrorFmt(kSDuplicateFieldName, {Ansi(name)});
  FItems.push_back(std::make_unique<TFieldDef>(std::move(name), data_type, size, required, Count() + 1));
  return *FItems.back();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameName(FItems[i]->Name(), name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : FItems[i].get();
}

TFieldDef& TFieldDefs::FieldDef(std::string_view name) const {
  TFieldDef* def = Find(name);
  if (!def) DatabaseErrorFmt(kSFieldNotFound, {Ansi(name)});
  return *def;
}

void TFieldDefs::Update() {
  if (!FUpdated && FDataSet) FDataSet->InitFieldDefs();
}

}  // namespace orb
