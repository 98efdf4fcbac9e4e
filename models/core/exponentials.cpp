// Sums of exponential terms over a baseline: rise to a plateau (ExpAssoc, ExpAssoc1,
// ExpAssoc2), rise after a delay (ExpAssocDelay1, ExpAssocDelay2), decay (ExpDecay1..3,
// Kinetic) and growth (ExpGrow1, ExpGrow2).
//
// Common to all of them: REQ_QUERY is not answered (bit 3 is never examined); bit 0 returns 1
// at once, writing nothing (Kinetic returns 0); a request with neither bit 1 nor bit 2 returns
// 0 and writes nothing. In value requests a term whose amplitude is exactly 0 is skipped, and
// its time constant is then not tested; derivative requests use every term, zero amplitudes
// included. Models that read nParams read and write nothing beyond it in either request. A tiny
// exponential (argument below -300, or an underflow) is simply 0 and follows the normal formula.
#include "frame/contract.h"

namespace {

// One decay or growth term A*exp(u/tau) of a value request, added to y; u is p2 - x for decay
// and x - p2 for growth. Skipped when A is 0. False when tau <= 0 or the exponential failed
// (errno 34 or 33): the caller takes the standard failure.
bool add_exponential_term(double &y, double amplitude, double tau, double u) {
  if (amplitude == 0.0) return true;
  if (tau <= 0.0) return false;
  y += fm::checked_exp(u / tau) * amplitude;
  return !fm::math_error();
}

// One rising term A*(1 - exp(-x/tau)) of the ExpAssoc value request, added to y. Skipped when
// A is 0. False when tau is 0 or the exponential failed (errno 34 or 33).
bool add_rise_term(double &y, double x, double amplitude, double tau) {
  if (amplitude == 0.0) return true;
  if (tau == 0.0) return false;
  const double e = fm::checked_exp(-(x / tau));
  if (fm::math_error()) return false;
  y += (1 - e) * amplitude;
  return true;
}

// exp(-(x - start)/tau) of a rise that starts at `start`. No errno test: an overflow gives an
// infinite value that passes through to the result.
double onset_exp(double x, double start, double tau) {
  return fm::checked_exp(-((x - start) / tau));
}

// Derivatives of amp*(1 - e) with e = exp(-(x - start)/tau), with respect to start, amp, tau.
void onset_derivs(double e, double x, double start, double amp, double tau, double &d_start,
                  double &d_amp, double &d_tau) {
  d_amp = 1 - e;
  d_start = -(e * (amp / tau));
  d_tau = -(e * ((x - start) * amp / (tau * tau)));
}

// One rise amp*(1 - exp(-(x - start)/tau)) of the association models: the positions of its
// parameters in params (and deriv). A delayed rise is 0 before its start.
struct Rise {
  int start, amp, tau;
  bool delayed;
};

// The frame of the association models ExpAssoc1, ExpAssoc2, ExpAssocDelay1, ExpAssocDelay2:
// y = p[base] + the rises that have started, for any request with bit 1 or bit 2; then, under
// bit 2, deriv[base] = 1 and each rise's three derivatives (0 for a rise not started). Bit 0
// returns 1; neither bit returns 0; nothing written. A zero time constant is the standard
// failure (under bit 2 deriv[1..n] = MISSING_VALUE first). errno is never tested: an
// overflowing exponential gives an infinite y and return 0. nParams is not read.
template <int N>
int32_t rise_model(int32_t request, const double *p, double t, int base, const Rise (&rises)[N],
                   int n, double *y, double *deriv) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  for (const Rise &r : rises) {
    if (p[r.tau] == 0.0) {
      if (fm::wants_deriv(request)) fm::set_missing(deriv, 1, n);
      return fm::standard_failure(y);
    }
  }
  bool on[N];
  double e[N];
  double v = p[base];
  for (int i = 0; i < N; ++i) {
    const Rise &r = rises[i];
    on[i] = !r.delayed || t >= p[r.start];
    e[i] = 0.0;
    if (on[i]) {
      e[i] = onset_exp(t, p[r.start], p[r.tau]);
      v += (1 - e[i]) * p[r.amp];
    }
  }
  y[1] = v;
  if (fm::wants_deriv(request)) {
    deriv[base] = 1.0;
    for (int i = 0; i < N; ++i) {
      const Rise &r = rises[i];
      if (on[i]) {
        onset_derivs(e[i], t, p[r.start], p[r.amp], p[r.tau], deriv[r.start], deriv[r.amp],
                     deriv[r.tau]);
      } else {
        deriv[r.start] = deriv[r.amp] = deriv[r.tau] = 0.0;
      }
    }
  }
  return 0;
}

// Decay term of a derivative request: t = (x - p2)/tau, E = exp(-t), written to d_amp.
// False when the exponential overflowed (errno 34 only).
bool decay_exp(double x, double p2, double tau, double &t, double &e, double &d_amp) {
  t = (x - p2) / tau;
  e = fm::checked_exp(-t);
  d_amp = e;
  return !fm::overflow_error();
}

// The frame of the decay sums ExpDecay1..3: y = p1 + sum over the T terms i of
// A_i*exp(-(x - p2)/tau_i), with A_i = p(3 + 2i), tau_i = p(4 + 2i); m = 2 + 2T parameters.
// Value-then-derivatives; n < m fails either request (no deriv written).
//   Value: y = p1, plus exp((p2 - x)/tau_i)*A_i for each term with A_i != 0 (tau_i <= 0, or
//   errno 34 or 33 after its exponential, is the standard failure).
//   Derivatives: any tau_i <= 0, or errno 34 (only) after an exponential, is the all-missing
//   failure (deriv[1..m]). t_i = (x - p2)/tau_i, E_i = exp(-t_i) = d(3 + 2i); d1 = 1;
//   q_i = A_i/tau_i; d2 = E1*q1 + E2*q2 + ...; d(4 + 2i) = E_i*t_i*q_i (q*t*E for the one-term
//   model); y = E1*p3 + p1 + E2*p5 + ...
template <int T>
int32_t decay_sum(int32_t request, int16_t nParams, const double *p, double x, double *y,
                  double *deriv) {
  constexpr int m = 2 + 2 * T;
  if (fm::wants_reserved(request)) return 1;
  if (fm::wants_value(request)) {
    if (nParams < m) return fm::standard_failure(y);  // fewer parameters than it reads
    double v = p[1];
    for (int i = 0; i < T; ++i) {
      if (!add_exponential_term(v, p[3 + 2 * i], p[4 + 2 * i], p[2] - x))
        return fm::standard_failure(y);
    }
    y[1] = v;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < m) return fm::standard_failure(y);  // fewer parameters than it reads
  for (int i = 0; i < T; ++i)
    if (p[4 + 2 * i] <= 0.0) return fm::all_missing_failure(y, deriv, m);
  double t[T], e[T];
  for (int i = 0; i < T; ++i) {
    if (!decay_exp(x, p[2], p[4 + 2 * i], t[i], e[i], deriv[3 + 2 * i]))
      return fm::all_missing_failure(y, deriv, m);
  }
  deriv[1] = 1.0;
  double slope = 0.0, v = 0.0;
  for (int i = 0; i < T; ++i) {
    const double q = p[3 + 2 * i] / p[4 + 2 * i];
    slope = i == 0 ? e[i] * q : slope + e[i] * q;
    deriv[4 + 2 * i] = T == 1 ? q * t[i] * e[i] : e[i] * t[i] * q;
    v = i == 0 ? e[i] * p[3] + p[1] : v + e[i] * p[3 + 2 * i];
  }
  deriv[2] = slope;
  y[1] = v;
  return 0;
}

}  // namespace

// ExpAssoc: y = p1 + p2*(1 - exp(-x/p3)) + p4*(1 - exp(-x/p5)). Value-then-derivatives.
//   Value: n <= 0 fails (standard failure). y = p1; the term (p2, p3) is added when n >= 3 and
//   p2 != 0, the term (p4, p5) when n >= 5 and p4 != 0; a term's p3/p5 = 0 or an errno of 34 or
//   33 after its exponential is the standard failure.
//   Derivatives: n <= 0, or p3 = 0 or p5 = 0 (of a term n covers), is the standard failure with
//   no deriv written. Only the terms n covers enter (d of an uncovered amplitude is 0). d1 = 1;
//   a = -x/p3, b = -x/p5; d2 = 1 - exp(a), errno test; d4 = 1 - exp(b), errno test (standard
//   failure, d1 and d2 stay); y = p2*d2 + p1 + p4*d4; d3 = a*p2*exp(a)/p3;
//   d5 = b*p4*exp(b)/p5 (the exponentials themselves, not 1 - d2 and 1 - d4, which keep only
//   the digits of 1 - exp(a) and are 0 once exp(a) is below half an ulp of 1).
FM_MODEL(ExpAssoc) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams <= 0) return fm::standard_failure(y);
    // A term is read only when nParams covers all its parameters.
    double v = p[1];
    if (nParams >= 3 && !add_rise_term(v, t, p[2], p[3])) return fm::standard_failure(y);
    if (nParams >= 5 && !add_rise_term(v, t, p[4], p[5])) return fm::standard_failure(y);
    y[1] = v;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams <= 0) return fm::standard_failure(y);
  // As in the value request, only the terms nParams covers enter; the amplitude of a term not
  // covered does not move y, so its derivative is 0.
  const bool first = nParams >= 3;
  const bool second = nParams >= 5;
  if ((first && p[3] == 0.0) || (second && p[5] == 0.0)) return fm::standard_failure(y);
  deriv[1] = 1.0;
  double a = 0.0, b = 0.0, ea = 0.0, eb = 0.0;
  if (nParams >= 2) deriv[2] = 0.0;
  if (first) {
    a = -t / p[3];
    ea = fm::checked_exp(a);
    deriv[2] = 1 - ea;
    if (fm::math_error()) return fm::standard_failure(y);
  }
  if (nParams >= 4) deriv[4] = 0.0;
  if (second) {
    b = -t / p[5];
    eb = fm::checked_exp(b);
    deriv[4] = 1 - eb;
    if (fm::math_error()) return fm::standard_failure(y);
  }
  double v = first ? p[2] * deriv[2] + p[1] : p[1];
  if (second) v += p[4] * deriv[4];
  y[1] = v;
  if (first) deriv[3] = a * p[2] * ea / p[3];
  if (second) deriv[5] = b * p[4] * eb / p[5];
  return 0;
}

// ExpAssoc1: y = p2 + p3*(1 - exp(-(x - p1)/p4)), a rise starting at p1 (not switched off
// before it).
FM_MODEL(ExpAssoc1) {
  static const Rise rises[] = {{1, 3, 4, false}};
  return rise_model(request, params, x[1], 2, rises, 4, y, deriv);
}

// ExpAssoc2: y = p3 + p4*(1 - exp(-(x - p1)/p6)) + [x >= p2]*p5*(1 - exp(-(x - p2)/p7)), two
// rises starting at p1 and p2 (the first is not switched off before p1); for x < p2,
// d2 = d5 = d7 = 0.
FM_MODEL(ExpAssoc2) {
  static const Rise rises[] = {{1, 4, 6, false}, {2, 5, 7, true}};
  return rise_model(request, params, x[1], 3, rises, 7, y, deriv);
}

// ExpAssocDelay1: y = p2 for x < p1, y = p2 + p3*(1 - exp(-(x - p1)/p4)) for x >= p1; before
// the delay d2 = 1 and d1 = d3 = d4 = 0.
FM_MODEL(ExpAssocDelay1) {
  static const Rise rises[] = {{1, 3, 4, true}};
  return rise_model(request, params, x[1], 2, rises, 4, y, deriv);
}

// ExpAssocDelay2: y = p3 + [x >= p1]*p4*(1 - exp(-(x - p1)/p6))
//                     + [x >= p2]*p5*(1 - exp(-(x - p2)/p7));
// d3 = 1 and the derivatives of a rise whose delay has not passed are 0.
FM_MODEL(ExpAssocDelay2) {
  static const Rise rises[] = {{1, 4, 6, true}, {2, 5, 7, true}};
  return rise_model(request, params, x[1], 3, rises, 7, y, deriv);
}

// ExpDecay1: y = p1 + p3*exp(-(x - p2)/p4).
FM_MODEL(ExpDecay1) { return decay_sum<1>(request, nParams, params, x[1], y, deriv); }

// ExpDecay2: y = p1 + p3*exp(-(x - p2)/p4) + p5*exp(-(x - p2)/p6).
FM_MODEL(ExpDecay2) { return decay_sum<2>(request, nParams, params, x[1], y, deriv); }

// ExpDecay3: y = p1 + p3*exp(-(x - p2)/p4) + p5*exp(-(x - p2)/p6) + p7*exp(-(x - p2)/p8).
FM_MODEL(ExpDecay3) { return decay_sum<3>(request, nParams, params, x[1], y, deriv); }

// ExpGrow1: y = p1 + p3*exp((x - p2)/p4). Value-then-derivatives.
//   n < 4 fails either request. Value: y = p1, plus exp((x - p2)/p4)*p3 when p3 != 0 (p4 <= 0,
//   or errno 34 or 33 after the exponential, is the standard failure).
//   Derivatives: only p4 = 0 fails (a negative p4 is accepted here); d1 = 1; t = (x - p2)/p4;
//   d3 = exp(t), errno 34 or 33 is the standard failure (d1 and d3 stay); Y = p3*d3;
//   d2 = -(Y/p4); d4 = d2*t; y = p1 + Y.
FM_MODEL(ExpGrow1) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    // Fewer parameters than the model reads: fail as for none.
    if (nParams < 4) return fm::standard_failure(y);
    double v = p[1];
    if (!add_exponential_term(v, p[3], p[4], t - p[2])) return fm::standard_failure(y);
    y[1] = v;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams < 4) return fm::standard_failure(y);  // fewer parameters than it reads
  if (p[4] == 0.0) return fm::standard_failure(y);
  deriv[1] = 1.0;
  const double u = (t - p[2]) / p[4];
  deriv[3] = fm::checked_exp(u);
  if (fm::math_error()) return fm::standard_failure(y);
  const double grown = p[3] * deriv[3];
  deriv[2] = -(grown / p[4]);
  deriv[4] = deriv[2] * u;
  y[1] = p[1] + grown;
  return 0;
}

// ExpGrow2: y = p1 + p3*exp((x - p2)/p4) + p5*exp((x - p2)/p6). Value-then-derivatives.
//   Value: n <= 0 fails; y = p1; the term (p3, p4) when n >= 4, the term (p5, p6) when n >= 6,
//   each as in ExpGrow1 (skipped when its amplitude is 0).
//   Derivatives: n <= 0, or p4 = 0 or p6 = 0 (of a term n covers), is the standard failure.
//   Only the terms n covers enter (d of an uncovered amplitude is 0). d1 = 1; t1 = (x - p2)/p4,
//   d3 = exp(t1), errno test; t2 = (x - p2)/p6, d5 = exp(t2), errno test (standard failure);
//   a = d3*p3/p4, b = d5*p5/p6; d2 = -a - b; d4 = -(t1*a); d6 = -(t2*b);
//   y = d3*p3 + p1 + d5*p5.
FM_MODEL(ExpGrow2) {
  if (fm::wants_reserved(request)) return 1;
  const double *p = params;
  const double t = x[1];
  if (fm::wants_value(request)) {
    if (nParams <= 0) return fm::standard_failure(y);
    // A term is read only when nParams covers all its parameters.
    double v = p[1];
    if (nParams >= 4 && !add_exponential_term(v, p[3], p[4], t - p[2]))
      return fm::standard_failure(y);
    if (nParams >= 6 && !add_exponential_term(v, p[5], p[6], t - p[2]))
      return fm::standard_failure(y);
    y[1] = v;
  }
  if (!fm::wants_deriv(request)) return 0;
  if (nParams <= 0) return fm::standard_failure(y);
  // As in the value request, only the terms nParams covers enter; the amplitude of a term not
  // covered does not move y, so its derivative is 0.
  const bool first = nParams >= 4;
  const bool second = nParams >= 6;
  if ((first && p[4] == 0.0) || (second && p[6] == 0.0)) return fm::standard_failure(y);
  deriv[1] = 1.0;
  double t1 = 0.0, t2 = 0.0, a = 0.0, b = 0.0;
  if (nParams >= 3) deriv[3] = 0.0;
  if (first) {
    t1 = (t - p[2]) / p[4];
    deriv[3] = fm::checked_exp(t1);
    if (fm::math_error()) return fm::standard_failure(y);
  }
  if (nParams >= 5) deriv[5] = 0.0;
  if (second) {
    t2 = (t - p[2]) / p[6];
    deriv[5] = fm::checked_exp(t2);
    if (fm::math_error()) return fm::standard_failure(y);
  }
  if (first) a = deriv[3] * p[3] / p[4];
  if (second) b = deriv[5] * p[5] / p[6];
  if (nParams >= 2) deriv[2] = -a - b;
  if (first) deriv[4] = -(t1 * a);
  if (second) deriv[6] = -(t2 * b);
  double v = first ? deriv[3] * p[3] + p[1] : p[1];
  if (second) v += deriv[5] * p[5];
  y[1] = v;
  return 0;
}

// Kinetic: y = p1 for x < p2; for x >= p2,
//   y = p1 + p3*exp(-(x - p2)/p4) + p5*exp(-(x - p2)/p6) + p7*exp(-(x - p2)/p8).
// Values only: bit 0 set or bit 1 clear returns 0 and writes nothing. n < 1 fails; y = p1 is
// written, and returned as is when n < 2 or p2 - x > 0. Otherwise each term whose parameters
// nParams covers (n >= 4, 6, 8) and whose amplitude is not 0 is added as exp((p2 - x)/tau)*A;
// tau <= 0, or errno 34 or 33 after its exponential, is the standard failure.
FM_MODEL(Kinetic) {
  if (fm::wants_reserved(request) || !fm::wants_value(request)) return 0;
  if (nParams < 1) return fm::standard_failure(y);
  const double *p = params;
  double v = p[1];
  y[1] = v;
  // The onset and each term are read only when nParams covers all their parameters.
  if (nParams < 2 || p[2] - x[1] > 0) return 0;
  const double u = p[2] - x[1];
  if (nParams >= 4 && !add_exponential_term(v, p[3], p[4], u)) return fm::standard_failure(y);
  if (nParams >= 6 && !add_exponential_term(v, p[5], p[6], u)) return fm::standard_failure(y);
  if (nParams >= 8 && !add_exponential_term(v, p[7], p[8], u)) return fm::standard_failure(y);
  y[1] = v;
  return 0;
}
