// Console records: real-number texts, list-directed layout, carriage control, the
// stop and the exit path, checked as the exact bytes a child process writes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "child.h"
#include "console.h"

using testsupport::ChildRun;
using testsupport::run_in_child;
using testsupport::visible;

namespace {

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

// The 15-column field of a real item.
std::string real_field(float value) {
  std::string text = format_real_list(value);
  return blanks(15 - static_cast<int>(text.size())) + text;
}

float from_bits(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

ChildRun run(void (*body)()) { return run_in_child(body); }

#define EXPECT_BYTES(expected, actual) \
  EXPECT_EQ(expected, actual) << "expected:\n" << visible(expected) << "\nactual:\n" << visible(actual)

}  // namespace

TEST(RealText, WorkedExamples) {
  struct Case {
    float value;
    const char* text;
    int leading_blanks;
  };
  const Case cases[] = {
      {0.0f, "0.000000E+00", 3},      {0.001f, "1.000000E-03", 3},
      {0.5f, "5.000000E-01", 3},      {1.0f, "1.000000", 7},
      {3.14159265f, "3.141593", 7},   {99.99999f, "99.999990", 6},
      {1234.5f, "1234.500000", 4},    {-1234.5f, "-1234.500000", 3},
      {200000.0f, "200000.000000", 2}, {8388607.5f, "8388608.000000", 1},
      {10000000.0f, "1.000000E+07", 3}, {12345678.0f, "1.234568E+07", 3},
      {1.0E-10f, "1.000000E-10", 3},  {-2.5E-5f, "-2.500000E-05", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(real_field(c.value), blanks(c.leading_blanks) + c.text) << c.value;
  }
}

TEST(RealText, FormIsChosenBeforeRoundingAndCarriesRaiseTheExponent) {
  // The largest real below 1 keeps the exponent form and rounds down.
  EXPECT_EQ(format_real_list(0.99999994f), "9.999999E-01");
  // Seven nines and a 7 in the eighth digit carry into a new leading 1.
  EXPECT_EQ(format_real_list(9.9999998e-32f), "1.000000E-31");
  // Just below 10000000: fixed form with seven digits before the point.
  EXPECT_EQ(format_real_list(9999999.0f), "9999999.000000");
  EXPECT_EQ(format_real_list(-0.0f), "0.000000E+00");
  EXPECT_EQ(format_real_list(std::numeric_limits<float>::max()), "3.402823E+38");
  EXPECT_EQ(format_real_list(std::numeric_limits<float>::denorm_min()), "1.401298E-45");
}

TEST(RealText, ExponentFormForParameters) {
  EXPECT_EQ(format_real_exponent(0.001f), "1.000000E-03");
  EXPECT_EQ(format_real_exponent(-0.001f), "-1.000000E-03");
  EXPECT_EQ(format_real_exponent(1.5f), "1.500000E+00");
  EXPECT_EQ(format_real_exponent(-250.0f), "-2.500000E+02");
  EXPECT_EQ(format_real_exponent(200000.0f), "2.000000E+05");
}

TEST(RealText, NonFiniteValues) {
  EXPECT_EQ(real_field(std::numeric_limits<float>::infinity()), "  1#INF........");
  EXPECT_EQ(real_field(-std::numeric_limits<float>::infinity()), "  1#INF........");
  EXPECT_EQ(real_field(from_bits(0xFFC00000u)), "  1#IND........");
  EXPECT_EQ(real_field(from_bits(0x7FC00000u)), "  1#QNAN.......");
  EXPECT_EQ(real_field(from_bits(0x7F800001u)), "  1#SNAN.......");
}

TEST(ListRecord, FirstRecordHasNoLineEndAndLaterOnesDo) {
  ChildRun r = run([] {
    begin_list_record();
    put_text_item("  ");
    end_list_record();
    begin_list_record();
    put_text_item("Total number of data points=");
    put_integer_item(150);
    end_list_record();
    begin_list_record();
    put_text_item("Area under the curve (peak area?) =");
    put_real_item(1234.5f);
    end_list_record();
  });
  EXPECT_BYTES(std::string("  ") + "\r\nTotal number of data points=" + blanks(8) + "150" +
                   "\r\nArea under the curve (peak area?) =" + blanks(4) + "1234.500000",
               r.out);
  EXPECT_EQ(r.status, 0);
}

TEST(ListRecord, NumbersAfterNumbersGetASeparator) {
  ChildRun r = run([] {
    begin_list_record();
    put_integer_item(7);
    put_real_item(2.0f);
    end_list_record();
    begin_list_record();
    put_integer_item(5);
    put_text_item("x");
    end_list_record();
    begin_list_record();
    put_integer_item(-2147483647 - 1);
    put_integer_item(0);
    end_list_record();
  });
  EXPECT_BYTES(blanks(10) + "7" + blanks(8) + "2.000000" + "\r\n" + blanks(10) + "5x" +
                   "\r\n-2147483648" + blanks(11) + "0",
               r.out);
}

TEST(ListRecord, LongestResultLineFitsExactly) {
  ChildRun r = run([] {
    begin_list_record();
    put_text_item("t=0, c=");
    put_real_item(4.0f);
    put_text_item(" data point was added to calculate area above the curve.");
    end_list_record();
  });
  EXPECT_BYTES("t=0, c=" + real_field(4.0f) +
                   " data point was added to calculate area above the curve.",
               r.out);
  EXPECT_EQ(r.out.size(), 78u);  // 79 columns less the carriage-control blank
}

TEST(ListRecord, TextItemsLongerThanTheRoomAreSplit) {
  const std::string fill(78, 'a');
  ChildRun r = run_in_child([&] {
    // 78 characters fill the 79 columns with the leading blank: one line.
    begin_list_record();
    put_text_item(fill);
    end_list_record();
    // One more: written whole (80 characters) and an empty line follows.
    begin_list_record();
    put_text_item(fill + "b");
    end_list_record();
    // Two more: the last character goes to a new line.
    begin_list_record();
    put_text_item(fill + "bc");
    end_list_record();
    // A text after a number that no longer fits is cut at the room.
    begin_list_record();
    put_integer_item(1);
    put_text_item(std::string(70, 'x'));
    end_list_record();
  });
  EXPECT_BYTES(fill + "\r\n" + fill + "b" + "\r\n" + "\r\n" + fill + "b" + "\r\n" + "c" +
                   "\r\n" + blanks(10) + "1" + std::string(68, 'x') + "\r\n" + "xx",
               r.out);
}

TEST(ListRecord, NumberThatDoesNotFitStartsANewLine) {
  ChildRun r = run_in_child([] {
    begin_list_record();
    put_text_item(std::string(70, 'y'));
    put_real_item(1.0f);
    end_list_record();
  });
  // The number's own pending blanks start the new line; the first is consumed as
  // carriage control like any record's.
  EXPECT_BYTES(std::string(70, 'y') + "\r\n" + blanks(6) + "1.000000", r.out);
}

TEST(ListRecord, NegativeLengthTextCountsAsEmpty) {
  ChildRun r = run([] {
    begin_list_record();
    put_text_item("ignored", -3);
    put_integer_item(3);
    end_list_record();
  });
  EXPECT_BYTES(blanks(10) + "3", r.out);
}

TEST(CarriageControl, FirstCharacterDecidesTheSeparation) {
  ChildRun r = run([] {
    write_literal_record("0first");   // no pending line: CR LF
    write_literal_record("0second");  // pending: CR LF CR LF
    write_literal_record("1page");
    write_literal_record("+over");
    write_literal_record("---Warning-- too many data points. Limit 200000  ");
    write_literal_record("");  // an empty record shows as one blank
  });
  EXPECT_BYTES(std::string("\r\nfirst") + "\r\n\r\nsecond" + "\r\n\f\r \rpage" + "\rover" +
                   "\r\n--Warning-- too many data points. Limit 200000  " + "\r\n",
               r.out);
}

TEST(CarriageControl, LongFormattedRecordsContinueInPieces) {
  const std::string record = " " + std::string(131, 'p') + std::string(20, 'q');
  ChildRun r = run_in_child([&] { write_literal_record(record); });
  EXPECT_BYTES(record.substr(1), r.out);
}

TEST(Prompt, CursorStaysBehindThePromptUntilTheRead) {
  ChildRun r = run([] {
    begin_list_record();
    put_text_item("  ");
    end_list_record();
    write_prompt(" Please enter the name of your data file: ");
    begin_console_read();
    end_console_read();
    begin_list_record();
    put_text_item("  ");
    end_list_record();
  });
  // The prompt follows a CR LF and shows without its first blank; the record after
  // the read starts on the new line the user's Enter made.
  EXPECT_BYTES(std::string("  ") + "\r\nPlease enter the name of your data file: " + "  ", r.out);
}

TEST(Prompt, NextRecordAfterThePromptIsShownUnchanged) {
  ChildRun r = run([] {
    write_prompt(" UNIT 4? ");
    write_literal_record(" tail");
  });
  EXPECT_BYTES(std::string("UNIT 4?  tail"), r.out);
}

TEST(Stop, WritesTheStopMessageAndTheFinalLineEnd) {
  ChildRun r = run([] {
    begin_list_record();
    put_text_item("Execution stopped!");
    end_list_record();
    stop_run(EXIT_ERROR_STOP);
  });
  EXPECT_BYTES(std::string("Execution stopped!\r\nStop - Program terminated.\r\n\r\n"), r.out);
  EXPECT_EQ(r.status, EXIT_ERROR_STOP);
}

TEST(Stop, WithATextAndNothingPending) {
  ChildRun r = run([] { stop_run(EXIT_NORMAL, "Done"); });
  EXPECT_BYTES(std::string("Done\r\n"), r.out);
  EXPECT_EQ(r.status, 0);
}

TEST(Exit, EndsAPendingLineOnlyWhenOneIsPending) {
  ChildRun pending = run([] {
    write_literal_record(" last");
    normal_exit(0);
  });
  EXPECT_BYTES(std::string("last\r\n"), pending.out);
  ChildRun after_read = run([] {
    write_literal_record(" last");
    begin_console_read();
    end_console_read();
    normal_exit(0);
  });
  EXPECT_BYTES(std::string("last\r\n"), after_read.out);
}

TEST(Output, FullDiskEndsTheRunWithAReport) {
  ChildRun r = run_in_child([] {
    if (std::freopen("/dev/full", "w", stdout) == nullptr) _exit(99);
    write_literal_record(" hello");
    _exit(98);  // not reached: the failed write ends the run
  });
  EXPECT_EQ(r.status, EXIT_RUNTIME_ERROR);
  EXPECT_BYTES(std::string("\r\nrun-time error F6422: WRITE(CON)\r\n- no space left on device\r\n"),
               r.err);
}
