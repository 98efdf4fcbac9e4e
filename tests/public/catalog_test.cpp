// The catalogue as a fitter reads it: lookups by either name, the parameter names and roles for
// a given count, and over every entry the facts the table must agree on with the library.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "fitmodels_catalog.h"
#include "support/model_call.h"

namespace {

std::string name_of(const fm_model_info *m, int n, int i) {
  char buf[32];
  return fm_param_name(m, n, i, buf, sizeof buf);
}

std::string names_of(const fm_model_info *m, int n) {
  std::string out;
  for (int i = 1; i <= n; ++i) out += (i > 1 ? " " : "") + name_of(m, n, i);
  return out;
}

struct LookupRow {
  const char *asked, *found;
  int n;              // an nParams
  int read;           // fm_layout_params for it
  const char *names;  // for n, when read
};

const LookupRow kLookups[] = {
    {"gauss", "Gauss", 4, 4, "y0 xc w A"},
    {"GAUSS", "Gauss", 7, 7, "y0 xc1 w1 A1 xc2 w2 A2"},
    {"Gauss", "Gauss", 6, -1, nullptr},               // a partial term
    {"Gauss", "Gauss", 1, -1, nullptr},               // no term
    {"PseudoVoigt1", "PsdVoigt1", 5, 5, "y0 xc A w mu"},  // by export name
    {"Boltzman1", "Boltzman1", 3, 3, nullptr},         // an export without a row
    {"Hill", "Hill", 4, -1, nullptr},                 // a fixed count of 3
    {"Log2P1EVP", "Log2P1EVP", 3, 3, nullptr},         // reads more than its row declares
};

TEST(Catalogue, LooksUpByEitherNameAndNamesTheParametersForACount) {
  for (const LookupRow &r : kLookups) {
    const fm_model_info *m = fm_catalog_find(r.asked);
    ASSERT_NE(m, nullptr) << r.asked;
    EXPECT_STREQ(m->name, r.found);
    EXPECT_NE(fm_catalog_function(m), nullptr) << r.asked;
    EXPECT_EQ(fm_layout_params(m, r.n), r.read) << r.asked << " n " << r.n;
    if (r.names) {
      EXPECT_EQ(names_of(m, r.n), r.names) << r.asked;
    }
    if (r.read < 0) {
      EXPECT_EQ(fm_param(m, r.n, 1), nullptr) << r.asked << " n " << r.n;
    }
  }
  EXPECT_EQ(fm_catalog_find("Gaus"), nullptr);
  EXPECT_EQ(fm_catalog_find("Get_Func"), nullptr);  // the lookups are not models
  const fm_model_info *g = fm_catalog_find("Gauss");
  EXPECT_EQ(fm_params_for_terms(g, 3), 10);
  EXPECT_EQ(fm_param(g, 10, 9)->role, FM_ROLE_WIDTH);  // w3
  EXPECT_EQ(fm_param(g, 10, 9)->domain, FM_DOMAIN_POSITIVE);
  EXPECT_STREQ(fm_role_name(fm_param(g, 10, 10)->role), "area");
  EXPECT_STREQ(fm_start_name(g->start), "peak");
  EXPECT_STREQ(fm_domain_name(fm_param(g, 10, 9)->domain), "pos");
  EXPECT_EQ(fm_catalog_find("Boltzman1")->row, -1);
}

class EveryEntry : public ::testing::TestWithParam<const fm_model_info *> {};

// Counts as the library reports them, distinct parameter names at two terms, points the layout
// accepts, and derivatives served exactly by the shapes that serve them.
TEST_P(EveryEntry, AgreesWithTheLibrary) {
  const fm_model_info *m = GetParam();
  if (m->row >= 0) {
    int16_t ni = 0, nd = 0, np = 0;
    ASSERT_NE(Get_Func(m->name, &ni, &nd, &np, nullptr), nullptr);
    EXPECT_EQ(ni, m->nIndep);
    EXPECT_EQ(nd, m->nDep);
    EXPECT_EQ(np, m->row_params);
  } else {
    EXPECT_NE(find_model(m->name), nullptr);
  }
  EXPECT_EQ(m->param_count, m->layout.shared + m->layout.per_term);
  const int n = fm_params_for_terms(m, 2);
  std::set<std::string> names;
  for (int i = 1; i <= n; ++i) names.insert(name_of(m, n, i));
  EXPECT_EQ(names.size(), static_cast<size_t>(n)) << names_of(m, n);
  ASSERT_GT(m->point_count, 0);
  for (int k = 0; k < m->point_count; ++k)
    EXPECT_EQ(fm_layout_params(m, m->points[k].nparams), m->points[k].nparams) << "point " << k;
  EXPECT_EQ(m->derivatives != 0,
            m->shape == FM_SHAPE_VALUE_THEN_DERIVS || m->shape == FM_SHAPE_EXCLUSIVE);
  EXPECT_EQ(m->start == FM_START_NONE,
            m->shape == FM_SHAPE_PLACEHOLDER || m->shape == FM_SHAPE_ERROR_TEST);
}

std::vector<const fm_model_info *> entries() {
  size_t count = 0;
  const fm_model_info *all = fm_catalog(&count);
  std::vector<const fm_model_info *> out;
  for (size_t i = 0; i < count; ++i) out.push_back(&all[i]);
  return out;
}

std::string entry_name(const ::testing::TestParamInfo<const fm_model_info *> &info) {
  return info.param->name;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryEntry, ::testing::ValuesIn(entries()), entry_name);

}  // namespace
