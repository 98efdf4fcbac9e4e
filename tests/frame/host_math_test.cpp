// The host math library against values derived independently: closed forms, symmetries,
// recurrences, numerical integration, and reference values computed to 40 digits.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>

#include "fitmodels.h"
#include "frame/host_math.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPreset = 5;  // an errno value no model tests

// Relative agreement to tol (absolute below 1).
void expect_close(double got, double want, double tol, const char *what) {
  EXPECT_LE(std::fabs(got - want), tol * std::max(1.0, std::fabs(want)))
      << what << ": got " << got << " want " << want;
}

TEST(HostMath, NormalDistributionFunction) {
  EXPECT_EQ(normcdf(0.0, 2, 0), 0.5);
  for (double z : {0.3, 1.0, 2.5, 6.0}) {
    expect_close(normcdf(z, 2, 0) + normcdf(-z, 2, 0), 1.0, 2e-16, "symmetry");
    // Phi(z) = (1 + erf(z/sqrt 2))/2 ties normcdf to s15aec.
    expect_close(normcdf(z, 2, 0), 0.5 * (1.0 + s15aec(z / std::sqrt(2.0))), 4e-16, "erf");
  }
  expect_close(normcdf(1.5, 2, 0), 0.933192798731141934, 1e-15, "Phi(1.5)");
  // Lower tail to full relative accuracy: Phi(-10) = 7.619853024160526e-24.
  EXPECT_NEAR(normcdf(-10.0, 2, 0) / 7.619853024160526066e-24, 1.0, 1e-14);
}

TEST(HostMath, ErrorFunction) {
  EXPECT_EQ(s15aec(0.0), 0.0);
  expect_close(s15aec(1.0), 0.84270079294971486934, 1e-16, "erf(1)");
  for (double z : {0.1, 0.7, 2.0, 4.0}) EXPECT_EQ(s15aec(-z), -s15aec(z)) << z;
  EXPECT_EQ(s15aec(30.0), 1.0);
}

TEST(HostMath, LogGamma) {
  EXPECT_EQ(velmath_log_gamma(1.0), 0.0);
  EXPECT_EQ(velmath_log_gamma(2.0), 0.0);
  expect_close(velmath_log_gamma(0.5), 0.5 * std::log(kPi), 1e-15, "ln Gamma(1/2)");
  expect_close(velmath_log_gamma(11.0), std::log(3628800.0), 1e-15, "ln 10!");
  expect_close(velmath_log_gamma(0.3), 1.0957979948180755217, 1e-15, "ln Gamma(0.3)");
  expect_close(velmath_log_gamma(1000.5), 5908.6741758486774887, 1e-15, "ln Gamma(1000.5)");
  for (double t : {0.25, 1.7, 33.3, 250.0})  // ln Gamma(t + 1) = ln Gamma(t) + ln t
    expect_close(velmath_log_gamma(t + 1.0), velmath_log_gamma(t) + std::log(t), 1e-14,
                 "recurrence");
  EXPECT_EQ(velmath_log_gamma(0.0), MISSING_VALUE);
  EXPECT_EQ(velmath_log_gamma(-1.5), MISSING_VALUE);
}

TEST(HostMath, GammaDistributionFunction) {
  for (double t : {0.01, 0.5, 1.0, 3.0, 20.0}) {
    // P(1, t) = 1 - e^-t; P(2, t) = 1 - (1 + t) e^-t; scale b divides x.
    expect_close(gamcdf(t, 1.0, 1.0, 2, 0), -std::expm1(-t), 1e-15, "P(1,t)");
    expect_close(gamcdf(2.0 * t, 1.0, 2.0, 2, 0), -std::expm1(-t), 1e-15, "scale");
    expect_close(gamcdf(t, 2.0, 1.0, 2, 0), 1.0 - (1.0 + t) * std::exp(-t), 1e-14, "P(2,t)");
  }
  expect_close(gamcdf(1.7, 2.5, 1.0, 2, 0), 0.36143007689620490988, 1e-15, "P(2.5,1.7)");
  EXPECT_EQ(gamcdf(0.0, 2.0, 1.0, 2, 0), 0.0);
  EXPECT_EQ(gamcdf(-1.0, 2.0, 1.0, 2, 0), 0.0);
  EXPECT_EQ(gamcdf(1.0, 0.0, 1.0, 2, 0), MISSING_VALUE);
  EXPECT_EQ(gamcdf(1.0, 2.0, -1.0, 2, 0), MISSING_VALUE);
}

TEST(HostMath, WeibullDistributionAndDensity) {
  const double a = 1.7, b = 2.3;
  for (double x : {0.2, 1.0, 1.7, 4.0}) {
    const double t = std::pow(x / a, b);
    expect_close(wblcdf(x, a, b, 0), 1.0 - std::exp(-t), 1e-15, "cdf");
    expect_close(wblpdf(x, a, b, 0), b / a * std::pow(x / a, b - 1.0) * std::exp(-t), 1e-15,
                 "pdf");
    // The density is the slope of the distribution function.
    const double h = 1e-5;
    expect_close((wblcdf(x + h, a, b, 0) - wblcdf(x - h, a, b, 0)) / (2.0 * h),
                 wblpdf(x, a, b, 0), 1e-8, "slope");
  }
  expect_close(wblcdf(a, a, b, 0), 1.0 - std::exp(-1.0), 1e-15, "cdf at the scale");
  expect_close(wblpdf(0.8, 2.0, 1.0, 0), 0.5 * std::exp(-0.4), 1e-15, "exponential");
  EXPECT_EQ(wblcdf(0.0, a, b, 0), 0.0);
  EXPECT_EQ(wblpdf(-1.0, a, b, 0), 0.0);
  EXPECT_EQ(wblcdf(1.0, 0.0, b, 0), MISSING_VALUE);
  EXPECT_EQ(wblpdf(1.0, a, -b, 0), MISSING_VALUE);
}

// Area of the Pearson IV peak over x, with x = p2 + p4*tan(theta) so the power-law tails become
// a finite interval: the integrand (y - p1)*p4/cos^2(theta) on (-pi/2, pi/2), by Simpson's rule.
double pearson_iv_area(double p2, double p3, double p4, double m, double nu, int n) {
  const double lo = -kPi / 2, hi = kPi / 2, h = (hi - lo) / n;
  double s = 0.0;
  for (int i = 1; i < n; ++i) {  // the end points contribute 0 for m > 1
    const double th = lo + i * h;
    const double c = std::cos(th);
    const double y = velmath_PearsonIV(0.25, p2, p3, p4, m, nu, p2 + p4 * std::tan(th));
    s += (i % 2 ? 4.0 : 2.0) * (y - 0.25) * p4 / (c * c);
  }
  return s * h / 3.0;
}

TEST(HostMath, PearsonIVAreaIsP3) {
  struct Shape {
    double m, nu;
  } shapes[] = {{1.5, 0.0}, {2.0, 3.0}, {3.5, -7.0}, {8.0, 12.0}, {500.0, 300.0}};
  for (const auto &s : shapes) {
    const double area = pearson_iv_area(0.4, 2.5, 1.3, s.m, s.nu, 200000);
    EXPECT_NEAR(area, 2.5, 2.5e-8) << "m " << s.m << " nu " << s.nu;
  }
}

TEST(HostMath, PearsonIVClosedForms) {
  const double a = 0.7, xc = 0.2, A = 1.6, base = 0.1;
  for (double x : {-3.0, -0.4, 0.2, 0.9, 5.0}) {
    const double u = (x - xc) / a;
    // nu = 0, m = 1: the Lorentzian A/(pi a (1 + u^2)).
    expect_close(velmath_PearsonIV(base, xc, A, a, 1.0, 0.0, x) - base,
                 A / (kPi * a * (1.0 + u * u)), 1e-15, "m = 1");
    // nu = 0, m = 2: Gamma(2)/(sqrt(pi) Gamma(3/2)) = 2/pi.
    expect_close(velmath_PearsonIV(base, xc, A, a, 2.0, 0.0, x) - base,
                 A * 2.0 / (kPi * a) / ((1.0 + u * u) * (1.0 + u * u)), 1e-15, "m = 2");
    // m = 1 and m = 2 with skewness: |Gamma(1 + iy)|^2 = pi y/sinh(pi y),
    // |Gamma(2 + iy)|^2 = (1 + y^2) pi y/sinh(pi y), y = nu/2; B(1/2,1/2) = pi, B(3/2,1/2) = pi/2.
    for (double nu : {-3.0, 0.8, 6.0}) {
      const double y = nu / 2, g = kPi * y / std::sinh(kPi * y);
      const double shape = std::exp(-nu * std::atan(u));
      expect_close(velmath_PearsonIV(base, xc, A, a, 1.0, nu, x) - base,
                   A * g / (kPi * a) / (1.0 + u * u) * shape, 1e-14, "m = 1 skewed");
      expect_close(velmath_PearsonIV(base, xc, A, a, 2.0, nu, x) - base,
                   A * (1.0 + y * y) * g / (kPi / 2 * a) / ((1.0 + u * u) * (1.0 + u * u)) * shape,
                   1e-14, "m = 2 skewed");
    }
  }
  // Mirror symmetry: nu -> -nu reflects the peak about its location.
  for (double d : {0.3, 1.1, 4.0})
    expect_close(velmath_PearsonIV(0.0, xc, A, a, 2.7, 1.9, xc + d),
                 velmath_PearsonIV(0.0, xc, A, a, 2.7, -1.9, xc - d), 1e-15, "mirror");
}

TEST(HostMath, PearsonIVLargeShapeAndSkewness) {
  // Reference values to 20 digits from the definition, evaluated in 40-digit arithmetic. The
  // exponent grows like pi*|nu|/2 and m*ln(1 + u^2), and its rounding with it.
  struct Ref {
    double p1, p2, p3, p4, m, nu, x, y, tol;
  } refs[] = {
      {0.5, 1.0, 2.0, 0.7, 500, 300, 0.79, 34.997758791878470904, 1e-12},
      {0.5, 1.0, 2.0, 0.7, 500, 300, 0.9, 0.50023888384198613931, 1e-12},
      {0, -2, 3, 1.5, 3, 2000, -502, 0.0048186749567771591861, 1e-11},
      {0, -2, 3, 1.5, 3, 2000, -400, 0.00407043216952975042, 1e-11},
      {0, 0, 1, 2, 1e6, -1e5, 0.1, 281.74272729874151206, 1e-9},
      {0, 0, 1, 2, 1e6, -1e5, 0.102, 103.91309581081439941, 1e-9},
      {0, 0, 1, 1, 40, 1e-3, 0.05, 3.1985441331576091048, 1e-13},
      {0.1, 0.2, 1.0, 0.8, 0.75, -2.5, 1.7, 0.20455238457999424254, 1e-14},
      {0, 0, 1, 1, 2.5, 1.5, 1.3, 0.012223706578262599088, 1e-14},
  };
  for (const auto &r : refs) {
    const double y = velmath_PearsonIV(r.p1, r.p2, r.p3, r.p4, r.m, r.nu, r.x);
    EXPECT_NEAR(y / r.y, 1.0, r.tol) << "m " << r.m << " nu " << r.nu << " x " << r.x;
  }
}

TEST(HostMath, PearsonIVRefusesInvalidParameters) {
  EXPECT_EQ(velmath_PearsonIV(0, 0, 1, 0.0, 2, 1, 0.5), MISSING_VALUE);   // scale 0
  EXPECT_EQ(velmath_PearsonIV(0, 0, 1, -1.0, 2, 1, 0.5), MISSING_VALUE);  // negative scale
  EXPECT_EQ(velmath_PearsonIV(0, 0, 1, 1.0, 0.5, 1, 0.5), MISSING_VALUE); // m = 1/2
  EXPECT_EQ(velmath_PearsonIV(0, 0, 1, 1.0, 2, NAN, 0.5), MISSING_VALUE);
  EXPECT_EQ(velmath_PearsonIV(0, 0, 1, 1.0, 2, 1, NAN), MISSING_VALUE);
  EXPECT_EQ(velmath_PearsonIV(0, INFINITY, 1, 1.0, 2, 1, 0.5), MISSING_VALUE);
  // Far out in a tail the peak is the baseline.
  EXPECT_EQ(velmath_PearsonIV(0.3, 0, 1, 1.0, 2, 1, 1e300), 0.3);
}

TEST(HostMath, EveryRoutineLeavesErrnoAlone) {
  errno = kPreset;
  normcdf(-40.0, 2, 0);
  gamcdf(1e-300, 1e-3, 1e300, 2, 0);
  wblcdf(1e300, 1e-300, 50.0, 0);
  wblpdf(1e-300, 1.0, 0.5, 0);
  velmath_log_gamma(1e-320);
  velmath_PearsonIV(0, 0, 1e300, 1e-300, 1.0, 1e5, 0.0);
  velmath_PearsonIV(0, 0, 1, 1.0, 2.0, 1.0, -1e200);
  s15aec(-1e300);
  EXPECT_EQ(errno, kPreset);
}

}  // namespace
