// kestrelix: edge-coupled microstrip coupler design, a console dialogue;
// with arguments, the scripted command line (cli/cli.h).
#include <iostream>

#include "app/driver.h"
#include "cli/cli.h"

int main(int argc, char** argv) {
  if (argc > 1) return kx::cli::run_cli(argc, argv, std::cout, std::cerr);
  return kx::run_program(std::cin, std::cout, std::cerr, kx::local_clock);
}
