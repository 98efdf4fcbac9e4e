// Polynomials in x and continuous piecewise-linear lines. None of these models can fail or
// calls the math layer: infinities and NaNs pass through to y and deriv unchanged.
//
// Plain polynomials of degree n (Polynomial0..Polynomial5; table names Constant, Line,
// Parabola, Cubic, Poly4, Poly5), y = p1 + p2*x + ... + p(n+1)*x^n:
//   bit 0 set  -> return 1, nothing written;
//   bit 1 set  -> y[1] by Horner's rule from the highest coefficient down;
//   bit 2 set  -> deriv[1..n+1] = 1, x, x^2, ... (each the previous times x), then y[1] again
//                 as the ascending sum p1 + p2*deriv[2] + p3*deriv[3] + ... of those powers,
//                 which replaces the Horner value (the two may differ in the last bits);
//   return 0. nParams is not read.
#include "frame/contract.h"

namespace {

// The request frame shared by the plain polynomials; N is the number of coefficients.
template <int N>
int32_t plain_polynomial(int32_t request, const double *p, const double *x, double *y,
                         double *deriv) {
  if (fm::wants_reserved(request)) return 1;
  const double t = x[1];
  if (fm::wants_value(request)) {
    double v = p[N];
    for (int i = N - 1; i >= 1; --i) v = v * t + p[i];
    y[1] = v;
  }
  if (fm::wants_deriv(request)) {
    deriv[1] = 1.0;
    double v = p[1];
    if (N >= 2) {
      deriv[2] = t;
      v = p[2] * deriv[2] + p[1];
      for (int i = 3; i <= N; ++i) {
        deriv[i] = deriv[i - 1] * t;
        v += p[i] * deriv[i];
      }
    }
    y[1] = v;
  }
  return 0;
}

}  // namespace

FM_MODEL(Polynomial0) { return plain_polynomial<1>(request, params, x, y, deriv); }
FM_MODEL(Polynomial1) { return plain_polynomial<2>(request, params, x, y, deriv); }
FM_MODEL(Polynomial2) { return plain_polynomial<3>(request, params, x, y, deriv); }
FM_MODEL(Polynomial3) { return plain_polynomial<4>(request, params, x, y, deriv); }
FM_MODEL(Polynomial4) { return plain_polynomial<5>(request, params, x, y, deriv); }
FM_MODEL(Polynomial5) { return plain_polynomial<6>(request, params, x, y, deriv); }

// PolynomialCentered5 (PolyCtr5): y = p1 + p3*d + p4*d^2 + p5*d^3 + p6*d^4 + p7*d^5 with
// d = x - p2, by Horner's rule. Values only: bit 0 returns 0; bit 1 writes y[1]; any other
// request returns 0 and writes nothing.
FM_MODEL(PolynomialCentered5) {
  const double d = x[1] - params[2];
  if (fm::wants_reserved(request)) return 0;
  if (fm::wants_value(request)) {
    const double *p = params;
    y[1] = ((((p[7] * d + p[6]) * d + p[5]) * d + p[4]) * d + p[3]) * d + p[1];
  }
  return 0;
}

// PWL2: continuous two-segment line. p1 intercept, p2 first slope, p3 breakpoint, p4 second
// slope; x < p3 is the first segment. y[1] under either bit; deriv[1..4] under bit 2.
FM_MODEL(PWL2) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const bool first = p[3] > t;
  y[1] = first ? p[1] + p[2] * t : (t - p[3]) * p[4] + (p[2] * p[3] + p[1]);
  if (fm::wants_deriv(request)) {
    deriv[1] = 1.0;
    if (first) {
      deriv[2] = t;
      deriv[3] = 0.0;
      deriv[4] = 0.0;
    } else {
      deriv[2] = p[3];
      deriv[3] = p[2] - p[4];
      deriv[4] = t - p[3];
    }
  }
  return 0;
}

// PWL3: continuous three-segment line. p1 intercept, p2 first slope, p3 first breakpoint,
// p4 second slope, p5 second breakpoint, p6 third slope. First segment: p3 > x; second:
// p3 <= x < p5; third: p3 <= x and p5 <= x (the breakpoints need not be ordered).
FM_MODEL(PWL3) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  const double t = x[1];
  const int segment = p[3] > t ? 1 : (p[5] > t ? 2 : 3);
  if (segment == 1) {
    y[1] = p[1] + p[2] * t;
  } else if (segment == 2) {
    y[1] = (t - p[3]) * p[4] + (p[2] * p[3] + p[1]);
  } else {
    y[1] = (t - p[5]) * p[6] + ((p[5] - p[3]) * p[4] + p[2] * p[3] + p[1]);
  }
  if (fm::wants_deriv(request)) {
    deriv[1] = 1.0;
    if (segment == 1) {
      deriv[2] = t;
      deriv[3] = deriv[4] = deriv[5] = deriv[6] = 0.0;
    } else {
      deriv[2] = p[3];
      deriv[3] = p[2] - p[4];
      if (segment == 2) {
        deriv[4] = t - p[3];
        deriv[5] = deriv[6] = 0.0;
      } else {
        deriv[4] = p[5] - p[3];
        deriv[5] = p[4] - p[6];
        deriv[6] = t - p[5];
      }
    }
  }
  return 0;
}
