#include "engine/base/decimal_round.h"

#include <algorithm>
#include <cmath>

namespace orb {

namespace {

// Round to nearest, ties to even (the default floating-point mode).
double RoundEven(double x) { return std::nearbyint(x); }

bool IsOdd(double x) { return std::fmod(x, 2.0) != 0; }

}  // namespace

double DecimalRound(double value, int ndfd, double max_rel_err, tDecimalRoundingCtrl ctrl) {
  if (std::isnan(value) || ctrl == drNone || ctrl > drRndUp) return value;
  // Past 400 digits either way the scale is no longer finite, so clamping
  // changes no result and keeps the negation below from overflowing.
  constexpr int kDigitsLimit = 400;
  ndfd = std::clamp(ndfd, -kDigitsLimit, kDigitsLimit);
  const int digits = ndfd < 0 ? -ndfd : ndfd;
  const double scale = std::pow(10.0, digits);
  if (!std::isfinite(scale)) {
    // More fraction digits than a double holds: nothing to round. Rounding
    // to a power of ten beyond the double range leaves nothing but zero.
    return ndfd > 0 ? value : std::copysign(0.0, value);
  }
  const double x = ndfd >= 0 ? value * scale : value / scale;
  const double err = ndfd >= 0 ? std::fabs(max_rel_err * value) * scale : std::fabs(max_rel_err * value) / scale;
  if (!std::isfinite(x)) return value;
  const double ax = std::fabs(x);
  double i = 0;
  switch (ctrl) {
    case drHalfEven:
      i = RoundEven(x - err);
      if (IsOdd(i)) i = RoundEven(x + err);
      break;
    case drHalfPos: i = RoundEven(x + err); break;
    case drHalfNeg: i = RoundEven(x - err); break;
    case drHalfDown: i = RoundEven(ax - err); break;
    case drHalfUp: i = RoundEven(ax + err); break;
    case drRndNeg: i = RoundEven(x + err - 0.5); break;
    case drRndPos: i = RoundEven(x - err + 0.5); break;
    case drRndDown: i = RoundEven(ax + err - 0.5); break;
    case drRndUp: i = RoundEven(ax - err + 0.5); break;
    default: return value;
  }
  double result = ndfd >= 0 ? i / scale : i * scale;
  if ((ctrl == drHalfDown || ctrl == drHalfUp || ctrl == drRndDown || ctrl == drRndUp) && value < 0) result = -result;
  return result;
}

double DecimalRoundDbl(double value, int ndfd, tDecimalRoundingCtrl ctrl) {
  return DecimalRound(value, ndfd, 5.481726184209375e-16, ctrl);
}

}  // namespace orb

