// The seed of each start kind: features of the data (peaks, plateaus and transition points,
// exponential rates, power-law slopes, saturation constants, the dominant frequency, moments and
// quantiles, anchor values) assigned to the parameters by their roles. Conventions the roles do
// not pin down (a width as sigma or as FWHM, a plateau as a span or an end value, the sign of a
// slope) are settled afterwards by the exact linear solve and the coarse scale search.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "estimate.h"

namespace fmfit {
namespace est {
namespace {

constexpr double kPi = 3.141592653589793;
const double kLn3 = std::log(3.0);

// ---- peaks ----------------------------------------------------------------------------------
struct Peak {
  double x, height, fwhm;
};

// K peaks over a baseline: the highest maximum of the smoothed data, its half-maximum width,
// then the same on the data less a Gaussian of that peak, K times. Negative peaks when the data
// dip further below their median than they rise above it.
bool find_peaks(const Curve &c, int k, double &base, std::vector<Peak> &peaks) {
  if (c.size() < static_cast<size_t>(3 * k + 1)) return false;
  const double med = quantile(c.y, 0.5);
  const double lo = *std::min_element(c.y.begin(), c.y.end());
  const double hi = *std::max_element(c.y.begin(), c.y.end());
  const double sign = (med - lo > hi - med) ? -1.0 : 1.0;
  Vec y(c.y);
  for (double &v : y) v *= sign;
  Vec s = smooth(y, std::max(1, static_cast<int>(c.size()) / 60));
  base = quantile(s, 0.1);
  Vec r(s);
  for (double &v : r) v -= base;
  const double span = c.xmax() - c.xmin();
  for (int p = 0; p < k; ++p) {
    // The first peak the highest maximum; later ones the largest departure of either sign from
    // what the peaks found so far leave.
    size_t i = 0;
    for (size_t j = 1; j < r.size(); ++j)
      if (p == 0 ? r[j] > r[i] : std::fabs(r[j]) > std::fabs(r[i])) i = j;
    const double h = r[i], sg = h < 0 ? -1.0 : 1.0, ha = std::fabs(h);
    if (!(ha > 0) || (p == 0 && !(h > 0))) return false;
    auto cross = [&](int dir) {
      int j = static_cast<int>(i);
      while (j + dir >= 0 && j + dir < static_cast<int>(r.size()) && sg * r[static_cast<size_t>(j)] > ha / 2)
        j += dir;
      const size_t a = static_cast<size_t>(j), b = static_cast<size_t>(j - dir);
      if (sg * r[a] > ha / 2 || a == i) return -1.0;
      const double u = (sg * r[b] - ha / 2) / (sg * r[b] - sg * r[a]);
      return std::fabs(c.x[b] + u * (c.x[a] - c.x[b]) - c.x[i]);
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

// ---- transitions ----------------------------------------------------------------------------
struct Transition {
  double start, end, t25, t50, t75;
};

// The plateaus at both ends and where the curve passes 25, 50 and 75 % of the way between them,
// in t = x or t = ln x.
bool transition(const Curve &c, bool logx, Transition &tr) {
  if (c.size() < 4) return false;
  Vec t(c.x);
  if (logx)
    for (double &v : t) v = std::log(v);
  const Vec y = c.size() > 10 ? smooth(c.y, 1) : c.y;
  const size_t e = std::max<size_t>(1, c.size() / 8);
  double a = 0, b = 0;
  for (size_t i = 0; i < e; ++i) {
    a += c.y[i] / static_cast<double>(e);
    b += c.y[c.size() - 1 - i] / static_cast<double>(e);
  }
  tr.start = a;
  tr.end = b;
  if (tr.end == tr.start) return false;
  auto at = [&](double f) {
    for (size_t i = 1; i < y.size(); ++i) {
      const double f0 = (y[i - 1] - tr.start) / (tr.end - tr.start);
      const double f1 = (y[i] - tr.start) / (tr.end - tr.start);
      if ((f0 - f) * (f1 - f) <= 0 && f0 != f1) return t[i - 1] + (f - f0) / (f1 - f0) * (t[i] - t[i - 1]);
    }
    return std::nan("");
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
// y = c0 + sum c_k exp(r_k (x - xmin)): for fixed rates the c are a linear least-squares problem,
// so the rates are searched on a grid (then refined for one term) and the c solved.
double exp_ssr(const Curve &c, const Vec &rates, Vec *coef_out) {
  std::vector<Vec> cols;
  cols.emplace_back(c.size(), 1.0);
  for (double r : rates) {
    Vec col(c.size());
    for (size_t i = 0; i < c.size(); ++i) col[i] = std::exp(r * (c.x[i] - c.xmin()));
    cols.push_back(col);
  }
  Vec coef;
  double ssr;
  if (!lstsq(cols, c.y, coef, &ssr)) return HUGE_VAL;
  if (coef_out) *coef_out = coef;
  return ssr;
}

// sign: -1 decaying terms, +1 growing, 0 either. Rates in rate, amplitudes at xmin in amp.
bool fit_exponentials(const Curve &c, int terms, int sign, Vec &rate, Vec &amp, double &offset) {
  if (c.size() < static_cast<size_t>(2 * terms + 2)) return false;
  const double span = c.xmax() - c.xmin();
  if (!(span > 0)) return false;
  const int g = terms == 1 ? 60 : terms == 2 ? 24 : 14;
  Vec grid;
  for (int i = 0; i < g; ++i) {
    const double mag = 0.02 * std::pow(5000.0, i / (g - 1.0)) / span;
    if (sign <= 0) grid.push_back(-mag);
    if (sign >= 0) grid.push_back(mag);
  }
  std::sort(grid.begin(), grid.end());
  Vec best;
  double best_ssr = HUGE_VAL;
  std::vector<size_t> idx(static_cast<size_t>(terms));
  std::function<void(size_t, size_t)> walk = [&](size_t level, size_t from) {
    if (level == idx.size()) {
      Vec rates;
      for (size_t k : idx) rates.push_back(grid[k]);
      const double s = exp_ssr(c, rates, nullptr);
      if (s < best_ssr) best_ssr = s, best = rates;
      return;
    }
    for (size_t k = from; k < grid.size(); ++k) {
      idx[level] = k;
      walk(level + 1, k + 1);
    }
  };
  walk(0, 0);
  if (best.empty()) return false;
  if (terms == 1) {  // golden-section refinement of the one rate, in log |r|
    const double s = best[0] < 0 ? -1.0 : 1.0;
    double a = std::log(std::fabs(best[0])) - 0.2, b = std::log(std::fabs(best[0])) + 0.2;
    const double gr = (std::sqrt(5.0) - 1) / 2;
    for (int it = 0; it < 50; ++it) {
      const double u = b - gr * (b - a), v = a + gr * (b - a);
      if (exp_ssr(c, {s * std::exp(u)}, nullptr) < exp_ssr(c, {s * std::exp(v)}, nullptr))
        b = v;
      else
        a = u;
    }
    best[0] = s * std::exp((a + b) / 2);
  }
  Vec coef;
  if (!std::isfinite(exp_ssr(c, best, &coef))) return false;
  // Slowest first: the order in which models usually number their terms.
  std::vector<size_t> ord(best.size());
  for (size_t k = 0; k < ord.size(); ++k) ord[k] = k;
  std::sort(ord.begin(), ord.end(), [&](size_t a, size_t b) { return std::fabs(best[a]) < std::fabs(best[b]); });
  offset = coef[0];
  rate.clear();
  amp.clear();
  for (size_t k : ord) rate.push_back(best[k]), amp.push_back(coef[k + 1]);
  return true;
}

// ---- the dominant frequency -----------------------------------------------------------------
// The curve resampled evenly, less its mean and trend, and its discrete Fourier transform
// searched at quarter steps of the fundamental: the frequency (cycles per unit of x) of the
// largest amplitude.
double dominant_frequency(const Curve &c) {
  const size_t m = std::max<size_t>(c.size(), 16);
  const double span = c.xmax() - c.xmin();
  if (!(span > 0) || c.size() < 4) return 0;
  Vec u(m);
  for (size_t i = 0; i < m; ++i) u[i] = interpolate(c, c.y, c.xmin() + span * static_cast<double>(i) / (m - 1));
  // Remove the straight line through the ends' averages so the trend does not leak in.
  double mean = 0;
  for (double v : u) mean += v / static_cast<double>(m);
  for (double &v : u) v -= mean;
  double best = 0, bestf = 0;
  for (double k = 0.75; k <= static_cast<double>(m) / 2; k += 0.25) {
    double re = 0, im = 0;
    for (size_t i = 0; i < m; ++i) {
      const double a = 2 * kPi * k * static_cast<double>(i) / static_cast<double>(m - 1);
      re += u[i] * std::cos(a);
      im += u[i] * std::sin(a);
    }
    const double pw = re * re + im * im;
    if (pw > best) best = pw, bestf = k / span;
  }
  return bestf;
}

bool positive(fm_domain d) { return d == FM_DOMAIN_POSITIVE || d == FM_DOMAIN_NONNEGATIVE; }

// Locations that must be positive stay inside the positive part of the data.
double location(const Target &t, int j, double v, const Curve &c) {
  if (positive(t.domain(j)) && !(v > 0)) {
    for (double x : c.x)
      if (x > 0) return x;
    return 1.0;
  }
  return v;
}

// ---- the kinds ------------------------------------------------------------------------------
bool seed_peak(const Target &t, Vec &p) {
  const Curve c = make_curve(t);
  const int terms = t.info && t.info->layout.per_term > 0
                        ? (t.n - t.info->layout.shared) / t.info->layout.per_term
                        : 1;
  double base;
  std::vector<Peak> peaks;
  if (!find_peaks(c, std::max(terms, 1), base, peaks)) return false;
  for (int j = 0; j < t.n; ++j) {
    const int term = std::max(t.term_of(j), 0);
    const Peak &q = peaks[static_cast<size_t>(std::min<int>(term, static_cast<int>(peaks.size()) - 1))];
    double &v = p[static_cast<size_t>(j)];
    switch (t.role(j)) {
      case FM_ROLE_BASELINE: v = base; break;
      case FM_ROLE_CENTRE: v = location(t, j, q.x, c); break;
      case FM_ROLE_WIDTH: case FM_ROLE_TIME: v = q.fwhm / 2; break;
      case FM_ROLE_RATE: v = 2 / q.fwhm; break;
      case FM_ROLE_HEIGHT: case FM_ROLE_AMPLITUDE: v = q.height; break;
      case FM_ROLE_AREA: v = q.height * q.fwhm * 1.06; break;
      default: break;
    }
  }
  return true;
}

bool seed_sigmoid(const Target &t, Vec &p, bool logdose) {
  const Curve c = make_curve(t, logdose);
  Transition tr;
  if (!transition(c, logdose, tr)) return false;
  const double width = tr.t75 - tr.t25;  // in x, or in ln x
  // Two or more transitions: their centres spread from the 25 % to the 75 % point (the same
  // centre for all would make their shares undetermined).
  int centres = 0, seen = 0;
  for (int j = 0; j < t.n; ++j) centres += t.role(j) == FM_ROLE_CENTRE;
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    switch (t.role(j)) {
      case FM_ROLE_BASELINE: v = tr.start; break;
      case FM_ROLE_AMPLITUDE: case FM_ROLE_HEIGHT: v = tr.end - tr.start; break;
      case FM_ROLE_CENTRE: case FM_ROLE_OFFSET: {
        double at = tr.t50;
        if (centres > 1 && t.role(j) == FM_ROLE_CENTRE)
          at = tr.t25 + (tr.t75 - tr.t25) * seen++ / (centres - 1);
        v = location(t, j, logdose ? std::exp(at) : at, c);
        break;
      }
      case FM_ROLE_WIDTH: case FM_ROLE_TIME: v = width / (2 * kLn3); break;
      case FM_ROLE_RATE: v = 2 * kLn3 / width; break;
      case FM_ROLE_EXPONENT: v = 2 * kLn3 / width; break;
      default: break;
    }
  }
  return true;
}

bool seed_exponential(const Target &t, Vec &p, int sign) {
  const Curve c = make_curve(t);
  int terms = 0;
  for (int j = 0; j < t.n; ++j) terms += t.role(j) == FM_ROLE_TIME || t.role(j) == FM_ROLE_RATE;
  terms = std::min(std::max(terms, 1), 3);
  Vec rate, amp;
  double offset;
  if (!fit_exponentials(c, terms, sign, rate, amp, offset)) return false;
  int kt = 0, ka = 0;
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    const size_t a = static_cast<size_t>(std::min(ka, terms - 1));
    const size_t r = static_cast<size_t>(std::min(kt, terms - 1));
    switch (t.role(j)) {
      case FM_ROLE_BASELINE: v = offset; break;
      case FM_ROLE_AMPLITUDE: case FM_ROLE_HEIGHT: v = amp[a]; ++ka; break;
      case FM_ROLE_OFFSET: case FM_ROLE_CENTRE: v = location(t, j, c.xmin(), c); break;
      case FM_ROLE_TIME: v = 1 / std::fabs(rate[r]); ++kt; break;
      case FM_ROLE_RATE: v = rate[r]; ++kt; break;
      default: break;
    }
  }
  return true;
}

bool seed_power(const Target &t, Vec &p) {
  std::vector<Vec> cols(2);
  Vec ly;
  double sy = 0;
  for (size_t i = 0; i < t.data->n; ++i) sy += t.data->y[i];
  const double s = sy < 0 ? -1.0 : 1.0;
  for (size_t i = 0; i < t.data->n; ++i)
    if (t.x(i, 0) > 0 && s * t.data->y[i] > 0) {
      cols[0].push_back(1.0);
      cols[1].push_back(std::log(t.x(i, 0)));
      ly.push_back(std::log(s * t.data->y[i]));
    }
  Vec coef;
  if (!lstsq(cols, ly, coef)) return false;
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    switch (t.role(j)) {
      case FM_ROLE_AMPLITUDE: case FM_ROLE_HEIGHT: v = s * std::exp(coef[0]); break;
      case FM_ROLE_EXPONENT: v = coef[1] != 0 ? coef[1] : 1.0; break;
      case FM_ROLE_BASELINE: case FM_ROLE_OFFSET: v = 0; break;
      default: break;
    }
  }
  return true;
}

// y = Vmax x / (K + x): K on a log grid, Vmax solved, then golden section in ln K.
bool seed_saturation(const Target &t, Vec &p) {
  const Curve c = make_curve(t, true);
  if (c.size() < 2) return false;
  auto ssr_at = [&](double k, double *vmax) {
    std::vector<Vec> a(1, Vec(c.size()));
    for (size_t i = 0; i < c.size(); ++i) a[0][i] = c.x[i] / (k + c.x[i]);
    Vec cf;
    double s;
    if (!lstsq(a, c.y, cf, &s)) return HUGE_VAL;
    if (vmax) *vmax = cf[0];
    return s;
  };
  const double lo = c.xmin() / 100, hi = c.xmax() * 100;
  double best = HUGE_VAL, k = 1;
  for (int i = 0; i < 80; ++i) {
    const double v = lo * std::pow(hi / lo, i / 79.0);
    const double s = ssr_at(v, nullptr);
    if (s < best) best = s, k = v;
  }
  double vmax;
  if (!std::isfinite(ssr_at(k, &vmax))) return false;
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    switch (t.role(j)) {
      case FM_ROLE_AMPLITUDE: case FM_ROLE_HEIGHT: v = vmax; break;
      case FM_ROLE_CENTRE: case FM_ROLE_TIME: case FM_ROLE_WIDTH: v = k; break;
      case FM_ROLE_RATE: v = 1 / k; break;
      case FM_ROLE_BASELINE: v = 0; break;
      case FM_ROLE_EXPONENT: v = 1; break;
      default: break;
    }
  }
  return true;
}

bool seed_periodic(const Target &t, Vec &p) {
  const Curve c = make_curve(t);
  const double f = dominant_frequency(c);
  if (!(f > 0)) return false;
  const double lo = *std::min_element(c.y.begin(), c.y.end());
  const double hi = *std::max_element(c.y.begin(), c.y.end());
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    switch (t.role(j)) {
      case FM_ROLE_BASELINE: v = (lo + hi) / 2; break;
      case FM_ROLE_AMPLITUDE: case FM_ROLE_HEIGHT: v = (hi - lo) / 2; break;
      case FM_ROLE_WIDTH: v = 1 / (2 * f); break;  // a half period; the search doubles it
      case FM_ROLE_RATE: v = 2 * kPi * f; break;
      case FM_ROLE_TIME: v = c.xmax() - c.xmin(); break;
      case FM_ROLE_OFFSET: case FM_ROLE_CENTRE: v = c.xmin(); break;
      default: break;
    }
  }
  // The period parameter's convention (a full or half period) and its exact value, with the
  // phase: a grid over both, the linear parameters solved at each point. Piecewise-constant
  // waves need it, as their sums of squares do not change smoothly with the period or phase.
  const std::vector<int> lin = linear_set(t, p, true);
  int jw = -1, jo = -1;
  for (int j = 0; j < t.n; ++j) {
    if (!t.free(j)) continue;
    if (jw < 0 && t.role(j) == FM_ROLE_WIDTH) jw = j;
    if (jo < 0 && (t.role(j) == FM_ROLE_OFFSET || t.role(j) == FM_ROLE_CENTRE)) jo = j;
  }
  if (jo < 0 && jw < 0) return true;
  double best = HUGE_VAL;
  Vec bp(p);
  const double period = 1 / f;
  for (double mult : {0.5, 1.0, 2.0}) {
    if (jw < 0 && mult != 1.0) continue;
    for (int i = -8; i <= 8; ++i) {
      if (jw < 0 && i != 0) continue;
      Vec q(p);
      if (jw >= 0) q[static_cast<size_t>(jw)] = mult * period * (1 + 0.0125 * i);
      for (int k = 0; k < (jo >= 0 ? 16 : 1); ++k) {
        if (jo >= 0) q[static_cast<size_t>(jo)] = c.xmin() + k * period / 16;
        Vec u(q);
        const double s = solve_linear(t, u, lin);
        if (s < best) best = s, bp = u;
      }
    }
  }
  // A duty cycle or other shape in (0, 1) (a square wave's high fraction): tenths of it, with
  // the phase again.
  for (int j = 0; j < t.n; ++j) {
    const double v = bp[static_cast<size_t>(j)];
    if (!t.free(j) || t.role(j) != FM_ROLE_SHAPE || !(v > 0 && v < 1)) continue;
    const Vec base(bp);
    for (int u = 1; u <= 9; ++u)
      for (int k = 0; k < (jo >= 0 ? 16 : 1); ++k) {
        Vec q(base);
        q[static_cast<size_t>(j)] = u / 10.0;
        if (jo >= 0) q[static_cast<size_t>(jo)] = c.xmin() + k * period / 16;
        const double s = solve_linear(t, q, lin);
        if (s < best) best = s, bp = q;
      }
  }
  // A pattern search over the same parameters, steps halved when no move helps: a square or
  // sawtooth wave has no useful derivative in them, so the engine cannot finish the job.
  std::vector<std::pair<int, double>> axes;
  if (jw >= 0) axes.push_back({jw, 0.01 * std::fabs(bp[static_cast<size_t>(jw)])});
  if (jo >= 0) axes.push_back({jo, period / 32});
  for (int j = 0; j < t.n; ++j)
    if (t.free(j) && t.role(j) == FM_ROLE_SHAPE && bp[static_cast<size_t>(j)] > 0 &&
        bp[static_cast<size_t>(j)] < 1)
      axes.push_back({j, 0.05});
  for (int it = 0; it < 40 && !axes.empty(); ++it) {
    bool moved = false;
    for (auto &ax : axes)
      for (double dir : {-1.0, 1.0}) {
        Vec q(bp);
        q[static_cast<size_t>(ax.first)] += dir * ax.second;
        const double s = solve_linear(t, q, lin);
        if (s < best) best = s, bp = q, moved = true;
      }
    if (!moved)
      for (auto &ax : axes) ax.second /= 2;
  }
  p = bp;
  return true;
}

// Densities: the data above their lowest level as weights; centre the mean, width the standard
// deviation, area the integral.
bool seed_distribution(const Target &t, Vec &p) {
  const Curve c = make_curve(t);
  if (c.size() < 3) return false;
  const double base = quantile(c.y, 0.05);
  double sw = 0, sx = 0, sxx = 0, area = 0, top = 0;
  for (size_t i = 0; i < c.size(); ++i) {
    const double w = std::max(c.y[i] - base, 0.0);
    sw += w, sx += w * c.x[i], top = std::max(top, w);
    if (i > 0) area += 0.5 * (c.y[i] + c.y[i - 1] - 2 * base) * (c.x[i] - c.x[i - 1]);
  }
  if (!(sw > 0)) return false;
  const double mean = sx / sw;
  for (size_t i = 0; i < c.size(); ++i) sxx += std::max(c.y[i] - base, 0.0) * (c.x[i] - mean) * (c.x[i] - mean);
  const double sd = std::sqrt(sxx / sw);
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    switch (t.role(j)) {
      case FM_ROLE_BASELINE: v = base; break;
      case FM_ROLE_CENTRE: case FM_ROLE_OFFSET: v = location(t, j, mean, c); break;
      case FM_ROLE_WIDTH: case FM_ROLE_TIME: v = sd > 0 ? sd : (c.xmax() - c.xmin()) / 4; break;
      case FM_ROLE_RATE: v = sd > 0 ? 1 / sd : 1; break;
      case FM_ROLE_HEIGHT: case FM_ROLE_AMPLITUDE: v = top; break;
      case FM_ROLE_AREA: v = area; break;
      default: break;
    }
  }
  return true;
}

// Cumulative curves: the plateaus, then the quantiles 16, 50 and 84 % of the way between them.
bool seed_cumulative(const Target &t, Vec &p) {
  const Curve c = make_curve(t);
  Transition tr;
  if (!transition(c, false, tr)) return false;
  const Vec y = c.size() > 10 ? smooth(c.y, 1) : c.y;
  auto at = [&](double f) {
    const double level = tr.start + f * (tr.end - tr.start);
    for (size_t i = 1; i < y.size(); ++i)
      if ((y[i - 1] - level) * (y[i] - level) <= 0 && y[i] != y[i - 1])
        return c.x[i - 1] + (level - y[i - 1]) / (y[i] - y[i - 1]) * (c.x[i] - c.x[i - 1]);
    return c.xmin() + f * (c.xmax() - c.xmin());
  };
  const double q16 = at(0.16), q50 = at(0.5), q63 = at(0.632), q84 = at(0.84);
  double sd = (q84 - q16) / 2;
  if (!(sd > 0)) sd = (c.xmax() - c.xmin()) / 6;
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    switch (t.role(j)) {
      case FM_ROLE_BASELINE: v = tr.start; break;
      case FM_ROLE_AMPLITUDE: case FM_ROLE_HEIGHT: v = tr.end - tr.start; break;
      case FM_ROLE_CENTRE: case FM_ROLE_OFFSET: v = location(t, j, q50, c); break;
      case FM_ROLE_WIDTH: v = positive(t.domain(j)) ? q63 > 0 ? q63 : sd : sd; break;
      case FM_ROLE_TIME: v = q63 - c.xmin() > 0 ? q63 - c.xmin() : sd; break;
      case FM_ROLE_RATE: v = 1 / sd; break;
      default: break;
    }
  }
  return true;
}

// Expected-value forms: the anchor abscissae spread inside the data, the anchor values read off
// the smoothed curve there.
bool seed_expected_value(const Target &t, Vec &p) {
  const Curve c = make_curve(t);
  if (c.size() < 2) return false;
  const Vec y = smooth(c.y, std::max(1, static_cast<int>(c.size()) / 12));
  int anchors = 0;
  for (int j = 0; j < t.n; ++j) anchors += t.role(j) == FM_ROLE_ANCHOR_X;
  int k = 0;
  double last_x = c.x[c.size() / 2];
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    if (t.role(j) == FM_ROLE_ANCHOR_X) {
      // Anchors at the quartiles for two, the middle for one, and never at a forbidden zero.
      const double f = anchors == 1 ? 0.5 : 0.2 + 0.6 * k / std::max(anchors - 1, 1);
      size_t i = static_cast<size_t>(f * static_cast<double>(c.size() - 1));
      while (!((t.domain(j) != FM_DOMAIN_POSITIVE || c.x[i] > 0) && (t.domain(j) != FM_DOMAIN_NONZERO || c.x[i] != 0)) &&
             i + 1 < c.size())
        ++i;
      v = t.free(j) ? c.x[i] : v;
      last_x = v;
      ++k;
    } else if (t.role(j) == FM_ROLE_ANCHOR_Y) {
      v = interpolate(c, y, last_x);
    }
  }
  return true;
}

// Surface peaks: the data above their low level as weights. One peak: their first and second
// moments in each input give the centre and the widths. Several: each peak at the largest
// departure (of either sign) from what the peaks found so far leave, its widths from the spread
// of the points above its half height.
bool seed_surface_peak(const Target &t, Vec &p) {
  const size_t m = t.data->n;
  if (m < 4) return false;
  const int terms = t.info && t.info->layout.per_term > 0
                        ? std::max(1, (t.n - t.info->layout.shared) / t.info->layout.per_term)
                        : 1;
  Vec z(t.data->y, t.data->y + m);
  const double med = quantile(z, 0.5), lo = quantile(z, 0.0), hi = quantile(z, 1.0);
  const double sign = (med - lo > hi - med) ? -1.0 : 1.0;
  const double base = sign > 0 ? quantile(z, 0.1) : quantile(z, 0.9);
  const int ni = t.nIndep;
  struct Blob {
    double height, centre[3], sd[3];
  };
  std::vector<Blob> blobs;
  Vec r(m);
  for (size_t i = 0; i < m; ++i) r[i] = sign * (z[i] - base);
  double span[3];
  for (int k = 0; k < ni; ++k) {
    double a = HUGE_VAL, b = -HUGE_VAL;
    for (size_t i = 0; i < m; ++i) a = std::min(a, t.x(i, k)), b = std::max(b, t.x(i, k));
    span[k] = b > a ? b - a : 1.0;
  }
  for (int term = 0; term < terms; ++term) {
    Blob b{};
    if (terms == 1) {
      double sw = 0, top = 0, s1[3] = {0, 0, 0}, s2[3] = {0, 0, 0};
      for (size_t i = 0; i < m; ++i) {
        const double w = std::max(r[i], 0.0);
        sw += w, top = std::max(top, w);
        for (int k = 0; k < ni; ++k) s1[k] += w * t.x(i, k);
      }
      if (!(sw > 0)) return false;
      for (int k = 0; k < ni; ++k) b.centre[k] = s1[k] / sw;
      for (size_t i = 0; i < m; ++i) {
        const double w = std::max(r[i], 0.0);
        for (int k = 0; k < ni; ++k) s2[k] += w * (t.x(i, k) - b.centre[k]) * (t.x(i, k) - b.centre[k]);
      }
      for (int k = 0; k < ni; ++k) b.sd[k] = std::sqrt(s2[k] / sw);
      b.height = top;
    } else {
      size_t at = 0;
      for (size_t i = 1; i < m; ++i)
        if (term == 0 ? r[i] > r[at] : std::fabs(r[i]) > std::fabs(r[at])) at = i;
      b.height = r[at];
      const double sg = b.height < 0 ? -1.0 : 1.0;
      double s2[3] = {0, 0, 0};
      int count = 0;
      for (size_t i = 0; i < m; ++i) {
        if (!(sg * r[i] > std::fabs(b.height) / 2)) continue;
        ++count;
        for (int k = 0; k < ni; ++k) s2[k] += (t.x(i, k) - t.x(at, k)) * (t.x(i, k) - t.x(at, k));
      }
      for (int k = 0; k < ni; ++k) {
        b.centre[k] = t.x(at, k);
        // Over the disc above half height the variance is R^2 / 4 with R = 1.18 sigma.
        b.sd[k] = count >= 3 ? 1.7 * std::sqrt(s2[k] / count) : span[k] / 8;
        if (!(b.sd[k] > 0)) b.sd[k] = span[k] / 8;
      }
    }
    for (size_t i = 0; i < m; ++i) {
      double q = 0;
      for (int k = 0; k < ni; ++k) {
        const double u = (t.x(i, k) - b.centre[k]) / b.sd[k];
        q += u * u;
      }
      r[i] -= b.height * std::exp(-0.5 * q);
    }
    blobs.push_back(b);
  }
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    const Blob &b = blobs[static_cast<size_t>(std::max(t.term_of(j), 0))];
    const int k = t.input_of(j);
    switch (t.role(j)) {
      case FM_ROLE_BASELINE: v = base; break;
      case FM_ROLE_CENTRE: v = (positive(t.domain(j)) && !(b.centre[k] > 0)) ? v : b.centre[k]; break;
      case FM_ROLE_WIDTH: v = b.sd[k] > 0 ? b.sd[k] : v; break;
      case FM_ROLE_HEIGHT: case FM_ROLE_AMPLITUDE: v = sign * b.height; break;
      case FM_ROLE_AREA: v = sign * b.height * 2 * kPi * b.sd[0] * b.sd[std::min(1, ni - 1)]; break;
      default: break;
    }
  }
  return true;
}

// Surfaces and other forms: the baseline and amplitudes from the data's level and spread; the
// rest from the generic point, settled by the linear solve and the search.
bool seed_level(const Target &t, Vec &p) {
  Vec z(t.data->y, t.data->y + t.data->n);
  const double lo = quantile(z, 0.0), hi = quantile(z, 1.0);
  for (int j = 0; j < t.n; ++j) {
    double &v = p[static_cast<size_t>(j)];
    if (t.role(j) == FM_ROLE_BASELINE) v = lo;
    if (t.role(j) == FM_ROLE_ANCHOR_Y) v = (lo + hi) / 2;
  }
  return true;
}

}  // namespace

bool seed(const Target &t, fm_start_kind kind, Vec &p) {
  const bool one = t.nIndep == 1;
  switch (kind) {
    case FM_START_PEAK: return one && seed_peak(t, p);
    case FM_START_SIGMOID: return one && seed_sigmoid(t, p, false);
    case FM_START_DOSE_RESPONSE: return one && seed_sigmoid(t, p, true);
    case FM_START_DECAY: return one && seed_exponential(t, p, -1);
    case FM_START_GROWTH: return one && seed_exponential(t, p, 0);
    case FM_START_POWER: return one && seed_power(t, p);
    case FM_START_SATURATION: return one && seed_saturation(t, p);
    case FM_START_PERIODIC: return one && seed_periodic(t, p);
    case FM_START_DISTRIBUTION: return one && seed_distribution(t, p);
    case FM_START_CUMULATIVE: return one && seed_cumulative(t, p);
    case FM_START_EXPECTED_VALUE: return one && seed_expected_value(t, p);
    case FM_START_SURFACE_PEAK: return seed_surface_peak(t, p);
    default: return seed_level(t, p);
  }
}

}  // namespace est
}  // namespace fmfit
