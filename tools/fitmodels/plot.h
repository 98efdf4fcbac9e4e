// Self-contained SVGs of fits, from plain data (no fit structures of the tool):
// - write_svg: one fit of one input: the data, the fitted curve (and each peak of a multi-peak
//   model over the baseline), and the residuals in a panel below;
// - write_groups_svg: one fit per group as small multiples, a grid of titled panels;
// - write_surface_svg: a fit of two inputs as three colour maps side by side (data, fit,
//   residuals) over the (x1, x2) plane; write_surface_groups_svg one such row per group.
#ifndef FITMODELS_TOOL_PLOT_H
#define FITMODELS_TOOL_PLOT_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace fmtool {

struct PlotInput {
  std::string title, xlabel, ylabel;
  std::vector<double> x, y, residual;               // the data
  std::vector<double> curve_x, curve_y;             // the fitted curve
  std::vector<std::vector<double>> components;      // per peak, over curve_x (may be empty)
};

bool write_svg(const std::string &path, const PlotInput &in, std::string &error);

// One group's panel. A group with an error (it could not be fitted) is drawn as an empty panel
// that says why; a status other than empty (a fit that stopped without converging) is printed
// under the group's name.
struct GroupPanel {
  std::string label, error, status;
  std::vector<double> x, y;
  std::function<double(double)> curve;  // the fitted curve at x; NaN where the model fails
};

struct GroupsPlotInput {
  std::string title, xlabel, ylabel;
  std::vector<GroupPanel> groups;
};

// At most this many panels are drawn; the groups beyond are named in a note line as omitted.
constexpr size_t kMaxPanels = 100;
// A panel of more points shows every k-th, k the count over this rounded up.
constexpr size_t kMaxPanelPoints = 2000;

bool write_groups_svg(const std::string &path, const GroupsPlotInput &in, std::string &error);

// The data of a two-input fit: fitted holds the model at each point (NaN where it fails).
struct SurfacePlotInput {
  std::string title, x1label, x2label, ylabel;
  std::vector<double> x1, x2, y, fitted;
};

bool write_surface_svg(const std::string &path, const SurfacePlotInput &in, std::string &error);

// Two-input fits per group: one row of the three maps per group, each on its own colour scales;
// a group with an error (not fitted) is a row that says why.
struct SurfaceGroup {
  std::string label, error, status;
  SurfacePlotInput data;  // its title is unused: the row is headed by the label
};

// At most this many rows are drawn; the groups beyond are named in a note line as omitted.
constexpr size_t kMaxSurfaceGroups = 20;

bool write_surface_groups_svg(const std::string &path, const std::string &title,
                              const std::vector<SurfaceGroup> &groups, std::string &error);

}  // namespace fmtool

#endif
