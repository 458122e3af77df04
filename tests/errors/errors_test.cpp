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
    const std::string calls = testsupport::read_file(entry.path());
    std::filesystem::path out = entry.path();
    const std::string expected = testsupport::read_file(out.replace_extension(".out"));
    const auto run = testsupport::run_in_child([&] { ERROR_STATE = ErrorState{}; run_calls(calls); });
    EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(expected)) << entry.path();
    EXPECT_EQ(run.status, expected.ends_with("Stop - Program terminated.\r\n\r\n") ? 2 : 0) << entry.path();
  }
  EXPECT_EQ(count, 22);
}

}  // namespace
