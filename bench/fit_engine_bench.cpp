// Throughput of the fitting engine in process, on the problems of bench/fit_engine.py:
//   fit_engine_bench DIR [PROBLEM ...]
// For each problem it generates the data (fixed seeds), writes them to DIR/PROBLEM/ as raw
// doubles for the peers to fit the same numbers, fits them with 1 and 2 threads and prints one
// line per run:
//   PROBLEM threads=T fits=N seconds=S fits_per_s=R converged=C median_rss=Q
// Problems: gauss2d_5x5 (10^5 fits of Gauss2D on 5x5 points, starts within 10 % of the truth),
// logistic_plate (10^5 four-parameter logistic curves of 12 doses), gauss10_1e5 (one fit of 10
// Gauss peaks to 10^5 points), gauss2d_1e6 (one Gauss2D fit to 10^6 points), logistic_profile
// (profile-likelihood intervals of 2000 logistic curves, one thread).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <vector>

#include "fitmodels_fit.h"

namespace {

struct Set {
  std::string model;
  int nIndep = 1, nParams = 0;
  std::vector<double> x, y, start, truth;
  std::vector<size_t> offsets{0};
  size_t count() const { return offsets.size() - 1; }
};

double eval(ModelFunction f, int np, const double *p0, const double *x, int ni) {
  std::vector<double> p(static_cast<size_t>(np) + 1), y(static_cast<size_t>(np) + 4);
  std::copy(p0, p0 + np, p.begin() + 1);
  double xb[4] = {0, 0, 0, 0};
  for (int k = 0; k < ni; ++k) xb[k + 1] = x[k];
  f(REQ_VALUE, nullptr, static_cast<int16_t>(np), 0, 0, p.data(), 0, xb, y.data(), nullptr);
  return y[1];
}

// Adds one data set: points xs (nIndep each), the model at truth plus noise, a start within
// +-jitter of the truth.
void add(Set &s, std::mt19937_64 &rng, const std::vector<double> &xs,
         const std::vector<double> &truth, double noise, double jitter) {
  ModelFunction f = get_funx(s.model.c_str());
  std::normal_distribution<double> e(0.0, noise);
  std::uniform_real_distribution<double> j(1 - jitter, 1 + jitter);
  const size_t n = xs.size() / static_cast<size_t>(s.nIndep);
  for (size_t i = 0; i < n; ++i) {
    const double *xi = &xs[i * static_cast<size_t>(s.nIndep)];
    s.x.insert(s.x.end(), xi, xi + s.nIndep);
    s.y.push_back(eval(f, s.nParams, truth.data(), xi, s.nIndep) + e(rng));
  }
  s.offsets.push_back(s.y.size());
  for (double t : truth) s.start.push_back(t * j(rng));
  s.truth.insert(s.truth.end(), truth.begin(), truth.end());
}

// FIT_ENGINE_BENCH_SCALE=f scales the counts of the many-fit problems (for profiling).
int scaled(int n) {
  const char *f = std::getenv("FIT_ENGINE_BENCH_SCALE");
  return f ? std::max(1, static_cast<int>(n * std::atof(f))) : n;
}

Set make(const std::string &name) {
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> u(0, 1);
  Set s;
  if (name == "gauss2d_5x5") {
    s.model = "Gauss2D";
    s.nIndep = 2;
    s.nParams = 6;
    std::vector<double> grid;
    for (int i = 0; i < 5; ++i)
      for (int k = 0; k < 5; ++k) grid.insert(grid.end(), {double(i), double(k)});
    for (int c = 0; c < scaled(100000); ++c)
      add(s, rng, grid,
          {1 + u(rng), 10 + 10 * u(rng), 1.5 + u(rng), 0.8 + 0.4 * u(rng), 1.5 + u(rng),
           0.8 + 0.4 * u(rng)},
          0.2, 0.1);
  } else if (name == "logistic_plate" || name == "logistic_profile") {
    s.model = "Logistic";
    s.nParams = 4;
    std::vector<double> doses;
    for (int i = 0; i < 12; ++i) doses.push_back(std::pow(10.0, -3 + 5.0 * i / 11));
    const int curves = scaled(name == "logistic_plate" ? 100000 : 2000);
    for (int c = 0; c < curves; ++c)
      add(s, rng, doses, {100 - 10 * u(rng), 5 * u(rng), 0.05 + 0.5 * u(rng), 0.8 + u(rng)},
          2.0, 0.1);
  } else if (name == "gauss10_1e5") {
    s.model = "Gauss";
    s.nParams = 31;
    std::vector<double> xs;
    for (int i = 0; i < 100000; ++i) xs.push_back(100.0 * i / 99999);
    std::vector<double> t{1.0};
    for (int k = 0; k < 10; ++k) t.insert(t.end(), {5 + 10.0 * k, 2 + 0.2 * k, 20 + 2.0 * k});
    add(s, rng, xs, t, 0.05, 0.02);
  } else if (name == "gauss2d_1e6") {
    s.model = "Gauss2D";
    s.nIndep = 2;
    s.nParams = 6;
    std::vector<double> grid;
    for (int i = 0; i < 1000; ++i)
      for (int k = 0; k < 1000; ++k) grid.insert(grid.end(), {i / 100.0, k / 100.0});
    add(s, rng, grid, {1, 10, 4.5, 1.2, 5.5, 1.8}, 0.2, 0.1);
  }
  return s;
}

void dump(const std::string &path, const void *data, size_t bytes) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data, 1, bytes, f) != bytes) {
    std::fprintf(stderr, "fit_engine_bench: cannot write %s\n", path.c_str());
    std::exit(2);
  }
  std::fclose(f);
}

void write(const std::string &dir, const std::string &name, const Set &s) {
  const std::string d = dir + "/" + name;
  mkdir(dir.c_str(), 0755);
  mkdir(d.c_str(), 0755);
  dump(d + "/x.bin", s.x.data(), s.x.size() * sizeof(double));
  dump(d + "/y.bin", s.y.data(), s.y.size() * sizeof(double));
  dump(d + "/start.bin", s.start.data(), s.start.size() * sizeof(double));
  std::vector<double> off(s.offsets.begin(), s.offsets.end());
  dump(d + "/offsets.bin", off.data(), off.size() * sizeof(double));
  FILE *f = std::fopen((d + "/meta.txt").c_str(), "w");
  std::fprintf(f, "model %s\nnIndep %d\nnParams %d\ncount %zu\n", s.model.c_str(), s.nIndep,
               s.nParams, s.count());
  std::fclose(f);
}

// CPU seconds of the whole process (all threads): on a shared machine the wall clock measures
// the other users too.
double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

void run(const std::string &name, const Set &s, int threads, bool profile) {
  fmfit_model m{s.model.c_str(), nullptr, nullptr, 0, static_cast<int16_t>(s.nParams), 0};
  fmfit_batch b{};
  b.count = s.count();
  b.offsets = s.offsets.data();
  b.x = s.x.data();
  b.y = s.y.data();
  b.start = s.start.data();
  b.per_fit = FMFIT_PER_FIT_START;
  fmfit_options o;
  fmfit_options_init(&o);
  o.threads = threads;
  o.profile = profile;
  // SciPy's curve_fit tolerances unless FIT_ENGINE_BENCH_TOL says otherwise, so that both sides
  // stop by the same rule.
  const char *tol = std::getenv("FIT_ENGINE_BENCH_TOL");
  o.ftol = o.xtol = tol ? std::atof(tol) : 1.49012e-8;
  std::vector<fmfit_summary> sum(b.count);
  const size_t np = static_cast<size_t>(s.nParams);
  std::vector<double> p(b.count * np), se(b.count * np), lo, hi;
  fmfit_output out{p.data(), se.data(), nullptr, nullptr, nullptr, nullptr, nullptr};
  if (profile) {
    lo.resize(b.count * np);
    hi.resize(b.count * np);
    out.ci_lower = lo.data();
    out.ci_upper = hi.data();
  }
  const auto t0 = std::chrono::steady_clock::now();
  const double c0 = cpu_seconds();
  fmfit_batch_fit(&m, &b, &o, sum.data(), &out);
  const double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = cpu_seconds() - c0;
  size_t ok = 0;
  double passes = 0, jpasses = 0;
  std::vector<double> rss;
  for (const fmfit_summary &x : sum) {
    ok += x.status == FMFIT_CONVERGED;
    rss.push_back(x.chi2);
    passes += x.model_evaluations;
    jpasses += x.jacobian_evaluations;
  }
  std::nth_element(rss.begin(), rss.begin() + rss.size() / 2, rss.end());
  std::printf("%s threads=%d fits=%zu seconds=%.6f fits_per_s=%.1f cpu_seconds=%.6f "
              "fits_per_cpu_s=%.1f converged=%zu median_rss=%.6g passes=%.1f jacobians=%.1f\n",
              name.c_str(), threads, b.count, sec, b.count / sec, cpu, b.count / cpu, ok,
              rss[rss.size() / 2], passes / b.count, jpasses / b.count);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fit_engine_bench DIR [PROBLEM ...]\n");
    return 2;
  }
  std::vector<std::string> names(argv + 2, argv + argc);
  if (names.empty())
    names = {"gauss2d_5x5", "logistic_plate", "gauss10_1e5", "gauss2d_1e6", "logistic_profile"};
  for (const std::string &name : names) {
    const Set s = make(name);
    if (s.model.empty()) {
      std::fprintf(stderr, "fit_engine_bench: unknown problem %s\n", name.c_str());
      return 2;
    }
    write(argv[1], name, s);
    if (name == "logistic_profile") {
      run(name, s, 1, true);
      continue;
    }
    for (int threads : {1, 2}) run(name, s, threads, false);
  }
  return 0;
}
