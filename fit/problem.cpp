#include "problem.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "catalog/derivative_check.h"
#include "fitmodels_catalog.h"

namespace fmfit {

namespace {
bool usable(double v) { return std::isfinite(v) && v != MISSING_VALUE; }
}  // namespace

bool resolve_model(const fmfit_model *in, Model &out, char *message, size_t size) {
  out = Model{};
  out.context = in->context;
  if (in->name == nullptr) {
    if (in->function == nullptr) {
      std::snprintf(message, size, "no model: neither a name nor a function");
      return false;
    }
    if (in->nIndep < 1 || in->nIndep > 3) {
      std::snprintf(message, size, "the model's inputs must be 1 to 3, not %d", in->nIndep);
      return false;
    }
    if (in->nParams < 1) {
      std::snprintf(message, size, "the model's parameter count must be positive, not %d",
                    in->nParams);
      return false;
    }
    out.function = in->function;
    out.nIndep = in->nIndep;
    out.nParams = in->nParams;
    out.derivatives = in->derivatives != 0;
    return true;
  }
  out.name = in->name;
  const fm_model_info *info = fm_catalog_find(in->name);
  if (info == nullptr) {
    std::snprintf(message, size, "unknown model \"%.60s\"", in->name);
    return false;
  }
  if (info->shape == FM_SHAPE_PLACEHOLDER || info->shape == FM_SHAPE_ERROR_TEST) {
    std::snprintf(message, size, "%.60s computes nothing to fit", info->name);
    return false;
  }
  int n = in->nParams;
  if (n == 0) n = info->layout.per_term == 0 ? info->layout.shared : info->row_params;
  if (n < 1 || fm_layout_params(info, n) != n) {
    std::snprintf(message, size, "%.60s does not take %d parameters", info->name, n);
    return false;
  }
  out.function = fm_catalog_function(info);
  out.nIndep = info->nIndep;
  out.nParams = n;
  out.derivatives = info->derivatives != 0;
  out.name = info->name;
  if (out.function == nullptr) {
    std::snprintf(message, size, "%.60s has no function", info->name);
    return false;
  }
  return true;
}

Abort Control::check() const {
  // The flags are written by other threads: read them atomically.
  if (cancel && __atomic_load_n(const_cast<const int32_t *>(cancel), __ATOMIC_RELAXED))
    return Abort::cancelled;
  if (batch_cancel && __atomic_load_n(batch_cancel, __ATOMIC_RELAXED)) return Abort::cancelled;
  if (has_deadline && std::chrono::steady_clock::now() >= deadline) return Abort::time_limit;
  return Abort::none;
}

void Problem::bind(const Model &m, const fmfit_data &data) {
  model = m;
  x = data.x;
  y = data.y;
  w = data.weights;
  n = data.n;
  const size_t np = static_cast<size_t>(m.nParams);
  p.assign(np + 1, 0.0);
  ybuf.assign(np + 4, 0.0);
  dbuf.assign(np + 1, 0.0);
  abort = Abort::none;
  value_passes = jacobian_passes = 0;
  max_passes = 0;
  control = nullptr;
  cached = nullptr;
}

bool Problem::value(size_t i, double &f) {
  const double *xi = x + i * static_cast<size_t>(model.nIndep);
  for (int k = 0; k < model.nIndep; ++k) xbuf[k + 1] = xi[k];
  ybuf[1] = 0.0;
  errno = 0;
  const int32_t rc = model.function(REQ_VALUE, model.context, static_cast<int16_t>(model.nParams),
                                    0, 0, p.data(), 0, xbuf, ybuf.data(), dbuf.data());
  f = ybuf[1];
  return rc == 0 && usable(f);
}

bool Problem::derivs(size_t i) {
  const double *xi = x + i * static_cast<size_t>(model.nIndep);
  for (int k = 0; k < model.nIndep; ++k) xbuf[k + 1] = xi[k];
  for (int j = 1; j <= model.nParams; ++j) dbuf[static_cast<size_t>(j)] = 0.0;
  errno = 0;
  const int32_t rc = model.function(REQ_DERIV, model.context, static_cast<int16_t>(model.nParams),
                                    0, 0, p.data(), 0, xbuf, ybuf.data(), dbuf.data());
  if (rc != 0) return false;
  for (int f : free)
    if (!usable(dbuf[static_cast<size_t>(f) + 1])) return false;
  return true;
}

size_t Problem::residuals(double *r) {
  size_t first_failure = 0;
  for (size_t i = 0; i < n; ++i) {
    double f;
    if (value(i, f)) {
      r[i] = weight(i) * (f - y[i]);
    } else {
      r[i] = kFailedResidual;
      if (first_failure == 0) first_failure = i + 1;
    }
  }
  return first_failure;
}

bool difference_row(Problem &pr, size_t i, double f0, bool central, double *row, size_t stride) {
  const fm::ValueFunction value = [&pr, i](const double *, double *v) { return pr.value(i, *v); };
  const std::vector<int> &index = pr.free_index();
  if (!fm::numeric_derivatives(value, pr.p.data(), index.data(), static_cast<int>(index.size()), f0,
                               central ? fm::kCentralJacobian : fm::kForwardJacobian, row,
                               static_cast<std::ptrdiff_t>(stride)))
    return false;
  const double wi = pr.weight(i);
  for (size_t j = 0; j < index.size(); ++j) row[j * stride] *= wi;
  return true;
}

const std::vector<int> &Problem::free_index() {
  bool same = free1.size() == free.size();
  for (size_t j = 0; j < free.size() && same; ++j) same = free1[j] == free[j] + 1;
  if (!same) {
    free1.resize(free.size());
    for (size_t j = 0; j < free.size(); ++j) free1[j] = free[j] + 1;
  }
  return free1;
}

bool Problem::jacobian(double *J, size_t rs, size_t cs, bool central) {
  const size_t nf = free.size();
  for (size_t i = 0; i < n; ++i) {
    if (model.derivatives && derivs(i)) {
      const double wi = weight(i);
      for (size_t j = 0; j < nf; ++j)
        J[i * rs + j * cs] = wi * dbuf[static_cast<size_t>(free[j]) + 1];
      continue;
    }
    double f0 = 0;
    if (!value(i, f0)) return false;
    if (!difference_row(*this, i, f0, central, J + i * rs, cs)) return false;
  }
  return true;
}

bool Problem::pass(bool jacobian_pass) {
  if (jacobian_pass) {
    ++jacobian_passes;
  } else {
    ++value_passes;
    if (max_passes > 0 && value_passes > max_passes) {
      abort = Abort::evaluation_limit;
      return false;
    }
  }
  if (control) {
    const Abort a = control->check();
    if (a != Abort::none) {
      abort = a;
      return false;
    }
  }
  return true;
}

}  // namespace fmfit
