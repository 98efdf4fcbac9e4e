// The C entry points: one fit, a batch over worker threads, the defaults and the names.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "engine.h"

using namespace fmfit;

namespace {

void fail(fmfit_summary *sum, int32_t status, const char *message) {
  if (sum == nullptr) return;
  std::memset(sum, 0, sizeof *sum);
  sum->status = status;
  std::snprintf(sum->message, sizeof sum->message, "%s", message);
}

const double *row(const double *a, bool per_fit, size_t i, size_t np) {
  return a == nullptr ? nullptr : a + (per_fit ? i * np : 0);
}
const uint8_t *row(const uint8_t *a, bool per_fit, size_t i, size_t np) {
  return a == nullptr ? nullptr : a + (per_fit ? i * np : 0);
}

}  // namespace

extern "C" {

FMFIT_API void fmfit_options_init(fmfit_options *o) {
  if (o == nullptr) return;
  std::memset(o, 0, sizeof *o);
  o->size = sizeof *o;
  o->ftol = 1e-14;
  o->xtol = 1e-14;
  o->gtol = 0.0;
  o->confidence_level = 0.95;
}

FMFIT_API int32_t fmfit_model_params(const fmfit_model *model) {
  if (model == nullptr) return -1;
  Model m;
  char msg[128];
  return resolve_model(model, m, msg, sizeof msg) ? m.nParams : -1;
}

FMFIT_API const char *fmfit_status_name(int32_t status) {
  switch (status) {
    case FMFIT_CONVERGED: return "converged";
    case FMFIT_UNDETERMINED: return "parameter undetermined";
    case FMFIT_AT_BOUND: return "at a bound";
    case FMFIT_EVALUATION_LIMIT: return "evaluation limit";
    case FMFIT_TIME_LIMIT: return "time limit";
    case FMFIT_CANCELLED: return "cancelled";
    case FMFIT_MODEL_FAILS_AT_START: return "model fails at the start";
    case FMFIT_NOT_CONVERGED: return "not converged";
    case FMFIT_STATISTICS_NOT_FINITE: return "statistics not finite";
    case FMFIT_INVALID_INPUT: return "invalid input";
    case FMFIT_NO_ESTIMATE: return "no starting values";
    case FMFIT_MODEL_FAILS: return "model fails";
    default: return "unknown status";
  }
}

FMFIT_API int32_t fmfit_fit(const fmfit_model *model, const fmfit_data *data, const double *start,
                            const fmfit_constraints *constraints, const fmfit_options *options,
                            fmfit_summary *summary, fmfit_output *output) {
  fmfit_summary local;
  fmfit_summary &sum = summary ? *summary : local;
  if (model == nullptr || data == nullptr) {
    fail(&sum, FMFIT_INVALID_INPUT, model == nullptr ? "no model" : "no data");
    return FMFIT_INVALID_INPUT;
  }
  try {
    Model m;
    Settings s;
    Control c;
    char msg[sizeof sum.message];
    if (!resolve_model(model, m, msg, sizeof msg) || !read_options(options, s, c, msg, sizeof msg)) {
      fail(&sum, FMFIT_INVALID_INPUT, msg);
      return FMFIT_INVALID_INPUT;
    }
    const fmfit_constraints cons = constraints ? *constraints : fmfit_constraints{};
    Workspace ws;
    return fit_one(m, *data, start, cons, s, c, ws, sum,
                   out_row(output, 0, static_cast<size_t>(m.nParams)));
  } catch (const std::bad_alloc &) {
    fail(&sum, FMFIT_INVALID_INPUT, "out of memory");
  } catch (...) {
    fail(&sum, FMFIT_INVALID_INPUT, "internal error");
  }
  return sum.status;
}

FMFIT_API int32_t fmfit_batch_fit(const fmfit_model *model, const fmfit_batch *batch,
                                  const fmfit_options *options, fmfit_summary *summaries,
                                  fmfit_output *output) {
  if (model == nullptr || batch == nullptr || summaries == nullptr) return FMFIT_INVALID_INPUT;
  if (batch->count == 0) return FMFIT_CONVERGED;
  // A malformed batch fits nothing, and every summary says why.
  auto refuse = [&](const char *why) {
    for (size_t i = 0; i < batch->count; ++i) fail(&summaries[i], FMFIT_INVALID_INPUT, why);
    return FMFIT_INVALID_INPUT;
  };
  if (batch->offsets == nullptr) return refuse("no offsets");
  for (size_t i = 0; i < batch->count; ++i)
    if (batch->offsets[i + 1] < batch->offsets[i]) return refuse("the offsets go backwards");
  try {
    Model m;
    Settings s;
    Control c;
    char msg[sizeof summaries->message];
    if (!resolve_model(model, m, msg, sizeof msg) || !read_options(options, s, c, msg, sizeof msg)) {
      for (size_t i = 0; i < batch->count; ++i) fail(&summaries[i], FMFIT_INVALID_INPUT, msg);
      return FMFIT_INVALID_INPUT;
    }
    const size_t np = static_cast<size_t>(m.nParams), ni = static_cast<size_t>(m.nIndep);
    const size_t count = batch->count;
    int32_t stop = 0;  // set (atomically) when the progress callback cancels
    c.batch_cancel = &stop;
    std::atomic<size_t> next{0}, done{0};
    std::mutex progress_lock;
    const size_t step = std::max<size_t>(1, count / 100);
    auto work = [&]() {
      Workspace ws;
      for (;;) {
        const size_t i = next.fetch_add(1, std::memory_order_relaxed);
        if (i >= count) return;
        const size_t a = batch->offsets[i], b = batch->offsets[i + 1];
        fmfit_data d{b - a, batch->x ? batch->x + a * ni : nullptr,
                     batch->y ? batch->y + a : nullptr,
                     batch->weights ? batch->weights + a : nullptr};
        const uint32_t pf = batch->per_fit;
        fmfit_constraints cons{row(batch->constraints.held, pf & FMFIT_PER_FIT_HELD, i, np),
                               row(batch->constraints.lower, pf & FMFIT_PER_FIT_LOWER, i, np),
                               row(batch->constraints.upper, pf & FMFIT_PER_FIT_UPPER, i, np)};
        const double *start = row(batch->start, pf & FMFIT_PER_FIT_START, i, np);
        const Abort before = c.check();
        if (before != Abort::none) {
          fail(&summaries[i], before == Abort::cancelled ? FMFIT_CANCELLED : FMFIT_TIME_LIMIT,
               before == Abort::cancelled ? "cancelled before it started"
                                          : "the time limit passed before it started");
          const OutRow o = out_row(output, i, np);
          if (o.params && start) std::copy(start, start + np, o.params);
        } else {
          try {
            fit_one(m, d, start, cons, s, c, ws, summaries[i], out_row(output, i, np));
          } catch (const std::bad_alloc &) {
            fail(&summaries[i], FMFIT_INVALID_INPUT, "out of memory");
          }
        }
        const size_t n_done = done.fetch_add(1, std::memory_order_acq_rel) + 1;
        if (options && options->progress && (n_done % step == 0 || n_done == count) &&
            !__atomic_load_n(&stop, __ATOMIC_RELAXED)) {
          std::lock_guard<std::mutex> lock(progress_lock);
          if (options->progress(options->progress_context, n_done, count) != 0)
            __atomic_store_n(&stop, 1, __ATOMIC_RELAXED);
        }
      }
    };
    size_t threads = options && options->threads > 0 ? static_cast<size_t>(options->threads)
                                                     : std::thread::hardware_concurrency();
    threads = std::max<size_t>(1, std::min({threads, count, size_t{256}}));
    std::vector<std::thread> pool;
    pool.reserve(threads);
    try {
      for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
    } catch (const std::system_error &) {
      // Fewer threads than asked: the ones running share the work.
    }
    work();
    for (auto &t : pool) t.join();
    for (size_t i = 0; i < count; ++i)
      if (summaries[i].status != FMFIT_CONVERGED) return summaries[i].status;
    return FMFIT_CONVERGED;
  } catch (...) {
    return FMFIT_INVALID_INPUT;
  }
}

}  // extern "C"
