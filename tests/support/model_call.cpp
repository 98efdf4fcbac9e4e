#include "support/model_call.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

bool Outcome::nothing_written() const {
  if (!no_deriv_written() || d[0] != kUntouched) return false;
  for (int i = 0; i < kSlots; ++i)
    if (y[i] != kUntouched) return false;
  return true;
}

bool Outcome::no_deriv_written() const {
  for (int i = 1; i < kSlots; ++i)
    if (d[i] != kUntouched) return false;
  return true;
}

ModelFunction find_model(const std::string &name) {
  if (ModelFunction f = get_funx(name.c_str())) return f;
  return reinterpret_cast<ModelFunction>(dlsym(RTLD_DEFAULT, name.c_str()));
}

Call::Call(const std::string &name) : f_(find_model(name)), name_(name) {}

Outcome Call::run(int32_t request) const {
  Outcome out;
  out.y.fill(kUntouched);
  out.d.fill(kUntouched);
  if (f_ == nullptr) {
    ADD_FAILURE() << "no model named " << name_;
    return out;
  }
  // The parameter array holds exactly nParams elements after element 0 when nparams() asks for
  // fewer than were given, so that a read beyond nParams is a read beyond the array (which an
  // address-sanitised build reports).
  const std::size_t given = p_.size();
  // A negative nParams holds none.
  const std::size_t held = n_ == kAllGiven ? given
                           : n_ < 0        ? 0
                                           : std::min<std::size_t>(static_cast<std::size_t>(n_), given);
  std::vector<double> params(held + 1, 0.0);
  for (std::size_t i = 0; i < held; ++i) params[i + 1] = p_[i];
  const int16_t n = static_cast<int16_t>(n_ == kAllGiven ? static_cast<int>(given) : n_);
  errno = errno_in_;
  out.rc = f_(request, nullptr, n, 0, 0, params.data(), 0, x_.data(), out.y.data(),
              out.d.data());
  out.err = errno;
  return out;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
