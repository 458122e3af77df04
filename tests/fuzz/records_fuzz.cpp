// Fuzzing harness of the console records: the input is a script of list-directed
// records with arbitrary items (texts of any bytes and length, negative lengths
// included, integers, reals of any bit pattern), formatted records, prompts,
// console reads and line ends. Standard output is a memory file, so the bytes each
// step writes are read back and checked:
//
// - a list-directed record shows exactly the characters of its items, apart from
//   the blanks and line ends of the layout, and no line longer than 80 bytes;
// - a formatted record or prompt shows its text after the first character, behind
//   at most 6 bytes of carriage control, or its whole text behind a prompt;
// - a real's text has 8 to 15 characters, is in fixed form exactly for
//   1 <= |x| < 10000000, and reads back within half a unit of its 7th digit; the
//   exponent form does too; a value that is not finite gives a 13-character text.

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"

namespace {

// A broken invariant is a finding: its line is named and the fuzzer keeps the input.
void check(bool holds, int line = __builtin_LINE()) {
  if (holds) return;
  std::fprintf(stderr, "invariant of %s:%d broken\n", __FILE__, line);
  std::abort();
}

struct Script {
  const std::uint8_t* p;
  std::size_t left;

  bool done() const { return left == 0; }
  std::uint8_t byte() {
    if (left == 0) return 0;
    --left;
    return *p++;
  }
  std::uint32_t word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = w << 8 | byte();
    return w;
  }
  std::string text() {
    std::size_t length = (static_cast<std::size_t>(byte()) << 8 | byte()) % 400;
    if (length > left) length = left;
    std::string t(reinterpret_cast<const char*>(p), length);
    p += length;
    left -= length;
    return t;
  }
};

// Standard output as a memory file; `mark` is the size already checked.
int out_fd = -1;
off_t mark = 0;

std::string new_output() {
  console_flush();
  struct stat info;
  check(::fstat(out_fd, &info) == 0);
  std::string bytes(static_cast<std::size_t>(info.st_size - mark), '\0');
  check(::pread(out_fd, bytes.data(), bytes.size(), mark) == static_cast<ssize_t>(bytes.size()));
  mark = info.st_size;
  return bytes;
}

std::string without_layout(const std::string& bytes) {
  std::string kept;
  for (char ch : bytes) {
    if (ch != ' ' && ch != '\r' && ch != '\n') kept += ch;
  }
  return kept;
}

void check_real_text(float value, const std::string& text, bool exponent_form) {
  if (!std::isfinite(value)) {
    check(text.size() == 13 && text.compare(0, 2, "1#") == 0);
    return;
  }
  check(text.size() >= 8 && text.size() <= 15);
  const double magnitude = std::fabs(static_cast<double>(value));
  const bool has_exponent = text.find('E') != std::string::npos;
  check(has_exponent == (exponent_form || !(magnitude >= 1.0 && magnitude < 1e7)));
  const double read_back = std::strtod(text.c_str(), nullptr);
  check(std::fabs(read_back - static_cast<double>(value)) <= 5.0000001e-7 * magnitude);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (out_fd < 0) {
    out_fd = ::memfd_create("console", 0);
    check(out_fd >= 0 && ::dup2(out_fd, STDOUT_FILENO) == STDOUT_FILENO);
  }
  // A known state: no pending line, no prompt; an empty output file.
  begin_console_read();
  end_console_read();
  console_flush();
  check(::ftruncate(STDOUT_FILENO, 0) == 0 && ::lseek(STDOUT_FILENO, 0, SEEK_SET) == 0);
  mark = 0;
  bool behind_prompt = false;

  Script script{data, size};
  while (!script.done()) {
    switch (script.byte() % 5) {
      case 0: {  // a list-directed record
        std::string shown;
        bool line_ends_in_texts = false;
        begin_list_record();
        for (int items = script.byte() % 12; items > 0; --items) {
          const std::uint8_t kind = script.byte() % 4;
          if (kind == 0) {
            std::string t = script.text();
            const int length = static_cast<int>(t.size()) - (script.byte() % 2 ? 0 : 200);
            put_text_item(t.data(), length);
            if (length > 0) shown += t.substr(0, static_cast<std::size_t>(length));
            line_ends_in_texts |= t.find_first_of("\r\n") != std::string::npos;
          } else if (kind == 1) {
            const auto value = static_cast<std::int32_t>(script.word());
            put_integer_item(value);
            shown += std::to_string(value);
          } else {
            float value;
            const std::uint32_t bits = script.word();
            std::memcpy(&value, &bits, sizeof value);
            put_real_item(value);
            const std::string list = format_real_list(value);
            check_real_text(value, list, false);
            check_real_text(value, format_real_exponent(value), true);
            shown += list;
          }
        }
        end_list_record();
        const std::string out = new_output();
        check(without_layout(out) == without_layout(shown));
        if (!line_ends_in_texts) {
          for (std::size_t from = 0; from <= out.size();) {
            std::size_t end = out.find("\r\n", from);
            if (end == std::string::npos) end = out.size();
            check(end - from <= 80);
            from = end + 2;
          }
        }
        behind_prompt = false;
        break;
      }
      case 1:
      case 2: {  // a formatted record, or a prompt
        const bool prompt = script.byte() % 2;
        const std::string t = script.text();
        if (prompt) write_prompt(t);
        if (!prompt) write_literal_record(t);
        const std::string out = new_output();
        const std::string text = t.empty() ? " " : t;
        if (behind_prompt) {
          check(out == text);
        } else {
          const std::string rest = text.substr(1);
          check(out.size() >= rest.size() && out.size() - rest.size() <= 6);
          check(out.compare(out.size() - rest.size(), rest.size(), rest) == 0);
          for (std::size_t i = 0; i < out.size() - rest.size(); ++i) {
            check(std::strchr("\r\n\f ", out[i]) != nullptr && out[i] != '\0');
          }
        }
        behind_prompt = prompt;
        break;
      }
      case 3:  // a console read: the line is ended unless the cursor is behind a prompt
        begin_console_read();
        end_console_read();
        check(new_output().size() <= 2);
        behind_prompt = false;
        break;
      default:  // the end of a pending line, as at the pause and the stop
        console_end_pending_line();
        check(new_output().size() <= 2);
        break;
    }
  }
  return 0;
}
