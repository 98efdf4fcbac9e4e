// Rheology and viscosity: flow curves (stress or viscosity y of shear rate x: Bingham,
// Carreau, Cross, Herschel-Bulkley) and viscosity-temperature laws (MYEGA, Vogel-Fulcher-
// Tammann; x the temperature).
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n]. None
// reads nParams or answers REQ_QUERY. Bit 0 returns 1; a request with neither bit 1 nor bit 2
// returns 0 (Cross first passes y[1] through finite_or_missing); y is computed under either
// bit. errno is never tested after the powers and exponentials: an overflow shows as a
// non-finite y, which Carreau, Cross and MYEGA turn into MISSING_VALUE (still returning 0) and
// Bingham, Herschel and VFT return as it is. Most failures leave errno as it was; the
// exceptions are stated per model.
#include "frame/contract.h"
#include "models/tail_math.h"

namespace {

constexpr double kLn10 = 2.302585092994046;

}  // namespace

// Bingham: y = p1 + p2*x (yield stress p1, plastic viscosity p2).
// x = 0 fails without clearing errno: y = MISSING_VALUE, and with bit 2 also d1 = 1.0,
// d2 = MISSING_VALUE; return 1. Else y as above, with bit 2 d1 = 1.0, d2 = x; return 0.
FM_MODEL(Bingham) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double t = x[1];
  if (t == 0.0) {
    y[1] = fm::kMissing;
    if (fm::wants_deriv(request)) {
      deriv[1] = 1.0;
      deriv[2] = fm::kMissing;
    }
    return 1;
  }
  y[1] = params[1] + params[2] * t;
  if (fm::wants_deriv(request)) {
    deriv[1] = 1.0;
    deriv[2] = t;
  }
  return 0;
}

// Carreau: y = p2 + (p1 - p2)*u^e with u = (x*p3)^p4 + 1, e = (p5 - 1)/p4 (zero-rate viscosity
// p1, infinite-rate viscosity p2, time constant p3, transition exponent p4, power-law index p5).
// u is computed before the request bits are looked at. p4 = 0 fails without clearing errno:
// y = MISSING_VALUE, with bit 2 also d1..d5 = MISSING_VALUE; return 1. y is passed through
// finite_or_missing. With bit 2 (powers by checked_pow, plain logarithms):
//   d1 = u^e, d2 = 1 - u^e, d3 = u^(e-1)*(p1 - p2)*(p5 - 1)*(x*p3)^(p4-1)*x,
//   d4 = u^e*(p1 - p2)*e*((x*p3)^p4*ln(x*p3)/u - ln(u)/p4), d5 = u^e*(p1 - p2)*ln(u)/p4.
// Return 0. Where (x*p3)^p4 is small, ln(u) is formed as log1p((x*p3)^p4) and, where u^e is
// near 1, 1 - u^e as -expm1(e*ln(u)): both keep the digits that rounding u loses.
FM_MODEL(Carreau) {
  const double *p = params;
  const double t = x[1];
  const double w = fm::checked_pow(t * p[3], p[4]);
  const double u = w + 1.0;
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  if (p[4] == 0.0) {
    y[1] = fm::kMissing;
    if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, 5);
    return 1;
  }
  const double e = (p[5] - 1.0) / p[4];
  y[1] = fm::checked_pow(u, e) * (p[1] - p[2]) + p[2];
  fm::finite_or_missing(&y[1]);
  if (fm::wants_deriv(request)) {
    const double ue = fm::checked_pow(u, e);
    const double span = p[1] - p[2];
    const double ln_u = fm::log1p(w);
    deriv[1] = ue;
    deriv[2] = u > 0.0 ? fm::one_minus_pow_ln(ln_u, e, ue) : 1.0 - ue;
    deriv[3] = fm::checked_pow(u, e - 1.0) * span * (p[5] - 1.0) *
               fm::checked_pow(t * p[3], p[4] - 1.0) * t;
    deriv[4] = ue * span * e *
               (fm::checked_pow(t * p[3], p[4]) * fm::log(t * p[3]) / u - ln_u / p[4]);
    deriv[5] = ue * span * ln_u / p[4];
  }
  return 0;
}

// Cross: y = p2 + (p1 - p2)/u with u = (x*p3)^p4 + 1, computed first (zero-rate viscosity p1,
// infinite-rate viscosity p2, time constant p3, rate exponent p4).
// With neither bit 1 nor bit 2: finite_or_missing(y[1]), return 0. u = 0 fails without
// clearing errno (y = MISSING_VALUE, return 1). With bit 2:
//   d1 = 1/u, d2 = 1 - 1/u (formed as (x*p3)^p4/u, which keeps its digits where u is near
//   1), d3 = -(x*p3)^(p4-1)*(p1 - p2)*p4*x/u^2,
//   d4 = -(x*p3)^p4*ln(x*p3)*(p1 - p2)/u^2.
// Finally y is passed through finite_or_missing; return 0.
FM_MODEL(Cross) {
  const double *p = params;
  const double t = x[1];
  const double w = fm::checked_pow(t * p[3], p[4]);
  const double u = w + 1.0;
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) {
    fm::finite_or_missing(&y[1]);
    return 0;
  }
  if (u == 0.0) return fm::guard_failure(y);
  const double span = p[1] - p[2];
  y[1] = span / u + p[2];
  if (fm::wants_deriv(request)) {
    const double u2 = u * u;
    deriv[1] = 1.0 / u;
    deriv[2] = std::isfinite(w) ? w / u : 1.0 - 1.0 / u;
    deriv[3] = -(fm::checked_pow(t * p[3], p[4] - 1.0) * span * p[4] * t / u2);
    deriv[4] = -(fm::checked_pow(t * p[3], p[4]) * fm::log(t * p[3]) * span / u2);
  }
  fm::finite_or_missing(&y[1]);
  return 0;
}

// Herschel: y = p1 + p2*x^p3 (yield stress p1, consistency p2, flow index p3).
// x < 0 fails without clearing errno (y = MISSING_VALUE, return 1). y = checked_pow(x, p3)*p2
// + p1 (x = 0 is accepted by the value, except as the pole of a negative index p3 with p2 != 0:
// a standard failure). With bit 2, x = 0 writes d1 = 1.0, d2 = d3 =
// MISSING_VALUE and takes the standard failure (ln x does not exist there); else d1 = 1.0,
// d2 = x^p3, d3 = x^p3*ln(x)*p2. Return 0.
FM_MODEL(Herschel) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (t < 0.0) return fm::guard_failure(y);
  // A negative index has a pole at zero shear rate: no value there.
  if (t == 0.0 && p[3] < 0.0 && p[2] != 0.0) return fm::standard_failure(y);
  y[1] = fm::checked_pow(t, p[3]) * p[2] + p[1];
  if (!fm::wants_deriv(request)) return 0;
  if (t <= 0.0) {
    deriv[1] = 1.0;
    deriv[2] = deriv[3] = fm::kMissing;
    return fm::standard_failure(y);
  }
  const double xp = fm::checked_pow(t, p[3]);
  deriv[2] = xp;
  deriv[1] = 1.0;
  deriv[3] = xp * fm::log(t) * p[2];
  return 0;
}

// MYEGA: y = p1*10^((p2/x)*exp(p3/x)).
// x = 0 fails without clearing errno: y = MISSING_VALUE, with bit 2 also d1..d3 =
// MISSING_VALUE; return 1. Else E = checked_exp(p3/x), P = checked_pow(10, (p2/x)*E),
// y = p1*P, passed through finite_or_missing. With bit 2, y being y[1] as stored:
//   d1 = P, d2 = E*y*ln10/x, d3 = E*y*ln10*p2/x^2   (ln10 = 2.302585092994046).
// Return 0.
FM_MODEL(MYEGA) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (t == 0.0) {
    y[1] = fm::kMissing;
    if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, 3);
    return 1;
  }
  const double E = fm::checked_exp(p[3] / t);
  const double P = fm::checked_pow(10.0, p[2] / t * E);
  y[1] = p[1] * P;
  fm::finite_or_missing(&y[1]);
  if (fm::wants_deriv(request)) {
    deriv[1] = P;
    deriv[2] = E * y[1] * kLn10 / t;
    deriv[3] = E * y[1] * kLn10 * p[2] / (t * t);
  }
  return 0;
}

// VFT: y = 10^(p1 + p2/(x - p3)).
// x = p3 fails without clearing errno: y = MISSING_VALUE, with bit 2 also d1..d3 =
// MISSING_VALUE; return 1. Else y = checked_pow(10, p1 + p2/(x - p3)), returned as it is (an
// overflow gives an infinite y and return 0). With bit 2 (ln10 = 2.302585092994046):
//   d1 = y*ln10, d2 = y*ln10/(x - p3), d3 = y*ln10*p2/(x - p3)^2.
// Return 0.
FM_MODEL(VFT) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (t == p[3]) {
    y[1] = fm::kMissing;
    if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, 3);
    return 1;
  }
  const double s = t - p[3];
  const double v = fm::checked_pow(10.0, p[1] + p[2] / s);
  y[1] = v;
  if (fm::wants_deriv(request)) {
    deriv[1] = v * kLn10;
    deriv[2] = v * kLn10 / s;
    deriv[3] = v * kLn10 * p[2] / (s * s);
  }
  return 0;
}
