#include "csv.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <unordered_map>

namespace fmtool {
namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && blank(s[a])) ++a;
  while (b > a && blank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// One line at a time from a file or standard input, in blocks. A line holding a NUL byte, or
// longer than kMaxLineBytes, is reported rather than read on; a longer comment line is skipped.
class LineReader {
 public:
  enum Result { kLine, kEnd, kTooLong, kNul, kFailed };
  explicit LineReader(FILE *f) : f_(f), block_(new char[kBlock]) {}

  Result next(std::string &line) {
    line.clear();
    bool comment = false, any = false;
    while (true) {
      if (pos_ == len_) {
        if (done_) return any ? kLine : kEnd;
        len_ = std::fread(block_.get(), 1, kBlock, f_);
        pos_ = 0;
        if (len_ < kBlock) {
          if (std::ferror(f_)) return kFailed;
          done_ = true;
        }
        continue;
      }
      any = true;
      const char *start = block_.get() + pos_;
      const size_t avail = len_ - pos_;
      const char *nl = static_cast<const char *>(std::memchr(start, '\n', avail));
      const size_t take = nl ? static_cast<size_t>(nl - start) : avail;
      pos_ += take + (nl ? 1 : 0);
      if (!comment) {
        if (std::memchr(start, '\0', take) != nullptr) return kNul;
        if (line.size() + take > kMaxLineBytes) {
          const std::string_view head = trim(line.size() > 0 ? std::string_view(line)
                                                             : std::string_view(start, take));
          if (head.empty() || head[0] != '#') return kTooLong;
          comment = true;  // keep its beginning only: it is skipped
          if (line.empty()) line.assign(start, std::min<size_t>(take, 1));
        } else {
          line.append(start, take);
        }
      }
      if (nl) return kLine;
    }
  }

 private:
  static constexpr size_t kBlock = size_t{1} << 16;
  FILE *f_;
  std::unique_ptr<char[]> block_;
  size_t pos_ = 0, len_ = 0;
  bool done_ = false;
};

// The separator of the first line: the first of ',', ';', tab found outside double quotes.
char detect_separator(std::string_view line) {
  bool quoted = false;
  for (const char want : {',', ';', '\t'})
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      else if (c == want && !quoted) return want;
    }
  return ',';
}

// Splits a line into cells appended to text (their ends to ends); a cell in double quotes may
// hold the separator, and "" inside it stands for one quote. Returns the number of cells.
size_t split_cells(std::string_view line, char sep, std::string &text, std::vector<size_t> &ends) {
  if (line.find('"') == std::string_view::npos) {
    // No quotes (the common case): cells are the spans between separators, trimmed.
    size_t count = 0, i = 0;
    while (true) {
      const size_t j = line.find(sep, i);
      const std::string_view cell = trim(line.substr(i, j == std::string_view::npos ? std::string_view::npos : j - i));
      text.append(cell.data(), cell.size());
      ends.push_back(text.size());
      ++count;
      if (j == std::string_view::npos) return count;
      i = j + 1;
    }
  }
  size_t count = 0, i = 0;
  while (true) {
    size_t j = i;
    std::string cell;
    bool quoted = false;
    for (; j < line.size(); ++j) {
      const char c = line[j];
      if (c == '"') {
        if (quoted && j + 1 < line.size() && line[j + 1] == '"') {
          cell += '"';
          ++j;
        } else {
          quoted = !quoted;
        }
      } else if (c == sep && !quoted) {
        break;
      } else {
        cell += c;
      }
    }
    text += trim(cell);
    ends.push_back(text.size());
    ++count;
    if (j >= line.size()) break;
    i = j + 1;
  }
  return count;
}

bool whole_double(std::string_view text, double &out) {
  if (text.empty()) return false;
  // strtod wants a terminated string: a short cell is copied to the stack, not the heap.
  char small[64];
  std::string big;
  const char *s;
  if (text.size() < sizeof small) {
    std::memcpy(small, text.data(), text.size());
    small[text.size()] = '\0';
    s = small;
  } else {
    big.assign(text);
    s = big.c_str();
  }
  char *end = nullptr;
  errno = 0;
  out = std::strtod(s, &end);
  return end == s + text.size() && !blank(s[0]) && s[0] != '\n';
}

std::string lowered(std::string_view s) {
  std::string o(s);
  for (char &c : o)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return o;
}

// Long lists of column names: the first few and a count of the rest.
std::string some_names(const std::vector<std::string> &names) {
  const size_t shown = 8;
  std::string out;
  for (size_t i = 0; i < names.size() && i < shown; ++i) out += (i ? ", " : "") + names[i];
  if (names.size() > shown) out += " and " + std::to_string(names.size() - shown) + " more";
  return out;
}

}  // namespace

bool parse_number(std::string_view text, double &out) {
  return whole_double(text, out) && std::isfinite(out);
}

std::string number_problem(std::string_view text) {
  double v;
  if (!whole_double(text, v)) return "is not a number";
  if (std::isnan(v)) return "is not a number (NaN)";
  if (!std::isfinite(v))
    return lowered(text).find("inf") != std::string::npos ? "is not finite"
                                                           : "is beyond the range of a double";
  return "";
}

bool missing_cell(std::string_view text) {
  const std::string l = lowered(text);
  return l.empty() || l == "na" || l == "n/a" || l == "nan";
}

namespace {

// Reads the file line by line: the header (given names or numbers) into table.header, then
// each data row's cells to on_row (cells' texts one after another, their ends, the file line);
// on_header runs once the header is known. Either returns false (with error) to stop.
bool scan(const std::string &path, Table &table, std::string &error,
          const std::function<bool()> &on_header,
          const std::function<bool(const std::string &, const std::vector<size_t> &, size_t)> &on_row) {
  const bool from_stdin = path == "-";
  FILE *f = from_stdin ? stdin : std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = "cannot read \"" + path + "\"";
    return false;
  }
  struct Closer {
    FILE *f;
    bool close;
    ~Closer() {
      if (close) std::fclose(f);
    }
  } closer{f, !from_stdin};
  table = Table{};
  table.path = from_stdin ? "standard input" : path;
  LineReader reader(f);
  std::string line, text;
  std::vector<size_t> ends;
  size_t lineno = 0, width = 0;
  char sep = 0;
  const auto where = [&]() { return table.path + ":" + std::to_string(lineno) + ": "; };
  while (true) {
    const LineReader::Result r = reader.next(line);
    if (r == LineReader::kEnd) break;
    ++lineno;
    if (r == LineReader::kFailed) {
      error = "cannot read \"" + path + "\"" + (lineno > 1 ? " (read error at line " + std::to_string(lineno) + ")" : "");
      return false;
    }
    if (r == LineReader::kNul) {
      error = where() + "a NUL byte: not a text file";
      return false;
    }
    if (r == LineReader::kTooLong) {
      error = where() + "line longer than " + std::to_string(kMaxLineBytes) +
              " bytes (the longest line read)";
      return false;
    }
    std::string_view view(line);
    if (lineno == 1 && view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);  // UTF-8 BOM
    const std::string_view t = trim(view);
    if (t.empty() || t[0] == '#') continue;
    text.clear();
    ends.clear();
    if (sep == 0) {
      sep = detect_separator(view);
      width = split_cells(view, sep, text, ends);
      // A header is a first row with a cell that is neither a number (NaN and inf included) nor
      // empty nor NA: no row of numbers is ever taken for one.
      bool header = false;
      for (size_t k = 0; k < width; ++k) {
        const std::string_view c =
            std::string_view(text).substr(k ? ends[k - 1] : 0, ends[k] - (k ? ends[k - 1] : 0));
        double v;
        if (!whole_double(c, v) && !missing_cell(c)) header = true;
      }
      for (size_t k = 0; k < width; ++k)
        table.header.push_back(header ? text.substr(k ? ends[k - 1] : 0, ends[k] - (k ? ends[k - 1] : 0))
                                      : std::to_string(k + 1));
      if (on_header && !on_header()) return false;
      if (header) continue;
    } else {
      split_cells(view, sep, text, ends);
    }
    if (ends.size() != width) {
      error = where() + std::to_string(ends.size()) + " fields where the file has " +
              std::to_string(width) + " columns";
      return false;
    }
    if (!on_row(text, ends, lineno)) return false;
  }
  if (sep == 0) {
    error = table.path + ": no data";
    return false;
  }
  return true;
}

std::string cell_problem(const std::string &path, size_t line, const std::string &column,
                         std::string_view cell) {
  const std::string shown = cell.size() > 40 ? std::string(cell.substr(0, 40)) + "..." : std::string(cell);
  return path + ":" + std::to_string(line) + ": column \"" + column + "\": \"" + shown + "\" " +
         (missing_cell(cell) ? "is missing (--na skip leaves such rows out)" : number_problem(cell));
}

}  // namespace

bool read_table(const std::string &path, Table &table, std::string &error) {
  return scan(path, table, error, nullptr,
              [&](const std::string &text, const std::vector<size_t> &ends, size_t line) {
                table.text += text;
                const size_t base = table.ends.empty() ? 0 : table.ends.back();
                for (size_t e : ends) table.ends.push_back(base + e);
                table.lines.push_back(line);
                return true;
              });
}

bool read_columns(const std::string &path, const ColumnPicker &pick, Columns &out,
                  std::string &error) {
  {
    Columns fresh;
    fresh.skip_missing = out.skip_missing;
    fresh.positive = out.positive;
    fresh.positive_message = out.positive_message;
    out = std::move(fresh);
  }
  std::vector<int> numeric;
  int text_column = -1;
  std::unordered_map<std::string, uint32_t> keys;
  Table &t = out.table;
  const auto on_header = [&]() { return pick(t, numeric, text_column, error); };
  // A file's size over the bytes of its first rows foretells its row count: the columns are
  // sized once, not grown by doubling (which would hold up to three times the data).
  struct stat st;
  const double file_bytes = path != "-" && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
                                ? static_cast<double>(st.st_size) : 0.0;
  double sampled = 0;
  const auto on_row = [&](const std::string &text, const std::vector<size_t> &ends, size_t line) {
    if (out.values.empty()) out.values.resize(numeric.size());
    if (out.rows < 1024) {
      sampled += static_cast<double>(text.size() + ends.size());
      if (out.rows == 1023 && file_bytes > 0) {
        const double expected = file_bytes / (sampled / 1024) * 1.02 + 1024;
        if (expected < 4e9)
          for (std::vector<double> &v : out.values) v.reserve(static_cast<size_t>(expected));
      }
    }
    const auto cell = [&](int k) {
      const size_t b = k ? ends[static_cast<size_t>(k) - 1] : 0;
      return std::string_view(text).substr(b, ends[static_cast<size_t>(k)] - b);
    };
    for (size_t c = 0; c < numeric.size(); ++c) {
      const std::string_view v = cell(numeric[c]);
      double d;
      if (parse_number(v, d)) {
        if (static_cast<int>(c) == out.positive && !(d > 0)) {
          error = t.path + ":" + std::to_string(line) + ": " + out.positive_message;
          return false;
        }
      } else if (out.skip_missing && missing_cell(v)) {
        d = std::nan("");
      } else {
        error = cell_problem(t.path, line, t.header[static_cast<size_t>(numeric[c])], v);
        return false;
      }
      out.values[c].push_back(d);
    }
    if (text_column >= 0) {
      const std::string_view k = cell(text_column);
      auto it = keys.find(std::string(k));
      if (it == keys.end()) {
        it = keys.emplace(std::string(k), static_cast<uint32_t>(out.keys.size())).first;
        out.keys.emplace_back(k);
      }
      out.key_of.push_back(it->second);
    }
    ++out.rows;
    return true;
  };
  if (!scan(path, t, error, on_header, on_row)) return false;
  if (out.values.empty()) out.values.resize(numeric.size());
  return true;
}

int find_column(const Table &table, const std::string &which, std::string &error) {
  for (size_t i = 0; i < table.header.size(); ++i)
    if (table.header[i] == which) return static_cast<int>(i);
  char *end = nullptr;
  errno = 0;
  const long k = std::strtol(which.c_str(), &end, 10);
  if (!which.empty() && *end == '\0' && errno == 0 && k >= 1 &&
      k <= static_cast<long>(table.header.size()))
    return static_cast<int>(k - 1);
  error = table.path + ": no column \"" + which + "\" (" + std::to_string(table.header.size()) +
          " columns: " + some_names(table.header) + ")";
  return -1;
}

bool numeric_column(const Table &table, int column, std::vector<double> &out, std::string &error,
                    bool skip_missing) {
  out.clear();
  out.reserve(table.row_count());
  for (size_t r = 0; r < table.row_count(); ++r) {
    double v;
    const std::string_view cell = table.cell(r, static_cast<size_t>(column));
    if (parse_number(cell, v)) {
      out.push_back(v);
      continue;
    }
    if (skip_missing && missing_cell(cell)) {
      out.push_back(std::nan(""));
      continue;
    }
    const std::string shown = cell.size() > 40 ? std::string(cell.substr(0, 40)) + "..." : std::string(cell);
    error = table.path + ":" + std::to_string(table.lines[r]) + ": column \"" +
            table.header[static_cast<size_t>(column)] + "\": \"" + shown + "\" " +
            (missing_cell(cell) ? "is missing (--na skip leaves such rows out)" : number_problem(cell));
    return false;
  }
  return true;
}

}  // namespace fmtool
