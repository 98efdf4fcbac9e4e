// Numeric derivatives of a model's value and the check of its analytic derivatives against them.
//
// One finite-difference routine serves the derivative test over every model, `fitmodels check`
// and the fitter's Jacobian of a value-only model. The step for a parameter p is
//   h = relative_step * max(|p|, step_floor)
// and the derivative is the difference of the values at p + h and p - h (central) or p + h and
// p (forward), divided by the step actually taken ((p + h) - (p - h), or (p + h) - p), so the
// rounding of p + h does not bias the quotient.
//
// The one tolerance policy: an analytic derivative a agrees with the numeric one n when
//   |a - n| / (|a| + |n| + |y| + 1) <= kDerivativeTolerance
// where y is the model value at the point. With central differences and the default step the
// truncation error is O(h^2) and the rounding error O(eps |y| / h), both far below this bound at
// generic points.
#ifndef FITMODELS_CATALOG_DERIVATIVE_CHECK_H
#define FITMODELS_CATALOG_DERIVATIVE_CHECK_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "fitmodels_catalog.h"

namespace fm {

constexpr double kDerivativeTolerance = 1e-6;

// The relative disagreement of the tolerance policy.
double derivative_error(double analytic, double numeric, double value);

enum class Difference { central, forward };

struct DifferenceOptions {
  Difference kind = Difference::central;
  double relative_step = 1e-6;
  double step_floor = 1.0;
};

// The steps in use. The check (the default above) compares at generic points of moderate
// magnitude. A fitter's Jacobian of a value-only model takes steps near the square root (forward)
// and the cube root (central) of the double epsilon relative to |p|, which balance truncation and
// rounding error, with a floor small enough for parameters near 0.
constexpr DifferenceOptions kForwardJacobian{Difference::forward, 1.5e-8, 1e-8};
constexpr DifferenceOptions kCentralJacobian{Difference::central, 6e-6, 1e-6};

// A value as a function of the 1-based parameter array; false where it cannot be evaluated.
using ValueFunction = std::function<bool(const double *params, double *value)>;

// Numeric derivatives of value() with respect to params[index[j]] for j < count (1-based
// indices; index null: parameters 1..count), written to out[j * stride]. params is perturbed in
// place and restored. value0 is the value at params, used by forward differences. False when
// value() fails at a step.
bool numeric_derivatives(const ValueFunction &value, double *params, const int *index, int count,
                         double value0, const DifferenceOptions &options, double *out,
                         std::ptrdiff_t stride = 1);

// One call into a model as a host makes it, errno cleared first: the value into y (size at
// least n + 3: a multi-term model writes its term values into y[2..]), or the derivatives into
// d[1..n]. False, with the return code in *rc, when the model fails or writes a non-finite
// number or MISSING_VALUE.
bool model_value(ModelFunction f, int n, const double *params, const double *x, double *y,
                 int *rc = nullptr);
bool model_derivatives(ModelFunction f, int n, const double *params, const double *x, double *d,
                       int *rc = nullptr);

struct CheckOptions {
  DifferenceOptions difference;  // central, relative step 1e-6, floor 1
  double tolerance = kDerivativeTolerance;
};

// One point: the analytic and numeric derivatives (1-based, element 0 unused) and the worst
// disagreement. A refused point is one where the value, the derivatives or a difference step
// fails; `reason` says which.
struct ProbeResult {
  bool refused = false;
  std::string reason;
  double value = 0.0;
  std::vector<double> analytic, numeric;
  double worst = 0.0;
  int worst_param = 0;
};

// Every point probed: one Jacobian row per point evaluated, the worst disagreement over them
// and the points refused (their indices in the order probed).
struct CheckResult {
  std::vector<std::vector<double>> analytic, numeric;
  double worst = 0.0;
  int worst_point = -1, worst_param = 0;
  std::vector<int> refused;
  int probed = 0;
  bool ok = true;  // some point evaluated and every one agrees within the tolerance

  void add(const ProbeResult &p, double tolerance);
};

// Analytic derivatives of a model against numeric differences of its value.
class DerivativeChecker {
 public:
  explicit DerivativeChecker(ModelFunction f, CheckOptions options = CheckOptions())
      : f_(f), options_(options) {}
  // x[1..3] and params[1..n].
  ProbeResult probe(const double *x, const double *params, int n) const;
  // Every point given.
  CheckResult check(const fm_point *points, int count) const;
  const CheckOptions &options() const { return options_; }

 private:
  ModelFunction f_;
  CheckOptions options_;
};

}  // namespace fm

#endif
