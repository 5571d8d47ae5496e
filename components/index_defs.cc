#include "components/index_defs.h"

#include "components/db_common.h"

namespace orb {

TIndexDef& TIndexDefs::Add(std::string name, std::string fields, TIndexOptions options) {
  if (FindIndex(name)) DatabaseErrorFmt(kSDuplicateIndexName, {Ansi(name)});
  FItems.push_back(std::make_unique<TIndexDef>(std::move(name), std::move(fields), options));
  return *FItems.back();
}

void TIndexDefs::Assign(const TIndexDefs& source) {
  if (&source == this) return;
  FItems.clear();
  for (const auto& def : source.FItems) FItems.push_back(std::make_unique<TIndexDef>(*def));
}

int TIndexDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameName(FItems[i]->Name(), name)) return i;
  return -1;
}

TIndexDef* TIndexDefs::FindIndex(std::string_view name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : FItems[i].get();
}

TIndexDef& TIndexDefs::Find(std::string_view name) const {
  TIndexDef* def = FindIndex(name);
  if (!def) DatabaseErrorFmt(kSIndexNotFound, {Ansi(name)});
  return *def;
}

TIndexDef* TIndexDefs::GetIndexForFields(std::string_view fields, bool case_insensitive) const {
  const std::vector<std::string> wanted = SplitFieldNames(fields);
  if (wanted.empty()) return nullptr;
  TIndexDef* prefix_match = nullptr;
  for (const auto& def : FItems) {
    if (case_insensitive && !(def->Options() & ixCaseInsensitive)) continue;
    if (def->Options() & ixExpression) continue;
    const std::vector<std::string> have = SplitFieldNames(def->Fields());
    if (have.size() < wanted.size()) continue;
    bool same = true;
    for (size_t i = 0; i < wanted.size() && same; ++i) same = SameName(have[i], wanted[i]);
    if (!same) continue;
    if (have.size() == wanted.size()) return def.get();
    if (!prefix_match) prefix_match = def.get();
  }
  return prefix_match;
}

TIndexDef& TIndexDefs::FindIndexForFields(std::string_view fields) const {
  TIndexDef* def = GetIndexForFields(fields, false);
  if (!def) DatabaseErrorFmt(kSNoIndexForFields, {Ansi(fields)});
  return *def;
}

}  // namespace orb
