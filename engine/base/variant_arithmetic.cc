#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "engine/base/orb_exception.h"
#include "engine/base/variant.h"

namespace orb {

namespace {

using Buffer = std::unique_ptr<uint8_t[]>;

[[noreturn]] void RaiseOverflow(char op) {
  RaiseORB(kErrNumericOverflow, "Numeric overflow in operator '%s'", {std::string(1, op)});
}

[[noreturn]] void RaiseDivision(const char* text) { RaiseORB(kErrDivision, "Division error: %s", {text}); }

int32_t NonNumericCode(char op) {
  switch (op) {
    case '+': return kErrAddNonNumeric;
    case '-': return kErrSubNonNumeric;
    case '*': return kErrMulNonNumeric;
    default: return kErrDivNonNumeric;
  }
}

struct Range {
  int64_t lo, hi;
};

Range IntegerRange(TORBBaseFieldType t) {
  switch (t) {
    case bftSignedInt8: return {INT8_MIN, INT8_MAX};
    case bftSignedInt16: return {INT16_MIN, INT16_MAX};
    case bftSignedInt32:
    case bftDate:
    case bftTime: return {INT32_MIN, INT32_MAX};
    case bftUnsignedInt8: return {0, UINT8_MAX};
    case bftUnsignedInt16: return {0, UINT16_MAX};
    case bftUnsignedInt32: return {0, UINT32_MAX};
    default: return {INT64_MIN, INT64_MAX};
  }
}

// a op b; a result outside `range` is an overflow (a division error for
// '/'), division by zero a division error.
int64_t IntegerOp(int64_t a, int64_t b, char op, Range range) {
  int64_t r = 0;
  bool overflow = false;
  switch (op) {
    case '+': overflow = __builtin_add_overflow(a, b, &r); break;
    case '-': overflow = __builtin_sub_overflow(a, b, &r); break;
    case '*': overflow = __builtin_mul_overflow(a, b, &r); break;
    default:
      if (b == 0) RaiseDivision("Division by zero");
      if (a == INT64_MIN && b == -1) RaiseDivision("Integer overflow");
      r = a / b;
  }
  if (overflow || r < range.lo || r > range.hi) {
    if (op == '/') RaiseDivision("Integer overflow");
    RaiseOverflow(op);
  }
  return r;
}

template <class T>
T FloatOp(T a, T b, char op) {
  T r;
  switch (op) {
    case '+': r = a + b; break;
    case '-': r = a - b; break;
    case '*': r = a * b; break;
    default:
      if (b == 0) RaiseDivision("Division by zero");
      r = a / b;
      if (std::isnan(r)) RaiseDivision("Invalid floating point operation");
      if (!std::isfinite(r)) RaiseDivision("Floating point overflow");
      return r;
  }
  if (!std::isfinite(r)) RaiseOverflow(op);
  return r;
}

// A value's data in kind `kind`: its own buffer or a converted copy.
class Operand {
 public:
  Operand(const TORBVariant& v, TORBBaseFieldType kind) {
    if (v.DataType() == kind) {
      FData = static_cast<const uint8_t*>(v.Data());
      FSize = v.DataSize();
    } else {
      FOwned = CastToNewBuffer(v.Data(), v.DataSize(), v.DataType(), kind, FSize);
      FData = FOwned.get();
    }
  }

  template <class T>
  T Get(TORBBaseFieldType kind) const {
    if (FSize < static_cast<int32_t>(sizeof(T)))
      RaiseORB(kErrCastParse, "Cannot cast from '%s' to '%s'", {BftToStr(kind), BftToStr(kind)});
    T v;
    std::memcpy(&v, FData, sizeof(T));
    return v;
  }

  int64_t Integer(TORBBaseFieldType kind) const {
    switch (kind) {
      case bftSignedInt8: return Get<int8_t>(kind);
      case bftSignedInt16: return Get<int16_t>(kind);
      case bftSignedInt32:
      case bftDate:
      case bftTime: return Get<int32_t>(kind);
      case bftSignedInt64: return Get<int64_t>(kind);
      case bftUnsignedInt8: return Get<uint8_t>(kind);
      case bftUnsignedInt16: return Get<uint16_t>(kind);
      default: return Get<uint32_t>(kind);
    }
  }

  // Bytes of text before the terminator (`unit` bytes per character).
  size_t TextBytes(size_t unit) const {
    size_t n = 0;
    while (n + unit <= static_cast<size_t>(FSize)) {
      bool zero = true;
      for (size_t k = 0; k < unit; ++k) zero = zero && FData[n + k] == 0;
      if (zero) break;
      n += unit;
    }
    return n;
  }
  const uint8_t* data() const { return FData; }

 private:
  Buffer FOwned;
  const uint8_t* FData = nullptr;
  int32_t FSize = 0;
};

template <class T>
Buffer Store(T v, int32_t& n) {
  Buffer b(new uint8_t[sizeof(T)]);
  std::memcpy(b.get(), &v, sizeof(T));
  n = static_cast<int32_t>(sizeof(T));
  return b;
}

Buffer StoreInteger(int64_t v, TORBBaseFieldType kind, int32_t& n) {
  switch (kind) {
    case bftSignedInt8: return Store(static_cast<int8_t>(v), n);
    case bftSignedInt16: return Store(static_cast<int16_t>(v), n);
    case bftSignedInt32:
    case bftDate:
    case bftTime: return Store(static_cast<int32_t>(v), n);
    case bftSignedInt64: return Store(v, n);
    case bftUnsignedInt8: return Store(static_cast<uint8_t>(v), n);
    case bftUnsignedInt16: return Store(static_cast<uint16_t>(v), n);
    default: return Store(static_cast<uint32_t>(v), n);
  }
}

Buffer Concatenate(const Operand& a, const Operand& b, size_t unit, int32_t& n) {
  const size_t la = a.TextBytes(unit), lb = b.TextBytes(unit);
  const size_t total = la + lb + unit;
  if (total > static_cast<size_t>(std::numeric_limits<int32_t>::max())) RaiseOverflow('+');
  Buffer r(new uint8_t[total]);
  std::memcpy(r.get(), a.data(), la);
  std::memcpy(r.get() + la, b.data(), lb);
  std::memset(r.get() + la + lb, 0, unit);
  n = static_cast<int32_t>(total);
  return r;
}

// Date and time parts are combined separately, then whole days of the time
// part move into the date part. An empty date part counts as day 0; it
// stays empty when both parts are empty and no days move.
Buffer DateTimeOp(const TORBDateTime& a, const TORBDateTime& b, char op, int32_t& n) {
  const Range wide = IntegerRange(bftSignedInt64);
  const bool both_empty = a.Date == kORBEmptyDate && b.Date == kORBEmptyDate;
  const int64_t a_date = a.Date == kORBEmptyDate ? 0 : a.Date;
  const int64_t b_date = b.Date == kORBEmptyDate ? 0 : b.Date;
  int64_t date = both_empty && op == '/' ? 0 : IntegerOp(a_date, b_date, op, wide);
  int64_t time = IntegerOp(a.Time, b.Time, op, wide);
  int64_t days = time / kMSecsPerDay;
  time %= kMSecsPerDay;
  if (time < 0) {
    time += kMSecsPerDay;
    --days;
  }
  date = IntegerOp(date, days, '+', IntegerRange(bftDate));
  if (both_empty && date == 0) date = kORBEmptyDate;
  return Store(TORBDateTime{static_cast<int32_t>(date), static_cast<int32_t>(time)}, n);
}

bool IsIntegerKind(TORBBaseFieldType t) { return t >= bftSignedInt8 && t <= bftUnsignedInt32; }

}  // namespace

void TORBVariant::Add(const TORBVariant& value) { Arithmetic(value, '+'); }
void TORBVariant::Sub(const TORBVariant& value) { Arithmetic(value, '-'); }
void TORBVariant::Mul(const TORBVariant& value) { Arithmetic(value, '*'); }
void TORBVariant::Division(const TORBVariant& value) { Arithmetic(value, '/'); }

void TORBVariant::Arithmetic(const TORBVariant& value, char op) {
  if (value.IsNull()) {
    if (!(op == '+' && IsStringDataType())) Clear(FDataType);
    return;
  }
  if (IsNull()) {
    if (op == '+' && IsStringDataType()) Assign(value, true);
    return;
  }
  const TORBBaseFieldType kind = GetCommonDataType(FDataType, value.FDataType, false);
  const bool text = IsStringFieldType(kind);
  const bool supported = (text && op == '+') || IsNumericFieldType(kind) || IsDateTimeFieldType(kind) ||
                         kind == bftLogical;
  if (!supported)
    RaiseORB(NonNumericCode(op), "Non-numeric argument in numeric operator '%s'", {std::string(1, op)});

  const Operand a(*this, kind), b(value, kind);
  int32_t n = 0;
  Buffer result;
  if (text) {
    result = Concatenate(a, b, kind == bftWideChar || kind == bftWideVarchar ? 2 : 1, n);
  } else if (IsIntegerKind(kind) || kind == bftDate || kind == bftTime) {
    result = StoreInteger(IntegerOp(a.Integer(kind), b.Integer(kind), op, IntegerRange(kind)), kind, n);
  } else if (kind == bftSingle) {
    result = Store(FloatOp(a.Get<float>(kind), b.Get<float>(kind), op), n);
  } else if (kind == bftDateTime) {
    result = DateTimeOp(a.Get<TORBDateTime>(kind), b.Get<TORBDateTime>(kind), op, n);
  } else if (kind == bftLogical) {
    result = Store(static_cast<int16_t>(a.Get<int16_t>(kind) != 0 || b.Get<int16_t>(kind) != 0), n);
  } else {
    result = Store(FloatOp(a.Get<double>(kind), b.Get<double>(kind), op), n);
  }
  Adopt(result.release(), n, kind);
}

void TORBVariant::InvertValue() {
  if (IsNull()) return;
  const Operand a(*this, FDataType);
  int32_t n = 0;
  Buffer result;
  switch (FDataType) {
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftDate:
      result = StoreInteger(IntegerOp(0, a.Integer(FDataType), '-', IntegerRange(FDataType)), FDataType, n);
      break;
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32:
      // The negated value keeps the low-order bits of the kind's width.
      result = StoreInteger(-a.Integer(FDataType), FDataType, n);
      break;
    case bftSingle:
      result = Store(-a.Get<float>(FDataType), n);
      break;
    case bftDouble:
    case bftExtended:
    case bftCurrency:
      result = Store(-a.Get<double>(FDataType), n);
      break;
    case bftLogical:
      result = Store(static_cast<int16_t>(a.Get<int16_t>(FDataType) == 0), n);
      break;
    default:
      RaiseORB(kErrInvertNonNumeric, "Cannot invert value with non-numeric type '%s'", {BftToStr(FDataType)});
  }
  Adopt(result.release(), n, FDataType);
}

}  // namespace orb
