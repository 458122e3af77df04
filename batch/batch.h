// Batch tool: many data files per run, read as real exports (headers, comments,
// separators, decimal commas), each integrated by a worker process, one
// table row per file (CSV, TSV or JSON Lines), optional SVG plots.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
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

// The plot of one profile for the report page: an XML fragment <plot> holding a
// thumbnail <svg class="thumb"> of the plot area alone, whose <g class="trace"> (the
// profile, a window narrower than the profile as a band, the baseline) the full view
// <svg class="full"> draws again with a <use class="trace">, among axes, ticks and
// the added point; the page gives the two their id and reference, and its style
// their sizes and strokes. The profile is drawn on 256 columns in whole units, as
// relative steps, so that a page of a thousand profiles stays small.
std::string render_report_plot(const PlotData& plot);

}  // namespace batch

namespace batch {

// ---------------------------------------------------------------------------
// Reading exports (decode, lines, columns, blocks, profiles: one file a step)
// ---------------------------------------------------------------------------

// Converts one value the way the data reader of the dialogue converts it: the decimal
// text to the nearest double, then to the nearest real; a magnitude above the largest
// real, up to one double step beyond it, reads as the largest real. Accepted:
// [+|-]digits[.digits][e|E[+|-]digits] (either digit run may be empty, not both).
enum class ValueRead { Ok, NotANumber, OutOfRange };
ValueRead convert_real(std::string_view text, float& value);

// How to find the profiles in an export. A column is a 1-based number or a name
// from the column-names line above the data (exact after trimming blanks and
// quotes, ignoring case); empty: the default (time 1, value 2, no groups).
struct ReadOptions {
  bool decimal_comma = false;  // "1,5" is 1.5; commas never separate fields
  std::string time_column{}, value_column{}, group_column{};
  std::string section{};       // every block whose heading contains it (ignoring case)
  bool sort = false;           // sort each profile's pairs by time instead of refusing
  bool skip_missing = false;   // leave out lines with a missing value instead of refusing
};

// The line of each pair of a table, kept as runs of consecutive lines: a file's
// lines of data mostly follow one another, and then this costs nothing per pair.
class PairLines {
 public:
  void push_back(std::int64_t line) {
    if (runs_.empty() || runs_.back().second + static_cast<std::int64_t>(count_ - runs_.back().first) != line)
      runs_.emplace_back(count_, line);
    ++count_;
  }
  // `count` pairs on consecutive lines from `line` on.
  void push_run(std::int64_t line, std::size_t count) {
    if (runs_.empty() || runs_.back().second + static_cast<std::int64_t>(count_ - runs_.back().first) != line)
      runs_.emplace_back(count_, line);
    count_ += count;
  }
  std::int64_t operator[](std::size_t k) const;
  std::size_t size() const { return count_; }
  void clear() { runs_.clear(), count_ = 0; }

 private:
  std::vector<std::pair<std::size_t, std::int64_t>> runs_;  // from pair `first` on: line `second`, ...
  std::size_t count_ = 0;
};

// The reals of a block or a profile. They live on the heap, except the times and the
// values of the first block of more than a thousand rows read while a TableStorage
// stands (reading.h): those are placed in the storage it names, the point tables, so
// that loading them there costs nothing. A copy is always on the heap.
enum class RealsPlace { Heap, Times, Values };
float* allocate_reals(RealsPlace place, std::size_t n);  // storage.cpp
void free_reals(float* p);

template <class T>
class TableAllocator {
  static_assert(std::is_same_v<T, float>);

 public:
  using value_type = T;
  using is_always_equal = std::true_type;  // each frees what any of them allocated
  using Place = RealsPlace;
  static constexpr Place Heap = Place::Heap, Times = Place::Times, Values = Place::Values;
  TableAllocator() = default;
  explicit TableAllocator(Place place) : place_(place) {}
  template <class U>
  TableAllocator(const TableAllocator<U>& other) : place_(other.place()) {}
  T* allocate(std::size_t n) { return allocate_reals(place_, n); }
  void deallocate(T* p, std::size_t) { free_reals(p); }
  TableAllocator select_on_container_copy_construction() const { return {}; }
  Place place() const { return place_; }
  friend bool operator==(const TableAllocator&, const TableAllocator&) { return true; }

 private:
  Place place_ = Heap;
};
using Reals = std::vector<float, TableAllocator<float>>;

// One profile: the pairs of a block, or of one group of it, in file order (by time
// with `sort`).
struct Profile {
  std::string label;  // empty when the file gives one profile; "COLUMN=value"; a heading
  Reals time, concentration;
  PairLines line;                   // the line of each pair
  std::vector<std::string> notes;   // e.g. "3 lines with a missing value left out"
  std::string error;                // "<name>:<line>: <what>": this profile has no pairs
};

// What an export gives: its profiles, notes about the whole file (the block used,
// skipped header lines, decimal commas), or an error that stops the whole file.
struct Export {
  std::vector<Profile> profiles;
  std::vector<std::string> notes;
  std::string error;  // "<name>: <what>" or "<name>:<line>: <what>"; no profiles then
};

// Reads an export. The text is UTF-8 or UTF-16 (by its byte-order mark or its zero
// bytes); lines end with LF, CR LF or a lone CR. The data are blocks: runs of lines
// whose time field (or first field) is a number, named by the text lines above them
// (their heading; the last of these with two or more fields names the columns).
// The block used is the longest, or every block whose heading contains `section`;
// the pairs are its chosen columns, by group. The separator of a block is its first
// line's: a tab, else a semicolon, else a comma, else blanks; a decimal comma is
// recognised where commas do not separate. `name` is the file name in the texts.
Export parse_export(std::string_view name, std::string_view bytes, const ReadOptions& options);

// The same for a file, only ever opened for reading. A name of any length is opened
// one directory at a time.
Export read_export(const std::string& path, const ReadOptions& options);

// Opens `path` for reading (no creation, no controlling terminal, not inherited by
// the workers), or -1 with errno. A name that is not valid UTF-8 is taken as the
// system's own bytes (on Windows: text of the console's code page).
int open_for_reading(const std::string& path);
void close_file(int fd);

// ---------------------------------------------------------------------------
// Files as the system has them (files_posix.cpp, files_windows.cpp)
// ---------------------------------------------------------------------------

// Which file a name reaches: two names of the same file have the same identity. A
// device of 0 is one the system did not tell (Wine, for a handle inherited from a
// POSIX file); same_file then goes by the number alone.
struct FileId {
  std::uint64_t device = 0, number = 0, high = 0;
  auto operator<=>(const FileId&) const = default;
};
inline bool same_file(const FileId& a, const FileId& b) {
  return a.number == b.number && a.high == b.high && (a.device == b.device || a.device == 0 || b.device == 0);
}
enum class FileKind { Regular, Directory, Other };
struct FileInfo {
  FileKind kind = FileKind::Other;
  FileId id;
  std::uint64_t size = 0;
};

// What `path` reaches, links followed (a name of any length; one holding a NUL byte
// names no file): 0, or errno.
int file_info(const std::string& path, FileInfo& info);
// What the open descriptor `fd` is: 0, or errno.
int descriptor_info(int fd, FileInfo& info);

// The plot folder, open as the workers reach it (a descriptor where there is one,
// else its full name).
struct PlotFolder {
  bool open = false;
  int fd = -1;
  std::string full_name;
};

// Makes the folder `path` when it is missing, then opens it: 0, or errno (ENOTDIR
// when the name is taken by something else).
int open_plot_folder(const std::string& path, bool make, PlotFolder& folder);

// ---------------------------------------------------------------------------
// The table's file (output_file_posix.cpp, output_file_windows.cpp)
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
  // What FILE is (links followed as the system follows them), when it exists.
  const FileInfo& info() const { return info_; }
  // The directory that gets the file, and the file's name in it (the name as given,
  // when FILE is written directly).
  FileId folder() const { return folder_; }
  const std::string& name() const { return name_; }
  // True when FILE is replaced by a rename, false when it is written directly.
  bool replaced() const { return !direct_; }
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
  std::string place_;  // the folder's full name, where it is not held open
  int dir_ = -1, fd_ = -1;
  bool exists_ = false;
  bool direct_ = false;  // written through its name, not replaced
  FileInfo info_;
  FileId folder_;
};

// ---------------------------------------------------------------------------
// Ending signals, and writing (signals_posix.cpp, signals_windows.cpp)
// ---------------------------------------------------------------------------

// At the program's start: the handling of its children and of its crashes that the
// pool needs, whatever the program was started with.
void prepare_process();

// From here on the ending signals (SIGINT, SIGTERM, SIGHUP and SIGPIPE on POSIX
// systems, each unless it was ignored or blocked when the program started; Ctrl+C,
// Ctrl+Break and closing the console on Windows) are only noted, and seen when the
// batch next waits or asks. Called again, does nothing.
void hold_signals();

// The first ending signal that has arrived (one still pending is let through first),
// as its POSIX number (Ctrl+C is SIGINT, Ctrl+Break and closing SIGTERM), or 0.
int ending_signal();

// Writes `text` to `fd`, waiting while it takes no bytes, and stops at an ending
// signal: 0, or errno (EINTR for the signal).
int write_out(int fd, std::string_view text);

// Reads up to `size` bytes of `fd`, waiting for a descriptor in non-blocking mode:
// the count, 0 at its end, -1 with errno.
long read_some(int fd, char* into, std::size_t size);

// Whether `fd` is a terminal (a Windows console that takes escape sequences).
bool is_terminal(int fd);

// The program's arguments as UTF-8 (on Windows as typed, whatever the code page).
std::vector<std::string> program_arguments(int argc, char** argv);

// A name from a --files-from list as the program takes names: on Windows, a name that
// is not UTF-8 is text of the console's code page; elsewhere names are bytes.
std::string listed_name(std::string bytes);

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

// escape_name, and besides each character that HTML takes as a control or a
// non-character (C0 and C1 controls, DEL, U+FDD0 to U+FDEF, the last two code points
// of each plane) written \xHH per byte: text a page shows as it is.
std::string escape_name_for_markup(std::string_view bytes);

// The bytes that escape_name turned into `text`.
std::string unescape_name(std::string_view text);

// ---------------------------------------------------------------------------
// The rows: a pool of worker processes (process.cpp, workers_posix.cpp, workers_windows.cpp)
// ---------------------------------------------------------------------------

struct Settings {
  bool has_from = false, has_to = false;
  float from = 0, to = 0;  // the window, when given
  bool linear_baseline = false;
  ReadOptions read;
  std::string plot_dir;     // as given, for messages
  PlotFolder plot_folder;   // not open: no plots
  double timeout = 0;    // seconds a profile's task may take; 0: no limit
  bool report = false;   // each row brings its plot for the report page
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
  bool warning = false;        // the quadrature printed a WARNING message
  bool misses_exact = false;   // peak_area misses exact_area (misses_exact_area)
  std::vector<std::string> messages;
  std::string report_plot;     // with Settings::report: render_report_plot's fragment, when loaded
  std::string plot_temporary;  // the plot's temporary name in the plot directory, until it is named
  Row();
};

// Processes the files with a pool of at most `jobs` worker processes (quintolex-batch
// --worker), each profile of each file a task of its own, handed to a worker that
// first puts every library back as at the start of a run. Hands the rows to `emit`
// in the order of `files` (a file's profiles in their order) as soon as each row and
// all rows before it are known; the plots get their names then. A profile whose
// worker stops, traps, crashes or takes longer than `settings.timeout` (it is then
// killed) gets an error row naming what happened, and a new worker takes the place
// of that one; the others are not affected. `progress`, when given, is called with
// the number of files whose rows are handed over, whenever it grows and at least
// five times a second while the batch waits. Holds the signals (hold_signals).
// Returns 0 once every row is handed over, or the ending signal that arrived first:
// the workers are then killed and reaped, and the rows not yet handed over are
// dropped.
int process_files(const std::vector<std::string>& files, const Settings& settings, int jobs,
                  const std::function<void(const Row&)>& emit,
                  const std::function<void(std::size_t)>& progress = {});

// A worker of the pool: serves the tasks its parent sends over the channel it holds
// as standard input, until the channel closes. Returns the exit status.
int run_worker(int argc, char** argv);

// One task, run in the calling process: reads the file, loads profile number
// `profile` (0-based) into the point tables, integrates like the dialogue does (and
// over the window), writes the plot under the name `plot_temporary` in the plot
// directory (none when it is empty) and the result records to descriptor
// `result_fd`; the first profile's records also give the count and the labels of the
// file's profiles. Console output (quadrature messages) goes to standard output as in
// the dialogue. A FATAL stop or a trap ends the process.
void run_profile(const std::string& file, std::size_t profile, const Settings& settings,
                 const std::string& plot_temporary, int result_fd);

// Turns the console bytes of a task (standard output) and its report bytes
// (standard error) into message lines: one line per quadrature message
// ("WARNING 2 from Q2AGS: Roundoff error ..."), one per run-time report.
std::vector<std::string> console_messages(std::string_view console, std::string_view report);

// The exact integral, in double, of the profile through the loaded points
// (driver::use_profile_table(1), points 1..N) from a to b, less the line from (a, base_a) to (b, base_b) when `baseline`.
double exact_integral(double a, double b, bool baseline, double base_a, double base_b);

// Whether the quadrature's peak area is further from the exact area than the accuracy
// asked of it: 0.001, or 0.001 of the exact area when that is larger.
bool misses_exact_area(float peak, double exact);

// The profile's straight pieces, lowest time first, for a plot.
std::vector<Segment> profile_segments();

// ---------------------------------------------------------------------------
// The table (table.cpp)
// ---------------------------------------------------------------------------

enum class Format { Csv, Tsv, Json };

// The header line (none for JSON Lines) and one row, each ending with LF.
std::string table_header(Format format);
std::string table_row(const Row& row, Format format);

// The columns' names, whether a column holds numbers, and a row's fields as every
// format shows them (names and messages escaped, reals with 9 significant digits,
// absent values empty), in column order.
const std::vector<std::string>& table_columns();
bool is_number_column(std::size_t column);
std::vector<std::string> table_fields(const Row& row);

// ---------------------------------------------------------------------------
// The report page (report.cpp)
// ---------------------------------------------------------------------------

// What the page's summary says of the batch besides its rows.
struct ReportInfo {
  std::size_t files = 0;     // files given
  std::string command_line;  // as shown: the arguments that change the results
  std::vector<std::pair<std::string, std::string>> options;  // each choice and its value, in words
  std::string version;       // of the program
};

// One self-contained HTML page (polyglot XHTML/HTML5, UTF-8): the summary (counts of
// files, profiles, ok and error rows, rows with a quadrature warning and rows whose
// peak area misses the exact area; the command line and the options), then the table
// with the same columns and digits as the CSV, a thumbnail of each profile's plot
// that opens its full plot in place, and a small script that sorts the table by the
// column whose heading is clicked. Error rows and flagged rows are marked by colour
// and by text. Names and messages are shown as the table shows them, and a control
// character as \xHH. Nothing is fetched: the page's policy lets only its own script
// run. The same rows give the same bytes.
class Report {
 public:
  explicit Report(ReportInfo info);
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;
  void add(const Row& row);  // in table order
  std::string page() const;  // the whole page, of the rows added so far

 private:
  struct Page;
  std::unique_ptr<Page> page_;
};

}  // namespace batch
