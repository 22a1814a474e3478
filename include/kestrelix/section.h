// The cross-section of an edge-coupled microstrip pair and its materials:
// the value types every analysis of the library takes.
//
// Lengths are in inches (kestrelix/units.h converts from mm, mil and um).
#pragma once

#include <limits>

namespace kx {

// The cross-section: two strips of width W and thickness T, a gap S apart,
// on a substrate of thickness H and relative dielectric constant Er, under a
// metal cover at height H2 above the substrate surface. Inches. Filled by
// name (there is no positional form, so W and S cannot be swapped by
// accident):
//
//   kx::Section sec;
//   sec.er = 3.66f;
//   sec.h = kx::from_mil(20.0);
//   sec.w = kx::from_mil(34.3);
//
// Er, H, W and S have no default: until set they are not a number, and a
// result for the section says so (flag_refused, kestrelix/validity.h). H2
// defaults to infinity (open microstrip, no cover: the field solver's
// default too), T to 0 (strips of zero thickness).
struct Section {
  constexpr Section() {}  // user-provided: the fields are set by name only
  float er{std::numeric_limits<float>::quiet_NaN()};  // relative dielectric constant
  float h{std::numeric_limits<float>::quiet_NaN()};   // substrate thickness H
  // Top cover height above the substrate surface H2 (infinity: no cover).
  float h2{std::numeric_limits<float>::infinity()};
  float w{std::numeric_limits<float>::quiet_NaN()};  // strip width W
  float s{std::numeric_limits<float>::quiet_NaN()};  // gap between the strips S
  float t{};                                         // strip thickness T
};

// A conformal coating (solder mask) over the substrate and the strips: its
// thickness on the substrate and on the strips' tops and sides, and its
// relative dielectric constant. Inches; filled by name like Section. Only
// the field solver models it (thickness 0 or er 1: no coating).
struct Coating {
  constexpr Coating() {}  // user-provided: the fields are set by name only
  float thickness{};
  float er{1.0f};
};

// Metal and dielectric losses, filled by name like Section.
struct Materials {
  constexpr Materials() {}  // user-provided: the fields are set by name only
  float res{};   // conductor resistivity, micro-ohm-cm (copper 1.7; 0 = no conductor loss)
  float sr{};    // RMS surface roughness, micro-inch
  float tlos{};  // dielectric loss tangent (0 = no dielectric loss)
};

// Even- and odd-mode attenuation, dB per inch (positive = loss).
struct Attenuation {
  float e{}, o{};
};

}  // namespace kx
