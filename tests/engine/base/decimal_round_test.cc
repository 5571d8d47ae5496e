#include "engine/base/decimal_round.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(DecimalRoundTest, Table) {
  struct Row {
    double value;
    int ndfd;
    tDecimalRoundingCtrl ctrl;
    double expected;
  };
  const Row rows[] = {
      {2.5, 0, drHalfEven, 2},       {3.5, 0, drHalfEven, 4},       {-2.5, 0, drHalfEven, -2},
      {2.675, 2, drHalfUp, 2.68},    {2.675, 2, drHalfEven, 2.68},  {2.665, 2, drHalfEven, 2.66},
      {-2.5, 0, drHalfUp, -3},       {-2.5, 0, drHalfDown, -2},     {2.5, 0, drHalfDown, 2},
      {2.5, 0, drHalfPos, 3},        {-2.5, 0, drHalfPos, -2},      {2.5, 0, drHalfNeg, 2},
      {-2.5, 0, drHalfNeg, -3},      {1234, -2, drHalfEven, 1200},  {1250, -2, drHalfEven, 1200},
      {1350, -2, drHalfEven, 1400},  {2.71, 1, drRndNeg, 2.7},      {-2.71, 1, drRndNeg, -2.8},
      {2.71, 1, drRndPos, 2.8},      {-2.71, 1, drRndPos, -2.7},    {-2.71, 1, drRndDown, -2.7},
      {2.79, 1, drRndDown, 2.7},     {2.71, 1, drRndUp, 2.8},       {-2.71, 1, drRndUp, -2.8},
      {2.7, 1, drRndUp, 2.7},        {2.7, 1, drRndDown, 2.7},      {1.005, 2, drHalfUp, 1.01},
      {2.675, 2, drNone, 2.675},     {0, 3, drHalfUp, 0},
  };
  for (const Row& r : rows)
    EXPECT_DOUBLE_EQ(r.expected, DecimalRoundDbl(r.value, r.ndfd, r.ctrl)) << r.value << " " << r.ndfd << " "
                                                                            << int(r.ctrl);
}

TEST(DecimalRoundTest, WithoutErrorAllowanceBinaryValueDecides) {
  // 1.005 is stored slightly below the tie.
  EXPECT_DOUBLE_EQ(1.0, DecimalRound(1.005, 2, 0, drHalfUp));
}

TEST(DecimalRoundTest, NonFiniteAndExtremeDigits) {
  EXPECT_TRUE(std::isnan(DecimalRoundDbl(std::numeric_limits<double>::quiet_NaN(), 2, drHalfEven)));
  EXPECT_EQ(std::numeric_limits<double>::infinity(),
            DecimalRoundDbl(std::numeric_limits<double>::infinity(), 2, drHalfEven));
  EXPECT_DOUBLE_EQ(1.5, DecimalRoundDbl(1.5, 400, drHalfEven));
  EXPECT_EQ(0.0, DecimalRoundDbl(1.5e300, -400, drHalfEven));
  EXPECT_DOUBLE_EQ(1e300, DecimalRoundDbl(1e300, 100, drHalfEven));
  // The extreme digit counts of a 32-bit argument.
  constexpr int kMin = std::numeric_limits<int>::min();
  constexpr int kMax = std::numeric_limits<int>::max();
  for (tDecimalRoundingCtrl ctrl : {drHalfEven, drHalfUp, drRndDown, drRndUp}) {
    EXPECT_EQ(0.0, DecimalRoundDbl(1.5, kMin, ctrl)) << int(ctrl);
    EXPECT_EQ(0.0, DecimalRoundDbl(-1.5e300, kMin, ctrl)) << int(ctrl);
    EXPECT_DOUBLE_EQ(1.5, DecimalRoundDbl(1.5, kMax, ctrl)) << int(ctrl);
  }
}

}  // namespace
}  // namespace orb
