// The second step: the text cut into lines. Exports end their lines with LF, with
// CR LF, or (older programs) with a lone CR; one file may even mix them.

#include <algorithm>
#include <cstring>
#include <string>

#include "reading.h"

namespace batch::reading {

Lines::Lines(std::string_view text) : rest_(text) {
  // Only a CR that no LF follows ends a line alone; most files have none, and their
  // lines are found at the speed of memchr.
  const char* p = text.data();
  const char* const end = p + text.size();
  while ((p = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)))) != nullptr) {
    if (p + 1 == end || p[1] != '\n') {
      lone_cr_ = true;
      break;
    }
    p += 2;
  }
}

bool Lines::next(std::string_view& line) {
  if (rest_.empty()) return false;
  ++number_;
  const char* const begin = rest_.data();
  const char* const end = begin + rest_.size();
  const char* p;
  if (lone_cr_) {
    p = begin;
    while (p < end && *p != '\n' && *p != '\r') ++p;
  } else {
    p = static_cast<const char*>(std::memchr(begin, '\n', rest_.size()));
    if (p == nullptr) p = end;
    if (p > begin && p[-1] == '\r') --p;
  }
  line = std::string_view(begin, static_cast<std::size_t>(p - begin));
  if (p < end && *p == '\r') p += p + 1 < end && p[1] == '\n' ? 2 : 1;
  else if (p < end) ++p;
  rest_.remove_prefix(static_cast<std::size_t>(p - begin));
  return true;
}

void Lines::pass_line_slowly(const char* inside) {
  ++number_;
  const char* const end = rest_.data() + rest_.size();
  const char* p = inside;
  if (lone_cr_) {
    while (p < end && *p != '\n' && *p != '\r') ++p;
    if (p < end && *p == '\r') p += p + 1 < end && p[1] == '\n' ? 2 : 1;
    else if (p < end) ++p;
  } else if (p < end && *p == '\n') {
    ++p;
  } else if (end - p >= 2 && p[0] == '\r' && p[1] == '\n') {
    p += 2;
  } else {
    p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    p = p == nullptr ? end : p + 1;
  }
  rest_.remove_prefix(static_cast<std::size_t>(p - rest_.data()));
}

std::string unreadable_line(std::string_view text) {
  const bool any_nul = std::memchr(text.data(), 0, text.size()) != nullptr;
  // A line longer than the limit leaves a stretch of LINE_LIMIT + 1 bytes without a
  // line end. Each step looks for the last line end in such a stretch, so a file of
  // ordinary lines is passed over a stretch at a time.
  bool too_long = false;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (static_cast<std::size_t>(end - p) > LINE_LIMIT) {
    const std::size_t last = std::string_view(p, LINE_LIMIT + 1).find_last_of("\r\n");
    if (last == std::string_view::npos) {
      too_long = true;
      break;
    }
    p += last + 1;
  }
  if (!any_nul && !too_long) return {};
  Lines lines(text);
  std::string_view line;
  while (lines.next(line)) {
    if (any_nul && std::memchr(line.data(), 0, line.size()) != nullptr)
      return std::to_string(lines.number()) + ": the line holds a NUL byte; this is not a text file";
    if (line.size() > LINE_LIMIT)
      return std::to_string(lines.number()) + ": the line is longer than " +
             std::to_string(LINE_LIMIT) + " bytes";
  }
  return {};
}

}  // namespace batch::reading
