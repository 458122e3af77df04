// Posting of typed, numbered messages and the numbered-parameter store whose values
// replace the %(Kn) placeholders of a message template.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "console.h"
#include "errors.h"

namespace {

constexpr char ILLEGAL_TYPE_TEXT[] = ".  Error from E1MES.  Illegal error type specified.";

char upper(char ch) { return static_cast<char>(std::toupper(static_cast<unsigned char>(ch))); }

// Finds the value of the parameter whose key ("*", kind, digit, "*") is given, in the
// used part of the store. The first entry with that key wins; case is ignored.
// Returns false when the key is absent.
bool find_param(const char key[4], const char*& value, int& length) {
  const ErrorState& s = ERROR_STATE;
  const int used = s.PARAM_LENGTH;  // positions 1..used
  for (int at = 0; at + 4 <= used; ++at) {
    bool same = true;
    for (int j = 0; j < 4 && same; ++j) same = upper(s.PARAM_TEXT[at + j]) == upper(key[j]);
    if (!same) continue;
    // The stored length, digit by digit up to the "%". The key can also be found
    // inside a value, where anything may follow it; a length beyond the store says
    // no more than "the rest of the store", so the count stops growing there, as the
    // reader's exponent does, and cannot overflow.
    int pos = at + 4;
    int v = 0;
    while (pos < used && s.PARAM_TEXT[pos] != '%') {
      if (v >= -ErrorState::PARAM_CAPACITY && v <= ErrorState::PARAM_CAPACITY)
        v = v * 10 + (s.PARAM_TEXT[pos] - '0');
      ++pos;
    }
    value = s.PARAM_TEXT + pos + 1;
    length = std::max(0, std::min(v, used - (pos + 1)));
    return true;
  }
  return false;
}

bool is_placeholder_kind(char ch) {
  return ch != '\0' && std::strchr("ACDIKLRSZ", upper(ch)) != nullptr;
}

// Builds ".  " followed by the template with its placeholders replaced, cut at the
// capacity of the message text.
void build_message(std::string_view message_template) {
  ErrorState& s = ERROR_STATE;
  constexpr int CAP = ErrorState::MSG_CAPACITY;
  const int n = static_cast<int>(std::min<std::size_t>(message_template.size(), CAP));
  const char* t = message_template.data();  // t[i - 1] is character i
  std::memcpy(s.MSG_TEXT, ".  ", 3);
  int p = 3;
  auto put = [&](char ch) {
    if (p < CAP) s.MSG_TEXT[p++] = ch;
  };

  int i = 1;
  while (i <= n - 4) {
    const bool candidate = t[i - 1] == '%' && t[i] == '(' && t[i + 3] == ')' &&
                           t[i + 2] >= '1' && t[i + 2] <= '9' && is_placeholder_kind(t[i + 1]);
    if (candidate) {
      const char key[4] = {'*', t[i + 1], t[i + 2], '*'};
      const char* value = nullptr;
      int length = 0;
      if (find_param(key, value, length)) {
        const int copied = std::min(length, CAP - p);
        if (copied > 0) {
          std::memcpy(s.MSG_TEXT + p, value, static_cast<std::size_t>(copied));
          p += copied;
          i += 5;
          if (p >= CAP) {
            s.MSG_LENGTH = CAP;
            return;
          }
          continue;
        }
      }
    }
    put(t[i - 1]);
    ++i;
  }
  for (; i <= n; ++i) put(t[i - 1]);
  s.MSG_LENGTH = p;
}

}  // namespace

void E1MES(int type, int code, std::string_view message_template) {
  // The program always posts after a push; initialising here only guards a
  // posting made before any other error-handler call.
  INIT_ERROR_STATE();
  ErrorState& s = ERROR_STATE;
  const int level = s.CUR_LEVEL;

  if (type < -1 || type > 7) {
    constexpr int length = static_cast<int>(sizeof ILLEGAL_TYPE_TEXT) - 1;
    std::memcpy(s.MSG_TEXT, ILLEGAL_TYPE_TEXT, length);
    s.MSG_LENGTH = length;
    PRINT_MESSAGE();
    stop_run(EXIT_ERROR_STOP);
  }
  if (type != -1) s.LEVEL_TYPE[level] = type;
  if (code >= 0) s.LEVEL_CODE[level] = code;
  if (type == 0 || code == 0) {
    s.MSG_LENGTH = 0;
    s.PARAM_LENGTH = 1;
    return;
  }

  // An empty or one-blank template re-posts the pending message as it stands.
  const bool keep_pending = message_template.empty() || message_template == " ";
  if (!keep_pending) build_message(message_template);

  const int recorded = s.LEVEL_TYPE[level];
  if (recorded == TYPE_WARNING_NOW) s.PENDING_6 = 1;
  if (recorded == TYPE_FATAL_NOW) s.PENDING_7 = 1;
  if (recorded >= TYPE_TERMINAL && recorded <= 7 && s.PRINT_FLAG[recorded] == 1) PRINT_MESSAGE();
  s.PARAM_LENGTH = 1;
}

int INT_TO_TEXT(std::int32_t value, int width, std::string& field) {
  if (width < 1) {
    field.clear();
    return -1;
  }
  std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude > 0);
  if (value < 0) digits.insert(digits.begin(), '-');

  const int length = static_cast<int>(digits.size());
  if (length > width) {
    field = digits.substr(static_cast<std::size_t>(length - width));
    return length - width;
  }
  field.assign(static_cast<std::size_t>(width - length), ' ');
  field += digits;
  return 0;
}

// Drops the blanks that right-justify a value in its field.
static std::string_view without_leading_blanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

void SET_INT_PARAM(int k, std::int32_t value) {
  INIT_ERROR_STATE();
  std::string field;
  INT_TO_TEXT(value, 14, field);
  if (k >= 1 && k <= 9) STORE_PARAM('I', k, without_leading_blanks(field));
}

void SET_REAL_PARAM(int k, float value) {
  INIT_ERROR_STATE();
  // Zero has no digit before the point in this form; every other value has one
  // nonzero digit there, as in the console's exponent form.
  const std::string text = value == 0.0f ? std::string(".000000E+00") : format_real_exponent(value);
  if (k >= 1 && k <= 9) STORE_PARAM('R', k, without_leading_blanks(text));
}

void SET_TEXT_PARAM(int k, std::string_view text) {
  INIT_ERROR_STATE();
  const std::string_view kept = text.substr(0, std::min<std::size_t>(text.size(), 255));
  if (k != 0 && k >= -9 && k <= 9) STORE_PARAM('L', k, kept);  // sign passed on
}

void STORE_PARAM(char kind, int k, std::string_view value) {
  ErrorState& s = ERROR_STATE;
  const int m = k < 0 ? -k : k;
  const int len = static_cast<int>(value.size());
  if (m < 1 || m > 9 || s.PARAM_LENGTH + len + 8 > ErrorState::PARAM_CAPACITY) return;

  // Positive k: trailing blanks are not stored, but an all-blank value keeps one.
  int v = len;
  if (k > 0) {
    v = 1;
    for (int j = len; j >= 1; --j) {
      if (value[static_cast<std::size_t>(j - 1)] != ' ') {
        v = j;
        break;
      }
    }
  }

  int q = s.PARAM_LENGTH == 1 ? 1 : s.PARAM_LENGTH + 1;  // 1-based start of the entry
  auto put = [&](char ch) { s.PARAM_TEXT[(q++) - 1] = ch; };
  put('*');
  put(kind);
  put(static_cast<char>('0' + m));
  put('*');
  if (v >= 100) put(static_cast<char>('0' + v / 100));
  if (v >= 10) put(static_cast<char>('0' + v / 10 % 10));
  put(static_cast<char>('0' + v % 10));
  put('%');
  for (int j = 0; j < v; ++j) put(j < len ? value[static_cast<std::size_t>(j)] : ' ');
  s.PARAM_LENGTH = q - 1;
}
