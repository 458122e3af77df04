// run_in_child on a POSIX system: a fork, whose standard streams are files.
#include "child.h"

#include <fcntl.h>
#include <fenv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "console.h"

namespace testsupport {
namespace {

std::string temp_file_with(const std::string& bytes) {
  char path[] = "/tmp/quintolex-test-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  write_file(path, bytes);
  return path;
}

void redirect(const std::string& path, int target, int flags) {
  int fd = open(path.c_str(), flags, 0644);
  if (fd < 0) _exit(126);
  dup2(fd, target);
  close(fd);
}

ChildRun collect(pid_t pid, const std::string& out_path, const std::string& err_path) {
  ChildRun run;
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
  }
  if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) run.signal = WTERMSIG(wstatus);
  if (!out_path.empty()) run.out = read_file(out_path);
  run.err = read_file(err_path);
  if (!out_path.empty()) unlink(out_path.c_str());
  unlink(err_path.c_str());
  return run;
}

}  // namespace

ChildRun run_in_child(const std::function<void()>& body, const std::string& input) {
  std::string in_path = temp_file_with(input);
  std::string out_path = temp_file_with("");
  std::string err_path = temp_file_with("");
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    redirect(in_path, 0, O_RDONLY);
    redirect(out_path, 1, O_WRONLY | O_TRUNC);
    redirect(err_path, 2, O_WRONLY | O_TRUNC);
    body();
    console_flush();
    _exit(0);
  }
  ChildRun run = collect(pid, out_path, err_path);
  unlink(in_path.c_str());
  return run;
}

void set_floating_point_traps(bool on) {
  if (on) feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  else fedisableexcept(FE_ALL_EXCEPT);
}

const bool CHILD_IS_A_FORK = true;

}  // namespace testsupport
