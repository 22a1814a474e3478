// Conductor and dielectric attenuation of the even and odd modes: Wheeler's
// incremental-inductance rule on the air-filled static impedances, with the
// Hammerstad-Bekkadal roughness correction, plus the quasi-TEM dielectric term.
#include <cmath>

#include "common/constants.h"
#include "models/loss/loss.h"
#include "models/loss/skin_effect.h"
#include "models/memo.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
constexpr float kErAir = 1.0f;   // the air-filled pair of the incremental-inductance rule
constexpr float kStep = 1.001f;  // relative forward-difference step of a dimension

struct Impedances {
  float zoe;
  float zoo;
};

// Static even/odd impedances of the pair with air as dielectric. The calls
// overwrite rec.msimp1; the validity flag is not looked at. The odd mode
// reads rec.ms1pv.effoi, so that is part of the key under which the pair is
// kept (a frequency sweep meets the same four pairs at every point).
Impedances air_pair(Records& rec, float h, float h2, float s, float t, float w) {
  const AirPair& z = find_or_compute(
      rec, &ModelMemo::air_pair,
      [&](AirPair& k) {
        float wte = 0.0f;
        float wto = 0.0f;
        lcwta(kErAir, h, s, t, w, wte, wto);
        int iflag = 0;
        ms1imp(rec, kErAir, kErAir, kErAir, h, h2, ieoro_both, iflag, iop_both_modes, s, wte, wto,
               k.zoe, k.zoo);
        k.msimp1 = rec.msimp1;
      },
      h, h2, s, t, w, rec.ms1pv.effoi);
  rec.msimp1 = z.msimp1;
  return Impedances{z.zoe, z.zoo};
}
}  // namespace

void ms1los(Records& rec, float& ate, float& ato, float er, float f, float h, float h2, float res,
            float s, float sr, float t, float tlos, float w) {
  float ace = 0.0f;
  float aco = 0.0f;
  float ade = 0.0f;
  float ado = 0.0f;
  if (f == 0.0f) {
    ate = 0.0f;
    ato = 0.0f;
    return;
  }

  if (res != 0.0f) {
    // Unperturbed air-filled pair.
    const Impedances z0 = air_pair(rec, h, h2, s, t, w);
    const float tpe = z0.zoe;
    const float tpo = z0.zoo;

    // Surface resistance raised for roughness.
    const float rs0 = skin::surface_resistance(f, res);
    const float sd = skin::skin_depth(f, res);
    const float rs = rs0 * skin::roughness_factor(sr, sd);

    // Forward differences of the air impedances in w, s and t.
    const float wp = w * kStep;
    const Impedances zw = air_pair(rec, h, h2, s, t, wp);
    const float dzdwe = (zw.zoe - tpe) / (wp - w);
    const float dzdwo = (zw.zoo - tpo) / (wp - w);

    const float sp = s * kStep;
    const Impedances zs = air_pair(rec, h, h2, sp, t, w);
    const float dzdse = (zs.zoe - tpe) / (sp - s);
    const float dzdso = (zs.zoo - tpo) / (sp - s);

    float dzdte = 0.0f;
    float dzdto = 0.0f;
    if (t != 0.0f) {
      const float tp = t * kStep;
      const Impedances zt = air_pair(rec, h, h2, s, tp, w);
      dzdte = (zt.zoe - tpe) / (tp - t);
      dzdto = (zt.zoo - tpo) / (tp - t);
    }

    // Wheeler's rule: every metal surface recedes by the same small depth.
    const float tps = 1.0f - s / (2.0f * h);
    const float tpt = 1.0f + t / (2.0f * h);
    const float tpw = 1.0f + w / (2.0f * h);
    ace = (rs * db_per_neper) * std::sqrt(rec.lceff1.effef) *
          (tps * dzdse - tpw * dzdwe - tpt * dzdte) / (tpe * eta);
    aco = (rs * db_per_neper) * std::sqrt(rec.lceff1.effof) *
          (tps * dzdso - tpw * dzdwo - tpt * dzdto) / (tpo * eta);
  }

  // Air carries no dielectric loss (the formula's er/(er - 1) would divide by 0).
  if (tlos != 0.0f && er != 1.0f) {
    // Quasi-TEM dielectric term pi 8.686 (er/(er-1)) ((eff-1)/sqrt(eff)) tan(d)/lambda0.
    const float wl = light_speed / f;
    const float tp = pi * db_per_neper * er * tlos / ((er - 1.0f) * wl);
    const float effef = rec.lceff1.effef;
    const float effof = rec.lceff1.effof;
    ade = tp * (effef - 1.0f) / std::sqrt(effef);
    ado = tp * (effof - 1.0f) / std::sqrt(effof);
  }

  ate = ace + ade;
  ato = aco + ado;
}

}  // namespace kx
