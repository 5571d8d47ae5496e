#pragma once

#include <string_view>

namespace orb {

// SQL LIKE: '%' matches any run of characters (also none), '_' exactly one
// character. With `use_escape`, the escape character makes the next pattern
// character literal; an escape at the end of the pattern matches nothing.
// Other characters compare through the collation, optionally ignoring case.
// Each argument ends at its first zero character, if any. Runs in
// O(length(s) * length(pattern)) at worst.
bool IsStrMatchPattern(std::string_view s, std::string_view pattern, bool use_escape, char escape,
                       bool ignore_case);
bool IsWideStrMatchPattern(std::u16string_view s, std::u16string_view pattern, bool use_escape, char16_t escape,
                           bool ignore_case);

}  // namespace orb
