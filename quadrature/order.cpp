// Keeps the list of subinterval numbers in descending order of their error
// estimates after a bisection, and selects the subinterval to bisect next.

#include "internal.h"
#include "quadrature.h"

namespace {

// Working storage (not re-entrant).
float e_bis = 0.0f;
float e_new = 0.0f;
int top = 0;

using quadrature_internal::at;
using quadrature_internal::sorted_top;

}  // namespace

void QORDER(const int& MAXSUB, const int& NSUB, int& IBIS, float& EBIS,
            const float SUBERR[], int ERRORD[], int& KBIS) {
  if (NSUB <= 2) {
    // The caller has already given the half with the larger error number IBIS = 1.
    at(ERRORD, 1) = 1;
    at(ERRORD, 2) = 2;
  } else {
    e_bis = at(SUBERR, IBIS);

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

    // Only the leading part of ERRORD that can still be bisected is kept in order.
    top = sorted_top(MAXSUB, NSUB);
    e_new = at(SUBERR, NSUB);
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
    } else {
      at(ERRORD, i - 1) = IBIS;
      // The new subinterval is inserted from the bottom up, ahead of every entry
      // whose error equals its own.
      int k = top1;
      bool inserted = false;
      for (int j = i; j <= top1; ++j) {
        const int s = at(ERRORD, k);
        if (e_new < at(SUBERR, s)) {
          at(ERRORD, k + 1) = NSUB;
          inserted = true;
          break;
        }
        at(ERRORD, k + 1) = s;
        k = k - 1;
      }
      if (!inserted) at(ERRORD, i) = NSUB;
    }
  }

  IBIS = at(ERRORD, KBIS);
  EBIS = at(SUBERR, IBIS);
}
