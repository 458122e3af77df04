// Internal to the console library (its interface is console.h): each file's part of
// console_reset, and what the system does for it (the *_posix.cpp files).
#pragma once

#include <cstddef>

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

// Standard streams and the data file (streams_posix.cpp).

// The next byte of standard input, END_OF_INPUT at its end or READ_FAILED; waits while
// an input in non-blocking mode has nothing yet.
inline constexpr int END_OF_INPUT = -1, READ_FAILED = -2;
int read_input_byte();
bool input_is_terminal();

// Writes all the bytes to standard output, retrying interrupted and partial writes,
// or says how that failed: on a full disk, refused (no access, a lock), or lost (a
// closed stream, a reader gone, anything else).
enum class Written { All, DiskFull, Denied, Lost };
Written write_output(const char* bytes, std::size_t count);

// Writes the bytes to standard error; a failure is ignored. Async-signal-safe.
void write_error(const char* bytes, std::size_t count);

// The data file, only ever read: an existing file opened as it is (read-write, else
// read-only, else write-only: never changed), a missing one created empty; a
// directory is refused. The handle never takes the place of a closed standard
// stream. -1 when it can be neither opened nor created.
int open_data_file(const char* path);
// Up to `size` bytes of the file: their count, 0 at its end, -1 when the system fails.
long read_data_file(int file, unsigned char* buffer, std::size_t size);
void close_data_file(int file);

// Ends the process at once with the status. Async-signal-safe.
[[noreturn]] void exit_now(int status);

// A floating-point trap, as the system reported its cause.
enum class Trap { Invalid, DivideByZero, Overflow, Underflow, Inexact };

// The report of a trap ("run-time error M6103: MATH" ...) on standard error, then the
// exit with status 1; only async-signal-safe operations (report.cpp). The system's
// trap handler calls it (traps_posix.cpp).
[[noreturn]] void report_trap(Trap trap);

}  // namespace console_internal
