#include "engine/sql/sql_params.h"

#include "engine/sql/sql_names.h"

namespace orb {

void TORBSQLParams::SetItem(int32_t index, std::unique_ptr<TORBSQLParam> param) {
  params_.at(static_cast<size_t>(index)) = std::move(param);
}

TORBSQLParam* TORBSQLParams::AddCreated() {
  params_.push_back(std::make_unique<TORBSQLParam>(bftUnknown));
  return params_.back().get();
}

TORBSQLParam* TORBSQLParams::GetParamByName(std::u16string_view name) const {
  for (const auto& p : params_) {
    if (SameSqlName(p->Name, name)) return p.get();
  }
  return nullptr;
}

}  // namespace orb
