// Batch tool: many data files per run, read as real exports (headers, comments,
// separators, decimal commas), each integrated in a child process of its own, one
// table row per file (CSV, TSV or JSON Lines), optional SVG plots.
#pragma once

#include <string>
#include <vector>

namespace batch {

// ---------------------------------------------------------------------------
// Plots (plot.cpp)
// ---------------------------------------------------------------------------

// One straight piece of the profile as it is integrated: the line from (t0, c0) to
// (t1, c1). Pieces come in increasing time and may leave jumps between them (an
// unsorted table's first-match function is not continuous).
struct Segment {
  double t0, c0, t1, c1;
};

struct PlotData {
  std::string title;             // the file name as given
  double peak_area = 0;          // shown in the title
  std::vector<Segment> profile;  // the whole profile, first to last time
  double from = 0, to = 0;       // the integration window, shaded
  bool has_baseline = false;     // the baseline, drawn from (from, base_from) to (to, base_to)
  double base_from = 0, base_to = 0;
  bool point_added = false;      // the added point (0, added_c), marked
  double added_c = 0;
};

// The SVG document of one plot: labelled axes with ticks, the profile (at most one
// minimum/maximum pair per pixel column, so a 200000-point profile stays small), the
// shaded window, the baseline and the added point.
std::string render_svg(const PlotData& plot);

}  // namespace batch
