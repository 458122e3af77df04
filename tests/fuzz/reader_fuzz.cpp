// Fuzzing harness of the data reader and the loader: any bytes are loaded from unit 4 as the
// program loads them (after a first byte 0x01, from the 199999th pair on: the harness gives the
// pairs before; after 0x02 and a byte k, behind a pair's record that leaves k bytes of the
// reader's first 64 KiB block). Each read ends in a pair, the end or a data error; the tables
// hold the pairs read, at most 200000, all finite, CMAX the largest concentration (or 0); the end
// stays the end; an input the model below judges gives its values bit for bit.
#include <sys/mman.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "driver.h"

namespace {

using driver::C, driver::CAPACITY, driver::T;

void check(bool holds, int line = __builtin_LINE()) {  // a broken invariant is a finding
  if (!holds) std::fprintf(stderr, "invariant of %s:%d broken\n", __FILE__, line), std::abort();
}

bool digit(char ch) { return ch >= '0' && ch <= '9'; }

// [+-]digits with at most one point[(e|E)[+-]digits], at least one digit in each part.
bool plain(const std::string& t) {
  std::size_t k = t[0] == '+' || t[0] == '-', digits = 0, points = 0;
  for (; k < t.size() && (digit(t[k]) || t[k] == '.'); ++k) ++(t[k] == '.' ? points : digits);
  std::size_t exponent_digits = 1;  // none needed without an exponent
  if (k < t.size() && (t[k] == 'e' || t[k] == 'E')) {
    k += t[k + 1] == '+' || t[k + 1] == '-' ? 2 : 1;
    for (exponent_digits = 0; k < t.size() && digit(t[k]); ++k) ++exponent_digits;
  }
  return digits > 0 && points <= 1 && exponent_digits > 0 && k == t.size();
}

// The model, for plain values between blanks, tabs, single commas (each between two values
// of a record) and line ends: the values the reads take, up to the pair after the `room` pairs
// left, and the data error that ends them (0 for none); false when it cannot judge the input.
// Each read takes the next two values and the rest of the record of its second; a value is the
// double strtod reads, rounded to a real, the largest real up to one double step above it, a
// data error beyond.
bool model(const std::string& bytes, std::size_t room, std::vector<float>& taken, int& error) {
  int in_read = 0;
  for (std::size_t at = 0, end = 0; at < bytes.size() && !error && taken.size() < 2 * room + 2; at = end + 1) {
    end = std::min(bytes.find('\n', at), bytes.size());
    std::string record = bytes.substr(at, end - at - (end > at && bytes[end - 1] == '\r'));
    bool after_value = false, comma = false;
    for (std::size_t i = 0, j = 0; i < record.size() && !error && in_read < 2; i = j) {
      j = i + 1;
      if (record[i] == ',' && (!after_value || comma)) return false;
      comma |= record[i] == ',';
      if (record[i] == ' ' || record[i] == '\t' || record[i] == ',') continue;
      j = std::min(record.find_first_of(" \t,", i), record.size());
      if (!plain(record.substr(i, j - i))) return false;
      const double d = std::strtod(record.c_str() + i, nullptr), m = std::fabs(d);
      if (m > 0x1.fffffe0000001p+127) error = F_REAL_OUT_OF_RANGE;
      if (!error) taken.push_back(float(m > FLT_MAX ? std::copysign(double(FLT_MAX), d) : d)), ++in_read;
      after_value = true, comma = false;
    }
    if (comma) return false;
    in_read %= 2;
  }
  return true;
}

long pairs_read = 0, given = 0;  // pairs read from the file; pairs the harness still gives

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int mode = size > 1 && data[0] <= 2 ? data[0] : 0;
  const long base = mode == 1 ? CAPACITY - 2 : 0;  // the harness's pairs: (0, 0), not stored
  std::string bytes(reinterpret_cast<const char*>(data) + mode, size - std::size_t(mode));
  if (mode == 2) bytes.insert(0, "0 0" + std::string((1 << 16) - 4 - std::size_t(data[1]), ' ') + "\n");
  static const int file = ::memfd_create("data", 0);  // one file in memory, rewritten each time
  static const std::string path = "/proc/self/fd/" + std::to_string(file);
  check(::pwrite(file, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size()) && !::ftruncate(file, off_t(bytes.size())));
  static char name[20];
  if (name[0] == '\0') std::memset(name, ' ', sizeof name), std::memcpy(name, path.data(), path.size());
  OPEN_DATA_FILE(4, name);

  int error = 0, fits = true;
  pairs_read = 0, given = base;
  try {
    fits = driver::load_table([](float& time, float& concentration) {
      if (given > 0) return --given, true;
      int number = 0;
      const PairRead read = scan_pair(time, concentration, number);
      if (read == PairRead::DataError) throw number;
      pairs_read += read == PairRead::Pair;
      return read == PairRead::Pair;
    });
  } catch (int number) {
    error = number;
  }
  check(error == 0 || error == F_READ_FAILED || error == F_INVALID_REAL || error == F_TEXT_FOR_REAL ||
        error == F_REAL_OUT_OF_RANGE || error == F_INVALID_REPEAT);
  check(error || driver::N == (fits ? base + pairs_read : CAPACITY));  // (a data error ends a run)
  check(error || fits == (base + pairs_read <= CAPACITY));
  float time = 0.0f, concentration = 0.0f, largest = 0.0f;
  check(error || !fits || scan_pair(time, concentration, error) == PairRead::End);
  for (long i = base + 1; !error && i <= driver::N; largest = std::max(largest, C[i++]))
    check(std::isfinite(T[i]) && std::isfinite(C[i]));
  check(error || driver::CMAX == largest);
  std::vector<float> taken;
  int expected_error = 0;
  if (model(bytes, std::size_t(CAPACITY - base), taken, expected_error)) {
    const float *const t = T + base + 1, *const c = C + base + 1;  // the file's pairs
    const std::size_t complete = std::min(taken.size() / 2, std::size_t(CAPACITY + 1 - base));
    check(error == expected_error && std::size_t(pairs_read) == complete);
    for (std::size_t i = 0; i < std::min(complete, std::size_t(CAPACITY - base)); ++i)
      check(!std::memcmp(&t[i], &taken[2 * i], 4) && !std::memcmp(&c[i], &taken[2 * i + 1], 4));
    if (!error && taken.size() % 2 == 1 && complete < std::size_t(CAPACITY - base))  // a time cut by the end stays
      check(!std::memcmp(&t[complete], &taken.back(), 4));
  }
  close_data_unit();
  // Fresh tables for the next input, as in a run; reads reach at most one slot past the pairs.
  std::memset(T + base, 0, sizeof(float) * std::size_t(std::min(pairs_read + 2, CAPACITY + 1 - base)));
  std::memset(C + base, 0, sizeof(float) * std::size_t(std::min(pairs_read + 2, CAPACITY + 1 - base)));
  return 0;
}
