// Coupled-line permittivity dispersion: Kirschning-Jansen dispersion of the
// even mode (P1 to P7) and of the odd mode (P8 to P15).
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/dispersion/dispersion.h"
#include "models/dispersion/strip_terms.h"

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

// Kirschning-Jansen single-line P1 at the strip ratio u (c1 its frequency
// term, st the terms of u).
float kj_p1(float c1, float u, const StripTerms& st) {
  const float p1 = 0.27488f + c1 * u;
  return u <= kP1WidthCut ? p1 - 0.065683f * st.e8 : p1;
}

// Kirschning-Jansen single-line P3 at the strip ratio u (p3 its frequency factor).
float kj_p3(float p3, float u, const StripTerms& st) {
  return u < kP3WidthCut ? 0.0363f * p3 * st.e46 : 0.0f;
}

// The terms of Er and the normalised frequency fn alone ...
const LceffTerms& lceff_terms(ModelMemo& memo, float er, float fn) {
  const auto key = memo.lceff.key(er, fn);
  if (const LceffTerms* kept = memo.lceff.find(key)) return *kept;
  LceffTerms& k = memo.lceff.put(key);
  k.c1 = 0.6315f + 0.525f / ipow<20>(1.0f + 0.0157f * fn);
  k.p2 = 0.33622f * (1.0f - std::exp(-0.03442f * er));
  k.p3 = fn <= kP3FnCut ? 1.0f - std::exp(-std::pow(fn / 38.7f, 4.97f)) : 1.0f;
  k.p4 = 1.0f + 2.751f * (1.0f - std::exp(-ipow<8>(er / 15.916f)));
  const float p5 = 0.334f * std::exp(-3.3f * ipow<3>(er / 15.0f)) + 0.746f;
  k.p6 = p5 * std::exp(-std::pow(fn / 18.0f, 0.368f));
  const float p8 = 0.7168f * (1.0f + 1.076f / (1.0f + 0.0576f * (er - 1.0f)));
  const float tp = fn <= kP9FnCut ? 1.0f - std::exp(-std::pow(fn / 20.0f, 1.424f)) : 1.0f;
  k.p9 = p8 - 0.7913f * tp * std::atan(2.481f * std::pow(er / 8.0f, 0.946f));
  const float p10 = 0.242f * std::pow(er - 1.0f, 0.55f);
  k.p11f = fn <= kP11FnCut ? 0.6366f * (std::exp(-0.3401f * fn) - 1.0f) : -0.6366f;
  k.p13 = 1.695f * p10 / (0.414f + 1.605f * p10);
  k.p14 = fn <= kP14FnCut
              ? 0.8928f + 0.1072f * (1.0f - std::exp(-0.42f * std::pow(fn / 20.0f, 3.215f)))
              : 1.0f;
  return k;
}

// ... and those of the gap ratio g too (p7, and exp(-P13 g^1.092) of P15).
const LceffGapTerms& lceff_gap_terms(ModelMemo& memo, const LceffTerms& k, float er, float fn,
                                     float g) {
  const auto key = memo.lceff_gap.key(er, fn, g);
  if (const LceffGapTerms* kept = memo.lceff_gap.find(key)) return *kept;
  LceffGapTerms& t = memo.lceff_gap.put(key);
  t.p7 = g <= kP7GapCut
             ? 1.0f + 4.069f * k.p6 * std::pow(g, 0.479f) *
                          std::exp(-1.347f * std::pow(g, 0.595f) - 0.17f * std::pow(g, 2.5f))
             : 1.0f;
  t.e15 = std::exp(-k.p13 * std::pow(g, 1.092f));
  return t;
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
  const LceffTerms& k = lceff_terms(rec.memo, er, fn);
  const LceffGapTerms& kg = lceff_gap_terms(rec.memo, k, er, fn, g);
  const float p2 = k.p2;
  const float p3 = k.p3;
  const float p4 = k.p4;

  if (!(iop == 3 && ieoro == 2)) {
    // Even mode: single-line terms at wte and the coupling term P7.
    const float ue = wte / h;
    const StripTerms& ste = strip_terms(rec.memo, ue);
    const float p1e = kj_p1(k.c1, ue, ste);
    const float p3e = kj_p3(p3, ue, ste);
    const float p7 = kg.p7;
    const float fe = p1e * p2 * std::pow((p3e * p4 + 0.1844f * p7) * fn, 1.5763f);
    out.effef = er - (er - effe) / (1.0f + fe);
    if (iop == 3) return;
  }

  // Odd mode: single-line terms at wto and the factor P15.
  const float uodd = wto / h;  // u_o, the odd-mode width ratio
  const StripTerms& sto = strip_terms(rec.memo, uodd);
  const float p1o = kj_p1(k.c1, uodd, sto);
  const float p3o = kj_p3(p3, uodd, sto);
  const float p11 = k.p11f * std::atan(1.263f * std::pow(uodd / 3.0f, 1.629f));
  const float p12 = k.p9 + (1.0f - k.p9) / (1.0f + 1.183f * std::pow(uodd, 1.376f));
  const float p15 = std::fabs(1.0f - 0.8928f * (1.0f + p11) * p12 * kg.e15 / k.p14);
  const float fo = p1o * p2 * std::pow((p3o * p4 + 0.1844f) * fn * p15, 1.5763f);
  out.effof = er - (er - effo) / (1.0f + fo);
  if (iop == 3) return;

  out.effcf = 2.0f * out.effef * out.effof / (out.effef + out.effof);
}

}  // namespace kx
