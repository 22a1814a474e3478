// The Djordjevic-Sarkar wideband Debye model of a dielectric, fitted to one
// datasheet pair, and the constant-tangent model.
//
// [DS01] A. R. Djordjevic, R. M. Biljic, V. D. Likar-Smiljanic, T. K. Sarkar,
//        "Wideband frequency-domain characterization of FR-4 and time-domain
//        causality", IEEE Trans. EMC 43, no. 4, 2001.
#include <cmath>
#include <complex>
#include <sstream>
#include <stdexcept>
#include <string>

#include "kestrelix/materials.h"

namespace kx::materials {
namespace {

// The continuous distribution of Debye poles between f1 and f2 [DS01]:
// ln((f2 + j f) / (f1 + j f)) / ln(f2 / f1). Its imaginary part is
// -(atan(f/f1) - atan(f/f2)) / ln(f2/f1), nearly constant between the poles.
std::complex<double> pole_band(double f, double f1, double f2) {
  const std::complex<double> num(f2, f);
  const std::complex<double> den(f1, f);
  return (std::log(num) - std::log(den)) / std::log(f2 / f1);
}

std::string describe(const char* what, double v) {
  std::ostringstream out;
  out << what << " (" << v << ")";
  return out.str();
}

bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }

struct Fit {
  double er_inf, delta_er;
};

// eps''(f0) = dk df fixes delta_eps; eps'(f0) = dk then fixes eps_inf.
Fit fit_djordjevic_sarkar(const DielectricData& s) {
  const std::complex<double> band = pole_band(s.f_hz, s.f_low_hz, s.f_high_hz);
  const double delta_er = s.dk * s.df / -band.imag();
  return {s.dk - delta_er * band.real(), delta_er};
}

}  // namespace

std::string check(const DielectricData& s) {
  if (!std::isfinite(s.dk) || s.dk < 1.0) return describe("Dk must be at least 1", s.dk);
  if (!std::isfinite(s.df) || s.df < 0.0 || s.df > 1.0)
    return describe("Df must be from 0 to 1", s.df);
  if (!finite_positive(s.f_hz))
    return describe("the frequency of Dk and Df must be positive", s.f_hz);
  if (s.model == DielectricModel::constant) return "";
  if (!finite_positive(s.f_low_hz) || !finite_positive(s.f_high_hz) || s.f_high_hz <= s.f_low_hz)
    return "the Djordjevic-Sarkar pole frequencies must be positive with f_low below f_high";
  const Fit fit = fit_djordjevic_sarkar(s);
  if (!(fit.er_inf >= 1.0))
    return describe(
        "Df is too large for the Djordjevic-Sarkar fit: the permittivity at high frequency "
        "would fall below 1",
        fit.er_inf);
  return "";
}

Dielectric::Dielectric() = default;

Dielectric::Dielectric(const DielectricData& data) : data_(data) {
  const std::string why = check(data);
  if (!why.empty()) throw std::invalid_argument(why);
  if (data.model == DielectricModel::constant) {
    er_inf_ = data.dk;
    delta_er_ = 0.0;
    return;
  }
  const Fit fit = fit_djordjevic_sarkar(data);
  er_inf_ = fit.er_inf;
  delta_er_ = fit.delta_er;
}

std::complex<double> Dielectric::permittivity(double f_hz) const {
  if (data_.model == DielectricModel::constant) return {data_.dk, -data_.dk * data_.df};
  return er_inf_ + delta_er_ * pole_band(f_hz, data_.f_low_hz, data_.f_high_hz);
}

double Dielectric::er(double f_hz) const { return permittivity(f_hz).real(); }

double Dielectric::tan_d(double f_hz) const {
  const std::complex<double> e = permittivity(f_hz);
  return -e.imag() / e.real();
}

}  // namespace kx::materials
