// The subcommands, one file each (cmd_NAME.cpp). Each registers itself on
// the application through the shared Context.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/context.h"

namespace kx::cli {

void register_analyse(CLI::App& app, Context& ctx);
void register_response(CLI::App& app, Context& ctx);
void register_dispersion(CLI::App& app, Context& ctx);
void register_sensitivity(CLI::App& app, Context& ctx);
void register_synthesise(CLI::App& app, Context& ctx);
void register_tolerance(CLI::App& app, Context& ctx);

}  // namespace kx::cli
