// Shared helpers of the quadrature tests: floating-point traps, a work area, the core
// under a routine level of its own, common integrands, console bytes of a child run.
#pragma once

#include <fenv.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "child.h"
#include "errors.h"
#include "quadrature.h"

// Invalid operation, division by zero and overflow trap as in a real run (children too).
class FloatingPointTraps : public ::testing::Environment {
  void SetUp() override { feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW); }
};
inline ::testing::Environment* const TRAPS =
    ::testing::AddGlobalTestEnvironment(new FloatingPointTraps);

inline constexpr int WORK = 200000;
struct Work { float xl[WORK], xr[WORK], si[WORK], se[WORK]; int order[WORK]; };
inline Work W;
struct Outcome { float result = -1.0f, errval = -1.0f; int nfcall = -1, ier = -1, nsub = -1; };

// The rule switches user mode of the current level: a level of the test's own keeps
// the user level untouched.
inline Outcome adapt(Integrand f, float a, float b, float errabs, float errrel, int maxsub) {
  Outcome o;
  E1PSH("QTEST ");
  QADAPT(f, a, b, errabs, errrel, maxsub, o.result, o.errval, o.nfcall, o.ier, W.xl, W.xr,
         W.si, W.se, W.order, o.nsub);
  E1POP("QTEST ");
  return o;
}

inline float expo(float x) { return std::exp(x); }
inline float inv_sqrt(float x) { return 1.0f / std::sqrt(x); }

// A message block on the console: an empty record, then the lines, each on a new line
// and shown without its carriage-control blank. The run stops after it (status 2), or
// goes on and shows the record " back" (status 0).
using Screen = std::pair<std::string, int>;
inline std::string block(std::initializer_list<std::string> lines) {
  std::string bytes;
  for (const std::string& l : lines) bytes += "\r\n" + (l.empty() ? l : l.substr(1));
  return bytes;
}
inline Screen stops(std::initializer_list<std::string> l) {
  return {block(l) + "\r\nStop - Program terminated.\r\n\r\n", 2};
}
inline Screen goes_on(std::initializer_list<std::string> l) { return {block(l) + "\r\nback", 0}; }
inline void expect_run(const testsupport::ChildRun& run, const Screen& screen) {
  EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(screen.first));
  EXPECT_EQ(run.status, screen.second);
}
