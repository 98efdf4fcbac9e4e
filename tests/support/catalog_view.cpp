#include "support/catalog_view.h"

#include <algorithm>

#include "support/model_call.h"
#include "support/row_list.h"

std::vector<double> point_params(const fm_point &pt) {
  return std::vector<double>(pt.params + 1, pt.params + 1 + pt.nparams);
}

int term_count(const fm_model_info &m, int n) {
  return m.layout.per_term == 0 ? 0 : (n - m.layout.shared) / m.layout.per_term;
}

int deriv_slots(const fm_model_info &m, int n) {
  return m.layout.shared + m.layout.per_term * term_count(m, n);
}

std::vector<std::string> registered_models() {
  std::vector<std::string> names;
  for (const auto &row : present_rows()) {
    if (row.unit.rfind("frame/", 0) == 0) continue;  // lookups and the test hook
    const std::string name = row.row >= 0 ? row.name : row.symbol;
    if (row.row < 0 && find_model(name) == nullptr) continue;
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}
