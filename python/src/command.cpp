// command: one command line of the program run in this process, for the
// functions whose inputs are the command line's options (line, loss, the
// wideband rlgc): the options are checked by the command line's own code,
// the studies are the same, and the JSON document it prints is what the
// Python side turns into dicts of numpy arrays. The run holds no GIL;
// Ctrl-C stops it (KeyboardInterrupt).
#include <sstream>
#include <string>
#include <vector>

#include <kestrelix/stop.h>
#include "cli/cli.h"
#include "python/src/functions.h"
#include "python/src/watch.h"

namespace kx::py_face {

py::tuple run_command(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"kestrelix"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  struct Ran {
    int status = 0;
    std::string out, err;
  };
  Stop stop;
  cli::RunLimits limits;
  limits.stop = &stop;
  const Ran r = run_watched<Ran>(stop, [&] {
    std::ostringstream out, err;
    Ran ran;
    ran.status = cli::run_cli(static_cast<int>(argv.size()), argv.data(), out, err, limits);
    ran.out = out.str();
    ran.err = err.str();
    return ran;
  });
  return py::make_tuple(r.status, r.out, r.err);
}

}  // namespace kx::py_face
