// Well-conditioned forms of the expressions that lose digits in the tails of the models:
// 1 - e^t near t = 0, ln(1 + s) near s = 0, 1 - b^x near b^x = 1, 1 + erf(t) for t well
// below 0. They follow the errno
// protocol of the platform math layer: an overflow (e^t for t above about 709.78) or a pole
// (ln 0) sets ERANGE, a domain error (ln of a negative number) EDOM, an underflowing result
// leaves errno as it was, and nothing here clears it.
#ifndef FITMODELS_MODELS_TAIL_MATH_H
#define FITMODELS_MODELS_TAIL_MATH_H

#include <cerrno>
#include <cmath>

#include "frame/platform_math.h"

namespace fm {

// e^t - 1 without the cancellation of exp(t) - 1 for small |t|; -1 exactly for t below
// about -37, where exp(t) - 1 also rounds to -1. A zero comes out as +0, as exp(t) - 1 gives.
inline double expm1(double t) {
  const int saved = errno;
  return drop_underflow(std::expm1(t), saved) + 0.0;
}

// 1 - e^t likewise; a zero comes out as +0, as 1 - exp(t) gives.
inline double one_minus_exp(double t) {
  const int saved = errno;
  return 0.0 - drop_underflow(std::expm1(t), saved);
}

// ln(1 + s) without rounding 1 + s first; s = -1 is the pole (ERANGE), s < -1 a domain error.
// A zero comes out as +0, as log(1 + s) gives.
inline double log1p(double s) {
  const int saved = errno;
  return drop_underflow(std::log1p(s), saved) + 0.0;
}

// erfc(t) = 1 - erf(t) from the C library, accurate in relative terms for any t; its underflow
// (t above about 26.5) leaves errno as it was.
inline double erfc(double t) {
  const int saved = errno;
  return drop_underflow(std::erfc(t), saved);
}

// Where b^x is near 1 (within 1/8) a power's 1 - b^x loses up to all of its digits to the
// rounding of b^x; outside, 1 - r loses at most three bits and is kept as it is.
inline bool near_one(double r) { return r > 0.875 && r < 1.125; }

// 1 - b^x for b > 0 from ln b (supplied by the caller, as log1p(-s) for a base b = 1 - s,
// say), given r = b^x as computed by the caller: -expm1(x ln b) where r is near 1, else
// 1 - r. Where x ln b is a NaN though r is not (pow gives 1 for a zero exponent with an
// infinite or NaN base, and for a base of 1 with a NaN exponent), 1 - r is kept.
inline double one_minus_pow_ln(double ln_b, double x, double r) {
  if (near_one(r)) {
    const double z = x * ln_b;
    if (!std::isnan(z)) return fm::one_minus_exp(z);
  }
  return 1.0 - r;
}

// 1 - b^x for b > 0, given r = b^x as computed by the caller (whose errno tests stay on it),
// likewise. ln b is taken only where r is near 1.
inline double one_minus_pow(double b, double x, double r) {
  if (!near_one(r)) return 1.0 - r;
  return one_minus_pow_ln(std::log(b), x, r);
}

}  // namespace fm

#endif
