// FuncTest end to end through a fake host: a callback that serves columns and evaluates tokens,
// and a HostWindow that records the messages it receives.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fitmodels.h"
#include "support/row_list.h"

namespace {

// ---- the fake host -------------------------------------------------------------------------

struct Column {
  std::string name;
  std::map<int32_t, double> cells;  // readable cells
  uint64_t begin = 0, end = 0;      // the range reported for the column
};

struct Mark {
  int64_t handle;
  uint64_t begin, end;
};

struct FakeHost {
  std::vector<Column> columns;  // handle = index + 1
  std::vector<std::string> column_requests;
  std::vector<std::string> tokens;
  std::vector<Mark> marks;
  int writes = 0;

  int64_t add_column(const std::string &name) {
    columns.push_back(Column{name, {}, 0, 0});
    return static_cast<int64_t>(columns.size());
  }
  Column &column(int64_t handle) { return columns.at(static_cast<std::size_t>(handle - 1)); }
  Column *find(const std::string &name) {
    for (auto &c : columns)
      if (c.name == name) return &c;
    return nullptr;
  }
  bool written(const std::string &name, int32_t row) const {
    for (const auto &c : written_cells)
      if (c.first == name && c.second.first == row) return true;
    return false;
  }
  double value(const std::string &name, int32_t row) const {
    for (const auto &c : written_cells)
      if (c.first == name && c.second.first == row) return c.second.second;
    return NAN;
  }
  std::vector<std::pair<std::string, std::pair<int32_t, double>>> written_cells;
};

FakeHost *host = nullptr;

int64_t fake_callback(int64_t zero, int32_t code, intptr_t argument, void *out) {
  EXPECT_EQ(zero, 0);
  switch (code) {
    case FUNCTEST_CB_COLUMN: {
      const std::string name = reinterpret_cast<const char *>(argument);
      host->column_requests.push_back(name);
      for (std::size_t i = 0; i < host->columns.size(); ++i) {
        if (host->columns[i].name != name) continue;
        if (out != nullptr) {
          auto *range = static_cast<FuncTestRange *>(out);
          range->begin = host->columns[i].begin;
          range->end = host->columns[i].end;
        }
        return static_cast<int64_t>(i + 1);
      }
      return 0;
    }
    case FUNCTEST_CB_EVALUATE: {
      const char *token = reinterpret_cast<const char *>(argument);
      host->tokens.push_back(token);
      char *end = nullptr;
      const double v = std::strtod(token, &end);
      if (end == token || *end != '\0') return 1;
      *static_cast<double *>(out) = v;
      return 0;
    }
    case FUNCTEST_CB_READ_CELL: {
      auto *cell = static_cast<FuncTestCell *>(out);
      if (argument <= 0 || static_cast<std::size_t>(argument) > host->columns.size()) return 1;
      const Column &c = host->column(argument);
      const auto it = c.cells.find(cell->row);
      if (it == c.cells.end()) return 1;
      cell->value = it->second;
      return 0;
    }
    case FUNCTEST_CB_WRITE_CELL: {
      const auto *cell = static_cast<const FuncTestCell *>(out);
      ++host->writes;
      const std::string name = argument > 0 && static_cast<std::size_t>(argument) <= host->columns.size()
                                   ? host->column(argument).name
                                   : "<unbound>";
      host->written_cells.push_back({name, {cell->row, cell->value}});
      return 0;
    }
    case FUNCTEST_CB_MARK_UPDATED: {
      const auto *range = static_cast<const FuncTestRange *>(out);
      host->marks.push_back({static_cast<int64_t>(argument), range->begin, range->end});
      return 0;
    }
    default:
      ADD_FAILURE() << "unexpected callback code " << code;
      return 1;
  }
}

// ---- the recording window -------------------------------------------------------------------

struct Message {
  uint32_t message;
  uintptr_t wParam;
  std::string text;
};
std::vector<Message> messages;

intptr_t record_message(HostWindow *, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  messages.push_back({message, wParam, reinterpret_cast<const char *>(lParam)});
  return 0;
}

HostWindow window{record_message};

intptr_t name_arg(const char *s) { return reinterpret_cast<intptr_t>(s); }

// The names of the built registry rows, in table order.
std::vector<std::string> row_names() {
  std::vector<std::string> names;
  for (const auto &row : present_rows())
    if (row.row >= 0) names.push_back(row.name);
  return names;
}

int row_params(const std::string &name) {
  for (const auto &row : present_rows())
    if (row.row >= 0 && row.name == name) return row.nParams;
  return -1;
}

// ---- fixture: x column "x" with rows 0..4 (row 2 unreadable), y column "y", result columns ----

class TestHook : public ::testing::Test {
 protected:
  FakeHost fake;
  void SetUp() override {
    host = &fake;
    messages.clear();
    const int64_t xh = fake.add_column("x");
    Column &xc = fake.column(xh);
    xc.begin = 0;
    xc.end = 5;
    xc.cells = {{0, 0.5}, {1, 1.0}, {3, 2.0}, {4, 3.5}};
    fake.add_column("y");
    for (char c = 'c'; c <= 'v'; ++c) fake.add_column(std::string("data1_") + c);
  }
  void TearDown() override { host = nullptr; }

  void bind_all() {
    ASSERT_EQ(FuncTest(&window, nullptr, "x", name_arg("x"), fake_callback, FUNCTEST_CMD_BIND), 1);
    ASSERT_EQ(FuncTest(&window, nullptr, "y", name_arg("y"), fake_callback, FUNCTEST_CMD_BIND), 1);
    ASSERT_EQ(FuncTest(&window, "deriv", nullptr, 0, fake_callback, FUNCTEST_CMD_RUN), 1);
    fake.column_requests.clear();
    fake.marks.clear();
    fake.written_cells.clear();
    fake.writes = 0;
  }
  int64_t run(const char *model, const char *params) {
    return FuncTest(&window, model, params, 0, fake_callback, FUNCTEST_CMD_RUN);
  }
  static std::string result(int c) { return std::string("data1_") + static_cast<char>('c' + c); }
  int64_t handle(const std::string &name) {
    for (std::size_t i = 0; i < fake.columns.size(); ++i)
      if (fake.columns[i].name == name) return static_cast<int64_t>(i + 1);
    return 0;
  }
};

// ---- listing ----------------------------------------------------------------------------------

TEST_F(TestHook, ListSendsOneMessagePerRowInTableOrder) {
  const std::vector<std::string> names = row_names();
  for (const char *text : {"list", "LIST", "List"}) {
    messages.clear();
    EXPECT_EQ(FuncTest(&window, nullptr, text, 0, nullptr, FUNCTEST_CMD_LIST), 1) << text;
    ASSERT_EQ(messages.size(), names.size()) << text;
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(messages[i].message, static_cast<uint32_t>(FUNCTEST_MSG_TYPE));
      EXPECT_EQ(messages[i].wParam, 0u);
      EXPECT_EQ(messages[i].text, "type " + names[i]);
    }
  }
  // With the whole table built the listing runs from Shah (row 0) to ModDiode (row 275).
  if (names.size() == 276) {
    EXPECT_EQ(messages.front().text, "type Shah");
    EXPECT_EQ(messages.back().text, "type ModDiode");
  }
}

TEST_F(TestHook, OtherTextOfTheListCommandIsANameLikeCommand17) {
  EXPECT_EQ(FuncTest(&window, nullptr, "lists", 0, fake_callback, FUNCTEST_CMD_LIST), 0);
  EXPECT_TRUE(messages.empty());
  // "deriv" under command 18 binds the result columns, as under command 17.
  EXPECT_EQ(FuncTest(&window, nullptr, "deriv", 0, fake_callback, FUNCTEST_CMD_LIST), 1);
  EXPECT_EQ(fake.column_requests.size(), 20u);
}

TEST_F(TestHook, ListingWithoutAWindowFails) {
  EXPECT_EQ(FuncTest(nullptr, nullptr, "list", 0, fake_callback, FUNCTEST_CMD_LIST), 0);
  HostWindow mute{nullptr};
  EXPECT_EQ(FuncTest(&mute, nullptr, "list", 0, fake_callback, FUNCTEST_CMD_LIST), 0);
}

// ---- bindings ---------------------------------------------------------------------------------

TEST_F(TestHook, BindsXWithItsRangeAndY) {
  EXPECT_EQ(FuncTest(&window, nullptr, "x", name_arg("x"), fake_callback, FUNCTEST_CMD_BIND), 1);
  EXPECT_EQ(FuncTest(&window, nullptr, "y", name_arg("y"), fake_callback, FUNCTEST_CMD_BIND), 1);
  EXPECT_EQ(fake.column_requests, (std::vector<std::string>{"x", "y"}));
  // Columns the host does not have, and names other than x and y, fail.
  EXPECT_EQ(FuncTest(&window, nullptr, "x", name_arg("nosuch"), fake_callback, FUNCTEST_CMD_BIND), 0);
  EXPECT_EQ(FuncTest(&window, nullptr, "y", name_arg("nosuch"), fake_callback, FUNCTEST_CMD_BIND), 0);
  EXPECT_EQ(FuncTest(&window, nullptr, "z", name_arg("x"), fake_callback, FUNCTEST_CMD_BIND), 0);
  EXPECT_EQ(FuncTest(&window, nullptr, nullptr, name_arg("x"), fake_callback, FUNCTEST_CMD_BIND), 0);
  EXPECT_EQ(FuncTest(&window, nullptr, "x", name_arg("x"), nullptr, FUNCTEST_CMD_BIND), 0);
}

TEST_F(TestHook, DerivBindsTheTwentyResultColumns) {
  EXPECT_EQ(FuncTest(&window, nullptr, "deriv", 0, fake_callback, 17), 1);
  std::vector<std::string> expected;
  for (char c = 'c'; c <= 'v'; ++c) expected.push_back(std::string("data1_") + c);
  EXPECT_EQ(fake.column_requests, expected);
}

TEST_F(TestHook, CommandsWithoutANameFail) {
  EXPECT_EQ(FuncTest(&window, "CompInhib", "deriv", 0, fake_callback, 1), 0);
  EXPECT_EQ(FuncTest(&window, "deriv", "deriv", 0, fake_callback, 21), 0);
  EXPECT_TRUE(fake.column_requests.empty());
}

// ---- a run ------------------------------------------------------------------------------------

TEST_F(TestHook, RunOfAFourParameterModel) {
  ASSERT_EQ(row_params("CompInhib"), 4);
  bind_all();
  ASSERT_EQ(run("CompInhib", "3.0, 1.5 0.8,0.5"), 1);
  EXPECT_EQ(fake.tokens, (std::vector<std::string>{"3.0", "1.5", "0.8", "0.5"}));

  const ModelFunction f = get_funx("CompInhib");
  const double p[] = {0.0, 3.0, 1.5, 0.8, 0.5};
  for (int32_t r = 0; r < 5; ++r) {
    const auto it = fake.columns[0].cells.find(r);
    if (it == fake.columns[0].cells.end()) {  // unreadable: skipped everywhere
      for (const auto &c : fake.written_cells) EXPECT_NE(c.second.first, r) << c.first;
      continue;
    }
    double x[4] = {0.0, it->second, 0.0, 0.0}, y[4] = {}, d[6] = {};
    ASSERT_EQ(f(REQ_DERIV, nullptr, 4, 0, 0, p, 0, x, y, d), 0);
    EXPECT_EQ(fake.value("y", r), y[1]) << r;
    for (int j = 1; j <= 4; ++j) {
      EXPECT_EQ(fake.value(result(j - 1), r), d[j]) << "analytic " << j << " row " << r;
      const double numeric = fake.value(result(4 + j), r);
      EXPECT_NEAR(numeric, d[j], 1e-6 * (std::fabs(d[j]) + 1.0)) << "numeric " << j << " row " << r;
    }
    EXPECT_EQ(fake.value(result(4), r), y[1]) << "second-pass value, row " << r;
    for (int c = 9; c < 20; ++c) EXPECT_FALSE(fake.written(result(c), r)) << result(c);
  }

  // Marked: the y column and columns 0-3 after the first pass, columns 4-9 after the second.
  std::vector<int64_t> expected{handle("y")};
  for (int c = 0; c <= 3; ++c) expected.push_back(handle(result(c)));
  for (int c = 4; c <= 9; ++c) expected.push_back(handle(result(c)));
  ASSERT_EQ(fake.marks.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(fake.marks[i].handle, expected[i]) << i;
    EXPECT_EQ(fake.marks[i].begin, 0u);
    EXPECT_EQ(fake.marks[i].end, 5u);
  }
}

TEST_F(TestHook, NumericDerivativesOfAMissingValueAreMissing) {
  bind_all();
  // Vmax = 0 is refused by the model: every value is MISSING_VALUE, and so are the numeric
  // derivatives; the analytic slots the model did not write read as missing, not stale.
  ASSERT_EQ(run("CompInhib", "0,1.5,0.8,0.5"), 1);
  EXPECT_EQ(fake.value("y", 0), MISSING_VALUE);
  for (int c = 0; c <= 8; ++c) EXPECT_EQ(fake.value(result(c), 0), MISSING_VALUE) << c;
}

TEST_F(TestHook, EmptyParameterTextRunsWithZeros) {
  bind_all();
  ASSERT_EQ(run("Bingham", ""), 1);
  EXPECT_TRUE(fake.tokens.empty());
  EXPECT_EQ(fake.value("y", 1), 0.0);  // 0 + 0*x
  EXPECT_EQ(fake.value(result(1), 1), 1.0);  // d2 = x
  ASSERT_EQ(run("Bingham", nullptr), 1);
}

TEST_F(TestHook, ModelNamesIgnoreLetterCase) {
  bind_all();
  EXPECT_EQ(run("bingHAM", "1,2"), 1);
  EXPECT_EQ(fake.value("y", 3), 5.0);  // 1 + 2*2
}

// ExpAssoc fails when it finds errno set after its exponentials: with the caller's stale ERANGE
// the hook's calls must still start from 0, and give the values of a clean call at every row.
TEST_F(TestHook, EachModelCallStartsWithErrnoCleared) {
  bind_all();
  const ModelFunction f = get_funx("ExpAssoc");
  const double p[] = {0.0, 0.5, 2.0, 1.0, 1.0, 1.0};
  errno = ERANGE;
  ASSERT_EQ(run("ExpAssoc", "0.5,2,1,1,1"), 1);
  for (const auto &cell : fake.columns[0].cells) {
    double x[4] = {0.0, cell.second, 0.0, 0.0}, y[4] = {}, d[7] = {};
    errno = 0;
    ASSERT_EQ(f(REQ_DERIV, nullptr, 5, 0, 0, p, 0, x, y, d), 0);
    EXPECT_EQ(fake.value("y", cell.first), y[1]) << "row " << cell.first;
    EXPECT_EQ(fake.value(result(5), cell.first), y[1]) << "second pass, row " << cell.first;
  }
}

// ---- refusals ---------------------------------------------------------------------------------

TEST_F(TestHook, UnknownModelsAndBadTokensAreRefused) {
  bind_all();
  EXPECT_EQ(run("NoSuchModel", "1,2"), 0);
  EXPECT_EQ(run("Boltzman1", "1,2,3"), 0);  // an export name, not a table name
  // A token the host cannot evaluate stops the run before anything is written.
  EXPECT_EQ(run("Bingham", "1,abc"), 0);
  // A character outside letters, digits, '_', '-', '.', blanks and commas is refused rather
  // than dropping the rest of the list.
  EXPECT_EQ(run("Bingham", "1;2"), 0);
  EXPECT_EQ(run("Bingham", "1,2+3"), 0);
  EXPECT_EQ(fake.writes, 0);
  EXPECT_TRUE(fake.marks.empty());
  EXPECT_EQ(FuncTest(&window, "Bingham", "1,2", 0, nullptr, FUNCTEST_CMD_RUN), 0);
}

TEST_F(TestHook, TokensLongerThanTheBufferAreRefused) {
  bind_all();
  const std::string fits = "1." + std::string(FUNCTEST_MAX_TOKEN - 2, '0');  // 31 characters
  EXPECT_EQ(run("Bingham", (fits + ",2").c_str()), 1);
  EXPECT_EQ(fake.tokens.front(), fits);
  fake.tokens.clear();
  const std::string too_long = fits + "0";  // 32 characters
  EXPECT_EQ(run("Bingham", (too_long + ",2").c_str()), 0);
  EXPECT_EQ(run("Bingham", ("2," + too_long).c_str()), 0);
  for (const auto &t : fake.tokens) EXPECT_LE(t.size(), static_cast<std::size_t>(FUNCTEST_MAX_TOKEN));
}

TEST_F(TestHook, OverLongParameterListsAreRefused) {
  bind_all();
  std::string list = "1";
  for (int k = 2; k <= FUNCTEST_MAX_PARAMS; ++k) list += ",1";
  EXPECT_EQ(run("Bingham", list.c_str()), 1);
  fake.written_cells.clear();
  fake.writes = 0;
  EXPECT_EQ(run("Bingham", (list + ",1").c_str()), 0);
  EXPECT_EQ(fake.writes, 0);
}

TEST_F(TestHook, ModelsNeedingMoreThanTwentyResultColumnsAreRefused) {
  bind_all();
  for (const auto &row : present_rows()) {
    if (row.row < 0 || 2 * row.nParams + 2 <= FUNCTEST_RESULT_COLUMNS) continue;
    EXPECT_EQ(run(row.name.c_str(), "1"), 0) << row.name;
  }
  EXPECT_EQ(fake.writes, 0);
}

// Every runnable model of the table stays inside the hook's storage (the sanitizer build reads
// this as a check for out-of-bounds access), and every run marks 2n + 2 result columns.
TEST_F(TestHook, EveryModelOfTheTableRunsInsideTheStorage) {
  bind_all();
  for (const auto &row : present_rows()) {
    if (row.row < 0 || row.nParams > FUNCTEST_MAX_MODEL_PARAMS) continue;
    std::string list;
    for (int k = 1; k <= row.nParams; ++k) list += (k > 1 ? "," : "") + std::to_string(0.3 + 0.1 * k);
    fake.marks.clear();
    EXPECT_EQ(run(row.name.c_str(), list.c_str()), 1) << row.name;
    EXPECT_EQ(fake.marks.size(), static_cast<std::size_t>(1 + row.nParams + row.nParams + 2))
        << row.name;
  }
}

}  // namespace
