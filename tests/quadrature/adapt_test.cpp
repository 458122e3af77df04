// The adaptive core: the start, equal half errors, reversed limits, the divergence
// test with a zero area sum, and accuracy against known integrals and random profiles.
// The codes reached in the loop are tested with their messages (q2ags_test).
#include <cstdio>
#include <numeric>
#include <random>

#include "quad_support.h"

namespace {

int calls = 0;
float counted_one(float) { return static_cast<float>(++calls > 0); }

TEST(AdaptiveCore, EdgeCasesOfTheStartWithTheEvaluationCount) {
  const struct {
    const char* what; Integrand f; float a, b, errabs, errrel; int maxsub, ier, nsub; double result;
  } cases[] = {
      {"A = B", counted_one, 2.0f, 2.0f, 1e-3f, 1e-3f, 100, 0, 1, 0.0},
      {"zero", [](float) { return 0.0f; }, 0.0f, 1.0f, 1e-3f, 1e-3f, 100, 0, 1, 0.0},
      {"constant", counted_one, 0.0f, 4.0f, 1e-3f, 1e-3f, 100, 0, 1, 4.0},
      {"MAXSUB 1, within tolerance", expo, 0.0f, 1.0f, 1e-3f, 1e-3f, 1, 1, 1, std::exp(1.0) - 1},
      {"MAXSUB 1, first roundoff", [](float x) { return 1e5f * x; }, -1, 1, 1e-3f, 1e-3f, 1, 1, 1, 0},
      {"both tolerances negative", counted_one, 3.0f, 5.0f, -1.0f, -1.0f, 100, 6, 0, 0.0},
  };
  Outcome o;
  for (const auto& c : cases) {
    calls = 0;
    o = adapt(c.f, c.a, c.b, c.errabs, c.errrel, c.maxsub);
    const int nfcall = c.nsub ? 42 * c.nsub - 21 : 0;
    EXPECT_EQ(std::tuple(o.ier, o.nsub, o.nfcall), std::tuple(c.ier, c.nsub, nfcall)) << c.what;
    EXPECT_EQ(calls, c.f == counted_one ? nfcall : 0) << c.what;
    EXPECT_NEAR(o.result, c.result, 1e-5) << c.what;
  }
  // The last case computed nothing and left the first list entries as the start sets them.
  EXPECT_EQ(std::tuple(W.xl[0], W.xr[0], W.si[0], W.se[0], o.errval),
            std::tuple(3.0f, 5.0f, 0.0f, 0.0f, 0.0f));
}

TEST(AdaptiveCore, EqualHalfErrorsKeepTheLeftHalfFirstAndReversedLimitsFlipTheSign) {
  const Outcome abs_x = adapt([](float x) { return std::fabs(x); }, -1, 1, 1e-3f, 1e-3f, 100);
  EXPECT_EQ(std::tuple(abs_x.ier, abs_x.nsub, W.se[0]), std::tuple(0, 2, W.se[1]));
  EXPECT_EQ(std::tuple(W.xl[0], W.xr[0], W.xl[1], W.xr[1]), std::tuple(-1.0f, 0.0f, 0.0f, 1.0f));
  const Outcome up = adapt(inv_sqrt, 0.0f, 1.0f, 0.0f, 1e-5f, 100);
  const Outcome down = adapt(inv_sqrt, 1.0f, 0.0f, 0.0f, 1e-5f, 100);
  EXPECT_EQ(std::tuple(down.result, down.errval, down.nsub, up.nsub > 3),
            std::tuple(-up.result, up.errval, up.nsub, true));
  for (int i = 0; i < down.nsub; ++i) EXPECT_GT(W.xl[i], W.xr[i]) << i;
}

// The first rule sees a sign change, the extrapolation succeeds at its fourth step,
// and at that moment the subinterval integrals cancel to an area sum of exactly 0.
// The extrapolated value stands, with code 0, and no division by zero traps.
constexpr float SCALE = 0x1.000008p+0f, SHIFT = -0x1.e25674p+1f;
float cancelling(float x) { return SCALE / (std::sqrt(x) * std::sqrt(std::sqrt(x))) + SHIFT; }
TEST(AdaptiveCore, DivergenceTestSkipsTheQuotientForAZeroAreaSum) {
  const Outcome o = adapt(cancelling, 0.0f, 1.0f, 0.0f, 0.9f, 200);
  EXPECT_EQ(std::tuple(o.ier, o.result > 0.2f), std::tuple(0, true));
  EXPECT_NEAR(o.result, 4.0 * SCALE + SHIFT, o.errval);  // x^-0.75 integrates to 4
}

// Smooth integrands and integrable endpoint singularities: the requested bound holds,
// and the evaluation count follows the subintervals.
TEST(Accuracy, KnownIntegralsMeetTheRequestedBound) {
  const std::tuple<const char*, Integrand, float, float, double> cases[] = {
      {"cubic", [](float x) { return x * x * x - 2.0f * x + 1.0f; }, -1.0f, 2.0f, 3.75},
      {"exp", expo, 0.0f, 3.0f, std::exp(3.0) - 1.0},
      {"cos 30x", [](float x) { return std::cos(30.0f * x); }, 0.0f, 1.0f, std::sin(30.0) / 30},
      {"1/sqrt x", inv_sqrt, 0.0f, 1.0f, 2.0},
      {"log x", [](float x) { return std::log(x); }, 0.0f, 1.0f, -1.0},
  };
  for (const auto& [what, f, a, b, exact] : cases) {
    for (float tol : {1e-3f, 1e-5f}) {
      const Outcome o = adapt(f, a, b, tol, tol, 1000);
      EXPECT_EQ(std::tuple(o.ier, o.nfcall), std::tuple(0, 42 * o.nsub - 21)) << what << " " << tol;
      EXPECT_LE(std::fabs(o.result - exact), std::max<double>(tol, tol * std::fabs(exact)))
          << what << " " << tol;
    }
  }
  // The singular ones are accepted on an extrapolated value, not on the plain sum.
  const Outcome o = adapt(inv_sqrt, 0.0f, 1.0f, 0.0f, 1e-5f, 1000);
  EXPECT_GT(std::fabs(std::accumulate(W.si, W.si + o.nsub, 0.0f) - 2.0f), 1e-5f * 2.0f);
}

// Piecewise-linear profiles through random points on [0, 10]: a smooth peak sampled
// densely, or random heights. Returns the actual error over the requested bound.
std::vector<float> T, C;
float profile(float x) {
  const auto i = static_cast<std::size_t>(std::upper_bound(T.begin(), T.end(), x) - T.begin());
  if (i == 0 || i == T.size()) return i == 0 ? C.front() : C.back();
  return C[i - 1] + (C[i] - C[i - 1]) * ((x - T[i - 1]) / (T[i] - T[i - 1]));
}
double error_ratio(std::mt19937& gen, int points, bool smooth) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double peak = 2.0 + 6.0 * u(gen), width = 0.3 + u(gen), height = 1.0 + 99.0 * u(gen);
  T.clear(), C.clear();
  for (int i = 0; i < points; ++i) T.push_back(static_cast<float>(10.0 * u(gen)));
  std::sort(T.begin(), T.end());
  T.erase(std::unique(T.begin(), T.end()), T.end());
  double exact = 0.0;
  for (std::size_t i = 0; i < T.size(); ++i) {
    const double z = (T[i] - peak) / width;
    C.push_back(static_cast<float>(smooth ? height * std::exp(-z * z) : height * u(gen)));
    if (i > 0) exact += 0.5 * (C[i] + double{C[i - 1]}) * (T[i] - double{T[i - 1]});
  }
  const Outcome o = adapt(profile, T.front(), T.back(), 0.001f, 0.001f, WORK);
  return std::fabs(o.result - exact) / std::max(0.001, 0.001 * std::fabs(exact));
}

TEST(Accuracy, PiecewiseLinearProfiles) {
  std::mt19937 gen(2024);
  for (int i = 0; i < 200; ++i) EXPECT_LE(error_ratio(gen, 1000, true), 1.0) << i;
  // Rough profiles: a kink or spike between the nodes can go unseen, and the run then
  // reports success with an error above the bound. Measured and printed, not required.
  std::vector<double> r;
  for (int i = 0; i < 1000; ++i) r.push_back(error_ratio(gen, 2 + i % 200, false));
  std::sort(r.begin(), r.end());
  const auto over = std::count_if(r.begin(), r.end(), [](double x) { return x > 1.0; });
  std::printf("rough profiles: median %.3g, 99th percentile %.3g, max %.3g of the bound; "
              "%d of 1000 above it\n", r[500], r[990], r.back(), static_cast<int>(over));
  EXPECT_LT(r[500], 0.1);  // typical errors stay far inside the bound
  EXPECT_LT(over, 50);
}

}  // namespace
