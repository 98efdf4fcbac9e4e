// The one tolerance policy of the derivative checks.
//
// Numeric derivatives are central differences with step h = kRelativeStep * max(1, |p|).
// An analytic derivative a agrees with the numeric one n when
//   |a - n| <= kDerivativeTolerance * (|a| + |n| + |y| + 1)
// where y is the model value at the point: the truncation error of a central difference is
// O(h^2) and its rounding error O(eps * |y| / h), both far below this bound at generic points.
//
// Edge-case tables (tests/data/cases) state expected values as decimals: a computed value a
// agrees with an expected e when |a - e| <= kCaseTolerance * |e| (so an expected 0 means exactly
// zero), or within an absolute bound written as "e±tol" in the table. The tolerance allows for a
// different order of operations in the independent calculation, never for another constant.
#ifndef FITMODELS_TESTS_TOLERANCE_H
#define FITMODELS_TESTS_TOLERANCE_H

#include <algorithm>
#include <cmath>

constexpr double kRelativeStep = 1e-6;
constexpr double kDerivativeTolerance = 1e-6;

constexpr double kCaseTolerance = 1e-12;

inline double difference_step(double p) { return kRelativeStep * std::max(1.0, std::fabs(p)); }

inline bool derivatives_agree(double analytic, double numeric, double y) {
  return std::fabs(analytic - numeric) <=
         kDerivativeTolerance * (std::fabs(analytic) + std::fabs(numeric) + std::fabs(y) + 1.0);
}

#endif
