#include "catalog/derivative_check.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace fm {
namespace {

bool finite_result(double v) { return std::isfinite(v) && v != MISSING_VALUE; }

// Scratch space for the outputs a call may write besides the ones asked for.
double *scratch(size_t n) {
  thread_local std::vector<double> buffer;
  if (buffer.size() < n) buffer.resize(n);
  return buffer.data();
}

}  // namespace

double derivative_error(double analytic, double numeric, double value) {
  return std::fabs(analytic - numeric) /
         (std::fabs(analytic) + std::fabs(numeric) + std::fabs(value) + 1.0);
}

bool numeric_derivatives(const ValueFunction &value, double *params, const int *index, int count,
                         double value0, const DifferenceOptions &options, double *out,
                         std::ptrdiff_t stride) {
  for (int j = 0; j < count; ++j) {
    double &p = params[index ? index[j] : j + 1];
    const double saved = p;
    const double h = options.relative_step * std::max(std::fabs(saved), options.step_floor);
    double up = 0.0, down = value0;
    p = saved + h;
    const double hi = p;
    bool ok = value(params, &up);
    double lo = saved;
    if (ok && options.kind == Difference::central) {
      p = saved - h;
      lo = p;
      ok = value(params, &down);
    }
    p = saved;
    if (!ok) return false;
    out[j * stride] = (up - down) / (hi - lo);
  }
  return true;
}

bool model_value(ModelFunction f, int n, const double *params, const double *x, double *y,
                 int *rc) {
  errno = 0;
  y[1] = 0.0;
  const int32_t r = f(REQ_VALUE, nullptr, static_cast<int16_t>(n), 0, 0, params, 0, x, y,
                      scratch(static_cast<size_t>(std::max(n, 0)) + 4));
  if (rc) *rc = r;
  return r == 0 && finite_result(y[1]);
}

bool model_derivatives(ModelFunction f, int n, const double *params, const double *x, double *d,
                       int *rc) {
  double *y = scratch(static_cast<size_t>(std::max(n, 0)) + 4);
  errno = 0;
  for (int i = 1; i <= n; ++i) d[i] = 0.0;
  const int32_t r = f(REQ_DERIV, nullptr, static_cast<int16_t>(n), 0, 0, params, 0, x, y, d);
  if (rc) *rc = r;
  if (r != 0) return false;
  for (int i = 1; i <= n; ++i)
    if (!finite_result(d[i])) return false;
  return true;
}

void CheckResult::add(const ProbeResult &p, double tolerance) {
  const int index = probed++;
  if (p.refused) {
    refused.push_back(index);
  } else {
    analytic.push_back(p.analytic);
    numeric.push_back(p.numeric);
    if (p.worst > worst || worst_point < 0) {
      worst = std::max(worst, p.worst);
      worst_point = index;
      worst_param = p.worst_param;
    }
  }
  ok = !analytic.empty() && worst <= tolerance;
}

ProbeResult DerivativeChecker::probe(const double *x, const double *params, int n) const {
  ProbeResult r;
  std::vector<double> p(params, params + n + 1), y(static_cast<size_t>(n) + 4);
  r.analytic.assign(static_cast<size_t>(n) + 1, 0.0);
  r.numeric.assign(static_cast<size_t>(n) + 1, 0.0);
  if (!model_value(f_, n, p.data(), x, y.data())) {
    r.refused = true;
    r.reason = "the value fails";
    return r;
  }
  r.value = y[1];
  if (!model_derivatives(f_, n, p.data(), x, r.analytic.data())) {
    r.refused = true;
    r.reason = "the derivatives fail";
    return r;
  }
  const ValueFunction value = [&](const double *q, double *v) {
    if (!model_value(f_, n, q, x, y.data())) return false;
    *v = y[1];
    return true;
  };
  if (!numeric_derivatives(value, p.data(), nullptr, n, r.value, options_.difference,
                           r.numeric.data() + 1)) {
    r.refused = true;
    r.reason = "the value fails at a difference step";
    return r;
  }
  for (int i = 1; i <= n; ++i) {
    const double e = derivative_error(r.analytic[static_cast<size_t>(i)],
                                      r.numeric[static_cast<size_t>(i)], r.value);
    if (!(e <= r.worst)) {  // a NaN disagreement is the worst
      r.worst = std::isnan(e) ? HUGE_VAL : e;
      r.worst_param = i;
    }
  }
  return r;
}

CheckResult DerivativeChecker::check(const fm_point *points, int count) const {
  CheckResult result;
  for (int k = 0; k < count; ++k)
    result.add(probe(points[k].x, points[k].params, points[k].nparams), options_.tolerance);
  return result;
}

}  // namespace fm
