// Peaks shaped like probability densities or chromatographic elution profiles, summed over a
// shared baseline: the beta-function peak (Beta), the extreme-value peak (Extreme), the
// Gaussian in amplitude form (GaussAmp), the Giddings peak (Giddings), the logistic peak
// (LogistPK, exported as LogisticPK), the Schulz-Flory distribution on a decadic logarithmic
// axis (SchulzFlory) and the inverse-polynomial peak (InvsPoly, exported as InversePoly).
//
// Multi-peak layout: p1 is the baseline; peak j (from 0) is the block of b parameters from
// params[2 + b*j]; k = (nParams - 1)/b peaks (integer division, a partial block is ignored);
// y[1] = p1 + the sum of the peaks, y[2 + j] = peak j alone. Nothing beyond y[1 + k] and
// deriv[1 + b*k] is ever read or written, and nParams <= 0 is the standard failure. A peak
// whose amplitude (or area) is exactly 0 is switched off: no contribution, y[2 + j] not
// written, no test of its other parameters; a derivative request writes 0.0 into its entries.
// A failure stops at the first failing peak: y[2 + j] of the peaks before it keep their
// values. Failures are the standard failure (errno 0, y[1] = MISSING_VALUE, return 1) unless
// a model says otherwise.
#include "frame/contract.h"

namespace {

// Number of whole peak blocks of m parameters after the baseline (n >= 1).
inline int peak_count(int n, int m) { return (n - 1) / m; }

// Writes 0.0 into deriv[first .. first + count - 1].
inline void set_zero(double *deriv, int first, int count) {
  for (int i = 0; i < count; ++i) deriv[first + i] = 0.0;
}

// Largest argument whose exponential is finite.
constexpr double kExpArgMax = 709.782712893384;

// The modified Bessel function I1(t): polynomial approximations below and above |t| = 3.75.
// Above 3.75 the exponential goes through checked_exp and overflows (errno 34) beyond
// |t| = 709.78.
double bessel_i1(double t) {
  const double a = t < 0.0 ? -t : t;
  double r;
  if (a < 3.75) {
    const double s = (t / 3.75) * (t / 3.75);
    r = a * (0.5 + s * (0.87890594 + s * (0.51498869 + s * (0.15084934 +
             s * (0.02658733 + s * (0.00301532 + s * 0.00032411))))));
  } else {
    const double q = 3.75 / a;
    r = (fm::checked_exp(a) / fm::sqrt(a)) *
        (0.39894228 + q * (-0.03988024 + q * (-0.00362018 + q * (0.00163801 +
         q * (-0.01031555 + q * (0.02282967 + q * (-0.02895312 +
         q * (0.01787654 - q * 0.00420059))))))));
  }
  return t < 0.0 ? -r : r;
}

// The exponentially scaled I1(a)*exp(-a) for a >= 0, with no overflow for any a: the
// polynomial of bessel_i1 times exp(-a) below 3.75, the polynomial without its exponential
// up to 25, and beyond that the asymptotic series
//   I1(a)*exp(-a) ~ (1 - 3/(8a) - 15/(128a^2) - 315/(3072a^3) - ...)/sqrt(2*pi*a),
// whose terms fall below the double precision of the sum well before they start to grow.
double scaled_bessel_i1(double a) {
  if (a < 3.75) return bessel_i1(a) * fm::checked_exp(-a);
  if (a < 25.0) {
    const double q = 3.75 / a;
    return (1.0 / fm::sqrt(a)) *
           (0.39894228 + q * (-0.03988024 + q * (-0.00362018 + q * (0.00163801 +
            q * (-0.01031555 + q * (0.02282967 + q * (-0.02895312 +
            q * (0.01787654 - q * 0.00420059))))))));
  }
  double term = 1.0, sum = 1.0;
  for (int k = 1; k <= 60; ++k) {
    const double odd = 2.0 * k - 1.0;
    term *= (odd * odd - 4.0) / (8.0 * k * a);
    sum += term;
    if (term > -1e-17 * sum && term < 1e-17 * sum) break;
  }
  return sum / fm::sqrt(2.0 * 3.141592653589793 * a);
}

// (xc, w, A) block of the three-parameter peaks.
struct Peak3 {
  double xc, w, A;
};
inline Peak3 block3(const double *p, int j) { return {p[2 + 3 * j], p[3 + 3 * j], p[4 + 3 * j]}; }

// x^b for the Schulz-Flory peak: MISSING_VALUE when either argument is MISSING_VALUE; 140^140
// when both exceed 140; otherwise checked_pow, with MISSING_VALUE when errno is then 34 or 33
// (errno is left set for the caller's test).
double capped_pow(double a, double b) {
  if (a == fm::kMissing || b == fm::kMissing) return fm::kMissing;
  if (a > 140.0 && b > 140.0) return fm::checked_pow(140.0, 140.0);
  const double r = fm::checked_pow(a, b);
  if (fm::math_error()) return fm::kMissing;
  return r;
}

// One Schulz-Flory peak: X = 10^x, M = 10^lm, S = 10^ls, r = X/M, and the shape
// (X/M)^(M/S)*exp((M - X)/S) as P*C. False on errno 34 or 33 after the powers.
struct SchulzTerms {
  double X, M, S, r, PC;
};
bool schulz_terms(double x, double lm, double ls, SchulzTerms &t) {
  t.X = capped_pow(10.0, x);
  t.M = capped_pow(10.0, lm);
  t.S = capped_pow(10.0, ls);
  const double c_arg = (t.M - t.X) / t.S;
  const double C = fm::capped_exp(c_arg);
  t.r = t.X / t.M;
  const double P = capped_pow(t.r, t.M / t.S);
  if (fm::math_error()) return false;
  if (c_arg > 300.0) {
    // exp((M - X)/S) is beyond its cap while (X/M)^(M/S) is small: the shape itself is at
    // most 1 (its maximum), so it is taken as one exponential of the summed logarithms.
    t.PC = t.r > 0.0 ? fm::checked_exp(t.M / t.S * fm::log(t.r) + c_arg) : 0.0;
  } else {
    t.PC = P * C;
  }
  return true;
}

}  // namespace

// Beta: per peak A*(1 - d/(c - 1))^(c - 1)*(1 + d/(a - 1))^(a - 1), d = (x - xc)*(a + c - 2)/w,
// maximum A at x = xc; block xc, A, w, a, c (five per peak).
// Values only: bit 0 returns 0; with bit 1 clear it returns 1 for bit 2 and 0 otherwise,
// writing nothing.
//   Per peak: A exactly 0 switches it off; A <= 0, w <= 0, a <= 1 or c <= 1 fails (in that
//   order). The peak is 0 outside its support -(a - 1) <= d <= c - 1 (y[2 + j] = 0, whatever
//   the shapes). Inside: v = (1 - d/(c - 1))^(c - 1)*((d/(a - 1) + 1)^(a - 1)*A); errno 34 or
//   33 fails.
FM_MODEL(Beta) {
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value(request)) return fm::wants_deriv(request) ? 1 : 0;
  if (nParams <= 0) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  const int k = peak_count(nParams, 5);
  double sum = p[1];
  for (int j = 0; j < k; ++j) {
    const double *q = &p[1 + 5 * j];  // q[1..5] = xc, A, w, a, c
    const double xc = q[1], A = q[2], w = q[3], a = q[4], c = q[5];
    if (A == 0.0) continue;
    if (A <= 0.0 || w <= 0.0 || a <= 1.0 || c <= 1.0) return fm::standard_failure(y);
    const double d = (t - xc) * (a + c - 2.0) / w;
    double v = 0.0;
    // Outside its support the peak is 0 for every shape.
    if (!(d < -(a - 1.0) || d > c - 1.0)) {
      v = fm::checked_pow(1.0 - d / (c - 1.0), c - 1.0) *
          (fm::checked_pow(d / (a - 1.0) + 1.0, a - 1.0) * A);
      if (fm::math_error()) return fm::standard_failure(y);
    }
    y[2 + j] = v;
    sum += v;
  }
  y[1] = sum;
  return 0;
}

// Extreme: per peak A*exp(1 - exp(-z) - z), z = (x - xc)/w, maximum A at x = xc; block xc,
// w, A. Exclusive shape: bit 0 returns 1; with bit 1 set only the value is computed; the
// derivatives only when bit 1 is clear and bit 2 set; neither bit returns 0.
//   value: per peak w <= 0 fails; G = exp(-z); errno 34 after G (far left of the peak, where
//     the peak is 0) resets errno and the peak contributes 0 (y[2 + j] = 0);
//     F = exp(1 - (G + z)), errno 34 fails; y[2 + j] = F*A.
//   derivatives: d1 = 1, y = p1; per peak w <= 0 fails with none of its entries written;
//     errno 34 after G resets errno, writes 0 into its three entries and y[2 + j] = 0;
//     F = exp(1 - G - z) is dA; errno 34 then writes MISSING_VALUE into its three entries
//     and fails; v = A*F: dxc = v*(1 - G)/w, dw = dxc*z, y[2 + j] = v.
FM_MODEL(Extreme) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  if (nParams <= 0) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  const int k = peak_count(nParams, 3);
  if (fm::wants_value(request)) {
    double sum = p[1];
    for (int j = 0; j < k; ++j) {
      const Peak3 b = block3(p, j);
      if (b.A == 0.0) continue;
      if (b.w <= 0.0) return fm::standard_failure(y);
      const double z = (t - b.xc) / b.w;
      const double g = fm::checked_exp(-z);
      if (fm::overflow_error()) {
        errno = 0;
        y[2 + j] = 0.0;
        continue;
      }
      const double f = fm::checked_exp(1.0 - (g + z));
      if (fm::overflow_error()) return fm::standard_failure(y);
      y[2 + j] = f * b.A;
      sum += y[2 + j];
    }
    y[1] = sum;
    return 0;
  }

  deriv[1] = 1.0;
  y[1] = p[1];
  for (int j = 0; j < k; ++j) {
    const Peak3 b = block3(p, j);
    double *dxc = &deriv[2 + 3 * j], *dw = &deriv[3 + 3 * j], *dA = &deriv[4 + 3 * j];
    if (b.A == 0.0) {
      *dxc = *dw = *dA = 0.0;
      continue;
    }
    if (b.w <= 0.0) return fm::standard_failure(y);
    const double z = (t - b.xc) / b.w;
    const double g = fm::checked_exp(-z);
    if (fm::overflow_error()) {
      errno = 0;
      *dxc = *dw = *dA = 0.0;
      y[2 + j] = 0.0;
      continue;
    }
    *dA = fm::checked_exp(1.0 - g - z);
    if (fm::overflow_error()) {
      *dxc = *dw = *dA = fm::kMissing;
      return fm::standard_failure(y);
    }
    const double v = b.A * *dA;
    *dxc = v * (1.0 - g) / b.w;
    *dw = *dxc * z;
    y[2 + j] = v;
    y[1] += v;
  }
  return 0;
}

// GaussAmp: per peak A*exp(-0.5*z*z), z = (x - xc)/w, maximum A at x = xc; block xc, w, A.
// Exclusive shape: REQ_QUERY answers "no moments"; bit 0 returns 1; with bit 1 set only the
// value is computed; the derivatives only when bit 1 is clear and bit 2 set; neither bit
// returns 0.
//   value: per peak w = 0 fails; E = exp(z*(-0.5)*z); errno 34 or 33 fails; y[2 + j] = E*A.
//   derivatives: y = p1, d1 = 1; per peak w = 0, or errno 34 or 33 after E, writes
//     MISSING_VALUE into d1 and its three entries and fails. dA = E,
//     dxc = (x - xc)*(E*A)/w/w, dw = (x - xc)*dxc/w, y[2 + j] = E*A.
FM_MODEL(GaussAmp) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  if (nParams <= 0) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  const int k = peak_count(nParams, 3);
  if (fm::wants_value(request)) {
    double sum = p[1];
    for (int j = 0; j < k; ++j) {
      const Peak3 b = block3(p, j);
      if (b.A == 0.0) continue;
      if (b.w == 0.0) return fm::standard_failure(y);
      const double z = (t - b.xc) / b.w;
      const double e = fm::checked_exp(z * (-0.5) * z);
      if (fm::math_error()) return fm::standard_failure(y);
      y[2 + j] = e * b.A;
      sum += y[2 + j];
    }
    y[1] = sum;
    return 0;
  }

  y[1] = p[1];
  deriv[1] = 1.0;
  for (int j = 0; j < k; ++j) {
    const Peak3 b = block3(p, j);
    double *dxc = &deriv[2 + 3 * j], *dw = &deriv[3 + 3 * j], *dA = &deriv[4 + 3 * j];
    if (b.A == 0.0) {
      *dxc = *dw = *dA = 0.0;
      continue;
    }
    double e = 0.0;
    bool failed = b.w == 0.0;
    if (!failed) {
      const double z = (t - b.xc) / b.w;
      e = fm::checked_exp(z * (-0.5) * z);
      failed = fm::math_error();
    }
    if (failed) {
      deriv[1] = fm::kMissing;
      *dxc = *dw = *dA = fm::kMissing;
      return fm::standard_failure(y);
    }
    const double dx = t - b.xc;
    *dA = e;
    *dxc = dx * (e * b.A) / b.w / b.w;
    *dw = dx * *dxc / b.w;
    const double v = e * b.A;
    y[2 + j] = v;
    y[1] += v;
  }
  return 0;
}

// Giddings: per peak (A/w)*sqrt(xc/x)*I1(2*sqrt(x*xc)/w)*exp((-x - xc)/w), the chromatographic
// peak of area A; block xc, w, A.
// Values only: bit 0 returns 0; with bit 1 clear it returns 1 for bit 2 and 0 otherwise,
// writing nothing.
//   Per peak: w = 0 fails, then x = 0 fails. E = exp((-x - xc)/w), B = I1(sqrt(x*xc)*2/w);
//   errno 34 or 33 fails (a negative x*xc fails here through the square root);
//   v = sqrt(xc/x)*(A/w)*B*E.
//   Sharp peaks (xc/w beyond about 150) make E vanish below exp(-300), or B overflow, while
//   the product E*B stays of order 1: there the product is formed in scaled form,
//   exp(z - (x + xc)/w)*(I1(z)*exp(-z)) with z = 2*sqrt(x*xc)/w.
FM_MODEL(Giddings) {
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value(request)) return fm::wants_deriv(request) ? 1 : 0;
  if (nParams <= 0) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  const int k = peak_count(nParams, 3);
  double sum = p[1];
  for (int j = 0; j < k; ++j) {
    const Peak3 b = block3(p, j);
    if (b.A == 0.0) continue;
    if (b.w == 0.0) return fm::standard_failure(y);
    if (t == 0.0) return fm::standard_failure(y);
    const double e_arg = (-t - b.xc) / b.w;
    const double z = fm::sqrt(t * b.xc) * 2.0 / b.w;
    const double az = z < 0.0 ? -z : z;
    double v;
    if (e_arg < -300.0 || az > kExpArgMax) {
      // E would be cut to 0 or B overflow: form E*B as exp(|z| + e_arg)*(I1(|z|)*exp(-|z|)).
      double eb = fm::checked_exp(az + e_arg) * scaled_bessel_i1(az);
      if (z < 0.0) eb = -eb;
      if (fm::math_error()) return fm::standard_failure(y);
      v = fm::sqrt(b.xc / t) * (b.A / b.w) * eb;
    } else {
      const double e = fm::checked_exp(e_arg);
      const double bi = bessel_i1(z);
      if (fm::math_error()) return fm::standard_failure(y);
      v = fm::sqrt(b.xc / t) * (b.A / b.w) * bi * e;
    }
    y[2 + j] = v;
    sum += v;
  }
  y[1] = sum;
  return 0;
}

// LogistPK (exported as LogisticPK): per peak 4*A*E/(E + 1)^2, E = exp((xc - x)/w), maximum A
// at x = xc; block xc, w, A.
// Values only: bit 0 returns 0; neither bit returns 0 with nothing written.
//   A derivative-only request has no derivatives to give: y[1] and deriv[1 .. 1 + 3k] (the
//   entries of the parameter layout) are set to MISSING_VALUE and 1 is returned, errno
//   untouched.
//   value: y[1] = p1 and then the running sum. Per peak: w <= 0 returns 1 at once, errno
//   untouched, y[1] holding the sum of the peaks before it. errno 34 after E (far left of the
//   peak, where it is 0) resets errno and the peak contributes 0 (y[2 + j] = 0); else
//   v = A*4*E/(E + 1)/(E + 1).
FM_MODEL(LogisticPK) {
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value_or_deriv(request)) return 0;
  if (nParams <= 0) return fm::standard_failure(y);
  const double *p = params;
  const int k = peak_count(nParams, 3);
  if (!fm::wants_value(request)) {
    y[1] = fm::kMissing;
    fm::set_missing(deriv, 1, 1 + 3 * k);
    return 1;
  }
  const double t = x[1];
  y[1] = p[1];
  for (int j = 0; j < k; ++j) {
    const Peak3 b = block3(p, j);
    if (b.A == 0.0) continue;
    if (b.w <= 0.0) return 1;
    const double e = fm::checked_exp((b.xc - t) / b.w);
    if (fm::overflow_error()) {
      errno = 0;
      y[2 + j] = 0.0;
      continue;
    }
    const double v = b.A * 4.0 * e / (e + 1.0) / (e + 1.0);
    y[2 + j] = v;
    y[1] += v;
  }
  return 0;
}

// SchulzFlory: per peak A*(X/M)^(M/S)*exp((M - X)/S) with X = 10^x, M = 10^lm, S = 10^ls,
// maximum A at X = M; block lm, ls, A. Exclusive shape: bit 0 returns 1; with bit 1 set only
// the value is computed; the derivatives only when bit 1 is clear and bit 2 set; neither bit
// returns 0.
//   The powers go through capped_pow and the exponential through capped_exp; errno 34 or 33
//   after them fails (in the derivative pass with MISSING_VALUE in d1 and the peak's three
//   entries first). Where exp((M - X)/S) lies beyond its cap the shape is formed as
//   exp((M/S)*ln(X/M) + (M - X)/S), which never exceeds 1.
//   value: y[2 + j] = P*C*A.
//   derivatives: y = p1, d1 = 1; dA = P*C; with V = P*C*A, L = ln(X/M), ln10 = ln(10):
//     dlm = V*L*M*ln10/S, dls = (-(M - X)*V/S^2 - V*M*L/S^2)*S*ln10, y[2 + j] = V.
FM_MODEL(SchulzFlory) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  if (nParams <= 0) return fm::standard_failure(y);
  const double *p = params;
  const double t = x[1];
  const int k = peak_count(nParams, 3);
  if (fm::wants_value(request)) {
    double sum = p[1];
    for (int j = 0; j < k; ++j) {
      const double lm = p[2 + 3 * j], ls = p[3 + 3 * j], A = p[4 + 3 * j];
      if (A == 0.0) continue;
      SchulzTerms s;
      if (!schulz_terms(t, lm, ls, s)) return fm::standard_failure(y);
      y[2 + j] = s.PC * A;
      sum += y[2 + j];
    }
    y[1] = sum;
    return 0;
  }

  y[1] = p[1];
  deriv[1] = 1.0;
  const double ln10 = fm::log(10.0);
  for (int j = 0; j < k; ++j) {
    const double lm = p[2 + 3 * j], ls = p[3 + 3 * j], A = p[4 + 3 * j];
    double *dlm = &deriv[2 + 3 * j], *dls = &deriv[3 + 3 * j], *dA = &deriv[4 + 3 * j];
    if (A == 0.0) {
      *dlm = *dls = *dA = 0.0;
      continue;
    }
    SchulzTerms s;
    if (!schulz_terms(t, lm, ls, s)) {
      deriv[1] = fm::kMissing;
      *dlm = *dls = *dA = fm::kMissing;
      return fm::standard_failure(y);
    }
    *dA = s.PC;
    const double V = s.PC * A;
    const double L = fm::log(s.r);
    const double S2 = s.S * s.S;
    *dlm = V * L * s.M * ln10 / s.S;
    *dls = (-(s.M - s.X) * V / S2 - V * s.M * L / S2) * s.S * ln10;
    y[2 + j] = V;
    y[1] += A * *dA;
  }
  return 0;
}

// InvsPoly (exported as InversePoly): per peak A/D, D = 1 + a1*u + a2*u^2 + a3*u^3,
// u = (2*(x - xc)/w)^2, maximum A at x = xc; block xc, w, A, a1, a2, a3 (six per peak).
// Value-then-derivatives shape; bit 0 returns 1.
//   REQ_QUERY: the moment mask of the first peak (p5 = a1, p6 = a2, p7 = a3): 31 when
//     |a3| > 1e-10, else 7 when |a2| > 1e-10, else 1 when |a1| > 1e-10, else 0 (a NaN
//     coefficient fails its test); with no whole first peak (nParams < 7) the mask is 0.
//     Returns QUERY_REPLY_MASK.
//   value: per peak w <= 0 fails; D = (u*a3 + a2)*u*u + (u*a1 + 1); D exactly 0 (a pole of
//     the peak) fails; y[2 + j] = A/D.
//   derivatives: d1 = 1, y = p1; per peak w <= 0, or D exactly 0, writes MISSING_VALUE into
//     d1 and its six entries and fails. D = ((u*a3 + a2)*u + a1)*u + 1; dA = 1/D;
//     T = -(u*A/D^2): da1 = T, da2 = T*u, da3 = T*u^2;
//     dw = ((a3*6*u + a2*4)*u + a1*2)*A*u/w/D^2; dxc = dw*w/(x - xc), 0 at x = xc;
//     y[2 + j] = (1/D)*A.
FM_MODEL(InversePoly) {
  if (fm::wants_query(request)) {
    int32_t mask = 0;
    if (nParams >= 7) {
      const double a1 = params[5], a2 = params[6], a3 = params[7];
      if (a3 > 1e-10 || a3 < -1e-10)
        mask = 31;
      else if (a2 > 1e-10 || a2 < -1e-10)
        mask = 7;
      else if (a1 > 1e-10 || a1 < -1e-10)
        mask = 1;
    }
    return fm::answer_moment_mask(deriv, mask);
  }
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int k = peak_count(nParams, 6);
    double sum = p[1];
    for (int j = 0; j < k; ++j) {
      const double *q = &p[1 + 6 * j];  // q[1..6] = xc, w, A, a1, a2, a3
      const double xc = q[1], w = q[2], A = q[3], a1 = q[4], a2 = q[5], a3 = q[6];
      if (A == 0.0) continue;
      if (w <= 0.0) return fm::standard_failure(y);
      const double s = (t - xc) * 2.0 / w;
      const double u = s * s;
      const double D = (u * a3 + a2) * u * u + (u * a1 + 1.0);
      // At a zero of the denominator the peak has a pole and no value.
      if (D == 0.0) return fm::standard_failure(y);
      y[2 + j] = A / D;
      sum += y[2 + j];
    }
    y[1] = sum;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams < 1) return fm::standard_failure(y);
  const int k = peak_count(nParams, 6);
  deriv[1] = 1.0;
  y[1] = p[1];
  for (int j = 0; j < k; ++j) {
    const double *q = &p[1 + 6 * j];
    const double xc = q[1], w = q[2], A = q[3], a1 = q[4], a2 = q[5], a3 = q[6];
    double *dq = &deriv[1 + 6 * j];  // dq[1..6] parallel to q
    if (A == 0.0) {
      set_zero(dq, 1, 6);
      continue;
    }
    double u = 0.0, D = 0.0;
    bool failed = w <= 0.0;
    if (!failed) {
      const double s = (t - xc) * 2.0 / w;
      u = s * s;
      D = ((u * a3 + a2) * u + a1) * u + 1.0;
      failed = D == 0.0;
    }
    if (failed) {
      deriv[1] = fm::kMissing;
      fm::set_missing(dq, 1, 6);
      return fm::standard_failure(y);
    }
    const double D2 = D * D;
    dq[3] = 1.0 / D;
    const double T = -(u * A / D2);
    dq[4] = T;
    dq[5] = T * u;
    dq[6] = T * (u * u);
    const double W = ((a3 * 6.0 * u + a2 * 4.0) * u + a1 * 2.0) * A * u / w / D2;
    dq[2] = W;
    dq[1] = (t != xc) ? W * w / (t - xc) : 0.0;
    y[2 + j] = (1.0 / D) * A;
    y[1] += A * (1.0 / D);
  }
  return 0;
}
