#include "engine/base/field_data.h"

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

using test::RaisedCode;

// One-field table of the given type.
struct OneField {
  explicit OneField(TORBAdvancedFieldType aft, int32_t size = 0) {
    const TORBFieldShape shape[] = {{aft, AdvancedFieldTypeToBaseFieldType(aft), size}};
    layout = TORBRecordLayout(shape);
    record.assign(layout.MemoryRecordSize(), 0);
    record[0] = 1;
  }
  const uint8_t* Data() const { return record.data() + layout.Field(0).MemoryOffset; }
  TORBRecordLayout layout;
  std::vector<uint8_t> record;
};

template <typename T>
T Get(OneField& f) {
  T value{};
  EXPECT_TRUE(GetFieldData(0, f.layout, &value, f.record.data()));
  return value;
}

// Integers keep their value through the framework's wider buffers; a
// negative value in a signed field comes back sign-extended.
TEST(FieldDataTest, IntegersWidenAndNarrow) {
  struct Row {
    TORBAdvancedFieldType aft;
    int64_t value;  // framework value
    std::vector<uint8_t> stored;
    int64_t read_back;
  };
  const Row rows[] = {
      {aftShortint, -5, {0xFB}, -5},
      {aftShortint, 300, {0x2C}, 44},
      {aftByte, 200, {0xC8}, 200},
      {aftSmallint, -2, {0xFE, 0xFF}, -2},
      {aftWord, 65535, {0xFF, 0xFF}, 65535},
      {aftInteger, -100000, {0x60, 0x79, 0xFE, 0xFF}, -100000},
      {aftCardinal, 4000000000LL, {0x00, 0x28, 0x6B, 0xEE}, 4000000000LL},
      {aftLargeint, -1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {aftAutoIncShortint, -3, {0xFD}, -3},
      {aftAutoIncByte, 255, {0xFF}, 255},
      {aftAutoIncSmallint, -300, {0xD4, 0xFE}, -300},
      {aftAutoIncWord, 40000, {0x40, 0x9C}, 40000},
      {aftAutoInc, 7, {7, 0, 0, 0}, 7},
      {aftAutoIncLargeint, 1LL << 40, {0, 0, 0, 0, 0, 1, 0, 0}, 1LL << 40},
  };
  for (const Row& r : rows) {
    OneField f(r.aft);
    const int32_t host_size = GetHostDataSize(f.layout.Field(0));
    uint8_t host[8] = {};
    const int16_t v16 = static_cast<int16_t>(r.value);
    const int32_t v32 = static_cast<int32_t>(r.value);
    if (host_size == 2) std::memcpy(host, &v16, 2);
    if (host_size == 4) std::memcpy(host, &v32, 4);
    if (host_size == 8) std::memcpy(host, &r.value, 8);
    SetFieldData(0, f.layout, host, f.record.data());
    EXPECT_FALSE(CheckNullFlag(0, f.record.data())) << int(r.aft);
    EXPECT_EQ(r.stored, std::vector<uint8_t>(f.Data(), f.Data() + r.stored.size())) << int(r.aft);
    uint8_t out[8];
    std::memset(out, 0xCC, sizeof out);
    ASSERT_TRUE(GetFieldData(0, f.layout, out, f.record.data()));
    int64_t back = 0;
    if (host_size == 2) back = *reinterpret_cast<int16_t*>(out);
    if (host_size == 4) back = *reinterpret_cast<int32_t*>(out);
    if (host_size == 8) std::memcpy(&back, out, 8);
    if (r.aft == aftByte || r.aft == aftWord) back = static_cast<uint16_t>(back);
    EXPECT_EQ(r.read_back, back) << int(r.aft);
    for (int i = host_size; i < 8; ++i) EXPECT_EQ(0xCC, out[i]) << int(r.aft) << " wrote past its buffer";
  }
}

TEST(FieldDataTest, FloatsAndFixedSizeValues) {
  OneField single(aftSingle);
  const double d = 1.5;
  SetFieldData(0, single.layout, &d, single.record.data());
  EXPECT_EQ(1.5, Get<double>(single));
  const double third = 1.0 / 3.0;
  SetFieldData(0, single.layout, &third, single.record.data());
  EXPECT_EQ(static_cast<double>(1.0f / 3.0f), Get<double>(single));
  const double huge = 1e300;
  SetFieldData(0, single.layout, &huge, single.record.data());
  EXPECT_EQ(std::numeric_limits<double>::infinity(), Get<double>(single));

  OneField ext(aftExtended);
  SetFieldData(0, ext.layout, &third, ext.record.data());
  EXPECT_EQ(third, Get<double>(ext));

  OneField money(aftCurrency);
  const double amount = 12.34;
  SetFieldData(0, money.layout, &amount, money.record.data());
  EXPECT_EQ(amount, Get<double>(money));

  OneField when(aftDateTime);
  const TORBDateTime dt{739023, 45015000};
  SetFieldData(0, when.layout, &dt, when.record.data());
  EXPECT_EQ(dt, Get<TORBDateTime>(when));
  const uint8_t stored[] = {0xCF, 0x46, 0x0B, 0x00, 0xD8, 0xDF, 0xAE, 0x02};
  EXPECT_EQ(0, std::memcmp(stored, when.Data(), 8));

  OneField flag(aftBoolean);
  const uint16_t yes = 1;
  SetFieldData(0, flag.layout, &yes, flag.record.data());
  EXPECT_EQ(1, Get<uint16_t>(flag));
}

TEST(FieldDataTest, Strings) {
  OneField s(aftString, 5);
  SetFieldData(0, s.layout, "abc", s.record.data());
  char out[6];
  ASSERT_TRUE(GetFieldData(0, s.layout, out, s.record.data()));
  EXPECT_STREQ("abc", out);

  // Too long: cut to the field's size, always terminated.
  SetFieldData(0, s.layout, "abcdefgh", s.record.data());
  ASSERT_TRUE(GetFieldData(0, s.layout, out, s.record.data()));
  EXPECT_STREQ("abcde", out);
  // A shorter value leaves no trace of the longer one.
  SetFieldData(0, s.layout, "xy", s.record.data());
  EXPECT_EQ(0, std::memcmp("xy\0\0\0\0", s.Data(), 6));

  // An empty string stores null and leaves the old bytes alone.
  SetFieldData(0, s.layout, "", s.record.data());
  EXPECT_TRUE(CheckNullFlag(0, s.record.data()));
  EXPECT_FALSE(GetFieldData(0, s.layout, out, s.record.data()));
  EXPECT_EQ('x', s.Data()[0]);

  OneField w(aftWideString, 3);
  EXPECT_EQ(8, w.layout.Field(0).MemoryDataSize);
  SetFieldData(0, w.layout, u"h\u00E9llo", w.record.data());
  char16_t wout[4];
  ASSERT_TRUE(GetFieldData(0, w.layout, wout, w.record.data()));
  EXPECT_EQ(std::u16string(u"h\u00E9l"), std::u16string(wout));
  SetFieldData(0, w.layout, u"", w.record.data());
  EXPECT_FALSE(GetFieldData(0, w.layout, wout, w.record.data()));

  OneField g(aftGuid, 38);
  const char* guid = "{01234567-89AB-CDEF-0123-456789ABCDEF}";
  SetFieldData(0, g.layout, guid, g.record.data());
  char gout[39];
  ASSERT_TRUE(GetFieldData(0, g.layout, gout, g.record.data()));
  EXPECT_STREQ(guid, gout);
}

TEST(FieldDataTest, NullsBlobsAndBytes) {
  OneField n(aftInteger);
  const int32_t v = 42;
  SetFieldData(0, n.layout, &v, n.record.data());
  EXPECT_TRUE(GetFieldData(0, n.layout, nullptr, n.record.data()));
  SetFieldData(0, n.layout, nullptr, n.record.data());
  EXPECT_FALSE(GetFieldData(0, n.layout, nullptr, n.record.data()));
  EXPECT_EQ(42, static_cast<int32_t>(ReadStoredInteger(bftSignedInt32, n.Data())));

  OneField memo(aftMemo);
  SetNullFlag(false, 0, memo.record.data());
  uint8_t untouched[14];
  std::memset(untouched, 0x5A, sizeof untouched);
  EXPECT_TRUE(GetFieldData(0, memo.layout, untouched, memo.record.data()));
  for (uint8_t b : untouched) EXPECT_EQ(0x5A, b);
  EXPECT_EQ(0, GetHostDataSize(memo.layout.Field(0)));

  OneField bytes(aftBytes, 4);
  const uint8_t raw[5] = {0, 1, 2, 0, 9};
  SetFieldData(0, bytes.layout, raw, bytes.record.data());
  EXPECT_FALSE(CheckNullFlag(0, bytes.record.data()));
  EXPECT_EQ(0, std::memcmp(raw, bytes.Data(), 5));
}

TEST(FieldDataTest, FieldChecks) {
  OneField f(aftInteger);
  int32_t v = 0;
  EXPECT_EQ(10000, RaisedCode([&] { GetFieldData(1, f.layout, &v, f.record.data()); }));
  EXPECT_EQ(10000, RaisedCode([&] { GetFieldData(-1, f.layout, &v, f.record.data()); }));
  EXPECT_EQ(10004, RaisedCode([&] { SetFieldData(1, f.layout, &v, f.record.data()); }));
  EXPECT_EQ(10003, RaisedCode([&] { GetFieldData(0, f.layout, &v, nullptr); }));
  EXPECT_EQ(kErrSetFieldNoRecord, RaisedCode([&] { SetFieldData(0, f.layout, &v, nullptr); }));
  try {
    GetFieldData(3, f.layout, &v, f.record.data());
  } catch (const EORBException& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("FieldNo = 3, FieldCount = 1")) << e.what();
  }
}

TEST(FieldDataTest, StoredIntegerRanges) {
  EXPECT_EQ(-128, StoredIntegerMin(bftSignedInt8));
  EXPECT_EQ(127, StoredIntegerMax(bftSignedInt8));
  EXPECT_EQ(0, StoredIntegerMin(bftUnsignedInt32));
  EXPECT_EQ(4294967295LL, StoredIntegerMax(bftUnsignedInt32));
  EXPECT_EQ(INT64_MAX, StoredIntegerMax(bftSignedInt64));
  uint8_t b[8] = {};
  WriteStoredInteger(bftSignedInt16, -32768, b);
  EXPECT_EQ(-32768, ReadStoredInteger(bftSignedInt16, b));
  EXPECT_EQ(32768, ReadStoredInteger(bftUnsignedInt16, b));
}

}  // namespace
}  // namespace orb
