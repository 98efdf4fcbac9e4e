// Box-constrained least squares: the engine (Ceres Solver's trust-region Levenberg-Marquardt with
// an active set on the bounds) beside NLopt's bounded minimisers of the sum of squares, on a
// small and a large problem whose optimum lies on a bound. Prints, per solver, fits per CPU
// second and where it ended.
//   bounded_solvers
// Small: BoxBOD, y = a (1 - exp(-b x)) with a <= 200 from (1, 1); the optimum is a = 200,
// b = 0.65354875112 (the fit of b with a held at 200). Large: Gauss2D on 300 x 300 points with
// w1 <= 1 where the data have w1 = 1.2.
#include <nlopt.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "fitmodels_fit.h"

namespace {

struct Data {
  ModelFunction f;
  int ni, np;
  std::vector<double> x, y;
  size_t n() const { return y.size(); }
};

double cpu() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

// Sum of squares and its gradient 2 J^T r, for NLopt.
double objective(unsigned n, const double *v, double *grad, void *ctx) {
  Data &d = *static_cast<Data *>(ctx);
  std::vector<double> p(n + 1), y(n + 4), dd(n + 1);
  for (unsigned j = 0; j < n; ++j) p[j + 1] = v[j];
  double s = 0;
  if (grad)
    for (unsigned j = 0; j < n; ++j) grad[j] = 0;
  for (size_t i = 0; i < d.n(); ++i) {
    double xb[4] = {0, d.x[i * d.ni], d.ni > 1 ? d.x[i * d.ni + 1] : 0, 0};
    if (d.f(REQ_VALUE, nullptr, static_cast<int16_t>(n), 0, 0, p.data(), 0, xb, y.data(),
            nullptr) != 0)
      return HUGE_VAL;
    const double r = y[1] - d.y[i];
    s += r * r;
    if (grad) {
      d.f(REQ_DERIV, nullptr, static_cast<int16_t>(n), 0, 0, p.data(), 0, xb, y.data(), dd.data());
      for (unsigned j = 0; j < n; ++j) grad[j] += 2 * r * dd[j + 1];
    }
  }
  return s;
}

void nlopt_run(const char *label, nlopt_algorithm alg, Data &d, const std::vector<double> &start,
               const std::vector<double> &lo, const std::vector<double> &hi, int reps) {
  std::vector<double> v;
  double minf = 0;
  int rc = 0;
  const double c0 = cpu();
  for (int r = 0; r < reps; ++r) {
    nlopt_opt o = nlopt_create(alg, static_cast<unsigned>(d.np));
    nlopt_set_lower_bounds(o, lo.data());
    nlopt_set_upper_bounds(o, hi.data());
    nlopt_set_min_objective(o, objective, &d);
    nlopt_set_ftol_rel(o, 1e-14);
    nlopt_set_xtol_rel(o, 1e-12);
    nlopt_set_maxeval(o, 20000);
    v = start;
    rc = nlopt_optimize(o, v.data(), &minf);
    nlopt_destroy(o);
  }
  const double t = cpu() - c0;
  std::printf("%-22s %10.1f fits/CPU-s  rc=%d  rss=%.10g  p=", label, reps / t, rc, minf);
  for (double p : v) std::printf("%.10g ", p);
  std::printf("\n");
}

void engine_run(Data &d, const std::vector<double> &start, const std::vector<double> &lo,
                const std::vector<double> &hi, int reps) {
  fmfit_model m{nullptr, d.f, nullptr, static_cast<int16_t>(d.ni), static_cast<int16_t>(d.np), 1};
  fmfit_data data{d.n(), d.x.data(), d.y.data(), nullptr};
  fmfit_constraints c{nullptr, lo.data(), hi.data()};
  std::vector<double> p(static_cast<size_t>(d.np));
  fmfit_output out{p.data(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  fmfit_summary s;
  const double c0 = cpu();
  for (int r = 0; r < reps; ++r) fmfit_fit(&m, &data, start.data(), &c, nullptr, &s, &out);
  const double t = cpu() - c0;
  std::printf("%-22s %10.1f fits/CPU-s  %s  rss=%.10g  passes=%d  p=", "engine (Ceres LM)",
              reps / t, fmfit_status_name(s.status), s.chi2, s.model_evaluations);
  for (double v : p) std::printf("%.10g ", v);
  std::printf("\n");
}

}  // namespace

int main() {
  Data box{get_funx("BoxLucas1"), 1, 2, {1, 2, 3, 5, 7, 10}, {109, 149, 149, 191, 213, 224}};
  const std::vector<double> s1{1, 1}, lo1{-HUGE_VAL, -HUGE_VAL}, hi1{200, HUGE_VAL};
  std::printf("small: BoxBOD, a <= 200 (optimum a = 200, b = 0.65354875112)\n");
  engine_run(box, s1, lo1, hi1, 2000);
  nlopt_run("NLopt LD_SLSQP", NLOPT_LD_SLSQP, box, s1, lo1, hi1, 2000);
  nlopt_run("NLopt LD_LBFGS", NLOPT_LD_LBFGS, box, s1, lo1, hi1, 2000);
  nlopt_run("NLopt LD_MMA", NLOPT_LD_MMA, box, s1, lo1, hi1, 200);
  nlopt_run("NLopt LN_BOBYQA", NLOPT_LN_BOBYQA, box, s1, lo1, hi1, 2000);

  Data g{get_funx("Gauss2D"), 2, 6, {}, {}};
  std::mt19937_64 rng(5);
  std::normal_distribution<double> e(0, 0.2);
  const double truth[7] = {0, 1, 10, 1.5, 1.2, 1.5, 0.9};
  double y[8], dd[8];
  for (int i = 0; i < 300; ++i)
    for (int k = 0; k < 300; ++k) {
      double xb[3] = {0, i / 100.0, k / 100.0};
      g.f(REQ_VALUE, nullptr, 6, 0, 0, truth, 0, xb, y, dd);
      g.x.insert(g.x.end(), {xb[1], xb[2]});
      g.y.push_back(y[1] + e(rng));
    }
  const std::vector<double> s2{1.1, 9, 1.6, 0.9, 1.4, 1.0};
  const std::vector<double> lo2(6, -HUGE_VAL);
  std::vector<double> hi2(6, HUGE_VAL);
  hi2[3] = 1.0;
  std::printf("large: Gauss2D, 9e4 points, w1 <= 1 (data w1 = 1.2)\n");
  engine_run(g, s2, lo2, hi2, 3);
  nlopt_run("NLopt LD_SLSQP", NLOPT_LD_SLSQP, g, s2, lo2, hi2, 3);
  nlopt_run("NLopt LD_LBFGS", NLOPT_LD_LBFGS, g, s2, lo2, hi2, 3);
  return 0;
}
