// The edge-case tables: every row of tests/data/cases/*.tsv is one call of a model and
// everything it must leave behind (return code, errno, y and deriv slot by slot, and nothing
// written after the listed slots). The row format is described in README.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/model_call.h"
#include "support/tolerance.h"

namespace fs = std::filesystem;

namespace {

struct CaseRow {
  std::string where, line;
  std::string model;
  int32_t request = 0;
  int errno_in = kNeutralErrno;
  std::vector<double> x, p;
  int32_t rc = 0;
  std::string errno_out;
  std::vector<std::string> y, d;
};

std::vector<std::string> split_list(const std::string &s) {
  std::vector<std::string> out;
  if (s == "-") return out;
  std::stringstream ss(s);
  std::string t;
  while (std::getline(ss, t, ',')) out.push_back(t);
  return out;
}

// "a,b,c" as doubles; "-" is the empty list.
std::vector<double> parse_list(const std::string &s) {
  std::vector<double> out;
  for (const auto &t : split_list(s)) out.push_back(std::stod(t));
  return out;
}

std::vector<CaseRow> read_cases() {
  std::vector<CaseRow> rows;
  const fs::path root = FITMODELS_CASES;
  if (!fs::exists(root)) return rows;
  std::vector<fs::path> files;
  for (const auto &e : fs::directory_iterator(root))
    if (e.path().extension() == ".tsv") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto &file : files) {
    std::ifstream in(file);
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
      ++lineno;
      if (line.empty() || line[0] == '#') continue;
      CaseRow c;
      c.where = file.filename().string() + ":" + std::to_string(lineno);
      c.line = line;
      std::istringstream ss(line);
      std::string req, ein, xs, ps, rc, y, d;
      if (!(ss >> c.model >> req >> ein >> xs >> ps >> rc >> c.errno_out >> y >> d)) {
        c.model.clear();  // reported as malformed by the test
      } else {
        try {
          c.request = std::stoi(req);
          c.errno_in = std::stoi(ein);
          c.x = parse_list(xs);
          c.p = parse_list(ps);
          c.rc = std::stoi(rc);
        } catch (const std::exception &) {
          c.model.clear();
        }
        c.y = split_list(y);
        c.d = split_list(d);
      }
      rows.push_back(c);
    }
  }
  return rows;
}

const std::vector<CaseRow> &cases() {
  static const std::vector<CaseRow> all = read_cases();
  return all;
}

void PrintTo(const CaseRow &c, std::ostream *os) { *os << c.where; }

// Checks one slot against its expectation; returns an explanation on mismatch.
std::string check_slot(const std::string &want, double got) {
  const auto show = [](double v) {
    if (v == kUntouched) return std::string("untouched");
    if (v == MISSING_VALUE) return std::string("MISSING");
    std::ostringstream os;
    os.precision(17);
    os << v;
    return os.str();
  };
  if (want == "?") return "";
  if (want == "_") return got == kUntouched ? "" : "expected untouched, got " + show(got);
  if (want == "M") return got == MISSING_VALUE ? "" : "expected MISSING, got " + show(got);
  if (got == kUntouched) return "expected " + want + ", slot untouched";
  if (want == "*") return got != MISSING_VALUE ? "" : "expected a value, got MISSING";
  if (want[0] == '=') {
    const double e = std::stod(want.substr(1));
    return same_bits(got, e) ? "" : "expected exactly " + want.substr(1) + ", got " + show(got);
  }
  double e, tol;
  const auto pm = want.find("\xC2\xB1");  // '±' in UTF-8
  if (pm != std::string::npos) {
    e = std::stod(want.substr(0, pm));
    tol = std::stod(want.substr(pm + 2));
  } else {
    e = std::stod(want);
    tol = kCaseTolerance * std::fabs(e);
  }
  if (std::isnan(e)) return std::isnan(got) ? "" : "expected NaN, got " + show(got);
  if (std::isinf(e)) return got == e ? "" : "expected " + want + ", got " + show(got);
  return std::fabs(got - e) <= tol ? "" : "expected " + want + ", got " + show(got);
}

class CaseTable : public ::testing::TestWithParam<CaseRow> {};

TEST_P(CaseTable, CallLeavesWhatTheRowStates) {
  const CaseRow &c = GetParam();
  ASSERT_FALSE(c.model.empty()) << c.where << ": malformed row: " << c.line;
  ASSERT_NE(find_model(c.model), nullptr) << c.where << ": no model " << c.model;
  std::array<double, 3> x{};
  for (std::size_t i = 0; i < c.x.size() && i < 3; ++i) x[i] = c.x[i];
  const Outcome r =
      Call(c.model).params(c.p).x(x[0], x[1], x[2]).errno_in(c.errno_in).run(c.request);
  EXPECT_EQ(r.rc, c.rc) << c.where;
  if (c.errno_out != "*") EXPECT_EQ(r.err, std::stoi(c.errno_out)) << c.where << ": errno";
  for (std::size_t i = 0; i + 1 < kSlots; ++i) {
    const std::string wy = i < c.y.size() ? c.y[i] : "_";
    const std::string wd = i < c.d.size() ? c.d[i] : "_";
    const std::string ey = check_slot(wy, r.y[i + 1]), ed = check_slot(wd, r.d[i + 1]);
    EXPECT_TRUE(ey.empty()) << c.where << ": y[" << i + 1 << "] " << ey;
    EXPECT_TRUE(ed.empty()) << c.where << ": deriv[" << i + 1 << "] " << ed;
  }
}

std::string case_name(const ::testing::TestParamInfo<CaseRow> &info) {
  std::string s = info.param.where;
  for (auto &ch : s)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(Rows, CaseTable, ::testing::ValuesIn(cases()), case_name);

}  // namespace
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CaseTable);
