// The accuracy limits of the line models, defined once: the dialogue's
// warnings, the accuracy-violation report and the evaluator's reasons all
// test against these values.
#pragma once

namespace kx::limits {

inline constexpr float max_fh = 25.0f;       // F*H*25.4, GHz-mm: strong dispersion above
inline constexpr float max_er = 20.0f;       // relative dielectric constant
inline constexpr float max_wh = 10.0f;       // W/H: impedance too low above
inline constexpr float min_w = 0.0001f;      // inch: narrowest strip
inline constexpr float max_sh = 8.0f;        // S/H: coupling too loose above
inline constexpr float min_s = 0.00001f;     // inch: narrowest gap
inline constexpr float loosest_db = -20.0f;  // coupling, dB: synthesis may not converge below
inline constexpr float tightest_db = -6.0f;  // coupling, dB: ... or above
inline constexpr float min_zo = 20.0f;       // coupler impedance, ohms
inline constexpr float max_zo = 100.0f;
inline constexpr float min_h2h = 2.0f;  // H2/H: smallest cover height
// H2/H of an open section (no cover) as the closed forms take it: the height
// they give the uncovered single strip themselves. Above H2/H = 100 no
// closed form sees the cover, so every such height gives the same values.
inline constexpr float no_cover_h2h = 1000.0f;

}  // namespace kx::limits
