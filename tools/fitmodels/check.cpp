#include "check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "catalog.h"

namespace fmtool {
namespace {

struct Centre {
  const char *name;
  double x[4];
  int n;
  double p[64];
};
const Centre kCentres[] = {
#include "model_points.inc"
};

struct Row {
  double worst = 0;
  int tried = 0, refused = 0;
};

// One point: false when the model refuses it (value, derivatives or a difference step fails).
bool check_point(const ModelInfo &m, int n, std::vector<double> p, const double *x, Row &row) {
  std::vector<double> y(static_cast<size_t>(n) + 4), d(static_cast<size_t>(n) + 1);
  if (!model_value(m, n, p.data(), x, y.data())) return false;
  const double y0 = y[1];
  if (!model_derivs(m, n, p.data(), x, d.data())) return false;
  double worst = 0;
  for (int j = 1; j <= n; ++j) {
    const double saved = p[static_cast<size_t>(j)], h = 1e-6 * std::max(1.0, std::fabs(saved));
    p[static_cast<size_t>(j)] = saved + h;
    const bool okp = model_value(m, n, p.data(), x, y.data());
    const double yp = y[1];
    p[static_cast<size_t>(j)] = saved - h;
    const bool okm = model_value(m, n, p.data(), x, y.data());
    const double ym = y[1];
    p[static_cast<size_t>(j)] = saved;
    if (!okp || !okm) return false;
    const double numeric = (yp - ym) / (2 * h), a = d[static_cast<size_t>(j)];
    worst = std::max(worst, std::fabs(a - numeric) / (std::fabs(a) + std::fabs(numeric) + std::fabs(y0) + 1.0));
  }
  row.worst = std::max(row.worst, worst);
  return true;
}

}  // namespace

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
                  m->has_meta ? "value only: nothing to check" : "no metadata: not checked");
      continue;
    }
    Row row;
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    bool any_centre = false;
    for (const Centre &c : kCentres) {
      if (lower(c.name) != lower(m->name) && lower(c.name) != lower(m->export_name)) continue;
      any_centre = true;
      for (int k = 0; k < per_centre; ++k) {
        // The centre itself, then points within 1 % of it in every coordinate.
        const double s = k == 0 ? 0.0 : 0.01;
        double x[4] = {0, c.x[1] * (1 + s * u(rng)), c.x[2] * (1 + s * u(rng)), c.x[3] * (1 + s * u(rng))};
        std::vector<double> p(static_cast<size_t>(c.n) + 1, 0.0);
        for (int j = 1; j <= c.n; ++j) p[static_cast<size_t>(j)] = c.p[j] * (1 + s * u(rng));
        ++row.tried;
        if (!check_point(*m, c.n, p, x, row)) ++row.refused;
      }
    }
    const char *verdict = "ok";
    if (!any_centre) {
      verdict = "no generic point: not checked";
    } else if (row.refused == row.tried) {
      verdict = "FAILED: the model evaluates at none of its points";
      ++bad;
    } else if (!(row.worst <= tolerance)) {
      verdict = "FAILED: derivatives disagree with central differences";
      ++bad;
    }
    std::printf("%-18s %-12.3e %7d %8d  %s\n", m->name.c_str(), row.worst, row.tried, row.refused,
                verdict);
  }
  return bad;
}

}  // namespace fmtool
