// Two-parameter exponential and logarithmic curves: y = a*b^x and its forms with the natural
// exponential (Exp2P, Exp2PMod1, Exp2PMod2), the rising exponential y = a*(1 - e^(-bx)) in two
// forms (BoxLucas1, BoxLucas1Mod), the shifted growth curve y = e^(b*(x - a)) (ExpGrowth), the
// logarithmic curves y = b*ln(x - a) and y = ln(a + b*x) (Log2P1, Log2P2), and the
// expected-value forms BoxLucas1EVP, Exp2PEVP, Log2P1EVP and Log2P2EVP.
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n]. None
// reads nParams or answers REQ_QUERY; bit 0 returns 1. An expected-value form reads more
// parameters than its registry row declares (given at each); the caller supplies params and
// deriv of that length. "errno test" means errno equal to 34 or 33 after the named call(s); a
// guard failure writes MISSING_VALUE into y[1] and returns 1 with errno untouched, a standard
// failure also resets errno to 0.
//
// Request frames:
//   value-then-derivatives (BoxLucas1): with bit 1 the value step runs and a failure there ends
//     the call; without bit 2 return 0; else the derivative step writes y again with the
//     derivatives.
//   exclusive (all others): with bit 1 only the value is computed; with bit 2 alone the
//     derivatives and y; with neither bit return 0.
#include "frame/contract.h"
#include "models/tail_math.h"

// BoxLucas1: y = p1*(1 - e^(-p2*x)). Value-then-derivatives.
// g = 1 - e is formed as -expm1(-(p2*x)), which keeps its digits for small p2*x, and d2 from
// e itself, which keeps them where e is tiny (1 - g rounds to 0 beyond p2*x of about 37; e is
// 0 only below -300, as everywhere).
//   value: g; errno test (the overflow of the exponential) -> standard failure; y = g*p1.
//   deriv: g and e = exp(-(p2*x)); errno test -> d1 = d2 = MISSING_VALUE, standard failure.
//     d1 = g, d2 = x*p1*e, y = g*p1.
FM_MODEL(BoxLucas1) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    const double g = fm::one_minus_exp(-(p[2] * t));
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = g * p[1];
  }
  if (!fm::wants_deriv(request)) return 0;
  const double g = fm::one_minus_exp(-(p[2] * t));
  const double e = fm::checked_exp(-(p[2] * t));
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
  deriv[1] = g;
  deriv[2] = t * p[1] * e;
  y[1] = g * p[1];
  return 0;
}

// BoxLucas1Mod: y = p1*(1 - p2^x). Exclusive.
//   value: p2 <= 0 -> guard failure. t = p2^x; errno test -> standard failure;
//     y = (1 - t)*p1.
//   deriv: p2 <= 0 -> y, d1, d2 = MISSING_VALUE, return 1 (errno untouched). d2 = t; errno
//     test -> d1 = d2 = MISSING_VALUE, standard failure. d1 = 1 - t, y = d1*p1,
//     d2 = -t*p1*x/p2.
//   1 - t is formed as -expm1(x ln p2) where t is near 1.
FM_MODEL(BoxLucas1Mod) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[2] <= 0.0) return fm::guard_failure(y);
        const double P = fm::checked_pow(p[2], t);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = fm::one_minus_pow(p[2], t, P) * p[1];
        return 0;
      },
      [&]() -> int32_t {
        if (p[2] <= 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double P = fm::checked_pow(p[2], t);
        deriv[2] = P;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        const double d1 = fm::one_minus_pow(p[2], t, P);
        deriv[1] = d1;
        y[1] = d1 * p[1];
        deriv[2] = -P * p[1] * t / p[2];
        return 0;
      });
}

// BoxLucas1EVP (reads p1..p3): the curve of BoxLucas1Mod through (p1, p2):
//   y = p2*(1 - p3^x)/(1 - p3^p1). Exclusive.
//   value: unless p3 > 0, p1 != 0 and p3 != 1 -> guard failure. a = p3^x; errno test ->
//     standard failure. b = p3^p1; an overflow (errno 34) is the limit of the curve as p3^p1
//     grows without bound: y = 0, return 0, errno left at 34. Else y = (1 - a)*p2/(1 - b).
//   deriv: the same guards -> y, d1..d3 = MISSING_VALUE, return 1 (errno untouched). a; errno
//     test -> d1..d3 = MISSING_VALUE, standard failure. b; errno 34 -> y = d1 = d2 = d3 = 0,
//     return 0 with errno left at 34. Else d2 = (1 - a)/(1 - b), y = d2*p2,
//     d1 = ln(p3)*y*b/(1 - b), d3 = (y*p1*b - p2*x*a)/p3/(1 - b).
//   1 - a and 1 - b are formed as -expm1(x ln p3) and -expm1(p1 ln p3) where a or b is near 1.
FM_MODEL(BoxLucas1EVP) {
  const double *p = params;
  const double t = x[1];
  auto outside = [&]() { return !(p[3] > 0.0 && p[1] != 0.0 && p[3] != 1.0); };
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (outside()) return fm::guard_failure(y);
        const double a = fm::checked_pow(p[3], t);
        if (fm::math_error()) return fm::standard_failure(y);
        const double b = fm::checked_pow(p[3], p[1]);
        if (fm::overflow_error()) {  // errno stays 34
          y[1] = 0.0;
          return 0;
        }
        y[1] = fm::one_minus_pow(p[3], t, a) * p[2] / fm::one_minus_pow(p[3], p[1], b);
        return 0;
      },
      [&]() -> int32_t {
        if (outside()) return fm::guard_failure_all(y, deriv, 3);
        const double a = fm::checked_pow(p[3], t);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double b = fm::checked_pow(p[3], p[1]);
        if (fm::overflow_error()) {  // errno stays 34
          y[1] = deriv[1] = deriv[2] = deriv[3] = 0.0;
          return 0;
        }
        const double q = fm::one_minus_pow(p[3], p[1], b);  // 1 - b
        const double d2 = fm::one_minus_pow(p[3], t, a) / q;
        deriv[2] = d2;
        const double v = d2 * p[2];
        y[1] = v;
        deriv[1] = fm::log(p[3]) * v * b / q;
        deriv[3] = (v * p[1] * b - p[2] * t * a) / p[3] / q;
        return 0;
      });
}

// Exp2P: y = p1*p2^x. Exclusive.
//   value: p2 <= 0 -> guard failure. t = p2^x; errno test -> standard failure; y = t*p1.
//   deriv: p2 <= 0 -> guard failure, no derivative written. d1 = t = p2^x; errno test ->
//     standard failure (d1 keeps the power's result, d2 is not written). y = p1*t,
//     d2 = y*x/p2.
FM_MODEL(Exp2P) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[2] <= 0.0) return fm::guard_failure(y);
        const double P = fm::checked_pow(p[2], t);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = P * p[1];
        return 0;
      },
      [&]() -> int32_t {
        if (p[2] <= 0.0) return fm::guard_failure(y);
        const double P = fm::checked_pow(p[2], t);
        deriv[1] = P;
        if (fm::math_error()) return fm::standard_failure(y);
        const double v = p[1] * P;
        y[1] = v;
        deriv[2] = v * t / p[2];
        return 0;
      });
}

// Exp2PMod1: y = p1*e^(p2*x). Exclusive.
//   value: e = exp(p2*x); y = e*p1; errno test -> standard failure.
//   deriv: d1 = e; errno test -> d1 = d2 = MISSING_VALUE, standard failure. y = p1*e,
//     d2 = y*x.
FM_MODEL(Exp2PMod1) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double e = fm::checked_exp(p[2] * t);
        y[1] = e * p[1];
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        const double e = fm::checked_exp(p[2] * t);
        deriv[1] = e;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        const double v = p[1] * e;
        y[1] = v;
        deriv[2] = v * t;
        return 0;
      });
}

// Exp2PMod2: y = e^(p1 + p2*x). Exclusive.
//   value: y = exp(p2*x + p1); errno test -> standard failure.
//   deriv: y as above; errno test -> standard failure, no derivative written. d1 = y,
//     d2 = y*x.
FM_MODEL(Exp2PMod2) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        y[1] = fm::checked_exp(p[2] * t + p[1]);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        const double v = fm::checked_exp(p[2] * t + p[1]);
        y[1] = v;
        if (fm::math_error()) return fm::standard_failure(y);
        deriv[1] = v;
        deriv[2] = v * t;
        return 0;
      });
}

// Exp2PEVP (reads p1..p4): the curve of Exp2P through (p1, p2) and (p3, p4):
//   y = p2^((x - p3)/(p1 - p3)) * p4^((p1 - x)/(p1 - p3)). Exclusive.
//   value: unless p2 > 0 and p4 > 0 -> guard failure. D = p1 - p3; D == 0 -> guard failure.
//     u = p2^((x - p3)/D), v = p4^((p1 - x)/D), y = u*v; one errno test after both ->
//     standard failure.
//   deriv: the guards -> guard failure, no derivative written. r = x - p3, s = p1 - x,
//     y = u*v; errno test -> errno 0, y and d1..d4 = MISSING_VALUE, return 1.
//     d1 = ln(p4/p2)*r*y/D^2, d3 = ln(p4/p2)*s*y/D^2, d2 = r*y/D/p2, d4 = s*y/D/p4; an errno
//     test after ln(p4/p2) -> errno 0, d1..d4 = MISSING_VALUE, return 1 (y stays).
FM_MODEL(Exp2PEVP) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (!(p[2] > 0.0 && p[4] > 0.0)) return fm::guard_failure(y);
        const double D = p[1] - p[3];
        if (D == 0.0) return fm::guard_failure(y);
        const double u = fm::checked_pow(p[2], (t - p[3]) / D);
        const double v = fm::checked_pow(p[4], (p[1] - t) / D);
        y[1] = u * v;
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (!(p[2] > 0.0 && p[4] > 0.0)) return fm::guard_failure(y);
        const double D = p[1] - p[3];
        if (D == 0.0) return fm::guard_failure(y);
        const double r = t - p[3];
        const double s = p[1] - t;
        const double u = fm::checked_pow(p[2], r / D);
        const double v = fm::checked_pow(p[4], s / D);
        const double w = u * v;
        y[1] = w;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
        const double L = fm::log(p[4] / p[2]);
        if (fm::math_error()) {
          errno = 0;
          fm::set_missing(deriv, 1, 4);
          return 1;
        }
        const double D2 = D * D;
        deriv[1] = L * r * w / D2;
        deriv[3] = L * s * w / D2;
        deriv[2] = r * w / D / p[2];
        deriv[4] = s * w / D / p[4];
        return 0;
      });
}

// ExpGrowth: y = e^((x - p1)*p2). Exclusive.
//   value: p2 == 0 or x == p1 -> y = 1 without an exponential. Else y = exp((x - p1)*p2);
//     errno test -> standard failure.
//   deriv: x == p1 -> y = 1, d1 = -p2, d2 = 0. p2 == 0 -> y = 1, d1 = 0, d2 = x - p1. Else
//     y = exp((x - p1)*p2); errno test -> d1 = d2 = MISSING_VALUE, standard failure.
//     d2 = (x - p1)*y, d1 = -p2*y.
FM_MODEL(ExpGrowth) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[2] == 0.0 || t == p[1]) {
          y[1] = 1.0;
          return 0;
        }
        y[1] = fm::checked_exp((t - p[1]) * p[2]);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (t == p[1]) {
          y[1] = 1.0;
          deriv[1] = -p[2];
          deriv[2] = 0.0;
          return 0;
        }
        if (p[2] == 0.0) {
          y[1] = 1.0;
          deriv[1] = 0.0;
          deriv[2] = t - p[1];
          return 0;
        }
        const double v = fm::checked_exp((t - p[1]) * p[2]);
        y[1] = v;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        deriv[2] = (t - p[1]) * v;
        deriv[1] = -p[2] * v;
        return 0;
      });
}

// Log2P1: y = p2*ln(x - p1). Exclusive.
//   value: s = x - p1; s <= 0 -> guard failure. y = ln(s)*p2; errno test -> standard failure.
//   deriv: s <= 0 -> y, d1, d2 = MISSING_VALUE, return 1 (errno untouched). d2 = ln(s);
//     errno test -> d1 = d2 = MISSING_VALUE, standard failure. d1 = -p2/s, y = p2*d2.
FM_MODEL(Log2P1) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double s = t - p[1];
        if (s <= 0.0) return fm::guard_failure(y);
        y[1] = fm::log(s) * p[2];
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        const double s = t - p[1];
        if (s <= 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double L = fm::log(s);
        deriv[2] = L;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        deriv[1] = -p[2] / s;
        y[1] = p[2] * L;
        return 0;
      });
}

// Log2P1EVP (reads p1..p3): the curve of Log2P1 through (p1, p2) with scale p3:
//   y = p3*ln(x - p1 + e^(p2/p3)). Exclusive. A zero scale p3 admits no curve through
//   (p1, p2) (the formula gives 0*ln(inf) or a NaN) and is a standard failure on both paths.
//   value: p3 == 0 -> standard failure. E = exp(p2/p3); errno test -> standard failure.
//     s = x - p1 + E; s <= 0 -> standard failure. y = ln(s)*p3; errno test -> standard
//     failure.
//   deriv: p3 == 0, E's errno test and s <= 0 -> standard failure, no derivative written.
//     d1 = -p3/s, d2 = E/s, y = ln(s)*p3; errno test -> d3 = MISSING_VALUE, standard failure.
//     d3 = (y - d2*p2)/p3.
FM_MODEL(Log2P1EVP) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[3] == 0.0) return fm::standard_failure(y);  // no curve of zero scale
        const double E = fm::checked_exp(p[2] / p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double s = t - p[1] + E;
        if (s <= 0.0) return fm::standard_failure(y);
        y[1] = fm::log(s) * p[3];
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (p[3] == 0.0) return fm::standard_failure(y);  // no curve of zero scale
        const double E = fm::checked_exp(p[2] / p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double s = t - p[1] + E;
        if (s <= 0.0) return fm::standard_failure(y);
        deriv[1] = -p[3] / s;
        const double d2 = E / s;
        deriv[2] = d2;
        const double v = fm::log(s) * p[3];
        y[1] = v;
        if (fm::math_error()) {
          deriv[3] = fm::kMissing;
          return fm::standard_failure(y);
        }
        deriv[3] = (v - d2 * p[2]) / p[3];
        return 0;
      });
}

// Log2P2: y = ln(p1 + p2*x). Exclusive.
//   value: s = p2*x + p1; s <= 0 -> standard failure. y = ln(s); errno test -> standard
//     failure.
//   deriv: s <= 0 -> y, d1, d2 = MISSING_VALUE, return 1 (errno untouched). d1 = 1/s,
//     d2 = x/s, y = ln(s); errno test -> standard failure (d1, d2 stay).
FM_MODEL(Log2P2) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double s = p[2] * t + p[1];
        if (s <= 0.0) return fm::standard_failure(y);
        y[1] = fm::log(s);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        const double s = p[2] * t + p[1];
        if (s <= 0.0) return fm::guard_failure_all(y, deriv, 2);
        deriv[1] = 1.0 / s;
        deriv[2] = t / s;
        y[1] = fm::log(s);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      });
}

// Log2P2EVP (reads p1..p4): the curve of Log2P2 through (p1, p2) and (p3, p4):
//   y = ln(((x - p1)*e^p4 + (p3 - x)*e^p2)/(p3 - p1)). Exclusive.
//   value: D = p3 - p1; D == 0 -> guard failure. E2 = exp(p2), errno test -> standard
//     failure; E4 = exp(p4), errno test -> standard failure.
//     s = ((x - p1)*E4 + (p3 - x)*E2)/D; s <= 0 -> guard failure. y = ln(s); errno test ->
//     standard failure.
//   deriv: D == 0 -> guard failure; E2, E4 with their errno tests -> standard failure (no
//     derivative written); s <= 0 -> y, d1..d4 = MISSING_VALUE, return 1 (errno untouched).
//     N = s*D: d1 = 1/D - E4/N, d2 = (p3 - x)*E2/N, d3 = E2/N - 1/D, d4 = (x - p1)*E4/N.
//     Then y = ln(s); errno test -> standard failure (the derivatives stay).
FM_MODEL(Log2P2EVP) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double D = p[3] - p[1];
        if (D == 0.0) return fm::guard_failure(y);
        const double E2 = fm::checked_exp(p[2]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double E4 = fm::checked_exp(p[4]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double s = ((t - p[1]) * E4 + (p[3] - t) * E2) / D;
        if (s <= 0.0) return fm::guard_failure(y);
        y[1] = fm::log(s);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        const double D = p[3] - p[1];
        if (D == 0.0) return fm::guard_failure(y);
        const double E2 = fm::checked_exp(p[2]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double E4 = fm::checked_exp(p[4]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double s = ((t - p[1]) * E4 + (p[3] - t) * E2) / D;
        if (s <= 0.0) return fm::guard_failure_all(y, deriv, 4);
        const double N = s * D;
        deriv[1] = 1.0 / D - E4 / N;
        deriv[2] = (p[3] - t) * E2 / N;
        deriv[3] = E2 / N - 1.0 / D;
        deriv[4] = (t - p[1]) * E4 / N;
        y[1] = fm::log(s);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      });
}
