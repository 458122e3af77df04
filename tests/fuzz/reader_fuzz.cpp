// Fuzzing harness of the data reader and the loader: arbitrary bytes become the data
// file on unit 4 and are loaded into the point tables as the program loads them.
//
// Checked for every input: each read ends in a pair, the end of the file or one of
// the data errors; the tables never hold more than 200000 points and hold exactly
// the pairs read; every stored value is a finite real; the largest concentration
// is the largest stored one (or 0); the end of the file, once met, is met again;
// the data file is never written. Crashes, hangs and out-of-bounds accesses are
// caught by the fuzzer and the sanitizers.
//
// An input whose first byte is 0x01 stands for its remaining bytes repeated up to
// 450000 bytes, so short inputs also reach the 200000-pair limit of the tables
// (a record "/" is a pair read, the shortest there is).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console.h"
#include "driver.h"

namespace {

constexpr std::size_t REPEATED_SIZE = 450000;

// The data file: a short name in a directory of its own, fitting the 20-character
// name the program opens; in memory, since a disk file rewritten for every input
// waits for the disk each time.
const std::string& data_path() {
  static const std::string path = [] {
    static char dir[] = "/dev/shm/qfXXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    std::atexit([] {
      ::unlink((std::string(dir) + "/d").c_str());
      ::rmdir(dir);
    });
    return std::string(dir) + "/d";
  }();
  return path;
}

void write_data_file(const std::uint8_t* data, std::size_t size) {
  std::string bytes;
  if (size > 0 && data[0] == 0x01) {
    if (size > 1) {
      while (bytes.size() < REPEATED_SIZE) bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
    }
  } else {
    bytes.assign(reinterpret_cast<const char*>(data), size);
  }
  int fd = ::open(data_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  ::close(fd);
}

struct Stopped {
  int error;
};

long pairs_read = 0;

bool counting_read(float& time, float& concentration) {
  int error = 0;
  switch (scan_pair(time, concentration, error)) {
    case PairRead::Pair:
      ++pairs_read;
      return true;
    case PairRead::End: return false;
    case PairRead::DataError: throw Stopped{error};
  }
  std::abort();  // not one of the three outcomes
}

// A broken invariant is a finding: its line is named and the fuzzer keeps the input.
void check(bool holds, int line = __builtin_LINE()) {
  if (holds) return;
  std::fprintf(stderr, "invariant of %s:%d broken\n", __FILE__, line);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_data_file(data, size);
  struct stat before;
  check(::stat(data_path().c_str(), &before) == 0);

  char name[20];
  std::memset(name, ' ', sizeof name);
  std::memcpy(name, data_path().data(), data_path().size());
  OPEN_DATA_FILE(4, name);

  pairs_read = 0;
  int error = 0;
  bool fits = true;
  try {
    fits = driver::load_table(counting_read);
  } catch (const Stopped& stopped) {
    error = stopped.error;
  }

  using driver::CAPACITY;
  if (error != 0) {
    check(error == F_READ_FAILED || error == F_INVALID_REAL || error == F_TEXT_FOR_REAL ||
          error == F_REAL_OUT_OF_RANGE || error == F_INVALID_REPEAT);
    check(pairs_read <= CAPACITY);
  } else {
    if (fits) {
      check(driver::N == pairs_read && driver::N <= CAPACITY);
      float time = 0.0f, concentration = 0.0f;  // the end stays the end
      check(scan_pair(time, concentration, error) == PairRead::End);
    } else {
      check(pairs_read == CAPACITY + 1 && driver::N == CAPACITY);
    }
    float largest = 0.0f;
    for (int i = 1; i <= driver::N; ++i) {
      check(std::isfinite(driver::T[i]) && std::isfinite(driver::C[i]));
      if (driver::C[i] > largest) largest = driver::C[i];
    }
    check(driver::CMAX == largest);
  }
  close_data_unit();

  struct stat after;
  check(::stat(data_path().c_str(), &after) == 0);
  check(after.st_size == before.st_size && after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
        after.st_mtim.tv_nsec == before.st_mtim.tv_nsec);

  // Fresh tables for the next input, as in a run: slots never written read as 0.0.
  // Reads reach at most the slot after the last pair read.
  const long used = pairs_read + 2 < CAPACITY + 1 ? pairs_read + 2 : CAPACITY + 1;
  std::memset(driver::T, 0, sizeof(float) * static_cast<std::size_t>(used));
  std::memset(driver::C, 0, sizeof(float) * static_cast<std::size_t>(used));
  return 0;
}
