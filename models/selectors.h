// Named values of the integer selectors of the coupled-line routines. They
// are plain enumerators so that they pass where the routines take an int.
#pragma once

namespace kx {

// iop: which modes mscuppv, ms1imp, lceff and lcdis evaluate. Only the value
// 3 restricts them; every other value evaluates both modes (the analysis
// OPTION numbers 1 and 2 of the dialogue do so as well).
enum Iop : int {
  iop_both_modes = 1,   // even and odd mode and the coupler values
  iop_single_mode = 3,  // the mode named by ieoro only; the other mode's
                        // outputs and records keep the values they had
};

// ieoro: the mode of a single-mode evaluation (read only with
// iop_single_mode), and the sensitivity run's choice of table.
enum Ieoro : int {
  ieoro_even = 1,  // Zoe
  ieoro_odd = 2,   // Zoo
  ieoro_both = 3,  // the sensitivity run: Zoe, then Zoo; a single-mode
                   // evaluation with it takes the even mode
};

// m of sl1zo: the direction of the conversion.
enum Sl1zoDirection : int {
  sl1zo_pair_from_coupling = 1,  // Zoe, Zoo from Zo and the coupling in dB
  sl1zo_coupling_from_pair = 2,  // Zo, the coupling factor and dB from Zoe, Zoo
};

// The frequency argument that asks for the static (D.C.) values: the
// dispersive routines pass their static inputs through at f <= 0 and ms1los
// returns no loss at f = 0.
inline constexpr float static_frequency = 0.0f;

}  // namespace kx
