// The input layer, one scenario per child process: pair syntax, file-name reads and
// replacement names. Data errors and the dialogue are checked through the executable.

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "child.h"
#include "console.h"

using namespace testsupport;

namespace {

void say(const std::string& text) {
  if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) _exit(91);
}

// Reads every pair of `data` (the file d.txt in a fresh directory) and shows them
// as "t c|" (%.9g), then "end t c" with what the last read left. Each read starts
// with both items at 9, so a null value or a slash shows as 9.
std::string pairs(const std::string& data) {
  const std::string dir = make_temp_dir();
  write_file(dir + "/d.txt", data);
  ChildRun run = run_in_child([&] {
    if (chdir(dir.c_str()) != 0) _exit(90);
    install_floating_point_traps();
    char fname[20];
    std::memcpy(fname, "d.txt               ", 20);
    OPEN_DATA_FILE(4, fname);
    std::string shown;
    bool pair = true;
    for (int i = 0; i < 30000 && pair; ++i) {  // bounded, so a read that never ends fails
      float t = 9.0f, c = 9.0f;
      pair = READ_PAIR(t, c);
      char text[64];
      std::snprintf(text, sizeof text, pair ? "%.9g %.9g|" : "end %.9g %.9g", static_cast<double>(t),
                    static_cast<double>(c));
      shown += text;
    }
    say(shown);
  });
  EXPECT_EQ(run.status, 0) << visible(run.err);
  std::filesystem::remove_all(dir);
  return run.out;
}

// Reads `reads` names from standard input, given as `typed` (on a pseudo-terminal
// when `terminal`), and shows each as "[name]".
ChildRun names(const std::string& typed, bool terminal, int reads = 1) {
  return run_in_child(
      [&] {
        int master = -1, slave = -1;
        if (terminal && (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 ||
                         dup2(slave, STDIN_FILENO) < 0 || ::write(master, typed.data(), typed.size()) < 0)) {
          _exit(90);
        }
        for (int i = 0; i < reads; ++i) {
          char fname[20];
          std::memset(fname, 'x', sizeof fname);
          READ_FILE_NAME(fname);
          say("[" + std::string(fname, 20) + "]");
        }
      },
      terminal ? "" : typed);
}

}  // namespace

TEST(ReadPair, FreeFormSyntax) {
  // A long file across many read blocks, of CR LF and LF records, the last without
  // a line end.
  std::string long_file, long_shown;
  for (int i = 1; i <= 20000; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, i % 3 ? "%d.25 , %de-3\r\n" : "%d.25\t%de-3 9 9 9\n", i, i);
    long_file += text;
    std::snprintf(text, sizeof text, "%.9g %.9g|", i + 0.25, static_cast<double>(static_cast<float>(i / 1000.0)));
    long_shown += text;
  }
  long_file.resize(long_file.size() - 2);
  const std::string long_digits = "0." + std::string(3000, '0') + "1e3001 " + std::string(400, '9') + "e-400\n";
  // Halfway between two doubles, the second of which rounds up to the next real: a
  // non-zero digit a thousand places on still decides, exactly halfway ties to even
  // (signed with "+", read by the general path, which holds at most 800 digits).
  const std::string halfway = "1.00000005960464488641292746251565404236316680908203125";
  const std::string past_halfway = "+" + halfway + std::string(1000, '0') + "1 +" + halfway + "\n";
  const struct {
    std::string data, shown;
  } cases[] = {
      // Separators, record ends and blank lines as blanks, the rest of a record discarded.
      {"1 2\n3,4\n5\t6\n  7 ,\t8\n9\t, 10\n\n  \t\n1\n\n2\n", "1 2|3 4|5 6|7 8|9 10|1 2|end 9 9"},
      {"5\n6 7\n8 9 time 'x' (3\n4 5 6\n", "5 6|8 9|4 5|end 9 9"},
      {"1 2\n3\n", "1 2|end 3 9"},  // a time cut by the end of the file stays
      {long_file, long_shown + "end 9 9"},
      // Null values and the slash keep what the items held.
      {",5\n5 /\n/\n", "9 5|5 9|9 9|end 9 9"},
      {"7,,\n,\n8\n 2 , , 3\n5,\n,6\n5\n,6\n", "7 9|9 8|2 9|5 9|5 6|end 9 9"},
      // Repeat counts: copies, nulls, leftovers dropped.
      {"2*3.5\n3*1 9\n1*7 8\n12*-1.5e1\n", "3.5 3.5|1 1|7 8|-15 -15|end 9 9"},
      {"1*,6\n1* 6\n2*\n4 5\n", "9 6|9 6|9 9|4 5|end 9 9"},
      // Number forms.
      {"1.5E2 1.5D2\n1.5+2 150\n1.5e2 1.5d2\n15000-2 1500.e-1\n", "150 150|150 150|150 150|150 150|end 9 9"},
      {"+7 -.5\n5. 0.001\n-0 1e+0\n", "7 -0.5|5 0.00100000005|-0 1|end 9 9"},
      // To double first, then to a real: 1 + 2^-24 + 1e-31 ties to even as a double.
      {"1.0000000596046447753906250000001 16777217\n", "1 16777216|end 9 9"},
      // Up to the bound, a magnitude above the largest real reads as the largest.
      {"3.402823466385289E+38 -3.4028234663852886E38\n", "3.40282347e+38 -3.40282347e+38|end 9 9"},
      // Underflow and extreme exponents convert without a trap.
      {"1e-50 -1e-400\n1e-320 1.0e-0000000000000000000000001\n1e-45 0e99999999999\n" + long_digits,
       "0 -0|0 0.100000001|1.40129846e-45 0|1 1|end 9 9"},
      {past_halfway, "1.00000012 1|end 9 9"},
  };
  for (const auto& c : cases) EXPECT_EQ(pairs(c.data), c.shown) << visible(c.data.substr(0, 80));
}

TEST(ReadFileName, TakesTwentyBlankPaddedCharactersOfALine) {
  EXPECT_EQ(names("first.txt\r\nabcdefghijklmnopqrstuvwxyz\n   x\n\n\ta b\t\nlast", false, 6).out,
            "[first.txt           ][abcdefghijklmnopqrst][   x                ]"
            "[                    ][\ta b\t               ][last                ]");
  const struct {
    std::string typed;
    const char* out;
    int error;  // 0: the run goes on
  } terminal_cases[] = {
      {std::string(130, 'a') + "\n", "[aaaaaaaaaaaaaaaaaaaa]", 0},
      {std::string(131, 'a') + "\n", "", F_LINE_TOO_LONG},
      {"\x04", "", F_END_OF_FILE},           // Ctrl-D
      {"abc\x16\x1a\n", "", F_END_OF_FILE},  // character 26 typed literally after Ctrl-V
  };
  for (const auto& c : terminal_cases) {
    ChildRun run = names(c.typed, true);
    const std::string err = "\r\nrun-time error F" + std::to_string(c.error) + ": READ(CON)\r\n- " +
                            std::string(io_error_message(c.error)) + "\r\n";
    EXPECT_EQ(run.status, c.error ? 1 : 0) << visible(c.typed);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(visible(run.err), c.error ? visible(err) : "");
  }
}

TEST(OpenDataFile, BlankNamesTakeTheArgumentsInOrderThenThePrompt) {
  const std::string dir = make_temp_dir();
  const std::string long_name = "a name longer than twenty.txt";
  write_file(dir + "/a.txt", "1 2\n");
  write_file(dir + "/b.txt", "1 2\n3 4\n");
  write_file(dir + "/" + long_name, "1 2\n");
  // Four blank names, each round showing the pairs of the file it opened: "  a.txt "
  // trimmed; "   " blank, so the prompt until a name comes (trimmed, over 20); "b.txt";
  // none left, so the prompt, where " \t" names the file "\t" (tabs stay).
  std::vector<std::string> args = {"prog", "  a.txt ", "   ", "b.txt"};
  ChildRun run = run_in_child(
      [&] {
        if (chdir(dir.c_str()) != 0) _exit(90);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        set_command_line(static_cast<int>(args.size()), argv.data());
        for (int i = 0; i < 4; ++i) {
          write_prompt(" Name: ");
          char fname[20];
          READ_FILE_NAME(fname);
          OPEN_DATA_FILE(4, fname);
          int n = 0;
          for (float t = 0, c = 0; READ_PAIR(t, c);) ++n;
          say("pairs=" + std::to_string(n) + ";");
        }
      },
      "\n\n\n  " + long_name + " \r\n\n\n \t\n");
  const std::string ask = "File name missing or blank - please enter file name\r\nUNIT 4? ";
  EXPECT_EQ(run.status, 0) << visible(run.err);
  EXPECT_EQ(visible(run.out), visible("Name: pairs=1;Name: " + ask + ask + "pairs=1;" +
                                      "Name: pairs=2;Name: " + ask + "pairs=0;"));
  std::filesystem::remove_all(dir);
}
