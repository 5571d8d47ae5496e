#pragma once

#include <string>
#include <string_view>

namespace orb {

// `prefix` followed by a new GUID in braced text form; names temporary
// tables, indexes and files.
std::string GetTemporaryName(std::string_view prefix);

}  // namespace orb
