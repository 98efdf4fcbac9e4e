// Core peak models (Gauss, Lorentz, Asym2Sig, asymptgauss, Pulse) through the public interface.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/model_call.h"

namespace {

using V = std::vector<double>;
constexpr double kPi = 3.141592653589793;

double gauss_peak(double x, double xc, double w, double A) {
  return std::exp(-2.0 * std::pow((x - xc) / w, 2)) * A / (w * 1.253314137316);
}
double lorentz_peak(double x, double xc, double w, double A) {
  return 2.0 * A / kPi * w / (4.0 * (x - xc) * (x - xc) + w * w);
}
double asym_peak(double x, double xc, double A, double w1, double w2, double w3) {
  return A / (1.0 + std::exp(-(x - xc + w1 / 2) / w2)) *
         (1.0 - 1.0 / (1.0 + std::exp(-(x - xc - w1 / 2) / w3)));
}
void expect_failure(const Outcome &r, int err = 0) {
  EXPECT_EQ(r.rc, 1);
  EXPECT_TRUE(r.y_missing(1));
  EXPECT_EQ(r.err, err);
}
void expect_missing(const Outcome &r, int first, int last) {
  for (int i = first; i <= last; ++i) EXPECT_TRUE(r.d_missing(i)) << "d" << i;
}

TEST(CorePeaks, RequestWordsAndQueryAnswers) {
  struct Case { const char *name; V p; int32_t reserved_rc; bool answers_query; };
  const Case cases[] = {{"Gauss", {0.5, 0.1, 1.2, 2.0}, 1, false},
                        {"Lorentz", {0.5, 0.1, 1.2, 2.0}, 1, true},
                        {"Asym2Sig", {0.5, 0.1, 2.0, 1.0, 0.5, 0.7}, 0, true},
                        {"AsymDblSig", {0.5, 0.1, 2.0, 1.0, 0.5, 0.7}, 0, true},
                        {"asymptgauss", {0.2, 0.3, 0.8, 1.5, 2.0}, 1, false},
                        {"Pulse", {0.1, 0.5, 3.0, 0.8, 1.7, 2.5}, 1, true}};
  for (const Case &c : cases) {
    Outcome r1 = Call(c.name).params(c.p).x(0.4).run(REQ_RESERVED | REQ_VALUE);
    EXPECT_EQ(r1.rc, c.reserved_rc) << c.name;
    EXPECT_TRUE(r1.nothing_written()) << c.name;
    Outcome r0 = Call(c.name).params(c.p).x(0.4).run(0);
    EXPECT_EQ(r0.rc, 0) << c.name;
    EXPECT_TRUE(r0.nothing_written()) << c.name;
    for (int32_t req : {REQ_QUERY, REQ_QUERY | REQ_VALUE | REQ_DERIV}) {
      Outcome q = Call(c.name).params(c.p).x(0.4).run(req);
      if (c.answers_query) {
        EXPECT_EQ(q.rc, QUERY_REPLY_NONE) << c.name;
        EXPECT_EQ(q.query_word(), 0) << c.name;
        EXPECT_TRUE(q.no_deriv_written() && !q.y_written(1)) << c.name;
      } else if (req == REQ_QUERY) {  // a request with neither bit 1 nor bit 2
        EXPECT_EQ(q.rc, 0) << c.name;
        EXPECT_TRUE(q.nothing_written()) << c.name;
      }
    }
  }
}

TEST(Gauss, PeaksBlocksAndSwitchedOffPeaks) {
  const V p = {0.5, 0.1, 1.2, 2.0, 1.5, 0.8, -1.0};
  Outcome v = Call("Gauss").params(p).x(0.9).run(REQ_VALUE);
  EXPECT_EQ(v.rc, 0);
  EXPECT_DOUBLE_EQ(v.y[2], gauss_peak(0.9, 0.1, 1.2, 2.0));
  EXPECT_DOUBLE_EQ(v.y[3], gauss_peak(0.9, 1.5, 0.8, -1.0));
  EXPECT_TRUE(same_bits(v.y[1], 0.5 + v.y[2] + v.y[3]));
  EXPECT_TRUE(!v.y_written(4) && v.no_deriv_written());
  Outcome d = Call("Gauss").params(p).x(0.9).run(REQ_DERIV);
  EXPECT_EQ(d.rc, 0);
  EXPECT_NEAR(d.y[1], v.y[1], 1e-12);  // the derivative pass uses a rounded sqrt(2)
  EXPECT_TRUE(d.d[1] == 1.0 && d.d_written(7) && !d.d_written(8) && d.y_written(3));
  // n = 5 or 6 is one peak; n = 1..3 the baseline alone.
  for (int n : {1, 3, 5, 6}) {
    Outcome r = Call("Gauss").params(p).nparams(n).x(0.9).run(REQ_VALUE | REQ_DERIV);
    EXPECT_EQ(r.rc, 0);
    EXPECT_NEAR(r.y[1], n < 4 ? 0.5 : 0.5 + v.y[2], 1e-12);
    EXPECT_TRUE(!r.y_written(n < 4 ? 2 : 3) && !r.d_written(n < 4 ? 2 : 5)) << n;
  }
  // A zero area switches a peak off, even with a zero width.
  const V off = {0.5, 0.1, 0.0, 0.0, 1.5, 0.8, -1.0};
  Outcome ov = Call("Gauss").params(off).x(0.9).run(REQ_VALUE);
  EXPECT_EQ(ov.rc, 0);
  EXPECT_TRUE(!ov.y_written(2) && same_bits(ov.y[1], 0.5 + ov.y[3]));
  Outcome od = Call("Gauss").params(off).x(0.9).run(REQ_DERIV);
  EXPECT_EQ(od.rc, 0);
  EXPECT_EQ(od.d[1], 1.0);
  for (int i = 2; i <= 4; ++i) EXPECT_TRUE(same_bits(od.d[i], 0.0)) << i;
  EXPECT_TRUE(!od.y_written(2) && od.y_written(3));
}

TEST(Gauss, WidthsCentreAndFailures) {
  // A negative width: a negative peak for values, a failure for derivatives.
  const V neg = {0.0, 0.1, -1.0, 2.0};
  EXPECT_LT(Call("Gauss").params(neg).x(0.3).run(REQ_VALUE).y[2], 0.0);
  Outcome d = Call("Gauss").params(neg).x(0.3).run(REQ_DERIV);
  expect_failure(d);
  expect_missing(d, 1, 4);
  // At the centre dxc is 0.
  Outcome c = Call("Gauss").params({0.5, 0.3, 1.2, 2.0}).x(0.3).run(REQ_DERIV);
  EXPECT_TRUE(c.rc == 0 && same_bits(c.d[2], 0.0));
  EXPECT_NEAR(c.d[3], -2.0 / (1.2 * 1.2 * 1.253314137316), 1e-12);
  // A zero width in the second peak: the first peak's outputs stay.
  const V p = {0.5, 0.1, 1.2, 2.0, 1.5, 0.0, -1.0};
  Outcome fv = Call("Gauss").params(p).x(0.9).run(REQ_VALUE);
  expect_failure(fv);
  EXPECT_TRUE(fv.y_written(2) && !fv.y_written(3));
  Outcome fd = Call("Gauss").params(p).x(0.9).run(REQ_DERIV);
  expect_failure(fd);
  EXPECT_TRUE(fd.d_missing(1) && fd.y_written(2) && !fd.y_written(3));
  for (int i = 2; i <= 4; ++i) EXPECT_TRUE(fd.d_written(i) && !fd.d_missing(i)) << i;
  expect_missing(fd, 5, 7);
  // No parameters; a stale errno (values test 34 and 33, derivatives 34 only).
  expect_failure(Call("Gauss").params({}).nparams(0).x(0.3).run(REQ_VALUE));
  Outcome n0 = Call("Gauss").params({1.0}).nparams(0).x(0.3).run(REQ_DERIV);
  expect_failure(n0);
  EXPECT_TRUE(n0.no_deriv_written());
  const V one = {0.5, 0.1, 1.2, 2.0};
  for (int e : {34, 33}) expect_failure(Call("Gauss").params(one).x(0.3).errno_in(e).run(2));
  Outcome d34 = Call("Gauss").params(one).x(0.3).errno_in(34).run(REQ_DERIV);
  expect_failure(d34);
  expect_missing(d34, 1, 4);
  Outcome d33 = Call("Gauss").params(one).x(0.3).errno_in(33).run(REQ_DERIV);
  EXPECT_TRUE(d33.rc == 0 && d33.err == 33);
}

TEST(Lorentz, PeaksAndWidths) {
  Outcome c = Call("Lorentz").params({0.5, 0.3, 1.2, 2.0}).x(0.3).run(REQ_VALUE);
  EXPECT_EQ(c.rc, 0);
  EXPECT_DOUBLE_EQ(c.y[1], 0.5 + 2.0 * 2.0 / (kPi * 1.2));
  // Later widths are not tested (negative here) and zero areas are not switched off.
  const V p = {0.5, 0.1, 1.2, 2.0, 1.5, -0.8, 0.0, 2.0, 0.4, 1.0};
  Outcome v = Call("Lorentz").params(p).nparams(7).x(0.9).run(REQ_VALUE | REQ_DERIV);
  EXPECT_EQ(v.rc, 0);
  EXPECT_DOUBLE_EQ(v.y[2], lorentz_peak(0.9, 0.1, 1.2, 2.0));
  EXPECT_TRUE(v.y_written(3) && v.y[3] == 0.0 && !v.y_written(4));
  EXPECT_TRUE(v.d_written(7) && !v.d_written(8));
  Outcome three = Call("Lorentz").params(p).x(0.9).run(REQ_VALUE);
  EXPECT_DOUBLE_EQ(three.y[4], lorentz_peak(0.9, 2.0, 0.4, 1.0));
  // p3 <= 0 fails; the derivative request writes MISSING_VALUE into d1..d4 only.
  const V bad = {0.5, 0.1, 0.0, 2.0, 1.5, 0.8, 1.0};
  expect_failure(Call("Lorentz").params(bad).x(0.9).run(REQ_VALUE));
  Outcome d = Call("Lorentz").params(bad).x(0.9).run(REQ_DERIV);
  expect_failure(d);
  expect_missing(d, 1, 4);
  EXPECT_FALSE(d.d_written(5));
  EXPECT_EQ(Call("Lorentz").params({0.5, 0.1, NAN, 2.0}).x(0.9).run(REQ_VALUE).rc, 0);
  // No peak (n = 1..3): the baseline, p3 not looked at; n < 1 fails.
  for (int n : {1, 2, 3}) {
    Outcome b = Call("Lorentz").params({0.5, 0.1, -1.0}).nparams(n).x(0.9).run(6);
    EXPECT_TRUE(b.rc == 0 && b.y[1] == 0.5 && b.d[1] == 1.0) << n;
    EXPECT_TRUE(!b.d_written(2) && !b.y_written(2)) << n;
  }
  expect_failure(Call("Lorentz").params({0.5}).nparams(0).x(0.9).run(REQ_VALUE));
  Outcome n0 = Call("Lorentz").params({0.5}).nparams(0).x(0.9).run(REQ_DERIV);
  expect_failure(n0);
  EXPECT_TRUE(n0.no_deriv_written());  // no parameters: nothing to write
  // A zero denominator in the second peak keeps the first peak's value.
  Outcome z = Call("Lorentz").params({0.5, 0.1, 1.2, 2.0, 0.9, 0.0, 1.0}).x(0.9).run(2);
  expect_failure(z);
  EXPECT_TRUE(z.y_written(2) && !z.y_written(3));
  // No errno test anywhere.
  Outcome e = Call("Lorentz").params({0.5, 0.1, 1.2, 2.0}).x(0.9).errno_in(34).run(6);
  EXPECT_TRUE(e.rc == 0 && e.err == 34);
}

TEST(Asym2Sig, PeaksAndSwitchedOffPeaks) {
  const V p = {0.5, 0.1, 2.0, 1.0, 0.5, 0.7, 2.0, -1.0, 0.6, 0.3, 0.4};
  Outcome v = Call("Asym2Sig").params(p).x(0.8).run(REQ_VALUE | REQ_DERIV);
  EXPECT_EQ(v.rc, 0);
  EXPECT_DOUBLE_EQ(v.y[2], asym_peak(0.8, 0.1, 2.0, 1.0, 0.5, 0.7));
  EXPECT_DOUBLE_EQ(v.y[3], asym_peak(0.8, 2.0, -1.0, 0.6, 0.3, 0.4));
  EXPECT_TRUE(same_bits(v.y[1], 0.5 + v.y[2] + v.y[3]));
  EXPECT_TRUE(!v.y_written(4) && v.no_deriv_written());
  EXPECT_FALSE(Call("Asym2Sig").params(p).nparams(10).x(0.8).run(2).y_written(3));
  Outcome d = Call("Asym2Sig").params(p).x(0.8).run(REQ_DERIV);  // returns bit 2
  EXPECT_TRUE(d.rc == 1 && d.nothing_written() && d.err == kNeutralErrno);
  V off = p;
  off[2] = 0.0;
  off[4] = 0.0;
  Outcome o = Call("Asym2Sig").params(off).x(0.8).run(REQ_VALUE);
  EXPECT_TRUE(o.rc == 0 && !o.y_written(2) && same_bits(o.y[1], 0.5 + o.y[3]));
  for (int i : {9, 10}) {  // w2 or w3 of the second peak exactly 0
    V bad = p;
    bad[i] = 0.0;
    Outcome f = Call("Asym2Sig").params(bad).x(0.8).run(REQ_VALUE);
    expect_failure(f);
    EXPECT_TRUE(f.y_written(2) && !f.y_written(3));
  }
  expect_failure(Call("Asym2Sig").params({}).nparams(0).x(0.8).run(REQ_VALUE));
}

TEST(Asym2Sig, ExponentialOverflow) {
  // Far outside a sharp left edge the peak is skipped (its value is 0 there).
  Outcome left = Call("Asym2Sig").params({0.5, 0.0, 2.0, 1.0, 0.001, 0.5}).x(-5.0).run(2);
  EXPECT_TRUE(left.rc == 0 && left.err == 0 && left.y[1] == 0.5 && !left.y_written(2));
  // Well inside a sharp right edge the right factor is 1 and the peak is kept.
  Outcome in = Call("Asym2Sig").params({0.5, 0.0, 2.0, 20.0, 1.0, 0.001}).x(0.0).run(2);
  EXPECT_TRUE(in.rc == 0 && in.err == 0);
  EXPECT_DOUBLE_EQ(in.y[2], 2.0 / (1.0 + std::exp(-10.0)));
  EXPECT_DOUBLE_EQ(in.y[1], 0.5 + in.y[2]);
  // A stale errno reads as an overflow of the first peak.
  Outcome s = Call("Asym2Sig").params({0.5, 0.1, 2.0, 1.0, 0.5, 0.7}).x(0.8).errno_in(34).run(2);
  EXPECT_TRUE(s.rc == 0 && s.err == 0 && s.y[1] == 0.5);
}

TEST(AsymptGauss, SidesWidthsAndErrnoOnEntry) {
  const V p = {0.2, 0.3, 0.8, 1.5, 2.0};
  struct Side { double x, w; int used, unused; };
  for (const Side s : {Side{-0.4, 0.8, 3, 4}, Side{1.1, 1.5, 4, 3}, Side{0.3, 1.5, 4, 3}}) {
    const double g = std::exp(-(s.x - 0.3) * (s.x - 0.3) / (2 * s.w * s.w));
    Outcome v = Call("asymptgauss").params(p).x(s.x).run(REQ_VALUE | REQ_DERIV);  // exclusive
    EXPECT_TRUE(v.rc == 0 && v.no_deriv_written());
    EXPECT_DOUBLE_EQ(v.y[1], 0.2 + 2.0 * g);
    Outcome d = Call("asymptgauss").params(p).x(s.x).run(REQ_DERIV);
    EXPECT_TRUE(d.rc == 0 && d.err == kNeutralErrno && d.d[1] == 1.0 && !d.d_written(6));
    EXPECT_DOUBLE_EQ(d.y[1], v.y[1]);
    EXPECT_DOUBLE_EQ(d.d[5], g);
    EXPECT_DOUBLE_EQ(d.d[s.used], 2.0 * g * std::pow(s.x - 0.3, 2) / std::pow(s.w, 3));
    EXPECT_TRUE(same_bits(d.d[s.unused], 0.0));  // the width of the other side
  }
  // Zero widths: no test for values (the limit p1 off-centre), failure for derivatives.
  const V z = {0.2, 0.3, 0.0, 1.5, 2.0};
  Outcome v = Call("asymptgauss").params(z).x(-0.4).run(REQ_VALUE);
  EXPECT_TRUE(v.rc == 0 && v.y[1] == 0.2);
  Outcome d = Call("asymptgauss").params(z).x(1.1).run(REQ_DERIV);
  expect_failure(d);
  expect_missing(d, 1, 5);
  // errno 34 or 33 on entry fails before any request bit is looked at.
  for (int e : {34, 33})
    for (int32_t req : {REQ_VALUE, REQ_DERIV, REQ_RESERVED, 0}) {
      Outcome r = Call("asymptgauss").params(p).x(1.1).errno_in(e).run(req);
      expect_failure(r);
      EXPECT_TRUE(r.no_deriv_written());
    }
}

TEST(Pulse, ShapeOnsetAndFailures) {
  const V p = {0.1, 0.5, 3.0, 0.8, 1.7, 2.5};
  Outcome v = Call("Pulse").params(p).x(2.0).run(REQ_VALUE | REQ_DERIV);
  EXPECT_TRUE(v.rc == 0 && v.d_written(6) && !v.d_written(7));
  EXPECT_DOUBLE_EQ(v.y[1], 0.1 + 3.0 * std::pow(1 - std::exp(-1.5 / 0.8), 1.7) *
                                     std::exp(-1.5 / 2.5));
  Outcome before = Call("Pulse").params(p).x(0.2).run(REQ_VALUE | REQ_DERIV);
  EXPECT_TRUE(before.rc == 0 && before.y[1] == 0.1 && before.d[1] == 1.0);
  for (int i = 2; i <= 6; ++i) EXPECT_TRUE(same_bits(before.d[i], 0.0)) << i;
  // At the onset: y = p1, d1 = 1, d3 = 0, the others missing, return 1 with errno untouched.
  Outcome at = Call("Pulse").params(p).x(0.5).run(REQ_DERIV);
  EXPECT_TRUE(at.rc == 1 && at.y[1] == 0.1 && at.err == kNeutralErrno && at.d[1] == 1.0);
  EXPECT_TRUE(same_bits(at.d[3], 0.0));
  for (int i : {2, 4, 5, 6}) EXPECT_TRUE(at.d_missing(i)) << i;
  EXPECT_EQ(Call("Pulse").params(p).x(0.5).run(REQ_VALUE).rc, 0);
  // Fewer than six parameters fail like none, in either request, writing no deriv entry.
  for (int n : {0, 5}) {
    expect_failure(Call("Pulse").params(p).nparams(n).x(2.0).run(REQ_VALUE));
    Outcome d = Call("Pulse").params(p).nparams(n).x(2.0).run(REQ_DERIV);
    expect_failure(d);
    EXPECT_TRUE(d.no_deriv_written()) << n;
  }
  for (int i : {3, 4, 5}) {  // p4, p5 or p6 not positive
    V bad = p;
    bad[i] = 0.0;
    expect_failure(Call("Pulse").params(bad).x(2.0).run(REQ_VALUE));
    Outcome d = Call("Pulse").params(bad).x(2.0).run(REQ_DERIV);
    expect_failure(d);
    expect_missing(d, 1, 6);
  }
  // A stale errno: values fail past the onset only; derivatives fail on the exponentials
  // (34) or the power (34 or 33), keeping d1.
  for (int e : {34, 33}) {
    expect_failure(Call("Pulse").params(p).x(2.0).errno_in(e).run(REQ_VALUE));
    Outcome early = Call("Pulse").params(p).x(0.2).errno_in(e).run(REQ_VALUE);
    EXPECT_TRUE(early.rc == 0 && early.err == e);
    Outcome d = Call("Pulse").params(p).x(2.0).errno_in(e).run(REQ_DERIV);
    expect_failure(d);
    EXPECT_EQ(d.d[1], 1.0);
    expect_missing(d, 2, 6);
  }
}

}  // namespace
