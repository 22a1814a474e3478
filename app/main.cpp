// kestrelix: edge-coupled microstrip coupler design, a console dialogue;
// with arguments, the scripted command line (cli/cli.h).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "app/driver.h"
#include "cli/cli.h"

namespace {

// A descriptor among 0, 1 and 2 that the program was started without gets
// /dev/null, so that no file opened later (the output file) can take its
// place. Standard output gets it for reading only: a write to it still fails
// as it did on the closed descriptor, and the program says so.
bool occupy_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int got = ::open("/dev/null", (fd == 2 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
    if (got != fd) return false;  // the lowest free descriptor is this one
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!occupy_closed_standard_descriptors()) return 1;
  kx::install_interrupt_handlers();
  if (argc > 1) return kx::cli::run_cli(argc, argv, std::cout, std::cerr);
  return kx::run_program(std::cin, std::cout, std::cerr, kx::local_clock, ::isatty(0) == 1);
}
