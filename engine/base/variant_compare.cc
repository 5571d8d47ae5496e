#include "engine/base/variant_compare.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "engine/base/orb_exception.h"
#include "engine/platform/collation.h"
#include "engine/base/variant_convert.h"

namespace orb {

namespace {

template <class T>
TORBCompareResult Order(const T& a, const T& b) {
  if (a < b) return cmprLower;
  if (b < a) return cmprGreater;
  return cmprEqual;
}

TORBCompareResult FromSign(int c) { return c < 0 ? cmprLower : (c > 0 ? cmprGreater : cmprEqual); }

// Characters of a string side, bounded by its size and the partial length.
size_t TextLength(const TORBCompareOperand& v, size_t unit, int32_t partial_length) {
  size_t max_units = v.Size < 0 ? SIZE_MAX : static_cast<size_t>(v.Size) / unit;
  if (partial_length >= 0) max_units = std::min(max_units, static_cast<size_t>(partial_length));
  const uint8_t* p = static_cast<const uint8_t*>(v.Data);
  size_t n = 0;
  while (n < max_units) {
    bool zero = true;
    for (size_t k = 0; k < unit; ++k) zero = zero && p[n * unit + k] == 0;
    if (zero) break;
    ++n;
  }
  return n;
}

std::string_view AnsiText(const TORBCompareOperand& v, int32_t partial_length) {
  return {static_cast<const char*>(v.Data), TextLength(v, 1, partial_length)};
}

std::u16string WideText(const TORBCompareOperand& v, int32_t partial_length) {
  std::u16string s(TextLength(v, 2, partial_length), u'\0');
  if (!s.empty()) std::memcpy(s.data(), v.Data, s.size() * 2);
  return s;
}

template <class T>
T Read(const TORBCompareOperand& v) {
  if (v.Size != -1 && v.Size < static_cast<int32_t>(sizeof(T)))
    RaiseORB(kErrCompareUnknownType, "Unknown DataType: '%s'", {BftToStr(v.DataType)});
  T x;
  std::memcpy(&x, v.Data, sizeof(T));
  return x;
}

int64_t ReadInteger(const TORBCompareOperand& v) {
  switch (v.DataType) {
    case bftSignedInt8: return Read<int8_t>(v);
    case bftSignedInt16: return Read<int16_t>(v);
    case bftSignedInt32: return Read<int32_t>(v);
    case bftSignedInt64: return Read<int64_t>(v);
    case bftUnsignedInt8: return Read<uint8_t>(v);
    case bftUnsignedInt16: return Read<uint16_t>(v);
    default: return Read<uint32_t>(v);
  }
}

// Both sides are of kind `type` and have data.
TORBCompareResult CompareSameKind(const TORBCompareOperand& a, const TORBCompareOperand& b,
                                  TORBBaseFieldType type, int32_t partial_length,
                                  bool case_insensitive) {
  switch (type) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
      return FromSign(CompareTextA(AnsiText(a, partial_length), AnsiText(b, partial_length),
                                   !case_insensitive));
    case bftWideChar:
    case bftWideVarchar:
      return FromSign(CompareTextW(WideText(a, partial_length), WideText(b, partial_length),
                                   !case_insensitive));
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32:
      return Order(ReadInteger(a), ReadInteger(b));
    case bftSingle:
      return Order(Read<float>(a), Read<float>(b));
    case bftDouble:
    case bftExtended:
    case bftCurrency:
      return Order(Read<double>(a), Read<double>(b));
    case bftDate:
    case bftTime:
      return Order(Read<int32_t>(a), Read<int32_t>(b));
    case bftDateTime: {
      const TORBDateTime x = Read<TORBDateTime>(a), y = Read<TORBDateTime>(b);
      const TORBCompareResult r = Order(x.Date, y.Date);
      return r != cmprEqual ? r : Order(x.Time, y.Time);
    }
    case bftLogical:
      return Order(Read<int16_t>(a) != 0, Read<int16_t>(b) != 0);
    default:
      RaiseORB(kErrCompareUnknownType, "Unknown DataType: '%s'", {BftToStr(type)});
  }
}

}  // namespace

TORBCompareResult CompareValueBuffers(const TORBCompareOperand& left, const TORBCompareOperand& right,
                                      int32_t partial_length, bool case_insensitive) {
  if (left.IsNull && right.IsNull) return cmprBothNull;
  if (left.IsNull) return cmprLeftNull;
  if (right.IsNull) return cmprRightNull;

  TORBBaseFieldType type = left.DataType;
  TORBCompareOperand a = left, b = right;
  std::unique_ptr<uint8_t[]> a_buffer, b_buffer;
  if (left.DataType != right.DataType || left.DataType == bftClob || left.DataType == bftWideClob) {
    type = GetCommonDataType(left.DataType, right.DataType, true);
    if (type == bftUnknown)
      RaiseORB(kErrCompareIncompatible, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
               {BftToStr(left.DataType), BftToStr(right.DataType)});
    if (left.DataType != type && left.Data != nullptr) {
      a_buffer = CastToNewBuffer(left.Data, left.Size, left.DataType, type, a.Size);
      a.Data = a_buffer.get();
      a.DataType = type;
    }
    if (right.DataType != type && right.Data != nullptr) {
      b_buffer = CastToNewBuffer(right.Data, right.Size, right.DataType, type, b.Size);
      b.Data = b_buffer.get();
      b.DataType = type;
    }
  }
  if (a.Data == nullptr || b.Data == nullptr) RaiseORB(kErrCompareMissingData, "Value is Null");
  return CompareSameKind(a, b, type, partial_length, case_insensitive);
}

int CompareResultToOrder(TORBCompareResult result) {
  switch (result) {
    case cmprGreater:
    case cmprRightNull:
      return 1;
    case cmprLower:
    case cmprLeftNull:
      return -1;
    default:
      return 0;
  }
}

int CompareValueBuffersForOrder(const TORBCompareOperand& left, const TORBCompareOperand& right,
                                int32_t partial_length, bool case_insensitive) {
  return CompareResultToOrder(CompareValueBuffers(left, right, partial_length, case_insensitive));
}

}  // namespace orb
