#include "fit.h"

#include <cminpack-1/cminpack.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <sstream>

#include "catalog/derivative_check.h"

namespace fmtool {
namespace {

// A trial point at which the model fails gets this residual: the step looks far worse than the
// current point, so Levenberg-Marquardt rejects it and shrinks its trust region.
constexpr double kFailedResidual = 1e50;
constexpr double kMaxJacobianBytes = 4e9;
constexpr double kWorkBound = 5e9;

struct Problem {
  const ModelInfo *model;
  int n;
  const Data *data;
  std::vector<int> free;    // indices (0-based) of the fitted parameters
  std::vector<int> index;   // the same, 1-based: their places in full
  std::vector<double> full; // 1-based parameter array handed to the model
  std::vector<double> y, d;
  bool jacobian_failed = false;
  // The caps of FitOptions, checked at every call from MINPACK.
  using Clock = std::chrono::steady_clock;
  Clock::time_point started = Clock::now(), last_report = started;
  double timeout = 0;
  bool progress = false, timed_out = false, reported = false;
  long calls = 0;

  // False when the time limit has passed: the call returns -1 and MINPACK stops at its last
  // accepted point.
  bool go_on(const double *fvec) {
    ++calls;
    const Clock::time_point now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - started).count();
    if (timeout > 0 && elapsed > timeout) {
      timed_out = true;
      return false;
    }
    if (progress && elapsed > 1.0 && std::chrono::duration<double>(now - last_report).count() > 0.5) {
      double s = 0;
      for (size_t i = 0; fvec && i < data->size(); ++i) s += fvec[i] * fvec[i];
      std::fprintf(stderr, "\rfitting %s: %ld evaluations, %.1f s, sum of squares %.6g   ",
                   model->name.c_str(), calls, elapsed, s);
      last_report = now;
      reported = true;
    }
    return true;
  }

  void set(const double *xfree) {
    for (size_t j = 0; j < free.size(); ++j) full[static_cast<size_t>(free[j]) + 1] = xfree[j];
  }
  bool value(size_t i, double &f) {
    if (!model_value(*model, n, full.data(), data->x[i].data(), y.data())) return false;
    f = y[1];
    return true;
  }
  void residuals(double *fvec) {
    for (size_t i = 0; i < data->size(); ++i) {
      double f;
      fvec[i] = value(i, f) ? data->weight(i) * (f - data->y[i]) : kFailedResidual;
    }
  }
  // The model's value at point i as a function of the parameter array.
  fm::ValueFunction value_at(size_t i) {
    return [this, i](const double *params, double *f) {
      if (!model_value(*model, n, params, data->x[i].data(), y.data())) return false;
      *f = y[1];
      return true;
    };
  }
  // Row i of the Jacobian by forward differences, where the analytic derivatives fail.
  bool difference_row(size_t i, double *row, int ld) {
    double f0;
    if (!value(i, f0)) return false;
    const int nfree = static_cast<int>(free.size());
    if (!fm::numeric_derivatives(value_at(i), full.data(), index.data(), nfree, f0,
                                 fm::kForwardJacobian, row, ld))
      return false;
    for (size_t j = 0; j < free.size(); ++j) row[static_cast<size_t>(ld) * j] *= data->weight(i);
    return true;
  }
  bool jacobian(double *fjac, int ld) {
    for (size_t i = 0; i < data->size(); ++i) {
      if (model_derivs(*model, n, full.data(), data->x[i].data(), d.data())) {
        for (size_t j = 0; j < free.size(); ++j)
          fjac[i + static_cast<size_t>(ld) * j] =
              data->weight(i) * d[static_cast<size_t>(free[j]) + 1];
      } else if (!difference_row(i, fjac + i, ld)) {
        return false;
      }
    }
    return true;
  }
  // Central differences over all rows (the covariance of a value-only model).
  bool central_jacobian(double *fjac, int ld) {
    for (size_t i = 0; i < data->size(); ++i) {
      if (!fm::numeric_derivatives(value_at(i), full.data(), index.data(),
                                   static_cast<int>(free.size()), 0.0, fm::kCentralJacobian,
                                   fjac + i, ld))
        return false;
      for (size_t j = 0; j < free.size(); ++j)
        fjac[i + static_cast<size_t>(ld) * j] *= data->weight(i);
    }
    return true;
  }
};

int with_jacobian(void *p, int, int, const double *x, double *fvec, double *fjac, int ld,
                  int iflag) {
  Problem &pr = *static_cast<Problem *>(p);
  pr.set(x);
  if (iflag == 1) {
    pr.residuals(fvec);
    if (!pr.go_on(fvec)) return -1;
  } else if (iflag == 2 && !pr.jacobian(fjac, ld)) {
    pr.jacobian_failed = true;
    return -1;
  }
  return 0;
}

int values_only(void *p, int, int, const double *x, double *fvec, int) {
  Problem &pr = *static_cast<Problem *>(p);
  pr.set(x);
  pr.residuals(fvec);
  return pr.go_on(fvec) ? 0 : -1;
}

// sum of v[i]^2 as scale^2 * sum (v[i]/scale)^2, scale = max |v[i]|: the sum may exceed the range
// of a double (then it is inf) while ratios and square roots of such sums stay exact.
struct ScaledSum {
  double scale = 0, sum = 0;
  void add(double v) {
    const double a = std::fabs(v);
    if (a > scale) {
      sum = sum * (scale / a) * (scale / a) + 1;
      scale = a;
    } else if (a > 0) {
      sum += (a / scale) * (a / scale);
    }
  }
  double value() const { return scale * scale * sum; }
  double root() const { return scale * std::sqrt(sum); }
};

std::string fmt_g(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3g", v);
  return b;
}

std::string point_text(const ModelInfo &m, const Data &data, size_t i) {
  std::ostringstream s;
  s.precision(10);
  s << "point " << i + 1 << " (x = " << data.x[i][1];
  for (int k = 2; k <= m.nIndep && k <= 3; ++k) s << ", " << data.x[i][static_cast<size_t>(k)];
  s << ")";
  return s.str();
}

}  // namespace

std::string stop_reason(int info) {
  switch (info) {
    case 0: return "improper input parameters";
    case 1: return "the relative reduction of the sum of squares is at most ftol";
    case 2: return "the relative change of the parameters is at most xtol";
    case 3: return "the relative reductions of the sum of squares and of the parameters are at most ftol and xtol";
    case 4: return "the residuals are orthogonal to the Jacobian columns (gtol)";
    case 5: return "too many function evaluations";
    case 6: return "no further reduction of the sum of squares is possible at machine precision";
    case 7: return "no further improvement of the parameters is possible at machine precision";
    case 8: return "the residuals are orthogonal to the Jacobian columns at machine precision";
    case -1: return "stopped: the model's derivatives fail at an accepted point";
    default: return "stopped by the caller";
  }
}

FitResult fit_model(const ModelInfo &m, int n, const Data &data, const std::vector<double> &start,
                    const std::vector<bool> &held, const FitOptions &options) {
  FitResult r;
  if (n < 1 || n > INT16_MAX || start.size() != static_cast<size_t>(n) ||
      held.size() != static_cast<size_t>(n)) {
    r.error = std::to_string(n) + " parameters: a model takes 1 to " + std::to_string(INT16_MAX);
    return r;
  }
  if (data.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    r.error = "too many points: " + std::to_string(data.size()) + " (at most " +
              std::to_string(std::numeric_limits<int>::max()) + ")";
    return r;
  }
  r.names = m.names_for(n);
  r.params = start;
  r.held = held;
  r.points = static_cast<int>(data.size());
  Problem pr{&m, n, &data, {}, {}, std::vector<double>(static_cast<size_t>(n) + 1, 0.0),
             std::vector<double>(static_cast<size_t>(n) + 4, 0.0),
             std::vector<double>(static_cast<size_t>(n) + 1, 0.0)};
  for (int j = 0; j < n; ++j) {
    pr.full[static_cast<size_t>(j) + 1] = start[static_cast<size_t>(j)];
    if (!held[static_cast<size_t>(j)]) {
      pr.free.push_back(j);
      pr.index.push_back(j + 1);
    }
  }
  const int mm = static_cast<int>(data.size()), nf = static_cast<int>(pr.free.size());
  r.free = nf;
  if (mm < std::max(nf, 1)) {
    r.error = "too few points: " + std::to_string(mm) + " for " + std::to_string(nf) +
              " free parameters";
    return r;
  }
  // The Jacobian is held whole: a size beyond memory is refused before it is allocated.
  const double jacobian_bytes = 8.0 * mm * std::max(nf, 1);
  if (jacobian_bytes > kMaxJacobianBytes) {
    r.error = "the Jacobian of " + std::to_string(mm) + " points and " + std::to_string(nf) +
              " free parameters would take " + fmt_g(jacobian_bytes / 1e9) + " GB (at most " +
              fmt_g(kMaxJacobianBytes / 1e9) + ")";
    return r;
  }
  for (size_t i = 0; i < data.size(); ++i) {
    double f;
    int rc = 0;
    if (!model_value(m, n, pr.full.data(), data.x[i].data(), pr.y.data(), &rc)) {
      (void)f;
      r.error = "the model fails at the initial parameters at " + point_text(m, data, i) +
                " (return code " + std::to_string(rc) + ")";
      return r;
    }
  }
  std::vector<double> x(static_cast<size_t>(nf)), fvec(static_cast<size_t>(mm)),
      fjac(static_cast<size_t>(mm) * std::max(nf, 1)), diag(static_cast<size_t>(nf) + 1),
      qtf(static_cast<size_t>(nf) + 1), wa1(static_cast<size_t>(nf) + 1),
      wa2(static_cast<size_t>(nf) + 1), wa3(static_cast<size_t>(nf) + 1),
      wa4(static_cast<size_t>(mm));
  std::vector<int> ipvt(static_cast<size_t>(nf) + 1);
  for (int j = 0; j < nf; ++j) x[static_cast<size_t>(j)] = start[static_cast<size_t>(pr.free[j])];
  const double tol = 1e-14;
  pr.timeout = options.timeout;
  pr.progress = options.progress;
  // Without --max-evaluations: MINPACK's budget, less for large problems, so that the work of
  // one fit (an iteration costs about points x free^2) stays within about kWorkBound.
  const auto budget = [&](long standard) {
    const double per = static_cast<double>(mm) * (nf + 1.0) * (nf + 1.0);
    const long sized = std::max(100L, std::min(standard, static_cast<long>(kWorkBound / per)));
    const long cap = options.max_evaluations > 0 ? options.max_evaluations : sized;
    return static_cast<int>(std::min<long>(cap, std::numeric_limits<int>::max()));
  };
  if (nf > 0) {
    if (m.analytic()) {
      r.info = lmder(with_jacobian, &pr, mm, nf, x.data(), fvec.data(), fjac.data(), mm, tol, tol,
                     0.0, budget(400L * (nf + 1)), diag.data(), 1, 100.0, 0, &r.nfev, &r.njev, ipvt.data(),
                     qtf.data(), wa1.data(), wa2.data(), wa3.data(), wa4.data());
    } else {
      r.info = lmdif(values_only, &pr, mm, nf, x.data(), fvec.data(), tol, tol, 0.0,
                     budget(800L * (nf + 1)), 0.0, diag.data(), 1, 100.0, 0, &r.nfev, fjac.data(), mm,
                     ipvt.data(), qtf.data(), wa1.data(), wa2.data(), wa3.data(), wa4.data());
    }
  } else {
    r.info = 1;
  }
  if (pr.reported) std::fprintf(stderr, "\r\033[K");
  if (r.info < 0 && pr.jacobian_failed) r.info = -1;
  pr.set(x.data());
  for (int j = 0; j < nf; ++j) r.params[static_cast<size_t>(pr.free[j])] = x[static_cast<size_t>(j)];
  pr.residuals(fvec.data());
  ScaledSum ssr, ssr_plain, sst;
  double ymean = 0;
  for (double v : data.y) ymean += v / mm;
  for (size_t i = 0; i < data.size(); ++i) {
    ssr.add(fvec[i]);
    ssr_plain.add(fvec[i] / data.weight(i));
    sst.add(data.y[i] - ymean);
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  r.ssr = ssr.value();
  const double ratio = ssr_plain.scale / sst.scale;
  r.r2 = sst.sum > 0 ? 1.0 - ratio * ratio * (ssr_plain.sum / sst.sum) : nan;
  const int dof = mm - nf;
  r.chi2_reduced = dof > 0 ? r.ssr / dof : nan;
  const double rms = dof > 0 ? ssr.root() / std::sqrt(static_cast<double>(dof)) : nan;
  r.errors.assign(static_cast<size_t>(n), nan);
  r.converged = (r.info >= 1 && r.info <= 4) || (r.info >= 6 && r.info <= 8);
  r.stop = stop_reason(r.info);
  r.status = r.converged ? "converged" : "not converged";
  if (pr.timed_out) {
    r.status = "time limit";
    r.stop = "stopped at the time limit of " + fmt_g(options.timeout) +
             " s, at the best point reached";
  } else if (r.info == 5) {
    r.status = "evaluation cap";
    r.stop = "stopped at the cap of " + std::to_string(r.nfev) + " evaluations, at the best point reached" +
             (options.max_evaluations > 0 ? "" : " (the default cap for this size; --max-evaluations sets another)");
  }
  if (!r.converged) r.verdict = r.stop;
  r.ok = true;
  // Standard errors: the covariance (J^T J)^-1 at the solution, scaled by the reduced chi^2.
  if (nf > 0 && dof > 0 &&
      (m.analytic() ? pr.jacobian(fjac.data(), mm) : pr.central_jacobian(fjac.data(), mm))) {
    std::vector<double> rdiag(static_cast<size_t>(nf)), acnorm(static_cast<size_t>(nf));
    qrfac(mm, nf, fjac.data(), mm, 1, ipvt.data(), nf, rdiag.data(), acnorm.data(), wa1.data());
    for (int j = 0; j < nf; ++j) fjac[static_cast<size_t>(j) * (mm + 1)] = rdiag[static_cast<size_t>(j)];
    covar(nf, fjac.data(), mm, ipvt.data(), 1e-13, wa1.data());
    std::string undetermined;
    for (int j = 0; j < nf; ++j) {
      const double c = fjac[static_cast<size_t>(j) * (mm + 1)];
      const double e = std::sqrt(c) * rms;
      if (c > 0) {
        if (std::isfinite(e)) r.errors[static_cast<size_t>(pr.free[j])] = e;
      } else {
        undetermined += (undetermined.empty() ? "" : ", ") + r.names[static_cast<size_t>(pr.free[j])];
      }
    }
    if (!undetermined.empty() && r.converged) {
      r.converged = false;
      r.status = "undetermined";
      r.verdict = "the data do not determine " + undetermined +
                  " (a zero or collinear Jacobian column: no standard error)";
    }
  }
  if (!std::isfinite(r.ssr) && r.converged) {
    r.converged = false;
    r.status = "not finite";
    r.verdict = "the sum of squares exceeds the range of a double (residuals up to " +
                fmt_g(ssr.scale) + "): rescale the data";
  }
  return r;
}

}  // namespace fmtool
