// Error reporting through its public routines. scenarios/<name>.calls lists calls, one a line
// (a text in double quotes, as it stands between the first and last quote), and probes that
// show the state as records; <name>.out holds the console bytes, derived by hand. Each runs in
// a child process from an untouched state; the exit status is 2 when the output ends in the stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "child.h"
#include "console.h"
#include "errors.h"

namespace {

std::string text_of(const char* text, int n) { return n <= 0 ? "" : std::string(text, std::size_t(n)); }
template <class... Parts> void say(const Parts&... parts) {  // one record of the parts
  write_literal_record((std::string() + ... + parts));
}

void run_calls(const std::string& calls) {
  ErrorState& s = ERROR_STATE;
  std::istringstream lines(calls);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t quote = line.find('"');
    const std::string text = quote == std::string::npos ? "" : line.substr(quote + 1, line.rfind('"') - quote - 1);
    std::istringstream words(line.substr(0, quote));
    std::string call, a = "0", b = "0";
    words >> call >> a >> b;
    int i = std::atoi(a.c_str()), j = std::atoi(b.c_str());
    static const std::string known = " E1PSH E1POP E1USR E1MES N1RTY INIT_ERROR_STATE SET_INT_PARAM "
                                     "SET_REAL_PARAM SET_TEXT_PARAM UMACH pushes say reset types state ";
    if (!call.empty() && call[0] != '#' && known.find(" " + call + " ") == std::string::npos) std::abort();
    if (call == "E1PSH") E1PSH(text);
    if (call == "E1POP") E1POP(text);
    if (call == "E1USR") E1USR(text);
    if (call == "E1MES") E1MES(i, j, text);
    if (call == "N1RTY") N1RTY(i);
    if (call == "INIT_ERROR_STATE") INIT_ERROR_STATE();
    if (call == "SET_INT_PARAM") SET_INT_PARAM(i, j);
    if (call == "SET_REAL_PARAM") SET_REAL_PARAM(i, std::strtof(b.c_str(), nullptr));
    if (call == "SET_TEXT_PARAM") SET_TEXT_PARAM(i, text);
    if (call == "UMACH") UMACH(i, j), say(" ", std::to_string(j));
    // Probes: pushes of levels i..j named text<level>; a record; an empty state; " <label>
    // N1RTY(0) N1RTY(1)"; " <type>/<code>|<pending message>|<store>" of level i.
    for (int level = i; call == "pushes" && level <= j; ++level) E1PSH(text + std::to_string(level));
    if (call == "say") say(text);
    if (call == "reset") s = ErrorState{};
    if (call == "types") say(" ", text, " ", std::to_string(N1RTY(0)), " ", std::to_string(N1RTY(1)));
    if (call == "state")
      say(" ", std::to_string(s.LEVEL_TYPE[i]), "/", std::to_string(s.LEVEL_CODE[i]), "|",
          text_of(s.MSG_TEXT, s.MSG_LENGTH), "|", text_of(s.PARAM_TEXT, s.PARAM_LENGTH > 1 ? s.PARAM_LENGTH : 0));
  }
}

TEST(ErrorReporting, Scenarios) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SCENARIOS)) {
    if (entry.path().extension() != ".calls") continue;
    ++count;
    const std::string calls = testsupport::read_file(entry.path().string());
    std::filesystem::path out = entry.path();
    const std::string expected = testsupport::read_file(out.replace_extension(".out").string());
    const auto run = testsupport::run_in_child([&] { ERROR_STATE = ErrorState{}; run_calls(calls); });
    EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(expected)) << entry.path();
    EXPECT_EQ(run.status, expected.ends_with("Stop - Program terminated.\r\n\r\n") ? 2 : 0) << entry.path();
  }
  EXPECT_EQ(count, 22);
}

// The print and stop settings of every type, each on and off, for a message raised in Q2AGS,
// a routine the user called, and in QEPSEX, a routine Q2AGS called. The test raises it with
// E1MES (code 7, "Text.") or has the library raise a TERMINAL message itself: E1USR refusing
// its switch (code 1). What the console shows, in order: "posted" after the raise, "inner"
// after the pop of QEPSEX, "popped" after the pop of Q2AGS; MSG the message under Q2AGS, alone;
// TRACE the message under QEPSEX with the traceback; STOP the stop, exit status 2.
struct PolicyRow {
  const char* raise;
  int type, print, stop;
  const char* from_user;
  const char* internal;
};
constexpr PolicyRow POLICY[] = {
    {"E1MES", TYPE_NOTE, 0, 0, "posted popped", "posted inner popped"},
    {"E1MES", TYPE_NOTE, 0, 1, "posted STOP", "posted inner popped"},  // a NOTE stays in QEPSEX
    {"E1MES", TYPE_NOTE, 1, 0, "posted MSG popped", "posted inner popped"},
    {"E1MES", TYPE_NOTE, 1, 1, "posted MSG STOP", "posted inner popped"},
    {"E1MES", TYPE_ALERT, 0, 0, "posted popped", "posted inner popped"},
    {"E1MES", TYPE_ALERT, 0, 1, "posted STOP", "posted inner STOP"},
    {"E1MES", TYPE_ALERT, 1, 0, "posted MSG popped", "posted inner MSG popped"},
    {"E1MES", TYPE_ALERT, 1, 1, "posted MSG STOP", "posted inner MSG STOP"},
    {"E1MES", TYPE_WARNING, 0, 0, "posted popped", "posted inner popped"},
    {"E1MES", TYPE_WARNING, 0, 1, "posted STOP", "posted inner STOP"},
    {"E1MES", TYPE_WARNING, 1, 0, "posted MSG popped", "posted inner MSG popped"},
    {"E1MES", TYPE_WARNING, 1, 1, "posted MSG STOP", "posted inner MSG STOP"},
    {"E1MES", TYPE_FATAL, 0, 0, "posted popped", "posted inner popped"},
    {"E1MES", TYPE_FATAL, 0, 1, "posted STOP", "posted inner STOP"},
    {"E1MES", TYPE_FATAL, 1, 0, "posted MSG popped", "posted inner MSG popped"},
    {"E1MES", TYPE_FATAL, 1, 1, "posted MSG STOP", "posted inner MSG STOP"},
    {"E1MES", TYPE_TERMINAL, 0, 0, "posted popped", "posted inner popped"},
    {"E1MES", TYPE_TERMINAL, 0, 1, "posted STOP", "posted STOP"},  // at the pop of its own routine
    {"E1MES", TYPE_TERMINAL, 1, 0, "MSG posted popped", "TRACE posted inner popped"},
    {"E1MES", TYPE_TERMINAL, 1, 1, "MSG posted STOP", "TRACE posted STOP"},
    {"E1MES", TYPE_WARNING_NOW, 0, 0, "posted popped", "posted inner popped"},
    {"E1MES", TYPE_WARNING_NOW, 0, 1, "posted STOP", "posted inner STOP"},
    {"E1MES", TYPE_WARNING_NOW, 1, 0, "MSG posted popped", "TRACE posted inner popped"},
    {"E1MES", TYPE_WARNING_NOW, 1, 1, "MSG posted STOP", "TRACE posted inner STOP"},
    {"E1MES", TYPE_FATAL_NOW, 0, 0, "posted popped", "posted inner popped"},
    {"E1MES", TYPE_FATAL_NOW, 0, 1, "posted STOP", "posted inner STOP"},
    {"E1MES", TYPE_FATAL_NOW, 1, 0, "MSG posted popped", "TRACE posted inner popped"},
    {"E1MES", TYPE_FATAL_NOW, 1, 1, "MSG posted STOP", "TRACE posted inner STOP"},
    {"E1USR", TYPE_TERMINAL, 0, 0, "posted popped", "posted inner popped"},
    {"E1USR", TYPE_TERMINAL, 0, 1, "posted STOP", "posted STOP"},
    {"E1USR", TYPE_TERMINAL, 1, 0, "MSG posted popped", "TRACE posted inner popped"},
    {"E1USR", TYPE_TERMINAL, 1, 1, "MSG posted STOP", "TRACE posted STOP"},
};

// The console bytes of `words` for the row (each record after the first starts with CR LF,
// its carriage-control blank not shown).
std::string policy_console(const PolicyRow& row, const std::string& words) {
  static const char* const names[8] = {"", "NOTE    ", "ALERT   ", "WARNING ", "FATAL   ", "TERMINAL", "WARNING ", "FATAL   "};
  const bool e1usr = std::string(row.raise) == "E1USR";
  const std::string type(1, char('0' + row.type)), code = e1usr ? "1" : "7";
  const std::string usr_tail = " must be set to 'ON' or 'OFF'.  SWITCH = 'On' ";
  std::string bytes;
  bool first = true;
  auto record = [&](const std::string& text) {
    bytes += (first ? "" : "\r\n") + text.substr(text.empty() ? 0 : 1);
    first = false;
  };
  auto trace_row = [&](std::string name, const std::string& t, const std::string& c) {
    name.resize(32, ' ');
    return "     " + name + "     " + t + "           " + c;
  };
  std::istringstream in(words);
  for (std::string word; in >> word;) {
    if (word == "posted" || word == "popped") record(" " + word);
    if (word == "inner") record(" inner popped");
    if (word == "STOP") bytes += "\r\nStop - Program terminated.\r\n\r\n";
    if (word != "MSG" && word != "TRACE") continue;
    const bool inner = word == "TRACE";
    const std::string header = " *** " + std::string(names[row.type]) + " ERROR " + code + " from " +
                               (inner ? "QEPSEX" : "Q2AGS") + ".  ";
    record("");
    if (!e1usr) record(header + "Text.");  // the longer name leaves one word less on the first line
    else if (!inner) record(header + "Invalid value for SWITCH in call to E1USR."), record(" ***          SWITCH" + usr_tail);
    else record(header + "Invalid value for SWITCH in call to"), record(" ***          E1USR.  SWITCH" + usr_tail);
    if (word == "MSG") continue;
    record("     Here is a traceback of subprogram calls in reverse order:");
    record("     Routine name                    Error type  Error code");
    record("     ------------                    ----------  ----------");
    record(trace_row("QEPSEX", type, code) + "    (Called internally)");
    record(trace_row("Q2AGS", "0", "0")), record(trace_row("USER", "0", "0"));
  }
  return bytes;
}

TEST(ErrorReporting, PrintAndStopSettings) {
  for (const PolicyRow& row : POLICY) {
    for (const bool internal : {false, true}) {
      const auto run = testsupport::run_in_child([&] {
        ERROR_STATE = ErrorState{};
        INIT_ERROR_STATE();
        ERROR_STATE.PRINT_FLAG[row.type] = row.print;
        ERROR_STATE.STOP_FLAG[row.type] = row.stop;
        E1PSH("Q2AGS");
        if (internal) E1PSH("QEPSEX");
        if (std::string(row.raise) == "E1USR") E1USR("On");
        else E1MES(row.type, 7, "Text.");
        say(" posted");
        if (internal) E1POP("QEPSEX"), say(" inner popped");
        E1POP("Q2AGS");
        say(" popped");
      });
      const std::string words = internal ? row.internal : row.from_user;
      const std::string label = std::string(row.raise) + " type " + std::to_string(row.type) + " print " +
                                std::to_string(row.print) + " stop " + std::to_string(row.stop) + " in " +
                                (internal ? "QEPSEX" : "Q2AGS");
      EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(policy_console(row, words))) << label;
      EXPECT_EQ(run.status, words.ends_with("STOP") ? 2 : 0) << label;
    }
  }
}

}  // namespace
