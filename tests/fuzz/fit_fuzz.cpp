// libFuzzer target over the fitting library's C API (fmfit_fit and fmfit_batch_fit), built like
// models_fuzz (clang, -fsanitize=fuzzer,address,undefined). The input chooses a model from the
// catalogue (sometimes an unknown name or none), nParams from -2 to several times its count (or 0:
// the model's own), and then either one data set of 0..64 points or a batch of 0..6 ragged data
// sets (offsets that may start late, repeat or go backwards). x, y and weights come from a
// palette of hostile values (NaN, infinities, zeros, denormals, +-1e300, DBL_MAX) mixed with the
// model's generic point and its own values there; so do the starts, the held flags and the bounds
// (NaN bounds, lower above upper included); the options get tiny, zero, negative and non-finite
// tolerances, limits and levels. Every array the library reads or writes lies between poisoned
// guard cells. After the call it checks, and aborts with a description on a violation:
//   every input array unchanged and no guard cell written; a status from the enum, the same in
//   the summary; input the header calls invalid reported as FMFIT_INVALID_INPUT (and, with the
//   starts given, FMFIT_INVALID_INPUT only for such input); a converged fit with finite
//   parameters and chi2, its held parameters at their starts; a batch's return the status of its
//   first fit that did not converge, every summary written.
// FITMODELS_FUZZ_SHOW prints every call before it is made.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fitmodels_catalog.h"
#include "fitmodels_fit.h"

namespace {

constexpr int kGuard = 4;              // guard cells on either side of every array
constexpr unsigned char kFill = 0xa5;  // what every output byte holds before the call

// n elements of T between guard cells that ASan reports on touch; empty() hands the library a
// null pointer. Filled with kFill bytes unless filled from the input.
template <class T>
class Guarded {
 public:
  explicit Guarded(size_t n = 0) : n_(n), cells_(n + 2 * kGuard) {
    std::memset(cells_.data(), kFill, cells_.size() * sizeof(T));
    ASAN_POISON_MEMORY_REGION(cells_.data(), kGuard * sizeof(T));
    ASAN_POISON_MEMORY_REGION(cells_.data() + kGuard + n_, kGuard * sizeof(T));
  }
  Guarded(const Guarded &) = delete;
  Guarded &operator=(const Guarded &) = delete;
  ~Guarded() { unpoison(); }
  T *data() { return cells_.data() + kGuard; }
  T &operator[](size_t i) { return data()[i]; }
  size_t size() const { return n_; }
  void unpoison() { ASAN_UNPOISON_MEMORY_REGION(cells_.data(), cells_.size() * sizeof(T)); }
  bool guards_intact() {
    unpoison();
    const unsigned char *b = reinterpret_cast<const unsigned char *>(cells_.data());
    const size_t g = kGuard * sizeof(T), tail = (kGuard + n_) * sizeof(T);
    for (size_t i = 0; i < g; ++i)
      if (b[i] != kFill || b[tail + i] != kFill) return false;
    return true;
  }
  std::vector<unsigned char> bytes() {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(data());
    return std::vector<unsigned char>(b, b + n_ * sizeof(T));
  }

 private:
  size_t n_;
  std::vector<T> cells_;
};

// An optional array: absent (null pointer) or present between guards.
template <class T>
struct Maybe {
  bool present = false;
  Guarded<T> g;
  explicit Maybe(bool p, size_t n) : present(p), g(p ? n : 0) {}
  T *ptr() { return present ? g.data() : nullptr; }
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A data value: hostile, the ordinary value (a model's own value at its generic point), a
// multiple of it, or any double.
double from_palette(FuzzedDataProvider &in, double ordinary) {
  static const double palette[] = {kNaN, HUGE_VAL, -HUGE_VAL, 0.0, -0.0, DBL_TRUE_MIN, DBL_MIN,
                                   1e-300, -1e-300, 1e300, -1e300, DBL_MAX, -DBL_MAX, 1.0, -1.0,
                                   1e10, -1e10, 1e-10, 700.0, MISSING_VALUE};
  constexpr unsigned kPalette = sizeof palette / sizeof palette[0];
  const unsigned pick = in.ConsumeIntegral<uint8_t>();
  if (pick < kPalette) return palette[pick];
  if (pick < 200) return ordinary;
  if (pick < 236) return ordinary * (1.0 + (static_cast<int>(pick) - 218) / 64.0);
  if (pick < 250) return ordinary + (static_cast<int>(pick) - 243);
  return in.ConsumeFloatingPoint<double>();
}

bool same_bytes(Guarded<double> &a, const std::vector<unsigned char> &before) {
  return a.bytes() == before;
}

[[noreturn]] void fault(const char *model, const char *what, const fmfit_summary *s) {
  std::fprintf(stderr, "fault: %s: %s (status %d: %.*s)\n", model ? model : "(no name)", what,
               s ? s->status : -1, s ? static_cast<int>(sizeof s->message) : 0,
               s ? s->message : "");
  std::abort();
}

bool valid_status(int32_t s) { return s >= FMFIT_CONVERGED && s <= FMFIT_MODEL_FAILS; }

// The model under test and the generic point its data are drawn around.
struct Chosen {
  fmfit_model model{};
  const fm_model_info *info = nullptr;
  int np = -1;              // fmfit_model_params: -1 when the library must refuse the model
  size_t arr = 1;           // parameter arrays' length (np, or a stand-in when refused)
  int ni = 1;               // inputs per point
  std::vector<double> p;    // generic parameters, np of them (1.0 beyond the point)
  double x[3] = {0, 0, 0};  // generic inputs
  double y0 = 1.0;          // the model's value there (1.0 when it fails)
};

Chosen choose(FuzzedDataProvider &in) {
  static size_t count = 0;
  static const fm_model_info *catalog = fm_catalog(&count);
  Chosen c;
  const unsigned how = in.ConsumeIntegral<uint8_t>();
  c.info = &catalog[in.ConsumeIntegral<uint16_t>() % count];
  c.model.name = c.info->name;
  if (how == 0) c.model.name = "NoSuchModel";
  if (how == 1) c.model.name = nullptr;  // and no function
  if (how == 2 && c.info->shape != FM_SHAPE_ERROR_TEST) {  // by function, with counts of the input's choosing
    c.model.name = nullptr;
    c.model.function = fm_catalog_function(c.info);
    c.model.nIndep = static_cast<int16_t>(in.ConsumeIntegralInRange(0, 4));
    c.model.derivatives = c.info->derivatives;
  }
  const int row = std::max<int>(c.info->row_params, 1);
  c.model.nParams = static_cast<int16_t>(in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange(-2, 4 * row + 4));
  // A host handing over a function declares how many parameters it reads: a positive count
  // the layout does not read would be the host's error, not the library's (a fixed layout may
  // read more than a smaller count says).
  if (c.model.function && c.model.nParams >= 0 &&
      fm_layout_params(c.info, c.model.nParams) != c.model.nParams)
    c.model.nParams = static_cast<int16_t>(
        c.info->layout.per_term == 0 ? c.info->layout.shared : c.info->row_params);
  c.np = fmfit_model_params(&c.model);
  c.arr = c.np > 0 ? static_cast<size_t>(c.np) : 1;
  c.ni = c.model.function ? c.model.nIndep : c.info->nIndep;
  if (c.ni < 1 || c.ni > 3) c.ni = 1;
  c.p.assign(c.arr, 1.0);
  if (c.info->point_count > 0) {
    const fm_point &pt = c.info->points[0];
    for (size_t j = 0; j < c.arr && static_cast<int>(j) < pt.nparams; ++j) c.p[j] = pt.params[j + 1];
    // Terms beyond the point repeat its last term.
    const int per = c.info->layout.per_term, shared = c.info->layout.shared;
    if (per > 0 && pt.nparams >= shared + per)
      for (size_t j = pt.nparams; j < c.arr; ++j) c.p[j] = c.p[j - per];
    for (int k = 0; k < 3; ++k) c.x[k] = pt.x[k + 1];
  }
  if (c.np > 0 && c.model.function == nullptr) {
    if (ModelFunction f = fm_catalog_function(c.info)) {
      std::vector<double> params(c.arr + 1), x(4), y(c.arr + 8, 0.0), d(c.arr + 1);
      std::copy(c.p.begin(), c.p.end(), params.begin() + 1);
      std::copy(c.x, c.x + 3, x.begin() + 1);
      if (f(REQ_VALUE, nullptr, static_cast<int16_t>(c.np), 0, 0, params.data(), 0, x.data(),
            y.data(), d.data()) == 0 && std::isfinite(y[1]))
        c.y0 = y[1];
    }
  }
  return c;
}

// Data of n points around the generic point: x spread over a few units, y the model's value
// there or a hostile one. bad: set when some point is not finite or a weight not a finite
// non-negative number.
void fill_data(FuzzedDataProvider &in, const Chosen &c, size_t n, Guarded<double> &x,
               Guarded<double> &y, Maybe<double> &w, bool &bad) {
  for (size_t i = 0; i < n; ++i) {
    for (int k = 0; k < c.ni; ++k) {
      const double spread = c.x[k] + (static_cast<double>(i) - n / 2.0) * 0.1 * (k + 1);
      x[i * c.ni + k] = from_palette(in, spread);
      bad |= !std::isfinite(x[i * c.ni + k]);
    }
    y[i] = from_palette(in, c.y0);
    bad |= !std::isfinite(y[i]);
    if (w.present) {
      w.g[i] = from_palette(in, 1.0);
      bad |= !(std::isfinite(w.g[i]) && w.g[i] >= 0);
    }
  }
}

// Options: absent, or initialised and then given hostile tolerances, limits and levels. bad: set
// for what the header calls invalid.
void fill_options(FuzzedDataProvider &in, fmfit_options &o, bool &bad) {
  fmfit_options_init(&o);
  const double tol[] = {1e-14, 0.0, -1.0, 1e-300, kNaN, 1.0, HUGE_VAL, 1e-6};
  const int32_t evals[] = {20, 1, 2, 5, 0, -1, 100, 3};
  const double limits[] = {0.0, 0.0, 1e-9, -1.0, kNaN, 1e300, HUGE_VAL, 0.5};
  const double levels[] = {0.95, 0.0, 1.0, kNaN, 0.5, -1.0, 1e-300, 0.999999};
  const int32_t threads[] = {0, 1, 2, -1, 300, 0, 1, 3};
  o.ftol = tol[in.ConsumeIntegral<uint8_t>() % 8];
  o.xtol = tol[in.ConsumeIntegral<uint8_t>() % 8];
  o.gtol = tol[in.ConsumeIntegral<uint8_t>() % 8] * (in.ConsumeBool() ? 1.0 : 0.0);
  o.max_evaluations = evals[in.ConsumeIntegral<uint8_t>() % 8];
  o.time_limit = limits[in.ConsumeIntegral<uint8_t>() % 8];
  o.confidence_level = levels[in.ConsumeIntegral<uint8_t>() % 8];
  o.threads = threads[in.ConsumeIntegral<uint8_t>() % 8];
  o.absolute_sigma = in.ConsumeBool();
  o.profile = in.ConsumeIntegral<uint8_t>() < 32;
  if (in.ConsumeIntegral<uint8_t>() == 0) o.size = 1;  // not initialised by fmfit_options_init
  bad |= o.size != sizeof o || !(o.ftol >= 0) || !(o.xtol >= 0) || !(o.gtol >= 0) ||
         o.max_evaluations < 0 || !(o.time_limit >= 0) || o.threads < 0 ||
         !(o.confidence_level > 0 && o.confidence_level < 1);
}

// Starts and constraints of np parameters (row r of a per-fit array at offset r * np).
void fill_params(FuzzedDataProvider &in, const Chosen &c, Maybe<double> &start,
                 Maybe<uint8_t> &held, Maybe<double> &lo, Maybe<double> &hi, size_t rows) {
  const size_t np = c.arr;
  for (size_t r = 0; r < rows; ++r)
    for (size_t j = 0; j < np; ++j) {
      const size_t k = r * np + j;
      double s = c.p[j];
      if (start.present) s = start.g[k] = from_palette(in, c.p[j]);
      if (held.present) held.g[k] = in.ConsumeIntegral<uint8_t>() < 48 ? 1 : 0;
      static const double bound[] = {-HUGE_VAL, HUGE_VAL, kNaN, 0.0, -1e300, 1e300};
      const unsigned b = in.ConsumeIntegral<uint8_t>();
      if (lo.present) lo.g[k] = b < 6 ? bound[b] : b < 150 ? -HUGE_VAL : s - (b - 149) / 16.0;
      const unsigned u = in.ConsumeIntegral<uint8_t>();
      if (hi.present) hi.g[k] = u < 6 ? bound[u] : u < 150 ? HUGE_VAL : s + (u - 160) / 16.0;
    }
}

// Is the input of one fit invalid by the header's rules? Only decidable with the starts given
// (an estimate may land anywhere); unknown otherwise (returns false).
bool fit_invalid(const Chosen &c, size_t n, bool data_bad, const double *start,
                 const uint8_t *held, const double *lo, const double *hi) {
  if (c.np < 1 || n == 0 || data_bad) return true;
  if (start == nullptr) return false;
  size_t free = 0;
  for (size_t j = 0; j < c.arr; ++j) {
    const double l = lo ? lo[j] : -HUGE_VAL, u = hi ? hi[j] : HUGE_VAL;
    if (!std::isfinite(start[j]) || std::isnan(l) || std::isnan(u) || l > u) return true;
    if (held && held[j]) continue;
    if (start[j] < l || start[j] > u) return true;
    ++free;
  }
  return free > n;
}

// The checks of one result.
void check_result(const Chosen &c, const fmfit_summary &s, bool batch, bool invalid, bool decidable,
                  const double *start, const uint8_t *held, const double *params) {
  const char *name = c.model.name ? c.model.name : c.info->name;
  if (!valid_status(s.status)) fault(name, "a status outside the enum", &s);
  if (std::memchr(s.message, 0, sizeof s.message) == nullptr)
    fault(name, "a message without its terminating NUL", &s);
  // A fit of a batch that the time limit stops before it starts never looks at its input.
  const bool not_started = s.status == FMFIT_TIME_LIMIT || s.status == FMFIT_CANCELLED;
  if (invalid && s.status != FMFIT_INVALID_INPUT && !(batch && not_started))
    fault(name, "invalid input not reported", &s);
  if (!invalid && decidable && s.status == FMFIT_INVALID_INPUT &&
      std::strcmp(s.message, "out of memory") != 0)
    fault(name, "valid input reported invalid", &s);
  if (std::strstr(s.message, "internal error")) fault(name, "an internal error", &s);
  if (s.status != FMFIT_CONVERGED) return;
  if (!std::isfinite(s.chi2) || s.chi2 < 0) fault(name, "converged with a non-finite chi2", &s);
  if (params == nullptr) return;
  for (size_t j = 0; j < c.arr; ++j) {
    if (!std::isfinite(params[j])) fault(name, "converged with a non-finite parameter", &s);
    if (start && held && held[j] && std::memcmp(&params[j], &start[j], sizeof(double)) != 0)
      fault(name, "a held parameter moved", &s);
  }
}

struct Outputs {
  Maybe<double> params, errors, lo, hi, cov, corr;
  Maybe<uint8_t> flags;
  Outputs(FuzzedDataProvider &in, size_t rows, size_t np)
      : params(in.ConsumeIntegral<uint8_t>() >= 16, rows * np),
        errors(in.ConsumeBool(), rows * np),
        lo(in.ConsumeBool(), rows * np),
        hi(in.ConsumeBool(), rows * np),
        cov(in.ConsumeBool(), rows * np * np),
        corr(in.ConsumeBool(), rows * np * np),
        flags(in.ConsumeBool(), rows * np) {}
  fmfit_output view() {
    return {params.ptr(), errors.ptr(), lo.ptr(), hi.ptr(), cov.ptr(), corr.ptr(), flags.ptr()};
  }
  bool guards_intact() {
    return params.g.guards_intact() && errors.g.guards_intact() && lo.g.guards_intact() &&
           hi.g.guards_intact() && cov.g.guards_intact() && corr.g.guards_intact() &&
           flags.g.guards_intact();
  }
};

void show(const Chosen &c, const char *what, size_t n) {
  static const bool on = std::getenv("FITMODELS_FUZZ_SHOW") != nullptr;
  if (on)
    std::fprintf(stderr, "call: %s %s nParams %d (resolved %d) points %zu\n",
                 c.model.name ? c.model.name : "(function)", what, c.model.nParams, c.np, n);
}

void one_fit(FuzzedDataProvider &in, const Chosen &c) {
  const size_t n = in.ConsumeIntegralInRange<size_t>(0, 64);
  Guarded<double> x(n * c.ni), y(n);
  Maybe<double> w(in.ConsumeBool(), n);
  bool bad = false;
  fill_data(in, c, n, x, y, w, bad);
  Maybe<double> start(in.ConsumeIntegral<uint8_t>() >= 48, c.arr);
  Maybe<uint8_t> held(in.ConsumeBool(), c.arr);
  Maybe<double> lo(in.ConsumeBool(), c.arr), hi(in.ConsumeBool(), c.arr);
  fill_params(in, c, start, held, lo, hi, 1);
  const bool with_cons = in.ConsumeIntegral<uint8_t>() >= 16;
  fmfit_constraints cons{held.ptr(), lo.ptr(), hi.ptr()};
  const bool with_opts = in.ConsumeIntegral<uint8_t>() >= 32;
  bool opts_bad = false;
  Guarded<fmfit_options> opts(1);
  if (with_opts) fill_options(in, opts[0], opts_bad);
  Outputs out(in, 1, c.arr);
  const bool with_out = in.ConsumeIntegral<uint8_t>() >= 8;
  Guarded<fmfit_summary> sum(1);
  const bool with_sum = in.ConsumeIntegral<uint8_t>() >= 8;
  fmfit_data data{n, x.data(), y.data(), w.ptr()};
  fmfit_output view = out.view();

  const auto x0 = x.bytes(), y0 = y.bytes(), w0 = w.g.bytes(), s0 = start.g.bytes(),
             l0 = lo.g.bytes(), h0 = hi.g.bytes();
  const auto held0 = held.g.bytes();
  const auto opts0 = opts.bytes();
  show(c, "fit", n);
  const int32_t rc = fmfit_fit(&c.model, &data, start.ptr(), with_cons ? &cons : nullptr,
                               with_opts ? opts.data() : nullptr, with_sum ? sum.data() : nullptr,
                               with_out ? &view : nullptr);
  const char *name = c.model.name ? c.model.name : c.info->name;
  if (!x.guards_intact() || !y.guards_intact() || !w.g.guards_intact() ||
      !start.g.guards_intact() || !held.g.guards_intact() || !lo.g.guards_intact() ||
      !hi.g.guards_intact() || !opts.guards_intact() || !out.guards_intact() ||
      !sum.guards_intact())
    fault(name, "a guard cell was written", nullptr);
  if (!same_bytes(x, x0) || !same_bytes(y, y0) || !same_bytes(w.g, w0) ||
      !same_bytes(start.g, s0) || !same_bytes(lo.g, l0) || !same_bytes(hi.g, h0) ||
      held.g.bytes() != held0 || opts.bytes() != opts0)
    fault(name, "an input array changed", nullptr);
  if (!valid_status(rc)) fault(name, "a return code outside the enum", nullptr);
  if (!with_sum) return;
  if (sum[0].status != rc) fault(name, "the summary's status is not the return code", &sum[0]);
  const bool invalid = opts_bad || fit_invalid(c, n, bad, start.ptr(), with_cons ? held.ptr() : nullptr,
                                               with_cons ? lo.ptr() : nullptr,
                                               with_cons ? hi.ptr() : nullptr);
  check_result(c, sum[0], false, invalid, start.present, start.ptr(), with_cons ? held.ptr() : nullptr,
               with_out ? out.params.ptr() : nullptr);
}

void batch_fit(FuzzedDataProvider &in, const Chosen &c) {
  const size_t count = in.ConsumeIntegralInRange<size_t>(0, 6);
  Guarded<size_t> offsets(count + 1);
  size_t total = 0;
  bool ordered = true;
  offsets[0] = in.ConsumeIntegral<uint8_t>() < 200 ? 0 : in.ConsumeIntegralInRange<size_t>(1, 8);
  for (size_t i = 1; i <= count; ++i) {
    const unsigned step = in.ConsumeIntegral<uint8_t>();
    if (step < 16 && offsets[i - 1] > 0) {  // backwards
      offsets[i] = offsets[i - 1] - std::min<size_t>(offsets[i - 1], step % 4 + 1);
      ordered = false;
    } else {
      offsets[i] = offsets[i - 1] + (step < 40 ? 0 : step % 24);
    }
  }
  for (size_t i = 0; i <= count; ++i) total = std::max(total, offsets[i]);
  Guarded<double> x(total * c.ni), y(total);
  Maybe<double> w(in.ConsumeBool(), total);
  std::vector<bool> point_bad(total, false);
  for (size_t i = 0; i < total; ++i) {
    Guarded<double> xi(c.ni), yi(1);
    Maybe<double> wi(w.present, 1);
    bool bad = false;
    fill_data(in, c, 1, xi, yi, wi, bad);
    for (int k = 0; k < c.ni; ++k) x[i * c.ni + k] = xi[k];
    y[i] = yi[0];
    if (w.present) w.g[i] = wi.g[0];
    point_bad[i] = bad;
  }
  const uint32_t per_fit = in.ConsumeIntegral<uint8_t>() & 0xf;
  auto rows = [&](uint32_t bit) { return (per_fit & bit) ? std::max<size_t>(count, 1) : 1; };
  Maybe<double> start(in.ConsumeIntegral<uint8_t>() >= 48, rows(FMFIT_PER_FIT_START) * c.arr);
  Maybe<uint8_t> held(in.ConsumeBool(), rows(FMFIT_PER_FIT_HELD) * c.arr);
  Maybe<double> lo(in.ConsumeBool(), rows(FMFIT_PER_FIT_LOWER) * c.arr);
  Maybe<double> hi(in.ConsumeBool(), rows(FMFIT_PER_FIT_UPPER) * c.arr);
  {
    // Each array filled row by row: the start's rows first, then the constraints'.
    const size_t most = std::max({start.g.size(), held.g.size(), lo.g.size(), hi.g.size()}) /
                        c.arr;
    Maybe<double> s(true, most * c.arr), l(true, most * c.arr), u(true, most * c.arr);
    Maybe<uint8_t> h(true, most * c.arr);
    fill_params(in, c, s, h, l, u, most);
    for (size_t k = 0; k < start.g.size(); ++k) start.g[k] = s.g[k];
    for (size_t k = 0; k < held.g.size(); ++k) held.g[k] = h.g[k];
    for (size_t k = 0; k < lo.g.size(); ++k) lo.g[k] = l.g[k];
    for (size_t k = 0; k < hi.g.size(); ++k) hi.g[k] = u.g[k];
  }
  bool opts_bad = false;
  const bool with_opts = in.ConsumeIntegral<uint8_t>() >= 32;
  Guarded<fmfit_options> opts(1);
  if (with_opts) fill_options(in, opts[0], opts_bad);
  Outputs out(in, std::max<size_t>(count, 1), c.arr);
  const bool with_out = in.ConsumeIntegral<uint8_t>() >= 8;
  Guarded<fmfit_summary> sums(std::max<size_t>(count, 1));
  fmfit_batch b{count, offsets.data(), x.data(), y.data(), w.ptr(), start.ptr(),
                {held.ptr(), lo.ptr(), hi.ptr()}, per_fit};
  fmfit_output view = out.view();
  const auto x0 = x.bytes(), y0 = y.bytes(), w0 = w.g.bytes(), s0 = start.g.bytes(),
             l0 = lo.g.bytes(), h0 = hi.g.bytes();
  const auto held0 = held.g.bytes(), off0 = offsets.bytes(), opts0 = opts.bytes();
  show(c, "batch", count);
  const int32_t rc = fmfit_batch_fit(&c.model, &b, with_opts ? opts.data() : nullptr,
                                     sums.data(), with_out ? &view : nullptr);
  const char *name = c.model.name ? c.model.name : c.info->name;
  if (!offsets.guards_intact() || !x.guards_intact() || !y.guards_intact() ||
      !w.g.guards_intact() || !start.g.guards_intact() || !held.g.guards_intact() ||
      !lo.g.guards_intact() || !hi.g.guards_intact() || !opts.guards_intact() ||
      !out.guards_intact() || !sums.guards_intact())
    fault(name, "batch: a guard cell was written", nullptr);
  if (!same_bytes(x, x0) || !same_bytes(y, y0) || !same_bytes(w.g, w0) ||
      !same_bytes(start.g, s0) || !same_bytes(lo.g, l0) || !same_bytes(hi.g, h0) ||
      held.g.bytes() != held0 || offsets.bytes() != off0 || opts.bytes() != opts0)
    fault(name, "batch: an input array changed", nullptr);
  if (!valid_status(rc)) fault(name, "batch: a return code outside the enum", nullptr);
  if (count == 0) {
    if (rc != FMFIT_CONVERGED) fault(name, "batch: an empty batch not converged", nullptr);
    return;
  }
  if (!ordered || opts_bad || c.np < 1) {
    if (rc != FMFIT_INVALID_INPUT) fault(name, "batch: a malformed batch not refused", nullptr);
  }
  int32_t first = FMFIT_CONVERGED;
  for (size_t i = 0; i < count; ++i) {
    const fmfit_summary &s = sums[i];
    if (!valid_status(s.status)) fault(name, "batch: a summary not written", &s);
    if (first == FMFIT_CONVERGED) first = s.status;
    if (!ordered) continue;
    const size_t a = offsets[i], e = offsets[i + 1];
    bool bad = false;
    for (size_t k = a; k < e; ++k) bad |= point_bad[k];
    auto at = [&](auto &m, uint32_t bit) {
      return m.present ? m.g.data() + ((per_fit & bit) ? i * c.arr : 0) : nullptr;
    };
    const double *st = at(start, FMFIT_PER_FIT_START);
    const uint8_t *hd = at(held, FMFIT_PER_FIT_HELD);
    const bool invalid = opts_bad || fit_invalid(c, e - a, bad, st, hd, at(lo, FMFIT_PER_FIT_LOWER),
                                                 at(hi, FMFIT_PER_FIT_UPPER));
    check_result(c, s, true, invalid, st != nullptr, st, hd,
                 with_out && out.params.present ? out.params.g.data() + i * c.arr : nullptr);
  }
  if (rc != first) fault(name, "batch: the return is not the first fit's failure", &sums[0]);
}

}  // namespace

// The shared ASan runtime is loaded after libstdc++: skip the load-order check (as models_fuzz).
extern "C" const char *__asan_default_options() { return "verify_asan_link_order=0"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const Chosen c = choose(in);
  if (in.ConsumeIntegral<uint8_t>() < 160)
    one_fit(in, c);
  else
    batch_fit(in, c);
  return 0;
}
