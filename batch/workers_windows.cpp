// The pool's worker processes on Windows: each is quintolex-batch.exe started again
// with "--worker RESULTS DONE", in a Job object that ends it when the batch ends. Its
// channel in is a pipe at its standard input; a task done is told by the event DONE;
// its standard output, standard error and RESULTS are temporary files that vanish
// once closed. A worker has no console, so Ctrl+C reaches only the batch, which then
// ends the workers itself.

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "batch.h"
#include "system.h"
#include "system_windows.h"
#include "workers.h"

namespace batch {
namespace {

// The exit status of a worker killed by the batch.
constexpr DWORD KILLED = 0xE0000009;

HANDLE handle(std::intptr_t number) { return reinterpret_cast<HANDLE>(number); }
std::intptr_t number(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

void close(std::intptr_t& number) {
  if (number != -1 && number != 0) ::CloseHandle(handle(number));
  number = -1;
}

// The job that holds every worker: closed with the batch, it ends them.
HANDLE job() {
  static const HANDLE made = [] {
    const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != nullptr) ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
  }();
  return made;
}

// A temporary file, deleted once its last handle closes, that a worker inherits.
HANDLE task_file(const wchar_t* kind) {
  static unsigned serial = 0;
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return INVALID_HANDLE_VALUE;
  wchar_t name[MAX_PATH + 64];
  std::swprintf(name, sizeof name / sizeof name[0], L"%lsquintolex-batch-%lu-%u-%ls.tmp", folder,
                ::GetCurrentProcessId(), ++serial, kind);
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::wstring own_executable() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n < name.size()) {
      name.resize(n);
      return name;
    }
    name.resize(name.size() * 2);
  }
}

// The handle of the channel's far end, in the worker.
HANDLE done_handle = nullptr;

}  // namespace

int worker_limit() {
  // The batch waits on each worker's process and event, and on Ctrl+C, at once.
  return (MAXIMUM_WAIT_OBJECTS - 1) / 2;
}

bool start_worker(WorkerProcess& worker, const PlotFolder&, const std::string& settings_line) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE theirs = nullptr, ours = nullptr;
  WorkerProcess made;
  if (!::CreatePipe(&theirs, &ours, &inherited, 0)) {
    errno = errno_of(::GetLastError());
    return false;
  }
  made.channel = number(ours);
  ::SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
  made.done = number(::CreateEventW(&inherited, TRUE, FALSE, nullptr));
  made.out = number(task_file(L"console"));
  made.err = number(task_file(L"report"));
  made.results = number(task_file(L"results"));
  const auto fail = [&](DWORD error) {
    ::CloseHandle(theirs);
    for (std::intptr_t* h : {&made.channel, &made.done, &made.out, &made.err, &made.results}) close(*h);
    errno = errno_of(error);
    return false;
  };
  for (const std::intptr_t h : {made.done, made.out, made.err, made.results})
    if (h == 0 || h == number(INVALID_HANDLE_VALUE)) return fail(::GetLastError());

  const std::wstring program = own_executable();
  std::wstring line = L"\"" + program + L"\" --worker " + std::to_wstring(made.results) + L" " +
                      std::to_wstring(made.done);
  STARTUPINFOEXW start{};
  start.StartupInfo.cb = sizeof start;
  start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  start.StartupInfo.hStdInput = theirs;
  start.StartupInfo.hStdOutput = handle(made.out);
  start.StartupInfo.hStdError = handle(made.err);
  // Only these handles pass to the worker.
  HANDLE passed[] = {theirs, handle(made.out), handle(made.err), handle(made.results), handle(made.done)};
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  start.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  const bool listed = ::InitializeProcThreadAttributeList(start.lpAttributeList, 1, 0, &size) &&
                      ::UpdateProcThreadAttribute(start.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, passed,
                                                  sizeof passed, nullptr, nullptr);
  PROCESS_INFORMATION process{};
  const BOOL started =
      ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                       DETACHED_PROCESS | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr,
                       nullptr, &start.StartupInfo, &process);
  const DWORD error = ::GetLastError();
  if (listed) ::DeleteProcThreadAttributeList(start.lpAttributeList);
  if (!started) return fail(error);
  // The worker waits for its settings, sent once it is in the job: should the batch
  // end before, the worker finds its channel closed and ends too.
  if (job() != nullptr) ::AssignProcessToJobObject(job(), process.hProcess);
  ::CloseHandle(process.hThread);
  ::CloseHandle(theirs);
  // Later workers do not get this one's files.
  for (const std::intptr_t h : {made.out, made.err, made.results, made.done})
    ::SetHandleInformation(handle(h), HANDLE_FLAG_INHERIT, 0);
  made.process = number(process.hProcess);
  worker = made;
  // A worker that has died already shows as ended when its task is due.
  send_line(worker, settings_line);
  return true;
}

void clear_task_files(const WorkerProcess& worker) {
  for (const std::intptr_t h : {worker.out, worker.err, worker.results}) {
    ::SetFilePointerEx(handle(h), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
    ::SetEndOfFile(handle(h));
  }
}

std::string read_task_file(const WorkerProcess& worker, TaskFile file) {
  const HANDLE h = handle(file == TaskFile::Console ? worker.out : file == TaskFile::Report ? worker.err : worker.results);
  LARGE_INTEGER size{};
  std::string bytes;
  if (!::GetFileSizeEx(h, &size)) return bytes;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(done);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(done) >> 32);
    DWORD n = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    if (!::ReadFile(h, bytes.data() + done, piece, &n, &at) || n == 0) break;
    done += n;
  }
  bytes.resize(done);
  return bytes;
}

bool send_line(const WorkerProcess& worker, std::string_view line) {
  std::string text(line);
  text += '\n';
  std::string_view left = text;
  while (!left.empty()) {
    DWORD n = 0;
    if (!::WriteFile(handle(worker.channel), left.data(), static_cast<DWORD>(left.size()), &n, nullptr) || n == 0) {
      errno = EPIPE;
      return false;
    }
    left.remove_prefix(n);
  }
  return true;
}

int receive(const WorkerProcess& worker) {
  if (::WaitForSingleObject(handle(worker.done), 0) == WAIT_OBJECT_0) {
    ::ResetEvent(handle(worker.done));
    return 1;
  }
  return ::WaitForSingleObject(handle(worker.process), 0) == WAIT_OBJECT_0 ? 0 : -1;
}

void wait_for_workers(const std::vector<const WorkerProcess*>& workers,
                      std::optional<std::chrono::nanoseconds> timeout, std::vector<char>& ready) {
  std::vector<HANDLE> handles{ending_event()};
  for (const WorkerProcess* worker : workers) {
    handles.push_back(handle(worker->done));
    handles.push_back(handle(worker->process));
  }
  DWORD wait = INFINITE;
  if (timeout) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(*timeout, std::chrono::nanoseconds::zero()));
    wait = static_cast<DWORD>(std::min<long long>(ms.count(), INFINITE - 1));
  }
  ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait);
  ready.assign(workers.size(), 0);
  for (std::size_t k = 0; k < workers.size(); ++k)
    ready[k] = ::WaitForSingleObject(handles[1 + 2 * k], 0) == WAIT_OBJECT_0 ||
               ::WaitForSingleObject(handles[2 + 2 * k], 0) == WAIT_OBJECT_0;
}

void kill_worker(const WorkerProcess& worker) { ::TerminateProcess(handle(worker.process), KILLED); }

int end_worker(WorkerProcess& worker, bool kill) {
  if (kill) kill_worker(worker);
  close(worker.channel);
  ::WaitForSingleObject(handle(worker.process), INFINITE);
  DWORD status = 0;
  ::GetExitCodeProcess(handle(worker.process), &status);
  close(worker.process);
  close(worker.done);
  return static_cast<int>(status);
}

void close_task_files(WorkerProcess& worker) {
  close(worker.out);
  close(worker.err);
  close(worker.results);
}

Ending ending_of(int status) {
  const auto code = static_cast<DWORD>(status);
  Ending ending;
  ending.killed = code == KILLED;
  if (ending.killed || (code & 0xC0000000u) == 0xC0000000u) {
    const char* what = code == EXCEPTION_ACCESS_VIOLATION       ? " (access violation)"
                       : code == EXCEPTION_STACK_OVERFLOW       ? " (stack overflow)"
                       : code == EXCEPTION_ILLEGAL_INSTRUCTION  ? " (illegal instruction)"
                       : code == EXCEPTION_INT_DIVIDE_BY_ZERO   ? " (integer division by zero)"
                       : code == KILLED                         ? " (killed)"
                                                                : "";
    char text[64];
    std::snprintf(text, sizeof text, "crashed: exception 0x%08lX%s", static_cast<unsigned long>(code), what);
    ending.crash = text;
  } else {
    ending.exit_status = static_cast<int>(code);
  }
  return ending;
}

namespace {

// A crash ends the worker with the exception's code, without a debugger or a dialog.
LONG WINAPI end_with_exception(EXCEPTION_POINTERS* exception) {
  ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool take_worker_place(int argc, char** argv) {
  if (argc != 4) return false;
  char* end = nullptr;
  const auto results = static_cast<std::intptr_t>(std::strtoll(argv[2], &end, 10));
  if (*end != '\0') return false;
  const auto done = static_cast<std::intptr_t>(std::strtoll(argv[3], &end, 10));
  if (*end != '\0' || ::WaitForSingleObject(handle(done), 0) == WAIT_FAILED) return false;
  const int fd = ::_open_osfhandle(results, _O_WRONLY | _O_BINARY);
  if (fd < 0 || (fd != WORKER_RESULTS && ::_dup2(fd, WORKER_RESULTS) != 0)) return false;
  ::_setmode(0, _O_BINARY);
  ::_setmode(1, _O_BINARY);
  ::_setmode(2, _O_BINARY);
  done_handle = handle(done);
  ::SetUnhandledExceptionFilter(end_with_exception);
  return true;
}

PlotFolder worker_plot_folder(const std::string& full_name) { return PlotFolder{true, -1, full_name}; }

long read_channel(char* into, std::size_t size) {
  DWORD n = 0;
  if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), into, static_cast<DWORD>(size), &n, nullptr)) return 0;
  return static_cast<long>(n);
}

bool tell_task_done() { return ::SetEvent(done_handle) != 0; }

}  // namespace batch
