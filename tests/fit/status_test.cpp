// Every status of one fit, from the rows of tests/data/fit/status_cases.tsv, through fmfit_fit.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>

#include "fit_support.h"

namespace {

using fittest::numbers;
using fittest::split;

const std::map<std::string, int32_t> kStatus = {
    {"converged", FMFIT_CONVERGED},
    {"undetermined", FMFIT_UNDETERMINED},
    {"at_bound", FMFIT_AT_BOUND},
    {"evaluation_limit", FMFIT_EVALUATION_LIMIT},
    {"time_limit", FMFIT_TIME_LIMIT},
    {"cancelled", FMFIT_CANCELLED},
    {"model_fails_at_start", FMFIT_MODEL_FAILS_AT_START},
    {"not_converged", FMFIT_NOT_CONVERGED},
    {"statistics_not_finite", FMFIT_STATISTICS_NOT_FINITE},
    {"invalid_input", FMFIT_INVALID_INPUT},
    {"no_estimate", FMFIT_NO_ESTIMATE},
    {"model_fails", FMFIT_MODEL_FAILS},
};

struct Row {
  std::vector<std::string> f;
  std::string describe() const { return "case " + f.at(0); }
};

std::vector<Row> rows() {
  std::ifstream in(FITMODELS_TEST_FIT_DATA "/status_cases.tsv");
  std::vector<Row> out;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') out.push_back(Row{split(line, '\t')});
  return out;
}

TEST(FitStatus, EveryCaseEndsWithItsStatus) {
  const std::vector<Row> table = rows();
  ASSERT_GE(table.size(), 20u);
  std::map<int32_t, int> seen;
  for (const Row &row : table) {
    SCOPED_TRACE(row.describe());
    ASSERT_EQ(row.f.size(), 10u);
    const fittest::Points pts = fittest::parse_points(row.f[2]);
    fmfit_model model{row.f[1].c_str(), nullptr, nullptr, 0, 0, 0};
    const std::vector<double> start = numbers(row.f[3], 0.0);
    const int known = fmfit_model_params(&model);  // -1 for an unknown model
    const int np = known > 0 ? known : std::max<int>(static_cast<int>(start.size()), 1);
    const std::vector<double> held_v = numbers(row.f[4], 0.0);
    const std::vector<double> lower = numbers(row.f[5], -INFINITY);
    const std::vector<double> upper = numbers(row.f[6], INFINITY);
    std::vector<uint8_t> held(held_v.begin(), held_v.end());
    fmfit_options o;
    fmfit_options_init(&o);
    int32_t cancel = 0;
    int nparams = 0;
    if (row.f[7] != "-") {
      for (const std::string &kv : split(row.f[7], ',')) {
        const auto parts = split(kv, '=');
        const double v = std::strtod(parts.at(1).c_str(), nullptr);
        if (parts[0] == "max_evaluations") o.max_evaluations = static_cast<int32_t>(v);
        else if (parts[0] == "time_limit") o.time_limit = v;
        else if (parts[0] == "absolute_sigma") o.absolute_sigma = static_cast<int32_t>(v);
        else if (parts[0] == "level") o.confidence_level = v;
        else if (parts[0] == "cancel") cancel = static_cast<int32_t>(v);
        else if (parts[0] == "nparams") nparams = static_cast<int>(v);
        else FAIL() << "unknown option " << parts[0];
      }
    }
    o.cancel = &cancel;
    // A host's count narrowed to the contract's int16_t as a cast in C would narrow it.
    model.nParams = static_cast<int16_t>(nparams);
    for (const auto *list : {&start, &lower, &upper})
      if (!list->empty()) {
        ASSERT_EQ(list->size(), static_cast<size_t>(np));
      }
    fmfit_constraints cons{held.empty() ? nullptr : held.data(),
                           lower.empty() ? nullptr : lower.data(),
                           upper.empty() ? nullptr : upper.data()};
    fmfit_data data = pts.data();
    std::vector<double> p(static_cast<size_t>(np)), se(static_cast<size_t>(np));
    std::vector<uint8_t> flags(static_cast<size_t>(np));
    fmfit_output out{p.data(), se.data(), nullptr, nullptr, nullptr, nullptr, flags.data()};
    fmfit_summary s;
    const int32_t status =
        fmfit_fit(&model, &data, start.empty() ? nullptr : start.data(), &cons, &o, &s, &out);
    ASSERT_TRUE(kStatus.count(row.f[8])) << row.f[8];
    EXPECT_EQ(status, kStatus.at(row.f[8])) << s.message;
    EXPECT_EQ(s.status, status);
    EXPECT_GT(std::string(s.message).size(), 0u);
    ++seen[status];
    if (status == FMFIT_MODEL_FAILS_AT_START) {
      EXPECT_EQ(s.failing_point, 1);
    }
    if (row.f[9] == "-") continue;
    const std::vector<std::string> want = split(row.f[9], ',');
    ASSERT_EQ(want.size(), static_cast<size_t>(np));
    for (size_t j = 0; j < want.size(); ++j) {
      if (want[j] == "*") continue;
      const double w = std::strtod(want[j].c_str(), nullptr);
      EXPECT_NEAR(p[j], w, 1e-7 * std::fabs(w)) << "parameter " << j + 1;
    }
    // The flags say why a parameter has no error.
    for (size_t j = 0; j < p.size(); ++j) {
      if (!held.empty() && held[j]) {
        EXPECT_TRUE(flags[j] & FMFIT_FLAG_HELD);
      }
      if (status == FMFIT_CONVERGED) {
        EXPECT_EQ(std::isnan(se[j]), (flags[j] & FMFIT_FLAG_HELD) != 0);
      }
    }
    if (status == FMFIT_UNDETERMINED) {
      ASSERT_GE(s.detail, 1);
      EXPECT_TRUE(flags[static_cast<size_t>(s.detail - 1)] & FMFIT_FLAG_UNDETERMINED);
      EXPECT_TRUE(std::isnan(se[static_cast<size_t>(s.detail - 1)]));
    }
    if (status == FMFIT_AT_BOUND) {
      ASSERT_GE(s.detail, 1);
      EXPECT_TRUE(flags[static_cast<size_t>(s.detail - 1)] &
                  (FMFIT_FLAG_AT_LOWER | FMFIT_FLAG_AT_UPPER));
    }
  }
  // Every status but the model failing at a solution it reached has a row.
  for (const auto &kv : kStatus)
    if (kv.second != FMFIT_MODEL_FAILS) {
      EXPECT_GT(seen[kv.second], 0) << kv.first;
    }
}

}  // namespace
