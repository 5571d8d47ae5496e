#include "engine/base/variant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/base/date_time_convert.h"
#include "engine/base/stream_memory.h"
#include "engine/base/variant_compare.h"
#include "engine/base/variant_convert.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

// Runs `body` and returns the engine error code it raised (0: none).
using test::RaisedCode;

int32_t Day(int y, int m, int d) {
  int32_t day = 0;
  EXPECT_TRUE(TryEncodeORBDate(y, m, d, day));
  return day;
}

// Values built from raw bytes, so that expectations never go through the
// conversions under test.
template <class T>
TORBVariant Raw(TORBBaseFieldType kind, T v) {
  TORBVariant x;
  x.SetData(&v, sizeof v, kind, true);
  return x;
}

TORBVariant Text(TORBBaseFieldType kind, const std::string& s) {
  TORBVariant x;
  x.SetData(s.c_str(), static_cast<int32_t>(s.size() + 1), kind, true);
  return x;
}

TORBVariant Wide(TORBBaseFieldType kind, const std::u16string& s) {
  TORBVariant x;
  x.SetData(s.c_str(), static_cast<int32_t>((s.size() + 1) * 2), kind, true);
  return x;
}

// Clob and blob content: the bytes without a terminator.
TORBVariant Bytes(TORBBaseFieldType kind, const std::string& s) {
  TORBVariant x;
  x.SetData(s.data(), static_cast<int32_t>(s.size()), kind, true);
  return x;
}

TORBVariant I32(int32_t v) { return Raw(bftSignedInt32, v); }
TORBVariant Dbl(double v) { return Raw(bftDouble, v); }
TORBVariant Logical(int16_t v) { return Raw(bftLogical, v); }
TORBVariant DateTime(int32_t date, int32_t time) { return Raw(bftDateTime, TORBDateTime{date, time}); }

std::string Describe(const TORBVariant& v) {
  std::ostringstream out;
  out << "kind " << static_cast<int>(v.DataType());
  if (v.IsNull()) return out.str() + " null";
  out << " [";
  const auto* p = static_cast<const uint8_t*>(v.Data());
  for (int32_t i = 0; i < v.DataSize(); ++i) out << (i ? " " : "") << static_cast<int>(p[i]);
  out << "]";
  return out.str();
}

void ExpectSameValue(const TORBVariant& actual, const TORBVariant& expected, const std::string& what) {
  EXPECT_EQ(Describe(actual), Describe(expected)) << what;
}

// ---------------------------------------------------------------------------
// Common type

const std::vector<std::pair<std::string, TORBBaseFieldType>> kKinds = {
    {"C", bftChar},          {"WC", bftWideChar},      {"V", bftVarchar},       {"WV", bftWideVarchar},
    {"I8", bftSignedInt8},   {"I16", bftSignedInt16},  {"I32", bftSignedInt32}, {"I64", bftSignedInt64},
    {"U8", bftUnsignedInt8}, {"U16", bftUnsignedInt16}, {"U32", bftUnsignedInt32}, {"S", bftSingle},
    {"D", bftDouble},        {"E", bftExtended},       {"Dt", bftDate},         {"Tm", bftTime},
    {"DT", bftDateTime},     {"L", bftLogical},        {"Cur", bftCurrency},    {"CL", bftClob},
    {"WCL", bftWideClob},    {"B", bftBlob},           {"By", bftBytes},        {"VB", bftVarBytes},
    {"BF", bftBFile},
};

// Row: left kind; columns in the order of kKinds; "-" for none. Values for
// arithmetic (strings win over date kinds).
const std::vector<std::string> kCommonForArithmetic = {
    /* C   */ "C WC V WV  C C C C C C C C C C  C C C  C C C WC  - - - -",
    /* WC  */ "WC WC WC WV  WC WC WC WC WC WC WC WC WC WC  WC WC WC  WC WC WC WC  - - - -",
    /* V   */ "V WC V WV  V V V V V V V V V V  V V V  V V V WV  - - - -",
    /* WV  */ "WV WV WV WV  WV WV WV WV WV WV WV WV WV WV  WV WV WV  WV WV WV WV  - - - -",
    /* I8  */ "C WC V WV  I8 I16 I32 I64 I16 U16 U32 S D E  Dt Tm DT  I8 Cur - -  - - - -",
    /* I16 */ "C WC V WV  I16 I16 I32 I64 I16 U16 U32 S D E  Dt Tm DT  I16 Cur - -  - - - -",
    /* I32 */ "C WC V WV  I32 I32 I32 I64 I32 I32 I64 S D E  Dt Tm DT  I32 Cur - -  - - - -",
    /* I64 */ "C WC V WV  I64 I64 I64 I64 I64 I64 I64 S D E  Dt Tm DT  I64 Cur - -  - - - -",
    /* U8  */ "C WC V WV  I16 I16 I32 I64 U8 U16 U32 S D E  Dt Tm DT  U8 Cur - -  - - - -",
    /* U16 */ "C WC V WV  I32 I32 I32 I64 U16 U16 U32 S D E  Dt Tm DT  U16 Cur - -  - - - -",
    /* U32 */ "C WC V WV  I64 I64 I64 I64 U32 U32 U32 S D E  Dt Tm DT  U32 Cur - -  - - - -",
    /* S   */ "C WC V WV  S S S S S S S S D E  Dt Tm DT  S Cur - -  - - - -",
    /* D   */ "C WC V WV  D D D D D D D D D E  Dt Tm DT  D Cur - -  - - - -",
    /* E   */ "C WC V WV  E E E E E E E E E E  Dt Tm DT  E Cur - -  - - - -",
    /* Dt  */ "C WC V WV  Dt Dt Dt Dt Dt Dt Dt Dt Dt Dt  Dt DT DT  - - - -  - - - -",
    /* Tm  */ "C WC V WV  Tm Tm Tm Tm Tm Tm Tm Tm Tm Tm  DT Tm DT  - - - -  - - - -",
    /* DT  */ "C WC V WV  DT DT DT DT DT DT DT DT DT DT  DT DT DT  - - - -  - - - -",
    /* L   */ "C WC V WV  I8 I16 I32 I64 U8 U16 U32 S D E  - - -  L - - -  - - - -",
    /* Cur */ "C WC V WV  Cur Cur Cur Cur Cur Cur Cur S D E  - - -  - Cur - -  - - - -",
    /* CL  */ "C WC V WV  - - - - - - - - - -  - - -  - - C WC  - - - -",
    /* WCL */ "WC WC WV WV  - - - - - - - - - -  - - -  - - WC WC  - - - -",
    /* B   */ "- - - -  - - - - - - - - - -  - - -  - - - -  - - - -",
    /* By  */ "- - - -  - - - - - - - - - -  - - -  - - - -  - - - -",
    /* VB  */ "- - - -  - - - - - - - - - -  - - -  - - - -  - - - -",
    /* BF  */ "- - - -  - - - - - - - - - -  - - -  - - - -  - - - -",
};

TORBBaseFieldType KindNamed(const std::string& name) {
  if (name == "-") return bftUnknown;
  for (const auto& [n, k] : kKinds)
    if (n == name) return k;
  ADD_FAILURE() << "no kind " << name;
  return bftUnknown;
}

TEST(VariantCommonTypeTest, FullMatrixForArithmeticAndComparison) {
  ASSERT_EQ(kCommonForArithmetic.size(), kKinds.size());
  for (size_t r = 0; r < kKinds.size(); ++r) {
    std::istringstream row(kCommonForArithmetic[r]);
    for (size_t c = 0; c < kKinds.size(); ++c) {
      std::string cell;
      ASSERT_TRUE(row >> cell) << kKinds[r].first;
      const TORBBaseFieldType left = kKinds[r].second, right = kKinds[c].second;
      TORBBaseFieldType expected = KindNamed(cell);
      EXPECT_EQ(GetCommonDataType(left, right, false), expected)
          << kKinds[r].first << " / " << kKinds[c].first << " for arithmetic";
      // For comparison a string meets a date kind as the date kind.
      const bool left_string = IsStringFieldType(left), right_string = IsStringFieldType(right);
      if (left_string && IsDateTimeFieldType(right)) expected = right;
      if (right_string && IsDateTimeFieldType(left)) expected = left;
      EXPECT_EQ(GetCommonDataType(left, right, true), expected)
          << kKinds[r].first << " / " << kKinds[c].first << " for comparison";
    }
  }
  for (const auto& [name, kind] : kKinds) {
    EXPECT_EQ(GetCommonDataType(bftUnknown, kind, true), bftUnknown) << name;
    EXPECT_EQ(GetCommonDataType(kind, bftUnknown, false), bftUnknown) << name;
  }
}

TEST(VariantCommonTypeTest, AdvancedTypesKeepTheSideWhoseBaseWins) {
  struct Case {
    TORBAdvancedFieldType left, right, expected;
  };
  const Case cases[] = {
      {aftAutoInc, aftSmallint, aftAutoInc},      // INTEGER is the left's base
      {aftSmallint, aftAutoInc, aftAutoInc},      // INTEGER is the right's base
      {aftByte, aftShortint, aftSmallint},        // SMALLINT is neither
      {aftGuid, aftInteger, aftGuid},             // CHAR
      {aftMemo, aftMemo, aftChar},                // two memos meet as CHAR
      {aftTimeStamp, aftDate, aftTimeStamp},      // DATETIME
      {aftBlob, aftInteger, aftUnknown},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetCommonDataType(c.left, c.right, false), c.expected)
        << static_cast<int>(c.left) << " " << static_cast<int>(c.right);
}

// ---------------------------------------------------------------------------
// Conversion

struct CastCase {
  std::string name;
  TORBVariant from;
  TORBBaseFieldType to;
  TORBVariant expected;
};

TEST(VariantCastTest, ConvertsBetweenKinds) {
  const int32_t d = Day(2024, 1, 31);
  const int32_t t = ((10 * 60 + 20) * 60 + 30) * 1000;
  const std::vector<CastCase> cases = {
      // Text to other kinds.
      {"int text", Text(bftVarchar, "12"), bftSignedInt32, I32(12)},
      {"int text with plus", Text(bftVarchar, "+12"), bftSignedInt32, I32(12)},
      {"int text with blanks", Text(bftVarchar, " -12 "), bftSignedInt32, I32(-12)},
      {"int text narrowed", Text(bftVarchar, "300"), bftSignedInt8, Raw(bftSignedInt8, int8_t{44})},
      {"cardinal text", Text(bftChar, "4000000000"), bftUnsignedInt32, Raw(bftUnsignedInt32, 4000000000u)},
      {"largeint text", Text(bftVarchar, "-9223372036854775808"), bftSignedInt64,
       Raw(bftSignedInt64, std::numeric_limits<int64_t>::min())},
      {"float text", Text(bftVarchar, "1.5"), bftDouble, Dbl(1.5)},
      {"float exponent", Text(bftVarchar, "-2.5e3"), bftExtended, Raw(bftExtended, -2500.0)},
      {"single text", Text(bftVarchar, "0.25"), bftSingle, Raw(bftSingle, 0.25f)},
      {"currency text", Text(bftVarchar, "12.3456"), bftCurrency, Raw(bftCurrency, 12.3456)},
      {"TRUE", Text(bftVarchar, "TRUE"), bftLogical, Logical(1)},
      {"true", Text(bftVarchar, "true"), bftLogical, Logical(1)},
      {"1", Text(bftVarchar, "1"), bftLogical, Logical(1)},
      {"yes", Text(bftVarchar, "yes"), bftLogical, Logical(0)},
      {"wide true", Wide(bftWideVarchar, u"True"), bftLogical, Logical(1)},
      {"iso date", Text(bftVarchar, "2024-01-31"), bftDate, Raw(bftDate, d)},
      {"iso date other separator", Text(bftVarchar, "2024/01/31"), bftDate, Raw(bftDate, d)},
      {"short date", Text(bftVarchar, "2024-1-31"), bftDate, Raw(bftDate, d)},
      {"iso time stamp to date", Text(bftVarchar, "2024-01-31 10:20:30"), bftDate, Raw(bftDate, d)},
      {"iso time stamp", Text(bftVarchar, "2024-01-31 10:20:30"), bftDateTime, DateTime(d, t)},
      {"iso date to date-time", Text(bftVarchar, "2024-01-31"), bftDateTime, DateTime(d, 0)},
      {"time text", Text(bftVarchar, "10:20:30"), bftTime, Raw(bftTime, t)},
      {"time text with fraction", Text(bftVarchar, "10:20:30.5"), bftTime, Raw(bftTime, t + 500)},
      {"wide date", Wide(bftWideVarchar, u"2024-01-31"), bftDate, Raw(bftDate, d)},
      {"wide date-time", Wide(bftWideChar, u"2024-01-31 10:20:30"), bftDateTime, DateTime(d, t)},
      {"wide int", Wide(bftWideVarchar, u"-7"), bftSignedInt16, Raw(bftSignedInt16, int16_t{-7})},
      // Between string kinds.
      {"ansi to wide", Text(bftVarchar, "caf\xE9"), bftWideVarchar, Wide(bftWideVarchar, u"caf\u00e9")},
      {"wide to ansi", Wide(bftWideChar, u"caf\u00e9"), bftChar, Text(bftChar, "caf\xE9")},
      {"wide outside code page", Wide(bftWideVarchar, u"a\u4e2d"), bftVarchar, Text(bftVarchar, "a?")},
      {"clob to varchar", Bytes(bftClob, "memo"), bftVarchar, Text(bftVarchar, "memo")},
      {"empty clob", Bytes(bftClob, ""), bftVarchar, Text(bftVarchar, "")},
      {"clob to int", Bytes(bftClob, "42"), bftSignedInt32, I32(42)},
      {"wide clob to wide", Bytes(bftWideClob, std::string("h\0i\0", 4)), bftWideVarchar,
       Wide(bftWideVarchar, u"hi")},
      {"text to blob", Text(bftVarchar, "ab"), bftBlob, Bytes(bftBlob, std::string("ab\0", 3))},
      {"text to memo", Text(bftVarchar, "ab"), bftClob, Bytes(bftClob, "ab")},
      // Integers.
      {"int to text", I32(-5), bftVarchar, Text(bftVarchar, "-5")},
      {"cardinal to text", Raw(bftUnsignedInt32, 4294967295u), bftWideVarchar, Wide(bftWideVarchar, u"4294967295")},
      {"largeint to text", Raw(bftSignedInt64, std::numeric_limits<int64_t>::min()), bftChar,
       Text(bftChar, "-9223372036854775808")},
      {"int narrowed to byte", I32(300), bftUnsignedInt8, Raw(bftUnsignedInt8, uint8_t{44})},
      {"negative to word", I32(-1), bftUnsignedInt16, Raw(bftUnsignedInt16, uint16_t{65535})},
      {"byte widened", Raw(bftUnsignedInt8, uint8_t{200}), bftSignedInt64, Raw(bftSignedInt64, int64_t{200})},
      {"int to double", I32(7), bftDouble, Dbl(7)},
      {"int to currency", I32(7), bftCurrency, Raw(bftCurrency, 7.0)},
      {"int to date", I32(d), bftDate, Raw(bftDate, d)},
      {"int to time", I32(t), bftTime, Raw(bftTime, t)},
      {"int to date-time", I32(d), bftDateTime, DateTime(d, 0)},
      {"int to logical", I32(-3), bftLogical, Logical(1)},
      {"zero to logical", I32(0), bftLogical, Logical(0)},
      // Floats and currency.
      {"double truncated", Dbl(2.75), bftSignedInt32, I32(2)},
      {"negative truncated", Dbl(-2.75), bftSignedInt32, I32(-2)},
      {"double to text", Dbl(1.5), bftVarchar, Text(bftVarchar, "1.5")},
      {"shortest double text", Dbl(0.1), bftVarchar, Text(bftVarchar, "0.1")},
      {"shortest single text", Raw(bftSingle, 0.1f), bftVarchar, Text(bftVarchar, "0.1")},
      {"double to single", Dbl(0.5), bftSingle, Raw(bftSingle, 0.5f)},
      {"double to date", Dbl(d + 0.75), bftDate, Raw(bftDate, d)},
      {"double to date-time", Dbl(d + 0.75), bftDateTime, DateTime(d, 64800000)},
      {"double to time", Dbl(90000000.0), bftTime, Raw(bftTime, 3600000)},
      {"double to logical", Dbl(0.001), bftLogical, Logical(1)},
      {"currency text rounded", Raw(bftCurrency, 1.23456), bftVarchar, Text(bftVarchar, "1.2346")},
      {"currency text", Raw(bftCurrency, 2.5), bftVarchar, Text(bftVarchar, "2.5")},
      {"currency truncated", Raw(bftCurrency, 7.9), bftSignedInt32, I32(7)},
      {"currency to double", Raw(bftCurrency, 7.9), bftDouble, Dbl(7.9)},
      // Dates and times.
      {"date text", Raw(bftDate, d), bftVarchar, Text(bftVarchar, "2024-01-31")},
      {"empty date text", Raw(bftDate, kORBEmptyDate), bftVarchar, Text(bftVarchar, "")},
      {"date number", Raw(bftDate, d), bftSignedInt32, I32(d)},
      {"date to double", Raw(bftDate, d), bftDouble, Dbl(d)},
      {"date to date-time", Raw(bftDate, d), bftDateTime, DateTime(d, 0)},
      {"date to logical", Raw(bftDate, d), bftLogical, Logical(1)},
      {"empty date to logical", Raw(bftDate, kORBEmptyDate), bftLogical, Logical(0)},
      {"time text", Raw(bftTime, t + 500), bftVarchar, Text(bftVarchar, "10:20:30.500")},
      {"midnight text", Raw(bftTime, 0), bftVarchar, Text(bftVarchar, "")},
      {"time number", Raw(bftTime, t), bftSignedInt32, I32(t)},
      {"time to date-time", Raw(bftTime, t), bftDateTime, DateTime(kORBEmptyDate, t)},
      {"date-time to double", DateTime(d, 43200000), bftDouble, Dbl(d + 0.5)},
      {"date-time to single", DateTime(d, 43200000), bftSingle, Raw(bftSingle, static_cast<float>(d + 0.5))},
      {"date-time to extended", DateTime(d, 21600000), bftExtended, Raw(bftExtended, d + 0.25)},
      {"date-time to currency", DateTime(d, 21600000), bftCurrency, Raw(bftCurrency, d + 0.25)},
      {"empty date-time to double", DateTime(kORBEmptyDate, 21600000), bftDouble, Dbl(0.25)},
      {"date-time to int", DateTime(d, 43200000), bftSignedInt32, I32(d)},
      {"date-time to date", DateTime(d, 43200000), bftDate, Raw(bftDate, d)},
      {"date-time to time", DateTime(d, 43200000), bftTime, Raw(bftTime, 43200000)},
      {"date-time text", DateTime(d, 43200000), bftVarchar, Text(bftVarchar, "2024-01-31 12:00:00")},
      {"date-time at midnight", DateTime(d, 0), bftVarchar, Text(bftVarchar, "2024-01-31")},
      {"empty date-time text", DateTime(kORBEmptyDate, 0), bftVarchar, Text(bftVarchar, "")},
      {"empty date-time to logical", DateTime(kORBEmptyDate, 0), bftLogical, Logical(0)},
      // Logical.
      {"true text", Logical(5), bftVarchar, Text(bftVarchar, "True")},
      {"false wide text", Logical(0), bftWideVarchar, Wide(bftWideVarchar, u"False")},
      {"logical to number", Logical(-1), bftSignedInt8, Raw(bftSignedInt8, int8_t{1})},
      {"logical to double", Logical(0), bftDouble, Dbl(0)},
  };
  for (const CastCase& c : cases) {
    int32_t size = 0;
    const std::unique_ptr<uint8_t[]> buffer =
        CastToNewBuffer(c.from.Data(), c.from.DataSize(), c.from.DataType(), c.to, size);
    TORBVariant actual;
    actual.SetData(buffer.get(), size, c.to, true);
    ExpectSameValue(actual, c.expected, c.name);
  }
}

TEST(VariantCastTest, FailuresRaiseParseOrNoConversion) {
  struct Failure {
    std::string name;
    TORBVariant from;
    TORBBaseFieldType to;
    int32_t code;
  };
  const std::vector<Failure> cases = {
      {"not a number", Text(bftVarchar, "x"), bftSignedInt32, kErrCastParse},
      {"fraction to integer", Text(bftVarchar, "1.5"), bftSignedInt32, kErrCastParse},
      {"past 32 bits", Text(bftVarchar, "9999999999"), bftSignedInt32, kErrCastParse},
      {"past 64 bits", Text(bftVarchar, "9223372036854775808"), bftSignedInt64, kErrCastParse},
      {"two signs", Text(bftVarchar, "+-5"), bftSignedInt32, kErrCastParse},
      {"two float signs", Text(bftVarchar, "+-5"), bftDouble, kErrCastParse},
      {"comma decimal", Text(bftVarchar, "1,5"), bftDouble, kErrCastParse},
      {"infinity text", Text(bftVarchar, "inf"), bftDouble, kErrCastParse},
      {"no such date", Text(bftVarchar, "2024-02-30"), bftDate, kErrCastParse},
      {"no such time", Text(bftVarchar, "25:00:00"), bftTime, kErrCastParse},
      {"wide iso time stamp with T", Wide(bftWideVarchar, u"2024-01-31T10:20:30"), bftDateTime, kErrCastParse},
      {"double past 64 bits", Dbl(1e300), bftSignedInt64, kErrCastParse},
      {"day 0 has no text", Raw(bftDate, int32_t{0}), bftVarchar, kErrCastParse},
      {"logical to date", Logical(1), bftDate, kErrCastNoConversion},
      {"time to date", Raw(bftTime, int32_t{5}), bftDate, kErrCastNoConversion},
      {"currency to date", Raw(bftCurrency, 5.0), bftDate, kErrCastNoConversion},
      {"blob to int", Bytes(bftBlob, "12"), bftSignedInt32, kErrCastNoConversion},
      {"blob to text", Bytes(bftBlob, "12"), bftVarchar, kErrCastNoConversion},
      {"int to bytes", I32(1), bftBytes, kErrCastNoConversion},
      {"int to memo", I32(1), bftClob, kErrCastNoConversion},
      {"date to no kind", Raw(bftDate, int32_t{5}), bftUnknown, kErrCastNoConversion},
  };
  for (const Failure& c : cases) {
    int32_t size = 0;
    EXPECT_EQ(RaisedCode([&] { CastToNewBuffer(c.from.Data(), c.from.DataSize(), c.from.DataType(), c.to, size); }),
              c.code)
        << c.name;
  }
  try {
    int32_t size = 0;
    const TORBVariant v = Logical(1);
    CastToNewBuffer(v.Data(), v.DataSize(), bftLogical, bftDate, size);
    FAIL();
  } catch (const EORBException& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot cast from 'LOGICAL' to 'DATE'"), std::string::npos) << e.what();
  }
}

TEST(VariantCastTest, TextRoundTripsThroughEveryScalarKind) {
  const std::vector<std::pair<TORBVariant, std::string>> cases = {
      {Raw(bftSignedInt64, std::numeric_limits<int64_t>::max()), "9223372036854775807"},
      {Raw(bftUnsignedInt32, 4294967295u), "4294967295"},
      {Raw(bftSignedInt8, int8_t{-128}), "-128"},
      {Dbl(0.1), "0.1"},
      {Dbl(-1234.5e100), "-1.2345e+103"},
      {Raw(bftSingle, 3.25f), "3.25"},
      {Raw(bftCurrency, 19.99), "19.99"},
      {Raw(bftDate, Day(1, 1, 1)), "0001-01-01"},
      {Raw(bftDate, Day(9999, 12, 31)), "9999-12-31"},
      {Raw(bftTime, 86399999), "23:59:59.999"},
      {DateTime(Day(2000, 2, 29), 1000), "2000-02-29 00:00:01"},
      {Logical(1), "True"},
  };
  for (const auto& [value, text] : cases) {
    TORBVariant v = value;
    v.Cast(bftVarchar);
    EXPECT_EQ(v.AsAnsiString(), text);
    v.Cast(value.DataType());
    ExpectSameValue(v, value, text);
    TORBVariant w = value;
    w.Cast(bftWideVarchar);
    w.Cast(value.DataType());
    ExpectSameValue(w, value, text + " (wide)");
  }
}

// ---------------------------------------------------------------------------
// Typed access and lifecycle

TEST(VariantValueTest, WritingConvertsIntoTheValuesKind) {
  TORBVariant text(bftVarchar);
  text.SetAsAnsiString("");
  EXPECT_TRUE(text.IsNull());
  EXPECT_EQ(text.AsAnsiString(), "");
  EXPECT_EQ(text.AsWideString(), u"");
  EXPECT_EQ(RaisedCode([&] { text.AsInteger(); }), kErrValueIsNull);

  text.SetAsInteger(5);
  EXPECT_EQ(text.DataType(), bftVarchar);
  EXPECT_EQ(text.AsAnsiString(), "5");

  TORBVariant number(bftSignedInt32);
  number.SetAsAnsiString("12");
  EXPECT_EQ(number.DataType(), bftSignedInt32);
  EXPECT_EQ(number.AsInteger(), 12);
  EXPECT_EQ(number.AsDouble(), 12.0);
  EXPECT_EQ(RaisedCode([&] { number.SetAsAnsiString("x"); }), kErrCastParse);
  EXPECT_TRUE(number.IsNull());
  EXPECT_EQ(number.DataType(), bftSignedInt32);

  TORBVariant untyped;
  untyped.SetAsWideString(u"\u00e9t\u00e9");
  EXPECT_EQ(untyped.DataType(), bftWideVarchar);
  EXPECT_EQ(untyped.StrLen(), 3);
  EXPECT_EQ(untyped.AsAnsiString(), "\xE9t\xE9");
  untyped.SetAsInteger(-4);  // stored as the text of the number
  EXPECT_EQ(untyped.AsWideString(), u"-4");

  TORBVariant dt;
  dt.SetAsTDateTime(45322.75);  // 2024-01-31 18:00
  EXPECT_EQ(dt.AsORBDateTime(), (TORBDateTime{Day(2024, 1, 31), 64800000}));
  EXPECT_DOUBLE_EQ(dt.AsTDateTime(), 45322.75);
  EXPECT_EQ(dt.AsORBDate(), Day(2024, 1, 31));
  EXPECT_EQ(dt.AsORBTime(), 64800000);
  EXPECT_DOUBLE_EQ(dt.AsTTime(), 0.75);
  EXPECT_DOUBLE_EQ(dt.AsTDate(), 45322.0);

  TORBVariant logical;
  logical.SetAsBoolean(true);
  EXPECT_TRUE(logical.AsBoolean());
  EXPECT_EQ(logical.AsAnsiString(), "True");
  logical.SetAsAnsiString("false");
  EXPECT_FALSE(logical.AsBoolean());
}

TEST(VariantValueTest, SetDataTypeClearsValuesThatDoNotConvert) {
  TORBVariant v = Text(bftVarchar, "abc");
  v.SetDataType(bftSignedInt32);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32);

  TORBVariant n = Text(bftVarchar, "42");
  n.SetDataType(bftSignedInt16);
  EXPECT_EQ(n.DataType(), bftSignedInt16);
  EXPECT_EQ(n.AsSmallint(), 42);

  // Cast leaves a value it cannot convert as it was.
  TORBVariant c = Text(bftVarchar, "abc");
  EXPECT_EQ(RaisedCode([&] { c.Cast(bftDate); }), kErrCastParse);
  EXPECT_EQ(c.DataType(), bftVarchar);
  EXPECT_EQ(c.AsAnsiString(), "abc");

  TORBVariant memo = Bytes(bftClob, "memo");
  memo.Cast(bftVarchar);
  EXPECT_EQ(memo.DataSize(), 5);
  EXPECT_EQ(memo.AsAnsiString(), "memo");
}

TEST(VariantValueTest, BorrowedBuffersAreNeverWrittenThrough) {
  TORBVariant lender = I32(5);
  TORBVariant borrower;
  borrower.Assign(lender, false);
  EXPECT_TRUE(borrower.IsDataLinked());
  EXPECT_EQ(borrower.Data(), lender.Data());
  borrower.SetAsInteger(6);
  EXPECT_FALSE(borrower.IsDataLinked());
  EXPECT_EQ(lender.AsInteger(), 5);
  EXPECT_EQ(borrower.AsInteger(), 6);

  borrower.Assign(lender, false);
  borrower.InvertValue();
  borrower.Add(I32(100));
  EXPECT_EQ(lender.AsInteger(), 5);
  EXPECT_EQ(borrower.AsInteger(), 95);

  // A copy of a borrowing value owns its data.
  TORBVariant b2;
  b2.Assign(lender, false);
  const TORBVariant copy = b2;
  EXPECT_FALSE(copy.IsDataLinked());
  EXPECT_NE(copy.Data(), lender.Data());
  EXPECT_EQ(copy.AsInteger(), 5);
}

TEST(VariantValueTest, CopyDataToAddressAndNullChecks) {
  uint8_t out[8] = {};
  EXPECT_FALSE(TORBVariant(bftSignedInt32).CopyDataToAddress(out, -1));
  EXPECT_FALSE(Text(bftVarchar, "").CopyDataToAddress(out, -1));
  EXPECT_FALSE(Wide(bftWideVarchar, u"").CopyDataToAddress(out, -1));
  EXPECT_TRUE(Raw(bftSignedInt8, int8_t{-3}).CopyDataToAddress(out, 1));
  EXPECT_EQ(static_cast<int8_t>(out[0]), -3);
  EXPECT_TRUE(I32(0x01020304).CopyDataToAddress(out, -1));
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(RaisedCode([&] { I32(1).CopyDataToAddress(out, 3); }), kErrBufferSizeExceeded);

  EXPECT_EQ(RaisedCode([] { TORBVariant(bftVarchar).CheckDataForNull(); }), kErrValueIsNull);
  EXPECT_EQ(RaisedCode([] { I32(1).CheckDataForNull(); }), 0);

  TORBVariant v = I32(1);
  v.SetNull();
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32);
}

TEST(VariantValueTest, KindTestsAndWideStringReduction) {
  EXPECT_TRUE(Raw(bftCurrency, 1.0).IsNumericDataType());
  EXPECT_FALSE(Logical(1).IsNumericDataType());
  EXPECT_TRUE(Wide(bftWideChar, u"a").IsStringDataType());
  EXPECT_TRUE(Wide(bftWideChar, u"a").IsWideStringDataType());
  EXPECT_FALSE(Bytes(bftClob, "a").IsStringDataType());
  EXPECT_TRUE(Bytes(bftWideClob, "a").IsBlobDataType());
  EXPECT_TRUE(Raw(bftTime, int32_t{1}).IsDateTimeDataType());
  EXPECT_EQ(I32(12).StrLen(), -1);
  EXPECT_EQ(TORBVariant(bftVarchar).StrLen(), -1);

  TORBVariant latin = Wide(bftWideVarchar, u"caf\u00e9");
  latin.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(latin.DataType(), bftVarchar);
  EXPECT_EQ(latin.AsAnsiString(), "caf\xE9");
  TORBVariant cjk = Wide(bftWideVarchar, u"\u4e2d");
  cjk.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(cjk.DataType(), bftWideVarchar);
  EXPECT_EQ(cjk.AsWideString(), u"\u4e2d");
}

// ---------------------------------------------------------------------------
// Comparison

TORBCompareOperand Operand(const TORBVariant& v) { return {v.Data(), v.DataSize(), v.DataType(), v.IsNull()}; }

TEST(VariantCompareTest, NullsComeFirst) {
  const TORBVariant null_int(bftSignedInt32), one = I32(1), null_text(bftVarchar);
  struct Case {
    const TORBVariant *left, *right;
    TORBCompareResult raw, mapped;
    int order;
  };
  const Case cases[] = {
      {&null_int, &one, cmprLeftNull, cmprLower, -1},
      {&one, &null_int, cmprRightNull, cmprGreater, 1},
      {&null_int, &null_text, cmprBothNull, cmprEqual, 0},
      {&one, &one, cmprEqual, cmprEqual, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.left->Compare(*c.right, true, false, false), c.raw);
    EXPECT_EQ(c.left->Compare(*c.right, false, false, false), c.mapped);
    EXPECT_EQ(CompareValueBuffersForOrder(Operand(*c.left), Operand(*c.right), -1, false), c.order);
  }
  // Nulls are never looked into, whatever their kind.
  const TORBVariant null_blob(bftBlob);
  EXPECT_EQ(null_blob.Compare(one, true, false, false), cmprLeftNull);

  std::vector<TORBVariant> values = {I32(3), TORBVariant(bftSignedInt32), I32(-7), TORBVariant(bftSignedInt32), I32(0)};
  std::sort(values.begin(), values.end(), [](const TORBVariant& a, const TORBVariant& b) {
    return CompareValueBuffersForOrder(Operand(a), Operand(b), -1, false) < 0;
  });
  EXPECT_TRUE(values[0].IsNull());
  EXPECT_TRUE(values[1].IsNull());
  EXPECT_EQ(values[2].AsInteger(), -7);
  EXPECT_EQ(values[3].AsInteger(), 0);
  EXPECT_EQ(values[4].AsInteger(), 3);
}

TEST(VariantCompareTest, OrdersByCommonKind) {
  const int32_t feb1 = Day(2024, 2, 1), oct1 = Day(2024, 10, 1);
  struct Case {
    std::string name;
    TORBVariant left, right;
    TORBCompareResult expected;
  };
  const std::vector<Case> cases = {
      {"ints", I32(1), I32(2), cmprLower},
      {"cardinal above int", Raw(bftUnsignedInt32, 4000000000u), I32(-1), cmprGreater},
      {"signed below byte", Raw(bftSignedInt8, int8_t{-1}), Raw(bftUnsignedInt8, uint8_t{255}), cmprLower},
      {"largeint extremes", Raw(bftSignedInt64, std::numeric_limits<int64_t>::min()),
       Raw(bftSignedInt64, std::numeric_limits<int64_t>::max()), cmprLower},
      {"double with int", Dbl(1.5), I32(2), cmprLower},
      {"single equal double", Raw(bftSingle, 0.5f), Dbl(0.5), cmprEqual},
      {"currency", Raw(bftCurrency, 2.0), I32(2), cmprEqual},
      {"text as date", Text(bftVarchar, "2024-2-1"), Raw(bftDate, oct1), cmprLower},
      {"text as date equal", Text(bftVarchar, "2024-02-01"), Raw(bftDate, feb1), cmprEqual},
      {"text as string", Text(bftVarchar, "2024-2-1"), Text(bftVarchar, "2024-10-01"), cmprGreater},
      {"date before date-time", Raw(bftDate, feb1), DateTime(feb1, 1), cmprLower},
      {"date-time by time", DateTime(feb1, 5), DateTime(feb1, 4), cmprGreater},
      {"date-time by date", DateTime(feb1, 86399999), DateTime(oct1, 0), cmprLower},
      {"times", Raw(bftTime, int32_t{10}), Raw(bftTime, int32_t{9}), cmprGreater},
      {"logical nonzero equal", Logical(1), Logical(5), cmprEqual},
      {"false below true", Logical(0), Logical(-1), cmprLower},
      {"strings", Text(bftVarchar, "abc"), Text(bftVarchar, "abd"), cmprLower},
      {"wide with ansi", Wide(bftWideVarchar, u"b"), Text(bftChar, "a"), cmprGreater},
      {"clobs as strings", Bytes(bftClob, "abc"), Bytes(bftClob, "abd"), cmprLower},
      {"clob with text", Bytes(bftClob, "abc"), Text(bftVarchar, "abc"), cmprEqual},
      {"number text with number", Text(bftVarchar, "10"), I32(9), cmprLower},  // meets as text
  };
  for (const Case& c : cases) EXPECT_EQ(c.left.Compare(c.right, true, false, false), c.expected) << c.name;
}

TEST(VariantCompareTest, CaseAndPrefixOptions) {
  const TORBVariant lower = Text(bftVarchar, "abc"), upper = Text(bftVarchar, "ABC");
  EXPECT_EQ(lower.Compare(upper, true, true, false), cmprEqual);
  EXPECT_NE(lower.Compare(upper, true, false, false), cmprEqual);
  const TORBVariant wide_lower = Wide(bftWideVarchar, u"\u00e9t\u00e9"), wide_upper = Wide(bftWideVarchar, u"\u00c9T\u00c9");
  EXPECT_EQ(wide_lower.Compare(wide_upper, true, true, false), cmprEqual);
  EXPECT_NE(wide_lower.Compare(wide_upper, true, false, false), cmprEqual);

  const TORBVariant longer = Text(bftVarchar, "abcdef"), prefix = Text(bftVarchar, "abc");
  EXPECT_EQ(longer.Compare(prefix, true, false, true), cmprEqual);
  EXPECT_EQ(longer.Compare(prefix, true, false, false), cmprGreater);
  EXPECT_EQ(Text(bftVarchar, "abd").Compare(prefix, true, false, true), cmprGreater);
  EXPECT_EQ(Text(bftVarchar, "ab").Compare(prefix, true, false, true), cmprLower);
  const TORBVariant wide_longer = Wide(bftWideVarchar, u"abcdef"), wide_prefix = Wide(bftWideVarchar, u"ABC");
  EXPECT_EQ(wide_longer.Compare(wide_prefix, true, true, true), cmprEqual);
}

TEST(VariantCompareTest, PrefixNeverReadsPastEitherValue) {
  // Buffers without terminators: only their sizes bound the text.
  const std::vector<char> a = {'a', 'b', 'c'};
  const std::vector<char> b = {'a', 'b', 'c', 'd', 'e'};
  const TORBCompareOperand left{a.data(), 3, bftVarchar, false};
  const TORBCompareOperand right{b.data(), 5, bftVarchar, false};
  EXPECT_EQ(CompareValueBuffers(left, right, 100, false), cmprLower);
  EXPECT_EQ(CompareValueBuffers(left, right, 3, false), cmprEqual);
  EXPECT_EQ(CompareValueBuffers(right, left, 4, false), cmprGreater);

  const std::vector<char16_t> wa = {u'x', u'y'};
  const std::vector<char16_t> wb = {u'x', u'y', u'z'};
  const TORBCompareOperand wleft{wa.data(), 4, bftWideVarchar, false};
  const TORBCompareOperand wright{wb.data(), 6, bftWideVarchar, false};
  EXPECT_EQ(CompareValueBuffers(wleft, wright, 50, false), cmprLower);
  EXPECT_EQ(CompareValueBuffers(wleft, wright, 2, false), cmprEqual);
  // An odd byte size never splits a character.
  const TORBCompareOperand wodd{wb.data(), 5, bftWideVarchar, false};
  EXPECT_EQ(CompareValueBuffers(wleft, wodd, -1, false), cmprEqual);
}

TEST(VariantCompareTest, IncompatibleAndMissingData) {
  EXPECT_EQ(RaisedCode([] { Bytes(bftBlob, "a").Compare(I32(1), true, false, false); }), kErrCompareIncompatible);
  EXPECT_EQ(RaisedCode([] { Text(bftVarchar, "a").Compare(Bytes(bftBlob, "a"), true, false, false); }),
            kErrCompareIncompatible);
  EXPECT_EQ(RaisedCode([] { Bytes(bftBlob, "a").Compare(Bytes(bftBlob, "a"), true, false, false); }),
            kErrCompareUnknownType);
  EXPECT_EQ(RaisedCode([] { Logical(1).Compare(Raw(bftDate, int32_t{3}), true, false, false); }),
            kErrCompareIncompatible);
  // Text that is no date, compared with a date.
  EXPECT_EQ(RaisedCode([] { Text(bftVarchar, "soon").Compare(Raw(bftDate, int32_t{3}), true, false, false); }),
            kErrCastParse);
  const TORBCompareOperand missing{nullptr, -1, bftSignedInt32, false};
  const TORBVariant one = I32(1);
  EXPECT_EQ(RaisedCode([&] { CompareValueBuffers(missing, Operand(one), -1, false); }), kErrCompareMissingData);
  EXPECT_EQ(RaisedCode([&] { CompareValueBuffers(Operand(one), missing, -1, false); }), kErrCompareMissingData);
}

// ---------------------------------------------------------------------------
// Arithmetic

enum class ArithOp { kAdd, kSub, kMul, kDiv };

void Apply(TORBVariant& v, ArithOp op, const TORBVariant& w) {
  switch (op) {
    case ArithOp::kAdd: v.Add(w); break;
    case ArithOp::kSub: v.Sub(w); break;
    case ArithOp::kMul: v.Mul(w); break;
    case ArithOp::kDiv: v.Division(w); break;
  }
}

struct ArithCase {
  std::string name;
  TORBVariant left;
  ArithOp op;
  TORBVariant right;
  TORBVariant expected;  // ignored when `code` is set
  int32_t code = 0;
};

TEST(VariantArithmeticTest, Results) {
  const int32_t d = Day(2024, 1, 31);
  const int32_t hour = 3600000;
  const std::vector<ArithCase> cases = {
      {"int add", I32(2), ArithOp::kAdd, I32(3), I32(5)},
      {"300 minus byte 200", Raw(bftSignedInt16, int16_t{300}), ArithOp::kSub, Raw(bftUnsignedInt8, uint8_t{200}),
       Raw(bftSignedInt16, int16_t{100})},
      {"int 300 minus byte 200", I32(300), ArithOp::kSub, Raw(bftUnsignedInt8, uint8_t{200}), I32(100)},
      {"byte minus int", Raw(bftUnsignedInt8, uint8_t{200}), ArithOp::kSub, I32(300), I32(-100)},
      {"cardinal plus int widens", Raw(bftUnsignedInt32, 4000000000u), ArithOp::kAdd, I32(1),
       Raw(bftSignedInt64, int64_t{4000000001})},
      {"int max plus cardinal", I32(2147483647), ArithOp::kAdd, Raw(bftUnsignedInt32, 1u),
       Raw(bftSignedInt64, int64_t{2147483648})},
      {"division truncates", I32(7), ArithOp::kDiv, I32(2), I32(3)},
      {"negative division truncates", I32(-7), ArithOp::kDiv, I32(2), I32(-3)},
      {"int times double", I32(3), ArithOp::kMul, Dbl(0.5), Dbl(1.5)},
      {"double division", Dbl(1), ArithOp::kDiv, Dbl(4), Dbl(0.25)},
      {"single", Raw(bftSingle, 1.5f), ArithOp::kSub, Raw(bftSingle, 0.25f), Raw(bftSingle, 1.25f)},
      {"currency", Raw(bftCurrency, 2.5), ArithOp::kMul, I32(4), Raw(bftCurrency, 10.0)},
      {"ansi concatenation", Text(bftVarchar, "ab"), ArithOp::kAdd, Text(bftVarchar, "cd"), Text(bftVarchar, "abcd")},
      {"text plus number", Text(bftVarchar, "ab"), ArithOp::kAdd, I32(5), Text(bftVarchar, "ab5")},
      {"number plus text", I32(5), ArithOp::kAdd, Text(bftChar, "ab"), Text(bftChar, "5ab")},
      {"wide concatenation", Wide(bftWideVarchar, u"\u4e2d"), ArithOp::kAdd, Text(bftVarchar, "x"),
       Wide(bftWideVarchar, u"\u4e2dx")},
      {"text plus date concatenates", Text(bftVarchar, "on "), ArithOp::kAdd, Raw(bftDate, d),
       Text(bftVarchar, "on 2024-01-31")},
      {"date plus one", Raw(bftDate, d), ArithOp::kAdd, I32(1), Raw(bftDate, d + 1)},
      {"date minus date", Raw(bftDate, d), ArithOp::kSub, Raw(bftDate, d - 30), Raw(bftDate, int32_t{30})},
      {"time plus time", Raw(bftTime, hour), ArithOp::kAdd, Raw(bftTime, 2 * hour), Raw(bftTime, 3 * hour)},
      {"date-time carries", DateTime(d, 23 * hour), ArithOp::kAdd, DateTime(0, 2 * hour), DateTime(d + 1, hour)},
      {"date-time borrows", DateTime(d, hour), ArithOp::kSub, DateTime(0, 2 * hour), DateTime(d - 1, 23 * hour)},
      {"date plus time", Raw(bftDate, d), ArithOp::kAdd, Raw(bftTime, hour), DateTime(d, hour)},
      {"logical add is or", Logical(0), ArithOp::kAdd, Logical(1), Logical(1)},
      {"logical mul is or", Logical(1), ArithOp::kMul, Logical(0), Logical(1)},
      {"logical sub is or", Logical(0), ArithOp::kSub, Logical(0), Logical(0)},
      {"logical div is or", Logical(0), ArithOp::kDiv, Logical(7), Logical(1)},
      {"logical with int", Logical(1), ArithOp::kAdd, I32(4), I32(5)},
  };
  for (const ArithCase& c : cases) {
    TORBVariant v = c.left;
    Apply(v, c.op, c.right);
    ExpectSameValue(v, c.expected, c.name);
  }
}

TEST(VariantArithmeticTest, OverflowAndDivisionErrors) {
  const int64_t i64_max = std::numeric_limits<int64_t>::max(), i64_min = std::numeric_limits<int64_t>::min();
  const std::vector<ArithCase> cases = {
      {"int32 max plus one", I32(2147483647), ArithOp::kAdd, I32(1), {}, kErrNumericOverflow},
      {"int32 min minus one", I32(-2147483647 - 1), ArithOp::kSub, I32(1), {}, kErrNumericOverflow},
      {"int32 square", I32(65536), ArithOp::kMul, I32(65536), {}, kErrNumericOverflow},
      {"int64 max plus one", Raw(bftSignedInt64, i64_max), ArithOp::kAdd, Raw(bftSignedInt64, int64_t{1}), {},
       kErrNumericOverflow},
      {"int64 min minus one", Raw(bftSignedInt64, i64_min), ArithOp::kSub, Raw(bftSignedInt64, int64_t{1}), {},
       kErrNumericOverflow},
      {"int64 min times minus one", Raw(bftSignedInt64, i64_min), ArithOp::kMul, Raw(bftSignedInt64, int64_t{-1}),
       {}, kErrNumericOverflow},
      {"shortint overflow", Raw(bftSignedInt8, int8_t{100}), ArithOp::kAdd, Raw(bftSignedInt8, int8_t{100}), {},
       kErrNumericOverflow},
      {"byte overflow", Raw(bftUnsignedInt8, uint8_t{200}), ArithOp::kAdd, Raw(bftUnsignedInt8, uint8_t{100}), {},
       kErrNumericOverflow},
      {"byte below zero", Raw(bftUnsignedInt8, uint8_t{10}), ArithOp::kSub, Raw(bftUnsignedInt8, uint8_t{20}), {},
       kErrNumericOverflow},
      {"cardinal square", Raw(bftUnsignedInt32, 4000000000u), ArithOp::kMul, Raw(bftUnsignedInt32, 4000000000u), {},
       kErrNumericOverflow},
      {"double overflow", Dbl(1e308), ArithOp::kMul, Dbl(10), {}, kErrNumericOverflow},
      {"date overflow", Raw(bftDate, int32_t{2147483647}), ArithOp::kAdd, I32(1), {}, kErrDateArithmeticRange},
      {"int64 min by minus one", Raw(bftSignedInt64, i64_min), ArithOp::kDiv, Raw(bftSignedInt64, int64_t{-1}), {},
       kErrDivision},
      {"int32 min by minus one", I32(-2147483647 - 1), ArithOp::kDiv, I32(-1), {}, kErrDivision},
      {"shortint min by minus one", Raw(bftSignedInt8, int8_t{-128}), ArithOp::kDiv, Raw(bftSignedInt8, int8_t{-1}),
       {}, kErrDivision},
      {"int by zero", I32(7), ArithOp::kDiv, I32(0), {}, kErrDivision},
      {"int64 by zero", Raw(bftSignedInt64, int64_t{7}), ArithOp::kDiv, Raw(bftSignedInt64, int64_t{0}), {},
       kErrDivision},
      {"double by zero", Dbl(1), ArithOp::kDiv, Dbl(0), {}, kErrDivision},
      {"zero by zero", Dbl(0), ArithOp::kDiv, I32(0), {}, kErrDivision},
      {"single by zero", Raw(bftSingle, 1.0f), ArithOp::kDiv, Raw(bftSingle, 0.0f), {}, kErrDivision},
      {"double division overflow", Dbl(1e308), ArithOp::kDiv, Dbl(1e-10), {}, kErrDivision},
      {"date by zero", Raw(bftDate, int32_t{5}), ArithOp::kDiv, I32(0), {}, kErrDivision},
      {"blob add", Bytes(bftBlob, "a"), ArithOp::kAdd, I32(1), {}, kErrAddNonNumeric},
      {"text sub", Text(bftVarchar, "a"), ArithOp::kSub, Text(bftVarchar, "b"), {}, kErrSubNonNumeric},
      {"text mul", Text(bftVarchar, "a"), ArithOp::kMul, I32(2), {}, kErrMulNonNumeric},
      {"text div", Text(bftVarchar, "4"), ArithOp::kDiv, I32(2), {}, kErrDivNonNumeric},
      {"blob div", Bytes(bftBlob, "a"), ArithOp::kDiv, I32(0), {}, kErrDivNonNumeric},
      {"logical with date", Logical(1), ArithOp::kAdd, Raw(bftDate, int32_t{1}), {}, kErrAddNonNumeric},
  };
  for (const ArithCase& c : cases) {
    TORBVariant v = c.left;
    EXPECT_EQ(RaisedCode([&] { Apply(v, c.op, c.right); }), c.code) << c.name;
    ExpectSameValue(v, c.left, c.name + " leaves the value");
  }
  try {
    TORBVariant v = I32(1);
    v.Division(I32(0));
    FAIL();
  } catch (const EORBException& e) {
    EXPECT_NE(std::string(e.what()).find("Division error: "), std::string::npos) << e.what();
  }
}

// Times stay within one day; dates stay within the calendar, and numbers
// met by them are taken whole in 64 bits.
TEST(VariantArithmeticTest, DatesAndTimesStayInRange) {
  const int32_t d = Day(2024, 3, 5);
  const int32_t hour = 3600000, day_ms = 86400000;
  const int32_t last = Day(9999, 12, 31);
  const std::vector<ArithCase> cases = {
      {"time sum wraps", Raw(bftTime, 23 * hour), ArithOp::kAdd, Raw(bftTime, 2 * hour), Raw(bftTime, hour)},
      {"time difference wraps", Raw(bftTime, hour), ArithOp::kSub, Raw(bftTime, 2 * hour), Raw(bftTime, 23 * hour)},
      {"time minus ms", Raw(bftTime, int32_t{0}), ArithOp::kSub, I32(1), Raw(bftTime, day_ms - 1)},
      {"time times int", Raw(bftTime, 12 * hour), ArithOp::kMul, I32(3), Raw(bftTime, 12 * hour)},
      {"time plus int64", Raw(bftTime, int32_t{0}), ArithOp::kAdd, Raw(bftSignedInt64, int64_t{day_ms} * 100000 + 5),
       Raw(bftTime, int32_t{5})},
      {"date plus int64", Raw(bftDate, d), ArithOp::kAdd, Raw(bftSignedInt64, int64_t{1}), Raw(bftDate, d + 1)},
      {"last day", Raw(bftDate, last - 1), ArithOp::kAdd, I32(1), Raw(bftDate, last)},
      {"date difference of 0", Raw(bftDate, d), ArithOp::kSub, Raw(bftDate, d), Raw(bftDate, int32_t{0})},
      {"date minus double floors", Raw(bftDate, d), ArithOp::kAdd, Dbl(-0.5), Raw(bftDate, d - 1)},
      {"date-time plus negative fraction", DateTime(d, 12 * hour), ArithOp::kAdd, Dbl(-1.25),
       DateTime(d - 1, 6 * hour)},
      {"date-time minus fraction", DateTime(d, 12 * hour), ArithOp::kSub, Dbl(1.25), DateTime(d - 1, 6 * hour)},
      {"date-time difference under a day", DateTime(d, 12 * hour), ArithOp::kSub, DateTime(d, 10 * hour),
       DateTime(0, 2 * hour)},
      {"date-time plus int64", DateTime(d, hour), ArithOp::kAdd, Raw(bftSignedInt64, int64_t{2}),
       DateTime(d + 2, hour)},
  };
  for (const ArithCase& c : cases) {
    TORBVariant v = c.left;
    Apply(v, c.op, c.right);
    ExpectSameValue(v, c.expected, c.name);
  }
  const std::vector<ArithCase> failures = {
      {"past the last day", Raw(bftDate, last), ArithOp::kAdd, I32(1), {}, kErrDateArithmeticRange},
      {"before the first day", Raw(bftDate, int32_t{1}), ArithOp::kSub, I32(1), {}, kErrDateArithmeticRange},
      {"negative difference", Raw(bftDate, d), ArithOp::kSub, Raw(bftDate, d + 1), {}, kErrDateArithmeticRange},
      {"day count beyond 32 bits", Raw(bftDate, d), ArithOp::kAdd, Raw(bftSignedInt64, int64_t{4294967296}), {},
       kErrDateArithmeticRange},
      {"day count beyond 64 bits", Raw(bftDate, d), ArithOp::kAdd,
       Raw(bftSignedInt64, std::numeric_limits<int64_t>::max()), {}, kErrDateArithmeticRange},
      {"huge double", Raw(bftDate, d), ArithOp::kAdd, Dbl(1e300), {}, kErrDateArithmeticRange},
      {"date-time past the last day", DateTime(last, 23 * hour), ArithOp::kAdd, DateTime(kORBEmptyDate, 2 * hour),
       {}, kErrDateArithmeticRange},
      {"date-time plus int64", DateTime(d, 0), ArithOp::kAdd, Raw(bftSignedInt64, int64_t{4294967296}), {},
       kErrDateArithmeticRange},
      {"date-time before the first day", DateTime(1, hour), ArithOp::kSub, DateTime(kORBEmptyDate, 2 * hour), {},
       kErrDateArithmeticRange},
  };
  for (const ArithCase& c : failures) {
    TORBVariant v = c.left;
    EXPECT_EQ(RaisedCode([&] { Apply(v, c.op, c.right); }), c.code) << c.name;
    ExpectSameValue(v, c.left, c.name + " leaves the value");
  }
}

// Numbers of days split with floor both ways, and numbers of milliseconds
// become times of day.
TEST(VariantCastTest, NumbersAsDatesAndTimes) {
  const int32_t hour = 3600000;
  struct Case {
    std::string name;
    TORBVariant from;
    TORBVariant expected;
  };
  const std::vector<Case> cases = {
      {"negative fraction", Dbl(-1.25), DateTime(-2, 18 * hour)},
      {"positive fraction", Dbl(1.25), DateTime(1, 6 * hour)},
      {"rounds to the millisecond", Dbl(739000.1), DateTime(739000, 8640000)},
      {"date floors", Dbl(-0.5), Raw(bftDate, int32_t{-1})},
      {"int to time wraps", Raw(bftSignedInt64, int64_t{90000000}), Raw(bftTime, hour)},
      {"negative int to time", I32(-1), Raw(bftTime, int32_t{86399999})},
      {"cardinal to time", Raw(bftUnsignedInt32, 4000000000u), Raw(bftTime, int32_t{25600000})},
  };
  for (const Case& c : cases) {
    TORBVariant v = c.from;
    v.Cast(c.expected.DataType());
    ExpectSameValue(v, c.expected, c.name);
  }
  for (double x : {-1.25, -0.75, 0.5, 739000.1, -739000.3}) {
    TORBVariant v = Dbl(x);
    v.Cast(bftDateTime);
    v.Cast(bftDouble);
    EXPECT_DOUBLE_EQ(v.AsDouble(), x);
  }
  for (TORBBaseFieldType to : {bftDate, bftDateTime}) {
    TORBVariant wide = Raw(bftSignedInt64, int64_t{4294967296});
    EXPECT_EQ(RaisedCode([&] { wide.Cast(to); }), kErrCastParse) << int(to);
    TORBVariant huge = Dbl(1e12);
    EXPECT_EQ(RaisedCode([&] { huge.Cast(to); }), kErrCastParse) << int(to);
  }
}

TEST(VariantArithmeticTest, NullOperands) {
  for (ArithOp op : {ArithOp::kAdd, ArithOp::kSub, ArithOp::kMul, ArithOp::kDiv}) {
    TORBVariant v = I32(5);
    Apply(v, op, TORBVariant(bftSignedInt32));
    EXPECT_TRUE(v.IsNull());
    TORBVariant n(bftSignedInt32);
    Apply(n, op, I32(5));
    EXPECT_TRUE(n.IsNull());
  }
  TORBVariant text = Text(bftVarchar, "ab");
  text.Add(TORBVariant(bftVarchar));
  EXPECT_EQ(text.AsAnsiString(), "ab");
  text.Sub(TORBVariant(bftVarchar));
  EXPECT_TRUE(text.IsNull());

  TORBVariant empty(bftVarchar);
  empty.Add(I32(42));
  EXPECT_EQ(empty.DataType(), bftSignedInt32);
  EXPECT_EQ(empty.AsInteger(), 42);
  TORBVariant empty_mul(bftVarchar);
  empty_mul.Mul(I32(42));
  EXPECT_TRUE(empty_mul.IsNull());

  TORBVariant blob = Bytes(bftBlob, "x");
  blob.Add(TORBVariant(bftSignedInt32));  // null operand: no kind check
  EXPECT_TRUE(blob.IsNull());
}

TEST(VariantArithmeticTest, InvertValue) {
  struct Case {
    std::string name;
    TORBVariant value, expected;
  };
  const std::vector<Case> cases = {
      {"byte wraps", Raw(bftUnsignedInt8, uint8_t{200}), Raw(bftUnsignedInt8, uint8_t{56})},
      {"word wraps", Raw(bftUnsignedInt16, uint16_t{1}), Raw(bftUnsignedInt16, uint16_t{65535})},
      {"cardinal wraps", Raw(bftUnsignedInt32, 1u), Raw(bftUnsignedInt32, 4294967295u)},
      {"int", I32(5), I32(-5)},
      {"int64 max", Raw(bftSignedInt64, std::numeric_limits<int64_t>::max()),
       Raw(bftSignedInt64, -std::numeric_limits<int64_t>::max())},
      {"double", Dbl(1.5), Dbl(-1.5)},
      {"single", Raw(bftSingle, 2.0f), Raw(bftSingle, -2.0f)},
      {"currency", Raw(bftCurrency, 3.0), Raw(bftCurrency, -3.0)},
      {"true", Logical(3), Logical(0)},
      {"false", Logical(0), Logical(1)},
  };
  for (const Case& c : cases) {
    TORBVariant v = c.value;
    v.InvertValue();
    ExpectSameValue(v, c.expected, c.name);
  }
  TORBVariant null_int(bftSignedInt32);
  null_int.InvertValue();
  EXPECT_TRUE(null_int.IsNull());

  struct Failure {
    std::string name;
    TORBVariant value;
    int32_t code;
  };
  const std::vector<Failure> failures = {
      {"int32 min", I32(-2147483647 - 1), kErrNumericOverflow},
      {"int64 min", Raw(bftSignedInt64, std::numeric_limits<int64_t>::min()), kErrNumericOverflow},
      {"shortint min", Raw(bftSignedInt8, int8_t{-128}), kErrNumericOverflow},
      {"date", Raw(bftDate, int32_t{10}), kErrDateArithmeticRange},
      {"text", Text(bftVarchar, "1"), kErrInvertNonNumeric},
      {"time", Raw(bftTime, int32_t{1}), kErrInvertNonNumeric},
      {"blob", Bytes(bftBlob, "1"), kErrInvertNonNumeric},
  };
  for (const Failure& f : failures) {
    TORBVariant v = f.value;
    EXPECT_EQ(RaisedCode([&] { v.InvertValue(); }), f.code) << f.name;
    ExpectSameValue(v, f.value, f.name + " leaves the value");
  }
}

// ---------------------------------------------------------------------------
// Streaming

TEST(VariantStreamTest, RoundTripsEveryKind) {
  const std::vector<TORBVariant> values = {
      TORBVariant(bftSignedInt32),
      TORBVariant(bftUnknown),
      Text(bftVarchar, "hello"),
      Text(bftChar, "caf\xE9"),
      Wide(bftWideVarchar, u"\u4e2d\u6587"),
      Raw(bftSignedInt8, int8_t{-1}),
      Raw(bftUnsignedInt16, uint16_t{65535}),
      I32(-123456),
      Raw(bftSignedInt64, std::numeric_limits<int64_t>::min()),
      Raw(bftUnsignedInt32, 4294967295u),
      Raw(bftSingle, 1.25f),
      Dbl(-0.1),
      Raw(bftCurrency, 99.99),
      Raw(bftDate, kORBEmptyDate),
      Raw(bftTime, int32_t{86399999}),
      DateTime(Day(2024, 1, 31), 1),
      Logical(1),
      Bytes(bftBlob, std::string("a\0b\xff", 4)),
      Bytes(bftClob, ""),
      Bytes(bftBytes, std::string("\x01\x00\x02", 3)),
  };
  TORBMemoryStream stream;
  for (const TORBVariant& v : values) v.SaveToStream(stream);
  stream.SetPosition(0);
  for (const TORBVariant& v : values) {
    TORBVariant loaded = I32(77);
    loaded.LoadFromStream(stream);
    ExpectSameValue(loaded, v, Describe(v));
    EXPECT_EQ(loaded.DataType(), v.DataType());
  }
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
}

TEST(VariantStreamTest, LayoutIsKindNullFlagSizeAndData) {
  TORBMemoryStream stream;
  I32(0x01020304).SaveToStream(stream);
  TORBVariant(bftVarchar).SaveToStream(stream);
  const std::vector<uint8_t> expected = {7, 0, 4, 0, 0, 0, 4, 3, 2, 1, 3, 1};
  ASSERT_EQ(stream.GetSize(), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(std::vector<uint8_t>(stream.Memory(), stream.Memory() + expected.size()), expected);
}

TEST(VariantStreamTest, DamagedInputRaisesAndLeavesTheValue) {
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"empty stream", {}, kErrLoadValueKind},
      {"unknown kind", {99, 1}, kErrLoadValueKind},
      {"no null flag", {7}, kErrLoadValueNull},
      {"short size", {7, 0, 4, 0}, kErrLoadValueSize},
      {"negative size", {3, 0, 0xff, 0xff, 0xff, 0xff}, kErrLoadValueSize},
      {"size past the stream", {18, 0, 0xff, 0xff, 0xff, 0x7f, 1, 2}, kErrLoadValueSize},
      {"wrong size for kind", {7, 0, 2, 0, 0, 0, 1, 2}, kErrLoadValueSize},
      {"empty string buffer", {3, 0, 0, 0, 0, 0}, kErrLoadValueSize},
      {"odd wide size", {4, 0, 3, 0, 0, 0, 'a', 0, 0}, kErrLoadValueSize},
      {"unterminated string", {3, 0, 2, 0, 0, 0, 'a', 'b'}, kErrLoadValueData},
      {"unterminated wide string", {4, 0, 2, 0, 0, 0, 'a', 0}, kErrLoadValueData},
  };
  for (const Case& c : cases) {
    TORBMemoryStream stream(std::vector<uint8_t>(c.bytes));
    TORBVariant v = I32(5);
    EXPECT_EQ(RaisedCode([&] { v.LoadFromStream(stream); }), c.code) << c.name;
    EXPECT_EQ(v.DataType(), bftSignedInt32) << c.name;
    EXPECT_EQ(v.AsInteger(), 5) << c.name;
  }
}

}  // namespace
}  // namespace orb
