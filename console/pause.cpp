// The pause at the end of a run: holds the console until the user answers, and runs
// the answer as a command line when it is one.

#include <cstring>

#include "console.h"
#include "internal.h"

namespace {

constexpr std::string_view PAUSE_MESSAGE =
    "Pause - Please enter a blank line (to continue) or a DOS command.\r\n";

// The longest line that can be handed to an interpreter as one argument. The whole
// answer is read; a longer one cannot be run whole, and a cut line is never run.
constexpr int LONGEST_COMMAND = 128 * 1024 - 1;
char answer[LONGEST_COMMAND + 2];

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
  console_flush();
  console_internal::run_command_line(answer);
}
