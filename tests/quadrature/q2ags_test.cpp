// The public integrator: argument checks and outcome messages as the console shows
// them, and the silent success.
#include <cmath>
#include <string>

#include "console.h"
#include "quad_support.h"

namespace {

float expo(float x) { return std::exp(x); }
float inv_sqrt(float x) { return 1.0f / std::sqrt(x); }
float inv_x(float x) { return 1.0f / x; }
float odd_large(float x) { return 100000.0f * x; }
float pole(float x) { return 1.0f / (x - 0.3f); }
float noisy(float x) {  // marks every call on the console
  write_literal_record(" called");
  return x;
}

// Runs Q2AGS from the user level of a fresh error state in a child; a run that goes
// on shows the record " back" after the call.
testsupport::ChildRun q2ags(Integrand f, float a, float b, float errabs, float errrel,
                            int maxsub) {
  return testsupport::run_in_child([=] {
    ERROR_STATE = ErrorState{};
    float result = 0, errval = 0;
    int nfcall = 0, nsub = 0;
    Q2AGS(f, a, b, errabs, errrel, result, errval, maxsub, nfcall, nsub, W.xl, W.xr, W.si,
          W.se, W.order);
    write_literal_record(" back");
  });
}

const std::string BACK = "\r\nback";

TEST(Q2agsChecks, EachFailingCheckPostsItsTerminalMessageAndNothingIsIntegrated) {
  expect_run(q2ags(noisy, 0.0f, 1.0f, 0.001f, 0.001f, 0),
             shown({"", " *** TERMINAL ERROR 1 from Q2AGS.  The maximum number of subintervals MAXSUB",
                    " ***          = 0.  It must be at least 1."}) + STOPPED, 2);
  expect_run(q2ags(noisy, 0.0f, 1.0f, 0.0f, 0.0f, 10),  // only the both-zero check fires
             shown({"", " *** TERMINAL ERROR 4 from Q2AGS.  The error tolerance arguments ERRABS and",
                    " ***          ERRREL are both equal to zero.  At least one of them must be ",
                    " ***          greater than zero."}) + STOPPED, 2);
  expect_run(q2ags(noisy, 0.0f, 1.0f, -1.0f, 1.5f, 10),
             shown({"", " *** TERMINAL ERROR 2 from Q2AGS.  The absolute error desired ERRABS =",
                    " ***          -1.000000E+00.  It must be at least zero.",
                    "", " *** TERMINAL ERROR 5 from Q2AGS.  The relative error desired ERRREL =",
                    " ***          1.500000E+00.  When ERRREL is greater than or equal to one, ",
                    " ***          zero can always be returned as an answer."}) + STOPPED, 2);
  expect_run(q2ags(noisy, 0.0f, 1.0f, 0.001f, -0.5f, 10),
             shown({"", " *** TERMINAL ERROR 3 from Q2AGS.  The relative error desired ERRREL =",
                    " ***          -5.000000E-01.  It must be at least zero."}) + STOPPED, 2);
  expect_run(q2ags(noisy, 0.0f, 1.0f, 0.0f, 1.0f, 10),  // 1 counts as too large
             shown({"", " *** TERMINAL ERROR 5 from Q2AGS.  The relative error desired ERRREL =",
                    " ***          1.000000E+00.  When ERRREL is greater than or equal to one, ",
                    " ***          zero can always be returned as an answer."}) + STOPPED, 2);
}

TEST(Q2agsOutcomes, FatalCodesStopTheRun) {
  expect_run(q2ags(expo, 0.0f, 1.0f, 0.001f, 0.001f, 1),
             shown({"", " *** FATAL    ERROR 1 from Q2AGS.  The maximum number of subintervals allowed",
                    " ***          MAXSUB = 1 has been reached.  Use Q2AGS and increase MAXSUB.  ",
                    " ***          Dimension adjustments may be necessary."}) + STOPPED, 2);
  expect_run(q2ags(pole, 0.0f, 1.0f, 0.001f, 0.001f, 500),
             shown({"", " *** FATAL    ERROR 5 from Q2AGS.  Integral is probably divergent or slowly",
                    " ***          convergent."}) + STOPPED, 2);
}

TEST(Q2agsOutcomes, WarningsArePrintedAtThePopAndTheRunGoesOn) {
  expect_run(q2ags(odd_large, -1.0f, 1.0f, 0.001f, 0.001f, 100),
             shown({"", " *** WARNING  ERROR 2 from Q2AGS.  Roundoff error has been detected.  The",
                    " ***          requested tolerances, ERRABS = 1.000000E-03 and ERRREL = ",
                    " ***          1.000000E-03, cannot be reached."}) + BACK, 0);
  expect_run(q2ags(inv_x, 0.0f, 1.0f, 0.001f, 0.001f, 500),
             shown({"", " *** WARNING  ERROR 3 from Q2AGS.  Precision is degraded due to too fine a",
                    " ***          subdivision relative to the requested tolerance.  This may be ",
                    " ***          due to bad integrand behavior in the interval ",
                    " ***          (.000000E+00,6.018531E-36).  Higher precision may alleviate ",
                    " ***          this problem."}) + BACK, 0);
  expect_run(q2ags(inv_sqrt, 0.0f, 1.0f, 1e-7f, 0.0f, 500),
             shown({"", " *** WARNING  ERROR 4 from Q2AGS.  Roundoff error has been detected in the",
                    " ***          extrapolation table.  The requested tolerances, ERRABS = ",
                    " ***          1.000000E-07 and ERRREL = .000000E+00 cannot be reached."}) + BACK, 0);
}

TEST(Q2agsOutcomes, SuccessIsSilentAndReturnsTheCoresResults) {
  testsupport::ChildRun run = q2ags(inv_sqrt, 0.0f, 1.0f, 0.001f, 0.001f, 200000);
  expect_run(run, "back", 0);
  // In this process too: nothing to print, so the name stack is simply left balanced.
  float result = 0, errval = 0;
  int nfcall = 0, nsub = 0;
  Q2AGS(inv_sqrt, 0.0f, 1.0f, 0.001f, 0.001f, result, errval, 200000, nfcall, nsub, W.xl,
        W.xr, W.si, W.se, W.order);
  Outcome core = adapt(inv_sqrt, 0.0f, 1.0f, 0.001f, 0.001f, 200000);
  EXPECT_EQ(ERROR_STATE.CUR_LEVEL, 1);
  EXPECT_EQ(N1RTY(1), 0);
  EXPECT_EQ(result, core.result);
  EXPECT_EQ(errval, core.errval);
  EXPECT_EQ(nfcall, core.nfcall);
  EXPECT_EQ(nsub, core.nsub);
  EXPECT_NEAR(result, 2.0f, 0.002f);
}

}  // namespace
