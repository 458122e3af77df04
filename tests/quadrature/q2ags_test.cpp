// The public integrator: the argument checks and every completion code, reached by a
// crafted integrand, as the console shows them; the core's code and evaluation count
// for the same call.
#include "console.h"
#include "quad_support.h"

namespace {

float inv_x(float x) { return 1.0f / x; }
float odd_large(float x) { return 100000.0f * x; }
float pole(float x) { return 1.0f / (x - 0.3f); }
float log_x(float x) { return std::log(x); }
float noisy(float x) {  // marks every call on the console
  write_literal_record(" called");
  return x;
}

constexpr int REFUSED = -1;  // an argument check fails: nothing is integrated
struct Case {
  const char* what; Integrand f; float a, b, errabs, errrel; int maxsub, ier; Screen screen;
};

TEST(Q2ags, ArgumentChecksAndCompletionCodesAsTheConsoleShowsThem) {
  const Case cases[] = {
      {"MAXSUB 0", noisy, 0.0f, 1.0f, 1e-3f, 1e-3f, 0, REFUSED, stops({
           " *** TERMINAL ERROR 1 from Q2AGS.  The maximum number of subintervals MAXSUB",
           " ***          = 0.  It must be at least 1."})},
      {"both tolerances 0: only code 4", noisy, 0.0f, 1.0f, 0.0f, 0.0f, 10, REFUSED, stops({
           " *** TERMINAL ERROR 4 from Q2AGS.  The error tolerance arguments ERRABS and",
           " ***          ERRREL are both equal to zero.  At least one of them must be ",
           " ***          greater than zero."})},
      {"ERRABS < 0, ERRREL = 1: codes 2 and 5", noisy, 0.0f, 1.0f, -1.0f, 1.0f, 10, REFUSED, stops({
           " *** TERMINAL ERROR 2 from Q2AGS.  The absolute error desired ERRABS =",
           " ***          -1.000000E+00.  It must be at least zero.", "",
           " *** TERMINAL ERROR 5 from Q2AGS.  The relative error desired ERRREL =",
           " ***          1.000000E+00.  When ERRREL is greater than or equal to one, ",
           " ***          zero can always be returned as an answer."})},
      {"ERRREL < 0", noisy, 0.0f, 1.0f, 1e-3f, -0.5f, 10, REFUSED, stops({
           " *** TERMINAL ERROR 3 from Q2AGS.  The relative error desired ERRREL =",
           " ***          -5.000000E-01.  It must be at least zero."})},
      {"0: success is silent", inv_sqrt, 0.0f, 1.0f, 1e-3f, 1e-3f, 200000, 0, {"back", 0}},
      {"1: MAXSUB 1, rule within tolerance", expo, 0.0f, 1.0f, 1e-3f, 1e-3f, 1, 1, stops({
           " *** FATAL    ERROR 1 from Q2AGS.  The maximum number of subintervals allowed",
           " ***          MAXSUB = 1 has been reached.  Use Q2AGS and increase MAXSUB.  ",
           " ***          Dimension adjustments may be necessary."})},
      {"2: roundoff in the first rule", odd_large, -1.0f, 1.0f, 1e-3f, 1e-3f, 100, 2, goes_on({
           " *** WARNING  ERROR 2 from Q2AGS.  Roundoff error has been detected.  The",
           " ***          requested tolerances, ERRABS = 1.000000E-03 and ERRREL = ",
           " ***          1.000000E-03, cannot be reached."})},
      {"2: roundoff counters", log_x, 0.0f, 1.0f, 0.0f, 1e-6f, 100, 2, goes_on({
           " *** WARNING  ERROR 2 from Q2AGS.  Roundoff error has been detected.  The",
           " ***          requested tolerances, ERRABS = .000000E+00 and ERRREL = ",
           " ***          1.000000E-06, cannot be reached."})},
      // The last bisection halved [0, 2^-116]: the worst subinterval is [0, 2^-117].
      {"3: too small to bisect", inv_x, 0.0f, 1.0f, 1e-3f, 1e-3f, 500, 3, goes_on({
           " *** WARNING  ERROR 3 from Q2AGS.  Precision is degraded due to too fine a",
           " ***          subdivision relative to the requested tolerance.  This may be ",
           " ***          due to bad integrand behavior in the interval ",
           " ***          (.000000E+00,6.018531E-36).  Higher precision may alleviate ",
           " ***          this problem."})},
      {"4: extrapolation stalled", inv_sqrt, 0.0f, 1.0f, 1e-7f, 0.0f, 500, 4, goes_on({
           " *** WARNING  ERROR 4 from Q2AGS.  Roundoff error has been detected in the",
           " ***          extrapolation table.  The requested tolerances, ERRABS = ",
           " ***          1.000000E-07 and ERRREL = .000000E+00 cannot be reached."})},
      {"5: divergent", pole, 0.0f, 1.0f, 1e-3f, 1e-3f, 500, 5, stops({
           " *** FATAL    ERROR 5 from Q2AGS.  Integral is probably divergent or slowly",
           " ***          convergent."})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.ier != REFUSED) {
      const Outcome o = adapt(c.f, c.a, c.b, c.errabs, c.errrel, c.maxsub);
      EXPECT_EQ(std::tuple(o.ier, o.nfcall), std::tuple(c.ier, 42 * o.nsub - 21));
    }
    const testsupport::ChildRun run = testsupport::run_in_child([&c] {
      ERROR_STATE = ErrorState{};  // Q2AGS called from the user level of a fresh state
      Outcome o;
      Q2AGS(c.f, c.a, c.b, c.errabs, c.errrel, o.result, o.errval, c.maxsub, o.nfcall, o.nsub,
            W.xl, W.xr, W.si, W.se, W.order);
      // A run that goes on shows " back", once the name stack is back at the user level.
      write_literal_record(ERROR_STATE.CUR_LEVEL == 1 ? " back" : " name stack unbalanced");
    });
    expect_run(run, c.screen);
  }
}

}  // namespace
