// The run-time error report and the floating-point traps, each in a child process. The
// READ, OPEN and WRITE reports are checked through the executable (tests/e2e).

#include <gtest/gtest.h>

#include <cfloat>
#include <string>

#include "child.h"
#include "console.h"

using namespace testsupport;

namespace {

volatile float f_zero = 0.0f, f_one = 1.0f, f_large = FLT_MAX, f_tiny = 1.0e-30f, f_sink = 0.0f;
volatile int i_zero = 0, i_sink = 0;

// The integer division by zero must reach the processor's trap, also in a build whose
// undefined-behaviour checks would stop it first.
__attribute__((no_sanitize("integer-divide-by-zero"))) void divide_integer_by_zero() {
  i_sink = 7 / i_zero;
}

}  // namespace

TEST(RuntimeReport, ReportsAndTrapsEndTheRunAfterTheShownRecords) {
  const char* const divide = "M6103: MATH\r\n- floating-point error: divide by zero";
  const struct {
    void (*operation)();
    std::string report;  // between "run-time error " and the closing CR LF; empty: the run goes on
  } cases[] = {
      {[] { runtime_io_error(6500, IoStatement::Close, "d.txt", "x"); }, "F6500: CLOSE(d.txt)\r\n- x"},
      {[] { runtime_io_error(6500, IoStatement::Rewind, "a b", "x"); }, "F6500: REWIND(a b)\r\n- x"},
      {[] { runtime_io_error(42, IoStatement::Read, "CON", ""); }, "F0042: READ(CON)\r\n"},  // no message
      {[] { f_sink = f_one / f_zero; }, divide},
      {divide_integer_by_zero, divide},  // an integer division by zero is the same fault
      {[] { f_sink = f_large * f_large; }, "M6104: MATH\r\n- floating-point error: overflow"},
      {[] { f_sink = f_zero / f_zero; }, "M6101: MATH\r\n- floating-point error: invalid"},
      // Underflow to zero, a denormal result, a denormal operand and an inexact result.
      {[] { f_sink = f_tiny * f_tiny; f_sink = f_tiny * 1.0e-10f; f_sink = f_sink * f_one; f_sink = f_one / 3.0f; },
       ""},
  };
  for (const auto& c : cases) {
    ChildRun run = run_in_child([&] {
      install_floating_point_traps();
      write_literal_record("   ");  // shown after their carriage-control blank
      write_literal_record(" Area =");
      c.operation();
      write_literal_record(" went on");
    });
    const bool ended = !c.report.empty();
    EXPECT_EQ(run.status, ended ? 1 : 0);
    EXPECT_EQ(visible(run.err), ended ? visible("\r\nrun-time error " + c.report + "\r\n") : "");
    // The records shown stay, and the pending line gets its line end.
    EXPECT_EQ(visible(run.out), visible(ended ? "  \r\nArea =\r\n" : "  \r\nArea =\r\nwent on"));
  }
}
