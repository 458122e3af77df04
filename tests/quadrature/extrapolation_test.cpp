// The epsilon-algorithm step and the ordering of the subinterval errors.
#include "quad_support.h"

namespace {

constexpr float HUGE_REAL = 0x1.fffffep127f, SPACING = 0x1p-23f;

// ETAB, NTAB, LAST3 and NCALLS of one integration, and the results of the last step.
struct Table {
  float e[52] = {}; int ntab = 0; float last3[3] = {-7.0f, -7.0f, -7.0f}; int ncalls = 0;
  float result = 0, errval = 0;
  Table& step() { QEPSEX(ntab, e, result, errval, last3, ncalls); return *this; }
};

TEST(EpsilonStep, OneTwoThreeEqualAndFiftyElements) {
  for (int n : {1, 2}) {  // returned as they are, the table untouched
    const Table t = Table{{3.0f, 4.0f}, n, {-7.0f, -7.0f, -7.0f}, 5}.step();
    EXPECT_EQ(std::tuple(t.result, t.errval, t.ntab, t.ncalls, t.last3[0]),
              std::tuple(n == 1 ? 3.0f : 4.0f, HUGE_REAL, n, 6, -7.0f));
    EXPECT_EQ(std::vector<float>(t.e, t.e + 4), std::vector<float>({3.0f, 4.0f, 0.0f, 0.0f}));
  }
  // The last three agree: that is the limit; LAST3 is not updated, the table not shifted.
  const Table same = Table{{9.0f, 2.0f, 2.0f, 2.0f}, 4}.step();
  EXPECT_EQ(std::tuple(same.result, same.errval, same.last3[0], same.e[3]),
            std::tuple(2.0f, 5.0f * SPACING * 2.0f, -7.0f, HUGE_REAL));
  Table full{{}, 50};  // without a cut 49 are kept, each one place down, the newest last
  for (int i = 0; i < 50; ++i) full.e[i] = static_cast<float>((i % 2 ? -1 : 1) * (i + 1));
  full.step();
  EXPECT_EQ(std::tuple(full.ntab, full.e[47], full.e[48]), std::tuple(49, 49.0f, -50.0f));
}

// Fed one partial sum of 1 - 1/2 + 1/3 - ... at a time, as the core does. The three
// elements of the first call give one Aitken step, 5/6 - (1/3)^2 / (5/6) = 0.7; the
// first three calls give no error estimate, the fourth the spread of the last three.
TEST(EpsilonStep, ExtrapolatesTheAlternatingHarmonicSeries) {
  Table t{{1.0f, 0.5f}, 2};
  double sum = 0.5;
  std::vector<float> r, err;
  for (int k = 3; k <= 12; ++k) {
    sum += (k % 2 ? 1.0 : -1.0) / k;
    t.e[t.ntab++] = static_cast<float>(sum);
    r.push_back(t.step().result);
    err.push_back(t.errval);
  }
  const float spread = std::fabs(r[3] - r[2]) + std::fabs(r[3] - r[1]) + std::fabs(r[3] - r[0]);
  const float fourth = std::max(spread, 5.0f * SPACING * std::fabs(r[3]));
  EXPECT_EQ(std::vector<float>(err.begin(), err.begin() + 4),
            std::vector<float>({HUGE_REAL, HUGE_REAL, HUGE_REAL, fourth}));
  EXPECT_NEAR(r[0], 0.7f, 1e-7f);
  EXPECT_NEAR(t.result, std::log(2.0), 1e-7);
  EXPECT_EQ(std::tuple(t.ncalls, t.errval < 1e-6f), std::tuple(10, true));
}

// SUBERR and ERRORD by subinterval number (element 0 is number 1), IBIS and KBIS before
// and after, and the leading part of ERRORD expected in order. On ties the bisected and
// the new one go ahead of equal errors, but with KBIS > 1 the bisected one moves up only
// past smaller errors.
struct Order {
  const char* what; std::vector<float> err; std::vector<int> order; int ibis, kbis, maxsub, nsub;
  std::vector<int> sorted; int ibis_after, kbis_after;
};

TEST(ErrorOrdering, TieBreaksTheExtrapolationPhaseAndTheTruncatedPart) {
  const std::vector<float> eight = {0.9f, 0.7f, 0.65f, 0.5f, 0.8f, 0.4f, 0.6f, 0.1f};
  Order cases[] = {
      {"first bisection", {0.1f, 0.9f}, {7, 7}, 1, 1, 100, 2, {1, 2}, 1, 1},
      {"ties", {0.5f, 0.5f, 0.3f, 0.3f}, {1, 2, 3, 0}, 1, 1, 100, 4, {1, 2, 4, 3}, 1, 1},
      {"up past smaller only", {0.5f, 0.5f, 0.1f, 0.05f}, {1, 2, 3, 0}, 2, 2, 100, 4,
       {1, 2, 3, 4}, 2, 2},
      {"up past one", {0.8f, 0.9f, 0.3f, 0.85f, 0.2f}, {2, 1, 4, 3, 0}, 4, 3, 100, 5,
       {2, 4, 1, 3, 5}, 4, 2},
      {"all kept", eight, {3, 1, 5, 2, 7, 4, 6, 0}, 3, 1, 100, 8, {1, 5, 2, 3, 7, 4, 6, 8}, 1, 1},
      {"8 > 10/2 + 2: 5 kept", eight, {3, 1, 5, 2, 7, 4, 6, 0}, 3, 1, 10, 8, {1, 5, 2, 3, 8}, 1, 1},
  };
  for (Order& c : cases) {
    float ebis = -1.0f;
    QORDER(c.maxsub, c.nsub, c.ibis, ebis, c.err.data(), c.order.data(), c.kbis);
    c.order.resize(c.sorted.size());
    EXPECT_EQ(c.order, c.sorted) << c.what;
    EXPECT_EQ(std::tuple(c.ibis, c.kbis, ebis),
              std::tuple(c.ibis_after, c.kbis_after, c.err[c.ibis_after - 1])) << c.what;
  }
}

}  // namespace
