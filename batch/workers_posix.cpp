// The pool's worker processes on a POSIX system: each a fork of quintolex-batch, made
// once per worker, with its channel a socket pair and its outputs memory files in
// the places a worker started with --worker has them; it then serves the channel
// as such a worker does (run_worker). A fork costs less than starting the
// executable again, and leaves nothing of the parent's but its memory.

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "batch.h"
#include "posix.h"
#include "workers.h"

namespace batch {
namespace {

// A descriptor moved to 10 or above: the worker's own numbers 0 to 4 can then be set
// in any order without one overwriting another.
int above_worker_numbers(int fd) {
  if (fd < 0) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return moved;
}

void close_all(std::initializer_list<int> fds) {
  const int saved = errno;
  for (const int fd : fds)
    if (fd >= 0) ::close(fd);
  errno = saved;
}

// The worker's descriptors: standard output and error, its results, its plot folder.
constexpr int WORKER_PLOT_FOLDER = 4;

int fd_of(std::intptr_t number) { return static_cast<int>(number); }

// In a forked worker: its descriptors in place, then the channel served.
[[noreturn]] void become_worker(int channel, int out, int err, int results, int plot_dir_fd);

}  // namespace

int worker_limit() {
  // Four descriptors per worker: no more workers than the limit allows.
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 4096;
  return static_cast<int>(std::max((static_cast<long>(limit.rlim_cur) - 32) / 4, 1L));
}

bool start_worker(WorkerProcess& worker, const PlotFolder& plot_folder, const std::string& settings_line) {
  const int plot_dir_fd = plot_folder.open ? plot_folder.fd : -1;
  int pair[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  const int channel = above_worker_numbers(pair[0]);
  const int theirs = above_worker_numbers(pair[1]);
  const int out = above_worker_numbers(::memfd_create("console", MFD_CLOEXEC));
  const int err = above_worker_numbers(::memfd_create("report", MFD_CLOEXEC));
  const int results = above_worker_numbers(::memfd_create("results", MFD_CLOEXEC));
  const int plots = plot_dir_fd >= 0 ? ::fcntl(plot_dir_fd, F_DUPFD_CLOEXEC, 10) : -2;
  if (channel < 0 || theirs < 0 || out < 0 || err < 0 || results < 0 || plots == -1) {
    close_all({channel, theirs, out, err, results, plots});
    return false;
  }

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  const int failure = pid < 0 ? errno : 0;
  if (pid == 0) {
    end_with_parent(parent);
    become_worker(theirs, out, err, results, plots);
  }
  close_all({theirs, plots});
  if (failure != 0) {
    close_all({channel, out, err, results});
    errno = failure;
    return false;
  }
  worker = WorkerProcess{pid, channel, -1, out, err, results};
  // A worker that has died already shows as a closed channel when its task is due.
  send_line(worker, settings_line);
  return true;
}

void clear_task_files(const WorkerProcess& worker) {
  for (const int fd : {fd_of(worker.out), fd_of(worker.err), fd_of(worker.results)}) {
    while (::ftruncate(fd, 0) != 0 && errno == EINTR) {
    }
    ::lseek(fd, 0, SEEK_SET);
  }
}

std::string read_task_file(const WorkerProcess& worker, TaskFile file) {
  const int fd = fd_of(file == TaskFile::Console ? worker.out : file == TaskFile::Report ? worker.err : worker.results);
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

bool send_line(const WorkerProcess& worker, std::string_view line) {
  const int channel = fd_of(worker.channel);
  std::string text(line);
  text += '\n';
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(channel, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int receive(const WorkerProcess& worker) {
  const int channel = fd_of(worker.channel);
  char byte[16];
  for (;;) {
    const ssize_t n = ::recv(channel, byte, sizeof byte, MSG_DONTWAIT);
    if (n > 0) return 1;
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
  }
}

void wait_for_workers(const std::vector<const WorkerProcess*>& workers,
                      std::optional<std::chrono::nanoseconds> timeout, std::vector<char>& ready) {
  timespec wait{};
  if (timeout) {
    const auto left = std::max(*timeout, std::chrono::nanoseconds::zero());
    const auto whole = std::chrono::floor<std::chrono::seconds>(left);
    wait.tv_sec = static_cast<time_t>(whole.count());
    wait.tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - whole).count());
  }
  std::vector<pollfd> fds;
  for (const WorkerProcess* worker : workers) fds.push_back({fd_of(worker->channel), POLLIN, 0});
  const int n = wait_for(fds.data(), fds.size(), timeout ? &wait : nullptr);
  ready.assign(workers.size(), 0);
  for (std::size_t k = 0; n > 0 && k < fds.size(); ++k) ready[k] = fds[k].revents != 0;
}

void kill_worker(const WorkerProcess& worker) { ::kill(static_cast<pid_t>(worker.process), SIGKILL); }

int end_worker(WorkerProcess& worker, bool kill) {
  if (kill) kill_worker(worker);
  close_all({fd_of(worker.channel)});
  int status = 0;
  while (::waitpid(static_cast<pid_t>(worker.process), &status, 0) < 0 && errno == EINTR) {
  }
  worker.process = -1;
  worker.channel = -1;
  return status;
}

void close_task_files(WorkerProcess& worker) {
  close_all({fd_of(worker.out), fd_of(worker.err), fd_of(worker.results)});
  worker.out = worker.err = worker.results = -1;
}

Ending ending_of(int status) {
  Ending ending;
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    ending.killed = signal == SIGKILL;
    ending.crash = "crashed: signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
  } else {
    ending.exit_status = WEXITSTATUS(status);
  }
  return ending;
}

bool take_worker_place(int argc, char**) {
  struct stat info;
  return argc == 2 && ::fstat(0, &info) == 0 && S_ISSOCK(info.st_mode);
}

PlotFolder worker_plot_folder(const std::string&) { return PlotFolder{true, WORKER_PLOT_FOLDER, {}}; }

namespace {

void become_worker(int channel, int out, int err, int results, int plot_dir_fd) {
  release_signals();
  ::dup2(channel, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  ::dup2(results, WORKER_RESULTS);
  if (plot_dir_fd >= 0) ::dup2(plot_dir_fd, WORKER_PLOT_FOLDER);
  ::closefrom(plot_dir_fd >= 0 ? WORKER_PLOT_FOLDER + 1 : WORKER_PLOT_FOLDER);
  static char program[] = "quintolex-batch", option[] = "--worker";
  char* argv[] = {program, option, nullptr};
  ::_exit(run_worker(2, argv));
}

}  // namespace

long read_channel(char* into, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(0, into, size);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : static_cast<long>(n);
  }
}

bool tell_task_done() {
  const char done = '\n';
  return ::send(0, &done, 1, MSG_NOSIGNAL) == 1;
}

}  // namespace batch
