// Internal to the console library (its interface is console.h): each file's part of
// console_reset, and what the system does for it (the *_posix.cpp files).
#pragma once

namespace console_internal {

void reset_records();  // the output buffer, the pending line and the list record
void reset_report();   // the last input/output statement
void reset_input();    // the held byte, the terminal answer and unit 4

// Runs the line with the interpreter named by COMSPEC, started with "/c" and the
// line; when that is unset, or cannot be started because it is not found or not
// permitted, with the system's shell. Any other failure to start it (a file of no
// executable format, too little memory) runs nothing. The standard handles are
// inherited; the exit status is ignored. (process_posix.cpp)
void run_command_line(char* line);

// A floating-point trap, as the system reported its cause.
enum class Trap { Invalid, DivideByZero, Overflow, Underflow, Inexact };

// The report of a trap ("run-time error M6103: MATH" ...) on standard error, then the
// exit with status 1; only async-signal-safe operations (report.cpp). The system's
// trap handler calls it (traps_posix.cpp).
[[noreturn]] void report_trap(Trap trap);

}  // namespace console_internal
