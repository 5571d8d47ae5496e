#include "engine/platform/text_case.h"

#include <gtest/gtest.h>

#include <string>

namespace orb {
namespace {

// The Windows-1252 case pairs, written out independently of any library.
unsigned char ExpectedUpper(int c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return static_cast<unsigned char>(c);  // incl. µ and ß: no single-byte upper form
  }
}

unsigned char ExpectedLower(int c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return static_cast<unsigned char>(c);
  }
}

TEST(TextCaseTest, CodePageBytes) {
  std::string all;
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(UpperCharA(static_cast<unsigned char>(c)), ExpectedUpper(c)) << c;
    EXPECT_EQ(LowerCharA(static_cast<unsigned char>(c)), ExpectedLower(c)) << c;
    all += static_cast<char>(c);
  }
  std::string upper = UpperCaseA(all);
  ASSERT_EQ(upper.size(), 256u);
  for (int c = 0; c < 256; ++c) EXPECT_EQ(static_cast<unsigned char>(upper[c]), ExpectedUpper(c));
  std::string buf("m\0x\xe9", 4);
  UpperCaseInPlaceA(buf);
  EXPECT_EQ(buf, std::string("M\0X\xc9", 4));
  LowerCaseInPlaceA(buf);
  EXPECT_EQ(buf, std::string("m\0x\xe9", 4));
  EXPECT_EQ(LowerCaseA("ABC\x9f"), "abc\xff");
}

TEST(TextCaseTest, Utf16KeepsItsLength) {
  struct Case {
    std::u16string in, upper, lower;
  };
  const Case cases[] = {
      {u"Stra\u00dfe", u"STRA\u00dfE", u"stra\u00dfe"},      // ß has no one-character upper form
      {u"\u01c6", u"\u01c4", u"\u01c6"},                     // dž
      {u"\u0149", u"\u0149", u"\u0149"},                     // ŉ: full upper form is two characters
      {u"\u0130I", u"\u0130I", u"ii"},                       // İ lowers to a plain i
      {u"\u0131", u"I", u"\u0131"},
      {u"\U00010428x", u"\U00010400X", u"\U00010428x"},      // a pair maps as one character
      {u"\u00b5", u"\u039c", u"\u00b5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UpperCaseW(c.in), c.upper);
    EXPECT_EQ(LowerCaseW(c.in), c.lower);
  }
  std::u16string lone = {u'a', static_cast<char16_t>(0xD801), u'b', static_cast<char16_t>(0xDC28)};
  std::u16string expected = {u'A', static_cast<char16_t>(0xD801), u'B', static_cast<char16_t>(0xDC28)};
  UpperCaseInPlaceW(lone);
  EXPECT_EQ(lone, expected);
  EXPECT_EQ(UpperCharW(static_cast<char16_t>(0xD801)), static_cast<char16_t>(0xD801));
}

TEST(TextCaseTest, Names) {
  EXPECT_TRUE(SameName("Customers", "CUSTOMERS"));
  EXPECT_TRUE(SameName("caf\xe9", "CAF\xc9"));
  EXPECT_TRUE(SameName("", ""));
  EXPECT_FALSE(SameName("a", "ab"));
  EXPECT_FALSE(SameName("ss", "\xdf"));
  EXPECT_LT(CompareNames("abc", "ABD"), 0);
  EXPECT_GT(CompareNames("b", "A"), 0);
  EXPECT_LT(CompareNames("AB", "abc"), 0);
  EXPECT_EQ(CompareNames("x\xff", "X\x9f"), 0);
  EXPECT_TRUE(SameNameW(u"/Data/Jb.orb", u"/DATA/jb.ORB"));
  EXPECT_FALSE(SameNameW(u"a", u"b"));
  EXPECT_LT(CompareNamesW(u"a", u"B"), 0);
  EXPECT_EQ(CompareNamesW(u"\u00e9", u"\u00c9"), 0);
}

}  // namespace
}  // namespace orb
