// Dose-response and saturation curves: the Hill equations (Hill, Hill1, BiHill), biphasic
// base-10 dose-response curves (BiDoseResp, Response2), a line switched off by a Boltzmann
// sigmoid (BoltzIV) and rational saturation curves (MichaelisMenten, MWChang, BatesWatts,
// Nelder).
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n]. None
// answers REQ_QUERY; a request with neither bit 1 nor bit 2 returns 0 and writes nothing
// (BiHill excepted, see there). A plateau substitute resets errno to 0, writes the limiting
// value into y (and the derivatives) and returns 0. ln10 is the literal 2.302585093.
//
// Request frames:
//   value-then-derivatives (Hill, Hill1, Nelder): bit 0 returns 1; with bit 1 the value step
//     runs, and only a failure there ends the call (its x = 0 and plateau exits are successes
//     and go on to the derivatives when bit 2 is also set); without bit 2 return 0; else the
//     derivative step computes deriv and y again and returns 0 or 1.
//   exclusive (BiDoseResp, Response2, BoltzIV, MichaelisMenten): bit 0 returns 1; with bit 1
//     only the value is computed; with bit 2 alone the derivatives and y.
//   value-only (MWChang, BatesWatts): return 0 at once when bit 0 is set or bit 1 is clear.
#include <cmath>

#include "frame/contract.h"

namespace {

constexpr double kLn10 = 2.302585093;

}  // namespace

// Hill: y = p1/(1 + (p2/x)^p3).
// Value: x < 0 or p2 < 0 is a standard failure. At x = 0, y = 0 for p3 >= 0 and p1 for p3 < 0.
//   P = (p2/x)^p3; an overflow (34) is the plateau y = 0; a domain error (33) is a standard
//   failure; else y = p1/(P + 1).
// Derivatives: x >= 0 and p2 > 0 are required (p2 = 0 is accepted only by the value), else
//   d1..d3 = MISSING_VALUE and a standard failure. At x = 0, d1..d3 = 0 and y as above. An
//   overflow of P gives d1..d3 = 0, y = 0 and return 0 with errno left at 34. Else
//   d1 = 1/(P + 1), y = d1*p1, t = -(y*P*d1), d3 = ln(p2/x)*t, d2 = (p3/p2)*t; when the
//   logarithm fails (34 or 33) errno is reset, d3 = MISSING_VALUE, d2 is still written and the
//   call returns 1 with y left valid.
FM_MODEL(Hill) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> fm::ValueStep {
        if (t < 0.0 || p[2] < 0.0) return fm::value_failure(y);
        if (t == 0.0) {
          y[1] = p[3] >= 0.0 ? 0.0 : p[1];
          return true;
        }
        const double P = fm::checked_pow(p[2] / t, p[3]);
        if (errno == ERANGE) {
          errno = 0;
          y[1] = 0.0;
          return true;
        }
        if (errno == EDOM) return fm::value_failure(y);
        y[1] = p[1] / (P + 1.0);
        return true;
      },
      [&]() -> int32_t {
        if (!(t >= 0.0 && p[2] > 0.0)) return fm::all_missing_failure(y, deriv, 3);
        if (t == 0.0) {
          deriv[1] = deriv[2] = deriv[3] = 0.0;
          y[1] = p[3] >= 0.0 ? 0.0 : p[1];
          return 0;
        }
        const double P = fm::checked_pow(p[2] / t, p[3]);
        if (fm::overflow_error()) {  // errno stays 34
          deriv[1] = deriv[2] = deriv[3] = 0.0;
          y[1] = 0.0;
          return 0;
        }
        const double d1 = 1.0 / (P + 1.0);
        deriv[1] = d1;
        const double v = d1 * p[1];
        y[1] = v;
        const double s = -(v * P * d1);
        deriv[3] = fm::log(p[2] / t) * s;
        if (fm::math_error()) {
          errno = 0;
          deriv[3] = fm::kMissing;
          deriv[2] = (p[3] / p[2]) * s;
          return 1;
        }
        deriv[2] = (p[3] / p[2]) * s;
        return 0;
      });
}

// Hill1: y = p1 + (p2 - p1)/(1 + (p3/x)^p4).
// Value: x < 0 or p3 < 0 is a standard failure. At x = 0, y = p1. P = (p3/x)^p4; an overflow
//   (34) is the plateau y = p1; a domain error (33) a standard failure; else
//   y = (p2 - p1)/(P + 1) + p1.
// Derivatives: x >= 0 and p3 >= 0 are required, else d1..d4 = MISSING_VALUE and a standard
//   failure. At x = 0: d = (1, 0, 0, 0), y = p1. An overflow of P gives the same with errno
//   left at 34. Else s = 1/(P + 1), d2 = s, d1 = 1 - s, y as the value,
//   t = -((p2 - p1)*P*s*s), d4 = ln(p3/x)*t, d3 = (p4/p3)*t; when the logarithm fails (34 or
//   33, e.g. p3 = 0) errno is reset, d4 = MISSING_VALUE, d3 is still written and the call
//   returns 1 with y left valid.
FM_MODEL(Hill1) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> fm::ValueStep {
        if (t < 0.0 || p[3] < 0.0) return fm::value_failure(y);
        if (t == 0.0) {
          y[1] = p[1];
          return true;
        }
        const double P = fm::checked_pow(p[3] / t, p[4]);
        if (errno == ERANGE) {
          errno = 0;
          y[1] = p[1];
          return true;
        }
        if (errno == EDOM) return fm::value_failure(y);
        y[1] = (p[2] - p[1]) / (P + 1.0) + p[1];
        return true;
      },
      [&]() -> int32_t {
        if (!(t >= 0.0 && p[3] >= 0.0)) return fm::all_missing_failure(y, deriv, 4);
        const double P = t == 0.0 ? 0.0 : fm::checked_pow(p[3] / t, p[4]);
        if (t == 0.0 || fm::overflow_error()) {  // on overflow errno stays 34
          deriv[1] = 1.0;
          deriv[2] = deriv[3] = deriv[4] = 0.0;
          y[1] = p[1];
          return 0;
        }
        const double s = 1.0 / (P + 1.0);
        deriv[2] = s;
        deriv[1] = 1.0 - s;
        y[1] = (p[2] - p[1]) / (P + 1.0) + p[1];
        const double u = -((p[2] - p[1]) * P * s * s);
        deriv[4] = fm::log(p[3] / t) * u;
        if (fm::math_error()) {
          errno = 0;
          deriv[4] = fm::kMissing;
          deriv[3] = (p[4] / p[3]) * u;
          return 1;
        }
        deriv[3] = (p[4] / p[3]) * u;
        return 0;
      });
}

// BiHill: y = p1/((1 + (p2/x)^p4)*(1 + (x/p3)^p5)). errno is never tested.
// Bit 0 returns 1. For every other request B = (x/p3)^p5 and D = ((p2/x)^p4 + 1)*(B + 1) are
// computed first. With neither bit 1 nor bit 2, y[1] is only passed through finite_or_missing
// (a finite y[1] is left as the caller had it) and 0 returned. D = 0 is a guard failure
// (errno untouched); so is x = 0, which with bit 2 also writes d1..d5 = MISSING_VALUE.
// y = p1/D under either bit; with bit 2:
//   d1 = 1/D
//   d2 = -(p4*p1/(((p2/x)^-p4 + 1)*D*p2))
//   d3 = p5*p1/(((x/p3)^-p5 + 1)*D*p3)
//   d4 = -(ln(p2/x)*p1/(((p2/x)^-p4 + 1)*D))
//   d5 = -(ln(x/p3)*p1/(((x/p3)^-p5 + 1)*D))
// A non-finite y becomes MISSING_VALUE (return 0); the derivatives are not checked.
FM_MODEL(BiHill) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  const double B = fm::checked_pow(t / p[3], p[5]);
  const double D = (fm::checked_pow(p[2] / t, p[4]) + 1.0) * (B + 1.0);
  if (!fm::wants_value_or_deriv(request)) {
    fm::finite_or_missing(&y[1]);
    return 0;
  }
  if (D == 0.0) return fm::guard_failure(y);
  if (t == 0.0) {
    if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, 5);
    return fm::guard_failure(y);
  }
  y[1] = p[1] / D;
  if (fm::wants_deriv(request)) {
    const double a = fm::checked_pow(p[2] / t, -p[4]) + 1.0;
    const double b = fm::checked_pow(t / p[3], -p[5]) + 1.0;
    deriv[1] = 1.0 / D;
    deriv[2] = -(p[4] * p[1] / (a * D * p[2]));
    deriv[3] = p[5] * p[1] / (b * D * p[3]);
    deriv[4] = -(fm::log(p[2] / t) * p[1] / (a * D));
    deriv[5] = -(fm::log(t / p[3]) * p[1] / (b * D));
  }
  fm::finite_or_missing(&y[1]);
  return 0;
}

// BiDoseResp: y = p1 + (p2 - p1)*(p7/(1 + 10^((p3 - x)*p5)) + (1 - p7)/(1 + 10^((p4 - x)*p6))).
// Both requests compute e1 = 10^((p3 - x)*p5), then e2 = 10^((p4 - x)*p6), each followed by a
// test of errno (34 or 33: standard failure; the overflowing side fails, an underflowing one
// follows the formula).
// Value: y = ((1 - p7)/(e2 + 1) + p7/(e1 + 1))*(p2 - p1) + p1.
// Derivatives, with E1 = e1 + 1, E2 = e2 + 1, dl = p2 - p1 and f = (1 - p7)/E2 + p7/E1:
//   d1 = 1 - f, d2 = f, d7 = (1/E1 - 1/E2)*dl,
//   d3 = (1 - E1)*dl*p5*p7*ln10/E1^2, d4 = (1 - E2)*dl*p6*(1 - p7)*ln10/E2^2,
//   d5 = (p3 - x)*d3/p5, d6 = (p4 - x)*d4/p6, y = dl*f + p1.
FM_MODEL(BiDoseResp) {
  const double *p = params;
  const double t = x[1];
  double e1 = 0.0, e2 = 0.0;
  auto powers = [&]() -> bool {
    e1 = fm::checked_pow(10.0, (p[3] - t) * p[5]);
    if (fm::math_error()) return false;
    e2 = fm::checked_pow(10.0, (p[4] - t) * p[6]);
    return !fm::math_error();
  };
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (!powers()) return fm::standard_failure(y);
        y[1] = ((1.0 - p[7]) / (e2 + 1.0) + p[7] / (e1 + 1.0)) * (p[2] - p[1]) + p[1];
        return 0;
      },
      [&]() -> int32_t {
        if (!powers()) return fm::standard_failure(y);
        const double dl = p[2] - p[1];
        const double E1 = e1 + 1.0;
        const double E2 = e2 + 1.0;
        const double f = (1.0 - p[7]) / E2 + p[7] / E1;
        deriv[2] = f;
        deriv[1] = 1.0 - f;
        deriv[7] = (1.0 / E1 - 1.0 / E2) * dl;
        const double d3 = (1.0 - E1) * dl * p[5] * p[7] * kLn10 / (E1 * E1);
        const double d4 = (1.0 - E2) * dl * p[6] * (1.0 - p[7]) * kLn10 / (E2 * E2);
        deriv[3] = d3;
        deriv[4] = d4;
        // A zero slope (p5 or p6 = 0) takes the slope derivative from its own closed form
        // instead of dividing the position derivative by the slope (which would give 0/0).
        deriv[5] = p[5] != 0.0 ? (p[3] - t) * d3 / p[5]
                               : (1.0 - E1) * dl * (p[3] - t) * p[7] * kLn10 / (E1 * E1);
        deriv[6] = p[6] != 0.0 ? (p[4] - t) * d4 / p[6]
                               : (1.0 - E2) * dl * (p[4] - t) * (1.0 - p[7]) * kLn10 / (E2 * E2);
        y[1] = dl * f + p[1];
        return 0;
      });
}

// Response2: y = p1 + (p2 - p1)/(1 + 10^((x - p4)*p6)) + (p3 - p1)/(1 + 10^((p5 - x)*p7)).
// Value: requires n >= 7, p1 <= p2 and p1 <= p3 (a NaN passes), else a standard failure. An
//   errno of 34 or 33 already set on entry gives errno = 0, y = p2 + p3, return 0. Else
//   s1 = 1/(10^((x - p4)*p6) + 1), E2 = 10^((p5 - x)*p7) + 1,
//   y = (p2 - p1)*s1 + p1 + (p3 - p1)*(1/E2); errno is not tested after the powers (an
//   overflow yields the limit through 1/inf = 0 and leaves errno at 34).
// Derivatives (n < 7 fails as in the value; the parameter order is not checked): with e1, e2
// the two powers
//   and s1 = 1/(e1 + 1), s2 = 1/(e2 + 1):
//   y = (p2 - p1)*s1 + p1 + (p3 - p1)*s2, d1 = 1 - s1 - s2, d2 = s1, d3 = s2,
//   d4 = (p2 - p1)*s1^2*p6*ln10*e1,        d5 = (p3 - p1)*s2^2*p7*(-ln10)*e2,
//   d6 = (p2 - p1)*s1^2*(x - p4)*(-ln10)*e1, d7 = (p3 - p1)*s2^2*(p5 - x)*(-ln10)*e2.
//   An errno of 34 already set on entry gives errno = 0, d = (1, 0, 0, 1, 1, -1, 1),
//   y = p3 + p2.
FM_MODEL(Response2) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        // fewer parameters than the model reads: fail as for none
        if (nParams < 7 || p[1] > p[2] || p[1] > p[3]) return fm::standard_failure(y);
        if (fm::math_error()) {
          errno = 0;
          y[1] = p[2] + p[3];
          return 0;
        }
        const double s1 = 1.0 / (fm::checked_pow(10.0, (t - p[4]) * p[6]) + 1.0);
        const double E2 = fm::checked_pow(10.0, (p[5] - t) * p[7]) + 1.0;
        y[1] = (p[2] - p[1]) * s1 + p[1] + (p[3] - p[1]) * (1.0 / E2);
        return 0;
      },
      [&]() -> int32_t {
        if (nParams < 7) return fm::standard_failure(y);  // as in the value request
        if (fm::overflow_error()) {
          errno = 0;
          deriv[1] = 1.0;
          deriv[2] = 0.0;
          deriv[3] = 0.0;
          deriv[4] = 1.0;
          deriv[5] = 1.0;
          deriv[6] = -1.0;
          deriv[7] = 1.0;
          y[1] = p[3] + p[2];
          return 0;
        }
        // An overflowing power contributes its limit: its sigmoid factor s is 0 and so are the
        // derivatives carrying s^2*e (written as 0 rather than 0*inf); errno is then reset.
        const double e1 = fm::checked_pow(10.0, (t - p[4]) * p[6]);
        const bool over1 = fm::overflow_error();
        if (over1) errno = 0;
        const double s1 = over1 ? 0.0 : 1.0 / (e1 + 1.0);
        const double e2 = fm::checked_pow(10.0, (p[5] - t) * p[7]);
        const bool over2 = fm::overflow_error();
        const double s2 = over2 ? 0.0 : 1.0 / (e2 + 1.0);
        if (over1 || over2) errno = 0;
        y[1] = (p[2] - p[1]) * s1 + p[1] + (p[3] - p[1]) * s2;
        deriv[1] = 1.0 - s1 - s2;
        deriv[2] = s1;
        deriv[3] = s2;
        deriv[4] = over1 ? 0.0 : (p[2] - p[1]) * (s1 * s1) * p[6] * kLn10 * e1;
        deriv[5] = over2 ? 0.0 : (p[3] - p[1]) * (s2 * s2) * p[7] * (-kLn10) * e2;
        deriv[6] = over1 ? 0.0 : (p[2] - p[1]) * (s1 * s1) * (t - p[4]) * (-kLn10) * e1;
        deriv[7] = over2 ? 0.0 : (p[3] - p[1]) * (s2 * s2) * (p[5] - t) * (-kLn10) * e2;
        return 0;
      });
}

// BoltzIV: y = (x - p4)*p3/(1 + exp((x - p1)/p2)), a line through x = p4 with slope p3,
// switched off above the midpoint p1 over the width p2.
// Value: n < 4 or p2 = 0 is a standard failure. t = (x - p1)/p2; t > 665 or an errno of 34 or
//   33 after e = exp(t) is the plateau y = 0; else y = (x - p4)*p3/(e + 1).
// Derivatives: n < 4 or |p2| < 1e-18 is a standard failure. With t <= 665 and no
//   errno after e = exp(t), E = e + 1:
//   d1 = (x - p4)*e*p3/(E*p2*E), d2 = (x - p4)*e*p3*(x - p1)/(p2^2*E^2), d3 = (x - p4)/E,
//   d4 = -(p3/E), y = (x - p4)*p3/E. Otherwise the plateau d1..d4 = 0, y = 0.
// On the far side (t < -300) exp gives 0 and the line itself follows.
FM_MODEL(BoltzIV) {
  const double *p = params;
  const double v = x[1];
  auto plateau = [&]() -> int32_t {
    errno = 0;
    y[1] = 0.0;
    return 0;
  };
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        // fewer parameters than the model reads: fail as for none
        if (nParams < 4 || p[2] == 0.0) return fm::standard_failure(y);
        const double t = (v - p[1]) / p[2];
        if (t > 665.0) return plateau();
        const double e = fm::checked_exp(t);
        if (fm::math_error()) return plateau();
        y[1] = (v - p[4]) * p[3] / (e + 1.0);
        return 0;
      },
      [&]() -> int32_t {
        if (nParams < 4) return fm::standard_failure(y);  // as in the value request
        if (std::fabs(p[2]) < 1e-18) return fm::standard_failure(y);
        const double t = (v - p[1]) / p[2];
        if (t <= 665.0) {
          const double e = fm::checked_exp(t);
          if (!fm::math_error()) {
            const double E = e + 1.0;
            deriv[1] = (v - p[4]) * e * p[3] / (E * p[2] * E);
            deriv[2] = (v - p[4]) * e * p[3] * (v - p[1]) / ((p[2] * p[2]) * (E * E));
            deriv[3] = (v - p[4]) / E;
            deriv[4] = -(p[3] / E);
            y[1] = (v - p[4]) * p[3] / E;
            return 0;
          }
        }
        deriv[1] = deriv[2] = deriv[3] = deriv[4] = 0.0;
        return plateau();
      });
}

// MichaelisMenten: y = p1*x/(p2 + x). Both requests require x >= 0 and p2 > 0 (else a
// standard failure; the derivative request also writes d1 = d2 = MISSING_VALUE) and give
// y = 0 (with d1 = d2 = 0) at x = 0. Nothing here can overflow, but an errno left by earlier
// work is read:
// Value: a stale 34 gives errno = 0, y = 0, return 0; a stale 33 a standard failure; else
//   y = x*p1/(x + p2).
// Derivatives: a stale 34 gives d1 = d2 = 0, y = 0 and return 0 with errno left at 34. Else
//   d1 = x/(x + p2), d2 = -(x*p1/(x + p2)^2), y = p1*d1; then a stale 33 is a standard failure
//   that keeps d1 and d2.
FM_MODEL(MichaelisMenten) {
  const double *p = params;
  const double t = x[1];
  const bool valid = t >= 0.0 && p[2] > 0.0;
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (!valid) return fm::standard_failure(y);
        if (t == 0.0) {
          y[1] = 0.0;
          return 0;
        }
        if (errno == ERANGE) {
          errno = 0;
          y[1] = 0.0;
          return 0;
        }
        if (errno == EDOM) return fm::standard_failure(y);
        y[1] = t * p[1] / (t + p[2]);
        return 0;
      },
      [&]() -> int32_t {
        if (!valid) return fm::all_missing_failure(y, deriv, 2);
        if (t == 0.0 || errno == ERANGE) {  // errno stays as it was
          deriv[1] = deriv[2] = 0.0;
          y[1] = 0.0;
          return 0;
        }
        const double q = t + p[2];
        const double d1 = t / q;
        deriv[1] = d1;
        deriv[2] = -(t * p[1] / (q * q));
        y[1] = p[1] * d1;
        if (errno == EDOM) return fm::standard_failure(y);
        return 0;
      });
}

// MWChang: y = p1*p3*x/(1 + p3*x), evaluated as (q2 - 1)*p1/q2 with q1 = 1 + p2*x and
// q2 = 1 + p3*x. Values only (bit 0 set or bit 1 clear: return 0, nothing written).
// q1 = 0 or q2 = 0 is a standard failure; p1 = 0 gives y = 0 with errno untouched. Otherwise
// (q1*p4/q2)^p5 is evaluated and a domain error (33) there is a standard failure; else errno is
// set to 0 and y written.
FM_MODEL(MWChang) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const double q1 = 1.0 + p[2] * t;
  const double q2 = 1.0 + p[3] * t;
  if (q1 == 0.0 || q2 == 0.0) return fm::standard_failure(y);
  if (p[1] == 0.0) {
    y[1] = 0.0;
    return 0;
  }
  // The power does not enter the value: it only checks p2, p4 and p5 for a domain error.
  (void)fm::checked_pow(q1 * p[4] / q2, p[5]);
  if (errno == EDOM) return fm::standard_failure(y);
  errno = 0;
  y[1] = (q2 - 1.0) * p[1] / q2;
  return 0;
}

// BatesWatts: y = p3*p1*x1/(1 + p1*x1 + p2*x2), a function of two independent variables that
// reads x[1] and x[2]. Values only (bit 0 set or bit 1 clear: return 0, nothing written).
// D = p2*x2 + (x1*p1 + 1); D = 0 is a standard failure. y = p3*p1*x1/D when p1, p3 and x1 are
// all nonzero, else y = 0. errno is not read or written otherwise.
FM_MODEL(BatesWatts) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  const double *p = params;
  const double D = p[2] * x[2] + (x[1] * p[1] + 1.0);
  if (D == 0.0) return fm::standard_failure(y);
  y[1] = (p[1] != 0.0 && p[3] != 0.0 && x[1] != 0.0) ? p[3] * p[1] * x[1] / D : 0.0;
  return 0;
}

// Nelder: y = u/(p2 + p3*u + p4*u^2) with u = x + p1, D = u*p3 + p2 + u*p4*u.
// D = 0 is a standard failure (the derivative request also writes d1..d4 = MISSING_VALUE).
// Value: y = u/D, or 0 when u = 0. Derivatives: y = u/D, d1 = -((u*p4*u - p2)/D^2),
// d2 = -(y/D), d3 = d2*u, d4 = d3*u. nParams is not read; errno is never tested.
FM_MODEL(Nelder) {
  const double *p = params;
  const double u = x[1] + p[1];
  const double D = u * p[3] + p[2] + u * p[4] * u;
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> fm::ValueStep {
        if (D == 0.0) return fm::value_failure(y);
        y[1] = u != 0.0 ? u / D : 0.0;
        return true;
      },
      [&]() -> int32_t {
        if (D == 0.0) return fm::all_missing_failure(y, deriv, 4);
        const double v = u / D;
        y[1] = v;
        deriv[1] = -((u * p[4] * u - p[2]) / (D * D));
        const double d2 = -(v / D);
        deriv[2] = d2;
        deriv[3] = d2 * u;
        deriv[4] = d2 * u * u;
        return 0;
      });
}
