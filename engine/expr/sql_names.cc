#include "engine/expr/sql_names.h"

#include "engine/platform/text_case.h"

namespace orb {

std::u16string SqlNameUpper(std::u16string_view name) { return UpperCaseW(name); }

bool SameSqlName(std::u16string_view a, std::u16string_view b) { return SameNameW(a, b); }

}  // namespace orb
