// PROFILE against worked examples of its rule and, bit for bit, against the rule
// applied literally (literal_profile.h) on random and extreme tables, with the run's
// floating-point traps on.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "driver.h"
#include "literal_profile.h"

namespace {

using driver::C;
using driver::T;

void load(const std::vector<float>& tc) {  // the points (t, c, t, c, ...) from slot 1
  for (std::size_t k = 0; k < tc.size(); k += 2) T[k / 2 + 1] = tc[k], C[k / 2 + 1] = tc[k + 1];
  driver::N = int(tc.size() / 2);
  driver::use_profile_table(1);
}

// At every time of the table, its neighbouring reals, t - 1, t + 1 and the midpoints.
void expect_matches_literal(int first) {
  std::vector<float> times(T + first, T + std::max(driver::N, first) + 1), xs = {0.0f, -0.0f};
  std::sort(times.begin(), times.end());
  for (std::size_t k = 0; k < times.size(); ++k) {
    const float t = times[k];
    xs.insert(xs.end(), {t, std::nextafter(t, -INFINITY), std::nextafter(t, INFINITY), t - 1.0f, t + 1.0f});
    if (k > 0) xs.push_back(times[k - 1] / 2.0f + t / 2.0f);
  }
  std::size_t k = 0;
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);  // as in a run
  for (auto bits = [](float x) { return std::bit_cast<std::uint32_t>(x); };
       k < xs.size() && bits(driver::PROFILE(xs[k])) == bits(literal::profile(first, xs[k]));)
    ++k;
  fedisableexcept(FE_ALL_EXCEPT);
  ASSERT_EQ(k, xs.size()) << "N=" << driver::N << " first=" << first << " x=" << xs[k] << " got "
                          << driver::PROFILE(xs[k]) << " want " << literal::profile(first, xs[k]);
}

TEST(Profile, WorkedExamples) {
  const struct { std::vector<float> points, x_value; } cases[] = {  // (t, c, ...) and (x, PROFILE(x), ...)
      {{0, 0, 10, 10}, {2.5, 2.5, 0, 0, 10, 10}},
      {{1, 4, 2, 6, 3, 2}, {1, 4, 2, 6, 2.5, 4, 3, 2}},  // the value at T(1)
      {{0, 1, 1, 3, 1, 5, 2, 7}, {1, 3, 1.5, 6}},        // a repeated time is reached first from the left
      {{4, 9}, {4, 9, 5, 0}},
      {{5, 0, 3, 10, 7, 20}, {5, 15}},  // a rising interval beats the value at T(1)
      // Decreasing times: the line through the points, the falling intervals in order.
      {{3, 6, 1, 2}, {2, 4, 1, 2, 3, 6, 0.5, 0}},
      {{3, 6, 2, 4, 3, 0, 2, 8}, {2, 4, 2.5, 2}},  // interval 2 before 4, a rising one before both
      {{5, 1, 7, 3, 4, 9}, {5, 1, 4.5, 8}},        // the value at T(1) beats a falling interval
  };
  for (const auto& c : cases) {
    load(c.points);
    for (std::size_t k = 0; k < c.x_value.size(); k += 2)
      EXPECT_EQ(driver::PROFILE(c.x_value[k]), c.x_value[k + 1]) << "x=" << c.x_value[k] << " N=" << driver::N;
  }
}

TEST(Profile, RandomAndExtremeTablesMatchTheLiteralRuleWithoutATrap) {
  std::mt19937 rng(20240611u);
  auto below = [&rng](unsigned n) { return float(rng() % n); };
  for (int round = 0; round < 3000; ++round) {  // the added point in slot 0 leads half of them
    const int kind = round % 6, first = round / 6 % 2, n = int(round % 97 ? below(40) : 1500 + below(1000));
    float t = below(21) - 10;
    for (int i = first; i < first + n; ++i) {  // rising, repeats, few times, falling, any order, near sorted
      const float next[] = {t + (1 + below(8)) * 0.25f, t + below(3) * 0.5f, below(7) - 3, t - below(3) * 0.75f,
                            float(rng()) / 4294967296.0f * 20.0f - 10.0f, float(i) - (below(8) == 0 ? 2.5f : 0.0f)};
      t = next[kind];
      T[i] = below(50) == 0 ? -0.0f : t;
      C[i] = (below(2001) - 1000) / 8.0f;
    }
    driver::N = std::max(first + n - 1, 0);
    driver::use_profile_table(first);
    expect_matches_literal(first);
  }
  // The largest concentrations of both signs, times a subnormal apart, the largest times.
  const float tiny = std::numeric_limits<float>::denorm_min(), M = FLT_MAX;
  for (const std::vector<float>& points : {std::vector<float>{0, -M, tiny, M, 2 * tiny, -M, M, M},
                                           {M, M, -M, -M, tiny, M, -tiny, -M},
                                           {1, M, std::nextafter(1.0f, 2.0f), -M, -M, M}}) {
    load(points);
    expect_matches_literal(1);
  }
}

}  // namespace
