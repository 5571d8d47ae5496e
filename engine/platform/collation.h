#pragma once

// Text order. One collation for every process and every run, whatever the
// locale: the root collation, with tertiary strength for case-sensitive and
// secondary strength for case-insensitive comparison. Each thread creates
// its own collators on first use.

#include <string_view>

namespace orb {

// Compares UTF-16 text: < 0, 0 or > 0.
int CompareTextW(std::u16string_view a, std::u16string_view b, bool case_sensitive);

// Compares Windows-1252 byte strings through their UTF-16 form.
int CompareTextA(std::string_view a, std::string_view b, bool case_sensitive);

}  // namespace orb
