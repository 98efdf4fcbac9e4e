/*
 * fitmodels catalogue: what a fitter needs to know about every model beyond its calling
 * contract: the request shape it serves, how many parameters it reads for a given count, the
 * names and roles of its parameters, its formula, how its starting values are estimated, and a
 * few generic points where it evaluates.
 *
 * The table is generated at build time from the model metadata and is constant data. Usable from
 * C (C99) and C++. Thread-safe: nothing here changes after load.
 */
#ifndef FITMODELS_CATALOG_H
#define FITMODELS_CATALOG_H

#include <stddef.h>
#include <stdint.h>

#include "fitmodels.h"

#ifdef __cplusplus
extern "C" {
#endif

/* How a model answers the value (REQ_VALUE) and derivative (REQ_DERIV) requests. */
typedef enum fm_shape {
  FM_SHAPE_VALUE_THEN_DERIVS = 0, /* a derivative request also writes the value */
  FM_SHAPE_EXCLUSIVE = 1,         /* a derivative request writes the derivatives only */
  FM_SHAPE_VALUE_ONLY_0 = 2,      /* no derivatives: a derivative-only request returns 0 */
  FM_SHAPE_VALUE_ONLY_1 = 3,      /* no derivatives: a derivative-only request returns 1 */
  FM_SHAPE_VALUE_ONLY_MISSING = 4,/* no derivatives: refused with MISSING_VALUE in the slots */
  FM_SHAPE_PLACEHOLDER = 5,       /* computes and writes nothing */
  FM_SHAPE_ERROR_TEST = 6         /* the error-path test model */
} fm_shape;

/* The answer to REQ_QUERY. */
typedef enum fm_query {
  FM_QUERY_NOT_EXAMINED = 0, /* bit 3 is ignored: REQ_QUERY acts as a request of neither */
  FM_QUERY_NONE = 1,         /* stores 0, returns QUERY_REPLY_NONE */
  FM_QUERY_MASK = 2,         /* stores a moment mask, returns QUERY_REPLY_MASK */
  FM_QUERY_NO_STORE = 3      /* returns QUERY_REPLY_MASK, stores nothing */
} fm_query;

/* What a parameter means to a fitter. */
typedef enum fm_role {
  FM_ROLE_OTHER = 0,
  FM_ROLE_BASELINE,  /* constant offset of the curve (y0) */
  FM_ROLE_AMPLITUDE, /* a scale of the curve's height: amplitude, plateau, span */
  FM_ROLE_HEIGHT,    /* a peak's height */
  FM_ROLE_AREA,      /* a peak's area */
  FM_ROLE_CENTRE,    /* a location on the x axis: centre, onset, half-effect point */
  FM_ROLE_WIDTH,     /* a scale on the x axis: width, spread */
  FM_ROLE_RATE,      /* a rate constant (per unit of x) */
  FM_ROLE_TIME,      /* a time constant (in units of x) */
  FM_ROLE_EXPONENT,  /* a power or slope exponent */
  FM_ROLE_SHAPE,     /* a dimensionless shape parameter */
  FM_ROLE_OFFSET,    /* an offset of x (x0) */
  FM_ROLE_ANCHOR_X,  /* expected-value forms: an abscissa chosen by the user */
  FM_ROLE_ANCHOR_Y   /* expected-value forms: the curve's value at an anchor abscissa */
} fm_role;

/* Where a parameter may lie for the model to evaluate. */
typedef enum fm_domain {
  FM_DOMAIN_ANY = 0,
  FM_DOMAIN_POSITIVE,    /* > 0 */
  FM_DOMAIN_NONNEGATIVE, /* >= 0 */
  FM_DOMAIN_NONZERO,     /* != 0 */
  FM_DOMAIN_NEGATIVE,    /* < 0 */
  FM_DOMAIN_UNIT         /* in [0, 1] */
} fm_domain;

/* How starting values are estimated from data. */
typedef enum fm_start_kind {
  FM_START_NONE = 0,      /* nothing to fit (placeholders, the error-path test model) */
  FM_START_GENERIC,       /* bounded multi-start search from the data's ranges and the roles */
  FM_START_LINEAR,        /* linear in its parameters: solved exactly */
  FM_START_PEAK,
  FM_START_SIGMOID,
  FM_START_DOSE_RESPONSE, /* sigmoid in log-dose */
  FM_START_DECAY,
  FM_START_GROWTH,        /* exponential growth and association */
  FM_START_POWER,         /* power laws and isotherms (log-log) */
  FM_START_SATURATION,
  FM_START_PERIODIC,
  FM_START_DISTRIBUTION,  /* densities */
  FM_START_CUMULATIVE,    /* cumulative curves */
  FM_START_EXPECTED_VALUE,
  FM_START_SURFACE_PEAK,
  FM_START_SURFACE
} fm_start_kind;

typedef struct fm_param_info {
  const char *name; /* short name: y0, xc, w, A, k, t1, ... */
  fm_role role;
  fm_domain domain;
} fm_param_info;

/* Parameters read for nParams = n: shared + per_term * k with k = (n - shared) / per_term
 * whole terms when per_term > 0; exactly `shared` when per_term == 0 (a fixed count, which for
 * an expected-value form may exceed the registry's count). */
typedef struct fm_layout {
  int shared;
  int per_term;
  int term_outputs; /* term j also writes its own value into y[2 + j] */
} fm_layout;

/* Outputs a success may carry as MISSING_VALUE because the model's description defines it so
 * (fm_model_info.defined_missing): y[1], or derivative slots of a derivative request. */
typedef enum fm_missing {
  FM_MISSING_Y1 = 1,
  FM_MISSING_DERIV = 2
} fm_missing;

/* A point where the model evaluates with finite value and derivatives. */
typedef struct fm_point {
  double x[4];           /* x[1..3]; x[0] unused */
  int nparams;
  const double *params;  /* params[1..nparams]; params[0] unused */
} fm_point;

typedef struct fm_model_info {
  const char *name;        /* table name (the export name for an export without a row) */
  const char *export_name; /* NULL when reachable only through the lookups */
  const char *family;      /* source unit, e.g. "core/peaks" */
  int row;                 /* position in the registry table; -1 for an export without a row */
  int ordinal;             /* export ordinal; 0 when not exported */
  int16_t nIndep, nDep, row_params;
  fm_shape shape;
  int success_resets_errno; /* a success sets errno to 0 */
  int reserved_rc;          /* return code of REQ_RESERVED */
  int neither_rc;           /* return code of a request of neither; -1: computes first */
  fm_query query;
  int least_params;         /* least nParams accepted; -1 when nParams is not read */
  fm_layout layout;
  int param_count;          /* entries of params: the shared ones and one term */
  const fm_param_info *params;
  const char *formula;      /* one line of plain mathematics */
  fm_start_kind start;
  int derivatives;          /* serves analytic derivatives (value-then-derivatives or exclusive) */
  int point_count;
  const fm_point *points;
  unsigned defined_missing; /* fm_missing bits: a success the model defines with MISSING_VALUE */
} fm_model_info;

/* The whole catalogue in registry order, exports without a row at the end. */
const fm_model_info *fm_catalog(size_t *count);
/* By table name or export name, without regard to ASCII letter case; NULL if unknown. */
const fm_model_info *fm_catalog_find(const char *name);
/* The model function of an entry (looked up, or bound by its exported name). */
ModelFunction fm_catalog_function(const fm_model_info *model);

/* Parameters read for nParams = n, or -1 when n does not fit the layout (n below the least
 * count, a partial term, or a fixed layout of another count). */
int fm_layout_params(const fm_model_info *model, int n);
/* nParams for k terms (k ignored for a fixed layout). */
int fm_params_for_terms(const fm_model_info *model, int k);
/* Writes the name of parameter i (1-based) for nParams = n into buf: shared names as they are,
 * term names numbered from 1 when there is more than one term ("xc2"). Returns buf. */
const char *fm_param_name(const fm_model_info *model, int n, int i, char *buf, size_t size);
/* The role and domain of parameter i (1-based) for nParams = n. */
const fm_param_info *fm_param(const fm_model_info *model, int n, int i);

const char *fm_role_name(fm_role role);   /* "baseline", "centre", ... */
const char *fm_start_name(fm_start_kind kind); /* "peak", "sigmoid", ... */
const char *fm_domain_name(fm_domain domain);  /* "pos", "nonneg", ...; "" for any */

/* Single-character edits (insertions, deletions, substitutions; ASCII letter case ignored) that
 * turn a into b. */
size_t fm_edit_distance(const char *a, const char *b);
/* The table names nearest to name, for "did you mean": by edit distance, a name that contains
 * name counting as 1, none farther than max(3, length / 2); in registry order among equals.
 * Writes up to count of them into out and returns how many. */
size_t fm_catalog_nearest(const char *name, const char **out, size_t count);

#ifdef __cplusplus
}
#endif

#endif
