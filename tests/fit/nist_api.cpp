// Fits one NIST StRD problem through the engine's C API from one of its certified starts and
// compares with the certified parameters, standard deviations and residual sum of squares.
//   nist_api PROBLEM_DIR MODEL start1|start2
// Prints the significant digits reached; exits 77 (skipped) when the model is not registered,
// 1 when the fit does not converge, a value or the sum of squares has fewer than 6 digits or a
// standard deviation fewer than 4.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fit_support.h"

namespace {

// The numbers after "key": (one number, or a [list]).
std::vector<double> field(const std::string &text, const std::string &key) {
  std::vector<double> out;
  size_t at = text.find("\"" + key + "\"");
  if (at == std::string::npos) return out;
  at = text.find(':', at) + 1;
  const bool list = text.find_first_not_of(" \n\r\t", at) == text.find('[', at);
  const size_t end = list ? text.find(']', at) : text.find_first_of(",}", at);
  std::stringstream s(text.substr(at, end - at));
  std::string item;
  while (std::getline(s, item, ',')) {
    const size_t b = item.find_first_of("-0123456789.");
    if (b != std::string::npos) out.push_back(std::strtod(item.c_str() + b, nullptr));
  }
  return out;
}

double digits(double got, double want) {
  const double rel = std::fabs(got - want) / std::fabs(want);
  return rel == 0 ? 11.0 : std::min(11.0, -std::log10(rel));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  const std::string dir = argv[1], model = argv[2], start = argv[3];
  if (Get_Func(model.c_str(), nullptr, nullptr, nullptr, nullptr) == nullptr) {
    std::printf("SKIPPED: model %s is not registered\n", model.c_str());
    return 77;
  }
  std::ifstream in(dir + "/certified.json");
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string cert = ss.str();
  const std::vector<double> init = field(cert, start), want = field(cert, "certified_values"),
                            sd = field(cert, "certified_std_dev"),
                            rss = field(cert, "residual_sum_of_squares");
  if (init.empty() || init.size() != want.size() || sd.size() != want.size() || rss.empty()) {
    std::printf("cannot read %s/certified.json\n", dir.c_str());
    return 1;
  }
  const fittest::Points pts = fittest::read_csv(dir + "/data.csv");
  const fmfit_model m{model.c_str(), nullptr, nullptr, 0, static_cast<int16_t>(init.size()), 0};
  const fmfit_data d = pts.data();
  std::vector<double> p(init.size()), se(init.size());
  fmfit_output out{p.data(), se.data(), nullptr, nullptr, nullptr, nullptr, nullptr};
  fmfit_summary s;
  const int32_t status = fmfit_fit(&m, &d, init.data(), nullptr, nullptr, &s, &out);
  std::printf("%s from %s: %s (%s);", dir.c_str(), start.c_str(), fmfit_status_name(status),
              s.message);
  bool ok = status == FMFIT_CONVERGED;
  for (size_t i = 0; i < want.size(); ++i) {
    const double dv = digits(p[i], want[i]), ds = digits(se[i], sd[i]);
    ok = ok && dv >= 6 && ds >= 4;
    std::printf(" b%zu %.1f (sd %.1f)", i + 1, dv, ds);
  }
  const double dr = digits(s.chi2, rss[0]);
  ok = ok && dr >= 6;
  std::printf(" RSS %.1f digits\n", dr);
  return ok ? 0 : 1;
}
