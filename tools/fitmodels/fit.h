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
  std::string stop;     // the stopping reason in words
  // "converged"; "not converged" (MINPACK stopped short); "evaluation cap" or "time limit" (a
  // cap of FitOptions stopped it: params hold the best point reached); "undetermined" (some
  // free parameter has no standard error: its Jacobian column is zero or collinear); "not
  // finite" (the sum of squares exceeds the range of a double). Only "converged" is success.
  std::string status;
  std::string verdict;  // the status in a sentence, for the ones other than "converged"
};

struct FitOptions {
  long max_evaluations = 0;  // of the model over the data; 0: MINPACK's budget for the size
  double timeout = 0;        // seconds; 0: none
  bool progress = false;     // a progress line on stderr once a fit has run for a second
};

// Fits n parameters starting from start (0-based), holding those marked in held.
FitResult fit_model(const ModelInfo &m, int n, const Data &data, const std::vector<double> &start,
                    const std::vector<bool> &held, const FitOptions &options = {});
std::string stop_reason(int info);

}  // namespace fmtool

#endif
