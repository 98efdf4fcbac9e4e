// Sigmoidal transitions between two plateaus: the Boltzmann step in natural-exponential form
// (Boltzman) and in base-10 form (Boltzman1, Response1, Competition1), the two-site base-10
// competition curve (Competition2), the sum of two Boltzmann steps (DoubleBoltzmann) and the
// logistic dose-response curves in x/x0 (Logistic, Logistic5).
//
// Every model here has the exclusive request shape: bit 0 returns 1 and writes nothing; bit 1
// computes y[1] alone and returns; only a request with bit 1 clear and bit 2 set computes
// deriv[1..m] together with y[1]; a request with neither bit returns 0 and writes nothing.
// Only Competition2 answers REQ_QUERY (no moments; before bit 0 is looked at).
//
// The plateau substitute: where an exponential or a power of a curve overflows, several models
// write the plateau the curve tends to (and the limiting derivatives), reset errno to 0 and
// return 0. It stands for overflow only: the math layer leaves errno alone when a result
// underflows, so a power tending to 0 on the other side of the midpoint follows the normal
// formula to the other plateau.
//
// ln10 is the constant 2.302585093 throughout.
#include "frame/contract.h"

namespace {

constexpr double kLn10 = 2.302585093;

// The plateau substitute of a value request.
int32_t plateau_value(double *y, double level) {
  errno = 0;
  y[1] = level;
  return 0;
}

// Three-parameter base-10 step y = p2 + (p1 - p2)/(1 + 10^u) with u = p3 - x (rising, as
// Boltzman1) or u = x - p3 (falling, as Competition1). dy/dp3 = (p1 - p2) s (1 - s) k with
// s = 1/(1 + 10^u) and k = -ln10 (rising) or ln10 (falling).
int32_t base10_step(int32_t request, int16_t nParams, const double *p, const double *x,
                    bool rising, double *y, double *deriv) {
  if (fm::wants_reserved(request)) return 1;
  const auto exponent = [&] { return rising ? p[3] - x[1] : x[1] - p[3]; };
  const double k = rising ? -kLn10 : kLn10;
  if (fm::wants_value(request)) {
    // fewer parameters than the model reads: fail as for none
    if (nParams < 3) return fm::standard_failure(y);
    const double e = fm::checked_pow(10.0, exponent());
    // Overflow (10^u -> infinity) is the p2 plateau; underflow (10^u -> 0) computes p1.
    if (fm::math_error()) return plateau_value(y, p[2]);
    y[1] = (p[1] - p[2]) / (e + 1.0) + p[2];
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 3) return fm::standard_failure(y);  // as in the value request
  const double e = fm::checked_pow(10.0, exponent());
  if (fm::overflow_error()) {  // 34 only: a stale 33 takes the normal path and stays
    errno = 0;
    deriv[1] = 0.0;
    deriv[2] = 1.0;
    y[1] = p[2];
    deriv[3] = 0.0;
    return 0;
  }
  const double s = 1.0 / (e + 1.0);
  deriv[1] = s;
  deriv[2] = 1.0 - s;
  y[1] = (p[1] - p[2]) / (e + 1.0) + p[2];
  deriv[3] = (p[1] - p[2]) * s * (1.0 - s) * k;
  return 0;
}

}  // namespace

// Boltzman: y = p2 + (p1 - p2)/(1 + exp((x - p3)/p4)); p1 the plateau for (x - p3)/p4 -> -inf,
// p2 the one for +inf, p3 the midpoint, p4 the width.
//   value: nParams >= 4 and p4 != 0, else standard failure. t = (x - p3)/p4; t > 665, or
//     checked_exp(t) leaving errno 34 or 33 -> plateau y = p2; else y = (p1 - p2)/(e + 1) + p2.
//   derivatives: nParams < 4 or |p4| < 1e-18 -> standard failure, no deriv written.
//     t <= 665 and e = checked_exp(t) clean: s = 1/(e + 1), d1 = s, d2 = 1 - s,
//     y = (p1 - p2)/(e + 1) + p2, d3 = (p1 - p2) s (1 - s)/p4, d4 = d3 t; otherwise the
//     plateau d = (0, 1, 0, 0), y = p2, errno 0. Return 0.
FM_MODEL(Boltzman) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  if (fm::wants_value(request)) {
    // fewer parameters than the model reads: fail as for none
    if (nParams < 4 || p[4] == 0.0) return fm::standard_failure(y);
    const double t = (x[1] - p[3]) / p[4];
    if (t > 665.0) return plateau_value(y, p[2]);
    const double e = fm::checked_exp(t);
    // Only overflow reaches the plateau: for t < -300 e is 0 and the formula gives p1.
    if (fm::math_error()) return plateau_value(y, p[2]);
    y[1] = (p[1] - p[2]) / (e + 1.0) + p[2];
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 4) return fm::standard_failure(y);  // as in the value request
  if (std::fabs(p[4]) < 1e-18) return fm::standard_failure(y);
  const double t = (x[1] - p[3]) / p[4];
  if (t <= 665.0) {
    const double e = fm::checked_exp(t);
    if (!fm::math_error()) {
      const double s = 1.0 / (e + 1.0);
      deriv[1] = s;
      deriv[2] = 1.0 - s;
      y[1] = (p[1] - p[2]) / (e + 1.0) + p[2];
      deriv[3] = (p[1] - p[2]) * s * (1.0 - s) / p[4];
      deriv[4] = deriv[3] * t;
      return 0;
    }
  }
  errno = 0;
  deriv[1] = 0.0;
  deriv[2] = 1.0;
  y[1] = p[2];
  deriv[3] = 0.0;
  deriv[4] = 0.0;
  return 0;
}

// Boltzman1 (export only): y = p2 + (p1 - p2)/(1 + 10^(p3 - x)); three parameters.
//   value: nParams >= 3, else standard failure. e = checked_pow(10, p3 - x); errno 34 or 33 ->
//     plateau y = p2; else y = (p1 - p2)/(e + 1) + p2.
//   derivatives: nParams < 3 fails as in the value; errno 34 after the power -> plateau d = (0, 1, 0), y = p2,
//     errno 0; else s = 1/(e + 1), d1 = s, d2 = 1 - s, y as above,
//     d3 = (p1 - p2) s (1 - s) (-ln10). Return 0.
// Far right of p3 the power underflows and the formula itself gives p1.
FM_MODEL(Boltzman1) {
  return base10_step(request, nParams, params, x, true, y, deriv);
}

// Competition1 (export Boltzman3): y = p2 + (p1 - p2)/(1 + 10^(x - p3)); three parameters.
// The mirror of Boltzman1: the same frame with the power 10^(x - p3) and
// d3 = (p1 - p2) s (1 - s) ln10. Far left of p3 the power underflows and the formula gives p1.
FM_MODEL(Boltzman3) {
  return base10_step(request, nParams, params, x, false, y, deriv);
}

// Response1 (export Boltzman2): y = p1 + (p2 - p1)/(1 + 10^((p3 - x) p4)); p1 bottom, p2 top,
// p3 the midpoint, p4 the slope.
//   value: requires nParams >= 4, p4 != 0 and not p1 >= p2 (a NaN passes), else standard
//     failure. e = checked_pow(10, (p3 - x) p4); errno 34 or 33 -> plateau y = p1; else
//     y = (p2 - p1)/(e + 1) + p1.
//   derivatives (p1 < p2 not tested): nParams < 4 or |p4| < 1e-18 -> standard failure.
//     errno 34 after the power -> plateau d = (1, 0, 0, 0), y = p1, errno 0; else
//     s = 1/(e + 1), d2 = s, d1 = 1 - s, y as above, d3 = (p2 - p1) d1 d2 p4 (-ln10),
//     d4 = (p2 - p1) d1 d2 (p3 - x) (-ln10). Return 0.
// On the top side the power underflows and the formula gives p2.
FM_MODEL(Boltzman2) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  if (fm::wants_value(request)) {
    // fewer parameters than the model reads: fail as for none
    if (nParams < 4 || p[4] == 0.0 || p[1] >= p[2]) return fm::standard_failure(y);
    const double e = fm::checked_pow(10.0, (p[3] - x[1]) * p[4]);
    if (fm::math_error()) return plateau_value(y, p[1]);
    y[1] = (p[2] - p[1]) / (e + 1.0) + p[1];
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 4) return fm::standard_failure(y);  // as in the value request
  if (std::fabs(p[4]) < 1e-18) return fm::standard_failure(y);
  const double e = fm::checked_pow(10.0, (p[3] - x[1]) * p[4]);
  if (fm::overflow_error()) {
    errno = 0;
    deriv[1] = 1.0;
    deriv[2] = 0.0;
    y[1] = p[1];
    deriv[3] = 0.0;
    deriv[4] = 0.0;
    return 0;
  }
  const double s = 1.0 / (e + 1.0);
  deriv[2] = s;
  deriv[1] = 1.0 - s;
  y[1] = (p[2] - p[1]) / (e + 1.0) + p[1];
  deriv[3] = (p[2] - p[1]) * deriv[1] * deriv[2] * p[4] * (-kLn10);
  deriv[4] = (p[2] - p[1]) * deriv[1] * deriv[2] * (p[3] - x[1]) * (-kLn10);
  return 0;
}

// Competition2 (export Boltzman4): y = p2 + (p1 - p2) (p5/(1 + 10^(x - p3))
// + (1 - p5)/(1 + 10^(x - p4))): two competing sites with midpoints p3, p4 and weights p5,
// 1 - p5. REQ_QUERY: no moments.
//   value: nParams >= 5, else standard failure. e1 = checked_pow(10, x - p3),
//     e2 = checked_pow(10, x - p4); y = (p5/(e1 + 1) + (1 - p5)/(e2 + 1)) (p1 - p2) + p2.
//   derivatives (nParams >= 5 as well): f = p5/(e1 + 1) + (1 - p5)/(e2 + 1); d1 = f, d2 = 1 - f,
//     y = f (p1 - p2) + p2, d3 = (p1 - p2) p5 (1 - 1/(e1 + 1)) ln10/(e1 + 1),
//     d4 = (p1 - p2) (1 - p5) (1 - 1/(e2 + 1)) ln10/(e2 + 1),
//     d5 = (p1 - p2) (1/(e1 + 1) - 1/(e2 + 1)). Return 0.
// Overflow: a component whose power overflows has 1/(e + 1) = 0 and the curve goes on with the
// other one (its own d3 or d4 is 0), errno reset to 0; only when both overflow does the plateau
// y = p2 (d = (0, 1, 0, 0, 0)) stand. The value request reads 34 or 33 as overflow, the
// derivative request 34 only; an error already set on entry takes the plateau.
FM_MODEL(Boltzman4) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const bool value = fm::wants_value(request);
  if (!value && !fm::wants_deriv(request)) return 0;
  // fewer parameters than the model reads: fail as for none (either request)
  if (nParams < 5) return fm::standard_failure(y);
  const auto overflowed = value ? fm::math_error : fm::overflow_error;
  bool over1 = overflowed(), over2 = over1;  // a stale error on entry: the plateau
  double e1 = 0.0, e2 = 0.0;
  if (!over1) {
    e1 = fm::checked_pow(10.0, x[1] - p[3]);
    over1 = overflowed();
    if (over1) errno = 0;
    e2 = fm::checked_pow(10.0, x[1] - p[4]);
    over2 = overflowed();
  }
  if (over1 && over2) {
    errno = 0;
    if (!value) {
      deriv[1] = 0.0;
      deriv[2] = 1.0;
    }
    y[1] = p[2];
    if (!value) deriv[3] = deriv[4] = deriv[5] = 0.0;
    return 0;
  }
  if (over2) errno = 0;
  // The two components p5/(e1 + 1) and (1 - p5)/(e2 + 1), 0 when their power overflowed.
  const double c1 = over1 ? 0.0 : p[5] / (e1 + 1.0);
  const double c2 = over2 ? 0.0 : (1.0 - p[5]) / (e2 + 1.0);
  if (value) {
    y[1] = (c1 + c2) * (p[1] - p[2]) + p[2];
    return 0;
  }
  const double f = c1 + c2;
  deriv[1] = f;
  deriv[2] = 1.0 - f;
  y[1] = f * (p[1] - p[2]) + p[2];
  deriv[3] = over1 ? 0.0 : (p[1] - p[2]) * p[5] * (1.0 - 1.0 / (e1 + 1.0)) * kLn10 / (e1 + 1.0);
  deriv[4] =
      over2 ? 0.0 : (p[1] - p[2]) * (1.0 - p[5]) * (1.0 - 1.0 / (e2 + 1.0)) * kLn10 / (e2 + 1.0);
  deriv[5] = (p[1] - p[2]) * ((over1 ? 0.0 : 1.0 / (e1 + 1.0)) - (over2 ? 0.0 : 1.0 / (e2 + 1.0)));
  return 0;
}

// DoubleBoltzmann: y = p1 + p2 (p3/(1 + exp((x - p4)/p6)) + (1 - p3)/(1 + exp((x - p5)/p7))):
// two Boltzmann steps of heights p2 p3 and p2 (1 - p3), midpoints p4, p5 and widths p6, p7.
// Neither nParams nor the widths are tested.
//   value: e1 = checked_exp((x - p4)/p6), then e2 = checked_exp((x - p5)/p7), each followed by
//     the errno test (34 or 33: standard failure); y = ((1 - p3)/(e2 + 1) + p3/(e1 + 1)) p2 + p1.
//   derivatives: d1 = 1 first; E1 = checked_exp((x - p4)/p6) + 1, E2 = checked_exp((x - p5)/p7)
//     + 1, each followed by the errno test (standard failure, d1 stays). d2 = (1 - p3)/E2
//     + p3/E1, d3 = (1/E1 - 1/E2) p2, d4 = (E1 - 1) p2 p3/(E1^2 p6),
//     d5 = (E2 - 1) p2 (1 - p3)/(E2^2 p7), d6 = (x - p4) d4/p6, d7 = (x - p5) d5/p7,
//     y = d2 p2 + p1. Return 0.
// An overflowing exponential fails; one tending to 0 follows the formula to the plateau.
FM_MODEL(DoubleBoltzmann) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    const double e1 = fm::checked_exp((t - p[4]) / p[6]);
    if (fm::math_error()) return fm::standard_failure(y);
    const double e2 = fm::checked_exp((t - p[5]) / p[7]);
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = ((1.0 - p[3]) / (e2 + 1.0) + p[3] / (e1 + 1.0)) * p[2] + p[1];
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  deriv[1] = 1.0;
  const double E1 = fm::checked_exp((t - p[4]) / p[6]) + 1.0;
  if (fm::math_error()) return fm::standard_failure(y);
  const double E2 = fm::checked_exp((t - p[5]) / p[7]) + 1.0;
  if (fm::math_error()) return fm::standard_failure(y);
  deriv[2] = (1.0 - p[3]) / E2 + p[3] / E1;
  deriv[3] = (1.0 / E1 - 1.0 / E2) * p[2];
  deriv[4] = (E1 - 1.0) * p[2] * p[3] / (E1 * E1 * p[6]);
  deriv[5] = (E2 - 1.0) * p[2] * (1.0 - p[3]) / (E2 * E2 * p[7]);
  // Just below the exponential's overflow both the numerator (with |p2| > 1) and E^2 overflow
  // and the quotient is inf/inf: the slope there is its limit 0, as it is a little closer in.
  if (std::isnan(deriv[4]) && std::isinf(E1 * E1)) deriv[4] = 0.0;
  if (std::isnan(deriv[5]) && std::isinf(E2 * E2)) deriv[5] = 0.0;
  deriv[6] = (t - p[4]) * deriv[4] / p[6];
  deriv[7] = (t - p[5]) * deriv[5] / p[7];
  y[1] = deriv[2] * p[2] + p[1];
  return 0;
}

// Logistic: y = p2 + (p1 - p2)/(1 + (x/p3)^p4); p1 the value at x = 0 (for p4 > 0), p2 the
// plateau for large x, p3 the midpoint, p4 the power.
//   value: requires nParams >= 4 and p3 != 0, else standard failure; r = x/p3 < 0: standard
//     failure. e = checked_pow(r, p4); errno 33: standard failure; errno 34: plateau y = p2;
//     else y = (p1 - p2)/(e + 1) + p2.
//   derivatives: nParams < 4 fails as in the value; requires p3 > 0, p4 != 0 and x >= 0, otherwise
//     d1..d4 = MISSING_VALUE and standard failure. e = checked_pow(x/p3, p4); errno 33: the
//     same. errno 34: errno reset to 0 and s = 0; else s = 1/(e + 1). d1 = s, d2 = 1 - s,
//     a = (p1 - p2) s, d3 = a p4 d2/p3, c = -(d3 p3/p4), d4 = ln(x/p3) c when c != 0, else 0.
//     errno then 34 or 33: d4 = MISSING_VALUE and standard failure; else y = a + p2, return 0.
// A power underflowing to 0 (x far below p3 for p4 > 0) follows the formula to p1.
FM_MODEL(Logistic) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  if (fm::wants_value(request)) {
    // fewer parameters than the model reads: fail as for none
    if (nParams < 4 || p[3] == 0.0) return fm::standard_failure(y);
    const double r = x[1] / p[3];
    if (r < 0.0) return fm::standard_failure(y);
    const double e = fm::checked_pow(r, p[4]);
    if (errno == EDOM) return fm::standard_failure(y);
    if (errno == ERANGE) return plateau_value(y, p[2]);
    y[1] = (p[1] - p[2]) / (e + 1.0) + p[2];
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 4) return fm::standard_failure(y);  // as in the value request
  if (!(p[3] > 0.0) || p[4] == 0.0 || !(x[1] >= 0.0)) return fm::all_missing_failure(y, deriv, 4);
  const double e = fm::checked_pow(x[1] / p[3], p[4]);
  if (errno == EDOM) return fm::all_missing_failure(y, deriv, 4);
  double s = 0.0;
  if (errno == ERANGE) {
    errno = 0;
  } else {
    s = 1.0 / (e + 1.0);
  }
  deriv[1] = s;
  deriv[2] = 1.0 - s;
  const double a = (p[1] - p[2]) * s;
  deriv[3] = a * p[4] * deriv[2] / p[3];
  const double c = -(deriv[3] * p[3] / p[4]);
  deriv[4] = c != 0.0 ? fm::log(x[1] / p[3]) * c : 0.0;
  if (fm::math_error()) {
    deriv[4] = fm::kMissing;
    return fm::standard_failure(y);
  }
  y[1] = a + p[2];
  return 0;
}

// Logistic5 (not exported): y = p1 + (p2 - p1) (1 + (p3/x)^p4)^(-p5); five-parameter logistic
// with asymmetry p5. Neither nParams nor x = 0 is tested.
//   value: A = checked_pow(p3/x, p4), B = checked_pow(A + 1, -p5), y = B (p2 - p1) + p1; errno
//     then 34 or 33: standard failure; else return 0.
//   derivatives: A = checked_pow(p3/x, p4), C = checked_pow(A + 1, -1 - p5),
//     D = checked_pow(p3/x, p4 - 1), B = checked_pow(A + 1, -p5); d2 = B, d1 = 1 - B,
//     d3 = (p1 - p2) p4 p5 D C/x, d4 = ln(p3/x) (p1 - p2) p5 A C, d5 = ln(A + 1) (p1 - p2) B.
//     errno then 34 or 33: standard failure (the derivatives written stay); else
//     y = (p2 - p1) B + p1, return 0.
// An overflowing power fails; one underflowing to 0 follows the formula.
FM_MODEL(Logistic5) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    const double A = fm::checked_pow(p[3] / t, p[4]);
    const double B = fm::checked_pow(A + 1.0, -p[5]);
    y[1] = B * (p[2] - p[1]) + p[1];
    if (fm::math_error()) return fm::standard_failure(y);
    return 0;
  }
  if (!fm::wants_deriv(request)) return 0;
  const double A = fm::checked_pow(p[3] / t, p[4]);
  const double C = fm::checked_pow(A + 1.0, -1.0 - p[5]);
  const double D = fm::checked_pow(p[3] / t, p[4] - 1.0);
  const double B = fm::checked_pow(A + 1.0, -p[5]);
  deriv[2] = B;
  deriv[1] = 1.0 - B;
  deriv[3] = (p[1] - p[2]) * p[4] * p[5] * D * C / t;
  deriv[4] = fm::log(p[3] / t) * (p[1] - p[2]) * p[5] * A * C;
  deriv[5] = fm::log(A + 1.0) * (p[1] - p[2]) * B;
  if (fm::math_error()) return fm::standard_failure(y);
  // Where p3/x is infinite (x = 0) the terms of d3..d5 are 0 times infinity, no derivative is
  // defined by these formulas: fail as for an overflow rather than return a non-finite slope.
  if (!std::isfinite(deriv[3]) || !std::isfinite(deriv[4]) || !std::isfinite(deriv[5]))
    return fm::standard_failure(y);
  y[1] = (p[2] - p[1]) * B + p[1];
  return 0;
}
