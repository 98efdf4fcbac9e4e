// Sigmoidal growth curves of one variable: the Richards curve (Richards, SRichards1,
// SRichards2), the Gompertz curve (SGompertz), three logistic forms (SLogistic1..3) and two
// Weibull growth forms (SWeibull1, SWeibull2).
//
// Common to all: bit 0 set -> return 1, nothing written; neither bit 1 nor bit 2 -> return 0,
// nothing written; nParams is not read and REQ_QUERY is not answered. Every exponential and
// power goes through checked_exp / checked_pow; "errno test" below means errno 34 or 33 after
// the guarded call. Failures are the standard one (errno 0, y[1] = MISSING_VALUE, return 1);
// an all-missing failure first writes MISSING_VALUE into every deriv[1..n] of the model.
//
// Zero substitute: where the curve's exponential overflows (errno 34) the curve sits on its
// lower plateau; the model then resets errno to 0, writes y[1] = 0 (and 0 into every
// derivative when it computes derivatives) and returns 0. An exponential or power that only
// underflows leaves errno alone and follows the normal formula.
#include "frame/contract.h"

namespace {

int32_t zero_substitute(double *y, double *deriv, int n_deriv) {
  errno = 0;
  y[1] = 0.0;
  for (int i = 1; i <= n_deriv; ++i) deriv[i] = 0.0;
  return 0;
}

}  // namespace

// Richards: y = p1/(1 + exp(-(p2 + p3*x)/p4))^p4. Value, then derivatives.
//   value: p4 == 0 -> y = p1 (the limit as p4 -> 0), return 0;
//          e = checked_exp(-((p3*x + p2)/p4)), errno test; y = p1/checked_pow(e + 1, p4),
//          errno test.
//   derivatives: p4 > 0 required; t = (p3*x + p2)/p4, e = checked_exp(-t), X = e + 1,
//          d1 = X^-p4 (each errno test an all-missing failure); y = p1*d1, d2 = y*e/X,
//          d3 = d2*x, d4 = (-ln X - t*e/X)*y. Should ln X raise errno, errno is reset, d4 is
//          MISSING_VALUE and 1 is returned with y and d1..d3 valid.
FM_MODEL(Richards) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3], p4 = params[4];
  const double t0 = x[1];
  if (fm::wants_value(request)) {
    if (p4 == 0.0) {
      y[1] = p1;
      // With derivatives also asked for, go on to the derivative step (which refuses p4 = 0)
      // rather than report success with no derivatives written.
      if (!fm::wants_deriv(request)) return 0;
    } else {
      const double e = fm::checked_exp(-((p3 * t0 + p2) / p4));
      if (fm::math_error()) return fm::standard_failure(y);
      y[1] = p1 / fm::checked_pow(e + 1.0, p4);
      if (fm::math_error()) return fm::standard_failure(y);
    }
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!(p4 > 0.0)) return fm::all_missing_failure(y, deriv, 4);
  const double t = (p3 * t0 + p2) / p4;
  const double e = fm::checked_exp(-t);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  const double X = e + 1.0;
  deriv[1] = fm::checked_pow(X, -p4);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  const double Y = p1 * deriv[1];
  y[1] = Y;
  deriv[2] = Y * e / X;
  deriv[3] = deriv[2] * t0;
  const double d4 = -fm::log(X);
  if (fm::math_error()) {
    errno = 0;
    deriv[4] = fm::kMissing;
    return 1;
  }
  deriv[4] = (d4 - t * e / X) * Y;
  return 0;
}

// SRichards1: with q = 1 - p3 and E = exp(-p4*(x - p2)),
//   y = (p1^q - E)^(1/q) for p3 < 1,  y = (p1^q + E)^(1/q) for p3 > 1
// (p1 the asymptote, p3 the shape, p4 the rate). Value, then derivatives.
//   Both steps require p3 != 1, p1 > 0, p4 > 0; E = checked_exp(-((x - p2)*p4)) and
//   A = checked_pow(p1, 1 - p3), each with an errno test; B = A -/+ E must be > 0;
//   y = checked_pow(B, 1/(1 - p3)), errno test. Failures are standard in the value step and
//   all-missing (d1..d4) in the derivative step.
//   derivatives: r = y/B; d1 = (A/p1)*r; d2, d4 from r*E/q with the sign of B's E term;
//   d3 = (ln B/q - ln p1*A/B)*y/q, where a logarithm raising errno resets it and returns 1
//   with d3 = MISSING_VALUE (y and d1, d2, d4 valid).
FM_MODEL(SRichards1) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3], p4 = params[4];
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (!(p3 != 1.0 && p1 > 0.0 && p4 > 0.0)) return fm::standard_failure(y);
    const double E = fm::checked_exp(-((t - p2) * p4));
    if (fm::math_error()) return fm::standard_failure(y);
    const double A = fm::checked_pow(p1, 1.0 - p3);
    if (fm::math_error()) return fm::standard_failure(y);
    const double B = p3 < 1.0 ? A - E : A + E;
    if (B <= 0.0) return fm::standard_failure(y);
    y[1] = fm::checked_pow(B, 1.0 / (1.0 - p3));
    if (fm::math_error()) return fm::standard_failure(y);
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!(p3 != 1.0 && p1 > 0.0 && p4 > 0.0)) return fm::all_missing_failure(y, deriv, 4);
  const double E = fm::checked_exp(-((t - p2) * p4));
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  const double A = fm::checked_pow(p1, 1.0 - p3);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  const double B = p3 < 1.0 ? A - E : A + E;
  if (B <= 0.0) return fm::all_missing_failure(y, deriv, 4);
  const double Y = fm::checked_pow(B, 1.0 / (1.0 - p3));
  y[1] = Y;
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  const double q = 1.0 - p3;
  const double r = Y / B;
  deriv[1] = (A / p1) * r;
  if (p3 < 1.0) {
    deriv[4] = (t - p2) * (r * E / q);
    deriv[2] = -(r * E / q) * p4;
  } else {
    deriv[4] = -((t - p2) * (r * E / q));
    deriv[2] = (r * E / q) * p4;
  }
  double d3 = fm::log(B) / q;
  if (fm::math_error()) {
    errno = 0;
    deriv[3] = fm::kMissing;
    return 1;
  }
  d3 = d3 - fm::log(p1) * A / B;
  if (fm::math_error()) {
    errno = 0;
    deriv[3] = fm::kMissing;
    return 1;
  }
  deriv[3] = d3 * Y / q;
  return 0;
}

// SRichards2: y = p1*(1 - (1 - p3)*exp(-p4*(x - p2)))^(1/(1 - p3)). Value, then derivatives.
//   Both steps require p3 != 1, p1 > 0, p3 > 0, p4 > 0; E = checked_exp(-((x - p2)*p4)),
//   errno test; k = 1/(1 - p3); X = 1 - E/k must be > 0; X^k with an errno test. Failures
//   are standard in the value step and all-missing (d1..d4) in the derivative step.
//   derivatives: d1 = X^k, Y = d1*p1, c = Y*E/X, d4 = (x - p2)*c, d2 = -(p4*c),
//   d3 = k*Y*(E/X + k*ln X); should ln X raise errno, d3 = MISSING_VALUE and 1 is returned
//   with errno left as it is.
FM_MODEL(SRichards2) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3], p4 = params[4];
  const double t = x[1];
  const bool valid = p3 != 1.0 && p1 > 0.0 && p3 > 0.0 && p4 > 0.0;
  if (fm::wants_value(request)) {
    if (!valid) return fm::standard_failure(y);
    const double E = fm::checked_exp(-((t - p2) * p4));
    if (fm::math_error()) return fm::standard_failure(y);
    const double k = 1.0 / (1.0 - p3);
    const double X = 1.0 - E / k;
    if (X <= 0.0) return fm::standard_failure(y);
    const double v = fm::checked_pow(X, k);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = p1 * v;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!valid) return fm::all_missing_failure(y, deriv, 4);
  const double E = fm::checked_exp(-((t - p2) * p4));
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  const double k = 1.0 / (1.0 - p3);
  const double X = 1.0 - E / k;
  if (X <= 0.0) return fm::all_missing_failure(y, deriv, 4);
  deriv[1] = fm::checked_pow(X, k);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  const double Y = deriv[1] * p1;
  y[1] = Y;
  const double c = Y * E / X;
  deriv[4] = (t - p2) * c;
  deriv[2] = -(p4 * c);
  const double d3 = fm::log(X) * k;
  if (fm::math_error()) {
    deriv[3] = fm::kMissing;
    return 1;
  }
  deriv[3] = k * Y * (E / X + d3);
  return 0;
}

// SGompertz: y = p1*exp(-exp(-p3*(x - p2))). Value, then derivatives.
//   Both steps require p1 > 0 and p3 > 0 (standard failure in the value step, all-missing
//   d1..d3 in the derivative step). E = checked_exp(-((x - p2)*p3)); errno 34 (far below p2)
//   -> zero substitute. G = checked_exp(-E), errno test.
//   value: y = G*p1.  derivatives: d1 = G, Y = p1*d1, c = Y*E, d3 = (x - p2)*c,
//   d2 = -(c*p3).
FM_MODEL(SGompertz) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3];
  const double t = x[1];
  const bool valid = p1 > 0.0 && p3 > 0.0;
  if (fm::wants_value(request)) {
    if (!valid) return fm::standard_failure(y);
    const double E = fm::checked_exp(-((t - p2) * p3));
    // On the lower plateau the derivatives, when asked for, are the substitute's zeros too.
    if (fm::overflow_error()) return zero_substitute(y, deriv, fm::wants_deriv(request) ? 3 : 0);
    const double G = fm::checked_exp(-E);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = G * p1;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!valid) return fm::all_missing_failure(y, deriv, 3);
  const double E = fm::checked_exp(-((t - p2) * p3));
  if (fm::overflow_error()) return zero_substitute(y, deriv, 3);
  deriv[1] = fm::checked_exp(-E);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
  const double Y = p1 * deriv[1];
  y[1] = Y;
  const double c = Y * E;
  deriv[3] = (t - p2) * c;
  deriv[2] = -(c * p3);
  return 0;
}

// SLogistic1: y = p1/(1 + exp(-p3*(x - p2))). Exclusive: bit 1 set -> value only; else
// bit 2 -> derivatives with y.
//   Both steps: p1 <= 0 -> standard failure (no derivative written);
//   e = checked_exp(-((x - p2)*p3)); errno 34 -> zero substitute.
//   value: y = p1/(e + 1).  derivatives: s = 1/(e + 1), d1 = s, Y = s*p1, c = Y*s*e,
//   d2 = -(c*p3), d3 = (x - p2)*c.
FM_MODEL(SLogistic1) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3];
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (p1 <= 0.0) return fm::standard_failure(y);
    const double e = fm::checked_exp(-((t - p2) * p3));
    if (fm::overflow_error()) return zero_substitute(y, deriv, 0);
    y[1] = p1 / (e + 1.0);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (p1 <= 0.0) return fm::standard_failure(y);
  const double e = fm::checked_exp(-((t - p2) * p3));
  if (fm::overflow_error()) return zero_substitute(y, deriv, 3);
  const double s = 1.0 / (e + 1.0);
  deriv[1] = s;
  const double Y = s * p1;
  y[1] = Y;
  const double c = Y * s * e;
  deriv[2] = -(c * p3);
  deriv[3] = (t - p2) * c;
  return 0;
}

// SLogistic2: y = p2/(1 + ((p2 - p1)/p1)*exp(-4*p3*x/p2)) (p1 the value at x = 0, p2 the
// asymptote, p3 the maximum growth rate). Exclusive.
//   Both steps require p2 > 0, p1 < p2, p1 != 0, p3 > 0 (standard failure for the value,
//   all-missing d1..d3 for the derivatives). e = checked_exp(p3*(-4.0)*x/p2).
//   value: errno 34 -> zero substitute; else y = p2/((p2 - p1)*e/p1 + 1).
//   derivatives (no errno test): D = (p2 - p1)*e/p1 + 1 and the closed forms below; y = p2/D.
FM_MODEL(SLogistic2) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3];
  const double t = x[1];
  const bool valid = p2 > 0.0 && p1 < p2 && p1 != 0.0 && p3 > 0.0;
  if (fm::wants_value(request)) {
    if (!valid) return fm::standard_failure(y);
    const double e = fm::checked_exp(p3 * (-4.0) * t / p2);
    if (fm::overflow_error()) return zero_substitute(y, deriv, 0);
    y[1] = p2 / ((p2 - p1) * e / p1 + 1.0);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!valid) return fm::all_missing_failure(y, deriv, 3);
  const double e = fm::checked_exp(p3 * (-4.0) * t / p2);
  const double D = (p2 - p1) * e / p1 + 1.0;
  deriv[2] = (1.0 - (e * 4.0 * (p2 - p1) * p3 * t / p1 / p2 / p2 + e / p1) * p2 / D) / D;
  deriv[3] = (p2 - p1) * (e * 4.0) * t / p1 / D / D;
  deriv[1] = -((-((p2 - p1) * e / p1) - e) * p2 / p1 / D / D);
  y[1] = p2 / D;
  return 0;
}

// SLogistic3: y = p1/(1 + p2*exp(-p3*x)). Exclusive.
//   Both steps require p1 > 0, p2 > 0, p3 > 0 (standard failure for the value, all-missing
//   d1..d3 for the derivatives). e = checked_exp(-(p3*x)); errno 34 -> zero substitute.
//   value: y = p1/(e*p2 + 1).  derivatives: s = 1/(e*p2 + 1), d1 = s, Y = s*p1,
//   c = -(Y*s*e), d2 = c, d3 = -(p2*x*c).
FM_MODEL(SLogistic3) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3];
  const double t = x[1];
  const bool valid = p1 > 0.0 && p2 > 0.0 && p3 > 0.0;
  if (fm::wants_value(request)) {
    if (!valid) return fm::standard_failure(y);
    const double e = fm::checked_exp(-(p3 * t));
    if (fm::overflow_error()) return zero_substitute(y, deriv, 0);
    y[1] = p1 / (e * p2 + 1.0);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!valid) return fm::all_missing_failure(y, deriv, 3);
  const double e = fm::checked_exp(-(p3 * t));
  if (fm::overflow_error()) return zero_substitute(y, deriv, 3);
  const double s = 1.0 / (e * p2 + 1.0);
  deriv[1] = s;
  const double Y = s * p1;
  y[1] = Y;
  const double c = -(Y * s * e);
  deriv[2] = c;
  deriv[3] = -(p2 * t * c);
  return 0;
}

// SWeibull1: y = p1*(1 - exp(-(p4*(x - p2))^p3)). Value, then derivatives.
//   value (no parameter test): P = checked_pow((x - p2)*p4, p3), errno test;
//          E = checked_exp(-P), errno test; y = (1 - E)*p1. (x < p2 with a non-integer p3 is
//          a domain error of the power and fails.)
//   derivatives: p3 >= 0 and p4 > 0 required (all-missing d1..d4); x <= p2 -> y = 0 and
//          d1..d4 = 0, return 0. P and E as above, each failing all-missing on errno 34 only.
//          d1 = 1 - E, y = (1 - E)*p1, c = p1*p3*E*P/p4, d4 = c, d2 = -(c*p4/(x - p2)),
//          d3 = ln((x - p2)*p4)*(p4*c)/p3.
FM_MODEL(SWeibull1) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3], p4 = params[4];
  const double t = x[1];
  if (fm::wants_value(request)) {
    const double P = fm::checked_pow((t - p2) * p4, p3);
    if (fm::math_error()) return fm::standard_failure(y);
    const double E = fm::checked_exp(-P);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = (1.0 - E) * p1;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!(p3 >= 0.0 && p4 > 0.0)) return fm::all_missing_failure(y, deriv, 4);
  if (t <= p2) {
    deriv[1] = deriv[2] = deriv[3] = deriv[4] = 0.0;
    y[1] = 0.0;
    return 0;
  }
  const double P = fm::checked_pow((t - p2) * p4, p3);
  if (fm::overflow_error()) return fm::all_missing_failure(y, deriv, 4);
  const double E = fm::checked_exp(-P);
  if (fm::overflow_error()) return fm::all_missing_failure(y, deriv, 4);
  deriv[1] = 1.0 - E;
  y[1] = (1.0 - E) * p1;
  const double c = p1 * p3 * E * P / p4;
  deriv[4] = c;
  deriv[2] = -(c * p4 / (t - p2));
  const double ln_base = fm::log((t - p2) * p4);
  // At p3 = 0 the quotient (p4*c)/p3 is 0/0; its limit p1*E*P gives the true d3 there.
  deriv[3] = p3 != 0.0 ? ln_base * (p4 * c) / p3 : ln_base * (p1 * E * P);
  return 0;
}

// SWeibull2: y = p1 - (p1 - p2)*exp(-(p4*x)^p3) (p1 the asymptote, p2 the value at x = 0).
// Value, then derivatives.
//   Both steps require p4 > 0 and x > 0 (standard failure for the value, all-missing d1..d4
//   for the derivatives). P = checked_pow(x*p4, p3); errno 34 -> errno reset to 0 and the
//   asymptote: y = p1 (derivatives d1 = 1, d2 = d3 = d4 = 0, return 0).
//   value: E = checked_exp(-P), errno test; y = p1 - (p1 - p2)*E.
//   derivatives: E as above (d2 = E), errno test (all-missing); d1 = 1 - E,
//   c = (p1 - p2)*E*P, d3 = ln(p4*x)*c, d4 = (p3/p4)*c, y = (1 - E)*p1 + E*p2.
FM_MODEL(SWeibull2) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], p3 = params[3], p4 = params[4];
  const double t = x[1];
  const bool valid = p4 > 0.0 && t > 0.0;
  if (fm::wants_value(request)) {
    if (!valid) return fm::standard_failure(y);
    const double P = fm::checked_pow(t * p4, p3);
    if (fm::overflow_error()) {
      errno = 0;
      y[1] = p1;
    } else {
      const double E = fm::checked_exp(-P);
      if (fm::math_error()) return fm::standard_failure(y);
      y[1] = p1 - (p1 - p2) * E;
    }
  }
  if (!fm::wants_deriv(request)) return 0;

  if (!valid) return fm::all_missing_failure(y, deriv, 4);
  const double P = fm::checked_pow(t * p4, p3);
  if (fm::overflow_error()) {
    errno = 0;
    y[1] = p1;
    deriv[1] = 1.0;
    deriv[2] = deriv[3] = deriv[4] = 0.0;
    return 0;
  }
  const double E = fm::checked_exp(-P);
  deriv[2] = E;
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  deriv[1] = 1.0 - E;
  const double c = (p1 - p2) * E * P;
  deriv[3] = fm::log(p4 * t) * c;
  deriv[4] = (p3 / p4) * c;
  y[1] = (1.0 - E) * p1 + E * p2;
  return 0;
}
