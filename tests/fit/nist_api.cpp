// Fits one NIST StRD problem through the engine's C API from one of its certified starts and
// compares with the certified parameters, standard deviations and residual sum of squares.
//   nist_api PROBLEM_DIR MODEL start1|start2
// Prints the significant digits reached; exits 77 (skipped) when the model is not registered,
// 1 when the fit does not converge, a value or the sum of squares has fewer than 6 digits or a
// standard deviation fewer than 4.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fit_support.h"
#include "support/nist.h"

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  const std::string dir = argv[1], model = argv[2], start = argv[3];
  Certified cert;
  if (!load_problem(dir, model, cert)) return 77;
  const std::vector<double> &init = cert.start(start), &want = cert.values, &sd = cert.std_dev;
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
    const double dv = agreeing_digits(p[i], want[i]), ds = agreeing_digits(se[i], sd[i]);
    ok = ok && dv >= 6 && ds >= 4;
    std::printf(" b%zu %.1f (sd %.1f)", i + 1, dv, ds);
  }
  const double dr = agreeing_digits(s.chi2, cert.rss);
  ok = ok && dr >= 6;
  std::printf(" RSS %.1f digits\n", dr);
  return ok ? 0 : 1;
}
