// Cost of one model call per data point, as a fitter's inner loop pays it: a value request and
// a derivative request for representative models of each family, over a sweep of x (256 points
// per iteration; items/s is calls per second).
#include <benchmark/benchmark.h>

#include <vector>

#include "fitmodels.h"

namespace {

struct Subject {
  const char *name;
  std::vector<double> params;  // p1..pn
  double x0, x1;               // x sweep
};

void run_model(benchmark::State &state, const Subject &s, int32_t request) {
  ModelFunction f = get_funx(s.name);
  if (f == nullptr) {
    state.SkipWithError("model not registered");
    return;
  }
  std::vector<double> p(s.params.size() + 1, 0.0);
  for (std::size_t i = 0; i < s.params.size(); ++i) p[i + 1] = s.params[i];
  const int16_t n = static_cast<int16_t>(s.params.size());
  double x[2] = {0.0, s.x0}, y[64], d[64];
  const int kPoints = 256;
  const double step = (s.x1 - s.x0) / kPoints;
  for (auto _ : state) {
    for (int i = 0; i < kPoints; ++i) {
      x[1] = s.x0 + step * i;
      benchmark::DoNotOptimize(f(request, nullptr, n, 0, 0, p.data(), 0, x, y, d));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}

const Subject kSubjects[] = {
    {"Line", {0.5, 1.5}, -5, 5},
    {"Poly5", {1, -2, 3, -0.5, 0.2, -0.1}, -2, 2},
    {"PWL3", {0.5, 1.5, 0.0, -1.0, 2.0, 0.7}, -2, 4},
    {"Gauss", {0.1, 4.0, 1.5, 6.0, 6.0, 1.0, 3.0}, 0, 10},  // two peaks
    {"Lorentz", {0.1, 4.0, 1.5, 6.0, 6.0, 1.0, 3.0}, 0, 10},
    {"Asym2Sig", {0.1, 5.0, 2.0, 1.0, 0.5, 0.8}, 0, 10},
    {"Pulse", {0.1, 1.0, 3.0, 0.5, 2.0, 2.5}, 0, 10},
    {"Boltzman", {0.0, 1.0, 5.0, 0.8}, 0, 10},
    {"Competition2", {1.0, 0.1, 4.0, 6.0, 0.3}, 0, 10},
    {"Logistic", {0.1, 2.0, 3.0, 1.7}, 0.1, 10},
    {"ExpDecay2", {0.2, 0.5, 3.0, 1.2, 1.0, 4.0}, 0, 10},
    {"ExpAssoc", {0.1, 2.0, 1.5, 1.0, 4.0}, 0, 10},
    {"Rational", {1.0, 0.5, 2.0, 0.3}, 0, 10},
    {"PolyN", {1, -2, 3, -0.5, 0.2, -0.1, 0.05, 0.01, -0.02, 0.003}, -2, 2},
    {"Hill", {2.0, 3.0, 1.5}, 0.1, 10},
    {"Response2", {0.1, 2.0, 1.5, 3.0, 7.0, 1.2, 0.8}, 0, 10},
    {"SGompertz", {2.0, 3.0, 0.8}, 0, 10},
    {"SRichards1", {2.0, 3.0, 0.5, 0.8}, 1, 10},
    {"SWeibull2", {2.0, 0.5, 1.5, 0.3}, 0.1, 10},
    {"MnMolecular", {2.0, 0.5, 0.4}, 0, 10},
};

void register_all() {
  for (const Subject &s : kSubjects) {
    benchmark::RegisterBenchmark((std::string(s.name) + "/value").c_str(),
                                 [&s](benchmark::State &st) { run_model(st, s, REQ_VALUE); });
    benchmark::RegisterBenchmark((std::string(s.name) + "/deriv").c_str(),
                                 [&s](benchmark::State &st) { run_model(st, s, REQ_DERIV); });
  }
}

const int kRegistered = (register_all(), 0);

}  // namespace
