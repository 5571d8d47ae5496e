#pragma once

// Case mapping, one character at a time and never changing the length:
// simple Unicode case mapping of each character (independent of any locale),
// and for Windows-1252 bytes the same mapping through the code page. A
// character whose mapped form does not fit (another length in UTF-16, or no
// place in the code page) stays as it is.
//
// Names (tables, fields, indexes, sessions, keywords, parameters) compare
// without regard to case through this mapping.

#include <span>
#include <string>
#include <string_view>

namespace orb {

char16_t UpperCharW(char16_t c);
char16_t LowerCharW(char16_t c);
unsigned char UpperCharA(unsigned char c);
unsigned char LowerCharA(unsigned char c);

std::u16string UpperCaseW(std::u16string_view s);
std::u16string LowerCaseW(std::u16string_view s);
std::string UpperCaseA(std::string_view s);
std::string LowerCaseA(std::string_view s);

// In place, over a buffer (surrogate pairs are mapped as one character).
void UpperCaseInPlaceW(std::span<char16_t> s);
void LowerCaseInPlaceW(std::span<char16_t> s);
void UpperCaseInPlaceA(std::span<char> s);
void LowerCaseInPlaceA(std::span<char> s);

// Case-insensitive name comparison of Windows-1252 names: the upper-cased
// bytes compared as unsigned bytes.
int CompareNames(std::string_view a, std::string_view b);
bool SameName(std::string_view a, std::string_view b);
// The same for UTF-16 names (file names), by upper-cased UTF-16 units.
int CompareNamesW(std::u16string_view a, std::u16string_view b);
bool SameNameW(std::u16string_view a, std::u16string_view b);

}  // namespace orb
