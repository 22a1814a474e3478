// The random stream of one tolerance sample: splitmix64 (Steele, Lea,
// Flood), a 64-bit counter through a bijective mixer, seeded by the run's
// seed and the sample's index, so that a sample's draws do not depend on
// the thread that makes them or on the samples before it.
#pragma once

#include <cmath>
#include <cstdint>

namespace kx::tol {

class Stream {
 public:
  Stream(std::uint64_t seed, std::uint64_t index) : state_(mix64(mix64(seed) + index)) {}
  std::uint64_t next() {
    state_ += kGolden;
    return mix64(state_);
  }
  // Uniform in [0, 1), 53 bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  // Standard normal (Box-Muller, one value per pair of uniforms).
  double normal() {
    const double u1 = 1.0 - uniform();  // (0, 1]: the logarithm stays finite
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
  }

 private:
  static constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
  static constexpr double kTwoPi = 6.283185307179586;
  static constexpr std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t state_;
};

}  // namespace kx::tol
