// The export reader: fields, separators, skipped lines and each error text, as one
// table; and value conversion checked against the dialogue's own reader.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "batch.h"
#include "child.h"
#include "console.h"

namespace {

using Pairs = std::vector<std::pair<float, float>>;

struct ReaderCase {
  const char* bytes;
  bool decimal_comma;
  Pairs pairs;
  std::vector<std::string> notes;
  const char* error;
};

const ReaderCase READER_CASES[] = {
    {"0 1 x\n2\t 3\n", false, {{0, 1}, {2, 3}}, {}, ""},
    {"\xEF\xBB\xBFtime;conc\r\n# run 4\r\n1;2;9\r\n\r\n  3 ; 4\r\n", false, {{1, 2}, {3, 4}},
     {"header line skipped"}, ""},
    {"Sample A\nt,c\n1,2\n\"3\",\"4\"\n", false, {{1, 2}, {3, 4}}, {"2 header lines skipped"}, ""},
    {"1,5\t2,5\n", true, {{1.5f, 2.5f}}, {}, ""},
    {"1,5;-2\n1,25 ;  0,5\n", true, {{1.5f, -2}, {1.25f, 0.5f}}, {}, ""},
    {"+1.5e+1 -.5\n2. 1E-1", false, {{15, -0.5f}, {2, 0.1f}}, {}, ""},
    {"0\t0\n1,5\t2\n", false, {{0, 0}}, {}, "f.csv:2: \"1,5\" has a decimal comma; use --decimal-comma"},
    {"1;2\n3,5;4\n", false, {{1, 2}}, {}, "f.csv:2: \"3,5\" has a decimal comma; use --decimal-comma"},
    {"0\t0\n12,5\t2\n", false, {{0, 0}}, {}, "f.csv:2: \"12,5\" has a decimal comma; use --decimal-comma"},
    {"t c\n1 2\n4.0\n", false, {{1, 2}}, {"header line skipped"}, "f.csv:3: \"4.0\" has no concentration"},
    {"1,2\n,3\n", false, {{1, 2}}, {}, "f.csv:2: \",3\" has no time"},
    {"1 2\n1.2.3 4\n", false, {{1, 2}}, {}, "f.csv:2: \"1.2.3\" is not a number"},
    {"1 2\n3 .\n", false, {{1, 2}}, {}, "f.csv:2: \".\" is not a number"},
    {"1 2\ntime conc\n", false, {{1, 2}}, {}, "f.csv:2: \"time\" is not a number"},
    {"1;2\n3 4\n", false, {{1, 2}}, {}, "f.csv:2: \"3 4\" is not a number"},
    {"1 2\n3 inf\n", false, {{1, 2}}, {}, "f.csv:2: \"inf\" is not a number"},
    {"1 -1e39\n", false, {}, {}, "f.csv:1: \"-1e39\" is beyond the largest real"},
    {"1 2\n3 4e1000000000000000000000\n", false, {{1, 2}}, {},
     "f.csv:2: \"4e1000000000000000000000\" is beyond the largest real"},
    {"1 2\n3 abcdefghijabcdefghijabcdefghijabcdefghijabcdefghij\n", false, {{1, 2}}, {},
     "f.csv:2: \"abcdefghijabcdefghijabcdefghijabcdefghij...\" is not a number"},
    {"# nothing but comments\n\n   \n", false, {}, {}, "f.csv: no data"},
    {"", false, {}, {}, "f.csv: no data"},
};

TEST(ExportReader, ReadsEachCase) {
  for (const ReaderCase& c : READER_CASES) {
    const batch::Export got = batch::parse_export("f.csv", c.bytes, c.decimal_comma);
    Pairs pairs;
    for (std::size_t k = 0; k < got.time.size(); ++k) pairs.emplace_back(got.time[k], got.concentration[k]);
    EXPECT_EQ(pairs, c.pairs) << c.bytes;
    EXPECT_EQ(got.notes, c.notes) << c.bytes;
    EXPECT_EQ(got.error, c.error) << c.bytes;
  }
}

TEST(ExportReader, FileAndBytesReadAlike) {
  // A line longer than a read block, and the last line without its line end.
  const std::string bytes = "t c\n" + std::string(70000, ' ') + "1 2\n3 4";
  const std::string dir = testsupport::make_temp_dir(), path = dir + "/e.txt";
  testsupport::write_file(path, bytes);
  const batch::Export from_file = batch::read_export(path, false);
  const batch::Export from_bytes = batch::parse_export(path, bytes, false);
  EXPECT_EQ(from_file.time, (std::vector<float>{1, 3}));
  EXPECT_EQ(from_file.concentration, from_bytes.concentration);
  EXPECT_EQ(from_file.notes, from_bytes.notes);
  testsupport::remove_dir(dir);
}

// Each text, read as the time of a pair by the dialogue's reader, gives the same
// real bits, or the out-of-range report where the batch reader reports the range.
TEST(ExportReader, ConvertsLikeTheDialogue) {
  const std::string many_digits = "1." + std::string(900, '0') + "1";
  const std::string texts[] = {"0", "-0", "0.1", "-2.5e-3", "1e-45", "7e-46", "1e-400",
                               "3.4028234e38", "3.40282356e38", "3.4028236e38", "-3.5e38",
                               "1e39", "16777217", "1.00000005960464477539063", many_digits,
                               "123456789012345678901234567890e-20", ".000000000000000000001e30", "-0e12345"};
  const std::string dir = testsupport::make_temp_dir();
  for (const std::string& text : texts) {
    const std::string path = dir + "/v.txt";
    testsupport::write_file(path, text + " 1\n");
    char program[] = "q", *argv[] = {program, const_cast<char*>(path.c_str())};
    set_command_line(2, argv);
    char blank[20];
    std::fill(std::begin(blank), std::end(blank), ' ');
    OPEN_DATA_FILE(4, blank);
    float classic = 0.0f, concentration = 0.0f, ours = 0.0f;
    int error = 0;
    const PairRead read = scan_pair(classic, concentration, error);
    const batch::ValueRead value = batch::convert_real(text, ours);
    if (read == PairRead::DataError) {
      EXPECT_EQ(error, F_REAL_OUT_OF_RANGE) << text;
      EXPECT_EQ(value, batch::ValueRead::OutOfRange) << text;
    } else {
      EXPECT_EQ(value, batch::ValueRead::Ok) << text;
      EXPECT_EQ(std::bit_cast<std::uint32_t>(ours), std::bit_cast<std::uint32_t>(classic)) << text;
    }
  }
  close_data_unit();
  testsupport::remove_dir(dir);
}

}  // namespace
