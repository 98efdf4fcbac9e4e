// The tolerance of the edge-case tables (the derivative checks have theirs, stated once in
// catalog/derivative_check.h).
//
// Edge-case tables (tests/data/cases) state expected values as decimals: a computed value a
// agrees with an expected e when |a - e| <= kCaseTolerance * |e| (so an expected 0 means exactly
// zero), or within an absolute bound written as "e±tol" in the table. The tolerance allows for a
// different order of operations in the independent calculation, never for another constant.
#ifndef FITMODELS_TESTS_TOLERANCE_H
#define FITMODELS_TESTS_TOLERANCE_H

constexpr double kCaseTolerance = 1e-12;

#endif
