// Profile-likelihood intervals: parameter j held at trial values, the others refitted from the
// solution, until the sum of squares has risen by the interval's threshold. The root is found on
// the signed square root of the rise, which is close to linear in the parameter, so a secant
// from the asymptotic end point needs a handful of refits per side.
#include <algorithm>
#include <cmath>
#include <limits>

#include "engine.h"

namespace fmfit {
namespace {

// The profiled sum of squares at value v of the parameter free[j], refitting the others from
// `from` (1-based full parameter array). The refitted parameters go to `fitted`. NaN when the
// model fails.
double profiled(Problem &pr, size_t j, double v, const std::vector<double> &from,
                const std::vector<int> &all_free, const double *lower, const double *upper,
                const Settings &s, Workspace &ws, std::vector<double> &fitted) {
  pr.p = from;
  const size_t f = static_cast<size_t>(all_free[j]);
  pr.p[f + 1] = v;
  pr.free.clear();
  bool bounded = false;
  for (size_t k = 0; k < all_free.size(); ++k) {
    if (k == j) continue;
    pr.free.push_back(all_free[k]);
    const size_t g = static_cast<size_t>(all_free[k]);
    if ((lower && std::isfinite(lower[g])) || (upper && std::isfinite(upper[g]))) bounded = true;
  }
  pr.abort = Abort::none;
  pr.value_passes = pr.jacobian_passes = 0;
  pr.max_passes = 0;
  std::vector<double> r(pr.n);
  if (pr.residuals(r.data()) != 0) return std::numeric_limits<double>::quiet_NaN();
  if (!pr.free.empty()) {
    SolveSettings ss{std::max(s.solve.ftol, 1e-10), std::max(s.solve.xtol, 1e-10), 0.0,
                     200 * static_cast<int>(pr.free.size() + 1)};
    const int info = bounded ? solve_bounded(pr, ss, lower, upper, ws) : solve_unbounded(pr, ss, ws);
    if (info < 0) return std::numeric_limits<double>::quiet_NaN();
  }
  if (pr.residuals(r.data()) != 0) return std::numeric_limits<double>::quiet_NaN();
  double c = 0;
  for (double e : r) c += e * e;
  fitted = pr.p;
  return c;
}

}  // namespace

void profile_interval(Problem &pr, size_t j, double chi2, double delta, double half_width,
                      const double *lower, const double *upper, const Settings &s,
                      Workspace &ws, double &lo, double &hi) {
  const std::vector<double> best = pr.p;
  const std::vector<int> all_free = pr.free;
  const size_t f = static_cast<size_t>(all_free[j]);
  const double theta = best[f + 1];
  const double target = std::sqrt(delta);
  std::vector<double> fitted;
  for (int side : {-1, +1}) {
    const double bound = side < 0 ? (lower ? lower[f] : -HUGE_VAL) : (upper ? upper[f] : HUGE_VAL);
    // tau(v) = sqrt(rise of the sum of squares), signed by the side; tau(theta) = 0.
    double v0 = theta, t0 = 0.0;
    double v1 = theta + side * half_width;  // the asymptotic end point
    std::vector<double> from = best;
    double result = std::numeric_limits<double>::quiet_NaN();
    for (int iter = 0; iter < 12; ++iter) {
      bool clipped = false;
      if ((side < 0 && v1 < bound) || (side > 0 && v1 > bound)) {
        v1 = bound;
        clipped = true;
      }
      const double c = profiled(pr, j, v1, from, all_free, lower, upper, s, ws, fitted);
      if (!std::isfinite(c)) break;
      const double t1 = std::sqrt(std::max(0.0, c - chi2));
      if (std::fabs(t1 - target) <= 1e-3 * target) {
        result = v1;
        break;
      }
      if (clipped && t1 < target) {
        result = bound;  // the box ends before the threshold is reached
        break;
      }
      if (t1 > t0) from = fitted;
      double next;
      if (t1 > t0 && t1 > 0) {
        next = v1 + (target - t1) * (v1 - v0) / (t1 - t0);  // secant on tau
      } else {
        next = theta + 2 * (v1 - theta);  // flat so far: look further out
      }
      if (iter >= 6 && t1 < 1e-3 * target) {
        result = side * HUGE_VAL;  // the sum of squares does not rise on this side
        break;
      }
      // Stay on this side of the solution and do not overshoot wildly.
      if ((next - theta) * side <= 0) next = theta + 0.5 * (v1 - theta);
      v0 = v1;
      t0 = t1;
      v1 = next;
    }
    (side < 0 ? lo : hi) = result;
  }
  pr.p = best;
  pr.free = all_free;
}

}  // namespace fmfit
