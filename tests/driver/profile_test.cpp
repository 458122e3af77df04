// The indexed profile against the worked examples and, bit for bit, against the
// literal first-match rule on many random tables.
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

#include "child.h"
#include "driver.h"
#include "literal_profile.h"

namespace {

struct Point {
  float t, c;
};

// Loads the points into slots first.. of the tables and selects them.
void load(const std::vector<Point>& points, int first = 1) {
  for (std::size_t k = 0; k < points.size(); ++k) {
    driver::T[first + static_cast<int>(k)] = points[k].t;
    driver::C[first + static_cast<int>(k)] = points[k].c;
  }
  driver::N = first + static_cast<int>(points.size()) - 1;
  driver::use_profile_table(first);
}

TEST(Profile, WorkedExamples) {
  struct Case {
    std::vector<Point> points;
    float x, expected;
  };
  const Case cases[] = {
      {{{0, 0}, {10, 10}}, 2.5f, 2.5f},
      {{{0, 0}, {10, 10}}, 0.0f, 0.0f},
      {{{0, 0}, {10, 10}}, 10.0f, 10.0f},
      {{{1, 4}, {2, 6}, {3, 2}}, 1.0f, 4.0f},  // the value at T(1)
      {{{1, 4}, {2, 6}, {3, 2}}, 2.0f, 6.0f},
      {{{1, 4}, {2, 6}, {3, 2}}, 2.5f, 4.0f},
      {{{1, 4}, {2, 6}, {3, 2}}, 3.0f, 2.0f},
      {{{0, 1}, {1, 3}, {1, 5}, {2, 7}}, 1.0f, 3.0f},  // the repeated time: reached first from the left
      {{{0, 1}, {1, 3}, {1, 5}, {2, 7}}, 1.5f, 6.0f},
      {{{4, 9}}, 4.0f, 9.0f},                          // single point
      {{{4, 9}}, 5.0f, 0.0f},
      {{{5, 0}, {3, 10}, {7, 20}}, 5.0f, 15.0f},       // a rising interval beats the value at T(1)
      // Decreasing times: the line through the points, the falling intervals in order.
      {{{3, 6}, {1, 2}}, 2.0f, 4.0f},
      {{{3, 6}, {1, 2}}, 1.0f, 2.0f},
      {{{3, 6}, {1, 2}}, 3.0f, 6.0f},
      {{{3, 6}, {1, 2}}, 0.5f, 0.0f},
      {{{3, 6}, {2, 4}, {3, 0}, {2, 8}}, 2.0f, 4.0f},  // interval 2 precedes interval 4
      {{{3, 6}, {2, 4}, {3, 0}, {2, 8}}, 2.5f, 2.0f},  // but a rising interval comes first
      {{{5, 1}, {7, 3}, {4, 9}}, 5.0f, 1.0f},          // the value at T(1) beats a falling interval
      {{{5, 1}, {7, 3}, {4, 9}}, 4.5f, 8.0f},
  };
  for (const Case& c : cases) {
    load(c.points);
    EXPECT_EQ(driver::PROFILE(c.x), c.expected) << "x=" << c.x << " N=" << driver::N;
  }
}

TEST(Profile, FollowsTheSelectedPoints) {
  // (1,2),(3,6) with the point (0, 2) added in slot 0 in front of them.
  load({{0, 2}, {1, 2}, {3, 6}}, 0);
  EXPECT_EQ(driver::PROFILE(0.5f), 2.0f);
  EXPECT_EQ(driver::PROFILE(0.0f), 2.0f);
  EXPECT_EQ(driver::PROFILE(2.0f), 4.0f);
  driver::use_profile_table(1);  // back to the loaded points only
  EXPECT_EQ(driver::PROFILE(0.5f), 0.0f);
  EXPECT_EQ(driver::PROFILE(1.0f), 2.0f);
  // A sorted table after an unsorted one, and the other way round.
  load({{5, 0}, {3, 10}, {7, 20}});
  load({{0, 0}, {10, 10}});
  EXPECT_EQ(driver::PROFILE(7.0f), 7.0f);
  load({{5, 0}, {3, 10}, {7, 20}});
  EXPECT_EQ(driver::PROFILE(7.0f), 20.0f);
}

// The probe times of a table: every data time and its neighbouring reals, the
// midpoints between consecutive distinct times, and points beyond both ends.
std::vector<float> probes(int first) {
  std::vector<float> times(driver::T + first, driver::T + std::max(driver::N, first) + 1);
  std::sort(times.begin(), times.end());
  std::vector<float> xs = {0.0f, -0.0f};
  for (std::size_t k = 0; k < times.size(); ++k) {
    const float t = times[k];
    xs.insert(xs.end(), {t, std::nextafter(t, -INFINITY), std::nextafter(t, INFINITY),
                         t - 1.0f, t + 1.0f});
    if (k > 0) xs.push_back(times[k - 1] / 2.0f + t / 2.0f);
  }
  return xs;
}

void expect_matches_literal(int first, const char* kind) {
  for (float x : probes(first)) {
    const float want = literal::profile(first, x);
    const float got = driver::PROFILE(x);
    ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(want))
        << kind << " N=" << driver::N << " first=" << first << " x=" << x << " got " << got
        << " want " << want;
  }
}

TEST(Profile, RandomTablesMatchLiteralRule) {
  std::mt19937 rng(20240611u);
  auto below = [&rng](unsigned n) { return static_cast<int>(rng() % n); };
  const char* kinds[] = {"rising", "rising with repeats", "few distinct times",
                         "decreasing", "unsorted", "nearly sorted"};
  for (int round = 0; round < 3000; ++round) {
    const int kind = round % 6;
    const int first = below(2);
    const int n = round % 97 == 0 ? 1500 + below(1000) : below(40);
    float t = static_cast<float>(below(21) - 10);
    for (int i = first; i < first + n; ++i) {
      switch (kind) {
        case 0: t += static_cast<float>(1 + below(8)) * 0.25f; break;
        case 1: t += static_cast<float>(below(3)) * 0.5f; break;
        case 2: t = static_cast<float>(below(7) - 3); break;
        case 3: t -= static_cast<float>(below(3)) * 0.75f; break;
        case 4: t = static_cast<float>(rng()) / 4294967296.0f * 20.0f - 10.0f; break;
        default: t = static_cast<float>(i) + (below(8) == 0 ? -2.5f : 0.0f); break;
      }
      driver::T[i] = below(50) == 0 ? -0.0f : t;
      driver::C[i] = static_cast<float>(below(2001) - 1000) / 8.0f;
    }
    driver::N = std::max(first + n - 1, 0);
    driver::use_profile_table(first);
    expect_matches_literal(first, kinds[kind]);
  }
}

// A full table with the added point in front, unsorted, times from a coarse grid so
// that many intervals overlap: the probes are thinned to keep the reference cheap.
TEST(Profile, FullUnsortedTableMatchesLiteralRule) {
  std::mt19937 rng(7u);
  for (int i = 0; i <= driver::CAPACITY; ++i) {
    driver::T[i] = static_cast<float>(rng() % 5000) * 0.01f;
    driver::C[i] = static_cast<float>(rng() % 1000);
  }
  driver::N = driver::CAPACITY;
  driver::use_profile_table(0);
  const std::vector<float> xs = probes(0);
  for (std::size_t k = 0; k < xs.size(); k += 997) {
    ASSERT_EQ(std::bit_cast<std::uint32_t>(driver::PROFILE(xs[k])),
              std::bit_cast<std::uint32_t>(literal::profile(0, xs[k])))
        << "x=" << xs[k];
  }
}

// The run keeps the invalid, divide-by-zero and overflow traps on: extreme but
// finite tables (largest concentrations of both signs, times a subnormal apart, the
// largest times) must evaluate without raising any of them.
TEST(Profile, ExtremeTablesRaiseNoTrap) {
  const float tiny = std::numeric_limits<float>::denorm_min();
  const std::vector<Point> tables[] = {
      {{0, -FLT_MAX}, {tiny, FLT_MAX}, {2 * tiny, -FLT_MAX}, {FLT_MAX, FLT_MAX}},
      {{FLT_MAX, FLT_MAX}, {-FLT_MAX, -FLT_MAX}, {tiny, FLT_MAX}, {-tiny, -FLT_MAX}},
      {{1.0f, FLT_MAX}, {std::nextafter(1.0f, 2.0f), -FLT_MAX}, {-FLT_MAX, FLT_MAX}},
  };
  for (const auto& points : tables) {
    const auto run = testsupport::run_in_child([&points] {
      load(points);
      const std::vector<float> xs = probes(1);
      feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
      volatile float sink = 0.0f;
      for (float x : xs) sink = driver::PROFILE(x);
      static_cast<void>(sink);
    });
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    load(points);
    expect_matches_literal(1, "extreme");
  }
}

}  // namespace
