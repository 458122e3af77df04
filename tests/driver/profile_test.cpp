// PROFILE against worked examples of its rule and, bit for bit (PROFILE_NODES too),
// against the rule applied literally (literal_profile.h) on random and extreme
// tables, with the run's floating-point traps on.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "child.h"
#include "driver.h"
#include "literal_profile.h"

namespace {

using driver::C, driver::T;

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
  std::vector<float> at_once(xs.size());  // PROFILE_NODES over them, mostly in ascending order
  testsupport::set_floating_point_traps(true);  // as in a run
  driver::PROFILE_NODES(xs.data(), at_once.data(), static_cast<int>(xs.size()));
  for (auto bits = [](float x) { return std::bit_cast<std::uint32_t>(x); };
       k < xs.size() && bits(driver::PROFILE(xs[k])) == bits(literal::profile(first, xs[k])) &&
       bits(at_once[k]) == bits(literal::profile(first, xs[k]));)
    ++k;
  testsupport::set_floating_point_traps(false);
  ASSERT_EQ(k, xs.size()) << "N=" << driver::N << " first=" << first << " x=" << xs[k] << " got "
                          << driver::PROFILE(xs[k]) << " and " << at_once[k] << " want "
                          << literal::profile(first, xs[k]);
}

TEST(Profile, WorkedExamples) {  // worked_examples.txt: points, then values x and PROFILE(x)
  std::ifstream lines(WORKED_EXAMPLES);
  int rows = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("#")) continue;
    ++rows;
    std::istringstream points(line.substr(0, line.find('|'))), values(line.substr(line.find('|') + 1));
    driver::N = 0;
    for (float t, c; points >> t >> c;) ++driver::N, T[driver::N] = t, C[driver::N] = c;
    driver::use_profile_table(1);
    for (float x, v; values >> x >> v;) EXPECT_EQ(driver::PROFILE(x), v) << line << " x=" << x;
  }
  EXPECT_EQ(rows, 8);
}

TEST(Profile, RandomAndExtremeTablesMatchTheLiteralRuleWithoutATrap) {
  std::mt19937 rng(20240611u);
  auto below = [&rng](unsigned n) { return float(rng() % n); };
  // Times a subnormal apart and the largest times, with the largest concentrations.
  const float tiny = std::numeric_limits<float>::denorm_min(), M = FLT_MAX;
  const float extremes[] = {0, tiny, -tiny, 2 * tiny, 1, std::nextafter(1.0f, 2.0f), M, -M};
  for (int round = 0; round < 4000; ++round) {  // the added point in slot 0 leads half of them
    const int kind = round % 8, first = round / 8 % 2, n = int(round % 97 ? below(40) : 1500 + below(1000));
    float t = below(21) - 10;
    for (int i = first; i < first + n; ++i) {  // rising, repeats, few times, falling, any order, near
      // sorted, extremes, neighbouring reals
      const float next[] = {t + (1 + below(8)) * 0.25f, t + below(3) * 0.5f, below(7) - 3, t - below(3) * 0.75f,
                            float(rng()) / 4294967296.0f * 20.0f - 10.0f, float(i) - (below(8) == 0 ? 2.5f : 0.0f),
                            extremes[int(below(8))], std::bit_cast<float>(0x40400000u + unsigned(below(6)))};
      t = next[kind];
      T[i] = below(50) == 0 ? -0.0f : t;
      C[i] = kind == 6 ? extremes[6 + int(below(2))] : (below(2001) - 1000) / 8.0f;
    }
    driver::N = std::max(first + n - 1, 0);
    driver::use_profile_table(first);
    expect_matches_literal(first);
  }
}

// Pairs loaded at once give the tables, N and CMAX the loader gives from a reader of the
// same pairs: negative and signed-zero concentrations, a largest one repeated.
TEST(Profile, PairsLoadedAtOnceAsByTheLoader) {
  const std::vector<std::vector<std::pair<float, float>>> tables = {
      {}, {{0, -1}}, {{0, -0.0f}, {1, -2}}, {{0, 3}, {1, 5}, {2, 5}, {3, -1}}, {{1, 0}, {2, 7e-45f}, {3, 0}}};
  for (const auto& pairs : tables) {
    static std::vector<std::pair<float, float>>::const_iterator next, end;
    next = pairs.begin(), end = pairs.end();
    driver::load_table([](float& t, float& c) { return next != end && (t = next->first, c = next->second, ++next, true); });
    const std::vector<float> times(T + 1, T + driver::N + 1), values(C + 1, C + driver::N + 1);
    const int n = driver::N;
    const float cmax = driver::CMAX;
    std::fill(T, T + 8, 9.0f), std::fill(C, C + 8, 9.0f), driver::CMAX = 9.0f;
    std::vector<float> t, c;
    for (const auto& [time, value] : pairs) t.push_back(time), c.push_back(value);
    driver::load_pairs(t.data(), c.data(), static_cast<int>(t.size()));
    EXPECT_EQ(driver::N, n);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(driver::CMAX), std::bit_cast<std::uint32_t>(cmax));
    EXPECT_EQ(std::vector<float>(T + 1, T + driver::N + 1), times);
    EXPECT_EQ(std::vector<float>(C + 1, C + driver::N + 1), values);
  }
}

}  // namespace
