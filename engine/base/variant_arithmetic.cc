#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "engine/base/date_time_convert.h"
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
    case bftSignedInt32: return {INT32_MIN, INT32_MAX};
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
      case bftDate: return Get<int32_t>(kind);
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
    case bftSignedInt32: return Store(static_cast<int32_t>(v), n);
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

bool IsIntegerKind(TORBBaseFieldType t) { return t >= bftSignedInt8 && t <= bftUnsignedInt32; }
bool IsFloatKind(TORBBaseFieldType t) { return t == bftSingle || t == bftDouble || t == bftExtended; }

[[noreturn]] void RaiseDateRange(char op) {
  RaiseORB(kErrDateArithmeticRange, "Date out of range 0001-01-01 to 9999-12-31 in operator '%s'",
           {std::string(1, op)});
}

// Date arithmetic in 64 bits: a result that does not fit is out of range.
int64_t DayOp(int64_t a, int64_t b, char op) {
  if (op == '/') return IntegerOp(a, b, op, IntegerRange(bftSignedInt64));
  int64_t r = 0;
  bool overflow = false;
  switch (op) {
    case '+': overflow = __builtin_add_overflow(a, b, &r); break;
    case '-': overflow = __builtin_sub_overflow(a, b, &r); break;
    default: overflow = __builtin_mul_overflow(a, b, &r); break;
  }
  if (overflow) RaiseDateRange(op);
  return r;
}

// Dates that arithmetic makes lie in 0001-01-01 to 9999-12-31. The
// difference of two dates is a count of days and may also be 0.
int32_t CheckedDay(int64_t day, bool difference, char op) {
  if (day > kORBMaxDayNumber || day < (difference ? 0 : 1)) RaiseDateRange(op);
  return static_cast<int32_t>(day);
}

int32_t TimeOfDay(int64_t ms) {
  int64_t r = ms % kMSecsPerDay;
  if (r < 0) r += kMSecsPerDay;
  return static_cast<int32_t>(r);
}

// A date, time or date-time operand in 64 bits. Numbers are whole days
// (a fraction is part of a day) taken as they are, never cut to 32 bits.
struct Moment {
  int64_t Date = 0;  // days; 0 for an empty date part
  int64_t Time = 0;  // milliseconds
  bool EmptyDate = false;
  bool Calendar = false;  // a date of the calendar, not a number
};

Moment MomentOf(const TORBVariant& v, TORBBaseFieldType kind, char op) {
  const TORBBaseFieldType t = v.DataType();
  Moment m;
  if (IsIntegerKind(t)) {
    (kind == bftTime ? m.Time : m.Date) = Operand(v, t).Integer(t);
  } else if (IsFloatKind(t)) {
    const double x = Operand(v, bftDouble).Get<double>(bftDouble);
    if (kind == bftTime) {
      // A number taken as a time counts milliseconds.
      if (!(std::fabs(x) < 9.2e18)) RaiseOverflow(op);
      m.Time = static_cast<int64_t>(x);
    } else {
      int32_t ms = 0;
      if (!SplitDays(x, m.Date, ms)) RaiseDateRange(op);
      m.Time = ms;
    }
  } else if (kind == bftDateTime) {
    const TORBDateTime dt = Operand(v, kind).Get<TORBDateTime>(kind);
    m.EmptyDate = dt.Date == kORBEmptyDate;
    m.Calendar = !m.EmptyDate;
    m.Date = m.EmptyDate ? 0 : dt.Date;
    m.Time = dt.Time;
  } else if (kind == bftDate) {
    m.Date = Operand(v, kind).Get<int32_t>(kind);
    m.Calendar = true;
  } else {
    m.Time = Operand(v, kind).Get<int32_t>(kind);
  }
  return m;
}

// Dates count days, times milliseconds around the clock.
Buffer DateOrTimeOp(const Moment& a, const Moment& b, TORBBaseFieldType kind, char op, int32_t& n) {
  if (kind == bftTime) return Store(TimeOfDay(IntegerOp(a.Time, b.Time, op, IntegerRange(bftSignedInt64))), n);
  const bool difference = op == '-' && a.Calendar && b.Calendar;
  return Store(CheckedDay(DayOp(a.Date, b.Date, op), difference, op), n);
}

// Date and time parts are combined separately, then whole days of the time
// part move into the date part. An empty date part counts as day 0; it
// stays empty when both parts are empty and no days move.
Buffer DateTimeOp(const Moment& a, const Moment& b, char op, int32_t& n) {
  const bool both_empty = a.EmptyDate && b.EmptyDate;
  int64_t date = both_empty && op == '/' ? 0 : DayOp(a.Date, b.Date, op);
  int64_t time = IntegerOp(a.Time, b.Time, op, IntegerRange(bftSignedInt64));
  int64_t days = time / kMSecsPerDay;
  time %= kMSecsPerDay;
  if (time < 0) {
    time += kMSecsPerDay;
    --days;
  }
  if (__builtin_add_overflow(date, days, &date)) RaiseDateRange(op);
  if (both_empty && date == 0) return Store(TORBDateTime{kORBEmptyDate, static_cast<int32_t>(time)}, n);
  const bool difference = op == '-' && a.Calendar && b.Calendar;
  return Store(TORBDateTime{CheckedDay(date, difference, op), static_cast<int32_t>(time)}, n);
}

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

  int32_t n = 0;
  Buffer result;
  if (IsDateTimeFieldType(kind)) {
    const Moment a = MomentOf(*this, kind, op), b = MomentOf(value, kind, op);
    result = kind == bftDateTime ? DateTimeOp(a, b, op, n) : DateOrTimeOp(a, b, kind, op, n);
    Adopt(result.release(), n, kind);
    return;
  }
  const Operand a(*this, kind), b(value, kind);
  if (text) {
    result = Concatenate(a, b, kind == bftWideChar || kind == bftWideVarchar ? 2 : 1, n);
  } else if (IsIntegerKind(kind)) {
    result = StoreInteger(IntegerOp(a.Integer(kind), b.Integer(kind), op, IntegerRange(kind)), kind, n);
  } else if (kind == bftSingle) {
    result = Store(FloatOp(a.Get<float>(kind), b.Get<float>(kind), op), n);
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
      result = StoreInteger(IntegerOp(0, a.Integer(FDataType), '-', IntegerRange(FDataType)), FDataType, n);
      break;
    case bftDate:
      result = Store(CheckedDay(-a.Integer(FDataType), false, '-'), n);
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
