// Standard streams and the data file on Windows: ReadFile and WriteFile on the
// standard handles, so that bytes pass as they are (no translation of line ends), and
// the data file opened with CreateFileW under its name read in the console's input
// code page, on a handle that a command run at the pause does not inherit.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <string>

#include "console.h"
#include "internal.h"

namespace {

// The name in the console's input code page (the system's when there is no console)
// as UTF-16; empty when it is not text of that code page.
std::wstring wide_name(const char* name) {
  UINT page = ::GetConsoleCP();
  if (page == 0) page = CP_ACP;
  const int length = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, name, -1, wide.data(), length);
  wide.pop_back();
  return wide;
}

HANDLE open_with(const std::wstring& name, DWORD access, DWORD disposition) {
  return ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opens an existing file without change, read-write, else read-only, else
// write-only; creates a missing one empty. A directory, or a device (NUL, CON), is no
// data file. INVALID_HANDLE_VALUE when neither works.
HANDLE open_or_create(const std::wstring& name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    HANDLE file = open_with(name, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      file = open_with(name, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
      if (file != INVALID_HANDLE_VALUE) return file;
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;  // made by someone else meanwhile: open it
      return INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE) file = open_with(name, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) file = open_with(name, GENERIC_WRITE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return file;
    const DWORD type = ::GetFileType(file);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) {
      ::CloseHandle(file);
      return INVALID_HANDLE_VALUE;
    }
    return file;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

int console_internal::read_input_byte() {
  unsigned char taken;
  DWORD n = 0;
  if (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &taken, 1, &n, nullptr)) return n == 1 ? taken : END_OF_INPUT;
  const DWORD error = ::GetLastError();
  // A pipe whose writer has closed it has reached its end.
  return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? END_OF_INPUT : READ_FAILED;
}

bool console_internal::input_is_terminal() {
  DWORD mode;
  return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

console_internal::Written console_internal::write_output(const char* bytes, std::size_t count) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  std::size_t done = 0;
  while (done < count) {
    const DWORD piece = static_cast<DWORD>(count - done < 65536 ? count - done : 65536);
    DWORD n = 0;
    if (::WriteFile(out, bytes + done, piece, &n, nullptr) && n > 0) {
      done += n;
      continue;
    }
    const DWORD error = n == 0 && ::GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : ::GetLastError();
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return Written::DiskFull;
    if (error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION || error == ERROR_WRITE_PROTECT)
      return Written::Denied;
    return Written::Lost;
  }
  return Written::All;
}

void console_internal::write_error(const char* bytes, std::size_t count) {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  while (count > 0) {
    DWORD n = 0;
    if (!::WriteFile(err, bytes, static_cast<DWORD>(count < 65536 ? count : 65536), &n, nullptr) || n == 0) return;
    bytes += n;
    count -= n;
  }
}

int console_internal::open_data_file(const char* path) {
  const std::wstring name = wide_name(path);
  if (name.empty()) return -1;
  const HANDLE file = open_or_create(name);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) ::CloseHandle(file);
  return descriptor;
}

long console_internal::read_data_file(int file, unsigned char* buffer, std::size_t size) {
  DWORD n = 0;
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file));
  const DWORD piece = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
  if (::ReadFile(handle, buffer, piece, &n, nullptr)) return static_cast<long>(n);
  return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a pipe's writer gone: its end
}

void console_internal::close_data_file(int file) { ::_close(file); }

void ignore_broken_pipes() {}

void console_internal::exit_now(int status) { ::_exit(status); }
