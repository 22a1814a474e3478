// The design record: every answer of the input dialogue, the file default of
// every numeric prompt, the function and option codes, the output file name
// and the date stamp. Zero at program start.
#pragma once

#include <string>

namespace kx {

// Named values of the option codes the runs test.
inline constexpr int synthesis_static = 1;      // iop of a synthesis: from D.C. impedances
inline constexpr int synthesis_dispersive = 2;  // iop of a synthesis: from impedances at Fo
inline constexpr int synthesis_zoe_range = 2;   // iops: a range of even-mode impedances
// istore: the hidden STORAGE answer that re-analyses every synthesised W and
// S and analyses the four-port sweep on the static baseline values.
inline constexpr int baseline_verification = -473;

struct Design {
  // blk1
  std::string fn = std::string(20, ' ');  // output file name, 20 characters, blank padded

  // blk2
  float ccdef{};  // coupling factor 10^(-kodef/20)
  float er{};     // substrate relative dielectric constant
  float fdef{};   // spot frequency as read from the defaults file, GHz
  float fmin{};   // analysis start frequency, GHz
  float fmax{};   // analysis stop frequency, GHz
  float fstep{};  // analysis frequency step, GHz
  float h{};      // substrate thickness, inch
  float h2{};     // top cover height above the substrate, inch
  int i{};        // step count of the last range entered (and reason counter)
  int ieoro{};    // sensitivity mode: ieoro_even, ieoro_odd, ieoro_both (models/selectors.h)
  int ifunc{};    // FUNCTION: 1 analysis, 2 synthesis
  int iop{};      // OPTION

  // blk3
  int iop1{};     // impedance analysis SUBOPTION: 1 range of W, 2 range of S
  int iops{};     // synthesis SUBOPTION: 1 coupling levels, 2 Zoe range
  int iop2a{};    // frequency analysis SUBOPTION: 1 four-port, 2 dispersion
  int iop2b{};    // four-port print FORMAT: 1 S-parameters, 2 VSWR/quadrature
  int iop3{};     // sensitivity SUBOPTION: 1 frequency, 2 range of W, 3 range of S
  int isel{};     // entry selector: 0 first, 1 new option, 2 new coupler, 3+ end, -1 error
  int istore{};   // 1 storage, 0 none, -473 baseline verification
  float kodef{};  // midband coupling level, dB, absolute value
  float l{};      // coupler length, inch

  // blk4
  float res{};   // conductor resistivity, ohm-inch
  float res1{};  // conductor resistivity, micro-ohm-cm
  float rl{};    // load termination, ohm
  float rs{};    // source termination, ohm
  float sdef{};  // strip spacing, inch
  float smin{};
  float smax{};
  float sr{};   // RMS surface roughness, inch
  float sr1{};  // RMS surface roughness, micro-inch
  float sstep{};
  float t{};  // strip thickness, inch

  // blk5
  float tlos{};  // dielectric loss tangent
  float wdef{};  // strip width, inch
  float wmin{};
  float wmax{};
  float wstep{};
  float zodef{};   // coupler impedance Zo, ohm
  float zoedef{};  // even-mode impedance, ohm
  float zoodef{};  // odd-mode impedance, ohm

  // blk6 to blk9: the defaults-file values, never changed after reading
  float erdef{}, fdefdef{}, fmaxdef{}, fmindef{}, fstepdef{}, zodefdef{}, zoedefdef{}, zoodefdef{};
  float hdef{}, h2def{}, kodefdef{}, ldef{}, res1def{}, sr1def{}, rldef{}, rsdef{};
  float sdefdef{}, smaxdef{}, smindef{}, sstepdef{}, tdef{}, tlosdef{}, wdefdef{}, wmaxdef{},
      wmindef{}, wstepdef{};
  float cstrongdef{}, cweakdef{}, cstepdef{}, zoemaxdef{}, zoemindef{}, zoestepdef{};

  // blk10: current synthesis ranges
  float cstrong{}, cweak{}, cstep{};    // dB, positive
  float zoemax{}, zoemin{}, zoestep{};  // ohm

  // datetime: local time of the report stamp
  int imon{}, iday{}, iyr{}, ihr{}, imin{}, isec{};
};

}  // namespace kx
