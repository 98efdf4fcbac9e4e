/*
 * fitmodels fitting engine: weighted nonlinear least squares of one model over one data set, or
 * of one model over many data sets in one call.
 *
 *   fmfit_model model = {"Gauss", NULL, NULL, 1, 4, 0};
 *   fmfit_data data = {n, x, y, NULL};
 *   double start[4] = {0, 5, 1, 10}, p[4], se[4];
 *   fmfit_output out = {p, se};
 *   fmfit_summary s;
 *   int32_t status = fmfit_fit(&model, &data, start, NULL, NULL, &s, &out);
 *
 * Arrays here are 0-based: parameter j of a model is element j - 1. Point i of a data set with
 * nIndep inputs reads x[i * nIndep + k] for input k + 1 (row-major n x nIndep).
 *
 * Unbounded problems are solved by Levenberg-Marquardt (MINPACK's lmder with the model's analytic
 * derivatives, forward differences for value-only models); problems with a finite bound on a
 * free parameter by an active set over lmder (parameters that end beyond a bound are held on it,
 * released when their gradient points back into the box) and, where that does not settle,
 * Ceres Solver's trust-region Levenberg-Marquardt inside the box. The verdict is checked against
 * the gradient and the Jacobian at the solution (and, on a bound, the sign of the gradient), not
 * taken from the solver's stopping reason alone.
 *
 * No global state: every call is reentrant and may run from several host threads at once. A
 * batch gives the same results, bit for bit, for any number of threads. C99 and C++.
 */
#ifndef FITMODELS_FIT_H
#define FITMODELS_FIT_H

#include <stddef.h>
#include <stdint.h>

#include "fitmodels.h"

#if defined(_WIN32)
#define FMFIT_API
#else
#define FMFIT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What happened. Only FMFIT_CONVERGED is an unqualified success. */
typedef enum fmfit_status {
  FMFIT_CONVERGED = 0,          /* a minimum: tolerances met, gradient zero, parameters determined */
  FMFIT_UNDETERMINED = 1,       /* stopped, but some parameter is not determined by the data (a
                                   zero or collinear Jacobian column): its error is NaN, its flag
                                   FMFIT_FLAG_UNDETERMINED */
  FMFIT_AT_BOUND = 2,           /* a minimum within the box with a parameter on its bound */
  FMFIT_EVALUATION_LIMIT = 3,   /* the evaluation limit was reached first */
  FMFIT_TIME_LIMIT = 4,         /* the time limit passed first */
  FMFIT_CANCELLED = 5,          /* the host cancelled (flag or progress callback) */
  FMFIT_MODEL_FAILS_AT_START = 6,/* the model fails at the starting values (failing_point names
                                   the first failing point) */
  FMFIT_NOT_CONVERGED = 7,      /* the solver stopped where the gradient is not zero */
  FMFIT_STATISTICS_NOT_FINITE = 8,/* the fit ran but its sums overflow (data beyond range) */
  FMFIT_INVALID_INPUT = 9,      /* null pointers, no points, more free parameters than points,
                                   non-finite data or starts, bad counts, unknown model, start
                                   outside its bounds, lower above upper */
  FMFIT_NO_ESTIMATE = 10,       /* no start given and no estimator could supply one */
  FMFIT_MODEL_FAILS = 11        /* the model or its derivatives fail at the solution reached */
} fmfit_status;

/* Per-parameter flags of a result. */
#define FMFIT_FLAG_HELD 1u         /* held at its starting value */
#define FMFIT_FLAG_AT_LOWER 2u     /* on its lower bound */
#define FMFIT_FLAG_AT_UPPER 4u     /* on its upper bound */
#define FMFIT_FLAG_UNDETERMINED 8u /* not determined by the data at the solution */

/* The model: by catalogue name, or by function. */
typedef struct fmfit_model {
  const char *name;         /* table or export name (any letter case); NULL: use function */
  ModelFunction function;   /* used when name is NULL */
  void *context;            /* passed to function as its context argument */
  int16_t nIndep;           /* inputs per point, 1..3 (with a name: taken from the catalogue) */
  int16_t nParams;          /* parameters handed to the model (multi-term models 1 + m*k); with
                               a name, 0 means the model's own count */
  int32_t derivatives;      /* with function: nonzero when REQ_DERIV writes analytic
                               derivatives of every parameter (with a name: from the catalogue) */
} fmfit_model;

/* One data set of n points. */
typedef struct fmfit_data {
  size_t n;
  const double *x;          /* n x nIndep, row-major */
  const double *y;          /* n */
  const double *weights;    /* n weights 1/sigma; NULL: all 1 */
} fmfit_data;

/* Per-parameter constraints (each array nParams long, each may be NULL). */
typedef struct fmfit_constraints {
  const uint8_t *held;      /* nonzero: held at its start */
  const double *lower;      /* -INFINITY: no lower bound */
  const double *upper;      /* +INFINITY: no upper bound */
} fmfit_constraints;

/* A starting-value estimator: writes nParams starts from the data; returns 0 on success. */
typedef int32_t (*fmfit_estimate_fn)(void *context, const fmfit_model *model, int16_t nParams,
                                     const fmfit_data *data, double *start);

/* Progress of a batch: fits finished of total. Return nonzero to cancel the rest. Called from
 * the calling thread or a worker, never concurrently with itself. */
typedef int32_t (*fmfit_progress_fn)(void *context, size_t done, size_t total);

typedef struct fmfit_options {
  uint32_t size;            /* sizeof(fmfit_options): set by fmfit_options_init */
  double ftol;              /* relative reduction of the sum of squares (default 1e-14) */
  double xtol;              /* relative change of the parameters (default 1e-14) */
  double gtol;              /* cosine between residuals and Jacobian columns (default 0) */
  int32_t max_evaluations;  /* model passes over the data; 0: 400 * (free + 1) */
  double time_limit;        /* seconds for the whole call; 0: none */
  int32_t threads;          /* batch threads; 0: all cores */
  int32_t absolute_sigma;   /* weights are true 1/sigma: covariance not scaled by reduced chi2 */
  double confidence_level;  /* of the intervals (default 0.95) */
  int32_t profile;          /* profile-likelihood intervals instead of asymptotic ones */
  fmfit_estimate_fn estimate; /* NULL: fmfit_estimate */
  void *estimate_context;
  fmfit_progress_fn progress; /* batches only; may be NULL */
  void *progress_context;
  const volatile int32_t *cancel; /* nonzero: stop starting fits (and stop running ones) */
} fmfit_options;

/* Scalars of one result. */
typedef struct fmfit_summary {
  int32_t status;           /* fmfit_status */
  int32_t failing_point;    /* 1-based point concerned: where the model fails (MODEL_FAILS_AT_START,
                               MODEL_FAILS) or the data is not finite (INVALID_INPUT); 0: none */
  int32_t detail;           /* 1-based parameter the status concerns (AT_BOUND, UNDETERMINED,
                               INVALID_INPUT where a parameter is at fault); 0: none */
  int32_t points;
  int32_t free_params;
  int32_t dof;              /* points - free_params */
  int32_t model_evaluations;    /* passes over the data for values */
  int32_t jacobian_evaluations; /* passes over the data for derivatives */
  double chi2;              /* weighted sum of squared residuals */
  double reduced_chi2;      /* chi2 / dof */
  double r2;                /* 1 - RSS / total sum of squares (unweighted) */
  double aic, aicc, bic;    /* n ln(chi2 / n) + 2k, + 2k(k + 1)/(n - k - 1), n ln(chi2 / n) + k ln n,
                               with k = free_params (as lmfit) */
  int32_t solver_info;      /* the solver's own stopping code (MINPACK's info: 1-4 and 6-8
                               stopped by a tolerance, 5 evaluation limit, < 0 stopped by the
                               engine; 0 a trust-region stop other than convergence) */
  char message[124];        /* one line saying what happened, naming the point or parameter */
} fmfit_summary;

/* Arrays of one result, each nParams long (covariance and correlation nParams x nParams,
 * row-major); every pointer may be NULL. Held and undetermined parameters get NaN errors,
 * intervals and covariance rows. */
typedef struct fmfit_output {
  double *params;
  double *errors;
  double *ci_lower;
  double *ci_upper;
  double *covariance;
  double *correlation;
  uint8_t *flags;
} fmfit_output;

/* Defaults of every option. */
FMFIT_API void fmfit_options_init(fmfit_options *options);

/* One fit. start: nParams starting values, or NULL to estimate them. constraints and options
 * may be NULL. Returns the status (also in summary->status). */
FMFIT_API int32_t fmfit_fit(const fmfit_model *model, const fmfit_data *data, const double *start,
                            const fmfit_constraints *constraints, const fmfit_options *options,
                            fmfit_summary *summary, fmfit_output *output);

/* Which arrays of a batch hold one row per fit (otherwise one row shared by all). */
#define FMFIT_PER_FIT_START 1u
#define FMFIT_PER_FIT_HELD 2u
#define FMFIT_PER_FIT_LOWER 4u
#define FMFIT_PER_FIT_UPPER 8u

/* Many data sets of one model, the points of all of them in contiguous arrays. */
typedef struct fmfit_batch {
  size_t count;             /* fits */
  const size_t *offsets;    /* count + 1 entries: fit i has points offsets[i] .. offsets[i+1]-1 */
  const double *x;          /* all points, row-major, nIndep per point */
  const double *y;
  const double *weights;    /* NULL: all 1 */
  const double *start;      /* nParams (shared) or count x nParams; NULL: estimate */
  fmfit_constraints constraints; /* each nParams (shared) or count x nParams */
  uint32_t per_fit;         /* FMFIT_PER_FIT_* bits */
} fmfit_batch;

/* Fits every data set of the batch, over options->threads threads. summaries has count entries;
 * the arrays of output hold count x nParams (covariance, correlation count x nParams^2).
 * Returns FMFIT_INVALID_INPUT when the batch itself is malformed (nothing fitted), else
 * FMFIT_CONVERGED when every fit converged, else the status of the first fit that did not. */
FMFIT_API int32_t fmfit_batch_fit(const fmfit_model *model, const fmfit_batch *batch,
                                  const fmfit_options *options, fmfit_summary *summaries,
                                  fmfit_output *output);

/* The built-in starting-value estimator (the default of options->estimate). */
FMFIT_API int32_t fmfit_estimate(void *context, const fmfit_model *model, int16_t nParams,
                                 const fmfit_data *data, double *start);

/* The resolved parameter count of a model (nParams, or the catalogue's count for 0); -1 when
 * the model is unknown or the count does not fit its layout. */
FMFIT_API int32_t fmfit_model_params(const fmfit_model *model);

/* A short constant text for a status: "converged", ... */
FMFIT_API const char *fmfit_status_name(int32_t status);


#ifdef __cplusplus
}
#endif

#endif /* FITMODELS_FIT_H */
