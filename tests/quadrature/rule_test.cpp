// The rule's tables, the machine constants and one application of the 21-point rule.
// Degenerate, reversed and zero intervals are tested through the core (adapt_test).
#include <bit>
#include <cstdint>

#include "quad_support.h"

namespace {

std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

TEST(RuleTables, CheckRowsByBitPatternAndMonomialsToFloatRounding) {
  EXPECT_EQ(std::vector<std::uint32_t>({bits(KX[0]), bits(KX[1]), bits(KX[9]), bits(KW[0]),
                                        bits(KW[10]), bits(GW[0]), bits(GW[4]), bits(KX[10])}),
            std::vector<std::uint32_t>({0x3F7EE363u, 0x3F7951F0u, 0x3E187284u, 0x3C3F9ADFu,
                                        0x3E190841u, 0x3D888AFCu, 0x3E974EF4u, 0u}));
  // Even monomials over [-1, 1] (odd ones vanish by symmetry), summed in long double
  // so that only the rounding of the float tables shows.
  for (int d = 0; d <= 31; d += 2) {
    long double kronrod = d == 0 ? KW[10] : 0.0L, gauss = 0.0L;
    for (int j = 0; j < 10; ++j) {
      const long double term = 2.0L * std::pow(static_cast<long double>(KX[j]), d);
      kronrod += KW[j] * term;
      if (j % 2 == 1) gauss += GW[j / 2] * term;
    }
    const double exact = 2.0 / (d + 1), tol = (d + 4) * 0x1p-24 * (1.0 + exact);
    EXPECT_NEAR(static_cast<double>(kronrod), exact, tol) << d;
    if (d <= 19) {
      EXPECT_NEAR(static_cast<double>(gauss), exact, tol) << d;
    }
  }
}

TEST(MachineConstants, TablesAndBadIndexes) {
  const std::uint32_t reals[8] = {0x00800000u, 0x7F7FFFFFu, 0x33800000u, 0x34000000u,
                                  0x3E9A209Bu, 0x7FC00000u, 0x7F800000u, 0xFF800000u};
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(bits(AMACH(n)), reals[n - 1]) << n;
  const int ints[12] = {32, 4, 2, 31, 2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  for (int n = 1; n <= 12; ++n) EXPECT_EQ(IMACH(n), ints[n - 1]) << n;
  float spacing = 0, tiny = 0, huge = 0;
  QMCONS(spacing, tiny, huge);
  EXPECT_EQ(std::tuple(spacing, tiny, huge), std::tuple(AMACH(4), AMACH(1), AMACH(2)));
  for (int n : {0, 9})
    expect_run(testsupport::run_in_child([n] { AMACH(n); }),
               stops({" *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8",
                      " ***          inclusive. N = " + std::to_string(n)}));
  expect_run(testsupport::run_in_child([] { IMACH(13); }),
             stops({" *** TERMINAL ERROR 5 from IMACH.  The argument",
                    " ***          must be between 1 and 12 inclusive.", " ***          N =     13.", ""}));
}

// RESULT, ERRVAL, ABSINT and DEVINT of one application under a level of the test's own.
std::vector<float> rule(Integrand f, float a, float b) {
  std::vector<float> r(4);
  E1PSH("QTEST ");
  QRULE21(f, a, b, r[0], r[1], r[2], r[3]);
  EXPECT_FALSE(ERROR_STATE.USER_MODE[ERROR_STATE.CUR_LEVEL]);
  E1POP("QTEST ");
  return r;
}
std::vector<float> calls;  // abscissae of the calls of logged_sqrt
bool always_user = true;   // whether user mode was on at each of them
float logged_sqrt(float x) {
  calls.push_back(x);
  always_user = always_user && ERROR_STATE.USER_MODE[ERROR_STATE.CUR_LEVEL];
  return std::sqrt(x);
}

// On [0, 1] the nodes are 0.5 -+ 0.5 KX(k). The sums, the deviation integral and the
// scaled error are recomputed in double from f(t) = sqrt(0.5 + 0.5 t) on [-1, 1].
TEST(Rule21, NodeOrderUserModeErrorScalingAndTheRoundoffFloor) {
  const std::vector<float> s = rule(logged_sqrt, 0.0f, 1.0f);
  std::vector<float> nodes = {0.5f};
  for (int k : {2, 4, 6, 8, 10, 1, 3, 5, 7, 9})
    nodes.insert(nodes.end(), {0.5f - KX[k - 1] * 0.5f, 0.5f + KX[k - 1] * 0.5f});
  EXPECT_EQ(calls, nodes);
  EXPECT_TRUE(always_user);
  auto f = [](double t) { return std::sqrt(0.5 + 0.5 * t); };
  double k = KW[10] * f(0), g = 0;
  for (int j = 0; j < 10; ++j) {
    k += KW[j] * (f(-KX[j]) + f(KX[j]));
    if (j % 2 == 1) g += GW[j / 2] * (f(-KX[j]) + f(KX[j]));
  }
  double dev = KW[10] * std::fabs(f(0) - k / 2);
  for (int j = 0; j < 10; ++j)
    dev += KW[j] * (std::fabs(f(-KX[j]) - k / 2) + std::fabs(f(KX[j]) - k / 2));
  const double d = dev * 0.5, scaled = d * std::pow(std::fabs(k - g) * 0.5 / d * 200, 1.5);
  EXPECT_NEAR(s[3], d, 1e-6);
  EXPECT_NEAR(s[1], scaled, 2e-3 * scaled);  // K - G cancels: float sums differ
  const std::vector<float> step = rule([](float x) { return x < 0.3f ? 0.0f : 1.0f; }, 0, 1);
  EXPECT_EQ(step[1], step[3]);  // the raw error exceeds the scale: capped
  const std::vector<float> c = rule([](float) { return -3.0f; }, 1.0f, 5.0f);
  EXPECT_NEAR(c[2], 12.0f, 1e-5f);
  EXPECT_EQ(c[1], 50.0f * 0x1p-23f * c[2]);  // a constant's error is the roundoff floor
}

}  // namespace
