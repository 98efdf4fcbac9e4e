// Growth and yield curves built from one or two exponentials of x: the Bateman-type rise and
// fall (BoxLucas2), the exponential with a linear trend (ExpLinear), the Mitscherlich yield
// curves (MnMolecular, MnMolecular1) and the sum of two decays (Reich).
//
// Common to all five: bit 0 returns 1 and writes nothing; a request with neither bit 1 nor
// bit 2 returns 0 and writes nothing; nParams is never read and REQ_QUERY is not answered.
// Every exponential goes through checked_exp, so an argument below -300 gives exactly 0 and the
// formula carries on with it (a far-decayed term is never a failure). errno is never cleared on
// entry: a stale 34 or 33 fails the first errno test of a path that has one.
#include "frame/contract.h"

// BoxLucas2: y = p1/(p1 - p2) * (exp(-p2*x) - exp(-p1*x)).
//   Value-then-derivatives. D = p1 - p2 = 0 is a standard failure on either request (no deriv
//   written). e1 = exp(-(p1*x)) and e2 = exp(-(x*p2)), each followed by the errno test (34 or
//   33): the value request takes the standard failure, the derivative request first writes
//   deriv[1..2] = MISSING_VALUE. p1 = 0 gives y = 0 (after both exponentials).
//   Value: y = (e2 - e1)*p1/D.
//   Derivatives, with d = e2 - e1:
//     deriv[1] = (d - p1*d/D + p1*e1*x)/D,  deriv[2] = (p1*d/D - p1*e2*x)/D,  y = p1*d/D.
FM_MODEL(BoxLucas2) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  const double D = p1 - p2;
  if (fm::wants_value(request)) {
    if (D == 0.0) return fm::standard_failure(y);
    const double e1 = fm::checked_exp(-(p1 * t));
    if (fm::math_error()) return fm::standard_failure(y);
    const double e2 = fm::checked_exp(-(t * p2));
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = p1 != 0.0 ? (e2 - e1) * p1 / D : 0.0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (D == 0.0) return fm::standard_failure(y);
  const double e1 = fm::checked_exp(-(p1 * t));
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
  const double e2 = fm::checked_exp(-(t * p2));
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
  const double d = e2 - e1;
  deriv[1] = (d - p1 * d / D + p1 * e1 * t) / D;
  deriv[2] = (p1 * d / D - p1 * e2 * t) / D;
  y[1] = p1 == 0.0 ? 0.0 : p1 * d / D;
  return 0;
}

// ExpLinear: y = p1*exp(-x/p2) + p3 + p4*x.
//   Value-then-derivatives. p2 = 0 drops the exponential term: y = p4*x + p3 (and
//   deriv[1] = deriv[2] = 0), with no errno test.
//   Value: e = exp(-(x/p2)); errno 34 or 33 is a standard failure; y = e*p1 + p3 + p4*x.
//   Derivatives: deriv[3] = 1, deriv[4] = x, deriv[1] = E = exp(-(x/p2)),
//     deriv[2] = E*p1*x/(p2*p2), y = p4*x + p3 + E*p1; always return 0. This path has no errno
//     test: an overflowing exponential leaves its infinity in deriv and y, errno at 34, and a
//     stale errno passes through.
FM_MODEL(ExpLinear) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3], p4 = params[4], t = x[1];
  if (fm::wants_value(request)) {
    if (p2 == 0.0) {
      y[1] = p4 * t + p3;
    } else {
      const double e = fm::checked_exp(-(t / p2));
      if (fm::math_error()) return fm::standard_failure(y);
      y[1] = e * p1 + p3 + p4 * t;
    }
  }
  if (!fm::wants_deriv(request)) return 0;
  deriv[3] = 1.0;
  deriv[4] = t;
  if (p2 != 0.0) {
    const double E = fm::checked_exp(-(t / p2));
    deriv[1] = E;
    const double Y = E * p1;
    deriv[2] = Y * t / (p2 * p2);
    y[1] = p4 * t + p3 + Y;
  } else {
    deriv[1] = 0.0;
    deriv[2] = 0.0;
    y[1] = p4 * t + p3;
  }
  return 0;
}

// MnMolecular: y = p1*(1 - exp(-p3*(x - p2))).
//   Value-then-derivatives.
//   Value: when x - p2 != 0 and p1 != 0, e = exp(-((x - p2)*p3)), errno 34 or 33 is a standard
//     failure, y = (1 - e)*p1; otherwise y = 0 without any exponential or errno test.
//   Derivatives: at x = p2, y = 0 and deriv[1..3] = 0, -(p3*p1), 0, with no errno test.
//     Elsewhere e as above; only errno 34 is tested, and it writes deriv[1..3] = MISSING_VALUE
//     before the standard failure. deriv[1] = 1 - e, y = (1 - e)*p1, c = e*p1,
//     deriv[2] = -(c*p3), deriv[3] = (x - p2)*c.
FM_MODEL(MnMolecular) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3];
  const double dx = x[1] - p2;
  if (fm::wants_value(request)) {
    if (dx != 0.0 && p1 != 0.0) {
      const double e = fm::checked_exp(-(dx * p3));
      if (fm::math_error()) return fm::standard_failure(y);
      y[1] = (1.0 - e) * p1;
    } else {
      y[1] = 0.0;
    }
  }
  if (!fm::wants_deriv(request)) return 0;
  if (dx == 0.0) {
    y[1] = 0.0;
    deriv[1] = 0.0;
    deriv[2] = -(p3 * p1);
    deriv[3] = 0.0;
    return 0;
  }
  const double e = fm::checked_exp(-(dx * p3));
  if (fm::overflow_error()) return fm::all_missing_failure(y, deriv, 3);
  deriv[1] = 1.0 - e;
  y[1] = (1.0 - e) * p1;
  const double c = e * p1;
  deriv[2] = -(c * p3);
  deriv[3] = dx * c;
  return 0;
}

// MnMolecular1: y = p1 - p2*exp(-p3*x).
//   Value-then-derivatives.
//   Value: e = exp(-(p3*x)); errno 34 or 33 is a standard failure; y = p1 - e*p2.
//   Derivatives: deriv[1] = 1; deriv[2] = -exp(-(p3*x)); errno 34 or 33 writes
//     deriv[2..3] = MISSING_VALUE (deriv[1] stays 1) before the standard failure;
//     deriv[3] = -(p2*deriv[2]*x); y = p1 + p2*deriv[2].
FM_MODEL(MnMolecular1) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3], t = x[1];
  if (fm::wants_value(request)) {
    const double e = fm::checked_exp(-(p3 * t));
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = p1 - e * p2;
  }
  if (!fm::wants_deriv(request)) return 0;
  deriv[1] = 1.0;
  const double d2 = -fm::checked_exp(-(p3 * t));
  if (fm::math_error()) {
    fm::set_missing(deriv, 2, 3);
    return fm::standard_failure(y);
  }
  deriv[2] = d2;
  deriv[3] = -(p2 * d2 * t);
  y[1] = p1 + p2 * d2;
  return 0;
}

// Reich: y = p1*exp(-p2*x) + p3*exp(-p4*x). Values only, no derivative code: bit 0 returns 1,
// a request without bit 1 returns 0; neither writes anything.
//   e1 = exp(-(p2*x)), then e2 = exp(-(p4*x)), each followed by the errno test (34 or 33: standard
//   failure); y = e2*p3 + e1*p1.
FM_MODEL(Reich) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value(request)) return 0;
  const double p1 = params[1], p2 = params[2], p3 = params[3], p4 = params[4], t = x[1];
  const double e1 = fm::checked_exp(-(p2 * t));
  if (fm::math_error()) return fm::standard_failure(y);
  const double e2 = fm::checked_exp(-(p4 * t));
  if (fm::math_error()) return fm::standard_failure(y);
  y[1] = e2 * p3 + e1 * p1;
  return 0;
}
