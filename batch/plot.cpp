// SVG plot of one file: the profile, the shaded integration window, the baseline,
// the added point, axes with 1-2-5 ticks and a title with the file name and the peak
// area. The output depends on the input alone: numbers are written with
// std::to_chars (no locale), in fixed forms, and every value that reaches the
// document is finite. The document is built as a pugixml tree and written by
// pugixml, which escapes every text and attribute value.

#include "batch.h"
#include "utf8.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <utility>

namespace batch {
namespace {

// The plot area within its canvas, in pixels: one pixel column per unit of width.
struct Frame {
  int left, right, top, bottom;
  int columns() const { return right - left; }
};

// The plot file's canvas and plot area.
constexpr int WIDTH = 800, HEIGHT = 500;
constexpr int LEFT = 90, RIGHT = 765, TOP = 40, BOTTOM = 440;
constexpr Frame FILE_FRAME{LEFT, RIGHT, TOP, BOTTOM};

// Values beyond LIMIT in magnitude are drawn at it, so that every difference of two
// values stays finite; values below TINY, and non-finite ones, are drawn as 0, so
// that a tick step is never a subnormal number.
constexpr double LIMIT = 1e300, TINY = 1e-200;

double clean(double v) {
  if (!std::isfinite(v) || std::fabs(v) < TINY) return 0;
  return std::clamp(v, -LIMIT, LIMIT);
}

std::string number(double v, std::chars_format format, int precision) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v + 0.0, format, precision);  // no -0
  return std::string(buf, res.ptr);
}

// A pixel coordinate, to a tenth of a pixel.
std::string px(double v) { return number(std::clamp(v, -1e6, 1e6), std::chars_format::fixed, 1); }

// One axis: the data range widened to whole ticks of a 1, 2 or 5 step. Ticks are
// first*step, (first+1)*step, ..., lo and hi the outer ones.
// 10^k by multiplications and a division, each rounded as IEEE arithmetic rounds it
// (exact up to 10^22), so that every system gets the same bits, whatever its pow.
double power_of_ten(int k) {
  double p = 1;
  for (int i = 0; i < std::abs(k); ++i) p *= 10;
  return k < 0 ? 1 / p : p;
}

// The k with 10^k <= v < 10^(k+1) (v positive and finite), as power_of_ten has it:
// log10 only gives the first guess, which a system's log10 may miss by one.
int decimal_exponent(double v) {
  int k = static_cast<int>(std::floor(std::log10(v)));
  while (k < 308 && power_of_ten(k + 1) <= v) ++k;
  while (k > -330 && power_of_ten(k) > v) --k;
  return k;
}

struct Axis {
  double step, first, lo, hi;
  int step_exp;  // the step is 1, 2 or 5 times 10^step_exp

  Axis(double min, double max, int ticks) {
    double mag = std::max(std::fabs(min), std::fabs(max));
    if (!(max - min > mag * 1e-9)) {  // one value, or too close to tell apart
      double pad = mag * 0.1;
      min -= pad;
      max += mag == 0 ? 1 : pad;
    }
    double raw = (max - min) / ticks;
    const int exponent = decimal_exponent(raw);
    double decade = power_of_ten(exponent);
    double f = raw / decade;
    step = (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * decade;
    step_exp = f <= 5 ? exponent : exponent + 1;
    first = std::floor(min / step);
    lo = first * step;
    hi = std::ceil(max / step) * step;
  }
  int count() const { return std::min(static_cast<int>(std::lround((hi - lo) / step)), 50); }
  double tick(int i) const { return (first + i) * step; }
  // Moderate values in fixed form with the step's decimals; others in exponent form
  // with the digits that tell neighbouring ticks apart.
  std::string label(int i) const {
    if (tick(i) == 0) return "0";
    double mag = std::max(std::fabs(lo), std::fabs(hi));
    if (mag < 1e6 && step >= 1e-4)
      return number(tick(i), std::chars_format::fixed, std::max(0, -step_exp));
    int mag_exp = decimal_exponent(mag);
    return number(tick(i), std::chars_format::scientific, std::clamp(mag_exp - step_exp, 0, 16));
  }
  // Position of v between the pixel ends a (at lo) and b (at hi).
  double map(double v, double a, double b) const { return a + (v - lo) / (hi - lo) * (b - a); }
};

double value_on(const Segment& s, double t) {
  if (!(s.t1 > s.t0)) return t > s.t0 ? s.c1 : s.c0;
  double u = std::clamp((t - s.t0) / (s.t1 - s.t0), 0.0, 1.0);
  return s.c0 + (s.c1 - s.c0) * u;
}

// The profile at t: the first piece that covers t, else 0.
double value_at(const std::vector<Segment>& profile, double t) {
  for (const Segment& s : profile)
    if (s.t0 <= t && t <= s.t1) return value_on(s, t);
  return 0;
}

struct Point {
  double x, y;     // pixels
  bool jump;       // not joined to the point before
};

// Smallest and largest value of the profile within one pixel column, with the times
// they are reached, so that they are drawn in time order; and its values where it
// enters and leaves the column (values come in time order).
struct Column {
  bool used = false;
  double tmin = 0, vmin = 0, tmax = 0, vmax = 0;
  double entry = 0, exit = 0;
  void add(double t, double v) {
    if (!used || v < vmin) tmin = t, vmin = v;
    if (!used || v > vmax) tmax = t, vmax = v;
    if (!used) entry = v;
    exit = v;
    used = true;
  }
  // The profile only rises or only falls across the column.
  bool crossed() const { return std::min(entry, exit) == vmin && std::max(entry, exit) == vmax; }
};

// The profile as pixel points. Up to one piece per column the pieces are drawn as
// they are; beyond that each column is reduced to its minimum and maximum, taken
// over the piece ends and the column edges inside it (the extrema of a linear piece
// lie at its ends), so a spike one sample wide still reaches its height. With
// `blend`, a column that the profile only crosses, rising or falling, is one point at
// its middle, so that a steep side on wide columns is a slope, not a staircase.
std::vector<Point> trace(const std::vector<Segment>& profile, const Axis& ta, const Axis& ca,
                         const Frame& frame, bool blend = false) {
  auto x = [&](double t) { return ta.map(t, frame.left, frame.right); };
  auto y = [&](double c) { return ca.map(c, frame.bottom, frame.top); };
  const int W = frame.columns();
  std::vector<Point> points;
  if (profile.size() <= static_cast<std::size_t>(W)) {
    for (const Segment& s : profile) {
      bool joined = !points.empty() && points.back().x == x(s.t0) && points.back().y == y(s.c0);
      if (!joined) points.push_back({x(s.t0), y(s.c0), true});
      points.push_back({x(s.t1), y(s.c1), false});
    }
    return points;
  }
  std::vector<Column> columns(static_cast<std::size_t>(W));
  double width = (ta.hi - ta.lo) / W;
  auto column = [&](double t) {
    return static_cast<int>(std::clamp(std::floor((t - ta.lo) / width), 0.0, W - 1.0));
  };
  for (const Segment& s : profile) {
    int first = column(s.t0), last = column(std::max(s.t0, s.t1));
    for (int k = first; k <= last; ++k) {
      double a = k == first ? s.t0 : ta.lo + width * k;
      double b = k == last ? std::max(s.t0, s.t1) : ta.lo + width * (k + 1);
      columns[static_cast<std::size_t>(k)].add(a, k == first ? s.c0 : value_on(s, a));
      columns[static_cast<std::size_t>(k)].add(b, k == last ? s.c1 : value_on(s, b));
    }
  }
  bool gap = true;
  for (int k = 0; k < W; ++k) {
    const Column& col = columns[static_cast<std::size_t>(k)];
    if (!col.used) {
      gap = true;
      continue;
    }
    double cx = frame.left + k + 0.5;
    if (blend && col.crossed()) {
      points.push_back({cx, y(col.entry / 2 + col.exit / 2), gap});
      gap = false;
      continue;
    }
    auto [v1, v2] = col.tmin <= col.tmax ? std::pair(col.vmin, col.vmax)
                                         : std::pair(col.vmax, col.vmin);
    points.push_back({cx, y(v1), gap});
    if (v2 != v1) points.push_back({cx, y(v2), false});
    gap = false;
  }
  return points;
}

std::string path_data(const std::vector<Point>& points, bool polygon) {
  std::string d;
  for (const Point& p : points) {
    d += (d.empty() || (p.jump && !polygon)) ? 'M' : 'L';
    d += px(p.x) + ',' + px(p.y) + ' ';
  }
  if (polygon && !d.empty()) d += 'Z';
  else if (!d.empty()) d.pop_back();
  return d;
}

// The name as text XML allows: bytes that are not UTF-8 become U+FFFD one by one,
// characters XML 1.0 forbids (most controls, U+FFFE, U+FFFF) one for one.
std::string xml_chars(const std::string& raw) {
  std::string text;
  for (std::size_t i = 0; i < raw.size();) {
    const std::string_view rest = std::string_view(raw).substr(i);
    const std::size_t len = utf8::character_length(rest);
    const std::uint32_t code = len > 0 ? utf8::code_point(rest, len) : 0;
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                         (code >= 0xE000 && code <= 0xFFFD) || code >= 0x10000;
    if (len > 0 && allowed) text.append(rest.substr(0, len));
    else text += "\xEF\xBF\xBD";
    i += len > 0 ? len : 1;
  }
  return text;
}

// The characters the title may take: at its 15-pixel font, about 8 pixels a
// character, 90 of them keep it within the 800-pixel canvas.
constexpr std::size_t TITLE_CHARS = 90;

bool starts_char(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

// The title: the name, then the peak area. A name too long for the canvas loses
// characters in its middle, shown as one U+2026; the file's own name (from the last
// '/') stays whole when it fits, the rest of the room goes to the start of the path.
std::string title(const std::string& raw, const std::string& area) {
  const std::string name = xml_chars(raw), end = " \xE2\x80\x94 peak area " + area;
  std::vector<std::size_t> at;  // where each character of the name starts, then its end
  for (std::size_t i = 0; i < name.size(); ++i)
    if (starts_char(name[i])) at.push_back(i);
  const std::size_t n = at.size();
  at.push_back(name.size());
  const std::size_t budget =
      TITLE_CHARS - static_cast<std::size_t>(std::ranges::count_if(end, starts_char));
  if (n <= budget) return name + end;
  const std::size_t keep = budget - 1, slash = name.rfind('/');
  const std::size_t own =  // characters from the last '/' on
      slash == name.npos ? n
                         : static_cast<std::size_t>(at.end() - std::ranges::find(at, slash) - 1);
  const std::size_t tail = own <= keep ? own : keep - keep / 2, head = keep - tail;
  return name.substr(0, at[head]) + "\xE2\x80\xA6" + name.substr(at[n - tail]) + end;
}

// Appends an element with the given attributes, in this order.
pugi::xml_node element(pugi::xml_node parent, const char* name,
                       std::initializer_list<std::pair<const char*, std::string>> attributes) {
  pugi::xml_node node = parent.append_child(name);
  for (const auto& [key, value] : attributes) node.append_attribute(key) = value.c_str();
  return node;
}

// What a plot draws, every value finite and within LIMIT, and the axes that hold it:
// the profile, the window, the baseline, the added point, and c = 0.
struct Scene {
  std::vector<Segment> profile;
  double from, to, base_from, base_to, added_c;
  double tmin, tmax;  // of the profile alone
  Axis ta, ca;
};

Scene prepare(const PlotData& plot) {
  std::vector<Segment> profile;
  for (const Segment& s : plot.profile)
    profile.push_back({clean(s.t0), clean(s.c0), clean(s.t1), clean(s.c1)});
  double from = std::min(clean(plot.from), clean(plot.to));
  double to = std::max(clean(plot.from), clean(plot.to));
  double base_from = plot.has_baseline ? clean(plot.base_from) : 0;
  double base_to = plot.has_baseline ? clean(plot.base_to) : 0;
  double added_c = clean(plot.added_c);

  double tmin = from, tmax = to, cmin = std::min({0.0, base_from, base_to});
  double cmax = std::max({0.0, base_from, base_to});
  double first = profile.empty() ? from : profile.front().t0, last = first;
  for (const Segment& s : profile) {
    first = std::min({first, s.t0, s.t1});
    last = std::max({last, s.t0, s.t1});
    cmin = std::min({cmin, s.c0, s.c1});
    cmax = std::max({cmax, s.c0, s.c1});
  }
  tmin = std::min(tmin, first), tmax = std::max(tmax, last);
  if (plot.point_added) {
    tmin = std::min(tmin, 0.0), tmax = std::max(tmax, 0.0);
    cmin = std::min(cmin, added_c), cmax = std::max(cmax, added_c);
  }
  return {std::move(profile), from, to, base_from, base_to, added_c, first, last,
          Axis(tmin, tmax, 7), Axis(cmin, cmax, 6)};
}

// A coordinate of the report's plot, to a tenth of a unit, without a trailing ".0".
std::string unit(double v) {
  std::string text = px(v);
  if (text.ends_with(".0")) text.resize(text.size() - 2);
  return text;
}

// The report's plot: a canvas of 300 x 165 units, shown at twice that size, and a
// plot area of 256 columns.
constexpr int REPORT_WIDTH = 300, REPORT_HEIGHT = 165;
constexpr Frame REPORT_FRAME{34, 290, 6, 141};

// Appends a whole number to a path, after a blank where the one before it would
// otherwise run into it.
void append_number(std::string& d, long v) {
  if (!d.empty() && v >= 0 && d.back() >= '0' && d.back() <= '9') d += ' ';
  d += std::to_string(v);
}

// How far, in units, a step of the report's path may pass from a point it leaves out.
constexpr double SLEEVE = 0.35;

// The points as relative steps in whole units: "M" to the first, "m" over a jump, and
// "l" steps. A run of points that one straight step passes within SLEEVE of (in
// height) is that one step, from the run's first point to its last: a smooth
// 1000-point profile takes some tens of steps, a noisy one some hundreds.
std::string compact_path(const std::vector<Point>& points) {
  std::string d;
  char command = 0;
  const auto put = [&](char c, long a, long b) {
    if (command != c) d += c, command = c;
    append_number(d, a);
    append_number(d, b);
  };
  const auto whole = [](double v) { return std::lround(std::clamp(v, -1e6, 1e6)); };
  long pen_x = 0, pen_y = 0;       // where the path is, in whole units
  Point start{0, 0, false}, end{0, 0, false};  // the run being drawn: from the point at the pen
  bool run = false;
  double low = 0, high = 0;         // the slopes that pass every point of the run
  const auto flush = [&] {
    if (!run) return;
    const long x = whole(end.x), y = whole(end.y);
    if (x != pen_x || y != pen_y) put('l', x - pen_x, y - pen_y);
    pen_x = x, pen_y = y, start = end, run = false;
  };
  for (const Point& p : points) {
    if (d.empty() || p.jump) {
      flush();
      const long x = whole(p.x), y = whole(p.y);
      if (d.empty()) put('M', x, y);
      else put('m', x - pen_x, y - pen_y);
      pen_x = x, pen_y = y, start = p;
      continue;
    }
    const double dx = p.x - start.x, dy = p.y - start.y;
    if (run && dx > 0 && end.x > start.x && dy / dx >= low && dy / dx <= high) {
      low = std::max(low, (dy - SLEEVE) / dx), high = std::min(high, (dy + SLEEVE) / dx);
      end = p;
      continue;
    }
    flush();
    const double ndx = p.x - start.x, ndy = p.y - start.y;
    run = true, end = p;
    low = ndx > 0 ? (ndy - SLEEVE) / ndx : 0, high = ndx > 0 ? (ndy + SLEEVE) / ndx : 0;
  }
  flush();
  return d;
}

std::string saved(const pugi::xml_document& doc, unsigned flags) {
  struct Collect : pugi::xml_writer {
    std::string bytes;
    void write(const void* data, std::size_t size) override {
      bytes.append(static_cast<const char*>(data), size);
    }
  } out;
  doc.save(out, "", flags, pugi::encoding_utf8);
  return std::move(out.bytes);
}

}  // namespace

std::string render_svg(const PlotData& plot) {
  const Scene scene = prepare(plot);
  const std::vector<Segment>& profile = scene.profile;
  const double from = scene.from, to = scene.to, base_from = scene.base_from, base_to = scene.base_to,
               added_c = scene.added_c;
  const Axis &ta = scene.ta, &ca = scene.ca;
  auto x = [&](double t) { return px(ta.map(t, LEFT, RIGHT)); };
  auto y = [&](double c) { return px(ca.map(c, BOTTOM, TOP)); };

  pugi::xml_document doc;
  pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  const std::string width = std::to_string(WIDTH), height = std::to_string(HEIGHT);
  pugi::xml_node svg = element(doc, "svg",
                               {{"xmlns", "http://www.w3.org/2000/svg"},
                                {"width", width},
                                {"height", height},
                                {"viewBox", "0 0 " + width + ' ' + height},
                                {"font-family", "sans-serif"},
                                {"font-size", "12"}});
  element(svg, "rect", {{"width", "100%"}, {"height", "100%"}, {"fill", "white"}});
  std::string area = std::isfinite(plot.peak_area)
                         ? number(plot.peak_area, std::chars_format::general, 9)
                         : "not computed";
  element(svg, "text",
          {{"class", "title"}, {"x", std::to_string(WIDTH / 2)}, {"y", "24"},
           {"text-anchor", "middle"}, {"font-size", "15"}})
      .text() = title(plot.title, area).c_str();

  // Grid lines, tick marks and their labels.
  pugi::xml_node ticks = element(svg, "g", {{"class", "ticks"}, {"stroke", "#ddd"}});
  for (int i = 0; i <= ta.count(); ++i)
    element(ticks, "line", {{"x1", x(ta.tick(i))}, {"y1", px(TOP)}, {"x2", x(ta.tick(i))},
                            {"y2", px(BOTTOM + 5)}});
  for (int i = 0; i <= ca.count(); ++i)
    element(ticks, "line", {{"x1", px(LEFT - 5)}, {"y1", y(ca.tick(i))}, {"x2", px(RIGHT)},
                            {"y2", y(ca.tick(i))}});
  pugi::xml_node labels = element(svg, "g", {{"class", "tick-labels"}});
  for (int i = 0; i <= ta.count(); ++i)
    element(labels, "text",
            {{"x", x(ta.tick(i))}, {"y", px(BOTTOM + 19)}, {"text-anchor", "middle"}})
        .text() = ta.label(i).c_str();
  for (int i = 0; i <= ca.count(); ++i)
    element(labels, "text",
            {{"x", px(LEFT - 8)}, {"y", px(ca.map(ca.tick(i), BOTTOM, TOP) + 4)},
             {"text-anchor", "end"}})
        .text() = ca.label(i).c_str();

  // The window, shaded between the profile and the baseline (or c = 0).
  std::vector<Point> points = trace(profile, ta, ca, FILE_FRAME);
  if (!profile.empty() && to > from) {
    double xf = ta.map(from, LEFT, RIGHT), xt = ta.map(to, LEFT, RIGHT);
    std::vector<Point> shade{{xf, ca.map(value_at(profile, from), BOTTOM, TOP), false}};
    for (const Point& p : points)
      if (p.x > xf && p.x < xt) shade.push_back(p);
    shade.push_back({xt, ca.map(value_at(profile, to), BOTTOM, TOP), false});
    shade.push_back({xt, ca.map(base_to, BOTTOM, TOP), false});
    shade.push_back({xf, ca.map(base_from, BOTTOM, TOP), false});
    element(svg, "path", {{"class", "window"}, {"fill", "#8ab8e6"}, {"fill-opacity", "0.5"},
                          {"stroke", "none"}, {"d", path_data(shade, true)}});
  }
  if (ca.lo < 0 && ca.hi > 0)
    element(svg, "line", {{"class", "zero"}, {"x1", px(LEFT)}, {"y1", y(0)}, {"x2", px(RIGHT)},
                          {"y2", y(0)}, {"stroke", "#888"}});
  if (!points.empty())
    element(svg, "path", {{"class", "profile"}, {"fill", "none"}, {"stroke", "#1f3f7f"},
                          {"stroke-width", "1.5"}, {"stroke-linejoin", "round"},
                          {"d", path_data(points, false)}});
  if (plot.has_baseline)
    element(svg, "line", {{"class", "baseline"}, {"x1", x(from)}, {"y1", y(base_from)},
                          {"x2", x(to)}, {"y2", y(base_to)}, {"stroke", "#c03030"},
                          {"stroke-dasharray", "6 4"}});
  if (plot.point_added)
    element(svg, "circle", {{"class", "added-point"}, {"cx", x(0)}, {"cy", y(added_c)}, {"r", "4"},
                            {"fill", "none"}, {"stroke", "#c03030"}, {"stroke-width", "1.5"}});

  // Axes and their names.
  std::string axes = "M";
  axes += px(LEFT) + ',' + px(TOP) + " L" + px(LEFT) + ',' + px(BOTTOM) + " L" + px(RIGHT) + ',' +
          px(BOTTOM);
  element(svg, "path", {{"class", "axes"}, {"fill", "none"}, {"stroke", "black"}, {"d", axes}});
  element(svg, "text",
          {{"x", px((LEFT + RIGHT) / 2.0)}, {"y", px(HEIGHT - 16)}, {"text-anchor", "middle"}})
      .text() = "time";
  const std::string middle = px((TOP + BOTTOM) / 2.0);
  element(svg, "text", {{"x", "18"}, {"y", middle}, {"text-anchor", "middle"},
                        {"transform", "rotate(-90 18 " + middle + ")"}})
      .text() = "concentration";

  // One element a line, in document order, without indentation.
  return saved(doc, pugi::format_indent);
}

std::string render_report_plot(const PlotData& plot) {
  const Scene scene = prepare(plot);
  const Frame& f = REPORT_FRAME;
  const Axis &ta = scene.ta, &ca = scene.ca;
  auto x = [&](double t) { return unit(ta.map(t, f.left, f.right)); };
  auto y = [&](double c) { return unit(ca.map(c, f.bottom, f.top)); };
  const std::string svg_ns = "http://www.w3.org/2000/svg";

  // The page's style gives the sizes, the font and the strokes (classes thumb, full,
  // trace, window, baseline, profile, ticks, added-point and axes).
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("plot");
  // The thumbnail: the plot area alone, stretched to its box.
  pugi::xml_node thumb = element(
      root, "svg",
      {{"class", "thumb"}, {"xmlns", svg_ns},
       {"viewBox", std::to_string(f.left) + ' ' + std::to_string(f.top) + ' ' + std::to_string(f.columns()) + ' ' +
                       std::to_string(f.bottom - f.top)},
       {"preserveAspectRatio", "none"}});
  pugi::xml_node trace_group = element(thumb, "g", {{"class", "trace"}});
  // A window narrower than the profile: a band over its times.
  if (!scene.profile.empty() && scene.to > scene.from && (scene.from > scene.tmin || scene.to < scene.tmax))
    element(trace_group, "rect",
            {{"class", "window"}, {"x", x(scene.from)}, {"y", unit(f.top)},
             {"width", unit(ta.map(scene.to, f.left, f.right) - ta.map(scene.from, f.left, f.right))},
             {"height", unit(f.bottom - f.top)}});
  if (plot.has_baseline)
    element(trace_group, "line",
            {{"class", "baseline"}, {"x1", x(scene.from)}, {"y1", y(scene.base_from)}, {"x2", x(scene.to)},
             {"y2", y(scene.base_to)}});
  const std::vector<Point> points = trace(scene.profile, ta, ca, f, true);
  if (!points.empty()) element(trace_group, "path", {{"class", "profile"}, {"d", compact_path(points)}});

  // The full view: axes, ticks and their labels around the same trace.
  pugi::xml_node full = element(root, "svg",
                                {{"class", "full"}, {"xmlns", svg_ns},
                                 {"viewBox", "0 0 " + std::to_string(REPORT_WIDTH) + ' ' + std::to_string(REPORT_HEIGHT)}});
  std::string grid;
  for (int i = 0; i <= ta.count(); ++i)
    grid += 'M' + x(ta.tick(i)) + ',' + unit(f.top) + 'V' + unit(f.bottom + 3);
  for (int i = 0; i <= ca.count(); ++i)
    grid += 'M' + unit(f.left - 3) + ',' + y(ca.tick(i)) + 'H' + unit(f.right);
  element(full, "path", {{"class", "ticks"}, {"d", grid}});
  pugi::xml_node labels = element(full, "g", {{"text-anchor", "middle"}});
  for (int i = 0; i <= ta.count(); ++i)
    element(labels, "text", {{"x", x(ta.tick(i))}, {"y", unit(f.bottom + 9)}}).text() = ta.label(i).c_str();
  labels = element(full, "g", {{"text-anchor", "end"}});
  for (int i = 0; i <= ca.count(); ++i)
    element(labels, "text", {{"x", unit(f.left - 4)}, {"y", unit(ca.map(ca.tick(i), f.bottom, f.top) + 2)}})
        .text() = ca.label(i).c_str();
  element(full, "use", {{"class", "trace"}});
  if (plot.point_added)
    element(full, "circle", {{"class", "added-point"}, {"cx", x(0)}, {"cy", y(scene.added_c)}, {"r", "2"}});
  element(full, "path",
          {{"class", "axes"}, {"d", 'M' + unit(f.left) + ',' + unit(f.top) + 'V' + unit(f.bottom) + 'H' + unit(f.right)}});
  element(full, "text",
          {{"x", unit((f.left + f.right) / 2.0)}, {"y", unit(REPORT_HEIGHT - 4)}, {"text-anchor", "middle"}})
      .text() = "time";
  const std::string middle = unit((f.top + f.bottom) / 2.0);
  element(full, "text", {{"x", "7"}, {"y", middle}, {"text-anchor", "middle"},
                         {"transform", "rotate(-90 7 " + middle + ")"}})
      .text() = "concentration";
  return saved(doc, pugi::format_raw);
}

}  // namespace batch
