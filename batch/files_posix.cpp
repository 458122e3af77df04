// Files on a POSIX system: names of any length, the data files, the plot folder.
// The system takes a name of at most PATH_MAX bytes in one call; a longer one (a list
// may hold one, a shell may build one) is resolved here one directory at a time, with
// openat, so that it names the same file as it would in a single call.

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "batch.h"
#include "system.h"

namespace batch {
namespace {

constexpr int DIRECTORY_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;

void close_keeping_errno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

// Opens the directory `path` (relative to `base`) with O_PATH, one directory at a
// time when the name is longer than the system takes in one call. -1 with errno.
int open_directory_at(int base, std::string_view path) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  if (path.size() < PATH_MAX) return ::openat(base, std::string(path).c_str(), DIRECTORY_FLAGS);
  int dir = ::openat(base, path.front() == '/' ? "/" : ".", DIRECTORY_FLAGS);
  std::size_t pos = 0;
  while (dir >= 0) {
    while (pos < path.size() && path[pos] == '/') ++pos;
    if (pos == path.size()) break;
    std::size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string part(path.substr(pos, end - pos));
    const int next = ::openat(dir, part.c_str(), DIRECTORY_FLAGS);
    close_keeping_errno(dir);
    dir = next;
    pos = end;
  }
  return dir;
}

}  // namespace

int open_parent_at(int base, std::string_view path, std::string& last) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  if (path.back() == '/') {
    last.assign(1, '.');  // the directory itself
    return open_directory_at(base, path);
  }
  const std::size_t slash = path.rfind('/');
  const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
  last.assign(path.begin() + static_cast<std::ptrdiff_t>(start), path.end());
  return open_directory_at(base, start == 0 ? std::string_view(".") : path.substr(0, start));
}

int open_parent(const std::string& path, std::string& last) {
  return open_parent_at(AT_FDCWD, path, last);
}

namespace {

// stat(2) of a name of any length; a name holding a NUL byte names no file.
int stat_any(const std::string& path, struct stat& info) {
  if (path.find('\0') != std::string::npos) {
    errno = ENOENT;
    return -1;
  }
  if (path.size() < PATH_MAX) return ::stat(path.c_str(), &info);
  std::string last;
  const int dir = open_parent(path, last);
  if (dir < 0) return -1;
  const int result = ::fstatat(dir, last.c_str(), &info, 0);
  close_keeping_errno(dir);
  return result;
}

FileInfo info_of(const struct stat& st) {
  FileInfo info;
  info.kind = S_ISREG(st.st_mode) ? FileKind::Regular : S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::Other;
  info.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  info.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  return info;
}

}  // namespace

int file_info(const std::string& path, FileInfo& info) {
  struct stat st;
  if (stat_any(path, st) != 0) return errno;
  info = info_of(st);
  return 0;
}

int descriptor_info(int fd, FileInfo& info) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  info = info_of(st);
  return 0;
}

int open_for_reading(const std::string& path) {
  // Opened without blocking, so that a named pipe without a writer reads as empty
  // instead of holding up the run; reads then block as usual.
  constexpr int FLAGS = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = -1;
  if (path.size() < PATH_MAX) {
    fd = ::open(path.c_str(), FLAGS);
  } else {
    std::string last;
    const int dir = open_parent(path, last);
    if (dir < 0) return -1;
    fd = ::openat(dir, last.c_str(), FLAGS);
    close_keeping_errno(dir);
  }
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

long read_some(int fd, char* into, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, into, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A descriptor in non-blocking mode (standard input may be one): wait for more.
      pollfd ready{fd, POLLIN, 0};
      ::poll(&ready, 1, -1);
      continue;
    }
    return static_cast<long>(n);
  }
}

bool write_all(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void close_file(int fd) { ::close(fd); }

const char* map_file(int fd, std::size_t size) {
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  return map == MAP_FAILED ? nullptr : static_cast<const char*>(map);
}

void unmap_file(const char* start, std::size_t size) { ::munmap(const_cast<char*>(start), size); }

bool is_terminal(int fd) { return ::isatty(fd) != 0; }

std::vector<std::string> program_arguments(int argc, char** argv) { return {argv, argv + argc}; }

std::string listed_name(std::string bytes) { return bytes; }

bool separates_names(char c) { return c == '/'; }

unsigned long long process_number() { return static_cast<unsigned long long>(::getpid()); }

int open_plot_folder(const std::string& path, bool make, PlotFolder& folder) {
  if (make) {
    struct stat info;
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return errno;
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return ENOTDIR;
  }
  folder.fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder.fd < 0) return errno;
  folder.open = true;
  return 0;
}

int write_new_file(const PlotFolder& folder, const std::string& name, std::string_view bytes) {
  ::unlinkat(folder.fd, name.c_str(), 0);  // a leftover of an earlier run of this process number
  const int fd = ::openat(folder.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                          0666);
  if (fd < 0) return errno;
  int failure = write_all(fd, bytes) ? 0 : errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure != 0) ::unlinkat(folder.fd, name.c_str(), 0);
  return failure;
}

int info_at(int dir, const std::string& name, bool follow, FileInfo& info) {
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return errno;
  info = info_of(st);
  return 0;
}

int entry_info(const PlotFolder& folder, const std::string& name, FileInfo& info) {
  return info_at(folder.fd, name, false, info);
}

int rename_entry(const PlotFolder& folder, const std::string& from, const std::string& to) {
  return ::renameat(folder.fd, from.c_str(), folder.fd, to.c_str()) == 0 ? 0 : errno;
}

void remove_entry(const PlotFolder& folder, const std::string& name) { ::unlinkat(folder.fd, name.c_str(), 0); }

}  // namespace batch
