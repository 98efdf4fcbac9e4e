// The math layer's errno semantics: overflow and poles 34, domain errors 33, underflow never.
#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <cmath>

#include "frame/platform_math.h"

namespace {

constexpr int kPreset = 5;  // an errno value no model tests

struct Case {
  const char *what;
  double (*f)(double, double);
  double a, b;
  int errno_after;  // kPreset: untouched
};

double exp1(double a, double) { return fm::exp(a); }
double pow2(double a, double b) { return fm::pow(a, b); }
double log1(double a, double) { return fm::log(a); }
double sqrt1(double a, double) { return fm::sqrt(a); }
double acos1(double a, double) { return fm::acos(a); }
double tanh1(double a, double) { return fm::tanh(a); }
double sin1(double a, double) { return fm::sin(a); }
double cos1(double a, double) { return fm::cos(a); }
double floor1(double a, double) { return fm::floor(a); }

TEST(PlatformMath, ErrnoPerOperation) {
  const double inf = HUGE_VAL;
  const Case cases[] = {
      {"exp overflow", exp1, 710.0, 0, ERANGE},
      {"exp finite", exp1, 1.0, 0, kPreset},
      {"exp underflow to subnormal", exp1, -740.0, 0, kPreset},
      {"exp underflow to zero", exp1, -800.0, 0, kPreset},
      {"pow overflow", pow2, 10.0, 400.0, ERANGE},
      {"pow pole", pow2, 0.0, -1.0, ERANGE},
      {"pow pole -0", pow2, -0.0, -3.0, ERANGE},
      {"pow domain", pow2, -2.0, 0.5, EDOM},
      {"pow underflow to zero", pow2, 10.0, -400.0, kPreset},
      {"pow underflow to subnormal", pow2, 10.0, -310.0, kPreset},
      {"pow NaN base", pow2, NAN, 2.0, kPreset},
      {"log pole", log1, 0.0, 0, ERANGE},
      {"log domain", log1, -1.0, 0, EDOM},
      {"log subnormal", log1, 4.9e-324, 0, kPreset},
      {"sqrt domain", sqrt1, -1.0, 0, EDOM},
      {"sqrt fine", sqrt1, 2.0, 0, kPreset},
      {"acos domain", acos1, 1.5, 0, EDOM},
      {"tanh tiny", tanh1, 1e-310, 0, kPreset},
      {"sin of +inf", sin1, inf, 0, EDOM},
      {"cos of -inf", cos1, -inf, 0, EDOM},
      {"sin of NaN", sin1, NAN, 0, kPreset},
      {"floor", floor1, -2.5, 0, kPreset},
  };
  for (const Case &c : cases) {
    errno = kPreset;
    c.f(c.a, c.b);
    EXPECT_EQ(errno, c.errno_after) << c.what;
  }
}

TEST(PlatformMath, UnderflowGivesTheTinyResult) {
  errno = kPreset;
  EXPECT_EQ(fm::pow(10.0, -400.0), 0.0);
  const double sub = fm::pow(10.0, -310.0);
  EXPECT_GT(sub, 0.0);
  EXPECT_LT(sub, DBL_MIN);
  EXPECT_EQ(errno, kPreset);
}

TEST(PlatformMath, UnderflowKeepsAStaleErrno) {
  // A stale ERANGE left by the caller stays: only the call's own underflow report is dropped.
  errno = ERANGE;
  fm::pow(10.0, -400.0);
  EXPECT_EQ(errno, ERANGE);
  errno = EDOM;
  fm::exp(-800.0);
  EXPECT_EQ(errno, EDOM);
}

// sin and cos of one infinite argument in one expression: a compiler may fuse such a pair into
// a single sincos call, which reports nothing for an infinity; the layer must still say EDOM.
double sin_cos_sum(double t) { return fm::sin(t) + fm::cos(t); }

TEST(PlatformMath, SinCosPairOfInfinityIsADomainError) {
  volatile double inf = HUGE_VAL;
  errno = kPreset;
  const double s = sin_cos_sum(inf);
  EXPECT_TRUE(std::isnan(s));
  EXPECT_EQ(errno, EDOM);
  errno = kPreset;
  const double c = fm::cos(-inf) * fm::sin(-inf);
  EXPECT_TRUE(std::isnan(c));
  EXPECT_EQ(errno, EDOM);
  errno = kPreset;
  EXPECT_NEAR(sin_cos_sum(0.5), std::sin(0.5) + std::cos(0.5), 1e-15);
  EXPECT_EQ(errno, kPreset);
}

}  // namespace

namespace {

// Constant exponents must not be rewritten into divisions or products that report nothing.
TEST(PlatformMath, ConstantExponentsKeepTheirReports) {
  volatile double zero = 0.0, big = 1e200;
  errno = kPreset;
  EXPECT_TRUE(std::isinf(fm::pow(zero, -1.0)));
  EXPECT_EQ(errno, ERANGE);
  errno = kPreset;
  EXPECT_TRUE(std::isinf(fm::pow(big, 2.0)));
  EXPECT_EQ(errno, ERANGE);
}

}  // namespace
