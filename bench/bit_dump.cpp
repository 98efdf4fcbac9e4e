// bit_dump: evaluates every registered model at every generic point of its catalogue entry and
// at a family of perturbed points, under requests 1, 2, 4, 6 and 8 and several preset errno values, and
// prints every output slot it wrote as a hex float with the return code and the errno left
// behind. Two dumps taken before and after a change to the frame or a model are compared with
// diff: an empty diff means no result bit and no errno effect changed.
//
//   bit_dump > dump.txt
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fitmodels_catalog.h"
#include "frame/registry.h"

namespace {

struct Point {
  std::vector<double> x;  // x[1..]
  std::vector<double> p;  // p[1..]
};

constexpr int kSlots = 96;
// A pattern no model writes: slots still holding it were not written.
constexpr uint64_t kUntouched = 0x7ff4dead5eed1234ull;

double untouched() {
  double d;
  std::memcpy(&d, &kUntouched, sizeof d);
  return d;
}

bool is_untouched(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u == kUntouched;
}

// The generic points of a model: its nIndep inputs and its parameters.
std::vector<Point> points_of(const fm_model_info &m) {
  std::vector<Point> out;
  for (int k = 0; k < m.point_count; ++k) {
    const fm_point &c = m.points[k];
    Point pt;
    pt.x.assign(c.x + 1, c.x + 1 + m.nIndep);
    pt.p.assign(c.params + 1, c.params + 1 + c.nparams);
    out.push_back(pt);
  }
  return out;
}

void print_slot(const char *tag, int i, double v) {
  if (is_untouched(v)) return;
  if (std::isnan(v)) {
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    std::printf(" %s%d=nan:%016llx", tag, i, static_cast<unsigned long long>(u));
  } else {
    std::printf(" %s%d=%a", tag, i, v);
  }
}

void evaluate(const FunctionEntry &row, const Point &pt, const char *label) {
  static const int32_t kRequests[] = {1, 2, 4, 6, 8};
  static const int kErrno[] = {5, 0, 34, 33};
  for (int32_t request : kRequests) {
    for (int preset : kErrno) {
      double params[kSlots], x[8], y[kSlots], deriv[kSlots];
      for (int i = 0; i < kSlots; ++i) params[i] = 0.0;
      for (std::size_t i = 0; i < pt.p.size() && i + 1 < kSlots; ++i) params[i + 1] = pt.p[i];
      for (int i = 0; i < 8; ++i) x[i] = 0.0;
      for (std::size_t i = 0; i < pt.x.size() && i + 1 < 8; ++i) x[i + 1] = pt.x[i];
      for (int i = 0; i < kSlots; ++i) y[i] = deriv[i] = untouched();
      const int16_t n = static_cast<int16_t>(pt.p.size());
      errno = preset;
      const int32_t rc = row.function(request, nullptr, n, 0, 0, params, 0, x, y, deriv);
      const int after = errno;
      std::printf("%s %s req=%d errno_in=%d rc=%d errno=%d", row.name, label, request, preset,
                  rc, after);
      for (int i = 0; i < kSlots; ++i) print_slot("y", i, y[i]);
      if (request == 8) {
        int32_t word;
        std::memcpy(&word, deriv, sizeof word);
        std::printf(" q=%d", word);
      }
      for (int i = 0; i < kSlots; ++i) print_slot("d", i, deriv[i]);
      std::printf("\n");
    }
  }
}

// The perturbations of a point: each parameter and each input in turn set to values that
// reach the failure exits and branch switches (0, negated, scaled up and down, shifted), and
// the whole point scaled.
std::vector<std::pair<std::string, Point>> perturbed(const Point &pt) {
  std::vector<std::pair<std::string, Point>> out;
  static const double kScale[] = {0.0, -1.0, 1e-3, 0.37, 1.0001, 3.1, 1e3, 1e200};
  auto add = [&](const std::string &label, Point q) { out.emplace_back(label, std::move(q)); };
  add("base", pt);
  for (std::size_t i = 0; i < pt.p.size(); ++i) {
    for (double s : kScale) {
      Point q = pt;
      q.p[i] *= s;
      char label[64];
      std::snprintf(label, sizeof label, "p%zu*%g", i + 1, s);
      add(label, q);
    }
    Point q = pt;
    q.p[i] += 0.5;
    char label[64];
    std::snprintf(label, sizeof label, "p%zu+0.5", i + 1);
    add(label, q);
    q = pt;
    q.p[i] = std::nan("");
    std::snprintf(label, sizeof label, "p%zu=nan", i + 1);
    add(label, q);
  }
  static const double kX[] = {0.0, -1.0, 0.5, 2.0, 1e3, -1e3, 1e-300};
  for (std::size_t i = 0; i < pt.x.size(); ++i) {
    for (double s : kX) {
      Point q = pt;
      q.x[i] = s == 1e-300 ? s : q.x[i] * s + (s == 0.5 ? 0.25 : 0.0);
      if (s == 1e3 || s == -1e3) q.x[i] = s;
      char label[64];
      std::snprintf(label, sizeof label, "x%zu:%g", i + 1, s);
      add(label, q);
    }
    for (double dx : {1e-9, 0.1, 7.0, 40.0, 800.0}) {
      Point q = pt;
      q.x[i] += dx;
      char label[64];
      std::snprintf(label, sizeof label, "x%zu+%g", i + 1, dx);
      add(label, q);
    }
  }
  // Fewer parameters than the point gives (nParams below the count the model reads).
  if (!pt.p.empty()) {
    Point q = pt;
    q.p.pop_back();
    add("n-1", q);
  }
  return out;
}

}  // namespace

int main() {
  for (std::size_t r = 0; r < function_table_size; ++r) {
    const FunctionEntry &row = function_table[r];
    const fm_model_info *m = fm_catalog_find(row.name);
    if (m == nullptr) {
      std::fprintf(stderr, "bit_dump: %s has no catalogue entry\n", row.name);
      return 1;
    }
    const std::vector<Point> pts = points_of(*m);
    for (std::size_t k = 0; k < pts.size(); ++k) {
      for (const auto &lp : perturbed(pts[k])) {
        const std::string label = "pt" + std::to_string(k) + ":" + lp.first;
        evaluate(row, lp.second, label.c_str());
      }
    }
  }
  return 0;
}
