// Data sets and small helpers shared by the engine's tests.
#ifndef FITMODELS_TESTS_FIT_SUPPORT_H
#define FITMODELS_TESTS_FIT_SUPPORT_H

#include <string>
#include <vector>

#include "fitmodels_fit.h"

namespace fittest {

struct Points {
  int nIndep = 1;
  std::vector<double> x, y, w;  // x row-major
  fmfit_data data() const {
    return fmfit_data{y.size(), x.data(), y.data(), w.empty() ? nullptr : w.data()};
  }
};

// A CSV file with header: the first column(s) x, the last y.
Points read_csv(const std::string &path, int nIndep = 1);
// "x:y;x:y" (x1,x2:y for two inputs, x:y:w with a weight), or @NAME for the NIST data set NAME.
Points parse_points(const std::string &text);
std::vector<std::string> split(const std::string &s, char sep);
// "v1,v2,.." into numbers; an empty item gives `blank`; "-" gives an empty list.
std::vector<double> numbers(const std::string &s, double blank);

}  // namespace fittest

#endif
