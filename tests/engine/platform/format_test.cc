#include "engine/platform/format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/platform/locale_support.h"

namespace orb {
namespace {

struct FormatCase {
  const char* fmt;
  FormatArgs args;
  const char* expected;
};

TEST(FormatTest, Placeholders) {
  const std::vector<FormatCase> cases = {
      {"%d", {42}, "42"},
      {"%d", {-7}, "-7"},
      {"%5d|", {42}, "   42|"},
      {"%-5d|", {42}, "42   |"},
      {"%.5d", {42}, "00042"},
      {"%.5d", {-42}, "-00042"},
      {"%.5d", {123456}, "123456"},
      {"%d", {int64_t{1} << 40}, "1099511627776"},
      {"%u", {7u}, "7"},
      {"%x", {255}, "FF"},
      {"%*d", {4, 7}, "   7"},
      {"%s and %s", {"a", std::string("b")}, "a and b"},
      {"'%s'", {""}, "''"},
      {"%.3s", {"abcdef"}, "abc"},
      {"%6s|%-6s|", {"ab", "cd"}, "    ab|cd    |"},
      {"100%%", {}, "100%"},
      {"%%%d%%", {5}, "%5%"},
      {"%1:s %0:s", {"a", "b"}, "b a"},
      {"%0:s %s %0:s", {"a", "b"}, "a b a"},
      {"%f", {1.5}, "1.50"},
      {"%.3f", {-0.5}, "-0.500"},
      {"%.0f", {2.0}, "2"},
      {"%n", {1234567.891}, "1,234,567.89"},
      {"%e", {1234.5}, "1.23450000000000E+003"},
      {"%.3e", {-0.00125}, "-1.25E-003"},
      {"%g", {0.5}, "0.5"},
      {"%D", {3}, "3"},
      {"no placeholders", {}, "no placeholders"},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.fmt);
    std::optional<std::string> got = TryFormat(c.fmt, c.args);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, c.expected);
  }
}

TEST(FormatTest, MismatchedOrMalformedPlaceholdersGiveNothing) {
  const std::vector<FormatCase> cases = {
      {"%d", {"x"}, nullptr},    {"%s", {1}, nullptr},       {"%f", {1}, nullptr},
      {"%d", {1.0}, nullptr},    {"%x", {"ff"}, nullptr},    {"%d %d", {1}, nullptr},
      {"%s", {}, nullptr},       {"%", {}, nullptr},         {"abc %", {1}, nullptr},
      {"%q", {1}, nullptr},      {"%5", {1}, nullptr},       {"%2:d", {1, 2}, nullptr},
      {"%*d", {"4", 7}, nullptr}, {"%99999d", {1}, nullptr}, {"%.*f", {1.0, 2.0}, nullptr},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.fmt);
    EXPECT_FALSE(TryFormat(c.fmt, c.args).has_value());
  }
}

TEST(FormatTest, TextArguments) {
  EXPECT_EQ(TryFormat("%s", FormatArgs{FormatArg(std::u16string(u"\u00e9t\u00e9"))}), "\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(TryFormat("Table '%s'", FormatArgs{Ansi("caf\xe9")}), "Table 'caf\xc3\xa9'");
  EXPECT_EQ(TryFormat("%s", FormatArgs{static_cast<const char*>(nullptr)}), "");
}

TEST(FormatTest, DecimalPointWhateverTheCLocale) {
  testing::ScopedCLocale german("de_DE");
  if (!german.active()) GTEST_SKIP() << "no de_DE locale available";
  EXPECT_EQ(TryFormat("%f|%e|%g|%n", FormatArgs{1.5, 1.5, 1.5, 1234.5}), "1.50|1.50000000000000E+000|1.5|1,234.50");
}

}  // namespace
}  // namespace orb
