// Fits through the fitting library (include/fitmodels_fit.h): one data set by fmfit_fit, many by
// one fmfit_batch_fit call; the results in the tool's terms (parameter names, a verdict).
#ifndef FITMODELS_TOOL_FIT_H
#define FITMODELS_TOOL_FIT_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <functional>
#include <string>
#include <vector>

#include "catalog.h"
#include "data.h"
#include "fitmodels_fit.h"

namespace fmtool {

struct FitResult {
  bool ok = false;    // the fit ran (it may still have stopped without converging)
  std::string error;  // why it could not start (invalid input: the tool refuses it)
  std::vector<std::string> names;
  std::vector<double> params, errors;  // errors: NaN where not determined (held, undetermined)
  std::vector<double> ci_lower, ci_upper, covariance, correlation;  // n, n, n x n, n x n
  std::vector<uint8_t> flags;          // FMFIT_FLAG_* per parameter
  std::vector<bool> held;
  double ssr = 0, chi2_reduced = 0, r2 = 0, aic = 0, aicc = 0, bic = 0;
  int points = 0, free = 0, dof = 0, nfev = 0, njev = 0, info = 0;
  int status = FMFIT_INVALID_INPUT;
  bool converged = false;  // status FMFIT_CONVERGED: the only success
  std::string status_name; // fmfit_status_name
  std::string stop;        // what happened, in the library's words
  std::string verdict;     // the status in a sentence naming parameters, when not converged
};

struct FitOptions {
  long max_evaluations = 0;  // of the model over the data; 0: the library's budget
  double time_limit = 0;     // seconds left for the fit (or the whole batch); 0: none
  double timeout = 0;        // the --timeout given, for the verdict
  bool absolute_sigma = false;
  double ci_level = 0.95;
  bool profile = false;
  std::vector<double> lower, upper;  // n each, or empty: no bounds
  bool progress = false;     // a progress line on stderr once the run has taken a second
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();  // of the run
};

// A line on stderr, rewritten twice a second, while a fit runs longer than a second.
class ProgressLine {
 public:
  ProgressLine(bool on, const std::string &name, std::chrono::steady_clock::time_point start) {
    if (!on) return;
    thread_ = std::thread([this, name, start] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (wake_.wait_until(lock, start + std::chrono::seconds(1), [this] { return done_; })) return;
      do {
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "\rfitting %s: %.1f s   ", name.c_str(), s);
        shown_ = true;
      } while (!wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return done_; }));
    });
  }
  ~ProgressLine() { stop(); }
  // Ends the line (erased when it was shown).
  void stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (shown_) std::fprintf(stderr, "\r\033[K");
  }

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false, shown_ = false;
};

// Fits n parameters starting from start (0-based), holding those marked in held.
FitResult fit_model(const ModelInfo &m, int n, const fmfit_data &data,
                    const std::vector<double> &start, const std::vector<bool> &held,
                    const FitOptions &options = {});

// Many data sets in one library call: the points of fit i are offsets[i] .. offsets[i+1]-1 of
// x (ni per point), y and w (empty: all 1); starts and held count x n. on_done(done, total) is
// called as fits finish.
std::vector<FitResult> fit_batch(const ModelInfo &m, int n, const std::vector<size_t> &offsets,
                                 const std::vector<double> &x, const std::vector<double> &y,
                                 const std::vector<double> &w, const std::vector<double> &starts,
                                 const std::vector<uint8_t> &held, const FitOptions &options,
                                 const std::function<void(size_t, size_t)> &on_done);

}  // namespace fmtool

#endif
