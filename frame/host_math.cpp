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
