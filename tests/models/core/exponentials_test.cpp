// Exponential association, decay and growth models through the public interface.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/model_call.h"

namespace {

struct Model {
  const char *name;
  int m;  // parameters read
};
const Model kAll[] = {{"ExpAssoc", 5},       {"ExpAssoc1", 4},      {"ExpAssoc2", 7},
                      {"ExpAssocDelay1", 4}, {"ExpAssocDelay2", 7}, {"ExpDecay1", 4},
                      {"ExpDecay2", 6},      {"ExpDecay3", 8},      {"ExpGrow1", 4},
                      {"ExpGrow2", 6}};
const std::vector<double> kP = {0.5, 0.25, 1.5, 0.75, -0.5, 1.25, 2.0, 0.8};

void expect_failed(const Outcome &r, const std::string &what) {
  EXPECT_EQ(r.rc, 1) << what;
  EXPECT_TRUE(r.y_missing(1)) << what;
  EXPECT_EQ(r.err, 0) << what;
}

TEST(Exponentials, RequestWords) {
  for (const Model &md : kAll) {
    for (int32_t req : {1, 3, 5, 7, 9}) {
      Outcome r = Call(md.name).params(kP).x(1.0).run(req);
      EXPECT_EQ(r.rc, 1) << md.name << " " << req;
      EXPECT_TRUE(r.nothing_written()) << md.name << " " << req;
    }
    for (int32_t req : {0, 8, 16}) {
      Outcome r = Call(md.name).params(kP).x(1.0).run(req);
      EXPECT_EQ(r.rc, 0) << md.name << " " << req;
      EXPECT_TRUE(r.nothing_written()) << md.name << " " << req;
    }
    Outcome v = Call(md.name).params(kP).x(1.0).run(REQ_VALUE);
    EXPECT_EQ(v.rc, 0) << md.name;
    EXPECT_TRUE(v.y_written(1) && !v.y_written(2) && v.no_deriv_written()) << md.name;
    Outcome d = Call(md.name).params(kP).x(1.0).run(REQ_DERIV);  // y written without bit 1
    EXPECT_TRUE(d.y_written(1) && d.d_written(md.m) && !d.d_written(md.m + 1)) << md.name;
    EXPECT_EQ(d.y[1], v.y[1]) << md.name;
    EXPECT_EQ(d.err, kNeutralErrno) << md.name;
  }
  for (int32_t req : {1, 3, 0, 4, 8, 9}) {  // Kinetic: values only, 0 for everything else
    Outcome r = Call("Kinetic").params(kP).x(1.0).run(req);
    EXPECT_EQ(r.rc, 0) << req;
    EXPECT_TRUE(r.nothing_written()) << req;
  }
  Outcome k = Call("Kinetic").params(kP).x(1.0).run(REQ_VALUE | REQ_DERIV);
  EXPECT_TRUE(k.y_written(1) && k.no_deriv_written());
}

TEST(ExpAssoc, TermsFollowNParams) {
  const std::vector<double> p = {0.5, 2.0, 0.8, -1.5, 2.6};
  const double x = 1.3;
  const double one = 0.5 + (1 - std::exp(-(x / 0.8))) * 2.0;
  const double both = one + (1 - std::exp(-(x / 2.6))) * -1.5;
  const double want[] = {0.5, 0.5, one, one, both};
  for (int n = 1; n <= 5; ++n) {
    Outcome r = Call("ExpAssoc").params(p).nparams(n).x(x).run(REQ_VALUE);
    EXPECT_EQ(r.rc, 0) << n;
    EXPECT_TRUE(same_bits(r.y[1], want[n - 1])) << n;
  }
  expect_failed(Call("ExpAssoc").params(p).nparams(0).x(x).run(REQ_VALUE), "n = 0");
  // With n = 4 the second time constant is not read, even when it is 0.
  EXPECT_EQ(Call("ExpAssoc").params({0.5, 2.0, 0.8, -1.5, 0.0}).nparams(4).x(x).run(REQ_VALUE).rc, 0);
  // The derivative request uses the same terms and writes d1..dn only; an amplitude whose
  // term is not covered has derivative 0.
  for (int n = 1; n <= 5; ++n) {
    Outcome d = Call("ExpAssoc").params(p).nparams(n).x(x).run(REQ_DERIV);
    EXPECT_EQ(d.rc, 0) << n;
    EXPECT_TRUE(same_bits(d.y[1], want[n - 1])) << n;
    EXPECT_TRUE(d.d_written(n) && !d.d_written(n + 1)) << n;
  }
  Outcome two = Call("ExpAssoc").params(p).nparams(2).x(x).run(REQ_DERIV);
  EXPECT_TRUE(two.d[1] == 1.0 && two.d[2] == 0.0);
  Outcome four = Call("ExpAssoc").params({0.5, 2.0, 0.8, -1.5, 0.0}).nparams(4).x(x).run(REQ_DERIV);
  EXPECT_EQ(four.rc, 0);  // p5 = 0 not read
  EXPECT_EQ(four.d[4], 0.0);
  expect_failed(Call("ExpAssoc").params(p).nparams(0).x(x).run(REQ_DERIV), "deriv n = 0");
}

TEST(ExpAssoc, ZeroAmplitudeAndFailures) {
  // p4 = 0 skips the second term, so p5 = 0 passes the value request but not the derivatives.
  const std::vector<double> p = {0.5, 2.0, 0.8, 0.0, 0.0};
  EXPECT_EQ(Call("ExpAssoc").params(p).x(1.0).run(REQ_VALUE).rc, 0);
  Outcome d = Call("ExpAssoc").params(p).x(1.0).run(REQ_DERIV);
  expect_failed(d, "p5 = 0");
  EXPECT_TRUE(d.no_deriv_written());
  expect_failed(Call("ExpAssoc").params({0.5, 2.0, 0.0, 1.0, 1.0}).x(1.0).run(REQ_VALUE), "p3 = 0");
  EXPECT_EQ(Call("ExpAssoc").params({0.5, 0.0, 0.0, 0.0, 0.0}).x(1.0).run(REQ_VALUE).y[1], 0.5);
  // exp(1000) overflows: both requests fail; the derivative request leaves d1, d2 written.
  const std::vector<double> q = {0.5, 2.0, 1.0, 1.0, 1.0};
  expect_failed(Call("ExpAssoc").params(q).x(-1000.0).run(REQ_VALUE), "overflow");
  Outcome o = Call("ExpAssoc").params(q).x(-1000.0).run(REQ_DERIV);
  expect_failed(o, "overflow deriv");
  EXPECT_TRUE(o.d[1] == 1.0 && std::isinf(o.d[2]) && !o.d_written(3) && !o.d_written(4));
  // A stale errno fails the first test; with no exponential evaluated there is no test.
  expect_failed(Call("ExpAssoc").params(q).x(1.0).errno_in(34).run(REQ_VALUE), "stale 34");
  Outcome none = Call("ExpAssoc").params({0.5, 0.0, 1.0, 0.0, 1.0}).x(1.0).errno_in(33).run(REQ_VALUE);
  EXPECT_EQ(none.rc, 0);
  EXPECT_EQ(none.err, 33);
}

TEST(ExpAssocOnsets, ZeroTimeConstantAndNoErrnoTest) {
  const struct { const char *name; int m; int tau; } rises[] = {
      {"ExpAssoc1", 4, 4}, {"ExpAssoc2", 7, 6}, {"ExpAssoc2", 7, 7},
      {"ExpAssocDelay1", 4, 4}, {"ExpAssocDelay2", 7, 6}, {"ExpAssocDelay2", 7, 7}};
  for (const auto &r : rises) {
    std::vector<double> p = kP;
    p[r.tau - 1] = 0.0;
    Outcome v = Call(r.name).params(p).x(1.0).run(REQ_VALUE);
    expect_failed(v, r.name);
    EXPECT_TRUE(v.no_deriv_written()) << r.name;
    Outcome d = Call(r.name).params(p).x(1.0).run(REQ_DERIV);
    expect_failed(d, r.name);
    EXPECT_TRUE(d.d_missing(1) && d.d_missing(r.m) && !d.d_written(r.m + 1)) << r.name;
    // errno is never tested: a stale 34 passes, and an overflow gives an infinite y.
    Outcome s = Call(r.name).params(kP).x(1.0).errno_in(34).run(REQ_VALUE);
    EXPECT_EQ(s.rc, 0) << r.name;
    EXPECT_EQ(s.err, 34) << r.name;
    const std::vector<double> big = {-5.0, -5.0, 1.0, -0.001, -1.0, -0.001, -0.001};
    Outcome o = Call(r.name).params(big).x(2.0).run(REQ_DERIV);
    EXPECT_EQ(o.rc, 0) << r.name;
    EXPECT_TRUE(std::isinf(o.y[1])) << r.name;
  }
}

TEST(ExpAssocOnsets, BeforeAndAtTheDelays) {
  const std::vector<double> p4 = {1.0, 0.4, 3.0, 1.5};
  Outcome before = Call("ExpAssocDelay1").params(p4).x(0.5).run(REQ_DERIV);
  EXPECT_EQ(before.y[1], 0.4);
  EXPECT_TRUE(before.d[1] == 0.0 && before.d[2] == 1.0 && before.d[3] == 0.0 && before.d[4] == 0.0);
  Outcome at = Call("ExpAssocDelay1").params(p4).x(1.0).run(REQ_DERIV);  // term on, e = 1
  EXPECT_EQ(at.y[1], 0.4);
  EXPECT_EQ(at.d[1], -(3.0 / 1.5));
  // ExpAssoc1 has no delay: before p1 the rise is negative.
  EXPECT_LT(Call("ExpAssoc1").params(p4).x(0.5).run(REQ_VALUE).y[1], 0.4);

  const std::vector<double> p7 = {1.0, 2.0, 0.3, 1.5, -0.7, 0.9, 1.1};
  Outcome none = Call("ExpAssocDelay2").params(p7).x(0.5).run(REQ_DERIV);
  EXPECT_EQ(none.y[1], 0.3);
  for (int i = 1; i <= 7; ++i) EXPECT_EQ(none.d[i], i == 3 ? 1.0 : 0.0) << "d" << i;
  const double e1 = std::exp(-((1.5 - 1.0) / 0.9));
  for (const char *name : {"ExpAssoc2", "ExpAssocDelay2"}) {
    Outcome mid = Call(name).params(p7).x(1.5).run(REQ_DERIV);  // first rise only
    EXPECT_TRUE(same_bits(mid.y[1], 0.3 + (1 - e1) * 1.5)) << name;
    EXPECT_TRUE(mid.d[2] == 0.0 && mid.d[5] == 0.0 && mid.d[7] == 0.0) << name;
    EXPECT_TRUE(same_bits(mid.d[6], -(e1 * ((1.5 - 1.0) * 1.5 / (0.9 * 0.9))))) << name;
  }
  EXPECT_NE(Call("ExpAssoc2").params(p7).x(0.5).run(REQ_VALUE).y[1], 0.3);
}

TEST(ExpDecayAndGrow1, FixedCountsAndFailures) {
  for (const Model &md : kAll) {
    const std::string name = md.name;
    if (name.rfind("ExpDecay", 0) != 0 && name != "ExpGrow1") continue;
    // Fewer parameters than the model reads fail like none, in either request.
    for (int n : {0, md.m - 1}) {
      expect_failed(Call(name).params(kP).nparams(n).x(1.0).run(REQ_VALUE), name);
      Outcome d = Call(name).params(kP).nparams(n).x(1.0).run(REQ_DERIV);
      expect_failed(d, name + " deriv");
      EXPECT_TRUE(d.no_deriv_written()) << name;
    }
    // Zero amplitudes skip their terms, so non-positive time constants pass the value request.
    std::vector<double> flat = kP;
    for (int a = 3; a <= md.m; a += 2) {
      flat[a - 1] = 0.0;
      flat[a] = -1.0;
    }
    Outcome v = Call(name).params(flat).x(1.0).run(REQ_VALUE);
    EXPECT_EQ(v.rc, 0) << name;
    EXPECT_EQ(v.y[1], 0.5) << name;
    std::vector<double> bad = kP;
    bad[md.m - 1] = -1.0;
    expect_failed(Call(name).params(bad).x(1.0).run(REQ_VALUE), name + " tau < 0");
    // A stale errno fails the value request.
    expect_failed(Call(name).params(kP).x(1.0).errno_in(33).run(REQ_VALUE), name + " stale");
    // Underflow (exponent below -300) follows the normal formula and leaves errno alone.
    const bool grow = name == "ExpGrow1";
    Outcome u = Call(name).params(kP).x(grow ? -1000.0 : 1000.0).run(REQ_VALUE | REQ_DERIV);
    EXPECT_EQ(u.rc, 0) << name;
    EXPECT_EQ(u.y[1], 0.5) << name;
    EXPECT_EQ(u.d[3], 0.0) << name;
    EXPECT_EQ(u.err, kNeutralErrno) << name;
    if (grow) continue;
    // Decay derivatives: tau <= 0 or an overflow is the all-missing failure; only 34 is tested.
    Outcome d = Call(name).params(bad).x(1.0).run(REQ_DERIV);
    expect_failed(d, name);
    EXPECT_TRUE(d.d_missing(1) && d.d_missing(md.m) && !d.d_written(md.m + 1)) << name;
    Outcome o = Call(name).params(kP).x(-1000.0).run(REQ_DERIV);
    expect_failed(o, name + " overflow");
    EXPECT_TRUE(o.d_missing(3) && o.d_missing(md.m)) << name;
    Outcome s = Call(name).params(kP).x(1.0).errno_in(33).run(REQ_DERIV);
    EXPECT_EQ(s.rc, 0) << name;
    EXPECT_EQ(s.err, 33) << name;
  }
}

TEST(ExpDecayAndGrow1, ExactResults) {
  // d4 is q*t*E; at this point E*t*q rounds differently.
  const double x = 1.8, t = (x - 0.4) / 1.1, E = std::exp(-t), q = 2.5 / 1.1;
  ASSERT_FALSE(same_bits(q * t * E, E * t * q));
  Outcome d = Call("ExpDecay1").params({0.6, 0.4, 2.5, 1.1}).x(x).run(REQ_DERIV);
  EXPECT_TRUE(same_bits(d.d[4], q * t * E) && same_bits(d.d[2], E * q));
  EXPECT_TRUE(same_bits(d.y[1], E * 2.5 + 0.6));
  // ExpGrow1: a negative time constant fails the value request only.
  const std::vector<double> g = {0.6, 0.4, 2.5, -1.3};
  expect_failed(Call("ExpGrow1").params(g).x(x).run(REQ_VALUE), "p4 < 0");
  Outcome gd = Call("ExpGrow1").params(g).x(x).run(REQ_DERIV);
  const double u = (x - 0.4) / -1.3, Y = 2.5 * std::exp(u);
  EXPECT_EQ(gd.rc, 0);
  EXPECT_TRUE(same_bits(gd.y[1], 0.6 + Y) && same_bits(gd.d[4], -(Y / -1.3) * u));
  Outcome g0 = Call("ExpGrow1").params({0.6, 0.4, 2.5, 0.0}).x(x).run(REQ_DERIV);
  expect_failed(g0, "p4 = 0");
  EXPECT_TRUE(g0.no_deriv_written());
  Outcome go = Call("ExpGrow1").params({0.6, 0.4, 2.5, 1.0}).x(1000.0).run(REQ_DERIV);
  expect_failed(go, "overflow");  // d1 and d3 stay
  EXPECT_TRUE(go.d[1] == 1.0 && std::isinf(go.d[3]) && !go.d_written(2) && !go.d_written(4));
}

TEST(ExpGrow2, TermsFollowNParams) {
  const std::vector<double> p = {0.6, 0.4, 2.5, 1.3, -1.1, -3.2};  // p6 < 0
  const double x = 1.8, one = 0.6 + std::exp((x - 0.4) / 1.3) * 2.5;
  const double want[] = {0.6, 0.6, 0.6, one, one};
  for (int n = 1; n <= 5; ++n) {
    Outcome r = Call("ExpGrow2").params(p).nparams(n).x(x).run(REQ_VALUE);
    EXPECT_EQ(r.rc, 0) << n;
    EXPECT_TRUE(same_bits(r.y[1], want[n - 1])) << n;
  }
  expect_failed(Call("ExpGrow2").params(p).nparams(6).x(x).run(REQ_VALUE), "p6 < 0");
  expect_failed(Call("ExpGrow2").params(p).nparams(0).x(x).run(REQ_VALUE), "n = 0");
  for (int n = 1; n <= 6; ++n) {  // same terms in the derivative request; p6 < 0 accepted
    Outcome d = Call("ExpGrow2").params(p).nparams(n).x(x).run(REQ_DERIV);
    EXPECT_EQ(d.rc, 0) << n;
    EXPECT_TRUE(d.d_written(n) && !d.d_written(n + 1)) << n;
    if (n < 6) {
      EXPECT_TRUE(same_bits(d.y[1], want[n - 1])) << n;
    }
    if (n == 3) {
      EXPECT_TRUE(d.d[2] == 0.0 && d.d[3] == 0.0) << n;
    }
  }
  Outcome z = Call("ExpGrow2").params({0.6, 0.4, 2.5, 1.3, 0.0, 0.0}).x(x).run(REQ_VALUE | REQ_DERIV);
  expect_failed(z, "p6 = 0");
  EXPECT_TRUE(z.no_deriv_written());
}

TEST(Kinetic, OnsetTermsAndFailures) {
  const std::vector<double> p = {0.5, 1.0, 2.0, 0.5, -1.0, 1.5, 3.0, -0.25};  // p8 < 0
  // Before the onset: y = p1 whatever the terms, errno untouched.
  Outcome before = Call("Kinetic").params(p).x(0.5).errno_in(34).run(REQ_VALUE);
  EXPECT_TRUE(before.rc == 0 && before.y[1] == 0.5 && before.err == 34);
  const double u = 1.0 - 2.0;
  const double one = 0.5 + std::exp(u / 0.5) * 2.0, two = one + std::exp(u / 1.5) * -1.0;
  const double want[] = {0.5, 0.5, 0.5, one, one, two, two};
  for (int n = 1; n <= 7; ++n) {
    Outcome r = Call("Kinetic").params(p).nparams(n).x(2.0).run(REQ_VALUE);
    EXPECT_EQ(r.rc, 0) << n;
    EXPECT_TRUE(same_bits(r.y[1], want[n - 1])) << n;
  }
  expect_failed(Call("Kinetic").params(p).x(2.0).run(REQ_VALUE), "p8 < 0");
  expect_failed(Call("Kinetic").params(p).nparams(0).x(2.0).run(REQ_VALUE), "n = 0");
  expect_failed(Call("Kinetic").params(p).nparams(4).x(2.0).errno_in(34).run(REQ_VALUE), "stale");
  // At the onset every exponential is 1.
  Outcome at = Call("Kinetic").params({0.5, 1.0, 2.0, 0.5, -1.0, 1.5, 3.0, 0.25}).x(1.0).run(REQ_VALUE);
  EXPECT_EQ(at.y[1], 0.5 + 2.0 - 1.0 + 3.0);
}

}  // namespace
