// Signals that end the batch, and waiting. Once held, SIGINT, SIGTERM, SIGHUP,
// SIGPIPE and SIGCHLD are blocked, and let through only while the parent waits in
// ppoll; their handlers only note them. The parent therefore never stops half-way
// through its own work: it sees the signal when it next waits or asks, ends its
// children and removes its temporary file.

#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "batch.h"
#include "posix.h"

namespace batch {
namespace {

constexpr int ENDING[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

volatile sig_atomic_t arrived = 0;  // the first ending signal that arrived
bool held = false;
sigset_t start_mask;  // the signal mask the program started with
sigset_t wait_mask;   // the mask while waiting: the held signals let through
sigset_t caught;      // the ending signals this program handles

void note_ending(int signal) {
  if (arrived == 0) arrived = signal;
}

// Only there to make a waiting ppoll return when a child ends.
void note_child(int) {}

void install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigfillset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the wait returns
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

void prepare_process() {
  // A parent may leave SIGCHLD ignored across exec; the workers could then not be
  // waited for.
  ::signal(SIGCHLD, SIG_DFL);
}

void hold_signals() {
  if (held) return;
  held = true;
  ::sigprocmask(SIG_SETMASK, nullptr, &start_mask);
  sigemptyset(&caught);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGCHLD);
  for (const int signal : ENDING) {
    // A signal ignored or blocked by whoever started the program (nohup, a shell's
    // background job) stays so.
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    if (current.sa_handler == SIG_IGN || sigismember(&start_mask, signal)) continue;
    sigaddset(&caught, signal);
    sigaddset(&blocked, signal);
  }
  ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
  wait_mask = start_mask;
  sigdelset(&wait_mask, SIGCHLD);
  for (const int signal : ENDING)
    if (sigismember(&caught, signal)) install(signal, note_ending);
  install(SIGCHLD, note_child);
}

void release_signals() {
  if (!held) return;
  for (const int signal : ENDING)
    if (sigismember(&caught, signal)) ::signal(signal, SIG_DFL);
  ::signal(SIGCHLD, SIG_DFL);
  ::sigprocmask(SIG_SETMASK, &start_mask, nullptr);
}

int wait_for(pollfd* fds, unsigned long count, const timespec* timeout) {
  return ::ppoll(fds, count, timeout, held ? &wait_mask : nullptr);
}

int ending_signal() {
  if (arrived == 0 && held) {
    sigset_t pending;
    ::sigpending(&pending);
    bool any = false;
    for (const int signal : ENDING)
      any = any || (sigismember(&caught, signal) && sigismember(&pending, signal));
    if (any) {
      // Let it through: its handler notes it.
      const timespec now{0, 0};
      const int saved = errno;
      ::ppoll(nullptr, 0, &now, &wait_mask);
      errno = saved;
    }
  }
  return arrived;
}

// Each piece waits until poll says the descriptor takes bytes (a regular file always
// does) and is at most PIPE_BUF bytes, which a pipe then takes without blocking: the
// ending signals are let through while the reader is slow, and a descriptor in
// non-blocking mode gets every byte.
int write_out(int fd, std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    pollfd ready{fd, POLLOUT, 0};
    const int n = wait_for(&ready, 1, nullptr);
    if (ending_signal() != 0) return EINTR;
    if (n < 0 && errno != EINTR) return errno;
    if (n <= 0) continue;
    const std::size_t piece = std::min<std::size_t>(text.size() - done, PIPE_BUF);
    const ssize_t written = ::write(fd, text.data() + done, piece);
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    done += static_cast<std::size_t>(written);
  }
  return 0;
}

}  // namespace batch
