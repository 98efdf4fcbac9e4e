// The frame shared by the value-only multi-peak models (models/peaks/*.cpp): bit 0 returns 0;
// with bit 1 clear the call returns bit 2 of the request and writes nothing; nParams <= 0 is a
// standard failure; then y[1] = p1, the shared baseline, and the peaks in turn, peak j (from 0)
// reading the block params[2 + block*j ..]. peak(b, v, skip), with b = &params[1 + block*j] so
// that b[1] is the block's first parameter, computes the peak's value into v and returns false
// when the call must fail; it returns true with *skip set for a switched-off peak, which
// contributes nothing and whose y[2 + j] is not written. A failing peak ends the call with the
// standard failure (the y[2 + j] of earlier peaks stay).
#ifndef FITMODELS_MODELS_PEAKS_VALUE_ONLY_SUM_H
#define FITMODELS_MODELS_PEAKS_VALUE_ONLY_SUM_H

#include "frame/contract.h"

namespace fm {

template <class Peak>
int32_t value_only_sum(int32_t request, int16_t nParams, const double *params, double *y,
                       int block, Peak peak) {
  if (fm::wants_reserved(request)) return 0;
  if (!fm::wants_value(request)) return (request & REQ_DERIV) >> 2;
  if (nParams <= 0) return fm::standard_failure(y);
  const int k = (nParams - 1) / block;
  double sum = params[1];
  y[1] = sum;
  for (int j = 0; j < k; ++j) {
    double v = 0.0;
    bool skip = false;
    if (!peak(&params[1 + block * j], &v, &skip)) return fm::standard_failure(y);
    if (skip) continue;
    y[2 + j] = v;
    sum += v;
  }
  y[1] = sum;
  return 0;
}

}  // namespace fm

#endif
