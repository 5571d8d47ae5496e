#include <cmath>
#include <limits>

#include "engine/base/orb_exception.h"
#include "engine/platform/random.h"
#include "engine/expr/expression_nodes.h"
#include "engine/base/decimal_round.h"

namespace orb {

namespace {

bool IsIntegerKind(TORBBaseFieldType t) { return t >= bftSignedInt8 && t <= bftUnsignedInt32; }

// The signed kind that holds every value of an unsigned kind and its
// negation.
TORBBaseFieldType WidenedSigned(TORBBaseFieldType t) {
  switch (t) {
    case bftUnsignedInt8: return bftSignedInt16;
    case bftUnsignedInt16: return bftSignedInt32;
    case bftUnsignedInt32: return bftSignedInt64;
    default: return t;
  }
}

void SetDouble(TORBVariant& value, double d, TORBDataOperator op) {
  if (std::isnan(d)) throw Exception("Invalid floating point operation");
  if (!std::isfinite(d)) {
    RaiseORB(kErrNumericOverflow, "Numeric overflow in operator '%s'", FormatArgs{GetOperatorName(op)});
  }
  value.Clear(bftDouble);
  value.SetAsDouble(d);
}

// A whole number from a floating computation: 32-bit when it fits, else
// 64-bit; beyond that an overflow error.
void SetWholeNumber(TORBVariant& value, double d, TORBDataOperator op) {
  if (std::isnan(d)) throw Exception("Invalid floating point operation");
  if (d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max()) {
    value.Clear(bftSignedInt32);
    value.SetAsInteger(static_cast<int32_t>(d));
  } else if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
    value.Clear(bftSignedInt64);
    value.SetAsInt64(static_cast<int64_t>(d));
  } else {
    RaiseORB(kErrNumericOverflow, "Numeric overflow in operator '%s'", FormatArgs{GetOperatorName(op)});
  }
}

bool NarrowIntegerType(TORBAdvancedFieldType t) {
  const TORBBaseFieldType b = AdvancedFieldTypeToBaseFieldType(t);
  return IsIntegerKind(b) && b != bftSignedInt64 && b != bftUnsignedInt32;
}

}  // namespace

TORBVariant& TORBExprNodeArithmetic::GetDataValue() {
  switch (Operator) {
    case doADD:
      Value.Assign(Child(0)->GetDataValue(), true);
      for (size_t i = 1; i < Children.size(); ++i) {
        auto* term = dynamic_cast<TORBExprNodeArithmetic*>(Child(i));
        // a - b subtracts b rather than adding its negation, so that an
        // unsigned b never wraps on the way.
        if (term != nullptr && term->IsUnaryMinus()) {
          Value.Sub(term->Child(0)->GetDataValue());
        } else {
          Value.Add(Child(i)->GetDataValue());
        }
      }
      break;
    case doSUB:
      Value.Assign(Child(0)->GetDataValue(), true);
      for (size_t i = 1; i < Children.size(); ++i) Value.Sub(Child(i)->GetDataValue());
      if (Children.size() == 1 && !Value.IsNull()) {
        Value.Cast(WidenedSigned(Value.DataType()));
        Value.InvertValue();
      }
      break;
    case doMUL:
      Value.Assign(Child(0)->GetDataValue(), true);
      for (size_t i = 1; i < Children.size(); ++i) Value.Mul(Child(i)->GetDataValue());
      break;
    case doDIV:
      Value.Assign(Child(0)->GetDataValue(), true);
      for (size_t i = 1; i < Children.size(); ++i) Value.Division(Child(i)->GetDataValue());
      break;
    default:
      EvaluateFunction();
      break;
  }
  return Value;
}

void TORBExprNodeArithmetic::EvaluateFunction() {
  const TORBVariant& x = Child(0)->GetDataValue();
  if (x.IsNull()) {
    Value.Clear(AdvancedFieldTypeToBaseFieldType(GetDataType()));
    return;
  }
  switch (Operator) {
    case doABS:
      if (IsIntegerKind(x.DataType())) {
        Value.Assign(x, true);
        if (x.AsInt64() < 0) Value.InvertValue();
      } else {
        SetDouble(Value, std::fabs(x.AsDouble()), Operator);
      }
      return;
    case doACOS: SetDouble(Value, std::acos(x.AsDouble()), Operator); return;
    case doASIN: SetDouble(Value, std::asin(x.AsDouble()), Operator); return;
    case doATAN: SetDouble(Value, std::atan(x.AsDouble()), Operator); return;
    case doCOS: SetDouble(Value, std::cos(x.AsDouble()), Operator); return;
    case doSIN: SetDouble(Value, std::sin(x.AsDouble()), Operator); return;
    case doEXP: SetDouble(Value, std::exp(x.AsDouble()), Operator); return;
    case doSQRT: SetDouble(Value, std::sqrt(x.AsDouble()), Operator); return;
    case doLOG: SetDouble(Value, std::log(x.AsDouble()), Operator); return;
    case doPOWER: {
      const double base = x.AsDouble();
      const TORBVariant& y = Child(1)->GetDataValue();
      if (y.IsNull()) {
        Value.Clear(bftDouble);
        return;
      }
      SetDouble(Value, std::pow(base, y.AsDouble()), Operator);
      return;
    }
    case doSQR: {
      TORBVariant factor;
      factor.Assign(x, true);
      Value.Assign(x, true);
      Value.Mul(factor);
      return;
    }
    case doCEIL: SetWholeNumber(Value, std::ceil(x.AsDouble()), Operator); return;
    case doFLOOR: SetWholeNumber(Value, std::floor(x.AsDouble()), Operator); return;
    case doSIGN: {
      const double d = x.AsDouble();
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(d > 0 ? 1 : (d < 0 ? -1 : 0));
      return;
    }
    case doRAND:
      // RandomInt gives 0 for a range that is not positive.
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(RandomInt(x.AsInteger()));
      return;
    case doROUND: {
      const double d = x.AsDouble();
      if (Children.size() == 1) {
        SetWholeNumber(Value, DecimalRoundDbl(d, 0, drHalfEven), Operator);
        return;
      }
      const TORBVariant& digits = Child(1)->GetDataValue();
      if (digits.IsNull()) {
        Value.Clear(bftDouble);
        return;
      }
      SetDouble(Value, DecimalRoundDbl(d, digits.AsInteger(), RoundingMode), Operator);
      return;
    }
    default:
      RaiseORB(30121, "Unknown operator: '%s'", FormatArgs{GetOperatorName(Operator)});
  }
}

TORBAdvancedFieldType TORBExprNodeArithmetic::GetDataType() {
  switch (Operator) {
    case doADD: case doSUB: case doMUL: case doDIV:
      return TORBExprNode::GetDataType();
    case doABS: {
      const TORBAdvancedFieldType t = Child(0)->GetDataType();
      return IsIntegerKind(AdvancedFieldTypeToBaseFieldType(t)) ? t : aftDouble;
    }
    case doSQR:
      return Child(0)->GetDataType();
    case doCEIL: case doFLOOR:
      return NarrowIntegerType(Child(0)->GetDataType()) ? aftInteger : aftLargeint;
    case doROUND:
      if (Children.size() > 1) return aftDouble;
      return NarrowIntegerType(Child(0)->GetDataType()) ? aftInteger : aftLargeint;
    case doSIGN: case doRAND:
      return aftInteger;
    default:
      return aftDouble;
  }
}

}  // namespace orb
