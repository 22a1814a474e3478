#include <cmath>

#include "app/runs.h"
#include "common/fmath.h"

namespace kx {

// Radiation loss of the open coupled pair, in dB per inch, shared equally by
// the two modes: the quasi-TEM radiation factor of a microstrip discontinuity
// with the (2*pi*H/lambda0)^2 frequency law.
void add_radiation_loss(State& st, float f, float& ate, float& ato) {
  Working& wk = st.work;
  const float effef = st.rec.lceff1.effef;
  const float q = std::sqrt(effef);
  // At effef = 1 the factor is 0 * ln(2/0); its limit is 1.
  wk.feff = effef == 1.0f ? 1.0f
                          : 1.0f - ((effef - 1.0f) / (2.0f * q)) * std::log((q + 1.0f) / (q - 1.0f));
  wk.ar = sq(2.0f * wk.pi * st.design.h * f / wk.speed);
  wk.ar = wk.ar * 60.0f * wk.feff * 0.115127794f;  // 0.115127794 = 1/8.686 dB per neper
  wk.ar = 2.0f * wk.ar;
  ate = ate + wk.ar * 0.5f;
  ato = ato + wk.ar * 0.5f;
}

}  // namespace kx
