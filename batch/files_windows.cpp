// Files on Windows: names are UTF-8 in the program and UTF-16 for the system, in their
// full form (\\?\ when long); data files are opened for reading only, sharing them
// with the instrument software that may still have them open.

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "system.h"
#include "system_windows.h"

#include <shellapi.h>

namespace batch {
namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

FileInfo info_of(HANDLE handle) {
  FileInfo info;
  FILE_ID_INFO id{};
  FILE_STANDARD_INFO about{};
  if (::GetFileType(handle) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id) ||
      !::GetFileInformationByHandleEx(handle, FileStandardInfo, &about, sizeof about))
    return info;
  info.kind = about.Directory ? FileKind::Directory : FileKind::Regular;
  info.id.device = id.VolumeSerialNumber;
  std::memcpy(&info.id.number, id.FileId.Identifier, 8);
  std::memcpy(&info.id.high, id.FileId.Identifier + 8, 8);
  if (info.kind == FileKind::Regular) info.size = static_cast<std::uint64_t>(about.EndOfFile.QuadPart);
  return info;
}

// What `name` is, its links (reparse points) followed or not: 0, or errno.
int info_of_name(const std::wstring& name, bool follow, FileInfo& info) {
  if (name.empty()) return ENOENT;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE handle = ::CreateFileW(name.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return errno_of(::GetLastError());
  info = info_of(handle);
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!follow && ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    info.kind = FileKind::Other;
  ::CloseHandle(handle);
  return 0;
}

std::wstring in_folder(const PlotFolder& folder, const std::string& name) {
  return system_name(folder.full_name + "\\" + name);
}

}  // namespace

std::wstring system_name(std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(), length);
  // Devices (NUL, CON) and names already in the system's own form stay as they are;
  // so does a name whose full form the system takes without the prefix.
  if (wide.starts_with(L"\\\\")) return wide;
  const std::wstring full = full_name_of(wide);
  if (full.size() + 1 < MAX_PATH - 12) return wide;  // with its NUL
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

std::wstring full_name_of(const std::wstring& name) {
  const DWORD room = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (room == 0) return {};
  std::wstring full(room, L'\0');
  full.resize(::GetFullPathNameW(name.c_str(), room, full.data(), nullptr));
  return full;
}

std::string utf8_of(std::wstring_view text) {
  if (text.empty()) return {};
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                        nullptr);
  return bytes;
}

int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return EPIPE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

int open_for_reading(const std::string& path) {
  const std::wstring name = system_name(path);
  if (name.empty()) {
    errno = ENOENT;
    return -1;
  }
  // A folder opens too (and then reads as one).
  const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = errno_of(::GetLastError());
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

void close_file(int fd) { ::_close(fd); }

int file_info(const std::string& path, FileInfo& info) { return info_of_name(system_name(path), true, info); }

int descriptor_info(int fd, FileInfo& info) {
  const HANDLE handle = handle_of(fd);
  if (handle == INVALID_HANDLE_VALUE) return EBADF;
  info = info_of(handle);
  return 0;
}

long read_some(int fd, char* into, std::size_t size) {
  DWORD n = 0;
  const DWORD piece = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
  if (::ReadFile(handle_of(fd), into, piece, &n, nullptr)) return static_cast<long>(n);
  const DWORD error = ::GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;  // a pipe's writer gone: its end
  errno = error == ERROR_DIRECTORY || error == ERROR_INVALID_FUNCTION ? EISDIR : errno_of(error);
  return -1;
}

bool write_all(int fd, std::string_view bytes) {
  const HANDLE handle = handle_of(fd);
  while (!bytes.empty()) {
    DWORD n = 0;
    const DWORD piece = static_cast<DWORD>(bytes.size() < (1u << 20) ? bytes.size() : (1u << 20));
    if (!::WriteFile(handle, bytes.data(), piece, &n, nullptr) || n == 0) {
      errno = n == 0 && ::GetLastError() == ERROR_SUCCESS ? ENOSPC : errno_of(::GetLastError());
      return false;
    }
    bytes.remove_prefix(n);
  }
  return true;
}

// Files are read, not mapped: the reading step then sees a file that is still being
// written as it is at that moment.
const char* map_file(int, std::size_t) { return nullptr; }
void unmap_file(const char*, std::size_t) {}

// A console that takes the progress line's escapes (erasing to the end of the line):
// Windows 10 on, once asked to.
bool is_terminal(int fd) {
  DWORD mode;
  const HANDLE console = handle_of(fd);
  if (!::GetConsoleMode(console, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<std::string> program_arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(utf8_of(wide[i]));
  ::LocalFree(wide);
  return args;
}

std::string listed_name(std::string bytes) {
  // Text of the console's code page (the system's, without a console), unless it is
  // UTF-8 already.
  if (bytes.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                             static_cast<int>(bytes.size()), nullptr, 0) > 0)
    return bytes;
  UINT page = ::GetConsoleCP();
  if (page == 0) page = CP_ACP;
  const int length = ::MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), length);
  return utf8_of(wide);
}

bool separates_names(char c) { return c == '/' || c == '\\'; }

unsigned long long process_number() { return ::GetCurrentProcessId(); }

int open_plot_folder(const std::string& path, bool make, PlotFolder& folder) {
  const std::wstring name = system_name(path);
  if (name.empty()) return ENOENT;
  if (make && !::CreateDirectoryW(name.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    return errno_of(::GetLastError());
  FileInfo info;
  if (const int failure = info_of_name(name, true, info)) return failure;
  if (info.kind != FileKind::Directory) return ENOTDIR;
  std::wstring full = full_name_of(name);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  folder.full_name = utf8_of(full);
  folder.open = true;
  return 0;
}

int write_new_file(const PlotFolder& folder, const std::string& name, std::string_view bytes) {
  const std::wstring path = in_folder(folder, name);
  ::DeleteFileW(path.c_str());  // a leftover of an earlier run of this process number
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return errno_of(::GetLastError());
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    ::DeleteFileW(path.c_str());
    return EMFILE;
  }
  int failure = write_all(fd, bytes) ? 0 : errno;
  if (::_close(fd) != 0 && failure == 0) failure = EIO;
  if (failure != 0) ::DeleteFileW(path.c_str());
  return failure;
}

int entry_info(const PlotFolder& folder, const std::string& name, FileInfo& info) {
  return info_of_name(in_folder(folder, name), false, info);
}

int rename_entry(const PlotFolder& folder, const std::string& from, const std::string& to) {
  return ::MoveFileExW(in_folder(folder, from).c_str(), in_folder(folder, to).c_str(), MOVEFILE_REPLACE_EXISTING)
             ? 0
             : errno_of(::GetLastError());
}

void remove_entry(const PlotFolder& folder, const std::string& name) { ::DeleteFileW(in_folder(folder, name).c_str()); }

}  // namespace batch
