// The loading dialogue through the executable, in a fresh directory with redirected
// input: both outputs and the exit status byte for byte, the data files unchanged.
// The finer pair syntax is checked on READ_PAIR (tests/console/input_test.cpp).

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
using namespace std::string_literals;

// The texts of the real fields of the result lines: area, last time, largest
// concentration, area above; (0, 0) to (10, 10) is integrated exactly.
using Results = std::vector<std::string>;
const Results kRising = {"50.000000", "10.000000", "10.000000", "50.000000"};
const char* const kAsk = "File name missing or blank - please enter file name";

// The whole screen of an ordinary run, with `asks` rounds of "UNIT 4? " after the
// file-name prompt; the first time is never above 0 here, so no "t=0, c=" record.
std::string ordinary_run(int count, const Results& r = kRising, int asks = 0) {
  e2e::Transcript screen;
  screen.banner_and_name();
  for (int i = 0; i < asks; ++i) screen.line(kAsk).prompt("UNIT 4? ").read();
  screen.loaded(count);
  const char* const labels[] = {"Area under the curve (peak area?) =", "Maximum time (x-axis) in your data file=",
                                "Maxiumum concentration (y-axis) =", "Area above the curve ="};
  for (int i = 0; i < 4; ++i) screen.line(labels[i] + std::string(15 - r[i].size(), ' ') + r[i]);
  return screen.pause_and_stop().bytes();
}

std::string report(const char* statement, const std::string& unit, int number) {
  return e2e::runtime_report("F" + std::to_string(number), std::string(statement) + "(" + unit + ")",
                             std::string(io_error_message(number)));
}

class Loading : public ::testing::Test {
 protected:
  ~Loading() override {
    chmod(dir_.c_str(), 0700);
    std::filesystem::remove_all(dir_);
  }

  // A data file the run must leave byte-identical.
  void put(const std::string& name, const std::string& bytes) {
    write_file(dir_ + "/" + name, bytes);
    files_[name] = bytes;
  }

  // Runs the program and checks the files; a file of no read permission is made
  // readable for the check.
  ChildRun run(const std::string& input, const std::vector<std::string>& args = {},
               const ProgramIo& io = {}) {
    ChildRun result = run_program(QUINTOLEX_EXE, args, dir_, input, io);
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_read,
                                   std::filesystem::perm_options::add);
      found[entry.path().filename().string()] = read_file(entry.path().string());
    }
    for (const auto& [name, bytes] : found) {
      EXPECT_TRUE(files_.count(name) != 0 && files_[name] == bytes)
          << name << " after the run, " << bytes.size() << " bytes: " << visible(bytes.substr(0, 200));
    }
    EXPECT_EQ(found.size(), files_.size()) << "the number of files in the directory after the run";
    return result;
  }

  void expect_run(const std::string& input, const std::string& out, const std::string& err, int status,
                  const std::vector<std::string>& args = {}, const ProgramIo& io = {}) {
    ChildRun got = run(input, args, io);
    EXPECT_EQ(got.status, status);
    EXPECT_EQ(visible(got.out), visible(out));
    EXPECT_EQ(visible(got.err), visible(err));
  }

  std::string dir_ = make_temp_dir();
  std::map<std::string, std::string> files_;
};

// Every layout loads the pairs (0, 0) and (10, 10), a few a third point; a data error
// ends the run with the READ report naming the file.
TEST_F(Loading, DataFiles) {
  std::string bytes_down;  // every byte value from 255 (no end of file) down to 0
  for (int i = 255; i >= 0; --i) bytes_down += static_cast<char>(i);
  const std::string blank_lines(1000000, '\n');
  const std::string blank_megabytes(3 << 20, ' ');
  // Two null values at the end of the file complete a pair of never-written slots: the
  // point (0, 0) after (10, 10) ends the profile at t = 0.
  const Results null_point = {"0.000000E+00", "0.000000E+00", "10.000000", "0.000000E+00"};
  const struct {
    std::string data;
    int error = 0;
    int count = 2;
    Results results = kRising;
  } cases[] = {
      // The finer syntax is checked pair by pair on READ_PAIR (tests/console).
      {"0 0\n10 10\n"},
      {",,\n10 10\n"},               // null values keep the zeroed slots
      {"0\rtime conc\n0\n10 10\r"},  // lone CR: the rest up to LF goes; no final LF
      {"time conc\n0 0\n", F_INVALID_REAL},  // a header line
      {"0 0\n1x5 2\n", F_INVALID_REAL},
      {"0 1.5E\n", F_INVALID_REAL},
      {"0 -\n", F_INVALID_REAL},
      {"1 2\n3 4\n\f5 6\n", F_INVALID_REAL},  // a form feed is no blank
      {"'abc' 1\n", F_TEXT_FOR_REAL},
      {"(1,2) 3\n", F_TEXT_FOR_REAL},
      {"2*\"a\"\n", F_TEXT_FOR_REAL},
      {"0 3.4028234663852894E+38\n", F_REAL_OUT_OF_RANGE},  // the next double above the bound
      {"-1E39 0\n", F_REAL_OUT_OF_RANGE},
      {"0 1E400\n", F_REAL_OUT_OF_RANGE},
      {"0*5 1\n", F_INVALID_REPEAT},
      {"1.5*2 1\n", F_INVALID_REPEAT},
      {"-2*3\n", F_INVALID_REPEAT},
      {"2*3*4\n", F_INVALID_REPEAT},
      // Not text: bytes of every value, NULs, a NUL right after a value.
      {"0 0\n" + bytes_down + bytes_down, F_INVALID_REAL},
      {std::string(4096, '\0'), F_INVALID_REAL},
      {"0 1\0\n10 10\n"s, F_INVALID_REAL},
      // Lines of megabytes: blanks or a third column after a pair, blanks between its
      // values, a million blank lines around and between the records.
      {"0 0" + blank_megabytes + "\n10 10\n"},
      {"0 0 " + std::string(3 << 20, '7') + "\n10 10\n"},
      {"0" + blank_megabytes + "0\n10 10\n"},
      {blank_lines + "0 0\n" + blank_lines + "10 10" + blank_lines},
      // Values of millions of digits: zeros around 10, and a number beyond any real.
      {"0 0\n" + std::string(2 << 20, '0') + "10 10." + std::string(2 << 20, '0') + "\n"},
      {"0 " + std::string(2 << 20, '1') + "\n", F_REAL_OUT_OF_RANGE},
      // The file ends right after a repeat count, which ends the last record: r null
      // values. One leaves the pair cut, so not counted; two or more complete it.
      {"0 0\n10 10\n1*"},
      {"0 0\n10 10\n2*", 0, 3, null_point},
      {"0 0\n10 10\n3*", 0, 3, null_point},
  };
  // A data error comes after the blank record of the open; the exit path ends it.
  const std::string stopped = e2e::Transcript().banner_and_name().line("  ").exit().bytes();
  for (const auto& c : cases) {
    SCOPED_TRACE(visible(c.data.substr(0, 40)) + "... " + std::to_string(c.data.size()) + " bytes");
    put("d.txt", c.data);
    if (c.error == 0) expect_run("d.txt\n\n", ordinary_run(c.count, c.results), "", 0);
    if (c.error != 0) expect_run("d.txt\n\n", stopped, report("READ", "d.txt", c.error), 1);
  }
}

TEST_F(Loading, TheTableHolds200000PairsAndA200001stStopsTheRunWithStatusTwo) {
  // Points (i, i), i = 0 .. 199999: area 199999^2 / 2 = 19999800000.5. A time after
  // the full table is a cut pair, not a 200001st.
  std::string pairs;
  for (int i = 0; i < 200000; ++i) pairs += std::to_string(i) + ' ' + std::to_string(i) + '\n';
  const Results full = {"1.999980E+10", "199999.000000", "199999.000000", "1.999980E+10"};
  for (const char* tail : {"", "7\n"}) {
    put("full.txt", pairs + tail);
    expect_run("full.txt\n\n", ordinary_run(200000, full), "", 0);
  }
  put("over.txt", pairs + "7 7\n");
  e2e::Transcript screen;
  screen.banner_and_name().line("  ").line("--Warning-- too many data points. Limit 200000  ");
  screen.line("--Warning-- or y column # input error.        ").line("Execution stopped!").stop();
  expect_run("over.txt\n\n", screen.bytes(), "", 2);
}

// A blank name replaced by a command-line argument: the bundled sample's test below.
TEST_F(Loading, NamesAndReplacementNames) {
  put("d.txt", "0 0\n10 10\n");
  expect_run("d.txt\n\n", ordinary_run(2), "", 0, {"other.txt"});  // a typed name: arguments ignored
  expect_run("\n\n   \n  d.txt  \n\n", ordinary_run(2, kRising, 3), "", 0);  // asked until a name comes
  files_["new.txt"] = "";  // a missing file is created empty and left so
  expect_run("new.txt\n\n", ordinary_run(0, Results(4, "0.000000E+00")), "", 0);
}

TEST_F(Loading, RunsEndedByAReport) {
  put("bad.txt", "time conc\n");
  const e2e::Transcript named = e2e::Transcript().banner_and_name();
  const std::string opened = e2e::Transcript(named).exit().bytes();
  const std::string loading = e2e::Transcript(named).line("  ").exit().bytes();
  const struct {
    std::string input;
    std::string out, err;
    ProgramIo io = {};
  } cases[] = {
      // End of input at the name prompt: the line behind the prompt is still pending.
      {"", e2e::Transcript(named).raw("\r\n").bytes(), report("READ", "CON", F_END_OF_FILE)},
      {"\n", e2e::Transcript(named).line(kAsk).prompt("UNIT 4? ").exit().bytes(),
       report("READ", "CON", F_END_OF_FILE)},
      {" nodir/d.txt\n", opened, report("OPEN", "nodir/d.txt", F_OPEN_FAILED)},
      {".\n", opened, report("OPEN", ".", F_OPEN_FAILED)},  // a directory
      // A name holding a NUL names no file; "new" must not be created in its place.
      {std::string("new\0zz\n", 7), opened, report("OPEN", std::string("new\0zz", 6), F_OPEN_FAILED)},
      // A data error names the file as opened: leading blanks trimmed.
      {"   bad.txt  \n", loading, "\r\nrun-time error F6510: READ(bad.txt)\r\n- invalid real value\r\n"},
      // Reading a process's own memory from offset 0 fails.
      {"/proc/self/mem\n", loading, report("READ", "/proc/self/mem", F_READ_FAILED)},
      // Standard streams: output on a full disk or refused, input closed; with standard
      // error closed the report is lost, and the data file must not take its place.
      {"bad.txt\n", "", report("WRITE", "CON", F_DISK_FULL), {.stdout_path = "/dev/full"}},
      {"bad.txt\n", "", report("WRITE", "CON", F_WRITE_DENIED), {.sealed_stdout = true}},
      {"bad.txt\n", e2e::Transcript(named).raw("\r\n").bytes(), report("READ", "CON", F_READ_FAILED),
       {.close_stdin = true}},
      {"bad.txt\n", loading, "", {.close_stderr = true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(visible(c.input) + " in row " + std::to_string(&c - cases));
    expect_run(c.input, c.out, c.err, 1, {}, c.io);
  }
}

// With standard output closed the run goes to its ordinary end, writing nothing into
// the data file, whose descriptor would otherwise take the number of standard output.
// Output to a pipe whose reader has gone is lost the same way, and the run goes on.
TEST_F(Loading, ClosedStandardOutput) {
  put("d.txt", "0 0\n10 10\n");
  expect_run("d.txt\n\n", "", "", 0, {}, {.close_stdout = true});
  expect_run("d.txt\n\n", "", "", 0, {}, {.broken_pipe_stdout = true});
}

// A named pipe is read until its writer closes it. Held open for writing by the
// program too, it would never reach its end and the run would hang.
TEST_F(Loading, NamedPipeEndsWhenItsWriterCloses) {
  const std::string pipe_dir = make_temp_dir();  // not in the checked directory: reading blocks
  const std::string pipe = pipe_dir + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    const int fd = open(pipe.c_str(), O_WRONLY);
    _exit(fd >= 0 && write(fd, "0 0\n10 10\n", 10) == 10 ? 0 : 1);
  }
  expect_run("\n\n", ordinary_run(2), "", 0, {pipe});  // the name from the command line
  int status = -1;
  waitpid(writer, &status, 0);
  EXPECT_EQ(status, 0);
  std::filesystem::remove_all(pipe_dir);
}

// File permissions bind the run (as root it runs unprivileged): a read-only file is
// opened read-only and loads, a write-only one opens but cannot be read, and a
// missing file cannot be created in a directory that cannot be written.
TEST_F(Loading, FilePermissions) {
  put("d.txt", "0 0\n10 10\n");
  const e2e::Transcript named = e2e::Transcript().banner_and_name();
  const struct {
    const char* input;
    mode_t file_mode, dir_mode;
    std::string out, err;
    int status;
  } cases[] = {
      {"d.txt\n\n", 0444, 0555, ordinary_run(2), "", 0},
      {"d.txt\n", 0222, 0755, e2e::Transcript(named).line("  ").exit().bytes(),
       report("READ", "d.txt", F_READ_FAILED), 1},
      {"new.txt\n", 0644, 0555, e2e::Transcript(named).exit().bytes(),
       report("OPEN", "new.txt", F_OPEN_FAILED), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    ASSERT_EQ(chmod((dir_ + "/d.txt").c_str(), c.file_mode) | chmod(dir_.c_str(), c.dir_mode), 0);
    expect_run(c.input, c.out, c.err, c.status, {}, {.unprivileged = true});
  }
}

// The bundled sample through the command-line replacement of a blank name, as the
// README's run command starts it; on a copy, so a faulty run cannot harm the file.
TEST_F(Loading, BundledSampleThroughTheCommandLine) {
  const std::string sample = read_file(std::string(QUINTOLEX_SOURCE_DIR) + "/examples/peak.txt");
  const auto count = static_cast<int>(std::count(sample.begin(), sample.end(), '\n'));  // a pair a line
  put("peak.txt", sample);
  ChildRun got = run("\n\n", {dir_ + "/peak.txt"});
  const std::string loading = e2e::Transcript().banner_and_name().loaded(count).bytes();
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(visible(got.err + got.out.substr(0, loading.size())), visible(loading));
}

}  // namespace
