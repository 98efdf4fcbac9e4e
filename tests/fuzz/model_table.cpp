#include "fuzz/model_table.h"

#include <dlfcn.h>

#include <algorithm>
#include <string>

#include "fitmodels_catalog.h"

int FuzzModel::terms(int n) const {
  if (per_term == 0 || n < shared) return 0;
  return (n - shared) / per_term;
}

int FuzzModel::params_read(int n) const {
  if (per_term == 0) return least >= 0 && n >= least && n < fixed ? n : fixed;
  return shared + per_term * terms(n);
}

int FuzzModel::deriv_slots(int n) const { return params_read(n); }

namespace {

std::vector<FuzzModel> build() {
  std::vector<FuzzModel> out;
  size_t count = 0;
  const fm_model_info *catalog = fm_catalog(&count);
  for (size_t i = 0; i < count; ++i) {
    const fm_model_info &c = catalog[i];
    if (c.shape == FM_SHAPE_ERROR_TEST) continue;
    FuzzModel m;
    m.name = c.name;
    if (c.row >= 0) m.by_row = get_funx(c.name);
    if (c.export_name != nullptr)
      m.by_export = reinterpret_cast<ModelFunction>(dlsym(RTLD_DEFAULT, c.export_name));
    if (m.by_row == nullptr && m.by_export == nullptr) continue;
    m.nIndep = c.nIndep, m.nDep = c.nDep, m.row_params = c.row_params;
    switch (c.shape) {
      case FM_SHAPE_VALUE_THEN_DERIVS: m.shape = 'V'; break;
      case FM_SHAPE_EXCLUSIVE: m.shape = 'E'; break;
      case FM_SHAPE_PLACEHOLDER: m.shape = 'P'; break;
      default: m.shape = 'O'; break;
    }
    m.success_resets_errno = c.success_resets_errno != 0;
    m.reserved = c.reserved_rc;
    m.neither = c.neither_rc;
    m.answers_query = c.query != FM_QUERY_NOT_EXAMINED;
    m.least = c.least_params;
    m.fixed = c.layout.per_term == 0 ? c.layout.shared : 0;
    m.shared = c.layout.per_term == 0 ? 0 : c.layout.shared;
    m.per_term = c.layout.per_term;
    m.term_outputs = c.layout.term_outputs != 0;
    m.defined_missing_value = (c.defined_missing & FM_MISSING_Y1) != 0;
    if (c.point_count > 0) {
      const fm_point &pt = c.points[0];
      m.point_p.assign(pt.params + 1, pt.params + 1 + pt.nparams);
      std::copy(pt.x, pt.x + 4, m.point_x);
    }
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace

const std::vector<FuzzModel> &fuzz_models() {
  static const std::vector<FuzzModel> models = build();
  return models;
}
