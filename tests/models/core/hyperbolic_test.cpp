// Hyperbolas, binding curves, Rational, Power0, the variable-degree polynomial and the
// light-response curves through the public interface.
#include <gtest/gtest.h>

#include <cmath>

#include "support/model_call.h"

namespace {

struct Generic {
  const char *name;
  std::vector<double> p;
};
const Generic kAll[] = {
    {"Hyperbl", {2.0, 1.5}},           {"Dhyperbl", {2.0, 1.5, 0.7, 3.0, 0.2}},
    {"Binding1", {2.0, 1.5}},          {"Binding2", {2.0, 0.7, 1.5, 3.0}},
    {"Rational", {1.0, 2.0, 0.5, 1.5}}, {"Power0", {1.0, 0.3, 2.0, 1.7}},
    {"Poly", {1.0, -0.5, 0.25, 0.1}},  {"PIPlatt", {3.0, 1.2}},
    {"PIPlatt2", {3.0, 1.2, 0.1}},     {"PIWebb", {3.0, 1.2}}};

// The standard failure: return 1, y[1] missing, errno reset.
void expect_standard_failure(const Outcome &r, const std::string &what) {
  EXPECT_EQ(r.rc, 1) << what;
  EXPECT_TRUE(r.y_missing(1)) << what;
  EXPECT_EQ(r.err, 0) << what;
}

TEST(HyperbolicFamily, RequestWords) {
  for (const auto &m : kAll) {
    Outcome r = Call(m.name).params(m.p).x(1.1).run(REQ_RESERVED | REQ_VALUE | REQ_DERIV);
    EXPECT_TRUE(r.rc == 1 && r.nothing_written()) << m.name;
    for (int32_t req : {0, 8, 16}) {
      Outcome q = Call(m.name).params(m.p).x(1.1).run(req);
      EXPECT_TRUE(q.rc == 0 && q.nothing_written()) << m.name << " request " << req;
    }
    Outcome v = Call(m.name).params(m.p).x(1.1).run(REQ_VALUE);
    EXPECT_TRUE(v.rc == 0 && v.y_written(1) && !v.y_written(2) && v.no_deriv_written()) << m.name;
    EXPECT_EQ(v.err, kNeutralErrno) << m.name;
    Outcome d = Call(m.name).params(m.p).x(1.1).run(REQ_DERIV);
    EXPECT_TRUE(d.rc == 0 && d.y_written(1)) << m.name;  // derivative paths write y too
    EXPECT_TRUE(d.d_written(m.p.size()) && !d.d_written(m.p.size() + 1)) << m.name;
  }
}

TEST(HyperbolicFamily, TooFewParametersFailEitherRequest) {
  const std::pair<const char *, int> fixed[] = {{"Hyperbl", 2},  {"Dhyperbl", 5}, {"Binding1", 2},
                                                {"Binding2", 4}, {"Rational", 4}, {"Power0", 4}};
  for (const auto &[name, m] : fixed) {
    const std::vector<double> p(m, 1.25);
    for (int n : {0, m - 1}) {
      // errno 34 shows that Binding1/Binding2 test the count before their plateau substitute.
      Outcome v = Call(name).params(p).nparams(n).x(0.8).errno_in(34).run(REQ_VALUE);
      expect_standard_failure(v, std::string(name) + " n=" + std::to_string(n));
      Outcome d = Call(name).params(p).nparams(n).x(0.8).run(REQ_DERIV);
      expect_standard_failure(d, std::string(name) + " deriv n=" + std::to_string(n));
      EXPECT_TRUE(d.no_deriv_written()) << name << " n=" << n;
    }
    EXPECT_EQ(Call(name).params(p).x(0.8).run(REQ_VALUE).rc, 0) << name;
  }
}

TEST(HyperbolicFamily, PolesFail) {
  // Hyperbl at x = -p2: d1, d2 missing; Dhyperbl at either pole writes no deriv;
  // Rational where p4*x + p3 = 0: d1..d4 missing.
  const struct {
    const char *name;
    std::vector<double> p;
    double x;
    int missing;  // deriv entries set to MISSING_VALUE by the derivative request
  } poles[] = {{"Hyperbl", {2.0, 1.5}, -1.5, 2},
               {"Dhyperbl", {2.0, 1.5, 0.7, 3.0, 0.2}, -1.5, 0},
               {"Dhyperbl", {2.0, 1.5, 0.7, 3.0, 0.2}, -3.0, 0},
               {"Rational", {1.0, 3.0, 1.0, 2.0}, -0.5, 4}};
  for (const auto &c : poles) {
    const std::string what = std::string(c.name) + " x=" + std::to_string(c.x);
    for (int32_t req : {REQ_VALUE, REQ_VALUE | REQ_DERIV}) {  // value failure ends the call
      Outcome v = Call(c.name).params(c.p).x(c.x).run(req);
      expect_standard_failure(v, what);
      EXPECT_TRUE(v.no_deriv_written()) << what;
    }
    Outcome d = Call(c.name).params(c.p).x(c.x).run(REQ_DERIV);
    expect_standard_failure(d, what);
    for (int i = 1; i <= static_cast<int>(c.p.size()) + 1; ++i)
      EXPECT_EQ(d.d_missing(i), i <= c.missing) << what << " d" << i;
    if (c.missing == 0) {
      EXPECT_TRUE(d.no_deriv_written()) << what;
    }
  }
}

TEST(HyperbolicFamily, EvaluationOrder) {
  const double x = 0.7;
  Outcome h = Call("Hyperbl").params({2.0, 1.5}).x(x).run(REQ_DERIV);
  EXPECT_TRUE(same_bits(h.y[1], x / (x + 1.5) * 2.0));
  EXPECT_TRUE(same_bits(h.d[2], -(h.y[1] / (x + 1.5))));
  const std::vector<double> q = {2.0, 1.5, 0.7, 3.0, 0.2};
  Outcome dh = Call("Dhyperbl").params(q).x(x).run(REQ_VALUE);
  EXPECT_TRUE(same_bits(dh.y[1], x * q[2] / (x + q[3]) + x * q[4] + q[0] * x / (q[1] + x)));
  const std::vector<double> r = {1.0, 2.0, 0.5, 1.5};
  const double inv = 1.0 / (r[3] * x + r[2]);
  Outcome rv = Call("Rational").params(r).x(x).run(REQ_VALUE);
  EXPECT_TRUE(same_bits(rv.y[1], (r[1] * x + r[0]) / (r[3] * x + r[2])));
  Outcome rd = Call("Rational").params(r).x(x).run(REQ_DERIV);
  EXPECT_TRUE(same_bits(rd.y[1], (r[1] * x + r[0]) * inv));
  EXPECT_TRUE(same_bits(rd.d[4], -(rd.y[1] * inv) * x));
  const std::vector<double> b = {2.0, 0.7, 1.5, 3.0};
  const double r3 = 1.0 / (x + b[2]), r4 = 1.0 / (x + b[3]);
  Outcome b2 = Call("Binding2").params(b).x(x).run(REQ_DERIV);
  EXPECT_TRUE(same_bits(b2.y[1], x * b[1] * r4 + x * b[0] * r3));
  EXPECT_TRUE(same_bits(b2.d[3], -(x * b[0] * (r3 * r3))));
}

TEST(Binding, ExclusiveShapeAndNonFiniteValue) {
  for (const auto &m : {kAll[2], kAll[3]}) {
    Outcome both = Call(m.name).params(m.p).x(0.5).run(REQ_VALUE | REQ_DERIV);
    EXPECT_TRUE(both.rc == 0 && both.y_written(1) && both.no_deriv_written()) << m.name;
  }
  // Binding1 at x = -p2: MISSING_VALUE with success; the derivatives are left as computed.
  for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
    Outcome r = Call("Binding1").params({2.0, 1.5}).x(-1.5).run(req);
    EXPECT_TRUE(r.rc == 0 && r.y_missing(1) && r.err == kNeutralErrno) << req;
    if (req == REQ_DERIV) {
      EXPECT_TRUE(std::isinf(r.d[1]) && std::isinf(r.d[2]));
    }
  }
}

TEST(Binding, StaleErrnoGivesThePlateau) {
  // Value requests take the plateau on 34 or 33; derivative requests on 34 only.
  const struct {
    const char *name;
    std::vector<double> p, plateau_d;
  } cases[] = {{"Binding1", {2.0, 1.5}, {0.0, 1.0}},
               {"Binding2", {2.0, 0.7, 1.5, 3.0}, {0.0, 0.0, 1.0, 1.0}}};
  for (const auto &c : cases) {
    const double plateau = c.p.size() == 2 ? c.p[0] : c.p[1] + c.p[0];
    for (int e : {34, 33}) {
      Outcome v = Call(c.name).params(c.p).x(0.5).errno_in(e).run(REQ_VALUE);
      EXPECT_TRUE(v.rc == 0 && v.y[1] == plateau && v.err == 0) << c.name << " " << e;
    }
    Outcome d = Call(c.name).params(c.p).x(0.5).errno_in(34).run(REQ_DERIV);
    EXPECT_TRUE(d.rc == 0 && d.y[1] == plateau && d.err == 0) << c.name;
    for (std::size_t i = 0; i < c.plateau_d.size(); ++i)
      EXPECT_EQ(d.d[i + 1], c.plateau_d[i]) << c.name << " d" << i + 1;
    Outcome d33 = Call(c.name).params(c.p).x(0.5).errno_in(33).run(REQ_DERIV);
    Outcome fresh = Call(c.name).params(c.p).x(0.5).run(REQ_DERIV);
    EXPECT_TRUE(same_bits(d33.y[1], fresh.y[1]) && same_bits(d33.d[1], fresh.d[1])) << c.name;
    EXPECT_EQ(d33.err, 33) << c.name;
  }
}

TEST(Power0, AtTheShiftAndOnPowError) {
  const std::vector<double> p = {1.0, 0.3, 2.0, 1.7};
  Outcome v = Call("Power0").params(p).x(p[1]).errno_in(34).run(REQ_VALUE);
  EXPECT_TRUE(v.rc == 0 && v.y[1] == p[0] && v.err == 34);  // no pow, no errno test
  Outcome d = Call("Power0").params(p).x(p[1]).run(REQ_DERIV);
  EXPECT_TRUE(d.rc == 0 && d.y[1] == p[0] && d.d[1] == 1.0 && d.d[3] == 0.0);
  EXPECT_TRUE(d.d_missing(2) && d.d_missing(4));
  // The value step at x = p2 is a success: with bit 2 also set the derivatives follow.
  Outcome both = Call("Power0").params(p).x(p[1]).run(REQ_VALUE | REQ_DERIV);
  EXPECT_TRUE(both.rc == 0 && both.y[1] == p[0] && both.d[1] == 1.0 && both.d_missing(4));

  const double x = -2.3, a = 2.3 + p[1], P = std::pow(a, p[3]);  // |x - p2| below the shift
  Outcome g = Call("Power0").params(p).x(x).run(REQ_DERIV);
  EXPECT_TRUE(same_bits(g.d[2], -(p[3] * p[2] * P / (x - p[1]))));
  EXPECT_TRUE(same_bits(g.d[4], std::log(a) * (P * p[2])));
  EXPECT_TRUE(same_bits(Call("Power0").params(p).x(x).run(REQ_VALUE).y[1], p[0] + P * p[2]));

  const std::vector<double> big = {1.0, 0.0, 1.0, 2.0};
  for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
    expect_standard_failure(Call("Power0").params(big).x(1e200).run(req), "overflow");
    expect_standard_failure(Call("Power0").params(p).x(x).errno_in(34).run(req), "stale 34");
  }
  Outcome fd = Call("Power0").params(big).x(1e200).run(REQ_DERIV);
  EXPECT_TRUE(fd.d[1] == 1.0 && fd.d_missing(2) && fd.d_missing(3) && fd.d_missing(4));
}

TEST(Poly, DegreeFollowsNParams) {
  Outcome c = Call("Poly").params({4.5}).x(1e300).run(REQ_DERIV);
  EXPECT_TRUE(c.y[1] == 4.5 && c.d[1] == 1.0 && !c.d_written(2));
  EXPECT_EQ(Call("Poly").params({4.5}).x(1e300).run(REQ_VALUE).y[1], 4.5);

  // n = 3, p3 = 0: the value skips the x^2 term (here infinite), the derivatives do not.
  const double big = 1e200;
  EXPECT_EQ(Call("Poly").params({1.0, 2.0, 0.0}).x(big).run(REQ_VALUE).y[1], 1.0 + 2.0 * big);
  Outcome qd = Call("Poly").params({1.0, 2.0, 0.0}).x(big).run(REQ_DERIV);
  EXPECT_TRUE(qd.d[1] == 1.0 && qd.d[2] == big && std::isinf(qd.d[3]) && !qd.d_written(4));
  EXPECT_TRUE(std::isnan(qd.y[1]));
  // A NaN coefficient is not skipped.
  EXPECT_TRUE(std::isnan(Call("Poly").params({1.0, NAN}).x(2.0).run(REQ_VALUE).y[1]));

  // n = 12 (beyond the registry's 10): d1..d12 are the running powers, nothing beyond.
  std::vector<double> p;
  for (int i = 0; i < 12; ++i) p.push_back(0.5 - 0.1 * i);
  const double t = 1.1;
  Outcome v = Call("Poly").params(p).x(t).run(REQ_VALUE);
  Outcome d = Call("Poly").params(p).x(t).run(REQ_DERIV);
  double sum = 0.0, power = 1.0, dsum = p[0];
  for (int i = 0; i < 12; ++i) {
    sum += p[i] * power;
    if (i > 0) dsum += power * p[i];
    EXPECT_TRUE(same_bits(d.d[i + 1], power)) << "d" << i + 1;
    power *= t;
  }
  EXPECT_TRUE(same_bits(v.y[1], sum) && same_bits(d.y[1], dsum));
  EXPECT_FALSE(d.d_written(13));
  Outcome five = Call("Poly").params(p).nparams(5).x(t).run(REQ_DERIV);
  EXPECT_TRUE(five.d_written(5) && !five.d_written(6));

  // No coefficient at all: both requests take the standard failure and write no deriv.
  for (int n : {0, 0xFFFF}) {  // 0xFFFF arrives as the 16-bit nParams -1
    for (int32_t req : {REQ_VALUE, REQ_DERIV, REQ_VALUE | REQ_DERIV}) {
      Outcome f = Call("Poly").params({3.0, 4.0}).nparams(n).x(2.0).run(req);
      expect_standard_failure(f, "n=" + std::to_string(n));
      EXPECT_TRUE(f.no_deriv_written());
    }
  }
}

TEST(LightResponse, ZeroMaximumFailsBothRequests) {
  const std::pair<const char *, int> models[] = {{"PIPlatt", 2}, {"PIPlatt2", 3}, {"PIWebb", 2}};
  for (const auto &[name, m] : models) {
    Outcome v = Call(name).params({0.0, 1.2, 0.1}).nparams(m).x(0.5).run(REQ_VALUE);
    expect_standard_failure(v, name);
    EXPECT_TRUE(v.no_deriv_written()) << name;
    Outcome d = Call(name).params({-0.0, 1.2, 0.1}).nparams(m).x(0.5).run(REQ_DERIV);
    expect_standard_failure(d, name);
    for (int i = 1; i <= m + 1; ++i) EXPECT_EQ(d.d_missing(i), i <= m) << name << " d" << i;
  }
}

TEST(LightResponse, ValuesAndNoErrnoTest) {
  const double p1 = 3.0, p2 = 1.2, p3 = 0.1, x = 0.8;
  Outcome platt = Call("PIPlatt").params({p1, p2}).x(x).errno_in(34).run(REQ_DERIV);
  const double T = std::tanh(x * p2 / p1);
  EXPECT_TRUE(platt.rc == 0 && platt.err == 34 && same_bits(platt.y[1], T * p1));
  EXPECT_TRUE(same_bits(platt.d[1], T - (1.0 - T * T) * p2 * x / p1));

  const double e2 = std::exp(-(p2 * x / p1)), e3 = std::exp(-(p3 * x / p1));
  Outcome platt2 = Call("PIPlatt2").params({p1, p2, p3}).x(x).errno_in(33).run(REQ_VALUE);
  EXPECT_TRUE(platt2.rc == 0 && platt2.err == 33 && same_bits(platt2.y[1], e3 * p1 * (1.0 - e2)));

  const double E = std::exp(-(x * p2 / p1));
  Outcome webb = Call("PIWebb").params({p1, p2}).x(x).run(REQ_DERIV);
  EXPECT_TRUE(same_bits(webb.y[1], (1.0 - E) * p1));
  EXPECT_TRUE(same_bits(webb.d[1], (1.0 - E) - E * (x * p2 / p1)));
  // An overflowing exponential is returned as it comes, with success and errno 34.
  Outcome over = Call("PIWebb").params({1.0, -1000.0}).x(1.0).run(REQ_VALUE);
  EXPECT_TRUE(over.rc == 0 && std::isinf(over.y[1]) && over.err == 34);
}

}  // namespace
