#include "engine/base/like_match.h"

#include <string>

#include <gtest/gtest.h>

#include "engine/platform/codepage.h"

namespace orb {
namespace {

struct LikeRow {
  const char* s;
  const char* pattern;
  bool use_escape;
  bool ignore_case;
  bool expected;
};

const LikeRow kLikeRows[] = {
    {"abc", "a%", false, false, true},
    {"abc", "%c", false, false, true},
    {"abc", "ab", false, false, false},
    {"", "%", false, false, true},
    {"", "%%", false, false, true},
    {"", "", false, false, true},
    {"", "_", false, false, false},
    {"a", "", false, false, false},
    {"abc", "abc%%", false, false, true},
    {"abc", "abc%", false, false, true},
    {"abc", "a%b%c%", false, false, true},
    {"abc", "%a%b%c%", false, false, true},
    {"abc", "a_c", false, false, true},
    {"abc", "a__c", false, false, false},
    {"abc", "___", false, false, true},
    {"abc", "%_", false, false, true},
    {"abc", "%d", false, false, false},
    {"aXbXc", "a%c", false, false, true},
    {"abcbc", "a%bc", false, false, true},
    {"abcbd", "a%bc", false, false, false},
    {"mississippi", "m%iss%pi", false, false, true},
    {"mississippi", "m%iss%ppx", false, false, false},
    {"a%c", "a\\%c", true, false, true},
    {"abc", "a\\%c", true, false, false},
    {"a_c", "a\\_c", true, false, true},
    {"abc", "a\\_c", true, false, false},
    {"a\\c", "a\\\\c", true, false, true},
    {"a\\", "a\\", true, false, false},
    {"a\\c", "a\\%", false, false, true},
    {"ABC", "abc", false, true, true},
    {"ABC", "abc", false, false, false},
    {"ABC", "a%C", false, true, true},
    {"\xC9T\xC9", "\xE9t\xE9", false, true, true},  // accented letters fold too
    {"\xC9T\xC9", "\xE9t\xE9", false, false, false},
    {"e", "\xE9", false, true, false},  // accents are never ignored
};

TEST(LikeMatchTest, Table) {
  for (const LikeRow& r : kLikeRows) {
    EXPECT_EQ(r.expected, IsStrMatchPattern(r.s, r.pattern, r.use_escape, '\\', r.ignore_case))
        << "'" << r.s << "' LIKE '" << r.pattern << "'";
    EXPECT_EQ(r.expected,
              IsWideStrMatchPattern(AnsiToWide(r.s), AnsiToWide(r.pattern), r.use_escape, u'\\', r.ignore_case))
        << "wide '" << r.s << "' LIKE '" << r.pattern << "'";
  }
}

TEST(LikeMatchTest, StopsAtZeroCharacter) {
  EXPECT_TRUE(IsStrMatchPattern(std::string_view("ab\0zz", 5), "ab", false, 0, false));
  EXPECT_TRUE(IsStrMatchPattern("ab", std::string_view("a%\0x", 4), false, 0, false));
}

// Many '%' against a long non-matching subject must stay polynomial; a
// backtracking matcher would not finish.
TEST(LikeMatchTest, ManyWildcardsAreNotExponential) {
  std::string s(5000, 'a');
  std::string pattern;
  for (int i = 0; i < 60; ++i) pattern += "%a";
  pattern += "%b";
  EXPECT_FALSE(IsStrMatchPattern(s, pattern, false, 0, false));
  EXPECT_FALSE(IsWideStrMatchPattern(AnsiToWide(s), AnsiToWide(pattern), false, 0, true));
  s += 'b';
  EXPECT_TRUE(IsStrMatchPattern(s, pattern, false, 0, false));
}

}  // namespace
}  // namespace orb
