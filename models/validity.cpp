#include <kestrelix/validity.h>

#include <cmath>

#include "common/constants.h"
#include "models/limits.h"

namespace kx {
static_assert(max_fitted_wh == limits::max_wh && max_fitted_sh == limits::max_sh,
              "one accuracy limit for W/H and S/H");

namespace {

constexpr const char* kCodes[n_validity_codes] = {
    "wh",          "sh",         "er",       "fh",        "s_lt_2t",
    "no_converge", "not_finite", "cover",    "zo_single", "closed_form_off",
    "field_error", "w_narrow",   "s_narrow", "refused"};

// A ratio formed in double, as the dialogue's warnings form it.
double ratio(float a, float b) { return static_cast<double>(a) / static_cast<double>(b); }

}  // namespace

unsigned range_flags(const Section& sec, float f) {
  unsigned r = 0;
  // A ratio that is not a number is outside its range too.
  const double wh = ratio(sec.w, sec.h);
  if (!(wh >= static_cast<double>(min_fitted_wh) && wh <= static_cast<double>(limits::max_wh)))
    r |= flag_wh;
  const double sh = ratio(sec.s, sec.h);
  if (!(sh >= static_cast<double>(min_fitted_sh) && sh <= static_cast<double>(limits::max_sh)))
    r |= flag_sh;
  if (!(sec.er <= limits::max_er)) r |= flag_er;
  // F*H in GHz-mm, the product formed in double and stored as a 32-bit value.
  const auto fnorm = static_cast<float>(static_cast<double>(f) * static_cast<double>(sec.h) *
                                        static_cast<double>(mm_per_inch));
  if (!(fnorm <= limits::max_fh)) r |= flag_fh;
  if (sec.s < 2.0f * sec.t) r |= flag_s_lt_2t;
  return r;
}

unsigned model_flags(int iflag) {
  if (iflag == 1) return flag_zo_single;
  if (iflag == 2) return flag_cover;
  return 0;
}

unsigned accuracy_reasons(const Section& sec, float f, int iflag) {
  const float fnorm = f * sec.h * mm_per_inch;
  const float g = sec.s / sec.h;
  const float u = sec.w / sec.h;
  unsigned r = 0;
  // A value that is not a number crosses its limit too.
  if (!(fnorm <= limits::max_fh)) r |= flag_fh;
  if (!(sec.er <= limits::max_er)) r |= flag_er;
  if (iflag == 2) r |= flag_cover;
  if (!(u <= limits::max_wh)) r |= flag_wh;
  if (!(sec.w > limits::min_w)) r |= flag_w_narrow;
  if (!(g <= limits::max_sh)) r |= flag_sh;
  if (!(sec.s > limits::min_s)) r |= flag_s_narrow;
  return r;
}

unsigned refused_flags(const Section& sec, float f) {
  const auto positive = [](float v) { return v > 0.0f && std::isfinite(v); };
  const bool ok = positive(sec.h) && positive(sec.w) && positive(sec.s) && sec.t >= 0.0f &&
                  std::isfinite(sec.t) && sec.h2 > sec.t && sec.er >= 1.0f &&
                  std::isfinite(sec.er) && f >= 0.0f && std::isfinite(f);
  return ok ? 0u : static_cast<unsigned>(flag_refused);
}

const char* validity_code(unsigned bit) {
  for (int k = 0; k < n_validity_codes; ++k) {
    if (bit == 1u << k) return kCodes[k];
  }
  return "";
}

std::string validity_codes(unsigned flags, const char* sep) {
  std::string text;
  for (int k = 0; k < n_validity_codes; ++k) {
    if ((flags & (1u << k)) == 0) continue;
    if (!text.empty()) text += sep;
    text += kCodes[k];
  }
  return text;
}

}  // namespace kx
