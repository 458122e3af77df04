// A pool of worker processes, one task (a profile of a file) at a time each. Every
// worker holds a memory file for its standard output (the console, where the
// quadrature prints its messages), one for its standard error (the run-time report of
// a trap) and one for its results; a memory file never fills up like a pipe, so no
// worker waits on the parent, and it can still be read after its worker died.
// Whatever way a task ends (results, a FATAL stop, a trap, a crash), it gets a row.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <deque>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "batch.h"
#include "reading.h"
#include "system.h"
#include "workers.h"
#include "console.h"
#include "errors.h"
#include "driver.h"
#include "quadrature.h"

namespace batch {

Row::Row()
    : first_time(NAN), last_time(NAN), max_concentration(NAN), time_of_max(NAN), peak_area(NAN),
      area_above(NAN), point_added(NAN), exact_area(NAN) {}

namespace {

using nlohmann::json;

// ---------------------------------------------------------------------------
// The worker's side
// ---------------------------------------------------------------------------

// Quadrature settings and work lists, as the dialogue uses them.
const float ERRABS = 0.001f;
const float ERRREL = 0.001f;
const int MAXSUB = driver::CAPACITY;
float RESULT;
float ERRVAL;
int NFCALL;
int NSUB;
float XLEFT[driver::CAPACITY];
float XRIGHT[driver::CAPACITY];
float SUBINT[driver::CAPACITY];
float SUBERR[driver::CAPACITY];
int ERRORD[driver::CAPACITY];

float integrate(Integrand f, float a, float b) {
  Q2AGS(f, a, b, ERRABS, ERRREL, RESULT, ERRVAL, MAXSUB, NFCALL, NSUB, XLEFT, XRIGHT, SUBINT,
        SUBERR, ERRORD);
  return RESULT;
}

// The integrand over the window: the profile less the baseline, in reals, one
// operation at a time.
float window_from = 0.0f;
float baseline_from = 0.0f;
float baseline_slope = 0.0f;

float profile_less_baseline(float x) {
  const float profile = driver::PROFILE(x);
  const float run = x - window_from;
  const float rise = run * baseline_slope;
  const float base = baseline_from + rise;
  return profile - base;
}

// The records go from worker to parent as JSON, which holds only UTF-8 text: each text
// is escaped on the way (escape_name) and comes back as the very same bytes.
json with_texts(const json& value, std::string (*convert)(std::string_view)) {
  if (value.is_string()) return convert(value.get_ref<const std::string&>());
  json copy = value;
  if (value.is_structured())
    for (json& item : copy) item = with_texts(item, convert);
  return copy;
}

void write_record(int fd, const json& record) {
  const std::string text =
      with_texts(record, escape_name).dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  if (!write_all(fd, text)) std::_Exit(3);
}

std::string real_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

// The line of interval i (points i-1 and i) at x, in double.
double line_value(int i, double x) {
  const double t0 = driver::T[i - 1], c0 = driver::C[i - 1];
  const double t1 = driver::T[i], c1 = driver::C[i];
  return c0 + (c1 - c0) * (x - t0) / (t1 - t0);
}

std::string plot_error;

// Writes the plot under its temporary name in the plot directory: a fresh regular
// file, never a link or anything that was there before. The parent gives it its
// name when the row is written.
void write_plot(const PlotFolder& folder, const std::string& temporary, const PlotData& plot) {
  if (const int failure = write_new_file(folder, temporary, render_svg(plot)))
    plot_error = std::string("plot not written: ") + std::strerror(failure);
}

void finish(int result_fd, json record) {
  record["done"] = true;
  write_record(result_fd, record);
  console_end_pending_line();
  console_flush();
}

// ---------------------------------------------------------------------------
// The parent
// ---------------------------------------------------------------------------

// A worker of the pool and the task it holds, if any.
struct Worker {
  WorkerProcess process;
  bool busy = false;
  std::size_t index = 0;    // the task: the file's place in the batch
  std::size_t profile = 0;  // and the profile's place in the file
  std::chrono::steady_clock::time_point deadline{};  // with a timeout
  bool timed_out = false;                            // killed at its deadline
};

float real_field(const json& record, const char* key) {
  return record.contains(key) ? record[key].get<float>() : NAN;
}

// The row of a worker's task: its result records, its messages and how it ended
// (the worker's wait status, or FINISHED).
// `merged` keeps the records themselves.
Row collect(const std::string& file, const Worker& worker, int status, double timeout, json& merged) {
  Row row;
  row.file = file;
  const std::string results = read_task_file(worker.process, TaskFile::Results);
  merged = json::object();
  std::size_t start = 0;
  while (start < results.size()) {
    std::size_t end = results.find('\n', start);
    if (end == std::string::npos) end = results.size();
    const json record = json::parse(results.substr(start, end - start), nullptr, false);
    if (record.is_object()) merged.update(with_texts(record, unescape_name), true);
    start = end + 1;
  }
  if (merged.contains("notes"))
    for (const auto& note : merged["notes"]) row.messages.push_back(note.get<std::string>());
  if (merged.contains("points")) row.points = merged["points"].get<int>();
  row.first_time = real_field(merged, "first_time");
  row.last_time = real_field(merged, "last_time");
  row.max_concentration = real_field(merged, "max_concentration");
  row.time_of_max = real_field(merged, "time_of_max");
  row.peak_area = real_field(merged, "peak_area");
  row.area_above = real_field(merged, "area_above");
  row.point_added = real_field(merged, "point_added");
  if (merged.contains("exact_area")) row.exact_area = merged["exact_area"].get<double>();
  row.misses_exact = merged.value("misses_exact", false);
  if (merged.contains("report_plot")) row.report_plot = merged["report_plot"].get<std::string>();

  const std::vector<std::string> shown =
      console_messages(read_task_file(worker.process, TaskFile::Console),
                       read_task_file(worker.process, TaskFile::Report));
  row.messages.insert(row.messages.end(), shown.begin(), shown.end());
  row.warning = std::any_of(shown.begin(), shown.end(),
                            [](const std::string& message) { return message.starts_with("WARNING "); });
  if (merged.contains("after"))
    for (const auto& note : merged["after"]) row.messages.push_back(note.get<std::string>());
  const bool done = merged.value("done", false);
  const Ending ending = ending_of(status);
  const bool finished = status == FINISHED && done;
  row.ok = finished && !merged.contains("error") && !merged.value("failed", false);
  if (merged.contains("error")) row.messages.push_back(merged["error"].get<std::string>());
  if (worker.timed_out && ending.killed) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", timeout);
    row.messages.push_back(std::string("timed out after ") + seconds + " s");
  } else if (!ending.crash.empty()) {
    row.messages.push_back(ending.crash);
  } else if (!finished && shown.empty() && !merged.contains("error")) {
    row.messages.push_back("stopped with exit status " + std::to_string(ending.exit_status));
  }
  return row;
}

// The file name without its directories and its last extension.
std::string stem_of(const std::string& file) {
  std::string name = file;
  while (name.size() > 1 && separates_names(name.back())) name.pop_back();
  const auto slash = std::find_if(name.rbegin(), name.rend(), separates_names);
  if (slash != name.rend()) name.erase(0, static_cast<std::size_t>(name.rend() - slash));
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

// A profile's label as part of a file name: letters, digits, '.', '-' and '=' kept,
// each run of other bytes one '_', none at either end; at most 60 bytes.
std::string label_part(const std::string& label) {
  std::string part;
  for (const char c : label) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '-' || c == '=';
    if (kept) part += c;
    else if (!part.empty() && part.back() != '_') part += '_';
    if (part.size() >= 60) break;
  }
  while (!part.empty() && part.back() == '_') part.pop_back();
  return part;
}

// Gives the plots their names as the rows are written, in input order, so that the
// names do not depend on which task ended first: DIR/<stem>.svg for a file of one
// profile, DIR/<stem>_<label>.svg for each profile of a file of several; a name taken
// by an earlier plot of the batch or by a data file gets "~2", "~3"... A name held by
// anything but a regular file (a link, a named pipe, a directory) is not replaced.
class PlotNamer {
 public:
  PlotNamer(const Settings& settings, const std::vector<std::string>& files) : settings_(settings) {
    for (const std::string& file : files) {
      FileInfo info;
      if (file_info(file, info) == 0) data_files_.insert(info.id);
    }
  }

  // Moves the temporary plot into its place; the message for the row, empty when
  // the plot has its plain name.
  std::string place(const std::string& temporary, const std::string& file, const std::string& label,
                    bool& failed) {
    const std::string base = stem_of(file) + (label.empty() ? "" : "_" + label_part(label));
    const std::string shown_dir =
        settings_.plot_dir + (separates_names(settings_.plot_dir.back()) ? "" : "/");
    std::string name;
    for (int k = 1;; ++k) {
      name = base + (k == 1 ? "" : "~" + std::to_string(k)) + ".svg";
      if (taken_.count(name)) continue;
      FileInfo info;
      if (entry_info(settings_.plot_folder, name, info) == 0 && data_files_.count(info.id)) continue;
      break;
    }
    taken_.insert(name);
    FileInfo info;
    if (entry_info(settings_.plot_folder, name, info) == 0 && info.kind != FileKind::Regular) {
      remove_entry(settings_.plot_folder, temporary);
      failed = true;
      return "plot not written: " + shown_dir + name + " is not a regular file";
    }
    if (const int saved = rename_entry(settings_.plot_folder, temporary, name)) {
      remove_entry(settings_.plot_folder, temporary);
      failed = true;
      return "plot not written: " + shown_dir + name + ": " + std::strerror(saved);
    }
    const std::string plain = base + ".svg";
    return name == plain ? std::string() : "plot written as " + shown_dir + name + " (" + shown_dir + plain +
                                               (taken_before(plain) ? " is the plot of another profile)"
                                                                    : " is a data file)");
  }

 private:
  bool taken_before(const std::string& name) const { return taken_.count(name) > 0; }

  const Settings& settings_;
  std::set<FileId> data_files_;
  std::set<std::string> taken_;
};

// The settings as the workers get them: one line of JSON, texts escaped.
std::string settings_line(const Settings& settings) {
  const ReadOptions& read = settings.read;
  const json line = {{"has_from", settings.has_from},
                     {"has_to", settings.has_to},
                     {"from", settings.from},
                     {"to", settings.to},
                     {"linear_baseline", settings.linear_baseline},
                     {"plots", settings.plot_folder.open},
                     {"plot_folder", settings.plot_folder.full_name},
                     {"report", settings.report},
                     {"decimal_comma", read.decimal_comma},
                     {"time_column", read.time_column},
                     {"value_column", read.value_column},
                     {"group_column", read.group_column},
                     {"section", read.section},
                     {"sort", read.sort},
                     {"skip_missing", read.skip_missing}};
  return with_texts(line, escape_name).dump();
}

// The worker's settings, from the first line of its channel.
Settings worker_settings;

void configure_worker(std::string_view text) {
  const json line = with_texts(json::parse(text), unescape_name);
  Settings& settings = worker_settings;
  settings.has_from = line.at("has_from").get<bool>();
  settings.has_to = line.at("has_to").get<bool>();
  settings.from = line.at("from").get<float>();
  settings.to = line.at("to").get<float>();
  settings.linear_baseline = line.at("linear_baseline").get<bool>();
  settings.plot_folder =
      line.at("plots").get<bool>() ? worker_plot_folder(line.at("plot_folder").get<std::string>()) : PlotFolder{};
  settings.report = line.at("report").get<bool>();
  ReadOptions& read = settings.read;
  read.decimal_comma = line.at("decimal_comma").get<bool>();
  read.time_column = line.at("time_column").get<std::string>();
  read.value_column = line.at("value_column").get<std::string>();
  read.group_column = line.at("group_column").get<std::string>();
  read.section = line.at("section").get<std::string>();
  read.sort = line.at("sort").get<bool>();
  read.skip_missing = line.at("skip_missing").get<bool>();
}

// The batch library's own state, as at the start of a run: the work lists as far as
// the last integration used them, the integrand's data and the plot's outcome.
void reset_batch_state() {
  const int used = std::clamp(NSUB, 0, MAXSUB);
  std::fill(XLEFT, XLEFT + used, 0.0f);
  std::fill(XRIGHT, XRIGHT + used, 0.0f);
  std::fill(SUBINT, SUBINT + used, 0.0f);
  std::fill(SUBERR, SUBERR + used, 0.0f);
  std::fill(ERRORD, ERRORD + used, 0);
  RESULT = ERRVAL = 0.0f;
  NFCALL = NSUB = 0;
  window_from = baseline_from = baseline_slope = 0.0f;
  plot_error.clear();
}

// One task: every library as at the start of a run, then the profile's work, as a
// process of its own would do it.
void serve_task(std::string_view text) {
  try {
    const json task = with_texts(json::parse(text), unescape_name);
    console_reset();
    errors_reset();
    quadrature_reset();
    driver::reset();
    reset_batch_state();
    run_profile(task.at("file").get<std::string>(), task.at("profile").get<std::size_t>(), worker_settings,
                task.at("plot").get<std::string>(), WORKER_RESULTS);
  } catch (const std::exception& e) {
    const std::string report = std::string("quintolex-batch: ") + e.what() + "\n";
    write_all(2, report);
    std::_Exit(3);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// One profile's work
// ---------------------------------------------------------------------------

void run_profile(const std::string& file, std::size_t profile, const Settings& settings,
                 const std::string& plot_temporary, int result_fd) {
  using driver::C;
  using driver::N;
  using driver::T;
  install_floating_point_traps();

  // The file's block read straight into the tables (slot 0 stays the spare slot).
  const reading::TableStorage storage(T + 1, C + 1, driver::CAPACITY);
  const Export data = read_export(file, settings.read);
  json loaded = {{"notes", data.notes}, {"profiles", data.profiles.size()}};
  if (!data.error.empty()) {
    loaded["error"] = data.error;
    return finish(result_fd, loaded);
  }
  if (profile == 0) {
    json labels = json::array();
    for (const Profile& p : data.profiles) labels.push_back(p.label);
    loaded["labels"] = labels;
  }
  const Profile& chosen = data.profiles.at(profile);
  for (const std::string& note : chosen.notes) loaded["notes"].push_back(note);
  if (!chosen.error.empty()) {
    loaded["error"] = chosen.error;
    return finish(result_fd, loaded);
  }
  driver::load_pairs(chosen.time.data(), chosen.concentration.data(), static_cast<int>(chosen.time.size()));
  // As the dialogue: the first and the last time, CMAX from the loader.
  const float first_time = T[1];
  const float last_time = T[N];
  loaded["points"] = N;
  loaded["first_time"] = first_time;
  loaded["last_time"] = last_time;
  loaded["max_concentration"] = driver::CMAX;
  // The first time at which the largest concentration occurs; none when every
  // concentration is below 0 (the largest concentration is then 0).
  for (int i = 1; i <= N; ++i)
    if (C[i] == driver::CMAX) {
      loaded["time_of_max"] = T[i];
      break;
    }
  write_record(result_fd, loaded);

  // The two integrations of the dialogue, in its order.
  json results;
  std::vector<std::string> after;
  driver::use_profile_table(1);
  float peak = integrate(driver::PROFILE, first_time, last_time);
  if (first_time > 0.0f) {
    T[0] = 0.0f;
    C[0] = C[1];
    driver::use_profile_table(0);
    integrate(driver::PROFILE, T[0], last_time);
    results["point_added"] = C[0];
    driver::use_profile_table(1);
  }
  const double above = static_cast<double>(last_time) * static_cast<double>(driver::CMAX) -
                       static_cast<double>(RESULT);
  results["area_above"] = static_cast<float>(above);

  float from = settings.has_from ? settings.from : first_time;
  float to = settings.has_to ? settings.to : last_time;
  const bool baseline = settings.linear_baseline;
  float base_from = 0.0f, base_to = 0.0f;
  bool failed = false;
  if (settings.has_from || settings.has_to || baseline) {
    float lowest = T[1], highest = T[1];
    for (int i = 2; i <= N; ++i) {
      lowest = std::min(lowest, T[i]);
      highest = std::max(highest, T[i]);
    }
    if (from < lowest || from > highest || to < lowest || to > highest) {
      // Nothing is integrated; the plot, if any, shows the data alone.
      after.push_back(file + ": the window " + real_text(from) + " to " + real_text(to) +
                      " lies outside the times " + real_text(lowest) + " to " +
                      real_text(highest));
      failed = true;
      from = first_time;
      to = last_time;
    } else if (baseline) {
      base_from = driver::PROFILE(from);
      base_to = driver::PROFILE(to);
      window_from = from;
      baseline_from = base_from;
      baseline_slope = 0.0f;
      if (to != from) {
        const float rise = base_to - base_from;
        const float run = to - from;
        baseline_slope = rise / run;
      }
      peak = integrate(profile_less_baseline, from, to);
    } else {
      peak = integrate(driver::PROFILE, from, to);
    }
  }
  if (!failed) {
    results["peak_area"] = peak;
    const double exact = exact_integral(from, to, baseline, base_from, base_to);
    results["exact_area"] = exact;
    const bool misses = misses_exact_area(peak, exact);
    results["misses_exact"] = misses;
    if (misses)
      after.push_back("peak_area is " + real_text(peak) + " but the exact area of the profile is " +
                      real_text(exact) +
                      ": the quadrature missed part of the profile, such as a narrow spike");
  }

  if (!plot_temporary.empty() || settings.report) {
    PlotData plot;
    plot.title = chosen.label.empty() ? file : file + " " + chosen.label;
    // Nothing integrated: the title says "not computed" and nothing is shaded.
    plot.peak_area = failed ? std::nan("") : peak;
    plot.profile = profile_segments();
    plot.from = from;
    plot.to = failed ? from : to;
    plot.has_baseline = baseline && !failed;
    plot.base_from = base_from;
    plot.base_to = base_to;
    plot.point_added = first_time > 0.0f;
    plot.added_c = C[1];
    if (settings.report) results["report_plot"] = render_report_plot(plot);
    if (!plot_temporary.empty()) write_plot(settings.plot_folder, plot_temporary, plot);
    if (!plot_error.empty()) {
      after.push_back(plot_error);
      failed = true;
    } else if (!plot_temporary.empty()) {
      results["plot"] = true;
    }
  }
  results["failed"] = failed;
  results["after"] = after;
  finish(result_fd, results);
}

bool misses_exact_area(float peak, double exact) {
  const double accuracy = std::max(0.001, 0.001 * std::fabs(exact));
  return std::fabs(static_cast<double>(peak) - exact) > accuracy;
}

double exact_integral(double a, double b, bool baseline, double base_a, double base_b) {
  using driver::C;
  using driver::T;
  const double lo = std::min(a, b), hi = std::max(a, b);
  double sum = 0.0;
  const auto add = [&](float left, float right, int owner) {
    const double l = std::max(static_cast<double>(left), lo);
    const double r = std::min(static_cast<double>(right), hi);
    if (owner == 0 || !(l < r)) return;
    // At the interval's own points the line is their value: no division needed.
    const double at_l = l == T[owner - 1] ? C[owner - 1] : line_value(owner, l);
    const double at_r = r == T[owner] ? C[owner] : line_value(owner, r);
    sum += (at_l + at_r) / 2.0 * (r - l);
  };
  // Times that never decrease make each interval a piece of its own, in order: taken
  // from the tables directly, the usual case costs no call per piece.
  if (std::is_sorted(T + 1, T + driver::N + 1)) {
    for (int i = 2; i <= driver::N; ++i) add(T[i - 1], T[i], i);
  } else {
    const int pieces = driver::profile_piece_count();
    for (int k = 0; k < pieces; ++k) {
      float left, right;
      int owner;
      driver::profile_piece(k, left, right, owner);
      add(left, right, owner);
    }
  }
  if (b < a) sum = -sum;
  if (baseline) sum -= (base_a + base_b) / 2.0 * (b - a);
  return sum;
}

std::vector<Segment> profile_segments() {
  std::vector<Segment> segments;
  const int pieces = driver::profile_piece_count();
  for (int k = 0; k < pieces; ++k) {
    float left, right;
    int owner;
    driver::profile_piece(k, left, right, owner);
    if (!(left < right)) continue;
    if (owner == 0) segments.push_back({left, 0.0, right, 0.0});
    else segments.push_back({left, line_value(owner, left), right, line_value(owner, right)});
  }
  return segments;
}

// ---------------------------------------------------------------------------
// The worker
// ---------------------------------------------------------------------------

int run_worker(int argc, char** argv) {
  if (!take_worker_place(argc, argv)) {
    write_all(2, "quintolex-batch: --worker is only for quintolex-batch's own use\n");
    return 2;
  }
  // The settings line, then one task per line, until the batch closes the channel.
  std::string buffer;
  std::size_t start = 0;
  bool configured = false;
  static char block[1 << 16];
  for (;;) {
    const std::size_t end = buffer.find('\n', start);
    if (end == std::string::npos) {
      buffer.erase(0, start);
      start = 0;
      const long n = read_channel(block, sizeof block);
      if (n <= 0) return 0;  // the batch is over
      buffer.append(block, static_cast<std::size_t>(n));
      continue;
    }
    const std::string_view line(buffer.data() + start, end - start);
    start = end + 1;
    if (!configured) {
      configure_worker(line);
      configured = true;
      continue;
    }
    serve_task(line);
    if (!tell_task_done()) return 0;
  }
}

// ---------------------------------------------------------------------------
// The parent's loop
// ---------------------------------------------------------------------------

int process_files(const std::vector<std::string>& files, const Settings& settings, int jobs,
                  const std::function<void(const Row&)>& emit,
                  const std::function<void(std::size_t)>& progress) {
  jobs = std::min(jobs, worker_limit());
  const bool plots = settings.plot_folder.open;
  std::optional<PlotNamer> namer;
  if (plots) namer.emplace(settings, files);
  const std::string temporary_prefix = ".quintolex-batch-" + std::to_string(process_number()) + "-";
  const auto temporary_of = [&](std::size_t index, std::size_t profile) {
    return plots ? temporary_prefix + std::to_string(index) + "-" + std::to_string(profile) + ".svg.tmp"
                 : std::string();
  };
  const std::string configuration = settings_line(settings);

  // Each file's first task reads how many profiles the file gives; the tasks of the
  // others are handed out next, ahead of later files.
  struct FileRows {
    std::vector<std::optional<Row>> rows;  // one per profile, once the count is known
    std::vector<std::string> labels;
  };
  std::vector<FileRows> done(files.size());
  std::deque<std::pair<std::size_t, std::size_t>> waiting;
  for (std::size_t i = 0; i < files.size(); ++i) waiting.emplace_back(i, 0);
  std::vector<Worker> workers;
  std::size_t next_emit = 0;
  // Rows go out in input order, a file's once all its profiles' are known, and with
  // them their plots get their names.
  const auto emit_ready = [&] {
    const std::size_t before = next_emit;
    while (next_emit < files.size() && !done[next_emit].rows.empty() &&
           std::all_of(done[next_emit].rows.begin(), done[next_emit].rows.end(),
                       [](const std::optional<Row>& r) { return r.has_value(); })) {
      for (std::optional<Row>& r : done[next_emit].rows) {
        if (!r->plot_temporary.empty()) {
          bool failed = false;
          const std::string message = namer->place(r->plot_temporary, r->file, r->profile, failed);
          if (!message.empty()) r->messages.push_back(message);
          if (failed) r->ok = false;
        }
        emit(*r);
      }
      done[next_emit] = FileRows{};
      ++next_emit;
    }
    if (progress && next_emit != before) progress(next_emit);
  };
  // The batch ends early: no worker outlives it, and no plot is left under its
  // temporary name.
  const auto end_workers = [&] {
    for (Worker& worker : workers) {
      end_worker(worker.process, true);
      close_task_files(worker.process);
      if (plots && worker.busy)
        remove_entry(settings.plot_folder, temporary_of(worker.index, worker.profile));
    }
    workers.clear();
    for (const FileRows& file : done)
      for (const std::optional<Row>& r : file.rows)
        if (r && !r->plot_temporary.empty()) remove_entry(settings.plot_folder, r->plot_temporary);
  };
  // The row of a worker's task, once the worker has finished it (status FINISHED) or
  // ended in it.
  const auto take_row = [&](Worker& worker, int status) {
    json records;
    Row row = collect(files[worker.index], worker, status, settings.timeout, records);
    FileRows& file = done[worker.index];
    if (worker.profile == 0) {
      // A file that gave no count (an error, a crash while reading) has the one row.
      if (records.contains("labels"))
        for (const auto& label : records["labels"]) file.labels.push_back(label.get<std::string>());
      const std::size_t count = std::max<std::size_t>(file.labels.size(), 1);
      file.rows.resize(count);
      for (std::size_t k = count; k-- > 1;) waiting.emplace_front(worker.index, k);
    }
    if (worker.profile < file.labels.size()) row.profile = file.labels[worker.profile];
    row.plot_temporary = records.value("plot", false) ? temporary_of(worker.index, worker.profile) : std::string();
    if (plots && row.plot_temporary.empty())
      remove_entry(settings.plot_folder, temporary_of(worker.index, worker.profile));
    file.rows[worker.profile] = std::move(row);
    worker.busy = false;
    worker.timed_out = false;
  };
  // A limit beyond any run (some 30 years) keeps the deadlines within the clock.
  using Clock = std::chrono::steady_clock;
  const auto allowed = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(std::min(settings.timeout, 1e9)));
  const bool timed = settings.timeout > 0;
  // A progress line is kept up to date while the workers are busy.
  const auto tick = std::chrono::milliseconds(200);
  int failed_hand_overs = 0;
  hold_signals();
  while (next_emit < files.size()) {
    if (const int signal = ending_signal()) {
      end_workers();
      return signal;
    }
    // Tasks to the idle workers, and new workers while there are fewer than `jobs`.
    while (!waiting.empty()) {
      const auto [index, profile] = waiting.front();
      if (files[index].find('\0') != std::string::npos) {
        // The system would take such a name only up to its NUL, which names another file.
        Row row;
        row.file = files[index];
        row.messages.push_back(files[index] + ": the name holds a NUL byte");
        done[index].rows.resize(1);
        done[index].rows[0] = std::move(row);
        waiting.pop_front();
        continue;
      }
      auto idle = std::find_if(workers.begin(), workers.end(), [](const Worker& w) { return !w.busy; });
      if (idle == workers.end()) {
        if (workers.size() >= static_cast<std::size_t>(jobs)) break;
        Worker fresh;
        if (!start_worker(fresh.process, settings.plot_folder, configuration)) {
          // Out of processes or descriptors: wait for a running worker and try again.
          const int saved = errno;
          if (!workers.empty()) break;
          throw std::runtime_error(std::string("cannot start a worker process: ") + std::strerror(saved));
        }
        workers.push_back(fresh);
        idle = workers.end() - 1;
      }
      Worker& worker = *idle;
      clear_task_files(worker.process);
      const json task = {{"file", files[index]}, {"profile", profile}, {"plot", temporary_of(index, profile)}};
      if (!send_line(worker.process, with_texts(task, escape_name).dump())) {
        // The worker had gone before it took the task: the task waits for another.
        const int saved = errno;
        end_worker(worker.process, true);
        close_task_files(worker.process);
        workers.erase(idle);
        if (++failed_hand_overs > 3)
          throw std::runtime_error(std::string("cannot hand a file to a worker process: ") + std::strerror(saved));
        continue;
      }
      failed_hand_overs = 0;
      waiting.pop_front();
      worker.busy = true;
      worker.index = index;
      worker.profile = profile;
      if (timed) worker.deadline = Clock::now() + allowed;
    }
    emit_ready();
    if (next_emit == files.size()) break;
    // A signal noted while the rows were written ends the batch before any wait.
    if (ending_signal() != 0) continue;

    // Wait for a worker to finish its task or end, a signal, the next deadline or the
    // next update of the progress line; a worker past its deadline is killed, and its
    // end is waited for like any other.
    std::optional<Clock::time_point> wake;
    const Clock::time_point now = Clock::now();
    for (Worker& worker : workers) {
      if (!timed || !worker.busy || worker.timed_out) continue;
      if (worker.deadline <= now) {
        kill_worker(worker.process);
        worker.timed_out = true;
      } else if (!wake || worker.deadline < *wake) {
        wake = worker.deadline;
      }
    }
    if (progress && (!wake || now + tick < *wake)) wake = now + tick;
    std::vector<const WorkerProcess*> waited;
    for (const Worker& worker : workers) waited.push_back(&worker.process);
    std::vector<char> ready;
    wait_for_workers(waited, wake ? std::optional<std::chrono::nanoseconds>(*wake - now) : std::nullopt, ready);
    if (progress) progress(next_emit);
    for (std::size_t k = workers.size(); k-- > 0;) {
      if (!ready[k]) continue;
      Worker& worker = workers[k];
      const int received = receive(worker.process);
      if (received < 0) continue;
      if (received > 0) {
        if (worker.busy) take_row(worker, FINISHED);
        continue;
      }
      // The worker has ended: its task, if any, gets the row of how it ended, and
      // another worker takes its place when there is work for it.
      const int status = end_worker(worker.process, false);
      if (worker.busy) take_row(worker, status);
      close_task_files(worker.process);
      workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(k));
    }
  }
  // The channels closed, the workers end by themselves.
  for (Worker& worker : workers) {
    end_worker(worker.process, false);
    close_task_files(worker.process);
  }
  return 0;
}

}  // namespace batch
