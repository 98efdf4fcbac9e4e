// The platform math layer: every exp, pow, log, sqrt, sin, cos, tanh, acos and floor of the
// models goes through these functions.
//
// Contract (errno of the calling thread):
//   - overflow and poles (exp of a large argument, log of 0, pow of 0 to a negative power)
//     set ERANGE (34);
//   - domain errors (log or sqrt of a negative number, pow of a negative base to a non-integer
//     power, acos outside [-1, 1], sin or cos of an infinity) set EDOM (33);
//   - an underflowing result (tiny or zero) leaves errno exactly as it was: the C library may
//     report underflow as ERANGE, but the models read ERANGE as overflow, and a tiny
//     intermediate must follow the normal formula;
//   - otherwise errno is left as it was; nothing here ever clears it.
#ifndef FITMODELS_FRAME_PLATFORM_MATH_H
#define FITMODELS_FRAME_PLATFORM_MATH_H

#include <cerrno>
#include <cmath>

static_assert(ERANGE == 34 && EDOM == 33, "the models' errno protocol expects ERANGE 34, EDOM 33");

namespace fm {

// An ERANGE raised together with a finite result is an underflow: overflow and poles always
// return an infinity. Such an ERANGE is taken back.
inline double drop_underflow(double r, int saved_errno) {
  if (errno == ERANGE && std::isfinite(r)) errno = saved_errno;
  return r;
}

inline double exp(double t) {
  const int saved = errno;
  return drop_underflow(std::exp(t), saved);
}

// exp(t) for t >= -300 or a NaN t: the result is normal, infinite or NaN, never an underflow,
// so the only errno the library can raise here is the overflow ERANGE, which stands; no errno
// save and restore is needed.
inline double exp_no_underflow(double t) { return std::exp(t); }

// Hides a value from the optimiser: the compiler can no longer treat it as a known constant.
inline double opaque(double v) {
#if defined(__GNUC__) && defined(__x86_64__)
  __asm__("" : "+x"(v));  // stays in its SSE register; no instruction is emitted
  return v;
#else
  volatile double hidden = v;
  return hidden;
#endif
}

// The exponent is made opaque: with a constant exponent the compiler would rewrite
// pow(b, -1.0) as 1.0 / b and pow(b, 2.0) as b * b, which lose the pole and overflow reports.
// Inline, so a call costs one library call and one errno save.
inline double pow(double b, double e) {
  const int saved = errno;
  return drop_underflow(std::pow(b, opaque(e)), saved);
}

inline double log(double t) { return std::log(t); }
inline double sqrt(double t) { return std::sqrt(t); }
inline double acos(double t) { return std::acos(t); }
inline double floor(double t) { return std::floor(t); }

inline double tanh(double t) {
  const int saved = errno;
  return drop_underflow(std::tanh(t), saved);
}

// Out of line, so that no caller's sin and cos of one argument can be fused into a single
// sincos call (which does not report infinite arguments); each also reports an infinite
// argument itself.
double sin(double t);
double cos(double t);

}  // namespace fm

#endif
