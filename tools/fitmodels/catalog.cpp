#include "catalog.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "catalog/derivative_check.h"

namespace fmtool {
namespace {

ModelInfo from_entry(const fm_model_info &e) {
  ModelInfo m;
  m.info = &e;
  m.name = e.name;
  m.export_name = e.export_name ? e.export_name : "-";
  m.family = e.family;
  m.function = fm_catalog_function(&e);
  m.nIndep = e.nIndep;
  m.nDep = e.nDep;
  m.rowParams = e.row_params;
  m.terms = e.layout.per_term > 0;
  if (m.terms) {
    m.shared = e.layout.shared;
    m.per_term = e.layout.per_term;
  } else {
    m.fixed = e.layout.shared;
  }
  m.term_outputs = e.layout.term_outputs != 0;
  for (int i = 0; i < e.param_count; ++i) m.base_names.push_back(e.params[i].name);
  m.formula = e.formula;
  m.start = e.start;
  return m;
}

std::vector<ModelInfo> build() {
  std::vector<ModelInfo> out;
  size_t count = 0;
  const fm_model_info *entries = fm_catalog(&count);
  for (size_t i = 0; i < count; ++i) {
    ModelInfo m = from_entry(entries[i]);
    if (m.function == nullptr) continue;
    if (m.rowParams == 0) m.rowParams = m.default_count();
    out.push_back(m);
  }
  return out;
}

}  // namespace

std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

int ModelInfo::count_for(int k) const {
  return terms ? shared + per_term * std::max(k, 1) : fixed;
}

int ModelInfo::default_count() const {
  if (!terms) return fixed;
  if (rowParams > shared && per_term > 0 && (rowParams - shared) % per_term == 0) return rowParams;
  return count_for(1);
}

bool ModelInfo::count_valid(int n) const { return fm_layout_params(info, n) >= 0; }

std::vector<std::string> ModelInfo::names_for(int n) const {
  std::vector<std::string> out;
  char buf[64];
  for (int i = 1; i <= n; ++i) out.push_back(fm_param_name(info, n, i, buf, sizeof buf));
  return out;
}

fm_role ModelInfo::role(int n, int j) const {
  const fm_param_info *p = fm_param(info, n, j + 1);
  return p ? p->role : FM_ROLE_OTHER;
}

std::string ModelInfo::expected_counts() const {
  std::string names;
  for (const std::string &s : names_for(count_for(1))) names += (names.empty() ? "" : ", ") + s;
  if (!terms) return std::to_string(count_for(1)) + " (" + names + ")";
  return std::to_string(shared) + "+" + std::to_string(per_term) + "k, k >= 1 (one term: " +
         names + "; set k with --peaks)";
}

const std::vector<ModelInfo> &catalog() {
  static const std::vector<ModelInfo> models = build();
  return models;
}

const ModelInfo *find_model(const std::string &name) {
  const std::string l = lower(name);
  for (const ModelInfo &m : catalog())
    if (lower(m.name) == l) return &m;
  for (const ModelInfo &m : catalog())
    if (lower(m.export_name) == l) return &m;
  return nullptr;
}

std::vector<std::string> nearest_names(const std::string &name, size_t count) {
  std::vector<const char *> found(count);
  found.resize(fm_catalog_nearest(name.c_str(), found.data(), count));
  return std::vector<std::string>(found.begin(), found.end());
}

bool model_value(const ModelInfo &m, int n, const double *params, const double *x, double *y,
                 int *rc) {
  return fm::model_value(m.function, n, params, x, y, rc);
}

bool model_derivs(const ModelInfo &m, int n, const double *params, const double *x, double *d,
                  int *rc) {
  return fm::model_derivatives(m.function, n, params, x, d, rc);
}

}  // namespace fmtool
