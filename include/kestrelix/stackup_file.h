// Stackup files: the board's layers (and optionally its conductors and
// solder mask) as a documented JSON file (doc/stackup.md), and the import of
// a board's stackup from a KiCad board file (.kicad_pcb). No face: the
// command line, the web page and a Python module read stackups through this.
//
//   const kx::stack::Stackup s = kx::stack::parse_stackup(text);   // throws StackupError
//   const kx::stack::Stack in_mm = kx::stack::scaled(s.stack, kx::stack::mm_per(s.unit));
//
// Every error is a StackupError whose message is one line naming the bad
// entry, e.g. "layers[2].er: must be a number from 1 to 1e4".
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include <kestrelix/stack.h>

namespace kx::stack {

struct StackupError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The length units of a file (and of the faces).
enum class Unit { mm, mil, um, in };
double mm_per(Unit u);          // 1, 0.0254, 0.001, 25.4
const char* unit_name(Unit u);  // "mm", "mil", "um", "in"
bool parse_unit(const std::string& name, Unit& u);

// Every length of a stack times `factor` (a change of unit).
Stack scaled(const Stack& s, double factor);

// A stack in a unit. A stackup file may leave out the conductors (a board's
// layers alone): then stack.conductors is empty.
struct Stackup {
  Unit unit = Unit::mm;
  Stack stack;
};

// The JSON text of a stackup file to a Stackup, every entry checked (and,
// with conductors, the whole stack: check()).
Stackup parse_stackup(const std::string& json_text);
// The same from a file; "cannot read FILE" when it cannot be read.
Stackup read_stackup(const std::string& path);
// The JSON text of a stackup (parse_stackup reads it back to the same stack).
std::string stackup_json(const Stackup& s);

// ---------------------------------------------------------------------------
// KiCad board files: the (stackup ...) block in the board's (setup ...).

// One entry of the stackup, from the top of the board down; a dielectric's
// sublayers are entries of their own (named "NAME/2", "NAME/3", ...).
struct KicadLayer {
  std::string name;        // e.g. "F.Cu", "dielectric 1", "F.Mask"
  std::string type;        // "copper", "core", "prepreg", "Top Solder Mask", ...
  double thickness = 0.0;  // mm (0 where the file gives none)
  double er = 0.0;         // 0 where the file gives none
  double loss_tangent = 0.0;
  bool copper() const { return type == "copper"; }
  bool dielectric() const { return type == "core" || type == "prepreg"; }
  bool mask() const { return type == "Top Solder Mask" || type == "Bottom Solder Mask"; }
};

// The stackup of a board file's text; throws StackupError (not a board, no
// stackup, a malformed or missing entry named).
std::vector<KicadLayer> read_kicad_stackup(const std::string& board_text);

// The cross-section of one signal layer: the layers between its references
// (the nearest copper layers above and below it by default, or the named
// ones; "none" leaves that side open: the outer layers' side, with the
// board's solder mask on an outer signal layer). The stack runs from one
// reference (its ground plane) through the signal layer: upward when there is
// a reference below and the trace sits on the dielectric below it (a core
// below, or a prepreg above), else turned over. The signal layer's copper
// thickness lies in the layer that embeds the traces (the fabricators'
// prepreg measured from the trace's top); other copper layers between count
// as the dielectric beyond them. Unit mm, no conductors.
struct KicadImport {
  Stackup stackup;
  std::size_t interface = 1;     // where the signal layer's traces sit
  double trace_thickness = 0.0;  // its copper thickness, mm
  bool turned_over = false;      // the stack runs downward through the board
};
KicadImport import_kicad(const std::vector<KicadLayer>& layers, const std::string& signal,
                         const std::string& above = "", const std::string& below = "");

}  // namespace kx::stack
