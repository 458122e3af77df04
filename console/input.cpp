// The input layer of the data loader: the file name typed at the keyboard, the open
// of the data file on unit 4 and the free-form reading of pairs of reals from it.
//
// Standard input is read one byte at a time, so that a later console read,
// or a command that inherits standard input, starts right after the line just
// taken. One byte is the exception: after a CR the next byte has to be read to tell
// CR LF from a lone CR, and when it is no LF it is held for the next console read
// (a command started meanwhile does not see it). The data file is read in large
// blocks; it is never written. A pair in the common form is scanned where it lies
// in the block; anything else, and a pair that reaches the end of the block, is read
// byte by byte by the general reader.

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "console.h"
#include "internal.h"

namespace {

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

int argument_count = 0;
char** arguments = nullptr;
int next_argument = 1;  // the next replacement name; argument 0 is the program

// ---------------------------------------------------------------------------
// Standard input
// ---------------------------------------------------------------------------

constexpr std::string_view CONSOLE_UNIT = "CON";
constexpr char END_OF_INPUT_MARK = 26;  // a terminal line ending with it is the end

int terminal_state = -1;  // -1 not yet asked, else 0 or 1
int held_byte = -1;       // a byte read after a lone CR, given back to the next read

[[noreturn]] void console_error(int number) {
  runtime_io_error(number, IoStatement::Read, CONSOLE_UNIT, io_error_message(number));
}

// The next byte of standard input, or -1 at its end.
int next_input_byte() {
  if (held_byte >= 0) {
    int byte = held_byte;
    held_byte = -1;
    return byte;
  }
  const int byte = console_internal::read_input_byte();
  if (byte == console_internal::READ_FAILED) console_error(F_READ_FAILED);
  return byte;
}

// ---------------------------------------------------------------------------
// Unit 4: the data file
// ---------------------------------------------------------------------------

constexpr std::size_t NAME_CAPACITY = 4096;
constexpr int ANSWER_CAPACITY = 260;  // characters stored from the "UNIT 4? " answer

int data_fd = -1;
char data_name[NAME_CAPACITY];  // the name the unit is connected under
std::size_t data_name_length = 0;

std::string_view data_unit_name() { return {data_name, data_name_length}; }

// A data error met inside a read: thrown from wherever the reader finds it and
// caught where the read began, so the reading code needs no error returns on its
// ordinary path.
struct DataError {
  int number;
};

[[noreturn]] void data_error(int number) { throw DataError{number}; }

// Block buffer of the data file.
constexpr std::size_t BLOCK_SIZE = 1 << 16;
unsigned char block[BLOCK_SIZE];
std::size_t block_pos = 0;
std::size_t block_end = 0;
bool file_ended = false;

int refill() {
  if (file_ended) return -1;
  const long n = console_internal::read_data_file(data_fd, block, BLOCK_SIZE);
  if (n < 0) data_error(F_READ_FAILED);
  if (n == 0) {
    file_ended = true;
    return -1;
  }
  block_pos = 0;
  block_end = static_cast<std::size_t>(n);
  return block[0];
}

// The current byte of the data file without taking it, or -1 at the end.
inline int peek() { return block_pos < block_end ? block[block_pos] : refill(); }
inline void take() { ++block_pos; }

// Discards the rest of the current record, its line feed included.
void discard_record() {
  for (;;) {
    if (block_pos >= block_end && refill() < 0) return;
    const void* lf = std::memchr(block + block_pos, '\n', block_end - block_pos);
    if (lf != nullptr) {
      block_pos = static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - block) + 1;
      return;
    }
    block_pos = block_end;
  }
}

// ---------------------------------------------------------------------------
// Values of the free-form syntax
// ---------------------------------------------------------------------------

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

// A byte that ends a value: blank, tab, comma, slash, a record end or the file end.
inline bool ends_value(int c) {
  return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n' || c == '\r' || c < 0;
}

// The significant digits of the value being read (from its first non-zero digit
// on), at most SIGNIFICANT_LIMIT of them: a value of any length is held in a fixed
// space. A non-zero digit beyond them is kept as one final 1, which rounds to the
// same double: every value halfway between two doubles has at most 767 significant
// digits, so the digits past the 800th only tell whether the value lies above the
// digits kept.
constexpr std::size_t SIGNIFICANT_LIMIT = 800;
char significant[SIGNIFICANT_LIMIT];
std::size_t significant_count = 0;
bool dropped_nonzero = false;

inline void keep_significant(int c) {
  if (significant_count < SIGNIFICANT_LIMIT) {
    significant[significant_count++] = static_cast<char>(c);
  } else if (c != '0') {
    dropped_nonzero = true;
  }
}

// Exponents are counted up to this size; anything larger is far out of range.
constexpr long long EXPONENT_LIMIT = 1000000000000000LL;

// Whatever follows a value that is not one of its separators: a "*" anywhere but
// after a leading unsigned count is a bad repeat count, anything else a bad value.
[[noreturn]] void bad_value_character(int c) {
  data_error(c == '*' ? F_INVALID_REPEAT : F_INVALID_REAL);
}

// The largest magnitude accepted, one double step above the largest finite real;
// magnitudes above the largest finite real up to it read as the largest real.
constexpr double READ_BOUND = 0x1.fffffe0000001p+127;

// Converts the collected text to double precision and rounds it to a real. The
// decimal exponent estimate tells an overflow from an underflow when the standard
// conversion reports that the value is out of the range of a double.
float convert_value(const char* first, const char* last, bool all_zero, long long decimal_exponent) {
  bool negative = (*first == '-');
  double wide = 0.0;
  if (!all_zero) {
    std::from_chars_result result = std::from_chars(first, last, wide);
    if (result.ec == std::errc::result_out_of_range) {
      if (decimal_exponent > 0) data_error(F_REAL_OUT_OF_RANGE);
      wide = 0.0;
    } else if (result.ec != std::errc() || result.ptr != last) {
      data_error(F_INVALID_REAL);
    }
  }
  double magnitude = wide < 0.0 ? -wide : wide;
  if (magnitude > READ_BOUND) data_error(F_REAL_OUT_OF_RANGE);
  if (magnitude > static_cast<double>(FLT_MAX)) return negative ? -FLT_MAX : FLT_MAX;
  if (wide == 0.0) return negative ? -0.0f : 0.0f;
  // In range: the rounding can underflow or be inexact, neither of which traps.
  return static_cast<float>(wide);
}

// One item of the input: r*v gives r copies of v, r* gives r null values.
struct Item {
  long repeat = 1;
  bool null_value = false;
  float value = 0.0f;
};

// The common value read where it lies in the block: a sign, at most 19 significant
// digits around an optional point, an optional exponent of at most four digits, and
// a separator after it inside the block. Its digits make an integer M below 2^53
// and the value is M times a power of ten of at most 22, which a double holds
// exactly; one multiplication or division then gives the correctly rounded double,
// the one the standard conversion gives. For anything else (a repeat count, a value
// that reaches the end of the block, more digits, a larger exponent, a bad
// character) the scan gives up, having taken nothing, and the value is read byte by
// byte from the same place.
constexpr double EXACT_POWERS[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

bool exact_decimal(std::uint64_t digits, int scale, double& wide) {
  if (digits >= (std::uint64_t{1} << 53) || scale < -22 || scale > 22) return false;
  const double m = static_cast<double>(digits);
  wide = scale >= 0 ? m * EXACT_POWERS[scale] : m / EXACT_POWERS[-scale];
  return true;
}

namespace {

inline bool digit_at(const unsigned char* p) { return static_cast<unsigned>(*p) - '0' < 10u; }

inline bool is_separator(unsigned char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n' || c == '\r';
}

// Scans the value at p (p < end) and returns the place of the separator after it,
// with the value in `value`; nullptr when the scan gives up.
const unsigned char* scan_number(const unsigned char* p, const unsigned char* end, float& value) {
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  const unsigned char* const first = p;
  while (p < end && *p == '0') ++p;  // leading zeros are not significant
  std::uint64_t digits = 0;
  const unsigned char* significant_from = p;
  while (p < end && digit_at(p)) digits = digits * 10 + (*p++ - '0');
  std::ptrdiff_t significant_digits = p - significant_from;
  int places = 0;  // digits after the point
  bool any_digit = p != first;
  if (p < end && *p == '.') {
    const unsigned char* const fraction = ++p;
    if (digits == 0) {
      while (p < end && *p == '0') ++p;
    }
    significant_from = p;
    while (p < end && digit_at(p)) digits = digits * 10 + (*p++ - '0');
    significant_digits += p - significant_from;
    places = static_cast<int>(p - fraction);
    any_digit = any_digit || p != fraction;
  }
  // More than 19 digits may have wrapped around: given up below.
  if (!any_digit || p == end || significant_digits > 19) return nullptr;
  int exponent = 0;
  if (*p == 'E' || *p == 'e' || *p == 'D' || *p == 'd' || *p == '+' || *p == '-') {
    if (*p != '+' && *p != '-') ++p;
    bool exponent_negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
      exponent_negative = (*p == '-');
      ++p;
    }
    const unsigned char* const exponent_first = p;
    while (p < end && digit_at(p) && p - exponent_first < 5) exponent = exponent * 10 + (*p++ - '0');
    if (p == exponent_first || p - exponent_first > 4) return nullptr;
    if (exponent_negative) exponent = -exponent;
  }
  if (p == end || !is_separator(*p)) return nullptr;
  const int scale = exponent - places;
  double wide = 0.0;
  if (digits != 0 && !exact_decimal(digits, scale, wide)) return nullptr;
  // At most 2^53 * 10^22, below the largest real: no range error, no overflow.
  const float magnitude = static_cast<float>(wide);
  value = negative ? -magnitude : magnitude;
  return p;
}

bool scan_value_in_place(Item& item) {
  const unsigned char* after = scan_number(block + block_pos, block + block_end, item.value);
  if (after == nullptr) return false;
  block_pos = static_cast<std::size_t>(after - block);
  return true;
}

// Reads an item starting at the current byte (a sign, a digit or a point) and stops
// at the separator after it without taking it. A run of unsigned digits followed by
// "*" is a repeat count; after it the value is read again, now without a count.
void read_item(Item& item, bool count_allowed) {
  if (scan_value_in_place(item)) return;
  significant_count = 0;
  dropped_nonzero = false;
  int c = peek();
  bool signed_value = false;
  bool negative = false;
  if (c == '+' || c == '-') {
    signed_value = true;
    negative = (c == '-');
    take();
    c = peek();
  }
  bool any_digit = false;
  long long leading = 0;  // places of the first non-zero digit before (+) or after (-) the point
  bool seen_nonzero = false;
  while (is_digit(c)) {
    any_digit = true;
    if (c != '0') seen_nonzero = true;
    if (seen_nonzero) {
      keep_significant(c);
      ++leading;
    }
    take();
    c = peek();
  }
  if (c == '*' && count_allowed && !signed_value && any_digit) {
    if (!seen_nonzero) data_error(F_INVALID_REPEAT);  // a count of zero
    item.repeat = leading > 1 ? 2 : significant[0] - '0';  // only up to two copies are used
    take();
    c = peek();
    if (ends_value(c)) {
      item.null_value = true;
      return;
    }
    if (c == '\'' || c == '"' || c == '(') data_error(F_TEXT_FOR_REAL);
    read_item(item, false);
    return;
  }
  if (c == '.') {
    take();
    c = peek();
    while (is_digit(c)) {
      any_digit = true;
      if (c != '0') seen_nonzero = true;
      if (seen_nonzero) keep_significant(c);
      if (!seen_nonzero) --leading;
      take();
      c = peek();
    }
  }
  if (!any_digit) {
    if (ends_value(c)) data_error(F_INVALID_REAL);  // a sign or a point alone
    bad_value_character(c);
  }
  long long exponent = 0;
  bool has_exponent = false;
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
    take();
    c = peek();
    has_exponent = true;
  } else if (c == '+' || c == '-') {
    has_exponent = true;  // a sign directly after the digits starts the exponent
  }
  if (has_exponent) {
    bool exponent_negative = false;
    if (c == '+' || c == '-') {
      exponent_negative = (c == '-');
      take();
      c = peek();
    }
    bool any_exponent_digit = false;
    while (is_digit(c)) {
      any_exponent_digit = true;
      if (exponent < EXPONENT_LIMIT) exponent = exponent * 10 + (c - '0');
      take();
      c = peek();
    }
    if (!any_exponent_digit) {
      if (ends_value(c)) data_error(F_INVALID_REAL);  // the value stops after E or a sign
      bad_value_character(c);
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (!ends_value(c)) bad_value_character(c);
  // The standard conversion reads the value as [-]0.<significant digits>e<places>.
  char text[SIGNIFICANT_LIMIT + 32];
  std::size_t length = 0;
  if (negative) text[length++] = '-';
  text[length++] = '0';
  text[length++] = '.';
  std::memcpy(text + length, significant, significant_count);
  length += significant_count;
  if (dropped_nonzero) text[length++] = '1';
  const long long places = exponent + leading;
  text[length++] = 'e';
  length = static_cast<std::size_t>(std::to_chars(text + length, text + sizeof text, places).ptr - text);
  item.value = convert_value(text, text + length, !seen_nonzero, places);
}

}  // namespace

// ---------------------------------------------------------------------------
// Command line and standard input
// ---------------------------------------------------------------------------

void set_command_line(int argc, char** argv) {
  argument_count = argc;
  arguments = argv;
  next_argument = 1;
}

bool console_input_is_terminal() {
  if (terminal_state < 0) terminal_state = console_internal::input_is_terminal() ? 1 : 0;
  return terminal_state == 1;
}

int console_read_line(char* line, int max_stored) {
  int stored = 0;
  bool any = false;
  for (;;) {
    int c = next_input_byte();
    if (c < 0) return any ? stored : -1;
    any = true;
    if (c == '\n') return stored;
    if (c == '\r') {
      int after = next_input_byte();
      if (after >= 0 && after != '\n') held_byte = after;
      return stored;
    }
    if (stored < max_stored) line[stored++] = static_cast<char>(c);
  }
}

void READ_FILE_NAME(char (&fname)[20]) {
  begin_console_read();
  note_io_statement(IoStatement::Read, CONSOLE_UNIT);
  // The line is a record: it ends with LF, and a CR directly before the LF belongs
  // to the line end. Only the first 20 characters are kept, and the last one seen
  // is remembered for the CR before the LF and the terminal's end-of-input mark.
  constexpr int COUNT_LIMIT = 1 << 20;  // any length above 130 tells the same
  int count = 0;
  int last = -1;
  int before_last = -1;
  bool any = false;
  for (;;) {
    int c = next_input_byte();
    if (c < 0) {
      if (!any) console_error(F_END_OF_FILE);
      break;
    }
    any = true;
    if (c == '\n') break;
    if (count < 20) fname[count] = static_cast<char>(c);
    if (count < COUNT_LIMIT) ++count;  // a line of gigabytes cannot overflow the count
    before_last = last;
    last = c;
  }
  if (last == '\r') {  // CR LF: the CR is part of the line end
    --count;
    last = before_last;
  }
  if (console_input_is_terminal()) {
    if (count > 130) console_error(F_LINE_TOO_LONG);
    if (count > 0 && last == END_OF_INPUT_MARK) console_error(F_END_OF_FILE);
  }
  for (int i = count < 20 ? count : 20; i < 20; ++i) fname[i] = ' ';
  end_console_read();
}

// ---------------------------------------------------------------------------
// Opening unit 4
// ---------------------------------------------------------------------------

namespace {

std::string_view trim_blanks(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// Asks for a name on the console until one that is not blank is typed.
std::string_view ask_for_name(int unit, char (&answer)[ANSWER_CAPACITY]) {
  char prompt[32];
  int length = std::snprintf(prompt, sizeof prompt, " UNIT %d? ", unit);
  for (;;) {
    write_literal_record(" File name missing or blank - please enter file name");
    write_prompt(std::string_view(prompt, static_cast<std::size_t>(length)));
    begin_console_read();
    note_io_statement(IoStatement::Read, CONSOLE_UNIT);
    // From a terminal the line arrives with its line end in one read of at most
    // 260 bytes, so only 258 typed characters can count.
    int limit = console_input_is_terminal() ? ANSWER_CAPACITY - 2 : ANSWER_CAPACITY;
    int stored = console_read_line(answer, limit);
    if (stored < 0) console_error(F_END_OF_FILE);
    end_console_read();
    std::string_view name = trim_blanks(std::string_view(answer, static_cast<std::size_t>(stored)));
    if (!name.empty()) return name;
  }
}

}  // namespace

void OPEN_DATA_FILE(int unit, const char (&fname)[20]) {
  std::string_view name = trim_blanks(std::string_view(fname, 20));
  if (name.empty() && next_argument < argument_count) {
    name = trim_blanks(arguments[next_argument++]);
  }
  static char answer[ANSWER_CAPACITY];
  if (name.empty()) name = ask_for_name(unit, answer);

  close_data_unit();
  std::size_t length = name.size() < NAME_CAPACITY ? name.size() : NAME_CAPACITY - 1;
  std::memmove(data_name, name.data(), length);
  data_name[length] = '\0';
  data_name_length = length;
  note_io_statement(IoStatement::Open, data_unit_name());
  // A name holding a NUL names no file: the platform would open the part before it.
  const bool nameable = name.size() < NAME_CAPACITY && name.find('\0') == std::string_view::npos;
  int fd = nameable ? console_internal::open_data_file(data_name) : -1;
  if (fd < 0) {
    runtime_io_error(F_OPEN_FAILED, IoStatement::Open, name, io_error_message(F_OPEN_FAILED));
  }
  data_fd = fd;
  block_pos = block_end = 0;
  file_ended = false;
}

void close_data_unit() {
  if (data_fd >= 0) {
    console_internal::close_data_file(data_fd);
    data_fd = -1;
  }
}

void console_internal::reset_input() {
  close_data_unit();
  data_name_length = 0;
  block_pos = block_end = 0;
  file_ended = false;
  held_byte = -1;
  terminal_state = -1;
}

// ---------------------------------------------------------------------------
// Reading a pair
// ---------------------------------------------------------------------------

namespace {

// One list-directed read of two reals; a data error is thrown as DataError.
// Skips blanks, tabs and record ends from p as the reader does between values (a
// lone CR ends its record, up to the next LF); nullptr at the end of the block.
const unsigned char* skip_blanks(const unsigned char* p, const unsigned char* end) {
  for (; p < end; ++p) {
    if (*p == ' ' || *p == '\t' || *p == '\n') continue;
    if (*p != '\r') return p;
    p = static_cast<const unsigned char*>(std::memchr(p + 1, '\n', static_cast<std::size_t>(end - p - 1)));
    if (p == nullptr) return nullptr;
  }
  return nullptr;
}

// The common pair read where it lies in the block: two values as scan_number takes
// them, between them blanks, tabs, record ends and at most one comma, then the rest
// of the record up to its LF. Gives up, having taken nothing, on anything else,
// which the general reader below then reads from the same place.
bool scan_pair_in_place(float& time, float& concentration) {
  const unsigned char* const end = block + block_end;
  const unsigned char* p = skip_blanks(block + block_pos, end);
  float first = 0.0f;
  float second = 0.0f;
  if (p == nullptr || *p == ',' || (p = scan_number(p, end, first)) == nullptr) return false;
  if (*p == '/' || (p = skip_blanks(p, end)) == nullptr) return false;
  if (*p == ',' && (p = skip_blanks(p + 1, end)) == nullptr) return false;
  if (*p == ',' || (p = scan_number(p, end, second)) == nullptr) return false;
  const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
  if (lf == nullptr) return false;
  time = first;
  concentration = second;
  block_pos = static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - block) + 1;
  return true;
}

bool read_pair_items(float& time, float& concentration) {
  if (data_fd < 0) data_error(F_READ_FAILED);
  if (scan_pair_in_place(time, concentration)) return true;
  float* items[2] = {&time, &concentration};
  int filled = 0;
  bool comma_gives_null = true;  // at the start of the read, or right after a comma
  while (filled < 2) {
    // Blanks, tabs and record ends before a value; a lone CR ends its record, and
    // the rest of the record up to the next LF goes with it.
    int c = peek();
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      take();
      if (c == '\r') discard_record();
      c = peek();
    }
    if (c < 0) return false;  // the end of the file while a value is looked for
    if (c == ',') {
      take();
      if (comma_gives_null) ++filled;
      comma_gives_null = true;
      continue;
    }
    if (c == '/') break;
    if (c == '\'' || c == '"' || c == '(') data_error(F_TEXT_FOR_REAL);

    Item item;
    read_item(item, true);
    for (long k = 0; k < item.repeat && filled < 2; ++k) {
      if (!item.null_value) *items[filled] = item.value;
      ++filled;
    }
    // The separator after the value: a comma is taken with it, a slash ends the
    // read, anything else (blanks, a record end) leaves a following comma to be
    // this value's separator.
    c = peek();
    if (c == ',') {
      take();
      comma_gives_null = true;
    } else if (c == '/') {
      break;
    } else {
      comma_gives_null = false;
    }
  }
  // After the second item, or at a slash, the rest of the record is discarded.
  discard_record();
  return true;
}

}  // namespace

PairRead scan_pair(float& time, float& concentration, int& error) {
  try {
    return read_pair_items(time, concentration) ? PairRead::Pair : PairRead::End;
  } catch (const DataError& failure) {
    error = failure.number;
    return PairRead::DataError;
  }
}

bool READ_PAIR(float& time, float& concentration) {
  note_io_statement(IoStatement::Read, data_unit_name());
  int error = 0;
  switch (scan_pair(time, concentration, error)) {
    case PairRead::Pair: return true;
    case PairRead::End: return false;
    case PairRead::DataError: break;
  }
  runtime_io_error(error, IoStatement::Read, data_unit_name(), io_error_message(error));
}
