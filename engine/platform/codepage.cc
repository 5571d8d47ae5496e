#include "engine/platform/codepage.h"

#include <array>
#include <optional>

namespace orb {
namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks a byte the code page leaves
// undefined (mapped to the C1 control of the same value, as Windows does).
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A byte 0x80..0xFF that is not valid UTF-8 in a file name, in wide form.
constexpr char16_t kEscapedByteBase = 0xDC00;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Decodes one code point at `i`, advancing it; U+FFFD for a bad sequence.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0xFFFD;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size()) return 0xFFFD;
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

// Decodes one code point of UTF-16 at `i`, advancing it.
char32_t DecodeUtf16(std::u16string_view s, size_t& i) {
  const char16_t u = s[i++];
  if (u >= 0xD800 && u <= 0xDBFF) {
    if (i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
      const char16_t lo = s[i++];
      return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (lo - 0xDC00);
    }
    return 0xFFFD;
  }
  if (u >= 0xDC00 && u <= 0xDFFF) return 0xFFFD;
  return u;
}

// The code point at `i`, advancing it; nothing for a bad sequence.
std::optional<char32_t> DecodeUtf8Exact(std::string_view s, size_t& i) {
  const size_t start = i;
  const char32_t cp = DecodeUtf8(s, i);
  if (cp == 0xFFFD) {
    // U+FFFD itself is a valid character: EF BF BD.
    if (i - start != 3 || s.substr(start, 3) != "\xEF\xBF\xBD") return std::nullopt;
  }
  return cp;
}

// Whether the code page holds `cp`, and as which byte.
std::optional<unsigned char> CodePointToAnsiExact(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (size_t k = 0; k < kHigh.size(); ++k) {
    if (kHigh[k] == cp) return static_cast<unsigned char>(0x80 + k);
  }
  return std::nullopt;
}

// Length of the leading run of bytes 0x01..0x7F, which every conversion
// takes over unchanged.
size_t AsciiPrefix(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b == 0 || b >= 0x80) break;
    ++i;
  }
  return i;
}

unsigned char CodePointToAnsi(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (size_t k = 0; k < kHigh.size(); ++k) {
    if (kHigh[k] == cp) return static_cast<unsigned char>(0x80 + k);
  }
  return '?';
}

}  // namespace

char16_t AnsiCharToWide(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F) return kHigh[c - 0x80];
  return c;
}

unsigned char WideCharToAnsi(char16_t c) { return CodePointToAnsi(c); }

std::u16string AnsiToWide(std::string_view cp1252) {
  std::u16string out;
  out.reserve(cp1252.size());
  for (char c : cp1252) out += AnsiCharToWide(static_cast<unsigned char>(c));
  return out;
}

std::string WideToAnsi(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  size_t i = 0;
  while (i < utf16.size()) out += static_cast<char>(CodePointToAnsi(DecodeUtf16(utf16, i)));
  return out;
}

std::string AnsiToUtf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size());
  for (char c : cp1252) AppendUtf8(out, AnsiCharToWide(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) out += static_cast<char>(CodePointToAnsi(DecodeUtf8(utf8, i)));
  return out;
}

TORBTextFault Utf8ToAnsiExact(std::string_view utf8, std::string& out, size_t& fault_offset) {
  size_t i = AsciiPrefix(utf8);
  out.assign(utf8.data(), i);
  while (i < utf8.size()) {
    const size_t start = i;
    const std::optional<char32_t> cp = DecodeUtf8Exact(utf8, i);
    fault_offset = start;
    if (!cp) return ctfInvalidUtf8;
    if (*cp == 0) return ctfNul;
    const std::optional<unsigned char> b = CodePointToAnsiExact(*cp);
    if (!b) return ctfNotInCodePage;
    out += static_cast<char>(*b);
  }
  return ctfNone;
}

TORBTextFault Utf8ToWideExact(std::string_view utf8, std::u16string& out, size_t& fault_offset) {
  out.clear();
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const size_t start = i;
    const std::optional<char32_t> cp = DecodeUtf8Exact(utf8, i);
    fault_offset = start;
    if (!cp) return ctfInvalidUtf8;
    if (*cp == 0) return ctfNul;
    AppendUtf16(out, *cp);
  }
  return ctfNone;
}

std::u16string Utf8ToWide(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) AppendUtf16(out, DecodeUtf8(utf8, i));
  return out;
}

std::string WideToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  size_t i = 0;
  while (i < utf16.size()) AppendUtf8(out, DecodeUtf16(utf16, i));
  return out;
}

std::u16string PathToWide(std::string_view path) {
  std::u16string out;
  out.reserve(path.size());
  size_t i = 0;
  while (i < path.size()) {
    size_t next = i;
    const char32_t cp = DecodeUtf8(path, next);
    // U+FFFD is also a valid character of its own (EF BF BD).
    const bool bad = cp == 0xFFFD && path.substr(i, next - i) != "\xEF\xBF\xBD";
    if (bad) {
      out += static_cast<char16_t>(kEscapedByteBase + static_cast<unsigned char>(path[i]));
      ++i;
    } else {
      AppendUtf16(out, cp);
      i = next;
    }
  }
  return out;
}

std::string WideToPath(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  size_t i = 0;
  while (i < wide.size()) {
    const char16_t u = wide[i];
    if (u >= kEscapedByteBase + 0x80 && u <= kEscapedByteBase + 0xFF) {
      // Never the second half of a pair: DecodeUtf16 takes those with
      // their first half.
      out += static_cast<char>(u - kEscapedByteBase);
      ++i;
    } else {
      AppendUtf8(out, DecodeUtf16(wide, i));
    }
  }
  return out;
}

}  // namespace orb
