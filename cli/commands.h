// The subcommands, one file each (cmd_NAME.cpp). Each registers itself on
// the application through the shared Context.
#pragma once

#include "cli/context.h"

namespace kx::cli {

void register_analyse(Context& ctx);
void register_response(Context& ctx);
void register_dispersion(Context& ctx);
void register_sensitivity(Context& ctx);
void register_synthesise(Context& ctx);
void register_tolerance(Context& ctx);
void register_diffpair(Context& ctx);
void register_check(Context& ctx);
void register_line(Context& ctx);
void register_rlgc(Context& ctx);
void register_loss(Context& ctx);

}  // namespace kx::cli
