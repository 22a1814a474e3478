// The line of the wideband subcommands (rlgc, loss): the edge-coupled
// pair's cross-section (the section options, always the field model), or a
// board cross-section on the general solver (cli/structure_options.h:
// --structure, --stackup, --kicad; its conductors are the line's), with the
// wideband loss options, and the frequencies of --f-range; resolved into
// the line's static solve set (kestrelix/rlgc.h) once per run.
#pragma once

#include <string>
#include <vector>

#include <kestrelix/rlgc.h>

#include "cli/context.h"
#include "cli/loss_options.h"
#include "cli/structure_options.h"

namespace kx::cli {

struct LineArgs {
  SectionArgs sec;
  Arg* tlos{};
  ModelArgs model;
  LossArgs loss;
  Arg* f_range{};
  StructureArgs st;  // its --h --er --w --s --t are sec's
};

// --er --h --h2 --w --s --t --res --sr --tlos, the field solver's options
// (--accuracy, the coating), the loss options, --f-range and the board
// cross-section's options.
void add_line_options(Context& ctx, Command& cmd, LineArgs& a);

struct Line {
  // A board cross-section (board, in the run's length unit) or the
  // edge-coupled pair (sec, model).
  bool structure = false;
  BoardSection board;
  stack::Accuracy accuracy = stack::Accuracy::standard;
  Section sec;  // inches
  ModelSettings model;
  WidebandMaterials materials;
  rlgc::LineStatics statics;
  double f_start = 0.0, f_stop = 0.0, f_step = 0.0;  // GHz, as given
  std::vector<double> f_hz;
};

// Resolves and checks every option (UsageError naming the option; the
// options of the one kind of cross-section with the other's), then solves
// the line's statics (a cross-section the solver refuses is a usage error
// naming it).
Line resolve_line(Context& ctx, const LineArgs& a);

// The cross-section, the materials, the solver's settings and the range as
// inputs of `doc`, and the solver's error estimate in its summary.
void line_inputs(const Context& ctx, Document& doc, const Line& line);

// The line in words, for the comment lines of the files written (lengths
// in the run's unit).
std::vector<std::string> line_description(const Context& ctx, const Line& line);

// A frequency for people and keys: GHz.
inline double ghz(double f_hz) { return f_hz / 1e9; }

}  // namespace kx::cli
