// Covered single microstrip: Hammerstad-Jensen zero-thickness line with the
// Hammerstad-Jensen top-cover corrections and the Bahl-Garg effective width.
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/memo.h"
#include "models/static/er_power.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
// Below this exponent exp() is negligible: f(u) is taken as its limit 6.
constexpr float kExpFloor = -44.0f;
// A cover farther than 100 substrate heights no longer changes the line.
constexpr float kCoverOff = 100.0f;

// The line without its cover: the same for every cover height.
void uncovered(MsimpUncovered& k, Records& rec, float er, float h1, float t, float w, float u) {
  // Bahl-Garg effective width of a strip of thickness t.
  float weff = w;
  if (t != 0.0f) {
    const float tp = 1.25f * t / pi;
    const float temp = 0.5f / pi;  // u = 1/(2 pi): the two forms meet
    const float dw = u > temp ? tp * (1.0f + std::log(2.0f * h1 / t))
                              : tp * (1.0f + std::log(4.0f * pi * w / t));
    weff = w + dw;
  }
  k.weff = weff;
  const float up = weff / h1;

  // Hammerstad-Jensen air impedance, taken at the thickness-corrected ratio up.
  const float tp1 = -std::pow(30.666f / up, 0.7528f);
  const float fwh = tp1 < kExpFloor ? 6.0f : 6.0f + (2.0f * pi - 6.0f) * std::exp(tp1);
  const float azoai = fwh / up + std::sqrt(sq(2.0f / up) + 1.0f);
  k.z01 = (eta / (2.0f * pi)) * std::log(azoai);

  // Filling factor q = (q_inf - q_T) q_c: thickness term q_T ...
  const float tp = t / (h1 * std::sqrt(u));
  k.q_t = (2.0f / pi) * 0.6931472f * tp;
  // ... and q_inf = (1 + 10/u)^(-a(u) b(Er)), the Hammerstad-Jensen
  // exponents b(Er) (sign folded in) and a(u).
  const float b = -0.564f * er_power(rec, er);
  const float faan = (sq(u) + 0.0003698f) * sq(u);  // u^4 + (u/52)^2
  const float faad = ipow<4>(u) + 0.432f;
  const float faa = faan / faad;
  const float saa = 1.0f + ipow<3>(u / 18.1f);
  const float a = 1.0f + 0.020408163f * std::log(faa) + 0.053475935f * std::log(saa);
  const float aj = a * b;
  const float aqi = 1.0f + 10.0f / u;
  k.q_inf = std::pow(aqi, aj);
}

// Hammerstad-Jensen top cover: the impedance reduction's factor P, the
// denominator of Q's argument and the permittivity factor q_c.
void cover(MsimpCover& c, float h1, float h2) {
  const float ap = 1.192f + 0.706f * std::sqrt(1.0f + h2 / h1) - 1.389f / (1.0f + h2 / h1);
  c.p = 270.0f * (1.0f - std::tanh(ap));
  c.q_den = sq(1.0f + h2 / h1);
  const float aqc = 1.043f + 0.121f * h2 / h1 - 1.164f * h1 / h2;
  c.q_c = std::tanh(aqc);
}

// The whole line.
void line(Msimp1& out, Records& rec, float er, float h1, float h2, float t, float w) {
  const float u = w / h1;
  out.u = u;

  const MsimpUncovered& un = find_or_compute(
      rec, &ModelMemo::msimp_uncovered,
      [&](MsimpUncovered& k) { uncovered(k, rec, er, h1, t, w, u); }, er, h1, t, w);
  out.weff = un.weff;

  float qc = 1.0f;
  float zoa = un.z01;
  if (h2 / h1 <= kCoverOff) {
    const MsimpCover& c = find_or_compute(
        rec, &ModelMemo::msimp_cover, [&](MsimpCover& k) { cover(k, h1, h2); }, h1, h2);
    // Impedance reduction dZ = P Q ...
    const float aqn = 0.012f * u + 0.177f * sq(u) - 0.027f * ipow<3>(u);
    const float aq = aqn / c.q_den < 0.0f ? 0.0f : aqn / c.q_den;  // aqn < 0 for u above ~6.62
    const float tp2 = (1.0f + aq) / (1.0f - aq);
    const float q = 1.0109f - 0.5f * std::log(tp2);  // 1.0109 - artanh(aq)
    const float dzo = c.p * q;
    zoa = un.z01 - dzo;
    // ... and the permittivity factor q_c.
    qc = c.q_c;
  }
  out.zoa = zoa;

  const float qff = (un.q_inf - un.q_t) * qc;
  const float ef = (er + 1.0f) / 2.0f + (er - 1.0f) * qff / 2.0f;
  out.ef = ef;
  out.zo = zoa / std::sqrt(ef);
}
}  // namespace

void msimp(Records& rec, float er, float h1, float h2, float t, float w) {
  // The same strip again (the odd-mode strip of mscuppv and ms1imp, the
  // even-mode strip of ms1imp and lcdis): the kept result.
  find_or_compute(
      rec.msimp1, rec, &ModelMemo::msimp, [&](Msimp1& out) { line(out, rec, er, h1, h2, t, w); },
      er, h1, h2, t, w);
}

}  // namespace kx
