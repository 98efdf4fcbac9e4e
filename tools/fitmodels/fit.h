// Levenberg-Marquardt least squares of one model over one data set (MINPACK through cminpack:
// lmder with the model's analytic Jacobian, lmdif for value-only models).
#ifndef FITMODELS_TOOL_FIT_H
#define FITMODELS_TOOL_FIT_H

#include <string>
#include <vector>

#include "catalog.h"
#include "data.h"

namespace fmtool {

struct FitResult {
  bool ok = false;    // the fit ran (it may still have stopped without converging)
  std::string error;  // why it could not start
  std::vector<std::string> names;
  std::vector<double> params, errors;  // errors: NaN where not determined (held, rank-deficient)
  std::vector<bool> held;
  double ssr = 0, chi2_reduced = 0, r2 = 0;
  int points = 0, free = 0, nfev = 0, njev = 0, info = 0;
  bool converged = false;
  std::string stop;  // the stopping reason in words
};

// Fits n parameters starting from start (0-based), holding those marked in held.
FitResult fit_model(const ModelInfo &m, int n, const Data &data, const std::vector<double> &start,
                    const std::vector<bool> &held);
std::string stop_reason(int info);

}  // namespace fmtool

#endif
