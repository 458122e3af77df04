// The rule's tables, the machine constants and one application of the 21-point rule.
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "console.h"
#include "quad_support.h"

namespace {

std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

TEST(RuleTables, CheckRowsHaveTheirBitPatterns) {
  EXPECT_EQ(bits(KX[0]), 0x3F7EE363u);
  EXPECT_EQ(bits(KX[1]), 0x3F7951F0u);
  EXPECT_EQ(bits(KX[9]), 0x3E187284u);
  EXPECT_EQ(bits(KW[0]), 0x3C3F9ADFu);
  EXPECT_EQ(bits(KW[10]), 0x3E190841u);
  EXPECT_EQ(bits(GW[0]), 0x3D888AFCu);
  EXPECT_EQ(bits(GW[4]), 0x3E974EF4u);
  for (int j = 0; j < 10; ++j) EXPECT_GT(KX[j], KX[j + 1]);
  EXPECT_EQ(KX[10], 0.0f);
}

// Even monomials over [-1, 1] (odd ones vanish by symmetry), summed in long double
// so that only the rounding of the float tables shows.
TEST(RuleTables, RulesIntegrateMonomialsToFloatRounding) {
  for (int d = 0; d <= 31; d += 2) {
    long double kronrod = d == 0 ? KW[10] : 0.0L, gauss = 0.0L, scale = 0.0L;
    for (int j = 0; j < 10; ++j) {
      const long double term = 2.0L * KW[j] * std::pow(static_cast<long double>(KX[j]), d);
      kronrod += term;
      scale += term;
    }
    for (int j = 0; j < 5; ++j)
      gauss += 2.0L * GW[j] * std::pow(static_cast<long double>(KX[2 * j + 1]), d);
    const double exact = 2.0 / (d + 1);
    const double tol = (d + 4) * 0x1p-24 * static_cast<double>(scale + 1.0L);
    EXPECT_NEAR(static_cast<double>(kronrod), exact, tol) << d;
    if (d <= 19) {
      EXPECT_NEAR(static_cast<double>(gauss), exact, tol) << d;
    }
  }
}

TEST(MachineConstants, TablesAndTheThreeTheQuadratureUses) {
  const std::uint32_t real_bits[8] = {0x00800000u, 0x7F7FFFFFu, 0x33800000u, 0x34000000u,
                                      0x3E9A209Bu, 0x7FC00000u, 0x7F800000u, 0xFF800000u};
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(bits(AMACH(n)), real_bits[n - 1]) << n;
  const int ints[12] = {32, 4, 2, 31, 2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  for (int n = 1; n <= 12; ++n) EXPECT_EQ(IMACH(n), ints[n - 1]) << n;
  float spacing = 0, tiny = 0, huge = 0;
  QMCONS(spacing, tiny, huge);
  EXPECT_EQ(spacing, 0x1p-23f);
  EXPECT_EQ(tiny, 0x1p-126f);
  EXPECT_EQ(huge, 0x1.fffffep127f);
}

TEST(MachineConstants, BadIndexesStopTheRun) {
  expect_run(testsupport::run_in_child([] { AMACH(9); }),
             shown({"", " *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8",
                    " ***          inclusive. N = 9"}) + STOPPED, 2);
  expect_run(testsupport::run_in_child([] { AMACH(0); }),
             shown({"", " *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8",
                    " ***          inclusive. N = 0"}) + STOPPED, 2);
  expect_run(testsupport::run_in_child([] { IMACH(13); }),
             shown({"", " *** TERMINAL ERROR 5 from IMACH.  The argument",
                    " ***          must be between 1 and 12 inclusive.",
                    " ***          N =     13.", ""}) + STOPPED, 2);
}

// Integrand that records where it is called and whether user mode is on there.
std::vector<float> calls;
bool always_user = true;
float logged(float x) {
  calls.push_back(x);
  always_user = always_user && ERROR_STATE.USER_MODE[ERROR_STATE.CUR_LEVEL];
  return std::exp(x);
}
struct Rule {
  float result, errval, absint, devint;
};
Rule rule(Integrand f, float a, float b) {
  Rule r{};
  E1PSH("QTEST ");
  calls.clear();
  always_user = true;
  QRULE21(f, a, b, r.result, r.errval, r.absint, r.devint);
  EXPECT_FALSE(ERROR_STATE.USER_MODE[ERROR_STATE.CUR_LEVEL]);
  E1POP("QTEST ");
  return r;
}

TEST(Rule21, CallsTheIntegrandAtTheNodesInOrderWithUserModeOn) {
  rule(logged, 1.0f, 3.0f);  // centre 2, half-length 1
  std::vector<float> expected = {2.0f};
  for (int k : {2, 4, 6, 8, 10, 1, 3, 5, 7, 9}) {
    expected.push_back(2.0f - KX[k - 1]);
    expected.push_back(2.0f + KX[k - 1]);
  }
  EXPECT_EQ(calls, expected);
  EXPECT_TRUE(always_user);
}

TEST(Rule21, DegenerateAndReversedIntervals) {
  Rule same = rule(logged, 0.5f, 0.5f);
  EXPECT_EQ(calls, std::vector<float>(21, 0.5f));
  EXPECT_EQ(same.result, 0.0f);
  EXPECT_EQ(same.errval + same.absint + same.devint, 0.0f);
  Rule up = rule(logged, 0.0f, 2.0f), down = rule(logged, 2.0f, 0.0f);
  EXPECT_EQ(down.result, -up.result);
  EXPECT_EQ(down.errval, up.errval);
  EXPECT_EQ(down.absint, up.absint);
  EXPECT_EQ(down.devint, up.devint);
  EXPECT_NEAR(up.result, std::exp(2.0) - 1.0, 1e-5);
}

float minus_three(float) { return -3.0f; }
float zero(float) { return 0.0f; }
float sqrt_f(float x) { return std::sqrt(x); }
float step(float x) { return x < 0.3f ? 0.0f : 1.0f; }

TEST(Rule21, ConstantAndZeroIntegrandsGiveTheRoundoffFloorOrNothing) {
  Rule c = rule(minus_three, 1.0f, 5.0f);
  EXPECT_NEAR(c.result, -12.0f, 1e-5f);
  EXPECT_NEAR(c.absint, 12.0f, 1e-5f);
  EXPECT_LT(c.devint, 1e-5f);
  EXPECT_EQ(c.errval, 50.0f * 0x1p-23f * c.absint);
  Rule z = rule(zero, -1.0f, 4.0f);
  EXPECT_EQ(z.result + z.errval + z.absint + z.devint, 0.0f);
}

// The scaled error, recomputed in double from the rule's definition: sqrt on
// [0, 1] is f(t) = sqrt(0.5 + 0.5 t) on [-1, 1], half-length 0.5.
TEST(Rule21, RawErrorIsScaledByTheDeviationIntegral) {
  Rule s = rule(sqrt_f, 0.0f, 1.0f);
  auto f = [](double t) { return std::sqrt(0.5 + 0.5 * t); };
  double k = KW[10] * f(0), g = 0;
  for (int j = 0; j < 10; ++j) {
    const double pair = f(-KX[j]) + f(KX[j]);
    k += KW[j] * pair;
    if (j % 2 == 1) g += GW[j / 2] * pair;
  }
  double dev = KW[10] * std::fabs(f(0) - k / 2);
  for (int j = 0; j < 10; ++j)
    dev += KW[j] * (std::fabs(f(-KX[j]) - k / 2) + std::fabs(f(KX[j]) - k / 2));
  const double raw = std::fabs(k - g) * 0.5, d = dev * 0.5;
  const double scaled = d * std::pow(raw / d * 200, 1.5);
  EXPECT_NEAR(s.result, k * 0.5, 1e-6);
  EXPECT_NEAR(s.devint, d, 1e-6);
  EXPECT_NEAR(s.errval, scaled, 2e-3 * scaled);  // K - G cancels: float sums differ
  EXPECT_LT(s.errval, s.devint);
  Rule rough = rule(step, 0.0f, 1.0f);  // the raw error exceeds the scale: capped
  EXPECT_EQ(rough.errval, rough.devint);
}

}  // namespace
