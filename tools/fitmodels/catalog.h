// The models the tool knows: the catalogue's entries (every registered model and every exported
// model without a row), bound to their functions, and the calls into a model.
#ifndef FITMODELS_TOOL_CATALOG_H
#define FITMODELS_TOOL_CATALOG_H

#include <string>
#include <vector>

#include "fitmodels_catalog.h"

namespace fmtool {

struct ModelInfo {
  const fm_model_info *info = nullptr;  // the catalogue entry
  std::string name;         // table name (or export name for an export without a row)
  std::string export_name;  // "-" when reachable only through the lookups
  std::string family;       // unit, e.g. "core/peaks"
  ModelFunction function = nullptr;
  int nIndep = 1, nDep = 1, rowParams = 0;
  // Layout: fixed count (terms == false) or shared + per_term * k.
  bool terms = false;
  int fixed = 0, shared = 0, per_term = 0;
  bool term_outputs = false;  // term j writes its own value into y[2+j]
  std::vector<std::string> base_names;  // as in the catalogue (shared ones and one term)
  std::string formula;
  fm_start_kind start = FM_START_NONE;

  bool analytic() const { return info->derivatives != 0; }
  bool placeholder() const { return info->shape == FM_SHAPE_PLACEHOLDER; }
  // The parameter count read for k terms (k ignored for a fixed layout).
  int count_for(int k) const;
  // The count used when the caller does not say: the row's count where it fits the layout.
  int default_count() const;
  bool count_valid(int n) const;
  int term_count(int n) const { return terms && per_term > 0 ? (n - shared) / per_term : 0; }
  // Parameter names for n parameters: shared names, then the term names numbered from 1 when
  // there is more than one term.
  std::vector<std::string> names_for(int n) const;
  std::string expected_counts() const;
  // The catalogue's role of parameter j (0-based) for n parameters.
  fm_role role(int n, int j) const;  // "4 (y0, xc, w, A)" or "1+3k ..."
};

const std::vector<ModelInfo> &catalog();
// Case-insensitive lookup by table name or export name; null if unknown.
const ModelInfo *find_model(const std::string &name);
// Up to `count` known names nearest to `name` (edit distance, case-insensitive).
std::vector<std::string> nearest_names(const std::string &name, size_t count = 3);

// One call into a model at 1-based params[1..n] and x[1..3] (fm::model_value and
// fm::model_derivatives of the catalogue). value() fills y (size >= n + 3, y[2..] the term values
// of a multi-term model); derivs() fills d[1..n]. Both set errno to 0 first and report false
// (with the return code) when the model fails or writes a non-finite number.
bool model_value(const ModelInfo &m, int n, const double *params, const double *x, double *y,
                 int *rc = nullptr);
bool model_derivs(const ModelInfo &m, int n, const double *params, const double *x, double *d,
                  int *rc = nullptr);

std::string lower(std::string s);

}  // namespace fmtool

#endif
