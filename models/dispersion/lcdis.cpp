// Coupled-line impedance dispersion: Kirschning-Jansen even mode (exponent Ce
// from Q11 to Q21 with d_e, p_e, q_e, r_e and the single-line exponent Q0) and
// odd mode (Q22 to Q29 around the dispersive single-line impedance), with the
// validity tests of the static model repeated on the dispersive values.
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/dispersion/dispersion.h"
#include "models/dispersion/width_terms.h"
#include "models/memo.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
// Terms dropped where they are numerically negligible:
constexpr float kQ12GapCut = 24.0f;    // Q12 = 0 above it
constexpr float kQ17FnCut = 50.0f;     // Q17's frequency factor is 1 above it
constexpr float kDeExpFloor = -75.0f;  // d_e = 0 when its exponent is below it
constexpr float kDeDecades = 30.0f;    // d_e = 0 when its factors are below 1e-30
constexpr float kCeExpFloor = -24.0f;  // exponent of Ce raised to it
constexpr float kR7ExpCut = 25.0f;     // exp(-R1), exp(-R2) in R7 negligible above it
// Single-strip impedance above which the validity test allows 5 % margin.
constexpr float kMarginZo = 20.0f;

// The terms of Er and the normalised frequency fn alone, in the paper's order.
void er_fn_terms(LcdisTerms& k, float er, float fn) {
  // Even mode.
  k.q11 = 0.893f * (1.0f - 0.3f / (1.0f + 0.7f * (er - 1.0f)));
  k.q12_fn = std::pow(fn / 20.0f, 4.91f);
  k.q13 = 1.0f + 0.038f * std::pow(er / 8.0f, 5.1f);
  const float tp14 = ipow<4>(er / 15.0f);
  k.q14 = 1.0f + 1.203f * tp14 / (1.0f + tp14);
  k.q15_fn = 0.41f * ipow<3>(fn / 15.0f);
  k.q16_er = 1.0f + 9.0f / (1.0f + 0.403f * sq(er - 1.0f));
  k.q17_fn = fn <= kQ17FnCut ? 1.0f - std::exp(-4.25f * std::pow(fn / 20.0f, 1.87f)) : 1.0f;
  k.q19_fn = 1.0f + ipow<3>(fn / 24.0f);
  k.q20_er = 0.09f + 1.0f / (1.0f + 0.1f * std::pow(er - 1.0f, 2.7f));
  k.re = ipow<12>(fn / 28.843f);
  k.lg_re = std::log10(k.re);
  k.er1_6 = ipow<6>(er - 1.0f);
  k.de_er = 1.0f + 10.0f * ipow<6>(er - 1.0f);
  k.de_re = 1.0f + 1.2992f * k.re;
  k.ce_er = std::pow(er, 1.674f);
  k.ce_fn = std::pow(fn / 18.365f, 2.745f);
  // Q0: the single-line R1, R7, R10, R11, R15, R16 and R17 terms.
  k.r1 = 0.03891f * std::pow(er, 1.4f);
  k.r7_er = 0.3144f * std::exp(-k.r1);
  const float r10 = 0.00044f * std::pow(er, 2.136f) + 0.0184f;
  const float x = ipow<6>(fn / 19.47f);
  const float r11 = x / (1.0f + 0.0962f * x);
  const float r15 = 0.707f * r10 * std::pow(fn / 12.3f, 1.097f);
  k.r16_fn = 0.0503f * sq(er) * r11;
  k.r17_fn = std::exp(-0.026f * std::pow(fn, 1.15656f) - r15);
  // Odd mode: Q22 to Q29 (Q28, Q29 and Q26 enter through Q24 and Q22).
  const float q29 = 15.16f / (1.0f + 0.196f * sq(er - 1.0f));
  const float q28 = 0.149f * ipow<3>(er - 1.0f) / (94.5f + 0.038f * ipow<3>(er - 1.0f));
  k.q27_er = 1.0f + 2.5f * std::pow(er - 1.0f, 1.5f) / (5.0f + std::pow(er - 1.0f, 1.5f));
  const float tp26 = ipow<12>((er - 1.0f) / 13.0f);
  const float q26 = 30.0f - 22.2f * tp26 / (1.0f + 3.0f * tp26) - q29;
  k.q25 = (0.3f * sq(fn) / (10.0f + sq(fn))) *
          (1.0f + 2.333f * sq(er - 1.0f) / (5.0f + sq(er - 1.0f)));
  k.q24_er = 2.506f * q28;
  k.q23_fn = 1.0f + 0.812f * std::pow(fn / 15.0f, 1.9f);
  k.q22 = 0.925f * std::pow(fn / q26, 1.536f) / (1.0f + 0.3f * std::pow(fn / 30.0f, 1.536f));
}

// ... and those of the gap ratio g too.
void gap_terms(LcdisGapTerms& t, const LcdisTerms& k, float g) {
  t.q12 = 0.0f;
  if (g <= kQ12GapCut) {
    const float tp = k.q12_fn;
    t.q12 = 2.121f * (tp / (1.0f + k.q11 * tp)) * std::exp(-2.87f * g) * std::pow(g, 0.902f);
  }
  const float pg84 = std::pow(g, 0.84f);
  t.q15_g = 1.887f * std::exp(-1.5f * pg84) * std::pow(g, k.q14);
  t.q18_g = 1.0f + 6.544f * std::pow(g, 4.17f);
  t.q19_num = 0.21f * ipow<4>(g);
  t.q19_g = 1.0f + 0.18f * std::pow(g, 4.9f);
  t.q21_g = 42.54f * std::pow(g, 0.133f) * std::exp(-0.812f * g);
  t.q27 = 0.4f * pg84 * k.q27_er;
  t.zoo_g = std::pow(0.46f * g, 2.2f);
}
}  // namespace

void lcdis(Records& rec, float effo, float effof, float er, float f, float h, float h2, int ieoro,
           int& iflag, int iop, float s, float wte, float wto, float zoedc, float zoodc) {
  Lcdis1& out = rec.lcdis1;
  out.zoef = zoedc;
  out.zoof = zoodc;
  if (f <= 0.0f || iflag != 0) return;

  const float fn = mm_per_inch * f * h;  // GHz mm
  const float g = s / h;
  const bool even = !(iop == iop_single_mode && ieoro == ieoro_odd);
  const LcdisTerms& k = find_or_compute(
      rec, &ModelMemo::lcdis, [&](LcdisTerms& t) { er_fn_terms(t, er, fn); }, er, fn);
  const LcdisGapTerms& kg = find_or_compute(
      rec, &ModelMemo::lcdis_gap, [&](LcdisGapTerms& t) { gap_terms(t, k, g); }, er, fn, g);

  if (even) {
    // Covered single strip of width wte, static and at f.
    msimp(rec, er, h, h2, 0.0f, wte);
    mszo(rec, rec.msimp1.ef, er, f, h, wte, rec.msimp1.zo);
    const float ef = rec.msimp1.ef;
    const float eff = rec.mszo1.eff;
    const float ue = wte / h;
    const WidthTerms& w = width_terms(rec, ue);

    // Even-mode coupling terms Q11 to Q21.
    const float q12 = kg.q12;
    const float q15 = kg.q15_g / (1.0f + k.q15_fn * std::pow(ue, 2.0f / k.q13) /
                                             (0.125f + std::pow(ue, 1.626f / k.q13)));
    const float q16 = q15 * k.q16_er;
    const float q17 = 0.394f * (1.0f - std::exp(-1.47f * std::pow(ue / 7.0f, 0.672f))) * k.q17_fn;
    const float q18 = 0.61f * (1.0f - std::exp(-2.13f * std::pow(ue / 8.0f, 1.593f))) / kg.q18_g;
    const float q19 = kg.q19_num / (k.q19_fn * (1.0f + 0.1f * sq(ue)) * kg.q19_g);
    const float q20 = q19 * k.q20_er;
    const float pue25 = std::pow(ue, 2.5f);
    const float q21 = std::fabs(1.0f - kg.q21_g * pue25 / (1.0f + 0.033f * pue25));

    // r_e, q_e, p_e and d_e, the coupled-line counterpart of the single-line R9:
    // d_e = 5.086 q_e r_e/(0.3838 + 0.386 q_e) exp(-22.2 u^1.92)/(1 + 1.2992 r_e)
    //       (Er - 1)^6/(1 + 10 (Er - 1)^6), zero where its factors underflow.
    const float re = k.re;
    const float qe = 0.016f + std::pow(0.0514f * er * q21, 4.524f);
    const float pe = w.r3;
    const float tpd = -w.r6;
    float de = 0.0f;
    if (tpd >= kDeExpFloor) {
      const float dp = 5.086f * qe * k.er1_6 / k.de_er * w.exp_r6 / k.de_re;
      const float t = 1.0f / (0.3838f + 0.386f * qe);
      de = std::fabs(std::log10(dp) + k.lg_re + std::log10(t)) <= kDeDecades ? dp * re * t : 0.0f;
    }

    // The exponent Ce.
    const float c0 = -0.004625f * pe * k.ce_er * k.ce_fn;
    const float c = c0 < kCeExpFloor ? kCeExpFloor : c0;
    const float ce = 1.0f + 1.275f * (1.0f - std::exp(c)) - q12 + q16 - q17 + q18 + q20;

    // Exponent Q0: the single-line R17 at ue, with this routine's thresholds.
    float r7 = 1.206f;
    if (k.r1 <= kR7ExpCut) {
      const float r2 = 0.267f * ipow<7>(ue);
      const float r7p = r2 > kR7ExpCut ? 1.0f : 1.0f - w.exp_r2;
      r7 = 1.206f - k.r7_er * r7p;
    }
    const float r12 = 1.0f / (1.0f + 0.00245f * sq(ue));
    const float r16 = 1.0f + k.r16_fn * (1.0f - w.r16_exp);
    const float q0 = r7 * (1.0f - 1.1241f * (r12 / r16) * k.r17_fn);

    out.zoef = zoedc * std::pow((0.9408f * std::pow(eff, ce) - 0.9603f) /
                                    ((0.9408f - de) * std::pow(ef, ce) - 0.9603f),
                                q0);
    if (iop == iop_single_mode) return;
  }

  // Odd mode: covered single strip of width wto at f (the even mode's strip
  // when the two widths are equal).
  if (!(even && wte == wto)) {
    msimp(rec, er, h, h2, 0.0f, wto);
    mszo(rec, rec.msimp1.ef, er, f, h, wto, rec.msimp1.zo);
  }
  const float zof = rec.mszo1.zof;
  const float uodd = wto / h;  // u_o, the odd-mode width ratio

  // Odd-mode terms Q22 to Q27.
  const float q22 = k.q22;
  const float q23 = 1.0f + 0.005f * fn * kg.q27 / (k.q23_fn * (1.0f + 0.025f * sq(uodd)));
  const float pu894 = std::pow(uodd, 0.894f);
  const float q24 = k.q24_er * pu894 * std::pow((1.0f + 1.3f * uodd) * fn / 99.25f, 4.29f) /
                    (3.575f + pu894);
  const float q25 = k.q25;

  out.zoof = zof +
             (zoodc * std::pow(effof / effo, q22) - zof * q23) / (1.0f + q24 + kg.zoo_g * q25);

  // Validity tests of the static model, on the dispersive values.
  if (out.zoof > out.zoef) iflag = 2;
  const float temp = std::sqrt(out.zoef * out.zoof);
  const float temp1 = zof > kMarginZo ? 1.05f * zof : zof;
  if (temp > temp1) iflag = 1;
}

}  // namespace kx
