// Fuzzing harness of the console records: the input is a script of list-directed
// records with arbitrary items (texts of any bytes and length, negative lengths
// included, integers, reals of any bit pattern), formatted records, prompts, console
// reads and line ends. Standard output is a memory file, and the bytes of every step
// must be those of the model below: list-directed items laid out in their fields, a
// blank between numbers, lines of 79 columns, carriage control and the pending line.
// A real's text reads back within half a unit of its 7th digit, in fixed form exactly
// for 1 <= |x| < 10000000; a value that is not finite gives a 13-character text.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
  if (holds) return;
  std::fprintf(stderr, "invariant of %s:%d broken\n", __FILE__, line);
  std::abort();
}

struct Script {
  const std::uint8_t* p;
  std::size_t left;
  std::uint8_t byte() { return left == 0 ? 0 : (--left, *p++); }
  std::uint32_t word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = w << 8 | byte();
    return w;
  }
  std::string text() {
    std::size_t length = std::min<std::size_t>((std::size_t(byte()) << 8 | byte()) % 400, left);
    std::string t(reinterpret_cast<const char*>(p), length);
    p += length, left -= length;
    return t;
  }
};

// The layout of a list-directed record: its lines, each with its carriage-control
// blank first. An item is its text and its field (0 for a text item).
struct Item {
  std::string text;
  int field;
};
std::vector<std::string> lay_out(const std::vector<Item>& items) {
  std::vector<std::string> lines(1, " ");
  int room = 79;
  bool after_number = false;
  for (const Item& item : items) {
    if (item.field == 0) {  // a text splits where the room ends
      std::string rest = item.text;
      for (; int(rest.size()) >= room; room = 79) {
        lines.back() += rest.substr(0, std::size_t(room));
        rest.erase(0, std::size_t(room));
        lines.push_back(" ");
      }
      lines.back() += rest, room -= int(rest.size()), after_number = false;
      continue;
    }
    const int width = item.field + after_number;  // right-justified, a blank between numbers
    const std::string field = std::string(std::size_t(width) - item.text.size(), ' ') + item.text;
    if (width >= room) lines.push_back(field[0] == ' ' ? field : " " + field), room = 79 - width;
    else lines.back() += field, room -= width;
    after_number = true;
  }
  return lines;
}

void check_real_text(float value, const std::string& text, bool exponent_form) {
  if (!std::isfinite(value)) return check(text.size() == 13 && text.compare(0, 2, "1#") == 0);
  const double magnitude = std::fabs(double(value));
  check(text.size() >= 8 && text.size() <= 15);
  check((text.find('E') != std::string::npos) == (exponent_form || !(magnitude >= 1.0 && magnitude < 1e7)));
  check(std::fabs(std::strtod(text.c_str(), nullptr) - double(value)) <= 5.0000001e-7 * magnitude);
}

int out_fd = -1;
off_t mark = 0;  // the size of standard output already checked

std::string new_output() {
  console_flush();
  struct stat info;
  check(::fstat(out_fd, &info) == 0);
  std::string bytes(std::size_t(info.st_size - mark), '\0');
  check(::pread(out_fd, bytes.data(), bytes.size(), mark) == ssize_t(bytes.size()));
  mark = info.st_size;
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (out_fd < 0) {
    out_fd = ::memfd_create("console", 0);
    check(out_fd >= 0 && ::dup2(out_fd, STDOUT_FILENO) == STDOUT_FILENO);
  }
  begin_console_read();  // a known state: no pending line, no prompt, nothing written
  end_console_read();
  console_flush();
  check(::ftruncate(STDOUT_FILENO, 0) == 0 && ::lseek(STDOUT_FILENO, 0, SEEK_SET) == 0);
  mark = 0;
  bool pending = false, behind_prompt = false;
  for (Script script{data, size}; script.left > 0;) {
    std::string expected;
    switch (script.byte() % 5) {
      case 0: {  // a list-directed record
        std::vector<Item> items;
        begin_list_record();
        for (int count = script.byte() % 12; count > 0; --count) {
          const std::uint8_t kind = script.byte() % 4;
          const std::uint32_t word = kind == 0 ? 0 : script.word();
          float real;
          std::memcpy(&real, &word, sizeof real);
          if (kind == 0) {
            const std::string t = script.text();
            const int length = int(t.size()) - (script.byte() % 2 ? 0 : 200);
            put_text_item(t.data(), length);
            items.push_back({t.substr(0, std::size_t(std::max(length, 0))), 0});
          } else if (kind == 1) {
            put_integer_item(std::int32_t(word));
            items.push_back({std::to_string(std::int32_t(word)), 11});
          } else {
            put_real_item(real);
            items.push_back({format_real_list(real), 15});
            check_real_text(real, items.back().text, false);
            check_real_text(real, format_real_exponent(real), true);
          }
        }
        end_list_record();
        const std::vector<std::string> lines = lay_out(items);
        for (std::size_t k = 0; k < lines.size(); ++k) {
          expected += k == 0 && behind_prompt ? lines[k] : (pending || k > 0 ? "\r\n" : "") + lines[k].substr(1);
        }
        pending = true, behind_prompt = false;
        break;
      }
      case 1:
      case 2: {  // a formatted record, or a prompt
        const bool prompt = script.byte() % 2;
        const std::string t = script.text(), text = t.empty() ? " " : t;
        prompt ? write_prompt(t) : write_literal_record(t);
        const char control = behind_prompt ? ' ' : text[0];
        expected = control == '0' ? (pending ? "\r\n\r\n" : "\r\n") : control == '1' ? "\r\n\f\r \r"
                   : control == '+' ? "\r" : pending && !behind_prompt ? "\r\n" : "";
        expected += behind_prompt ? text : text.substr(1);
        pending = true, behind_prompt = prompt;
        break;
      }
      case 3:  // a console read: the line is ended unless the cursor is behind a prompt
        begin_console_read();
        end_console_read();
        expected = pending && !behind_prompt ? "\r\n" : "";
        pending = false, behind_prompt = false;
        break;
      default:  // the end of a pending line, as at the pause and the stop
        console_end_pending_line();
        expected = pending ? "\r\n" : "";
        break;
    }
    check(new_output() == expected);
  }
  return 0;
}
