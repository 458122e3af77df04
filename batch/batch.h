// Batch tool: many data files per run, read as real exports (headers, comments,
// separators, decimal commas), each integrated in a child process of its own, one
// table row per file (CSV, TSV or JSON Lines), optional SVG plots.
#pragma once

#include <poll.h>
#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace batch {

// ---------------------------------------------------------------------------
// Plots (plot.cpp)
// ---------------------------------------------------------------------------

// One straight piece of the profile as it is integrated: the line from (t0, c0) to
// (t1, c1). Pieces come in increasing time and may leave jumps between them (an
// unsorted table's first-match function is not continuous).
struct Segment {
  double t0, c0, t1, c1;
};

struct PlotData {
  std::string title;             // the file name as given
  double peak_area = 0;          // shown in the title
  std::vector<Segment> profile;  // the whole profile, first to last time
  double from = 0, to = 0;       // the integration window, shaded
  bool has_baseline = false;     // the baseline, drawn from (from, base_from) to (to, base_to)
  double base_from = 0, base_to = 0;
  bool point_added = false;      // the added point (0, added_c), marked
  double added_c = 0;
};

// The SVG document of one plot: labelled axes with ticks, the profile (at most one
// minimum/maximum pair per pixel column, so a 200000-point profile stays small), the
// shaded window, the baseline and the added point.
std::string render_svg(const PlotData& plot);

}  // namespace batch

namespace batch {

// ---------------------------------------------------------------------------
// Reading exports (reader.cpp)
// ---------------------------------------------------------------------------

// Converts one value the way the data reader of the dialogue converts it: the decimal
// text to the nearest double, then to the nearest real; a magnitude above the largest
// real, up to one double step beyond it, reads as the largest real. Accepted:
// [+|-]digits[.digits][e|E[+|-]digits] (either digit run may be empty, not both).
enum class ValueRead { Ok, NotANumber, OutOfRange };
ValueRead convert_real(std::string_view text, float& value);

// The pairs of one export, in file order. At most 200001 pairs are kept: a 200001st
// one means the file is too long for the point tables.
struct Export {
  std::vector<float> time, concentration;
  std::vector<std::string> notes;  // loading notes, e.g. "header line skipped"
  std::string error;               // "<name>:<line>: <what>", empty when the file loaded
};

// Reads the bytes of an export: one pair per line, time and concentration being the
// first two fields; a byte-order mark, blank lines, lines starting with "#" and,
// before the first data line, header lines that are not numeric are skipped. The
// separator is taken from the first data line: a tab, else a semicolon, else a
// comma (not with `decimal_comma`), else blanks. `name` is the file name used in
// the error text.
Export parse_export(std::string_view name, std::string_view bytes, bool decimal_comma);

// The same for a file, read in blocks and only as far as needed; the file is only
// ever opened for reading. A name of any length is opened one directory at a time.
Export read_export(const std::string& path, bool decimal_comma);

// The same reading, one pair at a time: the loader takes the pairs straight into the
// point tables.
class ExportReader {
 public:
  ExportReader(const std::string& path, bool decimal_comma);
  ExportReader(std::string_view name, std::string_view bytes, bool decimal_comma);
  ~ExportReader();
  ExportReader(const ExportReader&) = delete;
  ExportReader& operator=(const ExportReader&) = delete;
  // The next pair; false at the end of the file or at an error.
  bool next(float& time, float& concentration);
  // The line of the last pair given.
  int pair_line() const;
  // After the last pair: the notes and the error (no pairs).
  Export finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Opens `path` for reading (no creation, no controlling terminal), or -1 with errno.
int open_for_reading(const std::string& path);

// ---------------------------------------------------------------------------
// Names of any length (paths.cpp)
// ---------------------------------------------------------------------------

// Opens the directory `path` (relative to the directory `base`, or AT_FDCWD) with
// O_PATH, one directory at a time when the name is longer than the system takes in
// one call. -1 with errno.
int open_directory_at(int base, std::string_view path);

// Opens the directory that holds the last name of `path` (relative to `base`) and
// sets `last` to that name ("." when `path` ends with "/"). -1 with errno.
int open_parent_at(int base, std::string_view path, std::string& last);
int open_parent(const std::string& path, std::string& last);

// stat(2) of a name of any length; a name holding a NUL byte names no file.
int stat_any(const std::string& path, struct stat& info);

// ---------------------------------------------------------------------------
// The table's file (output_file.cpp)
// ---------------------------------------------------------------------------

// -o FILE. A regular FILE (or a new one) is written under a temporary name in its
// directory and renamed onto FILE by commit(); until then FILE keeps its previous
// contents, and discard() (or the destructor) removes the temporary file. Symbolic
// links at FILE are followed. A FILE that is not a regular file, that a link reaches
// though its text names another place (/dev/stdout), or that is another user's in a
// folder with the sticky bit, is written directly.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Finds FILE's directory and the file at the end of its links; false with errno.
  bool locate(const std::string& path);
  bool exists() const { return exists_; }
  // What FILE is (stat, links followed as the system follows them), when it exists.
  const struct stat& info() const { return info_; }
  // The directory that gets the file (O_PATH), and the file's name in it (the name
  // as given, when FILE is written directly).
  int directory() const { return dir_; }
  const std::string& name() const { return name_; }
  // True when FILE is replaced by a rename, false when it is written directly.
  bool replaced() const;
  // The descriptor to write the table to: a new temporary file, or FILE itself when
  // it is not replaced (opening a named pipe waits for a reader). -1 with errno; an
  // existing FILE that the user may not write is refused with EACCES.
  int open();
  // Closes the descriptor and renames the temporary file onto FILE: 0, or errno.
  int commit();
  // Closes the descriptor and removes the temporary file, if any.
  void discard();

 private:
  std::string name_, temporary_;
  int dir_ = -1, fd_ = -1;
  bool exists_ = false;
  bool direct_ = false;  // written through its name, not replaced
  struct stat info_ {};
};

// ---------------------------------------------------------------------------
// Signals and waiting (signals.cpp)
// ---------------------------------------------------------------------------

// From here on SIGINT, SIGTERM, SIGHUP and SIGPIPE (each unless it was ignored or
// blocked when the program started) and SIGCHLD are blocked, and let through only
// inside wait_for, where their handlers just note them. Called again, does nothing.
void hold_signals();

// In a child just forked: the signal handling the program started with.
void release_signals();

// ppoll(2) with the held signals let through: waits until one of `fds` is ready, a
// signal arrives or `timeout` passes (nullptr: no limit).
int wait_for(struct pollfd* fds, unsigned long count, const struct timespec* timeout);

// The first of SIGINT, SIGTERM, SIGHUP and SIGPIPE that has arrived (one still
// pending is let through first), or 0.
int ending_signal();

// ---------------------------------------------------------------------------
// Names as text (names.cpp)
// ---------------------------------------------------------------------------

// `bytes` as UTF-8 text that tells every byte string from every other: a NUL byte and
// each byte that is not part of a valid UTF-8 character are written \xHH (two
// upper-case hexadecimal digits), and so is a backslash followed by "x" (\x5C), so
// that \x in the text always starts such a byte. Other bytes are kept.
// Rows hold names and messages as raw bytes; the table escapes them as it writes them,
// so a name is put into a message unescaped.
std::string escape_name(std::string_view bytes);

// The bytes that escape_name turned into `text`.
std::string unescape_name(std::string_view text);

// ---------------------------------------------------------------------------
// One file's row (process.cpp)
// ---------------------------------------------------------------------------

struct Settings {
  bool has_from = false, has_to = false;
  float from = 0, to = 0;  // the window, when given
  bool linear_baseline = false;
  bool decimal_comma = false;
  std::string plot_dir;  // empty: no plots
  double timeout = 0;    // seconds a file's child may take; 0: no limit
};

// One row of the table. Absent values are NaN in the reals and -1 in `points`.
struct Row {
  std::string file;
  std::string profile;  // empty when the file gives one profile
  int points = -1;
  float first_time, last_time, max_concentration, time_of_max, peak_area, area_above,
      point_added;
  double exact_area;
  bool ok = false;
  std::vector<std::string> messages;
  Row();
};

// Processes the files, at most `jobs` at once, each in a child process of its own,
// and hands the rows to `emit` in the order of `files` as soon as each row and all
// rows before it are known. A file whose child stops, traps, crashes or takes longer
// than `settings.timeout` (it is then killed) gets an error row naming what happened;
// the others are not affected. Holds the signals (hold_signals). Returns 0 once every
// row is handed over, or the ending signal that arrived first: the running children
// are then killed and reaped, and the rows not yet handed over are dropped.
int process_files(const std::vector<std::string>& files, const Settings& settings, int jobs,
                  const std::function<void(const Row&)>& emit);

// The work of one child, run in the calling process: loads the file into the point
// tables, integrates like the dialogue does (and over the window), writes the plot to
// `plot_path` (none when it is empty) and the result records to descriptor
// `result_fd`. Console output (quadrature messages) goes to standard output as in
// the dialogue. Ends the process.
[[noreturn]] void run_child(const std::string& file, const Settings& settings,
                            const std::string& plot_path, int result_fd);

// Turns the console bytes of a child (standard output) and its report bytes
// (standard error) into message lines: one line per quadrature message
// ("WARNING 2 from Q2AGS: Roundoff error ..."), one per run-time report.
std::vector<std::string> console_messages(std::string_view console, std::string_view report);

// The exact integral, in double, of the profile through the loaded points
// (driver::use_profile_table(1), points 1..N) from a to b, less the line from (a, base_a) to (b, base_b) when `baseline`.
double exact_integral(double a, double b, bool baseline, double base_a, double base_b);

// The profile's straight pieces, lowest time first, for a plot.
std::vector<Segment> profile_segments();

// ---------------------------------------------------------------------------
// The table (table.cpp)
// ---------------------------------------------------------------------------

enum class Format { Csv, Tsv, Json };

// The header line (none for JSON Lines) and one row, each ending with LF.
std::string table_header(Format format);
std::string table_row(const Row& row, Format format);

}  // namespace batch
