// Record keys order integer parts exactly as the engine's value order does
// (extremes, signs, nulls first, descending parts inverted).

#include "engine/data/record_key_ref.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "engine/base/variant_compare.h"

namespace orb {
namespace {

struct IntegerKind {
  TORBBaseFieldType Type;
  int32_t Size;
  std::vector<int64_t> Values;
};

template <class T>
std::vector<int64_t> Extremes() {
  std::vector<int64_t> values = {static_cast<int64_t>(std::numeric_limits<T>::min()),
                                 static_cast<int64_t>(std::numeric_limits<T>::max()), 0, 1, 2};
  if (std::numeric_limits<T>::is_signed) values.insert(values.end(), {-1, -2});
  values.push_back(static_cast<int64_t>(std::numeric_limits<T>::max()) - 1);
  return values;
}

// One part of `kind` at offset 0 of the short and full key; null when
// `value` is absent.
class OnePartKey : public TORBRecordKeyRef {
 public:
  OnePartKey(const IntegerKind& kind, bool descending) : FSize(kind.Size) {
    SetPartCount(1);
    TORBKeyPart& part = FParts[0];
    part.DataType = kind.Type;
    part.ShortSize = kind.Size + 1;
    part.FullSize = kind.Size + 1;
    part.Descending = descending;
    FShortKeySize = FFullKeySize = kind.Size + 1;
  }
  std::vector<uint8_t> Key(const int64_t* value) const {
    std::vector<uint8_t> key(static_cast<size_t>(FSize) + 1, 0);
    key[0] = value == nullptr ? BTreeKeyIsNull : BTreeKeyIsNotNull;
    if (value != nullptr) std::memcpy(key.data() + 1, value, static_cast<size_t>(FSize));  // little-endian host
    return key;
  }
  int32_t FSize;
};

TEST(RecordKeyRefTest, IntegerPartsOrderAsTheValueOrder) {
  const IntegerKind kinds[] = {
      {bftSignedInt8, 1, Extremes<int8_t>()},     {bftSignedInt16, 2, Extremes<int16_t>()},
      {bftSignedInt32, 4, Extremes<int32_t>()},   {bftSignedInt64, 8, Extremes<int64_t>()},
      {bftUnsignedInt8, 1, Extremes<uint8_t>()},  {bftUnsignedInt16, 2, Extremes<uint16_t>()},
      {bftUnsignedInt32, 4, Extremes<uint32_t>()}, {bftDate, 4, Extremes<int32_t>()},
      {bftTime, 4, Extremes<int32_t>()},
  };
  for (const IntegerKind& kind : kinds) {
    for (bool descending : {false, true}) {
      OnePartKey key_ref(kind, descending);
      std::vector<const int64_t*> values = {nullptr};
      for (const int64_t& v : kind.Values) values.push_back(&v);
      for (const int64_t* a : values) {
        for (const int64_t* b : values) {
          const std::vector<uint8_t> ka = key_ref.Key(a), kb = key_ref.Key(b);
          int want = CompareValueBuffersForOrder({ka.data() + 1, kind.Size, kind.Type, a == nullptr},
                                                 {kb.data() + 1, kind.Size, kind.Type, b == nullptr}, -1, false);
          if (descending) want = -want;
          SCOPED_TRACE(::testing::Message() << "type " << int(kind.Type) << " descending " << descending << " a "
                                            << (a ? *a : -999) << " b " << (b ? *b : -999));
          EXPECT_EQ(key_ref.CompareFullKeys(ka.data(), kb.data()), want);
          EXPECT_EQ(key_ref.CompareShortKeys(ka.data(), kb.data(), false, 0, nullptr, nullptr), want);
        }
      }
    }
  }
}

}  // namespace
}  // namespace orb
