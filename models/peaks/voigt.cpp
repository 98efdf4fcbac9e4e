// Area-normalised peaks combining a Gaussian and a Lorentzian line shape: the Voigt profile
// (Voigt5) by a twelve-term rational approximation of the complex probability function, and two
// pseudo-Voigt profiles (PsdVoigt1, PsdVoigt2), linear mixtures of a Gaussian and a Lorentzian
// of equal area. All widths are full widths at half maximum.
//
// Multi-peak layout: p1 = params[1] is the baseline shared by all peaks; peak j (from 0) uses
// params[2 + b*j .. 1 + b*(j+1)], k = (nParams - 1)/b peaks (integer division); y[1] = p1 + the
// sum of the peaks, y[2 + j] = peak j alone. A peak whose area is exactly 0 is switched off: it
// contributes nothing, its y[2 + j] is not written and its widths are not tested.
//
// Values only, one frame for all three: REQ_QUERY stores the 32-bit 0 and returns
// QUERY_REPLY_NONE; bit 0 returns 0; with bit 1 clear the call returns bit 2 of the request and
// writes nothing; nParams <= 0 is a standard failure; y[1] = p1, then the peaks in turn. A
// failing peak ends the call with the standard failure (the y[2 + j] of earlier peaks stay).
#include "frame/contract.h"
#include "models/peaks/value_only_sum.h"

namespace {

constexpr double kGaussArea = 0.939437278;      // 2 sqrt(ln 2 / pi)
constexpr double kLorentzArea = 0.636619772;    // 2 / pi
constexpr double kFourLn2 = 2.77258872;         // 4 ln 2
constexpr double kTwoRootLn2 = 1.665109222;     // 2 sqrt(ln 2)
constexpr double kRootLn2 = 0.832554611;        // sqrt(ln 2)

// A peak of area exactly 0 is switched off: peak(b, v) computes the others.
template <class Peak>
auto unless_zero_area(Peak peak) {
  return [peak](const double *b, double *v, bool *skip) {
    if (b[2] == 0.0) {
      *skip = true;
      return true;
    }
    return peak(b, v);
  };
}

// Humlicek's twelve-term rational approximation of the real part of w(X + iY).
constexpr double kT[6] = {0.314240376, 0.947788391, 1.59768264,
                          2.27950708,  3.02063703,  3.8897249};
constexpr double kC[6] = {1.01172805,   -0.75197147,      0.012557727,
                          0.0100220082, -0.000242068135,  5.00848061e-7};
constexpr double kS[6] = {1.39323,       0.231152406,   -0.155351466,
                          0.00621836624, 9.19082986e-5, -6.27525958e-7};

// K(X, Y), the Voigt function. Region I (Y > 0.85 or |X| < 18.1 Y + 1.65) sums the rational
// terms; region II adds a correction to exp(-X^2) (omitted for |X| >= 12, where it is below
// 1e-62). Returns false when the exponential reports errno 34 or 33.
bool voigt_k(double X, double Y, double *K) {
  const double Y1 = Y + 1.5;
  const double Y2 = Y1 * Y1;
  double k = 0.0;
  if (Y > 0.85 || std::fabs(X) < 18.1 * Y + 1.65) {
    for (int i = 0; i < 6; ++i) {
      const double Rm = X - kT[i], Rp = X + kT[i];
      const double Dm = 1.0 / (Rm * Rm + Y2), Dp = 1.0 / (Rp * Rp + Y2);
      k += kC[i] * (Y1 * Dm + Y1 * Dp) - kS[i] * (Rm * Dm - Rp * Dp);
    }
  } else {
    if (std::fabs(X) < 12.0) {
      k = fm::checked_exp(-(X * X));
      if (fm::math_error()) return false;
    }
    const double Y3 = Y + 3.0;
    for (int i = 0; i < 6; ++i) {
      const double Rm = X - kT[i], Rp = X + kT[i];
      const double Dm = 1.0 / (Rm * Rm + Y2);
      k += Y * (kC[i] * (Rm * Rm * Dm - 1.5 * Y1 * Dm) + kS[i] * Y3 * Rm * Dm) /
           (Rm * Rm + 2.25);
      const double Dp = 1.0 / (Rp * Rp + Y2);
      k += Y * (kC[i] * (Rp * Rp * Dp - 1.5 * Y1 * Dp) - kS[i] * Y3 * Rp * Dp) /
           (Rp * Rp + 2.25);
    }
  }
  *K = k;
  return true;
}

// The pseudo-Voigt peak of area A: (1 - mu) * Gaussian of FWHM wG + mu * Lorentzian of FWHM
// wL, evaluated as A*((1 - mu)*0.939437278*G/wG + mu*0.636619772*wL/(4 d^2 + wL^2)),
// G = checked_exp(d^2*(-2.77258872)/wG^2).
bool pseudo_voigt(double d, double A, double wG, double wL, double mu, double *v) {
  const double d2 = d * d;
  const double G = fm::checked_exp(d2 * (-kFourLn2) / (wG * wG));
  *v = A * ((1.0 - mu) * kGaussArea * G / wG + mu * kLorentzArea * wL / (4.0 * d2 + wL * wL));
  return !fm::math_error();
}

}  // namespace

// Voigt5 (table and export name): y = p1 + sum A*0.939437278/wG * K(X, Y), per peak xc, A, wG
//   (Gaussian FWHM), wL (Lorentzian FWHM); X = (x - xc)*1.665109222/wG,
//   Y = wL*0.832554611/wG, K the Voigt function (above).
//   wG or wL exactly 0 fails (negative widths are accepted). Only region II's exponential is
//   followed by an errno test (34 or 33 fails).
FM_MODEL(Voigt5) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  const double t = x[1];
  const auto peak = unless_zero_area([t](const double *b, double *v) {
    const double xc = b[1], A = b[2], wG = b[3], wL = b[4];
    if (wG == 0.0 || wL == 0.0) return false;
    const double X = (t - xc) * kTwoRootLn2 / wG;
    const double Y = wL * kRootLn2 / wG;
    double K = 0.0;
    if (!voigt_k(X, Y, &K)) return false;
    *v = K * A * kGaussArea / wG;
    return true;
  });
  return fm::value_only_sum(request, nParams, params, y, 4, peak);
}

// PsdVoigt1 (exported as PseudoVoigt1): y = p1 + sum of pseudo-Voigt peaks, per peak xc, A,
//   w (the FWHM of both shapes), mu (Lorentzian fraction, not restricted to [0, 1]).
//   w <= 0 fails; errno 34 or 33 after the peak fails.
FM_MODEL(PseudoVoigt1) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  const double t = x[1];
  const auto peak = unless_zero_area([t](const double *b, double *v) {
    const double xc = b[1], A = b[2], w = b[3], mu = b[4];
    if (w <= 0.0) return false;
    return pseudo_voigt(t - xc, A, w, w, mu, v);
  });
  return fm::value_only_sum(request, nParams, params, y, 4, peak);
}

// PsdVoigt2 (exported as PseudoVoigt2): as PsdVoigt1 with separate widths, per peak xc, A,
//   wG (Gaussian FWHM), wL (Lorentzian FWHM), mu. wG <= 0 or wL <= 0 fails; errno 34 or 33
//   after the peak fails.
FM_MODEL(PseudoVoigt2) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  const double t = x[1];
  const auto peak = unless_zero_area([t](const double *b, double *v) {
    const double xc = b[1], A = b[2], wG = b[3], wL = b[4], mu = b[5];
    if (wG <= 0.0 || wL <= 0.0) return false;
    return pseudo_voigt(t - xc, A, wG, wL, mu, v);
  });
  return fm::value_only_sum(request, nParams, params, y, 5, peak);
}
