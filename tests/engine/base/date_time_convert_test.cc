#include "engine/base/date_time_convert.h"

#include <gtest/gtest.h>

#include "engine/base/orb_exception.h"
#include "engine/base/iso_date_parse.h"
#include "engine/base/value_text.h"

namespace orb {
namespace {

TEST(DateTimeConvertTest, CalendarDayNumbers) {
  struct Row {
    int y, m, d;
    int32_t day;
  };
  const Row rows[] = {
      {1, 1, 1, 1},          {1, 12, 31, 365},      {4, 12, 31, 1461},     {1899, 12, 30, 693594},
      {1900, 3, 1, 693655},  {2000, 2, 29, 730179}, {2000, 3, 1, 730180},  {2024, 5, 17, 739023},
      {9999, 12, 31, 3652059},
  };
  for (const Row& r : rows) {
    int32_t day = 0;
    ASSERT_TRUE(TryEncodeORBDate(r.y, r.m, r.d, day)) << r.y << "-" << r.m << "-" << r.d;
    EXPECT_EQ(r.day, day) << r.y << "-" << r.m << "-" << r.d;
    int y, m, d;
    ASSERT_TRUE(TryDecodeORBDate(r.day, y, m, d));
    EXPECT_EQ(r.y, y);
    EXPECT_EQ(r.m, m);
    EXPECT_EQ(r.d, d);
  }
  // Every day of four centuries decodes to the date it came from.
  for (int32_t day = 693594; day < 693594 + 146097; ++day) {
    int y, m, d;
    int32_t back = 0;
    ASSERT_TRUE(TryDecodeORBDate(day, y, m, d));
    ASSERT_TRUE(TryEncodeORBDate(y, m, d, back));
    ASSERT_EQ(day, back);
  }
}

TEST(DateTimeConvertTest, InvalidCalendarValues) {
  int32_t v;
  EXPECT_FALSE(TryEncodeORBDate(2024, 2, 30, v));
  EXPECT_FALSE(TryEncodeORBDate(1900, 2, 29, v));
  EXPECT_TRUE(TryEncodeORBDate(2000, 2, 29, v));
  EXPECT_FALSE(TryEncodeORBDate(0, 1, 1, v));
  EXPECT_FALSE(TryEncodeORBDate(10000, 1, 1, v));
  EXPECT_FALSE(TryEncodeORBDate(2024, 13, 1, v));
  EXPECT_FALSE(TryEncodeORBDate(2024, 0, 1, v));
  int y, m, d;
  EXPECT_FALSE(TryDecodeORBDate(0, y, m, d));
  EXPECT_FALSE(TryDecodeORBDate(kORBEmptyDate, y, m, d));
  EXPECT_FALSE(TryDecodeORBDate(3652060, y, m, d));
  EXPECT_FALSE(TryEncodeORBTime(24, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeORBTime(12, 60, 0, 0, v));
  EXPECT_FALSE(TryEncodeORBTime(12, 0, 0, 1000, v));
  ASSERT_TRUE(TryEncodeORBTime(23, 59, 59, 999, v));
  EXPECT_EQ(kMSecsPerDay - 1, v);
  int h, mi, s, ms;
  DecodeORBTime(v, h, mi, s, ms);
  EXPECT_EQ(23, h);
  EXPECT_EQ(59, mi);
  EXPECT_EQ(59, s);
  EXPECT_EQ(999, ms);
}

TEST(DateTimeConvertTest, FrameworkDateTime) {
  EXPECT_EQ(693594, DateToORBDate(0.0));
  EXPECT_EQ(1, DateToORBDate(-693593.0));
  EXPECT_EQ(693594, DateToORBDate(0.75));
  EXPECT_EQ(693593, DateToORBDate(-1.25));
  EXPECT_EQ(43200000, TimeToORBTime(0.5));
  EXPECT_EQ(43200000, TimeToORBTime(45000.5));
  EXPECT_DOUBLE_EQ(0.5, ORBTimeToTime(43200000));
  EXPECT_DOUBLE_EQ(-693593.0, ORBDateToDate(1));

  // Before 1899-12-30 the time is the fraction's magnitude.
  EXPECT_EQ(21600000, TimeToORBTime(-1.25));
  EXPECT_EQ((TORBDateTime{693593, 21600000}), DateTimeToORBDateTime(-1.25));
  EXPECT_DOUBLE_EQ(-1.25, ORBDateTimeToDateTime({693593, 21600000}));
  EXPECT_DOUBLE_EQ(45000.25, ORBDateTimeToDateTime({693594 + 45000, 21600000}));

  // A time that rounds to midnight belongs to the next day.
  const double almost = 10.0 + 0.9999999999;
  EXPECT_EQ((TORBDateTime{693604 + 1, 0}), DateTimeToORBDateTime(almost));
  EXPECT_EQ(0, TimeToORBTime(almost));
  EXPECT_EQ((TORBDateTime{693593 + 1, 0}), DateTimeToORBDateTime(-1.9999999999));

  // Millisecond round trips across a range of dates.
  for (int32_t day : {1, 693593, 693594, 730180, 3652059}) {
    for (int32_t ms : {0, 1, 999, 43200000, kMSecsPerDay - 1}) {
      TORBDateTime v{day, ms};
      EXPECT_EQ(v, DateTimeToORBDateTime(ORBDateTimeToDateTime(v))) << day << " " << ms;
    }
  }
}

TEST(DateTimeConvertTest, OutOfRangeFrameworkValues) {
  for (double v : {1e12, -1e12, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    try {
      DateToORBDate(v);
      ADD_FAILURE() << v;
    } catch (const EORBException& e) {
      EXPECT_EQ(30055, e.NativeError());
    }
  }
}

TEST(IsoDateParseTest, Dates) {
  struct Row {
    const char* text;
    bool ok;
    int32_t day;
  };
  const Row rows[] = {
      {"2024-05-17", true, 739023}, {"2024/05/17", true, 739023}, {"2024 05 17", true, 739023},
      {"0001-01-01", true, 1},      {"2024-02-30", false, 0},     {"24-02-01", false, 0},
      {"2024-5-17", false, 0},      {"2024-05-170", false, 0},    {"2024-05", false, 0},
      {"", false, 0},               {"2024-05-17-", true, 739023}, {"2024-05-17-1", false, 0},
      {"99999999999999999999-05-17", false, 0},
  };
  for (const Row& r : rows) {
    TDateTime v = -1;
    EXPECT_EQ(r.ok, ISODateStrToDate(std::string_view(r.text), v)) << r.text;
    if (r.ok) {
      EXPECT_EQ(r.day, DateToORBDate(v)) << r.text;
    }
    std::u16string wide(r.text, r.text + std::char_traits<char>::length(r.text));
    EXPECT_EQ(r.ok, ISODateStrToDate(std::u16string_view(wide), v)) << r.text;
  }
}

TEST(IsoDateParseTest, TimesAndTimeStamps) {
  TDateTime v = 0;
  ASSERT_TRUE(ISOTimeStrToTime(std::string_view("12:30:15"), v));
  EXPECT_EQ(45015000, TimeToORBTime(v));
  EXPECT_FALSE(ISOTimeStrToTime(std::string_view("24:00:00"), v));
  EXPECT_FALSE(ISOTimeStrToTime(std::string_view("12:30"), v));
  ASSERT_TRUE(ISOTimeStampStrToDateTime(std::string_view("2024-05-17 12:30:15"), v));
  EXPECT_EQ((TORBDateTime{739023, 45015000}), DateTimeToORBDateTime(v));
  ASSERT_TRUE(ISOTimeStampStrToDateTime(std::string_view("1800-01-01T06:00:00"), v));
  int32_t day;
  ASSERT_TRUE(TryEncodeORBDate(1800, 1, 1, day));
  EXPECT_EQ((TORBDateTime{day, 21600000}), DateTimeToORBDateTime(v));
  EXPECT_FALSE(ISOTimeStampStrToDateTime(std::string_view("2024-05-17 12:30:61"), v));
  EXPECT_FALSE(ISOTimeStampStrToDateTime(std::string_view("2024-05-17"), v));

  int value = 0, pos = 6;
  EXPECT_TRUE(ExtractNumericPart(std::string_view("2024-05-17"), 2, value, pos));
  EXPECT_EQ(5, value);
  EXPECT_EQ(9, pos);
}

// The text form of dates: four-digit years at both ends of the range, and
// nothing for a day number outside it.
TEST(DateTimeConvertTest, DateTextSpellsEveryYearWithFourDigits) {
  const std::pair<int32_t, const char*> cases[] = {
      {1, "0001-01-01"}, {366, "0002-01-01"}, {693594, "1899-12-30"}, {738521, "2023-01-01"},
      {kORBMaxDayNumber, "9999-12-31"}};
  for (const auto& [day, text] : cases) EXPECT_EQ(DateText(day), std::optional<std::string>(text)) << day;
  EXPECT_EQ(DateText(0), std::nullopt);
  EXPECT_EQ(DateText(kORBMaxDayNumber + 1), std::nullopt);
}

}  // namespace
}  // namespace orb
