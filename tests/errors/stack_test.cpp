// The routine-name stack: the printing and stopping policy of the default switches,
// propagation to the caller, N1RTY, and every misuse that ends the run.
#include <string>

#include "console.h"
#include "console_bytes.h"

namespace {

std::string header(const std::string& type8, int code, const std::string& name,
                   const std::string& text) {
  return " *** " + type8 + " ERROR " + std::to_string(code) + " from " + name + ".  " + text;
}

// Shows "<label> N1RTY(0) N1RTY(1)" as a record of the child's output.
void show_types(const std::string& label) {
  write_literal_record(" " + label + " " + std::to_string(N1RTY(0)) + " " +
                       std::to_string(N1RTY(1)));
}

class StackState : public ::testing::Test {
 protected:
  void SetUp() override { ERROR_STATE = ErrorState{}; }
};

TEST_F(StackState, NoteIsKeptAtItsLevelAndAlertTravelsSilently) {
  E1PSH("Q2AGS ");
  E1MES(TYPE_NOTE, 3, "A note.");
  E1POP("Q2AGS ");
  EXPECT_EQ(N1RTY(0), 0);  // the caller's level is unchanged
  EXPECT_EQ(N1RTY(1), TYPE_NOTE);
  E1PSH("Q2AGS ");
  E1MES(TYPE_ALERT, 4, "An alert.");
  E1POP("Q2AGS ");
  EXPECT_EQ(N1RTY(0), TYPE_ALERT);
  EXPECT_EQ(ERROR_STATE.LEVEL_CODE[1], 4);
  EXPECT_EQ(ERROR_STATE.MSG_LENGTH, 12);  // ".  An alert." is still pending, unprinted
}

TEST_F(StackState, SlotAboveIsResetByThePopBelowIt) {
  EXPECT_EQ(N1RTY(0), 0);  // untouched state
  E1USR("ON");
  EXPECT_EQ(N1RTY(1), -1);
  E1PSH("Q2AGS ");
  E1PSH("QADAPT");
  E1POP("QADAPT");
  EXPECT_EQ(N1RTY(1), 0);  // QADAPT returned without error
  E1POP("Q2AGS ");
  E1PSH("OTHER ");
  EXPECT_EQ(N1RTY(1), -1);  // OTHER has called nothing yet
  EXPECT_EQ(ERROR_STATE.CUR_LEVEL, 2);
  E1POP("OTHER");  // pushed with a trailing blank
}

TEST(StackPolicy, WarningFromTheUserIsPrintedAndPropagatedToLevel1) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1MES(TYPE_WARNING, 2, "Careful.");
    E1POP("Q2AGS");
    show_types("user");
  });
  expect_output(run, shown({"", header("WARNING ", 2, "Q2AGS", "Careful."), " user 3 3"}), 0);
}

TEST(StackPolicy, WarningFromAnInternalRoutineIsPrintedAtTheFirstUserCalledPop) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1PSH("QEPSEX");
    E1MES(TYPE_WARNING, 4, "Inner trouble.");
    E1POP("QEPSEX");
    show_types("between");  // in Q2AGS: its own level took type 3, callee had 3
    E1POP("Q2AGS ");
  });
  expect_output(run,
                shown({" between 3 3", "", header("WARNING ", 4, "Q2AGS", "Inner trouble.")}), 0);
}

TEST(StackPolicy, FatalFromAnInternalRoutineStopsAtTheFirstUserCalledPop) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1PSH("QEPSEX");
    E1MES(TYPE_FATAL, 5, "Inner failure.");
    E1POP("QEPSEX");
    write_literal_record(" still running");
    E1POP("Q2AGS ");
    write_literal_record(" never shown");
  });
  expect_output(run,
                shown({" still running", "", header("FATAL   ", 5, "Q2AGS", "Inner failure.")}) +
                    STOPPED,
                2);
}

TEST(StackPolicy, RoutineCalledFromUserCodeCountsAsCalledFromTheUser) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1USR("ON");
    E1PSH("PROFIL");
    E1MES(TYPE_WARNING, 1, "From the integrand.");
    E1POP("PROFIL");
    E1USR("off");
    E1POP("Q2AGS ");  // propagated before printing; nothing left to print here
  });
  expect_output(run,
                shown({"", header("WARNING ", 1, "PROFIL", "From the integrand."), TRACE_1,
                       TRACE_2, TRACE_3, row("PROFIL", 3, 1, false), row("Q2AGS", 3, 1, false),
                       row("USER", 0, 0, false)}),
                0);
}

TEST(StackPolicy, Type6IsPrintedAtPostingAndNeverStops) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1MES(TYPE_WARNING_NOW, 1, "Said at once.");
    write_literal_record(" posted");
    E1POP("Q2AGS ");
    write_literal_record(" popped");
  });
  expect_output(run,
                shown({"", header("WARNING ", 1, "Q2AGS", "Said at once."), " posted", " popped"}),
                0);
}

TEST(StackPolicy, Type7StopsAtTheUserCalledPopNotAtTheInternalOne) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1PSH("QEPSEX");
    E1MES(TYPE_FATAL_NOW, 2, "Said at once.");
    E1POP("QEPSEX");  // called internally: the deferred stop stays pending
    write_literal_record(" between");
    E1POP("Q2AGS ");
    write_literal_record(" never shown");
  });
  expect_output(run,
                shown({"", header("FATAL   ", 2, "QEPSEX", "Said at once."), TRACE_1, TRACE_2,
                       TRACE_3, row("QEPSEX", 7, 2, true), row("Q2AGS", 0, 0, false),
                       row("USER", 0, 0, false), " between"}) +
                    STOPPED,
                2);
}

TEST(StackMisuse, FiftiethNestedPushStopsWithATracebackOfAllLevels) {
  auto run = run_fresh([] {
    for (int level = 2; level <= 51; ++level) E1PSH("RTN" + std::to_string(level));
  });
  std::string expected = shown({"", header("TERMINAL", 1, "RTN50",
                                           "Error condition in E1PSH.  Push would"),
                                " ***          cause stack level to exceed 50. ", TRACE_1,
                                TRACE_2, TRACE_3, row("RTN50", 5, 1, true)});
  for (int level = 49; level >= 2; --level)
    expected += "\r\n" + row("RTN" + std::to_string(level), 0, 0, level > 2).substr(1);
  expected += "\r\n" + row("USER", 0, 0, false).substr(1) + STOPPED;
  expect_output(run, expected, 2);
}

TEST(StackMisuse, PopFromAnEmptyStack) {
  auto run = run_fresh([] { E1POP("Q2AGS "); });
  expect_output(run,
                shown({"", header("TERMINAL", 1, "E1POP",
                                  "Error condition in E1POP.  Cannot pop from"),
                       " ***          Q2AGS because stack is empty."}) +
                    STOPPED,
                2);
}

TEST(StackMisuse, NameMismatchIsCaseSensitive) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1POP("q2ags");
  });
  expect_output(run,
                shown({"", header("TERMINAL", 2, "Q2AGS",
                                  "Error condition in E1POP.  q2ags does not"),
                       " ***          match the name Q2AGS in the stack."}) +
                    STOPPED,
                2);
}

TEST(StackMisuse, N1rtyAcceptsOnly0And1) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    N1RTY(2);
  });
  expect_output(run,
                shown({"", header("TERMINAL", 1, "Q2AGS",
                                  "The argument passed to N1RTY must be 0 or"),
                       " ***          1."}) +
                    STOPPED,
                2);
}

TEST(StackMisuse, E1usrRejectsMixedCaseAndStopsAtTheCallersPop) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1USR("On");
    write_literal_record(" still running");
    E1POP("Q2AGS ");
  });
  expect_output(run,
                shown({"", header("TERMINAL", 1, "Q2AGS",
                                  "Invalid value for SWITCH in call to E1USR."),
                       " ***          SWITCH must be set to 'ON' or 'OFF'.  SWITCH = 'On' ",
                       " still running"}) +
                    STOPPED,
                2);
}

}  // namespace
