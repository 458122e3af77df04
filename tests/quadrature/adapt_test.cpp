// The adaptive core: edge cases, every completion code, the divergence test with a
// zero area sum, and accuracy against known integrals.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "quad_support.h"

namespace {

int calls = 0;
float counted_one(float) { return static_cast<float>(++calls > 0); }
float zero(float) { return 0.0f; }
float expo(float x) { return std::exp(x); }
float abs_x(float x) { return std::fabs(x); }
float inv_sqrt(float x) { return 1.0f / std::sqrt(x); }
float log_x(float x) { return std::log(x); }
float inv_x(float x) { return 1.0f / x; }
float odd_large(float x) { return 100000.0f * x; }
float pole(float x) { return 1.0f / (x - 0.3f); }
float cos_30(float x) { return std::cos(30.0f * x); }
float runge(float x) { return 1.0f / (1.0f + 25.0f * x * x); }
float cubic(float x) { return x * x * x - 2.0f * x + 1.0f; }

// Code, subintervals and result; the evaluation count follows from NSUB.
void expect_outcome(const Outcome& o, int ier, int nsub, float result, const char* what) {
  EXPECT_EQ(o.ier, ier) << what;
  EXPECT_EQ(o.nsub, nsub) << what;
  EXPECT_EQ(o.nfcall, nsub == 0 ? 0 : 42 * nsub - 21) << what;
  EXPECT_NEAR(o.result, result, 1e-5f) << what;
}

TEST(AdaptiveCore, EdgeCasesOfTheStart) {
  calls = 0;
  expect_outcome(adapt(counted_one, 2.0f, 2.0f, 0.001f, 0.001f, 100), 0, 1, 0.0f, "A = B");
  EXPECT_EQ(calls, 21);
  expect_outcome(adapt(zero, 0.0f, 1.0f, 0.001f, 0.001f, 100), 0, 1, 0.0f, "zero");
  expect_outcome(adapt(zero, 0.0f, 1.0f, 0.001f, 0.001f, 1), 1, 1, 0.0f, "zero, MAXSUB 1");
  expect_outcome(adapt(counted_one, 0.0f, 4.0f, 0.001f, 0.001f, 100), 0, 1, 4.0f, "constant");
  // MAXSUB = 1 is code 1 even when the rule's own result meets the tolerance.
  float result = 0, error = 0, absint = 0, devint = 0;
  QRULE21(expo, 0.0f, 1.0f, result, error, absint, devint);
  Outcome o = adapt(expo, 0.0f, 1.0f, 0.001f, 0.001f, 1);
  expect_outcome(o, 1, 1, result, "MAXSUB 1");
  EXPECT_EQ(o.errval, error);
  calls = 0;
  o = adapt(counted_one, 3.0f, 5.0f, -1.0f, -1.0f, 100);
  expect_outcome(o, 6, 0, 0.0f, "both tolerances negative");
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(o.errval + W.si[0] + W.se[0], 0.0f);
  EXPECT_EQ(W.xl[0], 3.0f);
  EXPECT_EQ(W.xr[0], 5.0f);
}

TEST(AdaptiveCore, EqualHalfErrorsKeepTheLeftHalfFirst) {
  expect_outcome(adapt(abs_x, -1.0f, 1.0f, 0.001f, 0.001f, 100), 0, 2, 1.0f, "|x|");
  EXPECT_EQ(W.se[0], W.se[1]);
  EXPECT_EQ(std::vector<float>({W.xl[0], W.xr[0], W.xl[1], W.xr[1]}),
            std::vector<float>({-1.0f, 0.0f, 0.0f, 1.0f}));
}

TEST(AdaptiveCore, ReversedLimitsFlipTheSignOnly) {
  Outcome up = adapt(inv_sqrt, 0.0f, 1.0f, 0.0f, 1e-5f, 100);
  Outcome down = adapt(inv_sqrt, 1.0f, 0.0f, 0.0f, 1e-5f, 100);
  EXPECT_GT(up.nsub, 3);
  EXPECT_EQ(down.result, -up.result);
  EXPECT_EQ(down.errval, up.errval);
  EXPECT_EQ(down.nsub, up.nsub);
  for (int i = 0; i < down.nsub; ++i) EXPECT_GT(W.xl[i], W.xr[i]) << i;
}

struct CodeCase {
  const char* what;
  Integrand f;
  float a, b, errabs, errrel;
  int maxsub, ier;
};

TEST(AdaptiveCore, EveryCompletionCodeWithTheEvaluationCount) {
  const CodeCase cases[] = {
      {"smooth", expo, 0.0f, 1.0f, 0.001f, 0.001f, 100, 0},
      {"limit reached", inv_sqrt, 0.0f, 1.0f, 0.001f, 0.001f, 3, 1},
      {"roundoff in the first rule", odd_large, -1.0f, 1.0f, 0.001f, 0.001f, 100, 2},
      {"roundoff counters", log_x, 0.0f, 1.0f, 0.0f, 1e-6f, 100, 2},
      {"too small to bisect", inv_x, 0.0f, 1.0f, 0.001f, 0.001f, 500, 3},
      {"extrapolation stalled", inv_sqrt, 0.0f, 1.0f, 1e-7f, 0.0f, 500, 4},
      {"divergent", pole, 0.0f, 1.0f, 0.001f, 0.001f, 500, 5},
  };
  for (const CodeCase& c : cases) {
    Outcome o = adapt(c.f, c.a, c.b, c.errabs, c.errrel, c.maxsub);
    EXPECT_EQ(o.ier, c.ier) << c.what;
    EXPECT_EQ(o.nfcall, 42 * o.nsub - 21) << c.what;
  }
  // Too small: the last bisection halved [0, 2^-116], so the worst is [0, 2^-117].
  adapt(inv_x, 0.0f, 1.0f, 0.001f, 0.001f, 500);
  EXPECT_EQ(W.xl[W.order[0] - 1], 0.0f);
  EXPECT_EQ(W.xr[W.order[0] - 1], 0x1p-117f);
}

// The first rule sees a sign change, the extrapolation succeeds at its fourth step,
// and at that moment the subinterval integrals cancel to an area sum of exactly 0.
// The extrapolated value stands, with code 0, and no division by zero traps.
constexpr float SCALE = 0x1.000008p+0f, SHIFT = -0x1.e25674p+1f;
float cancelling(float x) {
  const float r = std::sqrt(x);
  return SCALE / (r * std::sqrt(r)) + SHIFT;
}
TEST(AdaptiveCore, DivergenceTestSkipsTheQuotientForAZeroAreaSum) {
  Outcome o = adapt(cancelling, 0.0f, 1.0f, 0.0f, 0.9f, 200);
  EXPECT_EQ(o.ier, 0);
  const double exact = 4.0 * SCALE + SHIFT;  // x^-0.75 integrates to 4
  EXPECT_NEAR(o.result, exact, o.errval);
  EXPECT_GT(o.result, 0.2f);
}

struct Known {
  const char* what;
  Integrand f;
  float a, b;
  double exact;
};

// Smooth integrands and integrable endpoint singularities: the requested bound holds.
TEST(Accuracy, KnownIntegralsMeetTheRequestedBound) {
  const Known cases[] = {
      {"cubic", cubic, -1.0f, 2.0f, 3.75},  // [x^4/4 - x^2 + x] from -1 to 2
      {"exp", expo, 0.0f, 3.0f, std::exp(3.0) - 1.0},
      {"cos 30x", cos_30, 0.0f, 1.0f, std::sin(30.0) / 30.0},
      {"runge", runge, -1.0f, 1.0f, 0.4 * std::atan(5.0)},
      {"1/sqrt x", inv_sqrt, 0.0f, 1.0f, 2.0},
      {"log x", log_x, 0.0f, 1.0f, -1.0},
  };
  for (const Known& k : cases) {
    for (float tol : {1e-3f, 1e-5f}) {
      Outcome o = adapt(k.f, k.a, k.b, tol, tol, 1000);
      EXPECT_EQ(o.ier, 0) << k.what << " " << tol;
      EXPECT_LE(std::fabs(o.result - k.exact), std::max<double>(tol, tol * std::fabs(k.exact)))
          << k.what << " " << tol;
    }
  }
  // The singular ones are accepted on an extrapolated value, not on the plain sum.
  Outcome o = adapt(inv_sqrt, 0.0f, 1.0f, 0.0f, 1e-5f, 1000);
  float sum = 0.0f;
  for (int i = 0; i < o.nsub; ++i) sum += W.si[i];
  EXPECT_GT(std::fabs(sum - 2.0f), 1e-5f * 2.0f);
}

// Piecewise-linear profiles through random points, against their area in double.
std::vector<float> T, C;
float profile(float x) {
  const std::size_t i = static_cast<std::size_t>(std::upper_bound(T.begin(), T.end(), x) - T.begin());
  if (i == 0 || i == T.size()) return i == 0 ? C.front() : C.back();
  const double t0 = T[i - 1], t1 = T[i], c0 = C[i - 1], c1 = C[i];
  return static_cast<float>(c0 + (c1 - c0) * ((static_cast<double>(x) - t0) / (t1 - t0)));
}
// Ratio of the actual error to the requested bound (0.001 absolute and relative).
double profile_error_ratio(std::mt19937& gen, int points, bool smooth) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double peak = 2.0 + 6.0 * u(gen), width = 0.3 + u(gen), height = 1.0 + 99.0 * u(gen);
  T.clear(), C.clear();
  for (int i = 0; i < points; ++i) T.push_back(static_cast<float>(10.0 * u(gen)));
  std::sort(T.begin(), T.end());
  T.erase(std::unique(T.begin(), T.end()), T.end());
  for (float t : T) {
    const double z = (t - peak) / width;
    C.push_back(static_cast<float>(smooth ? height * std::exp(-z * z) : height * u(gen)));
  }
  double exact = 0.0;
  for (std::size_t i = 1; i < T.size(); ++i)
    exact += 0.5 * (static_cast<double>(C[i]) + C[i - 1]) * (static_cast<double>(T[i]) - T[i - 1]);
  Outcome o = adapt(profile, T.front(), T.back(), 0.001f, 0.001f, WORK);
  return std::fabs(o.result - exact) / std::max(0.001, 0.001 * std::fabs(exact));
}

TEST(Accuracy, PiecewiseLinearProfiles) {
  std::mt19937 gen(2024);
  for (int i = 0; i < 200; ++i) {  // densely sampled smooth peaks: kinks too small to miss
    EXPECT_LE(profile_error_ratio(gen, 1000, true), 1.0) << i;
  }
  // Rough profiles: a kink or spike between the nodes can go unseen, and the run then
  // reports success with an error above the bound. Measured, not required.
  std::vector<double> ratios;
  for (int i = 0; i < 1000; ++i) ratios.push_back(profile_error_ratio(gen, 2 + i % 200, false));
  std::sort(ratios.begin(), ratios.end());
  const auto over = std::count_if(ratios.begin(), ratios.end(), [](double r) { return r > 1.0; });
  std::printf("rough profiles: median %.3g, 99th percentile %.3g, max %.3g of the bound; "
              "%d of 1000 above it\n", ratios[500], ratios[990], ratios.back(), static_cast<int>(over));
  EXPECT_LT(ratios[500], 0.1);  // typical errors stay far inside the bound
  EXPECT_LT(over, 50);
}

}  // namespace
