// One contract check over every registered model, driven by its catalogue entry (its row in
// frame/model_info) and run at its first generic point:
//   - only bits 0-3 of the request word are examined;
//   - REQ_RESERVED answers at once with the stated code and writes nothing;
//   - a request with neither value nor derivative bit answers the stated code, writes nothing;
//   - REQ_QUERY stores its answer in deriv[0] only, or is not examined at all;
//   - a value request writes y[1] (and the per-term or second outputs) and no deriv slot;
//   - a derivative request writes exactly the deriv slots of the layout, or (value-only models)
//     no deriv slot (a value-only model that refuses it with 1 may leave its baseline in y[1]);
//   - below the least parameter count both requests refuse, with nothing written to deriv;
//   - a partial last term is ignored; per-term outputs add up to y[1];
//   - errno (preset to a value no model tests) is untouched by every success, except in the
//     models whose success resets it (shape marked '!').
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "support/model_call.h"
#include "support/catalog_view.h"
#include "support/row_list.h"

namespace {

struct Subject {
  std::string name;
  const fm_model_info *info = nullptr;
  const fm_point *point = nullptr;
};

std::vector<Subject> subjects() {
  std::vector<Subject> out;
  for (const auto &name : registered_models()) {
    Subject s;
    s.name = name;
    s.info = fm_catalog_find(name.c_str());
    if (s.info && s.info->point_count > 0) s.point = &s.info->points[0];
    out.push_back(s);
  }
  return out;
}

void PrintTo(const Subject &s, std::ostream *os) { *os << s.name; }

int dependent_count(const std::string &name) {
  for (const auto &row : present_rows())
    if (row.row >= 0 && row.name == name) return row.nDep;
  return 1;
}

bool same_outcome(const Outcome &a, const Outcome &b) {
  return a.rc == b.rc && a.err == b.err && std::memcmp(a.y.data(), b.y.data(), sizeof a.y) == 0 &&
         std::memcmp(a.d.data(), b.d.data(), sizeof a.d) == 0;
}

bool y_untouched_from(const Outcome &r, int first) {
  for (int i = first; i < kSlots; ++i)
    if (r.y_written(i)) return false;
  return true;
}
bool d_untouched_from(const Outcome &r, int first) {
  for (int i = first; i < kSlots; ++i)
    if (r.d_written(i)) return false;
  return true;
}
bool written_not_missing(const std::array<double, kSlots> &a, int first, int last) {
  for (int i = first; i <= last; ++i)
    if (a[i] == kUntouched || a[i] == MISSING_VALUE) return false;
  return true;
}

class ContractCheck : public ::testing::TestWithParam<Subject> {
 protected:
  Call call() const {
    const fm_point &pt = *GetParam().point;
    return Call(GetParam().name).params(point_params(pt)).x(pt.x[1], pt.x[2], pt.x[3]);
  }
};

TEST_P(ContractCheck, HasMetadataAndAGenericPoint) {
  EXPECT_NE(GetParam().info, nullptr) << GetParam().name << " has no line in frame/model_info";
  EXPECT_NE(GetParam().point, nullptr) << GetParam().name << " has no generic point";
}

TEST_P(ContractCheck, OnlyTheLowFourBitsAreExamined) {
  if (!GetParam().info || !GetParam().point) return;  // reported by HasMetadataAndAGenericPoint
  for (int32_t req = 0; req < 16; ++req) {
    const Outcome base = call().run(req);
    for (int32_t high : {0x10, 0x100, 0x7ff0, static_cast<int32_t>(0x80000000u)}) {
      EXPECT_TRUE(same_outcome(base, call().run(req | high)))
          << "request " << req << " with high bits " << std::hex << high;
    }
  }
}

TEST_P(ContractCheck, ReservedNeitherAndQueryAnswers) {
  if (!GetParam().info || !GetParam().point) return;  // reported by HasMetadataAndAGenericPoint
  const fm_model_info &m = *GetParam().info;
  const bool examines_query = m.query != FM_QUERY_NOT_EXAMINED;
  for (int32_t req = 0; req < 16; ++req) {
    const Outcome r = call().run(req);
    const std::string at = "request " + std::to_string(req);
    if ((req & REQ_QUERY) && examines_query) {
      EXPECT_EQ(r.rc, m.query == FM_QUERY_NONE ? QUERY_REPLY_NONE : QUERY_REPLY_MASK) << at;
      EXPECT_TRUE(y_untouched_from(r, 0) && d_untouched_from(r, 1)) << at;
      if (m.query == FM_QUERY_NONE) EXPECT_EQ(r.query_word(), 0) << at;
      if (m.query == FM_QUERY_NO_STORE) EXPECT_FALSE(r.d_written(0)) << at;
      continue;
    }
    if (m.shape == FM_SHAPE_PLACEHOLDER) {
      EXPECT_TRUE(r.nothing_written()) << at;
      continue;
    }
    if (req & REQ_RESERVED) {
      EXPECT_EQ(r.rc, m.reserved_rc) << at;
      EXPECT_TRUE(r.nothing_written()) << at;
      EXPECT_EQ(r.err, kNeutralErrno) << at;
    } else if (!(req & (REQ_VALUE | REQ_DERIV)) && m.neither_rc >= 0) {
      EXPECT_EQ(r.rc, m.neither_rc) << at;
      EXPECT_TRUE(r.nothing_written()) << at;
    }
  }
}

TEST_P(ContractCheck, ValueAndDerivativeRequestsWriteTheirLayout) {
  if (!GetParam().info || !GetParam().point) return;  // reported by HasMetadataAndAGenericPoint
  const fm_model_info &m = *GetParam().info;
  if (m.shape == FM_SHAPE_PLACEHOLDER) return;  // placeholders write nothing: checked above
  if (m.shape == FM_SHAPE_ERROR_TEST) return;  // the error-path test model: its calls are pinned by rows
  const int n = GetParam().point->nparams;
  const int outputs = m.layout.term_outputs ? 1 + term_count(m, n) : dependent_count(GetParam().name);
  const int slots = deriv_slots(m, n);

  const int success_errno = m.success_resets_errno ? 0 : kNeutralErrno;
  const Outcome v = call().run(REQ_VALUE);
  EXPECT_EQ(v.rc, 0);
  EXPECT_EQ(v.err, success_errno);
  EXPECT_TRUE(written_not_missing(v.y, 1, outputs)) << "y[1.." << outputs << "]";
  EXPECT_TRUE(y_untouched_from(v, outputs + 1)) << "y beyond " << outputs;
  EXPECT_TRUE(d_untouched_from(v, 0)) << "deriv written by a value request";
  if (m.layout.term_outputs) {
    double sum = m.layout.shared >= 1 ? GetParam().point->params[1] : 0.0, scale = std::fabs(sum);
    for (int j = 2; j <= outputs; ++j) {
      sum += v.y[j];
      scale += std::fabs(v.y[j]);
    }
    EXPECT_NEAR(v.y[1], sum, 1e-12 * (scale + 1.0)) << "y[1] is not the sum of the terms";
  }

  const Outcome d = call().run(REQ_DERIV);
  const Outcome both = call().run(REQ_VALUE | REQ_DERIV);
  if (m.derivatives) {
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.err, success_errno);
    EXPECT_TRUE(written_not_missing(d.d, 1, slots)) << "deriv[1.." << slots << "]";
    EXPECT_TRUE(d_untouched_from(d, slots + 1)) << "deriv beyond " << slots;
    EXPECT_TRUE(written_not_missing(d.y, 1, 1));
    EXPECT_TRUE(y_untouched_from(d, outputs + 1)) << "y beyond " << outputs;
    if (m.shape == FM_SHAPE_VALUE_THEN_DERIVS) {
      EXPECT_EQ(both.rc, 0);
      EXPECT_TRUE(written_not_missing(both.d, 1, slots));
      EXPECT_TRUE(d_untouched_from(both, slots + 1));
    } else {  // exclusive: a value request ends the call
      EXPECT_TRUE(same_outcome(both, v));
    }
  } else {
    EXPECT_EQ(d.rc, m.shape == FM_SHAPE_VALUE_ONLY_0 ? 0 : 1);
    if (m.shape == FM_SHAPE_VALUE_ONLY_MISSING) {  // y[1] and the layout's deriv slots marked missing, errno untouched
      EXPECT_TRUE(d.y_missing(1) && y_untouched_from(d, 2) && !d.d_written(0));
      for (int i = 1; i <= slots; ++i) EXPECT_TRUE(d.d_missing(i)) << "deriv[" << i << "]";
      EXPECT_TRUE(d_untouched_from(d, slots + 1)) << "deriv beyond " << slots;
      EXPECT_EQ(d.err, kNeutralErrno);
    } else {
      EXPECT_TRUE(d_untouched_from(d, 0)) << "a value-only model wrote deriv";
      EXPECT_TRUE(m.shape == FM_SHAPE_VALUE_ONLY_1 || d.nothing_written()) << "a derivative-only request wrote y";
    }
    // (the return code of a request with both bits is the model's own: rows state it)
    EXPECT_TRUE(d_untouched_from(both, 1)) << "a value-only model wrote deriv";
  }
}

TEST_P(ContractCheck, FewerParametersThanReadAreRefused) {
  if (!GetParam().info || !GetParam().point) return;  // reported by HasMetadataAndAGenericPoint
  const fm_model_info &m = *GetParam().info;
  if (m.least_params < 0) return;  // nParams is not read
  for (int n = -1; n < m.least_params; ++n) {  // -1: the 16-bit count 0xFFFF
    for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
      if (req == REQ_DERIV && !m.derivatives) continue;
      const Outcome r = call().nparams(n).run(req);
      const std::string at = "nParams " + std::to_string(n) + " request " + std::to_string(req);
      EXPECT_EQ(r.rc, 1) << at;
      EXPECT_TRUE(r.y_missing(1)) << at;
      EXPECT_EQ(r.err, 0) << at;
      EXPECT_TRUE(y_untouched_from(r, 2) && d_untouched_from(r, 0)) << at;
    }
  }
}

TEST_P(ContractCheck, APartialLastTermIsIgnored) {
  if (!GetParam().info || !GetParam().point) return;  // reported by HasMetadataAndAGenericPoint
  const fm_model_info &m = *GetParam().info;
  if (m.layout.per_term < 2) return;  // no partial term possible
  const fm_point &pt = *GetParam().point;
  std::vector<double> longer = point_params(pt);
  for (int i = 1; i < m.layout.per_term; ++i) longer.push_back(0.5 + 0.25 * i);
  for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
    const Outcome whole = call().run(req);
    const Outcome partial = Call(GetParam().name).params(longer).x(pt.x[1], pt.x[2], pt.x[3])
                                .run(req);
    EXPECT_TRUE(same_outcome(whole, partial)) << "request " << req;
  }
}

std::string subject_name(const ::testing::TestParamInfo<Subject> &info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(AllModels, ContractCheck, ::testing::ValuesIn(subjects()), subject_name);

TEST(ContractMetadata, EveryEntryIsARegisteredModel) {
  const auto names = registered_models();
  size_t count = 0;
  const fm_model_info *all = fm_catalog(&count);
  EXPECT_EQ(count, names.size());
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(std::find(names.begin(), names.end(), all[i].name) != names.end())
        << all[i].name << " is not a registered model";
    EXPECT_NE(fm_catalog_function(&all[i]), nullptr) << all[i].name;
  }
}

}  // namespace
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ContractCheck);
