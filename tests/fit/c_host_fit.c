/* A host written in C99: the engine's header compiles as C, a fit and a batch run through it,
 * and hostile input ends in a status, never a crash. Exits 0 when every check holds. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "fitmodels_fit.h"

static int failures = 0;
#define CHECK(cond)                                                 \
  do {                                                              \
    if (!(cond)) {                                                  \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                   \
    }                                                               \
  } while (0)

int main(void) {
  /* y = 1 + 2x exactly, and two noisy lines in one batch. */
  const double x[6] = {0, 1, 2, 3, 4, 5}, y[6] = {1, 3, 5, 7, 9, 11};
  const double by[12] = {1, 3.1, 4.9, 7, 9.2, 11, 2, 2.9, 4.1, 5, 6.1, 7};
  const double bx[12] = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5};
  const size_t offsets[3] = {0, 6, 12};
  const double start[2] = {0, 0};
  double p[2], se[2], lo[2], hi[2], bp[4];
  uint8_t flags[2];
  fmfit_model line;
  fmfit_model by_function;
  fmfit_data data;
  fmfit_output out;
  fmfit_summary s, bs[2];
  fmfit_options o;
  fmfit_batch batch;
  fmfit_output bout;
  int32_t status;
  const double nan_y[3] = {1, NAN, 3};

  memset(&line, 0, sizeof line);
  line.name = "Line";
  memset(&by_function, 0, sizeof by_function);
  by_function.function = Polynomial1;
  by_function.nIndep = 1;
  by_function.nParams = 2;
  by_function.derivatives = 1;
  data.n = 6;
  data.x = x;
  data.y = y;
  data.weights = NULL;
  memset(&out, 0, sizeof out);
  out.params = p;
  out.errors = se;
  out.ci_lower = lo;
  out.ci_upper = hi;
  out.flags = flags;
  fmfit_options_init(&o);
  CHECK(o.size == sizeof o && o.confidence_level == 0.95);

  status = fmfit_fit(&line, &data, start, NULL, &o, &s, &out);
  CHECK(status == FMFIT_CONVERGED && s.status == status);
  CHECK(fabs(p[0] - 1) < 1e-12 && fabs(p[1] - 2) < 1e-12);
  CHECK(s.dof == 4 && s.points == 6 && s.free_params == 2);
  CHECK(strcmp(fmfit_status_name(status), "converged") == 0);
  CHECK(fmfit_model_params(&line) == 2);

  status = fmfit_fit(&by_function, &data, start, NULL, NULL, &s, &out);
  CHECK(status == FMFIT_CONVERGED && fabs(p[1] - 2) < 1e-12);

  memset(&batch, 0, sizeof batch);
  batch.count = 2;
  batch.offsets = offsets;
  batch.x = bx;
  batch.y = by;
  batch.start = start; /* one start shared by both fits */
  memset(&bout, 0, sizeof bout);
  bout.params = bp;
  o.threads = 2;
  status = fmfit_batch_fit(&line, &batch, &o, bs, &bout);
  CHECK(status == FMFIT_CONVERGED && bs[0].status == 0 && bs[1].status == 0);
  CHECK(fabs(bp[1] - 2) < 0.1 && fabs(bp[3] - 1) < 0.1);

  /* Hostile input. */
  CHECK(fmfit_fit(NULL, &data, start, NULL, NULL, &s, &out) == FMFIT_INVALID_INPUT);
  CHECK(fmfit_fit(&line, NULL, start, NULL, NULL, &s, &out) == FMFIT_INVALID_INPUT);
  data.n = 0;
  CHECK(fmfit_fit(&line, &data, start, NULL, NULL, &s, &out) == FMFIT_INVALID_INPUT);
  data.n = 1;
  CHECK(fmfit_fit(&line, &data, start, NULL, NULL, &s, &out) == FMFIT_INVALID_INPUT);
  CHECK(strstr(s.message, "more free parameters") != NULL);
  data.n = 3;
  data.y = nan_y;
  CHECK(fmfit_fit(&line, &data, start, NULL, NULL, &s, &out) == FMFIT_INVALID_INPUT);
  CHECK(s.failing_point == 2);
  data.y = NULL;
  CHECK(fmfit_fit(&line, &data, start, NULL, NULL, &s, &out) == FMFIT_INVALID_INPUT);
  CHECK(fmfit_batch_fit(&line, NULL, &o, bs, &bout) == FMFIT_INVALID_INPUT);
  batch.offsets = NULL;
  CHECK(fmfit_batch_fit(&line, &batch, &o, bs, &bout) == FMFIT_INVALID_INPUT);

  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  return failures ? 1 : 0;
}
