// Initial parameter estimates from the data, by the fitting library's estimator (every model the
// catalogue gives a start kind): the parameters given or held are kept, and parameters the data
// do not determine at the estimates (a redundant parameterisation) are marked to be held.
#ifndef FITMODELS_TOOL_ESTIMATES_H
#define FITMODELS_TOOL_ESTIMATES_H

#include <string>
#include <vector>

#include "catalog.h"
#include "fitmodels_fit.h"

namespace fmtool {

struct Estimate {
  std::vector<double> params;  // 0-based, n of them
  std::vector<bool> hold;      // parameters best held (redundant with another), unless given
  std::string note;
};

// known[j]: values[j] is given (a start or a held value) and kept. False (and why) when the
// model has no estimates, or the data do not allow them.
bool estimate(const ModelInfo &m, int n, const fmfit_data &data, const std::vector<bool> &known,
              const std::vector<double> &values, Estimate &out, std::string &why);

}  // namespace fmtool

#endif
