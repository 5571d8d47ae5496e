#include "engine/expr/date_format.h"

#include <gtest/gtest.h>

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/base/date_time_convert.h"

namespace orb {
namespace {

std::string Kinds(const TDateFormater& f) {
  std::string out;
  for (const TDateFormatToken& t : f.Tokens()) {
    if (!out.empty()) out += " ";
    out += t.TokenType == dfText ? "'" + WideToUtf8(t.Text) + "'" : WideToUtf8(t.Text);
  }
  return out;
}

TEST(DateFormatTest, LongestWordWins) {
  struct Case {
    const char* format;
    const char* tokens;
  };
  const Case cases[] = {
      {"DD.MM.YYYY", "DD '.' MM '.' YYYY"},
      {"ddd day dd d", "ddd ' ' day ' ' dd ' ' d"},
      {"MONTH MON MM M", "MONTH ' ' MON ' ' MM ' ' M"},
      {"HH24:NN HH12 HH H24 H12 H", "HH24 ':' NN ' ' HH12 ' ' HH ' ' H24 ' ' H12 ' ' H"},
      {"YYYYY", "YYYY 'Y'"},
      {"'DD' \"MM\" DD", "'DD MM ' DD"},
      {"AMPM RM DY DW Q", "AMPM ' ' RM ' ' DY ' ' DW ' ' Q"},
      {"xyz", "'xyz'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Kinds(TDateFormater(Utf8ToWide(c.format))), c.tokens) << c.format;
  }
}

TEST(DateFormatTest, SizesAndTypes) {
  EXPECT_EQ(TDateFormater(u"DD.MM.YYYY").GetStringMaxSize(), 10);
  EXPECT_EQ(TDateFormater(u"DAY MONTH").GetStringMaxSize(), 12 + 1 + 9);
  EXPECT_EQ(TDateFormater(u"Q RM DY MON DDD").GetStringMaxSize(), 1 + 1 + 4 + 1 + 4 + 1 + 3 + 1 + 3);
  EXPECT_EQ(TDateFormater(u"DD.MM.YYYY").GetDataType(), aftDate);
  EXPECT_EQ(TDateFormater(u"HH24:NN AMPM").GetDataType(), aftTime);
  EXPECT_EQ(TDateFormater(u"DD HH").GetDataType(), aftDateTime);
  EXPECT_EQ(TDateFormater(u"'text'").GetDataType(), aftDateTime);
}

TEST(DateFormatTest, WritesAndReadsBack) {
  TORBDateTime v;
  ASSERT_TRUE(TryEncodeORBDate(2024, 2, 29, v.Date));
  ASSERT_TRUE(TryEncodeORBTime(23, 59, 58, 0, v.Time));
  const TDateFormater f(u"YYYY-MM-DD HH24:NN:SS");
  const std::u16string text = f.ToString(v);
  EXPECT_EQ(text, u"2024-02-29 23:59:58");
  const TDateFormatReadResult r = f.ToDate(text);
  EXPECT_TRUE(r.HasDate);
  EXPECT_TRUE(r.HasTime);
  EXPECT_EQ(r.Value, v);

  // Without a date part, writing uses the framework's date 0.
  TORBDateTime time_only{kORBEmptyDate, 3600000};
  EXPECT_EQ(TDateFormater(u"YYYY-MM-DD H24").ToString(time_only), u"1899-12-30 1");
  EXPECT_EQ(TDateFormater(u"DAY DW").ToString(time_only), u"Saturday 6");
}

TEST(DateFormatTest, ReadingIsBounded) {
  const TDateFormater f(u"DD.MM.YYYY");
  for (const char16_t* text : {u"", u"05", u"05.03.", u"05.03.202", u"0x.03.2024"}) {
    EXPECT_THROW(f.ToDate(text), Exception) << WideToUtf8(text);
  }
  try {
    TDateFormater(u"HH AMPM").ToDate(u"07 ");
    ADD_FAILURE();
  } catch (const EORBException& e) {
    EXPECT_EQ(e.NativeError(), 30129);
  }
}

}  // namespace
}  // namespace orb
