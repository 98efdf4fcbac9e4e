// The fitting engine for NumPy arrays: one fit, a batch of fits over all cores, and the
// starting-value estimator. The Python layer (fitmodels/_fits.py) has checked and converted every
// array; the checks here only guard the memory the engine reads.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fitmodels_fit.h"

namespace py = pybind11;
using Array = py::array_t<double, py::array::c_style>;
using Flags = py::array_t<uint8_t, py::array::c_style>;

namespace {

const double *opt(const std::optional<Array> &a) { return a ? a->data() : nullptr; }
const uint8_t *opt(const std::optional<Flags> &a) { return a ? a->data() : nullptr; }

void need(bool ok, const char *what) {
  if (!ok) throw std::invalid_argument(what);
}

struct Problem {
  std::string name;
  fmfit_model model{};
  size_t np = 0;
  Problem(const std::string &n, int nparams, int nindep) : name(n) {
    model.name = name.c_str();
    model.nIndep = static_cast<int16_t>(nindep);
    model.nParams = static_cast<int16_t>(nparams);
    np = static_cast<size_t>(nparams);
  }
};

void check_points(const Array &x, const Array &y, const std::optional<Array> &w, int nindep) {
  need(x.ndim() == 2 && x.shape(1) == nindep, "x has the wrong shape");
  need(y.ndim() == 1 && y.shape(0) == x.shape(0), "y does not match x");
  need(!w || (w->ndim() == 1 && w->shape(0) == y.shape(0)), "weights do not match y");
}

// A per-parameter array: nParams values, or count x nParams when per_fit.
void check_row(const std::optional<Array> &a, size_t np, size_t count, bool per_fit) {
  if (a) need(static_cast<size_t>(a->size()) == (per_fit ? count * np : np), "a parameter array has the wrong size");
}
void check_row(const std::optional<Flags> &a, size_t np, size_t count, bool per_fit) {
  if (a) need(static_cast<size_t>(a->size()) == (per_fit ? count * np : np), "a parameter array has the wrong size");
}

fmfit_options make_options(double ci_level, bool profile, bool absolute_sigma, int max_evaluations,
                           int threads) {
  fmfit_options o;
  fmfit_options_init(&o);
  if (ci_level > 0) o.confidence_level = ci_level;
  o.profile = profile ? 1 : 0;
  o.absolute_sigma = absolute_sigma ? 1 : 0;
  o.max_evaluations = max_evaluations;
  o.threads = threads;
  return o;
}

py::dict summary_dict(const fmfit_summary &s) {
  py::dict d;
  d["status"] = s.status;
  d["status_name"] = fmfit_status_name(s.status);
  d["failing_point"] = s.failing_point;
  d["detail"] = s.detail;
  d["points"] = s.points;
  d["free_params"] = s.free_params;
  d["dof"] = s.dof;
  d["nfev"] = s.model_evaluations;
  d["njev"] = s.jacobian_evaluations;
  d["chi2"] = s.chi2;
  d["redchi"] = s.reduced_chi2;
  d["r2"] = s.r2;
  d["aic"] = s.aic;
  d["aicc"] = s.aicc;
  d["bic"] = s.bic;
  d["solver_info"] = s.solver_info;
  d["message"] = std::string(s.message, strnlen(s.message, sizeof s.message));
  return d;
}

py::dict fit_one(const std::string &name, int nparams, int nindep, const Array &x, const Array &y,
                 const std::optional<Array> &weights, const std::optional<Array> &start,
                 const std::optional<Flags> &held, const std::optional<Array> &lower,
                 const std::optional<Array> &upper, double ci_level, bool profile,
                 bool absolute_sigma, int max_evaluations) {
  Problem p(name, nparams, nindep);
  check_points(x, y, weights, nindep);
  check_row(start, p.np, 1, false);
  check_row(held, p.np, 1, false);
  check_row(lower, p.np, 1, false);
  check_row(upper, p.np, 1, false);
  const fmfit_data data{static_cast<size_t>(y.shape(0)), x.data(), y.data(), opt(weights)};
  const fmfit_constraints c{opt(held), opt(lower), opt(upper)};
  const fmfit_options o = make_options(ci_level, profile, absolute_sigma, max_evaluations, 1);
  const auto n = static_cast<py::ssize_t>(p.np);
  Array params(n), errors(n), lo(n), hi(n), cov({n, n}), cor({n, n});
  Flags flags(n);
  fmfit_output out{params.mutable_data(), errors.mutable_data(),
                   ci_level > 0 ? lo.mutable_data() : nullptr,
                   ci_level > 0 ? hi.mutable_data() : nullptr,
                   cov.mutable_data(), cor.mutable_data(), flags.mutable_data()};
  for (py::ssize_t i = 0; i < n; ++i) params.mutable_data()[i] = NAN;
  fmfit_summary s{};
  {
    py::gil_scoped_release release;
    fmfit_fit(&p.model, &data, opt(start), &c, &o, &s, &out);
  }
  py::dict d = summary_dict(s);
  d["params"] = params;
  d["errors"] = errors;
  d["covariance"] = cov;
  d["correlation"] = cor;
  d["flags"] = flags;
  if (ci_level > 0) {
    d["ci_lower"] = lo;
    d["ci_upper"] = hi;
  }
  return d;
}

py::dict fit_batch(const std::string &name, int nparams, int nindep, const Array &x,
                   const Array &y, const py::array_t<uint64_t, py::array::c_style> &offsets,
                   const std::optional<Array> &weights, const std::optional<Array> &start,
                   const std::optional<Flags> &held, const std::optional<Array> &lower,
                   const std::optional<Array> &upper, unsigned per_fit, double ci_level,
                   bool profile, bool absolute_sigma, int max_evaluations, int threads) {
  Problem p(name, nparams, nindep);
  check_points(x, y, weights, nindep);
  need(offsets.ndim() == 1 && offsets.shape(0) >= 1, "offsets must hold count + 1 entries");
  const size_t count = static_cast<size_t>(offsets.shape(0)) - 1;
  const uint64_t *off = offsets.data();
  need(off[0] == 0 && off[count] == static_cast<uint64_t>(y.shape(0)), "offsets do not span y");
  for (size_t i = 0; i < count; ++i) need(off[i] <= off[i + 1], "offsets must not decrease");
  check_row(start, p.np, count, per_fit & FMFIT_PER_FIT_START);
  check_row(held, p.np, count, per_fit & FMFIT_PER_FIT_HELD);
  check_row(lower, p.np, count, per_fit & FMFIT_PER_FIT_LOWER);
  check_row(upper, p.np, count, per_fit & FMFIT_PER_FIT_UPPER);
  std::vector<size_t> offs(off, off + count + 1);

  fmfit_batch b{};
  b.count = count;
  b.offsets = offs.data();
  b.x = x.data();
  b.y = y.data();
  b.weights = opt(weights);
  b.start = opt(start);
  b.constraints = fmfit_constraints{opt(held), opt(lower), opt(upper)};
  b.per_fit = per_fit;
  const fmfit_options o = make_options(ci_level, profile, absolute_sigma, max_evaluations, threads);

  const auto m = static_cast<py::ssize_t>(count), n = static_cast<py::ssize_t>(p.np);
  Array params({m, n}), errors({m, n}), lo({m, ci_level > 0 ? n : 0}), hi({m, ci_level > 0 ? n : 0});
  Flags flags({m, n});
  for (py::ssize_t i = 0; i < m * n; ++i) params.mutable_data()[i] = NAN;
  fmfit_output out{params.mutable_data(), errors.mutable_data(),
                   ci_level > 0 ? lo.mutable_data() : nullptr,
                   ci_level > 0 ? hi.mutable_data() : nullptr, nullptr, nullptr,
                   flags.mutable_data()};
  std::vector<fmfit_summary> s(count);
  for (fmfit_summary &e : s) e.status = -1;  // still -1 after the call: nothing was fitted
  int32_t rc;
  {
    py::gil_scoped_release release;
    rc = count ? fmfit_batch_fit(&p.model, &b, &o, s.data(), &out) : FMFIT_CONVERGED;
  }
  if (rc == FMFIT_INVALID_INPUT && count > 0 && s[0].status == -1)
    throw std::invalid_argument("the fitting library refused the batch as malformed");

  py::array_t<int32_t> status(m), points(m), dof(m), nfev(m), njev(m), failing(m);
  Array chi2(m), redchi(m), r2(m), aic(m), aicc(m), bic(m);
  py::list messages;
  for (size_t i = 0; i < count; ++i) {
    status.mutable_data()[i] = s[i].status;
    points.mutable_data()[i] = s[i].points;
    dof.mutable_data()[i] = s[i].dof;
    nfev.mutable_data()[i] = s[i].model_evaluations;
    njev.mutable_data()[i] = s[i].jacobian_evaluations;
    failing.mutable_data()[i] = s[i].failing_point;
    chi2.mutable_data()[i] = s[i].chi2;
    redchi.mutable_data()[i] = s[i].reduced_chi2;
    r2.mutable_data()[i] = s[i].r2;
    aic.mutable_data()[i] = s[i].aic;
    aicc.mutable_data()[i] = s[i].aicc;
    bic.mutable_data()[i] = s[i].bic;
    messages.append(std::string(s[i].message, strnlen(s[i].message, sizeof s[i].message)));
  }
  py::dict d;
  d["params"] = params;
  d["errors"] = errors;
  d["flags"] = flags;
  if (ci_level > 0) {
    d["ci_lower"] = lo;
    d["ci_upper"] = hi;
  }
  d["status"] = status;
  d["points"] = points;
  d["dof"] = dof;
  d["nfev"] = nfev;
  d["njev"] = njev;
  d["failing_point"] = failing;
  d["chi2"] = chi2;
  d["redchi"] = redchi;
  d["r2"] = r2;
  d["aic"] = aic;
  d["aicc"] = aicc;
  d["bic"] = bic;
  d["message"] = messages;
  return d;
}

// Starting values from the built-in estimator, or None when it has none.
py::object estimate(const std::string &name, int nparams, int nindep, const Array &x,
                    const Array &y, const std::optional<Array> &weights) {
  Problem p(name, nparams, nindep);
  check_points(x, y, weights, nindep);
  const fmfit_data data{static_cast<size_t>(y.shape(0)), x.data(), y.data(), opt(weights)};
  Array start(static_cast<py::ssize_t>(p.np));
  int32_t rc;
  {
    py::gil_scoped_release release;
    rc = fmfit_estimate(nullptr, &p.model, p.model.nParams, &data, start.mutable_data());
  }
  if (rc != 0) return py::none();
  return std::move(start);
}

}  // namespace

void register_fit(py::module_ &m) {
  m.def("fit", &fit_one, py::arg("name"), py::arg("nparams"), py::arg("nindep"), py::arg("x"),
        py::arg("y"), py::arg("weights"), py::arg("start"), py::arg("held"), py::arg("lower"),
        py::arg("upper"), py::arg("ci_level"), py::arg("profile"), py::arg("absolute_sigma"),
        py::arg("max_evaluations"));
  m.def("fit_batch", &fit_batch, py::arg("name"), py::arg("nparams"), py::arg("nindep"),
        py::arg("x"), py::arg("y"), py::arg("offsets"), py::arg("weights"), py::arg("start"),
        py::arg("held"), py::arg("lower"), py::arg("upper"), py::arg("per_fit"),
        py::arg("ci_level"), py::arg("profile"), py::arg("absolute_sigma"),
        py::arg("max_evaluations"), py::arg("threads"));
  m.def("estimate", &estimate, py::arg("name"), py::arg("nparams"), py::arg("nindep"),
        py::arg("x"), py::arg("y"), py::arg("weights"));
  m.def("status_name", &fmfit_status_name, py::arg("status"));
  m.attr("STATUS_INVALID_INPUT") = static_cast<int>(FMFIT_INVALID_INPUT);
  m.attr("STATUS_NO_ESTIMATE") = static_cast<int>(FMFIT_NO_ESTIMATE);
  m.attr("PER_FIT_START") = FMFIT_PER_FIT_START;
  m.attr("PER_FIT_HELD") = FMFIT_PER_FIT_HELD;
  m.attr("PER_FIT_LOWER") = FMFIT_PER_FIT_LOWER;
  m.attr("PER_FIT_UPPER") = FMFIT_PER_FIT_UPPER;
  m.attr("FLAG_HELD") = FMFIT_FLAG_HELD;
  m.attr("FLAG_AT_LOWER") = FMFIT_FLAG_AT_LOWER;
  m.attr("FLAG_AT_UPPER") = FMFIT_FLAG_AT_UPPER;
  m.attr("FLAG_UNDETERMINED") = FMFIT_FLAG_UNDETERMINED;
}
