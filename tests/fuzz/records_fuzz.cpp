// Fuzzing harness of the console records: a script of list-directed records of any items
// (texts of any bytes and length, negative lengths too, integers, reals of any bits),
// formatted records, prompts, console reads and line ends. Each step must write the bytes
// of the model below: fields, a blank between numbers, lines of 79 columns, carriage
// control, the pending line. A real's text reads back within half a unit of its 7th digit,
// in fixed form exactly for 1 <= |x| < 10000000.
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"

namespace {

void check(bool holds, int line = __builtin_LINE()) {  // a broken invariant is a finding
  if (!holds) std::fprintf(stderr, "invariant of %s:%d broken\n", __FILE__, line), std::abort();
}

void check_real_text(float value, const std::string& text, bool exponent_form) {
  const double magnitude = std::fabs(double(value));
  if (!std::isfinite(value)) return check(text.size() == 13 && text.compare(0, 2, "1#") == 0);
  check(text.size() >= 8 && text.size() <= 15);
  check((text.find('E') != std::string::npos) == (exponent_form || !(magnitude >= 1.0 && magnitude < 1e7)));
  check(std::fabs(std::strtod(text.c_str(), nullptr) - double(value)) <= 5.0000001e-7 * magnitude);
}

// The model: lines of the list-directed record being laid out, each with its
// carriage-control blank first, and the columns left on the last.
std::vector<std::string> lines;
int room = 79;
bool after_number = false;

void lay_out(std::string text, int field) {  // field 0: a text item
  for (; field == 0 && int(text.size()) >= room; room = 79, lines.push_back(" ")) {  // split at the room
    lines.back() += text.substr(0, std::size_t(room));
    text.erase(0, std::size_t(room));
  }
  const int width = field == 0 ? int(text.size()) : field + after_number;
  text.insert(0, std::size_t(width) - text.size(), ' ');
  if (width >= room) lines.push_back(text[0] == ' ' ? text : " " + text), room = 79 - width;
  else lines.back() += text, room -= width;
  after_number = field != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int out = ::memfd_create("console", 0);
  check(out >= 0 && ::dup2(out, STDOUT_FILENO) == STDOUT_FILENO);
  begin_console_read(), end_console_read(), console_flush();  // no pending line, no prompt
  check(::ftruncate(out, 0) == 0 && ::lseek(out, 0, SEEK_SET) == 0);
  off_t mark = 0;  // the bytes before it are checked
  bool pending = false, behind_prompt = false;
  const std::uint8_t* const end = data + size;
  auto byte = [&]() -> std::uint32_t { return data < end ? *data++ : 0; };
  auto text = [&] {
    std::size_t length = byte() << 8;
    length = std::min<std::size_t>((length | byte()) % 400, std::size_t(end - data));
    data += length;
    return std::string(reinterpret_cast<const char*>(data - length), length);
  };
  while (data < end) {
    std::string expected;
    const int step = byte() % 5;
    if (step == 0) {  // a list-directed record
      lines.assign(1, " "), room = 79, after_number = false;
      begin_list_record();
      for (int items = byte() % 12; items > 0; --items) {
        const int kind = byte() % 4;
        std::uint32_t word = 0;
        for (int i = 0; i < 4 && kind != 0; ++i) word = word << 8 | byte();
        const float real = std::bit_cast<float>(word);
        if (kind == 0) {
          const std::string t = text();
          const int length = int(t.size()) - (byte() % 2 ? 0 : 200);
          put_text_item(t.data(), length);
          lay_out(t.substr(0, std::size_t(std::max(length, 0))), 0);
        } else if (kind == 1) {
          put_integer_item(std::int32_t(word));
          lay_out(std::to_string(std::int32_t(word)), 11);
        } else {
          put_real_item(real);
          lay_out(format_real_list(real), 15);
          check_real_text(real, format_real_list(real), false);
          check_real_text(real, format_real_exponent(real), true);
        }
      }
      end_list_record();
      for (std::size_t k = 0; k < lines.size(); ++k)
        expected += k == 0 && behind_prompt ? lines[0] : (pending || k > 0 ? "\r\n" : "") + lines[k].substr(1);
      pending = true, behind_prompt = false;
    } else if (step <= 2) {  // a formatted record, or a prompt
      const bool prompt = byte() % 2;
      const std::string t = text(), shown = t.empty() ? " " : t;
      prompt ? write_prompt(t) : write_literal_record(t);
      const char control = behind_prompt ? ' ' : shown[0];
      expected = control == '0' ? (pending ? "\r\n\r\n" : "\r\n") : control == '1' ? "\r\n\f\r \r"
                 : control == '+' ? "\r" : pending && !behind_prompt ? "\r\n" : "";
      expected += behind_prompt ? shown : shown.substr(1);
      pending = true, behind_prompt = prompt;
    } else if (step == 3) {  // a console read: the line is ended unless the cursor is behind a prompt
      begin_console_read(), end_console_read();
      expected = pending && !behind_prompt ? "\r\n" : "";
      pending = false, behind_prompt = false;
    } else {  // the end of a pending line, as at the pause and the stop
      console_end_pending_line();
      expected = pending ? "\r\n" : "";
    }
    console_flush();
    std::string written(expected.size() + 1, '\0');
    check(::pread(out, written.data(), written.size(), mark) == ssize_t(expected.size()));
    check(written.substr(0, expected.size()) == expected);
    mark += off_t(expected.size());
  }
  return 0;
}
