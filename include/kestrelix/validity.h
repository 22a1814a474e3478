// Whether a point's numbers can be trusted: the validity codes every row of
// the scripted documents and every tolerance sample carries.
//
// The ranges are the program's accuracy limits (W/H <= 10,
// S/H <= 8, Er <= 20, F*H <= 25 GHz-mm, S >= 2 T) with the lower ends of the
// fitted ranges of the published coupled-line formulas (Kirschning and
// Jansen: W/H >= 0.1, S/H >= 0.1). The upper ends are tested with the
// arithmetic of the dialogue's warnings, so a flag and a warning agree.
#pragma once

#include <string>

#include <kestrelix/section.h>

namespace kx {

// One bit per code; a point is valid when no bit is set.
enum Validity : unsigned {
  flag_wh = 1u << 0,               // W/H outside 0.1 .. 10
  flag_sh = 1u << 1,               // S/H outside 0.1 .. 8
  flag_er = 1u << 2,               // Er above 20
  flag_fh = 1u << 3,               // F*H above 25 GHz-mm
  flag_s_lt_2t = 1u << 4,          // S below 2 T
  flag_no_converge = 1u << 5,      // the synthesis did not converge
  flag_not_finite = 1u << 6,       // a value is not a finite number
  flag_cover = 1u << 7,            // Zoo above Zoe (the models' flag 2)
  flag_zo_single = 1u << 8,        // Zo above the single-strip impedance (the models' flag 1)
  flag_closed_form_off = 1u << 9,  // the closed forms disagree with a field solution
};
inline constexpr int n_validity_codes = 10;

// The fitted ranges: the published lower ends of the coupled-line
// formulas' ranges and the program's accuracy limits above.
inline constexpr float min_fitted_wh = 0.1f;
inline constexpr float max_fitted_wh = 10.0f;
inline constexpr float min_fitted_sh = 0.1f;
inline constexpr float max_fitted_sh = 8.0f;

// The deviation of the closed forms' Zoe or Zoo from the field solver's, in
// percent, above which a row carries flag_closed_form_off.
inline constexpr float closed_form_off_pct = 1.0f;

// The range codes of the cross-section at f GHz (wh, sh, er, fh, s_lt_2t).
unsigned range_flags(const Section& sec, float f);
// The codes of the models' validity flag (1 zo_single, 2 cover).
unsigned model_flags(int iflag);
// The short code of one bit ("wh", "s_lt_2t" ...), "" for a bit without one.
const char* validity_code(unsigned bit);
// The codes of `flags` separated by `sep`, in bit order.
std::string validity_codes(unsigned flags, const char* sep = " ");

}  // namespace kx
