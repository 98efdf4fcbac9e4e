// The development test hook FuncTest: lists the registry into a host window, binds host data
// columns, and runs a model over a row range, writing its value, analytic derivatives and
// forward-difference derivatives back through the host callback.
//
// The hook is the library's one stateful part: the column bindings and the row range persist
// between calls (library-wide, one caller at a time). Its working storage is sized so that every
// model of the table can be run without reading or writing outside it; what does not fit is
// refused (return 0), never truncated.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fitmodels.h"
#include "frame/registry.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// ---- platform layer: window messages, formatting, character classes ----------------------

#if defined(_WIN32)

bool window_usable(FuncTestWindow window) { return window != nullptr; }

intptr_t send_window_message(FuncTestWindow window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam) {
  return static_cast<intptr_t>(
      SendMessageW(static_cast<HWND>(window), message, static_cast<WPARAM>(wParam),
                   static_cast<LPARAM>(lParam)));
}

// wsprintfA writes at most 1024 characters.
constexpr std::size_t kMessageBuffer = 1024;

void format_type_message(char (&out)[kMessageBuffer], const char *name) {
  wsprintfA(out, "type %s", name);
}

bool is_alphanumeric(char c) {
  return IsCharAlphaNumericW(static_cast<WCHAR>(static_cast<unsigned char>(c))) != FALSE;
}

#else

bool window_usable(FuncTestWindow window) {
  return window != nullptr && window->send_message != nullptr;
}

intptr_t send_window_message(FuncTestWindow window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam) {
  return window->send_message(window, message, wParam, lParam);
}

constexpr std::size_t kMessageBuffer = 1024;

void format_type_message(char (&out)[kMessageBuffer], const char *name) {
  std::snprintf(out, sizeof out, "type %s", name);
}

// ASCII letters and digits, independent of the locale.
bool is_alphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

#endif

// ---- state kept between calls ---------------------------------------------------------------

struct Bindings {
  int64_t x_column = 0;
  int64_t y_column = 0;
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t current_row = 0;
  int64_t result_columns[FUNCTEST_RESULT_COLUMNS] = {};
};

Bindings bindings;

// ---- the parameter tokenizer ---------------------------------------------------------------

enum class Token { kEnd, kToken, kRefused };

bool token_char(char c) { return is_alphanumeric(c) || c == '_' || c == '-' || c == '.'; }

// Reads the token at *pos into buf. A token is a run of letters, digits, '_', '-' and '.'; a
// blank or comma ends it (and the blanks and commas after it are skipped), the end of the text
// ends it too. A null or empty remainder ends the list. A token longer than the buffer holds,
// or one stopped by any other character, is refused: the parameter list is malformed.
Token next_token(const char *&pos, char (&buf)[FUNCTEST_MAX_TOKEN + 1]) {
  buf[0] = '\0';
  if (pos == nullptr || *pos == '\0') return Token::kEnd;
  std::size_t n = 0;
  const char *p = pos;
  while (token_char(*p)) {
    if (n == FUNCTEST_MAX_TOKEN) return Token::kRefused;
    buf[n++] = *p++;
  }
  buf[n] = '\0';
  if (*p == ' ' || *p == ',') {
    while (*p == ' ' || *p == ',') ++p;
  } else if (*p != '\0') {
    return Token::kRefused;
  }
  pos = p;
  return Token::kToken;
}

// ---- host access ------------------------------------------------------------------------------

int64_t call_host(HostCallback callback, int32_t code, intptr_t argument, void *out) {
  return callback(0, code, argument, out);
}

bool read_x(HostCallback callback, uint64_t row, double &value) {
  FuncTestCell cell{static_cast<int32_t>(row), 0, 0.0};
  if (call_host(callback, FUNCTEST_CB_READ_CELL, static_cast<intptr_t>(bindings.x_column),
                &cell) != 0)
    return false;
  value = cell.value;
  return true;
}

void write_cell(HostCallback callback, int64_t column, uint64_t row, double value) {
  FuncTestCell cell{static_cast<int32_t>(row), 0, value};
  call_host(callback, FUNCTEST_CB_WRITE_CELL, static_cast<intptr_t>(column), &cell);
}

void mark_updated(HostCallback callback, int64_t column) {
  FuncTestRange range{bindings.begin, bindings.end};
  call_host(callback, FUNCTEST_CB_MARK_UPDATED, static_cast<intptr_t>(column), &range);
}

// ---- commands ----------------------------------------------------------------------------------

int64_t list_table(FuncTestWindow window) {
  if (!window_usable(window)) return 0;
  char text[kMessageBuffer];
  for (std::size_t i = 0; i < function_table_size; ++i) {
    format_type_message(text, function_table[i].name);
    send_window_message(window, FUNCTEST_MSG_TYPE, 0, reinterpret_cast<intptr_t>(text));
  }
  return 1;
}

int64_t bind_x_or_y(const char *name, intptr_t source, HostCallback callback) {
  if (name == nullptr) return 0;
  if (fm::same_name(name, "x")) {
    FuncTestRange range{0, 0};
    bindings.x_column = call_host(callback, FUNCTEST_CB_COLUMN, source, &range);
    if (bindings.x_column == 0) return 0;
    bindings.begin = range.begin;
    bindings.end = range.end;
    return 1;
  }
  if (fm::same_name(name, "y")) {
    bindings.y_column = call_host(callback, FUNCTEST_CB_COLUMN, source, nullptr);
    return bindings.y_column != 0 ? 1 : 0;
  }
  return 0;
}

// Result column i - 1 is "data1_" followed by the letter of code 98 + i: c .. v.
int64_t bind_result_columns(HostCallback callback) {
  for (int i = 1; i <= FUNCTEST_RESULT_COLUMNS; ++i) {
    char name[8] = "data1_";
    name[6] = static_cast<char>(98 + i);
    name[7] = '\0';
    bindings.result_columns[i - 1] =
        call_host(callback, FUNCTEST_CB_COLUMN, reinterpret_cast<intptr_t>(name), nullptr);
  }
  return 1;
}

// Working storage of one run. Every slot a model may read or write with the parameter count
// the hook passes (at most FUNCTEST_MAX_MODEL_PARAMS) lies inside it: three independent
// variables, one output per term besides y[1], and parameters read beyond the row's count by
// the expected-value forms.
struct Storage {
  double params[FUNCTEST_MAX_PARAMS + 1] = {};
  double x[4] = {};
  double y[FUNCTEST_OUTPUT_SLOTS + 1] = {};
  double deriv[FUNCTEST_OUTPUT_SLOTS + 1] = {};
  double numeric[FUNCTEST_MAX_MODEL_PARAMS + 1] = {};
};

// Slots the model does not write read as missing, never as values of an earlier row.
void preset_outputs(Storage &s) {
  for (double &v : s.y) v = MISSING_VALUE;
  for (double &v : s.deriv) v = MISSING_VALUE;
}

// Models report overflow through errno and never clear it on entry, so each call starts from 0,
// as a host's does: neither the caller's errno nor a failure at an earlier row reaches a model.
int32_t call_model(ModelFunction f, int32_t request, void *context, int n, Storage &s) {
  preset_outputs(s);
  errno = 0;
  return f(request, context, static_cast<int16_t>(n), 0, 0, s.params, 0, s.x, s.y, s.deriv);
}

int64_t run_model(const char *name, const char *text, HostCallback callback) {
  const FunctionEntry *row = fm::find_row(name);
  if (row == nullptr) return 0;
  const ModelFunction f = row->function;
  const int n = row->nParams;
  if (n < 0 || n > FUNCTEST_MAX_MODEL_PARAMS) return 0;

  Storage s;
  const char *pos = text;
  char token[FUNCTEST_MAX_TOKEN + 1];
  for (int k = 1;; ++k) {
    const Token t = next_token(pos, token);
    if (t == Token::kEnd) break;
    if (t == Token::kRefused || k > FUNCTEST_MAX_PARAMS) return 0;
    double value = 0.0;
    if (call_host(callback, FUNCTEST_CB_EVALUATE, reinterpret_cast<intptr_t>(token), &value) != 0)
      return 0;
    s.params[k] = value;
  }

  void *const context = reinterpret_cast<void *>(callback);

  // First pass: value with analytic derivatives.
  for (bindings.current_row = bindings.begin; bindings.current_row < bindings.end;
       ++bindings.current_row) {
    const uint64_t r = bindings.current_row;
    if (!read_x(callback, r, s.x[1])) continue;
    call_model(f, REQ_DERIV, context, n, s);
    write_cell(callback, bindings.y_column, r, s.y[1]);
    for (int j = 1; j <= n; ++j) write_cell(callback, bindings.result_columns[j - 1], r, s.deriv[j]);
  }
  mark_updated(callback, bindings.y_column);
  for (int c = 0; c < n; ++c) mark_updated(callback, bindings.result_columns[c]);

  // Second pass: value, and forward differences with step 1e-8 in each parameter.
  for (bindings.current_row = bindings.begin; bindings.current_row < bindings.end;
       ++bindings.current_row) {
    const uint64_t r = bindings.current_row;
    if (!read_x(callback, r, s.x[1])) continue;
    call_model(f, REQ_VALUE, nullptr, n, s);
    const double y0 = s.y[1];
    write_cell(callback, bindings.result_columns[n], r, y0);
    for (int j = 1; j <= n; ++j) {
      const double saved = s.params[j];
      s.params[j] = saved + 1e-8;
      call_model(f, REQ_VALUE, nullptr, n, s);
      const double y1 = s.y[1];
      s.numeric[j] = (y0 == MISSING_VALUE || y1 == MISSING_VALUE) ? MISSING_VALUE
                                                                  : (y1 - y0) / 1e-8;
      s.params[j] = saved;
    }
    for (int j = 1; j <= n; ++j)
      write_cell(callback, bindings.result_columns[n + j], r, s.numeric[j]);
  }
  for (int c = n; c <= 2 * n + 1; ++c) mark_updated(callback, bindings.result_columns[c]);
  return 1;
}

}  // namespace

// FuncTest(window, name2, text, source, callback, command): 1 on success, 0 on failure. The
// name worked on is text for commands 17 to 20 and name2 for 3073; other commands have none.
//   18 with "list" (any case): one FUNCTEST_MSG_TYPE message "type <name>" per registry row.
//   19: bind "x" (column and row range) or "y"; any other name fails.
//   "deriv": bind the twenty result columns.
//   a table name: run the model over the bound rows (see fitmodels.h).
// Names are compared without regard to ASCII letter case. A null window or callback, where one
// is needed, fails.
extern "C" FITMODELS_API int64_t FuncTest(FuncTestWindow window, const char *name2,
                                          const char *text, intptr_t source,
                                          HostCallback callback, uint16_t command) {
  const char *name = nullptr;
  if (command >= 17 && command <= 20) name = text;
  else if (command == FUNCTEST_CMD_RUN) name = name2;

  if (command == FUNCTEST_CMD_LIST && text != nullptr && fm::same_name(text, "list"))
    return list_table(window);
  if (callback == nullptr) return 0;
  if (command == FUNCTEST_CMD_BIND) return bind_x_or_y(name, source, callback);
  if (name == nullptr) return 0;
  if (fm::same_name(name, "deriv")) return bind_result_columns(callback);
  return run_model(name, text, callback);
}
