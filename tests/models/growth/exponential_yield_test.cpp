// Exponential growth and yield curves through the public interface.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/model_call.h"

namespace {

constexpr double M = MISSING_VALUE;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t V = REQ_VALUE, D = REQ_DERIV;

struct Generic {
  const char *name;
  std::vector<double> p;
  double x;
};

const Generic kDerivModels[] = {{"BoxLucas2", {2.1, 0.7}, 1.3},
                                {"ExpLinear", {2.5, 1.3, 0.4, -0.6}, 1.7},
                                {"MnMolecular", {3.1, 0.6, 0.9}, 2.3},
                                {"MnMolecular1", {2.2, 1.6, 0.8}, 1.4}};

TEST(ExponentialYield, RequestWords) {
  for (const auto &m : kDerivModels) {
    const Call c = Call(m.name).params(m.p).x(m.x);
    for (int32_t req : {1, 3, 5, 7, 15, 0, 8, 0x100}) {
      Outcome r = c.run(req);
      EXPECT_EQ(r.rc, req & 1) << m.name << " request " << req;
      EXPECT_TRUE(r.nothing_written()) << m.name << " request " << req;
    }
    Outcome v = c.run(V);
    EXPECT_TRUE(v.no_deriv_written()) << m.name;
    Outcome d = c.run(D);  // y too, without bit 1
    EXPECT_NEAR(d.y[1], v.y[1], 1e-14 * (1 + std::fabs(v.y[1]))) << m.name;
    EXPECT_FALSE(d.d_written(static_cast<int>(m.p.size()) + 1)) << m.name;
    Outcome both = c.run(0x7FFF0000 | V | D);  // only the low bits are examined
    EXPECT_TRUE(same_bits(both.y[1], d.y[1])) << m.name;
  }
  const Call reich = Call("Reich").params({2.2, 0.3, -1.4, 1.9}).x(1.3);
  for (int32_t req : {1, 3, 7, 0, 4, 8, 12}) {
    Outcome r = reich.run(req);
    EXPECT_EQ(r.rc, req & 1) << "Reich request " << req;
    EXPECT_TRUE(r.nothing_written()) << "Reich request " << req;
  }
  Outcome vd = reich.run(V | D);
  EXPECT_TRUE(vd.y_written(1) && vd.no_deriv_written());
}

TEST(ExponentialYield, ValuesFollowTheirFormulas) {
  const double x = 1.3;
  auto value = [x](const char *name, std::vector<double> p) {
    return Call(name).params(std::move(p)).x(x).run(V).y[1];
  };
  EXPECT_TRUE(same_bits(value("BoxLucas2", {2.1, 0.7}),
                        (std::exp(-(x * 0.7)) - std::exp(-(2.1 * x))) * 2.1 / (2.1 - 0.7)));
  EXPECT_TRUE(same_bits(value("ExpLinear", {2.5, 1.3, 0.4, -0.6}),
                        std::exp(-(x / 1.3)) * 2.5 + 0.4 + -0.6 * x));
  EXPECT_TRUE(same_bits(value("MnMolecular", {3.1, 0.6, 0.9}),
                        (1.0 - std::exp(-((x - 0.6) * 0.9))) * 3.1));
  EXPECT_TRUE(same_bits(value("MnMolecular1", {2.2, 1.6, 0.8}), 2.2 - std::exp(-(0.8 * x)) * 1.6));
  EXPECT_TRUE(same_bits(value("Reich", {2.2, 0.3, -1.4, 1.9}),
                        std::exp(-(1.9 * x)) * -1.4 + std::exp(-(0.3 * x)) * 2.2));
}

// Exact outcomes: failures (which exit, errno reset or left, deriv entries written), the
// edge points, and far-decayed exponentials (exactly 0, carried through the formula, never a
// failure). d lists every deriv entry written, in order.
struct Expect {
  const char *name;
  std::vector<double> p;
  double x;
  int errno_in;
  int32_t req;
  int rc, err;
  double y;
  std::vector<double> d;
};

const double e5 = std::exp(-0.5);
const Expect kCases[] = {
    // p1 = p2 fails on both requests; p1 = 0 gives y = 0.
    {"BoxLucas2", {0.8, 0.8}, 1.0, 5, V, 1, 0, M, {}},
    {"BoxLucas2", {0.8, 0.8}, 1.0, 5, D, 1, 0, M, {}},
    {"BoxLucas2", {0.0, 0.7}, 1.3, 5, V, 0, 5, 0.0, {}},
    {"BoxLucas2", {0.0, 0.7}, 1.3, 5, D, 0, 5, 0.0, {(std::exp(-0.91) - 1.0) / -0.7, 0.0}},
    {"BoxLucas2", {0.0, 0.7}, -2000, 5, V, 1, 0, M, {}},  // e2 overflows, p1 = 0 or not
    {"BoxLucas2", {1.0, 2.0}, -1000, 5, V, 1, 0, M, {}},
    {"BoxLucas2", {1.0, -1000.0}, 1.0, 5, D, 1, 0, M, {M, M}},
    {"BoxLucas2", {2.1, 0.7}, 1.3, 33, D, 1, 0, M, {M, M}},
    {"BoxLucas2", {500.0, 0.5}, 1.0, 5, V, 0, 5, e5 * 500.0 / 499.5, {}},  // e1 = 0
    {"BoxLucas2", {500.0, 0.5}, 1.0, 5, D, 0, 5, 500.0 * e5 / 499.5,
     {(e5 - 500.0 * e5 / 499.5) / 499.5, (500.0 * e5 / 499.5 - 500.0 * e5) / 499.5}},
    {"BoxLucas2", {2.0, 1.0}, 400.0, 5, D, 0, 5, 0.0, {0.0, 0.0}},  // both 0
    // p2 = 0 is the straight line, without errno test; the derivative request never tests.
    {"ExpLinear", {2.5, 0.0, 0.4, -0.6}, -3.0, 34, V, 0, 34, -0.6 * -3.0 + 0.4, {}},
    {"ExpLinear", {2.5, 0.0, 0.4, -0.6}, -3.0, 34, D, 0, 34, -0.6 * -3.0 + 0.4, {0, 0, 1, -3}},
    {"ExpLinear", {2.5, 1.3, 0.4, -0.6}, 1.7, 34, V, 1, 0, M, {}},
    {"ExpLinear", {2.5, 1.0, 0.4, -0.6}, -1000, 5, V, 1, 0, M, {}},
    {"ExpLinear", {2.5, 1.0, 0.4, -0.6}, -1000, 5, D, 0, 34, kInf, {kInf, -kInf, 1, -1000}},
    {"ExpLinear", {2.5, 1.0, 0.4, -0.6}, 1000, 5, V, 0, 5, -0.6 * 1000 + 0.4, {}},
    {"ExpLinear", {2.5, 1.0, 0.4, -0.6}, 1000, 34, D, 0, 34, -0.6 * 1000 + 0.4, {0, 0, 1, 1000}},
    // x = p2 and p1 = 0 compute no exponential; the derivative request tests 34 only.
    {"MnMolecular", {3.1, 0.6, 0.9}, 0.6, 34, V, 0, 34, 0.0, {}},
    {"MnMolecular", {3.1, 0.6, 0.9}, 0.6, 34, D, 0, 34, 0.0, {0, -(0.9 * 3.1), 0}},
    {"MnMolecular", {0.0, 0.6, 1.0}, -1000, 34, V, 0, 34, 0.0, {}},
    {"MnMolecular", {0.0, 0.6, 1.0}, -1000, 5, D, 1, 0, M, {M, M, M}},
    {"MnMolecular", {3.1, 0.6, 1.0}, -1000, 5, V, 1, 0, M, {}},
    {"MnMolecular", {3.1, 0.6, 1.0}, -1000, 5, D, 1, 0, M, {M, M, M}},
    {"MnMolecular", {3.1, 0.6, 0.9}, 2.3, 33, V, 1, 0, M, {}},
    {"MnMolecular", {3.1, 0.6, 0.9}, 2.3, 34, D, 1, 0, M, {M, M, M}},
    {"MnMolecular", {3.1, 0.6, 1.0}, 500.6, 5, V, 0, 5, 3.1, {}},
    {"MnMolecular", {3.1, 0.6, 1.0}, 500.6, 33, D, 0, 33, 3.1, {1, 0, 0}},
    // x = 0 gives p1 - p2 and (1, -1, 0); a failing derivative request keeps deriv[1] = 1.
    {"MnMolecular1", {2.2, 1.6, 0.8}, 0.0, 5, V | D, 0, 5, 2.2 - 1.6, {1, -1, 0}},
    {"MnMolecular1", {2.2, 1.6, 1.0}, -1000, 5, V, 1, 0, M, {}},
    {"MnMolecular1", {2.2, 1.6, 1.0}, -1000, 5, D, 1, 0, M, {1, M, M}},
    {"MnMolecular1", {2.2, 1.6, 0.8}, 1.4, 33, D, 1, 0, M, {1, M, M}},
    {"MnMolecular1", {2.2, 1.6, 1.0}, 400.0, 5, V, 0, 5, 2.2, {}},
    {"MnMolecular1", {2.2, 1.6, 1.0}, 400.0, 5, D, 0, 5, 2.2, {1, 0, 0}},
    // Either exponential overflowing, or a stale errno, fails.
    {"Reich", {1.0, 1.0, 1.0, 0.0}, -1000, 5, V, 1, 0, M, {}},
    {"Reich", {1.0, 0.0, 1.0, 1.0}, -1000, 5, V, 1, 0, M, {}},
    {"Reich", {1.0, 0.5, 1.0, 0.2}, 1.0, 34, V, 1, 0, M, {}},
    {"Reich", {2.2, 400.0, -1.4, 0.5}, 1.0, 5, V, 0, 5, e5 * -1.4 + 0.0, {}},
};

bool agrees(double got, double want) {
  return got == want || std::fabs(got - want) <= 1e-14 * (1.0 + std::fabs(want));
}

TEST(ExponentialYield, ExactOutcomes) {
  for (const auto &c : kCases) {
    Outcome r = Call(c.name).params(c.p).x(c.x).errno_in(c.errno_in).run(c.req);
    const std::string at = std::string(c.name) + " x=" + std::to_string(c.x) + " errno_in=" +
                           std::to_string(c.errno_in) + " request " + std::to_string(c.req);
    EXPECT_EQ(r.rc, c.rc) << at;
    EXPECT_EQ(r.err, c.err) << at;
    EXPECT_TRUE(agrees(r.y[1], c.y)) << at << ": y " << r.y[1];
    EXPECT_FALSE(r.y_written(2)) << at;
    const int n = static_cast<int>(c.d.size());
    for (int i = 1; i <= n; ++i) EXPECT_TRUE(agrees(r.d[i], c.d[i - 1])) << at << ": d" << i;
    EXPECT_FALSE(r.d_written(n + 1)) << at;
    if (n == 0) {
      EXPECT_TRUE(r.no_deriv_written()) << at;
    }
  }
}

}  // namespace
