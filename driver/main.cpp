#include "console.h"
#include "driver.h"

int main(int argc, char** argv) {
  install_floating_point_traps();
  set_command_line(argc, argv);
  driver::main_driver(argc, argv);
}
