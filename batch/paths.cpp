// Names of any length. The system takes a name of at most PATH_MAX bytes in one call;
// a longer one (a list may hold one, a shell may build one) is resolved here one
// directory at a time, with openat, so that it names the same file as it would in a
// single call.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <string_view>

#include "batch.h"

namespace batch {
namespace {

constexpr int DIRECTORY_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;

void close_keeping_errno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

}  // namespace

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

}  // namespace batch
