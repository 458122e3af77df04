// Expected console bytes for the error-reporting tests, built from record texts:
// the console consumes the first (carriage-control) character of every record and
// writes CR LF before every record but the first of the run.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "child.h"
#include "errors.h"

inline std::string shown(std::initializer_list<std::string> records) {
  std::string bytes;
  bool first = true;
  for (const std::string& record : records) {
    if (!first) bytes += "\r\n";
    if (!record.empty()) bytes += record.substr(1);
    first = false;
  }
  return bytes;
}

// What follows the last record of a run ended by an error stop.
inline const std::string STOPPED = "\r\nStop - Program terminated.\r\n\r\n";

inline const std::string TRACE_1 = "     Here is a traceback of subprogram calls in reverse order:";
inline const std::string TRACE_2 =
    "     Routine name                    Error type  Error code";
inline const std::string TRACE_3 =
    "     ------------                    ----------  ----------";

// One traceback row: name in 32 columns, type and code right-justified in 6.
inline std::string row(const std::string& name, int type, int code, bool internal) {
  auto field6 = [](int v) {
    std::string digits = std::to_string(v);
    return std::string(6 - digits.size(), ' ') + digits;
  };
  std::string text = "     " + name + std::string(32 - name.size(), ' ') + field6(type) +
                     "      " + field6(code);
  return internal ? text + "    (Called internally)" : text;
}

// Runs a scenario in a child process that starts from an untouched error state.
inline testsupport::ChildRun run_fresh(const std::function<void()>& body) {
  return testsupport::run_in_child([&] {
    ERROR_STATE = ErrorState{};
    body();
  });
}

inline void expect_output(const testsupport::ChildRun& run, const std::string& bytes,
                          int status) {
  EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(bytes));
  EXPECT_EQ(run.status, status);
}
