#include "engine/base/char_tables.h"

#include <set>

#include <gtest/gtest.h>

#include "engine/base/temporary_name.h"

namespace orb {
namespace {

TEST(CharTablesTest, CaseTablesFollowTheCodePage) {
  EXPECT_EQ('A', ToUpperChars()['a']);
  EXPECT_EQ('a', ToLowerChars()['A']);
  EXPECT_EQ(0xC9, ToUpperChars()[0xE9]);  // e acute
  EXPECT_EQ(0xE9, ToLowerChars()[0xC9]);
  EXPECT_EQ('1', ToUpperChars()['1']);
  EXPECT_EQ(0xDF, ToUpperChars()[0xDF]);  // sharp s has no one-character upper case here
  for (int c = 0; c < 256; ++c) EXPECT_EQ(c, OrderedChars()[static_cast<size_t>(c)]);
  EXPECT_EQ(u"\u00C9T\u00C9 \u0394", WideUpperCase(u"\u00E9t\u00E9 \u03B4"));
  EXPECT_EQ(u"\u00E9t\u00E9 \u03B4", WideLowerCase(u"\u00C9T\u00C9 \u0394"));
}

TEST(TemporaryNameTest, PrefixAndUniqueGuid) {
  std::set<std::string> names;
  for (int i = 0; i < 100; ++i) {
    std::string name = GetTemporaryName("TEMPORARY_TABLE_");
    ASSERT_EQ(16u + 38u, name.size());
    EXPECT_EQ(0u, name.find("TEMPORARY_TABLE_{"));
    EXPECT_EQ('}', name.back());
    names.insert(name);
  }
  EXPECT_EQ(100u, names.size());
}

}  // namespace
}  // namespace orb
