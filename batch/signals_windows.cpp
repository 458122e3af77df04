// Ending the batch on Windows: Ctrl+C, Ctrl+Break and closing the console are noted
// by a handler (which the system runs on a thread of its own) and seen by the batch
// when it next waits or asks, as the ending signals are on POSIX systems: the workers
// are then killed and the temporary files removed. A crash of the program is its own
// status, not a dialog box.

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <string_view>

#include "batch.h"
#include "system_windows.h"

namespace batch {
namespace {

std::atomic<int> arrived{0};
HANDLE ended = nullptr;

BOOL WINAPI note_ending(DWORD event) {
  const bool keyboard = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  const int signal = event == CTRL_C_EVENT ? SIGINT : event == CTRL_BREAK_EVENT ? SIGTERM : 1;  // 1: SIGHUP
  int none = 0;
  arrived.compare_exchange_strong(none, signal);
  ::SetEvent(ended);
  // Closing the console ends the process once this returns: the batch gets the few
  // seconds the system allows to end its workers and remove its temporary file, and
  // exits meanwhile.
  if (!keyboard) ::Sleep(4000);
  return TRUE;
}

}  // namespace

void prepare_process() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // The table and the messages end their lines with LF, as documented, on every system.
  for (const int fd : {0, 1, 2}) ::_setmode(fd, _O_BINARY);
}

HANDLE ending_event() {
  if (ended == nullptr) ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return ended;
}

void hold_signals() {
  static bool held = false;
  if (held) return;
  held = true;
  ending_event();
  ::SetConsoleCtrlHandler(note_ending, TRUE);
}

int ending_signal() { return arrived.load(); }

int write_out(int fd, std::string_view text) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  while (!text.empty()) {
    if (ending_signal() != 0) return EINTR;
    DWORD n = 0;
    const DWORD piece = static_cast<DWORD>(text.size() < 65536 ? text.size() : 65536);
    if (!::WriteFile(handle, text.data(), piece, &n, nullptr) || n == 0)
      return n == 0 && ::GetLastError() == ERROR_SUCCESS ? ENOSPC : errno_of(::GetLastError());
    text.remove_prefix(n);
  }
  return 0;
}

}  // namespace batch
