#include "engine/base/variant_convert.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "engine/base/date_time_convert.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"
#include "engine/base/value_text.h"

namespace orb {

namespace {

// ---------------------------------------------------------------------------
// Common type

enum Group { gNone, gString, gNumeric, gDate, gLogical, gCurrency, gClob };

Group GroupOf(TORBBaseFieldType t) {
  switch (t) {
    case bftChar:
    case bftWideChar:
    case bftVarchar:
    case bftWideVarchar:
      return gString;
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDouble:
    case bftExtended:
      return gNumeric;
    case bftDate:
    case bftTime:
    case bftDateTime:
      return gDate;
    case bftLogical:
      return gLogical;
    case bftCurrency:
      return gCurrency;
    case bftClob:
    case bftWideClob:
      return gClob;
    default:
      return gNone;
  }
}

bool IsIntegerKind(TORBBaseFieldType t) { return t >= bftSignedInt8 && t <= bftUnsignedInt32; }
bool IsFloatKind(TORBBaseFieldType t) { return t == bftSingle || t == bftDouble || t == bftExtended; }

constexpr TORBBaseFieldType C = bftChar, WC = bftWideChar, V = bftVarchar, WV = bftWideVarchar;
constexpr TORBBaseFieldType I8 = bftSignedInt8, I16 = bftSignedInt16, I32 = bftSignedInt32,
                            I64 = bftSignedInt64, U8 = bftUnsignedInt8, U16 = bftUnsignedInt16,
                            U32 = bftUnsignedInt32, S = bftSingle, D = bftDouble, E = bftExtended;

// Between two numeric kinds, indexed by kind - bftSignedInt8.
constexpr TORBBaseFieldType kNumericCommon[10][10] = {
    /* I8  */ {I8, I16, I32, I64, I16, U16, U32, S, D, E},
    /* I16 */ {I16, I16, I32, I64, I16, U16, U32, S, D, E},
    /* I32 */ {I32, I32, I32, I64, I32, I32, I64, S, D, E},
    /* I64 */ {I64, I64, I64, I64, I64, I64, I64, S, D, E},
    /* U8  */ {I16, I16, I32, I64, U8, U16, U32, S, D, E},
    /* U16 */ {I32, I32, I32, I64, U16, U16, U32, S, D, E},
    /* U32 */ {I64, I64, I64, I64, U32, U32, U32, S, D, E},
    /* S   */ {S, S, S, S, S, S, S, S, D, E},
    /* D   */ {D, D, D, D, D, D, D, D, D, E},
    /* E   */ {E, E, E, E, E, E, E, E, E, E},
};

// String row against a string column: indexed by kind - bftChar (C WC V WV).
constexpr TORBBaseFieldType kStringCommon[4][4] = {
    /* C  */ {C, WC, V, WV},
    /* WC */ {WC, WC, WC, WV},
    /* V  */ {V, WC, V, WV},
    /* WV */ {WV, WV, WV, WV},
};

TORBBaseFieldType StringRow(TORBBaseFieldType left, TORBBaseFieldType right, bool prefer_date_time) {
  switch (GroupOf(right)) {
    case gString:
      return kStringCommon[left - bftChar][right - bftChar];
    case gDate:
      return prefer_date_time ? right : left;
    case gNumeric:
    case gLogical:
    case gCurrency:
      return left;
    case gClob:
      if (right == bftClob) return left;
      return (left == bftChar || left == bftWideChar) ? WC : WV;
    default:
      return bftUnknown;
  }
}

TORBBaseFieldType DateRow(TORBBaseFieldType left, TORBBaseFieldType right, bool prefer_date_time) {
  switch (GroupOf(right)) {
    case gString:
      return prefer_date_time ? left : right;
    case gNumeric:
      return left;
    case gDate:
      if (left == right) return left;
      return bftDateTime;
    default:
      return bftUnknown;
  }
}

}  // namespace

TORBBaseFieldType GetCommonDataType(TORBBaseFieldType left, TORBBaseFieldType right,
                                    bool prefer_date_time) {
  const Group rg = GroupOf(right);
  switch (GroupOf(left)) {
    case gString:
      return StringRow(left, right, prefer_date_time);
    case gDate:
      return DateRow(left, right, prefer_date_time);
    case gNumeric:
      switch (rg) {
        case gString:
        case gDate:
          return right;
        case gNumeric:
          return kNumericCommon[left - bftSignedInt8][right - bftSignedInt8];
        case gLogical:
          return left;
        case gCurrency:
          return bftCurrency;
        default:
          return bftUnknown;
      }
    case gLogical:
      if (rg == gString || rg == gNumeric || rg == gLogical) return right;
      return bftUnknown;
    case gCurrency:
      if (rg == gString || rg == gCurrency) return right;
      if (IsIntegerKind(right)) return bftCurrency;
      if (IsFloatKind(right)) return right;
      return bftUnknown;
    case gClob:
      if (rg == gString) {
        if (left == bftClob) return right;
        return (right == bftVarchar) ? WV : (right == bftChar ? WC : right);
      }
      if (rg == gClob) return (left == bftClob && right == bftClob) ? C : WC;
      return bftUnknown;
    default:
      return bftUnknown;
  }
}

TORBAdvancedFieldType GetCommonDataType(TORBAdvancedFieldType left, TORBAdvancedFieldType right,
                                        bool prefer_date_time) {
  const TORBBaseFieldType lb = AdvancedFieldTypeToBaseFieldType(left);
  const TORBBaseFieldType rb = AdvancedFieldTypeToBaseFieldType(right);
  const TORBBaseFieldType common = GetCommonDataType(lb, rb, prefer_date_time);
  if (common == lb) return left;
  if (common == rb) return right;
  return BaseFieldTypeToAdvancedFieldType(common);
}

// ---------------------------------------------------------------------------
// Conversion

namespace {

using Buffer = std::unique_ptr<uint8_t[]>;

[[noreturn]] void RaiseCast(int32_t code, TORBBaseFieldType from, TORBBaseFieldType to) {
  RaiseORB(code, "Cannot cast from '%s' to '%s'", {BftToStr(from), BftToStr(to)});
}

// Reads a fixed-size value; a buffer smaller than the kind is a failed cast.
template <class T>
T ReadFixed(const void* data, int32_t size, TORBBaseFieldType from, TORBBaseFieldType to) {
  if (data == nullptr || (size != -1 && size < static_cast<int32_t>(sizeof(T))))
    RaiseCast(kErrCastParse, from, to);
  T v;
  std::memcpy(&v, data, sizeof(T));
  return v;
}

template <class T>
Buffer MakeFixed(T v, int32_t& n) {
  Buffer b(new uint8_t[sizeof(T)]);
  std::memcpy(b.get(), &v, sizeof(T));
  n = static_cast<int32_t>(sizeof(T));
  return b;
}

Buffer MakeRaw(const void* data, size_t bytes, size_t terminator, int32_t& n) {
  const size_t total = bytes + terminator;
  if (total > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    RaiseORB(kErrCastNoConversion, "Value of %d bytes is too large", {static_cast<long long>(total)});
  Buffer b(new uint8_t[total == 0 ? 1 : total]);
  if (bytes) std::memcpy(b.get(), data, bytes);
  std::memset(b.get() + bytes, 0, terminator);
  n = static_cast<int32_t>(total);
  return b;
}

Buffer MakeAnsi(std::string_view s, int32_t& n) { return MakeRaw(s.data(), s.size(), 1, n); }
Buffer MakeWide(std::u16string_view s, int32_t& n) {
  return MakeRaw(s.data(), s.size() * 2, 2, n);
}

// Text of an ANSI source: up to the first zero byte, never past `size`.
std::string_view AnsiSource(const void* data, int32_t size) {
  if (data == nullptr || size == 0) return {};
  const char* p = static_cast<const char*>(data);
  const size_t len = size < 0 ? std::strlen(p) : strnlen(p, static_cast<size_t>(size));
  return {p, len};
}

// Text of a UTF-16 source: up to the first zero unit, never past `size`.
std::u16string WideSource(const void* data, int32_t size) {
  std::u16string out;
  if (data == nullptr || size == 0) return out;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const size_t max_units = size < 0 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(size) / 2;
  for (size_t i = 0; i < max_units; ++i) {
    char16_t c;
    std::memcpy(&c, p + 2 * i, 2);
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

bool IsAnsiTextKind(TORBBaseFieldType t) { return t == bftChar || t == bftVarchar || t == bftClob; }
bool IsWideTextKind(TORBBaseFieldType t) {
  return t == bftWideChar || t == bftWideVarchar || t == bftWideClob;
}
bool IsStringKind(TORBBaseFieldType t) { return GroupOf(t) == gString; }

// Stores text in a string kind (char, varchar, wide char, wide varchar).
Buffer StoreText(std::string_view ansi, TORBBaseFieldType to, int32_t& n) {
  if (to == bftWideChar || to == bftWideVarchar) return MakeWide(AnsiToWide(ansi), n);
  return MakeAnsi(ansi, n);
}

Buffer StoreInteger(int64_t v, TORBBaseFieldType to, int32_t& n) {
  // Narrowing to a smaller kind keeps the low-order bits.
  switch (to) {
    case bftSignedInt8: return MakeFixed(static_cast<int8_t>(v), n);
    case bftSignedInt16: return MakeFixed(static_cast<int16_t>(v), n);
    case bftSignedInt32: return MakeFixed(static_cast<int32_t>(v), n);
    case bftSignedInt64: return MakeFixed(v, n);
    case bftUnsignedInt8: return MakeFixed(static_cast<uint8_t>(v), n);
    case bftUnsignedInt16: return MakeFixed(static_cast<uint16_t>(v), n);
    case bftUnsignedInt32: return MakeFixed(static_cast<uint32_t>(v), n);
    case bftSingle: return MakeFixed(static_cast<float>(v), n);
    case bftDouble:
    case bftExtended:
    case bftCurrency: return MakeFixed(static_cast<double>(v), n);
    default: return nullptr;
  }
}

Buffer StoreFloat(double v, TORBBaseFieldType to, int32_t& n) {
  switch (to) {
    case bftSingle: return MakeFixed(static_cast<float>(v), n);
    case bftDouble:
    case bftExtended:
    case bftCurrency: return MakeFixed(v, n);
    default: return nullptr;
  }
}

Buffer StoreLogical(bool v, int32_t& n) { return MakeFixed(static_cast<int16_t>(v ? 1 : 0), n); }

int32_t FloorMod(int64_t v, int64_t m) {
  int64_t r = v % m;
  if (r < 0) r += m;
  return static_cast<int32_t>(r);
}

// Truncates toward zero; a value outside the 64-bit range has no integer.
int64_t TruncToInt64(double x, TORBBaseFieldType from, TORBBaseFieldType to) {
  if (std::isnan(x) || x >= 9223372036854775808.0 || x < -9223372036854775808.0)
    RaiseCast(kErrCastParse, from, to);
  return static_cast<int64_t>(x);
}

// ---- sources --------------------------------------------------------------

Buffer FromText(std::string_view ansi, const std::u16string* wide, TORBBaseFieldType from,
                TORBBaseFieldType to, int32_t& n) {
  const bool wide_source = wide != nullptr;
  std::string converted;
  if (wide_source) {
    converted = WideToAnsi(*wide);
    ansi = converted;
  }
  switch (to) {
    case bftChar:
    case bftVarchar:
      return MakeAnsi(ansi, n);
    case bftWideChar:
    case bftWideVarchar:
      return wide_source ? MakeWide(*wide, n) : MakeWide(AnsiToWide(ansi), n);
    case bftClob:
      return MakeRaw(ansi.data(), ansi.size(), 0, n);
    case bftWideClob: {
      const std::u16string w = wide_source ? *wide : AnsiToWide(ansi);
      return MakeRaw(w.data(), w.size() * 2, 0, n);
    }
    case bftBlob:
      return wide_source ? MakeWide(*wide, n) : MakeAnsi(ansi, n);
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32: {
      const std::optional<int64_t> v = ParseIntegerText(ansi, false);
      if (!v) RaiseCast(kErrCastParse, from, to);
      return StoreInteger(*v, to, n);
    }
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32: {
      // The unsigned kinds take the wide parser so that every CARDINAL
      // value can be read back from its text.
      const bool wide_parser = to != bftUnsignedInt8 && to != bftUnsignedInt16;
      const std::optional<int64_t> v = ParseIntegerText(ansi, wide_parser);
      if (!v) RaiseCast(kErrCastParse, from, to);
      return StoreInteger(*v, to, n);
    }
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency: {
      const std::optional<double> v = ParseFloatText(ansi);
      if (!v) RaiseCast(kErrCastParse, from, to);
      return StoreFloat(*v, to, n);
    }
    case bftDate: {
      std::optional<TORBDateTime> v;
      if (!wide_source) {
        v = ParseISOTimeStampText(ansi);
        if (!v) v = ParseISODateText(ansi);
      }
      if (!v) v = ParseLocaleDateText(ansi);
      if (!v) RaiseCast(kErrCastParse, from, to);
      return MakeFixed(v->Date, n);
    }
    case bftTime: {
      std::optional<int32_t> v;
      if (!wide_source) v = ParseISOTimeText(ansi);
      if (!v) v = ParseLocaleTimeText(ansi);
      if (!v) RaiseCast(kErrCastParse, from, to);
      return MakeFixed(*v, n);
    }
    case bftDateTime: {
      std::optional<TORBDateTime> v;
      if (!wide_source) {
        v = ParseISOTimeStampText(ansi);
        if (!v) v = ParseISODateText(ansi);
      }
      if (!v) v = ParseLocaleDateTimeText(ansi);
      if (!v) RaiseCast(kErrCastParse, from, to);
      return MakeFixed(*v, n);
    }
    case bftLogical: {
      const std::string upper = UpperCaseA(ansi);
      return StoreLogical(upper == "1" || upper == "TRUE", n);
    }
    default:
      RaiseCast(kErrCastNoConversion, from, to);
  }
}

int64_t ReadInteger(const void* data, int32_t size, TORBBaseFieldType from, TORBBaseFieldType to) {
  switch (from) {
    case bftSignedInt8: return ReadFixed<int8_t>(data, size, from, to);
    case bftSignedInt16: return ReadFixed<int16_t>(data, size, from, to);
    case bftSignedInt32: return ReadFixed<int32_t>(data, size, from, to);
    case bftSignedInt64: return ReadFixed<int64_t>(data, size, from, to);
    case bftUnsignedInt8: return ReadFixed<uint8_t>(data, size, from, to);
    case bftUnsignedInt16: return ReadFixed<uint16_t>(data, size, from, to);
    default: return ReadFixed<uint32_t>(data, size, from, to);
  }
}

// A day number that a date can hold; a wider one is a failed conversion,
// never cut to 32 bits.
int32_t DayNumber(int64_t day, TORBBaseFieldType from, TORBBaseFieldType to) {
  if (day < INT32_MIN || day > INT32_MAX) RaiseCast(kErrCastParse, from, to);
  return static_cast<int32_t>(day);
}

Buffer FromInteger(int64_t v, TORBBaseFieldType from, TORBBaseFieldType to, int32_t& n) {
  if (IsStringKind(to)) return StoreText(std::to_string(v), to, n);
  if (IsNumericFieldType(to)) return StoreInteger(v, to, n);
  switch (to) {
    case bftDate:
      return MakeFixed(DayNumber(v, from, to), n);
    case bftTime:
      // Milliseconds count around the clock.
      return MakeFixed(FloorMod(v, kMSecsPerDay), n);
    case bftDateTime:
      return MakeFixed(TORBDateTime{DayNumber(v, from, to), 0}, n);
    case bftLogical:
      return StoreLogical(v != 0, n);
    default:
      RaiseCast(kErrCastNoConversion, from, to);
  }
}

Buffer FromFloat(double x, TORBBaseFieldType from, TORBBaseFieldType to, int32_t& n) {
  if (IsStringKind(to)) {
    const std::string text = from == bftSingle ? FloatText(static_cast<float>(x))
                             : from == bftCurrency ? CurrencyText(x)
                                                   : FloatText(x);
    return StoreText(text, to, n);
  }
  if (IsIntegerKind(to)) return StoreInteger(TruncToInt64(x, from, to), to, n);
  if (IsFloatKind(to) || to == bftCurrency) return StoreFloat(x, to, n);
  if (from == bftCurrency && to != bftLogical) RaiseCast(kErrCastNoConversion, from, to);
  switch (to) {
    case bftDate:
    case bftDateTime: {
      // Days split with floor: -1.25 is day -2 at 18:00, which reads back
      // as -1.25.
      int64_t day = 0;
      int32_t ms = 0;
      if (!SplitDays(x, day, ms)) RaiseCast(kErrCastParse, from, to);
      if (to == bftDate) return MakeFixed(DayNumber(day, from, to), n);
      return MakeFixed(TORBDateTime{DayNumber(day, from, to), ms}, n);
    }
    case bftTime:
      return MakeFixed(FloorMod(TruncToInt64(x, from, to), kMSecsPerDay), n);
    case bftLogical:
      return StoreLogical(x != 0, n);
    default:
      RaiseCast(kErrCastNoConversion, from, to);
  }
}

double DateTimeToNumber(const TORBDateTime& dt) {
  const double day = dt.Date == kORBEmptyDate ? 0.0 : static_cast<double>(dt.Date);
  return day + static_cast<double>(dt.Time) / kMSecsPerDay;
}

Buffer FromDateTime(const TORBDateTime& dt, TORBBaseFieldType from, TORBBaseFieldType to,
                    int32_t& n) {
  if (IsStringKind(to)) {
    if (dt.Date == kORBEmptyDate && dt.Time == 0) return StoreText({}, to, n);
    const std::optional<std::string> text = DateTimeText(dt);
    if (!text) RaiseCast(kErrCastParse, from, to);
    return StoreText(*text, to, n);
  }
  if (IsIntegerKind(to)) return StoreInteger(dt.Date, to, n);
  if (IsFloatKind(to) || to == bftCurrency) return StoreFloat(DateTimeToNumber(dt), to, n);
  switch (to) {
    case bftDate: return MakeFixed(dt.Date, n);
    case bftTime: return MakeFixed(dt.Time, n);
    case bftLogical: return StoreLogical(!(dt.Date == kORBEmptyDate && dt.Time == 0), n);
    default: RaiseCast(kErrCastNoConversion, from, to);
  }
}

Buffer FromDate(int32_t day, TORBBaseFieldType from, TORBBaseFieldType to, int32_t& n) {
  if (IsStringKind(to)) {
    if (day == kORBEmptyDate) return StoreText({}, to, n);
    const std::optional<std::string> text = DateText(day);
    if (!text) RaiseCast(kErrCastParse, from, to);
    return StoreText(*text, to, n);
  }
  if (IsNumericFieldType(to)) return StoreInteger(day, to, n);
  switch (to) {
    case bftTime: return MakeFixed(FloorMod(day, kMSecsPerDay), n);
    case bftDateTime: return MakeFixed(TORBDateTime{day, 0}, n);
    case bftLogical: return StoreLogical(day != kORBEmptyDate, n);
    default: RaiseCast(kErrCastNoConversion, from, to);
  }
}

Buffer FromTime(int32_t ms, TORBBaseFieldType from, TORBBaseFieldType to, int32_t& n) {
  if (IsStringKind(to)) return StoreText(ms == 0 ? std::string() : TimeText(ms), to, n);
  if (IsNumericFieldType(to)) return StoreInteger(ms, to, n);
  switch (to) {
    case bftDateTime: return MakeFixed(TORBDateTime{kORBEmptyDate, ms}, n);
    case bftLogical: return StoreLogical(ms != 0, n);
    default: RaiseCast(kErrCastNoConversion, from, to);
  }
}

Buffer FromLogical(bool v, TORBBaseFieldType from, TORBBaseFieldType to, int32_t& n) {
  if (IsStringKind(to)) return StoreText(v ? "True" : "False", to, n);
  if (IsNumericFieldType(to)) return StoreInteger(v ? 1 : 0, to, n);
  RaiseCast(kErrCastNoConversion, from, to);
}

// Same kind: a plain copy of the value's bytes.
Buffer CopySameKind(const void* data, int32_t size, TORBBaseFieldType type, int32_t& n) {
  const int32_t fixed = FixedValueSize(type);
  if (fixed > 0) {
    if (data == nullptr || (size != -1 && size < fixed)) RaiseCast(kErrCastParse, type, type);
    return MakeRaw(data, static_cast<size_t>(fixed), 0, n);
  }
  if (IsAnsiTextKind(type) && type != bftClob) return MakeAnsi(AnsiSource(data, size), n);
  if (IsWideTextKind(type) && type != bftWideClob) return MakeWide(WideSource(data, size), n);
  if (size < 0) {
    // A byte value without a size ends at its first zero byte.
    return MakeRaw(data, AnsiSource(data, size).size(), type == bftBytes || type == bftVarBytes, n);
  }
  return MakeRaw(data, static_cast<size_t>(data ? size : 0), 0, n);
}

}  // namespace

std::unique_ptr<uint8_t[]> CastToNewBuffer(const void* data, int32_t size, TORBBaseFieldType from,
                                           TORBBaseFieldType to, int32_t& new_size) {
  new_size = 0;
  if (from == to) {
    if (from == bftUnknown || from == bftBFile) RaiseCast(kErrCastNoConversion, from, to);
    return CopySameKind(data, size, from, new_size);
  }
  if (IsAnsiTextKind(from)) return FromText(AnsiSource(data, size), nullptr, from, to, new_size);
  if (IsWideTextKind(from)) {
    const std::u16string wide = WideSource(data, size);
    return FromText({}, &wide, from, to, new_size);
  }
  if (IsIntegerKind(from)) return FromInteger(ReadInteger(data, size, from, to), from, to, new_size);
  switch (from) {
    case bftSingle:
      return FromFloat(ReadFixed<float>(data, size, from, to), from, to, new_size);
    case bftDouble:
    case bftExtended:
    case bftCurrency:
      return FromFloat(ReadFixed<double>(data, size, from, to), from, to, new_size);
    case bftDate:
      return FromDate(ReadFixed<int32_t>(data, size, from, to), from, to, new_size);
    case bftTime:
      return FromTime(ReadFixed<int32_t>(data, size, from, to), from, to, new_size);
    case bftDateTime:
      return FromDateTime(ReadFixed<TORBDateTime>(data, size, from, to), from, to, new_size);
    case bftLogical:
      return FromLogical(ReadFixed<int16_t>(data, size, from, to) != 0, from, to, new_size);
    default:
      RaiseCast(kErrCastNoConversion, from, to);
  }
}

}  // namespace orb
