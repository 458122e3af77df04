// Standard streams and the data file on a POSIX system: read(2) and write(2) on the
// standard descriptors, the data file opened with open(2) on a descriptor above them.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "console.h"
#include "internal.h"

namespace {

// Moves a descriptor that took the number of a closed standard stream (0, 1 or 2)
// above them: the console's reads and writes on that number would otherwise reach
// the data file, and console output would be written into the user's data.
int above_standard_streams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  ::close(fd);
  return moved;
}

// Opens an existing file without change, read-write, else read-only, else
// write-only; creates a missing one empty. Returns -1 when neither works.
int open_or_create(const char* path) {
  // A named pipe is opened for reading only: a pipe the program also held open for
  // writing would never reach its end once the real writer is done.
  struct stat named;
  if (::stat(path, &named) == 0 && S_ISFIFO(named.st_mode)) return ::open(path, O_RDONLY | O_CLOEXEC);
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) return fd;
      if (errno == EEXIST) continue;  // made by someone else meanwhile: open it
      return -1;
    }
    if (fd < 0) fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {  // a directory is no data file
      ::close(fd);
      return -1;
    }
    return fd;
  }
  return -1;
}

}  // namespace

int console_internal::read_input_byte() {
  for (;;) {
    unsigned char byte;
    ssize_t n = ::read(STDIN_FILENO, &byte, 1);
    if (n == 1) return byte;
    if (n == 0) return END_OF_INPUT;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Standard input in non-blocking mode with nothing to read yet: wait for it.
      pollfd input = {STDIN_FILENO, POLLIN, 0};
      if (::poll(&input, 1, -1) < 0 && errno != EINTR) return READ_FAILED;
    } else if (errno != EINTR) {
      return READ_FAILED;
    }
  }
}

bool console_internal::input_is_terminal() { return ::isatty(STDIN_FILENO) != 0; }

console_internal::Written console_internal::write_output(const char* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(STDOUT_FILENO, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int cause = (n < 0) ? errno : ENOSPC;
    if (cause == ENOSPC || cause == EDQUOT) return Written::DiskFull;
    if (cause == EACCES || cause == EPERM) return Written::Denied;
    return Written::Lost;
  }
  return Written::All;
}

void console_internal::write_error(const char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t n = ::write(STDERR_FILENO, bytes, count);
    if (n > 0) {
      bytes += n;
      count -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

int console_internal::open_data_file(const char* path) { return above_standard_streams(open_or_create(path)); }

long console_internal::read_data_file(int file, unsigned char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(file, buffer, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

void console_internal::close_data_file(int file) { ::close(file); }

void ignore_broken_pipes() { ::signal(SIGPIPE, SIG_IGN); }

void console_internal::exit_now(int status) { ::_exit(status); }
