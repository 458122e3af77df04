// Message printing: the worked message blocks byte for byte, the wrapping rules, the
// name rule of header and traceback, the illegal-type report and the unit table.
#include "console_bytes.h"

namespace {

const Scenario PRINTED[] = {
    // Printed at the pop; the run goes on, with the type propagated to level 1.
    {"WARNING code 2 of Q2AGS called from the user", [] {
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
    {"FATAL code 5", [] {
       E1PSH("Q2AGS "); E1MES(TYPE_FATAL, 5, "Integral is probably divergent or slowly convergent.");
       E1POP("Q2AGS ");
     }, {"", " *** FATAL    ERROR 5 from Q2AGS.  Integral is probably divergent or slowly",
         " ***          convergent."}, true},
    {"TERMINAL from AMACH called internally: printed at posting, stops at its pop", [] {
       E1PSH("Q2AGS "); E1PSH("AMACH "); SET_INT_PARAM(1, 9);
       E1MES(TYPE_TERMINAL, 5, "The argument must be between 1 and 8 inclusive. N = %(I1)");
       say(" before the pop"); E1POP("AMACH "); say(" after the pop");
     }, {"", " *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8",
         " ***          inclusive. N = 9", TRACE_1, TRACE_2, TRACE_3, row("AMACH", 5, 5, true),
         row("Q2AGS", 0, 0, false), row("USER", 0, 0, false), " before the pop"}, true},
    // A first word longer than the room (break at the blank of ".  "); a
    // continuation without a blank (hard cut at 64); a break on a double blank.
    {"wrapping", [] {
       E1PSH("Q2AGS "); E1MES(TYPE_WARNING_NOW, 2, std::string(60, 'w'));
       E1MES(TYPE_WARNING_NOW, 3, "A " + std::string(100, 'x'));
       E1MES(TYPE_WARNING_NOW, 4, "Forty-two characters of text ends here ok.  Next sentence.");
     }, {"", " *** WARNING  ERROR 2 from Q2AGS. ", " ***          " + std::string(60, 'w'),
         "", " *** WARNING  ERROR 3 from Q2AGS.  A", " ***          " + std::string(64, 'x'),
         " ***          " + std::string(36, 'x'),
         "", " *** WARNING  ERROR 4 from Q2AGS.  Forty-two characters of text ends here ok.",
         " ***          Next sentence."}, false},
    {"a lower-case first letter is raised only before an upper-case letter", [] {
       E1PSH("dQ2AGS"); E1PSH("dq2ags"); E1MES(TYPE_TERMINAL, 3, "Short."); E1POP("dq2ags");
     }, {"", " *** TERMINAL ERROR 3 from dq2ags.  Short.", TRACE_1, TRACE_2, TRACE_3,
         row("dq2ags", 5, 3, true), row("DQ2AGS", 0, 0, false), row("USER", 0, 0, false)}, true},
    {"an illegal type is reported under the recorded type and code",
     [] { E1PSH("Q2AGS "); E1MES(8, 1, "never built"); },
     {"", " *** UNKNOWN  ERROR 0 from Q2AGS.  Error from E1MES.  Illegal error type",
      " ***          specified."}, true},
    {"UMACH with a bad index", [] { int unit = 0; UMACH(-4, unit); },
     {"", " *** TERMINAL ERROR 5 from UMACH.  The absolute",
      " ***          value of the index variable must be",
      " ***          1, 2, or 3.  IABS(N) =      4.", ""}, true},
};

TEST(Printing, MessageBlocksByteForByte) {
  // The given record lengths of the first two worked blocks, carriage control included.
  const std::size_t lengths[8] = {0, 73, 71, 46, 0, 77, 72, 62};
  for (std::size_t r = 0; r < 8; ++r) EXPECT_EQ(PRINTED[r / 4].records[r % 4].size(), lengths[r]);
  for (const Scenario& c : PRINTED) expect_run(c);
}

TEST(Printing, UnitTableGivesTheThreeUnits) {
  int in = 0, out = 0, err = 0;
  UMACH(1, in); UMACH(2, out); UMACH(3, err);
  EXPECT_EQ(std::to_string(in) + std::to_string(out) + std::to_string(err), "566");
}

}  // namespace
