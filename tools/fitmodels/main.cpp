// fitmodels: list, evaluate, check and fit the library's models from the command line.
//
//   fitmodels list [TEXT]
//   fitmodels eval MODEL P1 P2 ... (--x X ... | --data FILE.csv) [--deriv]
//   fitmodels check [MODEL ...]
//   fitmodels fit MODEL FILE.csv [--x COL] [--y COL] [--init name=value,..] [--fix name=value]
//                 [--peaks K] [--weights COL] [--group COL] [--na refuse|skip] [--json]
//                 [--plot FILE.svg] [--max-evaluations N] [--timeout SECONDS]
//
// Bad input prints one line "fitmodels: ..." on stderr and exits with status 2; so does running
// out of memory. A fit that ends without converging prints its result and exits with status 1.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
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
struct FitSetup {
  const ModelInfo *model = nullptr;
  int n = 0;
  std::vector<std::string> names;
  std::vector<double> init, fixed_values;
  std::vector<bool> given, fixed;
  FitOptions options;
};

struct GroupResult {
  std::string group;
  FitResult fit;
  std::string note;
};

GroupResult run_one(const FitSetup &s, const Data &data, const std::string &group) {
  GroupResult g;
  g.group = group;
  std::vector<double> start(s.init);
  std::vector<bool> held(s.fixed);
  for (int j = 0; j < s.n; ++j)
    if (s.fixed[static_cast<size_t>(j)]) start[static_cast<size_t>(j)] = s.fixed_values[static_cast<size_t>(j)];
  int nfree = 0;
  bool complete = true;
  for (int j = 0; j < s.n; ++j) {
    nfree += !held[static_cast<size_t>(j)];
    if (!s.given[static_cast<size_t>(j)] && !s.fixed[static_cast<size_t>(j)]) complete = false;
  }
  if (static_cast<int>(data.size()) < std::max(nfree, 1)) {
    g.fit.error = "too few points: " + std::to_string(data.size()) + " for " +
                  std::to_string(nfree) + " free parameters";
    return g;
  }
  if (!complete) {
    Estimate e;
    std::string why;
    std::vector<bool> known(static_cast<size_t>(s.n));
    for (size_t k = 0; k < known.size(); ++k) known[k] = s.given[k] || s.fixed[k];
    if (!estimate(*s.model, s.n, data, known, start, e, why)) {
      g.fit.error = why + (why.find("--init") == std::string::npos ? " (give starting values with --init)" : "");
      return g;
    }
    for (int j = 0; j < s.n; ++j) {
      const size_t k = static_cast<size_t>(j);
      if (s.given[k] || s.fixed[k]) continue;
      start[k] = e.params[k];
      if (e.hold[k]) held[k] = true;
    }
    g.note = e.note;
  }
  g.fit = fit_model(*s.model, s.n, data, start, held, s.options);
  return g;
}

void print_text(const FitSetup &s, const GroupResult &g, const std::string &source) {
  const FitResult &r = g.fit;
  std::printf("model            %s (%s), %d parameters", s.model->name.c_str(), s.model->family.c_str(), s.n);
  if (s.model->terms) std::printf(", %d term%s", s.model->term_count(s.n), s.model->term_count(s.n) > 1 ? "s" : "");
  std::printf("\ndata             %s, %d points\n", source.c_str(), r.points);
  if (!g.note.empty()) std::printf("note             %s\n", g.note.c_str());
  std::printf("%-16s %-22s %s\n", "parameter", "value", "std. error");
  for (size_t j = 0; j < r.params.size(); ++j)
    std::printf("%-16s %-22s %s\n", r.names[j].c_str(), fmt(r.params[j], 12).c_str(),
                r.held[j] ? "(held)" : fmt(r.errors[j], 6).c_str());
  std::printf("reduced chi^2    %s\n", fmt(r.chi2_reduced, 8).c_str());
  std::printf("R^2              %s\n", fmt(r.r2, 10).c_str());
  std::printf("sum of squares   %s\n", fmt(r.ssr, 12).c_str());
  std::printf("points           %d (%d free parameters)\n", r.points, r.free);
  std::printf("evaluations      %d of the model", r.nfev);
  if (r.njev > 0) std::printf(", %d of its Jacobian", r.njev);
  std::printf("\nstopped          %s (info %d)\n", r.stop.c_str(), r.info);
  std::printf("status           %s", r.converged ? "converged" : ("NOT CONVERGED: " + r.status).c_str());
  if (!r.converged && r.verdict != r.stop) std::printf(" -- %s", r.verdict.c_str());
  std::printf("\n");
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
  o << ", \"parameters\": [";
  for (size_t j = 0; j < r.params.size(); ++j)
    o << (j ? ", " : "") << "{\"name\": " << json_str(r.names[j]) << ", \"value\": "
      << json_num(r.params[j]) << ", \"stderr\": " << json_num(r.errors[j])
      << ", \"held\": " << (r.held[j] ? "true" : "false") << "}";
  o << "], \"chi2_reduced\": " << json_num(r.chi2_reduced) << ", \"r2\": " << json_num(r.r2)
    << ", \"ssr\": " << json_num(r.ssr) << ", \"points\": " << r.points
    << ", \"free\": " << r.free << ", \"evaluations\": " << r.nfev
    << ", \"jacobians\": " << r.njev << ", \"info\": " << r.info
    << ", \"converged\": " << (r.converged ? "true" : "false")
    << ", \"status\": " << json_str(r.status) << ", \"stop\": " << json_str(r.stop);
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
    in.x.push_back(data.x[i][1]);
    in.y.push_back(data.y[i]);
    in.residual.push_back(model_value(m, s.n, p.data(), data.x[i].data(), y.data()) ? data.y[i] - y[1] : 0.0);
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
    in.x1.push_back(data.x[i][1]);
    in.x2.push_back(data.x[i][2]);
    in.fitted.push_back(model_value(*s.model, s.n, p.data(), data.x[i].data(), y.data()) ? y[1] : NAN);
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
                         const std::map<std::string, Data> &groups, const std::string &path,
                         const std::string &title, const std::vector<std::string> &xnames, const std::string &ylabel) {
  std::vector<SurfaceGroup> rows;
  for (const GroupResult &g : results) {
    SurfaceGroup row;
    row.label = g.group;
    if (!g.fit.ok) row.error = g.fit.error.empty() ? "the fit did not run" : g.fit.error;
    else if (!g.fit.converged) row.status = g.fit.status;
    if (g.fit.ok && rows.size() < kMaxSurfaceGroups) row.data = surface_of(s, g.fit, groups.at(g.group), "", xnames, ylabel);
    rows.push_back(std::move(row));
  }
  std::string err;
  if (!write_surface_groups_svg(path, title, rows, err)) fail(err);
}

// One panel per group: its data and fitted curve, or why it has none.
void plot_groups(const FitSetup &s, const std::vector<GroupResult> &results,
                 const std::map<std::string, Data> &groups, const std::string &path, const std::string &title,
                 const std::string &xlabel, const std::string &ylabel) {
  GroupsPlotInput in{title, xlabel, ylabel, {}};
  for (const GroupResult &g : results) {
    GroupPanel panel;
    panel.label = g.group;
    if (!g.fit.ok) panel.error = g.fit.error.empty() ? "the fit did not run" : g.fit.error;
    else if (!g.fit.converged) panel.status = g.fit.status;
    // Only the groups drawn carry their data; the rest are named as omitted.
    static const Data none;
    const Data &data = in.groups.size() < kMaxPanels ? groups.at(g.group) : none;
    for (size_t i = 0; i < data.size(); ++i) {
      panel.x.push_back(data.x[i][1]);
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

struct FitArgs {
  std::string model, file, y, weights, group, plot, na = "refuse";
  std::vector<std::string> x, init, fix;
  long long peaks = 0;
  bool peaks_given = false, json = false;
  long long max_evaluations = 0;
  double timeout = 0;
};

// Refuses a plot file that cannot be written before any work is done.
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

int cmd_fit(const FitArgs &a) {
  FitSetup s;
  s.model = &require_model(a.model);
  const ModelInfo &m = *s.model;
  if (m.placeholder()) fail(m.name + " is a placeholder model: it computes nothing to fit");
  if (a.peaks_given) {
    if (!m.terms) fail(m.name + " has a fixed number of parameters; --peaks is for multi-peak models");
    if (a.peaks < 1) fail("--peaks must be at least 1 (got " + std::to_string(a.peaks) + ")");
    // The contract counts parameters in an int16_t: refused before anything is sized by it.
    const long long most = m.per_term > 0 ? (INT16_MAX - m.shared) / m.per_term : 0;
    if (a.peaks > most)
      fail("--peaks " + std::to_string(a.peaks) + ": " + m.name + " takes at most " +
           std::to_string(most) + " terms (" + std::to_string(INT16_MAX) + " parameters)");
    s.n = m.count_for(static_cast<int>(a.peaks));
  } else {
    s.n = m.default_count();
  }
  if (s.n <= 0) fail(m.name + ": unknown parameter count");
  s.names = m.names_for(s.n);
  s.init.assign(static_cast<size_t>(s.n), 0.0);
  s.fixed_values.assign(static_cast<size_t>(s.n), 0.0);
  s.given.assign(static_cast<size_t>(s.n), false);
  s.fixed.assign(static_cast<size_t>(s.n), false);
  const std::string expected = "the parameters are " + std::to_string(s.n) + ": " + join(s.names);
  assign(split_list(a.init, "--init", expected), s.names, true, "--init", s.init, s.given);
  assign(split_list(a.fix, "--fix", expected), s.names, false, "--fix", s.fixed_values, s.fixed);
  if (a.max_evaluations < 0) fail("--max-evaluations must be at least 1");
  if (!(a.timeout >= 0) || !std::isfinite(a.timeout)) fail("--timeout must be a positive number of seconds");
  s.options.max_evaluations = static_cast<long>(std::min<long long>(a.max_evaluations, 1LL << 40));
  s.options.timeout = a.timeout;
  if (!a.plot.empty()) check_writable(a.plot);

  Table t;
  std::string err;
  if (!read_table(a.file, t, err)) fail(err);
  const int ni = std::max(1, m.nIndep);
  if (!a.x.empty() && static_cast<int>(a.x.size()) != ni)
    fail(m.name + " reads " + std::to_string(ni) + " independent variable(s); give --x " +
         std::to_string(ni) + " time(s)");
  std::vector<int> xc;
  std::vector<std::string> xnames;
  for (int k = 0; k < ni; ++k) {
    const int c = find_column(t, a.x.empty() ? std::to_string(k + 1) : a.x[static_cast<size_t>(k)], err);
    if (c < 0) fail(err);
    xc.push_back(c);
    xnames.push_back(t.header[static_cast<size_t>(c)]);
  }
  const int yc = find_column(t, a.y.empty() ? std::to_string(ni + 1) : a.y, err);
  if (yc < 0) fail(err);
  for (int k = 0; k < ni; ++k) {
    if (xc[static_cast<size_t>(k)] == yc)
      fail("column \"" + t.header[static_cast<size_t>(yc)] + "\" given as both x and y");
    for (int j = 0; j < k; ++j)
      if (xc[static_cast<size_t>(j)] == xc[static_cast<size_t>(k)])
        fail("column \"" + xnames[static_cast<size_t>(k)] + "\" given twice as x");
  }
  const bool skip = a.na == "skip";
  std::vector<std::vector<double>> xv(static_cast<size_t>(ni));
  std::vector<double> yv, wv;
  for (int k = 0; k < ni; ++k)
    if (!numeric_column(t, xc[static_cast<size_t>(k)], xv[static_cast<size_t>(k)], err, skip)) fail(err);
  if (!numeric_column(t, yc, yv, err, skip)) fail(err);
  if (!a.weights.empty()) {
    const int wc = find_column(t, a.weights, err);
    if (wc < 0 || !numeric_column(t, wc, wv, err, skip)) fail(err);
    for (size_t i = 0; i < wv.size(); ++i)
      if (!(wv[i] > 0) && !std::isnan(wv[i]))
        fail(t.path + ":" + std::to_string(t.lines[i]) + ": weight (1/sigma) must be positive");
  }
  int gc = -1;
  if (!a.group.empty() && (gc = find_column(t, a.group, err)) < 0) fail(err);

  // Rows per group, in the order groups first appear; with --na skip, rows with a missing cell
  // in a column used are left out.
  std::vector<std::string> order;
  std::map<std::string, Data> groups;
  size_t skipped = 0;
  for (size_t i = 0; i < t.row_count(); ++i) {
    bool missing = std::isnan(yv[i]) || (!wv.empty() && std::isnan(wv[i]));
    for (int k = 0; k < ni; ++k) missing = missing || std::isnan(xv[static_cast<size_t>(k)][i]);
    if (missing) {
      ++skipped;
      continue;
    }
    const std::string key = gc >= 0 ? std::string(t.cell(i, static_cast<size_t>(gc))) : "";
    auto it = groups.find(key);
    if (it == groups.end()) {
      order.push_back(key);
      it = groups.emplace(key, Data{}).first;
    }
    std::array<double, 4> x{0, 0, 0, 0};
    for (int k = 0; k < ni; ++k) x[static_cast<size_t>(k) + 1] = xv[static_cast<size_t>(k)][i];
    it->second.x.push_back(x);
    it->second.y.push_back(yv[i]);
    if (!wv.empty()) it->second.w.push_back(wv[i]);
  }
  std::string source = t.path + ": x = " + join(xnames) + ", y = " + t.header[static_cast<size_t>(yc)];
  if (skipped > 0) source += ", " + std::to_string(skipped) + " rows with missing cells left out";

  if (gc < 0) {
    const Data &data = groups[""];
    if (data.size() < 1) fail(t.path + ": no data rows");
    s.options.progress = isatty(2) != 0;
    GroupResult g = run_one(s, data, "");
    if (!g.fit.ok) fail(g.fit.error);
    if (a.json)
      std::printf("%s\n", json_of(s, g, false).c_str());
    else
      print_text(s, g, source);
    if (!a.plot.empty()) {
      if (ni > 2) fail("--plot draws models of one or two independent variables");
      if (ni == 2)
        plot_surface(s, g.fit, data, a.plot, m.name + " fit to " + t.path, xnames, t.header[static_cast<size_t>(yc)]);
      else
        plot_fit(s, g.fit, data, a.plot, m.name + " fit to " + t.path, xnames[0], t.header[static_cast<size_t>(yc)]);
      if (!a.json) std::printf("plot             %s\n", a.plot.c_str());
    }
    return g.fit.converged ? 0 : 1;
  }

  if (!a.plot.empty() && ni > 2) fail("--plot draws models of one or two independent variables");
  // Many curves: the groups spread over all cores, results printed in group order.
  std::vector<GroupResult> results(order.size());
  std::atomic<size_t> next{0}, done{0};
  std::mutex progress;
  const bool tty = isatty(2);
  const unsigned workers = std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(),
                                                           static_cast<unsigned>(order.size())));
  auto work = [&]() {
    for (size_t i; (i = next++) < order.size();) {
      try {
        results[i] = run_one(s, groups.at(order[i]), order[i]);
      } catch (const std::bad_alloc &) {  // one group too big: it fails, the others go on
        results[i] = GroupResult{order[i], FitResult{}, ""};
        results[i].fit.error = "out of memory";
      }
      const size_t d = ++done;
      if (tty) {
        std::lock_guard<std::mutex> lock(progress);
        std::fprintf(stderr, "\rfitting %s: %zu of %zu groups", m.name.c_str(), d, order.size());
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned w = 0; w < workers; ++w) pool.emplace_back(work);
  for (std::thread &th : pool) th.join();
  if (tty) std::fprintf(stderr, "\n");
  int failures = 0;
  if (a.json) std::printf("[\n");
  else {
    std::printf("group");
    for (const std::string &nm : s.names) std::printf("\t%s\t%s_err", nm.c_str(), nm.c_str());
    std::printf("\tchi2_reduced\tR2\tpoints\tevaluations\tstop\n");
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
    std::printf("\t%s\t%s\t%d\t%d\t%s\n", fmt(g.fit.chi2_reduced, 6).c_str(), fmt(g.fit.r2, 6).c_str(),
                g.fit.points, g.fit.nfev, g.fit.converged ? "converged" : g.fit.verdict.c_str());
  }
  if (a.json) std::printf("]\n");
  if (!a.plot.empty() && ni == 2)
    plot_surface_groups(s, results, groups, a.plot,
                        m.name + " fit to " + t.path + ", one row per " + t.header[static_cast<size_t>(gc)], xnames,
                        t.header[static_cast<size_t>(yc)]);
  else if (!a.plot.empty())
    plot_groups(s, results, groups, a.plot,
                m.name + " fit to " + t.path + ", one panel per " + t.header[static_cast<size_t>(gc)], xnames[0],
                t.header[static_cast<size_t>(yc)]);
  if (failures > 0)
    std::fprintf(stderr, "fitmodels: %d of %zu groups did not fit\n", failures, results.size());
  return failures == 0 ? 0 : 1;
}

// A first argument that is no command nor option: named, with the nearest command.
void check_command(int argc, char **argv) {
  if (argc < 2 || argv[1][0] == '-') return;
  const std::string given = argv[1];
  const char *commands[] = {"list", "eval", "check", "fit"};
  std::string best;
  size_t best_d = 3;
  for (const char *c : commands) {
    if (given == c) return;
    const std::string cs = c;
    std::vector<size_t> prev(cs.size() + 1), cur(cs.size() + 1);
    for (size_t j = 0; j <= cs.size(); ++j) prev[j] = j;
    for (size_t i = 1; i <= given.size(); ++i) {
      cur[0] = i;
      for (size_t j = 1; j <= cs.size(); ++j)
        cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (lower(given.substr(i - 1, 1)) != cs.substr(j - 1, 1))});
      std::swap(prev, cur);
    }
    if (prev[cs.size()] < best_d) best_d = prev[cs.size()], best = cs;
  }
  fail("unknown command \"" + given + "\"" + (best.empty() ? " (commands: list, eval, check, fit)" : " (did you mean " + best + "?)"));
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
  fit->add_option("--timeout", fa.timeout, "stop a fit after SECONDS (it reports its best point)");

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
