// Names as text: the escaping of bytes that are not UTF-8, and its inverse.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "batch.h"

namespace {

using namespace std::string_literals;

struct Case {
  const char* what;
  std::string bytes;
  std::string text;
};

const Case CASES[] = {
    {"plain ASCII", "run-01.csv", "run-01.csv"},
    {"two-byte character", "caf\xC3\xA9.csv", "caf\xC3\xA9.csv"},
    {"three-byte character", "\xE2\x82\xAC", "\xE2\x82\xAC"},
    {"four-byte character", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    {"largest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
    {"replacement character kept", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
    {"Latin-1 byte", "caf\xE9.csv", "caf\\xE9.csv"},
    {"byte before an ASCII letter", "\xE9t\xE9", "\\xE9t\\xE9"},
    {"character cut at the end", "a\xE2\x82", "a\\xE2\\x82"},
    {"character cut by ASCII", "\xE2\x82z", "\\xE2\\x82z"},
    {"stray continuation byte", "\x80", "\\x80"},
    {"overlong two-byte form", "\xC0\x80", "\\xC0\\x80"},
    {"overlong C1", "\xC1\xBF", "\\xC1\\xBF"},
    {"overlong three-byte form", "\xE0\x9F\xBF", "\\xE0\\x9F\\xBF"},
    {"smallest three-byte form", "\xE0\xA0\x80", "\xE0\xA0\x80"},
    {"surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
    {"last before the surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
    {"overlong four-byte form", "\xF0\x8F\xBF\xBF", "\\xF0\\x8F\\xBF\\xBF"},
    {"smallest four-byte form", "\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
    {"lead byte F5", "\xF5\x80\x80\x80", "\\xF5\\x80\\x80\\x80"},
    {"third byte not a continuation", "\xF0\x90\x41\x80", "\\xF0\\x90A\\x80"},
    {"lead byte FF", "\xFF", "\\xFF"},
    {"NUL byte", "plain.csv\0other.csv"s, "plain.csv\\x00other.csv"},
    {"backslash before x", "a\\x41", "a\\x5Cx41"},
    {"backslash before X kept", "a\\X41", "a\\X41"},
    {"lone backslash kept", "dir\\file", "dir\\file"},
    {"backslash at the end kept", "end\\", "end\\"},
    {"backslash before a bad byte", "\\\xE9", "\\\\xE9"},
    {"escape-like text of a valid name", "\\x\\x", "\\x5Cx\\x5Cx"},
    {"empty", "", ""},
};

TEST(Names, EscapesExactlyTheBytesThatAreNotText) {
  for (const Case& c : CASES) {
    EXPECT_EQ(batch::escape_name(c.bytes), c.text) << c.what;
    EXPECT_EQ(batch::unescape_name(c.text), c.bytes) << c.what;
  }
}

TEST(Names, UnescapingTakesBothCasesOfHexAndLeavesOtherBackslashes) {
  const struct {
    std::string text, bytes;
  } cases[] = {
      {"\\xe9", "\xE9"},       {"\\xE9", "\xE9"},     {"\\x4", "\\x4"},
      {"\\xG0", "\\xG0"},      {"\\x", "\\x"},        {"\\\\x41", "\\A"},
      {"\\x00\\x00", "\0\0"s}, {"a\\y", "a\\y"},
  };
  for (const auto& c : cases) EXPECT_EQ(batch::unescape_name(c.text), c.bytes) << c.text;
}

// Random byte strings, mostly of the bytes that matter (backslash, x, hex digits,
// lead and continuation bytes): every one comes back, and its text is valid UTF-8
// free of NUL bytes, which the escaping again leaves as it is.
TEST(Names, EveryByteStringComesBackAndItsTextIsText) {
  const std::string alphabet = "\\xX0aF9\xC3\xA9\xE2\x82\xAC\xF0\x9F\x80\xBF\xED\xF4\xFF"s + '\0';
  std::mt19937 random(17);
  for (int n = 0; n < 20000; ++n) {
    std::string bytes(random() % 12, ' ');
    for (char& b : bytes)
      b = random() % 4 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
    const std::string text = batch::escape_name(bytes);
    ASSERT_EQ(batch::unescape_name(text), bytes);
    ASSERT_EQ(text.find('\0'), std::string::npos);
    // Text that is valid UTF-8 without "\x" is kept by the escaping; any "\x" of the
    // text comes back as "\x5C".
    std::string once_more = text;
    for (std::size_t at = 0; (at = once_more.find("\\x", at)) != std::string::npos; at += 4)
      once_more.replace(at, 2, "\\x5Cx");
    ASSERT_EQ(batch::escape_name(text), once_more);
  }
}

}  // namespace
