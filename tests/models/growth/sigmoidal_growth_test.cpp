// Sigmoidal growth curves through the public interface: request shapes, failure exits,
// plateau substitutes and their errno, and the values at the curves' edges.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>

#include "support/model_call.h"

namespace {

struct Generic {
  const char *name;
  bool exclusive;
  std::vector<double> p;
  double x;
};

const Generic kModels[] = {
    {"Richards", false, {2.0, -0.5, 1.2, 0.8}, 1.3},
    {"SRichards1", false, {3.0, 1.0, 0.5, 0.7}, 2.5},
    {"SRichards2", false, {2.5, 1.0, 0.4, 0.9}, 2.2},
    {"SGompertz", false, {4.0, 2.0, 0.8}, 2.7},
    {"SLogistic1", true, {3.0, 1.5, 1.2}, 2.1},
    {"SLogistic2", true, {0.5, 4.0, 0.7}, 1.9},
    {"SLogistic3", true, {5.0, 3.0, 0.6}, 2.4},
    {"SWeibull1", false, {3.0, 0.5, 1.7, 0.8}, 2.0},
    {"SWeibull2", false, {5.0, 1.0, 1.5, 0.4}, 2.3},
};

TEST(SigmoidalGrowth, RequestShapes) {
  for (const auto &m : kModels) {
    const int n = static_cast<int>(m.p.size());
    Call c = Call(m.name).params(m.p).x(m.x);
    for (int32_t req : {1, 3, 5, 7, 9, 15, 0, 8, 16}) {
      Outcome r = c.run(req);
      EXPECT_EQ(r.rc, req & 1) << m.name << " request " << req;
      EXPECT_TRUE(r.nothing_written()) << m.name << " request " << req;
    }
    Outcome v = c.run(REQ_VALUE), d = c.run(REQ_DERIV), both = c.run(REQ_VALUE | REQ_DERIV);
    EXPECT_EQ(v.rc + d.rc + both.rc, 0) << m.name;
    EXPECT_EQ(v.err, kNeutralErrno) << m.name;
    EXPECT_TRUE(v.no_deriv_written() && !v.y_written(2)) << m.name;
    EXPECT_NEAR(d.y[1], v.y[1], 1e-14 * std::fabs(v.y[1])) << m.name;
    for (int i = 1; i <= n; ++i) EXPECT_TRUE(std::isfinite(d.d[i])) << m.name << " d" << i;
    EXPECT_FALSE(d.d_written(n + 1) || d.y_written(2)) << m.name;
    // Both bits: the exclusive forms answer the value alone.
    EXPECT_TRUE(same_bits(both.y[1], m.exclusive ? v.y[1] : d.y[1])) << m.name;
    for (int i = 1; i <= n; ++i)
      EXPECT_TRUE(m.exclusive ? !both.d_written(i) : same_bits(both.d[i], d.d[i])) << m.name;
  }
}

TEST(SigmoidalGrowth, ValuesInTheirStatedOrder) {
  volatile double at = 1.3;  // evaluated at run time, by the same library calls
  const double x = at;
  auto value = [&](const char *name, std::vector<double> p, int32_t req = REQ_VALUE) {
    return Call(name).params(p).x(x).run(req).y[1];
  };
  double e = std::exp(-((1.1 * x + 0.3) / 0.7));  // dividing differs here from p1*X^-p4
  EXPECT_TRUE(same_bits(value("Richards", {2.9, 0.3, 1.1, 0.7}), 2.9 / std::pow(e + 1.0, 0.7)));
  e = std::exp(-((x - 1.2) * 0.9));  // shape above 1: B = A + E
  EXPECT_TRUE(same_bits(value("SRichards1", {2.0, 1.2, 1.6, 0.9}),
                        std::pow(std::pow(2.0, 1.0 - 1.6) + e, 1.0 / (1.0 - 1.6))));
  e = std::exp(0.7 * (-4.0) * x / 4.0);
  EXPECT_TRUE(same_bits(value("SLogistic2", {0.5, 4.0, 0.7}), 4.0 / ((4.0 - 0.5) * e / 0.5 + 1.0)));
  // SWeibull2's two requests write y in two orders, which differ in the last bit here.
  e = std::exp(-std::pow(x * 0.4, 1.5));
  EXPECT_TRUE(same_bits(value("SWeibull2", {3.3, 0.7, 1.5, 0.4}), 3.3 - (3.3 - 0.7) * e));
  EXPECT_TRUE(
      same_bits(value("SWeibull2", {3.3, 0.7, 1.5, 0.4}, REQ_DERIV), (1.0 - e) * 3.3 + e * 0.7));
}

// Exits: not asked, success with errno untouched, standard failure (no derivative written),
// all-missing failure, zero substitute without / with zero derivatives.
enum Exit { kNone, kOk, kFail, kAllMissing, kZero, kZeroDerivs };
constexpr int32_t V = REQ_VALUE, D = REQ_DERIV, VD = REQ_VALUE | REQ_DERIV;

void expect_exit(const Outcome &r, Exit exit, int n, int errno_in, const std::string &what) {
  EXPECT_EQ(r.rc, exit == kFail || exit == kAllMissing ? 1 : 0) << what;
  EXPECT_EQ(r.err, exit == kOk ? errno_in : 0) << what;
  EXPECT_FALSE(r.d_written(n + 1)) << what;
  EXPECT_TRUE(exit != kOk || std::isfinite(r.y[1])) << what;
  EXPECT_TRUE(exit != kFail || (r.y_missing(1) && r.no_deriv_written())) << what;
  if (exit == kAllMissing) {
    EXPECT_TRUE(r.y_missing(1)) << what;
    for (int i = 1; i <= n; ++i) EXPECT_TRUE(r.d_missing(i)) << what << " d" << i;
  }
  if (exit == kZero || exit == kZeroDerivs) {
    EXPECT_TRUE(same_bits(r.y[1], 0.0)) << what;
    for (int i = 1; i <= n; ++i)
      EXPECT_TRUE(exit == kZero ? !r.d_written(i) : same_bits(r.d[i], 0.0)) << what << " d" << i;
  }
}

struct Case {
  const char *name;
  std::vector<double> p;
  double x;
  Exit on_value, on_deriv;
  int errno_in = kNeutralErrno;
};

TEST(SigmoidalGrowth, ExitsAndSubstitutes) {
  const Case cases[] = {
      // Richards: p4 = 0 is a value only, p4 < 0 too; the exponential overflows far below.
      {"Richards", {2, -0.5, 1.2, 0}, 1.3, kOk, kAllMissing},
      {"Richards", {2, -0.5, 1.2, -0.8}, 1.3, kOk, kAllMissing},
      {"Richards", {2, 0, 1, 0.5}, -400, kFail, kAllMissing},
      {"Richards", {2, -0.5, 1.2, 0.8}, 1.3, kFail, kAllMissing, ERANGE},
      // SRichards1: shape 1, p1 <= 0, p4 <= 0, and B = 1 - e^0.35 <= 0.
      {"SRichards1", {3, 1, 1, 0.7}, 2.5, kFail, kAllMissing},
      {"SRichards1", {0, 1, 0.5, 0.7}, 2.5, kFail, kAllMissing},
      {"SRichards1", {3, 1, 0.5, -0.7}, 2.5, kFail, kAllMissing},
      {"SRichards1", {1, 1, 0.5, 0.7}, 0.5, kFail, kAllMissing},
      {"SRichards1", {3, 1, 0.5, 0.7}, 2.5, kFail, kAllMissing, EDOM},
      // SRichards2: shape 1, shape <= 0, p1 <= 0, and X = 1 - 0.6*e^1.8 <= 0.
      {"SRichards2", {2.5, 1, 1, 0.9}, 2.2, kFail, kAllMissing},
      {"SRichards2", {2.5, 1, 0, 0.9}, 2.2, kFail, kAllMissing},
      {"SRichards2", {-2.5, 1, 0.4, 0.9}, 2.2, kFail, kAllMissing},
      {"SRichards2", {2.5, 1, 0.4, 0.9}, -1, kFail, kAllMissing},
      {"SRichards2", {2.5, 1, 0.4, 0.9}, 2.2, kFail, kAllMissing, ERANGE},
      // SGompertz: far below p2 E overflows, and a stale 34 reads the same; a stale 33 passes
      // the overflow test and fails the next.
      {"SGompertz", {0, 2, 0.8}, 2.7, kFail, kAllMissing},
      {"SGompertz", {4, 2, -0.8}, 2.7, kFail, kAllMissing},
      {"SGompertz", {4, 2, 0.8}, -1000, kZero, kZeroDerivs},
      {"SGompertz", {4, 2, 0.8}, 2.7, kZero, kZeroDerivs, ERANGE},
      {"SGompertz", {4, 2, 0.8}, 2.7, kFail, kAllMissing, EDOM},
      // SLogistic1: p1 <= 0 fails without derivatives; tests for overflow only.
      {"SLogistic1", {0, 1.5, 1.2}, 2.1, kFail, kFail},
      {"SLogistic1", {-3, 1.5, 1.2}, 2.1, kFail, kFail},
      {"SLogistic1", {3, 1.5, 1.2}, -1000, kZero, kZeroDerivs},
      {"SLogistic1", {3, 1.5, 1.2}, 2.1, kOk, kOk, EDOM},
      // SLogistic2: p2 <= 0, p1 >= p2, p1 = 0, p3 <= 0; its derivatives test no errno.
      {"SLogistic2", {0.5, 0, 0.7}, 1.9, kFail, kAllMissing},
      {"SLogistic2", {4, 4, 0.7}, 1.9, kFail, kAllMissing},
      {"SLogistic2", {0, 4, 0.7}, 1.9, kFail, kAllMissing},
      {"SLogistic2", {0.5, 4, 0}, 1.9, kFail, kAllMissing},
      {"SLogistic2", {0.5, 4, 0.7}, -2000, kZero, kNone},
      {"SLogistic2", {0.5, 4, 0.7}, 1.9, kZero, kOk, ERANGE},
      // SLogistic3.
      {"SLogistic3", {5, 0, 0.6}, 2.4, kFail, kAllMissing},
      {"SLogistic3", {0, 3, 0.6}, 2.4, kFail, kAllMissing},
      {"SLogistic3", {5, 3, -0.6}, 2.4, kFail, kAllMissing},
      {"SLogistic3", {5, 3, 0.6}, -1200, kZero, kZeroDerivs},
      {"SLogistic3", {5, 3, 0.6}, 2.4, kZero, kZeroDerivs, ERANGE},
      // SWeibull1: before the onset a non-integer power is a domain error of the value; only
      // the derivatives need p3 >= 0 and p4 > 0; an overflowing power fails; the derivative
      // path tests 34 only.
      {"SWeibull1", {3, 0.5, 1.7, 0.8}, 0, kFail, kOk},
      {"SWeibull1", {3, 0.5, 1.7, -0.8}, 0, kOk, kAllMissing},
      {"SWeibull1", {3, 0.5, -1, 0.8}, 2, kOk, kAllMissing},
      {"SWeibull1", {3, 0, 200, 100}, 100, kFail, kAllMissing},
      {"SWeibull1", {3, 0.5, 1.7, 0.8}, 2, kFail, kOk, EDOM},
      // SWeibull2: x > 0 and p4 > 0; a stale 33 fails after the power.
      {"SWeibull2", {5, 1, 1.5, 0.4}, 0, kFail, kAllMissing},
      {"SWeibull2", {5, 1, 1.5, 0}, 2.3, kFail, kAllMissing},
      {"SWeibull2", {5, 1, 1.5, 0.4}, 2.3, kFail, kAllMissing, EDOM},
  };
  for (const auto &c : cases) {
    const std::string what = std::string(c.name) + " p1=" + std::to_string(c.p[0]) +
                             " p3=" + std::to_string(c.p[2]) + " x=" + std::to_string(c.x) +
                             " errno " + std::to_string(c.errno_in);
    const int n = static_cast<int>(c.p.size());
    Call call = Call(c.name).params(c.p).x(c.x).errno_in(c.errno_in);
    if (c.on_value != kNone) expect_exit(call.run(V), c.on_value, n, c.errno_in, what + " value");
    if (c.on_deriv != kNone) expect_exit(call.run(D), c.on_deriv, n, c.errno_in, what + " deriv");
  }
  // Both bits. Richards with p4 = 0 does not claim success without derivatives; on the lower
  // plateau SGompertz also zeroes its derivatives, while the exclusive SLogistic1 stops at y.
  expect_exit(Call("Richards").params({2, -0.5, 1.2, 0}).x(1.3).run(VD), kAllMissing, 4, 0, "R");
  expect_exit(Call("SGompertz").params({4, 2, 0.8}).x(-1000).run(VD), kZeroDerivs, 3, 0, "G");
  expect_exit(Call("SLogistic1").params({3, 1.5, 1.2}).x(-1000).run(VD), kZero, 3, 0, "L1");
}

TEST(SigmoidalGrowth, UpperPlateausFollowTheFormula) {
  // The exponential vanishes (no errno): y is the asymptote, errno untouched.
  struct Top {
    const char *name;
    std::vector<double> p;
    double x, top;
  };
  const Top tops[] = {{"Richards", {2, 0, 1, 0.5}, 400, 2},
                      {"SGompertz", {4, 2, 0.8}, 1000, 4},
                      {"SLogistic1", {3, 1.5, 1.2}, 1000, 3},
                      {"SLogistic2", {0.5, 4, 0.7}, 2000, 4},
                      {"SLogistic3", {5, 3, 0.6}, 1200, 5}};
  for (const auto &c : tops) {
    for (int32_t req : {V, D}) {
      Outcome r = Call(c.name).params(c.p).x(c.x).run(req);
      EXPECT_TRUE(r.rc == 0 && r.y[1] == c.top && r.err == kNeutralErrno) << c.name << req;
      if (req == D) {
        EXPECT_EQ(r.d[c.p.size()], 0.0) << c.name;  // the last parameter no longer matters
      }
    }
  }
  // SGompertz well below p2 but short of overflow: exp(-E) vanishes by the formula.
  Outcome mid = Call("SGompertz").params({4.0, 2.0, 0.8}).x(-60.0).run(D);
  EXPECT_TRUE(mid.rc == 0 && mid.y[1] == 0.0 && mid.d[2] == 0.0 && mid.err == kNeutralErrno);
  // SLogistic2's derivatives test no errno: an overflow returns 0 and leaves 34 set.
  Outcome l2 = Call("SLogistic2").params({0.5, 4.0, 0.7}).x(-2000.0).run(D);
  EXPECT_TRUE(l2.rc == 0 && l2.err == ERANGE && l2.y[1] == 0.0);
}

TEST(SigmoidalGrowth, LowerEdges) {
  Outcome r0 = Call("Richards").params({2.0, -0.5, 1.2, 0.0}).x(1.3).run(V);
  EXPECT_TRUE(r0.rc == 0 && r0.y[1] == 2.0 && r0.err == kNeutralErrno);
  for (double p1 : {0.5, -0.6, 3.9}) {  // SLogistic2 starts at p1
    EXPECT_DOUBLE_EQ(Call("SLogistic2").params({p1, 4.0, 0.7}).x(0.0).run(V).y[1], p1);
    Outcome d = Call("SLogistic2").params({p1, 4.0, 0.7}).x(0.0).run(D);
    EXPECT_DOUBLE_EQ(d.y[1], p1);
    EXPECT_EQ(d.d[3], 0.0);
  }
  // SWeibull1 up to its onset p2: y = 0 and zero derivatives; the value at p2 is 0 too.
  for (double x : {0.5, -2.0}) {
    Outcome d = Call("SWeibull1").params({3.0, 0.5, 1.7, 0.8}).x(x).run(D);
    EXPECT_TRUE(d.rc == 0 && d.y[1] == 0.0) << x;
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(d.d[i], 0.0) << x;
  }
  Outcome at = Call("SWeibull1").params({3.0, 0.5, 1.7, 0.8}).x(0.5).run(V);
  EXPECT_TRUE(at.rc == 0 && at.y[1] == 0.0);
  // SWeibull1 with p3 = 0: flat in p4, and the p3-derivative p1*e^-1*ln(p4*(x - p2)), not 0/0.
  Outcome flat = Call("SWeibull1").params({3.0, 0.5, 0.0, 0.8}).x(2.0).run(D);
  EXPECT_TRUE(flat.rc == 0 && flat.d[4] == 0.0);
  EXPECT_NEAR(flat.d[3], 3.0 * std::exp(-1.0) * std::log(0.8 * 1.5), 1e-15);
}

TEST(SigmoidalGrowth, SWeibull2PowerSides) {
  // The power overflows: the asymptote p1 with errno reset, on every request; a stale 34 is
  // read the same way.
  const std::vector<double> p = {5.0, 1.0, 400.0, 10.0};
  for (int32_t req : {V, D, VD}) {
    Outcome r = Call("SWeibull2").params(p).x(30.0).run(req);
    EXPECT_TRUE(r.rc == 0 && r.y[1] == 5.0 && r.err == 0) << req;
    if (req != V) {
      EXPECT_TRUE(r.d[1] == 1.0 && r.d[2] == 0.0 && r.d[3] == 0.0 && r.d[4] == 0.0) << req;
    }
  }
  Outcome stale = Call("SWeibull2").params({5.0, 1.0, 1.5, 0.4}).x(2.3).errno_in(ERANGE).run(D);
  EXPECT_TRUE(stale.rc == 0 && stale.y[1] == 5.0 && stale.d[1] == 1.0 && stale.err == 0);
  // The power underflows near x = 0: y = p2 by the formula, errno untouched.
  for (int32_t req : {V, D}) {
    Outcome lo = Call("SWeibull2").params(p).x(1e-3).run(req);
    EXPECT_TRUE(lo.rc == 0 && lo.y[1] == 1.0 && lo.err == kNeutralErrno) << req;
  }
}

}  // namespace
