#include "engine/platform/text_case.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <array>

#include "engine/platform/codepage.h"

namespace orb {

namespace {

using CaseFn = UChar32 (*)(UChar32);

char16_t MapUnit(char16_t c, CaseFn fn) {
  if (U16_IS_SURROGATE(c)) return c;
  UChar32 m = fn(c);
  return U_IS_BMP(m) && !U16_IS_SURROGATE(m) ? static_cast<char16_t>(m) : c;
}

void MapInPlace(std::span<char16_t> s, CaseFn fn) {
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (U16_IS_LEAD(c) && i + 1 < s.size() && U16_IS_TRAIL(s[i + 1])) {
      UChar32 m = fn(U16_GET_SUPPLEMENTARY(c, s[i + 1]));
      if (U_IS_SUPPLEMENTARY(m)) {
        s[i] = U16_LEAD(m);
        s[i + 1] = U16_TRAIL(m);
      }
      ++i;
    } else {
      s[i] = MapUnit(c, fn);
    }
  }
}

struct ByteTables {
  std::array<unsigned char, 256> upper;
  std::array<unsigned char, 256> lower;
};

unsigned char MapByte(unsigned char c, CaseFn fn) {
  char16_t w = AnsiCharToWide(c);
  char16_t m = MapUnit(w, fn);
  if (m == w) return c;
  unsigned char back = WideCharToAnsi(m);
  // Only a character the code page really holds (not the '?' stand-in).
  return AnsiCharToWide(back) == m ? back : c;
}

const ByteTables& Tables() {
  static const ByteTables tables = [] {
    ByteTables t;
    for (int c = 0; c < 256; ++c) {
      t.upper[c] = MapByte(static_cast<unsigned char>(c), u_toupper);
      t.lower[c] = MapByte(static_cast<unsigned char>(c), u_tolower);
    }
    return t;
  }();
  return tables;
}

}  // namespace

char16_t UpperCharW(char16_t c) { return MapUnit(c, u_toupper); }
char16_t LowerCharW(char16_t c) { return MapUnit(c, u_tolower); }
unsigned char UpperCharA(unsigned char c) { return Tables().upper[c]; }
unsigned char LowerCharA(unsigned char c) { return Tables().lower[c]; }

void UpperCaseInPlaceW(std::span<char16_t> s) { MapInPlace(s, u_toupper); }
void LowerCaseInPlaceW(std::span<char16_t> s) { MapInPlace(s, u_tolower); }

void UpperCaseInPlaceA(std::span<char> s) {
  const auto& t = Tables().upper;
  for (char& c : s) c = static_cast<char>(t[static_cast<unsigned char>(c)]);
}

void LowerCaseInPlaceA(std::span<char> s) {
  const auto& t = Tables().lower;
  for (char& c : s) c = static_cast<char>(t[static_cast<unsigned char>(c)]);
}

std::u16string UpperCaseW(std::u16string_view s) {
  std::u16string r(s);
  UpperCaseInPlaceW(r);
  return r;
}

std::u16string LowerCaseW(std::u16string_view s) {
  std::u16string r(s);
  LowerCaseInPlaceW(r);
  return r;
}

std::string UpperCaseA(std::string_view s) {
  std::string r(s);
  UpperCaseInPlaceA(r);
  return r;
}

std::string LowerCaseA(std::string_view s) {
  std::string r(s);
  LowerCaseInPlaceA(r);
  return r;
}

int CompareNames(std::string_view a, std::string_view b) {
  const auto& t = Tables().upper;
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int ca = t[static_cast<unsigned char>(a[i])];
    int cb = t[static_cast<unsigned char>(b[i])];
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameName(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareNames(a, b) == 0; }

int CompareNamesW(std::u16string_view a, std::u16string_view b) {
  std::u16string ua = UpperCaseW(a);
  std::u16string ub = UpperCaseW(b);
  int r = ua.compare(ub);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool SameNameW(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNamesW(a, b) == 0;
}

}  // namespace orb
