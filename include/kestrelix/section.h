// The cross-section of an edge-coupled microstrip pair and its materials:
// the value types every analysis of the library takes.
//
// Lengths are in inches (kestrelix/units.h converts from mm, mil and um).
#pragma once

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
struct Section {
  constexpr Section() {}  // user-provided: the fields are set by name only
  float er{};             // relative dielectric constant of the substrate
  float h{};              // substrate thickness H
  float h2{};             // top cover height above the substrate surface H2 (infinity: no
                          // cover, open microstrip)
  float w{};              // strip width W
  float s{};              // gap between the strips S
  float t{};              // strip thickness T
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

// Which accuracy limits a point crosses, in the order of the accuracy
// report (bit set = limit crossed).
enum Reason : unsigned {
  reason_fh = 1u << 0,     // F*H above 25 GHz-mm: strong dispersion
  reason_er = 1u << 1,     // Er above 20
  reason_cover = 1u << 2,  // Zoo above Zoe: H2/H combined with S/H
  reason_wh = 1u << 3,     // W/H above 10
  reason_w = 1u << 4,      // W not above 0.0001 inch
  reason_sh = 1u << 5,     // S/H above 8
  reason_s = 1u << 6,      // S not above 0.00001 inch
};

// The accuracy limits crossed by the cross-section at f GHz with the models'
// validity flag iflag (2: Zoo above Zoe); a value that is not a number
// crosses its limit too.
unsigned accuracy_reasons(const Section& sec, float f, int iflag);

}  // namespace kx
