// Models that break the one-input, one-output rule: five produce two dependent values from one
// call (LineExp, GaussianLorentz, HillBurk, Helix, Line3) and two read a second independent
// variable (HillBurk, Cole).
//
// Common to all: p1..pn are params[1..n], x1 and x2 are x[1] and x[2], the outputs y[1] and
// (for the two-output models) y[2]. They serve values only: bit 0 set or bit 1 clear returns 0
// at once and writes nothing, so a derivative-only request succeeds without output and a
// request with both bits computes only the values. deriv and nParams are never read or
// written; REQ_QUERY is not answered.
#include <cmath>

#include "frame/contract.h"

namespace {

// The failure of the two-output models: y[1..n] = MISSING_VALUE (nothing when n < 1), errno
// reset to 0, return 1. Also the first output, when already computed, is marked.
int32_t fail_outputs(double *y, int n) {
  for (int i = 1; i <= n; ++i) y[i] = fm::kMissing;
  errno = 0;
  return 1;
}

// An output that cannot be used: an overflow or domain error reported through errno (34 or
// 33), or an infinite or NaN result (a zero denominator, a zero width).
bool unusable(double v) { return fm::math_error() || !std::isfinite(v); }

// The value-only request frame: nothing is computed unless bit 1 is set and bit 0 clear.
bool computes(int32_t request) {
  return !fm::wants_reserved(request) && fm::wants_value(request);
}

}  // namespace

// LineExp: a straight line and an exponential at the same data point.
//   y[1] = p1 + p3*x1; y[2] = p2 + p4*e^(x1/p5).
// Writes y[1], y[2]. After each output an errno of 34 or 33 (after y[1] this can only be a
// code left over from before the call) fails through fail_outputs (y[1] = y[2] =
// MISSING_VALUE, errno = 0, return 1). An output that is infinite or NaN (an exponential that
// overflows without report, p5 = 0) fails the same way instead of being returned as a success.
FM_MODEL(LineExp) {
  if (!computes(request)) return 0;
  const double *p = params;
  const double t = x[1];
  y[1] = p[1] + p[3] * t;
  if (unusable(y[1])) return fail_outputs(y, 2);
  y[2] = p[2] + p[4] * fm::checked_exp(t / p[5]);
  if (unusable(y[2])) return fail_outputs(y, 2);
  return 0;
}

// GaussianLorentz: a Gaussian and a Lorentzian with common offset p1 and centre p2; p3 and p4
// their areas, p5 the Gaussian width, p6 the Lorentzian full width at half maximum.
//   z = (x1 - p2)/p5; G = e^(z*(-2.0)*z);
//   y[1] = G*p3/(sqrt(1.5707963267948966)*p5) + p1
//   y[2] = p6/(4.0*(x1 - p2)^2 + p6^2)*(p4*2.0/3.141592653589793) + p1
// Writes y[1], y[2]. After each output an errno of 34 or 33 fails through fail_outputs; so does
// an infinite or NaN output (p5 = 0, or p6 = 0 at the centre), which is no value.
FM_MODEL(GaussianLorentz) {
  if (!computes(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const double z = (t - p[2]) / p[5];
  const double G = fm::checked_exp(z * -2.0 * z);
  y[1] = G * p[3] / (fm::sqrt(1.5707963267948966) * p[5]) + p[1];
  if (unusable(y[1])) return fail_outputs(y, 2);
  const double d = t - p[2];
  y[2] = p[6] / (4.0 * (d * d) + p[6] * p[6]) * (p[4] * 2.0 / 3.141592653589793) + p[1];
  if (unusable(y[2])) return fail_outputs(y, 2);
  return 0;
}

// HillBurk: a saturation curve in the first input and a double-reciprocal line in the second.
//   y[1] = x1*p1/(x1 + p2); y[2] = (p4*x2 + 1.0)/p3.
// Reads x[1], x[2]; writes y[1], y[2]. After each output an errno of 34 or 33 (only a code left
// from before the call can be there) fails through fail_outputs. A zero denominator
// (x1 + p2 = 0, p3 = 0) gives no value: its infinite or NaN output fails the same way.
FM_MODEL(HillBurk) {
  if (!computes(request)) return 0;
  const double *p = params;
  y[1] = x[1] * p[1] / (x[1] + p[2]);
  if (unusable(y[1])) return fail_outputs(y, 2);
  y[2] = (p[4] * x[2] + 1.0) / p[3];
  if (unusable(y[2])) return fail_outputs(y, 2);
  return 0;
}

// Helix: a point on the circle of radius p3 about (p1, p2) at angle p4*x1 + p5.
//   y[1] = p3*cos(p4*x1 + p5) + p1; y[2] = p3*sin(p4*x1 + p5) + p2.
// Writes y[1], y[2]; returns 0. No errno test.
FM_MODEL(Helix) {
  if (!computes(request)) return 0;
  const double *p = params;
  const double a = p[4] * x[1] + p[5];
  y[1] = p[3] * fm::cos(a) + p[1];
  y[2] = p[3] * fm::sin(a) + p[2];
  return 0;
}

// Line3: two straight lines. y[1] = p2*x1 + p1; y[2] = p4*x1 + p3. Returns 0; never fails.
FM_MODEL(Line3) {
  if (!computes(request)) return 0;
  const double *p = params;
  y[1] = p[2] * x[1] + p[1];
  y[2] = p[4] * x[1] + p[3];
  return 0;
}

// Cole: y = x1^p1*(p2 + p3*x2). One output, two inputs (reads x[1], x[2]).
//   g = p3*x2 + p2; g = 0 -> y = 0, return 0 (no power is taken). t = x1^p1; errno test (34 or
//   33, e.g. x1 < 0 with p1 not integral) -> standard failure. y = t*g; return 0.
FM_MODEL(Cole) {
  if (!computes(request)) return 0;
  const double *p = params;
  const double g = p[3] * x[2] + p[2];
  if (g == 0.0) {
    y[1] = 0.0;
    return 0;
  }
  const double t = fm::checked_pow(x[1], p[1]);
  if (fm::math_error()) return fm::standard_failure(y);
  y[1] = t * g;
  return 0;
}
