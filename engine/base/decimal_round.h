#pragma once

namespace orb {

// How DecimalRound treats the discarded digits: round half to even, half
// toward +inf, half toward -inf, half toward zero, half away from zero;
// then always toward -inf, +inf, zero, away from zero.
enum tDecimalRoundingCtrl : unsigned char {
  drNone = 0,
  drHalfEven = 1,
  drHalfPos = 2,
  drHalfNeg = 3,
  drHalfDown = 4,
  drHalfUp = 5,
  drRndNeg = 6,
  drRndPos = 7,
  drRndDown = 8,
  drRndUp = 9,
};

// Rounds `value` to `ndfd` decimal fraction digits (negative: to tens,
// hundreds, ...). `max_rel_err` is the relative representation error that
// is treated as exact, so 2.675 counts as a tie. NaN, and any value with
// drNone, is returned unchanged.
double DecimalRound(double value, int ndfd, double max_rel_err, tDecimalRoundingCtrl ctrl = drHalfEven);

// DecimalRound with the error allowance of a double (2 * 1.234375 * eps).
double DecimalRoundDbl(double value, int ndfd, tDecimalRoundingCtrl ctrl = drHalfEven);

}  // namespace orb
