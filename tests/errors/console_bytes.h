// Scenarios that write to the console or stop the run, each run in a child process from
// an untouched error state. The expected records are given as written: the console drops
// the first (carriage-control) character of each and writes CR LF between them.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "child.h"
#include "console.h"
#include "errors.h"

inline const std::string TRACE_1 = "     Here is a traceback of subprogram calls in reverse order:";
inline const std::string TRACE_2 = "     Routine name                    Error type  Error code";
inline const std::string TRACE_3 = "     ------------                    ----------  ----------";

// One traceback row: the name in 32 columns, type and code right-justified in 6.
inline std::string row(const std::string& name, int type, int code, bool internal) {
  char text[128];
  std::snprintf(text, sizeof text, "     %-32s%6d      %6d%s", name.c_str(), type, code,
                internal ? "    (Called internally)" : "");
  return text;
}

// A record of the scenario's own, and one showing "<label> N1RTY(0) N1RTY(1)".
inline void say(const std::string& text) { write_literal_record(text); }
inline void show_types(const std::string& label) {
  say(" " + label + " " + std::to_string(N1RTY(0)) + " " + std::to_string(N1RTY(1)));
}

struct Scenario {
  const char* name;
  void (*body)();
  std::vector<std::string> records;
  bool stops;  // ends with the stop line and exit status 2
};

inline void expect_run(const Scenario& c) {
  SCOPED_TRACE(c.name);
  const auto run = testsupport::run_in_child([&] { ERROR_STATE = ErrorState{}; c.body(); });
  std::string bytes;
  for (std::size_t k = 0; k < c.records.size(); ++k)
    bytes += (k > 0 ? "\r\n" : "") + (c.records[k].empty() ? "" : c.records[k].substr(1));
  if (c.stops) bytes += "\r\nStop - Program terminated.\r\n\r\n";
  EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(bytes));
  EXPECT_EQ(run.status, c.stops ? 2 : 0);
}
