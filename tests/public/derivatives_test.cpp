// One table-driven check of analytic against numeric derivatives over every registered model.
//
// The points live in tests/data/derivative_points/*.tsv, one line per point:
//   Name  x  p1 p2 ... pn        (x may be "x1,x2" for models reading x[2]; nParams = n)
//   Name  value-only             (the model has no derivative code)
// Lines starting with '#' are comments. Every registered model must appear in the tables.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/model_call.h"
#include "support/row_list.h"
#include "support/tolerance.h"

namespace {

struct Point {
  std::string model;
  std::string where;  // file:line
  bool value_only = false;
  double x1 = 0.0, x2 = 0.0;
  std::vector<double> p;
};

std::vector<Point> read_points() {
  std::vector<Point> points;
  const std::string dir = FITMODELS_DERIVATIVE_POINTS;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return points;
  std::vector<std::string> files;
  while (dirent *e = readdir(d)) {
    std::string f = e->d_name;
    if (f.size() > 4 && f.compare(f.size() - 4, 4, ".tsv") == 0) files.push_back(f);
  }
  closedir(d);
  std::sort(files.begin(), files.end());
  for (const auto &f : files) {
    std::ifstream in(dir + "/" + f);
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
      ++lineno;
      if (line.empty() || line[0] == '#') continue;
      std::istringstream ss(line);
      Point pt;
      pt.where = f + ":" + std::to_string(lineno);
      std::string xs;
      if (!(ss >> pt.model >> xs)) continue;
      if (xs == "value-only") {
        pt.value_only = true;
      } else {
        const auto comma = xs.find(',');
        pt.x1 = std::stod(xs.substr(0, comma));
        if (comma != std::string::npos) pt.x2 = std::stod(xs.substr(comma + 1));
        double v;
        while (ss >> v) pt.p.push_back(v);
      }
      points.push_back(pt);
    }
  }
  return points;
}

const std::vector<Point> &points() {
  static const std::vector<Point> all = read_points();
  return all;
}

void PrintTo(const Point &pt, std::ostream *os) { *os << pt.where << " " << pt.model; }

class DerivativeCheck : public ::testing::TestWithParam<Point> {};

TEST_P(DerivativeCheck, AnalyticMatchesCentralDifferences) {
  const Point &pt = GetParam();
  ModelFunction f = find_model(pt.model);
  ASSERT_NE(f, nullptr) << pt.where << ": no model " << pt.model;
  if (pt.value_only) {
    // No derivative code: a derivative-only request writes no derivative.
    Outcome r = Call(f).params({1, 1, 1, 1, 1, 1, 1, 1, 1, 1}).x(1.0).run(REQ_DERIV);
    EXPECT_TRUE(r.no_deriv_written()) << pt.where;
    return;
  }
  const int n = static_cast<int>(pt.p.size());
  Outcome a = Call(f).params(pt.p).x(pt.x1, pt.x2).run(REQ_DERIV);
  ASSERT_EQ(a.rc, 0) << pt.where;
  Outcome v = Call(f).params(pt.p).x(pt.x1, pt.x2).run(REQ_VALUE);
  ASSERT_EQ(v.rc, 0) << pt.where;
  const double y = v.y[1];
  EXPECT_TRUE(derivatives_agree(a.y[1], y, 0.0)) << pt.where << ": y from the derivative "
                                                 << "request " << a.y[1] << " vs value " << y;
  for (int i = 1; i <= n; ++i) {
    const double h = difference_step(pt.p[i - 1]);
    std::vector<double> up = pt.p, down = pt.p;
    up[i - 1] += h;
    down[i - 1] -= h;
    Outcome yu = Call(f).params(up).x(pt.x1, pt.x2).run(REQ_VALUE);
    Outcome yd = Call(f).params(down).x(pt.x1, pt.x2).run(REQ_VALUE);
    ASSERT_EQ(yu.rc, 0) << pt.where << " p" << i << "+h";
    ASSERT_EQ(yd.rc, 0) << pt.where << " p" << i << "-h";
    const double numeric = (yu.y[1] - yd.y[1]) / ((pt.p[i - 1] + h) - (pt.p[i - 1] - h));
    EXPECT_TRUE(derivatives_agree(a.d[i], numeric, y))
        << pt.where << ": d" << i << " analytic " << a.d[i] << " numeric " << numeric;
  }
  EXPECT_FALSE(a.d_written(n + 1)) << pt.where << ": wrote deriv beyond nParams";
}

std::string point_name(const ::testing::TestParamInfo<Point> &info) {
  return info.param.model + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(AllModels, DerivativeCheck, ::testing::ValuesIn(points()), point_name);

TEST(DerivativeCheckCoverage, EveryRegisteredModelHasPoints) {
  std::set<std::string> covered;
  for (const auto &pt : points()) covered.insert(pt.model);
  for (const auto &row : present_rows()) {
    const std::string name = row.row >= 0 ? row.name : row.symbol;
    if (row.row < 0 && find_model(name) == nullptr) continue;
    if (row.unit.rfind("frame/", 0) == 0) continue;  // lookups and the test hook
    EXPECT_TRUE(covered.count(name)) << name << " has no derivative-check point";
  }
}

}  // namespace
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DerivativeCheck);
