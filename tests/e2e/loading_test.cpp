// End-to-end tests of the loading dialogue: quintolex runs in a fresh directory with
// redirected standard input; standard output, standard error and the exit status are
// compared byte for byte, and after every run the data files must be unchanged and no
// file but an expected empty one may have appeared. Most data files load (0, 0) and
// (10, 10), a line the quadrature integrates exactly. The finer pair syntax is checked
// on READ_PAIR itself (tests/console/input_test.cpp); the data errors are checked here.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "child.h"
#include "console.h"
#include "transcript.h"

namespace {

using namespace testsupport;

// The texts of the real fields of the result lines, without their justifying
// blanks; the first time is never above 0 here, so no "t=0, c=" record.
struct Results {
  std::string area, last_time, cmax, above;
};

const Results kRising = {"50.000000", "10.000000", "10.000000", "50.000000"};
const Results kNothing = {"0.000000E+00", "0.000000E+00", "0.000000E+00", "0.000000E+00"};
const std::string kRisingData = "0 0\n10 10\n";
const char* const kAsk = "File name missing or blank - please enter file name";

std::string field(const std::string& text) { return std::string(15 - text.size(), ' ') + text; }

std::string result_lines(e2e::Transcript screen, const Results& r) {
  return screen.line("Area under the curve (peak area?) =" + field(r.area))
      .line("Maximum time (x-axis) in your data file=" + field(r.last_time))
      .line("Maxiumum concentration (y-axis) =" + field(r.cmax))
      .line("Area above the curve =" + field(r.above))
      .pause_and_stop()
      .bytes();
}

// The whole screen of an ordinary run, with `asks` rounds of "UNIT 4? " after the
// file-name prompt.
std::string ordinary_run(int count, const Results& r, int asks = 0) {
  e2e::Transcript screen;
  screen.banner_and_name();
  for (int i = 0; i < asks; ++i) screen.line(kAsk).prompt("UNIT 4? ").read();
  return result_lines(screen.loaded(count), r);
}

std::string report(const char* statement, const std::string& unit, int number) {
  return e2e::runtime_report("F" + std::to_string(number), std::string(statement) + "(" + unit + ")",
                             std::string(io_error_message(number)));
}

std::string pairs_file(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += std::to_string(i) + ' ' + std::to_string(i) + '\n';
  return bytes;
}

class Loading : public ::testing::Test {
 protected:
  ~Loading() override { std::filesystem::remove_all(dir_); }

  // A data file the run must leave byte-identical.
  void put(const std::string& name, const std::string& bytes) {
    write_file(dir_ + "/" + name, bytes);
    files_[name] = bytes;
  }

  // Runs quintolex and checks the directory: the files put there unchanged, and
  // nothing else but the files expected to appear.
  ChildRun run(const std::string& input, const std::vector<std::string>& args = {},
               const std::string& stdout_path = "") {
    ChildRun result = run_program(QUINTOLEX_EXE, args, dir_, input, stdout_path);
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      found[entry.path().filename().string()] = read_file(entry.path().string());
    }
    EXPECT_EQ(found, files_) << "the files in the directory after the run";
    return result;
  }

  static void expect_run(const ChildRun& got, const std::string& out, const std::string& err, int status) {
    EXPECT_EQ(got.status, status);
    EXPECT_EQ(visible(got.out), visible(out));
    EXPECT_EQ(visible(got.err), visible(err));
  }

  std::string dir_ = make_temp_dir();
  std::map<std::string, std::string> files_;
};

TEST_F(Loading, DataFileLayouts) {
  const struct {
    std::string data;
    Results shown = kRising;
  } cases[] = {
      {kRisingData},
      {"0 , 0\n10\t,\t10\n"},               // commas and tabs
      {"0\n0\n10\n10\n"},                   // one value per line
      {"0 0 99\n10 10 99\n"},               // three columns
      {"0\n0 7\n10 10\n"},                  // a split record: the 7 is discarded
      {",,\n10 10\n"},                      // null values
      {"/ 5\n10 10\n"},                     // a slash: a pair of the nulls
      {"2*0\n2*10\n"},                      // repeat counts
      {"0E5 0d0\n1+1 .1D+2\n"},             // exponent forms
      {"0 0\r\n10 10\r\n"},                 // CR LF
      {"0\rtime conc\n0\n10 10\r"},         // lone CR: the rest up to LF goes
      {"0 0\n10 10"},                       // no final LF
      {"0 -5\n10 -5\n", {"-50.000000", "10.000000", "0.000000E+00", "50.000000"}},  // all negative
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(visible(c.data));
    put("d.txt", c.data);
    expect_run(run("d.txt\n\n"), ordinary_run(2, c.shown), "", 0);
  }
}

TEST_F(Loading, DataErrorsEndTheRunWithTheReadReport) {
  const struct {
    const char* data;
    int number;
  } cases[] = {
      {"time conc\n0 0\n", F_INVALID_REAL},  // a header line
      {"0 0\n1x5 2\n", F_INVALID_REAL},
      {"0 1.5E\n", F_INVALID_REAL},
      {"0 -\n", F_INVALID_REAL},
      {"1 2\n3 4\n\f5 6\n", F_INVALID_REAL},
      {"'abc' 1\n", F_TEXT_FOR_REAL},
      {"0 \"abc\"\n", F_TEXT_FOR_REAL},
      {"(1,2) 3\n", F_TEXT_FOR_REAL},
      {"2*'a'\n", F_TEXT_FOR_REAL},
      {"0 3.4028234663852894E+38\n", F_REAL_OUT_OF_RANGE},  // the next double above the bound
      {"-1E39 0\n", F_REAL_OUT_OF_RANGE},
      {"0 1E400\n", F_REAL_OUT_OF_RANGE},
      {"0*5 1\n", F_INVALID_REPEAT},
      {"1.5*2 1\n", F_INVALID_REPEAT},
      {"-2*3\n", F_INVALID_REPEAT},
      {"2*3*4\n", F_INVALID_REPEAT},
      {"*5\n", F_INVALID_REPEAT},
  };
  // The loading has begun after the blank record of the open; the exit path ends it.
  const std::string screen = e2e::Transcript().banner_and_name().line("  ").exit().bytes();
  for (const auto& c : cases) {
    SCOPED_TRACE(visible(c.data));
    put("d.txt", c.data);
    expect_run(run("d.txt\n\n"), screen, report("READ", "d.txt", c.number), 1);
  }
}

TEST_F(Loading, TheTableHolds200000PairsAndA200001stStopsTheRunWithStatusTwo) {
  // Points (i, i), i = 0 .. 199999: area 199999^2 / 2 = 19999800000.5. A time after
  // the full table is a cut pair, not a 200001st.
  const Results full = {"1.999980E+10", "199999.000000", "199999.000000", "1.999980E+10"};
  for (const char* tail : {"", "7\n"}) {
    put("full.txt", pairs_file(200000) + tail);
    expect_run(run("full.txt\n\n"), ordinary_run(200000, full), "", 0);
  }
  put("over.txt", pairs_file(200001));
  e2e::Transcript screen;
  screen.banner_and_name().line("  ").line("--Warning-- too many data points. Limit 200000  ");
  screen.line("--Warning-- or y column # input error.        ").line("Execution stopped!").stop();
  expect_run(run("over.txt\n\n"), screen.bytes(), "", 2);
}

TEST_F(Loading, NamesAndReplacementNames) {
  put("d.txt", kRisingData);
  put("data1.txt", kRisingData);
  put("abcdefghijklmnopqrst", kRisingData);
  const struct {
    const char* input;
    std::vector<std::string> args;
    int asks = 0;  // rounds of "UNIT 4? "
    int count = 2;
    const char* created = nullptr;
  } cases[] = {
      {"\n\n", {"  d.txt ", "other.txt"}},            // a blank name: the first argument, trimmed
      {"d.txt\n\n", {"other.txt"}},                   // a typed name: the arguments are ignored
      {"   data1.txt\n\n", {}},                       // leading blanks removed
      {"abcdefghijklmnopqrstuvwxy\n\n", {}},          // 25 characters: the first 20 name the file
      {"\n\n   \n  d.txt  \n\n", {}, 3},              // asked for until a name comes, trimmed
      {"new.txt\n\n", {}, 0, 0, "new.txt"},           // a missing file is created empty
      {"d.txt\t\n\n", {}, 0, 0, "d.txt\t"},          // a tab belongs to the name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(visible(c.input));
    if (c.created != nullptr) files_[c.created] = "";  // expected to appear, empty
    expect_run(run(c.input, c.args), ordinary_run(c.count, c.count ? kRising : kNothing, c.asks), "", 0);
  }
}

TEST_F(Loading, RunsEndedByAReport) {
  put("bad.txt", "time conc\n");
  const e2e::Transcript named = e2e::Transcript().banner_and_name();
  const std::string opened = e2e::Transcript(named).exit().bytes();
  const std::string loading = e2e::Transcript(named).line("  ").exit().bytes();
  const struct {
    const char* input;
    std::string out, err;
  } cases[] = {
      // End of input at the name prompt: the line behind the prompt is still pending.
      {"", e2e::Transcript(named).raw("\r\n").bytes(), report("READ", "CON", F_END_OF_FILE)},
      {"\n", e2e::Transcript(named).line(kAsk).prompt("UNIT 4? ").exit().bytes(),
       report("READ", "CON", F_END_OF_FILE)},
      {" nodir/d.txt\n", opened, report("OPEN", "nodir/d.txt", F_OPEN_FAILED)},
      {".\n", opened, report("OPEN", ".", F_OPEN_FAILED)},  // a directory
      // A data error names the file as opened.
      {"   bad.txt  \n", loading, "\r\nrun-time error F6510: READ(bad.txt)\r\n- invalid real value\r\n"},
      // Reading a process's own memory from offset 0 fails.
      {"/proc/self/mem\n", loading, report("READ", "/proc/self/mem", F_READ_FAILED)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(visible(c.input));
    expect_run(run(c.input), c.out, c.err, 1);
  }
}

TEST_F(Loading, AFullDiskOnStandardOutputEndsWithTheWriteReport) {
  put("d.txt", kRisingData);
  ChildRun got = run("d.txt\n\n", {}, "/dev/full");
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(visible(got.err), visible(report("WRITE", "CON", F_DISK_FULL)));
}

// The bundled sample through the command-line replacement of a blank name, as the
// README's run command starts it; a copy is used, so a faulty run cannot harm it.
TEST_F(Loading, BundledSampleThroughTheCommandLine) {
  const std::string sample = read_file(std::string(QUINTOLEX_SOURCE_DIR) + "/examples/peak.txt");
  const auto count = static_cast<int>(std::count(sample.begin(), sample.end(), '\n'));  // a pair a line
  ASSERT_GT(count, 100);
  put("peak.txt", sample);
  ChildRun got = run("\n\n", {dir_ + "/peak.txt"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  const std::string loading = e2e::Transcript().banner_and_name().loaded(count).bytes();
  EXPECT_EQ(visible(got.out.substr(0, loading.size())), visible(loading));
}

}  // namespace
