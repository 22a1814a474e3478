// Chain matrix of a uniform lossy line, its reflection and transmission
// between resistive terminations, complex products and the four-quadrant
// arctangent.
#include <cmath>
#include <limits>

#include "common/constants.h"
#include "common/fmath.h"
#include "network/network.h"

namespace kx {

namespace {
constexpr int kRe = 0;
constexpr int kIm = 1;
constexpr int kA = 0;
constexpr int kB = 1;
constexpr int kC = 2;
constexpr int kD = 3;
}  // namespace

// Chain matrix of a line of impedance z, electrical length theta (radians)
// and total attenuation sigma (nepers): A = D = cosh(gamma l),
// B = z sinh(gamma l), C = sinh(gamma l)/z with gamma l = sigma + j theta.
void xline(float z, float theta, float sigma, Abcd& abcd) {
  const float sint = std::sin(theta);
  const float cost = std::cos(theta);
  const float sinhs = 0.5f * (std::exp(sigma) - std::exp(-sigma));
  const float coshs = 0.5f * (std::exp(sigma) + std::exp(-sigma));
  abcd[kA] = {coshs * cost, sinhs * sint};
  abcd[kB] = {z * sinhs * cost, z * coshs * sint};
  abcd[kC] = {sinhs * cost / z, coshs * sint / z};
  abcd[kD] = abcd[kA];
}

// Transmission (S21) and reflection (S11) of the two-port abcd between a
// source resistance zs and a load resistance zl, each port normalised to
// its own termination.
void taugam(Complex& tau, Complex& gamma, const Abcd& abcd, float zl, float zs) {
  const Complex& a = abcd[kA];
  const Complex& b = abcd[kB];
  const Complex& c = abcd[kC];
  const Complex& d = abcd[kD];
  Complex top{};
  Complex bottom{};
  for (int k = kRe; k <= kIm; ++k) {
    const auto n = static_cast<std::size_t>(k);
    top[n] = a[n] + b[n] / zl - c[n] * zs - d[n] * zs / zl;
    bottom[n] = a[n] + b[n] / zl + c[n] * zs + d[n] * zs / zl;
  }
  const float temp = 1.0f / (sq(bottom[kRe]) + sq(bottom[kIm]));
  float xt = 0.0f;
  float yt = 0.0f;
  nmult(2, xt, yt, top[kRe], top[kIm], bottom[kRe], bottom[kIm]);
  gamma = {xt * temp, yt * temp};
  const float scale = std::sqrt(zs / zl);
  tau = {2.0f * scale * bottom[kRe] * temp, -2.0f * scale * bottom[kIm] * temp};
}

// ltype 2: (x1 + j y1) * conj(x2 + j y2); any other ltype: the product.
void nmult(int ltype, float& xt, float& yt, float x1, float y1, float x2, float y2) {
  if (ltype == 2) {
    xt = x1 * x2 + y1 * y2;
    yt = x2 * y1 - x1 * y2;
  } else {
    xt = x1 * x2 - y1 * y2;
    yt = x2 * y1 + x1 * y2;
  }
}

// Four-quadrant arctangent of y/x in (-pi, pi]; atn2(0, 0) = 0 and the
// negative real axis gives +pi.
float atn2(float y, float x) {
  // A wave that is not a number has no phase.
  if (std::isnan(y) || std::isnan(x)) {
    return std::numeric_limits<float>::quiet_NaN();
  }
  if (x == 0.0f) {
    if (y > 0.0f) {
      return pi / 2.0f;
    }
    if (y < 0.0f) {
      return -pi / 2.0f;
    }
    return 0.0f;
  }
  const float ang = std::atan(std::fabs(y / x));
  if (x > 0.0f) {
    if (y > 0.0f) {
      return ang;
    }
    if (y < 0.0f) {
      return -ang;
    }
    return 0.0f;
  }
  if (y > 0.0f) {
    return pi - ang;
  }
  if (y < 0.0f) {
    return ang - pi;
  }
  return pi;
}

}  // namespace kx
