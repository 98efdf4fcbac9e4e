// One table-driven check of analytic against numeric derivatives over every registered model, at
// the generic points of its catalogue entry (the `points` column of its row in frame/model_info),
// through the catalogue's derivative checker and its one tolerance policy. The points of models
// without derivative code serve the contract check only.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "catalog/derivative_check.h"
#include "support/catalog_view.h"
#include "support/model_call.h"

namespace {

struct Subject {
  const fm_model_info *model;
  int index;  // of the point
};

std::vector<Subject> subjects() {
  std::vector<Subject> out;
  size_t count = 0;
  const fm_model_info *all = fm_catalog(&count);
  for (size_t i = 0; i < count; ++i)
    if (all[i].derivatives)
      for (int k = 0; k < all[i].point_count; ++k) out.push_back({&all[i], k});
  return out;
}

void PrintTo(const Subject &s, std::ostream *os) {
  *os << s.model->name << " point " << s.index + 1;
}

class DerivativeCheck : public ::testing::TestWithParam<Subject> {};

TEST_P(DerivativeCheck, AnalyticMatchesCentralDifferences) {
  const fm_model_info &m = *GetParam().model;
  const fm_point &pt = m.points[GetParam().index];
  ModelFunction f = find_model(m.name);
  ASSERT_NE(f, nullptr) << "no model " << m.name;
  const fm::ProbeResult r = fm::DerivativeChecker(f).probe(pt.x, pt.params, pt.nparams);
  ASSERT_FALSE(r.refused) << r.reason;
  EXPECT_LE(r.worst, fm::kDerivativeTolerance)
      << "d" << r.worst_param << " analytic " << r.analytic[r.worst_param] << " numeric "
      << r.numeric[r.worst_param];
  // The value a derivative request writes is the value request's, and no slot beyond nParams.
  const Outcome a = Call(f).params(point_params(pt)).x(pt.x[1], pt.x[2], pt.x[3]).run(REQ_DERIV);
  EXPECT_LE(fm::derivative_error(a.y[1], r.value, 0.0), fm::kDerivativeTolerance)
      << "y from the derivative request " << a.y[1] << " vs value " << r.value;
  EXPECT_FALSE(a.d_written(pt.nparams + 1)) << "wrote deriv beyond nParams";
}

std::string point_name(const ::testing::TestParamInfo<Subject> &info) {
  return std::string(info.param.model->name) + "_" + std::to_string(info.param.index);
}

INSTANTIATE_TEST_SUITE_P(AllModels, DerivativeCheck, ::testing::ValuesIn(subjects()), point_name);

// The checker itself, against a model whose derivative is deliberately wrong: y = a*x^2 with
// dy/da = x^2 + 1e-3 (the 1e-3 is the planted fault), refused where x < 0.
int32_t planted_fault(int32_t request, void *, int16_t, int32_t, int32_t, const double *p, int32_t,
                      const double *x, double *y, double *d) {
  if (x[1] < 0) {
    y[1] = MISSING_VALUE;
    return 1;
  }
  if (request & REQ_VALUE) y[1] = p[1] * x[1] * x[1];
  if (request & REQ_DERIV) {
    y[1] = p[1] * x[1] * x[1];
    d[1] = x[1] * x[1] + (p[2] != 0 ? 1e-3 : 0.0);
    d[2] = 0.0;
  }
  return 0;
}

TEST(DerivativeChecker, FindsAPlantedFaultAndReportsRefusedPoints) {
  const double faulty[] = {0, 2.0, 1.0}, right[] = {0, 2.0, 0.0};
  const fm_point points[] = {{{0, 1.5}, 2, right}, {{0, -1.0}, 2, right}, {{0, 0.5}, 2, faulty}};
  for (fm::Difference kind : {fm::Difference::central, fm::Difference::forward}) {
    fm::CheckOptions options;
    options.difference.kind = kind;
    const fm::DerivativeChecker checker(planted_fault, options);
    const fm::CheckResult ok = checker.check(points, 1);
    EXPECT_TRUE(ok.ok);
    EXPECT_NEAR(ok.numeric[0][1], 1.5 * 1.5, 1e-6);
    const fm::CheckResult all = checker.check(points, 3);
    EXPECT_FALSE(all.ok);
    EXPECT_EQ(all.refused, std::vector<int>{1});
    EXPECT_EQ(all.worst_point, 2);
    EXPECT_EQ(all.worst_param, 1);
    EXPECT_GT(all.worst, 1e-4);  // 1e-3 / (0.25 + 0.251 + 0.5 + 1)
    ASSERT_EQ(all.analytic.size(), 2u);
    EXPECT_DOUBLE_EQ(all.analytic[1][1], 0.25 + 1e-3);
  }
}

}  // namespace
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DerivativeCheck);
