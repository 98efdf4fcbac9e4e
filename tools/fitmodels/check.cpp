#include "check.h"

#include <cstdio>
#include <random>

#include "catalog.h"
#include "catalog/derivative_check.h"

namespace fmtool {

int run_check(const std::vector<std::string> &names, int per_centre, double tolerance) {
  std::vector<const ModelInfo *> models;
  if (names.empty()) {
    for (const ModelInfo &m : catalog())
      if (m.analytic()) models.push_back(&m);
  } else {
    for (const std::string &s : names) models.push_back(find_model(s));
  }
  std::printf("%-18s %-12s %7s %8s  %s\n", "model", "worst", "points", "refused", "verdict");
  int bad = 0;
  for (const ModelInfo *m : models) {
    if (!m->analytic()) {
      std::printf("%-18s %-12s %7s %8s  %s\n", m->name.c_str(), "-", "-", "-",
                  "value only: nothing to check");
      continue;
    }
    fm::CheckOptions options;
    options.tolerance = tolerance;
    const fm::DerivativeChecker checker(m->function, options);
    fm::CheckResult result;
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int c = 0; c < m->info->point_count; ++c) {
      const fm_point &centre = m->info->points[c];
      for (int k = 0; k < per_centre; ++k) {
        // The centre itself, then points within 1 % of it in every coordinate.
        const double s = k == 0 ? 0.0 : 0.01;
        double x[4] = {0, centre.x[1] * (1 + s * u(rng)), centre.x[2] * (1 + s * u(rng)),
                       centre.x[3] * (1 + s * u(rng))};
        std::vector<double> p(static_cast<size_t>(centre.nparams) + 1, 0.0);
        for (int j = 1; j <= centre.nparams; ++j)
          p[static_cast<size_t>(j)] = centre.params[j] * (1 + s * u(rng));
        result.add(checker.probe(x, p.data(), centre.nparams), tolerance);
      }
    }
    const char *verdict = "ok";
    if (result.probed == 0) {
      verdict = "no generic point: not checked";
    } else if (result.refused.size() == static_cast<size_t>(result.probed)) {
      verdict = "FAILED: the model evaluates at none of its points";
      ++bad;
    } else if (!result.ok) {
      verdict = "FAILED: derivatives disagree with central differences";
      ++bad;
    }
    std::printf("%-18s %-12.3e %7d %8zu  %s\n", m->name.c_str(), result.worst, result.probed,
                result.refused.size(), verdict);
  }
  return bad;
}

}  // namespace fmtool
