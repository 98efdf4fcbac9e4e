// Classic peak shapes: the area-normalised Gaussian and Lorentzian sums, the asymmetric
// double-sigmoid peak sum, the Gaussian with separate left and right widths, and the
// rise-and-decay pulse.
//
// Multi-peak layout (Gauss, Lorentz: 3 per peak; Asym2Sig: 5 per peak): nParams = 1 + m*k,
// k = (nParams - 1) / m peaks (integer division, so a partial block is ignored), p1 is the
// shared baseline, peak j (from 0) uses params[2 + m*j .. 1 + m*(j+1)], y[2 + j] receives
// peak j alone and its derivatives go to the deriv positions of its parameters. Nothing beyond
// y[1 + k] and deriv[1 + m*k] is ever written. A failure stops at the first failing peak:
// y[2 + j] of the peaks before it (and, in Gauss and Lorentz, their deriv entries) keep the
// values already written, and y[1] becomes MISSING_VALUE.
#include "frame/contract.h"

namespace {

constexpr double kSqrtHalfPi = 1.253314137316;   // sqrt(pi / 2)
constexpr double kSqrt2 = 1.414213562373;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// Number of whole peak blocks of m parameters after the baseline (n >= 1).
inline int peak_count(int n, int m) { return (n - 1) / m; }

}  // namespace

// Gauss: y = y0 + sum A*exp(-2*((x - xc)/w)^2) / (w*1.253314137316); per peak xc, w, A.
// Value-then-derivatives shape; bit 0 returns 1; REQ_QUERY is not answered (a request of 8 has
// neither bit and returns 0).
//   value: n <= 0 fails. A peak with A exactly 0 is switched off (y[2+j] not written); w
//     exactly 0 fails; a negative w gives a negative peak. P = g*A/(w*c) with
//     g = checked_exp(-2*z*z), z = (x - xc)/w; errno 34 or 33 after it fails.
//   derivatives: n <= 0 fails with no deriv written; d1 = 1, y = p1 (k = 0 ends here). Per
//     peak: A exactly 0 writes 0 into its three entries; w <= 0 (or errno 34 after the
//     exponential) writes MISSING_VALUE into d1 and the peak's three entries and fails.
//     u = ((x - xc)*1.414213562373/w)^2, G = exp(-u)/(w*c): dA = G,
//     dw = (2u - 1)*A*G/w, dxc = 2*A*u*G/(x - xc) (0 at x = xc), y[2+j] = G*A.
FM_MODEL(Gauss) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams <= 0) return fm::standard_failure(y);
    const int k = peak_count(nParams, 3);
    const int &err = fm::errno_ref();
    double sum = p[1];
    for (int j = 0; j < k; ++j) {
      const double xc = p[2 + 3 * j], w = p[3 + 3 * j], A = p[4 + 3 * j];
      if (A == 0.0) continue;
      if (w == 0.0) return fm::standard_failure(y);
      const double z = (t - xc) / w;
      const double g = fm::checked_exp(-2.0 * z * z);
      const double P = g * A / (w * kSqrtHalfPi);
      if (fm::math_error_in(err)) return fm::standard_failure(y);
      y[2 + j] = P;
      sum += P;
    }
    y[1] = sum;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams <= 0) return fm::standard_failure(y);
  const int k = peak_count(nParams, 3);
  const int &err = fm::errno_ref();
  deriv[1] = 1.0;
  double sum = p[1];
  for (int j = 0; j < k; ++j) {
    const double xc = p[2 + 3 * j], w = p[3 + 3 * j], A = p[4 + 3 * j];
    double *dxc = &deriv[2 + 3 * j], *dw = &deriv[3 + 3 * j], *dA = &deriv[4 + 3 * j];
    if (A == 0.0) {
      *dxc = *dw = *dA = 0.0;
      continue;
    }
    bool failed = w <= 0.0;  // a NaN width is not refused
    double u = 0.0, G = 0.0;
    if (!failed) {
      const double s = (t - xc) * kSqrt2 / w;
      u = s * s;
      G = fm::checked_exp(-u) / (w * kSqrtHalfPi);
      *dA = G;
      failed = fm::overflow_error_in(err);
    }
    if (failed) {
      deriv[1] = fm::kMissing;
      *dxc = *dw = *dA = fm::kMissing;
      return fm::standard_failure(y);
    }
    *dw = (2.0 * u - 1.0) * A * G / w;
    *dxc = (t != xc) ? A * 2.0 * u * G / (t - xc) : 0.0;
    const double P = G * A;
    y[2 + j] = P;
    sum += P;
  }
  y[1] = sum;
  return 0;
}

// Lorentz: y = y0 + sum (2*A/pi)*w/(4*(x - xc)^2 + w^2); per peak xc, w, A.
// Value-then-derivatives shape; REQ_QUERY answers "no moments"; bit 0 returns 1.
// Only the first width p3 is tested (p3 <= 0 fails, a NaN passes), and only when there is at
// least one peak: with none (nParams 1..3) the value is the baseline p1 and p3 is not read.
// Later widths are not tested and zero-area peaks are not switched off.
//   value: n < 1 fails; per peak D = 4*(x - xc)^2 + w^2, D exactly 0 fails,
//     P = A*2/pi*(w/D).
//   derivatives: n < 1 fails with no deriv written; p3 <= 0 writes MISSING_VALUE into d1..d4
//     and fails; otherwise
//     d1 = 1 and, with no test inside the loop, t = 2*(x - xc)/w,
//     L = 2/((t^2 + 1)*w*pi), P = L*A: dA = L, dxc = 2*pi*t*P*L,
//     dw = (w*pi*t^2*L - 1)*P/w, y[2+j] = P.
FM_MODEL(Lorentz) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int k = peak_count(nParams, 3);
    if (k >= 1 && p[3] <= 0.0) return fm::standard_failure(y);
    double sum = p[1];
    for (int j = 0; j < k; ++j) {
      const double xc = p[2 + 3 * j], w = p[3 + 3 * j], A = p[4 + 3 * j];
      const double dx = t - xc;
      const double D = 4.0 * (dx * dx) + w * w;
      if (D == 0.0) return fm::standard_failure(y);
      const double P = A * 2.0 / kPi * (w / D);
      y[2 + j] = P;
      sum += P;
    }
    y[1] = sum;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams < 1) return fm::standard_failure(y);  // no parameters: no deriv entry to write
  const int k = peak_count(nParams, 3);
  if (k >= 1 && p[3] <= 0.0) return fm::all_missing_failure(y, deriv, 4);
  deriv[1] = 1.0;
  double sum = p[1];
  for (int j = 0; j < k; ++j) {
    const double xc = p[2 + 3 * j], w = p[3 + 3 * j], A = p[4 + 3 * j];
    const double s = (t - xc) * 2.0 / w;
    const double s2 = s * s;
    const double L = 2.0 / ((s2 + 1.0) * (w * kPi));
    const double P = L * A;
    deriv[4 + 3 * j] = L;
    deriv[2 + 3 * j] = s * kTwoPi * P * L;
    deriv[3 + 3 * j] = (w * kPi * s2 * L - 1.0) * P / w;
    y[2 + j] = P;
    sum += P;
  }
  y[1] = sum;
  return 0;
}

// Asym2Sig (exported as AsymDblSig): y = y0 + sum A * 1/(1 + exp(-(x - xc + w1/2)/w2))
//   * (1 - 1/(1 + exp(-(x - xc - w1/2)/w3))); per peak xc, A, w1, w2, w3.
// Values only: REQ_QUERY answers "no moments"; bit 0 returns 0; with bit 1 clear it returns
// bit 2 of the request (1 for a derivative-only request) and writes nothing.
//   n <= 0 fails. A peak with A exactly 0 is switched off (y[2+j] not written); w2 or w3
//   exactly 0 fails. When the left-edge exponential overflows (errno 34 or 33 after it) the
//   peak is negligible there: errno is reset to 0 and the peak is skipped.
//   The right-edge exponential overflowing means x lies well inside the right edge, where the
//   right factor 1 - 1/(e + 1) is exactly its limit 1: errno is reset to 0 and the peak kept.
FM_MODEL(AsymDblSig) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value(request)) return (request & REQ_DERIV) >> 2;
  if (nParams <= 0) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  const int k = peak_count(nParams, 5);
  double sum = p[1];
  for (int j = 0; j < k; ++j) {
    const double *q = &p[1 + 5 * j];  // q[1..5] = xc, A, w1, w2, w3
    const double xc = q[1], A = q[2], w1 = q[3], w2 = q[4], w3 = q[5];
    if (A == 0.0) continue;
    if (w2 == 0.0 || w3 == 0.0) return fm::standard_failure(y);
    const double a = fm::checked_exp(-((w1 * 0.5 + (t - xc)) / w2)) + 1.0;
    double P = A / a;
    if (fm::math_error()) {
      errno = 0;
      continue;
    }
    P = P * (1.0 - 1.0 / (fm::checked_exp(-((t - xc - w1 * 0.5) / w3)) + 1.0));
    // Overflow here leaves the right factor at its limit 1, which is the correct value.
    if (fm::math_error()) errno = 0;
    y[2 + j] = P;
    sum += P;
  }
  y[1] = sum;
  return 0;
}

// asymptgauss: y = p1 + p5*exp(-(x - p2)^2/(2*w^2)), w = p3 (left width) for x < p2 and
// w = p4 (right width) for x >= p2; p2 centre, p5 height. Exclusive shape.
// errno 34 or 33 on entry fails at once, before any request bit is looked at; then bit 0
// returns 1.
//   value: no test of the widths and no errno test.
//   derivatives: y = p1, d1 = 1; p3 or p4 exactly 0, or errno 34 or 33 after either
//     exponential, writes MISSING_VALUE into d1..d5 and fails. On the side in use:
//     d5 = g, d2 = (x - p2)*g*p5/w/w, d(w) = (x - p2)*d2/w; y += d5*p5.
//   The width not in use does not affect y: its derivative is written as 0.0.
FM_MODEL(asymptgauss) {
  if (fm::math_error()) return fm::standard_failure(y);
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    const double w = (t < p[2]) ? p[3] : p[4];
    const double dx = t - p[2];
    y[1] = fm::checked_exp(-((dx * dx) / (w * 2.0 * w))) * p[5] + p[1];
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;

  y[1] = p[1];
  deriv[1] = 1.0;
  if (p[3] == 0.0 || p[4] == 0.0) return fm::all_missing_failure(y, deriv, 5);
  const double dx = t - p[2];
  const double gL = fm::checked_exp((dx / p[3]) * (-0.5) * (dx / p[3]));
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 5);
  const double gR = fm::checked_exp((dx / p[4]) * (-0.5) * (dx / p[4]));
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 5);
  if (p[2] > t) {
    deriv[5] = gL;
    deriv[2] = dx * gL * p[5] / p[3] / p[3];
    deriv[3] = dx * deriv[2] / p[3];
    deriv[4] = 0.0;
  } else {
    deriv[5] = gR;
    deriv[2] = dx * gR * p[5] / p[4] / p[4];
    deriv[4] = dx * deriv[2] / p[4];
    deriv[3] = 0.0;
  }
  y[1] = p[1] + deriv[5] * p[5];
  return 0;
}

// Pulse: y = p1 + p3*(1 - exp(-(x - p2)/p4))^p5 * exp(-(x - p2)/p6) for x >= p2, y = p1 for
// x < p2 (p1 baseline, p2 onset, p3 amplitude, p4 rise time, p5 power, p6 decay time).
// Value-then-derivatives shape; REQ_QUERY answers "no moments"; bit 0 returns 1.
//   value: fewer than six parameters, or p4, p5 or p6 <= 0, fails; errno 34 or 33 after each
//     of e1 = exp(-d/p4), e2 = exp(-d/p6), F = (1 - e1)^p5 fails; y = p1 + F*p3*e2.
//   derivatives: fewer than six parameters fails with no deriv written; unless p4, p5, p6 > 0,
//     d1..d6 = MISSING_VALUE and fail.
//     Before the onset: (1, 0, 0, 0, 0, 0), y = p1. After it: errno 34 after the
//     exponentials, or 34/33 after the power, writes MISSING_VALUE into d2..d6 and fails.
//     Where e1 is exactly 1 (at the onset, or d/p4 below rounding) the derivatives in p2,
//     p4, p5 and p6 do not exist in this form: they are MISSING_VALUE, y = p1 + Y is still
//     written, errno is left alone, and the call returns 1. An errno 34 or 33 after the log of
//     d5 resets errno, makes d5 MISSING_VALUE, writes y and returns 1.
FM_MODEL(Pulse) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    // fewer parameters than the model reads: fail as for none
    if (nParams < 6 || p[4] <= 0.0 || p[6] <= 0.0 || p[5] <= 0.0)
      return fm::standard_failure(y);
    double v = p[1];
    const double d = t - p[2];
    if (d >= 0.0) {
      const double e1 = fm::checked_exp(-(d / p[4]));
      if (fm::math_error()) return fm::standard_failure(y);
      const double e2 = fm::checked_exp(-(d / p[6]));
      if (fm::math_error()) return fm::standard_failure(y);
      const double F = fm::checked_pow(1.0 - e1, p[5]);
      if (fm::math_error()) return fm::standard_failure(y);
      v += F * p[3] * e2;
    }
    y[1] = v;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams < 6) return fm::standard_failure(y);  // as in the value request; no deriv written
  if (!(p[4] > 0.0 && p[6] > 0.0 && p[5] > 0.0)) return fm::all_missing_failure(y, deriv, 6);
  const double d = t - p[2];
  deriv[1] = 1.0;
  if (d < 0.0) {
    deriv[2] = deriv[3] = deriv[4] = deriv[5] = deriv[6] = 0.0;
    y[1] = p[1];
    return 0;
  }
  const double a = -d / p[4];
  const double b = -d / p[6];
  const double e1 = fm::checked_exp(a);
  const double e2 = fm::checked_exp(b);
  if (fm::overflow_error()) {
    fm::set_missing(deriv, 2, 6);
    return fm::standard_failure(y);
  }
  deriv[3] = fm::checked_pow(1.0 - e1, p[5]) * e2;
  if (fm::math_error()) {
    fm::set_missing(deriv, 2, 6);
    return fm::standard_failure(y);
  }
  const double Y = p[3] * deriv[3];
  if (e1 == 1.0) {
    deriv[2] = deriv[4] = deriv[5] = deriv[6] = fm::kMissing;
    y[1] = p[1] + Y;
    return 1;
  }
  const double q = e1 * p[5] / ((1.0 - e1) * p[4]);
  deriv[4] = Y * a * q;
  deriv[6] = -(b * Y / p[6]);
  deriv[2] = (1 / p[6] - q) * Y;
  deriv[5] = fm::log(1.0 - e1) * Y;
  if (fm::math_error()) {
    errno = 0;
    deriv[5] = fm::kMissing;
    y[1] = p[1] + Y;
    return 1;
  }
  y[1] = p[1] + Y;
  return 0;
}
