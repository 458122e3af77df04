// Console records: real-number texts, list-directed layout, carriage control, the
// stop and the exit path, checked as the exact bytes a child process writes.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "child.h"
#include "console.h"

using testsupport::visible;

namespace {

std::string blanks(std::size_t n) { return std::string(n, ' '); }

float from_bits(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void list(std::initializer_list<std::string> texts) {
  begin_list_record();
  for (const std::string& text : texts) put_text_item(text);
  end_list_record();
}

const std::string FILL(78, 'a');

struct Scenario {
  const char* name;
  void (*body)();
  std::string out;
  int status;
};

}  // namespace

TEST(RealText, WorkedExamplesInTheirField) {
  struct Case {
    float value;
    const char* field;  // the 15 columns of the item
  };
  const Case cases[] = {
      {0.0f, "   0.000000E+00"},   {0.001f, "   1.000000E-03"},   {0.5f, "   5.000000E-01"},
      {1.0f, "       1.000000"},   {3.14159265f, "       3.141593"}, {99.99999f, "      99.999990"},
      {1234.5f, "    1234.500000"}, {-1234.5f, "   -1234.500000"}, {200000.0f, "  200000.000000"},
      {8388607.5f, " 8388608.000000"}, {10000000.0f, "   1.000000E+07"},
      {12345678.0f, "   1.234568E+07"}, {1.0E-10f, "   1.000000E-10"}, {-2.5E-5f, "  -2.500000E-05"},
      // The form is chosen before rounding; a carry out of the first digit raises
      // the exponent; a negative zero has no sign.
      {0.99999994f, "   9.999999E-01"}, {9.9999998e-32f, "   1.000000E-31"},
      {9999999.0f, " 9999999.000000"}, {-0.0f, "   0.000000E+00"},
      {std::numeric_limits<float>::max(), "   3.402823E+38"},
      {std::numeric_limits<float>::denorm_min(), "   1.401298E-45"},
      // Values that are not finite show no sign.
      {-std::numeric_limits<float>::infinity(), "  1#INF........"},
      {from_bits(0xFFC00000u), "  1#IND........"}, {from_bits(0x7FC00000u), "  1#QNAN......."},
      {from_bits(0x7F800001u), "  1#SNAN......."},
  };
  for (const Case& c : cases) {
    const std::string text = format_real_list(c.value);
    EXPECT_EQ(blanks(15 - text.size()) + text, c.field) << c.value;
  }
  EXPECT_EQ(format_real_exponent(0.001f), "1.000000E-03");
  EXPECT_EQ(format_real_exponent(-250.0f), "-2.500000E+02");
  EXPECT_EQ(format_real_exponent(200000.0f), "2.000000E+05");
}

TEST(ConsoleBytes, Scenarios) {
  const Scenario scenarios[] = {
      {"first record has no line end before it, later ones do",
       [] {
         list({"  "});
         begin_list_record();
         put_text_item("Total number of data points=");
         put_integer_item(150);
         end_list_record();
         begin_list_record();
         put_text_item("Area under the curve (peak area?) =");
         put_real_item(1234.5f);
         end_list_record();
       },
       "  \r\nTotal number of data points=" + blanks(8) + "150\r\nArea under the curve (peak area?) =" +
           blanks(4) + "1234.500000",
       0},
      {"numbers after numbers get a separator, texts never do",
       [] {
         begin_list_record();
         put_integer_item(7);
         put_real_item(2.0f);
         end_list_record();
         begin_list_record();
         put_integer_item(5);
         put_text_item("x");
         put_text_item("ignored", -3);
         end_list_record();
         begin_list_record();
         put_integer_item(-2147483647 - 1);
         put_integer_item(0);
         end_list_record();
       },
       blanks(10) + "7" + blanks(8) + "2.000000\r\n" + blanks(10) + "5x\r\n-2147483648" + blanks(11) + "0", 0},
      {"the longest result line fits in 79 columns",
       [] {
         begin_list_record();
         put_text_item("t=0, c=");
         put_real_item(4.0f);
         put_text_item(" data point was added to calculate area above the curve.");
         end_list_record();
       },
       "t=0, c=       4.000000 data point was added to calculate area above the curve.", 0},
      {"text items longer than the room are split",
       [] {
         list({FILL});         // fills 79 columns: one line
         list({FILL + "b"});   // written whole, then an empty line
         list({FILL + "bc"});  // the last character on a new line
         begin_list_record();
         put_integer_item(1);
         put_text_item(std::string(70, 'x'));  // cut at the room left after the number
         end_list_record();
       },
       FILL + "\r\n" + FILL + "b\r\n\r\n" + FILL + "b\r\nc\r\n" + blanks(10) + "1" + std::string(68, 'x') + "\r\nxx",
       0},
      {"a number that does not fit starts a new line with its own blanks",
       [] {
         begin_list_record();
         put_text_item(std::string(70, 'y'));
         put_real_item(1.0f);
         end_list_record();
         // Numbers as wide as their field: the new line's carriage-control blank
         // comes first, so no sign or digit is taken for it.
         begin_list_record();
         put_text_item(std::string(70, 'y'));
         put_integer_item(-1234567890);
         put_text_item(std::string(60, 'z'));
         put_real_item(-1234567.0f);
         end_list_record();
       },
       std::string(70, 'y') + "\r\n" + blanks(6) + "1.000000\r\n" + std::string(70, 'y') +
           "\r\n-1234567890" + std::string(60, 'z') + "\r\n-1234567.000000",
       0},
      {"carriage control: 0, 1, +, blank and other characters; empty records",
       [] {
         write_literal_record("0first");
         write_literal_record("0second");
         write_literal_record("1page");
         write_literal_record("+over");
         write_literal_record("---Warning-- too many data points. Limit 200000  ");
         write_literal_record("");
       },
       "\r\nfirst\r\n\r\nsecond\r\n\f\r \rpage\rover\r\n--Warning-- too many data points. Limit 200000  \r\n", 0},
      {"a formatted record longer than 132 characters continues the line",
       [] { write_literal_record(" " + std::string(131, 'p') + std::string(20, 'q')); },
       std::string(131, 'p') + std::string(20, 'q'), 0},
      {"the prompt keeps the cursor; the read's Enter starts the next line",
       [] {
         list({"  "});
         write_prompt(" Please enter the name of your data file: ");
         begin_console_read();
         end_console_read();
         list({"  "});
         write_prompt(" UNIT 4? ");
         write_literal_record(" tail");  // shown unchanged after a prompt
       },
       "  \r\nPlease enter the name of your data file:   \r\nUNIT 4?  tail", 0},
      {"the stop ends the pending line, and the exit path ends it again",
       [] {
         list({"Execution stopped!"});
         stop_run(EXIT_ERROR_STOP);
       },
       "Execution stopped!\r\nStop - Program terminated.\r\n\r\n", EXIT_ERROR_STOP},
      {"a stop text and nothing pending", [] { stop_run(EXIT_NORMAL, "Done"); }, "Done\r\n", 0},
      {"no final line end when a read has just ended the line",
       [] {
         write_literal_record(" last");
         begin_console_read();
         end_console_read();
         normal_exit(0);
       },
       "last\r\n", 0},
  };
  for (const Scenario& s : scenarios) {
    testsupport::ChildRun run = testsupport::run_in_child(s.body);
    EXPECT_EQ(run.out, s.out) << s.name << "\nexpected:\n" << visible(s.out) << "\nactual:\n" << visible(run.out);
    EXPECT_EQ(run.status, s.status) << s.name;
  }
}

TEST(ConsoleBytes, FullDiskEndsTheRunWithAReport) {
  testsupport::ChildRun run = testsupport::run_in_child([] {
    if (std::freopen("/dev/full", "w", stdout) == nullptr) _exit(99);
    write_literal_record(" hello");
    _exit(98);  // not reached: the failed write ends the run
  });
  EXPECT_EQ(run.status, EXIT_RUNTIME_ERROR);
  EXPECT_EQ(run.err, "\r\nrun-time error F6422: WRITE(CON)\r\n- no space left on device\r\n");
}
