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
  const std::size_t count = std::max(block.last_numeric, block.names.size());
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
// The first line that gives no pair (a missing value, unless they are skipped, or a
// bad one) is the profile's error. Without groups the block's tables become the
// profile's as they are.
void block_profiles(std::string_view name, Block& block, const ReadOptions& options, const std::string& label,
                    std::vector<Profile>& out) {
  const bool grouped = !options.group_column.empty();
  const std::size_t groups = grouped ? block.groups.size() : 1;
  const std::size_t first = out.size();
  out.resize(first + groups);
  std::vector<std::size_t> skipped(groups, 0);
  for (std::size_t g = 0; g < groups; ++g) {
    Profile& p = out[first + g];
    p.label = label;
    if (grouped) {
      const std::string column =
          block.group_column < block.names.size() && !block.names[block.group_column].empty()
              ? block.names[block.group_column]
              : "column " + std::to_string(block.group_column + 1);
      p.label += (p.label.empty() ? "" : "; ") + shown(column, 40) + "=" + shown(block.groups[g], 60);
    }
  }
  const std::string prefix = std::string(name) + ":";
  // The pairs before each group's first refusal, and its text.
  std::vector<std::size_t> good(groups, block.time.size());
  for (const reading::Special& special : block.specials) {
    if (special.kind == reading::Special::Missing && options.skip_missing) {
      ++skipped[special.group];
      continue;
    }
    Profile& p = out[first + special.group];
    if (p.error.empty()) {
      p.error = prefix + special.what;
      good[special.group] = special.before;
    }
  }
  const auto too_many = [&](Profile& p, std::size_t limit, std::int64_t line) {
    // The 200001st pair comes before the first refusal: it is the error.
    if (p.time.size() < static_cast<std::size_t>(driver::CAPACITY)) return false;
    (void)limit;
    p.error = prefix + std::to_string(line) + ": more than " + std::to_string(driver::CAPACITY) + " pairs";
    return true;
  };
  if (!grouped) {
    Profile& p = out[first];
    const std::size_t kept = good[0];
    if (kept > static_cast<std::size_t>(driver::CAPACITY)) {
      p.error = prefix + std::to_string(block.line[driver::CAPACITY]) + ": more than " +
                std::to_string(driver::CAPACITY) + " pairs";
    } else if (p.error.empty()) {
      p.time = std::move(block.time);
      p.concentration = std::move(block.value);
      p.line = std::move(block.line);
    }
  } else {
    std::vector<bool> full(groups, false);
    for (std::size_t k = 0; k < block.time.size(); ++k) {
      const std::uint32_t g = block.group[k];
      Profile& p = out[first + g];
      if (k >= good[g] || full[g]) continue;
      if (too_many(p, good[g], block.line[k])) {
        full[g] = true;
        continue;
      }
      p.time.push_back(block.time[k]);
      p.concentration.push_back(block.value[k]);
      p.line.push_back(block.line[k]);
    }
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
    p.time.swap(sorted.time), p.concentration.swap(sorted.concentration), std::swap(p.line, sorted.line);
    p.notes.push_back("pairs sorted by time");
  }
}

}  // namespace

std::int64_t PairLines::operator[](std::size_t k) const {
  const auto run = std::upper_bound(runs_.begin(), runs_.end(), k,
                                    [](std::size_t at, const std::pair<std::size_t, std::int64_t>& r) {
                                      return at < r.first;
                                    }) -
                   1;
  return run->second + static_cast<std::int64_t>(k - run->first);
}

namespace reading {

Export profiles_of(std::string_view name, Layout& layout, const ReadOptions& options) {
  Export result;
  const std::string file(name);
  if (layout.blocks.empty()) {
    result.error = file + ": " + no_data(layout);
    return result;
  }
  // The blocks used, each with its label.
  std::vector<std::pair<Block*, std::string>> used;
  if (!options.section.empty()) {
    const std::string wanted = lower(options.section);
    for (Block& block : layout.blocks)
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
    Block* longest = &layout.blocks.front();
    for (Block& block : layout.blocks)
      if (block.rows() > longest->rows()) longest = &block;
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

}  // namespace reading

namespace {

Export from_text(std::string_view name, std::string_view text, const ReadOptions& options) {
  const std::string unreadable = reading::unreadable_line(text);
  if (!unreadable.empty()) {
    Export failed;
    failed.error = std::string(name) + ":" + unreadable;
    return failed;
  }
  reading::Layout layout = reading::find_blocks(text, options);
  return reading::profiles_of(name, layout, options);
}

}  // namespace

Export parse_export(std::string_view name, std::string_view bytes, const ReadOptions& options) {
  return from_text(name, reading::decode_text(std::string(bytes)), options);
}

Export read_export(const std::string& path, const ReadOptions& options) {
  reading::FileText file;
  const std::string failure = file.load(path);
  if (!failure.empty()) {
    Export failed;
    failed.error = path + ": " + failure;
    return failed;
  }
  return from_text(path, file.text(), options);
}

}  // namespace batch
