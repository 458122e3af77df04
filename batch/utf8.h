// Internal to the batch tool (the names and the plots): one UTF-8 character at a
// time, strictly: overlong forms, surrogates and code points above U+10FFFF are not
// characters, whatever a C library's locale would take.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace batch::utf8 {

// The length of the valid UTF-8 character at the start of `text` (1 to 4), or 0 when
// its first byte starts none.
inline std::size_t character_length(std::string_view text) {
  if (text.empty()) return 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  else return 0;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  return length;
}

// The code point of the valid character of `length` bytes at the start of `text`.
inline std::uint32_t code_point(std::string_view text, std::size_t length) {
  static constexpr unsigned char LEAD_BITS[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  std::uint32_t code = static_cast<unsigned char>(text[0]) & LEAD_BITS[length];
  for (std::size_t k = 1; k < length; ++k) code = code << 6 | (static_cast<unsigned char>(text[k]) & 0x3Fu);
  return code;
}

}  // namespace batch::utf8
