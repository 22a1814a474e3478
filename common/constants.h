// Physical and conversion constants shared by the models and the driver,
// as the 32-bit values the reports are computed with.
#pragma once

#include <kestrelix/units.h>

namespace kx {

inline constexpr float pi = 3.1415927f;
inline constexpr float eta = 376.73047f;                     // free-space wave impedance, ohms
inline constexpr float uo = 31.918581f;                      // permeability of free space, nH/inch
inline constexpr float light_speed = light_speed_in_per_ns;  // inches per nanosecond
inline constexpr float db_per_neper = 8.686f;                // dB per neper (as the reports use it)
inline constexpr float neper_per_db = 0.115127794f;          // 1/8.686, nepers per dB
inline constexpr float mm_per_inch = 25.4f;
inline constexpr float cm_per_inch = 2.54f;

}  // namespace kx
