// Problems with bounds: Ceres Solver's trust-region Levenberg-Marquardt, which keeps every trial
// point inside the box (steps are projected onto it) and measures convergence by the projected
// gradient, so a point on a bound is accepted only where the descent direction leaves the box.
#include <ceres/ceres.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "problem.h"

namespace fmfit {
namespace {

class Residuals final : public ceres::CostFunction {
 public:
  explicit Residuals(Problem &pr) : pr_(pr) {
    set_num_residuals(static_cast<int>(pr.n));
    mutable_parameter_block_sizes()->push_back(static_cast<int32_t>(pr.free.size()));
  }
  bool Evaluate(double const *const *parameters, double *residuals,
                double **jacobians) const override {
    pr_.set_free(parameters[0]);
    if (!pr_.pass(false)) return false;
    if (pr_.residuals(residuals) != 0) return false;  // a point fails: the step is refused
    if (jacobians != nullptr && jacobians[0] != nullptr) {
      if (!pr_.pass(true)) return false;
      if (!pr_.jacobian(jacobians[0], pr_.free.size(), 1, false)) return false;
    }
    return true;
  }

 private:
  Problem &pr_;
};

// Stops the solver when the host cancels or the time or evaluation limit passes.
class Stop final : public ceres::IterationCallback {
 public:
  explicit Stop(Problem &pr) : pr_(pr) {}
  ceres::CallbackReturnType operator()(const ceres::IterationSummary &) override {
    return pr_.abort == Abort::none ? ceres::SOLVER_CONTINUE : ceres::SOLVER_ABORT;
  }

 private:
  Problem &pr_;
};

int solve_ceres(Problem &pr, const SolveSettings &s, const double *lower, const double *upper) {
  const size_t nf = pr.free.size();
  std::vector<double> v(nf);
  for (size_t j = 0; j < nf; ++j) v[j] = pr.p[static_cast<size_t>(pr.free[j]) + 1];
  Residuals cost(pr);
  Stop stop(pr);
  ceres::Problem::Options po;
  po.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
  ceres::Problem problem(po);
  problem.AddResidualBlock(&cost, nullptr, v.data());
  for (size_t j = 0; j < nf; ++j) {
    const size_t f = static_cast<size_t>(pr.free[j]);
    if (lower && std::isfinite(lower[f]))
      problem.SetParameterLowerBound(v.data(), static_cast<int>(j), lower[f]);
    if (upper && std::isfinite(upper[f]))
      problem.SetParameterUpperBound(v.data(), static_cast<int>(j), upper[f]);
  }
  ceres::Solver::Options o;
  o.minimizer_type = ceres::TRUST_REGION;
  o.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  o.linear_solver_type = ceres::DENSE_QR;
  o.function_tolerance = s.ftol;
  o.parameter_tolerance = s.xtol;
  o.gradient_tolerance = s.gtol;
  o.max_num_iterations = s.max_passes;
  o.max_num_consecutive_invalid_steps = 20;
  o.num_threads = 1;
  o.logging_type = ceres::SILENT;
  o.minimizer_progress_to_stdout = false;
  o.callbacks.push_back(&stop);
  pr.max_passes = s.max_passes > 0 ? 2 * s.max_passes : 0;
  ceres::Solver::Summary summary;
  ceres::Solve(o, &problem, &summary);
  pr.set_free(v.data());
  if (pr.abort != Abort::none) return -1;
  switch (summary.termination_type) {
    case ceres::CONVERGENCE: return 1;
    case ceres::NO_CONVERGENCE: return 5;
    default: return 0;
  }
}

bool has_bound(const double *lower, const double *upper, size_t f) {
  return (lower && std::isfinite(lower[f])) || (upper && std::isfinite(upper[f]));
}
bool at(double v, const double *b, size_t f) {
  return b && std::isfinite(b[f]) && std::fabs(v - b[f]) <= 1e-12 * std::max(1.0, std::fabs(b[f]));
}

}  // namespace

// The projected steps of the box-constrained trust region crawl along a bound that is active at
// the solution. So the parameters that reach a bound are held there and the rest solved again
// (without the box where none of them has a bound); a held one is released, and the box solve
// resumed, when its gradient points back into the box.
int solve_bounded(Problem &pr, const SolveSettings &s, const double *lower, const double *upper,
                  Workspace &ws) {
  const std::vector<int> all = pr.free;
  std::vector<char> pinned(pr.p.size(), 0);
  int info = solve_ceres(pr, s, lower, upper);
  for (size_t round = 0; round <= all.size() && info >= 0; ++round) {
    bool changed = false;
    for (int f : all) {
      const size_t u = static_cast<size_t>(f);
      if (!pinned[u] && (at(pr.p[u + 1], lower, u) || at(pr.p[u + 1], upper, u))) {
        pinned[u] = 1;
        changed = true;
      }
    }
    if (!changed && round > 0) break;
    if (!changed) break;
    pr.free.clear();
    bool boxed = false;
    for (int f : all)
      if (!pinned[static_cast<size_t>(f)]) {
        pr.free.push_back(f);
        boxed = boxed || has_bound(lower, upper, static_cast<size_t>(f));
      }
    if (!pr.free.empty())
      info = boxed ? solve_ceres(pr, s, lower, upper) : solve_unbounded(pr, s, ws);
    // Release the pinned parameters whose gradient points into the box.
    std::vector<int> held;
    for (int f : all)
      if (pinned[static_cast<size_t>(f)]) held.push_back(f);
    pr.free = held;
    std::vector<double> r(pr.n), J(pr.n * held.size());
    bool released = false;
    if (info >= 0 && pr.residuals(r.data()) == 0 && pr.jacobian(J.data(), 1, pr.n, false)) {
      for (size_t j = 0; j < held.size(); ++j) {
        double g = 0;
        for (size_t i = 0; i < pr.n; ++i) g += J[j * pr.n + i] * r[i];
        const size_t u = static_cast<size_t>(held[j]);
        if ((at(pr.p[u + 1], lower, u) && g < 0) || (at(pr.p[u + 1], upper, u) && g > 0)) {
          pinned[u] = 0;
          released = true;
        }
      }
    }
    pr.free = all;
    if (!released) break;
    info = solve_ceres(pr, s, lower, upper);
    std::fill(pinned.begin(), pinned.end(), 0);
  }
  pr.free = all;
  return info;
}

}  // namespace fmfit
