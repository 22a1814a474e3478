// Board cross-sections in millimetres from a six-layer board's KiCad file:
// the trace width of a 90 ohm pair (0.15 mm gap) on the inner layer In2.Cu
// and its crosstalk from a neighbour 0.3 mm away, the width of a 50 ohm
// grounded coplanar line (0.15 mm from its grounds) on the top layer under
// the board's solder mask, and a 50 ohm symmetric stripline built by name.
// `kestrelix line` gives the same answers (doc/scripted.md).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <kestrelix/stackup_file.h>
#include <kestrelix/structure.h>

namespace ks = kx::stack;

// The board's layer with a line or pair centred on it (and coplanar grounds
// `ground_gap` beside it); the trace starts as wide as it lies above its plane.
ks::Stack layer_of(const std::string& board, const std::string& layer, bool pair, double gap,
                   double ground_gap) {
  const ks::KicadImport imp = ks::import_kicad(ks::read_kicad_stackup(board), layer);
  ks::Stack s = imp.stackup.stack;
  const double w = s.height(imp.interface);
  ks::Conductor c;
  c.interface = imp.interface;
  c.thickness = imp.trace_thickness;
  if (pair) {
    c.left = -0.5 * gap - w;
    c.right = -0.5 * gap;
    s.conductors.push_back(c);
    c.left = 0.5 * gap;
    c.right = 0.5 * gap + w;
    s.conductors.push_back(c);
  } else {
    c.left = -0.5 * w;
    c.right = 0.5 * w;
    s.conductors.push_back(c);
  }
  if (ground_gap > 0.0) {
    const double outer = pair ? 0.5 * gap + w : 0.5 * w;
    ks::Conductor g = c;
    g.role = ks::Role::ground;
    g.left = outer + ground_gap;
    g.right = ks::kUnbounded;
    s.conductors.push_back(g);
    g.right = -outer - ground_gap;
    g.left = -ks::kUnbounded;
    s.conductors.push_back(g);
  }
  return s;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: structures_mm BOARD.kicad_pcb\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  std::stringstream text;
  text << in.rdbuf();
  const double ps_per_mm = 1e12 * 1e-3;  // s/m to ps/mm
  try {
    kx::study::StructurePlan pair;
    pair.stack = layer_of(text.str(), "In2.Cu", true, 0.15, 0.0);
    pair.pair = true;
    pair.solve = kx::study::StructureSolve::width_for_zdiff;
    pair.zdiff = 90.0;
    pair.neighbour_gap = 0.3;
    const kx::study::Structure p = kx::study::structure(pair);
    if (!p.solved) throw std::runtime_error(p.reason);
    std::printf("In2.Cu pair for 90 ohm: W %.4f mm, S %.4f mm (%d field solutions)\n", p.width,
                p.gap, p.solves);
    std::printf("  Zdiff %.3f ohm, Zcomm %.3f ohm, delays %.3f and %.3f ps/mm\n", p.pair.zdiff,
                p.pair.zcomm, p.pair.delay_e * ps_per_mm, p.pair.delay_o * ps_per_mm);
    const ks::Crosstalk& x = p.crosstalk.at(0).figures;
    std::printf("  neighbour 0.3 mm away: backward %.5f, forward %.4f ps/mm\n", x.kb,
                x.kf_per_length * ps_per_mm);

    kx::study::StructurePlan gcpw;
    gcpw.stack = layer_of(text.str(), "F.Cu", false, 0.0, 0.15);
    gcpw.solve = kx::study::StructureSolve::width_for_z0;
    gcpw.z0 = 50.0;
    const kx::study::Structure g = kx::study::structure(gcpw);
    if (!g.solved) throw std::runtime_error(g.reason);
    std::printf("F.Cu grounded coplanar line for 50 ohm: W %.4f mm\n", g.width);
    std::printf("  Z0 %.3f ohm, eff %.4f, mask %.3f mm of Er %.2f\n", g.lines[0].z0, g.lines[0].eff,
                g.stack.mask.over_trace, g.stack.mask.er);

    ks::Trace t;
    t.width = 0.2;
    t.thickness = 0.035;
    kx::study::StructurePlan strip;
    strip.stack = ks::stripline(0.5, 4.2, t);  // planes 0.5 mm apart
    strip.solve = kx::study::StructureSolve::width_for_z0;
    strip.z0 = 50.0;
    const kx::study::Structure s = kx::study::structure(strip);
    if (!s.solved) throw std::runtime_error(s.reason);
    std::printf("Stripline, b 0.5 mm, Er 4.2, for 50 ohm: W %.4f mm, Z0 %.3f ohm\n", s.width,
                s.lines[0].z0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "structures_mm: %s\n", e.what());
    return 1;
  }
  return 0;
}
