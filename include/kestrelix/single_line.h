// The closed forms' single microstrip: one strip of width W and thickness T
// on a substrate of thickness H and relative dielectric constant Er under a
// cover at H2 (infinite: open), static (D.C.) values. Hammerstad and
// Jensen's zero-thickness line with their top-cover corrections and Bahl and
// Garg's effective width for the thickness, in the 32-bit arithmetic of the
// pair's closed forms (kestrelix/coupled_line.h), which build on the same
// line. An open section takes the cover at the closed forms' no-cover height,
// as the pair's evaluation does.
//
//   kx::Section sec;        // er, h, w, t (inches); s is not used
//   const kx::SingleLine l = kx::single_microstrip(sec);   // l.z0, l.eff
#pragma once

#include <kestrelix/section.h>

namespace kx {

struct SingleLine {
  float z0{};   // ohms
  float eff{};  // effective permittivity
  // refused (a length not above 0, Er below 1, H2 not above T: the values
  // are then NaN), wh (W/H outside 0.1 .. 10), er (above 20), not_finite.
  unsigned flags{};
  bool valid{true};
};

SingleLine single_microstrip(const Section& sec);

}  // namespace kx
