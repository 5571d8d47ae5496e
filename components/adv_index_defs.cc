#include "components/adv_index_defs.h"

#include <charconv>

#include "components/db_common.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"

namespace orb {

namespace {

std::string Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

bool ListHas(const std::vector<std::string>& list, std::string_view name) {
  for (const std::string& item : list)
    if (SameName(item, name)) return true;
  return false;
}

// The size at `position` of a size list; 0 when missing or not a number.
int32_t SizeAt(const std::vector<std::string>& sizes, size_t position) {
  if (position >= sizes.size()) return 0;
  int32_t value = 0;
  const std::string& text = sizes[position];
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : 0;
}

}  // namespace

void TORBAdvIndexDefs::Assign(const TORBAdvIndexDefs& source, bool with_temporary) {
  if (&source == this) return;
  FItems.clear();
  for (const auto& item : source.FItems)
    if (with_temporary || !item->FTemporary) FItems.push_back(std::make_unique<TORBAdvIndexDef>(*item));
}

TORBAdvIndexDef& TORBAdvIndexDefs::AddIndexDef() {
  FItems.push_back(std::make_unique<TORBAdvIndexDef>());
  return *FItems.back();
}

TORBAdvIndexDef& TORBAdvIndexDefs::Add(std::string name, std::string fields, TIndexOptions options, bool temporary,
                                       std::string desc_fields, std::string case_ins_fields,
                                       std::string max_indexed_sizes) {
  TORBAdvIndexDef& def = AddIndexDef();
  def.FName = std::move(name);
  def.FFields = std::move(fields);
  def.FOptions = options;
  def.FTemporary = temporary;
  def.FDescFields = std::move(desc_fields);
  def.FCaseInsFields = std::move(case_ins_fields);
  def.FMaxIndexedSizes = std::move(max_indexed_sizes);
  return def;
}

void TORBAdvIndexDefs::DeleteIndexDef(std::string_view name) {
  for (auto it = FItems.begin(); it != FItems.end(); ++it)
    if (SameName((*it)->FName, name)) {
      FItems.erase(it);
      return;
    }
  RaiseORB(20190, "Index '%s' not found", {Ansi(name)});
}

TORBAdvIndexDef* TORBAdvIndexDefs::Find(std::string_view name) const {
  for (const auto& item : FItems)
    if (SameName(item->FName, name)) return item.get();
  return nullptr;
}

void HostToAdvIndexDefs(const TIndexDefs& source, TORBAdvIndexDefs& dest) {
  dest.Clear();
  for (int i = 0; i < source.Count(); ++i) {
    const TIndexDef& host = source[i];
    dest.Add(host.Name(), host.Fields(), host.Options(), false, host.DescFields(), host.CaseInsFields());
  }
}

void AdvToHostIndexDefs(const TORBAdvIndexDefs& source, TIndexDefs& dest) {
  dest.Clear();
  for (int32_t i = 0; i < source.Count(); ++i) {
    const TORBAdvIndexDef& def = source.Defs(i);
    TIndexDef& host = dest.Add(def.FName, def.FFields, def.FOptions);
    host.SetDescFields(def.FDescFields);
    host.SetCaseInsFields(def.FCaseInsFields);
  }
}

void EngineToAdvIndexDefs(const TORBIndexDefs& source, TORBAdvIndexDefs& dest) {
  dest.Clear();
  for (int32_t i = 0; i < source.GetCount(); ++i) {
    const TORBIndexDef* def = source.GetIndexDef(i);
    if (def->FTemporary) continue;
    TORBAdvIndexDef& adv = dest.AddIndexDef();
    adv.FName = def->GetName();
    if (def->FPrimary) adv.FOptions |= ixPrimary;
    if (def->FUnique) adv.FOptions |= ixUnique;
    for (int32_t c = 0; c < def->GetColumnCount(); ++c) {
      const TORBIndexColumn* column = def->GetIndexColumn(c);
      const std::string name = WideToAnsi(column->GetFieldName());
      const std::string separator = c ? ";" : "";
      adv.FFields += separator + name;
      adv.FMaxIndexedSizes += separator + std::to_string(column->FMaxIndexedSize);
      if (column->FDescending) adv.FDescFields += (adv.FDescFields.empty() ? "" : ";") + name;
      if (column->FCaseInsensitive) adv.FCaseInsFields += (adv.FCaseInsFields.empty() ? "" : ";") + name;
    }
  }
}

void FillORBIndexDef(const TORBAdvIndexDef& source, const TORBAdvFieldDefs* fields, TORBIndexDef& dest) {
  if (Trimmed(source.FName).empty()) RaiseORB(20048, "Invalid index name '%s'", {Ansi(source.FName)});
  const std::vector<std::string> names = SplitFieldNames(source.FFields);
  if (names.empty()) RaiseORB(20049, "Cannot find index field '%s'", {Ansi(source.FFields)});
  const std::vector<std::string> desc = SplitFieldNames(source.FDescFields);
  const std::vector<std::string> no_case = SplitFieldNames(source.FCaseInsFields);
  const std::vector<std::string> sizes = SplitFieldNames(source.FMaxIndexedSizes);
  dest.SetName(std::string_view(Trimmed(source.FName)));
  dest.FIndexType = itBTree;
  dest.FUnique = (source.FOptions & (ixUnique | ixPrimary)) != 0;
  dest.FPrimary = (source.FOptions & ixPrimary) != 0;
  dest.FTemporary = source.FTemporary;
  dest.SetColumnCount(static_cast<int32_t>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    if (fields != nullptr && fields->Find(names[i]) == nullptr)
      RaiseORB(20050, "Cannot find index field '%s'", {Ansi(names[i])});
    TORBIndexColumn* column = dest.GetIndexColumn(static_cast<int32_t>(i));
    column->SetFieldName(AnsiToWide(names[i]));
    column->FDescending = desc.empty() ? (source.FOptions & ixDescending) != 0 : ListHas(desc, names[i]);
    column->FCaseInsensitive =
        no_case.empty() ? (source.FOptions & ixCaseInsensitive) != 0 : ListHas(no_case, names[i]);
    const int32_t size = SizeAt(sizes, i);
    column->FMaxIndexedSize = i < sizes.size() ? size : kDefaultMaxIndexedSize;
  }
}

void AutoCorrectAdvIndexDefs(TORBAdvIndexDefs& defs, const TORBAdvFieldDefs& fields) {
  for (int32_t i = 0; i < defs.Count(); ++i) {
    TORBAdvIndexDef& adv = defs.Defs(i);
    TORBIndexDef engine;
    FillORBIndexDef(adv, nullptr, engine);
    bool changed = false;
    std::string sizes;
    for (int32_t c = 0; c < engine.GetColumnCount(); ++c) {
      TORBIndexColumn* column = engine.GetIndexColumn(c);
      const TORBAdvFieldDef* field = fields.Find(WideToAnsi(column->GetFieldName()));
      if (column->FMaxIndexedSize <= 0 || field == nullptr || !IsSizebleFieldType(field->FDataType)) {
        changed = changed || column->FMaxIndexedSize != kDefaultMaxIndexedSize;
        column->FMaxIndexedSize = kDefaultMaxIndexedSize;
      }
      sizes += (c ? ";" : "") + std::to_string(column->FMaxIndexedSize);
    }
    if (changed) adv.FMaxIndexedSizes = sizes;
  }
}

}  // namespace orb
