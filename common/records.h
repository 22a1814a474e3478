// Result records of the line models, the sensitivity routine and the
// four-port response. One instance of each lives in a Records object that the
// caller owns and passes by reference; each routine overwrites its own record
// and the caller reads it right after the call.
#pragma once

#include <array>

namespace kx {

// Covered single microstrip (msimp).
struct Msimp1 {
  float ef{};    // effective dielectric constant
  float u{};     // W/H of the physical strip; also a working variable of mscuppv/ms1imp
  float weff{};  // thickness-corrected width
  float zo{};    // characteristic impedance, ohms
  float zoa{};   // the same line with air as dielectric, ohms
};

// Coupled pair static permittivities (mscuppv).
struct Ms1pv {
  float effei{};  // even mode, with cover factor, without thickness term
  float effoi{};  // odd mode of the uncovered pair
};

// Single-line dispersion (mszo).
struct Mszo1 {
  float eff{};
  float zof{};
};

// Coupled-line permittivity dispersion (lceff).
struct Lceff1 {
  float effcf{};
  float effef{};
  float effof{};
};

// Coupled-line impedance dispersion (lcdis).
struct Lcdis1 {
  float zoef{};
  float zoof{};
};

// Normalised sensitivities of Zoe (mssen1) and Zoo (mssen2) (ms1sen).
struct Mssen1 {
  float szoeer{}, szoeh{}, szoeh2{}, szoes{}, szoet{}, szoew{};
};
struct Mssen2 {
  float szooer{}, szooh{}, szooh2{}, szoos{}, szoot{}, szoow{};
};

// Four-port response of the coupler (lcfa). Index 0..3 = ports 1..4.
// fo is the evaluation frequency (GHz); it doubles as the dialogue's Fo.
struct Lcfa1 {
  std::array<float, 4> ang{};
  float atot{};
  float phaserr{};
  float fo{};
  float loss{};
  std::array<float, 4> mag{};
  float phi{};
  float vswr{};
};

struct Records {
  Msimp1 msimp1;
  Ms1pv ms1pv;
  Mszo1 mszo1;
  Lceff1 lceff1;
  Lcdis1 lcdis1;
  Mssen1 mssen1;
  Mssen2 mssen2;
  Lcfa1 lcfa1;
};

}  // namespace kx
