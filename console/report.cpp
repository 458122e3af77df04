// The run-time error report: the short text written to standard error when an
// input/output statement fails without a handler or a floating-point operation
// traps, followed by the normal exit path with status 1.
//
//   CR LF
//   run-time error F6501: READ(CON) CR LF
//   - end of file reached while reading CR LF
//
// A trap names no unit: "run-time error M6103: MATH" CR LF "- floating-point
// error: divide by zero" CR LF. The report is written straight to standard error and
// its outcome is not checked. The trap handler uses only async-signal-safe operations.

#include <signal.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "console.h"
#include "internal.h"

namespace {

// ---------------------------------------------------------------------------
// Assembling the report in a fixed buffer (no allocation: the trap handler uses it)
// ---------------------------------------------------------------------------

constexpr std::size_t REPORT_CAPACITY = 4608;

struct ReportText {
  char bytes[REPORT_CAPACITY];
  std::size_t used = 0;

  void add(const char* text, std::size_t count) {
    if (count > REPORT_CAPACITY - used) count = REPORT_CAPACITY - used;
    std::memcpy(bytes + used, text, count);
    used += count;
  }
  void add(std::string_view text) { add(text.data(), text.size()); }

  // The category letter and the number in four digits (F6501, M6103).
  void add_number(char category, int number) {
    char text[5];
    text[0] = category;
    for (int i = 4; i >= 1; --i) {
      text[i] = static_cast<char>('0' + number % 10);
      number /= 10;
    }
    add(text, sizeof text);
  }
};

std::string_view statement_text(IoStatement statement) {
  switch (statement) {
    case IoStatement::Read: return ": READ(";
    case IoStatement::Write: return ": WRITE(";
    case IoStatement::Open: return ": OPEN(";
    case IoStatement::Close: return ": CLOSE(";
    case IoStatement::Rewind: return ": REWIND(";
  }
  return ": READ(";
}

// Set once a report is being written: a second failure met on the way out (the
// final line end of standard output, say) ends the process without a second report.
volatile sig_atomic_t reporting = 0;

// ---------------------------------------------------------------------------
// The last input/output statement of the run
// ---------------------------------------------------------------------------

constexpr std::size_t UNIT_NAME_CAPACITY = 4096;
IoStatement last_statement = IoStatement::Write;
char last_unit[UNIT_NAME_CAPACITY] = "CON";
std::size_t last_unit_length = 3;

// ---------------------------------------------------------------------------
// Floating-point traps
// ---------------------------------------------------------------------------

struct TrapName {
  int number;
  std::string_view name;
};

TrapName trap_name(console_internal::Trap trap) {
  using console_internal::Trap;
  switch (trap) {
    case Trap::DivideByZero: return {6103, "divide by zero"};
    case Trap::Overflow: return {6104, "overflow"};
    case Trap::Underflow: return {6105, "underflow"};
    case Trap::Inexact: return {6106, "inexact"};
    case Trap::Invalid: break;
  }
  return {6101, "invalid"};
}

}  // namespace

void console_internal::report_trap(Trap kind) {
  if (reporting) console_internal::exit_now(EXIT_RUNTIME_ERROR);
  console_flush();  // what was shown before the trap stays in front of the report
  reporting = 1;
  const TrapName trap = trap_name(kind);
  ReportText report;
  report.add("\r\nrun-time error ");
  report.add_number('M', trap.number);
  report.add(": MATH\r\n- floating-point error: ");
  report.add(trap.name);
  report.add("\r\n");
  console_internal::write_error(report.bytes, report.used);
  normal_exit(EXIT_RUNTIME_ERROR);
}

void console_internal::reset_report() {
  last_statement = IoStatement::Write;
  std::memcpy(last_unit, "CON", 4);
  last_unit_length = 3;
}

void runtime_io_error(int number, IoStatement statement, std::string_view unit_name,
                      std::string_view message) {
  if (reporting) console_internal::exit_now(EXIT_RUNTIME_ERROR);
  // Flushed before the flag is set: a console write that fails here is the earlier
  // fault, and its own report takes the place of this one.
  console_flush();
  reporting = 1;
  static ReportText report;
  report.used = 0;
  report.add("\r\nrun-time error ");
  report.add_number('F', number);
  report.add(statement_text(statement));
  report.add(unit_name);
  report.add(message.empty() ? ")\r\n" : ")\r\n- ");
  report.add(message);
  report.add("\r\n");
  console_internal::write_error(report.bytes, report.used);
  normal_exit(EXIT_RUNTIME_ERROR);
}

void runtime_io_error_at_last_statement(int number, std::string_view message) {
  runtime_io_error(number, last_statement, std::string_view(last_unit, last_unit_length),
                   message);
}

void note_io_statement(IoStatement statement, std::string_view unit_name) {
  last_statement = statement;
  std::size_t length = unit_name.size();
  if (length > UNIT_NAME_CAPACITY) length = UNIT_NAME_CAPACITY;
  std::memmove(last_unit, unit_name.data(), length);
  last_unit_length = length;
}

std::string_view io_error_message(int number) {
  switch (number) {
    case F_OPEN_FAILED: return "file cannot be opened or created";
    case F_WRITE_DENIED: return "write refused: no access or the file is locked";
    case F_DISK_FULL: return "no space left on device";
    case F_READ_FAILED: return "the system failed to read the file";
    case F_END_OF_FILE: return "end of file reached while reading";
    case F_LINE_TOO_LONG: return "console input line longer than 130 characters";
    case F_INVALID_REAL: return "invalid real value";
    case F_TEXT_FOR_REAL: return "quoted text or (x,y) pair where a real is expected";
    case F_REAL_OUT_OF_RANGE: return "real value out of range";
    case F_INVALID_REPEAT: return "invalid repeat count";
    default: return "input/output error";
  }
}
