#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include <sys/stat.h>

namespace fmtool {
namespace {

struct Axis {
  double lo, hi;
  std::vector<double> ticks;
};

// Round tick positions (1, 2 or 5 times a power of ten) covering [lo, hi]. A range narrower
// than the spacing of doubles near it (or not finite) is widened first, and the ticks are
// counted, not stepped, so that a step below the resolution of the numbers cannot loop.
Axis nice_axis(double lo, double hi, double target = 6) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = -1, hi = 1;
  const double least = 64 * std::numeric_limits<double>::epsilon() * std::max(std::fabs(lo), std::fabs(hi));
  if (!(hi - lo > least)) {
    const double mid = lo / 2 + hi / 2;
    const double d = mid == 0 ? 1.0 : std::max(std::fabs(mid) * 0.1, least);
    lo = mid - d;
    hi = mid + d;
  }
  const double raw = (hi - lo) / target;
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

// The length of the well-formed UTF-8 sequence at s[i], or 0.
size_t utf8_length(const std::string &s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned c = b(i);
  const size_t len = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xbf) return 0;
  const unsigned d = b(i + 1);
  if ((c == 0xe0 && d < 0xa0) || (c == 0xed && d > 0x9f) || (c == 0xf0 && d < 0x90) || (c == 0xf4 && d > 0x8f))
    return 0;  // overlong, a surrogate, or beyond U+10FFFF
  return len;
}

// Text for an SVG element: markup characters escaped; control characters and bytes that are
// not UTF-8 (a group label or file name in another encoding) shown as '?', as XML allows neither.
std::string esc(const std::string &s) {
  std::string o;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '<') o += "&lt;";
    else if (c == '>') o += "&gt;";
    else if (c == '&') o += "&amp;";
    else if (c == '"') o += "&quot;";
    else if (c == '\'') o += "&apos;";
    else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') o += '?';
    else if (static_cast<unsigned char>(c) < 0x80) o += c;
    else if (const size_t len = utf8_length(s, i)) o += s.substr(i, len), i += len - 1;
    else o += '?';
  }
  return o;
}

struct Panel {
  double left, top, width, height;
  Axis xa, ya;
  double px(double x) const { return left + (x - xa.lo) / (xa.hi - xa.lo) * width; }
  double py(double y) const { return top + height - (y - ya.lo) / (ya.hi - ya.lo) * height; }
};

// The frame, grid lines and tick labels of a panel, labels only where asked; gaps: how far the
// labels stand from the frame (the main plot's are wider than a small panel's).
struct LabelGaps {
  double below, left, baseline;
};
constexpr LabelGaps kPlotGaps{16, 6, 4}, kPanelGaps{13, 4, 3};

void panel_frame(std::ostringstream &s, const Panel &p, bool xlabels, bool ylabels,
                 const LabelGaps &gap = kPanelGaps) {
  s << "<rect x='" << p.left << "' y='" << p.top << "' width='" << p.width << "' height='"
    << p.height << "' fill='none' stroke='#444'/>\n";
  for (double t : p.xa.ticks) {
    const double x = p.px(t);
    s << "<line x1='" << x << "' y1='" << p.top << "' x2='" << x << "' y2='" << p.top + p.height
      << "' stroke='#e4e4e4'/>\n";
    if (xlabels)
      s << "<text x='" << x << "' y='" << p.top + p.height + gap.below << "' text-anchor='middle'>"
        << num(t) << "</text>\n";
  }
  for (double t : p.ya.ticks) {
    const double y = p.py(t);
    s << "<line x1='" << p.left << "' y1='" << y << "' x2='" << p.left + p.width << "' y2='" << y
      << "' stroke='#e4e4e4'/>\n";
    if (ylabels)
      s << "<text x='" << p.left - gap.left << "' y='" << y + gap.baseline
        << "' text-anchor='end'>" << num(t) << "</text>\n";
  }
}

// The main plot's panel: its frame with labels and the y axis title.
void frame(std::ostringstream &s, const Panel &p, bool xlabels, const std::string &ylabel) {
  panel_frame(s, p, xlabels, true, kPlotGaps);
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

// A path naming the file standard output already writes (/dev/stdout, or the file it is
// redirected to) goes through stdout itself: a second handle opened on it would truncate it and
// write over the text printed before, or be written over by the text printed after.
bool save(const std::string &path, const std::string &text, std::string &error) {
  struct stat named, out_st;
  if (stat(path.c_str(), &named) == 0 && fstat(fileno(stdout), &out_st) == 0 &&
      named.st_dev == out_st.st_dev && named.st_ino == out_st.st_ino) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      error = "cannot write \"" + path + "\"";
      return false;
    }
    return true;
  }
  std::ofstream out(path);
  if (!out || !(out << text) || !out.flush()) {
    error = "cannot write \"" + path + "\"";
    return false;
  }
  return true;
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
  return save(path, s.str(), error);
}

namespace {

// Breaks a text into lines of at most width characters at spaces (a longer word is cut).
std::vector<std::string> wrap(const std::string &text, size_t width, size_t most_lines) {
  std::vector<std::string> lines;
  std::istringstream words(text);
  std::string w, line;
  while (words >> w) {
    while (w.size() > width) {
      if (!line.empty()) lines.push_back(line), line.clear();
      lines.push_back(w.substr(0, width));
      w.erase(0, width);
    }
    if (!line.empty() && line.size() + 1 + w.size() > width) lines.push_back(line), line.clear();
    line += (line.empty() ? "" : " ") + w;
  }
  if (!line.empty()) lines.push_back(line);
  if (lines.size() > most_lines) {
    lines.resize(most_lines);
    lines.back() += " ...";
  }
  return lines;
}

std::string clip(const std::string &s, size_t most) {
  return s.size() <= most ? s : s.substr(0, most - 3) + "...";
}

// The range of the finite values of v, widened by v's extent times pad on each side.
void extend(double &lo, double &hi, const std::vector<double> &v) {
  for (double d : v)
    if (std::isfinite(d)) lo = std::min(lo, d), hi = std::max(hi, d);
}

struct Range {
  double xlo = HUGE_VAL, xhi = -HUGE_VAL, ylo = HUGE_VAL, yhi = -HUGE_VAL;
  bool empty() const { return !(xhi >= xlo); }
};

Range data_range(const GroupPanel &g) {
  Range r;
  extend(r.xlo, r.xhi, g.x);
  extend(r.ylo, r.yhi, g.y);
  return r;
}

Axis padded(double lo, double hi, double target) {
  const double pad = (hi - lo) * 0.05;
  return nice_axis(lo - pad, hi + pad, target);
}

}  // namespace

bool write_groups_svg(const std::string &path, const GroupsPlotInput &in, std::string &error) {
  const size_t total = in.groups.size();
  const size_t n = std::min(total, kMaxPanels);
  const size_t cols = std::max<size_t>(1, static_cast<size_t>(std::ceil(std::sqrt(static_cast<double>(n)))));
  const size_t rows = n == 0 ? 1 : (n + cols - 1) / cols;
  const double pw = 220, ph = 150, cw = pw + 75, chh = ph + 62, left0 = 80, top0 = 96;

  // Axes are shared by all panels unless some group spans less than a twentieth of the common
  // range in x or y: its curve would be a flat line, so each panel then gets its own.
  Range all;
  std::vector<Range> own(n);
  for (size_t i = 0; i < n; ++i) {
    if (!in.groups[i].error.empty()) continue;
    own[i] = data_range(in.groups[i]);
    if (own[i].empty()) continue;
    all.xlo = std::min(all.xlo, own[i].xlo), all.xhi = std::max(all.xhi, own[i].xhi);
    all.ylo = std::min(all.ylo, own[i].ylo), all.yhi = std::max(all.yhi, own[i].yhi);
  }
  bool shared = true;
  for (size_t i = 0; i < n && !all.empty(); ++i)
    if (!own[i].empty() && ((own[i].xhi - own[i].xlo) < (all.xhi - all.xlo) / 20 ||
                            (own[i].yhi - own[i].ylo) < (all.yhi - all.ylo) / 20))
      shared = false;
  if (all.empty()) all = Range{0, 1, 0, 1};

  size_t thinned = 0;
  for (size_t i = 0; i < n; ++i)
    if (in.groups[i].error.empty() && in.groups[i].x.size() > kMaxPanelPoints) ++thinned;
  std::vector<std::string> omitted;
  for (size_t i = n; i < total; ++i) omitted.push_back(in.groups[i].label);
  std::vector<std::string> notes;
  notes.push_back(std::to_string(n) + " of " + std::to_string(total) + " groups drawn; " +
                  (shared ? "axes shared by all panels" : "each panel on its own axes (the groups' ranges differ too much to share them)"));
  if (thinned > 0)
    notes.push_back(std::to_string(thinned) + " panel(s) of over " + std::to_string(kMaxPanelPoints) +
                    " points: every k-th point drawn (k = points / " + std::to_string(kMaxPanelPoints) +
                    ", rounded up)");
  if (!omitted.empty()) {
    std::string list = std::to_string(omitted.size()) + " omitted (at most " + std::to_string(kMaxPanels) +
                       " panels):";
    for (size_t i = 0; i < omitted.size(); ++i) list += (i ? ", " : " ") + omitted[i];
    for (const std::string &l : wrap(list, 160, 4)) notes.push_back(l);
  }
  const double W = std::max(left0 + static_cast<double>(cols) * cw, 720.0);
  const double header = top0 + 16.0 * static_cast<double>(notes.size() - 1);
  const double body = static_cast<double>(rows - 1) * chh + ph + 16;  // the last row's tick labels included
  const double H = header + body + 30;

  std::ostringstream s;
  s.precision(6);
  s << "<?xml version='1.0' encoding='UTF-8'?>\n"
    << "<svg xmlns='http://www.w3.org/2000/svg' width='" << W << "' height='" << H << "' viewBox='0 0 "
    << W << " " << H << "' font-family='sans-serif' font-size='10'>\n"
    << "<rect width='100%' height='100%' fill='white'/>\n"
    << "<text x='" << W / 2 << "' y='26' text-anchor='middle' font-size='15'>" << esc(in.title) << "</text>\n";
  for (size_t k = 0; k < notes.size(); ++k)
    s << "<text class='note' x='" << W / 2 << "' y='" << 46 + 16 * k << "' text-anchor='middle' font-size='11'>"
      << esc(notes[k]) << "</text>\n";
  s << "<g font-size='12'><circle cx='" << W / 2 - 70 << "' cy='" << header - 26 << "' r='3' fill='#1f77b4'/><text x='"
    << W / 2 - 62 << "' y='" << header - 22 << "'>data</text><line x1='" << W / 2 << "' y1='" << header - 26
    << "' x2='" << W / 2 + 16 << "' y2='" << header - 26 << "' stroke='#d62728' stroke-width='2'/><text x='"
    << W / 2 + 22 << "' y='" << header - 22 << "'>fit</text></g>\n";
  s << "<text x='" << left0 + static_cast<double>(cols) * cw / 2 - 35 << "' y='" << H - 8
    << "' text-anchor='middle' font-size='12'>" << esc(in.xlabel) << "</text>\n"
    << "<text transform='translate(16," << header + body / 2
    << ") rotate(-90)' text-anchor='middle' font-size='12'>" << esc(in.ylabel) << "</text>\n";

  const Axis sx = padded(all.xlo, all.xhi, 4), sy = padded(all.ylo, all.yhi, 4);
  for (size_t i = 0; i < n; ++i) {
    const GroupPanel &g = in.groups[i];
    const size_t r = i / cols, c = i % cols;
    const bool failed = !g.error.empty() || own[i].empty();
    Panel p{left0 + static_cast<double>(c) * cw, header + static_cast<double>(r) * chh, pw, ph, sx, sy};
    if (!shared && !failed) p.xa = padded(own[i].xlo, own[i].xhi, 4), p.ya = padded(own[i].ylo, own[i].yhi, 4);
    const bool bottom = r == (n - 1 - c) / cols;
    s << "<g class='panel" << (failed ? " failed" : "") << "'>\n"
      << "<text class='panel-title' x='" << p.left + pw / 2 << "' y='" << p.top - 8
      << "' text-anchor='middle' font-size='12' font-weight='bold'>" << esc(clip(g.label, 36)) << "</text>\n";
    if (failed) {
      s << "<rect x='" << p.left << "' y='" << p.top << "' width='" << pw << "' height='" << ph
        << "' fill='#f6f6f6' stroke='#999'/>\n";
      // On shared axes an empty panel keeps its ticks: it may be the one that labels its column.
      if (shared) panel_frame(s, p, bottom, c == 0);
      const std::vector<std::string> why =
          wrap(g.error.empty() ? "no data to draw" : "not fitted: " + g.error, 38, 6);
      for (size_t k = 0; k < why.size(); ++k)
        s << "<text class='why' x='" << p.left + pw / 2 << "' y='"
          << p.top + ph / 2 - 7.0 * static_cast<double>(why.size()) + 14.0 * static_cast<double>(k) + 10
          << "' text-anchor='middle' fill='#a00'>" << esc(why[k]) << "</text>\n";
      s << "</g>\n";
      continue;
    }
    panel_frame(s, p, !shared || bottom, !shared || c == 0);
    s << "<clipPath id='clip" << i << "'><rect x='" << p.left << "' y='" << p.top << "' width='" << pw
      << "' height='" << ph << "'/></clipPath>\n<g clip-path='url(#clip" << i << ")'>\n";
    s << "<g fill='#1f77b4' fill-opacity='0.75'>\n";
    const size_t stride = std::max<size_t>(1, (g.x.size() + kMaxPanelPoints - 1) / kMaxPanelPoints);
    for (size_t k = 0; k < g.x.size() && k < g.y.size(); k += stride)
      if (std::isfinite(g.x[k]) && std::isfinite(g.y[k]))
        s << "<circle cx='" << p.px(g.x[k]) << "' cy='" << p.py(g.y[k]) << "' r='2'/>\n";
    s << "</g>\n";
    if (g.curve) {
      std::vector<double> cx, cy;
      for (int k = 0; k <= 200; ++k) {
        const double x = own[i].xlo + (own[i].xhi - own[i].xlo) * k / 200.0;
        cx.push_back(x);
        const double v = g.curve(x);
        cy.push_back(std::isfinite(v) ? v : NAN);
      }
      polyline(s, p, cx, cy, "class='curve' stroke='#d62728' stroke-width='1.6'");
    }
    s << "</g>\n";
    if (!g.status.empty())
      s << "<text class='status' x='" << p.left + pw / 2 << "' y='" << p.top + 12
        << "' text-anchor='middle' fill='#a00'>" << esc(clip(g.status, 40)) << "</text>\n";
    s << "</g>\n";
  }
  s << "</svg>\n";
  return save(path, s.str(), error);
}

namespace {

struct Rgb {
  double r, g, b;
};

// Piecewise-linear colour maps: a perceptually even sequential one for values, a diverging one
// (blue, white, red) for residuals around zero.
const Rgb kSequential[] = {{68, 1, 84},    {71, 45, 123},  {59, 82, 139},   {44, 114, 142}, {33, 145, 140},
                           {40, 174, 128}, {94, 201, 98},  {173, 220, 48},  {253, 231, 37}};
const Rgb kDiverging[] = {{33, 102, 172}, {146, 197, 222}, {247, 247, 247}, {244, 165, 130}, {178, 24, 43}};

template <size_t N>
std::string colour(const Rgb (&map)[N], double t) {
  if (!std::isfinite(t)) return "#bbbbbb";
  t = std::min(1.0, std::max(0.0, t)) * static_cast<double>(N - 1);
  const size_t i = std::min(static_cast<size_t>(t), N - 2);
  const double f = t - static_cast<double>(i);
  char b[8];
  std::snprintf(b, sizeof b, "#%02x%02x%02x", static_cast<int>(std::lround(map[i].r + f * (map[i + 1].r - map[i].r))),
                static_cast<int>(std::lround(map[i].g + f * (map[i + 1].g - map[i].g))),
                static_cast<int>(std::lround(map[i].b + f * (map[i + 1].b - map[i].b))));
  return b;
}

// Cell edges around sorted distinct centres: midway between neighbours, half a spacing beyond the ends.
std::vector<double> edges(const std::vector<double> &c) {
  std::vector<double> e(c.size() + 1);
  for (size_t i = 1; i < c.size(); ++i) e[i] = c[i - 1] / 2 + c[i] / 2;
  e[0] = c[0] - (e[1] - c[0]);
  e[c.size()] = c.back() + (c.back() - e[c.size() - 1]);
  return e;
}

constexpr size_t kMaxGridSide = 200;     // a finer grid is drawn as points
constexpr size_t kMaxPoints = 20000;     // points drawn per map; beyond, every k-th

// The size of one row of three maps.
constexpr double kSide = 300, kGap = 95, kLeft = 75, kTop = 78;
constexpr double kRowWidth = kLeft + 3 * kSide + 2 * kGap + 25, kRowHeight = kTop + kSide + 140;

std::string svg_head(double W, double H) {
  std::ostringstream s;
  s << "<?xml version='1.0' encoding='UTF-8'?>\n"
    << "<svg xmlns='http://www.w3.org/2000/svg' width='" << W << "' height='" << H << "' viewBox='0 0 " << W
    << " " << H << "' font-family='sans-serif' font-size='11'>\n"
    << "<rect width='100%' height='100%' fill='white'/>\n";
  return s.str();
}

// One row of three maps (data, fit, residuals) headed by in.title, in a row's own coordinates;
// id keeps its clip paths apart from those of other rows.
void surface_row(std::ostringstream &s, const SurfacePlotInput &in, const std::string &id) {
  const size_t n = std::min({in.x1.size(), in.x2.size(), in.y.size(), in.fitted.size()});
  std::vector<double> res(n);
  bool fails = false;
  for (size_t i = 0; i < n; ++i) {
    res[i] = in.y[i] - in.fitted[i];
    if (!std::isfinite(res[i])) res[i] = NAN, fails = true;
  }
  // A grid: every pair of the distinct x1 and x2 values present exactly once.
  std::vector<double> u1(in.x1.begin(), in.x1.begin() + static_cast<long>(n)), u2(in.x2.begin(), in.x2.begin() + static_cast<long>(n));
  std::sort(u1.begin(), u1.end());
  std::sort(u2.begin(), u2.end());
  u1.erase(std::unique(u1.begin(), u1.end()), u1.end());
  u2.erase(std::unique(u2.begin(), u2.end()), u2.end());
  bool grid = u1.size() >= 2 && u2.size() >= 2 && u1.size() * u2.size() == n;
  std::vector<size_t> cell1(n), cell2(n);
  if (grid) {
    std::vector<char> seen(n, 0);
    for (size_t i = 0; i < n && grid; ++i) {
      cell1[i] = static_cast<size_t>(std::lower_bound(u1.begin(), u1.end(), in.x1[i]) - u1.begin());
      cell2[i] = static_cast<size_t>(std::lower_bound(u2.begin(), u2.end(), in.x2[i]) - u2.begin());
      char &f = seen[cell1[i] * u2.size() + cell2[i]];
      grid = f == 0;
      f = 1;
    }
  }
  const bool fine = grid && (u1.size() > kMaxGridSide || u2.size() > kMaxGridSide);
  grid = grid && !fine;
  double x1lo = HUGE_VAL, x1hi = -HUGE_VAL, x2lo = HUGE_VAL, x2hi = -HUGE_VAL;
  std::vector<double> e1, e2;
  if (grid) {
    e1 = edges(u1), e2 = edges(u2);
    x1lo = e1.front(), x1hi = e1.back(), x2lo = e2.front(), x2hi = e2.back();
  } else {
    extend(x1lo, x1hi, in.x1);
    extend(x2lo, x2hi, in.x2);
  }
  if (!(x1hi >= x1lo)) x1lo = 0, x1hi = 1;
  if (!(x2hi >= x2lo)) x2lo = 0, x2hi = 1;
  double vlo = HUGE_VAL, vhi = -HUGE_VAL, rmax = 0;
  extend(vlo, vhi, in.y);
  extend(vlo, vhi, in.fitted);
  for (double r : res)
    if (std::isfinite(r)) rmax = std::max(rmax, std::fabs(r));
  if (!(vhi >= vlo)) vlo = 0, vhi = 1;
  const Axis va = nice_axis(vlo, vhi, 5), ra = nice_axis(-rmax, rmax, 4);
  const size_t stride = grid ? 1 : std::max<size_t>(1, (n + kMaxPoints - 1) / kMaxPoints);

  const double side = kSide, gap = kGap, left0 = kLeft, top0 = kTop, W = kRowWidth;
  s << "<text x='" << W / 2 << "' y='26' text-anchor='middle' font-size='15'>" << esc(in.title) << "</text>\n";
  std::string note = std::to_string(n) + " points, " +
                     (grid ? "grid of " + std::to_string(u1.size()) + " x " + std::to_string(u2.size()) + ": drawn as cells"
                      : fine ? "grid of " + std::to_string(u1.size()) + " x " + std::to_string(u2.size()) +
                                   ", too fine for cells: drawn as points"
                             : std::string("not on a grid: drawn as points"));
  if (stride > 1) note += ", every " + std::to_string(stride) + "th point drawn";
  if (fails) note += "; grey: the model fails there";
  s << "<text class='note' x='" << W / 2 << "' y='46' text-anchor='middle'>" << esc(note) << "</text>\n";

  const char *titles[] = {"data", "fit", "residual (data - fit)"};
  for (int k = 0; k < 3; ++k) {
    const double left = left0 + k * (side + gap);
    Panel p{left, top0, side, side, nice_axis(x1lo, x1hi, 5), nice_axis(x2lo, x2hi, 5)};
    if (grid) p.xa.lo = x1lo, p.xa.hi = x1hi, p.ya.lo = x2lo, p.ya.hi = x2hi;
    // Ticks of a grid lie within its cells' extent; those beyond it are dropped.
    for (Axis *a : {&p.xa, &p.ya})
      a->ticks.erase(std::remove_if(a->ticks.begin(), a->ticks.end(),
                                    [&](double t) { return t < a->lo - 1e-12 * std::fabs(a->lo) || t > a->hi + 1e-12 * std::fabs(a->hi); }),
                     a->ticks.end());
    const std::vector<double> &v = k == 0 ? in.y : k == 1 ? in.fitted : res;
    auto fill = [&](size_t i) {
      return k < 2 ? colour(kSequential, (v[i] - va.lo) / (va.hi - va.lo))
                   : colour(kDiverging, (v[i] - ra.lo) / (ra.hi - ra.lo));
    };
    s << "<g class='heatmap'>\n<text x='" << left + side / 2 << "' y='" << top0 - 10
      << "' text-anchor='middle' font-size='13' font-weight='bold'>" << titles[k] << "</text>\n";
    s << "<rect x='" << left << "' y='" << top0 << "' width='" << side << "' height='" << side
      << "' fill='" << (grid ? "#ffffff" : "#f4f4f4") << "'/>\n";
    if (grid) {
      s << "<g shape-rendering='crispEdges'>\n";
      for (size_t i = 0; i < n; ++i) {
        const double xa = p.px(e1[cell1[i]]), xb = p.px(e1[cell1[i] + 1]);
        const double ya = p.py(e2[cell2[i] + 1]), yb = p.py(e2[cell2[i]]);
        // Cells overlap by a hair so that no seams show between them.
        s << "<rect class='cell' x='" << xa << "' y='" << ya << "' width='" << xb - xa + 0.5 << "' height='"
          << yb - ya + 0.5 << "' fill='" << fill(i) << "'/>\n";
      }
      s << "</g>\n";
    } else {
      const double r = std::min(5.0, std::max(1.5, side / std::sqrt(static_cast<double>(n / stride + 1)) / 2.5));
      s << "<clipPath id='map" << id << k << "'><rect x='" << left << "' y='" << top0 << "' width='" << side
        << "' height='" << side << "'/></clipPath>\n<g clip-path='url(#map" << id << k << ")'>\n";
      for (size_t i = 0; i < n; i += stride)
        if (std::isfinite(in.x1[i]) && std::isfinite(in.x2[i]))
          s << "<circle class='point' cx='" << p.px(in.x1[i]) << "' cy='" << p.py(in.x2[i]) << "' r='" << r
            << "' fill='" << fill(i) << "'/>\n";
      s << "</g>\n";
    }
    s << "<rect x='" << left << "' y='" << top0 << "' width='" << side << "' height='" << side
      << "' fill='none' stroke='#444'/>\n";
    for (double t : p.xa.ticks)
      s << "<line x1='" << p.px(t) << "' y1='" << top0 + side << "' x2='" << p.px(t) << "' y2='" << top0 + side + 4
        << "' stroke='#444'/><text x='" << p.px(t) << "' y='" << top0 + side + 16 << "' text-anchor='middle'>"
        << num(t) << "</text>\n";
    for (double t : p.ya.ticks)
      s << "<line x1='" << left - 4 << "' y1='" << p.py(t) << "' x2='" << left << "' y2='" << p.py(t)
        << "' stroke='#444'/><text x='" << left - 6 << "' y='" << p.py(t) + 4 << "' text-anchor='end'>" << num(t)
        << "</text>\n";
    s << "<text x='" << left + side / 2 << "' y='" << top0 + side + 32 << "' text-anchor='middle'>"
      << esc(in.x1label) << "</text>\n<text transform='translate(" << left - 50 << "," << top0 + side / 2
      << ") rotate(-90)' text-anchor='middle'>" << esc(in.x2label) << "</text>\n";
    // The colour scale under the map: data and fit share one, the residuals have their own.
    const Axis &ca = k < 2 ? va : ra;
    const double by = top0 + side + 48, bh = 12;
    s << "<g class='colour-scale' shape-rendering='crispEdges'>\n";
    for (int j = 0; j < 100; ++j)
      s << "<rect x='" << left + side * j / 100.0 << "' y='" << by << "' width='" << side / 100.0 + 0.3
        << "' height='" << bh << "' fill='"
        << (k < 2 ? colour(kSequential, (j + 0.5) / 100.0) : colour(kDiverging, (j + 0.5) / 100.0)) << "'/>\n";
    s << "<rect x='" << left << "' y='" << by << "' width='" << side << "' height='" << bh
      << "' fill='none' stroke='#444'/>\n";
    for (double t : ca.ticks) {
      const double x = left + (t - ca.lo) / (ca.hi - ca.lo) * side;
      s << "<line x1='" << x << "' y1='" << by + bh << "' x2='" << x << "' y2='" << by + bh + 4
        << "' stroke='#444'/><text x='" << x << "' y='" << by + bh + 16 << "' text-anchor='middle'>" << num(t)
        << "</text>\n";
    }
    s << "<text x='" << left + side / 2 << "' y='" << by + bh + 32 << "' text-anchor='middle'>"
      << esc(k < 2 ? in.ylabel : "residual of " + in.ylabel) << "</text>\n</g>\n</g>\n";
  }
}

}  // namespace

bool write_surface_svg(const std::string &path, const SurfacePlotInput &in, std::string &error) {
  std::ostringstream s;
  s.precision(6);
  s << svg_head(kRowWidth, kRowHeight);
  surface_row(s, in, "");
  s << "</svg>\n";
  return save(path, s.str(), error);
}

bool write_surface_groups_svg(const std::string &path, const std::string &title,
                              const std::vector<SurfaceGroup> &groups, std::string &error) {
  const size_t n = std::min(groups.size(), kMaxSurfaceGroups);
  std::vector<std::string> notes{std::to_string(n) + " of " + std::to_string(groups.size()) +
                                 " groups drawn, one row each"};
  if (n < groups.size()) {
    std::string list = std::to_string(groups.size() - n) + " omitted (at most " + std::to_string(kMaxSurfaceGroups) +
                       " rows):";
    for (size_t i = n; i < groups.size(); ++i) list += (i > n ? ", " : " ") + groups[i].label;
    for (const std::string &l : wrap(list, 150, 4)) notes.push_back(l);
  }
  const double failed_height = 70;
  double H = 40 + 16.0 * static_cast<double>(notes.size());
  for (size_t i = 0; i < n; ++i) H += groups[i].error.empty() ? kRowHeight : failed_height;
  std::ostringstream s;
  s.precision(6);
  s << svg_head(kRowWidth, H) << "<text x='" << kRowWidth / 2
    << "' y='26' text-anchor='middle' font-size='16' font-weight='bold'>" << esc(title) << "</text>\n";
  for (size_t k = 0; k < notes.size(); ++k)
    s << "<text class='note' x='" << kRowWidth / 2 << "' y='" << 46 + 16 * k << "' text-anchor='middle'>"
      << esc(notes[k]) << "</text>\n";
  double y0 = 30 + 16.0 * static_cast<double>(notes.size());
  for (size_t i = 0; i < n; ++i) {
    const SurfaceGroup &g = groups[i];
    s << "<g class='surface-group" << (g.error.empty() ? "" : " failed") << "' transform='translate(0," << y0
      << ")'>\n<line x1='20' y1='4' x2='" << kRowWidth - 20 << "' y2='4' stroke='#bbb'/>\n";
    if (!g.error.empty()) {
      s << "<text x='" << kRowWidth / 2 << "' y='26' text-anchor='middle' font-size='15'>" << esc(g.label)
        << "</text>\n<text class='why' x='" << kRowWidth / 2 << "' y='46' text-anchor='middle' fill='#a00'>"
        << esc("not fitted: " + g.error) << "</text>\n</g>\n";
      y0 += failed_height;
      continue;
    }
    SurfacePlotInput row = g.data;
    row.title = g.status.empty() ? g.label : g.label + " (" + g.status + ")";
    surface_row(s, row, "g" + std::to_string(i) + "_");
    s << "</g>\n";
    y0 += kRowHeight;
  }
  s << "</svg>\n";
  return save(path, s.str(), error);
}

}  // namespace fmtool
