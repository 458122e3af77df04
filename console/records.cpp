// Console output: list-directed and formatted records with first-column carriage
// control, the real-number texts, the stop and the normal exit path.
//
// Records are shown lazily: the line end of a record is written only when the next
// output, a console read, the pause, the stop or the exit comes. All bytes pass
// through one buffer that is written to standard output only when the
// run needs them on the screen (before a console read, before a command run at the
// pause, at the stop or the exit, before a run-time report) or when it is full.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "internal.h"

namespace {

// ---------------------------------------------------------------------------
// The byte buffer of the console connection
// ---------------------------------------------------------------------------

constexpr std::size_t OUT_CAPACITY = 8192;
char out_buffer[OUT_CAPACITY];
std::size_t out_used = 0;

bool line_pending = false;   // a record was shown and its line end not yet written
bool continuation = false;   // the last record ended with "$": show the next one as is
bool output_failed = false;  // a write failure is being reported: do not report again

// Writes the buffer to standard output. A failure on a full disk or a refused access
// ends the run with a run-time report; any other failure loses these bytes and the
// run goes on.
void flush_out() {
  using console_internal::Written;
  const Written written = console_internal::write_output(out_buffer, out_used);
  out_used = 0;
  if (written == Written::All || written == Written::Lost || output_failed) return;
  output_failed = true;
  if (written == Written::DiskFull)
    runtime_io_error(F_DISK_FULL, IoStatement::Write, "CON", io_error_message(F_DISK_FULL));
  runtime_io_error(F_WRITE_DENIED, IoStatement::Write, "CON", io_error_message(F_WRITE_DENIED));
}

void put_bytes(const char* bytes, std::size_t count) {
  while (count > 0) {
    if (out_used == OUT_CAPACITY) flush_out();
    std::size_t take = OUT_CAPACITY - out_used;
    if (take > count) take = count;
    std::memcpy(out_buffer + out_used, bytes, take);
    out_used += take;
    bytes += take;
    count -= take;
  }
}

void put_bytes(std::string_view bytes) { put_bytes(bytes.data(), bytes.size()); }

// ---------------------------------------------------------------------------
// Showing a record
// ---------------------------------------------------------------------------

constexpr std::size_t RECORD_PIECE = 132;

// Shows one record: the first character decides how it is separated from the
// previous one and is not displayed; characters beyond the first 132 continue the
// same line unchanged.
void show_record(std::string_view text) {
  if (text.empty()) text = " ";
  if (continuation) {
    put_bytes(text);
    continuation = false;
  } else {
    std::string_view piece = text.substr(0, RECORD_PIECE);
    switch (piece.front()) {
      case '0':
        put_bytes(line_pending ? "\r\n\r\n" : "\r\n");
        break;
      case '1':
        put_bytes("\r\n\f\r \r");
        break;
      case '+':
        put_bytes("\r");
        break;
      default:
        if (line_pending) put_bytes("\r\n");
        break;
    }
    put_bytes(piece.substr(1));
    if (text.size() > RECORD_PIECE) put_bytes(text.substr(RECORD_PIECE));
  }
  line_pending = true;
  note_io_statement(IoStatement::Write, "CON");
}

// ---------------------------------------------------------------------------
// Real numbers
// ---------------------------------------------------------------------------

// The first 17 significant decimal digits of a finite non-zero value, with n such
// that |value| = 0.d1d2d3... x 10^n.
struct Digits {
  char d[17];
  int n;
  bool negative;
};

Digits decimal_digits(float value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.16e", static_cast<double>(value));
  Digits digits{};
  const char* p = text;
  digits.negative = (*p == '-');
  if (digits.negative) ++p;
  int k = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits.d[k++] = *p;
  }
  digits.n = std::atoi(p + 1) + 1;
  return digits;
}

// Cuts the digits to 7, rounding up when the eighth is 5 or more; a carry out of
// the first digit gives 1000000 and raises n.
void round_to_seven(Digits& digits) {
  if (digits.d[7] < '5') return;
  int i = 6;
  while (i >= 0 && digits.d[i] == '9') digits.d[i--] = '0';
  if (i >= 0) {
    ++digits.d[i];
  } else {
    digits.d[0] = '1';
    ++digits.n;
  }
}

std::string non_finite_text(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  std::string text;
  if (std::isinf(value)) {
    text = "1#INF";
  } else if ((bits & 0x00400000u) == 0) {
    text = "1#SNAN";
  } else if (bits == 0xFFC00000u) {
    text = "1#IND";  // the default NaN of an invalid operation
  } else {
    text = "1#QNAN";
  }
  text.append(13 - text.size(), '.');
  return text;
}

std::string exponent_text(const Digits& digits) {
  std::string text;
  if (digits.negative) text += '-';
  text += digits.d[0];
  text += '.';
  text.append(digits.d + 1, 6);
  int exponent = digits.n - 1;
  char tail[16];
  if (exponent >= -99 && exponent <= 99) {
    std::snprintf(tail, sizeof tail, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  } else {
    std::snprintf(tail, sizeof tail, "%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
  }
  return text + tail;
}

constexpr std::string_view ZERO_TEXT = "0.000000E+00";

// ---------------------------------------------------------------------------
// List-directed record state
// ---------------------------------------------------------------------------

constexpr int LINE_ROOM = 79;

char line[RECORD_PIECE + 16];
int line_length = 0;
int room = LINE_ROOM;
int pending_blanks = 1;
bool after_number = false;

void line_append(const char* text, int count) {
  std::memcpy(line + line_length, text, static_cast<std::size_t>(count));
  line_length += count;
}

void line_blanks(int count) {
  std::memset(line + line_length, ' ', static_cast<std::size_t>(count));
  line_length += count;
}

void end_line() {
  show_record(std::string_view(line, static_cast<std::size_t>(line_length)));
  line_length = 0;
}

void put_number_text(const std::string& text, int field) {
  int width = after_number ? field + 1 : field;
  pending_blanks += width - static_cast<int>(text.size());
  after_number = true;
  if (width >= room) {
    end_line();
    room = LINE_ROOM - width;
    // The new line's first character is its carriage control. A number as wide as
    // its field (after a text item) has no blank of its own to give for it, and would
    // lose its sign or first digit: it gets one.
    if (pending_blanks == 0) pending_blanks = 1;
  } else {
    room -= width;
  }
  line_blanks(pending_blanks);
  line_append(text.data(), static_cast<int>(text.size()));
  pending_blanks = 0;
}

}  // namespace

void console_internal::reset_records() {
  out_used = 0;
  line_pending = false;
  continuation = false;
  output_failed = false;
  line_length = 0;
  room = LINE_ROOM;
  pending_blanks = 1;
  after_number = false;
}

void console_reset() {
  console_internal::reset_records();
  console_internal::reset_report();
  console_internal::reset_input();
}

// ---------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------

std::string format_real_list(float value) {
  if (!std::isfinite(value)) return non_finite_text(value);
  if (value == 0.0f) return std::string(ZERO_TEXT);
  Digits digits = decimal_digits(value);
  bool fixed = digits.n > 0 && digits.n < 8;  // judged before rounding
  round_to_seven(digits);
  if (!fixed) return exponent_text(digits);
  std::string text;
  if (digits.negative) text += '-';
  int before = digits.n;  // n + 1 when rounding carried out of the first digit
  for (int i = 0; i < before + 6; ++i) {
    if (i == before) text += '.';
    text += (i < 7) ? digits.d[i] : '0';
  }
  return text;
}

std::string format_real_exponent(float value) {
  if (!std::isfinite(value)) return non_finite_text(value);
  if (value == 0.0f) return std::string(ZERO_TEXT);
  Digits digits = decimal_digits(value);
  round_to_seven(digits);
  return exponent_text(digits);
}

void begin_list_record() {
  line_length = 0;
  room = LINE_ROOM;
  pending_blanks = 1;
  after_number = false;
}

void put_text_item(const char* text, int length) {
  if (length < 0) length = 0;
  if (pending_blanks != 1) pending_blanks = 0;
  after_number = false;
  while (length >= room) {
    // Split: what the room holds stays on this line, the rest goes to a new one.
    line_blanks(pending_blanks);
    int take = room;
    line_append(text, take);
    end_line();
    text += take;
    length -= take;
    line_blanks(1);
    room = LINE_ROOM;
    pending_blanks = 0;
  }
  line_blanks(pending_blanks);
  line_append(text, length);
  room -= length;
  pending_blanks = 0;
}

void put_text_item(std::string_view text) {
  put_text_item(text.data(), static_cast<int>(text.size()));
}

void put_integer_item(std::int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  put_number_text(text, 11);
}

void put_real_item(float value) { put_number_text(format_real_list(value), 15); }

void end_list_record() { end_line(); }

void write_literal_record(std::string_view text) { show_record(text); }

void write_prompt(std::string_view literal) {
  show_record(literal);
  continuation = true;
}

void begin_console_read() {
  if (line_pending && !continuation) put_bytes("\r\n");
  continuation = false;
  flush_out();
}

void end_console_read() { line_pending = false; }

void console_write_raw(std::string_view bytes) { put_bytes(bytes); }

void console_end_pending_line() {
  if (line_pending) put_bytes("\r\n");
}

void console_flush() { flush_out(); }

bool console_line_pending() { return line_pending; }

void stop_run(int status) { stop_run(status, {}); }

void stop_run(int status, std::string_view text) {
  console_end_pending_line();
  if (text.empty()) {
    put_bytes("Stop - Program terminated.\r\n");
  } else {
    put_bytes(text);
    put_bytes("\r\n");
  }
  normal_exit(status);
}

bool console_write_now(std::string_view text) {
  return console_internal::write_output(text.data(), text.size()) == console_internal::Written::All;
}

void normal_exit(int status) {
  close_data_unit();
  console_end_pending_line();
  flush_out();
  console_internal::exit_now(status);
}
