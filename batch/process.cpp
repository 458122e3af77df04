// One child process per file. The parent hands each child a memory file for its
// standard output (the console, where the quadrature prints its messages), one for
// its standard error (the run-time report of a trap) and one for its results; a
// memory file never fills up like a pipe, so no child waits on the parent. Whatever
// way a child ends (results, a FATAL stop, a trap, a crash), its file gets a row.

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "batch.h"
#include "console.h"
#include "driver.h"
#include "quadrature.h"

namespace batch {

Row::Row()
    : first_time(NAN), last_time(NAN), max_concentration(NAN), time_of_max(NAN), peak_area(NAN),
      area_above(NAN), point_added(NAN), exact_area(NAN) {}

namespace {

using nlohmann::json;

// ---------------------------------------------------------------------------
// The child
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

// The export whose pairs the loader of the dialogue takes, one per call.
ExportReader* feeding = nullptr;

bool feed_pair(float& time, float& concentration) { return feeding->next(time, concentration); }

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

// The records go from child to parent as JSON, which holds only UTF-8 text: each text
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
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ::_exit(3);
    done += static_cast<std::size_t>(n);
  }
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

void write_plot(const std::string& plot_path, const PlotData& plot) {
  const std::string svg = render_svg(plot);
  const int fd = ::open(plot_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  bool ok = fd >= 0;
  std::size_t done = 0;
  while (ok && done < svg.size()) {
    const ssize_t n = ::write(fd, svg.data() + done, svg.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  const int saved = errno;
  if (fd >= 0 && ::close(fd) != 0 && ok) ok = false;
  if (!ok) plot_error = "plot not written: " + plot_path + ": " + std::strerror(saved);
}

[[noreturn]] void finish_child(int result_fd, json record) {
  record["done"] = true;
  write_record(result_fd, record);
  console_end_pending_line();
  console_flush();
  ::_exit(0);
}

// ---------------------------------------------------------------------------
// The parent
// ---------------------------------------------------------------------------

std::string read_all(int fd) {
  std::string bytes;
  struct stat info;
  if (::fstat(fd, &info) != 0) return bytes;
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

struct Child {
  std::size_t index;
  int out_fd, err_fd, result_fd;
  std::chrono::steady_clock::time_point deadline{};  // with a timeout
  bool timed_out = false;                            // killed at its deadline
};

float real_field(const json& record, const char* key) {
  return record.contains(key) ? record[key].get<float>() : NAN;
}

// The row of a finished child: its result records, its messages and how it ended.
Row collect(const std::string& file, const Child& child, int status, double timeout) {
  Row row;
  row.file = file;
  const std::string results = read_all(child.result_fd);
  json merged = json::object();
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

  const std::vector<std::string> shown =
      console_messages(read_all(child.out_fd), read_all(child.err_fd));
  row.messages.insert(row.messages.end(), shown.begin(), shown.end());
  if (merged.contains("after"))
    for (const auto& note : merged["after"]) row.messages.push_back(note.get<std::string>());
  const bool done = merged.value("done", false);
  const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0 && done;
  row.ok = finished && !merged.contains("error") && !merged.value("failed", false);
  if (merged.contains("error")) row.messages.push_back(merged["error"].get<std::string>());
  if (child.timed_out && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", timeout);
    row.messages.push_back(std::string("timed out after ") + seconds + " s");
  } else if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    row.messages.push_back("crashed: signal " + std::to_string(signal) + " (" +
                           strsignal(signal) + ")");
  } else if (!finished && shown.empty() && !merged.contains("error")) {
    row.messages.push_back("stopped with exit status " + std::to_string(WEXITSTATUS(status)));
  }
  return row;
}

// The file name without its directories and its last extension.
std::string stem_of(const std::string& file) {
  std::string name = file;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const std::size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

// ---------------------------------------------------------------------------
// The child's work
// ---------------------------------------------------------------------------

void run_child(const std::string& file, const Settings& settings, const std::string& plot_path,
               int result_fd) {
  using driver::C;
  using driver::N;
  using driver::T;
  install_floating_point_traps();

  ExportReader reader(file, settings.decimal_comma);
  feeding = &reader;
  const bool fits = driver::load_table(feed_pair);
  const Export data = reader.finish();
  json loaded = {{"notes", data.notes}};
  if (!data.error.empty()) {
    loaded["error"] = data.error;
    finish_child(result_fd, loaded);
  }
  if (!fits) {
    loaded["error"] = file + ":" + std::to_string(reader.pair_line()) + ": more than " +
                      std::to_string(driver::CAPACITY) + " pairs";
    finish_child(result_fd, loaded);
  }
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
    const double accuracy = std::max(0.001, 0.001 * std::fabs(exact));
    if (std::fabs(static_cast<double>(peak) - exact) > accuracy)
      after.push_back("peak_area is " + real_text(peak) + " but the exact area of the profile is " +
                      real_text(exact) +
                      ": the quadrature missed part of the profile, such as a narrow spike");
  }

  if (!plot_path.empty()) {
    PlotData plot;
    plot.title = file;
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
    write_plot(plot_path, plot);
    if (!plot_error.empty()) {
      after.push_back(plot_error);
      failed = true;
    }
  }
  results["failed"] = failed;
  results["after"] = after;
  finish_child(result_fd, results);
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
// The parent's loop
// ---------------------------------------------------------------------------

int process_files(const std::vector<std::string>& files, const Settings& settings, int jobs,
                  const std::function<void(const Row&)>& emit) {
  // Three descriptors per running child: no more children than the limit allows.
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const long room = (static_cast<long>(limit.rlim_cur) - 32) / 3;
    if (room < jobs) jobs = static_cast<int>(std::max(room, 1L));
  }
  // Plots: DIR/<stem>.svg, each name for the first file that has that stem, and
  // never in the place of a data file of the batch.
  std::vector<std::string> plot_paths(files.size());
  std::vector<std::string> clashes(files.size());
  if (!settings.plot_dir.empty()) {
    std::set<std::pair<dev_t, ino_t>> data_files;
    for (const std::string& file : files) {
      struct stat info;
      if (::stat(file.c_str(), &info) == 0) data_files.emplace(info.st_dev, info.st_ino);
    }
    std::map<std::string, std::size_t> owner;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const bool slash = settings.plot_dir.back() == '/';
      const std::string path = settings.plot_dir + (slash ? "" : "/") + stem_of(files[i]) + ".svg";
      const auto [at, fresh] = owner.emplace(path, i);
      struct stat info;
      if (!fresh)
        clashes[i] = "plot not written: " + path + " is the plot of " + files[at->second];
      else if (::stat(path.c_str(), &info) == 0 && data_files.count({info.st_dev, info.st_ino}))
        clashes[i] = "plot not written: " + path + " is one of the data files";
      else
        plot_paths[i] = path;
    }
  }

  std::vector<std::optional<Row>> rows(files.size());
  std::map<pid_t, Child> running;
  std::size_t next_start = 0, next_emit = 0;
  const auto emit_ready = [&] {
    while (next_emit < files.size() && rows[next_emit]) {
      emit(*rows[next_emit]);
      rows[next_emit].reset();
      ++next_emit;
    }
  };
  const auto release = [](const Child& child) {
    for (int fd : {child.out_fd, child.err_fd, child.result_fd})
      if (fd >= 0) ::close(fd);
  };
  // The batch ends early: no child outlives it.
  const auto end_children = [&] {
    for (const auto& [pid, child] : running) ::kill(pid, SIGKILL);
    for (const auto& [pid, child] : running) {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      release(child);
    }
    running.clear();
  };
  // A limit beyond any run (some 30 years) keeps the deadlines within the clock.
  using Clock = std::chrono::steady_clock;
  const auto allowed = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(std::min(settings.timeout, 1e9)));
  const bool timed = settings.timeout > 0;
  hold_signals();
  while (next_emit < files.size()) {
    if (const int signal = ending_signal()) {
      end_children();
      return signal;
    }
    while (running.size() < static_cast<std::size_t>(jobs) && next_start < files.size()) {
      const std::size_t index = next_start;
      if (files[index].find('\0') != std::string::npos) {
        // The system would take such a name only up to its NUL, which names another file.
        Row row;
        row.file = files[index];
        row.messages.push_back(files[index] + ": the name holds a NUL byte");
        rows[index] = std::move(row);
        ++next_start;
        continue;
      }
      Child child{index, ::memfd_create("console", MFD_CLOEXEC),
                  ::memfd_create("report", MFD_CLOEXEC), ::memfd_create("results", MFD_CLOEXEC)};
      const bool files_made = child.out_fd >= 0 && child.err_fd >= 0 && child.result_fd >= 0;
      const pid_t pid = files_made ? ::fork() : -1;
      if (pid < 0) {
        // Out of processes or descriptors: wait for a running child and try again.
        const int saved = errno;
        release(child);
        if (!running.empty()) break;
        throw std::runtime_error(std::string("cannot start a child process: ") +
                                 std::strerror(saved));
      }
      ++next_start;
      if (pid == 0) {
        release_signals();
        ::dup2(child.out_fd, STDOUT_FILENO);
        ::dup2(child.err_fd, STDERR_FILENO);
        try {
          run_child(files[index], settings, plot_paths[index], child.result_fd);
        } catch (const std::exception& e) {
          const std::string text = std::string("quintolex-batch: ") + e.what() + "\n";
          if (::write(STDERR_FILENO, text.data(), text.size()) < 0) ::_exit(3);
          ::_exit(3);
        }
      }
      if (timed) child.deadline = Clock::now() + allowed;
      running.emplace(pid, child);
    }
    emit_ready();
    if (running.empty()) continue;

    // Every child that has ended gets its row.
    bool reaped = false;
    while (!running.empty()) {
      int status = 0;
      const pid_t pid = ::waitpid(-1, &status, WNOHANG);
      if (pid == 0) break;
      if (pid < 0) {
        const int saved = errno;
        end_children();
        throw std::runtime_error(std::string("waitpid: ") + std::strerror(saved));
      }
      const auto found = running.find(pid);
      if (found == running.end()) continue;
      const Child child = found->second;
      running.erase(found);
      Row row = collect(files[child.index], child, status, settings.timeout);
      if (!clashes[child.index].empty()) {
        row.messages.push_back(clashes[child.index]);
        row.ok = false;
      }
      rows[child.index] = std::move(row);
      release(child);
      reaped = true;
    }
    if (reaped) {
      emit_ready();
      continue;
    }

    // Wait for a child to end, a signal, or the next deadline; a child past its
    // deadline is killed, and its end is waited for like any other.
    std::optional<Clock::time_point> next_deadline;
    const Clock::time_point now = Clock::now();
    for (auto& [pid, child] : running) {
      if (!timed || child.timed_out) continue;
      if (child.deadline <= now) {
        ::kill(pid, SIGKILL);
        child.timed_out = true;
      } else if (!next_deadline || child.deadline < *next_deadline) {
        next_deadline = child.deadline;
      }
    }
    timespec wait{};
    if (next_deadline) {
      const auto left = *next_deadline - now;
      const auto whole = std::chrono::floor<std::chrono::seconds>(left);
      wait.tv_sec = static_cast<time_t>(whole.count());
      wait.tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - whole).count());
    }
    wait_for(nullptr, 0, next_deadline ? &wait : nullptr);
  }
  return 0;
}

}  // namespace batch
