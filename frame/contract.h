// The model-function contract shared by every model: the definition macro, the request bits,
// the failure exits and the shared numerical routines.
#ifndef FITMODELS_FRAME_CONTRACT_H
#define FITMODELS_FRAME_CONTRACT_H

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fitmodels.h"
#include "frame/platform_math.h"

// Defines a model function with the common signature. Arguments a model does not read
// (context and the three reserved integers always; nParams, params, x, y, deriv in some models)
// are unnamed or marked unused. The body is the model's own code; the exported function around
// it passes every success through fm::no_success_without_value with the model's contract, so
// that no model returns 0 without a finite value.
#define FM_MODEL(name)                                                                    \
  static int32_t name##_body(int32_t request, void *context, int16_t nParams,             \
                             const double *params, const double *x, double *y,            \
                             double *deriv);                                              \
  extern "C" int32_t name(int32_t request, void *context, int16_t nParams, int32_t,       \
                          int32_t, const double *params, int32_t, const double *x,        \
                          double *y, double *deriv) {                                     \
    return fm::no_success_without_value(                                                  \
        fm::contracts::name, request, nParams, y, deriv,                                  \
        name##_body(request, context, nParams, params, x, y, deriv));                     \
  }                                                                                       \
  static int32_t name##_body(int32_t request, [[maybe_unused]] void *context,             \
                             [[maybe_unused]] int16_t nParams,                            \
                             [[maybe_unused]] const double *params,                       \
                             [[maybe_unused]] const double *x, [[maybe_unused]] double *y, \
                             [[maybe_unused]] double *deriv)

// Declares a model function (used by the registry for the functions behind its rows).
#define FM_DECLARE_MODEL(name)                                                            \
  extern "C" int32_t name(int32_t request, void *context, int16_t nParams, int32_t,       \
                          int32_t, const double *params, int32_t, const double *x,        \
                          double *y, double *deriv)

namespace fm {

constexpr double kMissing = MISSING_VALUE;

// Request bits. Only bits 0 to 3 are ever examined.
inline bool wants_reserved(int32_t request) { return (request & REQ_RESERVED) != 0; }
inline bool wants_value(int32_t request) { return (request & REQ_VALUE) != 0; }
inline bool wants_deriv(int32_t request) { return (request & REQ_DERIV) != 0; }
inline bool wants_query(int32_t request) { return (request & REQ_QUERY) != 0; }
inline bool wants_value_or_deriv(int32_t request) {
  return (request & (REQ_VALUE | REQ_DERIV)) != 0;
}

// errno tests after a guarded computation.
inline bool math_error() { return errno == ERANGE || errno == EDOM; }  // 34 or 33
inline bool overflow_error() { return errno == ERANGE; }               // 34 only

// The same tests on the calling thread's errno fetched once (errno_ref()) by a model that tests
// it once per term of a sum: the location is looked up once instead of once per term.
inline int &errno_ref() { return errno; }
inline bool math_error_in(const int &err) { return err == ERANGE || err == EDOM; }
inline bool overflow_error_in(const int &err) { return err == ERANGE; }

// The standard failure: errno reset to 0, y[1] = MISSING_VALUE, return 1.
inline int32_t standard_failure(double *y) {
  errno = 0;
  y[1] = kMissing;
  return 1;
}

// The guard failure: y[1] = MISSING_VALUE, return 1, errno untouched.
inline int32_t guard_failure(double *y) {
  y[1] = kMissing;
  return 1;
}

// Writes MISSING_VALUE into deriv[first..last].
inline void set_missing(double *deriv, int first, int last) {
  for (int i = first; i <= last; ++i) deriv[i] = kMissing;
}

// The all-missing failure: deriv[1..n] = MISSING_VALUE, then the standard failure.
inline int32_t all_missing_failure(double *y, double *deriv, int n) {
  set_missing(deriv, 1, n);
  return standard_failure(y);
}

// Answer to REQ_QUERY of a model without moment information: the 32-bit 0 stored in the first
// four bytes of deriv[0].
inline int32_t answer_no_moments(double *deriv) {
  const int32_t none = 0;
  std::memcpy(static_cast<void *>(deriv), &none, sizeof none);
  return QUERY_REPLY_NONE;
}

// Answer to REQ_QUERY with a moment mask.
inline int32_t answer_moment_mask(double *deriv, int32_t mask) {
  std::memcpy(static_cast<void *>(deriv), &mask, sizeof mask);
  return QUERY_REPLY_MASK;
}

// ---- shared numerical routines -----------------------------------------------------------

// exp(t), or 0.0 without calling exp when t < -300 (strictly; -300 itself and NaN go to exp).
inline double checked_exp(double t) {
  if (t < -300.0) return 0.0;
  return fm::exp_no_underflow(t);  // t >= -300 or NaN: exp cannot underflow
}

// pow(b, e), or 0.0 without calling pow when b is a zero of either sign and e > 0.
inline double checked_pow(double b, double e) {
  if (b == 0.0 && e > 0.0) return 0.0;
  return fm::pow(b, e);
}

// 0.0 for t < -300, MISSING_VALUE for t > 300 (no errno is set), else checked_exp(t).
inline double capped_exp(double t) {
  if (t < -300.0) return 0.0;
  if (t > 300.0) return kMissing;
  return checked_exp(t);
}

// Replaces a non-finite *v by MISSING_VALUE; a null pointer is ignored.
inline void finite_or_missing(double *v) {
  if (v != nullptr && !std::isfinite(*v)) *v = kMissing;
}

// ---- request frames shared by the family units --------------------------------------------
// A model's value step and derivative step each return the call's code: 0, or 1 after a failure
// exit (a value step may also answer true for success and false after its failure exit).

using ValueStep = bool;  // a value step answering true for success

// The standard failure taken inside a value step that answers true or false.
inline ValueStep value_failure(double *y) {
  standard_failure(y);
  return false;
}

inline bool step_failed(bool ok) { return !ok; }
inline bool step_failed(int32_t rc) { return rc != 0; }

// Value-then-derivatives: bit 0 returns 1; with bit 1 the value step runs and a failure there
// ends the call with 1; without bit 2 return 0; else the derivative step's code.
template <class Value, class Derivatives>
int32_t value_then_derivatives_frame(int32_t request, Value value, Derivatives derivatives) {
  if (wants_reserved(request)) return 1;
  if (wants_value(request) && step_failed(value())) return 1;
  if (!wants_deriv(request)) return 0;
  return derivatives();
}

// Exclusive: bit 0 returns `reserved`; with bit 1 only the value step runs; with bit 2 alone
// the derivative step; with neither bit return 0.
template <class Value, class Derivatives>
int32_t exclusive_frame(int32_t request, int32_t reserved, Value value, Derivatives derivatives) {
  if (wants_reserved(request)) return reserved;
  if (wants_value(request)) return step_failed(value()) ? 1 : 0;
  if (wants_deriv(request)) return derivatives();
  return 0;
}
template <class Value, class Derivatives>
int32_t exclusive_frame(int32_t request, Value value, Derivatives derivatives) {
  return exclusive_frame(request, 1, value, derivatives);
}

// A derivative that does not exist at this point (its logarithm failed): errno reset to 0,
// deriv[first..last] = MISSING_VALUE, return 1; y and the other derivatives stay as written.
inline int32_t missing_derivatives_failure(double *deriv, int first, int last) {
  errno = 0;
  set_missing(deriv, first, last);
  return 1;
}

// A guard failing on a derivative path: y[1] and deriv[1..n] = MISSING_VALUE, return 1, errno
// untouched.
inline int32_t guard_failure_all(double *y, double *deriv, int n) {
  set_missing(deriv, 1, n);
  return guard_failure(y);
}


// ---- no success without a value ----------------------------------------------------------
// What the check after every model needs to know of it: which slots a success writes.
enum class Shape {
  V,  // value-then-derivatives: a derivative request writes y[1] and the derivatives
  E,  // exclusive: the value request writes y[1], a derivative-only request the derivatives
  O,  // value-only: only the value request writes y[1]
  P,  // placeholder: writes nothing
  T   // the error-path test model: its outputs are deliberate
};
struct Contract {
  Shape shape;
  int shared;    // fixed parameters (the whole count of a fixed layout)
  int per_term;  // parameters per term, 0 for a fixed layout
  bool reads_count;  // nParams is read (a fixed layout may then be served in part)
};
namespace contracts {
#define FM_CONTRACT(symbol, shape, shared, per_term, reads_count) \
  inline constexpr Contract symbol{Shape::shape, shared, per_term, reads_count != 0};
#include "model_contracts.inc"
#undef FM_CONTRACT
}  // namespace contracts

// Derivative slots a successful derivative request surely writes at nParams = n: the fixed
// count (no more than n when the model reads n and serves fewer parameters), or the shared
// parameters and every whole term; with no whole term only the first slot (a surface whose last
// term parameter counts as shared writes only the baseline's slot then).
constexpr int derivative_slots(const Contract &c, int n) {
  if (c.per_term == 0) return c.reads_count && n < c.shared ? (n > 0 ? n : 0) : c.shared;
  if (n < c.shared + c.per_term) return c.shared > 0 && n > 0 ? 1 : 0;
  return c.shared + c.per_term * ((n - c.shared) / c.per_term);
}

// A success (return 0) whose y[1] is NaN or infinite, or whose derivative request left a NaN or
// infinite slot of its layout, becomes the standard failure: for a fitter a residual built from
// it would be NaN. MISSING_VALUE is finite, so a missing derivative a model defines as part of a
// success (and a y[1] that is the sentinel because an input was) passes unchanged. Return codes
// other than 0, the reserved bit and requests of neither value nor derivatives pass unchecked.
inline int32_t no_success_without_value(const Contract &c, int32_t request, int n, double *y,
                                        const double *deriv, int32_t rc) {
  if (rc != 0 || wants_reserved(request)) return rc;
  const bool value = wants_value(request), derivs = wants_deriv(request);
  bool check_y = value, check_d = false;
  switch (c.shape) {
    case Shape::V: check_y = value || derivs; check_d = derivs; break;
    case Shape::E: check_d = derivs && !value; break;
    case Shape::O: break;
    case Shape::P:
    case Shape::T: return rc;
  }
  if (check_y && !std::isfinite(y[1])) return standard_failure(y);
  if (check_d) {
    const int slots = derivative_slots(c, n);
    for (int i = 1; i <= slots; ++i)
      if (!std::isfinite(deriv[i])) return standard_failure(y);
  }
  return rc;
}
}  // namespace fm

#endif
