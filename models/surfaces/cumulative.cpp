// Cumulative, dose-response, exponential and power surfaces z = f(x1, x2), x1 = x[1],
// x2 = x[2]: products or sums of monotone one-variable shapes.
//
// Term layout: p1 is the baseline of every model; term k (from 0) uses the M parameters
// p(2 + M*k) .. p(1 + M*(k+1)), and only terms whose parameters all lie within nParams are
// evaluated: (nParams - 1)/M terms, a partial block being ignored. y[1] is the total and
// y[2 + k] the value of term k alone, without the baseline; the derivatives of term k lie at
// the positions of its parameters. Every model refuses nParams < 1 (standard failure, no deriv
// written). Terms completed before a failure keep their y[2 + k] values and derivatives. None
// answers REQ_QUERY; a request with neither bit 1 nor bit 2 returns 0 and writes nothing.
//
// capped_exp returns MISSING_VALUE beyond its cap (argument > 300); the models here never use
// that sentinel as a number but take the limit of the factor it stands for (see each model).
#include "frame/contract.h"
#include "models/tail_math.h"
#include "frame/host_math.h"

namespace {

// Number of whole terms of m parameters after the baseline p1 (nParams >= 1).
inline int term_count(int nParams, int m) { return (nParams - 1) / m; }

inline bool beyond_cap(double e) { return e == fm::kMissing; }

// ln|x| for x != 0 and 0.0 at x = 0: the derivative of x^e with respect to e is P*ln|x|, and
// 0.0 where x = 0.
inline double log_abs_or_zero(double x) {
  if (x > 0.0) return fm::log(x);
  if (x < 0.0) return fm::log(-x);
  return 0.0;
}

// The frame of LogisticCum, DoseResp and Exponential2D: bit 0 returns 1; with bit 1 the value
// (term(b, t) returns false for the standard failure); without bit 2 return 0; else d1 = 1 and
// deriv_term(b, t) per term.
template <class Term, class DerivTerm>
int32_t derivative_frame(int32_t request, int nParams, int m, const double *p, double *y,
                         double *deriv, Term term, DerivTerm deriv_term) {
  if (fm::wants_reserved(request)) return 1;
  if (fm::wants_value(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int n = term_count(nParams, m);
    double total = p[1];
    for (int k = 0; k < n; ++k) {
      double t;
      if (!term(2 + m * k, t)) return fm::standard_failure(y);
      y[k + 2] = t;
      total = total + t;
    }
    y[1] = total;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams < 1) return fm::standard_failure(y);
  const int n = term_count(nParams, m);
  double total = p[1];
  deriv[1] = 1.0;
  for (int k = 0; k < n; ++k) {
    double t;
    if (!deriv_term(2 + m * k, t)) return fm::standard_failure(y);
    y[k + 2] = t;
    total = total + t;
  }
  y[1] = total;
  return 0;
}

// erf(t) + 1: the host's erf, except in the lower tail, where erfc(-t) keeps the digits that
// the sum loses.
double erf_plus_one(double t) {
  const double e = s15aec(t);
  if (e < -0.5) return fm::erfc(-t);
  return e + 1.0;
}

}  // namespace

// GaussCum: z = p1 + sum A/4*(erf(u) + 1)*(erf(v) + 1), u = (x1 - xc)/sqrt2/w1,
// v = (x2 - yc)/sqrt2/w2: A times the product of two normal distribution functions; per term
// A, xc, w1, yc, w2 (5 per term). erf is the host library's s15aec; sqrt2 is sqrt(2.0), taken
// once when there is a term. In the lower tail (erf(u) < -1/2, u below about -0.477) erf(u) + 1
// cancels; there it is formed as erfc(-u) from the C library, which keeps its digits.
// Values only: bit 0 returns 0, and so does a request without bit 1 (nothing written). With
// bits 1 and 2 both set the terms are computed into y[2..] and then y[1] = p1.
//   nParams < 1 fails; otherwise no test of any kind: the model never fails.
FM_MODEL(GaussCum) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  if (nParams < 1) return fm::standard_failure(y);
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  const int n = term_count(nParams, 5);
  double total = p[1];
  if (n >= 1) {
    const double r = fm::sqrt(2.0);
    for (int k = 0; k < n; ++k) {
      const int b = 2 + 5 * k;
      const double A = p[b], xc = p[b + 1], w1 = p[b + 2], yc = p[b + 3], w2 = p[b + 4];
      const double u = (x1 - xc) / r / w1, v = (x2 - yc) / r / w2;
      const double t = A * 0.25 * erf_plus_one(u) * erf_plus_one(v);
      y[k + 2] = t;
      total = total + t;
    }
  }
  y[1] = fm::wants_deriv(request) ? p[1] : total;
  return 0;
}

// LogisticCum: z = p1 + sum A/((g1 + 1)*(g2 + 1)), g1 = exp(-(x1 - xc)/w1),
// g2 = exp(-(x2 - yc)/w2): A times the product of two logistic distribution functions; per
// term A, xc, w1, yc, w2 (5 per term). Exponentials by capped_exp.
// Value-then-derivatives shape; bit 0 returns 1; nParams < 1 fails (no deriv written).
//   errno 34 or 33 after g1 or g2 fails. A g beyond the cap makes its factor 1/(g + 1) exactly
//   0: the term and all its derivatives are 0.0.
//   derivatives: a = g1 + 1, c = g2 + 1: dA = 1/a/c, dxc = -(g1*A/w1/a/a/c),
//     dw1 = (x1 - xc)*dxc/w1, dyc = -(g2*A/a/c/c/w2), dw2 = (x2 - yc)*dyc/w2; the term is dA*A.
FM_MODEL(LogisticCum) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  // Both factors, or false for the standard failure.
  auto factors = [&](int b, double &g1, double &g2) {
    g1 = fm::capped_exp(-((x1 - p[b + 1]) / p[b + 2]));
    if (fm::math_error()) return false;
    g2 = fm::capped_exp(-((x2 - p[b + 3]) / p[b + 4]));
    return !fm::math_error();
  };
  return derivative_frame(
      request, nParams, 5, p, y, deriv,
      [&](int b, double &t) {
        double g1, g2;
        if (!factors(b, g1, g2)) return false;
        t = (beyond_cap(g1) || beyond_cap(g2)) ? 0.0 : p[b] / (g1 + 1.0) / (g2 + 1.0);
        return true;
      },
      [&](int b, double &t) {
        const double A = p[b], xc = p[b + 1], w1 = p[b + 2], yc = p[b + 3], w2 = p[b + 4];
        double g1, g2;
        if (!factors(b, g1, g2)) return false;
        if (beyond_cap(g1) || beyond_cap(g2)) {
          for (int i = 0; i < 5; ++i) deriv[b + i] = 0.0;
          t = 0.0;
          return true;
        }
        const double a = g1 + 1.0, c = g2 + 1.0;
        deriv[b] = 1.0 / a / c;
        deriv[b + 1] = -(g1 * A / w1 / a / a / c);
        deriv[b + 2] = (x1 - xc) * deriv[b + 1] / w1;
        deriv[b + 3] = -(g2 * A / a / c / c / w2);
        deriv[b + 4] = (x2 - yc) * deriv[b + 3] / w2;
        t = deriv[b] * A;
        return true;
      });
}

// ExtremeCum: z = p1 + sum [a1*F1 + a2*F2 + a12*F1*F2], F1 = exp(-g1), F2 = exp(-g2),
// g1 = exp((c1 - x1)/s1), g2 = exp((c2 - x2)/s2): Gumbel distribution functions along each axis
// and their product (evaluated as exp(-g1 - g2)); per term a1, c1, s1, a2, c2, s2, a12
// (7 per term). Exponentials by capped_exp.
// Values only: bit 0 returns 0, and so does a request without bit 1 (bit 2 is ignored, nothing
// is written).
//   nParams < 1 fails; errno 34 or 33 after g1, after g2, or after the term (already written
//   into y[2+k]) fails. A g beyond the cap makes its Gumbel factor exp(-g) exactly 0.
FM_MODEL(ExtremeCum) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  if (nParams < 1) return fm::standard_failure(y);
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  const int n = term_count(nParams, 7);
  double total = p[1];
  for (int k = 0; k < n; ++k) {
    const int b = 2 + 7 * k;
    const double a1 = p[b], c1 = p[b + 1], s1 = p[b + 2], a2 = p[b + 3], c2 = p[b + 4],
                 s2 = p[b + 5], a12 = p[b + 6];
    const double g1 = fm::capped_exp((c1 - x1) / s1);
    if (fm::math_error()) return fm::standard_failure(y);
    const double g2 = fm::capped_exp((c2 - x2) / s2);
    if (fm::math_error()) return fm::standard_failure(y);
    const bool off1 = beyond_cap(g1), off2 = beyond_cap(g2);
    const double F2 = off2 ? 0.0 : fm::capped_exp(-g2);
    const double F1 = off1 ? 0.0 : fm::capped_exp(-g1);
    const double F12 = (off1 || off2) ? 0.0 : fm::capped_exp(-g1 - g2);
    const double t = F2 * a2 + F1 * a1 + F12 * a12;
    y[k + 2] = t;
    if (fm::math_error()) return fm::standard_failure(y);
    total = total + t;
  }
  y[1] = total;
  return 0;
}

// DoseResp: z = p1 + sum A/((1 + (x1/c1)^-h1)*(1 + (x2/c2)^-h2)): a product of two
// log-logistic dose-response curves; per term A, c1 (x1 at half effect), h1 (slope), c2, h2
// (5 per term). Powers by checked_pow; no errno test.
// Value-then-derivatives shape; bit 0 returns 1; nParams < 1 fails (no deriv written).
//   x1 <= 0, x2 <= 0, c1 < 0 or c2 < 0 fails (tested in each term of both branches).
//   derivatives: u = (x1/c1)^-h1, v = (x2/c2)^-h2, P = u + 1, C = v + 1: dA = 1/P/C,
//     dc1 = -((x1/c1)^(-1 - h1)*(A*h1*x1)/c1/c1/P/P/C), dh1 = (x1/c1)^-h1*A*ln(x1/c1)/P/P/C,
//     dc2 = -((x2/c2)^(-1 - h2)*(A*h2*x2)/c2/c2/P/C/C), dh2 = (x2/c2)^-h2*A*ln(x2/c2)/P/C/C;
//     the term is A*dA.
FM_MODEL(DoseResp) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  return derivative_frame(
      request, nParams, 5, p, y, deriv,
      [&](int b, double &t) {
        // A negative half-effect dose makes x/c negative: no real power, so no value.
        if (x1 <= 0.0 || x2 <= 0.0 || p[b + 1] < 0.0 || p[b + 3] < 0.0) return false;
        const double u = fm::checked_pow(x1 / p[b + 1], -p[b + 2]);
        const double v = fm::checked_pow(x2 / p[b + 3], -p[b + 4]);
        t = p[b] / (u + 1.0) / (v + 1.0);
        return true;
      },
      [&](int b, double &t) {
        if (x1 <= 0.0 || x2 <= 0.0 || p[b + 1] < 0.0 || p[b + 3] < 0.0) return false;
        const double A = p[b], c1 = p[b + 1], h1 = p[b + 2], c2 = p[b + 3], h2 = p[b + 4];
        const double u = fm::checked_pow(x1 / c1, -h1), v = fm::checked_pow(x2 / c2, -h2);
        const double P = u + 1.0, C = v + 1.0;
        deriv[b] = 1.0 / P / C;
        deriv[b + 1] = -(fm::checked_pow(x1 / c1, -1.0 - h1) * (A * h1 * x1) / c1 / c1 / P / P / C);
        deriv[b + 2] = fm::checked_pow(x1 / c1, -h1) * A * fm::log(x1 / c1) / P / P / C;
        deriv[b + 3] = -(fm::checked_pow(x2 / c2, -1.0 - h2) * (A * h2 * x2) / c2 / c2 / P / C / C);
        deriv[b + 4] = fm::checked_pow(x2 / c2, -h2) * A * fm::log(x2 / c2) / P / C / C;
        t = A * deriv[b];
        return true;
      });
}

// Exponential2D: z = p1 + sum A*exp(-x1/t1)*exp(-x2/t2); per term A, t1, t2 (3 per term).
// Exponentials by capped_exp.
// Value-then-derivatives shape; bit 0 returns 1; nParams < 1 fails (no deriv written).
//   errno 34 or 33 after either exponential fails; so does an exponential beyond the cap,
//   which is an overflow of the factor.
//   derivatives: d1 = 1 (also with no term); E = g2*g1: dA = E, dt1 = E*A*x1/t1/t1,
//     dt2 = E*A*x2/t2/t2; the term is E*A.
FM_MODEL(Exponential2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  auto factors = [&](int b, double &g1, double &g2) {
    g1 = fm::capped_exp(-(x1 / p[b + 1]));
    if (fm::math_error() || beyond_cap(g1)) return false;
    g2 = fm::capped_exp(-(x2 / p[b + 2]));
    return !(fm::math_error() || beyond_cap(g2));
  };
  return derivative_frame(
      request, nParams, 3, p, y, deriv,
      [&](int b, double &t) {
        double g1, g2;
        if (!factors(b, g1, g2)) return false;
        t = g1 * p[b] * g2;
        return true;
      },
      [&](int b, double &t) {
        const double A = p[b], t1 = p[b + 1], t2 = p[b + 2];
        double g1, g2;
        if (!factors(b, g1, g2)) return false;
        const double E = g2 * g1;
        deriv[b] = E;
        deriv[b + 1] = E * A * x1 / t1 / t1;
        deriv[b + 2] = E * A * x2 / t2 / t2;
        t = E * A;
        return true;
      });
}

// Power2D: z = p1 + sum [a1*x1^e1 + a2*x2^e2 + a12*x1^e1*x2^e2]; per term a1, e1, a2, e2, a12
// (5 per term). Powers by checked_pow; no errno test.
// Value-then-derivatives shape; bit 0 returns 0; nParams < 1 fails (no deriv written).
// Otherwise never fails: on every path past bit 0 a non-finite y[1] becomes MISSING_VALUE and
// the call returns 0 (term outputs and derivatives keep their values).
//   derivatives: P1 = x1^e1, P2 = x2^e2: da1 = P1, da2 = P2, da12 = P2*P1,
//     de1 = (P1*a12*P2 + P1*a1)*ln|x1|, de2 = (P1*a12*P2 + P2*a2)*ln|x2|, each 0.0 where its x
//     is 0; the term is P1*a1 + P2*a2 + (P2*P1)*a12.
FM_MODEL(Power2D) {
  if (fm::wants_reserved(request)) return 0;
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  if (fm::wants_value(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int n = term_count(nParams, 5);
    double total = p[1];
    for (int k = 0; k < n; ++k) {
      const int b = 2 + 5 * k;
      const double a1 = p[b], e1 = p[b + 1], a2 = p[b + 2], e2 = p[b + 3], a12 = p[b + 4];
      const double P1 = fm::checked_pow(x1, e1), P2 = fm::checked_pow(x2, e2);
      const double t = P2 * a2 + P1 * a1 + P1 * a12 * P2;
      y[k + 2] = t;
      total = total + t;
    }
    y[1] = total;
  }
  if (fm::wants_deriv(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int n = term_count(nParams, 5);
    double total = p[1];
    deriv[1] = 1.0;
    for (int k = 0; k < n; ++k) {
      const int b = 2 + 5 * k;
      const double a1 = p[b], e1 = p[b + 1], a2 = p[b + 2], e2 = p[b + 3], a12 = p[b + 4];
      const double P1 = fm::checked_pow(x1, e1), P2 = fm::checked_pow(x2, e2);
      deriv[b] = P1;
      deriv[b + 1] = x1 != 0.0 ? P1 * a12 * P2 * log_abs_or_zero(x1) +
                                     P1 * a1 * log_abs_or_zero(x1)
                               : 0.0;
      deriv[b + 2] = P2;
      // x2 takes the same cases as x1: ln(-x2) below 0, and 0.0 at 0 (where the x2 part of
      // the term does not depend on e2: 0^e2 is 0 for every e2 > 0).
      deriv[b + 3] = x2 != 0.0 ? P1 * a12 * P2 * log_abs_or_zero(x2) +
                                     P2 * a2 * log_abs_or_zero(x2)
                               : 0.0;
      deriv[b + 4] = P2 * P1;
      const double t = P1 * a1 + P2 * a2 + (P2 * P1) * a12;
      y[k + 2] = t;
      total = total + t;
    }
    y[1] = total;
  }
  fm::finite_or_missing(&y[1]);
  return 0;
}
