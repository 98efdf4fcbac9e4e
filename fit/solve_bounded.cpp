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
    // A stop request (pass() false) is answered by the iteration callback: refusing the
    // evaluation here would make the solver log an error.
    pr_.set_free(parameters[0]);
    pr_.pass(false);
    if (pr_.residuals(residuals) != 0) return false;  // a point fails: the step is refused
    if (jacobians != nullptr && jacobians[0] != nullptr) {
      pr_.pass(true);
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
    // Terminating "successfully" keeps the point reached (an abort would discard it).
    return pr_.abort == Abort::none ? ceres::SOLVER_CONTINUE
                                    : ceres::SOLVER_TERMINATE_SUCCESSFULLY;
  }

 private:
  Problem &pr_;
};

int solve_ceres(Problem &pr, const SolveSettings &s, const double *lower, const double *upper,
                int iterations) {
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
  o.max_num_iterations = iterations;
  o.max_num_consecutive_invalid_steps = 20;
  o.num_threads = 1;
  o.logging_type = ceres::SILENT;
  o.minimizer_progress_to_stdout = false;
  o.callbacks.push_back(&stop);
  ceres::Solver::Summary summary;
  ceres::Solve(o, &problem, &summary);
  pr.set_free(v.data());
  if (pr.abort != Abort::none) return pr.abort == Abort::evaluation_limit ? 5 : -1;
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

// The parameters held on a bound (pinned) whose gradient points back into the box are released
// (unpinned): nothing_held when none is pinned, failed when the residuals or the Jacobian of the
// held ones cannot be evaluated, none or some by what was released. Leaves pr.free at the held
// parameters.
enum class Release { nothing_held, failed, none, some };
Release release_pinned(Problem &pr, const std::vector<int> &all, std::vector<char> &pinned,
                       const double *lower, const double *upper) {
  std::vector<int> held;
  for (int f : all)
    if (pinned[static_cast<size_t>(f)]) held.push_back(f);
  if (held.empty()) return Release::nothing_held;
  pr.free = held;
  std::vector<double> r(pr.n), J(pr.n * held.size());
  if (pr.residuals(r.data()) != 0 || !pr.jacobian(J.data(), 1, pr.n, false))
    return Release::failed;
  Release out = Release::none;
  for (size_t j = 0; j < held.size(); ++j) {
    double g = 0;
    for (size_t i = 0; i < pr.n; ++i) g += J[j * pr.n + i] * r[i];
    const size_t u = static_cast<size_t>(held[j]);
    if ((at(pr.p[u + 1], lower, u) && g < 0) || (at(pr.p[u + 1], upper, u) && g > 0)) {
      pinned[u] = 0;
      out = Release::some;
    }
  }
  return out;
}

}  // namespace

// The projected steps of the box-constrained trust region crawl along a bound that is active at
// the solution (dozens of iterations of tiny steps). So the trust region runs to a loose
// tolerance to find which bounds are active; those parameters are held on their bounds and the
// rest solved to the full tolerance (by lmder where none of them has a finite bound and its
// solution stays in the box, by the trust region otherwise); a held one is released, and the
// solve repeated, when its gradient points back into the box. Ends at a point that satisfies
// the first-order conditions of the box, which the verdict checks again.
int solve_box_trust_region(Problem &pr, const SolveSettings &s, const double *lower,
                           const double *upper, Workspace &ws) {
  const std::vector<int> all = pr.free;
  std::vector<char> pinned(pr.p.size(), 0);
  SolveSettings loose = s;
  loose.ftol = std::max(s.ftol, 1e-6);
  loose.xtol = std::max(s.xtol, 1e-6);
  int info = solve_ceres(pr, loose, lower, upper, std::min(s.max_passes, 20));
  // The short first run only finds the active bounds.
  if (info == 5 && pr.abort == Abort::none) info = 1;
  auto inside = [&](size_t u) {
    const double v = pr.p[u + 1];
    return !(lower && v < lower[u]) && !(upper && v > upper[u]);
  };
  for (size_t round = 0; round <= 2 * all.size() + 1 && info >= 0 && pr.abort == Abort::none;
       ++round) {
    for (int f : all) {
      const size_t u = static_cast<size_t>(f);
      if (at(pr.p[u + 1], lower, u) || at(pr.p[u + 1], upper, u)) pinned[u] = 1;
    }
    pr.free.clear();
    bool boxed = false;
    for (int f : all)
      if (!pinned[static_cast<size_t>(f)]) {
        pr.free.push_back(f);
        boxed = boxed || has_bound(lower, upper, static_cast<size_t>(f));
      }
    if (pr.free.empty()) {
      info = 1;
    } else if (boxed) {
      info = solve_ceres(pr, s, lower, upper, s.max_passes);
    } else {
      const std::vector<double> saved = pr.p;
      info = solve_unbounded(pr, s, ws);
      bool ok = info >= 0;
      for (int f : pr.free) ok = ok && inside(static_cast<size_t>(f));
      if (!ok && pr.abort == Abort::none) {
        pr.p = saved;
        info = solve_ceres(pr, s, lower, upper, s.max_passes);
      }
    }
    if (info < 0 || pr.abort != Abort::none) break;
    // A parameter that reached a bound in this solve is held from the next round on.
    bool reached = false;
    for (int f : pr.free) {
      const size_t u = static_cast<size_t>(f);
      reached = reached || at(pr.p[u + 1], lower, u) || at(pr.p[u + 1], upper, u);
    }
    if (reached) continue;
    // Release the held parameters whose gradient points into the box.
    if (release_pinned(pr, all, pinned, lower, upper) != Release::some) break;
    // Released ones move off their bound in the next solve; pin only what then sits on one.
    pr.free = all;
    info = solve_ceres(pr, s, lower, upper, s.max_passes);
    std::fill(pinned.begin(), pinned.end(), 0);
  }
  pr.free = all;
  return info;
}

// Active set over lmder: the free parameters are solved without the box; those that end beyond
// a bound are put on it and held, the rest solved again, until every free one lies inside; then
// a held one whose gradient points into the box is released and the round repeated. True when
// it ends at a point that satisfies the first-order conditions of the box.
bool solve_active_set(Problem &pr, const SolveSettings &s, const double *lower,
                      const double *upper, Workspace &ws, int &info) {
  const std::vector<int> all = pr.free;
  std::vector<char> pinned(pr.p.size(), 0);
  info = solve_unbounded(pr, s, ws);
  bool done = false;
  for (size_t round = 0; round <= 2 * all.size() + 2; ++round) {
    if (info < 0 || info == 5 || pr.abort != Abort::none) break;
    bool moved = false;
    for (int f : all) {
      const size_t u = static_cast<size_t>(f);
      if (pinned[u]) continue;
      double &v = pr.p[u + 1];
      if (lower && v <= lower[u]) {
        moved = moved || v != lower[u];
        v = lower[u];
        pinned[u] = 1;
      } else if (upper && v >= upper[u]) {
        moved = moved || v != upper[u];
        v = upper[u];
        pinned[u] = 1;
      }
    }
    pr.free.clear();
    for (int f : all)
      if (!pinned[static_cast<size_t>(f)]) pr.free.push_back(f);
    if (moved) {
      std::vector<double> r(pr.n);
      if (pr.residuals(r.data()) != 0) break;  // the model fails on the bound: no shortcut
      info = pr.free.empty() ? 1 : solve_unbounded(pr, s, ws);
      continue;
    }
    const Release released = release_pinned(pr, all, pinned, lower, upper);
    if (released == Release::failed) break;  // the model fails on the bound
    if (released != Release::some) {
      done = true;
      break;
    }
    pr.free.clear();
    for (int f : all)
      if (!pinned[static_cast<size_t>(f)]) pr.free.push_back(f);
    info = solve_unbounded(pr, s, ws);
  }
  pr.free = all;
  return done;
}

double sum_of_squares(Problem &pr) {
  std::vector<double> r(pr.n);
  if (pr.residuals(r.data()) != 0) return HUGE_VAL;
  double c = 0;
  for (double e : r) c += e * e;
  return c;
}

// Whether some free parameter inside the box has a zero Jacobian column (the data say nothing
// about it there: lmder may have run off to where a model saturates).
bool zero_column(Problem &pr, const double *lower, const double *upper) {
  const std::vector<int> all = pr.free;
  pr.free.clear();
  for (int f : all) {
    const size_t u = static_cast<size_t>(f);
    if (!at(pr.p[u + 1], lower, u) && !at(pr.p[u + 1], upper, u)) pr.free.push_back(f);
  }
  std::vector<double> J(pr.n * pr.free.size());
  bool zero = false;
  if (!pr.free.empty() && pr.jacobian(J.data(), 1, pr.n, false)) {
    std::vector<double> c(pr.free.size());
    double biggest = 0;
    for (size_t j = 0; j < pr.free.size(); ++j) {
      double s2 = 0;
      for (size_t i = 0; i < pr.n; ++i) s2 += J[j * pr.n + i] * J[j * pr.n + i];
      const double v = pr.p[static_cast<size_t>(pr.free[j]) + 1];
      c[j] = std::sqrt(s2) * (v != 0 ? std::fabs(v) : 1.0);
      biggest = std::max(biggest, c[j]);
    }
    for (double v : c) zero = zero || !(v > 1e-10 * biggest);
  }
  pr.free = all;
  return zero;
}

// Bounded problems: the active set over lmder first (a few lmder runs where it settles); where
// it does not settle, or settles where a parameter has no influence, the trust region in the
// box from the start, keeping the better of the two.
int solve_bounded(Problem &pr, const SolveSettings &s, const double *lower, const double *upper,
                  Workspace &ws) {
  const std::vector<double> start = pr.p;
  pr.max_passes = s.max_passes;  // the evaluation limit covers every solve of the fit
  int info = 0;
  const bool settled = solve_active_set(pr, s, lower, upper, ws, info);
  if (info == 5 || pr.abort != Abort::none) return pr.abort == Abort::evaluation_limit ? 5 : info;
  if (settled && !zero_column(pr, lower, upper)) return info;
  const std::vector<double> first = pr.p;
  const double first_chi2 = settled ? sum_of_squares(pr) : HUGE_VAL;
  pr.p = start;
  const int second = solve_box_trust_region(pr, s, lower, upper, ws);
  if (pr.abort != Abort::none) return pr.abort == Abort::evaluation_limit ? 5 : second;
  if (sum_of_squares(pr) <= first_chi2) return second;
  pr.p = first;
  return info;
}

}  // namespace fmfit
