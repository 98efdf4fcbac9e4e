// The built-in estimator: seed by start kind, exact solve of the linear parameters, a coarse
// search of the others, refinement by the engine, and the multi-start search as the fallback.
#include "estimate.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <new>

namespace fmfit {
namespace est {

namespace {
bool usable(double v) { return std::isfinite(v) && v != MISSING_VALUE; }
}  // namespace

fm_role Target::role(int j) const {
  if (info == nullptr) return FM_ROLE_OTHER;
  const fm_param_info *pi = fm_param(info, n, j + 1);
  return pi ? pi->role : FM_ROLE_OTHER;
}

fm_domain Target::domain(int j) const {
  if (info == nullptr) return FM_DOMAIN_ANY;
  const fm_param_info *pi = fm_param(info, n, j + 1);
  return pi ? pi->domain : FM_DOMAIN_ANY;
}

int Target::term_of(int j) const {
  if (info == nullptr || info->layout.per_term <= 0 || j < info->layout.shared) return -1;
  return (j - info->layout.shared) / info->layout.per_term;
}

int Target::input_of(int j) const {
  if (nIndep < 2) return 0;
  const fm_role r = role(j);
  const int term = term_of(j);
  int before = 0;
  for (int i = 0; i < j; ++i) before += role(i) == r && term_of(i) == term;
  return std::min(before, nIndep - 1);
}

bool Target::values(const Vec &p, Vec &out) const {
  const size_t np = data->n;
  out.resize(np);
  double xb[4] = {0, 0, 0, 0};
  std::vector<double> par(static_cast<size_t>(n) + 1, 0.0), y(static_cast<size_t>(n) + 4),
      d(static_cast<size_t>(n) + 1);
  for (int j = 0; j < n; ++j) par[static_cast<size_t>(j) + 1] = p[static_cast<size_t>(j)];
  const int saved = errno;
  bool ok = true;
  for (size_t i = 0; i < np && ok; ++i) {
    for (int k = 0; k < nIndep; ++k) xb[k + 1] = x(i, k);
    y[1] = 0;
    errno = 0;
    const int32_t rc = function(REQ_VALUE, model.context, static_cast<int16_t>(n), 0, 0,
                                par.data(), 0, xb, y.data(), d.data());
    ok = rc == 0 && usable(y[1]);
    out[i] = y[1];
  }
  errno = saved;
  return ok;
}

double Target::rss(const Vec &p) const {
  Vec f;
  if (!values(p, f)) return HUGE_VAL;
  double s = 0;
  for (size_t i = 0; i < data->n; ++i) {
    const double r = (data->y[i] - f[i]) * weight(i);
    s += r * r;
  }
  return std::isfinite(s) ? s : HUGE_VAL;
}

Curve make_curve(const Target &t, bool positive_x) {
  std::map<double, std::pair<double, int>> acc;
  for (size_t i = 0; i < t.data->n; ++i) {
    const double x = t.x(i, 0);
    if (positive_x && !(x > 0)) continue;
    auto &a = acc[x];
    a.first += t.data->y[i];
    a.second += 1;
  }
  Curve c;
  for (const auto &kv : acc) {
    c.x.push_back(kv.first);
    c.y.push_back(kv.second.first / kv.second.second);
  }
  return c;
}

Vec smooth(const Vec &y, int half) {
  Vec out(y.size());
  const int n = static_cast<int>(y.size());
  for (int i = 0; i < n; ++i) {
    double s = 0;
    int k = 0;
    for (int j = std::max(0, i - half); j <= std::min(n - 1, i + half); ++j, ++k)
      s += y[static_cast<size_t>(j)];
    out[static_cast<size_t>(i)] = s / k;
  }
  return out;
}

double quantile(Vec v, double q) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(q * (static_cast<double>(v.size()) - 1))];
}

double interpolate(const Curve &c, const Vec &y, double x) {
  if (x <= c.x.front()) return y.front();
  if (x >= c.x.back()) return y.back();
  const size_t i = static_cast<size_t>(std::upper_bound(c.x.begin(), c.x.end(), x) - c.x.begin());
  const double u = (x - c.x[i - 1]) / (c.x[i] - c.x[i - 1]);
  return y[i - 1] + u * (y[i] - y[i - 1]);
}

bool lstsq(const std::vector<Vec> &a, const Vec &y, Vec &coef, double *ssr) {
  const size_t m = y.size(), n = a.size();
  if (n == 0 || m < n) return false;
  std::vector<Vec> q(a);
  Vec b(y);
  for (size_t k = 0; k < n; ++k) {
    double norm = 0, colmax = 0;
    for (size_t i = k; i < m; ++i) norm += q[k][i] * q[k][i];
    norm = std::sqrt(norm);
    for (size_t i = 0; i < m; ++i) colmax = std::max(colmax, std::fabs(a[k][i]));
    if (!(norm > 1e-12 * colmax) || !std::isfinite(norm)) return false;
    const double alpha = q[k][k] > 0 ? -norm : norm;
    Vec v(m, 0.0);
    for (size_t i = k; i < m; ++i) v[i] = q[k][i];
    v[k] -= alpha;
    double vv = 0;
    for (size_t i = k; i < m; ++i) vv += v[i] * v[i];
    if (vv == 0) continue;
    auto reflect = [&](Vec &col) {
      double s = 0;
      for (size_t i = k; i < m; ++i) s += v[i] * col[i];
      s = 2 * s / vv;
      for (size_t i = k; i < m; ++i) col[i] -= s * v[i];
    };
    for (size_t j = k; j < n; ++j) reflect(q[j]);
    reflect(b);
  }
  coef.assign(n, 0.0);
  for (size_t k = n; k-- > 0;) {
    double s = b[k];
    for (size_t j = k + 1; j < n; ++j) s -= q[j][k] * coef[j];
    coef[k] = s / q[k][k];
  }
  if (ssr) {
    double s = 0;
    for (size_t i = n; i < m; ++i) s += b[i] * b[i];
    *ssr = s;
  }
  for (double v : coef)
    if (!std::isfinite(v)) return false;
  return true;
}

// ---- the linear parameters ------------------------------------------------------------------
namespace {

// Roles first that usually enter linearly, so that the greedy joint test keeps them.
int linear_rank(fm_role r) {
  switch (r) {
    case FM_ROLE_BASELINE: return 0;
    case FM_ROLE_AMPLITUDE: case FM_ROLE_HEIGHT: case FM_ROLE_AREA: case FM_ROLE_ANCHOR_Y: return 1;
    case FM_ROLE_OTHER: return 2;
    default: return 3;
  }
}

double step_of(double v) { return v != 0 ? std::fabs(v) : 1.0; }

// Columns of the affine dependence on the parameters of `set` at p: (f(p + h e_j) - f(p)) / h.
bool columns(const Target &t, const Vec &p, const std::vector<int> &set, const Vec &f0,
             std::vector<Vec> &cols) {
  cols.assign(set.size(), Vec());
  Vec q(p), f;
  for (size_t k = 0; k < set.size(); ++k) {
    const size_t j = static_cast<size_t>(set[k]);
    const double h = step_of(p[j]);
    q[j] = p[j] + h;
    const bool ok = t.values(q, f);
    q[j] = p[j];
    if (!ok) return false;
    cols[k].resize(f.size());
    for (size_t i = 0; i < f.size(); ++i) cols[k][i] = (f[i] - f0[i]) / h;
  }
  return true;
}

}  // namespace

std::vector<int> linear_set(const Target &t, const Vec &p, bool all_candidates) {
  std::vector<int> order;
  for (int j = 0; j < t.n; ++j) {
    if (!t.free(j)) continue;
    if (all_candidates || linear_rank(t.role(j)) <= 2) order.push_back(j);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return linear_rank(t.role(a)) < linear_rank(t.role(b)); });
  Vec f0;
  std::vector<int> set;
  if (!t.values(p, f0)) return set;
  static const double trial[2][5] = {{0.73, -1.31, 1.57, -0.47, 1.21},
                                     {-1.9, 0.41, -0.83, 1.37, -0.61}};
  for (int j : order) {
    std::vector<int> s(set);
    s.push_back(j);
    std::vector<Vec> cols;
    if (!columns(t, p, s, f0, cols)) continue;
    bool affine = true;
    Vec q, f;
    for (int tr = 0; tr < 2 && affine; ++tr) {
      q = p;
      Vec dv(s.size());
      for (size_t k = 0; k < s.size(); ++k) {
        dv[k] = trial[tr][k % 5] * (1 + 0.1 * static_cast<double>(k)) *
                step_of(p[static_cast<size_t>(s[k])]);
        q[static_cast<size_t>(s[k])] += dv[k];
      }
      if (!t.values(q, f)) {
        affine = false;
        break;
      }
      for (size_t i = 0; i < f.size() && affine; ++i) {
        double pred = f0[i], mag = std::fabs(f0[i]) + std::fabs(f[i]);
        for (size_t k = 0; k < s.size(); ++k) {
          pred += dv[k] * cols[k][i];
          mag += std::fabs(dv[k] * cols[k][i]);
        }
        if (!(std::fabs(pred - f[i]) <= 1e-8 * mag + 1e-290)) affine = false;
      }
    }
    if (affine) set = s;
  }
  return set;
}

double solve_linear(const Target &t, Vec &p, const std::vector<int> &lin) {
  if (lin.empty()) return t.rss(p);
  Vec f0;
  if (!t.values(p, f0)) return HUGE_VAL;
  std::vector<Vec> cols;
  if (!columns(t, p, lin, f0, cols)) return t.rss(p);
  const size_t m = t.data->n;
  Vec r(m);
  for (size_t i = 0; i < m; ++i) {
    const double w = t.weight(i);
    r[i] = (t.data->y[i] - f0[i]) * w;
    for (Vec &c : cols) c[i] *= w;
  }
  // Drop columns that vanish here (a zero amplitude elsewhere), then solve the rest.
  std::vector<Vec> use;
  std::vector<size_t> which;
  for (size_t k = 0; k < cols.size(); ++k) {
    double s = 0;
    for (double v : cols[k]) s += v * v;
    if (s > 0 && std::isfinite(s)) {
      use.push_back(cols[k]);
      which.push_back(k);
    }
  }
  Vec delta;
  const double before = t.rss(p);
  while (!use.empty() && !lstsq(use, r, delta)) {  // rank-deficient: drop the last column
    use.pop_back();
    which.pop_back();
  }
  if (use.empty()) return before;
  Vec q(p);
  for (size_t k = 0; k < which.size(); ++k) q[static_cast<size_t>(lin[which[k]])] += delta[k];
  const double after = t.rss(q);
  if (after < before) {
    p = q;
    return after;
  }
  return before;
}

// ---- the coarse search of the nonlinear parameters ---------------------------------------
namespace {

struct Ranges {
  double lo[3], hi[3], span[3];
};

Ranges ranges(const Target &t) {
  Ranges r;
  for (int k = 0; k < 3; ++k) r.lo[k] = HUGE_VAL, r.hi[k] = -HUGE_VAL;
  for (size_t i = 0; i < t.data->n; ++i)
    for (int k = 0; k < t.nIndep; ++k) {
      r.lo[k] = std::min(r.lo[k], t.x(i, k));
      r.hi[k] = std::max(r.hi[k], t.x(i, k));
    }
  for (int k = 0; k < 3; ++k) {
    r.span[k] = r.hi[k] - r.lo[k];
    if (!(r.span[k] > 0)) r.span[k] = std::max(1.0, std::fabs(r.lo[k]));
  }
  return r;
}

bool allowed(fm_domain d, double v) {
  switch (d) {
    case FM_DOMAIN_POSITIVE: return v > 0;
    case FM_DOMAIN_NONNEGATIVE: return v >= 0;
    case FM_DOMAIN_NONZERO: return v != 0;
    case FM_DOMAIN_NEGATIVE: return v < 0;
    case FM_DOMAIN_UNIT: return v >= 0 && v <= 1;
    default: return true;
  }
}

// Trial values of parameter j around v: shifts across the input's range for locations, factors
// and a change of sign for scales.
Vec trials(const Target &t, const Ranges &rg, int j, double v) {
  Vec out;
  const fm_role r = t.role(j);
  const fm_domain d = t.domain(j);
  if (r == FM_ROLE_CENTRE || r == FM_ROLE_OFFSET || r == FM_ROLE_ANCHOR_X) {
    // Shifts, and places just beyond either end of the data: an offset inside a logarithm or
    // a root, or a saturation constant, often has to lie outside the data's range.
    const int k = t.input_of(j);
    const double s = rg.span[k];
    for (double f : {-0.3, -0.15, -0.05, 0.05, 0.15, 0.3}) out.push_back(v + f * s);
    for (double f : {0.05, 0.3, 1.0}) {
      out.push_back(rg.lo[k] - f * s);
      out.push_back(rg.hi[k] + f * s);
      if (r == FM_ROLE_OFFSET) {  // an offset that enters as x + a
        out.push_back(-(rg.lo[k] - f * s));
        out.push_back(-(rg.hi[k] + f * s));
      }
    }
  } else if (d == FM_DOMAIN_UNIT) {
    for (double u : {0.05, 0.2, 0.35, 0.5, 0.65, 0.8, 0.95}) out.push_back(u);
  } else {
    const double base = v != 0 ? v : 1.0;
    for (double f : {0.1, 0.25, 0.5, 0.7, 1.4, 2.0, 4.0, 10.0}) out.push_back(base * f);
    for (double f : {-0.5, -1.0, -2.0}) out.push_back(base * f);
    if (v == 0)
      for (double f : {-1.0, 0.1, -0.1}) out.push_back(f);
  }
  Vec ok;
  for (double u : out)
    if (allowed(d, u) && std::isfinite(u)) ok.push_back(u);
  return ok;
}

}  // namespace

// Nonlinear parameters beyond which the coordinate sweep of polish() is left out.
constexpr size_t kSweepParams = 8;

double polish(const Target &t, Vec &p, const std::vector<int> &lin) {
  double best = solve_linear(t, p, lin);
  std::vector<int> nonlin;
  for (int j = 0; j < t.n; ++j)
    if (t.free(j) && std::find(lin.begin(), lin.end(), j) == lin.end()) nonlin.push_back(j);
  // The sweep costs a linear solve per trial of each nonlinear parameter: for many terms it
  // would outweigh the fit, and the kind's seed (terms found one after another) stands.
  if (nonlin.empty() || nonlin.size() > kSweepParams) return best;
  const Ranges rg = ranges(t);
  for (int sweep = 0; sweep < 2; ++sweep) {
    bool moved = false;
    for (int j : nonlin) {
      const size_t js = static_cast<size_t>(j);
      for (double v : trials(t, rg, j, p[js])) {
        Vec q(p);
        q[js] = v;
        const double s = solve_linear(t, q, lin);
        if (s < best) {
          best = s;
          p = q;
          moved = true;
        }
      }
    }
    if (!moved) break;
  }
  return best;
}

double refine(const Target &t, Vec &p, int budget) {
  double before = t.rss(p);
  if (!std::isfinite(before)) return before;
  fmfit_options o;
  fmfit_options_init(&o);
  o.max_evaluations = budget;
  o.threads = 1;
  o.ftol = 1e-10;
  o.xtol = 1e-10;
  fmfit_constraints c{t.held.data(), nullptr, nullptr};
  fmfit_summary s;
  Vec q(p);
  fmfit_output out{};
  out.params = q.data();
  fmfit_fit(&t.model, t.data, p.data(), &c, &o, &s, &out);
  bool finite = true;
  for (double v : q) finite = finite && std::isfinite(v);
  if (!finite) return before;
  const double after = t.rss(q);
  if (after < before) {
    p = q;
    return after;
  }
  return before;
}

namespace {

// The sum of squares the scatter of the data alone would leave: from each point's departure from
// the line through its neighbours in x (one input), or from its nearest neighbour (surfaces).
// Curvature inflates it, which only makes the check below more lenient.
double noise_rss(const Target &t) {
  const size_t m = t.data->n;
  if (m < 3) return 0;
  double sum = 0;
  size_t count = 0;
  if (t.nIndep == 1) {
    std::vector<size_t> idx(m);
    for (size_t i = 0; i < m; ++i) idx[i] = i;
    std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) { return t.x(a, 0) < t.x(b, 0); });
    for (size_t k = 1; k + 1 < m; ++k) {
      const size_t a = idx[k - 1], i = idx[k], b = idx[k + 1];
      const double xa = t.x(a, 0), xi = t.x(i, 0), xb = t.x(b, 0);
      const double u = xb > xa ? (xi - xa) / (xb - xa) : 0.5;
      const double r = t.data->y[i] - ((1 - u) * t.data->y[a] + u * t.data->y[b]);
      const double w = t.weight(i);
      sum += w * w * r * r / (1 + u * u + (1 - u) * (1 - u));
      ++count;
    }
  } else {
    const size_t lim = std::min<size_t>(m, 1500);
    const Ranges rg = ranges(t);
    for (size_t i = 0; i < lim; ++i) {
      double bestd = HUGE_VAL;
      size_t bj = i;
      for (size_t j = 0; j < lim; ++j) {
        if (j == i) continue;
        double d = 0;
        for (int k = 0; k < t.nIndep; ++k) {
          const double z = (t.x(i, k) - t.x(j, k)) / rg.span[k];
          d += z * z;
        }
        if (d < bestd) bestd = d, bj = j;
      }
      const double r = t.data->y[i] - t.data->y[bj];
      const double w = t.weight(i);
      sum += w * w * r * r / 2;
      ++count;
    }
  }
  return count ? sum / static_cast<double>(count) * static_cast<double>(m) : 0;
}

// The parameters of the model's first generic point, by position within the shared ones and
// the term for a multi-term count.
Vec generic_params(const fm_model_info *info, int n) {
  Vec g(static_cast<size_t>(n), 1.0);
  if (info == nullptr || info->point_count < 1) return g;
  const fm_point &pt = info->points[0];
  for (int j = 0; j < n; ++j) {
    int src = j;
    if (pt.nparams != n && info->layout.per_term > 0 && j >= info->layout.shared)
      src = info->layout.shared + (j - info->layout.shared) % info->layout.per_term;
    if (src < pt.nparams) g[static_cast<size_t>(j)] = pt.params[src + 1];
  }
  return g;
}

// Starting values need the curve's shape, not every point: a long data set is thinned to an
// evenly strided subset (its first and last points kept) before anything is estimated, so that
// the estimate stays a small share of the fit however long the data.
constexpr size_t kEstimatePoints = 2000;
// The multi-start search samples a box of every free parameter: beyond this many it cannot
// cover the box in a bounded time, and the kind's own estimate is kept.
constexpr int kSearchParams = 12;
// Looking for parameters the data cannot determine takes a fit per candidate: done for models
// of up to this many parameters (an offset of x beside an amplitude, a ratio's common scale).
constexpr int kHoldsParams = 12;
struct Thinned {
  std::vector<double> x, y, w;
  fmfit_data data{};
};
const fmfit_data *thinned(const fmfit_data *d, int nIndep, Thinned &keep) {
  if (d->n <= kEstimatePoints || nIndep < 1) return d;
  const size_t m = kEstimatePoints, ni = static_cast<size_t>(nIndep);
  keep.x.resize(m * ni);
  keep.y.resize(m);
  if (d->weights) keep.w.resize(m);
  for (size_t k = 0; k < m; ++k) {
    const size_t i = k * (d->n - 1) / (m - 1);
    for (size_t c = 0; c < ni; ++c) keep.x[k * ni + c] = d->x[i * ni + c];
    keep.y[k] = d->y[i];
    if (d->weights) keep.w[k] = d->weights[i];
  }
  keep.data = fmfit_data{m, keep.x.data(), keep.y.data(), d->weights ? keep.w.data() : nullptr};
  return &keep.data;
}

// Evaluations the engine may spend refining the seed: 60 per free parameter, fewer where a
// step's work (points times the square of the free parameters, the QR of the Jacobian) is
// large, so that the refinement costs about as much as a short fit.
int refine_budget(size_t points, int nfree) {
  const double work = static_cast<double>(points) * (nfree + 1) * (nfree + 1);
  const double cap = 2e8 / std::max(work, 1.0);
  return static_cast<int>(std::max(20.0, std::min(60.0 * (nfree + 1), cap)));
}

int32_t estimate(void *context, const fmfit_model *model, int16_t nParams, const fmfit_data *data,
                 double *start) {
  if (model == nullptr || data == nullptr || start == nullptr || nParams < 1 ||
      data->n == 0 || data->x == nullptr || data->y == nullptr)
    return 1;
  Target t;
  t.data = data;
  t.n = nParams;
  t.model = *model;
  t.model.nParams = nParams;
  t.function = model->function;
  if (model->name != nullptr) {
    t.info = fm_catalog_find(model->name);
    if (t.info == nullptr) return 1;
    if (t.info->start == FM_START_NONE) return 1;
    if (fm_layout_params(t.info, nParams) < 0) return 1;
    t.nIndep = t.info->nIndep;
    t.model.nIndep = t.info->nIndep;
    if (t.function == nullptr) t.function = fm_catalog_function(t.info);
  } else {
    t.nIndep = model->nIndep;
  }
  if (t.function == nullptr || t.nIndep < 1 || t.nIndep > 3) return 1;
  Thinned keep;
  data = thinned(data, t.nIndep, keep);
  t.data = data;
  for (size_t i = 0; i < data->n; ++i) {
    if (!std::isfinite(data->y[i])) return 1;
    for (int k = 0; k < t.nIndep; ++k)
      if (!std::isfinite(t.x(i, k))) return 1;
    if (data->weights && !(std::isfinite(data->weights[i]) && data->weights[i] >= 0)) return 1;
  }
  const size_t n = static_cast<size_t>(nParams);
  t.held.assign(n, 0);
  t.known.assign(n, 0.0);
  const auto *known = static_cast<const fmfit_estimate_known *>(context);
  if (known != nullptr && known->size == sizeof(fmfit_estimate_known) && known->known != nullptr &&
      known->values != nullptr)
    for (size_t j = 0; j < n; ++j)
      if (known->known[j]) {
        if (!std::isfinite(known->values[j])) return 1;
        t.held[j] = 1;
        t.known[j] = known->values[j];
      }
  t.generic = generic_params(t.info, nParams);
  t.noise_rss = noise_rss(t);

  const fm_start_kind kind = t.info ? t.info->start : FM_START_GENERIC;
  Vec p(t.generic);
  if (!seed(t, kind, p)) p = t.generic;
  for (size_t j = 0; j < n; ++j)
    if (t.held[j]) p[j] = t.known[j];
  int nfree = 0;
  for (int j = 0; j < t.n; ++j) nfree += t.free(j);
  if (static_cast<size_t>(nfree) > data->n) return 1;  // the data cannot determine them
  const std::vector<int> lin = linear_set(t, p, true);
  double rss = polish(t, p, lin);
  if (!(static_cast<int>(lin.size()) == nfree && std::isfinite(rss)))
    rss = refine(t, p, refine_budget(data->n, nfree));
  // Far from the data (or nowhere at all): the multi-start search, which keeps p if nothing
  // beats it.
  if (!(rss <= 1.3 * t.noise_rss + 1e-300) && nfree <= kSearchParams) search(t, lin, p, rss);
  // A sum of squares beyond the doubles (data near the largest numbers) still leaves a start
  // where the model evaluates: the fit then says that its statistics are not finite.
  for (size_t j = 0; j < n; ++j)
    if (!std::isfinite(p[j])) return 1;
  Vec fitted;
  if (!std::isfinite(rss) && !t.values(p, fitted)) return 1;
  for (size_t j = 0; j < n; ++j) start[j] = p[j];
  return 0;
}

// Which of several collinear parameters is held: the lowest rank goes first.
int hold_rank(fm_role r) {
  switch (r) {
    case FM_ROLE_OFFSET: return 0;
    case FM_ROLE_ANCHOR_X: return 1;
    case FM_ROLE_OTHER: return 2;
    case FM_ROLE_CENTRE: return 3;
    case FM_ROLE_SHAPE: case FM_ROLE_EXPONENT: return 4;
    case FM_ROLE_WIDTH: case FM_ROLE_TIME: case FM_ROLE_RATE: return 5;
    case FM_ROLE_BASELINE: return 7;
    default: return 6;
  }
}

int32_t holds(const fmfit_model *model, int16_t nParams, const fmfit_data *data,
              const double *start, uint8_t *held) {
  if (model == nullptr || data == nullptr || start == nullptr || held == nullptr || nParams < 1)
    return -1;
  const size_t n = static_cast<size_t>(nParams);
  if (nParams > kHoldsParams) return 0;
  const fm_model_info *info = model->name ? fm_catalog_find(model->name) : nullptr;
  Thinned keep;
  data = thinned(data, info ? info->nIndep : model->nIndep, keep);
  fmfit_model m = *model;
  m.nParams = nParams;
  fmfit_options o;
  fmfit_options_init(&o);
  o.threads = 1;
  std::vector<uint8_t> flags(n), h(held, held + n);
  Vec p(n);
  auto undetermined = [&](const std::vector<uint8_t> &hh) {
    fmfit_constraints c{hh.data(), nullptr, nullptr};
    fmfit_summary s;
    fmfit_output out{};
    out.params = p.data();
    out.flags = flags.data();
    const int32_t st = fmfit_fit(&m, data, start, &c, &o, &s, &out);
    int count = 0;
    for (size_t j = 0; j < n; ++j) count += (flags[j] & FMFIT_FLAG_UNDETERMINED) != 0;
    return st == FMFIT_UNDETERMINED ? std::max(count, 1) : 0;
  };
  auto role_of = [&](size_t j) {
    const fm_param_info *pi = info ? fm_param(info, nParams, static_cast<int>(j) + 1) : nullptr;
    return pi ? pi->role : FM_ROLE_OTHER;
  };
  int32_t marked = 0;
  int now = undetermined(h);
  while (now > 0) {
    // Candidates: the flagged ones and every parameter that is usually redundant, by rank.
    std::vector<size_t> cand;
    for (size_t j = 0; j < n; ++j) {
      if (h[j]) continue;
      if ((flags[j] & FMFIT_FLAG_UNDETERMINED) || hold_rank(role_of(j)) <= 2) cand.push_back(j);
    }
    std::stable_sort(cand.begin(), cand.end(),
                     [&](size_t a, size_t b) { return hold_rank(role_of(a)) < hold_rank(role_of(b)); });
    bool progress = false;
    for (size_t j : cand) {
      std::vector<uint8_t> trial(h);
      trial[j] = 1;
      const std::vector<uint8_t> flags_before(flags);
      const int after = undetermined(trial);
      if (after < now) {
        h = trial;
        now = after;
        progress = true;
        break;
      }
      flags = flags_before;
    }
    if (!progress) break;
    ++marked;
  }
  std::copy(h.begin(), h.end(), held);
  return marked;
}

}  // namespace
}  // namespace est
}  // namespace fmfit

extern "C" FMFIT_API int32_t fmfit_estimate_holds(const fmfit_model *model, int16_t nParams,
                                                  const fmfit_data *data, const double *start,
                                                  uint8_t *held) {
  try {
    return fmfit::est::holds(model, nParams, data, start, held);
  } catch (const std::bad_alloc &) {
    return -1;
  }
}

extern "C" FMFIT_API int32_t fmfit_estimate(void *context, const fmfit_model *model,
                                            int16_t nParams, const fmfit_data *data,
                                            double *start) {
  try {
    return fmfit::est::estimate(context, model, nParams, data, start);
  } catch (const std::bad_alloc &) {
    return 1;
  }
}
