// The report page: one self-contained HTML file in polyglot XHTML/HTML5 markup. It is
// built as a pugixml tree and written by pugixml, which escapes every text and
// attribute value, so that names and messages are always data. Non-void HTML elements
// are never written as empty-element tags (an HTML parser would read "<td/>" as an
// open cell), and void ones (meta, wbr) always are. The page's style and script are
// constants here, free of the characters that XML would escape, so that they reach
// the page as written; the script only sorts the table.

#include <pugixml.hpp>

#include <string>
#include <string_view>
#include <utility>

#include "batch.h"

namespace batch {
namespace {

constexpr const char* XHTML = "http://www.w3.org/1999/xhtml";

constexpr std::string_view STYLE = R"CSS(
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #222; background: #fff; }
h1 { font-size: 1.5em; margin: 0 0 0.4em; }
h2 { font-size: 1.15em; margin: 1.2em 0 0.4em; }
div.facts { display: flex; flex-wrap: wrap; gap: 0.5em 4em; align-items: flex-start; }
table.summary { border-collapse: collapse; }
table.summary th { text-align: left; font-weight: normal; padding: 1px 1.5em 1px 0; }
table.summary td { text-align: right; font-variant-numeric: tabular-nums; }
dl.options { display: grid; grid-template-columns: max-content auto; gap: 1px 1.5em; margin: 0; }
dl.options dt { color: #555; }
dl.options dd { margin: 0; }
code.command { display: block; white-space: pre-wrap; word-break: break-all; background: #f4f4f4;
  padding: 0.5em; }
p.legend { color: #444; }
table.rows { border-collapse: collapse; font-size: 13px; }
table.rows th, table.rows td { border-bottom: 1px solid #ddd; padding: 3px 6px; vertical-align: top; }
table.rows thead th { position: sticky; top: 0; z-index: 2; background: #e8ecf4; text-align: left;
  vertical-align: bottom; }
table.rows td:nth-child(1), table.rows td:nth-child(n+5):nth-child(-n+13) { text-align: right;
  font-variant-numeric: tabular-nums; white-space: nowrap; }
table.rows td.messages { min-width: 18em; }
table.rows td.messages div { white-space: pre-wrap; overflow-wrap: break-word; }
table.rows td.file { overflow-wrap: break-word; min-width: 8em; max-width: 24em; }
tr.warning td, tr.flagged td { background: #fff3d1; }
tr.error td { background: #fde0e0; }
tr.error td.status { color: #a00000; font-weight: bold; }
span.mark { display: block; white-space: nowrap; font-weight: bold; }
td.plot { position: relative; }
td.plot summary { list-style: none; cursor: zoom-in; }
td.plot summary::-webkit-details-marker { display: none; }
td.plot details[open] summary { outline: 2px solid #1f3f7f; cursor: zoom-out; }
svg.thumb { display: block; width: 120px; height: 48px; background: #fff; border: 1px solid #ccc; }
svg.full { display: block; width: 600px; height: 330px; background: #fff; font: 6px sans-serif; }
rect.window { fill: #8ab8e6; fill-opacity: 0.35; }
line.baseline { stroke: #c03030; stroke-dasharray: 6 4; vector-effect: non-scaling-stroke; }
path.profile { fill: none; stroke: #1f3f7f; stroke-width: 1.5px; stroke-linejoin: round;
  vector-effect: non-scaling-stroke; }
path.ticks { fill: none; stroke: #ddd; stroke-width: 0.5; }
path.axes { fill: none; stroke: #000; stroke-width: 0.5; }
circle.added-point { fill: none; stroke: #c03030; stroke-width: 0.75; }
td.plot figure { position: absolute; left: 0; top: 100%; z-index: 3; margin: 0; padding: 6px;
  background: #fff; border: 1px solid #888; box-shadow: 0 4px 16px rgba(0, 0, 0, 0.3); }
td.plot figcaption { max-width: 600px; overflow-wrap: anywhere; }
th button { font: inherit; color: inherit; border: 0; background: none; padding: 0; cursor: pointer; }
th[aria-sort=ascending] button::after { content: " \25B2"; }
th[aria-sort=descending] button::after { content: " \25BC"; }
)CSS";

// Sorts the rows by the column whose heading is clicked: numbers as numbers, texts in
// the reader's order with digits as numbers, absent values last; a second click
// reverses. Without it the page is the same, in input order.
constexpr std::string_view SCRIPT = R"JS(
(function () {
  "use strict";
  var table = document.getElementById("rows");
  if (!table) return;
  var body = table.tBodies[0];
  var heads = table.tHead.rows[0].cells;
  function key(row, column, numeric) {
    var cell = row.cells[column];
    var text = cell.hasAttribute("data-key") ? cell.getAttribute("data-key") : cell.textContent;
    if (!numeric) return text;
    var value = text === "" ? NaN : Number(text);
    return isNaN(value) ? null : value;
  }
  function sortBy(column, numeric, descending) {
    var rows = Array.prototype.map.call(body.rows, function (row, index) {
      return {row: row, key: key(row, column, numeric), index: index};
    });
    rows.sort(function (a, b) {
      if (a.key === null || b.key === null) {
        if (a.key === b.key) return a.index - b.index;
        return a.key === null ? 1 : -1;
      }
      var order = numeric ? Math.sign(a.key - b.key)
                          : a.key.localeCompare(b.key, undefined, {numeric: true});
      return (descending ? -order : order) || a.index - b.index;
    });
    rows.forEach(function (item) { body.appendChild(item.row); });
  }
  Array.prototype.forEach.call(heads, function (head, column) {
    var type = head.getAttribute("data-type");
    if (type === "none") return;
    var button = document.createElement("button");
    button.type = "button";
    while (head.firstChild) button.appendChild(head.firstChild);
    head.appendChild(button);
    button.addEventListener("click", function () {
      var descending = head.getAttribute("aria-sort") === "ascending";
      Array.prototype.forEach.call(heads, function (other) { other.removeAttribute("aria-sort"); });
      head.setAttribute("aria-sort", descending ? "descending" : "ascending");
      sortBy(column, type === "number", descending);
    });
  });
})();
)JS";

// The script's SHA-256, in base64, for the page's policy: the only script that may run.
// The report test recomputes it from the page.
constexpr const char* SCRIPT_HASH = "sha256-1KzI1L/Shz1OR1dtR/urLkze1nb6s3g6LMpZSpnglYc=";

constexpr bool free_of_markup(std::string_view text) {
  for (const char c : text)
    if (c == '<' || c == '>' || c == '&') return false;
  return true;
}
static_assert(free_of_markup(STYLE) && free_of_markup(SCRIPT), "written as they are, unescaped");

// The elements HTML writes without an end tag.
bool is_void(std::string_view name) { return name == "meta" || name == "wbr"; }

pugi::xml_node node(pugi::xml_node parent, const char* name,
                    std::initializer_list<std::pair<const char*, std::string>> attributes = {}) {
  pugi::xml_node element = parent.append_child(name);
  for (const auto& [key, value] : attributes) element.append_attribute(key) = value.c_str();
  return element;
}

pugi::xml_node add_text(pugi::xml_node parent, const char* name, const std::string& text,
                        std::initializer_list<std::pair<const char*, std::string>> attributes = {}) {
  pugi::xml_node element = node(parent, name, attributes);
  element.append_child(pugi::node_pcdata).set_value(text.c_str());
  return element;
}

// Every empty HTML element that is not void gets an empty text, so that pugixml writes
// its end tag (and void ones, such as wbr, none); the plots' SVG elements keep their empty-element tags, which HTML reads
// as such inside <svg>.
void close_empty_elements(pugi::xml_node node) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || std::string_view(child.name()) == "svg") continue;
    if (!child.first_child() && !is_void(child.name())) child.append_child(pugi::node_pcdata);
    close_empty_elements(child);
  }
}

std::string count_text(std::size_t n) { return std::to_string(n); }

}  // namespace

struct Report::Page {
  ReportInfo info;
  pugi::xml_document doc;
  pugi::xml_node body;
  std::size_t rows = 0, ok = 0, errors = 0, warnings = 0, flagged = 0;
};

Report::Report(ReportInfo info) : page_(std::make_unique<Page>()) {
  Page& p = *page_;
  p.info = std::move(info);
  p.doc.append_child(pugi::node_doctype).set_value("html");
  pugi::xml_node html = node(p.doc, "html", {{"xmlns", XHTML}, {"lang", "en"}, {"xml:lang", "en"}});
  pugi::xml_node head = node(html, "head");
  node(head, "meta", {{"charset", "UTF-8"}});
  node(head, "meta", {{"http-equiv", "Content-Security-Policy"},
                     {"content", std::string("default-src 'none'; style-src 'unsafe-inline'; script-src '") +
                                     SCRIPT_HASH + "'"}});
  node(head, "meta", {{"name", "viewport"}, {"content", "width=device-width, initial-scale=1"}});
  node(head, "meta", {{"name", "generator"}, {"content", "quintolex-batch " + p.info.version}});
  add_text(head, "title", "quintolex-batch report");
  add_text(head, "style", std::string(STYLE));
  pugi::xml_node page_body = node(html, "body");
  add_text(page_body, "h1", "quintolex-batch report");
  node(page_body, "section", {{"id", "summary"}});

  pugi::xml_node section = node(page_body, "section", {{"id", "profiles"}});
  add_text(section, "h2", "Profiles");
  add_text(section, "p",
           "One row per profile, in input order, with the table's digits. Marks: \xE2\x9C\x96 error (the row "
           "has no result), \xE2\x9A\xA0 warning (the quadrature printed a warning), \xE2\x9A\x91 exact area "
           "(peak_area misses the exact area of the profile). A thumbnail opens its full plot; a column "
           "heading sorts the rows.",
           {{"class", "legend"}});
  pugi::xml_node table = node(section, "table", {{"id", "rows"}, {"class", "rows"}});
  pugi::xml_node heading = node(node(table, "thead"), "tr");
  add_text(heading, "th", "#", {{"data-type", "number"}, {"scope", "col"}});
  add_text(heading, "th", "plot", {{"data-type", "none"}, {"scope", "col"}});
  const std::vector<std::string>& columns = table_columns();
  // A long column name may break after its underscores.
  for (std::size_t k = 0; k < columns.size(); ++k) {
    pugi::xml_node th = node(heading, "th", {{"data-type", is_number_column(k) ? "number" : "text"}, {"scope", "col"}});
    std::size_t start = 0;
    for (std::size_t end; (end = columns[k].find('_', start)) != std::string::npos; start = end + 1) {
      th.append_child(pugi::node_pcdata).set_value(columns[k].substr(start, end + 1 - start).c_str());
      node(th, "wbr");
    }
    th.append_child(pugi::node_pcdata).set_value(columns[k].substr(start).c_str());
  }
  p.body = node(table, "tbody");
  node(page_body, "script").append_child(pugi::node_pcdata).set_value(std::string(SCRIPT).c_str());
}

Report::~Report() = default;

void Report::add(const Row& row) {
  Page& p = *page_;
  const std::size_t number = ++p.rows;
  p.ok += row.ok ? 1 : 0;
  p.errors += row.ok ? 0 : 1;
  p.warnings += row.warning ? 1 : 0;
  p.flagged += row.misses_exact ? 1 : 0;

  std::string kind = row.ok ? "ok" : "error";
  if (row.warning) kind += " warning";
  if (row.misses_exact) kind += " flagged";
  // A line of the page's text per row.
  p.body.append_child(pugi::node_pcdata).set_value("\n");
  pugi::xml_node tr = node(p.body, "tr", {{"id", "row-" + std::to_string(number)}, {"class", kind}});
  add_text(tr, "td", std::to_string(number));

  pugi::xml_node plot_cell = node(tr, "td", {{"class", "plot"}});
  pugi::xml_document fragment;
  const pugi::xml_parse_result parsed =
      row.report_plot.empty() ? pugi::xml_parse_result()
                              : fragment.load_buffer(row.report_plot.data(), row.report_plot.size());
  const pugi::xml_node thumb = fragment.child("plot").find_child_by_attribute("svg", "class", "thumb");
  const pugi::xml_node full = fragment.child("plot").find_child_by_attribute("svg", "class", "full");
  const std::vector<std::string> fields = table_fields(row);
  if (parsed && thumb && full) {
    const std::string id = "trace-" + std::to_string(number);
    pugi::xml_node details = node(plot_cell, "details");
    pugi::xml_node summary = node(details, "summary", {{"title", "full plot"}});
    pugi::xml_node small = summary.append_copy(thumb);
    small.find_child_by_attribute("g", "class", "trace").append_attribute("id") = id.c_str();
    pugi::xml_node figure = node(details, "figure");
    std::string caption = escape_name_for_markup(row.file);
    if (!row.profile.empty()) caption += " \xE2\x80\x94 " + escape_name_for_markup(row.profile);
    caption += " \xE2\x80\x94 peak area " + (fields[7].empty() ? std::string("not computed") : fields[7]);
    add_text(figure, "figcaption", caption);
    pugi::xml_node large = figure.append_copy(full);
    large.find_child_by_attribute("use", "class", "trace").append_attribute("href") = ("#" + id).c_str();
  } else {
    add_text(plot_cell, "span", "no plot", {{"class", "none"}});
  }

  const std::vector<std::string>& columns = table_columns();
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const std::string& column = columns[k];
    if (column == "status") {
      pugi::xml_node cell = node(tr, "td", {{"class", "status"}, {"data-key", fields[k]}});
      if (!row.ok) add_text(cell, "span", "\xE2\x9C\x96 error", {{"class", "mark"}});
      else cell.append_child(pugi::node_pcdata).set_value("ok");
      if (row.warning) add_text(cell, "span", "\xE2\x9A\xA0 warning", {{"class", "mark"}});
      if (row.misses_exact) add_text(cell, "span", "\xE2\x9A\x91 exact area", {{"class", "mark"}});
    } else if (column == "messages") {
      pugi::xml_node cell = node(tr, "td", {{"class", "messages"}});
      for (const std::string& message : row.messages) add_text(cell, "div", escape_name_for_markup(message));
    } else if (is_number_column(k)) {
      add_text(tr, "td", fields[k]);
    } else {
      add_text(tr, "td", escape_name_for_markup(column == "file" ? row.file : row.profile), {{"class", column}});
    }
  }
}

std::string Report::page() const {
  const Page& p = *page_;
  pugi::xml_document doc;
  doc.reset(p.doc);
  pugi::xml_node summary = doc.child("html").child("body").find_child_by_attribute("section", "id", "summary");
  add_text(summary, "h2", "Summary");
  pugi::xml_node facts = node(summary, "div", {{"class", "facts"}});
  pugi::xml_node counts = node(node(facts, "table", {{"class", "summary"}}), "tbody");
  const std::pair<const char*, std::string> lines[] = {
      {"files", "Files"}, {"profiles", "Profiles (rows)"}, {"ok", "ok"}, {"error", "error"},
      {"warning", "with a quadrature warning"}, {"flagged", "whose peak area misses the exact area"}};
  const std::size_t values[] = {p.info.files, p.rows, p.ok, p.errors, p.warnings, p.flagged};
  for (std::size_t k = 0; k < std::size(lines); ++k) {
    pugi::xml_node tr = node(counts, "tr");
    add_text(tr, "th", lines[k].second, {{"scope", "row"}});
    add_text(tr, "td", count_text(values[k]), {{"id", std::string("count-") + lines[k].first}});
  }
  pugi::xml_node options = node(facts, "dl", {{"class", "options"}});
  for (const auto& [name, value] : p.info.options) {
    add_text(options, "dt", escape_name_for_markup(name));
    add_text(options, "dd", escape_name_for_markup(value));
  }
  add_text(summary, "h2", "Command");
  add_text(summary, "code", escape_name_for_markup(p.info.command_line), {{"class", "command"}});
  close_empty_elements(doc);

  struct Collect : pugi::xml_writer {
    std::string bytes;
    void write(const void* data, std::size_t size) override { bytes.append(static_cast<const char*>(data), size); }
  } out;
  // Indentation would double a page of a thousand plots: the page is written as it is
  // built, a line of text per row.
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return std::move(out.bytes);
}

}  // namespace batch
