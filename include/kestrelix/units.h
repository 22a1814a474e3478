// Units of the kestrelix library. Every length it takes or gives is in
// inches; frequencies are in GHz, impedances in ohms, conductor resistivity
// in micro-ohm-cm, surface roughness in micro-inches.
//
// The conversions below take a length in another unit in double precision
// and round once to float, so that a cross-section typed in millimetres gives
// the same bits as the same cross-section typed in inches:
//
//   kx::Section sec;
//   sec.h = kx::from_mm(0.635);    // 25 mil alumina
//   sec.w = kx::from_mil(24.0);
//   const double w_um = kx::to_um(sec.w);
#pragma once

namespace kx {

inline constexpr double mm_per_inch_exact = 25.4;
inline constexpr double mil_per_inch = 1000.0;
inline constexpr double um_per_inch = 25400.0;
// The speed of light in inches per nanosecond, as the 32-bit value the
// program's wavelengths and delays are computed with.
inline constexpr float light_speed_in_per_ns = 11.802855f;

// Millimetres, mils (thousandths of an inch) and micrometres to inches.
constexpr float from_mm(double mm) { return static_cast<float>(mm / mm_per_inch_exact); }
constexpr float from_mil(double mil) { return static_cast<float>(mil / mil_per_inch); }
constexpr float from_um(double um) { return static_cast<float>(um / um_per_inch); }

// Inches to millimetres, mils and micrometres.
constexpr float to_mm(float inch) {
  return static_cast<float>(static_cast<double>(inch) * mm_per_inch_exact);
}
constexpr float to_mil(float inch) {
  return static_cast<float>(static_cast<double>(inch) * mil_per_inch);
}
constexpr float to_um(float inch) {
  return static_cast<float>(static_cast<double>(inch) * um_per_inch);
}

}  // namespace kx
