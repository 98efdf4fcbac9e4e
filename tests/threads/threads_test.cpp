// Every registered model evaluated from several threads at once. Each thread has its own
// parameters (the model's generic point scaled by a factor of its own, and points where the
// model fails) and its own preset errno; every outcome must be bit-identical to the one the same
// call gave on the main thread before the threads started, errno after the call included, so a
// model keeps no state between calls and reports only through the calling thread's errno. Built
// with ThreadSanitizer in CI (FITMODELS_TSAN), which also reports any data race.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "fitmodels_catalog.h"
#include "support/catalog_view.h"
#include "support/model_call.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 20;
constexpr int kErrnoIn[kThreads] = {0, 5, 34, 33};
constexpr int32_t kRequests[] = {REQ_VALUE, REQ_DERIV, REQ_VALUE | REQ_DERIV};

struct Job {
  std::string model;
  Call call;
  int32_t request;
  Outcome expected;
};

bool same(const Outcome &a, const Outcome &b) {
  return a.rc == b.rc && a.err == b.err && std::memcmp(a.y.data(), b.y.data(), sizeof a.y) == 0 &&
         std::memcmp(a.d.data(), b.d.data(), sizeof a.d) == 0;
}

// Thread t's calls of one model: its first generic point with every parameter scaled by
// 1 + t/8, the same with x far out (overflow in many models), and with the first parameter NaN.
void add_jobs(std::vector<Job> &jobs, const fm_model_info &m, int t) {
  const fm_point &pt = m.points[0];
  const double scale = 1.0 + t / 8.0;
  std::vector<double> p = point_params(pt);
  for (double &v : p) v *= scale;
  std::vector<double> nan_first = p;
  if (!nan_first.empty()) nan_first[0] = std::numeric_limits<double>::quiet_NaN();
  const double far = 1e3 * (t + 1);
  const struct {
    const std::vector<double> &p;
    double x1, x2, x3;
  } variants[] = {{p, pt.x[1], pt.x[2], pt.x[3]},
                  {p, far, pt.x[2] - far, pt.x[3]},
                  {nan_first, pt.x[1], pt.x[2], pt.x[3]}};
  for (const auto &v : variants)
    for (int32_t request : kRequests) {
      Call call(fm_catalog_function(&m));
      call.params(v.p).x(v.x1, v.x2, v.x3).errno_in(kErrnoIn[t]);
      jobs.push_back({m.name, call, request, call.run(request)});  // the single-threaded outcome
    }
}

TEST(Threads, EveryModelGivesTheSameBitsAndItsOwnErrnoOnEveryThread) {
  std::vector<std::vector<Job>> jobs(kThreads);
  int models = 0;
  size_t count = 0;
  const fm_model_info *catalog = fm_catalog(&count);
  for (size_t i = 0; i < count; ++i) {
    const fm_model_info &m = catalog[i];
    if (m.shape == FM_SHAPE_ERROR_TEST || m.point_count == 0 || !fm_catalog_function(&m))
      continue;
    ++models;
    for (int t = 0; t < kThreads; ++t) add_jobs(jobs[t], m, t);
  }
  ASSERT_GT(models, 0);

  std::vector<std::vector<std::string>> mismatches(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round)
        for (const Job &job : jobs[t])
          if (!same(job.call.run(job.request), job.expected) && mismatches[t].size() < 20)
            mismatches[t].push_back(job.model + " request " + std::to_string(job.request) +
                                    " round " + std::to_string(round));
    });
  for (std::thread &th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    for (const std::string &m : mismatches[t])
      ADD_FAILURE() << "thread " << t << " (errno " << kErrnoIn[t] << "): " << m
                    << " differs from the single-threaded call";
}

}  // namespace
