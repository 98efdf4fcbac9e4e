// Polynomial, rational and trigonometric surfaces z = f(x1, x2), x1 = x[1], x2 = x[2]: a plane,
// two quadratic surfaces, a double quintic, Chebyshev and cosine series, a Fourier term and two
// rational surfaces.
//
// Term layout: except Plane, every model is a sum of identical terms. With a baseline p1 (all
// but the rational surfaces) term k (from 0) uses the M parameters p(2 + M*k) .. p(1 + M*(k+1))
// and there are (nParams - 1)/M terms; without one (Rational2D, RationalTaylor) term k uses
// p(1 + 10*k) .. p(10*(k+1)) and there are nParams/10 terms. Only terms whose parameters all lie
// within nParams are evaluated (a partial block is ignored). y[1] is the total and y[2 + k] the
// value of term k alone, without the baseline; the derivatives of term k lie at the positions of
// its parameters. A model with a baseline refuses nParams < 1 (standard failure, no deriv
// written). A failure in a later term leaves the earlier terms' y[2 + k] and deriv entries as
// written. None answers REQ_QUERY; a request with neither bit 1 nor bit 2 returns 0 and writes
// nothing (Chebyshev2D excepted, see there).
#include "frame/contract.h"

namespace {

// Number of terms of m parameters after the baseline p1 (nParams >= 1).
inline int term_count(int nParams, int m) { return (nParams - 1) / m; }

// The frame of Parabola2D, Poly2D and Fourier2D. term(b, t) computes the value t of the term
// starting at parameter b; deriv_term(b, t) writes its partial derivatives and its value t.
// The value branch fails on errno 34 or 33 after each term (so an errno left by earlier work
// of the calling thread fails the call even where the term calls nothing); the derivative
// branch tests nothing.
template <class Term, class DerivTerm>
int32_t guarded_frame(int32_t request, int nParams, int m, const double *p, double *y,
                      double *deriv, Term term, DerivTerm deriv_term) {
  if (fm::wants_reserved(request)) return 1;
  if (fm::wants_value(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int n = term_count(nParams, m);
    double total = p[1];
    for (int k = 0; k < n; ++k) {
      const double t = term(2 + m * k);
      if (fm::math_error()) return fm::standard_failure(y);
      y[k + 2] = t;
      total = total + t;
    }
    y[1] = total;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams < 1) return fm::standard_failure(y);
  const int n = term_count(nParams, m);
  deriv[1] = 1.0;
  double total = p[1];
  for (int k = 0; k < n; ++k) {
    const double t = deriv_term(2 + m * k);
    y[k + 2] = t;
    total = total + t;
  }
  y[1] = total;
  return 0;
}

// The frame of Polynomial2D, Chebyshev2D and Cosine: the same term arithmetic in both branches,
// no errno test, no failure beyond the refusal of nParams < 1.
template <class Term, class DerivTerm>
int32_t plain_frame(int32_t request, int nParams, int m, const double *p, double *y,
                    double *deriv, Term term, DerivTerm deriv_term) {
  if (fm::wants_value(request)) {
    if (nParams < 1) return fm::standard_failure(y);
    const int n = term_count(nParams, m);
    double total = p[1];
    for (int k = 0; k < n; ++k) {
      const double t = term(2 + m * k);
      y[k + 2] = t;
      total = total + t;
    }
    y[1] = total;
  }
  if (!fm::wants_deriv(request)) return 0;

  if (nParams < 1) return fm::standard_failure(y);
  const int n = term_count(nParams, m);
  double total = p[1];
  deriv[1] = 1.0;
  for (int k = 0; k < n; ++k) {
    const double t = deriv_term(2 + m * k);
    y[k + 2] = t;
    total = total + t;
  }
  y[1] = total;
  return 0;
}

// The five basis functions cos a, cos 2a, cos c, cos 2c, cos a * cos c of the cosine series.
struct CosineBasis {
  double f[5];
};

inline CosineBasis cosine_basis(double a, double c) {
  CosineBasis B;
  B.f[0] = fm::cos(a);
  B.f[1] = fm::cos(2.0 * a);
  B.f[2] = fm::cos(c);
  B.f[3] = fm::cos(2.0 * c);
  B.f[4] = B.f[0] * B.f[2];
  return B;
}

// p(b)*f0 + p(b+1)*f1 + p(b+2)*f2 + p(b+3)*f3 + p(b+4)*cos a*cos c, left to right.
inline double cosine_term(const double *q, double a1, double c1) {
  const double ca = fm::cos(a1), cc = fm::cos(c1);
  return q[0] * ca + q[1] * fm::cos(2.0 * a1) + q[2] * cc + q[3] * fm::cos(2.0 * c1) +
         q[4] * ca * cc;
}

// The rational frame (Rational2D, RationalTaylor). Bit 0 returns 0. A negative parameter count
// is not a count: both requests refuse it (standard failure, no deriv written). term(b, t) and
// deriv_term(b, t) return false when the term's denominator is exactly 0 (or the derivative
// form cannot be completed); the call then takes the standard failure.
template <class Term, class DerivTerm>
int32_t rational_frame(int32_t request, int nParams, double *y, Term term,
                       DerivTerm deriv_term) {
  if (fm::wants_reserved(request)) return 0;
  if (fm::wants_value_or_deriv(request) && nParams < 0) return fm::standard_failure(y);
  const int n = nParams / 10;
  if (fm::wants_value(request)) {
    double total = 0.0;
    for (int k = 0; k < n; ++k) {
      double t;
      if (!term(1 + 10 * k, t)) return fm::standard_failure(y);
      y[k + 2] = t;
      total = total + t;
    }
    y[1] = total;
  }
  if (!fm::wants_deriv(request)) return 0;

  double total = 0.0;
  for (int k = 0; k < n; ++k) {
    double t;
    if (!deriv_term(1 + 10 * k, t)) return fm::standard_failure(y);
    y[k + 2] = t;
    total = total + t;
  }
  y[1] = total;
  return 0;
}

}  // namespace

// Plane: z = p2*x1 + p1 + p3*x2.
// Value-then-derivatives shape; bit 0 returns 1; nParams is not read; never fails.
//   value: y = z. derivatives: d1 = 1, d2 = x1, d3 = x2, y = z again.
FM_MODEL(Plane) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  if (fm::wants_value(request)) y[1] = p[2] * x1 + p[1] + p[3] * x2;
  if (!fm::wants_deriv(request)) return 0;
  deriv[1] = 1.0;
  deriv[2] = x1;
  deriv[3] = x2;
  y[1] = p[2] * x1 + p[1] + p[3] * x2;
  return 0;
}

// Parabola2D: z = p1 + sum [B*x2 + A*x1 + C*x1^2 + D*x2^2]; per term A, B, C, D (4 per term).
// Value-then-derivatives shape; bit 0 returns 1.
//   value: nParams < 1 fails; errno 34 or 33 after a term (only an errno left by earlier work
//     can be there) fails.
//   derivatives: nParams < 1 fails with no deriv written; d1 = 1; per term x1, x2, x1*x1,
//     x2*x2. No errno test.
FM_MODEL(Parabola2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  auto term = [&](int b) {
    return p[b + 1] * x2 + p[b] * x1 + p[b + 2] * x1 * x1 + p[b + 3] * x2 * x2;
  };
  return guarded_frame(request, nParams, 4, p, y, deriv, term, [&](int b) {
    deriv[b] = x1;
    deriv[b + 1] = x2;
    deriv[b + 2] = x1 * x1;
    deriv[b + 3] = x2 * x2;
    return term(b);
  });
}

// Poly2D: z = p1 + sum [B*x2 + A*x1 + C*x1^2 + D*x2^2 + E*x1*x2]; per term A..E (5 per term).
// Value-then-derivatives shape; bit 0 returns 1.
//   value: nParams < 1 fails; errno 34 or 33 after a term (only an errno left by earlier work
//     can be there) fails.
//   derivatives: nParams < 1 fails with no deriv written; d1 = 1; per term x1, x2, x1*x1,
//     x2*x2, x2*x1. No errno test.
FM_MODEL(Poly2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  auto term = [&](int b) {
    return p[b + 1] * x2 + p[b] * x1 + p[b + 2] * x1 * x1 + p[b + 3] * x2 * x2 +
           p[b + 4] * x1 * x2;
  };
  return guarded_frame(request, nParams, 5, p, y, deriv, term, [&](int b) {
    deriv[b] = x1;
    deriv[b + 1] = x2;
    deriv[b + 2] = x1 * x1;
    deriv[b + 3] = x2 * x2;
    deriv[b + 4] = x2 * x1;
    return term(b);
  });
}

// Fourier2D: z = p1 + sum [A1*cos u + B1*sin u + A2*cos v + B2*sin v], u = x1/d1, v = x2/d2;
// per term A1, B1, A2, B2, d1, d2 (6 per term).
// Value-then-derivatives shape; bit 0 returns 1.
//   value: nParams < 1 fails; errno 34 or 33 after the four trigonometric calls of a term (an
//     infinite angle, e.g. a divisor of 0) fails.
//   derivatives: nParams < 1 fails with no deriv written; d1 = 1; per term cos u, sin u, cos v,
//     sin v, (sin u*x1*A1 - cos u*x1*B1)/d1/d1, (sin v*x2*A2 - cos v*x2*B2)/d2/d2. No errno
//     test; a zero divisor in any term is an all-missing failure (d1..d(1+6k), errno 0).
FM_MODEL(Fourier2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  auto term = [&](int b) {
    const double u = x1 / p[b + 4], v = x2 / p[b + 5];
    return p[b] * fm::cos(u) + p[b + 1] * fm::sin(u) + p[b + 2] * fm::cos(v) +
           p[b + 3] * fm::sin(v);
  };
  // A zero period divisor has no value and no slopes: the derivative request fails there as
  // the value request does, instead of returning NaN entries as a success.
  bool zero_divisor = false;
  const int32_t rc = guarded_frame(request, nParams, 6, p, y, deriv, term, [&](int b) {
    zero_divisor = zero_divisor || p[b + 4] == 0.0 || p[b + 5] == 0.0;
    const double u = x1 / p[b + 4], v = x2 / p[b + 5];
    const double cu = fm::cos(u), su = fm::sin(u), cv = fm::cos(v), sv = fm::sin(v);
    deriv[b] = cu;
    deriv[b + 1] = su;
    deriv[b + 2] = cv;
    deriv[b + 3] = sv;
    deriv[b + 4] = (su * x1 * p[b] - cu * x1 * p[b + 1]) / p[b + 4] / p[b + 4];
    deriv[b + 5] = (sv * x2 * p[b + 2] - cv * x2 * p[b + 3]) / p[b + 5] / p[b + 5];
    return p[b] * cu + p[b + 1] * su + p[b + 2] * cv + p[b + 3] * sv;
  });
  if (rc == 0 && zero_divisor) return fm::all_missing_failure(y, deriv, 1 + 6 * term_count(nParams, 6));
  return rc;
}

// Polynomial2D: z = p1 + sum [a1*x1 + a2*x1^2 + .. + a5*x1^5 + b1*x2 + b2*x2^2 + .. + b5*x2^5];
// per term a1..a5, b1..b5 (10 per term). Every power from the second up is checked_pow(x, k).
// Value-then-derivatives shape; bit 0 returns 1; nParams < 1 fails (no deriv written);
// otherwise never fails and never tests errno: non-finite results reach the outputs.
//   derivatives: d1 = 1; per term the ten powers x1, x1^2, .., x1^5, x2, .., x2^5, and the term
//     is the sum of each coefficient times its stored power.
FM_MODEL(Polynomial2D) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  auto powers = [&](double *f) {
    f[0] = x1;
    f[1] = fm::checked_pow(x1, 2.0);
    f[2] = fm::checked_pow(x1, 3.0);
    f[3] = fm::checked_pow(x1, 4.0);
    f[4] = fm::checked_pow(x1, 5.0);
    f[5] = x2;
    f[6] = fm::checked_pow(x2, 2.0);
    f[7] = fm::checked_pow(x2, 3.0);
    f[8] = fm::checked_pow(x2, 4.0);
    f[9] = fm::checked_pow(x2, 5.0);
  };
  auto combine = [&](int b, const double *f) {
    double t = p[b] * f[0];
    for (int i = 1; i < 10; ++i) t = t + p[b + i] * f[i];
    return t;
  };
  return plain_frame(
      request, nParams, 10, p, y, deriv,
      [&](int b) {
        double f[10];
        powers(f);
        return combine(b, f);
      },
      [&](int b) {
        powers(&deriv[b]);
        return combine(b, &deriv[b]);
      });
}

// Chebyshev2D: z = p1 + sum [A*T1(x1) + B*T2(x1) + C*T1(x2) + D*T2(x2) + E*T1(x1)*T1(x2)],
// with T1(x) = cos(acos x) and T2(x) = cos(2 acos x); per term A..E (5 per term).
// Value-then-derivatives shape; bit 0 returns 1; nParams < 1 fails (no deriv written);
// otherwise never fails and never tests errno.
//   derivatives: d1 = 1; per term the five basis values.
//   On every path past bit 0, whatever the other bits (a request with neither included), a
//   non-finite y[1] is replaced by MISSING_VALUE: for |x1| > 1 or |x2| > 1 the angles are not
//   finite and the call returns 0 with y[1] = MISSING_VALUE (errno left at 33 by acos).
FM_MODEL(Chebyshev2D) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  const int32_t rc = plain_frame(
      request, nParams, 5, p, y, deriv,
      [&](int b) { return cosine_term(&p[b], fm::acos(x1), fm::acos(x2)); },
      [&](int b) {
        const double a = fm::acos(x1), c = fm::acos(x2);
        const CosineBasis B = cosine_basis(a, c);
        for (int i = 0; i < 5; ++i) deriv[b + i] = B.f[i];
        return cosine_term(&p[b], a, c);
      });
  if (rc == 0) fm::finite_or_missing(&y[1]);
  return rc;
}

// Cosine: z = p1 + sum [A*cos x1 + B*cos 2x1 + C*cos x2 + D*cos 2x2 + E*cos x1*cos x2];
// per term A..E (5 per term).
// Value-then-derivatives shape; bit 0 returns 1; nParams < 1 fails (no deriv written);
// otherwise never fails and never tests errno.
//   derivatives: d1 = 1; per term cos x1, cos 2x1, cos x2, cos 2x2, cos x1*cos x2.
FM_MODEL(Cosine) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  return plain_frame(
      request, nParams, 5, p, y, deriv, [&](int b) { return cosine_term(&p[b], x1, x2); },
      [&](int b) {
        const CosineBasis B = cosine_basis(x1, x2);
        for (int i = 0; i < 5; ++i) deriv[b + i] = B.f[i];
        return cosine_term(&p[b], x1, x2);
      });
}

// Rational2D: z = sum N/D with N = a0 + a1*x1 + a2*x2 + a3*x2^2 + a4*x2^3 and
// D = 1 + b1*x1 + b2*x1^2 + b3*x1^3 + b4*x2 + b5*x2^2; per term a0..a4, b1..b5 (10 per term,
// no baseline: the total starts at 0). Cubes by checked_pow(., 3.0), squares by multiplication.
// Value-then-derivatives shape; bit 0 returns 0; a negative nParams fails (no deriv written).
//   value: a denominator of exactly 0 fails.
//   derivatives: D exactly 0 fails; r = 1/D, q = -(N*x1*r^2): d = r, r*x1, r*x2, x2*x2*r,
//     x2^3*r, q, q*x1, q*x1*x1, q*x2/x1, (q*x2/x1)*x2; the term is sum a_i*d_i = N/D.
//   At x1 = 0 the last two entries cannot be formed through q; they are the exact partial
//   derivatives -N*x2*r^2 and -N*x2*x2*r^2 there.
FM_MODEL(Rational2D) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  auto numerator = [&](int b) {
    return p[b] + p[b + 1] * x1 + p[b + 2] * x2 + p[b + 3] * (x2 * x2) +
           p[b + 4] * fm::checked_pow(x2, 3.0);
  };
  auto denominator = [&](int b) {
    return 1.0 + p[b + 5] * x1 + p[b + 6] * (x1 * x1) + p[b + 7] * fm::checked_pow(x1, 3.0) +
           p[b + 8] * x2 + p[b + 9] * (x2 * x2);
  };
  return rational_frame(
      request, nParams, y,
      [&](int b, double &t) {
        const double D = denominator(b);
        if (D == 0.0) return false;
        t = numerator(b) / D;
        return true;
      },
      [&](int b, double &t) {
        const double D = denominator(b);
        if (D == 0.0) return false;
        const double N = numerator(b);
        const double r = 1.0 / D;
        deriv[b] = r;
        deriv[b + 1] = r * x1;
        deriv[b + 2] = r * x2;
        deriv[b + 3] = x2 * x2 * r;
        deriv[b + 4] = fm::checked_pow(x2, 3.0) * r;
        const double r2 = fm::checked_pow(r, 2.0);
        const double q = -(N * x1 * r2);
        deriv[b + 5] = q;
        deriv[b + 6] = q * x1;
        deriv[b + 7] = q * x1 * x1;
        if (x1 != 0.0) {
          deriv[b + 8] = q * x2 / x1;
          deriv[b + 9] = (q * x2 / x1) * x2;
        } else {
          deriv[b + 8] = -(N * x2 * r2);
          deriv[b + 9] = -(N * x2 * x2 * r2);
        }
        t = p[b] * deriv[b];
        for (int i = 1; i < 5; ++i) t = t + p[b + i] * deriv[b + i];
        return true;
      });
}

// RationalTaylor: z = sum N/D with N = a0 + a1*x1 + a2*x2 + a3*x2^2 + a4*x1*x2 and
// D = 1 + b1*x1 + b2*x1^2 + b3*x2 + b4*x2^2 + b5*x1*x2; per term a0..a4, b1..b5 (10 per term,
// no baseline). x2^2 by checked_pow(x2, 2.0), x1^2 by multiplication.
// Value-then-derivatives shape; bit 0 returns 0; a negative nParams fails (no deriv written).
//   value: a denominator of exactly 0 fails.
//   derivatives: D exactly 0 fails; r = 1/D, q = -(N*x1*r^2): d = r, r*x1, r*x2, x2*x2*r,
//     x2*x1*r, q, q*x1; then x1 = 0 fails (those entries stay written); else x2*q/x1,
//     (x2*q/x1)*x2, x2*q. The term is sum a_i*d_i = N/D.
FM_MODEL(RationalTaylor) {
  const double *p = params;
  const double x1 = x[1], x2 = x[2];
  auto numerator = [&](int b) {
    return p[b] + p[b + 1] * x1 + p[b + 2] * x2 + p[b + 3] * fm::checked_pow(x2, 2.0) +
           p[b + 4] * x1 * x2;
  };
  auto denominator = [&](int b) {
    return 1.0 + p[b + 5] * x1 + p[b + 6] * (x1 * x1) + p[b + 7] * x2 +
           p[b + 8] * fm::checked_pow(x2, 2.0) + p[b + 9] * x1 * x2;
  };
  return rational_frame(
      request, nParams, y,
      [&](int b, double &t) {
        const double D = denominator(b);
        if (D == 0.0) return false;
        t = numerator(b) / D;
        return true;
      },
      [&](int b, double &t) {
        const double D = denominator(b);
        if (D == 0.0) return false;
        const double N = numerator(b);
        const double r = 1.0 / D;
        deriv[b] = r;
        deriv[b + 1] = r * x1;
        deriv[b + 2] = r * x2;
        deriv[b + 3] = x2 * x2 * r;
        deriv[b + 4] = x2 * x1 * r;
        const double q = -(N * x1 * fm::checked_pow(r, 2.0));
        deriv[b + 5] = q;
        deriv[b + 6] = q * x1;
        if (x1 == 0.0) return false;
        deriv[b + 9] = x2 * q;
        deriv[b + 7] = x2 * q / x1;
        deriv[b + 8] = (x2 * q / x1) * x2;
        t = p[b] * deriv[b];
        for (int i = 1; i < 5; ++i) t = t + p[b + i] * deriv[b + i];
        return true;
      });
}
