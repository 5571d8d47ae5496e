#include <algorithm>

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"
#include "engine/expr/expression_nodes.h"

namespace orb {

namespace {

// The string form of a function argument: string kinds as they are, any
// other kind as a varchar.
TORBVariant StringArgument(const TORBVariant& v) {
  TORBVariant s;
  s.Assign(v, true);
  if (!s.IsNull() && !s.IsStringDataType()) s.Cast(bftVarchar);
  return s;
}

template <class Str>
Str TrimControl(const Str& s, bool left, bool right) {
  using Unit = std::make_unsigned_t<typename Str::value_type>;
  size_t begin = 0;
  size_t end = s.size();
  if (left) {
    while (begin < end && static_cast<Unit>(s[begin]) <= 32) ++begin;
  }
  if (right) {
    while (end > begin && static_cast<Unit>(s[end - 1]) <= 32) --end;
  }
  return s.substr(begin, end - begin);
}

// Characters from 1-based `start`, `count` of them (-1: all the rest);
// positions outside the string contribute nothing.
template <class Str>
Str SubstringInside(const Str& s, int64_t start, int64_t count) {
  const int64_t n = static_cast<int64_t>(s.size());
  if (count == 0) return Str();
  int64_t first = start;
  int64_t last = n;  // inclusive
  int64_t end = 0;
  // A count reaching past the largest position takes all the rest.
  if (count > 0 && !__builtin_add_overflow(start, count - 1, &end)) last = std::min(end, n);
  first = std::max<int64_t>(first, 1);
  last = std::min<int64_t>(last, n);
  if (first > last) return Str();
  return s.substr(static_cast<size_t>(first - 1), static_cast<size_t>(last - first + 1));
}

// Writes text of the same width as `kind` into `value`.
void SetText(TORBVariant& value, TORBBaseFieldType kind, const std::u16string* wide,
             const std::string* ansi) {
  value.Clear(kind);
  if (wide != nullptr) {
    value.SetAsWideString(*wide);
  } else {
    value.SetAsAnsiString(*ansi);
  }
}

// Width of the text form of a value of a non-string type.
int32_t TextWidth(TORBAdvancedFieldType t) {
  switch (AdvancedFieldTypeToBaseFieldType(t)) {
    case bftSignedInt8: case bftSignedInt16: case bftSignedInt32: case bftSignedInt64:
    case bftUnsignedInt8: case bftUnsignedInt16: case bftUnsignedInt32:
      return 20;
    case bftSingle: case bftDouble: case bftExtended: case bftCurrency:
      return 24;
    case bftDate: return 10;
    case bftTime: return 12;
    case bftDateTime: return 23;
    case bftLogical: return 5;
    default: return 4096;
  }
}

}  // namespace

TORBVariant& TORBExprNodeStringFunction::GetDataValue() {
  if (Operator == doCONCAT) {
    bool have = false;
    Value.Clear(bftVarchar);
    for (auto& c : Children) {
      const TORBVariant& v = c->GetDataValue();
      if (v.IsNull()) continue;
      if (!have) {
        Value = StringArgument(v);
        have = true;
      } else {
        Value.Add(v);
      }
    }
    return Value;
  }

  const TORBVariant arg = StringArgument(Child(0)->GetDataValue());
  const bool wide = arg.IsWideStringDataType();
  const TORBBaseFieldType kind = arg.IsNull() ? (arg.IsStringDataType() ? arg.DataType() : bftVarchar)
                                              : arg.DataType();
  switch (Operator) {
    case doLENGTH:
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(arg.IsNull() ? 0 : arg.StrLen());
      return Value;
    case doPOS: {
      const TORBVariant text = StringArgument(Child(1)->GetDataValue());
      Value.Clear(bftSignedInt32);
      if (arg.IsNull() || text.IsNull()) return Value;
      const std::u16string sub = arg.AsWideString();
      const size_t at = sub.empty() ? std::u16string::npos : text.AsWideString().find(sub);
      Value.SetAsInteger(at == std::u16string::npos ? 0 : static_cast<int32_t>(at) + 1);
      return Value;
    }
    default:
      break;
  }
  if (arg.IsNull()) {
    Value.Clear(kind);
    return Value;
  }
  switch (Operator) {
    case doUPPER:
    case doLOWER: {
      const bool upper = Operator == doUPPER;
      if (wide) {
        const std::u16string s = upper ? UpperCaseW(arg.AsWideString()) : LowerCaseW(arg.AsWideString());
        SetText(Value, kind, &s, nullptr);
      } else {
        const std::string s = upper ? UpperCaseA(arg.AsAnsiString()) : LowerCaseA(arg.AsAnsiString());
        SetText(Value, kind, nullptr, &s);
      }
      return Value;
    }
    case doTRIM:
    case doLTRIM:
    case doRTRIM: {
      const bool left = Operator != doRTRIM;
      const bool right = Operator != doLTRIM;
      if (wide) {
        const std::u16string s = TrimControl(arg.AsWideString(), left, right);
        SetText(Value, kind, &s, nullptr);
      } else {
        const std::string s = TrimControl(arg.AsAnsiString(), left, right);
        SetText(Value, kind, nullptr, &s);
      }
      return Value;
    }
    case doSUBSTRING: {
      const TORBVariant& start_value = Child(1)->GetDataValue();
      if (start_value.IsNull()) {
        Value.Clear(kind);
        return Value;
      }
      const int64_t start = start_value.AsInt64();
      int64_t count = -1;
      if (Children.size() > 2) {
        const TORBVariant& count_value = Child(2)->GetDataValue();
        if (count_value.IsNull()) {
          Value.Clear(kind);
          return Value;
        }
        count = std::max<int64_t>(count_value.AsInt64(), 0);
      }
      if (wide) {
        const std::u16string s = SubstringInside(arg.AsWideString(), start, count);
        SetText(Value, kind, &s, nullptr);
      } else {
        const std::string s = SubstringInside(arg.AsAnsiString(), start, count);
        SetText(Value, kind, nullptr, &s);
      }
      return Value;
    }
    default:
      RaiseORB(30130, "Unknown operator: '%s'", FormatArgs{GetOperatorName(Operator)});
  }
}

TORBAdvancedFieldType TORBExprNodeStringFunction::GetDataType() {
  switch (Operator) {
    case doLENGTH:
    case doPOS:
      return aftInteger;
    case doCONCAT: {
      const TORBAdvancedFieldType t = TORBExprNode::GetDataType();
      return IsStringFieldType(t) ? t : aftString;
    }
    default: {
      const TORBAdvancedFieldType t = Child(0)->GetDataType();
      if (t == aftWideMemo || IsWideStringFieldType(t)) return t == aftWideMemo ? aftWideString : t;
      return IsStringFieldType(t) ? t : aftString;
    }
  }
}

int32_t TORBExprNodeStringFunction::GetDataSize() {
  switch (Operator) {
    case doLENGTH:
    case doPOS:
      return 0;
    case doCONCAT: {
      int32_t size = 0;
      for (auto& c : Children) {
        const TORBAdvancedFieldType t = c->GetDataType();
        size += IsStringFieldType(t) ? c->GetDataSize() : TextWidth(t);
      }
      return size;
    }
    default: {
      const TORBAdvancedFieldType t = Child(0)->GetDataType();
      return IsStringFieldType(t) ? Child(0)->GetDataSize() : TextWidth(t);
    }
  }
}

}  // namespace orb
