// quintolex-batch: integrates the profiles of many data files, one table row each.
// Exit status: 0 when every file is ok, 1 when any file has an error (or the table
// cannot be written), 2 for a usage error, 128 + N when signal N ended the run.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"
#include "driver.h"

namespace {

constexpr int EXIT_USAGE = 2;

[[noreturn]] void usage_error(const std::string& text) {
  std::cerr << "quintolex-batch: " << text << "\nRun with --help for more information.\n";
  std::exit(EXIT_USAGE);
}

// The longest name a --files-from list may hold: far beyond any name the system
// resolves, yet a bound on what a list without line ends (a binary file, a device
// such as /dev/zero) makes the program keep.
constexpr std::size_t LONGEST_LISTED_NAME = std::size_t{4096} * 16;

// The names of a --files-from list: one per line, CR LF accepted, empty lines skipped.
// Only the line being read is kept besides the names.
void add_listed_names(const std::string& list, std::vector<std::string>& files) {
  const int fd = list == "-" ? 0 : batch::open_for_reading(list);
  if (fd < 0) usage_error("--files-from " + list + ": " + std::strerror(errno));
  std::string name;
  std::size_t line = 1;
  const auto too_long = [&] {
    usage_error("--files-from " + list + ": line " + std::to_string(line) +
                ": a name longer than " + std::to_string(LONGEST_LISTED_NAME) + " bytes");
  };
  const auto end_line = [&] {
    if (!name.empty() && name.back() == '\r') name.pop_back();
    if (name.size() > LONGEST_LISTED_NAME) too_long();
    if (!name.empty()) files.push_back(batch::listed_name(name));
    name.clear();
    ++line;
  };
  char block[1 << 16];
  for (;;) {
    const long n = batch::read_some(fd, block, sizeof block);
    if (n < 0) usage_error("--files-from " + list + ": " + std::strerror(errno));
    if (n == 0) break;
    const char* at = block;
    const char* const end = block + n;
    while (at < end) {
      const auto left = static_cast<std::size_t>(end - at);
      const char* stop = static_cast<const char*>(std::memchr(at, '\n', left));
      name.append(at, stop == nullptr ? end : stop);
      // One byte more than the longest name: the CR of a CR LF line end.
      if (name.size() > LONGEST_LISTED_NAME + 1) too_long();
      if (stop == nullptr) break;
      end_line();
      at = stop + 1;
    }
  }
  if (fd != 0) batch::close_file(fd);
  end_line();
}

// Whether the data file `file` is the file `target`.
bool same_file(const std::string& file, const batch::FileInfo& target) {
  batch::FileInfo info;
  return batch::file_info(file, info) == 0 && batch::same_file(info.id, target.id);
}

float window_end(const std::string& option, const std::string& text, bool decimal_comma) {
  std::string value = text;
  if (decimal_comma)
    for (char& c : value)
      if (c == ',') c = '.';
  float result = 0.0f;
  if (batch::convert_real(value, result) != batch::ValueRead::Ok)
    usage_error(option + " " + (text.empty() ? "''" : text) + ": not a time");
  return result;
}

// A positive, finite number of seconds.
double seconds(const std::string& option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const double value = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value) || !(value > 0))
    usage_error(option + " " + (text.empty() ? "''" : text) + ": not a positive number of seconds");
  return value;
}

// Writes the table (batch::write_out), keeping on after a failure only to finish the
// rows. An ending signal stops the writing.
class Output {
 public:
  explicit Output(int fd) : fd_(fd) {}
  void write(const std::string& text) {
    if (failed_ == 0) failed_ = batch::write_out(fd_, text);
  }
  int failed() const { return failed_; }

 private:
  int fd_;
  int failed_ = 0;
};

// The progress line on standard error, a terminal: files done of the total, the rate,
// the time left and the error rows so far, redrawn at most four times a second from
// half a second on, and erased at the end. The table's bytes are not touched.
class Progress {
 public:
  using Clock = std::chrono::steady_clock;
  explicit Progress(std::size_t total) : total_(total), start_(Clock::now()) {}
  void row(bool ok) { errors_ += ok ? 0 : 1; }
  void update(std::size_t done) {
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || (shown_ && now - last_ < std::chrono::milliseconds(250)))
      return;
    last_ = now;
    shown_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = static_cast<double>(done) / seconds;
    std::string left = "--:--";
    if (done > 0) {
      const auto remaining = static_cast<long long>(static_cast<double>(total_ - done) / rate + 0.5);
      char text[48];
      std::snprintf(text, sizeof text, "%lld:%02lld", remaining / 60, remaining % 60);
      left = text;
    }
    char line[160];
    std::snprintf(line, sizeof line, "\r%zu/%zu files, %.1f files/s, %s left, %zu error row%s\033[K", done,
                  total_, rate, left.c_str(), errors_, errors_ == 1 ? "" : "s");
    put(line);
  }
  // Erases the line, if it was shown.
  void end() {
    if (shown_) put("\r\033[K");
    shown_ = false;
  }

 private:
  static void put(std::string_view text) {
    // A terminal takes a short line at once; a failure only loses the line.
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
  std::size_t total_, errors_ = 0;
  Clock::time_point start_, last_{};
  bool shown_ = false;
};

// Finds where the output of `option` goes: a usage error when that is a folder, one of
// the data files (whatever the name), or an .svg file in the plot folder, where a plot
// may take its name (the plots' names are only known as the files load).
void locate_output(batch::OutputFile& place, const std::string& option, const std::string& path,
                   const std::vector<std::string>& files, const batch::FileInfo* plot_folder,
                   const std::string& plot_dir) {
  if (!place.locate(path)) usage_error(option + " " + path + ": " + std::strerror(errno));
  if (place.exists() && place.info().kind == batch::FileKind::Directory)
    usage_error(option + " " + path + ": " + std::strerror(EISDIR));
  for (const std::string& file : files)
    if (file == path || (place.exists() && same_file(file, place.info())))
      usage_error(option + " " + path + " is one of the data files");
  if (plot_folder != nullptr && place.name().ends_with(".svg") &&
      batch::same_file(place.folder(), plot_folder->id))
    usage_error(option + " " + path + " is an .svg file in the --plot folder " + plot_dir);
}

// An argument as a POSIX shell would take it back: as it is when it holds only
// characters no shell treats specially, else in single quotes.
std::string shell_quoted(std::string_view arg) {
  const bool plain = !arg.empty() && arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                           "0123456789_./:=,+-@%") == std::string_view::npos;
  if (plain) return std::string(arg);
  std::string quoted = "'";
  for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The command line as the report shows it: without -j and -q, which change no result,
// so that the page is the same for any number of workers.
std::string shown_command(const std::vector<std::string>& args) {
  std::string line = "quintolex-batch";
  bool options = true;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options && (arg == "-j" || arg == "--jobs")) {
      ++i;
      continue;
    }
    if (options && (arg == "-q" || arg == "--quiet" || arg.starts_with("--jobs=") ||
                    (arg.starts_with("-j") && arg.size() > 2)))
      continue;
    if (arg == "--") options = false;
    line += ' ' + shell_quoted(arg);
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  batch::prepare_process();
  // A worker of the pool, started by quintolex-batch itself.
  if (argc >= 2 && std::strcmp(argv[1], "--worker") == 0) return batch::run_worker(argc, argv);
  const std::vector<std::string> args = batch::program_arguments(argc, argv);
  CLI::App app{
      "Integrates the piecewise-linear concentration profile of each data file like\n"
      "quintolex does and writes one table row per profile (a file's block of data, or\n"
      "each of its sections or groups), in input order. Each profile is processed by a\n"
      "worker process: one that fails gets an error row and the others go on.\n"
      "Exit status: 0 all rows ok, 1 some row has an error, 2 usage, 128 + N ended by\n"
      "signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP, 141 SIGPIPE).",
      "quintolex-batch"};
  std::vector<std::string> files;
  std::string output, report_path, format = "csv", plot_dir, from_text, to_text, baseline = "none",
                      files_from, timeout_text;
  bool decimal_comma = false, sort = false, quiet = false;
  std::string time_column, value_column, group_column, section, missing = "refuse";
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  app.add_option("FILE", files, "Data files: (time, concentration) pairs, a pair per line");
  app.add_option("-o,--output", output, "Write the table to FILE (default: standard output)")
      ->type_name("FILE");
  app.add_option("--format", format,
                 "csv (RFC 4180, LF line ends; messages quoted over several lines), tsv "
                 "(\\t \\n \\r \\\\ escapes), or json (JSON Lines: one object per row)")
      ->check(CLI::IsMember({"csv", "tsv", "json"}))
      ->capture_default_str();
  app.add_option("--plot", plot_dir,
                 "Write DIR/<file stem>.svg for every profile that loads (DIR/<stem>_<profile>.svg "
                 "for each profile of a file of several)")
      ->type_name("DIR");
  app.add_option("--report", report_path,
                 "Also write FILE, an HTML page for people: the summary, then the table with a "
                 "plot of each profile (a thumbnail that opens the full plot), sortable by column")
      ->type_name("FILE");
  app.add_option("--from", from_text, "Integration window start (default: the first time)")
      ->type_name("T");
  app.add_option("--to", to_text, "Integration window end (default: the last time)")
      ->type_name("T");
  app.add_option("--baseline", baseline,
                 "linear: subtract the straight line through the profile's values at the "
                 "window's ends")
      ->check(CLI::IsMember({"none", "linear"}))
      ->capture_default_str();
  app.add_flag("--decimal-comma", decimal_comma,
               "\"1,5\" is 1.5; fields are then separated by tabs, semicolons or blanks "
               "(without it, decimal commas are recognised where commas do not separate)");
  app.add_option("--time-column", time_column,
                 "The time column: a number from 1, or a name from the column-names line "
                 "(default 1)")
      ->type_name("COL");
  app.add_option("--value-column", value_column,
                 "The concentration column: a number or a name (default 2)")
      ->type_name("COL");
  app.add_option("--group-column", group_column,
                 "One profile per value of this column, in order of first appearance")
      ->type_name("COL");
  app.add_option("--section", section,
                 "Use every block of data whose heading contains TEXT (ignoring case), each "
                 "as a profile of its own (default: the longest block)")
      ->type_name("TEXT");
  app.add_flag("--sort", sort, "Sort each profile's pairs by time instead of refusing times that go back");
  app.add_option("--missing", missing,
                 "refuse: a missing value (empty, -, NA, n.a., NaN) is an error; skip: leave "
                 "such lines out")
      ->check(CLI::IsMember({"refuse", "skip"}))
      ->capture_default_str();
  app.add_option("-j,--jobs", jobs, "Profiles processed in parallel (default: the processors)")
      ->check(CLI::Range(1, 4096))
      ->type_name("N");
  app.add_option("--timeout", timeout_text,
                 "Seconds a profile may take (a positive number; default: no limit); one "
                 "that takes longer is stopped and its row says so")
      ->type_name("SECONDS");
  app.add_option("--files-from", files_from,
                 "Names to process, one per line (\"-\": standard input)")
      ->type_name("FILE");
  app.add_flag("-q,--quiet", quiet,
               "No progress line (otherwise shown on standard error when it is a terminal)");
  app.set_version_flag("--version", std::string("quintolex-batch ") + driver::VERSION);
  try {
    // CLI11 takes the arguments last first, without the program's name.
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    // The help and the version are the program's output, checked as the table is.
    std::ostringstream text;
    if (app.exit(e, text, std::cerr) != 0) return EXIT_USAGE;
    Output out(1);
    out.write(text.str());
    if (out.failed() == 0) return 0;
    std::cerr << "quintolex-batch: cannot write to standard output: " << std::strerror(out.failed())
              << "\n";
    return 1;
  }

  batch::Settings settings;
  settings.read.decimal_comma = decimal_comma;
  settings.read.time_column = time_column;
  settings.read.value_column = value_column;
  settings.read.group_column = group_column;
  settings.read.section = section;
  settings.read.sort = sort;
  settings.read.skip_missing = missing == "skip";
  settings.linear_baseline = baseline == "linear";
  settings.has_from = app.count("--from") > 0;
  settings.has_to = app.count("--to") > 0;
  if (settings.has_from) settings.from = window_end("--from", from_text, decimal_comma);
  if (settings.has_to) settings.to = window_end("--to", to_text, decimal_comma);
  if (settings.has_from && settings.has_to && settings.from > settings.to)
    usage_error("--from " + from_text + " lies after --to " + to_text);
  if (app.count("--timeout") > 0) settings.timeout = seconds("--timeout", timeout_text);
  if (!files_from.empty()) add_listed_names(files_from, files);
  if (files.empty()) usage_error("no data files given");

  // Every check comes before anything is created or written.
  batch::FileInfo plot_info;
  bool plot_exists = false;
  if (!plot_dir.empty()) {
    settings.plot_dir = plot_dir;
    if (const int failure = batch::file_info(plot_dir, plot_info); failure == 0) {
      if (plot_info.kind != batch::FileKind::Directory) usage_error("--plot " + plot_dir + ": not a directory");
      plot_exists = true;
    } else if (failure != ENOENT) {
      usage_error("--plot " + plot_dir + ": " + std::strerror(failure));
    }
  }

  // The table never takes the place of a data file, whatever name reaches it.
  const bool to_file = !output.empty() && output != "-";
  batch::OutputFile target;
  const batch::FileInfo* plot_folder = plot_exists ? &plot_info : nullptr;
  if (to_file) {
    locate_output(target, "--output", output, files, plot_folder, plot_dir);
  } else {
    batch::FileInfo info;
    if (batch::descriptor_info(1, info) == 0 && info.kind == batch::FileKind::Regular)
      for (const std::string& file : files)
        if (same_file(file, info)) usage_error("standard output is the data file " + file);
  }

  // The report, like the table, never takes the place of a data file or of the table.
  const bool to_report = !report_path.empty();
  batch::OutputFile report_target;
  if (to_report) {
    if (report_path == "-") usage_error("--report -: the page goes to a file, the table to standard output");
    locate_output(report_target, "--report", report_path, files, plot_folder, plot_dir);
    batch::FileInfo info;
    const bool same_file_as_table =
        to_file ? report_target.exists() && target.exists() &&
                      batch::same_file(report_target.info().id, target.info().id)
                : report_target.exists() && batch::descriptor_info(1, info) == 0 &&
                      batch::same_file(info.id, report_target.info().id);
    // A file yet to be made: the same name in the same folder.
    const bool same_name_as_table =
        to_file && report_target.name() == target.name() &&
        batch::same_file(report_target.folder(), target.folder());
    const bool same_as_table = same_file_as_table || same_name_as_table;
    if (same_as_table) usage_error("--report " + report_path + " is where the table goes");
  }

  // A device or a named pipe is opened while a signal still ends the program at once:
  // the opening may wait (for a reader), and nothing is made that needs removing.
  int out_fd = 1;
  if (to_file && !target.replaced() && (out_fd = target.open()) < 0)
    usage_error("--output " + output + ": " + std::strerror(errno));
  int report_fd = -1;
  if (to_report && !report_target.replaced() && (report_fd = report_target.open()) < 0)
    usage_error("--report " + report_path + ": " + std::strerror(errno));
  // From here on an ending signal is noted, and the run ends in order: the workers
  // killed and reaped, the temporary file of -o removed, the status 128 + signal.
  batch::hold_signals();
  if (to_file && target.replaced() && (out_fd = target.open()) < 0)
    usage_error("--output " + output + ": " + std::strerror(errno));
  if (to_report && report_target.replaced() && (report_fd = report_target.open()) < 0) {
    const int failure = errno;
    target.discard();
    usage_error("--report " + report_path + ": " + std::strerror(failure));
  }
  // The plots are written and named relative to the folder as it is now.
  if (!plot_dir.empty()) {
    if (const int failure = batch::open_plot_folder(plot_dir, !plot_exists, settings.plot_folder)) {
      target.discard();
      report_target.discard();
      usage_error("--plot " + plot_dir + ": " + std::strerror(failure));
    }
  }

  const batch::Format table_format = format == "tsv"    ? batch::Format::Tsv
                                     : format == "json" ? batch::Format::Json
                                                        : batch::Format::Csv;
  settings.report = to_report;
  std::optional<batch::Report> report;
  if (to_report) {
    batch::ReportInfo info;
    info.files = files.size();
    info.command_line = shown_command(args);
    info.version = driver::VERSION;
    const auto given = [&](const char* option, const std::string& value, const std::string& otherwise) {
      return app.count(option) > 0 ? value : otherwise;
    };
    info.options = {
        {"window", std::string("from ") + given("--from", from_text, "the first time") + " to " +
                       given("--to", to_text, "the last time")},
        {"baseline", baseline == "linear" ? "linear: the line through the profile at the window's ends" : "none"},
        {"time column", given("--time-column", time_column, "1")},
        {"value column", given("--value-column", value_column, "2")},
        {"group column", given("--group-column", group_column, "none: one profile per block")},
        {"section", app.count("--section") > 0 ? "every block whose heading contains \"" + section + "\""
                                               : "the longest block of a file"},
        {"decimal comma", decimal_comma ? "always" : "recognised where commas do not separate"},
        {"times going back", sort ? "sorted" : "refused"},
        {"missing values", missing == "skip" ? "lines left out" : "refused"},
        {"timeout", given("--timeout", timeout_text + " s per profile", "none")},
        {"plots", given("--plot", plot_dir, "none")},
        {"table", (to_file ? output : std::string("standard output")) + " (" + format + ")"}};
    report.emplace(std::move(info));
  }
  Output out(out_fd);
  out.write(batch::table_header(table_format));
  bool all_ok = true;
  int signal = 0;
  std::optional<Progress> progress;
  if (!quiet && batch::is_terminal(2)) progress.emplace(files.size());
  const bool rows_on_terminal = batch::is_terminal(out_fd);
  std::function<void(std::size_t)> show_progress;
  if (progress) show_progress = [&](std::size_t done) { progress->update(done); };
  try {
    signal = batch::process_files(
        files, settings, jobs,
        [&](const batch::Row& row) {
          all_ok = all_ok && row.ok;
          if (progress) progress->row(row.ok);
          // Rows on the same terminal start on a line of their own.
          if (progress && rows_on_terminal) progress->end();
          out.write(batch::table_row(row, table_format));
          if (report) report->add(row);
        },
        show_progress);
    if (progress) progress->end();
  } catch (const std::exception& e) {
    if (progress) progress->end();
    target.discard();
    report_target.discard();
    std::cerr << "quintolex-batch: " << e.what() << "\n";
    return 1;
  }
  if (signal == 0) signal = batch::ending_signal();
  if (signal != 0) {
    target.discard();
    report_target.discard();
    return 128 + signal;
  }
  int failure = out.failed();
  if (to_file && failure != 0) target.discard();
  else if (to_file) failure = target.commit();
  if (failure != 0) {
    report_target.discard();
    std::cerr << "quintolex-batch: cannot write the table: " << std::strerror(failure) << "\n";
    return 1;
  }
  if (report) {
    Output page(report_fd);
    page.write(report->page());
    if (const int late = batch::ending_signal()) {
      report_target.discard();
      return 128 + late;
    }
    failure = page.failed();
    if (failure != 0) report_target.discard();
    else failure = report_target.commit();
    if (failure != 0) {
      std::cerr << "quintolex-batch: cannot write the report " << report_path << ": " << std::strerror(failure)
                << "\n";
      return 1;
    }
  }
  return all_ok ? 0 : 1;
}
