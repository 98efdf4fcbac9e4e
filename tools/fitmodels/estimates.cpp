#include "estimates.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>

namespace fmtool {
namespace {

constexpr double kPi = 3.141592653589793;
const double kLn3 = std::log(3.0);

// The data sorted by x with the y of equal x averaged (a plate's replicates become one point).
struct Curve {
  std::vector<double> x, y;
  double xmin() const { return x.front(); }
  double xmax() const { return x.back(); }
  size_t size() const { return x.size(); }
};

Curve make_curve(const Data &data, bool positive_x = false) {
  std::map<double, std::pair<double, int>> acc;
  for (size_t i = 0; i < data.size(); ++i) {
    const double x = data.x[i][1];
    if (positive_x && !(x > 0)) continue;
    auto &a = acc[x];
    a.first += data.y[i];
    a.second += 1;
  }
  Curve c;
  for (const auto &kv : acc) {
    c.x.push_back(kv.first);
    c.y.push_back(kv.second.first / kv.second.second);
  }
  return c;
}

// Moving average over i - half .. i + half, from prefix sums (linear in the number of points
// whatever the width), each window summed from the same prefixes.
std::vector<double> smooth(const std::vector<double> &y, int half) {
  const size_t n = y.size(), h = static_cast<size_t>(half);
  std::vector<long double> prefix(n + 1, 0.0L);
  for (size_t i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + y[i];
  std::vector<double> out(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t a = i > h ? i - h : 0, b = std::min(n - 1, i + h);
    out[i] = static_cast<double>((prefix[b + 1] - prefix[a]) / static_cast<long double>(b - a + 1));
  }
  return out;
}

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(q * (static_cast<double>(v.size()) - 1))];
}

// ---- peaks ----------------------------------------------------------------------------------
struct Peak {
  double x, height, fwhm;
};

// K peaks over a baseline: the highest maximum of the smoothed data, its half-maximum width,
// then the same on the data less a Gaussian of that peak, K times. Negative peaks when the data
// dip further below their median than they rise above it.
bool find_peaks(const Curve &c, int k, const double *held_base, double &base,
                std::vector<Peak> &peaks, std::string &why) {
  if (c.size() < static_cast<size_t>(3 * k + 1)) {
    why = "too few distinct x values to locate " + std::to_string(k) + " peak(s)";
    return false;
  }
  const double med = quantile(c.y, 0.5);
  const double lo = *std::min_element(c.y.begin(), c.y.end());
  const double hi = *std::max_element(c.y.begin(), c.y.end());
  const double sign = (med - lo > hi - med) ? -1.0 : 1.0;
  std::vector<double> y(c.y);
  for (double &v : y) v *= sign;
  std::vector<double> s = smooth(y, std::max(1, static_cast<int>(c.size()) / 60));
  base = held_base ? sign * *held_base : quantile(s, 0.1);
  std::vector<double> r(s);
  for (double &v : r) v -= base;
  const double span = c.xmax() - c.xmin();
  for (int p = 0; p < k; ++p) {
    const size_t i = static_cast<size_t>(std::max_element(r.begin(), r.end()) - r.begin());
    const double h = r[i];
    if (!(h > 0)) {
      why = "found only " + std::to_string(p) + " of " + std::to_string(k) + " peaks";
      return false;
    }
    auto cross = [&](int dir) {
      int j = static_cast<int>(i);
      while (j + dir >= 0 && j + dir < static_cast<int>(r.size()) && r[static_cast<size_t>(j)] > h / 2) j += dir;
      const size_t a = static_cast<size_t>(j), b = static_cast<size_t>(j - dir);
      if (r[a] > h / 2) return -1.0;
      const double t = (r[b] - h / 2) / (r[b] - r[a]);
      return std::fabs(c.x[b] + t * (c.x[a] - c.x[b]) - c.x[i]);
    };
    double left = cross(-1), right = cross(1);
    if (left < 0 && right < 0) left = right = span / 8;
    if (left < 0) left = right;
    if (right < 0) right = left;
    double fwhm = left + right;
    if (!(fwhm > 0)) fwhm = span / 20;
    peaks.push_back({c.x[i], h, fwhm});
    for (size_t j = 0; j < r.size(); ++j) {
      const double z = (c.x[j] - c.x[i]) / fwhm;
      r[j] -= h * std::exp(-4 * std::log(2.0) * z * z);
    }
  }
  std::sort(peaks.begin(), peaks.end(), [](const Peak &a, const Peak &b) { return a.x < b.x; });
  base *= sign;
  for (Peak &p : peaks) p.height *= sign;
  return true;
}

// ---- transitions (sigmoids) -----------------------------------------------------------------
struct Transition {
  double start, end, t25, t50, t75;
};

// The plateaus at both ends and where the curve passes 25, 50 and 75 % of the way between them,
// in t = x or t = ln x. A forced start (0 for curves that rise from zero) replaces the left one.
bool transition(const Curve &c, bool logx, const double *forced_start, Transition &tr,
                std::string &why) {
  if (c.size() < 4) {
    why = "too few distinct x values for a transition";
    return false;
  }
  std::vector<double> t(c.x);
  if (logx)
    for (double &v : t) v = std::log(v);
  const std::vector<double> y = c.size() > 10 ? smooth(c.y, 1) : c.y;
  const size_t e = std::max<size_t>(1, c.size() / 8);
  double a = 0, b = 0;
  for (size_t i = 0; i < e; ++i) {
    a += c.y[i] / static_cast<double>(e);
    b += c.y[c.size() - 1 - i] / static_cast<double>(e);
  }
  tr.start = forced_start ? *forced_start : a;
  tr.end = b;
  if (tr.end == tr.start) {
    why = "the data show no transition";
    return false;
  }
  auto at = [&](double f) {
    for (size_t i = 1; i < y.size(); ++i) {
      const double f0 = (y[i - 1] - tr.start) / (tr.end - tr.start);
      const double f1 = (y[i] - tr.start) / (tr.end - tr.start);
      if ((f0 - f) * (f1 - f) <= 0 && f0 != f1) return t[i - 1] + (f - f0) / (f1 - f0) * (t[i] - t[i - 1]);
    }
    return std::numeric_limits<double>::quiet_NaN();
  };
  tr.t25 = at(0.25);
  tr.t50 = at(0.5);
  tr.t75 = at(0.75);
  const double span = t.back() - t.front();
  if (!std::isfinite(tr.t50)) tr.t50 = t.front() + span / 2;
  if (!std::isfinite(tr.t25) || !std::isfinite(tr.t75) || !(tr.t75 > tr.t25)) {
    tr.t25 = tr.t50 - span / 10;
    tr.t75 = tr.t50 + span / 10;
  }
  return true;
}

// ---- sums of exponentials -------------------------------------------------------------------
// y = [c0] + sum c_k*exp(r_k*(x - x_ref)): for fixed rates the c are a linear least-squares
// problem, so the rates are searched on a grid (then refined for one term) and the c solved.
struct ExpFit {
  double offset = 0;
  std::vector<double> amp, rate;  // amplitudes at x_ref
  double xref = 0;
};

double exp_ssr(const Curve &c, const std::vector<double> &rates, bool offset, bool rise,
               ExpFit *out) {
  std::vector<std::vector<double>> cols;
  if (offset) cols.emplace_back(c.size(), 1.0);
  for (double r : rates) {
    std::vector<double> col(c.size());
    for (size_t i = 0; i < c.size(); ++i) {
      const double e = std::exp(r * (c.x[i] - (rise ? 0.0 : c.xmin())));
      col[i] = rise ? 1.0 - e : e;
    }
    cols.push_back(col);
  }
  std::vector<double> coef;
  double ssr;
  if (!linear_least_squares(cols, c.y, coef, &ssr)) return HUGE_VAL;
  if (out) {
    out->xref = rise ? 0.0 : c.xmin();
    out->offset = offset ? coef[0] : 0.0;
    out->amp.assign(coef.begin() + (offset ? 1 : 0), coef.end());
    out->rate = rates;
  }
  return ssr;
}

// sign: -1 decaying terms, +1 growing, 0 either. rise: the one-term form c*(1 - exp(r*x)).
bool fit_exponentials(const Curve &c, int terms, bool offset, int sign, bool rise, ExpFit &fit,
                      std::string &why) {
  if (c.size() < static_cast<size_t>(2 * terms + (offset ? 1 : 0))) {
    why = "too few distinct x values for " + std::to_string(terms) + " exponential term(s)";
    return false;
  }
  const double span = c.xmax() - c.xmin();
  if (!(span > 0)) {
    why = "all x values are equal";
    return false;
  }
  const int g = terms == 1 ? 60 : terms == 2 ? 24 : 14;
  std::vector<double> grid;
  for (int i = 0; i < g; ++i) {
    const double mag = 0.02 * std::pow(5000.0, i / (g - 1.0)) / span;
    if (sign <= 0) grid.push_back(-mag);
    if (sign >= 0) grid.push_back(mag);
  }
  std::sort(grid.begin(), grid.end());
  std::vector<double> best;
  double best_ssr = HUGE_VAL;
  std::vector<size_t> idx(static_cast<size_t>(terms));
  std::function<void(size_t, size_t)> walk = [&](size_t level, size_t from) {
    if (level == idx.size()) {
      std::vector<double> rates;
      for (size_t k : idx) rates.push_back(grid[k]);
      const double s = exp_ssr(c, rates, offset, rise, nullptr);
      if (s < best_ssr) {
        best_ssr = s;
        best = rates;
      }
      return;
    }
    for (size_t k = from; k < grid.size(); ++k) {
      idx[level] = k;
      walk(level + 1, k + 1);
    }
  };
  walk(0, 0);
  if (best.empty()) {
    why = "no exponential describes the data";
    return false;
  }
  if (terms == 1) {  // golden-section refinement of the one rate, in log |r|
    const double s = best[0] < 0 ? -1.0 : 1.0;
    double a = std::log(std::fabs(best[0])) - 0.2, b = std::log(std::fabs(best[0])) + 0.2;
    const double gr = (std::sqrt(5.0) - 1) / 2;
    for (int it = 0; it < 60; ++it) {
      const double u = b - gr * (b - a), v = a + gr * (b - a);
      if (exp_ssr(c, {s * std::exp(u)}, offset, rise, nullptr) <
          exp_ssr(c, {s * std::exp(v)}, offset, rise, nullptr))
        b = v;
      else
        a = u;
    }
    best[0] = s * std::exp((a + b) / 2);
  }
  exp_ssr(c, best, offset, rise, &fit);
  return true;
}

// One-dimensional search of a nonlinear parameter q (log grid, then golden section) whose
// remaining parameters are linear: columns(q) gives the basis, the result its coefficients.
bool search_linear(const Curve &c, double lo, double hi,
                   const std::function<std::vector<std::vector<double>>(double)> &columns,
                   double &q, std::vector<double> &coef) {
  auto ssr_at = [&](double v) {
    std::vector<double> cf;
    double s;
    return linear_least_squares(columns(v), c.y, cf, &s) ? s : HUGE_VAL;
  };
  double best = HUGE_VAL;
  const int g = 80;
  for (int i = 0; i < g; ++i) {
    const double v = lo * std::pow(hi / lo, i / (g - 1.0));
    const double s = ssr_at(v);
    if (s < best) {
      best = s;
      q = v;
    }
  }
  if (!std::isfinite(best)) return false;
  double a = std::log(q) - std::log(hi / lo) / g, b = std::log(q) + std::log(hi / lo) / g;
  const double gr = (std::sqrt(5.0) - 1) / 2;
  for (int it = 0; it < 50; ++it) {
    const double u = b - gr * (b - a), v = a + gr * (b - a);
    if (ssr_at(std::exp(u)) < ssr_at(std::exp(v)))
      b = v;
    else
      a = u;
  }
  if (ssr_at(std::exp((a + b) / 2)) <= best) q = std::exp((a + b) / 2);
  double s;
  return linear_least_squares(columns(q), c.y, coef, &s);
}

// ---- models linear in their parameters ------------------------------------------------------
// The value at unit parameter vectors gives the basis; the model is linear when two random
// parameter vectors reproduce the combination of the basis at every point.
bool linear_model(const ModelInfo &m, int n, const Data &data, std::vector<double> &out) {
  const size_t np = data.size();
  std::vector<std::vector<double>> basis(static_cast<size_t>(n), std::vector<double>(np));
  std::vector<double> p(static_cast<size_t>(n) + 1, 0.0), y(static_cast<size_t>(n) + 4);
  for (int j = 1; j <= n; ++j) {
    std::fill(p.begin(), p.end(), 0.0);
    p[static_cast<size_t>(j)] = 1.0;
    for (size_t i = 0; i < np; ++i) {
      if (!model_value(m, n, p.data(), data.x[i].data(), y.data())) return false;
      basis[static_cast<size_t>(j - 1)][i] = y[1];
    }
  }
  const double trial[2][3] = {{0.73, -1.31, 2.17}, {-1.9, 0.41, 1.07}};
  for (const auto &t : trial) {
    for (int j = 1; j <= n; ++j) p[static_cast<size_t>(j)] = t[j % 3] * (1 + 0.1 * j);
    for (size_t i = 0; i < np; ++i) {
      if (!model_value(m, n, p.data(), data.x[i].data(), y.data())) return false;
      double s = 0, mag = std::fabs(y[1]);
      for (int j = 1; j <= n; ++j) {
        const double term = p[static_cast<size_t>(j)] * basis[static_cast<size_t>(j - 1)][i];
        s += term;
        mag += std::fabs(term);
      }
      if (std::fabs(s - y[1]) > 1e-9 * mag + 1e-300) return false;
    }
  }
  return linear_least_squares(basis, data.y, out);
}

bool positive_x(const Data &d, std::string &why) {
  for (size_t i = 0; i < d.size(); ++i)
    if (!(d.x[i][1] > 0)) {
      why = "the estimates need x > 0 (point " + std::to_string(i + 1) + ")";
      return false;
    }
  return true;
}

}  // namespace

bool linear_least_squares(const std::vector<std::vector<double>> &a, const std::vector<double> &y,
                          std::vector<double> &coef, double *ssr) {
  const size_t m = y.size(), n = a.size();
  if (n == 0 || m < n) return false;
  std::vector<std::vector<double>> q(a);
  std::vector<double> b(y);
  double scale = 0;
  for (const auto &col : q)
    for (double v : col) scale = std::max(scale, std::fabs(v));
  for (size_t k = 0; k < n; ++k) {
    double norm = 0;
    for (size_t i = k; i < m; ++i) norm += q[k][i] * q[k][i];
    norm = std::sqrt(norm);
    double colmax = 0;
    for (size_t i = 0; i < m; ++i) colmax = std::max(colmax, std::fabs(a[k][i]));
    if (!(norm > 1e-12 * colmax) || !std::isfinite(norm)) return false;
    const double alpha = q[k][k] > 0 ? -norm : norm;
    std::vector<double> v(m, 0.0);
    for (size_t i = k; i < m; ++i) v[i] = q[k][i];
    v[k] -= alpha;
    double vv = 0;
    for (size_t i = k; i < m; ++i) vv += v[i] * v[i];
    if (vv == 0) continue;
    auto reflect = [&](std::vector<double> &col) {
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

namespace {

bool estimate_free(const ModelInfo &m, int n, const Data &data, const std::vector<bool> &held,
                   const std::vector<double> &held_values, Estimate &out, std::string &why);

// The free parameters in which the model is linear at p (one step of each changes every value
// by the same multiple of its own column, and steps of all of them add up), solved by linear
// least squares with the others at p: what the estimators solve exactly, solved again once the
// held parameters take their values. False, with p unchanged, when none is linear or the
// solution is not finite.
bool resolve_linear(const ModelInfo &m, int n, const Data &data, const std::vector<bool> &held,
                    std::vector<double> &p) {
  const size_t np = data.size();
  std::vector<double> full(static_cast<size_t>(n) + 1), y(static_cast<size_t>(n) + 4);
  auto values = [&](const std::vector<double> &q, std::vector<double> &out) {
    std::copy(q.begin(), q.end(), full.begin() + 1);
    out.resize(np);
    for (size_t i = 0; i < np; ++i) {
      if (!model_value(m, n, full.data(), data.x[i].data(), y.data())) return false;
      out[i] = y[1];
    }
    return true;
  };
  std::vector<double> base, up, down, sum;
  std::vector<int> lin;
  std::vector<std::vector<double>> cols;
  if (!values(p, base)) return false;
  for (int j = 0; j < n; ++j) {
    if (held[static_cast<size_t>(j)]) continue;
    std::vector<double> q(p);
    const double h = std::max(1.0, std::fabs(p[static_cast<size_t>(j)]));
    q[static_cast<size_t>(j)] = p[static_cast<size_t>(j)] + h;
    if (!values(q, up)) continue;
    q[static_cast<size_t>(j)] = p[static_cast<size_t>(j)] - 2 * h;
    if (!values(q, down)) continue;
    bool linear = true;
    std::vector<double> col(np);
    for (size_t i = 0; i < np && linear; ++i) {
      col[i] = (up[i] - base[i]) / h;
      const double mag = std::fabs(base[i]) + std::fabs(up[i]) + std::fabs(down[i]);
      linear = std::fabs((down[i] - base[i]) + 2 * h * col[i]) <= 1e-9 * mag + 1e-300;
    }
    if (linear) {
      lin.push_back(j);
      cols.push_back(col);
    }
  }
  if (lin.empty()) return false;
  // Jointly linear: a step of all of them together adds up.
  std::vector<double> q(p);
  for (int j : lin) q[static_cast<size_t>(j)] += std::max(1.0, std::fabs(p[static_cast<size_t>(j)]));
  if (!values(q, sum)) return false;
  std::vector<double> rhs(np);
  for (size_t i = 0; i < np; ++i) {
    double s = base[i], mag = std::fabs(base[i]) + std::fabs(sum[i]);
    for (size_t k = 0; k < lin.size(); ++k) {
      s += cols[k][i] * std::max(1.0, std::fabs(p[static_cast<size_t>(lin[k])]));
    }
    if (std::fabs(s - sum[i]) > 1e-9 * mag + 1e-300) return false;
  }
  // y - (value less the linear part) = sum_k col_k * p_k.
  for (size_t i = 0; i < np; ++i) {
    double part = base[i];
    for (size_t k = 0; k < lin.size(); ++k) part -= cols[k][i] * p[static_cast<size_t>(lin[k])];
    rhs[i] = data.y[i] - part;
  }
  std::vector<double> coef;
  if (!linear_least_squares(cols, rhs, coef)) return false;
  for (size_t k = 0; k < lin.size(); ++k) p[static_cast<size_t>(lin[k])] = coef[k];
  return true;
}

}  // namespace

bool estimate(const ModelInfo &m, int n, const Data &data, const std::vector<bool> &held,
              const std::vector<double> &held_values, Estimate &out, std::string &why) {
  std::vector<bool> h(held);
  h.resize(static_cast<size_t>(n), false);
  std::vector<double> v(held_values);
  v.resize(static_cast<size_t>(n), 0.0);
  if (!estimate_free(m, n, data, h, v, out, why)) return false;
  if (std::find(h.begin(), h.end(), true) == h.end()) return true;
  for (int j = 0; j < n; ++j)
    if (h[static_cast<size_t>(j)]) out.params[static_cast<size_t>(j)] = v[static_cast<size_t>(j)];
  resolve_linear(m, n, data, h, out.params);
  return true;
}

namespace {

bool estimate_free(const ModelInfo &m, int n, const Data &data, const std::vector<bool> &held,
                   const std::vector<double> &held_values, Estimate &out, std::string &why) {
  out = Estimate{};
  out.params.assign(static_cast<size_t>(n), 0.0);
  out.hold.assign(static_cast<size_t>(n), false);
  std::vector<double> &p = out.params;
  const std::string name = lower(m.name);
  if (data.size() == 0) {
    why = "no data";
    return false;
  }
  auto is = [&](std::initializer_list<const char *> names) {
    for (const char *s : names)
      if (name == s) return true;
    return false;
  };
  if (m.nIndep == 1) {
    // Peaks: a baseline, then per peak its parameters from position, height and half-width.
    if (is({"gauss", "lorentz", "gaussamp", "lognormal", "voigt5", "psdvoigt1"}) && m.terms) {
      const int k = m.term_count(n);
      if (name == "lognormal" && !positive_x(data, why)) return false;
      Curve c = make_curve(data);
      double base;
      std::vector<Peak> peaks;
      if (!find_peaks(c, k, held[0] ? &held_values[0] : nullptr, base, peaks, why)) return false;
      p[0] = base;
      for (int j = 0; j < k; ++j) {
        const Peak &q = peaks[static_cast<size_t>(j)];
        double *b = &p[static_cast<size_t>(1 + m.per_term * j)];
        if (name == "gauss") {
          b[0] = q.x, b[1] = q.fwhm / std::sqrt(2 * std::log(2.0));
          b[2] = q.height * b[1] * std::sqrt(kPi / 2);
        } else if (name == "lorentz") {
          b[0] = q.x, b[1] = q.fwhm, b[2] = q.height * kPi * q.fwhm / 2;
        } else if (name == "gaussamp") {
          b[0] = q.x, b[1] = q.fwhm / (2 * std::sqrt(2 * std::log(2.0))), b[2] = q.height;
        } else if (name == "lognormal") {
          const double w = std::log((q.x + q.fwhm / 2) / std::max(q.x - q.fwhm / 2, q.x / 10)) /
                           (2 * std::sqrt(2 * std::log(2.0)));
          b[0] = q.x, b[1] = w, b[2] = q.height * q.x * w * std::sqrt(2 * kPi);
        } else if (name == "voigt5") {  // centre, area, Gaussian and Lorentzian widths
          b[0] = q.x, b[1] = q.height * q.fwhm * 1.3, b[2] = q.fwhm / 1.64, b[3] = q.fwhm / 1.64;
        } else {  // pseudo-Voigt: centre, area, width, Lorentzian fraction
          b[0] = q.x, b[1] = q.height * q.fwhm * 1.32, b[2] = q.fwhm, b[3] = 0.5;
        }
      }
      return true;
    }
    // Sigmoids and dose-response curves, from their plateaus and the 25/50/75 % points.
    if (is({"boltzman", "slogistic1", "response1"})) {
      Curve c = make_curve(data);
      Transition tr;
      const double zero = 0.0;
      if (!transition(c, false, name == "slogistic1" ? &zero : nullptr, tr, why)) return false;
      const double width = tr.t75 - tr.t25;
      if (name == "boltzman") {
        p = {tr.start, tr.end, tr.t50, width / (2 * kLn3)};
      } else if (name == "slogistic1") {
        p = {tr.end, tr.t50, 2 * kLn3 / width};
      } else {
        p = {tr.start, tr.end, tr.t50, 2 * std::log10(3.0) / width};
      }
      return true;
    }
    if (is({"logistic", "hill", "hill1", "logistic5"})) {
      Curve c = make_curve(data, true);
      Transition tr;
      const double zero = 0.0;
      if (!transition(c, true, name == "hill" ? &zero : nullptr, tr, why)) return false;
      const double slope = 2 * kLn3 / (tr.t75 - tr.t25), mid = std::exp(tr.t50);
      if (name == "hill") {
        p = {tr.end, mid, slope};
      } else if (name == "logistic") {  // y = A2 + (A1 - A2)/(1 + (x/x0)^p)
        p = {tr.start, tr.end, mid, slope};
      } else if (name == "hill1") {
        p = {tr.start, tr.end, mid, slope};
      } else {
        p = {tr.start, tr.end, mid, slope, 1.0};
      }
      return true;
    }
    // Exponentials: offset and amplitudes solved exactly for rates searched on a grid.
    struct ExpKind {
      const char *name;
      int terms;
      bool offset;
      int sign;
      int layout;  // 0: y0, (A, t)..; 1: y0, x0, (A, t)..; 2: y0, A, rate; 3: a, b (rise);
                   // 4: (a, b).. with exp(-b*x)
    };
    static const ExpKind kinds[] = {
        {"expdec1", 1, true, -1, 0},   {"expdec2", 2, true, -1, 0},  {"expdec3", 3, true, -1, 0},
        {"expgro1", 1, true, 1, 0},    {"expdecay1", 1, true, -1, 1}, {"expdecay2", 2, true, -1, 1},
        {"expdecay3", 3, true, -1, 1}, {"expgrow1", 1, true, 1, 1},   {"exponential", 1, true, 0, 2},
        {"boxlucas1", 1, false, -1, 3}, {"lanczos3", 3, false, -1, 4}};
    for (const ExpKind &k : kinds) {
      if (name != k.name) continue;
      Curve c = make_curve(data);
      ExpFit f;
      // A held offset is taken off the data, and the rates searched for the rest.
      const bool offset_held = k.offset && held[0];
      if (offset_held)
        for (double &yv : c.y) yv -= held_values[0];
      if (!fit_exponentials(c, k.terms, k.offset && !offset_held, k.sign, k.layout == 3, f, why))
        return false;
      if (offset_held) f.offset = held_values[0];
      std::vector<double> v;
      if (k.layout == 0 || k.layout == 1) {
        v.push_back(f.offset);
        if (k.layout == 1) v.push_back(f.xref);
        for (int t = 0; t < k.terms; ++t) {
          const double r = f.rate[static_cast<size_t>(t)], a = f.amp[static_cast<size_t>(t)];
          v.push_back(k.layout == 1 ? a : a * std::exp(-r * f.xref));
          v.push_back(1.0 / std::fabs(r));
        }
        if (k.layout == 1) {
          out.hold[1] = true;
          out.note = m.names_for(n)[1] + " held at the first x (it only rescales the amplitudes)";
        }
      } else if (k.layout == 2) {
        v = {f.offset, f.amp[0] * std::exp(-f.rate[0] * f.xref), f.rate[0]};
      } else if (k.layout == 3) {
        v = {f.amp[0], -f.rate[0]};
      } else {
        for (int t = 0; t < k.terms; ++t)
          v.push_back(f.amp[static_cast<size_t>(t)] * std::exp(-f.rate[static_cast<size_t>(t)] * f.xref)),
              v.push_back(-f.rate[static_cast<size_t>(t)]);
      }
      if (static_cast<int>(v.size()) != n) break;
      p = v;
      return true;
    }
    // Power laws: a straight line in log-log coordinates.
    if (is({"allometric1", "freundlich", "timepow"})) {
      double sy = 0;
      std::vector<std::vector<double>> cols(2);
      std::vector<double> ly;
      for (double v : data.y) sy += v;
      const double s = sy < 0 ? -1.0 : 1.0;
      for (size_t i = 0; i < data.size(); ++i)
        if (data.x[i][1] > 0 && s * data.y[i] > 0) {
          cols[0].push_back(1.0);
          cols[1].push_back(std::log(data.x[i][1]));
          ly.push_back(std::log(s * data.y[i]));
        }
      std::vector<double> coef;
      if (!linear_least_squares(cols, ly, coef)) {
        why = "too few points with x > 0 and y of one sign for a log-log fit";
        return false;
      }
      p = {s * std::exp(coef[0]), coef[1]};
      return true;
    }
    // Saturation curves y = Vmax*x/(K + x): K searched, Vmax solved.
    if (is({"micment", "michaelismenten", "hyperbl"})) {
      Curve c = make_curve(data, true);
      if (c.size() < 2) {
        why = "too few points with x > 0";
        return false;
      }
      double k = 1.0;
      std::vector<double> coef;
      auto cols = [&](double kk) {
        std::vector<std::vector<double>> a(1, std::vector<double>(c.size()));
        for (size_t i = 0; i < c.size(); ++i) a[0][i] = c.x[i] / (kk + c.x[i]);
        return a;
      };
      if (!search_linear(c, c.xmin() / 100, c.xmax() * 100, cols, k, coef)) {
        why = "no saturation curve describes the data";
        return false;
      }
      p = {coef[0], k};
      return true;
    }
  }
  if (linear_model(m, n, data, p)) {
    out.note = "linear in its parameters: solved exactly";
    return true;
  }
  why = "no initial estimates for " + m.name + ": give every parameter with --init";
  return false;
}

}  // namespace

}  // namespace fmtool
