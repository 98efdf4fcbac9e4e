// Cumulative distribution functions of x = x[1].
//
// Scaled members, y = p1 + p2*F(x) (p1 baseline, p2 amplitude): NormalCDF, LognormalCDF,
// GammaCDF and WeibullCDF take F from the host math library, ExponentialCDF computes it. They
// share one frame (value-then-derivatives shape, the value computed whenever either bit is set):
// bit 0 returns 1; neither bit 1 nor bit 2 returns 0 and writes nothing; the member's parameter
// tests fail with the standard failure; y[1] is written; a derivative request then writes
// deriv[1] = 1 and the member's further derivatives. They never test errno: an overflow inside
// their own arithmetic reaches y and deriv as it comes. A host routine that answers
// MISSING_VALUE has no value at that point (outside its domain, or a NaN argument); the model
// then fails with the standard failure instead of using the sentinel as a number.
//
// Bare distribution functions, y = F(x): Gumbel (values only), Pareto2 and Rayleigh (exclusive
// shape). None of the members reads nParams or answers REQ_QUERY.
#include "frame/contract.h"
#include "frame/host_math.h"
#include "models/tail_math.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;

// The standard normal distribution function from the host library.
inline double Phi(double z) { return normcdf(z, 2, 0); }

// The gamma distribution function with shape a and scale b at t.
inline double gamma_cdf(double t, double a, double b) { return gamcdf(t, a, b, 2, 0); }

// True when a host routine answered that it has no value.
inline bool host_missing(double v) { return v == fm::kMissing; }

// dP(a, t/b)/da by Richardson's extrapolation of two central differences of the host's
// distribution function, steps h = a/512 and h/2 (a > 0): truncation error of order h^4 and
// rounding error of order 3*eps*P/h, together about 1e-12 relative where P is not near 1 (in
// the upper tail the error is that absolute amount, as only P itself is available). The steps
// are taken as the differences of the rounded abscissas, so the rounding of a + h does not
// enter as an error of the step. False when a call answers MISSING_VALUE.
bool gamma_cdf_shape_derivative(double t, double a, double b, double &d) {
  const double h = a * 0.001953125;
  const double ap = a + h, am = a - h, aq = a + 0.5 * h, ar = a - 0.5 * h;
  const double Gp = gamma_cdf(t, ap, b), Gm = gamma_cdf(t, am, b);
  const double Gq = gamma_cdf(t, aq, b), Gr = gamma_cdf(t, ar, b);
  if (host_missing(Gp) || host_missing(Gm) || host_missing(Gq) || host_missing(Gr)) return false;
  const double wide = (Gp - Gm) / (ap - am);
  const double narrow = (Gq - Gr) / (aq - ar);
  d = narrow + (narrow - wide) / 3.0;
  return true;
}

// Writes the normal-density derivatives of p2*Phi((u - p3)/p4) with respect to the mean p3
// and the standard deviation p4, where u is x (NormalCDF) or ln x (LognormalCDF).
inline void normal_location_scale_derivs(double u, const double *p, double *deriv) {
  const double g =
      fm::checked_exp(-(fm::checked_pow(u - p[3], 2.0) / (p[4] * 2.0 * p[4])));
  const double r = fm::sqrt(kTwoPi);
  deriv[3] = -(g * (p[2] / r / p[4]));
  deriv[4] = -(g * ((u - p[3]) * (p[2] / r) / (p[4] * p[4])));
}

}  // namespace

// NormalCDF: y = p1 + p2*Phi((x - p3)/p4); p3 mean, p4 standard deviation.
// Scaled-member frame. p4 exactly 0 fails. Phi comes from normcdf(z, 2, 0); MISSING_VALUE from
// it (a NaN z) fails. The host routine keeps no state, so the Phi(z) of y serves as d2 too.
//   derivatives: d1 = 1, d2 = Phi(z), d3 = -g*(p2/r/p4), d4 = -g*((x - p3)*(p2/r)/(p4*p4)) with
//     g = exp(-(x - p3)^2/(2*p4^2)) and r = sqrt(2*pi): the exact partial derivatives.
FM_MODEL(NormalCDF) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (p[4] == 0.0) return fm::standard_failure(y);
  const double z = (t - p[3]) / p[4];
  const double F = Phi(z);
  if (host_missing(F)) return fm::standard_failure(y);
  y[1] = p[1] + p[2] * F;
  if (!fm::wants_deriv(request)) return 0;
  deriv[1] = 1.0;
  deriv[2] = F;
  normal_location_scale_derivs(t, p, deriv);
  return 0;
}

// LognormalCDF: y = p1 + p2*Phi((ln x - p3)/p4); p3 mean and p4 standard deviation of ln x.
// Scaled-member frame. p4 exactly 0 fails, then x <= 0 fails. MISSING_VALUE from normcdf fails.
//   derivatives: as NormalCDF with ln x in place of x (exact partial derivatives).
FM_MODEL(LognormalCDF) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (p[4] == 0.0) return fm::standard_failure(y);
  if (t <= 0.0) return fm::standard_failure(y);
  const double u = fm::log(t);
  const double z = (u - p[3]) / p[4];
  const double F = Phi(z);
  if (host_missing(F)) return fm::standard_failure(y);
  y[1] = p[1] + p[2] * F;
  if (!fm::wants_deriv(request)) return 0;
  deriv[1] = 1.0;
  deriv[2] = Phi(z);
  normal_location_scale_derivs(u, p, deriv);
  return 0;
}

// GammaCDF: y = p1 + p2*G(p3), G(a) = gamcdf(x, a, p4, 2, 0) = P(a, x/p4); p3 shape, p4 scale.
// Scaled-member frame without a parameter test of its own: the gamma distribution needs a
// positive shape and scale, and gamcdf answers MISSING_VALUE outside them (or for a NaN
// argument); any such answer fails with nothing written to deriv.
//   derivatives (each G a fresh call): d1 = 1, d2 = G(p3),
//     d3 = p2*dG/da, Richardson's extrapolation of central differences in the shape with
//     steps p3/512 and p3/1024 (relative error about 1e-12 where G is not near 1; see
//     gamma_cdf_shape_derivative);
//     d4 = (G(p3 + 1) - G(p3))*(p2*p3/p4), the exact scale derivative by the recurrence
//     P(a + 1, t) = P(a, t) - t^a*exp(-t)/Gamma(a + 1). The difference cancels where G is
//     near 1 (the upper tail); there, for s = x/p4 > 0, t^a*exp(-t)/Gamma(a + 1) is formed
//     directly as exp(a*ln s - s - ln Gamma(a + 1)), whose rounding grows with the size of
//     the three terms instead: the form with the smaller error bound is taken.
FM_MODEL(GammaCDF) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const double G = gamma_cdf(t, p[3], p[4]);
  if (host_missing(G)) return fm::standard_failure(y);
  y[1] = p[1] + p[2] * G;
  if (!fm::wants_deriv(request)) return 0;
  const double d2 = gamma_cdf(t, p[3], p[4]);
  double dG = 0.0;
  const bool shape_ok = gamma_cdf_shape_derivative(t, p[3], p[4], dG);
  const double G1 = gamma_cdf(t, p[3] + 1.0, p[4]);
  const double G4 = gamma_cdf(t, p[3], p[4]);
  if (host_missing(d2) || !shape_ok || host_missing(G1) || host_missing(G4))
    return fm::standard_failure(y);
  double diff = G1 - G4;  // -t^a*exp(-t)/Gamma(a + 1) at t = s
  const double s = t / p[4];
  if (s > 0.0 && std::isfinite(s)) {
    const double lg = velmath_log_gamma(p[3] + 1.0);
    if (!host_missing(lg)) {
      const double la = p[3] * std::log(s);
      // Rounding bounds in units of eps: |G1 - G4| carries about G4/|G1 - G4|, the
      // exponential about |a ln s| + s + |ln Gamma(a + 1)|.
      const double spread = std::fabs(la) + s + std::fabs(lg) + 1.0;
      if (spread * std::fabs(diff) < G4) diff = -fm::exp(la - s - lg);
    }
  }
  deriv[1] = 1.0;
  deriv[2] = d2;
  deriv[3] = dG * p[2];
  deriv[4] = diff * (p[2] * p[3] / p[4]);
  return 0;
}

// WeibullCDF: y = p1 + p2*(1 - exp(-(x/p3)^p4)) for x > 0, y = p1 for x <= 0; p3 scale,
// p4 shape. Scaled-member frame. p3 <= 0 fails, then p4 <= 0 fails (before x is looked at).
//   x <= 0: y = p1 and derivatives (1, 0, 0, 0), without calling the host library.
//   x > 0: F = wblcdf(x, p3, p4, 0) (once for y, once for d2) and f = wblpdf(x, p3, p4, 0)
//     (once for d3, once for d4): d3 = -(f*(p2*x/p3)), d4 = f*(ln(x/p3)*(x*p2/p4)), the exact
//     partial derivatives. MISSING_VALUE from either routine (a NaN x) fails.
FM_MODEL(WeibullCDF) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (p[3] <= 0.0) return fm::standard_failure(y);
  if (p[4] <= 0.0) return fm::standard_failure(y);
  if (!(t > 0.0)) {
    if (t != t) return fm::standard_failure(y);  // a NaN x has no value
    y[1] = p[1];
    if (!fm::wants_deriv(request)) return 0;
    deriv[1] = 1.0;
    deriv[2] = deriv[3] = deriv[4] = 0.0;
    return 0;
  }
  const double F = wblcdf(t, p[3], p[4], 0);
  if (host_missing(F)) return fm::standard_failure(y);
  y[1] = p[1] + p[2] * F;
  if (!fm::wants_deriv(request)) return 0;
  const double d2 = wblcdf(t, p[3], p[4], 0);
  const double f3 = wblpdf(t, p[3], p[4], 0);
  const double f4 = wblpdf(t, p[3], p[4], 0);
  if (host_missing(d2) || host_missing(f3) || host_missing(f4)) return fm::standard_failure(y);
  deriv[1] = 1.0;
  deriv[2] = d2;
  deriv[3] = -(f3 * (p[2] * t / p[3]));
  deriv[4] = f4 * (fm::log(t / p[3]) * (t * p[2] / p[4]));
  return 0;
}

// ExponentialCDF: y = p1 + p2*(1 - exp(-x/p3)) for x >= 0, y = p1 for x < 0; p3 scale (mean).
// Scaled-member frame.
//   x < 0: y = p1 whatever p3 is; derivatives (1, 0, 0).
//   x >= 0: p3 exactly 0 fails; y = (1 - e)*p2 + p1 with e = checked_exp(-(x/p3)), no errno
//     test after it, but a y that is not finite is the standard failure; d2 = 1 - e,
//     d3 = -p2*x*e/p3^2 (exact). 1 - e is formed as -expm1(-(x/p3)), which keeps its digits
//     for small x/p3.
FM_MODEL(ExponentialCDF) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (t < 0.0) {
    y[1] = p[1];
    if (!fm::wants_deriv(request)) return 0;
    deriv[1] = 1.0;
    deriv[2] = deriv[3] = 0.0;
    return 0;
  }
  if (p[3] == 0.0) return fm::standard_failure(y);
  y[1] = fm::one_minus_exp(-(t / p[3])) * p[2] + p[1];
  // A negative scale can overflow the exponential: an infinite value is a failure, not a result.
  if (!std::isfinite(y[1])) return fm::standard_failure(y);
  if (!fm::wants_deriv(request)) return 0;
  deriv[1] = 1.0;
  deriv[2] = fm::one_minus_exp(-(t / p[3]));
  deriv[3] = -p[2] * t * fm::checked_exp(-(t / p[3])) / (p[3] * p[3]);
  return 0;
}

// Gumbel: y = 1 - exp(-exp((x - p1)/p2)), the distribution function of the minimum-type
// Gumbel law; p1 location, p2 scale. Values only: bit 0 returns 0; bit 1 clear returns 1 and
// writes nothing.
//   p2 exactly 0 fails. errno 34 or 33 after the exponentials fails (standard failure) -
//   except that where the inner exponential overflows, the distribution function is exactly 1:
//   errno is reset to 0, y = 1, return 0.
//   1 - exp(-inner) is formed as -expm1(-inner), which keeps its digits in the left tail
//   (small inner).
FM_MODEL(Gumbel) {
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value(request)) return 1;
  const double *p = params;
  if (p[2] == 0.0) return fm::standard_failure(y);
  const double inner = fm::checked_exp((x[1] - p[1]) / p[2]);
  if (std::isinf(inner)) {  // beyond overflow the distribution function has reached 1
    errno = 0;
    y[1] = 1.0;
    return 0;
  }
  y[1] = fm::one_minus_exp(-inner);
  if (fm::math_error()) return fm::standard_failure(y);
  return 0;
}

// Pareto2: y = 1 - (p2/x)^p1; p1 shape, p2 scale (the lower bound of x). Exclusive shape:
// bit 0 returns 1; with bit 1 set only the value is computed; the derivative branch runs when
// bit 1 is clear and bit 2 set; with neither, return 1.
//   x <= 0: y (and, in the derivative branch, d1 and d2) = MISSING_VALUE, return 1 with errno
//     untouched.
//   0 < x < p2 lies below the lower bound, where the distribution function is 0: y = 0 and,
//     in the derivative branch, d1 = d2 = 0; return 0.
//   value: t = (p2/x)^p1; errno 34 or 33 fails; y = 1 - t.
//   derivatives: t, then d1 = -ln(p2/x), then d2 = -(p1/p2); errno 34 or 33 after any of the
//     three writes MISSING_VALUE into d1 and d2 and fails. Then d1 *= t, d2 = t*d2,
//     y = 1 - t (exact partial derivatives).
FM_MODEL(Pareto2) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (t <= 0.0) return fm::guard_failure(y);
    if (t < p[2]) {  // below the lower bound no probability has accumulated
      y[1] = 0.0;
      return 0;
    }
    const double q = fm::checked_pow(p[2] / t, p[1]);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = 1.0 - q;
    return 0;
  }
  if (!fm::wants_deriv(request)) return 1;

  if (t <= 0.0) {
    fm::set_missing(deriv, 1, 2);
    return fm::guard_failure(y);
  }
  if (t < p[2]) {  // below the lower bound the function is 0 in a neighbourhood
    y[1] = 0.0;
    deriv[1] = deriv[2] = 0.0;
    return 0;
  }
  const double q = fm::checked_pow(p[2] / t, p[1]);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
  deriv[1] = -fm::log(p[2] / t);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
  deriv[2] = -(p[1] / p[2]);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
  deriv[1] = deriv[1] * q;
  deriv[2] = q * deriv[2];
  y[1] = 1.0 - q;
  return 0;
}

// Rayleigh: y = 1 - exp(-x^2/(2*p1^2)); p1 scale sigma. Exclusive shape as Pareto2.
//   value: x < 0 or p1 <= 0 fails (standard failure); errno 34 or 33 after the exponential
//     fails.
//   derivatives: x < 0 or p1 <= 0 writes MISSING_VALUE into d1 and y and returns 1 with errno
//     untouched. q = (x/p1)^2, d1 = -(q/p1), e = exp(-q/2); errno 34 or 33 after it writes
//     MISSING_VALUE into d1 and fails; else y = 1 - e, d1 = e*d1 (exact).
//   1 - e is formed as -expm1(-q/2), which keeps its digits for small x/p1.
FM_MODEL(Rayleigh) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (t < 0.0 || p[1] <= 0.0) return fm::standard_failure(y);
    y[1] = fm::one_minus_exp(t * t / (p[1] * p[1]) * -0.5);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 1;

  if (t < 0.0 || p[1] <= 0.0) {
    deriv[1] = fm::kMissing;
    return fm::guard_failure(y);
  }
  const double q = (t / p[1]) * (t / p[1]);
  deriv[1] = -(q / p[1]);
  const double e = fm::checked_exp(q * -0.5);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 1);
  y[1] = fm::one_minus_exp(q * -0.5);
  deriv[1] = e * deriv[1];
  return 0;
}
