// The table's rules at their edges: which fields CSV quotes, each escape of TSV and
// JSON, numbers and absent values; and the threshold of the exact-area flag.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "batch.h"

namespace {

batch::Row row_named(const std::string& file, const std::string& message) {
  batch::Row row;
  row.file = file;
  if (!message.empty()) row.messages = {message};
  return row;
}

struct FieldCase {
  std::string file, message;
  std::string csv, tsv, json;  // the row's text up to its points column, and its messages
};

// One case per character the formats treat specially, and one beside it that they
// must leave alone.
const FieldCase FIELD_CASES[] = {
    {"a b.csv", "", "a b.csv,", "a b.csv\t", "{\"file\":\"a b.csv\",\"profile\":\"\""},
    {"a,b.csv", "", "\"a,b.csv\",", "a,b.csv\t", "{\"file\":\"a,b.csv\",\"profile\":\"\""},
    {"a\"b.csv", "", "\"a\"\"b.csv\",", "a\"b.csv\t", "{\"file\":\"a\\\"b.csv\",\"profile\":\"\""},
    {"a\tb.csv", "", "a\tb.csv,", "a\\tb.csv\t", "{\"file\":\"a\\tb.csv\",\"profile\":\"\""},
    {"a\\b.csv", "", "a\\b.csv,", "a\\\\b.csv\t", "{\"file\":\"a\\\\b.csv\",\"profile\":\"\""},
    {"a\rb.csv", "", "\"a\rb.csv\",", "a\\rb.csv\t", "{\"file\":\"a\\rb.csv\",\"profile\":\"\""},
    {"a\nb.csv", "", "\"a\nb.csv\",", "a\\nb.csv\t", "{\"file\":\"a\\nb.csv\",\"profile\":\"\""},
    {"f", "one\ntwo", "f,", "f\t", "{\"file\":\"f\",\"profile\":\"\""},
};

TEST(Table, QuotesAndEscapesEachSpecialCharacter) {
  for (const FieldCase& c : FIELD_CASES) {
    const batch::Row row = row_named(c.file, c.message);
    const std::string csv = batch::table_row(row, batch::Format::Csv);
    const std::string tsv = batch::table_row(row, batch::Format::Tsv);
    const std::string json = batch::table_row(row, batch::Format::Json);
    EXPECT_EQ(csv.substr(0, c.csv.size()), c.csv) << c.file;
    EXPECT_EQ(tsv.substr(0, c.tsv.size()), c.tsv) << c.file;
    EXPECT_EQ(json.substr(0, c.json.size()), c.json) << c.file;
    const bool multiline = !c.message.empty();
    EXPECT_TRUE(csv.ends_with(multiline ? ",error,\"one\ntwo\"\n" : ",error,\n")) << csv;
    EXPECT_TRUE(tsv.ends_with(multiline ? "\terror\tone\\ntwo\n" : "\terror\t\n")) << tsv;
    EXPECT_TRUE(json.ends_with(multiline ? "\"messages\":\"one\\ntwo\"}\n" : "\"messages\":\"\"}\n")) << json;
  }
}

TEST(Table, NumbersAreWrittenWithNineDigitsAndAbsentOnesEmptyOrNull) {
  batch::Row row = row_named("f", "");
  row.points = 2;
  row.first_time = 0.0f;
  row.last_time = 5.45f;
  row.max_concentration = -0.0f;
  row.peak_area = 1e30f;
  row.exact_area = 0.1;
  row.ok = true;
  EXPECT_EQ(batch::table_row(row, batch::Format::Csv), "f,,2,0,5.44999981,-0,,1.00000002e+30,,,0.1,ok,\n");
  EXPECT_EQ(batch::table_row(row, batch::Format::Json),
            "{\"file\":\"f\",\"profile\":\"\",\"points\":2,\"first_time\":0,\"last_time\":5.44999981,"
            "\"max_concentration\":-0,\"time_of_max\":null,\"peak_area\":1.00000002e+30,\"area_above\":null,"
            "\"point_added\":null,\"exact_area\":0.1,\"status\":\"ok\",\"messages\":\"\"}\n");
  EXPECT_EQ(batch::table_header(batch::Format::Json), "");
  EXPECT_EQ(batch::table_header(batch::Format::Tsv).substr(0, 13), "file\tprofile\t");
}

// The flag is raised past max(0.001, 0.001 * |exact|), not at it.
TEST(ExactArea, FlagThresholdOnBothSides) {
  struct Case {
    float peak;
    double exact;
    bool flagged;
  };
  const Case cases[] = {
      {0.5f, 0.5, false},          {0.5f, 0.5015, true},     {0.5f, 0.5009, false},
      {0.5f, 0.4985, true},        {0.5f, 0.4991, false},    {1000.0f, 1001.0, false},
      {1000.0f, 1001.002, true},   {-1000.0f, -998.998, true}, {-1000.0f, -999.002, false},
      {0.0f, 0.00099, false},      {0.0f, 0.00101, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(batch::misses_exact_area(c.peak, c.exact), c.flagged) << c.peak << " against " << c.exact;
}

}  // namespace
