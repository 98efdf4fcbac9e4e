// A self-contained SVG of a fit: the data, the fitted curve (and each peak of a multi-peak
// model over the baseline), and the residuals in a panel below.
#ifndef FITMODELS_TOOL_PLOT_H
#define FITMODELS_TOOL_PLOT_H

#include <string>
#include <vector>

namespace fmtool {

struct PlotInput {
  std::string title, xlabel, ylabel;
  std::vector<double> x, y, residual;               // the data
  std::vector<double> curve_x, curve_y;             // the fitted curve
  std::vector<std::vector<double>> components;      // per peak, over curve_x (may be empty)
};

bool write_svg(const std::string &path, const PlotInput &in, std::string &error);

}  // namespace fmtool

#endif
