// The fourth step: the lines of an export sorted into blocks of data and the text
// between them. A data line is one whose first field, or whose time field, begins as
// a number does; the blocks are the runs of such lines. Blank lines, lines of empty
// fields and "#" comments belong to no run and end none; any other line is text, and
// the text lines above a block are its heading.
//
// A bad value never ends a block: a line whose time field begins as a number but
// does not read as one ("1.2.3", "0:04:22") is a row of the block that records what
// is wrong with it, and only the block that is used reports it.

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>

#include "driver.h"
#include "reading.h"

namespace batch::reading {
namespace {

// The heading lines kept above a block: the nearest ones.
constexpr std::size_t HEADING_LIMIT = 32;
// The first rows of a block, whose fields tell which columns hold numbers.
constexpr std::size_t SAMPLED_ROWS = 16;

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// The numbers in a text: runs of digits and points that hold a digit.
std::size_t numbers_in(std::string_view text) {
  std::size_t count = 0;
  bool digit = false;
  for (std::size_t k = 0; k <= text.size(); ++k) {
    const char c = k < text.size() ? text[k] : ' ';
    if (c >= '0' && c <= '9') digit = true;
    else if (c != '.') count += digit, digit = false;
  }
  return count;
}

std::string_view trim_spaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[k]) != lower(b[k])) return false;
  }
  return true;
}

// A column option: a 1-based number, or a name.
struct Choice {
  bool given = false;
  std::size_t number = 0;  // 0-based, when given as a number
  std::string name;        // when given as a name
  std::size_t fallback = 0;

  Choice(const std::string& text, std::size_t default_column) : fallback(default_column) {
    given = !text.empty();
    if (given && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        text.size() < 10 && std::stoul(text) >= 1) {
      number = std::stoul(text) - 1;
    } else if (given) {
      // Compared as the names are: without blanks and quotes around.
      std::string_view trimmed = trim(text);
      if (trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"')
        trimmed = trim(trimmed.substr(1, trimmed.size() - 2));
      name = trimmed;
      if (name.empty()) name = text;
    }
  }
  bool named() const { return !name.empty(); }
};

// Where a named column is among the column-names lines above a block (nearest
// first): its 0-based place, or an error text.
std::size_t find_column(const Choice& choice, const std::vector<std::vector<std::string>>& names_lines,
                        const char* option, std::string& error) {
  if (!choice.named()) return choice.given ? choice.number : choice.fallback;
  for (const auto& names : names_lines) {
    std::vector<std::size_t> places;
    for (std::size_t k = 0; k < names.size(); ++k)
      if (same_name(names[k], choice.name)) places.push_back(k);
    if (places.size() == 1) return places[0];
    if (places.size() > 1) {
      if (error.empty())
        error = std::string(option) + " " + quoted(choice.name) + " names columns " +
                std::to_string(places[0] + 1) + " and " + std::to_string(places[1] + 1) +
                "; give its number";
      return places[0];
    }
  }
  if (error.empty())
    error = names_lines.empty()
                ? std::string(option) + " " + quoted(choice.name) +
                      ": the data have no line of column names; give the column's number"
                : std::string(option) + ": no column is named " + quoted(choice.name);
  return choice.fallback;
}

class Finder {
 public:
  Finder(std::string_view text, const ReadOptions& options, Layout& layout)
      : text_end_(text.data() + text.size()), options_(options), layout_(layout), time_(options.time_column, 0), value_(options.value_column, 1),
        group_(options.group_column, 0) {}

  // Reads the line at the start of `lines`' rest.
  void next(Lines& lines) {
    if (block_ != nullptr && quick_run(lines)) return;
    std::string_view text;
    lines.next(text);
    line(text, lines.number());
  }

  void line(std::string_view text, std::int64_t number) {
    const std::string_view content = trim(text);
    if (content.empty() || content.front() == '#') return;
    const char separator = block_ != nullptr ? block_->separator : separator_of(content, options_.decimal_comma);
    // Where tabs separate, a tab at either end of the line still bounds an empty field.
    split_fields(separator == '\t' ? trim_spaces(text) : content, separator, fields_);
    if (std::all_of(fields_.begin(), fields_.end(), [](std::string_view f) { return f.empty(); })) return;
    if (is_data()) {
      if (block_ == nullptr) open_block(separator, number, text.data());
      row(content, number);
    } else {
      text_line(content, separator, number);
    }
  }

  void finish() { close_block(); }

 private:
  std::string_view field(std::size_t k) const { return k < fields_.size() ? fields_[k] : std::string_view(); }

  // The time field's place for lines outside a block: the number given, or the
  // place of the name in the last line of text that holds it.
  std::size_t time_place() const { return time_.named() ? named_time_ : time_.given ? time_.number : 0; }

  // Inside a block, a line is a row as soon as its first or its time field begins as
  // a number, or its time is missing beside a value: a bad value never ends a block.
  // A block begins only with a line whose time and value fields are numbers (or
  // look like numbers gone wrong, or the value is missing): a header line of
  // quoted texts that begins with a sample number is not data.
  bool is_data() const {
    if (block_ == nullptr) {
      const std::size_t time = time_place();
      const std::size_t value = value_.named() ? (named_value_ ? *named_value_ : time + 1)
                                : value_.given ? value_.number
                                               : 1;
      return number_like(field(time)) && (number_like(field(value)) || is_missing(field(value)));
    }
    const std::size_t time = block_->time_column;
    if (starts_numeric(field(0)) || starts_numeric(field(time))) return true;
    if (time >= fields_.size() || !is_missing(field(time))) return false;
    const std::string_view value = field(block_->value_column);
    return starts_numeric(value) || (!field(time).empty() && is_missing(value));
  }

  void text_line(std::string_view content, char separator, std::int64_t number) {
    close_block();
    ++layout_.text_lines;
    // The line shown for a file without data: the first of those with the most
    // numbers in them.
    const std::size_t numbers = numbers_in(content);
    if (layout_.first_text_line == 0 || numbers > most_numbers_) {
      layout_.first_text = shown(content, 60);
      layout_.first_text_line = number;
      most_numbers_ = numbers;
    }
    if (heading_.size() == HEADING_LIMIT) heading_.erase(heading_.begin());
    heading_.push_back({number, std::string(content), fields_.size(),
                        fields_.size() == 1 ? std::string(fields_[0]) : std::string()});
    for (std::size_t k = 0; k < fields_.size(); ++k) {
      if (time_.named() && same_name(fields_[k], time_.name)) named_time_ = k;
      if (value_.named() && same_name(fields_[k], value_.name)) named_value_ = k;
    }
    (void)separator;
  }

  // Room for the rest of a block, estimated from its first lines: the tables grow
  // once instead of being copied as they double.
  void reserve(const char* here) {
    reserved_ = true;
    const auto so_far = static_cast<std::size_t>(here - block_start_);
    const std::size_t per_line = std::max<std::size_t>(so_far / SAMPLED_ROWS, 4);
    const std::size_t rest = static_cast<std::size_t>(text_end_ - here) / per_line + SAMPLED_ROWS;
    // No profile holds more than the tables do (more is an error): a block that does
    // grows further.
    const std::size_t room =
        std::min(block_->time.size() + std::min<std::size_t>(rest + rest / 8, std::size_t{1} << 24),
                 std::max<std::size_t>(block_->time.size() + 1, driver::CAPACITY));
    block_->time.reserve(room);
    block_->value.reserve(room);
    prefault(block_->time.data() + block_->time.size(), (room - block_->time.size()) * sizeof(float));
    prefault(block_->value.data() + block_->value.size(), (room - block_->value.size()) * sizeof(float));
  }

  void open_block(char separator, std::int64_t number, const char* start) {
    block_start_ = start;
    reserved_ = false;
    layout_.blocks.emplace_back();
    block_ = &layout_.blocks.back();
    Block& b = *block_;
    b.separator = separator;
    b.first_line = number;
    // The column names: the lines of two or more fields right above the data.
    std::vector<std::vector<std::string>> names_lines;
    std::vector<std::string_view> names;
    for (auto at = heading_.rbegin(); at != heading_.rend(); ++at) {
      if (split_fields(at->text, separator, names) < 2) break;
      names_lines.emplace_back(names.begin(), names.end());
    }
    for (std::size_t k = heading_.size(); k-- > 0;)
      if (heading_[k].fields == 1 && b.title_line.empty()) b.title_line = heading_[k].single;
    for (auto& line : heading_)
      b.heading.push_back({line.line, std::move(line.text), line.fields == 1 ? line.single : std::string()});
    heading_.clear();
    if (!names_lines.empty()) b.names = names_lines.front();
    b.time_column = find_column(time_, names_lines, "--time-column", b.column_error);
    b.value_column = find_column(value_, names_lines, "--value-column", b.column_error);
    if (group_.given) b.group_column = find_column(group_, names_lines, "--group-column", b.column_error);
    if (group_.given && b.column_error.empty() &&
        (b.group_column == b.time_column || b.group_column == b.value_column))
      b.column_error = "--group-column is also the time or the value column";
    b.mark = options_.decimal_comma ? Decimal::Comma : Decimal::Unknown;
    groups_.clear();
  }

  void close_block() {
    if (block_ == nullptr) return;
    block_->numeric_columns = static_cast<std::size_t>(std::count(numeric_.begin(), numeric_.end(), true));
    for (std::size_t k = numeric_.size(); k > 0 && block_->last_numeric == 0; --k)
      if (numeric_[k - 1]) block_->last_numeric = k;
    numeric_.clear();
    block_ = nullptr;
  }

  // The usual lines of a block at full speed, read where they stand, as many as
  // come: no group, past the sampled rows. False when the next line is to be read
  // the general way.
  bool quick_run(Lines& lines) {
    Block& b = *block_;
    if (group_.given || b.rows() < SAMPLED_ROWS) return false;
    if (!reserved_) reserve(lines.rest().data());
    const char mark = b.mark == Decimal::Comma ? ',' : b.mark == Decimal::Point ? '.' : '\0';
    const std::int64_t first_line = lines.number() + 1;
    const std::size_t count =
        quick_lines(lines, b.separator, mark, b.time_column, b.value_column, b.time, b.value);
    if (count == 0) return false;
    b.line.push_run(first_line, count);
    b.last_line = lines.number();
    return true;
  }

  void row(std::string_view content, std::int64_t number) {
    Block& b = *block_;
    b.last_line = number;
    b.widest = std::max(b.widest, fields_.size());
    if (b.rows() < SAMPLED_ROWS) {
      if (numeric_.size() < fields_.size()) numeric_.resize(fields_.size(), false);
      for (std::size_t k = 0; k < fields_.size(); ++k)
        if (starts_numeric(fields_[k])) numeric_[k] = true;
    }
    std::uint32_t group = 0;
    if (group_.given) {
      const std::string key(field(b.group_column));
      const auto [at, fresh] = groups_.emplace(key, static_cast<std::uint32_t>(b.groups.size()));
      if (fresh) b.groups.push_back(key);
      group = at->second;
    }
    const auto bad = [&](Special::Kind kind, const std::string& what) {
      b.specials.push_back({number, b.time.size(), group, kind, std::to_string(number) + ": " + what});
    };
    float time_value = 0.0f, value_value = 0.0f;
    if (fields_.size() <= b.time_column) return bad(Special::Bad, quoted(content) + " has no time");
    if (fields_.size() <= b.value_column)
      return bad(Special::Bad, quoted(content) + " has no concentration");
    const Decimal before = b.mark;
    // The first value to show a decimal mark decides the block's, on its line, even
    // when the line's other value is bad.
    const auto read = [&](std::size_t column, float& into) {
      const Value got = read_value(fields_[column], b.separator, b.mark, options_.decimal_comma, into);
      if (before == Decimal::Unknown && b.mark != Decimal::Unknown && b.mark_line == 0) {
        b.mark_line = number;
        if (b.mark == Decimal::Comma && !options_.decimal_comma) {
          b.decimal_comma_seen = true;
          b.comma_line = number;
        }
      }
      return got;
    };
    const Value time = read(b.time_column, time_value);
    if (time != Value::Number && time != Value::Missing)
      return bad(Special::Bad, what(time, fields_[b.time_column], before, b.time_column));
    const Value value = read(b.value_column, value_value);
    if (value != Value::Number && value != Value::Missing)
      return bad(Special::Bad, what(value, fields_[b.value_column], before, b.value_column));
    if (time == Value::Missing || value == Value::Missing) {
      const std::string_view missing = time == Value::Missing ? fields_[b.time_column] : fields_[b.value_column];
      return bad(Special::Missing, (missing.empty() ? std::string("an empty field") : quoted(missing)) +
                                   " in column " +
                                   std::to_string((time == Value::Missing ? b.time_column : b.value_column) + 1) +
                                   " is a missing value; use --missing skip to leave such lines out");
    }
    b.time.push_back(time_value);
    b.value.push_back(value_value);
    b.line.push_back(number);
    if (group_.given) b.group.push_back(group);
  }

  std::string what(Value value, std::string_view field, Decimal before, std::size_t column) const {
    const std::string text = quoted(field);
    switch (value) {
      case Value::OutOfRange: return text + " is beyond the largest real";
      case Value::Thousands:
        return text + " has a thousands separator; export the numbers without one";
      case Value::ClockTime: return text + " is a clock time, not a number of time units";
      case Value::CommaSeparated: return text + " has a decimal comma, but commas separate the fields here";
      case Value::MixedDecimal:
        return text + (before == Decimal::Comma || block_->mark == Decimal::Comma
                           ? " has a decimal point, but line " + std::to_string(block_->mark_line) +
                                 " has decimal commas"
                           : " has a decimal comma, but line " + std::to_string(block_->mark_line) +
                                 " has decimal points");
      case Value::Missing:
      case Value::Number:
      case Value::NotANumber: break;
    }
    (void)column;
    return text + " is not a number";
  }

  struct Pending {
    std::int64_t line;
    std::string text;
    std::size_t fields;
    std::string single;  // the field of a line of one field, unquoted
  };

  const char* text_end_;
  const char* block_start_ = nullptr;
  bool reserved_ = false;
  const ReadOptions& options_;
  Layout& layout_;
  Choice time_, value_, group_;
  std::size_t named_time_ = 0;
  std::optional<std::size_t> named_value_;
  Block* block_ = nullptr;
  std::vector<Pending> heading_;
  std::vector<std::string_view> fields_;
  std::vector<bool> numeric_;
  std::unordered_map<std::string, std::uint32_t> groups_;
  std::size_t most_numbers_ = 0;
};

}  // namespace

std::string Block::title() const {
  for (auto at = heading.rbegin(); at != heading.rend(); ++at)
    if (at->text.size() >= 2 && at->text.front() == '[' && at->text.back() == ']') return at->text;
  if (!title_line.empty()) return title_line;
  return heading.empty() ? std::string() : heading.back().text;
}

Layout find_blocks(std::string_view text, const ReadOptions& options) {
  Layout layout;
  Finder finder(text, options, layout);
  Lines lines(text);
  while (!lines.rest().empty()) finder.next(lines);
  finder.finish();
  layout.lines = lines.number();
  return layout;
}

}  // namespace batch::reading
