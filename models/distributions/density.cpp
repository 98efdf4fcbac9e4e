// Densities and physical response curves of x = x[1], written like the multi-term models: y[1]
// is the total and y[2], y[3], ... hold the individual terms.
//
// Laplace, Poisson and Weibull are value-only densities added to a baseline p1, each with one
// term; Goldman is the membrane-potential equation (exclusive shape, total from 0.0); Langevin
// and LangevinMod sum Langevin functions over terms taken from nParams.
//
// Parameter counts: a model never reads a parameter beyond nParams. Below the count it reads
// (Laplace 3, Poisson 2, Weibull 4, Goldman 5, Langevin 1, LangevinMod 4) a value request, and
// a derivative request of the models with derivatives, fails with the standard failure and
// writes no deriv entry (the value-only models answer a derivative-only request with 1 and
// write nothing in any case). A multi-term model evaluates only the terms whose parameters all
// lie within nParams.
#include <cstddef>

#include "frame/contract.h"
#include "frame/host_math.h"

namespace {

// Below this |u| the closed forms of L(u) = coth u - 1/u and of csch^2 u - 1/u^2 cancel (their
// terms are of size 1/u and 1/u^2, their results near u/3 and -1/3: a relative rounding of
// about 3 eps/u^2), and the series take over; at |u| = 1 the closed forms are within a few
// ulps.
constexpr double kLangevinSeries = 1.0;

// The coefficients of L(u) = sum c_n u^(2n-1), c_n = 2^(2n) B_2n/(2n)! (B the Bernoulli
// numbers: 1/3, -1/45, 2/945, -1/4725, ...), and of L'(u) = sum (2n-1) c_n u^(2n-2), rounded
// from 40-digit values. The terms fall by about (u/pi)^2 each: twenty reach the rounding error
// for |u| < 1.
constexpr double kLangevinCoefficients[] = {
    0.3333333333333333,      -0.022222222222222223,   0.0021164021164021165,
    -0.00021164021164021165, 2.1377799155576935e-05,  -2.1644042808063972e-06,
    2.1925947851873778e-07,  -2.2214608789979678e-08, 2.2507846516808994e-09,
    -2.2805151204592183e-10, 2.3106432599002624e-11,  -2.3411706819824882e-12,
    2.3721017400233653e-13,  -2.4034415333307705e-14, 2.4351954029183367e-15,
    -2.4673688045172075e-16, 2.499967277122081e-17,   -2.532996435740635e-18,
    2.566461970282629e-19,   -2.6003696460137274e-20};
constexpr double kLangevinSlopeCoefficients[] = {
    0.3333333333333333,     -0.06666666666666667,   0.010582010582010581,
    -0.0014814814814814814, 0.0001924001924001924,  -2.380844708887037e-05,
    2.8503732207435913e-06, -3.332191318496952e-07, 3.8263339078575285e-08,
    -4.332978728872515e-09, 4.852350845790551e-10,  -5.3846925685597234e-11,
    5.930254350058414e-12,  -6.489292139993081e-13, 7.062066668463177e-14,
    -7.648843294003344e-15, 8.249892014502867e-16,  -8.865487525092221e-17,
    9.495909290045727e-18,  -1.0141441619453536e-18};

// sum c[n] v^n by Horner's rule.
template <std::size_t N>
double even_series(const double (&c)[N], double v) {
  double s = c[N - 1];
  for (std::size_t n = N - 1; n-- > 0;) s = s * v + c[n];
  return s;
}

// The Langevin function L(u) = coth u - 1/u: the closed form for |u| >= 1, its series below.
// Tests nothing: an overflow of exp(2u) (large positive u) leaves errno at 34.
double langevin_function(double u) {
  if (std::fabs(u) >= kLangevinSeries)
    return 2.0 / (fm::checked_exp(u * 2.0) - 1.0) + 1.0 - 1.0 / u;
  return u * even_series(kLangevinCoefficients, u * u);
}

// csch^2 u - 1/u^2 = -L'(u) for |u| < 1 from the series of L'(u).
double langevin_slope_series(double u) { return -even_series(kLangevinSlopeCoefficients, u * u); }

}  // namespace

// Laplace: y = p1 + exp(-|x - p2|/p3)*0.5/p3; p1 baseline, p2 centre, p3 scale; y[2] = the
// density term. Values only: bit 0 returns 0; bit 1 clear returns 1 and writes nothing.
//   nParams < 3 fails. p3 exactly 0 fails; errno 34 or 33 after the exponential fails.
FM_MODEL(Laplace) {
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value(request)) return 1;
  if (nParams < 3) return fm::standard_failure(y);
  const double *p = params;
  y[1] = p[1];
  if (p[3] == 0.0) return fm::standard_failure(y);
  const double t = fm::checked_exp(-(std::fabs(x[1] - p[2]) / p[3])) * 0.5 / p[3];
  if (fm::math_error()) return fm::standard_failure(y);
  y[2] = t;
  y[1] = p[1] + t;
  return 0;
}

// Poisson: y = p1 + p2^x*exp(-p2)/Gamma(x + 1), the Poisson probability of x events with mean
// p2 continued to real x; p1 baseline; y[2] = the term. Values only: bit 0 returns 0; bit 1
// clear returns 1 and writes nothing.
//   nParams < 2 fails. g = velmath_log_gamma(x + 1); MISSING_VALUE from it (x <= -1, where
//   ln Gamma(x + 1) is not defined) fails. t = exp(-p2)*(p2^x/exp(g)); errno 34 or 33 fails.
//   Where p2^x or Gamma(x + 1) alone overflows although the term is ordinary (p2 = x = 150:
//   0.0326), the term is taken in logarithms, exp(x*ln p2 - p2 - g), instead.
FM_MODEL(Poisson) {
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value(request)) return 1;
  if (nParams < 2) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  y[1] = p[1];
  const int errno_before = errno;
  const double g = velmath_log_gamma(t + 1.0);
  if (g == fm::kMissing) return fm::standard_failure(y);
  const double power = fm::checked_pow(p[2], t);
  const double factorial = fm::checked_exp(g);
  double term;
  if (std::isinf(power) || std::isinf(factorial)) {
    // One factor beyond the double range: the ratio in logarithms (0 when p2^x is 0).
    errno = errno_before;
    term = (power == 0.0) ? 0.0 : fm::checked_exp(t * fm::log(p[2]) - p[2] - g);
  } else {
    term = fm::checked_exp(-p[2]) * (power / factorial);
  }
  if (fm::math_error()) return fm::standard_failure(y);
  y[2] = term;
  y[1] = p[1] + term;
  return 0;
}

// Weibull: y = p1 + (p3/p2)*z^(p3 - 1)*exp(-z^p3), z = (x - p4)/p2, the three-parameter
// Weibull density; p1 baseline, p2 scale, p3 shape, p4 location; y[2] = the term.
// Values only: bit 0 returns 0; bit 1 clear returns 1, writing y[1] = p1 when bit 2 is set
// (MISSING_VALUE when nParams < 1: there is no p1 to read).
//   nParams < 4 fails. p2 <= 0, x - p4 = 0 or z <= 0: y[1] = p1, y[2] = MISSING_VALUE, return 1
//   with errno untouched. Left of the location (x < p4) the density is 0: y[2] = 0, y = p1,
//   return 0. L = ln z, w = (p3 - 1)*L, w -= exp(L*p3), each followed by an errno test
//   (34 or 33 fails); t = exp(w)*p3/p2.
FM_MODEL(Weibull) {
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value(request)) {
    if (fm::wants_deriv(request)) y[1] = nParams >= 1 ? params[1] : fm::kMissing;  // p1 held?
    return 1;
  }
  if (nParams < 4) return fm::standard_failure(y);
  const double *p = params;
  y[1] = p[1];
  if (p[2] <= 0.0) {
    y[2] = fm::kMissing;
    return 1;
  }
  const double d = x[1] - p[4];
  if (d < 0.0) {  // outside the support the density is 0, so the point is not lost to the fit
    y[2] = 0.0;
    return 0;
  }
  if (d == 0.0) {
    y[2] = fm::kMissing;
    return 1;
  }
  const double z = d / p[2];
  if (z <= 0.0) {
    y[2] = fm::kMissing;
    return 1;
  }
  const double L = fm::log(z);
  if (fm::math_error()) return fm::standard_failure(y);
  double w = (p[3] - 1.0) * L;
  if (fm::math_error()) return fm::standard_failure(y);
  w = w - fm::checked_exp(L * p[3]);
  if (fm::math_error()) return fm::standard_failure(y);
  const double t = fm::checked_exp(w) * p[3] / p[2];
  y[2] = t;
  y[1] = p[1] + t;
  return 0;
}

// Goldman: y = (8.314*p5/96485)*ln((p1*p2 + x)/(p1*p3 + p4)), a membrane potential in volts
// for the absolute temperature p5 (gas and Faraday constants); p1 relative permeability, p2
// and p3 the concentrations it weights, p4 the denominator's other concentration; y[2] = y[1].
// Exclusive shape: bit 0 returns 0; with bit 1 set only the value is computed; with bit 1
// clear and bit 2 set the derivatives (and the value); with neither, return 1.
//   nParams < 5 fails. y[1] = 0; A = p1*p3 + p4, B = p1*p2 + x; B <= 0 or A <= 0: y[2] =
//   MISSING_VALUE, return 1 (y[1] stays 0.0, errno untouched).
//   derivatives: d4 = -8.314*p5/(A*96485), d3 = d4*p1, d2 = 8.314*p5*p1/(B*96485),
//     d1 = d2*p2/p1 + d4*p3 (for p1 = 0, where that quotient is 0/0, the same derivative as
//     8.314*p5*p2/(B*96485) + d4*p3), d5 = ln(B/A)*8.314/96485; exact partial derivatives.
FM_MODEL(Goldman) {
  if (fm::wants_reserved(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 5) return fm::standard_failure(y);
    y[1] = 0.0;
    const double A = p[1] * p[3] + p[4];
    const double B = p[1] * p[2] + t;
    if (B <= 0.0 || A <= 0.0) {
      y[2] = fm::kMissing;
      return 1;
    }
    const double v = fm::log(B / A) * (p[5] * 8.314) / 96485.0;
    y[2] = v;
    y[1] = v;
    return 0;
  }
  if (!fm::wants_deriv(request)) return 1;

  if (nParams < 5) return fm::standard_failure(y);
  y[1] = 0.0;
  const double A = p[1] * p[3] + p[4];
  const double B = p[1] * p[2] + t;
  if (B <= 0.0 || A <= 0.0) {
    y[2] = fm::kMissing;
    return 1;
  }
  deriv[4] = p[5] * -8.314 / (A * 96485.0);
  deriv[3] = deriv[4] * p[1];
  deriv[2] = p[5] * 8.314 * p[1] / (B * 96485.0);
  if (p[1] != 0.0) {
    deriv[1] = deriv[2] * p[2] / p[1] + deriv[4] * p[3];
  } else {  // d2/p1 without the division by p1 = 0
    deriv[1] = p[5] * 8.314 * p[2] / (B * 96485.0) + deriv[4] * p[3];
  }
  deriv[5] = fm::log(B / A) * 8.314 / 96485.0;
  y[2] = deriv[5] * p[5];
  y[1] = y[2];
  return 0;
}

// Langevin: y = p1 + sum A*L(x - c), per term c (centre), A (amplitude); n = (nParams - 1)/2
// terms, term k at p(2k+2), p(2k+3), its value in y[k+2]. Value-then-derivatives shape: bit 0
// returns 1; both branches run when both bits are set.
//   nParams < 1 fails.
//   value: errno 34 or 33 after a term's L (exp(2u) overflows for u above about 354) fails;
//     terms written before stay in y.
//   derivatives: d1 = 1 and y = p1 (also with no term). Per term, with u = x - c: u exactly 0
//     fails; dA = L(u) (errno 34 or 33 after it fails); e = capped_exp(2u), 2u > 300 fails;
//     dc = (4e/(e - 1)^2 - 1/u^2)*A = (csch^2 u - 1/u^2)*A, the exact centre derivative, taken
//     from the series of L'(u) for |u| < 1, where the difference cancels.
FM_MODEL(Langevin) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  if (nParams < 1) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  const int n = (nParams - 1) / 2;
  if (fm::wants_value(request)) {
    y[1] = p[1];
    for (int k = 0; k < n; ++k) {
      const double u = t - p[2 * k + 2];
      const double v = langevin_function(u) * p[2 * k + 3];
      if (fm::math_error()) return fm::standard_failure(y);
      y[k + 2] = v;
      y[1] = y[1] + v;
    }
  }
  if (!fm::wants_deriv(request)) return 0;

  y[1] = p[1];
  deriv[1] = 1.0;
  for (int k = 0; k < n; ++k) {
    const double A = p[2 * k + 3];
    const double u = t - p[2 * k + 2];
    if (u == 0.0) return fm::standard_failure(y);
    deriv[2 * k + 3] = langevin_function(u);
    if (fm::math_error()) return fm::standard_failure(y);
    const double e = fm::capped_exp(2.0 * u);
    if (e == fm::kMissing) return fm::standard_failure(y);
    if (std::fabs(u) < kLangevinSeries) {  // the difference cancels near the centre
      deriv[2 * k + 2] = langevin_slope_series(u) * A;
    } else {
      deriv[2 * k + 2] = (e * 4.0 / (e - 1.0) / (e - 1.0) - 1.0 / u / u) * A;
    }
    y[k + 2] = A * deriv[2 * k + 3];
    y[1] = y[1] + y[k + 2];
  }
  return 0;
}

// LangevinMod: y = p1 + sum A*L((x - c)/s), per term c (centre), A (amplitude), s (scale),
// term k at p(2k+2), p(2k+3), p(2k+4): the stride is two, so for two or more terms the scale of
// term k is also the centre of term k + 1, and in the derivatives the later term's entry for
// that shared parameter stands. Terms: those whose three parameters lie within nParams,
// n = (nParams - 2)/2 (n = (nParams - 1)/2 for the even counts); term k's value in y[k+2].
// Value-then-derivatives shape: bit 0 returns 1; both branches run when both bits are set.
//   nParams < 4 fails. Any term's scale exactly 0 fails (the first term's before any term is
//   computed).
//   value: y = p1 + terms; no errno test (an overflow inside L leaves errno at 34 and the
//     total finite).
//   derivatives: d1 = 1 and y = p1; x = p2 fails, as does x at any later term's centre. Per
//     term, u = (x - c)/s: dA = L(u); e = capped_exp(u), errno 34 or 33 after it fails;
//     S = 4/(e - 1/e)^2 - 1/u^2 = csch^2 u - 1/u^2 (from the series of L'(u) for |u| < 1,
//     where the difference cancels); dc = S*(A/s), ds = dc*u; exact partial derivatives.
FM_MODEL(LangevinMod) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  if (nParams < 4) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  const int n = (nParams - 2) / 2;
  if (p[4] == 0.0) return fm::standard_failure(y);
  if (fm::wants_value(request)) {
    y[1] = p[1];
    for (int k = 0; k < n; ++k) {
      const double s = p[2 * k + 4];
      if (s == 0.0) return fm::standard_failure(y);  // no finite abscissa u
      const double v = langevin_function((t - p[2 * k + 2]) / s) * p[2 * k + 3];
      y[k + 2] = v;
      y[1] = y[1] + v;
    }
  }
  if (!fm::wants_deriv(request)) return 0;

  y[1] = p[1];
  if (t == p[2]) return fm::standard_failure(y);
  deriv[1] = 1.0;
  for (int k = 0; k < n; ++k) {
    const double A = p[2 * k + 3], s = p[2 * k + 4];
    const double u = (t - p[2 * k + 2]) / s;
    if (s == 0.0 || u == 0.0) return fm::standard_failure(y);  // slope needs finite u != 0
    deriv[2 * k + 3] = langevin_function(u);
    const double e = fm::capped_exp(u);
    if (fm::math_error()) return fm::standard_failure(y);
    double S;
    if (std::fabs(u) < kLangevinSeries) {  // the difference cancels near the centre
      S = langevin_slope_series(u);
    } else {
      S = 4.0 / (e - 1.0 / e) / (e - 1.0 / e) - 1.0 / u / u;
    }
    deriv[2 * k + 2] = S * (A / s);
    deriv[2 * k + 4] = deriv[2 * k + 2] * u;
    y[k + 2] = A * deriv[2 * k + 3];
    y[1] = y[1] + y[k + 2];
  }
  return 0;
}
