// Posting without printing: the error-state defaults, the parameter store, the
// substitution of placeholders and the recording rules of E1MES. Only types that
// print nothing are posted here, so everything runs inside the test process.
#include <algorithm>
#include <string>
#include <utility>

#include "console_bytes.h"

namespace {

class Posting : public ::testing::Test {
 protected:
  void SetUp() override { ERROR_STATE = ErrorState{}; }
  static std::string store() {
    const ErrorState& s = ERROR_STATE;
    return s.PARAM_LENGTH <= 1 ? "" : std::string(s.PARAM_TEXT, static_cast<std::size_t>(s.PARAM_LENGTH));
  }
  static std::string pending() {
    const ErrorState& s = ERROR_STATE;
    return std::string(s.MSG_TEXT, static_cast<std::size_t>(std::max(s.MSG_LENGTH, 0)));
  }
};

TEST_F(Posting, InitialisationSetsTheDefaultsOnce) {
  EXPECT_EQ(ERROR_STATE.MSG_LENGTH, 0);
  E1PSH("Q2AGS ");
  const ErrorState& s = ERROR_STATE;
  EXPECT_EQ(s.CUR_LEVEL, 2);
  EXPECT_EQ(s.MAX_LEVEL, 50);
  EXPECT_EQ(std::string(s.LEVEL_NAME[1], 32), "USER" + std::string(28, ' '));
  EXPECT_EQ(std::string(s.LEVEL_NAME[2], 32), "Q2AGS" + std::string(27, ' '));
  EXPECT_EQ(s.LEVEL_TYPE[51] + s.LEVEL_CODE[3], -2);
  const int print[8] = {0, 0, 0, 1, 1, 1, 1, 1}, stop[8] = {0, 0, 0, 0, 1, 1, 0, 1};
  for (int type = 1; type <= 7; ++type) {
    EXPECT_EQ(s.PRINT_FLAG[type], print[type]) << type;
    EXPECT_EQ(s.STOP_FLAG[type], stop[type]) << type;
  }
  INIT_ERROR_STATE();
  E1USR("ON");
  EXPECT_EQ(s.CUR_LEVEL, 2);  // a later initialisation changes nothing
}

TEST_F(Posting, StoreEntriesOfTheThreeKinds) {
  SET_INT_PARAM(1, 200000);
  SET_TEXT_PARAM(1, "Q2AGS ");
  SET_TEXT_PARAM(-2, "Q2AGS ");
  SET_TEXT_PARAM(3, "   ");
  SET_INT_PARAM(2, -7);
  SET_INT_PARAM(10, 1);  // out of range: ignored
  EXPECT_EQ(store(), "*I1*6%200000*L1*5%Q2AGS*L2*6%Q2AGS *L3*1% *I2*2%-7");
}

TEST_F(Posting, RealParameterTexts) {
  const std::pair<float, const char*> cases[] = {{0.001f, "1.000000E-03"},
                                                 {-0.001f, "-1.000000E-03"},
                                                 {0.0f, ".000000E+00"},
                                                 {1.5f, "1.500000E+00"},
                                                 {-250.0f, "-2.500000E+02"}};
  for (const auto& [value, text] : cases) {
    ERROR_STATE.PARAM_LENGTH = 1;
    SET_REAL_PARAM(1, value);
    EXPECT_EQ(store(), "*R1*" + std::to_string(std::string(text).size()) + "%" + text);
  }
}

TEST_F(Posting, StoreHoldsSixFortyCharacterTextsAndLosesTheSeventh) {
  const std::string text = std::string(39, '-') + "x";
  for (int k = 1; k <= 7; ++k) SET_TEXT_PARAM(k, text);
  EXPECT_EQ(ERROR_STATE.PARAM_LENGTH, 6 * 47);
  E1PSH("Q2AGS ");
  E1MES(TYPE_WARNING, 1, "%(L6)|%(L7)");
  EXPECT_EQ(pending(), ".  " + text + "|%(L7)");
}

TEST_F(Posting, MaxsubMessagePendsWith152Characters) {
  E1PSH("Q2AGS ");
  SET_INT_PARAM(1, 200000);
  E1MES(TYPE_FATAL, 1,
        "The maximum number of subintervals allowed MAXSUB = %(I1) has been reached.  Use "
        "Q2AGS and increase MAXSUB.  Dimension adjustments may be necessary.");
  EXPECT_EQ(ERROR_STATE.MSG_LENGTH, 152);
  EXPECT_EQ(pending().substr(0, 64),
            ".  The maximum number of subintervals allowed MAXSUB = 200000 ha");
  EXPECT_EQ(ERROR_STATE.LEVEL_TYPE[2], TYPE_FATAL);
  EXPECT_EQ(ERROR_STATE.PARAM_LENGTH, 1);  // the posting empties the store
}

TEST_F(Posting, PlaceholderRecognition) {
  E1PSH("Q2AGS ");
  SET_INT_PARAM(1, 42);
  SET_INT_PARAM(1, 99);  // the first stored value wins
  SET_TEXT_PARAM(2, "ab");
  E1MES(TYPE_WARNING, 1, "%(i1) %(I0) %(IX) %(Q1) %(D1) %(l2) %( I1) %(I1");
  EXPECT_EQ(pending(), ".  42 %(I0) %(IX) %(Q1) %(D1) ab %( I1) %(I1");
  SET_INT_PARAM(3, 5);
  E1MES(TYPE_WARNING, 1, "ends in %(I3)");
  EXPECT_EQ(pending(), ".  ends in 5");
  E1MES(TYPE_WARNING, 1, "%(I3)");  // the store was emptied by the last posting
  EXPECT_EQ(pending(), ".  %(I3)");
}

TEST_F(Posting, TextIsCutAt1024Characters) {
  E1PSH("Q2AGS ");
  E1MES(TYPE_WARNING, 1, std::string(1100, 'a'));
  EXPECT_EQ(pending(), ".  " + std::string(1021, 'a'));
  SET_TEXT_PARAM(1, std::string(200, 'b'));
  E1MES(TYPE_WARNING, 1, std::string(900, 'a') + "%(L1)tail");
  EXPECT_EQ(pending(), ".  " + std::string(900, 'a') + std::string(121, 'b'));
}

TEST_F(Posting, TypeAndCodeRecording) {
  E1PSH("Q2AGS ");
  E1MES(TYPE_WARNING, 2, "First.");
  E1MES(TYPE_ALERT, 2, " ");  // a one-blank template keeps the pending text
  EXPECT_EQ(pending(), ".  First.");
  E1MES(-1, 7, "Second.");  // keeps the type, records the code, pends the text
  EXPECT_EQ(ERROR_STATE.LEVEL_TYPE[2], TYPE_ALERT);
  EXPECT_EQ(ERROR_STATE.LEVEL_CODE[2], 7);
  EXPECT_EQ(pending(), ".  Second.");
  SET_INT_PARAM(1, 1);
  E1MES(TYPE_WARNING, 0, "Cleared.");
  EXPECT_EQ(ERROR_STATE.LEVEL_TYPE[2], TYPE_WARNING);
  EXPECT_EQ(ERROR_STATE.LEVEL_CODE[2], 0);
  EXPECT_EQ(ERROR_STATE.MSG_LENGTH, 0);
  EXPECT_EQ(ERROR_STATE.PARAM_LENGTH, 1);
  E1MES(TYPE_WARNING, -3, "Negative code.");
  EXPECT_EQ(ERROR_STATE.LEVEL_CODE[2], 0);
}

TEST(IntToText, FieldsAndStatus) {
  std::string field;
  const struct { int value, width, status; const char* text; } cases[] = {
      {42, 5, 0, "   42"}, {-42, 3, 0, "-42"}, {0, 1, 0, "0"}, {123456, 4, 2, "3456"},
      {-2147483647 - 1, 14, 0, "   -2147483648"}, {7, 0, -1, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(INT_TO_TEXT(c.value, c.width, field), c.status) << c.value;
    EXPECT_EQ(field, c.text) << c.value;
  }
}

}  // namespace
