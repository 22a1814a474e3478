// Single-line dispersion: Kirschning-Jansen effective dielectric constant
// (P1 to P4) and Jansen-Kirschning power-current impedance (R1 to R17).
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/dispersion/dispersion.h"
#include "models/dispersion/width_terms.h"
#include "models/memo.h"

namespace kx {

namespace {
// Terms dropped where they are numerically negligible:
constexpr float kP1WidthCut = 7.0f;     // exp(-8.7513 u) in P1 above it
constexpr float kP3WidthCut = 14.0f;    // P3 = 0 above it ...
constexpr float kP3FnFloor = 0.35f;     // ... and below this normalised frequency
constexpr float kP3FnCut = 75.0f;       // P3's frequency factor is 1 above it
constexpr float kP4ErCut = 25.0f;       // P4 at its limit 3.751 above it
constexpr float kR3WidthCut = 135.0f;   // R3 = 0 above it
constexpr float kR5FnFloor = 0.1f;      // R5 = 0 below it
constexpr float kExpArgCut = 30.0f;     // exp(-x) taken as 0 above it (R7, R8)
constexpr float kR6Cut = 75.0f;         // exp(-R6) negligible above it (R9)
constexpr float kR9Decades = 33.0f;     // R9 factors below 1e-33 ...
constexpr float kR9Decades2 = 30.0f;    // ... or 1e-30: R9 = 0
constexpr float kR11FnFloor = 0.0001f;  // R11 = 0 below it
constexpr float kR16WidthCut = 27.0f;   // R16's width factor is 1 above it

// The terms of Er and the normalised frequency fn alone, in the papers' order.
void er_fn_terms(MszoTerms& k, float er, float fn) {
  // [KJ82] P1 to P4.
  k.p1_u = 0.6315f + 0.525f / ipow<20>(1.0f + 0.0157f * fn);
  k.p2 = 0.33622f * (1.0f - std::exp(-0.03442f * er));
  k.p3_fn = fn <= kP3FnCut ? 1.0f - std::exp(-std::pow(fn / 38.7f, 4.97f)) : 1.0f;
  k.p4 = er > kP4ErCut ? 3.751f : 1.0f + 2.751f * (1.0f - std::exp(-ipow<8>(er / 15.916f)));
  // [JK83] R1 to R17.
  k.r1 = 0.03891f * std::pow(er, 1.4f);
  k.r4 = 0.016f + std::pow(0.0514f * er, 4.524f);
  k.r5 = fn >= kR5FnFloor ? ipow<12>(fn / 28.843f) : 0.0f;
  k.r7_er = k.r1 <= kExpArgCut ? 0.3144f * std::exp(-k.r1) : 0.0f;
  k.r8_er = std::pow(er, 1.674f);
  k.r8_fn = std::pow(fn / 18.365f, 2.745f);
  k.lg_r4r5 = std::log10(k.r4) + std::log10(k.r5);
  k.er1_6 = ipow<6>(er - 1.0f);
  k.r9_den = 1.0f / ((1.0f + 1.2992f * k.r5) * (1.0f + 10.0f * k.er1_6));
  k.lg_r9_den = std::log10(k.r9_den);
  k.r9_r4 = 0.3838f + 0.386f * k.r4;
  const float r10 = 0.00044f * std::pow(er, 2.136f) + 0.0184f;
  float r11 = 0.0f;
  if (fn >= kR11FnFloor) {
    const float x = ipow<6>(fn / 19.47f);
    r11 = x / (1.0f + 0.0962f * x);
  }
  const float r15 = 0.707f * r10 * std::pow(fn / 12.3f, 1.097f);
  k.r16_fn = 0.0503f * sq(er) * r11;
  k.r17_fn = std::exp(-0.026f * std::pow(fn, 1.15656f) - r15);
}
}  // namespace

void mszo(Records& rec, float ef, float er, float f, float h1, float w, float zo) {
  Mszo1& out = rec.mszo1;
  out.eff = ef;
  out.zof = zo;
  if (er == 1.0f || f == 0.0f) return;  // air line, or static

  const float fn = mm_per_inch * f * h1;  // GHz mm
  const float u = w / h1;
  const MszoTerms& k = find_or_compute(
      rec, &ModelMemo::mszo, [&](MszoTerms& t) { er_fn_terms(t, er, fn); }, er, fn);
  const WidthTerms& wt = width_terms(rec, u);

  // Kirschning-Jansen dispersion function P(f) = P1 P2 ((0.1844 + P3 P4) fn)^1.5763.
  const float p1a = 0.27488f + k.p1_u * u;
  const float p1 = u <= kP1WidthCut ? p1a - 0.065683f * wt.p1_exp : p1a;
  const float p2 = k.p2;
  float p3 = 0.0f;
  if (u <= kP3WidthCut && fn >= kP3FnFloor) {
    p3 = fn <= kP3FnCut ? 0.0363f * wt.p3_exp * k.p3_fn : 0.0363f * wt.p3_exp;
  }
  const float p4 = k.p4;
  const float pf = p1 * p2 * std::pow((0.1844f + p3 * p4) * fn, 1.5763f);
  const float eff = er - (er - ef) / (1.0f + pf);
  out.eff = eff;

  // Jansen-Kirschning impedance dispersion R1 to R17.
  const float r2 = 0.267f * ipow<7>(u);
  const float r3 = u <= kR3WidthCut ? wt.r3 : 0.0f;
  const float r4 = k.r4;
  const float r5 = k.r5;
  const float r6 = wt.r6;

  const float r7p = r2 <= kExpArgCut ? 1.0f - wt.exp_r2 : 1.0f;
  const float r7 = 1.206f - k.r7_er * r7p;

  const float tp8 = 0.004625f * r3 * k.r8_er * k.r8_fn;
  const float r8 = tp8 <= kExpArgCut ? 1.0f + 1.275f * (1.0f - std::exp(-tp8)) : 2.275f;

  // R9 = 5.086 R4 R5/(0.3838 + 0.386 R4) exp(-R6)/(1 + 1.2992 R5)
  //      (Er - 1)^6/(1 + 10 (Er - 1)^6), zero where its factors underflow.
  float r9 = 0.0f;
  if (r5 != 0.0f && r6 <= kR6Cut && std::fabs(k.lg_r4r5 + std::log10(wt.exp_r6)) <= kR9Decades) {
    const float tp2 = wt.exp_r6 * k.er1_6;
    r9 = std::fabs(std::log10(tp2) + k.lg_r9_den) > kR9Decades2
             ? 0.0f
             : 5.086f * tp2 * k.r9_den * r4 * r5 / k.r9_r4;
  }

  const float r12 = 1.0f / (1.0f + 0.00245f * sq(u));
  const float r13 = 0.9408f * std::pow(eff, r8) - 0.9603f;
  const float r14 = (0.9408f - r9) * std::pow(ef, r8) - 0.9603f;
  const float r16 = u <= kR16WidthCut ? 1.0f + k.r16_fn * (1.0f - wt.r16_exp) : 1.0f + k.r16_fn;
  const float r17 = r7 * (1.0f - 1.1241f * (r12 / r16) * k.r17_fn);

  out.zof = zo * std::pow(r13 / r14, r17);
}

}  // namespace kx
