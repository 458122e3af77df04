// The one error-state record of the run and its one-time initialisation.
#include <cstring>

#include "errors.h"

ErrorState ERROR_STATE;

void INIT_ERROR_STATE() {
  ErrorState& s = ERROR_STATE;
  if (s.initialised) return;

  // Level 1 is the user's program; library routines are pushed above it.
  s.CUR_LEVEL = 1;
  s.MAX_LEVEL = 50;
  std::memset(s.LEVEL_NAME[1], ' ', ErrorState::NAME_LENGTH);
  std::memcpy(s.LEVEL_NAME[1], "USER", 4);
  s.LEVEL_TYPE[1] = 0;
  s.LEVEL_CODE[1] = 0;
  s.USER_MODE[1] = true;
  for (int level = 2; level <= ErrorState::LEVELS; ++level) {
    s.LEVEL_TYPE[level] = -1;
    s.LEVEL_CODE[level] = -1;
    s.USER_MODE[level] = false;
  }

  // Print WARNING, FATAL and TERMINAL messages (and the two printed-at-posting
  // types); stop on FATAL, TERMINAL and a FATAL printed at posting.
  static constexpr int print_flags[8] = {0, 0, 0, 1, 1, 1, 1, 1};
  static constexpr int stop_flags[8] = {0, 0, 0, 0, 1, 1, 0, 1};
  for (int type = 1; type <= 7; ++type) {
    s.PRINT_FLAG[type] = print_flags[type];
    s.STOP_FLAG[type] = stop_flags[type];
  }

  // MSG_LENGTH is deliberately left alone: it is 0 from program start.
  s.PARAM_LENGTH = 1;
  s.PENDING_6 = 0;
  s.PENDING_7 = 0;
  s.initialised = true;
}

void errors_reset() {
  ERROR_STATE = ErrorState{};
  INIT_ERROR_STATE();
  int unit = 5;
  UMACH(-1, unit);
  unit = 6;
  UMACH(-2, unit);
  UMACH(-3, unit);
}
