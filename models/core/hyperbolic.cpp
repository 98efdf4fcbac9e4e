// Saturating hyperbolas and binding curves, the first-order rational function, the shifted
// power law, the polynomial of variable degree and three photosynthesis-irradiance curves.
//
// None of these models answers REQ_QUERY; every one returns 1 for bit 0 and returns 0 without
// writing anything for a request with neither bit 1 nor bit 2.
#include "frame/contract.h"

namespace {

// Request frame of the light-response curves: y[1] for either bit, deriv under bit 2 as well.
// p1 = 0 (the maximum rate) fails; under bit 2 deriv[1..m] are MISSING_VALUE first.
// Results are returned as they come: these curves never test errno.
template <int M>
bool light_response_fails(int32_t request, const double *p, double *y, double *deriv,
                          int32_t *rc) {
  *rc = 0;
  if (fm::wants_reserved(request)) {
    *rc = 1;
    return true;
  }
  if (!fm::wants_value_or_deriv(request)) return true;
  if (p[1] == 0.0) {
    if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, M);
    *rc = fm::standard_failure(y);
    return true;
  }
  return false;
}

}  // namespace

// Hyperbl: y = p1*x/(p2 + x). Value-then-derivatives.
//   nParams < 2 (either request) or p2 + x == 0 -> standard failure; y = p1*x/(p2 + x).
//   deriv: x + p2 == 0 -> d1 = d2 = MISSING_VALUE, standard failure; else
//          d1 = x/(x + p2), y = d1*p1, d2 = -(y/(x + p2)).
FM_MODEL(Hyperbl) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 2) return fm::standard_failure(y);  // fewer parameters than the model reads
    const double D = p[2] + t;
    if (D == 0.0) return fm::standard_failure(y);
    y[1] = p[1] * t / D;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 2) return fm::standard_failure(y);  // fewer parameters than the model reads
  const double D = t + p[2];
  if (D == 0.0) return fm::all_missing_failure(y, deriv, 2);
  deriv[1] = t / D;
  y[1] = deriv[1] * p[1];
  deriv[2] = -(y[1] / D);
  return 0;
}

// Dhyperbl: y = p1*x/(p2 + x) + p3*x/(p4 + x) + p5*x. Value-then-derivatives.
//   value: nParams < 5, p2 + x == 0 or x + p4 == 0 -> standard failure;
//          y = x*p3/(x + p4) + x*p5 + p1*x/(p2 + x).
//   deriv: x + p2 == 0 or x + p4 == 0 -> standard failure, no deriv written; else
//          d1 = x/(x + p2), d3 = x/(x + p4), d5 = x, d2 = -(d1*p1/(x + p2)),
//          d4 = -(d3*p3/(x + p4)), y = d1*p1 + d3*p3 + p5*x.
FM_MODEL(Dhyperbl) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 5) return fm::standard_failure(y);  // fewer parameters than the model reads
    if (p[2] + t == 0.0) return fm::standard_failure(y);
    if (t + p[4] == 0.0) return fm::standard_failure(y);
    y[1] = t * p[3] / (t + p[4]) + t * p[5] + p[1] * t / (p[2] + t);
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 5) return fm::standard_failure(y);  // fewer parameters than the model reads
  const double D2 = t + p[2];
  const double D4 = t + p[4];
  if (D2 == 0.0 || D4 == 0.0) return fm::standard_failure(y);
  deriv[1] = t / D2;
  deriv[3] = t / D4;
  deriv[5] = t;
  deriv[2] = -(deriv[1] * p[1] / D2);
  deriv[4] = -(deriv[3] * p[3] / D4);
  y[1] = deriv[1] * p[1] + deriv[3] * p[3] + p[5] * t;
  return 0;
}

// Binding1 (one-site binding): y = p1*x/(p2 + x). Exclusive shape. The division is not
// guarded: a non-finite y (at x = -p2) is reported as MISSING_VALUE with return 0.
//   value: nParams < 2 -> standard failure. r = 1/(p2 + x); an errno of 34 or 33 already set
//          gives the plateau y = p1 and errno 0; else y = p1*x*r. Non-finite y -> MISSING_VALUE.
//   deriv: r = 1/(p2 + x); errno 34 already set -> errno 0, d1 = 0, d2 = 1, y = p1; else
//          d1 = r*x, y = p1*x*r, d2 = -(y*r). Non-finite y -> MISSING_VALUE; the derivatives
//          are written as computed.
FM_MODEL(Binding1) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 2) return fm::standard_failure(y);  // fewer parameters than the model reads
    const double r = 1.0 / (p[2] + t);
    if (fm::math_error()) {
      errno = 0;
      y[1] = p[1];
    } else {
      y[1] = p[1] * t * r;
    }
    fm::finite_or_missing(&y[1]);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 2) return fm::standard_failure(y);  // fewer parameters than the model reads
  const double r = 1.0 / (p[2] + t);
  if (!fm::overflow_error()) {
    deriv[1] = r * t;
    y[1] = p[1] * t * r;
    deriv[2] = -(y[1] * r);
  } else {
    errno = 0;
    deriv[1] = 0.0;
    deriv[2] = 1.0;
    y[1] = p[1];
  }
  fm::finite_or_missing(&y[1]);
  return 0;
}

// Binding2 (two-site binding): y = p1*x/(p3 + x) + p2*x/(p4 + x). Exclusive shape; the
// divisions are not guarded (a pole gives a non-finite y with return 0).
//   value: nParams < 4 -> standard failure. An errno of 34 or 33 already set gives the
//          plateau y = p2 + p1 and errno 0; else y = x*p2*(1/(x + p4)) + x*p1*(1/(x + p3)).
//   deriv: r4 = 1/(x + p4), r3 = 1/(x + p3). errno 34 already set -> errno 0,
//          d = (0, 0, 1, 1), y = p2 + p1; else d1 = r3*x, d2 = x*r4,
//          y = x*p2*r4 + x*p1*r3, d3 = -(x*p1*r3^2), d4 = -(p2*x*r4^2).
FM_MODEL(Binding2) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 4) return fm::standard_failure(y);  // fewer parameters than the model reads
    if (fm::math_error()) {
      errno = 0;
      y[1] = p[2] + p[1];
      return 0;
    }
    y[1] = t * p[2] * (1.0 / (t + p[4])) + t * p[1] * (1.0 / (t + p[3]));
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 4) return fm::standard_failure(y);  // fewer parameters than the model reads
  const double r4 = 1.0 / (t + p[4]);
  const double r3 = 1.0 / (t + p[3]);
  if (!fm::overflow_error()) {
    deriv[1] = r3 * t;
    deriv[2] = t * r4;
    y[1] = t * p[2] * r4 + t * p[1] * r3;
    deriv[3] = -(t * p[1] * (r3 * r3));
    deriv[4] = -(p[2] * t * (r4 * r4));
  } else {
    errno = 0;
    deriv[1] = 0.0;
    deriv[2] = 0.0;
    deriv[3] = 1.0;
    deriv[4] = 1.0;
    y[1] = p[2] + p[1];
  }
  return 0;
}

// Rational: y = (p1 + p2*x)/(p3 + p4*x). Value-then-derivatives.
//   value: nParams < 4 or p4*x + p3 == 0 -> standard failure; y = (p2*x + p1)/(p4*x + p3).
//   deriv: p4*x + p3 == 0 -> d1..d4 = MISSING_VALUE, standard failure; else r = 1/D,
//          d1 = r, d2 = r*x, y = (p2*x + p1)*r, d3 = -(y*r), d4 = d3*x.
FM_MODEL(Rational) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 4) return fm::standard_failure(y);  // fewer parameters than the model reads
    const double D = p[4] * t + p[3];
    if (D == 0.0) return fm::standard_failure(y);
    y[1] = (p[2] * t + p[1]) / D;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 4) return fm::standard_failure(y);  // fewer parameters than the model reads
  const double D = p[4] * t + p[3];
  if (D == 0.0) return fm::all_missing_failure(y, deriv, 4);
  const double r = 1.0 / D;
  deriv[1] = r;
  deriv[2] = r * t;
  y[1] = (p[2] * t + p[1]) * r;
  deriv[3] = -(y[1] * r);
  deriv[4] = deriv[3] * t;
  return 0;
}

// Power0: y = p1 + p3*|x - p2|^p4. Value-then-derivatives.
//   value: nParams < 4 -> standard failure. y = p1, and that is the value at x == p2 (no
//          power, no errno test) unless p4 < 0 and p3 != 0: the power has a pole there,
//          a standard failure. Elsewhere P = |x - p2|^p4, errno 34 or 33 -> standard
//          failure; y = p1 + P*p3.
//   deriv: at x == p2: the same pole is an all-missing failure (d1..d4); else d1 = 1,
//          d2 = MISSING_VALUE, d3 = 0, d4 = MISSING_VALUE, y = p1, return 0. Else d1 = 1, P = |x - p2|^p4, d3 = P; errno 34 or 33 -> d2..d4 =
//          MISSING_VALUE, standard failure. d2 = -(p4*p3*P/(x - p2)), d4 = ln|x - p2|*(P*p3),
//          y = P*p3 + p1.
FM_MODEL(Power0) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 4) return fm::standard_failure(y);  // fewer parameters than the model reads
    // A negative power has a pole at the shift: no value exists there.
    if (t == p[2] && p[4] < 0.0 && p[3] != 0.0) return fm::standard_failure(y);
    y[1] = p[1];
    if (t != p[2]) {
      const double P = fm::checked_pow(std::fabs(t - p[2]), p[4]);
      if (fm::math_error()) return fm::standard_failure(y);
      y[1] += P * p[3];
    }
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 4) return fm::standard_failure(y);  // fewer parameters than the model reads
  if (t == p[2]) {
    if (p[4] < 0.0 && p[3] != 0.0) return fm::all_missing_failure(y, deriv, 4);
    deriv[1] = 1.0;
    deriv[2] = fm::kMissing;
    deriv[3] = 0.0;
    deriv[4] = fm::kMissing;
    y[1] = p[1];
    return 0;
  }
  deriv[1] = 1.0;
  const double a = std::fabs(t - p[2]);
  const double P = fm::checked_pow(a, p[4]);
  deriv[3] = P;
  if (fm::math_error()) {
    fm::set_missing(deriv, 2, 4);
    return fm::standard_failure(y);
  }
  deriv[2] = -(p[4] * p[3] * P / (t - p[2]));
  deriv[4] = fm::log(a) * (P * p[3]);
  y[1] = P * p[3] + p[1];
  return 0;
}

// PolyN (exported as Poly): y = sum over i = 1..n of p_i*x^(i-1), n = nParams >= 1.
// Value-then-derivatives. Reads exactly p1..pn and writes exactly d1..dn.
//   value: n < 1 -> standard failure. Ascending sum with the power of x as a running product;
//          a coefficient exactly 0 is skipped (so 0*inf never enters the sum).
//   deriv: n < 1 -> standard failure, no deriv written (there is no coefficient to differentiate
//          by). y = p1, d1 = 1; for i = 2..n: d_i = d_(i-1)*x, y += d_i*p_i; no zero is skipped.
FM_MODEL(Poly) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  const int n = nParams;
  if (fm::wants_value(request)) {
    if (n < 1) return fm::standard_failure(y);
    double sum = 0.0;
    double power = 1.0;
    for (int i = 1; i <= n; ++i) {
      if (p[i] != 0.0) sum += p[i] * power;
      power *= t;
    }
    y[1] = sum;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (n < 1) return fm::standard_failure(y);  // no parameters: nothing to read or differentiate
  double sum = p[1];
  deriv[1] = 1.0;
  for (int i = 2; i <= n; ++i) {
    deriv[i] = deriv[i - 1] * t;
    sum += deriv[i] * p[i];
  }
  y[1] = sum;
  return 0;
}

// PIPlatt: y = p1*tanh(p2*x/p1), p1 the maximum rate, p2 the initial slope.
// y[1] for either bit; under bit 2, with T = tanh(x*p2/p1):
//   d1 = T - (1 - T^2)*p2*x/p1, d2 = (1 - T^2)*x.
// p1 == 0 -> (under bit 2 d1 = d2 = MISSING_VALUE) standard failure. errno is never tested.
FM_MODEL(PIPlatt) {
  const double *p = params;
  int32_t rc;
  if (light_response_fails<2>(request, p, y, deriv, &rc)) return rc;
  const double t = x[1];
  const double T = fm::tanh(t * p[2] / p[1]);
  y[1] = T * p[1];
  if (fm::wants_deriv(request)) {
    const double s = 1.0 - T * T;
    deriv[1] = T - s * p[2] * t / p[1];
    deriv[2] = s * t;
  }
  return 0;
}

// PIPlatt2: y = p1*(1 - exp(-p2*x/p1))*exp(-p3*x/p1), with photoinhibition p3.
// y[1] for either bit: e2 = exp(-(p2*x/p1)), e3 = exp(-(p3*x/p1)), y = e3*p1*(1 - e2).
// Under bit 2, with e23 = exp(-((p3 + p2)*x/p1)):
//   d1 = e3*(1 - e2) + (e3*(x*p3/p1) - e23*((p2 + p3)*x/p1)), d2 = x*e23,
//   d3 = -x*(1 - e2)*e3.
// p1 == 0 -> (under bit 2 d1..d3 = MISSING_VALUE) standard failure. errno is never tested.
FM_MODEL(PIPlatt2) {
  const double *p = params;
  int32_t rc;
  if (light_response_fails<3>(request, p, y, deriv, &rc)) return rc;
  const double t = x[1];
  const double e2 = fm::checked_exp(-(p[2] * t / p[1]));
  const double e3 = fm::checked_exp(-(p[3] * t / p[1]));
  y[1] = e3 * p[1] * (1.0 - e2);
  if (fm::wants_deriv(request)) {
    const double e23 = fm::checked_exp(-((p[3] + p[2]) * t / p[1]));
    deriv[1] = e3 * (1.0 - e2) + (e3 * (t * p[3] / p[1]) - e23 * ((p[2] + p[3]) * t / p[1]));
    deriv[2] = t * e23;
    deriv[3] = -t * (1.0 - e2) * e3;
  }
  return 0;
}

// PIWebb: y = p1*(1 - exp(-x*p2/p1)).
// y[1] for either bit: E = exp(-(x*p2/p1)), y = (1 - E)*p1. Under bit 2:
//   d1 = (1 - E) - E*(x*p2/p1), d2 = E*x.
// p1 == 0 -> (under bit 2 d1 = d2 = MISSING_VALUE) standard failure. errno is never tested.
FM_MODEL(PIWebb) {
  const double *p = params;
  int32_t rc;
  if (light_response_fails<2>(request, p, y, deriv, &rc)) return rc;
  const double t = x[1];
  const double E = fm::checked_exp(-(t * p[2] / p[1]));
  y[1] = (1.0 - E) * p[1];
  if (fm::wants_deriv(request)) {
    deriv[1] = (1.0 - E) - E * (t * p[2] / p[1]);
    deriv[2] = E * t;
  }
  return 0;
}
