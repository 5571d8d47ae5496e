#pragma once
// Advanced index definitions: the framework's index definition plus the
// engine's per-column key sizes and the temporary flag, and their
// conversions to and from the framework's and the engine's definitions.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/adv_field_defs.h"
#include "components/index_defs.h"
#include "engine/base/index_defs.h"

namespace orb {

// Key bytes kept of a string column when no size is given.
inline constexpr int32_t kDefaultMaxIndexedSize = 20;

struct TORBAdvIndexDef {
  std::string FName;
  std::string FFields;         // "a;b" (or "a,b")
  std::string FDescFields;     // same form
  std::string FCaseInsFields;  // same form
  TIndexOptions FOptions = 0;
  std::string FMaxIndexedSizes;  // "20;40": one per field, same separators
  bool FTemporary = false;
};

class TORBAdvIndexDefs {
 public:
  TORBAdvIndexDefs() = default;
  TORBAdvIndexDefs(const TORBAdvIndexDefs&) = delete;
  TORBAdvIndexDefs& operator=(const TORBAdvIndexDefs&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // REQUIRES: 0 <= index < Count().
  TORBAdvIndexDef& Defs(int32_t index) const { return *FItems.at(static_cast<size_t>(index)); }
  // Replaces the list by copies of `source`'s definitions, the temporary
  // ones only when `with_temporary`.
  void Assign(const TORBAdvIndexDefs& source, bool with_temporary = true);
  TORBAdvIndexDef& AddIndexDef();
  TORBAdvIndexDef& Add(std::string name, std::string fields, TIndexOptions options, bool temporary = false,
                       std::string desc_fields = {}, std::string case_ins_fields = {},
                       std::string max_indexed_sizes = {});
  // Raises 20190 "Index '%s' not found".
  void DeleteIndexDef(std::string_view name);
  // Case-insensitive; nullptr when absent.
  TORBAdvIndexDef* Find(std::string_view name) const;
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TORBAdvIndexDef>> FItems;
};

void HostToAdvIndexDefs(const TIndexDefs& source, TORBAdvIndexDefs& dest);
void AdvToHostIndexDefs(const TORBAdvIndexDefs& source, TIndexDefs& dest);
// The non-temporary engine indexes, with their columns' key sizes.
void EngineToAdvIndexDefs(const TORBIndexDefs& source, TORBAdvIndexDefs& dest);

// The engine form of `source`: 20048 for an empty name, 20049 for an empty
// field list, 20050 for a field missing from `fields` (not checked when
// null). A column's key size is its entry in FMaxIndexedSizes, else 20.
void FillORBIndexDef(const TORBAdvIndexDef& source, const TORBAdvFieldDefs* fields, TORBIndexDef& dest);
// Gives every column whose size is not positive, whose field is unknown or
// whose type has no size the default size.
void AutoCorrectAdvIndexDefs(TORBAdvIndexDefs& defs, const TORBAdvFieldDefs& fields);

}  // namespace orb
