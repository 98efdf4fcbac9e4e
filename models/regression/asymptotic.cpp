// Asymptotic regression curves: curves that approach a horizontal asymptote exponentially, in
// the parameterisations of agricultural and biological regression (the seven Asymptotic forms,
// YldFert, YldFert1), an asymptotic curve plus a line (Shah), the exponential with a rate of
// either sign (Stirling) and the rising exponential raised to a power (Chapman).
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n].
// None answers REQ_QUERY or reads nParams; bit 0 returns 1 and writes nothing.
//   guard failure:    y = MISSING_VALUE, return 1, errno untouched. On the derivative path a
//                     guard also writes MISSING_VALUE into every derivative.
//   errno test:       errno equal to 34 or 33 after the named call. On the derivative path a
//                     failing test writes MISSING_VALUE into every derivative and gives the
//                     standard failure (errno = 0, y = MISSING_VALUE, return 1), unless the
//                     model says otherwise.
//
// Request frames:
//   value-then-derivatives (Shah, YldFert, YldFert1, Stirling): with bit 1 the value step runs
//     (a failure there ends the call); without bit 2 return 0; else the derivative step writes
//     the derivatives and y again.
//   exclusive (Asymptotic1..7, Chapman): with bit 1 only y is computed; the derivatives (with
//     y) only when bit 1 is clear and bit 2 set; with neither bit return 0.
#include "frame/contract.h"
#include "models/tail_math.h"

namespace {

// A ratio parameter r of r^x must lie strictly between 0 and 1.
bool outside_unit_interval(double r) { return r <= 0.0 || r >= 1.0; }

// (u e^u - (e^u - 1))/u^2 = sum over n >= 2 of (n - 1)/n! u^(n - 2), for |u| < 1/2, where the
// difference itself cancels (all of its digits below |u| of about 1e-8). Sixteen terms reach
// the rounding error for |u| < 1/2.
double stirling_rate_series(double u) {
  static constexpr double c[] = {
      1.0 / 2.0,           2.0 / 6.0,            3.0 / 24.0,           4.0 / 120.0,
      5.0 / 720.0,         6.0 / 5040.0,         7.0 / 40320.0,        8.0 / 362880.0,
      9.0 / 3628800.0,     10.0 / 39916800.0,    11.0 / 479001600.0,   12.0 / 6227020800.0,
      13.0 / 87178291200.0, 14.0 / 1307674368000.0, 15.0 / 20922789888000.0,
      16.0 / 355687428096000.0};
  double s = 0.0;
  for (int k = 15; k >= 0; --k) s = s * u + c[k];
  return s;
}

}  // namespace

// Asymptotic1: y = p1 - p2*p3^x, 0 < p3 < 1. Exclusive.
// Value: p3 <= 0 or p3 >= 1 -> guard failure. p2 = 0 -> y = p1 (no power is taken).
//   t = p3^x; y = p1 - t*p2; errno test -> standard failure.
// Derivatives: same guard. d1 = 1; t = p3^x; d2 = -t; errno test -> failure.
//   y = p1 - p2*t; d3 = -p2*t*x/p3.
FM_MODEL(Asymptotic1) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (outside_unit_interval(p[3])) return fm::guard_failure(y);
        if (p[2] == 0.0) {
          y[1] = p[1];
          return 0;
        }
        const double r = fm::checked_pow(p[3], t);
        y[1] = p[1] - r * p[2];
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (outside_unit_interval(p[3])) return fm::guard_failure_all(y, deriv, 3);
        deriv[1] = 1.0;
        const double r = fm::checked_pow(p[3], t);
        deriv[2] = -r;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        y[1] = p[1] - p[2] * r;
        deriv[3] = -p[2] * r * t / p[3];
        return 0;
      });
}

// Asymptotic2: y = p1 - p2*e^(-p3*x), p3 > 0. Exclusive.
// Value: p3 <= 0 -> guard failure. p2 = 0 -> y = p1. e = exp(-(p3*x)); y = p1 - e*p2;
//   errno test -> standard failure.
// Derivatives: p3 <= 0 -> guard. d1 = 1; d2 = -exp(-(x*p3)); errno test -> failure.
//   y = p1 + p2*d2; d3 = -p2*d2*x.
FM_MODEL(Asymptotic2) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[3] <= 0.0) return fm::guard_failure(y);
        if (p[2] == 0.0) {
          y[1] = p[1];
          return 0;
        }
        const double e = fm::checked_exp(-(p[3] * t));
        y[1] = p[1] - e * p[2];
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (p[3] <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        deriv[1] = 1.0;
        deriv[2] = -fm::checked_exp(-(t * p[3]));
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        y[1] = p[1] + p[2] * deriv[2];
        deriv[3] = -p[2] * deriv[2] * t;
        return 0;
      });
}

// Asymptotic3: y = p1*(1 - e^(-p3*(x - p2))), p3 > 0. Exclusive.
// Value: p3 <= 0 -> guard failure. e = exp(-((x - p2)*p3)); y = (1 - e)*p1; errno test ->
//   standard failure.
// Derivatives: p3 <= 0 -> guard. s = x - p2; e = exp(-(p3*s)); errno test -> failure.
//   t = -e*p1; d2 = t*p3; d3 = -s*t; d1 = 1 - e; y = p1 + t.
FM_MODEL(Asymptotic3) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[3] <= 0.0) return fm::guard_failure(y);
        const double e = fm::checked_exp(-((t - p[2]) * p[3]));
        y[1] = (1.0 - e) * p[1];
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (p[3] <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double s = t - p[2];
        const double e = fm::checked_exp(-(p[3] * s));
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double a = -e * p[1];
        deriv[2] = a * p[3];
        deriv[3] = -s * a;
        deriv[1] = 1.0 - e;
        y[1] = p[1] + a;
        return 0;
      });
}

// Asymptotic4: y = p1 + (p3 - p1)*p2^x, 0 < p2 < 1 (p3 the value at x = 0, p1 the asymptote).
// Exclusive.
// Value: p2 <= 0 or p2 >= 1 -> guard failure. t = p2^x; errno test -> standard failure;
//   y = (p3 - p1)*t + p1.
// Derivatives: same guard. t = p2^x; d3 = t; d1 = 1 - t; y = (p3 - p1)*t + p1;
//   d2 = x/p2*(p3 - p1)*t. Only then the errno test: on failure errno = 0, d2 = MISSING_VALUE
//   and return 1, with y, d1 and d3 left as computed. 1 - t is formed as -expm1(x ln p2) where
//   t is near 1.
FM_MODEL(Asymptotic4) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (outside_unit_interval(p[2])) return fm::guard_failure(y);
        const double r = fm::checked_pow(p[2], t);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = (p[3] - p[1]) * r + p[1];
        return 0;
      },
      [&]() -> int32_t {
        if (outside_unit_interval(p[2])) return fm::guard_failure_all(y, deriv, 3);
        const double r = fm::checked_pow(p[2], t);
        deriv[3] = r;
        deriv[1] = fm::one_minus_pow(p[2], t, r);
        y[1] = (p[3] - p[1]) * r + p[1];
        deriv[2] = t / p[2] * (p[3] - p[1]) * r;
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 2, 2);
        return 0;
      });
}

// Asymptotic5: y = p1 + (p3 - p1)*e^(-p2*x), p2 > 0. Exclusive.
// Value: p2 <= 0 -> guard failure. x = 0 -> y = p3. p3 = p1 -> y = p1. e = exp(-(x*p2));
//   errno test -> standard failure; y = (p3 - p1)*e + p1.
// Derivatives: p2 <= 0 -> guard. x = 0 -> y = p3, d1 = 0, d2 = 0, d3 = 1. e = exp(-(x*p2));
//   d3 = e; errno test -> failure. d1 = 1 - e = -expm1(-(x*p2)); y = (p3 - p1)*e + p1;
//   d2 = -x*(p3 - p1)*e.
FM_MODEL(Asymptotic5) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[2] <= 0.0) return fm::guard_failure(y);
        if (t == 0.0) {
          y[1] = p[3];
          return 0;
        }
        if (p[3] == p[1]) {
          y[1] = p[1];
          return 0;
        }
        const double e = fm::checked_exp(-(t * p[2]));
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = (p[3] - p[1]) * e + p[1];
        return 0;
      },
      [&]() -> int32_t {
        if (p[2] <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        if (t == 0.0) {
          y[1] = p[3];
          deriv[1] = 0.0;
          deriv[2] = 0.0;
          deriv[3] = 1.0;
          return 0;
        }
        const double e = fm::checked_exp(-(t * p[2]));
        deriv[3] = e;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = fm::one_minus_exp(-(t * p[2]));
        y[1] = (p[3] - p[1]) * e + p[1];
        deriv[2] = -t * (p[3] - p[1]) * e;
        return 0;
      });
}

// Asymptotic6: y = p1 - e^(-(p2 + p3*x)), p3 > 0. Exclusive.
// Value: p3 <= 0 -> guard failure. e = exp(-(p3*x + p2)); y = p1 - e; errno test -> standard
//   failure.
// Derivatives: p3 <= 0 -> guard. e as above; d2 = e; errno test -> failure. d1 = 1; d3 = e*x;
//   y = p1 - e.
FM_MODEL(Asymptotic6) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[3] <= 0.0) return fm::guard_failure(y);
        const double e = fm::checked_exp(-(p[3] * t + p[2]));
        y[1] = p[1] - e;
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (p[3] <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double e = fm::checked_exp(-(p[3] * t + p[2]));
        deriv[2] = e;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = 1.0;
        deriv[3] = e * t;
        y[1] = p[1] - e;
        return 0;
      });
}

// Asymptotic7: y = p1 + p2*(1 - e^(-p3*x)), p3 > 0. Exclusive.
// 1 - e is formed as -expm1(-(x*p3)), which keeps its digits for small p3*x.
// Value: p3 <= 0 -> guard failure. x = 0 -> y = p1. g = 1 - e, e = exp(-(x*p3)); errno test
//   (the overflow of the exponential) -> standard failure; y = g*p2 + p1.
// Derivatives: p3 <= 0 -> guard. x = 0 -> y = p1, d1 = 1, d2 = 0, d3 = 0. e; errno test ->
//   failure. d1 = 1; d2 = 1 - e; d3 = e*x*p2; y = d2*p2 + p1.
FM_MODEL(Asymptotic7) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        if (p[3] <= 0.0) return fm::guard_failure(y);
        if (t == 0.0) {
          y[1] = p[1];
          return 0;
        }
        const double g = fm::one_minus_exp(-(t * p[3]));
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = g * p[2] + p[1];
        return 0;
      },
      [&]() -> int32_t {
        if (p[3] <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        if (t == 0.0) {
          y[1] = p[1];
          deriv[1] = 1.0;
          deriv[2] = 0.0;
          deriv[3] = 0.0;
          return 0;
        }
        const double e = fm::checked_exp(-(t * p[3]));
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = 1.0;
        deriv[2] = fm::one_minus_exp(-(t * p[3]));
        deriv[3] = e * t * p[2];
        y[1] = deriv[2] * p[2] + p[1];
        return 0;
      });
}

// YldFert: y = p1 + p2*p3^x, 0 < p3 <= 1 (p3 = 1 gives the constant p1 + p2).
// Value-then-derivatives.
// Value: p3 > 1 or p3 <= 0 -> guard failure. t = p3^x; errno test -> standard failure;
//   y = t*p2 + p1.
// Derivatives: same guard. d2 = t = p3^x; errno test -> failure. d1 = 1; d3 = p2*x*t/p3;
//   y = t*p2 + p1.
FM_MODEL(YldFert) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> int32_t {
        if (p[3] > 1.0 || p[3] <= 0.0) return fm::guard_failure(y);
        const double r = fm::checked_pow(p[3], t);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = r * p[2] + p[1];
        return 0;
      },
      [&]() -> int32_t {
        if (p[3] > 1.0 || p[3] <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double r = fm::checked_pow(p[3], t);
        deriv[2] = r;
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = 1.0;
        deriv[3] = p[2] * t * r / p[3];
        y[1] = r * p[2] + p[1];
        return 0;
      });
}

// YldFert1: y = p1 + p2*e^(-p3*x). Value-then-derivatives.
// Value (no test on p3): e = exp(-(p3*x)); errno test -> standard failure; y = e*p2 + p1.
// Derivatives: d1 = 1 always. p3 <= 0 -> d2 = d3 = MISSING_VALUE, standard failure.
//   d2 = e = exp(-(x*p3)); errno test -> d2 = d3 = MISSING_VALUE, standard failure.
//   t = p2*e; d3 = -t*x; y = p1 + t.
FM_MODEL(YldFert1) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> int32_t {
        const double e = fm::checked_exp(-(p[3] * t));
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = e * p[2] + p[1];
        return 0;
      },
      [&]() -> int32_t {
        deriv[1] = 1.0;
        if (p[3] <= 0.0) {
          fm::set_missing(deriv, 2, 3);
          return fm::standard_failure(y);
        }
        const double e = fm::checked_exp(-(t * p[3]));
        deriv[2] = e;
        if (fm::math_error()) {
          fm::set_missing(deriv, 2, 3);
          return fm::standard_failure(y);
        }
        const double a = p[2] * e;
        deriv[3] = -a * t;
        y[1] = p[1] + a;
        return 0;
      });
}

// Shah: y = p1 + p2*x + p3*p4^x, 0 < p4 < 1. Value-then-derivatives.
// Value: p4 >= 1 or p4 <= 0 -> guard failure. p3 = 0 -> y = p2*x + p1 (no power is taken).
//   t = p4^x; errno test -> standard failure; y = p2*x + p1 + t*p3.
// Derivatives: same guard. d1 = 1; d2 = x; d3 = t = p4^x; errno test -> y, d3, d4 =
//   MISSING_VALUE and return 1 with errno left as the power set it (d1, d2 stay).
//   d4 = p3*t*x/p4; y = p2*x + p1 + p3*t.
FM_MODEL(Shah) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> int32_t {
        if (outside_unit_interval(p[4])) return fm::guard_failure(y);
        if (p[3] == 0.0) {
          y[1] = p[2] * t + p[1];
          return 0;
        }
        const double r = fm::checked_pow(p[4], t);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[2] * t + p[1] + r * p[3];
        return 0;
      },
      [&]() -> int32_t {
        if (outside_unit_interval(p[4])) return fm::guard_failure_all(y, deriv, 4);
        deriv[1] = 1.0;
        deriv[2] = t;
        const double r = fm::checked_pow(p[4], t);
        deriv[3] = r;
        if (fm::math_error()) {
          fm::set_missing(deriv, 3, 4);
          return fm::guard_failure(y);  // errno keeps the power's code
        }
        deriv[4] = p[3] * r * t / p[4];
        y[1] = p[2] * t + p[1] + p[3] * r;
        return 0;
      });
}

// Stirling: y = p1 + p2*(e^(p3*x) - 1)/p3, p3 != 0. Value-then-derivatives.
// Value: p3 = 0 -> standard failure. e = exp(p3*x); errno test -> standard failure;
//   y = (e - 1)*p2/p3 + p1.
// Derivatives: d1 = 1. p3 = 0 -> d2 = d3 = MISSING_VALUE, standard failure.
//   e = exp(p3*x); an overflowing exponential fails here as on the value path (errno test ->
//   d2 = d3 = MISSING_VALUE, standard failure) rather than returning an infinite y.
//   d2 = (e - 1)/p3, with e - 1 formed as expm1(p3*x), which keeps its digits for small
//   p3*x; d3 = (e*x - d2)*p2/p3; y = p2*d2 + p1. For |p3*x| < 1/2, where e*x - d2
//   cancels, d3 = p2*x^2*S(p3*x) with S the series of (u e^u - (e^u - 1))/u^2.
FM_MODEL(Stirling) {
  const double *p = params;
  const double t = x[1];
  return fm::value_then_derivatives_frame(
      request,
      [&]() -> int32_t {
        if (p[3] == 0.0) return fm::standard_failure(y);
        const double e = fm::checked_exp(p[3] * t);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = (e - 1.0) * p[2] / p[3] + p[1];
        return 0;
      },
      [&]() -> int32_t {
        deriv[1] = 1.0;
        if (p[3] == 0.0) {
          fm::set_missing(deriv, 2, 3);
          return fm::standard_failure(y);
        }
        const double e = fm::checked_exp(p[3] * t);
        if (fm::math_error()) {  // the exponential overflowed: no finite value
          fm::set_missing(deriv, 2, 3);
          return fm::standard_failure(y);
        }
        deriv[2] = fm::expm1(p[3] * t) / p[3];
        const double u = p[3] * t;
        if (std::fabs(u) < 0.5) {
          deriv[3] = p[2] * (t * t * stirling_rate_series(u));
        } else {
          deriv[3] = (e * t - deriv[2]) * p[2] / p[3];
        }
        y[1] = p[2] * deriv[2] + p[1];
        return 0;
      });
}

// Chapman: y = p1*(1 - e^(-p2*x))^p3. Exclusive.
// g = 1 - e is formed as -expm1(-(p2*x)), which keeps its digits for small p2*x; ln g as
// ln(1 - e) = log1p(-e) where e is small (g >= 1/2).
// Value: g = 1 - e, e = exp(-(p2*x)); errno test (the overflow of the exponential) ->
//   standard failure. t = g^p3; errno test -> standard failure; y = p1*t.
// Derivatives: e; errno test -> failure. g = 1 - e; d1 = g^p3; errno test -> failure.
//   y = p1*d1. h = g^(p3 - 1); errno test -> d2 = MISSING_VALUE (errno left as the power set
//   it), else d2 = p3*p1*x*e*h. g <= 0 -> d3 = MISSING_VALUE, return 0. Else L = ln(g); errno
//   34 or 33 (including a code left by h) -> d3 = MISSING_VALUE, else d3 = L*y. Return 0: a
//   derivative that cannot be formed is reported by the sentinel alone.
FM_MODEL(Chapman) {
  const double *p = params;
  const double t = x[1];
  return fm::exclusive_frame(
      request,
      [&]() -> int32_t {
        const double g = fm::one_minus_exp(-(p[2] * t));
        if (fm::math_error()) return fm::standard_failure(y);
        const double r = fm::checked_pow(g, p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[1] * r;
        return 0;
      },
      [&]() -> int32_t {
        const double e = fm::checked_exp(-(p[2] * t));
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double g = fm::one_minus_exp(-(p[2] * t));
        deriv[1] = fm::checked_pow(g, p[3]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        y[1] = p[1] * deriv[1];
        const double h = fm::checked_pow(g, p[3] - 1.0);
        if (fm::math_error()) {
          deriv[2] = fm::kMissing;
        } else {
          deriv[2] = p[3] * p[1] * t * e * h;
        }
        if (g <= 0.0) {
          deriv[3] = fm::kMissing;
          return 0;
        }
        const double L = g < 0.5 ? fm::log(g) : fm::log1p(-e);
        deriv[3] = fm::math_error() ? fm::kMissing : L * y[1];
        return 0;
      });
}
