// The stack of active library routines: push on entry, pop on every exit. The pop
// carries a routine's error to its caller and decides whether the pending message
// is printed and whether the run ends.
#include <algorithm>
#include <cstring>

#include "console.h"
#include "errors.h"

namespace {

// Compares two texts as if the shorter one were padded with blanks; case matters.
bool same_padded(std::string_view a, std::string_view b) {
  const std::size_t longest = std::max(a.size(), b.size());
  for (std::size_t j = 0; j < longest; ++j) {
    const char ca = j < a.size() ? a[j] : ' ';
    const char cb = j < b.size() ? b[j] : ' ';
    if (ca != cb) return false;
  }
  return true;
}

std::string_view level_name(int level) {
  return {ERROR_STATE.LEVEL_NAME[level], ErrorState::NAME_LENGTH};
}

}  // namespace

void E1PSH(std::string_view name) {
  INIT_ERROR_STATE();
  ErrorState& s = ERROR_STATE;
  if (s.CUR_LEVEL < s.MAX_LEVEL) {
    const int level = ++s.CUR_LEVEL;
    const std::size_t kept = std::min<std::size_t>(name.size(), ErrorState::NAME_LENGTH);
    std::memset(s.LEVEL_NAME[level], ' ', ErrorState::NAME_LENGTH);
    std::memcpy(s.LEVEL_NAME[level], name.data(), kept);
    s.LEVEL_TYPE[level] = 0;
    s.LEVEL_CODE[level] = 0;
    return;
  }
  SET_INT_PARAM(1, s.MAX_LEVEL);
  E1MES(TYPE_TERMINAL, 1,
        "Error condition in E1PSH.  Push would cause stack level to exceed %(I1). ");
  stop_run(EXIT_ERROR_STOP);
}

void E1POP(std::string_view name) {
  ErrorState& s = ERROR_STATE;
  const int level = s.CUR_LEVEL;
  if (level <= 1) {
    E1PSH("E1POP ");
    SET_TEXT_PARAM(1, name);
    E1MES(TYPE_TERMINAL, 1,
          "Error condition in E1POP.  Cannot pop from %(L1) because stack is empty.");
    stop_run(EXIT_ERROR_STOP);
  }
  if (!same_padded(name, level_name(level))) {
    SET_TEXT_PARAM(1, name);
    SET_TEXT_PARAM(2, level_name(level));
    E1MES(TYPE_TERMINAL, 2,
          "Error condition in E1POP.  %(L1) does not match the name %(L2) in the stack.");
    stop_run(EXIT_ERROR_STOP);
  }

  const int type = s.LEVEL_TYPE[level];
  const bool from_user = s.USER_MODE[level - 1];
  if (type >= 1 && type <= 7) {
    // Every type but a NOTE travels to the caller's level with its code.
    if (type >= 2) {
      s.LEVEL_TYPE[level - 1] = type;
      s.LEVEL_CODE[level - 1] = s.LEVEL_CODE[level];
    }
    const bool print = s.PRINT_FLAG[type] == 1 && (type >= TYPE_TERMINAL || from_user);
    if (print) PRINT_MESSAGE();
    const bool stop = (type <= TYPE_FATAL && from_user && s.STOP_FLAG[type] == 1) ||
                      (type == TYPE_TERMINAL && s.STOP_FLAG[type] == 1) ||
                      (type >= TYPE_WARNING_NOW && from_user && CHECK_DEFERRED_STOP() == 1);
    if (stop) stop_run(EXIT_ERROR_STOP);
  }
  // Slot L+1 describes the routine that this one called last. The next routine
  // pushed at level L has called nothing yet, and E1PSH sets only the slot it
  // pushes into, so the slot above is reset here: N1RTY(1) there reads -1. At the
  // highest level the slot above (51) is left alone; no push ever writes it, so it
  // keeps the -1 of the initialisation.
  if (level < s.MAX_LEVEL) {
    s.LEVEL_TYPE[level + 1] = -1;
    s.LEVEL_CODE[level + 1] = -1;
  }
  --s.CUR_LEVEL;
}

int CHECK_DEFERRED_STOP() {
  ErrorState& s = ERROR_STATE;
  int result = 0;
  if (s.PENDING_6 > 0) {
    result = s.STOP_FLAG[TYPE_WARNING_NOW];
    s.PENDING_6 = 0;
  }
  if (s.PENDING_7 > 0) {
    result = s.STOP_FLAG[TYPE_FATAL_NOW];
    s.PENDING_7 = 0;
  }
  return result;
}

int N1RTY(int i) {
  ErrorState& s = ERROR_STATE;
  if (i == 0 || i == 1) return s.LEVEL_TYPE[s.CUR_LEVEL + i];

  // A misuse: recorded as a TERMINAL error of the caller, without a push of its own.
  INIT_ERROR_STATE();  // only matters for a call before any other error-handler call
  static constexpr char text[] = ".  The argument passed to N1RTY must be 0 or 1.";
  s.LEVEL_TYPE[s.CUR_LEVEL] = TYPE_TERMINAL;
  s.LEVEL_CODE[s.CUR_LEVEL] = 1;
  std::memcpy(s.MSG_TEXT, text, sizeof text - 1);
  s.MSG_LENGTH = static_cast<int>(sizeof text - 1);
  PRINT_MESSAGE();
  stop_run(EXIT_ERROR_STOP);
}

void E1USR(std::string_view switch_text) {
  INIT_ERROR_STATE();
  ErrorState& s = ERROR_STATE;
  if (same_padded(switch_text, "ON") || same_padded(switch_text, "on")) {
    s.USER_MODE[s.CUR_LEVEL] = true;
    return;
  }
  if (same_padded(switch_text, "OFF") || same_padded(switch_text, "off")) {
    s.USER_MODE[s.CUR_LEVEL] = false;
    return;
  }
  SET_TEXT_PARAM(1, switch_text);
  E1MES(TYPE_TERMINAL, 1,
        "Invalid value for SWITCH in call to E1USR.  SWITCH must be set to 'ON' or 'OFF'.  "
        "SWITCH = '%(L1)' ");
}
