#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

namespace fmtool {
namespace {

struct Axis {
  double lo, hi;
  std::vector<double> ticks;
};

// Round tick positions (1, 2 or 5 times a power of ten) covering [lo, hi]. A range narrower
// than the spacing of doubles near it (or not finite) is widened first, and the ticks are
// counted, not stepped, so that a step below the resolution of the numbers cannot loop.
Axis nice_axis(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = -1, hi = 1;
  const double least = 64 * std::numeric_limits<double>::epsilon() * std::max(std::fabs(lo), std::fabs(hi));
  if (!(hi - lo > least)) {
    const double mid = lo / 2 + hi / 2;
    const double d = mid == 0 ? 1.0 : std::max(std::fabs(mid) * 0.1, least);
    lo = mid - d;
    hi = mid + d;
  }
  const double raw = (hi - lo) / 6;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double step = raw / mag < 1.5 ? mag : raw / mag < 3.5 ? 2 * mag : raw / mag < 7.5 ? 5 * mag : 10 * mag;
  Axis a{std::floor(lo / step) * step, std::ceil(hi / step) * step, {}};
  const double count = std::floor((a.hi - a.lo) / step + 1e-9);
  for (int i = 0; i <= count && i <= 20; ++i) {
    const double t = a.lo + i * step;
    a.ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  }
  return a;
}

std::string num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", v);
  return b;
}

std::string esc(const std::string &s) {
  std::string o;
  for (char c : s) {
    if (c == '<') o += "&lt;";
    else if (c == '>') o += "&gt;";
    else if (c == '&') o += "&amp;";
    else if (c == '"') o += "&quot;";
    else o += c;
  }
  return o;
}

struct Panel {
  double left, top, width, height;
  Axis xa, ya;
  double px(double x) const { return left + (x - xa.lo) / (xa.hi - xa.lo) * width; }
  double py(double y) const { return top + height - (y - ya.lo) / (ya.hi - ya.lo) * height; }
};

void frame(std::ostringstream &s, const Panel &p, bool xlabels, const std::string &ylabel) {
  s << "<rect x='" << p.left << "' y='" << p.top << "' width='" << p.width << "' height='"
    << p.height << "' fill='none' stroke='#444'/>\n";
  for (double t : p.xa.ticks) {
    const double x = p.px(t);
    s << "<line x1='" << x << "' y1='" << p.top << "' x2='" << x << "' y2='" << p.top + p.height
      << "' stroke='#e4e4e4'/>\n";
    if (xlabels)
      s << "<text x='" << x << "' y='" << p.top + p.height + 16
        << "' text-anchor='middle'>" << num(t) << "</text>\n";
  }
  for (double t : p.ya.ticks) {
    const double y = p.py(t);
    s << "<line x1='" << p.left << "' y1='" << y << "' x2='" << p.left + p.width << "' y2='" << y
      << "' stroke='#e4e4e4'/>\n";
    s << "<text x='" << p.left - 6 << "' y='" << y + 4 << "' text-anchor='end'>" << num(t)
      << "</text>\n";
  }
  s << "<text transform='translate(" << p.left - 58 << "," << p.top + p.height / 2
    << ") rotate(-90)' text-anchor='middle'>" << esc(ylabel) << "</text>\n";
}

void polyline(std::ostringstream &s, const Panel &p, const std::vector<double> &x,
              const std::vector<double> &y, const std::string &style) {
  s << "<polyline fill='none' " << style << " points='";
  for (size_t i = 0; i < x.size(); ++i)
    if (std::isfinite(y[i])) s << p.px(x[i]) << "," << p.py(y[i]) << " ";
  s << "'/>\n";
}

}  // namespace

bool write_svg(const std::string &path, const PlotInput &in, std::string &error) {
  const double W = 820, H = 620;
  double xlo = HUGE_VAL, xhi = -HUGE_VAL, ylo = HUGE_VAL, yhi = -HUGE_VAL, rmax = 0;
  for (size_t i = 0; i < in.x.size(); ++i) {
    xlo = std::min(xlo, in.x[i]), xhi = std::max(xhi, in.x[i]);
    ylo = std::min(ylo, in.y[i]), yhi = std::max(yhi, in.y[i]);
    rmax = std::max(rmax, std::fabs(in.residual[i]));
  }
  for (double v : in.curve_y)
    if (std::isfinite(v)) ylo = std::min(ylo, v), yhi = std::max(yhi, v);
  const double pad = (yhi - ylo) * 0.04;
  Panel top{90, 50, W - 120, 380, nice_axis(xlo, xhi), nice_axis(ylo - pad, yhi + pad)};
  Panel bottom{90, 460, W - 120, 110, top.xa, nice_axis(-rmax * 1.1, rmax * 1.1)};
  std::ostringstream s;
  s.precision(6);
  s << "<?xml version='1.0' encoding='UTF-8'?>\n"
    << "<svg xmlns='http://www.w3.org/2000/svg' width='" << W << "' height='" << H
    << "' viewBox='0 0 " << W << " " << H << "' font-family='sans-serif' font-size='12'>\n"
    << "<rect width='100%' height='100%' fill='white'/>\n"
    << "<text x='" << W / 2 << "' y='28' text-anchor='middle' font-size='15'>" << esc(in.title)
    << "</text>\n";
  frame(s, top, false, in.ylabel);
  frame(s, bottom, true, "residual");
  s << "<text x='" << bottom.left + bottom.width / 2 << "' y='" << H - 12
    << "' text-anchor='middle'>" << esc(in.xlabel) << "</text>\n";
  const char *colours[] = {"#2ca02c", "#9467bd", "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};
  for (size_t k = 0; k < in.components.size(); ++k)
    polyline(s, top, in.curve_x, in.components[k],
             std::string("stroke='") + colours[k % 6] + "' stroke-width='1.2' stroke-dasharray='5,3'");
  s << "<g fill='#1f77b4' fill-opacity='0.75'>\n";
  for (size_t i = 0; i < in.x.size(); ++i)
    s << "<circle cx='" << top.px(in.x[i]) << "' cy='" << top.py(in.y[i]) << "' r='2.4'/>\n";
  s << "</g>\n";
  polyline(s, top, in.curve_x, in.curve_y, "stroke='#d62728' stroke-width='2'");
  s << "<line x1='" << bottom.left << "' y1='" << bottom.py(0) << "' x2='"
    << bottom.left + bottom.width << "' y2='" << bottom.py(0) << "' stroke='#d62728'/>\n";
  s << "<g fill='#1f77b4'>\n";
  for (size_t i = 0; i < in.x.size(); ++i)
    s << "<circle cx='" << bottom.px(in.x[i]) << "' cy='" << bottom.py(in.residual[i])
      << "' r='2'/>\n";
  s << "</g>\n";
  // Legend.
  const double lx = top.left + top.width - 175, ly = top.top + 14;
  s << "<rect x='" << lx - 8 << "' y='" << ly - 12 << "' width='175' height='"
    << (in.components.empty() ? 42 : 60) << "' fill='white' stroke='#bbb'/>\n"
    << "<circle cx='" << lx + 8 << "' cy='" << ly << "' r='3' fill='#1f77b4'/><text x='" << lx + 22
    << "' y='" << ly + 4 << "'>data</text>\n"
    << "<line x1='" << lx << "' y1='" << ly + 18 << "' x2='" << lx + 16 << "' y2='" << ly + 18
    << "' stroke='#d62728' stroke-width='2'/><text x='" << lx + 22 << "' y='" << ly + 22
    << "'>fit</text>\n";
  // One short dash per peak colour drawn, side by side.
  if (!in.components.empty()) {
    const size_t shown = std::min<size_t>(in.components.size(), 6);
    const double w = 16.0 / static_cast<double>(shown);
    for (size_t k = 0; k < shown; ++k)
      s << "<line x1='" << lx + w * static_cast<double>(k) << "' y1='" << ly + 36 << "' x2='"
        << lx + w * static_cast<double>(k + 1) << "' y2='" << ly + 36 << "' stroke='" << colours[k]
        << "' stroke-width='2'/>";
    s << "<text x='" << lx + 22 << "' y='" << ly + 40 << "'>peaks over baseline</text>\n";
  }
  s << "</svg>\n";
  std::ofstream out(path);
  if (!out || !(out << s.str())) {
    error = "cannot write \"" + path + "\"";
    return false;
  }
  return true;
}

}  // namespace fmtool
