// One least-squares problem as the solvers see it: the model bound to one data set, the free
// parameters, and the residuals and Jacobian over the free parameters. Everything a fit touches
// lives here or in its Workspace, so fits share nothing and run on any thread.
#ifndef FITMODELS_FIT_PROBLEM_H
#define FITMODELS_FIT_PROBLEM_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fitmodels_fit.h"

namespace fmfit {

// A model resolved from a name or a function: what the engine calls and how.
struct Model {
  ModelFunction function = nullptr;
  void *context = nullptr;
  int nIndep = 1;
  int nParams = 0;
  bool derivatives = false;
  const char *name = nullptr;  // for messages; may be null
};

// Resolves a public model description; false (with a message) when it names nothing usable.
bool resolve_model(const fmfit_model *in, Model &out, char *message, size_t size);

// Why a solver callback asked to stop.
enum class Abort { none, cancelled, time_limit, evaluation_limit, jacobian_failed };

// Limits and stop requests shared by the fits of one call.
struct Control {
  const volatile int32_t *cancel = nullptr;
  bool has_deadline = false;
  std::chrono::steady_clock::time_point deadline;
  // The call's own stop, set when the progress callback cancels.
  const int32_t *batch_cancel = nullptr;

  Abort check() const;
};

struct Problem {
  Model model;
  const double *x = nullptr;  // n x nIndep
  const double *y = nullptr;
  const double *w = nullptr;  // null: all 1
  size_t n = 0;
  std::vector<int> free;      // 0-based indices of the fitted parameters
  std::vector<int> free1;     // the same, 1-based (see free_index)
  std::vector<double> p;      // 1-based parameter array handed to the model (size nParams + 1)
  std::vector<double> ybuf, dbuf;
  double xbuf[4] = {0, 0, 0, 0};
  const Control *control = nullptr;
  Abort abort = Abort::none;
  int value_passes = 0, jacobian_passes = 0;
  int max_passes = 0;         // 0: no limit
  const double *cached = nullptr;  // residuals of the current point, for the next request

  void bind(const Model &m, const fmfit_data &data);
  double weight(size_t i) const { return w ? w[i] : 1.0; }
  void set_free(const double *v) {
    for (size_t j = 0; j < free.size(); ++j) p[static_cast<size_t>(free[j]) + 1] = v[j];
  }
  // The model's value at point i for the current parameters; false when it fails there.
  bool value(size_t i, double &f);
  // The free parameters as 1-based indices into p, rebuilt when free has changed.
  const std::vector<int> &free_index();
  // Analytic derivatives at point i into dbuf[1..nParams]; false when they fail.
  bool derivs(size_t i);
  // Weighted residuals w (f - y); a failing point gets kFailedResidual (a very poor step) and
  // the function reports the first failing point (1-based, 0 when none).
  size_t residuals(double *r);
  // Jacobian of the weighted residuals over the free parameters, element (i, j) at
  // J[i * rs + j * cs]: analytic where the model serves it (forward differences at points where
  // it fails), differences otherwise. central: central differences for value-only models
  // (statistics).
  bool jacobian(double *J, size_t rs, size_t cs, bool central);
  // Counts a pass and checks the stop requests; false when the solver should stop.
  bool pass(bool jacobian_pass);
};

// A trial point where the model fails: far worse than any real one, so the step is rejected.
constexpr double kFailedResidual = 1e50;

// Differences of the model at point i over the free parameters into row[j * stride], weighted:
// the catalogue's numeric derivatives with the fitter's forward or central steps. f0 is the
// value at the point for forward differences.
bool difference_row(Problem &pr, size_t i, double f0, bool central, double *row, size_t stride);

// Scratch arrays of one thread, grown on demand and reused across fits (their contents never
// carry from one fit to the next).
struct FitScratch {
  Problem pr;
  std::vector<double> guess, p0, r, J, norm, grad, A, cov, rdiag, acnorm, wa, se;
  std::vector<int> free, ipvt;
  std::vector<size_t> active;
  std::vector<uint8_t> flag;
};
struct Workspace {
  std::vector<double> a, b, c, d, e, f, g, h, k;
  std::vector<int> ipvt;
  FitScratch s;  // used by the fit itself, never by the solvers
};

// The solvers. Each starts from pr.p, leaves the solution in pr.p and returns the solver's
// stopping code (MINPACK info: 1-4, 6-8 stopped normally, 5 evaluation limit, < 0 aborted).
struct SolveSettings {
  double ftol, xtol, gtol;
  int max_passes;
};
int solve_unbounded(Problem &pr, const SolveSettings &s, Workspace &ws);
int solve_bounded(Problem &pr, const SolveSettings &s, const double *lower, const double *upper,
                  Workspace &ws);

}  // namespace fmfit

#endif
