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
//   kestrelix diffpair    SECTION [--f GHZ] [--zdiff OHM [--zcomm OHM]]
//   kestrelix check       SECTION [--f GHZ] [--s-range ... --t-range ...]
// (every one but check with --model field|closed, the field model by default, and
// the field solver's options)
//
// Exit status: 0 done; 1 a run stopped at a point outside the models'
// validity (after the good rows), a file could not or may not be written, or
// the caller's Stop ended the run; 2 a usage error (one line naming the
// option on standard error); 130 and 143 a run stopped by SIGINT or SIGTERM.
//
// Adding a subcommand (as cli/cmd_tolerance.cpp does):
//   1. Write cli/cmd_NAME.cpp with
//        void register_NAME(Context& ctx);
//      that calls ctx.add_command("NAME", "...", action) and adds its
//      options with ctx.add_section / ctx.add_value / ctx.add_flag ...
//      (the option parser itself stays in cli/options.cpp); the action resolves the
//      values through a Values object (command line, then --defaults file),
//      evaluates with kx::CoupledLine and fills a Document (cli/document.h).
//   2. Declare it in cli/commands.h and call it in the list in cli/cli.cpp
//      (register_commands). The common options (--units, --format,
//      --defaults) come with add_command.
#pragma once

#include <iosfwd>

#include "cli/run_limits.h"

namespace kx::cli {

// Runs one command line (argv[0] is the program name) and returns the exit
// status. Writes results to `out` and messages to `err`. Safe to call from
// several threads at once: a run shares nothing mutable with another but the
// process's signal flag (and two runs naming one output file: the second is
// refused).
int run_cli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const RunLimits& limits = {});

}  // namespace kx::cli
