#include "csv.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace fmtool {
namespace {

std::string trim(const std::string &s) {
  const auto a = s.find_first_not_of(" \t\r\"");
  if (a == std::string::npos) return "";
  const auto b = s.find_last_not_of(" \t\r\"");
  return s.substr(a, b - a + 1);
}

// Appends the fields of a line to out and returns how many there were.
size_t split_fields(const std::string &line, char sep, std::vector<std::string> &out) {
  size_t start = 0, count = 0;
  while (true) {
    const auto at = line.find(sep, start);
    out.push_back(trim(line.substr(start, at == std::string::npos ? std::string::npos : at - start)));
    ++count;
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return count;
}

}  // namespace

bool parse_number(const std::string &text, double &out) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && errno != ERANGE && std::isfinite(out);
}

bool read_table(const std::string &path, Table &table, std::string &error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read \"" + path + "\"";
    return false;
  }
  table = Table{};
  table.path = path;
  in.seekg(0, std::ios::end);
  const auto bytes = static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0));
  in.seekg(0, std::ios::beg);
  std::string line;
  int lineno = 0;
  char sep = 0;
  size_t width = 0;
  while (std::getline(in, line)) {
    ++lineno;
    const std::string t = trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (sep == 0) {
      sep = line.find(',') != std::string::npos   ? ','
            : line.find(';') != std::string::npos ? ';'
            : line.find('\t') != std::string::npos ? '\t'
                                                   : ',';
      std::vector<std::string> fields;
      width = split_fields(line, sep, fields);
      // Room for every row at once, estimated from the first line's length.
      const size_t rows = bytes / (line.size() + 1) + 16;
      table.cells.reserve(rows * width);
      table.lines.reserve(rows);
      bool header = false;
      double v;
      for (const std::string &f : fields)
        if (!parse_number(f, v)) header = true;
      if (header) {
        table.header = fields;
        continue;
      }
      for (size_t i = 1; i <= width; ++i) table.header.push_back(std::to_string(i));
    }
    const size_t count = split_fields(line, sep, table.cells);
    if (count != width) {
      error = path + ":" + std::to_string(lineno) + ": " + std::to_string(count) +
              " fields where the file has " + std::to_string(width) + " columns";
      return false;
    }
    table.lines.push_back(lineno);
  }
  if (sep == 0) {
    error = path + ": no data";
    return false;
  }
  return true;
}

int find_column(const Table &table, const std::string &which, std::string &error) {
  for (size_t i = 0; i < table.header.size(); ++i)
    if (table.header[i] == which) return static_cast<int>(i);
  char *end = nullptr;
  const long k = std::strtol(which.c_str(), &end, 10);
  if (!which.empty() && *end == '\0' && k >= 1 && k <= static_cast<long>(table.header.size()))
    return static_cast<int>(k - 1);
  std::string names;
  for (const std::string &h : table.header) names += (names.empty() ? "" : ", ") + h;
  error = table.path + ": no column \"" + which + "\" (columns: " + names + ")";
  return -1;
}

bool numeric_column(const Table &table, int column, std::vector<double> &out, std::string &error) {
  out.clear();
  out.reserve(table.row_count());
  for (size_t r = 0; r < table.row_count(); ++r) {
    double v;
    const std::string &cell = table.cell(r, static_cast<size_t>(column));
    if (!parse_number(cell, v)) {
      error = table.path + ":" + std::to_string(table.lines[r]) + ": column \"" +
              table.header[static_cast<size_t>(column)] + "\": \"" + cell + "\" is not a number";
      return false;
    }
    out.push_back(v);
  }
  return true;
}

}  // namespace fmtool
