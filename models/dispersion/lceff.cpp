// Coupled-line permittivity dispersion: Kirschning-Jansen dispersion of the
// even mode (P1 to P7) and of the odd mode (P8 to P15).
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/dispersion/dispersion.h"
#include "models/dispersion/width_terms.h"
#include "models/memo.h"

namespace kx {

namespace {
// Terms dropped where they are numerically negligible:
constexpr float kP3FnCut = 73.0f;     // P3's frequency factor is 1 above it
constexpr float kP1WidthCut = 8.0f;   // exp(-8.7513 u) in P1 above it
constexpr float kP3WidthCut = 15.0f;  // P3 = 0 from it on
constexpr float kP7GapCut = 10.6f;    // P7 = 1 above it
constexpr float kP9FnCut = 181.0f;    // P9's frequency factor is 1 above it
constexpr float kP11FnCut = 68.0f;    // exp(-0.3401 fn) in P11 above it
constexpr float kP14FnCut = 70.0f;    // P14 = 1 above it

// Kirschning-Jansen single-line P1 at the strip ratio u (p1_u its
// coefficient of u, w the terms of u).
float kj_p1(float p1_u, float u, const WidthTerms& w) {
  const float p1 = 0.27488f + p1_u * u;
  return u <= kP1WidthCut ? p1 - 0.065683f * w.p1_exp : p1;
}

// Kirschning-Jansen single-line P3 at the strip ratio u (p3_fn its frequency factor).
float kj_p3(float p3_fn, float u, const WidthTerms& w) {
  return u < kP3WidthCut ? 0.0363f * p3_fn * w.p3_exp : 0.0f;
}

// The terms of Er and the normalised frequency fn alone, P1 to P14 in order ...
void er_fn_terms(LceffTerms& k, float er, float fn) {
  k.p1_u = 0.6315f + 0.525f / ipow<20>(1.0f + 0.0157f * fn);
  k.p2 = 0.33622f * (1.0f - std::exp(-0.03442f * er));
  k.p3_fn = fn <= kP3FnCut ? 1.0f - std::exp(-std::pow(fn / 38.7f, 4.97f)) : 1.0f;
  k.p4 = 1.0f + 2.751f * (1.0f - std::exp(-ipow<8>(er / 15.916f)));
  const float p5 = 0.334f * std::exp(-3.3f * ipow<3>(er / 15.0f)) + 0.746f;
  k.p6 = p5 * std::exp(-std::pow(fn / 18.0f, 0.368f));
  const float p8 = 0.7168f * (1.0f + 1.076f / (1.0f + 0.0576f * (er - 1.0f)));
  const float tp = fn <= kP9FnCut ? 1.0f - std::exp(-std::pow(fn / 20.0f, 1.424f)) : 1.0f;
  k.p9 = p8 - 0.7913f * tp * std::atan(2.481f * std::pow(er / 8.0f, 0.946f));
  const float p10 = 0.242f * std::pow(er - 1.0f, 0.55f);
  k.p11_fn = fn <= kP11FnCut ? 0.6366f * (std::exp(-0.3401f * fn) - 1.0f) : -0.6366f;
  k.p13 = 1.695f * p10 / (0.414f + 1.605f * p10);
  k.p14 = fn <= kP14FnCut
              ? 0.8928f + 0.1072f * (1.0f - std::exp(-0.42f * std::pow(fn / 20.0f, 3.215f)))
              : 1.0f;
}

// ... and those of the gap ratio g too: P7, and exp(-P13 g^1.092) of P15.
void gap_terms(LceffGapTerms& t, const LceffTerms& k, float g) {
  t.p7 = g <= kP7GapCut
             ? 1.0f + 4.069f * k.p6 * std::pow(g, 0.479f) *
                          std::exp(-1.347f * std::pow(g, 0.595f) - 0.17f * std::pow(g, 2.5f))
             : 1.0f;
  t.p15_g = std::exp(-k.p13 * std::pow(g, 1.092f));
}
}  // namespace

void lceff(Records& rec, float effc, float effe, float effo, float er, float f, float h, int ieoro,
           int iop, float s, float wte, float wto) {
  Lceff1& out = rec.lceff1;
  out.effcf = effc;
  out.effef = effe;
  out.effof = effo;
  if (f <= 0.0f) return;

  const float fn = mm_per_inch * f * h;  // GHz mm
  const float g = s / h;
  const LceffTerms& k = find_or_compute(
      rec, &ModelMemo::lceff, [&](LceffTerms& t) { er_fn_terms(t, er, fn); }, er, fn);
  const LceffGapTerms& kg = find_or_compute(
      rec, &ModelMemo::lceff_gap, [&](LceffGapTerms& t) { gap_terms(t, k, g); }, er, fn, g);

  if (!(iop == iop_single_mode && ieoro == ieoro_odd)) {
    // Even mode: Fe = P1 P2 ((P3 P4 + 0.1844 P7) fn)^1.5763 at the width wte.
    const float ue = wte / h;
    const WidthTerms& we = width_terms(rec, ue);
    const float p1e = kj_p1(k.p1_u, ue, we);
    const float p3e = kj_p3(k.p3_fn, ue, we);
    const float fe = p1e * k.p2 * std::pow((p3e * k.p4 + 0.1844f * kg.p7) * fn, 1.5763f);
    out.effef = er - (er - effe) / (1.0f + fe);
    if (iop == iop_single_mode) return;
  }

  // Odd mode: Fo = P1 P2 ((P3 P4 + 0.1844) fn P15)^1.5763 at the width wto.
  const float uodd = wto / h;  // u_o, the odd-mode width ratio
  const WidthTerms& wo = width_terms(rec, uodd);
  const float p1o = kj_p1(k.p1_u, uodd, wo);
  const float p3o = kj_p3(k.p3_fn, uodd, wo);
  const float p11 = k.p11_fn * std::atan(1.263f * std::pow(uodd / 3.0f, 1.629f));
  const float p12 = k.p9 + (1.0f - k.p9) / (1.0f + 1.183f * std::pow(uodd, 1.376f));
  const float p15 = std::fabs(1.0f - 0.8928f * (1.0f + p11) * p12 * kg.p15_g / k.p14);
  const float fo = p1o * k.p2 * std::pow((p3o * k.p4 + 0.1844f) * fn * p15, 1.5763f);
  out.effof = er - (er - effo) / (1.0f + fo);
  if (iop == iop_single_mode) return;

  out.effcf = 2.0f * out.effef * out.effof / (out.effef + out.effof);
}

}  // namespace kx
