// Ratios of low-order polynomials in x: the saturating hyperbola (MicMent, RectHyperbola,
// HyperbolaMod, the two-point form HyperbolaEVP) and its generalisation with a power
// (HyperbolaGen); the reciprocal line (Reciprocal, ReciprocalMod, the two-point form
// ReciprocalEVP) and the reciprocal quadratic (Holliday, Holliday1); the rational functions
// Rational0 to Rational5; the BET adsorption isotherms (BET, BETMod); the shifted line LineMod.
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n]. None
// reads nParams or answers REQ_QUERY; bit 0 returns 1. HyperbolaEVP and ReciprocalEVP read
// p1..p4 although their registry rows declare 2; the caller supplies params and deriv of that
// length. Every test D == 0 compares a denominator exactly with zero (a NaN does not fail). A
// guard failure writes MISSING_VALUE into y[1] and returns 1 with errno untouched; a standard
// failure also resets errno to 0. Unless a model says otherwise, a zero denominator is a guard
// failure on the value path and, on the derivative path, writes MISSING_VALUE into y[1] and
// every derivative and returns 1 with errno untouched.
//
// Request frames:
//   value-then-derivatives (Holliday, MicMent): with bit 1 the value step runs and a failure
//     there ends the call; without bit 2 return 0; else the derivative step writes y again
//     with the derivatives. Rational5 computes y for either bit and the derivatives with bit 2.
//   exclusive (all others): with bit 1 only the value is computed; with bit 2 alone the
//     derivatives and y; with neither bit return 0.
#include <limits>

#include "frame/contract.h"

// MicMent: y = p1*x/(x + p2), D = x + p2. Value-then-derivatives.
//   value: D == 0 -> standard failure; y = x*p1/D.
//   deriv: D == 0 -> d1 = d2 = MISSING_VALUE, standard failure. d1 = x/D, y = d1*p1,
//     d2 = -y/D.
FM_MODEL(MicMent) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    const double D = t + p[2];
    if (D == 0.0) return fm::standard_failure(y);
    y[1] = t * p[1] / D;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double D = t + p[2];
  if (D == 0.0) return fm::all_missing_failure(y, deriv, 2);
  const double d1 = t / D;
  deriv[1] = d1;
  const double v = d1 * p[1];
  y[1] = v;
  deriv[2] = -v / D;
  return 0;
}

// RectHyperbola: y = p1*p2*x/(1 + p2*x), u = p2*x. Exclusive.
//   value: u == -1 -> standard failure; y = u*p1/(u + 1).
//   deriv: u == -1 -> standard failure, no derivative written. d1 = u/(u + 1), y = d1*p1,
//     d2 = (1 - d1)*y/p2. At p2 == 0 that quotient is 0/0; the derivative there is exactly
//     p1*x, which is what d2 holds. For d1 > 1/2 (u > 1), where 1 - d1 cancels, it is formed
//     as its equal 1/(u + 1).
FM_MODEL(RectHyperbola) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double u = p[2] * t;
        if (u == -1.0) return fm::standard_failure(y);
        y[1] = u * p[1] / (u + 1.0);
        return 0;
      },
      [&]() -> int32_t {
        const double u = p[2] * t;
        if (u == -1.0) return fm::standard_failure(y);
        const double d1 = u / (u + 1.0);
        deriv[1] = d1;
        const double v = d1 * p[1];
        y[1] = v;
        const double r = d1 > 0.5 ? 1.0 / (u + 1.0) : 1.0 - d1;  // 1 - d1
        deriv[2] = p[2] == 0.0 ? p[1] * t : r * v / p[2];  // dy/dp2 = p1*x/(1 + u)^2
        return 0;
      });
}

// HyperbolaMod: y = x/(p1*x + p2), D = p1*x + p2. Exclusive.
//   value: D == 0 -> guard failure; y = x/D.
//   deriv: D == 0 -> guard failure, no derivative written. y = x/D, d1 = -y^2, d2 = -y/D.
FM_MODEL(HyperbolaMod) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = p[1] * t + p[2];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = t / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = p[1] * t + p[2];
        if (D == 0.0) return fm::guard_failure(y);
        const double v = t / D;
        y[1] = v;
        deriv[1] = -(v * v);
        deriv[2] = -v / D;
        return 0;
      });
}

// HyperbolaEVP (reads p1..p4): the hyperbola through (p1, p2) and (p3, p4):
//   y = (p3 - p1)*x*p2*p4/D, D = (p3 - x)*p1*p4 + (x - p1)*p3*p2. Exclusive.
//   Coincident abscissae (p1 == p3) determine no hyperbola (the formula gives y = 0 and 0/0
//   derivatives) and fail like a zero D: guard failure on the value path, y and d1..d4 =
//   MISSING_VALUE with return 1 (errno untouched) on the derivative path.
//   value: D == 0 -> guard failure.
//   deriv: D == 0 -> y, d1..d4 = MISSING_VALUE, return 1. With c = 1/(p3 - p1):
//     d1 = ((p3*p2 - (p3 - x)*p4)/D - c)*y, d2 = (1/p2 - (x - p1)*p3/D)*y,
//     d3 = (c - ((x - p1)*p2 + p1*p4)/D)*y, d4 = (1/p4 - (p3 - x)*p1/D)*y.
FM_MODEL(HyperbolaEVP) {
  const double *p = params;
  const double t = x[1];
  auto denominator = [&]() { return (p[3] - t) * p[1] * p[4] + (t - p[1]) * p[3] * p[2]; };
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[1] == p[3]) return fm::guard_failure(y);  // no hyperbola through both points
        const double D = denominator();
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = (p[3] - p[1]) * t * p[2] * p[4] / D;
        return 0;
      },
      [&]() -> int32_t {
        if (p[1] == p[3]) return fm::guard_failure_all(y, deriv, 4);  // as above
        const double D = denominator();
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 4);
        const double v = (p[3] - p[1]) * t * p[2] * p[4] / D;
        y[1] = v;
        const double c = 1.0 / (p[3] - p[1]);
        deriv[1] = ((p[3] * p[2] - (p[3] - t) * p[4]) / D - c) * v;
        deriv[2] = (1.0 / p[2] - (t - p[1]) * p[3] / D) * v;
        deriv[3] = (c - ((t - p[1]) * p[2] + p[1] * p[4]) / D) * v;
        deriv[4] = (1.0 / p[4] - (p[3] - t) * p[1] / D) * v;
        return 0;
      });
}

// HyperbolaGen: y = p1 - p2/(1 + p3*x)^(1/p4), u = p3*x + 1. Exclusive.
//   value: u == 0 or p4 == 0 -> guard failure. t = u^(1/p4); errno 34 or 33, or t == 0 ->
//     standard failure. y = p1 - p2/t.
//   deriv: d1 = 1. p4 == 0 -> d2..d4 = MISSING_VALUE, standard failure (d1 stays 1). The
//     derivative path fails where the value path does: u == 0 -> d2..d4 = MISSING_VALUE,
//     guard failure; w = -u^(-1/p4), errno test, or |w| < 1/DBL_MAX at a finite u (the value
//     path's power overflows there) -> d2..d4 = MISSING_VALUE, standard failure.
//     d2 = w, d3 = -w*p2*x/u/p4, y = w*p2 + p1. d4 = ln(u)*w*p2/p4/p4; a failing logarithm
//     (u < 0 with an integral 1/p4, where the power is real but no derivative in p4 exists)
//     -> errno 0, d4 = MISSING_VALUE, return 1 with y, d1..d3 written.
namespace {
constexpr double kInverseMax = 1.0 / std::numeric_limits<double>::max();
}  // namespace

FM_MODEL(HyperbolaGen) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double u = p[3] * t + 1.0;
        if (u == 0.0 || p[4] == 0.0) return fm::guard_failure(y);
        const double P = fm::checked_pow(u, 1.0 / p[4]);
        if (fm::math_error() || P == 0.0) return fm::standard_failure(y);
        y[1] = p[1] - p[2] / P;
        return 0;
      },
      [&]() -> int32_t {
        deriv[1] = 1.0;
        if (p[4] == 0.0) {
          fm::set_missing(deriv, 2, 4);
          return fm::standard_failure(y);
        }
        const double u = p[3] * t + 1.0;
        if (u == 0.0) {  // the value path's pole
          fm::set_missing(deriv, 2, 4);
          return fm::guard_failure(y);
        }
        const double w = -fm::checked_pow(u, -1.0 / p[4]);
        // Overflow or no real power; or a power below 1/DBL_MAX at a finite u, which is where
        // the value path's u^(1/p4) overflows (an underflow here is not reported).
        if (fm::math_error() || (std::isfinite(u) && std::fabs(w) < kInverseMax)) {
          fm::set_missing(deriv, 2, 4);
          return fm::standard_failure(y);
        }
        deriv[2] = w;
        deriv[3] = -w * p[2] * t / u / p[4];
        y[1] = w * p[2] + p[1];
        const double L = fm::log(u);
        if (fm::math_error()) {  // u < 0: no derivative in the exponent
          errno = 0;
          deriv[4] = fm::kMissing;
          return 1;
        }
        deriv[4] = L * w * p[2] / p[4] / p[4];
        return 0;
      });
}

// Reciprocal: y = 1/(p1 + p2*x), D = p2*x + p1. Exclusive.
//   value: D == 0 -> guard failure; y = 1/D.
//   deriv: D == 0 -> guard failure, no derivative written. y = 1/D, d1 = -y^2, d2 = -y^2*x.
FM_MODEL(Reciprocal) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = p[2] * t + p[1];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = 1.0 / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = p[2] * t + p[1];
        if (D == 0.0) return fm::guard_failure(y);
        const double v = 1.0 / D;
        y[1] = v;
        deriv[1] = -(v * v);
        deriv[2] = -(v * v) * t;
        return 0;
      });
}

// ReciprocalMod: y = p1/(1 + p2*x), D = p2*x + 1. Exclusive.
//   value: D == 0 -> guard failure; y = p1/D.
//   deriv: D == 0 -> guard failure, no derivative written. d1 = 1/D, y = d1*p1,
//     d2 = -y*x*d1.
FM_MODEL(ReciprocalMod) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = p[2] * t + 1.0;
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = p[1] / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = p[2] * t + 1.0;
        if (D == 0.0) return fm::guard_failure(y);
        const double d1 = 1.0 / D;
        deriv[1] = d1;
        const double v = d1 * p[1];
        y[1] = v;
        deriv[2] = -v * t * d1;
        return 0;
      });
}

// ReciprocalEVP (reads p1..p4): the reciprocal line through (p1, p2) and (p3, p4):
//   y = (p3 - p1)*p2*p4/D, D = (x - p1)*p2 + (p3 - x)*p4. Exclusive.
//   Coincident abscissae (p1 == p3) determine no line (the formula gives y = 0, which passes
//   through neither point) and fail like a zero D.
//   value: D == 0 -> guard failure.
//   deriv: D == 0 -> y, d1..d4 = MISSING_VALUE, return 1 (errno untouched).
//     d1 = (y - p4)*p2/D, d3 = (p2 - y)*p4/D, d2 = ((p3 - p1)*p4 - (x - p1)*y)/D,
//     d4 = ((p3 - p1)*p2 - (p3 - x)*y)/D.
FM_MODEL(ReciprocalEVP) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[1] == p[3]) return fm::guard_failure(y);  // no line through both points
        const double D = (t - p[1]) * p[2] + (p[3] - t) * p[4];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = (p[3] - p[1]) * p[2] * p[4] / D;
        return 0;
      },
      [&]() -> int32_t {
        if (p[1] == p[3]) return fm::guard_failure_all(y, deriv, 4);  // as above
        const double D = (t - p[1]) * p[2] + (p[3] - t) * p[4];
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 4);
        const double v = (p[3] - p[1]) * p[2] * p[4] / D;
        y[1] = v;
        deriv[1] = (v - p[4]) * p[2] / D;
        deriv[3] = (p[2] - v) * p[4] / D;
        deriv[2] = ((p[3] - p[1]) * p[4] - (t - p[1]) * v) / D;
        deriv[4] = ((p[3] - p[1]) * p[2] - (p[3] - t) * v) / D;
        return 0;
      });
}

// Holliday: y = 1/(p1 + p2*x + p3*x^2), D = x*p2 + p1 + x*p3*x. Value-then-derivatives.
//   value: D == 0 -> standard failure; y = 1/D.
//   deriv: D == 0 -> d1..d3 = MISSING_VALUE, standard failure. y = 1/D, d1 = -y/D,
//     d2 = d1*x, d3 = d2*x.
FM_MODEL(Holliday) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    const double D = t * p[2] + p[1] + t * p[3] * t;
    if (D == 0.0) return fm::standard_failure(y);
    y[1] = 1.0 / D;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double D = t * p[2] + p[1] + t * p[3] * t;
  if (D == 0.0) return fm::all_missing_failure(y, deriv, 3);
  const double v = 1.0 / D;
  y[1] = v;
  const double d1 = -v / D;
  deriv[1] = d1;
  deriv[2] = d1 * t;
  deriv[3] = d1 * t * t;
  return 0;
}

// Holliday1: y = p1/(1 + p2*x + p3*x^2), D = (x*p3 + p2)*x + 1. Exclusive.
//   value: D == 0 -> guard failure; y = p1/D.
//   deriv: D == 0 -> y, d1..d3 = MISSING_VALUE, return 1 (errno untouched). d1 = 1/D,
//     y = d1*p1, d2 = -x*d1*y, d3 = d2*x.
FM_MODEL(Holliday1) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = (t * p[3] + p[2]) * t + 1.0;
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = p[1] / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = (t * p[3] + p[2]) * t + 1.0;
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double d1 = 1.0 / D;
        deriv[1] = d1;
        const double v = d1 * p[1];
        y[1] = v;
        const double d2 = -t * d1 * v;
        deriv[2] = d2;
        deriv[3] = d2 * t;
        return 0;
      });
}

// LineMod: y = p1*(x - p2). Exclusive; never fails.
//   deriv: d1 = x - p2, y = d1*p1, d2 = -p1.
FM_MODEL(LineMod) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        y[1] = p[1] * (t - p[2]);
        return 0;
      },
      [&]() -> int32_t {
        const double d1 = t - p[2];
        deriv[1] = d1;
        y[1] = d1 * p[1];
        deriv[2] = -p[1];
        return 0;
      });
}

// BET: y = p1*p2*x/D, D = (p2 - 2 - (p2 - 1)*x)*x + 1 = (1 - x)*(1 + (p2 - 1)*x). Exclusive.
//   D vanishes at x = 1 for every parameter value.
//   value: D == 0 -> guard failure.
//   deriv: D == 0 -> y, d1, d2 = MISSING_VALUE, return 1 (errno untouched). d1 = x*p2/D,
//     y = d1*p1, d2 = (p1 - (1 - x)*y)*x/D.
FM_MODEL(BET) {
  const double *p = params;
  const double t = x[1];
  auto denominator = [&]() { return (p[2] - 2.0 - (p[2] - 1.0) * t) * t + 1.0; };
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = denominator();
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = p[1] * p[2] * t / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = denominator();
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double d1 = t * p[2] / D;
        deriv[1] = d1;
        const double v = d1 * p[1];
        y[1] = v;
        deriv[2] = (p[1] - (1.0 - t) * v) * t / D;
        return 0;
      });
}

// BETMod: y = x/D, D = (p2 - (p1 + p2)*x)*x + p1. Exclusive. D vanishes at x = 1.
//   value: D == 0 -> guard failure.
//   deriv: D == 0 -> y, d1, d2 = MISSING_VALUE, return 1 (errno untouched). y = x/D,
//     d1 = -(1 - x^2)*y/D, d2 = d1 - (x - 1)*y/D, formed as its equal -x*(1 - x)*y/D: the
//     difference cancels for small x.
FM_MODEL(BETMod) {
  const double *p = params;
  const double t = x[1];
  auto denominator = [&]() { return (p[2] - (p[1] + p[2]) * t) * t + p[1]; };
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = denominator();
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = t / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = denominator();
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double v = t / D;
        y[1] = v;
        const double d1 = -(1.0 - t * t) * v / D;
        deriv[1] = d1;
        deriv[2] = -t * (1.0 - t) * v / D;
        return 0;
      });
}

// Rational0: y = (p3*x + p2)/D, D = p1*x + 1. Exclusive; zero D as above.
//   deriv: d2 = 1/D, d3 = x/D, y = d3*p3 + d2*p2, d1 = -y*d3.
FM_MODEL(Rational0) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = p[1] * t + 1.0;
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = (p[3] * t + p[2]) / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = p[1] * t + 1.0;
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double d2 = 1.0 / D;
        const double d3 = t / D;
        deriv[2] = d2;
        deriv[3] = d3;
        const double v = d3 * p[3] + d2 * p[2];
        y[1] = v;
        deriv[1] = -v * d3;
        return 0;
      });
}

// Rational1: y = (x*p3 + 1)/D, D = x*p2 + p1. Exclusive; zero D as above.
//   deriv: r = 1/D, d3 = x*r, y = x*r*p3 + r, d1 = -y*r, d2 = d1*x.
FM_MODEL(Rational1) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = t * p[2] + p[1];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = (t * p[3] + 1.0) / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = t * p[2] + p[1];
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double r = 1.0 / D;
        deriv[3] = t * r;
        const double v = t * r * p[3] + r;
        y[1] = v;
        const double d1 = -v * r;
        deriv[1] = d1;
        deriv[2] = d1 * t;
        return 0;
      });
}

// Rational2: y = (x*p3 + p2)/D, D = x + p1. Exclusive; zero D as above.
//   deriv: d2 = 1/D, d3 = x/D, y = d3*p3 + d2*p2, d1 = -y*d2.
FM_MODEL(Rational2) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = t + p[1];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = (t * p[3] + p[2]) / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = t + p[1];
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double d2 = 1.0 / D;
        const double d3 = t / D;
        deriv[2] = d2;
        deriv[3] = d3;
        const double v = d3 * p[3] + d2 * p[2];
        y[1] = v;
        deriv[1] = -v * d2;
        return 0;
      });
}

// Rational3: y = (x + p2)/D, D = x*p3 + p1. Exclusive; zero D as above.
//   deriv: d2 = 1/D, y = (p2 + x)*d2, d1 = -y*d2, d3 = d1*x.
FM_MODEL(Rational3) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = t * p[3] + p[1];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = (t + p[2]) / D;
        return 0;
      },
      [&]() -> int32_t {
        const double D = t * p[3] + p[1];
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double d2 = 1.0 / D;
        deriv[2] = d2;
        const double v = (p[2] + t) * d2;
        y[1] = v;
        const double d1 = -v * d2;
        deriv[1] = d1;
        deriv[3] = d1 * t;
        return 0;
      });
}

// Rational4: y = p2/D + p3, D = p1 + x. Exclusive; zero D as above.
//   deriv: d3 = 1, d2 = 1/D, d1 = -p2*d2^2, y = p2*d2 + p3.
FM_MODEL(Rational4) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = p[1] + t;
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = p[2] / D + p[3];
        return 0;
      },
      [&]() -> int32_t {
        const double D = p[1] + t;
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        deriv[3] = 1.0;
        const double d2 = 1.0 / D;
        deriv[2] = d2;
        deriv[1] = -p[2] * (d2 * d2);
        y[1] = p[2] * d2 + p[3];
        return 0;
      });
}

// Rational5: y = (p2*x + p1)/D, D = p4*x^2 + (p3*x + 1). With neither bit 1 nor bit 2 return
// 0; otherwise D is computed, and D == 0 writes MISSING_VALUE into y and, with bit 2, into
// d1..d4 and returns 1 (errno untouched); else y is written and, with bit 2,
//   d1 = 1/D, d2 = x/D, d3 = -(p2*x + p1)*x/D^2, d4 = -(p2*x + p1)*x^2/D^2.
FM_MODEL(Rational5) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const double D = p[4] * (t * t) + (p[3] * t + 1.0);
  if (D == 0.0) {
    if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, 4);
    return fm::guard_failure(y);
  }
  const double N = p[2] * t + p[1];
  y[1] = N / D;
  if (fm::wants_deriv(request)) {
    const double D2 = D * D;
    deriv[1] = 1.0 / D;
    deriv[2] = t / D;
    deriv[3] = -N * t / D2;
    deriv[4] = -N * (t * t) / D2;
  }
  return 0;
}
