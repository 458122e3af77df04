// End-to-end tests of the loading dialogue: the built quintolex runs in a fresh
// temporary directory with redirected standard input; standard output, standard
// error and the exit status are compared byte for byte, and after every run the
// data files must be byte-identical to what the test wrote and no file other than
// an expected empty one may have appeared.
//
// The data are chosen so that the result lines are known without the program:
// points on one straight line (the quadrature is exact there), or, when the first
// time is above 0, a constant concentration, so that the point added at t = 0
// continues the same line.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child.h"
#include "console.h"
#include "transcript.h"

namespace {

using testsupport::ChildRun;
using testsupport::visible;

// The texts of the real fields of the result lines as the screen shows them
// (without the blanks that right-justify them). An empty `moved_c` means there is
// no "t=0, c=" record because the first time is not above 0.
struct Results {
  std::string area;
  std::string last_time;
  std::string moved_c;
  std::string cmax;
  std::string above;
};

// Points (0, 0) and (10, 10).
const Results kRising = {"50.000000", "10.000000", "", "10.000000", "50.000000"};
// No point at all: every value reads as 0.
const Results kNothing = {"0.000000E+00", "0.000000E+00", "", "0.000000E+00", "0.000000E+00"};

const std::string kRisingData = "0 0\n10 10\n";

// A real item: its text right-justified in 15 columns.
std::string field(const std::string& text) { return std::string(15 - text.size(), ' ') + text; }

e2e::Transcript& result_lines(e2e::Transcript& screen, const Results& r) {
  screen.line("Area under the curve (peak area?) =" + field(r.area))
      .line("Maximum time (x-axis) in your data file=" + field(r.last_time));
  if (!r.moved_c.empty()) {
    screen.line(" ").line("t=0, c=" + field(r.moved_c) +
                          " data point was added to calculate area above the curve.");
  }
  return screen.line("Maxiumum concentration (y-axis) =" + field(r.cmax))
      .line("Area above the curve =" + field(r.above))
      .pause_and_stop();
}

// The whole screen of an ordinary run whose name was accepted at the first prompt.
std::string ordinary_run(int count, const Results& r) {
  e2e::Transcript screen;
  screen.banner_and_name().loaded(count);
  return result_lines(screen, r).bytes();
}

// The screen of a run that a data error ends: the loading has begun after the blank
// record of the open, and the exit path ends that pending line.
std::string screen_until_data_error() {
  return e2e::Transcript().banner_and_name().line("  ").exit().bytes();
}

std::string report(const char* statement, const std::string& unit, int number) {
  return e2e::runtime_report("F" + std::to_string(number),
                             std::string(statement) + "(" + unit + ")",
                             std::string(io_error_message(number)));
}

std::string pairs_file(int count) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(count) * 16);
  for (int i = 0; i < count; ++i) {
    bytes += std::to_string(i) + ' ' + std::to_string(i) + '\n';
  }
  return bytes;
}

class Loading : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::make_temp_dir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A data file the run must leave byte-identical.
  void put(const std::string& name, const std::string& bytes) {
    testsupport::write_file(dir_ + "/" + name, bytes);
    files_[name] = bytes;
  }

  // A file the run is expected to create, empty.
  void expect_created(const std::string& name) { files_[name] = ""; }

  ChildRun run(const std::string& input, const std::vector<std::string>& args = {},
               const std::string& stdout_path = "") {
    ChildRun result = testsupport::run_program(QUINTOLEX_EXE, args, dir_, input, stdout_path);
    std::set<std::string> present;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      present.insert(entry.path().filename().string());
    }
    std::set<std::string> expected;
    for (const auto& [name, bytes] : files_) {
      expected.insert(name);
      EXPECT_EQ(testsupport::read_file(dir_ + "/" + name), bytes)
          << "the run changed the file " << name;
    }
    EXPECT_EQ(present, expected) << "files in the directory after the run";
    return result;
  }

  static void expect_run(const ChildRun& got, const std::string& out, const std::string& err,
                         int status) {
    EXPECT_EQ(got.signal, 0);
    EXPECT_EQ(got.status, status);
    EXPECT_EQ(visible(got.out), visible(out));
    EXPECT_EQ(visible(got.err), visible(err));
  }

  std::string dir_;
  std::map<std::string, std::string> files_;
};

// ---------------------------------------------------------------------------
// Ordinary loads
// ---------------------------------------------------------------------------

TEST_F(Loading, TwoColumnsOnOneLineLoadAndReport) {
  put("d1.txt", kRisingData);
  expect_run(run("d1.txt\n\n"), ordinary_run(2, kRising), "", 0);
}

TEST_F(Loading, FirstTimeAboveZeroIntegratesAgainFromZero) {
  // (2, 4), (4, 4): area 8 from 2 to 4; then from 0 the constant 4 gives 16, and
  // the area above is 4 * 4 - 16.
  put("flat.txt", "2 4\n4 4\n");
  expect_run(run("flat.txt\n\n"),
             ordinary_run(2, {"8.000000", "4.000000", "4.000000", "4.000000", "0.000000E+00"}),
             "", 0);
}

TEST_F(Loading, AllConcentrationsNegativeLeaveTheMaximumAtZero) {
  put("neg.txt", "0 -5\n10 -5\n");
  expect_run(run("neg.txt\n\n"),
             ordinary_run(2, {"-50.000000", "10.000000", "", "0.000000E+00", "50.000000"}), "", 0);
}

TEST_F(Loading, ExactlyTheTableCapacityLoadsEveryPair) {
  // Points (i, i), i = 0 .. 199999: area 199999^2 / 2 = 19999800000.5.
  const Results full = {"1.999980E+10", "199999.000000", "", "199999.000000", "1.999980E+10"};
  put("full.txt", pairs_file(200000));
  expect_run(run("full.txt\n\n"), ordinary_run(200000, full), "", 0);
}

TEST_F(Loading, ATimeAfterTheFullTableIsACutPairNotAnOverflow) {
  const Results full = {"1.999980E+10", "199999.000000", "", "199999.000000", "1.999980E+10"};
  put("full.txt", pairs_file(200000) + "7\n");
  expect_run(run("full.txt\n\n"), ordinary_run(200000, full), "", 0);
}

TEST_F(Loading, OnePairTooManyWarnsAndStopsWithStatusTwo) {
  put("over.txt", pairs_file(200001));
  std::string screen = e2e::Transcript()
                           .banner_and_name()
                           .line("  ")
                           .line("--Warning-- too many data points. Limit 200000  ")
                           .line("--Warning-- or y column # input error.        ")
                           .line("Execution stopped!")
                           .stop()
                           .bytes();
  expect_run(run("over.txt\n\n"), screen, "", 2);
}

TEST_F(Loading, LongDataFileWithoutFinalLineFeed) {
  // 300 points (i, i) over more than one read block, the last line unterminated:
  // area 299^2 / 2 = 44700.5.
  std::string data = pairs_file(300);
  data.pop_back();
  put("long.txt", data);
  expect_run(run("long.txt\n\n"),
             ordinary_run(300, {"44700.500000", "299.000000", "", "299.000000", "44700.500000"}),
             "", 0);
}

// The bundled sample taken through the command-line replacement of a blank name.
// Its results are checked against the trapezoid sums of its own points, within the
// quadrature's relative tolerance.
TEST_F(Loading, BundledSampleThroughTheCommandLine) {
  const std::string sample = std::string(QUINTOLEX_SOURCE_DIR) + "/examples/peak.txt";
  const std::string before = testsupport::read_file(sample);
  std::vector<double> t;
  std::vector<double> c;
  std::istringstream lines(before);
  for (double x, y; lines >> x >> y;) {
    t.push_back(x);
    c.push_back(y);
  }
  ASSERT_GT(t.size(), 100u);
  double under = 0.0;
  double cmax = 0.0;
  for (size_t i = 0; i < t.size(); ++i) {
    cmax = std::max(cmax, c[i]);
    if (i > 0) under += (t[i] - t[i - 1]) * (c[i] + c[i - 1]) / 2.0;
  }
  // From 0 the first point's concentration is held constant up to its time.
  const double from_zero = under + std::max(t[0], 0.0) * c[0];
  const double above = t.back() * cmax - from_zero;

  ChildRun got = run("\n\n", {sample});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(testsupport::read_file(sample), before);
  const std::string loading =
      e2e::Transcript().banner_and_name().loaded(static_cast<int>(t.size())).bytes();
  ASSERT_EQ(visible(got.out.substr(0, loading.size())), visible(loading));

  // The value after a label, read from the rest of the screen.
  auto value_after = [&](const std::string& label) {
    size_t at = got.out.find(label, loading.size());
    EXPECT_NE(at, std::string::npos) << label;
    return at == std::string::npos ? NAN : std::strtod(got.out.c_str() + at + label.size(), nullptr);
  };
  EXPECT_NEAR(value_after("(peak area?) ="), under, under * 1e-3);
  EXPECT_NEAR(value_after("in your data file="), t.back(), 1e-6 * t.back());
  EXPECT_NEAR(value_after("(y-axis) ="), cmax, 1e-6 * cmax);
  EXPECT_NEAR(value_after("Area above the curve ="), above, from_zero * 2e-3);
  if (t[0] > 0.0) {
    EXPECT_NEAR(value_after("t=0, c="), c[0], 1e-6 * c[0]);
  }
  EXPECT_TRUE(got.out.ends_with("Stop - Program terminated.\r\n\r\n"));
}

// ---------------------------------------------------------------------------
// The file name: blank names, replacement names, trimming, length
// ---------------------------------------------------------------------------

TEST_F(Loading, BlankNameTakesTheFirstCommandLineArgumentTrimmed) {
  put("d.txt", kRisingData);
  expect_run(run("\n\n", {"  d.txt ", "other.txt"}), ordinary_run(2, kRising), "", 0);
}

TEST_F(Loading, TypedNameIsUsedAndArgumentsAreIgnored) {
  put("d.txt", kRisingData);
  expect_run(run("d.txt\n\n", {"other.txt"}), ordinary_run(2, kRising), "", 0);
}

TEST_F(Loading, BlankNameWithoutArgumentsIsAskedForUntilOneIsGiven) {
  put("d.txt", kRisingData);
  e2e::Transcript screen;
  screen.banner_and_name();
  for (int ask = 0; ask < 3; ++ask) {
    screen.line("File name missing or blank - please enter file name").prompt("UNIT 4? ").read();
  }
  screen.loaded(2);
  // The name prompt and the first two "UNIT 4? " answers are blank; the third is
  // trimmed.
  expect_run(run("\n\n   \n  d.txt  \n\n"), result_lines(screen, kRising).bytes(), "", 0);
}

TEST_F(Loading, LeadingBlanksOfTheNameAreRemoved) {
  put("data1.txt", kRisingData);
  expect_run(run("   data1.txt\n\n"), ordinary_run(2, kRising), "", 0);
}

TEST_F(Loading, ATwentyFiveCharacterNameOpensItsFirstTwenty) {
  put("abcdefghijklmnopqrst", kRisingData);
  expect_run(run("abcdefghijklmnopqrstuvwxy\n\n"), ordinary_run(2, kRising), "", 0);
}

TEST_F(Loading, AMissingFileIsCreatedEmptyAndLoadsNothing) {
  expect_created("new.txt");
  expect_run(run("new.txt\n\n"), ordinary_run(0, kNothing), "", 0);
}

TEST_F(Loading, ATabIsPartOfTheName) {
  put("d.txt", kRisingData);
  expect_created("d.txt\t");
  expect_run(run("d.txt\t\n\n"), ordinary_run(0, kNothing), "", 0);
}

TEST_F(Loading, ANameThatCanNeitherBeOpenedNorCreatedEndsWithTheOpenReport) {
  expect_run(run("nodir/d.txt\n\n"), e2e::Transcript().banner_and_name().exit().bytes(),
             report("OPEN", "nodir/d.txt", F_OPEN_FAILED), 1);
}

TEST_F(Loading, EndOfInputAtTheNamePrompt) {
  // The read never completes, so the line behind the prompt is still pending and
  // the exit path ends it.
  std::string screen = e2e::Transcript().banner_and_name().raw("\r\n").bytes();
  expect_run(run(""), screen, report("READ", "CON", F_END_OF_FILE), 1);
}

TEST_F(Loading, EndOfInputAtTheUnitPrompt) {
  std::string screen = e2e::Transcript()
                           .banner_and_name()
                           .line("File name missing or blank - please enter file name")
                           .prompt("UNIT 4? ")
                           .exit()
                           .bytes();
  expect_run(run("\n"), screen, report("READ", "CON", F_END_OF_FILE), 1);
}

TEST_F(Loading, AFullDiskOnStandardOutputEndsWithTheWriteReport) {
  put("d.txt", kRisingData);
  ChildRun got = run("d.txt\n\n", {}, "/dev/full");
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(visible(got.err), visible(report("WRITE", "CON", F_DISK_FULL)));
}

TEST_F(Loading, ADataErrorNamesTheFileAsOpened) {
  put("bad.txt", "time conc\n");
  expect_run(run("   bad.txt  \n\n"), screen_until_data_error(),
             report("READ", "bad.txt", F_INVALID_REAL), 1);
}

// ---------------------------------------------------------------------------
// The free-form data syntax
// ---------------------------------------------------------------------------

// Test names for the tables below.
template <class Case>
std::string case_name(const ::testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

struct SyntaxCase {
  const char* name;
  std::string data;
  int count;
  Results shown;
};

void PrintTo(const SyntaxCase& c, std::ostream* os) { *os << c.name; }

class DataSyntax : public Loading, public ::testing::WithParamInterface<SyntaxCase> {};

TEST_P(DataSyntax, LoadsThePairsItStandsFor) {
  const SyntaxCase& c = GetParam();
  put("d.txt", c.data);
  expect_run(run("d.txt\n\n"), ordinary_run(c.count, c.shown), "", 0);
}

// Points (-3.5, -3.5), (6.5, 6.5): area (6.5^2 - 3.5^2) / 2 = 15, above 6.5^2 - 15.
const Results kRepeated = {"15.000000", "6.500000", "", "6.500000", "27.250000"};
// The single point (-3, 4): nothing to integrate, above -3 * 4.
const Results kCut = {"0.000000E+00", "-3.000000", "", "4.000000", "-12.000000"};
// Points (0, 0), (0.15, 0.15).
const Results kTenth = {"1.125000E-02", "1.500000E-01", "", "1.500000E-01", "1.125000E-02"};
// Points (0, 0), (10, 0).
const Results kZeroFlat = {"0.000000E+00", "10.000000", "", "0.000000E+00", "0.000000E+00"};

INSTANTIATE_TEST_SUITE_P(
    Records, DataSyntax,
    ::testing::Values(
        SyntaxCase{"commas_tabs_and_blanks", "0 , 0\n10\t,\t10\n", 2, kRising},
        SyntaxCase{"blank_lines_and_leading_blanks", "\n\n   0   0\n\n\n\t10 10\n\n", 2, kRising},
        SyntaxCase{"one_value_per_line", "0\n0\n10\n10\n", 2, kRising},
        SyntaxCase{"third_column_ignored", "0 0 99\n10 10 99\n", 2, kRising},
        SyntaxCase{"split_record_discards_the_rest", "0\n0 7\n10 10\n", 2, kRising},
        SyntaxCase{"pair_cut_by_the_end", "-3 4\n5\n", 1, kCut},
        SyntaxCase{"crlf_lines", "0 0\r\n10 10\r\n", 2, kRising},
        SyntaxCase{"crlf_one_value_per_line", "0\r\n0\r\n10\r\n10\r\n", 2, kRising},
        SyntaxCase{"lone_cr_discards_up_to_the_line_feed", "0 0\rtime conc\n10 10\n", 2,
                   kRising},
        SyntaxCase{"lone_cr_ends_the_value", "0\r99\n0\n10 10\n", 2, kRising},
        SyntaxCase{"lone_cr_at_the_end", "0 0\n10 10\r", 2, kRising},
        SyntaxCase{"last_line_without_line_feed", "0 0\n10 10", 2, kRising}),
    case_name<SyntaxCase>);

INSTANTIATE_TEST_SUITE_P(
    Values, DataSyntax,
    ::testing::Values(
        SyntaxCase{"leading_comma_is_a_null_time", ",0\n10,10\n", 2, kRising},
        SyntaxCase{"two_commas_give_a_null_concentration", "0,,7\n10 10\n", 2, kRising},
        SyntaxCase{"comma_before_the_record_end_is_no_null", "0,\n0\n10,10\n", 2, kRising},
        SyntaxCase{"slash_keeps_the_concentration", "0 / 7\n10 10\n", 2, kRising},
        SyntaxCase{"slash_alone_still_counts_a_pair", "/\n10 10\n", 2, kRising},
        SyntaxCase{"repeated_value", "2*-3.5\n6.5,6.5\n", 2, kRepeated},
        SyntaxCase{"repeated_nulls", "2*\n10 10\n", 2, kRising},
        SyntaxCase{"null_then_value", "1* 0\n10 10\n", 2, kRising},
        SyntaxCase{"copies_left_over_are_dropped", "3*0\n10 10\n", 2, kRising},
        SyntaxCase{"negative_exponent", "0 0\n1.5e-1 1.5e-1\n", 2, kTenth},
        SyntaxCase{"underflow_reads_as_zero", "0 1E-50\n10 1E-400\n", 2, kZeroFlat},
        // Just above the largest finite real but not above the bound: accepted (it
        // becomes the largest real); here it is a time the end of the file cuts.
        SyntaxCase{"value_at_the_bound_is_accepted", "0 0\n10 10\n3.402823466385289E+38\n", 2,
                   kRising}),
    case_name<SyntaxCase>);

// Every way of writing 150: the pair (150, 150) after (0, 0).
struct FormCase {
  const char* name;
  const char* text;
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.text; }

class NumberForms : public Loading, public ::testing::WithParamInterface<FormCase> {};

TEST_P(NumberForms, ReadAs150) {
  const std::string text = GetParam().text;
  put("d.txt", "0 0\n" + text + " " + text + "\n");
  expect_run(run("d.txt\n\n"),
             ordinary_run(2, {"11250.000000", "150.000000", "", "150.000000", "11250.000000"}), "",
             0);
}

INSTANTIATE_TEST_SUITE_P(
    Exponents, NumberForms,
    ::testing::Values(FormCase{"whole", "150"}, FormCase{"point", "150."},
                      FormCase{"upper_e", "1.5E2"}, FormCase{"lower_e", "1.5e2"},
                      FormCase{"upper_d", "1.5D2"}, FormCase{"lower_d", "1.5d2"},
                      FormCase{"bare_sign", "1.5+2"}, FormCase{"bare_minus", "1500-1"},
                      FormCase{"signed_exponent", "1.5E+02"}, FormCase{"plus_sign", "+150"},
                      FormCase{"leading_point", ".15E3"}, FormCase{"leading_zero", "0150.0"}),
    case_name<FormCase>);

// ---------------------------------------------------------------------------
// Data errors: the run ends with the READ report naming the data file
// ---------------------------------------------------------------------------

struct ErrorCase {
  const char* name;
  std::string data;
  int number;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class DataError : public Loading, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(DataError, EndsTheRunWithTheReadReport) {
  const ErrorCase& c = GetParam();
  put("d.txt", c.data);
  expect_run(run("d.txt\n\n"), screen_until_data_error(), report("READ", "d.txt", c.number), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DataError,
    ::testing::Values(
        ErrorCase{"header_line", "time conc\n0 0\n10 10\n", F_INVALID_REAL},
        ErrorCase{"letter_inside_a_value", "0 0\n1x5 2\n", F_INVALID_REAL},
        ErrorCase{"exponent_letter_without_digits", "0 1.5E\n", F_INVALID_REAL},
        ErrorCase{"exponent_sign_without_digits", "0 1.5E+\n", F_INVALID_REAL},
        ErrorCase{"sign_without_digits", "0 -\n", F_INVALID_REAL},
        ErrorCase{"two_points", "1..5 2\n", F_INVALID_REAL},
        ErrorCase{"quoted_text", "'abc' 1\n", F_TEXT_FOR_REAL},
        ErrorCase{"double_quoted_text", "0 \"abc\"\n", F_TEXT_FOR_REAL},
        ErrorCase{"parenthesised_pair", "(1,2) 3\n", F_TEXT_FOR_REAL},
        ErrorCase{"above_the_largest_real", "0 3.5E38\n", F_REAL_OUT_OF_RANGE},
        ErrorCase{"next_double_above_the_bound", "0 3.4028234663852894E+38\n",
                  F_REAL_OUT_OF_RANGE},
        ErrorCase{"negative_beyond_the_bound", "-1E39 0\n", F_REAL_OUT_OF_RANGE},
        ErrorCase{"beyond_double_range", "0 1E400\n", F_REAL_OUT_OF_RANGE},
        ErrorCase{"zero_repeat_count", "0*5 1\n", F_INVALID_REPEAT},
        ErrorCase{"fractional_repeat_count", "1.5*2 1\n", F_INVALID_REPEAT},
        ErrorCase{"repeat_count_after_repeat_count", "2*3*4\n", F_INVALID_REPEAT}),
    case_name<ErrorCase>);

}  // namespace
