// Result records of the line models, the sensitivity routine and the
// four-port response. One instance of each lives in a Records object that the
// caller owns and passes by reference; each routine overwrites its own record
// and the caller reads it right after the call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

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
// (GHz) that lcfa reads; it doubles as the dialogue's Fo.
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

// A few results of one routine (or of one group of its terms), each kept
// with the exact bit patterns of the inputs it was formed from: a repeated
// call with the same inputs gets the very bits the formulas gave the first
// time. K inputs, N results kept, the oldest replaced first.
template <std::size_t K, class Value, std::size_t N>
class Memo {
 public:
  using Key = std::array<std::uint32_t, K>;

  template <class... F>
  static Key key(F... x) {
    static_assert(sizeof...(F) == K, "one float per input");
    return Key{bits(x)...};
  }
  // The kept result for `k`, or nullptr.
  const Value* find(const Key& k) const {
    for (std::size_t i = 0; i < used_; ++i)
      if (keys_[i] == k) return &values_[i];
    return nullptr;
  }
  // A slot for the result of `k` (filled by the caller).
  Value& put(const Key& k) {
    const std::size_t i = next_;
    next_ = (next_ + 1) % N;
    if (used_ < N) ++used_;
    keys_[i] = k;
    return values_[i];
  }

 private:
  static std::uint32_t bits(float x) {
    std::uint32_t b = 0;
    std::memcpy(&b, &x, sizeof b);
    return b;
  }
  std::array<Key, N> keys_{};
  std::array<Value, N> values_{};
  std::size_t used_ = 0;
  std::size_t next_ = 0;
};

// Terms of the covered single strip that do not depend on its width.
struct MsimpCoverTerms {
  float p{}, aqd{}, qc{};  // top-cover impedance reduction, its denominator, permittivity factor
};

// The cover factors of the coupled-pair permittivities (even, odd mode).
struct MscuppvCoverTerms {
  float qce{}, qc{};
};

// Terms of the coupled-pair impedances that depend on the gap ratio g alone ...
struct Ms1impGapTerms {
  float q2{}, q3{}, q5{}, q6{}, q9{}, expg{};
};
// ... and the even-mode cover reduction's terms of h2/h (the width
// polynomial's coefficients and the width limit).
struct Ms1impCoverTerms {
  float umax{}, a{}, b{}, c{};
};

// Static even/odd impedances of the air-filled pair (ms1los), with the
// single-strip record the evaluation left behind.
struct AirPairTerms {
  float zoe{}, zoo{};
  Msimp1 msimp1;
};

// Terms of a strip's width ratio u alone, shared by the dispersion routines
// (mszo at each strip, lceff, lcdis): exp(-8.7513 u), exp(-4.6 u),
// 4.766 exp(-3.228 u^0.641), u^1.92, exp(-22.2 u^1.92), exp(-0.267 u^7),
// exp(-(u/15)^6).
struct StripTerms {
  float e8{}, e46{}, r3{}, p192{}, er6{}, er2{}, e16{};
};

// The width-only part of the covered single strip: air impedance without
// cover, and the filling factor's terms (kept by (Er, H1, T, W)).
struct MsimpStripTerms {
  float weff{}, zoai{}, qt{}, qi{};
};

// Terms of the single-line dispersion that depend on Er and F*H alone.
struct MszoTerms {
  float c1{}, p2{}, p3f{}, p4{}, r1{}, tp7{}, r4{}, r5{}, per{}, pfn{}, lg45{}, tp1{}, r9a{},
      lg9a{}, r9d{}, k16{}, e17{};
};

// Terms of the coupled-line permittivity dispersion of Er and F*H ...
struct LceffTerms {
  float c1{}, p2{}, p3{}, p4{}, p6{}, p9{}, p11f{}, p13{}, p14{};
};
// ... and of Er, F*H and g.
struct LceffGapTerms {
  float p7{}, e15{};
};

// Terms of the coupled-line impedance dispersion of Er and F*H ...
struct LcdisTerms {
  float q11{}, tp12{}, q14{}, a15{}, e2{}, e1626{}, k16{}, y{}, a19{}, k20{}, re{}, e6{}, d6{},
      dre{}, lgre{}, per{}, pfn{}, r1{}, k7{}, k16b{}, e17{}, q25{}, k24{}, k27{}, a23{}, q22{};
};
// ... and of Er, F*H and g.
struct LcdisGapTerms {
  float q12{}, n15{}, d18{}, n19{}, c19{}, n21{}, q27{}, n23{}, p25{};
};

// The kept results of the line models (see Memo). Never read by callers:
// it only saves repeating work inside and across evaluations.
struct ModelMemo {
  Memo<5, Msimp1, 4> msimp;                     // whole results by (Er, H1, H2, T, W)
  Memo<1, float, 2> er_power;                   // ((Er - 0.9)/(Er + 3))^0.053 by Er
  Memo<1, MscuppvCoverTerms, 2> mscuppv_cover;  // by h2/h
  Memo<2, MsimpCoverTerms, 2> msimp_cover;      // by (H1, H2)
  Memo<1, Ms1impGapTerms, 3> ms1imp_gap;        // by g
  Memo<1, Ms1impCoverTerms, 2> ms1imp_cover;    // by h2/h
  Memo<2, float, 3> ms1imp_ge;                  // the cover reduction's gap factor by (g, h2/h)
  Memo<4, MsimpStripTerms, 4> msimp_strip;      // by (Er, H1, T, W)
  Memo<1, StripTerms, 4> strip;                 // by u
  Memo<6, AirPairTerms, 8> air_pair;            // by (H, H2, S, T, W, rec.ms1pv.effoi)
  Memo<2, MszoTerms, 2> mszo;                   // by (Er, F*H)
  Memo<2, LceffTerms, 2> lceff;                 // by (Er, F*H)
  Memo<3, LceffGapTerms, 2> lceff_gap;          // by (Er, F*H, g)
  Memo<2, LcdisTerms, 2> lcdis;                 // by (Er, F*H)
  Memo<3, LcdisGapTerms, 2> lcdis_gap;          // by (Er, F*H, g)
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
  ModelMemo memo;
};

}  // namespace kx
