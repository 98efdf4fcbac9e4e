// Cross with neither request bit passes what the caller left in y[1] through
// finite_or_missing: the one behaviour of the rheology models a case row cannot show, since it
// depends on y[1] holding a non-finite value on entry.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>

#include "fitmodels.h"

namespace {

TEST(Rheology, CrossWithNeitherBitReplacesANonFiniteOutput) {
  const ModelFunction cross = get_funx("Cross");
  ASSERT_NE(cross, nullptr);
  const double p[] = {0.0, 10.0, 1.0, 0.5, 1.5};
  const double x[] = {0.0, 2.0};
  for (double entry : {std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()}) {
    double y[3] = {0.0, entry, 7.0};
    double d[6] = {0.0, 7.0, 7.0, 7.0, 7.0, 7.0};
    errno = 5;
    EXPECT_EQ(cross(0, nullptr, 4, 0, 0, p, 0, x, y, d), 0);
    EXPECT_EQ(y[1], MISSING_VALUE);
    EXPECT_EQ(y[2], 7.0);
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(d[i], 7.0);
    EXPECT_EQ(errno, 5);
  }
  double y[2] = {0.0, 2.5};  // a finite value is left as it is
  double d[5] = {};
  EXPECT_EQ(cross(0, nullptr, 4, 0, 0, p, 0, x, y, d), 0);
  EXPECT_EQ(y[1], 2.5);
}

}  // namespace
