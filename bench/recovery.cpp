// Recovery benchmark of the automatic starting values: for every fittable model, data sets drawn
// from the model at parameter sets around its generic points, 50 points (a 7 x 7 grid for
// surfaces) over a range that shows the curve's features, Gaussian noise of 1 % of the curve's
// range, fitted with no starting values. A data set is recovered when the fit converges and its
// sum of squares is within 5 % of the sum of squares at the true parameters.
//
//   recovery [--sample K] [--sets N] [--model NAME] [--min-rate R] [--tol T] [--evaluations N] [--quiet] [--verbose]
//
// --tol T sets the engine's ftol and xtol, --evaluations N its evaluation limit (default: the
// engine's own).
//
// --sample K fits every K-th model only; --min-rate R exits 1 when the overall rate is below R
// (the CTest's check). Deterministic: the same figures on every run.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "catalog/derivative_check.h"
#include "fitmodels_catalog.h"
#include "fitmodels_estimate.h"
#include "fitmodels_fit.h"

namespace {

// A small deterministic generator (splitmix64) and Box-Muller normals: the same draws with every
// compiler and library.
struct Rng {
  uint64_t s;
  double uniform() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return (static_cast<double>(z >> 11) + 0.5) * (1.0 / 9007199254740992.0);
  }
  double normal() {
    const double u = uniform(), v = uniform();
    return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
  }
};


struct Model {
  const fm_model_info *info;
  ModelFunction f;
  int n;
};

bool value(const Model &m, const std::vector<double> &p, const double *x, double &y) {
  double par[65], xb[4] = {0, x[0], x[1], x[2]}, out[70];
  if (m.n > 64) return false;
  for (int j = 0; j < m.n; ++j) par[j + 1] = p[static_cast<size_t>(j)];
  const bool ok = fm::model_value(m.f, m.n, par, xb, out);
  y = out[1];
  return ok;
}

// The range of input k: centre +- 4 widths where the roles give both, the first few time
// constants (or inverse rates) from the start for decays and growth, else the generic point's
// abscissa +- its magnitude (at least 1); kept positive for models whose parameters need it.
void range_of(const Model &m, const std::vector<double> &p, const fm_point &pt, int k, double &lo,
              double &hi) {
  double centre = NAN, width = NAN, time = NAN;
  int centres = 0, widths = 0;
  for (int j = 0; j < m.n; ++j) {
    const fm_param_info *pi = fm_param(m.info, m.n, j + 1);
    const double v = p[static_cast<size_t>(j)];
    if (pi == nullptr) continue;
    if (pi->role == FM_ROLE_CENTRE || pi->role == FM_ROLE_OFFSET) {
      if (centres++ == k || (m.info->nIndep == 1 && std::isnan(centre))) centre = v;
    } else if (pi->role == FM_ROLE_WIDTH) {
      if (widths++ == k || (m.info->nIndep == 1 && std::isnan(width))) width = std::fabs(v);
    } else if (pi->role == FM_ROLE_TIME && std::isnan(time)) {
      time = std::fabs(v);
    } else if (pi->role == FM_ROLE_RATE && std::isnan(time) && v != 0) {
      time = 1 / std::fabs(v);
    }
  }
  const double x = pt.x[k + 1];
  // Curves of one input with several transitions or peaks: every centre +- 4 of its width (the
  // widths paired with the centres in order), or the centres' span again on either side.
  std::vector<double> cs, ws;
  for (int j = 0; j < m.n && m.info->nIndep == 1; ++j) {
    const fm_param_info *pi = fm_param(m.info, m.n, j + 1);
    if (pi && pi->role == FM_ROLE_CENTRE) cs.push_back(p[static_cast<size_t>(j)]);
    if (pi && pi->role == FM_ROLE_WIDTH) ws.push_back(std::fabs(p[static_cast<size_t>(j)]));
  }
  if (cs.size() >= 2) {
    lo = HUGE_VAL, hi = -HUGE_VAL;
    const double gap = *std::max_element(cs.begin(), cs.end()) - *std::min_element(cs.begin(), cs.end());
    for (size_t i = 0; i < cs.size(); ++i) {
      const double w = i < ws.size() && ws[i] > 0 ? 4 * ws[i] : std::max(1.5 * gap, 1.0);
      lo = std::min(lo, cs[i] - w), hi = std::max(hi, cs[i] + w);
    }
  } else if (std::isfinite(centre) && std::isfinite(width) && width > 0) {
    lo = centre - 4 * width, hi = centre + 4 * width;
  } else if (std::isfinite(time) && time > 0 && m.info->start != FM_START_PERIODIC) {
    const double from = std::isfinite(centre) ? centre : std::min(0.0, x);
    lo = from, hi = from + 5 * time;
  } else {
    const double s = std::max(1.0, std::fabs(x));
    lo = x - s, hi = x + s;
    if (x > 0 && lo <= 0) lo = x / 10, hi = 2 * x;  // keep to the side the generic point is on
  }
}

struct DataSet {
  std::vector<double> x, y;
  double rss_true = 0;
};

// Points over the range, shrunk toward the generic point until the model evaluates everywhere;
// false when it never does or the curve is flat.
bool make_data(const Model &m, const std::vector<double> &p, const fm_point &pt, Rng &rng,
               DataSet &ds) {
  const int ni = m.info->nIndep;
  double lo[3], hi[3];
  for (int k = 0; k < ni; ++k) range_of(m, p, pt, k, lo[k], hi[k]);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ds.x.clear();
    ds.y.clear();
    bool ok = true;
    const int side = ni == 1 ? 50 : 7;
    const int count = ni == 1 ? 50 : (ni == 2 ? 49 : 343);
    for (int i = 0; i < count && ok; ++i) {
      double x[3] = {0, 0, 0};
      int r = i;
      for (int k = 0; k < ni; ++k) {
        const int c = r % side;
        r /= side;
        x[k] = lo[k] + (hi[k] - lo[k]) * c / (side - 1);
      }
      double y;
      ok = value(m, p, x, y);
      for (int k = 0; k < ni; ++k) ds.x.push_back(x[k]);
      ds.y.push_back(y);
    }
    double span = 0;
    if (ok) {
      const auto mm = std::minmax_element(ds.y.begin(), ds.y.end());
      std::vector<double> sorted(ds.y);
      std::sort(sorted.begin(), sorted.end());
      const double iqr = sorted[3 * sorted.size() / 4] - sorted[sorted.size() / 4];
      span = *mm.second - *mm.first;
      // A range across a pole shows the pole, not the curve: shrink it. A pole: the model
      // fails, or exceeds the points' largest magnitude fivefold, between the points (on a grid
      // twenty times finer); on a surface, a range far wider than the spread of most values.
      // Or a change of sign between fine neighbours that are both large where most values are
      // small (a pole that a point happens to lie next to).
      double top = 0;
      std::vector<double> mag;
      for (double v : ds.y) top = std::max(top, std::fabs(v)), mag.push_back(std::fabs(v));
      std::sort(mag.begin(), mag.end());
      const bool peaked = top > 20 * mag[mag.size() / 2];
      if (ni == 1) {
        double prev = NAN;
        for (int i = 0; i <= 1000 && ok; ++i) {
          const double x[3] = {lo[0] + (hi[0] - lo[0]) * i / 1000.0, 0, 0};
          double y;
          ok = value(m, p, x, y) && std::fabs(y) <= 5 * top;
          if (ok && peaked && prev * y < 0 && std::min(std::fabs(prev), std::fabs(y)) > 0.25 * top)
            ok = false;
          prev = y;
        }
      } else {
        ok = !(span > 200 * iqr);
      }
      // A flat curve (a constant) gets noise of 1 % of its level.
      if (!(span > 1e-12 * std::max(1.0, std::fabs(*mm.second))))
        span = std::max(std::fabs(*mm.second), std::fabs(*mm.first));
      if (!(span > 0)) return false;
    }
    if (ok) {
      ds.rss_true = 0;
      for (double &y : ds.y) {
        const double e = 0.01 * span * rng.normal();
        y += e;
        ds.rss_true += e * e;
      }
      return true;
    }
    for (int k = 0; k < ni; ++k) {  // halve the range around the generic abscissa
      const double c = pt.x[k + 1];
      lo[k] = c + (lo[k] - c) / 2, hi[k] = c + (hi[k] - c) / 2;
    }
  }
  return false;
}

struct Tally {
  int sets = 0, recovered = 0, skipped = 0;
  int unfittable = 0;
  int holds = 0;       // data sets where the estimates held a parameter the data do not determine  // data sets that a fit from the true parameters does not converge on either
  std::map<std::string, int> reasons;
};

}  // namespace

int main(int argc, char **argv) {
  int sample = 1, sets_per_point = 3;
  double min_rate = -1, tol = 0;
  int evaluations = 0;
  const char *only = nullptr;
  bool quiet = false, verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--sample" && i + 1 < argc) sample = std::max(1, std::atoi(argv[++i]));
    else if (a == "--sets" && i + 1 < argc) sets_per_point = std::max(1, std::atoi(argv[++i]));
    else if (a == "--model" && i + 1 < argc) only = argv[++i];
    else if (a == "--min-rate" && i + 1 < argc) min_rate = std::atof(argv[++i]);
    else if (a == "--tol" && i + 1 < argc) tol = std::atof(argv[++i]);
    else if (a == "--evaluations" && i + 1 < argc) evaluations = std::atoi(argv[++i]);
    else if (a == "--quiet") quiet = true;
    else if (a == "--verbose") verbose = true;
    else {
      std::fprintf(stderr, "recovery: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  size_t count = 0;
  const fm_model_info *all = fm_catalog(&count);
  std::map<std::string, Tally> families;
  Tally overall;
  std::vector<std::string> misses;
  int index = 0;
  double estimate_seconds = 0;  // in fmfit_estimate alone
  for (size_t mi = 0; mi < count; ++mi) {
    const fm_model_info *info = &all[mi];
    if (info->start == FM_START_NONE || info->shape == FM_SHAPE_PLACEHOLDER ||
        info->shape == FM_SHAPE_ERROR_TEST || info->point_count < 1)
      continue;
    if (only && strcasecmp(only, info->name) != 0) continue;
    if (!only && (index++ % sample) != 0) continue;
    Tally t;
    Rng rng{0x5eed0000ull + mi};
    for (int pi = 0; pi < info->point_count && pi < 3; ++pi) {
      const fm_point &pt = info->points[pi];
      Model m{info, fm_catalog_function(info), pt.nparams};
      for (int s = 0; s < sets_per_point; ++s) {
        // The generic point itself, then every parameter moved by up to +-20 %.
        std::vector<double> p(pt.params + 1, pt.params + 1 + pt.nparams);
        if (s > 0)
          for (double &v : p) v *= 1 + 0.4 * (rng.uniform() - 0.5);
        DataSet ds;
        if (!make_data(m, p, pt, rng, ds)) {
          ++t.skipped;
          continue;
        }
        ++t.sets;
        fmfit_model fm{info->name, nullptr, nullptr, info->nIndep, static_cast<int16_t>(m.n), 0};
        fmfit_data data{ds.y.size(), ds.x.data(), ds.y.data(), nullptr};
        fmfit_options o;
        fmfit_options_init(&o);
        o.threads = 1;
        if (tol > 0) o.ftol = o.xtol = tol;
        o.max_evaluations = evaluations;
        fmfit_summary sum;
        std::vector<double> out(static_cast<size_t>(m.n));
        fmfit_output res{};
        res.params = out.data();
        // As the command-line fitter does: the estimates, the parameters they leave
        // undetermined held, the fit.
        std::vector<double> start(static_cast<size_t>(m.n));
        std::vector<uint8_t> held(static_cast<size_t>(m.n), 0);
        int32_t st = FMFIT_NO_ESTIMATE;
        sum = fmfit_summary{};
        sum.chi2 = HUGE_VAL;
        const auto t0 = std::chrono::steady_clock::now();
        const int32_t est = fmfit_estimate(nullptr, &fm, static_cast<int16_t>(m.n), &data, start.data());
        estimate_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (est == 0) {
          const int32_t h = fmfit_estimate_holds(&fm, static_cast<int16_t>(m.n), &data, start.data(), held.data());
          if (h > 0) ++t.holds;
          fmfit_constraints c{held.data(), nullptr, nullptr};
          st = fmfit_fit(&fm, &data, start.data(), &c, &o, &sum, &res);
        }
        const bool close = sum.chi2 <= 1.05 * ds.rss_true;
        if (verbose) {
          std::printf("%s set %d.%d: %s, chi2 %.6g vs %.6g at the truth\n  true", info->name, pi, s,
                      fmfit_status_name(st), sum.chi2, ds.rss_true);
          for (double v : p) std::printf(" %.6g", v);
          std::printf("\n  fit ");
          for (double v : out) std::printf(" %.6g", v);
          std::printf("\n");
        }
        if (st == FMFIT_CONVERGED && close) {
          ++t.recovered;
        } else {
          // The same fit from the true parameters tells a miss of the estimates from a model or
          // data set that no start fits (a redundant parameterisation, a singular Jacobian).
          fmfit_summary ts;
          std::vector<double> tp(p);
          fmfit_output tout{};
          tout.params = tp.data();
          std::vector<uint8_t> theld(static_cast<size_t>(m.n), 0);
          fmfit_estimate_holds(&fm, static_cast<int16_t>(m.n), &data, p.data(), theld.data());
          fmfit_constraints tc{theld.data(), nullptr, nullptr};
          const int32_t tst = fmfit_fit(&fm, &data, p.data(), &tc, &o, &ts, &tout);
          std::string why;
          if (tst != FMFIT_CONVERGED) {
            why = std::string("from the truth too: ") + fmfit_status_name(tst);
            ++t.unfittable;
          } else {
            why = st != FMFIT_CONVERGED ? fmfit_status_name(st) : "local minimum";
            if (st != FMFIT_CONVERGED && close) why += " at the truth's residual";
          }
          ++t.reasons[why];
        }
      }
    }
    Tally &f = families[info->family];
    f.sets += t.sets, f.recovered += t.recovered, f.skipped += t.skipped;
    f.unfittable += t.unfittable, f.holds += t.holds;
    overall.sets += t.sets, overall.recovered += t.recovered, overall.skipped += t.skipped;
    overall.unfittable += t.unfittable, overall.holds += t.holds;
    std::string reasons;
    for (const auto &r : t.reasons)
      reasons += (reasons.empty() ? "" : "; ") + r.first + " " + std::to_string(r.second);
    const double rate = t.sets ? 100.0 * t.recovered / t.sets : 0.0;
    if (!quiet)
      std::printf("%-18s %-24s %-15s %3d/%-3d %6.1f %%%s%s\n", info->name, info->family,
                  fm_start_name(info->start), t.recovered, t.sets, rate,
                  t.skipped ? (" skipped " + std::to_string(t.skipped)).c_str() : "",
                  reasons.empty() ? "" : ("  " + reasons).c_str());
    if (t.recovered < t.sets || t.sets == 0)
      misses.push_back(std::string(info->name) + ": " + std::to_string(t.recovered) + "/" +
                       std::to_string(t.sets) + (reasons.empty() ? " (no data set)" : " " + reasons));
  }
  // Rates of all data sets, and of those a fit from the truth converges on (the estimates' share).
  auto line = [](const char *name, const Tally &t) {
    const int fittable = t.sets - t.unfittable;
    std::printf("%-28s %4d/%-4d %6.1f %%   %4d/%-4d %6.1f %%\n", name, t.recovered, t.sets,
                t.sets ? 100.0 * t.recovered / t.sets : 0.0, t.recovered, fittable,
                fittable ? 100.0 * t.recovered / fittable : 0.0);
  };
  std::printf("\n%-28s %-18s %s\n", "family", "of all sets", "of sets fittable from the truth");
  for (const auto &kv : families) line(kv.first.c_str(), kv.second);
  line("overall", overall);
  const double rate = overall.sets ? static_cast<double>(overall.recovered) / overall.sets : 0.0;
  std::printf("\nestimates: %.2f ms per data set on average\n",
              overall.sets ? 1e3 * estimate_seconds / overall.sets : 0.0);
  std::printf("%d skipped (the model does not evaluate over the range); %d fitted with a"
              " redundant parameter held\n", overall.skipped, overall.holds);
  std::printf("models below 100 %%: %zu\n", misses.size());
  for (const std::string &s : misses) std::printf("  %s\n", s.c_str());
  return (min_rate >= 0 && rate < min_rate) ? 1 : 0;
}
