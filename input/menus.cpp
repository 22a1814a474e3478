// Banner, program description and the FUNCTION, OPTION and SUBOPTION menus.
// An answer outside a menu's range takes the starred item silently.
#include <string_view>

#include "input/dialogue_steps.h"
#include "models/selectors.h"

namespace kx::dialogue {
namespace {

constexpr std::string_view kBanner =
    R"t((/,/,/,15X,'RF/Microwave Computer-Aided Engineering Design Software',/,11X,'Program: Kestrelix (v. 1.3)     Date:',I2,'/',I2,'/',I4,' at ',I2,':',I2,':',I2,'Hours'))t";

constexpr std::string_view kDescription =
    R"t((/,6X,'This program performs Impedance ANALYSIS, Dimensional SYNTHESIS and ',/,6X,'Frequency RESPONSE for Edge-Coupled Microstrip Directional Couplers.'))t";

constexpr std::string_view kFunctionMenu =
    R"t((/,6X,'Please select a Program FUNCTION:',/,10X,' 1: ANALYSIS of Impedances from known Dimensions.',/,15X,'- Impedance   Analysis from Strip Dimensions.',/,15X,'- Frequency   Analysis of Microstrip Coupler.',/,15X,'- Sensitivity Analysis of Coupler Impedances.',/,10X,'*2: SYNTHESIS of Dimensions from known Impedances (Default).',/,15X,'- Synthesis of S and W from D.C. Impedances: Zoe and Zoo.',/,15X,'- Synthesis of S and W from Dispersive Impedances: Zoe and Zoo.'))t";
constexpr std::string_view kFunctionPrompt = R"t((6X,'Program FUNCTION selected = '))t";

constexpr std::string_view kAnalysisMenu =
    R"t((/,6X,'Please select an Impedance Analysis OPTION:',/,10X,' 1: Impedance   Analysis from known Strip Dimensions.',/,10X,'*2: Frequency   Analysis of Microstrip Coupler (Default).',/,10X,' 3: Sensitivity Analysis of Coupler Impedances: Zoe and Zoo.'))t";
constexpr std::string_view kAnalysisPrompt = R"t((6X,'Analysis OPTION selected = '))t";

constexpr std::string_view kImpedanceMenu =
    R"t((/,6X,'Please select an Impedance Analysis SUBOPTION:',/,10X,'*1: Impedance Analysis for a range of Strip Widths: W (Default).',/,10X,' 2: Impedance Analysis for a range of Strip Spacings: S.'))t";
constexpr std::string_view kImpedancePrompt =
    R"t((6X,'Impedance Analysis SUBOPTION selected = '))t";

constexpr std::string_view kFrequencyMenu =
    R"t((/,6X,'Please select Frequency Analysis SUBOPTION:',/,10X,'*1: Four port Coupler`s frequency response (Default).',/,10X,' 2: Frequency dispersion of Coupler`s cross section.'))t";
constexpr std::string_view kFrequencyPrompt =
    R"t((6X,'Frequency Analysis SUBOPTION selected = '))t";
constexpr std::string_view kLengthPrompt =
    R"t((/,6X,'Select to enter(=1) or compute(=2*) Coupler Length: '))t";

constexpr std::string_view kSensitivityMenu =
    R"t((/,6X,'Plese elect Sensitivity Analysis SUBOPTION:',/,10X,'*1: Versus Frequency for one value of S and W (Default).',/,10X,' 2: At one Frequency for a range of Strip Widths: W.',/,10X,' 3: At one Frequency for a range of Strip Spacings: S.'))t";
constexpr std::string_view kSensitivityPrompt =
    R"t((6X,'Sensitivity Analysis SUBOPTION selected = '))t";
constexpr std::string_view kModePrompt =
    R"t((/,6X,'Select Sensitivity of Even Mode(=1*), Odd ','Mode(=2) or Both(=3): '))t";

constexpr std::string_view kSynthesisMenu =
    R"t((/,6X,'Please select Synthesis OPTION:',/,10X,' 1: Synthesis of Dimensions: S and W from D.C. Impedances.',/,10X,'*2: Synthesis of Dimensions: S and W from Dispersive Impedances (Default).'))t";
constexpr std::string_view kSynthesisPrompt = R"t((6X,'Synthesis OPTION selected = '))t";
constexpr std::string_view kSynthesisSubMenu =
    R"t((/,6X,'Please select Synthesis SUBOPTION:',/,10X,'*1: Synthesis of S and W from range of Coupling levels (Default).',/,10X,' 2: Synthesis of S and W from range of Even-Mode Impedances: Zoe.'))t";
constexpr std::string_view kSynthesisSubPrompt = R"t((6X,'Synthesis SUBOPTION selected = '))t";

// Prints a menu and its prompt and returns the menu value of the answer
// (nearest integer, halves away from zero) when it lies in [1, last],
// otherwise `starred`.
int menu(Console& io, std::string_view items, std::string_view prompt, int last, int starred) {
  io.out.console(items);
  const int k = nearest_int(ask(io, prompt));
  return k >= 1 && k <= last ? k : starred;
}

}  // namespace

void print_banner(Console& io, const Design& d) {
  io.out.console(kBanner, {d.imon, d.iday, d.iyr, d.ihr, d.imin, d.isec});
}

void function_menu(Console& io, Design& d) {
  io.out.console(kDescription);
  io.out.console(kFunctionMenu);
  const float x = ask(io, kFunctionPrompt);
  d.ifunc = function_synthesis;
  d.ieoro = ieoro_even;
  d.iop1 = impedance_w_range;
  d.iop2a = frequency_four_port;
  d.iop3 = sensitivity_frequency;
  d.iops = synthesis_coupling_range;
  // Truncation, lifted by 0.1: every answer in (-1.1, 0.9) is the default 2.
  const float lifted = x + 0.1f;
  const int k = trunc_int(lifted);
  if (k != 0) d.ifunc = k;
}

int option_menus(Console& io, Design& d) {
  int ilength = length_computed;
  if (d.ifunc == function_synthesis) {
    d.iop = menu(io, kSynthesisMenu, kSynthesisPrompt, 2, 2);
    d.iops = menu(io, kSynthesisSubMenu, kSynthesisSubPrompt, 2, 1);
    return ilength;
  }
  d.ifunc = function_analysis;
  d.iop = menu(io, kAnalysisMenu, kAnalysisPrompt, 3, 2);
  if (d.iop == option_impedance) {
    d.iop1 = menu(io, kImpedanceMenu, kImpedancePrompt, 2, 1);
  } else if (d.iop == option_frequency) {
    d.iop2a = menu(io, kFrequencyMenu, kFrequencyPrompt, 2, 1);
    if (d.iop2a == frequency_four_port) {
      const bool entered = nearest_int(ask(io, kLengthPrompt)) == length_entered;
      ilength = entered ? length_entered : length_computed;
    }
  } else {
    d.iop3 = menu(io, kSensitivityMenu, kSensitivityPrompt, 3, 1);
    d.ieoro = ieoro_even;
    const int k = nearest_int(ask(io, kModePrompt));
    if (k >= ieoro_even && k <= ieoro_both) d.ieoro = k;
  }
  return ilength;
}

}  // namespace kx::dialogue
