// Reading real exports: one (time, concentration) pair per line, as laboratory
// programs and spreadsheets write them. Values convert exactly as the data reader of
// the dialogue converts them, so a pair read here is the pair the dialogue reads.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "batch.h"
#include "console.h"
#include "driver.h"

namespace batch {
namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// At most this many significant digits are kept; a non-zero digit beyond them is
// kept as one final 1, which rounds to the same double (a value halfway between two
// doubles has at most 767 significant digits).
constexpr std::size_t SIGNIFICANT_LIMIT = 800;
constexpr long long EXPONENT_LIMIT = 1000000000000000LL;
// One double step above the largest real: magnitudes up to it read as the largest real.
constexpr double READ_BOUND = 0x1.fffffe0000001p+127;

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// What a line's text looks like inside an error message: quoted, cut after 40 bytes.
std::string quoted(std::string_view text) {
  constexpr std::size_t SHOWN = 40;
  std::string shown = "\"";
  shown.append(text.substr(0, SHOWN));
  if (text.size() > SHOWN) shown += "...";
  shown += '"';
  return shown;
}

const char* quick_value(const char* p, const char* end, float& value);

enum class Field { Ok, Empty, NotANumber, OutOfRange, DecimalComma };

enum class LineRead { Skipped, Pair, Failed };

// Reads the lines of one export, one at a time.
class Parser {
 public:
  Parser(std::string_view name, bool decimal_comma, Export& out)
      : name_(name), decimal_comma_(decimal_comma), out_(out) {}

  // Takes one line without its LF: a pair, a skipped line, or an error (in `out`).
  LineRead line(std::string_view text, float& time, float& concentration) {
    ++line_number_;
    if (line_number_ == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    const std::string_view content = trim(text);
    if (content.empty() || content.front() == '#') return LineRead::Skipped;

    if (separator_ != 0 && !decimal_comma_ && quick_pair(content, time, concentration))
      return LineRead::Pair;
    const char separator = separator_ != 0 ? separator_ : separator_of(content);
    std::string_view fields[2];
    const int count = split(content, separator, fields);
    const Field time_read = value(fields[0], separator, time);
    if (separator_ == 0) {
      if (time_read == Field::Empty || time_read == Field::NotANumber) {
        ++headers_;
        return LineRead::Skipped;
      }
      separator_ = separator;  // the first data line sets the file's separator
    }
    if (time_read != Field::Ok) return fail(time_read, fields[0], content, "time");
    const Field concentration_read =
        count < 2 ? Field::Empty : value(fields[1], separator, concentration);
    if (concentration_read != Field::Ok)
      return fail(concentration_read, fields[1], content, "concentration");
    return LineRead::Pair;
  }

  int line_number() const { return line_number_; }

  void finish(bool any_pair) {
    if (headers_ == 1) out_.notes.push_back("header line skipped");
    if (headers_ > 1) out_.notes.push_back(std::to_string(headers_) + " header lines skipped");
    if (out_.error.empty() && !any_pair) out_.error = std::string(name_) + ": no data";
  }

 private:
  // The usual data line once the separator is known: two plain values with the
  // separator between them, later fields ignored. Anything else goes the general way,
  // which reads the same values from the same texts.
  bool quick_pair(std::string_view content, float& time, float& concentration) const {
    const char* const end = content.data() + content.size();
    const auto spaces = [&](const char* q) {  // the blanks a field's trimming removes
      while (q < end && (*q == ' ' || (*q == '\t' && separator_ != '\t'))) ++q;
      return q;
    };
    const char* p = quick_value(content.data(), end, time);
    if (p == nullptr || p == end) return false;
    if (separator_ == ' ') {
      if (!is_blank(*p)) return false;
      while (is_blank(*p)) ++p;  // the line is trimmed: a field follows
    } else {
      p = spaces(p);
      if (p == end || *p != separator_) return false;
      p = spaces(p + 1);
    }
    p = quick_value(p, end, concentration);
    if (p == nullptr || p == end) return p != nullptr;
    return separator_ == ' ' ? is_blank(*p) : (p = spaces(p), p == end || *p == separator_);
  }

  char separator_of(std::string_view content) const {
    if (content.find('\t') != std::string_view::npos) return '\t';
    if (content.find(';') != std::string_view::npos) return ';';
    if (!decimal_comma_ && content.find(',') != std::string_view::npos) return ',';
    return ' ';
  }

  // The first two fields; returns how many the line has (at most 2). Blanks split on
  // runs of blanks and tabs; the other separators split on each occurrence, and
  // the fields lose surrounding blanks and one pair of enclosing double quotes.
  static int split(std::string_view content, char separator, std::string_view (&fields)[2]) {
    int count = 0;
    std::size_t pos = 0;
    while (count < 2 && pos <= content.size()) {
      std::size_t end;
      if (separator == ' ') {
        while (pos < content.size() && is_blank(content[pos])) ++pos;
        if (pos == content.size()) break;
        end = pos;
        while (end < content.size() && !is_blank(content[end])) ++end;
      } else {
        end = content.find(separator, pos);
        if (end == std::string_view::npos) end = content.size();
      }
      std::string_view field = content.substr(pos, end - pos);
      if (separator != ' ') field = trim(field);
      if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
        field = trim(field.substr(1, field.size() - 2));
      fields[count++] = field;
      pos = end + 1;
    }
    return count;
  }

  Field value(std::string_view field, char separator, float& result) const {
    if (field.empty()) return Field::Empty;
    std::string replaced;
    if (decimal_comma_ && field.find(',') != std::string_view::npos) {
      replaced.assign(field);
      for (char& c : replaced)
        if (c == ',') c = '.';
      field = replaced;
    }
    switch (convert_real(field, result)) {
      case ValueRead::Ok: return Field::Ok;
      case ValueRead::OutOfRange: return Field::OutOfRange;
      case ValueRead::NotANumber: break;
    }
    // A comma between digits where commas do not separate: a decimal comma.
    if (!decimal_comma_ && separator != ',')
      for (std::size_t k = 1; k + 1 < field.size(); ++k)
        if (field[k] == ',' && is_digit(field[k - 1]) && is_digit(field[k + 1]))
          return Field::DecimalComma;
    return Field::NotANumber;
  }

  LineRead fail(Field what, std::string_view field, std::string_view content, const char* missing) {
    std::string text = std::string(name_) + ":" + std::to_string(line_number_) + ": ";
    switch (what) {
      case Field::Empty: text += quoted(content) + " has no " + missing; break;
      case Field::NotANumber: text += quoted(field) + " is not a number"; break;
      case Field::OutOfRange: text += quoted(field) + " is beyond the largest real"; break;
      case Field::DecimalComma:
        text += quoted(field) + " has a decimal comma; use --decimal-comma";
        break;
      case Field::Ok: break;
    }
    out_.error = text;
    return LineRead::Failed;
  }

  std::string_view name_;
  bool decimal_comma_;
  Export& out_;
  char separator_ = 0;  // 0 until the first data line
  int line_number_ = 0;
  int headers_ = 0;
};

}  // namespace

namespace {

// The double read from a value's text, to the real the dialogue's reader makes of it.
ValueRead to_real(double wide, bool negative, float& value) {
  const double magnitude = std::fabs(wide);
  if (magnitude > READ_BOUND) return ValueRead::OutOfRange;
  if (magnitude > static_cast<double>(FLT_MAX)) value = negative ? -FLT_MAX : FLT_MAX;
  else if (wide == 0.0) value = negative ? -0.0f : 0.0f;
  else value = static_cast<float>(wide);
  return ValueRead::Ok;
}

// The usual field where it stands: [sign] digits [. digits] [e [sign] digits], with at
// most 19 significant digits, at most 4 exponent digits and a power of ten of at most
// 22, converted as convert_real converts the same text. Returns the place after it, or
// nullptr to leave the field to convert_real.
const char* quick_value(const char* p, const char* end, float& value) {
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
  if (p < end && *p == '.') {
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
  if (quick_value(text.data(), text.data() + text.size(), value) == text.data() + text.size())
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

int open_for_reading(const std::string& path) {
  // Opened without blocking, so that a named pipe without a writer reads as empty
  // instead of holding up the run; reads then block as usual.
  constexpr int FLAGS = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = -1;
  if (path.size() < PATH_MAX) {
    fd = ::open(path.c_str(), FLAGS);
  } else {
    // A name longer than the system takes in one call: one directory at a time.
    int dir = path.front() == '/' ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    std::size_t pos = 0;
    for (;;) {
      while (pos < path.size() && path[pos] == '/') ++pos;
      std::size_t end = path.find('/', pos);
      const std::string part = path.substr(pos, end == std::string::npos ? end : end - pos);
      while (end != std::string::npos && end < path.size() && path[end] == '/') ++end;
      const bool last = end == std::string::npos || end == path.size();
      const int next = ::openat(dir, part.empty() ? "." : part.c_str(),
                                last ? FLAGS : O_PATH | O_DIRECTORY | O_CLOEXEC);
      const int saved = errno;
      if (dir != AT_FDCWD) ::close(dir);
      errno = saved;
      if (next < 0 || last) {
        fd = next;
        break;
      }
      dir = next;
      pos = end;
    }
  }
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// The reader's state: where the lines come from (a file read in blocks, or bytes in
// memory), the line that runs past a block, and the export's notes and error.
struct ExportReader::State {
  std::string name;
  Export result;
  Parser parser;
  int fd = -1;
  bool ended = false;  // no more bytes to come
  bool over = false;   // the end of the pairs, or an error
  int pairs = 0;
  int pair_line = 0;
  std::string_view pending;  // bytes not yet split into lines
  std::string carried;       // the start of a line that runs past a block
  std::string held;          // the whole of such a line, while it is read
  char block[1 << 16];

  State(std::string_view file, bool decimal_comma)
      : name(file), parser(name, decimal_comma, result) {}

  // The next line without its LF, valid until the next call; false at the end.
  bool next_line(std::string_view& line) {
    for (;;) {
      const std::size_t end = pending.find('\n');
      if (end != std::string_view::npos) {
        line = pending.substr(0, end);
        pending.remove_prefix(end + 1);
        if (carried.empty()) return true;
        held.swap(carried);
        held.append(line);
        carried.clear();
        line = held;
        return true;
      }
      carried.append(pending);
      pending = {};
      if (ended) {
        if (carried.empty()) return false;
        held.swap(carried);
        carried.clear();
        line = held;
        return true;
      }
      const ssize_t n = ::read(fd, block, sizeof block);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        result.error = name + ": cannot read: " + std::strerror(errno);
        return false;
      }
      if (n == 0) ended = true;
      pending = std::string_view(block, static_cast<std::size_t>(n));
    }
  }
};

ExportReader::ExportReader(const std::string& path, bool decimal_comma)
    : state_(std::make_unique<State>(path, decimal_comma)) {
  State& s = *state_;
  s.fd = open_for_reading(path);
  struct stat info {};
  if (s.fd < 0) {
    s.result.error = path + ": cannot open: " + std::strerror(errno);
  } else if (::fstat(s.fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    s.result.error = path + ": is a directory";
  }
  s.over = !s.result.error.empty();
}

ExportReader::ExportReader(std::string_view name, std::string_view bytes, bool decimal_comma)
    : state_(std::make_unique<State>(name, decimal_comma)) {
  state_->pending = bytes;
  state_->ended = true;
}

ExportReader::~ExportReader() {
  if (state_->fd >= 0) ::close(state_->fd);
}

bool ExportReader::next(float& time, float& concentration) {
  State& s = *state_;
  std::string_view line;
  while (!s.over && s.next_line(line)) {
    switch (s.parser.line(line, time, concentration)) {
      case LineRead::Skipped: continue;
      case LineRead::Failed: s.over = true; return false;
      case LineRead::Pair:
        ++s.pairs;
        s.pair_line = s.parser.line_number();
        return true;
    }
  }
  s.over = true;
  return false;
}

int ExportReader::pair_line() const { return state_->pair_line; }

Export ExportReader::finish() {
  State& s = *state_;
  s.parser.finish(s.pairs > 0);
  return std::move(s.result);
}

namespace {

// Every pair of a reader, up to the first that no longer fits in the point tables.
Export collect(ExportReader& reader) {
  std::vector<float> time, concentration;
  float t = 0.0f, c = 0.0f;
  while (time.size() <= static_cast<std::size_t>(driver::CAPACITY) && reader.next(t, c)) {
    time.push_back(t);
    concentration.push_back(c);
  }
  Export out = reader.finish();
  out.time = std::move(time);
  out.concentration = std::move(concentration);
  return out;
}

}  // namespace

Export parse_export(std::string_view name, std::string_view bytes, bool decimal_comma) {
  ExportReader reader(name, bytes, decimal_comma);
  return collect(reader);
}

Export read_export(const std::string& path, bool decimal_comma) {
  ExportReader reader(path, decimal_comma);
  return collect(reader);
}

}  // namespace batch
