// Keeps the list of subinterval numbers in descending order of their error
// estimates after a bisection, and selects the subinterval to bisect next.
//
// The insertion is described step by step: the bisected subinterval moves past the
// entries one at a time, then the new one does the same from the bottom. While the
// list is in order, each of those walks stops where a binary search over the
// ordered positions finds the first entry it does not pass, and the entries it
// passes move as one block: the same positions, the same ties, in logarithmic
// time. The walks are taken literally whenever the order cannot be relied on:
// once only a leading part of the list is kept (late in a long integration), and
// for the rest of an integration in which an error estimate was NaN or the
// bisected half had the smaller error; they compare entries one at a time, and
// only that order of comparisons decides their result in such lists.

#include <algorithm>
#include <cstring>

#include "internal.h"
#include "quadrature.h"

namespace {

// Working storage (not re-entrant).
float e_bis = 0.0f;
float e_new = 0.0f;
int top = 0;
// True while ERRORD is known to be in descending order of SUBERR (set at the first
// bisection of an integration, cleared by the first call that cannot keep it).
bool in_order = true;

using quadrature_internal::at;
using quadrature_internal::sorted_top;

// The first position p in [first, last] (last + 1 when there is none) at which
// `stops(SUBERR(ERRORD(p)))` holds; it must hold from some position on.
template <typename Stops>
int first_stop(const float SUBERR[], const int ERRORD[], int first, int last, Stops stops) {
  int count = last - first + 1;
  int p = first;
  while (count > 0) {
    const int half = count / 2;
    if (stops(SUBERR[ERRORD[p + half - 1] - 1])) {
      count = half;
    } else {
      p += half + 1;
      count -= half + 1;
    }
  }
  return p;
}

// Moves ERRORD(from..to) by `shift` places (+1 or -1); nothing when from > to.
void move_block(int ERRORD[], int from, int to, int shift) {
  if (from > to) return;
  std::memmove(ERRORD + from - 1 + shift, ERRORD + from - 1,
               static_cast<std::size_t>(to - from + 1) * sizeof(int));
}

// The insertion over a list in order.
void insert_in_order(int NSUB, int IBIS, const float SUBERR[], int ERRORD[], int& KBIS) {
  // The bisected subinterval passes the entries above it with smaller errors.
  if (KBIS != 1) {
    const int k = first_stop(SUBERR, ERRORD, 1, KBIS - 1, [](float e) { return !(e_bis <= e); });
    move_block(ERRORD, k, KBIS - 1, +1);
    KBIS = k;
  }
  const int top1 = top - 1;
  const int start = KBIS + 1;
  // It goes ahead of the first entry below whose error is not larger.
  const int i = first_stop(SUBERR, ERRORD, start, top1, [](float e) { return e_bis >= e; });
  move_block(ERRORD, start, i - 1, -1);
  if (i > top1) {
    at(ERRORD, top1) = IBIS;
    at(ERRORD, top) = NSUB;
    return;
  }
  at(ERRORD, i - 1) = IBIS;
  // The new subinterval goes ahead of every entry below whose error is not larger.
  const int p = first_stop(SUBERR, ERRORD, i, top1, [](float e) { return !(e_new < e); });
  move_block(ERRORD, p, top1, +1);
  at(ERRORD, p) = NSUB;
}

// The insertion walked one entry at a time.
void insert_stepwise(int NSUB, int IBIS, const float SUBERR[], int ERRORD[], int& KBIS) {
  // During extrapolation the bisected subinterval sat at position KBIS > 1; its
  // error may now be larger than that of the entries above it: let those entries
  // move down past it, leaving the free position at KBIS.
  if (KBIS != 1) {
    const int passes = KBIS - 1;
    for (int n = 0; n < passes; ++n) {
      const int s = at(ERRORD, KBIS - 1);
      if (e_bis <= at(SUBERR, s)) break;
      at(ERRORD, KBIS) = s;
      KBIS = KBIS - 1;
    }
  }

  const int top1 = top - 1;
  const int start = KBIS + 1;

  // The bisected subinterval goes ahead of the first entry whose error is not
  // larger than its own; entries above that point move up into the free place.
  int i = start;
  bool placed = false;
  for (; i <= top1; ++i) {
    const int s = at(ERRORD, i);
    if (e_bis >= at(SUBERR, s)) {
      placed = true;
      break;
    }
    at(ERRORD, i - 1) = s;
  }

  if (!placed) {
    at(ERRORD, top1) = IBIS;
    at(ERRORD, top) = NSUB;
    return;
  }
  at(ERRORD, i - 1) = IBIS;
  // The new subinterval is inserted from the bottom up, ahead of every entry
  // whose error equals its own.
  int k = top1;
  for (int j = i; j <= top1; ++j) {
    const int s = at(ERRORD, k);
    if (e_new < at(SUBERR, s)) {
      at(ERRORD, k + 1) = NSUB;
      return;
    }
    at(ERRORD, k + 1) = s;
    k = k - 1;
  }
  at(ERRORD, i) = NSUB;
}

}  // namespace

void quadrature_internal::reset_order() {
  e_bis = 0.0f;
  e_new = 0.0f;
  top = 0;
  in_order = true;
}

void QORDER(const int& MAXSUB, const int& NSUB, int& IBIS, float& EBIS,
            const float SUBERR[], int ERRORD[], int& KBIS) {
  if (NSUB <= 2) {
    // The caller has already given the half with the larger error number IBIS = 1.
    at(ERRORD, 1) = 1;
    at(ERRORD, 2) = 2;
    in_order = at(SUBERR, 1) >= at(SUBERR, 2);
  } else {
    e_bis = at(SUBERR, IBIS);
    // Only the leading part of ERRORD that can still be bisected is kept in order.
    top = sorted_top(MAXSUB, NSUB);
    e_new = at(SUBERR, NSUB);
    // The whole list is kept, and the bisected half has the larger error of the two
    // (neither is NaN): the insertion keeps the list in order.
    in_order = in_order && top == NSUB && e_bis >= e_new;
    if (in_order) {
      insert_in_order(NSUB, IBIS, SUBERR, ERRORD, KBIS);
    } else {
      insert_stepwise(NSUB, IBIS, SUBERR, ERRORD, KBIS);
    }
  }

  IBIS = at(ERRORD, KBIS);
  EBIS = at(SUBERR, IBIS);
}
