// Registered names without a curve behind them, and the error-path test model.
//
// A placeholder only answers the request word with a fixed return code; it never reads
// params or x and never writes y, deriv or errno. Each registered name has an entry point of
// its own; the entry points of one kind share their body. Bits are tested in the order
// bit 0 (REQ_RESERVED), bit 1 (REQ_VALUE), bit 2 (REQ_DERIV); bit 3 is never examined.
//
//   kind            bit 0 set   else bit 1   else bit 2   none of these
//   always zero         0           0            0             0
//   reserved-only       1           0            0             0
//   refusing            0           1            1             0
//
// An always-zero placeholder reports success for a value request while leaving y[1] as the
// caller left it; a refusing one reports failure without writing MISSING_VALUE.
#include "frame/contract.h"

namespace {

int32_t always_zero(int32_t) { return 0; }

int32_t reserved_only(int32_t request) { return fm::wants_reserved(request) ? 1 : 0; }

int32_t refusing(int32_t request) {
  if (fm::wants_reserved(request)) return 0;
  return fm::wants_value_or_deriv(request) ? 1 : 0;
}

}  // namespace

// RationalEVP: reserved-only placeholder. Returns 1 for bit 0, else 0; writes nothing.
FM_MODEL(RationalEVP) { return reserved_only(request); }

// BelehradekEVP, ChapmanEVP1, ChapmanEVP2, ChapmanEVP3: refusing placeholders. Bit 0 returns 0;
// else bit 1 or bit 2 returns 1; else 0. Nothing is written, y[1] included.
FM_MODEL(BelehradekEVP) { return refusing(request); }
FM_MODEL(ChapmanEVP1) { return refusing(request); }
FM_MODEL(ChapmanEVP2) { return refusing(request); }
FM_MODEL(ChapmanEVP3) { return refusing(request); }

// LangmuirTS1, LangmuirTS2, Rational4P, ExpCSum1, ExpCSum2, ExpCSumEVP, Prunty,
// BentHyperblSmp: always-zero placeholders. Every request word returns 0; nothing is written.
FM_MODEL(LangmuirTS1) { return always_zero(request); }
FM_MODEL(LangmuirTS2) { return always_zero(request); }
FM_MODEL(Rational4P) { return always_zero(request); }
FM_MODEL(ExpCSum1) { return always_zero(request); }
FM_MODEL(ExpCSum2) { return always_zero(request); }
FM_MODEL(ExpCSumEVP) { return always_zero(request); }
FM_MODEL(Prunty) { return always_zero(request); }
FM_MODEL(BentHyperblSmp) { return always_zero(request); }

// errtest: computes unguarded values and leaves the floating-point error state for the caller
// to see, so that a host can exercise its error paths. x is not read.
//   Bit 0 returns 1; neither bit 1 nor bit 2 returns 0 (nothing written).
//   y[1] = p1*p2 with bit 1, else (bit 2 alone) y[1] = p1/p2.
//   On either request: d1 = ln(p1), d2 = (-2.0)^p3, d3 = e^p1.
//   Returns 0. No parameter is tested and errno is neither tested nor reset: p1 <= 0 leaves the
//   logarithm's domain or pole error, a non-integral p3 the power's domain error and a large p1
//   the exponential's range error.
FM_MODEL(errtest) {
  if (fm::wants_reserved(request)) return 1;
  if (!fm::wants_value_or_deriv(request)) return 0;
  const double *p = params;
  y[1] = fm::wants_value(request) ? p[1] * p[2] : p[1] / p[2];
  deriv[1] = fm::log(p[1]);
  deriv[2] = fm::checked_pow(-2.0, p[3]);
  deriv[3] = fm::checked_exp(p[1]);
  return 0;
}
