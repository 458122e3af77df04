// Internal to the console library (its interface is console.h): each file's part of
// console_reset.
#pragma once

namespace console_internal {

void reset_records();  // the output buffer, the pending line and the list record
void reset_report();   // the last input/output statement
void reset_input();    // the held byte, the terminal answer and unit 4

}  // namespace console_internal
