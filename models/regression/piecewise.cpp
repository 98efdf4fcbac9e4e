// Piecewise growth-and-decay: a signal that rises exponentially up to a switch abscissa p2 and
// decays exponentially after it, continuous at the switch. ExpGrowDec has one rising and one
// decaying exponential, ExpGrow3Dec2 three rising and two decaying ones.
//
// Common to both: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n], and
// E(t) is checked_exp(t) (0 below -300). p1 is the baseline the decay approaches, p2 the switch;
// the rising side is x < p2 (tested as p2 > x), the decaying side x >= p2.
// Request frame: bit 0 returns 1; with neither bit 1 nor bit 2 return 0; otherwise y is
// computed once and, with bit 2, the derivatives follow in the same call. REQ_QUERY is not
// answered and nParams is not read.
// Guards, tested before anything is computed: a zero time constant of the side in use (a zero
// time constant of the other side is accepted). A guard writes MISSING_VALUE into y and, with
// bit 2, into every derivative, and returns 1 with errno untouched.
// errno is never tested. An exponential that overflows leaves no usable value: when y or a
// requested derivative comes out infinite or NaN, the call fails (errno = 0, y and, with bit 2,
// every derivative MISSING_VALUE, return 1) instead of returning the infinity as a success.
#include <cmath>

#include "frame/contract.h"

namespace {

// Bit 0 answers 1 and a request with neither bit 1 nor bit 2 answers 0 (true, *rc set);
// false when the call goes on.
bool answered(int32_t request, int32_t *rc) {
  if (fm::wants_reserved(request)) {
    *rc = 1;
    return true;
  }
  if (!fm::wants_value_or_deriv(request)) {
    *rc = 0;
    return true;
  }
  return false;
}

// The failure of a side: y and (with bit 2) deriv[1..n] MISSING_VALUE, return 1.
int32_t side_failure(int32_t request, double *y, double *deriv, int n) {
  if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, n);
  return fm::guard_failure(y);
}

// Ends a call whose outputs are computed: an infinite or NaN output (an overflowing
// exponential) is a standard failure with every output MISSING_VALUE; else return 0.
int32_t finish(int32_t request, double *y, double *deriv, int n) {
  bool usable = std::isfinite(y[1]);
  if (fm::wants_deriv(request))
    for (int i = 1; i <= n; ++i) usable = usable && std::isfinite(deriv[i]);
  if (usable) return 0;
  if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, n);
  return fm::standard_failure(y);
}

}  // namespace

// ExpGrowDec: p3 rise amplitude, p4 rise time constant, p5 decay amplitude, p6 decay time
// constant. Guards: p4 = 0 on the rising side, p6 = 0 on the decaying side.
//   rising:   y = (E(-p2/p4) - E(-x/p4))*p3 + (p5 + p1)
//   decaying: y = E(-(x - p2)/p6)*p5 + p1
// Derivatives, with c = E(-p2/p4), e = E(-x/p4), f = E(-(x - p2)/p6):
//   rising:   d1 = 1, d2 = -c*(p3/p4), d3 = c - e, d4 = (c*p2 - e*x)*(p3/p4^2), d5 = 1, d6 = 0
//   decaying: d1 = 1, d2 = f*(p5/p6), d3 = 0, d4 = 0, d5 = f, d6 = f*(x - p2)*p5/p6^2
// Writes y and, with bit 2, d1..d6; an infinite or NaN output fails (see above).
FM_MODEL(ExpGrowDec) {
  int32_t rc = 0;
  if (answered(request, &rc)) return rc;
  const double *p = params;
  const double X = x[1];
  const bool rising = p[2] > X;
  if (rising ? p[4] == 0.0 : p[6] == 0.0) return side_failure(request, y, deriv, 6);
  if (rising) {
    y[1] = (fm::checked_exp(-p[2] / p[4]) - fm::checked_exp(-X / p[4])) * p[3] + (p[5] + p[1]);
  } else {
    y[1] = fm::checked_exp(-(X - p[2]) / p[6]) * p[5] + p[1];
  }
  if (fm::wants_deriv(request)) {
    deriv[1] = 1.0;
    if (rising) {
      const double c = fm::checked_exp(-p[2] / p[4]);
      const double e = fm::checked_exp(-X / p[4]);
      deriv[2] = -c * (p[3] / p[4]);
      deriv[3] = c - e;
      deriv[4] = (c * p[2] - e * X) * (p[3] / (p[4] * p[4]));
      deriv[5] = 1.0;
      deriv[6] = 0.0;
    } else {
      const double f = fm::checked_exp(-(X - p[2]) / p[6]);
      deriv[2] = f * (p[5] / p[6]);
      deriv[3] = 0.0;
      deriv[4] = 0.0;
      deriv[5] = f;
      deriv[6] = f * (X - p[2]) * p[5] / (p[6] * p[6]);
    }
  }
  return finish(request, y, deriv, 6);
}

// ExpGrow3Dec2: rise amplitudes and time constants (p3, p4), (p5, p6), (p7, p8); decay
// amplitudes and time constants (p9, p10), (p11, p12). Guards: p4, p6 or p8 = 0 on the rising
// side, p10 or p12 = 0 on the decaying side.
// With e_k = E(-x/tau_k), c_k = E(-p2/tau_k) for tau = p4, p6, p8 and f_1 = E(-(x - p2)/p10),
// f_2 = E(-(x - p2)/p12):
//   rising:   y = p9 + p1 + p11 - ((1 - c_1)*p3 + (1 - c_2)*p5 + (1 - c_3)*p7)
//                 + (1 - e_1)*p3 + (1 - e_2)*p5 + (1 - e_3)*p7
//   decaying: y = f_1*p9 + p1 + f_2*p11
// Derivatives:
//   rising:   d1 = 1, d2 = -(p3/p4)*c_1 - (p5/p6)*c_2 - (p7/p8)*c_3,
//             d3 = c_1 - e_1 (equal to (1 - e_1) - (1 - c_1), whose digits go where both
//             exponentials are small), d4 = p3*p2/p4^2*c_1 - p3*x/p4^2*e_1,
//             d5, d6 and d7, d8 alike for (p5, p6) and (p7, p8), d9 = 1, d10 = 0, d11 = 1,
//             d12 = 0
//   decaying: d1 = 1, d2 = (p11/p12)*f_2 + (p9/p10)*f_1, d3..d8 = 0, d9 = f_1,
//             d10 = (x - p2)*p9/p10^2*f_1, d11 = f_2, d12 = (x - p2)*p11/p12^2*f_2
// Writes y and, with bit 2, d1..d12; an infinite or NaN output fails (see above).
FM_MODEL(ExpGrow3Dec2) {
  int32_t rc = 0;
  if (answered(request, &rc)) return rc;
  const double *p = params;
  const double X = x[1];
  const bool rising = p[2] > X;
  const bool guarded =
      rising ? (p[4] == 0.0 || p[6] == 0.0 || p[8] == 0.0) : (p[10] == 0.0 || p[12] == 0.0);
  if (guarded) return side_failure(request, y, deriv, 12);
  if (rising) {
    const double c1 = fm::checked_exp(-p[2] / p[4]);
    const double c2 = fm::checked_exp(-p[2] / p[6]);
    const double c3 = fm::checked_exp(-p[2] / p[8]);
    const double e1 = fm::checked_exp(-X / p[4]);
    const double e2 = fm::checked_exp(-X / p[6]);
    const double e3 = fm::checked_exp(-X / p[8]);
    y[1] = p[9] + p[1] + p[11] - ((1.0 - c1) * p[3] + (1.0 - c2) * p[5] + (1.0 - c3) * p[7]) +
           (1.0 - e1) * p[3] + (1.0 - e2) * p[5] + (1.0 - e3) * p[7];
  } else {
    const double f1 = fm::checked_exp(-(X - p[2]) / p[10]);
    const double f2 = fm::checked_exp(-(X - p[2]) / p[12]);
    y[1] = f1 * p[9] + p[1] + f2 * p[11];
  }
  if (fm::wants_deriv(request)) {
    deriv[1] = 1.0;
    if (rising) {
      const double c1 = fm::checked_exp(-p[2] / p[4]);
      const double c2 = fm::checked_exp(-p[2] / p[6]);
      const double c3 = fm::checked_exp(-p[2] / p[8]);
      const double e1 = fm::checked_exp(-X / p[4]);
      const double e2 = fm::checked_exp(-X / p[6]);
      const double e3 = fm::checked_exp(-X / p[8]);
      deriv[2] = -(p[3] / p[4]) * c1 - (p[5] / p[6]) * c2 - (p[7] / p[8]) * c3;
      deriv[3] = c1 - e1;
      deriv[4] = p[3] * p[2] / (p[4] * p[4]) * c1 - p[3] * X / (p[4] * p[4]) * e1;
      deriv[5] = c2 - e2;
      deriv[6] = p[5] * p[2] / (p[6] * p[6]) * c2 - p[5] * X / (p[6] * p[6]) * e2;
      deriv[7] = c3 - e3;
      deriv[8] = p[7] * p[2] / (p[8] * p[8]) * c3 - p[7] * X / (p[8] * p[8]) * e3;
      deriv[9] = 1.0;
      deriv[10] = 0.0;
      deriv[11] = 1.0;
      deriv[12] = 0.0;
    } else {
      const double f1 = fm::checked_exp(-(X - p[2]) / p[10]);
      const double f2 = fm::checked_exp(-(X - p[2]) / p[12]);
      deriv[2] = (p[11] / p[12]) * f2 + (p[9] / p[10]) * f1;
      for (int i = 3; i <= 8; ++i) deriv[i] = 0.0;
      deriv[9] = f1;
      deriv[10] = (X - p[2]) * p[9] / (p[10] * p[10]) * f1;
      deriv[11] = f2;
      deriv[12] = (X - p[2]) * p[11] / (p[12] * p[12]) * f2;
    }
  }
  return finish(request, y, deriv, 12);
}
