#include "support/model_info.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/model_call.h"
#include "support/row_list.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> split(const std::string &line, char sep) {
  std::vector<std::string> f;
  std::stringstream ss(line);
  std::string field;
  while (std::getline(ss, field, sep)) f.push_back(field);
  return f;
}

std::vector<fs::path> tsv_files(const fs::path &dir) {
  std::vector<fs::path> files;
  if (!fs::exists(dir)) return files;
  for (const auto &e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file() && e.path().extension() == ".tsv") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

int to_int(const std::string &s, const std::string &where) {
  try {
    std::size_t used = 0;
    const int v = std::stoi(s, &used);
    if (used == s.size()) return v;
  } catch (const std::exception &) {
  }
  throw std::runtime_error(where + ": not an integer: " + s);
}

std::map<std::string, ModelInfo> read_infos() {
  std::map<std::string, ModelInfo> out;
  const fs::path root = FITMODELS_MODEL_INFO;
  for (const auto &file : tsv_files(root)) {
    std::ifstream in(file);
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
      ++lineno;
      if (line.empty() || line[0] == '#') continue;
      const std::string where = fs::relative(file, root).string() + ":" + std::to_string(lineno);
      const auto f = split(line, '\t');
      if (f.size() < 7) throw std::runtime_error(where + ": expected 9 tab-separated columns");
      ModelInfo m;
      m.name = f[0];
      m.where = where;
      m.shape = f[1];
      if (!m.shape.empty() && m.shape.back() == '!') {
        m.success_resets_errno = true;
        m.shape.pop_back();
      }
      if (m.shape != "V" && m.shape != "E" && m.shape != "O0" && m.shape != "O1" &&
          m.shape != "OM" && m.shape != "P" && m.shape != "T")
        throw std::runtime_error(where + ": unknown shape " + m.shape);
      m.reserved = to_int(f[2], where);
      m.neither = f[3];
      if (m.neither != "*") to_int(m.neither, where);
      m.query = f[4];
      if (m.query != "-" && m.query != "none" && m.query != "mask" && m.query != "nostore")
        throw std::runtime_error(where + ": unknown query answer " + m.query);
      m.least = f[5] == "-" ? -1 : to_int(f[5], where);
      std::string layout = f[6];
      if (layout.size() > 2 && layout.compare(layout.size() - 2, 2, ":y") == 0) {
        m.term_outputs = true;
        layout.resize(layout.size() - 2);
      }
      const auto plus = layout.find('+');
      if (plus != std::string::npos && !layout.empty() && layout.back() == 'k') {
        m.shared = to_int(layout.substr(0, plus), where);
        m.block = to_int(layout.substr(plus + 1, layout.size() - plus - 2), where);
        if (m.block < 1) throw std::runtime_error(where + ": bad layout " + f[6]);
      } else {
        m.fixed = to_int(layout, where);
      }
      if (f.size() > 7) m.params = f[7];
      if (f.size() > 8) m.formula = f[8];
      if (!out.emplace(m.name, m).second)
        throw std::runtime_error(where + ": second line for " + m.name);
    }
  }
  return out;
}

std::vector<GenericPoint> read_points() {
  std::vector<GenericPoint> points;
  const fs::path root = FITMODELS_DERIVATIVE_POINTS;
  for (const auto &file : tsv_files(root)) {
    std::ifstream in(file);
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
      ++lineno;
      if (line.empty() || line[0] == '#') continue;
      std::istringstream ss(line);
      GenericPoint pt;
      pt.where = file.filename().string() + ":" + std::to_string(lineno);
      std::string xs;
      if (!(ss >> pt.model >> xs)) continue;
      const auto xv = parse_list(xs);
      for (std::size_t i = 0; i < xv.size() && i < 3; ++i) pt.x[i + 1] = xv[i];
      double v;
      while (ss >> v) pt.p.push_back(v);
      points.push_back(pt);
    }
  }
  return points;
}

}  // namespace

std::vector<double> parse_list(const std::string &s) {
  std::vector<double> out;
  if (s == "-") return out;
  for (const auto &t : split(s, ',')) out.push_back(std::stod(t));
  return out;
}

const std::map<std::string, ModelInfo> &model_infos() {
  static const std::map<std::string, ModelInfo> all = read_infos();
  return all;
}

const std::vector<GenericPoint> &generic_points() {
  static const std::vector<GenericPoint> all = read_points();
  return all;
}

const GenericPoint *first_point(const std::string &model) {
  for (const auto &pt : generic_points())
    if (pt.model == model) return &pt;
  return nullptr;
}

std::vector<std::string> registered_models() {
  std::vector<std::string> names;
  for (const auto &row : present_rows()) {
    if (row.unit.rfind("frame/", 0) == 0) continue;  // lookups and the test hook
    const std::string name = row.row >= 0 ? row.name : row.symbol;
    if (row.row < 0 && find_model(name) == nullptr) continue;
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}
