// Wideband materials of the field model, in double precision and SI units
// (metres, hertz, ohm-metres): the complex permittivity of a dielectric over
// frequency, and the surface resistance, skin depth and roughness factor of
// a conductor's surface.
//
//   kx::materials::DielectricData fr4;              // a datasheet pair
//   fr4.dk = 4.3;  fr4.df = 0.02;  fr4.f_hz = 1e9;  // Djordjevic-Sarkar by default
//   const kx::materials::Dielectric d(fr4);
//   d.er(10e9), d.tan_d(10e9);                      // causal by construction
//
//   kx::materials::Roughness r;                     // Huray's snowball model
//   r.model = kx::materials::RoughnessModel::huray;
//   r.sphere_radius = 0.5e-6;  r.spheres = 14;  r.tile_area = 1e-10;
//   const double delta = kx::materials::skin_depth(kx::materials::copper_resistivity, 10e9);
//   kx::materials::roughness_factor(r, delta);      // surface resistance rough / smooth
//
// Every function is thread-safe; none keeps state.
#pragma once

#include <complex>
#include <string>

namespace kx::materials {

inline constexpr double c0 = 299792458.0;         // m/s
inline constexpr double mu0 = 1.25663706212e-6;   // H/m (CODATA 2018)
inline constexpr double eps0 = 8.8541878128e-12;  // F/m (CODATA 2018)
// Annealed copper of the International Annealed Copper Standard, ohm m.
inline constexpr double copper_resistivity = 1.7241e-8;

// ---------------------------------------------------------------- dielectrics

enum class DielectricModel {
  // Djordjevic-Sarkar wideband Debye model fitted to one (Dk, Df) pair:
  //   eps(f) = eps_inf + (delta_eps / ln(f2/f1)) ln((f2 + j f)/(f1 + j f)),
  // causal (its real and imaginary parts are a Kramers-Kronig pair) and with
  // a loss tangent nearly constant between the pole frequencies f1 and f2.
  djordjevic_sarkar,
  // Dk and Df at every frequency (not causal): the closed forms' assumption.
  constant,
};

// One datasheet pair: relative permittivity dk and loss tangent df at f_hz.
struct DielectricData {
  double dk = 1.0;
  double df = 0.0;
  double f_hz = 1e9;
  DielectricModel model = DielectricModel::djordjevic_sarkar;
  // The Djordjevic-Sarkar pole frequencies (the band of near-constant loss).
  double f_low_hz = 1e3;
  double f_high_hz = 1e12;
};

// "" when the pair can be fitted, else a one-line reason.
std::string check(const DielectricData& data);

// A fitted dielectric. Complex permittivities are eps' - j eps'' (eps'' >= 0
// for a lossy material).
class Dielectric {
 public:
  Dielectric();  // vacuum: er 1, no loss
  // Throws std::invalid_argument with check()'s reason.
  explicit Dielectric(const DielectricData& data);

  std::complex<double> permittivity(double f_hz) const;
  double er(double f_hz) const;     // eps'
  double tan_d(double f_hz) const;  // eps'' / eps'

  const DielectricData& data() const { return data_; }
  // Djordjevic-Sarkar parameters: eps(infinity) and eps(0) - eps(infinity)
  // (constant model: dk and 0).
  double er_inf() const { return er_inf_; }
  double delta_er() const { return delta_er_; }
  bool lossless() const { return data_.df == 0.0; }

 private:
  DielectricData data_;
  double er_inf_ = 1.0;
  double delta_er_ = 0.0;
};

// ----------------------------------------------------------------- conductors

// Skin depth sqrt(rho / (pi f mu0)), m, of a conductor of resistivity rho
// (ohm m) at f_hz.
double skin_depth(double resistivity, double f_hz);
// Surface resistance of a smooth conductor, sqrt(pi f mu0 rho), ohms.
double surface_resistance(double resistivity, double f_hz);

enum class RoughnessModel {
  smooth,               // factor 1
  hammerstad_bekkadal,  // 1 + (2/pi) atan(1.4 (rq/delta)^2): at most 2
  huray,                // snowball model: matte + (3/2) sum of the spheres' absorption
  groisse,              // 1 + exp(-(delta / (2 rq))^1.6): at most 2
};

// The roughness of one conductor surface. Lengths in metres.
struct Roughness {
  RoughnessModel model = RoughnessModel::smooth;
  double rq = 0.0;  // RMS height (Hammerstad-Bekkadal, Groisse)
  // Huray: spheres of radius sphere_radius, `spheres` of them on a tile of
  // flat area tile_area (hexagonal_tile_area() for the cannonball stack's
  // hexagonal tile), on a matte base of matte_ratio times the flat area.
  double sphere_radius = 0.0;
  double spheres = 0.0;
  double tile_area = 0.0;
  double matte_ratio = 1.0;
};

// "" when the roughness is usable, else a one-line reason.
std::string check(const Roughness& r);

// The factor by which roughness raises the surface resistance at skin depth
// delta (m). Every model tends to 1 (Huray: to matte_ratio) as delta grows
// past the roughness, that is at low frequency.
double roughness_factor(const Roughness& r, double delta);

// Area of a regular hexagon of side `side`: (3 sqrt(3) / 2) side^2.
double hexagonal_tile_area(double side);

// One conductor surface: its metal and its roughness.
struct Surface {
  double resistivity = copper_resistivity;  // ohm m
  Roughness roughness;
};

}  // namespace kx::materials
