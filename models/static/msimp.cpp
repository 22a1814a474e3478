// Covered single microstrip: Hammerstad-Jensen zero-thickness line with the
// Hammerstad-Jensen top-cover corrections and the Bahl-Garg effective width.
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/static/er_power.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
// Below this exponent exp() is negligible: f(u) is taken as its limit 6.
constexpr float kExpFloor = -44.0f;
// A cover farther than 100 substrate heights no longer changes the line.
constexpr float kCoverOff = 100.0f;
}  // namespace

namespace {
// The terms of the strip without its cover (effective width, air impedance,
// filling-factor terms): the same for every cover height.
const MsimpStripTerms& uncovered_terms(ModelMemo& memo, float er, float h1, float t, float w,
                                       float u) {
  const auto skey = memo.msimp_strip.key(er, h1, t, w);
  if (const MsimpStripTerms* kept = memo.msimp_strip.find(skey)) return *kept;
  MsimpStripTerms& k = memo.msimp_strip.put(skey);
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
  k.zoai = (eta / (2.0f * pi)) * std::log(azoai);

  // Filling factor q = (q_inf - q_T) qc: thickness term q_T ...
  const float tp = t / (h1 * std::sqrt(u));
  k.qt = (2.0f / pi) * 0.6931472f * tp;
  // ... and the Hammerstad-Jensen exponents b(Er) (sign folded in) and a(u).
  const float b = -0.564f * er_power(memo, er);
  const float faan = (sq(u) + 0.0003698f) * sq(u);  // u^4 + (u/52)^2
  const float faad = ipow<4>(u) + 0.432f;
  const float faa = faan / faad;
  const float saa = 1.0f + ipow<3>(u / 18.1f);
  const float a = 1.0f + 0.020408163f * std::log(faa) + 0.053475935f * std::log(saa);
  const float aj = a * b;
  const float aqi = 1.0f + 10.0f / u;
  k.qi = std::pow(aqi, aj);
  return k;
}
}  // namespace

void msimp(Records& rec, float er, float h1, float h2, float t, float w) {
  Msimp1& out = rec.msimp1;
  ModelMemo& memo = rec.memo;
  // The same strip again (the odd-mode strip of mscuppv and ms1imp, the
  // even-mode strip of ms1imp and lcdis): the kept result.
  const auto key = memo.msimp.key(er, h1, h2, t, w);
  if (const Msimp1* kept = memo.msimp.find(key)) {
    out = *kept;
    return;
  }

  const float u = w / h1;
  out.u = u;

  const MsimpStripTerms& sk = uncovered_terms(memo, er, h1, t, w, u);
  out.weff = sk.weff;
  const float zoai = sk.zoai;

  float qc = 1.0f;
  float zoa = zoai;
  if (h2 / h1 <= kCoverOff) {
    // Hammerstad-Jensen top cover: impedance reduction P*Q ...
    const auto ckey = memo.msimp_cover.key(h1, h2);
    const MsimpCoverTerms* cover = memo.msimp_cover.find(ckey);
    if (cover == nullptr) {
      MsimpCoverTerms& c = memo.msimp_cover.put(ckey);
      const float ap = 1.192f + 0.706f * std::sqrt(1.0f + h2 / h1) - 1.389f / (1.0f + h2 / h1);
      c.p = 270.0f * (1.0f - std::tanh(ap));
      c.aqd = sq(1.0f + h2 / h1);
      const float aqc = 1.043f + 0.121f * h2 / h1 - 1.164f * h1 / h2;
      c.qc = std::tanh(aqc);
      cover = &c;
    }
    const float p = cover->p;
    const float aqn = 0.012f * u + 0.177f * sq(u) - 0.027f * ipow<3>(u);
    const float aqd = cover->aqd;
    const float aq = aqn / aqd < 0.0f ? 0.0f : aqn / aqd;  // aqn < 0 for u above ~6.62
    const float tp2 = (1.0f + aq) / (1.0f - aq);
    const float q = 1.0109f - 0.5f * std::log(tp2);  // 1.0109 - artanh(aq)
    const float dzo = p * q;
    zoa = zoai - dzo;
    // ... and the permittivity factor qc.
    qc = cover->qc;
  }
  out.zoa = zoa;

  const float qt = sk.qt;
  const float qi = sk.qi;
  const float qff = (qi - qt) * qc;

  const float ef = (er + 1.0f) / 2.0f + (er - 1.0f) * qff / 2.0f;
  out.ef = ef;
  out.zo = zoa / std::sqrt(ef);
  memo.msimp.put(key) = out;
}

}  // namespace kx
