// render_svg over degenerate plots, a 200000-piece profile with a one-sample spike, and
// titles to escape or to shorten; render_report_plot's trace, read back point by point.
#include "batch.h"
#include "child.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <cmath>
#include <sstream>

namespace {

std::string query(xmlDocPtr doc, const char* expression) {
  xmlXPathContextPtr context = xmlXPathNewContext(doc);
  xmlXPathObjectPtr found = xmlXPathEvalExpression(BAD_CAST expression, context);
  std::string text = found && found->stringval ? reinterpret_cast<char*>(found->stringval) : "";
  xmlXPathFreeObject(found);
  xmlXPathFreeContext(context);
  return text;
}

// Of path data "Mx,y Lx,y ...": the smallest y (the highest point drawn) and the
// width the points span.
struct Extent { double top = 1e9, left = 1e9, right = -1e9; };
Extent extent(const std::string& d) {
  std::istringstream in(d);
  Extent e;
  double x, y;
  for (char command, comma; in >> command >> x >> comma >> y;)
    e = {std::min(e.top, y), std::min(e.left, x), std::max(e.right, x)};
  return e;
}

int count(xmlDocPtr doc, const std::string& nodes) {
  return std::stoi(query(doc, ("string(count(" + nodes + "))").c_str()));
}

batch::PlotData noise_with_spike() {
  batch::PlotData plot{"noise.txt", 1.5, {}, 0, 200000};
  for (unsigned i = 0, seed = 1; i < 200000; ++i, seed = seed * 1103515245u + 12345u)
    plot.profile.push_back({double(i), i > 0 ? plot.profile.back().c1 : 0, i + 1.0,
                            (seed >> 16) % 1000 / 1000.0});
  plot.profile[123456].c1 = plot.profile[123457].c0 = 1000;  // one sample
  return plot;
}

struct Case { batch::PlotData plot; std::string title; double spike_top_below = 0; };

TEST(RenderSvg, EveryPlotIsSmallFiniteWellFormedAndRenders) {
  const std::string dash = " \xE2\x80\x94 peak area ";
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const std::vector<Case> cases = {
      {{"empty.txt", 0, {}, 1e308, HUGE_VAL}, "empty.txt" + dash + "0"},
      {{"one.txt", 0, {{5, 2, 5, 2}}, 5, 5, false, 0, 0, true, 2}, "one.txt" + dash + "0"},
      {{"flat.txt", 3, {{0, 3, 5, 3}, {5, 3, 10, 3}}, 0, 10, true, 3, 3}, "flat.txt" + dash + "3"},
      {{"span.txt", 0, {{2, 1, 2, 4}}, 2, 2}, "span.txt" + dash + "0"},
      {{"neg.txt", -1.0 / 3, {{1, -5, 4, -1}, {4, -1, 6, -3}}, 2, 5, true, -4, -2},
       "neg.txt" + dash + "-0.333333333"},
      {{"big.txt", 1e60, {{-1e30, 1e30, 1e30, -1e30}, {1e30, 0, 3e30, 1e29}}, -1e30, 3e30, false,
        0, 0, true, -1e30}, "big.txt" + dash + "1e+60"},
      {noise_with_spike(), "noise.txt" + dash + "1.5", 250},
      {{"a&b<c>\"d'e\x01\xff.txt", 2, {}}, "a&b<c>\"d'e\xEF\xBF\xBD\xEF\xBF\xBD.txt" + dash + "2"},
      // An overlong '/', a surrogate, U+FFFE and a code beyond U+10FFFF; U+1D6FC stays.
      {{"\xC0\xAF|\xED\xA0\x80|\xEF\xBF\xBE|\xF4\x90\x80\x80|\xF0\x9D\x9B\xBC", 2, {}},
       r + r + "|" + r + r + r + "|" + r + "|" + r + r + r + r + "|\xF0\x9D\x9B\xBC" + dash + "2"},
      // 90 characters at most, counted as characters; the file's own name kept whole.
      {{"/home/lab/Meßreihe-März-2024/Meßreihe-März-2024/Meßreihe-März-2024/Probe-ü42.txt", 2, {}},
       "/home/lab/Meßreihe-März-2024/Meßreihe-März-2024/Meßreihe-März\xE2\x80\xA6/Probe-ü42.txt" +
           dash + "2"},
  };
  const std::string dir = testsupport::make_temp_dir();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].title);
    const std::string svg = batch::render_svg(cases[i].plot);
    EXPECT_EQ(svg, batch::render_svg(cases[i].plot));
    EXPECT_LT(svg.size(), 1000000u);
    for (const char* bad : {"nan", "NaN", "inf", "Inf"}) EXPECT_EQ(svg.find(bad), svg.npos);
    xmlDocPtr doc = xmlReadMemory(svg.data(), int(svg.size()), "plot.svg", nullptr, 0);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(query(doc, "string(//*[@class='title'])"), cases[i].title);
    if (cases[i].spike_top_below > 0) {
      const Extent drawn = extent(query(doc, "string(//*[@class='profile']/@d)"));
      EXPECT_LT(drawn.top, cases[i].spike_top_below);
      EXPECT_GT(drawn.right - drawn.left, 670);  // one point or two in each pixel column
    }
    // Near the 7 and 6 ticks asked for: 1-2-5 steps, the range widened to whole steps.
    EXPECT_LE(count(doc, "//*[@class='tick-labels']/*[@text-anchor='middle']"), 7 + 3);
    EXPECT_LE(count(doc, "//*[@class='tick-labels']/*[@text-anchor='end']"), 6 + 3);
    xmlFreeDoc(doc);
    const std::string base = dir + "/" + std::to_string(i);
    testsupport::write_file(base + ".svg", svg);
    ASSERT_EQ(std::system(("rsvg-convert -o " + base + ".png " + base + ".svg").c_str()), 0);
    const std::string png = testsupport::read_file(base + ".png");
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(12, 12), std::string("IHDR\0\0\x03\x20\0\0\x01\xf4", 12));  // 800x500
  }
  if (!HasFailure()) testsupport::remove_dir(dir);  // kept otherwise, for a look at the files
}

// The points of the report's path "M x y l dx dy ... m dx dy ...", each with whether a
// move (not a line) reaches it.
struct Step { long x, y; bool move; };
std::vector<Step> points_of(const std::string& d) {
  std::vector<Step> points;
  std::istringstream in(d);
  char command = 0;
  long x = 0, y = 0, dx, dy;
  while (in >> std::ws && !in.eof()) {
    if (std::isalpha(in.peek())) in >> command;
    if (!(in >> dx >> dy)) break;
    const bool absolute = command == 'M';
    x = absolute ? dx : x + dx, y = absolute ? dy : y + dy;
    points.push_back({x, y, command != 'l'});
  }
  return points;
}

struct ReportCase {
  const char* name;
  batch::PlotData plot;
  std::size_t most_points;     // the path's points at most
  long top_at_most;            // the highest point drawn reaches this y (0: not looked at)
  bool moves, band, baseline;  // a jump drawn as a move; the window's band; the baseline
  long right_at_most = 290;    // where the profile ends (the axis may reach further)
};

batch::PlotData line_of(int pieces, double end = 10) {
  batch::PlotData plot{"line.txt", 50, {}, 0, end};
  for (int i = 0; i < pieces; ++i)
    plot.profile.push_back({i * end / pieces, i * end / pieces, (i + 1) * end / pieces, (i + 1) * end / pieces});
  return plot;
}

TEST(RenderReportPlot, TheTraceFollowsTheProfileInFewSteps) {
  batch::PlotData windowed = line_of(1000);
  windowed.from = 2, windowed.to = 6, windowed.has_baseline = true, windowed.base_from = 2, windowed.base_to = 6;
  const std::vector<ReportCase> cases = {
      {"a line of 1000 pieces is one step", line_of(1000), 2, 0, false, false, false},
      {"a line of 3 pieces", line_of(3), 4, 0, false, false, false},
      // The axis reaches 10: nothing is drawn beyond x(9.3) = 34 + 0.93 * 256.
      {"a line that ends before the axis", line_of(1000, 9.3), 2, 0, false, false, false, 273},
      {"a spike of one sample among noise", noise_with_spike(), 2 * 256, 10, false, false, false},
      {"a jump", {"jump.txt", 1, {{0, 0, 1, 1}, {1, 5, 2, 5}}, 0, 2}, 4, 0, true, false, false},
      {"a window narrower than the profile, a baseline", windowed, 2, 0, false, true, true},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string fragment = batch::render_report_plot(c.plot);
    EXPECT_EQ(fragment, batch::render_report_plot(c.plot));
    xmlDocPtr doc = xmlReadMemory(fragment.data(), int(fragment.size()), "plot.xml", nullptr, 0);
    ASSERT_NE(doc, nullptr);
    const std::string d = query(doc, "string(//*[@class='thumb']//*[@class='profile']/@d)");
    const std::vector<Step> points = points_of(d);
    ASSERT_FALSE(points.empty()) << d;
    EXPECT_LE(points.size(), c.most_points) << d;
    // Within the plot area, from its left edge to its right one.
    long left = 1000, right = -1, top = 1000;
    for (const Step& p : points) {
      left = std::min(left, p.x), right = std::max(right, p.x), top = std::min(top, p.y);
      EXPECT_TRUE(p.y >= 6 && p.y <= 141) << d;
    }
    EXPECT_GE(left, 34);
    EXPECT_LE(right, c.right_at_most) << d;
    EXPECT_GT(right - left, 200) << d;
    EXPECT_LE(top, c.top_at_most > 0 ? c.top_at_most : top) << d;
    EXPECT_EQ(std::count_if(points.begin() + 1, points.end(), [](const Step& p) { return p.move; }) > 0, c.moves) << d;
    // A jump is vertical: the trace reaches its foot before it moves.
    for (std::size_t k = 1; k < points.size(); ++k) {
      if (points[k].move) {
        EXPECT_EQ(points[k - 1].x, points[k].x) << d;
      }
    }
    EXPECT_EQ(count(doc, "//*[@class='thumb']//*[@class='window'][@width > 0][@height > 0]"), c.band ? 1 : 0);
    EXPECT_EQ(count(doc, "//*[@class='thumb']//*[@class='baseline']"), c.baseline ? 1 : 0);
    EXPECT_EQ(count(doc, "//*[@class='full']/*[local-name()='use']"), 1);
    xmlFreeDoc(doc);
  }
}

}  // namespace
