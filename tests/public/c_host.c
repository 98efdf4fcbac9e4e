/* A host written in C: the public header compiles as C and a model is called through it. */
#include "fitmodels.h"

int c_host_evaluates_line(void) {
  int16_t nIndep = 0, nDep = 0, nParams = 0, reserved = -1;
  ModelFunction f = Get_Func("LINE", &nIndep, &nDep, &nParams, &reserved);
  double p[3] = {0.0, 1.5, 2.0}, x[2] = {0.0, 3.0}, y[2] = {0.0, 0.0}, d[3] = {0.0, 0.0, 0.0};
  if (f == 0 || f != Polynomial1 || nIndep != 1 || nDep != 1 || nParams != 2 || reserved != 0)
    return 0;
  if (f(REQ_VALUE | REQ_DERIV, 0, nParams, 0, 0, p, 0, x, y, d) != 0) return 0;
  return y[1] == 7.5 && d[1] == 1.0 && d[2] == 3.0 && MISSING_VALUE < 0.0 &&
         get_funx_list() == 0;
}
