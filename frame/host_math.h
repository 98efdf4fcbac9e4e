/*
 * The host math library: statistical and special functions that a few models delegate to.
 *
 * These routines live in their own library (fitmodels_hostmath). The model library links to them
 * by name, so a host with a statistics library of its own can supply these symbols instead.
 * Every routine is reentrant and keeps no state; each returns one double by value. The models
 * call them without checking a status and without testing errno afterwards.
 *
 *   normcdf(z, 2, 0)            Phi(z), the standard normal distribution function (lower tail)
 *   gamcdf(x, a, b, 2, 0)       gamma distribution function, shape a, scale b: P(a, x/b)
 *   wblcdf(x, a, b, 0)          Weibull distribution function, scale a, shape b:
 *                               1 - exp(-(x/a)^b)
 *   wblpdf(x, a, b, 0)          the matching density (b/a)(x/a)^(b-1) exp(-(x/a)^b)
 *   velmath_log_gamma(t)        ln Gamma(t) for t > 0
 *   velmath_PearsonIV(p1..p6, x) the Pearson IV peak of area p3 (below)
 *   s15aec(z)                   erf(z)
 *
 * The integer (and pointer-wide) arguments are flags that the callers always pass as shown;
 * they select the lower tail and no error reporting and are otherwise ignored. Outside a
 * routine's domain (a non-positive scale or shape, a NaN) the result is MISSING_VALUE.
 *
 * The Pearson IV peak, an asymmetric peak with power-law tails:
 *   velmath_PearsonIV(p1, p2, p3, p4, p5, p6, x)
 *     = p1 + p3 * k * (1 + u^2)^(-m) * exp(-nu * atan(u)),   u = (x - p2) / p4,
 *   p1 baseline, p2 location, p3 area, p4 scale (> 0), p5 shape m (> 1/2, the tails fall as
 *   |x|^(-2m)), p6 skewness nu (any sign; nu > 0 leans the peak to the left and moves its
 *   mode to p2 - p4*nu/(2m)). k = |Gamma(m + i nu/2) / Gamma(m)|^2 / (p4 * B(m - 1/2, 1/2))
 *   makes the area over x equal p3; it is computed in log space, so large m and |nu| stay
 *   accurate. nu = 0 is the symmetric Pearson VII peak. A non-positive scale, m <= 1/2, a
 *   non-finite parameter, a NaN x or a non-finite result give MISSING_VALUE.
 */
#ifndef FITMODELS_FRAME_HOST_MATH_H
#define FITMODELS_FRAME_HOST_MATH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

double normcdf(double z, int32_t tail, int32_t flags);
double gamcdf(double x, double a, double b, int32_t tail, intptr_t flags);
double wblcdf(double x, double a, double b, int32_t flags);
double wblpdf(double x, double a, double b, int32_t flags);
double velmath_log_gamma(double t);
double velmath_PearsonIV(double p1, double p2, double p3, double p4, double p5, double p6,
                         double x);
double s15aec(double z);

#ifdef __cplusplus
}
#endif

#endif
