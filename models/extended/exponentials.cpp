// Sums of exponential terms over an offset in time-constant form: decay (ExpDec1..3,
// y = y0 + sum Ai*exp(-x/ti)) and growth (ExpGro1..3, y = y0 + sum Ai*exp(x/ti)), and the plain
// exponential in rate form (Exponential, y = y0 + A*exp(r*x)).
//
// Common to all seven: value-then-derivatives shape; REQ_QUERY is not answered (bit 3 is never
// examined); bit 0 returns 1 at once, writing nothing; a request with neither bit 1 nor bit 2
// returns 0 and writes nothing; nParams is not read. Every exponential goes through
// checked_exp, so a term whose argument lies below -300 is exactly 0 with no errno change.
// Failures are the standard failure (errno 0, y[1] = MISSING_VALUE, return 1); deriv entries
// written before a failing errno test stay written. A value request that fails ends the call
// even when bit 2 is set.
#include "frame/contract.h"

namespace {

// How one member of the decay and growth family differs from the others.
struct ExpSum {
  int terms;              // 1, 2 or 3 pairs (Ai, ti) after the offset
  bool growth;            // exp(x/ti) instead of exp(-x/ti)
  bool unit_first;        // deriv[1] = 1 is written before the exponentials, not after them
  bool deriv_tests_edom;  // the derivative step fails on errno 34 or 33, not on 34 alone
  bool exponent_limit;    // the value step refuses x/t1 > 1000 before the exponential
};

double term_exp(const ExpSum &m, double x, double t) {
  return fm::checked_exp(m.growth ? x / t : -x / t);
}

// Value step: y = p1 + A1*E1 (+ A2*E2), or (A1*E1 + A2*E2) + A3*E3 + p1 for three terms.
// With every amplitude exactly 0 the value is p1 and no time constant is tested. False on a
// failure (a zero time constant, the exponent limit, errno 34 or 33 after the exponentials).
bool exp_sum_value(const ExpSum &m, const double *p, double x, double &y) {
  bool all_zero = true;
  for (int i = 0; i < m.terms; ++i) all_zero = all_zero && p[2 + 2 * i] == 0.0;
  if (all_zero) {
    y = p[1];
    return true;
  }
  for (int i = 0; i < m.terms; ++i)
    if (p[3 + 2 * i] == 0.0) return false;
  if (m.exponent_limit && x / p[3] > 1000.0) return false;
  const double e1 = term_exp(m, x, p[3]);
  if (m.terms == 1) {
    y = p[1] + p[2] * e1;
  } else if (m.terms == 2) {
    const double e2 = term_exp(m, x, p[5]);
    y = p[1] + p[2] * e1 + p[4] * e2;
  } else {
    const double e2 = term_exp(m, x, p[5]);
    const double e3 = term_exp(m, x, p[7]);
    y = (p[2] * e1 + p[4] * e2) + p[6] * e3 + p[1];
  }
  return !fm::math_error();
}

// Derivative step: every time constant must be non-zero whatever the amplitudes; the
// amplitude derivatives are the Ei, the time-constant derivatives +-(x/ti)*Ai*Ei/ti; then
// y = E1*A1 + p1 (+ E2*A2 (+ E3*A3)). Returns the model's return code.
int32_t exp_sum_deriv(const ExpSum &m, const double *p, double x, double *y, double *deriv,
                      bool first_order_decay) {
  for (int i = 0; i < m.terms; ++i)
    if (p[3 + 2 * i] == 0.0) return fm::standard_failure(y);
  if (m.unit_first) deriv[1] = 1.0;
  double e[3] = {0.0, 0.0, 0.0};
  for (int i = 0; i < m.terms; ++i) {
    e[i] = term_exp(m, x, p[3 + 2 * i]);
    deriv[2 + 2 * i] = e[i];
    if (m.deriv_tests_edom ? fm::math_error() : fm::overflow_error())
      return fm::standard_failure(y);
  }
  if (!m.unit_first) deriv[1] = 1.0;
  for (int i = 0; i < m.terms; ++i) {
    const double A = p[2 + 2 * i], t = p[3 + 2 * i];
    if (first_order_decay)
      deriv[3] = x * A * e[0] / (t * t);
    else if (m.growth)
      deriv[3 + 2 * i] = -(x / t) * A * e[i] / t;
    else
      deriv[3 + 2 * i] = (x / t) * A * e[i] / t;
  }
  double sum = e[0] * p[2] + p[1];
  if (m.terms >= 2) sum = sum + e[1] * p[4];
  if (m.terms >= 3) sum = sum + e[2] * p[6];
  y[1] = sum;
  return 0;
}

int32_t exp_sum(const ExpSum &m, int32_t request, const double *p, const double *x, double *y,
                double *deriv, bool first_order_decay = false) {
  if (fm::wants_reserved(request)) return 1;
  if (fm::wants_value(request) && !exp_sum_value(m, p, x[1], y[1]))
    return fm::standard_failure(y);
  if (!fm::wants_deriv(request)) return 0;
  return exp_sum_deriv(m, p, x[1], y, deriv, first_order_decay);
}

}  // namespace

// ExpDec1: y = p1 + p2*exp(-x/p3) (offset, amplitude, time constant).
//   value: p2 exactly 0 gives y = p1 without testing p3; else p3 = 0 fails, and errno 34 or 33
//     after the exponential fails.
//   derivatives: p3 = 0 fails (whatever p2) with nothing written; d1 = 1, d2 = E1, then errno
//     34 or 33 fails (d1, d2 stay written); d3 = x*p2*E1/(p3*p3); y = E1*p2 + p1; return 0.
FM_MODEL(ExpDec1) {
  static constexpr ExpSum kModel{1, false, true, true, false};
  return exp_sum(kModel, request, params, x, y, deriv, true);
}

// ExpDec2: y = p1 + p2*exp(-x/p3) + p4*exp(-x/p5).
//   value: p2 and p4 both exactly 0 give y = p1 with no test; else p3 = 0 or p5 = 0 fails,
//     and errno 34 or 33 after the exponentials fails.
//   derivatives: p3 = 0 or p5 = 0 fails with nothing written; d1 = 1; E1 into d2, errno 34
//     fails; E2 into d4, errno 34 fails (entries written so far stay); d3 = (x/p3)*p2*E1/p3,
//     d5 = (x/p5)*p4*E2/p5; y = E1*p2 + p1 + E2*p4; return 0.
FM_MODEL(ExpDec2) {
  static constexpr ExpSum kModel{2, false, true, false, false};
  return exp_sum(kModel, request, params, x, y, deriv);
}

// ExpDec3: y = p1 + p2*exp(-x/p3) + p4*exp(-x/p5) + p6*exp(-x/p7).
//   value: p2, p4, p6 all exactly 0 give y = p1 with no test; else any of p3, p5, p7 = 0
//     fails; y = (p2*E1 + p4*E2) + p6*E3 + p1; errno 34 or 33 fails.
//   derivatives: any zero time constant fails with nothing written; E1, E2, E3 into d2, d4,
//     d6, each followed by a test of errno 34 (failure keeps what was written); then d1 = 1;
//     d3, d5, d7 = (x/ti)*Ai*Ei/ti; y = E1*p2 + p1 + E2*p4 + E3*p6; return 0.
FM_MODEL(ExpDec3) {
  static constexpr ExpSum kModel{3, false, false, false, false};
  return exp_sum(kModel, request, params, x, y, deriv);
}

// ExpGro1: y = p1 + p2*exp(x/p3).
//   value: p2 exactly 0 gives y = p1 with no test; else p3 = 0 fails, x/p3 > 1000 fails
//     before the exponential, and errno 34 or 33 after it fails.
//   derivatives (no exponent limit): p3 = 0 fails with nothing written; E1 into d2, errno 34
//     fails; d1 = 1; d3 = -(x/p3)*p2*E1/p3; y = E1*p2 + p1; return 0.
FM_MODEL(ExpGro1) {
  static constexpr ExpSum kModel{1, true, false, false, true};
  return exp_sum(kModel, request, params, x, y, deriv);
}

// ExpGro2: y = p1 + p2*exp(x/p3) + p4*exp(x/p5).
//   value: as ExpDec2 with growing exponentials.
//   derivatives: a zero time constant fails with nothing written; E1 into d2, E2 into d4,
//     each followed by a test of errno 34; d1 = 1; d3, d5 = -(x/ti)*Ai*Ei/ti;
//     y = E1*p2 + p1 + E2*p4; return 0.
FM_MODEL(ExpGro2) {
  static constexpr ExpSum kModel{2, true, false, false, false};
  return exp_sum(kModel, request, params, x, y, deriv);
}

// ExpGro3: y = p1 + p2*exp(x/p3) + p4*exp(x/p5) + p6*exp(x/p7).
//   value: as ExpDec3 with growing exponentials.
//   derivatives: as ExpDec3 with d3, d5, d7 = -(x/ti)*Ai*Ei/ti.
FM_MODEL(ExpGro3) {
  static constexpr ExpSum kModel{3, true, false, false, false};
  return exp_sum(kModel, request, params, x, y, deriv);
}

// Exponential: y = p1 + p2*exp(p3*x) (offset, amplitude, rate).
//   value: p3*x > 1000 fails before the exponential; y = E*p2 + p1; errno 34 or 33 fails.
//   derivatives (no exponent limit): E = exp(p3*x); errno 34 or 33 writes MISSING_VALUE into
//     d1..d3 and fails; d1 = 1, d2 = E, d3 = E*p2*x; y = E*p2 + p1; return 0.
FM_MODEL(Exponential) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (p[3] * t > 1000.0) return fm::standard_failure(y);
    y[1] = fm::checked_exp(p[3] * t) * p[2] + p[1];
    if (fm::math_error()) return fm::standard_failure(y);
  }
  if (!fm::wants_deriv(request)) return 0;
  const double e = fm::checked_exp(p[3] * t);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
  deriv[1] = 1.0;
  deriv[2] = e;
  deriv[3] = e * p[2] * t;
  y[1] = e * p[2] + p[1];
  return 0;
}
