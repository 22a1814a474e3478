// Frequency, coupler length, terminations, print format and the synthesis
// ranges. Every frequency is held against the substrate thickness: above
// F*H = 25 GHz-mm the dispersion models lose accuracy.
#include <cmath>
#include <string_view>
#include <utility>

#include "common/constants.h"
#include "common/sweep.h"
#include "input/dialogue_steps.h"
#include "models/limits.h"
#include "shared/warnings.h"

namespace kx::dialogue {
namespace {

constexpr std::string_view kTooHigh = warnings::kTooHigh;
constexpr std::string_view kTooHighAsk = warnings::kTooHighAsk;

constexpr std::string_view kSpotImpedance =
    R"t((11X,'-Spot Frequency for Impedance Analysis: F, GHz = '))t";
constexpr std::string_view kSpotSensitivity =
    R"t((11X,'-Spot Frequency for Sensitivity Analysis: F,GHz= '))t";

constexpr std::string_view kPromptL =
    R"t((11X,'-Length of Microstrip Coupler     : L , Inches = '))t";
constexpr std::string_view kCentreShown = R"t((11X,'-Design Center Frequency: Fo, GHz =',F7.3))t";
constexpr std::string_view kCentreTooHigh = warnings::kCentreTooHigh;
constexpr std::string_view kCentreTooHighAsk = warnings::kCentreTooHighAsk;

constexpr std::string_view kRangeHeader = R"t((/,6X,'Please enter Analysis Frequency Range:'))t";
constexpr std::string_view kPromptFmin = R"t((11X,'-Analysis Start Frequency: Fstart, GHz = '))t";
constexpr std::string_view kPromptFmax = R"t((11X,'-Analysis Stop  Frequency: Fstop , GHz = '))t";
constexpr std::string_view kPromptFstep = R"t((11X,'-Analysis Step  Frequency: Fstep , GHz = '))t";

constexpr std::string_view kPromptCentre = R"t((11X,'-Design Center Frequency : Fo    , GHz = '))t";
constexpr std::string_view kLengthShown = R"t((11X,'-Length of Coupler: L, Inches = ',F6.4))t";

constexpr std::string_view kTerminations = R"t((/,6X,'Enter Load and Source Terminations:'))t";
constexpr std::string_view kPromptRs = R"t((11X,'-Source Termination: Rs, Ohms = '))t";
constexpr std::string_view kPromptRl = R"t((11X,'-Load   Termination: Rl, Ohms = '))t";
constexpr std::string_view kFormatMenu =
    R"t((/,6X,'Select output data print FORMAT:',/,10X,'*1: Scattering Parameters: dB & degrees at each port (Default).',/,11X,'2: VSWR, Losses (dB) and Phase Quadrature.'))t";
constexpr std::string_view kFormatPrompt = R"t((6X,'Print FORMAT selected = '))t";

constexpr std::string_view kPromptFo =
    R"t((11X,'-Operating Frequency for Synthesis: Fo, GHz    = '))t";
constexpr std::string_view kPromptZo =
    R"t((11X,'-Characteristic Impedance of Coupler: Zo, Ohms ='))t";

constexpr std::string_view kPromptZoemax =
    R"t((11X,'-Enter a range of Even-Mode Impedances:',/,15X,'-Maximum Even-Mode Impedance: ZoeMAX, Ohms = '))t";
constexpr std::string_view kPromptZoemin =
    R"t((15X,'-Minimum Even-Mode Impedance: ZoeMIN, Ohms = '))t";
constexpr std::string_view kPromptZoestep =
    R"t((15X,'-Step Size for Even-Mode Zo: ZoeSTEP, Ohms = '))t";

constexpr std::string_view kPromptCstrong =
    R"t((11X,'-Enter a range of Coupling levels:',/,15X,'-Strongest Coupling level: Cstrong, dB = '))t";
constexpr std::string_view kPromptCweak = R"t((15X,'-Weakest   Coupling level: Cweak  , dB = '))t";
constexpr std::string_view kPromptCstep = R"t((15X,'-Coupling level Step Size: Cstep  , dB = '))t";
constexpr std::string_view kNoConvergence = warnings::kNoConvergence;
constexpr std::string_view kNoConvergenceAsk = warnings::kNoConvergenceAsk;

// The coupling answers are levels in positive dB.
constexpr float kStrongest = -limits::tightest_db;  // dB: tighter coupling may not converge
constexpr float kWeakest = -limits::loosest_db;     // dB: looser coupling may not converge

bool too_high(float f, float h) { return warnings::frequency_too_high(f, h); }

// The default rule with the test answer > 0.
float value(Console& io, std::string_view prompt, float file_default) {
  const float x = ask(io, prompt);
  return x > 0.0f ? x : file_default;
}

// A frequency prompt with the frequency test; asked again while the user
// answers 1 to the warning.
float frequency(Console& io, std::string_view prompt, float file_default, float h) {
  for (;;) {
    const float f = value(io, prompt, file_default);
    if (!too_high(f, h)) return f;
    io.out.console(kTooHigh);
    if (!reenter(io, kTooHighAsk)) return f;
  }
}

// Coupling test on a level in dB (positive).
bool coupling_out_of_range(float c) { return !(c >= kStrongest && c <= kWeakest); }

// A coupling prompt: the file default, or the magnitude of a non-zero answer.
float coupling(Console& io, std::string_view prompt, float file_default) {
  const float x = ask(io, prompt);
  return x != 0.0f ? std::abs(x) : file_default;
}

// The cross-section of the four-port run.
Section coupler(const Design& d) {
  Section sec;
  sec.er = d.er;
  sec.h = d.h;
  sec.h2 = d.h2;
  sec.w = d.wdef;
  sec.s = d.sdef;
  sec.t = d.t;
  return sec;
}

// Coupler length entered; the design centre frequency follows from it.
void length_then_centre(Console& io, Design& d, CoupledLine& line, float& fo) {
  for (;;) {
    d.l = value(io, kPromptL, d.ldef);
    fo = line.centre_frequency(coupler(d), d.l);
    io.out.console(kCentreShown, {fo});
    if (!too_high(fo, d.h)) return;
    io.out.console(kCentreTooHigh);
    if (!reenter(io, kCentreTooHighAsk)) return;
  }
}

// Design centre frequency entered; the quarter-wave length follows from it.
void centre_then_length(Console& io, Design& d, CoupledLine& line, float& fo) {
  fo = frequency(io, kPromptCentre, d.fdefdef, d.h);
  d.l = line.quarter_wave_length(coupler(d), fo);
  io.out.console(kLengthShown, {d.l});
}

void frequency_range(Console& io, Design& d) {
  io.out.console(kRangeHeader);
  d.fmin = frequency(io, kPromptFmin, d.fmindef, d.h);
  for (;;) {
    d.fmax = value(io, kPromptFmax, d.fmaxdef);
    if (d.fmin > d.fmax) d.fmax = d.fmin;
    if (!too_high(d.fmax, d.h)) break;
    io.out.console(kTooHigh);
    if (!reenter(io, kTooHighAsk)) break;
  }
  d.fstep = value(io, kPromptFstep, d.fstepdef);
  d.i = step_count(d.fmax, d.fmin, d.fstep);
}

void terminations(Console& io, Design& d) {
  io.out.console(kTerminations);
  d.rs = value(io, kPromptRs, d.rsdef);
  d.rl = value(io, kPromptRl, d.rldef);
  d.iop2b = format_scattering;
  io.out.console(kFormatMenu);
  const int k = nearest_int(ask(io, kFormatPrompt));
  if (k == format_scattering || k == format_quadrature) d.iop2b = k;
}

void zoe_range(Console& io, Design& d) {
  const float zmax = ask(io, kPromptZoemax);
  d.zoedef = d.zoedefdef;
  d.zoemax = zmax > d.zodef ? zmax : d.zoemaxdef;
  const float zmin = ask(io, kPromptZoemin);
  d.zoodef = d.zoodefdef;
  d.zoemin = zmin > d.zodef ? zmin : d.zoemindef;
  if (d.zoemin > d.zoemax) std::swap(d.zoemin, d.zoemax);
  d.zoestep = value(io, kPromptZoestep, d.zoestepdef);
}

void coupling_range(Console& io, Design& d) {
  for (;;) {
    d.cstrong = coupling(io, kPromptCstrong, d.cstrongdef);
    if (!coupling_out_of_range(d.cstrong)) break;
    io.out.console(kNoConvergence);
    if (!reenter(io, kNoConvergenceAsk)) break;
  }
  for (;;) {
    d.cweak = coupling(io, kPromptCweak, d.cweakdef);
    if (!coupling_out_of_range(d.cweak)) break;
    io.out.console(kNoConvergence);
    // This one question truncates its answer: 1.7 re-enters.
    if (trunc_int(ask(io, kNoConvergenceAsk)) != 1) break;
  }
  d.cstep = coupling(io, kPromptCstep, d.cstepdef);
}

}  // namespace

void frequency_prompts(Console& io, Design& d, CoupledLine& line, int ilength, float& fo) {
  if (d.ifunc == function_synthesis) {
    if (d.iop != synthesis_static) fo = frequency(io, kPromptFo, d.fdefdef, d.h);
    d.zodef = value(io, kPromptZo, d.zodefdef);
    if (d.iops == synthesis_zoe_range) {
      zoe_range(io, d);
    } else {
      coupling_range(io, d);
    }
    return;
  }
  if (d.iop == option_impedance) {
    fo = frequency(io, kSpotImpedance, d.fdefdef, d.h);
  } else if (d.iop == option_frequency && d.iop2a == frequency_four_port) {
    if (ilength == length_entered) length_then_centre(io, d, line, fo);
    frequency_range(io, d);
    if (ilength == length_computed) centre_then_length(io, d, line, fo);
    terminations(io, d);
  } else if (d.iop == option_frequency || d.iop3 == sensitivity_frequency) {
    frequency_range(io, d);
  } else {
    fo = frequency(io, kSpotSensitivity, d.fdefdef, d.h);
  }
}

}  // namespace kx::dialogue
