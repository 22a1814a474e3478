// Four-port response of a single-section edge-coupled coupler from the
// even-mode / odd-mode decomposition of the symmetric four-port.
#include <array>
#include <cmath>
#include <cstddef>

#include "common/constants.h"
#include "common/fmath.h"
#include "network/network.h"

namespace kx {

namespace {
constexpr std::size_t kPorts = 4;
// Amplitude printed for a port that carries exactly nothing; each fits the
// narrowest column that port's amplitude is printed in (F7.1, F9.3, F8.1, F7.3).
constexpr std::array<float, kPorts> kNoWave = {-999.9f, -999.999f, -999.9f, -99.999f};
// Smallest loss figure that still fits its F9.4 / F8.4 column (log10(0) otherwise).
constexpr float kLossFloor = -99.9999f;
// Largest VSWR that fits its F7.3 column (total reflection otherwise divides by zero).
constexpr float kVswrCeiling = 99.999f;
}  // namespace

PortWaves coupler_waves(float f, float ate, float ato, float effe, float effo, float l, float rl,
                        float rs, float zoe, float zoo) {
  // Electrical lengths of the two mode sections at f.
  float thetae = 0.0f;
  float thetao = 0.0f;
  if (f != 0.0f) {
    const float wl = light_speed / f;  // free-space wavelength, inch
    thetae = 2.0f * pi * l * std::sqrt(effe) / wl;
    thetao = 2.0f * pi * l * std::sqrt(effo) / wl;
  }
  const float sigmae = ate * l / db_per_neper;
  const float sigmao = ato * l / db_per_neper;

  Abcd abcdoe{};
  Abcd abcdoo{};
  xline(zoe, thetae, sigmae, abcdoe);
  xline(zoo, thetao, sigmao, abcdoo);

  Complex tauoe{};
  Complex goe{};
  Complex tauoo{};
  Complex goo{};
  taugam(tauoe, goe, abcdoe, rl, rs);
  taugam(tauoo, goo, abcdoo, rl, rs);

  // Waves leaving the reflected, coupled, isolated and through ports.
  PortWaves a{};
  for (std::size_t k = 0; k < 2; ++k) {
    a[0][k] = (goe[k] + goo[k]) / 2.0f;
    a[1][k] = (goe[k] - goo[k]) / 2.0f;
    a[2][k] = (tauoe[k] - tauoo[k]) / 2.0f;
    a[3][k] = (tauoe[k] + tauoo[k]) / 2.0f;
  }
  return a;
}

void lcfa(Records& rec, float ate, float ato, float effe, float effo, float l, float rl, float rs,
          float zoe, float zoo) {
  Lcfa1& out = rec.lcfa1;
  const PortWaves a = coupler_waves(out.fo, ate, ato, effe, effo, l, rl, rs, zoe, zoo);

  std::array<float, kPorts> port{};
  for (std::size_t i = 0; i < kPorts; ++i) {
    port[i] = std::sqrt(sq(a[i][0]) + sq(a[i][1]));
    out.ang[i] = atn2(a[i][1], a[i][0]) * (180.0f / pi);
    out.mag[i] = port[i] != 0.0f ? 20.0f * std::log10(port[i]) : kNoWave[i];
  }

  // Coupled-to-through phase difference, folded into [0, 180).
  float phi = std::fabs(out.ang[1] - out.ang[3]);
  phi = phi - 180.0f * std::trunc(phi / 180.0f);
  out.phi = phi;
  out.phaserr = phi - 90.0f;

  const float temp = sq(port[1]) + sq(port[3]);
  out.atot = 10.0f * std::log10(sq(port[0]) + sq(port[2]) + temp);
  if (out.atot < kLossFloor) {
    out.atot = kLossFloor;
  }
  out.loss = 10.0f * std::log10(temp);
  if (out.loss < kLossFloor) {
    out.loss = kLossFloor;
  }
  out.vswr = (1.0f + port[0]) / (1.0f - port[0]);
  if (out.vswr > kVswrCeiling) {
    out.vswr = kVswrCeiling;
  }
}

}  // namespace kx
