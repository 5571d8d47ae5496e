#pragma once

// The field list of `orbdb load --fields`: "NAME TYPE, NAME TYPE(SIZE), ...".
// Type names are the SQL type names (any letter case, first match in the
// type table); string and bytes types need a size in parentheses, every
// other type takes none. Names are single words or double-quoted ("" for
// a quote inside). Mistakes raise the engine's codes for column
// definitions, with the column counted from 1 in the list.

#include <string_view>

#include "engine/base/field_defs.h"

namespace orbdb {

// Appends the fields of `spec` to `defs`.
void ParseFieldSpec(std::string_view spec, orb::TORBFieldDefs& defs);

}  // namespace orbdb
