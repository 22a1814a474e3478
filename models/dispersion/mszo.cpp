// Single-line dispersion: Kirschning-Jansen effective dielectric constant
// (P1 to P4) and Jansen-Kirschning power-current impedance (R1 to R17).
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/dispersion/dispersion.h"
#include "models/dispersion/strip_terms.h"

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
}  // namespace

// The terms of Er and the normalised frequency fn alone, formed once per pair.
const MszoTerms& mszo_terms(ModelMemo& memo, float er, float fn) {
  const auto key = memo.mszo.key(er, fn);
  if (const MszoTerms* kept = memo.mszo.find(key)) return *kept;
  MszoTerms& k = memo.mszo.put(key);
  k.c1 = 0.6315f + 0.525f / ipow<20>(1.0f + 0.0157f * fn);
  k.p2 = 0.33622f * (1.0f - std::exp(-0.03442f * er));
  k.p3f = fn <= kP3FnCut ? 1.0f - std::exp(-std::pow(fn / 38.7f, 4.97f)) : 1.0f;
  k.p4 = er > kP4ErCut ? 3.751f : 1.0f + 2.751f * (1.0f - std::exp(-ipow<8>(er / 15.916f)));
  k.r1 = 0.03891f * std::pow(er, 1.4f);
  k.tp7 = k.r1 <= kExpArgCut ? 0.3144f * std::exp(-k.r1) : 0.0f;
  k.r4 = 0.016f + std::pow(0.0514f * er, 4.524f);
  k.r5 = fn >= kR5FnFloor ? ipow<12>(fn / 28.843f) : 0.0f;
  k.per = std::pow(er, 1.674f);
  k.pfn = std::pow(fn / 18.365f, 2.745f);
  k.lg45 = std::log10(k.r4) + std::log10(k.r5);
  k.tp1 = ipow<6>(er - 1.0f);
  k.r9a = 1.0f / ((1.0f + 1.2992f * k.r5) * (1.0f + 10.0f * k.tp1));
  k.lg9a = std::log10(k.r9a);
  k.r9d = 0.3838f + 0.386f * k.r4;
  const float r10 = 0.00044f * std::pow(er, 2.136f) + 0.0184f;
  float r11 = 0.0f;
  if (fn >= kR11FnFloor) {
    const float x = ipow<6>(fn / 19.47f);
    r11 = x / (1.0f + 0.0962f * x);
  }
  const float r15 = 0.707f * r10 * std::pow(fn / 12.3f, 1.097f);
  k.k16 = 0.0503f * sq(er) * r11;
  k.e17 = std::exp(-0.026f * std::pow(fn, 1.15656f) - r15);
  return k;
}

void mszo(Records& rec, float ef, float er, float f, float h1, float w, float zo) {
  Mszo1& out = rec.mszo1;
  out.eff = ef;
  out.zof = zo;
  if (er == 1.0f || f == 0.0f) return;  // air line, or static

  const float fn = mm_per_inch * f * h1;  // GHz mm
  const float u = w / h1;
  const MszoTerms& k = mszo_terms(rec.memo, er, fn);
  const StripTerms& st = strip_terms(rec.memo, u);

  // Kirschning-Jansen dispersion function P(f).
  const float p1a = 0.27488f + k.c1 * u;
  const float p1 = u <= kP1WidthCut ? p1a - 0.065683f * st.e8 : p1a;
  const float p2 = k.p2;
  float p3 = 0.0f;
  if (u <= kP3WidthCut && fn >= kP3FnFloor) {
    p3 = fn <= kP3FnCut ? 0.0363f * st.e46 * k.p3f : 0.0363f * st.e46;
  }
  const float p4 = k.p4;
  const float pf = p1 * p2 * std::pow((0.1844f + p3 * p4) * fn, 1.5763f);
  const float eff = er - (er - ef) / (1.0f + pf);
  out.eff = eff;

  // Jansen-Kirschning impedance dispersion R1 to R17.
  const float r2 = 0.267f * ipow<7>(u);
  const float r3 = u <= kR3WidthCut ? st.r3 : 0.0f;
  const float r4 = k.r4;
  const float r5 = k.r5;
  const float r6 = 22.2f * st.p192;

  const float r7p = r2 <= kExpArgCut ? 1.0f - st.er2 : 1.0f;
  const float r7 = 1.206f - k.tp7 * r7p;

  const float tp8 = 0.004625f * r3 * k.per * k.pfn;
  const float r8 = tp8 <= kExpArgCut ? 1.0f + 1.275f * (1.0f - std::exp(-tp8)) : 2.275f;

  float r9 = 0.0f;
  if (r5 != 0.0f && r6 <= kR6Cut && std::fabs(k.lg45 + std::log10(st.er6)) <= kR9Decades) {
    const float tp2 = st.er6 * k.tp1;
    const float r9a = k.r9a;
    r9 = std::fabs(std::log10(tp2) + k.lg9a) > kR9Decades2 ? 0.0f
                                                           : 5.086f * tp2 * r9a * r4 * r5 / k.r9d;
  }

  const float r12 = 1.0f / (1.0f + 0.00245f * sq(u));
  const float r13 = 0.9408f * std::pow(eff, r8) - 0.9603f;
  const float r14 = (0.9408f - r9) * std::pow(ef, r8) - 0.9603f;
  const float r16 = u <= kR16WidthCut ? 1.0f + k.k16 * (1.0f - st.e16) : 1.0f + k.k16;
  const float r17 = r7 * (1.0f - 1.1241f * (r12 / r16) * k.e17);

  out.zof = zo * std::pow(r13 / r14, r17);
}

}  // namespace kx
