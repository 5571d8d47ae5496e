#include <cmath>
#include <limits>

#include "engine/base/orb_exception.h"
#include "engine/platform/random.h"
#include "engine/expr/expression_nodes.h"
#include "engine/base/decimal_round.h"

namespace orb {

namespace {

// Integer arithmetic is done and typed in 64 bits. Every integer operand
// of + - * / and unary minus, and the argument of ABS and SQR, is read as a
// LARGEINT whatever its width or sign, and every whole-number result of
// the numeric functions (CEIL, FLOOR, ROUND without digits, SIGN, RAND) is
// a LARGEINT. The result type thus follows from the operand types alone,
// the reported type is the kind of the value, and only a result beyond 64
// bits raises 30122. A narrower column takes such a result through the
// ordinary conversion of values.

bool IsIntegerKind(TORBBaseFieldType t) { return t >= bftSignedInt8 && t <= bftUnsignedInt32; }

bool IsIntegerType(TORBAdvancedFieldType t) { return IsIntegerKind(AdvancedFieldTypeToBaseFieldType(t)); }

// An integer value of any width becomes a LARGEINT in place.
void Widen(TORBVariant& value) {
  if (IsIntegerKind(value.DataType())) value.Cast(bftSignedInt64);
}

// `value` as an operand: an integer of any width read as a LARGEINT (in
// `scratch`, which borrows the data); anything else as it is.
const TORBVariant& Operand(const TORBVariant& value, TORBVariant& scratch) {
  if (!IsIntegerKind(value.DataType()) || value.DataType() == bftSignedInt64) return value;
  scratch.Assign(value, false);
  scratch.Cast(bftSignedInt64);
  return scratch;
}

void SetDouble(TORBVariant& value, double d, TORBDataOperator op) {
  if (std::isnan(d)) throw Exception("Invalid floating point operation");
  if (!std::isfinite(d)) {
    RaiseORB(kErrNumericOverflow, "Numeric overflow in operator '%s'", FormatArgs{GetOperatorName(op)});
  }
  value.Clear(bftDouble);
  value.SetAsDouble(d);
}

void SetLargeint(TORBVariant& value, int64_t v) {
  value.Clear(bftSignedInt64);
  value.SetAsInt64(v);
}

// A whole number from a floating computation; beyond 64 bits an overflow
// error.
void SetWholeNumber(TORBVariant& value, double d, TORBDataOperator op) {
  if (std::isnan(d)) throw Exception("Invalid floating point operation");
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) {
    RaiseORB(kErrNumericOverflow, "Numeric overflow in operator '%s'", FormatArgs{GetOperatorName(op)});
  }
  SetLargeint(value, static_cast<int64_t>(d));
}

}  // namespace

TORBVariant& TORBExprNodeArithmetic::GetDataValue() {
  TORBVariant scratch;
  switch (Operator) {
    case doADD:
      Value.Assign(Child(0)->GetDataValue(), true);
      Widen(Value);
      for (size_t i = 1; i < Children.size(); ++i) {
        auto* term = dynamic_cast<TORBExprNodeArithmetic*>(Child(i));
        // a - b subtracts b rather than adding its negation, so that a
        // date minus a date stays a difference of dates.
        if (term != nullptr && term->IsUnaryMinus()) {
          Value.Sub(Operand(term->Child(0)->GetDataValue(), scratch));
        } else {
          Value.Add(Operand(Child(i)->GetDataValue(), scratch));
        }
      }
      break;
    case doSUB:
      Value.Assign(Child(0)->GetDataValue(), true);
      Widen(Value);
      for (size_t i = 1; i < Children.size(); ++i) Value.Sub(Operand(Child(i)->GetDataValue(), scratch));
      if (Children.size() == 1) Value.InvertValue();
      break;
    case doMUL:
      Value.Assign(Child(0)->GetDataValue(), true);
      Widen(Value);
      for (size_t i = 1; i < Children.size(); ++i) Value.Mul(Operand(Child(i)->GetDataValue(), scratch));
      break;
    case doDIV:
      Value.Assign(Child(0)->GetDataValue(), true);
      Widen(Value);
      for (size_t i = 1; i < Children.size(); ++i) Value.Division(Operand(Child(i)->GetDataValue(), scratch));
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
        Widen(Value);
        if (Value.AsInt64() < 0) Value.InvertValue();
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
      Value.Assign(x, true);
      Widen(Value);
      const TORBVariant factor(Value);
      Value.Mul(factor);
      return;
    }
    case doCEIL: SetWholeNumber(Value, std::ceil(x.AsDouble()), Operator); return;
    case doFLOOR: SetWholeNumber(Value, std::floor(x.AsDouble()), Operator); return;
    case doSIGN: {
      const double d = x.AsDouble();
      SetLargeint(Value, d > 0 ? 1 : (d < 0 ? -1 : 0));
      return;
    }
    case doRAND:
      // RandomInt gives 0 for a range that is not positive.
      SetLargeint(Value, RandomInt(x.AsInteger()));
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
    case doADD: case doSUB: case doMUL: case doDIV: {
      const TORBAdvancedFieldType t = TORBExprNode::GetDataType();
      return IsIntegerType(t) ? aftLargeint : t;
    }
    case doABS: {
      const TORBAdvancedFieldType t = Child(0)->GetDataType();
      return IsIntegerType(t) ? aftLargeint : aftDouble;
    }
    case doSQR: {
      const TORBAdvancedFieldType t = Child(0)->GetDataType();
      return IsIntegerType(t) ? aftLargeint : t;
    }
    case doCEIL: case doFLOOR: case doSIGN: case doRAND:
      return aftLargeint;
    case doROUND:
      return Children.size() > 1 ? aftDouble : aftLargeint;
    default:
      return aftDouble;
  }
}

}  // namespace orb
