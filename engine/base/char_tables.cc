#include "engine/base/char_tables.h"

#include "engine/platform/text_case.h"

namespace orb {

namespace {

template <typename Fn>
std::array<unsigned char, 256> BuildTable(Fn fn) {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[static_cast<size_t>(c)] = fn(static_cast<unsigned char>(c));
  return table;
}

}  // namespace

const std::array<unsigned char, 256>& ToUpperChars() {
  static const std::array<unsigned char, 256> table = BuildTable(UpperCharA);
  return table;
}

const std::array<unsigned char, 256>& ToLowerChars() {
  static const std::array<unsigned char, 256> table = BuildTable(LowerCharA);
  return table;
}

const std::array<unsigned char, 256>& OrderedChars() {
  static const std::array<unsigned char, 256> table = BuildTable([](unsigned char c) { return c; });
  return table;
}

std::u16string WideUpperCase(std::u16string_view s) { return UpperCaseW(s); }
std::u16string WideLowerCase(std::u16string_view s) { return LowerCaseW(s); }

}  // namespace orb
