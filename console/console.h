// Console and file conventions: the bytes written to standard output, the stop and
// the exit path, the three input operations of the data loader, the pause, and the
// run-time error report that ends a run after an input/output failure or a
// floating-point trap.
//
// Every byte of console output goes through one buffer and is written with the raw
// write(2) of standard output: no newline translation, line ends are CR LF bytes.
// A record or prompt puts its bytes in the buffer when it is shown, together with
// the line end of the line before it; its own line end waits for the next output.
// The buffer is written out only when the run needs the bytes on the screen: at
// console_flush, before a console read (the file name, the "UNIT 4? " answer, the
// pause's answer), before a command run at the pause, at the stop and the exit;
// a full buffer is written out at once. The run-time report and the floating-point
// trap flush the buffer before they write to standard error, so the order of the
// bytes is that of a run that wrote each record at once, in fewer writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// ---------------------------------------------------------------------------
// Output records (records.cpp)
// ---------------------------------------------------------------------------

// List-directed records: begin, any number of items, end. Items are laid out with
// the fixed widths of the console (text: its length; integer: 11 columns; real: 15
// columns; one more column for a number that follows a number) and lines of 79
// columns; the record begins with the carriage-control blank.
void begin_list_record();
void put_text_item(std::string_view text);
void put_text_item(const char* text, int length);  // a negative length counts as 0
void put_integer_item(std::int32_t value);
void put_real_item(float value);
void end_list_record();

// A formatted record whose whole text, first (carriage-control) character
// included, is the given text. An empty text is shown as one blank.
void write_literal_record(std::string_view text);

// Shows the literal as a record and leaves the cursor behind it: the next record or
// console read continues on the same line.
void write_prompt(std::string_view literal);

// Real-number texts. `format_real_list` is the 8 to 15 character text of a real item
// (fixed form for 1 <= |x| < 10000000, exponent form otherwise; 7 significant
// digits), without the blanks that right-justify it in its field.
// `format_real_exponent` is always the exponent form with one digit before the point
// (1.000000E-03), for any finite non-zero value; zero gives 0.000000E+00.
// Non-finite values give "1#INF", "1#IND", "1#QNAN" or "1#SNAN" padded with dots to
// 13 characters (the sign is not shown).
std::string format_real_list(float value);
std::string format_real_exponent(float value);

// Console read bracketing (used by the input operations and the pause): before a
// read, a pending line is ended (unless the cursor stands behind a prompt) and the
// buffer is flushed; after it, the pending-line marker is cleared because the
// user's Enter has already moved the cursor to a new line.
void begin_console_read();
void end_console_read();

// Writes bytes to the console unchanged (through the buffer), and ends a pending
// line with CR LF without clearing the marker (the pause, the stop and the exit).
void console_write_raw(std::string_view bytes);
void console_end_pending_line();
void console_flush();
bool console_line_pending();

// Puts the console back as it is when a run starts: an empty buffer, no pending line,
// no list record begun, the last statement a WRITE to CON, unit 4 closed, no byte held
// from standard input. For a process that runs many pieces of work, one after the
// other, each as if it were a run of its own; bytes still in the buffer are dropped.
void console_reset();

// Exit statuses of a run.
inline constexpr int EXIT_NORMAL = 0;          // the ordinary end after the pause
inline constexpr int EXIT_RUNTIME_ERROR = 1;   // after a run-time error report
inline constexpr int EXIT_ERROR_STOP = 2;      // a stop caused by an error

// Start-up of the console: a write to a pipe whose reader has gone then fails like
// any other write that is not refused for space or access, is ignored and the run
// goes on, instead of the process ending by a signal. Commands run at the pause
// start with the default action again. (Windows has no such signal: nothing to do.)
void ignore_broken_pipes();

// Writes the text to standard output at once, bytes as they are, outside the
// console's buffer (the answers to --help and --version): true when all went out.
bool console_write_now(std::string_view text);

// Ends a pending line, writes "Stop - Program terminated." CR LF (or the given text
// and CR LF) and ends the process with the given status through `normal_exit`.
[[noreturn]] void stop_run(int status);
[[noreturn]] void stop_run(int status, std::string_view text);

// The normal exit path: the end-of-run actions (closing the data unit, then CR LF
// when a console line is pending), a flush, and the end of the process.
[[noreturn]] void normal_exit(int status);

// ---------------------------------------------------------------------------
// Run-time error report (report.cpp)
// ---------------------------------------------------------------------------

// Kind of the input/output statement named in a report.
enum class IoStatement { Read, Write, Open, Close, Rewind };

// Writes, to standard error, CR LF, "run-time error F<number>: READ(<unit>)" CR LF
// "- <message>" CR LF (with an empty message: ")" CR LF, then CR LF), and ends the
// run with exit status 1 through the normal exit path. The console buffer is
// flushed first so the order of bytes is kept; a second failure met while the
// report is on its way out ends the process without another report.
[[noreturn]] void runtime_io_error(int number, IoStatement statement,
                                   std::string_view unit_name, std::string_view message);

// The same report naming the kind and unit of the last input/output statement of
// the run (`note_io_statement`): for a failure that no statement of its own caused,
// such as the end of input at the pause.
[[noreturn]] void runtime_io_error_at_last_statement(int number, std::string_view message);

// Input/output error numbers: 6000 plus the message number of the condition.
inline constexpr int F_OPEN_FAILED = 6416;        // a file that can be neither opened nor created
inline constexpr int F_WRITE_DENIED = 6421;       // write refused: access or lock
inline constexpr int F_DISK_FULL = 6422;          // write on a full disk
inline constexpr int F_READ_FAILED = 6500;        // the platform failed to read
inline constexpr int F_END_OF_FILE = 6501;        // end of file with no handler
inline constexpr int F_LINE_TOO_LONG = 6502;      // console line of more than 130 characters
inline constexpr int F_INVALID_REAL = 6510;       // a value that is not a real
inline constexpr int F_TEXT_FOR_REAL = 6511;      // quoted text or (x,y) pair for a real
inline constexpr int F_REAL_OUT_OF_RANGE = 6512;  // magnitude above 3.402823466385289E+38
inline constexpr int F_INVALID_REPEAT = 6513;     // a zero, non-integer or doubled repeat count

// The words that follow "- " in the report for each of the numbers above.
std::string_view io_error_message(int number);

// Sets the floating-point control of the run: invalid operation, division by zero
// and overflow trap and end the run with the "M61xx: MATH" report (6101, 6103,
// 6104); underflow, denormal operands and inexact results do not trap. An integer
// division by zero is reported as M6103. (traps_posix.cpp)
void install_floating_point_traps();

// Records the kind and unit of the input/output statement being executed (the unit
// name is copied), for `runtime_io_error_at_last_statement`.
void note_io_statement(IoStatement statement, std::string_view unit_name);

// ---------------------------------------------------------------------------
// Input (input.cpp)
// ---------------------------------------------------------------------------

// Keeps the command-line arguments: they are the replacement names for a blank
// file name, taken in order.
void set_command_line(int argc, char** argv);

// Reads one line from standard input into a 20-character blank-padded name: the
// characters before the line end (LF, or CR LF), at most 20, blanks and tabs
// included. The end of input (and, from a terminal, a line ending with character
// 26) ends the run with the F6501 READ(CON) report; from a terminal a line of more
// than 130 characters ends it with F6502.
void READ_FILE_NAME(char (&fname)[20]);

// Connects unit 4 to the named file: blanks trimmed, a blank name replaced by the
// next command-line argument or asked for again, an existing file opened without
// change (read-write, else read-only, else write-only), a missing one created empty.
// A file that can be neither opened nor created ends the run with an OPEN report;
// the end of input while a name is asked for ends it with F6501 READ(CON).
void OPEN_DATA_FILE(int unit, const char (&fname)[20]);

// Reads the next pair of reals from unit 4 (one list-directed read of two items).
// Returns true when a pair was read, false at the end of the file (a time already
// read in this call stays in `time`). A data error ends the run with a READ report.
bool READ_PAIR(float& time, float& concentration);

// The same read, with a data error returned instead of reported: its number
// (F_READ_FAILED, F_INVALID_REAL, F_TEXT_FOR_REAL, F_REAL_OUT_OF_RANGE or
// F_INVALID_REPEAT) is stored in `error`. The items read before the error keep
// their values; the unit is not to be read again after an error.
enum class PairRead { Pair, End, DataError };
PairRead scan_pair(float& time, float& concentration, int& error);

// The double nearest to digits x 10^scale, when one multiplication or division gives it:
// digits below 2^53 and a power of ten of at most 22, which a double holds exactly.
// Returns false, leaving `wide` alone, otherwise. The data reader and the batch tool's
// reader convert the usual values so.
bool exact_decimal(std::uint64_t digits, int scale, double& wide);
// Closes unit 4 if it is open (an end-of-run action; async-signal-safe).
void close_data_unit();

// True when standard input is a terminal.
bool console_input_is_terminal();

// Reads one line of standard input for a console read, byte by byte so that
// little after the line is taken from the stream: characters up to CR or LF, at
// most `max_stored` of them stored in `line`, the rest of a longer line skipped,
// and an LF directly after a CR consumed too. The byte after a lone CR is read to
// see whether it is an LF; it is kept for the next console read, which starts with
// it (a command run at the pause does not see it). Returns the number of characters
// stored, or -1 at the end of input with no character read. A failing system read
// ends the run with the F6500 READ(CON) report. The caller brackets it with
// begin_console_read / end_console_read.
int console_read_line(char* line, int max_stored);

// ---------------------------------------------------------------------------
// Pause (pause.cpp)
// ---------------------------------------------------------------------------

// Shows the pause message, reads one answer line and runs it as a command line when
// at least two characters remain after trailing blanks and tabs are removed.
void pause_run();
void pause_run(std::string_view text);
