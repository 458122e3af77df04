// Running a command line typed at the pause, on Windows: by the interpreter named in
// COMSPEC, started with "/c" and the line as typed (quotes included), which it reads
// from its own command line. With no interpreter named, or one that cannot be
// started, nothing runs.

#include <windows.h>

#include <cstdlib>
#include <string>

#include "internal.h"

namespace {

// The text in the console's input code page (the system's when there is no console).
std::wstring widen(const char* text) {
  UINT page = ::GetConsoleCP();
  if (page == 0) page = CP_ACP;
  const int length = ::MultiByteToWideChar(page, 0, text, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(page, 0, text, -1, wide.data(), length);
  wide.pop_back();
  return wide;
}

}  // namespace

void console_internal::run_command_line(char* line) {
  const wchar_t* comspec = ::_wgetenv(L"COMSPEC");
  if (comspec == nullptr || *comspec == L'\0') return;
  std::wstring command = L"\"" + std::wstring(comspec) + L"\" /c " + widen(line);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The standard handles are inherited; the data file's handle is not inheritable.
  if (!::CreateProcessW(comspec, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    return;
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}
