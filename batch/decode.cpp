// The first step of reading an export: its bytes as UTF-8 text. Instrument software
// on lab PCs writes UTF-16 as often as UTF-8, and 8-bit code pages in its headers.

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "reading.h"
#include "system.h"

namespace batch::reading {
namespace {

// A character beyond ASCII (code >= 0x80; ASCII is copied as it is) as UTF-8.
void append_utf8(std::string& out, std::uint32_t code) {
  if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

constexpr std::uint32_t REPLACEMENT = 0xFFFD;

// UTF-16 code units to UTF-8; an odd last byte is dropped. Exports are mostly ASCII, a
// byte for each unit: that part is written in place, and the rest character by
// character from the first unit that is not ASCII on.
template <bool BIG>
std::string from_utf16(const unsigned char* data, std::size_t units) {
  const auto unit = [data](std::size_t k) {
    return static_cast<std::uint32_t>(BIG ? data[2 * k] << 8 | data[2 * k + 1]
                                                 : data[2 * k + 1] << 8 | data[2 * k]);
  };
  // The pages made present at once rather than faulted in one by one as they are written.
  std::string out;
  out.reserve(units);
  prefault(out.data(), units);
  out.resize(units);
  std::size_t k = 0;
  for (char* const w = out.data(); k < units; ++k) {
    const std::uint32_t u = unit(k);
    if (u >= 0x80) break;
    w[k] = static_cast<char>(u);
  }
  if (k == units) return out;
  out.resize(k);
  out.reserve(k + 3 * (units - k));
  for (; k < units; ++k) {
    std::uint32_t code = unit(k);
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
      continue;
    }
    const bool high = code >= 0xD800 && code < 0xDC00;
    const std::uint32_t next = k + 1 < units ? unit(k + 1) : 0;
    if (high && next >= 0xDC00 && next < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
      ++k;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = REPLACEMENT;  // a lone surrogate
    }
    append_utf8(out, code);
  }
  return out;
}

std::string from_utf16(std::string_view bytes, std::size_t from, bool big_endian) {
  const auto* const data = reinterpret_cast<const unsigned char*>(bytes.data()) + from;
  const std::size_t units = (bytes.size() - from) / 2;
  return big_endian ? from_utf16<true>(data, units) : from_utf16<false>(data, units);
}

// The length of the valid UTF-8 character at `p`, or 0.
std::size_t utf8_length(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = *p;
  std::size_t length;
  std::uint32_t low_bound;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) length = 2, low_bound = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) length = 3, low_bound = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) length = 4, low_bound = 0x10000;
  else return 0;
  if (static_cast<std::size_t>(end - p) < length) return 0;
  std::uint32_t code = c & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
    code = code << 6 | (p[k] & 0x3F);
  }
  if (code < low_bound || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
  return length;
}

}  // namespace

bool looks_like_utf16(std::string_view start) {
  if (start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF")) return true;
  // Without a mark: in the first pairs of bytes, zero in one place and not in the other.
  std::size_t pairs = 0, low_zero = 0, high_zero = 0;
  for (std::size_t at = 0; at + 1 < start.size() && pairs < 64; at += 2, ++pairs) {
    const bool first = start[at] == 0, second = start[at + 1] == 0;
    if (first && !second) ++high_zero;
    if (second && !first) ++low_zero;
  }
  return pairs >= 2 && (low_zero * 4 >= pairs * 3 || high_zero * 4 >= pairs * 3) && (low_zero == 0 || high_zero == 0);
}

std::string utf16_text(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) return from_utf16(bytes, 2, false);
  if (bytes.starts_with("\xFE\xFF")) return from_utf16(bytes, 2, true);
  // ASCII text in UTF-16: its zero bytes come second (little endian) or first.
  return from_utf16(bytes, 0, !bytes.empty() && bytes[0] == 0);
}

std::string decode_text(std::string bytes) {
  const std::string_view view(bytes);
  if (looks_like_utf16(view.substr(0, 128))) return utf16_text(view);
  if (view.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  return bytes;
}

std::string shown(std::string_view text, std::size_t limit) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  std::size_t characters = 0;
  while (p < end && characters < limit) {
    const std::size_t length = utf8_length(p, end);
    if (length == 0 || (*p < 0x20 && *p != '\t') || *p == 0x7F) {
      append_utf8(out, REPLACEMENT);
      ++p;
    } else {
      out.append(reinterpret_cast<const char*>(p), length);
      p += length;
    }
    ++characters;
  }
  if (p < end) out += "...";
  return out;
}

FileText::~FileText() {
  if (map_ != nullptr) unmap_file(map_, map_size_);
}

std::string FileText::load(const std::string& path) {
  const int fd = open_for_reading(path);
  if (fd < 0) return std::string("cannot open: ") + std::strerror(errno);
  FileInfo info;
  const bool regular = descriptor_info(fd, info) == 0 && info.kind == FileKind::Regular;
  if (regular && info.size > 0 && info.size <= FILE_LIMIT) {
    // All its pages at once: a file is read from end to end.
    const auto size = static_cast<std::size_t>(info.size);
    if (const char* map = map_file(fd, size)) {
      close_file(fd);
      const std::string_view bytes(map, size);
      if (looks_like_utf16(bytes.substr(0, 128))) {
        owned_ = utf16_text(bytes);
        unmap_file(map, size);
        text_ = owned_;
      } else {
        map_ = map, map_size_ = size;
        text_ = bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
      }
      return {};
    }
  }
  close_file(fd);
  std::string bytes;
  const std::string failure = read_file(path, bytes);
  owned_ = decode_text(std::move(bytes));
  text_ = owned_;
  return failure;
}

std::string read_file(const std::string& path, std::string& bytes) {
  const int fd = open_for_reading(path);
  if (fd < 0) return std::string("cannot open: ") + std::strerror(errno);
  FileInfo info;
  const bool known = descriptor_info(fd, info) == 0;
  if (known && info.kind == FileKind::Directory) {
    close_file(fd);
    return "is a directory";
  }
  constexpr std::size_t BLOCK = 1 << 16;
  // Room for the whole file and one more block, so that the read that finds its end
  // does not move it.
  if (known && info.kind == FileKind::Regular)
    bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(info.size, FILE_LIMIT)) + BLOCK);
  // Reading stops early where the text can already not be read: at a NUL byte of a
  // file that is not UTF-16, or a block deep into a line longer than the limit (the
  // line step gives the verdict on what was read); the rest would only take memory.
  std::size_t line_start = 0, checked = 0;
  bool utf16 = false;
  std::string failure;
  for (;;) {
    if (bytes.size() > FILE_LIMIT) {
      failure = "the file is larger than " + std::to_string(FILE_LIMIT >> 20) + " MiB";
      break;
    }
    const std::size_t had = bytes.size();
    bytes.resize(had + BLOCK);
    const long n = read_some(fd, bytes.data() + had, BLOCK);
    bytes.resize(had + static_cast<std::size_t>(std::max<long>(n, 0)));
    if (n < 0) {
      failure = std::string("cannot read: ") + std::strerror(errno);
      break;
    }
    if (n == 0) break;
    if (had == 0) utf16 = looks_like_utf16(std::string_view(bytes).substr(0, 128));
    if (utf16) continue;
    const std::string_view fresh = std::string_view(bytes).substr(checked);
    if (std::memchr(fresh.data(), 0, fresh.size()) != nullptr) break;
    const std::size_t end = fresh.find_last_of("\r\n");
    if (end != std::string_view::npos) line_start = checked + end + 1;
    checked = bytes.size();
    if (bytes.size() - line_start > LINE_LIMIT + BLOCK) break;
  }
  close_file(fd);
  return failure;
}

std::string quoted(std::string_view text, std::size_t limit) {
  std::string out(1, '"');
  out.append(shown(text, limit));
  out += '"';
  return out;
}

}  // namespace batch::reading
