// The pause at the end of a run: holds the console until the user answers, and runs
// the answer as a command line when it is one.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console.h"

extern char** environ;

namespace {

constexpr std::string_view PAUSE_MESSAGE =
    "Pause - Please enter a blank line (to continue) or a DOS command.\r\n";

// The longest line that can be handed to an interpreter as one argument. The whole
// answer is read; a longer one cannot be run whole, and a cut line is never run.
constexpr int LONGEST_COMMAND = 128 * 1024 - 1;
char answer[LONGEST_COMMAND + 2];

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

// Runs the line with the interpreter named by COMSPEC, started with "/c" and the
// line; when that is unset, or cannot be started because it is not found or not
// permitted, with the POSIX shell. Any other failure to start it (a file of no
// executable format, too little memory) runs nothing. The standard handles are
// inherited; the exit status is ignored.
void run_command_line(char* line) {
  console_flush();
  const char* comspec = std::getenv("COMSPEC");
  if (comspec != nullptr && *comspec != '\0') {
    char* const argv[] = {const_cast<char*>(comspec), const_cast<char*>("/c"), line, nullptr};
    const int failed = run_and_wait(comspec, argv);
    if (failed != ENOENT && failed != ENOTDIR && failed != EACCES && failed != EPERM) return;
  }
  char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), line, nullptr};
  run_and_wait("/bin/sh", argv);
}

}  // namespace

void pause_run() { pause_run({}); }

void pause_run(std::string_view text) {
  console_end_pending_line();
  if (text.empty()) {
    console_write_raw(PAUSE_MESSAGE);
  } else {
    console_write_raw(text);
    console_write_raw("\r\n");
  }
  console_flush();

  int length = console_read_line(answer, LONGEST_COMMAND + 1);
  if (length < 0) {
    // A terminal that gives no bytes at all is answered like an empty line; a
    // redirected input already at its end has no answer to give.
    if (console_input_is_terminal()) return;
    runtime_io_error_at_last_statement(F_END_OF_FILE, io_error_message(F_END_OF_FILE));
  }
  while (length > 0 && (answer[length - 1] == ' ' || answer[length - 1] == '\t')) --length;
  if (length < 2 || length > LONGEST_COMMAND) return;
  if (std::memchr(answer, '\0', static_cast<std::size_t>(length)) != nullptr) return;
  answer[length] = '\0';
  run_command_line(answer);
}
