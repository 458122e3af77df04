// The table: one row per file as CSV (RFC 4180, LF line ends), TSV (backslash
// escapes) or JSON Lines; and the reading of a child's console bytes into message
// lines.

#include <cmath>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "batch.h"

namespace batch {
namespace {

constexpr const char* COLUMNS[] = {"file",        "profile",     "points",
                                   "first_time",  "last_time",   "max_concentration",
                                   "time_of_max", "peak_area",   "area_above",
                                   "point_added", "exact_area",  "status",
                                   "messages"};
// The columns holding numbers: `points` and the reals.
constexpr std::size_t FIRST_NUMBER = 2, LAST_NUMBER = 10;

// %.9g: enough digits to read back the same real.
std::string real_text(double value) {
  if (std::isnan(value)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

}  // namespace

const std::vector<std::string>& table_columns() {
  static const std::vector<std::string> columns(std::begin(COLUMNS), std::end(COLUMNS));
  return columns;
}

bool is_number_column(std::size_t column) { return column >= FIRST_NUMBER && column <= LAST_NUMBER; }

std::vector<std::string> table_fields(const Row& row) {
  return {escape_name(row.file),
          escape_name(row.profile),
          row.points < 0 ? std::string() : std::to_string(row.points),
          real_text(row.first_time),
          real_text(row.last_time),
          real_text(row.max_concentration),
          real_text(row.time_of_max),
          real_text(row.peak_area),
          real_text(row.area_above),
          real_text(row.point_added),
          real_text(row.exact_area),
          row.ok ? "ok" : "error",
          escape_name(joined(row.messages))};
}

namespace {

// RFC 4180: a field holding a comma, a quote or a line end is quoted, its quotes
// doubled; line breaks inside messages stay inside the quoted field.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// TSV cannot quote: backslash, tab, LF and CR are written as \\, \t, \n and \r.
std::string tsv_field(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '\t': escaped += "\\t"; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
  return std::string(text);
}

// " WARNING  ERROR 2 from Q2AGS.  Roundoff ..." -> "WARNING 2 from Q2AGS: Roundoff ...";
// a header of another shape is kept as it is.
std::string message_header(std::string_view header) {
  char type[16], word[16], name[40];
  int code = 0, used = 0;
  const std::string text(header);
  if (std::sscanf(text.c_str(), " %15s %15s %d from %39[^. ]%n", type, word, &code, name, &used) == 4 &&
      std::string_view(word) == "ERROR") {
    std::string_view rest = std::string_view(text).substr(static_cast<std::size_t>(used));
    if (!rest.empty() && rest.front() == '.') rest.remove_prefix(1);
    return std::string(type) + " " + std::to_string(code) + " from " + name + ": " + trimmed(rest);
  }
  return trimmed(header);
}

}  // namespace

std::vector<std::string> console_messages(std::string_view console, std::string_view report) {
  std::vector<std::string> messages;
  // Message blocks: a header line "*** <type> ERROR <code> from <routine>.  <text>",
  // continuation lines "***          <text>"; tracebacks and other lines are left out.
  constexpr std::string_view MARK = "***";
  constexpr std::string_view CONTINUATION = "***          ";
  std::size_t start = 0;
  bool in_message = false;
  while (start < console.size()) {
    std::size_t end = console.find('\n', start);
    if (end == std::string_view::npos) end = console.size();
    std::string_view line = console.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with(CONTINUATION) && in_message) {
      const std::string more = trimmed(line.substr(CONTINUATION.size()));
      if (!more.empty()) messages.back() += " " + more;
    } else if (line.starts_with(MARK)) {
      messages.push_back(message_header(line.substr(MARK.size())));
      in_message = true;
    } else {
      in_message = false;
    }
  }
  // The run-time report: its non-empty lines as one message.
  std::string text;
  start = 0;
  while (start < report.size()) {
    std::size_t end = report.find('\n', start);
    if (end == std::string_view::npos) end = report.size();
    const std::string line = trimmed(report.substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    if (!text.empty()) text += ' ';
    text += line;
  }
  if (!text.empty()) messages.push_back(text);
  return messages;
}

std::string table_header(Format format) {
  if (format == Format::Json) return {};
  std::string line;
  for (const char* column : COLUMNS) {
    if (!line.empty()) line += format == Format::Csv ? ',' : '\t';
    line += column;
  }
  return line + '\n';
}

std::string table_row(const Row& row, Format format) {
  const std::vector<std::string> fields = table_fields(row);
  if (format == Format::Json) {
    // The library escapes the names and the texts; a number is written with the very
    // digits of the CSV table (%.9g), which are valid JSON, and an absent one as null.
    using nlohmann::json;
    std::string line = "{";
    for (std::size_t k = 0; k < fields.size(); ++k) {
      if (k > 0) line += ',';
      line += json(COLUMNS[k]).dump();
      line += ':';
      const bool number = is_number_column(k);
      if (!number) line += json(fields[k]).dump(-1, ' ', false, json::error_handler_t::replace);
      else line += fields[k].empty() ? "null" : fields[k];
    }
    return line + "}\n";
  }
  std::string line;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    if (k > 0) line += format == Format::Csv ? ',' : '\t';
    line += format == Format::Csv ? csv_field(fields[k]) : tsv_field(fields[k]);
  }
  return line + '\n';
}

}  // namespace batch
