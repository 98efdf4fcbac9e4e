// The built-in starting values through the public headers: every fittable model of the catalogue
// gets finite, deterministic estimates that keep the values the host knows; bad input is refused
// without a crash; a batch estimates each fit's own starts; redundant parameters are found.
// (How well the estimates recover the truth is the recovery benchmark's concern: bench/.)
#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fit_support.h"
#include "fitmodels_catalog.h"
#include "fitmodels_estimate.h"

namespace {

bool value_at(const fm_model_info *info, const fm_point &pt, const double *x, double &y) {
  std::vector<double> out(static_cast<size_t>(pt.nparams) + 4), d(static_cast<size_t>(pt.nparams) + 1);
  double xb[4] = {0, 0, 0, 0};
  for (int k = 0; k < info->nIndep; ++k) xb[k + 1] = x[k];
  errno = 0;
  const int32_t rc = fm_catalog_function(info)(REQ_VALUE, nullptr, static_cast<int16_t>(pt.nparams),
                                               0, 0, pt.params, 0, xb, out.data(), d.data());
  y = out[1];
  return rc == 0 && std::isfinite(y) && y != MISSING_VALUE;
}

// Noise-free points around the generic point's abscissa (a grid for surfaces), those where the
// model evaluates.
fittest::Points around(const fm_model_info *info, const fm_point &pt) {
  fittest::Points p;
  p.nIndep = info->nIndep;
  const int side = info->nIndep == 1 ? 40 : 7;
  const int count = info->nIndep == 1 ? 40 : (info->nIndep == 2 ? 49 : 343);
  for (int i = 0; i < count; ++i) {
    double x[3] = {0, 0, 0};
    int r = i;
    for (int k = 0; k < info->nIndep; ++k) {
      const double c = pt.x[k + 1], h = 0.5 * std::max(1.0, std::fabs(c));
      x[k] = c - h + 2 * h * (r % side) / (side - 1);
      r /= side;
    }
    double y;
    if (!value_at(info, pt, x, y)) continue;
    for (int k = 0; k < info->nIndep; ++k) p.x.push_back(x[k]);
    p.y.push_back(y);
  }
  return p;
}

bool fittable(const fm_model_info &m) {
  return m.start != FM_START_NONE && m.shape != FM_SHAPE_PLACEHOLDER &&
         m.shape != FM_SHAPE_ERROR_TEST && m.point_count > 0;
}

TEST(Estimate, EveryFittableModelGetsFiniteDeterministicStartsKeepingKnownValues) {
  size_t count = 0;
  const fm_model_info *all = fm_catalog(&count);
  int models = 0;
  for (size_t i = 0; i < count; ++i) {
    const fm_model_info &m = all[i];
    if (!fittable(m)) continue;
    SCOPED_TRACE(m.name);
    const fm_point &pt = m.points[0];
    const fittest::Points pts = around(&m, pt);
    ASSERT_GE(pts.y.size(), static_cast<size_t>(pt.nparams) + 2);
    const fmfit_data data = pts.data();
    const fmfit_model model{m.name, nullptr, nullptr, m.nIndep, static_cast<int16_t>(pt.nparams), 0};
    const size_t n = static_cast<size_t>(pt.nparams);
    std::vector<double> a(n, NAN), b(n, NAN);
    ASSERT_EQ(fmfit_estimate(nullptr, &model, static_cast<int16_t>(n), &data, a.data()), 0);
    ASSERT_EQ(fmfit_estimate(nullptr, &model, static_cast<int16_t>(n), &data, b.data()), 0);
    for (size_t j = 0; j < n; ++j) {
      EXPECT_TRUE(std::isfinite(a[j])) << "parameter " << j + 1;
      EXPECT_EQ(std::memcmp(&a[j], &b[j], sizeof(double)), 0) << "parameter " << j + 1;
    }
    // The last parameter known: kept to the bit, the others estimated around it.
    std::vector<uint8_t> known(n, 0);
    std::vector<double> values(n, 0.0), c(n, NAN);
    known[n - 1] = 1;
    values[n - 1] = pt.params[n];
    fmfit_estimate_known k{sizeof k, known.data(), values.data()};
    ASSERT_EQ(fmfit_estimate(&k, &model, static_cast<int16_t>(n), &data, c.data()), 0);
    EXPECT_EQ(std::memcmp(&c[n - 1], &pt.params[n], sizeof(double)), 0);
    ++models;
  }
  EXPECT_GE(models, 250);
}

// One model of every start kind: from noise-free points, the estimates are the curve.
TEST(Estimate, EachKindReproducesANoiseFreeCurve) {
  std::ifstream in(FITMODELS_TEST_FIT_DATA "/estimate_cases.tsv");
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = fittest::split(line, '\t');
    ASSERT_EQ(f.size(), 4u) << line;
    SCOPED_TRACE("case " + f[0]);
    const fm_model_info *info = fm_catalog_find(f[1].c_str());
    ASSERT_NE(info, nullptr);
    const std::vector<double> truth = fittest::numbers(f[3], NAN);
    std::vector<double> par(truth.size() + 1);
    std::copy(truth.begin(), truth.end(), par.begin() + 1);
    const fm_point pt{{0, 0, 0, 0}, static_cast<int>(truth.size()), par.data()};
    const std::vector<std::string> axes = fittest::split(f[2], ',');
    ASSERT_EQ(axes.size(), static_cast<size_t>(info->nIndep));
    std::vector<std::vector<double>> grid;
    for (const std::string &a : axes) {
      const std::vector<double> r = fittest::numbers([&] {
        std::string t = a;
        std::replace(t.begin(), t.end(), ':', ',');
        return t;
      }(), NAN);
      ASSERT_EQ(r.size(), 3u);
      std::vector<double> g;
      for (int i = 0; i < static_cast<int>(r[2]); ++i) g.push_back(r[0] + (r[1] - r[0]) * i / (r[2] - 1));
      grid.push_back(g);
    }
    fittest::Points pts;
    pts.nIndep = info->nIndep;
    const size_t inner = grid.size() > 1 ? grid[1].size() : 1;
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (size_t i = 0; i < grid[0].size(); ++i)
      for (size_t k = 0; k < inner; ++k) {
        const double x[3] = {grid[0][i], grid.size() > 1 ? grid[1][k] : 0, 0};
        double y;
        ASSERT_TRUE(value_at(info, pt, x, y));
        for (int d = 0; d < info->nIndep; ++d) pts.x.push_back(x[d]);
        pts.y.push_back(y);
        lo = std::min(lo, y), hi = std::max(hi, y);
      }
    const fmfit_data data = pts.data();
    const fmfit_model model{info->name, nullptr, nullptr, info->nIndep,
                            static_cast<int16_t>(truth.size()), 0};
    std::vector<double> start(truth.size());
    ASSERT_EQ(fmfit_estimate(nullptr, &model, model.nParams, &data, start.data()), 0);
    std::vector<double> est(start.size() + 1);
    std::copy(start.begin(), start.end(), est.begin() + 1);
    const fm_point at{{0, 0, 0, 0}, static_cast<int>(start.size()), est.data()};
    for (size_t i = 0; i < pts.y.size(); ++i) {
      double y;
      ASSERT_TRUE(value_at(info, at, &pts.x[i * static_cast<size_t>(info->nIndep)], y));
      EXPECT_NEAR(y, pts.y[i], 1e-6 * (hi - lo)) << "point " << i + 1;
    }
    ++rows;
  }
  EXPECT_EQ(rows, 17);
}

// Bad input ends in a return code, never a crash, and leaves the starts alone.
TEST(Estimate, RefusesWhatItCannotEstimate) {
  const std::vector<double> x = {1, 2, 3, 4, 5}, y = {1, 3, 2, 5, 4};
  const std::vector<double> bad_y = {1, NAN, 2, 5, 4};
  const fmfit_data data{5, x.data(), y.data(), nullptr};
  const fmfit_data empty{0, x.data(), y.data(), nullptr};
  const fmfit_data nan_data{5, x.data(), bad_y.data(), nullptr};
  const fmfit_data two{2, x.data(), y.data(), nullptr};
  const fmfit_model line{"Line", nullptr, nullptr, 1, 2, 0};
  const fmfit_model gauss{"Gauss", nullptr, nullptr, 1, 4, 0};
  const fmfit_model unknown{"NoSuchModel", nullptr, nullptr, 1, 2, 0};
  const fmfit_model partial_term{"Gauss", nullptr, nullptr, 1, 3, 0};
  const fmfit_model nothing{nullptr, nullptr, nullptr, 1, 2, 0};
  struct Case {
    const char *what;
    const fmfit_model *model;
    int16_t n;
    const fmfit_data *data;
  } cases[] = {
      {"no model", nullptr, 2, &data},       {"no data", &line, 2, nullptr},
      {"no points", &line, 2, &empty},       {"a NaN", &line, 2, &nan_data},
      {"unknown model", &unknown, 2, &data}, {"a partial term", &partial_term, 3, &data},
      {"neither name nor function", &nothing, 2, &data},
      {"fewer points than parameters", &gauss, 4, &two},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    double start[4] = {7, 7, 7, 7};
    EXPECT_NE(fmfit_estimate(nullptr, c.model, c.n, c.data, start), 0);
    for (double v : start) EXPECT_EQ(v, 7.0);
  }
  EXPECT_NE(fmfit_estimate(nullptr, &line, 2, &data, nullptr), 0);
  // Models with nothing to fit: the placeholders and the error-path test model.
  size_t count = 0;
  const fm_model_info *all = fm_catalog(&count);
  for (size_t i = 0; i < count; ++i) {
    if (all[i].start != FM_START_NONE) continue;
    SCOPED_TRACE(all[i].name);
    const fmfit_model m{all[i].name, nullptr, nullptr, all[i].nIndep, all[i].row_params, 0};
    std::vector<double> start(static_cast<size_t>(std::max<int>(all[i].row_params, 1)));
    EXPECT_NE(fmfit_estimate(nullptr, &m, std::max<int16_t>(all[i].row_params, 1), &data, start.data()), 0);
  }
}

// Two data sets of one model in one batch, no starts: each fit finds its own parameters.
TEST(Estimate, BatchFitsEstimateEachFitsOwnStarts) {
  struct Set {
    const char *model;
    int nIndep;
    std::vector<std::vector<double>> truth;  // per fit
  } sets[] = {
      {"Gauss", 1, {{0.5, 2.0, 0.8, 3.0}, {0.1, 7.0, 1.5, -2.0}}},
      {"Boltzman", 1, {{1.0, 5.0, 3.0, 0.6}, {4.0, -1.0, 6.0, 1.2}}},
      {"Gauss2D", 2, {{0.2, 2.0, 1.0, 0.7, -1.0, 0.9}, {1.0, -1.5, -1.0, 1.2, 1.5, 0.6}}},
  };
  for (const Set &s : sets) {
    SCOPED_TRACE(s.model);
    const fm_model_info *info = fm_catalog_find(s.model);
    ASSERT_NE(info, nullptr);
    const size_t np = s.truth[0].size();
    std::vector<double> x, y;
    std::vector<size_t> offsets = {0};
    for (const auto &p : s.truth) {
      fm_point pt{};
      std::vector<double> par(np + 1);
      for (size_t j = 0; j < np; ++j) par[j + 1] = p[j];
      pt.nparams = static_cast<int>(np);
      pt.params = par.data();
      // 60 points over [-3, 10], or a 13 x 13 grid over [-3, 3]^2.
      const int side = s.nIndep == 1 ? 60 : 13;
      for (int i = 0; i < (s.nIndep == 1 ? side : side * side); ++i) {
        double xi[3] = {-3 + 6.0 * (i % side) / (side - 1), -3 + 6.0 * (i / side) / (side - 1), 0};
        if (s.nIndep == 1) xi[0] = -3 + 13.0 * i / (side - 1);
        double v;
        ASSERT_TRUE(value_at(info, pt, xi, v));
        for (int k = 0; k < s.nIndep; ++k) x.push_back(xi[k]);
        y.push_back(v);
      }
      offsets.push_back(y.size());
    }
    fmfit_batch b{};
    b.count = s.truth.size();
    b.offsets = offsets.data();
    b.x = x.data();
    b.y = y.data();
    const fmfit_model model{s.model, nullptr, nullptr, static_cast<int16_t>(s.nIndep),
                            static_cast<int16_t>(np), 0};
    fmfit_options o;
    fmfit_options_init(&o);
    o.threads = 2;
    std::vector<fmfit_summary> sums(b.count);
    std::vector<double> params(b.count * np);
    fmfit_output out{};
    out.params = params.data();
    EXPECT_EQ(fmfit_batch_fit(&model, &b, &o, sums.data(), &out), FMFIT_CONVERGED);
    // The curves, not the parameters: a sigmoid's plateaus swap with the sign of its width.
    for (size_t f = 0; f < b.count; ++f) {
      std::vector<double> par(np + 1);
      for (size_t j = 0; j < np; ++j) par[j + 1] = params[f * np + j];
      const fm_point fitted{{0, 0, 0, 0}, static_cast<int>(np), par.data()};
      for (size_t i = offsets[f]; i < offsets[f + 1]; ++i) {
        double v;
        ASSERT_TRUE(value_at(info, fitted, &x[i * static_cast<size_t>(s.nIndep)], v));
        EXPECT_NEAR(v, y[i], 1e-6) << "fit " << f + 1 << " point " << i - offsets[f] + 1;
      }
    }
  }
}

// A parameterisation with a redundant parameter: the offset of x beside the amplitude it only
// rescales is held; a model without one holds nothing.
TEST(Estimate, HoldsWhatTheDataDoNotDetermine) {
  struct Case {
    const char *model;
    std::vector<double> truth;
    std::vector<uint8_t> held;
  } cases[] = {
      {"ExpDecay1", {0.5, 1.0, 3.0, 2.0}, {0, 1, 0, 0}},
      {"Gauss", {0.5, 4.0, 1.2, 3.0}, {0, 0, 0, 0}},
      {"Rational", {1.0, 2.0, 0.5, 1.5}, {1, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.model);
    const fm_model_info *info = fm_catalog_find(c.model);
    ASSERT_NE(info, nullptr);
    std::vector<double> par(c.truth.size() + 1);
    for (size_t j = 0; j < c.truth.size(); ++j) par[j + 1] = c.truth[j];
    const fm_point pt{{0, 0, 0, 0}, static_cast<int>(c.truth.size()), par.data()};
    std::vector<double> x, y;
    for (int i = 0; i < 40; ++i) {
      double xi[3] = {1 + 0.2 * i, 0, 0}, v;
      ASSERT_TRUE(value_at(info, pt, xi, v));
      x.push_back(xi[0]);
      y.push_back(v + 1e-3 * std::sin(3.0 * i));
    }
    const fmfit_data data{y.size(), x.data(), y.data(), nullptr};
    const fmfit_model model{c.model, nullptr, nullptr, 1, static_cast<int16_t>(c.truth.size()), 0};
    std::vector<double> start(c.truth.size());
    ASSERT_EQ(fmfit_estimate(nullptr, &model, model.nParams, &data, start.data()), 0);
    std::vector<uint8_t> held(c.truth.size(), 0);
    int want = 0;
    for (uint8_t h : c.held) want += h;
    EXPECT_EQ(fmfit_estimate_holds(&model, model.nParams, &data, start.data(), held.data()), want);
    EXPECT_EQ(held, c.held);
    fmfit_constraints cons{held.data(), nullptr, nullptr};
    fmfit_summary s;
    EXPECT_EQ(fmfit_fit(&model, &data, start.data(), &cons, nullptr, &s, nullptr), FMFIT_CONVERGED)
        << s.message;
  }
}

}  // namespace
