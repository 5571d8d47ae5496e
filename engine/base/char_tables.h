#pragma once

// Byte tables of the engine's code page, built once on first use: the
// upper- and lower-case form of every byte value and each byte value's rank
// in byte order. Plus UTF-16 case mapping of whole strings.

#include <array>
#include <string>
#include <string_view>

namespace orb {

const std::array<unsigned char, 256>& ToUpperChars();
const std::array<unsigned char, 256>& ToLowerChars();
const std::array<unsigned char, 256>& OrderedChars();

std::u16string WideUpperCase(std::u16string_view s);
std::u16string WideLowerCase(std::u16string_view s);

}  // namespace orb
