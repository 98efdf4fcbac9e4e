#include "catalog.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace fmtool {
namespace {

struct MetaRow {
  const char *name, *unit, *shape, *layout, *params, *formula;
};
const MetaRow kMeta[] = {
#include "model_meta.inc"
};
struct NameRow {
  const char *name, *export_name, *unit;
};
const NameRow kRows[] = {
#include "model_rows.inc"
};

std::vector<std::string> split(const std::string &s, char sep) {
  std::vector<std::string> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, sep))
    if (!item.empty()) out.push_back(item);
  return out;
}

void apply_meta(ModelInfo &m, const MetaRow &r) {
  m.has_meta = true;
  m.family = r.unit;
  m.shape = r.shape;
  if (!m.shape.empty() && m.shape.back() == '!') m.shape.pop_back();
  std::string layout = r.layout;
  const auto plus = layout.find('+');
  if (plus == std::string::npos) {
    m.fixed = std::atoi(layout.c_str());
  } else {
    m.terms = true;
    m.shared = std::atoi(layout.substr(0, plus).c_str());
    m.per_term = std::atoi(layout.substr(plus + 1).c_str());
    m.term_outputs = layout.find(":y") != std::string::npos;
  }
  m.base_names = split(r.params, ',');
  m.formula = r.formula;
}

std::vector<ModelInfo> build() {
  std::vector<ModelInfo> out;
  for (const NameRow &r : kRows) {
    ModelInfo m;
    m.name = r.name;
    m.export_name = r.export_name;
    m.family = r.unit;
    int16_t ni = 0, nd = 0, np = 0;
    if (std::string(r.name) != "-") m.function = Get_Func(r.name, &ni, &nd, &np, nullptr);
    if (m.function == nullptr) {
      // An export without a row: bound by its exported name.
      if (m.export_name == "-") continue;
      m.name = m.export_name;
      m.function = reinterpret_cast<ModelFunction>(dlsym(RTLD_DEFAULT, r.export_name));
      if (m.function == nullptr) continue;
    } else {
      m.nIndep = ni;
      m.nDep = nd;
      m.rowParams = np;
    }
    out.push_back(m);
  }
  for (ModelInfo &m : out) {
    for (const MetaRow &r : kMeta)
      if (lower(r.name) == lower(m.name) || lower(r.name) == lower(m.export_name)) {
        apply_meta(m, r);
        break;
      }
    if (m.rowParams == 0) m.rowParams = m.has_meta ? m.default_count() : 0;
    if (m.has_meta && m.rowParams == 0) m.rowParams = m.count_for(1);
  }
  return out;
}

size_t edit_distance(const std::string &a, const std::string &b) {
  std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = i;
    for (size_t j = 1; j <= b.size(); ++j)
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] != b[j - 1])});
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

bool finite_result(double v) { return std::isfinite(v) && v != MISSING_VALUE; }

// Scratch space for the outputs a call may write besides the ones asked for.
double *scratch(size_t n) {
  thread_local std::vector<double> buffer;
  if (buffer.size() < n) buffer.resize(n);
  return buffer.data();
}

}  // namespace

std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

int ModelInfo::count_for(int k) const {
  if (!has_meta) return rowParams;
  return terms ? shared + per_term * std::max(k, 1) : fixed;
}

int ModelInfo::default_count() const {
  if (!has_meta) return rowParams;
  if (!terms) return fixed;
  if (rowParams > shared && per_term > 0 && (rowParams - shared) % per_term == 0) return rowParams;
  return count_for(1);
}

bool ModelInfo::count_valid(int n) const {
  if (!has_meta) return n == rowParams;
  if (!terms) return n == fixed;
  return n >= shared + per_term && per_term > 0 && (n - shared) % per_term == 0;
}

std::vector<std::string> ModelInfo::names_for(int n) const {
  std::vector<std::string> out;
  if (!has_meta || static_cast<int>(base_names.size()) != (terms ? shared + per_term : fixed)) {
    for (int i = 1; i <= n; ++i) out.push_back("p" + std::to_string(i));
    return out;
  }
  if (!terms) return base_names;
  for (int i = 0; i < shared; ++i) out.push_back(base_names[i]);
  const int k = term_count(n);
  for (int j = 1; j <= k; ++j)
    for (int i = 0; i < per_term; ++i)
      out.push_back(base_names[shared + i] + (k > 1 ? std::to_string(j) : ""));
  return out;
}

std::string ModelInfo::expected_counts() const {
  std::string names;
  for (const std::string &s : names_for(count_for(1))) names += (names.empty() ? "" : ", ") + s;
  if (!has_meta || !terms) return std::to_string(count_for(1)) + " (" + names + ")";
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
  const std::string l = lower(name);
  std::vector<std::pair<size_t, std::string>> scored;
  for (const ModelInfo &m : catalog()) {
    size_t d = edit_distance(l, lower(m.name));
    if (!l.empty() && lower(m.name).find(l) != std::string::npos) d = std::min<size_t>(d, 1);
    scored.emplace_back(d, m.name);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (const auto &s : scored)
    if (out.size() < count && s.first <= std::max<size_t>(3, l.size() / 2)) out.push_back(s.second);
  return out;
}

bool model_value(const ModelInfo &m, int n, const double *params, const double *x, double *y,
                 int *rc) {
  errno = 0;
  y[1] = 0.0;
  const int32_t r = m.function(REQ_VALUE, nullptr, static_cast<int16_t>(n), 0, 0, params, 0, x,
                               y, scratch(static_cast<size_t>(n) + 4));
  if (rc) *rc = r;
  return r == 0 && finite_result(y[1]);
}

bool model_derivs(const ModelInfo &m, int n, const double *params, const double *x, double *d,
                  int *rc) {
  double *y = scratch(static_cast<size_t>(n) + 4);
  errno = 0;
  for (int i = 1; i <= n; ++i) d[i] = 0.0;
  const int32_t r = m.function(REQ_DERIV, nullptr, static_cast<int16_t>(n), 0, 0, params, 0, x,
                               y, d);
  if (rc) *rc = r;
  if (r != 0) return false;
  for (int i = 1; i <= n; ++i)
    if (!finite_result(d[i])) return false;
  return true;
}

}  // namespace fmtool
