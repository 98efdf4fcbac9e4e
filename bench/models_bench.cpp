// Cost of one model call per data point, as a fitter's inner loop pays it: a value request and
// a derivative request, over a sweep of x (256 points per iteration; items/s is calls per
// second).
//
// Paired subjects ("<Subject>/<request>/model" and ".../bare"): the model called through its
// ModelFunction pointer beside its bare formula, the same mathematics in the same order of
// operations written as a plain inline expression, without the contract (no parameter tests,
// no errno, no request word, no per-peak outputs), its parameters read from memory so that
// nothing is constant-folded. bench/ratios.py turns a run into ns per call and model/bare.
// The remaining subjects are timed without a bare formula.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "fitmodels.h"
#include "fitmodels_catalog.h"
#include "frame/host_math.h"

namespace {

constexpr int kPoints = 256;

// The second input of a two-input model along the sweep (read only by those models).
inline double second_input(double x1) { return x1 * 0.5 + 1.0; }

struct Sweep {
  double x0, x1;
  double at(int i) const { return x0 + (x1 - x0) / kPoints * i; }
};

// Inputs: 1, or 2 for a two-input model (x2 = second_input(x1), computed only then).
template <int Inputs>
__attribute__((noinline)) void run_model(benchmark::State &state, const char *name,
                                         const std::vector<double> &params, Sweep sw,
                                         int32_t request) {
  ModelFunction f = get_funx(name);
  if (f == nullptr) {
    state.SkipWithError("model not registered");
    return;
  }
  std::vector<double> p(params.size() + 1, 0.0);
  for (std::size_t i = 0; i < params.size(); ++i) p[i + 1] = params[i];
  const int16_t n = static_cast<int16_t>(params.size());
  double x[3] = {0.0, sw.x0, 0.0}, y[64], d[64];
  for (auto _ : state) {
    for (int i = 0; i < kPoints; ++i) {
      x[1] = sw.at(i);
      if (Inputs == 2) x[2] = second_input(x[1]);
      benchmark::DoNotOptimize(f(request, nullptr, n, 0, 0, p.data(), 0, x, y, d));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}

// The bare loop: the same sweep, the formula inlined, its outputs stored into y and d.
template <class Bare>
__attribute__((noinline)) void run_bare(benchmark::State &state, const std::vector<double> &params,
                                        Sweep sw, Bare bare) {
  std::vector<double> p(params.size() + 1, 0.0);
  for (std::size_t i = 0; i < params.size(); ++i) p[i + 1] = params[i];
  double y[64], d[64];
  double *yp = y, *dp = d;
  benchmark::DoNotOptimize(yp);  // the outputs escape, as a model's do: every store is made
  benchmark::DoNotOptimize(dp);
  const double *pp = p.data();
  for (auto _ : state) {
    benchmark::DoNotOptimize(pp);  // parameters are read from memory on every sweep
    for (int i = 0; i < kPoints; ++i) {
      bare(pp, sw.at(i), yp, dp);
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}

// ---- the bare formulas -------------------------------------------------------------------
// Each is f(p, x, y, d) with p[1..n]; value formulas write y[1], derivative formulas write
// y[1] and d[1..n] as the model's derivative request does.

constexpr double kSqrtHalfPi = 1.253314137316;
constexpr double kSqrt2 = 1.414213562373;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

inline void line_value(const double *p, double t, double *y, double *) { y[1] = p[2] * t + p[1]; }
inline void line_deriv(const double *p, double t, double *y, double *d) {
  d[1] = 1.0;
  d[2] = t;
  y[1] = p[2] * d[2] + p[1];
}

// Gauss with k peaks (p1 baseline, then xc, w, A per peak).
template <int K>
inline void gauss_value(const double *p, double t, double *y, double *) {
  double sum = p[1];
  for (int j = 0; j < K; ++j) {
    const double xc = p[2 + 3 * j], w = p[3 + 3 * j], A = p[4 + 3 * j];
    const double z = (t - xc) / w;
    sum += std::exp(-2.0 * z * z) * A / (w * kSqrtHalfPi);
  }
  y[1] = sum;
}
template <int K>
inline void gauss_deriv(const double *p, double t, double *y, double *d) {
  d[1] = 1.0;
  double sum = p[1];
  for (int j = 0; j < K; ++j) {
    const double xc = p[2 + 3 * j], w = p[3 + 3 * j], A = p[4 + 3 * j];
    const double s = (t - xc) * kSqrt2 / w;
    const double u = s * s;
    const double G = std::exp(-u) / (w * kSqrtHalfPi);
    d[4 + 3 * j] = G;
    d[3 + 3 * j] = (2.0 * u - 1.0) * A * G / w;
    d[2 + 3 * j] = (t != xc) ? A * 2.0 * u * G / (t - xc) : 0.0;
    sum += G * A;
  }
  y[1] = sum;
}

inline void lorentz_value(const double *p, double t, double *y, double *) {
  const double dx = t - p[2], w = p[3];
  y[1] = p[1] + p[4] * 2.0 / kPi * (w / (4.0 * (dx * dx) + w * w));
}
inline void lorentz_deriv(const double *p, double t, double *y, double *d) {
  const double xc = p[2], w = p[3], A = p[4];
  const double s = (t - xc) * 2.0 / w;
  const double s2 = s * s;
  const double L = 2.0 / ((s2 + 1.0) * (w * kPi));
  const double P = L * A;
  d[1] = 1.0;
  d[4] = L;
  d[2] = s * kTwoPi * P * L;
  d[3] = (w * kPi * s2 * L - 1.0) * P / w;
  y[1] = p[1] + P;
}

inline void gaussamp_value(const double *p, double t, double *y, double *) {
  const double z = (t - p[2]) / p[3];
  y[1] = p[1] + std::exp(z * (-0.5) * z) * p[4];
}
inline void gaussamp_deriv(const double *p, double t, double *y, double *d) {
  const double xc = p[2], w = p[3], A = p[4];
  const double z = (t - xc) / w;
  const double e = std::exp(z * (-0.5) * z);
  const double dx = t - xc;
  d[1] = 1.0;
  d[4] = e;
  d[2] = dx * (e * A) / w / w;
  d[3] = dx * d[2] / w;
  y[1] = p[1] + e * A;
}

constexpr double kGaussArea = 0.939437278;
constexpr double kLorentzArea = 0.636619772;
constexpr double kFourLn2 = 2.77258872;
constexpr double kTwoRootLn2 = 1.665109222;
constexpr double kRootLn2 = 0.832554611;
constexpr double kT[6] = {0.314240376, 0.947788391, 1.59768264, 2.27950708, 3.02063703, 3.8897249};
constexpr double kC[6] = {1.01172805,    -0.75197147,      0.012557727,
                          0.0100220082,  -0.000242068135,  5.00848061e-7};
constexpr double kS[6] = {1.39323,       0.231152406,   -0.155351466,
                          0.00621836624, 9.19082986e-5, -6.27525958e-7};

inline double voigt_k(double X, double Y) {
  const double Y1 = Y + 1.5;
  const double Y2 = Y1 * Y1;
  double k = 0.0;
  if (Y > 0.85 || std::fabs(X) < 18.1 * Y + 1.65) {
    for (int i = 0; i < 6; ++i) {
      const double Rm = X - kT[i], Rp = X + kT[i];
      const double Dm = 1.0 / (Rm * Rm + Y2), Dp = 1.0 / (Rp * Rp + Y2);
      k += kC[i] * (Y1 * Dm + Y1 * Dp) - kS[i] * (Rm * Dm - Rp * Dp);
    }
  } else {
    if (std::fabs(X) < 12.0) k = std::exp(-(X * X));
    const double Y3 = Y + 3.0;
    for (int i = 0; i < 6; ++i) {
      const double Rm = X - kT[i], Rp = X + kT[i];
      const double Dm = 1.0 / (Rm * Rm + Y2);
      k += Y * (kC[i] * (Rm * Rm * Dm - 1.5 * Y1 * Dm) + kS[i] * Y3 * Rm * Dm) /
           (Rm * Rm + 2.25);
      const double Dp = 1.0 / (Rp * Rp + Y2);
      k += Y * (kC[i] * (Rp * Rp * Dp - 1.5 * Y1 * Dp) - kS[i] * Y3 * Rp * Dp) /
           (Rp * Rp + 2.25);
    }
  }
  return k;
}
inline void voigt5_value(const double *p, double t, double *y, double *) {
  const double xc = p[2], A = p[3], wG = p[4], wL = p[5];
  const double K = voigt_k((t - xc) * kTwoRootLn2 / wG, wL * kRootLn2 / wG);
  y[1] = p[1] + K * A * kGaussArea / wG;
}

inline void psdvoigt1_value(const double *p, double t, double *y, double *) {
  const double d = t - p[2], A = p[3], w = p[4], mu = p[5];
  const double d2 = d * d;
  const double G = std::exp(d2 * (-kFourLn2) / (w * w));
  y[1] = p[1] + A * ((1.0 - mu) * kGaussArea * G / w + mu * kLorentzArea * w / (4.0 * d2 + w * w));
}

// Pearson VII with its Lanczos gamma routines.
constexpr double kRootPi = 1.77245385090551;
constexpr double kLanczos[6] = {76.18009173, -86.50532033, 24.01409822,
                                -1.231739516, 0.00120858003, -5.36382e-6};
inline double lanczos(double z) {
  const double t = z - 1.0;
  double S = 1.0;
  for (int i = 0; i < 6; ++i) S += kLanczos[i] / (t + (i + 1));
  return S;
}
inline double lgam(double z) {
  const double t = z - 1.0;
  return std::log(2.50662827465 * lanczos(z)) - ((t + 5.5) - (t + 0.5) * std::log(t + 5.5));
}
inline double digam(double z) {
  double dS = 0.0;
  for (int i = 0; i < 6; ++i) dS -= kLanczos[i] / ((z + i) * (z + i));
  return std::log(z + 4.5) + ((z - 0.5) / (z + 4.5) - 1.0) + dS / lanczos(z);
}
// Gamma and Gamma' for z >= 1 (the benchmarked shape keeps m - 1/2 >= 1).
inline double gam(double z) { return std::exp(lgam(z)); }
inline double gam_slope(double z) { return std::exp(lgam(z)) * digam(z); }

inline void pearson7_value(const double *p, double t, double *y, double *) {
  const double m = p[5];
  const double u = (t - p[2]) / p[4];
  const double c = std::pow(2.0, 1.0 / m) - 1.0;
  const double K = gam(m) / gam(m - 0.5) * std::sqrt(c) * 2.0 * p[3] / (p[4] * kRootPi);
  y[1] = K * std::pow(c * 4.0 * (u * u) + 1.0, -m) + p[1];
}
inline void pearson7_deriv(const double *p, double t, double *y, double *d) {
  const double m = p[5];
  const double u = (t - p[2]) / p[4];
  const double c = std::pow(2.0, 1.0 / m) - 1.0;
  const double q = c * 4.0 * (u * u) + 1.0;
  const double P = std::pow(q, -m);
  const double s = std::sqrt(c);
  const double R = gam(m) / gam(m - 0.5);
  const double norm = p[4] * kRootPi;
  d[1] = 1.0;
  d[2] = 16.0 * (s * s * s) * p[3] * m * (P / q) * u * R / (norm * p[4]);
  d[3] = 2.0 * s * P * R / norm;
  d[4] = u * d[2] - (p[3] / p[4]) * d[3];
  const double power = (c + 1.0) * 2.77259 * (u * u) / (m * q) - std::log(q);
  const double width = (c + 1.0) * 0.693147 * p[3] * P * R / (m * s * m * kRootPi * p[4]);
  const double V = 2.0 * s * p[3] * P / (norm * gam(m - 0.5));
  d[5] = V * gam(m) * power - width - gam_slope(m - 0.5) * V * R + gam_slope(m) * V;
  y[1] = p[3] * d[3] + p[1];
}

inline void boltzman_value(const double *p, double x, double *y, double *) {
  const double e = std::exp((x - p[3]) / p[4]);
  y[1] = (p[1] - p[2]) / (e + 1.0) + p[2];
}
inline void boltzman_deriv(const double *p, double x, double *y, double *d) {
  const double t = (x - p[3]) / p[4];
  const double e = std::exp(t);
  const double s = 1.0 / (e + 1.0);
  d[1] = s;
  d[2] = 1.0 - s;
  y[1] = (p[1] - p[2]) / (e + 1.0) + p[2];
  d[3] = (p[1] - p[2]) * s * (1.0 - s) / p[4];
  d[4] = d[3] * t;
}

inline void hill_value(const double *p, double t, double *y, double *) {
  y[1] = p[1] / (std::pow(p[2] / t, p[3]) + 1.0);
}
inline void hill_deriv(const double *p, double t, double *y, double *d) {
  const double P = std::pow(p[2] / t, p[3]);
  const double d1 = 1.0 / (P + 1.0);
  d[1] = d1;
  const double v = d1 * p[1];
  y[1] = v;
  const double s = -(v * P * d1);
  d[3] = std::log(p[2] / t) * s;
  d[2] = (p[3] / p[2]) * s;
}

inline void expdecay1_value(const double *p, double x, double *y, double *) {
  y[1] = p[1] + std::exp((p[2] - x) / p[4]) * p[3];
}
inline void expdecay1_deriv(const double *p, double x, double *y, double *d) {
  const double t = (x - p[2]) / p[4];
  const double e = std::exp(-t);
  const double q = p[3] / p[4];
  d[3] = e;
  d[1] = 1.0;
  d[2] = e * q;
  d[4] = q * t * e;
  y[1] = e * p[3] + p[1];
}

inline void expdec3_value(const double *p, double x, double *y, double *) {
  const double e1 = std::exp(-x / p[3]), e2 = std::exp(-x / p[5]), e3 = std::exp(-x / p[7]);
  y[1] = (p[2] * e1 + p[4] * e2) + p[6] * e3 + p[1];
}
inline void expdec3_deriv(const double *p, double x, double *y, double *d) {
  double e[3];
  for (int i = 0; i < 3; ++i) d[2 + 2 * i] = e[i] = std::exp(-x / p[3 + 2 * i]);
  d[1] = 1.0;
  for (int i = 0; i < 3; ++i) d[3 + 2 * i] = (x / p[3 + 2 * i]) * p[2 + 2 * i] * e[i] / p[3 + 2 * i];
  y[1] = e[0] * p[2] + p[1] + e[1] * p[4] + e[2] * p[6];
}

inline void sgompertz_value(const double *p, double t, double *y, double *) {
  const double E = std::exp(-((t - p[2]) * p[3]));
  y[1] = std::exp(-E) * p[1];
}
inline void sgompertz_deriv(const double *p, double t, double *y, double *d) {
  const double E = std::exp(-((t - p[2]) * p[3]));
  d[1] = std::exp(-E);
  const double Y = p[1] * d[1];
  y[1] = Y;
  const double c = Y * E;
  d[3] = (t - p[2]) * c;
  d[2] = -(c * p[3]);
}

// Gauss2D with one term: p1 baseline, then A, xc, w1, yc, w2; x2 = second_input(x1).
inline void gauss2d_value(const double *p, double x1, double *y, double *) {
  const double x2 = second_input(x1);
  const double u = (x1 - p[3]) / p[4], v = (x2 - p[5]) / p[6];
  y[1] = p[1] + std::exp(u * u * -0.5 - v * v * 0.5) * p[2];
}
inline void gauss2d_deriv(const double *p, double x1, double *y, double *d) {
  const double x2 = second_input(x1);
  const double A = p[2], xc = p[3], w1 = p[4], yc = p[5], w2 = p[6];
  const double u = (x1 - xc) / w1, v = (x2 - yc) / w2;
  const double e = std::exp(u * u * -0.5 - v * v * 0.5);
  d[1] = 1.0;
  d[2] = e;
  d[4] = e * A * (u * u) / w1;
  d[6] = e * A * (v * v) / w2;
  d[3] = x1 != xc ? e * A * (u * u) / (x1 - xc) : 0.0;
  d[5] = x2 != yc ? e * A * (v * v) / (x2 - yc) : 0.0;
  y[1] = p[1] + e * A;
}

inline void normalcdf_value(const double *p, double t, double *y, double *) {
  y[1] = p[1] + p[2] * normcdf((t - p[3]) / p[4], 2, 0);
}
inline void normalcdf_deriv(const double *p, double t, double *y, double *d) {
  const double F = normcdf((t - p[3]) / p[4], 2, 0);
  y[1] = p[1] + p[2] * F;
  d[1] = 1.0;
  d[2] = F;
  const double g = std::exp(-(((t - p[3]) * (t - p[3])) / (p[4] * 2.0 * p[4])));
  const double r = std::sqrt(kTwoPi);
  d[3] = -(g * (p[2] / r / p[4]));
  d[4] = -(g * ((t - p[3]) * (p[2] / r) / (p[4] * p[4])));
}

struct Pair {
  const char *label;  // benchmark name
  const char *model;  // registry name
  std::vector<double> params;
  Sweep sweep;
  // Lambdas rather than the pointers are instantiated below so that each bare formula is
  // inlined into its loop.
};

std::vector<double> gauss10_params() {
  std::vector<double> p = {0.1};
  for (int j = 0; j < 10; ++j) {
    p.push_back(0.5 + j);          // xc
    p.push_back(0.6 + 0.05 * j);   // w
    p.push_back(1.0 + 0.1 * j);    // A
  }
  return p;
}

// FITMODELS_BENCH_ITERATIONS=n runs every paired benchmark for exactly n sweeps: under
// valgrind --tool=callgrind the inclusive costs of run_model and run_bare divided by 256 n are
// then the instructions per call (see README.md).
benchmark::internal::Benchmark *fixed(benchmark::internal::Benchmark *b) {
  static const char *env = std::getenv("FITMODELS_BENCH_ITERATIONS");
  if (env != nullptr) b->Iterations(std::strtoll(env, nullptr, 10));
  return b;
}

template <class Bare>
void add_pair(const Pair &s, const char *request_label, int32_t request, Bare bare) {
  const std::string base = std::string(s.label) + "/" + request_label;
  fixed(benchmark::RegisterBenchmark(
      (base + "/model").c_str(), [s, request](benchmark::State &st) {
        if (fm_catalog_find(s.model)->nIndep == 2)
          run_model<2>(st, s.model, s.params, s.sweep, request);
        else
          run_model<1>(st, s.model, s.params, s.sweep, request);
      }));
  fixed(benchmark::RegisterBenchmark((base + "/bare").c_str(), [s, bare](benchmark::State &st) {
    run_bare(st, s.params, s.sweep, bare);
  }));
}

// Macro so that each formula is passed as its own lambda type (and so inlined).
#define FM_PAIR(pair, value_fn, deriv_fn)                                                    \
  do {                                                                                       \
    add_pair(pair, "value", REQ_VALUE,                                                       \
             [](const double *p, double t, double *y, double *d) { value_fn(p, t, y, d); }); \
    add_pair(pair, "deriv", REQ_DERIV,                                                       \
             [](const double *p, double t, double *y, double *d) { deriv_fn(p, t, y, d); }); \
  } while (0)
#define FM_PAIR_VALUE(pair, value_fn)                                                        \
  add_pair(pair, "value", REQ_VALUE,                                                         \
           [](const double *p, double t, double *y, double *d) { value_fn(p, t, y, d); })

void register_pairs() {
  FM_PAIR((Pair{"Line", "Line", {0.5, 1.5}, {-5, 5}}), line_value, line_deriv);
  FM_PAIR((Pair{"Gauss1", "Gauss", {0.1, 4.0, 1.5, 6.0}, {0, 10}}), gauss_value<1>,
          gauss_deriv<1>);
  FM_PAIR((Pair{"Gauss10", "Gauss", gauss10_params(), {0, 10}}), gauss_value<10>,
          gauss_deriv<10>);
  FM_PAIR((Pair{"Lorentz", "Lorentz", {0.1, 4.0, 1.5, 6.0}, {0, 10}}), lorentz_value,
          lorentz_deriv);
  FM_PAIR((Pair{"GaussAmp", "GaussAmp", {0.1, 4.0, 1.5, 6.0}, {0, 10}}), gaussamp_value,
          gaussamp_deriv);
  FM_PAIR_VALUE((Pair{"Voigt5", "Voigt5", {0.1, 4.0, 2.0, 1.5, 0.8}, {0, 10}}), voigt5_value);
  FM_PAIR_VALUE((Pair{"PsdVoigt1", "PsdVoigt1", {0.1, 4.0, 2.0, 1.5, 0.4}, {0, 10}}),
                psdvoigt1_value);
  FM_PAIR((Pair{"PearsonVII", "PearsonVII", {0.1, 4.0, 2.0, 1.5, 2.5}, {0, 10}}),
          pearson7_value, pearson7_deriv);
  FM_PAIR((Pair{"Boltzman", "Boltzman", {0.0, 1.0, 5.0, 0.8}, {0, 10}}), boltzman_value,
          boltzman_deriv);
  FM_PAIR((Pair{"Hill", "Hill", {2.0, 3.0, 1.5}, {0.1, 10}}), hill_value, hill_deriv);
  FM_PAIR((Pair{"ExpDecay1", "ExpDecay1", {0.2, 0.5, 3.0, 1.2}, {0, 10}}), expdecay1_value,
          expdecay1_deriv);
  FM_PAIR((Pair{"ExpDec3", "ExpDec3", {0.2, 3.0, 0.5, 1.0, 2.0, 0.5, 6.0}, {0, 10}}),
          expdec3_value, expdec3_deriv);
  FM_PAIR((Pair{"SGompertz", "SGompertz", {2.0, 3.0, 0.8}, {0, 10}}), sgompertz_value,
          sgompertz_deriv);
  FM_PAIR((Pair{"Gauss2D", "Gauss2D", {0.1, 2.0, 5.0, 1.5, 3.5, 2.0}, {0, 10}}), gauss2d_value,
          gauss2d_deriv);
  FM_PAIR((Pair{"NormalCDF", "NormalCDF", {0.1, 2.0, 5.0, 1.5}, {0, 10}}), normalcdf_value,
          normalcdf_deriv);
}

// Models timed without a bare formula.
struct Subject {
  const char *name;
  std::vector<double> params;
  Sweep sweep;
};

const Subject kSubjects[] = {
    {"Poly5", {1, -2, 3, -0.5, 0.2, -0.1}, {-2, 2}},
    {"PWL3", {0.5, 1.5, 0.0, -1.0, 2.0, 0.7}, {-2, 4}},
    {"Asym2Sig", {0.1, 5.0, 2.0, 1.0, 0.5, 0.8}, {0, 10}},
    {"Pulse", {0.1, 1.0, 3.0, 0.5, 2.0, 2.5}, {0, 10}},
    {"Competition2", {1.0, 0.1, 4.0, 6.0, 0.3}, {0, 10}},
    {"Logistic", {0.1, 2.0, 3.0, 1.7}, {0.1, 10}},
    {"ExpDecay2", {0.2, 0.5, 3.0, 1.2, 1.0, 4.0}, {0, 10}},
    {"ExpAssoc", {0.1, 2.0, 1.5, 1.0, 4.0}, {0, 10}},
    {"Rational", {1.0, 0.5, 2.0, 0.3}, {0, 10}},
    {"PolyN", {1, -2, 3, -0.5, 0.2, -0.1, 0.05, 0.01, -0.02, 0.003}, {-2, 2}},
    {"Response2", {0.1, 2.0, 1.5, 3.0, 7.0, 1.2, 0.8}, {0, 10}},
    {"SRichards1", {2.0, 3.0, 0.5, 0.8}, {1, 10}},
    {"SWeibull2", {2.0, 0.5, 1.5, 0.3}, {0.1, 10}},
    {"MnMolecular", {2.0, 0.5, 0.4}, {0, 10}},
};

void register_all() {
  register_pairs();
  for (const Subject &s : kSubjects) {
    benchmark::RegisterBenchmark((std::string(s.name) + "/value").c_str(),
                                 [&s](benchmark::State &st) {
                                   run_model<1>(st, s.name, s.params, s.sweep, REQ_VALUE);
                                 });
    if (!fm_catalog_find(s.name)->derivatives) continue;  // value only: no derivative request
    benchmark::RegisterBenchmark((std::string(s.name) + "/deriv").c_str(),
                                 [&s](benchmark::State &st) {
                                   run_model<1>(st, s.name, s.params, s.sweep, REQ_DERIV);
                                 });
  }
}

const int kRegistered = (register_all(), 0);

}  // namespace
