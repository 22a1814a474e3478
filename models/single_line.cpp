// The closed forms' single microstrip (kestrelix/single_line.h): msimp on a
// working record of its own.
#include <kestrelix/single_line.h>

#include <cmath>
#include <limits>

#include <kestrelix/validity.h>

#include "models/chain.h"
#include "models/static/static_models.h"

namespace kx {

SingleLine single_microstrip(const Section& sec) {
  SingleLine out;
  // The pair's tests with the gap taken as the width: only W, H, H2, T, Er count.
  Section as_pair = sec;
  as_pair.s = sec.w;
  out.flags = refused_flags(as_pair, 0.0f);
  if (out.flags != 0) {
    out.z0 = out.eff = std::numeric_limits<float>::quiet_NaN();
    out.valid = false;
    return out;
  }
  out.flags = range_flags(as_pair, 0.0f) & (flag_wh | flag_er);
  ChainContext ctx;
  const Section c = closed_section(sec);
  msimp(ctx.rec, c.er, c.h, c.h2, c.t, c.w);
  out.z0 = ctx.rec.msimp1.zo;
  out.eff = ctx.rec.msimp1.ef;
  if (!std::isfinite(out.z0) || !std::isfinite(out.eff)) out.flags |= flag_not_finite;
  out.valid = out.flags == 0;
  return out;
}

}  // namespace kx
