// The data of one fit: the inputs, the observed values and their weights, point by point.
#ifndef FITMODELS_TOOL_DATA_H
#define FITMODELS_TOOL_DATA_H

#include <array>
#include <cstddef>
#include <vector>

#include "fitmodels_fit.h"

namespace fmtool {

struct Data {
  int ni = 1;             // inputs per point
  std::vector<double> x;  // ni per point, row-major (the fitting library's layout)
  std::vector<double> y;
  std::vector<double> w;  // 1/sigma of each point; empty: all 1
  size_t size() const { return y.size(); }
  double weight(size_t i) const { return w.empty() ? 1.0 : w[i]; }
  // Point i as the model contract reads it: x[1..3], x[0] unused.
  std::array<double, 4> point(size_t i) const {
    std::array<double, 4> p{0, 0, 0, 0};
    for (int k = 0; k < ni && k < 3; ++k) p[static_cast<size_t>(k) + 1] = x[i * static_cast<size_t>(ni) + static_cast<size_t>(k)];
    return p;
  }
  fmfit_data view() const { return {size(), x.data(), y.data(), w.empty() ? nullptr : w.data()}; }
};

}  // namespace fmtool

#endif
