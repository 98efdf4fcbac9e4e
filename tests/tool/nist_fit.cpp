// Fits one NIST StRD problem with the fitmodels tool from one of its certified starting points
// and compares the result with the certified parameters and residual sum of squares.
//   nist_fit TOOL PROBLEM_DIR MODEL start1|start2
// Prints the significant digits reached (log relative error, at most 11); exits 77 (skipped)
// when the model is not registered or the problem's folder is missing, 1 when any quantity has
// fewer than 6 digits.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fitmodels.h"
#include "support/nist.h"

int main(int argc, char **argv) {
  if (argc != 5) return 2;
  const std::string tool = argv[1], dir = argv[2], model = argv[3], start = argv[4];
  Certified cert;
  if (!load_problem(dir, model, cert)) return 77;
  const std::vector<double> &init = cert.start(start), &want = cert.values;
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
  if (!p || pclose(p) != 0) {
    std::printf("%s\nfit failed: %s\n", cmd.c_str(), out.c_str());
    return 1;
  }
  // The tool's values in parameter order: every "value" field.
  std::vector<double> got;
  for (size_t at = 0; (at = out.find("\"value\":", at)) != std::string::npos; at += 8)
    got.push_back(std::strtod(out.c_str() + at + 8, nullptr));
  const std::vector<double> ssr = json_numbers(out, "ssr");
  if (got.size() != want.size() || ssr.empty()) {
    std::printf("unexpected output: %s\n", out.c_str());
    return 1;
  }
  double least = 11;
  std::printf("%s from %s:", dir.c_str(), start.c_str());
  for (size_t i = 0; i < want.size(); ++i) {
    const double d = agreeing_digits(got[i], want[i]);
    least = std::min(least, d);
    std::printf(" b%zu %.1f", i + 1, d);
  }
  const double d = agreeing_digits(ssr[0], cert.rss);
  least = std::min(least, d);
  std::printf(" RSS %.1f digits\n", d);
  return least >= 6 ? 0 : 1;
}
