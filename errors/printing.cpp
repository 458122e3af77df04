// Printing of the pending message: the header naming type, code and routine, the
// text wrapped into lines of at most 78 columns, and a traceback of the active
// routines. Also the table of the library's unit numbers.
#include <algorithm>
#include <cstdint>
#include <string>

#include "console.h"
#include "errors.h"

namespace {

// Standard input, standard output and error-message units. Units 5 and 6 are both
// the console, so error messages interleave with the program's own output.
int UNIT_TABLE[4] = {0, 5, 6, 6};

constexpr int FIRST_LINE_LIMIT = 59;   // header text plus first share of the message
constexpr int CONTINUATION_ROOM = 64;  // message characters on a continuation line
constexpr const char* CONTINUATION_PREFIX = " ***          ";

const char* type_name(int type) {
  static constexpr const char* names[8] = {"UNKNOWN ", "NOTE    ", "ALERT   ", "WARNING ",
                                           "FATAL   ", "TERMINAL", "WARNING ", "FATAL   "};
  return type >= 1 && type <= 7 ? names[type] : names[0];
}

// The 32-character name of a level as shown: a name written like "dQ2AGS" (a
// lower-case letter followed by an upper-case one) is shown with its first letter
// raised.
std::string shown_name(int level) {
  std::string name(ERROR_STATE.LEVEL_NAME[level], ErrorState::NAME_LENGTH);
  if (name[0] >= 'a' && name[0] <= 'z' && name[1] >= 'A' && name[1] <= 'Z')
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name;
}

std::string right_justified(std::int32_t value, int width) {
  std::string field;
  INT_TO_TEXT(value, width, field);
  return field;
}

void write_traceback(int top) {
  const ErrorState& s = ERROR_STATE;
  write_literal_record("     Here is a traceback of subprogram calls in reverse order:");
  write_literal_record("     Routine name" + std::string(16, ' ') + "    Error type  Error code");
  write_literal_record("     ------------" + std::string(16, ' ') + "    ----------  ----------");
  for (int level = top; level >= 1; --level) {
    std::string row = "     " + shown_name(level) + right_justified(s.LEVEL_TYPE[level], 6) +
                      "      " + right_justified(s.LEVEL_CODE[level], 6);
    if (level >= 2 && !s.USER_MODE[level - 1]) row += "    (Called internally)";
    write_literal_record(row);
  }
}

}  // namespace

void PRINT_MESSAGE() {
  ErrorState& s = ERROR_STATE;
  if (s.MSG_LENGTH <= 0) return;
  int unit = 0;
  UMACH(3, unit);  // the error-message unit: the console

  const int level = s.CUR_LEVEL;
  const std::string text(s.MSG_TEXT, static_cast<std::size_t>(s.MSG_LENGTH));
  const int length = s.MSG_LENGTH;
  // Character k of the message, counted from 1.
  auto at = [&](int k) { return text[static_cast<std::size_t>(k - 1)]; };
  auto part = [&](int from, int to) {
    return to < from ? std::string() : text.substr(static_cast<std::size_t>(from - 1),
                                                   static_cast<std::size_t>(to - from + 1));
  };

  // Header text: " <code> from <name up to its first blank>".
  const std::string name = shown_name(level);
  std::string header = " ";
  header += std::to_string(s.LEVEL_CODE[level]);
  header += " from ";
  header.append(name, 0, name.find(' '));
  const int room = FIRST_LINE_LIMIT - static_cast<int>(header.size());

  // First line: the whole message if it fits, else up to the last blank within the
  // room (the blank itself is not written). Every text E1MES or N1RTY leaves pending
  // begins with ".  ", and the room is at least 9 (the longest header holds a
  // 32-character name and an 11-character code), so a blank is always found for
  // those; the cut at the room serves a text written into the record by other means.
  int first_share = length;
  int consumed = length;  // position of the last character taken so far
  if (room < length) {
    int b = room;
    while (b >= 1 && at(b) != ' ') --b;
    first_share = b >= 1 ? b - 1 : room;  // no blank within the room: cut there
    consumed = b >= 1 ? b : room;
  }
  write_literal_record("");
  write_literal_record(std::string(" *** ") + type_name(s.LEVEL_TYPE[level]) + " ERROR" + header +
                       part(1, first_share));

  // Continuation lines break after a blank where possible, else at full width; a
  // blank at the start of a continuation is skipped.
  while (consumed < length) {
    int start = consumed + 1;
    if (at(start) == ' ') ++start;
    if (length <= consumed + CONTINUATION_ROOM) {
      write_literal_record(CONTINUATION_PREFIX + part(start, length));
      break;
    }
    int b = consumed + CONTINUATION_ROOM;
    while (b >= start + 1 && at(b) != ' ') --b;
    if (b < start + 1) b = consumed + CONTINUATION_ROOM;
    write_literal_record(CONTINUATION_PREFIX + part(start, b));
    consumed = b;
  }

  s.MSG_LENGTH = 0;
  s.PARAM_LENGTH = 1;
  if (level > 2) write_traceback(level);
}

void UMACH(int n, int& unit) {
  if (n != 0 && n >= -3 && n <= 3) {
    const int m = n < 0 ? -n : n;
    if (n < 0)
      UNIT_TABLE[m] = unit;
    else
      unit = UNIT_TABLE[m];
    return;
  }
  // The unit table cannot report through the message poster, which itself asks
  // for the error-message unit; it writes its own message.
  write_literal_record("");
  write_literal_record(" *** TERMINAL ERROR 5 from UMACH.  The absolute");
  write_literal_record(" ***          value of the index variable must be");
  // |n| in 6 columns, a wider value keeping its low-order digits. The most negative n
  // has no |n| among the integers; the field of n itself ends in the same six digits.
  const std::int32_t m = n == INT32_MIN ? n : (n < 0 ? -n : n);
  std::string digits;
  INT_TO_TEXT(m, 6, digits);
  write_literal_record(" ***          1, 2, or 3.  IABS(N) = " + digits + ".");
  write_literal_record("");
  stop_run(EXIT_ERROR_STOP);
}
