// Internal to the quadrature library (its interface is quadrature.h): the 1-based view
// of the work lists and the length of the part of ERRORD that is kept in order.
#pragma once

namespace quadrature_internal {

// Lists are described with positions from 1: position i is element [i - 1].
inline float& at(float list[], int i) { return list[i - 1]; }
inline float at(const float list[], int i) { return list[i - 1]; }
inline int& at(int list[], int i) { return list[i - 1]; }

// Once more than half the subintervals allowed exist, only the leading
// MAXSUB + 3 - NSUB positions of ERRORD can still be bisected before the limit: only
// they are kept in order.
inline int sorted_top(int maxsub, int nsub) {
  if (nsub > maxsub / 2 + 2) return maxsub + 3 - nsub;
  return nsub;
}

// Each file's part of quadrature_reset: its working storage as at the start of a run.
void reset_adapt();
void reset_epsilon();
void reset_order();
void reset_q2ags();
void reset_rule21();

}  // namespace quadrature_internal
