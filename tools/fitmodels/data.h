// The data of one fit: the inputs, the observed values and their weights, point by point.
#ifndef FITMODELS_TOOL_DATA_H
#define FITMODELS_TOOL_DATA_H

#include <array>
#include <cstddef>
#include <vector>

namespace fmtool {

struct Data {
  std::vector<std::array<double, 4>> x;  // x[1..3] of each point (x[0] unused)
  std::vector<double> y;
  std::vector<double> w;  // 1/sigma of each point; empty: all 1
  size_t size() const { return y.size(); }
  double weight(size_t i) const { return w.empty() ? 1.0 : w[i]; }
};

}  // namespace fmtool

#endif
