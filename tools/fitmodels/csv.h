// Reading a data file: comma-, semicolon- or tab-separated columns, an optional header line,
// '#' comment lines and blank lines skipped, cells optionally in double quotes. The file is read
// as a stream, one bounded line at a time; "-" reads standard input. Errors name the file and
// the line.
#ifndef FITMODELS_TOOL_CSV_H
#define FITMODELS_TOOL_CSV_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fmtool {

// The longest line read (comment lines aside, which may be of any length).
constexpr size_t kMaxLineBytes = size_t{8} << 20;

struct Table {
  std::string path;                 // as named in messages ("standard input" for "-")
  std::vector<std::string> header;  // column names ("1", "2", .. without a header line)
  std::string text;                 // the cells' texts, one after another
  std::vector<size_t> ends;         // end of each cell in text, row after row
  std::vector<size_t> lines;        // file line of each row

  size_t row_count() const { return lines.size(); }
  std::string_view cell(size_t row, size_t column) const {
    const size_t k = row * header.size() + column;
    const size_t begin = k == 0 ? 0 : ends[k - 1];
    return std::string_view(text).substr(begin, ends[k] - begin);
  }
};

// A finite number written in full (subnormals and underflow to zero accepted).
bool parse_number(std::string_view text, double &out);
// Why text is not a finite number ("is not a number", "is not finite", ..); empty when it is.
std::string number_problem(std::string_view text);
// An empty cell, or NA / N/A / NaN in any letter case: what --na skip leaves out.
bool missing_cell(std::string_view text);

bool read_table(const std::string &path, Table &table, std::string &error);

// Some columns of a file, parsed while it is read (no cell texts kept): the numeric ones as
// doubles, one text column (a group key) as an index into the distinct keys in the order they
// first appear.
struct Columns {
  Table table;                             // path and header only
  std::vector<std::vector<double>> values; // per numeric column picked; NaN: a missing cell
  std::vector<uint32_t> key_of;            // per row, with a text column
  std::vector<std::string> keys;
  size_t rows = 0;
  // Set before reading: missing cells become NaN (else they are refused), and numeric column
  // `positive` (an index into the picked ones; -1: none) must hold positive numbers.
  bool skip_missing = false;
  int positive = -1;
  std::string positive_message;
};
// Given the header (in table), names the numeric columns to read and the text column (-1:
// none); false with error to refuse.
using ColumnPicker = std::function<bool(const Table &, std::vector<int> &, int &, std::string &)>;
bool read_columns(const std::string &path, const ColumnPicker &pick, Columns &out,
                  std::string &error);
// A column by header name or by 1-based position; -1 (and the error) when there is none.
int find_column(const Table &table, const std::string &which, std::string &error);
// The column's numbers; with skip, rows whose cell is missing_cell() get NaN instead of an error.
bool numeric_column(const Table &table, int column, std::vector<double> &out, std::string &error,
                    bool skip_missing = false);

}  // namespace fmtool

#endif
