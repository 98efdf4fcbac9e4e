// Polynomials and piecewise lines through the public interface.
#include <gtest/gtest.h>

#include <cmath>

#include "support/model_call.h"

namespace {

const char *const kPlain[] = {"Constant", "Line", "Parabola", "Cubic", "Poly4", "Poly5"};
const std::vector<double> kCoeffs = {0.3, -1.1, 0.7, 2.5, -0.4, 0.09};

std::vector<double> coeffs(int n) { return {kCoeffs.begin(), kCoeffs.begin() + n}; }

TEST(PlainPolynomials, ValueIsHornerAndDerivativesArePowers) {
  const double x = 1.37;
  for (int k = 0; k < 6; ++k) {
    const auto p = coeffs(k + 1);
    Outcome v = Call(kPlain[k]).params(p).x(x).run(REQ_VALUE);
    double horner = p[k];
    for (int i = k - 1; i >= 0; --i) horner = horner * x + p[i];
    EXPECT_EQ(v.rc, 0);
    EXPECT_TRUE(same_bits(v.y[1], horner)) << kPlain[k];
    EXPECT_TRUE(v.no_deriv_written()) << kPlain[k];
    EXPECT_EQ(v.err, kNeutralErrno);

    Outcome d = Call(kPlain[k]).params(p).x(x).run(REQ_DERIV);
    EXPECT_EQ(d.rc, 0);
    double power = 1.0, ascending = p[0];
    for (int i = 0; i <= k; ++i) {
      EXPECT_TRUE(same_bits(d.d[i + 1], power)) << kPlain[k] << " d" << i + 1;
      if (i >= 1) ascending = (i == 1) ? p[1] * power + p[0] : ascending + p[i] * power;
      power = (i == 0) ? x : power * x;
    }
    EXPECT_FALSE(d.d_written(k + 2)) << kPlain[k];
    EXPECT_TRUE(same_bits(d.y[1], ascending)) << kPlain[k];  // written without bit 1
    EXPECT_FALSE(d.y_written(2));
  }
}

TEST(PlainPolynomials, BothBitsLeaveTheAscendingSum) {
  // Coefficients chosen so that Horner and the ascending sum round differently.
  const std::vector<double> p = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
  const double x = 0.7;
  Outcome both = Call("Poly5").params(p).x(x).run(REQ_VALUE | REQ_DERIV);
  Outcome deriv = Call("Poly5").params(p).x(x).run(REQ_DERIV);
  EXPECT_TRUE(same_bits(both.y[1], deriv.y[1]));
  EXPECT_NEAR(both.y[1], 0.1 + 0.2 * x + 0.3 * x * x + 0.4 * std::pow(x, 3) +
                             0.5 * std::pow(x, 4) + 0.6 * std::pow(x, 5), 1e-15);
}

TEST(PlainPolynomials, RequestWordCases) {
  for (const char *name : kPlain) {
    for (int32_t req : {1, 3, 5, 7, 9, 15}) {
      Outcome r = Call(name).params(kCoeffs).x(2.0).run(req);
      EXPECT_EQ(r.rc, 1) << name << " request " << req;
      EXPECT_TRUE(r.nothing_written()) << name << " request " << req;
    }
    for (int32_t req : {0, 8, 16, 0x100}) {
      Outcome r = Call(name).params(kCoeffs).x(2.0).run(req);
      EXPECT_EQ(r.rc, 0) << name << " request " << req;
      EXPECT_TRUE(r.nothing_written()) << name << " request " << req;
    }
    // Only the low bits are examined.
    Outcome hi = Call(name).params(kCoeffs).x(2.0).run(0x7FFF0002);
    EXPECT_EQ(hi.rc, 0);
    EXPECT_TRUE(hi.y_written(1));
  }
}

TEST(PlainPolynomials, LineAtZeroAndConstant) {
  Outcome line = Call("Line").params({3.5, -2.0}).x(0.0).run(REQ_DERIV);
  EXPECT_EQ(line.d[2], 0.0);
  EXPECT_EQ(line.y[1], 3.5);
  Outcome c = Call("Constant").params({4.25}).x(1e300).run(REQ_DERIV | REQ_VALUE);
  EXPECT_EQ(c.y[1], 4.25);
  EXPECT_EQ(c.d[1], 1.0);
  EXPECT_FALSE(c.d_written(2));
}

TEST(PlainPolynomials, NonFiniteResultsPassThrough) {
  Outcome r = Call("Cubic").params({0, 0, 0, 1}).x(1e200).run(REQ_VALUE);
  EXPECT_EQ(r.rc, 0);
  EXPECT_TRUE(std::isinf(r.y[1]));
  EXPECT_EQ(r.err, kNeutralErrno);
}

TEST(CentredQuintic, ValueOnly) {
  const std::vector<double> p = {1.0, 2.0, 0.5, -0.25, 0.125, 0.3, -0.05};
  const double x = 3.1, d = x - 2.0;
  Outcome v = Call("PolyCtr5").params(p).x(x).run(REQ_VALUE);
  EXPECT_EQ(v.rc, 0);
  EXPECT_TRUE(same_bits(v.y[1], ((((p[6] * d + p[5]) * d + p[4]) * d + p[3]) * d + p[2]) * d + p[0]));
  for (int32_t req : {1, 3, 4, 8, 0}) {
    Outcome r = Call("PolyCtr5").params(p).x(x).run(req);
    EXPECT_EQ(r.rc, 0) << req;
    EXPECT_TRUE(r.nothing_written()) << req;
  }
  Outcome flat = Call("PolyCtr5").params({7.5, 0, 0, 0, 0, 0, 0}).x(-41.0).run(REQ_VALUE);
  EXPECT_EQ(flat.y[1], 7.5);
}

TEST(PiecewiseLines, SegmentsAndContinuity) {
  const std::vector<double> p2 = {1.0, 2.0, 3.0, -1.0};
  Outcome at = Call("PWL2").params(p2).x(3.0).run(REQ_DERIV);  // breakpoint: second segment
  EXPECT_EQ(at.y[1], 1.0 + 2.0 * 3.0);
  EXPECT_EQ(at.d[2], 3.0);
  EXPECT_EQ(at.d[3], 3.0);
  EXPECT_EQ(at.d[4], 0.0);
  Outcome before = Call("PWL2").params(p2).x(2.0).run(REQ_DERIV);
  EXPECT_EQ(before.y[1], 5.0);
  EXPECT_EQ(before.d[3], 0.0);
  EXPECT_EQ(before.d[4], 0.0);
  EXPECT_FALSE(before.d_written(5));

  // Unordered breakpoints: with p5 < p3 every x >= p3 is in the third segment.
  const std::vector<double> p3 = {0.0, 1.0, 2.0, 5.0, 1.0, -1.0};
  Outcome third = Call("PWL3").params(p3).x(2.5).run(REQ_VALUE | REQ_DERIV);
  EXPECT_EQ(third.y[1], (2.5 - 1.0) * -1.0 + ((1.0 - 2.0) * 5.0 + 1.0 * 2.0 + 0.0));
  EXPECT_EQ(third.d[6], 1.5);
  Outcome first = Call("PWL3").params(p3).x(1.5).run(REQ_DERIV);
  EXPECT_EQ(first.y[1], 1.5);
  EXPECT_EQ(first.d[5], 0.0);
  EXPECT_EQ(first.d[6], 0.0);

  for (const char *name : {"PWL2", "PWL3"}) {
    EXPECT_EQ(Call(name).params(p3).x(1.0).run(1).rc, 1);
    Outcome none = Call(name).params(p3).x(1.0).run(8);
    EXPECT_EQ(none.rc, 0);
    EXPECT_TRUE(none.nothing_written());
    Outcome value = Call(name).params(p3).x(1.0).run(REQ_VALUE);
    EXPECT_TRUE(value.no_deriv_written());
  }
}

}  // namespace
