// crash_worker.exe: ends every worker of quintolex-batch.exe (a quintolex-batch.exe
// whose parent is one) as a crash ends a process, with the code of an access
// violation, and prints how many it ended. The batch must then give the worker's
// task an error row naming the crash.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <set>

int main() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 2;
  std::set<DWORD> batches;
  std::set<std::pair<DWORD, DWORD>> children;  // (process, parent)
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (::_wcsicmp(entry.szExeFile, L"quintolex-batch.exe") != 0) continue;
    batches.insert(entry.th32ProcessID);
    children.emplace(entry.th32ProcessID, entry.th32ParentProcessID);
  }
  ::CloseHandle(snapshot);
  int ended = 0;
  for (const auto& [process, parent] : children) {
    if (batches.count(parent) == 0) continue;
    const HANDLE worker = ::OpenProcess(PROCESS_TERMINATE, FALSE, process);
    if (worker != nullptr && ::TerminateProcess(worker, EXCEPTION_ACCESS_VIOLATION)) ++ended;
    if (worker != nullptr) ::CloseHandle(worker);
  }
  std::printf("%d\n", ended);
  return ended > 0 ? 0 : 1;
}
