// The piecewise-linear profile through the selected points first..N of T and C,
// and the index that makes each evaluation a binary search.
//
// The value at X is the one the first-match rule over the selected points gives:
//   1. the first rising interval i in index order with T(i-1) < X <= T(i);
//   2. otherwise, when X equals T(first), the value C(first);
//   3. otherwise the first falling interval i in index order (T(i) < T(i-1)) with
//      T(i) <= X < T(i-1);
//   4. otherwise 0.
// An interval's value is the straight line through its two points, evaluated in
// double and rounded once to float. Walking the intervals for every call would cost
// O(N) per call, and the quadrature makes hundreds of thousands of calls, so the
// answer of the rule is prepared once per table by use_profile_table.
//
// Non-decreasing times (the usual data file): no interval falls, and the rising
// ones do not overlap. The lowest i with T(i) >= X is then the first interval that
// contains X whenever i > first (its left end is below X, and every earlier
// interval ends below X). A binary search over the table itself answers; nothing
// is built.
//
// Any other table: the distinct times u(0) < ... < u(m-1) cut the time axis into
// cells. A rising interval (u(p), u(q)] is exactly the union of the cells
// (u(k), u(k+1)], k = p..q-1, so the rule's answer is the same all over such a
// cell; a falling interval [u(q), u(p)) is likewise the union of the cells
// [u(k), u(k+1)). Each cell records the lowest-index interval covering it: the
// intervals are painted in index order, every cell is painted once, and the next
// unpainted cell is found through a union-find skip list. A call then locates X
// among the distinct times by binary search. Building costs O(N log N): one sort
// of the times, carrying each point's number so that its rank is known without a
// search.
//
// The loader only ever stores finite reals, so the sort sees no NaN and the line
// formula meets no infinity.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "driver.h"
#include "quadrature.h"

namespace driver {
namespace {

// The selected points.
int first_point = 1;
int last_point = 0;
bool times_non_decreasing = true;

// Index of a table whose times are not in non-decreasing order.
int distinct_count = 0;
float distinct_times[CAPACITY + 1];
// rank_of[p]: position of T(p) among the distinct times.
int rank_of[CAPACITY + 1];
// rising_owner[k]: lowest rising interval covering (u(k), u(k+1)], 0 for none;
// falling_owner[k]: lowest falling interval covering [u(k), u(k+1)), 0 for none.
// Interval numbers start at first + 1 >= 1, so 0 never names an interval.
int rising_owner[CAPACITY];
int falling_owner[CAPACITY];
// Work area of the build, used twice: first the sort keys (time order in the high
// half, point number in the low half), then the skip list of the painting, where
// entry k leads towards the first unpainted cell at or after k and entry m-1 is the
// end mark.
std::uint64_t work[CAPACITY + 1];

// Where the last search of each array ended: of T for a table in time order, of
// distinct_times for any other. The quadrature evaluates the profile 21 times
// across one subinterval, then across the two halves of the one it bisects next,
// so the next answer is mostly a few places away: the search starts there and
// widens its bracket by doubling before it bisects. The position found is the one
// a plain binary search gives; a hint only changes the cost. PROFILE_NODES gets the
// 21 abscissae of one rule application at once, in ascending order: the first is
// searched for, and each of the others lies a few places after the one before it,
// where the doubling bracket finds it in a step or two.
int time_hint = 0;
int distinct_hint = 0;

// The straight line of interval i (points i-1 and i) at X: the two differences,
// the slope, its product with X - T(i-1), the sum with C(i-1), all in double, then
// one rounding to float. X lies within the interval's time span, so the result
// lies between C(i-1) and C(i) up to double rounding and stays a finite real.
float interval_value(int i, float X) {
  const double slope = (static_cast<double>(C[i]) - static_cast<double>(C[i - 1])) /
                       (static_cast<double>(T[i]) - static_cast<double>(T[i - 1]));
  return static_cast<float>(slope * (static_cast<double>(X) - static_cast<double>(T[i - 1])) +
                            static_cast<double>(C[i - 1]));
}

// A key whose unsigned order is the order of the reals, equal reals (0 and -0
// included) giving equal keys.
std::uint32_t order_key(float t) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(t == 0.0f ? 0.0f : t);
  return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

// Sorts the selected times, keeps each distinct one once in distinct_times and
// notes the rank of every point.
void rank_times() {
  const int count = last_point - first_point + 1;
  for (int k = 0; k < count; ++k) {
    const int p = first_point + k;
    work[k] = static_cast<std::uint64_t>(order_key(T[p])) << 32 | static_cast<std::uint32_t>(p);
  }
  std::sort(work, work + count);
  distinct_count = 0;
  for (int k = 0; k < count; ++k) {
    const int p = static_cast<int>(work[k] & 0xFFFFFFFFu);
    if (k == 0 || (work[k] >> 32) != (work[k - 1] >> 32)) distinct_times[distinct_count++] = T[p];
    rank_of[p] = distinct_count - 1;
  }
}

// Every kStride-th value of the array the profile searches (T over the selected
// points, or distinct_times), from its first position on: sample j is
// a[sampled_lo + j * kStride]. A search that has to go far bisects these samples
// first, a few kilobytes that stay in cache, and then one stretch of kStride
// values of the array itself, instead of jumping across the whole array.
constexpr int kStride = 64;
float samples[CAPACITY / kStride + 2];
int sample_count = 0;
const float* sampled = nullptr;
int sampled_lo = 0;
int sampled_hi = 0;

void sample_array(const float a[], int lo, int hi) {
  sampled = a;
  sampled_lo = lo;
  sampled_hi = hi;
  sample_count = 0;
  for (int p = lo; p < hi; p += kStride) samples[sample_count++] = a[p];
}

// Lowest position p in [left, right) with a[p] >= x, or right when there is none,
// by halving steps written without a branch on the comparison, whose outcome is
// unpredictable; a[left..right-1] are in non-decreasing order.
int bisect(const float a[], int left, int right, float x) {
  const float* base = a + left;
  int count = right - left;
  while (count > 1) {
    const int half = count / 2;
    base = base[half] < x ? base + half : base;
    count -= half;
  }
  if (count == 1 && *base < x) ++base;
  return static_cast<int>(base - a);
}

// Lowest position p in [lo, hi) with a[p] >= x, or hi when there is none; the
// values a[lo..hi-1] are in non-decreasing order. The bracket widens from the
// array's hint up to kGallopLimit places; an answer farther away is found through
// the samples when the array is the sampled one, else bisected for over the rest of
// the range. The hint is left at the answer.
constexpr int kGallopLimit = 64;

int first_at_or_above(const float a[], int lo, int hi, float x, int& hint) {
  const int h = std::clamp(hint, lo, hi);
  int left = lo;  // a[left-1] < x unless left == lo
  int right = hi;  // a[right] >= x unless right == hi
  if (h < hi && a[h] < x) {
    left = h + 1;
    for (int step = 1; step <= kGallopLimit; step *= 2) {
      const int probe = h + step;
      if (probe >= hi) break;
      if (!(a[probe] < x)) {
        right = probe;
        break;
      }
      left = probe + 1;
    }
  } else {
    right = h;
    for (int step = 1; step <= kGallopLimit; step *= 2) {
      const int probe = h - step;
      if (probe < lo) break;
      if (a[probe] < x) {
        left = probe + 1;
        break;
      }
      right = probe;
    }
  }
  if (right - left > 2 * kGallopLimit && a == sampled && lo >= sampled_lo && hi <= sampled_hi) {
    // A far jump. The first sample at or above x, j, bounds the answer q over the
    // whole sampled range: a[q] >= x > a[q - 1], so q lies after sample j - 1 and
    // at or before sample j (or the end). The answer lies within [left, right],
    // which the same monotonic order ties to q: it is q clamped into them.
    const int j = bisect(samples, 0, sample_count, x);
    const int after = j == 0 ? sampled_lo : sampled_lo + (j - 1) * kStride + 1;
    const int upto = j == sample_count ? sampled_hi : sampled_lo + j * kStride;
    hint = std::clamp(bisect(a, after, upto, x), left, right);
    return hint;
  }
  if (right - left > 2 * kGallopLimit) {
    // A far jump: a plain bisection, whose branches let the processor fetch ahead.
    hint = static_cast<int>(std::lower_bound(a + left, a + right, x) - a);
    return hint;
  }
  // A short bracket, nearly always in cache.
  hint = bisect(a, left, right, x);
  return hint;
}

int first_unpainted(int k) {
  while (static_cast<int>(work[k]) != k) {
    work[k] = work[work[k]];
    k = static_cast<int>(work[k]);
  }
  return k;
}

// Gives every cell the lowest-index interval of one direction that covers it.
// A rising interval i spans from point i-1 up to point i, a falling one from point
// i up to point i-1; it covers the cells from the rank of its lower end up to, not
// including, the rank of its upper end.
void paint_cells(int owner[], bool rising) {
  const int cells = distinct_count - 1;
  for (int k = 0; k < cells; ++k) {
    owner[k] = 0;
    work[k] = static_cast<std::uint64_t>(k);
  }
  work[cells] = static_cast<std::uint64_t>(cells);
  for (int i = first_point + 1; i <= last_point; ++i) {
    const int lower = rising ? rank_of[i - 1] : rank_of[i];
    const int upper = rising ? rank_of[i] : rank_of[i - 1];
    for (int k = first_unpainted(lower); k < upper; k = first_unpainted(k + 1)) {
      owner[k] = i;
      work[k] = static_cast<std::uint64_t>(k + 1);
    }
  }
}

// The profile at X, for PROFILE and PROFILE_NODES.
inline float profile_at(float X) {
  if (times_non_decreasing) {
    const int i = first_at_or_above(T, first_point, last_point + 1, X, time_hint);
    if (i > first_point && i <= last_point) return interval_value(i, X);
  } else {
    // Cell (u(j-1), u(j)] with u(j) the first distinct time >= X.
    const int j = first_at_or_above(distinct_times, 0, distinct_count, X, distinct_hint);
    if (j > 0 && j < distinct_count && rising_owner[j - 1] != 0)
      return interval_value(rising_owner[j - 1], X);
  }
  if (X == T[first_point]) return C[first_point];
  if (!times_non_decreasing) {
    // Cell [u(j-1), u(j)) with u(j) the first distinct time > X.
    const int j = static_cast<int>(
        std::upper_bound(distinct_times, distinct_times + distinct_count, X) - distinct_times);
    if (j > 0 && j < distinct_count && falling_owner[j - 1] != 0)
      return interval_value(falling_owner[j - 1], X);
  }
  return 0.0f;
}

}  // namespace

void reset() {
  // Every slot a run can have written: the points, the slot in front of them and the
  // time a cut pair leaves behind them.
  const int used = std::min(N + 1, CAPACITY);
  std::fill(T, T + used + 1, 0.0f);
  std::fill(C, C + used + 1, 0.0f);
  std::fill(distinct_times, distinct_times + std::min(distinct_count + 1, CAPACITY + 1), 0.0f);
  std::fill(rank_of, rank_of + used + 1, 0);
  std::fill(rising_owner, rising_owner + std::min(distinct_count + 1, CAPACITY), 0);
  std::fill(falling_owner, falling_owner + std::min(distinct_count + 1, CAPACITY), 0);
  std::fill(work, work + used + 1, 0);
  std::fill(samples, samples + sample_count, 0.0f);
  N = 0;
  CMAX = 0.0f;
  first_point = 1;
  last_point = 0;
  times_non_decreasing = true;
  distinct_count = 0;
  time_hint = 0;
  distinct_hint = 0;
  sample_count = 0;
  sampled = nullptr;
  sampled_lo = sampled_hi = 0;
}

void use_profile_table(int first) {
  QSETNODES(PROFILE, PROFILE_NODES);
  first_point = first;
  last_point = std::max(N, first - 1);
  times_non_decreasing = true;
  for (int i = first + 1; i <= last_point; ++i) {
    if (!(T[i - 1] <= T[i])) {
      times_non_decreasing = false;
      break;
    }
  }
  if (times_non_decreasing) {
    sample_array(T, first_point, last_point + 1);
    return;
  }

  rank_times();
  paint_cells(rising_owner, true);
  paint_cells(falling_owner, false);
  sample_array(distinct_times, 0, distinct_count);
}

float PROFILE(float X) { return profile_at(X); }

void PROFILE_NODES(const float X[], float FX[], int n) {
  if (!times_non_decreasing || n <= 0) {
    for (int k = 0; k < n; ++k) FX[k] = profile_at(X[k]);
    return;
  }
  // i is the lowest position with T(i) >= X(k): every time before it is below X(k),
  // and so below any later abscissa that is not smaller. For such an abscissa the
  // walk goes on from i one place at a time, a few places at most, and the doubling
  // search takes over beyond them.
  constexpr int kWalk = 4;
  const int end = last_point + 1;
  int i = first_at_or_above(T, first_point, end, X[0], time_hint);
  for (int k = 0; k < n; ++k) {
    const float x = X[k];
    if (k > 0) {
      if (x >= X[k - 1]) {
        int steps = 0;
        while (i < end && T[i] < x && steps < kWalk) ++i, ++steps;
        if (steps == kWalk && i < end && T[i] < x) i = first_at_or_above(T, i, end, x, time_hint);
      } else {
        i = first_at_or_above(T, first_point, end, x, time_hint);
      }
    }
    if (i > first_point && i <= last_point) {
      FX[k] = interval_value(i, x);
    } else {
      FX[k] = x == T[first_point] ? C[first_point] : 0.0f;
    }
  }
  time_hint = i;
}

// Non-decreasing times: the pieces are the intervals themselves. Otherwise: the cells
// between consecutive distinct times, each with its rising owner, else its falling
// owner (inside a cell both rules 1 and 3 apply; rule 1 comes first).
int profile_piece_count() {
  if (times_non_decreasing) return std::max(last_point - first_point, 0);
  return std::max(distinct_count - 1, 0);
}

void profile_piece(int k, float& left, float& right, int& owner) {
  if (times_non_decreasing) {
    owner = first_point + 1 + k;
    left = T[owner - 1];
    right = T[owner];
    return;
  }
  left = distinct_times[k];
  right = distinct_times[k + 1];
  owner = rising_owner[k] != 0 ? rising_owner[k] : falling_owner[k];
}

}  // namespace driver

