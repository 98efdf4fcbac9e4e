// fitmodels-eval: looks a model up by name and evaluates it, with its analytic derivatives,
// at every x of a data file.
//
//   fitmodels-eval MODEL P1,P2,...,Pn FILE
//
// FILE holds one x per line (blank lines and lines starting with '#' are skipped). Output: one
// line per x with x, y and deriv[1..n], tab-separated; a point the model cannot evaluate prints
// "missing" for y. Bad input prints one line naming the problem and exits with status 2.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fitmodels.h"

namespace {

int fail(const std::string &message) {
  std::fprintf(stderr, "fitmodels-eval: %s\n", message.c_str());
  return 2;
}

bool parse_double(const std::string &text, double &out) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && errno == 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) return fail("usage: fitmodels-eval MODEL P1,P2,...,Pn FILE");
  int16_t nIndep = 0, nDep = 0, nParams = 0;
  ModelFunction model = Get_Func(argv[1], &nIndep, &nDep, &nParams, nullptr);
  if (model == nullptr) return fail(std::string("unknown model \"") + argv[1] + "\"");
  if (nIndep != 1) return fail(std::string("model ") + argv[1] + " needs more than one x");

  std::vector<double> params{0.0};
  std::stringstream list(argv[2]);
  std::string item;
  while (std::getline(list, item, ',')) {
    double v;
    if (!parse_double(item, v)) return fail("parameter \"" + item + "\" is not a number");
    params.push_back(v);
  }
  const int n = static_cast<int>(params.size()) - 1;
  if (n < nParams)
    return fail(std::string("model ") + argv[1] + " needs at least " + std::to_string(nParams) +
                " parameters, got " + std::to_string(n));
  if (n > 1000) return fail("too many parameters");

  std::ifstream in(argv[3]);
  if (!in) return fail(std::string("cannot read \"") + argv[3] + "\"");
  std::string line;
  int lineno = 0;
  std::vector<double> y(n + 2), deriv(n + 2);
  while (std::getline(in, line)) {
    ++lineno;
    const auto start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    const auto stop = line.find_last_not_of(" \t\r");
    double x[2] = {0.0, 0.0};
    if (!parse_double(line.substr(start, stop - start + 1), x[1]))
      return fail(std::string(argv[3]) + ":" + std::to_string(lineno) + ": not a number");
    errno = 0;
    const int32_t rc = model(REQ_VALUE | REQ_DERIV, nullptr, static_cast<int16_t>(n), 0, 0,
                             params.data(), 0, x, y.data(), deriv.data());
    std::printf("%.10g", x[1]);
    if (rc != 0 || y[1] == MISSING_VALUE) {
      std::printf("\tmissing\n");
      continue;
    }
    std::printf("\t%.15g", y[1]);
    for (int i = 1; i <= n; ++i) std::printf("\t%.10g", deriv[i]);
    std::printf("\n");
  }
  return 0;
}
