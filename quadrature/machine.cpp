// Machine constants of IEEE 754 single precision (and, for the integer table, of
// double precision and 32-bit two's-complement integers).

#include <bit>
#include <cstdint>
#include <string>

#include "console.h"
#include "errors.h"
#include "quadrature.h"

namespace {

// AMACH(1..8) by bit pattern, so that no decimal conversion can disturb them.
constexpr std::uint32_t REAL_BITS[8] = {
    0x00800000u,  // 1: smallest positive normalized value, 2^-126
    0x7F7FFFFFu,  // 2: largest finite value, (2 - 2^-23) * 2^127
    0x33800000u,  // 3: smallest relative spacing, 2^-24
    0x34000000u,  // 4: largest relative spacing, 2^-23
    0x3E9A209Bu,  // 5: log10(2) rounded to single precision
    0x7FC00000u,  // 6: quiet NaN
    0x7F800000u,  // 7: +infinity
    0xFF800000u,  // 8: -infinity
};

constexpr int INTEGER_TABLE[12] = {
    32,          // 1: bits per integer storage unit
    4,           // 2: characters per integer storage unit
    2,           // 3: base of integer arithmetic
    31,          // 4: base digits of an integer
    2147483647,  // 5: largest integer
    2,           // 6: base of real arithmetic
    24,          // 7: digits of a single-precision real
    -125,        // 8: smallest exponent, single precision
    128,         // 9: largest exponent, single precision
    53,          // 10: digits of a double-precision real
    -1021,       // 11: smallest exponent, double precision
    1024,        // 12: largest exponent, double precision
};

constexpr char BAD_REAL_INDEX[] = "The argument must be between 1 and 8 inclusive. N = %(I1)";

float real_entry(int n) { return std::bit_cast<float>(REAL_BITS[n - 1]); }

// N right-aligned in a 6-character field, by the library's own integer-field
// conversion (a value that needs more room keeps its low-order digits).
std::string six_column_field(int value) {
  std::string field;
  INT_TO_TEXT(value, 6, field);
  return field;
}

}  // namespace

float AMACH(const int& N) {
  if (N >= 1 && N <= 8) return real_entry(N);
  E1PSH("AMACH ");
  SET_INT_PARAM(1, N);
  E1MES(TYPE_TERMINAL, 5, std::string_view(BAD_REAL_INDEX, sizeof BAD_REAL_INDEX - 1));
  E1POP("AMACH ");
  return real_entry(6);
}

int IMACH(const int& N) {
  if (N >= 1 && N <= 12) return INTEGER_TABLE[N - 1];
  // This message is written directly, not posted: the message machinery itself
  // asks IMACH for the largest integer.
  int unit = 0;
  UMACH(2, unit);  // the standard output unit, which is the console
  write_literal_record("");
  write_literal_record(" *** TERMINAL ERROR 5 from IMACH.  The argument");
  write_literal_record(" ***          must be between 1 and 12 inclusive.");
  write_literal_record(" ***          N = " + six_column_field(N) + ".");
  write_literal_record("");
  stop_run(EXIT_ERROR_STOP);
}

void QMCONS(float& spacing, float& tiny, float& huge) {
  static const int SPACING = 4;
  static const int TINY = 1;
  static const int HUGE_VALUE = 2;
  spacing = AMACH(SPACING);
  tiny = AMACH(TINY);
  huge = AMACH(HUGE_VALUE);
}
