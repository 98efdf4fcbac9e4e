// Enzyme inhibition: Michaelis-Menten initial rates y of substrate concentration x in the
// presence of an inhibitor (competitive, non-competitive, uncompetitive, mixed) and with
// inhibition by excess substrate.
//
// Common to all: p1..pn are params[1..n], x is x[1], y is y[1], d1..dn are deriv[1..n]; p1 is
// the maximum rate Vmax, p2 the Michaelis constant Km. None reads nParams, none answers
// REQ_QUERY, none calls exp, pow or any other math routine: parameter tests and zero
// denominators are the only failures, and every failure resets errno to 0.
//
// CompInhib, NoncompInhib and UncompInhib are built in two layers: the model function checks
// the request and the parameters, a value kernel evaluates the rate and a derivative kernel the
// four partial derivatives. A kernel that fails resets errno to 0, writes nothing and returns
// 1; the model function returns that 1 unchanged.
#include "frame/contract.h"

namespace {

// ---- value kernels: (context, out y, x, Vmax, Km, Ki, I) -> 0, or 1 on a zero denominator ----

int32_t kernel_failure() {
  errno = 0;
  return 1;
}

// y = x*Vmax/D with D = (I/Ki + 1)*Km + x.
int32_t competitive_value(void *, double *y, double x, double vmax, double km, double ki,
                          double inh) {
  const double D = (inh / ki + 1.0) * km + x;
  if (D == 0.0) return kernel_failure();
  *y = x * vmax / D;
  return 0;
}

// y = x*Vmax/(S*(r + 1)) with r = I/Ki, S = x + Km.
int32_t noncompetitive_value(void *, double *y, double x, double vmax, double km, double ki,
                             double inh) {
  const double r = inh / ki;
  const double S = x + km;
  if (r + 1.0 == 0.0 || S == 0.0) return kernel_failure();
  *y = x * vmax / (S * (r + 1.0));
  return 0;
}

// y = x*Vmax/((Km/f + x)*f) with f = I/Ki + 1. The rate has a pole where Km/f + x = 0; a zero
// denominator there fails like f = 0 does.
int32_t uncompetitive_value(void *, double *y, double x, double vmax, double km, double ki,
                            double inh) {
  const double f = inh / ki + 1.0;
  if (f == 0.0) return kernel_failure();
  const double D = (km / f + x) * f;
  if (D == 0.0) return kernel_failure();
  *y = x * vmax / D;
  return 0;
}

// ---- derivative kernels: (context, out d1..d4, x, Vmax, Km, Ki, I) -> 0, or 1 ----------------

// D = (x + Km)*Ki + Km*I (the rate is x*Vmax*Ki/D); t = x*Vmax/D^2.
int32_t competitive_derivatives(void *, double *d1, double *d2, double *d3, double *d4,
                                double x, double vmax, double km, double ki, double inh) {
  const double D = (x + km) * ki + km * inh;
  if (D == 0.0) return kernel_failure();
  *d1 = x * ki / D;
  const double t = x * vmax / (D * D);
  *d2 = -((ki + inh) * ki * t);
  *d3 = km * inh * t;
  *d4 = -(ki * km * t);
  return 0;
}

// A = Ki + I, S = x + Km, P = S*A (the rate is x*Vmax*Ki/P).
int32_t noncompetitive_derivatives(void *, double *d1, double *d2, double *d3, double *d4,
                                   double x, double vmax, double km, double ki, double inh) {
  const double A = ki + inh;
  const double S = x + km;
  if (A == 0.0 || S == 0.0) return kernel_failure();
  const double P = S * A;
  *d1 = x * ki / P;
  *d2 = -(vmax * ki * x / (P * S));
  *d3 = vmax * inh * x / (P * A);
  *d4 = -(vmax * ki * x / (P * A));
  return 0;
}

// D = (x + Km)*Ki + x*I (the rate is x*Vmax*Ki/D).
int32_t uncompetitive_derivatives(void *, double *d1, double *d2, double *d3, double *d4,
                                  double x, double vmax, double km, double ki, double inh) {
  const double D = (x + km) * ki + x * inh;
  if (D == 0.0) return kernel_failure();
  const double D2 = D * D;
  *d1 = x * ki / D;
  *d2 = -(ki * ki * vmax * x / D2);
  *d3 = vmax * inh * x * x / D2;
  *d4 = -(vmax * ki * x * x / D2);
  return 0;
}

using ValueKernel = int32_t (*)(void *, double *, double, double, double, double, double);
using DerivativeKernel = int32_t (*)(void *, double *, double *, double *, double *, double,
                                     double, double, double, double);

// The model function of the two-layer models.
int32_t two_layer(int32_t request, void *context, const double *p, const double *x, double *y,
                  double *deriv, ValueKernel value, DerivativeKernel derivatives) {
  if (fm::wants_reserved(request)) return 1;
  y[1] = fm::kMissing;
  if (!fm::wants_value_or_deriv(request)) return 0;
  if (p[1] <= 0.0 || p[2] <= 0.0 || p[3] <= 0.0) return fm::standard_failure(y);
  const int32_t rc = value(context, &y[1], x[1], p[1], p[2], p[3], p[4]);
  if (rc != 0) return rc;
  if (!fm::wants_deriv(request)) return 0;
  fm::set_missing(deriv, 1, 4);
  return derivatives(context, &deriv[1], &deriv[2], &deriv[3], &deriv[4], x[1], p[1], p[2],
                     p[3], p[4]);
}

}  // namespace

// CompInhib: competitive inhibition, y = Vmax*x/(Km*(1 + I/Ki) + x); p3 Ki, p4 I.
// Bit 0 returns 1. Otherwise y[1] = MISSING_VALUE is written first, and a request with neither
// bit 1 nor bit 2 returns 0 leaving it there. Vmax <= 0, Km <= 0 or Ki <= 0 (I is not tested)
// is a standard failure. Under bit 1 or bit 2 the value kernel computes y; a zero denominator
// D = (I/Ki + 1)*Km + x fails (y stays MISSING_VALUE, errno 0, return 1). Without bit 2 return
// 0; with it d1..d4 = MISSING_VALUE, then with D = (x + Km)*Ki + Km*I (D = 0 fails, leaving
// them so, y valid) and t = x*Vmax/D^2:
//   d1 = x*Ki/D, d2 = -(Ki + I)*Ki*t, d3 = Km*I*t, d4 = -Ki*Km*t.
FM_MODEL(CompInhib) {
  return two_layer(request, context, params, x, y, deriv, competitive_value,
                   competitive_derivatives);
}

// NoncompInhib: non-competitive inhibition, y = Vmax*x/((Km + x)*(1 + I/Ki)); p3 Ki, p4 I.
// Request handling and parameter tests as CompInhib. Value: r = I/Ki, S = x + Km; r + 1 = 0 or
// S = 0 fails. Derivatives: A = Ki + I, S = x + Km (A = 0 or S = 0 fails), P = S*A:
//   d1 = x*Ki/P, d2 = -Vmax*Ki*x/(P*S), d3 = Vmax*I*x/(P*A), d4 = -Vmax*Ki*x/(P*A).
FM_MODEL(NoncompInhib) {
  return two_layer(request, context, params, x, y, deriv, noncompetitive_value,
                   noncompetitive_derivatives);
}

// UncompInhib: uncompetitive inhibition, y = Vmax*x/(Km + x*(1 + I/Ki)); p3 Ki, p4 I.
// Request handling and parameter tests as CompInhib. Value: f = I/Ki + 1, evaluated as
// x*Vmax/((Km/f + x)*f); f = 0 fails, and so does the pole where that denominator is 0.
// Derivatives: D = (x + Km)*Ki + x*I (D = 0 fails):
//   d1 = x*Ki/D, d2 = -Ki^2*Vmax*x/D^2, d3 = Vmax*I*x^2/D^2, d4 = -Vmax*Ki*x^2/D^2.
FM_MODEL(UncompInhib) {
  return two_layer(request, context, params, x, y, deriv, uncompetitive_value,
                   uncompetitive_derivatives);
}

// MixedModelInhib: mixed inhibition, y = Vmax*x/(Km*(1 + I/Ki) + x*(1 + I/(alpha*Ki)));
// p3 Ki, p4 alpha, p5 I.
// Bit 0 returns 1; neither bit 1 nor bit 2 returns 0 and writes nothing. Under either bit:
// Km <= 0, Ki <= 0 or alpha*Ki = 0 is a standard failure; g = I/(alpha*Ki) + 1, g = 0 fails;
// y = x*Vmax/(((I/Ki + 1)*Km/g + x)*g), and a zero denominator there (the pole of the rate)
// fails too. Without bit 2 return 0. With it d1..d5 = MISSING_VALUE, then
// D = (I + Ki)*alpha*Km + x*I + x*alpha*Ki (D = 0 is a standard failure) and
//   d1 = x*alpha*Ki/D,                    d2 = -alpha^2*Ki*(I + Ki)*Vmax*x/D^2,
//   d3 = I*alpha*Vmax*x*(alpha*Km + x)/D^2, d4 = I*Ki*Vmax*x^2/D^2,
//   d5 = -alpha*Ki*Vmax*x*(alpha*Km + x)/D^2.
FM_MODEL(MixedModelInhib) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double vmax = params[1], km = params[2], ki = params[3], alpha = params[4],
               inh = params[5];
  const double t = x[1];
  if (!(km > 0.0 && ki > 0.0 && alpha * ki != 0.0)) return fm::standard_failure(y);
  const double g = inh / (alpha * ki) + 1.0;
  if (g == 0.0) return fm::standard_failure(y);
  const double den = ((inh / ki + 1.0) * km / g + t) * g;
  if (den == 0.0) return fm::standard_failure(y);
  y[1] = t * vmax / den;
  if (!fm::wants_deriv(request)) return 0;

  fm::set_missing(deriv, 1, 5);
  const double D = (inh + ki) * alpha * km + t * inh + t * alpha * ki;
  if (D == 0.0) return fm::standard_failure(y);
  const double D2 = D * D;
  deriv[1] = t * alpha * ki / D;
  deriv[2] = -(alpha * alpha * ki * (inh + ki) * vmax * t / D2);
  deriv[3] = inh * alpha * vmax * t * (alpha * km + t) / D2;
  deriv[4] = inh * ki * vmax * t * t / D2;
  deriv[5] = -(alpha * ki * vmax * t * (alpha * km + t) / D2);
  return 0;
}

// SubstrateInhib: substrate inhibition, y = Vmax*x/(Km + x*(1 + x/Ki)); p3 Ki.
// Bit 0 returns 1; neither bit 1 nor bit 2 returns 0 and writes nothing. Vmax <= 0, Km <= 0 or
// Ki <= 0 is a standard failure. D = (x/Ki + 1)*x + Km, D = 0 a standard failure, y = x*Vmax/D.
// Without bit 2 return 0. With it d1..d3 = MISSING_VALUE, then, stopping at the first zero
// denominator with the standard failure: E = (x + Km)*Ki + x^2, d1 = x*Ki/E;
// F = (x + Ki)*x/Ki + Km, d2 = -x*Vmax/F^2; d3 = Vmax*x^3/E^2.
FM_MODEL(SubstrateInhib) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double vmax = params[1], km = params[2], ki = params[3];
  const double t = x[1];
  if (vmax <= 0.0 || km <= 0.0 || ki <= 0.0) return fm::standard_failure(y);
  const double D = (t / ki + 1.0) * t + km;
  if (D == 0.0) return fm::standard_failure(y);
  y[1] = t * vmax / D;
  if (!fm::wants_deriv(request)) return 0;

  fm::set_missing(deriv, 1, 3);
  const double E = (t + km) * ki + t * t;
  if (E == 0.0) return fm::standard_failure(y);
  deriv[1] = t * ki / E;
  const double F = (t + ki) * t / ki + km;
  if (F == 0.0) return fm::standard_failure(y);
  deriv[2] = -(t * vmax / (F * F));
  deriv[3] = vmax * (t * t * t) / (E * E);
  return 0;
}
