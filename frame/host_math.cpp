// The host math library (see host_math.h for each routine's contract).
//
// Special functions come from Boost.Math with errors reported through return values, never
// through exceptions or errno: the models test errno after their own math, and a routine of this
// library must not leave an ERANGE behind that a model would read as its own overflow. Every
// routine saves and restores errno.
#include "frame/host_math.h"

#include <cerrno>
#include <cmath>

#include <boost/math/policies/policy.hpp>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <boost/math/special_functions/log1p.hpp>

#include "fitmodels.h"

namespace {

namespace bm = boost::math;
using Quiet = bm::policies::policy<
    bm::policies::domain_error<bm::policies::ignore_error>,
    bm::policies::pole_error<bm::policies::ignore_error>,
    bm::policies::overflow_error<bm::policies::ignore_error>,
    bm::policies::underflow_error<bm::policies::ignore_error>,
    bm::policies::evaluation_error<bm::policies::ignore_error>,
    bm::policies::promote_double<false>>;

// Restores errno on every exit of the routine that holds it.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }
  ErrnoKeeper(const ErrnoKeeper &) = delete;
  ErrnoKeeper &operator=(const ErrnoKeeper &) = delete;

 private:
  int saved_;
};

// ln |Gamma(m + i*y) / Gamma(m)| for m > 0, computed as one difference so that neither
// log-gamma is formed on its own: with large m the two would cancel, with large |y| Gamma(m + iy)
// underflows. The recurrence Gamma(z + 1) = z*Gamma(z) moves m up to m' >= 12, where the Stirling
// series of ln Gamma is used for the difference:
//   Re[(z - 1/2) ln z - z] - [(m' - 1/2) ln m' - m'] = (m' - 1/2)/2 * log1p((y/m')^2)
//                                                       - y * atan(y/m')
// plus the difference of the series' correction terms.
double log_abs_gamma_ratio(double m, double y) {
  double sum = 0.0;
  while (m < 12.0) {  // |Gamma(z)| = |Gamma(z + 1)| / |z|
    const double r = y / m;
    sum -= 0.5 * bm::log1p(r * r, Quiet());
    m += 1.0;
  }
  const double r = y / m;
  sum += 0.5 * (m - 0.5) * bm::log1p(r * r, Quiet()) - y * std::atan(r);
  // Stirling corrections B_2k / (2k (2k - 1) z^(2k-1)), k = 1..8, for z = m + iy and for m.
  static constexpr double kB[8] = {1.0 / 12.0,        -1.0 / 360.0,       1.0 / 1260.0,
                                   -1.0 / 1680.0,     1.0 / 1188.0,       -691.0 / 360360.0,
                                   1.0 / 156.0,       -3617.0 / 122400.0};
  // Powers of 1/z by complex multiplication: w = 1/z, w2 = w*w.
  const double d = m * m + y * y;
  const double wr = m / d, wi = -y / d;
  const double w2r = wr * wr - wi * wi, w2i = 2.0 * wr * wi;
  double pr = wr, pi = wi;  // w^(2k-1)
  const double v = 1.0 / m, v2 = v * v;
  double q = v;  // (1/m)^(2k-1)
  for (int k = 0; k < 8; ++k) {
    sum += kB[k] * (pr - q);
    const double nr = pr * w2r - pi * w2i;
    pi = pr * w2i + pi * w2r;
    pr = nr;
    q *= v2;
  }
  return sum;
}

}  // namespace

extern "C" double normcdf(double z, int32_t, int32_t) {
  ErrnoKeeper keep;
  if (std::isnan(z)) return MISSING_VALUE;
  // Phi(z) = erfc(-z / sqrt(2)) / 2 keeps full relative accuracy in the lower tail.
  return 0.5 * bm::erfc(-z * 0.70710678118654752440, Quiet());
}

extern "C" double gamcdf(double x, double a, double b, int32_t, intptr_t) {
  ErrnoKeeper keep;
  if (!(a > 0.0) || !(b > 0.0) || std::isnan(x)) return MISSING_VALUE;
  if (x <= 0.0) return 0.0;
  if (std::isinf(x)) return 1.0;
  return bm::gamma_p(a, x / b, Quiet());
}

extern "C" double wblcdf(double x, double a, double b, int32_t) {
  ErrnoKeeper keep;
  if (!(a > 0.0) || !(b > 0.0) || std::isnan(x)) return MISSING_VALUE;
  if (x <= 0.0) return 0.0;
  // 1 - exp(-t) as -expm1(-t) keeps small probabilities exact.
  return -std::expm1(-std::pow(x / a, b));
}

extern "C" double wblpdf(double x, double a, double b, int32_t) {
  ErrnoKeeper keep;
  if (!(a > 0.0) || !(b > 0.0) || std::isnan(x)) return MISSING_VALUE;
  if (x < 0.0) return 0.0;
  const double u = x / a;
  const double t = std::pow(u, b);
  if (x == 0.0) {  // the density's limit at the origin depends on the shape
    if (b < 1.0) return INFINITY;
    return b == 1.0 ? 1.0 / a : 0.0;
  }
  return (b / a) * (t / u) * std::exp(-t);
}

extern "C" double velmath_log_gamma(double t) {
  ErrnoKeeper keep;
  if (!(t > 0.0)) return MISSING_VALUE;
  return bm::lgamma(t, Quiet());
}

extern "C" double s15aec(double z) {
  ErrnoKeeper keep;
  if (std::isnan(z)) return MISSING_VALUE;
  return bm::erf(z, Quiet());
}

// The Pearson IV peak, p1 + p3 * k * (1 + u^2)^(-m) * exp(-nu * atan(u)), u = (x - p2)/p4,
// m = p5, nu = p6. k makes the area of the peak (over x) equal p3:
//   k = |Gamma(m + i nu/2) / Gamma(m)|^2 * Gamma(m) / (sqrt(pi) * Gamma(m - 1/2) * p4),
// formed in log space together with the shape, so that large m and |nu| neither overflow nor
// underflow on the way.
extern "C" double velmath_PearsonIV(double p1, double p2, double p3, double p4, double p5,
                                    double p6, double x) {
  ErrnoKeeper keep;
  if (!std::isfinite(p1) || !std::isfinite(p2) || !std::isfinite(p3) || !std::isfinite(p4) ||
      !std::isfinite(p5) || !std::isfinite(p6) || std::isnan(x))
    return MISSING_VALUE;
  if (!(p4 > 0.0) || !(p5 > 0.5)) return MISSING_VALUE;
  const double m = p5, nu = p6;
  constexpr double kLogSqrtPi = 0.57236494292470008707;  // ln sqrt(pi)
  // Gamma(m - 1/2) / Gamma(m), without forming either gamma.
  const double ratio = bm::tgamma_delta_ratio(m - 0.5, 0.5, Quiet());
  const double log_k = 2.0 * log_abs_gamma_ratio(m, 0.5 * nu) - std::log(ratio) - kLogSqrtPi -
                       std::log(p4);
  const double u = (x - p2) / p4;
  const double log_shape =
      std::isinf(u) ? -HUGE_VAL : -m * bm::log1p(u * u, Quiet()) - nu * std::atan(u);
  const double v = p1 + p3 * std::exp(log_k + log_shape);
  return std::isfinite(v) ? v : MISSING_VALUE;
}
