// Static even- and odd-mode impedances of the covered coupled pair:
// Kirschning-Jansen coupled microstrip (Q1 to Q10) on the single-line results
// of msimp, with this system's even-mode cover reduction and validity tests.
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/memo.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
// Numerically negligible terms dropped beyond these gaps g = s/h:
constexpr float kLogTermGap = 0.01f;   // ln(1 + (g/3.4)^10), ln(1 + (g/5.8)^10) below it
constexpr float kQ3TailGap = 0.0004f;  // (16.6 + (8.4/g)^6)^-0.387 < 1e-10 below it
constexpr float kQ4ExpGap = 23.0f;     // exp(-g) against 2 above it
constexpr float kQ4TermGap = 70.0f;    // u^q3 exp(-g) above it
constexpr float kQ8ExpFloor = -75.0f;  // exp() of Q8 taken as 0 below it
// The even-mode cover reduction holds below these limits (above 4.466 its
// gap factor x passes 2 and sin(pi x/2) changes sign).
constexpr float kCoverOff = 100.0f;
constexpr float kCoverGap = 4.466f;
constexpr float kArgFloor = -0.7615f;
// Cover height of the uncovered single strip (msimp ignores it above 100 h).
constexpr float kNoCover = 1000.0f;
// Single-strip impedance above which the validity test allows 5 % margin.
constexpr float kMarginZo = 20.0f;

// Kirschning-Jansen Q4 for the strip ratio u (expg = exp(-g)).
float kj_q4(float g, float expg, float q2, float q3, float u) {
  const float q1 = 0.8695f * std::pow(u, 0.194f);
  const float lead = g > kQ4ExpGap ? 2.0f * std::pow(u, -q3) : (2.0f - expg) * std::pow(u, -q3);
  const float q4 = g <= kQ4TermGap ? lead + std::pow(u, q3) * expg : lead;
  return 2.0f * q1 / (q2 * q4);
}

// Kirschning-Jansen Q2, Q3, Q5, Q6 and Q9 (from Q7, Q8): the terms of the
// gap ratio g alone, with exp(-g) of Q4.
void gap_terms(Ms1impGap& t, float g) {
  t.q2 = 1.0f + 0.7519f * g + 0.189f * std::pow(g, 2.31f);
  const float lg = std::log(g);
  const float q3log = g >= kLogTermGap ? 10.0f * lg - std::log(1.0f + ipow<10>(g / 3.4f))
                                       : 10.0f * lg;
  const float q3base = q3log / 241.0f + 0.1975f;
  t.q3 = g >= kQ3TailGap ? q3base + std::pow(16.6f + ipow<6>(8.4f / g), -0.387f) : q3base;
  t.exp_g = std::exp(-g);
  t.q5 = 1.794f + 1.14f * std::log(1.0f + 0.638f / (g + 0.517f * std::pow(g, 2.43f)));
  const float q6log = g >= kLogTermGap ? 10.0f * lg - std::log(1.0f + ipow<10>(g / 5.8f))
                                       : 10.0f * lg;
  t.q6 = q6log / 281.3f + 0.2305f +
         0.19607843f * std::log(1.0f + 0.598f * std::pow(g, 1.154f));  // 1/5.1
  const float q7 = (10.0f + 190.0f * sq(g)) / (1.0f + 82.3f * ipow<3>(g));
  const float tp = -6.5f - 0.95f * lg - ipow<5>(g / 0.15f);
  const float q8 = tp >= kQ8ExpFloor ? std::exp(tp) : 0.0f;
  t.q9 = std::log(q7) * (q8 + 0.060606062f);  // 1/16.5
}

// The even-mode cover reduction's terms of r = h2/h: the width polynomial's
// coefficients a, b, c and the width limit u_max ...
void cover_terms(Ms1impCover& t, float r) {
  t.a = -4.351f / std::pow(1.0f + r, 1.842f);
  t.b = 6.639f / std::pow(1.0f + r, 1.861f);
  t.c = -2.291f / std::pow(1.0f + r, 1.9f);
  t.u_max = 1.449f * std::pow(1.0f + r, 0.039f);
}

// ... and its factor ge of g and r.
float cover_gap_factor(float g, float r) {
  const float f = std::pow(10.0f, 0.11f - 0.0947f * g);
  const float x = std::pow(10.0f, 0.103f * g - 0.159f);
  const float y = std::pow(10.0f, 0.0492f * g - 0.073f);
  const float d = 0.747f / std::sin(0.5f * pi * x);
  const float e = 0.725f * std::sin(0.5f * pi * y);
  const float arg2 = d + e + std::sqrt(1.0f + r) - f / (1.0f + r);
  return 270.0f * (1.0f - std::tanh(arg2));
}
}  // namespace

void ms1imp(Records& rec, float effe, float /*effo*/, float er, float h, float h2, int ieoro,
            int& iflag, int iop, float s, float wte, float wto, float& zoe, float& zoo) {
  iflag = 0;
  const float g = s / h;
  const Ms1impGap& gt = find_or_compute(
      rec, &ModelMemo::ms1imp_gap, [&](Ms1impGap& t) { gap_terms(t, g); }, g);
  const float q2 = gt.q2;
  const float q3 = gt.q3;

  if (!(iop == iop_single_mode && ieoro == ieoro_odd)) {
    // Even mode on the covered single strip of width wte.
    msimp(rec, er, h, h2, 0.0f, wte);
    const float ef = rec.msimp1.ef;
    const float zo = rec.msimp1.zo;
    const float q4 = kj_q4(g, gt.exp_g, q2, q3, rec.msimp1.u);
    zoe = zo * std::sqrt(ef / effe) / (1.0f - std::sqrt(ef) * (zo / eta) * q4);

    // Even-mode top-cover reduction.
    const float r = h2 / h;
    if (r < kCoverOff && g < kCoverGap) {
      const Ms1impCover& ct = find_or_compute(
          rec, &ModelMemo::ms1imp_cover, [&](Ms1impCover& t) { cover_terms(t, r); }, r);
      float& u = rec.msimp1.u;  // working variable: the record keeps the clamp
      if (u > ct.u_max) u = ct.u_max;
      const float arg0 = ct.a + ct.b * u + ct.c * sq(u);
      const float arg = arg0 < kArgFloor ? kArgFloor : arg0;
      const float fe = 1.0f - 0.5f * std::log((1.0f + arg) / (1.0f - arg));
      const float ge = find_or_compute(
          rec, &ModelMemo::ms1imp_ge, [&](float& v) { v = cover_gap_factor(g, r); }, g, r);
      const float dzoe0 = fe * ge / std::sqrt(effe);
      const float dzoe = dzoe0 > 0.5f * zoe ? 0.5f * zoe : dzoe0;  // at most half of Zoe
      zoe = zoe - dzoe;
    }
    if (iop == iop_single_mode) return;
  }

  // Odd mode on the uncovered single strip of width wto.
  msimp(rec, er, h, kNoCover * h, 0.0f, wto);
  const float ef = rec.msimp1.ef;
  const float zo = rec.msimp1.zo;
  const float u = rec.msimp1.u;
  const float q4 = kj_q4(g, gt.exp_g, q2, q3, u);
  const float q10 = (q2 * q4 - gt.q5 * std::exp(std::log(u) * gt.q6 * std::pow(u, -gt.q9))) / q2;
  const float effoi = rec.ms1pv.effoi;
  zoo = zo * std::sqrt(ef / effoi) / (1.0f - std::sqrt(ef) * (zo / eta) * q10);

  // Validity: Zoo above Zoe, or sqrt(Zoe Zoo) above the odd-width single strip.
  if (zoo > zoe) iflag = 2;
  const float temp = std::sqrt(zoe * zoo);
  const float temp1 = zo > kMarginZo ? 1.05f * zo : zo;
  if (temp > temp1) iflag = 1;
}

}  // namespace kx
