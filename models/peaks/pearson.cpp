// Peaks of the Pearson family: the area-normalised symmetric Pearson VII peak (PearsonVII), a
// Lorentzian at shape 1 tending to a Gaussian as the shape grows, with analytic derivatives and
// its own gamma-function routines; and the asymmetric Pearson IV peak (PearsonIV), evaluated by
// the host math library. Both are single peaks: nParams is not read and only y[1] is written.
#include "frame/contract.h"
#include "frame/host_math.h"

namespace {

constexpr double kRootPi = 1.77245385090551;  // sqrt(pi)
constexpr double kPi = 3.141592653589793;
constexpr double kPiSquared = 9.869604401089358;

// The six-term Lanczos series S(z) = 1 + sum c_i/(z + i), i = 0..5, and its derivative.
constexpr double kLanczos[6] = {76.18009173, -86.50532033, 24.01409822,
                                -1.231739516, 0.00120858003, -5.36382e-6};

double lanczos_series(double z) {
  const double t = z - 1.0;
  double S = 1.0;
  for (int i = 0; i < 6; ++i) S += kLanczos[i] / (t + (i + 1));
  return S;
}

// ln Gamma(z) for z > 0: ln(2.50662827465*S(z)) - ((t + 5.5) - (t + 0.5)*ln(t + 5.5)), t = z - 1.
double log_gamma_series(double z) {
  const double t = z - 1.0;
  return fm::log(2.50662827465 * lanczos_series(z)) - ((t + 5.5) - (t + 0.5) * fm::log(t + 5.5));
}

// psi(z), the exact derivative of log_gamma_series:
// ln(z + 4.5) + ((z - 0.5)/(z + 4.5) - 1) + S'(z)/S(z).
double digamma_series(double z) {
  double dS = 0.0;
  for (int i = 0; i < 6; ++i) dS -= kLanczos[i] / ((z + i) * (z + i));
  return fm::log(z + 4.5) + ((z - 0.5) / (z + 4.5) - 1.0) + dS / lanczos_series(z);
}

// Gamma(z): MISSING_VALUE for z <= 0; exp(ln Gamma) for z >= 1; the reflection
// Gamma(z) = a/(Gamma(2 - z) sin a), a = (1 - z) pi, for 0 < z < 1.
double gamma_value(double z) {
  if (z <= 0.0) return fm::kMissing;
  if (z >= 1.0) return fm::checked_exp(log_gamma_series(z));
  const double a = (1.0 - z) * kPi;
  return a / (fm::checked_exp(log_gamma_series(2.0 - z)) * fm::sin(a));
}

// Gamma'(z): MISSING_VALUE for z <= 0; Gamma(z) psi(z) for z >= 1; the exact derivative of the
// reflection form for 0 < z < 1.
double gamma_slope(double z) {
  if (z <= 0.0) return fm::kMissing;
  if (z >= 1.0) return fm::checked_exp(log_gamma_series(z)) * digamma_series(z);
  const double a = (1.0 - z) * kPi;
  const double G = fm::checked_exp(log_gamma_series(2.0 - z));
  const double S = fm::sin(a), C = fm::cos(a);
  return (a * digamma_series(2.0 - z) * S - kPi * S + C * (1.0 - z) * kPiSquared) / (G * S * S);
}

// Above this ln Gamma(m) the gamma function itself overflows a double.
constexpr double kLogGammaOverflow = 709.0;

// The ratio R = Gamma(m)/Gamma(m - 1/2) of the normalisation (m > 1/2). Where Gamma(m)
// overflows (m above about 171) the ratio, of order sqrt(m), is formed in log space.
double gamma_ratio(double m) {
  const double lg = log_gamma_series(m);
  if (lg > kLogGammaOverflow) return fm::checked_exp(lg - log_gamma_series(m - 0.5));
  return gamma_value(m) / gamma_value(m - 0.5);
}

// The REQ_QUERY mask: bit k set when the moment of order k is finite (m > (k + 1)/2).
int32_t moment_mask(double m) {
  int32_t mask = 0;
  if (m > 0.5) mask |= 1;
  if (m > 1.0) mask |= 2;
  if (m > 1.5) mask |= 4;
  if (m > 2.0) mask |= 8;
  if (m > 2.5) mask |= 16;
  return mask;
}

}  // namespace

// PearsonVII (table and export name): y = p1 + K*(1 + 4c u^2)^(-m),
//   K = R*sqrt(c)*2*p3/(p4*sqrt(pi)), u = (x - p2)/p4, c = 2^(1/m) - 1, m = p5,
//   R = Gamma(m)/Gamma(m - 1/2); p1 baseline, p2 centre, p3 area, p4 FWHM, p5 shape m.
// REQ_QUERY stores the moment mask of m (bit k for m > (k + 1)/2, k = 0..4) and returns
// QUERY_REPLY_MASK; bit 0 returns 0; value-then-derivatives shape.
//   value: p4 exactly 0 or m <= 0.5 fails; c = checked_pow(2, 1/m) - 1, then K, then
//     P = checked_pow(q, -m), q = c*4*u^2 + 1, each followed by a failure on errno 34 or 33;
//     y = K*P + p1.
//   derivatives: the same tests and the same two powers with their errno tests, then
//     d1 = 1, d2 = 16 s^3 p3 m (P/q) u R/(p4 sqrt(pi) p4), d3 = 2 s P R/(p4 sqrt(pi)),
//     d4 = u d2 - (p3/p4) d3, d5 = the four terms of dy/dm (the power, s, and the two gamma
//     functions of R; 2.77259 and 0.693147 stand for 4 ln 2 and ln 2), y = p3 d3 + p1;
//     s = sqrt(c). No deriv entry is written on failure.
//   Where Gamma(m) overflows (m above about 171) R and d5 are formed from ln Gamma and psi
//   directly, so value and derivatives stay finite.
FM_MODEL(PearsonVII) {
  const double *p = params;
  const double m = p[5];
  if (fm::wants_query(request)) return fm::answer_moment_mask(deriv, moment_mask(m));
  if (fm::wants_reserved(request)) return 0;
  const double u = (x[1] - p[2]) / p[4];
  if (fm::wants_value(request)) {
    if (p[4] == 0.0 || m <= 0.5) return fm::standard_failure(y);
    const double c = fm::checked_pow(2.0, 1.0 / m) - 1.0;
    if (fm::math_error()) return fm::standard_failure(y);
    const double K = gamma_ratio(m) * fm::sqrt(c) * 2.0 * p[3] / (p[4] * kRootPi);
    if (fm::math_error()) return fm::standard_failure(y);
    const double P = fm::checked_pow(c * 4.0 * (u * u) + 1.0, -m);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = K * P + p[1];
  }
  if (!fm::wants_deriv(request)) return 0;

  if (p[4] == 0.0 || m <= 0.5) return fm::standard_failure(y);
  const double c = fm::checked_pow(2.0, 1.0 / m) - 1.0;
  if (fm::math_error()) return fm::standard_failure(y);
  const double q = c * 4.0 * (u * u) + 1.0;
  const double P = fm::checked_pow(q, -m);
  if (fm::math_error()) return fm::standard_failure(y);
  const double s = fm::sqrt(c);
  const double R = gamma_ratio(m);
  const double norm = p[4] * kRootPi;
  deriv[1] = 1.0;
  deriv[2] = 16.0 * (s * s * s) * p[3] * m * (P / q) * u * R / (norm * p[4]);
  deriv[3] = 2.0 * s * P * R / norm;
  deriv[4] = u * deriv[2] - (p[3] / p[4]) * deriv[3];
  const double power = (c + 1.0) * 2.77259 * (u * u) / (m * q) - fm::log(q);
  const double width = (c + 1.0) * 0.693147 * p[3] * P * R / (m * s * m * kRootPi * p[4]);
  if (log_gamma_series(m) > kLogGammaOverflow) {
    // V*Gamma(m) = W*R with W = 2 s p3 P/(p4 sqrt(pi)); Gamma'(z) = Gamma(z) psi(z).
    const double WR = 2.0 * s * p[3] * P / norm * R;
    deriv[5] = WR * (power + (digamma_series(m) - digamma_series(m - 0.5))) - width;
  } else {
    const double V = 2.0 * s * p[3] * P / (norm * gamma_value(m - 0.5));
    deriv[5] = V * gamma_value(m) * power - width - gamma_slope(m - 0.5) * V * R +
               gamma_slope(m) * V;
  }
  y[1] = p[3] * deriv[3] + p[1];
  return 0;
}

// PearsonIV (table name; not exported): y = velmath_PearsonIV(p1, ..., p6, x), the host math
// library's Pearson IV peak: p1 baseline, p2 location, p3 area, p4 scale, p5 shape m,
// p6 skewness nu (see frame/host_math.h).
// Values only: REQ_QUERY returns QUERY_REPLY_MASK and stores nothing; bit 0, or bit 1 clear,
// returns 0 and writes nothing. Otherwise the host routine's result goes into y[1] as it is
// (MISSING_VALUE for parameters outside its domain) with return 0; no errno test.
FM_MODEL(PearsonIV) {
  if (fm::wants_query(request)) return QUERY_REPLY_MASK;
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  const double *p = params;
  y[1] = velmath_PearsonIV(p[1], p[2], p[3], p[4], p[5], p[6], x[1]);
  return 0;
}
