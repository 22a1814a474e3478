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

#include <kestrelix/section.h>

#include "common/records.h"

namespace kx {

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
