// Error reporting: the one error-state record, typed and numbered messages with
// substituted parameters, their printing with wrapping and traceback, and the stack
// of active library routine names whose pops decide printing and stopping.
//
// Messages are printed on the console (unit 6) as formatted records. Every stop of
// this subsystem ends the run through stop_run with exit status 2 (EXIT_ERROR_STOP):
// a run that ends on an error does not report success.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Error types.
inline constexpr int TYPE_NOTE = 1;
inline constexpr int TYPE_ALERT = 2;
inline constexpr int TYPE_WARNING = 3;
inline constexpr int TYPE_FATAL = 4;
inline constexpr int TYPE_TERMINAL = 5;
inline constexpr int TYPE_WARNING_NOW = 6;  // a WARNING printed when posted
inline constexpr int TYPE_FATAL_NOW = 7;    // a FATAL printed when posted

// The error-state record. Arrays are indexed from 1 like the levels and types they
// describe; element 0 is unused.
struct ErrorState {
  static constexpr int LEVELS = 51;  // 50 levels plus the slot above a full stack
  static constexpr int NAME_LENGTH = 32;
  static constexpr int MSG_CAPACITY = 1024;
  static constexpr int PARAM_CAPACITY = 300;

  bool initialised = false;
  int CUR_LEVEL = 0;
  int MAX_LEVEL = 0;
  char LEVEL_NAME[LEVELS + 1][NAME_LENGTH] = {};
  int LEVEL_TYPE[LEVELS + 1] = {};
  int LEVEL_CODE[LEVELS + 1] = {};
  bool USER_MODE[LEVELS + 1] = {};
  int PRINT_FLAG[8] = {};
  int STOP_FLAG[8] = {};
  char MSG_TEXT[MSG_CAPACITY] = {};
  int MSG_LENGTH = 0;  // 0 or less: no message pending
  char PARAM_TEXT[PARAM_CAPACITY] = {};
  int PARAM_LENGTH = 1;  // 1 means empty
  int PENDING_6 = 0;
  int PENDING_7 = 0;
};

extern ErrorState ERROR_STATE;

// Sets the record to its defaults once per run; later calls do nothing.
void INIT_ERROR_STATE();
// Puts the whole subsystem back as it is when a run starts: the record set to its
// defaults (the routine-name stack holding USER alone, no message or parameter
// pending, the print and stop policy of a new run) and the unit table. For a process
// that runs many pieces of work, each as if it were a run of its own.
void errors_reset();

// Posting (type, code, template) and the parameter store.
void E1MES(int type, int code, std::string_view message_template);
void SET_INT_PARAM(int k, std::int32_t value);
void SET_REAL_PARAM(int k, float value);
void SET_TEXT_PARAM(int k, std::string_view text);  // negative k keeps trailing blanks
void STORE_PARAM(char kind, int k, std::string_view value);

// Writes value right-justified in a field of `width` characters into `field` and
// returns 0 when it fits, -1 for a width below 1, otherwise the number of characters
// that did not fit (the field then holds the low-order digits).
int INT_TO_TEXT(std::int32_t value, int width, std::string& field);

// Prints the pending message (header, wrapped text, traceback) and clears it.
void PRINT_MESSAGE();

// Unit numbers: n = 1, 2, 3 reads entry n into `unit`; n = -1, -2, -3 sets it.
// Any other n prints its own TERMINAL message and stops the run.
void UMACH(int n, int& unit);

// Routine-name stack.
void E1PSH(std::string_view name);
void E1POP(std::string_view name);
int N1RTY(int i);
void E1USR(std::string_view switch_text);
int CHECK_DEFERRED_STOP();
