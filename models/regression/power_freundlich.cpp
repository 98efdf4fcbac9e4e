// Power-law curves of one independent variable: the two-parameter power law y = a*x^b
// (Allometric1, Freundlich - also behind the TimePow row -, FreundlichMod1 with exponent 1/b),
// the power law with offset (Allometric2, Freundlich3P, Freundlich3PMod), the extended
// Freundlich law whose exponent decays as a power of x (FreundlichEXT), the shifted power law
// Belehradek, and the expected-value forms FreundlichEVP, Freundlich3PEVP1, Freundlich3PEVP2
// and FreundlichEXTEVP.
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n]. None
// reads nParams or answers REQ_QUERY. An expected-value form reads more parameters than its
// registry row declares (given at each); the caller supplies params and deriv of that length.
// "errno test" means errno equal to 34 or 33 after the named call(s); a guard failure writes
// MISSING_VALUE into y[1] and returns 1 with errno untouched, a standard failure also resets
// errno to 0.
//
// Request frames:
//   value-then-derivatives (Allometric1, Allometric2, Freundlich3PMod): bit 0 returns 1; with
//     bit 1 the value step runs and a failure there ends the call; without bit 2 return 0; else
//     the derivative step writes y again with the derivatives.
//   exclusive (all others): bit 0 returns 1 (Freundlich3PEVP2: 0); with bit 1 only the value
//     is computed; with bit 2 alone the derivatives and y; with neither bit return 0.
#include "frame/contract.h"

// Allometric1: y = p1*x^p2. Value-then-derivatives.
//   value: x <= 0 -> standard failure. p1 == 0 gives y = 0 without the power (even where
//     x^p2 would overflow). Else t = x^p2; errno test -> standard failure; y = p1*t.
//   deriv: x <= 0 -> d1 = d2 = MISSING_VALUE, standard failure. d1 = t = x^p2 (also for
//     p1 == 0); errno test -> d1 = d2 = MISSING_VALUE, standard failure. y = p1*t,
//     d2 = ln(x)*y; errno test after the logarithm -> errno 0, d2 = MISSING_VALUE, return 1
//     (y and d1 stay).
FM_MODEL(Allometric1) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> fm::ValueStep {
        if (t <= 0.0) return fm::value_failure(y);
        if (p[1] == 0.0) {
          y[1] = 0.0;
          return true;
        }
        const double P = fm::checked_pow(t, p[2]);
        if (fm::math_error()) return fm::value_failure(y);
        y[1] = p[1] * P;
        return true;
      },
      [&]() -> int32_t {
        if (t <= 0.0) return fm::all_missing_failure(y, deriv, 2);
        const double P = fm::checked_pow(t, p[2]);
        deriv[1] = P;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        y[1] = p[1] * P;
        deriv[2] = fm::log(t) * y[1];
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 2, 2);
        return 0;
      });
}

// Allometric2: y = p1 + p2*x^p3. Value-then-derivatives.
//   value: x <= 0 -> standard failure. p2 == 0 gives y = p1 without the power. Else
//     t = x^p3; errno test -> standard failure; y = t*p2 + p1.
//   deriv: x <= 0 -> d1..d3 = MISSING_VALUE, standard failure. d1 = 1, d2 = t = x^p3; errno
//     test -> d2 = d3 = MISSING_VALUE, standard failure (d1 stays 1). y = p2*t,
//     d3 = ln(x)*y; errno test -> errno 0, d3 = MISSING_VALUE, return 1 (y then holds p2*t);
//     else y = p1 + p2*t.
FM_MODEL(Allometric2) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> fm::ValueStep {
        if (t <= 0.0) return fm::value_failure(y);
        if (p[2] == 0.0) {
          y[1] = p[1];
          return true;
        }
        const double P = fm::checked_pow(t, p[3]);
        if (fm::math_error()) return fm::value_failure(y);
        y[1] = P * p[2] + p[1];
        return true;
      },
      [&]() -> int32_t {
        if (t <= 0.0) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = 1.0;
        const double P = fm::checked_pow(t, p[3]);
        deriv[2] = P;
        if (fm::math_error()) {
          fm::set_missing(deriv, 2, 3);
          return fm::standard_failure(y);
        }
        const double v = p[2] * P;
        y[1] = v;
        deriv[3] = fm::log(t) * v;
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 3, 3);
        y[1] = p[1] + v;
        return 0;
      });
}

// Freundlich3PMod: y = p1 + p2*x^(1/p3). Value-then-derivatives. x is not tested: a negative
// x with a non-integral 1/p3 fails through the errno test after the power.
//   value: p3 == 0 -> standard failure. t = x^(1/p3); errno test -> standard failure;
//     y = t*p2 + p1.
//   deriv: p3 == 0 -> d1..d3 = MISSING_VALUE, standard failure. d1 = 1, d2 = t = x^(1/p3);
//     errno test -> d2 = d3 = MISSING_VALUE, standard failure. y = p2*t + p1,
//     d3 = -ln(x)*p2*t/p3^2. The derivative in p3 needs ln(x): at x <= 0 (x = 0, or a negative
//     x with an integral 1/p3) the logarithm fails (34 or 33) and the call resets errno,
//     writes d3 = MISSING_VALUE and returns 1 with y, d1 and d2 written.
FM_MODEL(Freundlich3PMod) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> fm::ValueStep {
        if (p[3] == 0.0) return fm::value_failure(y);
        const double P = fm::checked_pow(t, 1.0 / p[3]);
        if (fm::math_error()) return fm::value_failure(y);
        y[1] = P * p[2] + p[1];
        return true;
      },
      [&]() -> int32_t {
        if (p[3] == 0.0) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = 1.0;
        const double P = fm::checked_pow(t, 1.0 / p[3]);
        deriv[2] = P;
        if (fm::math_error()) {
          fm::set_missing(deriv, 2, 3);
          return fm::standard_failure(y);
        }
        y[1] = p[2] * P + p[1];
        const double L = fm::log(t);
        if (fm::math_error()) {  // no real logarithm of x <= 0: d3 does not exist there
          errno = 0;
          deriv[3] = fm::kMissing;
          return 1;
        }
        deriv[3] = -L * p[2] * P / (p[3] * p[3]);
        return 0;
      });
}

// Freundlich (the function of the rows Freundlich and TimePow): y = p1*x^p2. Exclusive.
//   value: x <= 0 -> guard failure. t = x^p2; errno test -> standard failure; y = p1*t.
//   deriv: x <= 0 -> y, d1, d2 = MISSING_VALUE, return 1 (errno untouched). d1 = t = x^p2;
//     errno test -> d1 = d2 = MISSING_VALUE, standard failure. y = p1*t, d2 = ln(x)*y; errno
//     test -> errno 0, d2 = MISSING_VALUE, return 1.
FM_MODEL(Freundlich) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (t <= 0.0) return fm::guard_failure(y);
        const double P = fm::checked_pow(t, p[2]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[1] * P;
        return 0;
      },
      [&]() -> int32_t {
        if (t <= 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double P = fm::checked_pow(t, p[2]);
        deriv[1] = P;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        y[1] = p[1] * P;
        deriv[2] = fm::log(t) * y[1];
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 2, 2);
        return 0;
      });
}

// FreundlichMod1: y = p1*x^(1/p2). Exclusive.
//   value: x <= 0 or p2 == 0 -> guard failure. t = x^(1/p2); y = t*p1; errno test ->
//     standard failure.
//   deriv: x <= 0 or p2 == 0 -> y, d1, d2 = MISSING_VALUE, return 1 (errno untouched).
//     d1 = t; errno test -> d1 = d2 = MISSING_VALUE, standard failure. y = p1*t,
//     d2 = -(ln(x)*y/p2)/p2; errno test -> errno 0, d2 = MISSING_VALUE, return 1.
FM_MODEL(FreundlichMod1) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (t <= 0.0 || p[2] == 0.0) return fm::guard_failure(y);
        const double P = fm::checked_pow(t, 1.0 / p[2]);
        y[1] = P * p[1];
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (t <= 0.0 || p[2] == 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double P = fm::checked_pow(t, 1.0 / p[2]);
        deriv[1] = P;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        y[1] = p[1] * P;
        deriv[2] = -(fm::log(t) * y[1] / p[2]) / p[2];
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 2, 2);
        return 0;
      });
}

// FreundlichEVP (reads p1..p4): the power law y = a*x^b through (p1, p2) and (p3, p4):
//   y = p2*(p4/p2)^r, r = ln(x/p1)/ln(p3/p1). Exclusive.
//   value: unless p1, p3, p2, p4 and x are all > 0 -> guard failure; p1 == p3 -> guard
//     failure. L1 = ln(x/p1), L2 = ln(p3/p1); errno test -> standard failure.
//     y = (p4/p2)^(L1/L2); errno test -> standard failure; y = y*p2.
//   deriv: the same guards -> y, d1..d4 = MISSING_VALUE, return 1 (errno untouched). L1, L2,
//     y = p2*(p4/p2)^r; an errno test failing after the logarithms or after the power ->
//     d1..d4 = MISSING_VALUE, standard failure. q = p4/p2, T = ln(q)*y/L2 (errno test ->
//     errno 0, d1..d4 = MISSING_VALUE, return 1, y stays); d3 = -T*r/p3,
//     d1 = (r - 1)/p1*T, d2 = (1 - r)*y/p2, d4 = r*y/p4.
FM_MODEL(FreundlichEVP) {
  const double *p = params;
  const double t = x[1];
  auto outside = [&]() {
    return !(p[1] > 0.0 && p[3] > 0.0 && p[2] > 0.0 && p[4] > 0.0 && t > 0.0) || p[1] == p[3];
  };
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (outside()) return fm::guard_failure(y);
        const double L1 = fm::log(t / p[1]);
        const double L2 = fm::log(p[3] / p[1]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double P = fm::checked_pow(p[4] / p[2], L1 / L2);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = P * p[2];
        return 0;
      },
      [&]() -> int32_t {
        if (outside()) return fm::guard_failure_all(y, deriv, 4);
        const double L1 = fm::log(t / p[1]);
        const double L2 = fm::log(p[3] / p[1]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
        const double r = L1 / L2;
        const double q = p[4] / p[2];
        const double v = p[2] * fm::checked_pow(q, r);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
        y[1] = v;
        const double T = fm::log(q) * v / L2;
        if (fm::math_error()) {
          errno = 0;
          fm::set_missing(deriv, 1, 4);
          return 1;
        }
        deriv[3] = -T * r / p[3];
        deriv[1] = (r - 1.0) / p[1] * T;
        deriv[2] = (1.0 - r) * v / p[2];
        deriv[4] = r * v / p[4];
        return 0;
      });
}

// Freundlich3P: y = p1 + p2*x^p3. Exclusive.
//   value: x <= 0 -> guard failure. t = x^p3; errno test -> standard failure; y = p2*t + p1.
//   deriv: x <= 0 -> y, d1..d3 = MISSING_VALUE, return 1 (errno untouched). d2 = t = x^p3;
//     errno test -> d1..d3 = MISSING_VALUE, standard failure. d1 = 1, y = p2*t + p1,
//     d3 = p2*t*ln(x); errno test -> errno 0, d3 = MISSING_VALUE, return 1.
FM_MODEL(Freundlich3P) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (t <= 0.0) return fm::guard_failure(y);
        const double P = fm::checked_pow(t, p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[2] * P + p[1];
        return 0;
      },
      [&]() -> int32_t {
        if (t <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double P = fm::checked_pow(t, p[3]);
        deriv[2] = P;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = 1.0;
        y[1] = p[2] * P + p[1];
        deriv[3] = p[2] * P * fm::log(t);
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 3, 3);
        return 0;
      });
}

// Freundlich3PEVP1 (reads p1..p4): the curve of Freundlich3P through (p1, p2):
//   y = p2 + p3*(x^p4 - p1^p4). Exclusive.
//   value: unless x > 0 and p1 > 0 -> guard failure. a = x^p4, b = p1^p4; one errno test
//     after both -> standard failure; y = (a - b)*p3 + p2.
//   deriv: unless x > 0 and p1 > 0 -> guard failure, no derivative written. a, b; errno
//     test -> standard failure, no derivative written. d2 = 1, d3 = a - b,
//     y = (a - b)*p3 + p2, d1 = -p3*p4*b/p1, d4 = (ln(x)*a - ln(p1)*b)*p3; errno test after
//     the two logarithms -> errno 0, d4 = MISSING_VALUE, return 1.
FM_MODEL(Freundlich3PEVP1) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (!(t > 0.0 && p[1] > 0.0)) return fm::guard_failure(y);
        const double a = fm::checked_pow(t, p[4]);
        const double b = fm::checked_pow(p[1], p[4]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = (a - b) * p[3] + p[2];
        return 0;
      },
      [&]() -> int32_t {
        if (!(t > 0.0 && p[1] > 0.0)) return fm::guard_failure(y);
        const double a = fm::checked_pow(t, p[4]);
        const double b = fm::checked_pow(p[1], p[4]);
        if (fm::math_error()) return fm::standard_failure(y);
        deriv[2] = 1.0;
        deriv[3] = a - b;
        y[1] = (a - b) * p[3] + p[2];
        deriv[1] = -p[3] * p[4] * b / p[1];
        deriv[4] = (fm::log(t) * a - fm::log(p[1]) * b) * p[3];
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 4, 4);
        return 0;
      });
}

// Freundlich3PEVP2 (reads p1..p5; value only): the curve with offset p1 through (p2, p3) and
// (p4, p5):
//   y = p1 + (p3 - p1)*((p5 - p1)/(p3 - p1))^(ln(x/p2)/ln(p4/p2)). Exclusive.
//   Bit 0 returns 0.
//   value: unless p2 > 0, p4 > 0 and x > 0 -> guard failure. Coincident abscissae (p2 == p4)
//     or an offset equal to the first ordinate (p3 == p1) leave the curve undetermined (the
//     formula divides by zero) -> guard failure. L1 = ln(x/p2), L2 = ln(p4/p2); errno test ->
//     standard failure. t = ((p5 - p1)/(p3 - p1))^(L1/L2); errno test -> standard failure;
//     y = (p3 - p1)*t + p1.
//   deriv (bit 2 without bit 1): y and d1..d5 = MISSING_VALUE, return 1 (errno untouched).
FM_MODEL(Freundlich3PEVP2) {
  if (fm::wants_reserved(request)) return 0;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (!(p[2] > 0.0 && p[4] > 0.0 && t > 0.0)) return fm::guard_failure(y);
    if (p[2] == p[4] || p[3] == p[1]) return fm::guard_failure(y);  // no curve through them
    const double L1 = fm::log(t / p[2]);
    const double L2 = fm::log(p[4] / p[2]);
    if (fm::math_error()) return fm::standard_failure(y);
    const double P = fm::checked_pow((p[5] - p[1]) / (p[3] - p[1]), L1 / L2);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = (p[3] - p[1]) * P + p[1];
    return 0;
  }
  if (fm::wants_deriv(request)) return fm::guard_failure_all(y, deriv, 5);
  return 0;
}

// FreundlichEXT: y = p1*x^(p2*x^(-p3)). Exclusive.
//   value: x <= 0 -> guard failure. u = x^(-p3); errno test -> standard failure.
//     t = x^(p2*u); errno test -> standard failure; y = p1*t.
//   deriv: x <= 0 -> y, d1..d3 = MISSING_VALUE, return 1 (errno untouched). u, then d1 = t;
//     an errno test failing after either power -> d1..d3 = MISSING_VALUE, standard failure.
//     y = p1*t, L = ln(x); errno test -> errno 0, d2 = d3 = MISSING_VALUE, return 1.
//     d2 = u*y*L, d3 = -d2*p2*L.
FM_MODEL(FreundlichEXT) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (t <= 0.0) return fm::guard_failure(y);
        const double u = fm::checked_pow(t, -p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double P = fm::checked_pow(t, p[2] * u);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[1] * P;
        return 0;
      },
      [&]() -> int32_t {
        if (t <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double u = fm::checked_pow(t, -p[3]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double P = fm::checked_pow(t, p[2] * u);
        deriv[1] = P;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double v = p[1] * P;
        y[1] = v;
        const double L = fm::log(t);
        if (fm::math_error()) {
          errno = 0;
          fm::set_missing(deriv, 2, 3);
          return 1;
        }
        const double d2 = u * v * L;
        deriv[2] = d2;
        deriv[3] = -d2 * p[2] * L;
        return 0;
      });
}

// FreundlichEXTEVP (reads p1..p4): the curve of FreundlichEXT through (p1, p2):
//   y = p2*x^(p3*x^(-p4)) / p1^(p3*p1^(-p4)). Exclusive.
//   value: unless x > 0 and p1 > 0 -> guard failure. a = x^(-p4), b = p1^(-p4); errno test
//     -> standard failure. c = x^(a*p3), e = p1^(b*p3); errno test -> standard failure.
//     e == 0 -> guard failure. y = c*p2/e.
//   deriv: the guards -> y, d1..d4 = MISSING_VALUE, return 1 (errno untouched); an errno test
//     failing after a, b or after c, e -> the same with errno 0; e == 0 -> the same with
//     errno untouched. d2 = c/e, y = d2*p2. Lx = ln(x), L1 = ln(p1); errno test -> errno 0,
//     d1 = d3 = d4 = MISSING_VALUE, return 1. d3 = (Lx*a - L1*b)*y,
//     d1 = -(1 - L1*p4)*p3*y*b/p1, d4 = (L1*b*L1 - Lx*a*Lx)*p3*y.
FM_MODEL(FreundlichEXTEVP) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (!(t > 0.0 && p[1] > 0.0)) return fm::guard_failure(y);
        const double a = fm::checked_pow(t, -p[4]);
        const double b = fm::checked_pow(p[1], -p[4]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double c = fm::checked_pow(t, a * p[3]);
        const double e = fm::checked_pow(p[1], b * p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        if (e == 0.0) return fm::guard_failure(y);
        y[1] = c * p[2] / e;
        return 0;
      },
      [&]() -> int32_t {
        if (!(t > 0.0 && p[1] > 0.0)) return fm::guard_failure_all(y, deriv, 4);
        const double a = fm::checked_pow(t, -p[4]);
        const double b = fm::checked_pow(p[1], -p[4]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
        const double c = fm::checked_pow(t, a * p[3]);
        const double e = fm::checked_pow(p[1], b * p[3]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
        if (e == 0.0) return fm::guard_failure_all(y, deriv, 4);
        const double d2 = c / e;
        deriv[2] = d2;
        const double v = d2 * p[2];
        y[1] = v;
        const double Lx = fm::log(t);
        const double L1 = fm::log(p[1]);
        if (fm::math_error()) {
          errno = 0;
          deriv[1] = deriv[3] = deriv[4] = fm::kMissing;
          return 1;
        }
        deriv[3] = (Lx * a - L1 * b) * v;
        deriv[1] = -(1.0 - L1 * p[4]) * p[3] * v * b / p[1];
        deriv[4] = (L1 * b * L1 - Lx * a * Lx) * p[3] * v;
        return 0;
      });
}

// Belehradek: y = p1*(x - p2)^p3. Exclusive. x - p2 is not tested on the value path: a
// negative base with a non-integral p3 fails through the errno test.
//   value: t = (x - p2)^p3; errno test -> standard failure; y = p1*t.
//   deriv: s = x - p2, d1 = t = s^p3; errno test -> d1..d3 = MISSING_VALUE, standard failure.
//     y = p1*t. g = s^(p3 - 1); errno test -> errno 0 and d2 = MISSING_VALUE, else
//     d2 = -p1*p3*g. s <= 0 -> d3 = MISSING_VALUE; else d3 = ln(s)*y, and an errno test after
//     the logarithm -> errno 0, d3 = MISSING_VALUE. Past the first power the call returns 0
//     in every case: a missing d2 or d3 is reported by the sentinel alone (e.g. at x = p2
//     with p3 > 0: y = 0, d3 = MISSING_VALUE, return 0).
FM_MODEL(Belehradek) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double P = fm::checked_pow(t - p[2], p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[1] * P;
        return 0;
      },
      [&]() -> int32_t {
        const double s = t - p[2];
        const double P = fm::checked_pow(s, p[3]);
        deriv[1] = P;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double v = p[1] * P;
        y[1] = v;
        const double g = fm::checked_pow(s, p[3] - 1.0);
        if (fm::math_error()) {
          errno = 0;
          deriv[2] = fm::kMissing;
        } else {
          deriv[2] = -p[1] * p[3] * g;
        }
        if (s <= 0.0) {
          deriv[3] = fm::kMissing;
          return 0;
        }
        deriv[3] = fm::log(s) * v;
        if (fm::math_error()) {
          errno = 0;
          deriv[3] = fm::kMissing;
        }
        return 0;
      });
}
