// Periodic, stepped and transient signals: the sine forms (Sine, SineSqr, SineDamp), the
// periodic waves (SawtoothWave, SquareWave, SquareWaveMod), the single step (Step), the
// rise-and-decay pulse (Pulse1) and the sum of three decaying exponentials (Lanczos3).
//
// Common to all nine: analytic derivatives; bit 0 returns 1 at once, writing nothing; nParams
// is not read. The sine forms and Lanczos3 answer REQ_QUERY with "no moments"; the others
// never examine bit 3. Failures are the standard failure (errno 0, y[1] = MISSING_VALUE,
// return 1) unless a model says otherwise. The periods use the runtime's floor, so a point
// exactly on a period boundary belongs to the period that starts there.
#include "frame/contract.h"
#include "models/tail_math.h"

namespace {

constexpr double kPi = 3.141592653589793;

// u = (x - xc)*pi/w of the sine forms.
inline double sine_phase(double x, double xc, double w) { return (x - xc) * kPi / w; }

// Index of the period holding x: floor((x - x0)/T).
inline double period_index(double x, double x0, double T) { return fm::floor((x - x0) / T); }

}  // namespace

// Sine: y = y0 + A*sin(u), u = (x - xc)*pi/w (p1 y0, p2 xc, p3 half period w, p4 A).
// Value-then-derivatives shape.
//   value: y = y0 first; w = 0 fails; y = y0 + A*s with s = sin(u). The sine of an infinite
//     phase is a domain error of the math layer: errno 34 or 33 after the sine fails.
//   derivatives: y = y0 first; w = 0, or errno 34 or 33 after the sine and cosine, writes
//     MISSING_VALUE into d1..d4 and fails. d4 = s, d2 = c*(A*(-pi))/w, d3 = (x - xc)*d2/w,
//     d1 = 1, y = A*s + y0; return 0.
FM_MODEL(Sine) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    y[1] = p[1];
    if (p[3] == 0.0) return fm::standard_failure(y);
    const double s = fm::sin(sine_phase(t, p[2], p[3]));
    // A sine of an infinite phase has no value: fail rather than return a NaN.
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = p[1] + p[4] * s;
  }
  if (!fm::wants_deriv(request)) return 0;
  y[1] = p[1];
  if (p[3] == 0.0) return fm::all_missing_failure(y, deriv, 4);
  const double u = sine_phase(t, p[2], p[3]);
  const double s = fm::sin(u);
  const double c = fm::cos(u);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  deriv[4] = s;
  deriv[2] = c * (p[4] * (-kPi)) / p[3];
  deriv[3] = (t - p[2]) * deriv[2] / p[3];
  deriv[1] = 1.0;
  y[1] = p[4] * s + p[1];
  return 0;
}

// SineSqr: y = y0 + A*sin(u)^2, u = (x - xc)*pi/w (p1 y0, p2 xc, p3 half period w, p4 A).
// Value-then-derivatives shape.
//   value: y = y0 first; w = 0 fails; errno 34 or 33 after the sine fails (an infinite phase
//     is a domain error); y = y0 + A*s*s.
//   derivatives: y = y0 first; w = 0, or errno 34 or 33 after the sine, writes MISSING_VALUE
//     into d1..d4 and fails. d4 = s*s, d2 = c*(A*(-2)*pi)*s/w, d3 = (x - xc)*d2/w, d1 = 1,
//     y = s*s*A + y0; return 0.
FM_MODEL(SineSqr) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    y[1] = p[1];
    if (p[3] == 0.0) return fm::standard_failure(y);
    const double s = fm::sin(sine_phase(t, p[2], p[3]));
    if (fm::math_error()) return fm::standard_failure(y);
    y[1] = p[1] + p[4] * (s * s);
  }
  if (!fm::wants_deriv(request)) return 0;
  y[1] = p[1];
  if (p[3] == 0.0) return fm::all_missing_failure(y, deriv, 4);
  const double u = sine_phase(t, p[2], p[3]);
  const double s = fm::sin(u);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
  const double c = fm::cos(u);
  deriv[4] = s * s;
  deriv[2] = c * (p[4] * (-2.0) * kPi) * s / p[3];
  deriv[3] = (t - p[2]) * deriv[2] / p[3];
  deriv[1] = 1.0;
  y[1] = s * s * p[4] + p[1];
  return 0;
}

// SineDamp: y = y0 + A*exp(-x/t0)*sin(u), u = (x - xc)*pi/w (p1 y0, p2 xc, p3 half period w,
// p4 decay time t0, p5 A). Value-then-derivatives shape.
//   value: y = y0 first; t0 = 0 or w = 0 fails; y = y0 + A*E*s; errno 34 or 33 after it fails
//     (an overflowing E, or an infinite phase).
//   derivatives: y = y0 first; t0 = 0, w = 0, or errno 34 or 33 after the sine, cosine and E,
//     writes MISSING_VALUE into d1..d5 and fails. d5 = s*E, d4 = s*E*A*x/t0/t0,
//     d2 = c*(E*A*(-pi))/w, d3 = (x - xc)*d2/w, d1 = 1, y = s*E*A + y0; return 0.
FM_MODEL(SineDamp) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    y[1] = p[1];
    if (p[4] == 0.0 || p[3] == 0.0) return fm::standard_failure(y);
    const double s = fm::sin(sine_phase(t, p[2], p[3]));
    const double e = fm::checked_exp(-t / p[4]);
    y[1] = p[1] + p[5] * e * s;
    if (fm::math_error()) return fm::standard_failure(y);
  }
  if (!fm::wants_deriv(request)) return 0;
  y[1] = p[1];
  if (p[4] == 0.0 || p[3] == 0.0) return fm::all_missing_failure(y, deriv, 5);
  const double u = sine_phase(t, p[2], p[3]);
  const double s = fm::sin(u);
  const double c = fm::cos(u);
  const double e = fm::checked_exp(-t / p[4]);
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 5);
  deriv[5] = s * e;
  deriv[4] = s * e * p[5] * t / p[4] / p[4];
  deriv[2] = c * (e * p[5] * (-kPi)) / p[3];
  deriv[3] = (t - p[2]) * deriv[2] / p[3];
  deriv[1] = 1.0;
  y[1] = s * e * p[5] + p[1];
  return 0;
}

// SawtoothWave: y = (xm - p1)*(p3/T) + p2 with xm = x - k*T, k = floor((x - p1)/T)
// (p1 phase x0, p2 value at the start of a period, p3 rise per period, p4 period T).
// Computes y under either of bits 1 and 2, then the derivatives under bit 2; neither bit
// returns 0 with nothing written.
//   T = 0 fails before the value and again before the derivatives.
//   derivatives (k held fixed): d2 = 1, d1 = -(p3/T), d3 = (xm - p1)/T,
//   d4 = -(p3*(x - p1)/(T*T)); return 0.
FM_MODEL(SawtoothWave) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const double T = p[4];
  if (T == 0.0) return fm::standard_failure(y);
  const double xm = t - period_index(t, p[1], T) * T;
  y[1] = (xm - p[1]) * (p[3] / T) + p[2];
  if (!fm::wants_deriv(request)) return 0;
  if (T == 0.0) return fm::standard_failure(y);
  deriv[2] = 1.0;
  deriv[1] = -(p[3] / T);
  deriv[3] = (xm - p[1]) / T;
  deriv[4] = -(p[3] * (t - p[1]) / (T * T));
  return 0;
}

// SquareWave: y = p1 in the first half of each period, p2 in the second (p1, p2 the two
// values, p3 phase x0, p4 period T); k = floor((x - x0)/T). Computes y under either of bits 1
// and 2, then the derivatives under bit 2; neither bit returns 0 with nothing written.
//   T = 0 fails before the value and again before the derivatives.
//   value: p1 when T*0.5 + x0 > x - T*k, else p2.
//   derivatives: d1 = 1, d2 = 0 when x >= T*k + x0 and (k + 0.5)*T + x0 > x; otherwise d1 = 0,
//     d2 = 1; d3 = d4 = 0; return 0.
FM_MODEL(SquareWave) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const double x0 = p[3], T = p[4];
  if (T == 0.0) return fm::standard_failure(y);
  const double k = period_index(t, x0, T);
  y[1] = (T * 0.5 + x0 > t - T * k) ? p[1] : p[2];
  if (!fm::wants_deriv(request)) return 0;
  if (T == 0.0) return fm::standard_failure(y);
  const bool first = t >= T * k + x0 && (k + 0.5) * T + x0 > t;
  deriv[1] = first ? 1.0 : 0.0;
  deriv[2] = first ? 0.0 : 1.0;
  deriv[3] = 0.0;
  deriv[4] = 0.0;
  return 0;
}

// SquareWaveMod: y = p1 in the first part (a fraction f) of each period, p2 in the rest
// (p1, p2 the two values, p3 phase x0, p4 fraction f, p5 period T); k = floor((x - x0)/T).
// Computes y under either of bits 1 and 2, then the derivatives under bit 2; neither bit
// returns 0 with nothing written.
//   T = 0 fails before the value and again before the derivatives.
//   value: p1 when T*f + x0 >= x - T*k, else p2 (the boundary itself takes p1).
//   derivatives: d1 = 1, d2 = 0 when x >= T*k + x0 and (k + f)*T + x0 > x (the boundary itself
//     takes the second part); otherwise d1 = 0, d2 = 1; d3 = d4 = d5 = 0; return 0.
FM_MODEL(SquareWaveMod) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const double x0 = p[3], f = p[4], T = p[5];
  if (T == 0.0) return fm::standard_failure(y);
  const double k = period_index(t, x0, T);
  y[1] = (T * f + x0 >= t - T * k) ? p[1] : p[2];
  if (!fm::wants_deriv(request)) return 0;
  if (T == 0.0) return fm::standard_failure(y);
  const bool first = t >= T * k + x0 && (k + f) * T + x0 > t;
  deriv[1] = first ? 1.0 : 0.0;
  deriv[2] = first ? 0.0 : 1.0;
  deriv[3] = 0.0;
  deriv[4] = 0.0;
  deriv[5] = 0.0;
  return 0;
}

// Step: y = p1 for x < p3, p2 for x >= p3 (p1 value before, p2 value after, p3 position).
// Computes y under either of bits 1 and 2, then the derivatives under bit 2; neither bit
// returns 0 with nothing written. Never fails.
//   derivatives: d1 = 1, d2 = 0 when p3 > x, else d1 = 0, d2 = 1; d3 = 0, except exactly at
//     the step (x = p3), where the step has no derivative in its position: d3 = MISSING_VALUE
//     (the call still returns 0).
FM_MODEL(Step) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const bool before = p[3] > t;
  y[1] = before ? p[1] : p[2];
  if (!fm::wants_deriv(request)) return 0;
  deriv[1] = before ? 1.0 : 0.0;
  deriv[2] = before ? 0.0 : 1.0;
  deriv[3] = (t == p[3]) ? fm::kMissing : 0.0;
  return 0;
}

// Pulse1: y = A*(1 - exp(-d/t1))^P * exp(-d/t2) for d = x - x0 > 0, 0 otherwise
// (p1 start x0, p2 amplitude A, p3 rise time t1, p4 power P, p5 decay time t2); no offset.
// Value-then-derivatives shape.
//   value: A exactly 0 gives y = 0 with no test; else t1 = 0 fails, then t2 = 0 fails;
//     d <= 0 gives y = 0; else E1 = exp(-d/t1), Q = (1 - E1)^P, y = exp(-d/t2)*(Q*A), and
//     errno 34 or 33 fails.
//   derivatives: unless t1 > 0, t2 > 0 and P > 0: d1..d5 = MISSING_VALUE and fail. d < 0:
//     d1..d5 = 0, y = 0, return 0 (d = 0 goes on). E1 = exp(-d/t1), E2 = exp(-d/t2); errno 34
//     writes MISSING_VALUE into d1..d5 and fails; d2 = (1 - E1)^P*E2, errno 34 or 33 likewise;
//     y = A*d2.
//     Where E1 is exactly 1 (at the start, or d/t1 below rounding) the derivatives in x0, t1,
//     P and t2 do not exist in this form: d1, d3, d4, d5 = MISSING_VALUE and the call
//     returns 1 with y and errno as they are.
//     Otherwise R = E1*P/((1 - E1)*t1): d3 = y*(-d/t1)*R, d5 = -((-d/t2)*y/t2),
//     d1 = (1/t2 - R)*y, d4 = ln(1 - E1)*y; errno 34 or 33 after the logarithm resets errno,
//     makes d4 MISSING_VALUE and returns 1 with y kept; else return 0. ln(1 - E1) is formed
//     as log1p(-E1), which keeps its digits where E1 is small (far from the start).
FM_MODEL(Pulse1) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double x0 = p[1], A = p[2], t1 = p[3], P = p[4], t2 = p[5];
  const double d = x[1] - x0;
  if (fm::wants_value(request)) {
    if (A == 0.0) {
      y[1] = 0.0;
    } else {
      if (t1 == 0.0 || t2 == 0.0) return fm::standard_failure(y);
      if (d <= 0.0) {
        y[1] = 0.0;
      } else {
        const double e1 = fm::checked_exp(-d / t1);
        const double q = fm::checked_pow(1.0 - e1, P);
        y[1] = fm::checked_exp(-d / t2) * (q * A);
        if (fm::math_error()) return fm::standard_failure(y);
      }
    }
  }
  if (!fm::wants_deriv(request)) return 0;
  if (!(t1 > 0.0) || !(t2 > 0.0) || !(P > 0.0)) return fm::all_missing_failure(y, deriv, 5);
  if (d < 0.0) {
    for (int i = 1; i <= 5; ++i) deriv[i] = 0.0;
    y[1] = 0.0;
    return 0;
  }
  const double e1 = fm::checked_exp(-d / t1);
  const double e2 = fm::checked_exp(-d / t2);
  if (fm::overflow_error()) return fm::all_missing_failure(y, deriv, 5);
  deriv[2] = fm::checked_pow(1.0 - e1, P) * e2;
  if (fm::math_error()) return fm::all_missing_failure(y, deriv, 5);
  const double v = A * deriv[2];
  y[1] = v;
  if (e1 == 1.0) {
    deriv[1] = deriv[3] = deriv[4] = deriv[5] = fm::kMissing;
    return 1;
  }
  const double r = e1 * P / ((1.0 - e1) * t1);
  deriv[3] = v * (-d / t1) * r;
  deriv[5] = -((-d / t2) * v / t2);
  deriv[1] = (1.0 / t2 - r) * v;
  deriv[4] = fm::log1p(-e1) * v;
  if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 4, 4);
  return 0;
}

// Lanczos3: y = a1*exp(-b1*x) + a2*exp(-b2*x) + a3*exp(-b3*x)
// (p1 a1, p2 b1, p3 a2, p4 b2, p5 a3, p6 b3). REQ_QUERY answers "no moments"; bit 0 returns 1.
//   The three exponentials are computed for every other request word, before bits 1 and 2 are
//   looked at: errno 34 after them is the standard failure, even for a request of 0.
//   value: y = E2*a2 + E1*a1 + E3*a3; errno 34 or 33 fails.
//   derivatives: d1 = E1, d3 = E2, d5 = E3, d2 = -(a1*x*E1), d4 = -(a2*x*E2),
//     d6 = -(x*a3*E3); y as for the value; errno 34 or 33 then fails (the deriv entries stay
//     written); return 0.
FM_MODEL(Lanczos3) {
  if (fm::wants_query(request)) return fm::answer_no_moments(deriv);
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  const double e1 = fm::checked_exp(-p[2] * t);
  const double e2 = fm::checked_exp(-p[4] * t);
  const double e3 = fm::checked_exp(-p[6] * t);
  if (fm::overflow_error()) return fm::standard_failure(y);
  if (fm::wants_value(request)) {
    y[1] = e2 * p[3] + e1 * p[1] + e3 * p[5];
    if (fm::math_error()) return fm::standard_failure(y);
  }
  if (!fm::wants_deriv(request)) return 0;
  deriv[1] = e1;
  deriv[3] = e2;
  deriv[5] = e3;
  deriv[2] = -(p[1] * t * e1);
  deriv[4] = -(p[3] * t * e2);
  deriv[6] = -(t * p[5] * e3);
  y[1] = e2 * p[3] + e1 * p[1] + e3 * p[5];
  if (fm::math_error()) return fm::standard_failure(y);
  return 0;
}
