// Fuzzing harness of the batch tool's export reader, batch::parse_export. The first byte
// chooses the mode.
//
// Even: the rest is an export, read under options from the first byte's bits (1: decimal
// commas; 2: sort; 3: leave out missing values; 5: the next byte makes column 1 + its low two
// bits the time column, with its bit 2, else the value column; 4: a section, the next byte's
// low three bits + 1 bytes long, from the bytes after it). Any reading ends in a file error or
// in profiles; its errors, labels and notes are valid UTF-8 of one line; errors begin with the
// file's name; a profile has an error and no pairs, or 1 to 200000 pairs, each on a line of
// the text, with times that never go back, in file order (sorted: equal times in file order);
// a second call gives the same.
//
// Odd: the rest describes an export of a known shape, which the harness writes and reads:
// UTF-8 (with or without its byte-order mark) or UTF-16 (either order with a mark, little
// endian without); LF, CR LF, lone CR or mixed line ends; one to three header lines; one
// block of 1 to 60 rows "time SEP value", SEP a tab, a semicolon, a comma or blanks, with
// blanks around it, fields quoted between commas, times that grow by construction, values of
// up to 30 digits with decimal points or commas, maybe one beyond the largest real or close
// to it. The
// profile must be the pairs written, bit for bit and each on its line, every value the real
// that strtod's double of its text rounds to, which the dialogue's reader also reads from the
// same texts; or the error naming the value beyond the largest real.
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
#include <span>
#include <string_view>
#include <vector>

#include "batch.h"
#include "console.h"
#include "driver.h"
#include "reading.h"

namespace {

void check(bool holds, int line = __builtin_LINE()) {  // a broken invariant is a finding
  if (!holds) std::fprintf(stderr, "invariant of %s:%d broken\n", __FILE__, line), std::abort();
}

const std::string NAME = "export.csv";  // the file's name in the reader's texts

// Valid UTF-8 (shortest forms, no surrogates, nothing beyond U+10FFFF) without a control
// character but the tab: a text fit for one line of a message or a table cell.
bool one_line(std::string_view s) {
  static constexpr std::uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
  for (std::size_t k = 0; k < s.size();) {
    const auto c = static_cast<unsigned char>(s[k]);
    const std::size_t length = c < 0x80 ? 1 : c < 0xC0 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 0;
    if (length == 0 || s.size() - k < length || (c < 0x20 && c != '\t') || c == 0x7F) return false;
    std::uint32_t code = length == 1 ? c : c & (0x7Fu >> length);
    for (std::size_t j = 1; j < length; ++j) {
      const auto d = static_cast<unsigned char>(s[k + j]);
      if ((d & 0xC0) != 0x80) return false;
      code = code << 6 | (d & 0x3Fu);
    }
    if (code < LEAST[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
    k += length;
  }
  return true;
}

// The lines of the decoded text: each ends at LF, CR LF or a lone CR; the last needs no end.
std::int64_t line_count(std::string_view bytes) {
  const std::string text = batch::reading::decode_text(std::string(bytes));
  std::int64_t lines = 0;
  for (std::size_t k = 0; k < text.size(); ++k)
    lines += text[k] == '\n' || (text[k] == '\r' && (k + 1 == text.size() || text[k + 1] != '\n'));
  return lines + (!text.empty() && text.back() != '\n' && text.back() != '\r');
}

bool same_bits(std::span<const float> a, std::span<const float> b) {
  return a.size() == b.size() && (a.empty() || !std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));
}

// A profile's pair lines, by number and index alone (the only ways its table offers).
std::vector<std::int64_t> lines_of(const batch::Profile& p) {
  std::vector<std::int64_t> lines(p.line.size());
  for (std::size_t k = 0; k < lines.size(); ++k) lines[k] = p.line[k];
  return lines;
}

bool same(const batch::Export& a, const batch::Export& b) {
  if (a.error != b.error || a.notes != b.notes || a.profiles.size() != b.profiles.size()) return false;
  for (std::size_t k = 0; k < a.profiles.size(); ++k) {
    const batch::Profile &p = a.profiles[k], &q = b.profiles[k];
    if (p.label != q.label || p.error != q.error || p.notes != q.notes || !same_bits(p.time, q.time) ||
        !same_bits(p.concentration, q.concentration) || lines_of(p) != lines_of(q))
      return false;
  }
  return true;
}

// Reads `bytes` under `options` twice, checking that both readings agree and keep to what
// any reading keeps to.
batch::Export read_checked(std::string_view bytes, const batch::ReadOptions& options) {
  const batch::Export got = batch::parse_export(NAME, bytes, options);
  check(same(got, batch::parse_export(NAME, bytes, options)));
  check(got.error.empty() != got.profiles.empty());
  check(got.error.empty() || (one_line(got.error) && got.error.starts_with(NAME + ":")));
  for (const std::string& note : got.notes) check(one_line(note));
  const std::int64_t lines = line_count(bytes);
  for (const batch::Profile& p : got.profiles) {
    const std::vector<std::int64_t> line = lines_of(p);
    check(one_line(p.label) && one_line(p.error));
    for (const std::string& note : p.notes) check(one_line(note));
    check(p.time.size() == p.concentration.size() && p.time.size() == line.size());
    check(p.error.empty() ? !p.time.empty() && p.time.size() <= static_cast<std::size_t>(driver::CAPACITY)
                          : p.time.empty() && p.error.starts_with(NAME + ":"));
    for (std::size_t k = 0; k < p.time.size(); ++k) {
      check(std::isfinite(p.time[k]) && std::isfinite(p.concentration[k]) && 1 <= line[k] && line[k] <= lines);
      if (k == 0) continue;
      check(p.time[k - 1] <= p.time[k]);
      check(options.sort ? p.time[k - 1] < p.time[k] || line[k - 1] < line[k] : line[k - 1] < line[k]);
    }
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
    const unsigned column = data[at++];
    (column & 4 ? options.time_column : options.value_column) = std::to_string(1 + column % 4);
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

std::string digits(Source& in, std::size_t count) {
  std::string s;
  for (std::size_t k = 0; k < count; ++k) s += static_cast<char>('0' + in.below(10));
  return s;
}

// The real a value's text reads as: the double strtod reads (a comma being the point),
// rounded to a real; up to one double step above the largest real, the largest real. False
// beyond that.
bool real_of(std::string text, float& value) {
  std::replace(text.begin(), text.end(), ',', '.');
  const double wide = std::strtod(text.c_str(), nullptr);
  if (std::fabs(wide) > 0x1.fffffe0000001p+127) return false;
  value = static_cast<float>(wide);
  if (std::fabs(wide) > FLT_MAX) value = std::copysign(FLT_MAX, value);
  return true;
}

// A value's text: [sign]digits[<mark>digits][e[sign]digits], up to 15 digits before the mark
// and 15 after (a digit on each side of a decimal comma), its exponent keeping it a real.
// `beyond`: one far beyond the largest real, or one close to it: below it, read as it (up to
// one double step above it) or beyond it.
std::string value_text(Source& in, char mark, bool beyond) {
  const unsigned form = in.byte(), runs = in.byte();
  std::string s = form % 4 == 2 ? "-" : form % 4 == 3 ? "+" : "";
  if (beyond && form & 4) {  // the largest real's leading digits, then others
    s += std::string("3") + mark + std::string("40282346638528859811").substr(0, 5 + in.below(14));
    return s + digits(in, in.below(6)) + "e38";
  }
  if (beyond) {
    s += static_cast<char>('1' + in.below(9));
    s += digits(in, runs % 16);
    return s + "e" + std::to_string(39 + in.below(400));
  }
  const bool has_mark = form & 4;
  std::size_t whole = runs % 16, fraction = has_mark ? runs / 16 : 0;
  if (has_mark && mark == ',')
    whole = std::max<std::size_t>(whole, 1), fraction = std::max<std::size_t>(fraction, 1);
  if (whole + fraction == 0) whole = 1;
  s += digits(in, whole);
  if (has_mark) s += mark + digits(in, fraction);
  if (form & 8) {
    const bool negative = form & 16;  // down to 10^-99; up to 10^(15 + 22), below the largest real
    s += std::string(form & 32 ? "E" : "e") + (negative ? "-" : form & 64 ? "+" : "");
    s += form & 128 ? "0" : "";
    s += std::to_string(in.below(negative ? 100 : 23));
  }
  return s;
}

// What the dialogue's reader reads from the same texts (commas as points), one pair a line:
// the same bits, then the end, or the data error of a real out of range for the text beyond.
void check_dialogue(const std::vector<std::string>& texts, const std::vector<float>& times,
                    const std::vector<float>& values, bool beyond) {
  static const int file = ::memfd_create("pairs", 0);  // rewritten each time
  std::string lines;
  for (std::size_t k = 0; k < times.size() + (beyond ? 1 : 0); ++k)
    lines += texts[2 * k] + " " + texts[2 * k + 1] + "\n";
  std::replace(lines.begin(), lines.end(), ',', '.');
  check(::pwrite(file, lines.data(), lines.size(), 0) == ssize_t(lines.size()) &&
        !::ftruncate(file, off_t(lines.size())));
  char name[20];  // its name, blank-padded
  std::snprintf(name, sizeof name, "/proc/self/fd/%-6d", file), name[19] = ' ';
  OPEN_DATA_FILE(4, name);
  float pair[2] = {};
  int error = 0;
  for (std::size_t k = 0; k < times.size(); ++k)
    check(scan_pair(pair[0], pair[1], error) == PairRead::Pair && !std::memcmp(&pair[0], &times[k], 4) &&
          !std::memcmp(&pair[1], &values[k], 4));
  const PairRead last = scan_pair(pair[0], pair[1], error);
  check(beyond ? last == PairRead::DataError && error == F_REAL_OUT_OF_RANGE : last == PairRead::End);
  close_data_unit();
}

void structured(const std::uint8_t* data, std::size_t size) {
  Source in(data, size);
  // The shape.
  const unsigned encoding = in.below(5);  // UTF-8, with its mark; UTF-16 LE, BE with a mark; LE
  const unsigned ends = in.below(4), style = in.byte();  // LF, CR LF, lone CR, mixed
  const unsigned mixed = ends == 3 ? in.byte() : 0;       // the ends of four lines in turn
  const char separator = "\t;, "[style % 4];
  const char mark = separator != ',' && style & 4 ? ',' : '.';
  const bool spaced = style & 8, quotes = separator == ',' && style & 16, last_end = style & 32;
  const std::size_t headers = 1 + in.below(3), rows = 1 + in.below(60);
  // The row of a value beyond the largest real (none: `rows`). Blank-separated decimal
  // commas are recognised when every field of the first line reads as a number: not there.
  std::size_t beyond = style & 64 ? in.below(rows) : rows;
  if (beyond == 0 && mark == ',' && separator == ' ') beyond = 1;

  // The lines: headers of letters, then the rows.
  std::vector<std::string> lines;
  for (std::size_t k = 0; k < headers; ++k) {
    std::string words;
    for (unsigned j = 0, count = 1 + in.below(12); j < count; ++j)
      words += j > 0 && in.one_in(4) ? ' ' : "abcdfghijklmpqrstvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"[in.below(48)];
    lines.push_back(words);
  }
  // Blanks; tabs only where they cannot decide the separator, which the first row shows.
  const auto blanks = [&](unsigned most, bool tabs) {
    std::string s;
    for (unsigned k = in.below(most + 1); k > 0; --k) s += tabs && in.one_in(2) ? '\t' : ' ';
    return s;
  };
  const std::uint64_t start = std::uint64_t{in.byte()} << in.below(32);
  std::vector<std::string> texts;  // each row's time and value as written, unquoted
  for (std::size_t k = 0; k < rows; ++k) {
    const bool tabs = k > 0 && separator != '\t';
    const std::size_t fraction = in.below(24);  // time k is start + k and a fraction
    const bool point = fraction > 0 || (mark == '.' && in.one_in(4));
    const std::string field[2] = {std::to_string(start + k) + (point ? mark + digits(in, fraction) : ""),
                                  value_text(in, mark, k == beyond)};
    std::string line = spaced ? blanks(2, tabs) : "";
    for (int c = 0; c < 2; ++c) {
      if (c == 1 && separator == ' ') line += ' ' + blanks(2, tabs);
      else if (c == 1 && spaced) line += blanks(2, tabs) + separator, line += blanks(2, tabs);
      else if (c == 1) line += separator;
      line += quotes && in.one_in(3) ? '"' + field[c] + '"' : field[c];
      texts.push_back(field[c]);
    }
    lines.push_back(line + (spaced ? blanks(2, tabs) : ""));
  }
  // No line is empty: a lone CR and the next line's LF never read as one CR LF.
  static const char* const ENDS[] = {"\n", "\r\n", "\r"};
  std::string text;
  for (std::size_t k = 0; k < lines.size(); ++k)
    text += lines[k] + (k + 1 == lines.size() && !last_end ? ""
                        : ENDS[ends < 3 ? ends : (mixed >> (k % 4 * 2) & 3) % 3]);
  static const char* const MARKS[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF", ""};
  std::string bytes = MARKS[encoding];
  for (const char c : text)
    bytes += encoding < 2 ? std::string(1, c) : encoding == 3 ? std::string{'\0', c} : std::string{c, '\0'};

  // The model: the rows' pairs up to the first value beyond the largest real, which is the
  // profile's error; decimal commas noted at the first value read that shows one.
  std::vector<float> times, values;
  std::vector<std::int64_t> pair_lines;
  std::string error, comma_note;
  for (std::size_t k = 0; k < rows; ++k) {
    const std::string &t = texts[2 * k], &v = texts[2 * k + 1];
    const std::int64_t line = static_cast<std::int64_t>(headers + k + 1);
    float time = 0.0f, value = 0.0f;
    real_of(t, time);
    const bool in_range = real_of(v, value);
    const bool comma = t.find(',') != std::string::npos || (in_range && v.find(',') != std::string::npos);
    if (comma && comma_note.empty())
      comma_note = "decimal commas read (line " + std::to_string(line) + ")";
    if (!in_range && error.empty())
      error = NAME + ":" + std::to_string(line) + ": \"" + v + "\" is beyond the largest real";
    if (error.empty()) times.push_back(time), values.push_back(value), pair_lines.push_back(line);
  }
  std::vector<std::string> notes = {headers == 1 ? "header line skipped"
                                                 : std::to_string(headers) + " header lines skipped"};
  if (!comma_note.empty()) notes.push_back(comma_note);

  const batch::Export got = read_checked(bytes, batch::ReadOptions());
  check(got.error.empty() && got.profiles.size() == 1);
  check(got.notes == notes);
  const batch::Profile& p = got.profiles[0];
  check(p.label.empty() && p.notes.empty() && p.error == error);
  check(!error.empty() || lines_of(p) == pair_lines);
  check(!error.empty() || (same_bits(p.time, times) && same_bits(p.concentration, values)));
  check_dialogue(texts, times, values, !error.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) structured(data + 1, size - 1);
  else arbitrary(data, size);
  return 0;
}
