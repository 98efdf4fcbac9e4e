// The sigmoidal models through the public interface.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/model_call.h"

namespace {

constexpr double kLn10 = 2.302585093;
constexpr double M = MISSING_VALUE;
constexpr int U = kNeutralErrno;                          // errno untouched
const double kAny = std::numeric_limits<double>::quiet_NaN();  // written, any value
const int V = REQ_VALUE, D = REQ_DERIV;

// One call and everything it must leave: rc, errno, y[1], and exactly deriv[1..d.size()].
struct Case {
  const char *why;
  const char *name;
  std::vector<double> p;
  double x;
  int32_t req;
  int rc, err;
  double y;
  std::vector<double> d;
  int errno_in = U;
  int n = -1;
};

const double e13 = std::exp((1.3 - 0.9) / 0.6), s13 = 1 / (e13 + 1);
const double h = (1 - 0.5) * kLn10 / 2;  // (1 - 1/(e + 1)) ln10/(e + 1) at e = 1
const double db1 = std::exp((1.5 - 1.0) / 0.7), db2 = std::exp((1.5 - 2.5) / 1.3);
const double l5 = std::pow(std::pow(1.2 / 1.8, 1.7) + 1, -0.8);
const std::vector<double> B = {3, 1, 0, 1}, B1 = {3, 1, 0.5}, R1 = {1, 3, 0.5, 2},
                          C2 = {4, 2, 0, 0, 0.3}, DB = {0.5, 2, 0.25, 0, 0, 1, 1},
                          LG = {3, 1, 2, 1.5}, L5 = {0.5, 3, 1, 2, 0.8};

const Case kCases[] = {
    // Boltzman: the formula; t = 665 still evaluated, beyond it the p2 plateau (errno 0); far
    // left the formula reaches p1; a stale error takes the plateau; the guards.
    {"formula", "Boltzman", {2.5, -0.7, 0.9, 0.6}, 1.3, V, 0, U, 3.2 / (e13 + 1) + -0.7, {}},
    {"formula", "Boltzman", {2.5, -0.7, 0.9, 0.6}, 1.3, D, 0, U, 3.2 / (e13 + 1) + -0.7,
     {s13, 1 - s13, 3.2 * s13 * (1 - s13) / 0.6, 3.2 * s13 * (1 - s13) / 0.6 * ((1.3 - 0.9) / 0.6)}},
    {"t = 665", "Boltzman", {1e300, 0, 0, 1}, 665, V, 0, U, 1e300 / (std::exp(665.0) + 1), {}},
    {"t > 665", "Boltzman", {1e300, 0, 0, 1}, 665.0001, V, 0, 0, 0, {}},
    {"t > 665", "Boltzman", {1e300, 0, 0, 1}, 665.0001, D, 0, 0, 0, {0, 1, 0, 0}},
    {"far left", "Boltzman", B, -1000, V, 0, U, 3, {}},
    {"far left", "Boltzman", B, -1000, D, 0, U, 3, {1, 0, 0, 0}},
    {"stale 33", "Boltzman", B, 0.1, V, 0, 0, 1, {}, 33},
    {"stale 34", "Boltzman", B, 0.1, D, 0, 0, 1, {0, 1, 0, 0}, 34},
    {"p4 = 0", "Boltzman", {3, 1, 0, 0}, 0.5, V, 1, 0, M, {}},
    {"|p4| < 1e-18", "Boltzman", {3, 1, 0, 1e-19}, 0.5, D, 1, 0, M, {}},
    {"|p4| < 1e-18", "Boltzman", {3, 1, 0, 1e-19}, 0.5, V, 0, 0, 1, {}},
    {"n = 3", "Boltzman", B, 0.5, V, 1, 0, M, {}, U, 3},
    {"n = 3", "Boltzman", B, 0, D, 1, 0, M, {}, U, 3},
    // Boltzman1 (10^(p3 - x)) and Competition1 (10^(x - p3)): overflow is the p2 plateau
    // (errno 0), underflow computes p1 (errno untouched); the value request reads 34 or 33,
    // the derivative request only 34; the value request needs three parameters.
    {"overflow", "Boltzman1", B1, -400, V, 0, 0, 1, {}},
    {"overflow", "Boltzman1", B1, -400, D, 0, 0, 1, {0, 1, 0}},
    {"underflow", "Boltzman1", B1, 400, V, 0, U, 3, {}},
    {"underflow", "Boltzman1", B1, 400, D, 0, U, 3, {1, 0, 0}},
    {"midpoint", "Boltzman1", B1, 0.5, D, 0, U, 2, {0.5, 0.5, 2 * 0.25 * -kLn10}},
    {"stale 33", "Boltzman1", B1, 0.5, V, 0, 0, 1, {}, 33},
    {"stale 33", "Boltzman1", B1, 0.5, D, 0, 33, 2, {0.5, 0.5, 2 * 0.25 * -kLn10}, 33},
    {"stale 34", "Boltzman1", B1, 0.5, D, 0, 0, 1, {0, 1, 0}, 34},
    {"n = 2", "Boltzman1", B1, 0.5, V, 1, 0, M, {}, U, 2},
    {"n = 0", "Boltzman1", B1, 0.5, D, 1, 0, M, {}, U, 0},
    {"overflow", "Competition1", B1, 400, V, 0, 0, 1, {}},
    {"overflow", "Competition1", B1, 400, D, 0, 0, 1, {0, 1, 0}},
    {"underflow", "Competition1", B1, -400, V, 0, U, 3, {}},
    {"underflow", "Competition1", B1, -400, D, 0, U, 3, {1, 0, 0}},
    {"midpoint", "Competition1", B1, 0.5, D, 0, U, 2, {0.5, 0.5, 2 * 0.25 * kLn10}},
    {"stale 34", "Competition1", B1, 0.5, V, 0, 0, 1, {}, 34},
    {"stale 33", "Competition1", B1, 0.5, D, 0, 33, 2, {0.5, 0.5, 2 * 0.25 * kLn10}, 33},
    {"n = 2", "Competition1", B1, 0.5, V, 1, 0, M, {}, U, 2},
    // Response1: (p3 - x) p4 overflowing is the bottom p1, underflowing computes the top p2.
    {"overflow", "Response1", R1, -199.5, V, 0, 0, 1, {}},
    {"overflow", "Response1", R1, -199.5, D, 0, 0, 1, {1, 0, 0, 0}},
    {"underflow", "Response1", R1, 200.5, V, 0, U, 3, {}},
    {"underflow", "Response1", R1, 200.5, D, 0, U, 3, {0, 1, 0, 0}},
    {"midpoint", "Response1", R1, 0.5, D, 0, U, 2, {0.5, 0.5, 2 * 0.25 * 2 * -kLn10, 0}},
    {"stale 33", "Response1", R1, 0.5, V, 0, 0, 1, {}, 33},
    {"stale 33", "Response1", R1, 0.5, D, 0, 33, 2, {0.5, 0.5, 2 * 0.25 * 2 * -kLn10, 0}, 33},
    {"stale 34", "Response1", R1, 0.5, D, 0, 0, 1, {1, 0, 0, 0}, 34},
    {"p1 = p2", "Response1", {3, 3, 0.5, 2}, 0.5, V, 1, 0, M, {}},
    {"p1 = p2", "Response1", {3, 3, 0.5, 2}, 0.5, D, 0, U, 3, {0.5, 0.5, 0, 0}},
    {"p1 > p2", "Response1", {4, 3, 0.5, 2}, 0.5, V, 1, 0, M, {}},
    {"NaN p1", "Response1", {kAny, 3, 0.5, 2}, 0.5, V, 0, U, kAny, {}},
    {"p4 = 0", "Response1", {1, 3, 0.5, 0}, 0.5, V, 1, 0, M, {}},
    {"|p4| < 1e-18", "Response1", {1, 3, 0.5, 1e-19}, 0.5, D, 1, 0, M, {}},
    {"n = 3", "Response1", R1, 0.5, V, 1, 0, M, {}, U, 3},
    // Competition2: a site whose power overflows is fully displaced and the other goes on
    // (errno 0); the plateau p2 only when both overflow; both underflowing compute p1.
    {"x = p3 = p4", "Competition2", C2, 0, D, 0, U, 3, {0.5, 0.5, 2 * 0.3 * h, 2 * (1 - 0.3) * h, 0}},
    {"site 1 over", "Competition2", {4, 2, -400, 0, 0.3}, 0, V, 0, 0, (1 - 0.3) / 2 * 2 + 2, {}},
    {"site 1 over", "Competition2", {4, 2, -400, 0, 0.3}, 0, D, 0, 0, (1 - 0.3) / 2 * 2 + 2,
     {(1 - 0.3) / 2, 1 - (1 - 0.3) / 2, 0, 2 * (1 - 0.3) * h, -1}},
    {"site 2 over", "Competition2", {4, 2, 0, -400, 0.3}, 0, V, 0, 0, 0.3 / 2 * 2 + 2, {}},
    {"site 2 over", "Competition2", {4, 2, 0, -400, 0.3}, 0, D, 0, 0, 0.3 / 2 * 2 + 2,
     {0.15, 0.85, 2 * 0.3 * h, 0, 1}},
    {"both over", "Competition2", C2, 1000, V, 0, 0, 2, {}},
    {"both over", "Competition2", C2, 1000, D, 0, 0, 2, {0, 1, 0, 0, 0}},
    {"both under", "Competition2", C2, -1000, V, 0, U, 4, {}},
    {"both under", "Competition2", C2, -1000, D, 0, U, 4, {1, 0, 0, 0, 0}},
    {"stale 33", "Competition2", C2, 0, V, 0, 0, 2, {}, 33},
    {"stale 34", "Competition2", C2, 0, D, 0, 0, 2, {0, 1, 0, 0, 0}, 34},
    {"stale 33", "Competition2", C2, 0, D, 0, 33, 3, {0.5, 0.5, 2 * 0.3 * h, 2 * (1 - 0.3) * h, 0}, 33},
    {"n = 4", "Competition2", C2, 0, V, 1, 0, M, {}, U, 4},
    {"n = 4", "Competition2", C2, 0, D, 1, 0, M, {}, U, 4},
    // DoubleBoltzmann: either exponential overflowing fails (d1 = 1 stays); both tending to 0
    // compute p1 + p2. Just below the overflow, where (E1 - 1) p2 p3 and
    // E1^2 both overflow, the slope d4 is its limit 0 (as at 680, where only E1^2 does).
    {"formula", "DoubleBoltzmann", {0.3, 2, 0.4, 1, 2.5, 0.7, 1.3}, 1.5, V, 0, U,
     ((1 - 0.4) / (db2 + 1) + 0.4 / (db1 + 1)) * 2 + 0.3, {}},
    {"e1 over", "DoubleBoltzmann", DB, 800, V, 1, 0, M, {}},
    {"e1 over", "DoubleBoltzmann", DB, 800, D, 1, 0, M, {1}},
    {"e2 over", "DoubleBoltzmann", {0.5, 2, 0.25, 0, 0, -1, 1}, 800, D, 1, 0, M, {1}},
    {"under", "DoubleBoltzmann", DB, -800, V, 0, U, 2.5, {}},
    {"under", "DoubleBoltzmann", DB, -800, D, 0, U, 2.5, {1, 1, 0, 0, 0, 0, 0}},
    {"stale 34", "DoubleBoltzmann", DB, 0, V, 1, 0, M, {}, 34},
    {"stale 33", "DoubleBoltzmann", DB, 0, D, 1, 0, M, {1}, 33},
    {"near overflow", "DoubleBoltzmann", {0, 1e10, 0.5, 0, 300, 1, 1}, 700, D, 0, U, kAny,
     {1, kAny, kAny, 0, kAny, 0, kAny}},
    {"near overflow", "DoubleBoltzmann", {0, 1e10, 0.5, 0, 300, 1, 1}, 680, D, 0, U, kAny,
     {1, kAny, kAny, 0, kAny, 0, kAny}},
    // Logistic: x = 0 gives p1 and (1, 0, 0, 0); the power underflowing computes p1,
    // overflowing (or its pole at x = 0, p4 < 0) is the p2 plateau; stale 34 the plateau,
    // stale 33 a failure; x < 0 fails, and the derivative guards write four MISSING_VALUEs.
    {"x = 0", "Logistic", LG, 0, V, 0, U, 3, {}},
    {"x = 0", "Logistic", LG, 0, D, 0, U, 3, {1, 0, 0, 0}},
    {"underflow", "Logistic", LG, 1e-200, V, 0, U, 3, {}},
    {"underflow", "Logistic", LG, 1e-200, D, 0, U, 3, {1, 0, 0, 0}},
    {"overflow", "Logistic", LG, 1e250, V, 0, 0, 1, {}},
    {"overflow", "Logistic", LG, 1e250, D, 0, 0, 1, {0, 1, 0, 0}},
    {"pole", "Logistic", {3, 1, 2, -1.5}, 0, V, 0, 0, 1, {}},
    {"pole", "Logistic", {3, 1, 2, -1.5}, 0, D, 0, 0, 1, {0, 1, 0, 0}},
    {"stale 34", "Logistic", LG, 2, V, 0, 0, 1, {}, 34},
    {"stale 34", "Logistic", LG, 2, D, 0, 0, 1, {0, 1, 0, 0}, 34},
    {"stale 33", "Logistic", LG, 2, V, 1, 0, M, {}, 33},
    {"stale 33", "Logistic", LG, 2, D, 1, 0, M, {M, M, M, M}, 33},
    {"x < 0", "Logistic", LG, -1, V, 1, 0, M, {}},
    {"x < 0", "Logistic", LG, -1, D, 1, 0, M, {M, M, M, M}},
    {"x/p3 > 0", "Logistic", {3, 1, -2, 1.5}, -1, V, 0, U, kAny, {}},
    {"p3 < 0", "Logistic", {3, 1, -2, 1.5}, 1, D, 1, 0, M, {M, M, M, M}},
    {"p3 = 0", "Logistic", {3, 1, 0, 1.5}, 1, V, 1, 0, M, {}},
    {"p3 = 0", "Logistic", {3, 1, 0, 1.5}, 1, D, 1, 0, M, {M, M, M, M}},
    {"p4 = 0", "Logistic", {3, 1, 2, 0}, 1, V, 0, U, 2, {}},
    {"p4 = 0", "Logistic", {3, 1, 2, 0}, 1, D, 1, 0, M, {M, M, M, M}},
    {"n = 3", "Logistic", LG, 2, V, 1, 0, M, {}, U, 3},
    {"n = 3", "Logistic", LG, 2, D, 1, 0, M, {}, U, 3},
    // Logistic5: the formula; the power underflowing computes p2; an
    // overflow, a domain error or a stale error fails (derivatives already written stay); at
    // x = 0 the value is the limit p1 but the derivative terms are 0 times infinity: failure.
    {"formula", "Logistic5", {0.4, 3, 1.2, 1.7, 0.8}, 1.8, V, 0, U, l5 * (3 - 0.4) + 0.4, {}},
    {"underflow", "Logistic5", L5, 1e200, V, 0, U, 3, {}},
    {"underflow", "Logistic5", L5, 1e200, D, 0, U, 3, {0, 1, 0, kAny, 0}},
    {"overflow", "Logistic5", L5, 1e-200, V, 1, 0, M, {}},
    {"overflow", "Logistic5", L5, 1e-200, D, 1, 0, M, {kAny, kAny, kAny, kAny, kAny}},
    {"domain", "Logistic5", {0.5, 3, -1, 1.5, 0.8}, 2, V, 1, 0, M, {}},
    {"stale 34", "Logistic5", L5, 2, V, 1, 0, M, {}, 34},
    {"stale 33", "Logistic5", L5, 2, D, 1, 0, M, {kAny, kAny, kAny, kAny, kAny}, 33},
    {"x = 0", "Logistic5", L5, 0, V, 0, U, 0.5, {}},
    {"x = 0", "Logistic5", L5, 0, D, 1, 0, M, {1, 0, kAny, kAny, kAny}},
};

TEST(Sigmoids, CasesTable) {
  for (const Case &c : kCases) {
    const std::string what = std::string(c.name) + " " + c.why + (c.req == V ? " value" : " deriv");
    Outcome r = Call(c.name).params(c.p).x(c.x).errno_in(c.errno_in).nparams(c.n).run(c.req);
    EXPECT_EQ(r.rc, c.rc) << what;
    EXPECT_EQ(r.err, c.err) << what;
    if (!std::isnan(c.y)) {
      EXPECT_EQ(r.y[1], c.y) << what;
    }
    EXPECT_TRUE(r.y_written(1) && !r.y_written(2)) << what;
    for (std::size_t i = 0; i < c.d.size(); ++i) {
      EXPECT_TRUE(r.d_written(int(i) + 1)) << what << " d" << i + 1;
      if (!std::isnan(c.d[i])) {
        EXPECT_EQ(r.d[i + 1], c.d[i]) << what << " d" << i + 1;
      } else if (c.rc == 0) {
        EXPECT_TRUE(std::isfinite(r.d[i + 1])) << what << " d" << i + 1;
      }
    }
    EXPECT_FALSE(r.d_written(int(c.d.size()) + 1)) << what;
  }
}

// Request words: bit 0 returns 1, neither bit returns 0, bit 1 is the value alone (even with
// bit 2), bit 2 alone the derivatives with y; only Competition2 answers REQ_QUERY, first.
TEST(Sigmoids, RequestWords) {
  const std::pair<const char *, std::vector<double>> models[] = {
      {"Boltzman", {2.5, -0.7, 0.9, 0.6}}, {"Boltzman1", {2, -1, 0.5}},
      {"Response1", {-0.5, 2.5, 0.8, 1.7}}, {"Competition1", {3, 0.5, 0.6}},
      {"Competition2", {2, -1, 0.2, 1.1, 0.35}}, {"DoubleBoltzmann", {0.3, 2, 0.4, 1, 2.5, 0.7, 1.3}},
      {"Logistic", {3, 0.5, 1.5, 2.2}}, {"Logistic5", {0.4, 3, 1.2, 1.7, 0.8}}};
  for (const auto &[name, p] : models) {
    const Call c = Call(name).params(p).x(0.9);
    const bool query = std::string(name) == "Competition2";
    for (int32_t req : {1, 3, 5, 7, 0, 16, 0x100, 8, 9, 10}) {
      Outcome r = c.run(req);
      if (query && (req & 8)) {
        EXPECT_EQ(r.rc, QUERY_REPLY_NONE) << req;
        EXPECT_EQ(r.query_word(), 0) << req;
        EXPECT_TRUE(!r.y_written(1) && r.no_deriv_written()) << req;
      } else if (req != 10) {
        EXPECT_EQ(r.rc, req & 1) << name << " " << req;
        EXPECT_TRUE(r.nothing_written()) << name << " " << req;
      }
    }
    Outcome v = c.run(REQ_VALUE), both = c.run(REQ_VALUE | REQ_DERIV), d = c.run(REQ_DERIV);
    EXPECT_TRUE(same_bits(both.y[1], v.y[1]) && both.no_deriv_written()) << name;
    if (!query) {
      EXPECT_TRUE(same_bits(c.run(REQ_VALUE | REQ_QUERY).y[1], v.y[1])) << name;
    }
    EXPECT_EQ(d.rc, 0) << name;
    EXPECT_NEAR(d.y[1], v.y[1], 1e-14) << name;
    EXPECT_TRUE(d.d_written(int(p.size())) && !d.d_written(int(p.size()) + 1)) << name;
  }
}

}  // namespace
