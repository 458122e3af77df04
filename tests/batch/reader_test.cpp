// The export reader: fields, separators, skipped lines and each error text, as one
// table; and value conversion checked against the dialogue's own reader.

#include <gtest/gtest.h>

#include <bit>
#include <initializer_list>
#include <ostream>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "batch.h"
#include "reading.h"
#include "child.h"
#include "console.h"
#include "driver.h"

namespace {

using Pairs = std::vector<std::pair<float, float>>;

// A profile as expected: its label, pairs, notes and error.
struct Expected {
  std::string label;
  Pairs pairs;
  std::vector<std::string> notes = {};
  std::string error = {};
};

struct ReaderCase {
  std::string bytes;
  batch::ReadOptions options;
  std::vector<Expected> profiles;
  std::vector<std::string> notes;  // the file's
  std::string error;               // the file's, or that of its one profile
};

batch::ReadOptions columns(const char* time, const char* value, const char* group = "") {
  batch::ReadOptions options;
  options.time_column = time;
  options.value_column = value;
  options.group_column = group;
  return options;
}

std::string utf16(const std::string& ascii, bool big_endian, bool mark) {
  std::string out = mark ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (const char c : ascii) {
    out += big_endian ? '\0' : c;
    out += big_endian ? c : '\0';
  }
  return out;
}

// UTF-16 little endian with its mark, from code units (lone surrogates allowed).
std::string utf16_units(std::initializer_list<char16_t> units) {
  std::string out = "\xFF\xFE";
  for (const char16_t u : units) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

const std::string SECTIONS = "[Peaks]\n# of Peaks\t2\n1\t8.2\n2\t9.5\n\n[Chromatogram A]\nR.Time\tIntensity\n"
                             "0\t1\n1\t2\n2\t3\n[Status]\n0\t5\n1\t5\n2\t5\n";

const ReaderCase READER_CASES[] = {
    // Fields, separators and their priority: tab, then semicolon, then comma, then blanks.
    {"0 1 x\n2\t 3\n", {}, {{"", {{0, 1}, {2, 3}}}}, {}, ""},
    {"0 1 # note\n", {}, {{"", {{0, 1}}}}, {}, ""},
    {"\xEF\xBB\xBFtime;conc\r\n# run 4\r\n1;2;a\r\n\r\n  3 ; 4\r\n", {}, {{"", {{1, 2}, {3, 4}}}},
     {"header line skipped"}, ""},
    {"Sample A\nt,c\n1,2\n\"3\",\"4\"\n", {}, {{"", {{1, 2}, {3, 4}}}}, {"2 header lines skipped"}, ""},
    {"1\t2;3\n", {}, {{"", {{1, 0}}}}, {}, "f.csv:1: \"2;3\" is not a number"},
    {"1;2,5\n", {}, {{"", {{1, 2.5f}}}}, {"decimal commas read (line 1)"}, ""},
    {"1,2 5\n", {}, {{"", {{1.2f, 5}}}}, {"decimal commas read (line 1)"}, ""},
    {"1,2, x\n", {}, {{"", {{1, 2}}}}, {}, ""},
    {"1,5\n", {}, {{"", {{1, 5}}}}, {}, ""},
    {"\"1\",\"2,5\"\n", {}, {}, {}, "f.csv:1: \"2,5\" has a decimal comma, but commas separate the fields here"},
    {"\"t, min\",\"c\"\n\"0\",\"1\"\n", {}, {{"", {{0, 1}}}}, {"header line skipped"}, ""},
    // Decimal commas: recognised where commas do not separate, refused beside points.
    {"0,5 1,25\n1 2\n", {}, {{"", {{0.5f, 1.25f}, {1, 2}}}}, {"decimal commas read (line 1)"}, ""},
    {"0\t0\n1,5\t2\n", {}, {{"", {{0, 0}, {1.5f, 2}}}}, {"decimal commas read (line 2)"}, ""},
    {"1,5\t2,5\n", batch::ReadOptions{.decimal_comma = true}, {{"", {{1.5f, 2.5f}}}}, {}, ""},
    {"1,5;-2\n2,25 ;  0,5\n", batch::ReadOptions{.decimal_comma = true}, {{"", {{1.5f, -2}, {2.25f, 0.5f}}}}, {}, ""},
    {"0.5\t1\n1,5\t2\n", {}, {}, {}, "f.csv:2: \"1,5\" has a decimal comma, but line 1 has decimal points"},
    {"0,5\t1\n1.5\t2\n", {}, {}, {"decimal commas read (line 1)"},
     "f.csv:2: \"1.5\" has a decimal point, but line 1 has decimal commas"},
    {"0\t1\n1\t1,087.32\n", {}, {}, {}, "f.csv:2: \"1,087.32\" has a thousands separator; export the numbers without one"},
    {"0;1.087,5\n", {}, {}, {}, "f.csv:1: \"1.087,5\" has a thousands separator; export the numbers without one"},
    {"t,c\n0,\"1,087.32\"\n", {}, {}, {"header line skipped"},
     "f.csv:2: \"1,087.32\" has a thousands separator; export the numbers without one"},
    // Values that are not numbers, inside a block: each an error naming its line.
    {"t c\n1 2\n4.0\n", {}, {}, {"header line skipped"}, "f.csv:3: \"4.0\" has no concentration"},
    {"1 2\n1.2.3 4\n", {}, {}, {}, "f.csv:2: \"1.2.3\" is not a number"},
    {"0 1.2.3\n1 2\n", {}, {}, {}, "f.csv:1: \"1.2.3\" is not a number"},
    {"1 2\n3 .\n", {}, {}, {}, "f.csv:2: \".\" is not a number"},
    {"1 2\n3 inf\n", {}, {}, {}, "f.csv:2: \"inf\" is not a number"},
    {"1 2\n3 14 mg\n", {}, {{"", {{1, 2}, {3, 14}}}}, {}, ""},
    {"1\t2\n3\t14 mg\n", {}, {}, {}, "f.csv:2: \"14 mg\" is not a number"},
    {"Time\tOD\n0:00:22\t0.1\n", {}, {}, {"header line skipped"},
     "f.csv:2: \"0:00:22\" is a clock time, not a number of time units"},
    {"1 -1e39\n", {}, {}, {}, "f.csv:1: \"-1e39\" is beyond the largest real"},
    {"1 2\n3 4e1000000000000000000000\n", {}, {}, {}, "f.csv:2: \"4e1000000000000000000000\" is beyond the largest real"},
    {"1 2\n3 1abcdefghijabcdefghijabcdefghijabcdefghijabcdefghij\n", {}, {}, {},
     "f.csv:2: \"1abcdefghijabcdefghijabcdefghijabcdefghi...\" is not a number"},
    // Text ends a block; a header line of texts may begin with a number.
    {"\"14\"\t\"2475ChA ex280/em350\"\n0\t0\n0.5\t7\n", {}, {{"", {{0, 0}, {0.5f, 7}}}}, {"header line skipped"}, ""},
    {"1 2\ntime conc\n3 4\n", {}, {{"", {{1, 2}}}},
     {"used the block without a heading (line 1); 1 other block skipped: choose blocks with --section"}, ""},
    // Missing values: refused, or left out with --missing skip.
    {"0,1\n1,NA\n2,3\n", {}, {}, {}, "f.csv:2: \"NA\" in column 2 is a missing value; use --missing skip to leave such lines out"},
    {"0,1\n1,\n2,3\n", {}, {}, {}, "f.csv:2: an empty field in column 2 is a missing value; use --missing skip to leave such lines out"},
    {"1,2\n,3\n", {}, {}, {}, "f.csv:2: an empty field in column 1 is a missing value; use --missing skip to leave such lines out"},
    {"0\t1\n1\tn.a.\n2\t-\n3\tNaN\n4\t3\n", batch::ReadOptions{.skip_missing = true}, {{"", {{0, 1}, {4, 3}}, {"3 lines with a missing value left out"}}}, {}, ""},
    {"0;1\n;;;\n2;3\n", {}, {{"", {{0, 1}, {2, 3}}}}, {}, ""},
    {"0\t1\t5\t6\n1\t2\t\t\n2\t3\t7\t8\n", columns("3", "4"), {}, {},
     "f.csv:2: an empty field in column 3 is a missing value; use --missing skip to leave such lines out"},
    {"0\t1\t5\t6\n1\t2\t\t\n2\t3\t7\t8\n", [] {
       batch::ReadOptions o = columns("3", "4");
       o.skip_missing = true;
       return o;
     }(), {{"", {{5, 6}, {7, 8}}, {"1 line with a missing value left out"}}}, {}, ""},
    // Time order: equal times are allowed; a time that goes back is refused or sorted.
    {"0 1\n1 2\n1 3\n", {}, {{"", {{0, 1}, {1, 2}, {1, 3}}}}, {}, ""},
    {"0 1\n2 3\n1 4\n", {}, {}, {},
     "f.csv:3: time 1 comes after 2 (line 2): times go back; if the file holds several profiles, choose them "
     "with --group-column or --section, or sort the times with --sort"},
    {"0 1\n2 3\n1 4\n1 5\n", batch::ReadOptions{.sort = true}, {{"", {{0, 1}, {1, 4}, {1, 5}, {2, 3}}, {"pairs sorted by time"}}}, {}, ""},
    // Columns: more than two of numbers need a choice; a choice by number or by name.
    {"Time\tStep\tValue\n0\tn.a.\t1\n1\t0.1\t2\n", {}, {}, {"header line skipped"},
     "f.csv: 3 columns of numbers (lines 2-3): 1 \"Time\", 2 \"Step\", 3 \"Value\"; choose them with --time-column and "
     "--value-column"},
    {"Time\tStep\tValue\n0\tn.a.\t1\n1\t0.1\t2\n", columns("", "3"), {{"", {{0, 1}, {1, 2}}}}, {"header line skipped"}, ""},
    {"Time\tStep\tValue\n0\tn.a.\t1\n1\t0.1\t2\n", columns(" time ", "\"VALUE\""), {{"", {{0, 1}, {1, 2}}}},
     {"header line skipped"}, ""},
    {"a b c\n0 1 2\n", columns("", "d"), {}, {"header line skipped"}, "f.csv: --value-column: no column is named \"d\""},
    {"ml mAU ml\n0 1 2\n", columns("", "ml"), {}, {"header line skipped"}, "f.csv: --value-column \"ml\" names columns 1 and 3; give its number"},
    {"0 1 2\n", columns("", "conc"), {}, {},
     "f.csv: --value-column \"conc\": the data have no line of column names; give the column's number"},
    {"A1,0,5\nA1,1,6\n", columns("2", "3"), {{"", {{0, 5}, {1, 6}}}}, {}, ""},
    {"17416\n17502\n", {}, {}, {}, "f.csv: one value per line (lines 1-2): no time column"},
    // Groups: one profile per value, in order of first appearance.
    {"ID,T,C\n1,0,1\n2,0,5\n1,1,2\n2,1,6\n", columns("T", "C", "ID"),
     {{"ID=1", {{0, 1}, {1, 2}}}, {"ID=2", {{0, 5}, {1, 6}}}}, {"header line skipped"}, ""},
    {"9,0,1\n9,1,2\n", columns("2", "3", "1"), {{"", {{0, 1}, {1, 2}}}}, {}, ""},
    {"ID,T,C\n1,0,1\n2,0,5\n2,-1,6\n", columns("T", "C", "ID"),
     {{"ID=1", {{0, 1}}},
      {"ID=2", {}, {}, "f.csv:4: time -1 comes after 0 (line 3): times go back; if the file holds several profiles, "
                       "choose them with --group-column or --section, or sort the times with --sort"}},
     {"header line skipped"}, ""},
    {"T,C\n0,1\n", columns("T", "C", "C"), {}, {"header line skipped"}, "f.csv: --group-column is also the time or the value column"},
    // Found by fuzzing: a named value column away from the time column; a decimal mark
    // first shown beside a bad value; a decimal comma before the first digit; a
    // recognised decimal comma beyond the largest real; a tab before a quoted field;
    // quoted comma-separated values with a blank after the comma.
    {"Time,ID,Conc\n0,A,1\n1,A,2\n", columns("Time", "Conc", "ID"), {{"", {{0, 1}, {1, 2}}}},
     {"header line skipped"}, ""},
    {"1.5 1e99 A\n2,5 3 B\n", columns("", "", "3"),
     {{"column 3=A", {}, {}, "f.csv:1: \"1e99\" is beyond the largest real"},
      {"column 3=B", {}, {}, "f.csv:2: \"2,5\" has a decimal comma, but line 1 has decimal points"}},
     {}, ""},
    {"1,5\t1e99\tA\n2,5\t3\tB\n", columns("", "", "3"),
     {{"column 3=A", {}, {}, "f.csv:1: \"1e99\" is beyond the largest real"}, {"column 3=B", {{2.5f, 3}}}},
     {"decimal commas read (line 1)"}, ""},
    {"0;1\n,5;2\n1;3\n", batch::ReadOptions{.decimal_comma = true}, {{"", {{0, 1}, {0.5f, 2}, {1, 3}}}}, {}, ""},
    {"0\t1\n,5\t2\n", {}, {{"", {{0, 1}, {0.5f, 2}}}}, {"decimal commas read (line 2)"}, ""},
    {"0;1\n1;1,5e99\n", {}, {}, {}, "f.csv:2: \"1,5e99\" is beyond the largest real"},
    {"0;1\n1;\t\"2\"\n", {}, {{"", {{0, 1}, {1, 2}}}}, {}, ""},
    {"Time,Conc\n\"0\", 4700\n\"1\",4800\n", columns("Time", "Conc"), {{"", {{0, 4700}, {1, 4800}}}},
     {"header line skipped"}, ""},
    // A comma after a blank separates, even where the field after it could read as ",5".
    {"0 ,5\n1 ,7\n", {}, {{"", {{0, 5}, {1, 7}}}}, {}, ""},
    // Blank-separated values with decimal commas may be quoted.
    {"0 \"1,5\"\n1 \"2,5\"\n", {}, {{"", {{0, 1.5f}, {1, 2.5f}}}}, {"decimal commas read (line 1)"}, ""},
    // Blocks: the longest (the first on a tie), or every one a heading names.
    {SECTIONS, {}, {{"", {{0, 1}, {1, 2}, {2, 3}}}},
     {"used the block \"[Chromatogram A]\" (lines 8-10); 2 other blocks skipped: choose blocks with --section"}, ""},
    {SECTIONS, batch::ReadOptions{.section = "status"}, {{"", {{0, 5}, {1, 5}, {2, 5}}}}, {}, ""},
    {SECTIONS, batch::ReadOptions{.section = "CHROMATOGRAM a"}, {{"", {{0, 1}, {1, 2}, {2, 3}}}}, {}, ""},
    {SECTIONS + "[Chromatogram B]\n0\t7\n", batch::ReadOptions{.section = "chromatogram"},
     {{"[Chromatogram A]", {{0, 1}, {1, 2}, {2, 3}}}, {"[Chromatogram B]", {{0, 7}}}}, {}, ""},
    {SECTIONS, batch::ReadOptions{.section = "Detector"}, {}, {},
     "f.csv: no block's heading contains \"Detector\"; the blocks are \"[Peaks]\" (lines 3-4), \"[Chromatogram A]\" "
     "(lines 8-10), \"[Status]\" (lines 12-14)"},
    {"\"TIC: run1\"\n0,1\n1,2\n\"Signal: FID\"\n0,3\n1,4\n", {}, {{"", {{0, 1}, {1, 2}}}},
     {"used the block \"TIC: run1\" (lines 2-3); 1 other block skipped: choose blocks with --section"}, ""},
    // Encodings and line ends.
    {utf16("t\tc\r\n0\t1\r\n1\t2\r\n", false, true), {}, {{"", {{0, 1}, {1, 2}}}}, {"header line skipped"}, ""},
    {utf16("t\tc\r\n0\t1\r\n1\t2\r\n", true, true), {}, {{"", {{0, 1}, {1, 2}}}}, {"header line skipped"}, ""},
    {utf16("t\tc\n0\t1\n1\t2\n", false, false), {}, {{"", {{0, 1}, {1, 2}}}}, {"header line skipped"}, ""},
    // An e acute, a character beyond the basic plane (a surrogate pair), and a lone
    // surrogate, which becomes U+FFFD.
    {utf16_units({u'1', u' ', u'x', 0xE9, 0xD83D, 0xDE00, 0xD800, u'\n', u'2', u' ', u'3', u'\n'}), {},
     {{"", {{2, 3}}}}, {"header line skipped"}, ""},
    {utf16_units({u'1', u' ', u'x', 0xE9, 0xD83D, 0xDE00, 0xD800, u'\n'}), {}, {}, {},
     "f.csv: no data: no line of numbers; line 1 reads \"1 x\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD\""},
    {"\"a\"\t\"b\"\r0\t1\r1\t2\r", {}, {{"", {{0, 1}, {1, 2}}}}, {"header line skipped"}, ""},
    {"t c\r\n0 1\r1 2\n2 3", {}, {{"", {{0, 1}, {1, 2}, {2, 3}}}}, {"header line skipped"}, ""},
    {"Volume (\xB5l)\tx\nt\tc\n0\t1\n", {}, {{"", {{0, 1}}}}, {"2 header lines skipped"}, ""},
    {"t\xB5 c\n1 2.5.1\n", {}, {}, {"header line skipped"}, "f.csv:2: \"2.5.1\" is not a number"},
    {std::string("0 1\n\0 2\n", 8), {}, {}, {}, "f.csv:2: the line holds a NUL byte; this is not a text file"},
    {std::string("\0x\n", 3), {}, {}, {}, "f.csv:1: the line holds a NUL byte; this is not a text file"},
    // Text shown in messages is UTF-8: each length of character from UTF-16 (a DEL, as
    // U+FFFD, before and after the first one beyond ASCII), and an invalid byte, a C1
    // lead byte or a DEL from an 8-bit file as U+FFFD.
    {utf16_units({u'x', 0x7F, 0x80, 0x7F, 0x7FF, 0x800, 0xFFFD, 0xFFFF, 0xDBFF, 0xDFFF, u' ', u'1', u' ', u'2', u'\n'}),
     {}, {}, {},
     "f.csv: no data: no line of numbers; line 1 reads \"x\xEF\xBF\xBD\xC2\x80\xEF\xBF\xBD\xDF\xBF\xE0\xA0\x80"
     "\xEF\xBF\xBD\xEF\xBF\xBF\xF4\x8F\xBF\xBF 1 2\""},
    // UTF-16 without a mark is known by its zero bytes, in three quarters of the first
    // pairs at least; here in two thirds (the others are Greek letters), so the zero
    // bytes stop the reading.
    {std::string("\0" "1\0 \x03\xB1\0" "2\0\n\x03\xB2", 12), {}, {}, {},
     "f.csv:1: the line holds a NUL byte; this is not a text file"},
    {"x\xC2\xA0\xC1\xBF\x7F~ 1 2\n", {}, {}, {},
     "f.csv: no data: no line of numbers; line 1 reads \"x\xC2\xA0\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD~ 1 2\""},
    {"a\n1 b\n", {}, {}, {}, "f.csv: no data: no line of numbers; line 2 reads \"1 b\""},
    // A plus sign and more digits than the in-place reading takes: the general path
    // rewrites the value, its exponent kept apart from its digits.
    {"0 +1.0000000000000000000001e1\n", {}, {{"", {{0, 10.0f}}}}, {}, ""},
    // Files without data say what they hold.
    {"# nothing but comments\n\n   \n", {}, {}, {}, "f.csv: no data: only blank lines and comments"},
    {"", {}, {}, {}, "f.csv: no data: the file is empty"},
    {"Version\t2.0\nRow_1\t850,29.9,0.09\n", {}, {}, {},
     "f.csv: no data: no line of numbers; line 2 reads \"Row_1\t850,29.9,0.09\""},
};

std::vector<Expected> profiles_of(const batch::Export& got) {
  std::vector<Expected> out;
  for (const batch::Profile& p : got.profiles) {
    Expected e{p.label, {}, p.notes, p.error};
    for (std::size_t k = 0; k < p.time.size(); ++k) e.pairs.emplace_back(p.time[k], p.concentration[k]);
    out.push_back(e);
  }
  return out;
}

bool operator==(const Expected& a, const Expected& b) {
  return a.label == b.label && a.pairs == b.pairs && a.notes == b.notes && a.error == b.error;
}

std::ostream& operator<<(std::ostream& out, const Expected& e) {
  out << "{label \"" << e.label << "\", " << e.pairs.size() << " pairs:";
  for (const auto& [t, c] : e.pairs) out << " (" << t << ", " << c << ")";
  for (const auto& note : e.notes) out << ", note \"" << note << "\"";
  return out << ", error \"" << e.error << "\"}";
}

TEST(ExportReader, ReadsEachCase) {
  for (const ReaderCase& c : READER_CASES) {
    const batch::Export got = batch::parse_export("f.csv", c.bytes, c.options);
    const std::string shown = testsupport::visible(c.bytes);
    const bool one = got.error.empty() && got.profiles.size() == 1;
    EXPECT_EQ(one ? got.profiles[0].error : got.error, c.error) << shown;
    EXPECT_EQ(got.notes, c.notes) << shown;
    if (c.error.empty()) {
      EXPECT_EQ(profiles_of(got), c.profiles) << shown;
    } else if (!got.error.empty()) {
      EXPECT_TRUE(got.profiles.empty()) << shown;
    }
  }
}

TEST(ExportReader, FileAndBytesReadAlike) {
  // A line longer than a read block, and the last line without its line end.
  const std::string bytes = "t c\n" + std::string(70000, ' ') + "1 2\n3 4";
  const std::string dir = testsupport::make_temp_dir(), path = dir + "/e.txt";
  testsupport::write_file(path, bytes);
  const batch::Export from_file = batch::read_export(path, {});
  const batch::Export from_bytes = batch::parse_export(path, bytes, {});
  ASSERT_EQ(from_file.profiles.size(), 1u);
  EXPECT_EQ(from_file.profiles[0].time, (batch::Reals{1, 3}));
  EXPECT_EQ(profiles_of(from_file), profiles_of(from_bytes));
  EXPECT_EQ(from_file.notes, from_bytes.notes);
  testsupport::remove_dir(dir);
}

// With the tables as storage, a file's first block is read into them, and every file
// reads as it does without: one block, two (the second longer), groups, pairs sorted.
TEST(ExportReader, ReadsIntoTheTablesAsIntoTheHeap) {
  std::string one = "t c\n", two = "[A]\n", groups = "id t c\n", back = "t c\n";
  for (int k = 0; k < 3000; ++k) {
    one += std::to_string(k) + " " + std::to_string(k % 7) + "\n";
    back += std::to_string(3000 - k) + " 1\n";
    groups += std::to_string(k % 3) + " " + std::to_string(k / 3) + " 1\n";
  }
  for (int k = 0; k < 5000; ++k) two += (k == 2000 ? "[B]\n" : "") + std::to_string(k % 2000) + " 1\n";
  static float times[driver::CAPACITY], values[driver::CAPACITY];
  const struct {
    std::string text;
    batch::ReadOptions options;
    bool in_place;  // the first profile's reals are the storage
  } cases[] = {{one, {}, true}, {two, {}, false}, {two, {.section = "["}, true},
               {groups, {.group_column = "id"}, false}, {back, {.sort = true}, false}};
  for (const auto& c : cases) {
    const batch::Export heap = batch::parse_export("f", c.text, c.options);
    const batch::reading::TableStorage storage(times, values, driver::CAPACITY);
    const batch::Export tables = batch::parse_export("f", c.text, c.options);
    EXPECT_EQ(profiles_of(tables), profiles_of(heap)) << c.text.substr(0, 20);
    EXPECT_EQ(tables.notes, heap.notes);
    ASSERT_FALSE(tables.profiles.empty());
    EXPECT_EQ(tables.profiles[0].time.data() == times && tables.profiles[0].concentration.data() == values,
              c.in_place)
        << c.text.substr(0, 20);
  }
}

// A file that opens but fails to read (this process's memory, unmapped at address 0).
TEST(ExportReader, ReadFailureIsTheFilesError) {
  EXPECT_EQ(batch::read_export("/proc/self/mem", {}).error, "/proc/self/mem: cannot read: Input/output error");
}

// The limits: a line of more than 1 MiB, and the 200001st pair of a profile, each
// named by its line.
TEST(ExportReader, LimitsNameTheirLine) {
  const std::string long_line = "0 1\n1 " + std::string((1 << 20) - 1, '2') + "\n";
  EXPECT_EQ(batch::parse_export("f", long_line, {}).error.substr(0, 12), "f:2: the lin");
  const std::string at_limit = "0 1\n1 " + std::string((1 << 20) - 2, '2') + "\n";
  EXPECT_EQ(batch::parse_export("f", at_limit, {}).profiles.at(0).error,
            "f:2: \"" + std::string(40, '2') + "...\" is beyond the largest real");
  std::string pairs = "t c\n";
  for (int k = 0; k <= 200000; ++k) pairs += std::to_string(k) + " 1\n";
  const batch::Export many = batch::parse_export("f", pairs, {});
  ASSERT_EQ(many.profiles.size(), 1u);
  EXPECT_EQ(many.profiles[0].error, "f:200002: more than 200000 pairs");
  pairs.resize(pairs.rfind("200000 1\n"));
  EXPECT_EQ(batch::parse_export("f", pairs, {}).profiles[0].time.size(), 200000u);
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

namespace {

// Past its first lines a block is read in place, field by field; every line must give
// the pair the general path gives, whatever the separator, the blanks around it, the
// line ends, the value's form or a third column; and a bad value there is the same
// error. The general path's answer for a line: the line alone, after a first line
// that fixes the decimal point (a block's first lines are read the general way).
TEST(ExportReader, InPlaceReadingAgreesWithTheGeneralPath) {
  const std::string good[] = {"0",     "-0",     "1.5",   "+2.25", ".5",   "7.",   "1e3",  "-2.5E-2", "1e-45",
                              "123456789012345678901234", "3.4028234e38", "\"4\"", "0015", "5", "2e+1"};
  const struct {
    std::string separator, end;
    bool third;
  } shapes[] = {{" ", "\n", false},  {"\t", "\r\n", false}, {" ; ", "\n", true},
                {",", "\r", false},  {"  \t ", "\n", true}, {"\t", "\n", true}};
  for (const auto& shape : shapes) {
    const std::string third = shape.third ? shape.separator + "9" : "";
    batch::ReadOptions options;
    if (shape.third) options.value_column = "2";
    std::string bytes;
    Pairs expected;
    std::string expected_error;
    for (std::size_t k = 0; k < 41; ++k) {
      // The last line's value is beyond the largest real.
      const std::string line = std::to_string(k) + shape.separator + (k < 40 ? good[k % std::size(good)] : "1e0400") +
                               third;
      bytes += line + shape.end;
      const batch::Export alone = batch::parse_export("f", "-0.5" + shape.separator + "1" + third + "\n" + line, options);
      ASSERT_EQ(alone.profiles.size(), 1u) << line;
      const batch::Profile& p = alone.profiles[0];
      if (!p.error.empty()) {
        expected_error = "f:" + std::to_string(k + 1) + p.error.substr(p.error.find(':', 2));
        break;
      }
      expected.emplace_back(p.time.at(1), p.concentration.at(1));
    }
    const batch::Export got = batch::parse_export("f", bytes, options);
    const std::string shown = testsupport::visible(bytes.substr(0, 80));
    ASSERT_EQ(got.profiles.size(), 1u) << shown;
    EXPECT_EQ(got.profiles[0].error, expected_error) << shown;
    // The pairs before the error, bit for bit, read without it.
    const batch::Export before = batch::parse_export("f", bytes.substr(0, bytes.rfind("40" + shape.separator)), options);
    ASSERT_EQ(before.profiles.size(), 1u) << shown;
    const batch::Profile& p = before.profiles[0];
    ASSERT_EQ(p.time.size(), expected.size()) << shown << p.error;
    for (std::size_t k = 0; k < expected.size(); ++k) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(p.time[k]), std::bit_cast<std::uint32_t>(expected[k].first)) << k;
      EXPECT_EQ(std::bit_cast<std::uint32_t>(p.concentration[k]), std::bit_cast<std::uint32_t>(expected[k].second))
          << shown << " line " << k + 1;
    }
  }
}

}  // namespace
