#include "engine.h"

#include <cminpack-1/cminpack.h>

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace fmfit {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A column whose scaled norm is below this share of the largest is zero: the data say nothing
// about its parameter.
constexpr double kZeroColumn = 1e-10;
// Columns scaled to unit norm whose QR diagonal falls below this are combinations of the
// others (collinear).
constexpr double kCollinear = 1e-9;
// The cosine between the residuals and a Jacobian column above which the gradient is not zero:
// 1e-6, or looser where the caller's tolerance on the reduction of the sum of squares lets the
// solver stop earlier (a remaining relative reduction ftol leaves cosines of about sqrt(ftol)).
double stationary_limit(double ftol) { return std::max(1e-6, 10 * std::sqrt(ftol)); }

// A residual norm below this share of the norm of the weighted data, or below this many
// roundings of the model's terms, is rounding: an exact fit.
constexpr double kExactFit = 1e-10;
constexpr double kTermRounding = 64 * std::numeric_limits<double>::epsilon();

bool on_bound(double v, double b) {
  return std::isfinite(b) && std::fabs(v - b) <= 1e-12 * std::max(1.0, std::fabs(b));
}

const char *param_label(const Model &m, int j, char *buf, size_t size) {
  std::snprintf(buf, size, "p%d", j + 1);
  (void)m;
  return buf;
}

// The two-sided quantile of the intervals: Student's t with dof degrees of freedom, or the
// normal one for true sigmas. Computed in double precision and kept per thread, since a batch
// asks for the same one again and again.
double quantile(int dof, double level, bool normal) {
  if (dof <= 0) return kNaN;
  using Policy = boost::math::policies::policy<boost::math::policies::promote_double<false>>;
  thread_local int last_dof = 0;
  thread_local double last_level = 0, last_q = 0;
  thread_local bool last_normal = false;
  if (dof == last_dof && level == last_level && normal == last_normal) return last_q;
  const double tail = (1 + level) / 2;
  last_q = normal ? boost::math::quantile(boost::math::normal_distribution<double, Policy>(), tail)
                  : boost::math::quantile(
                        boost::math::students_t_distribution<double, Policy>(dof), tail);
  last_dof = dof;
  last_level = level;
  last_normal = normal;
  return last_q;
}

}  // namespace

void set_status(fmfit_summary &sum, int32_t status, const char *format, ...) {
  sum.status = status;
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(sum.message, sizeof sum.message, format, ap);
  va_end(ap);
}

bool read_options(const fmfit_options *o, Settings &s, Control &c, char *message, size_t size) {
  s = Settings{};
  c = Control{};
  if (o == nullptr) return true;
  if (o->size != sizeof(fmfit_options)) {
    std::snprintf(message, size, "options not initialised by fmfit_options_init");
    return false;
  }
  if (!(o->ftol >= 0) || !(o->xtol >= 0) || !(o->gtol >= 0) || o->max_evaluations < 0 ||
      !(o->time_limit >= 0) || o->threads < 0 ||
      !(o->confidence_level > 0 && o->confidence_level < 1)) {
    std::snprintf(message, size,
                  "invalid options: tolerances, limits and threads must not be negative, the "
                  "confidence level lies in (0, 1)");
    return false;
  }
  s.solve.ftol = o->ftol;
  s.solve.xtol = o->xtol;
  s.solve.gtol = o->gtol;
  s.solve.max_passes = o->max_evaluations;
  s.absolute_sigma = o->absolute_sigma != 0;
  s.level = o->confidence_level;
  s.profile = o->profile != 0;
  s.estimate = o->estimate;
  s.estimate_context = o->estimate_context;
  c.cancel = o->cancel;
  // A limit beyond what the clock counts (about 292 years of nanoseconds) is no limit: its
  // conversion to clock ticks would overflow.
  if (o->time_limit > 0 && o->time_limit < 1e9) {
    c.has_deadline = true;
    c.deadline = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     std::chrono::duration<double>(o->time_limit));
  }
  return true;
}

OutRow out_row(const fmfit_output *o, size_t fit, size_t np) {
  OutRow r;
  if (o == nullptr) return r;
  const size_t a = fit * np, b = fit * np * np;
  if (o->params) r.params = o->params + a;
  if (o->errors) r.errors = o->errors + a;
  if (o->ci_lower) r.lo = o->ci_lower + a;
  if (o->ci_upper) r.hi = o->ci_upper + a;
  if (o->covariance) r.cov = o->covariance + b;
  if (o->correlation) r.corr = o->correlation + b;
  if (o->flags) r.flags = o->flags + a;
  return r;
}

int32_t fit_one(const Model &m, const fmfit_data &data, const double *start,
                const fmfit_constraints &cons, const Settings &s, const Control &c, Workspace &ws,
                fmfit_summary &sum, const OutRow &out) {
  std::memset(&sum, 0, sizeof sum);
  const size_t np = static_cast<size_t>(m.nParams);
  sum.chi2 = sum.reduced_chi2 = sum.r2 = sum.aic = sum.aicc = sum.bic = kNaN;
  // Every output row is written whatever happens: NaN until known.
  if (out.params) std::fill(out.params, out.params + np, kNaN);
  for (double *a : {out.errors, out.lo, out.hi})
    if (a) std::fill(a, a + np, kNaN);
  for (double *a : {out.cov, out.corr})
    if (a) std::fill(a, a + np * np, kNaN);
  if (out.flags) std::fill(out.flags, out.flags + np, uint8_t{0});
  const double *lower = cons.lower, *upper = cons.upper;
  const uint8_t *held = cons.held;

  // ---- the input ---------------------------------------------------------------------------
  if (data.n == 0) {
    set_status(sum, FMFIT_INVALID_INPUT, "no points");
    return sum.status;
  }
  if (data.n > static_cast<size_t>(INT32_MAX)) {
    set_status(sum, FMFIT_INVALID_INPUT, "too many points: %zu (at most %d)", data.n, INT32_MAX);
    return sum.status;
  }
  if (data.x == nullptr || data.y == nullptr) {
    set_status(sum, FMFIT_INVALID_INPUT, "no %s array", data.x == nullptr ? "x" : "y");
    return sum.status;
  }
  sum.points = static_cast<int32_t>(data.n);
  const size_t ni = static_cast<size_t>(m.nIndep);
  for (size_t i = 0; i < data.n; ++i) {
    bool ok = std::isfinite(data.y[i]);
    for (size_t k = 0; k < ni; ++k) ok = ok && std::isfinite(data.x[i * ni + k]);
    if (!ok) {
      sum.failing_point = static_cast<int32_t>(i + 1);
      set_status(sum, FMFIT_INVALID_INPUT, "point %zu is not a finite number", i + 1);
      return sum.status;
    }
    if (data.weights && !(std::isfinite(data.weights[i]) && data.weights[i] >= 0)) {
      sum.failing_point = static_cast<int32_t>(i + 1);
      set_status(sum, FMFIT_INVALID_INPUT,
                 "the weight of point %zu is not a finite non-negative number", i + 1);
      return sum.status;
    }
  }
  if (start == nullptr) {
    fmfit_model pub{m.name, m.function, m.context, static_cast<int16_t>(m.nIndep),
                    static_cast<int16_t>(m.nParams), m.derivatives ? 1 : 0};
    const fmfit_estimate_fn est = s.estimate ? s.estimate : fmfit_estimate;
    std::vector<double> &guess = ws.s.guess;
    guess.assign(np, kNaN);
    if (est(s.estimate_context, &pub, static_cast<int16_t>(m.nParams), &data, guess.data()) != 0) {
      set_status(sum, FMFIT_NO_ESTIMATE, "no starting values for %s: give them",
                 m.name ? m.name : "the model");
      return sum.status;
    }
    start = guess.data();
  }
  std::vector<double> &p0 = ws.s.p0;
  p0.assign(start, start + np);
  std::vector<int> &free = ws.s.free;
  free.clear();
  free.reserve(np);
  for (size_t j = 0; j < np; ++j) {
    const double lo = lower ? lower[j] : -HUGE_VAL, hi = upper ? upper[j] : HUGE_VAL;
    sum.detail = static_cast<int32_t>(j + 1);
    if (!std::isfinite(p0[j])) {
      set_status(sum, FMFIT_INVALID_INPUT, "the start of parameter %zu is not finite", j + 1);
      return sum.status;
    }
    if (std::isnan(lo) || std::isnan(hi) || lo > hi) {
      set_status(sum, FMFIT_INVALID_INPUT, "the bounds of parameter %zu are not an interval",
                 j + 1);
      return sum.status;
    }
    if (held && held[j]) continue;
    if (p0[j] < lo || p0[j] > hi) {
      set_status(sum, FMFIT_INVALID_INPUT, "the start of parameter %zu lies outside its bounds",
                 j + 1);
      return sum.status;
    }
    free.push_back(static_cast<int>(j));
  }
  sum.detail = 0;
  const size_t nf = free.size();
  sum.free_params = static_cast<int32_t>(nf);
  sum.dof = sum.points - sum.free_params;
  if (nf > data.n) {
    set_status(sum, FMFIT_INVALID_INPUT, "more free parameters (%zu) than points (%zu)", nf,
               data.n);
    return sum.status;
  }

  // ---- the start ---------------------------------------------------------------------------
  Problem &pr = ws.s.pr;
  pr.bind(m, data);
  pr.control = &c;
  pr.free = free;
  for (size_t j = 0; j < np; ++j) pr.p[j + 1] = p0[j];
  std::vector<double> &r = ws.s.r;
  r.assign(data.n, 0.0);
  if (const size_t bad = pr.residuals(r.data())) {
    sum.failing_point = static_cast<int32_t>(bad);
    set_status(sum, FMFIT_MODEL_FAILS_AT_START, "the model fails at the starting values at point %zu",
               bad);
    return sum.status;
  }
  pr.value_passes = 1;

  // ---- the solve ---------------------------------------------------------------------------
  bool bounded = false;
  for (int f : free) {
    const size_t j = static_cast<size_t>(f);
    if ((lower && std::isfinite(lower[j])) || (upper && std::isfinite(upper[j]))) bounded = true;
  }
  SolveSettings ss = s.solve;
  if (ss.max_passes == 0) ss.max_passes = 400 * static_cast<int>(nf + 1);
  int info = 1;
  // lmder starts by evaluating the start, whose residuals are at hand; it ends with the
  // residuals of the point it returns.
  bool have_residuals = false;
  if (nf > 0 && !bounded) {
    pr.cached = r.data();
    info = solve_unbounded(pr, ss, ws);
    pr.cached = nullptr;
    if (info > 0) {
      std::copy(ws.b.begin(), ws.b.begin() + static_cast<std::ptrdiff_t>(data.n), r.begin());
      have_residuals = true;
    }
  } else if (nf > 0) {
    info = solve_bounded(pr, ss, lower, upper, ws);
  } else {
    have_residuals = true;
  }
  sum.solver_info = info;
  sum.model_evaluations = pr.value_passes;
  sum.jacobian_evaluations = pr.jacobian_passes;
  if (out.params)
    for (size_t j = 0; j < np; ++j) out.params[j] = pr.p[j + 1];
  if (out.flags && held)
    for (size_t j = 0; j < np; ++j)
      if (held[j]) out.flags[j] |= FMFIT_FLAG_HELD;

  const Abort abort = pr.abort;
  pr.abort = Abort::none;
  pr.control = nullptr;  // the statistics run to the end
  size_t bad = 0;
  if (have_residuals) {
    for (size_t i = 0; i < data.n && !bad; ++i)
      if (r[i] == kFailedResidual) bad = i + 1;
  } else {
    bad = pr.residuals(r.data());
  }
  if (bad) {
    sum.failing_point = static_cast<int32_t>(bad);
    set_status(sum, FMFIT_MODEL_FAILS, "the model fails at the solution at point %zu", bad);
    return sum.status;
  }

  // ---- statistics --------------------------------------------------------------------------
  double chi2 = 0, rss = 0, ymean = 0, sst = 0;
  for (size_t i = 0; i < data.n; ++i) {
    chi2 += r[i] * r[i];
    ymean += data.y[i];
  }
  ymean /= static_cast<double>(data.n);
  for (size_t i = 0; i < data.n; ++i) {
    const double w = pr.weight(i);
    const double e = w > 0 ? r[i] / w : 0.0;
    rss += e * e;
    sst += (data.y[i] - ymean) * (data.y[i] - ymean);
  }
  const double dn = static_cast<double>(data.n), k = static_cast<double>(nf);
  sum.chi2 = chi2;
  sum.reduced_chi2 = sum.dof > 0 ? chi2 / sum.dof : kNaN;
  sum.r2 = sst > 0 ? 1.0 - rss / sst : kNaN;
  const double ll = dn * std::log(chi2 / dn);
  sum.aic = ll + 2 * k;
  sum.bic = ll + k * std::log(dn);
  sum.aicc = dn - k - 1 > 0 ? sum.aic + 2 * k * (k + 1) / (dn - k - 1) : kNaN;
  const bool finite_stats = std::isfinite(chi2) && std::isfinite(sst) && std::isfinite(rss);

  // ---- the verdict -------------------------------------------------------------------------
  // Which free parameters are on a bound, which the data determine, and whether the gradient
  // over the rest vanishes.
  std::vector<uint8_t> &flag = ws.s.flag;
  flag.assign(np, 0);
  if (held)
    for (size_t j = 0; j < np; ++j)
      if (held[j]) flag[j] |= FMFIT_FLAG_HELD;
  std::vector<double> &J = ws.s.J;
  J.resize(data.n * std::max<size_t>(nf, 1));
  int32_t status = FMFIT_CONVERGED;
  int32_t concern = 0;
  if (nf > 0 && !pr.jacobian(J.data(), 1, data.n, !m.derivatives)) {
    set_status(sum, FMFIT_MODEL_FAILS, "the model's derivatives fail at the solution");
    return sum.status;
  }
  pr.jacobian_passes++;
  std::vector<double> &norm = ws.s.norm, &grad = ws.s.grad;
  norm.assign(nf, 0.0);
  grad.assign(nf, 0.0);
  double rnorm = 0;
  for (size_t i = 0; i < data.n; ++i) rnorm += r[i] * r[i];
  rnorm = std::sqrt(rnorm);
  double biggest = 0;
  for (size_t j = 0; j < nf; ++j) {
    double s2 = 0, g = 0;
    const double *col = J.data() + j * data.n;
    for (size_t i = 0; i < data.n; ++i) {
      s2 += col[i] * col[i];
      g += col[i] * r[i];
    }
    norm[j] = std::sqrt(s2);
    grad[j] = g;
    const double pj = pr.p[static_cast<size_t>(free[j]) + 1];
    biggest = std::max(biggest, norm[j] * (pj != 0 ? std::fabs(pj) : 1.0));
  }
  const double kStationary = stationary_limit(s.solve.ftol);
  // Residuals at the rounding level of the problem are an exact fit: their direction is noise,
  // and no cosine with them says anything. That level is the larger of a share of the weighted
  // data and a few dozen roundings of what the model adds up at each point (each free
  // parameter's share |J_ij p_j|), so that terms which cancel to small values do not make their
  // rounding look like a residual.
  double ynorm = 0, terms = 0;
  for (size_t i = 0; i < data.n; ++i) {
    const double wy = pr.weight(i) * data.y[i];
    double t = 0;
    for (size_t j = 0; j < nf; ++j)
      t += std::fabs(J[j * data.n + i] * pr.p[static_cast<size_t>(free[j]) + 1]);
    ynorm += wy * wy;
    terms += t * t;
  }
  if (rnorm <= std::max(kExactFit * std::sqrt(ynorm), kTermRounding * std::sqrt(terms))) rnorm = 0;
  std::vector<size_t> &active = ws.s.active;  // columns (into free) that enter the covariance
  active.clear();
  bool not_stationary = false;
  for (size_t j = 0; j < nf; ++j) {
    const size_t f = static_cast<size_t>(free[j]);
    const double pj = pr.p[f + 1];
    const double cosine = (norm[j] > 0 && rnorm > 0) ? grad[j] / (norm[j] * rnorm) : 0.0;
    if (lower && on_bound(pj, lower[f])) {
      flag[f] |= FMFIT_FLAG_AT_LOWER;
      if (cosine < -kStationary) not_stationary = true;  // going up would still descend
      if (!concern) concern = static_cast<int32_t>(f + 1);
      continue;
    }
    if (upper && on_bound(pj, upper[f])) {
      flag[f] |= FMFIT_FLAG_AT_UPPER;
      if (cosine > kStationary) not_stationary = true;
      if (!concern) concern = static_cast<int32_t>(f + 1);
      continue;
    }
    if (!(norm[j] * (pj != 0 ? std::fabs(pj) : 1.0) > kZeroColumn * biggest) || biggest == 0) {
      flag[f] |= FMFIT_FLAG_UNDETERMINED;
      continue;
    }
    if (std::fabs(cosine) > kStationary) not_stationary = true;
    active.push_back(j);
  }
  // Covariance over the active columns: QR of the columns scaled to unit norm, so that the
  // rank test measures collinearity rather than units.
  const size_t na = active.size();
  std::vector<double> &A = ws.s.A, &cov = ws.s.cov;
  A.resize(data.n * std::max<size_t>(na, 1));
  cov.assign(na * na, 0.0);
  if (na > 0) {
    for (size_t a = 0; a < na; ++a) {
      const double *col = J.data() + active[a] * data.n;
      for (size_t i = 0; i < data.n; ++i) A[a * data.n + i] = col[i] / norm[active[a]];
    }
    const int mi = static_cast<int>(data.n), ni2 = static_cast<int>(na);
    std::vector<int> &ipvt = ws.s.ipvt;
    std::vector<double> &rdiag = ws.s.rdiag, &acnorm = ws.s.acnorm, &wa = ws.s.wa;
    ipvt.assign(na, 0);
    rdiag.assign(na, 0.0);
    acnorm.assign(na, 0.0);
    wa.assign(na, 0.0);
    qrfac(mi, ni2, A.data(), mi, 1, ipvt.data(), ni2, rdiag.data(), acnorm.data(), wa.data());
    for (size_t a = 0; a < na; ++a) A[a * (data.n + 1)] = rdiag[a];
    covar(ni2, A.data(), mi, ipvt.data(), kCollinear, wa.data());
    for (size_t a = 0; a < na; ++a)
      for (size_t b = 0; b < na; ++b)
        cov[a * na + b] = A[a * data.n + b] / (norm[active[a]] * norm[active[b]]);
    for (size_t a = 0; a < na; ++a)
      if (!(cov[a * na + a] > 0)) flag[static_cast<size_t>(free[active[a]])] |= FMFIT_FLAG_UNDETERMINED;
  }
  int32_t undetermined = 0;
  for (size_t j = 0; j < np && !undetermined; ++j)
    if (flag[j] & FMFIT_FLAG_UNDETERMINED) undetermined = static_cast<int32_t>(j + 1);

  if (abort == Abort::cancelled) {
    set_status(sum, FMFIT_CANCELLED, "cancelled");
  } else if (abort == Abort::time_limit) {
    set_status(sum, FMFIT_TIME_LIMIT, "stopped at the time limit");
  } else if (abort == Abort::evaluation_limit || info == 5) {
    set_status(sum, FMFIT_EVALUATION_LIMIT, "stopped at the evaluation limit (%d passes)",
               ss.max_passes);
  } else if (abort == Abort::jacobian_failed) {
    set_status(sum, FMFIT_MODEL_FAILS, "the model's derivatives fail on the way");
  } else if (!finite_stats) {
    set_status(sum, FMFIT_STATISTICS_NOT_FINITE,
               "the sums of squares overflow: the data lie beyond the range of doubles; "
               "rescale them");
  } else if (not_stationary || info == 0) {
    set_status(sum, FMFIT_NOT_CONVERGED,
               "stopped where the gradient is not zero: not a minimum");
  } else if (undetermined) {
    sum.detail = undetermined;
    char b[16];
    set_status(sum, FMFIT_UNDETERMINED,
               "stopped, but parameter %d (%s) is not determined by the data at the solution",
               undetermined, param_label(m, undetermined - 1, b, sizeof b));
  } else if (concern) {
    sum.detail = concern;
    set_status(sum, FMFIT_AT_BOUND, "converged with parameter %d on its %s bound", concern,
               (flag[static_cast<size_t>(concern - 1)] & FMFIT_FLAG_AT_LOWER) ? "lower" : "upper");
  } else {
    set_status(sum, FMFIT_CONVERGED, "converged");
  }
  status = sum.status;
  sum.jacobian_evaluations = pr.jacobian_passes;
  if (out.flags) std::copy(flag.begin(), flag.end(), out.flags);

  // ---- errors and intervals ----------------------------------------------------------------
  const double scale = s.absolute_sigma ? 1.0 : sum.reduced_chi2;
  const double q = (out.lo || out.hi) ? quantile(sum.dof, s.level, s.absolute_sigma) : kNaN;
  std::vector<double> &se = ws.s.se;
  se.assign(na, kNaN);
  for (size_t a = 0; a < na; ++a) {
    const size_t f = static_cast<size_t>(free[active[a]]);
    if (flag[f] & FMFIT_FLAG_UNDETERMINED) continue;
    se[a] = std::sqrt(cov[a * na + a] * scale);
    if (out.errors) out.errors[f] = se[a];
  }
  if (out.cov || out.corr) {
    for (size_t a = 0; a < na; ++a)
      for (size_t b = 0; b < na; ++b) {
        const size_t fa = static_cast<size_t>(free[active[a]]),
                     fb = static_cast<size_t>(free[active[b]]);
        if ((flag[fa] | flag[fb]) & FMFIT_FLAG_UNDETERMINED) continue;
        const double v = cov[a * na + b] * scale;
        if (out.cov) out.cov[fa * np + fb] = v;
        if (out.corr) out.corr[fa * np + fb] = a == b ? 1.0 : v / (se[a] * se[b]);
      }
  }
  if ((out.lo || out.hi) && std::isfinite(q) && finite_stats) {
    // The profile fits start from the solution with the statistics' full parameter set.
    const double delta = s.absolute_sigma ? q * q : chi2 * q * q / sum.dof;
    for (size_t a = 0; a < na; ++a) {
      const size_t f = static_cast<size_t>(free[active[a]]);
      if (!std::isfinite(se[a])) continue;
      double lo = pr.p[f + 1] - q * se[a], hi = pr.p[f + 1] + q * se[a];
      if (s.profile) profile_interval(pr, active[a], chi2, delta, q * se[a], lower, upper, s, ws, lo,
                         hi);
      if (out.lo) out.lo[f] = lo;
      if (out.hi) out.hi[f] = hi;
    }
  }
  (void)status;
  return sum.status;
}

}  // namespace fmfit
