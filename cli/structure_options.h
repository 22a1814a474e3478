// The cross-section options of the subcommands on the general field solver
// (kestrelix/stack.h): a named structure with its dimensions, a stackup file,
// or a KiCad board's stackup with the traces on one of its layers. One call
// declares them on a command, one resolves them into a kx::stack::Stack in
// the run's length unit (--units), so that every subcommand that takes a
// board cross-section takes it the same way:
//
//   StructureArgs& s = ...;                   // kept with the command's other options
//   declare_structure(ctx, cmd, s);
//   ...                                        // in the action, after parsing:
//   const BoardSection board = resolve_structure(ctx, s);
//   kx::stack::solve(board.stack) ...
//
// Every bad or missing value is a UsageError naming the option (or the
// stackup file's entry, or the board's layer).
#pragma once

#include <string>
#include <vector>

#include <kestrelix/stack.h>

#include "cli/context.h"

namespace kx::cli {

// The options, bound to the command (they must outlive the parse).
struct StructureArgs {
  Arg* structure{};  // microstrip, embedded-microstrip, stripline, offset-stripline, gcpw,
                     // broadside-pair; NAME-pair = NAME --pair
  Arg* stackup{};    // FILE (JSON)
  Arg* kicad{};      // FILE (.kicad_pcb) with --layer
  Arg* layer{};
  Arg* above{};  // the references of a KiCad layer: a copper layer's name or "none"
  Arg* below{};
  Arg* interface {};  // a stackup file without conductors: where the traces sit
  bool pair = false;
  // Dielectrics: below the trace; above it (from its top); between broadside traces.
  Arg* h{};
  Arg* er{};
  Arg* tand{};
  Arg* h_above{};
  Arg* er_above{};
  Arg* tand_above{};
  Arg* h_between{};
  Arg* er_between{};
  Arg* tand_between{};
  // The traces.
  Arg* w{};
  Arg* s{};
  Arg* t{};
  Arg* etch_factor{};
  Arg* top_w{};
  Arg* offset{};
  Arg* ground_gap{};
  Arg* ground_width{};
  // The solder mask.
  Arg* mask_over_trace{};
  Arg* mask_on_substrate{};
  Arg* mask_between{};
  Arg* mask_er{};
  Arg* mask_tand{};
};

// `shared`: a command that also takes the edge-coupled pair's section
// options has declared --h --er --w --s --t already; the structure reads
// those (their help says both meanings).
void declare_structure(Context& ctx, Command& cmd, StructureArgs& a,
                       const SectionArgs* shared = nullptr);

// Whether the options name a board cross-section (--structure, --stackup or
// --kicad).
bool structure_given(const StructureArgs& a);

// The options of a structure other than its source and the shared ones, for
// a command that refuses them without a structure.
std::vector<const Arg*> structure_only_args(const StructureArgs& a);

// What the caller's search leaves open: a width or gap it finds need not be
// given (its start is then the height of the trace above its plane, and the
// width for the gap); a pitch starts both at half of it.
struct StructureNeeds {
  bool w = true;
  bool s = true;       // a pair's
  double pitch = 0.0;  // > 0: width and gap start at half of it (or the rest of a given one)
};

// The cross-section in the run's length unit.
struct BoardSection {
  kx::stack::Stack stack;
  bool pair = false;
  std::string structure;   // "microstrip" ... "broadside-pair", "stackup" or "kicad"
  bool from_file = false;  // a stackup file's conductors (nothing built from the options)
  // The trace's dimensions as built (NaN for a stackup file's conductors).
  double w = 0.0, s = 0.0, t = 0.0;
  // Named entries of the inputs: the options given or their defaults, as
  // (name, value, is_length).
  struct Input {
    std::string name;
    Value value;
    bool length = false;
  };
  std::vector<Input> inputs;
};

BoardSection resolve_structure(Context& ctx, const StructureArgs& a,
                               const StructureNeeds& needs = {});

// The inputs of `board` into `doc` (structure, source, dimensions).
void structure_inputs(Document& doc, const BoardSection& board);

// A number typed on the command line in double precision (lengths in the
// run's unit); UsageError naming the option when it is not one.
double parse_double(const std::string& name, const std::string& text);

}  // namespace kx::cli
