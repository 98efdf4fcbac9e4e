// One table-driven check of analytic against numeric derivatives over every registered model.
//
// The points live in tests/data/derivative_points/*.tsv, one line per point:
//   Name  x  p1 p2 ... pn        (x may be "x1,x2" for models reading x[2]; nParams = n)
// Lines starting with '#' are comments. Every registered model must appear in the tables; the
// points of models without derivative code (shape O or P in frame/model_info) serve the contract
// check only.
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
#include "support/model_info.h"
#include "support/row_list.h"
#include "support/tolerance.h"

namespace {

const std::vector<GenericPoint> &points() { return generic_points(); }

class DerivativeCheck : public ::testing::TestWithParam<GenericPoint> {};

TEST_P(DerivativeCheck, AnalyticMatchesCentralDifferences) {
  const GenericPoint &pt = GetParam();
  ModelFunction f = find_model(pt.model);
  ASSERT_NE(f, nullptr) << pt.where << ": no model " << pt.model;
  const auto info = model_infos().find(pt.model);
  ASSERT_NE(info, model_infos().end()) << pt.where << ": " << pt.model << " has no metadata";
  if (!info->second.has_derivatives()) return;  // values only: the contract check covers it
  const int n = static_cast<int>(pt.p.size());
  Outcome a = Call(f).params(pt.p).x(pt.x[1], pt.x[2], pt.x[3]).run(REQ_DERIV);
  ASSERT_EQ(a.rc, 0) << pt.where;
  Outcome v = Call(f).params(pt.p).x(pt.x[1], pt.x[2], pt.x[3]).run(REQ_VALUE);
  ASSERT_EQ(v.rc, 0) << pt.where;
  const double y = v.y[1];
  EXPECT_TRUE(derivatives_agree(a.y[1], y, 0.0)) << pt.where << ": y from the derivative "
                                                 << "request " << a.y[1] << " vs value " << y;
  for (int i = 1; i <= n; ++i) {
    const double h = difference_step(pt.p[i - 1]);
    std::vector<double> up = pt.p, down = pt.p;
    up[i - 1] += h;
    down[i - 1] -= h;
    Outcome yu = Call(f).params(up).x(pt.x[1], pt.x[2], pt.x[3]).run(REQ_VALUE);
    Outcome yd = Call(f).params(down).x(pt.x[1], pt.x[2], pt.x[3]).run(REQ_VALUE);
    ASSERT_EQ(yu.rc, 0) << pt.where << " p" << i << "+h";
    ASSERT_EQ(yd.rc, 0) << pt.where << " p" << i << "-h";
    const double numeric = (yu.y[1] - yd.y[1]) / ((pt.p[i - 1] + h) - (pt.p[i - 1] - h));
    EXPECT_TRUE(derivatives_agree(a.d[i], numeric, y))
        << pt.where << ": d" << i << " analytic " << a.d[i] << " numeric " << numeric;
  }
  EXPECT_FALSE(a.d_written(n + 1)) << pt.where << ": wrote deriv beyond nParams";
}

std::string point_name(const ::testing::TestParamInfo<GenericPoint> &info) {
  return info.param.model + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(AllModels, DerivativeCheck, ::testing::ValuesIn(points()), point_name);

TEST(DerivativeCheckCoverage, EveryRegisteredModelHasPoints) {
  std::set<std::string> covered;
  for (const auto &pt : points()) covered.insert(pt.model);
  for (const auto &name : registered_models())
    EXPECT_TRUE(covered.count(name)) << name << " has no derivative-check point";
}

}  // namespace
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DerivativeCheck);
