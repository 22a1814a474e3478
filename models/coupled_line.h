// One evaluation of a covered edge-coupled microstrip cross-section: the
// model chain written once, in its binding order.
//
//   lcwta    effective widths of the thick strips            (Jansen)
//   mscuppv  static even/odd effective permittivities        (Kirschning-Jansen)
//   ms1imp   static Zoe, Zoo and the validity flag           (Kirschning-Jansen)
//   lceff    dispersive even/odd permittivities at f         (Kirschning-Jansen)
//   lcdis    dispersive Zoe, Zoo at f, validity re-tested    (Kirschning-Jansen)
//   sl1zo    Zo and coupling from Zoe, Zoo
//   ms1los   conductor + dielectric attenuation              (Wheeler, Hammerstad-Bekkadal)
//   + the radiation term of the open pair
//
// The full references are in the routines' headers (models/static/
// static_models.h, models/dispersion/dispersion.h, models/loss/loss.h).
//
// Units, once for the whole library: lengths in inches, frequencies in GHz,
// impedances in ohms, coupling in dB as a negative number (-10 = a 10 dB
// coupler, as the reports print it), attenuation in dB per inch (positive =
// loss), resistivity in micro-ohm-cm, roughness in micro-inches.
//
// Example:
//   kx::CoupledLine line;
//   const kx::Section sec{3.66f, 0.020f, 0.25f, 0.0343f, 0.0037f, 0.0014f};
//   const kx::Modes m = line.at(sec, 2.4f);
//   if (!m.valid) { /* m.reasons says which accuracy limit was crossed */ }
#pragma once

#include "common/records.h"
#include "models/selectors.h"

namespace kx {

// The cross-section, inches.
struct Section {
  float er{};  // relative dielectric constant of the substrate
  float h{};   // substrate thickness H
  float h2{};  // top cover height above the substrate surface H2
  float w{};   // strip width W
  float s{};   // gap between the strips S
  float t{};   // strip thickness T
};

// Metal and dielectric losses.
struct Materials {
  float res{};   // conductor resistivity, micro-ohm-cm (copper 1.7; 0 = no conductor loss)
  float sr{};    // RMS surface roughness, micro-inch
  float tlos{};  // dielectric loss tangent (0 = no dielectric loss)
};

// Which accuracy limits a point crosses, in the order of the accuracy
// report (bit set = limit crossed).
enum Reason : unsigned {
  reason_fh = 1u << 0,     // F*H above limits::max_fh
  reason_er = 1u << 1,     // Er above limits::max_er
  reason_cover = 1u << 2,  // Zoo above Zoe (iflag 2): H2/H combined with S/H
  reason_wh = 1u << 3,     // W/H above limits::max_wh
  reason_w = 1u << 4,      // W not above limits::min_w
  reason_sh = 1u << 5,     // S/H above limits::max_sh
  reason_s = 1u << 6,      // S not above limits::min_s
};

// The result of one evaluation.
struct Modes {
  float f{};  // GHz

  // Static (D.C.) values.
  float wte{}, wto{};                        // even/odd effective strip widths, inch
  float eff_c_dc{}, eff_e_dc{}, eff_o_dc{};  // coupler, even, odd effective permittivity
  float zoe_dc{}, zoo_dc{}, zo_dc{};         // ohms
  float coupling_db_dc{};                    // dB, negative

  // Dispersive values at f (equal to the static ones at f = 0).
  float eff_c{}, eff_e{}, eff_o{};
  float zoe{}, zoo{}, zo{};
  float coupling_db{};  // dB, negative; -999.999 when Zoo >= Zoe
  float cc{};           // voltage coupling coefficient (Zoe - Zoo)/(Zoe + Zoo)

  // Attenuation at f, dB per inch, conductor + dielectric + radiation
  // (zero unless Materials were given).
  float loss_e{}, loss_o{};

  // Validity: iflag 0 valid, 1 Zo above the single-strip impedance of the
  // odd-mode width, 2 Zoo above Zoe. reasons lists the accuracy limits the
  // point crosses (may be empty even when the flag is raised).
  int iflag{};
  bool valid{true};
  unsigned reasons{};
};

// The radiation loss of the open pair at f GHz for the even-mode
// permittivity effef and substrate thickness h (inch), dB per inch; the
// runs add half of it to each mode's attenuation.
float radiation_loss(float effef, float h, float f);

// The accuracy limits crossed by the cross-section at f GHz with the given
// validity flag (the tests of the accuracy-violation report, without the
// synthesis-only coupling and impedance tests).
unsigned accuracy_reasons(const Section& sec, float f, int iflag);

// A synthesised cross-section: the W and S that realise the target pair,
// and the modes the models give for them.
struct Synthesis {
  float w{}, s{};                    // inch
  float zoe_target{}, zoo_target{};  // the target pair, ohms
  float zoe{}, zoo{};                // achieved at f, ohms
  float eff_e{}, eff_o{};            // achieved effective permittivities at f
  int iflag{};  // 0 found; otherwise the models' validity flag (or 1: W/H above 11 / no
                // convergence)
  bool valid{true};
  unsigned reasons{};
};

// The four-port response of a coupler of length l between Rs and Rl.
struct Response {
  Modes modes;  // the cross-section at f, with losses
  Lcfa1 ports;  // amplitudes (dB), phases (deg), VSWR, phase error, losses
};

// ---------------------------------------------------------------------------
// The chain underneath, on the caller's records. CoupledLine is written on
// these; the dialogue's runs and the sensitivity and synthesis routines call
// them where they need the chain's working values or records.

// Which modes one evaluation of the chain computes.
enum class ModeSet {
  both,  // even and odd mode and the coupler values
  even,  // the even mode only (iop_single_mode, ieoro_even)
  odd,   // the odd mode only (iop_single_mode, ieoro_odd)
};

// The working values of the chain that carry over from one evaluation to the
// next. A single-mode evaluation updates only its own mode and reads the other
// mode's values as the last evaluation left them (mscuppv reads effe for effc,
// ms1imp reads zoe for its validity tests).
struct ChainValues {
  float wte{}, wto{};            // even/odd effective strip widths, inch (lcwta)
  float effc{}, effe{}, effo{};  // static coupler/even/odd permittivities (mscuppv)
  float zoe{}, zoo{};            // static even/odd impedances, ohms (ms1imp)
};

// Whether an evaluation computes the effective widths (lcwta) or uses the
// ones already in ChainValues (a change of H2 does not enter them).
enum class Widths { compute, keep };

// One evaluation of the chain lcwta -> mscuppv -> ms1imp -> lceff -> lcdis for
// the cross-section `sec` at f GHz (static_frequency: the static values). The
// static values go to `c`; the dispersive ones to rec.lceff1 and rec.lcdis1
// (equal to the static ones at f <= 0); rec.ms1pv, rec.msimp1 and rec.mszo1
// are overwritten on the way. iflag: 0 valid, 1 Zo above the single-strip
// impedance of the odd-mode width, 2 Zoo above Zoe; ms1imp sets it from the
// static values, and lcdis keeps the static values while it is non-zero and
// otherwise tests the dispersive ones.
void evaluate_chain(Records& rec, ChainValues& c, const Section& sec, float f, ModeSet modes,
                    int& iflag, Widths widths = Widths::compute);

// Even/odd attenuation, dB per inch (positive = loss).
struct Attenuation {
  float e{}, o{};
};

// Conductor and dielectric attenuation of `sec` at f GHz (ms1los), with the
// material values converted from the units of Materials. Reads
// rec.lceff1.effef/effof and rec.ms1pv.effoi as the last evaluation left them.
Attenuation line_losses(Records& rec, const Section& sec, const Materials& mat, float f);

// line_losses plus half of radiation_loss(rec.lceff1.effef, sec.h, f) on each
// mode: the attenuation the reports print.
Attenuation total_losses(Records& rec, const Section& sec, const Materials& mat, float f);

// Design centre frequency (GHz) of a coupler of length l (inch): the static
// permittivities of `sec` (lcwta, mscuppv) handed to msfsyn. Leaves the
// dispersive permittivities at that frequency in rec.lceff1.
float centre_frequency(Records& rec, const Section& sec, float l);

// Quarter-wave length (inch) at f GHz from the dispersive coupler
// permittivity effcf: c/(4 f sqrt(effcf)), infinite at f = 0.
float quarter_wave(float effcf, float f);

// Evaluates cross-sections. Owns the model records; no globals, so any
// number of evaluators can run side by side (one per thread).
class CoupledLine {
 public:
  // Static and dispersive modes at f GHz; no losses.
  Modes at(const Section& sec, float f);
  // The same with the attenuation of both modes.
  Modes at(const Section& sec, const Materials& mat, float f);

  // W and S of the pair with coupler impedance zo (ohms) and coupling
  // coupling_db (negative dB) at f GHz (0: from the D.C. impedances); er, h,
  // h2 and t come from `sub`, its w and s are not used.
  Synthesis synthesise(const Section& sub, float zo, float coupling_db, float f);
  // The same for a target even/odd pair.
  Synthesis synthesise_pair(const Section& sub, float zoe, float zoo, float f);

  // Four-port response at f GHz of a coupler of length l (inch) driven from
  // rs and loaded by rl (ohms), with the losses of `mat` and the radiation
  // term.
  Response response(const Section& sec, const Materials& mat, float f, float l, float rs, float rl);

  // Quarter-wave length (inch) of the coupler at f GHz, from its dispersive
  // coupler permittivity (infinite at f = 0).
  float quarter_wave_length(const Section& sec, float f);
  // Design centre frequency (GHz) at which the length l is a quarter of the
  // guided wavelength (step-and-halve search).
  float centre_frequency(const Section& sec, float l);

  // The model records as the last evaluation left them (lceff1, lcdis1 ...).
  Records& records() { return rec_; }

 private:
  Records rec_{};
};

}  // namespace kx
