// Running a command line typed at the pause, on a POSIX system: by the interpreter
// named in COMSPEC, else by the POSIX shell.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "internal.h"

extern char** environ;

namespace {

// Starts `program` with the argument list and waits for it. Returns 0 when it ran,
// else the error number of the failed start.
int run_and_wait(const char* program, char* const argv[]) {
  // The command gets the default action of a broken pipe, which the program itself
  // ignores, so pipelines in it end as they would from a shell.
  posix_spawnattr_t attributes;
  sigset_t defaults;
  posix_spawnattr_init(&attributes);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t child = 0;
  const int failed = posix_spawn(&child, program, nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) return failed;
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return 0;
}

}  // namespace

// The system's shell is /bin/sh.
void console_internal::run_command_line(char* line) {
  const char* comspec = std::getenv("COMSPEC");
  if (comspec != nullptr && *comspec != '\0') {
    char* const argv[] = {const_cast<char*>(comspec), const_cast<char*>("/c"), line, nullptr};
    const int failed = run_and_wait(comspec, argv);
    if (failed != ENOENT && failed != ENOTDIR && failed != EACCES && failed != EPERM) return;
  }
  char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), line, nullptr};
  run_and_wait("/bin/sh", argv);
}

