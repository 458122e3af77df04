// Message printing: the worked message blocks byte for byte, the wrapping rules, the
// name rule of the header and traceback, and the unit table's own message.
#include "console.h"
#include "console_bytes.h"

namespace {

const char* const ROUNDOFF =
    "Roundoff error has been detected.  The requested tolerances, ERRABS = %(R1) and "
    "ERRREL = %(R2), cannot be reached.";
const char* const MAXSUB_REACHED =
    "The maximum number of subintervals allowed MAXSUB = %(I1) has been reached.  Use "
    "Q2AGS and increase MAXSUB.  Dimension adjustments may be necessary.";

TEST(WorkedMessages, WarningCode2IsPrintedAtThePopAndTheRunGoesOn) {
  const std::string r2 =
      " *** WARNING  ERROR 2 from Q2AGS.  Roundoff error has been detected.  The";
  const std::string r3 =
      " ***          requested tolerances, ERRABS = 1.000000E-03 and ERRREL = ";
  const std::string r4 = " ***          1.000000E-03, cannot be reached.";
  ASSERT_EQ(r2.size(), 73u);
  ASSERT_EQ(r3.size(), 71u);
  ASSERT_EQ(r4.size(), 46u);
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    SET_REAL_PARAM(1, 0.001f);
    SET_REAL_PARAM(2, 0.001f);
    E1MES(TYPE_WARNING, 2, ROUNDOFF);
    write_literal_record(" posted");  // nothing is printed before the pop
    E1POP("Q2AGS ");
    write_literal_record(" next line");
  });
  expect_output(run, shown({" posted", "", r2, r3, r4, " next line"}), 0);
}

TEST(WorkedMessages, FatalCode1IsPrintedAtThePopAndStopsWithStatus2) {
  const std::string r2 =
      " *** FATAL    ERROR 1 from Q2AGS.  The maximum number of subintervals allowed";
  const std::string r3 =
      " ***          MAXSUB = 200000 has been reached.  Use Q2AGS and increase ";
  const std::string r4 = " ***          MAXSUB.  Dimension adjustments may be necessary.";
  ASSERT_EQ(r2.size(), 77u);
  ASSERT_EQ(r3.size(), 72u);
  ASSERT_EQ(r4.size(), 62u);
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    SET_INT_PARAM(1, 200000);
    E1MES(TYPE_FATAL, 1, MAXSUB_REACHED);
    E1POP("Q2AGS ");
    write_literal_record(" area report");
  });
  expect_output(run, shown({"", r2, r3, r4}) + STOPPED, 2);
}

TEST(WorkedMessages, FatalCode5) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1MES(TYPE_FATAL, 5, "Integral is probably divergent or slowly convergent.");
    E1POP("Q2AGS ");
  });
  expect_output(run,
                shown({"",
                       " *** FATAL    ERROR 5 from Q2AGS.  Integral is probably divergent or "
                       "slowly",
                       " ***          convergent."}) +
                    STOPPED,
                2);
}

TEST(WorkedMessages, TerminalFromARoutineCalledInternallyHasATraceback) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1PSH("AMACH ");
    SET_INT_PARAM(1, 9);
    E1MES(TYPE_TERMINAL, 5, "The argument must be between 1 and 8 inclusive. N = %(I1)");
    write_literal_record(" before the pop");  // printed at posting, stops at the pop
    E1POP("AMACH ");
    write_literal_record(" after the pop");
  });
  expect_output(run,
                shown({"", " *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8",
                       " ***          inclusive. N = 9", TRACE_1, TRACE_2, TRACE_3,
                       row("AMACH", 5, 5, true), row("Q2AGS", 0, 0, false),
                       row("USER", 0, 0, false), " before the pop"}) +
                    STOPPED,
                2);
}

TEST(Wrapping, ShortLongWordAndDoubleBlankBreaks) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1MES(TYPE_WARNING_NOW, 1, "Fits on one line.");
    // The first word does not fit the room: the line breaks at the blank of ".  ".
    E1MES(TYPE_WARNING_NOW, 2, std::string(60, 'w'));
    // A continuation with no blank in reach is cut at 64 characters.
    E1MES(TYPE_WARNING_NOW, 3, "A " + std::string(100, 'x'));
    // A break on the first blank of a double blank: the second one is skipped.
    E1MES(TYPE_WARNING_NOW, 4, "Forty-two characters of text ends here ok.  Next sentence.");
  });
  expect_output(run,
                shown({"", " *** WARNING  ERROR 1 from Q2AGS.  Fits on one line.", "",
                       " *** WARNING  ERROR 2 from Q2AGS. ",
                       " ***          " + std::string(60, 'w'), "",
                       " *** WARNING  ERROR 3 from Q2AGS.  A",
                       " ***          " + std::string(64, 'x'),
                       " ***          " + std::string(36, 'x'), "",
                       " *** WARNING  ERROR 4 from Q2AGS.  Forty-two characters of text ends "
                       "here ok.",
                       " ***          Next sentence."}),
                0);
}

TEST(Header, LowerCaseFirstLetterIsRaisedOnlyBeforeAnUpperCaseLetter) {
  auto run = run_fresh([] {
    E1PSH("dQ2AGS");
    E1PSH("dq2ags");
    E1MES(TYPE_TERMINAL, 3, "Short.");
    E1POP("dq2ags");
  });
  expect_output(run,
                shown({"", " *** TERMINAL ERROR 3 from dq2ags.  Short.", TRACE_1, TRACE_2,
                       TRACE_3, row("dq2ags", 5, 3, true), row("DQ2AGS", 0, 0, false),
                       row("USER", 0, 0, false)}) +
                    STOPPED,
                2);
}

TEST(Header, IllegalTypeIsReportedUnderTheRecordedTypeAndStops) {
  auto run = run_fresh([] {
    E1PSH("Q2AGS ");
    E1MES(8, 1, "never built");
  });
  expect_output(run,
                shown({"", " *** UNKNOWN  ERROR 0 from Q2AGS.  Error from E1MES.  Illegal error type",
                       " ***          specified."}) +
                    STOPPED,
                2);
}

TEST(UnitTable, GivesTheThreeUnits) {
  int in = 0, out = 0, err = 0;
  UMACH(1, in), UMACH(2, out), UMACH(3, err);
  EXPECT_EQ(std::to_string(in) + std::to_string(out) + std::to_string(err), "566");
}

TEST(UnitTable, BadIndexPrintsItsOwnTerminalMessageAndStops) {
  auto run = run_fresh([] {
    int unit = 0;
    UMACH(-4, unit);
  });
  expect_output(run,
                shown({"", " *** TERMINAL ERROR 5 from UMACH.  The absolute",
                       " ***          value of the index variable must be",
                       " ***          1, 2, or 3.  IABS(N) =      4.", ""}) +
                    STOPPED,
                2);
}

}  // namespace
