// The reference set (reference/README.md): every case of cases.tsv through the program's
// own path, the loader, the profile, Q2AGS and the area above, in one process, twice.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <map>
#include <set>
#include <vector>
#include <sstream>

#include "child.h"
#include "console.h"
#include "driver.h"
#include "errors.h"
#include "quadrature.h"

namespace {

using driver::C, driver::N, driver::T;
// The floating-point control of a run, set before any test.
const bool TRAPS = (install_floating_point_traps(), true);
const std::string REFERENCE = QUADRATURE_REFERENCE_DIR;
struct Case { std::string file, errabs, errrel, maxsub, first, second, above, stopped; };
float XLEFT[driver::CAPACITY], XRIGHT[driver::CAPACITY], SUBINT[driver::CAPACITY],
    SUBERR[driver::CAPACITY], RESULT;
int ERRORD[driver::CAPACITY];

unsigned bits(float x) { return std::bit_cast<unsigned>(x); }

// The loader opens its file read-write (and creates a missing one) and takes names of up to
// 20 characters: it is given a copy under a short name in a temporary folder, which the
// process works in from the first load on; never the reference file itself.
void load(const std::string& file) {
  static std::map<std::string, std::string> copies;
  static const std::string folder = testsupport::make_temp_dir();
  std::string& copy = copies[file];
  if (copy.empty()) {
    std::filesystem::current_path(folder);
    copy = std::to_string(copies.size());
    copy.insert(0, 1, 'c').append(".txt");
    testsupport::write_file(copy, testsupport::read_file(REFERENCE + "/data/" + file));
  }
  char name[20];
  (copy + std::string(20, ' ')).copy(name, sizeof name);
  OPEN_DATA_FILE(4, name);
  EXPECT_TRUE(driver::load_table(READ_PAIR)) << file;
  close_data_unit();
}

// One integration as cases.tsv writes it; the message is the type and code that Q2AGS's
// level of the error state keeps after the return.
std::string integrate(const Case& c, float a, float b) {
  int nfcall = -1, nsub = -1;
  float errval = RESULT = -1.0f;
  Q2AGS(driver::PROFILE, a, b, std::stof(c.errabs), std::stof(c.errrel), RESULT, errval,
        std::stoi(c.maxsub), nfcall, nsub, XLEFT, XRIGHT, SUBINT, SUBERR, ERRORD);
  const int level = ERROR_STATE.CUR_LEVEL + 1;
  char text[64];
  std::snprintf(text, sizeof text, "%08x/%08x/%d/%d/%d/%d", bits(RESULT), bits(errval),
                ERROR_STATE.LEVEL_TYPE[level], ERROR_STATE.LEVEL_CODE[level], nsub, nfcall);
  return text;
}
bool fatal(const std::string& outcome) { return outcome[18] == '4'; }  // the type

// The area report's steps, written as the last three columns of a case.
std::string run(const Case& c) {
  load(c.file);
  driver::use_profile_table(1);
  const float first_time = N > 0 ? T[1] : 0.0f, last_time = N > 0 ? T[N] : 0.0f;
  const std::string first = integrate(c, first_time, last_time);
  if (fatal(first)) return first + "\t-\t-";
  std::string second = "-";
  if (first_time > 0.0f) {
    T[0] = 0.0f;
    C[0] = C[1];
    driver::use_profile_table(0);
    if (fatal(second = integrate(c, T[0], last_time))) return first + "\t" + second + "\t-";
  }
  char above[9];
  std::snprintf(above, sizeof above, "%08x",
                bits(static_cast<float>(double{last_time} * driver::CMAX - RESULT)));
  return first + "\t" + second + "\t" + above;
}

// In the test process WARNING and FATAL messages are posted but neither printed nor
// stopping.
void check(const Case& c) {
  SCOPED_TRACE(c.file + " " + c.errabs + " " + c.errrel + " " + c.maxsub);
  ERROR_STATE.PRINT_FLAG[TYPE_WARNING] = ERROR_STATE.PRINT_FLAG[TYPE_FATAL] = 0;
  ERROR_STATE.STOP_FLAG[TYPE_FATAL] = 0;
  EXPECT_EQ(run(c), c.first + "\t" + c.second + "\t" + c.above);
}

// A FATAL case once more in a child, with the run's own settings: the message, then the
// stop with status 2.
void check_stop(const Case& c) {
  SCOPED_TRACE(c.file + " " + c.errabs + " " + c.errrel + " " + c.maxsub);
  const testsupport::ChildRun stop =
      testsupport::run_in_child([&c] { ERROR_STATE = ErrorState{}; run(c); });
  const std::string code = (c.second == "-" ? c.first : c.second).substr(20, 1);
  EXPECT_EQ(stop.status, 2);
  EXPECT_NE(stop.out.find("*** FATAL    ERROR " + code + " from Q2AGS."), std::string::npos)
      << testsupport::visible(stop.out);
}

std::vector<Case> all_cases() {
  std::istringstream table(testsupport::read_file(REFERENCE + "/cases.tsv"));
  std::vector<Case> cases;
  for (std::string line; std::getline(table, line);) {
    std::istringstream row(line);
    Case c;
    row >> c.file >> c.errabs >> c.errrel >> c.maxsub >> c.first >> c.second >> c.above >>
        c.stopped;
    if (line[0] != '#') cases.push_back(c);
  }
  return cases;
}

TEST(ReferenceSet, EveryCaseTwiceEachTimeAfterADifferentCase) {
  ASSERT_TRUE(TRAPS);
  INIT_ERROR_STATE();
  const std::vector<Case> cases = all_cases();
  ASSERT_EQ(cases.size(), 635u);
  // Forwards, then backwards from the last but one: every case follows a case other than
  // itself and other than the one it followed the first time.
  for (std::size_t k = 0, n = cases.size(); k < 2 * n; ++k)
    check(cases[k < n ? k : (3 * n - 2 - k) % n]);
}

// Every FATAL case stops a run, each in a process of its own. Where a child is the test
// program started anew (Windows), which costs a second under an emulator, the first
// case of each message code stands for the others.
TEST(ReferenceSet, FatalCasesStopTheRun) {
  ASSERT_TRUE(TRAPS);
  INIT_ERROR_STATE();
  std::set<std::string> codes;
  int stopped = 0;
  for (const Case& c : all_cases()) {
    if (c.stopped == "no") continue;
    ++stopped;
    const std::string code = (c.second == "-" ? c.first : c.second).substr(20, 1);
    if (testsupport::CHILD_IS_A_FORK || codes.insert(code).second) check_stop(c);
  }
  EXPECT_EQ(stopped, 75);
}

}  // namespace
