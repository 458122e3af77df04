// The table's file (-o FILE). The table is written to a new file of a temporary name
// in FILE's directory and renamed onto FILE once it is complete: until then FILE keeps
// its previous contents, and a run that breaks off removes the temporary file. A
// symbolic link at FILE is followed to the file it names, so the link stays a link.
// A FILE that exists and is not a regular file (a device, a named pipe) cannot be
// replaced by a rename and is written directly; so is a regular file reached through
// a link whose text does not lead to it (such as /dev/stdout, through /proc), and
// another user's file in a folder with the sticky bit, where we may not rename.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "batch.h"
#include "system.h"

namespace batch {
namespace {

// Links followed at most, as the system does for a name.
constexpr int LINKS_FOLLOWED = 40;

// The target of the symbolic link `name` in `dir`.
bool read_link(int dir, const std::string& name, std::string& target) {
  std::string text(256, '\0');
  for (;;) {
    const ssize_t n = ::readlinkat(dir, name.c_str(), text.data(), text.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < text.size()) {
      text.resize(static_cast<std::size_t>(n));
      target = text;
      return true;
    }
    text.resize(text.size() * 2);
  }
}

// Finds the folder (dir_) and the name (name_) of the file that `path` reaches:
// false with errno. `reached` is what the system reaches through the name.
bool place_file(const std::string& path, int& dir_, std::string& name_, bool& exists_, bool& direct_,
                struct stat& reached) {
  dir_ = open_parent(path, name_);
  if (dir_ < 0) return false;
  exists_ = ::fstatat(dir_, name_.c_str(), &reached, 0) == 0;
  if (!exists_ && errno != ENOENT) return false;
  if (exists_ && !S_ISREG(reached.st_mode)) {
    direct_ = true;
    return true;
  }
  // The links, followed by their text to the folder that holds the file itself.
  int dir = dir_;
  std::string name = name_;
  for (int links = 0;; ++links) {
    struct stat entry;
    const bool found = ::fstatat(dir, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found && errno != ENOENT) break;
    if (!found || !S_ISLNK(entry.st_mode)) {
      // The place must be the file the system reaches: a link of the system's own,
      // such as /dev/stdout, may have text that leads elsewhere or nowhere.
      const bool same = found ? exists_ && entry.st_dev == reached.st_dev && entry.st_ino == reached.st_ino
                              : !exists_;
      if (!same) break;
      if (dir != dir_) {
        ::close(dir_);
        dir_ = dir;
        name_ = name;
      }
      return true;
    }
    std::string target;
    if (links == LINKS_FOLLOWED || !read_link(dir, name, target)) break;
    // A relative target is relative to the link's own folder.
    const int next = open_parent_at(dir, target, name);
    if (dir != dir_) ::close(dir);
    if (next < 0) {
      dir = dir_;
      break;
    }
    dir = next;
  }
  if (dir != dir_) ::close(dir);
  // Not to be resolved by name: an existing file is written through its own name, as
  // the system reaches it; a new one cannot be made.
  if (!exists_) {
    errno = ENOENT;
    return false;
  }
  direct_ = true;
  return true;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

bool OutputFile::locate(const std::string& path) {
  struct stat reached;
  if (!place_file(path, dir_, name_, exists_, direct_, reached)) return false;
  FileInfo folder;
  if (exists_ && info_at(dir_, name_, true, info_) != 0) return false;
  if (descriptor_info(dir_, folder) != 0) return false;
  folder_ = folder.id;
  return true;
}

int OutputFile::open() {
  // In a folder with the sticky bit (such as /tmp) only the owner of a file, or of the
  // folder, may rename onto it: another user's file that we may write is written.
  struct stat folder;
  const uid_t user = ::geteuid();
  struct stat file;
  if (exists_ && !direct_ && user != 0 && ::fstat(dir_, &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 &&
      ::fstatat(dir_, name_.c_str(), &file, 0) == 0 && file.st_uid != user && folder.st_uid != user)
    direct_ = true;
  // A rename would replace a file that its owner keeps from being written.
  if (exists_ && replaced() && ::faccessat(dir_, name_.c_str(), W_OK, AT_EACCESS) != 0) return -1;
  if (!replaced()) {
    fd_ = ::openat(dir_, name_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    return fd_;
  }
  // A hidden name that no plot takes (it does not end with .svg), kept within the
  // longest name a directory holds.
  std::string stem(1, '.');
  stem.append(name_, 0, 200);
  stem.push_back('.');
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  unsigned long long seed = static_cast<unsigned long long>(now.tv_nsec) ^
                            (static_cast<unsigned long long>(::getpid()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%012llx", seed >> 16);
    temporary_ = stem + suffix;
    // Mode 0666 less the umask, as for any new file.
    fd_ = ::openat(dir_, temporary_.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ >= 0 || errno != EEXIST) break;
  }
  if (fd_ < 0) temporary_.clear();
  return fd_;
}

int OutputFile::commit() {
  int failure = 0;
  if (fd_ >= 0 && ::close(fd_) != 0) failure = errno;
  fd_ = -1;
  if (failure == 0 && !temporary_.empty() &&
      ::renameat(dir_, temporary_.c_str(), dir_, name_.c_str()) != 0)
    failure = errno;
  if (failure == 0) temporary_.clear();
  return failure;
}

void OutputFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlinkat(dir_, temporary_.c_str(), 0);
  temporary_.clear();
  if (dir_ >= 0) ::close(dir_);
  dir_ = -1;
}

}  // namespace batch
