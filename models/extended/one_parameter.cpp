// One-parameter curves of x (exponential, logarithmic, power, reciprocal and Pareto forms) and
// their expected-value forms.
//
// Common to all: p1, p2 are params[1], params[2], x is x[1], y is y[1], d1, d2 are deriv[1],
// deriv[2]. nParams is not read and REQ_QUERY is not answered. Exclusive shape: bit 0 returns 1
// and writes nothing; with bit 1 set only the value is computed, whatever else is set; only
// with bit 1 clear and bit 2 set are y and the derivatives computed; with neither bit the call
// returns 0 and writes nothing.
//
// An expected-value form is its base curve re-parameterised to pass through the point
// (x, y) = (p1, p2): p1 is an abscissa chosen by the user and p2 the curve's value there. Its
// registry row declares one parameter, but it reads p1 and p2 and writes d1 and d2: the caller
// supplies params and deriv for two parameters.
//
// Two failure styles:
//   fails   - the standard failure after an errno test (34 or 33): errno reset to 0,
//             y = MISSING_VALUE, return 1 (with the deriv entries named at the model);
//   refuses - a point outside the curve's domain: the named outputs (y, and deriv entries
//             where named) become MISSING_VALUE and 1 is returned with errno untouched.
// A few guards substitute a value and return 0, as stated at the model. deriv entries that a
// failure does not name keep what was written before it.
#include "frame/contract.h"
#include "models/tail_math.h"

namespace {

// The refusal: MISSING_VALUE into y[1] and deriv[1..n], return 1, errno untouched.
int32_t refuse(double *y, double *deriv, int n) {
  fm::set_missing(deriv, 1, n);
  return fm::guard_failure(y);
}

// The refusal of one derivative alone: y keeps its value.
int32_t refuse_slope(double *deriv, int i) {
  deriv[i] = fm::kMissing;
  return 1;
}

// The standard failure with MISSING_VALUE first written into deriv[1..n].
int32_t fail(double *y, double *deriv, int n) { return fm::all_missing_failure(y, deriv, n); }

}  // namespace

// ---- plain forms -------------------------------------------------------------------------

// Exponent (table name Exp1P1): y = exp(x - p1).
//   value: y = checked_exp(x - p1); errno test fails.
//   derivatives: the same y; errno test fails with d1 = MISSING_VALUE; else d1 = -y.
FM_MODEL(Exponent) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    y[1] = fm::checked_exp(t - p1);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double v = fm::checked_exp(t - p1);
  y[1] = v;
  if (fm::math_error()) return fail(y, deriv, 1);
  deriv[1] = -v;
  return 0;
}

// Exponent2 (table name Exp1P2): y = exp(-p1*x).
//   value: y = checked_exp(-(p1*x)); errno test fails.
//   derivatives: the same y; errno test fails with d1 = MISSING_VALUE; else d1 = -(x*y).
FM_MODEL(Exponent2) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    y[1] = fm::checked_exp(-(p1 * t));
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double v = fm::checked_exp(-(p1 * t));
  y[1] = v;
  if (fm::math_error()) return fail(y, deriv, 1);
  deriv[1] = -(t * v);
  return 0;
}

// Exponent1 (table name Exp1P3): y = p1*exp(-p1*x).
//   value: p1 == 0 -> y = 0, return 0. Else y = checked_exp(-(p1*x))*p1; errno test fails.
//   derivatives: p1 == 0 -> y = 0, d1 = MISSING_VALUE, return 0. Else y as the value; errno
//     test fails (d1 not written); d1 = (1/p1 - x)*y.
FM_MODEL(Exponent1) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    if (p1 == 0.0) {
      y[1] = 0.0;
      return 0;
    }
    y[1] = fm::checked_exp(-(p1 * t)) * p1;
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (p1 == 0.0) {
    y[1] = 0.0;
    deriv[1] = fm::kMissing;
    return 0;
  }
  const double v = fm::checked_exp(-(p1 * t)) * p1;
  y[1] = v;
  if (fm::math_error()) return fm::standard_failure(y);
  deriv[1] = (1.0 / p1 - t) * v;
  return 0;
}

// Exponent3 (table name Exp1P4): y = 1 - exp(-p1*x).
//   value: y = 1 - E = -expm1(-(p1*x)), which keeps its digits for small p1*x; errno test (the
//     overflow of the exponential) fails.
//   derivatives: E = checked_exp(-(p1*x)) into d1; errno test fails (d1 keeps E);
//     y = -expm1(-(p1*x)), d1 = x*E.
FM_MODEL(Exponent3) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    y[1] = fm::one_minus_exp(-(p1 * t));
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double E = fm::checked_exp(-(p1 * t));
  deriv[1] = E;
  if (fm::math_error()) return fm::standard_failure(y);
  y[1] = fm::one_minus_exp(-(p1 * t));
  deriv[1] = t * E;
  return 0;
}

// Exponent2Mod1 (table name Exp1P2Md): y = p1^x.
//   value: p1 <= 0 refuses y; y = checked_pow(p1, x); errno test fails.
//   derivatives: p1 <= 0 refuses y (d1 not written); y as the value; errno test fails;
//     d1 = x*y/p1.
FM_MODEL(Exponent2Mod1) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    if (p1 <= 0.0) return fm::guard_failure(y);
    y[1] = fm::checked_pow(p1, t);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (p1 <= 0.0) return fm::guard_failure(y);
  const double v = fm::checked_pow(p1, t);
  y[1] = v;
  if (fm::math_error()) return fm::standard_failure(y);
  deriv[1] = t * v / p1;
  return 0;
}

// Exponent1Mod (table name Exp1P3Md): y = -ln(p1)*p1^x.
//   value: p1 <= 0 refuses y; P = checked_pow(p1, x), errno test fails; y = ln(p1)*(-P),
//     errno test fails.
//   derivatives: p1 <= 0 refuses y (d1 not written); P, errno test fails; L = ln p1, errno
//     test fails; y = -(L*P), d1 = (-(L*P)*x - P)/p1.
FM_MODEL(Exponent1Mod) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    if (p1 <= 0.0) return fm::guard_failure(y);
    const double P = fm::checked_pow(p1, t);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = fm::log(p1) * (-P);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (p1 <= 0.0) return fm::guard_failure(y);
  const double P = fm::checked_pow(p1, t);
  if (fm::math_error()) return fm::standard_failure(y);
  const double L = fm::log(p1);
  if (fm::math_error()) return fm::standard_failure(y);
  y[1] = -(L * P);
  deriv[1] = (-(L * P) * t - P) / p1;
  return 0;
}

// Exponent3Mod1 (table name Exp1P4Md): y = 1 - p1^x.
//   value: p1 <= 0 refuses y; P = checked_pow(p1, x), y = 1 - P; errno test fails (an
//     overflowing power has no finite value).
//   derivatives: p1 <= 0 refuses y and d1; P into d1; errno test fails with d1 = MISSING_VALUE;
//     y = 1 - P, d1 = -(x/p1)*P.
//   1 - P is formed as -expm1(x ln p1) where P is near 1.
FM_MODEL(Exponent3Mod1) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    if (p1 <= 0.0) return fm::guard_failure(y);
    y[1] = fm::one_minus_pow(p1, t, fm::checked_pow(p1, t));
    // An overflowing power would leave y infinite: a failure, not a success.
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (p1 <= 0.0) return refuse(y, deriv, 1);
  const double P = fm::checked_pow(p1, t);
  deriv[1] = P;
  if (fm::math_error()) return fail(y, deriv, 1);
  y[1] = fm::one_minus_pow(p1, t, P);
  deriv[1] = -(t / p1) * P;
  return 0;
}

// Logarithm: y = ln(x - p1).
//   value: d = x - p1; d <= 0 refuses y; y = ln d; errno test fails.
//   derivatives: d <= 0 refuses y and d1; d1 = -1/d; y = ln d; errno test fails (d1 stays).
FM_MODEL(Logarithm) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  const double d = t - p1;
  if (fm::wants_value(request)) {
    if (d <= 0.0) return fm::guard_failure(y);
    y[1] = fm::log(d);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (d <= 0.0) return refuse(y, deriv, 1);
  deriv[1] = -1.0 / d;
  y[1] = fm::log(d);
  if (fm::math_error()) return fm::standard_failure(y);
  return 0;
}

// Power: y = x^p1.
//   value: y = checked_pow(x, p1); errno test fails.
//   derivatives: y as the value; errno test fails with d1 = MISSING_VALUE. x <= 0 refuses d1
//     alone (y keeps its value, return 1): the slope in p1 needs ln x. d1 = ln(x)*y; an errno
//     test after the logarithm resets errno to 0, d1 = MISSING_VALUE, return 1 (y stays).
FM_MODEL(Power) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    y[1] = fm::checked_pow(t, p1);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double v = fm::checked_pow(t, p1);
  y[1] = v;
  if (fm::math_error()) return fail(y, deriv, 1);
  if (t <= 0.0) return refuse_slope(deriv, 1);
  deriv[1] = fm::log(t) * v;
  if (fm::math_error()) {
    errno = 0;
    return refuse_slope(deriv, 1);
  }
  return 0;
}

// Reciprocal0: y = 1/(1 + p1*x).
//   value: t = p1*x + 1; t == 0 refuses y; y = 1/t.
//   derivatives: t == 0 refuses y and d1; y = 1/t, d1 = -x*y^2.
FM_MODEL(Reciprocal0) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  const double s = p1 * t + 1.0;
  if (fm::wants_value(request)) {
    if (s == 0.0) return fm::guard_failure(y);
    y[1] = 1.0 / s;
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (s == 0.0) return refuse(y, deriv, 1);
  const double v = 1.0 / s;
  y[1] = v;
  deriv[1] = -t * v * v;
  return 0;
}

// Reciprocal1: y = 1/(p1 + x).
//   value: t = p1 + x; t == 0 refuses y; y = 1/t.
//   derivatives: t == 0 refuses y and d1; y = 1/t, d1 = -(y*y).
FM_MODEL(Reciprocal1) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  const double s = p1 + t;
  if (fm::wants_value(request)) {
    if (s == 0.0) return fm::guard_failure(y);
    y[1] = 1.0 / s;
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (s == 0.0) return refuse(y, deriv, 1);
  const double v = 1.0 / s;
  y[1] = v;
  deriv[1] = -(v * v);
  return 0;
}

// Pareto: y = 1 - x^(-p1).
//   value: x <= 0 refuses y; P = checked_pow(x, -p1), errno test fails; y = 1 - P.
//   derivatives: x <= 0 refuses y and d1; P, errno test fails with d1 = MISSING_VALUE;
//     L = ln x, errno test fails with d1 = MISSING_VALUE; d1 = L*P, y = 1 - P.
//   1 - P is formed as -expm1(-p1 ln x) where P is near 1.
FM_MODEL(Pareto) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], t = x[1];
  if (fm::wants_value(request)) {
    if (t <= 0.0) return fm::guard_failure(y);
    const double P = fm::checked_pow(t, -p1);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = fm::one_minus_pow(t, -p1, P);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (t <= 0.0) return refuse(y, deriv, 1);
  const double P = fm::checked_pow(t, -p1);
  if (fm::math_error()) return fail(y, deriv, 1);
  const double L = fm::log(t);
  if (fm::math_error()) return fail(y, deriv, 1);
  deriv[1] = L * P;
  y[1] = fm::one_minus_pow_ln(L, -p1, P);
  return 0;
}

// ---- expected-value forms: each reads p1, p2 and writes d1, d2 ---------------------------

// ExponentEVP: y = p2*exp(x - p1), through (p1, p2).
//   value: E = checked_exp(x - p1), errno test fails; y = p2*E.
//   derivatives: E into d2; errno test fails with d1, d2 = MISSING_VALUE; y = p2*E, d1 = -y.
FM_MODEL(ExponentEVP) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  if (fm::wants_value(request)) {
    const double E = fm::checked_exp(t - p1);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = p2 * E;
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double E = fm::checked_exp(t - p1);
  deriv[2] = E;
  if (fm::math_error()) return fail(y, deriv, 2);
  const double v = p2 * E;
  y[1] = v;
  deriv[1] = -v;
  return 0;
}

// LogarithmEVP: y = ln(x - p1 + exp(p2)), through (p1, p2).
//   Both passes: E = checked_exp(p2); errno 34 (only) is the substitute y = p2 (where exp(p2)
//     overflows, x - p1 is negligible beside it), errno reset to 0, return 0; the derivative
//     pass also writes d1 = 0, d2 = 1.
//   value: d = x - p1 + E; d <= 0 refuses y; y = ln d; errno test fails.
//   derivatives: d <= 0 refuses y, d1, d2; y = ln d; errno test fails; d1 = -1/d, d2 = E/d.
FM_MODEL(LogarithmEVP) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  if (fm::wants_value(request)) {
    const double E = fm::checked_exp(p2);
    if (fm::overflow_error()) {
      errno = 0;
      y[1] = p2;
      return 0;
    }
    const double d = t - p1 + E;
    if (d <= 0.0) return fm::guard_failure(y);
    y[1] = fm::log(d);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double E = fm::checked_exp(p2);
  if (fm::overflow_error()) {
    errno = 0;
    y[1] = p2;
    deriv[1] = 0.0;
    deriv[2] = 1.0;
    return 0;
  }
  const double d = t - p1 + E;
  if (d <= 0.0) return refuse(y, deriv, 2);
  y[1] = fm::log(d);
  if (fm::math_error()) return fm::standard_failure(y);
  deriv[1] = -1.0 / d;
  deriv[2] = E / d;
  return 0;
}

// PowerEVP: y = p2^(ln x / ln p1), through (p1, p2).
//   value: unless x > 0, p1 > 0 and p2 > 0 (tested in that order) a standard failure.
//     p1 == 1: y = 1, return 0 when p2 == 1 (the curve is the constant 1); else refuses y.
//     e = ln x / ln p1, y = checked_pow(p2, e); errno test fails.
//   derivatives: the same three tests fail with d1, d2 = MISSING_VALUE. p1 == 1: d1, d2 =
//     MISSING_VALUE, then y = 1 and return 0 when p2 == 1, else refuses y. L1 = ln p1,
//     e = ln x / L1, L2 = ln p2, y = checked_pow(p2, e); errno test fails with d1, d2 =
//     MISSING_VALUE; t = e*y, d1 = -(t*L2/p1/L1), d2 = t/p2.
FM_MODEL(PowerEVP) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  if (fm::wants_value(request)) {
    if (!(t > 0.0) || !(p1 > 0.0) || !(p2 > 0.0)) return fm::standard_failure(y);
    if (p1 == 1.0) {
      if (p2 != 1.0) return fm::guard_failure(y);
      y[1] = 1.0;
      return 0;
    }
    const double e = fm::log(t) / fm::log(p1);
    y[1] = fm::checked_pow(p2, e);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (!(t > 0.0) || !(p1 > 0.0) || !(p2 > 0.0)) return fail(y, deriv, 2);
  if (p1 == 1.0) {
    fm::set_missing(deriv, 1, 2);
    if (p2 != 1.0) return fm::guard_failure(y);
    y[1] = 1.0;
    return 0;
  }
  const double L1 = fm::log(p1);
  const double e = fm::log(t) / L1;
  const double L2 = fm::log(p2);
  const double v = fm::checked_pow(p2, e);
  y[1] = v;
  if (fm::math_error()) return fail(y, deriv, 2);
  const double s = e * v;
  deriv[1] = -(s * L2 / p1 / L1);
  deriv[2] = s / p2;
  return 0;
}

// Reciprocal0EVP: y = 1/(1 + (1/p2 - 1)*x/p1), through (p1, p2).
//   value: p1 == 0 or p2 == 0 refuses y; t = (1/p2 - 1)*x/p1 + 1; t == 0 refuses y; y = 1/t.
//   derivatives: p1 == 0 or p2 == 0 refuses y, d1, d2; r = x/p1, t = r*(1/p2 - 1) + 1;
//     t == 0 refuses the same three; y = 1/t, q = y*r*y, d1 = q*(1/p2 - 1)/p1,
//     d2 = q/(p2*p2).
FM_MODEL(Reciprocal0EVP) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  if (fm::wants_value(request)) {
    if (p1 == 0.0 || p2 == 0.0) return fm::guard_failure(y);
    const double s = (1.0 / p2 - 1.0) * t / p1 + 1.0;
    if (s == 0.0) return fm::guard_failure(y);
    y[1] = 1.0 / s;
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (p1 == 0.0 || p2 == 0.0) return refuse(y, deriv, 2);
  const double r = t / p1;
  const double c = 1.0 / p2 - 1.0;
  const double s = r * c + 1.0;
  if (s == 0.0) return refuse(y, deriv, 2);
  const double v = 1.0 / s;
  y[1] = v;
  const double q = v * r * v;
  deriv[1] = q * c / p1;
  deriv[2] = q / (p2 * p2);
  return 0;
}

// Reciprocal1EVP: y = p2/(1 + p2*(x - p1)), through (p1, p2).
//   value: t = (x - p1)*p2 + 1; t == 0 refuses y; y = p2/t.
//   derivatives: t == 0 refuses y, d1, d2; q = 1/t/t, d2 = q, d1 = p2*p2*q, y = p2/t.
FM_MODEL(Reciprocal1EVP) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  const double s = (t - p1) * p2 + 1.0;
  if (fm::wants_value(request)) {
    if (s == 0.0) return fm::guard_failure(y);
    y[1] = p2 / s;
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (s == 0.0) return refuse(y, deriv, 2);
  const double q = 1.0 / s / s;
  deriv[2] = q;
  deriv[1] = p2 * p2 * q;
  y[1] = p2 / s;
  return 0;
}

// Exponent2EVP: y = p2^(x/p1), through (p1, p2).
//   value: p2 <= 0, then p1 == 0, refuse y; y = checked_pow(p2, x/p1); errno test fails.
//   derivatives: p2 <= 0 or p1 == 0 refuses y, d1, d2; r = x/p1, y = checked_pow(p2, r);
//     errno test fails (no deriv written); t = r*y, d2 = t/p2; L = ln p2, an errno test after
//     it refuses d1 alone (y stays); d1 = -(t/p1)*L.
FM_MODEL(Exponent2EVP) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  if (fm::wants_value(request)) {
    if (p2 <= 0.0 || p1 == 0.0) return fm::guard_failure(y);
    y[1] = fm::checked_pow(p2, t / p1);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (p2 <= 0.0 || p1 == 0.0) return refuse(y, deriv, 2);
  const double r = t / p1;
  const double v = fm::checked_pow(p2, r);
  y[1] = v;
  if (fm::math_error()) return fm::standard_failure(y);
  const double s = r * v;
  deriv[2] = s / p2;
  const double L = fm::log(p2);
  if (fm::math_error()) return refuse_slope(deriv, 1);
  deriv[1] = -(s / p1) * L;
  return 0;
}

// Exponent3EVP: y = 1 - (1 - p2)^(x/p1), through (p1, p2).
//   value: p2 >= 1 refuses y; p1 == 0: y = 0, return 0; y = 1 - checked_pow(1 - p2, x/p1);
//     errno test fails.
//   derivatives: p2 >= 1 refuses y, d1, d2; p1 == 0: y = 0, d1, d2 = MISSING_VALUE, return 1
//     (errno untouched). P = checked_pow(1 - p2, x/p1); errno test fails with y, d1, d2 =
//     MISSING_VALUE; t = x*P/p1, d2 = t/(1 - p2), y = 1 - P, d1 = ln(1 - p2)/p1*t; an errno
//     test after the logarithm resets errno to 0, d1 = MISSING_VALUE, return 1 (y stays).
//   ln(1 - p2) is formed as log1p(-p2), and 1 - P, where P is near 1, as
//   -expm1(x/p1*log1p(-p2)): both keep the digits that rounding 1 - p2 loses for small p2.
FM_MODEL(Exponent3EVP) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  if (fm::wants_value(request)) {
    if (p2 >= 1.0) return fm::guard_failure(y);
    if (p1 == 0.0) {
      y[1] = 0.0;
      return 0;
    }
    const double P = fm::checked_pow(1.0 - p2, t / p1);
    y[1] = fm::one_minus_pow_ln(fm::log1p(-p2), t / p1, P);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (p2 >= 1.0) return refuse(y, deriv, 2);
  if (p1 == 0.0) {
    y[1] = 0.0;
    fm::set_missing(deriv, 1, 2);
    return 1;
  }
  const double P = fm::checked_pow(1.0 - p2, t / p1);
  if (fm::math_error()) return fail(y, deriv, 2);
  const double s = t * P / p1;
  deriv[2] = s / (1.0 - p2);
  const double L = fm::log1p(-p2);
  y[1] = fm::one_minus_pow_ln(L, t / p1, P);
  deriv[1] = L / p1 * s;
  if (fm::math_error()) {
    errno = 0;
    return refuse_slope(deriv, 1);
  }
  return 0;
}

// ParetoEVP: y = 1 - (1 - p2)^(ln x / ln p1), through (p1, p2).
//   value: x <= 0, p1 <= 0 or p2 >= 1 refuses y; p1 == 1: y = 0, return 0; L1 = ln p1,
//     Lx = ln x, errno test fails; y = 1 - checked_pow(1 - p2, Lx/L1); errno test fails.
//   derivatives: the same three tests refuse y, d1, d2; p1 == 1: y = 0, d1 = 0,
//     d2 = MISSING_VALUE, return 0. L1, Lx, errno test fails; q = 1 - p2,
//     y = 1 - checked_pow(q, Lx/L1), errno test fails; t = (1 - y)*Lx/L1, d2 = t/q,
//     d1 = ln(q)*t/p1/L1; an errno test after the logarithm refuses d1 alone (y stays).
FM_MODEL(ParetoEVP) {
  if (fm::wants_reserved(request)) return 1;
  const double p1 = params[1], p2 = params[2], t = x[1];
  if (fm::wants_value(request)) {
    if (t <= 0.0 || p1 <= 0.0 || p2 >= 1.0) return fm::guard_failure(y);
    if (p1 == 1.0) {
      y[1] = 0.0;
      return 0;
    }
    const double L1 = fm::log(p1);
    const double Lx = fm::log(t);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = 1.0 - fm::checked_pow(1.0 - p2, Lx / L1);
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (t <= 0.0 || p1 <= 0.0 || p2 >= 1.0) return refuse(y, deriv, 2);
  if (p1 == 1.0) {
    y[1] = 0.0;
    deriv[1] = 0.0;
    deriv[2] = fm::kMissing;
    return 0;
  }
  const double L1 = fm::log(p1);
  const double Lx = fm::log(t);
  if (fm::math_error()) return fm::standard_failure(y);
  const double q = 1.0 - p2;
  const double v = 1.0 - fm::checked_pow(q, Lx / L1);
  y[1] = v;
  if (fm::math_error()) return fm::standard_failure(y);
  const double s = (1.0 - v) * Lx / L1;
  deriv[2] = s / q;
  deriv[1] = fm::log(q) * s / p1 / L1;
  if (fm::math_error()) return refuse_slope(deriv, 1);
  return 0;
}
