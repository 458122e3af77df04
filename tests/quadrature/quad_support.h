// Shared helpers of the quadrature tests: the run's floating-point traps, a work
// area, a call of the adaptive core under a routine level of its own, and the
// console bytes expected from a list of records.
#pragma once

#include <fenv.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "child.h"
#include "errors.h"
#include "quadrature.h"

// Invalid operation, division by zero and overflow trap as in a real run, so that a
// spurious one ends the test binary.
class FloatingPointTraps : public ::testing::Environment {
 public:
  void SetUp() override { feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW); }
};
inline ::testing::Environment* const TRAPS =
    ::testing::AddGlobalTestEnvironment(new FloatingPointTraps);

inline constexpr int WORK = 200000;
struct Work {
  float xl[WORK], xr[WORK], si[WORK], se[WORK];
  int order[WORK];
};
inline Work W;

struct Outcome {
  float result = -1.0f, errval = -1.0f;
  int nfcall = -1, ier = -1, nsub = -1;
};

// The rule switches user mode of the current level around the integrand calls; a
// level of the test's own keeps the user level untouched.
inline Outcome adapt(Integrand f, float a, float b, float errabs, float errrel, int maxsub) {
  Outcome o;
  E1PSH("QTEST ");
  QADAPT(f, a, b, errabs, errrel, maxsub, o.result, o.errval, o.nfcall, o.ier, W.xl, W.xr,
         W.si, W.se, W.order, o.nsub);
  E1POP("QTEST ");
  return o;
}

// Console bytes of records whose carriage-control character is a blank: it is not
// shown, and every record but the first of the run starts on a new line.
inline std::string shown(std::initializer_list<std::string> records) {
  std::string bytes;
  bool first = true;
  for (const std::string& r : records) {
    if (!first) bytes += "\r\n";
    if (!r.empty()) bytes += r.substr(1);
    first = false;
  }
  return bytes;
}
inline const std::string STOPPED = "\r\nStop - Program terminated.\r\n\r\n";

inline void expect_run(const testsupport::ChildRun& run, const std::string& bytes, int status) {
  EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(bytes));
  EXPECT_EQ(run.status, status);
}
