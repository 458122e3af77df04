// The whole run as a user sees it: the area report after loading, the added first
// point, quadrature messages in place, the pause with its answers, and the ways a
// run ends. Every case runs the real executable with redirected standard input.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child.h"
#include "transcript.h"

using e2e::Transcript;
using testsupport::ChildRun;
using testsupport::visible;

namespace {

struct Outcome {
  ChildRun child;
  std::string data_after;  // the data file after the run
};

// Runs quintolex in a fresh directory holding `data` as data.txt; standard input
// is the file name line followed by `after_name` (the pause answer).
Outcome run_quintolex(const std::string& data, const std::string& after_name = "\n") {
  const std::string dir = testsupport::make_temp_dir();
  testsupport::write_file(dir + "/data.txt", data);
  Outcome run;
  run.child = testsupport::run_program(QUINTOLEX_EXE, {}, dir, "data.txt\n" + after_name);
  run.data_after = testsupport::read_file(dir + "/data.txt");
  std::system(("rm -rf '" + dir + "'").c_str());
  return run;
}

// A real item as shown: right-justified in its 15-column field.
std::string real(const std::string& text) { return std::string(15 - text.size(), ' ') + text; }

// The number printed after `label` on its line of the output.
double printed_value(const std::string& out, const std::string& label) {
  std::size_t at = out.find(label);
  if (at == std::string::npos) return NAN;
  return std::strtod(out.c_str() + at + label.size(), nullptr);
}

// The line as printed, for a value checked separately against its tolerance.
std::string printed_line(const std::string& out, const std::string& label) {
  std::size_t at = out.find(label);
  if (at == std::string::npos) return label + "<missing>";
  return out.substr(at, out.find("\r\n", at) - at);
}

#define EXPECT_BYTES(expected, actual) \
  EXPECT_EQ(expected, actual) << "expected:\n" << visible(expected) << "\nactual:\n" << visible(actual)

const char* const AREA = "Area under the curve (peak area?) =";
const char* const MAX_TIME = "Maximum time (x-axis) in your data file=";
const char* const MAX_CONC = "Maxiumum concentration (y-axis) =";
const char* const ABOVE = "Area above the curve =";
const char* const ADDED = " data point was added to calculate area above the curve.";

}  // namespace

TEST(AreaReport, ExactResults) {
  // Profiles the rule integrates exactly: every printed digit is known.
  struct Case {
    const char* name;
    std::string data;
    int count;
    std::vector<std::string> results;
  };
  const std::string added = "t=0, c=";
  const Case cases[] = {
      {"a line from the origin", "0 0\n10 10\n", 2,
       {AREA + real("50.000000"), MAX_TIME + real("10.000000"), MAX_CONC + real("10.000000"),
        ABOVE + real("50.000000")}},
      {"a first point after 0: the constant 4 from 0 gives 4 x 4 - 16 above", "2 4\n4 4\n", 2,
       {AREA + real("8.000000"), MAX_TIME + real("4.000000"), " ", added + real("4.000000") + ADDED,
        MAX_CONC + real("4.000000"), ABOVE + real("0.000000E+00")}},
      {"a single point (4, -2): -8 under the curve from 0, so 8 above", "4 -2\n", 1,
       {AREA + real("0.000000E+00"), MAX_TIME + real("4.000000"), " ", added + real("-2.000000") + ADDED,
        MAX_CONC + real("0.000000E+00"), ABOVE + real("8.000000")}},
      {"negative concentrations only", "0 -1\n2 -3\n", 2,
       {AREA + real("-4.000000"), MAX_TIME + real("2.000000"), MAX_CONC + real("0.000000E+00"),
        ABOVE + real("4.000000")}},
      {"an empty file", "", 0,
       {AREA + real("0.000000E+00"), MAX_TIME + real("0.000000E+00"), MAX_CONC + real("0.000000E+00"),
        ABOVE + real("0.000000E+00")}},
      {"a pair cut after its time is no point", "7.5\n", 0,
       {AREA + real("0.000000E+00"), MAX_TIME + real("0.000000E+00"), MAX_CONC + real("0.000000E+00"),
        ABOVE + real("0.000000E+00")}},
      {"decreasing times: c = 2t from 4 down to 0", "4 8\n2 4\n0 0\n", 3,
       {AREA + real("-16.000000"), MAX_TIME + real("0.000000E+00"), " ", added + real("8.000000") + ADDED,
        MAX_CONC + real("8.000000"), ABOVE + real("0.000000E+00")}},
  };
  for (const Case& c : cases) {
    Outcome run = run_quintolex(c.data);
    Transcript t;
    t.banner_and_name().loaded(c.count);
    for (const std::string& result : c.results) t.line(result);
    t.pause_and_stop();
    EXPECT_EQ(t.bytes(), run.child.out) << c.name << "\n" << visible(run.child.out);
    EXPECT_EQ(run.child.err, "") << c.name;
    EXPECT_EQ(run.child.status, 0) << c.name;
    EXPECT_EQ(run.data_after, c.data) << c.name;
  }
}

TEST(AreaReport, AddedPointKeepsTheMeasuredFirstPoint) {
  // The profile from 0 runs (0, 2), (1, 2), (3, 6): 2 + 8 = 10 under it, so the area
  // above is 3 x 6 - 10 = 8 (moving the first point instead would lose (1, 2) and
  // give 6).
  Outcome run = run_quintolex("1 2\n3 6\n");
  const std::string& out = run.child.out;
  EXPECT_NEAR(printed_value(out, ABOVE), 8.0, 0.001 * 10.0);
  Transcript t;
  t.banner_and_name().loaded(2);
  t.line(AREA + real("8.000000"));
  t.line(MAX_TIME + real("3.000000"));
  t.line(" ");
  t.line("t=0, c=" + real("2.000000") + ADDED);
  t.line(MAX_CONC + real("6.000000"));
  t.line(printed_line(out, ABOVE));
  t.pause_and_stop();
  EXPECT_BYTES(t.bytes(), out);
}

TEST(AreaReport, RealisticPeakAgreesWithTheTrapezoidArea) {
  // A tailing peak of 4000 points with detector noise, starting after t = 0; the
  // exact area of the points as written is summed in double alongside.
  std::string data;
  double exact = 0.0, t0 = 0.0, c0 = 0.0;
  unsigned state = 12345;
  for (int i = 0; i < 4000; ++i) {
    state = state * 1103515245u + 12345u;
    const double t = 0.25 + 0.005 * i, x = (t - 8.0) / 0.5;
    const double c = 25.0 * std::exp(-0.5 * x * x) * (t > 8.0 ? std::exp(-(t - 8.0) / 3.0) : 1.0) +
                     0.2 + 0.05 * (static_cast<double>((state >> 8) % 1000) / 1000.0 - 0.5);
    char text[64];
    std::snprintf(text, sizeof text, "%.4f %.5f\n", t, c);
    data += text;
    char* rest = nullptr;
    const double t1 = std::strtod(text, &rest), c1 = std::strtod(rest, nullptr);
    if (i > 0) exact += (t1 - t0) * (c1 + c0) / 2.0;
    t0 = t1;
    c0 = c1;
  }
  Outcome run = run_quintolex(data);
  EXPECT_NEAR(printed_value(run.child.out, AREA), exact, 0.001 * exact);
  EXPECT_EQ(run.child.status, 0);
  EXPECT_EQ(run.child.out.find("ERROR"), std::string::npos) << visible(run.child.out);
}

TEST(AreaReport, FullTablesStartingAfterZero) {
  // 200000 points of a constant 1.5 from t = 1: the added point still fits.
  std::string data;
  data.reserve(200000 * 12);
  for (int i = 1; i <= 200000; ++i) data += std::to_string(i) + " 1.5\n";
  Outcome run = run_quintolex(data);
  const std::string& out = run.child.out;
  EXPECT_NE(out.find("Total number of data points=     200000"), std::string::npos);
  EXPECT_NEAR(printed_value(out, AREA), 1.5 * 199999.0, 0.001 * 1.5 * 199999.0);
  EXPECT_NE(out.find("t=0, c=" + real("1.500000") + ADDED), std::string::npos);
  EXPECT_NEAR(printed_value(out, ABOVE), 0.0, 0.001 * 1.5 * 200000.0);
  EXPECT_EQ(run.child.status, 0);
}

TEST(AreaReport, QuadratureWarningIsPrintedBeforeTheResults) {
  // A noisy peak on which roundoff stops the integration short of the tolerance.
  const std::string data =
      testsupport::read_file(std::string(QUINTOLEX_SOURCE_DIR) + "/tests/e2e/data/roundoff_peak.txt");
  ASSERT_FALSE(data.empty());
  Outcome run = run_quintolex(data);
  const std::string& out = run.child.out;
  Transcript t;
  t.banner_and_name().loaded(300);
  t.line("");
  t.line("*** WARNING  ERROR 2 from Q2AGS.  Roundoff error has been detected.  The");
  t.line("***          requested tolerances, ERRABS = 1.000000E-03 and ERRREL = ");
  t.line("***          1.000000E-03, cannot be reached.");
  t.line(printed_line(out, AREA));
  t.line(MAX_TIME + real("20.000000"));
  t.line(printed_line(out, MAX_CONC));
  t.line(printed_line(out, ABOVE));
  t.pause_and_stop();
  EXPECT_BYTES(t.bytes(), out);
  EXPECT_EQ(run.child.status, 0);
  // The exact trapezoid area of the file, 43.559975, within the requested bound.
  EXPECT_NEAR(printed_value(out, AREA), 43.559975, 0.001 * 43.56);
}

TEST(AreaReport, OverflowOfTheAreaAboveEndsWithTheMathReport) {
  // A spike of 1e20 at the start and a last time of 1e20: the rectangle is beyond
  // the range of a real.
  Outcome run = run_quintolex("0 0\n1e-15 1e20\n2e-15 0\n1e20 0\n");
  Transcript t;
  t.banner_and_name().loaded(4);
  const std::string& out = run.child.out;
  t.line(printed_line(out, AREA));
  t.line(MAX_TIME + real("1.000000E+20"));
  t.line(MAX_CONC + real("1.000000E+20"));
  t.exit();
  EXPECT_BYTES(t.bytes(), out);
  EXPECT_EQ(run.child.err, "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n");
  EXPECT_EQ(run.child.status, 1);
}

// --- The pause ------------------------------------------------------------

namespace {

// The bytes of a (0,0),(10,10) run up to the pause message.
std::string until_the_pause() {
  Transcript t;
  t.banner_and_name().loaded(2);
  t.line(AREA + real("50.000000")).line(MAX_TIME + real("10.000000"));
  t.line(MAX_CONC + real("10.000000")).line(ABOVE + real("50.000000"));
  t.line("Hit Enter key to quit DOS screen.").line(" ");
  return t.bytes() + "\r\nPause - Please enter a blank line (to continue) or a DOS command.\r\n";
}

// `between` is what the command wrote; the stop's CR LF ends the user's line.
std::string run_with_command_output(const std::string& between) {
  return until_the_pause() + between + "\r\nStop - Program terminated.\r\n\r\n";
}

}  // namespace

TEST(Pause, AnswersThatRunNothing) {
  for (const std::string answer : {"\n", "   \t \n", "x\n", "x  \n", "\r\n"}) {
    Outcome run = run_quintolex("0 0\n10 10\n", answer);
    EXPECT_EQ(run_with_command_output(""), run.child.out) << visible(answer);
    EXPECT_EQ(run.child.status, 0) << visible(answer);
  }
}
TEST(Pause, CommandOutputAppearsBeforeTheStopAndItsStatusIsIgnored) {
  // The command starts with the default action of a broken pipe (the program ignores it).
  Outcome run = run_quintolex("0 0\n10 10\n", "  echo from-the-pause; kill -PIPE $$; echo ignored; exit 3 \t\n");
  EXPECT_BYTES(run_with_command_output("from-the-pause\n"), run.child.out);
  EXPECT_EQ(run.child.status, 0);
  // Two characters are enough for a command.
  Outcome short_one = run_quintolex("0 0\n10 10\n", "ls\n");
  EXPECT_EQ(short_one.child.status, 0);
  EXPECT_NE(short_one.child.out.find("data.txt\n"), std::string::npos);
}

TEST(Pause, LongCommandLinesRunWhole) {
  const std::string word(291, 'w');
  const std::string command = "echo " + word + " end";  // 300 characters
  ASSERT_EQ(command.size(), 300u);
  Outcome run = run_quintolex("0 0\n10 10\n", command + "\n");
  EXPECT_BYTES(run_with_command_output(word + " end\n"), run.child.out);
}

TEST(Pause, CommandInterpreterFromComspecIsStartedWithSlashC) {
  const std::string dir = testsupport::make_temp_dir();
  testsupport::write_file(dir + "/data.txt", "0 0\n10 10\n");
  testsupport::write_file(dir + "/interp", "#!/bin/sh\necho \"interp:$1:$2\"\n");
  std::system(("chmod +x '" + dir + "/interp'").c_str());
  setenv("COMSPEC", (dir + "/interp").c_str(), 1);
  ChildRun run = testsupport::run_program(QUINTOLEX_EXE, {}, dir, "data.txt\nsay hi\n");
  setenv("COMSPEC", "/nonexistent/interpreter", 1);
  ChildRun fallback = testsupport::run_program(QUINTOLEX_EXE, {}, dir, "data.txt\necho fell back\n");
  unsetenv("COMSPEC");
  std::system(("rm -rf '" + dir + "'").c_str());
  EXPECT_BYTES(run_with_command_output("interp:/c:say hi\n"), run.out);
  EXPECT_BYTES(run_with_command_output("fell back\n"), fallback.out);
}

TEST(Pause, EndOfInputAtThePauseIsReported) {
  const std::string dir = testsupport::make_temp_dir();
  testsupport::write_file(dir + "/data.txt", "0 0\n10 10\n");
  ChildRun run = testsupport::run_program(QUINTOLEX_EXE, {}, dir, "data.txt\n");
  std::system(("rm -rf '" + dir + "'").c_str());
  // The exit path ends the line that is still pending.
  EXPECT_BYTES(until_the_pause() + "\r\n", run.out);
  EXPECT_EQ(run.err, e2e::runtime_report("F6501", "WRITE(CON)", "end of file reached while reading"));
  EXPECT_EQ(run.status, 1);
}
