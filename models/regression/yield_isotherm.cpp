// Reciprocal-power models of the yield-density and adsorption kind: the Bleasdale-Nelder family
// (BlNeld, the simplified BlNeldSmp and the two-point form BlNeldEVP), Harris and its
// two-point form HarrisEVP, Gunary, Bradley and the extended Langmuir isotherms LangmuirEXT1
// and LangmuirEXT2. A two-point form is the base curve through the points (p1, p2) and
// (p3, p4) with exponent p5; it reads p1..p5 (two more than its registry count) and serves
// values only.
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n].
// None answers REQ_QUERY. Exclusive request frame: bit 0 returns 1 (0 for the two-point forms);
// with bit 1 only y is computed; the derivatives (with y) only when bit 1 is clear and bit 2
// set; with neither bit return 0.
//   guard failure:  y = MISSING_VALUE, return 1, errno untouched; on the derivative path also
//                   every derivative MISSING_VALUE unless the model says otherwise.
//   errno test:     errno equal to 34 or 33 after the named call. Failing on the derivative
//                   path before y is known, it writes MISSING_VALUE into every derivative and
//                   gives the standard failure (errno = 0, y = MISSING_VALUE, return 1).
#include "frame/contract.h"

namespace {

// The parameters a two-point form reads.
constexpr int kTwoPointParams = 5;

}  // namespace

// BlNeld: y = (p1 + p2*x^p4)^(-1/p3).
// Value: p3 = 0 -> guard failure. t = x^p4; errno test -> standard failure. s = t*p2 + p1;
//   y = s^(-1/p3); errno test -> standard failure (the sign of s is not tested: a negative s
//   with an integral -1/p3 has a value).
// Derivatives: p3 = 0 -> guard. t; errno test -> failure. s <= 0 -> guard. y = s^(-1/p3);
//   errno test -> failure. d1 = -y/p3/s; d2 = d1*t. ln(s): errno test -> errno = 0,
//   d3 = d4 = MISSING_VALUE, return 1; d3 = y/p3/p3*ln(s). ln(x): errno test (x <= 0) ->
//   errno = 0, d4 = MISSING_VALUE, return 1; d4 = ln(x)*p2*d2.
FM_MODEL(BlNeld) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request, 1,
      [&]() -> int32_t {
        if (p[3] == 0.0) return fm::guard_failure(y);
        const double t = fm::checked_pow(X, p[4]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double s = t * p[2] + p[1];
        y[1] = fm::checked_pow(s, -1.0 / p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (p[3] == 0.0) return fm::guard_failure_all(y, deriv, 4);
        const double t = fm::checked_pow(X, p[4]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
        const double s = t * p[2] + p[1];
        if (s <= 0.0) return fm::guard_failure_all(y, deriv, 4);
        y[1] = fm::checked_pow(s, -1.0 / p[3]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 4);
        deriv[1] = -y[1] / p[3] / s;
        deriv[2] = deriv[1] * t;
        const double Ls = fm::log(s);
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 3, 4);
        deriv[3] = y[1] / p[3] / p[3] * Ls;
        const double Lx = fm::log(X);
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 4, 4);
        deriv[4] = Lx * p[2] * deriv[2];
        return 0;
      });
}

// BlNeldSmp: y = (p1 + p2*x)^(-1/p3).
// Value: s = p2*x + p1; s <= 0 -> guard failure; p3 = 0 -> guard failure. y = s^(-1/p3);
//   errno test -> standard failure.
// Derivatives: s <= 0 or p3 = 0 -> guard. y; errno test -> failure. d1 = -y/s/p3; d2 = d1*x.
//   ln(s): errno test -> errno = 0, d3 = MISSING_VALUE, return 1; d3 = y/p3/p3*ln(s).
FM_MODEL(BlNeldSmp) {
  const double *p = params;
  const double X = x[1];
  const double s = p[2] * X + p[1];
  return fm::exclusive_frame(
      request, 1,
      [&]() -> int32_t {
        if (s <= 0.0) return fm::guard_failure(y);
        if (p[3] == 0.0) return fm::guard_failure(y);
        y[1] = fm::checked_pow(s, -1.0 / p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        return 0;
      },
      [&]() -> int32_t {
        if (s <= 0.0 || p[3] == 0.0) return fm::guard_failure_all(y, deriv, 3);
        y[1] = fm::checked_pow(s, -1.0 / p[3]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        deriv[1] = -y[1] / s / p[3];
        deriv[2] = deriv[1] * X;
        const double Ls = fm::log(s);
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 3, 3);
        deriv[3] = y[1] / p[3] / p[3] * Ls;
        return 0;
      });
}

// BlNeldEVP (reads p1..p5, values only): the curve through (p1, p2) and (p3, p4) with exponent
// p5:  y = p2*p4*((p3 - p1)/((p3 - x)*p4^p5 + (x - p1)*p2^p5))^(1/p5).
// Bit 0 returns 0.
// Value: unless p1 > 0, p3 > 0, p2 > 0, p4 > 0 and p1 < p3 -> guard failure. a = p2^p5,
//   b = p4^p5; one errno test after both -> standard failure. D = (p3 - x)*b + (x - p1)*a;
//   D = 0 -> guard failure. t = ((p3 - p1)/D)^(1/p5); errno test -> standard failure;
//   y = p4*p2*t.
// Derivative request: y and d1..d5 MISSING_VALUE, return 1, errno untouched.
FM_MODEL(BlNeldEVP) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request, 0,
      [&]() -> int32_t {
        if (!(p[1] > 0.0 && p[3] > 0.0 && p[2] > 0.0 && p[4] > 0.0 && p[1] < p[3]))
          return fm::guard_failure(y);
        const double a = fm::checked_pow(p[2], p[5]);
        const double b = fm::checked_pow(p[4], p[5]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double D = (p[3] - X) * b + (X - p[1]) * a;
        if (D == 0.0) return fm::guard_failure(y);
        const double t = fm::checked_pow((p[3] - p[1]) / D, 1.0 / p[5]);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[4] * p[2] * t;
        return 0;
      },
      [&]() -> int32_t { return fm::guard_failure_all(y, deriv, kTwoPointParams); });
}

// Harris: y = 1/(p1 + p2*x^p3).
// Value: t = x^p3; errno test -> standard failure. D = p2*t + p1; D = 0 -> guard failure.
//   y = 1/D.
// Derivatives: t; errno test -> standard failure (no derivative written). D = 0 -> guard
//   failure (no derivative written). y = 1/D; d1 = -y^2; d2 = -y^2*t. x <= 0 -> d3 =
//   MISSING_VALUE, return 1 (y, d1, d2 stay, errno untouched). L = ln(x); errno test ->
//   errno = 0, d3 = MISSING_VALUE, return 1; d3 = d2*p2*L.
FM_MODEL(Harris) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request, 1,
      [&]() -> int32_t {
        const double t = fm::checked_pow(X, p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double D = p[2] * t + p[1];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = 1.0 / D;
        return 0;
      },
      [&]() -> int32_t {
        const double t = fm::checked_pow(X, p[3]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double D = p[2] * t + p[1];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = 1.0 / D;
        deriv[1] = -(y[1] * y[1]);
        deriv[2] = -(y[1] * y[1]) * t;
        if (X <= 0.0) {
          deriv[3] = fm::kMissing;
          return 1;
        }
        const double L = fm::log(X);
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 3, 3);
        deriv[3] = deriv[2] * p[2] * L;
        return 0;
      });
}

// HarrisEVP (reads p1..p5, values only): the curve of Harris through (p1, p2) and (p3, p4) with
// exponent p5:  y = p2*p4*(p3^p5 - p1^p5)/((p3^p5 - x^p5)*p4 + (x^p5 - p1^p5)*p2).
// Bit 0 returns 0. nParams below 5 (either request) -> standard failure, nothing read beyond
// nParams and no derivative written.
// Value: p1 = p3 -> guard failure. t = x^p5, a = p1^p5, b = p3^p5, each followed by an errno
//   test -> standard failure. D = (b - t)*p4 + (t - a)*p2; D = 0 -> guard failure.
//   y = (b - a)*(p4*p2)/D.
// Derivative request (bit 1 clear): the form has no derivative code: y and d1..d5
//   MISSING_VALUE, errno untouched, and return 1 -- a refusal, not a success; only the five
//   slots of the layout are written whatever nParams the caller passes.
FM_MODEL(HarrisEVP) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request, 0,
      [&]() -> int32_t {
        if (nParams < kTwoPointParams) return fm::standard_failure(y);  // fewer than it reads
        if (p[1] == p[3]) return fm::guard_failure(y);
        const double t = fm::checked_pow(X, p[5]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double a = fm::checked_pow(p[1], p[5]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double b = fm::checked_pow(p[3], p[5]);
        if (fm::math_error()) return fm::standard_failure(y);
        const double D = (b - t) * p[4] + (t - a) * p[2];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = (b - a) * (p[4] * p[2]) / D;
        return 0;
      },
      [&]() -> int32_t {
        if (nParams < kTwoPointParams) return fm::standard_failure(y);  // fewer than it reads
        return fm::guard_failure_all(y, deriv, kTwoPointParams);
      });
}

// Gunary: y = x/(p1 + p2*x + p3*sqrt(x)), for x >= 0.
// Value: a negative x has no square root: standard failure (return 1). r = sqrt(x); errno test
//   -> standard failure. D = p2*x + p1 + r*p3; D = 0 -> guard failure. y = x/D.
// Derivatives: x < 0, or r with its errno test -> d1..d3 MISSING_VALUE, standard failure.
//   D = 0 -> guard. d1 = -x/D/D; y = x/D; d2 = d1*x; d3 = d1*r.
FM_MODEL(Gunary) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request, 1,
      [&]() -> int32_t {
        if (X < 0.0) return fm::standard_failure(y);  // no value below 0
        const double r = fm::sqrt(X);
        if (fm::math_error()) return fm::standard_failure(y);
        const double D = p[2] * X + p[1] + r * p[3];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = X / D;
        return 0;
      },
      [&]() -> int32_t {
        if (X < 0.0) return fm::all_missing_failure(y, deriv, 3);  // no value below 0
        const double r = fm::sqrt(X);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double D = p[2] * X + p[1] + r * p[3];
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        deriv[1] = -X / D / D;
        y[1] = X / D;
        deriv[2] = deriv[1] * X;
        deriv[3] = deriv[1] * r;
        return 0;
      });
}

// Bradley: y = p1*ln(-p2*ln(x)).
// Value: x <= 0 or p2 = 0 -> guard failure. L = ln(x); errno test -> standard failure.
//   w = -L*p2; w <= 0 -> guard failure. y = ln(w); errno test -> standard failure; y = p1*y.
// Derivatives: x <= 0 or p2 = 0 -> guard. w = -(ln(x)*p2); errno test -> failure. w <= 0 ->
//   guard. d1 = ln(w); errno test -> failure. y = p1*d1; d2 = p1/p2.
FM_MODEL(Bradley) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request, 1,
      [&]() -> int32_t {
        if (X <= 0.0 || p[2] == 0.0) return fm::guard_failure(y);
        const double L = fm::log(X);
        if (fm::math_error()) return fm::standard_failure(y);
        const double w = -L * p[2];
        if (w <= 0.0) return fm::guard_failure(y);
        const double Lw = fm::log(w);
        if (fm::math_error()) return fm::standard_failure(y);
        y[1] = p[1] * Lw;
        return 0;
      },
      [&]() -> int32_t {
        if (X <= 0.0 || p[2] == 0.0) return fm::guard_failure_all(y, deriv, 2);
        const double w = -(fm::log(X) * p[2]);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        if (w <= 0.0) return fm::guard_failure_all(y, deriv, 2);
        deriv[1] = fm::log(w);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 2);
        y[1] = p[1] * deriv[1];
        deriv[2] = p[1] / p[2];
        return 0;
      });
}

// LangmuirEXT1: y = p1*u/(1 + u), u = p2*x^(1 - p3).
// Value: x <= 0 -> guard failure. t = x^(1 - p3); u = t*p2; errno test -> standard failure.
//   u + 1 = 0 -> guard failure. y = u*p1/(u + 1). (p2 = 0 gives y = 0.)
// Derivatives: x <= 0 or p2 = 0 -> guard. t, u; errno test -> failure. u + 1 = 0 -> guard.
//   d1 = u/(u + 1); y = d1*p1; g = (1 - d1)*y; d3 = -ln(x)*g; d2 = g/p2.
FM_MODEL(LangmuirEXT1) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request, 1,
      [&]() -> int32_t {
        if (X <= 0.0) return fm::guard_failure(y);
        const double t = fm::checked_pow(X, 1.0 - p[3]);
        const double u = t * p[2];
        if (fm::math_error()) return fm::standard_failure(y);
        if (u + 1.0 == 0.0) return fm::guard_failure(y);
        y[1] = u * p[1] / (u + 1.0);
        return 0;
      },
      [&]() -> int32_t {
        if (X <= 0.0 || p[2] == 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double t = fm::checked_pow(X, 1.0 - p[3]);
        const double u = t * p[2];
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        if (u + 1.0 == 0.0) return fm::guard_failure_all(y, deriv, 3);
        deriv[1] = u / (u + 1.0);
        y[1] = deriv[1] * p[1];
        const double g = (1.0 - deriv[1]) * y[1];
        deriv[3] = -fm::log(X) * g;
        deriv[2] = g / p[2];
        return 0;
      });
}

// LangmuirEXT2: y = 1/(p1 + p2*x^(p3 - 1)).
// Value: x <= 0 -> guard failure. t = x^(p3 - 1). errno 34 (the power overflowed): errno = 0,
//   y = 0 (the limit), return 0. errno 33 -> standard failure. D = t*p2 + p1; D = 0 -> guard
//   failure. y = 1/D.
// Derivatives: x <= 0 -> guard. t; errno test (34 or 33) -> failure. D = 0 -> guard. y = 1/D;
//   d1 = -y^2; d2 = -y^2*t; d3 = ln(x)*d2*p2; errno test after the logarithm -> errno = 0,
//   d3 = MISSING_VALUE, return 1.
FM_MODEL(LangmuirEXT2) {
  const double *p = params;
  const double X = x[1];
  return fm::exclusive_frame(
      request, 1,
      [&]() -> int32_t {
        if (X <= 0.0) return fm::guard_failure(y);
        const double t = fm::checked_pow(X, p[3] - 1.0);
        if (fm::overflow_error()) {
          errno = 0;
          y[1] = 0.0;
          return 0;
        }
        if (errno == EDOM) return fm::standard_failure(y);
        const double D = t * p[2] + p[1];
        if (D == 0.0) return fm::guard_failure(y);
        y[1] = 1.0 / D;
        return 0;
      },
      [&]() -> int32_t {
        if (X <= 0.0) return fm::guard_failure_all(y, deriv, 3);
        const double t = fm::checked_pow(X, p[3] - 1.0);
        if (fm::math_error()) return fm::all_missing_failure(y, deriv, 3);
        const double D = t * p[2] + p[1];
        if (D == 0.0) return fm::guard_failure_all(y, deriv, 3);
        y[1] = 1.0 / D;
        deriv[1] = -(y[1] * y[1]);
        deriv[2] = -(y[1] * y[1]) * t;
        deriv[3] = fm::log(X) * deriv[2] * p[2];
        if (fm::math_error()) return fm::missing_derivatives_failure(deriv, 3, 3);
        return 0;
      });
}
