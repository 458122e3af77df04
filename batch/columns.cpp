// The fourth step's tools: a line's fields, and what each field holds. Values convert
// exactly as the data reader of the dialogue converts them (the decimal text to the
// nearest double, then to the nearest real), so a pair read here is the pair the
// dialogue reads from the same texts.

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>

#include "console.h"
#include "reading.h"

namespace batch {
namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// At most this many significant digits are kept; a non-zero digit beyond them is
// kept as one final 1, which rounds to the same double (a value halfway between two
// doubles has at most 767 significant digits).
constexpr std::size_t SIGNIFICANT_LIMIT = 800;
constexpr long long EXPONENT_LIMIT = 1000000000000000LL;
// One double step above the largest real: magnitudes up to it read as the largest real.
constexpr double READ_BOUND = 0x1.fffffe0000001p+127;

// The double read from a value's text, to the real the dialogue's reader makes of it.
ValueRead to_real(double wide, bool negative, float& value) {
  const double magnitude = std::fabs(wide);
  if (magnitude > READ_BOUND) return ValueRead::OutOfRange;
  if (magnitude > static_cast<double>(FLT_MAX)) value = negative ? -FLT_MAX : FLT_MAX;
  else if (wide == 0.0) value = negative ? -0.0f : 0.0f;
  else value = static_cast<float>(wide);
  return ValueRead::Ok;
}

// The usual field where it stands: [sign] digits [<mark> digits] [e [sign] digits], with at
// most 19 significant digits, at most 4 exponent digits and a power of ten of at most
// 22, converted as convert_real converts the same text. Returns the place after it, or
// nullptr to leave the field to convert_real.
const char* quick_value(const char* p, const char* end, float& value, char mark) {
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  const char* const first = p;
  while (p < end && *p == '0') ++p;  // leading zeros are not significant
  std::uint64_t digits = 0;
  const char* significant_from = p;
  for (; p < end && is_digit(*p); ++p) digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
  std::ptrdiff_t significant = p - significant_from;
  bool any_digit = p != first;
  int places = 0;  // digits after the point
  if (p < end && *p == mark) {
    const char* const fraction = ++p;
    if (digits == 0)
      while (p < end && *p == '0') ++p;
    significant_from = p;
    for (; p < end && is_digit(*p); ++p) digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
    significant += p - significant_from;
    places = static_cast<int>(p - fraction);
    any_digit = any_digit || p != fraction;
  }
  // More than 19 digits may have wrapped around: left to convert_real.
  if (!any_digit || significant > 19) return nullptr;
  int exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    bool exponent_negative = false;
    if (++p < end && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
    const char* const exponent_start = p;
    for (; p < end && is_digit(*p) && p - exponent_start < 4; ++p) exponent = exponent * 10 + (*p - '0');
    if (p == exponent_start || (p < end && is_digit(*p))) return nullptr;
    if (exponent_negative) exponent = -exponent;
  }
  double wide = 0.0;
  if (digits != 0 && !exact_decimal(digits, exponent - places, wide)) return nullptr;
  // At most 2^53 * 10^22, below the largest real: no range to check.
  const float magnitude = static_cast<float>(wide);
  value = negative ? -magnitude : magnitude;
  return p;
}

}  // namespace

ValueRead convert_real(std::string_view text, float& value) {
  // The usual value, read as the in-place scan of a line reads it.
  if (quick_value(text.data(), text.data() + text.size(), value, '.') == text.data() + text.size())
    return ValueRead::Ok;
  // Syntax first: the sign, the digit runs before and after the point, the
  // exponent. From them the number of significant digits and the decimal exponent
  // of the first of them (`places`, which also tells an overflow from an underflow).
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '+' || *p == '-')) ++p;
  const char* const whole = p;
  while (p < end && is_digit(*p)) ++p;
  const char* const whole_end = p;
  const char* fraction = p;
  if (p < end && *p == '.') {
    fraction = ++p;
    while (p < end && is_digit(*p)) ++p;
  }
  const char* const fraction_end = p;
  if (whole == whole_end && fraction == fraction_end) return ValueRead::NotANumber;
  long long exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    bool exponent_negative = false;
    if (++p < end && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
    const char* const exponent_start = p;
    for (; p < end && is_digit(*p); ++p)
      if (exponent < EXPONENT_LIMIT) exponent = exponent * 10 + (*p - '0');
    if (p == exponent_start) return ValueRead::NotANumber;
    if (exponent_negative) exponent = -exponent;
  }
  if (p != end) return ValueRead::NotANumber;
  const char* first_nonzero = whole;
  while (first_nonzero < whole_end && *first_nonzero == '0') ++first_nonzero;
  long long leading;  // places of the first non-zero digit before (+) or after (-) the point
  std::size_t significant;
  if (first_nonzero < whole_end) {
    leading = whole_end - first_nonzero;
    significant = static_cast<std::size_t>((whole_end - first_nonzero) + (fraction_end - fraction));
  } else {
    first_nonzero = fraction;
    while (first_nonzero < fraction_end && *first_nonzero == '0') ++first_nonzero;
    leading = -(first_nonzero - fraction);
    significant = static_cast<std::size_t>(fraction_end - first_nonzero);
  }
  if (significant == 0) {
    value = negative ? -0.0f : 0.0f;
    return ValueRead::Ok;
  }
  const long long places = exponent + leading;


  // The usual value converts as written. One with a plus sign, or with more
  // significant digits than are kept, is rewritten as [-]0.<digits>e<places>, a
  // non-zero digit beyond the kept ones becoming one final 1.
  const char* first = begin;
  const char* last = end;
  char wide_text[SIGNIFICANT_LIMIT + 32];
  if (*begin == '+' || significant > SIGNIFICANT_LIMIT) {
    std::size_t length = 0;
    if (negative) wide_text[length++] = '-';
    wide_text[length++] = '0';
    wide_text[length++] = '.';
    std::size_t kept = 0;
    bool dropped_nonzero = false;
    for (const char* q = begin; q < end && (is_digit(*q) || *q == '.' || *q == '+' || *q == '-'); ++q) {
      if (!is_digit(*q) || (kept == 0 && *q == '0')) continue;
      if (kept < SIGNIFICANT_LIMIT) wide_text[length + kept++] = *q;
      else if (*q != '0') dropped_nonzero = true;
    }
    length += kept;
    if (dropped_nonzero) wide_text[length++] = '1';
    wide_text[length++] = 'e';
    first = wide_text;
    last = std::to_chars(wide_text + length, wide_text + sizeof wide_text, places).ptr;
  }
  double wide = 0.0;
  const std::from_chars_result result = std::from_chars(first, last, wide);
  if (result.ec == std::errc::result_out_of_range) {
    if (places > 0) return ValueRead::OutOfRange;
    wide = 0.0;
  } else if (result.ec != std::errc() || result.ptr != last) {
    return ValueRead::NotANumber;
  }
  return to_real(wide, negative, value);
}


namespace reading {
namespace {

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// A field whose value is a number once its one comma is a point: "0,5", "-12,25",
// ",5", or one of those beyond the largest real.
bool comma_decimal(std::string_view field) {
  const std::size_t comma = field.find(',');
  if (comma == std::string_view::npos || comma + 1 >= field.size() || !is_digit(field[comma + 1])) return false;
  if (comma > 0 && !is_digit(field[comma - 1]) && field[comma - 1] != '-' && field[comma - 1] != '+') return false;
  if (field.find(',', comma + 1) != std::string_view::npos || field.find('.') != std::string_view::npos) return false;
  std::string replaced(field);
  replaced[comma] = '.';
  float value;
  return convert_real(replaced, value) != ValueRead::NotANumber;
}

// "12:30", "0:04:22", "1:16:22.5": hours, minutes and maybe seconds.
bool clock_time(std::string_view field) {
  if (!field.empty() && (field.front() == '-' || field.front() == '+')) field.remove_prefix(1);
  int parts = 0;
  while (true) {
    std::size_t digits = 0;
    while (digits < field.size() && is_digit(field[digits])) ++digits;
    if (digits == 0) return false;
    ++parts;
    field.remove_prefix(digits);
    if (field.empty()) return parts >= 2;
    if (field.front() == '.' && parts >= 2) {
      field.remove_prefix(1);
      return !field.empty() && std::all_of(field.begin(), field.end(), is_digit);
    }
    if (field.front() != ':' || parts == 3) return false;
    field.remove_prefix(1);
  }
}

// A number written with group separators: "1,087.32", "1.087,32", "1,234,567".
bool grouped_number(std::string_view field) {
  if (!field.empty() && (field.front() == '-' || field.front() == '+')) field.remove_prefix(1);
  const std::size_t commas = static_cast<std::size_t>(std::count(field.begin(), field.end(), ','));
  const std::size_t points = static_cast<std::size_t>(std::count(field.begin(), field.end(), '.'));
  if (commas == 0 || (points == 0 && commas < 2)) return false;
  if (field.empty() || !is_digit(field.front()) || !is_digit(field.back())) return false;
  for (std::size_t k = 0; k < field.size(); ++k) {
    const char c = field[k];
    if (is_digit(c)) continue;
    if ((c != ',' && c != '.') || !is_digit(field[k - 1]) || !is_digit(field[k + 1])) return false;
  }
  return true;
}

}  // namespace

std::size_t split_fields(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t pos = 0;
  const std::size_t size = line.size();
  if (separator == ' ') {
    while (pos < size && is_blank(line[pos])) ++pos;
    if (pos == size) return 0;
  }
  while (true) {
    if (separator != ' ')
      while (pos < size && (line[pos] == ' ' || (line[pos] == '\t' && separator != '\t'))) ++pos;
    std::string_view field;
    std::size_t end;
    if (pos < size && line[pos] == '"') {
      // A quoted field runs to its closing quote ("" inside is a quote); anything
      // between that and the next separator is dropped.
      std::size_t close = pos + 1;
      while (close < size && (line[close] != '"' || (close + 1 < size && line[close + 1] == '"'))) {
        close += line[close] == '"' ? 2 : 1;
      }
      field = trim(line.substr(pos + 1, std::min(close, size) - pos - 1));
      end = close;
      while (end < size && (separator == ' ' ? !is_blank(line[end]) : line[end] != separator)) ++end;
    } else {
      end = pos;
      while (end < size && (separator == ' ' ? !is_blank(line[end]) : line[end] != separator)) ++end;
      field = trim(line.substr(pos, end - pos));
    }
    fields.push_back(field);
    if (end >= size) break;
    pos = end + 1;
    if (separator == ' ') {
      while (pos < size && is_blank(line[pos])) ++pos;
      if (pos == size) break;
    }
  }
  return fields.size();
}

char separator_of(std::string_view line, bool decimal_comma) {
  if (line.find('\t') != std::string_view::npos) return '\t';
  if (line.find(';') != std::string_view::npos) return ';';
  if (decimal_comma || line.find(',') == std::string_view::npos) return ' ';
  // A quote beside a comma belongs to comma-separated values ("1","2"); split at
  // blanks, a quoted field would also hide what follows it.
  if (line.find("\",") != std::string_view::npos || line.find(",\"") != std::string_view::npos) return ',';
  // Blank-separated numbers with decimal commas: every field reads as a number with
  // its comma a point, and at least two of them. A comma that begins a field
  // separates: "2 ,1" is 2 and 1.
  std::vector<std::string_view> fields;
  if (split_fields(line, ' ', fields) < 2) return ',';
  for (const std::string_view field : fields) {
    float value;
    if (field.starts_with(',')) return ',';
    if (!comma_decimal(field) && !(field.find(',') == std::string_view::npos &&
                                   field.find('.') == std::string_view::npos &&
                                   convert_real(field, value) == ValueRead::Ok))
      return ',';
  }
  return ' ';
}

bool starts_numeric(std::string_view field) {
  std::size_t k = 0;
  if (k < field.size() && (field[k] == '-' || field[k] == '+')) ++k;
  if (k < field.size() && (field[k] == '.' || field[k] == ',')) ++k;
  return k < field.size() && is_digit(field[k]);
}

bool number_like(std::string_view field) {
  if (!starts_numeric(field)) return false;
  for (const char c : field)
    if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && c != 'e' && c != 'E') return false;
  return true;
}

bool is_missing(std::string_view field) {
  if (field.size() > 4) return false;
  std::string lower(field);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower.empty() || lower == "-" || lower == "na" || lower == "n/a" || lower == "n.a." ||
         lower == "nan";
}

Value read_value(std::string_view field, char separator, Decimal& decimal, bool decimal_comma, float& value) {
  if (is_missing(field)) return Value::Missing;
  const bool comma = field.find(',') != std::string_view::npos;
  const bool point = field.find('.') != std::string_view::npos;
  if (comma && grouped_number(field)) return Value::Thousands;
  if (comma && separator == ',') return comma_decimal(field) ? Value::CommaSeparated : Value::NotANumber;
  std::string replaced;
  if (comma) {
    if (!decimal_comma && (!comma_decimal(field) || decimal == Decimal::Point)) {
      return comma_decimal(field) ? Value::MixedDecimal : Value::NotANumber;
    }
    replaced.assign(field);
    std::replace(replaced.begin(), replaced.end(), ',', '.');
    field = replaced;
  } else if (point && decimal == Decimal::Comma && !decimal_comma) {
    float ignored;
    if (convert_real(field, ignored) == ValueRead::Ok) return Value::MixedDecimal;
  }
  switch (convert_real(field, value)) {
    case ValueRead::Ok:
      if (decimal == Decimal::Unknown && (comma || point)) decimal = comma ? Decimal::Comma : Decimal::Point;
      return Value::Number;
    case ValueRead::OutOfRange: return Value::OutOfRange;
    case ValueRead::NotANumber: break;
  }
  return clock_time(field) ? Value::ClockTime : Value::NotANumber;
}

namespace {

// The usual line of all: time and value as its first two fields.
const char* quick_pair(const char* p, const char* end, char separator, char mark, float& time, float& value) {
  const auto line_end = [&](const char* q) { return q == end || *q == '\n' || *q == '\r'; };
  const auto spaces = [&](const char* q) {
    while (q < end && (*q == ' ' || (*q == '\t' && separator != '\t'))) ++q;
    return q;
  };
  if (separator == ' ') {
    while (p < end && is_blank(*p)) ++p;
    p = quick_value(p, end, time, mark);
    if (p == nullptr || line_end(p) || !is_blank(*p)) return nullptr;
    while (p < end && is_blank(*p)) ++p;
    p = quick_value(p, end, value, mark);
    return p != nullptr && (line_end(p) || is_blank(*p)) ? p : nullptr;
  }
  p = quick_value(spaces(p), end, time, mark);
  if (p == nullptr) return nullptr;
  p = spaces(p);
  if (line_end(p) || *p != separator) return nullptr;
  p = quick_value(spaces(p + 1), end, value, mark);
  if (p == nullptr) return nullptr;
  const char* const after = spaces(p);
  return line_end(after) || *after == separator ? p : nullptr;
}

}  // namespace

const char* quick_fields(const char* p, const char* end, char separator, char mark, std::size_t time_column,
                         std::size_t value_column, float& time, float& value) {
  if (time_column == 0 && value_column == 1) return quick_pair(p, end, separator, mark, time, value);
  const std::size_t last = std::max(time_column, value_column);
  const auto line_end = [&](const char* q) { return q == end || *q == '\n' || *q == '\r'; };
  const auto spaces = [&](const char* q) {  // the blanks a field's trimming removes
    while (q < end && (*q == ' ' || (*q == '\t' && separator != '\t'))) ++q;
    return q;
  };
  if (separator == ' ')
    while (p < end && is_blank(*p)) ++p;
  for (std::size_t column = 0;; ++column) {
    if (separator != ' ') p = spaces(p);
    if (column == time_column || column == value_column) {
      float& into = column == time_column ? time : value;
      p = quick_value(p, end, into, mark);
      if (p == nullptr) return nullptr;
      if (column == last) {
        // The field must end here: at the line's end, a blank, or the separator.
        if (line_end(p) || (separator == ' ' && is_blank(*p))) return p;
        if (separator == ' ') return nullptr;
        const char* const after = spaces(p);
        return line_end(after) || *after == separator ? p : nullptr;
      }
      if (separator == ' ') {
        if (line_end(p) || !is_blank(*p)) return nullptr;
      } else {
        p = spaces(p);
        if (line_end(p) || *p != separator) return nullptr;
      }
    } else {
      // A field passed over: no quote in it, which could hide a separator.
      while (!line_end(p) && (separator == ' ' ? !is_blank(*p) : *p != separator)) {
        if (*p == '"') return nullptr;
        ++p;
      }
      if (line_end(p)) return nullptr;
    }
    if (separator == ' ') {
      while (p < end && is_blank(*p)) ++p;
      if (line_end(p)) return nullptr;
    } else {
      ++p;
    }
  }
}

std::size_t quick_lines(Lines& lines, char separator, char mark, std::size_t time_column, std::size_t value_column,
                        Reals& times, Reals& values) {
  const std::size_t before = times.size();
  float time, value;
  for (std::string_view rest = lines.rest(); !rest.empty(); rest = lines.rest()) {
    const char* const end = rest.data() + rest.size();
    const char* const after = quick_fields(rest.data(), end, separator, mark, time_column, value_column, time, value);
    if (after == nullptr) break;
    times.push_back(time);
    values.push_back(value);
    lines.pass_line(after);
  }
  return times.size() - before;
}

}  // namespace reading
}  // namespace batch
