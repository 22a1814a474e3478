// Static even- and odd-mode effective dielectric constants of the covered
// coupled pair: Kirschning-Jansen coupled microstrip with this system's cover
// factors and even-mode thickness term.
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/memo.h"
#include "models/static/er_power.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
// g exp(-g) and exp(-co g^do1) are below float resolution from 70 on.
constexpr float kExpCut = 70.0f;
// The cover no longer changes the even mode above h2/h = 39 ...
constexpr float kEvenCoverLimit = 39.0f;
// ... nor the odd mode from h2/h = 7 on (qc has reached 1).
constexpr float kOddCoverLimit = 7.0f;
// Cover height of the uncovered single strip (msimp ignores it above 100 h).
constexpr float kNoCover = 1000.0f;

// The cover factors of the even mode (q_ce) and of the odd mode (q_c) for
// r = h2/h.
void cover_factors(MscuppvCover& k, float r) {
  k.q_ce = r <= kEvenCoverLimit ? std::tanh(1.626f + 0.107f * r - 1.733f / std::sqrt(r)) : 1.0f;
  k.q_c = r < kOddCoverLimit ? std::tanh(9.575f / (7.0f - r) - 2.965f + 1.68f * r - 0.311f * sq(r))
                             : 1.0f;
}
}  // namespace

void mscuppv(Records& rec, float& effc, float& effe, float& effo, float er, float t, float h,
             float h2, int ieoro, int iop, float s, float wte, float wto) {
  const float g = s / h;
  const float r = h2 / h;
  float& u = rec.msimp1.u;  // working variable shared with msimp and ms1imp
  const MscuppvCover& cover = find_or_compute(
      rec, &ModelMemo::mscuppv_cover, [&](MscuppvCover& k) { cover_factors(k, r); }, r);

  if (!(iop == iop_single_mode && ieoro == ieoro_odd)) {
    // Even mode: Kirschning-Jansen width parameter v and the Hammerstad-Jensen
    // exponents a(v), b(Er) of the single line.
    u = wte / h;
    const float vg = u * (sq(g) + 20.0f) / (sq(g) + 10.0f);
    const float v = g < kExpCut ? vg + g * std::exp(-g) : vg;
    const float ae = 1.0f +
                     0.020408163f * std::log((ipow<4>(v) + sq(v / 52.0f)) / (ipow<4>(v) + 0.432f)) +
                     0.053475935f * std::log(1.0f + ipow<3>(v / 18.1f));
    const float be = 0.564f * er_power(rec, er);
    const float qi = std::pow(1.0f + 10.0f / v, -ae * be);
    // Thickness term of the filling factor (2 ln 2 / pi)(t/h)/sqrt(u).
    const float qt = t != 0.0f ? (t / h) * 1.3862944f / (pi * std::sqrt(u)) : 0.0f;
    // Even-mode cover factor.
    const float qce = cover.q_ce;
    rec.ms1pv.effei = 0.5f * (er + 1.0f) + 0.5f * (er - 1.0f) * qi * qce;
    effe = 0.5f * (er + 1.0f) + 0.5f * (er - 1.0f) * (qi - qt) * qce;
    if (iop == iop_single_mode) return;
  }

  // Odd mode: Kirschning-Jansen correction of the uncovered single strip.
  u = wto / h;
  msimp(rec, er, h, kNoCover * h, 0.0f, wto);
  const float ef = rec.msimp1.ef;
  const float ao = 0.7287f * (ef - 0.5f * (er + 1.0f)) * (1.0f - std::exp(-0.179f * u));
  const float bo = 0.747f * er / (er + 0.15f);
  const float co = bo - (bo - 0.207f) * std::exp(-0.414f * u);
  const float do1 = 0.593f + 0.694f * std::exp(-0.562f * u);
  const float temp = co * std::pow(g, do1);
  const float effoi = temp <= kExpCut ? (0.5f * (er + 1.0f) + ao - ef) * std::exp(-temp) + ef : ef;
  rec.ms1pv.effoi = effoi;
  // Odd-mode cover factor.
  if (r < kOddCoverLimit) {
    const float qc = cover.q_c;
    effo = (er + 1.0f) / 2.0f + (effoi - (er + 1.0f) / 2.0f) * qc;
  } else {
    effo = effoi;
  }

  // Coupler permittivity; a single odd-mode evaluation uses effe's entry value.
  effc = 2.0f * effe * effo / (effe + effo);
}

}  // namespace kx
