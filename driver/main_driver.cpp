// The main driver: greets the user, asks for the data file, loads the (time,
// concentration) pairs, integrates the piecewise-linear profile and prints the
// peak area, the last time, the largest concentration and the area above the curve.

#include <algorithm>
#include <string_view>

#include "console.h"
#include "driver.h"
#include "quadrature.h"

namespace driver {
namespace {

char FNAME[20];

// Quadrature settings, results and work lists; both integrations share them.
float ERRABS;
float ERRREL;
int MAXSUB;
float RESULT;
float ERRVAL;
int NFCALL;
int NSUB;
float XLEFT[CAPACITY];
float XRIGHT[CAPACITY];
float SUBINT[CAPACITY];
float SUBERR[CAPACITY];
int ERRORD[CAPACITY];

void text_record(std::string_view text) {
  begin_list_record();
  put_text_item(text);
  end_list_record();
}

void text_real_record(std::string_view text, float value) {
  begin_list_record();
  put_text_item(text);
  put_real_item(value);
  end_list_record();
}

void greet_and_open() {
  text_record("  ");
  text_record("Quintolex V.2, a utility program written by");
  text_record("Quintolex developers, Laboratory Data Utilities project");
  text_record("Contact: see the README file that comes with this program");
  text_record("This program integrates a concentration profile.");
  text_record("Data file must look like: t(1), c(1), t(2), c(2)...");
  text_record("Or, two columns with the first being time.");
  text_record("Do not use fancy file names. Use data1.txt, etc.");
  text_record("V.2 increased x-data series length greatly.");
  text_record("  ");
  write_prompt(" Please enter the name of your data file: ");
  READ_FILE_NAME(FNAME);
  OPEN_DATA_FILE(4, FNAME);
  text_record("  ");
}

// Loads the pairs of the data file; a 200001st complete pair stops the run with the
// two warnings: the tables are full.
void load_points() {
  if (!load_table(READ_PAIR)) {
    write_literal_record("---Warning-- too many data points. Limit 200000  ");
    write_literal_record("---Warning-- or y column # input error.        ");
    text_record("Execution stopped!");
    stop_run(EXIT_ERROR_STOP);
  }
  begin_list_record();
  put_text_item("Total number of data points=");
  put_integer_item(N);
  end_list_record();
  text_record("Please wait...");
}

void integrate(float a, float b) {
  Q2AGS(PROFILE, a, b, ERRABS, ERRREL, RESULT, ERRVAL, MAXSUB, NFCALL, NSUB, XLEFT, XRIGHT,
        SUBINT, SUBERR, ERRORD);
}

// Integrates from the first to the last time, and, when the first time is above 0,
// again from 0 with the point (0, C(1)) added in front of the first point; prints
// the results, pauses and stops. With no complete pair there is no first or last
// time: both read as 0.0 and every result is 0.
[[noreturn]] void area_report() {
  ERRABS = 0.001f;
  ERRREL = 0.001f;
  MAXSUB = CAPACITY;
  const float first_time = N > 0 ? T[1] : 0.0f;
  const float last_time = N > 0 ? T[N] : 0.0f;

  use_profile_table(1);
  integrate(first_time, last_time);
  text_real_record("Area under the curve (peak area?) =", RESULT);
  text_real_record("Maximum time (x-axis) in your data file=", last_time);

  if (first_time > 0.0f) {
    T[0] = 0.0f;
    C[0] = C[1];
    use_profile_table(0);
    text_record(" ");
    begin_list_record();
    put_text_item("t=0, c=");
    put_real_item(C[0]);
    put_text_item(" data point was added to calculate area above the curve.");
    end_list_record();
    integrate(T[0], last_time);
  }

  text_real_record("Maxiumum concentration (y-axis) =", CMAX);
  // Formed in double and rounded once; a result beyond the range of a real traps
  // on overflow and ends the run with the run-time report.
  const double above = static_cast<double>(last_time) * static_cast<double>(CMAX) -
                       static_cast<double>(RESULT);
  text_real_record("Area above the curve =", static_cast<float>(above));
  text_record("Hit Enter key to quit DOS screen.");
  text_record(" ");
  pause_run();
  stop_run(EXIT_NORMAL);
}

}  // namespace

void load_pairs(const float time[], const float concentration[], int count) {
  if (time != T + 1) std::copy_n(time, count, T + 1);
  if (concentration != C + 1) std::copy_n(concentration, count, C + 1);
  N = count;
  CMAX = 0.0f;
  for (int i = 1; i <= N; ++i)
    if (C[i] > CMAX) CMAX = C[i];
}

bool load_table(bool (*read_pair)(float& time, float& concentration)) {
  CMAX = 0.0f;
  N = 0;
  for (;;) {
    ++N;
    if (N <= CAPACITY) {
      if (!read_pair(T[N], C[N])) break;
      if (C[N] > CMAX) CMAX = C[N];
      continue;
    }
    float extra_time = 0.0f;
    float extra_concentration = 0.0f;
    if (!read_pair(extra_time, extra_concentration)) break;
    N = CAPACITY;
    return false;
  }
  --N;  // a pair cut by the end of the file is not counted
  return true;
}

void main_driver() {
  greet_and_open();
  load_points();
  area_report();
}

}  // namespace driver
