// uninst-sim: runs the uninstaller once on a simulated Windows 98/ME machine built from a machine
// image and shows and records what it does (uninst-sim --help).
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/uninst-sim/UninstSim.h"

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::istream *pTerminal = isatty(STDIN_FILENO) ? &std::cin : nullptr;
  return uninstsim::RunTool(args, std::cout, std::cerr, pTerminal);
}
