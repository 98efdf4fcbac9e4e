// Peak shapes against what their parameters mean: the area parameter is the area under the
// peak (numerical integration over x), and PearsonVII's REQ_QUERY mask tells which moments are
// finite. Values at single points are rows in tests/data/cases/peaks_*.tsv.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

#include "support/model_call.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Area of y - p1 over x for a single-peak parameter vector, with x = c + s*tan(theta) so that
// power-law tails become a finite interval; composite midpoint rule on (-pi/2, pi/2).
double area(const std::string &model, const std::vector<double> &p, double c, double s) {
  const ModelFunction f = find_model(model);
  const int n = 100000;
  const double h = kPi / n;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double th = -kPi / 2 + (i + 0.5) * h;
    const double x[2] = {0.0, c + s * std::tan(th)};
    double y[4] = {0.0, 0.0, 0.0, 0.0}, d[8] = {};
    errno = 0;
    const int32_t rc = f(REQ_VALUE, nullptr, static_cast<int16_t>(p.size()), 0, 0,
                         p.data() - 1, 0, x, y, d);
    if (rc != 0) return NAN;
    const double cth = std::cos(th);
    if (y[1] != p[0]) sum += (y[1] - p[0]) * s / (cth * cth);
  }
  return sum * h;
}

struct AreaCase {
  const char *model;
  std::vector<double> p;
  double centre, scale, area, tol;
};

TEST(PeakShapes, AreaParameterIsTheArea) {
  const AreaCase cases[] = {
      {"Gaussian", {0.3, 1.0, 2.0, 0.8}, 1.0, 1.0, 2.0, 1e-9},
      {"GaussMod", {0.3, 2.0, 1.0, 0.5, 0.8}, 1.5, 1.0, 2.0, 1e-6},      // erfc fit
      {"GCAS", {0.3, 1.0, 2.0, 0.6, 0.3, 0.1}, 1.0, 1.0, 2.0, 1e-9},     // Hermite terms: 0
      {"ECS", {0.3, 1.0, 2.0, 0.6, 0.3, 0.1}, 1.0, 1.0, 2.0, 1e-9},
      {"LogNormal", {0.3, 1.0, 0.5, 2.0}, 1.0, 1.0, 2.0, 1e-9},          // x <= 0 fails: see below
      {"Voigt5", {0.3, 1.0, 2.0, 0.8, 0.5}, 1.0, 1.0, 2.0, 2e-4},        // rational approximation
      {"Voigt5", {0.3, 1.0, 2.0, 0.8, 0.02}, 1.0, 1.0, 2.0, 2e-4},
      {"PsdVoigt1", {0.3, 1.0, 2.0, 0.8, 0.4}, 1.0, 1.0, 2.0, 1e-8},
      {"PsdVoigt2", {0.3, 1.0, 2.0, 0.8, 0.5, 0.4}, 1.0, 1.0, 2.0, 1e-8},
      {"PearsonVII", {0.3, 1.0, 2.0, 0.8, 2.5}, 1.0, 1.0, 2.0, 1e-8},
      {"PearsonVII", {0.3, 1.0, 2.0, 0.8, 1.0}, 1.0, 1.0, 2.0, 1e-8},
      {"PearsonVII", {0.3, 1.0, 2.0, 0.8, 300.0}, 1.0, 1.0, 2.0, 1e-8},
      {"PearsonIV", {0.3, 1.0, 2.0, 0.8, 2.5, 1.5}, 0.5, 1.0, 2.0, 1e-8},
  };
  for (const auto &c : cases) {
    double a;
    if (std::string(c.model) == "LogNormal") {
      // Over x > 0 only: x = exp(t), dx = x dt, t over the real line by t = tan(theta).
      const ModelFunction f = find_model("LogNormal");
      const int n = 100000;
      const double h = kPi / n;
      double sum = 0.0;
      for (int i = 0; i < n; ++i) {
        const double th = -kPi / 2 + (i + 0.5) * h, t = std::tan(th), cth = std::cos(th);
        const double x[2] = {0.0, std::exp(t)};
        double y[4] = {}, d[8] = {};
        if (x[1] == 0.0 || !std::isfinite(x[1])) continue;
        errno = 0;  // the overflowing exp above must not reach the model
        ASSERT_EQ(f(REQ_VALUE, nullptr, 4, 0, 0, c.p.data() - 1, 0, x, y, d), 0);
        if (y[1] != c.p[0]) sum += (y[1] - c.p[0]) * x[1] / (cth * cth);
      }
      a = sum * h;
    } else {
      a = area(c.model, c.p, c.centre, c.scale);
    }
    EXPECT_NEAR(a, c.area, c.tol * c.area) << c.model << " shape " << c.p.back();
  }
}

TEST(PeakShapes, PearsonVIIMomentMask) {
  const struct {
    double m;
    int32_t mask;
  } cases[] = {{0.5, 0}, {0.75, 1}, {1.0, 1}, {1.2, 3}, {1.6, 7}, {2.2, 15}, {3.0, 31}};
  for (const auto &c : cases) {
    const Outcome r = Call("PearsonVII").params({0.2, 1.0, 2.0, 0.8, c.m}).x(1.3).run(REQ_QUERY);
    EXPECT_EQ(r.rc, QUERY_REPLY_MASK) << c.m;
    EXPECT_EQ(r.query_word(), c.mask) << c.m;
    EXPECT_FALSE(r.y_written(1));
  }
}

}  // namespace
