// Analytic derivatives against central differences, at points generated around each model's
// generic points.
#ifndef FITMODELS_TOOL_CHECK_H
#define FITMODELS_TOOL_CHECK_H

#include <string>
#include <vector>

namespace fmtool {

// Prints one row a model; returns the number of models that disagree (or evaluate nowhere).
int run_check(const std::vector<std::string> &models, int points_per_centre, double tolerance);

}  // namespace fmtool

#endif
