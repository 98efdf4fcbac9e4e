// _fitmodels: the library's models, catalogue and fitting engine for NumPy arrays.
//
// The Python layer (fitmodels/__init__.py) checks names, counts and shapes and hands this module
// C-contiguous float64 arrays only; the loops over points and fits run here without the GIL.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "fitmodels.h"
#include "fitmodels_catalog.h"
#include "catalog/derivative_check.h"
#ifdef FITMODELS_HAVE_FIT
#include "fitmodels_fit.h"
#endif

namespace py = pybind11;
using Array = py::array_t<double, py::array::c_style>;

namespace {

const char *shape_name(fm_shape s) {
  switch (s) {
    case FM_SHAPE_VALUE_THEN_DERIVS: return "value_then_derivs";
    case FM_SHAPE_EXCLUSIVE: return "exclusive";
    case FM_SHAPE_VALUE_ONLY_0:
    case FM_SHAPE_VALUE_ONLY_1:
    case FM_SHAPE_VALUE_ONLY_MISSING: return "value_only";
    case FM_SHAPE_PLACEHOLDER: return "placeholder";
    case FM_SHAPE_ERROR_TEST: return "error_test";
  }
  return "unknown";
}

const char *domain_name(fm_domain d) {
  switch (d) {
    case FM_DOMAIN_ANY: return "any";
    case FM_DOMAIN_POSITIVE: return "positive";
    case FM_DOMAIN_NONNEGATIVE: return "nonnegative";
    case FM_DOMAIN_NONZERO: return "nonzero";
    case FM_DOMAIN_NEGATIVE: return "negative";
    case FM_DOMAIN_UNIT: return "unit";
  }
  return "any";
}

py::dict describe(const fm_model_info &m) {
  py::dict d;
  d["name"] = m.name;
  d["export_name"] = m.export_name ? py::object(py::str(m.export_name)) : py::object(py::none());
  d["family"] = m.family;
  d["nindep"] = m.nIndep;
  d["ndep"] = m.nDep;
  d["row_params"] = m.row_params;
  d["shape"] = shape_name(m.shape);
  d["derivatives"] = m.derivatives != 0;
  d["least_params"] = m.least_params;
  d["shared"] = m.layout.shared;
  d["per_term"] = m.layout.per_term;
  d["term_outputs"] = m.layout.term_outputs != 0;
  py::list names, roles, domains;
  for (int i = 0; i < m.param_count; ++i) {
    names.append(m.params[i].name);
    roles.append(fm_role_name(m.params[i].role));
    domains.append(domain_name(m.params[i].domain));
  }
  d["param_names"] = names;
  d["roles"] = roles;
  d["domains"] = domains;
  d["formula"] = m.formula ? m.formula : "";
  d["start"] = fm_start_name(m.start);
  py::list points;
  for (int i = 0; i < m.point_count; ++i) {
    const fm_point &pt = m.points[i];
    py::list x, p;
    for (int j = 1; j <= m.nIndep && j <= 3; ++j) x.append(pt.x[j]);
    for (int j = 1; j <= pt.nparams; ++j) p.append(pt.params[j]);
    points.append(py::make_tuple(x, p));
  }
  d["points"] = points;  // generic points (x, params) where the model evaluates
  return d;
}

const fm_model_info &find(const std::string &name) {
  const fm_model_info *m = fm_catalog_find(name.c_str());
  if (m == nullptr) throw std::invalid_argument("unknown model \"" + name + "\"");
  return *m;
}

// Row i of an (n, k) array of inputs as the model contract reads it, x[1..k]; false when an
// input is not finite.
bool load_point(const double *xp, size_t i, int k, double *pt) {
  bool ok = true;
  for (int j = 0; j < k; ++j) {
    pt[j + 1] = xp[i * static_cast<size_t>(k) + static_cast<size_t>(j)];
    ok = ok && std::isfinite(pt[j + 1]);
  }
  return ok;
}

// One model at a fixed parameter count, called point by point over (n, nIndep) arrays.
class Model {
 public:
  Model(const std::string &name, int nparams) : info_(&find(name)), n_(nparams) {
    fn_ = fm_catalog_function(info_);
    if (fn_ == nullptr) throw std::invalid_argument(name + " has no model function");
    if (info_->nIndep < 1 || info_->nIndep > 3)  // the contract passes x[1..3]
      throw std::invalid_argument(name + " reads " + std::to_string(info_->nIndep) + " inputs");
    if (fm_layout_params(info_, n_) < 0)
      throw std::invalid_argument(name + " does not take " + std::to_string(n_) + " parameters");
    // The model writes y[1], a term value per term and its derivatives: room for all of them.
    slots_ = static_cast<size_t>(n_) + static_cast<size_t>(info_->nDep) + 4;
  }

  py::list param_names() const {
    py::list out;
    char buf[64];
    for (int i = 1; i <= n_; ++i) out.append(fm_param_name(info_, n_, i, buf, sizeof buf));
    return out;
  }

  // Values at every row of x: (y, failed). A failed point (the model refuses, or writes a
  // non-finite value, or the point or a parameter is not finite) gives NaN and failed = true.
  py::tuple eval(const Array &x, const Array &params) const {
    const size_t n = check(x, params);
    Array y(static_cast<py::ssize_t>(n));
    py::array_t<bool> failed(static_cast<py::ssize_t>(n));
    const double *xp = x.data();
    double *yp = y.mutable_data();
    bool *fp = failed.mutable_data();
    const std::vector<double> p = one_based(params);
    const bool params_ok = all_finite(params);
    const int k = info_->nIndep;
    {
      py::gil_scoped_release release;
      std::vector<double> out(slots_);
      double pt[4] = {0, 0, 0, 0};
      for (size_t i = 0; i < n; ++i) {
        const bool ok = load_point(xp, i, k, pt) && params_ok &&
                        fm::model_value(fn_, n_, p.data(), pt, out.data());
        yp[i] = ok ? out[1] : NAN;
        fp[i] = !ok;
      }
    }
    return py::make_tuple(y, failed);
  }

  // Analytic derivatives at every row of x: (J of shape (n, nparams), failed).
  py::tuple jacobian(const Array &x, const Array &params) const {
    if (!info_->derivatives)
      throw std::invalid_argument(std::string(info_->name) + " serves no analytic derivatives");
    const size_t n = check(x, params);
    const size_t np = static_cast<size_t>(n_);
    Array jac({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(np)});
    py::array_t<bool> failed(static_cast<py::ssize_t>(n));
    const double *xp = x.data();
    double *jp = jac.mutable_data();
    bool *fp = failed.mutable_data();
    const std::vector<double> p = one_based(params);
    const bool params_ok = all_finite(params);
    const int k = info_->nIndep;
    {
      py::gil_scoped_release release;
      std::vector<double> deriv(slots_);
      double pt[4] = {0, 0, 0, 0};
      for (size_t i = 0; i < n; ++i) {
        const bool ok = load_point(xp, i, k, pt) && params_ok &&
                        fm::model_derivatives(fn_, n_, p.data(), pt, deriv.data());
        for (size_t j = 0; j < np; ++j) jp[i * np + j] = ok ? deriv[j + 1] : NAN;
        fp[i] = !ok;
      }
    }
    return py::make_tuple(jac, failed);
  }

  std::string name() const { return info_->name; }
  int nparams() const { return n_; }
  int nindep() const { return info_->nIndep; }

 private:
  // The Python layer has already checked the shapes; this guards the memory all the same.
  size_t check(const Array &x, const Array &params) const {
    if (x.ndim() != 2 || x.shape(1) != info_->nIndep)
      throw std::invalid_argument("x must have shape (n, " + std::to_string(info_->nIndep) + ")");
    if (params.ndim() != 1 || params.shape(0) != n_)
      throw std::invalid_argument("params must hold " + std::to_string(n_) + " values");
    return static_cast<size_t>(x.shape(0));
  }
  static std::vector<double> one_based(const Array &a) {
    std::vector<double> v(static_cast<size_t>(a.size()) + 1, 0.0);
    std::memcpy(v.data() + 1, a.data(), static_cast<size_t>(a.size()) * sizeof(double));
    return v;
  }
  static bool all_finite(const Array &a) {
    for (py::ssize_t i = 0; i < a.size(); ++i)
      if (!std::isfinite(a.data()[i])) return false;
    return true;
  }

  const fm_model_info *info_;
  ModelFunction fn_ = nullptr;
  int n_;
  size_t slots_;
};

py::list catalog() {
  size_t count = 0;
  const fm_model_info *all = fm_catalog(&count);
  py::list out;
  for (size_t i = 0; i < count; ++i) out.append(describe(all[i]));
  return out;
}

int params_for(const std::string &name, int terms) {
  return fm_params_for_terms(&find(name), terms);
}

int layout_params(const std::string &name, int n) { return fm_layout_params(&find(name), n); }

// The model names nearest to name, for "did you mean" (the tool's rule).
std::vector<std::string> nearest(const std::string &name, size_t count) {
  std::vector<const char *> found(count);
  found.resize(fm_catalog_nearest(name.c_str(), found.data(), count));
  return std::vector<std::string>(found.begin(), found.end());
}

}  // namespace

#ifdef FITMODELS_HAVE_FIT
void register_fit(py::module_ &m);
#endif

PYBIND11_MODULE(_fitmodels, m) {
  m.doc() = "The fitmodels C library: models, catalogue and fitting engine";
  m.attr("MISSING_VALUE") = MISSING_VALUE;
  m.def("catalog", &catalog, "Every model of the catalogue as a dict, in registry order");
  m.def("params_for_terms", &params_for, py::arg("name"), py::arg("terms"));
  m.def("layout_params", &layout_params, py::arg("name"), py::arg("n"));
  m.def("nearest", &nearest, py::arg("name"), py::arg("count") = 3,
        "The model names nearest to name, for \"did you mean\"");
  py::class_<Model>(m, "Model")
      .def(py::init<const std::string &, int>(), py::arg("name"), py::arg("nparams"))
      .def_property_readonly("name", &Model::name)
      .def_property_readonly("nparams", &Model::nparams)
      .def_property_readonly("nindep", &Model::nindep)
      .def_property_readonly("param_names", &Model::param_names)
      .def("eval", &Model::eval, py::arg("x"), py::arg("params"))
      .def("jacobian", &Model::jacobian, py::arg("x"), py::arg("params"));
#ifdef FITMODELS_HAVE_FIT
  register_fit(m);
#endif
}
