// Starting values from data. The built-in estimator seeds a model's parameters from features of
// the data chosen by the model's start kind (peaks, plateaus, rates, frequencies, moments,
// quantiles) and the roles of its parameters, solves exactly the parameters the model is linear
// in, searches the scale of the others, refines with the engine, and falls back to a bounded,
// deterministic multi-start search when the result still lies far from the data.
#ifndef FITMODELS_FIT_ESTIMATE_H
#define FITMODELS_FIT_ESTIMATE_H

#include <cstdint>
#include <vector>

#include "fitmodels_catalog.h"
#include "fitmodels_estimate.h"
#include "fitmodels_fit.h"

namespace fmfit {
namespace est {

using Vec = std::vector<double>;

// One model over one data set, as the estimators see it. Parameter indices are 0-based.
struct Target {
  const fm_model_info *info = nullptr;  // null: a model given by its function only
  fmfit_model model{};                  // resolved: name or function, nIndep, nParams
  ModelFunction function = nullptr;     // what the estimators call
  int n = 0;                            // parameters
  int nIndep = 1;
  const fmfit_data *data = nullptr;
  std::vector<uint8_t> held;  // n: kept at known[j]
  Vec known;                  // n
  Vec generic;                // n: the parameters of the model's first generic point (or 1)
  double noise_rss = 0;       // the sum of squares the data's scatter alone would leave

  fm_role role(int j) const;
  fm_domain domain(int j) const;
  int term_of(int j) const;   // -1 for a shared parameter, else the term's index
  int input_of(int j) const;  // the input (0-based) a centre or width parameter refers to
  bool free(int j) const { return !held[static_cast<size_t>(j)]; }

  // Model values at every point (weights not applied); false when the model fails anywhere.
  bool values(const Vec &p, Vec &out) const;
  // Weighted sum of squared residuals; HUGE_VAL when the model fails at some point.
  double rss(const Vec &p) const;
  double weight(size_t i) const { return data->weights ? data->weights[i] : 1.0; }
  double x(size_t i, int k) const { return data->x[i * static_cast<size_t>(nIndep) + k]; }
};

// The data of one input sorted by x, the y of equal x averaged.
struct Curve {
  Vec x, y;
  size_t size() const { return x.size(); }
  double xmin() const { return x.front(); }
  double xmax() const { return x.back(); }
};
Curve make_curve(const Target &t, bool positive_x = false);
Vec smooth(const Vec &y, int half);
double quantile(Vec v, double q);
// y at x on the polyline of the curve (clamped at the ends).
double interpolate(const Curve &c, const Vec &y, double x);

// Least squares for the columns cols[j] (each of the length of y) by Householder QR; false when
// they are rank-deficient.
bool lstsq(const std::vector<Vec> &cols, const Vec &y, Vec &coef, double *ssr = nullptr);

// The kind's seed: every parameter set from the data's features and the roles. False when the
// data do not show what the kind needs (then the multi-start search takes over).
bool seed(const Target &t, fm_start_kind kind, Vec &p);

// The free parameters the model is affine in at p (jointly), among those whose role makes it
// likely (every free parameter when all_candidates).
std::vector<int> linear_set(const Target &t, const Vec &p, bool all_candidates);
// Solves the parameters of `lin` exactly for the others as in p; the sum of squares after.
double solve_linear(const Target &t, Vec &p, const std::vector<int> &lin);
// Linear solve, then a coarse search of every other free parameter's scale or position, each
// try with the linear ones solved again. Returns the sum of squares.
double polish(const Target &t, Vec &p, const std::vector<int> &lin);
// Levenberg-Marquardt from p with the engine under an evaluation budget; p is replaced when the
// fit improves it. Returns the sum of squares.
double refine(const Target &t, Vec &p, int budget);
// The bounded multi-start search: starts spread over a box built from the data's ranges and the
// roles and domains (a Halton sequence: deterministic), the best ones refined by the engine.
// Improves best / best_rss in place.
void search(const Target &t, const std::vector<int> &lin, Vec &best, double &best_rss);

}  // namespace est
}  // namespace fmfit

#endif
