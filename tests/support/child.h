// Runs a piece of code in a child process with a given standard input and captures
// the bytes it writes to standard output and standard error and how it ended. Code
// that writes to the console is tested this way, never inside the test process
// itself, so every scenario starts from a fresh console.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

struct ChildRun {
  std::string out;   // bytes written to standard output
  std::string err;   // bytes written to standard error
  int status = -1;   // exit status, or -1 when the child did not exit normally
  int signal = 0;    // the terminating signal, if any
};

// Runs `body` in another process (a fork; on Windows the test program started again
// for the current test), which reads `input` as its standard input (an empty string
// is an input already at its end), flushes the console and exits with status 0 if
// `body` returns.
ChildRun run_in_child(const std::function<void()>& body, const std::string& input = "");

// Whether a child is a fork (cheap), or the test program started anew.
extern const bool CHILD_IS_A_FORK;

// Turns the traps of a run (invalid operation, division by zero, overflow) on or off
// in the floating-point control, without a handler: a trap ends the test program.
void set_floating_point_traps(bool on);

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();

// Removes a directory and everything in it.
void remove_dir(const std::string& path);

// Whole-file helpers.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// Shows control bytes visibly (CR as \r, LF as \n, FF as \f) for failure messages.
std::string visible(const std::string& bytes);

}  // namespace testsupport
