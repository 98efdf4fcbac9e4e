/* One fit through the fitting library: a Gauss peak sampled without noise, fitted from a start
 * away from it, must come back to its parameters. */
#include "fitmodels_fit.h"

int consumer_run_one_fit(void) {
  enum { N = 25 };
  const double truth[5] = {0, 0.5, 2.0, 1.5, 3.0}; /* 1-based for the model call */
  const double start[4] = {0.4, 1.7, 1.2, 2.5};
  double x[N], y[N], p[4] = {0}, xi[2] = {0}, yi[3] = {0};
  int16_t nIndep = 0, nDep = 0, nParams = 0;
  ModelFunction gauss = Get_Func("Gauss", &nIndep, &nDep, &nParams, NULL);
  fmfit_model model = {NULL, NULL, NULL, 1, 4, 1};
  fmfit_data data = {N, x, y, NULL};
  fmfit_output out = {p, NULL, NULL, NULL, NULL, NULL, NULL};
  fmfit_summary summary;
  int i;
  if (gauss == NULL) return 1;
  model.function = gauss;
  for (i = 0; i < N; ++i) {
    xi[1] = x[i] = -1.0 + 0.25 * i;
    if (gauss(REQ_VALUE, NULL, 4, 0, 0, truth, 0, xi, yi, NULL) != 0) return 1;
    y[i] = yi[1];
  }
  if (fmfit_fit(&model, &data, start, NULL, NULL, &summary, &out) != FMFIT_CONVERGED) return 1;
  for (i = 0; i < 4; ++i)
    if (p[i] - truth[i + 1] > 1e-8 || truth[i + 1] - p[i] > 1e-8) return 1;
  return 0;
}
