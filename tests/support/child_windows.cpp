// run_in_child on Windows, which has no fork: the test program starts itself again
// for the current test alone, and the environment tells it which of the test's
// run_in_child calls to run. In that process the earlier calls return at once and the
// chosen one runs its body on standard handles that are the parent's files.
#include "child.h"

#include <windows.h>
#include <float.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "console.h"

namespace testsupport {
namespace {

constexpr const char* CALL = "QUINTOLEX_CHILD_CALL";
constexpr const char* FOLDER = "QUINTOLEX_CHILD_FOLDER";

std::string current_test() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(info->test_suite_name()) + "." + info->name();
}

HANDLE open_file(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildRun run_in_child(const std::function<void()>& body, const std::string& input) {
  static std::string test;
  static int calls = 0;
  if (current_test() != test) test = current_test(), calls = 0;
  ++calls;
  if (const char* wanted = std::getenv(CALL)) {
    if (std::atoi(wanted) != calls) return {};
    const std::string folder = std::getenv(FOLDER);
    ::SetStdHandle(STD_INPUT_HANDLE, open_file(folder + "/in", GENERIC_READ, OPEN_EXISTING));
    ::SetStdHandle(STD_OUTPUT_HANDLE, open_file(folder + "/out", GENERIC_WRITE, CREATE_ALWAYS));
    ::SetStdHandle(STD_ERROR_HANDLE, open_file(folder + "/err", GENERIC_WRITE, CREATE_ALWAYS));
    body();
    console_flush();
    std::_Exit(0);
  }

  const std::string folder = make_temp_dir();
  write_file(folder + "/in", input);
  char program[MAX_PATH];
  ::GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string command = std::string("\"") + program + "\" --gtest_filter=" + test;
  ::SetEnvironmentVariableA(CALL, std::to_string(calls).c_str());
  ::SetEnvironmentVariableA(FOLDER, folder.c_str());
  // The child's own test output goes nowhere.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  const HANDLE nowhere = open_file("NUL", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nowhere;
  PROCESS_INFORMATION process{};
  const bool started =
      ::CreateProcessA(program, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  ::SetEnvironmentVariableA(CALL, nullptr);
  ::SetEnvironmentVariableA(FOLDER, nullptr);
  ::CloseHandle(nowhere);
  ChildRun run;
  if (started) {
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // An exception code (a crash) is no exit status.
    run.status = code >= 0xC0000000u ? -1 : static_cast<int>(code);
    run.out = read_file(folder + "/out");
    run.err = read_file(folder + "/err");
  }
  remove_dir(folder);
  return run;
}

void set_floating_point_traps(bool on) {
  unsigned int control = 0;
  ::_clearfp();
  ::_controlfp_s(&control, on ? _EM_UNDERFLOW | _EM_INEXACT | _EM_DENORMAL : _MCW_EM, _MCW_EM);
}

const bool CHILD_IS_A_FORK = false;

}  // namespace testsupport
