#pragma once

#include <string>
#include <string_view>

namespace orb {

// The engine's single-byte code page is Windows-1252. A character it cannot
// hold becomes '?'. Wide strings are UTF-16 in char16_t.

std::u16string AnsiToWide(std::string_view cp1252);
std::string WideToAnsi(std::u16string_view utf16);

std::string AnsiToUtf8(std::string_view cp1252);
std::string Utf8ToAnsi(std::string_view utf8);

// Invalid UTF-8 sequences become U+FFFD; unpaired surrogates likewise.
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view utf16);

// Exact conversions for text handed in by users: `out` receives the
// converted text when the answer is ctfNone; otherwise the first fault, at
// byte `fault_offset` of `utf8`: a sequence that is not UTF-8, a NUL
// character (which the engine's strings cannot hold), or a character the
// code page has no place for (wide strings hold every character).
enum TORBTextFault { ctfNone, ctfInvalidUtf8, ctfNul, ctfNotInCodePage };
TORBTextFault Utf8ToAnsiExact(std::string_view utf8, std::string& out, size_t& fault_offset);
TORBTextFault Utf8ToWideExact(std::string_view utf8, std::u16string& out, size_t& fault_offset);

// File names are bytes, passed through the engine in wide form. PathToWide
// decodes valid UTF-8 like Utf8ToWide, but turns each byte that is not part
// of a valid sequence into a lone low surrogate U+DC80..U+DCFF (the byte
// plus 0xDC00); WideToPath turns those back into the byte, so that
// WideToPath(PathToWide(p)) == p for every byte string p. Other unpaired
// surrogates become U+FFFD as in WideToUtf8. Use these, never
// Utf8ToWide/WideToUtf8, for names that reach the file system.
std::u16string PathToWide(std::string_view path);
std::string WideToPath(std::u16string_view wide);

// One character of the code page as a UTF-16 unit and back ('?' when the
// code page has no such character).
char16_t AnsiCharToWide(unsigned char c);
unsigned char WideCharToAnsi(char16_t c);

}  // namespace orb
