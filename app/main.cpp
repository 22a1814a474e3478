// kestrelix: edge-coupled microstrip coupler design, a console dialogue;
// with arguments, the scripted command line (cli/cli.h); `kestrelix serve`,
// the local web page (web/serve.h).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

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

// `kestrelix serve ...` becomes the web server program kestrelix-serve with
// the same arguments, found beside this program (the build tree) or in its
// libexec folder (installed). A program of its own: the HTTP library is a
// shared one, and this program stays self-contained.
int serve(int argc, char** argv) {
  std::string dir;
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) dir.assign(self, static_cast<std::size_t>(n));
  dir = dir.substr(0, dir.rfind('/') + 1);
  for (const std::string& path :
       {dir + "kestrelix-serve", dir + KX_SERVE_LIBEXEC + "/kestrelix-serve"}) {
    if (::access(path.c_str(), X_OK) != 0) continue;
    std::vector<char*> args{const_cast<char*>(path.c_str())};
    for (int k = 2; k < argc; ++k) args.push_back(argv[k]);
    args.push_back(nullptr);
    ::execv(path.c_str(), args.data());
    std::cerr << "kestrelix serve: cannot start " << path << ": " << std::strerror(errno) << '\n';
    return 1;
  }
  std::cerr << "kestrelix serve: the web page is not part of this build (no kestrelix-serve "
               "beside the program or in "
            << KX_SERVE_LIBEXEC << ")\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!occupy_closed_standard_descriptors()) return 1;
  if (argc > 1 && std::strcmp(argv[1], "serve") == 0) return serve(argc, argv);
  kx::install_interrupt_handlers();
  if (argc > 1) return kx::cli::run_cli(argc, argv, std::cout, std::cerr);
  return kx::run_program(std::cin, std::cout, std::cerr, kx::local_clock, ::isatty(0) == 1);
}
