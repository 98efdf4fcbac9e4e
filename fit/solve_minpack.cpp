// Unbounded problems: MINPACK's lmder. Value-only models get their Jacobian from the engine's
// differencing routine, which makes this lmdif with one differencing code for the whole engine.
#include <cminpack-1/cminpack.h>

#include <algorithm>

#include "problem.h"

namespace fmfit {
namespace {

int callback(void *data, int, int, const double *v, double *fvec, double *fjac, int ld,
             int iflag) {
  Problem &pr = *static_cast<Problem *>(data);
  if (iflag == 0) return 0;
  pr.set_free(v);
  if (iflag == 1 && pr.cached != nullptr) {  // the start, evaluated already
    std::copy(pr.cached, pr.cached + pr.n, fvec);
    pr.cached = nullptr;
    return 0;
  }
  if (!pr.pass(iflag == 2)) return -1;
  if (iflag == 1) {
    pr.residuals(fvec);
    return 0;
  }
  if (!pr.jacobian(fjac, 1, static_cast<size_t>(ld), false)) {
    pr.abort = Abort::jacobian_failed;
    return -1;
  }
  return 0;
}

}  // namespace

int solve_unbounded(Problem &pr, const SolveSettings &s, Workspace &ws) {
  const int m = static_cast<int>(pr.n), nf = static_cast<int>(pr.free.size());
  const size_t um = pr.n, unf = pr.free.size();
  ws.a.resize(unf);
  ws.b.resize(um);
  ws.c.resize(um * unf);
  ws.d.resize(unf);
  ws.e.resize(unf);
  ws.f.resize(unf);
  ws.g.resize(unf);
  ws.h.resize(unf);
  ws.k.resize(um);
  ws.ipvt.resize(unf);
  for (size_t j = 0; j < unf; ++j) ws.a[j] = pr.p[static_cast<size_t>(pr.free[j]) + 1];
  int nfev = 0, njev = 0;
  const int info = lmder(callback, &pr, m, nf, ws.a.data(), ws.b.data(), ws.c.data(), m, s.ftol,
                         s.xtol, s.gtol, s.max_passes, ws.d.data(), 1, 100.0, 0, &nfev, &njev,
                         ws.ipvt.data(), ws.e.data(), ws.f.data(), ws.g.data(), ws.h.data(),
                         ws.k.data());
  // lmder returns its best point in a, also when a callback stopped it.
  pr.set_free(ws.a.data());
  return pr.abort == Abort::evaluation_limit ? 5 : info;
}

}  // namespace fmfit
