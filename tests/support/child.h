// Runs a piece of code, or the real executable, in a child process with a given
// standard input and captures the bytes it writes to standard output and standard
// error and how it ended. Code that writes to the console is tested this way, never
// inside the test process itself, so every scenario starts from a fresh console.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct ChildRun {
  std::string out;   // bytes written to standard output
  std::string err;   // bytes written to standard error
  int status = -1;   // exit status, or -1 when the child did not exit normally
  int signal = 0;    // the terminating signal, if any
};

// Forks; the child reads `input` as its standard input (an empty string is an
// input already at its end), runs `body`, flushes the console and exits with
// status 0 if `body` returns.
ChildRun run_in_child(const std::function<void()>& body, const std::string& input = "");

// How a program's standard streams are set up, and whether file permissions bind it.
struct ProgramIo {
  std::string stdout_path = {};  // when not empty, standard output is this file (/dev/full)
  bool close_stdin = false;      // descriptors closed before the program starts
  bool close_stdout = false;
  bool close_stderr = false;
  bool sealed_stdout = false;    // a memory file sealed against writes: write(2) fails, EPERM
  bool broken_pipe_stdout = false;  // a pipe whose reader has gone: write(2) fails, EPIPE
  bool unprivileged = false;     // when run as root, the program runs as uid and gid 65534
};

// Runs `program` with `args` in directory `cwd`, standard input from `input`, the
// streams set up as `io` says (the bytes of a replaced or closed stream are not
// captured).
ChildRun run_program(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input, const ProgramIo& io = {});

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();

// Whole-file helpers.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// Shows control bytes visibly (CR as \r, LF as \n, FF as \f) for failure messages.
std::string visible(const std::string& bytes);

}  // namespace testsupport
