// The lookups over the generated catalogue table.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog_table.h"

namespace {

bool same_name(const char *a, const char *b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

const char *const kRoleNames[] = {"other",  "baseline", "amplitude", "height",  "area",
                                  "centre", "width",    "rate",      "time",    "exponent",
                                  "shape",  "offset",   "anchor_x",  "anchor_y"};
const char *const kStartNames[] = {"none",       "generic",        "linear",       "peak",
                                   "sigmoid",    "dose_response",  "decay",        "growth",
                                   "power",      "saturation",     "periodic",     "distribution",
                                   "cumulative", "expected_value", "surface_peak", "surface"};

std::string lower(const char *s) {
  std::string out(s);
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

extern "C" {

size_t fm_edit_distance(const char *a, const char *b) {
  const std::string x = lower(a), y = lower(b);
  std::vector<size_t> prev(y.size() + 1), cur(y.size() + 1);
  for (size_t j = 0; j <= y.size(); ++j) prev[j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    cur[0] = i;
    for (size_t j = 1; j <= y.size(); ++j)
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (x[i - 1] != y[j - 1])});
    std::swap(prev, cur);
  }
  return prev[y.size()];
}

size_t fm_catalog_nearest(const char *name, const char **out, size_t count) {
  if (name == nullptr || out == nullptr) return 0;
  const std::string l = lower(name);
  std::vector<std::pair<size_t, const char *>> scored;
  for (size_t i = 0; i < fm_catalog_table_size; ++i) {
    const char *m = fm_catalog_table[i].name;
    size_t d = fm_edit_distance(l.c_str(), m);
    if (!l.empty() && lower(m).find(l) != std::string::npos) d = std::min<size_t>(d, 1);
    scored.emplace_back(d, m);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  size_t n = 0;
  for (const auto &s : scored)
    if (n < count && s.first <= std::max<size_t>(3, l.size() / 2)) out[n++] = s.second;
  return n;
}

const fm_model_info *fm_catalog(size_t *count) {
  if (count) *count = fm_catalog_table_size;
  return fm_catalog_table;
}

const fm_model_info *fm_catalog_find(const char *name) {
  if (name == nullptr) return nullptr;
  for (size_t i = 0; i < fm_catalog_table_size; ++i)
    if (same_name(fm_catalog_table[i].name, name)) return &fm_catalog_table[i];
  for (size_t i = 0; i < fm_catalog_table_size; ++i) {
    const char *e = fm_catalog_table[i].export_name;
    if (e && same_name(e, name)) return &fm_catalog_table[i];
  }
  return nullptr;
}

ModelFunction fm_catalog_function(const fm_model_info *model) {
  if (model == nullptr) return nullptr;
  if (model->row >= 0) {
    int16_t ni = 0, nd = 0, np = 0;
    return Get_Func(model->name, &ni, &nd, &np, nullptr);
  }
  // An export without a row is reached by its exported name only.
  if (model->export_name == nullptr) return nullptr;
  return reinterpret_cast<ModelFunction>(dlsym(RTLD_DEFAULT, model->export_name));
}

int fm_layout_params(const fm_model_info *model, int n) {
  const fm_layout &l = model->layout;
  if (l.per_term == 0) return n == l.shared ? n : -1;
  if (n < l.shared + l.per_term || (n - l.shared) % l.per_term != 0) return -1;
  return n;
}

int fm_params_for_terms(const fm_model_info *model, int k) {
  const fm_layout &l = model->layout;
  if (l.per_term == 0) return l.shared;
  return l.shared + l.per_term * (k < 1 ? 1 : k);
}

// The entry of params[] behind parameter i for nParams = n, and the term it belongs to (0 for a
// shared parameter); -1 when i is not a parameter of that count.
static int param_entry(const fm_model_info *model, int n, int i, int *term) {
  const fm_layout &l = model->layout;
  *term = 0;
  if (i < 1 || fm_layout_params(model, n) < 0 || i > n) return -1;
  if (i <= l.shared) return i - 1;
  *term = (i - l.shared - 1) / l.per_term + 1;
  return l.shared + (i - l.shared - 1) % l.per_term;
}

const char *fm_param_name(const fm_model_info *model, int n, int i, char *buf, size_t size) {
  if (size == 0) return buf;
  int term = 0;
  const int e = param_entry(model, n, i, &term);
  const int terms =
      model->layout.per_term ? (n - model->layout.shared) / model->layout.per_term : 0;
  if (e < 0)
    std::snprintf(buf, size, "p%d", i);
  else if (term > 0 && terms > 1)
    std::snprintf(buf, size, "%s%d", model->params[e].name, term);
  else
    std::snprintf(buf, size, "%s", model->params[e].name);
  return buf;
}

const fm_param_info *fm_param(const fm_model_info *model, int n, int i) {
  int term = 0;
  const int e = param_entry(model, n, i, &term);
  return e < 0 ? nullptr : &model->params[e];
}

const char *fm_role_name(fm_role role) {
  const size_t r = static_cast<size_t>(role);
  return r < sizeof kRoleNames / sizeof *kRoleNames ? kRoleNames[r] : "other";
}

const char *fm_domain_name(fm_domain domain) {
  static const char *const kDomainNames[] = {"", "pos", "nonneg", "nonzero", "neg", "unit"};
  const size_t d = static_cast<size_t>(domain);
  return d < sizeof kDomainNames / sizeof *kDomainNames ? kDomainNames[d] : "";
}

const char *fm_start_name(fm_start_kind kind) {
  const size_t k = static_cast<size_t>(kind);
  return k < sizeof kStartNames / sizeof *kStartNames ? kStartNames[k] : "none";
}

}  // extern "C"
