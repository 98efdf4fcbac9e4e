#include "fit.h"

#include <cminpack-1/cminpack.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "catalog/derivative_check.h"

namespace fmtool {
namespace {

// A trial point at which the model fails gets this residual: the step looks far worse than the
// current point, so Levenberg-Marquardt rejects it and shrinks its trust region.
constexpr double kFailedResidual = 1e50;

struct Problem {
  const ModelInfo *model;
  int n;
  const Data *data;
  std::vector<int> free;    // indices (0-based) of the fitted parameters
  std::vector<int> index;   // the same, 1-based: their places in full
  std::vector<double> full; // 1-based parameter array handed to the model
  std::vector<double> y, d;
  bool jacobian_failed = false;

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
  return 0;
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
    default: return "stopped: the model's derivatives fail at an accepted point";
  }
}

FitResult fit_model(const ModelInfo &m, int n, const Data &data, const std::vector<double> &start,
                    const std::vector<bool> &held) {
  FitResult r;
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
  if (nf > 0) {
    if (m.analytic()) {
      r.info = lmder(with_jacobian, &pr, mm, nf, x.data(), fvec.data(), fjac.data(), mm, tol, tol,
                     0.0, 400 * (nf + 1), diag.data(), 1, 100.0, 0, &r.nfev, &r.njev, ipvt.data(),
                     qtf.data(), wa1.data(), wa2.data(), wa3.data(), wa4.data());
    } else {
      r.info = lmdif(values_only, &pr, mm, nf, x.data(), fvec.data(), tol, tol, 0.0,
                     800 * (nf + 1), 0.0, diag.data(), 1, 100.0, 0, &r.nfev, fjac.data(), mm,
                     ipvt.data(), qtf.data(), wa1.data(), wa2.data(), wa3.data(), wa4.data());
    }
  } else {
    r.info = 1;
  }
  pr.set(x.data());
  for (int j = 0; j < nf; ++j) r.params[static_cast<size_t>(pr.free[j])] = x[static_cast<size_t>(j)];
  pr.residuals(fvec.data());
  r.ssr = 0;
  double ymean = 0, sst = 0, ssr_plain = 0;
  for (double v : data.y) ymean += v / mm;
  for (size_t i = 0; i < data.size(); ++i) {
    r.ssr += fvec[i] * fvec[i];
    const double res = fvec[i] / data.weight(i);
    ssr_plain += res * res;
    sst += (data.y[i] - ymean) * (data.y[i] - ymean);
  }
  r.r2 = sst > 0 ? 1.0 - ssr_plain / sst : std::numeric_limits<double>::quiet_NaN();
  const int dof = mm - nf;
  r.chi2_reduced = dof > 0 ? r.ssr / dof : std::numeric_limits<double>::quiet_NaN();
  r.errors.assign(static_cast<size_t>(n), std::numeric_limits<double>::quiet_NaN());
  r.converged = (r.info >= 1 && r.info <= 4) || (r.info >= 6 && r.info <= 8);
  r.stop = stop_reason(r.info);
  r.ok = true;
  // Standard errors: the covariance (J^T J)^-1 at the solution, scaled by the reduced chi^2.
  if (nf > 0 && dof > 0 &&
      (m.analytic() ? pr.jacobian(fjac.data(), mm) : pr.central_jacobian(fjac.data(), mm))) {
    std::vector<double> rdiag(static_cast<size_t>(nf)), acnorm(static_cast<size_t>(nf));
    qrfac(mm, nf, fjac.data(), mm, 1, ipvt.data(), nf, rdiag.data(), acnorm.data(), wa1.data());
    for (int j = 0; j < nf; ++j) fjac[static_cast<size_t>(j) * (mm + 1)] = rdiag[static_cast<size_t>(j)];
    covar(nf, fjac.data(), mm, ipvt.data(), 1e-13, wa1.data());
    for (int j = 0; j < nf; ++j) {
      const double c = fjac[static_cast<size_t>(j) * (mm + 1)];
      if (c > 0) r.errors[static_cast<size_t>(pr.free[j])] = std::sqrt(c * r.chi2_reduced);
    }
  }
  return r;
}

}  // namespace fmtool
