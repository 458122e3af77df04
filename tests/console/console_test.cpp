// The console layer through its public routines: real texts, the layout and carriage
// control of records, console reads, the free-form pair syntax and the trap reports.
// What a whole run shows (banner, results, prompts, reports) is checked through the
// executable; the cases here are those a run cannot reach or cannot tell apart.
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

std::string blanks(std::size_t n) { return std::string(n, ' '); }
void say(const std::string& text) {
  if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) _exit(91);
}
void text_record(const std::string& text) {
  begin_list_record();
  put_text_item(text);
  end_list_record();
}

TEST(RealText, WorkedExamplesInTheirField) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const struct { float value; const char* field; } cases[] = {
      {0.0f, "   0.000000E+00"}, {0.001f, "   1.000000E-03"}, {0.5f, "   5.000000E-01"},
      {1.0f, "       1.000000"}, {3.14159265f, "       3.141593"}, {99.99999f, "      99.999990"},
      {1234.5f, "    1234.500000"}, {-1234.5f, "   -1234.500000"}, {200000.0f, "  200000.000000"},
      {8388607.5f, " 8388608.000000"}, {10000000.0f, "   1.000000E+07"}, {12345678.0f, "   1.234568E+07"},
      {1.0E-10f, "   1.000000E-10"}, {-2.5E-5f, "  -2.500000E-05"},
      // The form is chosen before rounding; a carry out of the first digit raises the
      // exponent; a negative zero and values that are not finite show no sign.
      {0.99999994f, "   9.999999E-01"}, {9.9999998e-32f, "   1.000000E-31"}, {9999999.0f, " 9999999.000000"},
      {-0.0f, "   0.000000E+00"}, {FLT_MAX, "   3.402823E+38"}, {1.4e-45f, "   1.401298E-45"},
      {-inf, "  1#INF........"}, {-nan, "  1#IND........"}, {nan, "  1#QNAN......."},
      {std::numeric_limits<float>::signaling_NaN(), "  1#SNAN......."}};
  for (const auto& c : cases) {
    const std::string text = format_real_list(c.value);
    EXPECT_EQ(blanks(15 - text.size()) + text, c.field) << c.value;
  }
  EXPECT_EQ(format_real_exponent(-250.0f) + format_real_exponent(200000.0f), "-2.500000E+022.000000E+05");
}

TEST(ConsoleBytes, LayoutCarriageControlAndEnds) {
  const std::string fill(78, 'a');
  const struct { void (*body)(); std::string out; int status; } scenarios[] = {
      // Numbers after numbers get a separator, texts never do; a negative length counts as 0.
      {[] {
         begin_list_record(), put_integer_item(7), put_real_item(2.0f), end_list_record();
         begin_list_record(), put_integer_item(5), put_text_item("x"), put_text_item("no", -3), end_list_record();
         begin_list_record(), put_integer_item(-2147483647 - 1), put_integer_item(0), end_list_record();
       }, blanks(10) + "7" + blanks(8) + "2.000000\r\n" + blanks(10) + "5x\r\n-2147483648" + blanks(11) + "0", 0},
      // Texts that fill 79 columns, one character more (an empty line follows), two more;
      // a text cut at the room a number left.
      {[] {
         const std::string a(78, 'a');
         text_record(a), text_record(a + "b"), text_record(a + "bc");
         begin_list_record(), put_integer_item(1), put_text_item(std::string(70, 'x')), end_list_record();
       }, fill + "\r\n" + fill + "b\r\n\r\n" + fill + "b\r\nc\r\n" + blanks(10) + "1" + std::string(68, 'x') + "\r\nxx", 0},
      // A number that does not fit starts a new line with its own blanks; one as wide as
      // its field gets a blank for the carriage control, so no sign or digit is lost.
      {[] {
         begin_list_record(), put_text_item(std::string(70, 'y')), put_real_item(1.0f), end_list_record();
         begin_list_record(), put_text_item(std::string(70, 'y')), put_integer_item(-1234567890);
         put_text_item(std::string(60, 'z')), put_real_item(-1234567.0f), end_list_record();
       }, std::string(70, 'y') + "\r\n" + blanks(6) + "1.000000\r\n" + std::string(70, 'y') + "\r\n-1234567890" +
              std::string(60, 'z') + "\r\n-1234567.000000", 0},
      // Carriage control with no pending line and with one; an empty record; a record
      // longer than 132 characters continues its line.
      {[] {
         for (const char* text : {"1top", "0first", "0second", "1page", "+over", "---Warning-- Limit  ", ""})
           write_literal_record(text);
         write_literal_record(" " + std::string(131, 'p') + "0q");
       }, "\r\n\f\r \rtop\r\n\r\nfirst\r\n\r\nsecond\r\n\f\r \rpage\rover\r\n--Warning-- Limit  \r\n\r\n" +
              std::string(131, 'p') + "0q", 0},
      {[] { write_literal_record("0top"); }, "\r\ntop", 0},
      // The prompt keeps the cursor; the read's Enter starts the next line; a record
      // behind a prompt is shown whole.
      {[] {
         text_record("  "), write_prompt(" Name: "), begin_console_read(), end_console_read();
         text_record("  "), write_prompt(" UNIT 4? "), write_literal_record(" tail");
       }, "  \r\nName:   \r\nUNIT 4?  tail", 0},
      // The stop ends the pending line and the exit path ends it again; no line end
      // when a read has just ended the line.
      {[] { text_record("Execution stopped!"), stop_run(EXIT_ERROR_STOP); },
       "Execution stopped!\r\nStop - Program terminated.\r\n\r\n", EXIT_ERROR_STOP},
      {[] { stop_run(EXIT_NORMAL, "Done"); }, "Done\r\n", 0},
      {[] { write_literal_record(" last"), begin_console_read(), end_console_read(), normal_exit(0); }, "last\r\n", 0},
  };
  for (const auto& s : scenarios) {
    const ChildRun run = run_in_child(s.body);
    EXPECT_EQ(visible(run.out), visible(s.out));
    EXPECT_EQ(run.status, s.status) << visible(s.out);
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
    read = scan_pair(t, c, error);
    char text[64];
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
      {blanks(65530) + "12345.678 -9e-1\n", "12345.6777 -0.899999976|end 9 9"},
      // Null values and the slash keep what the items held.
      {",5\n5 /\n/\n7,,\n,\n8\n 2 , , 3\n5,\n,6\n5\n,6\n", "9 5|5 9|9 9|7 9|9 8|2 9|5 9|5 6|end 9 9"},
      // Repeat counts: copies, nulls, leftovers dropped.
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

// Names read from standard input, each shown as "[name]"; typed on a pseudo-terminal
// when `terminal`.
ChildRun names(const std::string& typed, bool terminal, int reads) {
  return run_in_child([&] {
    int master = -1, slave = -1;
    if (terminal && (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || dup2(slave, STDIN_FILENO) < 0 ||
                     ::write(master, typed.data(), typed.size()) < 0))
      _exit(90);
    for (int i = 0; i < reads; ++i) {
      char fname[20];
      READ_FILE_NAME(fname);
      say("[" + std::string(fname, 20) + "]");
    }
  }, terminal ? "" : typed);
}

TEST(ConsoleRead, NamesAndLines) {
  EXPECT_EQ(names("first.txt\r\nabcdefghijklmnopqrstuvwxyz\n\n\ta b\t\nlast", false, 5).out,
            "[first.txt           ][abcdefghijklmnopqrst][                    ][\ta b\t               ][last      "
            "          ]");
  const struct { std::string typed; const char* out; int error; } terminal_cases[] = {
      {std::string(130, 'a') + "\n", "[aaaaaaaaaaaaaaaaaaaa]", 0}, {std::string(131, 'a') + "\n", "", F_LINE_TOO_LONG},
      {"\x04", "", F_END_OF_FILE}, {"abc\x16\x1a\n", "", F_END_OF_FILE}};  // Ctrl-D; character 26 after Ctrl-V
  for (const auto& c : terminal_cases) {
    const ChildRun run = names(c.typed, true, 1);
    EXPECT_EQ(run.status, c.error ? 1 : 0) << visible(c.typed);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(visible(run.err), c.error ? visible("\r\nrun-time error F" + std::to_string(c.error) + ": READ(CON)\r\n- " +
                                                  std::string(io_error_message(c.error)) + "\r\n") : "");
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

TEST(RuntimeReport, TrapsAndReportsEndTheRunAfterTheShownRecords) {
  const char* const divide = "M6103: MATH\r\n- floating-point error: divide by zero";
  const struct { void (*operation)(); std::string report; } cases[] = {  // empty report: the run goes on
      {[] { runtime_io_error(42, IoStatement::Close, "d.txt", ""); }, "F0042: CLOSE(d.txt)\r\n"},
      {[] { runtime_io_error(6500, IoStatement::Rewind, "a b", "x"); }, "F6500: REWIND(a b)\r\n- x"},
      {[] { f_sink = f_one / f_zero; }, divide}, {divide_integer_by_zero, divide},
      {[] { f_sink = f_large * f_large; }, "M6104: MATH\r\n- floating-point error: overflow"},
      {[] { f_sink = f_zero / f_zero; }, "M6101: MATH\r\n- floating-point error: invalid"},
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
    const bool ended = !c.report.empty();
    EXPECT_EQ(run.status, ended ? 1 : 0);
    EXPECT_EQ(visible(run.err), ended ? visible("\r\nrun-time error " + c.report + "\r\n") : "");
    EXPECT_EQ(visible(run.out), visible(ended ? "Area =\r\n" : "Area =\r\nwent on"));  // the exit ends the line
  }
}

}  // namespace
