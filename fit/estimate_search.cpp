// The bounded multi-start search: a box for every free parameter from the data's ranges and the
// parameter's role and domain, starts spread over it by a Halton sequence (deterministic, no
// seed to carry), the linear parameters solved at every start, the best starts refined by the
// engine, the best residual kept.
#include <algorithm>
#include <cmath>

#include "estimate.h"

namespace fmfit {
namespace est {
namespace {

double halton(unsigned index, unsigned base) {
  double f = 1, r = 0;
  for (unsigned i = index; i > 0; i /= base) {
    f /= base;
    r += f * (i % base);
  }
  return r;
}

const unsigned kPrimes[] = {2,  3,  5,  7,  11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53,
                            59, 61, 67, 71, 73, 79, 83, 89, 97, 101, 103, 107, 109, 113, 127, 131};

struct Box {
  double lo, hi;
  bool log;       // log-uniform in |v| between lo and hi (both > 0)
  bool signed_;   // then either sign (the second half of the unit interval negative)
  bool mirror = false;  // uniform: the second half of the unit interval drawn from -hi..-lo
};

double draw(const Box &b, double u) {
  if (!b.log && b.mirror) {
    const double v = u < 0.5 ? 2 * u : 2 * u - 1;
    const double x = b.lo + v * (b.hi - b.lo);
    return u < 0.5 ? x : -x;
  }
  if (!b.log) return b.lo + u * (b.hi - b.lo);
  double sign = 1;
  if (b.signed_) {
    sign = u < 0.5 ? 1.0 : -1.0;
    u = u < 0.5 ? 2 * u : 2 * u - 1;
  }
  return sign * b.lo * std::pow(b.hi / b.lo, u);
}

Box box_of(const Target &t, int j, double xlo, double xhi, double xspan, double ylo, double yhi) {
  const double yspan = yhi > ylo ? yhi - ylo : std::max(1.0, std::fabs(yhi));
  const fm_domain d = t.domain(j);
  const bool pos = d == FM_DOMAIN_POSITIVE || d == FM_DOMAIN_NONNEGATIVE;
  const bool neg = d == FM_DOMAIN_NEGATIVE;
  const bool either = !pos && !neg;
  auto scaled = [&](double lo, double hi, bool sgn) {
    Box b{lo, hi, true, sgn};
    return b;
  };
  Box b;
  switch (t.role(j)) {
    case FM_ROLE_BASELINE: case FM_ROLE_ANCHOR_Y: b = {ylo, yhi, false, false}; break;
    case FM_ROLE_AMPLITUDE: case FM_ROLE_HEIGHT: b = scaled(0.3 * yspan, 3 * yspan, either); break;
    case FM_ROLE_AREA: b = scaled(0.01 * yspan * xspan, yspan * xspan, either); break;
    case FM_ROLE_ANCHOR_X:
      b = {pos ? std::max(xlo, 1e-3 * xspan) : xlo, xhi, false, false};
      if (pos && !(b.hi > b.lo)) b = {1e-3 * xspan, xspan, true, false};
      break;
    case FM_ROLE_CENTRE: case FM_ROLE_OFFSET:  // beyond the data too (see the trials of polish)
      b = {pos ? std::max(xlo - xspan, 1e-3 * xspan) : xlo - xspan, xhi + xspan, false, false};
      b.mirror = t.role(j) == FM_ROLE_OFFSET && !pos && !neg;  // an offset entering as x + a
      if (pos && !(b.hi > b.lo)) b = {1e-3 * xspan, xspan, true, false};
      break;
    case FM_ROLE_WIDTH: case FM_ROLE_TIME: b = scaled(0.01 * xspan, 2 * xspan, false); break;
    case FM_ROLE_RATE: b = scaled(0.1 / xspan, 50 / xspan, either); break;
    case FM_ROLE_EXPONENT: case FM_ROLE_SHAPE:
      b = pos || neg ? scaled(0.1, 10, false) : Box{-4, 4, false, false};
      break;
    default: {
      const double g = t.generic[static_cast<size_t>(j)];
      if (g != 0 && std::isfinite(g))
        b = scaled(0.1 * std::fabs(g), 10 * std::fabs(g), either);
      else
        b = {-1, 1, false, false};
    }
  }
  if (d == FM_DOMAIN_UNIT) b = {0.01, 0.99, false, false};
  return b;
}

}  // namespace

void search(const Target &t, const std::vector<int> &lin, Vec &best, double &best_rss) {
  std::vector<int> nonlin;
  int nfree = 0;
  for (int j = 0; j < t.n; ++j) {
    if (!t.free(j)) continue;
    ++nfree;
    if (std::find(lin.begin(), lin.end(), j) == lin.end()) nonlin.push_back(j);
  }
  if (nfree == 0) return;
  double ylo = HUGE_VAL, yhi = -HUGE_VAL;
  double xlo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, xhi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (size_t i = 0; i < t.data->n; ++i) {
    ylo = std::min(ylo, t.data->y[i]);
    yhi = std::max(yhi, t.data->y[i]);
    for (int k = 0; k < t.nIndep; ++k) {
      xlo[k] = std::min(xlo[k], t.x(i, k));
      xhi[k] = std::max(xhi[k], t.x(i, k));
    }
  }
  std::vector<Box> boxes(static_cast<size_t>(t.n));
  for (int j = 0; j < t.n; ++j) {
    const int k = t.input_of(j);
    double span = xhi[k] - xlo[k];
    if (!(span > 0)) span = std::max(1.0, std::fabs(xlo[k]));
    boxes[static_cast<size_t>(j)] = box_of(t, j, xlo[k], xhi[k], span, ylo, yhi);
  }
  // Every start keeps the parameters the search does not draw (held ones, linear ones before
  // their solve) from the best point so far.
  const int draws = nonlin.empty() ? 1 : std::min(96, 24 + 12 * static_cast<int>(nonlin.size()));
  struct Start {
    double rss;
    Vec p;
  };
  std::vector<Start> starts;
  starts.push_back({best_rss, best});
  {
    Vec g(t.generic);
    for (int j = 0; j < t.n; ++j)
      if (!t.free(j)) g[static_cast<size_t>(j)] = t.known[static_cast<size_t>(j)];
    const double s = solve_linear(t, g, lin);
    if (std::isfinite(s)) starts.push_back({s, g});
  }
  for (int i = 1; i <= draws; ++i) {
    Vec q(best);
    for (size_t k = 0; k < nonlin.size(); ++k) {
      const size_t j = static_cast<size_t>(nonlin[k]);
      q[j] = draw(boxes[j], halton(static_cast<unsigned>(i) + 7, kPrimes[k % 32]));
    }
    for (int j : lin) {  // linear ones from a neutral value: 1 in the data's units
      const size_t js = static_cast<size_t>(j);
      if (!std::isfinite(q[js]) || q[js] == 0) q[js] = draw(boxes[js], 0.3);
    }
    const double s = solve_linear(t, q, lin);
    if (std::isfinite(s)) starts.push_back({s, q});
  }
  std::stable_sort(starts.begin(), starts.end(),
                   [](const Start &a, const Start &b) { return a.rss < b.rss; });
  const size_t refined = std::min<size_t>(starts.size(), 8);
  const double good = 1.2 * t.noise_rss;
  for (size_t k = 0; k < refined; ++k) {
    Vec q = starts[k].p;
    polish(t, q, lin);
    const double s = refine(t, q, 50 * (nfree + 1));
    if (s < best_rss) {
      best_rss = s;
      best = q;
    }
    if (best_rss <= good) break;
  }
}

}  // namespace est
}  // namespace fmfit
