// Ideal TEM coupled-line relations between (Zoe, Zoo) and (Zo, coupling):
// Zo = sqrt(Zoe Zoo), C = (Zoe - Zoo)/(Zoe + Zoo).
#include <cmath>

#include "common/fmath.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
// Coupling in dB reported for a pair without coupling (Zoo >= Zoe).
constexpr float kNoCoupling = -999.999f;
}  // namespace

void sl1zo(float& cc, float& ko, int m, float& zo, float& zoe, float& zoo) {
  if (m == sl1zo_coupling_from_pair) {
    zo = std::sqrt(zoe * zoo);
    cc = (1.0f - zoo / zoe) / (1.0f + zoo / zoe);
    ko = cc > 0.0f ? 20.0f * std::log10(cc) : kNoCoupling;
  } else {
    cc = std::pow(10.0f, ko / 20.0f);
    zoe = zo * std::sqrt((1.0f + cc) / (1.0f - cc));
    zoo = sq(zo) / zoe;
  }
}

}  // namespace kx
