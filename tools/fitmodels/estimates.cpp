#include "estimates.h"

#include "fitmodels_estimate.h"
#include "fitmodels_fit.h"

namespace fmtool {

bool estimate(const ModelInfo &m, int n, const fmfit_data &d, const std::vector<bool> &known,
              const std::vector<double> &values, Estimate &out, std::string &why) {
  out = Estimate{};
  if (d.n == 0) {
    why = "no data";
    return false;
  }
  const size_t np = static_cast<size_t>(n);
  const fmfit_model model{m.name.c_str(), nullptr, nullptr, static_cast<int16_t>(m.nIndep),
                          static_cast<int16_t>(n), 0};
  std::vector<uint8_t> given(np, 0);
  for (size_t j = 0; j < np; ++j) given[j] = known[j] ? 1 : 0;
  const fmfit_estimate_known k{sizeof k, given.data(), values.data()};
  out.params.assign(np, 0.0);
  if (fmfit_estimate(const_cast<fmfit_estimate_known *>(&k), &model, static_cast<int16_t>(n), &d,
                     out.params.data()) != 0) {
    why = "no initial estimates for " + m.name + ": give every parameter with --init";
    return false;
  }
  if (m.start == FM_START_LINEAR) out.note = "linear in its parameters: solved exactly";
  std::vector<uint8_t> held(given);
  out.hold.assign(np, false);
  if (fmfit_estimate_holds(&model, static_cast<int16_t>(n), &d, out.params.data(), held.data()) > 0) {
    const std::vector<std::string> names = m.names_for(n);
    if (!out.note.empty()) out.note += "; ";
    bool first = true;
    for (size_t j = 0; j < np; ++j)
      if (held[j] && !given[j]) {
        out.hold[j] = true;
        out.note += (first ? "" : ", ") + names[j];
        first = false;
      }
    out.note += " held at the estimate (the data do not determine it beside the others)";
  }
  return true;
}

}  // namespace fmtool
