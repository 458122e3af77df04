// File names as text. A file name is a string of bytes, in whatever encoding its
// creator used; the table and its messages are UTF-8 text. A name is shown with each
// byte that is not part of a valid UTF-8 character written as \xHH, so that two
// different names never look the same (as they would with U+FFFD in place of every
// byte that is not UTF-8).

#include <cstdint>
#include <string>
#include <string_view>

#include "batch.h"
#include "utf8.h"

namespace batch {
namespace {

constexpr char HEX[] = "0123456789ABCDEF";

// Whether the valid character of `length` bytes at the start of `text` is one that
// HTML takes as a control or a non-character: C0 and C1 controls, DEL, U+FDD0 to
// U+FDEF, and the last two code points of each plane.
bool hidden_in_markup(std::string_view text, std::size_t length) {
  const std::uint32_t code = utf8::code_point(text, length);
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0xFDD0 && code <= 0xFDEF) ||
         (code & 0xFFFEu) == 0xFFFEu;
}

std::string escape(std::string_view bytes, bool markup) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::string_view rest = bytes.substr(at);
    const std::size_t length = rest.front() == '\0' ? 0 : utf8::character_length(rest);
    const bool backslash_x = rest.size() > 1 && rest[0] == '\\' && rest[1] == 'x';
    const std::size_t escaped = length == 0 || backslash_x ? 1 : markup && hidden_in_markup(rest, length) ? length : 0;
    for (std::size_t k = 0; k < escaped; ++k) {
      const auto byte = static_cast<unsigned char>(rest[k]);
      text += "\\x";
      text += HEX[byte >> 4];
      text += HEX[byte & 0xF];
    }
    if (escaped == 0) text.append(rest.substr(0, length));
    at += escaped > 0 ? escaped : length;
  }
  return text;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string escape_name(std::string_view bytes) { return escape(bytes, false); }

std::string escape_name_for_markup(std::string_view bytes) { return escape(bytes, true); }

std::string unescape_name(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\\' && at + 3 < text.size() && text[at + 1] == 'x' &&
        hex_value(text[at + 2]) >= 0 && hex_value(text[at + 3]) >= 0) {
      bytes += static_cast<char>(hex_value(text[at + 2]) * 16 + hex_value(text[at + 3]));
      at += 3;
    } else {
      bytes += text[at];
    }
  }
  return bytes;
}

}  // namespace batch
