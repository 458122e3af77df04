// Fuzzing harness of the batch tool's export reader: the bytes after a first byte of flags are a
// file, loaded into the point tables as a batch child loads it (bit 0: decimal commas; bits 1-7
// = 1: behind a comment line that leaves the second byte's count of the reader's first 64 KiB
// block; = 2: after 199998 pairs the harness gives, so the file's third pair is the 200001st).
// Each line is skipped (a byte-order mark, blank, "#", a header before the first data line), a
// pair the dialogue's reader reads from the same two texts to the same bits, or the error, which
// names the line's number and text and ends the file.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "batch.h"
#include "console.h"
#include "driver.h"

namespace {

using driver::CAPACITY;

void check(bool holds, int line = __builtin_LINE()) {  // a broken invariant is a finding
  if (!holds) std::fprintf(stderr, "invariant of %s:%d broken\n", __FILE__, line), std::abort();
}

std::string trim(std::string_view s) {  // without blanks and tabs around
  const std::size_t first = std::min(s.find_first_not_of(" \t"), s.size());
  return std::string(s.substr(first, s.find_last_not_of(" \t") + 1 - first));
}

// The first two fields of a line's text: split at each `separator` (at runs of blanks and tabs
// for a blank), each without surrounding blanks and one pair of enclosing double quotes.
std::vector<std::string> fields(std::string s, char separator) {
  std::vector<std::string> out;
  for (std::size_t at = 0, end = 0; out.size() < 2 && at <= s.size(); at = end + 1) {
    end = std::min(separator == ' ' ? s.find_first_of(" \t", at) : s.find(separator, at), s.size());
    std::string f = trim(s.substr(at, end - at));
    if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = trim(f.substr(1, f.size() - 2));
    if (!f.empty() || separator != ' ') out.push_back(f);
  }
  return out;
}

struct Pair { int line; float time, concentration; };
batch::ExportReader* reader = nullptr;
long given = 0;           // pairs the harness still gives
std::vector<Pair> taken;  // the file's pairs, as the loader took them

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const bool decimal_comma = size > 1 && data[0] & 1;
  const int mode = size > 1 ? data[0] >> 1 : 0, skip = std::min(int(size), mode == 1 ? 2 : 1);
  const long base = mode == 2 ? CAPACITY - 2 : 0;  // the harness's pairs: (0, 0), not stored
  std::string bytes(reinterpret_cast<const char*>(data) + skip, size - std::size_t(skip));
  if (mode == 1) bytes.insert(0, "#" + std::string((1 << 16) - 2 - std::size_t(data[1]), ' ') + "\n");
  static const int file = ::memfd_create("export", 0), classic = ::memfd_create("data", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(file);
  const auto rewrite = [](int fd, const std::string& t) {  // files in memory, rewritten each time
    check(::pwrite(fd, t.data(), t.size(), 0) == ssize_t(t.size()) && !::ftruncate(fd, off_t(t.size())));
  };
  rewrite(file, bytes);
  batch::ExportReader export_reader(path, decimal_comma);
  reader = &export_reader, given = base, taken.clear();
  const bool fits = driver::load_table([](float& time, float& concentration) {
    if (given > 0) return --given, true;
    if (!reader->next(time, concentration)) return false;
    return taken.push_back({reader->pair_line(), time, concentration}), true;
  });
  const batch::Export got = export_reader.finish();
  const long pairs = base + long(taken.size());
  check(fits == (pairs <= CAPACITY) && driver::N == (fits ? pairs : CAPACITY));

  // The lines as far as the reader went, against the model.
  const int error_line = got.error.starts_with(path + ":") ? std::atoi(&got.error[path.size() + 1]) : 0;
  check(got.error == (error_line > 0 ? got.error : taken.empty() ? path + ": no data" : ""));
  std::string pair_texts;  // the pairs' value texts, a pair a line, for the dialogue's reader
  std::size_t next = 0, headers = 0;
  int n = 0, separator = 0;
  const auto unread = [&] { return n < error_line || (!error_line && (fits || next < taken.size())); };
  for (std::size_t at = 0, end = 0; at < bytes.size() && unread(); at = end + 1) {
    end = std::min(bytes.find('\n', at), bytes.size());
    std::string_view line(bytes.data() + at, end - at);
    if (++n == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    std::string text = trim(line.substr(0, line.size() - line.ends_with('\r')));
    const bool is_pair = next < taken.size() && taken[next].line == n;
    if (!is_pair && n != error_line) {  // skipped
      check(text.empty() || text[0] == '#' || (separator == 0 && ++headers));
      continue;
    }
    check(!text.empty() && text[0] != '#');
    for (const char s : {'\t', ';', decimal_comma ? '\t' : ',', ' '})  // the first data line's choice
      if (separator == 0 && (s == ' ' || text.find(s) != std::string::npos)) separator = s;
    if (is_pair && decimal_comma) std::replace(text.begin(), text.end(), ',', '.');
    const std::vector<std::string> f = fields(text, char(separator));
    if (!is_pair) {  // the error names the line's number and its text or one of its fields
      const std::string named = path + ":" + std::to_string(n) + ": \"";
      const auto names = [&](const std::string& x) { return got.error.starts_with(named + x.substr(0, 40)); };
      check(names(text) || names(f[0]) || names(f.back()));
      continue;
    }
    check(f.size() == 2);
    pair_texts += f[0] + " " + f[1] + "\n", ++next;
  }
  check(next == taken.size() && (error_line == 0 || n == error_line));
  const std::string note =
      headers == 1 ? "header line skipped" : std::to_string(headers) + " header lines skipped";
  check(got.notes == (headers == 0 ? std::vector<std::string>{} : std::vector{note}));

  rewrite(classic, pair_texts);  // the dialogue's reader on the same texts
  char name[20];  // its name, blank-padded
  std::snprintf(name, sizeof name, "/proc/self/fd/%-6d", classic), name[19] = ' ';
  OPEN_DATA_FILE(4, name);
  for (const Pair& p : taken) {
    float pair[2] = {};
    int error = 0;
    check(scan_pair(pair[0], pair[1], error) == PairRead::Pair && !std::memcmp(pair, &p.time, sizeof pair));
  }
  close_data_unit();
  return 0;
}
