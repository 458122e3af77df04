// The run-time error report: its bytes on standard error, the exit path after it and
// the floating-point traps, each case in a child process. A full disk on standard
// output, and the report after a console read (no line end added), are checked
// through the executable (tests/e2e/loading_test.cpp).

#include <gtest/gtest.h>

#include <cfloat>
#include <string>

#include "child.h"
#include "console.h"

using namespace testsupport;

namespace {

// Shows one list record holding `text`, leaving its line pending.
void show(const char* text) {
  begin_list_record();
  put_text_item(text);
  end_list_record();
}

volatile float f_zero = 0.0f;
volatile float f_one = 1.0f;
volatile float f_large = FLT_MAX;
volatile float f_tiny = 1.0e-30f;
volatile float f_sink = 0.0f;
volatile int i_zero = 0;
volatile int i_sink = 0;

}  // namespace

TEST(RuntimeReport, LayoutForEachStatementKindAfterTheShownRecords) {
  const struct {
    int number;
    IoStatement statement;
    const char* unit;
    const char* message;
    const char* expected;
  } cases[] = {
      {6500, IoStatement::Read, "data1.txt", "x", "\r\nrun-time error F6500: READ(data1.txt)\r\n- x\r\n"},
      {6422, IoStatement::Write, "CON", "full", "\r\nrun-time error F6422: WRITE(CON)\r\n- full\r\n"},
      {6416, IoStatement::Open, "a b", "no", "\r\nrun-time error F6416: OPEN(a b)\r\n- no\r\n"},
      {6500, IoStatement::Close, "d.txt", "x", "\r\nrun-time error F6500: CLOSE(d.txt)\r\n- x\r\n"},
      {6500, IoStatement::Rewind, "d.txt", "x", "\r\nrun-time error F6500: REWIND(d.txt)\r\n- x\r\n"},
      {42, IoStatement::Read, "CON", "", "\r\nrun-time error F0042: READ(CON)\r\n\r\n"},  // no message
  };
  for (const auto& c : cases) {
    ChildRun run = run_in_child([&] {
      show("  ");
      show("Total");
      runtime_io_error(c.number, c.statement, c.unit, c.message);
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(visible(run.err), visible(c.expected));
    // The records shown stay, and the exit path ends the pending line.
    EXPECT_EQ(visible(run.out), visible("  \r\nTotal\r\n"));
  }
}

TEST(FloatingPointTraps, InvalidDivideByZeroAndOverflowEndTheRunOthersGoOn) {
  const std::string divide = "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n";
  const struct {
    void (*operation)();
    std::string err;  // empty: no trap, the run goes on
  } cases[] = {
      {[] { f_sink = f_one / f_zero; }, divide},
      {[] { i_sink = 7 / i_zero; }, divide},  // an integer division by zero is the same fault
      {[] { f_sink = f_large * f_large; },
       "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n"},
      {[] { f_sink = f_zero / f_zero; },
       "\r\nrun-time error M6101: MATH\r\n- floating-point error: invalid\r\n"},
      {[] {
         f_sink = f_tiny * f_tiny;    // underflows to zero
         f_sink = f_tiny * 1.0e-10f;  // a denormal result
         f_sink = f_sink * f_one;     // a denormal operand
         f_sink = f_one / 3.0f;       // inexact
       },
       ""},
  };
  for (const auto& c : cases) {
    ChildRun run = run_in_child([&] {
      install_floating_point_traps();
      show("  ");
      show("Area =");
      c.operation();
      show("went on");
    });
    EXPECT_EQ(run.status, c.err.empty() ? 0 : 1);
    EXPECT_EQ(visible(run.err), visible(c.err));
    // The records shown before a trap stay, and the pending line gets its line end.
    EXPECT_EQ(visible(run.out), visible(c.err.empty() ? "  \r\nArea =\r\nwent on" : "  \r\nArea =\r\n"));
  }
}
