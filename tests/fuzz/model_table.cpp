#include "fuzz/model_table.h"

#include <dlfcn.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "support/model_info.h"
#include "support/row_list.h"

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

// Models whose Parts define a success with MISSING_VALUE in y[1] (tests/fuzz/defined_missing.tsv,
// output column y1).
std::set<std::string> defined_missing_values() {
  std::set<std::string> names;
  std::ifstream in(FITMODELS_DEFINED_MISSING);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    std::string model, output;
    std::getline(f, model, '\t');
    std::getline(f, output, '\t');
    if (output == "y1") names.insert(model);
  }
  return names;
}

std::vector<FuzzModel> build() {
  const std::set<std::string> missing_ok = defined_missing_values();
  std::vector<FuzzModel> out;
  for (const RowListEntry &row : present_rows()) {
    if (row.unit.rfind("frame/", 0) == 0) continue;  // the lookups and the test hook
    const std::string name = row.row >= 0 ? row.name : row.exportName;
    const auto it = model_infos().find(name);
    if (it == model_infos().end() || it->second.shape == "T") continue;
    const ModelInfo &info = it->second;
    FuzzModel m;
    m.name = name;
    if (row.row >= 0) m.by_row = get_funx(row.name.c_str());
    if (!row.exportName.empty())
      m.by_export = reinterpret_cast<ModelFunction>(dlsym(RTLD_DEFAULT, row.exportName.c_str()));
    if (m.by_row == nullptr && m.by_export == nullptr) continue;
    if (row.row < 0) {  // an export without a row: its counts from the row it shares a symbol with
      for (const RowListEntry &r : present_rows())
        if (r.row >= 0 && r.symbol == row.symbol) {
          m.nIndep = r.nIndep, m.nDep = r.nDep, m.row_params = r.nParams;
          break;
        }
    } else {
      m.nIndep = row.nIndep, m.nDep = row.nDep, m.row_params = row.nParams;
    }
    m.shape = info.shape[0];
    m.success_resets_errno = info.success_resets_errno;
    m.reserved = info.reserved;
    m.neither = info.neither == "*" ? -1 : std::stoi(info.neither);
    m.answers_query = info.query == "none" || info.query == "mask" || info.query == "nostore";
    m.least = info.least;
    m.fixed = info.fixed;
    m.shared = info.shared;
    m.per_term = info.block;
    m.term_outputs = info.term_outputs;
    m.defined_missing_value = missing_ok.count(name) > 0;
    if (const GenericPoint *pt = first_point(name)) {
      m.point_p = pt->p;
      std::copy(pt->x, pt->x + 4, m.point_x);
    }
    if (m.row_params == 0) m.row_params = static_cast<int>(m.point_p.size());
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace

const std::vector<FuzzModel> &fuzz_models() {
  static const std::vector<FuzzModel> models = build();
  return models;
}
