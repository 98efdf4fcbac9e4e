// Peak surfaces z = f(x1, x2), x1 = x[1], x2 = x[2]: the axis-aligned Gaussian and Lorentzian,
// a rotated Gaussian, two pseudo-Voigt surfaces (weighted sums of a Gaussian and a Lorentzian),
// and four mixed shapes combining a peak along x1 with a lognormal, polynomial or linear
// dependence on x2.
//
// Term layout: p1 is the baseline of every model. Except Voigt2DMod (one peak), each model is a
// sum of identical terms; term k (from 0) starts at parameter b = 2 + s*k for a stride s, and
// only terms whose parameters all lie within nParams are evaluated (a partial block is ignored).
// y[1] is the total and y[2 + k] the value of term k alone, without the baseline; the
// derivatives of term k lie at the positions of its parameters. A model reading nParams refuses
// nParams < 1 (standard failure, no deriv written). Terms completed before a failure keep their
// y[2 + k] values and derivatives. None answers REQ_QUERY; a request with neither bit 1 nor
// bit 2 returns 0 and writes nothing.
//
// u = (x1 - xc)/w1 and v = (x2 - yc)/w2 throughout. Where a derivative divides by x1 - xc or
// x2 - yc, the entry is 0.0 when that difference is exactly 0, which is also the exact value.
#include "frame/contract.h"

namespace {

constexpr double kFourLn2 = 2.77258872223976;
constexpr double kEightLn2 = 5.54517744447952;
constexpr double kLn2 = 0.69314718055994;
constexpr double kPi = 3.141592653589793;
constexpr double kPiSquared = 9.869604401089358;
constexpr double kFourOverPiSquared = 0.4052847345693511;

// Number of terms of stride s whose parameters p(2 + s*k) .. p(1 + s*k + size) all lie within
// nParams (nParams >= 1).
inline int term_count(int nParams, int stride, int size) {
  const int last = nParams - 1 - size;  // the last term may start at 2 + last
  return last < 0 ? 0 : last / stride + 1;
}

// x divided by d, or 0.0 when d is exactly 0 (then the numerator is 0 too, and 0 is the exact
// value of the partial derivative).
inline double over_difference(double x, double d) { return d != 0.0 ? x / d : 0.0; }

// The term geometry of a peak-frame model (amplitude at b, widths at b + 2 and b + 4).
struct PeakFrame {
  int stride;     // parameters between the starts of consecutive terms
  int size;       // parameters a term reads
  int zero_last;  // a switched-off term writes 0.0 into deriv[b .. b + zero_last]
  int mark_last;  // a failing term writes MISSING_VALUE into deriv[b .. b + mark_last]
};

// The frame of Gauss2D, Lorentz2D, Gaussian2D and Voigt2D.
//   value: nParams < 1 fails. A term with amplitude exactly 0 is skipped (y[2+k] not written);
//     a width of exactly 0 fails (negative widths pass); errno 34 or 33 after the term fails.
//   derivatives: nParams < 1 fails with no deriv written; d1 = 1. A term with amplitude exactly
//     0 writes 0.0 into its entries. A width <= 0, or errno 34 after the shape factor, writes
//     MISSING_VALUE into the term's entries and fails.
// value(b) returns the term's value; derivatives(b, t) stores the shape factor into deriv[b],
// returns false on errno 34 after it, else writes the other entries and the value t.
template <class Value, class Deriv>
int32_t peak_frame(int32_t request, int nParams, const PeakFrame &F, const double *p,
                   double *y, double *deriv, Value value, Deriv derivatives) {
  if (fm::wants_reserved(request)) return 1;
  if (fm::wants_value(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int n = term_count(nParams, F.stride, F.size);
    double total = p[1];
    for (int k = 0; k < n; ++k) {
      const int b = 2 + F.stride * k;
      if (p[b] == 0.0) continue;
      if (p[b + 2] == 0.0 || p[b + 4] == 0.0) return fm::standard_failure(y);
      const double t = value(b);
      if (fm::math_error()) return fm::standard_failure(y);
      y[k + 2] = t;
      total = total + t;
    }
    y[1] = total;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams < 1) return fm::standard_failure(y);
  const int n = term_count(nParams, F.stride, F.size);
  deriv[1] = 1.0;
  double total = p[1];
  for (int k = 0; k < n; ++k) {
    const int b = 2 + F.stride * k;
    if (p[b] == 0.0) {
      for (int i = 0; i <= F.zero_last; ++i) deriv[b + i] = 0.0;
      continue;
    }
    double t = 0.0;
    if (p[b + 2] <= 0.0 || p[b + 4] <= 0.0 || !derivatives(b, t)) {  // a NaN width passes
      fm::set_missing(deriv, b, b + F.mark_last);
      return fm::standard_failure(y);
    }
    y[k + 2] = t;
    total = total + t;
  }
  y[1] = total;
  return 0;
}

// The shape factor and derivatives of a Gaussian term with the axis-aligned u, v.
bool gauss_term(const double *p, int b, double x1, double x2, double *deriv, double &t) {
  const double A = p[b], xc = p[b + 1], w1 = p[b + 2], yc = p[b + 3], w2 = p[b + 4];
  const double u = (x1 - xc) / w1, v = (x2 - yc) / w2;
  const double e = fm::checked_exp(u * u * -0.5 - v * v * 0.5);
  deriv[b] = e;
  if (fm::overflow_error()) return false;
  deriv[b + 2] = e * A * (u * u) / w1;
  deriv[b + 4] = e * A * (v * v) / w2;
  deriv[b + 1] = over_difference(e * A * (u * u), x1 - xc);
  deriv[b + 3] = over_difference(e * A * (v * v), x2 - yc);
  t = e * A;
  return true;
}

// Voigt2DMod's Gaussian and Lorentzian factors at one point.
struct PseudoVoigt {
  double dx, dy, Lx, Ly, G;
};

PseudoVoigt pseudo_voigt(const double *p, double x1, double x2) {
  PseudoVoigt V;
  V.dx = x1 - p[3];
  V.dy = x2 - p[5];
  const double dx2 = fm::checked_pow(V.dx, 2.0), dy2 = fm::checked_pow(V.dy, 2.0);
  V.Lx = dx2 * 4.0 + p[4] * p[4];
  V.Ly = dy2 * 4.0 + p[6] * p[6];
  V.G = fm::checked_exp(dx2 * (-kFourLn2 / (p[4] * p[4])) - dy2 * (kFourLn2 / (p[6] * p[6])));
  return V;
}

}  // namespace

// Gauss2D: z = p1 + sum A*exp(-u^2/2 - v^2/2); per term A, xc, w1, yc, w2 (5 per term).
// Value-then-derivatives shape; bit 0 returns 1.
//   value: nParams < 1 fails; A exactly 0 switches the term off (its widths are not examined);
//     w1 or w2 exactly 0 fails (the Gaussian is even in the widths, so negative ones pass);
//     errno 34 or 33 after the exponential fails.
//   derivatives: nParams < 1 fails with no deriv written; d1 = 1; A exactly 0 gives 0.0 in the
//     term's five entries; w1 <= 0 or w2 <= 0, or errno 34 after e, writes MISSING_VALUE into
//     them and fails. Else dA = e, dxc = e*A*u^2/(x1 - xc), dw1 = e*A*u^2/w1, and likewise for
//     yc, w2.
FM_MODEL(Gauss2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  return peak_frame(
      request, nParams, PeakFrame{5, 5, 4, 4}, p, y, deriv,
      [&](int b) {
        const double u = (x1 - p[b + 1]) / p[b + 2], v = (x2 - p[b + 3]) / p[b + 4];
        return fm::checked_exp(u * u * -0.5 - v * v * 0.5) * p[b];
      },
      [&](int b, double &t) { return gauss_term(p, b, x1, x2, deriv, t); });
}

// Lorentz2D: z = p1 + sum A/((u^2 + 1)*(v^2 + 1)); per term A, xc, w1, yc, w2 (5 per term).
// Value-then-derivatives shape; bit 0 returns 1.
//   value: as Gauss2D; nothing in a term calls the math library, so the errno test after it
//     catches only an errno left by earlier work of the calling thread.
//   derivatives: as Gauss2D's frame, with a = u^2 + 1, c = v^2 + 1, L = 1/a/c: dA = L,
//     dw1 = A*2*L/a*u^2/w1, dxc = A*2*L*u^2/a/(x1 - xc), likewise for w2, yc with c; the term
//     is L*A.
FM_MODEL(Lorentz2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  return peak_frame(
      request, nParams, PeakFrame{5, 5, 4, 4}, p, y, deriv,
      [&](int b) {
        const double u = (x1 - p[b + 1]) / p[b + 2], v = (x2 - p[b + 3]) / p[b + 4];
        return p[b] / (u * u + 1.0) / (v * v + 1.0);
      },
      [&](int b, double &t) {
        const double A = p[b], xc = p[b + 1], w1 = p[b + 2], yc = p[b + 3], w2 = p[b + 4];
        const double u = (x1 - xc) / w1, v = (x2 - yc) / w2;
        const double a = u * u + 1.0, c = v * v + 1.0;
        const double L = 1.0 / a / c;
        deriv[b] = L;
        if (fm::overflow_error()) return false;
        t = L * A;
        deriv[b + 2] = A * 2.0 * L / a * (u * u) / w1;
        deriv[b + 4] = A * 2.0 * L / c * (v * v) / w2;
        deriv[b + 1] = over_difference(A * 2.0 * L * (u * u) / a, x1 - xc);
        deriv[b + 3] = over_difference(A * 2.0 * L * (v * v) / c, x2 - yc);
        return true;
      });
}

// Gaussian2D: z = p1 + sum A*exp(-u^2/2 - v^2/2) in axes rotated by theta:
//   C = cos theta, S = sin theta, P = (x1*C + x2*S) - (C*xc + S*yc),
//   Q = (x2*C - x1*S) - (C*yc - S*xc), u = P/w1, v = Q/w2;
// per term A, xc, w1, yc, w2, theta: six parameters at a stride of five, so for two or more
// terms the angle of term k is also the amplitude of term k + 1, and the later term's writes to
// that shared deriv entry stand.
// Value-then-derivatives shape; bit 0 returns 1; the frame of Gauss2D (the six entries
// deriv[b .. b+5] are the term's set for zeroing and marking; errno 34 or 33 after cos, sin and
// the exponential fail the value).
//   derivatives: dA = e, dw1 = e*A*u^2/w1, dw2 = e*A*v^2/w2,
//     dxc = (C*P/w1^2 - S*Q/w2^2)*e*A, dyc = (S*P/w1^2 + C*Q/w2^2)*e*A,
//     dtheta = Q*P*(1/w2^2 - 1/w1^2)*e*A.
FM_MODEL(Gaussian2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  struct Rotated {
    double C, S, P, Q, u, v, e;
  };
  auto rotated = [&](int b) {
    Rotated R;
    const double xc = p[b + 1], yc = p[b + 3];
    R.C = fm::cos(p[b + 5]);
    R.S = fm::sin(p[b + 5]);
    R.P = (x1 * R.C + x2 * R.S) - (R.C * xc + R.S * yc);
    R.Q = (x2 * R.C - x1 * R.S) - (R.C * yc - R.S * xc);
    R.u = R.P / p[b + 2];
    R.v = R.Q / p[b + 4];
    R.e = fm::checked_exp(R.u * R.u * -0.5 - R.v * R.v * 0.5);
    return R;
  };
  return peak_frame(
      request, nParams, PeakFrame{5, 6, 5, 5}, p, y, deriv,
      [&](int b) { return rotated(b).e * p[b]; },
      [&](int b, double &t) {
        const double A = p[b], w1 = p[b + 2], w2 = p[b + 4];
        const Rotated R = rotated(b);
        deriv[b] = R.e;
        if (fm::overflow_error()) return false;
        const double w1s = w1 * w1, w2s = w2 * w2;
        deriv[b + 2] = R.e * A * (R.u * R.u) / w1;
        deriv[b + 4] = R.e * A * (R.v * R.v) / w2;
        deriv[b + 1] = (R.C * R.P / w1s - R.S * R.Q / w2s) * R.e * A;
        deriv[b + 3] = (R.S * R.P / w1s + R.C * R.Q / w2s) * R.e * A;
        deriv[b + 5] = R.Q * R.P * (1.0 / w2s - 1.0 / w1s) * R.e * A;
        t = R.e * A;
        return true;
      });
}

// Voigt2D: z = p1 + sum A*((1 - m)*G + m/((u^2 + 1)*(v^2 + 1))), G = exp(-u^2/2 - v^2/2);
// per term A, xc, w1, yc, w2, m (6 per term).
// Value-then-derivatives shape; bit 0 returns 1; the frame of Gauss2D. A failing term marks
// deriv[b .. b+4]; a switched-off term (A exactly 0) writes 0.0 into all six entries, the
// fraction's included, since the term then does not depend on m.
//   derivatives: a = u^2 + 1, c = v^2 + 1, r = 1/(a*c): dA = (1 - m)*G + m*r,
//     dw1 = m*2*A*r/a*u^2/w1 + (1 - m)*A*G*u^2/w1,
//     dxc = m*2*A*r*u^2/a/(x1 - xc) + (1 - m)*A*G*u^2/(x1 - xc), likewise for w2, yc with c,
//     dm = (r - G)*A; the term is A*dA.
FM_MODEL(Voigt2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  return peak_frame(
      request, nParams, PeakFrame{6, 6, 5, 4}, p, y, deriv,
      [&](int b) {
        const double A = p[b], m = p[b + 5];
        const double u = (x1 - p[b + 1]) / p[b + 2], v = (x2 - p[b + 3]) / p[b + 4];
        const double G = fm::checked_exp(u * u * -0.5 - v * v * 0.5);
        return (G * (1.0 - m) + m / ((v * v + 1.0) * (u * u + 1.0))) * A;
      },
      [&](int b, double &t) {
        const double A = p[b], xc = p[b + 1], w1 = p[b + 2], yc = p[b + 3], w2 = p[b + 4],
                     m = p[b + 5];
        const double u = (x1 - xc) / w1, v = (x2 - yc) / w2;
        const double G = fm::checked_exp(u * u * -0.5 - v * v * 0.5);
        const double a = u * u + 1.0, c = v * v + 1.0, r = 1.0 / (a * c);
        deriv[b] = (1.0 - m) * G + m * r;
        if (fm::overflow_error()) return false;
        const double u2 = u * u, v2 = v * v;
        deriv[b + 2] = m * 2.0 * A * r / a * u2 / w1 + (1.0 - m) * A * G * u2 / w1;
        deriv[b + 4] = m * 2.0 * A * r / c * v2 / w2 + (1.0 - m) * A * G * v2 / w2;
        deriv[b + 1] = over_difference(m * 2.0 * A * r * u2 / a, x1 - xc) +
                       over_difference((1.0 - m) * A * G * u2, x1 - xc);
        deriv[b + 3] = over_difference(m * 2.0 * A * r * v2 / c, x2 - yc) +
                       over_difference((1.0 - m) * A * G * v2, x2 - yc);
        deriv[b + 5] = (r - G) * A;
        t = A * deriv[b];
        return true;
      });
}

// Voigt2DMod: one area-normalised pseudo-Voigt peak with full widths at half maximum,
//   z = p1 + p2*B, B = p7*4/pi^2*p4*p6/(Lx*Ly) + G*(1 - p7)*K/(pi*p4*p6),
//   dx = x1 - p3, dy = x2 - p5, K = 4 ln 2, Lx = 4*dx^2 + p4^2, Ly = 4*dy^2 + p6^2,
//   G = exp(-K*dx^2/p4^2 - K*dy^2/p6^2);
// p2 area, p3 and p5 centres, p4 and p6 widths, p7 Lorentzian fraction. nParams is not read.
// Value-then-derivatives shape, the value computed whenever bit 1 or bit 2 is set; bit 0
// returns 1.
//   p2 exactly 0 switches the peak off: y = p1 and, with bit 2, d1 = 1 and d2..d7 = 0.0
//     (return 0, even for widths <= 0).
//   p4 <= 0 or p6 <= 0, or (4*dx*dx + p4*p4)*(4*dy*dy + p6*p6) exactly 0, or errno 34 (left
//     by earlier work) fails; with bit 2 d2..d6 are first set to MISSING_VALUE.
//   derivatives: d1 = 1, d2 = B, and the exact partial derivatives in p3..p7 (ln 2 as
//     0.69314718055994, 8 ln 2 as 5.54517744447952, 4/pi^2 as 0.4052847345693511).
FM_MODEL(Voigt2DMod) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  const bool derivs = fm::wants_deriv(request);
  if (p[2] == 0.0) {
    y[1] = p[1];
    if (derivs) {
      deriv[1] = 1.0;
      for (int i = 2; i <= 7; ++i) deriv[i] = 0.0;
    }
    return 0;
  }
  auto failure = [&]() {
    if (derivs) fm::set_missing(deriv, 2, 6);
    return fm::standard_failure(y);
  };
  if (p[4] <= 0.0 || p[6] <= 0.0) return failure();
  {
    const double dx = x1 - p[3], dy = x2 - p[5];
    const double Q = (4.0 * dx * dx + p[4] * p[4]) * (4.0 * dy * dy + p[6] * p[6]);
    if (errno == ERANGE || Q == 0.0) return failure();
  }
  const PseudoVoigt V = pseudo_voigt(p, x1, x2);
  const double l = p[7] * 4.0 / kPiSquared;
  const double c = (1.0 - p[7]) * kFourLn2 / (p[4] * kPi * p[6]);
  const double B = l * p[4] * p[6] / (V.Lx * V.Ly) + V.G * c;
  y[1] = B * p[2] + p[1];
  if (!derivs) return 0;

  const double G = V.G, Lx = V.Lx, Ly = V.Ly, dx = V.dx, dy = V.dy;
  const double Lx2 = fm::checked_pow(Lx, 2.0), Ly2 = fm::checked_pow(Ly, 2.0);
  deriv[1] = 1.0;
  deriv[2] = B;
  deriv[3] = (l * p[4] * p[6] / (Lx2 * Ly) * 8.0 * dx +
              G * c * 8.0 * kLn2 / (p[4] * p[4]) * dx) *
             p[2];
  deriv[4] = ((p[6] / (Lx * Ly) - p[4] * 2.0 * p[4] * p[6] / (Lx2 * Ly)) * l +
              (fm::checked_pow(dx, 2.0) * kEightLn2 / fm::checked_pow(p[4], 3.0) - 1.0 / p[4]) *
                  G * c) *
             p[2];
  deriv[5] = (l * p[4] * p[6] / (Ly2 * Lx) * 8.0 * dy +
              G * c * 8.0 * kLn2 / (p[6] * p[6]) * dy) *
             p[2];
  deriv[6] = ((p[4] / (Lx * Ly) - p[4] * 2.0 * p[6] * p[6] / (Ly2 * Lx)) * l +
              (fm::checked_pow(dy, 2.0) * kEightLn2 / fm::checked_pow(p[6], 3.0) - 1.0 / p[6]) *
                  G * c) *
             p[2];
  deriv[7] = (p[4] * kFourOverPiSquared * p[6] / (Lx * Ly) -
              G * (kFourLn2 / (p[4] * kPi * p[6]))) *
             p[2];
  return 0;
}

// Extreme2D: z = p1 + sum [b1*x2 + b2*x2^2 + A*exp(1 - e1 - (x1 - xc)/w)],
// e1 = exp((xc - x1)/w): an extreme-value peak along x1 on a quadratic in x2 without constant
// term; per term b1, b2, A, xc, w (5 per term). Exponentials by capped_exp.
// Value-then-derivatives shape; bit 0 returns 1; nParams < 1 fails (no deriv written).
//   value: errno 34 or 33 after e1 or after e2 = capped_exp(1 - e1 - (x1 - xc)/w) fails.
//   derivatives: d1 = 1; per term db1 = x2, db2 = x2*x2, dA = e2,
//     dxc = (1 - e1)*(e2*A)/w, dw = (e1*(xc - x1) + (x1 - xc))*(e2*A)/w/w, with the errno test
//     after each exponential; the term is b1*db1 + b2*db2 + A*dA.
FM_MODEL(Extreme2D) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  if (fm::wants_value(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int n = term_count(nParams, 5, 5);
    double total = p[1];
    for (int k = 0; k < n; ++k) {
      const int b = 2 + 5 * k;
      const double b1 = p[b], b2 = p[b + 1], A = p[b + 2], xc = p[b + 3], w = p[b + 4];
      const double e1 = fm::capped_exp((xc - x1) / w);
      if (fm::math_error()) return fm::standard_failure(y);
      const double e2 = fm::capped_exp(1.0 - e1 - (x1 - xc) / w);
      if (fm::math_error()) return fm::standard_failure(y);
      const double t = x2 * b1 + A * e2 + x2 * b2 * x2;
      y[k + 2] = t;
      total = total + t;
    }
    y[1] = total;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams < 1) return fm::standard_failure(y);
  const int n = term_count(nParams, 5, 5);
  deriv[1] = 1.0;
  double total = p[1];
  for (int k = 0; k < n; ++k) {
    const int b = 2 + 5 * k;
    const double b1 = p[b], b2 = p[b + 1], A = p[b + 2], xc = p[b + 3], w = p[b + 4];
    double e1 = fm::capped_exp((xc - x1) / w);
    if (fm::math_error()) return fm::standard_failure(y);
    const double e2 = fm::capped_exp(1.0 - e1 - (x1 - xc) / w);
    if (fm::math_error()) return fm::standard_failure(y);
    deriv[b] = x2;
    deriv[b + 2] = e2;
    deriv[b + 1] = x2 * x2;
    e1 = fm::capped_exp((xc - x1) / w);
    deriv[b + 3] = (1.0 - e1) * (e2 * A) / w;
    if (fm::math_error()) return fm::standard_failure(y);
    e1 = fm::capped_exp((xc - x1) / w);
    deriv[b + 4] = (e1 * (xc - x1) + (x1 - xc)) * (e2 * A) / w / w;
    if (fm::math_error()) return fm::standard_failure(y);
    const double t = b1 * deriv[b] + b2 * deriv[b + 1] + A * deriv[b + 2];
    y[k + 2] = t;
    total = total + t;
  }
  y[1] = total;
  return 0;
}

// LogNormal2D: z = p1 + sum [a1*ga + a2*gb + a12*ga*gb], ga = exp(-ln(x1/c1)^2/(2*s1^2)),
// gb = exp(-ln(x2/c2)^2/(2*s2^2)): a lognormal ridge along each axis plus their product; per
// term a1, c1, s1, a2, c2, s2, a12 (7 per term). Exponentials by capped_exp.
// Values only: bit 0 returns 0, and so does a request without bit 1 (bit 2 is ignored, nothing
// is written).
//   nParams < 1 fails; errno 34 or 33 after ga or after gb (a logarithm of a non-positive
//   quotient) fails.
FM_MODEL(LogNormal2D) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  if (nParams < 1) return fm::standard_failure(y);
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  const int n = term_count(nParams, 7, 7);
  double total = p[1];
  for (int k = 0; k < n; ++k) {
    const int b = 2 + 7 * k;
    const double a1 = p[b], c1 = p[b + 1], s1 = p[b + 2], a2 = p[b + 3], c2 = p[b + 4],
                 s2 = p[b + 5], a12 = p[b + 6];
    const double l1 = fm::log(x1 / c1);
    const double ga = fm::capped_exp(l1 * l1 * -0.5 / s1 / s1);
    if (fm::math_error()) return fm::standard_failure(y);
    const double l2 = fm::log(x2 / c2);
    const double gb = fm::capped_exp(l2 * l2 * -0.5 / s2 / s2);
    if (fm::math_error()) return fm::standard_failure(y);
    const double t = gb * a2 + ga * a1 + ga * a12 * gb;
    y[k + 2] = t;
    total = total + t;
  }
  y[1] = total;
  return 0;
}

// GaussLog: z = p1 + sum A*exp(-(q^2 + r^2)/2), q = ln(x2/c2)/s2, r = (x1 - xc)/w1: a Gaussian
// in x1 times a lognormal in x2; per term A, xc, w1, c2, s2 (5 per term). Exponential by
// capped_exp.
// Values only: bit 0 returns 0, and so does a request without bit 1 (nothing written). With
// bits 1 and 2 both set the terms are computed into y[2..] and then y[1] = p1.
//   nParams < 1 fails; in each term x2 <= 0 fails, and errno 34 or 33 after the exponential
//   fails (the term's y[2+k] is already written then).
FM_MODEL(GaussLog) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  if (nParams < 1) return fm::standard_failure(y);
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  const int n = term_count(nParams, 5, 5);
  double total = p[1];
  for (int k = 0; k < n; ++k) {
    const int b = 2 + 5 * k;
    const double A = p[b], xc = p[b + 1], w1 = p[b + 2], c2 = p[b + 3], s2 = p[b + 4];
    if (x2 <= 0.0) return fm::standard_failure(y);
    const double q = fm::log(x2 / c2) / s2, r = (x1 - xc) / w1;
    const double t = fm::capped_exp((q * q + r * r) * -0.5) * A;
    y[k + 2] = t;
    if (fm::math_error()) return fm::standard_failure(y);
    total = total + t;
  }
  y[1] = fm::wants_deriv(request) ? p[1] : total;
  return 0;
}

// LogisticPeak: z = p1 + sum [A*4*e/(e + 1)^2 + b1*x2],
// e = exp((xc - x1)/w): a logistic peak of height A along x1 plus a slope in x2; per term b1,
// A, xc, w (4 per term). Exponential by capped_exp.
// Values only: bit 0 returns 0, and so does a request without bit 1 (nothing written). With
// bits 1 and 2 both set the terms are computed into y[2..] and then y[1] = p1.
//   nParams < 1 fails; errno 34 or 33 after the exponential fails.
FM_MODEL(LogisticPeak) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  if (nParams < 1) return fm::standard_failure(y);
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  const int n = term_count(nParams, 4, 4);
  double total = p[1];
  for (int k = 0; k < n; ++k) {
    const int b = 2 + 4 * k;
    const double b1 = p[b], A = p[b + 1], xc = p[b + 2], w = p[b + 3];
    const double e = fm::capped_exp((xc - x1) / w);
    if (fm::math_error()) return fm::standard_failure(y);
    const double t = A * 4.0 * e / (e + 1.0) / (e + 1.0) + x2 * b1;
    y[k + 2] = t;
    total = total + t;
  }
  y[1] = fm::wants_deriv(request) ? p[1] : total;
  return 0;
}
