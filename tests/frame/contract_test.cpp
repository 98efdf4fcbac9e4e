// The shared numerical routines and failure exits at their boundaries.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "frame/contract.h"

namespace {

constexpr int kPreset = 5;

uint64_t bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

TEST(Contract, MissingValueBitPattern) {
  EXPECT_EQ(bits(MISSING_VALUE), 0x81AA74FE1C132C0EULL);
  EXPECT_EQ(bits(fm::kMissing), 0x81AA74FE1C132C0EULL);
}

TEST(Contract, CheckedExpBoundary) {
  errno = kPreset;
  EXPECT_EQ(fm::checked_exp(-300.0), std::exp(-300.0));
  EXPECT_GT(fm::checked_exp(-300.0), 5e-131);
  EXPECT_EQ(fm::checked_exp(-300.0000001), 0.0);
  EXPECT_EQ(fm::checked_exp(-1e300), 0.0);
  EXPECT_TRUE(std::isnan(fm::checked_exp(NAN)));
  EXPECT_EQ(errno, kPreset);
  EXPECT_EQ(fm::checked_exp(300.0), std::exp(300.0));
  EXPECT_EQ(errno, kPreset);
  EXPECT_TRUE(std::isinf(fm::checked_exp(800.0)));
  EXPECT_EQ(errno, ERANGE);
}

TEST(Contract, CheckedPowZeroBase) {
  errno = kPreset;
  EXPECT_EQ(fm::checked_pow(0.0, 2.0), 0.0);
  EXPECT_EQ(fm::checked_pow(-0.0, 2.0), 0.0);
  EXPECT_FALSE(std::signbit(fm::checked_pow(-0.0, 3.0)));  // 0.0 without calling pow
  EXPECT_EQ(errno, kPreset);
  volatile double zero = 0.0;  // keeps the compiler from folding the pole away
  EXPECT_TRUE(std::isinf(fm::checked_pow(zero, -1.0)));
  EXPECT_EQ(errno, ERANGE);
  errno = kPreset;
  EXPECT_EQ(fm::checked_pow(0.0, 0.0), 1.0);
  EXPECT_TRUE(std::isnan(fm::checked_pow(NAN, 2.0)));
  EXPECT_EQ(fm::checked_pow(10.0, -400.0), 0.0);
  EXPECT_EQ(errno, kPreset);
}

TEST(Contract, CappedExpBoundaries) {
  errno = kPreset;
  EXPECT_EQ(fm::capped_exp(300.0), std::exp(300.0));
  EXPECT_EQ(fm::capped_exp(300.5), MISSING_VALUE);
  EXPECT_EQ(fm::capped_exp(-301.0), 0.0);
  EXPECT_EQ(fm::capped_exp(-300.0), std::exp(-300.0));
  EXPECT_EQ(errno, kPreset);
}

TEST(Contract, FiniteOrMissing) {
  double v = 1e308;
  fm::finite_or_missing(&v);
  EXPECT_EQ(v, 1e308);
  v = HUGE_VAL;
  fm::finite_or_missing(&v);
  EXPECT_EQ(v, MISSING_VALUE);
  v = -HUGE_VAL;
  fm::finite_or_missing(&v);
  EXPECT_EQ(v, MISSING_VALUE);
  v = NAN;
  fm::finite_or_missing(&v);
  EXPECT_EQ(v, MISSING_VALUE);
  fm::finite_or_missing(nullptr);
}

TEST(Contract, FailureExits) {
  double y[3] = {7, 7, 7};
  double d[4] = {7, 7, 7, 7};
  errno = ERANGE;
  EXPECT_EQ(fm::standard_failure(y), 1);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(y[1], MISSING_VALUE);
  EXPECT_EQ(y[0], 7);
  EXPECT_EQ(y[2], 7);

  y[1] = 7;
  errno = EDOM;
  EXPECT_EQ(fm::guard_failure(y), 1);
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(y[1], MISSING_VALUE);

  errno = kPreset;
  EXPECT_EQ(fm::all_missing_failure(y, d, 2), 1);
  EXPECT_EQ(d[0], 7);
  EXPECT_EQ(d[1], MISSING_VALUE);
  EXPECT_EQ(d[2], MISSING_VALUE);
  EXPECT_EQ(d[3], 7);
  EXPECT_EQ(errno, 0);
}

TEST(Contract, QueryAnswerWritesOnlyFourBytes) {
  double d[2];
  std::memset(d, 0xAB, sizeof d);
  EXPECT_EQ(fm::answer_no_moments(d), QUERY_REPLY_NONE);
  int32_t w;
  std::memcpy(&w, d, 4);
  EXPECT_EQ(w, 0);
  const unsigned char *b = reinterpret_cast<const unsigned char *>(d);
  for (int i = 4; i < 16; ++i) EXPECT_EQ(b[i], 0xAB) << i;
}

}  // namespace
