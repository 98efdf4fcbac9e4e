/*
 * A host program of the installed library, in plain C99 (built with -std=c99 -Wall -Wextra
 * -Werror -pedantic, so the public headers must be clean C). It looks a model up with Get_Func
 * and calls it, calls another bound by its exported name, and, given a file of points, evaluates
 * each listed model bound by its exported name (on Windows by its ordinal too) and prints every
 * output with 17 significant digits, so that the outputs of two builds can be compared. The
 * test hook FuncTest lists the table into a window: on Windows a real one, through SendMessageW.
 *
 *   consumer [POINTS]
 *
 * A line of POINTS: table-name export-name ordinal x p1 .. pn, "-" where a model has no table
 * name or no export, x as x1 or x1,x2[,x3]. Per line it prints
 *   table-name export-name  rc errno y[1..4] | rc errno deriv[1..n]
 * for a value request and a derivative request. Exit status 0 when every check holds.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fitmodels.h"
#include "fitmodels_catalog.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#if defined(FITMODELS_CONSUMER_FIT)
int consumer_run_one_fit(void); /* fit.c: one fit through the fitting library; 0 when it holds */
#endif

static int failures = 0;

static void check(int ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

/* ---- binding by exported name (and ordinal) --------------------------------------------- */

#if defined(_WIN32)
static HMODULE library;

static ModelFunction as_model(FARPROC p) {
  ModelFunction f;
  memcpy(&f, &p, sizeof f);
  return f;
}

/* Bound by name and by ordinal; both must give the same function. */
static ModelFunction bind_export(const char *name, int ordinal) {
  ModelFunction by_name = as_model(GetProcAddress(library, name));
  ModelFunction by_ordinal = as_model(GetProcAddress(library, MAKEINTRESOURCEA(ordinal)));
  if (by_name == NULL || by_name != by_ordinal) {
    fprintf(stderr, "consumer: %s and ordinal %d bind different functions\n", name, ordinal);
    ++failures;
    return NULL;
  }
  return by_ordinal;
}

static int open_library(void) {
  library = GetModuleHandleA("fitmodels.dll");
  return library != NULL;
}
#else
static void *library;

static ModelFunction bind_export(const char *name, int ordinal) {
  ModelFunction f;
  void *p = dlsym(library, name);
  (void)ordinal; /* ordinals exist only in the Windows DLL */
  memcpy(&f, &p, sizeof f);
  return f;
}

static int open_library(void) {
  library = dlopen(NULL, RTLD_NOW); /* the program and the libraries it is linked with */
  return library != NULL;
}
#endif

/* ---- the two calls every host makes ------------------------------------------------------ */

static void lookup_and_call(void) {
  int16_t nIndep = 0, nDep = 0, nParams = 0, reserved = -1;
  /* baseline 0.5, centre 2, width 1.5, area 3, at the centre */
  double p[5] = {0, 0.5, 2.0, 1.5, 3.0}, x[2] = {0, 2.0}, y[3] = {0}, d[5] = {0};
  const double height = 0.5 + 3.0 / (1.5 * 1.2533141373155003); /* sqrt(pi/2) */
  ModelFunction gauss = Get_Func("gauss", &nIndep, &nDep, &nParams, &reserved);
  check(gauss != NULL && nIndep == 1 && nDep == 1 && nParams == 4 && reserved == 0,
        "Get_Func(\"gauss\") does not find Gauss with counts 1, 1, 4");
  if (gauss == NULL) return;
  check(gauss(REQ_DERIV, NULL, nParams, 0, 0, p, 0, x, y, d) == 0, "Gauss fails at its centre");
  check(y[1] - height < 1e-12 && height - y[1] < 1e-12, "Gauss has the wrong height");
  check(d[1] == 1.0 && d[2] == 0.0, "Gauss has the wrong derivatives at its centre");
}

static void call_by_exported_name(void) {
  /* Boltzman1 has no table row: y = p2 + (p1 - p2) / (1 + 10^(p3 - x)), 3 at x = p3 */
  double p[4] = {0, 5.0, 1.0, 0.25}, x[2] = {0, 0.25}, y[2] = {0}, d[4] = {0};
  check(Boltzman1(REQ_VALUE, NULL, 3, 0, 0, p, 0, x, y, d) == 0 && y[1] == 3.0,
        "Boltzman1 is not 3 at its midpoint");
  check(get_funx("Boltzman1") == NULL, "get_funx finds Boltzman1, which has no table row");
  check(get_funx("LINE") == bind_export("Polynomial1", 307),
        "get_funx(\"LINE\") is not the export Polynomial1");
}

/* ---- the test hook's listing ------------------------------------------------------------- */

static int listed = 0;
static char first_listed[64], last_listed[64];

static void take_listing(const char *text) {
  if (listed++ == 0) snprintf(first_listed, sizeof first_listed, "%s", text);
  snprintf(last_listed, sizeof last_listed, "%s", text);
}

#if defined(_WIN32)
static LRESULT CALLBACK listing_window(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != FUNCTEST_MSG_TYPE) return DefWindowProcA(window, message, wParam, lParam);
  take_listing((const char *)lParam);
  return 0;
}

static int64_t list_table(void) {
  typedef int64_t (*FuncTestFunction)(FuncTestWindow, const char *, const char *, intptr_t,
                                      HostCallback, uint16_t);
  FuncTestFunction hook;
  FARPROC p = GetProcAddress(library, MAKEINTRESOURCEA(5));
  WNDCLASSA c;
  HWND window;
  memcpy(&hook, &p, sizeof hook);
  memset(&c, 0, sizeof c);
  c.lpfnWndProc = listing_window;
  c.hInstance = GetModuleHandleA(NULL);
  c.lpszClassName = "fitmodels listing";
  if (hook == NULL || !RegisterClassA(&c)) return 0;
  /* A message-only window: no display needed. */
  window = CreateWindowExA(0, c.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                           c.hInstance, NULL);
  return window == NULL ? 0 : hook(window, NULL, "LIST", 0, NULL, FUNCTEST_CMD_LIST);
}
#else
static intptr_t listing_window(HostWindow *self, uint32_t message, uintptr_t wParam,
                               intptr_t lParam) {
  (void)self;
  (void)wParam;
  if (message == FUNCTEST_MSG_TYPE) take_listing((const char *)lParam);
  return 0;
}

static int64_t list_table(void) {
  HostWindow window;
  window.send_message = listing_window;
  return FuncTest(&window, NULL, "LIST", 0, NULL, FUNCTEST_CMD_LIST);
}
#endif

static void list_into_window(void) {
  check(list_table() == 1 && listed == 276 && strcmp(first_listed, "type Shah") == 0 &&
            strcmp(last_listed, "type ModDiode") == 0,
        "FuncTest does not list the 276 rows from Shah to ModDiode");
}

/* ---- a file of points -------------------------------------------------------------------- */

enum { MAX_PARAMS = 64 };

static void print_call(ModelFunction f, int32_t request, int n, const double *p, const double *x,
                       int outputs) {
  double y[MAX_PARAMS + 1], d[MAX_PARAMS + 1];
  const double *shown = request == REQ_VALUE ? y : d;
  int i, rc;
  for (i = 0; i <= MAX_PARAMS; ++i) y[i] = d[i] = 0.0;
  errno = 0;
  rc = f(request, NULL, (int16_t)n, 0, 0, p, 0, x, y, d);
  printf(" %d %d", rc, errno);
  for (i = 1; i <= outputs; ++i) printf(" %.17g", shown[i]);
}

static int evaluate_points(const char *path) {
  char line[4096];
  int lines = 0;
  FILE *in = fopen(path, "r");
  if (in == NULL) {
    fprintf(stderr, "consumer: cannot read %s\n", path);
    return 0;
  }
  while (fgets(line, sizeof line, in) != NULL) {
    char name[128], export_name[128], xs[256], *rest, *end;
    int ordinal = 0, used = 0, n = 0, k;
    double p[MAX_PARAMS + 1] = {0}, x[4] = {0};
    ModelFunction f = NULL;
    if (line[0] == '#' || sscanf(line, "%127s %127s %d %255s%n", name, export_name, &ordinal, xs,
                                 &used) != 4)
      continue;
    for (rest = line + used; n < MAX_PARAMS; rest = end) {
      const double v = strtod(rest, &end);
      if (end == rest) break;
      p[++n] = v;
    }
    for (k = 1, rest = xs; k <= 3; ++k) {
      x[k] = strtod(rest, &end);
      if (*end != ',') break;
      rest = end + 1;
    }
    if (strcmp(export_name, "-") != 0) {
      f = bind_export(export_name, ordinal);
      /* The lookup and the export are the same function. */
      if (f != NULL && strcmp(name, "-") != 0 && get_funx(name) != f) {
        fprintf(stderr, "consumer: get_funx(\"%s\") is not %s\n", name, export_name);
        ++failures;
      }
    } else {
      f = get_funx(name);
    }
    if (f == NULL) {
      fprintf(stderr, "consumer: %s (%s) is not there\n", name, export_name);
      ++failures;
      continue;
    }
    printf("%s %s", name, export_name);
    print_call(f, REQ_VALUE, n, p, x, 4);
    printf(" |");
    print_call(f, REQ_DERIV, n, p, x, n);
    printf("\n");
    ++lines;
  }
  fclose(in);
  return lines;
}

int main(int argc, char **argv) {
  check(open_library(), "the library is not loaded");
  lookup_and_call();
  call_by_exported_name();
  list_into_window();
#if defined(FITMODELS_CONSUMER_FIT)
  check(consumer_run_one_fit() == 0, "the fit does not reach the parameters of its data");
#endif
  if (argc > 1) check(evaluate_points(argv[1]) > 0, "no points evaluated");
  return failures == 0 ? 0 : 1;
}
