// The routine-name stack: the printing and stopping policy of the default switches,
// propagation to the caller, N1RTY, and every misuse that ends the run.
#include <string>

#include "console_bytes.h"

namespace {

// Rows of the policy not already shown by the worked blocks of the printing tests
// (WARNING and FATAL posted by a routine the user called, TERMINAL at posting).
const Scenario POLICY[] = {
    {"NOTE changes nothing; ALERT reaches the caller unprinted", [] {
       E1PSH("Q2AGS "); E1MES(TYPE_NOTE, 3, "A note."); E1POP("Q2AGS "); show_types("note");
       E1PSH("Q2AGS "); E1MES(TYPE_ALERT, 4, "An alert."); E1POP("Q2AGS "); show_types("alert");
     }, {" note 0 1", " alert 2 2"}, false},
    {"WARNING from an internal routine: printed by the first user-called pop", [] {
       E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_WARNING, 4, "Inner trouble.");
       E1POP("QEPSEX"); show_types("between"); E1POP("Q2AGS ");
     }, {" between 3 3", "", " *** WARNING  ERROR 4 from Q2AGS.  Inner trouble."}, false},
    {"FATAL from an internal routine: stops at the first user-called pop", [] {
       E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_FATAL, 5, "Inner failure.");
       E1POP("QEPSEX"); say(" still running"); E1POP("Q2AGS "); say(" never");
     }, {" still running", "", " *** FATAL    ERROR 5 from Q2AGS.  Inner failure."}, true},
    {"a routine called from user code counts as called from the user", [] {
       E1PSH("Q2AGS "); E1USR("ON"); E1PSH("PROFIL"); E1MES(TYPE_WARNING, 1, "From the integrand.");
       E1POP("PROFIL"); E1USR("off"); E1POP("Q2AGS ");  // propagated; nothing left to print
     }, {"", " *** WARNING  ERROR 1 from PROFIL.  From the integrand.", TRACE_1, TRACE_2, TRACE_3,
         row("PROFIL", 3, 1, false), row("Q2AGS", 3, 1, false), row("USER", 0, 0, false)}, false},
    {"type 6: printed at posting, never stops", [] {
       E1PSH("Q2AGS "); E1MES(TYPE_WARNING_NOW, 1, "Said at once."); say(" posted");
       E1POP("Q2AGS "); say(" popped");
     }, {"", " *** WARNING  ERROR 1 from Q2AGS.  Said at once.", " posted", " popped"}, false},
    {"type 7: the stop waits for the first user-called pop", [] {
       E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_FATAL_NOW, 2, "Said at once.");
       E1POP("QEPSEX"); say(" between"); E1POP("Q2AGS "); say(" never");
     }, {"", " *** FATAL    ERROR 2 from QEPSEX.  Said at once.", TRACE_1, TRACE_2, TRACE_3,
         row("QEPSEX", 7, 2, true), row("Q2AGS", 0, 0, false), row("USER", 0, 0, false),
         " between"}, true},
    {"N1RTY(1) reads the routine called last; the pop below it resets that slot", [] {
       E1USR("ON"); show_types("start"); E1PSH("Q2AGS "); E1PSH("QADAPT"); E1POP("QADAPT");
       show_types("after"); E1POP("Q2AGS "); E1PSH("OTHER "); show_types("other");
       INIT_ERROR_STATE(); E1POP("OTHER");  // a second initialisation left OTHER on the stack
       for (int level = 2; level <= 50; ++level) E1PSH("R");
       show_types("full");  // slot 51, above a full stack
     }, {" start 0 -1", " after 0 0", " other 0 -1", " full 0 -1"}, false},
};

// The fiftieth nested push: the message under RTN50, then a traceback of all 50 levels.
std::vector<std::string> stack_full() {
  std::vector<std::string> records = {
      "", " *** TERMINAL ERROR 1 from RTN50.  Error condition in E1PSH.  Push would",
      " ***          cause stack level to exceed 50. ", TRACE_1, TRACE_2, TRACE_3,
      row("RTN50", 5, 1, true)};
  for (int level = 49; level >= 2; --level)
    records.push_back(row("RTN" + std::to_string(level), 0, 0, level > 2));
  records.push_back(row("USER", 0, 0, false));
  return records;
}

const Scenario MISUSE[] = {
    {"fifty nested pushes",
     [] { for (int level = 2; level <= 51; ++level) E1PSH("RTN" + std::to_string(level)); },
     stack_full(), true},
    {"pop from an empty stack", [] { E1POP("Q2AGS "); },
     {"", " *** TERMINAL ERROR 1 from E1POP.  Error condition in E1POP.  Cannot pop from",
      " ***          Q2AGS because stack is empty."}, true},
    {"a name that differs in case", [] { E1PSH("Q2AGS "); E1POP("q2ags"); },
     {"", " *** TERMINAL ERROR 2 from Q2AGS.  Error condition in E1POP.  q2ags does not",
      " ***          match the name Q2AGS in the stack."}, true},
    {"N1RTY(2)", [] { E1PSH("Q2AGS "); N1RTY(2); },
     {"", " *** TERMINAL ERROR 1 from Q2AGS.  The argument passed to N1RTY must be 0 or",
      " ***          1."}, true},
    {"E1USR(\"On\") stops at the caller's pop",
     [] { E1PSH("Q2AGS "); E1USR("On"); say(" still running"); E1POP("Q2AGS "); },
     {"", " *** TERMINAL ERROR 1 from Q2AGS.  Invalid value for SWITCH in call to E1USR.",
      " ***          SWITCH must be set to 'ON' or 'OFF'.  SWITCH = 'On' ", " still running"}, true},
};

TEST(Stack, PolicyOfTheDefaultSwitches) {
  for (const Scenario& c : POLICY) expect_run(c);
}

TEST(Stack, MisuseEndsTheRun) {
  for (const Scenario& c : MISUSE) expect_run(c);
}

}  // namespace
