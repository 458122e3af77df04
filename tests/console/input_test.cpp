// The input layer: pairs read from data files of every free-form shape, the data
// errors and their reports, the file name typed at the keyboard, the open with its
// replacement names and its prompt. Every scenario runs in a child process in a
// fresh directory, with the floating-point traps of a real run switched on.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "child.h"
#include "console.h"

using testsupport::ChildRun;
using testsupport::make_temp_dir;
using testsupport::read_file;
using testsupport::run_in_child;
using testsupport::visible;
using testsupport::write_file;

namespace {

#define EXPECT_BYTES(expected, actual) \
  EXPECT_EQ(expected, actual) << "expected:\n" << visible(expected) << "\nactual:\n" << visible(actual)

// A fresh directory, removed with everything in it when the test is done.
struct TempDir {
  std::string path = make_temp_dir();
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

void say(const char* text) {
  std::size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t n = ::write(STDOUT_FILENO, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<std::size_t>(n);
  }
}

void fname_of(const char* name, char (&fname)[20]) {
  std::memset(fname, ' ', sizeof fname);
  std::memcpy(fname, name, std::min<std::size_t>(std::strlen(name), 20));
}

// Reads every pair of `data` (a file d.txt in a fresh directory). Each READ_PAIR
// prints "t c" (%.9g) for a pair or "end t c" at the end of the file; the items
// start at 0.0 like the never-written table slots and keep what a read leaves.
struct Loaded {
  ChildRun run;
  std::string file_after;
};

Loaded load(const std::string& data, float start_time = 0.0f, float start_conc = 0.0f) {
  TempDir temp;
  const std::string& dir = temp.path;
  write_file(dir + "/d.txt", data);
  Loaded loaded;
  loaded.run = run_in_child([&] {
    if (chdir(dir.c_str()) != 0) _exit(90);
    install_floating_point_traps();
    char fname[20];
    fname_of("d.txt", fname);
    OPEN_DATA_FILE(4, fname);
    for (int i = 0; i < 50; ++i) {
      float t = start_time, c = start_conc;
      bool pair = READ_PAIR(t, c);
      char line[96];
      std::snprintf(line, sizeof line, "%s%.9g %.9g\n", pair ? "" : "end ", static_cast<double>(t),
                    static_cast<double>(c));
      say(line);
      if (!pair) break;
    }
  });
  loaded.file_after = read_file(dir + "/d.txt");
  return loaded;
}

// The pairs that `data` loads, with the outcome of the last read.
std::string pairs(const std::string& data) {
  Loaded loaded = load(data);
  EXPECT_EQ(loaded.run.status, 0) << loaded.run.err;
  EXPECT_EQ(loaded.file_after, data) << "the data file must never be written";
  return loaded.run.out;
}

std::string data_error_report(int number, const char* unit) {
  char head[96];
  std::snprintf(head, sizeof head, "\r\nrun-time error F%d: READ(%s)\r\n- ", number, unit);
  return head + std::string(io_error_message(number)) + "\r\n";
}

// A data error: the exact report naming the data file, status 1, nothing after it.
void expect_data_error(const std::string& data, int number) {
  Loaded loaded = load(data);
  EXPECT_EQ(loaded.run.status, 1) << visible(data);
  EXPECT_BYTES(data_error_report(number, "d.txt"), loaded.run.err);
  EXPECT_EQ(loaded.file_after, data);
}

}  // namespace

// ---------------------------------------------------------------------------
// Layouts of the data file
// ---------------------------------------------------------------------------

TEST(ReadPair, ColumnsSeparatedByBlanksCommasAndTabs) {
  EXPECT_EQ(pairs("1 2\n3,4\n5\t6\n  7 ,\t8\n9\t, 10\n"),
            "1 2\n3 4\n5 6\n7 8\n9 10\nend 0 0\n");
}

TEST(ReadPair, ValuesAreTakenAcrossRecordsAndBlankLinesAreSkipped) {
  EXPECT_EQ(pairs("1\n2\n3\n4\n"), "1 2\n3 4\nend 0 0\n");
  EXPECT_EQ(pairs("\n\n  \t\n1\n\n\n2\n\n"), "1 2\nend 0 0\n");
}

TEST(ReadPair, RestOfTheRecordIsDiscardedAfterTheSecondValue) {
  EXPECT_EQ(pairs("5\n6 7\n8 9\n"), "5 6\n8 9\nend 0 0\n");
  EXPECT_EQ(pairs("1 2 3\n4 5 6\n"), "1 2\n4 5\nend 0 0\n");
  // Whatever follows the second value on its record is not even looked at.
  EXPECT_EQ(pairs("1 2 time 'x' (3\n4 5\n"), "1 2\n4 5\nend 0 0\n");
}

TEST(ReadPair, EndOfFileEndsTheLoading) {
  EXPECT_EQ(pairs(""), "end 0 0\n");
  EXPECT_EQ(pairs("1 2\n3 4"), "1 2\n3 4\nend 0 0\n");  // last line without LF
  EXPECT_EQ(pairs("1 2\n3\n"), "1 2\nend 3 0\n");       // the time stays in place
  EXPECT_EQ(pairs("1 2\n3,"), "1 2\nend 3 0\n");
}

TEST(ReadPair, CarriageReturns) {
  EXPECT_EQ(pairs("1 2\r\n3 4\r\n"), "1 2\n3 4\nend 0 0\n");
  EXPECT_EQ(pairs("1\r\n2\r\n"), "1 2\nend 0 0\n");
  // A lone CR ends the value before it and the rest of the record up to the LF.
  EXPECT_EQ(pairs("1\r2\n3\n"), "1 3\nend 0 0\n");
  EXPECT_EQ(pairs("1 2\r3 4\r5 6\r"), "1 2\nend 0 0\n");
}

TEST(ReadPair, NullValuesAndSlashKeepWhatTheItemsHeld) {
  EXPECT_EQ(pairs(",5\n"), "0 5\nend 0 0\n");
  EXPECT_EQ(pairs("5 /\n"), "5 0\nend 0 0\n");
  Loaded kept = load(",5\n7,,\n,\n8/\n/\n 2 , , 3\n", 9.0f, 9.0f);
  // The lone comma fills the time; the second item is found on the next record.
  EXPECT_EQ(kept.run.out, "9 5\n7 9\n9 8\n9 9\n2 9\nend 9 9\n");
  // Two commas with a record end between them give a null value too.
  EXPECT_EQ(pairs("5,\n,6\n"), "5 0\nend 0 0\n");
  // A comma after blanks (or a record end) only separates the value before it.
  EXPECT_EQ(pairs("5\n,6\n"), "5 6\nend 0 0\n");
}

TEST(ReadPair, RepeatCounts) {
  EXPECT_EQ(pairs("2*3.5\n"), "3.5 3.5\nend 0 0\n");
  EXPECT_EQ(pairs("3*1 9\n4 5\n"), "1 1\n4 5\nend 0 0\n");  // leftover copy dropped
  EXPECT_EQ(pairs("1*7 8\n"), "7 8\nend 0 0\n");
  EXPECT_EQ(pairs("1*,6\n"), "0 6\nend 0 0\n");
  EXPECT_EQ(pairs("1* 6\n"), "0 6\nend 0 0\n");
  EXPECT_EQ(pairs("2*\n4 5\n"), "0 0\n4 5\nend 0 0\n");
  EXPECT_EQ(pairs("12*-1.5e1\n"), "-15 -15\nend 0 0\n");
}

TEST(ReadPair, NumberForms) {
  EXPECT_EQ(pairs("1.5E2 1.5D2\n1.5+2 150\n1.5e2 1.5d2\n15000-2 1500.e-1\n"),
            "150 150\n150 150\n150 150\n150 150\nend 0 0\n");
  EXPECT_EQ(pairs("+7 -.5\n5. 0.001\n-0 1e+0\n"), "7 -0.5\n5 0.00100000005\n-0 1\nend 0 0\n");
  // The text goes to double precision first and is then rounded to a real.
  EXPECT_EQ(pairs("0.1 16777217\n"), "0.100000001 16777216\nend 0 0\n");
}

TEST(ReadPair, MagnitudeBoundOfTheLargestReal) {
  // 3.402823466385289E+38 is the bound itself; values up to it read as the largest
  // finite real, while 3.4028235E+38 already lies above it.
  EXPECT_EQ(pairs("3.402823466385289E+38 -3.4028234663852886E38\n"),
            "3.40282347e+38 -3.40282347e+38\nend 0 0\n");
  expect_data_error("3.4028235E+38 1\n", F_REAL_OUT_OF_RANGE);
  expect_data_error("1 -1e39\n", F_REAL_OUT_OF_RANGE);
  expect_data_error("1e400 1\n", F_REAL_OUT_OF_RANGE);
}

TEST(ReadPair, TinyAndExtremeValuesConvertWithoutTraps) {
  EXPECT_EQ(pairs("1e-50 -1e-400\n1e-320 1.0e-0000000000000000000000001\n"),
            "0 -0\n0 0.100000001\nend 0 0\n");
  EXPECT_EQ(pairs("1e-45 0e99999999999\n"), "1.40129846e-45 0\nend 0 0\n");
  std::string long_digits = "0." + std::string(3000, '0') + "1e3001 " + std::string(400, '9') + "e-400\n";
  EXPECT_EQ(pairs(long_digits), "1 1\nend 0 0\n");
}

// ---------------------------------------------------------------------------
// Data errors
// ---------------------------------------------------------------------------

TEST(ReadPairErrors, ValuesThatAreNotReals) {
  expect_data_error("time conc\n1 2\n", F_INVALID_REAL);  // a header line
  expect_data_error("1 2\n1x5 3\n", F_INVALID_REAL);
  expect_data_error("1.5E 2\n", F_INVALID_REAL);
  expect_data_error("1.5e+\n", F_INVALID_REAL);
  expect_data_error("1 +\n", F_INVALID_REAL);
  expect_data_error(". 1\n", F_INVALID_REAL);
  expect_data_error("1..2 3\n", F_INVALID_REAL);
  expect_data_error("1e5.0 3\n", F_INVALID_REAL);
  expect_data_error("1;2\n", F_INVALID_REAL);
  expect_data_error("1 2\n3 4\n\f5 6\n", F_INVALID_REAL);
}

TEST(ReadPairErrors, QuotedTextAndParenthesisedPairs) {
  expect_data_error("'abc' 1\n", F_TEXT_FOR_REAL);
  expect_data_error("1 \"2\"\n", F_TEXT_FOR_REAL);
  expect_data_error("(1,2)\n", F_TEXT_FOR_REAL);
  expect_data_error("2*'a'\n", F_TEXT_FOR_REAL);
}

TEST(ReadPairErrors, BadRepeatCounts) {
  expect_data_error("0*5\n", F_INVALID_REPEAT);
  expect_data_error("1.5*2\n", F_INVALID_REPEAT);
  expect_data_error("-2*3\n", F_INVALID_REPEAT);
  expect_data_error("2*3*4\n", F_INVALID_REPEAT);
  expect_data_error("*5\n", F_INVALID_REPEAT);
}

TEST(ReadPairErrors, FailingSystemReadOfTheFile) {
  // The memory file of a process opens for reading and writing, but reading it
  // from offset 0 fails.
  ChildRun run = run_in_child([] {
    char fname[20];
    fname_of("/proc/self/mem", fname);
    OPEN_DATA_FILE(4, fname);
    float t = 0, c = 0;
    READ_PAIR(t, c);
  });
  EXPECT_EQ(run.status, 1);
  EXPECT_BYTES(data_error_report(F_READ_FAILED, "/proc/self/mem"), run.err);
}

TEST(ReadPair, LargeFileReadsEveryPairAcrossBlocks) {
  // Values straddle the block boundaries; the pairs are checked by their sums.
  std::string data;
  double sum_t = 0, sum_c = 0;
  for (int i = 1; i <= 20000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, i % 3 ? "%d.25 , %de-3\r\n" : "%d.25\t%de-3 9 9 9\n", i, i);
    data += line;
    sum_t += i + 0.25;
    sum_c += static_cast<float>(i / 1000.0);
  }
  TempDir temp;
  const std::string& dir = temp.path;
  write_file(dir + "/d.txt", data);
  ChildRun run = run_in_child([&] {
    if (chdir(dir.c_str()) != 0) _exit(90);
    install_floating_point_traps();
    char fname[20];
    fname_of("d.txt", fname);
    OPEN_DATA_FILE(4, fname);
    double st = 0, sc = 0;
    int n = 0;
    float t = 0, c = 0;
    while (READ_PAIR(t, c)) {
      ++n;
      st += t;
      sc += c;
    }
    char line[96];
    std::snprintf(line, sizeof line, "%d %.17g %.17g\n", n, st, sc);
    say(line);
  });
  char expected[96];
  std::snprintf(expected, sizeof expected, "%d %.17g %.17g\n", 20000, sum_t, sum_c);
  EXPECT_EQ(run.out, expected) << run.err;
}

// ---------------------------------------------------------------------------
// The file name typed at the keyboard
// ---------------------------------------------------------------------------

namespace {

// Reads names with READ_FILE_NAME from `input` and prints each one in brackets.
ChildRun read_names(const std::string& input, int count) {
  return run_in_child(
      [count] {
        for (int i = 0; i < count; ++i) {
          char fname[20];
          std::memset(fname, 'x', sizeof fname);
          READ_FILE_NAME(fname);
          std::string shown = "[" + std::string(fname, 20) + "]";
          say(shown.c_str());
        }
      },
      input);
}

}  // namespace

TEST(ReadFileName, TakesTwentyBlankPaddedCharactersOfOneLine) {
  EXPECT_EQ(read_names("data1.txt\n", 1).out, "[data1.txt           ]");
  EXPECT_EQ(read_names("   data1.txt\n", 1).out, "[   data1.txt        ]");
  EXPECT_EQ(read_names("abcdefghijklmnopqrstuvwxy\n", 1).out, "[abcdefghijklmnopqrst]");
  EXPECT_EQ(read_names("\n", 1).out, "[                    ]");
  EXPECT_EQ(read_names("\ta b\t\n", 1).out, "[\ta b\t               ]");
  EXPECT_EQ(read_names("a.txt\r\n", 1).out, "[a.txt               ]");
  EXPECT_EQ(read_names("a.txt", 1).out, "[a.txt               ]");
}

TEST(ReadFileName, EachReadTakesOneLineOnly) {
  ChildRun run = read_names("first.txt\r\nabcdefghijklmnopqrstuvwxyz\nthird\n", 3);
  EXPECT_EQ(run.out, "[first.txt           ][abcdefghijklmnopqrst][third               ]");
}

TEST(ReadFileName, EndOfInputAtThePromptEndsTheRun) {
  ChildRun run = run_in_child([] {
    write_prompt(" Please enter the name of your data file: ");
    char fname[20];
    READ_FILE_NAME(fname);
    say("not reached");
  });
  EXPECT_EQ(run.status, 1);
  EXPECT_BYTES(std::string("\r\nrun-time error F6501: READ(CON)\r\n- ") +
                   std::string(io_error_message(F_END_OF_FILE)) + "\r\n",
               run.err);
  // The prompt's line was never ended by the user: the exit path ends it.
  EXPECT_BYTES(std::string("Please enter the name of your data file: \r\n"), run.out);
}

namespace {

// Reads a name with standard input and output on a pseudo-terminal on which
// `typed` is typed; `out` is what the terminal shows (echo included).
ChildRun read_name_from_terminal(const std::string& typed) {
  TempDir temp;
  std::string err_path = temp.path + "/err";
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(90);
    char fname[20];
    READ_FILE_NAME(fname);
    say(("[" + std::string(fname, 20) + "]").c_str());
    _exit(0);
  }
  ChildRun run;
  if (pid < 0) return run;
  if (::write(master, typed.data(), typed.size()) < 0) ADD_FAILURE() << "typing failed";
  char bytes[4096];
  for (ssize_t n; (n = ::read(master, bytes, sizeof bytes)) > 0;) run.out.append(bytes, static_cast<std::size_t>(n));
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ::close(master);
  if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
  run.err = read_file(err_path);
  return run;
}

}  // namespace

TEST(ReadFileName, FromATerminal) {
  ChildRun name = read_name_from_terminal("data1.txt\n");
  EXPECT_EQ(name.status, 0);
  EXPECT_NE(name.out.find("[data1.txt           ]"), std::string::npos) << visible(name.out);

  ChildRun longest = read_name_from_terminal(std::string(130, 'a') + "\n");
  EXPECT_EQ(longest.status, 0) << visible(longest.err);

  const std::string end_report = std::string("\r\nrun-time error F6501: READ(CON)\r\n- ") +
                                 std::string(io_error_message(F_END_OF_FILE)) + "\r\n";
  ChildRun ctrl_d = read_name_from_terminal("\x04");
  EXPECT_EQ(ctrl_d.status, 1);
  EXPECT_BYTES(end_report, ctrl_d.err);

  // Character 26 typed literally (after Ctrl-V) at the end of a line.
  ChildRun ctrl_z = read_name_from_terminal("abc\x16\x1a\n");
  EXPECT_EQ(ctrl_z.status, 1);
  EXPECT_BYTES(end_report, ctrl_z.err);

  ChildRun too_long = read_name_from_terminal(std::string(131, 'a') + "\n");
  EXPECT_EQ(too_long.status, 1);
  EXPECT_BYTES(std::string("\r\nrun-time error F6502: READ(CON)\r\n- ") +
                   std::string(io_error_message(F_LINE_TOO_LONG)) + "\r\n",
               too_long.err);
}

// ---------------------------------------------------------------------------
// Opening unit 4
// ---------------------------------------------------------------------------

namespace {

// Opens the name typed as `typed` (through READ_FILE_NAME) with `args` as the
// command line, in directory `dir`, then writes one record and reads all pairs,
// printing their count; the bytes of standard output show the dialogue.
ChildRun open_typed(const std::string& dir, const std::string& input,
                    std::vector<std::string> args, int opens = 1) {
  return run_in_child(
      [&] {
        if (chdir(dir.c_str()) != 0) _exit(90);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        set_command_line(static_cast<int>(args.size()), argv.data());
        for (int i = 0; i < opens; ++i) {
          write_prompt(" Name: ");
          char fname[20];
          READ_FILE_NAME(fname);
          OPEN_DATA_FILE(4, fname);
          int n = 0;
          float t = 0, c = 0;
          while (READ_PAIR(t, c)) ++n;
          begin_list_record();
          put_text_item("pairs=");
          put_integer_item(n);
          end_list_record();
        }
      },
      input);
}

const std::string ASK = "File name missing or blank - please enter file name\r\nUNIT 4? ";
const std::string PAIRS_1 = "pairs=          1";

}  // namespace

TEST(OpenDataFile, TypedNameIsTrimmedOfBlanks) {
  TempDir temp;
  const std::string& dir = temp.path;
  write_file(dir + "/data1.txt", "1 2\n");
  ChildRun run = open_typed(dir, "   data1.txt  \n", {"prog"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("Name: " + PAIRS_1, run.out);
  EXPECT_EQ(read_file(dir + "/data1.txt"), "1 2\n");
}

TEST(OpenDataFile, MissingFileIsCreatedEmpty) {
  TempDir temp;
  const std::string& dir = temp.path;
  ChildRun run = open_typed(dir, "new.txt\n", {"prog"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES(std::string("Name: pairs=          0"), run.out);
  struct stat info;
  ASSERT_EQ(stat((dir + "/new.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
}

TEST(OpenDataFile, TwentyCharacterNameOpensItsFirstTwenty) {
  TempDir temp;
  const std::string& dir = temp.path;
  write_file(dir + "/abcdefghijklmnop.txt", "1 2\n");
  ChildRun run = open_typed(dir, "abcdefghijklmnop.txtEXTRA\n", {"prog"});
  EXPECT_BYTES("Name: " + PAIRS_1, run.out);
}

TEST(OpenDataFile, BlankNameTakesCommandLineArgumentsInOrder) {
  TempDir temp;
  const std::string& dir = temp.path;
  write_file(dir + "/a.txt", "1 2\n");
  write_file(dir + "/b.txt", "1 2\n3 4\n");
  ChildRun run = open_typed(dir, "\n   \nc.txt\n", {"prog", "  a.txt ", "b.txt"}, 3);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("Name: " + PAIRS_1 + "\r\nName: pairs=          2\r\nName: pairs=          0",
               run.out);
  EXPECT_EQ(read_file(dir + "/c.txt"), "");
}

TEST(OpenDataFile, BlankNameWithoutArgumentsIsAskedForAgain) {
  TempDir temp;
  const std::string& dir = temp.path;
  write_file(dir + "/b.txt", "1 2\n");
  // A blank argument is taken and yields nothing, then the prompt asks until a
  // name that is not blank comes; the answer is trimmed and is not limited to 20
  // characters.
  write_file(dir + "/a name longer than twenty.txt", "1 2\n");
  ChildRun run = open_typed(dir, "\n\n \t\r\n  a name longer than twenty.txt \r\n", {"prog", "   "});
  EXPECT_EQ(run.status, 0) << run.err;
  // Tabs are not trimmed: an answer of a blank and a tab names the file "\t".
  EXPECT_BYTES("Name: " + ASK + ASK + "pairs=          0", run.out);
  struct stat info;
  EXPECT_EQ(stat((dir + "/\t").c_str(), &info), 0);

  ChildRun again = open_typed(dir, "\n\n  \n  a name longer than twenty.txt \r\n", {"prog"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_BYTES("Name: " + ASK + ASK + ASK + PAIRS_1, again.out);
}

TEST(OpenDataFile, EndOfInputWhileAskingEndsTheRun) {
  TempDir temp;
  const std::string& dir = temp.path;
  ChildRun run = open_typed(dir, "\n\n", {"prog"});
  EXPECT_EQ(run.status, 1);
  EXPECT_BYTES("Name: " + ASK + ASK + "\r\n", run.out);
  EXPECT_BYTES(std::string("\r\nrun-time error F6501: READ(CON)\r\n- ") +
                   std::string(io_error_message(F_END_OF_FILE)) + "\r\n",
               run.err);
}

TEST(OpenDataFile, FileThatCanNeitherBeOpenedNorCreated) {
  TempDir temp;
  const std::string& dir = temp.path;
  mkdir((dir + "/sub").c_str(), 0755);
  const std::string expected_tail = ")\r\n- " + std::string(io_error_message(F_OPEN_FAILED)) + "\r\n";
  ChildRun in_missing_dir = open_typed(dir, " nodir/x.txt\n", {"prog"});
  EXPECT_EQ(in_missing_dir.status, 1);
  EXPECT_BYTES("\r\nrun-time error F6416: OPEN(nodir/x.txt" + expected_tail, in_missing_dir.err);
  EXPECT_BYTES(std::string("Name: "), in_missing_dir.out);

  ChildRun directory = open_typed(dir, "sub\n", {"prog"});
  EXPECT_EQ(directory.status, 1);
  EXPECT_BYTES("\r\nrun-time error F6416: OPEN(sub" + expected_tail, directory.err);
}
