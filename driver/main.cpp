// Start-up: --help or --version as the only argument answers and ends before
// anything else; otherwise the floating-point control of the run, console output
// that survives a reader that has gone, the command line (replacement names for a
// blank file name), then the driver, which ends the process itself.

#include <string>
#include <string_view>

#include "console.h"
#include "driver.h"

namespace {

constexpr std::string_view USAGE =
    "Usage: quintolex [FILE...]\n"
    "Integrates the piecewise-linear concentration profile of a data file of\n"
    "(time, concentration) pairs and prints the peak area, the last time, the largest\n"
    "concentration and the area above the curve. The program asks for the data\n"
    "file's name; an empty answer takes the next FILE of the command line.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "For many files at once, with a table of the results, see quintolex-batch.\n";

int answer(std::string_view text) { return console_write_now(text) ? 0 : 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--help") return answer(USAGE);
  if (argc == 2 && std::string_view(argv[1]) == "--version")
    return answer(std::string("quintolex ") + driver::VERSION + "\n");
  install_floating_point_traps();
  ignore_broken_pipes();
  set_command_line(argc, argv);
  driver::main_driver();
}
