#include "engine/platform/codepage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace orb {
namespace {

TEST(CodePageTest, EveryByteRoundTrips) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  std::u16string wide = AnsiToWide(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(WideToAnsi(wide), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(WideToUtf8(wide), AnsiToUtf8(all));
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(WideCharToAnsi(AnsiCharToWide(static_cast<unsigned char>(c))), c);
  }
}

TEST(CodePageTest, KnownCharacters) {
  struct Case {
    unsigned char byte;
    char16_t wide;
  };
  const Case cases[] = {{'A', u'A'},       {0x80, u'\u20ac'}, {0x8A, u'\u0160'}, {0x9F, u'\u0178'},
                        {0xA0, u'\u00a0'}, {0xE9, u'\u00e9'}, {0xFF, u'\u00ff'}, {0x81, u'\u0081'}};
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiCharToWide(c.byte), c.wide) << int(c.byte);
    EXPECT_EQ(WideCharToAnsi(c.wide), c.byte) << int(c.byte);
  }
  EXPECT_EQ(AnsiToUtf8("\x80"), "\xe2\x82\xac");
}

TEST(CodePageTest, UnmappableBecomesQuestionMark) {
  EXPECT_EQ(WideCharToAnsi(u'\u0131'), '?');  // dotless i
  EXPECT_EQ(WideCharToAnsi(u'\u0080'), '?');  // C1 control the code page puts elsewhere
  EXPECT_EQ(WideToAnsi(u"a\u4e2db"), "a?b");
  EXPECT_EQ(WideToAnsi(u"x\U0001F600y"), "x?y");  // a surrogate pair is one character
  EXPECT_EQ(Utf8ToAnsi("\xe4\xb8\xad"), "?");
  EXPECT_EQ(Utf8ToAnsi("caf\xc3\xa9"), "caf\xe9");
}

TEST(CodePageTest, ExactConversionsNameTheFirstFault) {
  struct Case {
    std::string utf8;
    TORBTextFault ansi_fault;  // ctfNone: converts to `ansi`
    std::string ansi;
    TORBTextFault wide_fault;
    size_t offset;  // of the fault
  };
  const Case cases[] = {
      {"plain", ctfNone, "plain", ctfNone, 0},
      {"caf\xc3\xa9 \xe2\x82\xac", ctfNone, "caf\xe9 \x80", ctfNone, 0},
      {"\xc2\x81", ctfNone, "\x81", ctfNone, 0},  // a byte the code page leaves undefined
      {"\xef\xbf\xbd", ctfNotInCodePage, "", ctfNone, 0},  // U+FFFD typed as such
      {"\xce\xa9mega", ctfNotInCodePage, "", ctfNone, 0},
      {"x\xe6\x97\xa5", ctfNotInCodePage, "", ctfNone, 1},
      {"ab\xff", ctfInvalidUtf8, "", ctfInvalidUtf8, 2},
      {"a\xe4\xb8", ctfInvalidUtf8, "", ctfInvalidUtf8, 1},
      {"\xc0\xaf", ctfInvalidUtf8, "", ctfInvalidUtf8, 0},       // overlong
      {"\xed\xa0\x80", ctfInvalidUtf8, "", ctfInvalidUtf8, 0},  // encoded surrogate
      {std::string("ab\0cd", 5), ctfNul, "", ctfNul, 2},
  };
  for (const Case& c : cases) {
    std::string ansi;
    size_t offset = 99;
    EXPECT_EQ(Utf8ToAnsiExact(c.utf8, ansi, offset), c.ansi_fault) << c.utf8;
    if (c.ansi_fault == ctfNone) {
      EXPECT_EQ(ansi, c.ansi) << c.utf8;
    } else {
      EXPECT_EQ(offset, c.offset) << c.utf8;
    }
    std::u16string wide;
    offset = 99;
    EXPECT_EQ(Utf8ToWideExact(c.utf8, wide, offset), c.wide_fault) << c.utf8;
    if (c.wide_fault == ctfNone) {
      EXPECT_EQ(wide, Utf8ToWide(c.utf8)) << c.utf8;
    } else {
      EXPECT_EQ(offset, c.offset) << c.utf8;
    }
  }
}

TEST(CodePageTest, Utf8AndUtf16) {
  const std::u16string text = u"a\u00e9\u4e2d\U0001F600";
  const std::string utf8 = "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80";
  EXPECT_EQ(WideToUtf8(text), utf8);
  EXPECT_EQ(Utf8ToWide(utf8), text);
  // Damaged input never reads past its end and yields replacement characters.
  EXPECT_EQ(Utf8ToWide("a\xff" "b"), u"a\ufffdb");
  EXPECT_EQ(Utf8ToWide("\xe4\xb8"), u"\ufffd");
  EXPECT_EQ(Utf8ToWide("\xc0\xaf"), u"\ufffd");  // overlong
  EXPECT_EQ(Utf8ToWide("\xed\xa0\x80"), u"\ufffd");  // encoded surrogate
  EXPECT_EQ(WideToUtf8(std::u16string(1, u'\xd800') + u"x"), "\xef\xbf\xbdx");
  EXPECT_EQ(WideToUtf8(std::u16string(1, u'\xdc00')), "\xef\xbf\xbd");
}

// File names keep every byte through the wide form.
TEST(CodePageTest, PathsRoundTripAnyBytes) {
  struct Case {
    std::string path;
    std::u16string wide;
  };
  const Case cases[] = {
      {"plain/db.orb", u"plain/db.orb"},
      {"caf\xc3\xa9\xf0\x9f\x98\x80", u"caf\u00e9\U0001F600"},
      {"a\xff" "b", std::u16string(u"a") + char16_t(0xDCFF) + u"b"},
      {"\x80", std::u16string(1, char16_t(0xDC80))},
      {"\xe4\xb8", {char16_t(0xDCE4), char16_t(0xDCB8)}},            // cut sequence
      {"\xc0\xaf", {char16_t(0xDCC0), char16_t(0xDCAF)}},            // overlong
      {"\xed\xb2\x80", {char16_t(0xDCED), char16_t(0xDCB2), char16_t(0xDC80)}},  // encoded escape
      {"\xef\xbf\xbd", u"\ufffd"},                                  // a real U+FFFD
      {"\xe9t\xe9", {char16_t(0xDCE9), u't', char16_t(0xDCE9)}},     // Windows-1252 text
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathToWide(c.path), c.wide) << c.path;
    EXPECT_EQ(WideToPath(c.wide), c.path) << c.path;
  }
  std::mt19937 rng(4);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string path(rng() % 12, '\0');
    for (char& ch : path) ch = static_cast<char>(rng() % 4 == 0 ? rng() % 128 : 128 + rng() % 128);
    ASSERT_EQ(WideToPath(PathToWide(path)), path);
  }
  // Unpaired surrogates that no path maps to stay replacement characters.
  EXPECT_EQ(WideToPath(std::u16string(1, u'\xd800') + u"x"), "\xef\xbf\xbdx");
  EXPECT_EQ(WideToPath(std::u16string(1, u'\xdc7f')), "\xef\xbf\xbd");
  // Text conversion is unchanged: bad bytes are replaced there.
  EXPECT_EQ(Utf8ToWide("a\xff" "b"), u"a\ufffdb");
  EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xDCFF))), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace orb
