// The design record: every answer of the input dialogue, the file default of
// every numeric prompt, the function and option codes, the output file name
// and the date stamp. Zero at program start.
#pragma once

#include <string>

namespace kx {

// Named values of the function and option codes the dialogue and the runs
// test.
//
// ifunc: the FUNCTION.
inline constexpr int function_analysis = 1;
inline constexpr int function_synthesis = 2;
// iop of an analysis: the OPTION.
inline constexpr int option_impedance = 1;
inline constexpr int option_frequency = 2;
inline constexpr int option_sensitivity = 3;
// iop of a synthesis.
inline constexpr int synthesis_static = 1;      // from D.C. impedances
inline constexpr int synthesis_dispersive = 2;  // from impedances at Fo
// iop1: the impedance analysis sweeps ...
inline constexpr int impedance_w_range = 1;  // ... W at a fixed S
inline constexpr int impedance_s_range = 2;  // ... S at a fixed W
// iop2a: the frequency analysis.
inline constexpr int frequency_four_port = 1;   // the four-port response
inline constexpr int frequency_dispersion = 2;  // the dispersion of the cross-section
// iop2b: the four-port print FORMAT.
inline constexpr int format_scattering = 1;  // S-parameters, dB and degrees
inline constexpr int format_quadrature = 2;  // VSWR, losses and phase quadrature
// iop3: the sensitivity analysis sweeps ...
inline constexpr int sensitivity_frequency = 1;  // ... the frequency
inline constexpr int sensitivity_w_range = 2;    // ... W
inline constexpr int sensitivity_s_range = 3;    // ... S
// iops: the synthesis sweeps ...
inline constexpr int synthesis_coupling_range = 1;  // ... coupling levels
inline constexpr int synthesis_zoe_range = 2;       // ... even-mode impedances
// istore: the STORAGE answer.
inline constexpr int storage_off = 0;
inline constexpr int storage_on = 1;
// The hidden answer that re-analyses every synthesised W and S and analyses
// the four-port sweep on the static baseline values.
inline constexpr int baseline_verification = -473;
// isel: where the next dialogue starts.
inline constexpr int select_error = -1;  // a faulty defaults file: the program ends
inline constexpr int select_first = 0;
inline constexpr int select_new_option = 1;   // a new OPTION for the same coupler
inline constexpr int select_new_coupler = 2;  // a NEW coupler (higher values end the program)
// ilength of the four-port dialogue: the coupler length ...
inline constexpr int length_entered = 1;   // ... is entered, the centre frequency computed
inline constexpr int length_computed = 2;  // ... is computed from the centre frequency

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
  int ifunc{};    // FUNCTION: function_analysis, function_synthesis
  int iop{};      // OPTION: option_impedance, ... or synthesis_static, synthesis_dispersive

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
