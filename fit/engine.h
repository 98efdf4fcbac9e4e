// One fit from checked input to its summary and output rows, and the pieces of its verdict.
#ifndef FITMODELS_FIT_ENGINE_H
#define FITMODELS_FIT_ENGINE_H

#include "problem.h"

namespace fmfit {

// The options of a call with every default filled in.
struct Settings {
  SolveSettings solve{1e-14, 1e-14, 0.0, 0};
  bool absolute_sigma = false;
  double level = 0.95;
  bool profile = false;
  fmfit_estimate_fn estimate = nullptr;
  void *estimate_context = nullptr;
};

// Reads the caller's options (null: defaults); false with a message when one is invalid.
bool read_options(const fmfit_options *o, Settings &s, Control &c, char *message, size_t size);

// Where the arrays of one fit's result go (any may be null).
struct OutRow {
  double *params = nullptr, *errors = nullptr, *lo = nullptr, *hi = nullptr;
  double *cov = nullptr, *corr = nullptr;
  uint8_t *flags = nullptr;
};
OutRow out_row(const fmfit_output *o, size_t fit, size_t np);

// One fit. Never throws; every failure ends in the summary's status and message.
int32_t fit_one(const Model &m, const fmfit_data &data, const double *start,
                const fmfit_constraints &cons, const Settings &s, const Control &c, Workspace &ws,
                fmfit_summary &sum, const OutRow &out);

// Writes the status and a formatted message into a summary.
void set_status(fmfit_summary &sum, int32_t status, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Profile-likelihood interval of free parameter j (index into pr.free) around the solution in
// pr.p with weighted sum of squares chi2: the values where the profiled sum of squares rises by
// delta, searched from the asymptotic half width. Writes NaN for a side it cannot reach,
// +-INFINITY for a side that never rises enough, the bound where the box ends first.
void profile_interval(Problem &pr, size_t j, double chi2, double delta, double half_width,
                      const double *lower, const double *upper, const Settings &s,
                      Workspace &ws, double &lo, double &hi);

}  // namespace fmfit

#endif
