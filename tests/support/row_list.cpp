#include "support/row_list.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

std::vector<RowListEntry> read_row_list(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<RowListEntry> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) f.push_back(field);
    if (f.size() != 9) throw std::runtime_error("bad row list line: " + line);
    RowListEntry e;
    const auto num = [](const std::string &s) { return s == "-" ? -1 : std::stoi(s); };
    e.row = num(f[0]);
    e.name = f[1] == "-" ? "" : f[1];
    e.nIndep = num(f[2]);
    e.nDep = num(f[3]);
    e.nParams = num(f[4]);
    e.exportName = f[5] == "-" ? "" : f[5];
    e.ordinal = num(f[6]);
    e.symbol = f[7];
    e.unit = f[8];
    out.push_back(e);
  }
  return out;
}

const std::vector<RowListEntry> &all_rows() {
  static const std::vector<RowListEntry> rows = read_row_list(FITMODELS_ROW_LIST);
  return rows;
}

const std::vector<RowListEntry> &present_rows() {
  static const std::vector<RowListEntry> rows = read_row_list(FITMODELS_PRESENT_LIST);
  return rows;
}
