// Power and logistic curves: the symmetric power law about a centre (Power1), the two-sided
// power law with its own exponent on each side of the centre (Power2) and the four-parameter
// logistic sigmoid (Slogistic4).
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n].
// nParams is not read and REQ_QUERY is not answered (a request of 8 has neither bit and
// returns 0); bit 0 returns 1 and writes nothing; neither bit 1 nor bit 2 returns 0 and writes
// nothing. "errno test" means errno 34 or 33 after the guarded call; a failure is the standard
// one (errno 0, y[1] = MISSING_VALUE, return 1), an all-missing failure first writes
// MISSING_VALUE into every deriv slot of the model.
#include <cmath>

#include "frame/contract.h"

// Power1: y = A*|x - xc|^P; p1 = xc, p2 = A, p3 = P.
// Value-then-derivatives: with bit 1 the value is computed (a failure there ends the call);
// without bit 2 return 0; else the derivative step writes d1..d3 and y again.
//   value: x == xc gives y = 0 when P >= 0; a negative power has a pole at the centre, a
//     standard failure there. Elsewhere Q = checked_pow(|x - xc|, P), errno test; y = A*Q.
//   derivatives: P <= 0 -> all-missing failure (d1..d3). At x == xc: d2 = 0,
//     d1 = d3 = MISSING_VALUE (no slope exists at the tip of the power), y = 0, return 0.
//     Else Q = checked_pow(|x - xc|, P) into d2; an overflow (errno test) is an all-missing
//     failure, since y and its slopes would be infinite; d1 = -(P*A*Q/(x - xc)),
//     d3 = ln|x - xc|*(Q*A), y = Q*A, return 0.
FM_MODEL(Power1) {
  if (fm::wants_reserved(request)) return 1;
  const double xc = params[1], A = params[2], P = params[3];
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (t == xc) {
      if (P < 0.0) return fm::standard_failure(y);  // the pole at the centre has no value
      y[1] = 0.0;
    } else {
      const double Q = fm::checked_pow(std::fabs(t - xc), P);
      if (fm::math_error()) return fm::standard_failure(y);
      y[1] = A * Q;
    }
  }
  if (!fm::wants_deriv(request)) return 0;

  if (P <= 0.0) return fm::all_missing_failure(y, deriv, 3);
  if (t == xc) {
    deriv[2] = 0.0;
    deriv[1] = fm::kMissing;
    deriv[3] = fm::kMissing;
    y[1] = 0.0;
    return 0;
  }
  const double d = t - xc;
  const double Q = fm::checked_pow(std::fabs(d), P);
  deriv[2] = Q;
  // An overflowing power leaves infinite values: a failure, not a success with infinities.
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
  deriv[1] = -(P * A * Q / d);
  deriv[3] = fm::log(std::fabs(d)) * (Q * A);
  y[1] = Q * A;
  return 0;
}

// Power2: y = A*(xc - x)^P1 for x < xc, A*(x - xc)^P2 for x > xc, 0 at x = xc;
// p1 = xc, p2 = A, p3 = P1, p4 = P2. Value-then-derivatives, as Power1.
//   value: x == xc gives y = 0 when neither power is negative; a negative power on either side
//     has a pole at the centre, a standard failure there. Elsewhere
//     Q = checked_pow(|x - xc|, P1 when x < xc, else P2), errno test; y = A*Q.
//   derivatives: unless P1 > 0 and P2 > 0 -> all-missing failure (d1..d4). With d = x - xc:
//     d < 0: Q = checked_pow(-d, P1) into d2 (errno test: all-missing failure);
//       d1 = -(A*P1*Q/d), d4 = 0, d3 = ln(-d)*(Q*A).
//     d > 0: Q = checked_pow(d, P2) into d2 (same failure); d3 = 0, d1 = -(A*P2*Q/d),
//       d4 = ln(d)*(Q*A).
//     d == 0: d2 = 0; d1, d3, d4 = MISSING_VALUE.
//     Then y = A*d2, return 0.
FM_MODEL(Power2) {
  if (fm::wants_reserved(request)) return 1;
  const double xc = params[1], A = params[2], P1 = params[3], P2 = params[4];
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (t == xc) {
      // A negative power on either side has a pole at the centre.
      if (P1 < 0.0 || P2 < 0.0) return fm::standard_failure(y);
      y[1] = 0.0;
    } else {
      const double Q = fm::checked_pow(std::fabs(t - xc), xc > t ? P1 : P2);
      if (fm::math_error()) return fm::standard_failure(y);
      y[1] = A * Q;
    }
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!(P1 > 0.0 && P2 > 0.0)) return fm::all_missing_failure(y, deriv, 4);
  const double d = t - xc;
  if (d < 0.0) {
    const double Q = fm::checked_pow(-d, P1);
    deriv[2] = Q;
    if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
    deriv[1] = -(A * P1 * Q / d);
    deriv[4] = 0.0;
    deriv[3] = fm::log(-d) * (Q * A);
  } else if (d > 0.0) {
    const double Q = fm::checked_pow(d, P2);
    deriv[2] = Q;
    if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
    deriv[3] = 0.0;
    deriv[1] = -(A * P2 * Q / d);
    deriv[4] = fm::log(d) * (Q * A);
  } else {
    deriv[2] = 0.0;
    deriv[1] = deriv[3] = deriv[4] = fm::kMissing;
  }
  y[1] = A * deriv[2];
  return 0;
}

// Slogistic4: y = p2 + (p1 - p2)/(1 + E), E = checked_exp(-((x - p3)*p4)); p1 right-hand
// level, p2 left-hand level, p3 centre, p4 rate. Exclusive: bit 1 set -> value only; else
// bit 2 -> derivatives with y. It never fails. Only errno 34 is tested: an overflowing E (far
// on the left-hand side) gives the left-hand level, errno reset to 0.
//   value: errno 34 -> y = p2; else y = (p1 - p2)/(E + 1) + p2. Return 0.
//   derivatives: errno 34 -> y = p2, d1..d4 = 0, 1, 0, 0. Else q = 1/(E + 1), d1 = q,
//     d2 = 1 - q, t = (p1 - p2)*q, U = t*q*E, d3 = -(U*p4), d4 = (x - p3)*U, y = t + p2.
//     Return 0. For E < 1, d2 is formed as E/(E + 1), which keeps the digits that 1 - q loses
//     where E is small (the right-hand side).
FM_MODEL(Slogistic4) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3], p4 = params[4];
  const double t = x[1];
  if (fm::wants_value(request)) {
    const double E = fm::checked_exp(-((t - p3) * p4));
    if (fm::overflow_error()) {
      errno = 0;
      y[1] = p2;
      return 0;
    }
    y[1] = (p1 - p2) / (E + 1.0) + p2;
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;

  const double E = fm::checked_exp(-((t - p3) * p4));
  if (fm::overflow_error()) {
    errno = 0;
    y[1] = p2;
    deriv[1] = 0.0;
    deriv[2] = 1.0;
    deriv[3] = 0.0;
    deriv[4] = 0.0;
    return 0;
  }
  const double q = 1.0 / (E + 1.0);
  deriv[1] = q;
  deriv[2] = E < 1.0 ? E / (E + 1.0) : 1.0 - q;
  const double s = (p1 - p2) * q;
  const double U = s * q * E;
  deriv[3] = -(U * p4);
  deriv[4] = (t - p3) * U;
  y[1] = s + p2;
  return 0;
}
