#include "estimates.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
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

std::vector<double> smooth(const std::vector<double> &y, int half) {
  std::vector<double> out(y.size());
  const int n = static_cast<int>(y.size());
  for (int i = 0; i < n; ++i) {
    double s = 0;
    int k = 0;
    for (int j = std::max(0, i - half); j <= std::min(n - 1, i + half); ++j, ++k) s += y[static_cast<size_t>(j)];
    out[static_cast<size_t>(i)] = s / k;
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
bool find_peaks(const Curve &c, int k, double &base, std::vector<Peak> &peaks, std::string &why) {
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
  base = quantile(s, 0.1);
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

// ---- starts chosen by the catalogue: the start kind picks the estimator, the roles say which
// parameter is which, and the model itself, evaluated at probe points, supplies the constants
// of its own parameterisation (how its width relates to the half-maximum width, whether a rate
// multiplies or divides x, the sign of its exponent).
enum class Outcome { done, failed, not_applicable };

// The value of parameter j (0-based) at the model's first generic point, for parameters the
// data say nothing about (shapes and the like); the point's first term stands for every term.
double point_value(const ModelInfo &m, int j) {
  const fm_point &pt = m.info->points[0];
  if (j >= pt.nparams && m.terms) j = m.shared + (j - m.shared) % m.per_term;
  return j < pt.nparams ? pt.params[j + 1] : 1.0;
}

// The model's value at x with 0-based parameters p; NaN where it fails.
double value_at(const ModelInfo &m, const std::vector<double> &p, double x) {
  std::vector<double> full(p.size() + 1), y(p.size() + 4);
  std::copy(p.begin(), p.end(), full.begin() + 1);
  const double xs[4] = {0.0, x, 0.0, 0.0};
  return model_value(m, static_cast<int>(p.size()), full.data(), xs, y.data())
             ? y[1]
             : std::numeric_limits<double>::quiet_NaN();
}

// The parameters of linear roles listed in `lin`, by least squares over the data with the other
// parameters as they are in p: the model's values at unit vectors, less its value with all of
// them zero, are the columns.
bool solve_linear(const ModelInfo &m, const Data &data, const std::vector<int> &lin,
                  std::vector<double> &p) {
  std::vector<double> q(p), base(data.size()), target(data.size());
  for (int j : lin) q[static_cast<size_t>(j)] = 0.0;
  for (size_t i = 0; i < data.size(); ++i) {
    base[i] = value_at(m, q, data.x[i][1]);
    if (!std::isfinite(base[i])) return false;
    target[i] = data.y[i] - base[i];
  }
  std::vector<std::vector<double>> cols;
  for (int j : lin) {
    q[static_cast<size_t>(j)] = 1.0;
    std::vector<double> col(data.size());
    for (size_t i = 0; i < data.size(); ++i) {
      col[i] = value_at(m, q, data.x[i][1]) - base[i];
      if (!std::isfinite(col[i])) return false;
    }
    q[static_cast<size_t>(j)] = 0.0;
    cols.push_back(col);
  }
  std::vector<double> coef;
  if (!linear_least_squares(cols, target, coef)) return false;
  for (size_t k = 0; k < lin.size(); ++k) p[static_cast<size_t>(lin[k])] = coef[k];
  return true;
}

// Solves feature(s) = target for s > 0 where feature rises through it: the first crossing on a
// log grid from small to large s, then bisection in log s. Where the model fails (NaN, as at an
// extreme steepness that overflows) the grid goes on; feature may fall again beyond the crossing,
// as a peak that outgrows the window, which the first crossing leaves aside.
bool solve_scale(const std::function<double(double)> &feature, double guess, double target,
                 double &s) {
  bool below = false;  // a point of the grid so far lies below the target
  double lo = 0;
  for (double hi = std::log(guess) - 9; hi <= std::log(guess) + 9; hi += 0.5) {
    const double f = feature(std::exp(hi));
    if (std::isnan(f) || f < target) {
      below = below || !std::isnan(f);
      lo = hi;
      continue;
    }
    if (!below) return false;
    for (int it = 0; it < 40; ++it) {
      const double mid = (lo + hi) / 2;
      (!(feature(std::exp(mid)) >= target) ? lo : hi) = mid;
    }
    s = std::exp((lo + hi) / 2);
    return true;
  }
  return false;
}

// Peaks: a baseline, then per term one centre, its widths and one height or area; shapes at
// their generic values. Each term's widths are scaled until the model's own half-maximum width
// matches the data's, and its height or area until its maximum does.
Outcome peak_start(const ModelInfo &m, int n, const Data &data, std::vector<double> &p,
                   std::string &why) {
  const int k = m.terms ? m.term_count(n) : 1;
  const int first = m.terms ? m.shared : 0, size = m.terms ? m.per_term : n;
  const int one = m.terms ? m.shared + m.per_term : n;  // parameters of a single term
  struct Term {
    int centre = -1, amplitude = -1;
    std::vector<int> widths;
  } t;
  std::vector<int> baselines;
  for (int j = 0; j < one; ++j) {
    const fm_role r = m.role(one, j);
    const bool in_term = j >= first;
    if (r == FM_ROLE_BASELINE) {
      baselines.push_back(j);
    } else if (in_term && r == FM_ROLE_CENTRE && t.centre < 0) {
      t.centre = j;
    } else if (in_term && (r == FM_ROLE_HEIGHT || r == FM_ROLE_AREA) && t.amplitude < 0) {
      t.amplitude = j;
    } else if (in_term && r == FM_ROLE_WIDTH) {
      t.widths.push_back(j);
    } else if (r != FM_ROLE_SHAPE && r != FM_ROLE_OTHER) {
      return Outcome::not_applicable;
    }
  }
  if (t.centre < 0 || t.amplitude < 0 || t.widths.empty()) return Outcome::not_applicable;
  Curve c = make_curve(data);
  double base;
  std::vector<Peak> peaks;
  if (!find_peaks(c, k, base, peaks, why)) return Outcome::failed;
  for (int j = 0; j < n; ++j) p[static_cast<size_t>(j)] = point_value(m, j);
  // The baseline goes to the first baseline parameter (shared, or else the first term's).
  bool base_set = false;
  for (int j = 0; j < n; ++j)
    if (m.role(n, j) == FM_ROLE_BASELINE) {
      p[static_cast<size_t>(j)] = base_set ? 0.0 : base;
      base_set = true;
    }
  for (int j = 0; j < k; ++j) {
    const Peak &q = peaks[static_cast<size_t>(j)];
    // One term on a zero baseline, its widths all s and its height or area 1.
    std::vector<double> single(static_cast<size_t>(one));
    for (int i = 0; i < one; ++i) single[static_cast<size_t>(i)] = point_value(m, i);
    for (int b : baselines) single[static_cast<size_t>(b)] = 0.0;
    single[static_cast<size_t>(t.centre)] = q.x;
    single[static_cast<size_t>(t.amplitude)] = 1.0;
    constexpr int kGrid = 600;
    const double reach = 3 * q.fwhm;
    double top = 0;
    auto half_width = [&](double s) {
      for (int w : t.widths) single[static_cast<size_t>(w)] = s;
      std::vector<double> v(kGrid + 1);
      size_t imax = 0;
      for (int i = 0; i <= kGrid; ++i) {
        const double y = value_at(m, single, q.x - reach + 2 * reach * i / kGrid);
        v[static_cast<size_t>(i)] = std::isfinite(y) ? y : 0.0;
        if (v[static_cast<size_t>(i)] > v[imax]) imax = static_cast<size_t>(i);
      }
      top = v[imax];
      if (!(top > 0)) return 0.0;
      auto cross = [&](int dir) {
        int i = static_cast<int>(imax);
        while (v[static_cast<size_t>(i)] > top / 2) {
          i += dir;
          if (i < 0 || i > kGrid) return HUGE_VAL;
        }
        // The half maximum lies between i - dir (above it) and i (below it).
        const double a = v[static_cast<size_t>(i)], b = v[static_cast<size_t>(i - dir)];
        const double steps = dir * (i - static_cast<int>(imax)) - 1 + (b - top / 2) / (b - a);
        return steps * 2 * reach / kGrid;
      };
      return cross(-1) + cross(1);
    };
    double s;
    if (!solve_scale(half_width, q.fwhm, q.fwhm, s)) {
      why = "the model's peak shape does not match the data's peak at x = " + std::to_string(q.x);
      return Outcome::failed;
    }
    half_width(s);
    const int off = first + size * j;
    p[static_cast<size_t>(off + t.centre - first)] = q.x;
    for (int w : t.widths) p[static_cast<size_t>(off + w - first)] = s;
    p[static_cast<size_t>(off + t.amplitude - first)] = q.height / top;
  }
  return Outcome::done;
}

// Sigmoids (in x) and dose-response curves (in ln x): one centre, one steepness (a width or
// time, or its inverse, a rate or exponent), the levels (baseline, amplitude) solved by least
// squares. The steepness is scaled until the model passes from 25 to 75 % of its rise over the
// same span as the data. Without a baseline the curve rises from zero.
Outcome sigmoid_start(const ModelInfo &m, int n, const Data &data, bool logx,
                      std::vector<double> &p, std::string &why) {
  if (m.terms) return Outcome::not_applicable;
  int centre = -1, steep = -1;
  bool inverse = false, baseline = false;
  std::vector<int> lin;
  for (int j = 0; j < n; ++j) {
    const fm_role r = m.role(n, j);
    if (r == FM_ROLE_BASELINE || r == FM_ROLE_AMPLITUDE) {
      lin.push_back(j);
      baseline = baseline || r == FM_ROLE_BASELINE;
    } else if (r == FM_ROLE_CENTRE && centre < 0) {
      centre = j;
    } else if ((r == FM_ROLE_WIDTH || r == FM_ROLE_TIME || r == FM_ROLE_RATE ||
                r == FM_ROLE_EXPONENT) && steep < 0) {
      steep = j;
      inverse = r == FM_ROLE_RATE || r == FM_ROLE_EXPONENT;
    } else if (r != FM_ROLE_SHAPE && r != FM_ROLE_OTHER) {
      return Outcome::not_applicable;
    }
  }
  if (centre < 0 || steep < 0 || lin.empty()) return Outcome::not_applicable;
  if (logx && !positive_x(data, why)) return Outcome::failed;
  Curve c = make_curve(data, logx);
  Transition tr;
  const double zero = 0.0;
  if (!transition(c, logx, baseline ? nullptr : &zero, tr, why)) return Outcome::failed;
  for (int j = 0; j < n; ++j) p[static_cast<size_t>(j)] = point_value(m, j);
  for (int j : lin) p[static_cast<size_t>(j)] = m.role(n, j) == FM_ROLE_BASELINE ? 0.0 : 1.0;
  p[static_cast<size_t>(centre)] = logx ? std::exp(tr.t50) : tr.t50;
  const double span = tr.t75 - tr.t25;
  constexpr size_t kGrid = 400;
  auto rise_span = [&](double s) {  // the model's 25-75 % span in t, on its own ends
    std::vector<double> q(p);
    q[static_cast<size_t>(steep)] = inverse ? 1 / s : s;
    std::vector<double> v(kGrid + 1), t(kGrid + 1);
    for (size_t i = 0; i <= kGrid; ++i) {
      t[i] = tr.t50 - 4 * span + 8 * span * static_cast<double>(i) / kGrid;
      v[i] = value_at(m, q, logx ? std::exp(t[i]) : t[i]);
      if (!std::isfinite(v[i])) return std::numeric_limits<double>::quiet_NaN();
    }
    const double a = v.front(), b = v.back();
    if (a == b) return 8 * span;
    auto at = [&](double f) {
      for (size_t i = 1; i < v.size(); ++i) {
        const double f0 = (v[i - 1] - a) / (b - a), f1 = (v[i] - a) / (b - a);
        if ((f0 - f) * (f1 - f) <= 0 && f0 != f1)
          return t[i - 1] + (f - f0) / (f1 - f0) * (t[i] - t[i - 1]);
      }
      return t.back();
    };
    return at(0.75) - at(0.25);
  };
  double s;
  if (!(span > 0) || !solve_scale(rise_span, span, span, s)) {
    why = "the model's transition does not match the data's";
    return Outcome::failed;
  }
  p[static_cast<size_t>(steep)] = inverse ? 1 / s : s;
  if (!solve_linear(m, data, lin, p)) {  // the levels as the plateaus
    for (int j : lin)
      p[static_cast<size_t>(j)] = m.role(n, j) == FM_ROLE_BASELINE ? tr.start : tr.end;
  }
  return Outcome::done;
}

// Sums of exponentials: per term an amplitude and a time constant or rate, a baseline and an
// offset of x (held at the first x: it only rescales the amplitudes). The model, probed at
// x = 0, 1, 2 with the constant 1, shows whether its term grows or decays for a positive
// constant and whether it rises from zero (1 - exp form); the rates are searched as exp(r x)
// and translated, the amplitudes and baseline solved by least squares.
Outcome exponential_start(const ModelInfo &m, int n, const Data &data, bool decay,
                          std::vector<double> &p, Estimate &out, std::string &why) {
  if (m.terms) return Outcome::not_applicable;
  std::vector<int> lin, amps, steeps;
  int offset = -1;
  bool baseline = false, any_sign = true;
  for (int j = 0; j < n; ++j) {
    const fm_role r = m.role(n, j);
    if (r == FM_ROLE_BASELINE) {
      lin.push_back(j);
      baseline = true;
    } else if (r == FM_ROLE_AMPLITUDE) {
      lin.push_back(j);
      amps.push_back(j);
    } else if (r == FM_ROLE_TIME || r == FM_ROLE_RATE) {
      steeps.push_back(j);
      if (m.info->params[j].domain != FM_DOMAIN_ANY) any_sign = false;
    } else if (r == FM_ROLE_OFFSET && offset < 0) {
      offset = j;
    } else {
      return Outcome::not_applicable;
    }
  }
  if (steeps.empty() || amps.size() != steeps.size()) return Outcome::not_applicable;
  // The probe: one term at amplitude 1 and constant 1, the others at amplitude 0.
  std::vector<double> sign(steeps.size());
  bool rise = true;
  for (size_t k = 0; k < steeps.size(); ++k) {
    std::vector<double> q(static_cast<size_t>(n), 0.0);
    for (int s : steeps) q[static_cast<size_t>(s)] = 1.0;
    q[static_cast<size_t>(amps[k])] = 1.0;
    const double y0 = value_at(m, q, 0.0), y1 = value_at(m, q, 1.0), y2 = value_at(m, q, 2.0);
    const double g = std::log((y2 - y1) / (y1 - y0));
    if (!std::isfinite(g) || std::fabs(std::fabs(g) - 1) > 1e-6) return Outcome::not_applicable;
    sign[k] = g > 0 ? 1.0 : -1.0;
    rise = rise && std::fabs(y0) < 0.5;
  }
  Curve c = make_curve(data);
  ExpFit f;
  const int terms = static_cast<int>(steeps.size());
  const int direction = rise || decay ? -1 : any_sign ? 0 : 1;
  if (!fit_exponentials(c, terms, baseline, direction, rise, f, why)) return Outcome::failed;
  for (int j = 0; j < n; ++j) p[static_cast<size_t>(j)] = 0.0;
  if (offset >= 0) {
    p[static_cast<size_t>(offset)] = f.xref;
    out.hold[static_cast<size_t>(offset)] = true;
    out.note = m.names_for(n)[static_cast<size_t>(offset)] +
               " held at the first x (it only rescales the amplitudes)";
  }
  for (size_t k = 0; k < steeps.size(); ++k) {
    const double r = f.rate[k];
    const bool time = m.role(n, steeps[k]) == FM_ROLE_TIME;
    p[static_cast<size_t>(steeps[k])] = time ? sign[k] / r : sign[k] * r;
  }
  if (!solve_linear(m, data, lin, p)) {
    why = "no exponential describes the data";
    return Outcome::failed;
  }
  return Outcome::done;
}

// True when the model has exactly two parameters, of roles a and b (their indices in ia, ib).
bool two_roles(const ModelInfo &m, int n, fm_role a, fm_role b, int &ia, int &ib) {
  if (n != 2) return false;
  ia = m.role(n, 0) == a ? 0 : 1;
  ib = 1 - ia;
  return m.role(n, ia) == a && m.role(n, ib) == b;
}

// Power laws a*x^b: a straight line in log-log coordinates. The model, probed at x = 1 and e
// with exponent 2, shows whether it raises x to the exponent, its inverse or its negative.
Outcome power_start(const ModelInfo &m, int n, const Data &data, std::vector<double> &p,
                    std::string &why) {
  int amp, expo;
  if (!two_roles(m, n, FM_ROLE_AMPLITUDE, FM_ROLE_EXPONENT, amp, expo))
    return Outcome::not_applicable;
  std::vector<double> q(static_cast<size_t>(n), 1.0);
  q[static_cast<size_t>(expo)] = 2.0;
  const double g = std::log(value_at(m, q, std::exp(1.0)) / value_at(m, q, 1.0));
  double power = 0;  // the power of x for exponent 2
  for (double candidate : {2.0, -2.0, 0.5, -0.5})
    if (std::fabs(g - candidate) < 1e-9) power = candidate;
  if (power == 0) return Outcome::not_applicable;
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
    return Outcome::failed;
  }
  const double slope = coef[1];
  p[static_cast<size_t>(expo)] = std::fabs(power) == 2 ? slope * power / 2 : power * 2 / slope;
  p[static_cast<size_t>(amp)] = s * std::exp(coef[0]);
  return Outcome::done;
}

// Saturation curves y = Vmax*x/(K + x): the half-saturation point searched on a log grid, the
// amplitude solved from the model's own values.
Outcome saturation_start(const ModelInfo &m, int n, const Data &data, std::vector<double> &p,
                         std::string &why) {
  int amp, centre;
  if (!two_roles(m, n, FM_ROLE_AMPLITUDE, FM_ROLE_CENTRE, amp, centre))
    return Outcome::not_applicable;
  Curve c = make_curve(data, true);
  if (c.size() < 2) {
    why = "too few points with x > 0";
    return Outcome::failed;
  }
  std::vector<double> q(static_cast<size_t>(n), 0.0), coef;
  q[static_cast<size_t>(amp)] = 1.0;
  auto cols = [&](double k) {
    q[static_cast<size_t>(centre)] = k;
    std::vector<std::vector<double>> a(1, std::vector<double>(c.size()));
    for (size_t i = 0; i < c.size(); ++i) a[0][i] = value_at(m, q, c.x[i]);
    return a;
  };
  double k = 1.0;
  if (!search_linear(c, c.xmin() / 100, c.xmax() * 100, cols, k, coef)) {
    why = "no saturation curve describes the data";
    return Outcome::failed;
  }
  p[static_cast<size_t>(amp)] = coef[0];
  p[static_cast<size_t>(centre)] = k;
  return Outcome::done;
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

bool estimate(const ModelInfo &m, int n, const Data &data, Estimate &out, std::string &why) {
  out = Estimate{};
  out.params.assign(static_cast<size_t>(n), 0.0);
  out.hold.assign(static_cast<size_t>(n), false);
  std::vector<double> &p = out.params;
  if (data.size() == 0) {
    why = "no data";
    return false;
  }
  Outcome o = Outcome::not_applicable;
  if (m.nIndep == 1) {
    switch (m.start) {
      case FM_START_PEAK: o = peak_start(m, n, data, p, why); break;
      case FM_START_SIGMOID: o = sigmoid_start(m, n, data, false, p, why); break;
      case FM_START_DOSE_RESPONSE: o = sigmoid_start(m, n, data, true, p, why); break;
      case FM_START_DECAY: o = exponential_start(m, n, data, true, p, out, why); break;
      case FM_START_GROWTH: o = exponential_start(m, n, data, false, p, out, why); break;
      case FM_START_POWER: o = power_start(m, n, data, p, why); break;
      case FM_START_SATURATION: o = saturation_start(m, n, data, p, why); break;
      default: break;
    }
  }
  if (o == Outcome::done) {
    for (double v : p)
      if (!std::isfinite(v)) {
        why = "the estimates are not finite: give every parameter with --init";
        return false;
      }
    return true;
  }
  if (o == Outcome::failed) return false;
  out = Estimate{};
  out.params.assign(static_cast<size_t>(n), 0.0);
  out.hold.assign(static_cast<size_t>(n), false);
  if (m.start != FM_START_NONE && linear_model(m, n, data, p)) {
    out.note = "linear in its parameters: solved exactly";
    return true;
  }
  why = "no initial estimates for " + m.name + ": give every parameter with --init";
  return false;
}

}  // namespace fmtool
