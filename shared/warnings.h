// The warnings for values outside the accuracy limits of the models: the
// dialogue's message lines ("ERROR DETECTED: ...") with the re-enter
// question that follows each, and the tests behind them, in the dialogue's
// arithmetic, which the scripted commands' one-line warnings share.
#pragma once

#include <string_view>

#include "common/constants.h"
#include "models/limits.h"

namespace kx::warnings {

// H2 below 2 H: the dialogue asks H and H2 again.
inline constexpr std::string_view kCoverTooLow =
    R"t((/,6X,'ERROR DETECTED: Top Cover Height: H2 cannot be ','less than twice',/,15X,'the Substrate Thickness: H. Please ','re-enter H and H2.'))t";

// W/H above 10.
inline constexpr std::string_view kWideStrip =
    R"t((/,6X,'ERROR DETECTED: For W/H > 10.0, Coupler Impedance',' level is very low.'))t";
inline constexpr std::string_view kWideStripAsk =
    R"t((15X,'Analysis algorithms may fail. Enter 1 to re-enter H and W : '))t";

// S below 2 T.
inline constexpr std::string_view kNarrowGap =
    R"t((/,6X,'ERROR DETECTED: Algorithm accuracy is compromised for'))t";
inline constexpr std::string_view kNarrowGapAsk =
    R"t((22X,'S < 2.0*T. Enter 1 to re-enter S and T : '))t";

// S/H above 8.
inline constexpr std::string_view kWideGap =
    R"t((/,6X,'ERROR DETECTED: Coupling is very loose for S/H >',' 8.0. Analysis'))t";
inline constexpr std::string_view kWideGapAsk =
    R"t((18X,'algorithms may fail. Enter 1 to re-enter H and S : '))t";

// Er above 20.
inline constexpr std::string_view kHighEr =
    R"t((/,6X,'ERROR DETECTED: Substrates with Er > 20.0 may ','cause computational'))t";
inline constexpr std::string_view kHighErAsk =
    R"t((22X,'difficulties. Enter 1 to re-enter Er : '))t";

// F*H above 25 GHz-mm for an entered frequency.
inline constexpr std::string_view kTooHigh =
    R"t((/,6X,'ERROR DETECTED: Input Frequency is too large for the Substrate',/,22X,'Thickness entered. Computational difficulties'))t";
inline constexpr std::string_view kTooHighAsk =
    R"t((22X,'may occur. Enter 1 to re-enter Frequency : '))t";

// F*H above 25 GHz-mm for the centre frequency computed from the length.
inline constexpr std::string_view kCentreTooHigh =
    R"t((/,6X,'ERROR DETECTED: The computed center frequency is too large',/,10X,'for the Substrate Thickness entered above. Computational'))t";
inline constexpr std::string_view kCentreTooHighAsk =
    R"t((17X,'difficulties may arise. Enter 1 to re-enter L : '))t";

// A coupling level outside 6 to 20 dB.
inline constexpr std::string_view kNoConvergence =
    R"t((/,6X,'ERROR DETECTED: Synthesis may not converge for ','Co < -20.0 dB.'))t";
inline constexpr std::string_view kNoConvergenceAsk =
    R"t((22X,'or Co > -6.0 dB. Enter 1 to re-enter Co : '))t";

// The tests behind the warnings, with the arithmetic of the dialogue.

// W/H above its limit, the ratio formed in double and compared unrounded.
inline bool strip_too_wide(float w, float h) {
  return static_cast<double>(w) / static_cast<double>(h) > static_cast<double>(limits::max_wh);
}
// S/H above its limit, the ratio formed in double and compared unrounded.
inline bool gap_too_wide(float s, float h) {
  return static_cast<double>(s) / static_cast<double>(h) > static_cast<double>(limits::max_sh);
}
// The same with the ratio stored as a 32-bit value first (the test on Smax).
inline bool gap_too_wide_stored(float s, float h) {
  return static_cast<float>(static_cast<double>(s) / static_cast<double>(h)) > limits::max_sh;
}
// S below twice T.
inline bool gap_too_narrow(float s, float t) { return s < 2.0f * t; }
// F*H in GHz-mm above the dispersion models' limit (the product formed in
// double, stored as a 32-bit value).
inline bool frequency_too_high(float f, float h) {
  const float fnorm = static_cast<float>(static_cast<double>(f) * static_cast<double>(h) *
                                         static_cast<double>(mm_per_inch));
  return fnorm > limits::max_fh;
}

}  // namespace kx::warnings
