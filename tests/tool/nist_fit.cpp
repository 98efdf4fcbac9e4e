// Fits one NIST StRD problem with the fitmodels tool from one of its certified starting points
// and compares the result with the certified parameters and residual sum of squares.
//   nist_fit TOOL PROBLEM_DIR MODEL start1|start2
// Prints the significant digits reached (log relative error, at most 11); exits 77 (skipped)
// when the model is not registered or the problem's folder is missing, 1 when any quantity has
// fewer than 6 digits.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fitmodels.h"

namespace {

std::string slurp(std::istream &in) {
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The numbers after "key": (one number, or a [list]).
std::vector<double> numbers(const std::string &text, const std::string &key) {
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
  if (argc != 5) return 2;
  const std::string tool = argv[1], dir = argv[2], model = argv[3], start = argv[4];
  if (Get_Func(model.c_str(), nullptr, nullptr, nullptr, nullptr) == nullptr) {
    std::printf("SKIPPED: model %s is not registered\n", model.c_str());
    return 77;
  }
  std::ifstream in(dir + "/certified.json");
  if (!in) {
    std::printf("SKIPPED: no reference data at %s/certified.json\n", dir.c_str());
    return 77;
  }
  const std::string cert = slurp(in);
  const std::vector<double> init = numbers(cert, start), want = numbers(cert, "certified_values");
  const std::vector<double> rss = numbers(cert, "residual_sum_of_squares");
  std::string init_text;
  for (double v : init) {
    char b[40];
    std::snprintf(b, sizeof b, "%s%.17g", init_text.empty() ? "" : ",", v);
    init_text += b;
  }
  const std::string cmd = tool + " fit " + model + " " + dir + "/data.csv --json --init " + init_text;
  FILE *p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (!p || pclose(p) != 0 || want.empty() || rss.empty()) {
    std::printf("%s\nfit failed: %s\n", cmd.c_str(), out.c_str());
    return 1;
  }
  // The tool's values in parameter order: every "value" field.
  std::vector<double> got;
  for (size_t at = 0; (at = out.find("\"value\":", at)) != std::string::npos; at += 8)
    got.push_back(std::strtod(out.c_str() + at + 8, nullptr));
  const std::vector<double> ssr = numbers(out, "ssr");
  if (got.size() != want.size() || ssr.empty()) {
    std::printf("unexpected output: %s\n", out.c_str());
    return 1;
  }
  double least = 11;
  std::printf("%s from %s:", dir.c_str(), start.c_str());
  for (size_t i = 0; i < want.size(); ++i) {
    const double d = digits(got[i], want[i]);
    least = std::min(least, d);
    std::printf(" b%zu %.1f", i + 1, d);
  }
  const double d = digits(ssr[0], rss[0]);
  least = std::min(least, d);
  std::printf(" RSS %.1f digits\n", d);
  return least >= 6 ? 0 : 1;
}
