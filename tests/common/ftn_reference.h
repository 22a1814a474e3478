// The F edit as the writer formed it with the C library, kept as the
// reference the exact integer conversion is checked against (tests and the
// formatting benchmark).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

namespace kx {

// The F edit formed with the C library: "%.*f" rounds the exact binary value,
// ties to even; the leading zero goes when the field is full.
inline std::string reference_f(float value, int w, int d) {
  const auto wz = static_cast<std::size_t>(w);
  auto right = [wz](const std::string& s) {
    return s.size() > wz ? std::string(wz, '*') : std::string(wz - s.size(), ' ') + s;
  };
  if (std::isnan(value)) return right("NaN");
  if (std::isinf(value)) {
    if (value > 0.0f) return right(w >= 8 ? "Infinity" : "Inf");
    return right(w >= 9 ? "-Infinity" : "-Inf");
  }
  if (static_cast<std::size_t>(d) + 1 > wz) return std::string(wz, '*');
  const bool negative = value < 0.0f;
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", d, std::fabs(static_cast<double>(value)));
  std::string digits(buf);
  if (d == 0) {
    digits += '.';
  } else if (digits[0] == '0' && digits.size() + (negative ? 1u : 0u) > wz) {
    digits.erase(0, 1);
  }
  return right(negative ? "-" + digits : digits);
}

}  // namespace kx
