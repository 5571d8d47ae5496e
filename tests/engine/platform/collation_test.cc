#include "engine/platform/collation.h"

#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "engine/platform/text_case.h"
#include "tests/engine/platform/locale_support.h"

namespace orb {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CollationTest, RootOrder) {
  struct Case {
    std::u16string a, b;
    int case_sensitive, case_insensitive;
  };
  const Case cases[] = {
      {u"abc", u"abc", 0, 0},
      {u"a", u"A", -1, 0},            // lower case first, equal without case
      {u"a", u"B", -1, -1},           // letters before code unit order
      {u"B", u"a", 1, 1},
      {u"e", u"\u00e9", -1, -1},      // accents count in both
      {u"\u00e9", u"f", -1, -1},
      {u"\u00c9cole", u"\u00e9cole", 1, 0},
      {u"", u"a", -1, -1},
      {u"ab", u"a", 1, 1},
      {u"i", u"\u0131", -1, -1},      // dotless i is a letter of its own after i
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::string(c.a.begin(), c.a.end()));
    EXPECT_EQ(Sign(CompareTextW(c.a, c.b, true)), c.case_sensitive);
    EXPECT_EQ(Sign(CompareTextW(c.a, c.b, false)), c.case_insensitive);
    EXPECT_EQ(Sign(CompareTextW(c.b, c.a, true)), -c.case_sensitive);
  }
}

TEST(CollationTest, CodePageBytesCompareAsTheirCharacters) {
  EXPECT_LT(CompareTextA("\xe9", "f", true), 0);  // é, though 0xE9 > 'f'
  EXPECT_EQ(CompareTextA("ABC", "abc", false), 0);
  EXPECT_LT(CompareTextA("abc", "ABC", true), 0);
  EXPECT_EQ(CompareTextA("\x8a", "\x9a", false), 0);  // Š and š
  EXPECT_LT(CompareTextA("\x80", "a", true), 0);      // currency sign before letters
  std::string with_nul("a\0b", 3);
  EXPECT_NE(CompareTextA(with_nul, "a", true), 0);
}

std::vector<std::u16string> Sorted(std::vector<std::u16string> words, bool case_sensitive) {
  std::sort(words.begin(), words.end(), [&](const std::u16string& a, const std::u16string& b) {
    return CompareTextW(a, b, case_sensitive) < 0;
  });
  return words;
}

TEST(CollationTest, IndependentOfTheDefaultLocales) {
  const std::vector<std::u16string> words = {u"\u0131s\u0131k", u"Istanbul", u"izmir", u"\u0130zmir",
                                             u"cam",            u"\u00e7am",  u"dal",   u"ISTANBUL"};
  std::vector<std::u16string> sensitive_before, insensitive_before;
  std::thread([&] {
    sensitive_before = Sorted(words, true);
    insensitive_before = Sorted(words, false);
  }).join();

  const std::string old_default = uloc_getDefault();
  UErrorCode status = U_ZERO_ERROR;
  uloc_setDefault("tr_TR", &status);
  ASSERT_TRUE(U_SUCCESS(status));
  testing::ScopedCLocale turkish("tr_TR");
  // Collators and case tables made after the switch, in a new thread.
  std::thread([&] {
    EXPECT_EQ(Sorted(words, true), sensitive_before);
    EXPECT_EQ(Sorted(words, false), insensitive_before);
    EXPECT_EQ(CompareTextW(u"I", u"i", false), 0);
    EXPECT_EQ(CompareTextA("FILE", "file", false), 0);
    EXPECT_GT(CompareTextW(u"\u0131", u"i", true), 0);
    EXPECT_EQ(UpperCharA('i'), 'I');
    EXPECT_EQ(LowerCharA('I'), 'i');
    EXPECT_EQ(UpperCharW(u'i'), u'I');
    EXPECT_EQ(LowerCharW(u'I'), u'i');
    EXPECT_TRUE(SameName("index1", "INDEX1"));
    EXPECT_EQ(UpperCaseA("fixed items"), "FIXED ITEMS");
  }).join();
  status = U_ZERO_ERROR;
  uloc_setDefault(old_default.c_str(), &status);
}

}  // namespace
}  // namespace orb
