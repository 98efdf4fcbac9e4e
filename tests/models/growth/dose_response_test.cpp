// Dose-response and saturation curves through the public interface.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <vector>

#include "support/model_call.h"

namespace {

constexpr double kLn10 = 2.302585093;

// Request frames: 'v' value-then-derivatives, 'e' exclusive, 'o' value-only.
struct Shape {
  const char *name;
  std::vector<double> p;
  char kind;
};

const Shape kShapes[] = {
    {"Hill", {3, 1.5, 2.2}, 'v'},
    {"Hill1", {0.5, 3, 1.5, 2.2}, 'v'},
    {"BiHill", {2, 0.8, 5, 1.5, 2}, 'v'},
    {"BiDoseResp", {0.2, 3, 0.1, 1.2, 1.5, 0.8, 0.4}, 'e'},
    {"Response2", {0.2, 3, 2, 0.1, 1.2, 1.5, 0.8}, 'e'},
    {"BoltzIV", {2, 0.7, 1.5, -1}, 'e'},
    {"MichaelisMenten", {3, 1.5}, 'e'},
    {"MWChang", {2, 0.5, 0.3, 1.5, 0.7}, 'o'},
    {"BatesWatts", {2, 0.5, 3}, 'o'},
    {"Nelder", {0.4, 1.2, 0.5, 0.3}, 'v'},
};

TEST(DoseResponseRequests, RequestWords) {
  for (const Shape &s : kShapes) {
    const int n = static_cast<int>(s.p.size());
    const Call call = Call(s.name).params(s.p).x(2.0, 1.0);
    for (int32_t req : {1, 3, 7, 15, 0, 8}) {
      Outcome r = call.run(req);
      EXPECT_EQ(r.rc, (req & 1) && s.kind != 'o' ? 1 : 0) << s.name << " " << req;
      EXPECT_TRUE(r.nothing_written()) << s.name << " " << req;  // BiHill: y[1] was finite
    }
    Outcome v = call.run(REQ_VALUE);
    EXPECT_TRUE(v.rc == 0 && v.y_written(1) && !v.y_written(2) && v.no_deriv_written()) << s.name;
    Outcome d = call.run(REQ_DERIV);
    EXPECT_EQ(d.rc, 0) << s.name;
    EXPECT_EQ(d.y_written(1), s.kind != 'o') << s.name;
    EXPECT_TRUE(s.kind == 'o' ? d.no_deriv_written() : d.d_written(n) && !d.d_written(n + 1));
    Outcome both = call.run(REQ_VALUE | REQ_DERIV);
    EXPECT_TRUE(both.y_written(1)) << s.name;
    EXPECT_EQ(both.d_written(1), s.kind == 'v') << s.name;
  }
  // A successful value exit (x = 0, plateau) goes on to the derivatives; a failure ends the call.
  Outcome h = Call("Hill").params({3, 1.5, 2}).x(0.0).run(REQ_VALUE | REQ_DERIV);
  EXPECT_TRUE(h.rc == 0 && h.d[3] == 0.0);
  Outcome h1 = Call("Hill1").params({0.5, 3, 10, 400}).x(1.0).run(REQ_VALUE | REQ_DERIV);
  EXPECT_TRUE(h1.rc == 0 && h1.d[1] == 1.0 && h1.err == ERANGE);
  Outcome nf = Call("Nelder").params({-0.7, 0, 1, 1}).x(0.7).run(REQ_VALUE | REQ_DERIV);
  EXPECT_TRUE(nf.rc == 1 && nf.y_missing() && nf.no_deriv_written());
}

TEST(Hill, ValuesAndDerivatives) {
  const std::vector<double> p = {3, 1.5, 2.2};
  Outcome v = Call("Hill").params(p).x(2.0).run(REQ_VALUE);
  EXPECT_TRUE(same_bits(v.y[1], 3 / (std::pow(0.75, 2.2) + 1)));
  EXPECT_EQ(v.err, kNeutralErrno);
  for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
    Outcome up = Call("Hill").params({3, 1.5, 2}).x(0.0).run(req);
    Outcome down = Call("Hill").params({3, 1.5, -2}).x(0.0).run(req);
    EXPECT_EQ(up.y[1], 0.0);
    EXPECT_EQ(down.y[1], 3.0);
    if (req == REQ_DERIV) {
      EXPECT_TRUE(up.d[1] == 0.0 && up.d[2] == 0.0 && up.d[3] == 0.0);
    }
    for (const auto &bad : {std::vector<double>{3, -1, 2}, std::vector<double>{3, 1, 2}}) {
      Outcome f = Call("Hill").params(bad).x(bad[1] < 0 ? 1.0 : -1.0).errno_in(34).run(req);
      EXPECT_TRUE(f.rc == 1 && f.y_missing() && f.err == 0);
    }
  }
  // p2 = 0: the value is p1 (0 to a positive power), the derivatives fail.
  EXPECT_EQ(Call("Hill").params({3, 0, 2}).x(1.0).run(REQ_VALUE).y[1], 3.0);
  Outcome d0 = Call("Hill").params({3, 0, 2}).x(1.0).run(REQ_DERIV);
  EXPECT_TRUE(d0.rc == 1 && d0.y_missing() && d0.d_missing(1) && d0.d_missing(3) && d0.err == 0);
}

TEST(Hill, OverflowUnderflowAndStaleErrno) {
  // (p2/x)^p3 overflows: plateau 0; the derivative request leaves errno at 34.
  Outcome v = Call("Hill").params({3, 10, 400}).x(1.0).run(REQ_VALUE);
  EXPECT_TRUE(v.rc == 0 && v.y[1] == 0.0 && v.err == 0);
  Outcome d = Call("Hill").params({3, 10, 400}).x(1.0).run(REQ_DERIV);
  EXPECT_TRUE(d.rc == 0 && d.y[1] == 0.0 && d.d[1] == 0.0 && d.d[3] == 0.0 && d.err == ERANGE);
  // Underflow: the normal formula, errno untouched.
  Outcome uv = Call("Hill").params({3, 1, 40}).x(1e10).run(REQ_VALUE);
  Outcome ud = Call("Hill").params({3, 1, 40}).x(1e10).run(REQ_DERIV);
  EXPECT_TRUE(uv.y[1] == 3.0 && uv.err == kNeutralErrno);
  EXPECT_TRUE(ud.rc == 0 && ud.y[1] == 3.0 && ud.d[1] == 1.0 && ud.d[3] == 0.0);
  EXPECT_EQ(ud.err, kNeutralErrno);
  // Stale errno: 34 reads as the plateau, 33 as a domain error.
  EXPECT_EQ(Call("Hill").params({3, 1.5, 2}).x(2.0).errno_in(34).run(REQ_VALUE).y[1], 0.0);
  Outcome s33 = Call("Hill").params({3, 1.5, 2}).x(2.0).errno_in(33).run(REQ_VALUE);
  EXPECT_TRUE(s33.rc == 1 && s33.y_missing() && s33.err == 0);
  Outcome s34 = Call("Hill").params({3, 1.5, 2}).x(2.0).errno_in(34).run(REQ_DERIV);
  EXPECT_TRUE(s34.rc == 0 && s34.y[1] == 0.0 && s34.err == ERANGE);
  // ln(p2/x) fails (p2/x underflows to 0): rc 1, y valid, only d3 missing.
  Outcome lg = Call("Hill").params({2, 1e-200, 1.5}).x(1e200).run(REQ_DERIV);
  EXPECT_TRUE(lg.rc == 1 && lg.y[1] == 2.0 && lg.d[1] == 1.0 && lg.err == 0);
  EXPECT_TRUE(lg.d_missing(3) && lg.d_written(2) && !lg.d_missing(2));
}

TEST(Hill1, ValuesAndExits) {
  const std::vector<double> p = {0.5, 3, 1.5, 2.2};
  Outcome v = Call("Hill1").params(p).x(2.0).run(REQ_VALUE);
  EXPECT_TRUE(same_bits(v.y[1], (3 - 0.5) / (std::pow(0.75, 2.2) + 1) + 0.5));
  Outcome z = Call("Hill1").params(p).x(0.0).run(REQ_DERIV);
  EXPECT_TRUE(z.rc == 0 && z.y[1] == 0.5 && z.d[1] == 1.0 && z.d[2] == 0.0 && z.d[3] == 0.0 &&
              z.d[4] == 0.0);
  EXPECT_EQ(Call("Hill1").params(p).x(0.0).run(REQ_VALUE).y[1], 0.5);
  Outcome f = Call("Hill1").params({0.5, 3, -1, 2}).x(1.0).run(REQ_DERIV);
  EXPECT_TRUE(f.rc == 1 && f.y_missing() && f.d_missing(1) && f.d_missing(4) && f.err == 0);
  // Overflow: plateau p1; the derivative request leaves errno at 34.
  Outcome ov = Call("Hill1").params({0.5, 3, 10, 400}).x(1.0).run(REQ_VALUE);
  EXPECT_TRUE(ov.rc == 0 && ov.y[1] == 0.5 && ov.err == 0);
  Outcome od = Call("Hill1").params({0.5, 3, 10, 400}).x(1.0).run(REQ_DERIV);
  EXPECT_TRUE(od.rc == 0 && od.y[1] == 0.5 && od.d[1] == 1.0 && od.d[4] == 0.0);
  EXPECT_EQ(od.err, ERANGE);
  // Underflow: y = p2 by the normal formula.
  Outcome un = Call("Hill1").params({0.5, 3, 1, 40}).x(1e10).run(REQ_DERIV);
  EXPECT_TRUE(un.rc == 0 && un.y[1] == 3.0 && un.d[2] == 1.0 && un.err == kNeutralErrno);
  // p3 = 0 passes the derivative guard but ln(0) fails: rc 1 with y valid, d4 missing.
  Outcome lg = Call("Hill1").params({0.5, 3, 0, 2}).x(1.0).run(REQ_DERIV);
  EXPECT_TRUE(lg.rc == 1 && lg.y[1] == 3.0);
  EXPECT_TRUE(lg.d_missing(4) && lg.d_written(3) && lg.d[2] == 1.0 && lg.err == 0);
}

TEST(BiHill, GuardsLeaveErrnoAndNonFiniteValue) {
  Outcome z = Call("BiHill").params({2, 0.8, 5, 1.5, 2}).x(0.0).errno_in(33).run(REQ_DERIV);
  EXPECT_TRUE(z.rc == 1 && z.y_missing() && z.err == 33);
  for (int i = 1; i <= 5; ++i) EXPECT_TRUE(z.d_missing(i)) << i;
  EXPECT_FALSE(z.d_written(6));
  Outcome zv = Call("BiHill").params({2, 0.8, 5, 1.5, 2}).x(0.0).run(REQ_VALUE);
  EXPECT_TRUE(zv.rc == 1 && zv.y_missing() && zv.no_deriv_written() && zv.err == kNeutralErrno);
  // D = 0 ((p2/x)^p4 = -1): guard failure, no derivatives.
  Outcome d0 = Call("BiHill").params({2, -1, 5, 1, 2}).x(1.0).run(REQ_DERIV);
  EXPECT_TRUE(d0.rc == 1 && d0.y_missing() && d0.no_deriv_written() && d0.err == kNeutralErrno);
  // No errno test: a stale 34 neither fails nor is reset.
  Outcome st = Call("BiHill").params({2, 0.8, 5, 1.5, 2}).x(1.3).errno_in(34).run(REQ_VALUE);
  EXPECT_TRUE(st.rc == 0 && st.err == 34);
  EXPECT_TRUE(
      same_bits(st.y[1], 2 / ((std::pow(0.8 / 1.3, 1.5) + 1) * (std::pow(1.3 / 5, 2) + 1))));
  Outcome inf = Call("BiHill").params({INFINITY, 0.8, 5, 1.5, 2}).x(1.3).run(REQ_DERIV);
  EXPECT_TRUE(inf.rc == 0 && inf.y_missing() && inf.d_written(5));
}

TEST(BiDoseResp, SidesAndSingleSigmoid) {
  const std::vector<double> p = {0.2, 3, 0.1, 1.2, 1.5, 0.8, 0.4};
  Outcome v = Call("BiDoseResp").params(p).x(0.5).run(REQ_VALUE);
  const double e1 = std::pow(10.0, (0.1 - 0.5) * 1.5), e2 = std::pow(10.0, (1.2 - 0.5) * 0.8);
  EXPECT_TRUE(same_bits(v.y[1], ((1 - 0.4) / (e2 + 1) + 0.4 / (e1 + 1)) * (3 - 0.2) + 0.2));
  // p7 = 1: the second sigmoid drops out.
  Outcome one = Call("BiDoseResp").params({0.2, 3, 0.1, 1.2, 1.5, 0.8, 1}).x(0.5).run(REQ_DERIV);
  EXPECT_TRUE(one.d[4] == 0.0 && one.d[6] == 0.0 && one.d[3] != 0.0);
  // Overflow fails on both requests; underflow follows the formula.
  for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
    Outcome ov = Call("BiDoseResp").params({0.2, 3, 500, 1.2, 1, 0.8, 0.4}).x(0.0).run(req);
    EXPECT_TRUE(ov.rc == 1 && ov.y_missing() && ov.no_deriv_written() && ov.err == 0) << req;
    Outcome un = Call("BiDoseResp").params({0.2, 3, -500, 1.2, 1, 0.8, 0.4}).x(0.0).run(req);
    EXPECT_TRUE(un.rc == 0 && un.err == kNeutralErrno);
    EXPECT_NEAR(un.y[1], 0.2 + 2.8 * (0.4 + 0.6 / (std::pow(10.0, 0.96) + 1)), 1e-14);
    Outcome st = Call("BiDoseResp").params(p).x(0.5).errno_in(33).run(req);
    EXPECT_TRUE(st.rc == 1 && st.y_missing() && st.err == 0);
  }
  // A zero slope gives the finite slope derivative -dl*p7*ln10*(p3 - x)/4.
  Outcome flat = Call("BiDoseResp").params({0.2, 3, 0.1, 1.2, 0, 0, 0.4}).x(0.5).run(REQ_DERIV);
  EXPECT_NEAR(flat.d[5], -2.8 * 0.4 * kLn10 * (0.1 - 0.5) / 4, 1e-14);
  EXPECT_NEAR(flat.d[6], -2.8 * 0.6 * kLn10 * (1.2 - 0.5) / 4, 1e-14);
}

TEST(Response2, ValueGuardsAndStaleErrno) {
  const std::vector<double> p = {0.2, 3, 2, 0.1, 1.2, 1.5, 0.8};
  for (int n : {0, 6}) {
    for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
      Outcome f = Call("Response2").params(p).nparams(n).x(0.5).run(req);
      EXPECT_TRUE(f.rc == 1 && f.y_missing() && f.err == 0 && f.no_deriv_written()) << n;
    }
  }
  for (const auto &bad :
       {std::vector<double>{4, 3, 5, 0, 0, 1, 1}, std::vector<double>{4, 5, 3, 0, 0, 1, 1}}) {
    EXPECT_EQ(Call("Response2").params(bad).run(REQ_VALUE).rc, 1);
  }
  EXPECT_EQ(Call("Response2").params({NAN, 3, 2, 0, 0, 1, 1}).run(REQ_VALUE).rc, 0);
  Outcome st = Call("Response2").params(p).x(0.5).errno_in(33).run(REQ_VALUE);
  EXPECT_TRUE(st.rc == 0 && st.y[1] == 5.0 && st.err == 0);
  // Value overflow: the limit through 1/inf, errno left at 34.
  Outcome ov = Call("Response2").params({0.2, 3, 2, 0, 0, 500, 0.8}).x(1.0).run(REQ_VALUE);
  EXPECT_TRUE(ov.rc == 0 && ov.err == ERANGE);
  EXPECT_NEAR(ov.y[1], 0.2 + 1.8 / (std::pow(10.0, -0.8) + 1), 1e-14);
}

TEST(Response2, DerivativeOverflowLimits) {
  const std::vector<double> p = {0.2, 3, 2, 0.1, 1.2, 1.5, 0.8};
  Outcome g = Call("Response2").params(p).x(0.5).run(REQ_DERIV);
  const double e1 = std::pow(10.0, (0.5 - 0.1) * 1.5), s1 = 1 / (e1 + 1);
  EXPECT_TRUE(same_bits(g.d[4], (3 - 0.2) * (s1 * s1) * 1.5 * kLn10 * e1));
  EXPECT_EQ(g.err, kNeutralErrno);
  // A stale 34 on entry: the fixed substitute.
  Outcome st = Call("Response2").params(p).x(0.5).errno_in(34).run(REQ_DERIV);
  const double fixed[] = {1, 0, 0, 1, 1, -1, 1};
  for (int i = 1; i <= 7; ++i) EXPECT_EQ(st.d[i], fixed[i - 1]) << i;
  EXPECT_TRUE(st.rc == 0 && st.y[1] == 5.0 && st.err == 0);
  // First power overflows (x >> p4), second, both: the overflowing sigmoid contributes 0.
  struct Case {
    double x, p4, p5;
    bool over1, over2;
  };
  for (const Case c : {Case{400, 0, 0, true, false}, Case{-400, 0, 0, false, true},
                       Case{0, -400, 400, true, true}}) {
    Outcome r = Call("Response2").params({0.2, 3, 2, c.p4, c.p5, 1, 1}).x(c.x).run(REQ_DERIV);
    EXPECT_TRUE(r.rc == 0 && r.err == 0);
    for (int i = 1; i <= 7; ++i) EXPECT_FALSE(std::isnan(r.d[i])) << c.x << " d" << i;
    if (c.over1) {
      EXPECT_TRUE(r.d[2] == 0.0 && r.d[4] == 0.0 && r.d[6] == 0.0);
    }
    if (c.over2) {
      EXPECT_TRUE(r.d[3] == 0.0 && r.d[5] == 0.0 && r.d[7] == 0.0);
    }
    const double want = 0.2 + (c.over1 ? 0.0 : 2.8) + (c.over2 ? 0.0 : 1.8);
    EXPECT_NEAR(r.y[1], want, 1e-12) << c.x;
    EXPECT_NEAR(r.d[1], 1.0 - (c.over1 ? 0.0 : 1.0) - (c.over2 ? 0.0 : 1.0), 1e-12);
  }
  // A stale 33 is not read by the derivatives.
  Outcome s33 = Call("Response2").params(p).x(0.5).errno_in(33).run(REQ_DERIV);
  EXPECT_TRUE(same_bits(s33.d[4], g.d[4]) && s33.err == 33);
}

TEST(BoltzIV, PlateauFarSideAndGuards) {
  for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
    for (double xx : {2.0 + 0.7 * 666, 2.0 + 0.7 * 800}) {  // beyond the cap
      Outcome r = Call("BoltzIV").params({2, 0.7, 1.5, -1}).x(xx).run(req);
      EXPECT_TRUE(r.rc == 0 && r.y[1] == 0.0 && r.err == 0) << req;
      if (req == REQ_DERIV) {
        for (int i = 1; i <= 4; ++i) EXPECT_EQ(r.d[i], 0.0) << i;
      }
    }
    Outcome far = Call("BoltzIV").params({2, 0.7, 1.5, -1}).x(-1000).run(req);
    EXPECT_EQ(far.y[1], (-1000 + 1) * 1.5);
    EXPECT_EQ(far.err, kNeutralErrno);
    if (req == REQ_DERIV) {
      EXPECT_TRUE(far.d[1] == 0.0 && far.d[3] == -999.0 && far.d[4] == -1.5);
    }
    Outcome st = Call("BoltzIV").params({2, 0.7, 1.5, -1}).x(1.0).errno_in(33).run(req);
    EXPECT_TRUE(st.rc == 0 && st.y[1] == 0.0 && st.err == 0);
  }
  Outcome v = Call("BoltzIV").params({2, 0.7, 1.5, -1}).x(1.0).run(REQ_VALUE);
  EXPECT_TRUE(same_bits(v.y[1], (1.0 + 1) * 1.5 / (std::exp((1.0 - 2) / 0.7) + 1)));
  for (int n : {0, 3}) {
    for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
      Outcome f = Call("BoltzIV").params({2, .7, 1.5, -1}).nparams(n).x(1.0).run(req);
      EXPECT_TRUE(f.rc == 1 && f.y_missing() && f.no_deriv_written()) << n;
    }
  }
  // p2 = 0 fails the value; |p2| < 1e-18 fails only the derivatives.
  EXPECT_EQ(Call("BoltzIV").params({2, 0, 1.5, -1}).x(1.0).run(REQ_VALUE).rc, 1);
  EXPECT_EQ(Call("BoltzIV").params({2, 1e-19, 1.5, -1}).x(1.0).run(REQ_VALUE).rc, 0);
  Outcome tiny = Call("BoltzIV").params({2, -1e-19, 1.5, -1}).x(1.0).run(REQ_DERIV);
  EXPECT_TRUE(tiny.rc == 1 && tiny.y_missing() && tiny.no_deriv_written() && tiny.err == 0);
}

TEST(MichaelisMenten, GuardsAndStaleErrno) {
  Outcome v = Call("MichaelisMenten").params({3, 1.5}).x(2.0).run(REQ_VALUE);
  EXPECT_TRUE(same_bits(v.y[1], 2.0 * 3 / (2.0 + 1.5)));
  for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
    Outcome z = Call("MichaelisMenten").params({3, 1.5}).x(0.0).run(req);
    EXPECT_TRUE(z.rc == 0 && z.y[1] == 0.0);
    for (double p2 : {0.0, -1.0}) {
      Outcome f = Call("MichaelisMenten").params({3, p2}).x(1.0).run(req);
      EXPECT_TRUE(f.rc == 1 && f.y_missing() && f.err == 0);
      if (req == REQ_DERIV) {
        EXPECT_TRUE(f.d_missing(1) && f.d_missing(2));
      }
    }
    EXPECT_EQ(Call("MichaelisMenten").params({3, 1.5}).x(-1.0).run(req).rc, 1);
  }
  Outcome s34v = Call("MichaelisMenten").params({3, 1.5}).x(2.0).errno_in(34).run(REQ_VALUE);
  EXPECT_TRUE(s34v.rc == 0 && s34v.y[1] == 0.0 && s34v.err == 0);
  Outcome s34d = Call("MichaelisMenten").params({3, 1.5}).x(2.0).errno_in(34).run(REQ_DERIV);
  EXPECT_TRUE(s34d.rc == 0 && s34d.y[1] == 0.0 && s34d.d[1] == 0.0 && s34d.err == ERANGE);
  Outcome s33v = Call("MichaelisMenten").params({3, 1.5}).x(2.0).errno_in(33).run(REQ_VALUE);
  EXPECT_TRUE(s33v.rc == 1 && s33v.y_missing() && s33v.err == 0);
  Outcome s33d = Call("MichaelisMenten").params({3, 1.5}).x(2.0).errno_in(33).run(REQ_DERIV);
  EXPECT_TRUE(s33d.rc == 1 && s33d.y_missing() && s33d.err == 0);
  EXPECT_TRUE(same_bits(s33d.d[1], 2.0 / 3.5));  // kept
}

TEST(MWChang, ValueAndPowerDomainCheck) {
  const double x = 2.0, q2 = 1 + 0.3 * x;
  Outcome v = Call("MWChang").params({2, 0.5, 0.3, 1.5, 0.7}).x(x).run(REQ_VALUE);
  EXPECT_TRUE(v.rc == 0 && same_bits(v.y[1], (q2 - 1) * 2 / q2) && v.err == 0);
  // p2, p4, p5 do not enter the value; an overflowing power is ignored.
  Outcome o = Call("MWChang").params({2, 1e10, 0.3, 1e10, 1e5}).x(x).run(REQ_VALUE);
  EXPECT_TRUE(o.rc == 0 && same_bits(o.y[1], v.y[1]) && o.err == 0);
  // Negative base to a non-integer power: a domain error fails the call.
  Outcome dom = Call("MWChang").params({2, 0.5, 0.3, -1.5, 0.7}).x(x).run(REQ_VALUE);
  EXPECT_TRUE(dom.rc == 1 && dom.y_missing() && dom.err == 0);
  EXPECT_EQ(Call("MWChang").params({2, 0.5, 0.3, 1.5, 0.7}).x(x).errno_in(33).run(REQ_VALUE).rc, 1);
  for (const auto &p :
       {std::vector<double>{2, -0.5, 0.3, 1, 1}, std::vector<double>{2, 0.5, -0.5, 1, 1}}) {
    Outcome f = Call("MWChang").params(p).x(x).run(REQ_VALUE);
    EXPECT_TRUE(f.rc == 1 && f.y_missing() && f.err == 0);
  }
  Outcome z = Call("MWChang").params({0, 0.5, 0.3, -1.5, 0.7}).x(x).run(REQ_VALUE);
  EXPECT_TRUE(z.rc == 0 && z.y[1] == 0.0 && z.err == kNeutralErrno);
}

TEST(BatesWatts, TwoIndependentVariables) {
  int16_t ni = 0, nd = 0, np = 0;
  ASSERT_NE(Get_Func("BatesWatts", &ni, &nd, &np, nullptr), nullptr);
  EXPECT_TRUE(ni == 2 && nd == 1 && np == 3);
  Outcome v = Call("BatesWatts").params({2, 0.5, 3}).x(1.5, 4.0).run(REQ_VALUE);
  EXPECT_TRUE(v.rc == 0 && same_bits(v.y[1], 3.0 * 2 * 1.5 / (0.5 * 4.0 + (1.5 * 2 + 1))));
  EXPECT_EQ(v.err, kNeutralErrno);
  Outcome z = Call("BatesWatts").params({2, 0.5, 3}).x(0.0, -2.0).run(REQ_VALUE);
  EXPECT_TRUE(z.rc == 1 && z.y_missing() && z.err == 0);  // D = 0
  EXPECT_EQ(Call("BatesWatts").params({2, 0.5, 3}).x(0.0, 4.0).run(REQ_VALUE).y[1], 0.0);
}

TEST(Nelder, ZeroNumeratorAndZeroDenominator) {
  EXPECT_EQ(Call("Nelder").params({-0.7, 1.2, 0.5, 0.3}).x(0.7).run(REQ_VALUE).y[1], 0.0);
  Outcome d = Call("Nelder").params({-0.7, 1.2, 0.5, 0.3}).x(0.7).run(REQ_DERIV);
  EXPECT_TRUE(d.rc == 0 && d.y[1] == 0.0 && same_bits(d.d[1], 1.2 / (1.2 * 1.2)));
  for (int32_t req : {REQ_VALUE, REQ_DERIV}) {
    Outcome f = Call("Nelder").params({-0.7, 0, 1, 1}).x(0.7).run(req);  // u = 0, D = 0
    EXPECT_TRUE(f.rc == 1 && f.y_missing() && f.err == 0);
    EXPECT_EQ(f.d_missing(4), req == REQ_DERIV);
  }
}

}  // namespace
