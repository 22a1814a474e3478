// Result records of the line models, the sensitivity routine and the
// four-port response. One instance of each lives in a Records object that the
// caller owns and passes by reference; each routine overwrites its own record
// and the caller reads it right after the call. A Records also links the
// routines to the models' kept terms (models/memo.h). Private to the library.
#pragma once

#include <array>
#include <memory>

namespace kx {

// Covered single microstrip (msimp).
struct Msimp1 {
  float ef{};    // effective dielectric constant
  float u{};     // W/H of the physical strip; also a working variable of mscuppv/ms1imp
  float weff{};  // thickness-corrected width
  float zo{};    // characteristic impedance, ohms
  float zoa{};   // the same line with air as dielectric, ohms
};

// Coupled pair static permittivities (written by mscuppv). ms1imp reads
// effoi as the last mscuppv left it, also in the air-filled evaluations of
// ms1los.
struct Ms1pv {
  float effei{};  // even mode, with cover factor, without thickness term
  float effoi{};  // odd mode of the uncovered pair
};

// Single-line dispersion (written by mszo, read by lcdis right after).
struct Mszo1 {
  float eff{};  // effective dielectric constant at f
  float zof{};  // characteristic impedance at f, ohms
};

// Coupled-line permittivity dispersion (written by lceff). ms1los and
// msfsyn read it as the last lceff left it.
struct Lceff1 {
  float effcf{};  // coupler
  float effef{};  // even mode
  float effof{};  // odd mode
};

// Coupled-line impedance dispersion (written by lcdis), ohms.
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

// Four-port response of the coupler (lcfa). Index 0..3 = ports 1..4:
// reflected, coupled, isolated, through. fo is the evaluation frequency
// (GHz) that lcfa reads.
struct Lcfa1 {
  std::array<float, 4> ang{};  // phases, degrees (NaN for a wave that is not a number)
  float atot{};                // total output power, dB
  float phaserr{};             // phi - 90, degrees
  float fo{};                  // GHz
  float loss{};                // power at the coupled and through ports, dB
  std::array<float, 4> mag{};  // amplitudes, dB
  float phi{};                 // coupled-to-through phase difference in [0, 180), degrees
  float vswr{};                // input VSWR at port 1
};

struct ModelMemo;  // the line models' kept terms (models/memo.h), private to them

// The kept terms the routines work with: those of the evaluator that owns
// the records (bound by the evaluation chain's context, models/chain.h), or
// else terms of the records' own, made at the first call. A copy of the
// records takes over neither: it keeps terms of its own, so it never shares
// them with the records it was copied from.
class MemoLink {
 public:
  MemoLink();
  MemoLink(const MemoLink& other) noexcept;
  MemoLink& operator=(const MemoLink& /*other*/) noexcept { return *this; }
  ~MemoLink();
  void bind(ModelMemo* memo) { memo_ = memo; }
  ModelMemo& get() { return memo_ != nullptr ? *memo_ : own(); }

 private:
  ModelMemo& own();  // the records' own terms, made once
  ModelMemo* memo_ = nullptr;
  std::unique_ptr<ModelMemo> own_;
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
  MemoLink memo;
};

}  // namespace kx
