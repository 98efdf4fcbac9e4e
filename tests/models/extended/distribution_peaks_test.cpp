// The moment mask of the inverse-polynomial peak: what REQ_QUERY stores in deriv[0], which the
// edge-case rows cannot express.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "support/model_call.h"

namespace {

using V = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Queries InvsPoly with a first peak whose coefficients are a1, a2, a3 (after baseline 0.5 and
// xc 0.3, w 0.8, A 2).
Outcome query(double a1, double a2, double a3, V extra = {}) {
  V p{0.5, 0.3, 0.8, 2.0, a1, a2, a3};
  p.insert(p.end(), extra.begin(), extra.end());
  return Call("InvsPoly").params(p).x(0.7).run(REQ_QUERY);
}

TEST(InversePolyQuery, MaskFollowsTheHighestNonZeroCoefficient) {
  // The peak decays as u^-degree, u ~ x^2: moments below 2*degree - 1 are finite.
  const struct { double a1, a2, a3; int32_t mask; } cases[] = {
      {0.0, 0.0, 1e-9, 31}, {0.0, 0.0, -1e-9, 31}, {0.0, 0.5, 0.0, 7},  {2.0, 0.0, 0.0, 1},
      {0.0, 0.0, 0.0, 0},   {0.0, 0.0, 1e-10, 0},  {0.3, 0.2, 0.1, 31}, {1e-11, 0.0, 0.0, 0},
      {kNaN, 0.0, 0.0, 0},  {0.0, 0.5, kNaN, 7},   {kNaN, kNaN, kNaN, 0}};
  for (const auto &c : cases) {
    const Outcome r = query(c.a1, c.a2, c.a3);
    EXPECT_EQ(r.rc, QUERY_REPLY_MASK);
    EXPECT_EQ(r.query_word(), c.mask) << c.a1 << " " << c.a2 << " " << c.a3;
    EXPECT_EQ(r.err, kNeutralErrno);
    EXPECT_TRUE(r.no_deriv_written());
  }
}

TEST(InversePolyQuery, OnlyTheFirstPeakCounts) {
  const Outcome r = query(0.0, 0.0, 0.0, {1.2, 0.5, -1.0, 0.2, 0.0, 0.4});
  EXPECT_EQ(r.rc, QUERY_REPLY_MASK);
  EXPECT_EQ(r.query_word(), 0);
}

TEST(InversePolyQuery, NoWholeFirstPeakGivesAnEmptyMask) {
  // The coefficients of the first peak lie beyond nParams: none of them is read.
  for (int n = 0; n < 7; ++n) {
    const V p(static_cast<size_t>(n), 1.0);
    const Outcome r = Call("InvsPoly").params(p).x(0.7).run(REQ_QUERY);
    EXPECT_EQ(r.rc, QUERY_REPLY_MASK) << n;
    EXPECT_EQ(r.query_word(), 0) << n;
    EXPECT_TRUE(r.no_deriv_written()) << n;
  }
}

}  // namespace
