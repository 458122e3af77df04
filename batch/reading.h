// The export reader's steps, each in a file of its own: decode (bytes to UTF-8 text),
// lines (the text cut at LF, CR LF or a lone CR), columns (fields and values), blocks
// (runs of data lines and the headings above them) and profiles (the pairs of the
// chosen blocks, by group, in time order). Internal to the batch library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "batch.h"

namespace batch::reading {

// ---------------------------------------------------------------------------
// decode.cpp
// ---------------------------------------------------------------------------

// The text of an export as UTF-8: a UTF-8 byte-order mark is dropped; UTF-16 (little
// or big endian, with a byte-order mark or recognised by its zero bytes) is converted,
// an unpaired surrogate becoming U+FFFD. Other bytes are kept as they are: 8-bit
// code pages in headers never stop the reading. `bytes` is returned (moved) when no
// conversion is needed.
std::string decode_text(std::string bytes);

// The largest file read.
inline constexpr std::size_t FILE_LIMIT = std::size_t{512} << 20;
inline constexpr std::size_t LINE_LIMIT = std::size_t{1} << 20;

// The text of a file as UTF-8 (see decode_text): a regular file in UTF-8 is mapped
// into memory and read where it lies; any other is read and converted.
class FileText {
 public:
  FileText() = default;
  FileText(const FileText&) = delete;
  FileText& operator=(const FileText&) = delete;
  ~FileText();
  // Loads the file; an error text as read_file gives, or empty.
  std::string load(const std::string& path);
  std::string_view text() const { return text_; }

 private:
  std::string owned_;
  const char* map_ = nullptr;
  std::size_t map_size_ = 0;
  std::string_view text_;
};

// The bytes of a file, or an error text ("cannot open: ...", "is a directory", "the
// file is larger than ..."). Reading may stop early at a NUL byte or inside an
// overlong line, which unreadable_line then names.
std::string read_file(const std::string& path, std::string& bytes);

// The text of bytes that look like UTF-16, as UTF-8 (see decode_text).
std::string utf16_text(std::string_view bytes);

// Whether the first bytes of a file look like UTF-16 (a byte-order mark, or zero bytes
// in every other place of a text of mostly ASCII characters).
bool looks_like_utf16(std::string_view start);

// Text from a file, fit to be shown in a message: valid UTF-8, each invalid byte and
// each control character but the tab becoming U+FFFD, cut after `limit` characters
// with "...".
std::string shown(std::string_view text, std::size_t limit = 40);
// The same in double quotes.
std::string quoted(std::string_view text, std::size_t limit = 40);

// ---------------------------------------------------------------------------
// lines.cpp
// ---------------------------------------------------------------------------

// The lines of a text, one at a time: each ends at LF, CR LF or a lone CR; the last
// needs no end.
class Lines {
 public:
  explicit Lines(std::string_view text);
  // The next line without its end; false after the last.
  bool next(std::string_view& line);
  std::int64_t number() const { return number_; }
  // What is not yet read, from the start of the next line.
  std::string_view rest() const { return rest_; }
  // Passes over the line that starts the rest, whose reader stopped at `inside`.
  void pass_line(const char* inside) {
    const char* const end = rest_.data() + rest_.size();
    if (!lone_cr_ && inside < end && *inside == '\n') {
      ++number_;
      rest_ = std::string_view(inside + 1, static_cast<std::size_t>(end - inside - 1));
      return;
    }
    pass_line_slowly(inside);
  }

 private:
  std::string_view rest_;
  std::int64_t number_ = 0;
  bool lone_cr_ = false;  // some CR ends a line alone: every line end is looked for byte by byte
  void pass_line_slowly(const char* inside);
};

// The first line that cannot be read as text, as "<line>: <what>": one holding a NUL
// byte, or one longer than LINE_LIMIT. Empty when there is none.
std::string unreadable_line(std::string_view text);

// ---------------------------------------------------------------------------
// columns.cpp
// ---------------------------------------------------------------------------

// Splits a line at `separator` (' ': runs of blanks and tabs); each field loses the
// blanks around it and, when it is quoted, its quotes (a quoted field may hold the
// separator; a doubled quote inside it is kept as it is). Returns the number of fields.
std::size_t split_fields(std::string_view line, char separator, std::vector<std::string_view>& fields);

// The separator a line's own text suggests: a tab if it has one, else a semicolon,
// else a comma, except where blank-separated values with decimal commas explain the
// commas ("0,5 1,25"), else blanks. `decimal_comma`: commas never separate.
char separator_of(std::string_view line, bool decimal_comma);

// Whether a field begins as a number does: [sign] digit, or [sign] point (or decimal
// comma) digit.
bool starts_numeric(std::string_view field);

// Whether a field is a number, or one with something wrong in it ("1.2.3", "0:04:22",
// "1,087.32", "2;3"): it begins as a number and holds no letter but the exponent's.
// Text that merely begins with digits ("14 mg", "2475ChA") is not.
bool number_like(std::string_view field);

// A field that stands for a missing value: empty, "-", "NA", "N/A", "n.a.", "NaN" (in
// any case).
bool is_missing(std::string_view field);

// The decimal mark of a block: unknown until a value shows one.
enum class Decimal : unsigned char { Unknown, Point, Comma };

// What a field holds.
enum class Value : unsigned char {
  Number,          // `value` set
  Missing,         // see is_missing
  NotANumber,      // text, or a number with something wrong in it
  OutOfRange,      // beyond the largest real
  MixedDecimal,    // a decimal comma where points are used, or the other way round
  CommaSeparated,  // a decimal comma in a field of a comma-separated line
  Thousands,       // "1,087.32": a thousands separator
  ClockTime,       // "0:04:22"
};

// Converts a field under the block's decimal mark, which the first value showing a
// mark decides (a comma between digits with no point: a comma; a point: a point).
// With `decimal_comma` forced by the option, commas are decimal marks and points are
// too.
Value read_value(std::string_view field, char separator, Decimal& decimal, bool decimal_comma, float& value);

// The usual line at full speed: the fields `time_column` and `value_column` (0-based)
// of the line that starts at `p` (and ends at LF, CR or `end`), without quotes, read
// as plain values under the decimal mark. Returns the place after the last of the two,
// or nullptr to leave the line to the general path, which reads the same values from
// it.
const char* quick_fields(const char* p, const char* end, char separator, char mark, std::size_t time_column,
                         std::size_t value_column, float& time, float& value);

// Reads with quick_fields as many lines as come from the start of `lines`' rest,
// appending their values, and passes over them. Returns how many it read.
std::size_t quick_lines(Lines& lines, char separator, char mark, std::size_t time_column, std::size_t value_column,
                        Reals& times, Reals& values);

// ---------------------------------------------------------------------------
// blocks.cpp
// ---------------------------------------------------------------------------

struct HeadingLine {
  std::int64_t line;
  std::string text;    // trimmed
  std::string single;  // for a line of one field: that field, unquoted
  const std::string& shown() const { return single.empty() ? text : single; }
};

// A data line of a block that gives no pair: a missing value, or a bad one.
struct Special {
  enum Kind : unsigned char { Missing, Bad };
  std::int64_t line;
  std::size_t before;   // the block's pairs before it
  std::uint32_t group;  // the group's number in the block (0 without groups)
  Kind kind;
  std::string what;     // "<line>: <what>"
};

struct Block {
  std::vector<HeadingLine> heading;     // the text lines above it, since the block before
  std::vector<std::string> names;       // the column names (empty: none), one per column
  std::vector<std::string> groups;      // the groups' values, in order of first appearance
  // The pairs, in file order, and where each comes from.
  Reals time{TableAllocator<float>(TableAllocator<float>::Times)};
  Reals value{TableAllocator<float>(TableAllocator<float>::Values)};
  PairLines line;
  std::vector<std::uint32_t> group;     // each pair's group, with groups only
  std::vector<Special> specials;        // the other data lines, in file order
  std::size_t rows() const { return time.size() + specials.size(); }
  std::int64_t first_line = 0, last_line = 0;
  char separator = ' ';
  Decimal mark = Decimal::Unknown;      // the decimal mark its values use
  std::int64_t mark_line = 0;           // the first line that showed it
  bool decimal_comma_seen = false;      // decimal commas recognised without the option
  std::int64_t comma_line = 0;
  std::string title_line;               // the nearest heading line of one field
  std::size_t numeric_columns = 0;      // columns holding numbers in the first lines
  std::size_t last_numeric = 0;         // the last of them, counted from 1
  std::size_t widest = 0;               // the most fields of a line
  std::size_t time_column = 0, value_column = 1, group_column = 0;  // 0-based
  std::string column_error;             // a chosen column the block does not have
  std::string title() const;            // the heading line that names it
};

// What the lines of a file hold: its blocks, and for a file without one, what it has.
struct Layout {
  std::vector<Block> blocks;
  std::int64_t lines = 0;
  std::int64_t text_lines = 0;
  std::string first_text;        // the first text line that holds a digit, else the first
  std::int64_t first_text_line = 0;
  std::string error;             // a line that cannot be read (NUL byte, too long)
};

Layout find_blocks(std::string_view text, const ReadOptions& options);

// While one stands, the times and the values of the first block read, up to `capacity`
// pairs each, are placed at `times` and `values` (TableAllocator): a file's longest
// block, usually its only one, is then read straight into the point tables. The reals
// placed there are overwritten when the tables are loaded with other pairs. One at a
// time; storage.cpp.
class TableStorage {
 public:
  TableStorage(float* times, float* values, std::size_t capacity);
  ~TableStorage();
  TableStorage(const TableStorage&) = delete;
  TableStorage& operator=(const TableStorage&) = delete;
};

// Makes the pages of a buffer that is about to be written present at once (where the
// system can; otherwise nothing). prefault_linux.cpp.
void prefault(void* start, std::size_t bytes);

// The profiles of a file's blocks (which are moved from).
Export profiles_of(std::string_view name, Layout& layout, const ReadOptions& options);

}  // namespace batch::reading
