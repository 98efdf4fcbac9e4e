// fitmodels: list, evaluate, check and fit the library's models from the command line.
//
//   fitmodels list [TEXT]
//   fitmodels eval MODEL P1 P2 ... (--x X ... | --data FILE.csv) [--deriv]
//   fitmodels check [MODEL ...]
//   fitmodels fit MODEL FILE.csv [--x COL] [--y COL] [--init name=value,..] [--fix name=value]
//                 [--peaks K] [--weights COL] [--group COL] [--na refuse|skip] [--json]
//                 [--plot FILE.svg] [--max-evaluations N] [--timeout SECONDS]
//                 [--bounds name=lo:hi,..] [--ci LEVEL|profile] [--absolute-sigma] [--curve FILE.csv]
//   fitmodels compare MODEL1 MODEL2 ... FILE.csv [--x COL] [--y COL] [--nested A:B]
//
// Bad input prints one line "fitmodels: ..." on stderr and exits with status 2; so does running
// out of memory. A fit that ends with any verdict but "converged" prints its result and exits
// with status 1.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <chrono>
#include <functional>
#include <future>
#include <unordered_map>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "catalog.h"
#include "catalog/derivative_check.h"
#include "check.h"
#include "csv.h"
#include "estimates.h"
#include "fit.h"
#include "plot.h"

using namespace fmtool;

namespace {

struct Failure {
  std::string message;
};
[[noreturn]] void fail(const std::string &message) { throw Failure{message}; }

// The lookups and the test hook are exported beside the models but are not models.
bool library_routine(const std::string &name) {
  for (const char *routine : {"Get_Func", "get_funx", "get_funx_list", "FuncTest"})
    if (lower(name) == lower(routine)) return true;
  return false;
}

const ModelInfo &require_model(const std::string &name) {
  if (library_routine(name)) fail("\"" + name + "\" is a routine of the library, not a model");
  const ModelInfo *m = find_model(name);
  if (m != nullptr) return *m;
  std::string hint;
  for (const std::string &s : nearest_names(name)) hint += (hint.empty() ? "" : ", ") + s;
  fail("unknown model \"" + name + "\"" + (hint.empty() ? "" : " (did you mean " + hint + "?)"));
}

std::string join(const std::vector<std::string> &v, const char *sep = ", ") {
  std::string out;
  for (const std::string &s : v) out += (out.empty() ? "" : sep) + s;
  return out;
}

double number(const std::string &text, const std::string &what) {
  double v;
  if (!parse_number(text, v)) fail(what + " \"" + text + "\" " + number_problem(text));
  return v;
}

// The comma-separated items of the arguments; an empty item (as in "1,,2") is refused.
std::vector<std::string> split_list(const std::vector<std::string> &items, const std::string &what,
                                    const std::string &expected = "") {
  std::vector<std::string> out;
  for (const std::string &item : items) {
    size_t start = 0;
    while (true) {
      const size_t at = item.find(',', start);
      const std::string part = item.substr(start, at == std::string::npos ? std::string::npos : at - start);
      if (part.empty())
        fail(what + ": an empty value in \"" + item + "\"" + (expected.empty() ? "" : "; " + expected));
      out.push_back(part);
      if (at == std::string::npos) break;
      start = at + 1;
    }
  }
  return out;
}

std::string fmt(double v, int digits = 10) {
  if (!std::isfinite(v)) return std::isnan(v) ? "-" : (v > 0 ? "inf" : "-inf");
  char b[40];
  std::snprintf(b, sizeof b, "%.*g", digits, v);
  return b;
}

std::string json_num(double v) {
  if (!std::isfinite(v)) return "null";
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

// Messages stay on one line: control characters (a newline in an argument) are shown escaped.
std::string one_line(const std::string &s) {
  std::string o;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      o += c;
    } else {
      char b[8];
      std::snprintf(b, sizeof b, c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : "\\x%02x", u);
      o += b;
    }
  }
  return o;
}

std::string json_str(const std::string &s) {
  std::string o = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') o += '\\';
    if (static_cast<unsigned char>(c) < 0x20) continue;
    o += c;
  }
  return o + "\"";
}

// ---- list -----------------------------------------------------------------------------------
// The parameters as the metadata rows write them: name:role, and :domain where one is known.
std::string parameter_list(const fm_model_info &e) {
  std::string out;
  for (int i = 0; i < e.param_count; ++i) {
    const fm_param_info &p = e.params[i];
    out += (i ? "," : "") + std::string(p.name) + ":" + fm_role_name(p.role);
    if (p.domain != FM_DOMAIN_ANY) out += std::string(":") + fm_domain_name(p.domain);
  }
  return out;
}

int cmd_list(const std::string &text) {
  const std::string t = lower(text);
  std::printf("%-18s %-16s %5s %4s %7s  %-28s %-6s %-14s %s\n", "model", "export", "indep", "dep",
              "params", "family", "deriv", "start", "parameters");
  int shown = 0;
  // TEXT is part of a model's name, or a whole family ("core/peaks") or part of one ("peaks").
  const auto family_matches = [&](const std::string &family) {
    const std::string f = lower(family);
    return f == t || f.substr(f.find('/') + 1) == t || f.substr(0, f.find('/')) == t;
  };
  for (const ModelInfo &m : catalog()) {
    if (!t.empty() && lower(m.name).find(t) == std::string::npos &&
        lower(m.export_name).find(t) == std::string::npos && !family_matches(m.family))
      continue;
    const std::string deriv = m.analytic() ? "yes" : m.placeholder() ? "none" : "no";
    std::string params = parameter_list(*m.info);
    if (m.terms) params += " (" + std::to_string(m.shared) + " shared, then " + std::to_string(m.per_term) + " per term)";
    const std::string counts = m.terms ? std::to_string(m.shared) + "+" + std::to_string(m.per_term) + "k"
                                       : std::to_string(m.count_for(1));
    std::printf("%-18s %-16s %5d %4d %7s  %-28s %-6s %-14s %s\n", m.name.c_str(),
                m.export_name.c_str(), m.nIndep, m.nDep, counts.c_str(), m.family.c_str(),
                deriv.c_str(), fm_start_name(m.start), params.c_str());
    ++shown;
  }
  if (shown == 0) fail("no model matches \"" + text + "\"");
  return 0;
}

// ---- parameters -----------------------------------------------------------------------------
void check_count(const ModelInfo &m, long n) {
  if (n > INT16_MAX)
    fail(m.name + ": " + std::to_string(n) + " parameters; a model takes at most " +
         std::to_string(INT16_MAX));
  if (!m.count_valid(static_cast<int>(n)))
    fail(m.name + " takes " + m.expected_counts() + " parameters; got " + std::to_string(n));
}

int index_of(const std::vector<std::string> &names, const std::string &key) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == key) return static_cast<int>(i);
  for (size_t i = 0; i < names.size(); ++i)
    if (lower(names[i]) == lower(key)) return static_cast<int>(i);
  std::string k = key;
  if (!k.empty() && (k[0] == 'p' || k[0] == 'P')) k = k.substr(1);
  char *end = nullptr;
  const long v = std::strtol(k.c_str(), &end, 10);
  if (!k.empty() && *end == '\0' && v >= 1 && v <= static_cast<long>(names.size()))
    return static_cast<int>(v - 1);
  return -1;
}

// --init and --fix items: name=value (name, pN or N) or, for --init, bare values in order.
void assign(const std::vector<std::string> &items, const std::vector<std::string> &names,
            bool positional_ok, const char *option, std::vector<double> &values,
            std::vector<bool> &given) {
  int next = 0;
  int bare = 0;
  std::vector<bool> seen(names.size(), false);
  for (const std::string &item : items) {
    const auto eq = item.find('=');
    int i;
    std::string text;
    if (eq == std::string::npos) {
      if (!positional_ok) fail(std::string(option) + " wants name=value, not \"" + item + "\"");
      ++bare;
      i = next++;
      text = item;
      if (i >= static_cast<int>(names.size()))
        fail(std::string(option) + " gives more than " + std::to_string(names.size()) +
             " values; the parameters are " + join(names));
    } else {
      i = index_of(names, item.substr(0, eq));
      if (i < 0)
        fail(std::string(option) + ": no parameter \"" + item.substr(0, eq) + "\" (parameters: " +
             join(names) + ")");
      text = item.substr(eq + 1);
    }
    if (seen[static_cast<size_t>(i)])
      fail(std::string(option) + " gives " + names[static_cast<size_t>(i)] + " twice");
    seen[static_cast<size_t>(i)] = true;
    values[static_cast<size_t>(i)] = number(text, std::string(option) + " value");
    given[static_cast<size_t>(i)] = true;
  }
  if (bare > 0 && bare == static_cast<int>(items.size()) && bare != static_cast<int>(names.size()))
    fail(std::string(option) + " gives " + std::to_string(bare) + " values; the parameters are " +
         std::to_string(names.size()) + ": " + join(names));
}

// ---- eval -----------------------------------------------------------------------------------
int cmd_eval(const std::string &model, const std::vector<std::string> &param_items,
             const std::vector<std::string> &xs, const std::string &data_file,
             const std::vector<std::string> &xcols, bool deriv) {
  const ModelInfo &m = require_model(model);
  std::vector<double> p{0.0};
  const std::vector<std::string> items = split_list(param_items, "parameters", "the parameters are " + m.expected_counts());
  check_count(m, static_cast<long>(items.size()));
  for (const std::string &s : items) p.push_back(number(s, "parameter"));
  const int n = static_cast<int>(p.size()) - 1;
  if (deriv && !m.analytic()) fail(m.name + " serves no analytic derivatives");
  std::vector<std::array<double, 4>> points;
  const int ni = std::max(1, m.nIndep);
  if (!data_file.empty()) {
    Table t;
    std::string err;
    if (!read_table(data_file, t, err)) fail(err);
    std::vector<std::vector<double>> cols;
    for (int k = 0; k < ni; ++k) {
      const std::string which = k < static_cast<int>(xcols.size()) ? xcols[static_cast<size_t>(k)] : std::to_string(k + 1);
      const int c = find_column(t, which, err);
      if (c < 0) fail(err);
      cols.emplace_back();
      if (!numeric_column(t, c, cols.back(), err)) fail(err);
    }
    for (size_t i = 0; i < t.row_count(); ++i) {
      std::array<double, 4> x{0, 0, 0, 0};
      for (int k = 0; k < ni; ++k) x[static_cast<size_t>(k) + 1] = cols[static_cast<size_t>(k)][i];
      points.push_back(x);
    }
  } else {
    if (xs.empty()) fail("eval needs points: --x X ... or --data FILE.csv");
    for (const std::string &s : split_list(xs, "--x")) {
      std::array<double, 4> x{0, 0, 0, 0};
      std::stringstream parts(s);
      std::string part;
      int k = 1;
      while (std::getline(parts, part, ':') && k <= 3) x[static_cast<size_t>(k++)] = number(part, "x");
      if (k - 1 != ni)
        fail(m.name + " reads " + std::to_string(ni) + " independent variables; write a point as x1" +
             (ni > 1 ? ":x2" : "") + " (got \"" + s + "\")");
      points.push_back(x);
    }
  }
  const std::vector<std::string> names = m.names_for(n);
  std::printf("#");
  for (int k = 1; k <= ni; ++k) std::printf(" x%s", ni > 1 ? std::to_string(k).c_str() : "");
  std::printf("\ty");
  if (deriv)
    for (const std::string &s : names) std::printf("\td/d%s", s.c_str());
  std::printf("\n");
  std::vector<double> y(static_cast<size_t>(n) + 4), d(static_cast<size_t>(n) + 1);
  int failed = 0;
  for (const auto &x : points) {
    for (int k = 1; k <= ni; ++k) std::printf(k == 1 ? "%.10g" : "\t%.10g", x[static_cast<size_t>(k)]);
    int rc = 0;
    if (!model_value(m, n, p.data(), x.data(), y.data(), &rc)) {
      std::printf("\tfailed (return code %d)\n", rc);
      ++failed;
      continue;
    }
    std::printf("\t%.15g", y[1]);
    if (deriv) {
      if (model_derivs(m, n, p.data(), x.data(), d.data(), &rc)) {
        for (int j = 1; j <= n; ++j) std::printf("\t%.12g", d[static_cast<size_t>(j)]);
      } else {
        std::printf("\tderivatives failed (return code %d)", rc);
        ++failed;
      }
    }
    std::printf("\n");
  }
  return failed == 0 ? 0 : 1;
}

// ---- fit ------------------------------------------------------------------------------------
using Clock = std::chrono::steady_clock;

struct FitSetup {
  const ModelInfo *model = nullptr;
  int n = 0;
  std::vector<std::string> names;
  std::vector<double> init, fixed_values;
  std::vector<bool> given, fixed;
  FitOptions options;
  Clock::time_point started = Clock::now();
  double timeout = 0;  // seconds for the whole run (estimates and fit); 0: none
  // The time left for the fit once the estimates are made; a tiny positive limit when it has
  // passed already, so that the fit stops at once with the time-limit verdict.
  double remaining() const {
    if (timeout <= 0) return 0;
    const double used = std::chrono::duration<double>(Clock::now() - started).count();
    return std::max(timeout - used, 1e-9);
  }
};

struct GroupResult {
  std::string group;
  FitResult fit;
  std::string note;
  std::vector<double> start;        // the starting values used
  std::vector<bool> held;
  std::vector<std::string> source;  // where each came from: given, held, estimated
  bool ready = false;               // start made: the fit can run
};

// The start of one data set: given and held values kept, the others estimated (within the
// bounds), parameters the estimator finds redundant held.
GroupResult prepare(const FitSetup &s, const fmfit_data &data, const std::string &group) {
  GroupResult g;
  g.group = group;
  g.start = s.init;
  g.held = s.fixed;
  g.source.assign(static_cast<size_t>(s.n), "given");
  int nfree = 0;
  bool complete = true;
  for (size_t j = 0; j < static_cast<size_t>(s.n); ++j) {
    if (s.fixed[j]) {
      g.start[j] = s.fixed_values[j];
      g.source[j] = "held";
    }
    nfree += !g.held[j];
    if (!s.given[j] && !s.fixed[j]) complete = false;
  }
  if (data.n < static_cast<size_t>(std::max(nfree, 1))) {
    g.fit.error = "too few points: " + std::to_string(data.n) + " for " + std::to_string(nfree) +
                  " free parameters";
    return g;
  }
  if (!complete) {
    Estimate e;
    std::string why;
    std::vector<bool> known(static_cast<size_t>(s.n));
    for (size_t k = 0; k < known.size(); ++k) known[k] = s.given[k] || s.fixed[k];
    if (!estimate(*s.model, s.n, data, known, g.start, e, why)) {
      g.fit.error = why + (why.find("--init") == std::string::npos ? " (give starting values with --init)" : "");
      return g;
    }
    for (size_t k = 0; k < static_cast<size_t>(s.n); ++k) {
      if (s.given[k] || s.fixed[k]) continue;
      double v = e.params[k];
      if (!s.options.lower.empty()) v = std::max(v, s.options.lower[k]);
      if (!s.options.upper.empty()) v = std::min(v, s.options.upper[k]);
      g.start[k] = v;
      g.source[k] = e.hold[k] ? "estimated, held" : "estimated";
      if (e.hold[k]) g.held[k] = true;
    }
    g.note = e.note;
  }
  g.ready = true;
  return g;
}

GroupResult run_one(const FitSetup &s, const fmfit_data &data, const std::string &group) {
  GroupResult g = prepare(s, data, group);
  if (!g.ready) return g;
  FitOptions o = s.options;
  o.time_limit = s.remaining();
  o.timeout = s.timeout;
  g.fit = fit_model(*s.model, s.n, data, g.start, g.held, o);
  return g;
}

// Student's t statistic of a parameter and its two-sided p value; NaN where undefined.
void t_test(double value, double error, int dof, double &t, double &p) {
  t = p = NAN;
  if (!(error > 0) || !std::isfinite(error) || dof < 1) return;
  t = value / error;
  if (!std::isfinite(t)) return;
  const boost::math::students_t dist(dof);
  p = 2 * boost::math::cdf(boost::math::complement(dist, std::fabs(t)));
}

// The two-sided Student's t quantile of a confidence level.
double t_quantile(double level, int dof) {
  if (dof < 1 || !(level > 0 && level < 1)) return NAN;
  return boost::math::quantile(boost::math::students_t(dof), 0.5 + level / 2);
}

std::string level_text(double level) { return fmt(100 * level, 6) + "%"; }

void print_text(const FitSetup &s, const GroupResult &g, const std::string &source) {
  const FitResult &r = g.fit;
  const size_t np = r.params.size();
  std::printf("model            %s (%s), %d parameters", s.model->name.c_str(), s.model->family.c_str(), s.n);
  if (s.model->terms) std::printf(", %d term%s", s.model->term_count(s.n), s.model->term_count(s.n) > 1 ? "s" : "");
  std::printf("\n");
  if (!s.model->formula.empty()) std::printf("formula          %s\n", one_line(s.model->formula).c_str());
  std::printf("data             %s, %d points\n", source.c_str(), r.points);
  if (!g.note.empty()) std::printf("note             %s\n", g.note.c_str());
  std::printf("\nstarting values\n%-16s %-22s %s\n", "parameter", "start", "from");
  for (size_t j = 0; j < np; ++j)
    std::printf("%-16s %-22s %s\n", r.names[j].c_str(), fmt(g.start[j], 12).c_str(), g.source[j].c_str());
  const std::string level = level_text(s.options.ci_level);
  const std::string ci = level + (s.options.profile ? " profile" : "") + " interval";
  std::printf("\nestimates\n%-16s %-22s %-13s %-10s %-11s %s\n", "parameter", "value", "std. error",
              "t value", "Pr(>|t|)", ci.c_str());
  for (size_t j = 0; j < np; ++j) {
    const bool held = r.held[j];
    double t, p;
    t_test(r.params[j], r.errors[j], r.dof, t, p);
    std::string bound;
    if (r.flags[j] & FMFIT_FLAG_AT_LOWER) bound = "  (at lower bound)";
    if (r.flags[j] & FMFIT_FLAG_AT_UPPER) bound = "  (at upper bound)";
    if (r.flags[j] & FMFIT_FLAG_UNDETERMINED) bound = "  (undetermined)";
    if (held) {
      std::printf("%-16s %-22s (held)\n", r.names[j].c_str(), fmt(r.params[j], 12).c_str());
      continue;
    }
    const std::string interval = "[" + fmt(r.ci_lower[j], 8) + ", " + fmt(r.ci_upper[j], 8) + "]";
    std::printf("%-16s %-22s %-13s %-10s %-11s %s%s\n", r.names[j].c_str(), fmt(r.params[j], 12).c_str(),
                fmt(r.errors[j], 6).c_str(), fmt(t, 5).c_str(), fmt(p, 4).c_str(), interval.c_str(), bound.c_str());
  }
  std::printf("\nresidual standard error %s on %d degrees of freedom%s\n",
              fmt(std::sqrt(r.chi2_reduced), 8).c_str(), r.dof,
              s.options.absolute_sigma ? " (errors from the weights as true 1/sigma)" : "");
  std::printf("reduced chi^2    %s\n", fmt(r.chi2_reduced, 8).c_str());
  std::printf("R^2              %s\n", fmt(r.r2, 10).c_str());
  std::printf("sum of squares   %s\n", fmt(r.ssr, 12).c_str());
  std::printf("AIC              %s\nAICc             %s\nBIC              %s\n", fmt(r.aic, 8).c_str(),
              fmt(r.aicc, 8).c_str(), fmt(r.bic, 8).c_str());
  // The correlations of the free parameters, the large ones flagged.
  std::vector<size_t> fr;
  for (size_t j = 0; j < np; ++j)
    if (!r.held[j]) fr.push_back(j);
  if (fr.size() > 1 && fr.size() <= 40) {
    std::printf("\ncorrelation (* |r| > 0.95)\n%-16s", "");
    for (size_t b : fr) std::printf(" %9.9s", r.names[b].c_str());
    std::printf("\n");
    bool flagged = false;
    for (size_t a : fr) {
      std::printf("%-16s", r.names[a].c_str());
      for (size_t b : fr) {
        if (b > a) break;
        const double c = r.correlation[a * np + b];
        const bool big = a != b && std::fabs(c) > 0.95;
        flagged = flagged || big;
        char cell[32];
        std::snprintf(cell, sizeof cell, std::isfinite(c) ? "%.3f" : "-", c);
        std::printf(" %8s%s", cell, big ? "*" : " ");
      }
      std::printf("\n");
    }
    if (flagged) std::printf("* strongly correlated: the data barely tell these parameters apart\n");
  }
  std::printf("\npoints           %d (%d free parameters)\n", r.points, r.free);
  std::printf("evaluations      %d of the model", r.nfev);
  if (r.njev > 0) std::printf(", %d of its Jacobian", r.njev);
  std::printf("\nstopped          %s (info %d)\n", r.stop.c_str(), r.info);
  std::printf("status           %s", r.converged ? "converged" : ("NOT CONVERGED: " + r.status_name).c_str());
  if (!r.converged && !r.verdict.empty()) std::printf(" -- %s", r.verdict.c_str());
  std::printf("\n");
}

std::string json_matrix(const std::vector<double> &m, size_t n) {
  std::string o = "[";
  for (size_t a = 0; a < n; ++a) {
    o += a ? ", [" : "[";
    for (size_t b = 0; b < n; ++b) o += (b ? ", " : "") + json_num(m[a * n + b]);
    o += "]";
  }
  return o + "]";
}

std::string json_of(const FitSetup &s, const GroupResult &g, bool with_group) {
  const FitResult &r = g.fit;
  std::ostringstream o;
  o << "{";
  if (with_group) o << "\"group\": " << json_str(g.group) << ", ";
  o << "\"model\": " << json_str(s.model->name) << ", \"nParams\": " << s.n;
  if (!r.ok) {
    o << ", \"error\": " << json_str(r.error) << "}";
    return o.str();
  }
  const size_t np = r.params.size();
  o << ", \"parameters\": [";
  for (size_t j = 0; j < np; ++j) {
    double t, p;
    t_test(r.params[j], r.errors[j], r.dof, t, p);
    o << (j ? ", " : "") << "{\"name\": " << json_str(r.names[j]) << ", \"value\": "
      << json_num(r.params[j]) << ", \"stderr\": " << json_num(r.errors[j])
      << ", \"t\": " << json_num(t) << ", \"p\": " << json_num(p)
      << ", \"ci_lower\": " << json_num(r.ci_lower[j]) << ", \"ci_upper\": " << json_num(r.ci_upper[j])
      << ", \"start\": " << json_num(g.start[j]) << ", \"start_from\": " << json_str(g.source[j])
      << ", \"held\": " << (r.held[j] ? "true" : "false")
      << ", \"at_bound\": " << ((r.flags[j] & FMFIT_FLAG_AT_LOWER) ? "\"lower\"" : (r.flags[j] & FMFIT_FLAG_AT_UPPER) ? "\"upper\"" : "null")
      << ", \"undetermined\": " << ((r.flags[j] & FMFIT_FLAG_UNDETERMINED) ? "true" : "false") << "}";
  }
  o << "], \"chi2_reduced\": " << json_num(r.chi2_reduced) << ", \"r2\": " << json_num(r.r2)
    << ", \"ssr\": " << json_num(r.ssr) << ", \"aic\": " << json_num(r.aic)
    << ", \"aicc\": " << json_num(r.aicc) << ", \"bic\": " << json_num(r.bic)
    << ", \"points\": " << r.points << ", \"free\": " << r.free << ", \"dof\": " << r.dof
    << ", \"ci_level\": " << json_num(s.options.ci_level)
    << ", \"ci_method\": " << (s.options.profile ? "\"profile\"" : "\"asymptotic\"")
    << ", \"absolute_sigma\": " << (s.options.absolute_sigma ? "true" : "false")
    << ", \"covariance\": " << json_matrix(r.covariance, np)
    << ", \"correlation\": " << json_matrix(r.correlation, np)
    << ", \"evaluations\": " << r.nfev << ", \"jacobians\": " << r.njev << ", \"info\": " << r.info
    << ", \"converged\": " << (r.converged ? "true" : "false")
    << ", \"status\": " << json_str(r.status_name) << ", \"status_code\": " << r.status
    << ", \"stop\": " << json_str(r.stop);
  if (!r.verdict.empty()) o << ", \"verdict\": " << json_str(r.verdict);
  if (!g.note.empty()) o << ", \"note\": " << json_str(g.note);
  o << "}";
  return o.str();
}

void plot_fit(const FitSetup &s, const FitResult &r, const Data &data, const std::string &path,
              const std::string &title, const std::string &xlabel, const std::string &ylabel) {
  const ModelInfo &m = *s.model;
  PlotInput in;
  in.title = title;
  in.xlabel = xlabel;
  in.ylabel = ylabel;
  std::vector<double> p{0.0};
  p.insert(p.end(), r.params.begin(), r.params.end());
  std::vector<double> y(static_cast<size_t>(s.n) + 4);
  for (size_t i = 0; i < data.size(); ++i) {
    const std::array<double, 4> x = data.point(i);
    in.x.push_back(x[1]);
    in.y.push_back(data.y[i]);
    in.residual.push_back(model_value(m, s.n, p.data(), x.data(), y.data()) ? data.y[i] - y[1] : 0.0);
  }
  const double lo = *std::min_element(in.x.begin(), in.x.end());
  const double hi = *std::max_element(in.x.begin(), in.x.end());
  const int k = m.terms && m.term_outputs && m.shared == 1 ? m.term_count(s.n) : 0;
  if (k > 1) in.components.assign(static_cast<size_t>(k), {});
  for (int i = 0; i <= 600; ++i) {
    const double x1 = lo + (hi - lo) * i / 600.0;
    const double x[4] = {0, x1, 0, 0};
    const bool ok = model_value(m, s.n, p.data(), x, y.data());
    in.curve_x.push_back(x1);
    in.curve_y.push_back(ok ? y[1] : NAN);
    for (int j = 0; j < static_cast<int>(in.components.size()); ++j)
      in.components[static_cast<size_t>(j)].push_back(ok ? p[1] + y[static_cast<size_t>(2 + j)] : NAN);
  }
  std::string err;
  if (!write_svg(path, in, err)) fail(err);
}

// A two-input fit's data and fitted values at its points.
SurfacePlotInput surface_of(const FitSetup &s, const FitResult &r, const Data &data, const std::string &title,
                            const std::vector<std::string> &xnames, const std::string &ylabel) {
  SurfacePlotInput in{title, xnames[0], xnames[1], ylabel, {}, {}, data.y, {}};
  std::vector<double> p{0.0};
  p.insert(p.end(), r.params.begin(), r.params.end());
  std::vector<double> y(static_cast<size_t>(s.n) + 4);
  for (size_t i = 0; i < data.size(); ++i) {
    const std::array<double, 4> x = data.point(i);
    in.x1.push_back(x[1]);
    in.x2.push_back(x[2]);
    in.fitted.push_back(model_value(*s.model, s.n, p.data(), x.data(), y.data()) ? y[1] : NAN);
  }
  return in;
}

// The fitted surface of a two-input model beside its data, as colour maps.
void plot_surface(const FitSetup &s, const FitResult &r, const Data &data, const std::string &path,
                  const std::string &title, const std::vector<std::string> &xnames, const std::string &ylabel) {
  std::string err;
  if (!write_surface_svg(path, surface_of(s, r, data, title, xnames, ylabel), err)) fail(err);
}

// A row of colour maps per group of a two-input fit, or why the group has none.
void plot_surface_groups(const FitSetup &s, const std::vector<GroupResult> &results,
                         const std::vector<Data> &groups, const std::string &path,
                         const std::string &title, const std::vector<std::string> &xnames, const std::string &ylabel) {
  std::vector<SurfaceGroup> rows;
  for (size_t i = 0; i < results.size(); ++i) {
    const GroupResult &g = results[i];
    SurfaceGroup row;
    row.label = g.group;
    if (!g.fit.ok) row.error = g.fit.error.empty() ? "the fit did not run" : g.fit.error;
    else if (!g.fit.converged) row.status = g.fit.status_name;
    if (g.fit.ok && rows.size() < kMaxSurfaceGroups) row.data = surface_of(s, g.fit, groups[i], "", xnames, ylabel);
    rows.push_back(std::move(row));
  }
  std::string err;
  if (!write_surface_groups_svg(path, title, rows, err)) fail(err);
}

// One panel per group: its data and fitted curve, or why it has none.
void plot_groups(const FitSetup &s, const std::vector<GroupResult> &results,
                 const std::vector<Data> &groups, const std::string &path, const std::string &title,
                 const std::string &xlabel, const std::string &ylabel) {
  GroupsPlotInput in{title, xlabel, ylabel, {}};
  for (size_t gi = 0; gi < results.size(); ++gi) {
    const GroupResult &g = results[gi];
    GroupPanel panel;
    panel.label = g.group;
    if (!g.fit.ok) panel.error = g.fit.error.empty() ? "the fit did not run" : g.fit.error;
    else if (!g.fit.converged) panel.status = g.fit.status_name;
    // Only the groups drawn carry their data; the rest are named as omitted.
    static const Data none;
    const Data &data = in.groups.size() < kMaxPanels ? groups[gi] : none;
    for (size_t i = 0; i < data.size(); ++i) {
      panel.x.push_back(data.point(i)[1]);
      panel.y.push_back(data.y[i]);
    }
    if (g.fit.ok) {
      std::vector<double> p{0.0};
      p.insert(p.end(), g.fit.params.begin(), g.fit.params.end());
      const ModelInfo *m = s.model;
      const int n = s.n;
      panel.curve = [m, n, p](double x1) {
        std::vector<double> y(static_cast<size_t>(n) + 4);
        const double x[4] = {0, x1, 0, 0};
        return model_value(*m, n, p.data(), x, y.data()) ? y[1] : NAN;
      };
    }
    in.groups.push_back(std::move(panel));
  }
  std::string err;
  if (!write_groups_svg(path, in, err)) fail(err);
}

// x, data, fit, residual and the confidence band of the curve at every point: the delta method,
// var f(x) = g' C g with g the model's derivatives (central differences for a value-only model)
// over the free parameters and C their covariance; the band is f -+ t * sqrt(var f).
void write_curve(const FitSetup &s, const FitResult &r, const Data &data,
                 const std::vector<std::string> &xnames, const std::string &path) {
  const ModelInfo &m = *s.model;
  const size_t np = static_cast<size_t>(s.n);
  const bool to_stdout = path == "-";
  if (to_stdout) std::fflush(stdout);
  FILE *f = to_stdout ? stdout : std::fopen(path.c_str(), "w");
  if (f == nullptr) fail("cannot write \"" + path + "\"");
  std::vector<double> p{0.0};
  p.insert(p.end(), r.params.begin(), r.params.end());
  std::vector<int> index;
  for (size_t j = 0; j < np; ++j)
    if (!r.held[j]) index.push_back(static_cast<int>(j) + 1);
  // As the library's intervals: Student's t, or the normal quantile for weights that are true
  // 1/sigma (the covariance is then not estimated from the residuals).
  const double tq = s.options.absolute_sigma
                        ? boost::math::quantile(boost::math::normal(), 0.5 + s.options.ci_level / 2)
                        : t_quantile(s.options.ci_level, r.dof);
  std::vector<double> y(np + 4), d(np + 1), g(index.size());
  for (const std::string &x : xnames) std::fprintf(f, "%s,", x.c_str());
  std::fprintf(f, "data,fit,residual,lower,upper\n");
  for (size_t i = 0; i < data.size(); ++i) {
    const std::array<double, 4> x = data.point(i);
    for (int k = 1; k <= data.ni; ++k) std::fprintf(f, "%.17g,", x[static_cast<size_t>(k)]);
    std::fprintf(f, "%.17g,", data.y[i]);
    if (!model_value(m, s.n, p.data(), x.data(), y.data())) {
      std::fprintf(f, ",,,\n");
      continue;
    }
    const double fit = y[1];
    bool have = true;
    if (m.analytic() && model_derivs(m, s.n, p.data(), x.data(), d.data())) {
      for (size_t j = 0; j < index.size(); ++j) g[j] = d[static_cast<size_t>(index[j])];
    } else {
      const fm::ValueFunction value = [&](const double *q, double *v) {
        std::vector<double> yy(np + 4);
        if (!model_value(m, s.n, q, x.data(), yy.data())) return false;
        *v = yy[1];
        return true;
      };
      std::vector<double> q(p);
      have = fm::numeric_derivatives(value, q.data(), index.data(), static_cast<int>(index.size()),
                                     fit, fm::kCentralJacobian, g.data());
    }
    double var = 0;
    for (size_t a = 0; a < index.size() && have; ++a)
      for (size_t b = 0; b < index.size(); ++b)
        var += g[a] * g[b] * r.covariance[static_cast<size_t>(index[a] - 1) * np + static_cast<size_t>(index[b] - 1)];
    const double half = have && var >= 0 ? tq * std::sqrt(var) : NAN;
    std::fprintf(f, "%.17g,%.17g,", fit, data.y[i] - fit);
    if (std::isfinite(half))
      std::fprintf(f, "%.17g,%.17g\n", fit - half, fit + half);
    else
      std::fprintf(f, ",\n");
  }
  if (to_stdout ? std::fflush(f) != 0 : std::fclose(f) != 0) fail("cannot write \"" + path + "\"");
}

struct FitArgs {
  std::string model, file, y, weights, group, plot, curve, ci, na = "refuse";
  std::vector<std::string> x, init, fix, bounds, models, nested;
  long long peaks = 0;
  bool peaks_given = false, json = false, absolute_sigma = false;
  long long max_evaluations = 0;
  double timeout = 0;
};

// Refuses an output file that cannot be written before any work is done.
void check_writable(const std::string &path) {
  const auto slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) fail("cannot write \"" + path + "\": it is a folder");
    if (access(path.c_str(), W_OK) != 0) fail("cannot write \"" + path + "\"");
  } else if (access(dir.c_str(), W_OK | X_OK) != 0) {
    fail("cannot write \"" + path + "\": no writable folder \"" + dir + "\"");
  }
}

// --bounds name=lo:hi,...: either side may be empty (or -inf / inf) for no bound.
void parse_bounds(const std::vector<std::string> &items, const std::vector<std::string> &names,
                  std::vector<double> &lower, std::vector<double> &upper) {
  if (items.empty()) return;
  lower.assign(names.size(), -INFINITY);
  upper.assign(names.size(), INFINITY);
  std::vector<bool> seen(names.size(), false);
  const auto side = [](const std::string &t, double none) {
    if (t.empty() || (none > 0 ? (t == "inf" || t == "+inf") : t == "-inf")) return none;
    return number(t, "--bounds value");
  };
  for (const std::string &item : split_list(items, "--bounds", "write name=lo:hi")) {
    const auto eq = item.find('=');
    const auto colon = item.find(':', eq == std::string::npos ? 0 : eq);
    if (eq == std::string::npos || colon == std::string::npos)
      fail("--bounds wants name=lo:hi, not \"" + item + "\"");
    const int i = index_of(names, item.substr(0, eq));
    if (i < 0) fail("--bounds: no parameter \"" + item.substr(0, eq) + "\" (parameters: " + join(names) + ")");
    const size_t k = static_cast<size_t>(i);
    if (seen[k]) fail("--bounds gives " + names[k] + " twice");
    seen[k] = true;
    lower[k] = side(item.substr(eq + 1, colon - eq - 1), -INFINITY);
    upper[k] = side(item.substr(colon + 1), INFINITY);
    if (lower[k] > upper[k])
      fail("--bounds: the lower bound of " + names[k] + " (" + fmt(lower[k]) + ") is above its upper bound (" + fmt(upper[k]) + ")");
  }
}

// --ci LEVEL (0 < LEVEL < 1, asymptotic), profile, or profile:LEVEL.
void parse_ci(const std::string &text, FitOptions &o) {
  if (text.empty()) return;
  std::string level = text;
  if (text.rfind("profile", 0) == 0) {
    o.profile = true;
    level = text.size() > 7 && text[7] == ':' ? text.substr(8) : text.size() == 7 ? "" : text;
    if (level == text) fail("--ci wants a level such as 0.95, profile or profile:0.95, not \"" + text + "\"");
  }
  if (level.empty()) return;
  double v;
  if (!parse_number(level, v) || !(v > 0 && v < 1))
    fail("--ci wants a level between 0 and 1 (such as 0.95), profile or profile:LEVEL, not \"" + text + "\"");
  o.ci_level = v;
}

// The data of a fit or a comparison: the columns read into the fitting library's layout, split
// into groups (in the order groups first appear) when a group column is named.
struct Loaded {
  std::string path, source, yname;
  std::vector<std::string> xnames;
  std::vector<std::string> order;  // group keys
  std::vector<Data> groups;        // in that order
};

Loaded load(const FitArgs &a, const ModelInfo &m) {
  Loaded L;
  const int ni = std::max(1, m.nIndep);
  if (!a.x.empty() && static_cast<int>(a.x.size()) != ni)
    fail(m.name + " reads " + std::to_string(ni) + " independent variable(s); give --x " +
         std::to_string(ni) + " time(s)");
  Columns cols;
  cols.skip_missing = a.na == "skip";
  if (!a.weights.empty()) {
    cols.positive = ni + 1;
    cols.positive_message = "weight (1/sigma) must be positive";
  }
  // The columns by name or number once the header is read: x ones, y, the weights; the group
  // column as text.
  const ColumnPicker pick = [&](const Table &t, std::vector<int> &numeric, int &text,
                                std::string &err) {
    for (int k = 0; k < ni; ++k) {
      const int c = find_column(t, a.x.empty() ? std::to_string(k + 1) : a.x[static_cast<size_t>(k)], err);
      if (c < 0) return false;
      numeric.push_back(c);
      L.xnames.push_back(t.header[static_cast<size_t>(c)]);
    }
    const int yc = find_column(t, a.y.empty() ? std::to_string(ni + 1) : a.y, err);
    if (yc < 0) return false;
    L.yname = t.header[static_cast<size_t>(yc)];
    for (int k = 0; k < ni; ++k) {
      if (numeric[static_cast<size_t>(k)] == yc) {
        err = "column \"" + L.yname + "\" given as both x and y";
        return false;
      }
      for (int j = 0; j < k; ++j)
        if (numeric[static_cast<size_t>(j)] == numeric[static_cast<size_t>(k)]) {
          err = "column \"" + L.xnames[static_cast<size_t>(k)] + "\" given twice as x";
          return false;
        }
    }
    numeric.push_back(yc);
    if (!a.weights.empty()) {
      const int wc = find_column(t, a.weights, err);
      if (wc < 0) return false;
      numeric.push_back(wc);
    }
    if (!a.group.empty() && (text = find_column(t, a.group, err)) < 0) return false;
    return true;
  };
  std::string err;
  if (!read_columns(a.file, pick, cols, err)) fail(err);
  L.path = cols.table.path;
  const size_t rows = cols.rows;
  const bool grouped = !a.group.empty();
  std::vector<std::vector<double>> &v = cols.values;
  const bool weighted = !a.weights.empty();
  // Rows with a missing cell (NaN under --na skip) are left out.
  std::vector<size_t> counts(grouped ? cols.keys.size() : 1, 0);
  size_t skipped = 0;
  std::vector<bool> keep;
  if (cols.skip_missing) keep.assign(rows, true);
  for (size_t i = 0; i < rows; ++i) {
    if (cols.skip_missing) {
      bool missing = false;
      for (const std::vector<double> &c : v) missing = missing || std::isnan(c[i]);
      if (missing) {
        keep[i] = false;
        ++skipped;
        continue;
      }
    }
    ++counts[grouped ? cols.key_of[i] : 0];
  }
  L.source = L.path + ": x = " + join(L.xnames) + ", y = " + L.yname;
  if (skipped > 0) L.source += ", " + std::to_string(skipped) + " rows with missing cells left out";
  const size_t yk = static_cast<size_t>(ni);
  if (!grouped && skipped == 0 && ni == 1) {
    // One data set of one input: the columns read become its arrays, without a copy.
    L.order.assign(1, "");
    L.groups.resize(1);
    Data &d = L.groups[0];
    d.ni = 1;
    d.x = std::move(v[0]);
    d.y = std::move(v[yk]);
    if (weighted) d.w = std::move(v[yk + 1]);
    return L;
  }
  // Groups in the order they first appear; a group whose every row --na skip leaves out is none.
  std::vector<size_t> place(counts.size(), 0);
  for (size_t g = 0; g < counts.size(); ++g) {
    if (grouped && counts[g] == 0) continue;
    place[g] = L.order.size();
    L.order.push_back(grouped ? cols.keys[g] : "");
    L.groups.emplace_back();
    Data &d = L.groups.back();
    d.ni = ni;
    d.x.reserve(counts[g] * static_cast<size_t>(ni));
    d.y.reserve(counts[g]);
    if (weighted) d.w.reserve(counts[g]);
  }
  for (size_t i = 0; i < rows; ++i) {
    if (!keep.empty() && !keep[i]) continue;
    Data &d = L.groups[place[grouped ? cols.key_of[i] : 0]];
    for (size_t k = 0; k < yk; ++k) d.x.push_back(v[k][i]);
    d.y.push_back(v[yk][i]);
    if (weighted) d.w.push_back(v[yk + 1][i]);
  }
  return L;
}

int parameter_count(const FitArgs &a, const ModelInfo &m) {
  if (m.placeholder()) fail(m.name + " is a placeholder model: it computes nothing to fit");
  int n;
  if (a.peaks_given) {
    if (!m.terms) fail(m.name + " has a fixed number of parameters; --peaks is for multi-peak models");
    if (a.peaks < 1) fail("--peaks must be at least 1 (got " + std::to_string(a.peaks) + ")");
    // The contract counts parameters in an int16_t: refused before anything is sized by it.
    const long long most = m.per_term > 0 ? (INT16_MAX - m.shared) / m.per_term : 0;
    if (a.peaks > most)
      fail("--peaks " + std::to_string(a.peaks) + ": " + m.name + " takes at most " +
           std::to_string(most) + " terms (" + std::to_string(INT16_MAX) + " parameters)");
    n = m.count_for(static_cast<int>(a.peaks));
  } else {
    n = m.default_count();
  }
  if (n <= 0) fail(m.name + ": unknown parameter count");
  return n;
}

void common_options(const FitArgs &a, FitSetup &s) {
  if (a.max_evaluations < 0) fail("--max-evaluations must be at least 1");
  if (!(a.timeout >= 0) || !std::isfinite(a.timeout)) fail("--timeout must be a positive number of seconds");
  s.options.max_evaluations = static_cast<long>(std::min<long long>(a.max_evaluations, 1LL << 40));
  s.timeout = a.timeout;
  s.options.timeout = a.timeout;
  s.options.absolute_sigma = a.absolute_sigma;
  parse_ci(a.ci, s.options);
}

int cmd_fit(const FitArgs &a) {
  FitSetup s;
  s.model = &require_model(a.model);
  const ModelInfo &m = *s.model;
  s.n = parameter_count(a, m);
  s.names = m.names_for(s.n);
  s.init.assign(static_cast<size_t>(s.n), 0.0);
  s.fixed_values.assign(static_cast<size_t>(s.n), 0.0);
  s.given.assign(static_cast<size_t>(s.n), false);
  s.fixed.assign(static_cast<size_t>(s.n), false);
  const std::string expected = "the parameters are " + std::to_string(s.n) + ": " + join(s.names);
  assign(split_list(a.init, "--init", expected), s.names, true, "--init", s.init, s.given);
  assign(split_list(a.fix, "--fix", expected), s.names, false, "--fix", s.fixed_values, s.fixed);
  parse_bounds(a.bounds, s.names, s.options.lower, s.options.upper);
  common_options(a, s);
  s.options.started = s.started;
  if (!a.plot.empty()) check_writable(a.plot);
  if (!a.curve.empty() && a.curve != "-") check_writable(a.curve);
  if (!a.group.empty() && !a.curve.empty()) fail("--curve writes one fit; leave it out with --group");

  Loaded L = load(a, m);
  const int ni = std::max(1, m.nIndep);

  if (a.group.empty()) {
    const Data &data = L.groups[0];
    if (data.size() < 1) fail(L.path + ": no data rows");
    // The progress line covers the estimates and the fit; the fit itself shows none.
    ProgressLine progress_line(isatty(2) != 0, m.name, s.started);
    GroupResult g;
    if (s.timeout > 0) {
      // The estimates cannot be interrupted: they run aside, and when the time limit passes
      // first the verdict is printed and the process ends without waiting for them.
      const fmfit_data view = data.view();
      std::future<GroupResult> job = std::async(std::launch::async, [&s, view] { return prepare(s, view, ""); });
      if (job.wait_for(std::chrono::duration<double>(s.remaining())) == std::future_status::timeout) {
        const std::string verdict = "the time limit of " + fmt(s.timeout, 6) +
                                    " s passed while estimating the starting values";
        if (a.json)
          std::printf("{\"model\": %s, \"nParams\": %d, \"points\": %zu, \"converged\": false, "
                      "\"status\": \"time limit\", \"status_code\": %d, \"verdict\": %s}\n",
                      json_str(m.name).c_str(), s.n, data.size(), FMFIT_TIME_LIMIT, json_str(verdict).c_str());
        else
          std::printf("model            %s\ndata             %s, %zu points\nstatus           NOT CONVERGED: time limit -- %s\n",
                      m.name.c_str(), L.source.c_str(), data.size(), verdict.c_str());
        progress_line.stop();
        std::fflush(stdout);
        std::_Exit(1);
      }
      g = job.get();
      if (g.ready) {
        FitOptions o = s.options;
        o.time_limit = s.remaining();
        g.fit = fit_model(m, s.n, view, g.start, g.held, o);
      }
    } else {
      g = run_one(s, data.view(), "");
    }
    progress_line.stop();
    if (!g.fit.ok) fail(g.fit.error);
    if (a.json)
      std::printf("%s\n", json_of(s, g, false).c_str());
    else
      print_text(s, g, L.source);
    if (!a.curve.empty()) {
      write_curve(s, g.fit, data, L.xnames, a.curve);
      if (!a.json) std::printf("curve            %s\n", a.curve.c_str());
    }
    if (!a.plot.empty()) {
      if (ni > 2) fail("--plot draws models of one or two independent variables");
      if (ni == 2)
        plot_surface(s, g.fit, data, a.plot, m.name + " fit to " + L.path, L.xnames, L.yname);
      else
        plot_fit(s, g.fit, data, a.plot, m.name + " fit to " + L.path, L.xnames[0], L.yname);
      if (!a.json) std::printf("plot             %s\n", a.plot.c_str());
    }
    return g.fit.converged ? 0 : 1;
  }

  if (!a.plot.empty() && ni > 2) fail("--plot draws models of one or two independent variables");
  // Many curves: each group's start (its own estimates) made over all cores, then one batch
  // call of the library over every group that has a start; results printed in group order.
  const size_t count = L.order.size(), np = static_cast<size_t>(s.n);
  std::vector<GroupResult> results(count);
  std::atomic<size_t> next{0};
  const unsigned workers = std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(),
                                                           static_cast<unsigned>(count)));
  auto work = [&]() {
    for (size_t i; (i = next++) < count;) {
      try {
        if (s.timeout > 0 && s.remaining() <= 1e-9) {
          results[i].group = L.order[i];
          results[i].fit.error = "the time limit passed before its starting values were estimated";
          continue;
        }
        results[i] = prepare(s, L.groups[i].view(), L.order[i]);
      } catch (const std::bad_alloc &) {  // one group too big: it fails, the others go on
        results[i] = GroupResult{};
        results[i].group = L.order[i];
        results[i].fit.error = "out of memory";
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned w = 0; w < workers; ++w) pool.emplace_back(work);
  for (std::thread &th : pool) th.join();
  std::vector<size_t> fitted, offsets{0};
  std::vector<double> bx, by, bw, starts;
  std::vector<uint8_t> held;
  size_t total = 0;
  for (size_t i = 0; i < count; ++i)
    if (results[i].ready) total += L.groups[i].size();
  bx.reserve(total * static_cast<size_t>(ni));
  by.reserve(total);
  for (size_t i = 0; i < count; ++i) {
    if (!results[i].ready) continue;
    const Data &d = L.groups[i];
    fitted.push_back(i);
    bx.insert(bx.end(), d.x.begin(), d.x.end());
    by.insert(by.end(), d.y.begin(), d.y.end());
    if (!d.w.empty()) bw.insert(bw.end(), d.w.begin(), d.w.end());
    offsets.push_back(by.size());
    starts.insert(starts.end(), results[i].start.begin(), results[i].start.end());
    for (size_t j = 0; j < np; ++j) held.push_back(results[i].held[j] ? 1 : 0);
  }
  if (a.plot.empty()) L.groups.clear();  // the plot draws each group's data
  const bool tty = isatty(2);
  if (!fitted.empty()) {
    FitOptions o = s.options;
    o.time_limit = s.remaining();
    const std::function<void(size_t, size_t)> progress = [&](size_t d, size_t) {
      std::fprintf(stderr, "\rfitting %s: %zu of %zu groups", m.name.c_str(), d, fitted.size());
    };
    std::vector<FitResult> fits = fit_batch(m, s.n, offsets, bx, by, bw, starts, held, o,
                                            tty ? progress : std::function<void(size_t, size_t)>());
    for (size_t k = 0; k < fitted.size(); ++k) results[fitted[k]].fit = std::move(fits[k]);
    if (tty) std::fprintf(stderr, "\n");
  }
  int failures = 0;
  if (a.json) std::printf("[\n");
  else {
    std::printf("group");
    for (const std::string &nm : s.names) std::printf("\t%s\t%s_err", nm.c_str(), nm.c_str());
    std::printf("\tchi2_reduced\tR2\tRSS\tpoints\tevaluations\tstatus\tstop\n");
  }
  for (size_t i = 0; i < results.size(); ++i) {
    const GroupResult &g = results[i];
    const bool bad = !g.fit.ok || !g.fit.converged;
    failures += bad;
    if (a.json) {
      std::printf("%s%s\n", json_of(s, g, true).c_str(), i + 1 < results.size() ? "," : "");
      continue;
    }
    std::printf("%s", g.group.c_str());
    if (!g.fit.ok) {
      std::printf("\tFAILED: %s\n", g.fit.error.c_str());
      continue;
    }
    for (size_t j = 0; j < g.fit.params.size(); ++j)
      std::printf("\t%s\t%s", fmt(g.fit.params[j]).c_str(), g.fit.held[j] ? "held" : fmt(g.fit.errors[j], 4).c_str());
    std::printf("\t%s\t%s\t%s\t%d\t%d\t%s\t%s\n", fmt(g.fit.chi2_reduced, 6).c_str(), fmt(g.fit.r2, 6).c_str(),
                fmt(g.fit.ssr, 8).c_str(), g.fit.points, g.fit.nfev, g.fit.status_name.c_str(),
                g.fit.converged ? "converged" : g.fit.verdict.c_str());
  }
  if (a.json) std::printf("]\n");
  if (!a.plot.empty() && ni == 2)
    plot_surface_groups(s, results, L.groups, a.plot,
                        m.name + " fit to " + L.path + ", one row per " + a.group, L.xnames, L.yname);
  else if (!a.plot.empty())
    plot_groups(s, results, L.groups, a.plot,
                m.name + " fit to " + L.path + ", one panel per " + a.group, L.xnames[0], L.yname);
  if (failures > 0)
    std::fprintf(stderr, "fitmodels: %d of %zu groups did not fit\n", failures, results.size());
  return failures == 0 ? 0 : 1;
}

// ---- compare --------------------------------------------------------------------------------
// MODEL or MODEL:K (K terms of a multi-term model).
struct Candidate {
  std::string label;
  const ModelInfo *model = nullptr;
  int n = 0, terms = 0;
  GroupResult g;
};

int cmd_compare(FitArgs a) {
  if (a.models.size() < 3) fail("compare wants two or more models and a data file: compare MODEL1 MODEL2 ... FILE");
  a.file = a.models.back();
  a.models.pop_back();
  std::vector<Candidate> cands;
  for (const std::string &given : a.models) {
    Candidate c;
    c.label = given;
    const auto colon = given.find(':');
    c.model = &require_model(given.substr(0, colon));
    FitArgs one = a;
    if (colon != std::string::npos) {
      double k;
      if (!parse_number(given.substr(colon + 1), k) || k != std::floor(k) || k < 1 || k > 1e4)
        fail("compare: \"" + given + "\": write MODEL or MODEL:TERMS with TERMS a count from 1");
      one.peaks = static_cast<long long>(k);
      one.peaks_given = true;
    } else {
      one.peaks_given = false;
    }
    c.n = parameter_count(one, *c.model);
    c.terms = c.model->term_count(c.n);
    if (!cands.empty() && c.model->nIndep != cands[0].model->nIndep)
      fail("compare: " + c.model->name + " reads " + std::to_string(c.model->nIndep) + " input(s), " +
           cands[0].model->name + " " + std::to_string(cands[0].model->nIndep));
    for (const Candidate &o : cands)
      if (o.model == c.model && o.n == c.n) fail("compare: " + given + " is given twice");
    cands.push_back(c);
  }
  // The pairs to test: --nested A:B (A a special case of B), and the same model with fewer terms.
  std::vector<std::pair<size_t, size_t>> pairs;
  for (const std::string &p : split_list(a.nested, "--nested", "write SMALLER:LARGER")) {
    // Labels may hold a colon themselves (Gauss:2): the pair is split at the colon that leaves
    // two known labels.
    bool done = false;
    for (size_t at = p.find(':'); at != std::string::npos && !done; at = p.find(':', at + 1)) {
      size_t i = cands.size(), j = cands.size();
      for (size_t k = 0; k < cands.size(); ++k) {
        if (lower(cands[k].label) == lower(p.substr(0, at))) i = k;
        if (lower(cands[k].label) == lower(p.substr(at + 1))) j = k;
      }
      if (i < cands.size() && j < cands.size()) {
        if (i == j) fail("--nested: a model is not nested in itself");
        pairs.emplace_back(i, j);
        done = true;
      }
    }
    if (!done) {
      fail("--nested wants SMALLER:LARGER, two of the models compared, not \"" + p + "\"");
    }
  }
  for (size_t i = 0; i < cands.size(); ++i)
    for (size_t j = 0; j < cands.size(); ++j)
      if (cands[i].model == cands[j].model && cands[i].model->terms && cands[i].n < cands[j].n &&
          std::find(pairs.begin(), pairs.end(), std::make_pair(i, j)) == pairs.end())
        pairs.emplace_back(i, j);
  const size_t given_pairs = split_list(a.nested, "--nested").size();

  Loaded L = load(a, *cands[0].model);
  const Data &data = L.groups[0];
  if (data.size() < 1) fail(L.path + ": no data rows");
  FitSetup base;
  common_options(a, base);
  for (Candidate &c : cands) {
    FitSetup s = base;
    s.started = Clock::now();  // --timeout bounds each fit of the comparison
    s.model = c.model;
    s.n = c.n;
    s.names = c.model->names_for(c.n);
    s.init.assign(static_cast<size_t>(c.n), 0.0);
    s.fixed_values.assign(static_cast<size_t>(c.n), 0.0);
    s.given.assign(static_cast<size_t>(c.n), false);
    s.fixed.assign(static_cast<size_t>(c.n), false);
    c.g = run_one(s, data.view(), "");
  }
  std::vector<size_t> rank;
  for (size_t i = 0; i < cands.size(); ++i) rank.push_back(i);
  const auto aicc = [&](size_t i) {
    const FitResult &r = cands[i].g.fit;
    return r.ok && std::isfinite(r.aicc) ? r.aicc : INFINITY;
  };
  std::stable_sort(rank.begin(), rank.end(), [&](size_t p, size_t q) { return aicc(p) < aicc(q); });
  std::printf("data             %s, %zu points\n", L.source.c_str(), data.size());
  std::printf("%-4s %-18s %6s %-18s %-14s %-14s %-9s %s\n", "rank", "model", "free", "sum of squares",
              "AICc", "delta AICc", "weight", "status");
  const double best = aicc(rank[0]);
  double wsum = 0;
  for (size_t i : rank)
    if (std::isfinite(aicc(i))) wsum += std::exp(-(aicc(i) - best) / 2);
  int failures = 0;
  for (size_t k = 0; k < rank.size(); ++k) {
    const Candidate &c = cands[rank[k]];
    const FitResult &r = c.g.fit;
    if (!r.ok) {
      ++failures;
      std::printf("%-4zu %-18s %6s %-18s %-14s %-14s %-9s FAILED: %s\n", k + 1, c.label.c_str(), "-", "-", "-", "-", "-",
                  (c.g.fit.error.empty() ? "no fit" : c.g.fit.error).c_str());
      continue;
    }
    failures += !r.converged;
    const double d = aicc(rank[k]) - best;
    std::printf("%-4zu %-18s %6d %-18s %-14s %-14s %-9s %s\n", k + 1, c.label.c_str(), r.free,
                fmt(r.ssr, 10).c_str(), fmt(r.aicc, 8).c_str(), fmt(d, 4).c_str(),
                fmt(std::exp(-d / 2) / wsum, 3).c_str(),
                r.converged ? "converged" : ("NOT CONVERGED: " + r.status_name).c_str());
  }
  if (pairs.empty()) {
    std::printf("nested pairs     none tested (the same model with fewer terms, or --nested SMALLER:LARGER)\n");
  } else {
    std::printf("\nF-tests of nested pairs (the smaller model a special case of the larger)\n");
    for (size_t q = 0; q < pairs.size(); ++q) {
      const auto &pr = pairs[q];
      const Candidate &A = cands[pr.first], &B = cands[pr.second];
      const FitResult &ra = A.g.fit, &rb = B.g.fit;
      std::printf("%s in %s: ", A.label.c_str(), B.label.c_str());
      const std::string why = q < given_pairs ? " (given with --nested)" : " (the same model, fewer terms)";
      if (!ra.ok || !rb.ok || !ra.converged || !rb.converged) {
        std::printf("not tested: both fits must converge%s\n", why.c_str());
        continue;
      }
      const int d1 = ra.dof - rb.dof, d2 = rb.dof;
      if (d1 < 1 || d2 < 1) {
        std::printf("not tested: the larger model must have more free parameters and residual degrees of freedom%s\n", why.c_str());
        continue;
      }
      if (ra.ssr < rb.ssr) {
        std::printf("not tested: the larger model fits worse (sum of squares %s above %s), so it did not reach the smaller one's minimum%s\n",
                    fmt(rb.ssr, 8).c_str(), fmt(ra.ssr, 8).c_str(), why.c_str());
        continue;
      }
      const double F = ((ra.ssr - rb.ssr) / d1) / (rb.ssr / d2);
      double p = NAN;
      if (std::isfinite(F) && F >= 0)
        p = boost::math::cdf(boost::math::complement(boost::math::fisher_f(d1, d2), F));
      std::printf("F(%d, %d) = %s, p = %s%s\n", d1, d2, fmt(F, 6).c_str(), fmt(p, 4).c_str(), why.c_str());
    }
  }
  return failures == 0 ? 0 : 1;
}

// A first argument that is no command nor option: named, with the nearest command.
void check_command(int argc, char **argv) {
  if (argc < 2 || argv[1][0] == '-') return;
  const std::string given = argv[1];
  const char *commands[] = {"list", "eval", "check", "fit", "compare"};
  std::string best;
  size_t best_d = 3;
  for (const char *c : commands) {
    if (given == c) return;
    const size_t d = fm_edit_distance(given.c_str(), c);
    if (d < best_d) best_d = d, best = c;
  }
  fail("unknown command \"" + given + "\"" + (best.empty() ? " (commands: list, eval, check, fit, compare)" : " (did you mean " + best + "?)"));
}

int run(int argc, char **argv) {
  CLI::App app{"fitmodels: list, evaluate, check and fit the library's curve-fitting models"};
  app.require_subcommand(1);

  std::string list_text;
  auto *list = app.add_subcommand("list", "list the registered models (or those matching TEXT)");
  list->add_option("text", list_text, "part of a model's name or family");

  std::string eval_model, eval_data;
  std::vector<std::string> eval_params, eval_x, eval_xcols;
  bool eval_deriv = false;
  auto *eval = app.add_subcommand("eval", "evaluate a model at given points");
  eval->add_option("model", eval_model, "model name")->required();
  eval->add_option("params", eval_params, "parameter values (separate or comma-separated)")->required();
  eval->add_option("--x", eval_x, "points (x, or x1:x2 for two independent variables)");
  eval->add_option("--data", eval_data, "CSV file with the points");
  eval->add_option("--xcol", eval_xcols, "column(s) of --data holding x (default: the first)");
  eval->add_flag("--deriv", eval_deriv, "print the analytic partial derivatives too");

  std::vector<std::string> check_models;
  int check_points = 12;
  double check_tol = fm::kDerivativeTolerance;
  auto *check = app.add_subcommand("check", "compare analytic derivatives with central differences");
  check->add_option("models", check_models, "models to check (default: every model with derivatives)");
  check->add_option("--points", check_points, "points generated around each generic point")
      ->check(CLI::Range(1, 100000));
  check->add_option("--tolerance", check_tol, "largest accepted relative disagreement")
      ->check(CLI::Validator([](std::string &v) -> std::string {
        double t;
        return parse_number(v, t) && t > 0 ? "" : "must be a positive number, not \"" + v + "\"";
      }, "POSITIVE"));

  FitArgs fa;
  auto *fit = app.add_subcommand("fit", "least-squares fit of a model to data in a CSV file");
  fit->add_option("model", fa.model, "model name")->required();
  fit->add_option("file", fa.file, "CSV file (header line optional)")->required();
  fit->add_option("--x", fa.x, "x column by name or number (twice for two-input models)");
  fit->add_option("--y", fa.y, "y column (default: the one after the x columns)");
  fit->add_option("--init", fa.init, "starting values: name=value,... or values in order");
  fit->add_option("--fix", fa.fix, "held parameters: name=value,...");
  auto *peaks = fit->add_option("--peaks", fa.peaks, "number of peaks (terms) of a multi-peak model");
  fit->add_option("--weights", fa.weights, "column of weights 1/sigma");
  fit->add_option("--group", fa.group, "fit each group of rows with equal values in this column");
  fit->add_flag("--json", fa.json, "machine-readable output");
  fit->add_option("--plot", fa.plot, "write an SVG of data, fitted curve and residuals");
  fit->add_option("--na", fa.na, "rows with an empty or NA cell in a column used: refuse (default) or skip")
      ->check(CLI::IsMember({"refuse", "skip"}));
  fit->add_option("--max-evaluations", fa.max_evaluations, "stop a fit after N evaluations of the model")
      ->check(CLI::Range(1LL, 1LL << 40));
  fit->add_option("--timeout", fa.timeout, "stop a fit after SECONDS, its estimates included (it reports its best point)");
  fit->add_option("--bounds", fa.bounds, "bounds: name=lo:hi,... (an empty side: none)");
  fit->add_option("--ci", fa.ci, "confidence intervals: LEVEL (asymptotic, default 0.95), profile or profile:LEVEL");
  fit->add_flag("--absolute-sigma", fa.absolute_sigma, "the weights are true 1/sigma: errors not scaled by the reduced chi^2");
  fit->add_option("--curve", fa.curve, "write x, data, fit, residual and the confidence band to a CSV file (-: standard output)");

  FitArgs ca;
  auto *compare = app.add_subcommand("compare", "fit several models to the same data and rank them by AICc");
  compare->add_option("models", ca.models, "MODEL1 MODEL2 ... FILE.csv (MODEL:K for K terms)")->required();
  compare->add_option("--x", ca.x, "x column by name or number (twice for two-input models)");
  compare->add_option("--y", ca.y, "y column (default: the one after the x columns)");
  compare->add_option("--weights", ca.weights, "column of weights 1/sigma");
  compare->add_option("--na", ca.na, "rows with an empty or NA cell in a column used: refuse (default) or skip")
      ->check(CLI::IsMember({"refuse", "skip"}));
  compare->add_option("--nested", ca.nested, "SMALLER:LARGER pairs to F-test (besides a model with fewer terms)");
  compare->add_option("--max-evaluations", ca.max_evaluations, "stop a fit after N evaluations of the model")
      ->check(CLI::Range(1LL, 1LL << 40));
  compare->add_option("--timeout", ca.timeout, "stop each fit after SECONDS");

  check_command(argc, argv);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    fail(e.what());
  }
  fa.peaks_given = peaks->count() > 0;
  {
    if (*list) return cmd_list(list_text);
    if (*eval) {
      if (!eval_x.empty() && !eval_data.empty()) fail("give the points with --x or --data, not both");
      return cmd_eval(eval_model, eval_params, eval_x, eval_data, eval_xcols, eval_deriv);
    }
    if (*check) {
      for (const std::string &name : check_models) require_model(name);
      return run_check(check_models, check_points, check_tol) == 0 ? 0 : 1;
    }
    if (*fit) return cmd_fit(fa);
    if (*compare) return cmd_compare(ca);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const Failure &f) {
    std::fflush(stdout);
    std::fprintf(stderr, "fitmodels: %s\n", one_line(f.message).c_str());
  } catch (const std::bad_alloc &) {
    std::fflush(stdout);
    std::fprintf(stderr, "fitmodels: out of memory\n");
  } catch (const std::length_error &) {
    std::fflush(stdout);
    std::fprintf(stderr, "fitmodels: out of memory (a size beyond what can be allocated)\n");
  }
  return 2;
}
