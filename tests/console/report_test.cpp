// The run-time error report: its bytes on standard error for each kind of
// statement, the exit path that follows it, the floating-point traps and the
// failing console write. Each case runs in a child process.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cfloat>
#include <cstring>
#include <string>

#include "child.h"
#include "console.h"

using testsupport::ChildRun;
using testsupport::run_in_child;
using testsupport::visible;

namespace {

#define EXPECT_BYTES(expected, actual) \
  EXPECT_EQ(expected, actual) << "expected:\n" << visible(expected) << "\nactual:\n" << visible(actual)

// Shows one list record holding `text`, leaving its line pending.
void show(const char* text) {
  begin_list_record();
  put_text_item(text);
  end_list_record();
}

void say(const char* text) {
  if (::write(STDOUT_FILENO, text, std::strlen(text)) < 0) _exit(91);
}

}  // namespace

TEST(RuntimeReport, LayoutForEachStatementKind) {
  struct Case {
    IoStatement statement;
    const char* expected;
  };
  const Case cases[] = {
      {IoStatement::Read, "\r\nrun-time error F6500: READ(data1.txt)\r\n- words here\r\n"},
      {IoStatement::Write, "\r\nrun-time error F6500: WRITE(data1.txt)\r\n- words here\r\n"},
      {IoStatement::Open, "\r\nrun-time error F6500: OPEN(data1.txt)\r\n- words here\r\n"},
      {IoStatement::Close, "\r\nrun-time error F6500: CLOSE(data1.txt)\r\n- words here\r\n"},
      {IoStatement::Rewind, "\r\nrun-time error F6500: REWIND(data1.txt)\r\n- words here\r\n"},
  };
  for (const Case& c : cases) {
    IoStatement statement = c.statement;
    ChildRun run = run_in_child([statement] {
      runtime_io_error(6500, statement, "data1.txt", "words here");
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_BYTES(std::string(c.expected), run.err);
    EXPECT_EQ(run.out, "");
  }
}

TEST(RuntimeReport, NumberHasFourDigitsAndEmptyMessageHasNoDash) {
  ChildRun run = run_in_child([] { runtime_io_error(42, IoStatement::Read, "CON", ""); });
  EXPECT_EQ(run.status, 1);
  EXPECT_BYTES(std::string("\r\nrun-time error F0042: READ(CON)\r\n\r\n"), run.err);
}

TEST(RuntimeReport, ConsoleOutputBeforeItIsKeptAndItsLineEnded) {
  ChildRun pending = run_in_child([] {
    show("  ");
    show("Total");
    runtime_io_error(F_END_OF_FILE, IoStatement::Read, "CON", "gone");
  });
  EXPECT_EQ(pending.status, 1);
  EXPECT_BYTES(std::string("  \r\nTotal\r\n"), pending.out);
  EXPECT_BYTES(std::string("\r\nrun-time error F6501: READ(CON)\r\n- gone\r\n"), pending.err);

  // After a console read the line is no longer pending: no line end is added.
  ChildRun after_read = run_in_child(
      [] {
        show("x");
        begin_console_read();
        char line[8];
        console_read_line(line, 8);
        end_console_read();
        runtime_io_error(F_END_OF_FILE, IoStatement::Read, "CON", "gone");
      },
      "typed\n");
  EXPECT_BYTES(std::string("x\r\n"), after_read.out);
}

TEST(RuntimeReport, LastStatementOfTheRunIsNamed) {
  ChildRun after_write = run_in_child([] {
    note_io_statement(IoStatement::Read, "data1.txt");
    show(" ");
    runtime_io_error_at_last_statement(F_END_OF_FILE, "end");
  });
  EXPECT_BYTES(std::string("\r\nrun-time error F6501: WRITE(CON)\r\n- end\r\n"), after_write.err);

  ChildRun after_read = run_in_child([] {
    show(" ");
    std::string name = "data1.txt";
    note_io_statement(IoStatement::Read, name);
    name = "changed";  // the unit name is kept as it was noted
    runtime_io_error_at_last_statement(F_READ_FAILED, "x");
  });
  EXPECT_BYTES(std::string("\r\nrun-time error F6500: READ(data1.txt)\r\n- x\r\n"), after_read.err);
}

TEST(RuntimeReport, FullDiskOnStandardOutput) {
  ChildRun run = run_in_child([] {
    int full = ::open("/dev/full", O_WRONLY);
    if (full < 0 || ::dup2(full, STDOUT_FILENO) < 0) _exit(90);
    show("  ");
    show("never shown");
  });
  EXPECT_EQ(run.status, 1);
  const std::string head = "\r\nrun-time error F6422: WRITE(CON)\r\n- ";
  ASSERT_GT(run.err.size(), head.size()) << visible(run.err);
  EXPECT_BYTES(head, run.err.substr(0, head.size()));
  EXPECT_EQ(run.err.substr(run.err.size() - 2), "\r\n");
  EXPECT_EQ(run.err.find("run-time error", 3), std::string::npos) << "one report only";
}

// ---------------------------------------------------------------------------
// Floating-point traps
// ---------------------------------------------------------------------------

namespace {

volatile float f_zero = 0.0f;
volatile float f_one = 1.0f;
volatile float f_large = FLT_MAX;
volatile float f_tiny = 1.0e-30f;
volatile float f_sink = 0.0f;
volatile int i_zero = 0;
volatile int i_sink = 0;

std::string trap_report(const char* number, const char* name) {
  return std::string("\r\nrun-time error ") + number + ": MATH\r\n- floating-point error: " + name +
         "\r\n";
}

}  // namespace

TEST(FloatingPointTraps, TrappingOperationsEndTheRunWithTheMathReport) {
  struct Case {
    void (*operation)();
    const char* number;
    const char* name;
  };
  const Case cases[] = {
      {[] { f_sink = f_one / f_zero; }, "M6103", "divide by zero"},
      {[] { f_sink = f_large * f_large; }, "M6104", "overflow"},
      {[] { f_sink = f_zero / f_zero; }, "M6101", "invalid"},
      {[] { i_sink = 7 / i_zero; }, "M6103", "divide by zero"},
  };
  for (const Case& c : cases) {
    void (*operation)() = c.operation;
    ChildRun run = run_in_child([operation] {
      install_floating_point_traps();
      show("  ");
      show("Area =");
      operation();
      show("not reached");
    });
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_BYTES(trap_report(c.number, c.name), run.err);
    // The records already shown stay, and the pending line gets its line end.
    EXPECT_BYTES(std::string("  \r\nArea =\r\n"), run.out);
  }
}

TEST(FloatingPointTraps, UnderflowDenormalsAndInexactResultsGoOn) {
  ChildRun run = run_in_child([] {
    install_floating_point_traps();
    f_sink = f_tiny * f_tiny;         // underflows to zero
    f_sink = f_tiny * 1.0e-10f;       // a denormal result
    f_sink = f_sink * f_one;          // a denormal operand
    f_sink = f_one / 3.0f;            // inexact
    say("went on");
  });
  EXPECT_EQ(run.status, 0) << visible(run.err);
  EXPECT_EQ(run.out, "went on");
  EXPECT_EQ(run.err, "");
}
