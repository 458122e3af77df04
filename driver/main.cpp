// Start-up: the floating-point control of the run, console output that survives a
// reader that has gone, the command line (replacement names for a blank file name),
// then the driver, which ends the process itself.

#include "console.h"
#include "driver.h"

int main(int argc, char** argv) {
  install_floating_point_traps();
  ignore_broken_pipes();
  set_command_line(argc, argv);
  driver::main_driver();
}
