// libFuzzer target over every model (clang, -fsanitize=fuzzer,address,undefined). The input
// chooses a model and whether it is reached through its registry row or its exported name, a
// request word (bits 0..3 in every combination, sometimes with high bits), nParams from -2 to
// several times the row's count, a preset errno, and every parameter and input from a palette
// of hostile values (NaN, infinities, signed zeros, denormals, +-1e+-300, MISSING_VALUE) mixed
// with the model's generic point and with each other. params, x, y and deriv are sized exactly
// for the layout at that nParams, each between poisoned guard cells, so any access outside is
// an ASan report. After the call it checks, and aborts with a description on a violation:
//   params and x unchanged; y[0] untouched, deriv[0] only by a query answer; no deriv slot
//   written beyond the layout; the return code one the request allows (a stale ERANGE or EDOM
//   may fail any request); no success (return 0) with a NaN, infinite or MISSING_VALUE y[1],
//   unless an input was MISSING_VALUE or the model defines such a success (its catalogue entry's
//   defined_missing); no success with a NaN or infinite derivative.
// FITMODELS_FUZZ_SHOW prints every call before it is made; FITMODELS_FUZZ_SURVEY prints each
// violation and goes on instead of aborting.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz/model_table.h"

namespace {

constexpr int kGuard = 4;  // guard cells on either side of every array
constexpr uint64_t kPattern = 0x7ff5a5a5c3c3e1e1ull;  // a NaN no model writes

double pattern() {
  double d;
  std::memcpy(&d, &kPattern, sizeof d);
  return d;
}
bool is_pattern(double d) { return std::memcmp(&d, &kPattern, sizeof d) == 0; }
bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// An array of n doubles (element 0 included) between guard cells that ASan reports on touch.
class Guarded {
 public:
  explicit Guarded(int n) : n_(n), cells_(static_cast<size_t>(n + 2 * kGuard), pattern()) {
    ASAN_POISON_MEMORY_REGION(cells_.data(), kGuard * sizeof(double));
    ASAN_POISON_MEMORY_REGION(cells_.data() + kGuard + n_, kGuard * sizeof(double));
  }
  ~Guarded() { unpoison(); }
  double *data() { return cells_.data() + kGuard; }
  double &operator[](int i) { return data()[i]; }
  int size() const { return n_; }
  void unpoison() { ASAN_UNPOISON_MEMORY_REGION(cells_.data(), cells_.size() * sizeof(double)); }
  bool guards_intact() {
    unpoison();
    for (int i = 0; i < kGuard; ++i)
      if (!is_pattern(cells_[i]) || !is_pattern(cells_[kGuard + n_ + i])) return false;
    return true;
  }

 private:
  int n_;
  std::vector<double> cells_;
};

// One parameter or input: a hostile value, the generic point's value (as it is, scaled, shifted),
// a value chosen before it in this call (so that guards such as x = p2 are met), or any double.
double from_palette(FuzzedDataProvider &in, double ordinary, const std::vector<double> &before) {
  static const double palette[] = {
      std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
      HUGE_VAL, -HUGE_VAL, 0.0, -0.0, DBL_TRUE_MIN, -DBL_TRUE_MIN, DBL_MIN, -DBL_MIN, 1e-300,
      -1e-300, 1e300, -1e300, DBL_MAX, -DBL_MAX, MISSING_VALUE, 1.0, -1.0, 0.5, 2.0, 3.0, 10.0,
      -10.0, 1e10, -1e10, 1e-10, 700.0, -700.0, 1e154, 1e-154};
  constexpr unsigned kPalette = sizeof palette / sizeof palette[0];
  const unsigned pick = in.ConsumeIntegral<uint8_t>();
  if (pick < kPalette) return palette[pick];
  if (pick < 160) return ordinary;                      // the generic point's value
  if (pick < 200) return ordinary * (pick - 180) / 8.0;  // scaled, sign changed, zeroed
  if (pick < 230) return ordinary + (pick - 215) / 4.0;
  if (pick < 246 && !before.empty()) return before[(pick - 230) % before.size()];
  return in.ConsumeFloatingPoint<double>();
}

// A violation: one line, then abort (libFuzzer saves the input). With FITMODELS_FUZZ_SURVEY set
// the line is printed and the run goes on, for a survey of what a run finds.
struct Fault {};
[[noreturn]] void fault(const FuzzModel &m, int32_t request, int n, int err_in, int32_t rc,
                        const char *what) {
  std::fprintf(stderr, "fault: %s: request %d, nParams %d, errno in %d, rc %d: %s\n",
               m.name.c_str(), request, n, err_in, rc, what);
  static const bool survey = std::getenv("FITMODELS_FUZZ_SURVEY") != nullptr;
  if (survey) throw Fault{};
  std::abort();
}

}  // namespace

// The shared ASan runtime (which the library needs to link without undefined symbols) is loaded
// after libstdc++, which intercepts nothing: skip the load-order check.
extern "C" const char *__asan_default_options() { return "verify_asan_link_order=0"; }

// With FITMODELS_FUZZ_WRITE_SEEDS=DIR set, writes the seed corpus into DIR and exits: for every
// model a value and a derivative request at its generic point with its row's parameter count.
// The input is consumed from its end, one byte per choice (FuzzedDataProvider), so a seed is
// its choices in reverse.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char *dir = std::getenv("FITMODELS_FUZZ_WRITE_SEEDS");
  if (dir == nullptr) return 0;
  const std::vector<FuzzModel> &models = fuzz_models();
  for (size_t i = 0; i < models.size(); ++i)
    for (int request : {REQ_VALUE, REQ_DERIV}) {
      const FuzzModel &m = models[i];
      std::vector<uint8_t> choices = {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0,
                                      static_cast<uint8_t>(request), 0,
                                      static_cast<uint8_t>(m.row_params + 2), 1};
      const int np = std::max(m.row_params, m.params_read(m.row_params));
      for (int k = 0; k < np + m.nIndep; ++k) choices.push_back(130);  // the generic point
      std::vector<uint8_t> bytes(choices.rbegin(), choices.rend());
      char path[4096];
      std::snprintf(path, sizeof path, "%s/%s-%d", dir, m.name.c_str(), request);
      if (FILE *out = std::fopen(path, "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
      }
    }
  std::exit(0);
}

namespace {
int test_one(const uint8_t *data, size_t size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  try {
    return test_one(data, size);
  } catch (const Fault &) {
    return 0;
  }
}

namespace {
int test_one(const uint8_t *data, size_t size) {
  static const std::vector<FuzzModel> &models = fuzz_models();
  FuzzedDataProvider in(data, size);
  const FuzzModel &m = models[in.ConsumeIntegral<uint16_t>() % models.size()];
  const bool use_export = in.ConsumeBool();
  ModelFunction f = (use_export && m.by_export) || m.by_row == nullptr ? m.by_export : m.by_row;

  int32_t request = in.ConsumeIntegral<uint8_t>() & 0xf;
  if (in.ConsumeBool()) request |= static_cast<int32_t>(1u << in.ConsumeIntegralInRange(4, 31));
  const int n = in.ConsumeIntegralInRange(-2, 4 * std::max(m.row_params, 1) + 4);
  static const int errnos[] = {0, 5, ERANGE, EDOM, EINTR, -1};
  const int err_in = errnos[in.ConsumeIntegralInRange<size_t>(0, 5)];

  // Arrays exactly as a host sizes them for this nParams: at least n parameters (the layout may
  // read more: a fixed count), one derivative slot per parameter, y for nDep outputs or one per
  // term after the total.
  const bool fits = m.least < 0 || n >= m.least;
  const int read = fits ? m.params_read(n) : 0;
  const int np = std::max(std::max(n, 0), read);
  const int slots = fits ? m.deriv_slots(n) : 0;
  const int ny = std::max(m.nDep, m.term_outputs && fits ? 1 + m.terms(n) : 1);
  Guarded params(np + 1), x(m.nIndep + 1), y(ny + 1), deriv(std::max(np, slots) + 1);
  bool sentinel_in = false;
  std::vector<double> chosen;
  for (int i = 1; i <= np; ++i) {
    const double ordinary = i <= static_cast<int>(m.point_p.size()) ? m.point_p[i - 1] : 1.0;
    params[i] = from_palette(in, ordinary, chosen);
    chosen.push_back(params[i]);
    sentinel_in |= params[i] == MISSING_VALUE;
  }
  for (int i = 1; i <= m.nIndep; ++i) {
    x[i] = from_palette(in, m.point_x[std::min(i, 3)], chosen);
    chosen.push_back(x[i]);
    sentinel_in |= x[i] == MISSING_VALUE;
  }
  params[0] = x[0] = 0.0;
  const std::vector<double> params_in(params.data(), params.data() + np + 1);
  const std::vector<double> x_in(x.data(), x.data() + m.nIndep + 1);

  static const bool show = std::getenv("FITMODELS_FUZZ_SHOW") != nullptr;
  if (show) {
    std::fprintf(stderr, "call: %s%s request %d nParams %d errno %d params", m.name.c_str(),
                 f == m.by_export ? " (export)" : "", request, n, err_in);
    for (int i = 1; i <= np; ++i) std::fprintf(stderr, " %.17g", params[i]);
    std::fprintf(stderr, " x");
    for (int i = 1; i <= m.nIndep; ++i) std::fprintf(stderr, " %.17g", x[i]);
    std::fprintf(stderr, "\n");
  }
  errno = err_in;
  const int32_t rc = f(request, nullptr, static_cast<int16_t>(n), 0, 0, params.data(), 0,
                       x.data(), y.data(), deriv.data());

  if (!params.guards_intact() || !x.guards_intact() || !y.guards_intact() ||
      !deriv.guards_intact())
    fault(m, request, n, err_in, rc, "a guard cell was written");
  for (int i = 0; i <= np; ++i)
    if (!same_bits(params[i], params_in[i])) fault(m, request, n, err_in, rc, "params changed");
  for (int i = 0; i <= m.nIndep; ++i)
    if (!same_bits(x[i], x_in[i])) fault(m, request, n, err_in, rc, "x changed");
  if (!is_pattern(y[0])) fault(m, request, n, err_in, rc, "y[0] written");
  const bool query = (request & REQ_QUERY) && m.answers_query;
  if (!query && !is_pattern(deriv[0])) fault(m, request, n, err_in, rc, "deriv[0] written");
  for (int i = slots + 1; i <= deriv.size() - 1; ++i)
    if (!is_pattern(deriv[i])) fault(m, request, n, err_in, rc, "deriv written beyond the layout");

  // The return code.
  const bool value = request & REQ_VALUE, derivs = request & REQ_DERIV;
  // A model may fail on a stale ERANGE or EDOM before it looks at the request word.
  if (rc == 1 && (err_in == ERANGE || err_in == EDOM)) return 0;
  if (query) {
    if (rc != QUERY_REPLY_NONE && rc != QUERY_REPLY_MASK && rc != m.reserved)
      fault(m, request, n, err_in, rc, "not a query answer");
    return 0;
  }
  if (request & REQ_RESERVED) {
    if (rc != m.reserved) fault(m, request, n, err_in, rc, "not the reserved answer");
    return 0;
  }
  if (!value && !derivs) {
    if (m.neither >= 0 ? rc != m.neither : rc != 0 && rc != 1)
      fault(m, request, n, err_in, rc, "not the answer to a request of neither");
    return 0;
  }
  if (rc != 0 && rc != 1) fault(m, request, n, err_in, rc, "return code neither 0 nor 1");
  if (rc == 1) return 0;

  // A success: a value, finite derivatives, errno untouched.
  const bool writes_y = m.shape == 'V' ? (value || derivs) : (m.shape != 'P' && value);
  if (writes_y) {
    if (is_pattern(y[1])) fault(m, request, n, err_in, rc, "a success without writing y[1]");
    if (!std::isfinite(y[1])) fault(m, request, n, err_in, rc, "a success with a non-finite y[1]");
    if (y[1] == MISSING_VALUE && !sentinel_in && !m.defined_missing_value)
      fault(m, request, n, err_in, rc, "a success with MISSING_VALUE in y[1]");
  }
  const bool writes_d = m.shape == 'V' ? derivs : (m.shape == 'E' && derivs && !value);
  if (writes_d)
    for (int i = 1; i <= slots; ++i)
      if (!is_pattern(deriv[i]) && !std::isfinite(deriv[i]))
        fault(m, request, n, err_in, rc, "a success with a non-finite derivative");
  return 0;
}
}  // namespace
