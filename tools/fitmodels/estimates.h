// Initial parameter estimates from the data, chosen by the model's start kind in the catalogue
// and read off by the roles of its parameters: peaks, sigmoids and dose-response curves, sums of
// exponentials, power laws, saturation curves, and every model whose value is linear in its
// parameters (solved exactly).
#ifndef FITMODELS_TOOL_ESTIMATES_H
#define FITMODELS_TOOL_ESTIMATES_H

#include <string>
#include <vector>

#include "catalog.h"
#include "data.h"

namespace fmtool {

struct Estimate {
  std::vector<double> params;  // 0-based, n of them
  std::vector<bool> hold;      // parameters best held (redundant with another), unless given
  std::string note;
};

// False (and why) when the model has no estimates, or the data do not allow them.
bool estimate(const ModelInfo &m, int n, const Data &data, Estimate &out, std::string &why);

// Least squares for the columns a[j] (each of the length of y), by Householder QR. False when
// the columns are rank-deficient.
bool linear_least_squares(const std::vector<std::vector<double>> &a, const std::vector<double> &y,
                          std::vector<double> &coef, double *ssr = nullptr);

}  // namespace fmtool

#endif
