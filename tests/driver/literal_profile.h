// The profile by its literal rule, one interval after the other from the first:
// the reference the indexed PROFILE must match bit for bit. O(N) per call.
#pragma once

#include "driver.h"

namespace literal {

inline float line(int i, float x) {
  using driver::C;
  using driver::T;
  const double slope = (static_cast<double>(C[i]) - static_cast<double>(C[i - 1])) /
                       (static_cast<double>(T[i]) - static_cast<double>(T[i - 1]));
  return static_cast<float>(slope * (static_cast<double>(x) - static_cast<double>(T[i - 1])) +
                            static_cast<double>(C[i - 1]));
}

// The points first..N of driver::T and driver::C.
inline float profile(int first, float x) {
  using driver::T;
  float value = 0.0f;
  bool provisional = false;
  if (x == T[first]) {
    value = driver::C[first];
    provisional = true;
  }
  for (int i = first + 1; i <= driver::N; ++i)
    if (T[i - 1] < x && x <= T[i]) return line(i, x);
  if (provisional) return value;
  for (int i = first + 1; i <= driver::N; ++i)
    if (T[i] < T[i - 1] && T[i] <= x && x < T[i - 1]) return line(i, x);
  return 0.0f;
}

}  // namespace literal
