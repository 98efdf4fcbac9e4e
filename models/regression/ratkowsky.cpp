// Ratkowsky's regression models: three two-parameter power curves, each with a form through a
// chosen point (an abscissa p1 and the curve's value p2 there), and four three-parameter
// logarithmic and exponential curves. Every function here is exported under a Ratkowsky name;
// the registry knows it by the table name given with each model.
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n].
// None answers REQ_QUERY or reads nParams. Exclusive request frame: bit 0 returns 1; with bit 1
// only y is computed; the derivatives (with y) only when bit 1 is clear and bit 2 set; with
// neither bit return 0.
//   guard failure:  y = MISSING_VALUE, return 1, errno untouched; on the derivative path also
//                   every derivative MISSING_VALUE.
//   errno test:     errno equal to 34 or 33. Failing on the derivative path before y is known,
//                   it writes MISSING_VALUE into every derivative and gives the standard failure
//                   (errno = 0, y = MISSING_VALUE, return 1).
// The forms through a point read p1..p3 and write d1..d3, one more than their registry count.
#include <cmath>

#include "frame/contract.h"
#include "models/tail_math.h"

namespace {

// Exponentials at or above this size are finite but too large for the host.
constexpr double kTooLarge = 1.2345e300;

}  // namespace

// Ratkowsky2P1 (table name Pow2P3): y = 1 - (1 + p1*x)^(-p2).
// Value: u = p1*x + 1; u <= 0 -> guard failure. t = u^(-p2); errno test -> standard failure;
//   y = 1 - t.
// Derivatives: u <= 0 -> guard. t; errno test -> failure. d1 = p2*t*x/u; d2 = ln(u)*t;
//   y = 1 - t; errno test after the logarithm -> errno = 0, d2 = MISSING_VALUE, return 1.
// ln(u) is formed as log1p(p1*x), and 1 - t, where t is near 1, as -expm1(-p2*log1p(p1*x)):
// both keep the digits that rounding u loses for small p1*x.
FM_MODEL(Ratkowsky2P1) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double u = p[1] * X + 1.0;
        if (u <= 0.0) return fm::guard_failure(y);
        const double t = fm::checked_pow(u, -p[2]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = fm::one_minus_pow_ln(fm::log1p(p[1] * X), -p[2], t);
        return 0;
      },
      [&]() -> int32_t {
        const double u = p[1] * X + 1.0;
        if (u <= 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double t = fm::checked_pow(u, -p[2]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        deriv[1] = p[2] * t * X / u;
        const double L = fm::log1p(p[1] * X);
        deriv[2] = L * t;
        y[1] = fm::one_minus_pow_ln(L, -p[2], t);
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 2, 2);
        return 0;
      });
}

// Ratkowsky2P1EVP (reads p1..p3): the curve of Ratkowsky2P1 with rate p3 that takes the value
// p2 at x = p1:  y = 1 - (1 - p2)^(ln(1 + p3*x)/ln(1 + p3*p1)).
// Value: q = 1 - p2, u = p3*x + 1, v = p3*p1 + 1; q <= 0, u <= 0, v <= 0 or v = 1 -> guard
//   failure. An errno of 34 or 33 already set here -> standard failure. L = ln(u);
//   t = q^(L/ln(v)); y = 1 - t; errno test -> standard failure.
// Derivatives: the same guards. L = ln(u), Lv = ln(v), t = q^(L/Lv), each with an errno test
//   -> failure. d2 = L*t/Lv/q. Lq = ln(q); errno test -> errno = 0, d1 = d3 = MISSING_VALUE,
//   y = 1 - t, return 1. d1 = Lq*L*p3*t/v/Lv/Lv; d3 = -(x/u/Lv - L*p1/v/Lv/Lv)*Lq*t;
//   y = 1 - t.
// The logarithms are formed as log1p(p3*x), log1p(p3*p1) and log1p(-p2), and 1 - t, where t
// is near 1, as -expm1(L/Lv*Lq): they keep the digits that rounding u, v and q loses when
// p3*x, p3*p1 or p2 is small.
FM_MODEL(Ratkowsky2P1EVP) {
  const double *p = params;
  const double X = x[1];
  const double q = 1.0 - p[2];
  const double u = p[3] * X + 1.0;
  const double v = p[3] * p[1] + 1.0;
  const bool outside = q <= 0.0 || u <= 0.0 || v <= 0.0 || v == 1.0;
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (outside) return fm::guard_failure(y);
        if (fm::math_error()) return fm::standard_failure(y);
        const double L = fm::log1p(p[3] * X);
        const double e = L / fm::log1p(p[3] * p[1]);
        const double t = fm::checked_pow(q, e);
        y[1] = fm::one_minus_pow_ln(fm::log1p(-p[2]), e, t);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (outside) return fm::guard_failure_all(y, deriv, 3);
        const double L = fm::log1p(p[3] * X);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double Lv = fm::log1p(p[3] * p[1]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double t = fm::checked_pow(q, L / Lv);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[2] = L * t / Lv / q;
        const double Lq = fm::log1p(-p[2]);
        if (fm::math_error()) {
          errno = 0;
          deriv[1] = deriv[3] = fm::kMissing;
          y[1] = 1.0 - t;
          return 1;
        }
        deriv[1] = Lq * L * p[3] * t / v / Lv / Lv;
        deriv[3] = -(X / u / Lv - L * p[1] / v / Lv / Lv) * Lq * t;
        y[1] = fm::one_minus_pow_ln(Lq, L / Lv, t);
        return 0;
      });
}

// Ratkowsky2P2 (table name Pow2P1): y = p1*(1 - x^(-p2)).
// Value: x <= 0 -> guard failure. t = x^(-p2); errno test -> standard failure;
//   y = p1*(1 - t).
// Derivatives: x <= 0 -> guard. d1 = 1 - t; errno test -> failure. y = p1*d1;
//   d2 = ln(x)*(p1 - y); errno test -> errno = 0, d2 = MISSING_VALUE, return 1.
// 1 - t is formed as -expm1(-p2*ln x) where t is near 1.
FM_MODEL(Ratkowsky2P2) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (X <= 0.0) return fm::guard_failure(y);
        const double t = fm::checked_pow(X, -p[2]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[1] * fm::one_minus_pow(X, -p[2], t);
        return 0;
      },
      [&]() -> int32_t {
        if (X <= 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double t = fm::checked_pow(X, -p[2]);
        deriv[1] = fm::one_minus_pow(X, -p[2], t);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        y[1] = p[1] * deriv[1];
        deriv[2] = fm::log(X) * (p[1] - y[1]);
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 2, 2);
        return 0;
      });
}

// Ratkowsky2P2EVP (reads p1..p3): the curve of Ratkowsky2P2 with exponent p3 that takes the
// value p2 at x = p1:  y = p2*(1 - x^(-p3))/(1 - p1^(-p3)).
// The curve passes through (p1, p2): the factor (1 - p1^(-p3)) divides, and a zero divisor
// (p1 = 1 or p3 = 0, where no such curve exists) is a guard failure.
// Value: x <= 0 or p1 <= 0 -> guard failure. a = x^(-p3), b = p1^(-p3), each with an errno
//   test -> standard failure. D = 1 - b; D = 0 -> guard failure. y = p2*(1 - a)/D.
// Derivatives: the same guards (y, d1..d3 MISSING_VALUE, errno untouched) and errno tests
//   (failure). N = 1 - a; d2 = N/D; y = p2*d2;
//   d1 = -p2*N*p3*b/(p1*D*D);
//   d3 = p2*(a*ln(x)/D - N*b*ln(p1)/(D*D)).
//   No errno test follows the logarithms (x and p1 are positive there).
FM_MODEL(Ratkowsky2P2EVP) {
  const double *p = params;
  const double X = x[1];
  double a = 0.0, b = 0.0;
  auto powers = [&]() -> bool {
    a = fm::checked_pow(X, -p[3]);
    if (fm::math_error()) return false;
    b = fm::checked_pow(p[1], -p[3]);
    return !fm::math_error();
  };
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (X <= 0.0 || p[1] <= 0.0) return fm::guard_failure(y);
        if (!powers()) return fm::standard_failure(y);
        const double D = 1.0 - b;
        if (D == 0.0) return fm::guard_failure(y);  // no curve of this family passes (p1, p2)
        y[1] = p[2] * (1.0 - a) / D;
        return 0;
      },
      [&]() -> int32_t {
        if (X <= 0.0 || p[1] <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        if (!powers()) return fm::all_missing_failure(y, deriv, 3);
        const double D = 1.0 - b;
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double N = 1.0 - a;
        deriv[2] = N / D;
        y[1] = p[2] * deriv[2];
        deriv[1] = -p[2] * N * p[3] * b / (p[1] * D * D);
        deriv[3] = p[2] * (a * fm::log(X) / D - N * b * fm::log(p[1]) / (D * D));
        return 0;
      });
}

// Ratkowsky2P3 (table name Pow2P2): y = p1*(x + 1)^p2.
// Value: u = x + 1; u <= 0 -> guard failure. t = u^p2; errno test -> standard failure;
//   y = p1*t.
// Derivatives: u <= 0 -> guard. d1 = t; errno test -> failure. y = p1*t; d2 = ln(u)*y; errno
//   test -> errno = 0, d2 = MISSING_VALUE, return 1.
FM_MODEL(Ratkowsky2P3) {
  const double *p = params;
  const double u = x[1] + 1.0;
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (u <= 0.0) return fm::guard_failure(y);
        const double t = fm::checked_pow(u, p[2]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[1] * t;
        return 0;
      },
      [&]() -> int32_t {
        if (u <= 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double t = fm::checked_pow(u, p[2]);
        deriv[1] = t;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        y[1] = p[1] * t;
        deriv[2] = fm::log(u) * y[1];
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 2, 2);
        return 0;
      });
}

// Ratkowsky2P3EVP (reads p1..p3): the curve of Ratkowsky2P3 with exponent p3 that takes the
// value p2 at x = p1:  y = p2*((x + 1)/(p1 + 1))^p3.
// Value: p1 = -1 -> guard failure. r = (x + 1)/(p1 + 1); r <= 0 -> guard failure.
//   y = r^p3*p2; a power that overflows (errno 34 or 33) is a standard failure, as on the
//   derivative path, rather than an infinite value.
// Derivatives: c = p1 + 1; c = 0 -> guard; r <= 0 -> guard. d2 = r^p3; errno test -> failure.
//   y = p2*d2; d1 = -y*p3/c; d3 = ln(r)*y; errno test -> errno = 0, d3 = MISSING_VALUE,
//   return 1.
FM_MODEL(Ratkowsky2P3EVP) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[1] == -1.0) return fm::guard_failure(y);
        const double r = (X + 1.0) / (p[1] + 1.0);
        if (r <= 0.0) return fm::guard_failure(y);
        y[1] = fm::checked_pow(r, p[3]) * p[2];
        if (fm::math_error()) return fm::standard_failure(y);  // the power overflowed
        return 0;
      },
      [&]() -> int32_t {
        const double c = p[1] + 1.0;
        if (c == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double r = (X + 1.0) / c;
        if (r <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        deriv[2] = fm::checked_pow(r, p[3]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        y[1] = p[2] * deriv[2];
        deriv[1] = -y[1] * p[3] / c;
        deriv[3] = fm::log(r) * y[1];
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 3, 3);
        return 0;
      });
}

// Ratkowsky4332 (table name Log3P1): y = p1 - p2*ln(x + p3).
// Value: u = p3 + x; u <= 0 -> guard failure. y = p1 - p2*ln(u); errno test after the
//   logarithm -> standard failure.
// Derivatives: u <= 0 -> guard. d2 = -ln(u); errno test -> errno = 0, y and d1..d3
//   MISSING_VALUE, return 1. d1 = 1; y = p2*d2 + p1; d3 = -p2/u.
FM_MODEL(Ratkowsky4332) {
  const double *p = params;
  const double u = p[3] + x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (u <= 0.0) return fm::guard_failure(y);
        y[1] = p[1] - p[2] * fm::log(u);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (u <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        deriv[2] = -fm::log(u);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = 1.0;
        y[1] = p[2] * deriv[2] + p[1];
        deriv[3] = -p[2] / u;
        return 0;
      });
}

// Ratkowsky4333 (table name Exp3P1): y = p1*e^(p2/(x + p3)).
// Value: u = p3 + x; u = 0 -> guard failure. e = exp(p2/u); errno test -> standard failure;
//   y = p1*e.
// Derivatives: u = 0 -> guard. w = p2/u; d1 = e = exp(w); errno test -> failure. y = p1*e;
//   d2 = y/u; d3 = -d2*w.
FM_MODEL(Ratkowsky4333) {
  const double *p = params;
  const double u = p[3] + x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (u == 0.0) return fm::guard_failure(y);
        const double e = fm::checked_exp(p[2] / u);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[1] * e;
        return 0;
      },
      [&]() -> int32_t {
        if (u == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double w = p[2] / u;
        const double e = fm::checked_exp(w);
        deriv[1] = e;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        y[1] = p[1] * e;
        deriv[2] = y[1] / u;
        deriv[3] = -deriv[2] * w;
        return 0;
      });
}

// Ratkowsky4334 (table name Exp3P1Md): y = e^(p1 + p2/(x + p3)).
// Value: u = p3 + x; u = 0 -> guard failure. y = exp(p2/u + p1); errno test -> standard
//   failure.
// Derivatives: u = 0 -> guard. w = p2/u; y = exp(w + p1). |y| >= 1.2345e300 (finite but too
//   large for the host, or overflowed) -> y and d1..d3 MISSING_VALUE, return 1, errno
//   untouched. Else errno test -> failure. d1 = y; d2 = y/u; d3 = -d2*w.
FM_MODEL(Ratkowsky4334) {
  const double *p = params;
  const double u = p[3] + x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (u == 0.0) return fm::guard_failure(y);
        y[1] = fm::checked_exp(p[2] / u + p[1]);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (u == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double w = p[2] / u;
        const double e = fm::checked_exp(w + p[1]);
        y[1] = e;
        if (std::fabs(e) >= kTooLarge) return fm::guard_failure_all(y, deriv, 3);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = e;
        deriv[2] = e / u;
        deriv[3] = -deriv[2] * w;
        return 0;
      });
}

// Ratkowsky4339 (table name Exp3P2): y = e^(p1 + p2*x + p3*x^2).
// Value: t = exp((x*p3 + p2)*x + p1); errno test -> standard failure; |t| >= 1.2345e300
//   (finite but too large for the host) -> guard failure; y = t.
// Derivatives: t as above; errno test -> failure; |t| >= 1.2345e300 -> y and d1..d3
//   MISSING_VALUE, return 1, errno untouched. y = t; d1 = y; d2 = x*y; d3 = x^2*y.
FM_MODEL(Ratkowsky4339) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double t = fm::checked_exp((X * p[3] + p[2]) * X + p[1]);
        if (fm::math_error()) return fm::standard_failure(y);
        if (std::fabs(t) >= kTooLarge) return fm::guard_failure(y);
        y[1] = t;
        return 0;
      },
      [&]() -> int32_t {
        const double t = fm::checked_exp((X * p[3] + p[2]) * X + p[1]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        if (std::fabs(t) >= kTooLarge) return fm::guard_failure_all(y, deriv, 3);
        y[1] = t;
        deriv[1] = t;
        deriv[2] = X * t;
        deriv[3] = X * X * t;
        return 0;
      });
}
