// What the reference set cannot reach: the argument checks, the machine constants and their
// stops, QORDER's tie-breaks, QEPSEX with a full table, a zero area sum, room for one or two subintervals.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <tuple>

#include "child.h"
#include "console.h"
#include "errors.h"
#include "quadrature.h"

namespace {

// The floating-point control of a run, set before any test.
const bool TRAPS = (install_floating_point_traps(), true);
float XL[200], XR[200], SI[200], SE[200], RESULT, ERRVAL;
int ORDER[200], NFCALL, NSUB;

// `body`, run in a child from a fresh error state, shows these message lines (each on a
// new line, without its carriage-control blank) and stops the run with status 2.
void expect_stop(const std::function<void()>& body, const std::vector<std::string>& lines) {
  std::string screen;
  for (const std::string& l : lines) screen += "\r\n" + (l.empty() ? l : l.substr(1));
  const testsupport::ChildRun run =
      testsupport::run_in_child([&body] { ERROR_STATE = ErrorState{}; body(); });
  EXPECT_EQ(testsupport::visible(run.out),
            testsupport::visible(screen + "\r\nStop - Program terminated.\r\n\r\n"));
  EXPECT_EQ(run.status, 2);
}

TEST(Q2ags, ArgumentChecksStopTheRunBeforeAnyEvaluation) {
  const struct { int maxsub; float errabs, errrel; std::vector<std::string> lines; } cases[] = {
      {0, 0.0f, 0.0f,
       {" *** TERMINAL ERROR 1 from Q2AGS.  The maximum number of subintervals MAXSUB",
        " ***          = 0.  It must be at least 1.", "",
        " *** TERMINAL ERROR 4 from Q2AGS.  The error tolerance arguments ERRABS and",
        " ***          ERRREL are both equal to zero.  At least one of them must be ",
        " ***          greater than zero."}},
      {10, -1.0f, 1.0f,
       {" *** TERMINAL ERROR 2 from Q2AGS.  The absolute error desired ERRABS =",
        " ***          -1.000000E+00.  It must be at least zero.", "",
        " *** TERMINAL ERROR 5 from Q2AGS.  The relative error desired ERRREL =",
        " ***          1.000000E+00.  When ERRREL is greater than or equal to one, ",
        " ***          zero can always be returned as an answer."}},
      {10, 1e-3f, -0.5f,
       {" *** TERMINAL ERROR 3 from Q2AGS.  The relative error desired ERRREL =",
        " ***          -5.000000E-01.  It must be at least zero."}},
  };
  for (const auto& c : cases)  // no integrand: an evaluation would end the child by a signal
    expect_stop([&c] { Q2AGS(nullptr, 0.0f, 1.0f, c.errabs, c.errrel, RESULT, ERRVAL, c.maxsub,
                             NFCALL, NSUB, XL, XR, SI, SE, ORDER); }, c.lines);
}

TEST(MachineConstants, BadIndexesStopTheRun) {
  for (int n : {0, 9})
    expect_stop([n] { AMACH(n); },
                {" *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8",
                 " ***          inclusive. N = " + std::to_string(n)});
  expect_stop([] { IMACH(13); }, {" *** TERMINAL ERROR 5 from IMACH.  The argument",
                                  " ***          must be between 1 and 12 inclusive.",
                                  " ***          N =     13.", ""});
}

// The constants against the build's own floating-point model.
TEST(MachineConstants, AgreeWithTheFloatingPointModel) {
  using F = std::numeric_limits<float>;
  const float reals[] = {F::min(), F::max(), F::epsilon() / 2, F::epsilon(),
                         static_cast<float>(std::log10(2.0)), F::quiet_NaN(), F::infinity(), -F::infinity()};
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(std::bit_cast<unsigned>(AMACH(n)), std::bit_cast<unsigned>(reals[n - 1])) << n;
  const int ints[] = {32, 4, 2, std::numeric_limits<int>::digits, INT_MAX, FLT_RADIX, FLT_MANT_DIG,
                      FLT_MIN_EXP, FLT_MAX_EXP, DBL_MANT_DIG, DBL_MIN_EXP, DBL_MAX_EXP};
  for (int n = 1; n <= 12; ++n) EXPECT_EQ(IMACH(n), ints[n - 1]) << n;
}

// SUBERR by subinterval number (element 0 is number 1), ERRORD before and after, IBIS and
// KBIS of the bisected one (subinterval 4 is new). On ties the bisected and the new one go
// ahead of equal errors, but with KBIS > 1 the bisected one moves up only past smaller ones.
TEST(ErrorOrdering, TieBreaks) {
  struct { std::vector<float> err; std::vector<int> order, after; int ibis, kbis; } cases[] = {
      {{0.5f, 0.5f, 0.3f, 0.3f}, {1, 2, 3, 0}, {1, 2, 4, 3}, 1, 1},
      {{0.5f, 0.5f, 0.1f, 0.05f}, {1, 2, 3, 0}, {1, 2, 3, 4}, 2, 2},
  };
  for (auto& c : cases) {
    float ebis = -1.0f;
    QORDER(100, 4, c.ibis, ebis, c.err.data(), c.order.data(), c.kbis);
    EXPECT_EQ(c.order, c.after);
  }
}

// The step-by-step insertion, as written before the block moves; entry i is element [i - 1].
void stepwise_order(int maxsub, int nsub, int& ibis, const float* err, int* order, int& kbis) {
  auto e = [err, order](int i) { return err[order[i - 1] - 1]; };
  if (nsub <= 2) { order[0] = 1; order[1] = 2; }
  else {
    const float e_bis = err[ibis - 1], e_new = err[nsub - 1];
    for (int n = kbis - 1; n > 0 && !(e_bis <= e(kbis - 1)); --n, --kbis) order[kbis - 1] = order[kbis - 2];
    const int top = nsub > maxsub / 2 + 2 ? maxsub + 3 - nsub : nsub;
    int i = kbis + 1;
    for (; i <= top - 1 && !(e_bis >= e(i)); ++i) order[i - 2] = order[i - 1];
    if (i > top - 1) { order[top - 2] = ibis; order[top - 1] = nsub; }
    else {
      order[i - 2] = ibis;
      int k = top - 1;
      for (; k >= i && !(e_new < e(k)); --k) order[k] = order[k - 1];
      order[k] = nsub;
    }
  }
  ibis = order[kbis - 1];
}

// Whole integrations' worth of calls, the errors drawn from five values so that ties abound
// (now and then the smaller half is bisected): the same list at every step.
TEST(ErrorOrdering, BlockMovesKeepTheStepwiseOrder) {
  std::mt19937 rng(7);
  for (int maxsub : {3, 12, 41, 300, 300, 300, 3000}) {
    std::vector<float> err(maxsub);
    std::vector<int> fast(maxsub), slow(maxsub);
    int kbis = 1, ibis = 1;
    for (int nsub = 2; nsub <= maxsub; ++nsub) {
      float a = static_cast<float>(rng() % 5), b = static_cast<float>(rng() % 5);
      if (rng() % 2048 != 0 && a < b) std::swap(a, b);
      err[ibis - 1] = a, err[nsub - 1] = b;
      int ibis2 = ibis, kbis2 = kbis;
      float ebis = 0.0f;
      QORDER(maxsub, nsub, ibis, ebis, err.data(), fast.data(), kbis);
      stepwise_order(maxsub, nsub, ibis2, err.data(), slow.data(), kbis2);
      ASSERT_EQ(std::tuple(fast, ibis, kbis), std::tuple(slow, ibis2, kbis2)) << nsub;
      const int top = nsub > maxsub / 2 + 2 ? maxsub + 3 - nsub : nsub;
      if (rng() % 4 == 0) kbis = 1 + static_cast<int>(rng() % static_cast<unsigned>(top)), ibis = fast[kbis - 1];
    }
  }
}

TEST(EpsilonStep, WithoutACutAFullTableKeepsItsNewestFortyNineOnePlaceDown) {
  float e[52] = {}, last3[3] = {};
  int ntab = 50, ncalls = 0;
  for (int i = 0; i < 50; ++i) e[i] = static_cast<float>((i % 2 ? -1 : 1) * (i + 1));
  QEPSEX(ntab, e, RESULT, ERRVAL, last3, ncalls);
  EXPECT_EQ(std::tuple(ntab, e[47], e[48]), std::tuple(49, 49.0f, -50.0f));
}

// The first rule sees a sign change, the extrapolation succeeds at its fourth step, and
// at that moment the subinterval integrals cancel to an area sum of exactly 0: the
// extrapolated value stands, with code 0, and no division by zero traps.
constexpr float SCALE = 0x1.000008p+0f, SHIFT = -0x1.e25674p+1f;
float cancelling(float x) { return SCALE / (std::sqrt(x) * std::sqrt(std::sqrt(x))) + SHIFT; }
TEST(AdaptiveCore, DivergenceTestSkipsTheQuotientForAZeroAreaSum) {
  ASSERT_TRUE(TRAPS);
  int ier = -1;
  E1PSH("QTEST ");  // the rule switches user mode of the level it runs on
  QADAPT(cancelling, 0.0f, 1.0f, 0.0f, 0.9f, 200, RESULT, ERRVAL, NFCALL, ier, XL, XR, SI, SE,
         ORDER, NSUB);
  E1POP("QTEST ");
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(RESULT, 4.0 * SCALE + SHIFT, ERRVAL);  // x^-0.75 integrates to 4
}

// With room for one or two subintervals a root's integral stops at code 1 with that many.
float root(float x) { return std::sqrt(x); }
TEST(AdaptiveCore, RoomForOneOrTwoSubintervalsEndsWithCodeOne) {
  for (int maxsub : {1, 2}) {
    int ier = -1;
    E1PSH("QTEST ");
    QADAPT(root, 0.0f, 1.0f, 0.0f, 1e-6f, maxsub, RESULT, ERRVAL, NFCALL, ier, XL, XR, SI, SE, ORDER, NSUB);
    E1POP("QTEST ");
    EXPECT_EQ(std::tuple(ier, NSUB, NFCALL), std::tuple(1, maxsub, 42 * maxsub - 21)) << maxsub;
  }
}

}  // namespace
