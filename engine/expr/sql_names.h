#pragma once

#include <string>
#include <string_view>

namespace orb {

// Upper-cased form of an SQL name or keyword, character by character.
std::u16string SqlNameUpper(std::u16string_view name);

// Names, keywords and parameter names compare without regard to case.
bool SameSqlName(std::u16string_view a, std::u16string_view b);

}  // namespace orb
