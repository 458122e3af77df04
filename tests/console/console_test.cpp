// The console layer through its public routines, for what a whole run cannot reach or
// tell apart: real texts, record layout and carriage control, console reads, the
// free-form pair syntax and the floating-point traps.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cfenv>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "child.h"
#include "console.h"

using testsupport::ChildRun;
using testsupport::run_in_child;
using testsupport::visible;

namespace {

void say(const std::string& text) {
  if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) _exit(91);
}

TEST(RealText, WorkedExamplesInTheirField) {
  using limits = std::numeric_limits<float>;
  const struct { float value; const char* field; } cases[] = {
      {0.0f, "   0.000000E+00"}, {0.001f, "   1.000000E-03"}, {0.5f, "   5.000000E-01"}, {1.0f, "       1.000000"},
      {3.14159265f, "       3.141593"}, {99.99999f, "      99.999990"}, {1234.5f, "    1234.500000"},
      {-1234.5f, "   -1234.500000"}, {200000.0f, "  200000.000000"}, {8388607.5f, " 8388608.000000"},
      {10000000.0f, "   1.000000E+07"}, {12345678.0f, "   1.234568E+07"}, {1.0E-10f, "   1.000000E-10"},
      {-2.5E-5f, "  -2.500000E-05"},
      // The form is chosen before rounding; a carry out of the first digit raises the
      // exponent; a negative zero and values that are not finite show no sign.
      {0.99999994f, "   9.999999E-01"}, {9.9999998e-32f, "   1.000000E-31"}, {9999999.0f, " 9999999.000000"},
      {-0.0f, "   0.000000E+00"}, {FLT_MAX, "   3.402823E+38"}, {1.4e-45f, "   1.401298E-45"},
      {-limits::infinity(), "  1#INF........"}, {-limits::quiet_NaN(), "  1#IND........"},
      {limits::quiet_NaN(), "  1#QNAN......."}, {limits::signaling_NaN(), "  1#SNAN......."}};
  for (const auto& c : cases) {
    const std::string text = format_real_list(c.value);
    EXPECT_EQ(std::string(15 - text.size(), ' ') + text, c.field) << c.value;
  }
  EXPECT_EQ(format_real_exponent(-250.0f) + format_real_exponent(200000.0f), "-2.500000E+022.000000E+05");
}

// Each scenario's bytes are in expected/<name>.out, derived by hand from the layout rules.
TEST(ConsoleBytes, LayoutCarriageControlAndEnds) {
  const struct { const char* name; void (*body)(); int status; } scenarios[] = {
      {"layout", [] {
         // Numbers after numbers get a separator, texts never do; a negative length counts as 0.
         begin_list_record(), put_integer_item(7), put_real_item(2.0f), end_list_record();
         begin_list_record(), put_integer_item(5), put_text_item("x"), put_text_item("no", -3), end_list_record();
         begin_list_record(), put_integer_item(-2147483647 - 1), put_integer_item(0), end_list_record();
         // Texts that fill 79 columns, one character more (an empty line follows), two more;
         // a text cut at the room a number left.
         for (const char* tail : {"", "b", "bc"}) begin_list_record(), put_text_item(std::string(78, 'a') + tail), end_list_record();
         begin_list_record(), put_integer_item(1), put_text_item(std::string(70, 'x')), end_list_record();
         // A number that does not fit starts a new line with its own blanks; one as wide as
         // its field gets a blank for the carriage control, so no sign or digit is lost.
         begin_list_record(), put_text_item(std::string(70, 'y')), put_real_item(1.0f), end_list_record();
         begin_list_record(), put_text_item(std::string(70, 'y')), put_integer_item(-1234567890);
         put_text_item(std::string(60, 'z')), put_real_item(-1234567.0f), end_list_record();
       }, 0},
      // With no pending line and with one; an empty record; a record longer than 132
      // characters continues its line; the prompt keeps the cursor, the read's Enter
      // starts the next line, and a record behind a prompt is shown whole.
      {"carriage_control_and_prompt", [] {
         for (const char* text : {"1top", "0first", "0second", "1page", "+over", "---Warning-- Limit  ", ""})
           write_literal_record(text);
         write_literal_record(" " + std::string(131, 'p') + "0q");
         write_literal_record("   "), write_prompt(" Name: "), begin_console_read(), end_console_read();
         write_literal_record("   "), write_prompt(" UNIT 4? "), write_literal_record(" tail");
       }, 0},
      {"zero_first", [] { write_literal_record("0top"); }, 0},
      // The stop ends the pending line and the exit path ends it again; no line end
      // when a read has just ended the line.
      {"stop", [] { write_literal_record(" Execution stopped!"), stop_run(EXIT_ERROR_STOP); }, EXIT_ERROR_STOP},
      {"stop_text", [] { stop_run(EXIT_NORMAL, "Done"); }, 0},
      {"exit_after_read", [] { write_literal_record(" last"), begin_console_read(), end_console_read(), normal_exit(0); }, 0},
  };
  for (const auto& s : scenarios) {
    const ChildRun run = run_in_child(s.body);
    EXPECT_EQ(visible(run.out), visible(testsupport::read_file(std::string(EXPECTED_DIR) + s.name + ".out")));
    EXPECT_EQ(run.status, s.status) << s.name;
  }
}

// Reads every pair of `data` with scan_pair and shows them as "t c|" (%.9g), then
// "end t c" or "F<number> t c" with what the last read left. Each read starts with
// both items at 9, so a null value or a slash shows as 9. No conversion may trap.
std::string pairs(const std::string& data) {
  testsupport::write_file("pairs.txt", data);
  char fname[20];
  std::memcpy(fname, "pairs.txt           ", 20);
  OPEN_DATA_FILE(4, fname);
  std::string shown;
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  for (PairRead read = PairRead::Pair; read == PairRead::Pair;) {
    float t = 9.0f, c = 9.0f;
    int error = 0;
    char text[64];
    read = scan_pair(t, c, error);
    if (read == PairRead::DataError) std::snprintf(text, sizeof text, "F%d %.9g %.9g", error, double(t), double(c));
    if (read != PairRead::DataError)
      std::snprintf(text, sizeof text, read == PairRead::End ? "end %.9g %.9g" : "%.9g %.9g|", double(t), double(c));
    shown += text;
  }
  fedisableexcept(FE_ALL_EXCEPT);
  close_data_unit();
  std::remove("pairs.txt");
  return shown;
}

TEST(ReadPair, FreeFormSyntax) {
  // Halfway between two doubles, the second of which rounds up to the next real: a
  // non-zero digit a thousand places on still decides; exactly halfway ties to even.
  const std::string halfway = "1.00000005960464488641292746251565404236316680908203125";
  const struct { std::string data, shown; } cases[] = {
      // Separators, record ends and blank lines as blanks, the rest of a record discarded,
      // a lone CR ending its record, a value across a block boundary of the file.
      {"1 2\n3,4\n5\t6\n  7 ,\t8\n9\t, 10\n\n  \t\n1\n\n2\n", "1 2|3 4|5 6|7 8|9 10|1 2|end 9 9"},
      {"5\n6 7\n8 9 time 'x' (3\n4 5 6\n1\r2 junk\n3\r\n4 5", "5 6|8 9|4 5|1 3|4 5|end 9 9"},
      {"1 2\n3\n", "1 2|end 3 9"},  // a time cut by the end of the file stays
      {std::string(65530, ' ') + "12345.678 -9e-1\n", "12345.6777 -0.899999976|end 9 9"},
      // Null values and the slash keep what the items held; repeat counts.
      {",5\n5 /\n/\n7,,\n,\n8\n 2 , , 3\n5,\n,6\n5\n,6\n", "9 5|5 9|9 9|7 9|9 8|2 9|5 9|5 6|end 9 9"},
      {"2*3.5\n3*1 9\n1*7 8\n12*-1.5e1\n1*,6\n1* 6\n2*\n", "3.5 3.5|1 1|7 8|-15 -15|9 6|9 6|9 9|end 9 9"},
      // Number forms; to double first, then to a real (1 + 2^-24 + 1e-31 ties to even).
      {"1.5E2 1.5D2\n1.5+2 1.5d2\n15000-2 1500.e-1\n+7 -.5\n5. 0.001\n-0 1e+0\n",
       "150 150|150 150|150 150|7 -0.5|5 0.00100000005|-0 1|end 9 9"},
      {"1.0000000596046447753906250000001 16777217\n", "1 16777216|end 9 9"},
      {"+" + halfway + std::string(1000, '0') + "1 +" + halfway + "\n", "1.00000012 1|end 9 9"},
      // Up to the bound a magnitude above the largest real reads as the largest; past it
      // is an error. Underflow and extreme exponents convert without a trap.
      {"3.402823466385289E+38 -3.4028234663852886E38\n3.4028235e38 1\n", "3.40282347e+38 -3.40282347e+38|F6512 9 9"},
      {"1e-50 -1e-400\n1e-320 1.0e-0000000000000000000000001\n1e-45 0e99999999999\n0." + std::string(3000, '0') +
           "1e3001 " + std::string(400, '9') + "e-400\n", "0 -0|0 0.100000001|1.40129846e-45 0|1 1|end 9 9"},
  };
  for (const auto& c : cases) EXPECT_EQ(pairs(c.data), c.shown) << visible(c.data.substr(0, 80));
}

TEST(ConsoleRead, TerminalNamesAndLoneCarriageReturns) {
  // A name line typed on a terminal: 130 characters fit, 131 do not; Ctrl-D, and
  // character 26 typed literally (after Ctrl-V) at the end of a line, end the input.
  const struct { std::string typed; int error; } typed[] = {
      {std::string(130, 'a') + "\n", 0}, {std::string(131, 'a') + "\n", F_LINE_TOO_LONG},
      {"\x04", F_END_OF_FILE}, {"abc\x16\x1a\n", F_END_OF_FILE}};
  for (const auto& c : typed) {
    const ChildRun run = run_in_child([&] {
      int master = -1, slave = -1;
      if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || dup2(slave, STDIN_FILENO) < 0 ||
          ::write(master, c.typed.data(), c.typed.size()) < 0)
        _exit(90);
      char fname[20];
      READ_FILE_NAME(fname);
      say(std::string(fname, 20));
    });
    EXPECT_EQ(visible(run.err), c.error ? visible("\r\nrun-time error F" + std::to_string(c.error) + ": READ(CON)\r\n- " +
                                                  std::string(io_error_message(c.error)) + "\r\n") : "");
    EXPECT_EQ(run.out + std::to_string(run.status), c.error ? "1" : std::string(20, 'a') + "0");
  }
  // A lone CR ends a line; the byte after it, read to see whether it is an LF, starts the next.
  const ChildRun lines = run_in_child([] {
    for (int i = 0; i < 6; ++i) {
      char line[8], shown[16];
      const int n = console_read_line(line, 8);
      say(n < 0 ? "[end]" : std::string(shown, std::size_t(std::snprintf(shown, 16, "[%.*s]", n, line))));
    }
  }, "ab\rcd\r\nef\r\rg");
  EXPECT_EQ(lines.out, "[ab][cd][ef][][g][end]");
}

volatile float f_zero = 0.0f, f_one = 1.0f, f_large = FLT_MAX, f_tiny = 1.0e-30f, f_sink = 0.0f;
volatile int i_zero = 0, i_sink = 0;
// The integer division must reach the processor's trap, also in a build whose
// undefined-behaviour checks would stop it first.
__attribute__((no_sanitize("integer-divide-by-zero"))) void divide_integer_by_zero() { i_sink = 7 / i_zero; }

TEST(RuntimeReport, TrapsEndTheRunAfterTheShownRecords) {
  const char* const divide = "M6103: MATH\r\n- floating-point error: divide by zero";
  const struct { void (*operation)(); std::string report; } cases[] = {  // no report: the run goes on
      {[] { f_sink = f_one / f_zero; }, divide}, {divide_integer_by_zero, divide},
      {[] { f_sink = f_large * f_large; }, "M6104: MATH\r\n- floating-point error: overflow"},
      {[] { f_sink = f_zero / f_zero; }, "M6101: MATH\r\n- floating-point error: invalid"},
      {[] { runtime_io_error(42, IoStatement::Close, "d.txt", ""); }, "F0042: CLOSE(d.txt)\r\n"},
      // Underflow to zero, a denormal result, a denormal operand and an inexact result.
      {[] { f_sink = f_tiny * f_tiny; f_sink = f_tiny * 1.0e-10f; f_sink = f_sink * f_one; f_sink = f_one / 3.0f; }, ""},
  };
  for (const auto& c : cases) {
    const ChildRun run = run_in_child([&] {
      install_floating_point_traps();
      write_literal_record(" Area =");
      c.operation();
      write_literal_record(" went on");
    });
    EXPECT_EQ(visible(run.err), c.report.empty() ? "" : visible("\r\nrun-time error " + c.report + "\r\n"));
    EXPECT_EQ(run.out + std::to_string(run.status), c.report.empty() ? "Area =\r\nwent on0" : "Area =\r\n1");
  }
}

}  // namespace
