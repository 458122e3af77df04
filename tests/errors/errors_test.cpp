// Error reporting through its public routines. Posting that prints nothing runs in the
// test process; a scenario that prints or stops runs in a child process from an
// untouched state. Records are given as written: the console drops the first
// (carriage-control) character of each and writes CR LF between them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "child.h"
#include "console.h"
#include "errors.h"

namespace {

ErrorState& state = ERROR_STATE;
std::string text_of(const char* text, int n) { return n <= 0 ? "" : std::string(text, std::size_t(n)); }
std::string store() { return text_of(state.PARAM_TEXT, state.PARAM_LENGTH <= 1 ? 0 : state.PARAM_LENGTH); }
std::string pending() { return text_of(state.MSG_TEXT, state.MSG_LENGTH); }

TEST(Posting, StoreSubstitutionAndRecording) {
  const struct { void (*set)(); std::string entries; } stores[] = {
      {[] { SET_INT_PARAM(1, 200000); SET_INT_PARAM(2, -7); SET_TEXT_PARAM(3, "   "); },
       "*I1*6%200000*I2*2%-7*L3*1% "},
      {[] { SET_TEXT_PARAM(1, "Q2AGS "); SET_TEXT_PARAM(-1, "Q2AGS "); }, "*L1*5%Q2AGS*L1*6%Q2AGS "},
      {[] { SET_TEXT_PARAM(-2, std::string(300, 'y')); }, "*L2*255%" + std::string(255, 'y')},
      {[] { SET_REAL_PARAM(1, 0.001f); SET_REAL_PARAM(2, -0.001f); SET_REAL_PARAM(3, 0.0f); },
       "*R1*12%1.000000E-03*R2*13%-1.000000E-03*R3*11%.000000E+00"},
      {[] { SET_REAL_PARAM(4, 1.5f); SET_REAL_PARAM(5, -250.0f); }, "*R4*12%1.500000E+00*R5*13%-2.500000E+02"},
      {[] { SET_INT_PARAM(10, 1); SET_REAL_PARAM(0, 1.0f); SET_TEXT_PARAM(-10, "x"); }, ""},
      // An entry of 108 characters, then one ending exactly at character 300; one
      // character more and the second entry is lost.
      {[] { SET_TEXT_PARAM(1, std::string(100, 'a')); SET_TEXT_PARAM(2, std::string(184, 'b')); },
       "*L1*100%" + std::string(100, 'a') + "*L2*184%" + std::string(184, 'b')},
      {[] { SET_TEXT_PARAM(1, std::string(100, 'a')); SET_TEXT_PARAM(2, std::string(185, 'b')); },
       "*L1*100%" + std::string(100, 'a')},
  };
  for (const auto& c : stores) {
    state = ErrorState{};
    c.set();
    EXPECT_EQ(store(), c.entries);
  }
  const struct { void (*set)(); std::string templ, text; } messages[] = {
      // Either case of the kind letter; the first stored value wins; the rest stays as written.
      {[] { SET_INT_PARAM(1, 42); SET_INT_PARAM(1, 99); SET_TEXT_PARAM(2, "ab"); },
       "%(i1) %(I0) %(IX) %(Q1) %(D1) %(l2) %( I1) %(I1 %(I1)", ".  42 %(I0) %(IX) %(Q1) %(D1) ab %( I1) %(I1 42"},
      {[] {}, std::string(1100, 'a'), ".  " + std::string(1021, 'a')},
      {[] { SET_TEXT_PARAM(1, std::string(200, 'b')); }, std::string(900, 'a') + "%(L1)tail",
       ".  " + std::string(900, 'a') + std::string(121, 'b')},
      // A key found inside a value: its digits run far past the store, whose rest is taken.
      {[] { SET_TEXT_PARAM(1, "*L2*4294967299%x"); SET_TEXT_PARAM(2, "ab"); }, "%(L2)", ".  x*L2*2%ab"},
  };
  for (const auto& c : messages) {
    state = ErrorState{};
    E1PSH("Q2AGS ");
    c.set();
    E1MES(TYPE_WARNING, 1, c.templ);
    EXPECT_EQ(pending(), c.text);
  }
  // Type and code recorded at the level, one posting after the other: nothing is
  // pending at first; a blank or empty template keeps the pending text.
  const struct { int type, code; const char* templ; int want_type, want_code; const char* text; } steps[] = {
      {TYPE_ALERT, 1, " ", 2, 1, ""}, {TYPE_WARNING, 2, "First.", 3, 2, ".  First."},
      {TYPE_ALERT, 3, " ", 2, 3, ".  First."}, {TYPE_ALERT, 4, "", 2, 4, ".  First."},
      {-1, 7, "Second.", 2, 7, ".  Second."}, {TYPE_WARNING, -3, "Third.", 3, 7, ".  Third."},
      {TYPE_WARNING, 0, "Cleared.", 3, 0, ""}, {TYPE_ALERT, 5, "Again.", 2, 5, ".  Again."},
      {0, 6, "Cleared.", 0, 6, ""}};
  state = ErrorState{};
  E1PSH("Q2AGS ");
  for (const auto& s : steps) {
    SET_INT_PARAM(1, 1);
    E1MES(s.type, s.code, s.templ);
    EXPECT_EQ(std::to_string(state.LEVEL_TYPE[2]) + "/" + std::to_string(state.LEVEL_CODE[2]) + pending(),
              std::to_string(s.want_type) + "/" + std::to_string(s.want_code) + s.text);
    EXPECT_EQ(state.PARAM_LENGTH, 1);  // every posting empties the store
  }
  const struct { int value, width, status; const char* text; } fields[] = {
      {42, 5, 0, "   42"}, {-42, 3, 0, "-42"}, {0, 1, 0, "0"}, {123456, 4, 2, "3456"},
      {-2147483647 - 1, 14, 0, "   -2147483648"}, {7, 0, -1, ""}};
  for (const auto& c : fields) {
    std::string field = "?";
    EXPECT_EQ(INT_TO_TEXT(c.value, c.width, field), c.status) << c.value;
    EXPECT_EQ(field, c.text) << c.value;
  }
}

const std::string TRACE = "     Here is a traceback of subprogram calls in reverse order:\n"
                          "     Routine name                    Error type  Error code\n"
                          "     ------------                    ----------  ----------";

// One traceback row: the name in 32 columns, type and code right-justified in 6.
std::string row(const std::string& name, int type, int code, bool internal = false) {
  char text[128];
  std::snprintf(text, sizeof text, "     %-32s%6d      %6d%s", name.c_str(), type, code,
                internal ? "    (Called internally)" : "");
  return text;
}
void say(const std::string& text) { write_literal_record(text); }
void show_types(const std::string& label) {  // " <label> N1RTY(0) N1RTY(1)"
  say(" " + label + " " + std::to_string(N1RTY(0)) + " " + std::to_string(N1RTY(1)));
}

struct Scenario {
  const char* name;
  void (*body)();
  std::vector<std::string> records;  // a record holding "\n" stands for several
  bool stops;                        // ends with the stop line and exit status 2
};

TEST(PrintingAndStack, WorkedBlocksPolicyAndMisuse) {
  std::string full = "\n *** TERMINAL ERROR 1 from RTN50.  Error condition in E1PSH.  Push would\n"
                     " ***          cause stack level to exceed 50. \n" + TRACE + "\n" + row("RTN50", 5, 1, true);
  for (int level = 49; level >= 2; --level)
    full.append("\n").append(row("RTN" + std::to_string(level), 0, 0, level > 2));
  const Scenario scenarios[] = {
      {"WARNING code 2 of Q2AGS called from the user: printed at the pop, the run goes on", [] {
         E1PSH("Q2AGS "); SET_REAL_PARAM(1, 0.001f); SET_REAL_PARAM(2, 0.001f);
         E1MES(TYPE_WARNING, 2, "Roundoff error has been detected.  The requested tolerances, "
                                "ERRABS = %(R1) and ERRREL = %(R2), cannot be reached.");
         E1POP("Q2AGS"); show_types("next");
       }, {"", " *** WARNING  ERROR 2 from Q2AGS.  Roundoff error has been detected.  The",
           " ***          requested tolerances, ERRABS = 1.000000E-03 and ERRREL = ",
           " ***          1.000000E-03, cannot be reached.", " next 3 3"}, false},
      {"FATAL code 1 of Q2AGS called from the user: the area report never comes", [] {
         E1PSH("Q2AGS "); SET_INT_PARAM(1, 200000);
         E1MES(TYPE_FATAL, 1, "The maximum number of subintervals allowed MAXSUB = %(I1) has been "
               "reached.  Use Q2AGS and increase MAXSUB.  Dimension adjustments may be necessary.");
         E1POP("Q2AGS "); say(" area report");
       }, {"", " *** FATAL    ERROR 1 from Q2AGS.  The maximum number of subintervals allowed",
           " ***          MAXSUB = 200000 has been reached.  Use Q2AGS and increase ",
           " ***          MAXSUB.  Dimension adjustments may be necessary."}, true},
      {"TERMINAL inside a library routine: printed when posted, the run stops at its pop", [] {
         E1PSH("Q2AGS "); E1PSH("AMACH "); SET_INT_PARAM(1, 9);
         E1MES(TYPE_TERMINAL, 5, "The argument must be between 1 and 8 inclusive. N = %(I1)");
         say(" before the pop"); E1POP("AMACH "); say(" after the pop");
       }, {"", " *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8",
           " ***          inclusive. N = 9", TRACE, row("AMACH", 5, 5, true), row("Q2AGS", 0, 0),
           row("USER", 0, 0), " before the pop"}, true},
      // A first word longer than the room (break at the blank of ".  "); a continuation
      // without a blank (hard cut at 64); a break on a double blank.
      {"wrapping", [] {
         E1PSH("Q2AGS "); E1MES(TYPE_WARNING_NOW, 2, std::string(60, 'w'));
         E1MES(TYPE_WARNING_NOW, 3, "A " + std::string(100, 'x'));
         E1MES(TYPE_WARNING_NOW, 4, "Forty-two characters of text ends here ok.  Next sentence.");
       }, {"", " *** WARNING  ERROR 2 from Q2AGS. ", " ***          " + std::string(60, 'w'), "",
           " *** WARNING  ERROR 3 from Q2AGS.  A", " ***          " + std::string(64, 'x'),
           " ***          " + std::string(36, 'x'), "",
           " *** WARNING  ERROR 4 from Q2AGS.  Forty-two characters of text ends here ok.",
           " ***          Next sentence."}, false},
      {"a lower-case first letter is raised only before an upper-case letter", [] {
         E1PSH("dQ2AGS"); E1PSH("dq2ags"); E1MES(TYPE_TERMINAL, 3, "Short."); E1POP("dq2ags");
       }, {"", " *** TERMINAL ERROR 3 from dq2ags.  Short.", TRACE, row("dq2ags", 5, 3, true), row("DQ2AGS", 0, 0),
           row("USER", 0, 0)}, true},
      {"an illegal type is reported under the recorded type and code",
       [] { E1PSH("Q2AGS "); E1MES(8, 1, "never built"); },
       {"", " *** UNKNOWN  ERROR 0 from Q2AGS.  Error from E1MES.  Illegal error type",
        " ***          specified."}, true},
      {"UMACH with a bad index", [] { int unit = 0; UMACH(-4, unit); },
       {"", " *** TERMINAL ERROR 5 from UMACH.  The absolute", " ***          value of the index variable must be",
        " ***          1, 2, or 3.  IABS(N) =      4.", ""}, true},
      {"the unit table", [] {
         int units[4] = {};
         for (int n = 1; n <= 3; ++n) UMACH(n, units[n]);
         say(std::string(" ") + char('0' + units[1]) + char('0' + units[2]) + char('0' + units[3]));
       }, {" 566"}, false},
      // The rows of the policy that the worked blocks leave out.
      {"NOTE changes nothing; ALERT reaches the caller unprinted", [] {
         E1PSH("Q2AGS "); E1MES(TYPE_NOTE, 3, "A note."); E1POP("Q2AGS "); show_types("note");
         E1PSH("Q2AGS "); E1MES(TYPE_ALERT, 4, "An alert."); E1POP("Q2AGS "); show_types("alert");
       }, {" note 0 1", " alert 2 2"}, false},
      {"WARNING from an internal routine: printed by the first user-called pop", [] {
         E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_WARNING, 4, "Inner trouble."); E1POP("QEPSEX");
         show_types("between"); E1POP("Q2AGS ");
       }, {" between 3 3", "", " *** WARNING  ERROR 4 from Q2AGS.  Inner trouble."}, false},
      {"FATAL from an internal routine: stops at the first user-called pop", [] {
         E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_FATAL, 5, "Inner failure."); E1POP("QEPSEX");
         say(" still running"); E1POP("Q2AGS "); say(" never");
       }, {" still running", "", " *** FATAL    ERROR 5 from Q2AGS.  Inner failure."}, true},
      {"a routine called from user code counts as called from the user", [] {
         E1PSH("Q2AGS "); E1USR("ON"); E1PSH("PROFIL"); E1MES(TYPE_WARNING, 1, "From the integrand.");
         E1POP("PROFIL"); E1USR("off"); E1POP("Q2AGS ");  // propagated; nothing left to print
       }, {"", " *** WARNING  ERROR 1 from PROFIL.  From the integrand.", TRACE, row("PROFIL", 3, 1),
           row("Q2AGS", 3, 1), row("USER", 0, 0)}, false},
      {"type 6: printed at posting, never stops", [] {
         E1PSH("Q2AGS "); E1MES(TYPE_WARNING_NOW, 1, "Said at once."); say(" posted");
         E1POP("Q2AGS "); say(" popped");
       }, {"", " *** WARNING  ERROR 1 from Q2AGS.  Said at once.", " posted", " popped"}, false},
      {"type 7: the stop waits for the first user-called pop", [] {
         E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_FATAL_NOW, 2, "Said at once.");
         E1POP("QEPSEX"); say(" between"); E1POP("Q2AGS "); say(" never");
       }, {"", " *** FATAL    ERROR 2 from QEPSEX.  Said at once.", TRACE, row("QEPSEX", 7, 2, true),
           row("Q2AGS", 0, 0), row("USER", 0, 0), " between"}, true},
      // N1RTY(1) reads the routine called last; a pop resets the slot above it, up to the
      // pop at level 49; slot 51, above a full stack, is never written.
      {"N1RTY and the slots above", [] {
         E1USR("ON"); show_types("start"); E1PSH("Q2AGS "); E1PSH("QADAPT"); E1POP("QADAPT");
         show_types("after"); E1POP("Q2AGS "); E1PSH("OTHER "); show_types("other");
         INIT_ERROR_STATE(); E1POP("OTHER");  // a second initialisation left OTHER on the stack
         for (int level = 2; level <= 50; ++level) E1PSH("R");
         show_types("full"); E1MES(TYPE_ALERT, 4, "x"); E1POP("R"); show_types("49");
         E1POP("R"); E1PSH("R"); show_types("49 again");
       }, {" start 0 -1", " after 0 0", " other 0 -1", " full 0 -1", " 49 2 2", " 49 again 0 -1"}, false},
      // Every misuse ends the run.
      {"fifty nested pushes", [] {
         for (int level = 2; level <= 51; ++level) E1PSH("RTN" + std::to_string(level));
       }, {full, row("USER", 0, 0)}, true},
      {"pop from an empty stack", [] { E1POP("Q2AGS "); },
       {"", " *** TERMINAL ERROR 1 from E1POP.  Error condition in E1POP.  Cannot pop from",
        " ***          Q2AGS because stack is empty."}, true},
      {"a name that differs in case", [] { E1PSH("Q2AGS "); E1POP("q2ags"); },
       {"", " *** TERMINAL ERROR 2 from Q2AGS.  Error condition in E1POP.  q2ags does not",
        " ***          match the name Q2AGS in the stack."}, true},
      {"N1RTY(2)", [] { E1PSH("Q2AGS "); N1RTY(2); },
       {"", " *** TERMINAL ERROR 1 from Q2AGS.  The argument passed to N1RTY must be 0 or", " ***          1."},
       true},
      {"E1USR(\"On\") is printed at once and stops at the caller's pop",
       [] { E1PSH("Q2AGS "); E1USR("On"); say(" still running"); E1POP("Q2AGS "); },
       {"", " *** TERMINAL ERROR 1 from Q2AGS.  Invalid value for SWITCH in call to E1USR.",
        " ***          SWITCH must be set to 'ON' or 'OFF'.  SWITCH = 'On' ", " still running"}, true},
  };
  // The given record lengths of the first two worked blocks, carriage control included.
  const std::size_t lengths[8] = {0, 73, 71, 46, 0, 77, 72, 62};
  for (std::size_t r = 0; r < 8; ++r) EXPECT_EQ(scenarios[r / 4].records[r % 4].size(), lengths[r]);
  for (const Scenario& c : scenarios) {
    const auto run = testsupport::run_in_child([&] { state = ErrorState{}; c.body(); });
    std::string bytes, separator;
    for (const std::string& records : c.records) {
      for (std::size_t from = 0, end = 0; end != std::string::npos; from = end + 1, separator = "\r\n") {
        const std::string record = records.substr(from, (end = records.find('\n', from)) - from);
        bytes += separator + (record.empty() ? "" : record.substr(1));
      }
    }
    if (c.stops) bytes += "\r\nStop - Program terminated.\r\n\r\n";
    EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(bytes)) << c.name;
    EXPECT_EQ(run.status, c.stops ? 2 : 0) << c.name;
  }
}

}  // namespace
