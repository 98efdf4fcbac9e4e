// Implicit models: residuals that vanish on the fitted curve or surface. Geometry (Circle,
// Ellipse of x1, x2; PlaneMod of x1, x2, x3) and implicit current-voltage equations of a diode
// and a solar cell (ModDiode, SolarCellIV; x1 the voltage V, x2 the current I).
//
// Common to all: p1..pn are params[1..n], x1..x3 are x[1..3], y is y[1], d1..dn are
// deriv[1..n]. None reads nParams or answers REQ_QUERY.
#include "frame/contract.h"
#include "models/tail_math.h"

namespace {

constexpr double kElementaryCharge = 1.60217662e-19;
constexpr double kBoltzmann = 1.38064852e-23;

// The geometry models serve values only: anything but bit 1 set with bit 0 clear returns 0 at
// once and writes nothing. The residual goes into y[1]; an errno of 34 or 33 afterwards
// (reported by the math layer or left by earlier work of the thread) marks it MISSING_VALUE, and
// so does a residual that is not finite. errno is never cleared and the result is always 0.
template <class Residual>
int32_t geometry(int32_t request, double *y, Residual residual) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  y[1] = residual();
  if (fm::math_error()) y[1] = fm::kMissing;
  fm::finite_or_missing(&y[1]);  // a zero radius or semi-axis has no finite residual
  return 0;
}

// The diode equations. Parameters: p1 absolute temperature T, p2 saturation current I0, p3
// series resistance Rs, p4 ideality factor n, p5 shunt resistance Rsh (SolarCellIV: p6 the
// photocurrent Iph). k = q/(n*kB*T); u is the junction voltage, V - Rs*I for ModDiode and
// Rs*I + V for SolarCellIV; E = capped_exp(u*k). E - 1 is formed as expm1(u*k), which keeps
// its digits for small u*k (near zero junction voltage).
int32_t diode(int32_t request, const double *p, const double *x, double *y, double *deriv,
              bool solar) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double v = x[1], i = x[2];
  const double k = kElementaryCharge / (p[4] * kBoltzmann * p[1]);
  const double u = solar ? p[3] * i + v : v - p[3] * i;
  const double E = fm::capped_exp(u * k);
  if (fm::math_error()) return fm::guard_failure(y);  // errno stays as it is
  // u*k > 300: the exponential is beyond the range the model evaluates; the point fails rather
  // than compute the current from the cap's sentinel (errno untouched).
  if (E == fm::kMissing) return fm::guard_failure(y);
  const double Em1 = fm::expm1(u * k);
  y[1] = solar ? Em1 * p[2] + u / p[5] + i - p[6] : Em1 * p[2] + u / p[5] - i;
  if (!fm::wants_deriv(request)) return 0;
  const double G = E * p[2];
  deriv[2] = Em1;
  deriv[1] = -(k / p[1] * G * u);
  deriv[3] = solar ? i * k * G + i / p[5] : -i * k * G - i / p[5];
  deriv[4] = -(k / p[4] * G * u);
  deriv[5] = -(u / (p[5] * p[5]));
  if (solar) deriv[6] = -1.0;
  return 0;
}

}  // namespace

// Ellipse: y = ((x1 - p1)/p3)^2 + ((x2 - p2)/p4)^2 - 1 (centre p1, p2; semi-axes p3 along x1
// and p4 along x2). Value only; see geometry() for the request and errno handling.
FM_MODEL(Ellipse) {
  return geometry(request, y, [&] {
    const double a = (x[1] - params[1]) / params[3];
    const double b = (x[2] - params[2]) / params[4];
    return a * a + b * b - 1.0;
  });
}

// Circle: y = ((x1 - p1)/p3)^2 + ((x2 - p2)/p3)^2 - 1 (centre p1, p2; radius p3). Value only;
// see geometry().
FM_MODEL(Circle) {
  return geometry(request, y, [&] {
    const double a = (x[1] - params[1]) / params[3];
    const double b = (x[2] - params[2]) / params[3];
    return a * a + b * b - 1.0;
  });
}

// PlaneMod: y = sin(p1)*sin(p2)*x2 + sin(p1)*cos(p2)*x1 + cos(p1)*x3 + p3, summed in that
// order: the plane with unit normal of polar angle p1 and azimuth p2, offset p3. Value only;
// see geometry() (an infinite angle makes sin or cos report 33).
FM_MODEL(PlaneMod) {
  return geometry(request, y, [&] {
    const double s1 = fm::sin(params[1]);
    const double s2 = fm::sin(params[2]);
    const double c2 = fm::cos(params[2]);
    const double c1 = fm::cos(params[1]);
    return s1 * s2 * x[2] + s1 * c2 * x[1] + c1 * x[3] + params[3];
  });
}

// SolarCellIV: y = I0*(exp(u*k) - 1) + u/Rsh + I - Iph with u = Rs*I + V.
// Bit 0 returns 1; neither bit 1 nor bit 2 returns 0. k = 1.60217662e-19/(n*1.38064852e-23*T),
// E = capped_exp(u*k): errno 34 or 33 afterwards fails without clearing errno (y =
// MISSING_VALUE, return 1), and so does u*k > 300. y = (E - 1)*I0 + u/Rsh + I - Iph. With
// bit 2, G = E*I0:
//   d1 = -(k/T)*G*u, d2 = E - 1, d3 = I*k*G + I/Rsh, d4 = -(k/n)*G*u, d5 = -u/Rsh^2, d6 = -1.
// Return 0.
FM_MODEL(SolarCellIV) { return diode(request, params, x, y, deriv, true); }

// ModDiode: y = I0*(exp(u*k) - 1) + u/Rsh - I with u = V - Rs*I.
// As SolarCellIV, with y = (E - 1)*I0 + u/Rsh - I and with bit 2
//   d1 = -(k/T)*G*u, d2 = E - 1, d3 = -I*k*G - I/Rsh, d4 = -(k/n)*G*u, d5 = -u/Rsh^2.
// Return 0.
FM_MODEL(ModDiode) { return diode(request, params, x, y, deriv, false); }
