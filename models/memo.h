// The line models' kept terms: speed only, never a different bit.
//
// An evaluation repeats much of the last one (a frequency sweep keeps the
// cross-section, a width sweep the substrate, the sensitivities and the
// loss differences perturb one dimension at a time), so each routine keeps
// its terms that depend on a few inputs, keyed by the exact bit patterns of
// those inputs: a repeated call with the same inputs gets the very bits the
// formulas gave the first time. The terms are named after the published
// models' terms (see the routines' headers for the references).
//
// Private to the library: the evaluation chain's context (models/chain.h)
// owns one ModelMemo and lends it to the routines through Records::memo;
// records of no evaluator keep terms of their own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/records.h"

namespace kx {

// A few results of one routine (or of one group of its terms), each kept
// with the exact bit patterns of the inputs it was formed from. K inputs,
// N results kept, the oldest replaced first.
template <std::size_t K, class V, std::size_t N>
class Memo {
 public:
  using Value = V;
  using Key = std::array<std::uint32_t, K>;

  template <class... F>
  static Key key(F... inputs) {
    static_assert(sizeof...(F) == K, "one float per input");
    return Key{bits(inputs)...};
  }
  // The kept result for `k`, or nullptr.
  const Value* find(const Key& k) const {
    for (std::size_t i = 0; i < used_; ++i)
      if (same(keys_[i], k)) return &values_[i];
    return nullptr;
  }
  // The slot that keeps the result for `k` (filled by the caller).
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
  // Element by element: the key was just built one input at a time, and a
  // block compare would wait for those stores.
  static bool same(const Key& a, const Key& b) {
    for (std::size_t j = 0; j < K; ++j)
      if (a[j] != b[j]) return false;
    return true;
  }
  std::array<Key, N> keys_{};
  std::array<Value, N> values_{};
  std::size_t used_ = 0;
  std::size_t next_ = 0;
};

// ---- the static models ---------------------------------------------------

// msimp without its cover ([BG77] width, [HJ80] air impedance and filling
// factor), the same for every cover height.
struct MsimpUncovered {
  float weff{};   // thickness-corrected width W_eff
  float z01{};    // air impedance of the uncovered line at W_eff/H, ohms
  float q_t{};    // thickness term of the filling factor
  float q_inf{};  // filling factor of the zero-thickness line, (1 + 10/u)^(-a(u) b(Er))
};

// [HJ80] top-cover terms of H1 and H2: the impedance reduction's factor P,
// the denominator (1 + H2/H1)^2 of Q's argument, and the permittivity
// factor q_c.
struct MsimpCover {
  float p{}, q_den{}, q_c{};
};

// This system's cover factors of the coupled-pair permittivities, of H2/H:
// even mode q_ce, odd mode q_c.
struct MscuppvCover {
  float q_ce{}, q_c{};
};

// [KJ84] static coupled-line terms of the gap ratio g alone.
struct Ms1impGap {
  float q2{}, q3{}, q5{}, q6{}, q9{};
  float exp_g{};  // exp(-g), in Q4
};

// This system's even-mode cover reduction, its terms of H2/H: the width
// polynomial's coefficients a, b, c and the width limit u_max.
struct Ms1impCover {
  float u_max{}, a{}, b{}, c{};
};

// ms1los: the static even/odd impedances of the pair with air as dielectric
// and the single-strip record that evaluation leaves behind.
struct AirPair {
  float zoe{}, zoo{};
  Msimp1 msimp1;
};

// ---- the dispersion models -------------------------------------------------

// Terms of a strip's width ratio u alone, shared by mszo, lceff and lcdis.
struct WidthTerms {
  float p1_exp{};   // exp(-8.7513 u) in P1                         [KJ82, KJ84]
  float p3_exp{};   // exp(-4.6 u) in P3
  float r3{};       // R3 = 4.766 exp(-3.228 u^0.641)                [JK83]
  float r6{};       // R6 = 22.2 u^1.92
  float exp_r6{};   // exp(-R6), in R9 (and d_e of [KJ84])
  float exp_r2{};   // exp(-R2), R2 = 0.267 u^7, in R7
  float r16_exp{};  // exp(-(u/15)^6), in R16
};

// mszo: [KJ82] and [JK83] terms of Er and the normalised frequency fn.
struct MszoTerms {
  float p1_u{};   // the coefficient of u in P1
  float p2{};     // P2
  float p3_fn{};  // the frequency factor of P3
  float p4{};     // P4
  float r1{};     // R1
  float r7_er{};  // 0.3144 exp(-R1) of R7
  float r4{}, r5{};
  float r8_er{}, r8_fn{};  // Er^1.674 and (fn/18.365)^2.745 of R8
  float lg_r4r5{};         // log10 R4 + log10 R5: R9's size test
  float er1_6{};           // (Er - 1)^6 of R9
  float r9_den{};          // 1/((1 + 1.2992 R5)(1 + 10 (Er - 1)^6)) of R9
  float lg_r9_den{};       // log10 of it
  float r9_r4{};           // 0.3838 + 0.386 R4 of R9
  float r16_fn{};          // 0.0503 Er^2 R11 of R16
  float r17_fn{};          // exp(-0.026 fn^1.15656 - R15) of R17
};

// lceff: [KJ84] permittivity-dispersion terms of Er and fn ...
struct LceffTerms {
  float p1_u{};    // the coefficient of u in P1
  float p2{};      // P2
  float p3_fn{};   // the frequency factor of P3
  float p4{};      // P4
  float p6{};      // P6
  float p9{};      // P9
  float p11_fn{};  // the frequency factor 0.6366 (exp(-0.3401 fn) - 1) of P11
  float p13{};     // P13
  float p14{};     // P14
};
// ... and of Er, fn and g.
struct LceffGapTerms {
  float p7{};     // P7
  float p15_g{};  // exp(-P13 g^1.092) of P15
};

// lcdis: [KJ84] impedance-dispersion terms of Er and fn ...
struct LcdisTerms {
  // Even mode.
  float q11{};
  float q12_fn{};  // (fn/20)^4.91 of Q12
  float q13{}, q14{};
  float q15_fn{};          // 0.41 (fn/15)^3 of Q15
  float q16_er{};          // 1 + 9/(1 + 0.403 (Er - 1)^2) of Q16
  float q17_fn{};          // 1 - exp(-4.25 (fn/20)^1.87) of Q17
  float q19_fn{};          // 1 + (fn/24)^3 of Q19
  float q20_er{};          // 0.09 + 1/(1 + 0.1 (Er - 1)^2.7) of Q20
  float re{};              // r_e = (fn/28.843)^12
  float lg_re{};           // log10 r_e: d_e's size test
  float er1_6{};           // (Er - 1)^6 of d_e
  float de_er{};           // 1 + 10 (Er - 1)^6 of d_e
  float de_re{};           // 1 + 1.2992 r_e of d_e
  float ce_er{}, ce_fn{};  // Er^1.674 and (fn/18.365)^2.745 of C_e
  // Q0, the single-line R17 at the even-mode width.
  float r1{};
  float r7_er{};   // 0.3144 exp(-R1) of R7
  float r16_fn{};  // 0.0503 Er^2 R11 of R16
  float r17_fn{};  // exp(-0.026 fn^1.15656 - R15) of R17
  // Odd mode.
  float q22{};
  float q23_fn{};  // 1 + 0.812 (fn/15)^1.9 of Q23
  float q24_er{};  // 2.506 Q28 of Q24
  float q25{};
  float q27_er{};  // 1 + 2.5 (Er - 1)^1.5/(5 + (Er - 1)^1.5) of Q27
};
// ... and of Er, fn and g.
struct LcdisGapTerms {
  float q12{};
  float q15_g{};    // 1.887 exp(-1.5 g^0.84) g^Q14 of Q15
  float q18_g{};    // 1 + 6.544 g^4.17 of Q18
  float q19_num{};  // 0.21 g^4 of Q19
  float q19_g{};    // 1 + 0.18 g^4.9 of Q19
  float q21_g{};    // 42.54 g^0.133 exp(-0.812 g) of Q21
  float q27{};
  float zoo_g{};  // (0.46 g)^2.2, the factor of Q25 in the odd-mode impedance
};

// Everything one evaluator keeps.
struct ModelMemo {
  Memo<5, Msimp1, 4> msimp;                    // whole results by (Er, H1, H2, T, W)
  Memo<1, float, 2> er_power;                  // ((Er - 0.9)/(Er + 3))^0.053 by Er
  Memo<4, MsimpUncovered, 4> msimp_uncovered;  // by (Er, H1, T, W)
  Memo<2, MsimpCover, 2> msimp_cover;          // by (H1, H2)
  Memo<1, MscuppvCover, 2> mscuppv_cover;      // by H2/H
  Memo<1, Ms1impGap, 3> ms1imp_gap;            // by g
  Memo<1, Ms1impCover, 2> ms1imp_cover;        // by H2/H
  Memo<2, float, 3> ms1imp_ge;                 // the cover reduction's gap factor by (g, H2/H)
  Memo<6, AirPair, 8> air_pair;                // by (H, H2, S, T, W, rec.ms1pv.effoi)
  Memo<1, WidthTerms, 4> width;                // by u
  Memo<2, MszoTerms, 2> mszo;                  // by (Er, fn)
  Memo<2, LceffTerms, 2> lceff;                // by (Er, fn)
  Memo<3, LceffGapTerms, 2> lceff_gap;         // by (Er, fn, g)
  Memo<2, LcdisTerms, 2> lcdis;                // by (Er, fn)
  Memo<3, LcdisGapTerms, 2> lcdis_gap;         // by (Er, fn, g)
};

// The lookup every routine uses: the result `slot` keeps for the inputs, or
// else the one fill(result) forms now, in the memo (fill sets every member
// and may look up other slots). The reference stays valid until the same
// slot has kept N more results: a caller never holds it across a lookup
// into the same slot.
template <std::size_t K, class V, std::size_t N, class Fill, class... F>
inline const V& find_or_compute(Records& rec, Memo<K, V, N> ModelMemo::*slot, Fill&& fill,
                                F... inputs) {
  Memo<K, V, N>& m = rec.memo.get().*slot;
  const typename Memo<K, V, N>::Key key = Memo<K, V, N>::key(inputs...);
  if (const V* kept = m.find(key)) return *kept;
  V& value = m.put(key);
  fill(value);
  return value;
}

// The same into `value`, a record the routine's caller reads next: formed
// there, and a copy kept.
template <std::size_t K, class V, std::size_t N, class Fill, class... F>
inline void find_or_compute(V& value, Records& rec, Memo<K, V, N> ModelMemo::*slot, Fill&& fill,
                            F... inputs) {
  Memo<K, V, N>& m = rec.memo.get().*slot;
  const typename Memo<K, V, N>::Key key = Memo<K, V, N>::key(inputs...);
  if (const V* kept = m.find(key)) {
    value = *kept;
  } else {
    fill(value);
    m.put(key) = value;
  }
}

}  // namespace kx
