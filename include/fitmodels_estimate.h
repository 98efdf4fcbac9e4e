/*
 * fitmodels starting values: what the built-in estimator (fmfit_estimate, the default of
 * fmfit_options.estimate) may be told beyond the data.
 *
 * Parameters the caller already knows (held ones, or starts given for some parameters only) are
 * passed through the estimator's context: set options->estimate_context to an
 * fmfit_estimate_known (with options->estimate NULL), or pass it to fmfit_estimate directly. The
 * estimator keeps those values and estimates the others around them.
 *
 *   uint8_t known[4] = {1, 0, 0, 0};
 *   double values[4] = {0.0, 0, 0, 0};       baseline known to be 0
 *   fmfit_estimate_known k = {sizeof k, known, values};
 *   options.estimate_context = &k;
 */
#ifndef FITMODELS_ESTIMATE_H
#define FITMODELS_ESTIMATE_H

#include <stdint.h>

#include "fitmodels_fit.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct fmfit_estimate_known {
  uint32_t size;         /* sizeof(fmfit_estimate_known); any other value: ignored */
  const uint8_t *known;  /* nParams entries, nonzero where values[j] is to be kept; NULL: none */
  const double *values;  /* nParams entries */
} fmfit_estimate_known;

/* Parameters the data cannot determine at a start (a redundant parameterisation, such as an
 * offset of x beside an amplitude, or a ratio's common scale): fits from start holding those
 * marked in held, and while the engine finds free parameters undetermined, marks one of them held
 * (offsets of x, anchor abscissae and parameters without a role first) and fits again. held has
 * nParams entries and is updated in place. Returns how many parameters it marked; -1 on invalid
 * input. */
FMFIT_API int32_t fmfit_estimate_holds(const fmfit_model *model, int16_t nParams,
                                       const fmfit_data *data, const double *start,
                                       uint8_t *held);

#ifdef __cplusplus
}
#endif

#endif
