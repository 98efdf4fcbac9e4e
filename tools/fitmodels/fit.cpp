#include "fit.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>

namespace fmtool {
namespace {

// The Jacobian is held whole: a size beyond memory is refused before it is allocated.
constexpr double kMaxJacobianBytes = 4e9;

std::string fmt_g(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3g", v);
  return b;
}

fmfit_model model_of(const ModelInfo &m, int n) {
  return {m.name.c_str(), nullptr, nullptr, static_cast<int16_t>(m.nIndep), static_cast<int16_t>(n), 0};
}

fmfit_options options_of(const FitOptions &o) {
  fmfit_options opt;
  fmfit_options_init(&opt);
  if (o.max_evaluations > 0)
    opt.max_evaluations = static_cast<int32_t>(std::min<long>(o.max_evaluations, INT32_MAX));
  opt.time_limit = o.time_limit;
  opt.absolute_sigma = o.absolute_sigma ? 1 : 0;
  opt.confidence_level = o.ci_level;
  opt.profile = o.profile ? 1 : 0;
  return opt;
}

// Arrays for one result of n parameters.
struct Outputs {
  std::vector<double> p, e, lo, hi, cov, cor;
  std::vector<uint8_t> flags;
  Outputs(size_t count, size_t n)
      : p(count * n), e(count * n), lo(count * n), hi(count * n), cov(count * n * n),
        cor(count * n * n), flags(count * n) {}
  fmfit_output output() {
    return {p.data(), e.data(), lo.data(), hi.data(), cov.data(), cor.data(), flags.data()};
  }
};

std::string point_text(const fmfit_data &d, int ni, size_t i) {
  char b[200];
  int at = std::snprintf(b, sizeof b, "point %zu (x = %.10g", i + 1, d.x[i * static_cast<size_t>(ni)]);
  for (int k = 1; k < ni && k < 3; ++k)
    at += std::snprintf(b + at, sizeof b - static_cast<size_t>(at), ", %.10g", d.x[i * static_cast<size_t>(ni) + static_cast<size_t>(k)]);
  std::snprintf(b + at, sizeof b - static_cast<size_t>(at), ")");
  return b;
}

// The tool's result from the library's summary and row k of the outputs.
FitResult result_of(const ModelInfo &m, int n, const fmfit_summary &s, Outputs &o, size_t k,
                    const fmfit_data &d, const std::vector<bool> &held, const FitOptions &opt) {
  FitResult r;
  const size_t np = static_cast<size_t>(n);
  r.names = m.names_for(n);
  r.held = held;
  r.status = s.status;
  r.status_name = fmfit_status_name(s.status);
  r.stop = s.message;
  if (s.status == FMFIT_INVALID_INPUT || s.status == FMFIT_NO_ESTIMATE) {
    r.error = s.message;
    if (s.detail >= 1 && s.detail <= n) r.error += " (" + r.names[static_cast<size_t>(s.detail) - 1] + ")";
    if (s.failing_point > 0 && d.x != nullptr && static_cast<size_t>(s.failing_point) <= d.n)
      r.error += ": " + point_text(d, m.nIndep, static_cast<size_t>(s.failing_point) - 1);
    return r;
  }
  r.ok = true;
  const auto take = [&](const std::vector<double> &v, size_t per) {
    return std::vector<double>(v.begin() + static_cast<long>(k * per), v.begin() + static_cast<long>((k + 1) * per));
  };
  r.params = take(o.p, np);
  r.errors = take(o.e, np);
  r.ci_lower = take(o.lo, np);
  r.ci_upper = take(o.hi, np);
  r.covariance = take(o.cov, np * np);
  r.correlation = take(o.cor, np * np);
  r.flags.assign(o.flags.begin() + static_cast<long>(k * np), o.flags.begin() + static_cast<long>((k + 1) * np));
  r.ssr = s.chi2;
  r.chi2_reduced = s.reduced_chi2;
  r.r2 = s.r2;
  r.aic = s.aic;
  r.aicc = s.aicc;
  r.bic = s.bic;
  r.points = s.points;
  r.free = s.free_params;
  r.dof = s.dof;
  r.nfev = s.model_evaluations;
  r.njev = s.jacobian_evaluations;
  r.info = s.solver_info;
  r.converged = s.status == FMFIT_CONVERGED;
  // The verdict names the parameters and points concerned.
  std::string names;
  for (size_t j = 0; j < np; ++j)
    if (r.flags[j] & FMFIT_FLAG_UNDETERMINED) names += (names.empty() ? "" : ", ") + r.names[j];
  const std::string concern = s.detail >= 1 && s.detail <= n ? r.names[static_cast<size_t>(s.detail) - 1] : "";
  switch (s.status) {
    case FMFIT_CONVERGED: break;
    case FMFIT_UNDETERMINED:
      r.verdict = "the data do not determine " + (names.empty() ? concern : names) +
                  " (a zero or collinear Jacobian column: no standard error)";
      break;
    case FMFIT_AT_BOUND: {
      std::string at;
      for (size_t j = 0; j < np; ++j)
        if (r.flags[j] & (FMFIT_FLAG_AT_LOWER | FMFIT_FLAG_AT_UPPER))
          at += (at.empty() ? "" : ", ") + r.names[j] + ((r.flags[j] & FMFIT_FLAG_AT_LOWER) ? " on its lower bound" : " on its upper bound");
      r.verdict = "a minimum within the bounds with " + (at.empty() ? concern : at);
      break;
    }
    case FMFIT_TIME_LIMIT:
      r.verdict = "stopped at the time limit of " + fmt_g(opt.timeout > 0 ? opt.timeout : opt.time_limit) +
                  " s, at the best point reached";
      break;
    case FMFIT_EVALUATION_LIMIT:
      r.verdict = "stopped at the cap of " + std::to_string(r.nfev) + " evaluations, at the best point reached" +
                  (opt.max_evaluations > 0 ? "" : " (the default cap for this size; --max-evaluations sets another)");
      break;
    case FMFIT_MODEL_FAILS_AT_START:
    case FMFIT_MODEL_FAILS:
      r.verdict = s.message;
      if (s.failing_point > 0 && static_cast<size_t>(s.failing_point) <= d.n)
        r.verdict = (s.status == FMFIT_MODEL_FAILS_AT_START ? "the model fails at the initial parameters at "
                                                            : "the model fails at the solution at ") +
                    point_text(d, m.nIndep, static_cast<size_t>(s.failing_point) - 1);
      break;
    case FMFIT_STATISTICS_NOT_FINITE:
      r.verdict = s.message;
      break;
    default: r.verdict = s.message;
  }
  return r;
}

std::string jacobian_refusal(size_t points, int nfree) {
  const double bytes = 8.0 * static_cast<double>(points) * std::max(nfree, 1);
  if (bytes <= kMaxJacobianBytes) return "";
  return "the Jacobian of " + std::to_string(points) + " points and " + std::to_string(nfree) +
         " free parameters would take " + fmt_g(bytes / 1e9) + " GB (at most " +
         fmt_g(kMaxJacobianBytes / 1e9) + ")";
}

int free_count(const std::vector<bool> &held) {
  int f = 0;
  for (bool h : held) f += !h;
  return f;
}

}  // namespace

FitResult fit_model(const ModelInfo &m, int n, const fmfit_data &data,
                    const std::vector<double> &start, const std::vector<bool> &held,
                    const FitOptions &options) {
  FitResult r;
  const size_t np = static_cast<size_t>(n);
  if (n < 1 || n > INT16_MAX || start.size() != np || held.size() != np) {
    r.error = std::to_string(n) + " parameters: a model takes 1 to " + std::to_string(INT16_MAX);
    return r;
  }
  const int nf = free_count(held);
  if (data.n < static_cast<size_t>(std::max(nf, 1))) {
    r.error = "too few points: " + std::to_string(data.n) + " for " + std::to_string(nf) + " free parameters";
    return r;
  }
  r.error = jacobian_refusal(data.n, nf);
  if (!r.error.empty()) return r;
  const fmfit_model model = model_of(m, n);
  const fmfit_options opt = options_of(options);
  std::vector<uint8_t> h(np);
  for (size_t j = 0; j < np; ++j) h[j] = held[j] ? 1 : 0;
  const fmfit_constraints c{h.data(), options.lower.empty() ? nullptr : options.lower.data(),
                            options.upper.empty() ? nullptr : options.upper.data()};
  Outputs o(1, np);
  fmfit_output out = o.output();
  fmfit_summary s;
  {
    ProgressLine line(options.progress, m.name, options.started);
    fmfit_fit(&model, &data, start.data(), &c, &opt, &s, &out);
  }
  return result_of(m, n, s, o, 0, data, held, options);
}

namespace {
int32_t batch_progress(void *context, size_t done, size_t total) {
  (*static_cast<const std::function<void(size_t, size_t)> *>(context))(done, total);
  return 0;
}
}  // namespace

std::vector<FitResult> fit_batch(const ModelInfo &m, int n, const std::vector<size_t> &offsets,
                                 const std::vector<double> &x, const std::vector<double> &y,
                                 const std::vector<double> &w, const std::vector<double> &starts,
                                 const std::vector<uint8_t> &held, const FitOptions &options,
                                 const std::function<void(size_t, size_t)> &on_done) {
  const size_t count = offsets.size() - 1, np = static_cast<size_t>(n);
  const fmfit_model model = model_of(m, n);
  fmfit_options opt = options_of(options);
  if (on_done) {
    opt.progress = batch_progress;
    opt.progress_context = const_cast<std::function<void(size_t, size_t)> *>(&on_done);
  }
  fmfit_batch b{};
  b.count = count;
  b.offsets = offsets.data();
  b.x = x.data();
  b.y = y.data();
  b.weights = w.empty() ? nullptr : w.data();
  b.start = starts.data();
  b.constraints = {held.data(), options.lower.empty() ? nullptr : options.lower.data(),
                   options.upper.empty() ? nullptr : options.upper.data()};
  b.per_fit = FMFIT_PER_FIT_START | FMFIT_PER_FIT_HELD;
  Outputs o(count, np);
  fmfit_output out = o.output();
  std::vector<fmfit_summary> s(count);
  fmfit_batch_fit(&model, &b, &opt, s.data(), &out);
  std::vector<FitResult> results(count);
  const size_t ni = static_cast<size_t>(m.nIndep);
  for (size_t i = 0; i < count; ++i) {
    const size_t at = offsets[i];
    const fmfit_data d{offsets[i + 1] - at, x.data() + at * ni, y.data() + at,
                       w.empty() ? nullptr : w.data() + at};
    std::vector<bool> h(np);
    for (size_t j = 0; j < np; ++j) h[j] = held[i * np + j] != 0;
    results[i] = result_of(m, n, s[i], o, i, d, h, options);
  }
  return results;
}

}  // namespace fmtool
