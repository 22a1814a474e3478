// Quasi-static models of the covered single microstrip and of the covered
// edge-coupled pair. Inputs are passed by value, outputs by reference; the
// results that have a record go to `rec`.
//
// Units throughout: lengths in any one unit (the program uses inches; only
// ratios enter), impedances in ohms, permittivities relative. ieoro and iop
// take the named values of models/selectors.h.
//
// References:
//   [HJ80] E. Hammerstad, O. Jensen, "Accurate models for microstrip
//          computer-aided design", IEEE MTT-S Int. Microwave Symp. Digest, 1980.
//   [BG77] I. J. Bahl, R. Garg, "Simple and accurate formulas for a microstrip
//          with finite strip thickness", Proc. IEEE 65, 1977.
//   [J78]  R. H. Jansen, "High-speed computation of single and coupled
//          microstrip parameters including dispersion, high-order modes, loss
//          and finite strip thickness", IEEE Trans. MTT-26, 1978.
//   [KJ84] M. Kirschning, R. H. Jansen, "Accurate wide-range design equations
//          for the frequency-dependent characteristic of parallel coupled
//          microstrip lines", IEEE Trans. MTT-32, no. 1, 1984.
#pragma once

#include "common/records.h"
#include "models/selectors.h"

namespace kx {

// Covered single microstrip: [HJ80] zero-thickness line with its top-cover
// corrections, [BG77] effective width for the strip thickness.
// er relative dielectric constant, h1 substrate thickness, h2 cover height
// above the substrate, t strip thickness, w strip width.
// Writes rec.msimp1 (ef, u = w/h1, weff, zo and the air-filled zoa, ohms);
// reads nothing from an earlier call.
void msimp(Records& rec, float er, float h1, float h2, float t, float w);

// Effective zero-thickness widths of thick coupled strips: [J78] coupled-line
// thickness correction on the [BG77] width increment. er relative dielectric
// constant (1 for the air-filled pair of ms1los), h substrate thickness, s gap,
// t strip thickness, w strip width; wte, wto the even/odd effective widths,
// in the unit of w. No record.
void lcwta(float er, float h, float s, float t, float w, float& wte, float& wto);

// Static even/odd effective permittivities of the covered pair: [KJ84] static
// coupled-line formulas (with the [HJ80] exponents a(v), b(er)) and this
// system's cover factors and even-mode thickness term. er, t, h, h2, s as
// above; wte, wto the effective widths of lcwta. Outputs effe, effo and the
// coupler permittivity effc = 2 effe effo/(effe + effo).
// With iop_single_mode only the mode named by ieoro is computed; an odd-only
// evaluation reads effe on entry for effc, an even-only one leaves effo and
// effc alone.
// Writes rec.ms1pv (effei; effoi, which the next ms1imp reads) and, through
// msimp for the odd-mode width, rec.msimp1 (its member u is a working
// variable here).
void mscuppv(Records& rec, float& effc, float& effe, float& effo, float er, float t, float h,
             float h2, int ieoro, int iop, float s, float wte, float wto);

// Static even/odd impedances of the covered pair and the validity flag:
// [KJ84] Q1 to Q10 on the single-line results of msimp (even mode on the
// covered strip of width wte with this system's cover reduction, odd mode on
// the uncovered strip of width wto). effe is the even-mode permittivity of
// mscuppv; effo is not read: the odd mode reads the uncovered effoi that the
// last mscuppv left in rec.ms1pv (also in the air-filled evaluations of
// ms1los, which run no mscuppv of their own).
// iflag is cleared on entry and set to 2 when Zoo > Zoe and to 1 when
// sqrt(Zoe Zoo) exceeds the odd-width single strip's impedance (by more than
// 5 % above 20 ohms). With iop_single_mode only the mode named by ieoro is
// computed: an odd-only evaluation reads zoe on entry for its validity tests,
// an even-only one leaves zoo alone and sets no flag.
// Writes rec.msimp1 through msimp.
void ms1imp(Records& rec, float effe, float effo, float er, float h, float h2, int ieoro,
            int& iflag, int iop, float s, float wte, float wto, float& zoe, float& zoo);

// Ideal TEM coupled-line relations Zo = sqrt(Zoe Zoo),
// C = (Zoe - Zoo)/(Zoe + Zoo). m = sl1zo_coupling_from_pair: zo, the voltage
// coupling factor cc and ko = 20 log10(cc) dB (-999.999 when Zoo >= Zoe)
// from zoe, zoo. Any other m (sl1zo_pair_from_coupling): cc = 10^(ko/20)
// from the coupling ko in negative dB, then zoe, zoo from zo. No record.
void sl1zo(float& cc, float& ko, int m, float& zo, float& zoe, float& zoo);

}  // namespace kx
