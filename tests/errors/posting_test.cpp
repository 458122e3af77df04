// Posting without printing: the parameter store, the substitution of placeholders and
// the recording rules of E1MES. Only types that print nothing at posting are posted,
// so everything runs inside the test process.
#include <algorithm>
#include <string>

#include "console_bytes.h"

namespace {

ErrorState& state = ERROR_STATE;
const std::string FORTY = std::string(39, '-') + "x";  // a 40-character text, last not blank

std::string store() {  // PARAM_LENGTH 1 is the empty store
  return state.PARAM_LENGTH <= 1 ? "" : std::string(state.PARAM_TEXT, std::size_t(state.PARAM_LENGTH));
}
std::string pending() { return std::string(state.MSG_TEXT, std::size_t(std::max(state.MSG_LENGTH, 0))); }

TEST(Posting, StoreEntries) {
  const struct { void (*set)(); std::string entries; } cases[] = {
      {[] { SET_INT_PARAM(1, 200000); SET_INT_PARAM(2, -7); }, "*I1*6%200000*I2*2%-7"},
      {[] { SET_TEXT_PARAM(1, "Q2AGS "); }, "*L1*5%Q2AGS"},
      {[] { SET_TEXT_PARAM(-1, "Q2AGS "); }, "*L1*6%Q2AGS "},
      {[] { SET_TEXT_PARAM(3, "   "); SET_TEXT_PARAM(9, "ab"); }, "*L3*1% *L9*2%ab"},
      {[] { SET_TEXT_PARAM(-2, std::string(300, 'y')); }, "*L2*255%" + std::string(255, 'y')},
      {[] { SET_REAL_PARAM(1, 0.001f); SET_REAL_PARAM(2, -0.001f); SET_REAL_PARAM(3, 0.0f); },
       "*R1*12%1.000000E-03*R2*13%-1.000000E-03*R3*11%.000000E+00"},
      {[] { SET_REAL_PARAM(4, 1.5f); SET_REAL_PARAM(5, -250.0f); },
       "*R4*12%1.500000E+00*R5*13%-2.500000E+02"},
      {[] { SET_INT_PARAM(10, 1); SET_REAL_PARAM(0, 1.0f); SET_TEXT_PARAM(-10, "x"); }, ""},
  };
  for (const auto& c : cases) {
    state = ErrorState{};
    c.set();
    EXPECT_EQ(store(), c.entries);
  }
}

TEST(Posting, PlaceholdersAreSubstituted) {
  const struct { void (*set)(); std::string templ, text; } cases[] = {
      // Either case of the kind letter; the first stored value wins; the rest stays as written.
      {[] { SET_INT_PARAM(1, 42); SET_INT_PARAM(1, 99); SET_TEXT_PARAM(2, "ab"); },
       "%(i1) %(I0) %(IX) %(Q1) %(D1) %(l2) %( I1) %(I1",
       ".  42 %(I0) %(IX) %(Q1) %(D1) ab %( I1) %(I1"},
      {[] {}, std::string(1100, 'a'), ".  " + std::string(1021, 'a')},
      {[] { SET_TEXT_PARAM(1, std::string(200, 'b')); }, std::string(900, 'a') + "%(L1)tail",
       ".  " + std::string(900, 'a') + std::string(121, 'b')},
      // A key found inside a value: its digits run far past the store, whose rest is taken.
      {[] { SET_TEXT_PARAM(1, "*L2*4294967299%x"); SET_TEXT_PARAM(2, "ab"); }, "%(L2)", ".  x*L2*2%ab"},
      // The store takes six such entries of 47 characters; the seventh is lost.
      {[] { for (int k = 1; k <= 7; ++k) SET_TEXT_PARAM(k, FORTY); }, "%(L6)|%(L7)",
       ".  " + FORTY + "|%(L7)"},
  };
  for (const auto& c : cases) {
    state = ErrorState{};
    E1PSH("Q2AGS ");
    c.set();
    E1MES(TYPE_WARNING, 1, c.templ);
    EXPECT_EQ(pending(), c.text);
  }
}

TEST(Posting, TypeAndCodeRecording) {
  state = ErrorState{};
  E1PSH("Q2AGS ");
  const struct { int type, code; const char* templ; int want_type, want_code; const char* text; }
      steps[] = {{TYPE_ALERT, 1, " ", 2, 1, ""},  // nothing is pending after initialisation
                 {TYPE_WARNING, 2, "First.", 3, 2, ".  First."},
                 {TYPE_ALERT, 3, " ", 2, 3, ".  First."},  // one blank: the pending text stays
                 {TYPE_ALERT, 4, "", 2, 4, ".  First."},   // so it does for an empty template
                 {-1, 7, "Second.", 2, 7, ".  Second."}, {TYPE_WARNING, -3, "Third.", 3, 7, ".  Third."},
                 {TYPE_WARNING, 0, "Cleared.", 3, 0, ""}, {TYPE_ALERT, 5, "Again.", 2, 5, ".  Again."},
                 {0, 6, "Cleared.", 0, 6, ""}};
  for (const auto& s : steps) {
    SCOPED_TRACE(std::to_string(s.type) + "/" + std::to_string(s.code));
    SET_INT_PARAM(1, 1);
    E1MES(s.type, s.code, s.templ);
    EXPECT_EQ(state.LEVEL_TYPE[2], s.want_type);
    EXPECT_EQ(state.LEVEL_CODE[2], s.want_code);
    EXPECT_EQ(pending(), s.text);
    EXPECT_EQ(state.PARAM_LENGTH, 1);  // every posting empties the store
  }
}

TEST(Posting, IntToTextFieldsAndStatus) {
  const struct { int value, width, status; const char* text; } cases[] = {
      {42, 5, 0, "   42"}, {-42, 3, 0, "-42"}, {0, 1, 0, "0"}, {123456, 4, 2, "3456"},
      {-2147483647 - 1, 14, 0, "   -2147483648"}, {7, 0, -1, ""}};
  for (const auto& c : cases) {
    std::string field = "?";
    EXPECT_EQ(INT_TO_TEXT(c.value, c.width, field), c.status) << c.value;
    EXPECT_EQ(field, c.text) << c.value;
  }
}

}  // namespace
