// The point tables and the largest concentration: static, zero-initialised, alive
// for the whole run. Slot 0 of T and C is the spare slot in front of the first
// loaded point.
#include "driver.h"

namespace driver {

float T[CAPACITY + 1];
float C[CAPACITY + 1];
int N;
float CMAX;

}  // namespace driver
