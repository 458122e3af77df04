// Error reporting through its public routines. Posting that prints nothing runs in the
// test process; a scenario that prints or stops runs in a child process from an
// untouched state.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "child.h"
#include "console.h"
#include "errors.h"

namespace {

ErrorState& state = ERROR_STATE;
std::string text_of(const char* text, int n) { return n <= 0 ? "" : std::string(text, std::size_t(n)); }
std::string store() { return text_of(state.PARAM_TEXT, state.PARAM_LENGTH <= 1 ? 0 : state.PARAM_LENGTH); }
std::string pending() { return text_of(state.MSG_TEXT, state.MSG_LENGTH); }

TEST(Posting, StoreSubstitutionAndRecording) {
  const struct { void (*set)(); std::string entries; } stores[] = {
      {[] { SET_INT_PARAM(1, 200000); SET_INT_PARAM(2, -7); SET_TEXT_PARAM(3, "   "); },
       "*I1*6%200000*I2*2%-7*L3*1% "},
      {[] { SET_TEXT_PARAM(1, "Q2AGS "); SET_TEXT_PARAM(-1, "Q2AGS "); }, "*L1*5%Q2AGS*L1*6%Q2AGS "},
      {[] { SET_TEXT_PARAM(-2, std::string(300, 'y')); }, "*L2*255%" + std::string(255, 'y')},
      {[] { SET_REAL_PARAM(1, 0.001f); SET_REAL_PARAM(2, -0.001f); SET_REAL_PARAM(3, 0.0f); },
       "*R1*12%1.000000E-03*R2*13%-1.000000E-03*R3*11%.000000E+00"},
      {[] { SET_REAL_PARAM(4, 1.5f); SET_REAL_PARAM(5, -250.0f); }, "*R4*12%1.500000E+00*R5*13%-2.500000E+02"},
      {[] { SET_INT_PARAM(10, 1); SET_REAL_PARAM(0, 1.0f); SET_TEXT_PARAM(-10, "x"); }, ""},
      // An entry of 108 characters, then one ending exactly at character 300; one
      // character more and the second entry is lost.
      {[] { SET_TEXT_PARAM(1, std::string(100, 'a')); SET_TEXT_PARAM(2, std::string(184, 'b')); },
       "*L1*100%" + std::string(100, 'a') + "*L2*184%" + std::string(184, 'b')},
      {[] { SET_TEXT_PARAM(1, std::string(100, 'a')); SET_TEXT_PARAM(2, std::string(185, 'b')); },
       "*L1*100%" + std::string(100, 'a')},
  };
  for (const auto& c : stores) {
    state = ErrorState{};
    c.set();
    EXPECT_EQ(store(), c.entries);
  }
  const struct { void (*set)(); std::string templ, text; } messages[] = {
      // Either case of the kind letter; the first stored value wins; the rest stays as written.
      {[] { SET_INT_PARAM(1, 42); SET_INT_PARAM(1, 99); SET_TEXT_PARAM(2, "ab"); },
       "%(i1) %(I0) %(IX) %(Q1) %(D1) %(l2) %( I1) %(I1 %(I1)", ".  42 %(I0) %(IX) %(Q1) %(D1) ab %( I1) %(I1 42"},
      {[] {}, std::string(1100, 'a'), ".  " + std::string(1021, 'a')},
      {[] { SET_TEXT_PARAM(1, std::string(200, 'b')); }, std::string(900, 'a') + "%(L1)tail",
       ".  " + std::string(900, 'a') + std::string(121, 'b')},
      // A key found inside a value: its digits run far past the store, whose rest is taken.
      {[] { SET_TEXT_PARAM(1, "*L2*4294967299%x"); SET_TEXT_PARAM(2, "ab"); }, "%(L2)", ".  x*L2*2%ab"},
  };
  for (const auto& c : messages) {
    state = ErrorState{};
    E1PSH("Q2AGS ");
    c.set();
    E1MES(TYPE_WARNING, 1, c.templ);
    EXPECT_EQ(pending(), c.text);
  }
  // Type and code recorded at the level, one posting after the other: nothing is
  // pending at first; a blank or empty template keeps the pending text.
  const struct { int type, code; const char* templ; int want_type, want_code; const char* text; } steps[] = {
      {TYPE_ALERT, 1, " ", 2, 1, ""}, {TYPE_WARNING, 2, "First.", 3, 2, ".  First."},
      {TYPE_ALERT, 3, " ", 2, 3, ".  First."}, {TYPE_ALERT, 4, "", 2, 4, ".  First."},
      {-1, 7, "Second.", 2, 7, ".  Second."}, {TYPE_WARNING, -3, "Third.", 3, 7, ".  Third."},
      {TYPE_WARNING, 0, "Cleared.", 3, 0, ""}, {TYPE_ALERT, 5, "Again.", 2, 5, ".  Again."},
      {0, 6, "Cleared.", 0, 6, ""}};
  state = ErrorState{};
  E1PSH("Q2AGS ");
  for (const auto& s : steps) {
    SET_INT_PARAM(1, 1);
    E1MES(s.type, s.code, s.templ);
    EXPECT_EQ(std::to_string(state.LEVEL_TYPE[2]) + "/" + std::to_string(state.LEVEL_CODE[2]) + pending(),
              std::to_string(s.want_type) + "/" + std::to_string(s.want_code) + s.text);
    EXPECT_EQ(state.PARAM_LENGTH, 1);  // every posting empties the store
  }
  const struct { int value, width, status; const char* text; } fields[] = {
      {42, 5, 0, "   42"}, {-42, 3, 0, "-42"}, {0, 1, 0, "0"}, {123456, 4, 2, "3456"},
      {-2147483647 - 1, 14, 0, "   -2147483648"}, {7, 0, -1, ""}};
  for (const auto& c : fields) {
    std::string field = "?";
    EXPECT_EQ(INT_TO_TEXT(c.value, c.width, field), c.status) << c.value;
    EXPECT_EQ(field, c.text) << c.value;
  }
}

void say(const std::string& text) { write_literal_record(text); }
void show_types(const std::string& label) {  // " <label> N1RTY(0) N1RTY(1)"
  say(" " + label + " " + std::to_string(N1RTY(0)) + " " + std::to_string(N1RTY(1)));
}

// Each scenario runs from an untouched state; expected/<name>.out holds the bytes the
// console must show, derived by hand from the message layout.
TEST(PrintingAndStack, WorkedBlocksPolicyAndMisuse) {
  const struct { const char* name; void (*body)(); bool stops; } scenarios[] = {
      // The worked blocks: a WARNING printed at the pop, the run going on with the type
      // propagated to the user level; a FATAL that ends the run before the area report.
      {"warning_2_called_from_the_user", [] {
         E1PSH("Q2AGS "); SET_REAL_PARAM(1, 0.001f); SET_REAL_PARAM(2, 0.001f);
         E1MES(TYPE_WARNING, 2, "Roundoff error has been detected.  The requested tolerances, "
                                "ERRABS = %(R1) and ERRREL = %(R2), cannot be reached.");
         E1POP("Q2AGS"); show_types("next");
       }, false},
      {"fatal_1_called_from_the_user", [] {
         E1PSH("Q2AGS "); SET_INT_PARAM(1, 200000);
         E1MES(TYPE_FATAL, 1, "The maximum number of subintervals allowed MAXSUB = %(I1) has been "
               "reached.  Use Q2AGS and increase MAXSUB.  Dimension adjustments may be necessary.");
         E1POP("Q2AGS "); say(" area report");
       }, true},
      {"terminal_inside_a_routine", [] {  // printed when posted, the run stops at the pop
         E1PSH("Q2AGS "); E1PSH("AMACH "); SET_INT_PARAM(1, 9);
         E1MES(TYPE_TERMINAL, 5, "The argument must be between 1 and 8 inclusive. N = %(I1)");
         say(" before the pop"); E1POP("AMACH "); say(" after the pop");
       }, true},
      // A first word longer than the room (break at the blank of ".  "); a continuation
      // without a blank (hard cut at 64); a break on a double blank.
      {"wrapping", [] {
         E1PSH("Q2AGS "); E1MES(TYPE_WARNING_NOW, 2, std::string(60, 'w'));
         E1MES(TYPE_WARNING_NOW, 3, "A " + std::string(100, 'x'));
         E1MES(TYPE_WARNING_NOW, 4, "Forty-two characters of text ends here ok.  Next sentence.");
       }, false},
      {"lower_case_names", [] {  // raised only before an upper-case letter
         E1PSH("dQ2AGS"); E1PSH("dq2ags"); E1MES(TYPE_TERMINAL, 3, "Short."); E1POP("dq2ags");
       }, true},
      {"illegal_type", [] { E1PSH("Q2AGS "); E1MES(8, 1, "never built"); }, true},
      {"umach_bad_index", [] { int unit = 0; UMACH(-4, unit); }, true},
      // The rows of the policy that the worked blocks leave out.
      {"note_and_alert", [] {
         E1PSH("Q2AGS "); E1MES(TYPE_NOTE, 3, "A note."); E1POP("Q2AGS "); show_types("note");
         E1PSH("Q2AGS "); E1MES(TYPE_ALERT, 4, "An alert."); E1POP("Q2AGS "); show_types("alert");
       }, false},
      {"internal_warning", [] {
         E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_WARNING, 4, "Inner trouble."); E1POP("QEPSEX");
         show_types("between"); E1POP("Q2AGS ");
       }, false},
      {"internal_fatal", [] {
         E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_FATAL, 5, "Inner failure."); E1POP("QEPSEX");
         say(" still running"); E1POP("Q2AGS "); say(" never");
       }, true},
      {"called_from_user_code", [] {
         E1PSH("Q2AGS "); E1USR("ON"); E1PSH("PROFIL"); E1MES(TYPE_WARNING, 1, "From the integrand.");
         E1POP("PROFIL"); E1USR("off"); E1POP("Q2AGS ");  // propagated; nothing left to print
       }, false},
      {"type_6", [] {
         E1PSH("Q2AGS "); E1MES(TYPE_WARNING_NOW, 1, "Said at once."); say(" posted");
         E1POP("Q2AGS "); say(" popped");
       }, false},
      {"type_7", [] {
         E1PSH("Q2AGS "); E1PSH("QEPSEX"); E1MES(TYPE_FATAL_NOW, 2, "Said at once.");
         E1POP("QEPSEX"); say(" between"); E1POP("Q2AGS "); say(" never");
       }, true},
      // N1RTY(1) reads the routine called last; a pop resets the slot above it, up to the
      // pop at level 49; slot 51, above a full stack, is never written.
      {"n1rty_slots", [] {
         E1USR("ON"); show_types("start"); E1PSH("Q2AGS "); E1PSH("QADAPT"); E1POP("QADAPT");
         show_types("after"); E1POP("Q2AGS "); E1PSH("OTHER "); show_types("other");
         INIT_ERROR_STATE(); E1POP("OTHER");  // a second initialisation left OTHER on the stack
         for (int level = 2; level <= 50; ++level) E1PSH("R");
         show_types("full"); E1MES(TYPE_ALERT, 4, "x"); E1POP("R"); show_types("49");
         E1POP("R"); E1PSH("R"); show_types("49 again");
       }, false},
      // Every misuse ends the run.
      {"fifty_pushes", [] { for (int level = 2; level <= 51; ++level) E1PSH("RTN" + std::to_string(level)); }, true},
      {"pop_empty_stack", [] { E1POP("Q2AGS "); }, true},
      {"name_differs_in_case", [] { E1PSH("Q2AGS "); E1POP("q2ags"); }, true},
      {"n1rty_2", [] { E1PSH("Q2AGS "); N1RTY(2); }, true},
      {"e1usr_On", [] { E1PSH("Q2AGS "); E1USR("On"); say(" still running"); E1POP("Q2AGS "); }, true},
  };
  for (const auto& c : scenarios) {
    const auto run = testsupport::run_in_child([&] { state = ErrorState{}; c.body(); });
    const std::string expected = testsupport::read_file(std::string(EXPECTED_DIR) + c.name + ".out");
    EXPECT_EQ(testsupport::visible(run.out), testsupport::visible(expected)) << c.name;
    EXPECT_EQ(run.status, c.stops ? 2 : 0) << c.name;
  }
  // The record lengths the first two worked blocks give, carriage control included (an
  // empty record has none).
  std::string lengths;
  for (const char* name : {"warning_2_called_from_the_user", "fatal_1_called_from_the_user"}) {
    const std::string bytes = testsupport::read_file(std::string(EXPECTED_DIR) + name + ".out");
    for (std::size_t record = 0, from = 0, end = 0; record < 4; ++record, from = end + 2) {
      end = bytes.find("\r\n", from);
      lengths += std::to_string(end - from + (end > from)) + " ";
    }
  }
  EXPECT_EQ(lengths, "0 73 71 46 0 77 72 62 ");
}

}  // namespace
