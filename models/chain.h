// The evaluation chain of one covered edge-coupled cross-section on the
// caller's records, in its binding order:
//
//   lcwta    effective widths of the thick strips            (Jansen)
//   mscuppv  static even/odd effective permittivities        (Kirschning-Jansen)
//   ms1imp   static Zoe, Zoo and the validity flag           (Kirschning-Jansen)
//   lceff    dispersive even/odd permittivities at f         (Kirschning-Jansen)
//   lcdis    dispersive Zoe, Zoo at f, validity re-tested    (Kirschning-Jansen)
//   ms1los   conductor + dielectric attenuation              (Wheeler, Hammerstad-Bekkadal)
//   + the radiation term of the open pair
//
// Each routine leaves its results in a record that the next one reads, so
// the records and the working values below carry from one call to the next.
// This layer is what the sensitivity (ms1sen), the synthesis (msws) and the
// library's front door (kestrelix/coupled_line.h) share; it sits below them
// and above the line models. Lengths in inches, f in GHz.
#pragma once

#include <kestrelix/section.h>

#include "common/records.h"
#include "models/memo.h"

namespace kx {

// The cross-section as the closed forms take it: an open one (H2 infinite)
// gets its cover at limits::no_cover_h2h substrate heights; any other is
// returned as it is.
Section closed_section(const Section& sec);

// Which modes one evaluation of the chain computes.
enum class ModeSet {
  both,  // even and odd mode and the coupler values
  even,  // the even mode only (iop_single_mode, ieoro_even)
  odd,   // the odd mode only (iop_single_mode, ieoro_odd)
};

// The static working values of the chain as the last evaluation left them.
// A single-mode evaluation updates only its own mode and reads the other
// mode's values from here (mscuppv reads effe for effc, ms1imp reads zoe for
// its validity tests), so whoever runs single-mode evaluations keeps one
// instance across them.
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
// static values go to `last`; the dispersive ones to rec.lceff1 and
// rec.lcdis1 (equal to the static ones at f <= 0); rec.ms1pv, rec.msimp1 and
// rec.mszo1 are overwritten on the way. iflag: 0 valid, 1 Zo above the
// single-strip impedance of the odd-mode width, 2 Zoo above Zoe; ms1imp sets
// it from the static values, and lcdis keeps the static values while it is
// non-zero and otherwise tests the dispersive ones.
void evaluate_chain(Records& rec, ChainValues& last, const Section& sec, float f, ModeSet modes,
                    int& iflag, Widths widths = Widths::compute);

// The dispersion of the chain, lceff -> lcdis, applied to static values from
// elsewhere (a field solution): `statics` holds effc, effe, effo, zoe and
// zoo; the effective widths wte and wto that the dispersion formulas read are
// lcwta's for `sec` (written to `statics`). The dispersive values go to
// rec.lceff1 and rec.lcdis1 (the static ones at f <= 0); iflag is lcdis's
// validity test on them (enter 0: lcdis keeps the static values while it is
// non-zero).
void disperse_statics(Records& rec, ChainValues& statics, const Section& sec, float f, int& iflag);

// Conductor and dielectric attenuation of `sec` at f GHz (ms1los), with the
// material values converted from the units of Materials. The losses are
// formed with the permittivities of the last evaluation: rec.lceff1.effef and
// effof as lceff left them (at whatever frequency that was) and
// rec.ms1pv.effoi as mscuppv left it.
Attenuation line_losses(Records& rec, const Section& sec, const Materials& mat, float f);

// The radiation loss of the open pair at f GHz for the even-mode
// permittivity effef and substrate thickness h (inch), dB per inch; the
// reports add half of it to each mode's attenuation.
float radiation_loss(float effef, float h, float f);

// line_losses plus half of radiation_loss(rec.lceff1.effef, sec.h, f) on each
// mode: the attenuation the reports print.
Attenuation total_losses(Records& rec, const Section& sec, const Materials& mat, float f);

// Design centre frequency (GHz) of a coupler of length l (inch): the static
// permittivities of `sec` (lcwta, mscuppv) handed to msfsyn. Leaves the
// dispersive permittivities at that frequency in rec.lceff1.
float centre_frequency(Records& rec, const Section& sec, float l);
// The same from given static permittivities (statics.effc, effe, effo) and
// effective widths (statics.wte, wto).
float centre_frequency(Records& rec, const ChainValues& statics, const Section& sec, float l);

// One evaluator's working state: the records, as the last routine left them,
// and the models' kept terms, which the records lend to the routines.
// kx::CoupledLine owns one. A copy starts with no kept terms.
struct ChainContext {
  ChainContext() { rec.memo.bind(&memo); }
  ChainContext(const ChainContext& other) : rec(other.rec) { rec.memo.bind(&memo); }
  ChainContext& operator=(const ChainContext& other) {
    rec = other.rec;  // the link stays this context's own
    return *this;
  }

  Records rec;
  ModelMemo memo;
};

}  // namespace kx
