// The epsilon-algorithm step and the ordering of the subinterval errors.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "quad_support.h"

namespace {

constexpr float HUGE_REAL = 0x1.fffffep127f;
constexpr float SPACING = 0x1p-23f;

struct Table {
  float e[52] = {};
  float last3[3] = {-7.0f, -7.0f, -7.0f};
  int ntab = 0, ncalls = 0;
  float result = 0, errval = 0;
  void step() { QEPSEX(ntab, e, result, errval, last3, ncalls); }
};

TEST(EpsilonStep, OneOrTwoElementsAreReturnedAsTheyAre) {
  for (int n : {1, 2}) {
    Table t{{3.0f, 4.0f}};
    t.ntab = n;
    t.ncalls = 5;
    t.step();
    EXPECT_EQ(t.result, n == 1 ? 3.0f : 4.0f);
    EXPECT_EQ(t.errval, HUGE_REAL);
    EXPECT_EQ(t.ntab * 10 + t.ncalls, n * 10 + 6);
    EXPECT_EQ(std::vector<float>(t.e, t.e + 4), std::vector<float>({3.0f, 4.0f, 0.0f, 0.0f}));
    EXPECT_EQ(t.last3[0], -7.0f);
  }
}

TEST(EpsilonStep, ThreeElementsGiveOneAitkenStepAndThreeEqualOnesTheirValue) {
  Table t{{0.5f, 0.75f, 0.875f}};  // geometric: the step is exact
  t.ntab = 3;
  t.step();
  EXPECT_EQ(t.result, 1.0f);
  EXPECT_EQ(t.errval, HUGE_REAL);  // fewer than four calls so far
  EXPECT_EQ(t.last3[0], 1.0f);
  Table same{{9.0f, 2.0f, 2.0f, 2.0f}};
  same.ntab = 4;
  same.step();
  EXPECT_EQ(same.result, 2.0f);
  EXPECT_EQ(same.errval, 5.0f * SPACING * 2.0f);
  EXPECT_EQ(same.last3[0], -7.0f);
  EXPECT_EQ(same.e[3], HUGE_REAL);  // the table is not shifted
}

TEST(EpsilonStep, FiftyElementsAreCutToTheLimitKeepingTheNewest) {
  Table t;
  for (int i = 0; i < 50; ++i) t.e[i] = static_cast<float>((i % 2 ? -1 : 1) * (i + 1));
  t.ntab = 50;
  t.step();
  EXPECT_EQ(t.ntab, 49);
  EXPECT_EQ(t.e[47], 49.0f);
  EXPECT_EQ(t.e[48], -50.0f);
}

// Fed one partial sum of 1 - 1/2 + 1/3 - ... at a time, as the core does.
TEST(EpsilonStep, ExtrapolatesTheAlternatingHarmonicSeriesAndEstimatesFromTheLastThree) {
  Table t;
  double sum = 1.0 - 0.5;
  t.e[0] = 1.0f, t.e[1] = 0.5f, t.ntab = 2;
  std::vector<float> results;
  for (int k = 3; k <= 12; ++k) {
    sum += (k % 2 ? 1.0 : -1.0) / k;
    t.e[t.ntab++] = static_cast<float>(sum);
    t.step();
    results.push_back(t.result);
    if (k == 3) {
      EXPECT_NEAR(t.result, 0.7f, 1e-7f);  // Aitken: 5/6 - (1/3)^2 / (5/6)
    }
    if (k < 6) {
      EXPECT_EQ(t.errval, HUGE_REAL);
    }
    if (k == 6) {
      const float spread = std::fabs(results[3] - results[2]) + std::fabs(results[3] - results[1]) +
                           std::fabs(results[3] - results[0]);
      EXPECT_EQ(t.errval, std::max(spread, 5.0f * SPACING * std::fabs(results[3])));
    }
  }
  EXPECT_NEAR(t.result, std::log(2.0), 1e-7);
  EXPECT_LT(t.errval, 1e-6f);
  EXPECT_EQ(t.ncalls, 10);
}

// SUBERR by subinterval number (element 0 is number 1).
struct Order {
  std::vector<float> err;
  std::vector<int> order;
  int ibis = 0, kbis = 1;
  float ebis = 0;
  void run(int maxsub, int nsub) {
    QORDER(maxsub, nsub, ibis, ebis, err.data(), order.data(), kbis);
  }
};

TEST(ErrorOrdering, FirstBisectionIsOrderedByTheCaller) {
  Order o{{0.1f, 0.9f}, {7, 7}, 1, 1};
  o.run(100, 2);
  EXPECT_EQ(o.order, (std::vector<int>{1, 2}));
  EXPECT_EQ(o.ibis, 1);
  EXPECT_EQ(o.ebis, 0.1f);
}

TEST(ErrorOrdering, TiesPutTheBisectedAheadAndTheNewAheadOfEqualOnes) {
  Order o{{0.5f, 0.5f, 0.3f, 0.3f}, {1, 2, 3, 0}, 1, 1};  // 1 bisected, 4 is new
  o.run(100, 4);
  EXPECT_EQ(o.order, (std::vector<int>{1, 2, 4, 3}));
  // In the extrapolation phase the bisected one moves up only past smaller errors.
  Order p{{0.5f, 0.5f, 0.1f, 0.05f}, {1, 2, 3, 0}, 2, 2};
  p.run(100, 4);
  EXPECT_EQ(p.order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(p.ibis, 2);
  Order q{{0.8f, 0.9f, 0.3f, 0.85f, 0.2f}, {2, 1, 4, 3, 0}, 4, 3};
  q.run(100, 5);
  EXPECT_EQ(q.order, (std::vector<int>{2, 4, 1, 3, 5}));
  EXPECT_EQ(q.kbis, 2);
  EXPECT_EQ(q.ibis, 4);
  EXPECT_EQ(q.ebis, 0.85f);
}

// MAXSUB = 10, NSUB = 8 > 10/2 + 2: only 10 + 3 - 8 = 5 positions are kept.
TEST(ErrorOrdering, OnlyTheLeadingPartIsKeptNearTheLimit) {
  const std::vector<float> err = {0.9f, 0.7f, 0.65f, 0.5f, 0.8f, 0.4f, 0.6f, 0.1f};
  Order full{err, {3, 1, 5, 2, 7, 4, 6, 0}, 3, 1};
  full.run(100, 8);
  EXPECT_EQ(full.order, (std::vector<int>{1, 5, 2, 3, 7, 4, 6, 8}));
  Order cut{err, {3, 1, 5, 2, 7, 4, 6, 0}, 3, 1};
  cut.run(10, 8);
  EXPECT_EQ(std::vector<int>(cut.order.begin(), cut.order.begin() + 5),
            (std::vector<int>{1, 5, 2, 3, 8}));
  EXPECT_EQ(cut.ibis, 1);
}

TEST(ErrorOrdering, RepeatedBisectionsKeepAPermutationInDescendingOrder) {
  std::mt19937 gen(7);
  Order o{std::vector<float>(300), std::vector<int>(300), 1, 1};
  o.err[0] = 8.0f;
  for (int nsub = 2; nsub <= 300; ++nsub) {
    const float a = static_cast<float>(gen() % 8), b = static_cast<float>(gen() % 8);
    o.err[o.ibis - 1] = std::max(a, b);  // the half with the larger error keeps IBIS
    o.err[nsub - 1] = std::min(a, b);
    o.run(1000, nsub);
    std::vector<int> seen(o.order.begin(), o.order.begin() + nsub);
    for (int i = 1; i < nsub; ++i) ASSERT_GE(o.err[seen[i - 1] - 1], o.err[seen[i] - 1]);
    std::sort(seen.begin(), seen.end());
    for (int i = 0; i < nsub; ++i) ASSERT_EQ(seen[i], i + 1);
    ASSERT_EQ(o.ibis, o.order[0]);
  }
}

}  // namespace
