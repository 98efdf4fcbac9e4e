// Calling a model as a host does, and reading back what it wrote.
//
//   Outcome r = Call("Gauss").params({0, 5, 1, 10}).x(5.2).run(REQ_DERIV);
//   EXPECT_EQ(r.rc, 0);  EXPECT_NEAR(r.y[1], ...);  EXPECT_FALSE(r.d_written(5));
//
// Every y and deriv slot is preset to a canary, so a test can tell written from untouched
// slots; errno is preset to kNeutralErrno (5), a value no model tests, unless errno_in() says
// otherwise.
#ifndef FITMODELS_TESTS_MODEL_CALL_H
#define FITMODELS_TESTS_MODEL_CALL_H

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fitmodels.h"

constexpr double kUntouched = -9.87654321e77;
constexpr int kNeutralErrno = 5;
constexpr int kSlots = 64;
constexpr int kAllGiven = -0x10000;

struct Outcome {
  int32_t rc = -1;
  int err = 0;  // errno after the call
  std::array<double, kSlots> y{};
  std::array<double, kSlots> d{};

  bool y_written(int i) const { return y[i] != kUntouched; }
  bool d_written(int i) const { return d[i] != kUntouched; }
  bool y_missing(int i = 1) const { return y[i] == MISSING_VALUE; }
  bool d_missing(int i) const { return d[i] == MISSING_VALUE; }
  // True when no slot of y or deriv was written (element 0 of deriv included).
  bool nothing_written() const;
  // True when no deriv slot 1.. was written.
  bool no_deriv_written() const;
  // The 32-bit word a REQ_QUERY answer stores in the first four bytes of deriv[0].
  int32_t query_word() const {
    int32_t w;
    std::memcpy(&w, &d[0], sizeof w);
    return w;
  }
};

// Looks a model up by table name (get_funx), or binds an export-only name; null if neither.
ModelFunction find_model(const std::string &name);

class Call {
 public:
  explicit Call(const std::string &name);
  explicit Call(ModelFunction f) : f_(f) {}
  Call &params(std::vector<double> p) {
    p_ = std::move(p);
    return *this;
  }
  Call &nparams(int n) {
    n_ = n;
    return *this;
  }
  Call &x(double x1, double x2 = 0.0, double x3 = 0.0) {
    x_ = {0.0, x1, x2, x3};
    return *this;
  }
  Call &errno_in(int e) {
    errno_in_ = e;
    return *this;
  }
  Outcome run(int32_t request) const;

 private:
  ModelFunction f_ = nullptr;
  std::string name_;
  std::vector<double> p_;
  int n_ = kAllGiven;  // nParams: the count of params() unless nparams() says otherwise
  std::array<double, 4> x_{0.0, 0.0, 0.0, 0.0};
  int errno_in_ = kNeutralErrno;
};

// Bitwise equality of doubles (distinguishes -0.0 and compares NaN payloads).
bool same_bits(double a, double b);

#endif
