// The scripted command line of kestrelix: `kestrelix SUBCOMMAND [options]`
// computes what one run of the dialogue computes and prints it as a table,
// CSV or JSON, without reading standard input.
//
//   kestrelix analyse     SECTION [--f GHZ] [--w-range MIN:MAX:STEP | --s-range MIN:MAX:STEP]
//   kestrelix response    SECTION --f-range START:STOP:STEP (--length L | --centre GHZ) ...
//   kestrelix dispersion  SECTION --f-range START:STOP:STEP [--tlos TAN]
//   kestrelix sensitivity SECTION (--f-range ... | --w-range ... --f GHZ | --s-range ... --f GHZ)
//   kestrelix synthesise  --er --h --h2 --t --zo OHM (--coupling DB[,DB...] | ...) [--f GHZ]
//   kestrelix tolerance   SECTION --f GHZ [--length L | --centre GHZ] [--tol-* X ...] ...
//
// Exit status: 0 done; 1 a run stopped at a point outside the models'
// validity (after the good rows) or a file could not be written; 2 a usage
// error (one line naming the option on standard error).
//
// Adding a subcommand (as cli/cmd_tolerance.cpp does):
//   1. Write cli/cmd_NAME.cpp with
//        void register_NAME(Context& ctx);
//      that calls ctx.add_command("NAME", "...", action) and adds its
//      options with ctx.add_section / ctx.add_value / ctx.add_flag ...
//      (the option parser itself stays in cli/options.cpp); the action resolves the
//      values through a Values object (command line, then --defaults file),
//      evaluates with kx::CoupledLine and fills an Output (cli/output.h).
//   2. Declare it in cli/commands.h and call it in the list in cli/cli.cpp
//      (register_commands). The common options (--units, --format,
//      --defaults) come with add_command.
#pragma once

#include <iosfwd>

#include "common/stop.h"

namespace kx::cli {

// What one run may do and use. The defaults are the command line's own.
struct RunLimits {
  const Stop* stop = nullptr;         // nullptr: signals only
  bool files = true;                  // false: options that write a file are a usage error
  long long max_points = 100000;      // points of a sweep
  long long max_samples = 100000000;  // tolerance samples
  unsigned max_threads = 0;           // 0: the machine's cores
};

// Runs one command line (argv[0] is the program name) and returns the exit
// status. Writes results to `out` and messages to `err`. A run stopped by
// `limits.stop` ends with status 1 and a one-line message. Safe to call from
// several threads at once.
int run_cli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const RunLimits& limits = {});

}  // namespace kx::cli
