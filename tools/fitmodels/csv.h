// Reading a data file: comma-, semicolon- or tab-separated columns, an optional header line,
// '#' comment lines and blank lines skipped. Errors name the file and the line.
#ifndef FITMODELS_TOOL_CSV_H
#define FITMODELS_TOOL_CSV_H

#include <string>
#include <vector>

namespace fmtool {

struct Table {
  std::string path;
  std::vector<std::string> header;  // column names ("1", "2", .. without a header line)
  std::vector<std::string> cells;   // row after row, header.size() cells each
  std::vector<int> lines;           // file line of each row

  size_t row_count() const { return lines.size(); }
  const std::string &cell(size_t row, size_t column) const {
    return cells[row * header.size() + column];
  }
};

bool parse_number(const std::string &text, double &out);
bool read_table(const std::string &path, Table &table, std::string &error);
// A column by header name or by 1-based position; -1 (and the error) when there is none.
int find_column(const Table &table, const std::string &which, std::string &error);
bool numeric_column(const Table &table, int column, std::vector<double> &out, std::string &error);

}  // namespace fmtool

#endif
