// Peaks built on the Gaussian: the area-normalised Gaussian with a full width at half maximum
// (Gaussian), the Gaussian with different widths left and right of its centre (BiGaussian),
// the exponentially modified Gaussian (GaussMod), the Gram-Charlier and Edgeworth-Cramer series
// peaks (GCAS, ECS), the Chesler-Cram peak with its tail (CCE), the log-normal peak (LogNormal)
// and the Weibull peak in amplitude form (Weibull3).
//
// Multi-peak layout: p1 = params[1] is the baseline shared by all peaks and peak j (from 0)
// uses the block params[2 + b*j .. 1 + b*(j+1)]; k = (nParams - 1)/b peaks (integer division,
// a partial block is ignored); y[1] = p1 + the sum of the peaks, y[2 + j] = peak j alone.
// BiGaussian differs: its blocks of 5 start at params[1], k = nParams/5, each block carries its
// own baseline y0 inside its value and y[1] is the sum of the blocks. A peak whose area (or
// amplitude) is exactly 0 is switched off, except in BiGaussian: it contributes nothing, its
// y[2 + j] is not written and its other parameters are not tested. Nothing beyond y[1 + k] (and
// the deriv entries of the k blocks) is written. A failure stops at the failing peak; the
// y[2 + j] of the peaks before it stay written.
//
// All eight answer REQ_QUERY with the 32-bit 0 and QUERY_REPLY_NONE. The value-only members
// (GaussMod, GCAS, ECS, CCE, Weibull3) share one frame: bit 0 returns 0; with bit 1 clear they
// return bit 2 of the request and write nothing; nParams <= 0 is a standard failure; then
// y[1] = p1 and the peaks in turn.
#include "frame/contract.h"
#include "models/peaks/value_only_sum.h"

namespace {

constexpr double kGaussWidth = 1.06446701943122;  // sqrt(pi / (4 ln 2))
constexpr double kLn2 = 0.69314718055994;
constexpr double kFourLn2 = 2.77258872223978;
constexpr double kRootTwoPi10 = 2.506628275;     // sqrt(2 pi), ten digits
constexpr double kRootTwoPi = 2.506628274631;    // sqrt(2 pi)
constexpr double kRoot2 = 1.414213562373;
constexpr double kMinusRootHalf = -0.707106781;  // -1/sqrt(2)

// The ten-coefficient fit polynomial of erfc for t = 1/(1 + |s|/2).
double erfc_poly(double t) {
  return -1.26551223 +
         t * (1.00002368 +
              t * (0.37409196 +
                   t * (0.09678418 +
                        t * (-0.18628806 +
                             t * (0.27886807 +
                                  t * (-1.13520398 +
                                       t * (1.48851587 +
                                            t * (-0.82215223 + t * 0.17087277))))))));
}

// erfc(s) by the fit: r = t*exp(P(t) - s^2); erfc(s) = r for s >= 0 and 2 - r for s < 0. For
// s >= 0 beyond about 17 the exponential is cut to 0 (checked_exp below -300).
double erfc_approx(double s) {
  const double a = std::fabs(s);
  const double t = 1.0 / (1.0 + 0.5 * a);
  const double r = t * fm::checked_exp(erfc_poly(t) - a * a);
  return s >= 0.0 ? r : 2.0 - r;
}

// E * exp(s^2) * erfc(s) by the same fit, without forming exp(s^2) for s >= 0.
double erfc_scaled(double s, double E) {
  const double a = std::fabs(s);
  const double t = 1.0 / (1.0 + 0.5 * a);
  const double r = t * fm::checked_exp(erfc_poly(t)) * E;
  return s >= 0.0 ? r : fm::checked_exp(a * a) * 2.0 * E - r;
}

// The same for s < 0 where exp(s^2) overflows, given e with exp(e) = exp(s^2)*E: the first
// term is formed as exp(e)*2 (checked_exp, so it is 0 below e = -300).
double erfc_scaled_tail(double s, double E, double e) {
  const double a = std::fabs(s);
  const double t = 1.0 / (1.0 + 0.5 * a);
  const double r = t * fm::checked_exp(erfc_poly(t)) * E;
  return fm::checked_exp(e) * 2.0 - r;
}

// Above this, exp(a^2) overflows a double.
constexpr double kExpOverflow = 709.0;

}  // namespace

// Gaussian (table name; not exported): y = p1 + sum A*exp(-4 ln2 (x - xc)^2/w^2) / (w*c),
// c = 1.06446701943122 = sqrt(pi/(4 ln 2)); per peak xc (centre), A (area), w (FWHM).
// REQ_QUERY answers "no moments"; bit 0 returns 1. Bit 1 is not tested: every other request
// computes y (request 0 included), and bit 2 adds the derivatives in the same pass.
//   nParams <= 0 is a standard failure. Peaks: blocks of three after the baseline,
//   k = (nParams - 1)/3 (a longer vector is read as the same three-parameter blocks as the
//   other multi-peak models; one peak is the registry's count).
//   Per peak: A exactly 0 skips it; w exactly 0 fails; g = (x - xc)*2/w,
//   q = g^2*0.69314718055994, E = capped_exp(-q), N = E/(w*c), each followed by a failure on
//   errno 34 or 33 (so a stale errno fails here); v = N*A into y[2+j] and the sum.
//   Derivatives: dA = N, d1 = 1, dw = (2q - 1)*v/w, dxc = v*g*2.77258872223978/w, errno 34 or
//   33 after dw and after dxc fails. No deriv entry is written for a failing peak.
//   A switched-off peak gets 0 in its three entries, and d1 = 1 also with no peak at all, so
//   no slot keeps a value from an earlier point.
FM_MODEL(Gaussian) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  if (nParams <= 0) return fm::standard_failure(y);
  const bool derivs = fm::wants_deriv(request);
  const double t = x[1];
  const int k = (nParams - 1) / 3;
  double sum = params[1];
  y[1] = sum;
  for (int j = 0; j < k; ++j) {
    const double xc = params[2 + 3 * j], A = params[3 + 3 * j], w = params[4 + 3 * j];
    double *dxc = &deriv[2 + 3 * j], *dA = &deriv[3 + 3 * j], *dw = &deriv[4 + 3 * j];
    if (A == 0.0) {
      // A switched-off peak does not move y: its derivatives are 0.
      if (derivs) *dxc = *dA = *dw = 0.0;
      continue;
    }
    if (w == 0.0) return fm::standard_failure(y);
    const double g = (t - xc) * 2.0 / w;
    const double q = g * g * kLn2;
    if (fm::math_error()) return fm::standard_failure(y);
    const double E = fm::capped_exp(-q);
    if (fm::math_error()) return fm::standard_failure(y);
    const double N = E / (w * kGaussWidth);
    if (fm::math_error()) return fm::standard_failure(y);
    const double v = N * A;
    y[2 + j] = v;
    sum += v;
    y[1] = sum;
    if (derivs) {
      *dA = N;
      deriv[1] = 1.0;
      *dw = (2.0 * q - 1.0) * v / w;
      if (fm::math_error()) return fm::standard_failure(y);
      *dxc = v * g * kFourLn2 / w;
      if (fm::math_error()) return fm::standard_failure(y);
    }
  }
  if (derivs) deriv[1] = 1.0;
  return 0;
}

// BiGaussian (table name; not exported): sum over blocks of y0 + H*exp(-(x - xc)^2/(2 w^2)),
// w = wl (left width) when xc > x, else wr (x = xc uses wr); per block y0, xc, H, wl, wr,
// k = nParams/5 blocks starting at params[1], no shared baseline.
// REQ_QUERY answers "no moments"; bit 0 returns 0; value-then-derivatives shape.
//   nParams <= 0 is a standard failure (in either request, nothing written to deriv).
//   value: y[1] = 0; per block E = capped_exp(d^2*(-0.5)/w/w), d = x - xc; the width in use
//     exactly 0 fails (the Gaussian of zero width has no value at its centre); errno 34 or 33
//     after E fails; y[2+j] = y0 + H*E, added to y[1].
//   derivatives: y[1] = 0; per block d(y0) = 1, then the width in use exactly 0 fails, E,
//     errno 34 or 33 fails; dH = E, dxc = d*E*H/w/w, d(width in use) = d*dxc/w, the other
//     width 0; y[2+j] and y[1] as above.
FM_MODEL(BiGaussian) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 0;
  const double t = x[1];
  const int k = nParams / 5;
  if (fm::wants_value(request)) {
    if (nParams <= 0) return fm::standard_failure(y);
    double sum = 0.0;
    y[1] = sum;
    for (int j = 0; j < k; ++j) {
      const double *b = &params[5 * j];  // b[1..5] = y0, xc, H, wl, wr
      const double d = t - b[2];
      const double w = b[2] > t ? b[4] : b[5];
      // A zero width in use fails here as in the derivative request (0/0 at the centre).
      if (w == 0.0) return fm::standard_failure(y);
      const double E = fm::capped_exp(d * d * (-0.5) / w / w);
      if (fm::math_error()) return fm::standard_failure(y);
      const double v = b[1] + b[3] * E;
      y[2 + j] = v;
      sum += v;
      y[1] = sum;
    }
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams <= 0) return fm::standard_failure(y);
  double sum = 0.0;
  y[1] = sum;
  for (int j = 0; j < k; ++j) {
    const double *b = &params[5 * j];
    double *db = &deriv[5 * j];  // db[1..5] parallel to b
    const bool left = b[2] > t;
    const double d = t - b[2];
    const double w = left ? b[4] : b[5];
    db[1] = 1.0;
    if (w == 0.0) return fm::standard_failure(y);
    const double E = fm::capped_exp(d * d * (-0.5) / w / w);
    if (fm::math_error()) return fm::standard_failure(y);
    db[3] = E;
    db[2] = d * E * b[3] / w / w;
    const double dw = d * db[2] / w;
    db[4] = left ? dw : 0.0;
    db[5] = left ? 0.0 : dw;
    const double v = b[1] + b[3] * E;
    y[2 + j] = v;
    sum += v;
    y[1] = sum;
  }
  return 0;
}

// GaussMod (exported as GaussianMod): y = p1 + sum v, the exponentially modified Gaussian
//   v = A/(2 t0) * exp(sigma^2/(2 t0^2) - (x - xc)/t0) * erfc((sigma/t0 - z)/sqrt 2),
//   z = (x - xc)/sigma; per peak A, xc, sigma, t0. Values only (frame above).
//   sigma <= 0 or t0 exactly 0 fails. u = z - sigma/t0, e = (u/2)*u - (z/2)*z,
//   s = u*(-0.707106781):
//   |e| < 625: v = erfc_approx(s)*checked_exp(e)*(A/2)/t0;
//   otherwise: v = erfc_scaled(s, checked_exp(-z^2/2))*(A/2)/t0, which avoids exp(e);
//   errno 34 or 33 afterwards fails.
//   Where erfc_approx's exponential is cut to 0 (s beyond about 17, as at and near the centre
//   of a peak whose t0 is small against sigma) the first form would give a wrong 0: the peak
//   is then evaluated in the scaled form, which is the same quantity without the cut. Far in
//   the right tail (s < 0 with s^2 above 709, where exp(s^2) would overflow and fail the call)
//   the scaled form's exp(s^2)*E is formed as exp(e), a value below 1e-271.
FM_MODEL(GaussianMod) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  const double t = x[1];
  return fm::value_only_sum(request, nParams, params, y, 4,
                        [t](const double *b, double *v, bool *skip) {
    const double A = b[1], xc = b[2], sigma = b[3], t0 = b[4];
    if (A == 0.0) return *skip = true;
    if (sigma <= 0.0 || t0 == 0.0) return false;
    const double z = (t - xc) / sigma;
    const double u = z - sigma / t0;
    const double e = (u * 0.5) * u - (z * 0.5) * z;
    const double s = u * kMinusRootHalf;
    double r = 0.0;
    if (std::fabs(e) < 625.0) {
      const double c = erfc_approx(s);
      if (c == 0.0) {  // the fit's exponential was cut: same value in the scaled form
        r = erfc_scaled(s, fm::checked_exp(z * (-0.5) * z));
      } else {
        r = c * fm::checked_exp(e);
      }
    } else if (s < 0.0 && s * s > kExpOverflow) {
      // Right of a peak with t0 > 0, far out: exp(s^2)*E is exp(e), formed without overflow.
      r = erfc_scaled_tail(s, fm::checked_exp(z * (-0.5) * z), e);
    } else {
      r = erfc_scaled(s, fm::checked_exp(z * (-0.5) * z));
    }
    *v = r * (A * 0.5) / t0;
    return !fm::math_error();
  });
}

namespace {

// The Gram-Charlier (ecs = false) or Edgeworth-Cramer (ecs = true) peak of one block
// xc, A, sigma, a3, a4.
bool series_peak(double t, const double *b, bool ecs, double *v, bool *skip) {
  const double xc = b[1], A = b[2], sigma = b[3], a3 = b[4], a4 = b[5];
  if (A == 0.0) return *skip = true;
  if (sigma == 0.0) return false;
  const double z = (t - xc) / sigma;
  const double z2 = z * z;
  const double G = fm::checked_exp(z2 * (-0.5));
  double S = 1.0 + a3 * (z2 * z - 3.0 * z) / 6.0 + a4 * (z2 * z2 - 6.0 * z2 + 3.0) / 24.0;
  if (ecs) S += a3 * a3 * (z2 * z2 * z2 - 15.0 * z2 * z2 + 45.0 * z2 - 15.0) / 72.0;
  *v = G * A * S / (sigma * kRootTwoPi10);
  return !fm::math_error();
}

}  // namespace

// GCAS (exported as GramCharlier): y = p1 + sum v, per peak xc, A, sigma, a3, a4:
//   v = A/(sigma*2.506628275) * exp(-z^2/2) * (1 + a3*He3(z)/6 + a4*He4(z)/24),
//   z = (x - xc)/sigma, He3 = z^3 - 3z, He4 = z^4 - 6z^2 + 3. Values only (frame above).
//   sigma exactly 0 fails (a negative sigma is accepted); errno 34 or 33 after v fails.
FM_MODEL(GramCharlier) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  const double t = x[1];
  return fm::value_only_sum(request, nParams, params, y, 5,
                        [t](const double *b, double *v, bool *skip) {
                          return series_peak(t, b, false, v, skip);
                        });
}

// ECS (exported as EdgeworthCramer): as GCAS with the further term a3^2*He6(z)/72 in the
//   series, He6 = z^6 - 15z^4 + 45z^2 - 15. Values only (frame above); sigma exactly 0 fails;
//   errno 34 or 33 after v fails.
FM_MODEL(EdgeworthCramer) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  const double t = x[1];
  return fm::value_only_sum(request, nParams, params, y, 5,
                        [t](const double *b, double *v, bool *skip) {
                          return series_peak(t, b, true, v, skip);
                        });
}

// CCE (exported as CheslerCram): y = p1 + sum v, per peak xc1, A, s2, k2, xc2, B, k3, xc3:
//   v = A*[exp(-(x - xc1)^2/(2 s2)) + T],
//   T = exp(-k3*max(x - xc3, 0)) * (1 - (1 - tanh(k2*(x - xc2)))/2) * B:
//   a Gaussian of variance s2 plus a tail of size B that sets in through a tanh step at xc2
//   and decays at rate k3 beyond xc3. Values only (frame above). s2 exactly 0 fails; errno 34
//   or 33 after the two exponentials and the tanh fails.
FM_MODEL(CheslerCram) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  const double t = x[1];
  return fm::value_only_sum(request, nParams, params, y, 8,
                        [t](const double *b, double *v, bool *skip) {
    const double xc1 = b[1], A = b[2], s2 = b[3], k2 = b[4], xc2 = b[5], B = b[6], k3 = b[7],
                 xc3 = b[8];
    if (A == 0.0) return *skip = true;
    if (s2 == 0.0) return false;
    const double d1 = t - xc1;
    const double g = fm::checked_exp(-(d1 * d1) / (s2 * 2.0));
    const double d3 = t - xc3;
    const double T = fm::checked_exp((std::fabs(d3) + d3) * (k3 * (-0.5))) *
                     (1.0 - (1.0 - fm::tanh((t - xc2) * k2)) * 0.5) * B;
    *v = A * (g + T);
    return !fm::math_error();
  });
}

// LogNormal (table and export name): y = p1 + sum A/(x*w*sqrt(2 pi)) *
//   exp(-(ln x - ln xc)^2/(2 w^2)), per peak xc (median), w (log width), A (area).
// Exclusive shape; REQ_QUERY answers "no moments"; bit 0 returns 1; neither bit returns 0.
//   nParams <= 0 is a standard failure in either request (nothing written to deriv).
//   value (bit 1, bit 2 then ignored): per peak A exactly 0 skips it; x <= 0, xc <= 0 or
//     w <= 0 fails; t = (ln x - ln xc)/(w*1.414213562373),
//     v = checked_exp(-t^2)*A/(x*w*2.506628274631); errno 34 or 33 fails.
//   derivatives (bit 2 alone): d1 = 1, y = p1; per peak A exactly 0 writes 0 into its three
//     entries; x <= 0, xc <= 0 or w <= 0 writes MISSING_VALUE into the peak's three entries
//     and fails; s = (ln x - ln xc)/w, E = checked_exp(-s^2/2), N = 1/(x*w*2.506628274631):
//     dA = E*N, dxc = (A/w)*E*s/xc*N, dw = A*E*(s^2 - 1)*N/w, y[2+j] = E*N*A. No errno test.
FM_MODEL(LogNormal) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams <= 0) return fm::standard_failure(y);
    const int k = (nParams - 1) / 3;
    double sum = params[1];
    y[1] = sum;
    for (int j = 0; j < k; ++j) {
      const double xc = params[2 + 3 * j], w = params[3 + 3 * j], A = params[4 + 3 * j];
      if (A == 0.0) continue;
      if (t <= 0.0 || xc <= 0.0 || w <= 0.0) return fm::standard_failure(y);
      const double q = (fm::log(t) - fm::log(xc)) / (w * kRoot2);
      const double v = fm::checked_exp(-(q * q)) * A / (t * w * kRootTwoPi);
      if (fm::math_error()) return fm::standard_failure(y);
      y[2 + j] = v;
      sum += v;
      y[1] = sum;
    }
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams <= 0) return fm::standard_failure(y);
  const int k = (nParams - 1) / 3;
  deriv[1] = 1.0;
  double sum = params[1];
  y[1] = sum;
  for (int j = 0; j < k; ++j) {
    const double xc = params[2 + 3 * j], w = params[3 + 3 * j], A = params[4 + 3 * j];
    double *dxc = &deriv[2 + 3 * j], *dw = &deriv[3 + 3 * j], *dA = &deriv[4 + 3 * j];
    if (A == 0.0) {
      *dxc = *dw = *dA = 0.0;
      continue;
    }
    if (t <= 0.0 || xc <= 0.0 || w <= 0.0) {
      *dxc = *dw = *dA = fm::kMissing;
      return fm::standard_failure(y);
    }
    const double s = (fm::log(t) - fm::log(xc)) / w;
    const double E = fm::checked_exp(s * s * (-0.5));
    const double N = 1.0 / (t * w * kRootTwoPi);
    *dA = E * N;
    *dxc = (A / w) * E * s / xc * N;
    *dw = A * E * (s * s - 1.0) * N / w;
    const double v = E * N * A;
    y[2 + j] = v;
    sum += v;
    y[1] = sum;
  }
  return 0;
}

// Weibull3 (table and export name): y = p1 + sum v, per peak xc, A, w, c:
//   v = A * h^(-h) * s^(c-1) * exp(h - s^c), z = (x - xc)/w, g = 1/c, h = 1 - g, s = h^g + z,
//   a Weibull density scaled to its maximum A, which lies at x = xc for c > 1.
// Values only (frame above), except that a successful call returns bit 2 of the request (1 for
// request 6, the value still written), also when there is no peak.
//   w exactly 0, c exactly 0 or h < 0 (0 < c < 1) fails. P = checked_pow(s, c - 1),
//   v = checked_exp(h - P*s)*checked_pow(h, -h)*A*P; errno 34 or 33 after h^g and P, and
//   after v, fails.
//   Left of the onset (s < 0) the Weibull density is 0: the peak contributes y[2+j] = 0 and
//   the call goes on.
FM_MODEL(Weibull3) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  const double t = x[1];
  const int32_t rc = fm::value_only_sum(request, nParams, params, y, 4,
                                    [t](const double *b, double *v, bool *skip) {
    const double xc = b[1], A = b[2], w = b[3], c = b[4];
    if (A == 0.0) return *skip = true;
    if (w == 0.0 || c == 0.0) return false;
    const double g = 1.0 / c;
    const double h = 1.0 - g;
    // 0 < c < 1 has no peak; the power h^g alone would not report it when 1/c is an integer.
    if (h < 0.0) return false;
    const double z = (t - xc) / w;
    const double s = fm::checked_pow(h, g) + z;
    if (fm::math_error()) return false;
    if (s < 0.0) {  // outside the support the density is 0
      *v = 0.0;
      return true;
    }
    const double P = fm::checked_pow(s, c - 1.0);
    if (fm::math_error()) return false;
    *v = fm::checked_exp(h - P * s) * fm::checked_pow(h, -h) * A * P;
    return !fm::math_error();
  });
  if (rc != 0 || !fm::wants_value(request) || fm::wants_reserved(request)) return rc;
  return (request & REQ_DERIV) >> 2;
}
