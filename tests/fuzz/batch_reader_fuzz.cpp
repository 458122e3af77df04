// Fuzzing harness of the batch tool's export reader, batch::parse_export. The first byte
// chooses the mode.
//
// Even: the rest is an export, read under options from the first byte's bits (1: decimal
// commas; 2: sort; 3: leave out missing values; 5: the next byte's bit pairs choose the time,
// value and group columns, by number or by name; 4: a section, the next byte's low three bits
// + 1 bytes long, from the bytes after it). Any reading ends in a file error or in profiles;
// its texts are valid UTF-8 of one line; each error begins with the file's name; each line a
// text names is a line of the file, a NUL byte's line is named; a profile has an error and
// no pairs, or 1 to 200000 pairs, each on a data line, in file order with times that never
// go back (with sorting: by time, equal times in file order); a second call gives the same
// results, and sorting or leaving out missing values changes no profile that does not need it.
//
// Odd: the rest describes an export of a known shape, which the harness writes and reads:
// UTF-8 (with or without its byte-order mark) or UTF-16 (either order, with or without a
// mark); LF, CR LF, lone CR or mixed line ends; text, comment and blank lines above the data,
// a line of column names, a section heading, a shorter block before it; one block of
// generated values ([sign]digits[.digits][e[sign]digits], up to 30 digits, decimal points or
// commas, some quoted) between tabs, semicolons, commas or blanks; a third column of numbers;
// a column of groups; missing values; times in order or shuffled. The profiles must be the
// pairs written, bit for bit and each on its line, every value the real that strtod's double
// of its text rounds to, which is what the dialogue's reader reads from the same texts; the
// errors (a value beyond the largest real, a missing value, times that go back), labels and
// notes must be those the model gives.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "batch.h"
#include "console.h"
#include "driver.h"

namespace {

using driver::CAPACITY;

void check(bool holds, int line = __builtin_LINE()) {  // a broken invariant is a finding
  if (!holds) std::fprintf(stderr, "invariant of %s:%d broken\n", __FILE__, line), std::abort();
}

const std::string NAME = "export.csv";  // the file's name in the reader's texts
const std::string SORTED = "pairs sorted by time";
constexpr std::size_t NOT_FOUND = std::string::npos;

bool digit(char c) { return c >= '0' && c <= '9'; }

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view trim(std::string_view s) {  // without blanks and tabs around
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// ---------------------------------------------------------------------------
// What any export's reading keeps to
// ---------------------------------------------------------------------------

// Valid UTF-8 (shortest forms, no surrogates, nothing beyond U+10FFFF) without a control
// character but the tab: a text fit for one line of a message or a table cell.
bool message_text(std::string_view s) {
  for (std::size_t k = 0; k < s.size();) {
    const auto c = static_cast<unsigned char>(s[k]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
      ++k;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t code = 0, least = 0;
    if (c >= 0xC0 && c < 0xE0) length = 2, code = c & 0x1Fu, least = 0x80;
    else if (c >= 0xE0 && c < 0xF0) length = 3, code = c & 0x0Fu, least = 0x800;
    else if (c >= 0xF0 && c < 0xF8) length = 4, code = c & 0x07u, least = 0x10000;
    else return false;
    if (s.size() - k < length) return false;
    for (std::size_t j = 1; j < length; ++j) {
      const auto d = static_cast<unsigned char>(s[k + j]);
      if ((d & 0xC0) != 0x80) return false;
      code = code << 6 | (d & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
    k += length;
  }
  return true;
}

// The export's text as it is to be decoded, for its lines: UTF-16 by its byte-order mark, or
// by zero bytes in the same place of at least three quarters of the first 64 byte pairs and
// in the other place of none (big endian when the first byte is zero); else UTF-8 without
// its mark. Every character beyond ASCII becomes '?'.
std::string text_model(std::string_view bytes) {
  bool utf16 = bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
  bool big_endian = bytes.starts_with("\xFE\xFF");
  std::size_t from = utf16 ? 2 : 0;
  if (!utf16) {
    std::size_t pairs = 0, zero_first = 0, zero_second = 0;
    for (; pairs < 64 && 2 * pairs + 1 < std::min<std::size_t>(bytes.size(), 128); ++pairs) {
      const bool first = bytes[2 * pairs] == '\0', second = bytes[2 * pairs + 1] == '\0';
      zero_first += first && !second;
      zero_second += second && !first;
    }
    utf16 = pairs >= 2 && (zero_first == 0 || zero_second == 0) &&
            4 * std::max(zero_first, zero_second) >= 3 * pairs;
    big_endian = utf16 && bytes[0] == '\0';
  }
  if (!utf16) return std::string(bytes.substr(bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0));
  std::string text;
  for (; from + 1 < bytes.size(); from += 2) {
    const auto high = static_cast<unsigned char>(bytes[big_endian ? from : from + 1]);
    const auto low = static_cast<unsigned char>(bytes[big_endian ? from + 1 : from]);
    text += high == 0 && low < 0x80 ? static_cast<char>(low) : '?';
  }
  return text;
}

// The lines of a text, each ending at LF, CR LF or a lone CR; the last needs no end.
std::vector<std::string_view> lines_model(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '\n' && text[k] != '\r') continue;
    lines.push_back(text.substr(start, k - start));
    if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') ++k;
    start = k + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The number whose digits begin at `at`, which moves past them; -1 without a digit there.
std::int64_t number_at(std::string_view s, std::size_t& at) {
  if (at >= s.size() || !digit(s[at])) return -1;
  std::int64_t n = 0;
  for (; at < s.size() && digit(s[at]); ++at) n = n < (std::int64_t{1} << 50) ? n * 10 + (s[at] - '0') : n;
  return n;
}

// Each line a message names is a line of the file: the line of "<name>:N:", and when no text
// of the file or of the options holds the word (`own_words`), those of "line N" and "lines N-M".
void check_lines_named(std::string_view message, std::int64_t lines, bool own_words) {
  if (message.starts_with(NAME + ":")) {
    std::size_t at = NAME.size() + 1;
    const std::int64_t line = number_at(message, at);
    check(line < 0 || (1 <= line && line <= lines && at < message.size() && message[at] == ':'));
  }
  if (!own_words) return;
  for (std::size_t found = message.find("line"); found != NOT_FOUND; found = message.find("line", found + 1)) {
    std::size_t at = found + 4;
    const bool range = at < message.size() && message[at] == 's';
    at += range;
    if (at >= message.size() || message[at] != ' ') continue;
    const std::int64_t first = number_at(message, ++at);
    if (first < 0) continue;
    check(1 <= first && first <= lines);
    if (range && at < message.size() && message[at] == '-') {
      const std::int64_t last = number_at(message, ++at);
      check(first < last && last <= lines);
    }
  }
}

// Whether a profile's error is that of times that go back: "<name>:N: time ...".
bool times_go_back(std::string_view error) {
  std::size_t at = NAME.size() + 1;
  return error.starts_with(NAME + ":") && number_at(error, at) > 0 && error.substr(at).starts_with(": time ");
}

bool same_reals(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && (a.empty() || !std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));
}

// A profile's pair lines, by number and index alone (the only ways its table offers).
std::vector<std::int64_t> lines_of(const batch::Profile& p) {
  std::vector<std::int64_t> lines(p.line.size());
  for (std::size_t k = 0; k < lines.size(); ++k) lines[k] = p.line[k];
  return lines;
}

bool same(const batch::Profile& a, const batch::Profile& b) {
  return a.label == b.label && same_reals(a.time, b.time) && same_reals(a.concentration, b.concentration) &&
         lines_of(a) == lines_of(b) && a.notes == b.notes && a.error == b.error;
}

bool same(const batch::Export& a, const batch::Export& b) {
  if (a.error != b.error || a.notes != b.notes || a.profiles.size() != b.profiles.size()) return false;
  for (std::size_t k = 0; k < a.profiles.size(); ++k)
    if (!same(a.profiles[k], b.profiles[k])) return false;
  return true;
}

// The invariants of one reading of `bytes` under `options`.
void check_reading(std::string_view bytes, const batch::ReadOptions& options, const batch::Export& got) {
  const std::string text = text_model(bytes);
  const std::vector<std::string_view> lines = lines_model(text);
  const auto line_count = static_cast<std::int64_t>(lines.size());
  const bool own_words = lower(text + options.section + options.time_column + options.value_column +
                               options.group_column).find("line") == NOT_FOUND;
  const auto message = [&](const std::string& m, int line = __builtin_LINE()) {
    check(message_text(m), line);
    check_lines_named(m, line_count, own_words);
  };

  check(got.error.empty() != got.profiles.empty());
  for (const std::string& note : got.notes) message(note);
  // A NUL byte stops the file at its line; every other file error is about the whole file.
  std::size_t nul_line = 0;
  while (nul_line < lines.size() && lines[nul_line].find('\0') == NOT_FOUND) ++nul_line;
  const bool short_lines = bytes.size() <= (std::size_t{1} << 20) / 2;  // no line near 1 MiB
  if (short_lines && nul_line < lines.size())
    check(got.error.starts_with(NAME + ":" + std::to_string(nul_line + 1) + ": ") &&
          got.error.find("NUL") != NOT_FOUND);
  if (!got.error.empty()) {
    message(got.error);
    check(got.error.starts_with(NAME + ":"));
    check(!short_lines || nul_line < lines.size() || got.error.starts_with(NAME + ": "));
    check(!text.empty() || got.error.starts_with(NAME + ": no data"));
  }

  for (const batch::Profile& p : got.profiles) {
    const std::vector<std::int64_t> line = lines_of(p);
    message(p.label);
    for (const std::string& note : p.notes) message(note);
    check(p.time.size() == p.concentration.size() && p.time.size() == line.size());
    if (!p.error.empty()) {
      message(p.error);
      check(p.error.starts_with(NAME + ":") && p.time.empty());
      continue;
    }
    check(!p.time.empty() && p.time.size() <= static_cast<std::size_t>(CAPACITY));
    for (std::size_t k = 0; k < p.time.size(); ++k) {
      check(std::isfinite(p.time[k]) && std::isfinite(p.concentration[k]));
      check(1 <= line[k] && line[k] <= line_count);
      const std::string_view content = trim(lines[static_cast<std::size_t>(line[k] - 1)]);
      check(!content.empty() && content.front() != '#');  // a data line
    }
    const bool sorted = std::count(p.notes.begin(), p.notes.end(), SORTED) > 0;
    if (!options.sort) {
      check(!sorted);
      for (std::size_t k = 1; k < p.time.size(); ++k) check(p.time[k - 1] <= p.time[k] && line[k - 1] < line[k]);
      continue;
    }
    for (std::size_t k = 1; k < p.time.size(); ++k)
      check(p.time[k - 1] < p.time[k] || (p.time[k - 1] == p.time[k] && line[k - 1] < line[k]));
    // In file order: each line once, and the note exactly when the times went back.
    std::vector<std::size_t> order(line.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return line[a] < line[b]; });
    bool back = false;
    for (std::size_t k = 1; k < order.size(); ++k) {
      check(line[order[k - 1]] < line[order[k]]);
      back |= p.time[order[k]] < p.time[order[k - 1]];
    }
    check(sorted == back);
  }
}

// Reads `bytes` under `options`, checking the invariants, that a second reading gives the
// same, and that sorting or leaving out missing values changes only the profiles that need it.
batch::Export read_checked(std::string_view bytes, const batch::ReadOptions& options) {
  const batch::Export got = batch::parse_export(NAME, bytes, options);
  check(same(got, batch::parse_export(NAME, bytes, options)));
  check_reading(bytes, options, got);
  if (options.sort) {
    batch::ReadOptions file_order = options;
    file_order.sort = false;
    const batch::Export plain = batch::parse_export(NAME, bytes, file_order);
    check(plain.error == got.error && plain.notes == got.notes && plain.profiles.size() == got.profiles.size());
    for (std::size_t k = 0; k < plain.profiles.size(); ++k) {
      const batch::Profile &p = plain.profiles[k], &s = got.profiles[k];
      std::vector<std::string> notes = p.notes;
      notes.push_back(SORTED);
      if (p.error.empty()) check(same(p, s));
      else if (times_go_back(p.error)) check(s.error.empty() && s.label == p.label && s.notes == notes);
      else check(s.error == p.error && s.label == p.label && s.notes == p.notes);
    }
  }
  if (options.skip_missing) {
    batch::ReadOptions strict = options;
    strict.skip_missing = false;
    const batch::Export kept = batch::parse_export(NAME, bytes, strict);
    check(kept.error == got.error && kept.notes == got.notes && kept.profiles.size() == got.profiles.size());
    for (std::size_t k = 0; k < kept.profiles.size(); ++k)
      check(!kept.profiles[k].error.empty() || same(kept.profiles[k], got.profiles[k]));
  }
  return got;
}

void arbitrary(const std::uint8_t* data, std::size_t size) {
  const unsigned flags = data[0];
  std::size_t at = 1;
  batch::ReadOptions options;
  options.decimal_comma = flags & 2;
  options.sort = flags & 4;
  options.skip_missing = flags & 8;
  if (flags & 32 && at < size) {
    static const char* const TIMES[] = {"", "1", "2", "time"};
    static const char* const VALUES[] = {"", "2", "3", "conc"};
    static const char* const GROUPS[] = {"", "1", "3", "id"};
    const unsigned columns = data[at++];
    options.time_column = TIMES[columns & 3];
    options.value_column = VALUES[columns >> 2 & 3];
    options.group_column = GROUPS[columns >> 4 & 3];
  }
  if (flags & 16 && at < size) {
    const std::size_t wanted = (data[at++] & 7u) + 1, length = std::min(wanted, size - at);
    options.section.assign(reinterpret_cast<const char*>(data) + at, length);
    at += length;
  }
  read_checked(std::string_view(reinterpret_cast<const char*>(data) + at, size - at), options);
}

// ---------------------------------------------------------------------------
// Exports of a known shape
// ---------------------------------------------------------------------------

// The fuzz bytes that describe an export, one at a time; zeros once they are used up.
class Source {
 public:
  Source(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}
  unsigned byte() { return at_ < end_ ? *at_++ : 0u; }
  unsigned below(std::size_t n) { return static_cast<unsigned>(byte() % n); }
  bool one_in(unsigned n) { return byte() % n == n - 1; }  // never once the bytes are used up

 private:
  const std::uint8_t* at_;
  const std::uint8_t* end_;
};

char digit_of(Source& in) { return static_cast<char>('0' + in.below(10)); }

// The real a value's text reads as: the double strtod reads (a comma being the point),
// rounded to a real; up to one double step above the largest real, the largest real. False
// beyond that.
bool real_of(std::string text, float& value) {
  std::replace(text.begin(), text.end(), ',', '.');
  const double wide = std::strtod(text.c_str(), nullptr);
  if (std::fabs(wide) > 0x1.fffffe0000001p+127) return false;
  value = std::fabs(wide) > FLT_MAX ? std::copysign(FLT_MAX, static_cast<float>(wide)) : static_cast<float>(wide);
  return true;
}

enum Marks { POINTS, COMMAS, COMMAS_BY_OPTION };

// A value's text: [sign]digits[<mark>digits][e[sign]digits], up to 15 digits before the mark
// and 15 after, the exponent up to 3 digits (1 when `small`, which keeps the value a real).
// Recognised decimal commas need a digit on each side; a lone mark (".5", "5.") is allowed
// otherwise. With decimal commas by the option, points and commas alike.
std::string number(Source& in, Marks marks, bool small) {
  const unsigned form = in.byte(), runs = in.byte();
  std::string s = form % 4 == 2 ? "-" : form % 4 == 3 ? "+" : "";
  const bool has_mark = form & 4;
  std::size_t whole = runs % 16, fraction = has_mark ? runs / 16 : 0;
  if (has_mark && marks == COMMAS)
    whole = std::max<std::size_t>(whole, 1), fraction = std::max<std::size_t>(fraction, 1);
  if (whole + fraction == 0) whole = 1;
  for (std::size_t k = 0; k < whole; ++k) s += digit_of(in);
  if (has_mark) s += marks == POINTS || (marks == COMMAS_BY_OPTION && !(form & 128)) ? '.' : ',';
  for (std::size_t k = 0; k < fraction; ++k) s += digit_of(in);
  if (form & 8) {
    s += form & 16 ? 'E' : 'e';
    const unsigned sign = form >> 5 & 3;
    s += sign == 0 ? "" : sign == 2 ? "+" : "-";
    const unsigned size = in.byte() % 8;
    const std::size_t digits = small || size < 5 ? 1 : size < 7 ? 2 : 3;
    for (std::size_t k = 0; k < digits; ++k) s += digit_of(in);
  }
  return s;
}

// Words of text: letters that no number, missing marker, column name, section name or
// "line" can be made of (no e, n, o or u), now and then a mark or a non-ASCII letter inside
// (in UTF-8, sometimes a lone byte of an 8-bit code page).
std::string words(Source& in, bool raw_bytes) {
  static const char LETTERS[] = "abcdfghijklmpqrstvwxyzABCDFGHIJKLMPQRSTVWXYZ";
  static const char MARKS[] = "():/%=";
  std::string s;
  const unsigned count = 1 + in.below(3);
  for (unsigned w = 0; w < count; ++w) {
    if (w > 0) s += ' ';
    const unsigned length = 1 + in.below(6);
    for (unsigned k = 0; k < length; ++k) {
      const unsigned c = in.byte();
      if (k > 0 && c >= 248) s += MARKS[c % (sizeof MARKS - 1)];
      else if (k > 0 && c >= 244) s += c % 2 ? "\xC2\xB5" : "\xC2\xB0";
      else if (k > 0 && c >= 242 && raw_bytes) s += '\xB5';
      else s += LETTERS[c % (sizeof LETTERS - 1)];
    }
  }
  return s;
}

// A text as the reader shows it: here, a lone byte of a code page becomes U+FFFD.
std::string shown(std::string_view s) {
  std::string out;
  for (std::size_t k = 0; k < s.size(); ++k) {
    if (s[k] == '\xC2') out += s.substr(k++, 2);
    else if (static_cast<unsigned char>(s[k]) >= 0x80) out += "\xEF\xBF\xBD";
    else out += s[k];
  }
  return out;
}

// A field in a message: in double quotes, at most 40 characters, then "...".
std::string quoted(std::string_view field) {
  return "\"" + std::string(field.substr(0, 40)) + (field.size() > 40 ? "..." : "") + "\"";
}

std::string line_range(std::int64_t first, std::int64_t last) {
  return first == last ? "line " + std::to_string(first)
                       : "lines " + std::to_string(first) + "-" + std::to_string(last);
}

// Text of ASCII and two-byte UTF-8 characters as UTF-16.
std::string utf16(std::string_view text, bool big_endian, bool mark) {
  std::string out = mark ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (std::size_t k = 0; k < text.size(); ++k) {
    unsigned code = static_cast<unsigned char>(text[k]);
    if (code >= 0xC0) code = (code & 0x1Fu) << 6 | (static_cast<unsigned char>(text[++k]) & 0x3Fu);
    out += static_cast<char>(big_endian ? code >> 8 : code & 0xFF);
    out += static_cast<char>(big_endian ? code & 0xFF : code >> 8);
  }
  return out;
}

enum Column { TIME, VALUE, EXTRA, GROUP };
const char* const COLUMN_NAMES[] = {"Time", "Conc", "Extra", "Group"};

struct Row {
  std::int64_t line = 0;
  std::string field[4];  // the texts of the time, the value, the third number and the group
  int missing = -1;      // TIME or VALUE when that field is a missing marker
  std::size_t group = 0;
};

// A profile as the model expects it.
struct Expected {
  std::string label;
  std::vector<float> time, value;
  std::vector<std::int64_t> line;
  std::vector<std::string> notes;
  std::string error, error_part;  // the error's beginning, and a part of the rest
  // With an error, the lines left out for a missing value that the note may count: at least
  // those before the error's line, at most all of the profile's.
  std::size_t left_out = 0, left_out_in_all = 0;
};

std::string left_out_note(std::size_t lines) {
  return std::to_string(lines) + (lines == 1 ? " line" : " lines") + " with a missing value left out";
}

// What the dialogue's reader makes of each pair of texts: the same bits as the model, and
// for a text beyond the largest real, the data error of a real out of range.
void check_dialogue(const std::vector<std::string>& texts, const std::vector<float>& reals,
                    const std::string& beyond) {
  static const int file = ::memfd_create("pairs", 0);  // rewritten each time
  std::string lines;
  for (std::size_t k = 0; k < texts.size(); k += 2) lines += texts[k] + " " + texts[k + 1] + "\n";
  if (!beyond.empty()) lines += beyond + " 0\n";
  for (char& c : lines) c = c == ',' ? '.' : c;
  check(::pwrite(file, lines.data(), lines.size(), 0) == ssize_t(lines.size()) &&
        !::ftruncate(file, off_t(lines.size())));
  char name[20];  // its name, blank-padded
  std::snprintf(name, sizeof name, "/proc/self/fd/%-6d", file), name[19] = ' ';
  OPEN_DATA_FILE(4, name);
  for (std::size_t k = 0; k < reals.size(); k += 2) {
    float pair[2] = {};
    int error = 0;
    check(scan_pair(pair[0], pair[1], error) == PairRead::Pair && !std::memcmp(pair, &reals[k], sizeof pair));
  }
  float time = 0.0f, concentration = 0.0f;
  int error = 0;
  check(beyond.empty() ||
        (scan_pair(time, concentration, error) == PairRead::DataError && error == F_REAL_OUT_OF_RANGE));
  close_data_unit();
}

void structured(const std::uint8_t* data, std::size_t size) {
  Source in(data, size);
  // The shape.
  const unsigned encoding = in.below(6);  // UTF-8, with its mark, UTF-16 LE/BE with a mark, without
  const unsigned ends = in.below(4);      // LF, CR LF, lone CR, mixed
  const unsigned style = in.byte();
  const char separator = "\t;, "[style % 4];
  Marks marks = static_cast<Marks>(style / 4 % 3);
  if (marks != POINTS && separator == ',') marks = POINTS;  // commas that separate are not decimal marks
  const unsigned layout = in.byte(), choices = in.byte(), extras = in.byte();
  const bool utf8 = encoding < 2, last_end = !(layout & 1), quotes = layout & 2;
  // Recognised decimal commas between blanks: every field of the first line must read as a
  // number for its commas to be taken for decimal marks (so values in range, groups of digits).
  const bool blank_commas = marks == COMMAS && separator == ' ';
  std::vector<Column> columns = {TIME, VALUE};
  if (layout & 4) columns.push_back(EXTRA);
  if (layout & 8) columns.push_back(GROUP);
  for (std::size_t k = columns.size(); k > 1; --k) std::swap(columns[k - 1], columns[in.below(k)]);
  std::size_t place[4] = {};
  for (std::size_t k = 0; k < columns.size(); ++k) place[columns[k]] = k;
  const bool has_group = layout & 8, digit_groups = blank_commas || (layout & 16);
  std::vector<std::string> groups;
  if (has_group) {
    static const char* const LETTER_GROUPS[] = {"A", "B", "Ctl", "x1"};
    for (unsigned k = 0, count = 1 + in.below(3); k < count; ++k)
      groups.push_back(digit_groups ? std::to_string(k + 1) : LETTER_GROUPS[k]);
  }
  const std::size_t numeric = 2 + (layout & 4 ? 1 : 0) + (has_group && digit_groups ? 1 : 0);
  const bool names_line = choices & 1 || choices & 2, by_name = choices & 2;
  const bool explicit_columns = place[TIME] != 0 || place[VALUE] != 1 || numeric > 2 || (choices & 4);
  const std::size_t row_count = 1 + in.below(48);
  const bool decoy = layout & 32 && !by_name && row_count > 1, section_line = decoy || (layout & 64);
  const bool use_section = section_line && (extras & 1), trailer = extras & 2;

  batch::ReadOptions options;
  options.decimal_comma = marks == COMMAS_BY_OPTION;
  options.sort = extras & 4;
  options.skip_missing = extras & 8;
  const auto name_option = [&](Column c) {  // compared without blanks and quotes, ignoring case
    const std::string name = COLUMN_NAMES[c];
    const unsigned form = in.below(4);
    return form == 0 ? name : form == 1 ? lower(name) : form == 2 ? " " + name + " " : "\"" + lower(name) + "\"";
  };
  if (explicit_columns) {
    options.time_column = by_name ? name_option(TIME) : std::to_string(place[TIME] + 1);
    options.value_column = by_name ? name_option(VALUE) : std::to_string(place[VALUE] + 1);
  }
  if (has_group) options.group_column = by_name ? name_option(GROUP) : std::to_string(place[GROUP] + 1);

  // The rows: times in order, then maybe shuffled; missing values after the first row.
  std::vector<Row> rows(row_count);
  for (Row& row : rows) {
    for (const Column c : columns)
      row.field[c] = c == GROUP ? "" : number(in, marks, blank_commas);
    if (has_group) row.group = in.below(groups.size()), row.field[GROUP] = groups[row.group];
  }
  const auto key = [](const Row& row) {
    float t = 0.0f;
    return real_of(row.field[TIME], t) ? t : row.field[TIME][0] == '-' ? -INFINITY : INFINITY;
  };
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return key(a) < key(b); });
  if (extras & 16)
    for (std::size_t k = rows.size(); k > 1; --k) std::swap(rows[k - 1], rows[in.below(k)]);
  static const char* const MISSING[] = {"NA", "N/A", "n.a.", "-", "NaN", "na", ""};
  const std::size_t markers = separator == ';' || separator == ',' ? 7 : 6;  // an empty field between separators
  for (std::size_t k = 1; k < rows.size(); ++k)
    if (in.one_in(10)) {
      rows[k].missing = in.one_in(2) ? TIME : VALUE;
      rows[k].field[rows[k].missing] = MISSING[in.below(markers)];
    }

  // The lines.
  std::vector<std::string> lines;
  const auto blanks = [&](unsigned count, bool tabs) {
    std::string s;
    for (unsigned k = 0; k < count; ++k) s += tabs && in.one_in(2) ? '\t' : ' ';
    return s;
  };
  // Fields joined by the separator, with blanks around it (tabs only after the first line,
  // which shows the separator) and, in a row, maybe quotes.
  const auto join = [&](const std::vector<std::string>& fields, bool first, bool row) {
    const bool tabs = !first && separator != '\t';
    std::string s = blanks(in.below(3), tabs);
    for (std::size_t k = 0; k < fields.size(); ++k) {
      if (k > 0 && separator == ' ') s += blanks(1 + in.below(3), tabs);
      if (k > 0 && separator != ' ') s += blanks(in.below(3), tabs) + separator + blanks(in.below(3), tabs);
      s += row && quotes && in.one_in(4) ? "\"" + fields[k] + "\"" : fields[k];
    }
    return s + blanks(in.below(3), tabs);
  };
  const auto filler = [&] {  // a line of no block
    const unsigned kind = in.below(4);
    if (kind == 0) return std::string();
    if (kind == 1) return blanks(1 + in.below(3), true);
    if (kind == 2) return "#" + blanks(in.below(2), false) + words(in, utf8);
    // Empty fields, without tabs: outside a block a line's own separator splits it, and a
    // tab would make it a line of two texts such as ";" and ";".
    return join(std::vector<std::string>(2 + in.below(2)), true, false);
  };
  if (decoy) {  // a block of one row, fewer than the data's
    lines.push_back("[Blank]");
    std::vector<std::string> fields;
    for (const Column c : columns) fields.push_back(c == GROUP ? groups[0] : "0");
    lines.push_back(join(fields, true, true));
  }
  const std::size_t heading_from = lines.size();
  std::string section_text;
  if (section_line) {
    std::string word;
    for (unsigned k = 0, length = 1 + in.below(5); k < length; ++k) word += "bcdfghjk"[in.below(8)];
    section_text = "[Run " + word + "]";
    lines.push_back(section_text);
    static const char* const SECTIONS[] = {"run", "RUN", "[rUn"};
    const unsigned form = in.below(4);
    if (use_section) options.section = form < 3 ? SECTIONS[form] : "Run " + word;
  }
  std::vector<std::string> names;  // the nearest text line's fields
  for (unsigned k = 0, count = in.below(4); k < count; ++k) {
    if (in.one_in(4)) lines.push_back(filler());
    lines.push_back(words(in, utf8));
  }
  if (names_line) {
    std::vector<std::string> fields;
    for (const Column c : columns) {
      const std::string name = COLUMN_NAMES[c];
      const unsigned form = in.below(4);
      names.push_back(form == 1 ? lower(name) : name);
      fields.push_back(form == 2 ? "\"" + name + "\"" : form == 1 ? lower(name) : name);
    }
    lines.push_back(join(fields, true, false));
  } else if (lines.size() > heading_from && separator == ' ') {
    // Words apart from a section heading, which has no blank before it in the line.
    std::string_view nearest = trim(lines.back());
    for (std::size_t at = 0; at <= nearest.size();) {
      const std::size_t end = std::min(nearest.find(' ', at), nearest.size());
      if (end > at) names.emplace_back(nearest.substr(at, end - at));
      at = end + 1;
    }
    if (names.size() < 2) names.clear();
  }
  std::size_t headings = 0;
  for (std::size_t k = heading_from; k < lines.size(); ++k)
    headings += !trim(lines[k]).empty() && trim(lines[k]).front() != '#' &&
                lines[k].find_first_not_of(" \t;,") != NOT_FOUND;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (k > 0 && in.one_in(8)) lines.push_back(filler());
    std::vector<std::string> fields;
    for (const Column c : columns) fields.push_back(rows[k].field[c]);
    lines.push_back(join(fields, k == 0, true));
    rows[k].line = static_cast<std::int64_t>(lines.size());
  }
  if (trailer) lines.push_back(words(in, utf8));
  if (in.one_in(4)) lines.push_back(filler());

  std::string text;
  std::string previous_end;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    text += lines[k];
    if (k + 1 == lines.size() && !last_end) break;
    static const char* const ENDS[] = {"\n", "\r\n", "\r"};
    std::string end = ENDS[ends < 3 ? ends : in.below(3)];
    if (previous_end == "\r" && lines[k].empty() && end == "\n") end = "\r\n";  // not one CR LF
    text += end;
    previous_end = end;
  }
  const std::string bytes = encoding == 0   ? text
                            : encoding == 1 ? "\xEF\xBB\xBF" + text
                                            : utf16(text, encoding % 2 == 1, encoding < 4);

  // The model's profiles: one per group in order of first appearance, each its rows in file
  // order (by time, equal times in file order, when sorted) until the first row in error.
  std::vector<std::size_t> order;  // the groups
  for (const Row& row : rows)
    if (std::find(order.begin(), order.end(), row.group) == order.end()) order.push_back(row.group);
  std::vector<Expected> expected(order.size());
  const std::string prefix = NAME + ":";
  const std::int64_t first_line = rows.front().line, last_line = rows.back().line;
  std::vector<std::string> dialogue_texts;
  std::vector<float> dialogue_reals;
  std::string beyond;  // a text beyond the largest real
  for (std::size_t g = 0; g < order.size(); ++g) {
    Expected& e = expected[g];
    if (has_group) {  // "[section heading]; COLUMN=value"
      const std::size_t column = place[GROUP];
      e.label = (use_section ? section_text + "; " : "") +
                (column < names.size() ? shown(names[column]) : "column " + std::to_string(column + 1)) + "=" +
                groups[order[g]];
    }
    std::size_t skipped = 0;
    for (const Row& row : rows) {
      if (row.group != order[g]) continue;
      e.left_out_in_all += row.missing >= 0 && options.skip_missing;
      if (!e.error.empty()) continue;
      float reals[2] = {};
      bool missing = false;
      for (const Column c : {TIME, VALUE}) {
        if (row.missing == c) {
          missing = true;
        } else if (!real_of(row.field[c], reals[c])) {
          e.error = prefix + std::to_string(row.line) + ": " + quoted(row.field[c]);
          e.error_part = " is beyond the largest real";
          if (beyond.empty()) beyond = row.field[c];
          break;
        }
      }
      if (!e.error.empty()) continue;
      if (missing && options.skip_missing) {
        ++skipped;
      } else if (missing) {
        const std::string& marker = row.field[row.missing];
        e.error = prefix + std::to_string(row.line) + ": " + (marker.empty() ? "an empty field" : quoted(marker)) +
                  " in column " + std::to_string(place[row.missing] + 1) + " is a missing value";
      } else {
        e.time.push_back(reals[TIME]), e.value.push_back(reals[VALUE]), e.line.push_back(row.line);
        dialogue_texts.push_back(row.field[TIME]), dialogue_texts.push_back(row.field[VALUE]);
        dialogue_reals.push_back(reals[TIME]), dialogue_reals.push_back(reals[VALUE]);
      }
    }
    if (skipped > 0) e.notes.push_back(left_out_note(skipped));
    e.left_out = skipped;
    if (e.error.empty() && e.time.empty())
      e.error = NAME + ": no data: every line of " + line_range(first_line, last_line) + " has a missing value";
    std::size_t back = 1;
    while (back < e.time.size() && e.time[back - 1] <= e.time[back]) ++back;
    if (!e.error.empty() || back >= e.time.size()) {
    } else if (!options.sort) {
      e.error = prefix + std::to_string(e.line[back]) + ": time ";
      e.error_part = "(line " + std::to_string(e.line[back - 1]) + ")";
    } else {
      std::vector<std::size_t> by_time(e.time.size());
      for (std::size_t k = 0; k < by_time.size(); ++k) by_time[k] = k;
      std::stable_sort(by_time.begin(), by_time.end(),
                       [&](std::size_t a, std::size_t b) { return e.time[a] < e.time[b]; });
      Expected by;
      for (const std::size_t k : by_time)
        by.time.push_back(e.time[k]), by.value.push_back(e.value[k]), by.line.push_back(e.line[k]);
      e.time.swap(by.time), e.value.swap(by.value), e.line.swap(by.line);
      e.notes.push_back(SORTED);
    }
    if (!e.error.empty()) e.time.clear(), e.value.clear(), e.line.clear();
  }
  if (expected.size() == 1) expected[0].label.clear();
  std::vector<std::string> notes;
  if (decoy && !use_section)
    notes.push_back("used the block \"" + section_text + "\" (" + line_range(first_line, last_line) +
                    "); 1 other block skipped: choose blocks with --section");
  else if (!use_section && headings > 0)
    notes.push_back(headings == 1 ? "header line skipped" : std::to_string(headings) + " header lines skipped");
  // Recognised decimal commas: the line of the first value read that shows one.
  for (std::size_t k = 0; marks == COMMAS && k < rows.size(); ++k) {
    const Row& row = rows[k];
    float ignored = 0.0f;
    const auto reads = [&](Column c) { return row.missing != c && real_of(row.field[c], ignored); };
    if (row.missing != TIME && !reads(TIME)) continue;  // the value is not read
    const bool shows = (reads(TIME) && row.field[TIME].find(',') != NOT_FOUND) ||
                       (reads(VALUE) && row.field[VALUE].find(',') != NOT_FOUND);
    if (shows) {
      notes.push_back("decimal commas read (line " + std::to_string(row.line) + ")");
      break;
    }
  }

  const batch::Export got = read_checked(bytes, options);
  check(got.error.empty());
  check(got.notes == notes);
  check(got.profiles.size() == expected.size());
  for (std::size_t g = 0; g < expected.size(); ++g) {
    const batch::Profile& p = got.profiles[g];
    const Expected& e = expected[g];
    check(p.label == e.label);
    bool counted = p.notes.empty() && e.left_out == 0;  // an error's note counts lines before or after it
    for (std::size_t k = std::max<std::size_t>(e.left_out, 1); k <= e.left_out_in_all; ++k)
      counted |= p.notes == std::vector{left_out_note(k)};
    check(e.error.empty() ? p.notes == e.notes : counted);
    check(p.error.starts_with(e.error) && (e.error.empty() == p.error.empty()) &&
          p.error.find(e.error_part, e.error.size()) != NOT_FOUND);
    check(lines_of(p) == e.line);
    check(same_reals(p.time, e.time) && same_reals(p.concentration, e.value));
  }
  check_dialogue(dialogue_texts, dialogue_reals, beyond);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) structured(data + 1, size - 1);
  else arbitrary(data, size);
  return 0;
}
