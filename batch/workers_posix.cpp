// The pool's worker processes on a POSIX system: each a fork of quintolex-batch, made
// once per worker, with its channel a socket pair and its outputs memory files in
// the places a worker started with --worker has them; it then serves the channel
// as such a worker does (run_worker). A fork costs less than starting the
// executable again, and leaves nothing of the parent's but its memory.

#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "batch.h"
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

// In a forked worker: its descriptors in place, then the channel served.
[[noreturn]] void become_worker(int channel, const WorkerProcess& files, int plot_dir_fd);

}  // namespace

bool start_worker(WorkerProcess& worker, int plot_dir_fd, const std::string& settings_line) {
  int pair[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  WorkerProcess made;
  made.channel = above_worker_numbers(pair[0]);
  const int theirs = above_worker_numbers(pair[1]);
  made.out_fd = above_worker_numbers(::memfd_create("console", MFD_CLOEXEC));
  made.err_fd = above_worker_numbers(::memfd_create("report", MFD_CLOEXEC));
  made.result_fd = above_worker_numbers(::memfd_create("results", MFD_CLOEXEC));
  const int plots = plot_dir_fd >= 0 ? ::fcntl(plot_dir_fd, F_DUPFD_CLOEXEC, 10) : -2;
  if (made.channel < 0 || theirs < 0 || made.out_fd < 0 || made.err_fd < 0 || made.result_fd < 0 || plots == -1) {
    close_all({made.channel, theirs, made.out_fd, made.err_fd, made.result_fd, plots});
    return false;
  }

  const pid_t parent = ::getpid();
  made.pid = ::fork();
  const int failure = made.pid < 0 ? errno : 0;
  if (made.pid == 0) {
    end_with_parent(parent);
    become_worker(theirs, made, plots);
  }
  close_all({theirs, plots});
  if (failure != 0) {
    close_all({made.channel, made.out_fd, made.err_fd, made.result_fd});
    errno = failure;
    return false;
  }
  worker = made;
  // A worker that has died already shows as a closed channel when its task is due.
  send_line(worker.channel, settings_line);
  return true;
}

void clear_task_files(const WorkerProcess& worker) {
  for (const int fd : {worker.out_fd, worker.err_fd, worker.result_fd}) {
    while (::ftruncate(fd, 0) != 0 && errno == EINTR) {
    }
    ::lseek(fd, 0, SEEK_SET);
  }
}

bool send_line(int channel, std::string_view line) {
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

int receive(int channel) {
  char byte[16];
  for (;;) {
    const ssize_t n = ::recv(channel, byte, sizeof byte, MSG_DONTWAIT);
    if (n > 0) return 1;
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
  }
}

int end_worker(WorkerProcess& worker, bool kill) {
  if (kill) ::kill(worker.pid, SIGKILL);
  close_all({worker.channel});
  int status = 0;
  while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
  }
  worker.pid = -1;
  worker.channel = -1;
  return status;
}

void close_task_files(WorkerProcess& worker) {
  close_all({worker.out_fd, worker.err_fd, worker.result_fd});
  worker.out_fd = worker.err_fd = worker.result_fd = -1;
}

namespace {

void become_worker(int channel, const WorkerProcess& files, int plot_dir_fd) {
  release_signals();
  ::dup2(channel, 0);
  ::dup2(files.out_fd, 1);
  ::dup2(files.err_fd, 2);
  ::dup2(files.result_fd, 3);
  if (plot_dir_fd >= 0) ::dup2(plot_dir_fd, 4);
  ::closefrom(plot_dir_fd >= 0 ? 5 : 4);
  ::_exit(run_worker());
}

}  // namespace

int serve_channel(void (*configure)(std::string_view), void (*serve)(std::string_view)) {
  std::string buffer;
  std::size_t start = 0;
  bool configured = false;
  char block[1 << 16];
  for (;;) {
    const std::size_t end = buffer.find('\n', start);
    if (end == std::string::npos) {
      buffer.erase(0, start);
      start = 0;
      const ssize_t n = ::read(0, block, sizeof block);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;  // the parent has closed the channel: the batch is over
      buffer.append(block, static_cast<std::size_t>(n));
      continue;
    }
    const std::string_view line(buffer.data() + start, end - start);
    start = end + 1;
    if (!configured) {
      configure(line);
      configured = true;
      continue;
    }
    serve(line);
    const char done = '\n';
    if (::send(0, &done, 1, MSG_NOSIGNAL) != 1) return 0;
  }
}

}  // namespace batch
