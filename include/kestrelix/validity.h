// Whether a result's numbers can be trusted: one vocabulary of validity
// codes for the library's results (Modes::flags, Sensitivity::flags,
// Synthesis::flags, the studies' rows), the scripted documents' rows, every
// tolerance sample and the web page. A result is valid when no code is set.
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
  flag_er = 1u << 2,               // Er (the substrate's, or the field model's coating's) above 20
  flag_fh = 1u << 3,               // F*H above 25 GHz-mm
  flag_s_lt_2t = 1u << 4,          // S below 2 T
  flag_no_converge = 1u << 5,      // the synthesis did not converge
  flag_not_finite = 1u << 6,       // a value is not a finite number
  flag_cover = 1u << 7,            // Zoo above Zoe (the models' flag 2)
  flag_zo_single = 1u << 8,        // Zo above the single-strip impedance (the models' flag 1)
  flag_closed_form_off = 1u << 9,  // the closed forms disagree with a field solution
  // The field model's solution is less accurate than its accuracy setting
  // promises: the solver's own error estimate (Modes::error_zoe ...) is above
  // kx::field::promised_error (a coating of very high permittivity, for one).
  flag_field_error = 1u << 10,
  flag_w_narrow = 1u << 11,  // W not above 0.0001 inch (the models' narrowest strip)
  flag_s_narrow = 1u << 12,  // S not above 0.00001 inch (the models' narrowest gap)
  // A model cannot take the input: a length that is not a number above 0 (T:
  // below 0; H2: not above T), Er below 1, a frequency below 0 or not
  // finite, a synthesis target that is not a coupled pair; or the field
  // solver's check() refuses the cross-section.
  flag_refused = 1u << 13,
};
inline constexpr int n_validity_codes = 14;

// The position of a code's bit (flag_wh 0, flag_sh 1, ...).
constexpr int code_index(unsigned bit) {
  int k = 0;
  while (k < 31 && bit != (1u << k)) ++k;
  return k;
}

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
// The accuracy limits the dialogue's accuracy-violation report lists for a
// point at f GHz with the models' validity flag iflag, in the report's own
// arithmetic: fh, er, cover (iflag 2), wh (W/H above 10 only), w_narrow, sh
// (S/H above 8 only), s_narrow. A value that is not a number crosses its
// limit too.
unsigned accuracy_reasons(const Section& sec, float f, int iflag);
// refused when `sec` at f GHz is not a cross-section the models can take
// (the lengths, Er and the frequency; the field solver's own check aside).
unsigned refused_flags(const Section& sec, float f);
// The short code of one bit ("wh", "s_lt_2t" ...), "" for a bit without one.
const char* validity_code(unsigned bit);
// The codes of `flags` separated by `sep`, in bit order.
std::string validity_codes(unsigned flags, const char* sep = " ");

}  // namespace kx
