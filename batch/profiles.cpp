// The last step: from the blocks of an export to its profiles. One block is used
// (the longest), or every block whose heading names the section asked for; a block
// gives a profile, or one per group. Within a profile time must not go back, and a
// value must not be missing, unless the options say what to do instead: a file
// gives the profile its user means, or says why it cannot.

#include <algorithm>
#include <numeric>
#include <string>

#include "driver.h"
#include "reading.h"

namespace batch {
namespace {

using reading::Block;
using reading::Layout;
using reading::Row;
using reading::quoted;
using reading::shown;

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string lines_of(const Block& block) {
  return block.first_line == block.last_line
             ? "line " + std::to_string(block.first_line)
             : "lines " + std::to_string(block.first_line) + "-" + std::to_string(block.last_line);
}

std::string named(const Block& block) {
  const std::string title = block.title();
  return (title.empty() ? std::string("without a heading") : quoted(title, 60)) + " (" +
         lines_of(block) + ")";
}

// "1 "Subject", 2 "Wt", ..." for the columns of a block.
std::string column_list(const Block& block) {
  const std::size_t count = std::max(block.widest, block.names.size());
  constexpr std::size_t SHOWN = 12;
  std::string text;
  for (std::size_t k = 0; k < count && k < SHOWN; ++k) {
    if (!text.empty()) text += ", ";
    text += std::to_string(k + 1);
    if (k < block.names.size() && !block.names[k].empty()) text += " " + quoted(block.names[k], 24);
  }
  if (count > SHOWN) {
    text += ", ... (";
    text += std::to_string(count);
    text += " in all)";
  }
  return text;
}

// What a file without a block of data holds.
std::string no_data(const Layout& layout) {
  if (layout.lines == 0) return "no data: the file is empty";
  if (layout.text_lines == 0) return "no data: only blank lines and comments";
  return "no data: no line of numbers; line " + std::to_string(layout.first_text_line) + " reads \"" +
         layout.first_text + "\"";
}

// The profiles of one block: one, or one per group, in order of first appearance.
void block_profiles(std::string_view name, const Block& block, const ReadOptions& options, const std::string& label,
                    std::vector<Profile>& out) {
  const std::size_t groups = options.group_column.empty() ? 1 : block.groups.size();
  const std::size_t first = out.size();
  out.resize(first + groups);
  std::vector<std::size_t> skipped(groups, 0);
  for (std::size_t g = 0; g < groups; ++g) {
    Profile& p = out[first + g];
    p.label = label;
    if (!options.group_column.empty()) {
      const std::string column =
          block.group_column < block.names.size() && !block.names[block.group_column].empty()
              ? block.names[block.group_column]
              : "column " + std::to_string(block.group_column + 1);
      p.label += (p.label.empty() ? "" : "; ") + shown(column, 40) + "=" + shown(block.groups[g], 60);
    }
  }
  if (groups == 1) {
    out[first].time.reserve(block.rows.size());
    out[first].concentration.reserve(block.rows.size());
    out[first].line.reserve(block.rows.size());
  }
  const std::string prefix = std::string(name) + ":";
  for (const Row& row : block.rows) {
    Profile& p = out[first + row.group];
    if (!p.error.empty()) continue;
    if (row.kind == Row::Missing && options.skip_missing) {
      ++skipped[row.group];
      continue;
    }
    if (row.kind != Row::Pair) {
      p.error = prefix + block.errors[row.error];
      continue;
    }
    if (p.time.size() == static_cast<std::size_t>(driver::CAPACITY)) {
      p.error = prefix + std::to_string(row.line) + ": more than " + std::to_string(driver::CAPACITY) + " pairs";
      continue;
    }
    p.time.push_back(row.time);
    p.concentration.push_back(row.value);
    p.line.push_back(row.line);
  }
  for (std::size_t g = 0; g < groups; ++g) {
    Profile& p = out[first + g];
    if (skipped[g] > 0)
      p.notes.push_back(std::to_string(skipped[g]) + (skipped[g] == 1 ? " line" : " lines") +
                        " with a missing value left out");
    if (!p.error.empty()) {
      p.time.clear(), p.concentration.clear(), p.line.clear();
      continue;
    }
    if (p.time.empty()) {
      p.error = std::string(name) + ": no data: every line of " + lines_of(block) + " has a missing value";
      continue;
    }
    const auto back = std::adjacent_find(p.time.begin(), p.time.end(), [](float a, float b) { return b < a; });
    if (back == p.time.end()) continue;
    if (!options.sort) {
      const std::size_t k = static_cast<std::size_t>(back - p.time.begin()) + 1;
      char times[96];
      std::snprintf(times, sizeof times, "time %.9g comes after %.9g (line %lld)", static_cast<double>(p.time[k]),
                    static_cast<double>(p.time[k - 1]), static_cast<long long>(p.line[k - 1]));
      p.error = prefix + std::to_string(p.line[k]) + ": " + times +
                ": times go back; if the file holds several profiles, choose them with "
                "--group-column or --section, or sort the times with --sort";
      p.time.clear(), p.concentration.clear(), p.line.clear();
      continue;
    }
    // A stable sort by time: equal times keep their file order.
    std::vector<std::uint32_t> order(p.time.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return p.time[a] < p.time[b]; });
    Profile sorted;
    for (const std::uint32_t k : order) {
      sorted.time.push_back(p.time[k]);
      sorted.concentration.push_back(p.concentration[k]);
      sorted.line.push_back(p.line[k]);
    }
    p.time.swap(sorted.time), p.concentration.swap(sorted.concentration), p.line.swap(sorted.line);
    p.notes.push_back("pairs sorted by time");
  }
}

Export profiles_of(std::string_view name, const Layout& layout, const ReadOptions& options) {
  Export result;
  const std::string file(name);
  if (layout.blocks.empty()) {
    result.error = file + ": " + no_data(layout);
    return result;
  }
  // The blocks used, each with its label.
  std::vector<std::pair<const Block*, std::string>> used;
  if (!options.section.empty()) {
    const std::string wanted = lower(options.section);
    for (const Block& block : layout.blocks)
      for (const reading::HeadingLine& line : block.heading)
        if (lower(line.text).find(wanted) != std::string::npos) {
          used.emplace_back(&block, shown(line.shown(), 80));
          break;
        }
    if (used.empty()) {
      std::string list;
      for (std::size_t k = 0; k < layout.blocks.size() && k < 8; ++k)
        list += (k > 0 ? ", " : "") + named(layout.blocks[k]);
      if (layout.blocks.size() > 8) list += ", ...";
      result.error = file + ": no block's heading contains " + reading::quoted(options.section) + "; the blocks are " + list;
      return result;
    }
  } else {
    const Block* longest = &layout.blocks.front();
    for (const Block& block : layout.blocks)
      if (block.rows.size() > longest->rows.size()) longest = &block;
    used.emplace_back(longest, std::string());
    if (layout.blocks.size() > 1) {
      const std::size_t others = layout.blocks.size() - 1;
      result.notes.push_back("used the block " + named(*longest) + "; " + std::to_string(others) +
                             (others == 1 ? " other block" : " other blocks") +
                             " skipped: choose blocks with --section");
    } else {
      const std::size_t headers = longest->heading.size();
      if (headers == 1) result.notes.push_back("header line skipped");
      if (headers > 1) result.notes.push_back(std::to_string(headers) + " header lines skipped");
    }
  }
  // A block that cannot give its profile says why in that profile's row.
  const bool chosen = !options.time_column.empty() || !options.value_column.empty();
  for (const auto& [block, label] : used) {
    std::string refused;
    if (!block->column_error.empty()) {
      refused = file + ": " + block->column_error;
    } else if (block->widest < 2) {
      refused = file + ": one value per line (" + lines_of(*block) + "): no time column";
    } else if (block->numeric_columns > 2 && !chosen) {
      refused = file + ": " + std::to_string(block->numeric_columns) + " columns of numbers (" + lines_of(*block) +
                "): " + column_list(*block) + "; choose them with --time-column and --value-column";
    }
    if (!refused.empty()) {
      result.profiles.push_back(Profile{label, {}, {}, {}, {}, refused});
      continue;
    }
    if (block->decimal_comma_seen)
      result.notes.push_back("decimal commas read (line " + std::to_string(block->comma_line) + ")");
    block_profiles(name, *block, options, label, result.profiles);
  }
  if (result.profiles.size() == 1) result.profiles.front().label.clear();
  return result;
}

Export from_text(std::string_view name, const std::string& text, const ReadOptions& options) {
  const std::string unreadable = reading::unreadable_line(text);
  if (!unreadable.empty()) {
    Export failed;
    failed.error = std::string(name) + ":" + unreadable;
    return failed;
  }
  return profiles_of(name, reading::find_blocks(text, options), options);
}

}  // namespace

Export parse_export(std::string_view name, std::string_view bytes, const ReadOptions& options) {
  return from_text(name, reading::decode_text(std::string(bytes)), options);
}

Export read_export(const std::string& path, const ReadOptions& options) {
  std::string bytes;
  const std::string failure = reading::read_file(path, bytes);
  if (!failure.empty()) {
    Export failed;
    failed.error = path + ": " + failure;
    return failed;
  }
  return from_text(path, reading::decode_text(std::move(bytes)), options);
}

}  // namespace batch
