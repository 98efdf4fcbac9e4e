// The engine through its public header: statistics against certified values, intervals,
// weights, held parameters, value-only models, two inputs, batches and host threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "fit_support.h"

namespace {

fittest::Points boxbod() { return fittest::parse_points("@BoxBOD"); }

struct Fit {
  std::vector<double> p, se, lo, hi, cov, corr;
  std::vector<uint8_t> flags;
  fmfit_summary s{};
  int32_t status = -1;
  explicit Fit(size_t np)
      : p(np), se(np), lo(np), hi(np), cov(np * np), corr(np * np), flags(np) {}
  fmfit_output out() {
    return fmfit_output{p.data(), se.data(), lo.data(), hi.data(), cov.data(), corr.data(),
                        flags.data()};
  }
};

Fit run(const fmfit_model &m, const fittest::Points &pts, std::vector<double> start,
        const fmfit_options *o = nullptr, const fmfit_constraints *c = nullptr) {
  Fit f(start.size());
  fmfit_data d = pts.data();
  fmfit_output out = f.out();
  f.status = fmfit_fit(&m, &d, start.data(), c, o, &f.s, &out);
  return f;
}

const fmfit_model kBoxLucas1{"BoxLucas1", nullptr, nullptr, 0, 0, 0};

TEST(FitStatistics, BoxBODReachesNISTsCertifiedValuesAndStandardErrors) {
  const Fit f = run(kBoxLucas1, boxbod(), {100, 0.75});
  ASSERT_EQ(f.status, FMFIT_CONVERGED) << f.s.message;
  EXPECT_NEAR(f.s.chi2, 1168.0088766, 1e-7 * 1168);
  EXPECT_NEAR(std::sqrt(f.s.reduced_chi2), 17.088072423, 1e-7 * 17);
  EXPECT_NEAR(f.se[0], 12.354515176, 1e-5 * 12.35);
  EXPECT_NEAR(f.se[1], 0.10455993237, 1e-5 * 0.1046);
  EXPECT_EQ(f.s.dof, 4);
  EXPECT_EQ(f.s.points, 6);
  EXPECT_EQ(f.s.free_params, 2);
  // Information criteria from n ln(chi2/n) with k = 2 free parameters.
  const double ll = 6 * std::log(1168.0088766 / 6);
  EXPECT_NEAR(f.s.aic, ll + 4, 1e-6);
  EXPECT_NEAR(f.s.bic, ll + 2 * std::log(6.0), 1e-6);
  EXPECT_NEAR(f.s.aicc, ll + 4 + 12.0 / 3, 1e-6);
  // Covariance and correlation agree with the errors and with each other.
  EXPECT_NEAR(f.cov[0], f.se[0] * f.se[0], 1e-9 * f.cov[0]);
  EXPECT_DOUBLE_EQ(f.cov[1], f.cov[2]);
  EXPECT_DOUBLE_EQ(f.corr[0], 1.0);
  EXPECT_NEAR(f.corr[1], f.cov[1] / (f.se[0] * f.se[1]), 1e-12);
  EXPECT_LT(std::fabs(f.corr[1]), 1.0);
  // 95 % intervals from Student's t with 4 degrees of freedom (2.7764451051977987).
  EXPECT_NEAR(f.hi[0] - f.p[0], 2.7764451051977987 * f.se[0], 1e-9 * f.se[0]);
  EXPECT_NEAR(f.p[1] - f.lo[1], 2.7764451051977987 * f.se[1], 1e-9 * f.se[1]);
}

TEST(FitStatistics, ValueOnlyModelReachesTheSameMinimumByDifferences) {
  int16_t ni, nd, np;
  const ModelFunction f = Get_Func("BoxLucas1", &ni, &nd, &np, nullptr);
  const fmfit_model m{nullptr, f, nullptr, 1, 2, 0};
  const Fit a = run(m, boxbod(), {100, 0.75});
  ASSERT_EQ(a.status, FMFIT_CONVERGED) << a.s.message;
  EXPECT_NEAR(a.p[0], 213.80940889, 1e-7 * 213.8);
  EXPECT_NEAR(a.p[1], 0.54723748542, 1e-7);
  EXPECT_NEAR(a.se[0], 12.354515176, 1e-4 * 12.35);
}

TEST(FitIntervals, ProfileIntervalsOfALineAreTheAsymptoticOnes) {
  // For a model linear in its parameters the sum of squares is exactly quadratic.
  const fittest::Points pts = fittest::parse_points("0:1.1;1:2.9;2:5.2;3:6.8;4:9.1;5:10.9");
  const fmfit_model line{"Line", nullptr, nullptr, 0, 0, 0};
  fmfit_options o;
  fmfit_options_init(&o);
  const Fit a = run(line, pts, {0, 0}, &o);
  o.profile = 1;
  const Fit p = run(line, pts, {0, 0}, &o);
  ASSERT_EQ(p.status, FMFIT_CONVERGED) << p.s.message;
  for (size_t j = 0; j < 2; ++j) {
    EXPECT_NEAR(p.lo[j], a.lo[j], 2e-3 * a.se[j]);
    EXPECT_NEAR(p.hi[j], a.hi[j], 2e-3 * a.se[j]);
  }
}

TEST(FitIntervals, ProfileIntervalsOfBoxBODAreAsymmetricAndStopAtABound) {
  fmfit_options o;
  fmfit_options_init(&o);
  o.profile = 1;
  const Fit f = run(kBoxLucas1, boxbod(), {100, 0.75}, &o);
  ASSERT_EQ(f.status, FMFIT_CONVERGED) << f.s.message;
  // lmfit 1.1's conf_interval at 95 % (an F test on the same sums) gives a in [180.967, 258.568]
  // and b in [0.302590, 1.073053], to its own tolerance of about 1e-4.
  EXPECT_NEAR(f.lo[0], 180.967, 0.02);
  EXPECT_NEAR(f.hi[0], 258.568, 0.02);
  EXPECT_NEAR(f.lo[1], 0.302590, 3e-4);
  EXPECT_NEAR(f.hi[1], 1.073053, 3e-4);
  // b's profile rises more slowly above the estimate than below it.
  EXPECT_GT(f.hi[1] - f.p[1], f.p[1] - f.lo[1]);
  // With a box narrower than the interval the interval ends on the bound.
  const double lower[2] = {-INFINITY, 0.5}, upper[2] = {INFINITY, 0.6};
  const fmfit_constraints c{nullptr, lower, upper};
  const Fit b = run(kBoxLucas1, boxbod(), {100, 0.55}, &o, &c);
  ASSERT_EQ(b.status, FMFIT_CONVERGED) << b.s.message;
  EXPECT_EQ(b.lo[1], 0.5);
  EXPECT_EQ(b.hi[1], 0.6);
}

TEST(FitWeights, WeightsScaleChiSquareAndAbsoluteSigmaKeepsTheirScale) {
  fittest::Points pts = boxbod();
  pts.w.assign(pts.y.size(), 0.5);  // sigma = 2 at every point
  fmfit_options o;
  fmfit_options_init(&o);
  const Fit rel = run(kBoxLucas1, pts, {100, 0.75}, &o);
  o.absolute_sigma = 1;
  const Fit abs = run(kBoxLucas1, pts, {100, 0.75}, &o);
  ASSERT_EQ(rel.status, FMFIT_CONVERGED);
  EXPECT_NEAR(rel.s.chi2, 0.25 * 1168.0088766, 1e-6);
  // Equal weights do not change the estimates or the relative errors.
  EXPECT_NEAR(rel.se[0], 12.354515176, 1e-5 * 12.35);
  EXPECT_NEAR(abs.se[0], rel.se[0] / std::sqrt(rel.s.reduced_chi2), 1e-9 * abs.se[0]);
}

TEST(FitModels, TwoInputSurfaceAndManyTermModel) {
  // Gauss2D on a 5 x 5 grid, exact data: the truth back from a start 10 % off.
  const double truth[6] = {1, 10, 2, 1.5, 2, 1.2};
  int16_t ni, nd, np;
  const ModelFunction g2 = Get_Func("Gauss2D", &ni, &nd, &np, nullptr);
  fittest::Points pts;
  pts.nIndep = 2;
  double p1[7] = {0, truth[0], truth[1], truth[2], truth[3], truth[4], truth[5]}, y[8], d[8];
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) {
      double x[3] = {0, double(i), double(j)};
      g2(REQ_VALUE, nullptr, 6, 0, 0, p1, 0, x, y, d);
      pts.x.insert(pts.x.end(), {double(i), double(j)});
      pts.y.push_back(y[1]);
    }
  const fmfit_model m{nullptr, g2, nullptr, 2, 6, 1};
  const Fit f = run(m, pts, {1.1, 9, 2.2, 1.35, 1.8, 1.32});
  ASSERT_EQ(f.status, FMFIT_CONVERGED) << f.s.message;
  for (size_t j = 0; j < 6; ++j) EXPECT_NEAR(f.p[j], truth[j], 1e-8);
}

int32_t nist_start(void *ctx, const fmfit_model *, int16_t n, const fmfit_data *data,
                   double *start) {
  ++*static_cast<int *>(ctx);
  if (n != 2 || data->n != 6) return 1;
  start[0] = 100;
  start[1] = 0.75;
  return 0;
}

TEST(FitStarts, AnEstimatorPluggedIntoTheOptionsSuppliesMissingStarts) {
  const fittest::Points pts = boxbod();
  fmfit_data d = pts.data();
  fmfit_options o;
  fmfit_options_init(&o);
  int calls = 0;
  o.estimate = nist_start;
  o.estimate_context = &calls;
  double p[2];
  fmfit_output out{p, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  fmfit_summary s;
  EXPECT_EQ(fmfit_fit(&kBoxLucas1, &d, nullptr, nullptr, &o, &s, &out), FMFIT_CONVERGED);
  EXPECT_EQ(calls, 1);
  EXPECT_NEAR(p[0], 213.80940889, 1e-6);
  // Without one the built-in estimator answers, and reaches the same certified minimum.
  p[0] = p[1] = 0;
  EXPECT_EQ(fmfit_fit(&kBoxLucas1, &d, nullptr, nullptr, nullptr, &s, &out), FMFIT_CONVERGED);
  EXPECT_NEAR(p[0], 213.80940889, 1e-6);
}

// ---- batches -------------------------------------------------------------------------------

struct Plate {
  std::vector<double> x, y, start;
  std::vector<size_t> offsets{0};
  size_t count = 0;
};

Plate boxbod_plate(size_t count) {
  const fittest::Points b = boxbod();
  Plate pl;
  std::mt19937_64 rng(7);
  std::normal_distribution<double> noise(0.0, 5.0);
  for (size_t c = 0; c < count; ++c) {
    for (size_t i = 0; i < b.y.size(); ++i) {
      pl.x.push_back(b.x[i]);
      pl.y.push_back(b.y[i] + noise(rng));
    }
    pl.offsets.push_back(pl.y.size());
    pl.start.insert(pl.start.end(), {100.0 + double(c % 50), 0.75});
  }
  pl.count = count;
  return pl;
}

struct BatchOut {
  std::vector<fmfit_summary> s;
  std::vector<double> p, se, cov;
  int32_t status = -1;
};

BatchOut run_batch(const Plate &pl, int threads, fmfit_options *o_in = nullptr,
                   const double *upper = nullptr, const double *lower = nullptr) {
  fmfit_batch b{};
  b.constraints.upper = upper;
  b.constraints.lower = lower;
  b.count = pl.count;
  b.offsets = pl.offsets.data();
  b.x = pl.x.data();
  b.y = pl.y.data();
  b.start = pl.start.data();
  b.per_fit = FMFIT_PER_FIT_START;
  fmfit_options o;
  if (o_in) o = *o_in;
  else fmfit_options_init(&o);
  o.threads = threads;
  BatchOut r;
  r.s.resize(pl.count);
  r.p.resize(pl.count * 2);
  r.se.resize(pl.count * 2);
  r.cov.resize(pl.count * 4);
  fmfit_output out{r.p.data(), r.se.data(), nullptr, nullptr, r.cov.data(), nullptr, nullptr};
  r.status = fmfit_batch_fit(&kBoxLucas1, &b, &o, r.s.data(), &out);
  return r;
}

bool same_bits(const BatchOut &a, const BatchOut &b) {
  return a.s.size() == b.s.size() &&
         std::memcmp(a.s.data(), b.s.data(), a.s.size() * sizeof(fmfit_summary)) == 0 &&
         std::memcmp(a.p.data(), b.p.data(), a.p.size() * sizeof(double)) == 0 &&
         std::memcmp(a.se.data(), b.se.data(), a.se.size() * sizeof(double)) == 0 &&
         std::memcmp(a.cov.data(), b.cov.data(), a.cov.size() * sizeof(double)) == 0;
}

TEST(FitBatch, ResultsAreBitIdenticalForAnyThreadCountAndMatchSingleFits) {
  const Plate pl = boxbod_plate(300);
  const BatchOut one = run_batch(pl, 1), two = run_batch(pl, 2), five = run_batch(pl, 5),
                 all = run_batch(pl, 0);
  EXPECT_TRUE(same_bits(one, two));
  EXPECT_TRUE(same_bits(one, five));
  EXPECT_TRUE(same_bits(one, all));
  // Fit 17 alone gives the same bits as fit 17 of the batch.
  fittest::Points pts;
  pts.x.assign(pl.x.begin() + 17 * 6, pl.x.begin() + 18 * 6);
  pts.y.assign(pl.y.begin() + 17 * 6, pl.y.begin() + 18 * 6);
  Fit f = run(kBoxLucas1, pts, {pl.start[34], pl.start[35]});
  EXPECT_EQ(std::memcmp(f.p.data(), &one.p[34], 2 * sizeof(double)), 0);
  EXPECT_EQ(f.s.status, one.s[17].status);
}

TEST(FitBatch, BoundedFitsAreBitIdenticalForAnyThreadCount) {
  // a's best value lies beyond 200: every fit ends on the bound (the active set over lmder).
  Plate pl = boxbod_plate(60);
  const double upper[2] = {200.0, HUGE_VAL};
  const BatchOut one = run_batch(pl, 1, nullptr, upper), two = run_batch(pl, 2, nullptr, upper);
  EXPECT_TRUE(same_bits(one, two));
  EXPECT_EQ(one.s[0].status, FMFIT_AT_BOUND);
  // b held at 50 and above: exp(-b*x) vanishes at every point and with it b's column, so the
  // trust region in the box (Ceres) runs in every worker.
  const double lower[2] = {-HUGE_VAL, 50.0};
  for (size_t c = 0; c < pl.count; ++c) pl.start[2 * c + 1] = 60.0;
  const BatchOut a = run_batch(pl, 1, nullptr, nullptr, lower),
                 b = run_batch(pl, 3, nullptr, nullptr, lower);
  EXPECT_TRUE(same_bits(a, b));
}

TEST(FitBatch, HostThreadsCallTheEngineAtOnce) {
  const Plate pl = boxbod_plate(100);
  const BatchOut serial = run_batch(pl, 1);
  std::vector<BatchOut> got(4);
  std::vector<std::thread> hosts;
  for (size_t t = 0; t < got.size(); ++t)
    hosts.emplace_back([&, t] { got[t] = run_batch(pl, t % 2 ? 2 : 1); });
  for (auto &h : hosts) h.join();
  for (const BatchOut &g : got) EXPECT_TRUE(same_bits(serial, g));
}

int32_t cancel_at_first(void *ctx, size_t, size_t) {
  ++*static_cast<int *>(ctx);
  return 1;
}

TEST(FitBatch, ProgressCallbackCancelsTheRest) {
  const Plate pl = boxbod_plate(1000);
  fmfit_options o;
  fmfit_options_init(&o);
  int calls = 0;
  o.progress = cancel_at_first;
  o.progress_context = &calls;
  const BatchOut r = run_batch(pl, 1, &o);
  EXPECT_EQ(calls, 1);
  size_t cancelled = 0;
  for (const fmfit_summary &s : r.s) cancelled += s.status == FMFIT_CANCELLED;
  EXPECT_GE(cancelled, 980u);  // the first progress report comes after 10 fits
  int32_t first = FMFIT_CONVERGED;
  for (const fmfit_summary &s : r.s)
    if (s.status != FMFIT_CONVERGED) {
      first = s.status;
      break;
    }
  EXPECT_EQ(r.status, first);
}

TEST(FitBatch, RaggedOffsetsAndPerFitFailuresStayInTheirFit) {
  Plate pl = boxbod_plate(3);
  pl.offsets = {0, 6, 6, 18};  // fit 2 has no points, fit 3 twelve
  const BatchOut r = run_batch(pl, 2);
  EXPECT_EQ(r.s[0].status, FMFIT_CONVERGED);
  EXPECT_EQ(r.s[1].status, FMFIT_INVALID_INPUT);
  EXPECT_EQ(r.s[2].points, 12);
  EXPECT_EQ(r.status, FMFIT_INVALID_INPUT);
  pl.offsets = {0, 6, 3, 18};  // decreasing: nothing fitted, and every summary says so
  const BatchOut bad = run_batch(pl, 2);
  EXPECT_EQ(bad.status, FMFIT_INVALID_INPUT);
  for (const fmfit_summary &s : bad.s) EXPECT_EQ(s.status, FMFIT_INVALID_INPUT);
}

TEST(FitHostileInput, NullPointersAndBadModelsGiveInvalidInput) {
  const fittest::Points pts = boxbod();
  fmfit_data d = pts.data();
  const double start[2] = {100, 0.75};
  fmfit_summary s;
  EXPECT_EQ(fmfit_fit(nullptr, &d, start, nullptr, nullptr, &s, nullptr), FMFIT_INVALID_INPUT);
  EXPECT_EQ(fmfit_fit(&kBoxLucas1, nullptr, start, nullptr, nullptr, &s, nullptr),
            FMFIT_INVALID_INPUT);
  EXPECT_EQ(fmfit_fit(&kBoxLucas1, &d, start, nullptr, nullptr, nullptr, nullptr),
            FMFIT_CONVERGED);
  fmfit_data nox = d;
  nox.x = nullptr;
  EXPECT_EQ(fmfit_fit(&kBoxLucas1, &nox, start, nullptr, nullptr, &s, nullptr),
            FMFIT_INVALID_INPUT);
  const fmfit_model nofn{nullptr, nullptr, nullptr, 1, 2, 1};
  EXPECT_EQ(fmfit_fit(&nofn, &d, start, nullptr, nullptr, &s, nullptr), FMFIT_INVALID_INPUT);
  const fmfit_model inputs{nullptr, Polynomial1, nullptr, 4, 2, 1};
  EXPECT_EQ(fmfit_fit(&inputs, &d, start, nullptr, nullptr, &s, nullptr), FMFIT_INVALID_INPUT);
  const fmfit_model count{nullptr, Polynomial1, nullptr, 1, -3, 1};
  EXPECT_EQ(fmfit_fit(&count, &d, start, nullptr, nullptr, &s, nullptr), FMFIT_INVALID_INPUT);
  fmfit_options o;
  std::memset(&o, 0, sizeof o);  // not initialised
  EXPECT_EQ(fmfit_fit(&kBoxLucas1, &d, start, nullptr, &o, &s, nullptr), FMFIT_INVALID_INPUT);
  EXPECT_EQ(fmfit_batch_fit(&kBoxLucas1, nullptr, nullptr, &s, nullptr), FMFIT_INVALID_INPUT);
  EXPECT_STREQ(fmfit_status_name(FMFIT_CONVERGED), "converged");
  EXPECT_STREQ(fmfit_status_name(12345), "unknown status");
}

}  // namespace
