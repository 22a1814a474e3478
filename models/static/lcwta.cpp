// Effective widths of thick coupled strips: Jansen's coupled-line thickness
// correction built on the Bahl-Garg single-strip width increment.
#include <cmath>

#include "common/constants.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
// exp(-23) ~ 1e-10: the blend factor has reached its limit 1.
constexpr float kBlendCap = 23.0f;
}  // namespace

void lcwta(float er, float h, float s, float t, float w, float& wte, float& wto) {
  wte = w;
  wto = w;
  if (t == 0.0f) return;

  // Jansen's gap-dependent thickness term dt = T H / (Er S).
  const float dt = h * t / (er * s);
  // Bahl-Garg width increment dW of a single strip.
  const float kink = 1.0f / (2.0f * pi);  // the two forms meet at w/h = 1/(2 pi)
  const float dw = w / h < kink ? 1.25f * t * (1.0f + std::log(4.0f * pi * w / t)) / pi
                                : 1.25f * t * (1.0f + std::log(2.0f * h / t)) / pi;
  // Blend 1 - 0.5 exp(-0.69 dW/dt).
  const float tp = 0.69f * dw / dt > kBlendCap ? kBlendCap : 0.69f * dw / dt;
  wte = w + dw * (1.0f - 0.5f * std::exp(-tp));
  wto = wte + dt;
}

}  // namespace kx
