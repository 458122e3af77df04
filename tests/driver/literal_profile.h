// The profile by its literal rule, walking the intervals first+1..N of driver::T and driver::C
// in order for every value, O(N) a call: the reference the indexed PROFILE matches bit for bit.
#pragma once

#include "driver.h"

namespace literal {

inline float line(int i, float x) {  // in double, rounded once
  using driver::C, driver::T;
  const double slope = (double(C[i]) - double(C[i - 1])) / (double(T[i]) - double(T[i - 1]));
  return float(slope * (double(x) - double(T[i - 1])) + double(C[i - 1]));
}

inline float profile(int first, float x) {
  using driver::C, driver::T;
  for (int i = first + 1; i <= driver::N; ++i)
    if (T[i - 1] < x && x <= T[i]) return line(i, x);
  if (x == T[first]) return C[first];
  for (int i = first + 1; i <= driver::N; ++i)
    if (T[i] < T[i - 1] && T[i] <= x && x < T[i - 1]) return line(i, x);
  return 0.0f;
}

}  // namespace literal
