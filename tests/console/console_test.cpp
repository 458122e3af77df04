// The console layer through its public routines, for what a whole run cannot reach or tell
// apart: real texts, record layout and carriage control, console reads, the free-form pair
// syntax, the traps. Expected bytes and values, derived by hand, are in files beside this.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "child.h"
#include "console.h"

using namespace testsupport;

namespace {

void say(const std::string& text) { static_cast<void>(::write(STDOUT_FILENO, text.data(), text.size())); }

TEST(RealText, WorkedExamplesInTheirField) {  // expected/real_texts.txt: a value and its field
  std::istringstream lines(read_file(EXPECTED_DIR "real_texts.txt"));
  int rows = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("#")) continue;
    float value = std::strtof(line.c_str(), nullptr);
    if (line.starts_with("0x")) value = std::bit_cast<float>(std::uint32_t(std::stoul(line, nullptr, 16)));
    const std::string text = format_real_list(value), field = line.substr(line.find('|') + 1, 15);
    EXPECT_EQ(std::string(15 - text.size(), ' ') + text, field) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 24);
}

TEST(ConsoleBytes, CarriageControlPromptAndLayout) {  // the bytes in expected/records.out
  const ChildRun run = run_in_child([] {
    // With no pending line and with one; an empty record; a record longer than 132
    // characters continues its line; the prompt keeps the cursor, the read's Enter
    // starts the next line, and a record behind a prompt is shown whole.
    for (const char* text : {"1top", "0first", "0second", "1page", "+over", "---Warning-- Limit  ", ""})
      write_literal_record(text);
    write_literal_record(" " + std::string(131, 'p') + "0q");
    write_literal_record("   "), write_prompt(" Name: "), begin_console_read(), end_console_read();
    write_literal_record("   "), write_prompt(" UNIT 4? "), write_literal_record(" tail");
    // Numbers after numbers get a separator, texts never do; a negative length counts as 0;
    // texts that fill 79 columns, one character more (an empty line follows), two more; a
    // number as wide as its field that starts a line gets a blank for the carriage control.
    begin_list_record(), put_text_item(std::string(70, 'y')), put_integer_item(-1234567890), end_list_record();
    begin_list_record(), put_integer_item(7), put_real_item(2.0f), end_list_record();
    begin_list_record(), put_integer_item(5), put_text_item("x"), put_text_item("no", -3), end_list_record();
    for (const char* tail : {"", "b", "bc"})
      begin_list_record(), put_text_item(std::string(78, 'a') + tail), end_list_record();
    // Numbers take their fields one after another: four of them fill a line, the fifth
    // starts the next one.
    begin_list_record();
    for (const float value : {1.5f, -2.25f, 1.0e6f, 0.001f, 3.0e10f, -7.0f}) put_real_item(value);
    end_list_record();
  });
  EXPECT_EQ(visible(run.out), visible(read_file(EXPECTED_DIR "records.out")));
}

// The pairs of `data` read with scan_pair, "t c|" each (%.9g), then "end t c" or "F<number>
// t c" with what the last read left; each read starts with 9 in both. No conversion may trap.
std::string pairs(const std::string& data) {
  write_file("pairs.txt", data);
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
    if (read == PairRead::DataError) shown.append("F").append(std::to_string(error)).append(" ");
    std::snprintf(text, sizeof text, "%s%.9g %.9g%s", read == PairRead::End ? "end " : "", double(t), double(c),
                  read == PairRead::Pair ? "|" : "");
    shown += text;
  }
  fedisableexcept(FE_ALL_EXCEPT);
  close_data_unit();
  std::remove("pairs.txt");
  return shown;
}

// A value of `token` rewritten to the same number in a form the in-place scan gives up, so
// that the general reader reads it: a mantissa with a non-zero digit gets 20 zeros after its
// last digit (after a point added when it has none), more than 19 significant digits; a zero,
// whose zeros are never significant, gets an exponent of five digits (zeros put before its
// digits, or E00000 added), more than the scan takes. "1.5" becomes 1.500000000000000000000,
// "150" 150.00000000000000000000, "1.5+2" 1.500000000000000000000+2 and "-0" -0E00000. A
// repeat count "r*" stays; a null, a text, a bad value and anything else stay as written.
std::string general_form(const std::string& token) {
  const auto digits_end = [&](std::size_t from) {
    return std::min(token.find_first_not_of("0123456789", from), token.size());
  };
  const std::size_t star = token.find('*');
  if (star != std::string::npos && (star == 0 || digits_end(0) != star)) return token;
  const std::size_t value = star == std::string::npos ? 0 : star + 1;
  const std::size_t first = value + (token[value] == '+' || token[value] == '-');
  std::size_t end = digits_end(first);  // of the mantissa
  const bool point = token[end] == '.';
  if (point) end = digits_end(end + 1);
  if (token.find_first_of("0123456789", first) >= end) return token;  // no digit
  std::size_t exponent = end;
  if (end < token.size()) {
    if (std::strchr("EeDd", token[exponent]) != nullptr) ++exponent;
    if (token[exponent] == '+' || token[exponent] == '-') ++exponent;
    if (exponent == end || digits_end(exponent) == exponent || digits_end(exponent) != token.size()) return token;
  }
  if (token.find_first_not_of("0.", first) < end)
    return token.substr(0, end) + (point ? "" : ".") + std::string(20, '0') + token.substr(end);
  if (end == token.size()) return token + "E00000";
  const std::size_t width = token.size() - exponent;
  return token.substr(0, exponent) + std::string(width < 5 ? 5 - width : 0, '0') + token.substr(exponent);
}

// `data` with every value in its general_form; separators, record ends and the rest as they are.
std::string general_forms(const std::string& data) {
  std::string rewritten;
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t end = std::min(data.find_first_of(" \t,/\r\n", at), data.size());
    if (end == at) rewritten += data[at++];
    else rewritten += general_form(data.substr(at, end - at)), at = end;
  }
  return rewritten;
}

// pairs/<name>.txt, and in pairs/<name>.shown the reads after comments. The reader takes the
// usual value in place and anything else byte by byte, so each file is read twice: as it is,
// and with every value in its general form, which must give the same pairs, the same error
// after the same items.
TEST(ReadPair, FreeFormSyntax) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PAIRS_DIR)) {
    std::filesystem::path path = entry.path();
    if (path.extension() != ".txt") continue;
    std::istringstream lines(read_file(path.replace_extension(".shown")));
    std::string shown;
    for (std::string line; std::getline(lines, line);) shown += line.starts_with("#") ? "" : line;
    const std::string data = read_file(entry.path());
    EXPECT_EQ(pairs(data), shown) << entry.path();
    const std::string general = general_forms(data);
    EXPECT_NE(general, data) << entry.path();  // every file holds values
    EXPECT_EQ(pairs(general), shown) << entry.path() << ", every value in its general form";
    ++count;
  }
  EXPECT_EQ(count, 11);
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
    const std::string report = "\r\nrun-time error F" + std::to_string(c.error) + ": READ(CON)\r\n- ";
    EXPECT_EQ(visible(run.err), c.error ? visible(report + std::string(io_error_message(c.error)) + "\r\n") : "");
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

volatile float f_zero = 0.0f, f_one = 1.0f, f_tiny = 1.0e-30f, f_sink = 0.0f;
volatile int i_zero = 0, i_sink = 0;
// The integer division must reach the processor's trap, also in a build whose
// undefined-behaviour checks would stop it first.
__attribute__((no_sanitize("integer-divide-by-zero"))) void divide_integer_by_zero() { i_sink = 7 / i_zero; }
// Underflow to zero, a denormal result, a denormal operand and an inexact result.
void underflow_denormal_inexact() { f_sink = f_tiny * f_tiny; f_sink = f_tiny * 1e-10f; f_sink = f_sink * f_one; }

TEST(RuntimeReport, TrapsEndTheRunAfterTheShownRecords) {  // the overflow report: in whole runs
  const struct { void (*operation)(); std::string report; } cases[] = {  // no report: the run goes on
      {[] { f_sink = f_one / f_zero; }, "M6103: MATH\r\n- floating-point error: divide by zero"},
      {divide_integer_by_zero, "M6103: MATH\r\n- floating-point error: divide by zero"},
      {[] { f_sink = f_zero / f_zero; }, "M6101: MATH\r\n- floating-point error: invalid"},
      {underflow_denormal_inexact, ""},
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
