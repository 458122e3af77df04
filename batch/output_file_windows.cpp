// The table's file (-o FILE) on Windows. A new or regular FILE is written under a
// temporary name in its folder and put in FILE's place by MoveFileExW once it is
// complete; until then FILE keeps its previous contents. A FILE reached through a link
// is replaced where the link leads, so the link stays a link. A device (NUL, CON) is
// written directly. A read-only FILE is refused, as the system would refuse to write
// it.

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "batch.h"
#include "system.h"
#include "system_windows.h"

namespace batch {
namespace {

// The folder and the last name of a full name.
void split_full_name(const std::wstring& full, std::wstring& folder, std::wstring& name) {
  const std::size_t slash = full.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? L"." : full.substr(0, slash == 2 ? 3 : slash);
  name = slash == std::wstring::npos ? full : full.substr(slash + 1);
}

// The name of the file that `name` reaches, links followed; `name` when the system
// cannot tell.
std::wstring final_name_of(const std::wstring& name) {
  const HANDLE file = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return name;
  // Asked with no room, the system gives the room the name needs, its NUL included.
  const DWORD room = ::GetFinalPathNameByHandleW(file, nullptr, 0, 0);
  std::wstring final(room, L'\0');
  final.resize(room == 0 ? 0 : ::GetFinalPathNameByHandleW(file, final.data(), room, 0));
  if (final.empty()) final = name;
  ::CloseHandle(file);
  return final;
}

int open_descriptor(HANDLE handle) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

bool OutputFile::locate(const std::string& path) {
  const std::wstring given = system_name(path);
  if (given.empty()) {
    errno = ENOENT;
    return false;
  }
  const int failure = file_info(path, info_);
  exists_ = failure == 0;
  if (!exists_ && failure != ENOENT) {
    errno = failure;
    return false;
  }
  const std::wstring full = exists_ ? final_name_of(given) : full_name_of(given);
  std::wstring folder, name;
  split_full_name(full.empty() ? given : full, folder, name);
  place_ = utf8_of(folder);
  FileInfo about;
  if (const int missing = file_info(place_, about)) {
    errno = missing;
    return false;
  }
  folder_ = about.id;
  // A device, or anything but a regular file, is written through its name.
  direct_ = exists_ && info_.kind != FileKind::Regular;
  name_ = direct_ ? path : utf8_of(name);
  return true;
}

int OutputFile::open() {
  if (!replaced()) {
    const HANDLE handle = ::CreateFileW(system_name(name_).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      errno = errno_of(::GetLastError());
      return -1;
    }
    return fd_ = open_descriptor(handle);
  }
  const std::wstring target = system_name(place_ + "\\" + name_);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (exists_ && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    errno = EACCES;
    return -1;
  }
  // A hidden name that no plot takes (it does not end with .svg).
  unsigned long long seed = ::GetTickCount64() ^ (process_number() << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%012llx", seed >> 16);
    temporary_ = "." + name_.substr(0, 200) + "." + suffix;
    const HANDLE handle = ::CreateFileW(system_name(place_ + "\\" + temporary_).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return fd_ = open_descriptor(handle);
    if (::GetLastError() != ERROR_FILE_EXISTS) {
      errno = errno_of(::GetLastError());
      break;
    }
  }
  temporary_.clear();
  return -1;
}

int OutputFile::commit() {
  int failure = 0;
  if (fd_ >= 0 && ::_close(fd_) != 0) failure = EIO;
  fd_ = -1;
  if (failure == 0 && !temporary_.empty() &&
      !::MoveFileExW(system_name(place_ + "\\" + temporary_).c_str(), system_name(place_ + "\\" + name_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failure = errno_of(::GetLastError());
  if (failure == 0) temporary_.clear();
  return failure;
}

void OutputFile::discard() {
  if (fd_ >= 0) ::_close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::DeleteFileW(system_name(place_ + "\\" + temporary_).c_str());
  temporary_.clear();
}

}  // namespace batch
