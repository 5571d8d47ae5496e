#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/variant.h"

namespace orb {

// A named SQL parameter value.
class TORBSQLParam : public TORBVariant {
 public:
  explicit TORBSQLParam(TORBBaseFieldType type = bftUnknown) : TORBVariant(type) {}
  std::u16string Name;
};

// The parameter values handed to the lexer; owns its items.
class TORBSQLParams {
 public:
  int32_t Count() const { return static_cast<int32_t>(FParams.size()); }
  TORBSQLParam* Item(int32_t index) const { return FParams.at(static_cast<size_t>(index)).get(); }
  // Replaces (and frees) the item at `index`.
  void SetItem(int32_t index, std::unique_ptr<TORBSQLParam> param);
  // Appends a null parameter of kind bftUnknown and returns it.
  TORBSQLParam* AddCreated();
  void Clear() { FParams.clear(); }
  // Case-insensitive; null when absent.
  TORBSQLParam* GetParamByName(std::u16string_view name) const;

 private:
  std::vector<std::unique_ptr<TORBSQLParam>> FParams;
};

}  // namespace orb
