// Builds the exact bytes a run of quintolex writes to standard output from the lines
// a user sees, applying the console's rules: a record's line end is written only
// when the next output comes; a console read ends the pending line unless the cursor
// stands behind a prompt, and the user's Enter starts the next line; the pause and
// the stop end a pending line without clearing it, and the exit path ends it again.
#pragma once

#include <string>
#include <string_view>

namespace e2e {

class Transcript {
 public:
  // One record as the console shows it (the text after its carriage-control blank).
  Transcript& line(std::string_view shown) {
    if (pending_ && !continuation_) bytes_ += "\r\n";
    continuation_ = false;
    bytes_ += shown;
    pending_ = true;
    return *this;
  }

  // A prompt: shown like a record, the cursor stays behind it.
  Transcript& prompt(std::string_view shown) {
    line(shown);
    continuation_ = true;
    return *this;
  }

  // A console read answered by the user (the answer itself is not echoed when the
  // input is redirected).
  Transcript& read() {
    if (pending_ && !continuation_) bytes_ += "\r\n";
    continuation_ = false;
    pending_ = false;
    return *this;
  }

  // The banner and instructions, the file-name prompt and the user's answer.
  Transcript& banner_and_name() {
    line("  ");
    line("Quintolex V.2, a utility program written by");
    line("Quintolex developers, Laboratory Data Utilities project");
    line("Contact: see the README file that comes with this program");
    line("This program integrates a concentration profile.");
    line("Data file must look like: t(1), c(1), t(2), c(2)...");
    line("Or, two columns with the first being time.");
    line("Do not use fancy file names. Use data1.txt, etc.");
    line("V.2 increased x-data series length greatly.");
    line("  ");
    prompt("Please enter the name of your data file: ");
    return read();
  }

  // The blank record after the open, the count line and "Please wait...".
  Transcript& loaded(int count) {
    line("  ");
    std::string digits = std::to_string(count);
    line("Total number of data points=" + std::string(11 - digits.size(), ' ') + digits);
    return line("Please wait...");
  }

  // The closing lines, the pause with its answer, the stop and the exit path.
  Transcript& pause_and_stop() {
    line("Hit Enter key to quit DOS screen.");
    line(" ");
    end_pending();
    bytes_ += "Pause - Please enter a blank line (to continue) or a DOS command.\r\n";
    return stop();
  }

  // Output written between the pause and the stop (a command's own output).
  Transcript& raw(std::string_view bytes) {
    bytes_ += bytes;
    return *this;
  }

  Transcript& stop() {
    end_pending();
    bytes_ += "Stop - Program terminated.\r\n";
    return exit();
  }

  // The exit path after a run-time error report or a stop.
  Transcript& exit() {
    end_pending();
    return *this;
  }

  const std::string& bytes() const { return bytes_; }

 private:
  void end_pending() {
    if (pending_) bytes_ += "\r\n";
  }

  std::string bytes_;
  bool pending_ = false;
  bool continuation_ = false;
};

// The report a run-time error writes to standard error.
inline std::string runtime_report(std::string_view number, std::string_view statement,
                                  std::string_view message) {
  return "\r\nrun-time error " + std::string(number) + ": " + std::string(statement) +
         "\r\n- " + std::string(message) + "\r\n";
}

}  // namespace e2e
