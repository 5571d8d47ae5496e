#include "engine/expr/sql_params.h"

#include "engine/expr/sql_names.h"

namespace orb {

void TORBSQLParams::SetItem(int32_t index, std::unique_ptr<TORBSQLParam> param) {
  FParams.at(static_cast<size_t>(index)) = std::move(param);
}

TORBSQLParam* TORBSQLParams::AddCreated() {
  FParams.push_back(std::make_unique<TORBSQLParam>(bftUnknown));
  return FParams.back().get();
}

TORBSQLParam* TORBSQLParams::GetParamByName(std::u16string_view name) const {
  for (const auto& p : FParams) {
    if (SameSqlName(p->Name, name)) return p.get();
  }
  return nullptr;
}

}  // namespace orb
